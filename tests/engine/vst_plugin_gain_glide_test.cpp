// Click-free gain changes. With smooth changes a step of the master gain, the master mix or an IR
// gain between two blocks becomes a linear ramp over 10 ms, or over the block it happens in when
// that is longer; without them the gain steps at the block boundary, as it always did. IR1 is a
// one-sample impulse with no latency, so the output is the input times the gain, frame by frame.

#include "engine_fixture.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace corvella::test {
namespace {

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

// Glides of every kind in flight (gains, mix, balance, mix modulation, both mixer orders, a chain)
// and the audio thread still allocates nothing.
TEST_F(GainGlideTest, GlidingAllocatesNothing)
{
    auto engine = delta_engine(true, 0.5f);
    engine->program->ir2_toggle = 1.0f;
    Signal a = noise_burst(4096, 4096, 5), b = noise_burst(4096, 4096, 6), c(4096), d(4096);
    float* ins[2] = {a.data(), b.data()};
    float* outs[2] = {c.data(), d.data()};
    engine->processReplacing(ins, outs, 4096); // warm-up
    VST_Plugin_Program& p = *engine->program;
    AllocationCounter counter;
    for (int i = 0; i < 8; ++i) {
        float const u = static_cast<float>(i % 3) * 0.4f;
        p.master_gain = p.master_mix = p.ir1_gain = p.ir2_gain = p.ir1_balance = u;
        p.master_ir1_ir2_mix = u;
        p.master_ir1_ir2_mix_mod = u;
        p.master_mixer_modulation_order = static_cast<float>(i % 2);
        p.ir1_ir2_chain = static_cast<float>(i / 4);
        for (int n : {1, 333, 512, 4096})
            engine->processReplacing(ins, outs, n);
    }
    EXPECT_EQ(counter.count(), 0);
}

} // namespace
} // namespace corvella::test
