// Five-band cascades: the LFO modulation of the master equaliser, the IR sweeps against a
// double-precision model of the 2x scheme, the program mapping, bad input, denormals and
// allocation-free processing.
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

// clang-format off
constexpr band_setting five_bands[5] = {{2, 400.0f, 0.7f, 4.0f}, {4, 900.0f, 2.0f, -6.0f}, {4, 3500.0f, 1.0f, 5.0f},
                                        {3, 9000.0f, 0.8f, -3.0f}, {0, 17000.0f, 0.7f, 0.0f}};
// clang-format on

// Five bands of one channel at 48 kHz.
struct cascade {
    std::unique_ptr<biquad_filter_upsampling> b[5];

    cascade()
    {
        for (int i = 0; i < 5; ++i) {
            b[i] = std::make_unique<biquad_filter_upsampling>();
            configure(*b[i], five_bands[i].mode, five_bands[i].f0, five_bands[i].q, five_bands[i].gain);
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

model_2x five_band_model()
{
    std::vector<biquad_d> bands;
    for (band_setting const& s : five_bands)
        bands.push_back(cookbook(s.mode, s.f0, s.q, s.gain, 96000.0));
    return model_2x(bands);
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

TEST(EqCascadeModulation, CoefficientsFollowTheLfosBlockByBlock)
{
    cascade c;
    std::vector<float> x = eq_test_signal(32);
    c.run(x.data(), 32); // no depth anywhere: the LFOs stand still
    for (auto& b : c.b)
        EXPECT_EQ(b->get_lfo1_counter() + b->get_lfo2_counter(), 0);

    biquad_filter_upsampling& band = *c.b[2]; // peak at 3500 Hz, +5 dB
    band.set_lfo1_rate_hz(3.0f);              // gain: period 32000 doubled-rate samples
    band.set_lfo2_rate_hz(5.0f);              // frequency: period 19200
    band.set_freq_mod(4000.0f);               // depth 2000 Hz
    band.set_gain_db_mod(6.0f);
    band.set_unity_range_freq_mod_phase(0.1f);
    band.set_unity_range_gain_db_mod_phase(0.6f);
    biquad_coefficients const band0_before = c.b[0]->normalised_coefficients();
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
    // Every band's LFOs move, but a band without depth keeps its coefficients; the editor's display
    // step moves on by one base sample, two doubled-rate samples.
    c.display_step();
    EXPECT_EQ(c.b[0]->get_lfo1_counter(), (64 * 400 + 2) % 96000);
    EXPECT_EQ(band.get_lfo2_counter(), (64 * 400 + 2) % 19200);
    expect_coefficients_near(c.b[0]->normalised_coefficients(), band0_before, 0.0);
}

// Phases of 0.25 start at the sine's peak, 0.75 at its trough.
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
    std::vector<float> x = eq_test_signal(32);
    AllocationCounter counter;
    for (int i = 0; i < 10; ++i)
        c.run(x.data(), 32);
    c.display_step();
    EXPECT_EQ(counter.count(), 0);

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

TEST(EqCascadeSweeps, SweepLawsAndPositions)
{
    // Shape 0.1 or less: linear. Above: a falling frequency glide 1 - (0.1^(2t) - 0.01) / 0.99 of the
    // way, fast at first, and a rising one mirrored in time, so both pass the same midpoint; for the
    // gain a raised cosine.
    double const midpoint = 8000.0 - 7000.0 * (1.0 - 0.09 / 0.99);
    struct Case {
        bool frequency;
        float start, end, t, shape;
        double expected;
    };
    // clang-format off
    Case const cases[] = {
        {true, 1000, 5000, 0.25f, 0.1f, 2000}, {false, -6, 6, 0.75f, 0.0f, 3},
        {true, 8000, 1000, 0.0f, 0.5f, 8000},  {true, 8000, 1000, 1.0f, 0.5f, 1000}, {true, 8000, 1000, 0.5f, 0.5f, midpoint},
        {true, 1000, 8000, 0.0f, 0.5f, 1000},  {true, 1000, 8000, 1.0f, 0.5f, 8000}, {true, 1000, 8000, 0.5f, 0.5f, midpoint},
        {false, -12, 4, 0.5f, 0.7f, -4},       {false, -12, 4, 0.25f, 0.7f, -12.0 + 16.0 * (0.5 - 0.5 * std::cos(pi / 4))},
    };
    // clang-format on
    for (Case const& c : cases)
        EXPECT_NEAR(c.frequency ? corvella::ir_eq_sweep_frequency(c.start, c.end, c.t, c.shape)
                                : corvella::ir_eq_sweep_gain(c.start, c.end, c.t, c.shape),
                    c.expected, c.frequency ? 1e-2 : 1e-4)
            << c.start << " to " << c.end << " at " << c.t << ", shape " << c.shape;
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

TEST(EqCascadeSweeps, SweepsMatchTheChunkedModel)
{
    int const frames = 8000, chunk = 128; // chunks of min(8000 / 32, 128) samples
    std::vector<float> const input = eq_test_signal(frames);
    ir_eq eq;
    biquad_filter_upsampling& fb = *eq.bands[0][2]; // 3500 Hz, +5 dB peak
    fb.set_unity_range_freq_f0_end(0.6f);
    biquad_filter_upsampling& gb = *eq.bands[0][0]; // low shelf +4 dB
    gb.set_unity_range_gain_db_end(0.25f);
    float const f_start = fb.get_freq_f0(), f_end = fb.get_freq_f0_end();
    float const g_start = gb.get_gain_db(), g_end = gb.get_gain_db_end();
    ASSERT_GT(f_end, 20.0f);
    ASSERT_GT(g_end, -20.0f);

    // Not sweeping: a frequency end of 20 Hz or less, or a window whose start is not before its end.
    eq.bands[0][1]->set_unity_range_freq_f0_end(0.0f);
    eq.bands[0][3]->set_unity_range_gain_db_end(0.9f);
    corvella::ir_eq_band_sweep sweeps[5];
    sweeps[0] = {0, 0, 2000, 7000, 0.0f, 0.5f}; // raised-cosine gain
    sweeps[1] = {0, frames, 0, 0, 0.0f, 0.0f};
    sweeps[2] = {1000, 5000, 0, 0, 0.5f, 0.0f}; // frequency glide
    sweeps[3] = {0, 0, 3000, 3000, 0.0f, 0.0f};
    std::vector<float> const out = eq.run(input, sweeps, true);

    model_2x model = five_band_model();
    double f = f_start, g = g_start;
    std::vector<double> expected;
    for (int p = 0; p < frames; p += chunk) {
        // The laws themselves are checked above.
        if (p >= 1000 && p <= 5000)
            f = corvella::ir_eq_sweep_frequency(f_start, f_end, (p - 1000) / 4000.0f, 0.5f);
        if (p >= 2000 && p <= 7000)
            g = corvella::ir_eq_sweep_gain(g_start, g_end, (p - 2000) / 5000.0f, 0.5f);
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

    // With sweeps off a second pass over the same bands (histories cleared first) keeps the start values.
    expect_near(eq.run(input, sweeps, false), five_band_model().run(input.data(), frames), 3e-4);
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
        // Rate, mode, centre, gain and Q are measured through the engine's post equaliser.
        biquad_filter_upsampling const& b = *eq.bands[c][1];
        EXPECT_NEAR(b.get_freq_mod(), taper(0.8) * 11025.0, 0.01);
        EXPECT_FLOAT_EQ(b.get_gain_db_mod(), 5.0f);
        EXPECT_FLOAT_EQ(b.get_gain_db_mod_phase(), 0.4f);
        EXPECT_FLOAT_EQ(b.get_freq_mod_phase(), 0.3f);
        EXPECT_FLOAT_EQ(b.get_lfo1_rate_hz(), 0.5f);
        EXPECT_FLOAT_EQ(b.get_lfo2_rate_hz(), 2.0f);
        expect_coefficients_near(b.normalised_coefficients(), coefficients_for(b, 20.0f, b.get_freq_f0()),
                                 1e-6);
    }
    EXPECT_EQ(eq.bands[0][0]->get_toggle(), 0.0f); // band 1's settings are all zero in this record: off
}

} // namespace
