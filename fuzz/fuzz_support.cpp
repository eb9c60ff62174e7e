#include "fuzz/fuzz_support.h"

#include "platform/message_box.h"
#include "platform/settings_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace corvella::fuzz {

namespace {

std::filesystem::path& home()
{
    static auto* folder = new std::filesystem::path;
    return *folder;
}

void remove_home()
{
    std::error_code ignored;
    if (!home().empty()) std::filesystem::remove_all(home(), ignored);
}

} // namespace

void initialise()
{
    if (!home().empty()) return;
    std::error_code error;
    std::filesystem::path const temporary = std::filesystem::temp_directory_path(error);
    std::string pattern = ((error ? std::filesystem::path("/tmp") : temporary) / "corvella-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("corvella fuzz: cannot make a private folder");
        std::abort();
    }
    home() = pattern;
    for (char const* sub : {"config", "cache", "data", "scratch"})
        std::filesystem::create_directories(home() / sub);
    ::setenv("HOME", home().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home() / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home() / "cache").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home() / "data").c_str(), 1);
    std::atexit(remove_home);
    set_message_handler([](std::string const&, std::string const&, int) { return 0; });
    CheckPrefs();
}

std::filesystem::path const& private_home()
{
    return home();
}

std::filesystem::path write_scratch_file(std::string const& name, void const* data, std::size_t size)
{
    std::filesystem::path const path = home() / "scratch" / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<char const*>(data), static_cast<std::streamsize>(size));
    return path;
}

std::string overlay(std::string base, std::uint8_t const* data, std::size_t size)
{
    if (base.empty()) return base;
    if (size >= base.size()) return std::string(reinterpret_cast<char const*>(data), base.size());
    if (size < 4) return base;
    std::uint32_t at = 0;
    for (int k = 3; k >= 0; --k)
        at = (at << 8) | data[k];
    std::size_t const offset = at % base.size();
    std::size_t const count = std::min(size - 4, base.size() - offset);
    std::memcpy(base.data() + offset, data + 4, count);
    return base;
}

host::Result QuietController::GetSampleRate(float* rate) const
{
    *rate = 48000.0f;
    return host::success;
}

host::Result QuietController::GetCurrentTempo(double* bpm) const
{
    *bpm = 120.0;
    return host::success;
}

Instance::Instance()
{
    controller.parameters = &parameters;
    if (parameters.Initialize(&controller) != host::success) fail("the parameters object did not initialise");
}

void fail(char const* what)
{
    std::fprintf(stderr, "corvella fuzz: %s\n", what);
    std::abort();
}

} // namespace corvella::fuzz
