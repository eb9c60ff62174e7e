// Real FFT: packed spectrum layout, scaling, round trips and convolution, against double-precision
// references.
#include "convolution/ipps.h"
#include "ipps_test_support.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using corvella::test::GuardedFloats;
using corvella::test::random_floats;

// A specification with its work buffer.
class Fft {
public:
    explicit Fft(int order, int flag = IPP_FFT_DIV_INV_BY_N) : n(1 << order)
    {
        status = ippsFFTInitAlloc_R_32f(&spec, order, flag, ippAlgHintNone);
        int size = 0;
        if (status == ippStsNoErr) status = ippsFFTGetBufSize_R_32f(spec, &size);
        work = ippsMalloc_8u(size);
    }
    ~Fft()
    {
        if (spec) ippsFFTFree_R_32f(spec);
        ippsFree(work);
    }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    IppStatus forward(float* buf) { return ippsFFTFwd_RToCCS_32f_I(buf, spec, work); }
    IppStatus inverse(float* buf) { return ippsFFTInv_CCSToR_32f_I(buf, spec, work); }

    int n;
    IppStatus status = ippStsNoErr;
    IppsFFTSpec_R_32f* spec = nullptr;
    Ipp8u* work = nullptr;
};

bool same_floats(float* a, float* b, int count)
{
    return std::memcmp(a, b, sizeof(float) * static_cast<std::size_t>(count)) == 0;
}

// The forward spectrum against a double-precision DFT, bin by bin (the spectrum's size is sqrt(n)).
void expect_dft(const std::vector<float>& x, GuardedFloats& spectrum, int order)
{
    const int n = static_cast<int>(x.size());
    for (long k = 0; k <= n / 2; ++k) {
        std::complex<double> ref = 0.0;
        for (long t = 0; t < n; ++t)
            ref += double(x[t]) * std::polar(1.0, -2.0 * std::numbers::pi * double((k * t) % n) / n);
        ASSERT_NEAR(spectrum[2 * k], ref.real(), 2e-6 * std::sqrt(n) * order) << "bin " << k;
        ASSERT_NEAR(spectrum[2 * k + 1], ref.imag(), 2e-6 * std::sqrt(n) * order) << "bin " << k;
    }
}

// Also proves that the transforms, which run on the audio thread, never allocate.
TEST(IppsFft, ImpulseSpectrumDftAndRoundTrip)
{
    for (int order = 1; order <= 18; ++order) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        GuardedFloats impulse(n + 2), buf(n + 2);
        std::fill(impulse.data(), impulse.data() + n + 2, 0.0f);
        impulse[0] = 1.0f;
        const std::vector<float> x = random_floats(n, static_cast<unsigned>(order));
        std::copy(x.begin(), x.end(), buf.data());
        corvella::test::AllocationCounter counter;
        ASSERT_EQ(fft.forward(impulse.data()), ippStsNoErr);
        ASSERT_EQ(fft.forward(buf.data()), ippStsNoErr);
        if (order <= 10) expect_dft(x, buf, order);
        const float nyquist_re = buf[n], nyquist_im = buf[n + 1];
        EXPECT_TRUE(buf[1] == 0.0f && nyquist_im == 0.0f);
        ASSERT_EQ(fft.inverse(buf.data()), ippStsNoErr);
        EXPECT_EQ(counter.count(), 0);

        for (int k = 0; k <= n / 2; ++k) {
            ASSERT_NEAR(impulse[2 * k], 1.0f, 1e-6f) << "bin " << k;
            ASSERT_NEAR(impulse[2 * k + 1], 0.0f, 1e-6f) << "bin " << k;
        }
        EXPECT_EQ(impulse[1], 0.0f); // fixed at exactly zero by the packed layout
        EXPECT_EQ(impulse[n + 1], 0.0f);
        // The inverse writes the n samples only.
        EXPECT_EQ(buf[n], nyquist_re);
        EXPECT_EQ(buf[n + 1], nyquist_im);
        double worst = 0.0, peak = 0.0;
        for (int i = 0; i < n; ++i) {
            worst = std::max(worst, std::fabs(double(buf[i]) - x[i]));
            peak = std::max(peak, std::fabs(double(x[i])));
        }
        // Rounding grows with log2(n); a wrong scale or layout errs by the signal's own size.
        EXPECT_LT(worst / peak, 2e-7 * (order + 2)) << "worst error " << worst;
        EXPECT_TRUE(impulse.intact() && buf.intact());
    }
}

TEST(IppsFft, InverseOfSpectrumProductIsCircularConvolution)
{
    for (int order : {3, 9, 12}) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        const std::vector<float> x = random_floats(n, 200u + order), h = random_floats(n, 300u + order);
        // Spectrum buffers of n + 4 floats, products over (n + 4) / 2 complex values, as the
        // convolver uses them.
        GuardedFloats a(n + 4), b(n + 4), y(n + 4);
        std::fill(a.data(), a.data() + n + 4, 0.0f);
        std::fill(b.data(), b.data() + n + 4, 0.0f);
        std::copy(x.begin(), x.end(), a.data());
        std::copy(h.begin(), h.end(), b.data());
        ASSERT_EQ(fft.forward(a.data()), ippStsNoErr);
        ASSERT_EQ(fft.forward(b.data()), ippStsNoErr);
        ASSERT_EQ(ippsMul_32fc(reinterpret_cast<Ipp32fc*>(a.data()), reinterpret_cast<Ipp32fc*>(b.data()),
                               reinterpret_cast<Ipp32fc*>(y.data()), (n + 4) / 2),
                  ippStsNoErr);
        EXPECT_EQ(y[n + 2], 0.0f);
        EXPECT_EQ(y[n + 3], 0.0f);
        ASSERT_EQ(fft.inverse(y.data()), ippStsNoErr);
        double worst = 0.0, size = 0.0;
        for (int i = 0; i < n; ++i) {
            double ref = 0.0;
            for (int j = 0; j < n; ++j)
                ref += double(x[j]) * h[(i - j + n) % n];
            worst = std::max(worst, std::fabs(y[i] - ref));
            size = std::max(size, std::fabs(ref));
        }
        EXPECT_LT(worst, 1e-6 * std::sqrt(double(n)) * order + 1e-6 * size) << "worst " << worst;
        EXPECT_TRUE(a.intact() && b.intact() && y.intact());
    }
}

// Every scaling rule, in place and out of place with either array off the 64-byte grid: the forms
// agree bit for bit and write nothing past the result; misaligned buffers allocate nothing.
TEST(IppsFft, ScalingRulesAndBufferPlacements)
{
    struct Case {
        int flag;
        double dc_of_ones; // forward transform of all ones, bin 0
        double round_trip; // inverse(forward(x)) / x
    };
    const int order = 9, n = 1 << order;
    const Case cases[] = {{IPP_FFT_DIV_FWD_BY_N, 1.0, 1.0},
                          {IPP_FFT_DIV_INV_BY_N, n, 1.0},
                          {IPP_FFT_DIV_BY_SQRTN, std::sqrt(double(n)), 1.0},
                          {IPP_FFT_NODIV_BY_ANY, n, n}};
    const std::vector<float> x = random_floats(n, 5);
    for (const Case& c : cases) {
        Fft fft(order, c.flag);
        ASSERT_EQ(fft.status, ippStsNoErr);
        std::vector<float> ones(n + 2, 1.0f);
        ASSERT_EQ(fft.forward(ones.data()), ippStsNoErr);
        EXPECT_NEAR(ones[0], c.dc_of_ones, 1e-5 * c.dc_of_ones) << c.flag;
        for (int shift : {0, 4}) {
            SCOPED_TRACE(testing::Message() << "flag " << c.flag << " shift " << shift);
            GuardedFloats in_place(n + 2, 4 - shift), src(n + 2, shift), dst(n + 2, 4 - shift);
            std::copy(x.begin(), x.end(), in_place.data());
            std::copy(x.begin(), x.end(), src.data());
            corvella::test::AllocationCounter counter;
            ASSERT_EQ(fft.forward(in_place.data()), ippStsNoErr);
            ASSERT_EQ(ippsFFTFwd_RToCCS_32f(src.data(), dst.data(), fft.spec, fft.work), ippStsNoErr);
            EXPECT_TRUE(same_floats(in_place.data(), dst.data(), n + 2));
            std::copy(dst.data(), dst.data() + n + 2, src.data());
            ASSERT_EQ(fft.inverse(in_place.data()), ippStsNoErr);
            ASSERT_EQ(ippsFFTInv_CCSToR_32f(src.data(), dst.data(), fft.spec, fft.work), ippStsNoErr);
            EXPECT_EQ(counter.count(), 0);
            EXPECT_TRUE(same_floats(in_place.data(), dst.data(), n));
            for (int i = 0; i < n; ++i)
                ASSERT_NEAR(dst[i], x[i] * c.round_trip, 1e-5 * c.round_trip) << i;
            EXPECT_TRUE(in_place.intact() && src.intact() && dst.intact());
        }
    }
}

TEST(IppsFft, RejectsBadArguments)
{
    int sentinel = 0; // a failed set-up must not leave a stale pointer behind
    auto* spec = reinterpret_cast<IppsFFTSpec_R_32f*>(&sentinel);
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 0, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsFftOrderErr);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 25, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsFftOrderErr);
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 4, 3, ippAlgHintNone), ippStsFftFlagErr);
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(&spec, 4, IPP_FFT_DIV_INV_BY_N, 7), ippStsBadArgErr);
    EXPECT_EQ(ippsFFTInitAlloc_R_32f(nullptr, 4, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFree_R_32f(nullptr), ippStsNullPtrErr);
    int size = -1;
    EXPECT_EQ(ippsFFTGetBufSize_R_32f(nullptr, &size), ippStsNullPtrErr);

    Fft fft(4);
    ASSERT_EQ(fft.status, ippStsNoErr);
    float buf[18] = {1.0f};
    EXPECT_EQ(ippsFFTFwd_RToCCS_32f_I(nullptr, fft.spec, fft.work), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_32f_I(buf, nullptr, fft.work), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFwd_RToCCS_32f_I(buf, fft.spec, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_32f_I(buf, fft.spec, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFwd_RToCCS_32f(nullptr, buf, fft.spec, fft.work), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_32f(buf, nullptr, fft.spec, fft.work), ippStsNullPtrErr);
    EXPECT_EQ(buf[0], 1.0f);
    EXPECT_EQ(buf[1], 0.0f);
}

TEST(IppsFft, ThreadsPlanAndTransformAtTheSameTime)
{
    // Planning is serialised inside; each thread brings its own buffers and work buffer.
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 3; ++round) {
                Fft fft(4 + (t + round) % 6);
                const std::vector<float> x = random_floats(fft.n, static_cast<unsigned>(t * 10 + round));
                std::vector<float> buf(x);
                buf.resize(fft.n + 2);
                if (fft.status != ippStsNoErr || fft.forward(buf.data()) || fft.inverse(buf.data())) {
                    ++failures[t];
                    continue;
                }
                for (int i = 0; i < fft.n; ++i)
                    if (std::fabs(buf[i] - x[i]) > 1e-5f) {
                        ++failures[t];
                        break;
                    }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
