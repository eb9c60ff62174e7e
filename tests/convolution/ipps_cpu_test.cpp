// Processor set-up: code-path selection and the calling thread's denormal modes.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// Volatile operands keep the compiler from folding the arithmetic at build time.
float product(float a, float b)
{
    volatile float x = a;
    volatile float y = b;
    return x * y;
}

// 1e-30 x 1e-10 = 1e-40 is below the smallest normal float (1.18e-38).
TEST(IppsCpu, InitSelectsTheBestPathAndDenormalModesActOnTheCallingThreadOnly)
{
    EXPECT_EQ(ippInit(), ippStsNoErr);
    EXPECT_EQ(corvella::ipps_code_path(), corvella::ipps_best_code_path());
#if !defined(__x86_64__) && !defined(__aarch64__)
    GTEST_SKIP() << "no denormal control on this processor";
#endif
    const float denormal = 1e-40f;
    ASSERT_NE(product(1e-30f, 1e-10f), 0.0f);
    std::thread worker([denormal] {
        unsigned int previous = 7, now_on = 7;
        EXPECT_EQ(ippSetFlushToZero(1, &previous), ippStsNoErr);
        EXPECT_EQ(previous, 0u);
        EXPECT_EQ(product(1e-30f, 1e-10f), 0.0f);
        EXPECT_NE(product(1e-19f, 1e-18f), 0.0f);
        EXPECT_EQ(ippSetFlushToZero(1, &now_on), ippStsNoErr);
        EXPECT_EQ(now_on, 1u);
        EXPECT_EQ(ippSetFlushToZero(0, nullptr), ippStsNoErr);
        EXPECT_NE(product(1e-30f, 1e-10f), 0.0f);

        EXPECT_EQ(ippSetDenormAreZeros(1), ippStsNoErr);
        EXPECT_EQ(product(denormal, 1e30f), 0.0f); // the input counts as 0 though the result is normal
        EXPECT_EQ(ippSetDenormAreZeros(0), ippStsNoErr);
        EXPECT_NE(product(denormal, 1.0f), 0.0f);
    });
    worker.join();
    EXPECT_NE(product(1e-30f, 1e-10f), 0.0f);
    EXPECT_NE(product(denormal, 1.0f), 0.0f);
}

} // namespace
