// Concurrency: a bridge thread replaces the bank and raises requests and pushes while the audio
// thread processes and the IR computation thread rebuilds. Meant for ThreadSanitizer: the run lasts
// CORVELLA_STRESS_SECONDS seconds (default 20 in a ThreadSanitizer build, 2 otherwise).

#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define CORVELLA_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CORVELLA_UNDER_TSAN 1
#endif
#endif

namespace corvella::test {
namespace {

double stress_seconds()
{
    if (char const* value = std::getenv("CORVELLA_STRESS_SECONDS")) {
        double const seconds = std::atof(value);
        if (seconds > 0.0) return seconds;
    }
#ifdef CORVELLA_UNDER_TSAN
    return 20.0;
#else
    return 2.0;
#endif
}

using StressTest = EngineTest;

TEST_F(StressTest, BankChangesRequestsAudioAndRebuildsRunTogether)
{
    auto const first = write_wav("a.wav", {decaying_noise(9600, 71), decaying_noise(9600, 72)}, 48000);
    auto const second = write_wav("b.wav", {decaying_noise(4800, 73), decaying_noise(4800, 74)}, 44100);
    auto engine = make_engine(0, 48000, 0);
    std::vector<VST_Plugin_Program> bank(engine->programs, engine->programs + programs_per_bank);
    for (VST_Plugin_Program& p : bank) {
        set_path(p.ir1_file_a, first.string());
        set_path(p.ir2_file_a, second.string());
        p.ir2_toggle = 1.0f;
    }
    engine->update_programs(bank.data(), 0);
    engine->signal_recompute_both_full();

    std::atomic<bool> stop{false};
    std::atomic<bool> output_finite{true};
    std::atomic<long> blocks{0};

    std::thread audio([&] {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> block(1, 2048);
        StereoSignal in{noise_burst(4096, 4096, 81), noise_burst(4096, 4096, 82)};
        StereoSignal out{Signal(4096), Signal(4096)};
        while (!stop) {
            int const n = block(rng);
            float* ins[2] = {in.left.data(), in.right.data()};
            float* outs[2] = {out.left.data(), out.right.data()};
            engine->processReplacing(ins, outs, n);
            for (int i = 0; i < n; ++i)
                if (!std::isfinite(out.left[static_cast<size_t>(i)])) output_finite = false;
            ++blocks;
            // A host's audio thread waits for the next block; without a pause it would starve the
            // other threads of process_lock.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    std::thread bridge([&] {
        std::mt19937 rng(2);
        std::uniform_real_distribution<float> unity(0.0f, 1.0f);
        std::uniform_int_distribution<int> pick(0, 11);
        int current = 0;
        while (!stop) {
            VST_Plugin_Program& p = bank[static_cast<size_t>(current)];
            p.ir1_adshr_d = p.ir1_user_resample_factor = p.ir2_width = p.flt2_gain_mod = unity(rng);
            p.ir1_crop_from_start = 0.3f * unity(rng);
            p.ir1_sts_toggle = pick(rng) % 3 * 0.5f;
            p.ir2_topology = static_cast<float>(pick(rng) % 3) / 3.0f;
            p.pitch_mod_ir1_section2_toggle = p.flt_master_toggle = p.flt2_toggle =
                pick(rng) % 2 ? 1.0f : 0.0f;
            set_path(p.ir1_file_a, (pick(rng) % 2 ? first : second).string());
            switch (pick(rng)) {
            case 0:
                current = (current + 1) % programs_per_bank;
                bank[static_cast<size_t>(current)] = p;
                engine->update_programs(bank.data(), current);
                engine->signal_set_program_disable_audio();
                engine->signal_recompute_both_full();
                break;
            case 1:
                engine->update_programs(bank.data(), current);
                engine->signal_recompute_ir1_full();
                break;
            case 2:
                engine->update_tempo(60.0f + 100.0f * unity(rng));
                engine->signal_update_master_delay();
                break;
            default:
                engine->update_programs(bank.data(), current);
                engine->signal_recompute_both_partial();
                engine->update_master_filter_coeffs_all();
                engine->signal_update_ir1_chorus();
                engine->assign_pitch_delay_mod_ir2();
                break;
            }
            (void)engine->getParameter(pick(rng) * 30);
            (void)engine->is_ir_work_pending();
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + pick(rng)));
        }
    });

    std::this_thread::sleep_for(std::chrono::duration<double>(stress_seconds()));
    stop = true;
    bridge.join();
    audio.join();

    EXPECT_TRUE(output_finite);
    EXPECT_GT(blocks, 0);
    // Every build that began also ended, and the thread serves the rest once the bridge is quiet.
    EXPECT_TRUE(wait_idle(*engine));
    EXPECT_GE(engine->ir_builds_finished[0], 1);
    EXPECT_EQ(engine->ir_builds_finished[0], engine->ir_builds_started[0]);
    EXPECT_EQ(engine->ir_builds_finished[1], engine->ir_builds_started[1]);
}

} // namespace
} // namespace corvella::test
