// The IR1/IR2 mixer, dry/wet, master gain, locks and chain mode. IR1 is an impulse 100 samples in
// and IR2 one 200 samples in, so one input impulse shows the dry gain at 0, IR1's gain at 100 and
// IR2's gain at 200 on each side.

#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvella::test {
namespace {

constexpr float tolerance = 2e-6f;
constexpr float centre_factor = 1.0f; // cos(pi/4) / 0.707106781 in float

struct Probe {
    float dry[2], ir1[2], ir2[2], chained[2];
};

class MixerTest : public EngineTest, public testing::WithParamInterface<float> {
protected:
    void SetUp() override
    {
        engine = make_engine(0);
        ASSERT_TRUE(engine->processing_enabled.load());
        set_unity_program(*engine);
        engine->program->master_mixer_modulation_order = order();
        engine->program->ir2_toggle = 1.0f;
        FourChannelIr ir1{delayed_impulse(101, 100), delayed_impulse(101, 100), delayed_impulse(101, 100),
                          delayed_impulse(101, 100)};
        FourChannelIr ir2{delayed_impulse(201, 200), delayed_impulse(201, 200), delayed_impulse(201, 200),
                          delayed_impulse(201, 200)};
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir1.pointers, ir1.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir2.pointers, ir2.length()));
    }
    virtual float order() const { return GetParam(); }

    void set_mix(float mix)
    {
        engine->program->master_ir1_ir2_mix = mix;
        engine->smoothed_mix = mix;
    }

    Probe probe()
    {
        StereoSignal input{Signal(512, 0.0f), Signal(512, 0.0f)};
        input.left[0] = 1.0f;
        input.right[0] = 1.0f;
        StereoSignal const out = run_stereo(*engine, input, {512});
        Probe result{};
        for (int c = 0; c < 2; ++c) {
            Signal const& channel = c == 0 ? out.left : out.right;
            result.dry[c] = channel[0];
            result.ir1[c] = channel[100];
            result.ir2[c] = channel[200];
            result.chained[c] = channel[300];
        }
        return result;
    }

    std::unique_ptr<VST_Plugin> engine;
};

TEST_P(MixerTest, MasterMixHalfGivesDryAndWetAtFullLevel)
{
    engine->program->master_mix = 0.5f;
    Probe const p = probe();
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(p.dry[c], 1.0f, tolerance);
        EXPECT_NEAR(p.ir1[c], 1.0f, tolerance);
        EXPECT_NEAR(p.ir2[c], 0.0f, tolerance); // IR1/IR2 mix 0: IR1 only
    }
}

TEST_P(MixerTest, MasterMixZeroIsDryOnlyAndOneIsWetOnly)
{
    engine->program->master_mix = 0.0f;
    Probe p = probe();
    EXPECT_EQ(p.dry[0], 1.0f);
    EXPECT_EQ(p.ir1[0], 0.0f);
    engine->program->master_mix = 1.0f;
    p = probe();
    EXPECT_EQ(p.dry[0], 0.0f);
    EXPECT_NEAR(p.ir1[0], 1.0f, tolerance);
}

TEST_P(MixerTest, MixLaws)
{
    set_mix(0.5f);
    engine->program->master_ir1_ir2_mix_law = 0.0f; // equal power
    Probe p = probe();
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(p.ir1[c], 0.70710678f, tolerance);
        EXPECT_NEAR(p.ir2[c], 0.70710678f, tolerance);
    }
    engine->program->master_ir1_ir2_mix_law = 1.0f; // equal sum
    p = probe();
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(p.ir1[c], 0.5f, tolerance);
        EXPECT_NEAR(p.ir2[c], 0.5f, tolerance);
    }
    set_mix(1.0f);
    p = probe();
    EXPECT_NEAR(p.ir1[0], 0.0f, tolerance);
    EXPECT_NEAR(p.ir2[0], 1.0f, tolerance);
}

TEST_P(MixerTest, BalanceCentreIsUnityAndZeroIsLeftOnly)
{
    Probe p = probe();
    EXPECT_NEAR(p.ir1[0], centre_factor, tolerance);
    EXPECT_NEAR(p.ir1[1], centre_factor, tolerance);
    engine->program->ir1_balance = 0.0f;
    p = probe();
    EXPECT_NEAR(p.ir1[0], 1.0f / 0.707106781f, tolerance);
    EXPECT_NEAR(p.ir1[1], 0.0f, tolerance);
    engine->program->ir1_balance = 1.0f;
    p = probe();
    EXPECT_NEAR(p.ir1[0], 0.0f, tolerance);
    EXPECT_NEAR(p.ir1[1], 1.0f / 0.707106781f, tolerance);
}

TEST_P(MixerTest, ChainFeedsIr1IntoIr2AndScalesByFourTimesIr1Gain)
{
    engine->program->ir1_ir2_chain = 1.0f;
    set_mix(0.5f); // equal sum: 0.5 each
    Probe const p = probe();
    // Post order: 0.5 (IR2) x 4 x 0.5 (IR1). Pre order: the input is scaled by 0.5 before IR1, and
    // both wet gains are 1.
    float const expected = order() > 0.0f ? 2.0f : 1.0f;
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(p.ir1[c], 0.0f, tolerance); // IR1 is heard only through IR2
        EXPECT_NEAR(p.ir2[c], 0.0f, tolerance);
        EXPECT_NEAR(p.chained[c], expected, 4 * tolerance);
    }
}

TEST_P(MixerTest, LocksOverrideTheProgram)
{
    VST_Plugin_Program& locks = *engine->lock_record;
    locks.master_mix_lock_status = 1.0f;
    locks.master_mix_locked_value = 0.0f; // dry only, whatever the program says
    Probe p = probe();
    EXPECT_EQ(p.dry[0], 1.0f);
    EXPECT_EQ(p.ir1[0], 0.0f);

    locks.master_mix_locked_value = 0.5f;
    locks.master_gain_lock_status = 1.0f;
    locks.master_gain_locked_value = 1.0f; // +30 dB
    engine->program->master_gain = 0.0f;   // ignored
    p = probe();
    EXPECT_NEAR(p.dry[0], std::pow(10.0f, 1.5f), 1e-4f);
    EXPECT_NEAR(p.ir1[1], std::pow(10.0f, 1.5f), 1e-4f);
}

TEST_P(MixerTest, MasterGainUsesTheMasterRange)
{
    engine->program->master_mix = 0.5f;
    engine->program->master_gain = 0.75f; // +15 dB on -30..+30
    Probe const p = probe();
    EXPECT_NEAR(p.dry[0], std::pow(10.0f, 0.75f), 1e-5f);
    EXPECT_NEAR(p.ir1[0], std::pow(10.0f, 0.75f), 1e-5f);
}

TEST_P(MixerTest, RebuildBusyLeavesTheDrySignalOnly)
{
    engine->program->master_mix = 0.5f;
    engine->ir_rebuild_busy = true;
    Probe const p = probe();
    EXPECT_EQ(p.dry[0], 1.0f);
    EXPECT_EQ(p.ir1[0], 0.0f);
    EXPECT_EQ(p.ir1[1], 0.0f);
}

TEST_P(MixerTest, BothIrsOffGiveTheDrySignalTimesTheDryGain)
{
    engine->program->ir1_toggle = 0.0f;
    engine->program->ir2_toggle = 0.0f;
    engine->program->master_mix = 0.25f;  // dry min(1, 1.5) = 1
    engine->program->master_gain = 0.25f; // -15 dB
    Probe const p = probe();
    EXPECT_NEAR(p.dry[0], std::pow(10.0f, -0.75f), 1e-6f);
    EXPECT_EQ(p.ir1[0], 0.0f);
}

TEST_P(MixerTest, MixGlidesByOneTenThousandthPerTwoFrames)
{
    engine->program->master_ir1_ir2_mix = 1.0f;
    engine->smoothed_mix = 0.5f;
    StereoSignal silence_with_click{Signal(1000, 0.0f), Signal(1000, 0.0f)};
    silence_with_click.left[0] = 1.0f;
    run_stereo(*engine, silence_with_click, {1000});
    EXPECT_NEAR(engine->smoothed_mix, 0.55f, 1e-5f);
    engine->smoothed_mix = 0.99995f;
    run_stereo(*engine, silence_with_click, {8});
    EXPECT_EQ(engine->smoothed_mix, 1.0f); // clamped to the remaining difference
}

TEST_P(MixerTest, LfoAdvancesOncePerChunk)
{
    VST_Plugin_Program& p = *engine->program;
    p.master_ir1_ir2_mix_mod = 1.0f;
    p.lfo3_rate = 0.5f; // 100^0.5 / 10 = 1 Hz: a period of 48000 samples
    engine->lfo_phase_counter = 0;
    StereoSignal click{Signal(64, 0.0f), Signal(64, 0.0f)};
    click.left[0] = 1.0f;
    run_stereo(*engine, click, {64});
    EXPECT_EQ(engine->lfo_phase_counter, 64);
    EXPECT_NEAR(engine->mix_lfo, 0.5f * std::sin(2.0f * 3.14159265f * 64.0f / 48000.0f), 1e-6f);

    engine->lfo_phase_counter = 47990;
    StereoSignal longer{Signal(512, 0.0f), Signal(512, 0.0f)};
    longer.left[0] = 1.0f;
    run_stereo(*engine, longer, {512});
    EXPECT_EQ(engine->lfo_phase_counter, (47990 + 512) % 48000);
}

TEST_P(MixerTest, MetersFollowTheIrLevels)
{
    engine->program->master_mix = 0.5f;
    StereoSignal full{Signal(512, 1.0f), Signal(512, 0.0f)};
    run_stereo(*engine, full, {512});
    // The last chunk of IR1's wet bus holds the delayed constant on the left and nothing on the right;
    // the output meter reads the first 32 frames of the step, where only the dry constant is.
    EXPECT_NEAR(engine->ir1_level_left.load(), 0.9f, 1e-5f);
    EXPECT_EQ(engine->ir1_level_right.load(), 0.0f);
    EXPECT_NEAR(engine->output_level_left.load(), 0.9f, 1e-5f);
    EXPECT_EQ(engine->output_level_right.load(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Orders, MixerTest, testing::Values(0.0f, 1.0f),
                         [](testing::TestParamInfo<float> const& param_info) {
                             return param_info.param > 0.0f ? std::string("Pre") : std::string("Post");
                         });

} // namespace
} // namespace corvella::test
