// The LV2 bundle in jalv on a dummy-driver jackd at 128-frame periods for ten minutes (or
// SECONDS), with the heaviest program a user is likely to build: both IRs in True Stereo with 10 s
// responses in both sections, every chorus, delay, equaliser and pitch-modulation section on, and
// parameters automated on jalv's input all the while (ten a second, and every five seconds one
// that reshapes an IR).
//
//   jack_heavy [SECONDS] [--no-witness | --witness-period US]
//
// Prints the xruns the server reported, the late cycles (and how many of them the machine's own
// stops explain; see tests/plugin/jack_session.h), and the graph's time per cycle (source, plug-in
// and sink; median, p99.9 and worst) as a share of the period. Exits non-zero on an unexplained
// late cycle or xrun, a non-finite sample, or when jalv did not survive. The witnesses wake 8000
// times a second at the top real-time priority, which a virtual machine does not give for free:
// --no-witness runs without them, so that the xruns counted are those of the graph alone (every
// late cycle then counts as unexplained); --witness-period 1000 makes them wake a quarter as often
// and still see every stop longer than a millisecond.

#include "jack_session.h"
#include "lv2_host.h"
#include "plugin_test_support.h"

#include "support/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;
using namespace std::chrono_literals;

constexpr double rate = 48000.0;
constexpr unsigned period = 128;

// The program: both slots True Stereo, every effect and filter section on.
std::vector<std::pair<std::string, float>> const heavy_controls = {
    {"ir1_toggle", 1.0f}, {"ir2_toggle", 1.0f}, {"ir1_topology", 1.0f / 3.0f}, {"ir2_topology", 1.0f / 3.0f},
    {"chorus_master_toggle", 1.0f}, {"chorus_ir1_toggle", 1.0f}, {"chorus_ir2_toggle", 1.0f},
    {"master_delay_l_toggle", 1.0f}, {"master_delay_r_toggle", 1.0f}, {"ir1_delay_l_toggle", 1.0f},
    {"ir1_delay_r_toggle", 1.0f}, {"ir2_delay_l_toggle", 1.0f}, {"ir2_delay_r_toggle", 1.0f},
    {"flt_master_toggle", 1.0f}, {"flt1_toggle", 1.0f}, {"flt2_toggle", 1.0f}, {"flt3_toggle", 1.0f},
    {"flt4_toggle", 1.0f}, {"flt5_toggle", 1.0f}, {"ir1_flt_master_toggle", 1.0f}, {"ir1_flt1_toggle", 1.0f},
    {"ir1_flt5_toggle", 1.0f}, {"ir2_flt_master_toggle", 1.0f}, {"ir2_flt1_toggle", 1.0f},
    {"ir2_flt5_toggle", 1.0f}, {"pitch_mod_ir1_section1_toggle", 1.0f}, {"pitch_mod_ir1_section2_toggle", 1.0f},
    {"pitch_mod_ir2_section1_toggle", 1.0f}, {"pitch_mod_ir2_section2_toggle", 1.0f}, {"master_mix", 0.5f},
};

// What a producer rides during a mix, within 0.15 of where the program has it, and what reshapes a
// response (a rebuild of 10 s in four channels on the IR thread, crossfaded on the audio thread).
struct Ridden {
    char const* key;
    float around;
};
Ridden const ridden[] = {{"master_mix", 0.5f},        {"master_gain", 0.5f}, {"master_ir1_ir2_mix", 0.5f},
                         {"ir1_balance", 0.5f},       {"ir2_balance", 0.5f}, {"flt1_freq", 0.2f},
                         {"flt2_gain", 0.5f},         {"flt3_q", 0.5f},      {"lfo1_rate", 0.125f},
                         {"ir1_gain", 0.3f},          {"ir2_gain", 0.3f}};
Ridden const reshaping[] = {{"ir1_width", 0.5f}, {"ir2_pre_delay", 0.15f}, {"ir1_adshr_r", 0.15f}, {"ir2_width", 0.5f}};

double share(std::vector<std::int64_t> const& sorted, double quantile, double period_us)
{
    if (sorted.empty()) return 0.0;
    auto const k = std::min(sorted.size() - 1, static_cast<std::size_t>(quantile * static_cast<double>(sorted.size())));
    return static_cast<double>(sorted[k]) / period_us;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 600.0;
    bool watching = true;
    std::int64_t witness_period_us = StallWitness::default_period_us;
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--no-witness")
            watching = false;
        else if (std::string(argv[a]) == "--witness-period" && a + 1 < argc)
            witness_period_us = std::atoll(argv[++a]);
        else
            seconds = std::atof(argv[a]);
    }
    if (!(seconds >= 5.0)) {
        std::fprintf(stderr, "usage: jack_heavy [SECONDS >= 5] [--no-witness | --witness-period US]\n");
        return 2;
    }
    TempDir config("corvella-jack-bench-xdg-");
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    TempDir folder("corvella-jack-bench-");

    // Two true-stereo pairs of 10 s responses (each file stereo: its section's left and right).
    std::vector<std::pair<std::string, std::filesystem::path>> files;
    unsigned seed = 11;
    for (char const* slot : {"ir1", "ir2"})
        for (char const* section : {"a", "b"}) {
            std::filesystem::path const file = folder / (std::string(slot) + "_" + section + ".wav");
            write_wav(file, make_impulse_response(static_cast<std::size_t>(10 * rate), seed++), rate);
            files.emplace_back(std::string(CORVELLA_LV2_URI) + "#" + slot + "_file_" + section, file);
        }
    {
        set_latency_setting(0);
        Lv2Instance plugin(CORVELLA_LV2_URI, rate, period);
        if (!plugin.loaded()) {
            std::fprintf(stderr, "jack_heavy: the LV2 bundle did not load\n");
            return 1;
        }
        plugin.activate();
        for (auto const& [key, value] : heavy_controls)
            plugin.set_control(key, value);
        for (auto const& [uri, file] : files)
            plugin.set_path(uri, file.string());
        lv2_render(plugin, silence(period), period);
        if (!plugin.save_state_file(folder / "state")) {
            std::fprintf(stderr, "jack_heavy: the state could not be saved\n");
            return 1;
        }
    }

    auto const cycles_expected = static_cast<std::size_t>((seconds + 30.0) * rate / period);
    JackGraph graph(folder.path(), cycles_expected);
    if (std::string const why = graph.start_server(period); !why.empty()) {
        std::fprintf(stderr, "jack_heavy: %s\n", why.c_str());
        return 2;
    }
    if (std::string const why = graph.start_jalv(CORVELLA_LV2_URI, folder / "state"); !why.empty()) {
        std::fprintf(stderr, "jack_heavy: %s\n", why.c_str());
        return 1;
    }
    Sink& sink = graph.sink();
    Child& jalv = *graph.jalv();

    // Loading four 10 s files and building both slots takes a moment; judging starts after it.
    StallWitness witness(watching, witness_period_us);
    sink.recording = true;
    std::this_thread::sleep_for(5s);
    std::int64_t const judged_from = monotonic_us();
    long const frames_at_start = sink.frames_seen;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    long automated = 0, reshaped = 0;
    auto const tenths = static_cast<long>(seconds * 10.0);
    for (long tenth = 0; tenth < tenths && jalv.running(); ++tenth) {
        Ridden const& r = tenth % 50 == 49 ? reshaping[random() % std::size(reshaping)]
                                           : ridden[random() % std::size(ridden)];
        reshaped += tenth % 50 == 49 ? 1 : 0;
        float const v = std::clamp(r.around + 0.3f * (value(random) - 0.5f), 0.0f, 1.0f);
        char line[96];
        std::snprintf(line, sizeof line, "%s = %.4f", r.key, static_cast<double>(v));
        jalv.write_line(line);
        ++automated;
        std::this_thread::sleep_for(100ms);
    }
    long const frames = sink.frames_seen - frames_at_start;
    bool const survived = jalv.running();
    sink.recording = false;
    std::int64_t const judged_until = monotonic_us();
    witness.stop();
    graph.stop();

    JudgedRun const run = judge_run(sink, witness, graph.period_us(), judged_from, judged_until);
    XrunJudgement const& judgement = run.judgement;
    double const period_us = graph.period_us();
    std::printf("jack_heavy: %.0f s at %u frames, %s server, %s witnesses; jalv %s\n",
                static_cast<double>(frames) / rate, period, graph.realtime_server() ? "real-time" : "time-sharing",
                !witness.watching() ? "no" : witness.realtime() ? "real-time" : "time-sharing",
                survived ? "ran throughout" : "DIED");
    std::printf("automation: %ld parameter changes, %ld of them reshaping an IR\n", automated, reshaped);
    std::printf("xruns reported: %ld; late cycles: %zu (%zu explained by the machine stopping, %.1f ms in all)\n",
                run.reported_xruns, judgement.late.size(), judgement.late.size() - judgement.unexcused(),
                static_cast<double>(run.stopped_us) * 1e-3);
    std::printf("graph time per cycle over the period: median %.3f, p99.9 %.3f, worst %.3f (%zu cycles)\n",
                share(run.work_us, 0.5, period_us), share(run.work_us, 0.999, period_us),
                share(run.work_us, 1.0, period_us), run.work_us.size());
    std::printf("output: peak %.3f%s\n", static_cast<double>(sink.peak.load()),
                sink.non_finite.load() ? ", NON-FINITE SAMPLES" : "");
    bool const ok = survived && judgement.unexcused() == 0 && judgement.unexplained_xruns.empty() &&
                    !sink.non_finite.load() && sink.peak.load() > 0.0f;
    if (!ok) std::printf("%s", describe(judgement, run.cycles, run.stalls, judged_from, period_us).c_str());
    return ok ? 0 : 1;
}
