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
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using corvella::Request;
using corvella::host::Variant;

namespace {

constexpr std::chrono::seconds kIdle{60};

class InProcessHostTest : public corvella::test::HostTest {
protected:
    // A served start-up, the IR worker stopped (so the flags the bridge sets stay visible) and a
    // hand clock at t = 0.
    VST_Plugin& quiet_engine()
    {
        EXPECT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
        EXPECT_TRUE(host.wait_until_idle(kIdle));
        VST_Plugin& engine = *host.engine();
        engine.ir_worker->trigger_kill();
        while (!engine.ir_worker->finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        host.set_clock([this] { return now_ms.load(); });
        host.wake_up();
        return engine;
    }

    // Clears the engine's request flags, sets a parameter and runs the bridge pass at `at_ms`.
    void change_and_pass(char const* key, float value, std::uint64_t at_ms)
    {
        VST_Plugin& engine = *host.engine();
        engine.recompute_ir1 = engine.recompute_ir2 = engine.full_recompute_ir1 = engine.full_recompute_ir2 =
            false;
        engine.ir_rebuild_busy = engine.buffer_silence_requested = false;
        ASSERT_TRUE(key == nullptr || host.set_parameter(key, value));
        now_ms = at_ms;
        host.wake_up();
    }

    bool pending(Request request) { return host.parameters().pending_requests().pending(request); }

    corvella::host::InProcessHost host;
    std::atomic<std::uint64_t> now_ms{0};
};

} // namespace

TEST_F(InProcessHostTest, InstancesInTheThreeVariantsBypassSampleForSampleAndAllocateNothing)
{
    int const frames = 333;
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < frames; ++i)
        left[i] = std::sin(0.05f * i), right[i] = std::cos(0.07f * i);
    float const* in[2] = {left.data(), right.data()};
    EXPECT_EQ(host.latency_samples(), 0); // the default settings file asks for zero latency
    for (Variant variant : {Variant::mono_to_mono, Variant::mono_to_stereo, Variant::stereo_to_stereo}) {
        ASSERT_TRUE(host.create_instance(variant, 44100.0));
        ASSERT_TRUE(host.wait_until_idle(kIdle));
        EXPECT_EQ(host.variant(), variant);
        EXPECT_EQ(host.sample_rate(), 44100.0);
        std::vector<float> out_left(frames, 7.0f), out_right(frames, 7.0f);
        float* out[2] = {out_left.data(), out_right.data()};
        host.set_bypass(false);
        host.process(in, out, frames); // first call outside the counter
        int silent_before = 0;
        {
            corvella::test::AllocationCounter allocations;
            for (int block : {1, 37, 333})
                host.process(in, out, block);
            host.set_bypass(true);
            silent_before = host.engine()->silent_sample_count;
            host.process(in, out, frames);
            EXPECT_EQ(allocations.count(), 0);
        }
        EXPECT_EQ(out_left, left);
        // Mono input feeds both outputs; in bypass the engine is not called.
        EXPECT_EQ(out_right, variant == Variant::mono_to_mono       ? std::vector<float>(frames, 7.0f)
                             : variant == Variant::stereo_to_stereo ? right
                                                                    : left);
        EXPECT_EQ(host.engine()->silent_sample_count, silent_before);
    }
    host.set_bypass(false); // the host's bypass parameter reaches the same field
    ASSERT_TRUE(host.set_parameter(corvella::master_bypass_identifier, 1.0f));
    std::vector<float> out_left(frames), out_right(frames);
    float* out[2] = {out_left.data(), out_right.data()};
    host.process(in, out, frames);
    EXPECT_EQ(out_left, left);
}

TEST_F(InProcessHostTest, MetersHoldThePeakOfTheFirstChannelUntilRead)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    host.set_bypass(true);
    std::vector<float> left(64, 0.1f), right(64, 0.9f), out_left(64), out_right(64);
    float const* in[2] = {left.data(), right.data()};
    float* out[2] = {out_left.data(), out_right.data()};
    left[10] = -0.6f;
    host.process(in, out, 64);
    left[10] = 0.1f;
    host.process(in, out, 64);
    EXPECT_EQ(host.take_input_meter(), 0.6f); // the right channel's 0.9 is not metered
    EXPECT_EQ(host.take_output_meter(), 0.6f);
    EXPECT_EQ(host.take_input_meter(), 0.0f);
    host.process(in, out, 64);
    EXPECT_EQ(host.take_output_meter(), 0.1f);
}

TEST_F(InProcessHostTest, TheBridgeHandsEachPassItsRequestsAtMostEvery100ms)
{
    VST_Plugin& engine = quiet_engine();
    change_and_pass("ir1_adshr_d", 0.7f, 50); // 50 ms after the last pass: it waits
    EXPECT_FALSE(engine.recompute_ir1.load());
    EXPECT_NE(engine.current_program_copy().ir1_adshr_d, 0.7f);
    now_ms = 100; // a partial request of IR1 only
    host.wake_up();
    EXPECT_TRUE(engine.recompute_ir1 && !engine.full_recompute_ir1 && !engine.recompute_ir2 &&
                !engine.ir_rebuild_busy);
    EXPECT_EQ(engine.current_program_copy().ir1_adshr_d, 0.7f);
    EXPECT_FALSE(pending(Request::parameters_changed) || pending(Request::partial_recompute_ir1));

    ASSERT_TRUE(host.set_parameter("ir1_er_size", 0.3f));
    change_and_pass("ir2_er_size", 0.3f, 200); // both in one pass: one combined rebuild
    EXPECT_TRUE(engine.full_recompute_ir1 && engine.full_recompute_ir2 && engine.recompute_ir1 &&
                engine.recompute_ir2);
    for (int byte : {1, 2, 3, 4, 5})
        EXPECT_FALSE(pending(static_cast<Request>(byte))) << byte;
    change_and_pass("ir2_sts_toggle", 1.0f, 300); // IR2 alone leaves IR1 alone
    EXPECT_TRUE(!engine.recompute_ir1 && engine.full_recompute_ir2 && engine.recompute_ir2);

    // A program change points the engine at the new program; it mutes only without smooth changes
    // (with them the old program's reverb plays until the new IRs take over).
    std::int32_t const program = 7;
    ASSERT_TRUE(host.set_custom_data(corvella::custom_data::current_program, &program, sizeof program));
    change_and_pass(nullptr, 0, 400);
    EXPECT_TRUE(engine.full_recompute_ir1 && engine.full_recompute_ir2);
    EXPECT_EQ(engine.ir_rebuild_busy.load(), !engine.smooth_changes);
    EXPECT_EQ(engine.current_program_index(), 7);
    change_and_pass("ir1_toggle", 0.0f, 500);
    EXPECT_TRUE(engine.buffer_silence_requested && !engine.recompute_ir1);
    host.set_host_tempo(93.0);
    change_and_pass(nullptr, 0, 1000);
    EXPECT_EQ(engine.host_tempo, 93.0f);
}

TEST_F(InProcessHostTest, OfflineWaitAndTheTimerThreadServeEveryRequest)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    ASSERT_TRUE(host.set_parameter("ir1_adshr_d", 0.4f));
    EXPECT_TRUE(pending(Request::partial_recompute_ir1));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    for (int byte = 1; byte < corvella::request_count; ++byte)
        EXPECT_FALSE(pending(static_cast<Request>(byte))) << "request byte " << byte;
    EXPECT_FALSE(host.engine()->is_ir_work_pending());
    EXPECT_EQ(host.engine()->current_program_copy().ir1_adshr_d, 0.4f);

    // A caller that waits is served at once, not at the bridge's next 100 ms: with the bridge's
    // clock standing still after a pass, only the wait's own pass can hand the change over.
    host.set_clock([this] { return now_ms.load(); });
    host.wake_up();
    ASSERT_TRUE(host.set_parameter("ir1_adshr_a", 0.3f));
    ASSERT_TRUE(host.wait_until_idle(std::chrono::seconds(20)));
    EXPECT_EQ(host.engine()->current_program_copy().ir1_adshr_a, 0.3f);
    host.set_clock(nullptr);

    host.start_timer(std::chrono::milliseconds(5));
    ASSERT_TRUE(host.set_parameter("ir2_adshr_a", 0.2f));
    ASSERT_TRUE(host.wait_until_idle(kIdle)); // served by the timer's passes as well
    EXPECT_EQ(host.engine()->current_program_copy().ir2_adshr_a, 0.2f);
    host.stop_timer();
    host.stop_timer(); // twice is harmless
}

// A bank file through custom data 8 is a program change: its IRs are rebuilt and the mute it raised
// is released, a parameter change after it included. Bank loads, chunk restores and buffer clears
// on the control side cost the audio thread no allocation.
TEST_F(InProcessHostTest, BankLoadsRebuildUnmuteAndCostTheAudioThreadNothing)
{
    ASSERT_TRUE(host.create_instance(Variant::stereo_to_stereo, 48000.0));
    ASSERT_TRUE(host.wait_until_idle(kIdle));
    std::vector<std::uint8_t> const chunk = host.get_chunk();
    std::vector<char> image(corvella::bank_file_size, 0);
    std::memcpy(image.data() + corvella::bank_file_data_offset, chunk.data(), corvella::bank_size_bytes);
    std::string const path = (data_.path() / "bank.fxb").string();
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));

    VST_Plugin& engine = *host.engine();
    int const builds = engine.ir_builds_started[0];
    ASSERT_TRUE(host.set_custom_data(8, path.c_str(), path.size() + 1));
    ASSERT_TRUE(host.set_parameter("ir1_adshr_d", 0.3f));
    ASSERT_TRUE(host.wait_until_idle(std::chrono::seconds(20))) << "the bank load left the reverb muted";
    EXPECT_FALSE(engine.ir_rebuild_busy.load());
    EXPECT_GT(engine.ir_builds_started[0], builds);

    std::atomic<bool> stop{false};
    std::thread control([&] {
        for (int round = 0; !stop; ++round) {
            host.set_custom_data(round % 2 == 0 ? 8 : 9, path.c_str(), path.size() + 1);
            host.set_chunk(chunk.data(), chunk.size());
            host.set_parameter("ir1_toggle", static_cast<float>(round % 2)); // asks for a buffer clear
            host.wake_up();
        }
    });
    std::vector<float> in(256, 0.1f), out_left(256), out_right(256);
    float const* ins[2] = {in.data(), in.data()};
    float* outs[2] = {out_left.data(), out_right.data()};
    long allocations = 0;
    {
        corvella::test::AllocationCounter counter;
        for (int block = 0; block < 2000; ++block)
            host.process(ins, outs, 64 + block % 3 * 96);
        allocations = counter.count();
    }
    stop = true;
    control.join();
    EXPECT_EQ(allocations, 0);
}

TEST_F(InProcessHostTest, HostCallsRefuseBadInput)
{
    EXPECT_FALSE(host.set_parameter("master_gain", 0.5f)); // no instance yet
    EXPECT_THROW(host.parameters(), std::logic_error);
    for (double rate : {std::nan(""), 0.0})
        EXPECT_FALSE(host.create_instance(Variant::stereo_to_stereo, rate));
    EXPECT_FALSE(host.has_engine());
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
    EXPECT_TRUE(pending(Request::full_recompute_ir2));
    EXPECT_TRUE(host.set_ir_file(2, 1, "/somewhere/b.wav"));
    char path[300] = {};
    EXPECT_EQ(host.get_custom_data(17, path, sizeof path), 300u);
    EXPECT_STREQ(path, "/somewhere/b.wav");
}
