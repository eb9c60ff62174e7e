// The delay-based effects: the cost of one second of stereo audio at 48 kHz through a chorus
// (mode 1 with cross-feed, mode 0), a stereo delay and a pitch modulator, with the engine's
// construction-time settings, in host blocks of 480 frames. The time per iteration is the cost per
// second of audio; `realtime` is how many seconds of audio one second of CPU processes.
#include "effects/chorus.h"
#include "effects/pitch_mod.h"
#include "effects/stereo_delay.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr int block = 480;
constexpr int blocks_per_second = rate / block;

struct stereo_noise {
    std::vector<float> ch[2];
    float* ptr[2];
    stereo_noise() : ch{std::vector<float>(block), std::vector<float>(block)}, ptr{ch[0].data(), ch[1].data()}
    {
        std::mt19937 engine(1);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (auto& c : ch)
            for (float& v : c)
                v = dist(engine);
    }
};

template <typename Effect> void run_one_second(benchmark::State& state, Effect& effect)
{
    stereo_noise audio;
    for (auto _ : state) {
        for (int b = 0; b < blocks_per_second; ++b)
            effect.process_replacing(audio.ptr, block);
        benchmark::DoNotOptimize(audio.ch[0].data());
        benchmark::ClobberMemory();
    }
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The engine's chorus settings: delay 9 ms, width 0.75, depth 5 ms, 0.1 Hz, feedback 0.2, wet 0.5.
void BM_Chorus(benchmark::State& state)
{
    chorus effect(2, rate);
    effect.set_mode(static_cast<int>(state.range(0)));
    effect.set_delay_ms(9.0f);
    effect.set_width(0.75f);
    effect.set_delay_mod_ms(5.0f);
    effect.set_delay_mod_rate_hz(0.1f);
    effect.set_feedback(0.2f);
    effect.set_wet(0.5f);
    effect.set_dry(1.0f);
    run_one_second(state, effect);
}
BENCHMARK(BM_Chorus)->Arg(1)->Arg(0)->ArgName("mode")->Unit(benchmark::kMicrosecond);

// The engine's IR1 delay: 4/16 at 120 BPM left, 6/16 right, modulation 5 ms at 0.1 Hz, feedback
// 0.4 and opposite 0.3 (so both rings carry signal), wet 0.5.
void BM_StereoDelay(benchmark::State& state)
{
    stereo_delay effect(rate);
    for (int c = 0; c < 2; ++c) {
        effect.set_num_den(c == 0 ? 4 : 6, 16, c);
        effect.set_delay_mod_ms(5.0f, c);
        effect.set_delay_mod_rate_hz(0.1f, c);
        effect.set_feedback(0.4f, c);
        effect.set_feedback_opposite(0.3f, c);
        effect.set_wet(0.5f, c);
    }
    run_one_second(state, effect);
}
BENCHMARK(BM_StereoDelay)->Unit(benchmark::kMicrosecond);

// The engine's section modulator: delay 1 ms, depth 1 ms at 0.7 Hz, wet only; the right side at
// 0.99 x the left's depth and rate, as the engine drifts them apart.
void BM_PitchMod(benchmark::State& state)
{
    pitch_mod effect(rate);
    for (int c = 0; c < 2; ++c) {
        float const drift = c == 0 ? 1.0f : 0.99f;
        effect.set_width(0.0f, c);
        effect.set_delay_ms(1.0f, c);
        effect.set_delay_mod_ms(1.0f * drift, c);
        effect.set_delay_mod_rate_hz(0.7f * drift, c);
        effect.set_wet(1.0f, c);
        effect.set_dry(0.0f, c);
    }
    run_one_second(state, effect);
}
BENCHMARK(BM_PitchMod)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
