// True-stereo slots run both sides of a section in one four-path FFT convolver. Every path must
// reach its own output: the responses differ per path, so a swapped path or output fails the
// double-precision reference by far more than float rounding.

#include "engine_fixture.h"

#include "platform/threading.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace corvella::test {
namespace {

constexpr float true_stereo = 1.0f / 3.0f;

// Error energy over signal energy, in dB.
double error_energy_db(Signal const& actual, std::vector<double> const& reference)
{
    double error = 0.0, signal = 0.0;
    for (size_t i = 0; i < reference.size(); ++i) {
        double const a = i < actual.size() ? actual[i] : 0.0;
        error += (a - reference[i]) * (a - reference[i]);
        signal += reference[i] * reference[i];
    }
    return 10.0 * std::log10(error / signal + 1e-300);
}

// x ⊛ h + y ⊛ g (g optional), delayed by `latency`.
std::vector<double> paths(Signal const& x, Signal const& h, Signal const* y, Signal const* g, size_t total,
                          size_t latency)
{
    std::vector<double> const first = reference_convolve(x, h, total);
    std::vector<double> const second = y ? reference_convolve(*y, *g, total) : std::vector<double>(total, 0.0);
    std::vector<double> result(total, 0.0);
    for (size_t i = latency; i < total; ++i)
        result[i] = first[i - latency] + second[i - latency];
    return result;
}

void add(std::vector<double>& to, std::vector<double> const& more)
{
    for (size_t i = 0; i < to.size(); ++i)
        to[i] += more[i];
}

// The signal between `from` and `to`, silence elsewhere.
Signal window(Signal const& s, size_t from, size_t to)
{
    Signal w(s.size(), 0.0f);
    std::copy(s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to), w.begin() + static_cast<long>(from));
    return w;
}

// Whether generation g of IR1 holds four-path convolvers and no plain ones. Read as the audio
// thread reads them: the IR worker may be exchanging them.
bool runs_four_paths(VST_Plugin& engine, int g)
{
    CriticalSectionLock lock(&engine.process_lock);
    if (!engine.generation_four_path(1, g)) return false;
    for (int section = 1; section <= 2; ++section)
        for (int side = 0; side < 2; ++side)
            if (engine.fft_generation(g)[VST_Plugin::convolver_index(1, side, section)] != nullptr) return false;
    return true;
}

class FourPathTest : public EngineTest, public testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        engine = make_engine(GetParam());
        ASSERT_TRUE(engine->processing_enabled.load());
        ASSERT_TRUE(wait_idle(*engine)); // the first build is done and cannot take over later
        set_unity_program(*engine);
    }

    std::unique_ptr<VST_Plugin> engine;
    size_t const latency = static_cast<size_t>(GetParam());
    FourChannelIr ir{decaying_noise(3000, 1), decaying_noise(3000, 2), decaying_noise(3000, 3),
                     decaying_noise(3000, 4)};
    FourChannelIr next{decaying_noise(2500, 5), decaying_noise(2500, 6), decaying_noise(2500, 7),
                       decaying_noise(2500, 8)};
};

TEST_P(FourPathTest, TrueStereoAndStsRouteEveryPathToItsOutput)
{
    size_t const total = 12000;
    StereoSignal input{noise_burst(total, 5000, 11), noise_burst(total, 5000, 12)};
    Signal const &l = input.left, &r = input.right;
    Signal const* h = ir.channel;
    struct Case {
        char const* name;
        float sts;
        float topology;
        std::vector<double> left, right;
    };
    // STS feeds the right input through B right to the left output and the left input through B
    // left to the right output.
    Case const cases[] = {
        {"True Stereo", 0.0f, true_stereo, paths(l, h[0], &r, &h[2], total, latency),
         paths(l, h[1], &r, &h[3], total, latency)},
        {"Parallel Stereo with STS", 0.5f, 0.0f, paths(l, h[0], &r, &h[3], total, latency),
         paths(r, h[1], &l, &h[2], total, latency)},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            p.ir1_topology = c.topology;
            p.ir1_sts_toggle = c.sts;
        });
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        EXPECT_TRUE(runs_four_paths(*engine, engine->generations[0].live.load()));
        engine->silence_buffers();
        StereoSignal const out = run_stereo(*engine, input);
        EXPECT_LT(error_energy_db(out.left, c.left), -120.0);
        EXPECT_LT(error_energy_db(out.right, c.right), -120.0);
    }
}

// The old response rings out what came before the take-over while the new one takes what follows.
TEST_P(FourPathTest, ATakeOverRingsTheOldPathsAndPlaysTheNew)
{
    size_t const total = 16000, change = 4000;
    StereoSignal input{noise_burst(total, 7000, 21), noise_burst(total, 7000, 22)};
    edit_program(*engine, [](VST_Plugin_Program& p) { p.ir1_topology = true_stereo; });
    ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
    engine->silence_buffers();
    StereoSignal out = run_stereo(*engine, slice(input, 0, change));
    ASSERT_TRUE(engine->load_ir_into_slot(1, next.pointers, next.length(), true));
    append(out, run_stereo(*engine, slice(input, change, total)));

    Signal const before[2] = {window(input.left, 0, change), window(input.right, 0, change)};
    Signal const after[2] = {window(input.left, change, total), window(input.right, change, total)};
    Signal const *h = ir.channel, *n = next.channel;
    std::vector<double> left = paths(before[0], h[0], &before[1], &h[2], total, latency);
    std::vector<double> right = paths(before[0], h[1], &before[1], &h[3], total, latency);
    add(left, paths(after[0], n[0], &after[1], &n[2], total, latency));
    add(right, paths(after[0], n[1], &after[1], &n[3], total, latency));
    EXPECT_TRUE(runs_four_paths(*engine, engine->generations[0].live.load()));
    EXPECT_LT(error_energy_db(out.left, left), -120.0);
    EXPECT_LT(error_energy_db(out.right, right), -120.0);
}

INSTANTIATE_TEST_SUITE_P(Latencies, FourPathTest, testing::Values(0, 1024),
                         [](testing::TestParamInfo<int> const& latency) {
                             return "Latency" + std::to_string(latency.param);
                         });

class FourPathBuildTest : public EngineTest {
protected:
    Signal a_left = decaying_noise(3000, 31), a_right = decaying_noise(3000, 32);
    Signal b_left = decaying_noise(3000, 33), b_right = decaying_noise(3000, 34);
};

// Files A and B exchanged: the B file's responses take the left input's paths, none of the outputs.
TEST_F(FourPathBuildTest, FilesInEachOthersPlaceTakeEachOthersPaths)
{
    auto const a = write_wav("a.wav", {a_left, a_right}, 48000);
    auto const b = write_wav("b.wav", {b_left, b_right}, 48000);
    auto engine = file_engine(a, [&](VST_Plugin_Program& p) {
        p.ir1_topology = true_stereo;
        set_path(p.ir1_file_b, b.string());
    });
    size_t const total = 10000;
    StereoSignal input{noise_burst(total, 4000, 41), noise_burst(total, 4000, 42)};
    Signal const &l = input.left, &r = input.right;
    struct Case {
        char const* name;
        std::filesystem::path file_a, file_b;
        std::vector<double> left, right;
    };
    Case const cases[] = {
        {"A, B", a, b, paths(l, a_left, &r, &b_left, total, 0), paths(l, a_right, &r, &b_right, total, 0)},
        {"B, A", b, a, paths(l, b_left, &r, &a_left, total, 0), paths(l, b_right, &r, &a_right, total, 0)},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            set_path(p.ir1_file_a, c.file_a.string());
            set_path(p.ir1_file_b, c.file_b.string());
        });
        rebuild_ir1(*engine, true);
        engine->silence_buffers();
        StereoSignal const out = run_stereo(*engine, input);
        EXPECT_LT(error_energy_db(out.left, c.left), -120.0);
        EXPECT_LT(error_energy_db(out.right, c.right), -120.0);
    }
}

// True Stereo, Parallel Stereo, True Stereo again, changed between stretches of audio: each stretch
// plays through its own topology. With smooth changes it rings out through it while the next one
// plays, and at the end the idle generation has followed the live one, so that the slot keeps one
// worker per section; without them each rebuild silences what came before.
class TopologyChangeTest : public FourPathBuildTest, public testing::WithParamInterface<bool> {};

TEST_P(TopologyChangeTest, TopologyChangesBetweenProgramsKeepEveryStretchRight)
{
    bool const smooth = GetParam();
    CheckPrefs();
    set_smooth_changes_in_registry(smooth ? 1 : 0);
    auto const a = write_wav("a.wav", {a_left, a_right}, 48000);
    auto const b = write_wav("b.wav", {b_left, b_right}, 48000);
    auto engine = file_engine(a, [&](VST_Plugin_Program& p) {
        p.ir1_topology = true_stereo;
        set_path(p.ir1_file_b, b.string());
    });
    ASSERT_EQ(engine->smooth_changes, smooth);
    size_t const stretch = 6000, total = 3 * stretch + 4000;
    StereoSignal input{noise_burst(total, total, 51), noise_burst(total, total, 52)};
    for (Signal* s : {&input.left, &input.right})
        std::fill(s->begin() + 3 * stretch, s->end(), 0.0f);
    float const topologies[3] = {true_stereo, 0.0f, true_stereo};

    StereoSignal out;
    std::vector<double> left(total, 0.0), right(total, 0.0);
    for (int k = 0; k < 3; ++k) {
        size_t const from = k * stretch, to = k == 2 ? total : from + stretch;
        if (k > 0) {
            edit_program(*engine, [&](VST_Plugin_Program& p) { p.ir1_topology = topologies[k]; });
            rebuild_ir1(*engine, true);
        }
        append(out, run_stereo(*engine, slice(input, from, to))); // the rebuilt generation takes over
        EXPECT_EQ(runs_four_paths(*engine, engine->generations[0].live.load()), topologies[k] == true_stereo);
        Signal const l = window(input.left, from, to), r = window(input.right, from, to);
        std::vector<double> stretch_left, stretch_right;
        if (topologies[k] == true_stereo) {
            stretch_left = paths(l, a_left, &r, &b_left, total, 0);
            stretch_right = paths(l, a_right, &r, &b_right, total, 0);
        } else {
            stretch_left = paths(l, a_left, nullptr, nullptr, total, 0);
            stretch_right = paths(r, a_right, nullptr, nullptr, total, 0);
        }
        if (!smooth)
            for (std::vector<double>* s : {&stretch_left, &stretch_right})
                std::fill(s->begin() + static_cast<long>(to), s->end(), 0.0);
        add(left, stretch_left);
        add(right, stretch_right);
    }
    EXPECT_LT(error_energy_db(out.left, left), -120.0);
    EXPECT_LT(error_energy_db(out.right, right), -120.0);
    if (!smooth) return;

    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!runs_four_paths(*engine, 0) || !runs_four_paths(*engine, 1)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the idle generation kept its plain convolvers";
        run_stereo(*engine, StereoSignal{Signal(4096, 0.0f), Signal(4096, 0.0f)}); // the old one rings out
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, TopologyChangeTest, testing::Bool(),
                         [](testing::TestParamInfo<bool> const& smooth) {
                             return smooth.param ? std::string("Smooth") : std::string("Silencing");
                         });

} // namespace
} // namespace corvella::test
