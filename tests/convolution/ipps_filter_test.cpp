// FIR and IIR filter states and the low-pass design, against direct double-precision references.
#include "convolution/ipps.h"
#include "ipps_test_support.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

namespace {

using corvella::test::GuardedFloats;
using corvella::test::random_floats;

// y[i] = sum over k of taps[k] x[i - k]; history holds x[-T] .. x[-1] (zeros when empty).
std::vector<double> reference_fir(const std::vector<float>& taps, const std::vector<float>& x,
                                  std::vector<float> history = {})
{
    const int t_len = static_cast<int>(taps.size());
    history.resize(taps.size(), 0.0f);
    std::vector<double> y(x.size());
    for (int i = 0; i < static_cast<int>(x.size()); ++i)
        for (int k = 0; k < t_len; ++k)
            y[i] += double(taps[k]) * (i - k >= 0 ? x[i - k] : history[t_len + i - k]);
    return y;
}

// Rounding bound for a sum of products of values up to 1 in single precision.
double fir_tolerance(int taps_len)
{
    return 2e-7 * taps_len + 1e-7;
}

struct FirFree {
    void operator()(IppsFIRState_32f* state) const { ippsFIRFree_32f(state); }
};
using Fir = std::unique_ptr<IppsFIRState_32f, FirFree>;

Fir make_fir(const std::vector<float>& taps, const float* history = nullptr)
{
    IppsFIRState_32f* state = nullptr;
    EXPECT_EQ(ippsFIRInitAlloc_32f(&state, taps.data(), static_cast<int>(taps.size()), history), ippStsNoErr);
    return Fir(state);
}

class IppsFir : public corvella::test::CodePathTest {};

// One call matches the direct reference; calls of any size (1 frame, around and beyond the
// internal 512-frame pass), out of place and in place, give its bits exactly.
TEST_P(IppsFir, SplitCallsEqualOneCallAndTheDirectReference)
{
    const int sizes[] = {1, 2, 3, 7, 64, 511, 512, 513, 1, 1000, 1500, 5, 1024, 1025};
    int len = 0;
    for (int s : sizes)
        len += s;
    const std::vector<float> x = random_floats(len, 2);
    for (int taps_len : {1, 2, 3, 5, 37, 256, 1000}) {
        SCOPED_TRACE(taps_len);
        const std::vector<float> taps = random_floats(taps_len, 200u + taps_len);
        Fir whole = make_fir(taps), split = make_fir(taps), in_place = make_fir(taps);
        GuardedFloats y_whole(len), y_split(len);
        ASSERT_EQ(ippsFIR_32f(x.data(), y_whole.data(), len, whole.get()), ippStsNoErr);
        std::vector<float> y_in_place(x);
        int done = 0;
        for (int s : sizes) {
            ASSERT_EQ(ippsFIR_32f(x.data() + done, y_split.data() + done, s, split.get()), ippStsNoErr);
            ASSERT_EQ(ippsFIR_32f_I(y_in_place.data() + done, s, in_place.get()), ippStsNoErr);
            done += s;
        }
        const auto ref = reference_fir(taps, x);
        for (int i = 0; i < len; ++i) {
            ASSERT_NEAR(y_whole[i], ref[i], fir_tolerance(taps_len)) << "frame " << i;
            ASSERT_EQ(y_split[i], y_whole[i]) << "frame " << i;
            ASSERT_EQ(y_in_place[i], y_whole[i]) << "frame " << i;
        }
        EXPECT_TRUE(y_whole.intact() && y_split.intact());
    }
}

TEST_P(IppsFir, SetTapsKeepsTheHistory)
{
    const int taps_len = 23;
    const std::vector<float> first = random_floats(taps_len, 3), second = random_floats(taps_len, 4);
    const std::vector<float> x = random_floats(600, 5);
    Fir fir = make_fir(first);
    std::vector<float> y(600);
    ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), 300, fir.get()), ippStsNoErr);
    ASSERT_EQ(ippsFIRSetTaps_32f(second.data(), fir.get()), ippStsNoErr);
    ASSERT_EQ(ippsFIR_32f(x.data() + 300, y.data() + 300, 300, fir.get()), ippStsNoErr);
    const auto ref_first = reference_fir(first, x), ref_second = reference_fir(second, x);
    // After the switch the new taps see the inputs from before it.
    for (int i = 0; i < 600; ++i)
        ASSERT_NEAR(y[i], (i < 300 ? ref_first : ref_second)[i], fir_tolerance(taps_len)) << i;
}

TEST_P(IppsFir, DelayLineSetsAndReportsTheHistory)
{
    const int taps_len = 9;
    const std::vector<float> taps = random_floats(taps_len, 6);
    const std::vector<float> history = random_floats(taps_len, 7); // x[-9] .. x[-1]
    const std::vector<float> x = random_floats(40, 8);
    const auto ref = reference_fir(taps, x, history);

    Fir from_init = make_fir(taps, history.data()), from_set = make_fir(taps);
    ASSERT_EQ(ippsFIRSetDlyLine_32f(from_set.get(), history.data()), ippStsNoErr);
    std::vector<float> line(taps_len), y(40);
    ASSERT_EQ(ippsFIRGetDlyLine_32f(from_set.get(), line.data()), ippStsNoErr);
    EXPECT_EQ(line, history);
    for (IppsFIRState_32f* fir : {from_init.get(), from_set.get()}) {
        ASSERT_EQ(ippsFIR_32f(x.data(), y.data(), 40, fir), ippStsNoErr);
        for (int i = 0; i < 40; ++i)
            ASSERT_NEAR(y[i], ref[i], fir_tolerance(taps_len)) << i;
        // The line now holds the last nine inputs, oldest first.
        ASSERT_EQ(ippsFIRGetDlyLine_32f(fir, line.data()), ippStsNoErr);
        EXPECT_EQ(line, std::vector<float>(x.end() - taps_len, x.end()));
    }

    // A short call shifts the line by its length only.
    const float more[3] = {0.25f, 0.5f, 0.75f};
    ASSERT_EQ(ippsFIR_32f(more, y.data(), 3, from_set.get()), ippStsNoErr);
    ASSERT_EQ(ippsFIRGetDlyLine_32f(from_set.get(), line.data()), ippStsNoErr);
    std::vector<float> expected(x.end() - (taps_len - 3), x.end());
    expected.insert(expected.end(), more, more + 3);
    EXPECT_EQ(line, expected);

    // Clearing the line restarts from silence: the zero-latency impulse response is the taps.
    ASSERT_EQ(ippsFIRSetDlyLine_32f(from_set.get(), nullptr), ippStsNoErr);
    std::vector<float> impulse(taps_len, 0.0f), response(taps_len);
    impulse[0] = 1.0f;
    ASSERT_EQ(ippsFIR_32f(impulse.data(), response.data(), taps_len, from_set.get()), ippStsNoErr);
    EXPECT_EQ(response, taps);
}

TEST_P(IppsFir, FilteringAllocatesNothing)
{
    const std::vector<float> taps = random_floats(256, 9), x = random_floats(5000, 10);
    Fir fir = make_fir(taps);
    std::vector<float> y(5000);
    corvella::test::AllocationCounter counter;
    ippsFIR_32f(x.data(), y.data(), 128, fir.get());
    ippsFIR_32f(x.data(), y.data(), 5000, fir.get());
    ippsFIR_32f_I(y.data(), 1, fir.get());
    EXPECT_EQ(counter.count(), 0);
}

CORVELLA_FOR_EACH_CODE_PATH(IppsFir);

TEST(IppsFilterStates, RejectBadArguments)
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

    const float iir_taps[4] = {1.0f, 0.0f, 0.0f, 0.5f}; // a0 = 0
    auto* iir = reinterpret_cast<IppsIIRState_32f*>(&sentinel);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&iir, iir_taps, 1, nullptr), ippStsDivByZeroErr);
    EXPECT_EQ(iir, nullptr);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&iir, iir_taps, 0, nullptr), ippStsSizeErr);
    EXPECT_EQ(ippsIIRInitAlloc_32f(&iir, nullptr, 1, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsIIRFree_32f(nullptr), ippStsNullPtrErr);
}

// ---- Low-pass design ----

double magnitude(const std::vector<double>& taps, double f)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -2.0 * std::numbers::pi * f * double(n));
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
        EXPECT_EQ(taps[n], taps[31 - n]) << n;
    for (double f = 0.0; f <= 0.15; f += 0.01)
        EXPECT_NEAR(magnitude(taps, f), 1.0, 1e-3) << f;
    EXPECT_NEAR(magnitude(taps, 0.25), 0.5, 0.01);
    for (double f = 0.35; f <= 0.5; f += 0.005)
        EXPECT_LT(20.0 * std::log10(magnitude(taps, f)), -70.0) << f;
}

// Unnormalised taps are the windowed sinc 0.5 sinc(m / 2) at offset m from the centre, times the
// window at n / (N - 1).
TEST(IppsLowpass, UnnormalisedTapsAreTheWindowedSinc)
{
    const double pi = std::numbers::pi;
    struct Case {
        int window, len, first;
        std::vector<double> expected; // taps from `first` on
    };
    const Case cases[] = {
        {ippWinRect, 33, 16, {0.5, 1.0 / pi, 0.0, -1.0 / (3.0 * pi)}},
        {ippWinHann, 3, 0, {0.0, 0.5, 0.0}},
        {ippWinHamming, 3, 0, {0.08 / pi, 0.5, 0.08 / pi}},
        {ippWinBartlett, 5, 0, {0.0, 0.5 / pi, 0.5, 0.5 / pi, 0.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        std::vector<double> taps(c.len);
        ASSERT_EQ(ippsFIRGenLowpass_64f(0.25, taps.data(), c.len, c.window, ippFalse), ippStsNoErr);
        for (std::size_t n = 0; n < c.expected.size(); ++n)
            EXPECT_NEAR(taps[c.first + n], c.expected[n], 1e-15) << n;
    }
}

TEST(IppsLowpass, RejectsBadArguments)
{
    std::vector<double> taps(8, 3.0);
    for (double bad : {0.0, 0.5, std::nan("")})
        EXPECT_EQ(ippsFIRGenLowpass_64f(bad, taps.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, taps.data(), 2, ippWinBlackman, ippTrue), ippStsFIRLenErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, taps.data(), 8, 5, ippTrue), ippStsBadArgErr);
    EXPECT_EQ(ippsFIRGenLowpass_64f(0.2, nullptr, 8, ippWinBlackman, ippTrue), ippStsNullPtrErr);
    EXPECT_EQ(taps, std::vector<double>(8, 3.0));
}

// ---- IIR ----

TEST(IppsIir, MatchesTheDifferenceEquationAcrossCalls)
{
    // A resonant second-order section with a0 = 2, so the taps must be divided by a0.
    const std::vector<float> taps = {0.2f, 0.1f, -0.05f, 2.0f, -2.6f, 1.5f};
    const std::vector<float> x = random_floats(2000, 11);
    std::vector<double> ref(x.size());
    for (int i = 0; i < 2000; ++i) {
        double acc = 0.0;
        for (int k = 0; k <= 2 && k <= i; ++k)
            acc += taps[k] * double(x[i - k]) - (k > 0 ? taps[3 + k] * ref[i - k] : 0.0);
        ref[i] = acc / taps[3];
    }

    IppsIIRState_32f* state = nullptr;
    ASSERT_EQ(ippsIIRInitAlloc_32f(&state, taps.data(), 2, nullptr), ippStsNoErr);
    GuardedFloats y(2000);
    int done = 0;
    for (int s : {1, 2, 997, 1000}) {
        ASSERT_EQ(ippsIIR_32f(x.data() + done, y.data() + done, s, state), ippStsNoErr);
        done += s;
    }
    for (int i = 0; i < 2000; ++i)
        ASSERT_NEAR(y[i], ref[i], 1e-5) << i;
    EXPECT_TRUE(y.intact());

    // Clearing the state restarts the filter; in place gives the same result.
    ASSERT_EQ(ippsIIRSetDlyLine_32f(state, nullptr), ippStsNoErr);
    std::vector<float> in_place(x);
    ASSERT_EQ(ippsIIR_32f_I(in_place.data(), 2000, state), ippStsNoErr);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(in_place[i], y[i]) << i;
    EXPECT_EQ(ippsIIRFree_32f(state), ippStsNoErr);

    // First order with a state of 0.5: y0 = 1 + 0.5, then y[i] = 0.5 y[i-1].
    const float first_order[4] = {1.0f, 0.0f, 1.0f, -0.5f}, line[1] = {0.5f}, impulse[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_EQ(ippsIIRInitAlloc_32f(&state, first_order, 1, line), ippStsNoErr);
    float out[3] = {};
    ASSERT_EQ(ippsIIR_32f(impulse, out, 3, state), ippStsNoErr);
    EXPECT_FLOAT_EQ(out[0], 1.5f);
    EXPECT_FLOAT_EQ(out[1], 0.75f);
    EXPECT_FLOAT_EQ(out[2], 0.375f);
    EXPECT_EQ(ippsIIRFree_32f(state), ippStsNoErr);
}

} // namespace
