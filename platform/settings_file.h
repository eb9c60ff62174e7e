#pragma once

// The settings file on disk: where it is, how it is replaced without ever leaving a truncated
// file behind, and how an unreadable one is kept for the user before it is replaced.
//
// Threading: the functions themselves keep no state. Code that reads, changes and writes the file
// holds lock_settings_file() for the whole sequence, so that two threads of this process never
// lose each other's changes; other processes may still interleave whole-file replacements.

#include "platform/atomic_file.h" // write_file_atomically, which every settings write goes through

#include <filesystem>
#include <mutex>
#include <string>

namespace corvella {

inline constexpr char settings_subfolder[] = "Tarnwick/Corvella/";
inline constexpr char settings_file_name[] = "Corvella.xml";
inline constexpr char corrupt_suffix[] = ".corrupt";

// preferences_folder() + "Tarnwick/Corvella/" (empty when the preferences folder is unknown).
std::string settings_folder();
// settings_folder() + "Corvella.xml" (empty when the preferences folder is unknown).
std::filesystem::path settings_file_path();
// The default settings file: the one set with set_default_settings_file, else the one shipped
// with the program (find_data_file("Corvella.xml")); empty when it cannot be found.
std::filesystem::path default_settings_file_path();
// Takes the default settings from `file` instead of the shipped one; an empty path goes back to
// the shipped one. A file that does not exist counts as no default at all.
void set_default_settings_file(std::filesystem::path const& file);

// Recursive, so that a settings operation may run another one on the same thread.
std::unique_lock<std::recursive_mutex> lock_settings_file();

enum class FileRead {
    ok,       // `bytes` holds the whole file
    missing,  // there is no such file
    failed,   // it exists but could not be read
    too_large // larger than any settings file could be; not read
};

FileRead read_whole_file(std::filesystem::path const& path, std::string& bytes);

// True when the text is empty or holds only blanks and line breaks.
bool is_blank(std::string const& bytes);

// Saves `bytes`, the content of the unreadable file `target`, beside it as target + ".corrupt"
// (or ".corrupt.1", ".corrupt.2", ... when earlier copies exist, so none is overwritten). Returns
// the path of the copy, or an empty path when it could not be written.
std::filesystem::path keep_corrupt_copy(std::filesystem::path const& target, std::string const& bytes);

// Tells the user, through the message sink, that `target` was unreadable and has been replaced.
void report_corrupt_file_replaced(std::filesystem::path const& target, std::filesystem::path const& copy);

} // namespace corvella
