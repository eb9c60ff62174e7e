#pragma once

// What the plug-in tests share: the process environment (private data folder, LV2_PATH on the
// build tree's bundles), test material written as WAV files, the reference render through the
// in-process host, and the checks the CLAP and VST3 hosts run alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace corvella::host {
class InProcessHost;
}

namespace corvella::test {

inline constexpr double plugin_test_rate = 48000.0;
inline constexpr unsigned plugin_test_block = 256;

struct Stereo {
    std::vector<float> left, right;
    std::size_t frames() const { return left.size(); }
};

inline Stereo silence(std::size_t frames)
{
    return {std::vector<float>(frames), std::vector<float>(frames)};
}

// A settings value in the test process's settings file, before an instance reads it.
void set_latency_setting(int samples);

// Deterministic material: a decaying stereo noise impulse response; clicks and noise bursts.
Stereo make_impulse_response(std::size_t frames, unsigned seed);
Stereo make_input(std::size_t frames, unsigned seed);

void write_wav(std::filesystem::path const& file, Stereo const& audio, double rate);

using ParameterValues = std::vector<std::pair<std::string, float>>;

// Runs `input` through run(in, out, frames) in blocks of at most `block` frames.
template <typename Run> Stereo process_in_blocks(Stereo const& input, unsigned block, Run&& run)
{
    Stereo out{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
    for (std::size_t done = 0; done < input.frames(); done += block) {
        auto const n = static_cast<std::uint32_t>(std::min<std::size_t>(block, input.frames() - done));
        float const* in[2] = {input.left.data() + done, input.right.data() + done};
        float* o[2] = {out.left.data() + done, out.right.data() + done};
        run(in, o, n);
    }
    return out;
}

// The in-process host's own output: instance at the test rate, idle, one block of silence (when
// `lead_in`), `setup` (or the IR1-A file and the parameters set), idle, then `input` in blocks of
// `block`.
Stereo reference_render(Stereo const& input, std::function<void(host::InProcessHost&)> const& setup,
                        unsigned block = plugin_test_block, bool lead_in = true);
Stereo reference_render(Stereo const& input, std::string const& ir_file, ParameterValues const& parameters,
                        unsigned block = plugin_test_block, bool lead_in = true);

// Largest |a - b| over both channels (infinite for different lengths), and the largest |b|.
float max_difference(Stereo const& a, Stereo const& b);
float peak(Stereo const& audio);

// A byte stream that moves at most `step` bytes per call, as some hosts' file streams do.
struct ChunkedStream {
    std::string bytes;
    std::size_t step;
    std::size_t position = 0;
    std::size_t write(void const* data, std::uint64_t size);
    std::size_t read(void* data, std::uint64_t size);
};

// DPF's state stream: NUL-separated strings (the IR1-A file state, then parameters by symbol),
// ended by 0xFE and a NUL.
std::string dpf_state_stream(std::string const& ir_file, ParameterValues const& parameters = {});

// The parameters as a host lists them: the bypass first, then every keyed row by its name.
void expect_parameter_names(std::vector<std::string> const& names, std::string const& bypass_name);

// `configure` brings a new instance to the state of `parameters` and the IR file (through streams
// of 7 bytes) and activates it. Its audio must equal the in-process host's; its state, saved 5
// bytes at a time and loaded 3 at a time into a second instance, must save again unchanged and
// sound the same.
template <typename Instance, typename Factory, typename Configure>
void expect_audio_and_state_round_trip(Factory factory, ParameterValues const& parameters,
                                       std::string const& ir_file, Configure configure)
{
    Stereo const input = make_input(10000, 31);
    Stereo const expected = reference_render(input, ir_file, parameters, plugin_test_block, false);
    ASSERT_GT(peak(expected), 0.01f);
    std::string saved, again;
    Stereo first_out;
    {
        Instance first(factory);
        ASSERT_TRUE(first.ready());
        configure(first);
        ASSERT_FALSE(testing::Test::HasFatalFailure());
        first_out = first.process(input);
        EXPECT_LE(max_difference(first_out, expected), 1e-5f * peak(expected));
        ASSERT_TRUE(first.save(saved, 5));
    }
    EXPECT_EQ(saved.back(), '\0');
    EXPECT_NE(saved.find(ir_file), std::string::npos);
    Instance second(factory);
    ASSERT_TRUE(second.ready());
    ASSERT_TRUE(second.load(saved, 3));
    ASSERT_TRUE(second.save(again, 1 << 20));
    EXPECT_EQ(again, saved);
    second.activate();
    EXPECT_LE(max_difference(second.process(input), first_out), 1e-5f * peak(expected));
}

} // namespace corvella::test
