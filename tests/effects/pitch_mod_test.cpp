// The pitch modulator: its swept read and both feedback paths against a double-precision model,
// the delay of an impulse, toggles, quiet tails, setter refusals and concurrent use.
#include "effects/pitch_mod.h"

#include "delay_effect_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;

constexpr double pi = std::numbers::pi;

struct side {
    double delay_ms, depth_ms, rate_hz, feedback, opposite, dry, wet;
    bool on;
};

// Rings v_c[n] = gate_c x_c[n] + feedback_c v_c[n - T_c] + opposite_o v_o[n - T_o] with
// T = max(1, trunc(base) - 1); output dry x + wet y, y[n] = a v[n - D + 2] + v[n - D + 1] - a y[n - 1]
// for the swept delay D + d = max(5, depth (S / 2 + 1 / 2) + base).
void reference_pitch_mod(std::vector<double> const (&x)[2], side const (&s)[2], std::vector<double> (&out)[2])
{
    std::size_t const frames = x[0].size();
    std::vector<double> v[2] = {std::vector<double>(frames), std::vector<double>(frames)};
    auto back = [&](int c, std::size_t n, long t) { return static_cast<long>(n) >= t ? v[c][n - t] : 0.0; };
    long feedback_delay[2];
    for (int c = 0; c < 2; ++c)
        feedback_delay[c] = std::max(1L, static_cast<long>(s[c].delay_ms * rate / 1000.0) - 1);
    double previous[2] = {};
    for (std::size_t n = 0; n < frames; ++n) {
        for (int c = 0; c < 2; ++c) {
            int const o = 1 - c;
            v[c][n] = (s[c].on ? x[c][n] : 0.0) + s[c].feedback * back(c, n, feedback_delay[c]) +
                      s[o].opposite * back(o, n, feedback_delay[o]);
        }
        for (int c = 0; c < 2; ++c) {
            double const period = rate / s[c].rate_hz;
            long const counter = static_cast<long>(n + 1) % static_cast<long>(period);
            double const delay = std::max(5.0, s[c].depth_ms * rate / 1000.0 *
                                                       (table_sine(counter * 2.0 * pi / period) * 0.5 + 0.5) +
                                                   s[c].delay_ms * rate / 1000.0);
            long const whole = static_cast<long>(delay);
            double const a = (1.0 - (delay - whole)) / (1.0 + (delay - whole));
            double const y = a * back(c, n, whole - 2) + back(c, n, whole - 1) - a * previous[c];
            previous[c] = y;
            out[c][n] = s[c].dry * x[c][n] + s[c].wet * y;
        }
    }
}

void configure(pitch_mod& effect, side const (&s)[2])
{
    for (int c = 0; c < 2; ++c) {
        effect.set_toggle(s[c].on, c);
        effect.set_delay_ms(static_cast<float>(s[c].delay_ms), c);
        effect.set_delay_mod_ms(static_cast<float>(s[c].depth_ms), c);
        effect.set_delay_mod_rate_hz(static_cast<float>(s[c].rate_hz), c);
        effect.set_feedback(static_cast<float>(s[c].feedback), c);
        effect.set_feedback_opposite(static_cast<float>(s[c].opposite), c);
        effect.set_dry(static_cast<float>(s[c].dry), c);
        effect.set_wet(static_cast<float>(s[c].wet), c);
    }
}

TEST(PitchMod, SweptReadWithBothFeedbackPathsMatchesAllpassFractionalDelayOverAWholeLfoPeriod)
{
    struct sweep_case {
        char const* name;
        side s[2];
    };
    // clang-format off
    sweep_case const cases[] = {
        {"engine's settings, right at 0.99x", {{1.0, 1.0, 2.0, 0.0, 0.0, 0.0, 1.0, true},
                                               {1.0, 0.99, 1.98, 0.0, 0.0, 0.0, 1.0, true}}},
        {"deepest sweep, feedback both ways", {{17.0, 3.0, 2.0, 0.5, 0.3, 0.4, 0.8, true},
                                               {9.5, 2.0, 2.5, 0.4, 0.2, 0.7, 0.6, true}}},
        {"left off: its ring fed back only",  {{6.0, 2.5, 2.0, 0.6, 0.3, 0.5, 1.0, false},
                                               {4.0, 1.5, 3.0, 0.3, 0.7, 0.5, 1.0, true}}},
    };
    // clang-format on
    for (auto const& sc : cases) {
        SCOPED_TRACE(sc.name);
        pitch_mod effect(rate);
        configure(effect, sc.s);
        int const period = 24243, frames = 2 * period + 2000; // the slowest LFO is 1.98 Hz
        stereo audio = tones(frames);
        stereo const input = audio;
        std::vector<int> const starts = process_in_random_blocks(effect, audio, 700, 7);
        std::vector<double> const x[2] = {biased_input(input.ch[0], starts),
                                          biased_input(input.ch[1], starts)};
        std::vector<double> expected[2] = {std::vector<double>(frames), std::vector<double>(frames)};
        reference_pitch_mod(x, sc.s, expected);
        for (int c = 0; c < 2; ++c)
            EXPECT_LT(error_db(audio.ch[c], expected[c], frames - period, frames), -80.0) << "channel " << c;
    }
}

TEST(PitchMod, AnUnsweptImpulseComesOutTheDelayLessTwoSamplesLaterAndNeverSoonerThanThree)
{
    struct delay_case {
        int sample_rate;
        float delay_ms;
        int expected;
    };
    for (auto const& dc :
         {delay_case{48000, 1.0f, 46}, delay_case{48000, 20.0f, 958}, delay_case{44100, 10.0f, 439},
          delay_case{48000, 0.0f, 3}, delay_case{48000, 0.08f, 3}}) {
        SCOPED_TRACE(std::to_string(dc.delay_ms) + " ms at " + std::to_string(dc.sample_rate));
        pitch_mod effect(dc.sample_rate);
        for (int c = 0; c < 2; ++c) {
            effect.set_delay_ms(dc.delay_ms, c);
            effect.set_dry(0.0f, c);
        }
        stereo audio(1200);
        audio.ch[0][0] = 1.0f;
        audio.ch[1][10] = -1.0f;
        effect.process_replacing(audio.at(0), 1200);
        for (int n = 0; n < 1200; ++n) {
            ASSERT_NEAR(audio.ch[0][n], n == dc.expected ? 1.0f : 0.0f, 1e-6f) << n;
            ASSERT_NEAR(audio.ch[1][n], n == dc.expected + 10 ? -1.0f : 0.0f, 1e-6f) << n;
        }
    }
}

TEST(PitchMod, BothTogglesOffLeaveTheAudioUntouchedAndTogglingOrSilencingClearsTheLines)
{
    pitch_mod off(rate);
    off.set_toggle(false, 0);
    off.set_toggle_unity(0.0f, 1);
    stereo noise(256);
    std::mt19937 engine(3);
    noise.fill_noise(engine);
    stereo const before = noise;
    off.process_replacing(noise.at(0), 256);
    EXPECT_EQ(noise.ch[0], before.ch[0]);
    EXPECT_EQ(noise.ch[1], before.ch[1]);

    struct clear_case {
        char const* name;
        std::function<void(pitch_mod&)> action;
        bool echo_expected;
    };
    clear_case const cases[] = {
        {"nothing", [](pitch_mod&) {}, true},
        {"left on again", [](pitch_mod& e) { e.set_toggle(true, 0); }, false},
        {"right toggle unity 1", [](pitch_mod& e) { e.set_toggle_unity(1.0f, 1); }, false},
        {"silence_delay_lines", [](pitch_mod& e) { e.silence_delay_lines(); }, false},
    };
    for (auto const& cc : cases) {
        SCOPED_TRACE(cc.name);
        pitch_mod effect(rate);
        for (int c = 0; c < 2; ++c) {
            effect.set_delay_ms(10.0f, c); // 478 samples
            effect.set_dry(0.0f, c);
        }
        stereo audio(1000);
        audio.ch[0][0] = audio.ch[1][0] = 1.0f;
        effect.process_replacing(audio.at(0), 100);
        cc.action(effect);
        effect.process_replacing(audio.at(100), 900);
        EXPECT_NEAR(audio.ch[0][478], cc.echo_expected ? 1.0f : 0.0f, 1e-6f);
        EXPECT_NEAR(audio.ch[1][478], cc.echo_expected ? 1.0f : 0.0f, 1e-6f);
    }
}

TEST(PitchMod, QuietTailStaysNormalWithoutFlushToZeroAndProcessingAllocatesNothing)
{
    pitch_mod effect(rate);
    side const s[2] = {{1.0, 1.0, 0.7, 0.5, 0.3, 0.0, 1.0, true},
                       {2.0, 0.99, 0.693, 0.4, 0.3, 0.0, 1.0, true}};
    configure(effect, s);
    expect_normal_tail_without_allocation(effect, 480, 1000, 10); // 0.1 s of noise, then 9.9 s of silence
}

TEST(PitchMod, OutOfRangeSettingsAreRefusedWithTheirMessageAndUnityValuesMapped)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    using P = pitch_mod;
    // clang-format off
    expect_refusals<P>({
        {[](P& e) { e.set_delay_ms(20.5f, 0); }, [](P const& e) { return e.get_delay_ms(0); }, "Invalid pitch_mod delay"},
        {[=](P& e) { e.set_delay_ms(nan, 1); }, [](P const& e) { return e.get_delay_ms(1); }, "Invalid pitch_mod delay"},
        {[](P& e) { e.set_delay_mod_ms(3.5f, 1); }, [](P const& e) { return e.get_delay_mod_ms(1); }, "Invalid pitch_mod delay mod"},
        {[](P& e) { e.set_delay_mod_ms(-0.1f, 0); }, [](P const& e) { return e.get_delay_mod_ms(0); }, "Invalid pitch_mod delay mod"},
        {[=](P& e) { e.set_delay_mod_ms_unity(nan, 0); }, [](P const& e) { return e.get_delay_mod_ms(0); }, "Invalid pitch_mod delay mod"},
        {[](P& e) { e.set_delay_mod_rate_hz(21.0f, 0); }, [](P const& e) { return e.get_delay_mod_rate_hz(0); }, "Invalid pitch_mod delay mod rate"},
        {[=](P& e) { e.set_delay_mod_rate_hz_unity(nan, 1); }, [](P const& e) { return e.get_delay_mod_rate_hz(1); }, "Invalid pitch_mod delay mod rate"},
        {[](P& e) { e.set_feedback(1.0f, 0); }, [](P const& e) { return e.get_feedback(0); }, "Invalid feedback value"},
        {[](P& e) { e.set_feedback_opposite(-0.2f, 1); }, [](P const& e) { return e.get_feedback_opposite(1); }, "Invalid feedback opposite value"},
        {[](P& e) { e.set_width(1.5f, 0); }, [](P const& e) { return e.get_width(0); }, "Invalid width value"},
        {[](P& e) { e.set_dry(2.0f, 0); }, [](P const& e) { return e.get_dry(0); }, "Invalid dry value"},
        {[=](P& e) { e.set_wet(nan, 1); }, [](P const& e) { return e.get_wet(1); }, "Invalid wet value"},
        {[](P& e) { e.set_wet(0.5f, 2); }, [](P const& e) { return e.get_wet(0) + e.get_wet(1); }, "Invalid pitch_mod channel"},
    }, [] { return P(rate); });
    // clang-format on

    MessageRecorder recorder;
    P effect(rate);
    effect.set_delay_ms(0.0f, 0);
    EXPECT_FLOAT_EQ(effect.get_delay_ms(0), 0.01f);
    effect.set_delay_mod_ms_unity(1.0f, 0);
    EXPECT_FLOAT_EQ(effect.get_delay_mod_ms(0), 3.0f);
    effect.set_delay_mod_rate_hz_unity(0.5f, 1);
    EXPECT_NEAR(effect.get_delay_mod_rate_hz(1), std::sqrt(1000.0) / 50.0, 1e-5);
    effect.set_delay_mod_rate_hz_unity(0.0f, 0);
    EXPECT_FLOAT_EQ(effect.get_delay_mod_rate_hz(0), 0.02f);
    effect.set_delay_mod_rate_hz_unity(1.0f, 0);
    EXPECT_FLOAT_EQ(effect.get_delay_mod_rate_hz(0), 20.0f);
    EXPECT_EQ(recorder.count(), 0u);
    char text[pitch_mod::delay_mod_ms_text_capacity];
    pitch_mod::pitch_mod_delay_mod_ms_str(0.5f, text);
    EXPECT_STREQ(text, "1.500ms");
    for (int bad : {9999, 192001})
        EXPECT_EQ(thrown_text([&] { P modulator(bad); }), "Invalid pitch_mod sample rate") << bad;
    EXPECT_EQ(effect.get_line_length(), 1104);
    effect.set_sample_rate(44100);
    EXPECT_EQ(effect.get_line_length(), 1015);
}

TEST(PitchMod, SettersTogglesRateChangesAndSilencingRunBesideProcessing)
{
    pitch_mod effect(rate);
    expect_finite_beside_processing(effect, [&](int i) {
        int const c = i % 2;
        effect.set_delay_ms(static_cast<float>(i % 21), c);
        effect.set_delay_mod_ms_unity(static_cast<float>(i % 7) / 6.0f, c);
        effect.set_delay_mod_rate_hz_unity(static_cast<float>(i % 5) / 4.0f, c);
        effect.set_feedback(0.9f, c);
        effect.set_feedback_opposite(0.05f, c);
        if (i % 10 == 3) effect.set_sample_rate(i % 20 == 3 ? 96000 : rate);
        if (i % 10 == 5) effect.set_toggle_unity(static_cast<float>(i % 3), c);
        if (i % 10 == 7) effect.silence_delay_lines();
    });
}

} // namespace
