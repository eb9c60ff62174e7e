// Gaussian pseudo-random numbers.
//
// The whole generator state is the caller's 32-bit seed: a Weyl sequence (the state advances by
// an odd constant, period 2^32) whose values go through an avalanche hash, which gives uniform
// 32-bit words of good statistical quality from any seed, including 0 and neighbouring seeds.
// Each normal value takes two words through the Box-Muller transform and keeps only the cosine
// branch, so that no spare value has to outlive a call and consecutive calls continue one stream.
#include "convolution/ipps.h"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr std::uint32_t weyl_step = 0x9E3779B9u; // 2^32 / golden ratio, odd

std::uint32_t next_word(std::uint32_t& state)
{
    state += weyl_step;
    std::uint32_t x = state;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

} // namespace

IppStatus ippsRandGauss_Direct_32f(Ipp32f* dst, int len, Ipp32f mean, Ipp32f stdDev, unsigned int* seed)
{
    if (!dst || !seed) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    if (!(stdDev >= 0.0f)) return ippStsBadArgErr;
    constexpr double word_scale = 1.0 / 4294967296.0;
    std::uint32_t state = *seed;
    for (int i = 0; i < len; ++i) {
        const double u1 = (static_cast<double>(next_word(state)) + 1.0) * word_scale; // (0, 1]: log is finite
        const double u2 = static_cast<double>(next_word(state)) * word_scale;
        const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
        dst[i] = static_cast<Ipp32f>(mean + stdDev * z);
    }
    *seed = state;
    return ippStsNoErr;
}
