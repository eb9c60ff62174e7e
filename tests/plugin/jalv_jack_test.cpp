// The LV2 bundle in a real JACK graph: jalv (console) on a dummy-driver jackd that this test starts
// and stops by PID, 10 s at 128-frame periods with a parameter changed on jalv's stdin, between a
// source and a sink client of the test's own. The sink timestamps every cycle.
//
// Whose xrun is it? A shared virtual machine now and then runs no thread at all for 1 to 100 ms,
// and the dummy driver's clock then reports xruns no client caused. So one witness thread per core,
// pinned at the top real-time priority, records every stretch in which its core ran nothing. A late
// cycle counts against the plug-in unless the witnesses saw the machine stop long enough within it,
// and every xrun the server reports must come from a late cycle. The plug-in's threads cannot delay
// the witnesses, so a plug-in that overruns, blocks or starves the server shows as unexcused.

#include "lv2_host.h"
#include "plugin_test_support.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace corvella::test {
namespace {

using namespace std::chrono_literals;

std::int64_t monotonic_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

struct CycleTimes {
    std::int64_t begin_us; // the server's wake-up for the cycle
    std::int64_t done_us;  // the sink's end: the whole graph has run
};

// A witness's due time and its actual, late wake-up: its core ran nothing in between.
struct Stall {
    std::int64_t from_us, to_us;
};

struct LateCycle {
    enum class Kind { gap, overrun };
    Kind kind;
    std::int64_t from_us, to_us; // the stretch in which a stop of the machine would explain it
    std::int64_t excess_us;      // how late
    std::int64_t stopped_us;     // how long the witnesses saw the machine stop in that stretch
    bool excused = false;
};

struct XrunTimingRules {
    double period_us = 0.0;
    std::int64_t witness_period_us = 0; // a stop may begin up to one witness period before it is seen
    std::int64_t slack_us = 0; // stops too short for a witness to record; wake-ups queued after a stop
    // A stop inside a cycle leaves the rest of its work until the machine resumes: an overrun needs
    // stops as long as its excess less this much (the graph's usual time per cycle).
    std::int64_t after_stop_us = 0;
    std::int64_t judged_from_us = 0; // late cycles and xruns outside these are only context
    std::int64_t judged_until_us = INT64_MAX;
    std::int64_t xrun_report_delay_us = 500000; // reports arrive on the clients' non-real-time thread
    // Late cycles within the slack with no stop seen may be stops too short to record: a few are the
    // machine's, more than this many are the plug-in's.
    std::size_t unseen_short_stops = 3;
};

struct XrunJudgement {
    std::vector<LateCycle> late;                 // judged late cycles, excused or not
    std::vector<std::int64_t> unexplained_xruns; // reported with no late cycle before them
    std::size_t unexcused() const
    {
        return static_cast<std::size_t>(
            std::count_if(late.begin(), late.end(), [](LateCycle const& c) { return !c.excused; }));
    }
};

std::int64_t stopped_within(std::vector<Stall> const& stalls, std::int64_t from, std::int64_t to,
                            std::int64_t witness_period_us)
{
    std::int64_t total = 0;
    for (Stall const& s : stalls)
        total +=
            std::max<std::int64_t>(0, std::min(s.to_us, to) - std::max(s.from_us - witness_period_us, from));
    return total;
}

// Each late cycle is judged against the witnessed stops within its stretch; without any stop it is
// excused only when within the slack and such cycles are rare.
// - An overrun: the graph ended after the next cycle's wake-up (or after a full period). The stops
//   must last as long as the overrun, less the slack.
// - A gap: more than one and a half periods between two cycles at the sink (the server woke late or
//   skipped cycles). A skip costs whole periods: a stop as long as what the graph had spare of its
//   period can cost a period more than it lasts. So the stops must last the lateness less one
//   period, and at least that spare time (never more than the lateness), less the slack.
XrunJudgement judge_xruns(std::vector<CycleTimes> const& cycles, std::vector<Stall> const& stalls,
                          std::vector<std::int64_t> const& xrun_times, XrunTimingRules const& rules)
{
    auto const period = static_cast<std::int64_t>(std::llround(rules.period_us));
    auto stopped = [&](std::int64_t from, std::int64_t to) {
        return stopped_within(stalls, from, to, rules.witness_period_us);
    };
    auto covers = [&](std::int64_t stop, std::int64_t needed) {
        return stop > 0 && stop >= needed - rules.slack_us;
    };
    std::vector<LateCycle> all_late;
    for (std::size_t k = 0; k < cycles.size(); ++k) {
        CycleTimes const& c = cycles[k];
        if (k > 0) {
            CycleTimes const& before = cycles[k - 1];
            std::int64_t const gap = c.begin_us - before.begin_us;
            if (2 * gap > 3 * period) {
                LateCycle late{LateCycle::Kind::gap, before.begin_us, c.begin_us, gap - period,
                               stopped(before.begin_us, c.begin_us)};
                std::int64_t const spare =
                    std::max<std::int64_t>(0, before.begin_us + period - before.done_us);
                late.excused = covers(late.stopped_us,
                                      std::min(late.excess_us, std::max(late.excess_us - period, spare)));
                // The server woke late and ran the cycles it owed back to back, after a cycle that
                // ended on time: no thread of the plug-in runs above the server, so a stop the
                // witnesses saw even in part explains the late wake-up. A cycle a client held is
                // missing instead, and still needs stops that cover it.
                std::int64_t const owed = (gap + period / 2) / period - 1;
                std::int64_t caught_up = 0;
                for (std::size_t j = k + 1; j < cycles.size() && cycles[j].begin_us - c.begin_us < period / 2;
                     ++j)
                    ++caught_up;
                if (owed >= 1 && caught_up >= owed && before.done_us <= before.begin_us + period &&
                    late.stopped_us > 0)
                    late.excused = true;
                all_late.push_back(late);
            }
        }
        std::int64_t deadline = c.begin_us + period;
        if (k + 1 < cycles.size()) deadline = std::min(deadline, cycles[k + 1].begin_us);
        // An early next cycle means this one began late: the stretch reaches back to when it was due.
        if (c.done_us > deadline) {
            LateCycle late{LateCycle::Kind::overrun, deadline - period, c.done_us, c.done_us - deadline,
                           stopped(deadline - period, c.done_us)};
            late.excused = covers(late.stopped_us, late.excess_us - rules.after_stop_us);
            all_late.push_back(late);
        }
    }

    XrunJudgement judgement;
    for (LateCycle const& c : all_late)
        if (c.to_us >= rules.judged_from_us && c.from_us <= rules.judged_until_us)
            judgement.late.push_back(c);
    auto unseen = [&](LateCycle const& c) {
        return !c.excused && c.stopped_us == 0 && c.excess_us <= rules.slack_us;
    };
    if (static_cast<std::size_t>(std::count_if(judgement.late.begin(), judgement.late.end(), unseen)) <=
        rules.unseen_short_stops)
        for (LateCycle& c : judgement.late)
            if (unseen(c)) c.excused = true;
    for (std::int64_t const t : xrun_times) {
        if (t < rules.judged_from_us || t > rules.judged_until_us) continue;
        bool const explained = std::any_of(all_late.begin(), all_late.end(), [&](LateCycle const& c) {
            return c.from_us <= t && c.to_us >= t - rules.xrun_report_delay_us;
        });
        if (!explained) judgement.unexplained_xruns.push_back(t);
    }
    return judgement;
}

// One thread per core, pinned to it at the highest real-time priority below the kernel's own
// threads, sleeping to a deadline every 250 us: a late wake-up means no thread could run on that
// core in between, whatever its priority.
class StallWitness {
public:
    static constexpr std::int64_t period_us = 250;
    static constexpr std::int64_t threshold_us = 150;

    StallWitness()
    {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) CPU_SET(0, &allowed);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (!CPU_ISSET(cpu, &allowed)) continue;
            cores_.push_back(std::make_unique<Core>());
            cores_.back()->cpu = cpu;
            cores_.back()->stalls.resize(1 << 16);
        }
        for (auto& core : cores_)
            core->thread = std::thread([this, c = core.get()] { watch(*c); });
    }
    ~StallWitness() { stop(); }
    StallWitness(StallWitness const&) = delete;
    StallWitness& operator=(StallWitness const&) = delete;

    void stop()
    {
        stopping_ = true;
        for (auto& core : cores_)
            if (core->thread.joinable()) core->thread.join();
    }

    // After stop().
    std::vector<Stall> stalls() const
    {
        std::vector<Stall> all;
        for (auto const& core : cores_)
            all.insert(all.end(), core->stalls.begin(),
                       core->stalls.begin() + static_cast<std::ptrdiff_t>(core->count));
        return all;
    }
    bool realtime() const
    {
        return std::all_of(cores_.begin(), cores_.end(), [](auto const& core) { return core->realtime; });
    }

private:
    struct Core {
        int cpu = 0;
        std::vector<Stall> stalls; // written by the core's thread only, read after it is joined
        std::size_t count = 0;
        bool realtime = false;
        std::thread thread;
    };

    void watch(Core& core)
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(core.cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        sched_param priority{};
        priority.sched_priority = sched_get_priority_max(SCHED_FIFO) - 1;
        core.realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;

        std::int64_t due = monotonic_us();
        while (!stopping_.load(std::memory_order_relaxed)) {
            due += period_us;
            timespec const wake{static_cast<time_t>(due / 1000000), static_cast<long>(due % 1000000) * 1000};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
            std::int64_t const woke = monotonic_us();
            if (woke - due > threshold_us && core.count < core.stalls.size())
                core.stalls[core.count++] = {due, woke};
            if (woke - due > period_us) due = woke;
        }
    }

    std::vector<std::unique_ptr<Core>> cores_;
    std::atomic<bool> stopping_{false};
};

// A child process, its output in `log`; stopped by its PID only.
class Child {
public:
    Child(std::vector<std::string> argv, std::filesystem::path const& log, bool with_stdin,
          std::vector<std::pair<std::string, std::string>> const& environment = {})
    {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::none_of(environment.begin(), environment.end(),
                             [&](auto const& v) { return std::string_view(*e).starts_with(v.first + "="); }))
                env.emplace_back(*e);
        for (auto const& [name, value] : environment)
            env.push_back(name + "=" + value);
        auto pointers = [](std::vector<std::string>& strings) {
            std::vector<char*> p;
            for (auto& s : strings)
                p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        std::vector<char*> envp = pointers(env), args = pointers(argv);
        int in_pipe[2] = {-1, -1};
        if (with_stdin && pipe2(in_pipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (with_stdin)
            posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
        else
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (with_stdin) {
            close(in_pipe[0]);
            stdin_ = in_pipe[1];
        }
    }
    ~Child()
    {
        close_stdin();
        stop(5s);
    }

    bool running()
    {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
        exit_status_ = status;
        pid_ = -1;
        return false;
    }

    void write_line(std::string const& line)
    {
        std::string const text = line + "\n";
        if (stdin_ >= 0) [[maybe_unused]]
            auto n = ::write(stdin_, text.data(), text.size());
    }
    void close_stdin()
    {
        if (stdin_ >= 0) close(stdin_);
        stdin_ = -1;
    }

    // Waits for the child to end by itself, then asks it (SIGTERM) and finally forces it.
    void stop(std::chrono::milliseconds grace)
    {
        if (pid_ <= 0) return;
        for (auto waited = 0ms; waited < grace && running(); waited += 50ms)
            std::this_thread::sleep_for(50ms);
        if (pid_ > 0) kill(pid_, SIGTERM);
        for (auto waited = 0ms; waited < 3s && running(); waited += 50ms)
            std::this_thread::sleep_for(50ms);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &exit_status_, 0);
            pid_ = -1;
        }
    }

    int exit_status() const { return exit_status_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int exit_status_ = -1;
};

std::string read_text(std::filesystem::path const& file)
{
    std::stringstream s;
    s << std::ifstream(file).rdbuf();
    return s.str();
}

jack_client_t* open_client(char const* name, std::string const& server)
{
    jack_status_t status{};
    return jack_client_open(name, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            server.c_str());
}

// The test signal: tone bursts, 100 ms on and 100 ms off at 48 kHz.
float tone_burst(unsigned t)
{
    return (t / 4800) % 2 == 0 ? 0.3f * std::sin(0.05f * static_cast<float>(t)) : 0.0f;
}

constexpr std::size_t reference_frames = 96000;

Stereo tone_bursts(std::size_t frames)
{
    Stereo tone = silence(frames);
    for (std::size_t t = 0; t < frames; ++t)
        tone.left[t] = tone.right[t] = tone_burst(static_cast<unsigned>(t));
    return tone;
}

// Both channels' squares summed, per frame, from `from` on: the sink's measure. Over whole burst
// periods it does not depend on where the bursts start.
double mean_square(Stereo const& audio, std::size_t from)
{
    double sum = 0.0;
    for (std::size_t i = from; i < audio.frames(); ++i)
        sum += static_cast<double>(audio.left[i]) * audio.left[i] +
               static_cast<double>(audio.right[i]) * audio.right[i];
    return sum / static_cast<double>(audio.frames() - from);
}

struct Source {
    jack_client_t* client = nullptr;
    jack_port_t* out[2] = {};
    unsigned phase = 0; // process thread only

    static int process(jack_nframes_t frames, void* self)
    {
        auto* s = static_cast<Source*>(self);
        for (auto* port : s->out) {
            auto* o = static_cast<float*>(jack_port_get_buffer(port, frames));
            for (jack_nframes_t n = 0; n < frames; ++n)
                o[n] = tone_burst(s->phase + n);
        }
        s->phase += frames;
        return 0;
    }
    ~Source()
    {
        if (client != nullptr) jack_client_close(client);
    }
};

// Runs after the plug-in in every cycle, so its end is the end of the whole graph. Mean squares are
// summed per stretch of the test (`stretch`: 0 and 1 measured, -1 ignored).
struct Sink {
    static constexpr std::size_t cycle_capacity = 1 << 13; // 21 s at 128 frames
    static constexpr std::size_t xrun_capacity = 1 << 12;
    using Times = std::vector<std::atomic<std::int64_t>>;

    jack_client_t* client = nullptr;
    jack_port_t* in[2] = {};
    double rate = 48000.0;

    std::atomic<bool> recording{false};
    Times begin_us = Times(cycle_capacity), done_us = Times(cycle_capacity), xrun_us = Times(xrun_capacity);
    std::atomic<std::size_t> cycles{0}, xruns{0};

    std::atomic<long> frames_seen{0};
    std::atomic<bool> non_finite{false};
    std::atomic<float> peak{0.0f};
    std::atomic<int> stretch{-1};
    std::atomic<double> squares[2] = {0.0, 0.0};
    std::atomic<long> squared_frames[2] = {0, 0};

    static int process(jack_nframes_t frames, void* self)
    {
        auto* s = static_cast<Sink*>(self);
        std::int64_t const now = monotonic_us();
        auto const since = static_cast<double>(jack_frames_since_cycle_start(s->client));
        std::int64_t const begin = now - std::llround(since * 1e6 / s->rate);

        int const part = s->stretch.load(std::memory_order_relaxed);
        float local_peak = s->peak.load(std::memory_order_relaxed);
        double sum = 0.0;
        for (auto* port : s->in) {
            auto const* i = static_cast<float const*>(jack_port_get_buffer(port, frames));
            for (jack_nframes_t n = 0; n < frames; ++n) {
                if (!std::isfinite(i[n])) {
                    s->non_finite.store(true, std::memory_order_relaxed);
                    continue;
                }
                local_peak = std::max(local_peak, std::fabs(i[n]));
                sum += static_cast<double>(i[n]) * i[n];
            }
        }
        s->peak.store(local_peak, std::memory_order_relaxed);
        if (part == 0 || part == 1) {
            s->squares[part].store(s->squares[part].load(std::memory_order_relaxed) + sum,
                                   std::memory_order_relaxed);
            s->squared_frames[part].fetch_add(frames, std::memory_order_relaxed);
        }
        s->frames_seen.fetch_add(frames, std::memory_order_relaxed);

        std::size_t const k = s->cycles.load(std::memory_order_relaxed);
        if (s->recording.load(std::memory_order_relaxed) && k < cycle_capacity) {
            s->begin_us[k].store(begin, std::memory_order_relaxed);
            s->done_us[k].store(monotonic_us(), std::memory_order_relaxed);
            s->cycles.store(k + 1, std::memory_order_release);
        }
        return 0;
    }
    static int xrun(void* self)
    {
        auto* s = static_cast<Sink*>(self);
        std::size_t const k = s->xruns.fetch_add(1);
        if (k < xrun_capacity) s->xrun_us[k].store(monotonic_us(), std::memory_order_relaxed);
        return 0;
    }

    std::vector<CycleTimes> cycle_times() const
    {
        std::vector<CycleTimes> all(cycles.load(std::memory_order_acquire));
        for (std::size_t k = 0; k < all.size(); ++k)
            all[k] = {begin_us[k].load(std::memory_order_relaxed),
                      done_us[k].load(std::memory_order_relaxed)};
        return all;
    }
    std::vector<std::int64_t> xrun_times() const
    {
        std::vector<std::int64_t> all(std::min(xruns.load(), xrun_capacity));
        for (std::size_t k = 0; k < all.size(); ++k)
            all[k] = xrun_us[k].load(std::memory_order_relaxed);
        return all;
    }
    double mean_square(int part) const
    {
        long const n = squared_frames[part].load();
        return n > 0 ? squares[part].load() / static_cast<double>(n) : 0.0;
    }
    ~Sink()
    {
        if (client != nullptr) jack_client_close(client);
    }
};

std::vector<std::pair<std::string, std::string>> jalv_environment(std::string const& server)
{
    std::vector<std::pair<std::string, std::string>> environment{{"JACK_DEFAULT_SERVER", server}};
    if (std::string const runtime = CORVELLA_SANITIZER_RUNTIME; !runtime.empty()) {
        environment.emplace_back("LD_PRELOAD", runtime);
        environment.emplace_back("ASAN_OPTIONS", "detect_leaks=0"); // jalv's own allocations are not ours
    }
    return environment;
}

// For the failure message: each unexcused late cycle with the cycles and the witnessed stops around
// it (times in ms from the start of the judged stretch).
std::string describe(XrunJudgement const& judgement, std::vector<CycleTimes> const& cycles,
                     std::vector<Stall> const& stalls, std::int64_t origin_us, double period_us)
{
    auto ms = [&](std::int64_t t) { return std::to_string(static_cast<double>(t - origin_us) * 1e-3); };
    auto const margin = static_cast<std::int64_t>(2 * period_us);
    std::string text;
    std::size_t shown = 0;
    for (LateCycle const& c : judgement.late) {
        if (c.excused) continue;
        if (shown++ == 10) break;
        text += "  at " + ms(c.to_us) +
                (c.kind == LateCycle::Kind::gap ? ": the next cycle reached the sink "
                                                : ": the graph (source, plug-in, sink) finished ") +
                std::to_string(c.excess_us) + " us late; the machine stopped " +
                std::to_string(c.stopped_us) + " us meanwhile\n";
        auto add_near = [&](char const* what, std::int64_t from, std::int64_t to) {
            if (to >= c.from_us - margin && from <= c.to_us + margin)
                text += std::string("    ") + what + " " + ms(from) + " to " + ms(to) + "\n";
        };
        for (CycleTimes const& around : cycles)
            add_near("cycle", around.begin_us, around.done_us);
        for (Stall const& around : stalls)
            add_near("stop seen", around.from_us, around.to_us);
    }
    for (std::int64_t const t : judgement.unexplained_xruns)
        if (shown++ < 20) text += "  at " + ms(t) + ": an xrun reported with no late cycle before it\n";
    return text;
}

// The judging rules on made-up timelines: period 1000 us, witness period and slack 100 us.

std::vector<CycleTimes> steady(int count, std::int64_t graph_us = 200)
{
    std::vector<CycleTimes> cycles;
    for (int k = 0; k < count; ++k)
        cycles.push_back({k * 1000, k * 1000 + graph_us});
    return cycles;
}
std::vector<CycleTimes> with(std::vector<CycleTimes> cycles, std::vector<std::pair<int, CycleTimes>> changed)
{
    for (auto const& [k, times] : changed)
        cycles[static_cast<std::size_t>(k)] = times;
    return cycles;
}
std::vector<CycleTimes> without(std::vector<CycleTimes> cycles, int from, int to)
{
    cycles.erase(cycles.begin() + from, cycles.begin() + to);
    return cycles;
}
std::vector<CycleTimes> shifted(std::vector<CycleTimes> cycles, int from, std::int64_t by_us)
{
    for (std::size_t k = static_cast<std::size_t>(from); k < cycles.size(); ++k)
        cycles[k] = {cycles[k].begin_us + by_us, cycles[k].done_us + by_us};
    return cycles;
}

TEST(XrunJudgement, LateCyclesAreExcusedOnlyByStopsThatExplainThem)
{
    auto late = [](LateCycle::Kind kind) {
        return [kind](std::int64_t from, std::int64_t to, std::int64_t excess, std::int64_t stopped,
                      bool excused) { return LateCycle{kind, from, to, excess, stopped, excused}; };
    };
    auto const over = late(LateCycle::Kind::overrun), gap = late(LateCycle::Kind::gap);
    struct Case {
        char const* what;
        std::vector<CycleTimes> cycles;
        std::vector<Stall> stalls;
        std::vector<std::int64_t> xruns;
        std::size_t late, unexcused;
        std::optional<LateCycle> first; // every field of the first judged late cycle
        std::vector<std::int64_t> unexplained = {};
        std::int64_t judged_from = 0, judged_until = INT64_MAX;
        std::int64_t after_stop = 0;
    };
    auto const over40 = with(steady(100), {{40, {40000, 41700}}});  // 700 past the next wake-up
    auto const over40b = with(steady(100), {{40, {40000, 42500}}}); // 1500 past it
    auto const short_over = [](int k) { return std::pair{k, CycleTimes{k * 1000, k * 1000 + 1050}}; };
    auto const three_short =
        with(steady(100), {short_over(10), short_over(60), short_over(70), {80, {80000, 81200}}});
    auto const four_short =
        with(steady(100), {short_over(10), short_over(20), short_over(60), short_over(70)});
    // The cycle due at 50000 wakes at 52800 and the schedule restarts there: of its 2800 us, stops
    // must cover all but a period, and at least the 800 us the graph had spare.
    auto const woke_late = shifted(steady(100), 50, 2800);
    // Cycle 50 never reached the sink; the server kept its clock. Cycle 49 left 800 us of its period
    // spare: a stop that long at the boundary loses a whole period.
    auto const skipped = without(steady(100), 50, 51);
    auto const skipped_full = with(skipped, {{49, {49000, 49950}}}); // nothing spare: any stop will do
    // 50 cycles missing: a client held the graph and the server's recovery took the rest.
    auto const hole = without(steady(150), 50, 100);
    // Woke 450 us late keeping the schedule: the next cycle 550 us after it makes a graph of 950 us
    // late by 400. The stop that delayed the wake-up explains it.
    auto const woke_600_late = shifted(steady(100), 50, 600); // the stops need not last the spare 800
    auto const woke_450_late = with(steady(10), {{4, {4450, 5400}}});
    auto const over40_300 = with(steady(200), {{40, {40000, 41300}}});
    // The cycle due at 50000 woke at 51700 and the one due at 51000 followed at once.
    auto const caught_up = with(steady(100), {{50, {51700, 51800}}, {51, {51710, 52000}}});
    auto const two_over = with(steady(200), {{40, {40000, 42000}}, {180, {180000, 182000}}});
    // clang-format off
    Case const cases[] = {
        {"on time", steady(100), {}, {}, 0, 0, {}},
        // Stopped: 100 us seen plus one witness period before it. The xrun is this late cycle's.
        {"machine running", over40, {{40500, 40600}}, {41900}, 1, 1, over(40000, 41700, 700, 200, false)},
        {"machine stopped", over40, {{40150, 40800}}, {42000}, 1, 0, over(40000, 41700, 700, 750, true)},
        {"100 overruns of 50 us", steady(100, 1050), {}, {}, 100, 100, over(0, 1050, 50, 0, false)},
        {"3 within the slack, 1 beyond", three_short, {}, {}, 4, 1, over(10000, 11050, 50, 0, true)},
        {"4 within the slack", four_short, {}, {}, 4, 4, over(10000, 11050, 50, 0, false)},
        {"short of late - slack", over40b, {{40300, 41500}}, {}, 1, 1, over(40000, 42500, 1500, 1300, false)},
        {"late - slack", over40b, {{40300, 41600}}, {}, 1, 0, over(40000, 42500, 1500, 1400, true)},
        {"late - slack - the cycle's work", over40b, {{40300, 41100}}, {}, 1, 0,
         over(40000, 42500, 1500, 900, true), {}, 0, INT64_MAX, 500},
        {"two cores add up", over40b, {{40300, 41000}, {41200, 41800}}, {}, 1, 0,
         over(40000, 42500, 1500, 1500, true)},
        {"woke late, no stop", woke_late, {}, {52900}, 1, 1, gap(49000, 52800, 2800, 0, false)},
        {"woke late, enough", woke_late, {{50100, 51800}}, {}, 1, 0, gap(49000, 52800, 2800, 1800, true)},
        {"woke late, adding up", woke_late, {{50100, 51500}, {52400, 52600}}, {}, 1, 0,
         gap(49000, 52800, 2800, 1800, true)},
        {"woke late, too short", woke_late, {{50100, 51500}}, {}, 1, 1, gap(49000, 52800, 2800, 1500, false)},
        {"woke late, stops outside", woke_late, {{47000, 48900}, {52900, 54000}}, {}, 1, 1,
         gap(49000, 52800, 2800, 0, false)},
        {"woke late, caught up, stop seen in part", caught_up, {{50300, 50600}}, {}, 2, 0,
         gap(49000, 51700, 1700, 400, true)},
        {"woke late, caught up, no stop", caught_up, {}, {}, 2, 1, gap(49000, 51700, 1700, 0, false)},
        {"1.5 periods is on time", shifted(steady(10), 5, 500), {}, {}, 0, 0, {}},
        {"skipped, no stop", skipped, {}, {}, 1, 1, gap(49000, 51000, 1000, 0, false)},
        {"skipped, the spare", skipped, {{49250, 49950}}, {}, 1, 0, gap(49000, 51000, 1000, 800, true)},
        {"skipped, in the gap", skipped, {{50100, 50800}}, {}, 1, 0, gap(49000, 51000, 1000, 800, true)},
        {"skipped, adding up", skipped, {{49300, 49500}, {50000, 50500}}, {}, 1, 0,
         gap(49000, 51000, 1000, 900, true)},
        {"skipped, too short", skipped, {{49500, 49800}}, {}, 1, 1, gap(49000, 51000, 1000, 400, false)},
        {"skipped, late and short", skipped, {{50300, 50800}}, {}, 1, 1, gap(49000, 51000, 1000, 600, false)},
        {"skipped, none spare", skipped_full, {{50100, 50110}}, {}, 1, 0, gap(49000, 51000, 1000, 110, true)},
        {"hole, 20 of 50 ms", hole, {{70000, 90000}}, {}, 1, 1, gap(49000, 100000, 50000, 20100, false)},
        {"hole, long stops", hole, {{49900, 98800}}, {}, 1, 0, gap(49000, 100000, 50000, 49000, true)},
        {"woke 600 us late: at most the lateness", woke_600_late, {{50100, 50520}}, {}, 1, 0,
         gap(49000, 50600, 600, 520, true)},
        {"woke 450 us late", woke_450_late, {{4050, 4420}}, {}, 1, 0, over(4000, 5400, 400, 420, true)},
        // Xruns before the late cycle, during it, after it, at the edge of the reporting delay, too late.
        {"xruns", over40_300, {{40000, 41300}}, {39900, 40900, 41350, 91300, 91400, 150000}, 1, 0,
         over(40000, 41300, 300, 1300, true), {39900, 91400, 150000}},
        // Outside the judged stretch late cycles only explain xruns: 61000 follows the first overrun.
        {"outside", two_over, {}, {30000, 61000, 175000}, 0, 0, {}, {}, 60000, 170000},
        {"began inside", two_over, {}, {}, 1, 1, over(180000, 182000, 1000, 0, false), {}, 60000, 181000},
    };
    // clang-format on
    auto fields = [](LateCycle const& c) {
        return std::tuple(static_cast<int>(c.kind), c.from_us, c.to_us, c.excess_us, c.stopped_us, c.excused);
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        XrunTimingRules const rules{.period_us = 1000.0,
                                    .witness_period_us = 100,
                                    .slack_us = 100,
                                    .after_stop_us = c.after_stop,
                                    .judged_from_us = c.judged_from,
                                    .judged_until_us = c.judged_until,
                                    .xrun_report_delay_us = 50000};
        XrunJudgement const judgement = judge_xruns(c.cycles, c.stalls, c.xruns, rules);
        ASSERT_EQ(judgement.late.size(), c.late);
        EXPECT_EQ(judgement.unexcused(), c.unexcused);
        if (c.first) {
            EXPECT_EQ(fields(judgement.late.at(0)), fields(*c.first));
        }
        EXPECT_EQ(judgement.unexplained_xruns, c.unexplained);
    }
}

// The server runs above the plug-in's own worker threads (real-time priorities 10 and 20), as audio
// systems usually run it; its clients, jalv among them, get 75.
constexpr char const* server_priority = "80";

TEST(JalvOnJack, RunsTenSecondsAt128FramesWithoutXrunOrCrash)
{
    if (std::string(CORVELLA_JALV_PROGRAM).empty() || std::string(CORVELLA_JACKD_PROGRAM).empty() ||
        access(CORVELLA_JALV_PROGRAM, X_OK) != 0 || access(CORVELLA_JACKD_PROGRAM, X_OK) != 0)
        GTEST_SKIP() << "jackd or jalv is not installed (scripts/install-deps installs them)";
    // Instrumented for races, the plug-in's real-time workers run many times slower and starve
    // jalv's own time-shared threads, so jalv cannot even read its input in time. The threads the
    // formats share are raced in process (ParameterMirror, the host and engine tests).
    if (std::string_view(CORVELLA_SANITIZER_RUNTIME).find("tsan") != std::string_view::npos)
        GTEST_SKIP()
            << "not run in the ThreadSanitizer build: the release and AddressSanitizer builds run it";

    TempDir folder("corvella-jack-");
    std::filesystem::path const ir_file = folder / "ir.wav";
    write_wav(ir_file, make_impulse_response(4800, 61), plugin_test_rate);
    auto logs = [&] { return read_text(folder / "jalv.log") + read_text(folder / "jackd.log"); };

    // A saved state with the IR, for jalv to load at start.
    {
        set_latency_setting(0);
        auto plugin = lv2_instance(128);
        ASSERT_TRUE(plugin->loaded());
        plugin->set_path(std::string(CORVELLA_LV2_URI) + "#ir1_file_a", ir_file.string());
        lv2_render(*plugin, Stereo{}, 128);
        ASSERT_TRUE(plugin->save_state_file(folder / "state"));
    }

    // Real-time scheduling where the system allows it (as a user's JACK runs); else without.
    std::string const server = "corvella-test-" + std::to_string(getpid());
    std::unique_ptr<Child> jackd; // outlives the clients, which close first
    Sink sink;
    Source source;
    for (bool realtime : {true, false}) {
        std::vector<std::string> args{CORVELLA_JACKD_PROGRAM};
        if (realtime)
            args.insert(args.end(), {"--realtime", "-P", server_priority});
        else
            args.emplace_back("--no-realtime");
        args.insert(args.end(), {"-n", server, "-d", "dummy", "-r", "48000", "-p", "128"});
        jackd = std::make_unique<Child>(args, folder / "jackd.log", false);
        for (auto waited = 0ms; waited < 10s && sink.client == nullptr && jackd->running(); waited += 100ms) {
            sink.client = open_client("corvella-sink", server);
            if (sink.client == nullptr) std::this_thread::sleep_for(100ms);
        }
        if (sink.client != nullptr) break;
        jackd->stop(0ms);
    }
    if (sink.client == nullptr)
        GTEST_SKIP() << "jackd could not start here:\n" << read_text(folder / "jackd.log");
    source.client = open_client("corvella-source", server);
    ASSERT_NE(source.client, nullptr) << read_text(folder / "jackd.log");
    ASSERT_EQ(jack_get_buffer_size(sink.client), 128u);
    sink.rate = jack_get_sample_rate(sink.client);
    double const period_us = 128.0 * 1e6 / sink.rate;
    bool const realtime_server = jack_is_realtime(sink.client) != 0;

    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        source.out[c] = jack_port_register(source.client, ("out_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                           JackPortIsOutput, 0);
        sink.in[c] =
            jack_port_register(sink.client, ("in_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        ASSERT_NE(source.out[c], nullptr);
        ASSERT_NE(sink.in[c], nullptr);
    }
    jack_set_process_callback(source.client, Source::process, &source);
    jack_set_process_callback(sink.client, Sink::process, &sink);
    jack_set_xrun_callback(sink.client, Sink::xrun, &sink);
    ASSERT_EQ(jack_activate(source.client), 0);
    ASSERT_EQ(jack_activate(sink.client), 0);

    Child jalv(
        {CORVELLA_JALV_PROGRAM, "-x", "-n", "corvella", "-l", (folder / "state").string(), CORVELLA_LV2_URI},
        folder / "jalv.log", true, jalv_environment(server));

    // Wire source → plug-in → sink. jalv registers its ports before it activates its client, and the
    // server refuses connections to an inactive client: try until they take.
    auto wire = [&](jack_client_t* client, std::string const& from, std::string const& to) {
        for (auto waited = 0ms; waited < 60s && jalv.running(); waited += 100ms) {
            if (jack_connect(client, from.c_str(), to.c_str()) == 0) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    };
    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        ASSERT_TRUE(wire(source.client, jack_port_name(source.out[c]), "corvella:lv2_audio_in_" + n))
            << logs();
        ASSERT_TRUE(wire(sink.client, "corvella:lv2_audio_out_" + n, jack_port_name(sink.in[c]))) << logs();
    }

    // Judging starts once the graph is wired and settled (new clients and connections may cost a
    // period). Cycles and stops are recorded from before, so an xrun just after finds its cause.
    StallWitness witness;
    sink.recording = true;
    std::this_thread::sleep_for(1s);
    std::int64_t const judged_from = monotonic_us();
    long const frames_at_start = sink.frames_seen;
    sink.stretch = 0;
    for (int tenth = 0; tenth < 100; ++tenth) {
        if (tenth == 40) {
            sink.stretch = -1;
            jalv.write_line("master_mix = 0.35");
        }
        if (tenth == 50) sink.stretch = 1;
        std::this_thread::sleep_for(100ms);
    }
    sink.stretch = -1;
    long const frames = sink.frames_seen - frames_at_start;
    bool const survived = jalv.running();
    sink.recording = false;
    std::int64_t const judged_until = monotonic_us(); // closing the clients costs cycles too
    witness.stop();

    jack_deactivate(sink.client);
    jack_deactivate(source.client);
    jack_client_close(sink.client);
    sink.client = nullptr;
    jack_client_close(source.client);
    source.client = nullptr;
    jalv.close_stdin(); // console jalv ends at the end of its input
    jalv.stop(5s);
    jackd->stop(0ms);

    XrunTimingRules rules;
    rules.period_us = period_us;
    rules.witness_period_us = StallWitness::period_us;
    rules.slack_us = StallWitness::period_us;
    rules.judged_from_us = judged_from;
    rules.judged_until_us = judged_until;
    std::vector<std::int64_t> const xrun_times = sink.xrun_times();
    std::vector<Stall> const stalls = witness.stalls();
    std::vector<CycleTimes> const cycles = sink.cycle_times();
    if (!cycles.empty()) {
        std::vector<std::int64_t> work;
        for (CycleTimes const& c : cycles)
            work.push_back(c.done_us - c.begin_us);
        std::nth_element(work.begin(), work.begin() + work.size() / 2, work.end());
        rules.after_stop_us = work[work.size() / 2];
    }
    XrunJudgement const judgement = judge_xruns(cycles, stalls, xrun_times, rules);
    auto const reported = std::count_if(xrun_times.begin(), xrun_times.end(), [&](std::int64_t t) {
        return t >= judged_from && t <= judged_until;
    });
    std::int64_t stopped_total = 0;
    for (Stall const& s : stalls)
        if (s.to_us >= judged_from && s.from_us <= judged_until) stopped_total += s.to_us - s.from_us;
    std::printf("[ jack     ] %s server, %s witnesses: %ld xruns reported, %zu late cycles (%zu excused), "
                "machine stopped %.1f ms in total over all cores\n",
                realtime_server ? "real-time" : "time-sharing",
                witness.realtime() ? "real-time" : "time-sharing", static_cast<long>(reported),
                judgement.late.size(), judgement.late.size() - judgement.unexcused(),
                static_cast<double>(stopped_total) * 1e-3);

    std::string const jalv_log = read_text(folder / "jalv.log");
    EXPECT_TRUE(survived) << jalv_log;
    // A sanitizer build runs the plug-in several times slower: its timing says nothing about the
    // product's, so there the judgement is only reported.
    if (std::string_view(CORVELLA_SANITIZER_RUNTIME).empty()) {
        std::string const why = describe(judgement, cycles, stalls, judged_from, period_us);
        EXPECT_EQ(judgement.unexcused(), 0u) << "late cycles the machine's own stops do not explain: the "
                                                "plug-in (or its threads) held the graph\n"
                                             << why << read_text(folder / "jackd.log");
        EXPECT_TRUE(judgement.unexplained_xruns.empty()) << why << read_text(folder / "jackd.log");
    } else {
        std::printf(
            "[ jack     ] sanitizer build: %zu unexcused late cycles, %zu unexplained xruns, not judged\n",
            judgement.unexcused(), judgement.unexplained_xruns.size());
    }
    // The server ran through the whole time; a busy machine can hold an instrumented graph back
    // for seconds, so there only most of it.
    bool const sanitized = !std::string_view(CORVELLA_SANITIZER_RUNTIME).empty();
    EXPECT_GE(frames, (sanitized ? 6 : 9) * 48000);
    EXPECT_FALSE(sink.non_finite.load());
    EXPECT_GT(sink.peak.load(), 0.01f) << "the plug-in's output reached the sink";
    EXPECT_NE(jalv_log.find("master_mix = 0.350000"), std::string::npos) << jalv_log;
    // The sound against the in-process host's render of the same tone bursts: the plug-in ran in real
    // time as it does offline, and the change on stdin reached it.
    for (int part : {0, 1}) {
        float const mix = part == 0 ? 1.0f : 0.35f;
        double const expected = mean_square(
            reference_render(tone_bursts(reference_frames), ir_file.string(), {{"master_mix", mix}}, 128),
            reference_frames / 2);
        EXPECT_NEAR(sink.mean_square(part), expected, 0.03 * expected) << "master_mix " << mix;
    }
    EXPECT_TRUE(WIFEXITED(jalv.exit_status()) || WIFSIGNALED(jalv.exit_status()));
    if (WIFSIGNALED(jalv.exit_status())) {
        int const sig = WTERMSIG(jalv.exit_status());
        EXPECT_TRUE(sig == SIGTERM || sig == SIGKILL) << "jalv died of signal " << sig << "\n" << jalv_log;
    }
}

} // namespace
} // namespace corvella::test
