// The two IR resamplers: lengths, timing, gain, failures and the first-sample rule of the
// stacked-format one.
#include "ir/ir_shaping.h"

#include "ir/ir_shaping_buffer.h"
#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using corvella::test::IrBuffer;
constexpr double pi = std::numbers::pi;

std::vector<float> sine(int count, double hz, double rate, double phase = 0.0)
{
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2 * pi * hz * i / rate + phase));
    return v;
}

// ---------------------------------------------------------------------------------------------
// Polyphase resampler

TEST(IrPolyphaseResample, EqualRatesReturnAtOnce)
{
    IrBuffer ir(2, 1000);
    ir.fill(0, sine(900, 100.0, 48000.0));
    float* const before = ir[0];
    int allocated = 1000, length = 900;
    resample_audio_file_into_preallocated_memory(ir.data(), 48000, 48000, allocated, length, 2);
    EXPECT_EQ(ir[0], before);
    EXPECT_EQ(allocated, 1000);
    EXPECT_EQ(length, 900);
    EXPECT_EQ(ir.copy(0, 900), sine(900, 100.0, 48000.0));
}

// Output k stands at input time k x source / target, with gain 0.98.
TEST(IrPolyphaseResample, SineKeepsItsTimingWithTheFixedGain)
{
    struct Case {
        int source, target, expected_length;
    };
    for (Case const c : {Case{44100, 48000, 48139}, Case{48000, 44100, 44217}}) {
        int const frames = c.source; // one second
        int allocated = 2 * frames;
        IrBuffer ir(2, allocated);
        ir.fill(0, sine(frames, 1000.0, c.source));
        ir.fill(1, sine(frames, 3000.0, c.source, 0.5));
        float* const old_channel = ir[0];
        int length = frames;
        corvella::test::MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(ir.data(), c.source, c.target, allocated, length, 2);
        EXPECT_EQ(messages.count(), 0u);
        EXPECT_NE(ir[0], old_channel); // the channel was replaced
        EXPECT_EQ(allocated, 2 * frames);
        EXPECT_EQ(length, c.expected_length) << c.source << " -> " << c.target;

        double worst[2] = {0, 0};
        int const margin = 300; // the filter meets the signal's abrupt start and end
        for (int k = margin; k < c.target - margin; ++k) {
            double const t = static_cast<double>(k) / c.target;
            worst[0] = std::max(worst[0], std::fabs(ir[0][k] - 0.98 * std::sin(2 * pi * 1000.0 * t)));
            worst[1] = std::max(worst[1], std::fabs(ir[1][k] - 0.98 * std::sin(2 * pi * 3000.0 * t + 0.5)));
        }
        EXPECT_LT(worst[0], 1e-4) << c.source << " -> " << c.target;
        EXPECT_LT(worst[1], 1e-4) << c.source << " -> " << c.target;
        // Nothing follows the resampled block (the padded input plus the filter's reach).
        for (int k = c.target + 400; k < allocated; ++k)
            ASSERT_EQ(ir[0][k], 0.0f) << k;
    }
}

TEST(IrPolyphaseResample, LengthCountsThePaddedInput)
{
    int allocated = 100000, length = 96000;
    IrBuffer ir(1, allocated);
    ir[0][1000] = 1.0f;
    resample_audio_file_into_preallocated_memory(ir.data(), 96000, 48000, allocated, length, 1);
    EXPECT_EQ(length, 48064); // (96000 + 128) / 2
    // The impulse at 1000 lands at 500.
    int const peak =
        static_cast<int>(std::max_element(ir[0], ir[0] + allocated,
                                          [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
                         ir[0]);
    EXPECT_EQ(peak, 500);
}

TEST(IrPolyphaseResample, InvalidRatesShowTheInitialisationError)
{
    for (int bad_rate : {0, -44100}) {
        IrBuffer ir(1, 1000);
        ir.fill(0, sine(800, 100.0, 44100.0));
        float* const before = ir[0];
        int allocated = 1000, length = 800;
        corvella::test::MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(ir.data(), bad_rate, 48000, allocated, length, 1);
        ASSERT_EQ(messages.count(), 1u);
        EXPECT_EQ(messages.last(), (corvella::test::RecordedMessage{
                                       "Tarn Wick: Corvella", "Resample init error (failed on GetSize)", 0}));
        EXPECT_EQ(ir[0], before);
        EXPECT_EQ(ir.copy(0, 800), sine(800, 100.0, 44100.0));
        EXPECT_EQ(length, 800);
        EXPECT_EQ(allocated, 1000);
    }
}

TEST(IrPolyphaseResample, AnAllocationTooSmallLosesTheTailButIsNotOverrun)
{
    int allocated = 5000, length = 4000;
    IrBuffer ir(1, allocated);
    ir.fill(0, sine(4000, 500.0, 44100.0));
    corvella::test::MessageRecorder messages;
    resample_audio_file_into_preallocated_memory(ir.data(), 44100, 96000, allocated, length, 1);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(length, allocated);
    // What fits is still the resampled sine.
    for (int k = 400; k < 4000; ++k)
        ASSERT_NEAR(ir[0][k], 0.98 * std::sin(2 * pi * 500.0 * k / 96000.0), 1e-4) << k;
}

TEST(IrPolyphaseResample, NothingHappensWithoutLengthOrChannels)
{
    IrBuffer ir(1, 1000);
    ir.fill(0, sine(500, 100.0, 44100.0));
    float* const before = ir[0];
    int allocated = 1000, length = 0;
    resample_audio_file_into_preallocated_memory(ir.data(), 44100, 48000, allocated, length, 1);
    length = 500;
    resample_audio_file_into_preallocated_memory(ir.data(), 44100, 48000, allocated, length, 0);
    resample_audio_file_into_preallocated_memory(nullptr, 44100, 48000, allocated, length, 1);
    EXPECT_EQ(ir[0], before);
    EXPECT_EQ(length, 500);
    EXPECT_EQ(ir.copy(0, 500), sine(500, 100.0, 44100.0));
}

// ---------------------------------------------------------------------------------------------
// Stacked-format resampler

TEST(IrStreamResample, AnImpulseAtSampleZeroAloneResamplesToSilence)
{
    int allocated = 10000, length = 4410;
    IrBuffer ir(2, allocated);
    ir[0][0] = 1.0f;
    ir[1][0] = -0.5f;
    resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, 48000.0f, allocated, length, 2);
    EXPECT_EQ(length, 4800);
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < allocated; ++k)
            ASSERT_EQ(ir[c][k], 0.0f) << c << " " << k;
    EXPECT_TRUE(ir.guards_intact());
}

// Output k stands at input time k / ratio of the fed signal, which starts at the channel's
// second sample: at channel time 1 + k x source / target.
TEST(IrStreamResample, SineIsTimeAlignedAfterTheDroppedFirstSample)
{
    struct Case {
        float source, target;
        int expected_length;
    };
    for (Case const c : {Case{44100.0f, 48000.0f, 48000}, Case{96000.0f, 44100.0f, 44100},
                         Case{44100.0f, 96000.0f, 96000}}) {
        int const frames = static_cast<int>(c.source);
        int allocated = 3 * frames;
        IrBuffer ir(1, allocated);
        ir.fill(0, sine(frames, 1000.0, c.source));
        float* const before = ir[0];
        int length = frames;
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), c.source, c.target, allocated, length, 1);
        EXPECT_EQ(ir[0], before); // resampled in place
        EXPECT_EQ(length, c.expected_length);
        double worst = 0;
        int const margin = static_cast<int>(c.target / 20); // the abrupt start and end ring
        for (int k = margin; k < static_cast<int>(c.target) - margin; ++k) {
            double const t = 1.0 + static_cast<double>(k) * c.source / c.target; // in input samples
            worst = std::max(worst, std::fabs(ir[0][k] - std::sin(2 * pi * 1000.0 * t / c.source)));
        }
        EXPECT_LT(worst, 1e-5) << c.source << " -> " << c.target;
        EXPECT_TRUE(ir.guards_intact());
    }
}

TEST(IrStreamResample, EqualRatesShiftByOneSample)
{
    int allocated = 8000, length = 6000;
    IrBuffer ir(1, allocated);
    std::vector<float> const original = sine(length, 2000.0, 48000.0, 0.3);
    ir.fill(0, original);
    resample_audio_file_into_preallocated_memory_r8b(ir.data(), 48000.0f, 48000.0f, allocated, length, 1);
    EXPECT_EQ(length, 6000);
    for (int k = 1000; k < 5000; ++k)
        ASSERT_NEAR(ir[0][k], original[static_cast<std::size_t>(k + 1)], 1e-5) << k;
}

TEST(IrStreamResample, AResultLongerThanTheAllocationChangesNothing)
{
    int allocated = 1000, length = 950;
    IrBuffer ir(1, allocated);
    ir.fill(0, sine(950, 440.0, 44100.0));
    resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, 48000.0f, allocated, length, 1);
    EXPECT_EQ(length, 950);
    EXPECT_EQ(allocated, 1000);
    EXPECT_EQ(ir.copy(0, 950), sine(950, 440.0, 44100.0));
}

TEST(IrStreamResample, WithoutChannelsOnlyTheLengthChanges)
{
    int allocated = 1000, length = 10000;
    resample_audio_file_into_preallocated_memory_r8b(nullptr, 44100.0f, 96000.0f, allocated, length, 0);
    EXPECT_EQ(length, 21768);
    EXPECT_EQ(allocated, 1000);
}

TEST(IrStreamResample, InvalidRatesChangeNothing)
{
    int allocated = 1000, length = 500;
    IrBuffer ir(1, allocated);
    ir.fill(0, sine(500, 440.0, 44100.0));
    for (float bad : {0.0f, -48000.0f, NAN}) {
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, bad, allocated, length, 1);
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), bad, 44100.0f, allocated, length, 1);
    }
    EXPECT_EQ(length, 500);
    EXPECT_EQ(ir.copy(0, 500), sine(500, 440.0, 44100.0));
}

} // namespace
