// The stereo delay: echoes of impulses against a double-precision model of the two rings with
// their feedback and opposite feedback, at tempo-derived times; clearing, quiet tails, setter
// refusals and concurrent use.
#include "effects/stereo_delay.h"

#include "delay_effect_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace corvella::test;

struct side {
    int delay; // samples
    float feedback, opposite, dry, wet;
    bool on;
};

// Rings v_c[n] = gate_c x_c[n] + feedback_c v_c[n - T_c] + opposite_o v_o[n - T_o];
// output dry_c x_c[n] + wet_c v_c[n - T_c].
void reference_delay(std::vector<double> const (&x)[2], side const (&s)[2], std::vector<double> (&out)[2])
{
    std::size_t const frames = x[0].size();
    std::vector<double> v[2] = {std::vector<double>(frames), std::vector<double>(frames)};
    auto back = [&](int c, std::size_t n, int t) {
        return n >= static_cast<std::size_t>(t) ? v[c][n - t] : 0.0;
    };
    for (std::size_t n = 0; n < frames; ++n) {
        for (int c = 0; c < 2; ++c)
            v[c][n] = (s[c].on ? x[c][n] : 0.0) + s[c].feedback * back(c, n, s[c].delay) +
                      s[1 - c].opposite * back(1 - c, n, s[1 - c].delay);
        for (int c = 0; c < 2; ++c)
            out[c][n] = s[c].dry * x[c][n] + s[c].wet * back(c, n, s[c].delay);
    }
}

TEST(StereoDelay, ImpulseEchoesAtTempoDerivedTimesWithFeedbackOppositeDryAndWetGains)
{
    struct echo_case {
        char const* name;
        float tempo; // the left side's tempo, as a host tempo change delivers it
        int numerator, denominator, expected_ms;
        bool left_on;
    };
    // clang-format off
    echo_case const cases[] = {
        {"4/16 at 120 BPM", 120.0f, 4, 16, 500, true},
        {"1/64 at 120 BPM: 31 ms, above the 11 ms floor", 120.0f, 1, 64, 31, true},
        {"1/1 at 30 BPM: 8000 ms clamped", 30.0f, 1, 1, 5000, true},
        {"3/8 at 150 BPM", 150.0f, 3, 8, 600, true},
        {"4/16 at 120 BPM, left off", 120.0f, 4, 16, 500, false},
    };
    // clang-format on
    for (auto const& ec : cases) {
        SCOPED_TRACE(ec.name);
        stereo_delay effect(rate);
        side const s[2] = {{ec.expected_ms * rate / 1000, 0.5f, 0.3f, 0.8f, 0.9f, ec.left_on},
                           {300 * rate / 1000, 0.4f, 0.25f, 0.6f, 0.7f, true}};
        // Left: the note at the default 120 BPM, then the host tempo (tempo lock on).
        effect.set_num_den(ec.numerator, ec.denominator, 0);
        effect.set_tempo(ec.tempo, 0);
        // Right: its own tempo of 150 BPM and 3/16, untouched by the left side's tempo (lock off).
        effect.set_tempo(150.0f, 1);
        effect.set_num_den(3, 16, 1);
        ASSERT_EQ(effect.get_delay_ms(0), static_cast<float>(ec.expected_ms));
        ASSERT_EQ(effect.get_delay_ms(1), 300.0f);
        for (int c = 0; c < 2; ++c) {
            effect.set_toggle_unity(s[c].on ? 1.0f : 0.0f, c);
            effect.set_feedback(s[c].feedback, c);
            effect.set_feedback_opposite(s[c].opposite, c);
            effect.set_dry(s[c].dry, c);
            effect.set_wet(s[c].wet, c);
        }
        int const frames = 3 * std::max(s[0].delay, s[1].delay) + 1000;
        stereo audio(frames);
        audio.ch[0][0] = 1.0f;
        audio.ch[1][100] = -0.5f;
        stereo const input = audio;
        std::vector<int> const starts = process_in_random_blocks(effect, audio, 4000, 9);
        std::vector<double> const x[2] = {biased_input(input.ch[0], starts),
                                          biased_input(input.ch[1], starts)};
        std::vector<double> expected[2] = {std::vector<double>(frames), std::vector<double>(frames)};
        reference_delay(x, s, expected);
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < frames; ++n)
                ASSERT_NEAR(audio.ch[c][n], expected[c][n], 1e-6) << "channel " << c << " at " << n;
        // The first echoes, where the note says.
        EXPECT_NEAR(audio.ch[0][s[0].delay], ec.left_on ? 0.9 : 0.0, 1e-6);
        EXPECT_NEAR(audio.ch[1][100 + s[1].delay], 0.7 * -0.5, 1e-6);
    }
}

// The delay works through blocks in runs of frames; with the read swept and both feedback paths
// on, the host's block sizes must not show.
TEST(StereoDelay, ModulatedEchoesAreTheSameWhateverTheHostsBlockSizes)
{
    auto make = [] {
        auto effect = std::make_unique<stereo_delay>(rate);
        for (int c = 0; c < 2; ++c) {
            effect->set_num_den(1 + c, 64, c); // 31 and 62 ms: many feedback rounds
            effect->set_delay_mod_ms(3.0f + c, c);
            effect->set_delay_mod_rate_hz(4.0f, c);
            effect->set_feedback(0.5f, c);
            effect->set_feedback_opposite(0.3f, c);
        }
        return effect;
    };
    int const frames = 30000;
    stereo whole(frames);
    whole.ch[0][0] = 1.0f;
    whole.ch[1][700] = -0.7f;
    stereo pieces = whole;
    make()->process_replacing(whole.at(0), frames);
    process_in_random_blocks(*make(), pieces, 300, 4);
    for (int c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n)
            ASSERT_NEAR(pieces.ch[c][n], whole.ch[c][n], 1e-6f) << "channel " << c << " frame " << n;
}

TEST(StereoDelay, ToggleSettingAndSilencingClearTheLines)
{
    struct clear_case {
        char const* name;
        std::function<void(stereo_delay&)> action;
        bool echo_expected;
    };
    clear_case const cases[] = {
        {"nothing", [](stereo_delay&) {}, true},
        {"left toggle set again", [](stereo_delay& e) { e.set_toggle_unity(1.0f, 0); }, false},
        {"right toggle changed", [](stereo_delay& e) { e.set_toggle_unity(0.0f, 1); }, false},
        {"silence_delay_lines", [](stereo_delay& e) { e.silence_delay_lines(); }, false},
    };
    for (auto const& cc : cases) {
        SCOPED_TRACE(cc.name);
        stereo_delay effect(rate);
        for (int c = 0; c < 2; ++c) {
            effect.set_num_den(4, 16, c); // 500 ms
            effect.set_dry(0.0f, c);
        }
        stereo audio(26000);
        audio.ch[0][0] = audio.ch[1][0] = 1.0f;
        effect.process_replacing(audio.at(0), 12000);
        cc.action(effect);
        effect.process_replacing(audio.at(12000), 14000);
        EXPECT_NEAR(audio.ch[0][24000], cc.echo_expected ? 1.0f : 0.0f, 1e-6f);
        EXPECT_NEAR(audio.ch[1][24000], cc.echo_expected ? 1.0f : 0.0f, 1e-6f);
    }
}

TEST(StereoDelay, QuietTailStaysNormalWithoutFlushToZeroAndProcessingAllocatesNothing)
{
    stereo_delay effect(rate);
    for (int c = 0; c < 2; ++c) {
        effect.set_delay_ms(1.0f + static_cast<float>(c), c);
        effect.set_feedback(0.5f, c);
        effect.set_feedback_opposite(0.3f, c);
        effect.set_delay_mod_ms(0.5f, c);
        effect.set_delay_mod_rate_hz(3.0f, c);
    }
    expect_normal_tail_without_allocation(effect, 480, 1000, 10); // 0.1 s of noise, then 9.9 s of silence
}

TEST(StereoDelay, OutOfRangeSettingsAreRefusedWithTheirMessageAndNoteValuesIgnored)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    using D = stereo_delay;
    // clang-format off
    expect_refusals<D>({
        {[](D& e) { e.set_feedback(1.0f, 0); }, [](D const& e) { return e.get_feedback(0); }, "Invalid feedback value"},
        {[=](D& e) { e.set_feedback_unity(nan, 1); }, [](D const& e) { return e.get_feedback(1); }, "Invalid feedback value"},
        {[](D& e) { e.set_feedback_opposite(-0.2f, 1); }, [](D const& e) { return e.get_feedback_opposite(1); }, "Invalid feedback opposite value"},
        {[](D& e) { e.set_dry(2.0f, 0); }, [](D const& e) { return e.get_dry(0); }, "Invalid dry value"},
        {[=](D& e) { e.set_wet(nan, 1); }, [](D const& e) { return e.get_wet(1); }, "Invalid wet value"},
        {[](D& e) { e.set_width(-1.0f, 0); }, [](D const& e) { return e.get_width(0); }, "Invalid width value"},
        {[](D& e) { e.set_delay_ms(5000.5f, 0); }, [](D const& e) { return e.get_delay_ms(0); }, "Invalid stereo_delay delay"},
        {[](D& e) { e.set_delay_mod_ms(11.0f, 1); }, [](D const& e) { return e.get_delay_mod_ms(1); }, "Invalid stereo_delay delay mod"},
        {[](D& e) { e.set_delay_mod_rate_hz(25.0f, 0); }, [](D const& e) { return e.get_delay_mod_rate_hz(0); }, "Invalid stereo_delay delay mod rate"},
        {[](D& e) { e.set_wet(0.5f, 2); }, [](D const& e) { return e.get_wet(0) + e.get_wet(1); }, "Invalid stereo_delay channel"},
    }, [] { return D(rate); });
    // clang-format on

    MessageRecorder recorder;
    D effect(rate);
    effect.set_delay_ms(-5.0f, 0);
    EXPECT_FLOAT_EQ(effect.get_delay_ms(0), 0.01f);
    effect.set_feedback_opposite_unity(1.0f, 0);
    EXPECT_LT(effect.get_feedback_opposite(0), 1.0f);
    effect.set_delay_mod_ms_unity(1.0f, 1);
    EXPECT_FLOAT_EQ(effect.get_delay_mod_ms(1), 10.0f);
    effect.set_delay_mod_rate_hz_unity(0.0f, 1);
    EXPECT_FLOAT_EQ(effect.get_delay_mod_rate_hz(1), 0.02f);
    // Note values and tempi out of range change nothing but what the tempo lock allows.
    effect.set_num_den(4, 16, 1);
    EXPECT_EQ(effect.get_delay_ms(1), 500.0f);
    effect.set_num_den(0, 8, 1); // the denominator is kept, the numerator refused
    EXPECT_EQ(effect.get_denominator(1), 8);
    EXPECT_EQ(effect.get_numerator(1), 4);
    EXPECT_EQ(effect.get_delay_ms(1), 500.0f);
    effect.set_tempo(250.0f, 1);
    effect.set_num_den(4, 65, 1); // numerator 4 over the kept 8: 1000 ms
    EXPECT_EQ(effect.get_tempo(1), 120.0f);
    EXPECT_EQ(effect.get_delay_ms(1), 1000.0f);
    EXPECT_EQ(recorder.count(), 0u);
    EXPECT_EQ(thrown_text([] { D bad(9999); }), "Invalid stereo_delay sample rate");
}

TEST(StereoDelay, SettersTempoRateChangesAndClearingRunBesideProcessing)
{
    stereo_delay effect(rate);
    expect_finite_beside_processing(effect, [&](int i) {
        int const c = i % 2;
        effect.set_tempo(60.0f + static_cast<float>(i * 4), c);
        effect.set_num_den(1 + i % 7, 16, c);
        effect.set_feedback_unity(0.95f, c);
        effect.set_feedback_opposite_unity(0.5f, c);
        effect.set_delay_mod_ms_unity(0.5f, c);
        effect.set_delay_mod_rate_hz_unity(0.5f, c);
        if (i % 10 == 3) effect.set_sample_rate(i % 20 == 3 ? 96000 : rate);
        if (i % 10 == 7) effect.set_toggle_unity(1.0f, c);
    });
}

// A modulated pair with feedback: a burst, silence until the pair rests, then another burst. The
// resting pair gives what the pair that always processes gives, to within the quiet level, and
// comes back in the same block as the burst (the LFOs and the write position moved on meanwhile).
TEST(StereoDelay, ASilentPairRestsAndResumesAsTheProcessingPairPlays)
{
    constexpr int length = 4800, block = 100, rate = 48000;
    corvella::delay_sine_table const sine;
    int partner[2];
    corvella::fill_partner_table(partner, 2);
    corvella::swept_channel const channel[2] = {{0.7f, 0.8f, 0.3f, 0.1f, 1.0f, 40.0f, 3.0f, 0.7f},
                                                {0.7f, 0.8f, 0.2f, 0.15f, 1.0f, 55.0f, 2.0f, 1.3f}};
    struct pair {
        corvella::modulated_delay_line lines[2];
        float previous[2] = {};
        int lfo[2] = {};
        int write = 0;
        corvella::swept_pair_rest rest;
        pair() { EXPECT_TRUE(corvella::allocate_lines(lines, 2, length)); }
    } resting, processing;

    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    int rested_blocks = 0;
    float worst = 0.0f, loudest = 0.0f;
    for (int b = 0; b < 1000; ++b) {
        bool const burst = b < 10 || (b >= 900 && b < 905); // 45 000 frames of silence between
        std::vector<float> x[2] = {std::vector<float>(block), std::vector<float>(block)};
        for (auto& channel_input : x)
            for (float& v : channel_input)
                v = burst ? noise(random) : 0.0f;
        std::vector<float> y[2] = {x[0], x[1]};
        float* a[2] = {x[0].data(), x[1].data()};
        float* r[2] = {y[0].data(), y[1].data()};
        corvella::run_swept_delay_pair_or_rest(resting.rest, resting.lines, resting.previous, resting.lfo,
                                               resting.write, partner, sine, channel, rate, 0, 0, a, block);
        corvella::run_swept_delay_pair(processing.lines, processing.previous, processing.lfo, processing.write,
                                       partner, sine, channel, rate, 0, 0, r, block);
        rested_blocks += resting.rest.resting ? 1 : 0;
        ASSERT_EQ(resting.write, processing.write) << b;
        ASSERT_EQ(resting.lfo[0], processing.lfo[0]) << b;
        ASSERT_EQ(resting.lfo[1], processing.lfo[1]) << b;
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < block; ++n) {
                worst = std::max(worst, std::fabs(x[c][n] - y[c][n]));
                loudest = std::max(loudest, std::fabs(y[c][n]));
            }
    }
    EXPECT_GT(rested_blocks, 300); // it did rest, and woke for the second burst
    EXPECT_FALSE(resting.rest.resting);
    EXPECT_GT(loudest, 0.1f);
    EXPECT_LT(worst, 4.0f * corvella::swept_pair_rest::quiet_level);
}

} // namespace
