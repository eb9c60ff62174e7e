// CPU cost of the whole engine per second of audio: stereo in and out at 48 kHz, zero latency, IR1
// True Stereo with a 3 s response and IR2 Parallel Stereo with a 2 s response, host blocks of 64 to
// 1024 frames. Counters:
//   load            processing time / audio time (1.0 = one core fully used)
//   process_load    CPU time of all threads (the convolvers' workers too) / audio time
//   worst_fraction  longest single block / that block's period
// BM_EngineProcess runs blocks back to back (a measure of CPU cost; its worst block is not
// meaningful, because a caller that outruns real time has to wait for the convolvers' workers).
// BM_EngineProcessAllEffects does the same with the three choruses and the three stereo delays on
// (the start-up program's settings for them); the goal is a load within 1.5 times that of
// BM_EngineProcess at the same block size.
// BM_EngineProcessPaced starts each block at its real-time deadline, as a host does, and reports
// the worst and 99.9th-percentile block (at SCHED_FIFO when the system permits it).
// BM_EngineProcessPacedWhileSilenced does the same with 10 s true-stereo responses in both IRs while
// another thread asks for the histories to be forgotten every 20 ms (what every IR rebuild asks);
// over_period counts the blocks that took longer than their period (the goal is none at 64 frames).
// BM_EngineProcessPacedWhileIrChanges does the same at 128 frames while another thread gives IR1 a
// new 3 s true-stereo response every 300 ms (the goal: worst block under 25 % of the period), and
// reports how long each change took on that thread (change_ms: the second generation's load).
// BM_EngineProcessTwoGenerations reports process_load for the second after an IR1 change, while
// the old and the new generation both run.
// BM_EngineProcessIdle: the master delay is on, so the engine keeps processing when the input falls
// silent; after a second of noise (process_load_active) and five of silence, every response has
// died away, and process_load is the cost of that silence (idle_ratio: idle over active, goal at
// most 0.1). Both loads count the CPU of the calling thread and of the FFT convolvers' workers,
// not the IR worker's polling. The second argument 0 switches the convolvers' idle skipping off, for
// comparison. BM_EightInstancesPaced: eight engines in one process, each with IR1 True Stereo 3 s (IR2 off),
// run one after the other on one real-time thread at each 128-frame deadline, as a host runs a
// session's plug-ins: the share of the period the eight take (p99.9 goal under 0.5), the periods
// they overran (late, goal 0; late_waiting_for_a_worker: those in which the audio thread waited
// for a convolver worker's unfinished pass), and the threads the process runs.
// The engine runs in a private settings folder, so the user's settings are never touched.

#include "bench/bench_support.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "engine/vst_plugin.h"
#include "platform/settings_store.h"
#include "platform/temporary_folder.h"
#include "program/program_constants.h"

#include <benchmark/benchmark.h>

#if defined(CORVELLA_BENCH_WITNESS)
#include "jack_session.h"
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

using corvella::bench::decaying_noise;
using corvella::bench::process_cpu_seconds;

constexpr int rate = 48000;

// Changes the current program through the control copy, as the host binding sets a program (the
// loads read the topology there: True Stereo runs the four-path convolvers).
template <typename Change> void edit_program(VST_Plugin& engine, Change&& change)
{
    std::vector<VST_Plugin_Program> bank(engine.programs, engine.programs + corvella::programs_per_bank);
    int const current = static_cast<int>(engine.program - engine.programs);
    change(bank[static_cast<size_t>(current)]);
    engine.update_programs(bank.data(), current);
    engine.adopt_published_programs();
}

// Every FFT convolver of both generations, plain and four-path.
template <typename Visit> void for_each_fft_convolver(VST_Plugin& engine, Visit&& visit)
{
    for (fft_conv_worker_thread* const* generation : {engine.fft_convolvers, engine.spare_fft_convolvers})
        for (int index = 0; index < VST_Plugin::convolver_count; ++index)
            if (generation[index] != nullptr) visit(*generation[index]);
    for (auto* const* generation : {engine.four_path_convolvers, engine.spare_four_path_convolvers})
        for (int index = 0; index < VST_Plugin::four_path_count; ++index)
            if (generation[index] != nullptr) visit(*generation[index]);
}

std::unique_ptr<VST_Plugin> make_engine(int ir1_seconds = 3, int ir2_seconds = 2,
                                        bool both_true_stereo = false)
{
    CheckPrefs();
    set_latency_in_registry(0);
    set_sr_gain_in_registry(0);
    auto engine = std::make_unique<VST_Plugin>(rate);
    edit_program(*engine, [&](VST_Plugin_Program& p) {
        p.ir1_toggle = 1.0f;
        p.ir2_toggle = 1.0f;
        p.ir1_topology = 1.0f / 3.0f;                           // True Stereo
        p.ir2_topology = both_true_stereo ? 1.0f / 3.0f : 0.0f; // else Parallel Stereo
        p.master_ir1_ir2_mix = 0.5f;
        p.master_mix = 0.5f;
    });

    std::vector<std::vector<float>> ir1, ir2;
    for (unsigned c = 0; c < 4; ++c) {
        ir1.push_back(decaying_noise(ir1_seconds * rate, 10 + c));
        ir2.push_back(decaying_noise(ir2_seconds * rate, 20 + c));
    }
    float* ir1_ptr[4] = {ir1[0].data(), ir1[1].data(), ir1[2].data(), ir1[3].data()};
    float* ir2_ptr[4] = {ir2[0].data(), ir2[1].data(), ir2[2].data(), ir2[3].data()};
    engine->load_ir_into_slot(1, ir1_ptr, ir1_seconds * rate);
    engine->load_ir_into_slot(2, ir2_ptr, ir2_seconds * rate);
    return engine;
}

// Switches every chorus and both sides of every stereo delay on, through the program as the host
// binding would.
void switch_all_effects_on(VST_Plugin& engine)
{
    edit_program(engine, [](VST_Plugin_Program& p) {
        p.chorus_master_toggle = p.chorus_ir1_toggle = p.chorus_ir2_toggle = 1.0f;
        p.master_delay_l_toggle = p.master_delay_r_toggle = 1.0f;
        p.ir1_delay_l_toggle = p.ir1_delay_r_toggle = 1.0f;
        p.ir2_delay_l_toggle = p.ir2_delay_r_toggle = 1.0f;
    });
    engine.signal_update_master_chorus();
    engine.signal_update_ir1_chorus();
    engine.signal_update_ir2_chorus();
    engine.signal_update_master_delay();
    engine.signal_update_ir1_delay();
    engine.signal_update_ir2_delay();
}

void engine_process(benchmark::State& state, bool all_effects)
{
    int const block = static_cast<int>(state.range(0));
    auto engine = make_engine();
    if (!engine->processing_enabled.load()) {
        state.SkipWithError("engine locked");
        return;
    }
    if (all_effects) switch_all_effects_on(*engine);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> in_left(static_cast<size_t>(rate)), in_right(static_cast<size_t>(rate));
    for (size_t i = 0; i < in_left.size(); ++i) {
        in_left[i] = noise(rng);
        in_right[i] = noise(rng);
    }
    std::vector<float> out_left(static_cast<size_t>(block)), out_right(static_cast<size_t>(block));
    std::vector<float> work_left(static_cast<size_t>(block)), work_right(static_cast<size_t>(block));

    // Warm-up: one second, so every partition level has run.
    size_t position = 0;
    auto run_block = [&]() {
        if (position + static_cast<size_t>(block) > in_left.size()) position = 0;
        std::copy_n(in_left.begin() + static_cast<long>(position), block, work_left.begin());
        std::copy_n(in_right.begin() + static_cast<long>(position), block, work_right.begin());
        float* ins[2] = {work_left.data(), work_right.data()};
        float* outs[2] = {out_left.data(), out_right.data()};
        engine->processReplacing(ins, outs, block);
        position += static_cast<size_t>(block);
    };
    for (int done = 0; done < rate; done += block)
        run_block();

    double worst = 0.0;
    double total = 0.0;
    long blocks = 0;
    double const process_cpu_start = process_cpu_seconds();
    for (auto _ : state) {
        auto const start = std::chrono::steady_clock::now();
        run_block();
        double const seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, seconds);
        total += seconds;
        ++blocks;
        benchmark::DoNotOptimize(out_left.data());
    }
    double const period = static_cast<double>(block) / rate;
    state.counters["load"] = total / (static_cast<double>(blocks) * period);
    state.counters["process_load"] =
        (process_cpu_seconds() - process_cpu_start) / (static_cast<double>(blocks) * period);
    state.counters["worst_fraction"] = worst / period;
}

void BM_EngineProcess(benchmark::State& state)
{
    engine_process(state, false);
}

void BM_EngineProcessAllEffects(benchmark::State& state)
{
    engine_process(state, true);
}

void BM_EngineProcessIdle(benchmark::State& state)
{
    int const block = static_cast<int>(state.range(0));
    bool const skipping = state.range(1) != 0;
    auto engine = make_engine();
    if (!engine->processing_enabled.load()) {
        state.SkipWithError("engine locked");
        return;
    }
    edit_program(*engine, [](VST_Plugin_Program& p) { p.master_delay_l_toggle = 1.0f; });
    engine->signal_update_master_delay();
    for_each_fft_convolver(*engine, [&](fft_conv_worker_thread& c) { c.set_idle_skipping(skipping); });

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> left(static_cast<size_t>(block)), right(static_cast<size_t>(block));
    std::vector<float> out_left(static_cast<size_t>(block)), out_right(static_cast<size_t>(block));
    auto run_block = [&](bool loud) {
        for (int i = 0; i < block; ++i) {
            left[static_cast<size_t>(i)] = loud ? noise(rng) : 0.0f;
            right[static_cast<size_t>(i)] = loud ? noise(rng) : 0.0f;
        }
        float* ins[2] = {left.data(), right.data()};
        float* outs[2] = {out_left.data(), out_right.data()};
        engine->processReplacing(ins, outs, block);
    };
    // The audio's own cost: the calling thread and every FFT convolver's worker. The IR worker
    // is left out: it polls whether audio runs or not.
    std::vector<clockid_t> clocks(1);
    pthread_getcpuclockid(pthread_self(), &clocks[0]);
    for (void* const* handles : {engine->fft_thread_handles, engine->spare_fft_thread_handles,
                                 engine->four_path_thread_handles, engine->spare_four_path_thread_handles}) {
        int const count =
            handles == engine->four_path_thread_handles || handles == engine->spare_four_path_thread_handles
                ? VST_Plugin::four_path_count
                : VST_Plugin::convolver_count;
        for (int index = 0; index < count; ++index) {
            pthread_t thread{};
            auto const handle = reinterpret_cast<std::uintptr_t>(handles[index]);
            std::memcpy(&thread, &handle, sizeof thread);
            clockid_t clock{};
            if (handle != 0 && pthread_getcpuclockid(thread, &clock) == 0) clocks.push_back(clock);
        }
    }
    auto const audio_cpu = [&clocks] {
        double seconds = 0.0;
        for (clockid_t clock : clocks) {
            timespec now{};
            clock_gettime(clock, &now);
            seconds += static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
        }
        return seconds;
    };
    auto load = [&](double cpu_start, long blocks) {
        return (audio_cpu() - cpu_start) / (static_cast<double>(blocks) * block / rate);
    };
    auto run_seconds = [&](double seconds, bool loud) {
        long const blocks = static_cast<long>(seconds * rate / block);
        double const cpu_start = audio_cpu();
        for (long b = 0; b < blocks; ++b)
            run_block(loud);
        return load(cpu_start, blocks);
    };
    run_seconds(1.0, true); // warm-up: every level has run
    double const active = run_seconds(2.0, true);
    run_seconds(5.0, false); // the 3 s responses, the latency and every level's blocks die away

    double const cpu_start = audio_cpu();
    long blocks = 0;
    for (auto _ : state) {
        run_block(false);
        ++blocks;
        benchmark::DoNotOptimize(out_left.data());
    }
    double const idle = load(cpu_start, blocks);
    state.counters["process_load_active"] = active;
    state.counters["process_load"] = idle;
    state.counters["idle_ratio"] = idle / active;
}

// What another thread does to the engine while paced_run measures.
enum class Disturbance { none, silence, ir_changes };

// IR1's two alternating true-stereo responses for the IR-change benchmarks.
struct AlternateIr {
    std::vector<std::vector<float>> channels;
    float* pointers[4] = {};
    explicit AlternateIr(int seconds, unsigned seed)
    {
        for (unsigned c = 0; c < 4; ++c)
            channels.push_back(decaying_noise(seconds * rate, seed + c));
        for (int c = 0; c < 4; ++c)
            pointers[c] = channels[static_cast<size_t>(c)].data();
    }
};

// Runs `seconds` of `block`-frame periods on this thread at their real-time deadlines (SCHED_FIFO
// where the system permits it), each period's noise made before its deadline, `process(in, out)`
// timed; then sets the counters for the periods' times over the period (the first second, in which
// every partition level runs once, left out) and returns how many periods overran. With the
// plug-in tests' witnesses built and CORVELLA_BENCH_WITNESS=<period in us>, the late periods are
// judged as the JACK runs judge theirs: `late_unexplained` counts those that no stop of the machine
// itself explains (a virtual machine is descheduled now and then, which no program can prevent),
// and `stopped_ms` the stops seen.
template <typename Process>
long run_paced_periods(benchmark::State& state, int block, long seconds, Process&& process,
                       std::vector<double>* period_times = nullptr)
{
    sched_param fifo{};
    fifo.sched_priority = 70;
    bool const realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &fifo) == 0;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> left(static_cast<size_t>(block)), right(static_cast<size_t>(block));
    std::vector<float> out_left(static_cast<size_t>(block)), out_right(static_cast<size_t>(block));
    auto const period = std::chrono::duration<double>(static_cast<double>(block) / rate);
    long const blocks = seconds * rate / block;
    std::vector<double> times;
    times.reserve(static_cast<size_t>(blocks));
#if defined(CORVELLA_BENCH_WITNESS)
    std::vector<corvella::test::CycleTimes> cycles;
    cycles.reserve(static_cast<size_t>(blocks));
    // Only when CORVELLA_BENCH_WITNESS gives their period in us: on a virtual machine the witnesses'
    // wake-ups are not free (every 250 us, with eight instances' threads, they more than double the
    // median), and a period of 1000 us still sees every stop that could make a period late.
    char const* const witness_period = std::getenv("CORVELLA_BENCH_WITNESS");
    auto witness = witness_period != nullptr
                       ? std::make_unique<corvella::test::StallWitness>(true, std::atoll(witness_period))
                       : nullptr;
#endif
    for (auto _ : state) {
        auto deadline = std::chrono::steady_clock::now();
        for (long b = 0; b < blocks; ++b) {
            for (size_t i = 0; i < left.size(); ++i) {
                left[i] = noise(rng);
                right[i] = noise(rng);
            }
            std::this_thread::sleep_until(deadline);
            auto const start = std::chrono::steady_clock::now();
            float* ins[2] = {left.data(), right.data()};
            float* outs[2] = {out_left.data(), out_right.data()};
            process(ins, outs);
            auto const done = std::chrono::steady_clock::now();
            times.push_back(std::chrono::duration<double>(done - start).count());
#if defined(CORVELLA_BENCH_WITNESS)
            auto const us = [](auto t) {
                return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
            };
            if (witness)
                cycles.push_back({us(start), us(done)}); // steady_clock is the witnesses' CLOCK_MONOTONIC
#endif
            deadline += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
            benchmark::DoNotOptimize(out_left.data());
        }
    }
#if defined(CORVELLA_BENCH_WITNESS)
    if (witness) witness->stop();
    if (witness && cycles.size() > static_cast<size_t>(rate / block)) {
        auto const judged =
            corvella::test::judge_run(cycles, *witness, 1e6 * period.count(),
                                      cycles[static_cast<size_t>(rate / block)].begin_us, INT64_MAX);
        state.counters["late_unexplained"] = static_cast<double>(judged.judgement.unexcused());
        state.counters["stopped_ms"] = 1e-3 * static_cast<double>(judged.stopped_us);
    }
#endif
    if (period_times != nullptr) *period_times = times; // in period order, the first second too
    times.erase(times.begin(), times.begin() + std::min<long>(rate / block, static_cast<long>(times.size())));
    std::sort(times.begin(), times.end());
    double const p = period.count();
    state.counters["median_fraction"] = times[times.size() / 2] / p;
    state.counters["p999_fraction"] =
        times[static_cast<size_t>(0.999 * static_cast<double>(times.size() - 1))] / p;
    state.counters["worst_fraction"] = times.back() / p;
    state.counters["sched_fifo"] = realtime ? 1.0 : 0.0;
    return static_cast<long>(std::count_if(times.begin(), times.end(), [p](double t) { return t > p; }));
}

void paced_run(benchmark::State& state, std::unique_ptr<VST_Plugin> engine, Disturbance disturbance)
{
    int const block = static_cast<int>(state.range(0));
    if (!engine->processing_enabled.load()) {
        state.SkipWithError("engine locked");
        return;
    }
    std::atomic<bool> stop{false};
    double change_seconds = 0.0;
    int changes = 0;
    std::thread silencer([&] {
        AlternateIr const alternates[2] = {AlternateIr(3, 50), AlternateIr(3, 60)};
        while (disturbance == Disturbance::silence && !stop) {
            engine->silence_buffers();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // A new IR1 every 300 ms: the worker builds the second generation while two ring.
        while (disturbance == Disturbance::ir_changes && !stop) {
            auto const start = std::chrono::steady_clock::now();
            AlternateIr const& ir = alternates[changes % 2];
            engine->load_ir_into_slot(1, ir.pointers, 3 * rate, true);
            change_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++changes;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    long const over = run_paced_periods(
        state, block, 10, [&](float** in, float** out) { engine->processReplacing(in, out, block); });
    stop = true;
    silencer.join();
    state.counters["over_period"] = static_cast<double>(over);
    if (changes > 0) state.counters["change_ms"] = 1000.0 * change_seconds / changes;
}

void BM_EngineProcessPaced(benchmark::State& state)
{
    paced_run(state, make_engine(), Disturbance::none);
}

void BM_EngineProcessPacedWhileSilenced(benchmark::State& state)
{
    paced_run(state, make_engine(10, 10, true), Disturbance::silence);
}

void BM_EngineProcessPacedWhileIrChanges(benchmark::State& state)
{
    paced_run(state, make_engine(), Disturbance::ir_changes);
}

// The whole engine for one second right after IR1 changed: its old generation rings (3 s true
// stereo) beside the new one. Compare process_load with BM_EngineProcess at the same block size.
void BM_EngineProcessTwoGenerations(benchmark::State& state)
{
    int const block = static_cast<int>(state.range(0));
    auto engine = make_engine();
    if (!engine->processing_enabled.load() || !engine->smooth_changes) {
        state.SkipWithError("engine locked or without smooth changes");
        return;
    }
    AlternateIr const alternates[2] = {AlternateIr(3, 50), AlternateIr(3, 60)};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> left(static_cast<size_t>(block)), right(static_cast<size_t>(block));
    std::vector<float> out_left(static_cast<size_t>(block)), out_right(static_cast<size_t>(block));
    auto run_second = [&] {
        for (int done = 0; done < rate; done += block) {
            for (size_t i = 0; i < left.size(); ++i) {
                left[i] = noise(rng);
                right[i] = noise(rng);
            }
            float* ins[2] = {left.data(), right.data()};
            float* outs[2] = {out_left.data(), out_right.data()};
            engine->processReplacing(ins, outs, block);
        }
    };
    run_second();
    double cpu = 0.0;
    long seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine->load_ir_into_slot(1, alternates[seconds % 2].pointers, 3 * rate, true);
        state.ResumeTiming();
        double const start = process_cpu_seconds();
        run_second();
        cpu += process_cpu_seconds() - start;
        ++seconds;
        benchmark::DoNotOptimize(out_left.data());
    }
    state.counters["process_load"] = cpu / static_cast<double>(seconds);
}

long thread_count()
{
    long count = 0;
    for ([[maybe_unused]] auto const& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

void BM_EightInstancesPaced(benchmark::State& state)
{
    int const block = static_cast<int>(state.range(0));
    long const threads_before = thread_count();
    std::vector<std::unique_ptr<VST_Plugin>> engines;
    for (int i = 0; i < 8; ++i) {
        engines.push_back(make_engine(3, 2));
        edit_program(*engines.back(), [](VST_Plugin_Program& p) { p.ir2_toggle = 0.0f; });
        if (!engines.back()->processing_enabled.load()) {
            state.SkipWithError("engine locked");
            return;
        }
    }
    long const threads = thread_count() - threads_before;
    // The periods in which the audio thread waited for a worker's unfinished pass: a late period
    // without such a wait was not late for want of a worker.
    auto audio_waits = [&] {
        long long waits = 0;
        for (auto const& engine : engines)
            for_each_fft_convolver(*engine,
                                   [&](fft_conv_worker_thread const& c) { waits += c.audio_waits(); });
        return waits;
    };
    std::vector<char> waited;
    waited.reserve(static_cast<size_t>(20 * rate / block));
    std::vector<double> times;
    long const late = run_paced_periods(
        state, block, 20,
        [&](float** in, float** out) {
            long long const before = audio_waits();
            for (auto& engine : engines)
                engine->processReplacing(in, out, block);
            waited.push_back(audio_waits() != before ? 1 : 0);
        },
        &times);
    double const p = static_cast<double>(block) / rate;
    long periods_waiting = 0, late_waiting = 0;
    for (size_t k = static_cast<size_t>(rate / block); k < times.size() && k < waited.size(); ++k) {
        periods_waiting += waited[k];
        late_waiting += waited[k] != 0 && times[k] > p ? 1 : 0;
    }
    state.counters["late"] = static_cast<double>(late);
    state.counters["late_waiting_for_a_worker"] = static_cast<double>(late_waiting);
    state.counters["periods_waiting_for_a_worker"] = static_cast<double>(periods_waiting);
    state.counters["threads"] = static_cast<double>(threads);
}

// At least five seconds of processing per block size, so the largest partitions run several times.
BENCHMARK(BM_EngineProcess)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->MinTime(5.0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineProcessAllEffects)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->MinTime(5.0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineProcessIdle)
    ->Args({128, 1})
    ->Args({1024, 1})
    ->Args({128, 0})
    ->MinTime(2.0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineProcessPaced)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_EngineProcessPacedWhileSilenced)
    ->Arg(64)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineProcessPacedWhileIrChanges)
    ->Arg(128)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineProcessTwoGenerations)->Arg(128)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EightInstancesPaced)->Arg(128)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // A private settings folder for this run.
    corvella::TemporaryFolder const private_folder("corvella-bench-");
    setenv("XDG_CONFIG_HOME", private_folder.path().c_str(), 1);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
