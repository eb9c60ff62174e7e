// The settings file ("Corvella.xml"): whatever it holds, reads either find a value or fail with
// the settings store's error, and a write either fails or reads back as written.

#include "fuzz/fuzz_support.h"
#include "platform/settings_file.h"
#include "platform/settings_store.h"
#include "platform/xml_io.h"

#include <filesystem>
#include <stdexcept>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

namespace {

// The copies of corrupt files a write keeps: removed so that every input starts alike.
void remove_all_but_the_file(std::filesystem::path const& file)
{
    std::error_code ignored;
    for (auto const& entry : std::filesystem::directory_iterator(file.parent_path(), ignored))
        if (entry.path() != file) std::filesystem::remove_all(entry.path(), ignored);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    using namespace corvella;
    std::filesystem::path const file = settings_file_path();
    std::filesystem::create_directories(file.parent_path());
    remove_all_but_the_file(file);
    {
        std::string error;
        if (!write_file_atomically(file, std::string(reinterpret_cast<char const*>(data), size), error))
            fuzz::fail("the scratch settings file cannot be written");
    }

    {
        CXmlIO io;
        std::string value;
        io.GetValue("HKEY_CURRENT_USER\\SOFTWARE\\Tarnwick\\Corvella", "HomePrefDir", value);
    }
    try {
        (void)extract_data_from_registry_latency();
    } catch (std::runtime_error const&) {
    }
    try {
        (void)extract_data_from_registry_string("BrowserDir0");
    } catch (std::runtime_error const&) {
    }
    try {
        (void)extract_data_from_registry_install_dir();
    } catch (std::runtime_error const&) {
    }

    bool written = true;
    try {
        set_data_in_registry_int("Latency", 512);
    } catch (std::runtime_error const&) {
        written = false;
    }
    if (written && extract_data_from_registry_int("Latency") != 512) fuzz::fail("a written value does not read back");
    return 0;
}
