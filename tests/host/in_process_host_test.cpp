// The in-process host end to end: instances in the three variants, bypass, meters, the bridge's
// rhythm and the requests it hands to the engine, the timer thread and the offline wait.
#include "host/in_process_host.h"

#include "engine/vst_plugin.h"
#include "engine/worker_thread_01.h"
#include "host/demogain_parameters.h"
#include "host_fixture.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

using corvella::host::InProcessHost;
using corvella::host::Variant;

namespace {

constexpr std::chrono::seconds kIdle{60};

std::vector<float> noise(int frames, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-0.9f, 0.9f);
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (float& sample : samples)
        sample = value(generator);
    return samples;
}

class InProcessHostTest : public corvella::test::HostTest {
protected:
    // A served start-up, the IR worker stopped (so the flags the bridge sets stay visible) and a
    // hand clock at t = 0.
    void make_quiet_host()
    {
        ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
        ASSERT_TRUE(host.wait_until_idle(kIdle));
        VST_Plugin& engine = *host.engine();
        ASSERT_NE(engine.ir_worker, nullptr);
        engine.ir_worker->trigger_kill();
        while (!engine.ir_worker->finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        clear_engine_flags();
        host.set_clock([this] { return now_ms.load(); });
        host.wake_up();
    }

    void clear_engine_flags()
    {
        VST_Plugin& engine = *host.engine();
        engine.recompute_ir1 = engine.recompute_ir2 = false;
        engine.full_recompute_ir1 = engine.full_recompute_ir2 = false;
        engine.ir_rebuild_busy = false;
        engine.buffer_silence_requested = false;
    }

    // Sets a parameter and runs the bridge pass at `at_ms`.
    void change_and_pass(char const* key, float value, std::uint64_t at_ms)
    {
        clear_engine_flags();
        ASSERT_TRUE(host.set_parameter(key, value));
        now_ms = at_ms;
        host.wake_up();
    }

    std::uint8_t pending(corvella::Request request)
    {
        return host.parameters().pending_requests().bytes[static_cast<int>(request)];
    }

    InProcessHost host;
    std::atomic<std::uint64_t> now_ms{0};
};

} // namespace

TEST_F(InProcessHostTest, InstancesInTheThreeVariants)
{
    EXPECT_FALSE(host.has_engine());
    EXPECT_EQ(host.latency_samples(), 0); // the default settings file asks for zero latency
    for (Variant variant : {Variant::mono_to_mono, Variant::mono_to_stereo, Variant::stereo_to_stereo}) {
        ASSERT_TRUE(host.create_instance(variant, 44100.0));
        EXPECT_EQ(host.variant(), variant);
        EXPECT_EQ(host.sample_rate(), 44100.0);
        ASSERT_NE(host.engine(), nullptr);
        EXPECT_TRUE(host.engine()->processing_enabled.load());
        EXPECT_EQ(host.parameters().parameter_manager().count(), 367);
        host.destroy_instance();
        EXPECT_FALSE(host.has_engine());
        EXPECT_EQ(host.engine(), nullptr);
    }
    EXPECT_FALSE(host.create_instance(Variant::stereo_to_stereo, std::nan("")));
    EXPECT_FALSE(host.create_instance(Variant::stereo_to_stereo, 0.0));
    EXPECT_FALSE(host.has_engine());
    EXPECT_THROW(host.parameters(), std::logic_error);
}

TEST_F(InProcessHostTest, OfflineWaitReturnsOnceTheRequestsAreServedAndTheIrsBuilt)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    VST_Plugin& engine = *host.engine();
    EXPECT_FALSE(engine.is_ir_work_pending());
    for (int byte = 1; byte < corvella::request_count; ++byte)
        EXPECT_EQ(host.parameters().pending_requests().bytes[byte], 0) << "request byte " << byte;

    ASSERT_TRUE(host.set_parameter("ir1_adshr_d", 0.4f));
    EXPECT_NE(pending(corvella::Request::partial_recompute_ir1), 0);
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    EXPECT_EQ(pending(corvella::Request::partial_recompute_ir1), 0);
    EXPECT_FALSE(engine.is_ir_work_pending());
    EXPECT_EQ(engine.program->ir1_adshr_d, 0.4f);
}

TEST_F(InProcessHostTest, BypassPassesTheInputSampleForSampleInEveryVariant)
{
    int const frames = 333;
    std::vector<float> const left = noise(frames, 1), right = noise(frames, 2);
    for (Variant variant : {Variant::mono_to_mono, Variant::mono_to_stereo, Variant::stereo_to_stereo}) {
        ASSERT_TRUE(host.create_instance(variant, 44100.0));
        bool const stereo_in = variant == Variant::stereo_to_stereo;
        std::vector<float> out_left(frames, 7.0f), out_right(frames, 7.0f);
        float const* in[2] = {left.data(), right.data()};
        float* out[2] = {out_left.data(), out_right.data()};
        host.set_bypass(true);
        int const silent_before = host.engine()->silent_sample_count;
        {
            corvella::test::AllocationCounter allocations;
            host.process(in, out, frames);
            EXPECT_EQ(allocations.count(), 0);
        }
        EXPECT_EQ(out_left, left);
        // Mono input feeds both outputs; the engine is not called.
        EXPECT_EQ(out_right, variant == Variant::mono_to_mono ? std::vector<float>(frames, 7.0f)
                             : stereo_in                      ? right
                                                              : left);
        EXPECT_EQ(host.engine()->silent_sample_count, silent_before);
    }
    // The host's bypass parameter reaches the same field.
    host.set_bypass(false);
    ASSERT_TRUE(host.set_parameter(corvella::master_bypass_identifier, 1.0f));
    std::vector<float> out_left(frames, 0.0f), out_right(frames, 0.0f);
    float const* in[2] = {left.data(), right.data()};
    float* out[2] = {out_left.data(), out_right.data()};
    host.process(in, out, frames);
    EXPECT_EQ(out_left, left);
    EXPECT_EQ(host.get_parameter(corvella::master_bypass_identifier), 1.0f);
}

TEST_F(InProcessHostTest, ProcessingThroughTheEngineAllocatesNothing)
{
    ASSERT_TRUE(host.create_instance(Variant::mono_to_stereo, 48000.0));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    std::vector<float> mono = noise(1024, 4), out_left(1024), out_right(1024);
    float const* in[1] = {mono.data()};
    float* out[2] = {out_left.data(), out_right.data()};
    host.process(in, out, 1024); // first call outside the counter
    corvella::test::AllocationCounter allocations;
    for (int frames : {1, 37, 512, 1024})
        host.process(in, out, frames);
    EXPECT_EQ(allocations.count(), 0);
    EXPECT_EQ(host.engine()->channel_mode, 1);
}

TEST_F(InProcessHostTest, MetersHoldThePeakOfTheFirstChannelUntilRead)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    host.set_bypass(true);
    std::vector<float> left(64, 0.1f), right(64, 0.9f), out_left(64), out_right(64);
    left[10] = -0.6f;
    float const* in[2] = {left.data(), right.data()};
    float* out[2] = {out_left.data(), out_right.data()};
    host.process(in, out, 64);
    left[10] = 0.1f;
    host.process(in, out, 64);
    EXPECT_EQ(host.take_input_meter(), 0.6f); // right channel's 0.9 is not metered
    EXPECT_EQ(host.take_output_meter(), 0.6f);
    EXPECT_EQ(host.take_input_meter(), 0.0f);
    host.process(in, out, 64);
    EXPECT_EQ(host.take_output_meter(), 0.1f);
}

TEST_F(InProcessHostTest, AChangeReachesTheEngineWithTheNextPassAndNotBefore)
{
    make_quiet_host();
    VST_Plugin& engine = *host.engine();
    change_and_pass("ir1_adshr_d", 0.7f, 50); // 50 ms after the last pass: it waits
    EXPECT_FALSE(engine.recompute_ir1.load());
    EXPECT_NE(engine.program->ir1_adshr_d, 0.7f);
    EXPECT_NE(pending(corvella::Request::partial_recompute_ir1), 0);

    now_ms = 100; // 100 ms after the last pass: a partial request of IR1 only
    host.wake_up();
    EXPECT_TRUE(engine.recompute_ir1.load());
    EXPECT_FALSE(engine.full_recompute_ir1.load());
    EXPECT_FALSE(engine.recompute_ir2.load());
    EXPECT_FALSE(engine.ir_rebuild_busy.load());
    EXPECT_EQ(engine.program->ir1_adshr_d, 0.7f);
    EXPECT_EQ(pending(corvella::Request::parameters_changed), 0);
    EXPECT_EQ(pending(corvella::Request::partial_recompute_ir1), 0);
}

TEST_F(InProcessHostTest, FullRequestsOfBothIRsAndTheOtherRequestBytes)
{
    make_quiet_host();
    VST_Plugin& engine = *host.engine();
    // Both full requests in one pass: full and partial flags of both IRs at once.
    ASSERT_TRUE(host.set_parameter("ir1_er_size", 0.3f));
    change_and_pass("ir2_er_size", 0.3f, 100);
    EXPECT_TRUE(engine.full_recompute_ir1 && engine.full_recompute_ir2);
    EXPECT_TRUE(engine.recompute_ir1 && engine.recompute_ir2);
    for (int byte : {1, 2, 3, 4, 5})
        EXPECT_EQ(host.parameters().pending_requests().bytes[byte], 0) << byte;

    change_and_pass("ir2_sts_toggle", 1.0f, 200); // IR2 alone leaves IR1 alone
    EXPECT_FALSE(engine.recompute_ir1.load());
    EXPECT_TRUE(engine.full_recompute_ir2 && engine.recompute_ir2);

    // A program change mutes the engine and points it at the new program.
    clear_engine_flags();
    std::int32_t const program = 7;
    ASSERT_TRUE(host.set_custom_data(corvella::custom_data::current_program, &program, sizeof program));
    now_ms = 300;
    host.wake_up();
    EXPECT_TRUE(engine.ir_rebuild_busy.load());
    EXPECT_EQ(engine.program, &engine.programs[7]);
    EXPECT_TRUE(engine.full_recompute_ir1 && engine.full_recompute_ir2);

    change_and_pass("ir1_toggle", 0.0f, 400); // buffer silence
    EXPECT_TRUE(engine.buffer_silence_requested.load());
    EXPECT_FALSE(engine.recompute_ir1.load());
    EXPECT_EQ(pending(corvella::Request::buffer_silence), 0);

    host.set_host_tempo(93.0);
    now_ms = 1000;
    host.wake_up();
    EXPECT_EQ(host.parameters().host_tempo(), 93.0);
    EXPECT_EQ(engine.host_tempo, 93.0f);
}

TEST_F(InProcessHostTest, HostCallsRefuseBadInput)
{
    EXPECT_FALSE(host.set_parameter("master_gain", 0.5f)); // no instance yet
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    auto const before = host.parameters().bank_copy();
    EXPECT_FALSE(host.set_parameter("no_such_key", 0.5f));
    EXPECT_FALSE(host.set_parameter("master_gain", std::nanf("")));
    EXPECT_FALSE(host.set_parameter("master_gain", INFINITY));
    EXPECT_FALSE(host.set_ir_file(3, 0, "/x.wav"));
    EXPECT_FALSE(host.set_ir_file(1, 2, "/x.wav"));
    EXPECT_FALSE(host.set_ir_file(1, 0, std::string(300, 'a')));
    std::vector<std::uint8_t> short_chunk(1000, 0xAB);
    EXPECT_FALSE(host.set_chunk(short_chunk.data(), short_chunk.size()));
    EXPECT_FALSE(host.set_custom_data(99, short_chunk.data(), 4));
    auto const after = host.parameters().bank_copy();
    EXPECT_EQ(std::memcmp(before.data(), after.data(), corvella::bank_size_bytes), 0);

    // Clamped, and the change path's own keys.
    EXPECT_TRUE(host.set_parameter("master_gain", 3.0f));
    EXPECT_EQ(host.get_parameter("master_gain"), 1.0f);
    EXPECT_TRUE(host.set_parameter("ir1_tail_variant", 0.25f));
    EXPECT_EQ(host.get_parameter("ir1_tail_variant"), 0.25f);
    EXPECT_TRUE(host.set_parameter("force_full_recompute_IR2", 1.0f));
    EXPECT_NE(pending(corvella::Request::full_recompute_ir2), 0);

    EXPECT_TRUE(host.set_ir_file(2, 1, "/somewhere/b.wav"));
    char path[300] = {};
    EXPECT_EQ(host.get_custom_data(17, path, sizeof path), 300u);
    EXPECT_STREQ(path, "/somewhere/b.wav");
    std::vector<std::uint8_t> chunk = host.get_chunk();
    ASSERT_EQ(chunk.size(), corvella::bank_size_bytes);
    EXPECT_TRUE(host.set_chunk(chunk.data(), chunk.size()));
}

TEST_F(InProcessHostTest, TheTimerThreadRunsTheWakeUps)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    host.start_timer(std::chrono::milliseconds(5));
    ASSERT_TRUE(host.wait_until_idle(kIdle)); // served by the timer's passes alone
    ASSERT_TRUE(host.set_parameter("ir2_adshr_a", 0.2f));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    EXPECT_EQ(host.engine()->program->ir2_adshr_a, 0.2f);
    host.stop_timer();
    host.stop_timer(); // twice is harmless
}
