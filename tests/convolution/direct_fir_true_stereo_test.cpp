#include "convolution/direct_fir_true_stereo.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using corvella::test::reference_convolve;
using corvella::test::relative_error_db;
using Channels = std::vector<std::vector<float>>;

std::vector<float> noise(int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length));
    for (auto& v : x)
        v = gauss(rng);
    return x;
}

Channels four_noises(int length, unsigned seed)
{
    return {noise(length, seed), noise(length, seed + 1), noise(length, seed + 2), noise(length, seed + 3)};
}

void load(direct_fir_true_stereo& head, Channels& taps, int count)
{
    float* p[4] = {taps[0].data(), taps[1].data(), taps[2].data(), taps[3].data()};
    head.load_ir_data(p, count);
}

// Feeds input[.][from, from + sizes...) in calls of the given sizes (cycled) into out[.].
void run(direct_fir_true_stereo& head, Channels& input, Channels& out, int from, int to,
         std::vector<int> const& sizes)
{
    for (int done = from, call = 0; done < to; ++call) {
        int const n = std::min(to - done, sizes[static_cast<size_t>(call) % sizes.size()]);
        float* in[4];
        for (int k = 0; k < 4; ++k)
            in[k] = input[static_cast<size_t>(k)].data() + done;
        float* o[2] = {out[0].data() + done, out[1].data() + done};
        head.process_not_replacing(in, o, n);
        done += n;
    }
}

Channels outputs(int length)
{
    return Channels(2, std::vector<float>(static_cast<size_t>(length), 0.0f));
}

// Output c = in[c] * taps[c] + in[c + 2] * taps[c + 2], in double precision.
std::vector<double> reference(Channels const& in, Channels const& taps, int output)
{
    auto const total = in[0].size();
    std::vector<double> sum =
        reference_convolve(in[static_cast<size_t>(output)], taps[static_cast<size_t>(output)], total);
    std::vector<double> const other =
        reference_convolve(in[static_cast<size_t>(output + 2)], taps[static_cast<size_t>(output + 2)], total);
    for (size_t i = 0; i < total; ++i)
        sum[i] += other[i];
    return sum;
}

std::vector<float> slice(std::vector<float> const& x, int from)
{
    return {x.begin() + from, x.end()};
}

std::vector<double> slice(std::vector<double> const& x, int from)
{
    return {x.begin() + from, x.end()};
}

enum class Feed { identical_sides, distinct, identical_but_a_stretch };

Channels feed(Feed kind, int length)
{
    Channels in = four_noises(length, 40);
    if (kind == Feed::distinct) return in;
    in[1] = in[0];
    in[3] = in[2];
    if (kind == Feed::identical_but_a_stretch) {
        for (int i = length / 3; i < length / 3 + 700; ++i)
            in[1][static_cast<size_t>(i)] *= 0.5f; // side A differs for a while, then agrees again
        // and a silence longer than any window
        for (auto& channel : in)
            std::fill(channel.begin() + 2 * length / 3, channel.begin() + 2 * length / 3 + 1500, 0.0f);
    }
    return in;
}

TEST(DirectFirTrueStereo, MatchesTheFourPathReferenceAtAnyCallSizes)
{
    constexpr int T = 256;
    constexpr int length = 24000;
    Channels taps = four_noises(T, 7);
    std::vector<int> random_sizes;
    std::mt19937 rng(3);
    for (int i = 0; i < 40; ++i)
        random_sizes.push_back(std::uniform_int_distribution<int>(1, 4096)(rng));
    std::vector<std::vector<int>> patterns;
    for (int size : {1, 7, 32, 64, 128, 255, 256, 257, 1000})
        patterns.push_back({size});
    patterns.push_back({3, 128, 1, 500, 64, 257});
    patterns.push_back({64, 64, 32, 128, 128, 64, 7}); // block sizes taking turns
    patterns.push_back(random_sizes);
    for (Feed kind : {Feed::identical_sides, Feed::distinct, Feed::identical_but_a_stretch}) {
        Channels in = feed(kind, length);
        std::vector<double> const expected[2] = {reference(in, taps, 0), reference(in, taps, 1)};
        // The default crossover; every chunk transformed; every chunk that can be filtered directly
        // (all but the longest and the block sizes) filtered so, with the best vector code and
        // with the portable one.
        struct Mode {
            int threshold; // 0: the default
            corvella::IppsCodePath path;
        };
        auto const best = corvella::ipps_best_code_path();
        auto const portable = corvella::IppsCodePath::portable;
        for (Mode mode : {Mode{0, best}, Mode{1, best}, Mode{T + 1, best}, Mode{T + 1, portable}}) {
            ASSERT_TRUE(corvella::ipps_set_code_path(mode.path));
            // Later tests get the best path back whatever happens here.
            struct Restore {
                corvella::IppsCodePath path;
                ~Restore() { corvella::ipps_set_code_path(path); }
            } const restore{best};
            for (auto const& sizes : patterns) {
                SCOPED_TRACE("feed " + std::to_string(static_cast<int>(kind)) + ", threshold " +
                             std::to_string(mode.threshold) + ", path " +
                             corvella::ipps_code_path_name(mode.path) + ", first call " +
                             std::to_string(sizes[0]));
                direct_fir_true_stereo head(T);
                if (mode.threshold != 0) head.set_direct_threshold(mode.threshold);
                load(head, taps, T);
                Channels out = outputs(length);
                run(head, in, out, 0, length, sizes);
                EXPECT_LT(relative_error_db(out[0], expected[0]), -120.0);
                EXPECT_LT(relative_error_db(out[1], expected[1]), -120.0);
            }
        }
    }
}

TEST(DirectFirTrueStereo, LoadsUpToTheTapCountAndContinuesTheHistory)
{
    constexpr int T = 24; // not a power of two
    constexpr int length = 3000;
    Channels in = four_noises(length, 11);
    Channels first = four_noises(T + 1, 21);
    Channels second = four_noises(T + 1, 31);
    direct_fir_true_stereo head(T);
    EXPECT_EQ(head.get_length(), T);
    load(head, first, T); // exactly the tap count: accepted
    try {
        load(head, second, T + 1);
        ADD_FAILURE() << "more samples than taps were accepted";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(),
                     "Incorrect number of sample frames attempted to be loaded by initial FIR block");
    }
    Channels out = outputs(length);
    run(head, in, out, 0, length / 2, {100, 3});
    // Mid-stream, fewer samples than taps: the rest are zero, and the inputs already played ring
    // through the new taps.
    load(head, second, T - 5);
    run(head, in, out, length / 2, length, {37, 1});

    for (auto& channel : first)
        channel.resize(T); // what was loaded before the refused load
    for (auto& channel : second) {
        std::fill(channel.begin() + (T - 5), channel.end(), 0.0f);
        channel.resize(T);
    }
    for (int o = 0; o < 2; ++o) {
        std::vector<float> const before(out[static_cast<size_t>(o)].begin(),
                                        out[static_cast<size_t>(o)].begin() + length / 2);
        std::vector<double> const expected_before = reference(in, first, o);
        EXPECT_LT(relative_error_db(before, {expected_before.begin(), expected_before.begin() + length / 2}),
                  -120.0);
        EXPECT_LT(relative_error_db(slice(out[static_cast<size_t>(o)], length / 2),
                                    slice(reference(in, second, o), length / 2)),
                  -120.0);
    }
}

TEST(DirectFirTrueStereo, ClearedFilterEqualsAFreshOneAndProcessingAllocatesNothing)
{
    constexpr int T = 256;
    constexpr int length = 2000;
    Channels taps = four_noises(T, 5);
    Channels in = feed(Feed::identical_sides, length);
    direct_fir_true_stereo used(T), fresh(T);
    load(used, taps, T);
    load(fresh, taps, T);
    Channels out = outputs(length), expected = outputs(length);
    Channels other = four_noises(length, 90);
    std::vector<int> const sizes = {128, 1, 300};
    {
        corvella::test::AllocationCounter allocations;
        run(used, other, out, 0, length, sizes);
        EXPECT_EQ(allocations.count(), 0);
    }
    used.clear_delay_line();
    run(used, in, out, 0, length, {128, 5});
    run(fresh, in, expected, 0, length, {128, 5});
    EXPECT_EQ(out, expected);
}

// A block is filtered entirely with the old or entirely with the new taps while another thread loads.
TEST(DirectFirTrueStereo, ABlockSeesEitherTheOldOrTheNewTaps)
{
    constexpr int T = 256;
    constexpr int block = 128;
    Channels a(4, std::vector<float>(T, 0.0f)), b = a;
    for (auto& channel : a)
        channel[0] = 1.0f; // each output: the sum of both its inputs
    for (auto& channel : b)
        channel[0] = -1.0f;
    direct_fir_true_stereo head(T);
    load(head, a, T);
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        for (int i = 0; !stop.load(); ++i)
            load(head, i % 2 == 0 ? b : a, T);
    });
    Channels in(4, std::vector<float>(block, 0.25f));
    Channels out = outputs(block);
    for (int round = 0; round < 400; ++round) {
        run(head, in, out, 0, block, {block});
        float const first = out[0][0];
        ASSERT_NEAR(std::abs(first), 0.5f, 1e-6f);
        for (auto const& channel : out)
            for (float v : channel)
                ASSERT_NEAR(v, first, 1e-6f);
    }
    stop.store(true);
    loader.join();
}

} // namespace
