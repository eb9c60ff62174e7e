// Processor set-up: code-path selection and the calling thread's denormal modes.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr bool denormal_control_exists =
#if defined(__x86_64__) || defined(__aarch64__)
    true;
#else
    false;
#endif

// Volatile operands keep the compiler from folding the arithmetic at build time.
float product(float a, float b)
{
    volatile float x = a;
    volatile float y = b;
    return x * y;
}

TEST(IppsCpu, InitSelectsTheBestPathAndPathsCanBeForced)
{
    EXPECT_EQ(ippInit(), ippStsNoErr);
    const corvella::IppsCodePath best = corvella::ipps_best_code_path();
    EXPECT_EQ(corvella::ipps_code_path(), best);
    EXPECT_TRUE(corvella::ipps_set_code_path(corvella::IppsCodePath::portable));
    EXPECT_EQ(corvella::ipps_code_path(), corvella::IppsCodePath::portable);
#if defined(__x86_64__)
    EXPECT_NE(best, corvella::IppsCodePath::portable); // SSE2 is part of the x86-64 baseline
#else
    EXPECT_EQ(best, corvella::IppsCodePath::portable);
    EXPECT_FALSE(corvella::ipps_set_code_path(corvella::IppsCodePath::sse2));
#endif
    EXPECT_TRUE(corvella::ipps_set_code_path(best));
    EXPECT_EQ(corvella::ipps_code_path(), best);
    EXPECT_STREQ(corvella::ipps_code_path_name(corvella::IppsCodePath::avx2_fma), "avx2_fma");
}

TEST(IppsCpu, FlushToZeroFlushesDenormalResultsOfTheCallingThreadOnly)
{
    if (!denormal_control_exists) GTEST_SKIP() << "no denormal control on this processor";
    // 1e-30 x 1e-10 = 1e-40, below the smallest normal float (1.18e-38).
    ASSERT_NE(product(1e-30f, 1e-10f), 0.0f);
    std::thread worker([] {
        unsigned int previous = 7;
        EXPECT_EQ(ippSetFlushToZero(1, &previous), ippStsNoErr);
        EXPECT_EQ(previous, 0u);
        EXPECT_EQ(product(1e-30f, 1e-10f), 0.0f);
        EXPECT_NE(product(1e-19f, 1e-18f), 0.0f); // 1e-37 is normal and stays
        unsigned int now_on = 7;
        EXPECT_EQ(ippSetFlushToZero(1, &now_on), ippStsNoErr);
        EXPECT_EQ(now_on, 1u);
        EXPECT_EQ(ippSetFlushToZero(static_cast<int>(previous), nullptr), ippStsNoErr);
        EXPECT_NE(product(1e-30f, 1e-10f), 0.0f);
    });
    worker.join();
    // The main thread's mode was never touched.
    EXPECT_NE(product(1e-30f, 1e-10f), 0.0f);
}

TEST(IppsCpu, DenormalsAreZeroTreatsDenormalInputsAsZero)
{
    if (!denormal_control_exists) GTEST_SKIP() << "no denormal control on this processor";
    const float denormal = 1e-40f;
    ASSERT_NE(product(denormal, 1.0f), 0.0f);
    std::thread worker([denormal] {
        EXPECT_EQ(ippSetDenormAreZeros(1), ippStsNoErr);
        EXPECT_EQ(product(denormal, 1.0f), 0.0f);
        EXPECT_EQ(product(denormal, 1e30f),
                  0.0f); // the input counts as 0 even when the result would be normal
        EXPECT_EQ(ippSetDenormAreZeros(0), ippStsNoErr);
        EXPECT_NE(product(denormal, 1.0f), 0.0f);
    });
    worker.join();
    EXPECT_NE(product(denormal, 1.0f), 0.0f);
}

} // namespace
