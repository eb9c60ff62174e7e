// Integer up/down sampling and the fixed-ratio polyphase resampler.
#include "convolution/ipps.h"
#include "support/allocation_counter.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <utility>
#include <vector>

namespace {

using corvella::test::GuardedFloats;
constexpr double pi = std::numbers::pi;

// Up: zeros after each sample at the phase. Down: samples start, start + factor, ..., the phase
// carrying one stream across blocks of any length (the loader splits interleaved channels with
// factor 2 and phases 0 and 1).
TEST(IppsSampleUpDown, PhasesAndBlocks)
{
    const float x[5] = {1, 2, 3, 4, 5};
    const float up_expected[2][15] = {{1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0},
                                      {0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0}};
    for (int start : {0, 1}) {
        GuardedFloats y(15);
        int count = -1, phase = start;
        ASSERT_EQ(ippsSampleUp_32f(x, 5, y.data(), &count, 3, &phase), ippStsNoErr);
        EXPECT_EQ(count, 15);
        EXPECT_EQ(phase, start); // every input fills a whole group
        EXPECT_TRUE(std::equal(up_expected[start], up_expected[start] + 15, y.data()) && y.intact());
    }
    std::vector<float> ramp(50);
    std::iota(ramp.begin(), ramp.end(), 1.0f);
    for (int factor : {2, 3, 7}) {
        for (int start : {0, 1}) {
            std::vector<float> kept;
            int phase = start, done = 0;
            for (int block : {1, 4, 5, 13, 2, 25}) {
                std::vector<float> out(25);
                int count = 0;
                ASSERT_EQ(ippsSampleDown_32f(ramp.data() + done, block, out.data(), &count, factor, &phase),
                          ippStsNoErr);
                kept.insert(kept.end(), out.begin(), out.begin() + count);
                done += block;
            }
            std::vector<float> expected;
            for (int i = start; i < 50; i += factor)
                expected.push_back(static_cast<float>(i + 1));
            EXPECT_EQ(kept, expected) << factor << ", " << start;
        }
    }
}

// Set up as the impulse-response resampler uses it: window 256, roll-off 0.95, Kaiser alpha 9,
// accurate.
struct Resampler {
    Resampler(int in_rate, int out_rate) : in_rate(in_rate), out_rate(out_rate)
    {
        int height = 0;
        status = ippsResamplePolyphaseFixedGetSize_32f(in_rate, out_rate, 256, &size, &filter_len, &height,
                                                       ippAlgHintAccurate);
        if (status != ippStsNoErr) return;
        block = ippsMalloc_8u(size);
        status = ippsResamplePolyphaseFixedInit_32f(in_rate, out_rate, 256, 0.95f, 9.0f, spec(),
                                                    ippAlgHintAccurate);
    }
    ~Resampler() { ippsFree(block); }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    IppsResamplingPolyphaseFixed_32f* spec()
    {
        return reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(block);
    }

    // Runs over exactly x (a read outside it fails the sanitizer build) into a guarded output of
    // the expected count: positions start + k in/out below start + len.
    std::vector<float> run(const std::vector<float>& x, double& time, float norm = 1.0f)
    {
        const long long g = std::gcd(in_rate, out_rate);
        const int expected = static_cast<int>(
            (static_cast<long long>(x.size()) * (out_rate / g) + in_rate / g - 1) / (in_rate / g));
        GuardedFloats out(expected);
        int count = -1;
        EXPECT_EQ(ippsResamplePolyphaseFixed_32f(x.data(), static_cast<int>(x.size()), out.data(), norm,
                                                 &time, &count, spec()),
                  ippStsNoErr);
        EXPECT_EQ(count, expected);
        EXPECT_TRUE(out.intact());
        return std::vector<float>(out.data(), out.data() + std::clamp(count, 0, expected));
    }

    int in_rate, out_rate, size = 0, filter_len = 0;
    IppStatus status = ippStsNoErr;
    Ipp8u* block = nullptr;
};

std::vector<float> sine(int count, double cycles_per_sample, int leading_zeros = 0)
{
    std::vector<float> x(count + leading_zeros, 0.0f);
    for (int i = 0; i < count; ++i)
        x[i + leading_zeros] = static_cast<float>(std::sin(2.0 * pi * cycles_per_sample * i));
    return x;
}

// Count and next time follow the ratio; a constant comes out times norm wherever the window lies
// wholly inside the input.
TEST(IppsResampler, OutputCountTimeAndGain)
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
        {22050, 96000, 3000, 0.0, 13062, 13062.0 * 147.0 / 640.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in << " to " << c.out << ", " << c.len);
        Resampler r(c.in, c.out);
        ASSERT_EQ(r.status, ippStsNoErr);
        double time = c.start;
        const std::vector<float> y = r.run(std::vector<float>(c.len, 0.5f), time, 0.98f);
        EXPECT_EQ(static_cast<int>(y.size()), c.count);
        EXPECT_NEAR(time, c.end, 1e-9);
        const double margin = 0.5 * r.filter_len + 1;
        for (std::size_t k = 0; k < y.size(); ++k) {
            const double pos = c.start + double(k) * c.in / c.out;
            if (pos < margin || pos > c.len - margin) continue;
            ASSERT_NEAR(y[k], 0.49f, 1e-6) << "output " << k;
        }
    }
}

// Output k against the analytic sine at input position start + k in/out, away from the ends. The
// impulse-response resampler's pattern puts 128 zeros in front and starts at time 128; a
// fractional start (10.5 is a whole phase of 44100 to 48000) shifts the output. Tones above the
// new Nyquist frequency are removed.
TEST(IppsResampler, SineComesOutAtTheRightFrequencyAndTimeAndAliasesAreRemoved)
{
    struct Case {
        int in, out;
        double hz, start;
        int zeros;
    };
    for (const Case& c : {Case{44100, 48000, 1000.0, 128.0, 128}, Case{44100, 48000, 15000.0, 128.0, 128},
                          Case{48000, 44100, 1000.0, 128.0, 128}, Case{48000, 44100, 18000.0, 128.0, 128},
                          Case{96000, 48000, 10000.0, 128.0, 128}, Case{44100, 48000, 2000.0, 10.5, 0}}) {
        SCOPED_TRACE(testing::Message() << c.in << " to " << c.out << " at " << c.hz << " from " << c.start);
        Resampler r(c.in, c.out);
        ASSERT_EQ(r.status, ippStsNoErr);
        const int len = c.in / 4;
        double time = c.start, worst = 0.0;
        const std::vector<float> y = r.run(sine(len, c.hz / c.in, c.zeros), time, 0.98f);
        for (std::size_t k = 0; k < y.size(); ++k) {
            const double pos = c.start - c.zeros + double(k) * c.in / c.out;
            if (pos >= 300 && pos <= len - 300)
                worst = std::max(worst, std::fabs(y[k] - 0.98 * std::sin(2.0 * pi * c.hz / c.in * pos)));
        }
        EXPECT_LT(20.0 * std::log10(worst), -80.0) << "worst error " << worst;
    }
    Resampler r(96000, 48000);
    ASSERT_EQ(r.status, ippStsNoErr);
    for (double hz : {24500.0, 30000.0, 40000.0}) {
        double time = 0.0, energy = 0.0;
        int counted = 0;
        const std::vector<float> y = r.run(sine(24000, hz / 96000.0), time);
        for (int k = 150; 2 * k <= 24000 - 300; ++k, ++counted)
            energy += double(y[k]) * y[k];
        EXPECT_LT(20.0 * std::log10(std::sqrt(energy / counted) / std::sqrt(0.5)), -80.0) << hz;
    }
}

// The vector and portable sums agree to rounding, at the ends (partial windows) as in the middle;
// running allocates nothing.
TEST(IppsResampler, CodePathsAgreeAndRunAllocatesNothing)
{
    std::vector<float> x(2001);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(std::sin(0.37 * double(i)) + 0.25 * std::cos(0.011 * double(i)));
    for (auto [in, out] : {std::pair{96000, 48000}, {44100, 48000}}) {
        SCOPED_TRACE(testing::Message() << in << " to " << out);
        Resampler r(in, out);
        ASSERT_EQ(r.status, ippStsNoErr);
        std::vector<float> y(2 * x.size());
        double time = 0.3, vector_time = 0.3, portable_time = 0.3;
        int count = 0;
        {
            corvella::test::AllocationCounter counter;
            ippsResamplePolyphaseFixed_32f(x.data(), 2001, y.data(), 1.0f, &time, &count, r.spec());
            EXPECT_EQ(counter.count(), 0);
        }
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

} // namespace
