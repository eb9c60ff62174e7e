// Instance start-up through the in-process host: from creating the instance to its first processed
// block with a 3 s stereo impulse response live (48 kHz, zero latency).
//   BM_StartupFirstRunOnAMachine  no measured FFT plans kept: every transform size is measured
//   BM_StartupLaterRuns           the plans an earlier process measured are read from the cache
// Each iteration forgets the plans held in memory first, as a new process starts with none.

#include "convolution/ipps.h"
#include "host/in_process_host.h"
#include "platform/temporary_folder.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int rate = 48000;

struct Environment {
    corvella::TemporaryFolder folder{"corvella-startup-"};
    std::string ir = (folder / "hall.wav").string();
    Environment()
    {
        setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file = sf_open(ir.c_str(), SFM_WRITE, &info);
        std::vector<float> frames(static_cast<size_t>(3 * rate) * 2);
        std::mt19937 random(1);
        std::normal_distribution<float> noise(0.0f, 0.25f);
        for (size_t i = 0; i < frames.size(); ++i)
            frames[i] = noise(random) * std::exp(-6.9f * static_cast<float>(i / 2) / (3.0f * rate));
        sf_writef_float(file, frames.data(), 3 * rate);
        sf_close(file);
    }
};

Environment& environment()
{
    static Environment e;
    return e;
}

void startup(benchmark::State& state, bool keep_plans)
{
    Environment& e = environment();
    std::vector<float> in(512, 0.0f), left(512), right(512);
    float const* ins[2] = {in.data(), in.data()};
    float* outs[2] = {left.data(), right.data()};
    for (auto _ : state) {
        if (!keep_plans) std::filesystem::remove_all(e.folder / "cache");
        corvella::ipps_fft_forget_plans();
        auto const start = std::chrono::steady_clock::now();
        {
            corvella::host::InProcessHost host;
            if (!host.create_instance(corvella::host::Variant::stereo_to_stereo, rate) ||
                !host.set_ir_file(1, 0, e.ir) || !host.wait_until_idle()) {
                state.SkipWithError("the instance did not start");
                return;
            }
            host.process(ins, outs, 512);
            state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
}

void BM_StartupFirstRunOnAMachine(benchmark::State& state) { startup(state, false); }
void BM_StartupLaterRuns(benchmark::State& state) { startup(state, true); }

} // namespace

BENCHMARK(BM_StartupFirstRunOnAMachine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupLaterRuns)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
