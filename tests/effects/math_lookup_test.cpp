// The interpolated sine (its accuracy proves the sine table) and its fallback.
#include "effects/math_lookup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr double pi = std::numbers::pi;

TEST(MathLookup, InterpolatesOverTwoCyclesAndUsesTheLibrarySineOutside)
{
    math_lookup lookup;
    EXPECT_EQ(lookup.sin_lookup_interp(0.0f), 0.0f);
    double worst = 0.0;
    for (int i = 0; i <= 200000; ++i) { // includes the last interval, from entry 4095 back to entry 0
        float const x = static_cast<float>(4.0 * pi * i / 200000.0);
        worst = std::max(worst, std::fabs(lookup.sin_lookup_interp(x) - std::sin(static_cast<double>(x))));
    }
    // Linear interpolation over h = 2π/2048 errs by at most h²/8 = 1.18e-6, plus up to 3.5e-7 from
    // the single-precision angles near 4π; a much smaller error would mean the library sine was used.
    EXPECT_LT(worst, 1.5e-6);
    EXPECT_GT(worst, 0.5e-6);
    for (float x : {static_cast<float>(4 * pi), 13.0f, -0.3f})
        EXPECT_EQ(lookup.sin_lookup_interp(x), std::sin(x)) << x;
}

} // namespace
