// The post equaliser in the processing frame, measured against a double-precision model of the
// 2x scheme with cookbook coefficients.

#include "engine_fixture.h"

#include "effects/eq_reference.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace corvella::test {
namespace {

constexpr int rate = 48000;

// The frequency taper of the equaliser bands: unity u to a fraction of the highest centre.
double taper(double u)
{
    return (std::pow(10.0, (std::pow(10.0, u) - 1.0) / 9.0) - 1.0) / 9.0;
}

// The wet path of a unit-impulse IR at unity gains, so that the output is the post equaliser's.
class PostEq : public EngineTest {
protected:
    std::unique_ptr<VST_Plugin> engine_with_band(int sr_norm, void (*band)(VST_Plugin_Program&))
    {
        auto engine = make_engine(0, rate, sr_norm);
        set_unity_program(*engine);
        FourChannelIr ir(sparse(1, {{0, 1.0f}}));
        EXPECT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            p.flt_master_toggle = 1.0f;
            band(p);
        });
        engine->update_master_filter_coeffs_all(); // as the host binding pushes it
        return engine;
    }
};

TEST_F(PostEq, BandsFilterTheOutputAsTheTwoTimesSchemeAndTheMasterSwitchBypassesThem)
{
    // A peak on an inner band: Q = 10^1.5 / 10 at unity 0.75, +20 dB; centre on the 22.05 kHz ceiling
    // of "SRNorm" 0.
    auto peak = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt2_toggle = 1.0f;
        p.flt2_mode = 0.0f;
        p.flt2_freq = 0.5f;
        p.flt2_gain = 1.0f;
        p.flt2_q = 0.75f;
    });
    StereoSignal const in{noise_burst(20000, 20000, 61), noise_burst(20000, 20000, 62)};
    StereoSignal out = run_stereo(*peak, in);
    model_2x peak_model({cookbook(4, taper(0.5) * 22050.0, std::pow(10.0, 1.5) / 10.0, 20.0, 2.0 * rate)});
    EXPECT_LT(relative_error_db(out.left, peak_model.run(in.left.data(), 20000)), -70.0);

    // A low shelf offered by the lowest band at the top of its range; "SRNorm" 1 puts the ceiling at
    // half the engine rate. Gain taper: x = 2u - 1 = -0.6, gain = -20 (10^0.6 - 1) / 9 dB.
    auto shelf = engine_with_band(1, [](VST_Plugin_Program& p) {
        p.flt1_toggle = 1.0f;
        p.flt1_mode = 1.0f;
        p.flt1_freq = 0.3f;
        p.flt1_gain = 0.2f;
        p.flt1_q = 0.5f;
    });
    out = run_stereo(*shelf, in);
    biquad_d const shelf_band =
        cookbook(2, taper(0.3) * 24000.0, 1.0, -20.0 * (std::pow(10.0, 0.6) - 1.0) / 9.0, 2.0 * rate);
    EXPECT_LT(relative_error_db(out.left, model_2x({shelf_band}).run(in.left.data(), 20000)), -70.0);
    EXPECT_LT(relative_error_db(out.right, model_2x({shelf_band}).run(in.right.data(), 20000)), -70.0);

    auto off = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt_master_toggle = 0.0f;
        p.flt2_toggle = 1.0f;
        p.flt2_gain = 1.0f;
    });
    EXPECT_EQ(run_stereo(*off, in).left, in.left);
}

TEST_F(PostEq, GainModulationMovesTheBandAndTheEditorSeesIt)
{
    // A 1 Hz gain LFO of 20 dB depth on a peak band, fed a sine at its centre: over one second the
    // output level swings and the display fields follow the gain on both channels, while the
    // unmodulated centre frequency stays put.
    auto engine = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt3_toggle = 1.0f;
        p.flt3_freq = 0.5f;
        p.flt3_gain = 0.5f;
        p.flt3_gain_mod = 1.0f;
        p.lfo1_rate = 0.5f;                     // 100^0.5 / 10 = 1 Hz
        p.master_mixer_modulation_order = 1.0f; // the pre-order loop copies the display fields
    });
    double const f0 = taper(0.5) * 22050.0;
    Signal sine(rate / 10);
    double quietest = 1e9, loudest = 0.0, lowest = 1e9, highest = -1e9;
    for (int block = 0; block < 10; ++block) {
        for (size_t i = 0; i < sine.size(); ++i)
            sine[i] = static_cast<float>(
                0.1 * std::sin(2.0 * pi * f0 * static_cast<double>(i + block * sine.size()) / rate));
        Signal const out = run_stereo(*engine, {sine, sine}, {480}).left;
        double const peak = std::fabs(out[peak_position(out)]);
        quietest = std::min(quietest, peak);
        loudest = std::max(loudest, peak);
        double const shown = engine->post_eq_display_gain_db[0][2].load();
        EXPECT_EQ(shown, engine->post_eq_display_gain_db[1][2].load());
        EXPECT_NEAR(engine->post_eq_display_f0[0][2].load(), f0, 1.0);
        lowest = std::min(lowest, shown);
        highest = std::max(highest, shown);
    }
    EXPECT_GT(20.0 * std::log10(loudest / quietest), 20.0);
    EXPECT_LT(lowest, -15.0);
    EXPECT_GT(highest, 15.0);
    EXPECT_EQ(engine->post_eq_display_gain_db[0][0].load(), 0.0f); // an unmodulated band at 0 dB
}

} // namespace
} // namespace corvella::test
