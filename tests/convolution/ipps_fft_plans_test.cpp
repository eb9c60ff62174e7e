// Measured FFT plans kept in a file: written after a measurement, and a damaged file only means
// measuring again (the transforms stay right and the file is written whole afterwards).

#include "convolution/ipps.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string slurp(std::filesystem::path const& file)
{
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A forward and inverse transform of `order` recovers its input.
void expect_round_trip(int order)
{
    IppsFFTSpec_R_32f* spec = nullptr;
    ASSERT_EQ(ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsNoErr);
    int const n = 1 << order;
    int size = 0;
    ippsFFTGetBufSize_R_32f(spec, &size);
    std::vector<Ipp8u> work(static_cast<size_t>(size) + 64);
    std::vector<float> x(static_cast<size_t>(n) + 2), y(static_cast<size_t>(n) + 2);
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = std::sin(0.1f * static_cast<float>(i)) + 0.01f * static_cast<float>(i % 7);
    y = x;
    ippsFFTFwd_RToCCS_32f_I(y.data(), spec, work.data());
    ippsFFTInv_CCSToR_32f_I(y.data(), spec, work.data());
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR(y[static_cast<size_t>(i)], x[static_cast<size_t>(i)], 1e-4f) << i;
    ippsFFTFree_R_32f(spec);
}

TEST(IppsFftPlans, AreKeptInTheirFileAndADamagedFileIsMeasuredAgain)
{
    corvella::test::TempDir dir{"corvella-plans-"};
    auto const file = dir / "cache" / "plans";
    corvella::ipps_fft_keep_plans_in(file.string());
    corvella::ipps_fft_forget_plans();
    expect_round_trip(9);
    std::string const kept = slurp(file);
    EXPECT_EQ(kept.rfind("(fftw-3", 0), 0u) << kept.substr(0, 40);

    std::ofstream(file) << "(fftw-3.3 damaged ((( 12 ";
    corvella::ipps_fft_forget_plans();
    expect_round_trip(10);
    EXPECT_EQ(slurp(file).rfind("(fftw-3", 0), 0u);
    EXPECT_NE(slurp(file).find(')', 0), std::string::npos);
    corvella::ipps_fft_keep_plans_in("");
}

} // namespace
