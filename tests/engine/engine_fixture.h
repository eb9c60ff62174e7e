#pragma once

// An engine in a private settings folder, with helpers to load impulse responses, set the program
// to known gains and run audio through the host entry in uneven blocks.

#include "engine/vst_plugin.h"
#include "platform/settings_fixture.h"
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace corvella::test {

using Signal = std::vector<float>;

struct StereoSignal {
    Signal left, right;
};

class EngineTest : public SettingsTest {
protected:
    // Messages other than the once-per-process notice that the system refused a thread priority
    // (which the first engine of the process may show, whichever test builds it).
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

    // Gains that make the result an exact multiple of the convolution: IR1 alone, 0 dB everywhere,
    // wet only, no glide or modulation.
    static void set_unity_program(VST_Plugin& engine)
    {
        VST_Plugin_Program& p = *engine.program;
        p.master_gain = 0.5f;
        p.master_mix = 1.0f;
        p.master_ir1_ir2_mix = 0.0f;
        engine.smoothed_mix = 0.0f;
        p.master_ir1_ir2_mix_mod = 0.0f;
        p.ir1_toggle = 1.0f;
        p.ir2_toggle = 0.0f;
        p.ir1_gain = 0.5f;
        p.ir2_gain = 0.5f;
        p.ir1_balance = 0.5f;
        p.ir2_balance = 0.5f;
        p.ir1_topology = 0.0f;
        p.ir2_topology = 0.0f;
    }

    // Runs stereo audio through processReplacing (layout 2) in blocks whose sizes cycle through
    // `blocks`.
    static StereoSignal run_stereo(VST_Plugin& engine, StereoSignal const& input,
                                   std::vector<int> const& blocks = {1000, 1, 37, 512, 4096, 129})
    {
        engine.channel_mode = 2;
        StereoSignal in = input;
        size_t const total = in.left.size();
        StereoSignal out{Signal(total, 0.0f), Signal(total, 0.0f)};
        size_t done = 0;
        for (size_t b = 0; done < total; ++b) {
            int const n = static_cast<int>(
                std::min<size_t>(static_cast<size_t>(blocks[b % blocks.size()]), total - done));
            float* ins[2] = {in.left.data() + done, in.right.data() + done};
            float* outs[2] = {out.left.data() + done, out.right.data() + done};
            engine.processReplacing(ins, outs, n);
            done += static_cast<size_t>(n);
        }
        return out;
    }
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

// Four channels (A left, A right, B left, B right) for load_ir_into_slot.
struct FourChannelIr {
    Signal channel[4];
    float* pointers[4];
    explicit FourChannelIr(Signal a_left, Signal a_right, Signal b_left, Signal b_right)
        : channel{std::move(a_left), std::move(a_right), std::move(b_left), std::move(b_right)}
    {
        for (int c = 0; c < 4; ++c)
            pointers[c] = channel[c].data();
    }
    int length() const { return static_cast<int>(channel[0].size()); }
};

// A unit impulse `delay` samples in, in a response of `length`.
inline Signal delayed_impulse(int length, int delay, float amplitude = 1.0f)
{
    Signal ir(static_cast<size_t>(length), 0.0f);
    ir[static_cast<size_t>(delay)] = amplitude;
    return ir;
}

} // namespace corvella::test
