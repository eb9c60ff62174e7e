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
class RunningConvolver {
public:
    RunningConvolver(int channels, int N)
    {
        started = fft_conv_worker_thread::fft_conv_worker_thread_initialise(&convolver, &handle, nullptr,
                                                                            channels, N);
    }
    ~RunningConvolver()
    {
        if (convolver == nullptr) return;
        convolver->trigger_kill();
        while (!convolver->has_thread_finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete convolver;
    }
    fft_conv_worker_thread* operator->() const { return convolver; }

    fft_conv_worker_thread* convolver = nullptr;
    void* handle = nullptr;
    bool started = false;
};

std::vector<float*> pointers(Channels& channels)
{
    std::vector<float*> result;
    for (auto& channel : channels)
        result.push_back(channel.data());
    return result;
}

// Decaying noise, as a reverb's impulse response.
std::vector<float> make_ir(int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> ir(static_cast<size_t>(length));
    double const tau = std::max(1.0, length / 4.0);
    for (int i = 0; i < length; ++i)
        ir[static_cast<size_t>(i)] = noise(rng) * static_cast<float>(std::exp(-i / tau));
    return ir;
}

// Sparse bursts of noise spread over `length` samples, so a long response stays cheap to reference.
std::vector<float> make_bursts(int length, int bursts, int burst_length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.5f);
    std::uniform_int_distribution<int> where(0, std::max(0, length - burst_length));
    std::vector<float> x(static_cast<size_t>(length), 0.0f);
    for (int b = 0; b < bursts; ++b) {
        int const start = b == 0 ? 0 : where(rng);
        for (int i = 0; i < burst_length && start + i < length; ++i)
            x[static_cast<size_t>(start + i)] = noise(rng);
    }
    return x;
}

// Host-like calls: many sizes that are not multiples of N, single frames, and huge blocks.
int next_call_size(std::mt19937& rng, int N)
{
    int const kind = std::uniform_int_distribution<int>(0, 9)(rng);
    if (kind < 3) return std::uniform_int_distribution<int>(1, std::max(1, N))(rng);
    if (kind == 3) return 1;
    return std::uniform_int_distribution<int>(1, 16384)(rng);
}

// Runs `input` through the head FIR (when given) plus the FFT convolver in random call sizes.
Channels run(fft_conv_worker_thread* convolver, direct_fir* head, Channels const& input, int total,
             unsigned seed)
{
    int const channels = static_cast<int>(input.size());
    int const N = convolver->get_host_block_length();
    Channels output(input.size(), std::vector<float>(static_cast<size_t>(total), 0.0f));
    std::vector<float> head_out(16384);
    std::vector<float*> in(static_cast<size_t>(channels)), out(static_cast<size_t>(channels));
    std::vector<std::vector<float>> head_buffers(input.size(), std::vector<float>(16384));
    std::vector<float*> head_ptr;
    for (auto& b : head_buffers)
        head_ptr.push_back(b.data());
    std::vector<std::vector<float>> padded(input);
    for (auto& channel : padded)
        channel.resize(static_cast<size_t>(total), 0.0f);

    std::mt19937 rng(seed);
    int done = 0;
    while (done < total) {
        int const n = std::min(total - done, next_call_size(rng, N));
        for (int c = 0; c < channels; ++c) {
            in[c] = padded[c].data() + done;
            out[c] = output[c].data() + done;
        }
        convolver->process_not_replacing(in.data(), out.data(), n);
        if (head != nullptr) {
            head->process_not_replacing(in.data(), head_ptr.data(), n);
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    out[c][i] += head_ptr[c][i];
        }
        done += n;
    }
    return output;
}

// ---------------------------------------------------------------------------------------------

struct LayoutExample {
    int N;
    int length;
    std::vector<std::pair<int, int>> levels; // size x sub-blocks
    int padded;
};

TEST(FftConvLayout, MatchesEveryDocumentedExample)
{
    std::vector<LayoutExample> const examples = {
        {64, 100, {{64, 2}}, 128},
        {256, 1000, {{256, 4}}, 1024},
        {256, 8192, {{256, 6}, {1024, 6}, {4096, 2}}, 15872},
        {512, 8192, {{512, 6}, {2048, 3}}, 9216},
        {256, 470000, {{256, 6}, {1024, 6}, {4096, 6}, {16384, 27}}, 474624},
        {32, 1000000, {{32, 6}, {128, 6}, {512, 6}, {2048, 6}, {8192, 6}, {32768, 29}}, 1015744},
        {16384, 100000, {{16384, 7}}, 114688},
    };
    for (auto const& e : examples) {
        SCOPED_TRACE("N " + std::to_string(e.N) + ", L " + std::to_string(e.length));
        EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(e.length, e.N), e.padded);
        auto const layout = fft_conv_worker_thread::compute_layout(e.length, e.N);
        ASSERT_EQ(layout.num_levels, static_cast<int>(e.levels.size()));
        for (size_t i = 0; i < e.levels.size(); ++i) {
            EXPECT_EQ(layout.block_size[i], e.levels[i].first);
            EXPECT_EQ(layout.num_sub_blocks[i], e.levels[i].second);
        }
        // Padding is stable: the padded length has the same layout.
        auto const again = fft_conv_worker_thread::compute_layout(e.padded, e.N);
        EXPECT_EQ(again.num_levels, layout.num_levels);
        EXPECT_EQ(again.padded_length, e.padded);
    }
}

TEST(FftConvLayout, ShortResponsesAndLargeBlocksGiveOneLevel)
{
    for (int N : {32, 128, 1024}) {
        for (int L : {1, N - 1, N, N + 1, 3 * N + 5, 6 * N - 1}) {
            auto const layout = fft_conv_worker_thread::compute_layout(L, N);
            ASSERT_EQ(layout.num_levels, 1) << N << " " << L;
            EXPECT_EQ(layout.num_sub_blocks[0], std::max(2, (L + N - 1) / N)) << N << " " << L;
        }
        auto const exact = fft_conv_worker_thread::compute_layout(6 * N, N);
        EXPECT_EQ(exact.num_levels, 1);
        EXPECT_EQ(exact.num_sub_blocks[0], 6);
        EXPECT_EQ(fft_conv_worker_thread::compute_layout(6 * N + 1, N).num_levels, 2);
    }
    for (int N : {16384, 32768})
        EXPECT_EQ(fft_conv_worker_thread::compute_layout(10'000'000, N).num_levels, 1) << N;
    EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(0, 128), 0);
    EXPECT_EQ(fft_conv_worker_thread::calc_num_samples_for_buffered_load(INT_MAX, 32), 0);
}

TEST(FftConvolver, UnitImpulseComesOutAtExactlyTwiceTheBlockLength)
{
    for (int N : {32, 64, 256, 4096}) {
        RunningConvolver convolver(2, N);
        ASSERT_TRUE(convolver.started);
        Channels ir(2, std::vector<float>(1, 1.0f));
        auto ir_ptr = pointers(ir);
        convolver->load_ir_data(ir_ptr.data(), 1);

        int const total = 2 * N + 3 * 16384;
        Channels input(2, std::vector<float>(1, 0.0f));
        input[0][0] = 1.0f;
        input[1][0] = -0.5f;
        Channels const out = run(convolver.convolver, nullptr, input, total, static_cast<unsigned>(N));
        // Exact apart from transform rounding.
        for (int i = 0; i < total; ++i) {
            ASSERT_NEAR(out[0][static_cast<size_t>(i)], i == 2 * N ? 1.0f : 0.0f, 1e-6f)
                << "N " << N << " at " << i;
            ASSERT_NEAR(out[1][static_cast<size_t>(i)], i == 2 * N ? -0.5f : 0.0f, 1e-6f)
                << "N " << N << " at " << i;
        }
    }
}

// Head FIR (first 2N samples) plus FFT convolver (the rest) equal a brute-force convolution.
void expect_exact(int N, int ir_length, int channels, int bursts, unsigned seed)
{
    SCOPED_TRACE("N " + std::to_string(N) + ", IR length " + std::to_string(ir_length));
    RunningConvolver convolver(channels, N);
    ASSERT_TRUE(convolver.started);
    direct_fir head(channels, 2 * N);

    Channels ir;
    for (int c = 0; c < channels; ++c)
        ir.push_back(make_ir(ir_length, seed * 7 + static_cast<unsigned>(c)));
    auto ir_ptr = pointers(ir);
    head.load_ir_data(ir_ptr.data(), std::min(ir_length, 2 * N));
    if (ir_length > 2 * N) {
        std::vector<float*> tail;
        for (auto* p : ir_ptr)
            tail.push_back(p + 2 * N);
        convolver->load_ir_data(tail.data(), ir_length - 2 * N);
    }

    int const input_length = std::max(4 * N, std::min(ir_length, 96000));
    Channels input;
    for (int c = 0; c < channels; ++c)
        input.push_back(make_bursts(input_length, bursts, 256, seed * 13 + static_cast<unsigned>(c)));
    int const total = input_length + ir_length;
    Channels const out = run(convolver.convolver, &head, input, total, seed);
    for (int c = 0; c < channels; ++c) {
        auto const reference = reference_convolve(input[c], ir[c], static_cast<size_t>(total));
        EXPECT_LT(relative_error_db(out[c], reference), -120.0) << "channel " << c;
    }
}

TEST(FftConvolver, ZeroLatencyConvolutionIsExactForShortResponses)
{
    unsigned seed = 1;
    for (int N : {32, 128, 512}) {
        for (int L : {1, 2, 2 * N - 1, 2 * N, 2 * N + 1, 6 * N, 8 * N + 3, 40 * N + 17})
            expect_exact(N, L, 2, 6, seed++);
    }
}

TEST(FftConvolver, ZeroLatencyConvolutionIsExactAcrossThreadedLevels)
{
    expect_exact(128, 144000, 2, 8, 11); // 3 s at 48 kHz: two threaded levels
    expect_exact(256, 8192 + 512, 2, 8, 12);
    expect_exact(1024, 50000, 1, 8, 13);
    expect_exact(8192, 200000, 1, 8, 14); // every level threaded
}

TEST(FftConvolver, ZeroLatencyConvolutionIsExactForTenSecondResponses)
{
    expect_exact(32, 480000, 1, 6, 21);
    expect_exact(8192, 480000, 1, 6, 22);
}

TEST(FftConvolver, ChannelsWithTheSameInputShareTransformsAndStayExact)
{
    // One side of true stereo gets one signal on both channels, convolved with two responses.
    // Inputs that agree, then differ, then agree again must all give the exact convolution. The
    // second difference comes after more than six blocks of 8192 in agreement, when even the
    // threaded level computes both channels from one input history.
    int const N = 128;
    int const L = 60000; // levels up to 8192: threaded blocks span the changes
    RunningConvolver convolver(2, N);
    Channels ir = {make_ir(L, 31), make_ir(L, 32)};
    auto ir_ptr = pointers(ir);
    convolver->load_ir_data(ir_ptr.data(), L);

    int const input_length = 130000;
    Channels input(2, make_bursts(input_length, 16, 2000, 33));
    for (int i = 0; i < 2000; ++i) // a burst inside the second stretch, seen by every level
        input[0][static_cast<size_t>(104000 + i)] = input[0][static_cast<size_t>(i)];
    input[1] = input[0];
    for (auto [from, to] : {std::pair{30000, 45000}, std::pair{103000, 108000}}) // the channels differ
        for (int i = from; i < to; ++i)
            input[1][static_cast<size_t>(i)] = -0.5f * input[0][static_cast<size_t>(i)] + 0.01f;
    int const total = input_length + L;
    Channels const out = run(convolver.convolver, nullptr, input, total, 34);
    for (int c = 0; c < 2; ++c) {
        auto reference = reference_convolve(input[c], ir[c], static_cast<size_t>(total));
        std::vector<double> delayed(static_cast<size_t>(total), 0.0);
        for (int i = 2 * N; i < total; ++i)
            delayed[static_cast<size_t>(i)] = reference[static_cast<size_t>(i - 2 * N)];
        EXPECT_LT(relative_error_db(out[c], delayed), -120.0) << "channel " << c;
    }
}

TEST(FftConvolver, LoadWithUnchangedLayoutKeepsTheReverbOfEarlierInput)
{
    int const N = 128;
    RunningConvolver convolver(1, N);
    ASSERT_TRUE(convolver.started);
    convolver->phase_offset = 1; // the level-3 block holding the impulse completes long after the load
    int const L = 30000;         // levels 128, 512, 2048 and 8192 (threaded)
    std::vector<float> a(L, 0.0f), b(L, 0.0f);
    a[20000] = 1.0f;
    b[20000] = 2.0f;
    b[L - 1] = 1e-9f; // same length, so the same layout
    float* pa = a.data();
    float* pb = b.data();
    convolver->load_ir_data(&pa, L);

    int const total = 2 * L;
    std::vector<float> in(total, 0.0f), out(total, 0.0f);
    in[0] = 1.0f;
    float* ip = in.data();
    float* op = out.data();
    int const before = 3 * N + 17; // the impulse is in the history, its reverb not yet out
    convolver->process_not_replacing(&ip, &op, before);
    convolver->load_ir_data(&pb, L);
    ip += before;
    op += before;
    convolver->process_not_replacing(&ip, &op, total - before);
    EXPECT_NEAR(out[20000 + 2 * N], 2.0f, 1e-5f) << "the earlier input must ring through the new response";

    // A response of another layout starts from silence: the earlier impulse is forgotten.
    RunningConvolver other(1, N);
    other->load_ir_data(&pa, L);
    std::fill(out.begin(), out.end(), 0.0f);
    ip = in.data();
    op = out.data();
    other->process_not_replacing(&ip, &op, before);
    std::vector<float> longer(L * 3, 0.0f);
    longer[20000] = 2.0f;
    float* pl = longer.data();
    other->load_ir_data(&pl, L * 3);
    ip += before;
    op += before;
    other->process_not_replacing(&ip, &op, total - before);
    for (int i = before; i < total; ++i)
        ASSERT_NEAR(out[static_cast<size_t>(i)], 0.0f, 1e-6f) << "at " << i;
}

TEST(FftConvolver, ConcurrentLoadsNeverTearTheResponseBetweenChannels)
{
    // Both channels get the same input and the same response, so they must agree bit for bit at
    // every sample, whatever the loader does in between: a swap seen by one channel and not the
    // other would show up at once.
    int const N = 64;
    RunningConvolver convolver(2, N);
    ASSERT_TRUE(convolver.started);
    std::vector<float> a = make_ir(20000, 5), b = make_ir(20000, 6), c = make_ir(70000, 7);
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        int i = 0;
        while (!stop.load()) {
            std::vector<float>& ir = (i % 3 == 0) ? a : (i % 3 == 1) ? b : c;
            float* channels[2] = {ir.data(), ir.data()};
            convolver->load_ir_data(channels, static_cast<int>(ir.size()));
            ++i;
        }
    });

    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> in(4096), out0(4096), out1(4096);
    for (int block = 0; block < 400; ++block) {
        int const n = std::uniform_int_distribution<int>(1, 4096)(rng);
        for (int i = 0; i < n; ++i)
            in[static_cast<size_t>(i)] = noise(rng);
        float* ip[2] = {in.data(), in.data()};
        float* op[2] = {out0.data(), out1.data()};
        convolver->process_not_replacing(ip, op, n);
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(std::isfinite(out0[static_cast<size_t>(i)]));
            ASSERT_EQ(out0[static_cast<size_t>(i)], out1[static_cast<size_t>(i)])
                << "block " << block << " frame " << i;
        }
    }
    stop = true;
    loader.join();
}

TEST(FftConvolver, ProcessingAllocatesNothing)
{
    int const N = 128;
    RunningConvolver convolver(2, N);
    std::vector<float> ir = make_ir(144000, 3);
    float* channels[2] = {ir.data(), ir.data()};
    convolver->load_ir_data(channels, static_cast<int>(ir.size()));
    direct_fir head(2, 2 * N);
    head.load_ir_data(channels, 2 * N);

    std::vector<float> in(16384, 0.25f), out0(16384), out1(16384), h0(16384), h1(16384);
    float* ip[2] = {in.data(), in.data()};
    float* op[2] = {out0.data(), out1.data()};
    float* hp[2] = {h0.data(), h1.data()};
    std::mt19937 rng(4);
    corvella::test::AllocationCounter counter;
    for (int block = 0; block < 300; ++block) {
        int const n = next_call_size(rng, N);
        convolver->process_not_replacing(ip, op, n);
        head.process_not_replacing(ip, hp, n);
    }
    EXPECT_EQ(counter.count(), 0);
}

TEST(FftConvolver, StoppedWorkerPassesInputThrough)
{
    RunningConvolver convolver(2, 256);
    ASSERT_TRUE(convolver.started);
    convolver->trigger_kill();
    for (int i = 0; i < 1000 && !convolver->has_thread_finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(convolver->has_thread_finished());
    EXPECT_FALSE(convolver->is_running());

    std::vector<float> in0(1000), in1(1000), out0(1000, 9.0f), out1(1000, 9.0f);
    for (int i = 0; i < 1000; ++i) {
        in0[static_cast<size_t>(i)] = static_cast<float>(i);
        in1[static_cast<size_t>(i)] = -static_cast<float>(i);
    }
    float* ip[2] = {in0.data(), in1.data()};
    float* op[2] = {out0.data(), out1.data()};
    convolver->process_not_replacing(ip, op, 1000);
    EXPECT_EQ(out0, in0);
    EXPECT_EQ(out1, in1);
}

TEST(FftConvolver, FailedConstructionIsReportedAndPassesInputThrough)
{
    corvella::test::MessageRecorder messages;
    fft_conv_worker_thread convolver(2, 0); // no layout exists for a block length of 0
    EXPECT_FALSE(convolver.is_running());
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last().caption, "Tarn Wick");
    EXPECT_EQ(messages.last().text, "Block allocation error (no blocks found) in allocate_convolution_memory "
                                    "#2 (thread entry point allocate)");

    std::vector<float> in(64, 0.5f), out(64, 0.0f);
    float* ip[2] = {in.data(), in.data()};
    float* op[2] = {out.data(), out.data()};
    convolver.process_not_replacing(ip, op, 64);
    EXPECT_EQ(out, in);
}

TEST(FftConvolver, EmptyLoadKeepsTheResponseAndMinimiseTwiceOnlyClearsTheFlag)
{
    corvella::test::MessageRecorder messages;
    int const N = 128;
    RunningConvolver convolver(1, N);
    std::vector<float> ir(300000, 0.0f);
    ir[0] = 1.0f;
    float* p = ir.data();
    convolver->load_ir_data(&p, 300000);
    int const levels_long = convolver->get_num_levels();
    EXPECT_TRUE(convolver->is_ir_loaded());

    convolver->load_ir_data(&p, 0); // unchanged
    EXPECT_TRUE(convolver->is_ir_loaded());
    EXPECT_EQ(convolver->get_num_levels(), levels_long);
    std::vector<float> in(4096, 0.0f), out(4096, 0.0f);
    in[0] = 1.0f;
    float* ip = in.data();
    float* op = out.data();
    convolver->process_not_replacing(&ip, &op, 4096);
    EXPECT_NEAR(out[2 * N], 1.0f, 1e-6f);

    convolver->minimise_ir_data_memory();
    EXPECT_FALSE(convolver->is_ir_loaded());
    auto const minimised = fft_conv_worker_thread::compute_layout(65536, N);
    EXPECT_EQ(convolver->get_num_levels(), minimised.num_levels);
    int const last = minimised.num_levels - 1;
    EXPECT_EQ(convolver->partition(0, last).num_sub_blocks, minimised.num_sub_blocks[last]);

    convolver->minimise_ir_data_memory(); // nothing loaded since: only the flag
    EXPECT_FALSE(convolver->is_ir_loaded());
    EXPECT_EQ(convolver->get_num_levels(), minimised.num_levels);
    EXPECT_EQ(messages.count(), 0u);

    in[0] = 1.0f;
    convolver->process_not_replacing(&ip, &op, 4096);
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
}

TEST(FftConvolver, PhaseOffsetMovesBlockPositionsButNotTheOutput)
{
    int const N = 256;
    std::vector<float> ir = make_ir(60000, 8);
    std::vector<float> input = make_bursts(20000, 4, 300, 9);
    Channels outputs;
    for (int offset : {0, 1}) {
        RunningConvolver convolver(1, N);
        convolver->phase_offset = offset;
        float* p = ir.data();
        convolver->load_ir_data(&p, static_cast<int>(ir.size())); // a new layout: reallocated
        for (int level = 0; level < convolver->get_num_levels(); ++level)
            EXPECT_EQ(convolver->partition(0, level).fill_position, offset) << "level " << level;
        outputs.push_back(run(convolver.convolver, nullptr, Channels{input}, 90000, 3)[0]);
    }
    auto const reference = reference_convolve(input, std::vector<float>(ir.begin(), ir.end()), 90000);
    std::vector<double> shifted(90000, 0.0);
    for (int i = 2 * N; i < 90000; ++i)
        shifted[static_cast<size_t>(i)] = reference[static_cast<size_t>(i - 2 * N)];
    EXPECT_LT(relative_error_db(outputs[0], shifted), -120.0);
    EXPECT_LT(relative_error_db(outputs[1], shifted), -120.0);
}

TEST(FftConvolver, BadLoadsAreReportedAndKeepTheResponse)
{
    corvella::test::MessageRecorder messages;
    int const N = 64;
    RunningConvolver convolver(1, N);
    std::vector<float> ir(1000, 0.0f);
    ir[0] = 1.0f;
    float* p = ir.data();
    convolver->load_ir_data(&p, 1000);

    convolver->load_ir_data(nullptr, 1000);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last().caption, "Tarnwick: Corvella");
    EXPECT_EQ(messages.last().text, "Null impulse response in load_ir_data #0: Seen during ir file change");

    convolver->load_ir_data(&p, INT_MAX);
    ASSERT_EQ(messages.count(), 2u);
    EXPECT_EQ(messages.last().text, "Malloc allocation error in load_ir_data #2: Seen during ir file change");
    EXPECT_TRUE(convolver->is_ir_loaded());

    std::vector<float> in(512, 0.0f), out(512, 0.0f);
    in[0] = 1.0f;
    float* ip = in.data();
    float* op = out.data();
    convolver->process_not_replacing(&ip, &op, 512);
    EXPECT_NEAR(out[2 * N], 1.0f, 1e-6f);
}

} // namespace
