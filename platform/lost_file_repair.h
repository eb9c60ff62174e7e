#pragma once

// Lost-file repair: programs name their impulse-response files by absolute path, and banks move
// between machines, disks and folders. Before a program's files are loaded each stored path that
// no longer names a file is looked for by name, in this order, and the first existing file wins:
//   1. (an empty path, or one whose file exists, is left alone)
//   2. preferences folder + "Tarnwick/Corvella/Presets/Factory/" + name;
//   3. for each entry of the lost-location list: its folder + name, then its parent folder + the
//      name of the lost file's own folder + "/" + name;
//   4. the same path on another mounted volume (check_other_mac_volumes);
//   5. a search 99 folders deep under library folder + "Audio/Impulse Responses/Tarnwick";
//   6. the same search under each "SearchDir%d" location in turn.
// A repaired path's folder joins the lost-location list, so the next lost file of the same set
// is found at step 3. Files still missing are named in one yes/no question per program until the
// user answers "No".
//
// The lost-location list holds file paths (a placeholder name such as "anyoldfile.wav" where only
// the folder is known): an entry's folder is its text up to the last "/".
//
// Threading: called on the host binding's threads; the caller's lock guards the list and the
// prompt state. Reads the file system and the settings file, so never on the audio thread.

#include <span>
#include <string>
#include <vector>

struct VST_Plugin_Program;

namespace corvella {

// Per instance: whether files still missing are asked about, and whether the user wants to
// point to a folder (the editor asks for one when it is next visible).
struct LostFilePrompt {
    bool ask = true;              // cleared for good by a "No"
    bool location_wanted = false; // set by a "Yes"
};

inline constexpr int lost_location_settings = 50; // "UserSpecifiedLostLocation0" .. "…49"
inline constexpr int search_location_settings = 50; // "SearchDir0" .. read up to the first missing
inline constexpr int lost_file_search_depth = 99;

// The path text stored in `field` (up to its first NUL) is repaired in place when a file of its
// name is found and the new path fits the field with its terminator. Returns true when the field
// changed.
bool check_and_repair_lost_files_in_string(std::span<char> field, std::vector<std::string>& lost_locations);

// Repairs the four paths of `program` (IR1-A, IR1-B, IR2-A, IR2-B), then, while `prompt.ask` is
// set, asks one yes/no question (caption "Tarnwick: Corvella") naming every path still missing;
// `editor_open` chooses the shorter question. A `current_program` of 49 or more becomes 0.
// Returns true when a path changed.
bool check_and_repair_lost_files_in_program(VST_Plugin_Program& program, std::vector<std::string>& lost_locations,
                                            LostFilePrompt& prompt, bool editor_open);

// The folders that may hold a copy of another volume's files: each folder inside
// /media/<user>/, /run/media/<user>/ and /mnt/ (hidden, "$…", "Volumes", "RECYCLER" and
// "System Volume Information" passed over), then the user's home folder; each ends in "/".
std::vector<std::string> other_volume_folders();

// `path` moved to another of `volumes` (folders ending in "/") where such a file exists: the part
// of the path below its own volume (one of `volumes`, a /Volumes/<v>/, /media/<u>/<v>/,
// /run/media/<u>/<v>/, /mnt/<v>/, /home/<u>/ or /Users/<u>/ prefix; else the whole path) is
// appended to each volume in turn. Returns `path` unchanged when no such file exists.
std::string check_other_mac_volumes(std::string const& path, std::vector<std::string> const& volumes);
std::string check_other_mac_volumes(std::string const& path); // with other_volume_folders()

// The persistent list "UserSpecifiedLostLocation%d", most recent first: `folder` becomes entry
// 0 and the others move one place down (entry 49 falls off), unless entries 0..48 already hold
// it. Entries that cannot be read count as empty; a write that fails ends the operation.
void add_user_specified_lost_locations(std::string const& folder);
// Entries 0.. up to the first that cannot be read.
std::vector<std::string> extract_all_user_specified_lost_locations();

// A folder name as an absolute path ending in "/". A relative name is taken to lie on the root
// volume, in /home/, or in the user's /media/<user>/ folder respectively.
std::string ToUnix_additional_slashes(std::string const& folder);
std::string ToUnixUsers_additional_slashes(std::string const& folder);
std::string ToUnixVolumes_additional_slashes(std::string const& folder);

} // namespace corvella
