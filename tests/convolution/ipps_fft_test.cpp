// Real FFT: packed spectrum layout and round trips against double-precision references. The
// scaling flags and out-of-place forms the convolver uses are tested through it against a
// brute-force convolution.
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

// A transform set-up with its work buffer.
struct Fft {
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
        // Bin by bin against a double-precision DFT (the spectrum's size is sqrt(n)).
        for (long k = 0; order <= 10 && k <= n / 2; ++k) {
            std::complex<double> ref = 0.0;
            for (long t = 0; t < n; ++t)
                ref += double(x[t]) * std::polar(1.0, -2.0 * std::numbers::pi * double((k * t) % n) / n);
            ASSERT_NEAR(buf[2 * k], ref.real(), 2e-6 * std::sqrt(n) * order) << "bin " << k;
            ASSERT_NEAR(buf[2 * k + 1], ref.imag(), 2e-6 * std::sqrt(n) * order) << "bin " << k;
        }
        const float nyquist_re = buf[n], nyquist_im = buf[n + 1];
        EXPECT_TRUE(buf[1] == 0.0f && nyquist_im == 0.0f);
        ASSERT_EQ(fft.inverse(buf.data()), ippStsNoErr);
        EXPECT_EQ(counter.count(), 0);

        for (int k = 0; k <= n / 2; ++k) {
            ASSERT_NEAR(impulse[2 * k], 1.0f, 1e-6f) << "bin " << k;
            ASSERT_NEAR(impulse[2 * k + 1], 0.0f, 1e-6f) << "bin " << k;
        }
        EXPECT_TRUE(impulse[1] == 0.0f && impulse[n + 1] == 0.0f);     // exactly zero in the packed layout
        EXPECT_TRUE(buf[n] == nyquist_re && buf[n + 1] == nyquist_im); // the inverse writes n samples only
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
                bool ok = fft.status == ippStsNoErr && !fft.forward(buf.data()) && !fft.inverse(buf.data());
                for (int i = 0; ok && i < fft.n; ++i)
                    ok = std::fabs(buf[i] - x[i]) <= 1e-5f;
                failures[t] += !ok;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
