// FIR and IIR filter states and the low-pass design, against direct double-precision references.
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
#include <string>
#include <vector>

namespace {

using corvella::test::GuardedFloats;

std::vector<float> random_floats(int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> values(static_cast<std::size_t>(count));
    for (float& v : values)
        v = dist(engine);
    return values;
}

// y[i] = sum over k of taps[k] x[i - k], where x[j] for j < 0 is history[T + j] (history holds
// x[-T] .. x[-1]).
std::vector<double> reference_fir(const std::vector<float>& taps, const std::vector<float>& x,
                                  const std::vector<float>& history)
{
    const auto t_len = static_cast<long>(taps.size());
    std::vector<double> y(x.size());
    for (long i = 0; i < static_cast<long>(x.size()); ++i) {
        double sum = 0.0;
        for (long k = 0; k < t_len; ++k) {
            const long j = i - k;
            const double v =
                j >= 0 ? x[static_cast<std::size_t>(j)] : history[static_cast<std::size_t>(t_len + j)];
            sum += static_cast<double>(taps[static_cast<std::size_t>(k)]) * v;
        }
        y[static_cast<std::size_t>(i)] = sum;
    }
    return y;
}

// Rounding bound for a sum of products of values up to 1 in single precision.
double fir_tolerance(int taps_len)
{
    return 2e-7 * taps_len + 1e-7;
}

std::vector<corvella::IppsCodePath> available_paths()
{
    std::vector<corvella::IppsCodePath> paths;
    for (auto p :
         {corvella::IppsCodePath::portable, corvella::IppsCodePath::sse2, corvella::IppsCodePath::avx2_fma})
        if (static_cast<int>(p) <= static_cast<int>(corvella::ipps_best_code_path())) paths.push_back(p);
    return paths;
}

class IppsFir : public testing::TestWithParam<corvella::IppsCodePath> {
protected:
    void SetUp() override
    {
        saved_ = corvella::ipps_code_path();
        ASSERT_TRUE(corvella::ipps_set_code_path(GetParam()));
    }
    void TearDown() override { corvella::ipps_set_code_path(saved_); }

private:
    corvella::IppsCodePath saved_ = corvella::IppsCodePath::portable;
};

class FirState {
public:
    FirState(const std::vector<float>& taps, const float* history = nullptr)
    {
        status = ippsFIRInitAlloc_32f(&state, taps.data(), static_cast<int>(taps.size()), history);
    }
    ~FirState()
    {
        if (state) ippsFIRFree_32f(state);
    }
    FirState(const FirState&) = delete;
    FirState& operator=(const FirState&) = delete;

    IppStatus status;
    IppsFIRState_32f* state = nullptr;
};

TEST_P(IppsFir, OneCallMatchesDirectConvolution)
{
    const int len = 3000;
    const std::vector<float> x = random_floats(len, 1);
    for (int taps_len : {1, 2, 3, 5, 37, 256, 700}) {
        SCOPED_TRACE(taps_len);
        const std::vector<float> taps = random_floats(taps_len, 100u + static_cast<unsigned>(taps_len));
        const auto ref = reference_fir(taps, x, std::vector<float>(static_cast<std::size_t>(taps_len), 0.0f));
        FirState fir(taps);
        ASSERT_EQ(fir.status, ippStsNoErr);
        GuardedFloats y(len);
        ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), len, fir.state), ippStsNoErr);
        for (int i = 0; i < len; ++i)
            ASSERT_NEAR(y[i], ref[static_cast<std::size_t>(i)], fir_tolerance(taps_len)) << "frame " << i;
        EXPECT_TRUE(y.intact());
    }
}

TEST_P(IppsFir, SplitCallsEqualOneCallBitForBit)
{
    // Call sizes around and beyond the internal 512-frame pass, including single frames.
    const int sizes[] = {1, 2, 3, 7, 64, 511, 512, 513, 1, 1000, 1500, 5, 1024, 1025};
    int len = 0;
    for (int s : sizes)
        len += s;
    const std::vector<float> x = random_floats(len, 2);
    for (int taps_len : {1, 4, 37, 256, 1000}) {
        SCOPED_TRACE(taps_len);
        const std::vector<float> taps = random_floats(taps_len, 200u + static_cast<unsigned>(taps_len));
        FirState whole(taps), split(taps), in_place(taps);
        std::vector<float> y_whole(static_cast<std::size_t>(len));
        ASSERT_EQ(ippsFIR_32f(x.data(), y_whole.data(), len, whole.state), ippStsNoErr);

        GuardedFloats y_split(len);
        std::vector<float> y_in_place(x);
        int done = 0;
        for (int s : sizes) {
            ASSERT_EQ(ippsFIR_32f(x.data() + done, y_split.data() + done, s, split.state), ippStsNoErr);
            ASSERT_EQ(ippsFIR_32f_I(y_in_place.data() + done, s, in_place.state), ippStsNoErr);
            done += s;
        }
        for (int i = 0; i < len; ++i) {
            ASSERT_EQ(y_split[i], y_whole[static_cast<std::size_t>(i)]) << "frame " << i;
            ASSERT_EQ(y_in_place[static_cast<std::size_t>(i)], y_whole[static_cast<std::size_t>(i)])
                << "frame " << i;
        }
        EXPECT_TRUE(y_split.intact());
        const auto ref = reference_fir(taps, x, std::vector<float>(static_cast<std::size_t>(taps_len), 0.0f));
        for (int i = 0; i < len; ++i)
            ASSERT_NEAR(y_whole[static_cast<std::size_t>(i)], ref[static_cast<std::size_t>(i)],
                        fir_tolerance(taps_len))
                << "frame " << i;
    }
}

TEST_P(IppsFir, ZeroLatencyImpulseResponseIsTheTaps)
{
    const std::vector<float> taps = {0.5f, -0.25f, 0.125f, 2.0f, -1.0f};
    FirState fir(taps);
    std::vector<float> x(9, 0.0f), y(9, 7.0f);
    x[0] = 1.0f;
    ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), 9, fir.state), ippStsNoErr);
    const float expected[9] = {0.5f, -0.25f, 0.125f, 2.0f, -1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(y[static_cast<std::size_t>(i)], expected[i]) << i;
}

TEST_P(IppsFir, SetTapsKeepsTheHistory)
{
    const int taps_len = 23;
    const std::vector<float> first = random_floats(taps_len, 3);
    const std::vector<float> second = random_floats(taps_len, 4);
    const std::vector<float> x = random_floats(600, 5);
    FirState fir(first);
    std::vector<float> y(600);
    ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), 300, fir.state), ippStsNoErr);
    ASSERT_EQ(ippsFIRSetTaps_32f(second.data(), fir.state), ippStsNoErr);
    ASSERT_EQ(ippsFIR_32f(x.data() + 300, y.data() + 300, 300, fir.state), ippStsNoErr);
    const std::vector<float> zeros(taps_len, 0.0f);
    const auto ref_first = reference_fir(first, x, zeros);
    const auto ref_second = reference_fir(second, x, zeros);
    for (int i = 0; i < 300; ++i)
        ASSERT_NEAR(y[static_cast<std::size_t>(i)], ref_first[static_cast<std::size_t>(i)],
                    fir_tolerance(taps_len));
    // After the switch the new taps see the inputs from before it.
    for (int i = 300; i < 600; ++i)
        ASSERT_NEAR(y[static_cast<std::size_t>(i)], ref_second[static_cast<std::size_t>(i)],
                    fir_tolerance(taps_len));
}

TEST_P(IppsFir, DelayLineSetsAndReportsTheHistory)
{
    const int taps_len = 9;
    const std::vector<float> taps = random_floats(taps_len, 6);
    const std::vector<float> history = random_floats(taps_len, 7); // x[-9] .. x[-1]
    const std::vector<float> x = random_floats(40, 8);
    const auto ref = reference_fir(taps, x, history);

    FirState from_init(taps, history.data());
    FirState from_set(taps);
    ASSERT_EQ(ippsFIRSetDlyLine_32f(from_set.state, history.data()), ippStsNoErr);
    std::vector<float> line(taps_len);
    ASSERT_EQ(ippsFIRGetDlyLine_32f(from_set.state, line.data()), ippStsNoErr);
    EXPECT_EQ(line, history);

    for (FirState* fir : {&from_init, &from_set}) {
        std::vector<float> y(40);
        ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), 40, fir->state), ippStsNoErr);
        for (int i = 0; i < 40; ++i)
            ASSERT_NEAR(y[static_cast<std::size_t>(i)], ref[static_cast<std::size_t>(i)],
                        fir_tolerance(taps_len))
                << i;
        // The line now holds the last nine inputs, oldest first.
        ASSERT_EQ(ippsFIRGetDlyLine_32f(fir->state, line.data()), ippStsNoErr);
        EXPECT_EQ(line, std::vector<float>(x.end() - taps_len, x.end()));
    }

    // A short call shifts the line by its length only.
    std::vector<float> y(3);
    const float more[3] = {0.25f, 0.5f, 0.75f};
    ASSERT_EQ(ippsFIR_32f(more, y.data(), 3, from_set.state), ippStsNoErr);
    ASSERT_EQ(ippsFIRGetDlyLine_32f(from_set.state, line.data()), ippStsNoErr);
    std::vector<float> expected(x.end() - (taps_len - 3), x.end());
    expected.insert(expected.end(), more, more + 3);
    EXPECT_EQ(line, expected);

    // Clearing the line (null or zeros) restarts from silence.
    ASSERT_EQ(ippsFIRSetDlyLine_32f(from_set.state, nullptr), ippStsNoErr);
    std::vector<float> impulse(taps_len, 0.0f), response(taps_len);
    impulse[0] = 1.0f;
    ASSERT_EQ(ippsFIR_32f(impulse.data(), response.data(), taps_len, from_set.state), ippStsNoErr);
    EXPECT_EQ(response, taps);
}

TEST_P(IppsFir, FilteringAllocatesNothing)
{
    const std::vector<float> taps = random_floats(256, 9);
    const std::vector<float> x = random_floats(5000, 10);
    FirState fir(taps);
    std::vector<float> y(5000);
    corvella::test::AllocationCounter counter;
    ippsFIR_32f(x.data(), y.data(), 128, fir.state);
    ippsFIR_32f(x.data(), y.data(), 5000, fir.state);
    ippsFIR_32f_I(y.data(), 1, fir.state);
    EXPECT_EQ(counter.count(), 0);
}

std::string path_name(const testing::TestParamInfo<corvella::IppsCodePath>& info)
{
    return corvella::ipps_code_path_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(CodePaths, IppsFir, testing::ValuesIn(available_paths()), path_name);

TEST(IppsFirState, RejectsBadArguments)
{
    const float taps[2] = {1.0f, 2.0f};
    int sentinel = 0;
    auto* state = reinterpret_cast<IppsFIRState_32f*>(&sentinel);
    EXPECT_EQ(ippsFIRInitAlloc_32f(&state, taps, 0, nullptr), ippStsFIRLenErr);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(ippsFIRInitAlloc_32f(&state, nullptr, 2, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFIRInitAlloc_32f(nullptr, taps, 2, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFIRFree_32f(nullptr), ippStsNullPtrErr);
    ASSERT_EQ(ippsFIRInitAlloc_32f(&state, taps, 2, nullptr), ippStsNoErr);
    float buf[4] = {1, 1, 1, 1};
    EXPECT_EQ(ippsFIR_32f(buf, buf, -1, state), ippStsSizeErr);
    EXPECT_EQ(ippsFIR_32f(nullptr, buf, 4, state), ippStsNullPtrErr);
    EXPECT_EQ(ippsFIR_32f(buf, buf, 0, state), ippStsNoErr);
    EXPECT_EQ(buf[0], 1.0f);
    EXPECT_EQ(ippsFIRSetTaps_32f(nullptr, state), ippStsNullPtrErr);
    EXPECT_EQ(ippsFIRFree_32f(state), ippStsNoErr);
}

// ---------------------------------------------------------------------------------------------
// Low-pass design

double magnitude(const std::vector<double>& taps, double f)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(n));
    return std::abs(sum);
}

TEST(IppsLowpass, BlackmanHalfBandAsTheAntiAliasFilterUsesIt)
{
    std::vector<double> taps(32);
    ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, taps.data(), 32, ippWinBlackman, ippTrue), ippStsNoErr);
    double sum = 0.0;
    for (double t : taps)
        sum += t;
    EXPECT_NEAR(sum, 1.0, 1e-12);
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(taps[static_cast<std::size_t>(n)], taps[static_cast<std::size_t>(31 - n)]) << n;
    for (double f = 0.0; f <= 0.15; f += 0.01)
        EXPECT_NEAR(magnitude(taps, f), 1.0, 1e-3) << f;
    EXPECT_NEAR(magnitude(taps, 0.25), 0.5, 0.01);
    for (double f = 0.35; f <= 0.5; f += 0.005)
        EXPECT_LT(20.0 * std::log10(magnitude(taps, f)), -70.0) << f;
}

TEST(IppsLowpass, UnnormalisedTapsAreTheWindowedSinc)
{
    // Rectangular window, 33 taps, cut-off a quarter of the rate: h[16 + m] = sin(pi m / 2) / (pi m).
    std::vector<double> rect(33);
    ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, rect.data(), 33, ippWinRect, ippFalse), ippStsNoErr);
    EXPECT_NEAR(rect[16], 0.5, 1e-15);
    EXPECT_NEAR(rect[17], 1.0 / std::numbers::pi, 1e-15);
    EXPECT_NEAR(rect[18], 0.0, 1e-15);
    EXPECT_NEAR(rect[19], -1.0 / (3.0 * std::numbers::pi), 1e-15);
    EXPECT_NEAR(rect[0], 0.0, 1e-15);

    // Windows of three taps: ends at n/(N-1) = 0 and 1, centre at 0.5.
    std::vector<double> hann(3), hamming(3);
    ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, hann.data(), 3, ippWinHann, ippFalse), ippStsNoErr);
    ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, hamming.data(), 3, ippWinHamming, ippFalse), ippStsNoErr);
    EXPECT_NEAR(hann[0], 0.0, 1e-15);
    EXPECT_NEAR(hann[1], 0.5, 1e-15);
    EXPECT_NEAR(hamming[0], 0.08 / std::numbers::pi, 1e-15);
    EXPECT_NEAR(hamming[1], 0.5, 1e-15);
    EXPECT_EQ(hamming[0], hamming[2]);

    // Bartlett of five taps: 0, 0.5, 1, 0.5, 0 times the sinc.
    std::vector<double> bartlett(5);
    ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, bartlett.data(), 5, ippWinBartlett, ippFalse), ippStsNoErr);
    EXPECT_NEAR(bartlett[0], 0.0, 1e-15);
    EXPECT_NEAR(bartlett[1], 0.5 / std::numbers::pi, 1e-15);
    EXPECT_NEAR(bartlett[2], 0.5, 1e-15);
    EXPECT_NEAR(bartlett[3], 0.5 / std::numbers::pi, 1e-15);
}

TEST(IppsLowpass, RejectsBadArguments)
{
    std::vector<double> taps(8, 3.0);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.0, taps.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.5, taps.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(std::nan(""), taps.data(), 8, ippWinBlackman, ippTrue),
              ippStsOutOfRangeErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, taps.data(), 2, ippWinBlackman, ippTrue), ippStsFIRLenErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, taps.data(), 8, 5, ippTrue), ippStsBadArgErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, nullptr, 8, ippWinBlackman, ippTrue), ippStsNullPtrErr);
    EXPECT_EQ(taps, std::vector<double>(8, 3.0));
}

// ---------------------------------------------------------------------------------------------
// IIR

std::vector<double> reference_iir(const std::vector<double>& b, const std::vector<double>& a,
                                  const std::vector<float>& x)
{
    const std::size_t order = b.size() - 1;
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double acc = 0.0;
        for (std::size_t k = 0; k <= order && k <= i; ++k)
            acc += b[k] * x[i - k];
        for (std::size_t k = 1; k <= order && k <= i; ++k)
            acc -= a[k] * y[i - k];
        y[i] = acc / a[0];
    }
    return y;
}

TEST(IppsIir, MatchesTheDifferenceEquationAcrossCalls)
{
    // A resonant second-order section with a0 = 2, so the taps must be divided by a0.
    const std::vector<float> taps = {0.2f, 0.1f, -0.05f, 2.0f, -2.6f, 1.5f};
    const std::vector<double> b(taps.begin(), taps.begin() + 3);
    const std::vector<double> a(taps.begin() + 3, taps.end());
    const std::vector<float> x = random_floats(2000, 11);
    const auto ref = reference_iir(b, a, x);

    IppsIIRState_32f* state = nullptr;
    ASSERT_EQ(ippsIIRInitAlloc_32f(&state, taps.data(), 2, nullptr), ippStsNoErr);
    GuardedFloats y(2000);
    int done = 0;
    for (int s : {1, 2, 997, 1000}) {
        ASSERT_EQ(ippsIIR_32f(x.data() + done, y.data() + done, s, state), ippStsNoErr);
        done += s;
    }
    for (int i = 0; i < 2000; ++i)
        ASSERT_NEAR(y[i], ref[static_cast<std::size_t>(i)], 1e-5) << i;
    EXPECT_TRUE(y.intact());

    // Clearing the state restarts the filter; in place gives the same result.
    ASSERT_EQ(ippsIIRSetDlyLine_32f(state, nullptr), ippStsNoErr);
    std::vector<float> in_place(x);
    ASSERT_EQ(ippsIIR_32f_I(in_place.data(), 2000, state), ippStsNoErr);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(in_place[static_cast<std::size_t>(i)], y[i]) << i;
    EXPECT_EQ(ippsIIRFree_32f(state), ippStsNoErr);
}

TEST(IppsIir, DelayLineIsTheFilterState)
{
    // First order: y[i] = b0 x[i] + z, so a state of 0.5 adds 0.5 to the first output.
    const float taps[4] = {1.0f, 0.0f, 1.0f, -0.5f};
    const float line[1] = {0.5f};
    IppsIIRState_32f* state = nullptr;
    ASSERT_EQ(ippsIIRInitAlloc_32f(&state, taps, 1, line), ippStsNoErr);
    float y[3] = {};
    const float x[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_EQ(ippsIIR_32f(x, y, 3, state), ippStsNoErr);
    // y0 = 1 + 0.5; then y[i] = 0.5 y[i-1].
    EXPECT_FLOAT_EQ(y[0], 1.5f);
    EXPECT_FLOAT_EQ(y[1], 0.75f);
    EXPECT_FLOAT_EQ(y[2], 0.375f);
    EXPECT_EQ(ippsIIRFree_32f(state), ippStsNoErr);
}

TEST(IppsIir, RejectsBadArguments)
{
    const float taps[4] = {1.0f, 0.0f, 0.0f, 0.5f}; // a0 = 0
    int sentinel = 0;
    auto* state = reinterpret_cast<IppsIIRState_32f*>(&sentinel);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&state, taps, 1, nullptr), ippStsDivByZeroErr);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&state, taps, 0, nullptr), ippStsSizeErr);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&state, nullptr, 1, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsIIRFree_32f(nullptr), ippStsNullPtrErr);
}

} // namespace
