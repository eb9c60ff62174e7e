// Our convolution side by side with zita-convolver: the same stereo noise, the same impulse
// responses and host blocks of 128 frames, processed offline as fast as possible under SCHED_OTHER.
// Per engine it reports process CPU seconds per second of audio (worker threads included), the
// caller's time per block as a share of the block period, zita's late cycles, and how far the two
// outputs differ once each engine's processing delay is taken out. With --paced the same runs
// follow paced, as a host runs them: each block at its real-time deadline, the caller at SCHED_FIFO
// and both engines' workers at real-time priority; both ratios are printed.
//
// Threads. Ours: the caller runs the direct FIR heads and the levels of up to 4096 samples; each
// fft_conv_worker_thread has one worker for its larger levels (two in true stereo, one in plain
// stereo). Zita: a level whose partition equals the host block runs on the caller, every other
// level on a thread of its own (512, 2048 and 8192 at both latencies here; at latency 1024 the
// caller only moves data). The count of threads each engine started is measured and printed.
#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "convolution/ipps.h"
#include "platform/message_box.h"
#include "platform/reproducibility.h"
#include "platform/threading.h"

#include <zita-convolver.h>

#include <dirent.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int sample_rate = 48000;
constexpr int block = 128; // host block, frames
constexpr double block_period = double(block) / sample_rate;
constexpr int zero_latency_partition = 128; // what the engine uses when "Latency" is 0

struct Workload {
    char const* name;  // for --workload
    char const* label; // for the table
    bool true_stereo;
    int ir_seconds;
    int latency; // the engine's "Latency" setting: 0, or 2N with no head
};

constexpr Workload workloads[] = {
    {"ts3-0", "true stereo, 3 s IR, latency 0", true, 3, 0},
    {"ts10-0", "true stereo, 10 s IR, latency 0", true, 10, 0},
    {"ts3-1024", "true stereo, 3 s IR, latency 1024", true, 3, 1024},
    {"ts10-1024", "true stereo, 10 s IR, latency 1024", true, 10, 1024},
    {"ps3-0", "plain stereo, 3 s IR, latency 0", false, 3, 0},
};
constexpr int headline_workload = 0; // the one ratio_vs_zita reports

// Paced runs: the calling thread at this real-time priority, and both engines' worker threads at
// the priority our engine gives its workers under a real-time audio thread (one below it, at most
// 20); 0 while running offline.
constexpr int paced_caller_priority = 70;
constexpr int paced_worker_priority = 20;
int worker_priority = 0;

// Paths of a true-stereo set, in the order of the four-channel IR buffer: A left, A right, B left,
// B right, that is L->L, L->R, R->L, R->R. Plain stereo uses L->L and R->R.
enum Path { path_ll, path_lr, path_rl, path_rr, path_count };

struct Impulses {
    std::vector<float> path[path_count];
    int length() const { return int(path[0].size()); }
};

// How the true-stereo workloads run on our side: one FFT convolver per side with one 2-channel
// head each (as the engine does), one four-path FFT convolver with the two heads, or the four-path
// FFT convolver and the four-path head.
enum class Fusion { none, fft_only, fft_and_head };

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpu_seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

int thread_count()
{
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

// Engines detach their threads, which leave a moment after being told to stop.
void wait_for_thread_count(int count)
{
    auto const start = std::chrono::steady_clock::now();
    while (thread_count() > count && seconds_since(start) < 2.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Decaying noise reaching -60 dB at its end, scaled to unit energy.
std::vector<float> decaying_noise(int length, unsigned seed)
{
    std::mt19937 engine(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> ir(std::size_t(length), 0.0f);
    double energy = 0.0;
    for (int i = 0; i < length; ++i) {
        float const envelope = float(std::exp(-6.907755 * double(i) / length));
        ir[std::size_t(i)] = envelope * noise(engine);
        energy += double(ir[std::size_t(i)]) * ir[std::size_t(i)];
    }
    float const scale = float(1.0 / std::sqrt(energy));
    for (float& x : ir)
        x *= scale;
    return ir;
}

Impulses make_impulses(int seconds)
{
    Impulses ir;
    for (int p = 0; p < path_count; ++p)
        ir.path[p] = decaying_noise(seconds * sample_rate, unsigned(1000 * seconds + p + 1));
    return ir;
}

struct StereoSignal {
    std::vector<float> channel[2];
    explicit StereoSignal(int frames = 0)
    {
        for (auto& c : channel)
            c.assign(std::size_t(frames), 0.0f);
    }
    int frames() const { return int(channel[0].size()); }
};

StereoSignal make_input(int frames)
{
    StereoSignal in(frames);
    std::mt19937 engine(20240611u);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (auto& c : in.channel)
        for (float& x : c)
            x = noise(engine);
    return in;
}

// Two aligned channels of one host block, as the engine's multichannel buffers are.
class BlockBuffer {
public:
    BlockBuffer()
    {
        for (auto& c : channel) {
            c = ippsMalloc_32f(block);
            if (c == nullptr) throw std::runtime_error("block buffer allocation failed");
            ippsSet_32f(0.0f, c, block);
        }
    }
    ~BlockBuffer()
    {
        for (auto& c : channel)
            ippsFree(c);
    }
    BlockBuffer(BlockBuffer const&) = delete;
    BlockBuffer& operator=(BlockBuffer const&) = delete;
    float* channel[2] = {};
};

class Engine {
public:
    virtual ~Engine() = default;
    // One host block of `block` frames per channel.
    virtual void process(float const* in_l, float const* in_r, float* out_l, float* out_r) = 0;
    // Samples by which the output trails the exact convolution.
    virtual int delay() const = 0;
    // Cycles in which part of the output was not ready (zita only; ours waits instead).
    virtual long late_cycles() const { return 0; }
};

// The engine's arrangement: "Latency" 0 gives partition_length 128 and 2N-tap direct FIR heads
// with the FFT convolvers fed from sample 2N on; "Latency" L gives N = L / 2 and no heads. True
// stereo is side A (the left input on both channels, IR L->L and L->R) plus side B (the right
// input on both channels, IR R->L and R->R), added channel to channel. Plain stereo is side A
// alone with the input (L, R) and IR (L->L, R->R).
class OurEngine final : public Engine {
public:
    OurEngine(Workload const& work, Impulses const& ir, int phase_base, Fusion fusion)
        : true_stereo_(work.true_stereo), fused_(fusion != Fusion::none && work.true_stereo),
          fused_head_(fusion == Fusion::fft_and_head && work.true_stereo && work.latency == 0),
          head_(work.latency == 0), n_(work.latency == 0 ? zero_latency_partition : work.latency / 2)
    {
        try {
            build(ir, phase_base);
        } catch (...) {
            release();
            throw;
        }
    }
    ~OurEngine() override { release(); }

    void process(float const* in_l, float const* in_r, float* out_l, float* out_r) override
    {
        // Input routing.
        if (true_stereo_) {
            ippsCopy_32f(in_l, input_[0].channel[0], block);
            ippsCopy_32f(in_l, input_[0].channel[1], block);
            ippsCopy_32f(in_r, input_[1].channel[0], block);
            ippsCopy_32f(in_r, input_[1].channel[1], block);
        } else {
            ippsCopy_32f(in_l, input_[0].channel[0], block);
            ippsCopy_32f(in_r, input_[0].channel[1], block);
        }
        ippsSet_32f(0.0f, out_.channel[0], block);
        ippsSet_32f(0.0f, out_.channel[1], block);
        // Heads first, then the FFT convolvers, side A before side B, as the processing frame runs them.
        float* paths[4] = {input_[0].channel[0], input_[0].channel[1], input_[1].channel[0],
                           input_[1].channel[1]};
        if (fused_head_) {
            true_stereo_fir_->process_not_replacing(paths, scratch_.channel, block);
            add_scratch();
        } else if (head_) {
            for (int side = 0; side < sides(); ++side) {
                fir_[side]->process_not_replacing(input_[side].channel, scratch_.channel, block);
                add_scratch();
            }
        }
        if (fused_) {
            true_stereo_fft_->process_not_replacing(paths, scratch_.channel, block);
            add_scratch();
            return_output(out_l, out_r);
            return;
        }
        for (int side = 0; side < sides(); ++side) {
            fft_[side]->process_not_replacing(input_[side].channel, scratch_.channel, block);
            add_scratch();
        }
        return_output(out_l, out_r);
    }

    int delay() const override { return head_ ? 0 : 2 * n_; }

private:
    int sides() const { return true_stereo_ ? 2 : 1; }

    void return_output(float* out_l, float* out_r) const
    {
        ippsCopy_32f(out_.channel[0], out_l, block);
        ippsCopy_32f(out_.channel[1], out_r, block);
    }

    void add_scratch()
    {
        ippsAdd_32f_I(scratch_.channel[0], out_.channel[0], block);
        ippsAdd_32f_I(scratch_.channel[1], out_.channel[1], block);
    }

    void build(Impulses const& ir, int phase_base)
    {
        // IR1-A section 1, then IR1-B section 1, with the engine's staggered phase offsets.
        static constexpr int phase_step[2] = {10912, 32736};
        static constexpr char const* failure[2] = {"FFT convolution thread worker 1a creation error",
                                                   "FFT convolution thread worker 1b creation error"};
        if (fused_) {
            // Both sides in one convolver, with side A's phase offset.
            void* handle = nullptr;
            if (!fft_conv_worker_thread_true_stereo::fft_conv_worker_thread_initialise_true_stereo(
                    &true_stereo_fft_, &handle, nullptr, n_))
                throw std::runtime_error(failure[0]);
            if (worker_priority > 0) corvella::promote_thread_to_realtime(handle, worker_priority);
            true_stereo_fft_->phase_offset = phase_base + phase_step[0];
        }
        for (int side = 0; side < sides() && !fused_; ++side) {
            void* handle = nullptr;
            if (!fft_conv_worker_thread::fft_conv_worker_thread_initialise(&fft_[side], &handle, nullptr, 2,
                                                                           n_))
                throw std::runtime_error(failure[side]);
            if (worker_priority > 0) corvella::promote_thread_to_realtime(handle, worker_priority);
            fft_[side]->phase_offset = phase_base + phase_step[side];
        }
        if (fused_head_)
            true_stereo_fir_ = new direct_fir_true_stereo(2 * n_);
        else if (head_)
            for (int side = 0; side < sides(); ++side)
                fir_[side] = new direct_fir(2, 2 * n_);

        for (int side = 0; side < sides(); ++side) {
            float const* pair[2];
            if (true_stereo_) {
                pair[0] = ir.path[side == 0 ? path_ll : path_rl].data();
                pair[1] = ir.path[side == 0 ? path_lr : path_rr].data();
            } else {
                pair[0] = ir.path[path_ll].data();
                pair[1] = ir.path[path_rr].data();
            }
            int const head_length = head_ ? 2 * n_ : 0;
            float* head[2] = {const_cast<float*>(pair[0]), const_cast<float*>(pair[1])};
            float* tail[2] = {head[0] + head_length, head[1] + head_length};
            if (head_ && !fused_head_) fir_[side]->load_ir_data(head, head_length);
            if (!fused_) fft_[side]->load_ir_data(tail, ir.length() - head_length);
        }
        if (fused_) {
            int const head_length = head_ ? 2 * n_ : 0;
            float* paths[4];
            int const order[4] = {path_ll, path_lr, path_rl, path_rr};
            for (int k = 0; k < 4; ++k)
                paths[k] = const_cast<float*>(ir.path[order[k]].data()) + head_length;
            true_stereo_fft_->load_ir_data(paths, ir.length() - head_length);
            for (int k = 0; k < 4; ++k)
                paths[k] -= head_length;
            if (fused_head_) true_stereo_fir_->load_ir_data(paths, head_length);
        }
    }

    // As the engine's destructor: delete the head, stop the worker, wait for it, delete.
    void release()
    {
        delete true_stereo_fir_;
        true_stereo_fir_ = nullptr;
        if (true_stereo_fft_ != nullptr) {
            true_stereo_fft_->trigger_kill();
            while (!true_stereo_fft_->has_thread_finished())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            delete true_stereo_fft_;
            true_stereo_fft_ = nullptr;
        }
        for (int side = 0; side < 2; ++side) {
            delete fir_[side];
            fir_[side] = nullptr;
            if (fft_[side] == nullptr) continue;
            fft_[side]->trigger_kill();
            while (!fft_[side]->has_thread_finished())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            delete fft_[side];
            fft_[side] = nullptr;
        }
    }

    bool true_stereo_;
    bool fused_;      // true stereo through one fft_conv_worker_thread_true_stereo
    bool fused_head_; // and its head through one direct_fir_true_stereo
    bool head_;
    int n_; // partition_length
    fft_conv_worker_thread* fft_[2] = {};
    fft_conv_worker_thread_true_stereo* true_stereo_fft_ = nullptr;
    direct_fir* fir_[2] = {};
    direct_fir_true_stereo* true_stereo_fir_ = nullptr;
    BlockBuffer input_[2]; // input A, input B
    BlockBuffer scratch_;  // convolver_scratch
    BlockBuffer out_;      // the section output
};

// zita-convolver in its fastest set-up (vector mode, measured FFTW plans as ours has), continuing
// through late cycles so they can be counted. The host block is its quantum; its smallest partition is 128 at
// latency 0 (no processing delay) and 512 at latency 1024, whose delay 2 * 512 - 128 = 896 is the largest
// that does not exceed ours.
//
// Synchronous, a cycle waits for any level thread that has not finished, as our audio thread waits
// for its worker: every cycle is computed in full and on time for the output. Asynchronous (its
// real-time call), a level that is not ready is skipped over and counted late; offline the caller
// outruns the level threads, so nearly every cycle is late, the output is wrong and the work still
// queued when the run ends is missing from the CPU time.
class ZitaEngine final : public Engine {
public:
    ZitaEngine(Workload const& work, Impulses const& ir, bool synchronous) : synchronous_(synchronous)
    {
        min_partition_ = work.latency == 0 ? block : work.latency / 2;
        delay_ = min_partition_ == block ? 0 : 2 * min_partition_ - block;
        unsigned const plans = corvella::reproducible_processing() ? 0 : Convproc::OPT_FFTW_MEASURE;
        proc_.set_options(Convproc::OPT_VECTOR_MODE | plans | Convproc::OPT_LATE_CONTIN);
        // Density: the share of the input/output matrix that has a response.
        float const density = work.true_stereo ? 1.0f : 0.5f;
        if (proc_.configure(2, 2, unsigned(ir.length()), block, unsigned(min_partition_), Convproc::MAXPART,
                            density) != 0)
            throw std::runtime_error("zita-convolver: configure failed");
        auto load = [&](unsigned in, unsigned out, Path path) {
            float* data = const_cast<float*>(ir.path[path].data());
            if (proc_.impdata_create(in, out, 1, data, 0, ir.length()) != 0)
                throw std::runtime_error("zita-convolver: impdata_create failed");
        };
        if (work.true_stereo) {
            load(0, 0, path_ll);
            load(0, 1, path_lr);
            load(1, 0, path_rl);
            load(1, 1, path_rr);
        } else {
            load(0, 0, path_ll);
            load(1, 1, path_rr);
        }
        if (proc_.start_process(worker_priority, worker_priority > 0 ? SCHED_FIFO : SCHED_OTHER) != 0)
            throw std::runtime_error("zita-convolver: start_process failed");
    }
    ~ZitaEngine() override
    {
        proc_.stop_process();
        while (!proc_.check_stop())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        proc_.cleanup();
    }

    void process(float const* in_l, float const* in_r, float* out_l, float* out_r) override
    {
        std::memcpy(proc_.inpdata(0), in_l, sizeof(float) * block);
        std::memcpy(proc_.inpdata(1), in_r, sizeof(float) * block);
        if (proc_.process(synchronous_) & Convproc::FL_LATE) ++late_;
        std::memcpy(out_l, proc_.outdata(0), sizeof(float) * block);
        std::memcpy(out_r, proc_.outdata(1), sizeof(float) * block);
    }

    int delay() const override { return delay_; }
    long late_cycles() const override { return late_; }

private:
    Convproc proc_;
    bool synchronous_;
    int min_partition_ = block;
    int delay_ = 0;
    long late_ = 0;
};

struct Run {
    double cpu_per_second = 0.0;    // whole process
    double caller_per_second = 0.0; // the calling (audio) thread alone
    long late = 0;
    int threads = 0;
    int delay = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t const n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

struct Side {
    std::vector<double> cpu, caller_cpu; // per round
    std::vector<float> block_seconds;
    long late = 0;
    int threads = 0;
    int delay = 0;
    bool measured = false;

    double median_cpu() const { return median(cpu); }
    double worst() const { return *std::max_element(block_seconds.begin(), block_seconds.end()); }
    double percentile(double p) const
    {
        std::vector<float> sorted = block_seconds;
        auto const rank = std::size_t(std::ceil(p * double(sorted.size()))) - 1;
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(rank), sorted.end());
        return sorted[rank];
    }
};

// Settles the engine's threads, then feeds the whole input block by block. When `record` is given,
// it receives the output.
template <class Make>
Run run_engine(Make make, StereoSignal const& in, std::vector<float>& block_seconds, StereoSignal* record,
               bool paced)
{
    int const before = thread_count();
    Run run;
    std::unique_ptr<Engine> engine = make();
    // Worker threads that have not started yet would be computed around (zita) or waited for
    // (ours) in the first blocks.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run.threads = thread_count() - before;
    run.delay = engine->delay();

    int const blocks = in.frames() / block;
    float scratch[2][block];
    double const cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    double const caller_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    auto const first_deadline = std::chrono::steady_clock::now();
    auto const period = std::chrono::duration<double>(block_period);
    for (int b = 0; b < blocks; ++b) {
        std::size_t const at = std::size_t(b) * block;
        float* out_l = record ? record->channel[0].data() + at : scratch[0];
        float* out_r = record ? record->channel[1].data() + at : scratch[1];
        // Paced: each block at its deadline, as an audio device asks for it.
        if (paced)
            std::this_thread::sleep_until(first_deadline + std::chrono::duration_cast<std::chrono::steady_clock::duration>(b * period));
        auto const start = std::chrono::steady_clock::now();
        engine->process(in.channel[0].data() + at, in.channel[1].data() + at, out_l, out_r);
        block_seconds.push_back(float(seconds_since(start)));
    }
    double const caller = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - caller_start;
    double const cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
    double const audio_seconds = double(blocks) * block_period;
    run.cpu_per_second = cpu / audio_seconds;
    run.caller_per_second = caller / audio_seconds;
    run.late = engine->late_cycles();
    engine.reset();
    wait_for_thread_count(before);
    return run;
}

// Relative error of `ours` against `zita` over the second half of the run, in dB, after shifting
// each by its own processing delay.
double relative_error_db(StereoSignal const& ours, int ours_delay, StereoSignal const& zita, int zita_delay)
{
    int const frames = ours.frames() - std::max(ours_delay, zita_delay);
    double error = 0.0, energy = 0.0;
    for (int c = 0; c < 2; ++c) {
        for (int i = frames / 2; i < frames; ++i) {
            double const a = ours.channel[c][std::size_t(i + ours_delay)];
            double const b = zita.channel[c][std::size_t(i + zita_delay)];
            error += (a - b) * (a - b);
            energy += b * b;
        }
    }
    if (energy <= 0.0) return 0.0;
    return error > 0.0 ? 10.0 * std::log10(error / energy) : -400.0;
}

struct Options {
    double duration = 20.0;
    int rounds = 5;
    bool profile_ours = false;
    bool estimate_plans = false;
    bool zita_async = false;
    bool paced = false;
    Fusion fusion = Fusion::none;
    std::string workload;
};

void usage(FILE* to)
{
    std::fprintf(to, "usage: compare_peers [--duration S] [--rounds R] [--workload NAME] [--profile-ours] "
                     "[--estimate-plans] [--zita-async] [--fused | --fused-fft-only] [--paced]\n"
                     "  --duration S     seconds of stereo noise per run (default 20)\n"
                     "  --rounds R       runs per engine and workload; CPU is the median (default 5)\n"
                     "  --workload NAME  only one of:");
    for (auto const& w : workloads)
        std::fprintf(to, " %s", w.name);
    std::fprintf(to, "\n  --profile-ours   run only our side (for perf or callgrind)\n"
                     "  --estimate-plans both sides' FFT plans made without timing (for callgrind: fast, repeatable)\n"
                     "  --zita-async     run zita's real-time call, which does not wait for late levels\n"
                     "  --fused          true stereo through the four-path FFT convolver and head\n"
                     "  --fused-fft-only the four-path FFT convolver with one head per side\n"
                     "  --paced          after the offline runs, the same again paced: blocks at their real-time\n"
                     "                   deadlines, the caller at SCHED_FIFO %d, both engines' workers at %d\n",
                 paced_caller_priority, paced_worker_priority);
}

bool parse_options(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string const arg = argv[i];
        bool const has_value = i + 1 < argc;
        if (arg == "--duration" && has_value) {
            char* end = nullptr;
            options.duration = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(options.duration >= 1.0 && options.duration <= 3600.0)) {
                std::fprintf(stderr, "compare_peers: --duration must be 1 to 3600 seconds\n");
                return false;
            }
        } else if (arg == "--rounds" && has_value) {
            char* end = nullptr;
            long const rounds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || rounds < 1 || rounds > 100) {
                std::fprintf(stderr, "compare_peers: --rounds must be 1 to 100\n");
                return false;
            }
            options.rounds = int(rounds);
        } else if (arg == "--workload" && has_value) {
            options.workload = argv[++i];
            bool const known = std::any_of(std::begin(workloads), std::end(workloads),
                                           [&](Workload const& w) { return options.workload == w.name; });
            if (!known) {
                std::fprintf(stderr, "compare_peers: unknown workload '%s'\n", options.workload.c_str());
                return false;
            }
        } else if (arg == "--profile-ours") {
            options.profile_ours = true;
        } else if (arg == "--estimate-plans") {
            options.estimate_plans = true;
        } else if (arg == "--fused") {
            options.fusion = Fusion::fft_and_head;
        } else if (arg == "--fused-fft-only") {
            options.fusion = Fusion::fft_only;
        } else if (arg == "--paced") {
            options.paced = true;
        } else if (arg == "--zita-async") {
            options.zita_async = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "compare_peers: unknown or incomplete option '%s'\n", arg.c_str());
            return false;
        }
    }
    return true;
}

double percent_of_period(double seconds)
{
    return 100.0 * seconds / block_period;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options)) {
        usage(stderr);
        return 2;
    }

    // Offline comparison: the default time-sharing policy, since a busy real-time loop is paused by
    // the kernel's real-time cap and would show as huge blocks.
    sched_param normal{};
    if (sched_setscheduler(0, SCHED_OTHER, &normal) != 0)
        std::fprintf(stderr, "compare_peers: could not select SCHED_OTHER; continuing\n");
    ippInit();
    // Every processing entry of the engine runs with denormals flushed; so do both engines here.
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    if (options.estimate_plans) corvella::use_reproducible_processing(true);

    std::atomic<int> messages{0};
    corvella::set_message_handler([&](std::string const& caption, std::string const& text, int) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        ++messages;
        return 0;
    });

    int const frames = int(options.duration * sample_rate) / block * block;
    StereoSignal const input = make_input(frames);
    // The engine draws this from rand(); fixed here so runs are repeatable.
    int const phase_base = int(std::mt19937(7u)() % 32768u) / 4;

    std::printf("compare_peers: %.1f s of stereo noise at %d Hz in blocks of %d frames (period %.3f ms), "
                "offline under SCHED_OTHER%s, %d round%s\n",
                double(frames) / sample_rate, sample_rate, block, 1000.0 * block_period,
                options.paced ? ", then paced" : "", options.rounds, options.rounds == 1 ? "" : "s");
    if (options.fusion == Fusion::none)
        std::printf("ours: fft_conv_worker_thread per side (+ %d-tap direct_fir head at latency 0), one "
                    "worker thread each\n",
                    2 * zero_latency_partition);
    else
        std::printf("ours: true stereo through one fft_conv_worker_thread_true_stereo (+ %s at latency "
                    "0), one worker thread; plain stereo as without fusion\n",
                    options.fusion == Fusion::fft_and_head ? "one 256-tap direct_fir_true_stereo head"
                                                           : "a 256-tap direct_fir head per side");
    if (!options.profile_ours)
        std::printf("zita-convolver %d.%d: OPT_VECTOR_MODE | OPT_FFTW_MEASURE | OPT_LATE_CONTIN, quantum %d, "
                    "%s calls, one thread per level larger than the block\n",
                    zita_convolver_major_version(), zita_convolver_minor_version(), block,
                    options.zita_async ? "asynchronous" : "synchronous");
    std::printf("\n");

    struct Result {
        Workload const* work;
        Side ours, zita;
        double error_db = 0.0;
        bool compared = false;
    };
    // One pass over the workloads, offline or paced; false when an engine failed.
    auto measure = [&](bool paced, std::vector<Result>& results) {
        worker_priority = paced ? paced_worker_priority : 0;
        if (paced) {
            sched_param fifo{};
            fifo.sched_priority = paced_caller_priority;
            if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &fifo) != 0) {
                std::fprintf(stderr, "compare_peers: the system does not permit SCHED_FIFO; the paced runs "
                                     "are skipped\n");
                return true;
            }
            std::printf("\npaced: each block at its deadline, caller SCHED_FIFO %d, workers SCHED_FIFO %d\n",
                        paced_caller_priority, paced_worker_priority);
        }
        std::printf("%-36s %-6s %5s %7s %8s %8s %9s %9s %6s\n", "workload", "engine", "delay", "threads",
                    "CPU s/s", "caller", "p99.9 blk", "worst blk", "late");
        for (auto const& work : workloads) {
            if (!options.workload.empty() && options.workload != work.name) continue;
            Result result;
            result.work = &work;
            Impulses const ir = make_impulses(work.ir_seconds);
            int const blocks = frames / block;
            result.ours.block_seconds.reserve(std::size_t(blocks) * std::size_t(options.rounds));
            result.zita.block_seconds.reserve(std::size_t(blocks) * std::size_t(options.rounds));
            StereoSignal ours_out, zita_out;

            auto run_ours = [&](int round) {
                if (round == 0 && !options.profile_ours) ours_out = StereoSignal(frames);
                Run const run = run_engine(
                    [&] { return std::make_unique<OurEngine>(work, ir, phase_base, options.fusion); }, input,
                    result.ours.block_seconds, round == 0 && !options.profile_ours ? &ours_out : nullptr, paced);
                result.ours.cpu.push_back(run.cpu_per_second);
                result.ours.caller_cpu.push_back(run.caller_per_second);
                result.ours.threads = run.threads;
                result.ours.delay = run.delay;
                result.ours.measured = true;
            };
            auto run_zita = [&](int round) {
                if (round == 0) zita_out = StereoSignal(frames);
                Run const run =
                    run_engine([&] { return std::make_unique<ZitaEngine>(work, ir, !options.zita_async); }, input,
                               result.zita.block_seconds, round == 0 ? &zita_out : nullptr, paced);
                result.zita.cpu.push_back(run.cpu_per_second);
                result.zita.caller_cpu.push_back(run.caller_per_second);
                result.zita.late += run.late;
                result.zita.threads = run.threads;
                result.zita.delay = run.delay;
                result.zita.measured = true;
            };

            try {
                for (int round = 0; round < options.rounds; ++round) {
                    // Alternate which engine goes first, so neither always runs on a warmer cache.
                    bool const ours_first = round % 2 == 0;
                    if (ours_first || options.profile_ours) run_ours(round);
                    if (!options.profile_ours) run_zita(round);
                    if (!ours_first && !options.profile_ours) run_ours(round);
                }
            } catch (std::exception const& e) {
                std::fprintf(stderr, "compare_peers: %s (%s)\n", e.what(), work.name);
                return false;
            }

            if (!options.profile_ours) {
                result.error_db = relative_error_db(ours_out, result.ours.delay, zita_out, result.zita.delay);
                result.compared = true;
            }

            auto print_side = [&](char const* label, char const* engine, Side const& side, bool late) {
                char late_text[24] = "-";
                if (late) std::snprintf(late_text, sizeof late_text, "%ld", side.late);
                std::printf("%-36s %-6s %5d %7d %8.4f %8.4f %8.1f%% %8.1f%% %6s\n", label, engine, side.delay,
                            side.threads, side.median_cpu(), median(side.caller_cpu),
                            percent_of_period(side.percentile(0.999)), percent_of_period(side.worst()),
                            late_text);
            };
            print_side(work.label, "ours", result.ours, false);
            if (result.zita.measured) print_side("", "zita", result.zita, true);
            if (result.compared)
                std::printf("%-36s ours vs zita over the second half: %.1f dB\n", "", result.error_db);
            std::fflush(stdout);
            results.push_back(std::move(result));
        }

        if (paced) {
            sched_param time_sharing{};
            pthread_setschedparam(pthread_self(), SCHED_OTHER, &time_sharing);
        }
        return true;
    };
    std::vector<Result> offline, paced;
    if (!measure(false, offline)) return 1;
    if (options.paced && !options.profile_ours && !measure(true, paced)) return 1;

    std::printf(
        "\nCPU s/s: process CPU seconds per second of audio, worker threads included; caller: the "
        "calling (audio) thread's\n"
        "  share of it (medians of the rounds). threads: threads the engine started.\n"
        "p99.9 blk, worst blk: wall time of one process call for a %d-frame block as a share of its "
        "period, over all\n"
        "  blocks of all rounds; offline this includes waiting for worker threads the caller outran.\n"
        "delay: samples by which the output trails the exact convolution; late: zita's cycles whose "
        "output was not ready.\n",
        block);

    if (messages.load() != 0) {
        std::fprintf(stderr, "compare_peers: the convolvers reported %d error(s)\n", messages.load());
        return 1;
    }
    if (options.profile_ours) return 0;

    auto print_ratios = [](char const* mode, std::vector<Result> const& results) {
        if (results.empty()) return;
        std::printf("\nratio (our CPU / zita's CPU), %s:\n", mode);
        Result const* headline = nullptr;
        for (auto const& r : results) {
            std::printf("  %-36s %.3f\n", r.work->label, r.ours.median_cpu() / r.zita.median_cpu());
            if (r.work == &workloads[headline_workload]) headline = &r;
        }
        if (headline != nullptr)
            std::printf("ratio_vs_zita%s: %.3f\n", std::string(mode) == "paced" ? "_paced" : "",
                        headline->ours.median_cpu() / headline->zita.median_cpu());
    };
    print_ratios("offline", offline);
    print_ratios("paced", paced);
    return 0;
}
