#pragma once

// Where the settings live and where the files shipped with the program are found.
//
// Threading: every function may be called from any thread; the registered bundle folder is
// guarded by a lock.

#include <filesystem>
#include <string>
#include <vector>

namespace corvella {

// The user's configuration folder, always ending in "/": $XDG_CONFIG_HOME when it is set and
// absolute, else $HOME + "/.config/" when $HOME is set and absolute, else the home folder of the
// user's account entry + "/.config/". Empty only when none of these is known.
std::string preferences_folder();

// The user's cache folder, always ending in "/": $XDG_CACHE_HOME when set and absolute, else the
// home folder + "/.cache/". Empty only when no home folder is known.
std::string cache_folder();

// The machine-wide Library folder (the user's data folder), always ending in "/":
// $XDG_DATA_HOME when it is set and absolute, else the home folder (as for preferences_folder)
// + "/.local/share/". Empty only when no home folder is known.
std::string library_folder();

// Registers the resources folder of the loaded plug-in bundle as the first place to look for
// shipped files; an empty path removes the registration.
void set_bundle_resources_folder(std::filesystem::path const& folder);
std::filesystem::path bundle_resources_folder();

// Folder of the running executable ("" if it cannot be found).
std::filesystem::path executable_folder();

// The places searched for shipped files, in order: the registered bundle resources folder (when
// one is registered), <executable folder>/../share/corvella, the installed data folder and the
// data folder of the source tree.
std::vector<std::filesystem::path> data_search_folders();

// The first existing regular file `name` in data_search_folders(); an empty path if there is none.
std::filesystem::path find_data_file(std::string const& name);

} // namespace corvella

// The folder of the plug-in bundle, ending in "/": the parent of the registered resources folder,
// else the folder of the running executable.
std::string GetCurrentBundlePathName();

// True when `path` names an existing folder.
bool check_dir_path(std::string const& path);
