#pragma once

// Double-precision references for the equaliser tests: the anti-image low-pass typed from its
// design values, and audio-EQ cookbook coefficients, normalised.

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
    double const a = std::pow(10.0, gain_db / 40.0);
    double const w = 2.0 * pi * f0 / fs;
    double const c = std::cos(w), s = std::sin(w), al = s / (2.0 * q), sa = 2.0 * std::sqrt(a) * al;
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;
    switch (mode) {
    case 0:
        b0 = b2 = (1 - c) / 2, b1 = 1 - c, a0 = 1 + al, a1 = -2 * c, a2 = 1 - al;
        break;
    case 1:
        b0 = b2 = (1 + c) / 2, b1 = -(1 + c), a0 = 1 + al, a1 = -2 * c, a2 = 1 - al;
        break;
    case 2:
        b0 = a * ((a + 1) - (a - 1) * c + sa), b1 = 2 * a * ((a - 1) - (a + 1) * c);
        b2 = a * ((a + 1) - (a - 1) * c - sa), a0 = (a + 1) + (a - 1) * c + sa;
        a1 = -2 * ((a - 1) + (a + 1) * c), a2 = (a + 1) + (a - 1) * c - sa;
        break;
    case 3:
        b0 = a * ((a + 1) + (a - 1) * c + sa), b1 = -2 * a * ((a - 1) + (a + 1) * c);
        b2 = a * ((a + 1) + (a - 1) * c - sa), a0 = (a + 1) - (a - 1) * c + sa;
        a1 = 2 * ((a - 1) - (a + 1) * c), a2 = (a + 1) - (a - 1) * c - sa;
        break;
    default:
        b0 = 1 + al * a, b1 = -2 * c, b2 = 1 - al * a, a0 = 1 + al / a, a1 = -2 * c, a2 = 1 - al / a;
        break;
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

// The 2x scheme in double precision, with coefficients that may change between blocks.
struct model_2x {
    std::vector<biquad_d> bands;
    std::vector<double> hist;
    double lx[6] = {}, ly[6] = {};

    explicit model_2x(std::vector<biquad_d> b) : bands(std::move(b)), hist(bands.size() * 4, 0.0) {}

    std::vector<double> run(float const* x, int n)
    {
        std::vector<double> out(n);
        for (int i = 0; i < n; ++i) {
            for (int step = 0; step < 2; ++step) {
                double v = step == 0 ? x[i] : 0.0;
                for (std::size_t s = 0; s < bands.size(); ++s) {
                    biquad_d const& f = bands[s];
                    double* h = &hist[s * 4];
                    double const y = f.b0 * v + f.b1 * h[0] + f.b2 * h[1] - f.a1 * h[2] - f.a2 * h[3];
                    h[1] = h[0], h[0] = v, h[3] = h[2], h[2] = y;
                    v = y;
                }
                for (int k = 5; k > 0; --k)
                    lx[k] = lx[k - 1], ly[k] = ly[k - 1];
                lx[0] = v;
                double y = lp_b[0] * v;
                for (int k = 1; k < 6; ++k)
                    y += lp_b[k] * lx[k] - lp_a[k] * ly[k];
                ly[0] = y;
                if (step == 0) out[i] = 2.0 * y;
            }
        }
        return out;
    }
};

} // namespace corvella::test
