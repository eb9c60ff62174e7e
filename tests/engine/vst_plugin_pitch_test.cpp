// The section pitch modulators inside the engine: with a one-sample IR in section 1, IR1's wet
// output is exactly what a pitch modulator set as the program says (the right side at 0.99 x the
// left side's depth and rate) makes of the input.

#include "engine_fixture.h"

#include "effects/pitch_mod.h"

#include <gtest/gtest.h>

namespace corvella::test {
namespace {

using PitchTest = EngineTest;
constexpr int rate = 48000;

TEST_F(PitchTest, Section1IsModulatedAsItsModulatorSays)
{
    auto const ir = write_wav("click.wav", {sparse(4800, {{0, 1.0f}}), sparse(4800, {{0, 1.0f}})}, rate);
    auto engine = make_engine(0, rate, 1);
    edit_program(*engine, [&](VST_Plugin_Program& p) {
        unity_fields(p);
        set_path(p.ir1_file_a, ir.string());
        p.ir1_normalise = 0.0f;
        p.pitch_mod_ir1_section1_toggle = 1.0f;
        p.pitch_mod_ir1_split_point = 1.0f; // the whole IR in section 1
        p.pitch_mod_ir1_section1_mod_depth = 0.6f;
        p.pitch_mod_ir1_section1_mod_rate = 0.5f;
    });
    engine->smoothed_mix = 0.0f;
    rebuild_ir1(*engine, true);
    engine->assign_pitch_delay_mod_ir1();

    pitch_mod reference(rate);
    for (int side = 0; side < 2; ++side) {
        reference.set_width(0.0f, side);
        reference.set_feedback(0.0f, side);
        reference.set_feedback_opposite(0.0f, side);
        reference.set_wet(1.0f, side);
        reference.set_dry(0.0f, side);
        reference.set_delay_ms(1.0f, side);
    }
    reference.set_delay_mod_ms_unity(0.6f, 0);
    reference.set_delay_mod_rate_hz_unity(0.5f, 0);
    reference.set_delay_mod_ms(0.99f * reference.get_delay_mod_ms(0), 1);
    reference.set_delay_mod_rate_hz(0.99f * reference.get_delay_mod_rate_hz(0), 1);
    reference.silence_delay_lines();

    engine->silence_buffers();
    StereoSignal const in{noise_burst(40960, 40960, 1), noise_burst(40960, 40960, 2)}; // 80 blocks
    StereoSignal const out = run_stereo(*engine, in, {512});
    StereoSignal expected = in;
    for (size_t done = 0; done < expected.left.size(); done += 512) {
        float* channels[2] = {expected.left.data() + done, expected.right.data() + done};
        reference.process_replacing(channels, 512);
    }
    EXPECT_LT(max_difference(out.left, expected.left), 1e-4f);
    EXPECT_LT(max_difference(out.right, expected.right), 1e-4f);
    EXPECT_GT(max_difference(out.left, in.left), 0.05f); // and it is not the input as it was
}

} // namespace
} // namespace corvella::test
