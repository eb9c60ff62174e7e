// The 2x band: rates and unity mappings, the upsampled scheme against a double-precision model
// with cookbook coefficients, copies and bad buffers.
#include "effects/biquad_filter_upsampling.h"

#include "eq_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace corvella::test;

TEST(BiquadFilterUpsampling, RatesAndFrequencyTapersWithTheirClamps)
{
    biquad_filter_upsampling band;
    EXPECT_FLOAT_EQ(band.get_base_rate(), 500.0f);
    EXPECT_FLOAT_EQ(band.get_freq_fs(), 1000.0f);
    band.set_freq_fs(48000.0f);
    EXPECT_FLOAT_EQ(band.get_freq_fs(), 96000.0f);
    band.set_freq_max_f0(60000.0f);
    EXPECT_FLOAT_EQ(band.get_freq_max_f0(), 48000.0f); // fs / 2 = the base rate
    auto f0 = [&](float u) { return band.set_unity_range_freq_f0(u), band.get_freq_f0(); };
    EXPECT_FLOAT_EQ(f0(1.0f), 24000.0f); // half the base rate

    band.set_freq_max_f0(22050.0f);
    EXPECT_FLOAT_EQ(band.passive_convert_unity_range_freq_f0(3.0f), 11025.0f);
    EXPECT_FLOAT_EQ(band.get_freq_f0(), 24000.0f); // nothing stored
    EXPECT_FLOAT_EQ(f0(0.0f), 20.0f);
    EXPECT_NEAR(f0(1.0f), 22050.0f, 0.05f);
    EXPECT_FLOAT_EQ(f0(1.5f), 11025.0f); // out of range: half the top frequency
    for (float u : {0.1f, 0.35f, 0.6f, 0.9f}) {
        EXPECT_NEAR(f0(u), taper(u) * 22050.0, 0.01);
        EXPECT_NEAR(band.query_unity_range_freq_f0(band.get_freq_f0()), u, 1e-5);
        EXPECT_NEAR(band.get_unity_range_freq_f0(), u, 1e-5);
    }
    auto end = [&](float u) { return band.set_unity_range_freq_f0_end(u), band.get_freq_f0_end(); };
    EXPECT_NEAR(end(0.7f), taper(0.7) * 22050.0, 0.02);
    EXPECT_FLOAT_EQ(end(1.0f), 11025.0f); // not below the top: half of it
    auto depth = [&](float u) { return band.set_unity_range_freq_mod(u), band.get_freq_mod(); };
    EXPECT_NEAR(depth(0.8f), taper(0.8) * 22050.0 * 0.5, 0.02);
    EXPECT_EQ(depth(0.02f), 0.0f); // 20 Hz or less
    EXPECT_FLOAT_EQ(depth(-1.0f), 5512.5f);
}

// A switched-off band leaves the anti-image low-pass alone.
TEST(BiquadFilterUpsampling, BandsMatchTheCookbookAtTheDoubledRateAcrossBlocks)
{
    struct Case {
        int mode;
        float f0, q, gain, toggle;
        double tolerance; // single-precision coefficients of a low corner at 96 kHz err most
    };
    // clang-format off
    Case const cases[] = {
        {4, 10000.0f, 1.0f, 12.0f, 1.0f, 2e-5}, {4, 2000.0f, 4.0f, -15.0f, 1.0f, 2e-5}, {2, 300.0f, 0.7f, 9.0f, 1.0f, 5e-4},
        {3, 16000.0f, 0.7f, -8.0f, 1.0f, 2e-5}, {0, 12000.0f, 0.7f, 0.0f, 1.0f, 2e-5},  {1, 800.0f, 1.0f, 0.0f, 1.0f, 2e-5},
        {4, 1000.0f, 1.0f, 15.0f, 0.0f, 2e-5},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " f0 " << c.f0 << " toggle " << c.toggle);
        biquad_filter_upsampling band;
        configure(band, c.mode, c.f0, c.q, c.gain);
        band.set_toggle(c.toggle);
        std::vector<float> x = eq_test_signal(4000);
        model_2x model(c.toggle > 0 ? std::vector{cookbook(c.mode, c.f0, c.q, c.gain, 96000.0)}
                                    : std::vector<biquad_d>{});
        std::vector<double> const expected = model.run(x.data(), 4000);
        for (int p = 0; p < 4000; p += 32)
            band.compute_filter_inplace(x.data() + p, 32, 0);
        expect_near(x, expected, c.tolerance);
    }
}

// Clearing is proven by the IR equaliser's second pass in the cascade tests; a copy must also carry
// the base rate, and its history starts from silence.
TEST(BiquadFilterUpsampling, CopiesCarryTheBaseRateAndBadBuffersAreIgnored)
{
    biquad_filter_upsampling source, fresh, copy;
    configure(source, 3, 6000.0f, 0.9f, -6.0f, 44100.0f);
    configure(fresh, 3, 6000.0f, 0.9f, -6.0f, 44100.0f);
    std::vector<float> a = eq_test_signal(256), b = a;
    source.compute_filter_inplace(a.data(), 256, 0); // leaves history behind
    copy.copy_settings(&source);
    EXPECT_FLOAT_EQ(copy.get_base_rate(), 44100.0f);
    EXPECT_FLOAT_EQ(copy.get_freq_fs(), 88200.0f);
    a = b;
    fresh.compute_filter_inplace(a.data(), 256, 0);
    copy.compute_filter_inplace(b.data(), 256, 0);
    EXPECT_EQ(a, b);

    copy.compute_filter_inplace(nullptr, 32, 0);
    copy.compute_filter_inplace(a.data(), 0, 0);
    copy.compute_filter_inplace(a.data(), -5, 0);
    EXPECT_EQ(a, b);
}

} // namespace
