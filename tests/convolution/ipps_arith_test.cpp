// Element-wise operations and the complex products, on every code path the processor has; the
// refusals are in ipps_arguments_test.cpp.
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

TEST(IppsElementWise, MoveOverlapsBothWaysAndMinMax)
{
    const std::vector<float> src = random_floats(37, 1);
    std::vector<float> up = src, down = src;
    EXPECT_EQ(ippsMove_32f(up.data(), up.data() + 5, 30), ippStsNoErr);
    EXPECT_EQ(ippsMove_32f(down.data() + 5, down.data(), 30), ippStsNoErr);
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 30, up.begin() + 5));
    EXPECT_TRUE(std::equal(src.begin() + 5, src.begin() + 35, down.begin()));

    const float values[] = {0.5f, -3.0f, 2.0f, 7.25f, -1.0f};
    float lo = 0, hi = 0;
    EXPECT_EQ(ippsMinMax_32f(values, 5, &lo, &hi), ippStsNoErr);
    EXPECT_TRUE(lo == -3.0f && hi == 7.25f);
    EXPECT_EQ(ippsMinMax_32f(values, 1, &lo, &hi), ippStsNoErr);
    EXPECT_TRUE(lo == 0.5f && hi == 0.5f);
    lo = hi = 9.0f;
    EXPECT_EQ(ippsMinMax_32f(values, 0, &lo, &hi), ippStsSizeErr);
    EXPECT_TRUE(lo == 0.0f && hi == 0.0f);
}

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

// The convolver's one-pass delay line: the sum of products (single and paired) gives the bits of a
// multiply followed by multiply-adds, and the many-source add the bits of one add after another.
TEST_P(IppsComplexProduct, FusedFormsGiveTheBitsOfTheirStepwiseForms)
{
    auto same = [](Guarded<float>& x, Guarded<float>& y, int floats) {
        return std::memcmp(x.data(), y.data(), sizeof(float) * static_cast<size_t>(floats)) == 0;
    };
    for (int len : product_lengths) {
        for (int count : {1, 2, 6}) {
            SCOPED_TRACE(testing::Message() << "len " << len << " count " << count);
            std::vector<std::vector<float>> a, b0, b1;
            std::vector<float const*> a_list, b0_list, b1_list;
            for (int j = 0; j < count; ++j) {
                a.push_back(random_floats(2 * len + 2, 10u + j));
                b0.push_back(random_floats(2 * len + 2, 20u + j));
                b1.push_back(random_floats(2 * len + 2, 30u + j));
            }
            for (int j = 0; j < count; ++j) {
                a_list.push_back(a[j].data());
                b0_list.push_back(b0[j].data());
                b1_list.push_back(b1[j].data());
            }
            const int n = 2 * len + 2;
            Guarded<float> fused(n), pair0(n), pair1(n), single1(n), stepwise(n), many(2 * len),
                steps(2 * len);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b0_list.data(), count, fused.data(), len);
            corvella::ipps_sum_of_products_32fc(a_list.data(), b1_list.data(), count, single1.data(), len);
            corvella::ipps_sum_of_products_pair_32fc(a_list.data(), b0_list.data(), b1_list.data(), count,
                                                     pair0.data(), pair1.data(), len);
            auto c = [](float const* f) { return reinterpret_cast<Ipp32fc const*>(f); };
            auto* out = reinterpret_cast<Ipp32fc*>(stepwise.data());
            ippsMul_32fc(c(a_list[0]), c(b0_list[0]), out, len);
            for (int j = 1; j < count; ++j)
                ippsAddProduct_32fc(c(a_list[j]), c(b0_list[j]), out, len);
            EXPECT_TRUE(same(fused, stepwise, 2 * len) && same(pair0, fused, 2 * len) &&
                        same(pair1, single1, 2 * len));

            std::copy_n(b1[0].begin(), 2 * len, many.data());
            std::copy_n(b1[0].begin(), 2 * len, steps.data());
            corvella::ipps_add_many_32f_I(a_list.data(), count, many.data(), 2 * len);
            for (int j = 0; j < count; ++j)
                ippsAdd_32f_I(a_list[j], steps.data(), 2 * len);
            EXPECT_TRUE(same(many, steps, 2 * len));
            EXPECT_TRUE(fused.intact() && pair0.intact() && pair1.intact() && many.intact());
        }
    }
}

CORVELLA_FOR_EACH_CODE_PATH(IppsComplexProduct);

} // namespace
