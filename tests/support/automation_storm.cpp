#include "support/automation_storm.h"

#include "host/bank_files.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "platform/settings_store.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"
#include "support/allocation_counter.h"
#include "support/message_recorder.h"
#include "support/wav_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <pthread.h>
#include <random>
#include <semaphore.h>
#include <thread>
#include <time.h>
#include <vector>

// Blocking calls made inside the audio callback: each lock that was already held (it had to wait),
// each condition wait, semaphore wait and sleep. The storm's audio thread raises the flag only
// around process(). ThreadSanitizer has interceptors of its own for these, so there nothing is
// counted.
namespace {
thread_local bool counting_waits = false;
std::atomic<long> counted_waits{0};
} // namespace

#if !defined(__SANITIZE_THREAD__)
namespace {
template <typename F>
F next_symbol(char const* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
using MutexFn = int (*)(pthread_mutex_t*);
using CondWaitFn = int (*)(pthread_cond_t*, pthread_mutex_t*);
using CondTimedWaitFn = int (*)(pthread_cond_t*, pthread_mutex_t*, timespec const*);
using NanosleepFn = int (*)(timespec const*, timespec*);
using ClockNanosleepFn = int (*)(clockid_t, int, timespec const*, timespec*);
using SemWaitFn = int (*)(sem_t*);
} // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* m)
{
    static MutexFn const lock = next_symbol<MutexFn>("pthread_mutex_lock");
    if (counting_waits) {
        static MutexFn const try_lock = next_symbol<MutexFn>("pthread_mutex_trylock");
        if (try_lock(m) == 0) return 0;
        counted_waits.fetch_add(1, std::memory_order_relaxed);
    }
    return lock(m);
}
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m)
{
    static CondWaitFn const wait = next_symbol<CondWaitFn>("pthread_cond_wait");
    if (counting_waits) counted_waits.fetch_add(1, std::memory_order_relaxed);
    return wait(c, m);
}
int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, timespec const* t)
{
    static CondTimedWaitFn const wait = next_symbol<CondTimedWaitFn>("pthread_cond_timedwait");
    if (counting_waits) counted_waits.fetch_add(1, std::memory_order_relaxed);
    return wait(c, m, t);
}
int nanosleep(timespec const* t, timespec* rest)
{
    static NanosleepFn const sleep = next_symbol<NanosleepFn>("nanosleep");
    if (counting_waits) counted_waits.fetch_add(1, std::memory_order_relaxed);
    return sleep(t, rest);
}
int clock_nanosleep(clockid_t clock, int flags, timespec const* t, timespec* rest)
{
    static ClockNanosleepFn const sleep = next_symbol<ClockNanosleepFn>("clock_nanosleep");
    if (counting_waits) counted_waits.fetch_add(1, std::memory_order_relaxed);
    return sleep(clock, flags, t, rest);
}
int sem_wait(sem_t* s)
{
    static SemWaitFn const wait = next_symbol<SemWaitFn>("sem_wait");
    if (counting_waits) counted_waits.fetch_add(1, std::memory_order_relaxed);
    return wait(s);
}
}
#endif

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double rate = 48000.0;
constexpr int max_block = 4096;

PlanarAudio decaying_noise(std::size_t frames, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    PlanarAudio ir(2, std::vector<float>(frames));
    for (auto& channel : ir)
        for (std::size_t i = 0; i < frames; ++i)
            channel[i] = noise(random) * std::exp(-5.0f * static_cast<float>(i) / static_cast<float>(frames));
    return ir;
}

struct Files {
    std::vector<std::string> good_irs, bad_irs, good_banks, bad_banks;
};

Files write_files(fs::path const& folder, std::vector<std::uint8_t> const& chunk)
{
    Files f;
    for (int i = 0; i < 3; ++i) {
        fs::path const p = folder / ("good " + std::to_string(i) + (i == 1 ? " L.wav" : ".wav"));
        write_planar_wav(p, decaying_noise(4800u * (1u + 3u * static_cast<unsigned>(i)), 10u + static_cast<unsigned>(i)),
                         48000);
        f.good_irs.push_back(p.string());
    }
    write_planar_wav(folder / "good 1 R.wav", decaying_noise(9600, 20), 44100);
    std::ofstream(folder / "corrupt.wav", std::ios::binary) << "RIFF\x24\x00\x00\x00WAVEfmt garbage that is no wave";
    std::ofstream(folder / "empty.aiff", std::ios::binary);
    f.bad_irs = {(folder / "corrupt.wav").string(), (folder / "empty.aiff").string(),
                 (folder / "missing" / "nowhere.wav").string(), (folder / "notes.txt").string()};
    std::ofstream(folder / "notes.txt") << "not audio";

    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    std::memcpy(static_cast<void*>(bank.data()), chunk.data(), std::min(chunk.size(), bank.size() * sizeof bank[0]));
    for (int p = 0; p < programs_per_bank; p += 5)
        std::snprintf(bank[static_cast<std::size_t>(p)].ir1_file_a, program_path_size, "%s",
                      f.good_irs[static_cast<std::size_t>(p) % 3].c_str());
    std::string error;
    fs::path const good_bank = folder / "storm.fxb";
    save_bank_file(good_bank.string(), bank.data(), error);
    f.good_banks.push_back(good_bank.string());
    std::string const bytes = bank_file_bytes(bank.data());
    std::ofstream(folder / "short.fxb", std::ios::binary) << bytes.substr(0, bytes.size() / 3);
    std::string mangled = bytes;
    std::mt19937 random(5);
    for (std::size_t i = 160; i < mangled.size(); i += 7) mangled[i] = static_cast<char>(random());
    std::ofstream(folder / "mangled.fxb", std::ios::binary) << mangled;
    f.bad_banks = {(folder / "short.fxb").string(), (folder / "missing.fxb").string()};
    f.good_banks.push_back((folder / "mangled.fxb").string()); // right size: taken, repaired
    return f;
}

} // namespace

StormReport run_automation_storm(StormOptions const& options)
{
    StormReport report;
    MessageRecorder recorder; // corrupt files and chunks are shown by the hundred: kept, not printed
    std::mt19937 seeds(options.seed);
    // The wait counter must see a sleep, or it is not in place (then nothing is claimed).
    counting_waits = true;
    std::this_thread::sleep_for(1us);
    counting_waits = false;
    bool const waits_counted = counted_waits.exchange(0) > 0;
    CheckPrefs();
    int latency = 0;
    set_latency_in_registry(latency);

    host::InProcessHost host;
    if (!host.create_instance(host::Variant::stereo_to_stereo, rate)) {
        report.failure = "no instance";
        return report;
    }
    Files const files = write_files(options.folder, host.get_chunk());
    std::vector<std::uint8_t> const good_chunk = host.get_chunk();
    host.start_timer();
    report.instances = 1;

    std::atomic<bool> stop{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> audio_idle{false};
    std::atomic<long> parameter_sets{0}, program_changes{0}, ir_loads{0}, chunk_restores{0}, bank_loads{0};

    // The audio thread: random block sizes at a 48 kHz device's pace; sparse clicks over quiet
    // noise, so that every IR and setting is heard.
    std::thread audio([&, seed = seeds()] {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> block(1, max_block);
        std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
        std::vector<float> in[2] = {std::vector<float>(max_block), std::vector<float>(max_block)};
        std::vector<float> out[2] = {std::vector<float>(max_block), std::vector<float>(max_block)};
        float const* ins[2] = {in[0].data(), in[1].data()};
        float* outs[2] = {out[0].data(), out[1].data()};
        long frames_done = 0, blocks = 0, non_finite = 0;
        float peak = 0.0f;
        AllocationCounter allocations;
        auto const start = std::chrono::steady_clock::now();
        while (!stop.load()) {
            if (paused.load()) {
                audio_idle = true;
                std::this_thread::sleep_for(1ms);
                continue;
            }
            audio_idle = false;
            int const frames = block(random);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < frames; ++i)
                    in[c][static_cast<std::size_t>(i)] = (frames_done + i) % 12000 == 0 ? 0.5f : noise(random);
            counting_waits = true;
            host.process(ins, outs, frames);
            counting_waits = false;
            for (auto const& channel : out)
                for (int i = 0; i < frames; ++i) {
                    float const v = channel[static_cast<std::size_t>(i)];
                    if (!std::isfinite(v)) ++non_finite;
                    else peak = std::max(peak, std::abs(v));
                }
            frames_done += frames;
            ++blocks;
            std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(frames_done) / rate));
        }
        report.blocks = blocks;
        report.audio_seconds = static_cast<double>(frames_done) / rate;
        report.non_finite_samples = non_finite;
        report.peak = peak;
        report.audio_allocations = allocations.count();
    });

    // Automation: one parameter about every millisecond, the program selector among them.
    std::thread automation([&, seed = seeds()] {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> which(0, keyed_parameter_count - 1);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        while (!stop.load()) {
            if (!paused.load() && host.set_parameter(parameter_at(which(random))->key, value(random))) ++parameter_sets;
            std::this_thread::sleep_for(1ms);
        }
    });

    // Files and state: IR files, program changes, chunks and banks, a few times a second.
    std::thread state([&, seed = seeds()] {
        std::mt19937 random(seed);
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 200));
            if (paused.load()) continue;
            switch (random() % 8) {
            case 0: case 1: case 2: {
                bool const good = random() % 3 != 0;
                auto const& list = good ? files.good_irs : files.bad_irs;
                host.set_ir_file(1 + static_cast<int>(random() % 2), static_cast<int>(random() % 2),
                                 list[random() % list.size()]);
                ++ir_loads;
                break;
            }
            case 3: case 4: {
                std::int32_t const program = static_cast<std::int32_t>(random() % programs_per_bank);
                host.set_custom_data(custom_data::current_program, &program, sizeof program);
                ++program_changes;
                break;
            }
            case 5: {
                std::vector<std::uint8_t> chunk = good_chunk;
                if (random() % 3 == 0) chunk.resize(random() % chunk.size());
                else if (random() % 2 == 0)
                    for (auto& b : chunk) b = static_cast<std::uint8_t>(random());
                host.set_chunk(chunk.data(), chunk.size());
                ++chunk_restores;
                break;
            }
            default: {
                bool const good = random() % 2 == 0;
                auto const& list = good ? files.good_banks : files.bad_banks;
                std::string const& path = list[random() % list.size()];
                host.set_custom_data(custom_data::load_bank_file, path.c_str(), path.size() + 1);
                ++bank_loads;
            }
            }
        }
    });

    // The latency toggles between instances: the audio thread and the others hold off while the
    // instance is replaced.
    auto const begin = std::chrono::steady_clock::now();
    auto next_swap = begin + std::chrono::duration<double>(options.instance_seconds);
    while (std::chrono::steady_clock::now() - begin < std::chrono::duration<double>(options.seconds)) {
        std::this_thread::sleep_for(50ms);
        if (std::chrono::steady_clock::now() < next_swap) continue;
        next_swap += std::chrono::duration<double>(options.instance_seconds);
        paused = true;
        while (!audio_idle.load()) std::this_thread::sleep_for(1ms);
        std::vector<std::uint8_t> const chunk = host.get_chunk();
        host.stop_timer();
        host.destroy_instance();
        latency = latency == 0 ? 512 : 0;
        set_latency_in_registry(latency);
        if (!host.create_instance(host::Variant::stereo_to_stereo, rate)) report.failure = "an instance failed";
        host.set_chunk(chunk.data(), chunk.size());
        host.start_timer();
        ++report.instances;
        paused = false;
    }
    stop = true;
    for (std::thread* t : {&audio, &automation, &state}) t->join();
    host.stop_timer();
    report.audio_waits = waits_counted ? counted_waits.load() : -1;
    report.parameter_sets = parameter_sets;
    report.program_changes = program_changes;
    report.ir_loads = ir_loads;
    report.chunk_restores = chunk_restores;
    report.bank_loads = bank_loads;

    // Afterwards: the start-up bank back, a known file into IR1 of its first program, heard as a
    // fresh instance with the same state hears it (no modulation runs in that program, so both
    // must agree sample for sample).
    host.set_chunk(good_chunk.data(), good_chunk.size());
    std::int32_t const first = 0;
    host.set_custom_data(custom_data::current_program, &first, sizeof first);
    host.set_ir_file(1, 0, files.good_irs[0]);
    host.set_parameter("ir1_toggle", 1.0f);
    host.set_parameter("master_mix", 1.0f);
    host.set_parameter("master_gain", 0.5f);
    host.wait_until_idle();
    std::vector<std::uint8_t> const final_chunk = host.get_chunk();
    host::InProcessHost fresh;
    fresh.create_instance(host::Variant::stereo_to_stereo, rate);
    fresh.set_chunk(final_chunk.data(), final_chunk.size());
    fresh.wait_until_idle();
    auto render = [](host::InProcessHost& h) {
        std::vector<float> in(24000), out_l(24000), out_r(24000);
        in[0] = 1.0f;
        // Let any tail of the storm die away first.
        std::vector<float> quiet(4096), sink_l(4096), sink_r(4096);
        float const* qs[2] = {quiet.data(), quiet.data()};
        float* ss[2] = {sink_l.data(), sink_r.data()};
        for (int i = 0; i < 240; ++i) h.process(qs, ss, 4096);
        float const* ins[2] = {in.data(), in.data()};
        float* outs[2] = {out_l.data(), out_r.data()};
        for (int done = 0; done < 24000; done += 400) {
            float const* bi[2] = {ins[0] + done, ins[1] + done};
            float* bo[2] = {outs[0] + done, outs[1] + done};
            h.process(bi, bo, 400);
        }
        out_l.insert(out_l.end(), out_r.begin(), out_r.end());
        return out_l;
    };
    // "Eventually": a slow machine (a sanitizer build) may still be fading out what the storm left
    // ringing, so a render that differs is tried again, a few times.
    for (int attempt = 0; attempt < 4 && report.final_difference >= 1e-4; ++attempt) {
        host.wait_until_idle();
        fresh.wait_until_idle();
        std::vector<float> const a = render(host), b = render(fresh);
        float peak = 0.0f, difference = 0.0f;
        for (std::size_t i = 0; i < a.size(); ++i) {
            peak = std::max(peak, std::abs(b[i]));
            difference = std::max(difference, std::abs(a[i] - b[i]));
        }
        report.final_difference = peak > 0.0f ? difference / peak : 1.0;
        report.final_render_silent = std::all_of(a.begin(), a.end(), [](float v) { return v == 0.0f; });
        report.still_processing =
            peak > 0.0f && std::all_of(a.begin(), a.end(), [](float v) { return std::isfinite(v); });
    }
    for (RecordedMessage const& message : recorder.messages()) {
        std::string const first_line = message.text.substr(0, message.text.find('\n'));
        if (report.messages.size() < 24 &&
            std::find(report.messages.begin(), report.messages.end(), first_line) == report.messages.end())
            report.messages.push_back(first_line);
    }
    return report;
}

} // namespace corvella::test
