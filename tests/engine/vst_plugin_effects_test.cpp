// The choruses and stereo delays inside the engine: where the frame runs each of them, that they
// stand still while a program change mutes the wet path, that silence_buffers forgets their lines,
// how the settings pushes and the host tempo reach them, and that audio allocates nothing while
// the bridge pushes settings.
//
// IR1 is an impulse at 0 and IR2 one at 100, mixed half and half (equal sum) with the dry signal at
// full level, so one input impulse gives dry + IR1 at 0 and IR2 at 100. Each effect is set up as a
// pure delay of `lag` samples (dry 0, wet 1, no modulation or feedback): the place of the delayed
// copies shows which bus it ran on.

#include "engine_fixture.h"

#include "effects/chorus.h"
#include "effects/pitch_mod.h"
#include "effects/stereo_delay.h"
#include "engine/worker_thread_01.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace corvella::test {
namespace {

constexpr int delay_lag = 3600; // 1/16 at 200 BPM: 75 ms at 48 kHz
constexpr int chorus_lag = 240; // 5 ms at 48 kHz (chorus delay unity 0.25)
constexpr int ir2_offset = 100;

enum class Bus { ir1, ir2, master };

struct Effect {
    char const* name;
    bool is_delay;
    Bus bus;
};

Effect const effects[] = {
    {"IR1 delay", true, Bus::ir1},   {"IR2 delay", true, Bus::ir2},   {"master delay", true, Bus::master},
    {"IR1 chorus", false, Bus::ir1}, {"IR2 chorus", false, Bus::ir2}, {"master chorus", false, Bus::master},
};

EffectBlock block_of(Bus bus)
{
    return bus == Bus::ir1 ? EffectBlock::ir1 : bus == Bus::ir2 ? EffectBlock::ir2 : EffectBlock::post;
}

// A pure delay of delay_lag: both sides on, dry 0, wet 1, no modulation or feedback, own tempo.
void configure_delay(VST_Plugin_Program& p, EffectBlock block, bool on)
{
    auto const slots = delay_block_slots(block);
    auto set = [&](int index, float value) { p.*(slots[static_cast<size_t>(index)].f) = value; };
    set(0, 0.0f); // dry
    for (int base : {1, 10}) {
        set(base, on ? 1.0f : 0.0f); // toggle
        set(base + 1, 200.0f);       // tempo
        p.*(slots[static_cast<size_t>(base + 2)].i) = 1;
        p.*(slots[static_cast<size_t>(base + 3)].i) = 16;
        for (int k = 4; k <= 7; ++k) // depth, rate, feedback, opposite feedback
            set(base + k, 0.0f);
        set(base + 8, 1.0f); // wet
    }
    set(19, 0.0f); // tempo locks
    set(20, 0.0f);
}

// A pure delay of chorus_lag: feedback 0, width 0, dry 0, wet 1, 5 ms, no modulation.
void configure_chorus(VST_Plugin_Program& p, EffectBlock block, bool on)
{
    auto const slots = chorus_block_slots(block);
    float const values[8] = {0.0f, 0.0f, 0.0f, 1.0f, 0.25f, 0.0f, 0.0f, on ? 1.0f : 0.0f};
    for (size_t k = 0; k < 8; ++k)
        p.*(slots[k].f) = values[k];
}

// Every push tells the bridge it was applied.
constexpr void (VST_Plugin::*pushes[])() = {
    &VST_Plugin::signal_update_master_chorus, &VST_Plugin::signal_update_ir1_chorus,
    &VST_Plugin::signal_update_ir2_chorus,    &VST_Plugin::signal_update_master_delay,
    &VST_Plugin::signal_update_ir1_delay,     &VST_Plugin::signal_update_ir2_delay};

void push_all(VST_Plugin& engine)
{
    for (auto push : pushes) {
        engine.update_applied = false;
        (engine.*push)();
        EXPECT_TRUE(engine.update_applied.load());
    }
}

class EngineEffectsTest : public EngineTest {
protected:
    void SetUp() override
    {
        engine = make_engine(0);
        ASSERT_TRUE(engine->processing_enabled.load());
        ASSERT_TRUE(wait_idle(*engine)); // the start-up build must not replace the IRs below
        // Long enough (100 ms) that the idle bypass keeps processing while the echoes are due.
        FourChannelIr ir1(sparse(4800, {{0, 1.0f}})), ir2(sparse(4800, {{ir2_offset, 1.0f}}));
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir1.pointers, ir1.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir2.pointers, ir2.length()));
    }

    // Only `only` on (none when null); IR2 on unless `ir2_on` is false.
    void set_up_effects(Effect const* only, bool ir2_on = true)
    {
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            unity_fields(p);
            p.master_mix = 0.5f; // dry and wet both at full level
            p.ir2_toggle = ir2_on ? 1.0f : 0.0f;
            p.master_ir1_ir2_mix = 0.5f;
            p.master_ir1_ir2_mix_law = 1.0f; // equal sum: 0.5 each
            p.flt_master_toggle = 0.0f;
            for (Effect const& e : effects) {
                bool const on = &e == only;
                if (e.is_delay)
                    configure_delay(p, block_of(e.bus), on);
                else
                    configure_chorus(p, block_of(e.bus), on);
            }
        });
        engine->smoothed_mix = 0.5f;
        push_all(*engine);
        engine->silence_buffers();
    }

    static int lag(Effect const& e) { return e.is_delay ? delay_lag : chorus_lag; }

    StereoSignal impulse_response(int frames)
    {
        return run_stereo(*engine, {sparse(frames, {{0, 1.0f}}), sparse(frames, {{0, 1.0f}})});
    }

    std::unique_ptr<VST_Plugin> engine;
};

void expect_signal(StereoSignal const& out, Signal const& expected, std::string const& what)
{
    for (Signal const* channel : {&out.left, &out.right}) {
        ASSERT_EQ(channel->size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_NEAR((*channel)[i], expected[i], 2e-3f) << what << " at " << i;
    }
}

TEST_F(EngineEffectsTest, EachEffectRunsOnItsOwnBus)
{
    int const frames = delay_lag + ir2_offset + 200;
    for (Effect const& e : effects) {
        set_up_effects(&e);
        int const L = lag(e);
        // Dry at 0; IR1 (0.5) at 0, or at L when an effect delays it; IR2 (0.5) at 100, or 100 + L.
        bool const ir1_delayed = e.bus != Bus::ir2;
        bool const ir2_delayed = e.bus != Bus::ir1;
        Signal expected(static_cast<size_t>(frames), 0.0f);
        expected[0] += 1.0f;
        expected[static_cast<size_t>(ir1_delayed ? L : 0)] += 0.5f;
        expected[static_cast<size_t>(ir2_offset + (ir2_delayed ? L : 0))] += 0.5f;
        expect_signal(impulse_response(frames), expected, e.name);
    }
    // All off: dry and both IRs, nothing delayed.
    set_up_effects(nullptr);
    expect_signal(impulse_response(frames), sparse(frames, {{0, 1.5f}, {ir2_offset, 0.5f}}), "all off");
}

// A settings push of a delay (any delay key, here one that changes nothing audible) keeps the
// echoes in flight; without smooth changes it clears the lines, as setting a toggle does.
TEST_F(EngineEffectsTest, ADelayPushKeepsTheEchoesInFlight)
{
    Effect const& master_delay = effects[2];
    int const frames = delay_lag + ir2_offset + 200;
    for (bool smooth : {true, false}) {
        SCOPED_TRACE(smooth ? "smooth" : "not smooth");
        engine->smooth_changes = smooth;
        set_up_effects(&master_delay, false);
        StereoSignal const in{sparse(frames, {{0, 1.0f}}), sparse(frames, {{0, 1.0f}})};
        StereoSignal out = run_stereo(*engine, slice(in, 0, 10));
        engine->signal_update_master_delay();
        append(out, run_stereo(*engine, slice(in, 10, static_cast<size_t>(frames))));
        // Dry at 0; IR1, delayed on the master bus, at the lag, unless the push cleared it.
        expect_signal(out, sparse(frames, {{0, 1.0f}, {delay_lag, smooth ? 0.5f : 0.0f}}), "master delay");
    }
}

// While a program change mutes the wet path the effects do not run: their lines stand still, so
// the echo of an impulse taken before the mute comes out late by the muted span. IR2 is off so that
// only IR1 feeds the effects.
TEST_F(EngineEffectsTest, EffectsStandStillWhileBusy)
{
    // The test holds the mute itself, as a long rebuild would: the IR worker, which releases a mute
    // with nothing to rebuild (silencing everything), is stopped first.
    engine->ir_worker->trigger_kill();
    while (!engine->ir_worker->finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (Effect const& e : effects) {
        if (e.bus == Bus::ir2) continue;
        set_up_effects(&e, false);
        int const L = lag(e), busy_span = L / 2;
        int const frames = L + busy_span + 100;
        StereoSignal in{sparse(frames, {{0, 1.0f}}), sparse(frames, {{0, 1.0f}})};
        StereoSignal out{Signal(static_cast<size_t>(frames)), Signal(static_cast<size_t>(frames))};
        int const spans[3][2] = {{0, 1}, {1, 1 + busy_span}, {1 + busy_span, frames}};
        for (auto const& span : spans) {
            engine->ir_rebuild_busy = span[0] == 1;
            float* ins[2] = {in.left.data() + span[0], in.right.data() + span[0]};
            float* outs[2] = {out.left.data() + span[0], out.right.data() + span[0]};
            engine->processReplacing(ins, outs, span[1] - span[0]);
        }
        engine->ir_rebuild_busy = false;
        expect_signal(out, sparse(frames, {{0, 1.0f}, {L + busy_span, 0.5f}}), e.name);
    }
}

TEST_F(EngineEffectsTest, SilenceBuffersForgetsTheEchoesInFlight)
{
    for (Effect const& e : effects) {
        set_up_effects(&e);
        int const L = lag(e), frames = L + ir2_offset + 200;
        StereoSignal in{sparse(frames, {{0, 1.0f}}), sparse(frames, {{0, 1.0f}})};
        StereoSignal out{Signal(static_cast<size_t>(frames)), Signal(static_cast<size_t>(frames))};
        // The impulse and IR2's copy enter the effects, then everything is forgotten.
        float* ins[2] = {in.left.data(), in.right.data()};
        float* outs[2] = {out.left.data(), out.right.data()};
        engine->processReplacing(ins, outs, ir2_offset + 1);
        engine->silence_buffers();
        for (float** p : {ins, outs})
            for (int c = 0; c < 2; ++c)
                p[c] += ir2_offset + 1;
        engine->processReplacing(ins, outs, frames - ir2_offset - 1);
        Signal expected(static_cast<size_t>(frames), 0.0f);
        expected[0] = e.bus == Bus::ir2 ? 1.5f : 1.0f;
        if (e.bus == Bus::ir1) expected[ir2_offset] = 0.5f;
        expect_signal(out, expected, e.name);
    }
}

// Distinct values in each block arrive in the effect the block belongs to.
TEST_F(EngineEffectsTest, PushesReadTheirOwnBlock)
{
    edit_program(*engine, [](VST_Plugin_Program& p) {
        p.chorus_master_feedback = 0.1f, p.chorus_ir1_feedback = 0.2f, p.chorus_ir2_feedback = 0.3f;
        p.master_delay_r_wet = 0.4f, p.ir1_delay_r_wet = 0.5f, p.ir2_delay_r_wet = 0.6f;
    });
    push_all(*engine);
    float const read[] = {engine->chorus_master->get_feedback(), engine->chorus_ir1->get_feedback(),
                          engine->chorus_ir2->get_feedback(),    engine->delay_master->get_wet(1),
                          engine->delay_ir1->get_wet(1),         engine->delay_ir2->get_wet(1)};
    for (int k = 0; k < 6; ++k)
        EXPECT_FLOAT_EQ(read[k], 0.1f * static_cast<float>(k + 1)) << k;
}

// update_tempo reaches the sides locked to the host tempo and no other, and asks the editor to
// redraw; the same tempo again does nothing at all. Every side holds 1/4: 60000 / tempo ms.
TEST_F(EngineEffectsTest, HostTempoReachesLockedSidesOnly)
{
    edit_program(*engine, [](VST_Plugin_Program& p) {
        for (EffectBlock block : {EffectBlock::post, EffectBlock::ir1, EffectBlock::ir2}) {
            auto const slots = delay_block_slots(block);
            for (int base : {1, 10}) {
                p.*(slots[static_cast<size_t>(base + 1)].f) = 150.0f;
                p.*(slots[static_cast<size_t>(base + 2)].i) = 1;
                p.*(slots[static_cast<size_t>(base + 3)].i) = 4;
            }
        }
        p.master_delay_l_tempo_lock = 1.0f, p.master_delay_r_tempo_lock = 0.0f;
        p.ir1_delay_l_tempo_lock = 0.0f, p.ir1_delay_r_tempo_lock = 1.0f;
        p.ir2_delay_l_tempo_lock = 1.0f, p.ir2_delay_r_tempo_lock = 1.0f;
    });
    push_all(*engine); // host tempo 120 on the locked sides, 150 on the others
    engine->editor_refresh_pending = false;
    engine->update_tempo(120.0f); // a new engine's tempo
    EXPECT_FALSE(engine->editor_refresh_pending.load());
    engine->update_tempo(100.0f);
    EXPECT_TRUE(engine->editor_refresh_pending.load());
    EXPECT_EQ(engine->host_tempo, 100.0f);

    stereo_delay* const delays[3] = {engine->delay_master, engine->delay_ir1, engine->delay_ir2};
    bool const locked[3][2] = {{true, false}, {false, true}, {true, true}};
    for (int d = 0; d < 3; ++d)
        for (int side = 0; side < 2; ++side) {
            float const tempo = locked[d][side] ? 100.0f : 150.0f;
            EXPECT_EQ(delays[d]->get_tempo(side), tempo) << d << "/" << side;
            EXPECT_FLOAT_EQ(delays[d]->get_delay_ms(side), 60000.0f / tempo) << d << "/" << side;
        }

    // Moved by hand, a locked side keeps its tempo when the host repeats its own.
    engine->delay_ir2->set_tempo(90.0f, 0);
    engine->editor_refresh_pending = false;
    engine->update_tempo(100.0f);
    EXPECT_EQ(engine->delay_ir2->get_tempo(0), 90.0f);
    EXPECT_FALSE(engine->editor_refresh_pending.load());
}

// All six effects on and the bridge pushing their settings and tempi all the while: the audio
// thread allocates nothing (a push that finds an effect's lines busy costs it one dry block).
TEST_F(EngineEffectsTest, AudioAllocatesNothingWhileTheBridgePushes)
{
    edit_program(*engine, [](VST_Plugin_Program& p) {
        unity_fields(p);
        p.ir2_toggle = 1.0f;
        for (EffectBlock block : {EffectBlock::post, EffectBlock::ir1, EffectBlock::ir2}) {
            configure_delay(p, block, true);
            configure_chorus(p, block, true);
        }
        p.master_delay_l_tempo_lock = p.ir1_delay_r_tempo_lock = 1.0f;
        p.chorus_master_delay_mod_ms = p.chorus_ir1_delay_mod_ms = 0.5f;
        p.master_delay_l_feedback = 0.5f;
    });
    push_all(*engine);
    run_stereo(*engine, {noise_burst(4096, 4096, 3), noise_burst(4096, 4096, 4)}); // warm-up

    std::atomic<bool> stop{false};
    std::thread bridge([&] {
        for (int round = 0; !stop.load(); ++round) {
            for (auto push : pushes)
                (engine.get()->*push)();
            engine->update_tempo(round % 2 == 0 ? 90.0f : 140.0f);
        }
    });
    StereoSignal in{noise_burst(48000, 48000, 5), noise_burst(48000, 48000, 6)};
    StereoSignal out{Signal(48000), Signal(48000)};
    long allocations = 0;
    {
        AllocationCounter counter;
        for (size_t done = 0; done < in.left.size(); done += 250) { // 48000 = 192 × 250
            float* ins[2] = {in.left.data() + done, in.right.data() + done};
            float* outs[2] = {out.left.data() + done, out.right.data() + done};
            engine->processReplacing(ins, outs, 250);
        }
        allocations = counter.count();
    }
    stop = true;
    bridge.join();
    EXPECT_EQ(allocations, 0);
    for (float sample : out.left)
        ASSERT_TRUE(std::isfinite(sample));
}

// The section pitch modulators: with a one-sample IR in section 1, IR1's wet output is exactly what
// a pitch modulator set as the program says (the right side at 0.99 x the left side's depth and
// rate) makes of the input.
using PitchTest = EngineTest;
constexpr int rate = 48000;

TEST_F(PitchTest, Section1IsModulatedAsItsModulatorSays)
{
    auto const ir = write_wav("click.wav", {sparse(4800, {{0, 1.0f}}), sparse(4800, {{0, 1.0f}})}, rate);
    auto engine = file_engine(ir, [](VST_Plugin_Program& p) {
        p.pitch_mod_ir1_section1_toggle = 1.0f;
        p.pitch_mod_ir1_split_point = 1.0f; // the whole IR in section 1
        p.pitch_mod_ir1_section1_mod_depth = 0.6f;
        p.pitch_mod_ir1_section1_mod_rate = 0.5f;
    });
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
