#include "jack_session.h"

#include <fstream>
#include <sstream>

namespace corvella::test {

std::int64_t monotonic_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

namespace {

std::int64_t stopped_within(std::vector<Stall> const& stalls, std::int64_t from, std::int64_t to,
                            std::int64_t witness_period_us)
{
    std::int64_t total = 0;
    for (Stall const& s : stalls)
        total +=
            std::max<std::int64_t>(0, std::min(s.to_us, to) - std::max(s.from_us - witness_period_us, from));
    return total;
}

} // namespace

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

// Tone bursts, 100 ms on and 100 ms off at 48 kHz.
float tone_burst(unsigned t)
{
    return (t / 4800) % 2 == 0 ? 0.3f * std::sin(0.05f * static_cast<float>(t)) : 0.0f;
}

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


namespace {

JudgedRun judge(std::vector<CycleTimes> cycles, std::vector<std::int64_t> xrun_times, StallWitness const& witness,
                double period_us, std::int64_t from_us, std::int64_t until_us)
{
    JudgedRun run;
    run.cycles = std::move(cycles);
    run.stalls = witness.stalls();
    run.xrun_times = std::move(xrun_times);
    run.rules.period_us = period_us;
    run.rules.witness_period_us = witness.period_us();
    run.rules.slack_us = witness.period_us();
    run.rules.judged_from_us = from_us;
    run.rules.judged_until_us = until_us;
    if (!run.cycles.empty()) {
        std::vector<std::int64_t> all;
        for (CycleTimes const& c : run.cycles)
            all.push_back(c.done_us - c.begin_us);
        std::nth_element(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(all.size() / 2), all.end());
        run.rules.after_stop_us = all[all.size() / 2];
    }
    for (CycleTimes const& c : run.cycles)
        if (c.begin_us >= from_us && c.done_us <= until_us) run.work_us.push_back(c.done_us - c.begin_us);
    std::sort(run.work_us.begin(), run.work_us.end());
    run.judgement = judge_xruns(run.cycles, run.stalls, run.xrun_times, run.rules);
    run.reported_xruns = static_cast<long>(std::count_if(run.xrun_times.begin(), run.xrun_times.end(),
                                                         [&](std::int64_t t) { return t >= from_us && t <= until_us; }));
    for (Stall const& s : run.stalls)
        if (s.to_us >= from_us && s.from_us <= until_us) run.stopped_us += s.to_us - s.from_us;
    return run;
}

} // namespace

JudgedRun judge_run(Sink const& sink, StallWitness const& witness, double period_us, std::int64_t from_us,
                    std::int64_t until_us)
{
    return judge(sink.cycle_times(), sink.xrun_times(), witness, period_us, from_us, until_us);
}

JudgedRun judge_run(std::vector<CycleTimes> cycles, StallWitness const& witness, double period_us,
                    std::int64_t from_us, std::int64_t until_us)
{
    return judge(std::move(cycles), {}, witness, period_us, from_us, until_us);
}

JackGraph::JackGraph(std::filesystem::path folder, std::size_t cycle_capacity)
    : folder_(std::move(folder)), server_("corvella-test-" + std::to_string(getpid())),
      sink_(std::make_unique<Sink>(cycle_capacity))
{
}

JackGraph::~JackGraph()
{
    stop();
}

std::string JackGraph::start_server(unsigned period)
{
    for (bool realtime : {true, false}) {
        std::vector<std::string> args{CORVELLA_JACKD_PROGRAM};
        if (realtime)
            args.insert(args.end(), {"--realtime", "-P", server_priority});
        else
            args.emplace_back("--no-realtime");
        args.insert(args.end(), {"-n", server_, "-d", "dummy", "-r", "48000", "-p", std::to_string(period)});
        jackd_ = std::make_unique<Child>(args, folder_ / "jackd.log", false);
        for (auto waited = 0ms; waited < 10s && sink_->client == nullptr && jackd_->running(); waited += 100ms) {
            sink_->client = open_client("corvella-sink", server_);
            if (sink_->client == nullptr) std::this_thread::sleep_for(100ms);
        }
        if (sink_->client != nullptr) break;
        jackd_->stop(0ms);
    }
    if (sink_->client == nullptr) return "jackd could not start here:\n" + read_text(folder_ / "jackd.log");
    source_.client = open_client("corvella-source", server_);
    if (source_.client == nullptr) return "no source client:\n" + read_text(folder_ / "jackd.log");
    if (jack_get_buffer_size(sink_->client) != period) return "the server runs another period";
    sink_->rate = jack_get_sample_rate(sink_->client);
    period_us_ = period * 1e6 / sink_->rate;
    realtime_server_ = jack_is_realtime(sink_->client) != 0;

    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        source_.out[c] = jack_port_register(source_.client, ("out_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsOutput, 0);
        sink_->in[c] =
            jack_port_register(sink_->client, ("in_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (source_.out[c] == nullptr || sink_->in[c] == nullptr) return "a port could not be registered";
    }
    jack_set_process_callback(source_.client, Source::process, &source_);
    jack_set_process_callback(sink_->client, Sink::process, sink_.get());
    jack_set_xrun_callback(sink_->client, Sink::xrun, sink_.get());
    if (jack_activate(source_.client) != 0 || jack_activate(sink_->client) != 0) return "a client did not activate";
    return "";
}

std::string JackGraph::start_jalv(std::string const& uri, std::filesystem::path const& state_folder)
{
    jalv_ = std::make_unique<Child>(
        std::vector<std::string>{CORVELLA_JALV_PROGRAM, "-x", "-n", "corvella", "-l", state_folder.string(), uri},
        folder_ / "jalv.log", true, jalv_environment(server_));
    // jalv registers its ports before it activates its client, and the server refuses connections
    // to an inactive client: try until they take.
    auto wire = [&](jack_client_t* client, std::string const& from, std::string const& to) {
        for (auto waited = 0ms; waited < 60s && jalv_->running(); waited += 100ms) {
            if (jack_connect(client, from.c_str(), to.c_str()) == 0) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    };
    for (int c = 0; c < 2; ++c) {
        std::string const n = std::to_string(c + 1);
        if (!wire(source_.client, jack_port_name(source_.out[c]), "corvella:lv2_audio_in_" + n) ||
            !wire(sink_->client, "corvella:lv2_audio_out_" + n, jack_port_name(sink_->in[c])))
            return "jalv's ports could not be wired:\n" + logs();
    }
    return "";
}

void JackGraph::stop()
{
    for (jack_client_t* client : {sink_->client, source_.client})
        if (client != nullptr) jack_deactivate(client);
    for (jack_client_t** client : {&sink_->client, &source_.client})
        if (*client != nullptr) {
            jack_client_close(*client);
            *client = nullptr;
        }
    if (jalv_) {
        jalv_->close_stdin(); // console jalv ends at the end of its input
        jalv_->stop(5s);
    }
    if (jackd_) jackd_->stop(0ms);
}

std::string JackGraph::logs() const
{
    return read_text(folder_ / "jalv.log") + read_text(folder_ / "jackd.log");
}

} // namespace corvella::test
