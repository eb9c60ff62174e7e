// Sample-rate changes: integer up/down sampling and the fixed-ratio polyphase resampler.
#include "convolution/ipps.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <new>
#include <numbers>
#include <numeric>
#include <type_traits>

// ---------------------------------------------------------------------------------------------
// Integer steps

IppStatus ippsSampleUp_32f(const Ipp32f* src, int srcLen, Ipp32f* dst, int* dstLen, int factor, int* phase)
{
    if (!src || !dst || !dstLen || !phase) return ippStsNullPtrErr;
    if (srcLen < 0 || factor < 1) return ippStsSizeErr;
    if (*phase < 0 || *phase >= factor) return ippStsOutOfRangeErr;
    const std::int64_t total = static_cast<std::int64_t>(srcLen) * factor;
    if (total > INT_MAX) return ippStsSizeErr;
    std::memset(dst, 0, static_cast<std::size_t>(total) * sizeof(Ipp32f));
    for (int i = 0; i < srcLen; ++i)
        dst[static_cast<std::int64_t>(i) * factor + *phase] = src[i];
    *dstLen = static_cast<int>(total);
    return ippStsNoErr;
}

IppStatus ippsSampleDown_32f(const Ipp32f* src, int srcLen, Ipp32f* dst, int* dstLen, int factor, int* phase)
{
    if (!src || !dst || !dstLen || !phase) return ippStsNullPtrErr;
    if (srcLen < 0 || factor < 1) return ippStsSizeErr;
    if (*phase < 0 || *phase >= factor) return ippStsOutOfRangeErr;
    int count = 0;
    int i = *phase;
    for (; i < srcLen; i += factor)
        dst[count++] = src[i];
    *dstLen = count;
    *phase = i - srcLen; // where the next block's first kept sample lies
    return ippStsNoErr;
}

// ---------------------------------------------------------------------------------------------
// Polyphase resampler
//
// Output positions advance by down/up input samples. A position is held as an integer sample n
// and a phase j in 0..up-1 (n + j/up); phase j has its own row of taps, the windowed sinc sampled
// at offsets j/up + centre - i for i = 0..taps_per_phase-1, applied to src[n - centre + i].

namespace {

constexpr unsigned int resampler_magic = 0x52535031u; // "RSP1"
constexpr std::int64_t header_bytes = 64;             // the taps start on the next 64-byte boundary

} // namespace

// The caller's block starts with this header; the taps follow at header_bytes, up rows of
// taps_per_phase floats.
struct IppsResamplingPolyphaseFixed_32f {
    unsigned int magic;
    int in_rate;
    int out_rate;
    int up;   // phases: outRate / gcd
    int down; // input step per up outputs: inRate / gcd
    int taps_per_phase;
    int centre;   // input samples before the position covered by each row
    int accurate; // sums in double precision
};

static_assert(sizeof(IppsResamplingPolyphaseFixed_32f) <= header_bytes);

namespace {

struct Geometry {
    int up = 0;
    int down = 0;
    double half_width = 0.0; // input samples on each side of a position
    int centre = 0;
    int taps_per_phase = 0;
    std::int64_t spec_bytes = 0;
};

bool plan_geometry(int in_rate, int out_rate, int len, Geometry& g)
{
    if (in_rate <= 0 || out_rate <= 0 || len < 2) return false;
    const int divisor = std::gcd(in_rate, out_rate);
    g.up = out_rate / divisor;
    g.down = in_rate / divisor;
    // The window spans len samples of the lower rate, measured here in input samples.
    const double width = in_rate <= out_rate ? len : static_cast<double>(len) * g.down / g.up;
    g.half_width = 0.5 * width;
    g.centre = static_cast<int>(std::ceil(g.half_width));
    const std::int64_t taps = 2 * static_cast<std::int64_t>(g.centre) + 1;
    g.spec_bytes =
        header_bytes + static_cast<std::int64_t>(g.up) * taps * static_cast<std::int64_t>(sizeof(float));
    if (taps > INT_MAX || g.spec_bytes > INT_MAX) return false;
    g.taps_per_phase = static_cast<int>(taps);
    return true;
}

double bessel_i0(double x)
{
    const double quarter_x2 = 0.25 * x * x;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 500 && term > 1e-17 * sum; ++k) {
        term *= quarter_x2 / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

float* taps_of(IppsResamplingPolyphaseFixed_32f* spec)
{
    return reinterpret_cast<float*>(reinterpret_cast<Ipp8u*>(spec) + header_bytes);
}

const float* taps_of(const IppsResamplingPolyphaseFixed_32f* spec)
{
    return reinterpret_cast<const float*>(reinterpret_cast<const Ipp8u*>(spec) + header_bytes);
}

template <typename Sum> Sum dot(const float* taps, const float* x, std::int64_t count)
{
    // Four partial sums so that the additions do not wait on one another.
    Sum s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::int64_t i = 0;
    for (; i + 4 <= count; i += 4) {
        s0 += static_cast<Sum>(taps[i]) * x[i];
        s1 += static_cast<Sum>(taps[i + 1]) * x[i + 1];
        s2 += static_cast<Sum>(taps[i + 2]) * x[i + 2];
        s3 += static_cast<Sum>(taps[i + 3]) * x[i + 3];
    }
    for (; i < count; ++i)
        s0 += static_cast<Sum>(taps[i]) * x[i];
    return (s0 + s1) + (s2 + s3);
}

#if defined(__x86_64__)
// The double-precision sum with AVX2 and FMA: four products per instruction in each of two
// accumulators. It adds in another order than the portable loop, so the two agree to rounding.
__attribute__((target("avx2,fma"))) double dot_double_avx2(const float* taps, const float* x,
                                                           std::int64_t count)
{
    __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
    std::int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        s0 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_loadu_ps(taps + i)), _mm256_cvtps_pd(_mm_loadu_ps(x + i)),
                             s0);
        s1 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_loadu_ps(taps + i + 4)),
                             _mm256_cvtps_pd(_mm_loadu_ps(x + i + 4)), s1);
    }
    __m256d const s = _mm256_add_pd(s0, s1);
    __m128d const pair = _mm_add_pd(_mm256_castpd256_pd128(s), _mm256_extractf128_pd(s, 1));
    double sum = _mm_cvtsd_f64(_mm_add_sd(pair, _mm_unpackhi_pd(pair, pair)));
    for (; i < count; ++i)
        sum += static_cast<double>(taps[i]) * x[i];
    return sum;
}
#endif

template <typename Sum> Sum dot_dispatch(const float* taps, const float* x, std::int64_t count, bool wide)
{
#if defined(__x86_64__)
    if constexpr (std::is_same_v<Sum, double>)
        if (wide) return dot_double_avx2(taps, x, count);
#endif
    return dot<Sum>(taps, x, count);
}

template <typename Sum>
void resample(const float* src, std::int64_t len, float* dst, std::int64_t count, Sum norm, std::int64_t& n,
              std::int64_t& j, const IppsResamplingPolyphaseFixed_32f* spec)
{
    const float* taps = taps_of(spec);
    const std::int64_t width = spec->taps_per_phase;
    const bool wide = corvella::ipps_code_path() == corvella::IppsCodePath::avx2_fma;
    for (std::int64_t k = 0; k < count; ++k) {
        const float* row = taps + j * width;
        const std::int64_t first = n - spec->centre;
        // Only the part of the row that meets src; the rest multiplies zeros.
        const std::int64_t lo = std::max<std::int64_t>(0, -first);
        const std::int64_t hi = std::min<std::int64_t>(width, len - first);
        const Sum sum = lo < hi ? dot_dispatch<Sum>(row + lo, src + first + lo, hi - lo, wide) : Sum(0);
        dst[k] = static_cast<float>(sum * norm);
        j += spec->down;
        n += j / spec->up;
        j %= spec->up;
    }
}

} // namespace

IppStatus ippsResamplePolyphaseFixedGetSize_32f(int inRate, int outRate, int len, int* specSize,
                                                int* filterLen, int* height, IppHintAlgorithm hint)
{
    if (!specSize || !filterLen || !height) return ippStsNullPtrErr;
    if (hint < ippAlgHintNone || hint > ippAlgHintAccurate) return ippStsBadArgErr;
    Geometry g;
    if (!plan_geometry(inRate, outRate, len, g)) return ippStsSizeErr;
    *specSize = static_cast<int>(g.spec_bytes);
    *filterLen = g.taps_per_phase;
    *height = g.up;
    return ippStsNoErr;
}

IppStatus ippsResamplePolyphaseFixedInit_32f(int inRate, int outRate, int len, Ipp32f rollf, Ipp32f alpha,
                                             IppsResamplingPolyphaseFixed_32f* spec, IppHintAlgorithm hint)
{
    if (!spec) return ippStsNullPtrErr;
    if (hint < ippAlgHintNone || hint > ippAlgHintAccurate) return ippStsBadArgErr;
    if (!(rollf > 0.0f && rollf <= 1.0f) || !(alpha >= 0.0f && alpha <= 100.0f)) return ippStsBadArgErr;
    Geometry g;
    if (!plan_geometry(inRate, outRate, len, g)) return ippStsSizeErr;

    auto* header = new (spec) IppsResamplingPolyphaseFixed_32f{};
    header->in_rate = inRate;
    header->out_rate = outRate;
    header->up = g.up;
    header->down = g.down;
    header->taps_per_phase = g.taps_per_phase;
    header->centre = g.centre;
    header->accurate = hint == ippAlgHintAccurate ? 1 : 0;

    // Cut-off in cycles per input sample: rollf of the lower Nyquist frequency.
    const double lower_nyquist = 0.5 * std::min(inRate, outRate) / static_cast<double>(inRate);
    const double cutoff = rollf * lower_nyquist;
    const double beta = alpha;
    const double window_norm = 1.0 / bessel_i0(beta);
    const auto tap = [&](int j, int i) {
        const double t = static_cast<double>(j) / g.up + g.centre - i;
        if (std::fabs(t) > g.half_width) return 0.0;
        const double x = t / g.half_width;
        const double window = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - x * x))) * window_norm;
        const double sinc =
            t == 0.0 ? 2.0 * cutoff : std::sin(2.0 * std::numbers::pi * cutoff * t) / (std::numbers::pi * t);
        return sinc * window;
    };
    float* taps = taps_of(header);
    for (int j = 0; j < g.up; ++j) {
        double sum = 0.0;
        for (int i = 0; i < g.taps_per_phase; ++i)
            sum += tap(j, i);
        if (!(std::fabs(sum) > 1e-12)) {
            header->magic = 0;
            return ippStsDivByZeroErr;
        }
        // Exact unity gain at 0 Hz for every phase, whatever the window does to the sinc's sum.
        float* row = taps + static_cast<std::int64_t>(j) * g.taps_per_phase;
        for (int i = 0; i < g.taps_per_phase; ++i)
            row[i] = static_cast<float>(tap(j, i) / sum);
    }
    header->magic = resampler_magic;
    return ippStsNoErr;
}

IppStatus ippsResamplePolyphaseFixed_32f(const Ipp32f* src, int len, Ipp32f* dst, Ipp32f norm, Ipp64f* time,
                                         int* outLen, const IppsResamplingPolyphaseFixed_32f* spec)
{
    if (!src || !dst || !time || !outLen || !spec) return ippStsNullPtrErr;
    if (spec->magic != resampler_magic) return ippStsContextMatchErr;
    if (len < 0) return ippStsSizeErr;
    if (!std::isfinite(*time) || std::fabs(*time) > 1e15) return ippStsOutOfRangeErr;

    const std::int64_t up = spec->up;
    const std::int64_t down = spec->down;
    std::int64_t n = static_cast<std::int64_t>(std::floor(*time));
    std::int64_t j = std::llround((*time - static_cast<double>(n)) * static_cast<double>(up));
    if (j >= up) {
        n += 1;
        j -= up;
    }
    // Positions start + k·down/up below start + len: k·down < len·up.
    const std::int64_t count = (static_cast<std::int64_t>(len) * up + down - 1) / down;
    if (count > INT_MAX) return ippStsSizeErr;

    if (spec->accurate)
        resample<double>(src, len, dst, count, static_cast<double>(norm), n, j, spec);
    else
        resample<float>(src, len, dst, count, norm, n, j, spec);
    *outLen = static_cast<int>(count);
    *time = static_cast<double>(n) + static_cast<double>(j) / static_cast<double>(up);
    return ippStsNoErr;
}
