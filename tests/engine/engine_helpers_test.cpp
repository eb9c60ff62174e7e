#include "engine/engine_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(DualScaling, CentreIsZeroAndEndsAreTheRangeLimits)
{
    EXPECT_EQ(get_db_gain_from_dual_scaling(0.5f, -50.0f, 50.0f), 0.0f);
    EXPECT_EQ(get_db_gain_from_dual_scaling(1.0f, -50.0f, 50.0f), 50.0f);
    EXPECT_EQ(get_db_gain_from_dual_scaling(0.0f, -50.0f, 50.0f), -50.0f);
    EXPECT_EQ(get_db_gain_from_dual_scaling(1.0f, -30.0f, 30.0f), 30.0f);
    EXPECT_EQ(get_db_gain_from_dual_scaling(0.0f, -60.0f, 20.0f), -60.0f);
}

TEST(DualScaling, EachSideIsLinearInDecibels)
{
    EXPECT_FLOAT_EQ(get_db_gain_from_dual_scaling(0.75f, -50.0f, 50.0f), 25.0f);
    EXPECT_FLOAT_EQ(get_db_gain_from_dual_scaling(0.25f, -50.0f, 50.0f), -25.0f);
    EXPECT_FLOAT_EQ(get_db_gain_from_dual_scaling(0.6f, -60.0f, 20.0f), 4.0f);
    EXPECT_FLOAT_EQ(get_db_gain_from_dual_scaling(0.4f, -60.0f, 20.0f), -12.0f);
}

TEST(DualScaling, NotANumberCountsAsTheCentre)
{
    EXPECT_EQ(get_db_gain_from_dual_scaling(std::numeric_limits<float>::quiet_NaN(), -50.0f, 50.0f), 0.0f);
}

TEST(SignalLevel, FullScaleIsOneAndTheFloorIsZero)
{
    std::vector<float> full(32, 1.0f);
    std::vector<float> silent(32, 0.0f);
    EXPECT_FLOAT_EQ(calculate_signal_level_db_unity(full.data(), 32, 0, -96.0f), 1.0f);
    EXPECT_FLOAT_EQ(calculate_signal_level_db_unity(silent.data(), 32, 0, -96.0f), 0.0f);
    EXPECT_FLOAT_EQ(calculate_signal_level_db_unity(silent.data(), 32, 1, -96.0f), 0.0f);
}

TEST(SignalLevel, RmsAndPeakModes)
{
    // A square wave of amplitude 0.5: RMS 0.5 (-6.02 dB); one sample of 0.5 among zeros: RMS 0.5/sqrt(4).
    std::vector<float> square = {0.5f, -0.5f, 0.5f, -0.5f};
    double const db_half = 20.0 * std::log10(0.5);
    EXPECT_NEAR(calculate_signal_level_db_unity(square.data(), 4, 0, -96.0f), 1.0 - db_half / -96.0, 1e-6);
    std::vector<float> single = {0.0f, 0.5f, 0.0f, 0.0f};
    double const db_rms = 20.0 * std::log10(0.25);
    EXPECT_NEAR(calculate_signal_level_db_unity(single.data(), 4, 0, -96.0f), 1.0 - db_rms / -96.0, 1e-6);
    EXPECT_NEAR(calculate_signal_level_db_unity(single.data(), 4, 1, -96.0f), 1.0 - db_half / -96.0, 1e-6);
    // The peak is limited to full scale.
    std::vector<float> loud = {4.0f, 0.0f};
    EXPECT_FLOAT_EQ(calculate_signal_level_db_unity(loud.data(), 2, 1, -96.0f), 1.0f);
}

TEST(SignalLevel, NonNegativeFloorGivesZero)
{
    std::vector<float> full(8, 1.0f);
    EXPECT_EQ(calculate_signal_level_db_unity(full.data(), 8, 0, 0.0f), 0.0f);
    EXPECT_EQ(calculate_signal_level_db_unity(full.data(), 8, 1, 6.0f), 0.0f);
}

} // namespace
