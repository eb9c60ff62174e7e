// The LV2 bundle in a real JACK graph: jalv (console) on a dummy-driver jackd that this test
// starts and stops by PID, 10 s at 128-frame periods with a parameter changed on jalv's stdin. A
// JACK client of the test's own feeds the plug-in, reads its output and counts xruns.

#include "lv2_host.h"
#include "plugin_test_support.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <functional>
#include <memory>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvella::test {
namespace {

using namespace std::chrono_literals;

// A child process started with fork/exec; stopped by its PID only.
class Child {
public:
    Child(std::vector<std::string> const& argv, std::filesystem::path const& log, bool with_stdin,
          std::vector<std::pair<std::string, std::string>> const& environment = {})
    {
        // Everything the child needs is prepared before fork(): after it, only exec-safe calls.
        std::vector<std::string> env_strings;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string const entry = *e;
            bool overridden = false;
            for (auto const& [name, value] : environment)
                overridden = overridden || entry.starts_with(name + "=");
            if (!overridden) env_strings.push_back(entry);
        }
        for (auto const& [name, value] : environment)
            env_strings.push_back(name + "=" + value);
        std::vector<char*> envp, args;
        for (auto& e : env_strings)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argv_copy = argv;
        for (auto& a : argv_copy)
            args.push_back(a.data());
        args.push_back(nullptr);
        std::string const log_path = log.string();

        int in_pipe[2] = {-1, -1};
        if (with_stdin && pipe(in_pipe) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            int const out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            if (with_stdin) {
                dup2(in_pipe[0], 0);
                close(in_pipe[1]);
            } else {
                int const null = open("/dev/null", O_RDONLY);
                dup2(null, 0);
            }
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
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
        pid_t const r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exit_status_ = status;
            pid_ = -1;
            return false;
        }
        return true;
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
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The test's own JACK client: a tone burst into the plug-in, the plug-in's output measured.
struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t* out[2] = {};
    jack_port_t* in[2] = {};
    std::atomic<int> xruns{0};
    std::atomic<long> frames_seen{0};
    std::atomic<bool> non_finite{false};
    std::atomic<float> peak{0.0f};
    unsigned phase = 0;

    static int process(jack_nframes_t frames, void* self)
    {
        auto* p = static_cast<Probe*>(self);
        for (int c = 0; c < 2; ++c) {
            auto* o = static_cast<float*>(jack_port_get_buffer(p->out[c], frames));
            auto const* i = static_cast<float const*>(jack_port_get_buffer(p->in[c], frames));
            float local_peak = p->peak.load(std::memory_order_relaxed);
            for (jack_nframes_t n = 0; n < frames; ++n) {
                unsigned const t = p->phase + n;
                o[n] = (t / 4800) % 2 == 0 ? 0.3f * std::sin(0.05f * static_cast<float>(t)) : 0.0f;
                if (!std::isfinite(i[n]))
                    p->non_finite = true;
                else
                    local_peak = std::max(local_peak, std::fabs(i[n]));
            }
            p->peak.store(local_peak, std::memory_order_relaxed);
        }
        p->phase += frames;
        p->frames_seen += frames;
        return 0;
    }
    static int xrun(void* self)
    {
        ++static_cast<Probe*>(self)->xruns;
        return 0;
    }

    int xruns_during(std::chrono::seconds span, std::function<void(int)> const& every_tenth = {})
    {
        xruns = 0;
        for (int tenth = 0; tenth < span.count() * 10; ++tenth) {
            if (every_tenth) every_tenth(tenth);
            std::this_thread::sleep_for(100ms);
        }
        return xruns;
    }

    ~Probe()
    {
        if (client != nullptr) {
            jack_deactivate(client);
            jack_client_close(client);
        }
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

TEST(JalvOnJack, RunsTenSecondsAt128FramesWithoutXrunOrCrash)
{
    if (std::string(CORVELLA_JALV_PROGRAM).empty() || std::string(CORVELLA_JACKD_PROGRAM).empty() ||
        access(CORVELLA_JALV_PROGRAM, X_OK) != 0 || access(CORVELLA_JACKD_PROGRAM, X_OK) != 0)
        GTEST_SKIP() << "jackd or jalv is not installed (scripts/install-deps installs them)";

    TempDir folder("corvella-jack-");
    std::filesystem::path const ir_file = folder / "ir.wav";
    write_wav(ir_file, make_impulse_response(4800, 61), plugin_test_rate);

    // A saved state with the IR, for jalv to load at start.
    {
        set_latency_setting(0);
        Lv2Instance plugin(CORVELLA_LV2_URI, plugin_test_rate, 128);
        ASSERT_TRUE(plugin.loaded());
        plugin.activate();
        plugin.set_path(std::string(CORVELLA_LV2_URI) + "#ir1_file_a", ir_file.string());
        std::vector<float> silence(128, 0.0f), l(128), r(128);
        float const* in[2] = {silence.data(), silence.data()};
        float* out[2] = {l.data(), r.data()};
        plugin.run(in, out, 128);
        ASSERT_TRUE(plugin.save_state_file(folder / "state"));
    }

    // Realtime scheduling where the system allows it (as a user's JACK runs); else without.
    std::string const server = "corvella-test-" + std::to_string(getpid());
    Probe probe;
    std::unique_ptr<Child> jackd;
    for (bool realtime : {true, false}) {
        std::vector<std::string> args{CORVELLA_JACKD_PROGRAM};
        if (!realtime) args.emplace_back("--no-realtime");
        for (char const* a : {"-n", server.c_str(), "-d", "dummy", "-r", "48000", "-p", "128"})
            args.emplace_back(a);
        jackd = std::make_unique<Child>(args, folder / "jackd.log", false);
        jack_status_t status{};
        for (auto waited = 0ms; waited < 10s && probe.client == nullptr && jackd->running();
             waited += 100ms) {
            probe.client = jack_client_open("corvella-probe",
                                            static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                            &status, server.c_str());
            if (probe.client == nullptr) std::this_thread::sleep_for(100ms);
        }
        if (probe.client != nullptr) break;
        jackd->stop(0ms);
    }
    if (probe.client == nullptr)
        GTEST_SKIP() << "jackd could not start here:\n" << read_text(folder / "jackd.log");
    ASSERT_EQ(jack_get_buffer_size(probe.client), 128u);

    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        probe.out[c] = jack_port_register(probe.client, ("out_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsOutput, 0);
        probe.in[c] = jack_port_register(probe.client, ("in_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsInput, 0);
    }
    jack_set_process_callback(probe.client, Probe::process, &probe);
    jack_set_xrun_callback(probe.client, Probe::xrun, &probe);
    ASSERT_EQ(jack_activate(probe.client), 0);

    Child jalv(
        {CORVELLA_JALV_PROGRAM, "-x", "-n", "corvella", "-l", (folder / "state").string(), CORVELLA_LV2_URI},
        folder / "jalv.log", true, jalv_environment(server));

    // Wait for the plug-in's ports, then wire the probe around it.
    bool connected = false;
    for (auto waited = 0ms; waited < 60s && !connected && jalv.running(); waited += 100ms) {
        connected = jack_port_by_name(probe.client, "corvella:lv2_audio_out_2") != nullptr;
        if (!connected) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(connected) << read_text(folder / "jalv.log");
    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        ASSERT_EQ(
            jack_connect(probe.client, jack_port_name(probe.out[c]), ("corvella:lv2_audio_in_" + n).c_str()),
            0);
        ASSERT_EQ(
            jack_connect(probe.client, ("corvella:lv2_audio_out_" + n).c_str(), jack_port_name(probe.in[c])),
            0);
    }

    // Counting starts once the graph is wired and settled: new clients and connections may cost a
    // period while the server rebuilds its graph.
    std::this_thread::sleep_for(1s);
    long const frames_at_start = probe.frames_seen;
    int const xruns = probe.xruns_during(10s, [&](int tenth) {
        if (tenth == 40) jalv.write_line("master_mix = 0.35");
    });
    long const frames = probe.frames_seen - frames_at_start;
    bool const survived = jalv.running();

    // Xruns with the plug-in working are ours only if the same graph keeps time with it bypassed:
    // a machine that cannot hold 128-frame periods at all cannot judge the plug-in.
    int control_xruns = 0;
    if (xruns > 0 && survived) {
        jalv.write_line("lv2_enabled = 0");
        std::this_thread::sleep_for(1s);
        control_xruns = probe.xruns_during(10s);
    }

    jack_deactivate(probe.client);
    jack_client_close(probe.client);
    probe.client = nullptr;
    jalv.close_stdin(); // console jalv ends at the end of its input
    jalv.stop(5s);
    jackd->stop(0ms);

    if (control_xruns > 0)
        GTEST_SKIP() << "this machine cannot hold 128-frame periods even with the plug-in bypassed (" << xruns
                     << " xruns working, " << control_xruns << " bypassed)";

    std::string const jalv_log = read_text(folder / "jalv.log");
    EXPECT_TRUE(survived) << jalv_log;
    EXPECT_EQ(xruns, 0) << "and none with the plug-in bypassed\n" << read_text(folder / "jackd.log");
    EXPECT_GE(frames, 9 * 48000); // the server ran through the whole time
    EXPECT_FALSE(probe.non_finite.load());
    EXPECT_GT(probe.peak.load(), 0.01f) << "the plug-in's output reached the probe";
    EXPECT_NE(jalv_log.find("master_mix"), std::string::npos) << jalv_log;
    EXPECT_TRUE(WIFEXITED(jalv.exit_status()) || WIFSIGNALED(jalv.exit_status()));
    if (WIFSIGNALED(jalv.exit_status())) {
        int const sig = WTERMSIG(jalv.exit_status());
        EXPECT_TRUE(sig == SIGTERM || sig == SIGKILL) << "jalv died of signal " << sig << "\n" << jalv_log;
    }
}

} // namespace
} // namespace corvella::test
