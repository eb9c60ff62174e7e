// Element-wise operations and the complex products of the convolver's inner loop.
#include "convolution/ipps.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace corvella {
namespace {

// ---------------------------------------------------------------------------------------------
// Complex products. Each path takes float views of the interleaved arrays; len counts complex
// values. The portable loops are written so that the compiler can vectorise them (no aliasing,
// no reductions); the x86-64 paths spell the shuffles out, since compilers handle interleaved
// complex data unevenly.

void mul_portable(const float* __restrict a, const float* __restrict b, float* __restrict dst, int len)
{
    for (int k = 0; k < len; ++k) {
        const float ar = a[2 * k], ai = a[2 * k + 1];
        const float br = b[2 * k], bi = b[2 * k + 1];
        dst[2 * k] = ar * br - ai * bi;
        dst[2 * k + 1] = ar * bi + ai * br;
    }
}

void add_product_portable(const float* __restrict a, const float* __restrict b, float* __restrict acc,
                          int len)
{
    for (int k = 0; k < len; ++k) {
        const float ar = a[2 * k], ai = a[2 * k + 1];
        const float br = b[2 * k], bi = b[2 * k + 1];
        acc[2 * k] += ar * br - ai * bi;
        acc[2 * k + 1] += ar * bi + ai * br;
    }
}

#if defined(__x86_64__)

// Two complex values per vector. For a = (ar, ai), b = (br, bi): ar·(br, bi) + ai·(-bi, br).
inline __m128 complex_product_sse2(__m128 va, __m128 vb)
{
    const __m128 negate_even = _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, 0, INT32_MIN, 0));
    const __m128 re = _mm_shuffle_ps(va, va, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 im = _mm_xor_ps(_mm_shuffle_ps(va, va, _MM_SHUFFLE(3, 3, 1, 1)), negate_even);
    const __m128 swapped = _mm_shuffle_ps(vb, vb, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_add_ps(_mm_mul_ps(re, vb), _mm_mul_ps(im, swapped));
}

void mul_sse2(const float* a, const float* b, float* dst, int len)
{
    int k = 0;
    for (; k + 4 <= len; k += 4) {
        const __m128 p0 = complex_product_sse2(_mm_loadu_ps(a + 2 * k), _mm_loadu_ps(b + 2 * k));
        const __m128 p1 = complex_product_sse2(_mm_loadu_ps(a + 2 * k + 4), _mm_loadu_ps(b + 2 * k + 4));
        _mm_storeu_ps(dst + 2 * k, p0);
        _mm_storeu_ps(dst + 2 * k + 4, p1);
    }
    mul_portable(a + 2 * k, b + 2 * k, dst + 2 * k, len - k);
}

void add_product_sse2(const float* a, const float* b, float* acc, int len)
{
    int k = 0;
    for (; k + 4 <= len; k += 4) {
        const __m128 p0 = complex_product_sse2(_mm_loadu_ps(a + 2 * k), _mm_loadu_ps(b + 2 * k));
        const __m128 p1 = complex_product_sse2(_mm_loadu_ps(a + 2 * k + 4), _mm_loadu_ps(b + 2 * k + 4));
        _mm_storeu_ps(acc + 2 * k, _mm_add_ps(_mm_loadu_ps(acc + 2 * k), p0));
        _mm_storeu_ps(acc + 2 * k + 4, _mm_add_ps(_mm_loadu_ps(acc + 2 * k + 4), p1));
    }
    add_product_portable(a + 2 * k, b + 2 * k, acc + 2 * k, len - k);
}

// Four complex values per vector; the same identity with the products fused into the sums.
__attribute__((target("avx2,fma"))) inline __m256 complex_multiply_add_avx2(__m256 va, __m256 vb, __m256 acc)
{
    const __m256 negate_even =
        _mm256_castsi256_ps(_mm256_setr_epi32(INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0));
    const __m256 re = _mm256_moveldup_ps(va);
    const __m256 im = _mm256_xor_ps(_mm256_movehdup_ps(va), negate_even);
    const __m256 swapped = _mm256_permute_ps(vb, 0xB1);
    return _mm256_fmadd_ps(im, swapped, _mm256_fmadd_ps(re, vb, acc));
}

__attribute__((target("avx2,fma"))) void mul_avx2(const float* a, const float* b, float* dst, int len)
{
    const __m256 zero = _mm256_setzero_ps();
    int k = 0;
    for (; k + 8 <= len; k += 8) {
        const __m256 p0 =
            complex_multiply_add_avx2(_mm256_loadu_ps(a + 2 * k), _mm256_loadu_ps(b + 2 * k), zero);
        const __m256 p1 =
            complex_multiply_add_avx2(_mm256_loadu_ps(a + 2 * k + 8), _mm256_loadu_ps(b + 2 * k + 8), zero);
        _mm256_storeu_ps(dst + 2 * k, p0);
        _mm256_storeu_ps(dst + 2 * k + 8, p1);
    }
    if (k + 4 <= len) {
        _mm256_storeu_ps(dst + 2 * k, complex_multiply_add_avx2(_mm256_loadu_ps(a + 2 * k),
                                                                _mm256_loadu_ps(b + 2 * k), zero));
        k += 4;
    }
    mul_portable(a + 2 * k, b + 2 * k, dst + 2 * k, len - k);
}

__attribute__((target("avx2,fma"))) void add_product_avx2(const float* a, const float* b, float* acc, int len)
{
    int k = 0;
    for (; k + 8 <= len; k += 8) {
        const __m256 s0 = complex_multiply_add_avx2(_mm256_loadu_ps(a + 2 * k), _mm256_loadu_ps(b + 2 * k),
                                                    _mm256_loadu_ps(acc + 2 * k));
        const __m256 s1 = complex_multiply_add_avx2(
            _mm256_loadu_ps(a + 2 * k + 8), _mm256_loadu_ps(b + 2 * k + 8), _mm256_loadu_ps(acc + 2 * k + 8));
        _mm256_storeu_ps(acc + 2 * k, s0);
        _mm256_storeu_ps(acc + 2 * k + 8, s1);
    }
    if (k + 4 <= len) {
        _mm256_storeu_ps(acc + 2 * k,
                         complex_multiply_add_avx2(_mm256_loadu_ps(a + 2 * k), _mm256_loadu_ps(b + 2 * k),
                                                   _mm256_loadu_ps(acc + 2 * k)));
        k += 4;
    }
    add_product_portable(a + 2 * k, b + 2 * k, acc + 2 * k, len - k);
}

// The sum of `count` complex products, kept in registers across the products so that the
// accumulator is stored once instead of read and written once per product. Adds the products in
// the same order and with the same operations as a multiply followed by multiply-adds, so it gives
// the same bits.
__attribute__((target("avx2,fma"))) void sum_of_products_avx2(float const* const* a, float const* const* b,
                                                              int count, float* dst, int len)
{
    const __m256 zero = _mm256_setzero_ps();
    int k = 0;
    for (; k + 8 <= len; k += 8) {
        __m256 s0 =
            complex_multiply_add_avx2(_mm256_loadu_ps(a[0] + 2 * k), _mm256_loadu_ps(b[0] + 2 * k), zero);
        __m256 s1 = complex_multiply_add_avx2(_mm256_loadu_ps(a[0] + 2 * k + 8),
                                              _mm256_loadu_ps(b[0] + 2 * k + 8), zero);
        for (int j = 1; j < count; ++j) {
            s0 = complex_multiply_add_avx2(_mm256_loadu_ps(a[j] + 2 * k), _mm256_loadu_ps(b[j] + 2 * k), s0);
            s1 = complex_multiply_add_avx2(_mm256_loadu_ps(a[j] + 2 * k + 8),
                                           _mm256_loadu_ps(b[j] + 2 * k + 8), s1);
        }
        _mm256_storeu_ps(dst + 2 * k, s0);
        _mm256_storeu_ps(dst + 2 * k + 8, s1);
    }
    if (k < len) {
        mul_avx2(a[0] + 2 * k, b[0] + 2 * k, dst + 2 * k, len - k);
        for (int j = 1; j < count; ++j)
            add_product_avx2(a[j] + 2 * k, b[j] + 2 * k, dst + 2 * k, len - k);
    }
}

__attribute__((target("avx2,fma"))) void sum_of_products_pair_avx2(float const* const* a,
                                                                   float const* const* b0,
                                                                   float const* const* b1, int count,
                                                                   float* dst0, float* dst1, int len)
{
    int k = 0;
    for (; k + 8 <= len; k += 8) {
        __m256 s00 = _mm256_setzero_ps(), s01 = s00, s10 = s00, s11 = s00;
        for (int j = 0; j < count; ++j) {
            float const* x = a[j] + 2 * k;
            // The input's parts are split once for both products: the compiler shares them.
            __m256 const lo = _mm256_loadu_ps(x), hi = _mm256_loadu_ps(x + 8);
            s00 = complex_multiply_add_avx2(lo, _mm256_loadu_ps(b0[j] + 2 * k), s00);
            s10 = complex_multiply_add_avx2(lo, _mm256_loadu_ps(b1[j] + 2 * k), s10);
            s01 = complex_multiply_add_avx2(hi, _mm256_loadu_ps(b0[j] + 2 * k + 8), s01);
            s11 = complex_multiply_add_avx2(hi, _mm256_loadu_ps(b1[j] + 2 * k + 8), s11);
        }
        _mm256_storeu_ps(dst0 + 2 * k, s00);
        _mm256_storeu_ps(dst0 + 2 * k + 8, s01);
        _mm256_storeu_ps(dst1 + 2 * k, s10);
        _mm256_storeu_ps(dst1 + 2 * k + 8, s11);
    }
    if (k < len) {
        for (int c = 0; c < 2; ++c) {
            float const* const* b = c == 0 ? b0 : b1;
            float* dst = c == 0 ? dst0 : dst1;
            mul_avx2(a[0] + 2 * k, b[0] + 2 * k, dst + 2 * k, len - k);
            for (int j = 1; j < count; ++j)
                add_product_avx2(a[j] + 2 * k, b[j] + 2 * k, dst + 2 * k, len - k);
        }
    }
}

__attribute__((target("avx2"))) void add_many_avx2(float const* const* src, int count, float* srcdst, int len)
{
    int i = 0;
    for (; i + 16 <= len; i += 16) {
        __m256 s0 = _mm256_loadu_ps(srcdst + i);
        __m256 s1 = _mm256_loadu_ps(srcdst + i + 8);
        for (int j = 0; j < count; ++j) {
            s0 = _mm256_add_ps(s0, _mm256_loadu_ps(src[j] + i));
            s1 = _mm256_add_ps(s1, _mm256_loadu_ps(src[j] + i + 8));
        }
        _mm256_storeu_ps(srcdst + i, s0);
        _mm256_storeu_ps(srcdst + i + 8, s1);
    }
    for (; i < len; ++i) {
        float s = srcdst[i];
        for (int j = 0; j < count; ++j)
            s += src[j][i];
        srcdst[i] = s;
    }
}

__attribute__((target("avx2"))) bool is_silent_avx2(float const* src, int len)
{
    __m256 const magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    int i = 0;
    for (; i + 32 <= len; i += 32) {
        __m256 bits = _mm256_or_ps(_mm256_or_ps(_mm256_loadu_ps(src + i), _mm256_loadu_ps(src + i + 8)),
                                   _mm256_or_ps(_mm256_loadu_ps(src + i + 16), _mm256_loadu_ps(src + i + 24)));
        if (!_mm256_testz_si256(_mm256_castps_si256(bits), _mm256_castps_si256(magnitude))) return false;
    }
    for (; i < len; ++i)
        if (src[i] != 0.0f) return false;
    return true;
}

__attribute__((target("avx2"))) void add_avx2(const float* src, float* srcdst, int len)
{
    int i = 0;
    for (; i + 16 <= len; i += 16) {
        _mm256_storeu_ps(srcdst + i, _mm256_add_ps(_mm256_loadu_ps(srcdst + i), _mm256_loadu_ps(src + i)));
        _mm256_storeu_ps(srcdst + i + 8,
                         _mm256_add_ps(_mm256_loadu_ps(srcdst + i + 8), _mm256_loadu_ps(src + i + 8)));
    }
    for (; i < len; ++i)
        srcdst[i] += src[i];
}

#endif // __x86_64__

const float* floats(const Ipp32fc* p)
{
    return reinterpret_cast<const float*>(p);
}

float* floats(Ipp32fc* p)
{
    return reinterpret_cast<float*>(p);
}

} // namespace
} // namespace corvella

IppStatus ippsSet_32f(Ipp32f val, Ipp32f* dst, int len)
{
    if (!dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    std::fill(dst, dst + len, val);
    return ippStsNoErr;
}

IppStatus ippsSet_8u(Ipp8u val, Ipp8u* dst, int len)
{
    if (!dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    std::memset(dst, val, static_cast<std::size_t>(len));
    return ippStsNoErr;
}

IppStatus ippsCopy_32f(const Ipp32f* src, Ipp32f* dst, int len)
{
    if (!src || !dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    std::memcpy(dst, src, static_cast<std::size_t>(len) * sizeof(Ipp32f));
    return ippStsNoErr;
}

IppStatus ippsMove_32f(const Ipp32f* src, Ipp32f* dst, int len)
{
    if (!src || !dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    std::memmove(dst, src, static_cast<std::size_t>(len) * sizeof(Ipp32f));
    return ippStsNoErr;
}

IppStatus ippsAdd_32f_I(const Ipp32f* src, Ipp32f* srcdst, int len)
{
    if (!src || !srcdst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
#if defined(__x86_64__)
    if (corvella::ipps_code_path() == corvella::IppsCodePath::avx2_fma) {
        corvella::add_avx2(src, srcdst, len);
        return ippStsNoErr;
    }
#endif
    for (int i = 0; i < len; ++i)
        srcdst[i] += src[i];
    return ippStsNoErr;
}

IppStatus ippsAdd_32f(const Ipp32f* src1, const Ipp32f* src2, Ipp32f* dst, int len)
{
    if (!src1 || !src2 || !dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    for (int i = 0; i < len; ++i)
        dst[i] = src1[i] + src2[i];
    return ippStsNoErr;
}

IppStatus ippsMulC_32f(const Ipp32f* src, Ipp32f val, Ipp32f* dst, int len)
{
    if (!src || !dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    for (int i = 0; i < len; ++i)
        dst[i] = src[i] * val;
    return ippStsNoErr;
}

IppStatus ippsMulC_32f_I(Ipp32f val, Ipp32f* srcdst, int len)
{
    if (!srcdst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    for (int i = 0; i < len; ++i)
        srcdst[i] *= val;
    return ippStsNoErr;
}

IppStatus ippsMul_32f_I(const Ipp32f* src, Ipp32f* srcdst, int len)
{
    if (!src || !srcdst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    for (int i = 0; i < len; ++i)
        srcdst[i] *= src[i];
    return ippStsNoErr;
}

IppStatus ippsFlip_32f_I(Ipp32f* srcdst, int len)
{
    if (!srcdst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    std::reverse(srcdst, srcdst + len);
    return ippStsNoErr;
}

IppStatus ippsMinMax_32f(const Ipp32f* src, int len, Ipp32f* min, Ipp32f* max)
{
    if (!src || !min || !max) return ippStsNullPtrErr;
    if (len <= 0) {
        *min = 0.0f;
        *max = 0.0f;
        return ippStsSizeErr;
    }
    Ipp32f lo = src[0], hi = src[0];
    for (int i = 1; i < len; ++i) {
        lo = src[i] < lo ? src[i] : lo;
        hi = src[i] > hi ? src[i] : hi;
    }
    *min = lo;
    *max = hi;
    return ippStsNoErr;
}

IppStatus ippsMul_32fc(const Ipp32fc* a, const Ipp32fc* b, Ipp32fc* dst, int len)
{
    using namespace corvella;
    if (!a || !b || !dst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    switch (ipps_code_path()) {
#if defined(__x86_64__)
    case IppsCodePath::avx2_fma:
        mul_avx2(floats(a), floats(b), floats(dst), len);
        break;
    case IppsCodePath::sse2:
        mul_sse2(floats(a), floats(b), floats(dst), len);
        break;
#endif
    default:
        mul_portable(floats(a), floats(b), floats(dst), len);
        break;
    }
    return ippStsNoErr;
}

IppStatus ippsAddProduct_32fc(const Ipp32fc* a, const Ipp32fc* b, Ipp32fc* srcdst, int len)
{
    using namespace corvella;
    if (!a || !b || !srcdst) return ippStsNullPtrErr;
    if (len < 0) return ippStsSizeErr;
    switch (ipps_code_path()) {
#if defined(__x86_64__)
    case IppsCodePath::avx2_fma:
        add_product_avx2(floats(a), floats(b), floats(srcdst), len);
        break;
    case IppsCodePath::sse2:
        add_product_sse2(floats(a), floats(b), floats(srcdst), len);
        break;
#endif
    default:
        add_product_portable(floats(a), floats(b), floats(srcdst), len);
        break;
    }
    return ippStsNoErr;
}

namespace corvella {

void ipps_sum_of_products_32fc(float const* const* a, float const* const* b, int count, float* dst, int len)
{
    if (count <= 0 || len <= 0) return;
#if defined(__x86_64__)
    if (ipps_code_path() == IppsCodePath::avx2_fma) {
        sum_of_products_avx2(a, b, count, dst, len);
        return;
    }
#endif
    ippsMul_32fc(reinterpret_cast<Ipp32fc const*>(a[0]), reinterpret_cast<Ipp32fc const*>(b[0]),
                 reinterpret_cast<Ipp32fc*>(dst), len);
    for (int j = 1; j < count; ++j)
        ippsAddProduct_32fc(reinterpret_cast<Ipp32fc const*>(a[j]), reinterpret_cast<Ipp32fc const*>(b[j]),
                            reinterpret_cast<Ipp32fc*>(dst), len);
}

void ipps_sum_of_products_pair_32fc(float const* const* a, float const* const* b0, float const* const* b1,
                                    int count, float* dst0, float* dst1, int len)
{
    if (count <= 0 || len <= 0) return;
#if defined(__x86_64__)
    if (ipps_code_path() == IppsCodePath::avx2_fma) {
        sum_of_products_pair_avx2(a, b0, b1, count, dst0, dst1, len);
        return;
    }
#endif
    ipps_sum_of_products_32fc(a, b0, count, dst0, len);
    ipps_sum_of_products_32fc(a, b1, count, dst1, len);
}

bool ipps_is_silent_32f(float const* src, int len)
{
#if defined(__x86_64__)
    if (ipps_code_path() == IppsCodePath::avx2_fma) return is_silent_avx2(src, len);
#endif
    std::uint32_t bits = 0;
    for (int i = 0; i < len; ++i) {
        std::uint32_t word;
        std::memcpy(&word, src + i, sizeof word);
        bits |= word & 0x7fffffffu;
    }
    return bits == 0;
}

void ipps_add_many_32f_I(float const* const* src, int count, float* srcdst, int len)
{
    if (count <= 0 || len <= 0) return;
#if defined(__x86_64__)
    if (ipps_code_path() == IppsCodePath::avx2_fma) {
        add_many_avx2(src, count, srcdst, len);
        return;
    }
#endif
    for (int j = 0; j < count; ++j)
        ippsAdd_32f_I(src[j], srcdst, len);
}

} // namespace corvella
