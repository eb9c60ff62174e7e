#include "convolution/convolver_ts_stack_modulated.h"
#include "platform/floating_point_state.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The modulators flush denormals on the calling thread, as the engine's entry expects; the tests
// give the thread its mode back, as that entry does.
class ConvolverTsStackModulated : public testing::Test {
    corvella::ScopedFloatingPointState floating_point_;
};

using corvella::test::reference_convolve;
using Channels = std::vector<std::vector<float>>;

std::vector<float> noise(int length, unsigned seed, double decay = 4.0)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        x[static_cast<size_t>(i)] = gauss(rng) * static_cast<float>(std::exp(-decay * i / length));
    return x;
}

// A stack of `sections` sets: the head set, then tail sets made by `tail(set, channel)`.
template <typename Tail>
Channels stack_ir(int sections, int length, Tail tail)
{
    Channels ir;
    for (int c = 0; c < 4; ++c)
        ir.push_back(noise(length, 100u + static_cast<unsigned>(c)));
    for (int s = 1; s < sections; ++s)
        for (int c = 0; c < 4; ++c)
            ir.push_back(tail(s, c));
    return ir;
}

void load(convolver_ts_stack_modulated& conv, Channels& ir)
{
    std::vector<float*> p;
    for (auto& channel : ir)
        p.push_back(channel.data());
    conv.set_sample_frames(p.data(), static_cast<int>(ir[0].size()));
}

void pitch_off(convolver_ts_stack_modulated& conv)
{
    conv.set_pitch_modulation_parameter(4, 0.0f);
    conv.set_pitch_modulation_parameter(5, 0.0f);
}

// Stereo `input` through the convolver in calls of random size (or of `block` frames).
Channels run(convolver_ts_stack_modulated& conv, Channels input, unsigned seed, int block = 0)
{
    int const total = static_cast<int>(input[0].size());
    Channels out(2, std::vector<float>(static_cast<size_t>(total)));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(1, 700);
    for (int done = 0, n = 0; done < total; done += n) {
        n = std::min(total - done, block > 0 ? block : size(rng));
        float* in[2] = {input[0].data() + done, input[1].data() + done};
        float* o[2] = {out[0].data() + done, out[1].data() + done};
        conv.process_frames(in, o, n);
    }
    return out;
}

// Left and right of the true-stereo convolution of `input` with channels `first`..`first`+3 of `ir`.
std::vector<std::vector<double>> true_stereo(Channels const& input, Channels const& ir, int first)
{
    size_t const total = input[0].size();
    std::vector<std::vector<double>> out(2, std::vector<double>(total, 0.0));
    for (int c = 0; c < 4; ++c) {
        std::vector<double> const y = reference_convolve(input[c < 2 ? 0 : 1], ir[static_cast<size_t>(first + c)], total);
        for (size_t i = 0; i < total; ++i)
            out[static_cast<size_t>(c % 2)][i] += y[i];
    }
    return out;
}

double max_step(std::vector<double> const& x)
{
    double step = 0.0;
    for (size_t i = 1; i < x.size(); ++i)
        step = std::max(step, std::abs(x[i] - x[i - 1]));
    return step;
}

TEST_F(ConvolverTsStackModulated, MovingTheInputBetweenEqualSectionsIsThePlainTrueStereoConvolution)
{
    // Crossfade gains that did not sum to one, or a section dropped while it still rings, would
    // show here: every tail section holds the same response, so where the input goes cannot matter.
    int const length = 3000;
    Channels ir = stack_ir(9, length, [](int, int c) { return noise(length, 200u + static_cast<unsigned>(c)); });
    convolver_ts_stack_modulated conv(36, 0);
    conv.set_head_enabled(true);
    pitch_off(conv);
    conv.set_mod_rate(400.0f); // a crossfade every 110 frames, several in some calls
    load(conv, ir);
    Channels input{noise(24000, 1, 0.0), noise(24000, 2, 0.0)};
    Channels const out = run(conv, input, 7);

    auto reference = true_stereo(input, ir, 0);
    auto const tail = true_stereo(input, ir, 4);
    for (int side = 0; side < 2; ++side) {
        for (size_t i = 0; i < reference[0].size(); ++i)
            reference[static_cast<size_t>(side)][i] += tail[static_cast<size_t>(side)][i];
        EXPECT_LT(corvella::test::relative_error_db(out[static_cast<size_t>(side)], reference[static_cast<size_t>(side)]), -100.0)
            << "side " << side;
    }
}

TEST_F(ConvolverTsStackModulated, ChangingSectionsMakesNoStepLargerThanTheSectionsOwn)
{
    int const length = 600;
    Channels ir = stack_ir(9, length, [](int s, int c) { return noise(length, 300u + static_cast<unsigned>(4 * s + c)); });
    convolver_ts_stack_modulated conv(36, 0);
    conv.set_head_enabled(true);
    pitch_off(conv);
    conv.set_mod_rate(40.0f);
    load(conv, ir);
    Channels input(2, std::vector<float>(14000));
    for (size_t i = 0; i < input[0].size(); ++i)
        input[0][i] = input[1][i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 44100.0));
    Channels const out = run(conv, input, 11, 128);

    auto const head = true_stereo(input, ir, 0);
    for (int side = 0; side < 2; ++side) {
        double allowed = 0.0, peak = 0.0;
        for (int s = 1; s < 9; ++s) {
            std::vector<double> y = true_stereo(input, ir, 4 * s)[static_cast<size_t>(side)];
            for (size_t i = 0; i < y.size(); ++i) {
                y[i] += head[static_cast<size_t>(side)][i];
                peak = std::max(peak, std::abs(y[i]));
            }
            allowed = std::max(allowed, max_step(y));
        }
        // The gains move by at most pi/2 / period per frame, on both faded signals.
        allowed += 2.0 * peak * M_PI / 2.0 / 1102.0;
        std::vector<double> const actual(out[static_cast<size_t>(side)].begin(), out[static_cast<size_t>(side)].end());
        EXPECT_LE(max_step(actual), allowed * 1.001) << "side " << side;
    }
}

TEST_F(ConvolverTsStackModulated, SectionsFollowTheDrawsAtTheCrossfadeRate)
{
    for (float const rate : {1.0f, 0.5f}) {
        convolver_ts_stack_modulated conv(36, 256);
        conv.set_mod_rate(rate);
        auto const period = static_cast<long>(44100 / rate);
        ASSERT_EQ(conv.crossfade_period(), period);
        unsigned seed = 1;
        int previous = 1, current = 2;
        long processed = 0;
        Channels input(2, std::vector<float>(512));
        Channels out(2, std::vector<float>(512));
        while (processed < 3 * period + 1000) {
            float* in[2] = {input[0].data(), input[1].data()};
            float* o[2] = {out[0].data(), out[1].data()};
            conv.process_frames(in, o, 512);
            // A new crossfade starts each time the position comes back to 0.
            for (long wraps = (processed + 512) / period - processed / period; wraps > 0; --wraps) {
                previous = current;
                current = static_cast<int>(static_cast<unsigned>(rand_r(&seed)) % 8u) + 1;
            }
            processed += 512;
            ASSERT_EQ(conv.previous_section(), previous) << "rate " << rate << " after " << processed;
            ASSERT_EQ(conv.current_section(), current) << "rate " << rate << " after " << processed;
            ASSERT_EQ(conv.crossfade_position(), processed % period);
        }
    }
}

TEST_F(ConvolverTsStackModulated, RateChangesKeepTheCrossfadePhaseAndTwoSectionsAlwaysDrawTheFirstTail)
{
    convolver_ts_stack_modulated conv(8, 0);
    Channels buffer(2, std::vector<float>(22050));
    float* io[2] = {buffer[0].data(), buffer[1].data()};
    conv.process_frames(io, io, 22050);
    conv.set_mod_rate(1.0f); // unchanged: nothing moves
    EXPECT_EQ(conv.crossfade_position(), 22050);
    conv.set_mod_rate(0.5f); // half-way stays half-way
    EXPECT_EQ(conv.crossfade_period(), 88200);
    EXPECT_EQ(conv.crossfade_position(), 44100);
    for (int i = 0; i < 8; ++i)
        conv.process_frames(io, io, 22050);
    EXPECT_EQ(conv.current_section(), 1);
    EXPECT_EQ(conv.previous_section(), 1);
}

TEST_F(ConvolverTsStackModulated, SectionsWithoutInputOrResponseCostNothing)
{
    // Frozen crossfade: only the head and sections 1 and 2 take input, so a stack of nine must do
    // exactly the work of a stack of three once the other six have rung out; and tail sets that
    // are all zeros cost nothing at all.
    int const length = 3000;
    auto tails = [](int s, int c) { return noise(length, 400u + static_cast<unsigned>(4 * s + c)); };
    auto silent = [](int, int) { return std::vector<float>(length, 0.0f); };
    Channels input{noise(2 * 128, 5, 0.0), noise(2 * 128, 6, 0.0)};
    // Spectrum products of 40 blocks after a warm-up longer than the response.
    auto work = [&](int sections, auto tail) {
        Channels ir = stack_ir(sections, length, tail);
        convolver_ts_stack_modulated conv(4 * sections, 0);
        conv.set_head_enabled(true);
        conv.set_mod_rate(0.0f);
        load(conv, ir);
        for (int i = 0; i < 60; ++i)
            run(conv, input, 0, 128);
        long long const before = conv.stack().convolver()->work_counters().spectrum_products;
        for (int i = 0; i < 40; ++i)
            run(conv, input, 0, 128);
        return std::pair{conv.stack().convolver()->work_counters().spectrum_products - before, conv.live_sections()};
    };
    auto const [three, live3] = work(3, tails);
    auto const [nine, live9] = work(9, tails);
    EXPECT_GT(three, 0);
    EXPECT_EQ(nine, three);
    EXPECT_EQ(live9, 3);
    auto const [head_of_nine, live_head] = work(9, silent);
    auto const [head_of_two, live_two] = work(2, silent);
    EXPECT_EQ(head_of_nine, head_of_two);
    EXPECT_LT(head_of_nine, three / 2);
    EXPECT_EQ(live_head, 1);
}

TEST_F(ConvolverTsStackModulated, ADisabledHeadRingsOutAndTakesNoNewInput)
{
    int const length = 2000;
    Channels ir = stack_ir(2, length, [](int, int) { return std::vector<float>(length, 0.0f); });
    convolver_ts_stack_modulated conv(8, 0);
    conv.set_head_enabled(true);
    load(conv, ir);
    Channels input{noise(8192, 8, 0.0), noise(8192, 9, 0.0)};
    run(conv, input, 0, 128);
    conv.set_head_enabled(false);
    Channels const out = run(conv, input, 0, 128);
    auto energy = [&](int from, int to) {
        double e = 0.0;
        for (int i = from; i < to; ++i)
            e += static_cast<double>(out[0][static_cast<size_t>(i)]) * out[0][static_cast<size_t>(i)];
        return e;
    };
    EXPECT_GT(energy(0, 1024), 0.0);        // what the head held rings on
    EXPECT_EQ(energy(4096, 8192), 0.0);      // and nothing new arrives
}

TEST_F(ConvolverTsStackModulated, PitchParametersReachTheirPairTheSecondAtNinetyFivePercent)
{
    convolver_ts_stack_modulated conv(36, 0);
    conv.set_pitch_modulation_parameter(0, 0.4f);
    conv.set_pitch_modulation_parameter(3, 0.6f);
    conv.set_pitch_modulation_parameter(5, 0.0f);
    conv.set_pitch_modulation_parameter(6, 0.0f); // ignored
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(conv.modulator(0)->get_delay_mod_rate_hz(c), std::pow(1000.0, 0.4) / 50.0, 1e-4);
        EXPECT_NEAR(conv.modulator(1)->get_delay_mod_rate_hz(c), std::pow(1000.0, 0.95 * 0.4) / 50.0, 1e-4);
        EXPECT_NEAR(conv.modulator(2)->get_delay_mod_rate_hz(c), 0.7, 1e-6); // tail rate untouched
        EXPECT_NEAR(conv.modulator(2)->get_delay_mod_ms(c), 3.0 * 0.6, 1e-5);
        EXPECT_NEAR(conv.modulator(3)->get_delay_mod_ms(c), 3.0 * 0.95 * 0.6, 1e-5);
        EXPECT_TRUE(conv.modulator(0)->get_toggle(c));
        EXPECT_FALSE(conv.modulator(2)->get_toggle(c));
        EXPECT_FALSE(conv.modulator(3)->get_toggle(c));
    }
}

TEST_F(ConvolverTsStackModulated, RefusesBadShapesAndProcessesWithoutAllocating)
{
    struct Case { int channels, buffer_length; char const* message; };
    for (Case const& bad : {Case{36, 100, "Convolver must be initialised with a buffer length as a power of two or zero"},
                            Case{4, 0, "Invalid channel count for convolver_ts_stack_modulated"},
                            Case{38, 0, "Invalid channel count for convolver_ts_stack_modulated"},
                            Case{72, 0, "Invalid channel count for convolver_ts_stack_modulated"}}) {
        try {
            convolver_ts_stack_modulated conv(bad.channels, bad.buffer_length);
            ADD_FAILURE() << bad.channels << " " << bad.buffer_length << " accepted";
        } catch (std::runtime_error const& e) {
            EXPECT_EQ(std::string(e.what()), bad.message);
        }
    }
    Channels ir = stack_ir(9, 2000, [](int s, int c) { return noise(2000, 500u + static_cast<unsigned>(4 * s + c)); });
    convolver_ts_stack_modulated conv(36, 0);
    conv.set_head_enabled(true);
    conv.set_mod_rate(30.0f);
    load(conv, ir);
    Channels input{noise(4096, 10, 0.0), noise(4096, 11, 0.0)};
    Channels out = run(conv, input, 3);
    float* in[2] = {input[0].data(), input[1].data()};
    float* o[2] = {out[0].data(), out[1].data()};
    corvella::test::AllocationCounter allocations;
    for (int block : {128, 1, 700, 4096})
        conv.process_frames(in, o, block);
    EXPECT_EQ(allocations.count(), 0);
}

} // namespace
