#pragma once

// What the tests of the delay-based effects (chorus, stereo delay, pitch modulator) share: planar
// stereo audio with channel pointers at an offset, the effects' table sine as a double-precision
// model, and the check that a sample is not subnormal.

#include <cmath>
#include <numbers>
#include <vector>

namespace corvella::test {

struct stereo {
    std::vector<float> ch[2];
    explicit stereo(int frames) : ch{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)} {}
    float* ptr[2] = {};
    float* const* at(int offset)
    {
        ptr[0] = ch[0].data() + offset;
        ptr[1] = ch[1].data() + offset;
        return ptr;
    }
};

// The LFO sine: 2048 entries per cycle, linear interpolation; the library sine beyond the table.
inline double table_sine(double x)
{
    constexpr double pi = std::numbers::pi;
    double const index = x * 2048.0 / (2.0 * pi);
    if (!(index >= 0.0 && index < 4095.0)) return std::sin(x);
    double const k = std::floor(index);
    double const s0 = std::sin(k * 2.0 * pi / 2048.0), s1 = std::sin((k + 1.0) * 2.0 * pi / 2048.0);
    return s0 + (index - k) * (s1 - s0);
}

inline bool zero_or_normal(float v)
{
    int const kind = std::fpclassify(v);
    return kind == FP_ZERO || kind == FP_NORMAL;
}

} // namespace corvella::test
