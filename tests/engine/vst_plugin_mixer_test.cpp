// The IR1/IR2 mixer, dry/wet, master gain, locks and chain mode, in both modulation orders. IR1 is
// an impulse 100 samples in and IR2 one 200 samples in, so one input impulse shows the dry gain at
// 0, IR1's gain at 100 and IR2's at 200 on each side (and IR1 through IR2 at 300).

#include "engine_fixture.h"

#include "engine/worker_thread_01.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace corvella::test {
namespace {

struct Probe {
    float dry[2], ir1[2], ir2[2], chained[2];
};

class MixerTest : public EngineTest, public testing::WithParamInterface<float> {
protected:
    void SetUp() override
    {
        engine = make_engine(0);
        ASSERT_TRUE(engine->processing_enabled.load());
        FourChannelIr ir1(sparse(101, {{100, 1.0f}})), ir2(sparse(201, {{200, 1.0f}}));
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir1.pointers, ir1.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir2.pointers, ir2.length()));
        reset();
    }
    bool pre() const { return GetParam() > 0.0f; }
    void reset()
    {
        set_unity_program(*engine);
        VST_Plugin_Program& p = *engine->program; // record 0 is also the lock record
        p.master_mixer_modulation_order = GetParam();
        p.ir2_toggle = 1.0f;
        p.master_ir1_ir2_mix_law = 1.0f; // equal sum, the default
        p.master_mix_lock_status = p.master_gain_lock_status = 0.0f;
        engine->ir_rebuild_busy = false;
        engine->silence_buffers();
    }
    void set_mix(float mix)
    {
        engine->program->master_ir1_ir2_mix = mix;
        engine->smoothed_mix = mix;
    }
    Probe probe()
    {
        // Every gain glides to the settings first; then histories are forgotten.
        run_stereo(*engine, {Signal(1024, 0.25f), Signal(1024, 0.25f)}, {512});
        engine->silence_buffers();
        StereoSignal const out =
            run_stereo(*engine, {sparse(512, {{0, 1.0f}}), sparse(512, {{0, 1.0f}})}, {512});
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

// Each row sets the program fields it names on top of the unity program (wet only, IR1/IR2 mix 0,
// equal-sum law) and reads dry, IR1 and IR2 gains on both sides.
TEST_P(MixerTest, DryWetMixLawsBalanceGainsAndLocks)
{
    float const root = 0.70710678f, wide = 1.0f / 0.707106781f, none = -1.0f;
    float const plus15 = std::pow(10.0f, 0.75f), minus15 = std::pow(10.0f, -0.75f),
                plus30 = std::pow(10.0f, 1.5f);
    struct Case {
        char const* name;
        float mix, gain, ir_mix, law, balance, irs_on, mix_lock,
            gain_lock; // locks: the locked value, or none
        float dry[2], ir1[2], ir2[2];
        float tolerance = 2e-6f;
    };
    // clang-format off
    Case const cases[] = {
        // name                      mix    gain   ir_mix law balance on  mix_lock gain_lock
        {"mix 0.5",                  0.5f,  0.5f,  0.0f, 1.0f, 0.5f, 1.0f, none, none, {1, 1}, {1, 1}, {0, 0}},
        {"dry only",                 0.0f,  0.5f,  0.0f, 1.0f, 0.5f, 1.0f, none, none, {1, 1}, {0, 0}, {0, 0}},
        {"wet only",                 1.0f,  0.5f,  0.0f, 1.0f, 0.5f, 1.0f, none, none, {0, 0}, {1, 1}, {0, 0}},
        {"equal power",              1.0f,  0.5f,  0.5f, 0.0f, 0.5f, 1.0f, none, none, {0, 0}, {root, root}, {root, root}},
        {"equal sum",                1.0f,  0.5f,  0.5f, 1.0f, 0.5f, 1.0f, none, none, {0, 0}, {0.5f, 0.5f}, {0.5f, 0.5f}},
        {"IR2 only",                 1.0f,  0.5f,  1.0f, 1.0f, 0.5f, 1.0f, none, none, {0, 0}, {0, 0}, {1, 1}},
        {"balance left",             1.0f,  0.5f,  0.0f, 1.0f, 0.0f, 1.0f, none, none, {0, 0}, {wide, 0}, {0, 0}},
        {"balance right",            1.0f,  0.5f,  0.0f, 1.0f, 1.0f, 1.0f, none, none, {0, 0}, {0, wide}, {0, 0}},
        {"+15 dB on -30..+30",       0.5f,  0.75f, 0.0f, 1.0f, 0.5f, 1.0f, none, none, {plus15, plus15}, {plus15, plus15}, {0, 0}, 1e-5f},
        {"IRs off: dry min(1, 1.5)", 0.25f, 0.25f, 0.0f, 1.0f, 0.5f, 0.0f, none, none, {minus15, minus15}, {0, 0}, {0, 0}, 1e-6f},
        {"mix locked to dry",        1.0f,  0.5f,  0.0f, 1.0f, 0.5f, 1.0f, 0.0f, none, {1, 1}, {0, 0}, {0, 0}},
        {"gain locked to +30 dB",    1.0f,  0.0f,  0.0f, 1.0f, 0.5f, 1.0f, 0.5f, 1.0f, {plus30, plus30}, {plus30, plus30}, {0, 0}, 1e-4f},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        VST_Plugin_Program& p = *engine->program;
        p.master_mix = c.mix;
        p.master_gain = c.gain;
        set_mix(c.ir_mix);
        p.master_ir1_ir2_mix_law = c.law;
        p.ir1_balance = c.balance;
        p.ir1_toggle = p.ir2_toggle = c.irs_on;
        p.master_mix_lock_status = c.mix_lock == none ? 0.0f : 1.0f;
        p.master_mix_locked_value = c.mix_lock;
        p.master_gain_lock_status = c.gain_lock == none ? 0.0f : 1.0f;
        p.master_gain_locked_value = c.gain_lock;
        Probe const r = probe();
        for (int side = 0; side < 2; ++side) {
            EXPECT_NEAR(r.dry[side], c.dry[side], c.tolerance) << side;
            EXPECT_NEAR(r.ir1[side], c.ir1[side], c.tolerance) << side;
            EXPECT_NEAR(r.ir2[side], c.ir2[side], c.tolerance) << side;
        }
    }
    // While the IRs are rebuilt for a program change only the dry signal is heard.
    reset();
    ASSERT_TRUE(wait_idle(*engine));
    engine->ir_worker->trigger_kill(); // no pass may end the mute while it is probed
    while (!engine->ir_worker->finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    engine->program->master_mix = 0.5f;
    engine->ir_rebuild_busy = true;
    Probe const busy = probe();
    EXPECT_EQ(busy.dry[0], 1.0f);
    EXPECT_EQ(busy.ir1[0], 0.0f);
    EXPECT_EQ(busy.ir1[1], 0.0f);
}

TEST_P(MixerTest, ChainFeedsIr1IntoIr2AndScalesByFourTimesIr1Gain)
{
    engine->program->ir1_ir2_chain = 1.0f;
    set_mix(0.5f); // equal sum: 0.5 each
    Probe const p = probe();
    // Post order: 0.5 (IR2) x 4 x 0.5 (IR1). Pre order: the input is scaled by 0.5 before IR1, and
    // both wet gains are 1.
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(p.ir1[c], 0.0f, 2e-6f); // IR1 is heard only through IR2
        EXPECT_NEAR(p.ir2[c], 0.0f, 2e-6f);
        EXPECT_NEAR(p.chained[c], pre() ? 2.0f : 1.0f, 8e-6f);
    }
}

// The IR1/IR2 mix glides by 1e-4 per two frames, clamped to the remaining difference; the mix LFO
// advances once per chunk.
TEST_P(MixerTest, MixGlidesAndTheLfoAdvancesOncePerChunk)
{
    engine->program->master_ir1_ir2_mix = 1.0f;
    engine->smoothed_mix = 0.5f;
    StereoSignal const click{sparse(1000, {{0, 1.0f}}), Signal(1000, 0.0f)};
    run_stereo(*engine, click, {1000});
    EXPECT_NEAR(engine->smoothed_mix, 0.55f, 1e-5f);
    engine->smoothed_mix = 0.99995f;
    run_stereo(*engine, click, {8});
    EXPECT_EQ(engine->smoothed_mix, 1.0f);

    engine->program->master_ir1_ir2_mix_mod = 1.0f;
    engine->program->lfo3_rate = 0.5f; // 100^0.5 / 10 = 1 Hz: a period of 48000 samples
    engine->lfo_phase_counter = 0;
    run_stereo(*engine, {sparse(64, {{0, 1.0f}}), Signal(64, 0.0f)}, {64});
    EXPECT_EQ(engine->lfo_phase_counter, 64);
    EXPECT_NEAR(engine->mix_lfo, 0.5f * std::sin(2.0f * 3.14159265f * 64.0f / 48000.0f), 1e-6f);
    engine->lfo_phase_counter = 47990;
    run_stereo(*engine, {sparse(512, {{0, 1.0f}}), Signal(512, 0.0f)}, {512});
    EXPECT_EQ(engine->lfo_phase_counter, (47990 + 512) % 48000);
}

TEST_P(MixerTest, MetersFollowTheIrLevels)
{
    engine->program->master_mix = 0.5f;
    run_stereo(*engine, {Signal(512, 1.0f), Signal(512, 0.0f)}, {512});
    // The last chunk of IR1's wet bus holds the delayed constant on the left and nothing on the
    // right; the output meter reads the first 32 frames of the step, where only the dry constant is.
    EXPECT_NEAR(engine->ir1_level_left.load(), 0.9f, 1e-5f);
    EXPECT_EQ(engine->ir1_level_right.load(), 0.0f);
    EXPECT_NEAR(engine->output_level_left.load(), 0.9f, 1e-5f);
    EXPECT_EQ(engine->output_level_right.load(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Orders, MixerTest, testing::Values(0.0f, 1.0f),
                         [](testing::TestParamInfo<float> const& order) {
                             return order.param > 0.0f ? std::string("Pre") : std::string("Post");
                         });

// Click-free gain changes. With smooth changes a step of the master gain, the master mix or an IR
// gain between two blocks becomes a linear ramp over 10 ms, or over the block it happens in when
// that is longer; without them the gain steps at the block boundary, as it always did. IR1 is a
// one-sample impulse with no latency, so the output is the input times the gain, frame by frame.
// That glides allocate nothing is checked with the frame's other allocation checks.
class GainGlideTest : public EngineTest {
protected:
    std::unique_ptr<VST_Plugin> delta_engine(bool ir1_on, float master_mix)
    {
        auto engine = make_engine(0);
        EXPECT_TRUE(engine->processing_enabled.load());
        FourChannelIr delta(sparse(1, {{0, 1.0f}}));
        EXPECT_TRUE(engine->load_ir_into_slot(1, delta.pointers, delta.length()));
        set_unity_program(*engine);
        engine->program->ir1_toggle = ir1_on ? 1.0f : 0.0f;
        engine->program->master_mix = master_mix;
        return engine;
    }
};

using Field = float VST_Plugin_Program::*;

TEST_F(GainGlideTest, AStepBetweenBlocksRampsOverTenMillisecondsOrTheBlock)
{
    struct Row {
        char const* name;
        bool ir1_on;
        float master_mix; // before the field is set
        Field field;
        float from, to;           // unity values of the field
        float gain_from, gain_to; // what they mean for the input-to-output gain
        bool exact;               // the dry path alone: the old step is reproduced bit for bit
    };
    // Master gain: 0 dB to +15 dB on -30..+30 dB, dry only. Master mix 0.75: dry min(1, 2 x 0.25).
    // IR1 gain: 0 dB to +25 dB on -50..+50 dB, wet only.
    Row const rows[] = {
        {"master gain", false, 0.0f, &VST_Plugin_Program::master_gain, 0.5f, 0.75f, 1.0f,
         std::pow(10.0f, 15.0f / 20.0f), true},
        {"master mix", false, 0.0f, &VST_Plugin_Program::master_mix, 0.0f, 0.75f, 1.0f, 0.5f, true},
        {"IR1 gain", true, 1.0f, &VST_Plugin_Program::ir1_gain, 0.5f, 0.75f, 1.0f,
         std::pow(10.0f, 25.0f / 20.0f), false},
    };
    int const ten_ms = 480; // at 48 kHz
    Signal const settle = noise_burst(1024, 1024, 3);
    Signal const x = noise_burst(8192, 8192, 4);
    for (Row const& row : rows) {
        auto engine = delta_engine(row.ir1_on, row.master_mix);
        // 100 and 256: several blocks within 10 ms; 512 and 4096 are longer, so the ramp spans them.
        for (int block : {100, 256, 512, 4096})
            for (bool smooth : {true, false}) {
                SCOPED_TRACE(testing::Message() << row.name << ", block " << block << ", smooth " << smooth);
                engine->smooth_changes = smooth;
                engine->program->*row.field = row.from;
                run_stereo(*engine, {settle, settle}, {512}); // every gain at rest on `from`
                engine->program->*row.field = row.to;
                StereoSignal const out = run_stereo(*engine, {x, x}, {block});

                int const length = std::max(ten_ms, block);
                for (size_t k = 0; k < x.size(); ++k) {
                    double const t =
                        smooth ? std::min<double>(static_cast<double>(k + 1) / length, 1.0) : 1.0;
                    double const gain = row.gain_from + (row.gain_to - row.gain_from) * t;
                    double const expected = x[k] * gain;
                    if (!smooth && row.exact) {
                        ASSERT_EQ(out.left[k], x[k] * row.gain_to) << "frame " << k;
                        ASSERT_EQ(out.right[k], x[k] * row.gain_to) << "frame " << k;
                        continue;
                    }
                    double const tolerance = 1e-5 * std::fabs(x[k]) * std::max(row.gain_from, row.gain_to);
                    ASSERT_NEAR(out.left[k], expected, tolerance) << "frame " << k;
                    ASSERT_NEAR(out.right[k], expected, tolerance) << "frame " << k;
                }
            }
    }
}

} // namespace
} // namespace corvella::test
