// Every vector operation refuses bad arguments with its status and writes nothing: one table.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(IppsArguments, AreRefusedWithTheirStatusAndChangeNothing)
{
    // Set-ups to call into; a failed set-up must not leave a stale pointer behind.
    int sentinel = 0;
    auto* bad_fft = reinterpret_cast<IppsFFTSpec_R_32f*>(&sentinel);
    auto* bad_fir = reinterpret_cast<IppsFIRState_32f*>(&sentinel);
    IppsFFTSpec_R_32f* fft = nullptr;
    IppsFIRState_32f* fir = nullptr;
    int fft_work_size = 0, rs_size = 0, rs_len = 0, rs_height = 0;
    float const taps[2] = {1.0f, 2.0f};
    ASSERT_EQ(ippsFFTInitAlloc_R_32f(&fft, 4, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsNoErr);
    ASSERT_EQ(ippsFFTGetBufSize_R_32f(fft, &fft_work_size), ippStsNoErr);
    std::vector<Ipp8u> fft_work(static_cast<std::size_t>(fft_work_size) + 1);
    ASSERT_EQ(ippsFIRInitAlloc_32f(&fir, taps, 2, nullptr), ippStsNoErr);
    ASSERT_EQ(ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 256, &rs_size, &rs_len, &rs_height, 2),
              ippStsNoErr);
    std::vector<Ipp8u> rs_block(static_cast<std::size_t>(rs_size));
    auto* rs = reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(rs_block.data());
    ASSERT_EQ(ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.95f, 9.0f, rs, 2), ippStsNoErr);

    float buf[18] = {1, 2, 3, 4}, y[8] = {};
    Ipp32fc c[1] = {{1, 1}};
    std::vector<double> lowpass(8, 3.0);
    unsigned int seed = 5;
    int count = -1, phase = 0, size = -1;
    double nan_time = std::nan(""), time = 0.0;
    struct Case {
        char const* what;
        IppStatus status, expected;
    };
    // clang-format off
    Case const cases[] = {
        {"Set null", ippsSet_32f(0.0f, nullptr, 4), ippStsNullPtrErr},
        {"Copy null", ippsCopy_32f(buf, nullptr, 4), ippStsNullPtrErr},
        {"Move null", ippsMove_32f(nullptr, buf, 4), ippStsNullPtrErr},
        {"Add null", ippsAdd_32f(buf, nullptr, buf, 4), ippStsNullPtrErr},
        {"MinMax null", ippsMinMax_32f(buf, 4, nullptr, buf), ippStsNullPtrErr},
        {"Mul_32fc null", ippsMul_32fc(nullptr, nullptr, nullptr, 1), ippStsNullPtrErr},
        {"Set -1", ippsSet_32f(0.0f, buf, -1), ippStsSizeErr},
        {"MulC -1", ippsMulC_32f_I(2.0f, buf, -1), ippStsSizeErr},
        {"Flip -3", ippsFlip_32f_I(buf, -3), ippStsSizeErr},
        {"AddProduct -1", ippsAddProduct_32fc(c, c, c, -1), ippStsSizeErr},
        {"FFT order 0", ippsFFTInitAlloc_R_32f(&bad_fft, 0, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsFftOrderErr},
        {"FFT order 25", ippsFFTInitAlloc_R_32f(&bad_fft, 25, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsFftOrderErr},
        {"FFT flag", ippsFFTInitAlloc_R_32f(&bad_fft, 4, 3, ippAlgHintNone), ippStsFftFlagErr},
        {"FFT hint", ippsFFTInitAlloc_R_32f(&bad_fft, 4, IPP_FFT_DIV_INV_BY_N, static_cast<IppHintAlgorithm>(7)), ippStsBadArgErr},
        {"FFT free null", ippsFFTFree_R_32f(nullptr), ippStsNullPtrErr},
        {"FFT no work buffer", ippsFFTFwd_RToCCS_32f_I(buf, fft, nullptr), ippStsNullPtrErr},
        {"FFT inverse null", ippsFFTInv_CCSToR_32f(buf, nullptr, fft, fft_work.data()), ippStsNullPtrErr},
        {"FIR length 0", ippsFIRInitAlloc_32f(&bad_fir, taps, 0, nullptr), ippStsFIRLenErr},
        {"FIR null taps", ippsFIRInitAlloc_32f(&bad_fir, nullptr, 2, nullptr), ippStsNullPtrErr},
        {"FIR free null", ippsFIRFree_32f(nullptr), ippStsNullPtrErr},
        {"FIR -1 frames", ippsFIR_32f(buf, buf, -1, fir), ippStsSizeErr},
        {"FIR null input", ippsFIR_32f(nullptr, buf, 4, fir), ippStsNullPtrErr},
        {"FIR 0 frames", ippsFIR_32f(buf, buf, 0, fir), ippStsNoErr},
        {"FIR set null taps", ippsFIRSetTaps_32f(nullptr, fir), ippStsNullPtrErr},
        {"low-pass 0", ippsFIRGenLowpass_64f(0.0, lowpass.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr},
        {"low-pass 0.5", ippsFIRGenLowpass_64f(0.5, lowpass.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr},
        {"low-pass NaN", ippsFIRGenLowpass_64f(std::nan(""), lowpass.data(), 8, ippWinBlackman, ippTrue), ippStsOutOfRangeErr},
        {"low-pass 2 taps", ippsFIRGenLowpass_64f(0.2, lowpass.data(), 2, ippWinBlackman, ippTrue), ippStsFIRLenErr},
        {"low-pass window", ippsFIRGenLowpass_64f(0.2, lowpass.data(), 8, 5, ippTrue), ippStsBadArgErr},
        {"low-pass null", ippsFIRGenLowpass_64f(0.2, nullptr, 8, ippWinBlackman, ippTrue), ippStsNullPtrErr},
        {"Gauss deviation", ippsRandGauss_Direct_32f(buf, 4, 0.0f, -0.1f, &seed), ippStsBadArgErr},
        {"Gauss -1", ippsRandGauss_Direct_32f(buf, -1, 0.0f, 0.1f, &seed), ippStsSizeErr},
        {"Gauss null seed", ippsRandGauss_Direct_32f(buf, 4, 0.0f, 0.1f, nullptr), ippStsNullPtrErr},
        {"Gauss null output", ippsRandGauss_Direct_32f(nullptr, 4, 0.0f, 0.1f, &seed), ippStsNullPtrErr},
        {"SampleUp factor 0", ippsSampleUp_32f(buf, 4, y, &count, 0, &phase), ippStsSizeErr},
        {"SampleDown -1", ippsSampleDown_32f(buf, -1, y, &count, 2, &phase), ippStsSizeErr},
        {"SampleDown null count", ippsSampleDown_32f(buf, 4, y, nullptr, 2, &phase), ippStsNullPtrErr},
        {"SampleUp phase 2", (phase = 2, ippsSampleUp_32f(buf, 4, y, &count, 2, &phase)), ippStsOutOfRangeErr},
        {"SampleDown phase 2", ippsSampleDown_32f(buf, 4, y, &count, 2, &phase), ippStsOutOfRangeErr},
        {"resampler rate 0", ippsResamplePolyphaseFixedGetSize_32f(0, 48000, 256, &size, &rs_len, &rs_height, 2), ippStsSizeErr},
        {"resampler window 1", ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 1, &size, &rs_len, &rs_height, 2), ippStsSizeErr},
        {"resampler hint", ippsResamplePolyphaseFixedGetSize_32f(44100, 48000, 256, &size, &rs_len, &rs_height, 9), ippStsBadArgErr},
        {"resampler roll-off 0", ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.0f, 9.0f, rs, 2), ippStsBadArgErr},
        {"resampler null spec", ippsResamplePolyphaseFixedInit_32f(44100, 48000, 256, 0.95f, 9.0f, nullptr, 2), ippStsNullPtrErr},
        {"resampler NaN time", ippsResamplePolyphaseFixed_32f(buf, 4, y, 1.0f, &nan_time, &count, rs), ippStsOutOfRangeErr},
        {"resampler -1", ippsResamplePolyphaseFixed_32f(buf, -1, y, 1.0f, &time, &count, rs), ippStsSizeErr},
    };
    // clang-format on
    for (Case const& c_ : cases)
        EXPECT_EQ(c_.status, c_.expected) << c_.what;
    EXPECT_TRUE(bad_fft == nullptr && bad_fir == nullptr);
    EXPECT_TRUE(buf[0] == 1.0f && buf[1] == 2.0f && buf[3] == 4.0f && buf[4] == 0.0f && c[0].re == 1.0f);
    EXPECT_TRUE(y[0] == 0.0f && count == -1 && size == -1 && seed == 5u);
    EXPECT_EQ(lowpass, std::vector<double>(8, 3.0));
    ippsFIRFree_32f(fir);
    ippsFFTFree_R_32f(fft);
}

} // namespace
