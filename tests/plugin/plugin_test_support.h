#pragma once

// What the plug-in tests share: the process environment (private data folder, LV2_PATH on the
// build tree's bundles), test material written as WAV files, the reference render through the
// in-process host, and the checks the CLAP and VST3 hosts run alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// What careless or hostile hosts hand back as state: cut short, garbage, nothing, a bank of the
// wrong size, a bank that is no base64. Loaded into an instance that plays `ir_file`, none may
// crash it or lose what it holds: it saves the same state afterwards and its output stays finite.
template <typename Instance, typename Factory>
void expect_bad_state_changes_nothing(Factory factory, std::string const& ir_file)
{
    Instance instance(factory);
    ASSERT_TRUE(instance.ready());
    ASSERT_TRUE(instance.load(dpf_state_stream(ir_file), 64));
    instance.activate();
    Stereo const input = make_input(4000, 9);
    ASSERT_GT(peak(instance.process(input)), 0.01f);
    // The program selector's value is left out: a stream cut after the host's program key selects
    // the same program again, which the selector shows as the middle of that program's range.
    auto without_selector = [](std::string state) {
        std::string const key = std::string("automated_prog_num_sel") + '\0';
        if (std::size_t const at = state.find(key); at != std::string::npos)
            state.erase(at, state.find('\0', at + key.size()) - at);
        return state;
    };
    std::string good;
    ASSERT_TRUE(instance.save(good, 1 << 20));
    good = without_selector(good);
    // The bank's value replaced by `value`.
    auto with_bank = [&](std::string const& value) {
        std::size_t const key = good.find(std::string("bank") + '\0');
        std::size_t const begin = key + 5, end = good.find('\0', begin);
        return key == std::string::npos ? std::string() : good.substr(0, begin) + value + good.substr(end);
    };
    std::string const bad[] = {good.substr(0, good.size() / 2), std::string(300, '\xff'), std::string(),
                               with_bank("AAAA"), with_bank(std::string(190208, '!'))};
    for (std::string const& stream : bad) {
        instance.load(stream, 5); // refused, or applied as far as it goes
        std::string after;
        ASSERT_TRUE(instance.save(after, 1 << 20));
        after = without_selector(after);
        auto const differs = std::mismatch(after.begin(), after.end(), good.begin(), good.end());
        EXPECT_TRUE(after == good) << "a stream of " << stream.size() << " bytes changed the state at byte "
                                   << (differs.first - after.begin()) << ": "
                                   << after.substr(static_cast<std::size_t>(differs.first - after.begin()), 80);
        Stereo const out = instance.process(input);
        for (auto const* channel : {&out.left, &out.right})
            for (float v : *channel) ASSERT_TRUE(std::isfinite(v) && std::abs(v) < 16.0f);
    }
}

} // namespace corvella::test
