// Gaussian pseudo-random numbers: statistics, seed handling and continuation.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

struct Moments {
    double mean = 0, std_dev = 0, skew = 0, kurtosis = 0, within_one = 0;
};

Moments moments(const std::vector<float>& v)
{
    const double n = static_cast<double>(v.size());
    Moments m;
    for (float x : v)
        m.mean += x;
    m.mean /= n;
    double m2 = 0, m3 = 0, m4 = 0;
    for (float x : v) {
        const double d = x - m.mean;
        m2 += d * d;
        m3 += d * d * d;
        m4 += d * d * d * d;
    }
    m2 /= n;
    m3 /= n;
    m4 /= n;
    m.std_dev = std::sqrt(m2);
    m.skew = m3 / (m2 * m.std_dev);
    m.kurtosis = m4 / (m2 * m2);
    for (float x : v)
        if (std::fabs(x - m.mean) < m.std_dev) m.within_one += 1.0;
    m.within_one /= n;
    return m;
}

TEST(IppsRandGauss, HasTheRequestedMeanAndDeviationAndANormalShape)
{
    const int n = 400000;
    for (auto [mean, std_dev] : {std::pair{0.0f, 0.1f}, std::pair{0.5f, 2.0f}}) {
        SCOPED_TRACE(mean);
        unsigned int seed = 12345;
        const Moments m = moments(gauss(n, mean, std_dev, seed));
        // Five standard errors.
        EXPECT_NEAR(m.mean, mean, 5.0 * std_dev / std::sqrt(double(n)));
        EXPECT_NEAR(m.std_dev, std_dev, 5.0 * std_dev / std::sqrt(2.0 * n));
        EXPECT_NEAR(m.skew, 0.0, 5.0 * std::sqrt(6.0 / n));
        EXPECT_NEAR(m.kurtosis, 3.0, 5.0 * std::sqrt(24.0 / n));
        EXPECT_NEAR(m.within_one, 0.682689, 5.0 * std::sqrt(0.6827 * 0.3173 / n));
    }
}

TEST(IppsRandGauss, SameSeedSameSequenceAndTheSeedAdvances)
{
    unsigned int a = 7, b = 7;
    const std::vector<float> first = gauss(1000, 0.0f, 0.1f, a);
    const std::vector<float> second = gauss(1000, 0.0f, 0.1f, b);
    EXPECT_EQ(first, second);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, 7u);
    // The advanced seed continues with new values.
    const std::vector<float> third = gauss(1000, 0.0f, 0.1f, a);
    EXPECT_NE(third, first);

    // Exactly the requested count is written.
    std::vector<float> guarded(1002, 42.0f);
    unsigned int c = 7;
    ASSERT_EQ(ippsRandGauss_Direct_32f(guarded.data() + 1, 1000, 0.0f, 0.1f, &c), ippStsNoErr);
    EXPECT_EQ(guarded.front(), 42.0f);
    EXPECT_EQ(guarded.back(), 42.0f);
    EXPECT_EQ(std::vector<float>(guarded.begin() + 1, guarded.end() - 1), first);
}

TEST(IppsRandGauss, ConsecutiveCallsContinueOneSequence)
{
    unsigned int whole_seed = 99;
    const std::vector<float> whole = gauss(2001, 0.0f, 0.1f, whole_seed);
    unsigned int seed = 99;
    std::vector<float> pieces;
    for (int count : {1, 1000, 0, 3, 997}) {
        const std::vector<float> piece = gauss(count, 0.0f, 0.1f, seed);
        pieces.insert(pieces.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(seed, whole_seed);
}

TEST(IppsRandGauss, NeighbouringSeedsAreUncorrelated)
{
    // The noise generators use seeds c + seed for channel c.
    const int n = 100000;
    unsigned int s0 = 1, s1 = 2;
    const std::vector<float> a = gauss(n, 0.0f, 1.0f, s0);
    const std::vector<float> b = gauss(n, 0.0f, 1.0f, s1);
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < n; ++i) {
        ab += double(a[std::size_t(i)]) * b[std::size_t(i)];
        aa += double(a[std::size_t(i)]) * a[std::size_t(i)];
        bb += double(b[std::size_t(i)]) * b[std::size_t(i)];
    }
    EXPECT_LT(std::fabs(ab / std::sqrt(aa * bb)), 5.0 / std::sqrt(double(n)));
}

TEST(IppsRandGauss, RejectsBadArgumentsWithoutTouchingTheOutput)
{
    float out[4] = {1, 2, 3, 4};
    unsigned int seed = 5;
    EXPECT_EQ(ippsRandGauss_Direct_32f(out, 4, 0.0f, -0.1f, &seed), ippStsBadArgErr);
    EXPECT_EQ(ippsRandGauss_Direct_32f(out, -1, 0.0f, 0.1f, &seed), ippStsSizeErr);
    EXPECT_EQ(ippsRandGauss_Direct_32f(out, 4, 0.0f, 0.1f, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsRandGauss_Direct_32f(nullptr, 4, 0.0f, 0.1f, &seed), ippStsNullPtrErr);
    EXPECT_EQ(seed, 5u);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[3], 4.0f);
    // Zero deviation gives the mean itself.
    EXPECT_EQ(ippsRandGauss_Direct_32f(out, 4, 0.25f, 0.0f, &seed), ippStsNoErr);
    for (float v : out)
        EXPECT_EQ(v, 0.25f);
}

} // namespace
