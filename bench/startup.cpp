// Instance start-up, from creating the instance to its first processed block with a 3 s stereo
// impulse response live (48 kHz, zero latency).
// Through the in-process host:
//   BM_StartupFirstRunOnAMachine  no measured FFT plans kept: every transform size is measured
//   BM_StartupLaterRuns           the plans an earlier process measured are read from the cache
// Each iteration forgets the plans held in memory first, as a new process starts with none.
// Through the LV2 bundle and our lilv host, each run a process of its own (as a host opening a
// session), where loading the bundle's code counts too:
//   BM_StartupLv2FirstRunOnAMachine (a new user: no plans, no settings file) and
//   BM_StartupLv2LaterRuns (the same user again), with counters for the part spent in instantiate
//   and in activate. The response is live at the first block whose reply to a click
//   is the one the in-process host gives with it.
#include "convolution/ipps.h"
#include "host/in_process_host.h"
#include "platform/temporary_folder.h"

#if defined(CORVELLA_STARTUP_LV2)
#include "lv2_host.h"
#endif

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

// One unmeasured start-up, so that the cache folder holds every plan a start-up measures and the
// settings file exists, as after a first run.
void warm_up(Environment& e)
{
    corvella::host::InProcessHost host;
    if (host.create_instance(corvella::host::Variant::stereo_to_stereo, rate) && host.set_ir_file(1, 0, e.ir))
        host.wait_until_idle();
}

void startup(benchmark::State& state, bool keep_plans)
{
    Environment& e = environment();
    std::vector<float> in(512, 0.0f), left(512), right(512);
    float const* ins[2] = {in.data(), in.data()};
    float* outs[2] = {left.data(), right.data()};
    if (keep_plans) warm_up(e); // later runs: an earlier process has run
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

#if defined(CORVELLA_STARTUP_LV2)
namespace {

constexpr std::uint32_t lv2_block = 512;
constexpr int probe_frames = 64;

// The in-process host's reply to a click at the start of a block, with the response of the
// environment loaded into IR1 (A): what the LV2 instance must give once that response is live.
std::vector<float> expected_reply(Environment& e)
{
    corvella::host::InProcessHost host;
    std::vector<float> in(lv2_block, 0.0f), left(lv2_block), right(lv2_block);
    float const* ins[2] = {in.data(), in.data()};
    float* outs[2] = {left.data(), right.data()};
    if (!host.create_instance(corvella::host::Variant::stereo_to_stereo, rate) || !host.wait_until_idle()) return {};
    host.process(ins, outs, static_cast<int>(lv2_block));
    if (!host.set_ir_file(1, 0, e.ir) || !host.wait_until_idle()) return {};
    in[0] = 1.0f;
    host.process(ins, outs, static_cast<int>(lv2_block));
    std::vector<float> reply(left.begin(), left.begin() + probe_frames);
    reply.insert(reply.end(), right.begin(), right.begin() + probe_frames);
    return reply;
}

// One start-up in this process (its settings and cache folders are the parent's): prints the seconds to instantiate, to activate, and until the
// response is live (all from before instantiate), or nothing when it failed.
int lv2_child(char const* expected_file, char const* ir)
{
    std::vector<float> expected(2 * probe_frames);
    std::ifstream(expected_file, std::ios::binary)
        .read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(expected.size() * sizeof(float)));
    float scale = 0.0f;
    for (float v : expected)
        scale = std::max(scale, std::fabs(v));
    if (!(scale > 0.0f)) return 1;
    { corvella::test::Lv2Instance const warm_up("urn:corvella:not-a-plugin", rate, lv2_block); } // lilv's world

    auto const start = std::chrono::steady_clock::now();
    auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    corvella::test::Lv2Instance plugin(CORVELLA_LV2_URI, rate, lv2_block);
    if (!plugin.loaded()) return 1;
    double const instantiated = since();
    plugin.activate();
    double const activated = since();
    plugin.set_path(std::string(CORVELLA_LV2_URI) + "#ir1_file_a", ir);
    std::vector<float> in(lv2_block, 0.0f), left(lv2_block), right(lv2_block);
    in[0] = 1.0f;
    float const* ins[2] = {in.data(), in.data()};
    float* outs[2] = {left.data(), right.data()};
    // Blocks at the audio clock's pace: a host does not call faster than its device.
    auto const period = std::chrono::duration<double>(static_cast<double>(lv2_block) / rate);
    for (int block = 0; block < 30 * rate / static_cast<int>(lv2_block); ++block) {
        std::this_thread::sleep_until(start + block * period);
        plugin.run(ins, outs, lv2_block);
        float worst = 0.0f;
        for (int i = 0; i < probe_frames; ++i)
            worst = std::max({worst, std::fabs(left[static_cast<std::size_t>(i)] - expected[static_cast<std::size_t>(i)]),
                              std::fabs(right[static_cast<std::size_t>(i)] - expected[static_cast<std::size_t>(probe_frames + i)])});
        if (worst < 1e-3f * scale) {
            std::printf("%.6f %.6f %.6f\n", instantiated, activated, since());
            return 0;
        }
    }
    return 1;
}

void startup_lv2(benchmark::State& state, bool keep_plans)
{
    Environment& e = environment();
    static std::string const expected_file = [&] {
        std::string const file = (e.folder / "reply.f32").string();
        std::vector<float> const reply = expected_reply(e);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<char const*>(reply.data()), static_cast<std::streamsize>(reply.size() * sizeof(float)));
        return file;
    }();
    double instantiate = 0.0, activate = 0.0;
    if (keep_plans) warm_up(e);
    for (auto _ : state) {
        // A first run is a new user's: no plans, no settings file. A later run is the same user's
        // again, whose settings file the warm-up run wrote.
        if (!keep_plans) {
            std::filesystem::remove_all(e.folder / "cache");
            std::filesystem::remove_all(e.folder / "config");
        }
        std::string const output = (e.folder / "child.txt").string();
        std::array<char const*, 5> args{"/proc/self/exe", "--lv2-child", expected_file.c_str(), e.ir.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        int status = -1;
        if (posix_spawn(&pid, args[0], &actions, nullptr, const_cast<char* const*>(args.data()), environ) == 0)
            waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&actions);
        double times[3] = {};
        std::ifstream result(output);
        if (status != 0 || !(result >> times[0] >> times[1] >> times[2])) {
            state.SkipWithError("the LV2 instance did not start, or its response never became live");
            return;
        }
        instantiate += times[0];
        activate += times[1] - times[0];
        state.SetIterationTime(times[2]);
    }
    auto const runs = static_cast<double>(state.iterations());
    state.counters["instantiate_ms"] = 1e3 * instantiate / runs;
    state.counters["activate_ms"] = 1e3 * activate / runs;
}

void BM_StartupLv2FirstRunOnAMachine(benchmark::State& state) { startup_lv2(state, false); }
void BM_StartupLv2LaterRuns(benchmark::State& state) { startup_lv2(state, true); }

} // namespace

BENCHMARK(BM_StartupLv2FirstRunOnAMachine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupLv2LaterRuns)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv)
{
#if defined(CORVELLA_STARTUP_LV2)
    setenv("LV2_PATH", CORVELLA_LV2_PATH, 1); // the build tree's bundle only
    if (argc == 4 && std::string(argv[1]) == "--lv2-child") return lv2_child(argv[2], argv[3]); // inherits XDG_*
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
