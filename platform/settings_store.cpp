#include "platform/settings_store.h"

#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings_file.h"
#include "platform/xml_io.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

using corvella::settings_key_path;

// Message texts of one read or one write, each naming the step and the value.
struct ReadMessages {
    std::string open, size, data;
};
struct WriteMessages {
    std::string open, set, close;
};

ReadMessages typed_read_messages(std::string const& name)
{
    return {"Could not open key (" + name + ").\n", "Could not query key for size (" + name + ").\n",
            "Could not query key for data (" + name + ").\n"};
}

WriteMessages typed_write_messages(std::string const& name)
{
    return {"Could not open/create key (" + name + ").\n", "Could not set key value (" + name + ").\n",
            "Could not close key (" + name + ").\n"};
}

// The named accessors, as data: value name (with %d for the indexed ones) and, for reading and
// writing, the label and the step numbers of their messages.
enum Named {
    latency,
    auto_pair_ts,
    sr_gain,
    home_pref,
    wet_lock,
    install_dir,
    browser_dir,
    dials_mode,
    search_dir,
    initial_presets,
    preset_recent,
    home_pref_dir,
    program_change_blocks_audio,
    ir_gain_min,
    ir_gain_max,
    master_gain_min,
    master_gain_max,
    colour_scheme,
    ir_vis_selection_mode,
    hide_presets,
    hide_lower_pane,
    user_fxb,
    user_lost_location,
    smooth_changes,
    named_count
};

struct NamedSetting {
    Named id;
    char const* name;
    char const* read_label;
    char const* read_codes[3];  // open, size, data
    char const* write_label;    // null: never written
    char const* write_codes[3]; // open/create, set, close
    char const* set_wording;    // the set step's wording when it is not the usual one
};

// Rows: id; value name; read label and codes (open, size, data); write label and codes
// (open/create, set, close) and the set step's wording when it is unusual.
// clang-format off
constexpr NamedSetting named_settings[] = {
    {latency,
     "Latency",
     "latency", {"1", "2", "3"},
     "latency", {"4", "5", "6"}, nullptr},
    {auto_pair_ts,
     "AutoPairTS",
     "auto pair ts", {"7", "8", "9"},
     "auto pair ts", {"10", "11", "12"}, nullptr},
    {sr_gain,
     "SRNorm",
     "sr gain", {"13", "14", "15"},
     "sr gain", {"16", "17", "18"}, nullptr},
    {home_pref,
     "HomePref",
     "home preferences", {"21", "22", "23"},
     "home preferences", {"24", "25", "26"}, nullptr},
    {wet_lock,
     "WetLock",
     "wet lock", {"27", "28", "29"},
     "wet lock", {"33", "34", "35"}, nullptr},
    {install_dir,
     "InstallDir",
     "install directory", {"30", "31", "32"},
     nullptr, {}, nullptr},
    {browser_dir,
     "BrowserDir%d",
     "home browser dir", {"59", "60", "61"},
     "browser dir", {"38", "38b", "38c"}, "Could not open/create key"},
    {dials_mode,
     "DialsMode",
     "dials mode", {"41", "42", "43"},
     "dials mode", {"44", "45", "46"}, nullptr},
    {search_dir,
     "SearchDir%d",
     "search dir", {"47", "48", "49"},
     "search dir", {"50", "51", "52"}, nullptr},
    {initial_presets,
     "InitialPresets",
     "initial presets", {"53", "54", "55"},
     "initial presets", {"56", "57", "58"}, nullptr},
    {preset_recent,
     "PresetRecent%d",
     "Preset recent", {"62", "63", "64"},
     "Preset recent", {"65", "66", "67"}, nullptr},
    {home_pref_dir,
     "HomePrefDir",
     "home pref dir", {"86", "87", "88"},
     "home pref dir", {"89", "90", "91"}, nullptr},
    {program_change_blocks_audio,
     "ProgramChangeBlocksAudio",
     "program change blocks audio", {"100", "101", "102"},
     "program change blocks audio", {"103", "104", "105"}, nullptr},
    {ir_gain_min,
     "IRGainMin",
     "ir gain min", {"106", "107", "108"},
     "ir gain min", {"109", "110", "111"}, nullptr},
    {ir_gain_max,
     "IRGainMax",
     "ir gain max", {"112", "113", "114"},
     "ir gain max", {"115", "116", "117"}, nullptr},
    {master_gain_min,
     "MasterGainMin",
     "master gain min", {"118", "119", "120"},
     "master gain min", {"121", "122", "123"}, nullptr},
    {master_gain_max,
     "MasterGainMax",
     "master gain max", {"124", "125", "126"},
     "master gain max", {"127", "128", "129"}, nullptr},
    {colour_scheme,
     "ColourScheme",
     "colour scheme", {"130", "131", "132"},
     "colour scheme", {"133", "134", "135"}, nullptr},
    {ir_vis_selection_mode,
     "IRVisSelectionMode",
     "ir vis selection mode", {"136", "137", "138"},
     "ir vis selection mode", {"139", "140", "141"}, nullptr},
    {hide_presets,
     "HidePresets",
     "hide presets", {"142", "143", "144"},
     "hide presets", {"145", "146", "147"}, nullptr},
    {hide_lower_pane,
     "HideLowerPane",
     "hide lower pane", {"148", "149", "150"},
     "hide lower pane", {"151", "152", "153"}, nullptr},
    {user_fxb,
     "UserFXB%d",
     "user fxb", {"154", "155", "156"},
     "user fxb", {"157", "158", "159"}, nullptr},
    {user_lost_location,
     "UserSpecifiedLostLocation%d",
     "user lost location", {"160", "161", "162"},
     "user lost location", {"163", "164", "165"}, nullptr},
    {smooth_changes,
     "SmoothChanges",
     "smooth changes", {"166", "167", "168"},
     "smooth changes", {"169", "170", "171"}, nullptr},
};
// clang-format on
static_assert(std::size(named_settings) == named_count, "one row per named setting");

constexpr bool rows_in_order()
{
    for (int i = 0; i < named_count; ++i)
        if (named_settings[i].id != i) return false;
    return true;
}
static_assert(rows_in_order(), "rows are indexed by their id");

std::string numbered(char const* wording, char const* code, char const* label)
{
    return std::string(wording) + " (Code #" + code + ": " + label + ").\n";
}

ReadMessages named_read_messages(Named id)
{
    NamedSetting const& row = named_settings[id];
    return {numbered("Could not open key", row.read_codes[0], row.read_label),
            numbered("Could not query key for size", row.read_codes[1], row.read_label),
            numbered("Could not query key for data", row.read_codes[2], row.read_label)};
}

WriteMessages named_write_messages(Named id)
{
    NamedSetting const& row = named_settings[id];
    return {numbered("Could not open/create key", row.write_codes[0], row.write_label),
            numbered(row.set_wording != nullptr ? row.set_wording : "Could not set key", row.write_codes[1],
                     row.write_label),
            numbered("Could not close key", row.write_codes[2], row.write_label)};
}

std::string name_of(Named id, int n = 0)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, named_settings[id].name, n);
    return buffer;
}

[[noreturn]] void fail(std::string const& message)
{
    throw std::runtime_error(
        "Preferences file error: " + message +
        "Processing will be disabled and plugin locked.\nPlease contact technical support");
}

enum class Roots { user_then_machine, machine_only };

std::string read_text(std::string const& name, ReadMessages const& messages,
                      Roots roots = Roots::user_then_machine)
{
    auto const lock = corvella::lock_settings_file();
    HKEY root = HKEY_LOCAL_MACHINE;
    if (roots == Roots::user_then_machine) {
        HKEY user = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, settings_key_path, 0, 0, &user) != corvella::registry_ok)
            fail(messages.open);
        unsigned type = 0;
        unsigned size = 0;
        if (RegQueryValueEx(user, name.c_str(), nullptr, &type, nullptr, &size) == corvella::registry_ok)
            root = HKEY_CURRENT_USER;
        RegCloseKey(user);
    }

    HKEY key = nullptr;
    if (RegOpenKeyEx(root, settings_key_path, 0, 0, &key) != corvella::registry_ok) fail(messages.open);
    unsigned type = 0;
    unsigned size = 0;
    if (RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size) != corvella::registry_ok) {
        RegCloseKey(key);
        fail(messages.size);
    }
    std::vector<unsigned char> buffer(size);
    long const result = RegQueryValueEx(key, name.c_str(), nullptr, &type, buffer.data(), &size);
    RegCloseKey(key);
    if (result != corvella::registry_ok || size == 0) fail(messages.data);
    return std::string(reinterpret_cast<char const*>(buffer.data()), size - 1);
}

// Whether `name` holds a value under either root (reads look under both).
bool value_stored(std::string const& name)
{
    auto const lock = corvella::lock_settings_file();
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(root, settings_key_path, 0, 0, &key) != corvella::registry_ok) continue;
        unsigned type = 0;
        unsigned size = 0;
        bool const stored = RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size) == corvella::registry_ok;
        RegCloseKey(key);
        if (stored) return true;
    }
    return false;
}

void write_text(std::string const& name, std::string const& text, WriteMessages const& messages)
{
    auto const lock = corvella::lock_settings_file();
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, settings_key_path, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        corvella::registry_ok)
        fail(messages.open);
    if (RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<unsigned char const*>(text.c_str()),
                      static_cast<unsigned>(text.size() + 1)) != corvella::registry_ok) {
        RegCloseKey(key);
        fail(messages.set);
    }
    if (RegCloseKey(key) != corvella::registry_ok) fail(messages.close);
}

// Decimal digits after optional blanks and sign, up to the first other character; nothing
// readable gives 0.
int to_setting_int(std::string const& text)
{
    long const value = std::strtol(text.c_str(), nullptr, 10);
    if (value < corvella::smallest_setting_int || value > corvella::largest_setting_int) return -1;
    return static_cast<int>(value);
}

int read_named_int(Named id)
{
    return to_setting_int(read_text(name_of(id), named_read_messages(id)));
}

void write_named_int(Named id, int value)
{
    write_text(name_of(id), std::to_string(value), named_write_messages(id));
}

std::string read_named_text(Named id, int n = 0)
{
    return read_text(name_of(id, n), named_read_messages(id));
}

void write_named_text(Named id, std::string const& text, int n = 0)
{
    write_text(name_of(id, n), text, named_write_messages(id));
}

void report(std::string const& text)
{
    MessageBoxA(nullptr, text.c_str(), corvella::caption::ir_files, corvella::message_box_ok);
}

} // namespace

void CheckPrefs()
{
    auto const lock = corvella::lock_settings_file();
    std::string const folder = corvella::settings_folder();
    if (folder.empty()) {
        report("The preferences folder is unknown (no XDG_CONFIG_HOME, HOME or home folder of the user); "
               "settings cannot be stored.");
        return;
    }
    std::error_code folder_error;
    std::filesystem::create_directories(folder, folder_error);
    if (folder_error) {
        report("The settings folder " + folder + " could not be created: " + folder_error.message());
        return;
    }

    std::filesystem::path const path = corvella::settings_file_path();
    std::string current_bytes;
    CXmlIO::State state;
    {
        CXmlIO current(path);
        state = current.state();
    }
    if (state == CXmlIO::State::valid) return;
    if (state == CXmlIO::State::unreadable) {
        report("The settings file " + path.string() + " exists but cannot be read; it is left as it is.");
        return;
    }

    std::filesystem::path kept_copy;
    if (state == CXmlIO::State::corrupt) {
        corvella::read_whole_file(path, current_bytes);
        kept_copy = corvella::keep_corrupt_copy(path, current_bytes);
        if (kept_copy.empty()) {
            report("The settings file " + path.string() +
                   " could not be read, and no copy of it could be kept; it is left as it is.");
            return;
        }
    }

    std::filesystem::path const default_path = corvella::default_settings_file_path();
    std::string default_bytes;
    bool const have_default =
        !default_path.empty() &&
        corvella::read_whole_file(default_path, default_bytes) == corvella::FileRead::ok;
    std::string error;
    if (!have_default) {
        // Without a default there is nothing to fill in; an empty file makes the next CheckPrefs
        // try again while reads report the missing values.
        if (state == CXmlIO::State::corrupt || state == CXmlIO::State::missing)
            corvella::write_file_atomically(path, std::string(), error);
        if (!kept_copy.empty()) corvella::report_corrupt_file_replaced(path, kept_copy);
        report("The default settings file " + std::string(corvella::settings_file_name) +
               " could not be found; the settings in " + path.string() + " start empty.");
        return;
    }

    // The copy keeps the default's permissions, but stays writable for its owner.
    struct stat default_status {};
    int const mode = ::stat(default_path.c_str(), &default_status) == 0
                         ? static_cast<int>((default_status.st_mode & 07777) | S_IWUSR | S_IRUSR)
                         : 0644;
    if (!corvella::write_file_atomically(path, default_bytes, error, mode)) {
        report("The default settings could not be copied to " + path.string() + ": " + error);
        return;
    }
    if (!kept_copy.empty()) corvella::report_corrupt_file_replaced(path, kept_copy);
}

std::string GetPreferencePathRaw()
{
    return corvella::preferences_folder();
}

int extract_data_from_registry_int(std::string const& name)
{
    return to_setting_int(read_text(name, typed_read_messages(name)));
}

void set_data_in_registry_int(std::string const& name, int value)
{
    write_text(name, std::to_string(value), typed_write_messages(name));
}

std::string extract_data_from_registry_string(std::string const& name)
{
    return read_text(name, typed_read_messages(name));
}

void set_data_in_registry_string(std::string const& name, std::string const& text)
{
    write_text(name, text, typed_write_messages(name));
}

int extract_data_from_registry_latency()
{
    return read_named_int(latency);
}
void set_latency_in_registry(int value)
{
    write_named_int(latency, value);
}
int extract_data_from_registry_auto_pair_ts()
{
    return read_named_int(auto_pair_ts);
}
void set_auto_pair_ts_in_registry(int value)
{
    write_named_int(auto_pair_ts, value);
}
int extract_data_from_registry_home_pref()
{
    return read_named_int(home_pref);
}
void set_home_pref_in_registry(int value)
{
    write_named_int(home_pref, value);
}
int extract_data_from_registry_wet_lock()
{
    return read_named_int(wet_lock);
}
void set_wet_lock_in_registry(int value)
{
    write_named_int(wet_lock, value);
}
int extract_data_from_registry_dials_mode()
{
    return read_named_int(dials_mode);
}
void set_dials_mode_in_registry(int value)
{
    write_named_int(dials_mode, value);
}
int extract_data_from_registry_sr_gain()
{
    return read_named_int(sr_gain);
}
void set_sr_gain_in_registry(int value)
{
    write_named_int(sr_gain, value);
}
int extract_data_from_registry_program_change_blocks_audio()
{
    return read_named_int(program_change_blocks_audio);
}
void set_program_change_blocks_audio_in_registry(int value)
{
    write_named_int(program_change_blocks_audio, value);
}
int extract_data_from_registry_smooth_changes()
{
    // A settings file written before this setting existed does not hold it: smooth, its default.
    if (!value_stored(name_of(smooth_changes))) return 1;
    return read_named_int(smooth_changes);
}
void set_smooth_changes_in_registry(int value)
{
    write_named_int(smooth_changes, value);
}
int extract_data_from_registry_ir_gain_min()
{
    return read_named_int(ir_gain_min);
}
void set_ir_gain_min_in_registry(int value)
{
    write_named_int(ir_gain_min, value);
}
int extract_data_from_registry_ir_gain_max()
{
    return read_named_int(ir_gain_max);
}
void set_ir_gain_max_in_registry(int value)
{
    write_named_int(ir_gain_max, value);
}
int extract_data_from_registry_master_gain_min()
{
    return read_named_int(master_gain_min);
}
void set_master_gain_min_in_registry(int value)
{
    write_named_int(master_gain_min, value);
}
int extract_data_from_registry_master_gain_max()
{
    return read_named_int(master_gain_max);
}
void set_master_gain_max_in_registry(int value)
{
    write_named_int(master_gain_max, value);
}
int extract_data_from_registry_colour_scheme()
{
    return read_named_int(colour_scheme);
}
void set_colour_scheme_in_registry(int value)
{
    write_named_int(colour_scheme, value);
}
int extract_data_from_registry_ir_vis_selection_mode()
{
    return read_named_int(ir_vis_selection_mode);
}
void set_ir_vis_selection_mode_in_registry(int value)
{
    write_named_int(ir_vis_selection_mode, value);
}
int extract_data_from_registry_hide_presets()
{
    return read_named_int(hide_presets);
}
void set_hide_presets_in_registry(int value)
{
    write_named_int(hide_presets, value);
}
int extract_data_from_registry_hide_lower_pane()
{
    return read_named_int(hide_lower_pane);
}
void set_hide_lower_pane_in_registry(int value)
{
    write_named_int(hide_lower_pane, value);
}

std::string extract_data_from_registry_home_pref_dir()
{
    return read_named_text(home_pref_dir);
}
void set_home_pref_dir_in_registry(std::string const& folder)
{
    write_named_text(home_pref_dir, folder);
}
std::string extract_data_from_registry_initial_presets()
{
    return read_named_text(initial_presets);
}
void set_initial_presets_in_registry(std::string const& text)
{
    write_named_text(initial_presets, text);
}

std::string extract_data_from_registry_install_dir()
{
    return read_text(name_of(install_dir), named_read_messages(install_dir), Roots::machine_only);
}

std::string extract_data_from_registry_home_browser_dir(int n)
{
    return read_named_text(browser_dir, n);
}
void set_browser_dir_in_registry(int n, std::string const& folder)
{
    write_named_text(browser_dir, folder, n);
}
std::string extract_data_from_registry_search_dir(int n)
{
    return read_named_text(search_dir, n);
}
void set_search_dir_in_registry(int n, std::string const& folder)
{
    write_named_text(search_dir, folder, n);
}
std::string extract_data_from_registry_preset_recent_file(int n)
{
    return read_named_text(preset_recent, n);
}
void set_browser_preset_recent_in_registry(int n, std::string const& path)
{
    write_named_text(preset_recent, path, n);
}
std::string extract_data_from_registry_user_fxb(int n)
{
    return read_named_text(user_fxb, n);
}
void set_user_fxb_in_registry(int n, std::string const& path)
{
    write_named_text(user_fxb, path, n);
}
std::string extract_data_from_registry_user_specified_lost_location(int n)
{
    return read_named_text(user_lost_location, n);
}
void set_user_specified_lost_location_in_registry(int n, std::string const& folder)
{
    write_named_text(user_lost_location, folder, n);
}
