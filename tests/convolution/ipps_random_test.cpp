// Gaussian pseudo-random numbers: statistics, seed handling and continuation.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

std::vector<float> gauss(int count, float mean, float std_dev, unsigned int& seed)
{
    std::vector<float> v(static_cast<std::size_t>(count) + 1); // never a null data pointer
    EXPECT_EQ(ippsRandGauss_Direct_32f(v.data(), count, mean, std_dev, &seed), ippStsNoErr);
    v.pop_back();
    return v;
}

// Moments and the one-sigma share within five standard errors each; neighbouring seeds (the noise
// generators use c + seed for channel c) uncorrelated.
TEST(IppsRandGauss, HasTheRequestedMeanDeviationAndNormalShape)
{
    const int n = 400000;
    for (auto [mean, std_dev] : {std::pair{0.0f, 0.1f}, std::pair{0.5f, 2.0f}}) {
        SCOPED_TRACE(mean);
        unsigned int seed = 12345;
        const std::vector<float> v = gauss(n, mean, std_dev, seed);
        double m1 = 0, m2 = 0, m3 = 0, m4 = 0, within_one = 0;
        for (float x : v)
            m1 += x / double(n);
        for (float x : v) {
            const double d = x - m1;
            m2 += d * d / n;
            m3 += d * d * d / n;
            m4 += d * d * d * d / n;
            within_one += std::fabs(d) < std_dev ? 1.0 / n : 0.0;
        }
        EXPECT_NEAR(m1, mean, 5.0 * std_dev / std::sqrt(double(n)));
        EXPECT_NEAR(std::sqrt(m2), std_dev, 5.0 * std_dev / std::sqrt(2.0 * n));
        EXPECT_NEAR(m3 / std::pow(m2, 1.5), 0.0, 5.0 * std::sqrt(6.0 / n));
        EXPECT_NEAR(m4 / (m2 * m2), 3.0, 5.0 * std::sqrt(24.0 / n));
        EXPECT_NEAR(within_one, 0.682689, 5.0 * std::sqrt(0.6827 * 0.3173 / n));
    }
    const int m = 100000;
    unsigned int s0 = 1, s1 = 2;
    const std::vector<float> a = gauss(m, 0.0f, 1.0f, s0), b = gauss(m, 0.0f, 1.0f, s1);
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < m; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    EXPECT_LT(std::fabs(ab / std::sqrt(aa * bb)), 5.0 / std::sqrt(double(m)));
}

TEST(IppsRandGauss, SameSeedSameSequenceAndCallsContinueIt)
{
    unsigned int whole_seed = 99, seed = 99;
    const std::vector<float> whole = gauss(2001, 0.0f, 0.1f, whole_seed);
    EXPECT_NE(whole_seed, 99u);
    std::vector<float> pieces;
    for (int count : {1, 1000, 0, 3, 997}) {
        const std::vector<float> piece = gauss(count, 0.0f, 0.1f, seed);
        pieces.insert(pieces.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(seed, whole_seed);

    // Exactly the requested count is written.
    std::vector<float> guarded(1002, 42.0f);
    seed = 99;
    ASSERT_EQ(ippsRandGauss_Direct_32f(guarded.data() + 1, 1000, 0.0f, 0.1f, &seed), ippStsNoErr);
    EXPECT_TRUE(guarded.front() == 42.0f && guarded.back() == 42.0f);
    EXPECT_TRUE(std::equal(guarded.begin() + 1, guarded.end() - 1, whole.begin()));

    float out[4] = {1, 2, 3, 4};
    EXPECT_EQ(ippsRandGauss_Direct_32f(out, 4, 0.25f, 0.0f, &seed), ippStsNoErr); // zero deviation: the mean
    EXPECT_EQ(std::vector<float>(out, out + 4), std::vector<float>(4, 0.25f));
}

} // namespace
