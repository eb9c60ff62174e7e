#include "platform/settings_file.h"

#include "platform/message_box.h"
#include "platform/paths.h"

#include <fstream>
#include <system_error>

namespace corvella {
namespace {

// A settings file holds a few dozen short values; anything far larger is not one.
constexpr std::uintmax_t largest_settings_file = 16u << 20;

std::mutex& default_override_mutex()
{
    static auto* mutex = new std::mutex; // never destroyed, like the settings-file lock
    return *mutex;
}

std::filesystem::path& default_override()
{
    static auto* file = new std::filesystem::path;
    return *file;
}

} // namespace

std::string settings_folder()
{
    std::string const preferences = preferences_folder();
    return preferences.empty() ? std::string() : preferences + settings_subfolder;
}

std::filesystem::path settings_file_path()
{
    std::string const folder = settings_folder();
    return folder.empty() ? std::filesystem::path() : std::filesystem::path(folder + settings_file_name);
}

std::filesystem::path default_settings_file_path()
{
    std::filesystem::path chosen;
    {
        std::lock_guard<std::mutex> lock(default_override_mutex());
        chosen = default_override();
    }
    if (chosen.empty()) return find_data_file(settings_file_name);
    std::error_code error;
    return std::filesystem::is_regular_file(chosen, error) ? chosen : std::filesystem::path();
}

void set_default_settings_file(std::filesystem::path const& file)
{
    std::lock_guard<std::mutex> lock(default_override_mutex());
    default_override() = file;
}

std::unique_lock<std::recursive_mutex> lock_settings_file()
{
    // Never destroyed, so that a thread still running at exit can take it.
    static auto* mutex = new std::recursive_mutex;
    return std::unique_lock<std::recursive_mutex>(*mutex);
}

FileRead read_whole_file(std::filesystem::path const& path, std::string& bytes)
{
    bytes.clear();
    std::error_code error;
    auto const status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) return FileRead::missing;
    if (error || status.type() != std::filesystem::file_type::regular) return FileRead::failed;
    auto const size = std::filesystem::file_size(path, error);
    if (error) return FileRead::failed;
    if (size > largest_settings_file) return FileRead::too_large;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return FileRead::failed;
    bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        bytes.clear();
        return FileRead::failed;
    }
    return FileRead::ok;
}

bool is_blank(std::string const& bytes)
{
    return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::filesystem::path keep_corrupt_copy(std::filesystem::path const& target, std::string const& bytes)
{
    std::string const base = target.string() + corrupt_suffix;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::filesystem::path const copy = attempt == 0 ? base : base + "." + std::to_string(attempt);
        std::error_code error;
        if (std::filesystem::exists(copy, error) || error) continue;
        std::string write_error;
        if (write_file_atomically(copy, bytes, write_error)) return copy;
        return {};
    }
    return {};
}

void report_corrupt_file_replaced(std::filesystem::path const& target, std::filesystem::path const& copy)
{
    std::string const text = "The settings file " + target.string() +
                             " could not be read and has been replaced; the old file is kept as " +
                             copy.string();
    MessageBoxA(nullptr, text.c_str(), caption::ir_files, message_box_ok);
}

} // namespace corvella
