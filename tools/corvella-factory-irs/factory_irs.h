#pragma once

// The factory impulse responses, synthesised by deterministic code: the same bytes on every
// machine and every run, so nothing audio is kept in the repository.

#include <filesystem>
#include <string>
#include <vector>

namespace corvella::factory {

struct IrDesign {
    char const* folder;    // below the factory root: "Factory" or "Factory 2"
    char const* file_name; // ".wav"; true-stereo halves follow the L/R file-pairing rule
    int sample_rate;
    double seconds;
    double rt60_low;     // s, decay below the crossover
    double rt60_high;    // s, decay above it
    double crossover_hz; // one-pole split of the tail into the two decay bands
    double pre_delay_ms; // gap between the direct sound and the reflections
    int reflection_count;
    double reflection_span_ms;
    double build_up_ms;   // rise time of the diffuse tail
    double direct_gain;   // the first arrival (the plate's drive transient); 0 for none
    int true_stereo_side; // 0 plain stereo, 1 the left-input half, 2 the right-input half
    unsigned seed;
};

// Every factory response, the start-up bank's default ("LongPlate-01-44100Hz.wav") first.
std::vector<IrDesign> const& designs();

// Two channels of `design`, interleaved, peak at -1 dBFS.
std::vector<float> synthesise(IrDesign const& design);

// Writes every response below `root` as 24-bit WAV (creating the folders). Returns the files
// written; throws std::runtime_error naming the file that could not be written.
std::vector<std::filesystem::path> write_all(std::filesystem::path const& root);

} // namespace corvella::factory
