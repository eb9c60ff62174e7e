#include "convolution/direct_fir.h"
#include "convolution/fft_conv_worker_thread.h"
#include "support/allocation_counter.h"
#include "support/message_recorder.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

using corvella::test::reference_convolve;
using corvella::test::relative_error_db;
using Channels = std::vector<std::vector<float>>;

// A convolver with its worker, stopped the way the engine stops it.
struct Convolver {
    Convolver(int channels, int N)
    {
        started =
            fft_conv_worker_thread::fft_conv_worker_thread_initialise(&c, &handle, nullptr, channels, N);
    }
    ~Convolver()
    {
        if (c == nullptr) return;
        c->trigger_kill();
        while (!c->has_thread_finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete c;
    }
    fft_conv_worker_thread* operator->() const { return c; }
    // Loads every channel of `ir` from sample `skip` on.
    void load(Channels& ir, int skip = 0)
    {
        std::vector<float*> p;
        for (auto& channel : ir)
            p.push_back(channel.data() + skip);
        c->load_ir_data(p.data(), static_cast<int>(ir[0].size()) - skip);
    }

    fft_conv_worker_thread* c = nullptr;
    void* handle = nullptr;
    bool started = false;
};

// Gaussian noise decaying over a quarter of `length` (a reverb's response), or, with `bursts`, that
// many bursts of `burst` samples spread over `length` (cheap to reference).
std::vector<float> noise(int length, unsigned seed, int bursts = 0, int burst = 256)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length), 0.0f);
    if (bursts == 0) {
        double const tau = std::max(1.0, length / 4.0);
        for (int i = 0; i < length; ++i)
            x[static_cast<size_t>(i)] = gauss(rng) * static_cast<float>(std::exp(-i / tau));
        return x;
    }
    std::uniform_int_distribution<int> where(0, std::max(0, length - burst));
    for (int b = 0; b < bursts; ++b)
        for (int i = 0, start = b == 0 ? 0 : where(rng); i < burst && start + i < length; ++i)
            x[static_cast<size_t>(start + i)] = gauss(rng);
    return x;
}

// Host-like call sizes: below N, single frames, and up to 16384.
int next_call_size(std::mt19937& rng, int N)
{
    int const kind = std::uniform_int_distribution<int>(0, 9)(rng);
    if (kind < 3) return std::uniform_int_distribution<int>(1, N)(rng);
    if (kind == 3) return 1;
    return std::uniform_int_distribution<int>(1, 16384)(rng);
}

// `input` (zero-padded to `total`) through the convolver plus `head` (when given), in random calls
// or, with `call_size`, in calls of that many frames.
Channels run(fft_conv_worker_thread* convolver, direct_fir* head, Channels input, int total, unsigned seed,
             int call_size = 0)
{
    size_t const channels = input.size();
    Channels output(channels, std::vector<float>(static_cast<size_t>(total), 0.0f));
    Channels head_out(channels, std::vector<float>(16384));
    std::vector<float*> in(channels), out(channels), head_ptr(channels);
    for (size_t c = 0; c < channels; ++c) {
        input[c].resize(static_cast<size_t>(total), 0.0f);
        head_ptr[c] = head_out[c].data();
    }
    std::mt19937 rng(seed);
    corvella::test::AllocationCounter counter; // the audio path, head included, allocates nothing
    for (int done = 0, n = 0; done < total; done += n) {
        n = std::min(total - done, call_size > 0 ? call_size : next_call_size(rng, convolver->get_host_block_length()));
        for (size_t c = 0; c < channels; ++c) {
            in[c] = input[c].data() + done;
            out[c] = output[c].data() + done;
        }
        convolver->process_not_replacing(in.data(), out.data(), n);
        if (head == nullptr) continue;
        head->process_not_replacing(in.data(), head_ptr.data(), n);
        for (size_t c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                out[c][i] += head_ptr[c][i];
    }
    EXPECT_EQ(counter.count(), 0);
    return output;
}

TEST(FftConvLayout, EveryDocumentedExampleAndTheOneLevelBoundaries)
{
    struct Example {
        int N, length;
        std::vector<std::pair<int, int>> levels; // size x sub-blocks
        int padded;
    };
    // clang-format off
    std::vector<Example> const examples = {
        {64, 100, {{64, 2}}, 128},  {256, 1000, {{256, 4}}, 1024},
        {256, 8192, {{256, 6}, {1024, 6}, {4096, 2}}, 15872},  {512, 8192, {{512, 6}, {2048, 3}}, 9216},
        {256, 470000, {{256, 6}, {1024, 6}, {4096, 6}, {16384, 27}}, 474624},
        {32, 1000000, {{32, 6}, {128, 6}, {512, 6}, {2048, 6}, {8192, 6}, {32768, 29}}, 1015744},
        {16384, 100000, {{16384, 7}}, 114688},
    };
    // clang-format on
    for (auto const& e : examples) {
        SCOPED_TRACE("N " + std::to_string(e.N) + ", L " + std::to_string(e.length));
        EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(e.length, e.N), e.padded);
        auto const layout = fft_conv_worker_thread::compute_layout(e.length, e.N);
        ASSERT_EQ(layout.num_levels, static_cast<int>(e.levels.size()));
        for (size_t i = 0; i < e.levels.size(); ++i) {
            EXPECT_EQ(layout.block_size[i], e.levels[i].first);
            EXPECT_EQ(layout.num_sub_blocks[i], e.levels[i].second);
        }
        // The padded length pads to itself.
        EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(e.padded, e.N), e.padded);
    }
    // One level up to 6N (at least two sub-blocks), a second from 6N + 1; no growth from 16384 on.
    for (int N : {32, 128, 1024}) {
        for (int L : {1, N - 1, N, N + 1, 3 * N + 5, 6 * N - 1, 6 * N}) {
            auto const layout = fft_conv_worker_thread::compute_layout(L, N);
            ASSERT_EQ(layout.num_levels, 1) << N << " " << L;
            EXPECT_EQ(layout.num_sub_blocks[0], std::max(2, (L + N - 1) / N)) << N << " " << L;
        }
        EXPECT_EQ(fft_conv_worker_thread::compute_layout(6 * N + 1, N).num_levels, 2);
    }
    for (int N : {16384, 32768})
        EXPECT_EQ(fft_conv_worker_thread::compute_layout(10'000'000, N).num_levels, 1) << N;
    EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(0, 128), 0);
    EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(INT_MAX, 32), 0);
}

// Head FIR (first 2N samples) plus FFT convolver (the rest) equal a brute-force convolution, for
// responses of 1 sample to 10 s, threaded levels included, whatever the phase offset.
TEST(FftConvolver, HeadPlusConvolverEqualBruteForceConvolution)
{
    struct Case {
        int N, length, channels, bursts, phase_offset;
    };
    std::vector<Case> cases;
    for (int N : {32, 128, 512})
        for (int L : {1, 2, 2 * N - 1, 2 * N, 2 * N + 1, 6 * N, 8 * N + 3, 40 * N + 17})
            cases.push_back({N, L, 2, 6, 1});
    // clang-format off
    cases.insert(cases.end(), {
        {128, 144000, 2, 8, 1}, {256, 8192 + 512, 2, 8, 0}, {256, 60000, 1, 4, 0}, {256, 60000, 1, 4, 1},
        {1024, 50000, 1, 8, 12345}, {8192, 200000, 1, 8, 98048},  // threaded levels; the last all threaded
        {32, 200000, 1, 6, 1}, {8192, 480000, 1, 6, 1},           // all six levels of N = 32; 10 s at 48 kHz
    });
    // clang-format on
    unsigned seed = 1;
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "N " << c.N << ", IR length " << c.length << ", offset " << c.phase_offset);
        ++seed;
        Convolver convolver(c.channels, c.N);
        ASSERT_TRUE(convolver.started);
        convolver->phase_offset = c.phase_offset;
        direct_fir head(c.channels, 2 * c.N);
        Channels ir, input;
        int const input_length = std::max(4 * c.N, std::min(c.length, 96000));
        for (int ch = 0; ch < c.channels; ++ch) {
            ir.push_back(noise(c.length, seed * 7 + ch));
            input.push_back(noise(input_length, seed * 13 + ch, c.bursts));
        }
        std::vector<float*> taps;
        for (auto& channel : ir)
            taps.push_back(channel.data());
        head.load_ir_data(taps.data(), std::min(c.length, 2 * c.N));
        if (c.length > 2 * c.N) convolver.load(ir, 2 * c.N);
        int const total = input_length + c.length;
        Channels const out = run(convolver.c, &head, input, total, seed);
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_LT(relative_error_db(out[ch], reference_convolve(input[ch], ir[ch], total)), -120.0) << ch;
    }
}

// A convolver whose input has been silent for longer than its response skips every level's work,
// and an onset after the silence is convolved exactly from its first sample, whatever the call
// size and the phase of the levels. Head included: it skips silence too.
TEST(FftConvolver, IdleLevelsSkipTheirWorkAndResumeExactlyAtTheFirstSample)
{
    int const N = 64, L = 40000; // levels 64 .. 16384, the last threaded
    auto const layout = fft_conv_worker_thread::compute_layout(L - 2 * N, N);
    ASSERT_EQ(layout.num_levels, 5);
    int const largest = layout.block_size[4];
    // The burst's last effect: the padded response, the latency, and for the slowest level one
    // block to gather, one to compute and one of phase. The silence lasts longer than all of it.
    int const burst = 300, tail_done = burst + layout.padded_length + 2 * N + 3 * largest;
    int const silence = tail_done + 30000;
    Channels ir = {noise(L, 41), noise(L, 42)};
    std::vector<float*> taps = {ir[0].data(), ir[1].data()};

    struct Phase {
        int offset, onset_shift;
    };
    Phase const phases[] = {{1, 0}, {12345, 37}, {98048, largest - 1}};
    int const call_sizes[] = {1, 7, N - 1, N, N + 1, 3 * N + 5, 0}; // 0: random sizes
    for (Phase const& phase : phases) {
        int const onset = silence + phase.onset_shift, total = onset + L + 2 * N;
        Channels input = {noise(burst, 43, 1, burst), noise(burst, 44, 1, burst)};
        for (auto& channel : input)
            channel.resize(static_cast<size_t>(total), 0.0f);
        input[0][static_cast<size_t>(onset)] = 1.0f;
        input[1][static_cast<size_t>(onset)] = -0.5f;
        input[1][static_cast<size_t>(onset + 3)] = 0.25f;
        std::vector<double> const reference[2] = {reference_convolve(input[0], ir[0], total),
                                                  reference_convolve(input[1], ir[1], total)};
        Channels unskipped;
        for (int call_size : call_sizes) {
            SCOPED_TRACE(testing::Message() << "phase offset " << phase.offset << ", onset " << onset
                                            << ", call size " << call_size);
            for (bool skipping : {true, false}) {
                if (!skipping && call_size != N) continue; // one run without skipping per phase
                Convolver convolver(2, N);
                ASSERT_TRUE(convolver.started);
                convolver->phase_offset = phase.offset;
                convolver->set_idle_skipping(skipping);
                direct_fir head(2, 2 * N);
                head.load_ir_data(taps.data(), 2 * N);
                convolver.load(ir, 2 * N);
                // Up to the end of the silence, then the rest: the skipping is counted in between.
                Channels before(2), after(2);
                for (int c = 0; c < 2; ++c) {
                    before[c].assign(input[c].begin(), input[c].begin() + onset);
                    after[c].assign(input[c].begin() + onset, input[c].end());
                }
                Channels out = run(convolver.c, &head, before, tail_done, 50, call_size);
                long long const skipped_before = convolver->skipped_level_blocks();
                before = Channels(2, std::vector<float>(static_cast<size_t>(onset - tail_done), 0.0f));
                Channels const idle = run(convolver.c, &head, before, onset - tail_done, 51, call_size);
                long long const skipped = convolver->skipped_level_blocks() - skipped_before;
                Channels const rest = run(convolver.c, &head, after, total - onset, 52, call_size);
                for (int c = 0; c < 2; ++c) {
                    out[c].insert(out[c].end(), idle[c].begin(), idle[c].end());
                    out[c].insert(out[c].end(), rest[c].begin(), rest[c].end());
                }
                if (!skipping) {
                    EXPECT_EQ(out, unskipped) << "skipping changed the output";
                    EXPECT_EQ(skipped, 0);
                    continue;
                }
                unskipped = out;
                // Every level's block boundaries in the silent stretch, as the levels' phases put
                // them; the threaded level's last one may still be in its worker's hands.
                long long handed_over = 0;
                for (int level = 0; level < layout.num_levels; ++level) {
                    long long const B = layout.block_size[level], p = phase.offset % B;
                    handed_over += (p + onset) / B - (p + tail_done) / B;
                }
                EXPECT_GE(skipped, handed_over - 1);
                for (int c = 0; c < 2; ++c) {
                    EXPECT_LT(relative_error_db(out[c], reference[c]), -120.0) << "channel " << c;
                    // The onset on its own, against its own peak: nothing missed, nothing late.
                    std::vector<float> const got(out[c].begin() + onset, out[c].end());
                    std::vector<double> const want(reference[c].begin() + onset, reference[c].end());
                    EXPECT_LT(relative_error_db(got, want), -120.0) << "channel " << c;
                    EXPECT_NEAR(got[0], (c == 0 ? 1.0f : -0.5f) * ir[c][0], 1e-6f);
                }
            }
        }
    }
}

TEST(FftConvolver, ChannelsWithTheSameInputShareTransformsAndStayExact)
{
    // One side of true stereo gets one signal on both channels, convolved with two responses.
    // Inputs that agree, then differ, then agree again must all give the exact convolution. The
    // second difference comes after more than six blocks of 8192 in agreement, when even the
    // threaded level computes both channels from one input history.
    int const N = 128, L = 60000; // levels up to 8192: threaded blocks span the changes
    Convolver convolver(2, N);
    Channels ir = {noise(L, 31), noise(L, 32)};
    convolver.load(ir);
    int const input_length = 130000, total = input_length + L;
    Channels input(2, noise(input_length, 33, 16, 2000));
    for (int i = 0; i < 2000; ++i) // a burst inside the second stretch, seen by every level
        input[0][static_cast<size_t>(104000 + i)] = input[0][static_cast<size_t>(i)];
    input[1] = input[0];
    for (auto [from, to] : {std::pair{30000, 45000}, std::pair{103000, 108000}}) // the channels differ
        for (int i = from; i < to; ++i)
            input[1][static_cast<size_t>(i)] = -0.5f * input[0][static_cast<size_t>(i)] + 0.01f;
    Channels const out = run(convolver.c, nullptr, input, total, 34);
    for (int c = 0; c < 2; ++c) {
        std::vector<double> const reference = reference_convolve(input[c], ir[c], total);
        std::vector<double> delayed(reference.size(), 0.0);
        std::copy(reference.begin(), reference.end() - 2 * N, delayed.begin() + 2 * N);
        EXPECT_LT(relative_error_db(out[c], delayed), -120.0) << "channel " << c;
    }
}

TEST(FftConvolver, UnchangedLayoutKeepsTheInputHistoryAndAChangedOneRestartsFromSilence)
{
    int const N = 128, L = 30000;                 // levels 128, 512, 2048 and 8192 (threaded)
    int const before = 3 * N + 17, total = 2 * L; // the impulse is in the history, its reverb not yet out
    Channels a(1, std::vector<float>(L, 0.0f)), b = a, longer(1, std::vector<float>(3 * L, 0.0f));
    a[0][20000] = 1.0f;
    b[0][20000] = longer[0][20000] = 2.0f;
    b[0][L - 1] = 1e-9f; // same length, so the same layout
    for (Channels* second : {&b, &longer}) {
        Convolver convolver(1, N);
        ASSERT_TRUE(convolver.started);
        convolver->phase_offset = 1; // the level-3 block holding the impulse completes long after the load
        convolver.load(a);
        std::vector<float> in(total, 0.0f), out(total, 0.0f);
        in[0] = 1.0f;
        float* ip = in.data();
        float* op = out.data();
        convolver->process_not_replacing(&ip, &op, before);
        convolver.load(*second);
        ip += before;
        op += before;
        convolver->process_not_replacing(&ip, &op, total - before);
        for (int i = before; i < total; ++i)
            ASSERT_NEAR(out[static_cast<size_t>(i)], second == &b && i == 20000 + 2 * N ? 2.0f : 0.0f, 1e-5f)
                << (second == &b ? "same layout" : "new layout") << " at " << i;
    }
}

// Silencing forgets every history at once, threaded levels and a worker pass in flight included,
// for any phase of every level: what follows is exactly the response to what comes after.
TEST(FftConvolver, SilenceForgetsEveryHistoryAtOnce)
{
    int const N = 128, L = 70000, before = 50000 + 77, after = 3 * L;
    Channels ir = {noise(L, 21), noise(L, 22)};
    Convolver convolver(2, N);
    ASSERT_TRUE(convolver.started);
    convolver.load(ir);
    Channels loud = {noise(before, 23, 40, 2000), noise(before, 24, 40, 2000)};
    run(convolver.c, nullptr, loud, before, 25);
    convolver->silence_x_y_buffers();
    Channels sparse(2, std::vector<float>(static_cast<size_t>(after), 0.0f));
    sparse[0][0] = sparse[1][5] = 1.0f;
    sparse[0][30000] = -0.5f;
    Channels out = run(convolver.c, nullptr, sparse, after, 26);
    for (size_t c = 0; c < 2; ++c) {
        std::vector<float> delayed(static_cast<size_t>(2 * N), 0.0f); // the convolver's latency
        delayed.insert(delayed.end(), ir[c].begin(), ir[c].end());
        EXPECT_LT(
            relative_error_db(out[c], reference_convolve(sparse[c], delayed, static_cast<size_t>(after))),
            -120.0)
            << "channel " << c;
    }
}

TEST(FftConvolver, ConcurrentLoadsNeverMixTwoResponses)
{
    // Both channels get the same input and the same response, so they agree bit for bit at every
    // sample, whatever the loader does in between: a swap seen by one channel and not the other
    // would show at once.
    Convolver convolver(2, 64);
    ASSERT_TRUE(convolver.started);
    Channels irs[3] = {Channels(2, noise(20000, 5)), Channels(2, noise(20000, 6)),
                       Channels(2, noise(70000, 7))};
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        for (int i = 0; !stop.load(); ++i)
            convolver.load(irs[i % 3]);
    });
    std::mt19937 rng(9);
    std::normal_distribution<float> gauss(0.0f, 0.3f);
    std::vector<float> in(4096), out0(4096), out1(4096);
    for (int block = 0; block < 400; ++block) {
        int const n = std::uniform_int_distribution<int>(1, 4096)(rng);
        for (int i = 0; i < n; ++i)
            in[static_cast<size_t>(i)] = gauss(rng);
        float* ip[2] = {in.data(), in.data()};
        float* op[2] = {out0.data(), out1.data()};
        convolver->process_not_replacing(ip, op, n);
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(std::isfinite(out0[static_cast<size_t>(i)]));
            ASSERT_EQ(out0[static_cast<size_t>(i)], out1[static_cast<size_t>(i)]) << block << ", " << i;
        }
    }
    stop = true;
    loader.join();
}

TEST(FftConvolver, StoppedWorkerAndFailedConstructionPassInputThrough)
{
    corvella::test::MessageRecorder messages;
    Convolver stopped(2, 256);
    ASSERT_TRUE(stopped.started);
    stopped->trigger_kill();
    for (int i = 0; i < 1000 && !stopped->has_thread_finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(stopped->is_running());
    fft_conv_worker_thread failed(2, 0); // no layout exists for a block length of 0
    EXPECT_FALSE(failed.is_running());
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last().caption, "Tarn Wick");
    EXPECT_EQ(messages.last().text, "Block allocation error (no blocks found) in allocate_convolution_memory "
                                    "#2 (thread entry point allocate)");

    for (fft_conv_worker_thread* convolver : {stopped.c, &failed}) {
        std::vector<float> in0(1000), in1(1000), out0(1000, 9.0f), out1(1000, 9.0f);
        for (int i = 0; i < 1000; ++i)
            in1[static_cast<size_t>(i)] = -(in0[static_cast<size_t>(i)] = static_cast<float>(i));
        float* ip[2] = {in0.data(), in1.data()};
        float* op[2] = {out0.data(), out1.data()};
        convolver->process_not_replacing(ip, op, 1000);
        EXPECT_EQ(out0, in0);
        EXPECT_EQ(out1, in1);
    }
}

// The first output of a unit impulse through the convolver, N = 128.
float response_at_2N(fft_conv_worker_thread* convolver, std::vector<float>& out)
{
    std::vector<float> in(out.size(), 0.0f);
    in[0] = 1.0f;
    float* ip = in.data();
    float* op = out.data();
    convolver->process_not_replacing(&ip, &op, static_cast<int>(out.size()));
    return out[256];
}

TEST(FftConvolver, EmptyLoadKeepsTheResponseAndMinimisingTwiceOnlyClearsTheFlag)
{
    corvella::test::MessageRecorder messages;
    Convolver convolver(1, 128);
    Channels ir(1, std::vector<float>(300000, 0.0f));
    ir[0][0] = 1.0f;
    convolver.load(ir);
    EXPECT_TRUE(convolver->is_ir_loaded());
    int const levels_long = convolver->get_num_levels();
    float* p = ir[0].data();
    convolver->load_ir_data(&p, 0); // unchanged
    EXPECT_TRUE(convolver->is_ir_loaded());
    EXPECT_EQ(convolver->get_num_levels(), levels_long);
    std::vector<float> out(4096);
    EXPECT_NEAR(response_at_2N(convolver.c, out), 1.0f, 1e-6f);

    auto const minimised = fft_conv_worker_thread::compute_layout(65536, 128);
    int const last = minimised.num_levels - 1;
    for (int pass = 0; pass < 2; ++pass) { // the second pass finds nothing loaded: only the flag
        convolver->minimise_ir_data_memory();
        EXPECT_FALSE(convolver->is_ir_loaded());
        EXPECT_EQ(convolver->get_num_levels(), minimised.num_levels);
        EXPECT_EQ(convolver->partition(0, last).num_sub_blocks, minimised.num_sub_blocks[last]);
    }
    EXPECT_EQ(messages.count(), 0u);
    response_at_2N(convolver.c, out);
    EXPECT_EQ(out, std::vector<float>(4096, 0.0f));
}

TEST(FftConvolver, BadLoadsAreReportedAndKeepTheResponse)
{
    corvella::test::MessageRecorder messages;
    Convolver convolver(1, 128);
    Channels ir(1, std::vector<float>(1000, 0.0f));
    ir[0][0] = 1.0f;
    convolver.load(ir);
    convolver->load_ir_data(nullptr, 1000);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last().caption, "Tarnwick: Corvella");
    EXPECT_EQ(messages.last().text, "Null impulse response in load_ir_data #0: Seen during ir file change");
    float* p = ir[0].data();
    convolver->load_ir_data(&p, INT_MAX);
    ASSERT_EQ(messages.count(), 2u);
    EXPECT_EQ(messages.last().text, "Malloc allocation error in load_ir_data #2: Seen during ir file change");
    EXPECT_TRUE(convolver->is_ir_loaded());
    std::vector<float> out(512);
    EXPECT_NEAR(response_at_2N(convolver.c, out), 1.0f, 1e-6f);
}

} // namespace
