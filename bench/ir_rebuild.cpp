// Time from a rebuild request to the new IR being live in the convolvers, without the IR
// computation thread's 100 ms poll: the build function is called directly, as the thread does
// after picking the request up.
//   BM_PartialRebuild  3 s true-stereo pair at 48 kHz, a decay change reshaping the cached source
//   BM_FullRebuild     a 10 s stereo 96 kHz file read and resampled into a 48 kHz engine
//   BM_SynthesisedFull     a slot set to a 5 s tail (source type 2), or to a room's early
//                          reflections (source type 1), made again from its generator
//   BM_SynthesisedPartial  the same slot reshaped from its cache after a decay change
// All at zero latency (heads and FFT convolvers loaded). Goals: partial under 30 ms, full under
// 150 ms. The engine runs in a private settings folder with the files written there.

#include "bench/bench_support.h"
#include "engine/vst_plugin.h"
#include "platform/settings_store.h"
#include "platform/temporary_folder.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using corvella::bench::decaying_noise;

constexpr int rate = 48000;
std::filesystem::path folder; // set by main

// A stereo file of decaying noise; `format` is a libsndfile WAV subtype.
std::string write_stereo(std::string const& name, int file_rate, int frames, unsigned seed, int format)
{
    std::string const path = (folder / name).string();
    SF_INFO info{};
    info.samplerate = file_rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    std::vector<float> const left = decaying_noise(frames, seed), right = decaying_noise(frames, seed + 1);
    std::vector<float> interleaved(2 * static_cast<size_t>(frames));
    for (size_t i = 0; i < static_cast<size_t>(frames); ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    sf_writef_float(file, interleaved.data(), frames);
    sf_close(file);
    return path;
}

std::unique_ptr<VST_Plugin> make_engine(std::string const& file_a, std::string const& file_b, float topology)
{
    CheckPrefs();
    set_latency_in_registry(0);
    set_sr_gain_in_registry(0);
    auto engine = std::make_unique<VST_Plugin>(rate);
    std::vector<VST_Plugin_Program> bank(48);
    int current = 0;
    engine->read_programs(bank.data(), current);
    std::strncpy(bank[0].ir1_file_a, file_a.c_str(), sizeof bank[0].ir1_file_a - 1);
    std::strncpy(bank[0].ir1_file_b, file_b.c_str(), sizeof bank[0].ir1_file_b - 1);
    bank[0].ir1_topology = topology;
    engine->update_programs(bank.data(), 0);
    return engine;
}

void BM_PartialRebuild(benchmark::State& state)
{
    std::string const a = write_stereo("ts-a.wav", rate, 3 * rate, 1, SF_FORMAT_FLOAT);
    std::string const b = write_stereo("ts-b.wav", rate, 3 * rate, 3, SF_FORMAT_FLOAT);
    auto engine = make_engine(a, b, 1.0f / 3.0f);
    if (!engine->processing_enabled) {
        state.SkipWithError("engine locked");
        return;
    }
    engine->change_ir1_file_standard_format(a.c_str(), b.c_str()); // loads the cache and plans the FFTs
    std::vector<VST_Plugin_Program> bank(48);
    int current = 0;
    engine->read_programs(bank.data(), current);
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bank[0].ir1_adshr_d = 0.2f + 0.01f * static_cast<float>(step++ % 50);
        engine->update_programs(bank.data(), 0);
        state.ResumeTiming();
        engine->change_ir1_file_standard_format(a.c_str(), b.c_str());
    }
    if (engine->ir_builds_finished[0] != engine->ir_builds_started[0]) state.SkipWithError("build failed");
}

void BM_FullRebuild(benchmark::State& state)
{
    std::string const a = write_stereo("long.wav", 96000, 10 * 96000, 5, SF_FORMAT_PCM_24);
    auto engine = make_engine(a, {}, 0.0f);
    if (!engine->processing_enabled) {
        state.SkipWithError("engine locked");
        return;
    }
    engine->change_ir1_file_standard_format(a.c_str(), ""); // plans the FFTs of this length
    for (auto _ : state) {
        engine->full_recompute_ir1 = true;
        engine->change_ir1_file_standard_format(a.c_str(), "");
    }
}

// Source type 1 (early reflections, room 5 at full depth) or 2 (a 5 s tail: length 0.55).
std::unique_ptr<VST_Plugin> synthesised_engine(int source_type, std::vector<VST_Plugin_Program>& bank)
{
    auto engine = make_engine({}, {}, 0.0f);
    int current = 0;
    engine->read_programs(bank.data(), current);
    bank[0].ir1_source_type = source_type;
    bank[0].ir1_er_type = 5;
    bank[0].ir1_er_depth = 1.0f;
    bank[0].ir1_tail_length = 0.55f; // 0.55^3 x 29.95 + 0.05 = 5.0 s
    engine->update_programs(bank.data(), 0);
    return engine;
}

void BM_SynthesisedFull(benchmark::State& state)
{
    std::vector<VST_Plugin_Program> bank(48);
    auto engine = synthesised_engine(static_cast<int>(state.range(0)), bank);
    engine->change_ir1_file_standard_format("", ""); // plans the FFTs of this length
    for (auto _ : state) {
        engine->full_recompute_ir1 = true;
        engine->change_ir1_file_standard_format("", "");
    }
}

void BM_SynthesisedPartial(benchmark::State& state)
{
    std::vector<VST_Plugin_Program> bank(48);
    auto engine = synthesised_engine(static_cast<int>(state.range(0)), bank);
    engine->change_ir1_file_standard_format("", "");
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bank[0].ir1_adshr_d = 0.2f + 0.01f * static_cast<float>(step++ % 50);
        engine->update_programs(bank.data(), 0);
        state.ResumeTiming();
        engine->change_ir1_file_standard_format("", "");
    }
}

BENCHMARK(BM_SynthesisedFull)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_SynthesisedPartial)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_PartialRebuild)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_FullRebuild)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // A private settings folder for this run.
    corvella::TemporaryFolder const private_folder("corvella-bench-");
    folder = private_folder.path();
    setenv("XDG_CONFIG_HOME", private_folder.path().c_str(), 1);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
