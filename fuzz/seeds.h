#pragma once

// Valid inputs for every fuzz target, made by the code that writes each format (libsndfile for
// the audio files, the system's own writers for .fir files, chunks, bank files and settings).

#include <string>
#include <utility>
#include <vector>

namespace corvella::fuzz {

struct Seed {
    std::string name;
    std::string bytes;
};

// The targets' names (fuzz_<name>), in the order scripts/fuzz runs them.
std::vector<std::string> const& target_names();

// The seeds of one target; empty for an unknown name.
std::vector<Seed> seeds_for(std::string const& target);

} // namespace corvella::fuzz
