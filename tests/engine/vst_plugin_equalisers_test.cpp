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
        Signal const delta = delayed_impulse(1, 0);
        FourChannelIr ir(delta, delta, delta, delta);
        EXPECT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        std::vector<VST_Plugin_Program> bank(engine->programs, engine->programs + programs_per_bank);
        bank[0].flt_master_toggle = 1.0f;
        band(bank[0]);
        engine->update_programs(bank.data(), 0);
        engine->update_master_filter_coeffs_all(); // as the host binding pushes it
        return engine;
    }
};

TEST_F(PostEq, APeakBandFiltersTheOutputAsTheTwoTimesScheme)
{
    auto engine = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt2_toggle = 1.0f;
        p.flt2_mode = 0.0f; // inner bands are peaks
        p.flt2_freq = 0.5f;
        p.flt2_gain = 1.0f; // +20 dB
        p.flt2_q = 0.75f;   // Q = 10^1.5 / 10
    });
    double const f0 = taper(0.5) * 22050.0;
    model_2x model({cookbook(4, f0, std::pow(10.0, 1.5) / 10.0, 20.0, 2.0 * rate)});

    StereoSignal const in{noise_burst(20000, 20000, 61), noise_burst(20000, 20000, 62)};
    StereoSignal const out = run_stereo(*engine, in);
    EXPECT_LT(relative_error_db(out.left, model.run(in.left.data(), 20000)), -70.0);
}

TEST_F(PostEq, ALowShelfOnTheFirstBandAtTheEngineRateCeiling)
{
    // "SRNorm" 1: the highest centre frequency is half the engine rate.
    auto engine = engine_with_band(1, [](VST_Plugin_Program& p) {
        p.flt1_toggle = 1.0f;
        p.flt1_mode = 1.0f; // the lowest band offers a low shelf at the top of its range
        p.flt1_freq = 0.3f;
        p.flt1_gain = 0.2f;
        p.flt1_q = 0.5f;
    });
    double const f0 = taper(0.3) * 24000.0;
    // Gain taper: x = 2u - 1 = -0.6, gain = -20 (10^0.6 - 1) / 9 dB.
    double const gain = -20.0 * (std::pow(10.0, 0.6) - 1.0) / 9.0;
    model_2x left({cookbook(2, f0, 1.0, gain, 2.0 * rate)});
    model_2x right({cookbook(2, f0, 1.0, gain, 2.0 * rate)});

    StereoSignal const in{noise_burst(20000, 20000, 63), noise_burst(20000, 20000, 64)};
    StereoSignal const out = run_stereo(*engine, in);
    EXPECT_LT(relative_error_db(out.left, left.run(in.left.data(), 20000)), -70.0);
    EXPECT_LT(relative_error_db(out.right, right.run(in.right.data(), 20000)), -70.0);
}

TEST_F(PostEq, TheMasterSwitchOffLeavesTheOutputUnfiltered)
{
    auto engine = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt_master_toggle = 0.0f;
        p.flt2_toggle = 1.0f;
        p.flt2_gain = 1.0f;
    });
    StereoSignal const in{noise_burst(4000, 4000, 65), noise_burst(4000, 4000, 66)};
    StereoSignal const out = run_stereo(*engine, in);
    EXPECT_EQ(out.left, in.left);
}

TEST_F(PostEq, GainModulationMovesTheBandOverTime)
{
    // A 1 Hz gain LFO of 20 dB depth on a peak band: the level at the band's centre swings.
    auto engine = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt3_toggle = 1.0f;
        p.flt3_freq = 0.5f;
        p.flt3_gain = 0.5f;
        p.flt3_gain_mod = 1.0f;
        p.lfo1_rate = 0.5f; // 100^0.5 / 10 = 1 Hz
    });
    double const f0 = taper(0.5) * 22050.0;
    size_t const frames = rate;
    StereoSignal in{Signal(frames), Signal(frames)};
    for (size_t i = 0; i < frames; ++i)
        in.left[i] = in.right[i] =
            static_cast<float>(0.1 * std::sin(2.0 * pi * f0 * static_cast<double>(i) / rate));
    StereoSignal const out = run_stereo(*engine, in);
    // Peak level per tenth of a second.
    double quietest = 1e9, loudest = 0.0;
    for (size_t start = 0; start + rate / 10 <= frames; start += rate / 10) {
        double peak = 0.0;
        for (size_t i = start; i < start + rate / 10; ++i)
            peak = std::max(peak, std::fabs(static_cast<double>(out.left[i])));
        quietest = std::min(quietest, peak);
        loudest = std::max(loudest, peak);
    }
    EXPECT_GT(20.0 * std::log10(loudest / quietest), 20.0);
}

TEST_F(PostEq, TheEditorSeesTheModulatedBand)
{
    // The same 1 Hz, 20 dB gain LFO: the display fields follow the gain through its swing while the
    // unmodulated centre frequency stays put, on both channels.
    auto engine = engine_with_band(0, [](VST_Plugin_Program& p) {
        p.flt3_toggle = 1.0f;
        p.flt3_freq = 0.5f;
        p.flt3_gain = 0.5f;
        p.flt3_gain_mod = 1.0f;
        p.lfo1_rate = 0.5f;
        p.master_mixer_modulation_order = 1.0f; // the pre-order loop copies the display fields
    });
    double const f0 = taper(0.5) * 22050.0;
    StereoSignal const block{noise_burst(480, 480, 1), noise_burst(480, 480, 2)};
    double lowest = 1e9, highest = -1e9;
    for (int b = 0; b < 100; ++b) { // one second
        run_stereo(*engine, block, {480});
        double const left = engine->post_eq_display_gain_db[0][2].load();
        EXPECT_EQ(left, engine->post_eq_display_gain_db[1][2].load());
        EXPECT_NEAR(engine->post_eq_display_f0[0][2].load(), f0, 1.0);
        lowest = std::min(lowest, left);
        highest = std::max(highest, left);
    }
    EXPECT_LT(lowest, -15.0);
    EXPECT_GT(highest, 15.0);
    EXPECT_EQ(engine->post_eq_display_gain_db[0][0].load(), 0.0f); // an unmodulated band at 0 dB
}

} // namespace
} // namespace corvella::test
