// The algorithmic IR sources on the IR computation thread at 48 kHz: early reflections (the
// deepest search, four channels) and a 5 s tinted, gapped tail resampled from 44.1 kHz, and both
// as one ER + tail source.
#include "ir/audio_file_loader.h"
#include "ir/reflection.h"
#include "ir/tail.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int rate = 48000;

void set_up(reflection& r)
{
    r.set_scale_x(0.6f);
    r.set_scale_y(0.6f);
    r.set_diffusion(0.2f);
    r.set_distance_unity(0.3f);
    r.set_room_number(5);
    r.set_recusion_depth_unity(1.0f);
}

void set_up(tail& t)
{
    // (u^3 x 29.95 + 0.05) s = 5 s
    t.set_length_unity(0.5487f);
    t.set_diffusion_unity(0.4f);
    t.set_density_type(3);
    t.set_tint(9);
}

void make_tail(tail& t, benchmark::State& state)
{
    float** buffer = nullptr;
    int allocated = 0, frames = 0, bits = 0, out_rate = 0;
    t.create_multichannel_tails(buffer, rate, allocated, frames, bits, out_rate, 4, false, 0.0f, 1.0f, 0,
                                0.0f);
    benchmark::DoNotOptimize(buffer[0][frames / 2]);
    corvella::free_ir_load_buffer(buffer);
    if (frames < rate) state.SkipWithError("tail shorter than a second");
}

void early_reflections(benchmark::State& state)
{
    reflection r(4, rate);
    set_up(r);
    for (auto _ : state) {
        r.compute_reflections(true);
        benchmark::DoNotOptimize(r.get_latest_reflection_index());
    }
}
BENCHMARK(early_reflections)->Unit(benchmark::kMillisecond);

void five_second_tail(benchmark::State& state)
{
    tail t(4, rate);
    set_up(t);
    for (auto _ : state)
        make_tail(t, state);
}
BENCHMARK(five_second_tail)->Unit(benchmark::kMillisecond);

void reflections_and_tail(benchmark::State& state)
{
    reflection r(4, rate);
    tail t(4, rate);
    set_up(r);
    set_up(t);
    for (auto _ : state) {
        r.compute_reflections(true);
        make_tail(t, state);
    }
}
BENCHMARK(reflections_and_tail)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
