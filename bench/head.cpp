// The zero-latency head of a true-stereo slot at 256 taps (N = 128): one direct_fir_true_stereo
// against the two 2-channel direct_fir heads it replaces, per host block of 32 to 1024 frames;
// and the four-path head's cost per chunk through its direct path and through its transforms,
// which places its crossover (default_direct_below in convolution/direct_fir_true_stereo.cpp).
#include "bench/bench_support.h"
#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/ipps.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int taps = 256;
constexpr int max_frames = 4096;

// Aligned channels of noise, as the engine's multichannel buffers are.
struct Buffers {
    explicit Buffers(int channels, unsigned seed)
    {
        for (int c = 0; c < channels; ++c) {
            float* p = ippsMalloc_32f(max_frames);
            auto const x = corvella::bench::decaying_noise(max_frames, seed + unsigned(c));
            ippsCopy_32f(x.data(), p, max_frames);
            channel.push_back(p);
        }
    }
    ~Buffers()
    {
        for (float* p : channel)
            ippsFree(p);
    }
    Buffers(Buffers const&) = delete;
    Buffers& operator=(Buffers const&) = delete;
    std::vector<float*> channel;
};

std::vector<std::vector<float>> four_responses()
{
    std::vector<std::vector<float>> ir;
    for (unsigned p = 0; p < 4; ++p)
        ir.push_back(corvella::bench::decaying_noise(48000, 100 + p)); // the head is its first 256 samples
    return ir;
}

// The engine's true-stereo feed: (L, L, R, R).
void true_stereo_feed(Buffers& in)
{
    ippsCopy_32f(in.channel[0], in.channel[1], max_frames);
    ippsCopy_32f(in.channel[2], in.channel[3], max_frames);
}

// The fused head on the true-stereo feed, `frames` per call; `threshold` 0 keeps its own crossover.
void run_fused_head(benchmark::State& state, int frames, int threshold)
{
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    auto ir = four_responses();
    float* p[4] = {ir[0].data(), ir[1].data(), ir[2].data(), ir[3].data()};
    direct_fir_true_stereo head(taps);
    head.load_ir_data(p, taps);
    if (threshold > 0) head.set_direct_threshold(threshold);
    Buffers in(4, 1), out(2, 9);
    true_stereo_feed(in);
    for (auto _ : state) {
        head.process_not_replacing(in.channel.data(), out.channel.data(), frames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_HeadFused(benchmark::State& state)
{
    run_fused_head(state, static_cast<int>(state.range(0)), 0);
}
BENCHMARK(BM_HeadFused)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Arg(1024);

// Side A filters (L, L) with (A left, A right), side B (R, R) with (B left, B right); outputs added.
void BM_HeadTwoDirectFirs(benchmark::State& state)
{
    int const frames = static_cast<int>(state.range(0));
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    auto ir = four_responses();
    direct_fir a(2, taps), b(2, taps);
    float* pa[2] = {ir[0].data(), ir[1].data()};
    float* pb[2] = {ir[2].data(), ir[3].data()};
    a.load_ir_data(pa, taps);
    b.load_ir_data(pb, taps);
    Buffers in(4, 1), out(2, 9), scratch(2, 9);
    true_stereo_feed(in);
    float* side_a[2] = {in.channel[0], in.channel[1]};
    float* side_b[2] = {in.channel[2], in.channel[3]};
    for (auto _ : state) {
        a.process_not_replacing(side_a, out.channel.data(), frames);
        b.process_not_replacing(side_b, scratch.channel.data(), frames);
        ippsAdd_32f_I(scratch.channel[0], out.channel[0], frames);
        ippsAdd_32f_I(scratch.channel[1], out.channel[1], frames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_HeadTwoDirectFirs)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Arg(1024);

// One chunk of range(0) frames through the direct path (range(1) = 0) or the 2T-point transforms
// (1). The block sizes (32, 64, 128) always take their own path and are left out.
void BM_HeadChunk(benchmark::State& state)
{
    bool const transforms = state.range(1) != 0;
    state.SetLabel(transforms ? "transforms" : "direct");
    run_fused_head(state, static_cast<int>(state.range(0)), transforms ? 1 : taps + 1);
}
BENCHMARK(BM_HeadChunk)->ArgsProduct({{1, 8, 16, 24, 40, 48, 56, 96, 160}, {0, 1}});

} // namespace

BENCHMARK_MAIN();
