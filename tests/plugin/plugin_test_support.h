#pragma once

// What the plug-in tests share: the process environment (private data folder, LV2_PATH on the
// build tree's bundles), signals and impulse responses written as WAV files, and the reference
// render through the in-process host.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace corvella::test {

inline constexpr double plugin_test_rate = 48000.0;
inline constexpr unsigned plugin_test_block = 256;

// Two planar channels.
struct Stereo {
    std::vector<float> left, right;
    std::size_t frames() const { return left.size(); }
};

// A settings value in the test process's settings file, before an instance reads it.
void set_latency_setting(int samples);

// Deterministic test material: a decaying stereo noise impulse response, and an input of
// clicks and noise bursts.
Stereo make_impulse_response(std::size_t frames, unsigned seed);
Stereo make_input(std::size_t frames, unsigned seed);

void write_wav(std::filesystem::path const& file, Stereo const& audio, double rate);
Stereo read_wav(std::filesystem::path const& file);

// Parameter values the tests set by key (unity values).
using ParameterValues = std::vector<std::pair<std::string, float>>;

// The in-process host's own output for the plug-in tests' sequence: instance at the test rate,
// idle, one block of silence (when `lead_in`), the IR file and the parameters set, idle, then
// `input` in blocks of `block`.
Stereo reference_render(Stereo const& input, std::string const& ir_file, ParameterValues const& parameters,
                        unsigned block = plugin_test_block, bool lead_in = true);

// Largest |a - b| over both channels, and the largest |b|.
float max_difference(Stereo const& a, Stereo const& b);
float peak(Stereo const& audio);

} // namespace corvella::test
