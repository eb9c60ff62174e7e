#pragma once

// The factory impulse responses, made by the engine's own generators (early reflections of a room
// and an algorithmic tail) from fixed settings: the same bytes on every machine and every run, so
// nothing audio is kept in the repository, and what ships is what a slot set to "ER" or "Tail"
// makes.

#include "ir/fir_file.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvella::factory {

struct IrDesign {
    char const* folder;    // below the factory root: "Factory" or "Factory 2"
    char const* file_name; // ".wav"; a true-stereo pair names its left-input half, "-L" -> "-R" for the other
    int sample_rate;
    // Tail generator (unity values as a program stores them; tint and density as indices).
    float tail_length, tail_diffusion, tail_variant, tail_diffuse_length;
    int tail_tint, tail_density;
    // Early-reflection generator; room -1 for none. Reflections are mixed at er_level against the
    // tail's peak, the direct sound at direct_level.
    int room;
    float er_size, er_diffusion, er_distance, er_position, er_separation, er_depth;
    float er_level, direct_level;
    bool true_stereo; // four channels: the "-L" file holds the left input's pair, "-R" the right's
};

// Every factory response, the start-up bank's default ("LongPlate-01-44100Hz.wav") first.
std::vector<IrDesign> const& designs();

// The channels of `design` (2, or 4 for a true-stereo pair), planar, peak at -1 dBFS.
std::vector<std::vector<float>> synthesise(IrDesign const& design);

// A Fusion response (".fir"): a true-stereo head of early reflections and eight true-stereo tail
// sets, the tail generator's variants of one design, for the modulation to move between.
struct FusionDesign {
    char const* folder;
    char const* file_name; // ".fir"
    int sample_rate;
    float tail_length, tail_diffusion, tail_diffuse_length;
    int tail_tint, tail_density;
    int room;
    float er_size;
};

std::vector<FusionDesign> const& fusion_designs();

// Head (4 channels) and tail (32 channels) of `design`, peak at -1 dBFS.
fir_contents synthesise(FusionDesign const& design);

// Writes every response below `root`, as 24-bit stereo WAV and ".fir" files (creating the folders).
// Returns the files written; throws std::runtime_error naming the file that could not be written.
std::vector<std::filesystem::path> write_all(std::filesystem::path const& root);

} // namespace corvella::factory
