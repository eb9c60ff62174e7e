#include "engine/engine_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(DualScaling, EachSideOfTheCentreIsLinearInDecibelsUpToItsLimit)
{
    struct Case {
        float unity, low, high, db;
    };
    Case const cases[] = {
        {0.5f, -50.0f, 50.0f, 0.0f},    {1.0f, -50.0f, 50.0f, 50.0f},
        {0.0f, -50.0f, 50.0f, -50.0f},  {1.0f, -30.0f, 30.0f, 30.0f},
        {0.0f, -60.0f, 20.0f, -60.0f},  {0.75f, -50.0f, 50.0f, 25.0f},
        {0.25f, -50.0f, 50.0f, -25.0f}, {0.6f, -60.0f, 20.0f, 4.0f},
        {0.4f, -60.0f, 20.0f, -12.0f},  {std::numeric_limits<float>::quiet_NaN(), -50.0f, 50.0f, 0.0f}};
    for (Case const& c : cases)
        EXPECT_FLOAT_EQ(get_db_gain_from_dual_scaling(c.unity, c.low, c.high), c.db)
            << c.unity << " on " << c.low << " .. " << c.high;
}

// 1 - dB / floor, from the RMS (mode 0) or the peak (mode 1), the peak limited to full scale; a
// floor that is not negative gives 0.
TEST(SignalLevel, RmsOrPeakInDecibelsAboveTheFloor)
{
    double const half = 1.0 - 20.0 * std::log10(0.5) / -96.0, quarter = 1.0 - 20.0 * std::log10(0.25) / -96.0;
    struct Case {
        std::vector<float> samples;
        int mode;
        float floor;
        double expected;
    };
    Case const cases[] = {{std::vector<float>(32, 1.0f), 0, -96.0f, 1.0},
                          {std::vector<float>(32, 0.0f), 0, -96.0f, 0.0},
                          {std::vector<float>(32, 0.0f), 1, -96.0f, 0.0},
                          {{0.5f, -0.5f, 0.5f, -0.5f}, 0, -96.0f, half},
                          {{0.0f, 0.5f, 0.0f, 0.0f}, 0, -96.0f, quarter},
                          {{0.0f, 0.5f, 0.0f, 0.0f}, 1, -96.0f, half},
                          {{4.0f, 0.0f}, 1, -96.0f, 1.0},
                          {std::vector<float>(8, 1.0f), 0, 0.0f, 0.0},
                          {std::vector<float>(8, 1.0f), 1, 6.0f, 0.0}};
    for (Case const& c : cases)
        EXPECT_NEAR(calculate_signal_level_db_unity(c.samples.data(), static_cast<int>(c.samples.size()),
                                                    c.mode, c.floor),
                    c.expected, 1e-6)
            << c.samples[0] << ", " << c.samples.size() << " samples, mode " << c.mode << ", floor "
            << c.floor;
}

} // namespace
