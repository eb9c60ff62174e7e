// The equaliser band: setters and unity mappings, mode selection, cookbook responses, filtering.
#include "effects/biquad_filter.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double pi = std::numbers::pi;

// A band set up for audio at 48 kHz.
void configure(biquad_filter& band, int mode, float f0, float q, float gain_db)
{
    band.set_freq_fs(48000.0f);
    band.set_freq_max_f0(24000.0f);
    band.set_freq_f0(f0);
    band.set_q(q);
    band.set_mode(mode);
    band.set_gain_db(gain_db);
    band.set_toggle(1.0f);
    band.compute_coeffs();
}

// Steady-state gain at `hz` (48 kHz). 0 Hz and 24 kHz feed a constant or an alternating signal and
// read the settled output; other frequencies filter a long sine and correlate its second half.
double measured_gain(biquad_filter& band, double hz)
{
    int const total = 96000, measured = 48000;
    std::vector<float> x(total);
    for (int i = 0; i < total; ++i)
        x[i] = hz == 0.0       ? 1.0f
               : hz == 24000.0 ? (i % 2 ? -1.0f : 1.0f)
                               : std::sin(2.0 * pi * hz * i / 48000.0);
    band.compute_filter_inplace(x.data(), total);
    if (hz == 0.0 || hz == 24000.0) return std::fabs(x.back());
    double s = 0.0, c = 0.0;
    for (int i = total - measured; i < total; ++i) {
        s += x[i] * std::sin(2.0 * pi * hz * i / 48000.0);
        c += x[i] * std::cos(2.0 * pi * hz * i / 48000.0);
    }
    return 2.0 * std::sqrt(s * s + c * c) / measured;
}

bool same(biquad_coefficients const& a, biquad_coefficients const& b)
{
    return a.b0 == b.b0 && a.b1 == b.b1 && a.b2 == b.b2 && a.a0 == b.a0 && a.a1 == b.a1 && a.a2 == b.a2;
}

// ---------------------------------------------------------------------------------------------
// Settings and unity values

TEST(BiquadFilterSettings, SettersKeepValuesInRangeOrReplaceThem)
{
    biquad_filter band;
    auto q = [&](float v) { return band.set_q(v), band.get_q(); };
    EXPECT_EQ(q(4.5f), 4.5f);
    EXPECT_EQ(q(12.0f), 1.0f);
    EXPECT_EQ((q(3.0f), q(-1.0f)), 1.0f);
    EXPECT_EQ(q(10.0f), 10.0f);
    auto mode = [&](int m) { return band.set_mode(m), band.get_mode(); };
    EXPECT_EQ(mode(3), 3);
    EXPECT_EQ(mode(5), 0);
    EXPECT_EQ((mode(2), mode(-1)), 0);
    auto gain = [&](float db) { return band.set_gain_db(db), band.get_gain_db(); };
    EXPECT_EQ(gain(25.0f), 20.0f);
    EXPECT_EQ(gain(-30.0f), -20.0f);
    auto gain_mod = [&](float db) { return band.set_gain_db_mod(db), band.get_gain_db_mod(); };
    EXPECT_EQ(gain_mod(-15.0f), -15.0f);
    EXPECT_EQ(gain_mod(21.0f), 0.0f);

    band.set_freq_fs(48000.0f);
    auto max_f0 = [&](float hz) { return band.set_freq_max_f0(hz), band.get_freq_max_f0(); };
    EXPECT_EQ(max_f0(30000.0f), 24000.0f); // at most fs / 2
    EXPECT_EQ(max_f0(20000.0f), 20000.0f);
    auto f0 = [&](float hz) { return band.set_freq_f0(hz), band.get_freq_f0(); };
    EXPECT_EQ(f0(5.0f), 20.0f);
    EXPECT_EQ(f0(21000.0f), 20000.0f);
    EXPECT_EQ(f0(1234.0f), 1234.0f);
    band.set_freq_max_f0(24000.0f);
    auto freq_mod = [&](float hz) { return band.set_freq_mod(hz), band.get_freq_mod(); };
    EXPECT_EQ(freq_mod(1000.0f), 500.0f);
    EXPECT_EQ(freq_mod(30000.0f), 12000.0f); // limited by max f0, then halved
    EXPECT_EQ(freq_mod(40.0f), 0.0f);        // 20 Hz or less
    EXPECT_EQ(freq_mod(42.0f), 21.0f);
    auto fs = [&](float hz) { return band.set_freq_fs(hz), band.get_freq_fs(); };
    EXPECT_EQ(fs(-3.0f), 1000.0f);
    EXPECT_EQ((fs(48000.0f), fs(0.0f)), 1000.0f);
}

// A mode outside 0..4 is reachable only through a derived band's restricted selection.
struct raw_mode_band : biquad_filter {
    void force_mode(int m) { mode = m; }
};

TEST(BiquadFilterSettings, ModeTexts)
{
    raw_mode_band band;
    char const* const expected[] = {"H. Cut", "L. Cut", "L. Shelf", "H. Shelf", "Peak", "Error"};
    for (int m = 0; m < 6; ++m) {
        band.force_mode(m == 5 ? 7 : m);
        EXPECT_STREQ(band.get_mode_text_ret(), expected[m]);
    }
}

TEST(BiquadFilterUnity, GainAndQTapersWithTheirRoundTrips)
{
    // Gain: x = 2u - 1, s = (10^|x| - 1) / 9, gain = 20 s sign(x); u = 0.75: s = (10^0.5 - 1) / 9.
    double const quarter = 20.0 * (std::sqrt(10.0) - 1.0) / 9.0;
    biquad_filter band;
    for (auto [u, db] : {std::pair{0.5f, 0.0},
                         {1.0f, 20.0},
                         {0.0f, -20.0},
                         {2.0f, 20.0},
                         {0.75f, quarter},
                         {0.25f, -quarter}}) {
        band.set_unity_range_gain_db(u);
        EXPECT_NEAR(band.get_gain_db(), db, 1e-5) << u;
    }
    band.set_unity_range_gain_db_end(1.0f);
    EXPECT_FLOAT_EQ(band.get_gain_db_end(), 20.0f);
    // Q: 0.1 .. 10 on a log scale.
    for (auto [u, value] : {std::pair{0.5f, 1.0f}, {0.0f, 0.1f}, {1.0f, 10.0f}}) {
        band.set_unity_range_q(u);
        EXPECT_FLOAT_EQ(band.get_q(), value) << u;
    }
    for (int i = 0; i <= 20; ++i) {
        float const u = static_cast<float>(i) / 20.0f;
        band.set_unity_range_gain_db(u);
        EXPECT_NEAR(band.get_unity_range_gain_db(), u, 2e-6) << u;
        band.set_unity_range_q(u);
        EXPECT_NEAR(band.get_unity_range_q(), u, 2e-6) << u;
        EXPECT_NEAR(log_unextend_low_unity_range_mid_pointed(log_extend_low_unity_range_mid_pointed(u)), u,
                    2e-6);
    }
    // The taper on its own: (s + 1) / 2.
    EXPECT_FLOAT_EQ(log_extend_low_unity_range_mid_pointed(0.5f), 0.5f);
    EXPECT_FLOAT_EQ(log_extend_low_unity_range_mid_pointed(1.0f), 1.0f);
    EXPECT_NEAR(log_extend_low_unity_range_mid_pointed(0.0f), 0.0f, 1e-7);
    EXPECT_NEAR(log_extend_low_unity_range_mid_pointed(0.75f), (1.0 + (std::sqrt(10.0) - 1.0) / 9.0) / 2.0,
                1e-6);
}

TEST(BiquadFilterUnity, ModulationDepthsAndPhases)
{
    biquad_filter band;
    band.set_unity_range_gain_db_mod(0.25f);
    EXPECT_EQ(band.get_gain_db_mod(), 5.0f);
    EXPECT_EQ(band.get_unity_range_gain_db_mod(), 0.25f);
    band.set_unity_range_gain_db_mod(1.5f);
    EXPECT_EQ(band.get_gain_db_mod(), 0.0f);
    for (auto [u, phase] : {std::pair{0.3f, 0.3f}, {1.7f, 1.0f}, {-0.2f, 0.0f}}) {
        band.set_unity_range_gain_db_mod_phase(u);
        band.set_unity_range_freq_mod_phase(u);
        EXPECT_EQ(band.get_gain_db_mod_phase(), phase) << u;
        EXPECT_EQ(band.get_freq_mod_phase(), phase) << u;
    }

    // The frequency read back: log10(9 log10(9 f / max + 1) + 1); the depth reads the same way.
    band.set_freq_fs(48000.0f);
    band.set_freq_max_f0(24000.0f);
    band.set_freq_f0(24000.0f);
    EXPECT_NEAR(band.get_unity_range_freq_f0(), 1.0f, 1e-6);
    band.set_freq_f0(1000.0f);
    double const expected = std::log10(9.0 * std::log10(9.0 * 1000.0 / 24000.0 + 1.0) + 1.0);
    EXPECT_NEAR(band.get_unity_range_freq_f0(), expected, 1e-6);
    band.set_freq_mod(2000.0f); // depth 1000 Hz
    EXPECT_NEAR(band.get_unity_range_freq_mod(), expected, 1e-6);
}

TEST(BiquadFilterUnity, ModeSelectionByRestriction)
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
}

// ---------------------------------------------------------------------------------------------
// Coefficients and responses

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
    Case const cases[] = {
        {0, 0.707f, 0.0f, 1000.0, 0.707, 1e-3}, {0, 2.0f, 0.0f, 1000.0, 2.0, 1e-3},
        {1, 0.707f, 0.0f, 1000.0, 0.707, 1e-3}, {1, 2.0f, 0.0f, 1000.0, 2.0, 1e-3},
        {0, 0.707f, 0.0f, 0.0, 1.0, 1e-4},      {1, 0.707f, 0.0f, 24000.0, 1.0, 1e-4},
        {4, 1.5f, 12.0f, 1000.0, full, 2e-3},   {4, 1.5f, -9.0f, 1000.0, std::pow(10.0, -9.0 / 20.0), 2e-3},
        {2, 0.707f, 12.0f, 1000.0, half, 2e-3}, {2, 0.707f, 12.0f, 0.0, full, 2e-3},
        {3, 0.707f, 12.0f, 1000.0, half, 2e-3}, {3, 0.707f, 12.0f, 24000.0, full, 2e-3},
    };
    for (Case const& c : cases) {
        biquad_filter band;
        configure(band, c.mode, 1000.0f, c.q, c.db);
        EXPECT_NEAR(measured_gain(band, c.hz), c.expected, c.tolerance * c.expected)
            << "mode " << c.mode << " Q " << c.q << " " << c.db << " dB at " << c.hz << " Hz";
    }
}

TEST(BiquadFilterResponse, CookbookCoefficientsOfAPeak)
{
    biquad_filter band;
    configure(band, 4, 2000.0f, 2.0f, 6.0f);
    double const a = std::pow(10.0, 6.0 / 40.0), w0 = 2.0 * pi * 2000.0 / 48000.0, alpha = std::sin(w0) / 4.0;
    biquad_coefficients const r = band.raw_coefficients();
    EXPECT_NEAR(r.b0, 1.0 + alpha * a, 1e-6);
    EXPECT_NEAR(r.b1, -2.0 * std::cos(w0), 1e-6);
    EXPECT_NEAR(r.b2, 1.0 - alpha * a, 1e-6);
    EXPECT_NEAR(r.a0, 1.0 + alpha / a, 1e-6);
    EXPECT_NEAR(r.a2, 1.0 - alpha / a, 1e-6);
    biquad_coefficients const n = band.normalised_coefficients();
    EXPECT_NEAR(n.b0, (1.0 + alpha * a) / (1.0 + alpha / a), 1e-6);
    EXPECT_NEAR(n.a1, -2.0 * std::cos(w0) / (1.0 + alpha / a), 1e-6);
    EXPECT_EQ(n.a0, 1.0f);

    // At 0 dB the peak is exactly transparent.
    configure(band, 4, 800.0f, 3.0f, 0.0f);
    biquad_coefficients const flat = band.normalised_coefficients();
    EXPECT_EQ(flat.b0, 1.0f);
    EXPECT_EQ(flat.b1, flat.a1);
    EXPECT_EQ(flat.b2, flat.a2);
}

TEST(BiquadFilterResponse, ToggleAndZeroQGivePassThroughCoefficients)
{
    biquad_filter band;
    configure(band, 0, 1000.0f, 0.0f, 0.0f); // Q 0 would divide by zero
    EXPECT_TRUE(same(band.normalised_coefficients(), biquad_coefficients{}));

    configure(band, 4, 800.0f, 3.0f, 12.0f);
    band.set_toggle(0.4f);
    band.compute_coeffs();
    EXPECT_TRUE(same(band.normalised_coefficients(), biquad_coefficients{}));
    // Filtering still runs (the toggle is not exactly 0), adding only the anti-denormal offset:
    // twice at sample 0, once at every later multiple of 256.
    std::vector<float> x(600, 0.0f);
    band.compute_filter_inplace(x.data(), 600);
    float const offset = 1.2128485e-10f;
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(x[i], i == 0 ? offset + offset : (i % 256 == 0 ? offset : 0.0f)) << i;

    // A toggle of exactly 0 skips filtering altogether.
    configure(band, 0, 100.0f, 1.0f, 0.0f);
    band.set_toggle(0.0f);
    std::vector<float> y = {1.0f, -2.0f, 3.0f, 0.5f};
    band.compute_filter_inplace(y.data(), 4);
    EXPECT_EQ(y, (std::vector<float>{1.0f, -2.0f, 3.0f, 0.5f}));
}

TEST(BiquadFilterResponse, SpecificAndDisplayCoefficientsKeepTheStoredSettings)
{
    biquad_filter band, reference;
    configure(band, 4, 1000.0f, 1.0f, 6.0f);
    biquad_coefficients const before = band.normalised_coefficients();
    band.compute_coeffs_view(-12.0f, 5000.0f);
    EXPECT_TRUE(same(band.normalised_coefficients(), before));
    configure(reference, 4, 5000.0f, 1.0f, -12.0f);
    EXPECT_TRUE(same(band.normalised_view_coefficients(), reference.normalised_coefficients()));

    band.compute_coeffs_specific(-6.0f, 3000.0f);
    EXPECT_EQ(band.get_gain_db(), 6.0f);
    EXPECT_EQ(band.get_freq_f0(), 1000.0f);
    configure(reference, 4, 3000.0f, 1.0f, -6.0f);
    EXPECT_TRUE(same(band.normalised_coefficients(), reference.normalised_coefficients()));
}

// ---------------------------------------------------------------------------------------------
// Filtering state and copies

TEST(BiquadFilterProcessing, HistoryRunsOnAcrossCallsWithoutAllocating)
{
    biquad_filter whole, split;
    configure(whole, 0, 500.0f, 0.8f, 0.0f);
    configure(split, 0, 500.0f, 0.8f, 0.0f);
    std::vector<float> a(1000), b(1000);
    for (int i = 0; i < 1000; ++i)
        a[i] = b[i] = static_cast<float>(std::sin(0.05 * i) + 0.3 * std::sin(1.3 * i));
    whole.compute_filter_inplace(a.data(), 1000);
    // Splitting at multiples of 256 keeps the anti-denormal offsets at the same samples.
    corvella::test::AllocationCounter counter;
    split.compute_filter_inplace(b.data(), 256);
    split.compute_filter_inplace(b.data() + 256, 744);
    EXPECT_EQ(counter.count(), 0);
    for (int i = 0; i < 1000; ++i)
        ASSERT_NEAR(a[i], b[i], 1e-9) << i;
}

TEST(BiquadFilterProcessing, CopySettingsCopiesSettingsButNotStateOrRestriction)
{
    biquad_filter source;
    configure(source, 3, 4000.0f, 2.5f, -7.0f);
    source.set_lfo1_rate_hz(3.0f);
    source.set_lfo2_rate_hz(0.5f);
    source.set_unity_range_gain_db_end(0.9f);
    source.set_freq_mod(3000.0f);
    source.set_unity_range_freq_mod_phase(0.25f);
    source.set_gain_db_mod(4.0f);
    source.set_mode_restrict(3);
    source.set_unity_range_mode(0.6f); // restriction 3, k = 1: "H. Cut"
    source.compute_coeffs();
    std::vector<float> noise(64, 1.0f);
    source.compute_filter_inplace(noise.data(), 64); // leaves history behind

    biquad_filter copy;
    copy.copy_settings(&source);
    using Getter = float (biquad_filter::*)() const;
    for (Getter get :
         {&biquad_filter::get_q, &biquad_filter::get_freq_f0, &biquad_filter::get_freq_fs,
          &biquad_filter::get_freq_max_f0, &biquad_filter::get_gain_db, &biquad_filter::get_gain_db_end,
          &biquad_filter::get_freq_mod, &biquad_filter::get_freq_mod_phase, &biquad_filter::get_gain_db_mod,
          &biquad_filter::get_lfo1_rate_hz, &biquad_filter::get_lfo2_rate_hz, &biquad_filter::get_toggle})
        EXPECT_EQ((copy.*get)(), (source.*get)());
    EXPECT_EQ(copy.get_mode(), 0);
    EXPECT_EQ(copy.get_mode_restrict(), 0);
    EXPECT_EQ(copy.get_unity_mode(), 0.0f);
    EXPECT_TRUE(same(copy.raw_coefficients(), source.raw_coefficients()));
    EXPECT_TRUE(same(copy.normalised_coefficients(), source.normalised_coefficients()));

    // A fresh history: an impulse through the copy equals one through a new band.
    biquad_filter fresh;
    configure(fresh, 0, 4000.0f, 2.5f, -7.0f);
    std::vector<float> a(32, 0.0f), b(32, 0.0f);
    a[0] = b[0] = 1.0f;
    copy.compute_filter_inplace(a.data(), 32);
    fresh.compute_filter_inplace(b.data(), 32);
    EXPECT_EQ(a, b);
}

} // namespace
