#pragma once

// A private preferences folder for each settings test, with the source tree's default settings
// file as the default and every message recorded.

#include "platform/settings_file.h"

#include "support/message_recorder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace corvella::test {

inline std::filesystem::path const source_default_settings =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data" / "Corvella.xml";

inline std::string read_bytes(std::filesystem::path const& path)
{
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

inline void write_bytes(std::filesystem::path const& path, std::string const& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The text every settings failure carries.
inline std::string settings_error(std::string const& message)
{
    return "Preferences file error: " + message +
           "Processing will be disabled and plugin locked.\nPlease contact technical support";
}

// The message of the std::runtime_error `action` throws, or a note that it threw none.
template <typename Action> std::string error_of(Action&& action)
{
    try {
        action();
    } catch (std::runtime_error const& error) {
        return error.what();
    }
    return "<no exception>";
}

// Restores an environment variable when it goes; sets it first when a value is given.
class ScopedVariable {
public:
    explicit ScopedVariable(char const* name, char const* value = nullptr) : name_(name)
    {
        if (char const* old = std::getenv(name)) old_ = old;
        if (value != nullptr) setenv(name, value, 1);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
    ScopedVariable(ScopedVariable const&) = delete;
    ScopedVariable& operator=(ScopedVariable const&) = delete;

private:
    char const* name_;
    std::optional<std::string> old_;
};

class SettingsTest : public testing::Test {
protected:
    SettingsTest() { corvella::set_default_settings_file(source_default_settings); }
    ~SettingsTest() override { corvella::set_default_settings_file({}); }

    std::filesystem::path folder() const { return config_.path() / "Tarnwick" / "Corvella"; }
    std::filesystem::path file() const { return folder() / "Corvella.xml"; }
    void write_settings(std::string const& bytes) const { write_bytes(file(), bytes); }
    std::string read_settings() const { return read_bytes(file()); }

    // Names in the settings folder, sorted.
    std::vector<std::string> folder_entries() const
    {
        std::vector<std::string> names;
        for (auto const& entry : std::filesystem::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir config_{"corvella-settings-"};
    ScopedVariable config_home_{"XDG_CONFIG_HOME", config_.path().c_str()};
    MessageRecorder messages_;
};

// A settings document holding the given elements, in the layout the store writes.
inline std::string settings_document(std::vector<std::pair<std::string, std::string>> const& values)
{
    std::string text = "<?xml version=\"1.0\" ?>\n<Registry>\n";
    for (auto const& [element, value] : values)
        text += "    <" + element + ">" + value + "</" + element + ">\n";
    return text + "</Registry>\n";
}

inline std::string user_value(std::string const& name)
{
    return "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:" + name;
}

inline std::string machine_value(std::string const& name)
{
    return "HKEY_LOCAL_MACHINE:SOFTWARE:Tarnwick:Corvella:" + name;
}

} // namespace corvella::test
