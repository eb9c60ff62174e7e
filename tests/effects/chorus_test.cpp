// The chorus: its modulated read and feedback against a double-precision model, the 5-sample
// floor, stability at full feedback, denormals, allocation-free processing, setter refusals,
// construction failures and concurrent use.
#include "effects/chorus.h"

#include "convolution/ipps.h"
#include "delay_effect_test_support.h"
#include "support/allocation_counter.h"
#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace corvella::test;

constexpr double pi = std::numbers::pi;
constexpr int rate = 48000;

// Runs `effect` over the whole buffer in blocks of 1 to 700 frames (fixed seed); returns where
// each block began.
std::vector<int> process_in_random_blocks(chorus& effect, stereo& audio, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_int_distribution<int> size(1, 700);
    std::vector<int> starts;
    int const frames = static_cast<int>(audio.ch[0].size());
    for (int at = 0; at < frames;) {
        int const n = std::min(size(engine), frames - at);
        starts.push_back(at);
        effect.process_replacing(audio.at(at), n);
        at += n;
    }
    return starts;
}

// One channel of the chorus without cross-feed: ring v[n] = x[n] - g v[n - T], output
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
        long const whole = static_cast<long>(delay);
        double const d = delay - whole;
        double const a = mode == 1 ? (1.0 - d) / (1.0 + d)
                                   : (table_sine((1.0 - d) * pi / rate) + 1e-9) /
                                         (table_sine((1.0 + d) * pi / rate) + 1e-9);
        v[n] = x[n] - g * at(v, static_cast<long>(n) - feedback_delay);
        long const m = static_cast<long>(n);
        y[n] = a * at(v, m - whole) + at(v, m - whole - 1) - a * previous;
        previous = y[n];
    }
    return y;
}

TEST(Chorus, ModulatedReadWithFeedbackMatchesAllpassFractionalDelayOverAWholeLfoPeriod)
{
    struct mode_case {
        int mode;
        char const* name;
    };
    for (auto const& mc : {mode_case{1, "mode 1, width 0"}, mode_case{0, "mode 0"}}) {
        SCOPED_TRACE(mc.name);
        chorus effect(2, rate);
        effect.set_mode(mc.mode);
        effect.set_width(0.0f); // both channels on one phase, no cross-feed
        effect.set_delay_ms(9.0f);
        effect.set_delay_mod_ms(5.0f);
        effect.set_delay_mod_rate_hz(2.0f); // a period of 24000 frames
        effect.set_feedback(0.5f);
        effect.set_dry(0.0f);
        effect.set_wet(1.0f);

        int const period = 24000, frames = 2 * period + 2000;
        stereo audio(frames);
        for (int n = 0; n < frames; ++n) {
            audio.ch[0][n] = static_cast<float>(0.5 * std::sin(2 * pi * 220 * n / rate) +
                                                0.4 * std::sin(2 * pi * 1100 * n / rate));
            audio.ch[1][n] = static_cast<float>(0.6 * std::sin(2 * pi * 330 * n / rate + 1.0));
        }
        stereo const input = audio;
        std::vector<int> const starts = process_in_random_blocks(effect, audio, 7);

        for (int c = 0; c < 2; ++c) {
            std::vector<double> x(input.ch[c].begin(), input.ch[c].end());
            for (int s : starts)
                x[s] = static_cast<double>(static_cast<float>(x[s] + static_cast<double>(1.2128485e-10f)));
            std::vector<double> const y = reference_chorus(x, mc.mode, 9.0, 5.0, 2.0, 0.5);
            double error = 0.0, energy = 0.0;
            for (int n = frames - period; n < frames; ++n) {
                error += (audio.ch[c][n] - y[n]) * (audio.ch[c][n] - y[n]);
                energy += y[n] * y[n];
            }
            EXPECT_LT(10.0 * std::log10(error / energy), -80.0) << "channel " << c;
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
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (auto& ch : whole.ch)
        std::generate(ch.begin(), ch.end(), [&] { return dist(engine); });
    stereo pieces = whole;
    make()->process_replacing(whole.at(0), frames);
    auto effect = make();
    process_in_random_blocks(*effect, pieces, 11);
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
    audio.ch[0][0] = 1.0f;
    audio.ch[1][3] = 1.0f;
    effect.process_replacing(audio.at(0), 64);
    for (int n = 0; n < 64; ++n) {
        EXPECT_NEAR(audio.ch[0][n], n == 5 ? 1.0f : 0.0f, 1e-6f) << n;
        EXPECT_NEAR(audio.ch[1][n], n == 8 ? 1.0f : 0.0f, 1e-6f) << n;
    }

    effect.set_toggle_unity(0.0f);
    stereo noise(256);
    std::mt19937 engine(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (auto& ch : noise.ch)
        std::generate(ch.begin(), ch.end(), [&] { return dist(engine); });
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

    // The ring sums at most frames / T + 1 terms of g^k ≤ 1 (T = 432 samples); the allpass
    // (impulse-response sum 1 + 2a ≤ 3) and the cross-feed (width × the low-cut's own sum,
    // below 2) scale that by at most 3 × (1 + 2 × 0.75).
    int const block = 512, blocks = 60 * rate / block;
    double const ring_bound = static_cast<double>(blocks) * block / 432.0 + 1.0;
    double const bound = 1.0 + 0.5 * 3.0 * (1.0 + 2.0 * 0.75) * ring_bound;

    std::mt19937 engine(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    stereo audio(block);
    double peak = 0.0;
    for (int b = 0; b < blocks; ++b) {
        for (auto& ch : audio.ch)
            std::generate(ch.begin(), ch.end(), [&] { return dist(engine); });
        effect.process_replacing(audio.at(0), block);
        for (auto const& ch : audio.ch)
            for (float v : ch) {
                ASSERT_TRUE(std::isfinite(v)) << "block " << b;
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
            }
    }
    EXPECT_LT(peak, bound);
}

TEST(Chorus, NoSubnormalNumbersAfterTheInputStopsEvenOnAThreadWithoutFlushToZero)
{
    for (int mode : {0, 1}) {
        chorus effect(2, rate);
        effect.set_mode(mode);
        effect.set_delay_ms(9.0f);
        effect.set_delay_mod_ms(5.0f);
        effect.set_delay_mod_rate_hz(0.7f);
        effect.set_feedback(0.2f);
        std::mt19937 engine(5);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        stereo audio(256);
        for (int b = 0; b < 2000; ++b) { // 0.1 s of noise, then 10 s of silence
            for (auto& ch : audio.ch)
                std::generate(ch.begin(), ch.end(), [&] { return b < 19 ? dist(engine) : 0.0f; });
            ippSetFlushToZero(0, nullptr); // as a host thread may leave it
            ippSetDenormAreZeros(0);
            effect.process_replacing(audio.at(0), 256);
            for (auto const& ch : audio.ch)
                for (float v : ch)
                    ASSERT_TRUE(zero_or_normal(v)) << "mode " << mode << ", block " << b << ": " << v;
        }
    }
}

TEST(Chorus, ProcessingAllocatesNothing)
{
    for (int mode : {0, 1}) {
        chorus effect(2, rate);
        effect.set_mode(mode);
        effect.set_delay_mod_ms(5.0f);
        effect.set_delay_mod_rate_hz(1.0f);
        effect.set_feedback(0.3f);
        stereo audio(512);
        audio.ch[0][0] = 1.0f;
        AllocationCounter counter;
        for (int i = 0; i < 20; ++i)
            effect.process_replacing(audio.at(0), 512);
        EXPECT_EQ(counter.count(), 0) << "mode " << mode;
    }
}

TEST(Chorus, OutOfRangeSettingsAreRefusedWithTheirMessageAndUnityValuesClamped)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    struct refusal {
        std::function<void(chorus&)> set;
        std::function<float(chorus const&)> get;
        char const* message;
    };
    auto feedback = [](chorus const& e) { return e.get_feedback(); };
    auto delay = [](chorus const& e) { return e.get_delay_ms(); };
    auto depth = [](chorus const& e) { return e.get_delay_mod_ms(); };
    // clang-format off
    refusal const refusals[] = {
        {[](chorus& e) { e.set_feedback(1.0f); }, feedback, "Invalid feedback value"},
        {[](chorus& e) { e.set_feedback(-0.1f); }, feedback, "Invalid feedback value"},
        {[=](chorus& e) { e.set_feedback_unity(nan); }, feedback, "Invalid feedback value"},
        {[](chorus& e) { e.set_dry(1.5f); }, [](chorus const& e) { return e.get_dry(); }, "Invalid dry value"},
        {[=](chorus& e) { e.set_wet(nan); }, [](chorus const& e) { return e.get_wet(); }, "Invalid wet value"},
        {[](chorus& e) { e.set_width(2.0f); }, [](chorus const& e) { return e.get_width(); }, "Invalid width value"},
        {[](chorus& e) { e.set_delay_ms(25.0f); }, delay, "Invalid chorus delay"},
        {[=](chorus& e) { e.set_delay_ms_unity(nan); }, delay, "Invalid chorus delay"},
        {[](chorus& e) { e.set_delay_mod_ms(10.5f); }, depth, "Invalid chorus delay mod"},
        {[](chorus& e) { e.set_delay_mod_ms(-1.0f); }, depth, "Invalid chorus delay mod"},
        {[](chorus& e) { e.set_delay_mod_rate_hz(-1.0f); }, [](chorus const& e) { return e.get_delay_mod_rate_hz(); },
         "Invalid chorus delay mod rate"},
        {[](chorus& e) { e.set_mode(2); }, [](chorus const& e) { return static_cast<float>(e.get_mode()); },
         "Invalid chorus mode"},
    };
    // clang-format on
    for (auto const& r : refusals) {
        chorus effect(2, rate);
        float const before = r.get(effect);
        MessageRecorder recorder;
        r.set(effect);
        ASSERT_EQ(recorder.count(), 1u) << r.message;
        EXPECT_EQ(recorder.last(), (RecordedMessage{"Tarn Wick: Corvella", r.message, 0}));
        EXPECT_EQ(r.get(effect), before) << r.message;
    }

    struct clamp {
        std::function<void(chorus&)> set;
        std::function<float(chorus const&)> get;
        float expected;
    };
    // clang-format off
    clamp const clamps[] = {
        {[](chorus& e) { e.set_delay_ms(-3.0f); }, delay, 0.01f},
        {[](chorus& e) { e.set_delay_ms_unity(0.0f); }, delay, 0.01f},
        {[](chorus& e) { e.set_delay_ms_unity(1.0f); }, delay, 20.0f},
        {[](chorus& e) { e.set_delay_mod_ms_unity(1.0f); }, depth, 10.0f},
        {[](chorus& e) { e.set_feedback_unity(1.0f); }, feedback, std::nextafter(1.0f, 0.0f)},
        {[](chorus& e) { e.set_wet_unity(1.5f); }, [](chorus const& e) { return e.get_wet(); }, 1.0f},
        {[](chorus& e) { e.set_delay_mod_rate_hz_unity(0.0f); }, [](chorus const& e) { return e.get_delay_mod_rate_hz(); }, 0.02f},
        {[](chorus& e) { e.set_delay_mod_rate_hz_unity(1.0f); }, [](chorus const& e) { return e.get_delay_mod_rate_hz(); }, 20.0f},
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
          bad{0, rate, "Chorus error, too few channels defined"}}) {
        try {
            chorus effect(b.channels, b.sample_rate);
            ADD_FAILURE() << "no error for " << b.message;
        } catch (std::runtime_error const& e) {
            EXPECT_STREQ(e.what(), b.message);
        }
    }
    chorus effect(2, rate);
    EXPECT_EQ(effect.get_line_length(), 1440);
    try {
        effect.set_sample_rate(5000);
        ADD_FAILURE() << "no error";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "Invalid chorus sample rate");
    }
    EXPECT_EQ(effect.get_sample_rate(), rate);
    effect.set_sample_rate(44100);
    EXPECT_EQ(effect.get_line_length(), 1323);
    effect.chorus_destroy();
    try {
        effect.chorus_destroy();
        ADD_FAILURE() << "no error";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "Chorus tried to free unallocated delay line memory holder");
    }
}

TEST(Chorus, SettersRateChangesAndSilencingRunBesideProcessing)
{
    chorus effect(2, rate);
    std::atomic<bool> stop{false};
    std::atomic<bool> finite{true};
    std::thread audio_thread([&] {
        stereo audio(256);
        int n = 0;
        while (!stop.load()) {
            for (auto& ch : audio.ch)
                for (float& v : ch)
                    v = static_cast<float>(std::sin(0.01 * ++n));
            effect.process_replacing(audio.at(0), 256);
            for (auto const& ch : audio.ch)
                for (float v : ch)
                    if (!std::isfinite(v)) finite = false;
        }
    });
    for (int i = 0; i < 30; ++i) {
        effect.set_delay_ms_unity(static_cast<float>(i % 10) / 10.0f);
        effect.set_delay_mod_ms_unity(static_cast<float>(i % 7) / 7.0f);
        effect.set_delay_mod_rate_hz_unity(static_cast<float>(i % 5) / 5.0f);
        effect.set_feedback_unity(0.9f);
        effect.set_mode(i % 2);
        if (i % 10 == 3) effect.set_sample_rate(i % 20 == 3 ? 96000 : rate);
        if (i % 10 == 7) effect.silence_delay_lines();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    audio_thread.join();
    EXPECT_TRUE(finite.load());
}

} // namespace
