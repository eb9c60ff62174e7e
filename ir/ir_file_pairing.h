#pragma once

// Impulse-response file names: the side tags of true-stereo pairs ("Hall L.wav" / "Hall R.wav",
// "HallLeft.wav" / "HallRight.wav", centre files), stepping to the next or previous IR file of a
// folder, the tree search that finds a moved file, and the small path and name helpers of the
// editor's display and browser. They work on text paths and the file system only.
//
// Paths are byte strings with "/" as separator; the side-tag functions, get_file_path and
// get_filename_from_path also accept the backslash of Windows-style paths kept in stored programs.
// Missing files and folders give empty results; nothing here throws for them.
//
// Threading: no shared state; callable from any non-audio thread (they read the file system).

#include "platform/paths.h" // check_dir_path

#include <string>
#include <vector>

// The partner of a side-tagged file ("… L.wav" <-> "… R.wav", "…Left.wav" <-> "…Right.wav" in the
// three spellings of each), when that partner exists as a file; "" otherwise.
std::string check_for_file_pair_file(std::string const& path);

// True when the name before the extension ends in a left / right / centre tag.
bool check_for_file_this_is_left_file(std::string const& path);
bool check_for_file_this_is_right_file(std::string const& path);
bool check_for_file_this_is_centre_file(std::string const& path);

// The next (`forward`) or previous IR file of the path's folder in case-insensitive name order,
// or "" at either end of the list, when the path's own name is not among the folder's IR files,
// or when the folder cannot be listed. No wrap-around.
std::string get_next_prev_file(std::string const& path, bool forward);

// Looks for a file named like `lost_path` in `folder` and, while `depth` is at least 1, in its
// sub-folders (depth - 1 each level down, in sorted order; hidden, "$…", "RECYCLER…" and
// "System Volume Information…" folders and links to folders are passed over). With
// `match_parent`, a hit counts only when its folder has the same name as the lost file's folder.
// Returns the first hit, or "".
std::string recursive_file_search(std::string const& lost_path, std::string const& folder, int depth,
                                  bool match_parent);

// Case-insensitive less-than (a prefix sorts first), the order of every listing here.
bool stringCompare(std::string const& a, std::string const& b);
bool stringCompare_for_recursive(std::string const& a, std::string const& b);

// True when every "*"-separated part of `filter` occurs in `text`, ignoring case.
bool check_text_filter(std::string const& text, std::string const& filter);

// Splits `text` at each of the `delimiters` characters, keeping the empty tokens between
// adjacent delimiters and at either end ("a**b" -> "a", "", "b").
std::vector<std::string> Tokenize(std::string const& text, std::string const& delimiters);

// A display name of at most `width` characters: the first 3, "...", then the last width - 3 when
// the name is longer than `width`; "" for a name shorter than 6 characters.
std::string crop_file_name(std::string const& name, int width);

std::string swap_backslash_for_forwardslash(std::string const& path);
// The parent of a folder: up to the last "/", or "/" when that is empty.
std::string directory_above(std::string const& folder);
// Up to and including the last "/" (or, with none, the last backslash); "" when there is neither.
std::string get_file_path(std::string const& path);
// Up to the last "/"; "" when there is none.
std::string get_file_path_no_slash(std::string const& path);
// After the last "/", then (when that is empty) after the last backslash; "" when there is none.
std::string get_filename_from_path(std::string const& path);
// After the last "/"; "" when there is none.
std::string get_filename_from_path_mac(std::string const& path);
// The name up to its last "."; "" when it has no "." or only one at its start.
std::string get_filename_from_path_no_ext(std::string const& path);
// As get_filename_from_path_no_ext, less a final "L" or "R" when that leaves 3 or more characters.
std::string get_filename_from_path_no_ext_lr_tidy(std::string const& path);
// After the last "."; "" when there is none.
std::string get_filename_extension(std::string const& path);
// True when the path names an existing regular file (links followed).
bool check_file_path(std::string const& path);
