#pragma once

// Shared by the equaliser and IR shaping tests: double-precision references (the anti-image low-pass typed
// from its design values, audio-EQ cookbook coefficients, the 2x scheme) and small set-up helpers.

#include "effects/biquad_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace corvella::test {

inline constexpr double pi = std::numbers::pi;

// clang-format off
inline constexpr double lp_b[6] = {0.028173040598630905, 0.14086520671844482, 0.28173041343688965,
                                   0.28173041343688965,  0.14086520671844482, 0.028173040598630905};
inline constexpr double lp_a[6] = {1.0, -0.9436643123626709, 1.4400171041488647, -0.9628964066505432,
                                   0.5300895571708679, -0.1620086282491684};
// clang-format on

struct biquad_d {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// Cookbook coefficients in double precision, normalised.
inline biquad_d cookbook(int mode, double f0, double q, double gain_db, double fs)
{
    double const a = std::pow(10.0, gain_db / 40.0), w = 2.0 * pi * f0 / fs;
    double const c = std::cos(w), al = std::sin(w) / (2.0 * q), sa = 2.0 * std::sqrt(a) * al;
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = -2 * c, a2 = 0;
    if (mode == 0) b0 = b2 = (1 - c) / 2, b1 = 1 - c, a0 = 1 + al, a2 = 1 - al;
    if (mode == 1) b0 = b2 = (1 + c) / 2, b1 = -(1 + c), a0 = 1 + al, a2 = 1 - al;
    if (mode == 2 || mode == 3) {
        double const s = mode == 2 ? 1.0 : -1.0; // the high shelf mirrors the signs of c
        b0 = a * ((a + 1) - s * (a - 1) * c + sa), b1 = s * 2 * a * ((a - 1) - s * (a + 1) * c);
        b2 = a * ((a + 1) - s * (a - 1) * c - sa), a0 = (a + 1) + s * (a - 1) * c + sa;
        a1 = -s * 2 * ((a - 1) + s * (a + 1) * c), a2 = (a + 1) + s * (a - 1) * c - sa;
    }
    if (mode == 4) b0 = 1 + al * a, b1 = -2 * c, b2 = 1 - al * a, a0 = 1 + al / a, a2 = 1 - al / a;
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

// One Direct Form I step in double precision; h holds x1, x2, y1, y2 and runs on between calls.
inline double biquad_step(biquad_d const& f, double* h, double x)
{
    double const y = f.b0 * x + f.b1 * h[0] + f.b2 * h[1] - f.a1 * h[2] - f.a2 * h[3];
    h[1] = h[0], h[0] = x, h[3] = h[2], h[2] = y;
    return y;
}

// The 2x scheme in double precision; `bands` may change between calls.
struct model_2x {
    std::vector<biquad_d> bands;
    std::vector<double> hist;
    double lx[6] = {}, ly[6] = {};

    explicit model_2x(std::vector<biquad_d> b) : bands(std::move(b)), hist(bands.size() * 4, 0.0) {}

    std::vector<double> run(float const* x, int n)
    {
        std::vector<double> out(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            for (int step = 0; step < 2; ++step) {
                double v = step == 0 ? x[i] : 0.0;
                for (std::size_t s = 0; s < bands.size(); ++s)
                    v = biquad_step(bands[s], &hist[s * 4], v);
                for (int k = 5; k > 0; --k)
                    lx[k] = lx[k - 1], ly[k] = ly[k - 1];
                lx[0] = v;
                double y = lp_b[0] * v;
                for (int k = 1; k < 6; ++k)
                    y += lp_b[k] * lx[k] - lp_a[k] * ly[k];
                ly[0] = y;
                if (step == 0) out[static_cast<std::size_t>(i)] = 2.0 * y;
            }
        return out;
    }
};

// The unity frequency taper r(u) = (10^((10^u - 1) / 9) - 1) / 9.
inline double taper(double u)
{
    return (std::pow(10.0, (std::pow(10.0, u) - 1.0) / 9.0) - 1.0) / 9.0;
}

// A switched-on band at `rate` (the base rate of an upsampling band) with max f0 = rate / 2.
inline void configure(biquad_filter& band, int mode, float f0, float q, float gain_db, float rate = 48000.0f)
{
    band.set_freq_fs(rate);
    band.set_freq_max_f0(rate * 0.5f);
    band.set_freq_f0(f0);
    band.set_q(q);
    band.set_mode(mode);
    band.set_gain_db(gain_db);
    band.set_toggle(1.0f);
    band.compute_coeffs();
}

// Two sines and a pulse train.
inline std::vector<float> eq_test_signal(int n)
{
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(0.4 * std::sin(2.0 * pi * 440.0 * i / 48000.0) +
                               0.3 * std::sin(2.0 * pi * 7919.0 * i / 48000.0) + (i % 11 == 0 ? 0.25 : 0.0));
    return x;
}

inline void expect_coefficients_near(biquad_coefficients const& got, biquad_coefficients const& want,
                                     double tol)
{
    float const g[6] = {got.b0, got.b1, got.b2, got.a0, got.a1, got.a2};
    float const w[6] = {want.b0, want.b1, want.b2, want.a0, want.a1, want.a2};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(g[k], w[k], tol) << "coefficient " << k << " (b0 b1 b2 a0 a1 a2)";
}

inline void expect_near(std::vector<float> const& actual, std::vector<double> const& expected,
                        double tolerance)
{
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_NEAR(actual[i], expected[i], tolerance) << "sample " << i;
}

} // namespace corvella::test
