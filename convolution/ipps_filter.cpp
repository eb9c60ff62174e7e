// FIR and IIR filter states and the windowed-sinc low-pass design.
#include "convolution/ipps.h"

#include <algorithm>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace {

constexpr unsigned int fir_magic = 0x46495231u; // "FIR1"
constexpr unsigned int iir_magic = 0x49495231u; // "IIR1"
constexpr int fir_max_taps = 1 << 20;
// Frames filtered per pass: small enough that a pass's input and output stay in the first-level
// cache next to a few hundred taps, large enough that the per-tap loop overhead disappears.
constexpr int fir_chunk = 512;
constexpr int iir_max_order = 64;

} // namespace

// The line holds the last taps_len inputs (x[-T] .. x[-1]) followed by room for one chunk, so a
// pass sees its history and its new input as one contiguous array: x[i] is line[T + i].
struct IppsFIRState_32f {
    unsigned int magic;
    int taps_len;
    float* taps; // taps_len
    float* line; // taps_len + fir_chunk
};

struct IppsIIRState_32f {
    unsigned int magic;
    int order;
    double* b; // order + 1, divided by a0
    double* a; // order + 1, divided by a0 (a[0] = 1)
    double* z; // order: transposed direct form II state
};

namespace {

// Taps summed into one partial sum before it joins the output. Long heads (2N taps, up to 16,384)
// would otherwise lose about 10 dB of precision to one long running float sum.
constexpr int fir_tap_group = 32;

// One pass of at most fir_chunk outputs, vectorised over the outputs: for each tap (four at a
// time) an axpy of a shifted input view into a partial sum, one partial sum per group of taps.
// Every output sums its taps in the same order whatever the pass boundaries, so splitting a
// stream into calls changes no bit.
template <bool Fused>
inline __attribute__((always_inline)) void fir_pass(const float* __restrict taps, int taps_len,
                                                    const float* __restrict line, float* __restrict out,
                                                    int count)
{
    alignas(64) float part[fir_chunk];
    for (int i = 0; i < count; ++i)
        out[i] = 0.0f;
    const float* now = line + taps_len;
    for (int group = 0; group < taps_len; group += fir_tap_group) {
        const int group_end = group + fir_tap_group < taps_len ? group + fir_tap_group : taps_len;
        for (int i = 0; i < count; ++i)
            part[i] = 0.0f;
        int k = group;
        for (; k + 4 <= group_end; k += 4) {
            const float t0 = taps[k], t1 = taps[k + 1], t2 = taps[k + 2], t3 = taps[k + 3];
            const float* x0 = now - k;
            const float* x1 = x0 - 1;
            const float* x2 = x0 - 2;
            const float* x3 = x0 - 3;
            for (int i = 0; i < count; ++i) {
                if constexpr (Fused) {
                    float s = __builtin_fmaf(t0, x0[i], part[i]);
                    s = __builtin_fmaf(t1, x1[i], s);
                    s = __builtin_fmaf(t2, x2[i], s);
                    part[i] = __builtin_fmaf(t3, x3[i], s);
                } else {
                    part[i] += t0 * x0[i] + t1 * x1[i] + t2 * x2[i] + t3 * x3[i];
                }
            }
        }
        for (; k < group_end; ++k) {
            const float t = taps[k];
            const float* x = now - k;
            for (int i = 0; i < count; ++i) {
                if constexpr (Fused)
                    part[i] = __builtin_fmaf(t, x[i], part[i]);
                else
                    part[i] += t * x[i];
            }
        }
        for (int i = 0; i < count; ++i)
            out[i] += part[i];
    }
}

#if defined(__x86_64__)
// Tiles of 64 outputs whose sums live in eight registers for a whole group of taps (enough
// independent chains to hide the multiply-add latency): one unaligned load per multiply-add, and
// each group's sums are added to the output once. Each output sees exactly the same sequence of
// fused operations as in fir_pass<true>, so results do not depend on tiling or on how a stream is
// split into calls.
__attribute__((target("avx2,fma"))) void fir_pass_avx2(const float* taps, int taps_len, const float* line,
                                                       float* out, int count)
{
    const float* now = line + taps_len;
    int i = 0;
    for (; i + 64 <= count; i += 64) {
        for (int group = 0; group < taps_len; group += fir_tap_group) {
            const int group_end = group + fir_tap_group < taps_len ? group + fir_tap_group : taps_len;
            __m256 a[8];
            for (auto& v : a)
                v = _mm256_setzero_ps();
            for (int k = group; k < group_end; ++k) {
                const __m256 t = _mm256_broadcast_ss(taps + k);
                const float* x = now + i - k;
                for (int v = 0; v < 8; ++v)
                    a[v] = _mm256_fmadd_ps(t, _mm256_loadu_ps(x + 8 * v), a[v]);
            }
            for (int v = 0; v < 8; ++v) {
                const __m256 previous = group == 0 ? _mm256_setzero_ps() : _mm256_loadu_ps(out + i + 8 * v);
                _mm256_storeu_ps(out + i + 8 * v, _mm256_add_ps(previous, a[v]));
            }
        }
    }
    for (; i + 8 <= count; i += 8) {
        __m256 o = _mm256_setzero_ps();
        for (int group = 0; group < taps_len; group += fir_tap_group) {
            const int group_end = group + fir_tap_group < taps_len ? group + fir_tap_group : taps_len;
            __m256 a = _mm256_setzero_ps();
            for (int k = group; k < group_end; ++k)
                a = _mm256_fmadd_ps(_mm256_broadcast_ss(taps + k), _mm256_loadu_ps(now + i - k), a);
            o = _mm256_add_ps(o, a);
        }
        _mm256_storeu_ps(out + i, o);
    }
    if (i < count) fir_pass<true>(taps, taps_len, line + i, out + i, count - i);
}
#endif

void fir_pass_portable(const float* taps, int taps_len, const float* line, float* out, int count)
{
#if defined(__aarch64__)
    fir_pass<true>(taps, taps_len, line, out, count); // fused multiply-add is part of the baseline
#else
    fir_pass<false>(taps, taps_len, line, out, count);
#endif
}

bool valid(const IppsFIRState_32f* state)
{
    return state->magic == fir_magic;
}

bool valid(const IppsIIRState_32f* state)
{
    return state->magic == iir_magic;
}

void release(IppsFIRState_32f* state)
{
    state->magic = 0;
    ippsFree(state->taps);
    ippsFree(state->line);
    delete state;
}

void set_fir_history(IppsFIRState_32f* state, const Ipp32f* dly_line)
{
    const auto bytes = static_cast<std::size_t>(state->taps_len) * sizeof(float);
    if (dly_line)
        std::memcpy(state->line, dly_line, bytes);
    else
        std::memset(state->line, 0, bytes);
}

double window_value(int win_type, double x) // x = n / (N - 1), in 0..1
{
    const double angle = 2.0 * std::numbers::pi * x;
    switch (win_type) {
    case ippWinBartlett:
        return 1.0 - std::fabs(2.0 * x - 1.0);
    case ippWinBlackman:
        return 0.42 - 0.5 * std::cos(angle) + 0.08 * std::cos(2.0 * angle);
    case ippWinHamming:
        return 0.54 - 0.46 * std::cos(angle);
    case ippWinHann:
        return 0.5 - 0.5 * std::cos(angle);
    default:
        return 1.0;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// FIR

IppStatus ippsFIRInitAlloc_32f(IppsFIRState_32f** state, const Ipp32f* taps, int tapsLen,
                               const Ipp32f* dlyLine)
{
    if (!state || !taps) return ippStsNullPtrErr;
    *state = nullptr;
    if (tapsLen < 1 || tapsLen > fir_max_taps) return ippStsFIRLenErr;
    auto* made = new (std::nothrow) IppsFIRState_32f{};
    if (!made) return ippStsMemAllocErr;
    made->magic = fir_magic;
    made->taps_len = tapsLen;
    made->taps = ippsMalloc_32f(tapsLen);
    made->line = ippsMalloc_32f(tapsLen + fir_chunk);
    if (!made->taps || !made->line) {
        release(made);
        return ippStsMemAllocErr;
    }
    std::memcpy(made->taps, taps, static_cast<std::size_t>(tapsLen) * sizeof(float));
    set_fir_history(made, dlyLine);
    *state = made;
    return ippStsNoErr;
}

IppStatus ippsFIRFree_32f(IppsFIRState_32f* state)
{
    if (!state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    release(state);
    return ippStsNoErr;
}

IppStatus ippsFIRSetTaps_32f(const Ipp32f* taps, IppsFIRState_32f* state)
{
    if (!taps || !state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    std::memcpy(state->taps, taps, static_cast<std::size_t>(state->taps_len) * sizeof(float));
    return ippStsNoErr;
}

IppStatus ippsFIRSetDlyLine_32f(IppsFIRState_32f* state, const Ipp32f* dlyLine)
{
    if (!state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    set_fir_history(state, dlyLine);
    return ippStsNoErr;
}

IppStatus ippsFIRGetDlyLine_32f(const IppsFIRState_32f* state, Ipp32f* dlyLine)
{
    if (!state || !dlyLine) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    std::memcpy(dlyLine, state->line, static_cast<std::size_t>(state->taps_len) * sizeof(float));
    return ippStsNoErr;
}

IppStatus ippsFIR_32f(const Ipp32f* src, Ipp32f* dst, int numIters, IppsFIRState_32f* state)
{
    using namespace corvella;
    if (!src || !dst || !state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    if (numIters < 0) return ippStsSizeErr;
    auto* pass = &fir_pass_portable;
#if defined(__x86_64__)
    if (ipps_code_path() == IppsCodePath::avx2_fma) pass = &fir_pass_avx2;
#endif
    const int taps_len = state->taps_len;
    float* line = state->line;
    for (int done = 0; done < numIters;) {
        const int count = std::min(fir_chunk, numIters - done);
        // The input is copied before the output is written, so src may equal dst.
        std::memcpy(line + taps_len, src + done, static_cast<std::size_t>(count) * sizeof(float));
        pass(state->taps, taps_len, line, dst + done, count);
        std::memmove(line, line + count, static_cast<std::size_t>(taps_len) * sizeof(float));
        done += count;
    }
    return ippStsNoErr;
}

IppStatus ippsFIR_32f_I(Ipp32f* srcdst, int numIters, IppsFIRState_32f* state)
{
    return ippsFIR_32f(srcdst, srcdst, numIters, state);
}

IppStatus ippsFIRGenLowpass_64f(Ipp64f rFreq, Ipp64f* taps, int tapsLen, int winType, IppBool doNormal)
{
    if (!taps) return ippStsNullPtrErr;
    if (tapsLen < 3) return ippStsFIRLenErr;
    if (!(rFreq > 0.0 && rFreq < 0.5)) return ippStsOutOfRangeErr;
    if (winType < ippWinBartlett || winType > ippWinRect) return ippStsBadArgErr;

    // Built from the first half and mirrored, so the taps are exactly symmetric.
    const double centre = 0.5 * (tapsLen - 1);
    const double last = tapsLen - 1;
    for (int n = 0; n < (tapsLen + 1) / 2; ++n) {
        const double t = n - centre;
        const double sinc =
            t == 0.0 ? 2.0 * rFreq : std::sin(2.0 * std::numbers::pi * rFreq * t) / (std::numbers::pi * t);
        taps[n] = sinc * window_value(winType, n / last);
        taps[tapsLen - 1 - n] = taps[n];
    }
    if (doNormal) {
        double sum = 0.0;
        for (int n = 0; n < tapsLen; ++n)
            sum += taps[n];
        if (std::fabs(sum) < 1e-300) return ippStsDivByZeroErr;
        for (int n = 0; n < tapsLen; ++n)
            taps[n] /= sum;
    }
    return ippStsNoErr;
}

// ---------------------------------------------------------------------------------------------
// IIR

IppStatus ippsIIRInitAlloc_32f(IppsIIRState_32f** state, const Ipp32f* taps, int order, const Ipp32f* dlyLine)
{
    if (!state || !taps) return ippStsNullPtrErr;
    *state = nullptr;
    if (order < 1 || order > iir_max_order) return ippStsSizeErr;
    const double a0 = taps[order + 1];
    if (a0 == 0.0) return ippStsDivByZeroErr;
    auto* made = new (std::nothrow) IppsIIRState_32f{};
    double* block = ippsMalloc_64f(3 * order + 2);
    if (!made || !block) {
        delete made;
        ippsFree(block);
        return ippStsMemAllocErr;
    }
    made->magic = iir_magic;
    made->order = order;
    made->b = block;
    made->a = block + order + 1;
    made->z = block + 2 * order + 2;
    for (int i = 0; i <= order; ++i) {
        made->b[i] = taps[i] / a0;
        made->a[i] = taps[order + 1 + i] / a0;
    }
    *state = made;
    ippsIIRSetDlyLine_32f(made, dlyLine);
    return ippStsNoErr;
}

IppStatus ippsIIRFree_32f(IppsIIRState_32f* state)
{
    if (!state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    state->magic = 0;
    ippsFree(state->b);
    delete state;
    return ippStsNoErr;
}

IppStatus ippsIIRSetDlyLine_32f(IppsIIRState_32f* state, const Ipp32f* dlyLine)
{
    if (!state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    for (int i = 0; i < state->order; ++i)
        state->z[i] = dlyLine ? dlyLine[i] : 0.0;
    return ippStsNoErr;
}

IppStatus ippsIIR_32f(const Ipp32f* src, Ipp32f* dst, int len, IppsIIRState_32f* state)
{
    if (!src || !dst || !state) return ippStsNullPtrErr;
    if (!valid(state)) return ippStsContextMatchErr;
    if (len < 0) return ippStsSizeErr;
    const int order = state->order;
    const double* b = state->b;
    const double* a = state->a;
    double* z = state->z;
    for (int i = 0; i < len; ++i) {
        const double x = src[i];
        const double y = b[0] * x + z[0];
        for (int k = 0; k + 1 < order; ++k)
            z[k] = b[k + 1] * x - a[k + 1] * y + z[k + 1];
        z[order - 1] = b[order] * x - a[order] * y;
        dst[i] = static_cast<float>(y);
    }
    return ippStsNoErr;
}

IppStatus ippsIIR_32f_I(Ipp32f* srcdst, int len, IppsIIRState_32f* state)
{
    return ippsIIR_32f(srcdst, srcdst, len, state);
}
