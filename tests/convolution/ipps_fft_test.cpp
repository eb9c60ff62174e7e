// Real FFT: packed spectrum layout, scaling, round trips and convolution, against double-precision
// references.
#include "convolution/ipps.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using corvella::test::GuardedFloats;

// A specification with its work buffer.
class Fft {
public:
    explicit Fft(int order, int flag = IPP_FFT_DIV_INV_BY_N) : n(1 << order)
    {
        status = ippsFFTInitAlloc_R_32f(&spec, order, flag, ippAlgHintNone);
        if (status != ippStsNoErr) return;
        int size = 0;
        status = ippsFFTGetBufSize_R_32f(spec, &size);
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

std::vector<float> random_signal(int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> values(static_cast<std::size_t>(count));
    for (float& v : values)
        v = dist(engine);
    return values;
}

// X[k] = sum over t of x[t] e^(-2 pi i k t / n), k = 0..n/2.
std::vector<std::complex<double>> reference_dft(const std::vector<float>& x)
{
    const auto n = static_cast<long>(x.size());
    std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(n / 2 + 1));
    for (long k = 0; k <= n / 2; ++k) {
        std::complex<double> sum = 0.0;
        for (long t = 0; t < n; ++t) {
            const double angle =
                -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            sum += static_cast<double>(x[static_cast<std::size_t>(t)]) * std::polar(1.0, angle);
        }
        spectrum[static_cast<std::size_t>(k)] = sum;
    }
    return spectrum;
}

double peak(const std::vector<float>& x)
{
    double p = 0.0;
    for (float v : x)
        p = std::max(p, static_cast<double>(std::fabs(v)));
    return p;
}

TEST(IppsFft, ForwardThenInverseRestoresTheInput)
{
    for (int order = 1; order <= 16; ++order) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        const std::vector<float> x = random_signal(n, static_cast<unsigned>(order));
        GuardedFloats buf(n + 2);
        std::copy(x.begin(), x.end(), buf.data());
        ASSERT_EQ(fft.forward(buf.data()), ippStsNoErr);
        const float nyquist_re = buf[n], nyquist_im = buf[n + 1];
        ASSERT_EQ(fft.inverse(buf.data()), ippStsNoErr);
        // The inverse writes the n samples only.
        EXPECT_EQ(buf[n], nyquist_re);
        EXPECT_EQ(buf[n + 1], nyquist_im);
        double worst = 0.0;
        for (int i = 0; i < n; ++i)
            worst = std::max(worst, std::fabs(static_cast<double>(buf[i]) - x[static_cast<std::size_t>(i)]));
        // Rounding grows with log2(n); a wrong scale or layout errs by the signal's own size.
        EXPECT_LT(worst / peak(x), 2e-7 * (order + 2)) << "worst error " << worst;
        EXPECT_TRUE(buf.intact());
    }
}

TEST(IppsFft, ImpulseSpectrumIsOnesAndZerosInEveryBin)
{
    for (int order = 1; order <= 16; ++order) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        GuardedFloats buf(n + 2);
        std::fill(buf.data(), buf.data() + n + 2, 0.0f);
        buf[0] = 1.0f;
        ASSERT_EQ(fft.forward(buf.data()), ippStsNoErr);
        for (int k = 0; k <= n / 2; ++k) {
            ASSERT_NEAR(buf[2 * k], 1.0f, 1e-6f) << "bin " << k;
            ASSERT_NEAR(buf[2 * k + 1], 0.0f, 1e-6f) << "bin " << k;
        }
        // The packed layout fixes these two imaginary parts at exactly zero.
        EXPECT_EQ(buf[1], 0.0f);
        EXPECT_EQ(buf[n + 1], 0.0f);
        EXPECT_TRUE(buf.intact());
    }
}

TEST(IppsFft, ForwardMatchesDoublePrecisionDft)
{
    for (int order = 1; order <= 10; ++order) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        const std::vector<float> x = random_signal(n, 100u + static_cast<unsigned>(order));
        const auto ref = reference_dft(x);
        GuardedFloats buf(n + 2);
        std::copy(x.begin(), x.end(), buf.data());
        ASSERT_EQ(fft.forward(buf.data()), ippStsNoErr);
        const double scale = std::sqrt(static_cast<double>(n)); // the spectrum's typical size
        for (int k = 0; k <= n / 2; ++k) {
            const auto& r = ref[static_cast<std::size_t>(k)];
            ASSERT_NEAR(buf[2 * k], r.real(), 2e-6 * scale * order) << "bin " << k;
            ASSERT_NEAR(buf[2 * k + 1], r.imag(), 2e-6 * scale * order) << "bin " << k;
        }
        EXPECT_EQ(buf[1], 0.0f);
        EXPECT_EQ(buf[n + 1], 0.0f);
        EXPECT_TRUE(buf.intact());
    }
}

TEST(IppsFft, InverseOfSpectrumProductIsCircularConvolution)
{
    for (int order : {3, 9, 12}) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        const std::vector<float> x = random_signal(n, 200u + static_cast<unsigned>(order));
        const std::vector<float> h = random_signal(n, 300u + static_cast<unsigned>(order));
        // Spectrum buffers of n + 4 floats, products over (n + 4) / 2 complex values, as the
        // convolver uses them.
        GuardedFloats a(n + 4), b(n + 4), y(n + 4);
        std::fill(a.data(), a.data() + n + 4, 0.0f);
        std::fill(b.data(), b.data() + n + 4, 0.0f);
        std::copy(x.begin(), x.end(), a.data());
        std::copy(h.begin(), h.end(), b.data());
        ASSERT_EQ(fft.forward(a.data()), ippStsNoErr);
        ASSERT_EQ(fft.forward(b.data()), ippStsNoErr);
        auto* ac = reinterpret_cast<Ipp32fc*>(a.data());
        auto* bc = reinterpret_cast<Ipp32fc*>(b.data());
        ASSERT_EQ(ippsMul_32fc(ac, bc, reinterpret_cast<Ipp32fc*>(y.data()), (n + 4) / 2), ippStsNoErr);
        EXPECT_EQ(y[n + 2], 0.0f);
        EXPECT_EQ(y[n + 3], 0.0f);
        ASSERT_EQ(fft.inverse(y.data()), ippStsNoErr);
        double worst = 0.0, size = 0.0;
        for (int i = 0; i < n; ++i) {
            double ref = 0.0;
            for (int j = 0; j < n; ++j)
                ref += static_cast<double>(x[static_cast<std::size_t>(j)]) *
                       h[static_cast<std::size_t>((i - j + n) % n)];
            worst = std::max(worst, std::fabs(y[i] - ref));
            size = std::max(size, std::fabs(ref));
        }
        EXPECT_LT(worst, 1e-6 * std::sqrt(static_cast<double>(n)) * order + 1e-6 * size) << "worst " << worst;
        EXPECT_TRUE(a.intact() && b.intact() && y.intact());
    }
}

TEST(IppsFft, OtherScalingRules)
{
    const int order = 6;
    const int n = 1 << order;
    const std::vector<float> x = random_signal(n, 7);
    struct Case {
        int flag;
        double dc_of_ones; // forward transform of all ones, bin 0
        double round_trip; // inverse(forward(x)) / x
    };
    const Case cases[] = {{IPP_FFT_DIV_FWD_BY_N, 1.0, 1.0},
                          {IPP_FFT_DIV_INV_BY_N, n, 1.0},
                          {IPP_FFT_DIV_BY_SQRTN, std::sqrt(double(n)), 1.0},
                          {IPP_FFT_NODIV_BY_ANY, n, n}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        Fft fft(order, c.flag);
        ASSERT_EQ(fft.status, ippStsNoErr);
        std::vector<float> ones(n + 2, 1.0f);
        ASSERT_EQ(fft.forward(ones.data()), ippStsNoErr);
        EXPECT_NEAR(ones[0], c.dc_of_ones, 1e-5 * c.dc_of_ones);
        std::vector<float> buf(x);
        buf.resize(n + 2);
        ASSERT_EQ(fft.forward(buf.data()), ippStsNoErr);
        ASSERT_EQ(fft.inverse(buf.data()), ippStsNoErr);
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(buf[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)] * c.round_trip,
                        1e-5 * c.round_trip)
                << i;
    }
}

TEST(IppsFft, MisalignedBufferGivesTheSameResult)
{
    const int order = 8;
    Fft fft(order);
    ASSERT_EQ(fft.status, ippStsNoErr);
    const int n = fft.n;
    const std::vector<float> x = random_signal(n, 11);
    GuardedFloats aligned(n + 2), shifted(n + 2, 4);
    std::copy(x.begin(), x.end(), aligned.data());
    std::copy(x.begin(), x.end(), shifted.data());
    ASSERT_EQ(fft.forward(aligned.data()), ippStsNoErr);
    ASSERT_EQ(fft.forward(shifted.data()), ippStsNoErr);
    EXPECT_EQ(std::memcmp(aligned.data(), shifted.data(), sizeof(float) * static_cast<std::size_t>(n + 2)),
              0);
    ASSERT_EQ(fft.inverse(aligned.data()), ippStsNoErr);
    ASSERT_EQ(fft.inverse(shifted.data()), ippStsNoErr);
    EXPECT_EQ(std::memcmp(aligned.data(), shifted.data(), sizeof(float) * static_cast<std::size_t>(n)), 0);
    EXPECT_TRUE(aligned.intact() && shifted.intact());
}

// The out-of-place forms give bit for bit what the in-place forms give, for every scaling rule and
// with either array off the 64-byte grid, and write nothing past the result.
TEST(IppsFft, OutOfPlaceEqualsInPlace)
{
    const int order = 9;
    for (int flag :
         {IPP_FFT_DIV_INV_BY_N, IPP_FFT_DIV_FWD_BY_N, IPP_FFT_NODIV_BY_ANY, IPP_FFT_DIV_BY_SQRTN}) {
        Fft fft(order, flag);
        ASSERT_EQ(fft.status, ippStsNoErr);
        const int n = fft.n;
        const std::vector<float> x = random_signal(n, 5);
        for (int shift : {0, 4}) {
            SCOPED_TRACE(testing::Message() << "flag " << flag << " shift " << shift);
            GuardedFloats in_place(n + 2), src(n + 2, shift), dst(n + 2, 4 - shift);
            std::copy(x.begin(), x.end(), in_place.data());
            std::copy(x.begin(), x.end(), src.data());
            ASSERT_EQ(fft.forward(in_place.data()), ippStsNoErr);
            ASSERT_EQ(ippsFFTFwd_RToCCS_32f(src.data(), dst.data(), fft.spec, fft.work), ippStsNoErr);
            EXPECT_EQ(
                std::memcmp(in_place.data(), dst.data(), sizeof(float) * static_cast<std::size_t>(n + 2)), 0);

            std::copy(dst.data(), dst.data() + n + 2, src.data());
            ASSERT_EQ(fft.inverse(in_place.data()), ippStsNoErr);
            ASSERT_EQ(ippsFFTInv_CCSToR_32f(src.data(), dst.data(), fft.spec, fft.work), ippStsNoErr);
            EXPECT_EQ(std::memcmp(in_place.data(), dst.data(), sizeof(float) * static_cast<std::size_t>(n)),
                      0);
            EXPECT_TRUE(src.intact() && dst.intact());
        }
        float buf[4] = {};
        EXPECT_EQ(ippsFFTFwd_RToCCS_32f(nullptr, buf, fft.spec, fft.work), ippStsNullPtrErr);
        EXPECT_EQ(ippsFFTInv_CCSToR_32f(buf, nullptr, fft.spec, fft.work), ippStsNullPtrErr);
    }
}

TEST(IppsFft, TransformsAllocateNothing)
{
    // The transforms run on the audio thread.
    for (int order = 1; order <= 18; ++order) {
        SCOPED_TRACE(order);
        Fft fft(order);
        ASSERT_EQ(fft.status, ippStsNoErr);
        std::vector<float> x = random_signal(fft.n, 5);
        GuardedFloats buf(fft.n + 2), shifted(fft.n + 2, 4);
        std::copy(x.begin(), x.end(), buf.data());
        std::copy(x.begin(), x.end(), shifted.data());
        corvella::test::AllocationCounter counter;
        fft.forward(buf.data());
        fft.inverse(buf.data());
        fft.forward(shifted.data());
        fft.inverse(shifted.data());
        EXPECT_EQ(counter.count(), 0);
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
    EXPECT_EQ(ippsFFTGetBufSize_R_32f(fft.spec, &size), ippStsNoErr);
    EXPECT_GT(size, 0);
    EXPECT_EQ(ippsFFTFwd_RToCCS_32f_I(nullptr, fft.spec, fft.work), ippStsNullPtrErr);
    float buf[18] = {1.0f};
    EXPECT_EQ(ippsFFTInv_CCSToR_32f_I(buf, nullptr, fft.work), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFwd_RToCCS_32f_I(buf, fft.spec, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_32f_I(buf, fft.spec, nullptr), ippStsNullPtrErr);
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
                const int order = 4 + (t + round) % 6;
                Fft fft(order);
                if (fft.status != ippStsNoErr) {
                    ++failures[static_cast<std::size_t>(t)];
                    continue;
                }
                const std::vector<float> x = random_signal(fft.n, static_cast<unsigned>(t * 10 + round));
                float* buf = ippsMalloc_32f(fft.n + 2);
                std::copy(x.begin(), x.end(), buf);
                fft.forward(buf);
                fft.inverse(buf);
                for (int i = 0; i < fft.n; ++i)
                    if (std::fabs(buf[i] - x[static_cast<std::size_t>(i)]) > 1e-5f) {
                        ++failures[static_cast<std::size_t>(t)];
                        break;
                    }
                ippsFree(buf);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}

} // namespace
