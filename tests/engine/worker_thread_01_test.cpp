// The IR computation thread: requests raised during a rebuild, how it stops, and program changes.
// Partial against full rebuilds are in the pipeline tests, IRs switched on in the generations tests.

#include "engine_fixture.h"

#include "engine/worker_thread_01.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace corvella::test {
namespace {

constexpr int rate = 48000;

class WorkerTest : public EngineTest {
protected:
    // Ten seconds of stereo noise at 96 kHz: long enough that a full build can be caught running.
    std::filesystem::path long_file()
    {
        int const frames = 10 * 96000;
        return write_wav("long.wav", {decaying_noise(frames, 51, 1.0), decaying_noise(frames, 52, 1.0)},
                         96000);
    }

    // Waits until a build of IR1 has begun and not finished; false when none is caught in time.
    static bool wait_for_build_in_progress(VST_Plugin& engine)
    {
        auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            if (engine.ir_builds_started[0] > 0 && engine.ir_builds_finished[0] < engine.ir_builds_started[0])
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
};

TEST_F(WorkerTest, RequestsDuringARebuildCauseExactlyOneMoreAndAKillLetsTheRebuildFinish)
{
    auto engine = file_engine(long_file(), {}, false);
    engine->signal_recompute_ir1_full();
    ASSERT_TRUE(wait_for_build_in_progress(*engine));
    engine->signal_recompute_ir1_partial();
    engine->signal_recompute_ir1_partial();
    engine->signal_recompute_both_partial();
    ASSERT_TRUE(wait_idle(*engine));
    EXPECT_EQ(engine->ir_builds_started[0], 2);
    EXPECT_EQ(engine->ir_builds_finished[0], 2);
    EXPECT_EQ(engine->ir_builds_started[1], 1); // IR2 from the combined request

    engine->signal_recompute_ir1_full();
    ASSERT_TRUE(wait_for_build_in_progress(*engine));
    engine->ir_worker->trigger_kill();
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!engine->ir_worker->finished && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(engine->ir_worker->finished);
    EXPECT_EQ(engine->ir_builds_finished[0], 3);
    EXPECT_GE(engine->ir1_length_ms, 10000); // the whole file went in
    EXPECT_FALSE(engine->is_ir_work_pending());
    engine.reset(); // the destructor finds the thread finished and proceeds
}

// Idle, the worker polls (about ten times a second) instead of spinning a core; a request still
// wakes it at once.
TEST_F(WorkerTest, AnIdleWorkerWaitsBetweenPolls)
{
    auto engine = file_engine(write_wav("short.wav", {decaying_noise(4800, 3, 1.0)}, rate), {}, false);
    ASSERT_TRUE(wait_idle(*engine));
    long const before = engine->ir_worker->passes.load();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long const idle_passes = engine->ir_worker->passes.load() - before;
    EXPECT_GE(idle_passes, 1);
    EXPECT_LE(idle_passes, 30) << "the worker spins instead of waiting";
    int const builds = engine->ir_builds_finished[0];
    engine->signal_recompute_ir1_partial();
    ASSERT_TRUE(wait_idle(*engine));
    EXPECT_EQ(engine->ir_builds_finished[0], builds + 1);
}

TEST_F(WorkerTest, WithoutSmoothChangesAProgramChangeIsDryOnlyUntilTheNewIrsAreIn)
{
    CheckPrefs();
    set_smooth_changes_in_registry(0);
    auto const first =
        write_wav("first.wav", {sparse(4800, {{100, 0.5f}}), sparse(4800, {{100, 0.5f}})}, rate);
    auto engine =
        file_engine(first, [](VST_Plugin_Program& p) { p.master_mix = 0.5f; }); // dry and wet at full level

    // The new program's IR is long, so the rebuild takes a while.
    int const long_frames = 10 * rate;
    auto const second = write_wav(
        "second.wav", {sparse(long_frames, {{500, 0.5f}}), sparse(long_frames, {{500, 0.5f}})}, rate);
    std::vector<VST_Plugin_Program> bank(engine->programs, engine->programs + programs_per_bank);
    bank[5] = bank[0];
    set_path(bank[5].ir1_file_a, second.string());
    engine->update_programs(bank.data(), 5);
    engine->signal_set_program_disable_audio();
    engine->signal_recompute_both_full();

    int muted_blocks = 0;
    for (unsigned seed = 1; engine->is_ir_work_pending(); ++seed) {
        StereoSignal const in{noise_burst(512, 512, seed), noise_burst(512, 512, seed + 1000)};
        bool const busy_before = engine->ir_rebuild_busy;
        StereoSignal const out = run_stereo(*engine, in, {512});
        if (busy_before && engine->ir_rebuild_busy) {
            ++muted_blocks;
            ASSERT_EQ(out.left, in.left) << "block " << seed;
            ASSERT_EQ(out.right, in.right) << "block " << seed;
        }
    }
    EXPECT_GT(muted_blocks, 0);
    EXPECT_FALSE(engine->ir_rebuild_busy);
    StereoSignal const after = respond(*engine, 1.0f, 0.0f, 1000);
    EXPECT_LT(max_difference(after.left, sparse(1000, {{0, 1.0f}, {500, 0.5f}})), 1e-6f);
}

} // namespace
} // namespace corvella::test
