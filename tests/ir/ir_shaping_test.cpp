// Crop, pre-delay, clip, normalise, width, envelope, channel swap, shaped noise and the simulated
// true-stereo half.
#include "ir/ir_shaping.h"

#include "convolution/ipps.h"
#include "ir/ir_shaping_buffer.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using corvella::test::IrBuffer;
using Floats = std::vector<float>;
constexpr double pi = std::numbers::pi;

Floats ramp(int count, float first = 1.0f)
{
    Floats v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = first + static_cast<float>(i);
    return v;
}

Floats padded(Floats v, int count)
{
    v.resize(static_cast<std::size_t>(count), 0.0f);
    return v;
}

// A decaying, sign-changing test signal different for every seed.
Floats test_signal(int count, int seed, double decay_seconds = 0.3, int rate = 48000)
{
    Floats v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double const t = static_cast<double>(i) / rate;
        v[static_cast<std::size_t>(i)] = static_cast<float>(
            std::exp(-t / decay_seconds) * (std::sin(2 * pi * (311.0 + 97 * seed) * t) +
                                            0.5 * std::sin(2 * pi * (5003.0 + 13 * seed) * t + seed)));
    }
    return v;
}

// Cookbook high- or low-pass in double precision (Direct Form I, state kept between calls): an
// independent reference for the filters inside the operations.
struct ReferenceBiquad {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static ReferenceBiquad make(bool high_pass, double f0, double q, double rate)
    {
        double const w0 = 2 * pi * f0 / rate, c = std::cos(w0), alpha = std::sin(w0) / (2 * q),
                     a0 = 1 + alpha;
        double const b0 = (high_pass ? 1 + c : 1 - c) / 2 / a0;
        return {b0, high_pass ? -2 * b0 : 2 * b0, b0, -2 * c / a0, (1 - alpha) / a0};
    }
    void run(std::vector<double>& v)
    {
        for (double& x : v) {
            double const y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = x, y2 = y1, y1 = y, x = y;
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Crop, pre-delay, clip, normalise

TEST(IrCrop, KeepsTheWindowAtTheFrontWithAtLeastHalfTheMinimumLength)
{
    // 0.25 .. 0.375 of 8000: samples 2000 .. 2999; the length becomes 48000 / 2.
    IrBuffer ir(2, 30000);
    ir.fill(0, ramp(8000));
    ir.fill(1, ramp(8000, 100000.0f));
    int length = 8000;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.25f, 0.375f, 2, 48000);
    EXPECT_EQ(length, 24000);
    EXPECT_EQ(ir.copy(0, 30000), padded(ramp(1000, 2001.0f), 30000));
    EXPECT_EQ(ir.copy(1, 30000), padded(ramp(1000, 102000.0f), 30000));
    EXPECT_TRUE(ir.guards_intact());

    // A longer window sets the length; fractions outside 0 .. 1 are clamped.
    IrBuffer one(1, 1000);
    one.fill(0, ramp(1000));
    length = 1000;
    crop_audio_file_into_preallocated_memory(one.data(), length, 0.125f, 0.875f, 1, 100);
    EXPECT_EQ(length, 750);
    EXPECT_EQ(one.copy(0, 1000), padded(ramp(750, 126.0f), 1000));
    one.fill(0, ramp(1000));
    length = 1000;
    crop_audio_file_into_preallocated_memory(one.data(), length, -0.5f, 3.0f, 1, 0);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(one.copy(0, 1000), ramp(1000));
}

TEST(IrCrop, AnEmptyWindowClearsTheIrButKeepsItsLengthAndBadArgumentsDoNothing)
{
    IrBuffer ir(2, 1200);
    ir.fill(0, ramp(1000));
    ir.fill(1, ramp(1000, -5.0f));
    int length = 1000;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.6f, 0.4f, 2, 100);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(ir.copy(0, 1000), Floats(1000, 0.0f));
    EXPECT_EQ(ir.copy(1, 1000), Floats(1000, 0.0f));
    EXPECT_TRUE(ir.guards_intact());

    ir.fill(0, ramp(100));
    length = 0;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 0);
    length = 100;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 0, 1000);
    crop_audio_file_into_preallocated_memory(nullptr, length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(ir.copy(0, 100), ramp(100));
}

TEST(IrPreDelay, MovesSamplesUpAndDropsThoseThatPassTheEnd)
{
    Floats x = ramp(10);
    add_pre_delay(x.data(), 10, 3);
    EXPECT_EQ(x, (Floats{0, 0, 0, 1, 2, 3, 4, 5, 6, 7}));
    for (int no_delay : {0, -4}) {
        x = ramp(10);
        add_pre_delay(x.data(), 10, no_delay);
        EXPECT_EQ(x, ramp(10));
    }
    add_pre_delay(x.data(), 10, 10);
    EXPECT_EQ(x, Floats(10, 0.0f));
    add_pre_delay(nullptr, 10, 3); // no crash
}

TEST(IrClip, OnlyValuesBeyondThirtyTwoThousandAreReplaced)
{
    IrBuffer ir(2, 8);
    ir.fill(0, {40000.0f, 32768.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -32768.0f, 50000.0f});
    ir.fill(1, {-1e9f, 0.5f, 1e9f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f});
    int length = 7;
    clip_audio_file_into_preallocated_memory(ir.data(), length, 2);
    EXPECT_EQ(ir.copy(0, 8), (Floats{1.0f, 1.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -1.0f, 50000.0f}));
    EXPECT_EQ(ir.copy(1, 3), (Floats{-1.0f, 0.5f, 1.0f}));
    EXPECT_EQ(length, 7);
}

TEST(IrNormalise, ScalesThePeakOfTheFirstLengthSamplesToOneWithinTheMaximumGain)
{
    struct Case {
        std::vector<Floats> in;
        int length;
        float maximum, gain;
        std::vector<Floats> out;
    };
    Case const cases[] = {
        // The peak of all channels counts.
        {{{0.1f, -0.25f, 0.0f, 0.3f}, {0.2f, 0.4f, -0.5f, 0.05f}},
         4,
         1000.0f,
         2.0f,
         {{0.2f, -0.5f, 0.0f, 0.6f}, {0.4f, 0.8f, -1.0f, 0.1f}}},
        {{{1.0f, -4.0f, 2.0f}}, 3, 1000.0f, 0.25f, {{0.25f, -1.0f, 0.5f}}},
        {{{0.0f, 0.0f}}, 2, 1000.0f, 1000.0f, {{0.0f, 0.0f}}},
        {{{0.0005f, -0.00025f}}, 2, 1000.0f, 1000.0f, {{0.5f, -0.25f}}},
        {{{0.5f, 0.25f, 8.0f, 8.0f}}, 2, 1000.0f, 2.0f, {{1.0f, 0.5f, 8.0f, 8.0f}}},
        // A maximum of 0 applies 0 (the peak is below 1 / 0) and reports 1.
        {{{2.0f, 1.0f}}, 2, 0.0f, 1.0f, {{0.0f, 0.0f}}},
    };
    for (Case const& c : cases) {
        int const channels = static_cast<int>(c.in.size()), count = static_cast<int>(c.in[0].size());
        SCOPED_TRACE(testing::Message() << "peak input " << c.in[0][0] << ", maximum " << c.maximum);
        IrBuffer ir(channels, count);
        for (int ch = 0; ch < channels; ++ch)
            ir.fill(ch, c.in[static_cast<std::size_t>(ch)]);
        EXPECT_EQ(multichannel_normalise(ir.data(), c.length, channels, c.maximum), c.gain);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < count; ++i)
                EXPECT_NEAR(ir[ch][i], c.out[static_cast<std::size_t>(ch)][static_cast<std::size_t>(i)],
                            1e-6);
    }
}

// ---------------------------------------------------------------------------------------------
// Width

TEST(IrWidth, LeavesMiddleValuesThreeChannelsAndOneBlockAlone)
{
    struct Case {
        int channels, length;
        float unity;
    };
    // 0.4975 .. 0.5025 is the dead band; widening needs more than one 8 ms block (384 + 1 is not).
    Case const cases[] = {{2, 4000, 0.5f}, {2, 4000, 0.5025f}, {2, 4000, 0.4975f},
                          {3, 2000, 0.0f}, {3, 2000, 1.0f},    {2, 385, 1.0f}};
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, unity " << c.unity);
        IrBuffer ir(c.channels, c.length);
        for (int ch = 0; ch < c.channels; ++ch)
            ir.fill(ch, test_signal(c.length, ch));
        multichannel_width(ir.data(), c.channels, c.length, c.unity, 48000);
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_EQ(ir.copy(ch, c.length), test_signal(c.length, ch));
    }
}

// Below 0.5, with a = 2 x unity: L' = (1 + a) / 2 L + (1 - a) / 2 R, and the same for R.
TEST(IrWidth, NarrowingBlendsEachPairTowardsItsMean)
{
    for (float unity : {0.0f, 0.25f}) {
        IrBuffer ir(4, 1000);
        for (int c = 0; c < 4; ++c)
            ir.fill(c, test_signal(1000, c));
        multichannel_width(ir.data(), 4, 1000, unity, 48000);
        float const keep = (1.0f + 2.0f * unity) / 2.0f, take = 1.0f - keep;
        for (int p = 0; p < 4; p += 2) {
            Floats const l = test_signal(1000, p), r = test_signal(1000, p + 1);
            for (int t = 0; t < 1000; ++t) {
                ASSERT_NEAR(ir[p][t], keep * l[t] + take * r[t], 1e-6f) << unity << " " << p << " " << t;
                ASSERT_NEAR(ir[p + 1][t], keep * r[t] + take * l[t], 1e-6f) << unity << " " << p << " " << t;
            }
        }
    }
}

// L'[t] = L[t] + w h(-R)[t - block] for block <= t < length - block, with h the 3 kHz high-pass;
// the first block and the last block are unchanged.
TEST(IrWidth, WideningAddsTheOtherChannelHighPassedAndDelayedByOneBlock)
{
    int const rate = 48000, length = 6000, block = 384; // 8 ms
    float const unity = 0.85f;
    double const w = (unity - 0.5f) * 2.0f;
    IrBuffer ir(4, length);
    for (int c = 0; c < 4; ++c)
        ir.fill(c, test_signal(length, c + 3));
    multichannel_width(ir.data(), 4, length, unity, rate);

    for (int self = 0; self < 4; ++self) {
        int const other = self ^ 1;
        Floats const original = test_signal(length, self + 3), source = test_signal(length, other + 3);
        std::vector<double> filtered(source.size());
        std::transform(source.begin(), source.end(), filtered.begin(), [](float v) { return -v; });
        ReferenceBiquad::make(true, 3000.0, 1.0, rate).run(filtered);
        double worst = 0;
        for (int t = 0; t < length; ++t) {
            double expected = original[static_cast<std::size_t>(t)];
            if (t >= block && t < length - block)
                expected += w * filtered[static_cast<std::size_t>(t - block)];
            worst = std::max(worst, std::fabs(ir[self][t] - expected));
        }
        EXPECT_LT(worst, 1e-5) << "channel " << self;
        for (int t = length - block; t < length; ++t)
            ASSERT_EQ(ir[self][t], original[static_cast<std::size_t>(t)]) << t;
    }
    EXPECT_TRUE(ir.guards_intact());
}

TEST(IrWidth, SetsFlushToZeroOnTheCallingThread)
{
    unsigned int before = 0, during = 0;
    ippSetFlushToZero(0, &before);
    IrBuffer ir(2, 10);
    multichannel_width(ir.data(), 2, 10, 0.5f, 48000);
    ippSetFlushToZero(static_cast<int>(before), &during);
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_EQ(during, 1u);
#endif
    ippSetDenormAreZeros(0);
}

// ---------------------------------------------------------------------------------------------
// Envelope: times {A, D, S level, H, R} as fractions of the length

Floats envelope(int n, std::vector<float> const& times, std::vector<float> const& shapes,
                std::vector<float> const& inverts)
{
    Floats x(static_cast<std::size_t>(n), 1.0f);
    compute_adshr_envelope(x.data(), n, times.data(), shapes.data(), inverts.data());
    return x;
}

TEST(IrEnvelope, ZeroLengthStagesKeepTwoSamplesHoldOneAtTheSustainLevelAndClearTheRest)
{
    EXPECT_EQ(envelope(20, {0.0f, 0.0f, 0.5f, 0.0f, 0.0f}, {0, 0, 0}, {0, 0, 0}),
              padded({1.0f, 1.0f, 0.5f}, 20));
    // Negative times count as zero.
    EXPECT_EQ(envelope(8, {-0.5f, -0.1f, 0.25f, -1.0f, -0.2f}, {0.3f, 0.0f, 0.7f}, {0, 1, 0}),
              padded({1.0f, 1.0f, 0.25f}, 8));
    // A = 16 alone: the attack rises by 1/16 per sample, then the zero-length decay keeps one sample
    // and the hold one at the sustain level 1.
    Floats const attack = envelope(128, {0.125f, 0.0f, 1.0f, 0.0f, 0.0f}, {0, 0, 0}, {0, 0, 0});
    for (int t = 0; t <= 16; ++t)
        EXPECT_FLOAT_EQ(attack[t], (t + 1) / 16.0f) << t;
    EXPECT_EQ(Floats(attack.begin() + 17, attack.end()), padded({1.0f, 1.0f}, 111));
}

TEST(IrEnvelope, StraightStagesMeetAtTheirBoundaries)
{
    // N = 64: A = 8, D = 8, S = 0.5, H = 8, R = 16; inverting has no effect on straight stages.
    Floats const x = envelope(64, {0.125f, 0.125f, 0.5f, 0.125f, 0.25f}, {0, 0, 0}, {1, 1, 1});
    for (int t = 0; t <= 8; ++t)
        EXPECT_FLOAT_EQ(x[t], (t + 1) / 8.0f) << t;
    for (int j = 1; j <= 8; ++j)
        EXPECT_FLOAT_EQ(x[8 + j], 1.0f - j * 0.5f / 8.0f) << 8 + j;
    for (int t = 17; t <= 24; ++t)
        EXPECT_EQ(x[t], 0.5f) << t;
    for (int j = 1; j <= 16; ++j)
        EXPECT_NEAR(x[24 + j], 0.5f - j * 0.5f / 16.0f, 1e-7) << 24 + j;
    for (int t = 41; t < 64; ++t)
        EXPECT_EQ(x[t], 0.0f) << t;
}

TEST(IrEnvelope, CurvedStagesFollowTheirPowerLaws)
{
    Floats const x = envelope(64, {0.125f, 0.125f, 0.5f, 0.125f, 0.25f}, {0.5f, 0.5f, 0.5f}, {0, 1, 0});
    // Attack: c = 0.5, k = 2: 2^(t/8) - 1.
    for (int t = 0; t <= 8; ++t)
        EXPECT_NEAR(x[t], std::pow(2.0, t / 8.0) - 1.0, 1e-6) << t;
    // Decay, inverted: c = 2: 1 - 0.5 (2^u - 1), u = j / 8.
    for (int j = 1; j <= 8; ++j)
        EXPECT_NEAR(x[8 + j], 1.0 - 0.5 * (std::pow(2.0, j / 8.0) - 1.0), 1e-6) << 8 + j;
    for (int t = 17; t <= 24; ++t)
        EXPECT_EQ(x[t], 0.5f) << t;
    // Release: c = 0.5: 0.5 - 0.5 (0.5^v - 1) / (0.5 - 1), v = j / 16.
    for (int j = 1; j <= 16; ++j)
        EXPECT_NEAR(x[24 + j], 0.5 - 0.5 * (std::pow(0.5, j / 16.0) - 1.0) / -0.5, 1e-6) << 24 + j;
    EXPECT_EQ(Floats(x.begin() + 41, x.end()), Floats(23, 0.0f));
}

TEST(IrEnvelope, FullShapeReleaseFallsAHundredDecibels)
{
    // The tail generator's decay: release over the whole channel with shape 1.
    int const n = 10000;
    Floats const x = envelope(n, {0.0f, 0.0f, 1.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, {0, 0, 0});
    EXPECT_EQ(Floats(x.begin(), x.begin() + 3), Floats(3, 1.0f));
    double const c = static_cast<double>(0.00001f);
    for (int t : {3, 1000, 5000, 9999}) {
        double const v = static_cast<double>(t) / n; // the release counts from A + D + H = 0
        double const expected = 1.0 - (std::pow(c, v) - 1.0) / (c - 1.0);
        EXPECT_NEAR(x[t], expected, 1e-6 * expected + 1e-9) << t;
    }
    EXPECT_NEAR(x[5000], std::pow(10.0, -2.5), 1e-4); // -50 dB half way
    EXPECT_LT(x[9999], 2e-5);
}

// ---------------------------------------------------------------------------------------------
// Channel swap (audio thread)

TEST(IrChannelSwap, ExchangesTheFirstLengthSamplesOfTwoChannelsOnly)
{
    IrBuffer ir(2, 6);
    ir.fill(0, ramp(6));
    ir.fill(1, ramp(6, 10.0f));
    corvella::test::AllocationCounter counter;
    stereo_channel_swap(ir.data(), 2, 4);
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(ir.copy(0, 6), (Floats{10, 11, 12, 13, 5, 6}));
    EXPECT_EQ(ir.copy(1, 6), (Floats{1, 2, 3, 4, 14, 15}));

    IrBuffer four(4, 3);
    for (int c = 0; c < 4; ++c)
        four.fill(c, ramp(3, 10.0f * c));
    stereo_channel_swap(four.data(), 4, 3);
    stereo_channel_swap(four.data(), 1, 3);
    stereo_channel_swap(four.data(), 2, 0);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(four.copy(c, 3), ramp(3, 10.0f * c));
}

// ---------------------------------------------------------------------------------------------
// Shaped noise

// The whole operation in double precision with reference filters; only the Gaussian generator is
// shared.
std::vector<std::vector<double>> reference_shaped_noise(std::vector<Floats> const& ir, float level, float dry,
                                                        int seed, float release, int rate)
{
    int const length = static_cast<int>(ir[0].size());
    ReferenceBiquad low_cut = ReferenceBiquad::make(true, 200.0, 0.5, rate);
    ReferenceBiquad high_cut = ReferenceBiquad::make(false, 18000.0, 0.5, rate);
    double const d = release > 0 ? std::min(std::pow(static_cast<double>(release), 0.1), 0.999) : 0.0;
    std::vector<std::vector<double>> out;
    for (std::size_t c = 0; c < ir.size(); ++c) {
        Floats noise(static_cast<std::size_t>(length));
        unsigned int state = static_cast<unsigned int>(c) + static_cast<unsigned int>(seed);
        ippsRandGauss_Direct_32f(noise.data(), length, 0.0f, 0.1f, &state);
        double peak = 0;
        for (float v : noise)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
        std::vector<double> acc(static_cast<std::size_t>(length), 0.0);
        double e = 0;
        // The follower runs backwards, then forwards, adding noise on both passes.
        for (int t = length - 1; t >= 0; --t) {
            e = std::max(std::fabs(static_cast<double>(ir[c][t])), e * d);
            acc[t] += noise[t] / peak * e * level;
        }
        for (int t = 0; t < length; ++t) {
            e = std::max(std::fabs(static_cast<double>(ir[c][t])), e * d);
            acc[t] += noise[t] / peak * e * level;
        }
        low_cut.run(acc);
        high_cut.run(acc);
        for (int t = 0; t < length; ++t)
            acc[t] += ir[c][t] * static_cast<double>(dry);
        out.push_back(acc);
    }
    return out;
}

TEST(IrShapedNoise, MatchesADirectComputation)
{
    int const length = 24000, rate = 48000;
    for (float release : {0.0f, 0.3f}) {
        IrBuffer ir(2, length);
        std::vector<Floats> original;
        for (int c = 0; c < 2; ++c) {
            original.push_back(test_signal(length, c, 0.1));
            ir.fill(c, original.back());
        }
        add_shaped_noise(ir.data(), length, 2, 0.4f, 0.8f, 17, release, rate);
        auto const expected = reference_shaped_noise(original, 0.4f, 0.8f, 17, release, rate);
        for (int c = 0; c < 2; ++c) {
            EXPECT_LT(corvella::test::relative_error_db(ir.copy(c, length), expected[c]), -100.0)
                << "channel " << c << " release " << release;
        }
        EXPECT_TRUE(ir.guards_intact());
    }
}

TEST(IrShapedNoise, LevelZeroOnlyAppliesTheDryGainAndBadArgumentsDoNothing)
{
    int const length = 3000;
    IrBuffer ir(1, length);
    Floats const original = test_signal(length, 5);
    ir.fill(0, original);
    add_shaped_noise(ir.data(), length, 1, 0.0f, 0.5f, 1, 0.5f, 48000);
    for (int t = 0; t < length; ++t)
        ASSERT_NEAR(ir[0][t], 0.5f * original[t], 1e-8) << t; // plus the filters' anti-denormal offset

    ir.fill(0, ramp(10));
    add_shaped_noise(ir.data(), 0, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(ir.data(), 10, 0, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(nullptr, 10, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    EXPECT_EQ(ir.copy(0, 10), ramp(10));
}

// ---------------------------------------------------------------------------------------------
// Simulated true stereo

// The two shaped bursts as the operation describes them, from the shared Gaussian generator.
std::vector<Floats> reference_bursts(int rate, float seconds, int seed)
{
    float const n = static_cast<float>(rate) * seconds;
    int const count = static_cast<int>(n), quarter = static_cast<int>(0.25f * n);
    std::vector<Floats> bursts(2, Floats(static_cast<std::size_t>(count)));
    unsigned int state = static_cast<unsigned int>(seed);
    double peak = 0;
    for (auto& b : bursts) {
        ippsRandGauss_Direct_32f(b.data(), count, 0.0f, 0.1f, &state);
        for (float v : b)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
    }
    for (auto& b : bursts)
        for (int i = 0; i < count; ++i)
            b[i] = i < quarter
                       ? 0.0f
                       : static_cast<float>(b[i] / peak *
                                            (1.0 - static_cast<double>(i - quarter) / (count - quarter)));
    return bursts;
}

TEST(IrSimulatedTrueStereo, MatchesDirectConvolutionWithTheSquaredLevelRule)
{
    int const rate = 48000, length = 20000, allocated = length + 65536; // two overlap-add blocks
    float const seconds = 0.03f, level = 0.7f;
    IrBuffer ir(4, allocated);
    Floats const direct[2] = {test_signal(length, 1), test_signal(length, 2)};
    ir.fill(0, direct[0]);
    ir.fill(1, direct[1]);
    ir.fill(2, ramp(100)); // stale contents that must be cleared
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, seconds, rate, 21, level);
    EXPECT_EQ(ir_length, length + 3840); // 80 ms
    EXPECT_TRUE(ir.guards_intact());

    auto const bursts = reference_bursts(rate, seconds, 21);
    for (int pair = 0; pair < 2; ++pair) {
        std::vector<double> reference =
            corvella::test::reference_convolve(direct[pair], bursts[pair], ir_length);
        double direct_sum = 0, simulated_sum = 0;
        for (int t = 0; t < ir_length; ++t) {
            direct_sum += std::fabs(t < length ? direct[pair][t] : 0.0f);
            simulated_sum += std::fabs(reference[t]);
        }
        double const k = direct_sum / simulated_sum * level * 3.0;
        for (double& v : reference)
            v *= k * k;
        EXPECT_LT(corvella::test::relative_error_db(ir.copy(pair + 2, ir_length), reference), -90.0) << pair;
        // Past the length only the transforms' rounding noise remains.
        for (int t = ir_length; t < allocated; ++t)
            ASSERT_LT(std::fabs(ir[pair + 2][t]), 1e-5f) << t;
        EXPECT_EQ(ir.copy(pair, length), direct[pair]);
    }
}

TEST(IrSimulatedTrueStereo, AllocationLimits)
{
    // The 80 ms growth does not fit: the length stays.
    IrBuffer tight(4, 23000);
    tight.fill(0, test_signal(20000, 1));
    tight.fill(1, test_signal(20000, 2));
    int length = 20000;
    convolve_ir_ch01_with_noise_to_ch23(tight.data(), 23000, length, 0.08f, 48000, 1, 1.0f);
    EXPECT_EQ(length, 20000);
    EXPECT_TRUE(tight.guards_intact());

    // One block would need 16,384 samples below the allocation: none is processed.
    IrBuffer short_ir(4, 16384);
    short_ir.fill(0, test_signal(8000, 1));
    short_ir.fill(1, test_signal(8000, 2));
    short_ir.fill(3, ramp(50));
    length = 8000;
    convolve_ir_ch01_with_noise_to_ch23(short_ir.data(), 16384, length, 0.08f, 48000, 1, 1.0f);
    EXPECT_EQ(length, 8000 + 3840);
    EXPECT_EQ(short_ir.copy(2, 16384), Floats(16384, 0.0f));
    EXPECT_EQ(short_ir.copy(3, 16384), Floats(16384, 0.0f));
}

TEST(IrSimulatedTrueStereo, DirectChannelsAreClearedPastTheLength)
{
    int const allocated = 40000;
    IrBuffer ir(4, allocated);
    ir.fill(0, Floats(allocated, 0.25f));
    ir.fill(1, Floats(allocated, -0.25f));
    int length = 1000;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, length, 0.02f, 44100, 5, 1.0f);
    EXPECT_EQ(length, 1000 + 3528);
    EXPECT_EQ(ir.copy(0, allocated), padded(Floats(1000, 0.25f), allocated));
    EXPECT_EQ(ir.copy(1, allocated), padded(Floats(1000, -0.25f), allocated));
}

} // namespace
