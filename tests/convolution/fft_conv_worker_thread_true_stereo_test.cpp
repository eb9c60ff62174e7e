#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

using corvella::test::reference_convolve;
using corvella::test::relative_error_db;
using Channels = std::vector<std::vector<float>>;

struct Convolver {
    explicit Convolver(int N)
    {
        started = fft_conv_worker_thread_true_stereo::fft_conv_worker_thread_initialise_true_stereo(&c, &handle,
                                                                                                    nullptr, N);
    }
    ~Convolver()
    {
        if (c == nullptr) return;
        c->trigger_kill();
        while (!c->has_thread_finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete c;
    }
    fft_conv_worker_thread_true_stereo* operator->() const { return c; }
    void load(Channels& ir)
    {
        float* p[4] = {ir[0].data(), ir[1].data(), ir[2].data(), ir[3].data()};
        c->load_ir_data(p, static_cast<int>(ir[0].size()));
    }
    // Four inputs (zero-padded to `total`) in random calls of 1 to 4096 frames; two outputs.
    Channels run(Channels input, int total, unsigned seed) const
    {
        Channels out(2, std::vector<float>(static_cast<size_t>(total), 0.0f));
        for (auto& channel : input)
            channel.resize(static_cast<size_t>(total), 0.0f);
        std::mt19937 rng(seed);
        corvella::test::AllocationCounter allocations;
        for (int done = 0, n = 0; done < total; done += n) {
            n = std::min(total - done, std::uniform_int_distribution<int>(1, 4096)(rng));
            float* in[4];
            for (int k = 0; k < 4; ++k)
                in[k] = input[static_cast<size_t>(k)].data() + done;
            float* o[2] = {out[0].data() + done, out[1].data() + done};
            c->process_not_replacing(in, o, n);
        }
        EXPECT_EQ(allocations.count(), 0);
        return out;
    }

    fft_conv_worker_thread_true_stereo* c = nullptr;
    void* handle = nullptr;
    bool started = false;
};

std::vector<float> noise(int length, unsigned seed, double decay_fraction = 0.25)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length));
    double const tau = std::max(1.0, length * decay_fraction);
    for (int i = 0; i < length; ++i)
        x[static_cast<size_t>(i)] = gauss(rng) * static_cast<float>(std::exp(-i / tau));
    return x;
}

// output 0 = in0 * ir0 + in2 * ir2, output 1 = in1 * ir1 + in3 * ir3, delayed by 2N.
std::vector<double> four_path_reference(Channels const& in, Channels const& ir, int output, int total, int N)
{
    std::vector<double> a = reference_convolve(in[static_cast<size_t>(output)], ir[static_cast<size_t>(output)], total);
    std::vector<double> const b =
        reference_convolve(in[static_cast<size_t>(output + 2)], ir[static_cast<size_t>(output + 2)], total);
    std::vector<double> y(static_cast<size_t>(total), 0.0);
    for (int t = 2 * N; t < total; ++t)
        y[static_cast<size_t>(t)] = a[static_cast<size_t>(t - 2 * N)] + b[static_cast<size_t>(t - 2 * N)];
    return y;
}

// The four paths against brute force, with threaded levels, for the engine's inputs (L, L, R, R),
// for sides whose two inputs differ for a while (the pre-mixer's balance), and across silences long
// enough for every level to go idle.
TEST(FftConvTrueStereo, FourPathsEqualBruteForceConvolution)
{
    int const N = 128, L = 20000; // levels 128, 512, 2048 and 8192, the last threaded
    Channels ir;
    for (unsigned c = 0; c < 4; ++c)
        ir.push_back(noise(L, 60 + c));
    // Bursts of noise (cheap to reference) spanning every level's block boundaries.
    int const input_length = 60000;
    std::vector<float> left(input_length, 0.0f), right(input_length, 0.0f);
    for (int start : {0, 21000, 45000}) {
        std::vector<float> const l = noise(2500, 70 + start, 10.0), r = noise(2500, 71 + start, 10.0);
        std::copy(l.begin(), l.end(), left.begin() + start);
        std::copy(r.begin(), r.end(), right.begin() + start);
    }
    struct Case {
        char const* name;
        int phase_offset;
        bool balance, silence;
    };
    Case const cases[] = {{"L L R R", 1, false, false},
                          {"balance on both sides", 54321, true, false},
                          {"idle in between", 98048, false, true}};
    unsigned seed = 80;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Channels in = {left, left, right, right};
        if (c.balance) // right output gains differ from the left ones for a stretch
            for (int i = 20000; i < 46000; ++i) {
                in[1][static_cast<size_t>(i)] *= 0.25f;
                in[3][static_cast<size_t>(i)] *= 1.5f;
            }
        int total = input_length + L + 2 * N;
        if (c.silence) { // a burst, silence longer than the response, then the input again
            for (auto& channel : in) {
                std::fill(channel.begin() + 3000, channel.end(), 0.0f);
                channel.resize(static_cast<size_t>(3000 + 3 * L), 0.0f);
                channel.insert(channel.end(), left.begin(), left.begin() + 5000);
            }
            total = static_cast<int>(in[0].size()) + L + 2 * N;
        }
        Convolver convolver(N);
        ASSERT_TRUE(convolver.started);
        convolver->phase_offset = c.phase_offset;
        convolver.load(ir);
        Channels const out = convolver.run(in, total, ++seed);
        for (int o = 0; o < 2; ++o)
            EXPECT_LT(relative_error_db(out[static_cast<size_t>(o)], four_path_reference(in, ir, o, total, N)), -120.0)
                << "output " << o;
        if (c.silence) {
            EXPECT_GT(convolver->skipped_level_blocks(), 0);
        }
        if (!c.balance) {
            // Both sides shared their transforms: two forward per block that saw input, two inverse
            // per block whose history did (four forward would outnumber the inverse ones).
            auto const work = convolver->work_counters();
            EXPECT_LE(work.forward_transforms, work.inverse_transforms);
        }
    }
}

// Each of the four paths lands on its own output with its own response, also when one section's
// response is loaded in the other's place: a unit impulse at a distinct delay per path shows which.
TEST(FftConvTrueStereo, EachPathReachesItsOwnOutputWhicheverSectionIsLoadedWhere)
{
    int const N = 64, L = 2000;
    int const delay[4] = {100, 300, 700, 1500};  // A left, A right, B left, B right
    float const gain[4] = {1.0f, -0.5f, 0.25f, 2.0f};
    Channels sections(4, std::vector<float>(static_cast<size_t>(L), 0.0f));
    for (int c = 0; c < 4; ++c)
        sections[static_cast<size_t>(c)][static_cast<size_t>(delay[c])] = gain[c];
    int const order[2][4] = {{0, 1, 2, 3}, {2, 3, 0, 1}}; // as built; B's response in A's place and back
    for (auto const& placed : order) {
        Channels ir;
        for (int c : placed)
            ir.push_back(sections[static_cast<size_t>(c)]);
        for (int input = 0; input < 4; ++input) { // an impulse on one input at a time
            SCOPED_TRACE(testing::Message() << "placed " << placed[0] << placed[1] << placed[2] << placed[3]
                                            << ", impulse on input " << input);
            Convolver convolver(N);
            convolver.load(ir);
            Channels in(4, std::vector<float>(1, 0.0f));
            in[static_cast<size_t>(input)][0] = 1.0f;
            int const total = L + 4 * N;
            Channels const out = convolver.run(in, total, 90);
            for (int o = 0; o < 2; ++o) {
                std::vector<float> expected(static_cast<size_t>(total), 0.0f);
                if (input % 2 == o) { // input c reaches output c mod 2 only, through channel c's response
                    int const section = placed[input];
                    expected[static_cast<size_t>(2 * N + delay[section])] = gain[section];
                }
                for (int t = 0; t < total; ++t)
                    ASSERT_NEAR(out[static_cast<size_t>(o)][static_cast<size_t>(t)],
                                expected[static_cast<size_t>(t)], 1e-5f)
                        << "output " << o << " at " << t;
            }
        }
    }
}

} // namespace
