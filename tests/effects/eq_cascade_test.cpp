// Five-band cascades: agreement with a double-precision model of the 2x scheme, bypass, the LFO
// modulation of the master equaliser, the IR sweeps, denormals and allocation-free processing.
#include "effects/eq_cascade.h"

#include "convolution/ipps.h"
#include "program/vst_plugin_program.h"
#include "support/allocation_counter.h"

#include "eq_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace corvella::test;

struct band_setting {
    int mode;
    float f0, q, gain;
};

constexpr band_setting five_bands[5] = {{2, 400.0f, 0.7f, 4.0f},
                                        {4, 900.0f, 2.0f, -6.0f},
                                        {4, 3500.0f, 1.0f, 5.0f},
                                        {3, 9000.0f, 0.8f, -3.0f},
                                        {0, 17000.0f, 0.7f, 0.0f}};

// Five bands of one channel at 48 kHz.
struct cascade {
    std::unique_ptr<biquad_filter_upsampling> b[5];

    cascade()
    {
        for (int i = 0; i < 5; ++i) {
            b[i] = std::make_unique<biquad_filter_upsampling>();
            b[i]->set_freq_fs(48000.0f);
            b[i]->set_freq_max_f0(24000.0f);
            b[i]->set_freq_f0(five_bands[i].f0);
            b[i]->set_q(five_bands[i].q);
            b[i]->set_mode(five_bands[i].mode);
            b[i]->set_gain_db(five_bands[i].gain);
            b[i]->set_toggle(1.0f);
            b[i]->compute_coeffs();
        }
    }
    void run(float* x, int n)
    {
        compute_5x_cascade(x, n, 0, nullptr, nullptr, b[0].get(), b[1].get(), b[2].get(), b[3].get(),
                           b[4].get(), 48000);
    }
    void display_step()
    {
        compute_coeffs_with_lfo_mod(b[0].get(), b[1].get(), b[2].get(), b[3].get(), b[4].get(), 48000);
    }
};

// The five bands' cookbook coefficients at the doubled rate.
model_2x five_band_model()
{
    std::vector<biquad_d> bands;
    for (band_setting const& s : five_bands)
        bands.push_back(cookbook(s.mode, s.f0, s.q, s.gain, 96000.0));
    return model_2x(bands);
}

std::vector<float> test_signal(int n)
{
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] =
            static_cast<float>(0.4 * std::sin(2.0 * pi * 440.0 * i / 48000.0) +
                               0.3 * std::sin(2.0 * pi * 7919.0 * i / 48000.0) + (i % 11 == 0 ? 0.25 : 0.0));
    return x;
}

void expect_near(std::vector<float> const& actual, std::vector<double> const& expected, double tolerance)
{
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_NEAR(actual[i], expected[i], tolerance) << "sample " << i;
}

void expect_coefficients_near(biquad_coefficients const& got, biquad_coefficients const& want, double tol)
{
    EXPECT_NEAR(got.b0, want.b0, tol);
    EXPECT_NEAR(got.b1, want.b1, tol);
    EXPECT_NEAR(got.b2, want.b2, tol);
    EXPECT_NEAR(got.a1, want.a1, tol);
    EXPECT_NEAR(got.a2, want.a2, tol);
}

// Normalised coefficients of `band`'s settings for (gain, f0), computed by a separate band.
biquad_coefficients coefficients_for(biquad_filter_upsampling const& band, float gain, float f0)
{
    biquad_filter_upsampling ref;
    ref.set_freq_fs(band.get_base_rate());
    ref.set_q(band.get_q());
    ref.set_mode(band.get_mode());
    ref.set_toggle(band.get_toggle());
    ref.compute_coeffs_specific(gain, f0);
    return ref.normalised_coefficients();
}

// ---------------------------------------------------------------------------------------------
// Filtering

TEST(EqCascadeFiltering, FiveBandsMatchTheSeriesModelAtTheDoubledRate)
{
    cascade c;
    std::vector<float> x = test_signal(4096);
    std::vector<double> const expected = five_band_model().run(x.data(), 4096);
    for (int p = 0; p < 4096; p += 32)
        c.run(x.data() + p, 32);
    expect_near(x, expected, 3e-4);
}

TEST(EqCascadeFiltering, SwitchedOffBandsAreSkippedAndTheLowPassStays)
{
    for (int on = 0; on < 5; ++on) {
        cascade c;
        for (int i = 0; i < 5; ++i)
            if (i != on) c.b[i]->set_toggle(0.0f);
        // The lone band runs with its own low-pass, the cascade with the first band's.
        biquad_filter_upsampling alone;
        alone.copy_settings(c.b[on].get());
        std::vector<float> a = test_signal(1000), b = test_signal(1000);
        for (int p = 0; p < 1000; p += 40) {
            c.run(a.data() + p, 40);
            alone.compute_filter_inplace(b.data() + p, 40, 0);
        }
        EXPECT_EQ(a, b) << "band " << on;
    }
    cascade off;
    for (auto& b : off.b)
        b->set_toggle(0.0f);
    std::vector<float> x = test_signal(2048);
    std::vector<double> const expected = model_2x({}).run(x.data(), 2048);
    off.run(x.data(), 2048);
    expect_near(x, expected, 1e-5);
}

TEST(EqCascadeFiltering, MissingBandsOrBufferLeaveTheSignalAlone)
{
    cascade c;
    std::vector<float> x(64, 0.5f);
    compute_5x_cascade(x.data(), 64, 0, nullptr, nullptr, c.b[0].get(), nullptr, c.b[2].get(), c.b[3].get(),
                       c.b[4].get(), 48000);
    compute_5x_cascade(nullptr, 64, 0, nullptr, nullptr, c.b[0].get(), c.b[1].get(), c.b[2].get(),
                       c.b[3].get(), c.b[4].get(), 48000);
    c.run(x.data(), 0);
    EXPECT_EQ(x, std::vector<float>(64, 0.5f));
    compute_coeffs_with_lfo_mod(nullptr, c.b[1].get(), c.b[2].get(), c.b[3].get(), c.b[4].get(), 48000);
    EXPECT_EQ(c.b[1]->get_lfo1_counter(), 0);
}

TEST(EqCascadeFiltering, StateRecordHoldsTheAntiImageTaps)
{
    IIRState_32f state;
    state.delay_line[3] = 7.0f;
    corvella::init_cascade_state(state);
    for (int k = 0; k < 6; ++k) {
        EXPECT_FLOAT_EQ(state.taps[k], static_cast<float>(lp_b[k]));
        EXPECT_FLOAT_EQ(state.taps[6 + k], static_cast<float>(lp_a[k]));
    }
    EXPECT_EQ(std::vector<float>(state.delay_line, state.delay_line + 10), std::vector<float>(10, 0.0f));
}

// ---------------------------------------------------------------------------------------------
// Master equaliser modulation

TEST(EqCascadeModulation, CoefficientsFollowTheLfosBlockByBlock)
{
    cascade c;
    biquad_filter_upsampling& band = *c.b[2]; // peak at 3500 Hz, +5 dB
    band.set_lfo1_rate_hz(3.0f);              // gain: period 32000 doubled-rate samples
    band.set_lfo2_rate_hz(5.0f);              // frequency: period 19200
    band.set_freq_mod(4000.0f);               // depth 2000 Hz
    band.set_gain_db_mod(6.0f);
    band.set_unity_range_freq_mod_phase(0.1f);
    band.set_unity_range_gain_db_mod_phase(0.6f);
    biquad_coefficients const band0_before = c.b[0]->normalised_coefficients();

    std::vector<float> x = test_signal(32);
    for (int call = 1; call <= 400; ++call) {
        c.run(x.data(), 32);
        int const c1 = (64 * call) % 32000, c2 = (64 * call) % 19200;
        ASSERT_EQ(band.get_lfo1_counter(), c1);
        ASSERT_EQ(band.get_lfo2_counter(), c2);
        double const f = 3500.0 + 2000.0 * std::sin(2.0 * pi * (0.1 + c2 / 19200.0));
        double const g = 5.0 + 6.0 * std::sin(2.0 * pi * (0.6 + c1 / 32000.0));
        expect_coefficients_near(band.normalised_coefficients(),
                                 coefficients_for(band, static_cast<float>(g), static_cast<float>(f)), 2e-5);
        ASSERT_FLOAT_EQ(band.get_freq_f0(), 3500.0f); // the stored settings stay
        ASSERT_FLOAT_EQ(band.get_gain_db(), 5.0f);
    }
    // Every band's LFOs move, but a band without depth keeps its coefficients.
    EXPECT_EQ(c.b[0]->get_lfo1_counter(), (64 * 400) % 96000);
    expect_coefficients_near(c.b[0]->normalised_coefficients(), band0_before, 0.0);
}

TEST(EqCascadeModulation, NoDepthAnywhereLeavesTheLfosStillButTheDisplayStepsOn)
{
    cascade c;
    std::vector<float> x = test_signal(32);
    c.run(x.data(), 32);
    for (auto& b : c.b)
        EXPECT_EQ(b->get_lfo1_counter() + b->get_lfo2_counter(), 0);
    // The editor's display advances one base sample (two doubled-rate samples) per call.
    c.display_step();
    c.display_step();
    for (auto& b : c.b) {
        EXPECT_EQ(b->get_lfo1_counter(), 4);
        EXPECT_EQ(b->get_lfo2_counter(), 4);
    }
}

TEST(EqCascadeModulation, ModulatedValuesAreClamped)
{
    cascade c;
    biquad_filter_upsampling& band = *c.b[3];
    band.set_freq_f0(20000.0f);
    band.set_gain_db(15.0f);
    band.set_freq_mod(24000.0f); // depth 12000 Hz: 32 kHz at the peak
    band.set_gain_db_mod(10.0f);
    band.set_unity_range_freq_mod_phase(0.25f);
    band.set_unity_range_gain_db_mod_phase(0.25f);
    band.set_lfo1_rate_hz(0.1f);
    band.set_lfo2_rate_hz(0.1f);
    c.display_step();
    expect_coefficients_near(band.normalised_coefficients(), coefficients_for(band, 20.0f, 24000.0f), 1e-5);

    // The trough of a deep frequency swing stops at 20 Hz, and of the gain at -20 dB.
    band.set_freq_f0(3000.0f);
    band.set_gain_db(-15.0f);
    band.set_unity_range_freq_mod_phase(0.75f);
    band.set_unity_range_gain_db_mod_phase(0.75f);
    c.display_step();
    expect_coefficients_near(band.normalised_coefficients(), coefficients_for(band, -20.0f, 20.0f), 1e-5);
}

TEST(EqCascadeSafety, ModulatedCascadeAllocatesNothingAndDecaysWithoutDenormals)
{
    cascade c;
    for (auto& b : c.b) {
        b->set_freq_mod(2000.0f);
        b->set_gain_db_mod(3.0f);
    }
    std::vector<float> x = test_signal(32);
    long allocations = -1;
    {
        AllocationCounter counter;
        for (int i = 0; i < 10; ++i)
            c.run(x.data(), 32);
        c.display_step();
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);

    // Without flush-to-zero the anti-denormal offset alone must keep the recursions normal.
    ippSetFlushToZero(0, nullptr);
    ippSetDenormAreZeros(0);
    cascade plain;
    std::fill(x.begin(), x.end(), 0.0f);
    x[0] = 1.0f;
    int subnormals = 0;
    for (int block = 0; block < 20000; ++block) {
        plain.run(x.data(), 32);
        for (float v : x)
            subnormals += std::fpclassify(v) == FP_SUBNORMAL;
        std::fill(x.begin(), x.end(), 0.0f);
    }
    EXPECT_EQ(subnormals, 0);
}

// ---------------------------------------------------------------------------------------------
// IR equaliser sweeps

TEST(EqCascadeSweeps, SweepLaws)
{
    using corvella::ir_eq_sweep_frequency;
    using corvella::ir_eq_sweep_gain;
    double const glide_midpoint = 8000.0 - 7000.0 * (1.0 - 0.09 / 0.99); // 1 - (0.1^(2t) - 0.01) / 0.99
    // Linear at shape 0.1 or below.
    EXPECT_FLOAT_EQ(ir_eq_sweep_frequency(1000.0f, 5000.0f, 0.25f, 0.1f), 2000.0f);
    EXPECT_FLOAT_EQ(ir_eq_sweep_gain(-6.0f, 6.0f, 0.75f, 0.0f), 3.0f);
    // Falling glide fast at first, rising glide slow at first: both meet at the same midpoint.
    for (auto [start, end] : {std::pair{8000.0f, 1000.0f}, {1000.0f, 8000.0f}}) {
        EXPECT_NEAR(ir_eq_sweep_frequency(start, end, 0.0f, 0.5f), start, 1e-2);
        EXPECT_NEAR(ir_eq_sweep_frequency(start, end, 1.0f, 0.5f), end, 1e-2);
        EXPECT_NEAR(ir_eq_sweep_frequency(start, end, 0.5f, 0.5f), glide_midpoint, 1e-2);
    }
    // Raised cosine for the gain.
    EXPECT_NEAR(ir_eq_sweep_gain(-12.0f, 4.0f, 0.5f, 0.7f), -4.0f, 1e-5);
    EXPECT_NEAR(ir_eq_sweep_gain(-12.0f, 4.0f, 0.0f, 0.7f), -12.0f, 1e-5);
    EXPECT_NEAR(ir_eq_sweep_gain(-12.0f, 4.0f, 0.25f, 0.7f), -12.0 + 16.0 * (0.5 - 0.5 * std::cos(pi / 4)),
                1e-4);
    // Positions: (int)(u^2 x scale).
    EXPECT_EQ(corvella::ir_eq_sweep_position(0.5f, 48000.0), 12000);
    EXPECT_EQ(corvella::ir_eq_sweep_position(1.0f, 1000.0), 1000);
    EXPECT_EQ(corvella::ir_eq_sweep_position(0.0f, 1000.0), 0);
}

// Two channels of IR equaliser bands; channel 1 set differently, since the pass must copy
// channel 0's settings over.
struct ir_eq {
    cascade ch[2];
    biquad_filter_upsampling* bands[2][5];

    ir_eq()
    {
        for (int b = 0; b < 5; ++b) {
            bands[0][b] = ch[0].b[b].get();
            bands[1][b] = ch[1].b[b].get();
            ch[1].b[b]->set_gain_db(-20.0f);
            ch[1].b[b]->compute_coeffs();
        }
    }
    // Runs the pass over two copies of `input`; the channels must come out identical.
    std::vector<float> run(std::vector<float> const& input, corvella::ir_eq_band_sweep const (&sweeps)[5],
                           bool on)
    {
        std::vector<float> left = input, right = input;
        float* ir[2] = {left.data(), right.data()};
        corvella::process_ir_eq_sweeps(ir, static_cast<int>(input.size()), 2, bands, sweeps, on, 48000);
        EXPECT_EQ(left, right);
        return left;
    }
};

TEST(EqCascadeSweeps, InactiveSweepsFilterWithTheStartValues)
{
    int const frames = 6000;
    std::vector<float> const input = test_signal(frames);
    std::vector<double> const expected = five_band_model().run(input.data(), frames);

    ir_eq off;
    off.bands[0][2]->set_unity_range_gain_db_end(1.0f); // would sweep, but sweeps are off
    corvella::ir_eq_band_sweep sweeps[5];
    sweeps[2] = {0, frames, 0, frames, 0.0f, 0.0f};
    expect_near(off.run(input, sweeps, false), expected, 3e-4);

    // A frequency end of exactly 20 Hz or less, or a start not before the end, does not sweep either.
    ir_eq on;
    on.bands[0][1]->set_unity_range_freq_f0_end(0.0f);
    sweeps[1] = {0, frames, 0, 0, 0.0f, 0.0f};
    sweeps[2] = {frames, frames, 0, 0, 0.0f, 0.0f};
    expect_near(on.run(input, sweeps, true), expected, 3e-4);
}

TEST(EqCascadeSweeps, ActiveSweepsMatchTheChunkedModel)
{
    int const frames = 8000, chunk = 128; // chunks of min(8000 / 32, 128) samples
    std::vector<float> const input = test_signal(frames);
    ir_eq eq;
    biquad_filter_upsampling& fb = *eq.bands[0][2]; // 3500 Hz, +5 dB peak
    fb.set_unity_range_freq_f0_end(0.6f);
    biquad_filter_upsampling& gb = *eq.bands[0][0]; // low shelf +4 dB
    gb.set_unity_range_gain_db_end(0.25f);
    float const f_start = fb.get_freq_f0(), f_end = fb.get_freq_f0_end();
    float const g_start = gb.get_gain_db(), g_end = gb.get_gain_db_end();
    ASSERT_GT(f_end, 20.0f);
    ASSERT_GT(g_end, -20.0f);

    corvella::ir_eq_band_sweep sweeps[5];
    sweeps[2] = {1000, 5000, 0, 0, 0.5f, 0.0f}; // exponential frequency glide
    sweeps[0] = {0, 0, 2000, 7000, 0.0f, 0.5f}; // raised-cosine gain
    std::vector<float> const out = eq.run(input, sweeps, true);

    model_2x model = five_band_model();
    double f = f_start, g = g_start;
    std::vector<double> expected;
    for (int p = 0; p < frames; p += chunk) {
        if (p >= 1000 && p <= 5000) {
            double const t = (p - 1000) / 4000.0;
            double const e = f_start > f_end ? 1.0 - (std::pow(0.1, 2.0 * t) - 0.01) / 0.99
                                             : 1.0 - (std::pow(0.1, 2.0 * (1.0 - t)) - 0.01) / 0.99;
            f = f_start > f_end ? f_start + (f_end - f_start) * e : f_end - (f_end - f_start) * e;
        }
        if (p >= 2000 && p <= 7000) {
            double const t = (p - 2000) / 5000.0;
            g = g_start + (g_end - g_start) * (std::sin(pi * t - pi / 2) * 0.5 + 0.5);
        }
        model.bands[2] = cookbook(4, f, five_bands[2].q, five_bands[2].gain, 96000.0);
        model.bands[0] = cookbook(2, five_bands[0].f0, five_bands[0].q, g, 96000.0);
        std::vector<double> const part = model.run(input.data() + p, std::min(chunk, frames - p));
        expected.insert(expected.end(), part.begin(), part.end());
    }
    expect_near(out, expected, 5e-4);
    // Past its window a band keeps the value of the last chunk inside it (t = 3992 / 4000 here).
    expect_coefficients_near(eq.bands[1][2]->normalised_coefficients(),
                             coefficients_for(fb, 5.0f, static_cast<float>(f)), 1e-5);
    EXPECT_FLOAT_EQ(fb.get_freq_f0(), f_start); // the start settings stay stored
}

TEST(EqCascadeMaster, BandsFollowTheProgramSettings)
{
    VST_Plugin_Program program{};
    program.flt2_toggle = 1.0f;
    program.flt2_mode = 1.0f;
    program.flt2_freq = 0.5f;
    program.flt2_freq_mod = 0.8f;
    program.flt2_freq_mod_phase = 0.3f;
    program.flt2_gain = 1.0f;
    program.flt2_gain_mod = 0.25f;
    program.flt2_gain_mod_phase = 0.4f;
    program.flt2_q = 0.5f;
    ir_eq eq;
    corvella::update_master_filter_coeffs_all(program, eq.bands, 44100.0f, 22050.0f, 0.5f, 2.0f);
    for (int c = 0; c < 2; ++c) {
        biquad_filter_upsampling const& b = *eq.bands[c][1];
        EXPECT_FLOAT_EQ(b.get_freq_fs(), 88200.0f);
        EXPECT_FLOAT_EQ(b.get_toggle(), 1.0f);
        EXPECT_EQ(b.get_mode(), 4); // unity 1 with the full-band restriction
        EXPECT_NEAR(b.get_freq_f0(),
                    (std::pow(10.0, (std::pow(10.0, 0.5) - 1.0) / 9.0) - 1.0) / 9.0 * 22050.0, 0.01);
        EXPECT_FLOAT_EQ(b.get_gain_db(), 20.0f);
        EXPECT_FLOAT_EQ(b.get_gain_db_mod(), 5.0f);
        EXPECT_FLOAT_EQ(b.get_gain_db_mod_phase(), 0.4f);
        EXPECT_FLOAT_EQ(b.get_freq_mod_phase(), 0.3f);
        EXPECT_FLOAT_EQ(b.get_q(), 1.0f);
        EXPECT_FLOAT_EQ(b.get_lfo1_rate_hz(), 0.5f);
        EXPECT_FLOAT_EQ(b.get_lfo2_rate_hz(), 2.0f);
        expect_coefficients_near(b.normalised_coefficients(), coefficients_for(b, 20.0f, b.get_freq_f0()),
                                 1e-6);
    }
    EXPECT_EQ(eq.bands[0][0]->get_toggle(), 0.0f); // band 1's settings are all zero in this record: off
}

} // namespace
