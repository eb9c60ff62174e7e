// Element-wise operations and the complex products, on every code path the processor has.
#include "convolution/ipps.h"
#include "ipps_test_support.h"
#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstring>
#include <vector>

namespace {

using corvella::test::Guarded;
using corvella::test::random_floats;

TEST(IppsElementWise, MatchScalarArithmeticAndWriteOnlyTheirRange)
{
    for (int len : {0, 1, 5, 29}) {
        SCOPED_TRACE(len);
        const std::vector<float> a = random_floats(len + 1, 2), b = random_floats(len + 1, 3); // never null
        Guarded<float> set(len), sum(len), scaled(len), acc(len), gains(len), prod(len), copy(len), flip(len);
        Guarded<Ipp8u> bytes(len);
        for (auto* g : {&acc, &gains, &prod, &flip})
            std::copy_n(b.begin(), len, g->data());
        EXPECT_EQ(ippsSet_32f(-2.5f, set.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsSet_8u(7, bytes.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsCopy_32f(a.data(), copy.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsAdd_32f(a.data(), b.data(), sum.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsAdd_32f_I(a.data(), acc.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsMulC_32f(a.data(), 0.75f, scaled.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsMulC_32f_I(-3.0f, gains.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsMul_32f_I(a.data(), prod.data(), len), ippStsNoErr);
        EXPECT_EQ(ippsFlip_32f_I(flip.data(), len), ippStsNoErr);
        for (int i = 0; i < len; ++i) {
            EXPECT_EQ(set[i], -2.5f);
            EXPECT_EQ(bytes[i], 7);
            EXPECT_EQ(copy[i], a[i]);
            EXPECT_EQ(sum[i], a[i] + b[i]);
            EXPECT_EQ(acc[i], a[i] + b[i]);
            EXPECT_EQ(scaled[i], a[i] * 0.75f);
            EXPECT_EQ(gains[i], b[i] * -3.0f);
            EXPECT_EQ(prod[i], a[i] * b[i]);
            EXPECT_EQ(flip[i], b[len - 1 - i]);
        }
        for (auto* g : {&set, &sum, &scaled, &acc, &gains, &prod, &copy, &flip})
            EXPECT_TRUE(g->intact());
        EXPECT_TRUE(bytes.intact());
    }
}

TEST(IppsElementWise, MoveHandlesOverlapInBothDirectionsAndMinMax)
{
    const std::vector<float> src = random_floats(37, 1);
    std::vector<float> up = src, down = src;
    EXPECT_EQ(ippsMove_32f(up.data(), up.data() + 5, 30), ippStsNoErr);
    EXPECT_EQ(ippsMove_32f(down.data() + 5, down.data(), 30), ippStsNoErr);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(up[i + 5], src[i]);
        EXPECT_EQ(down[i], src[i + 5]);
    }

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

// ---- Complex products, on each available code path ----

class IppsComplexProduct : public corvella::test::CodePathTest {};

const int product_lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 15, 16, 17, 33, 1000, 1001, 32770};

Ipp32fc* complex(Guarded<Ipp32fc>& g, std::vector<float> const& values)
{
    std::copy(values.begin(), values.end(), reinterpret_cast<float*>(g.data()));
    return g.data();
}

// Multiply, then multiply-add onto it, against c + a b in double precision; every length (vector
// bodies and tails) at aligned and misaligned addresses.
TEST_P(IppsComplexProduct, MultiplyAndMultiplyAddMatchDoubleReference)
{
    for (int len : product_lengths) {
        for (int misalign : {0, 8, 4}) {
            SCOPED_TRACE(testing::Message() << "len " << len << " misalign " << misalign);
            const std::vector<float> av = random_floats(2 * len, 10u + len),
                                     bv = random_floats(2 * len, 20u + len),
                                     cv = random_floats(2 * len, 30u + len);
            Guarded<Ipp32fc> a(len, misalign), b(len, misalign), product(len, misalign), acc(len, misalign);
            ASSERT_EQ(ippsMul_32fc(complex(a, av), complex(b, bv), product.data(), len), ippStsNoErr);
            ASSERT_EQ(ippsAddProduct_32fc(a.data(), b.data(), complex(acc, cv), len), ippStsNoErr);
            for (int k = 0; k < len; ++k) {
                const std::complex<double> x(av[2 * k], av[2 * k + 1]), y(bv[2 * k], bv[2 * k + 1]),
                    c(cv[2 * k], cv[2 * k + 1]);
                // The rounding bound of one complex product and one addition in single precision.
                const double tol = 4e-7 * (std::abs(x) * std::abs(y) + std::abs(c)) + 1e-30;
                ASSERT_NEAR(product[k].re, (x * y).real(), tol) << "k " << k;
                ASSERT_NEAR(product[k].im, (x * y).imag(), tol) << "k " << k;
                ASSERT_NEAR(acc[k].re, (c + x * y).real(), tol) << "k " << k;
                ASSERT_NEAR(acc[k].im, (c + x * y).imag(), tol) << "k " << k;
            }
            EXPECT_TRUE(a.intact() && b.intact() && product.intact() && acc.intact());
            EXPECT_TRUE(std::equal(av.begin(), av.end(), reinterpret_cast<float*>(a.data()))); // unchanged
        }
    }
}

// The convolver's one-pass delay line gives the bits of a multiply followed by multiply-adds.
TEST_P(IppsComplexProduct, SumOfProductsEqualsMultiplyThenMultiplyAdds)
{
    for (int len : product_lengths) {
        for (int count : {1, 2, 6}) {
            SCOPED_TRACE(testing::Message() << "len " << len << " count " << count);
            std::vector<std::vector<float>> a, b;
            std::vector<float const*> a_list, b_list;
            for (int j = 0; j < count; ++j) {
                a.push_back(random_floats(2 * len + 2, 10u + j));
                b.push_back(random_floats(2 * len + 2, 20u + j));
            }
            for (int j = 0; j < count; ++j) {
                a_list.push_back(a[j].data());
                b_list.push_back(b[j].data());
            }
            Guarded<float> fused(2 * len + 2), stepwise(2 * len + 2);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b_list.data(), count, fused.data(), len);
            auto c = [](float const* f) { return reinterpret_cast<Ipp32fc const*>(f); };
            auto* out = reinterpret_cast<Ipp32fc*>(stepwise.data());
            ippsMul_32fc(c(a_list[0]), c(b_list[0]), out, len);
            for (int j = 1; j < count; ++j)
                ippsAddProduct_32fc(c(a_list[j]), c(b_list[j]), out, len);
            EXPECT_EQ(std::memcmp(fused.data(), stepwise.data(), sizeof(float) * 2 * len), 0);
            EXPECT_TRUE(fused.intact() && stepwise.intact());
        }
    }
}

// Two responses over one input history give the bits of two single sums; the many-source add gives
// the bits of one add after another.
TEST_P(IppsComplexProduct, PairedSumsAndManyAddsMatchTheirStepwiseForms)
{
    for (int len : product_lengths) {
        for (int count : {1, 6}) {
            SCOPED_TRACE(testing::Message() << "len " << len << " count " << count);
            std::vector<std::vector<float>> a, b0, b1;
            std::vector<float const*> a_list, b0_list, b1_list;
            for (int j = 0; j < count; ++j) {
                a.push_back(random_floats(2 * len + 2, 40u + j));
                b0.push_back(random_floats(2 * len + 2, 50u + j));
                b1.push_back(random_floats(2 * len + 2, 60u + j));
            }
            for (int j = 0; j < count; ++j) {
                a_list.push_back(a[j].data());
                b0_list.push_back(b0[j].data());
                b1_list.push_back(b1[j].data());
            }
            Guarded<float> pair0(2 * len + 2), pair1(2 * len + 2), single0(2 * len + 2), single1(2 * len + 2);
            corvella::ipps_sum_of_products_pair_32fc(a_list.data(), b0_list.data(), b1_list.data(), count,
                                                     pair0.data(), pair1.data(), len);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b0_list.data(), count, single0.data(), len);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b1_list.data(), count, single1.data(), len);
            EXPECT_EQ(std::memcmp(pair0.data(), single0.data(), sizeof(float) * 2 * len), 0);
            EXPECT_EQ(std::memcmp(pair1.data(), single1.data(), sizeof(float) * 2 * len), 0);
            EXPECT_TRUE(pair0.intact() && pair1.intact());

            std::vector<float> const start = random_floats(2 * len + 2, 70u);
            Guarded<float> many(2 * len), steps(2 * len);
            std::copy_n(start.begin(), 2 * len, many.data());
            std::copy_n(start.begin(), 2 * len, steps.data());
            corvella::ipps_add_many_32f_I(a_list.data(), count, many.data(), 2 * len);
            for (int j = 0; j < count; ++j)
                ippsAdd_32f_I(a_list[j], steps.data(), 2 * len);
            EXPECT_EQ(std::memcmp(many.data(), steps.data(), sizeof(float) * 2 * len), 0);
            EXPECT_TRUE(many.intact());
        }
    }
}

// Spectrum buffers of an n-point transform hold n + 4 floats: the packed spectrum and one spare
// complex value that stays zero when products run over (n + 4) / 2 values.
TEST_P(IppsComplexProduct, SpareTrailingValueOfSpectrumBuffersStaysZero)
{
    for (int n : {2, 8, 256, 4096}) {
        SCOPED_TRACE(n);
        std::vector<float> a = random_floats(n + 4, 80u + n), b = random_floats(n + 4, 90u + n);
        a[n + 2] = a[n + 3] = b[n + 2] = b[n + 3] = 0.0f;
        std::vector<float> product(n + 4, 1.0f), acc(n + 4, 0.0f);
        auto c = [](std::vector<float>& v) { return reinterpret_cast<Ipp32fc*>(v.data()); };
        ASSERT_EQ(ippsMul_32fc(c(a), c(b), c(product), (n + 4) / 2), ippStsNoErr);
        ASSERT_EQ(ippsAddProduct_32fc(c(a), c(b), c(acc), (n + 4) / 2), ippStsNoErr);
        EXPECT_EQ(product[n + 2], 0.0f);
        EXPECT_EQ(product[n + 3], 0.0f);
        EXPECT_EQ(acc[n + 2], 0.0f);
        EXPECT_EQ(acc[n + 3], 0.0f);
    }
}

CORVELLA_FOR_EACH_CODE_PATH(IppsComplexProduct);

} // namespace
