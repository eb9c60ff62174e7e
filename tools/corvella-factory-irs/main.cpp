// corvella-factory-irs: writes the factory impulse responses and the four factory banks into the
// folder the start-up bank reads them from (or into a given folder).

#include "tools/corvella-factory-irs/factory_banks.h"
#include "tools/corvella-factory-irs/factory_irs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

namespace {

// The user's data folder, as the start-up bank finds it.
std::filesystem::path default_root()
{
    std::filesystem::path data;
    if (char const* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        data = xdg;
    else if (char const* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        data = std::filesystem::path(home) / ".local/share";
    else
        return {};
    return data / "Audio/Impulse Responses/Tarnwick/Corvella";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
        std::printf("Usage: corvella-factory-irs [FOLDER]\n"
                    "Writes the factory impulse responses and banks below FOLDER (default: "
                    "$XDG_DATA_HOME/Audio/Impulse Responses/Tarnwick/Corvella, where the start-up bank "
                    "looks for them).\nExit status: 0 written, 1 usage, 3 a file could not be written.\n");
        return argc == 2 ? 0 : 1;
    }
    std::filesystem::path const root = argc == 2 ? std::filesystem::path(argv[1]) : default_root();
    if (root.empty()) {
        std::fprintf(stderr, "corvella-factory-irs: no data folder (set XDG_DATA_HOME or HOME)\n");
        return 1;
    }
    try {
        for (auto const& path : corvella::factory::write_all(root))
            std::printf("%s\n", path.c_str());
        for (auto const& path : corvella::factory::write_factory_banks(root))
            std::printf("%s\n", path.c_str());
    } catch (std::exception const& error) {
        std::fprintf(stderr, "corvella-factory-irs: %s\n", error.what());
        return 3;
    }
    return 0;
}
