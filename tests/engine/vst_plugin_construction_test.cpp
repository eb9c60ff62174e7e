// Construction: settings, gain-range repair, sample-rate behaviour, failures that lock the engine,
// and the thread-priority fallback. What the latency decides is seen in the topology tests.

#include "engine_fixture.h"

#include "platform/threading.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace corvella::test {
namespace {

using ConstructionTest = EngineTest;

TEST_F(ConstructionTest, GainRangesAreAcceptedWithinTheLimitsAndOtherwiseAllFourAreResetAndStored)
{
    struct Case {
        int ir_min, ir_max, master_min, master_max;
        bool valid;
    };
    for (Case const c :
         {Case{-60, 20, -100, 100, true}, Case{10, 50, -20, 10, false}, Case{-50, -1, -20, 10, false},
          Case{-50, 50, -20, -20, false}, Case{-101, 50, -20, 10, false}, Case{-50, 101, -20, 10, false}}) {
        SCOPED_TRACE(testing::Message()
                     << c.ir_min << " " << c.ir_max << " " << c.master_min << " " << c.master_max);
        CheckPrefs();
        set_ir_gain_min_in_registry(c.ir_min);
        set_ir_gain_max_in_registry(c.ir_max);
        set_master_gain_min_in_registry(c.master_min);
        set_master_gain_max_in_registry(c.master_max);
        auto engine = make_engine(0);
        EXPECT_TRUE(engine->processing_enabled.load());
        Case const e = c.valid ? c : Case{-50, 50, -30, 30, true};
        EXPECT_EQ(
            std::vector<float>(
                {engine->ir_gain_min, engine->ir_gain_max, engine->master_gain_min, engine->master_gain_max}),
            std::vector<float>({float(e.ir_min), float(e.ir_max), float(e.master_min), float(e.master_max)}));
        EXPECT_EQ(std::vector<int>({extract_data_from_registry_ir_gain_min(),
                                    extract_data_from_registry_ir_gain_max(),
                                    extract_data_from_registry_master_gain_min(),
                                    extract_data_from_registry_master_gain_max()}),
                  std::vector<int>({e.ir_min, e.ir_max, e.master_min, e.master_max}));
    }
    EXPECT_TRUE(engine_messages().empty()); // repaired silently
}

TEST_F(ConstructionTest, SrNormDecidesHalfRateAndGain)
{
    struct Case {
        int sr_norm, host_rate, half_rate_factor, sample_rate;
        float sr_gain;
    };
    // clang-format off
    Case const cases[] = {
        {2, 96000, 2, 48000, 0.91875f}, {2, 48000, 1, 48000, 0.91875f}, {2, 88200, 2, 44100, 1.0f},
        {2, 88000, 2, 44000, 44100.0f / 44000.0f}, {2, 87999, 1, 87999, 44100.0f / 87999.0f},
        {1, 96000, 1, 96000, 1.0f}, {0, 96000, 1, 96000, 0.459375f},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << "SRNorm " << c.sr_norm << " at " << c.host_rate);
        auto engine = make_engine(0, c.host_rate, c.sr_norm);
        ASSERT_TRUE(engine->processing_enabled.load());
        EXPECT_EQ(engine->half_rate_factor, c.half_rate_factor);
        EXPECT_EQ(engine->sample_rate, c.sample_rate);
        EXPECT_EQ(engine->host_sample_rate, static_cast<float>(c.host_rate));
        EXPECT_FLOAT_EQ(engine->sr_gain, c.sr_gain);
    }
}

TEST_F(ConstructionTest, UnreadableSrNormCountsAsZeroAndIsWrittenBackAndOnlyOneBlocksAudio)
{
    write_settings(settings_document({{user_value("Latency"), "0"},
                                      {user_value("ProgramChangeBlocksAudio"), "0"},
                                      {user_value("IRGainMin"), "-50"},
                                      {user_value("IRGainMax"), "50"},
                                      {user_value("MasterGainMin"), "-30"},
                                      {user_value("MasterGainMax"), "30"},
                                      {user_value("WetLock"), "2"},
                                      {machine_value("InstallDir"), ""}}));
    VST_Plugin engine(96000);
    ASSERT_TRUE(engine.processing_enabled.load());
    EXPECT_EQ(engine.half_rate_factor, 1);
    EXPECT_FLOAT_EQ(engine.sr_gain, 44100.0f / 96000.0f);
    EXPECT_EQ(extract_data_from_registry_sr_gain(), 0);
    EXPECT_EQ(engine.wet_lock_mode, 2);

    CheckPrefs();
    set_program_change_blocks_audio_in_registry(1);
    EXPECT_TRUE(make_engine(0)->program_change_blocks_audio);
    set_program_change_blocks_audio_in_registry(2);
    EXPECT_FALSE(make_engine(0)->program_change_blocks_audio);
}

TEST_F(ConstructionTest, SettingsAndRateFailuresLockTheEngineWithTheirMessages)
{
    write_settings(settings_document({{user_value("SRNorm"), "0"},
                                      {user_value("ProgramChangeBlocksAudio"), "0"},
                                      {user_value("IRGainMin"), "-50"},
                                      {user_value("IRGainMax"), "50"},
                                      {user_value("MasterGainMin"), "-30"},
                                      {user_value("MasterGainMax"), "30"},
                                      {user_value("WetLock"), "0"}}));
    {
        VST_Plugin engine(48000); // no "Latency"
        EXPECT_FALSE(engine.processing_enabled.load());
        float in_left[4] = {1, 2, 3, 4}, out_left[4] = {9, 9, 9, 9}, out_right[4] = {9, 9, 9, 9};
        float* in[2] = {in_left, in_left};
        float* out[2] = {out_left, out_right};
        engine.processReplacing(in, out, 4);
        EXPECT_TRUE(out_left[3] == 9.0f && out_right[0] == 9.0f) << "a locked engine leaves the output alone";
    }
    std::filesystem::remove(file());
    CheckPrefs();
    set_latency_in_registry(-4);
    EXPECT_FALSE(VST_Plugin(48000).processing_enabled.load());
    set_latency_in_registry(0);
    EXPECT_FALSE(VST_Plugin(0).processing_enabled.load());

    auto const error = [](std::string const& text) {
        return RecordedMessage{"Tarn Wick: Corvella", text + ": \nSeen during constructor", 0};
    };
    std::vector<RecordedMessage> shown = engine_messages();
    for (RecordedMessage& message : shown)
        message.type = 0;
    EXPECT_EQ(shown,
              std::vector<RecordedMessage>(
                  {error(settings_error("Could not query key for size (Code #2: latency).\n")),
                   error("Latency setting out of range (-4). Processing will be disabled and plugin locked"),
                   error("Invalid host sample rate (0)")}));
}

TEST_F(ConstructionTest, LoadRefusesBadArguments)
{
    auto engine = make_engine(0);
    FourChannelIr ir(sparse(10, {{0, 1.0f}}));
    float* missing[4] = {ir.pointers[0], nullptr, ir.pointers[2], ir.pointers[3]};
    EXPECT_FALSE(engine->load_ir_into_slot(0, ir.pointers, 10));
    EXPECT_FALSE(engine->load_ir_into_slot(3, ir.pointers, 10));
    EXPECT_FALSE(engine->load_ir_into_slot(1, ir.pointers, 0));
    EXPECT_FALSE(engine->load_ir_into_slot(1, nullptr, 10));
    EXPECT_FALSE(engine->load_ir_into_slot(1, missing, 10));
    EXPECT_EQ(engine->ir1_length_ms.load(), 0);
    EXPECT_TRUE(engine->load_ir_into_slot(2, ir.pointers, 10));
    EXPECT_EQ(engine->ir2_length_ms.load(), 1); // 10 samples at 48 kHz round up to 1 ms
}

TEST_F(ConstructionTest, ARefusedPriorityIsReportedOnceAndProcessingGoesOn)
{
    static std::atomic<bool> stop{false};
    stop = false;
    std::uintptr_t const thread = _beginthreadex(
        nullptr, 0,
        [](void*) -> unsigned {
            while (!stop.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        },
        nullptr, 0, nullptr);
    ASSERT_NE(thread, 0u);
    int const before = GetThreadPriority(thread);
    std::atomic<bool> warned{false};
    bool const raised = VST_Plugin::raise_thread_priority(thread, 10, "IR Thread 1", warned);
    if (!raised) {
        EXPECT_EQ(GetThreadPriority(thread), before);
        EXPECT_FALSE(VST_Plugin::raise_thread_priority(thread, 10, "IR Thread 1", warned));
        EXPECT_FALSE(VST_Plugin::raise_thread_priority(0, 10, "IR Thread 1", warned));
        EXPECT_EQ(
            messages_.messages(),
            std::vector<RecordedMessage>({{"Tarn Wick: Corvella",
                                           "The system does not permit raising the priority of IR Thread 1; "
                                           "it continues at the default priority.",
                                           0}}));
    }
    stop = true;
    while (corvella::thread_is_running(thread))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (raised) GTEST_SKIP() << "this system permits the raise; the fallback cannot be observed";
}

// The convolver workers the audio thread waits on run at real-time priority 20 where the system
// permits it, and one step under a real-time audio thread of priority 20 or less, so they never
// pre-empt the thread that waits for them. The IR worker, which nothing on the audio path waits on,
// stays under time sharing.
TEST_F(ConstructionTest, ConvolverWorkersAreRaisedBelowTheAudioThreadAndTheIrWorkerIsNot)
{
    auto engine = make_engine(0);
    EXPECT_EQ(GetThreadPriority(engine->ir_worker_thread), 0);
    if (GetThreadPriority(engine->fft_thread_handles[0]) != 20)
        GTEST_SKIP() << "this system refuses real-time priorities";
    for (void* handle : engine->fft_thread_handles)
        EXPECT_EQ(GetThreadPriority(handle), 20);
    auto call_from_thread_at = [&](int priority) {
        std::thread([&] {
            sched_param parameters{};
            parameters.sched_priority = priority;
            ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters), 0);
            run_stereo(*engine, StereoSignal{Signal(256, 0.0f), Signal(256, 0.0f)}, {256});
        }).join();
    };
    auto workers_reach = [&](int priority) {
        for (int waited = 0; waited < 3000; waited += 10) {
            if (std::all_of(std::begin(engine->fft_thread_handles), std::end(engine->fft_thread_handles),
                            [&](void* handle) { return GetThreadPriority(handle) == priority; }))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    call_from_thread_at(5);
    EXPECT_TRUE(workers_reach(4));
    call_from_thread_at(1);
    EXPECT_TRUE(workers_reach(1));
    call_from_thread_at(60);
    EXPECT_TRUE(workers_reach(20));
}

} // namespace
} // namespace corvella::test
