#pragma once

// The machine-wide preferences: typed and named access to the values stored under
// "SOFTWARE\Tarnwick\Corvella" in the settings file.
//
// Reads look under "HKEY_CURRENT_USER" first and fall back to "HKEY_LOCAL_MACHINE"; writes always
// go to "HKEY_CURRENT_USER". Integers are stored as decimal text; a stored integer outside
// -15999..15999 reads as -1. Every failure, including a value that is not there, throws
// std::runtime_error with the text
//   "Preferences file error: " + message + "Processing will be disabled and plugin locked.\n"
//   "Please contact technical support"
// where the message names the failing step and the value, e.g. "Could not query key for size
// (Latency).\n"; the named accessors use numbered messages instead, e.g. "Could not open key
// (Code #59: home browser dir).\n".
//
// Threading: may be called from any thread except the audio thread (every call reads the file and
// may write it); each call holds the settings-file lock while it runs. Two processes writing at
// once may still lose one of the writes.

#include <string>

// Makes sure preferences folder + "Tarnwick/Corvella/" exists and that the settings file holds a
// settings document: a missing or blank file is replaced by the default settings file; an
// unreadable one is first kept beside it as "Corvella.xml.corrupt". Problems are reported through
// the message sink (caption "Tarnwick: Corvella"); it never throws. When no default can be found
// the file is left empty, so that reads fail and the next CheckPrefs tries again.
void CheckPrefs();

// The user's preferences folder, ending in "/" (see corvella::preferences_folder).
std::string GetPreferencePathRaw();

int extract_data_from_registry_int(std::string const& name);
void set_data_in_registry_int(std::string const& name, int value);
std::string extract_data_from_registry_string(std::string const& name);
void set_data_in_registry_string(std::string const& name, std::string const& text);

// Named accessors, one pair per key.
int extract_data_from_registry_latency(); // "Latency"
void set_latency_in_registry(int value);
int extract_data_from_registry_auto_pair_ts(); // "AutoPairTS"
void set_auto_pair_ts_in_registry(int value);
int extract_data_from_registry_home_pref(); // "HomePref"
void set_home_pref_in_registry(int value);
int extract_data_from_registry_wet_lock(); // "WetLock"
void set_wet_lock_in_registry(int value);
int extract_data_from_registry_dials_mode(); // "DialsMode"
void set_dials_mode_in_registry(int value);
int extract_data_from_registry_sr_gain(); // "SRNorm"
void set_sr_gain_in_registry(int value);
int extract_data_from_registry_program_change_blocks_audio(); // "ProgramChangeBlocksAudio"
void set_program_change_blocks_audio_in_registry(int value);
// 1 (the default): IR rebuilds, program changes and gain changes cross over without a click; 0:
// the buffers are silenced after every rebuild and a program change mutes the wet signal.
int extract_data_from_registry_smooth_changes(); // "SmoothChanges"; 1 when the file does not hold it
void set_smooth_changes_in_registry(int value);
int extract_data_from_registry_ir_gain_min(); // "IRGainMin"
void set_ir_gain_min_in_registry(int value);
int extract_data_from_registry_ir_gain_max(); // "IRGainMax"
void set_ir_gain_max_in_registry(int value);
int extract_data_from_registry_master_gain_min(); // "MasterGainMin"
void set_master_gain_min_in_registry(int value);
int extract_data_from_registry_master_gain_max(); // "MasterGainMax"
void set_master_gain_max_in_registry(int value);
int extract_data_from_registry_colour_scheme(); // "ColourScheme"
void set_colour_scheme_in_registry(int value);
int extract_data_from_registry_ir_vis_selection_mode(); // "IRVisSelectionMode"
void set_ir_vis_selection_mode_in_registry(int value);
int extract_data_from_registry_hide_presets(); // "HidePresets"
void set_hide_presets_in_registry(int value);
int extract_data_from_registry_hide_lower_pane(); // "HideLowerPane"
void set_hide_lower_pane_in_registry(int value);

std::string extract_data_from_registry_home_pref_dir(); // "HomePrefDir"
void set_home_pref_dir_in_registry(std::string const& folder);
std::string extract_data_from_registry_initial_presets(); // "InitialPresets"
void set_initial_presets_in_registry(std::string const& text);
std::string extract_data_from_registry_install_dir(); // "InstallDir", under "HKEY_LOCAL_MACHINE" only

// Indexed keys: `n` is formatted into the name.
std::string extract_data_from_registry_home_browser_dir(int n); // "BrowserDir%d"
void set_browser_dir_in_registry(int n, std::string const& folder);
std::string extract_data_from_registry_search_dir(int n); // "SearchDir%d"
void set_search_dir_in_registry(int n, std::string const& folder);
std::string extract_data_from_registry_preset_recent_file(int n); // "PresetRecent%d"
void set_browser_preset_recent_in_registry(int n, std::string const& path);
std::string extract_data_from_registry_user_fxb(int n); // "UserFXB%d"
void set_user_fxb_in_registry(int n, std::string const& path);
std::string extract_data_from_registry_user_specified_lost_location(int n); // "UserSpecifiedLostLocation%d"
void set_user_specified_lost_location_in_registry(int n, std::string const& folder);

namespace corvella {
// The key path of every value, below either root.
inline constexpr char settings_key_path[] = "SOFTWARE\\Tarnwick\\Corvella";
// The smallest and largest integer a value may hold; others read as -1.
inline constexpr int smallest_setting_int = -15999;
inline constexpr int largest_setting_int = 15999;
} // namespace corvella
