// The equaliser band: setters and unity mappings, mode selection, cookbook responses, filtering.
#include "effects/biquad_filter.h"

#include "support/allocation_counter.h"

#include "eq_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

using namespace corvella::test;

// |H(hz)| at 48 kHz from the band's impulse response, by a double-precision DFT bin.
double measured_gain(biquad_filter& band, double hz)
{
    std::vector<float> ir(8192, 0.0f);
    ir[0] = 1.0f;
    band.compute_filter_inplace(ir.data(), 8192);
    std::complex<double> sum = 0.0;
    for (int n = 0; n < 8192; ++n)
        sum += static_cast<double>(ir[n]) * std::polar(1.0, -2.0 * pi * hz * n / 48000.0);
    return std::abs(sum);
}

// Applies each input in turn and expects the getter to read the paired value.
template <typename V>
void expect_stored(biquad_filter& band, void (biquad_filter::*set)(V), V (biquad_filter::*get)() const,
                   std::initializer_list<std::pair<V, V>> cases)
{
    for (auto [in, out] : cases) {
        (band.*set)(in);
        EXPECT_EQ((band.*get)(), out) << "from " << in;
    }
}

TEST(BiquadFilterSettings, SettersClampOrReplaceOutOfRangeValuesAndUnityTapersRoundTrip)
{
    using B = biquad_filter;
    using F = std::pair<float, float>;
    B band;
    // clang-format off
    expect_stored(band, &B::set_q, &B::get_q, {F{4.5f, 4.5f}, {12.0f, 1.0f}, {-1.0f, 1.0f}, {10.0f, 10.0f}});
    expect_stored(band, &B::set_gain_db, &B::get_gain_db, {F{25.0f, 20.0f}, {-30.0f, -20.0f}});
    expect_stored(band, &B::set_freq_fs, &B::get_freq_fs, {F{48000.0f, 48000.0f}});
    expect_stored(band, &B::set_freq_max_f0, &B::get_freq_max_f0, {F{30000.0f, 24000.0f}, {20000.0f, 20000.0f}});
    expect_stored(band, &B::set_freq_f0, &B::get_freq_f0, {F{5.0f, 20.0f}, {21000.0f, 20000.0f}, {1234.0f, 1234.0f}});
    // Half of min(hz, max f0); 20 Hz or less is no modulation.
    expect_stored(band, &B::set_freq_mod, &B::get_freq_mod, {F{1000.0f, 500.0f}, {30000.0f, 10000.0f}, {40.0f, 0.0f}, {42.0f, 21.0f}});
    expect_stored(band, &B::set_unity_range_gain_db_mod, &B::get_gain_db_mod, {F{0.25f, 5.0f}, {1.5f, 0.0f}});
    // Gain: x = 2u - 1, s = (10^|x| - 1) / 9, gain = 20 s sign(x); Q = 10^(2u) / 10.
    expect_stored(band, &B::set_unity_range_gain_db, &B::get_gain_db, {F{0.5f, 0.0f}, {1.0f, 20.0f}, {0.0f, -20.0f}, {2.0f, 20.0f}});
    expect_stored(band, &B::set_unity_range_q, &B::get_q, {F{0.5f, 1.0f}, {0.0f, 0.1f}, {1.0f, 10.0f}});
    // clang-format on
    band.set_unity_range_gain_db(0.75f);
    EXPECT_NEAR(band.get_gain_db(), 20.0 * (std::sqrt(10.0) - 1.0) / 9.0, 1e-5);
    EXPECT_NEAR(log_extend_low_unity_range_mid_pointed(0.75f), 0.5 + (std::sqrt(10.0) - 1.0) / 18.0, 1e-6);
    for (int i = 0; i <= 20; ++i) {
        float const u = static_cast<float>(i) / 20.0f;
        band.set_unity_range_gain_db(u);
        band.set_unity_range_q(u);
        EXPECT_NEAR(band.get_unity_range_gain_db(), u, 2e-6) << u;
        EXPECT_NEAR(band.get_unity_range_q(), u, 2e-6) << u;
        EXPECT_NEAR(log_unextend_low_unity_range_mid_pointed(log_extend_low_unity_range_mid_pointed(u)), u,
                    2e-6);
    }
}

// A mode outside 0..4 is reachable only through a derived band.
struct raw_mode_band : biquad_filter {
    void force_mode(int m) { mode = m; }
};

TEST(BiquadFilterMode, SelectionByRestrictionAndTexts)
{
    struct Case {
        int restriction;
        float unity;
        int start_mode, expected;
    };
    // clang-format off
    Case const cases[] = {
        {0, 0.0f, 4, 0},  {0, 0.24f, 4, 0}, {0, 0.25f, 4, 1}, {0, 0.5f, 4, 2}, {0, 0.74f, 4, 2},
        {0, 0.75f, 0, 3}, {0, 1.0f, 0, 4},  {0, 1.3f, 3, 0},  {1, 0.2f, 0, 4}, {1, 0.6f, 0, 1},
        {1, 1.0f, 0, 2},  {1, 1.6f, 3, 3},  {2, 0.1f, 0, 4},  {2, 0.9f, 1, 4}, {3, 0.2f, 0, 4},
        {3, 0.6f, 4, 0},  {3, 1.0f, 0, 3},  {3, -0.6f, 2, 2}, {4, 0.6f, 2, 2}, {7, 0.1f, 1, 1},
    };
    // clang-format on
    for (Case const& c : cases) {
        biquad_filter band;
        band.set_mode(c.start_mode);
        band.set_mode_restrict(c.restriction);
        band.set_unity_range_mode(c.unity);
        EXPECT_EQ(band.get_mode(), c.expected) << "restriction " << c.restriction << " unity " << c.unity;
        EXPECT_EQ(band.get_unity_mode(), c.unity);
    }
    raw_mode_band band;
    char const* const texts[] = {"H. Cut", "L. Cut", "L. Shelf", "H. Shelf", "Peak", "Error"};
    for (int m = 0; m < 6; ++m) {
        band.force_mode(m == 5 ? 7 : m);
        EXPECT_STREQ(band.get_mode_text_ret(), texts[m]);
    }
}

// Cookbook magnitudes: low- and high-pass |H| = Q at the corner, peak A^2 at the centre, shelves A
// at the corner and A^2 on their own side (A = 10^(dB / 40)); 0 Hz and 24 kHz are the edges.
TEST(BiquadFilterResponse, FiveShapesAtTheirCentreFrequenciesAndEdges)
{
    struct Case {
        int mode;
        float q, db;
        double hz, expected, tolerance;
    };
    double const half = std::pow(10.0, 12.0 / 40.0), full = half * half;
    // clang-format off
    Case const cases[] = {
        {0, 0.707f, 0.0f, 1000.0, 0.707, 1e-3}, {0, 2.0f, 0.0f, 1000.0, 2.0, 1e-3},
        {1, 0.707f, 0.0f, 1000.0, 0.707, 1e-3}, {1, 2.0f, 0.0f, 1000.0, 2.0, 1e-3},
        {0, 0.707f, 0.0f, 0.0, 1.0, 1e-4},      {1, 0.707f, 0.0f, 24000.0, 1.0, 1e-4},
        {4, 1.5f, 12.0f, 1000.0, full, 2e-3},   {4, 1.5f, -9.0f, 1000.0, std::pow(10.0, -9.0 / 20.0), 2e-3},
        {2, 0.707f, 12.0f, 1000.0, half, 2e-3}, {2, 0.707f, 12.0f, 0.0, full, 2e-3},
        {3, 0.707f, 12.0f, 1000.0, half, 2e-3}, {3, 0.707f, 12.0f, 24000.0, full, 2e-3},
    };
    // clang-format on
    for (Case const& c : cases) {
        biquad_filter band;
        configure(band, c.mode, 1000.0f, c.q, c.db);
        EXPECT_NEAR(measured_gain(band, c.hz), c.expected, c.tolerance * c.expected)
            << "mode " << c.mode << " Q " << c.q << " " << c.db << " dB at " << c.hz << " Hz";
    }
}

TEST(BiquadFilterResponse, CoefficientSetsAndPassThrough)
{
    biquad_filter band, reference;
    configure(band, 4, 2000.0f, 2.0f, 6.0f);
    // The display set and the specific set leave the stored settings and the other set alone.
    biquad_coefficients const before = band.normalised_coefficients();
    band.compute_coeffs_view(-12.0f, 5000.0f);
    expect_coefficients_near(band.normalised_coefficients(), before, 0.0);
    configure(reference, 4, 5000.0f, 2.0f, -12.0f);
    expect_coefficients_near(band.normalised_view_coefficients(), reference.normalised_coefficients(), 0.0);
    band.compute_coeffs_specific(0.0f, 3000.0f);
    EXPECT_EQ(band.get_gain_db(), 6.0f);
    EXPECT_EQ(band.get_freq_f0(), 2000.0f);
    biquad_coefficients const flat = band.normalised_coefficients(); // a 0 dB peak is exactly transparent
    EXPECT_EQ(flat.b0, 1.0f);
    EXPECT_EQ(flat.b1, flat.a1);
    EXPECT_EQ(flat.b2, flat.a2);

    // A toggle below 0.5 or a Q of 0 (which would divide by zero) give pass-through coefficients; a
    // toggle of exactly 0 skips filtering even with a computed low-pass.
    band.set_toggle(0.4f);
    band.compute_coeffs();
    expect_coefficients_near(band.normalised_coefficients(), biquad_coefficients{}, 0.0);
    configure(band, 0, 1000.0f, 0.0f, 0.0f);
    expect_coefficients_near(band.normalised_coefficients(), biquad_coefficients{}, 0.0);
    configure(band, 0, 100.0f, 1.0f, 0.0f);
    band.set_toggle(0.0f);
    std::vector<float> y = {1.0f, -2.0f, 3.0f, 0.5f};
    band.compute_filter_inplace(y.data(), 4);
    EXPECT_EQ(y, (std::vector<float>{1.0f, -2.0f, 3.0f, 0.5f}));
}

TEST(BiquadFilterProcessing, HistoryRunsOnAcrossCallsWithoutAllocating)
{
    biquad_filter whole, split;
    configure(whole, 0, 500.0f, 0.8f, 0.0f);
    configure(split, 0, 500.0f, 0.8f, 0.0f);
    std::vector<float> a = eq_test_signal(1000), b = a;
    whole.compute_filter_inplace(a.data(), 1000);
    // Splitting at a multiple of 256 keeps the anti-denormal offsets at the same samples.
    corvella::test::AllocationCounter counter;
    split.compute_filter_inplace(b.data(), 256);
    split.compute_filter_inplace(b.data() + 256, 744);
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(a, b);
}

} // namespace
