// The frame around the convolvers: host layouts, silence detection and the idle bypass, the dry
// delay line and its failures, half-rate mode, allocation-free processing and denormal-free tails.

#include "engine_fixture.h"

#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

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

using FrameTest = EngineTest;

// IR1: left impulse 3 samples in, right one of 0.5 at 7 samples; wet only at unit gain.
class LayoutTest : public EngineTest {
protected:
    void SetUp() override
    {
        engine = make_engine(0);
        ASSERT_TRUE(engine->processing_enabled.load());
        set_unity_program(*engine);
        FourChannelIr ir{delayed_impulse(8, 3), delayed_impulse(8, 7, 0.5f), delayed_impulse(8, 0),
                         delayed_impulse(8, 0)};
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    }
    std::unique_ptr<VST_Plugin> engine;
    Signal x = noise_burst(1000, 1000, 21);
    float at(int i) const { return i >= 0 ? x[static_cast<size_t>(i)] : 0.0f; }
};

TEST_F(LayoutTest, MonoInMonoOutReceivesTheMeanOfTheStereoResult)
{
    engine->channel_mode = 0;
    Signal in = x;
    Signal out(1000, 0.0f);
    float* ins[1] = {in.data()};
    float* outs[1] = {out.data()};
    engine->processReplacing(ins, outs, 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_NEAR(out[static_cast<size_t>(i)], (at(i - 3) + 0.5f * at(i - 7)) * 0.5f, 1e-6f) << i;
}

TEST_F(LayoutTest, MonoInStereoOutProcessesAThousandFramesAcrossTheStepBoundary)
{
    engine->channel_mode = 1;
    Signal in = x;
    Signal left(1000 + 4, 7.0f), right(1000 + 4, 7.0f); // canaries after the block
    float* ins[1] = {in.data()};
    float* outs[2] = {left.data(), right.data()};
    engine->processReplacing(ins, outs, 1000);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NEAR(left[static_cast<size_t>(i)], at(i - 3), 1e-6f) << i;
        ASSERT_NEAR(right[static_cast<size_t>(i)], 0.5f * at(i - 7), 1e-6f) << i;
    }
    for (size_t i = 1000; i < left.size(); ++i) {
        EXPECT_EQ(left[i], 7.0f);
        EXPECT_EQ(right[i], 7.0f);
    }
}

TEST_F(LayoutTest, NonPositiveFrameCountsAndUnknownLayoutsDoNothing)
{
    Signal in = x, out(1000, 7.0f);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {out.data(), out.data()};
    engine->processReplacing(ins, outs, 0);
    engine->processReplacing(ins, outs, -5);
    engine->channel_mode = 3;
    engine->processReplacing(ins, outs, 100);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[99], 7.0f);
}

TEST_F(LayoutTest, SilenceDetectionCountsOnlyWhollySilentChunks)
{
    EXPECT_EQ(engine->silent_sample_count, 882000);
    StereoSignal silent{Signal(256, 0.0f), Signal(256, 0.0f)};
    run_stereo(*engine, silent, {256});
    EXPECT_EQ(engine->silent_sample_count, 882256);

    // First samples zero, something later: not silent.
    StereoSignal late = silent;
    late.right[200] = 0.25f;
    run_stereo(*engine, late, {256});
    EXPECT_EQ(engine->silent_sample_count, 0);

    run_stereo(*engine, silent, {256});
    EXPECT_EQ(engine->silent_sample_count, 256);
    StereoSignal first = silent;
    first.left[0] = 0.1f;
    run_stereo(*engine, first, {256});
    EXPECT_EQ(engine->silent_sample_count, 0);

    // Samples that cancel out are not silence.
    StereoSignal cancelling = silent;
    cancelling.left[5] = 0.5f;
    cancelling.left[6] = -0.5f;
    run_stereo(*engine, cancelling, {256});
    EXPECT_EQ(engine->silent_sample_count, 0);
}

TEST_F(LayoutTest, SilentInputAfterTheTailIsCopiedWithoutProcessing)
{
    // The meters change only when a step runs.
    StereoSignal silent{Signal(512, 0.0f), Signal(512, 0.0f)};
    engine->output_level_left = -1.0f;
    run_stereo(*engine, silent, {512}); // a fresh engine starts idle
    EXPECT_EQ(engine->output_level_left.load(), -1.0f);

    // Any delay side switched on keeps the engine processing.
    engine->program->master_delay_r_toggle = 1.0f;
    run_stereo(*engine, silent, {512});
    EXPECT_EQ(engine->output_level_left.load(), 0.0f);
    engine->program->master_delay_r_toggle = 0.0f;

    // Input, then silence: processing goes on for the length of the response, then stops.
    StereoSignal click = silent;
    click.left[0] = 1.0f;
    run_stereo(*engine, click, {512});
    engine->output_level_left = -1.0f;
    run_stereo(*engine, silent, {512}); // the 1 ms response has 48 samples to finish: processed
    EXPECT_EQ(engine->output_level_left.load(), 0.0f);
    engine->output_level_left = -1.0f;
    run_stereo(*engine, silent, {512});
    EXPECT_EQ(engine->output_level_left.load(), -1.0f);
}

TEST_F(FrameTest, ProgramChangeBlocksAudioHoldsTheCallbackUntilTheRebuildEnds)
{
    CheckPrefs();
    set_program_change_blocks_audio_in_registry(1);
    auto engine = make_engine(0);
    ASSERT_TRUE(engine->program_change_blocks_audio);
    engine->channel_mode = 2;
    engine->ir_rebuild_busy = true;

    std::atomic<bool> returned{false};
    std::thread audio([&] {
        std::vector<float> left(256, 0.25f), right(256, 0.25f), out_l(256), out_r(256);
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {out_l.data(), out_r.data()};
        engine->processReplacing(in, out, 256);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned.load()) << "the callback must wait while the IRs are rebuilt";
    engine->ir_rebuild_busy = false;
    audio.join();
    EXPECT_TRUE(returned.load());
}

TEST_F(FrameTest, DryDelayOverflowAbandonsTheChunkWithAMessage)
{
    auto engine = make_engine(1024);
    set_unity_program(*engine);
    engine->dry_delay_length = 100; // shorter than a step
    StereoSignal input{noise_burst(600, 600, 3), noise_burst(600, 600, 4)};
    StereoSignal in = input;
    Signal left(600, 7.0f), right(600, 7.0f);
    float* ins[2] = {in.left.data(), in.right.data()};
    float* outs[2] = {left.data(), right.data()};
    engine->processReplacing(ins, outs, 600);
    auto const messages = engine_messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.back().caption, "Tarn Wick: Corvella");
    EXPECT_EQ(messages.back().text,
              "Received too many samples for dry delay line.: \nSeen during process_replacing");
    // The engine-owned output of the abandoned chunk is not what a finished step would give; the
    // engine stays enabled for the next chunk.
    EXPECT_TRUE(engine->processing_enabled.load());
    engine->dry_delay_length = 1024 + 16384;
}

TEST_F(FrameTest, DryDelayLineErrors)
{
    auto engine = make_engine(1024);
    float a[4] = {}, b[4] = {};
    float* buffer[2] = {a, b};
    try {
        engine->process_delay_line_inplace(buffer, engine->dry_delay_length + 1);
        ADD_FAILURE() << "no exception";
    } catch (std::runtime_error const& error) {
        EXPECT_STREQ(error.what(), "Received too many samples for dry delay line.");
    }
    try {
        engine->process_delay_line_inplace(nullptr, 4);
        ADD_FAILURE() << "no exception";
    } catch (std::runtime_error const& error) {
        EXPECT_STREQ(error.what(), "Dry delay line null pointer error.");
    }
}

TEST_F(FrameTest, DryDelayWrapsAroundTheRing)
{
    auto engine = make_engine(256); // 2N = 256
    Signal left(40000), right(40000);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(i + 1);
        right[i] = -static_cast<float>(i + 1);
    }
    Signal l = left, r = right;
    for (size_t done = 0; done < l.size(); done += 500) {
        float* buffer[2] = {l.data() + done, r.data() + done};
        engine->process_delay_line_inplace(buffer, 500);
    }
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_EQ(l[i], i >= 256 ? left[i - 256] : 0.0f) << i;
        ASSERT_EQ(r[i], i >= 256 ? right[i - 256] : 0.0f) << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Half rate

// The 16-tap anti-alias filter as the engine designs it, computed here independently: the second
// half of a 32-tap Blackman-windowed sinc at a quarter of the host rate, doubled.
std::vector<double> anti_alias_taps()
{
    constexpr int n = 32;
    std::vector<double> full(n);
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
        double const t = k - (n - 1) / 2.0;
        double const sinc =
            2.0 * 0.25 *
            (t == 0.0 ? 1.0
                      : std::sin(2.0 * std::numbers::pi * 0.25 * t) / (2.0 * std::numbers::pi * 0.25 * t));
        double const window = 0.42 - 0.5 * std::cos(2.0 * std::numbers::pi * k / (n - 1)) +
                              0.08 * std::cos(4.0 * std::numbers::pi * k / (n - 1));
        full[static_cast<size_t>(k)] = sinc * window;
        sum += full[static_cast<size_t>(k)];
    }
    std::vector<double> half(16);
    for (int k = 0; k < 16; ++k)
        half[static_cast<size_t>(k)] = 2.0 * full[static_cast<size_t>(16 + k)] / sum;
    return half;
}

double response(std::vector<double> const& taps, double frequency, double rate)
{
    std::complex<double> h = 0.0;
    for (size_t k = 0; k < taps.size(); ++k)
        h += taps[k] * std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate * static_cast<double>(k));
    return std::abs(h);
}

// Amplitude of the component at `frequency` over the second half of `signal`.
double amplitude(Signal const& signal, double frequency, double rate)
{
    size_t const start = signal.size() / 2;
    std::complex<double> sum = 0.0;
    for (size_t i = start; i < signal.size(); ++i)
        sum += static_cast<double>(signal[i]) *
               std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate * static_cast<double>(i));
    return 2.0 * std::abs(sum) / static_cast<double>(signal.size() - start);
}

class HalfRateTest : public EngineTest {
protected:
    void SetUp() override
    {
        engine = make_engine(0, 96000, 2);
        ASSERT_TRUE(engine->processing_enabled.load());
        ASSERT_EQ(engine->half_rate_factor, 2);
        ASSERT_EQ(engine->sample_rate, 48000);
        set_unity_program(*engine);
        engine->program->ir1_toggle = 0.0f;
        engine->program->master_mix = 0.0f; // dry only: the rate conversion alone
    }
    Signal run_tone(double frequency)
    {
        StereoSignal input{Signal(48000), Signal(48000)};
        for (size_t i = 0; i < input.left.size(); ++i)
            input.left[i] = input.right[i] = static_cast<float>(
                0.5 * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / 96000.0));
        return run_stereo(*engine, input, {512, 256, 100}).left;
    }
    std::unique_ptr<VST_Plugin> engine;
};

TEST_F(HalfRateTest, OutputHasTheHostLengthAndPassesLowFrequencies)
{
    StereoSignal input{Signal(1000, 0.25f), Signal(1000, 0.25f)};
    StereoSignal in = input;
    Signal left(1004, 7.0f), right(1004, 7.0f);
    float* ins[2] = {in.left.data(), in.right.data()};
    float* outs[2] = {left.data(), right.data()};
    engine->processReplacing(ins, outs, 1000);
    for (size_t i = 1000; i < 1004; ++i)
        EXPECT_EQ(left[i], 7.0f);
    // A constant comes out unchanged once the filters have filled (their taps sum to 1).
    for (size_t i = 64; i < 1000; ++i)
        ASSERT_NEAR(left[i], 0.25f, 1e-5f) << i;

    double const gain = amplitude(run_tone(1000.0), 1000.0, 96000.0) / 0.5;
    auto const taps = anti_alias_taps();
    double const expected = response(taps, 1000.0, 96000.0) * response(taps, 1000.0, 96000.0) *
                            std::cos(std::numbers::pi * 1000.0 / 96000.0);
    EXPECT_NEAR(gain, expected, 0.01);
}

TEST_F(HalfRateTest, AliasOfATopOctaveToneIsNoLouderThanTheFiltersAllow)
{
    // 30 kHz at 96 kHz folds to 18 kHz at the engine's 48 kHz.
    Signal const out = run_tone(30000.0);
    auto const taps = anti_alias_taps();
    double const allowed = 0.5 * response(taps, 30000.0, 96000.0) * response(taps, 18000.0, 96000.0) *
                           std::cos(std::numbers::pi * 18000.0 / 96000.0);
    double const alias = amplitude(out, 18000.0, 96000.0);
    EXPECT_LE(alias, allowed * 1.02 + 1e-6);
    EXPECT_GT(alias, allowed * 0.5); // the measurement does see the alias
}

// ---------------------------------------------------------------------------------------------
// Real-time behaviour

TEST_F(FrameTest, ProcessingAllocatesNothingInAnyLayout)
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
        Signal a = noise_burst(20000, 20000, 5), b = noise_burst(20000, 20000, 6);
        Signal c(20000), d(20000);
        float* ins[2] = {a.data(), b.data()};
        float* outs[2] = {c.data(), d.data()};
        engine->processReplacing(ins, outs, 20000); // warm-up
        AllocationCounter counter;
        for (int mode : {2, 0, 1}) {
            engine->channel_mode = mode;
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
    int const length = 48000;
    Signal h(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        h[static_cast<size_t>(i)] =
            static_cast<float>(std::exp(-i * 110.0 / length)) * (i % 2 ? 1.0f : -1.0f);
    FourChannelIr ir{h, h, h, h};
    ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));

    size_t const active = 4800;
    size_t const total = 60 * 48000;
    Signal left = noise_burst(total, active, 9), right = noise_burst(total, active, 10);
    Signal out_left(total), out_right(total);
    for (size_t done = 0; done < total; done += 1024) {
        int const n = static_cast<int>(std::min<size_t>(1024, total - done));
        float* ins[2] = {left.data() + done, right.data() + done};
        float* outs[2] = {out_left.data() + done, out_right.data() + done};
        engine->processReplacing(ins, outs, n);
    }
    size_t bad = 0;
    for (size_t i = active; i < total; ++i)
        for (float value : {out_left[i], out_right[i]}) {
            int const kind = std::fpclassify(value);
            if (kind != FP_ZERO && kind != FP_NORMAL) ++bad;
        }
    EXPECT_EQ(bad, 0u);
}

} // namespace
} // namespace corvella::test
