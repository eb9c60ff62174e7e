// Integer up/down sampling and the fixed-ratio polyphase resampler.
#include "convolution/ipps.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace {

using corvella::test::GuardedFloats;

std::vector<float> ramp(int count)
{
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Integer steps

TEST(IppsSampleUp, InsertsZerosAfterEachSampleAtThePhase)
{
    const std::vector<float> x = ramp(5);
    GuardedFloats y(15);
    int count = -1, phase = 0;
    ASSERT_EQ(ippsSampleUp_32f(x.data(), 5, y.data(), &count, 3, &phase), ippStsNoErr);
    EXPECT_EQ(count, 15);
    EXPECT_EQ(phase, 0);
    const float phase0[15] = {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(y[i], phase0[i]) << i;
    EXPECT_TRUE(y.intact());

    phase = 1;
    ASSERT_EQ(ippsSampleUp_32f(x.data(), 5, y.data(), &count, 3, &phase), ippStsNoErr);
    EXPECT_EQ(phase, 1); // every input fills a whole group, so the phase carries over unchanged
    const float phase1[15] = {0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(y[i], phase1[i]) << i;
    EXPECT_TRUE(y.intact());
}

TEST(IppsSampleDown, KeepsEveryFactorthSampleFromThePhase)
{
    // Interleaved stereo frames split into their channels, as the loader does.
    const float frames[8] = {10, 20, 11, 21, 12, 22, 13, 23};
    GuardedFloats left(4), right(4);
    int count = -1, phase = 0;
    ASSERT_EQ(ippsSampleDown_32f(frames, 8, left.data(), &count, 2, &phase), ippStsNoErr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(phase, 0);
    phase = 1;
    ASSERT_EQ(ippsSampleDown_32f(frames, 8, right.data(), &count, 2, &phase), ippStsNoErr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(phase, 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(left[i], 10.0f + i);
        EXPECT_EQ(right[i], 20.0f + i);
    }
    EXPECT_TRUE(left.intact() && right.intact());
}

TEST(IppsSampleDown, PhaseCarriesAStreamAcrossBlocksOfAnyLength)
{
    const std::vector<float> x = ramp(50);
    for (int factor : {2, 3, 7}) {
        for (int start : {0, 1}) {
            SCOPED_TRACE(factor * 10 + start);
            std::vector<float> whole(50), split(50);
            int whole_count = 0, phase = start;
            ASSERT_EQ(ippsSampleDown_32f(x.data(), 50, whole.data(), &whole_count, factor, &phase),
                      ippStsNoErr);
            EXPECT_EQ(whole_count, (50 - start + factor - 1) / factor);
            phase = start;
            int done = 0, produced = 0;
            for (int block : {1, 4, 5, 13, 2, 25}) {
                int count = 0;
                ASSERT_EQ(ippsSampleDown_32f(x.data() + done, block, split.data() + produced, &count, factor,
                                             &phase),
                          ippStsNoErr);
                done += block;
                produced += count;
            }
            ASSERT_EQ(produced, whole_count);
            for (int i = 0; i < produced; ++i) {
                EXPECT_EQ(split[static_cast<std::size_t>(i)], whole[static_cast<std::size_t>(i)]);
                EXPECT_EQ(whole[static_cast<std::size_t>(i)], static_cast<float>(start + i * factor + 1));
            }
        }
    }
}

TEST(IppsSampleUpDown, RejectBadArguments)
{
    float x[4] = {1, 2, 3, 4}, y[8] = {};
    int count = -1, phase = 0;
    EXPECT_EQ(ippsSampleUp_32f(x, 4, y, &count, 0, &phase), ippStsSizeErr);
    EXPECT_EQ(ippsSampleDown_32f(x, -1, y, &count, 2, &phase), ippStsSizeErr);
    phase = 2;
    EXPECT_EQ(ippsSampleUp_32f(x, 4, y, &count, 2, &phase), ippStsOutOfRangeErr);
    EXPECT_EQ(ippsSampleDown_32f(x, 4, y, &count, 2, &phase), ippStsOutOfRangeErr);
    EXPECT_EQ(ippsSampleDown_32f(x, 4, y, nullptr, 2, &phase), ippStsNullPtrErr);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(y[0], 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Polyphase resampler, set up as the impulse-response resampler uses it: window 256, roll-off
// 0.95, Kaiser alpha 9, accurate.

class Resampler {
public:
    Resampler(int in_rate, int out_rate, IppHintAlgorithm hint = ippAlgHintAccurate)
        : in_rate(in_rate), out_rate(out_rate)
    {
        status =
            ippsResamplePolyphaseFixedGetSize_32f(in_rate, out_rate, 256, &size, &filter_len, &height, hint);
        if (status != ippStsNoErr) return;
        block = ippsMalloc_8u(size);
        status = ippsResamplePolyphaseFixedInit_32f(in_rate, out_rate, 256, 0.95f, 9.0f, spec(), hint);
    }
    ~Resampler() { ippsFree(block); }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    IppsResamplingPolyphaseFixed_32f* spec()
    {
        return reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(block);
    }

    // Runs over exactly the given samples (an exact-size array, so a read outside it is caught
    // by the sanitizer build) into a guarded output of the expected count.
    std::vector<float> run(const std::vector<float>& x, double& time, float norm = 1.0f)
    {
        std::vector<float> src(x);
        const int expected = expected_count(static_cast<int>(x.size()));
        GuardedFloats out(expected);
        int count = -1;
        last_status = ippsResamplePolyphaseFixed_32f(src.data(), static_cast<int>(src.size()), out.data(),
                                                     norm, &time, &count, spec());
        EXPECT_EQ(count, expected);
        EXPECT_TRUE(out.intact());
        return std::vector<float>(out.data(), out.data() + std::max(0, std::min(count, expected)));
    }

    // Positions start + k in/out below start + len.
    int expected_count(int len) const
    {
        const long long g = std::gcd(in_rate, out_rate);
        return static_cast<int>((static_cast<long long>(len) * (out_rate / g) + in_rate / g - 1) /
                                (in_rate / g));
    }

    int in_rate, out_rate;
    int size = 0, filter_len = 0, height = 0;
    IppStatus status = ippStsNoErr;
    IppStatus last_status = ippStsNoErr;
    Ipp8u* block = nullptr;
};

std::vector<float> sine(int count, double cycles_per_sample, int leading_zeros = 0)
{
    std::vector<float> x(static_cast<std::size_t>(count + leading_zeros), 0.0f);
    for (int i = 0; i < count; ++i)
        x[static_cast<std::size_t>(i + leading_zeros)] =
            static_cast<float>(std::sin(2.0 * std::numbers::pi * cycles_per_sample * i));
    return x;
}

TEST(IppsResampler, SizesFollowTheReducedRatio)
{
    Resampler up(44100, 48000);
    ASSERT_EQ(up.status, ippStsNoErr);
    EXPECT_EQ(up.height, 160);     // 48000 / gcd 300
    EXPECT_EQ(up.filter_len, 257); // 256 input samples around each position
    EXPECT_GE(up.size, 160 * 257 * 4);
    Resampler down(96000, 48000);
    ASSERT_EQ(down.status, ippStsNoErr);
    EXPECT_EQ(down.height, 1);
    EXPECT_EQ(down.filter_len, 513); // 256 output samples span 512 input samples
}

TEST(IppsResampler, OutputCountAndTimeFollowTheRatio)
{
    struct Case {
        int in, out, len;
        double start;
        int count;
        double end;
    };
    const Case cases[] = {
        {44100, 48000, 4410, 0.0, 4800, 4410.0},
        {48000, 44100, 4800, 0.0, 4410, 4800.0},
        {96000, 48000, 1000, 0.0, 500, 1000.0},
        {96000, 48000, 1001, 0.0, 501, 1002.0},
        // ceil(1000 x 160 / 147) = 1089 outputs, the next at 128 + 1089 x 147 / 160.
        {44100, 48000, 1000, 128.0, 1089, 128.0 + 1089.0 * 147.0 / 160.0},
        {48000, 48000, 300, 5.0, 300, 305.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in) + " to " + std::to_string(c.out) + ", " + std::to_string(c.len));
        Resampler r(c.in, c.out);
        ASSERT_EQ(r.status, ippStsNoErr);
        double time = c.start;
        const std::vector<float> y = r.run(std::vector<float>(static_cast<std::size_t>(c.len), 0.5f), time);
        EXPECT_EQ(r.last_status, ippStsNoErr);
        EXPECT_EQ(static_cast<int>(y.size()), c.count);
        EXPECT_NEAR(time, c.end, 1e-9);
    }
}

TEST(IppsResampler, ConstantInputComesOutTimesNorm)
{
    for (auto [in, out] : {std::pair{44100, 48000}, {48000, 44100}, {96000, 48000}, {22050, 96000}}) {
        SCOPED_TRACE(std::to_string(in) + " to " + std::to_string(out));
        Resampler r(in, out);
        ASSERT_EQ(r.status, ippStsNoErr);
        double time = 0.0;
        const int len = 3000;
        const std::vector<float> y = r.run(std::vector<float>(len, 1.0f), time, 0.98f);
        // Away from the ends, where the window lies wholly inside the input.
        const double margin = 0.5 * r.filter_len + 1;
        for (std::size_t k = 0; k < y.size(); ++k) {
            const double pos = static_cast<double>(k) * in / out;
            if (pos < margin || pos > len - margin) continue;
            ASSERT_NEAR(y[k], 0.98f, 2e-6) << "output " << k;
        }
    }
}

// Largest error against the analytic sine at input position k·in/out, away from the ends.
double worst_sine_error(const std::vector<float>& y, int in, int out, double cycles_per_input, int len,
                        double norm)
{
    double worst = 0.0;
    for (std::size_t k = 0; k < y.size(); ++k) {
        const double pos = static_cast<double>(k) * in / out;
        if (pos < 300 || pos > len - 300) continue;
        const double expected = norm * std::sin(2.0 * std::numbers::pi * cycles_per_input * pos);
        worst = std::max(worst, std::fabs(y[k] - expected));
    }
    return worst;
}

TEST(IppsResampler, SineComesOutAtTheRightFrequencyAndTime)
{
    // The impulse-response resampler's pattern: 128 zeros in front, start time 128, so output k
    // stands at k·in/out of the unpadded signal.
    struct Case {
        int in, out;
        double hz;
    };
    for (const Case& c : {Case{44100, 48000, 1000.0}, Case{44100, 48000, 15000.0}, Case{48000, 44100, 1000.0},
                          Case{48000, 44100, 18000.0}, Case{96000, 48000, 10000.0}}) {
        SCOPED_TRACE(std::to_string(c.in) + " to " + std::to_string(c.out) + " at " + std::to_string(c.hz));
        Resampler r(c.in, c.out);
        ASSERT_EQ(r.status, ippStsNoErr);
        const int len = c.in / 4;
        double time = 128.0;
        const std::vector<float> y = r.run(sine(len, c.hz / c.in, 128), time, 0.98f);
        const double worst = worst_sine_error(y, c.in, c.out, c.hz / c.in, len, 0.98);
        EXPECT_LT(20.0 * std::log10(worst), -80.0) << "worst error " << worst;
    }
}

TEST(IppsResampler, FractionalStartTimeShiftsTheOutput)
{
    // 44100 to 48000 has 160 phases, so 10.5 is exactly representable.
    Resampler r(44100, 48000);
    ASSERT_EQ(r.status, ippStsNoErr);
    const double f = 2000.0 / 44100.0;
    const int len = 11025;
    double time = 10.5;
    const std::vector<float> y = r.run(sine(len, f), time);
    double worst = 0.0;
    for (std::size_t k = 0; k < y.size(); ++k) {
        const double pos = 10.5 + static_cast<double>(k) * 147.0 / 160.0;
        if (pos < 300 || pos > len - 300) continue;
        worst = std::max(worst, std::fabs(y[k] - std::sin(2.0 * std::numbers::pi * f * pos)));
    }
    EXPECT_LT(20.0 * std::log10(worst), -80.0) << worst;
}

TEST(IppsResampler, DownsamplingRemovesToneAboveTheNewNyquist)
{
    Resampler r(96000, 48000);
    ASSERT_EQ(r.status, ippStsNoErr);
    const int len = 24000;
    for (double hz : {24500.0, 30000.0, 40000.0}) {
        SCOPED_TRACE(hz);
        double time = 0.0;
        const std::vector<float> y = r.run(sine(len, hz / 96000.0), time);
        double energy = 0.0;
        int counted = 0;
        for (std::size_t k = 0; k < y.size(); ++k) {
            const double pos = 2.0 * static_cast<double>(k);
            if (pos < 300 || pos > len - 300) continue;
            energy += static_cast<double>(y[k]) * y[k];
            ++counted;
        }
        const double rms = std::sqrt(energy / counted);
        EXPECT_LT(20.0 * std::log10(rms / std::sqrt(0.5)), -80.0) << "rms " << rms;
    }
}

TEST(IppsResampler, ReadsNothingOutsideTheInputAndSpecIsSelfContained)
{
    Resampler r(48000, 44100);
    ASSERT_EQ(r.status, ippStsNoErr);
    // Samples before 0 and past the end count as zeros: the same impulse inside a long run of
    // real zeros gives the same outputs. (run() passes an exact-size copy of the input.)
    std::vector<float> x(5, 0.0f);
    x[0] = 1.0f;
    double time = -20.0;
    const std::vector<float> y = r.run(x, time);
    ASSERT_EQ(y.size(), 5u);
    std::vector<float> padded(605, 0.0f);
    padded[300] = 1.0f;
    double padded_time = 280.0;
    const std::vector<float> reference = r.run(padded, padded_time);
    for (std::size_t k = 0; k < y.size(); ++k)
        EXPECT_EQ(y[k], reference[k]) << k;
    EXPECT_GT(*std::max_element(y.begin(), y.end()), 1e-4f); // the impulse is within reach

    // A byte copy of the specification works alike (offsets only, no pointers).
    Ipp8u* copy = ippsMalloc_8u(r.size);
    std::memcpy(copy, r.block, static_cast<std::size_t>(r.size));
    std::memset(r.block, 0, static_cast<std::size_t>(r.size));
    std::vector<float> src(x), again(y.size());
    double time2 = -20.0;
    int count = 0;
    ASSERT_EQ(ippsResamplePolyphaseFixed_32f(src.data(), 5, again.data(), 1.0f, &time2, &count,
                                             reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(copy)),
              ippStsNoErr);
    ASSERT_EQ(count, static_cast<int>(y.size()));
    EXPECT_EQ(again, y);
    ippsFree(copy);
    // The cleared original is no longer a specification.
    EXPECT_EQ(ippsResamplePolyphaseFixed_32f(src.data(), 5, again.data(), 1.0f, &time2, &count, r.spec()),
              ippStsContextMatchErr);
}

// The vector sum and the portable sum of the accurate resampler agree to rounding, at the ends
// (partial windows, lengths not a multiple of the vector width) as in the middle.
TEST(IppsResampler, CodePathsAgree)
{
    if (corvella::ipps_best_code_path() == corvella::IppsCodePath::portable)
        GTEST_SKIP() << "this processor has only the portable path";
    std::vector<float> x(2001);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(std::sin(0.37 * static_cast<double>(i)) + 0.25 * std::cos(0.011 * i));
    for (auto [in, out] : {std::pair{96000, 48000}, {44100, 48000}}) {
        SCOPED_TRACE(std::to_string(in) + " to " + std::to_string(out));
        Resampler r(in, out);
        ASSERT_EQ(r.status, ippStsNoErr);
        double vector_time = 0.3, portable_time = 0.3;
        const std::vector<float> vector_result = r.run(x, vector_time);
        ASSERT_TRUE(corvella::ipps_set_code_path(corvella::IppsCodePath::portable));
        const std::vector<float> portable_result = r.run(x, portable_time);
        corvella::ipps_set_code_path(corvella::ipps_best_code_path());
        ASSERT_EQ(vector_result.size(), portable_result.size());
        EXPECT_EQ(vector_time, portable_time);
        for (std::size_t k = 0; k < vector_result.size(); ++k)
            ASSERT_NEAR(vector_result[k], portable_result[k], 1e-6f) << "output " << k;
    }
}

TEST(IppsResampler, RunAllocatesNothing)
{
    Resampler r(44100, 48000);
    ASSERT_EQ(r.status, ippStsNoErr);
    std::vector<float> x(4410, 0.25f), y(4800);
    double time = 0.0;
    int count = 0;
    corvella::test::AllocationCounter counter;
    ippsResamplePolyphaseFixed_32f(x.data(), 4410, y.data(), 1.0f, &time, &count, r.spec());
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(count, 4800);
}

TEST(IppsResampler, RejectsBadArguments)
{
    int size = -1, filter_len = -1, height = -1;
    EXPECT_EQ(ippsResamplePolyphaseFixedGetSize_32f(0, 48000, 256, &size, &filter_len, &height, 2),
              ippStsSizeErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, -1, 256, &size, &filter_len, &height, 2),
              ippStsSizeErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 1, &size, &filter_len, &height, 2),
              ippStsSizeErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 256, nullptr, &filter_len, &height, 2),
              ippStsNullPtrErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 256, &size, &filter_len, &height, 9),
              ippStsBadArgErr);
    EXPECT_EQ(size, -1);

    ASSERT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 256, &size, &filter_len, &height, 2),
              ippStsNoErr);
    Ipp8u* block = ippsMalloc_8u(size);
    auto* spec = reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(block);
    EXPECT_EQ(ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.0f, 9.0f, spec, 2), ippStsBadArgErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.95f, -1.0f, spec, 2), ippStsBadArgErr);
    EXPECT_EQ(ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.95f, 9.0f, nullptr, 2),
              ippStsNullPtrErr);
    ASSERT_EQ(ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.95f, 9.0f, spec, 2), ippStsNoErr);
    float x[4] = {}, y[8] = {};
    double time = 0.0;
    int count = -1;
    EXPECT_EQ(ippsResamplePolyphaseFixed_32f(x, -1, y, 1.0f, &time, &count, spec), ippStsSizeErr);
    EXPECT_EQ(ippsResamplePolyphaseFixed_32f(x, 4, y, 1.0f, nullptr, &count, spec), ippStsNullPtrErr);
    time = std::nan("");
    EXPECT_EQ(ippsResamplePolyphaseFixed_32f(x, 4, y, 1.0f, &time, &count, spec), ippStsOutOfRangeErr);
    EXPECT_EQ(count, -1);
    ippsFree(block);
}

} // namespace
