// Loading an impulse-response file: a 10 s stereo 96 kHz 24-bit WAVE file read into the
// four-channel IR buffer at an engine rate of 48 kHz (read, split, resample), and the same file at
// its own rate (read and split only), which shows the resampler's share.
#include "ir/audio_file_loader.h"
#include "platform/temporary_folder.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int file_rate = 96000;
constexpr int file_seconds = 10;

std::string ir_path; // set by main before the benchmarks run

// Exponentially decaying noise reaching -60 dB at the end, a different seed per channel.
bool write_ir(std::string const& path)
{
    SF_INFO info{};
    info.samplerate = file_rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    int const frames = file_rate * file_seconds;
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * 2);
    std::mt19937 left(1), right(2);
    std::normal_distribution<float> noise(0.0f, 0.25f);
    double const decay = std::log(1000.0) / frames;
    for (int i = 0; i < frames; ++i) {
        auto const envelope = static_cast<float>(std::exp(-decay * i));
        interleaved[2 * static_cast<std::size_t>(i)] = std::clamp(noise(left) * envelope, -1.0f, 1.0f);
        interleaved[2 * static_cast<std::size_t>(i) + 1] = std::clamp(noise(right) * envelope, -1.0f, 1.0f);
    }
    bool const ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    return ok;
}

void load_at(benchmark::State& state, int engine_rate)
{
    for (auto _ : state) {
        float** buffer = nullptr;
        int allocated = 0, length = 0, depth = 0, rate = -1;
        corvella::AudioFileLoadReport report;
        corvella::load_audio_files(ir_path, "", buffer, engine_rate, allocated, length, depth, rate, false,
                                   0.08f, 1.0f, false, 0.0f, 1.0f, 0, 0.5f, &report);
        benchmark::DoNotOptimize(buffer);
        bool const failed = report.failed;
        corvella::free_ir_load_buffer(buffer);
        if (failed) {
            state.SkipWithError(report.text.c_str());
            break;
        }
        state.counters["ir_frames"] = length;
    }
}

void BM_LoadStereo96kTo48k(benchmark::State& state)
{
    load_at(state, 48000);
}
BENCHMARK(BM_LoadStereo96kTo48k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadStereo96kAtFileRate(benchmark::State& state)
{
    load_at(state, file_rate);
}
BENCHMARK(BM_LoadStereo96kAtFileRate)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    corvella::TemporaryFolder const folder("corvella-bench-");
    ir_path = (folder / "hall_96k_24bit.wav").string();
    int status = 0;
    if (write_ir(ir_path)) {
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fprintf(stderr, "cannot write %s: %s\n", ir_path.c_str(), sf_strerror(nullptr));
        status = 1;
    }
    benchmark::Shutdown();
    return status;
}
