// CPU cost of the stacked true-stereo convolver per second of audio: 48 kHz, zero latency (128-tap
// head, N = 64), 128-frame blocks, nine true-stereo sets (36 channels) of 3 s responses.
//   BM_StackedConvolverAllSets   every set receives the stereo input
//   BM_StackedConvolverFirstSet  only the first set does; the others are marked absent (/0), and
//                                their heads bypassed too (/1), as the modulated convolver does
//                                once a set has been silent for 128 frames
//   BM_StackedConvolverOneSetAlone  a stack of that one set only (what the other eight may cost)
//   BM_TrueStereoPair            beside it, one true-stereo response of the same length as the
//                                engine runs it: two 2-channel fft_conv_worker_threads (N = 128)
//                                with 256-tap direct_fir heads
//   BM_Fusion                    the modulated stacked convolver as a Fusion IR runs with a program's
//                                defaults (crossfades at 1 Hz, pitch modulation off) (/0); with only
//                                the head section present, every tail set all zeros (/1); and with
//                                both pitch pairs on (/2).
//                                live_sections: sections convolved per block, on average (the goal:
//                                no more than one true-stereo pair's cost per live section)
//   BM_FusionPaced               the default modulation at the audio clock (a block every 2.67 ms);
//                                worst_fraction: longest block / the period (goal under 0.25)
// Counters: load = wall time / audio time; process_load = CPU time of all threads (the workers
// too) / audio time.

#include "bench/bench_support.h"
#include "convolution/convolver_ts_stack.h"
#include "convolution/convolver_ts_stack_modulated.h"
#include "convolution/direct_fir.h"
#include "convolution/fft_conv_worker_thread.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <time.h>

namespace {

using corvella::bench::decaying_noise;
using corvella::bench::process_cpu_seconds;

constexpr int rate = 48000;
constexpr int block = 128;
constexpr int ir_length = 3 * rate;
constexpr int sets = 9;

// Runs one second of warm-up, then blocks until the benchmark is done; reports both loads.
void measure(benchmark::State& state, std::function<void()> const& run_block)
{
    for (int done = 0; done < rate; done += block)
        run_block();
    long blocks = 0;
    double const cpu_start = process_cpu_seconds();
    auto const wall_start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        run_block();
        ++blocks;
    }
    double const wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    double const cpu = process_cpu_seconds() - cpu_start;
    double const audio = static_cast<double>(blocks) * block / rate;
    state.counters["load"] = wall / audio;
    state.counters["process_load"] = cpu / audio;
}

void stacked(benchmark::State& state, int receiving_sets, bool bypass_silent_heads, int total_sets = sets)
{
    int const channels = 4 * total_sets;
    convolver_ts_stack stack(channels, 0);
    std::vector<std::vector<float>> ir;
    for (int c = 0; c < channels; ++c)
        ir.push_back(decaying_noise(ir_length, 10u + static_cast<unsigned>(c)));
    std::vector<float*> p;
    for (auto& channel : ir)
        p.push_back(channel.data());
    stack.set_sample_frames(p.data(), ir_length);

    std::vector<float> const left = decaying_noise(rate, 1), right = decaying_noise(rate, 2);
    std::vector<std::vector<float>> in(static_cast<size_t>(channels), std::vector<float>(block, 0.0f));
    std::vector<std::vector<float>> out(static_cast<size_t>(channels), std::vector<float>(block, 0.0f));
    std::vector<float*> ip, op;
    for (int c = 0; c < channels; ++c) {
        ip.push_back(in[static_cast<size_t>(c)].data());
        op.push_back(out[static_cast<size_t>(c)].data());
        stack.set_input_hints(c < 4 * receiving_sets, c);
        stack.set_bypasses(bypass_silent_heads && c >= 4 * receiving_sets, false, c);
    }
    size_t position = 0;
    measure(state, [&]() {
        if (position + block > left.size()) position = 0;
        for (int c = 0; c < 4 * receiving_sets; ++c)
            std::copy_n((c % 4 < 2 ? left : right).begin() + static_cast<long>(position), block,
                        in[static_cast<size_t>(c)].begin());
        stack.process_frames(ip.data(), op.data(), block);
        position += block;
    });
}

void BM_StackedConvolverAllSets(benchmark::State& state) { stacked(state, sets, false); }
void BM_StackedConvolverFirstSet(benchmark::State& state) { stacked(state, 1, state.range(0) != 0); }
void BM_StackedConvolverOneSetAlone(benchmark::State& state) { stacked(state, 1, false, 1); }

void BM_TrueStereoPair(benchmark::State& state)
{
    int const N = block; // the engine's zero-latency partition length
    fft_conv_worker_thread* sides[2] = {};
    for (auto*& side : sides)
        if (!fft_conv_worker_thread::fft_conv_worker_thread_initialise(&side, nullptr, nullptr, 2, N)) {
            state.SkipWithError("convolver not started");
            return;
        }
    sides[0]->phase_offset = 1;
    sides[1]->phase_offset = 1 + 2 * N;
    direct_fir heads[2] = {direct_fir(2, 2 * N), direct_fir(2, 2 * N)};
    for (int s = 0; s < 2; ++s) {
        std::vector<float> a = decaying_noise(ir_length, 20u + 2u * static_cast<unsigned>(s));
        std::vector<float> b = decaying_noise(ir_length, 21u + 2u * static_cast<unsigned>(s));
        float* p[2] = {a.data(), b.data()};
        heads[s].load_ir_data(p, 2 * N);
        float* rest[2] = {a.data() + 2 * N, b.data() + 2 * N};
        sides[s]->load_ir_data(rest, ir_length - 2 * N);
    }
    std::vector<float> const left = decaying_noise(rate, 1), right = decaying_noise(rate, 2);
    std::vector<float> l(block), r(block), o0(block), o1(block), t0(block), t1(block);
    size_t position = 0;
    measure(state, [&]() {
        if (position + block > left.size()) position = 0;
        std::copy_n(left.begin() + static_cast<long>(position), block, l.begin());
        std::copy_n(right.begin() + static_cast<long>(position), block, r.begin());
        float* outs[2] = {o0.data(), o1.data()};
        float* temps[2] = {t0.data(), t1.data()};
        for (int s = 0; s < 2; ++s) {
            float* ins[2] = {s == 0 ? l.data() : r.data(), s == 0 ? l.data() : r.data()};
            heads[s].process_not_replacing(ins, temps, block);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block; ++i)
                    outs[c][i] = (s == 0 ? 0.0f : outs[c][i]) + temps[c][i];
            sides[s]->process_not_replacing(ins, temps, block);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block; ++i)
                    outs[c][i] += temps[c][i];
        }
        benchmark::DoNotOptimize(o0.data());
        position += block;
    });
    for (auto* side : sides) {
        side->trigger_kill();
        while (!side->has_thread_finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete side;
    }
}

// A Fusion convolver with nine sections of 3 s; `head_only` leaves the eight tail sets all zeros.
std::unique_ptr<convolver_ts_stack_modulated> fusion(bool head_only, bool pitch)
{
    auto conv = std::make_unique<convolver_ts_stack_modulated>(4 * sets, 0);
    std::vector<std::vector<float>> ir;
    for (int c = 0; c < 4 * sets; ++c)
        ir.push_back(c >= 4 && head_only ? std::vector<float>(ir_length, 0.0f)
                                         : decaying_noise(ir_length, 30u + static_cast<unsigned>(c)));
    std::vector<float*> p;
    for (auto& channel : ir)
        p.push_back(channel.data());
    conv->set_sample_frames(p.data(), ir_length);
    conv->set_head_enabled(true);
    conv->set_mod_rate(1.0f);
    conv->set_pitch_modulation_parameter(4, pitch ? 1.0f : 0.0f);
    conv->set_pitch_modulation_parameter(5, pitch ? 1.0f : 0.0f);
    return conv;
}

void BM_Fusion(benchmark::State& state)
{
    auto conv = fusion(state.range(0) == 1, state.range(0) == 2);
    std::vector<float> const left = decaying_noise(rate, 1), right = decaying_noise(rate, 2);
    std::vector<float> l(block), r(block);
    float* io[2] = {l.data(), r.data()};
    size_t position = 0;
    long long live = 0, blocks = 0;
    measure(state, [&]() {
        if (position + block > left.size()) position = 0;
        std::copy_n(left.begin() + static_cast<long>(position), block, l.begin());
        std::copy_n(right.begin() + static_cast<long>(position), block, r.begin());
        conv->process_frames(io, io, block);
        live += conv->live_sections();
        ++blocks;
        position += block;
    });
    state.counters["live_sections"] = static_cast<double>(live) / static_cast<double>(std::max(blocks, 1LL));
}

void BM_FusionPaced(benchmark::State& state)
{
    auto conv = fusion(false, false);
    std::vector<float> const left = decaying_noise(rate, 1), right = decaying_noise(rate, 2);
    std::vector<float> l(block), r(block);
    float* io[2] = {l.data(), r.data()};
    auto const period = std::chrono::nanoseconds(1000000000LL * block / rate);
    double worst = 0.0;
    size_t position = 0;
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (position + block > left.size()) position = 0;
        std::copy_n(left.begin() + static_cast<long>(position), block, l.begin());
        std::copy_n(right.begin() + static_cast<long>(position), block, r.begin());
        auto const start = std::chrono::steady_clock::now();
        conv->process_frames(io, io, block);
        worst = std::max(worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        position += block;
        next += period;
        std::this_thread::sleep_until(next);
    }
    state.counters["worst_fraction"] = worst / std::chrono::duration<double>(period).count();
}

} // namespace

BENCHMARK(BM_StackedConvolverAllSets)->MinTime(5.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StackedConvolverFirstSet)->Arg(0)->Arg(1)->MinTime(5.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StackedConvolverOneSetAlone)->MinTime(5.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrueStereoPair)->MinTime(5.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fusion)->Arg(0)->Arg(1)->Arg(2)->MinTime(5.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FusionPaced)->Iterations(7500)->Unit(benchmark::kMicrosecond); // 20 s of audio
BENCHMARK_MAIN();
