// The chorus: its modulated read and feedback against a double-precision model, the 5-sample
// floor, stability at full feedback, quiet tails, setter refusals, construction failures and
// concurrent use.
#include "effects/chorus.h"

#include "delay_effect_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace corvella::test;

constexpr double pi = std::numbers::pi;

// One channel without cross-feed: ring v[n] = x[n] - g v[n - T], output
// y[n] = a v[n - D] + v[n - D - 1] - a y[n - 1] for the LFO-swept delay D + d.
std::vector<double> reference_chorus(std::vector<double> const& x, int mode, double delay_ms, double depth_ms,
                                     double rate_hz, double g)
{
    double const base = delay_ms * rate / 1000.0, depth = depth_ms * rate / 1000.0, period = rate / rate_hz;
    int const feedback_delay = std::max(1, static_cast<int>(base));
    std::vector<double> v(x.size()), y(x.size());
    auto at = [&](std::vector<double> const& s, long n) { return n >= 0 ? s[n] : 0.0; };
    double previous = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        long const counter = static_cast<long>(n + 1) % static_cast<long>(period);
        double const delay =
            std::max(5.0, (table_sine(counter * 2.0 * pi / period) * 0.5 + 0.5) * depth + base);
        long const whole = static_cast<long>(delay), m = static_cast<long>(n);
        double const d = delay - whole;
        double const a = mode == 1 ? (1.0 - d) / (1.0 + d)
                                   : (table_sine((1.0 - d) * pi / rate) + 1e-9) /
                                         (table_sine((1.0 + d) * pi / rate) + 1e-9);
        v[n] = x[n] - g * at(v, m - feedback_delay);
        y[n] = previous = a * at(v, m - whole) + at(v, m - whole - 1) - a * previous;
    }
    return y;
}

TEST(Chorus, ModulatedReadWithFeedbackMatchesAllpassFractionalDelayOverAWholeLfoPeriod)
{
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        chorus effect(2, rate);
        effect.set_mode(mode);
        effect.set_width(0.0f); // both channels on one phase, no cross-feed
        effect.set_delay_ms(9.0f);
        effect.set_delay_mod_ms(5.0f);
        effect.set_delay_mod_rate_hz(2.0f); // a period of 24000 frames
        effect.set_feedback(0.5f);
        effect.set_dry(0.0f);
        effect.set_wet(1.0f);
        int const period = 24000, frames = 2 * period + 2000;
        stereo audio = tones(frames);
        stereo const input = audio;
        std::vector<int> const starts = process_in_random_blocks(effect, audio, 700, 7);
        for (int c = 0; c < 2; ++c) {
            auto const y = reference_chorus(biased_input(input.ch[c], starts), mode, 9.0, 5.0, 2.0, 0.5);
            EXPECT_LT(error_db(audio.ch[c], y, frames - period, frames), -80.0) << "channel " << c;
        }
    }
}

// The chorus works through blocks in runs of frames; the host's block sizes must not show.
TEST(Chorus, CrossFedOutputIsTheSameWhateverTheHostsBlockSizes)
{
    auto make = [] {
        auto effect = std::make_unique<chorus>(2, rate);
        effect->set_width(0.75f);
        effect->set_delay_ms(7.0f);
        effect->set_delay_mod_ms(4.0f);
        effect->set_delay_mod_rate_hz(5.0f);
        effect->set_feedback(0.6f);
        return effect;
    };
    int const frames = 20000;
    stereo whole(frames);
    std::mt19937 engine(5);
    whole.fill_noise(engine);
    stereo pieces = whole;
    make()->process_replacing(whole.at(0), frames);
    process_in_random_blocks(*make(), pieces, 700, 11);
    for (int c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n)
            ASSERT_NEAR(pieces.ch[c][n], whole.ch[c][n], 1e-5f) << "channel " << c << " frame " << n;
}

TEST(Chorus, NoDelayAndNoDepthReadFiveSamplesBackAndToggleOffLeavesBuffersUntouched)
{
    chorus effect(2, rate);
    effect.set_delay_ms(0.0f);
    effect.set_delay_mod_ms(0.0f);
    effect.set_dry(0.0f);
    effect.set_width(0.0f);
    stereo audio(64);
    audio.ch[0][0] = audio.ch[1][3] = 1.0f;
    effect.process_replacing(audio.at(0), 64);
    for (int n = 0; n < 64; ++n) {
        EXPECT_NEAR(audio.ch[0][n], n == 5 ? 1.0f : 0.0f, 1e-6f) << n;
        EXPECT_NEAR(audio.ch[1][n], n == 8 ? 1.0f : 0.0f, 1e-6f) << n;
    }
    effect.set_toggle_unity(0.0f);
    stereo noise(256);
    std::mt19937 engine(3);
    noise.fill_noise(engine);
    stereo const before = noise;
    effect.process_replacing(noise.at(0), 256);
    EXPECT_EQ(noise.ch[0], before.ch[0]);
    EXPECT_EQ(noise.ch[1], before.ch[1]);
}

TEST(Chorus, HighestFeedbackStaysBoundedOverSixtySecondsOfFullScaleNoise)
{
    chorus effect(2, rate);
    effect.set_delay_ms(9.0f);
    effect.set_delay_mod_ms(5.0f);
    effect.set_delay_mod_rate_hz(0.1f);
    effect.set_wet(0.5f);
    effect.set_feedback_unity(1.0f);
    ASSERT_LT(effect.get_feedback(), 1.0f);
    // The ring sums at most frames / T + 1 terms of g^k <= 1 (T = 432 samples); the allpass
    // (impulse-response sum 1 + 2a <= 3) and the cross-feed (width x the low-cut's own sum,
    // below 2) scale that by at most 3 x (1 + 2 x 0.75).
    int const block = 512, blocks = 60 * rate / block;
    double const bound =
        1.0 + 0.5 * 3.0 * (1.0 + 2.0 * 0.75) * (static_cast<double>(blocks) * block / 432.0 + 1.0);
    std::mt19937 engine(11);
    stereo audio(block);
    double peak = 0.0;
    for (int b = 0; b < blocks; ++b) {
        audio.fill_noise(engine);
        effect.process_replacing(audio.at(0), block);
        for (auto const& ch : audio.ch)
            for (float v : ch) {
                ASSERT_TRUE(std::isfinite(v)) << "block " << b;
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
            }
    }
    EXPECT_LT(peak, bound);
}

TEST(Chorus, QuietTailStaysNormalWithoutFlushToZeroAndProcessingAllocatesNothing)
{
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        chorus effect(2, rate);
        effect.set_mode(mode);
        effect.set_delay_ms(9.0f);
        effect.set_delay_mod_ms(5.0f);
        effect.set_delay_mod_rate_hz(0.7f);
        effect.set_feedback(0.2f);
        expect_normal_tail_without_allocation(effect, 256, 2000, 19); // 0.1 s of noise, then 10 s of silence
    }
}

TEST(Chorus, OutOfRangeSettingsAreRefusedWithTheirMessageAndUnityValuesClamped)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    using C = chorus;
    auto feedback = [](C const& e) { return e.get_feedback(); };
    auto delay = [](C const& e) { return e.get_delay_ms(); };
    auto depth = [](C const& e) { return e.get_delay_mod_ms(); };
    auto lfo = [](C const& e) { return e.get_delay_mod_rate_hz(); };
    auto wet = [](C const& e) { return e.get_wet(); };
    // clang-format off
    expect_refusals<C>({
        {[](C& e) { e.set_feedback(1.0f); }, feedback, "Invalid feedback value"},
        {[](C& e) { e.set_feedback(-0.1f); }, feedback, "Invalid feedback value"},
        {[=](C& e) { e.set_feedback_unity(nan); }, feedback, "Invalid feedback value"},
        {[](C& e) { e.set_dry(1.5f); }, [](C const& e) { return e.get_dry(); }, "Invalid dry value"},
        {[=](C& e) { e.set_wet(nan); }, wet, "Invalid wet value"},
        {[](C& e) { e.set_width(2.0f); }, [](C const& e) { return e.get_width(); }, "Invalid width value"},
        {[](C& e) { e.set_delay_ms(25.0f); }, delay, "Invalid chorus delay"},
        {[=](C& e) { e.set_delay_ms_unity(nan); }, delay, "Invalid chorus delay"},
        {[](C& e) { e.set_delay_mod_ms(10.5f); }, depth, "Invalid chorus delay mod"},
        {[](C& e) { e.set_delay_mod_ms(-1.0f); }, depth, "Invalid chorus delay mod"},
        {[](C& e) { e.set_delay_mod_rate_hz(-1.0f); }, lfo, "Invalid chorus delay mod rate"},
        {[](C& e) { e.set_mode(2); }, [](C const& e) { return static_cast<float>(e.get_mode()); }, "Invalid chorus mode"},
    }, [] { return C(2, rate); });

    struct clamp { std::function<void(C&)> set; std::function<float(C const&)> get; float expected; };
    clamp const clamps[] = {
        {[](C& e) { e.set_delay_ms(-3.0f); }, delay, 0.01f},         {[](C& e) { e.set_delay_ms_unity(0.0f); }, delay, 0.01f},
        {[](C& e) { e.set_delay_ms_unity(1.0f); }, delay, 20.0f},         {[](C& e) { e.set_delay_mod_ms_unity(1.0f); }, depth, 10.0f},
        {[](C& e) { e.set_feedback_unity(1.0f); }, feedback, std::nextafter(1.0f, 0.0f)}, {[](C& e) { e.set_wet_unity(1.5f); }, wet, 1.0f},
        {[](C& e) { e.set_delay_mod_rate_hz_unity(0.0f); }, lfo, 0.02f}, {[](C& e) { e.set_delay_mod_rate_hz_unity(1.0f); }, lfo, 20.0f},
    };
    // clang-format on
    MessageRecorder recorder;
    for (auto const& c : clamps) {
        chorus effect(2, rate);
        c.set(effect);
        EXPECT_FLOAT_EQ(c.get(effect), c.expected);
    }
    EXPECT_EQ(recorder.count(), 0u);
}

TEST(Chorus, ConstructionAndRateChangeRefuseInvalidChannelsAndRates)
{
    struct bad {
        int channels, sample_rate;
        char const* message;
    };
    for (auto const& b :
         {bad{3, rate, "Invalid number of chorus channels"},
          bad{-1, rate, "Invalid number of chorus channels"}, bad{2, 9999, "Invalid chorus sample rate"},
          bad{2, 192001, "Invalid chorus sample rate"},
          bad{0, rate, "Chorus error, too few channels defined"}})
        EXPECT_EQ(thrown_text([&] { chorus effect(b.channels, b.sample_rate); }), b.message);
    chorus effect(2, rate);
    EXPECT_EQ(effect.get_line_length(), 1440);
    EXPECT_EQ(thrown_text([&] { effect.set_sample_rate(5000); }), "Invalid chorus sample rate");
    EXPECT_EQ(effect.get_sample_rate(), rate);
    effect.set_sample_rate(44100);
    EXPECT_EQ(effect.get_line_length(), 1323);
    effect.chorus_destroy();
    EXPECT_EQ(thrown_text([&] { effect.chorus_destroy(); }),
              "Chorus tried to free unallocated delay line memory holder");
}

TEST(Chorus, SettersRateChangesAndSilencingRunBesideProcessing)
{
    chorus effect(2, rate);
    expect_finite_beside_processing(effect, [&](int i) {
        effect.set_delay_ms_unity(static_cast<float>(i % 10) / 10.0f);
        effect.set_delay_mod_ms_unity(static_cast<float>(i % 7) / 7.0f);
        effect.set_delay_mod_rate_hz_unity(static_cast<float>(i % 5) / 5.0f);
        effect.set_feedback_unity(0.9f);
        effect.set_mode(i % 2);
        if (i % 10 == 3) effect.set_sample_rate(i % 20 == 3 ? 96000 : rate);
        if (i % 10 == 7) effect.silence_delay_lines();
    });
}

} // namespace
