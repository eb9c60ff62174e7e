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

TEST_F(ConstructionTest, ZeroLatencyRunsHeadsOfTwiceThePartition)
{
    auto engine = make_engine(0);
    ASSERT_TRUE(engine->processing_enabled.load());
    EXPECT_TRUE(engine->zero_latency);
    EXPECT_EQ(engine->partition_length, 128);
    for (int i = 0; i < VST_Plugin::convolver_count; ++i) {
        ASSERT_NE(engine->fft_convolvers[i], nullptr) << i;
        EXPECT_EQ(engine->fft_convolvers[i]->get_host_block_length(), 128);
        EXPECT_EQ(engine->fft_convolvers[i]->get_num_channels(), 2);
        ASSERT_NE(engine->direct_firs[i], nullptr) << i;
        EXPECT_EQ(engine->direct_firs[i]->get_length(), 256);
    }
    ASSERT_NE(engine->downsample_aa, nullptr);
    ASSERT_NE(engine->upsample_aa, nullptr);
    EXPECT_EQ(engine->downsample_aa->get_length(), 16);
    EXPECT_EQ(engine->dry_delay, nullptr);
    EXPECT_TRUE(engine_messages().empty());
}

TEST_F(ConstructionTest, Latency1024HasNoHeadsAndADryDelayOf1024)
{
    auto engine = make_engine(1024);
    ASSERT_TRUE(engine->processing_enabled.load());
    EXPECT_FALSE(engine->zero_latency);
    EXPECT_EQ(engine->partition_length, 512);
    for (int i = 0; i < VST_Plugin::convolver_count; ++i) {
        ASSERT_NE(engine->fft_convolvers[i], nullptr);
        EXPECT_EQ(engine->fft_convolvers[i]->get_host_block_length(), 512);
        EXPECT_EQ(engine->direct_firs[i], nullptr);
    }
    EXPECT_EQ(engine->downsample_aa, nullptr);
    ASSERT_NE(engine->dry_delay, nullptr);
    EXPECT_EQ(engine->dry_delay_length, 1024 + 16384);
    EXPECT_EQ(engine->dry_delay_write_position - engine->dry_delay_read_position, 1024);
}

TEST_F(ConstructionTest, InitialStateOfTheFrame)
{
    auto engine = make_engine(0);
    EXPECT_EQ(engine->channel_mode, 2);
    EXPECT_EQ(engine->silent_sample_count, 882000);
    EXPECT_FLOAT_EQ(engine->smoothed_mix, 0.5f);
    EXPECT_FLOAT_EQ(engine->host_tempo, 120.0f);
    EXPECT_EQ(engine->program, &engine->programs[0]);
    EXPECT_EQ(engine->lock_record, &engine->programs[0]);
    EXPECT_GE(engine->lfo_phase_counter, 0);
    EXPECT_LT(engine->lfo_phase_counter, 48000);
    EXPECT_TRUE(engine->full_recompute_ir1.load());
    EXPECT_TRUE(engine->full_recompute_ir2.load());
    EXPECT_FALSE(engine->ir_rebuild_busy.load());
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

TEST_F(ConstructionTest, GainRangesWithinTheLimitsAreAccepted)
{
    CheckPrefs();
    set_ir_gain_min_in_registry(-60);
    set_ir_gain_max_in_registry(20);
    set_master_gain_min_in_registry(-100);
    set_master_gain_max_in_registry(100);
    auto engine = make_engine(0);
    EXPECT_EQ(engine->ir_gain_min, -60.0f);
    EXPECT_EQ(engine->ir_gain_max, 20.0f);
    EXPECT_EQ(engine->master_gain_min, -100.0f);
    EXPECT_EQ(engine->master_gain_max, 100.0f);
    EXPECT_EQ(extract_data_from_registry_ir_gain_min(), -60);
}

TEST_F(ConstructionTest, AnInvalidGainRangeResetsAllFourAndStoresThem)
{
    struct Bad {
        int ir_min, ir_max, master_min, master_max;
    };
    for (Bad const bad : {Bad{10, 50, -20, 10}, Bad{-50, -1, -20, 10}, Bad{-50, 50, -20, -20},
                          Bad{-101, 50, -20, 10}, Bad{-50, 101, -20, 10}}) {
        CheckPrefs();
        set_ir_gain_min_in_registry(bad.ir_min);
        set_ir_gain_max_in_registry(bad.ir_max);
        set_master_gain_min_in_registry(bad.master_min);
        set_master_gain_max_in_registry(bad.master_max);
        auto engine = make_engine(0);
        EXPECT_TRUE(engine->processing_enabled.load());
        EXPECT_EQ(engine->ir_gain_min, -50.0f);
        EXPECT_EQ(engine->ir_gain_max, 50.0f);
        EXPECT_EQ(engine->master_gain_min, -30.0f);
        EXPECT_EQ(engine->master_gain_max, 30.0f);
        EXPECT_EQ(extract_data_from_registry_ir_gain_min(), -50);
        EXPECT_EQ(extract_data_from_registry_ir_gain_max(), 50);
        EXPECT_EQ(extract_data_from_registry_master_gain_min(), -30);
        EXPECT_EQ(extract_data_from_registry_master_gain_max(), 30);
    }
    EXPECT_TRUE(engine_messages().empty()); // repaired silently
}

struct RateCase {
    int sr_norm;
    int host_rate;
    int half_rate_factor;
    int sample_rate;
    float sr_gain;
};

class SampleRateTest : public EngineTest, public testing::WithParamInterface<RateCase> {};

TEST_P(SampleRateTest, SrNormDecidesHalfRateAndGain)
{
    RateCase const c = GetParam();
    auto engine = make_engine(0, c.host_rate, c.sr_norm);
    ASSERT_TRUE(engine->processing_enabled.load());
    EXPECT_EQ(engine->half_rate_factor, c.half_rate_factor);
    EXPECT_EQ(engine->sample_rate, c.sample_rate);
    EXPECT_EQ(engine->host_sample_rate, static_cast<float>(c.host_rate));
    EXPECT_FLOAT_EQ(engine->sr_gain, c.sr_gain);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SampleRateTest,
    testing::Values(RateCase{2, 96000, 2, 48000, 0.91875f}, RateCase{2, 48000, 1, 48000, 0.91875f},
                    RateCase{2, 88200, 2, 44100, 1.0f}, RateCase{2, 88000, 2, 44000, 44100.0f / 44000.0f},
                    RateCase{2, 87999, 1, 87999, 44100.0f / 87999.0f}, RateCase{1, 96000, 1, 96000, 1.0f},
                    RateCase{1, 48000, 1, 48000, 1.0f}, RateCase{0, 96000, 1, 96000, 0.459375f},
                    RateCase{0, 44100, 1, 44100, 1.0f}));

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
}

TEST_F(ConstructionTest, ProgramChangeBlocksAudioOnlyWhenOne)
{
    CheckPrefs();
    set_program_change_blocks_audio_in_registry(1);
    EXPECT_TRUE(make_engine(0)->program_change_blocks_audio);
    set_program_change_blocks_audio_in_registry(2);
    EXPECT_FALSE(make_engine(0)->program_change_blocks_audio);
}

TEST_F(ConstructionTest, AMissingLatencyLocksTheEngineWithTheSettingsMessage)
{
    write_settings(settings_document({{user_value("SRNorm"), "0"},
                                      {user_value("ProgramChangeBlocksAudio"), "0"},
                                      {user_value("IRGainMin"), "-50"},
                                      {user_value("IRGainMax"), "50"},
                                      {user_value("MasterGainMin"), "-30"},
                                      {user_value("MasterGainMax"), "30"},
                                      {user_value("WetLock"), "0"}}));
    VST_Plugin engine(48000);
    EXPECT_FALSE(engine.processing_enabled.load());
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().caption, "Tarn Wick: Corvella");
    EXPECT_EQ(messages_.last().text, settings_error("Could not query key for size (Code #2: latency).\n") +
                                         ": \nSeen during constructor");

    // Locked: the output is not touched.
    float in_left[4] = {1, 2, 3, 4}, in_right[4] = {1, 2, 3, 4};
    float out_left[4] = {9, 9, 9, 9}, out_right[4] = {9, 9, 9, 9};
    float* in[2] = {in_left, in_right};
    float* out[2] = {out_left, out_right};
    engine.processReplacing(in, out, 4);
    EXPECT_EQ(out_left[3], 9.0f);
    EXPECT_EQ(out_right[0], 9.0f);
}

TEST_F(ConstructionTest, AnOutOfRangeLatencyLocksTheEngine)
{
    CheckPrefs();
    set_latency_in_registry(-4);
    VST_Plugin engine(48000);
    EXPECT_FALSE(engine.processing_enabled.load());
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().text,
              "Latency setting out of range (-4). Processing will be disabled and plugin "
              "locked: \nSeen during constructor");
}

TEST_F(ConstructionTest, AnInvalidSampleRateLocksTheEngine)
{
    CheckPrefs();
    VST_Plugin engine(0);
    EXPECT_FALSE(engine.processing_enabled.load());
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().text, "Invalid host sample rate (0): \nSeen during constructor");
}

TEST_F(ConstructionTest, LoadRefusesBadArguments)
{
    auto engine = make_engine(0);
    FourChannelIr ir{delayed_impulse(10, 0), delayed_impulse(10, 0), delayed_impulse(10, 0),
                     delayed_impulse(10, 0)};
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
        auto* stop = static_cast<std::atomic<bool>*>(self);
        while (!stop->load())
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
    bool const raised = VST_Plugin::raise_thread_priority(thread.handle, 10, "IR Thread 1", warned);
    if (raised) GTEST_SKIP() << "this system permits the raise; the fallback cannot be observed";
    EXPECT_EQ(GetThreadPriority(thread.handle), before);
    EXPECT_FALSE(VST_Plugin::raise_thread_priority(thread.handle, 10, "IR Thread 1", warned));
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().caption, "Tarn Wick: Corvella");
    EXPECT_EQ(messages_.last().text, "The system does not permit raising the priority of IR Thread 1; it "
                                     "continues at the default priority.");
    EXPECT_FALSE(VST_Plugin::raise_thread_priority(0, 10, "IR Thread 1", warned));
}

} // namespace
} // namespace corvella::test
