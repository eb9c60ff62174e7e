// Real-time factor of an offline render: 60 s of stereo 48 kHz noise through the start-up bank's
// default program (IR1 = the factory long plate), 512-frame blocks, through the in-process host as
// corvella-render runs it. Set-up (the first IR build) is not timed.

#include "host/in_process_host.h"
#include "platform/reproducibility.h"
#include "platform/settings_store.h"
#include "platform/temporary_folder.h"
#include "tools/corvella-factory-irs/factory_irs.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Private settings and data folders with the factory responses installed.
struct Folders {
    corvella::TemporaryFolder root{"corvella-bench-"};
    Folders()
    {
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        corvella::factory::write_all(root / "data/Audio/Impulse Responses/Tarnwick/Corvella");
    }
};

void BM_RenderDefaultProgram(benchmark::State& state)
{
    Folders const folders;
    CheckPrefs();
    corvella::use_reproducible_processing(true); // as corvella-render plans its transforms
    int const rate = 48000, block = 512, seconds = 60;
    corvella::host::InProcessHost host;
    if (!host.create_instance(corvella::host::Variant::stereo_to_stereo, rate) || !host.wait_until_idle()) {
        state.SkipWithError("the instance did not start");
        return;
    }
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> in(2 * block), out(2 * block);
    for (float& v : in)
        v = noise(random);
    float const* ins[2] = {in.data(), in.data() + block};
    float* outs[2] = {out.data(), out.data() + block};
    long long const blocks = static_cast<long long>(seconds) * rate / block;

    for (auto _ : state) {
        for (long long b = 0; b < blocks; ++b)
            host.process(ins, outs, block);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["realtime_factor"] = benchmark::Counter(
        static_cast<double>(seconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderDefaultProgram)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
