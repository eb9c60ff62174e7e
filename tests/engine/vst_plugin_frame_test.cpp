// The frame around the convolvers: host layouts, silence detection and the idle bypass, the dry
// delay line's failures, half-rate mode, allocation-free processing and denormal-free tails.

#include "engine_fixture.h"

#include "platform/audio_thread_messages.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <thread>
#include <vector>

namespace corvella::test {
namespace {

constexpr double pi = std::numbers::pi;
using FrameTest = EngineTest;

// IR1: left impulse 3 samples in, right one of 0.5 at 7 samples; wet only at unit gain.
class LayoutTest : public EngineTest {
protected:
    void SetUp() override
    {
        engine = make_engine(0);
        ASSERT_TRUE(engine->processing_enabled.load());
        set_unity_program(*engine);
        FourChannelIr ir{sparse(8, {{3, 1.0f}}), sparse(8, {{7, 0.5f}}), sparse(8, {{0, 1.0f}}),
                         sparse(8, {{0, 1.0f}})};
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    }
    float at(int i) const { return i >= 0 ? x[static_cast<size_t>(i)] : 0.0f; }

    std::unique_ptr<VST_Plugin> engine;
    Signal x = noise_burst(1000, 1000, 21);
};

// Layout 0 is mono in and out (the mean of both sides), 1 mono in and stereo out; 1000 frames go
// as 512 + 488. Non-positive frame counts and unknown layouts touch nothing.
TEST_F(LayoutTest, MonoLayoutsAndRefusedCalls)
{
    for (int mode : {0, 1}) {
        engine->channel_mode = mode;
        engine->silence_buffers();
        Signal in = x, left(1000 + 4, 7.0f), right(1000 + 4, 7.0f); // canaries after the block
        float* ins[1] = {in.data()};
        float* outs[2] = {left.data(), right.data()};
        engine->processReplacing(ins, outs, 1000);
        for (int i = 0; i < 1000; ++i) {
            if (mode == 0) {
                ASSERT_NEAR(left[static_cast<size_t>(i)], (at(i - 3) + 0.5f * at(i - 7)) * 0.5f, 1e-6f) << i;
            } else {
                ASSERT_NEAR(left[static_cast<size_t>(i)], at(i - 3), 1e-6f) << i;
                ASSERT_NEAR(right[static_cast<size_t>(i)], 0.5f * at(i - 7), 1e-6f) << i;
            }
        }
        EXPECT_EQ(Signal(left.begin() + 1000, left.end()), Signal(4, 7.0f)) << "layout " << mode;
        EXPECT_EQ(right[mode == 0 ? 0 : 1000], 7.0f) << "layout " << mode;
    }
    Signal in = x, out(1000, 7.0f);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {out.data(), out.data()};
    engine->processReplacing(ins, outs, 0);
    engine->processReplacing(ins, outs, -5);
    engine->channel_mode = 3;
    engine->processReplacing(ins, outs, 100);
    EXPECT_EQ(out, Signal(1000, 7.0f));
}

TEST_F(LayoutTest, SilenceDetectionCountsOnlyWhollySilentChunksAndIdlesAfterTheTail)
{
    EXPECT_EQ(engine->silent_sample_count, 882000);
    StereoSignal const silent{Signal(256, 0.0f), Signal(256, 0.0f)};
    run_stereo(*engine, silent, {256});
    EXPECT_EQ(engine->silent_sample_count, 882256);
    // A sample late in the chunk, the first sample, and samples that cancel out are not silence.
    for (auto const& [side, impulses] : {std::pair{1, std::vector<std::pair<int, float>>{{200, 0.25f}}},
                                         {0, {{0, 0.1f}}},
                                         {0, {{5, 0.5f}, {6, -0.5f}}}}) {
        StereoSignal sound = silent;
        (side ? sound.right : sound.left) = sparse(256, impulses);
        run_stereo(*engine, sound, {256});
        EXPECT_EQ(engine->silent_sample_count, 0);
        run_stereo(*engine, silent, {256});
        EXPECT_EQ(engine->silent_sample_count, 256);
    }

    // Idle steps copy the input without processing; the meters change only when a step runs.
    StereoSignal const block{Signal(512, 0.0f), Signal(512, 0.0f)};
    auto processed = [&](StereoSignal const& in) {
        engine->output_level_left = -1.0f;
        run_stereo(*engine, in, {512});
        return engine->output_level_left.load() != -1.0f;
    };
    EXPECT_FALSE(processed(block));
    engine->program->master_delay_r_toggle = 1.0f; // any delay side switched on keeps it processing
    EXPECT_TRUE(processed(block));
    engine->program->master_delay_r_toggle = 0.0f;
    StereoSignal click = block;
    click.left[0] = 1.0f;
    EXPECT_TRUE(processed(click));
    EXPECT_TRUE(processed(block)); // the 1 ms response has 48 samples to finish
    EXPECT_FALSE(processed(block));
}

TEST_F(FrameTest, ProgramChangeBlocksAudioHoldsTheCallbackUntilTheRebuildEnds)
{
    CheckPrefs();
    set_program_change_blocks_audio_in_registry(1);
    auto engine = make_engine(0);
    ASSERT_TRUE(engine->program_change_blocks_audio);
    engine->channel_mode = 2;
    std::atomic<bool> returned{false};
    std::thread audio;
    {
        // The host binding is still raising the program change: the mute stays until it is done.
        VST_Plugin::RequestBatch const batch(*engine);
        engine->signal_set_program_disable_audio();
        audio = std::thread([&] {
            std::vector<float> left(256, 0.25f), right(256, 0.25f), out_l(256), out_r(256);
            float* in[2] = {left.data(), right.data()};
            float* out[2] = {out_l.data(), out_r.data()};
            engine->processReplacing(in, out, 256);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(returned.load()) << "the callback must wait while the IRs are rebuilt";
    }
    audio.join(); // nothing to rebuild: the worker releases the mute at its next poll
}

// The ring itself is seen wrapping in the topology tests' dry path.
TEST_F(FrameTest, DryDelayOverflowAbandonsTheChunkWithAMessage)
{
    auto engine = make_engine(256);
    set_unity_program(*engine);
    int const length = engine->dry_delay_length;
    engine->dry_delay_length = 100; // shorter than a step
    run_stereo(*engine, {noise_burst(600, 600, 3), noise_burst(600, 600, 4)}, {600});
    corvella::drain_audio_thread_messages(); // the audio thread only queues it
    EXPECT_EQ(engine_messages(),
              std::vector<RecordedMessage>({{"Tarn Wick: Corvella",
                                             "Received too many samples for dry delay line.: "
                                             "\nSeen during process_replacing",
                                             0}}));
    EXPECT_TRUE(engine->processing_enabled.load()) << "the engine stays enabled for the next chunk";
    engine->dry_delay_length = length;
    float a[4] = {}, b[4] = {};
    float* buffer[2] = {a, b};
    EXPECT_EQ(error_of([&] { engine->process_delay_line_inplace(buffer, length + 1); }),
              "Received too many samples for dry delay line.");
    EXPECT_EQ(error_of([&] { engine->process_delay_line_inplace(nullptr, 4); }),
              "Dry delay line null pointer error.");
}

// |H| of the 16-tap anti-alias filter as the engine designs it, computed here independently: the
// second half of a 32-tap Blackman-windowed sinc at a quarter of the host rate, doubled.
double anti_alias_gain(double frequency, double rate)
{
    constexpr int n = 32;
    double full[n], sum = 0.0;
    for (int k = 0; k < n; ++k) {
        double const t = k - (n - 1) / 2.0;
        double const sinc = 0.5 * std::sin(2.0 * pi * 0.25 * t) / (2.0 * pi * 0.25 * t);
        full[k] =
            sinc * (0.42 - 0.5 * std::cos(2.0 * pi * k / (n - 1)) + 0.08 * std::cos(4.0 * pi * k / (n - 1)));
        sum += full[k];
    }
    std::complex<double> h = 0.0;
    for (int k = 0; k < 16; ++k)
        h += 2.0 * full[16 + k] / sum * std::polar(1.0, -2.0 * pi * frequency / rate * k);
    return std::abs(h);
}

// Amplitude of the component at `frequency` over the second half of `signal`.
double amplitude(Signal const& signal, double frequency, double rate)
{
    size_t const start = signal.size() / 2;
    std::complex<double> sum = 0.0;
    for (size_t i = start; i < signal.size(); ++i)
        sum += static_cast<double>(signal[i]) *
               std::polar(1.0, -2.0 * pi * frequency / rate * static_cast<double>(i));
    return 2.0 * std::abs(sum) / static_cast<double>(signal.size() - start);
}

// At 96 kHz with "SRNorm" 2 the engine runs at 48 kHz; dry only, so the rate conversion alone. The
// output has the host's length, a constant passes unchanged once the filters have filled, a tone
// passes with the filters' gain, and 30 kHz folds to 18 kHz no louder than the filters allow.
TEST_F(FrameTest, HalfRateModeKeepsLengthPassesLowFrequenciesAndLimitsAliases)
{
    auto engine = make_engine(0, 96000, 2);
    ASSERT_EQ(engine->half_rate_factor, 2);
    ASSERT_EQ(engine->sample_rate, 48000);
    set_unity_program(*engine);
    engine->program->ir1_toggle = 0.0f;
    engine->program->master_mix = 0.0f;

    StereoSignal in{Signal(1000, 0.25f), Signal(1000, 0.25f)};
    Signal left(1004, 7.0f), right(1004, 7.0f);
    float* ins[2] = {in.left.data(), in.right.data()};
    float* outs[2] = {left.data(), right.data()};
    engine->processReplacing(ins, outs, 1000);
    EXPECT_EQ(Signal(left.begin() + 1000, left.end()), Signal(4, 7.0f));
    for (size_t i = 64; i < 1000; ++i)
        ASSERT_NEAR(left[i], 0.25f, 1e-5f) << i;

    auto run_tone = [&](double frequency) {
        Signal tone(48000);
        for (size_t i = 0; i < tone.size(); ++i)
            tone[i] =
                static_cast<float>(0.5 * std::sin(2.0 * pi * frequency * static_cast<double>(i) / 96000.0));
        return run_stereo(*engine, {tone, tone}, {512, 256, 100}).left;
    };
    double const gain = amplitude(run_tone(1000.0), 1000.0, 96000.0) / 0.5;
    EXPECT_NEAR(gain, std::pow(anti_alias_gain(1000.0, 96000.0), 2) * std::cos(pi * 1000.0 / 96000.0), 0.01);
    double const allowed = 0.5 * anti_alias_gain(30000.0, 96000.0) * anti_alias_gain(18000.0, 96000.0) *
                           std::cos(pi * 18000.0 / 96000.0);
    double const alias = amplitude(run_tone(30000.0), 18000.0, 96000.0);
    EXPECT_LE(alias, allowed * 1.02 + 1e-6);
    EXPECT_GT(alias, allowed * 0.5); // the measurement does see the alias
}

// In every layout, with gains, mix, balance and mix modulation gliding, both mixer orders and the
// chain switched.
TEST_F(FrameTest, ProcessingAllocatesNothingInAnyLayoutWhileGainsGlide)
{
    for (int latency : {0, 1024}) {
        auto engine = make_engine(latency);
        set_unity_program(*engine);
        engine->program->ir2_toggle = 1.0f;
        engine->program->master_mix = 0.5f;
        engine->program->ir1_topology = 1.0f / 3.0f;
        engine->program->master_ir1_ir2_mix_mod = 0.5f;
        FourChannelIr ir{decaying_noise(5000, 1), decaying_noise(5000, 2), decaying_noise(5000, 3),
                         decaying_noise(5000, 4)};
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir.pointers, ir.length()));
        Signal a = noise_burst(20000, 20000, 5), b = noise_burst(20000, 20000, 6), c(20000), d(20000);
        float* ins[2] = {a.data(), b.data()};
        float* outs[2] = {c.data(), d.data()};
        engine->processReplacing(ins, outs, 20000); // warm-up
        VST_Plugin_Program& p = *engine->program;
        AllocationCounter counter;
        for (int i = 0; i < 6; ++i) {
            engine->channel_mode = (i + 2) % 3;
            float const u = static_cast<float>(i % 3) * 0.4f;
            p.master_gain = p.master_mix = p.ir1_gain = p.ir2_gain = p.ir1_balance = u;
            p.master_ir1_ir2_mix = p.master_ir1_ir2_mix_mod = u;
            p.master_mixer_modulation_order = static_cast<float>(i % 2);
            p.ir1_ir2_chain = static_cast<float>(i / 3);
            for (int n : {1, 64, 333, 512, 4096, 17000})
                engine->processReplacing(ins, outs, n);
        }
        EXPECT_EQ(counter.count(), 0) << "latency " << latency;
    }
}

TEST_F(FrameTest, DecayingTailHasNoDenormals)
{
    auto engine = make_engine(0);
    set_unity_program(*engine);
    engine->program->master_mix = 0.5f;
    // A second of response decaying from 1 to far below the smallest normal float.
    Signal h(48000);
    for (size_t i = 0; i < h.size(); ++i)
        h[i] =
            static_cast<float>(std::exp(-static_cast<double>(i) * 110.0 / 48000.0)) * (i % 2 ? 1.0f : -1.0f);
    FourChannelIr ir(h);
    ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    // Flushed, the output is all zero within a second; a missing flush shows before it.
    size_t const active = 4800, total = 2 * 48000;
    StereoSignal const out =
        run_stereo(*engine, {noise_burst(total, active, 9), noise_burst(total, active, 10)}, {1024});
    size_t bad = 0;
    for (size_t i = active; i < total; ++i)
        for (float value : {out.left[i], out.right[i]})
            bad += std::fpclassify(value) != FP_ZERO && std::fpclassify(value) != FP_NORMAL;
    EXPECT_EQ(bad, 0u);
}

} // namespace
} // namespace corvella::test
