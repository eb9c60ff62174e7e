// The sine and cosine tables and the interpolated sine.
#include "effects/math_lookup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr double pi = std::numbers::pi;

TEST(MathLookup, TablesHoldTwoCyclesOfSineAndCosine)
{
    math_lookup lookup;
    ASSERT_NE(lookup.sine_table(), nullptr);
    ASSERT_NE(lookup.cosine_table(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(lookup.sine_table()) % 32, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(lookup.cosine_table()) % 32, 0u);
    for (int i = 0; i < 4096; ++i) {
        double const angle = 2.0 * pi * i / 2048.0;
        ASSERT_NEAR(lookup.sine_table()[i], std::sin(angle), 2e-6) << i;
        ASSERT_NEAR(lookup.cosine_table()[i], std::cos(angle), 2e-6) << i;
    }
}

TEST(MathLookup, InterpolationErrorOverTwoCyclesIsBelowTheTableStepBound)
{
    math_lookup lookup;
    EXPECT_EQ(lookup.sin_lookup_interp(0.0f), 0.0f);
    double worst = 0.0;
    // The last interval, between entry 4095 and entry 0, is among the angles.
    for (int i = 0; i <= 200000; ++i) {
        float const x = static_cast<float>(4.0 * pi * i / 200000.0);
        worst = std::max(worst, std::fabs(lookup.sin_lookup_interp(x) - std::sin(static_cast<double>(x))));
    }
    // Linear interpolation over a step h errs by at most h²/8, 1.18e-6 for h = 2π/2048; the
    // single-precision angles of the entries (2π rounded to 6.2831855) add up to 3.5e-7 near 4π.
    EXPECT_LT(worst, 1.5e-6);
    EXPECT_GT(worst, 0.5e-6); // the table really is interpolated, not the library sine
}

TEST(MathLookup, OutsideTheTableTheLibrarySineIsUsed)
{
    math_lookup lookup;
    for (float x : {static_cast<float>(4 * pi), 13.0f, 100.0f, -0.3f, -7.0f})
        EXPECT_EQ(lookup.sin_lookup_interp(x), std::sin(x)) << x;
}

} // namespace
