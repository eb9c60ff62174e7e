#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <system_error>

#ifndef CORVELLA_INSTALL_DATA_DIR
#define CORVELLA_INSTALL_DATA_DIR ""
#endif
#ifndef CORVELLA_SOURCE_DATA_DIR
#define CORVELLA_SOURCE_DATA_DIR ""
#endif

namespace corvella {
namespace {

std::mutex& bundle_mutex()
{
    static auto* mutex = new std::mutex; // never destroyed, like the settings-file lock
    return *mutex;
}

std::filesystem::path& registered_bundle_folder()
{
    static auto* folder = new std::filesystem::path;
    return *folder;
}

bool is_absolute_text(char const* text)
{
    return text != nullptr && text[0] == '/';
}

std::string with_trailing_slash(std::string folder)
{
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder + "/";
}

std::string account_home()
{
    long const suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return {};
    return is_absolute_text(found->pw_dir) ? found->pw_dir : std::string();
}

bool exists_as_file(std::filesystem::path const& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// $<variable> when it is set and absolute, else the home folder + `below_home`.
std::string xdg_folder(char const* variable, char const* below_home)
{
    char const* set = std::getenv(variable);
    if (is_absolute_text(set)) return with_trailing_slash(set);
    char const* home = std::getenv("HOME");
    if (is_absolute_text(home)) return with_trailing_slash(home) + below_home;
    std::string const account = account_home();
    if (!account.empty()) return with_trailing_slash(account) + below_home;
    return {};
}

} // namespace

std::string preferences_folder()
{
    return xdg_folder("XDG_CONFIG_HOME", ".config/");
}

std::string cache_folder()
{
    return xdg_folder("XDG_CACHE_HOME", ".cache/");
}

std::string library_folder()
{
    return xdg_folder("XDG_DATA_HOME", ".local/share/");
}

void set_bundle_resources_folder(std::filesystem::path const& folder)
{
    std::lock_guard<std::mutex> lock(bundle_mutex());
    registered_bundle_folder() = folder;
}

std::filesystem::path bundle_resources_folder()
{
    std::lock_guard<std::mutex> lock(bundle_mutex());
    return registered_bundle_folder();
}

std::filesystem::path executable_folder()
{
    std::error_code error;
    std::filesystem::path const executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return executable.parent_path();
}

std::vector<std::filesystem::path> data_search_folders()
{
    std::vector<std::filesystem::path> folders;
    std::filesystem::path const bundle = bundle_resources_folder();
    if (!bundle.empty()) folders.push_back(bundle);
    std::filesystem::path const executable = executable_folder();
    if (!executable.empty()) folders.push_back(executable / ".." / "share" / "corvella");
    for (char const* compiled : {CORVELLA_INSTALL_DATA_DIR, CORVELLA_SOURCE_DATA_DIR})
        if (compiled[0] != '\0') folders.emplace_back(compiled);
    return folders;
}

std::filesystem::path find_data_file(std::string const& name)
{
    if (name.empty()) return {};
    for (std::filesystem::path const& folder : data_search_folders()) {
        std::filesystem::path candidate = folder / name;
        if (exists_as_file(candidate)) return candidate;
    }
    return {};
}

} // namespace corvella

std::string GetCurrentBundlePathName()
{
    std::filesystem::path folder = corvella::bundle_resources_folder();
    // A registered "…/Resources/" names the folder inside the bundle; drop the trailing
    // separator first so that the parent is the bundle folder itself.
    if (!folder.empty()) {
        if (!folder.has_filename()) folder = folder.parent_path();
        folder = folder.parent_path();
    } else {
        folder = corvella::executable_folder();
    }
    if (folder.empty()) return {};
    std::string text = folder.string();
    if (text.back() != '/') text += '/';
    return text;
}

bool check_dir_path(std::string const& path)
{
    if (path.empty()) return false;
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}
