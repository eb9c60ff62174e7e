// IR shaping costs paid on the IR computation thread: the simulated true-stereo half of a 5 s
// stereo IR at 48 kHz, and the polyphase resampling of a 10 s stereo IR from 96 kHz to 48 kHz.
#include "ir/ir_shaping.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

// Channels from the aligned allocator IR buffers use, filled with decaying noise.
class BenchIr {
public:
    BenchIr(int channels, int allocated, int frames, int rate) : table_(static_cast<std::size_t>(channels))
    {
        std::mt19937 engine(7);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        for (float*& channel : table_) {
            void* block = nullptr;
            if (posix_memalign(&block, 32, sizeof(float) * static_cast<std::size_t>(allocated)) != 0)
                std::abort();
            channel = static_cast<float*>(block);
            for (int i = 0; i < allocated; ++i)
                channel[i] = i < frames ? dist(engine) * std::exp(-3.0f * i / rate) : 0.0f;
        }
    }
    ~BenchIr()
    {
        for (float* channel : table_)
            std::free(channel);
    }
    BenchIr(BenchIr const&) = delete;
    BenchIr& operator=(BenchIr const&) = delete;
    float** data() { return table_.data(); }

private:
    std::vector<float*> table_;
};

void simulated_true_stereo_5s_48k(benchmark::State& state)
{
    int const rate = 48000, frames = 5 * rate, allocated = frames + 65536 + 4096;
    for (auto _ : state) {
        state.PauseTiming();
        BenchIr ir(4, allocated, frames, rate);
        int length = frames;
        state.ResumeTiming();
        convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, length, 0.08f, rate, 1, 0.5f);
        benchmark::DoNotOptimize(ir.data()[2][1000]);
    }
}
BENCHMARK(simulated_true_stereo_5s_48k)->Unit(benchmark::kMillisecond);

void polyphase_resample_10s_96k_to_48k(benchmark::State& state)
{
    int const rate = 96000, frames = 10 * rate, allocated = frames + 1024;
    for (auto _ : state) {
        state.PauseTiming();
        BenchIr ir(2, allocated, frames, rate);
        int length = frames;
        int capacity = allocated;
        state.ResumeTiming();
        resample_audio_file_into_preallocated_memory(ir.data(), rate, 48000, capacity, length, 2);
        benchmark::DoNotOptimize(ir.data()[0][1000]);
    }
}
BENCHMARK(polyphase_resample_10s_96k_to_48k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
