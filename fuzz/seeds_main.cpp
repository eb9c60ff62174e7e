// corvella-fuzz-seeds DIR [TARGET...]: writes the seed corpus of every target (or of the ones
// named) into DIR/<target>/.

#include "fuzz/fuzz_support.h"
#include "fuzz/seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvella-fuzz-seeds DIR [TARGET...]\n");
        return 1;
    }
    corvella::fuzz::initialise();
    std::vector<std::string> targets(argv + 2, argv + argc);
    if (targets.empty()) targets = corvella::fuzz::target_names();
    for (std::string const& target : targets) {
        auto const seeds = corvella::fuzz::seeds_for(target);
        if (seeds.empty()) {
            std::fprintf(stderr, "corvella-fuzz-seeds: no seeds for '%s'\n", target.c_str());
            return 1;
        }
        std::filesystem::path const folder = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(folder);
        for (auto const& seed : seeds) {
            if (seed.bytes.empty()) {
                std::fprintf(stderr, "corvella-fuzz-seeds: seed %s of '%s' came out empty\n", seed.name.c_str(),
                             target.c_str());
                return 1;
            }
            std::ofstream(folder / seed.name, std::ios::binary).write(seed.bytes.data(), static_cast<std::streamsize>(seed.bytes.size()));
        }
    }
    return 0;
}
