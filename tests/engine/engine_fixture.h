#pragma once

// An engine in a private settings folder, with helpers to load impulse responses, set the program
// to known gains, drive IR builds through the engine's requests and run audio through the host
// entry in uneven blocks.

#include "engine/vst_plugin.h"
#include "platform/settings_fixture.h"
#include "platform/settings_store.h"
#include "program/program_constants.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvella::test {

using Signal = std::vector<float>;

struct StereoSignal {
    Signal left, right;
};

// Decaying noise, as a reverb's impulse response.
inline Signal decaying_noise(int length, unsigned seed, double decay_fraction = 0.25)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.5f);
    Signal ir(static_cast<size_t>(length));
    double const tau = std::max(1.0, length * decay_fraction);
    for (int i = 0; i < length; ++i)
        ir[static_cast<size_t>(i)] = noise(rng) * static_cast<float>(std::exp(-i / tau));
    return ir;
}

// Noise for the first `active` samples of `total`, silence after.
inline Signal noise_burst(size_t total, size_t active, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Signal x(total, 0.0f);
    for (size_t i = 0; i < active && i < total; ++i)
        x[i] = noise(rng);
    return x;
}

// `length` zeros with impulses (position, amplitude).
inline Signal sparse(int length, std::vector<std::pair<int, float>> const& impulses)
{
    Signal s(static_cast<size_t>(length), 0.0f);
    for (auto const& [position, amplitude] : impulses)
        s[static_cast<size_t>(position)] = amplitude;
    return s;
}

// Four channels (A left, A right, B left, B right) for load_ir_into_slot.
struct FourChannelIr {
    Signal channel[4];
    float* pointers[4];
    FourChannelIr(Signal a_left, Signal a_right, Signal b_left, Signal b_right)
        : channel{std::move(a_left), std::move(a_right), std::move(b_left), std::move(b_right)}
    {
        for (int c = 0; c < 4; ++c)
            pointers[c] = channel[c].data();
    }
    explicit FourChannelIr(Signal const& all) : FourChannelIr(all, all, all, all) {}
    int length() const { return static_cast<int>(channel[0].size()); }
};

inline StereoSignal slice(StereoSignal const& s, size_t from, size_t to)
{
    return {Signal(s.left.begin() + from, s.left.begin() + to),
            Signal(s.right.begin() + from, s.right.begin() + to)};
}

inline void append(StereoSignal& to, StereoSignal const& more)
{
    to.left.insert(to.left.end(), more.left.begin(), more.left.end());
    to.right.insert(to.right.end(), more.right.begin(), more.right.end());
}

inline float max_difference(Signal const& a, Signal const& b)
{
    float worst = a.size() == b.size() ? 0.0f : 1e30f;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

inline size_t peak_position(Signal const& s)
{
    return static_cast<size_t>(
        std::max_element(s.begin(), s.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
        s.begin());
}

class EngineTest : public SettingsTest {
protected:
    // Messages other than the once-per-process notice that the system refused a thread priority.
    std::vector<RecordedMessage> engine_messages() const
    {
        std::vector<RecordedMessage> kept;
        for (RecordedMessage const& message : messages_.messages())
            if (message.text.find("does not permit raising the priority") == std::string::npos)
                kept.push_back(message);
        return kept;
    }

    // Writes the settings the engine reads, then builds it. Other settings keep their defaults.
    std::unique_ptr<VST_Plugin> make_engine(int latency, int rate = 48000, int sr_norm = 0)
    {
        CheckPrefs();
        set_latency_in_registry(latency);
        set_sr_gain_in_registry(sr_norm);
        return std::make_unique<VST_Plugin>(rate);
    }

    // IR1 alone in Parallel Stereo, 0 dB everywhere, wet only, no glide or modulation: the output is
    // exactly IR1's convolution.
    static void unity_fields(VST_Plugin_Program& p)
    {
        p.master_gain = 0.5f;
        p.master_mix = 1.0f;
        p.master_ir1_ir2_mix = p.master_ir1_ir2_mix_mod = 0.0f;
        p.ir1_toggle = 1.0f;
        p.ir2_toggle = 0.0f;
        p.ir1_gain = p.ir2_gain = p.ir1_balance = p.ir2_balance = 0.5f;
        p.ir1_topology = p.ir2_topology = 0.0f;
    }
    static void set_unity_program(VST_Plugin& engine)
    {
        edit_program(engine, unity_fields);
        engine.smoothed_mix = 0.0f;
    }

    // Applies `edit` to a copy of the current program and hands the bank over, as the host binding
    // does (what the IR computation thread reads); the audio side takes it at once, so edits and
    // direct changes of engine.program add up in the order a test makes them.
    static void edit_program(VST_Plugin& engine, std::function<void(VST_Plugin_Program&)> const& edit)
    {
        std::vector<VST_Plugin_Program> bank(engine.programs, engine.programs + programs_per_bank);
        int const current = static_cast<int>(engine.program - engine.programs);
        edit(bank[static_cast<size_t>(current)]);
        engine.update_programs(bank.data(), current);
        engine.adopt_published_programs();
    }

    static void set_path(char (&field)[program_path_size], std::string const& path)
    {
        std::memset(field, 0, sizeof field);
        std::strncpy(field, path.c_str(), sizeof field - 1);
    }

    // Stereo audio through processReplacing (layout 2) in blocks whose sizes cycle through `blocks`.
    static StereoSignal run_stereo(VST_Plugin& engine, StereoSignal input,
                                   std::vector<int> const& blocks = {1000, 1, 37, 512, 4096, 129})
    {
        engine.channel_mode = 2;
        size_t const total = input.left.size();
        StereoSignal out{Signal(total, 0.0f), Signal(total, 0.0f)};
        for (size_t b = 0, done = 0; done < total; ++b) {
            int const n = static_cast<int>(
                std::min<size_t>(static_cast<size_t>(blocks[b % blocks.size()]), total - done));
            float* ins[2] = {input.left.data() + done, input.right.data() + done};
            float* outs[2] = {out.left.data() + done, out.right.data() + done};
            engine.processReplacing(ins, outs, n);
            done += static_cast<size_t>(n);
        }
        return out;
    }

    // The engine's output for one impulse of the given amplitudes at frame 0, from silent histories.
    static StereoSignal respond(VST_Plugin& engine, float left, float right, size_t frames)
    {
        engine.silence_buffers();
        StereoSignal in{Signal(frames, 0.0f), Signal(frames, 0.0f)};
        in.left[0] = left;
        in.right[0] = right;
        return run_stereo(engine, in);
    }

    // Waits until the IR computation thread has served every request; false after `limit`.
    static bool wait_idle(VST_Plugin& engine, std::chrono::seconds limit = std::chrono::seconds(120))
    {
        auto const end = std::chrono::steady_clock::now() + limit;
        while (engine.is_ir_work_pending()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    static void rebuild_ir1(VST_Plugin& engine, bool full)
    {
        full ? engine.signal_recompute_ir1_full() : engine.signal_recompute_ir1_partial();
        ASSERT_TRUE(wait_idle(engine));
    }

    // IR1 alone at unity gains from file `a`, not normalised, at 48 kHz without rate normalisation;
    // `edit` then changes the program. Built unless `build` is false.
    std::unique_ptr<VST_Plugin> file_engine(std::filesystem::path const& a,
                                            std::function<void(VST_Plugin_Program&)> const& edit = {},
                                            bool build = true)
    {
        auto engine = make_engine(0, 48000, 1);
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            unity_fields(p);
            set_path(p.ir1_file_a, a.string());
            p.ir1_normalise = 0.0f;
            if (edit) edit(p);
        });
        engine->smoothed_mix = 0.0f;
        if (build) rebuild_ir1(*engine, true);
        return engine;
    }

    // A 32-bit float WAVE file in the test's folder, one channel per entry.
    std::filesystem::path write_wav(std::string const& name, std::vector<Signal> const& channels, int rate)
    {
        auto const path = files_.path() / name;
        EXPECT_TRUE(write_planar_wav(path, channels, rate)) << path;
        return path;
    }

    TempDir files_;
};

} // namespace corvella::test
