// Construction: settings, latency decision, buffers, convolvers and heads, gain-range repair,
// sample-rate behaviour, failures that lock the engine, and the thread-priority fallback.

#include "engine_fixture.h"

#include "convolution/direct_fir.h"
#include "convolution/fft_conv_worker_thread.h"
#include "platform/threading.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace corvella::test {
namespace {

using ConstructionTest = EngineTest;

TEST_F(ConstructionTest, TheLatencyDecidesPartitionsHeadsAndTheDryDelay)
{
    for (int latency : {0, 1024}) {
        SCOPED_TRACE(latency);
        auto engine = make_engine(latency);
        ASSERT_TRUE(engine->processing_enabled.load());
        bool const zero = latency == 0;
        EXPECT_EQ(engine->zero_latency, zero);
        EXPECT_EQ(engine->partition_length, zero ? 128 : 512);
        for (int i = 0; i < VST_Plugin::convolver_count; ++i) {
            ASSERT_NE(engine->fft_convolvers[i], nullptr) << i;
            EXPECT_EQ(engine->fft_convolvers[i]->get_host_block_length(), zero ? 128 : 512);
            EXPECT_EQ(engine->fft_convolvers[i]->get_num_channels(), 2);
            ASSERT_EQ(engine->direct_firs[i] != nullptr, zero) << i;
            EXPECT_EQ(zero ? engine->direct_firs[i]->get_length() : 256, 256);
        }
        ASSERT_EQ(engine->downsample_aa != nullptr, zero);
        EXPECT_EQ(engine->upsample_aa != nullptr, zero);
        EXPECT_EQ(zero ? engine->downsample_aa->get_length() : 16, 16);
        ASSERT_EQ(engine->dry_delay != nullptr, !zero);
        if (!zero) {
            EXPECT_EQ(engine->dry_delay_length, 1024 + 16384);
            EXPECT_EQ(engine->dry_delay_write_position - engine->dry_delay_read_position, 1024);
        }
        EXPECT_TRUE(engine_messages().empty());
    }
}

TEST_F(ConstructionTest, BuffersAreAlignedAndSilentAndTheFirstBuildIsFull)
{
    auto engine = make_engine(0);
    EXPECT_EQ(engine->program, &engine->programs[0]);
    EXPECT_EQ(engine->lock_record, &engine->programs[0]);
    EXPECT_GE(engine->lfo_phase_counter, 0);
    EXPECT_LT(engine->lfo_phase_counter, 48000);
    EXPECT_TRUE(engine->full_recompute_ir1.load() && engine->full_recompute_ir2.load());
    for (float** buffer : {engine->convolver_scratch, engine->ir1_input_a, engine->ir1_wet,
                           engine->ir2_input_a, engine->ir2_wet, engine->ir1_input_b, engine->ir2_input_b,
                           engine->ir1_section1_out, engine->ir2_section1_out, engine->ir1_section2_out,
                           engine->ir2_section2_out, engine->host_input, engine->host_output}) {
        ASSERT_NE(buffer, nullptr);
        for (int channel = 0; channel < 2; ++channel) {
            ASSERT_NE(buffer[channel], nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer[channel]) % 32, 0u);
            EXPECT_EQ(buffer[channel][0], 0.0f);
            EXPECT_EQ(buffer[channel][16383], 0.0f);
        }
    }
}

TEST_F(ConstructionTest, PhaseOffsetsAreStaggeredByConvolverPair)
{
    auto engine = make_engine(0);
    auto offset = [&](int ir, int side, int section) {
        return engine->fft_convolvers[VST_Plugin::convolver_index(ir, side, section)]->phase_offset;
    };
    int const q = offset(1, 0, 1) - 10912;
    EXPECT_GE(q, 0);
    EXPECT_LE(q, 8191);
    for (int section = 1; section <= 2; ++section) {
        EXPECT_EQ(offset(1, 0, section), q + 10912);
        EXPECT_EQ(offset(2, 0, section), q + 21824);
        EXPECT_EQ(offset(1, 1, section), q + 32736);
        EXPECT_EQ(offset(2, 1, section), q + 43648);
    }
}

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
        Case const expected = c.valid ? c : Case{-50, 50, -30, 30, true};
        EXPECT_EQ(engine->ir_gain_min, static_cast<float>(expected.ir_min));
        EXPECT_EQ(engine->ir_gain_max, static_cast<float>(expected.ir_max));
        EXPECT_EQ(engine->master_gain_min, static_cast<float>(expected.master_min));
        EXPECT_EQ(engine->master_gain_max, static_cast<float>(expected.master_max));
        EXPECT_EQ(extract_data_from_registry_ir_gain_min(), expected.ir_min);
        EXPECT_EQ(extract_data_from_registry_ir_gain_max(), expected.ir_max);
        EXPECT_EQ(extract_data_from_registry_master_gain_min(), expected.master_min);
        EXPECT_EQ(extract_data_from_registry_master_gain_max(), expected.master_max);
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
        {1, 96000, 1, 96000, 1.0f}, {1, 48000, 1, 48000, 1.0f}, {0, 96000, 1, 96000, 0.459375f},
        {0, 44100, 1, 44100, 1.0f},
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

TEST_F(ConstructionTest, UnreadableSrNormCountsAsZeroAndIsWrittenBack)
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
    set_program_change_blocks_audio_in_registry(2); // only 1 blocks
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
        // Locked: the output is not touched.
        float in_left[4] = {1, 2, 3, 4}, out_left[4] = {9, 9, 9, 9}, out_right[4] = {9, 9, 9, 9};
        float* in[2] = {in_left, in_left};
        float* out[2] = {out_left, out_right};
        engine.processReplacing(in, out, 4);
        EXPECT_EQ(out_left[3], 9.0f);
        EXPECT_EQ(out_right[0], 9.0f);
    }
    std::filesystem::remove(file());
    CheckPrefs();
    set_latency_in_registry(-4);
    VST_Plugin out_of_range(48000);
    EXPECT_FALSE(out_of_range.processing_enabled.load());
    set_latency_in_registry(0);
    VST_Plugin no_rate(0);
    EXPECT_FALSE(no_rate.processing_enabled.load());

    auto const error = [](std::string const& text) {
        return RecordedMessage{"Tarn Wick: Corvella", text + ": \nSeen during constructor", 0};
    };
    std::vector<RecordedMessage> expected = {
        error(settings_error("Could not query key for size (Code #2: latency).\n")),
        error("Latency setting out of range (-4). Processing will be disabled and plugin locked"),
        error("Invalid host sample rate (0)")};
    std::vector<RecordedMessage> shown = engine_messages();
    for (RecordedMessage& message : shown)
        message.type = 0;
    EXPECT_EQ(shown, expected);
}

TEST_F(ConstructionTest, LoadRefusesBadArguments)
{
    auto engine = make_engine(0);
    FourChannelIr ir(sparse(10, {{0, 1.0f}}));
    EXPECT_FALSE(engine->load_ir_into_slot(0, ir.pointers, 10));
    EXPECT_FALSE(engine->load_ir_into_slot(3, ir.pointers, 10));
    EXPECT_FALSE(engine->load_ir_into_slot(1, ir.pointers, 0));
    EXPECT_FALSE(engine->load_ir_into_slot(1, nullptr, 10));
    float* missing[4] = {ir.pointers[0], nullptr, ir.pointers[2], ir.pointers[3]};
    EXPECT_FALSE(engine->load_ir_into_slot(1, missing, 10));
    EXPECT_EQ(engine->ir1_length_ms.load(), 0);
    EXPECT_TRUE(engine->load_ir_into_slot(2, ir.pointers, 10));
    EXPECT_EQ(engine->ir2_length_ms.load(), 1); // 10 samples at 48 kHz round up to 1 ms
}

// A thread that waits until told to stop, for the priority fallback.
struct WaitingThread {
    static unsigned routine(void* self)
    {
        while (!static_cast<std::atomic<bool>*>(self)->load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }
    std::atomic<bool> stop{false};
    std::uintptr_t handle = _beginthreadex(nullptr, 0, &routine, &stop, 0, nullptr);
    ~WaitingThread()
    {
        stop = true;
        while (corvella::thread_is_running(handle))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST_F(ConstructionTest, ARefusedPriorityIsReportedOnceAndProcessingGoesOn)
{
    WaitingThread thread;
    ASSERT_NE(thread.handle, 0u);
    int const before = GetThreadPriority(thread.handle);
    std::atomic<bool> warned{false};
    if (VST_Plugin::raise_thread_priority(thread.handle, 10, "IR Thread 1", warned))
        GTEST_SKIP() << "this system permits the raise; the fallback cannot be observed";
    EXPECT_EQ(GetThreadPriority(thread.handle), before);
    EXPECT_FALSE(VST_Plugin::raise_thread_priority(thread.handle, 10, "IR Thread 1", warned));
    EXPECT_FALSE(VST_Plugin::raise_thread_priority(0, 10, "IR Thread 1", warned));
    EXPECT_EQ(
        messages_.messages(),
        std::vector<RecordedMessage>({{"Tarn Wick: Corvella",
                                       "The system does not permit raising the priority of IR Thread 1; it "
                                       "continues at the default priority.",
                                       0}}));
}

} // namespace
} // namespace corvella::test
