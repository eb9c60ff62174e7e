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
using corvella::test::MessageRecorder;
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

// Output k stands at input time k x source / target, with gain 0.98.
TEST(IrPolyphaseResample, SineKeepsItsTimingWithTheFixedGain)
{
    struct Case {
        int source, target, expected_length;
    };
    for (Case const c : {Case{44100, 48000, 48139}, Case{48000, 44100, 44217}}) {
        SCOPED_TRACE(testing::Message() << c.source << " -> " << c.target);
        int const frames = c.source; // one second
        int allocated = 2 * frames, length = frames;
        IrBuffer ir(2, allocated);
        ir.fill(0, sine(frames, 1000.0, c.source));
        ir.fill(1, sine(frames, 3000.0, c.source, 0.5));
        float* const old_channel = ir[0];
        MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(ir.data(), c.source, c.target, allocated, length, 2);
        EXPECT_EQ(messages.count(), 0u);
        EXPECT_NE(ir[0], old_channel); // the channel was replaced
        EXPECT_EQ(allocated, 2 * frames);
        EXPECT_EQ(length, c.expected_length);

        double worst[2] = {0, 0};
        int const margin = 300; // the filter meets the signal's abrupt start and end
        for (int k = margin; k < c.target - margin; ++k) {
            double const t = static_cast<double>(k) / c.target;
            worst[0] = std::max(worst[0], std::fabs(ir[0][k] - 0.98 * std::sin(2 * pi * 1000.0 * t)));
            worst[1] = std::max(worst[1], std::fabs(ir[1][k] - 0.98 * std::sin(2 * pi * 3000.0 * t + 0.5)));
        }
        EXPECT_LT(worst[0], 1e-4);
        EXPECT_LT(worst[1], 1e-4);
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
    auto const peak = std::max_element(ir[0], ir[0] + allocated,
                                       [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_EQ(peak - ir[0], 500); // the impulse at 1000 lands at 500
}

TEST(IrPolyphaseResample, AnAllocationTooSmallLosesTheTailButIsNotOverrun)
{
    int allocated = 5000, length = 4000;
    IrBuffer ir(1, allocated);
    ir.fill(0, sine(4000, 500.0, 44100.0));
    MessageRecorder messages;
    resample_audio_file_into_preallocated_memory(ir.data(), 44100, 96000, allocated, length, 1);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(length, allocated);
    for (int k = 400; k < 4000; ++k) // what fits is still the resampled sine
        ASSERT_NEAR(ir[0][k], 0.98 * std::sin(2 * pi * 500.0 * k / 96000.0), 1e-4) << k;
}

TEST(IrPolyphaseResample, EqualRatesAndInvalidArgumentsLeaveTheIrAlone)
{
    struct Case {
        int source, length, channels;
        bool with_buffer;
        char const* message; // shown, or null
    };
    Case const cases[] = {{48000, 800, 1, true, nullptr},
                          {44100, 0, 1, true, nullptr},
                          {44100, 800, 0, true, nullptr},
                          {44100, 800, 1, false, nullptr},
                          {0, 800, 1, true, "Resample init error (failed on GetSize)"},
                          {-44100, 800, 1, true, "Resample init error (failed on GetSize)"}};
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << " Hz, " << c.length << " frames, " << c.channels);
        IrBuffer ir(1, 1000);
        ir.fill(0, sine(800, 100.0, 44100.0));
        float* const before = ir[0];
        int allocated = 1000, length = c.length;
        MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(c.with_buffer ? ir.data() : nullptr, c.source, 48000,
                                                     allocated, length, c.channels);
        std::vector<corvella::test::RecordedMessage> expected;
        if (c.message) expected.push_back({"Tarn Wick: Corvella", c.message, 0});
        EXPECT_EQ(messages.messages(), expected);
        EXPECT_EQ(ir[0], before);
        EXPECT_EQ(ir.copy(0, 800), sine(800, 100.0, 44100.0));
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(allocated, 1000);
    }
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
        EXPECT_EQ(ir.copy(c, allocated), std::vector<float>(allocated, 0.0f)) << c;
    EXPECT_TRUE(ir.guards_intact());
}

// Output k stands at input time k / ratio of the fed signal, which starts at the channel's second
// sample: at channel time 1 + k x source / target (equal rates shift by one sample).
TEST(IrStreamResample, SineIsTimeAlignedAfterTheDroppedFirstSample)
{
    struct Case {
        float source, target;
        int expected_length;
    };
    for (Case const c : {Case{44100.0f, 48000.0f, 48000}, Case{96000.0f, 44100.0f, 44100},
                         Case{44100.0f, 96000.0f, 96000}, Case{48000.0f, 48000.0f, 48000}}) {
        SCOPED_TRACE(testing::Message() << c.source << " -> " << c.target);
        int const frames = static_cast<int>(c.source);
        int allocated = 3 * frames, length = frames;
        IrBuffer ir(1, allocated);
        ir.fill(0, sine(frames, 1000.0, c.source));
        float* const before = ir[0];
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), c.source, c.target, allocated, length, 1);
        EXPECT_EQ(ir[0], before); // in place
        EXPECT_EQ(length, c.expected_length);
        double worst = 0;
        int const margin = static_cast<int>(c.target / 20); // the abrupt start and end ring
        for (int k = margin; k < static_cast<int>(c.target) - margin; ++k) {
            double const t = 1.0 + static_cast<double>(k) * c.source / c.target; // in input samples
            worst = std::max(worst, std::fabs(ir[0][k] - std::sin(2 * pi * 1000.0 * t / c.source)));
        }
        EXPECT_LT(worst, 1e-5);
        EXPECT_TRUE(ir.guards_intact());
    }
}

TEST(IrStreamResample, FailuresChangeNothingAndWithoutChannelsOnlyTheLengthChanges)
{
    std::vector<float> const original = sine(950, 440.0, 44100.0);
    IrBuffer ir(1, 1000);
    ir.fill(0, original);
    int allocated = 1000, length = 950;
    // A result longer than the allocation, and invalid rates.
    resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, 48000.0f, allocated, length, 1);
    for (float bad : {0.0f, -48000.0f, NAN}) {
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, bad, allocated, length, 1);
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), bad, 44100.0f, allocated, length, 1);
    }
    EXPECT_EQ(length, 950);
    EXPECT_EQ(allocated, 1000);
    EXPECT_EQ(ir.copy(0, 950), original);

    length = 10000;
    resample_audio_file_into_preallocated_memory_r8b(nullptr, 44100.0f, 96000.0f, allocated, length, 0);
    EXPECT_EQ(length, 21768);
    EXPECT_EQ(allocated, 1000);
}

} // namespace
