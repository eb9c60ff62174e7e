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
#include <stdexcept>
#include <vector>

namespace {

using corvella::test::IrBuffer;
constexpr double pi = std::numbers::pi;

std::vector<float> ramp(int count, float first = 1.0f)
{
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = first + static_cast<float>(i);
    return v;
}

// A decaying, sign-changing test signal different for every seed.
std::vector<float> test_signal(int count, int seed, double decay_seconds = 0.3, int rate = 48000)
{
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double const t = static_cast<double>(i) / rate;
        v[static_cast<std::size_t>(i)] = static_cast<float>(
            std::exp(-t / decay_seconds) * (std::sin(2 * pi * (311.0 + 97 * seed) * t) +
                                            0.5 * std::sin(2 * pi * (5003.0 + 13 * seed) * t + seed)));
    }
    return v;
}

// Cookbook biquad in double precision, an independent reference for the filters inside the
// operations. Direct Form I, state carried between calls.
struct ReferenceBiquad {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static ReferenceBiquad make(bool high_pass, double f0, double q, double rate)
    {
        double const w0 = 2 * pi * f0 / rate;
        double const c = std::cos(w0);
        double const alpha = std::sin(w0) / (2 * q);
        double const a0 = 1 + alpha;
        ReferenceBiquad f{};
        if (high_pass) {
            f.b0 = (1 + c) / 2 / a0;
            f.b1 = -(1 + c) / a0;
        } else {
            f.b0 = (1 - c) / 2 / a0;
            f.b1 = (1 - c) / a0;
        }
        f.b2 = f.b0;
        f.a1 = -2 * c / a0;
        f.a2 = (1 - alpha) / a0;
        return f;
    }
    void run(std::vector<double>& v)
    {
        for (double& x : v) {
            double const y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            x = y;
        }
    }
};

double peak_of(std::vector<double> const& v)
{
    double p = 0;
    for (double x : v)
        p = std::max(p, std::fabs(x));
    return p;
}

// ---------------------------------------------------------------------------------------------
// Crop

TEST(IrCrop, StartNotBeforeEndClearsTheIrButKeepsItsLength)
{
    IrBuffer ir(2, 1200);
    ir.fill(0, ramp(1000));
    ir.fill(1, ramp(1000, -5.0f));
    int length = 1000;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.6f, 0.4f, 2, 100);
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(ir.copy(0, 1000), std::vector<float>(1000, 0.0f));
    EXPECT_EQ(ir.copy(1, 1000), std::vector<float>(1000, 0.0f));
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.5f, 0.5f, 2, 100);
    EXPECT_EQ(length, 1000);
    EXPECT_TRUE(ir.guards_intact());
}

TEST(IrCrop, ShortWindowKeepsHalfTheMinimumLengthBase)
{
    IrBuffer ir(2, 30000);
    ir.fill(0, ramp(8000));
    ir.fill(1, ramp(8000, 100000.0f));
    int length = 8000;
    // 0.25 and 0.375 of 8000: samples 2000 .. 2999.
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.25f, 0.375f, 2, 48000);
    EXPECT_EQ(length, 24000);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(ir[0][i], 2001.0f + i) << i;
        ASSERT_EQ(ir[1][i], 102000.0f + i) << i;
    }
    for (int i = 1000; i < 30000; ++i) {
        ASSERT_EQ(ir[0][i], 0.0f) << i;
        ASSERT_EQ(ir[1][i], 0.0f) << i;
    }
    EXPECT_TRUE(ir.guards_intact());
}

TEST(IrCrop, LongWindowSetsTheLengthToTheWindow)
{
    IrBuffer ir(1, 1000);
    ir.fill(0, ramp(1000));
    int length = 1000;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.125f, 0.875f, 1, 100);
    EXPECT_EQ(length, 750);
    EXPECT_EQ(ir[0][0], 126.0f);
    EXPECT_EQ(ir[0][749], 875.0f);
    EXPECT_EQ(ir[0][750], 0.0f);
}

TEST(IrCrop, FractionsOutsideZeroToOneAreClamped)
{
    IrBuffer ir(1, 500);
    ir.fill(0, ramp(500));
    int length = 500;
    crop_audio_file_into_preallocated_memory(ir.data(), length, -0.5f, 3.0f, 1, 0);
    EXPECT_EQ(length, 500);
    EXPECT_EQ(ir.copy(0, 500), ramp(500));
}

TEST(IrCrop, NothingHappensWithoutLengthOrChannels)
{
    IrBuffer ir(1, 100);
    ir.fill(0, ramp(100));
    int length = 0;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 0);
    length = 100;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 0, 1000);
    crop_audio_file_into_preallocated_memory(nullptr, length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(ir.copy(0, 100), ramp(100));
}

// ---------------------------------------------------------------------------------------------
// Pre-delay and clip

TEST(IrPreDelay, MovesSamplesUpAndDropsThoseThatPassTheEnd)
{
    std::vector<float> x = ramp(10);
    add_pre_delay(x.data(), 10, 3);
    EXPECT_EQ(x, (std::vector<float>{0, 0, 0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(IrPreDelay, ZeroDelayChangesNothingAndALongOneClearsEverything)
{
    std::vector<float> x = ramp(10);
    add_pre_delay(x.data(), 10, 0);
    EXPECT_EQ(x, ramp(10));
    add_pre_delay(x.data(), 10, -4);
    EXPECT_EQ(x, ramp(10));
    add_pre_delay(x.data(), 10, 10);
    EXPECT_EQ(x, std::vector<float>(10, 0.0f));
    add_pre_delay(nullptr, 10, 3); // no crash
}

TEST(IrClip, OnlyValuesBeyondThirtyTwoThousandAreReplaced)
{
    IrBuffer ir(2, 8);
    ir.fill(0, {40000.0f, 32768.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -32768.0f, 50000.0f});
    ir.fill(1, {-1e9f, 0.5f, 1e9f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f});
    int length = 7;
    clip_audio_file_into_preallocated_memory(ir.data(), length, 2);
    EXPECT_EQ(ir.copy(0, 8),
              (std::vector<float>{1.0f, 1.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -1.0f, 50000.0f}));
    EXPECT_EQ(ir.copy(1, 3), (std::vector<float>{-1.0f, 0.5f, 1.0f}));
    EXPECT_EQ(length, 7);
}

// ---------------------------------------------------------------------------------------------
// Normalise

TEST(IrNormalise, PeakOfHalfIsDoubled)
{
    IrBuffer ir(2, 4);
    ir.fill(0, {0.1f, -0.25f, 0.0f, 0.3f});
    ir.fill(1, {0.2f, 0.4f, -0.5f, 0.05f});
    EXPECT_EQ(multichannel_normalise(ir.data(), 4, 2, 1000.0f), 2.0f);
    EXPECT_EQ(ir.copy(0, 4), (std::vector<float>{0.2f, -0.5f, 0.0f, 0.6f}));
    EXPECT_EQ(ir.copy(1, 4), (std::vector<float>{0.4f, 0.8f, -1.0f, 0.1f}));
}

TEST(IrNormalise, LoudIrIsScaledDownByItsPeakMagnitude)
{
    IrBuffer ir(1, 3);
    ir.fill(0, {1.0f, -4.0f, 2.0f});
    EXPECT_EQ(multichannel_normalise(ir.data(), 3, 1, 1000.0f), 0.25f);
    EXPECT_EQ(ir.copy(0, 3), (std::vector<float>{0.25f, -1.0f, 0.5f}));
}

TEST(IrNormalise, SilentAndQuietIrsGetTheMaximumGain)
{
    IrBuffer silent(2, 16);
    EXPECT_EQ(multichannel_normalise(silent.data(), 16, 2, 1000.0f), 1000.0f);
    EXPECT_EQ(silent.copy(0, 16), std::vector<float>(16, 0.0f));

    IrBuffer quiet(1, 2);
    quiet.fill(0, {0.0005f, -0.00025f});
    EXPECT_EQ(multichannel_normalise(quiet.data(), 2, 1, 1000.0f), 1000.0f);
    EXPECT_FLOAT_EQ(quiet[0][0], 0.5f);
    EXPECT_FLOAT_EQ(quiet[0][1], -0.25f);
}

TEST(IrNormalise, OnlyTheFirstLengthSamplesCount)
{
    IrBuffer ir(1, 4);
    ir.fill(0, {0.5f, 0.25f, 8.0f, 8.0f});
    EXPECT_EQ(multichannel_normalise(ir.data(), 2, 1, 1000.0f), 2.0f);
    EXPECT_EQ(ir.copy(0, 4), (std::vector<float>{1.0f, 0.5f, 8.0f, 8.0f}));
}

TEST(IrNormalise, AGainOfZeroIsReportedAsOne)
{
    IrBuffer ir(1, 2);
    ir.fill(0, {2.0f, 1.0f});
    // A maximum gain of 0 applies 0 (the peak is below 1 / 0) and reports 1.
    EXPECT_EQ(multichannel_normalise(ir.data(), 2, 1, 0.0f), 1.0f);
    EXPECT_EQ(ir.copy(0, 2), (std::vector<float>{0.0f, 0.0f}));
}

// ---------------------------------------------------------------------------------------------
// Width

TEST(IrWidth, MiddleValuesChangeNothing)
{
    for (float unity : {0.5f, 0.5025f, 0.4975f}) {
        IrBuffer ir(2, 4000);
        ir.fill(0, test_signal(4000, 1));
        ir.fill(1, test_signal(4000, 2));
        multichannel_width(ir.data(), 2, 4000, unity, 48000);
        EXPECT_EQ(ir.copy(0, 4000), test_signal(4000, 1)) << unity;
        EXPECT_EQ(ir.copy(1, 4000), test_signal(4000, 2)) << unity;
    }
}

TEST(IrWidth, ZeroMakesBothChannelsOfEachPairTheirMean)
{
    IrBuffer ir(4, 1000);
    for (int c = 0; c < 4; ++c)
        ir.fill(c, test_signal(1000, c));
    multichannel_width(ir.data(), 4, 1000, 0.0f, 48000);
    for (int p = 0; p < 4; p += 2) {
        std::vector<float> const l = test_signal(1000, p), r = test_signal(1000, p + 1);
        for (int t = 0; t < 1000; ++t) {
            ASSERT_FLOAT_EQ(ir[p][t], 0.5f * (l[t] + r[t])) << p << " " << t;
            ASSERT_FLOAT_EQ(ir[p + 1][t], 0.5f * (l[t] + r[t])) << p << " " << t;
        }
    }
}

TEST(IrWidth, PartialNarrowingBlendsTowardsTheMean)
{
    IrBuffer ir(2, 2);
    ir.fill(0, {1.0f, 0.0f});
    ir.fill(1, {0.0f, -2.0f});
    multichannel_width(ir.data(), 2, 2, 0.25f, 48000); // a = 0.5
    EXPECT_FLOAT_EQ(ir[0][0], 0.75f);
    EXPECT_FLOAT_EQ(ir[1][0], 0.25f);
    EXPECT_FLOAT_EQ(ir[0][1], -0.5f);
    EXPECT_FLOAT_EQ(ir[1][1], -1.5f);
}

TEST(IrWidth, ThreeChannelsAreLeftAlone)
{
    for (float unity : {0.0f, 1.0f}) {
        IrBuffer ir(3, 2000);
        for (int c = 0; c < 3; ++c)
            ir.fill(c, test_signal(2000, c));
        multichannel_width(ir.data(), 3, 2000, unity, 48000);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(ir.copy(c, 2000), test_signal(2000, c));
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

    for (int p = 0; p < 4; p += 2) {
        for (int side = 0; side < 2; ++side) {
            int const self = p + side, other = p + 1 - side;
            std::vector<float> const original = test_signal(length, self + 3);
            std::vector<float> const source = test_signal(length, other + 3);
            std::vector<double> filtered(static_cast<std::size_t>(length));
            for (int t = 0; t < length; ++t)
                filtered[static_cast<std::size_t>(t)] = -source[static_cast<std::size_t>(t)];
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
    }
    EXPECT_TRUE(ir.guards_intact());
}

TEST(IrWidth, WideningNeedsMoreThanOneBlock)
{
    IrBuffer ir(2, 385);
    ir.fill(0, test_signal(385, 1));
    ir.fill(1, test_signal(385, 2));
    multichannel_width(ir.data(), 2, 385, 1.0f, 48000); // block + 1 = 385: not below the length
    EXPECT_EQ(ir.copy(0, 385), test_signal(385, 1));
    EXPECT_EQ(ir.copy(1, 385), test_signal(385, 2));
}

TEST(IrWidth, SetsFlushToZeroOnTheCallingThread)
{
    unsigned int before = 0;
    ippSetFlushToZero(0, &before);
    IrBuffer ir(2, 10);
    multichannel_width(ir.data(), 2, 10, 0.5f, 48000);
    unsigned int during = 0;
    ippSetFlushToZero(static_cast<int>(before), &during);
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_EQ(during, 1u);
#endif
    ippSetDenormAreZeros(0);
}

// ---------------------------------------------------------------------------------------------
// Envelope

TEST(IrEnvelope, AllDurationsZeroKeepsTwoSamplesHoldsOneAndClearsTheRest)
{
    std::vector<float> x(20, 2.0f);
    float const times[5] = {0.0f, 0.0f, 0.5f, 0.0f, 0.0f};
    float const shapes[3] = {0.0f, 0.0f, 0.0f};
    float const inverts[3] = {0.0f, 0.0f, 0.0f};
    compute_adshr_envelope(x.data(), 20, times, shapes, inverts);
    std::vector<float> expected(20, 0.0f);
    expected[0] = 2.0f;
    expected[1] = 2.0f;
    expected[2] = 1.0f;
    EXPECT_EQ(x, expected);
}

TEST(IrEnvelope, NegativeTimesCountAsZero)
{
    std::vector<float> x(8, 1.0f);
    float const times[5] = {-0.5f, -0.1f, 0.25f, -1.0f, -0.2f};
    float const shapes[3] = {0.3f, 0.0f, 0.7f};
    float const inverts[3] = {0.0f, 1.0f, 0.0f};
    compute_adshr_envelope(x.data(), 8, times, shapes, inverts);
    EXPECT_EQ(x, (std::vector<float>{1.0f, 1.0f, 0.25f, 0, 0, 0, 0, 0}));
}

TEST(IrEnvelope, StraightAttackRisesByOneOverAPerSample)
{
    std::vector<float> x(128, 1.0f);
    float const times[5] = {0.125f, 0.0f, 1.0f, 0.0f, 0.0f}; // A = 16
    float const shapes[3] = {0.0f, 0.0f, 0.0f};
    float const inverts[3] = {0.0f, 0.0f, 0.0f};
    compute_adshr_envelope(x.data(), 128, times, shapes, inverts);
    for (int t = 0; t <= 16; ++t)
        EXPECT_FLOAT_EQ(x[t], (t + 1) / 16.0f) << t;
    EXPECT_EQ(x[17], 1.0f); // decay of length 0: one sample untouched
    EXPECT_EQ(x[18], 1.0f); // hold: times the sustain level 1
    for (int t = 19; t < 128; ++t)
        ASSERT_EQ(x[t], 0.0f) << t;
}

TEST(IrEnvelope, StraightStagesMeetAtTheirBoundaries)
{
    // N = 64: A = 8, D = 8, S = 0.5, H = 8, R = 16.
    std::vector<float> x(64, 1.0f);
    float const times[5] = {0.125f, 0.125f, 0.5f, 0.125f, 0.25f};
    float const shapes[3] = {0.0f, 0.0f, 0.0f};
    float const inverts[3] = {1.0f, 1.0f, 1.0f}; // no effect on straight stages
    compute_adshr_envelope(x.data(), 64, times, shapes, inverts);
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
    std::vector<float> x(64, 1.0f);
    float const times[5] = {0.125f, 0.125f, 0.5f, 0.125f, 0.25f};
    float const shapes[3] = {0.5f, 0.5f, 0.5f};
    float const inverts[3] = {0.0f, 1.0f, 0.0f};
    compute_adshr_envelope(x.data(), 64, times, shapes, inverts);
    // Attack: c = 0.5, k = 2: 2^(t/8) - 1.
    for (int t = 0; t <= 8; ++t)
        EXPECT_NEAR(x[t], std::pow(2.0, t / 8.0) - 1.0, 1e-6) << t;
    // Decay, inverted: c = 2: 1 - 0.5 (2^u - 1), u = j / 8.
    for (int j = 1; j <= 8; ++j)
        EXPECT_NEAR(x[8 + j], 1.0 - 0.5 * (std::pow(2.0, j / 8.0) - 1.0), 1e-6) << 8 + j;
    EXPECT_NEAR(x[16], 0.5f, 1e-7);
    for (int t = 17; t <= 24; ++t)
        EXPECT_EQ(x[t], 0.5f) << t;
    // Release: c = 0.5: 0.5 - 0.5 (0.5^v - 1) / (0.5 - 1), v = j / 16.
    for (int j = 1; j <= 16; ++j)
        EXPECT_NEAR(x[24 + j], 0.5 - 0.5 * (std::pow(0.5, j / 16.0) - 1.0) / -0.5, 1e-6) << 24 + j;
    EXPECT_NEAR(x[40], 0.0f, 1e-7);
    for (int t = 41; t < 64; ++t)
        EXPECT_EQ(x[t], 0.0f) << t;
}

TEST(IrEnvelope, FullShapeReleaseFallsAHundredDecibels)
{
    // The tail generator's decay: release over the whole channel with shape 1.
    int const n = 10000;
    std::vector<float> x(n, 1.0f);
    float const times[5] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f};
    float const shapes[3] = {0.0f, 0.0f, 1.0f};
    float const inverts[3] = {0.0f, 0.0f, 0.0f};
    compute_adshr_envelope(x.data(), n, times, shapes, inverts);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[1], 1.0f);
    EXPECT_EQ(x[2], 1.0f);
    double const c = static_cast<double>(0.00001f);
    for (int t : {3, 1000, 5000, 9999}) {
        double const v = static_cast<double>(t) / n; // the release position counts from A + D + H = 0
        double const expected = 1.0 - (std::pow(c, v) - 1.0) / (c - 1.0);
        EXPECT_NEAR(x[t], expected, 1e-6 * expected + 1e-9) << t;
    }
    EXPECT_NEAR(x[5000], std::pow(10.0, -2.5), 1e-4); // -50 dB half way
    EXPECT_LT(x[9999], 2e-5);
}

// ---------------------------------------------------------------------------------------------
// Channel swap

TEST(IrChannelSwap, ExchangesTheFirstLengthSamplesOfTwoChannels)
{
    IrBuffer ir(2, 6);
    ir.fill(0, ramp(6));
    ir.fill(1, ramp(6, 10.0f));
    corvella::test::AllocationCounter counter;
    stereo_channel_swap(ir.data(), 2, 4);
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(ir.copy(0, 6), (std::vector<float>{10, 11, 12, 13, 5, 6}));
    EXPECT_EQ(ir.copy(1, 6), (std::vector<float>{1, 2, 3, 4, 14, 15}));
}

TEST(IrChannelSwap, OtherChannelCountsAreLeftAlone)
{
    IrBuffer ir(4, 3);
    for (int c = 0; c < 4; ++c)
        ir.fill(c, ramp(3, 10.0f * c));
    stereo_channel_swap(ir.data(), 4, 3);
    stereo_channel_swap(ir.data(), 1, 3);
    stereo_channel_swap(ir.data(), 2, 0);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(ir.copy(c, 3), ramp(3, 10.0f * c));
}

// ---------------------------------------------------------------------------------------------
// Shaped noise

// The whole operation recomputed in double precision with reference filters; only the Gaussian
// generator is shared.
std::vector<std::vector<double>> reference_shaped_noise(std::vector<std::vector<float>> const& ir,
                                                        float level, float dry, int seed, float release,
                                                        int rate)
{
    int const length = static_cast<int>(ir[0].size());
    ReferenceBiquad low_cut = ReferenceBiquad::make(true, 200.0, 0.5, rate);
    ReferenceBiquad high_cut = ReferenceBiquad::make(false, 18000.0, 0.5, rate);
    double const d = release > 0 ? std::min(std::pow(static_cast<double>(release), 0.1), 0.999) : 0.0;
    std::vector<std::vector<double>> out;
    for (std::size_t c = 0; c < ir.size(); ++c) {
        std::vector<float> noise(static_cast<std::size_t>(length));
        unsigned int state = static_cast<unsigned int>(c) + static_cast<unsigned int>(seed);
        ippsRandGauss_Direct_32f(noise.data(), length, 0.0f, 0.1f, &state);
        double peak = 0;
        for (float v : noise)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
        std::vector<double> acc(static_cast<std::size_t>(length), 0.0);
        double e = 0;
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
        std::vector<std::vector<float>> original;
        for (int c = 0; c < 2; ++c) {
            original.push_back(test_signal(length, c, 0.1));
            ir.fill(c, original.back());
        }
        add_shaped_noise(ir.data(), length, 2, 0.4f, 0.8f, 17, release, rate);
        auto const expected = reference_shaped_noise(original, 0.4f, 0.8f, 17, release, rate);
        for (int c = 0; c < 2; ++c) {
            double const peak = peak_of(expected[c]);
            double worst = 0;
            for (int t = 0; t < length; ++t)
                worst = std::max(worst, std::fabs(ir[c][t] - expected[c][t]));
            EXPECT_LT(worst / peak, 1e-5) << "channel " << c << " release " << release;
        }
        EXPECT_TRUE(ir.guards_intact());
    }
}

TEST(IrShapedNoise, SameSeedSameNoiseOtherSeedOtherNoise)
{
    int const length = 5000;
    auto run = [&](int seed) {
        IrBuffer ir(2, length);
        ir.fill(0, test_signal(length, 0));
        ir.fill(1, test_signal(length, 1));
        add_shaped_noise(ir.data(), length, 2, 0.5f, 1.0f, seed, 0.5f, 44100);
        return std::vector<std::vector<float>>{ir.copy(0, length), ir.copy(1, length)};
    };
    EXPECT_EQ(run(3), run(3));
    EXPECT_NE(run(3)[0], run(4)[0]);
    EXPECT_NE(run(3)[1], run(4)[1]);
}

TEST(IrShapedNoise, LevelZeroOnlyAppliesTheDryGain)
{
    int const length = 3000;
    IrBuffer ir(1, length);
    std::vector<float> const original = test_signal(length, 5);
    ir.fill(0, original);
    add_shaped_noise(ir.data(), length, 1, 0.0f, 0.5f, 1, 0.5f, 48000);
    for (int t = 0; t < length; ++t)
        ASSERT_NEAR(ir[0][t], 0.5f * original[t], 1e-8) << t; // plus the filters' anti-denormal offset
}

TEST(IrShapedNoise, NoiseFollowsTheEnvelopeAndIsBandLimited)
{
    int const length = 48000, rate = 48000;
    IrBuffer ir(1, length);
    // A square-ish IR: full level for the first half, silent after.
    std::vector<float> signal(length, 0.0f);
    for (int t = 0; t < length / 2; ++t)
        signal[t] = t % 2 ? 0.5f : -0.5f;
    ir.fill(0, signal);
    add_shaped_noise(ir.data(), length, 1, 1.0f, 0.0f, 9, 0.0f, rate);
    std::vector<double> added(ir[0], ir[0] + length);

    auto rms = [&](int from, int to) {
        double s = 0;
        for (int t = from; t < to; ++t)
            s += added[t] * added[t];
        return std::sqrt(s / (to - from));
    };
    double const loud = rms(2000, 22000);
    EXPECT_GT(loud, 0.01);
    EXPECT_LT(rms(30000, 48000), 1e-4 * loud); // the noise stops with the IR (release 0)

    // Band limits: little below 50 Hz, and the mean is near zero.
    double mean = 0;
    for (int t = 2000; t < 22000; ++t)
        mean += added[t];
    mean /= 20000;
    EXPECT_LT(std::fabs(mean), 0.02 * loud);
    double low_s = 0, low_c = 0;
    for (int t = 2000; t < 22000; ++t) {
        low_s += added[t] * std::sin(2 * pi * 20.0 * t / rate);
        low_c += added[t] * std::cos(2 * pi * 20.0 * t / rate);
    }
    double const low_amplitude = 2 * std::hypot(low_s, low_c) / 20000;
    EXPECT_LT(low_amplitude, 0.05 * loud);
}

TEST(IrShapedNoise, NothingHappensWithoutLengthOrChannels)
{
    IrBuffer ir(1, 10);
    ir.fill(0, ramp(10));
    add_shaped_noise(ir.data(), 0, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(ir.data(), 10, 0, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(nullptr, 10, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    EXPECT_EQ(ir.copy(0, 10), ramp(10));
}

// ---------------------------------------------------------------------------------------------
// Simulated true stereo

// The two shaped bursts as the operation describes them, from the shared Gaussian generator.
std::vector<std::vector<float>> reference_bursts(int rate, float seconds, int seed)
{
    float const n = static_cast<float>(rate) * seconds;
    int const count = static_cast<int>(n);
    std::vector<std::vector<float>> bursts(2, std::vector<float>(static_cast<std::size_t>(count)));
    unsigned int state = static_cast<unsigned int>(seed);
    ippsRandGauss_Direct_32f(bursts[0].data(), count, 0.0f, 0.1f, &state);
    ippsRandGauss_Direct_32f(bursts[1].data(), count, 0.0f, 0.1f, &state);
    double peak = 0;
    for (auto const& b : bursts)
        for (float v : b)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
    int const quarter = static_cast<int>(0.25f * n);
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
    std::vector<float> const left = test_signal(length, 1), right = test_signal(length, 2);
    ir.fill(0, left);
    ir.fill(1, right);
    ir.fill(2, ramp(100)); // stale contents that must be cleared
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, seconds, rate, 21, level);
    EXPECT_EQ(ir_length, length + 3840); // 80 ms
    EXPECT_TRUE(ir.guards_intact());

    auto const bursts = reference_bursts(rate, seconds, 21);
    std::vector<float> const direct[2] = {left, right};
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
        std::vector<float> const actual = ir.copy(pair + 2, ir_length);
        EXPECT_LT(corvella::test::relative_error_db(actual, reference), -90.0) << "pair " << pair;
        // Past the length only the transforms' rounding noise remains.
        for (int t = ir_length; t < allocated; ++t)
            ASSERT_LT(std::fabs(ir[pair + 2][t]), 1e-5f) << t;
    }
    // The direct channels are untouched.
    EXPECT_EQ(ir.copy(0, length), left);
    EXPECT_EQ(ir.copy(1, length), right);
}

TEST(IrSimulatedTrueStereo, LengthStaysWhenTheGrowthDoesNotFit)
{
    int const rate = 48000, length = 20000, allocated = 23000;
    IrBuffer ir(4, allocated);
    ir.fill(0, test_signal(length, 1));
    ir.fill(1, test_signal(length, 2));
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, 0.08f, rate, 1, 1.0f);
    EXPECT_EQ(ir_length, length);
    EXPECT_TRUE(ir.guards_intact());
}

TEST(IrSimulatedTrueStereo, ShortAllocationLeavesTheSimulatedHalfSilent)
{
    // One block would need 16,384 samples below the allocation: none is processed.
    int const length = 8000, allocated = 16384;
    IrBuffer ir(4, allocated);
    ir.fill(0, test_signal(length, 1));
    ir.fill(1, test_signal(length, 2));
    ir.fill(3, ramp(50));
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, 0.08f, 48000, 1, 1.0f);
    EXPECT_EQ(ir_length, length + 3840);
    EXPECT_EQ(ir.copy(2, allocated), std::vector<float>(allocated, 0.0f));
    EXPECT_EQ(ir.copy(3, allocated), std::vector<float>(allocated, 0.0f));
}

TEST(IrSimulatedTrueStereo, DirectChannelsAreClearedPastTheLength)
{
    int const length = 1000, allocated = 40000;
    IrBuffer ir(4, allocated);
    ir.fill(0, std::vector<float>(allocated, 0.25f));
    ir.fill(1, std::vector<float>(allocated, -0.25f));
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, 0.02f, 44100, 5, 1.0f);
    EXPECT_EQ(ir_length, length + 3528);
    for (int t = length; t < allocated; ++t) {
        ASSERT_EQ(ir[0][t], 0.0f) << t;
        ASSERT_EQ(ir[1][t], 0.0f) << t;
    }
}

TEST(IrSimulatedTrueStereo, SameSeedGivesTheSameHalf)
{
    auto run = [](int seed) {
        IrBuffer ir(4, 40000);
        ir.fill(0, test_signal(5000, 1));
        ir.fill(1, test_signal(5000, 2));
        int ir_length = 5000;
        convolve_ir_ch01_with_noise_to_ch23(ir.data(), 40000, ir_length, 0.03f, 48000, seed, 0.5f);
        return ir.copy(2, ir_length);
    };
    EXPECT_EQ(run(2), run(2));
    EXPECT_NE(run(2), run(3));
}

} // namespace
