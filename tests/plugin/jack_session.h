#pragma once

// A real JACK graph for the LV2 bundle: a dummy-driver jackd started and stopped by PID, a source
// and a sink client of our own, and jalv (console) between them. The sink timestamps every cycle;
// witness threads record when the machine itself stopped, so that late cycles can be judged
// against the plug-in or excused (see judge_xruns). Used by the plug-in tests (a short run) and by
// bench/jack_heavy (ten minutes of the heaviest program).

#include <jack/jack.h>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvella::test {

using namespace std::chrono_literals;

std::int64_t monotonic_us();

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

// Each late cycle is judged against the witnessed stops within its stretch (see jack_session.cpp).
XrunJudgement judge_xruns(std::vector<CycleTimes> const& cycles, std::vector<Stall> const& stalls,
                          std::vector<std::int64_t> const& xrun_times, XrunTimingRules const& rules);

// One thread per core, pinned to it at the highest real-time priority below the kernel's own
// threads, sleeping to a deadline every 250 us: a late wake-up means no thread could run on that
// core in between, whatever its priority.
class StallWitness {
public:
    static constexpr std::int64_t default_period_us = 250;
    static constexpr std::int64_t threshold_us = 150;

    // `watching` false: no thread, no stop seen (to measure a run without the witnesses' own cost).
    // A longer `period_us` costs less and still sees every stop longer than it.
    explicit StallWitness(bool watching = true, std::int64_t period_us = default_period_us)
        : period_us_(std::max(period_us, 2 * threshold_us))
    {
        if (!watching) return;
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
    bool watching() const { return !cores_.empty(); }
    std::int64_t period_us() const { return period_us_; }
    bool realtime() const
    {
        return !cores_.empty() && std::all_of(cores_.begin(), cores_.end(), [](auto const& core) { return core->realtime; });
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
            due += period_us_;
            timespec const wake{static_cast<time_t>(due / 1000000), static_cast<long>(due % 1000000) * 1000};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
            std::int64_t const woke = monotonic_us();
            if (woke - due > threshold_us && core.count < core.stalls.size())
                core.stalls[core.count++] = {due, woke};
            if (woke - due > period_us_) due = woke;
        }
    }

    std::int64_t period_us_;
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

std::string read_text(std::filesystem::path const& file);
jack_client_t* open_client(char const* name, std::string const& server);

// The test signal: tone bursts, 100 ms on and 100 ms off at 48 kHz.
float tone_burst(unsigned t);

// Plays the tone bursts on both ports.
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
// summed per stretch of a run (`stretch`: 0 and 1 measured, -1 ignored).
struct Sink {
    static constexpr std::size_t xrun_capacity = 1 << 12;
    using Times = std::vector<std::atomic<std::int64_t>>;

    // Room for the timings of `cycle_capacity` cycles (1 << 13: 21 s at 128 frames).
    explicit Sink(std::size_t cycle_capacity = 1 << 13)
        : cycle_capacity(cycle_capacity), begin_us(cycle_capacity), done_us(cycle_capacity)
    {
    }
    Sink(Sink const&) = delete;
    Sink& operator=(Sink const&) = delete;

    std::size_t const cycle_capacity;

    jack_client_t* client = nullptr;
    jack_port_t* in[2] = {};
    double rate = 48000.0;

    std::atomic<bool> recording{false};
    Times begin_us, done_us, xrun_us = Times(xrun_capacity);
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
        if (s->recording.load(std::memory_order_relaxed) && k < s->cycle_capacity) {
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

// What the sink and the witnesses recorded over a run, judged between `from_us` and `until_us`
// with the witnesses' resolution as slack and the graph's median time per cycle as the work left
// after a stop.
struct JudgedRun {
    std::vector<CycleTimes> cycles;
    std::vector<Stall> stalls;
    std::vector<std::int64_t> xrun_times;
    XrunTimingRules rules;
    XrunJudgement judgement;
    std::vector<std::int64_t> work_us; // the graph's time in each judged cycle, sorted
    long reported_xruns = 0;           // within the judged stretch
    std::int64_t stopped_us = 0;       // the witnessed stops within it, all cores added
};
JudgedRun judge_run(Sink const& sink, StallWitness const& witness, double period_us, std::int64_t from_us,
                    std::int64_t until_us);
// The same for cycles timed by their runner (a paced loop in a benchmark), with no xrun reports.
JudgedRun judge_run(std::vector<CycleTimes> cycles, StallWitness const& witness, double period_us,
                    std::int64_t from_us, std::int64_t until_us);

// jalv's environment: the server's name, and the sanitizer runtime preloaded where the plug-in
// is instrumented (jalv is not).
std::vector<std::pair<std::string, std::string>> jalv_environment(std::string const& server);

// For a failure message: each unexcused late cycle with the cycles and the witnessed stops around
// it (times in ms from `origin_us`).
std::string describe(XrunJudgement const& judgement, std::vector<CycleTimes> const& cycles,
                     std::vector<Stall> const& stalls, std::int64_t origin_us, double period_us);

// The whole graph: jackd at `period` frames (real-time where the system allows it, as a user's
// JACK runs; else without), the source and the sink, then jalv with a saved state, wired
// source -> plug-in -> sink. Members close in reverse: jalv, the clients, then the server.
class JackGraph {
public:
    // The server runs above the plug-in's own worker threads (real-time priorities 10 and 20), as
    // audio systems usually run it; its clients, jalv among them, get 75.
    static constexpr char const* server_priority = "80";

    JackGraph(std::filesystem::path folder, std::size_t cycle_capacity = 1 << 13);
    ~JackGraph();
    JackGraph(JackGraph const&) = delete;
    JackGraph& operator=(JackGraph const&) = delete;

    // "" when the server runs with the source and the sink registered, else why not.
    std::string start_server(unsigned period = 128);
    // "" when jalv runs `uri` with the state in `state_folder` and is wired, else why not (with
    // the logs).
    std::string start_jalv(std::string const& uri, std::filesystem::path const& state_folder);
    // Deactivates and closes the clients, ends jalv (end of its input, then signals) and the server.
    void stop();

    std::string logs() const; // jalv's and jackd's output
    Sink& sink() { return *sink_; }
    Child* jalv() { return jalv_.get(); }
    double period_us() const { return period_us_; }
    bool realtime_server() const { return realtime_server_; }

private:
    std::filesystem::path folder_;
    std::string server_;
    std::unique_ptr<Child> jackd_;
    std::unique_ptr<Sink> sink_;
    Source source_;
    std::unique_ptr<Child> jalv_;
    double period_us_ = 0.0;
    bool realtime_server_ = false;
};

} // namespace corvella::test
