// Element-wise operations and the complex products, on every code path the processor has.
#include "convolution/ipps.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using corvella::test::Guarded;

float* floats(Guarded<Ipp32fc>& g)
{
    return reinterpret_cast<float*>(g.data());
}

std::vector<float> random_floats(int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> values(static_cast<std::size_t>(std::max(count, 0)));
    for (float& v : values)
        v = dist(engine);
    return values;
}

// ---------------------------------------------------------------------------------------------
// Real element-wise operations

TEST(IppsElementWise, SetFillsExactlyTheRange)
{
    for (int len : {0, 1, 5, 33}) {
        Guarded<float> f(len);
        Guarded<Ipp8u> b(len);
        EXPECT_EQ(ippsSet_32f(-2.5f, f.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsSet_8u(7, b.data(), len), ippStsNoErr);
        for (int i = 0; i < len; ++i) {
            EXPECT_EQ(f[i], -2.5f);
            EXPECT_EQ(b[i], 7);
        }
        EXPECT_TRUE(f.intact()) << len;
        EXPECT_TRUE(b.intact()) << len;
    }
}

TEST(IppsElementWise, CopyAndMove)
{
    const std::vector<float> src = random_floats(37, 1);
    Guarded<float> dst(37);
    EXPECT_EQ(ippsCopy_32f(src.data(), dst.data(), 37), ippStsNoErr);
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(dst[i], src[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(dst.intact());

    // Overlapping moves in both directions, as used to shift a buffer in place.
    std::vector<float> up = src;
    EXPECT_EQ(ippsMove_32f(up.data(), up.data() + 5, 30), ippStsNoErr);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(up[static_cast<std::size_t>(i + 5)], src[static_cast<std::size_t>(i)]);
    std::vector<float> down = src;
    EXPECT_EQ(ippsMove_32f(down.data() + 5, down.data(), 30), ippStsNoErr);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(down[static_cast<std::size_t>(i)], src[static_cast<std::size_t>(i + 5)]);
}

TEST(IppsElementWise, AddAndMultiply)
{
    const int len = 29;
    const std::vector<float> a = random_floats(len, 2);
    const std::vector<float> b = random_floats(len, 3);
    Guarded<float> sum(len), scaled(len), acc(len), gains(len), prod(len);
    std::copy(b.begin(), b.end(), acc.data());
    std::copy(b.begin(), b.end(), gains.data());
    std::copy(b.begin(), b.end(), prod.data());
    EXPECT_EQ(ippsAdd_32f(a.data(), b.data(), sum.data(), len), ippStsNoErr);
    EXPECT_EQ(ippsAdd_32f_I(a.data(), acc.data(), len), ippStsNoErr);
    EXPECT_EQ(ippsMulC_32f(a.data(), 0.75f, scaled.data(), len), ippStsNoErr);
    EXPECT_EQ(ippsMulC_32f_I(-3.0f, gains.data(), len), ippStsNoErr);
    EXPECT_EQ(ippsMul_32f_I(a.data(), prod.data(), len), ippStsNoErr);
    for (int i = 0; i < len; ++i) {
        const auto k = static_cast<std::size_t>(i);
        EXPECT_EQ(sum[i], a[k] + b[k]);
        EXPECT_EQ(acc[i], a[k] + b[k]);
        EXPECT_EQ(scaled[i], a[k] * 0.75f);
        EXPECT_EQ(gains[i], b[k] * -3.0f);
        EXPECT_EQ(prod[i], a[k] * b[k]);
    }
    for (auto* g : {&sum, &scaled, &acc, &gains, &prod})
        EXPECT_TRUE(g->intact());
}

TEST(IppsElementWise, FlipReversesOddAndEvenLengths)
{
    for (int len : {0, 1, 2, 7, 8}) {
        Guarded<float> buf(len);
        for (int i = 0; i < len; ++i)
            buf[i] = static_cast<float>(i);
        EXPECT_EQ(ippsFlip_32f_I(buf.data(), len), ippStsNoErr);
        for (int i = 0; i < len; ++i)
            EXPECT_EQ(buf[i], static_cast<float>(len - 1 - i));
        EXPECT_TRUE(buf.intact());
    }
}

TEST(IppsElementWise, MinMax)
{
    const float values[] = {0.5f, -3.0f, 2.0f, 7.25f, -1.0f};
    float lo = 0, hi = 0;
    EXPECT_EQ(ippsMinMax_32f(values, 5, &lo, &hi), ippStsNoErr);
    EXPECT_EQ(lo, -3.0f);
    EXPECT_EQ(hi, 7.25f);
    EXPECT_EQ(ippsMinMax_32f(values, 1, &lo, &hi), ippStsNoErr);
    EXPECT_EQ(lo, 0.5f);
    EXPECT_EQ(hi, 0.5f);
    lo = hi = 9.0f;
    EXPECT_EQ(ippsMinMax_32f(values, 0, &lo, &hi), ippStsSizeErr);
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 0.0f);
}

TEST(IppsElementWise, RejectNullPointersAndNegativeLengths)
{
    float buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(ippsSet_32f(0.0f, nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsCopy_32f(buf, nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMove_32f(nullptr, buf, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsAdd_32f(buf, nullptr, buf, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulC_32f_I(2.0f, nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMinMax_32f(buf, 4, nullptr, buf), ippStsNullPtrErr);
    EXPECT_EQ(ippsSet_32f(0.0f, buf, -1), ippStsSizeErr);
    EXPECT_EQ(ippsMulC_32f_I(2.0f, buf, -1), ippStsSizeErr);
    EXPECT_EQ(ippsFlip_32f_I(buf, -3), ippStsSizeErr);
    EXPECT_EQ(buf[0], 1.0f);
    EXPECT_EQ(buf[3], 4.0f);
    EXPECT_EQ(ippsMul_32fc(nullptr, nullptr, nullptr, 1), ippStsNullPtrErr);
    Ipp32fc c[1] = {{1, 1}};
    EXPECT_EQ(ippsAddProduct_32fc(c, c, c, -1), ippStsSizeErr);
}

// ---------------------------------------------------------------------------------------------
// Complex products, on each available code path

std::vector<corvella::IppsCodePath> available_paths()
{
    std::vector<corvella::IppsCodePath> paths;
    for (auto p :
         {corvella::IppsCodePath::portable, corvella::IppsCodePath::sse2, corvella::IppsCodePath::avx2_fma})
        if (static_cast<int>(p) <= static_cast<int>(corvella::ipps_best_code_path())) paths.push_back(p);
    return paths;
}

class IppsComplexProduct : public testing::TestWithParam<corvella::IppsCodePath> {
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

const int product_lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 15, 16, 17, 33, 1000, 1001, 32770};

// Rounding bound of one complex product (and one more addition) in single precision.
double product_tolerance(std::complex<double> a, std::complex<double> b, std::complex<double> acc)
{
    return 4e-7 * (std::abs(a) * std::abs(b) + std::abs(acc)) + 1e-30;
}

TEST_P(IppsComplexProduct, MultiplyMatchesDoubleReference)
{
    for (int len : product_lengths) {
        for (int misalign : {0, 8, 4}) {
            SCOPED_TRACE("len " + std::to_string(len) + " misalign " + std::to_string(misalign));
            const std::vector<float> av = random_floats(2 * len, 10u + static_cast<unsigned>(len));
            const std::vector<float> bv = random_floats(2 * len, 20u + static_cast<unsigned>(len));
            Guarded<Ipp32fc> a(len, misalign), b(len, misalign), dst(len, misalign);
            std::copy(av.begin(), av.end(), floats(a));
            std::copy(bv.begin(), bv.end(), floats(b));
            ASSERT_EQ(ippsMul_32fc(a.data(), b.data(), dst.data(), len), ippStsNoErr);
            for (int k = 0; k < len; ++k) {
                const std::complex<double> x(a[k].re, a[k].im), y(b[k].re, b[k].im);
                const std::complex<double> ref = x * y;
                const double tol = product_tolerance(x, y, 0.0);
                ASSERT_NEAR(dst[k].re, ref.real(), tol) << "k " << k;
                ASSERT_NEAR(dst[k].im, ref.imag(), tol) << "k " << k;
            }
            EXPECT_TRUE(dst.intact());
            EXPECT_TRUE(a.intact() && b.intact());
            EXPECT_TRUE(std::equal(av.begin(), av.end(), floats(a))); // sources unchanged
        }
    }
}

TEST_P(IppsComplexProduct, MultiplyAddMatchesDoubleReference)
{
    for (int len : product_lengths) {
        for (int misalign : {0, 8}) {
            SCOPED_TRACE("len " + std::to_string(len) + " misalign " + std::to_string(misalign));
            const std::vector<float> av = random_floats(2 * len, 30u + static_cast<unsigned>(len));
            const std::vector<float> bv = random_floats(2 * len, 40u + static_cast<unsigned>(len));
            const std::vector<float> cv = random_floats(2 * len, 50u + static_cast<unsigned>(len));
            Guarded<Ipp32fc> a(len, misalign), b(len, misalign), acc(len, misalign);
            std::copy(av.begin(), av.end(), floats(a));
            std::copy(bv.begin(), bv.end(), floats(b));
            std::copy(cv.begin(), cv.end(), floats(acc));
            ASSERT_EQ(ippsAddProduct_32fc(a.data(), b.data(), acc.data(), len), ippStsNoErr);
            for (int k = 0; k < len; ++k) {
                const auto i = static_cast<std::size_t>(2 * k);
                const std::complex<double> x(av[i], av[i + 1]), y(bv[i], bv[i + 1]), c(cv[i], cv[i + 1]);
                const std::complex<double> ref = c + x * y;
                const double tol = product_tolerance(x, y, c);
                ASSERT_NEAR(acc[k].re, ref.real(), tol) << "k " << k;
                ASSERT_NEAR(acc[k].im, ref.imag(), tol) << "k " << k;
            }
            EXPECT_TRUE(acc.intact());
        }
    }
}

// The convolver's one-pass delay line gives the bits of a multiply followed by multiply-adds, at
// every length (vector bodies and tails) and number of products.
TEST_P(IppsComplexProduct, SumOfProductsEqualsMultiplyThenMultiplyAdds)
{
    for (int len : product_lengths) {
        for (int count : {1, 2, 6}) {
            SCOPED_TRACE(testing::Message() << "len " << len << " count " << count);
            std::vector<std::vector<float>> a, b;
            std::vector<float const*> a_list, b_list;
            for (int j = 0; j < count; ++j) {
                a.push_back(random_floats(2 * len + 2, 10 + static_cast<unsigned>(j)));
                b.push_back(random_floats(2 * len + 2, 20 + static_cast<unsigned>(j)));
            }
            for (int j = 0; j < count; ++j) {
                a_list.push_back(a[static_cast<std::size_t>(j)].data());
                b_list.push_back(b[static_cast<std::size_t>(j)].data());
            }
            Guarded<float> fused(2 * len + 2), stepwise(2 * len + 2);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b_list.data(), count, fused.data(), len);
            ippsMul_32fc(reinterpret_cast<Ipp32fc const*>(a_list[0]),
                         reinterpret_cast<Ipp32fc const*>(b_list[0]),
                         reinterpret_cast<Ipp32fc*>(stepwise.data()), len);
            for (int j = 1; j < count; ++j)
                ippsAddProduct_32fc(reinterpret_cast<Ipp32fc const*>(a_list[static_cast<std::size_t>(j)]),
                                    reinterpret_cast<Ipp32fc const*>(b_list[static_cast<std::size_t>(j)]),
                                    reinterpret_cast<Ipp32fc*>(stepwise.data()), len);
            EXPECT_EQ(
                std::memcmp(fused.data(), stepwise.data(), sizeof(float) * 2 * static_cast<std::size_t>(len)),
                0);
            EXPECT_TRUE(fused.intact() && stepwise.intact());
        }
    }
}

TEST_P(IppsComplexProduct, RepeatedMultiplyAddAccumulates)
{
    // The convolver's pattern: acc = a0 b0, then acc += aj bj for the other partitions.
    const int len = 259;
    const int terms = 6;
    std::vector<std::vector<float>> as, bs;
    for (int j = 0; j < terms; ++j) {
        as.push_back(random_floats(2 * len, 60u + static_cast<unsigned>(j)));
        bs.push_back(random_floats(2 * len, 70u + static_cast<unsigned>(j)));
    }
    std::vector<float> acc(2 * len);
    auto c = [](std::vector<float>& v) { return reinterpret_cast<Ipp32fc*>(v.data()); };
    ASSERT_EQ(ippsMul_32fc(c(as[0]), c(bs[0]), c(acc), len), ippStsNoErr);
    for (int j = 1; j < terms; ++j)
        ASSERT_EQ(ippsAddProduct_32fc(c(as[static_cast<std::size_t>(j)]), c(bs[static_cast<std::size_t>(j)]),
                                      c(acc), len),
                  ippStsNoErr);
    for (int k = 0; k < len; ++k) {
        std::complex<double> ref = 0.0;
        for (int j = 0; j < terms; ++j) {
            const auto& a = as[static_cast<std::size_t>(j)];
            const auto& b = bs[static_cast<std::size_t>(j)];
            ref +=
                std::complex<double>(a[2 * k], a[2 * k + 1]) * std::complex<double>(b[2 * k], b[2 * k + 1]);
        }
        ASSERT_NEAR(acc[2 * k], ref.real(), 1e-5) << k;
        ASSERT_NEAR(acc[2 * k + 1], ref.imag(), 1e-5) << k;
    }
}

TEST_P(IppsComplexProduct, SpareTrailingValueOfSpectrumBuffersStaysZero)
{
    // Spectrum buffers of an n-point transform hold n + 4 floats: the n + 2 of the packed spectrum
    // and one spare complex value that stays zero; products run over (n + 4) / 2 values.
    for (int n : {2, 8, 256, 4096}) {
        const int values = (n + 4) / 2;
        std::vector<float> a = random_floats(n + 4, 80u + static_cast<unsigned>(n));
        std::vector<float> b = random_floats(n + 4, 90u + static_cast<unsigned>(n));
        for (auto* v : {&a, &b}) {
            (*v)[static_cast<std::size_t>(n + 2)] = 0.0f;
            (*v)[static_cast<std::size_t>(n + 3)] = 0.0f;
        }
        std::vector<float> product(static_cast<std::size_t>(n + 4), 1.0f);
        std::vector<float> acc(static_cast<std::size_t>(n + 4), 0.0f);
        auto c = [](std::vector<float>& v) { return reinterpret_cast<Ipp32fc*>(v.data()); };
        ASSERT_EQ(ippsMul_32fc(c(a), c(b), c(product), values), ippStsNoErr);
        ASSERT_EQ(ippsAddProduct_32fc(c(a), c(b), c(acc), values), ippStsNoErr);
        EXPECT_EQ(product[static_cast<std::size_t>(n + 2)], 0.0f) << n;
        EXPECT_EQ(product[static_cast<std::size_t>(n + 3)], 0.0f) << n;
        EXPECT_EQ(acc[static_cast<std::size_t>(n + 2)], 0.0f) << n;
        EXPECT_EQ(acc[static_cast<std::size_t>(n + 3)], 0.0f) << n;
    }
}

std::string path_name(const testing::TestParamInfo<corvella::IppsCodePath>& info)
{
    return corvella::ipps_code_path_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(CodePaths, IppsComplexProduct, testing::ValuesIn(available_paths()), path_name);

} // namespace
