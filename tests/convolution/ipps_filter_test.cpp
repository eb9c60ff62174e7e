// FIR filter states against a direct double-precision reference.
#include "convolution/ipps.h"
#include "ipps_test_support.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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
// internal 512-frame pass), out of place and in place, give its bits exactly and allocate nothing.
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
        std::vector<float> y_in_place(x);
        corvella::test::AllocationCounter counter;
        ASSERT_EQ(ippsFIR_32f(x.data(), y_whole.data(), len, whole.get()), ippStsNoErr);
        int done = 0;
        for (int s : sizes) {
            ASSERT_EQ(ippsFIR_32f(x.data() + done, y_split.data() + done, s, split.get()), ippStsNoErr);
            ASSERT_EQ(ippsFIR_32f_I(y_in_place.data() + done, s, in_place.get()), ippStsNoErr);
            done += s;
        }
        EXPECT_EQ(counter.count(), 0);
        const auto ref = reference_fir(taps, x);
        for (int i = 0; i < len; ++i) {
            ASSERT_NEAR(y_whole[i], ref[i], fir_tolerance(taps_len)) << "frame " << i;
            ASSERT_EQ(y_split[i], y_whole[i]) << "frame " << i;
            ASSERT_EQ(y_in_place[i], y_whole[i]) << "frame " << i;
        }
        EXPECT_TRUE(y_whole.intact() && y_split.intact());
    }
}

CORVELLA_FOR_EACH_CODE_PATH(IppsFir);

} // namespace
