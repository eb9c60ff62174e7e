#include "platform/lost_file_repair.h"

#include "ir/ir_file_pairing.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "program/vst_plugin_program.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace corvella {

namespace {

namespace text {
constexpr char const header[] = "Lost files encountered in Corvella preset as follows.";
constexpr char const preset_name[] = "\n\nPreset name: ";
constexpr std::array<char const*, 4> file_lines{"\n\nFile IR1a: ", "\n\nFile IR1b: ", "\n\nFile IR2a: ",
                                                "\n\nFile IR2b: "};
constexpr char const question_now[] =
    "\n\nDo you wish to specify a location for this file(s) and any subsequently missing file(s)?";
constexpr char const question_later[] =
    "\n\nDo you wish to specify a location for this file(s) and any subsequently missing file(s) the next "
    "time the relevant Corvella window is visible?\n\nTo satisfy the lost files you will likely need to open "
    "any Corvella instance's editors to check for missing files.";
} // namespace text

constexpr char const factory_presets[] = "Tarnwick/Corvella/Presets/Factory/";
constexpr char const factory_irs[] = "Audio/Impulse Responses/Tarnwick";

std::string with_slash(std::string folder)
{
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string join(std::string const& folder, std::string const& name)
{
    return with_slash(folder) + name;
}

// The account's name and home folder ($HOME first, as the other user folders are found).
struct Account {
    std::string name;
    std::string home;
};

Account account()
{
    Account result;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        result.name = found->pw_name != nullptr ? found->pw_name : "";
        result.home = found->pw_dir != nullptr ? found->pw_dir : "";
    }
    if (char const* home = std::getenv("HOME"); home != nullptr && home[0] == '/') result.home = home;
    return result;
}

bool skipped_volume(std::string const& name)
{
    return name.starts_with('.') || name.starts_with('$') || name == "Volumes" || name.starts_with("RECYCLER") ||
           name.starts_with("System Volume Information");
}

// The length of a volume prefix of `path` made of `root` and then `levels` more folder names
// ("/media/" + user + volume is root "/media/" with 2 levels); 0 when the path has none.
std::size_t volume_prefix(std::string const& path, std::string const& root, int levels)
{
    if (!path.starts_with(root)) return 0;
    std::size_t end = root.size();
    for (int level = 0; level < levels; ++level) {
        std::size_t const separator = path.find('/', end);
        if (separator == std::string::npos || separator == end) return 0;
        end = separator + 1;
    }
    return end;
}

// The part of `path` below the volume it lies on, without a leading "/".
std::string path_below_volume(std::string const& path, std::vector<std::string> const& volumes)
{
    for (std::string const& volume : volumes)
        if (!volume.empty() && path.starts_with(with_slash(volume))) return path.substr(with_slash(volume).size());
    static constexpr std::array<std::pair<char const*, int>, 6> known{{
        {"/Volumes/", 1},
        {"/media/", 2},
        {"/run/media/", 2},
        {"/mnt/", 1},
        {"/home/", 1},
        {"/Users/", 1},
    }};
    for (auto const& [root, levels] : known)
        if (std::size_t const length = volume_prefix(path, root, levels); length != 0) return path.substr(length);
    return path.substr(path.starts_with('/') ? 1 : 0);
}

void add_location(std::vector<std::string>& lost_locations, std::string const& found)
{
    std::string const folder = get_file_path(found);
    bool const known = std::any_of(lost_locations.begin(), lost_locations.end(),
                                   [&](std::string const& entry) { return get_file_path(entry) == folder; });
    if (!known) lost_locations.push_back(found);
}

// Where a file of the lost path's name is now, or "" when it is nowhere to be found.
std::string find_lost_file(std::string const& stored, std::vector<std::string> const& lost_locations)
{
    std::string const path = swap_backslash_for_forwardslash(stored);
    std::string const name = get_filename_from_path(path);
    if (name.empty()) return {};
    auto const exists = [](std::string const& candidate) { return check_file_path(candidate); };

    // 2.
    if (std::string const preferences = GetPreferencePathRaw(); !preferences.empty())
        if (std::string const candidate = preferences + factory_presets + name; exists(candidate)) return candidate;

    // 3.
    std::string const own_folder = get_filename_from_path(get_file_path_no_slash(path));
    for (std::string const& entry : lost_locations) {
        std::string const folder = get_file_path(entry);
        if (folder.empty()) continue;
        if (std::string const candidate = folder + name; exists(candidate)) return candidate;
        if (own_folder.empty()) continue;
        std::string const parent = directory_above(get_file_path_no_slash(entry));
        if (std::string const candidate = join(parent, own_folder) + "/" + name; exists(candidate)) return candidate;
    }

    // 4.
    if (std::string const moved = check_other_mac_volumes(path); moved != path && exists(moved)) return moved;

    // 5.
    if (std::string const library = library_folder(); !library.empty())
        if (std::string found = recursive_file_search(path, library + factory_irs, lost_file_search_depth, false);
            exists(found))
            return found;

    // 6.
    for (int n = 0; n < search_location_settings; ++n) {
        std::string folder;
        try {
            folder = extract_data_from_registry_search_dir(n);
        } catch (std::runtime_error const&) {
            break;
        }
        if (folder.empty()) continue;
        if (std::string found = recursive_file_search(path, folder, lost_file_search_depth, false); exists(found))
            return found;
    }
    return {};
}

std::string field_text(std::span<char const> field)
{
    auto const end = std::find(field.begin(), field.end(), '\0');
    return std::string(field.begin(), end);
}

bool is_missing(std::span<char const> field)
{
    std::string const path = field_text(field);
    return !path.empty() && !check_file_path(path);
}

} // namespace

bool check_and_repair_lost_files_in_string(std::span<char> field, std::vector<std::string>& lost_locations)
{
    std::string const stored = field_text(field);
    // 1.
    if (stored.empty() || check_file_path(stored)) return false;
    std::string const found = find_lost_file(stored, lost_locations);
    if (found.empty() || found.size() >= field.size()) return false;
    std::memcpy(field.data(), found.c_str(), found.size() + 1);
    add_location(lost_locations, found);
    return true;
}

bool check_and_repair_lost_files_in_program(VST_Plugin_Program& program, std::vector<std::string>& lost_locations,
                                            LostFilePrompt& prompt, bool editor_open)
{
    std::array<std::span<char>, 4> const fields{std::span<char>(program.ir1_file_a),
                                                std::span<char>(program.ir1_file_b),
                                                std::span<char>(program.ir2_file_a),
                                                std::span<char>(program.ir2_file_b)};
    bool changed = false;
    for (std::span<char> field : fields)
        changed = check_and_repair_lost_files_in_string(field, lost_locations) || changed;

    if (prompt.ask && std::any_of(fields.begin(), fields.end(), [](std::span<char> f) { return is_missing(f); })) {
        std::string message = std::string(text::header) + text::preset_name +
                              field_text(std::span<char const>(program.name));
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (is_missing(fields[i])) message += text::file_lines[i] + field_text(fields[i]);
        message += editor_open ? text::question_now : text::question_later;
        if (MessageBoxA(nullptr, message.c_str(), caption::ir_files, message_box_yes_no) == message_box_yes)
            prompt.location_wanted = true;
        else
            prompt.ask = false;
    }

    if (program.current_program >= 49) program.current_program = 0;
    return changed;
}

std::vector<std::string> other_volume_folders()
{
    Account const user = account();
    std::vector<std::string> roots{"/mnt/"};
    if (!user.name.empty()) roots.insert(roots.begin(), {"/media/" + user.name + "/", "/run/media/" + user.name + "/"});

    std::vector<std::string> volumes;
    for (std::string const& root : roots) {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            std::error_code status_error;
            if (it->is_directory(status_error) && !skipped_volume(name)) names.push_back(std::move(name));
        }
        std::sort(names.begin(), names.end(), stringCompare);
        for (std::string const& name : names)
            volumes.push_back(root + name + "/");
    }
    if (!user.home.empty()) volumes.push_back(with_slash(user.home));
    return volumes;
}

std::string check_other_mac_volumes(std::string const& path, std::vector<std::string> const& volumes)
{
    std::string const tail = path_below_volume(path, volumes);
    if (tail.empty()) return path;
    for (std::string const& volume : volumes) {
        std::string const candidate = with_slash(volume) + tail;
        if (candidate != path && check_file_path(candidate)) return candidate;
    }
    return path;
}

std::string check_other_mac_volumes(std::string const& path)
{
    return check_other_mac_volumes(path, other_volume_folders());
}

void add_user_specified_lost_locations(std::string const& folder)
{
    std::array<std::string, lost_location_settings> entries;
    for (int n = 0; n < lost_location_settings; ++n) {
        try {
            entries[static_cast<std::size_t>(n)] = extract_data_from_registry_user_specified_lost_location(n);
        } catch (std::runtime_error const&) {
            // A value that is not there yet is an empty entry.
        }
    }
    // Entry 49 is about to fall off, so only 0..48 count as already listed.
    if (std::find(entries.begin(), entries.end() - 1, folder) != entries.end() - 1) return;
    try {
        for (int n = lost_location_settings - 2; n >= 0; --n) {
            std::string const& entry = entries[static_cast<std::size_t>(n)];
            if (entry.size() >= 3) set_user_specified_lost_location_in_registry(n + 1, entry);
        }
        set_user_specified_lost_location_in_registry(0, folder);
    } catch (std::runtime_error const&) {
    }
}

std::vector<std::string> extract_all_user_specified_lost_locations()
{
    std::vector<std::string> locations;
    for (int n = 0; n < lost_location_settings; ++n) {
        try {
            locations.push_back(extract_data_from_registry_user_specified_lost_location(n));
        } catch (std::runtime_error const&) {
            break;
        }
    }
    return locations;
}

std::string ToUnix_additional_slashes(std::string const& folder)
{
    return with_slash(folder.starts_with('/') ? folder : "/" + folder);
}

std::string ToUnixUsers_additional_slashes(std::string const& folder)
{
    return with_slash(folder.starts_with('/') ? folder : "/home/" + folder);
}

std::string ToUnixVolumes_additional_slashes(std::string const& folder)
{
    if (folder.starts_with('/')) return with_slash(folder);
    std::string const user = account().name;
    return with_slash((user.empty() ? std::string("/mnt/") : "/media/" + user + "/") + folder);
}

} // namespace corvella
