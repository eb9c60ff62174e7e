#include "convolution/convolver_ts_stack.h"
#include "convolution/fft_conv_worker_thread_ts_stack.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using corvella::test::reference_convolve;
using corvella::test::relative_error_db;
using Channels = std::vector<std::vector<float>>;

// Decaying noise (a response), or with `bursts` that many bursts of 256 samples (cheap to reference).
std::vector<float> noise(int length, unsigned seed, int bursts = 0)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length), 0.0f);
    if (bursts == 0) {
        for (int i = 0; i < length; ++i)
            x[static_cast<size_t>(i)] = gauss(rng) * static_cast<float>(std::exp(-4.0 * i / length));
        return x;
    }
    std::uniform_int_distribution<int> where(0, length - 256);
    for (int b = 0; b < bursts; ++b)
        for (int i = 0, start = where(rng); i < 256; ++i)
            x[static_cast<size_t>(start + i)] = gauss(rng);
    return x;
}

std::vector<float*> pointers(Channels& channels, int offset = 0)
{
    std::vector<float*> p;
    for (auto& channel : channels)
        p.push_back(channel.data() + offset);
    return p;
}

// `input` (zero-padded to `total`) through the stack in random call sizes, some above 16384.
Channels run(convolver_ts_stack& stack, Channels input, int total, unsigned seed)
{
    Channels output(input.size(), std::vector<float>(static_cast<size_t>(total), 0.0f));
    for (auto& channel : input)
        channel.resize(static_cast<size_t>(total), 0.0f);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> kind(0, 9), small(1, 200), large(1, 20000);
    for (int done = 0, n = 0; done < total; done += n) {
        int const k = kind(rng);
        n = std::min(total - done, k == 0 ? 1 : k < 6 ? small(rng) : large(rng));
        std::vector<float*> in = pointers(input, done), out = pointers(output, done);
        stack.process_frames(in.data(), out.data(), n);
    }
    return output;
}

// Output k: the sum over the listed channels c with c mod 4 = k of input (c with its lowest bit
// cleared) convolved with response c, delayed by `delay`.
std::vector<std::vector<double>> reference(Channels const& input, Channels const& ir, std::vector<int> const& channels,
                                           int total, int delay)
{
    std::vector<std::vector<double>> out(4, std::vector<double>(static_cast<size_t>(total), 0.0));
    for (int c : channels) {
        std::vector<double> const y = reference_convolve(input[static_cast<size_t>(c & ~1)], ir[static_cast<size_t>(c)],
                                                         static_cast<size_t>(total - delay));
        for (size_t i = 0; i < y.size(); ++i)
            out[static_cast<size_t>(c % 4)][i + static_cast<size_t>(delay)] += y[i];
    }
    return out;
}

TEST(TsStackLayout, EveryDocumentedExample)
{
    struct Example {
        int N, length;
        std::vector<std::pair<int, int>> levels; // size x sub-blocks
        int padded;
    };
    std::vector<Example> const examples = {
        {64, 100, {{64, 2}}, 128},
        {64, 1000, {{64, 2}, {128, 2}, {256, 2}, {512, 2}}, 1920},
        {64, 200000, {{64, 2}, {128, 2}, {256, 2}, {512, 2}, {1024, 2}, {2048, 2}, {4096, 47}}, 200576},
        {256, 48000, {{256, 2}, {512, 2}, {1024, 2}, {2048, 2}, {4096, 10}}, 48640},
        {4096, 20000, {{4096, 5}}, 20480},
    };
    for (Example const& e : examples) {
        SCOPED_TRACE(testing::Message() << "N " << e.N << ", length " << e.length);
        auto const layout = fft_conv_worker_thread_ts_stack::compute_layout(e.length, e.N);
        ASSERT_EQ(layout.num_levels, static_cast<int>(e.levels.size()));
        for (int level = 0; level < layout.num_levels; ++level) {
            EXPECT_EQ(layout.block_size[level], e.levels[static_cast<size_t>(level)].first) << level;
            EXPECT_EQ(layout.num_sub_blocks[level], e.levels[static_cast<size_t>(level)].second) << level;
        }
        EXPECT_EQ(fft_conv_worker_thread_ts_stack::calc_num_samples_for_buffered_load(e.length, e.N), e.padded);
    }
}

TEST(ConvolverTsStack, RefusesBufferLengthsThatAreNotPowersOfTwo)
{
    for (int length : {0, 128, 256, 512})
        EXPECT_NO_THROW(convolver_ts_stack(4, length)) << length;
    for (int length : {3, 100, -128}) {
        try {
            convolver_ts_stack stack(4, length);
            ADD_FAILURE() << length << " accepted";
        } catch (std::runtime_error const& e) {
            EXPECT_STREQ(e.what(), "Convolver must be initialised with a buffer length as a power of two or zero");
        }
    }
}

// Nine sets with their own input pairs equal nine true-stereo convolutions summed, at zero latency
// and with latency; odd input channels carry noise that must be ignored. The response reaches the
// threaded 4096 level.
TEST(ConvolverTsStack, NineSetsEqualTheSumOfNineTrueStereoConvolutions)
{
    int const channels = 36, L = 12000, input_length = 20000, total = input_length + L;
    for (int buffer_length : {0, 256}) {
        SCOPED_TRACE(testing::Message() << "buffer length " << buffer_length);
        convolver_ts_stack stack(channels, buffer_length);
        Channels ir, input;
        std::vector<int> all;
        for (int c = 0; c < channels; ++c) {
            ir.push_back(noise(L, 100u + static_cast<unsigned>(c)));
            input.push_back(noise(input_length, 200u + static_cast<unsigned>(c), 4));
            stack.set_input_hints(true, c);
            all.push_back(c);
        }
        std::vector<float*> p = pointers(ir);
        stack.set_sample_frames(p.data(), L);
        Channels const out = run(stack, input, total, 7u + static_cast<unsigned>(buffer_length));
        auto const expected = reference(input, ir, all, total, buffer_length);
        for (size_t k = 0; k < 4; ++k)
            EXPECT_LT(relative_error_db(out[k], expected[k]), -120.0) << "output " << k;
        for (size_t k = 4; k < out.size(); ++k)
            ASSERT_TRUE(std::all_of(out[k].begin(), out[k].end(), [](float v) { return v == 0.0f; })) << k;
    }
}

// Two sets. Channel 1 and channel 6 are bypassed (channel 7 still hears the input of channel 6);
// set 1's first input is marked absent although it carries signal, with its head bypassed.
TEST(ConvolverTsStack, BypassedChannelsAndAbsentInputsContributeNothing)
{
    int const channels = 8, L = 9000, input_length = 12000, total = input_length + L;
    convolver_ts_stack stack(channels, 0);
    Channels ir, input;
    for (int c = 0; c < channels; ++c) {
        ir.push_back(noise(L, 300u + static_cast<unsigned>(c)));
        input.push_back(noise(input_length, 400u + static_cast<unsigned>(c), 4));
        bool const bypassed = c == 1 || c == 6;
        bool const absent = c == 4 || c == 5;
        stack.set_bypasses(bypassed || absent, bypassed, c);
        stack.set_input_hints(!absent, c);
    }
    std::vector<float*> p = pointers(ir);
    stack.set_sample_frames(p.data(), L);
    Channels const out = run(stack, input, total, 11);
    auto const expected = reference(input, ir, {0, 2, 3, 7}, total, 0);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_LT(relative_error_db(out[k], expected[k]), -120.0) << "output " << k;
}

// Work done, counted by the convolver: a stack of nine sets of which only the first gets input
// (the others marked absent) does exactly the transforms and products of a stack of one set.
TEST(ConvolverTsStack, SilentSetsCostNoTransformsAndNoProducts)
{
    int const L = 12000, frames = 128, warm_up = 200, measured = 300;
    auto work = [&](int channels) {
        convolver_ts_stack stack(channels, 0);
        Channels ir;
        for (int c = 0; c < channels; ++c) {
            ir.push_back(noise(L, 500u + static_cast<unsigned>(c % 4)));
            stack.set_input_hints(c < 4, c);
        }
        std::vector<float*> p = pointers(ir);
        stack.set_sample_frames(p.data(), L);
        Channels in(static_cast<size_t>(channels), std::vector<float>(frames, 0.0f)), out = in;
        std::vector<float*> ip = pointers(in), op = pointers(out);
        std::mt19937 rng(9);
        std::normal_distribution<float> gauss(0.0f, 0.5f);
        // The worker's last pass may still be running: read once it has settled.
        auto settled = [&stack]() {
            auto previous = stack.convolver()->work_counters();
            for (int tries = 0; tries < 500; ++tries) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                auto const now = stack.convolver()->work_counters();
                if (now.forward_transforms == previous.forward_transforms &&
                    now.spectrum_products == previous.spectrum_products)
                    break;
                previous = now;
            }
            return previous;
        };
        fft_conv_worker_thread_ts_stack::WorkCounters before{};
        for (int block = 0; block < warm_up + measured; ++block) {
            if (block == warm_up) before = settled(); // the silent histories are full by now
            for (float& v : in[0])
                v = gauss(rng);
            in[2] = in[0];
            stack.process_frames(ip.data(), op.data(), frames);
        }
        auto const after = settled();
        return std::pair{after.forward_transforms - before.forward_transforms,
                         after.spectrum_products - before.spectrum_products};
    };
    auto const one_set = work(4);
    auto const nine_sets = work(36);
    EXPECT_GT(one_set.first, 0);
    EXPECT_EQ(nine_sets.first, one_set.first);
    EXPECT_EQ(nine_sets.second, one_set.second);
}

TEST(ConvolverTsStack, ProcessFramesAllocatesNothing)
{
    int const channels = 36, L = 12000;
    convolver_ts_stack stack(channels, 0);
    Channels ir;
    for (int c = 0; c < channels; ++c) {
        ir.push_back(noise(L, 600u + static_cast<unsigned>(c)));
        stack.set_input_hints(c % 8 < 4, c);
        stack.set_bypasses(c % 12 == 5, c % 12 == 5, c);
    }
    std::vector<float*> p = pointers(ir);
    stack.set_sample_frames(p.data(), L);
    Channels in(channels, noise(16384, 601, 8)), out(channels, std::vector<float>(16384));
    std::vector<float*> ip = pointers(in), op = pointers(out);
    corvella::test::AllocationCounter counter;
    for (int n : {128, 1, 16384, 4000, 128, 128})
        stack.process_frames(ip.data(), op.data(), n);
    EXPECT_EQ(counter.count(), 0);
}

} // namespace
