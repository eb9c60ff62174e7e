// Damaged values, stale tails, waits and the floating-point mode: the audio path against what
// other threads and outside data may do to it.

#include "engine_fixture.h"

#include "engine/worker_thread_01.h"
#include "platform/threading.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <future>
#include <limits>
#include <xmmintrin.h>

namespace corvella::test {
namespace {

using RobustnessTest = EngineTest;

float peak(StereoSignal const& s)
{
    float worst = 0.0f;
    for (Signal const* channel : {&s.left, &s.right})
        for (float x : *channel)
            worst = std::isfinite(x) ? std::max(worst, std::fabs(x)) : std::numeric_limits<float>::infinity();
    return worst;
}

TEST_F(RobustnessTest, AShortIrLeavesNoTailOfTheLongOneBeforeIt)
{
    auto engine = make_engine(0); // zero latency: one frame fits in the head
    set_unity_program(*engine);
    FourChannelIr long_ir(decaying_noise(48000, 3));
    ASSERT_TRUE(engine->load_ir_into_slot(1, long_ir.pointers, long_ir.length()));
    FourChannelIr unit(Signal{1.0f});
    ASSERT_TRUE(engine->load_ir_into_slot(1, unit.pointers, unit.length()));
    StereoSignal const out = respond(*engine, 1.0f, 0.5f, 60000);
    EXPECT_EQ(max_difference(out.left, sparse(60000, {{0, 1.0f}})), 0.0f);
    EXPECT_EQ(max_difference(out.right, sparse(60000, {{0, 0.5f}})), 0.0f);
}

// Every 32-bit slot but the texts, damaged alone with NaN, infinities and +-1e30: the output stays
// finite and below +20 dBFS for a -60 dBFS input, far above the loudest legal setting (+80 dB of
// IR and master gain, x4 in chain) and far below what the damage gave before.
TEST_F(RobustnessTest, NoDamagedSlotMakesTheOutputNaNOrABlast)
{
    auto engine = make_engine(0);
    set_unity_program(*engine);
    FourChannelIr unit(Signal{1.0f});
    ASSERT_TRUE(engine->load_ir_into_slot(1, unit.pointers, unit.length()));
    std::vector<VST_Plugin_Program> good(programs_per_bank);
    int current = 0;
    engine->read_programs(good.data(), current);

    using P = VST_Plugin_Program;
    auto is_text = [](std::size_t offset) {
        for (auto [begin, size] : {std::pair{offsetof(P, name), sizeof(P::name)},
                                   std::pair{offsetof(P, ir1_file_a), 2 * sizeof(P::ir1_file_a)},
                                   std::pair{offsetof(P, ir2_file_a), 2 * sizeof(P::ir2_file_a)}})
            if (offset >= begin && offset < begin + size) return true;
        return false;
    };
    float const damage[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
    StereoSignal const input{Signal(256, 1e-3f), Signal(256, -1e-3f)};
    int slots = 0;
    for (std::size_t offset = 0; offset < sizeof(P); offset += 4) {
        if (is_text(offset)) continue;
        ++slots;
        for (float value : damage) {
            std::vector<P> bank = good;
            for (P* record : {&bank[0], &bank[static_cast<std::size_t>(current)]})
                std::memcpy(reinterpret_cast<unsigned char*>(record) + offset, &value, 4);
            engine->update_programs(bank.data(), current);
            float const loudest = peak(run_stereo(*engine, input, {256}));
            ASSERT_LE(loudest, 10.0f) << "slot at byte " << offset << " set to " << value;
        }
    }
    EXPECT_EQ(slots, 743 - (24 + 4 * 300) / 4);
}

TEST_F(RobustnessTest, AMixThatWentNaNRecoversWithTheNextGoodProgram)
{
    auto engine = make_engine(0);
    set_unity_program(*engine);
    FourChannelIr unit(Signal{1.0f});
    ASSERT_TRUE(engine->load_ir_into_slot(1, unit.pointers, unit.length()));
    engine->program->master_ir1_ir2_mix = std::numeric_limits<float>::quiet_NaN(); // past any check
    run_stereo(*engine, {noise_burst(512, 512, 1), noise_burst(512, 512, 2)}, {512});
    edit_program(*engine, [](VST_Plugin_Program& p) { p.master_ir1_ir2_mix = 0.0f; });
    EXPECT_TRUE(std::isfinite(peak(run_stereo(*engine, {noise_burst(512, 512, 1), noise_burst(512, 512, 2)}))));
}

// The audio thread takes none of the locks that the control side holds for long (the bank, a
// request batch), allocates nothing while banks arrive and histories are forgotten, and leaves
// the caller's floating-point mode as it found it.
TEST_F(RobustnessTest, TheAudioThreadNeverWaitsAllocatesOrKeepsItsFloatingPointMode)
{
    auto engine = make_engine(0);
    set_unity_program(*engine);
    FourChannelIr ir(decaying_noise(96000, 4));
    ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    int current = 0;
    engine->read_programs(bank.data(), current);

    StereoSignal const in{noise_burst(4096, 4096, 5), noise_burst(4096, 4096, 6)};

    {
        // The control side holds the bank and a request batch for as long as it likes.
        VST_Plugin::RequestBatch const batch(*engine);
        EnterCriticalSection(&engine->bank_lock);
        auto audio = std::async(std::launch::async, [&] { run_stereo(*engine, in, {64, 128, 333}); });
        bool const finished = audio.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        LeaveCriticalSection(&engine->bank_lock);
        ASSERT_TRUE(finished) << "the audio thread waited for a lock the control side held";
    }

    unsigned const host_mode = _mm_getcsr() & ~0x8040u; // no flush-to-zero, no denormals-are-zero
    _mm_setcsr(host_mode);
    std::atomic<bool> stop{false};
    std::thread control([&] {
        while (!stop) {
            engine->update_programs(bank.data(), current);
            engine->silence_buffers();
        }
    });
    StereoSignal out = in;
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int block = 0; block < 200; ++block) {
            float* ins[2] = {const_cast<float*>(in.left.data()), const_cast<float*>(in.right.data())};
            float* outs[2] = {out.left.data(), out.right.data()};
            engine->processReplacing(ins, outs, 64 + block % 3 * 131);
        }
        allocations = counter.count();
    }
    stop = true;
    control.join();
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(_mm_getcsr(), host_mode);
}

TEST_F(RobustnessTest, AtHalfRateTheTailIsProcessedForItsWholeLength)
{
    auto engine = make_engine(0, 96000, 2); // "SRNorm" 2: the engine runs at 48 kHz
    ASSERT_EQ(engine->half_rate_factor, 2);
    set_unity_program(*engine);
    FourChannelIr ir(Signal(48000, 0.001f)); // 1 s of a flat tail at the engine rate
    ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    StereoSignal const out = respond(*engine, 1.0f, 1.0f, 96000);
    float late = 0.0f; // 0.6 to 0.9 s, host frames
    for (size_t i = 57600; i < 86400; ++i)
        late = std::max(late, std::fabs(out.left[i]));
    EXPECT_GT(late, 1e-4f) << "the reverb stopped before the end of its IR";
}

TEST_F(RobustnessTest, AnEngineBeingDestroyedAbandonsItsBuild)
{
    auto engine = make_engine(0);
    ASSERT_TRUE(wait_idle(*engine));
    auto const file = write_wav("long.wav", {decaying_noise(20 * 44100, 7), decaying_noise(20 * 44100, 8)}, 44100);
    edit_program(*engine, [&](VST_Plugin_Program& p) { set_path(p.ir1_file_a, file.string()); });
    int const started = engine->ir_builds_started[0];
    engine->signal_recompute_ir1_full();
    while (engine->ir_builds_started[0] == started)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    engine->ir_worker->trigger_kill(); // what the destructor does first
    while (!engine->ir_worker->finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(engine->ir_builds_cancelled[0], 1);
    EXPECT_EQ(engine->ir1_length_ms, 0) << "the cancelled build loaded its IR";
    EXPECT_TRUE(engine_messages().empty());
}

} // namespace
} // namespace corvella::test
