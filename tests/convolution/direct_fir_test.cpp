#include "convolution/direct_fir.h"
#include "convolution/direct_fir_bypassable.h"
#include "support/allocation_counter.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace {

std::vector<float> noise(int length, unsigned seed, float deviation = 0.5f)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> dist(0.0f, deviation);
    std::vector<float> x(static_cast<size_t>(length));
    for (auto& v : x)
        v = dist(rng);
    return x;
}

// Filters `input` through one channel of `fir` in the given call sizes.
std::vector<float> filter(direct_fir& fir, std::vector<float> const& input, std::vector<int> const& calls)
{
    std::vector<float> out(input.size(), 0.0f);
    size_t done = 0;
    for (int n : calls) {
        float* in = const_cast<float*>(input.data()) + done;
        float* o = out.data() + done;
        fir.process_not_replacing(&in, &o, n);
        done += static_cast<size_t>(n);
    }
    return out;
}

TEST(DirectFir, UnitTapPassesInputWithoutDelay)
{
    direct_fir fir(2, 256);
    std::vector<float> tap0 = {1.0f}, tap1 = {-2.0f};
    float* taps[2] = {tap0.data(), tap1.data()};
    fir.load_ir_data(taps, 1);
    auto in0 = noise(1000, 1), in1 = noise(1000, 2);
    std::vector<float> out0(1000), out1(1000);
    float* in[2] = {in0.data(), in1.data()};
    float* out[2] = {out0.data(), out1.data()};
    fir.process_not_replacing(in, out, 1000);
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(out0[i], in0[i]);
        ASSERT_EQ(out1[i], -2.0f * in1[i]);
    }
}

TEST(DirectFir, MatchesBruteForceConvolutionForAnyCallSizes)
{
    for (int taps : {1, 16, 256, 1024, 2048}) {
        SCOPED_TRACE("taps " + std::to_string(taps));
        direct_fir fir(1, taps);
        auto ir = noise(taps, 10 + static_cast<unsigned>(taps));
        float* p = ir.data();
        fir.load_ir_data(&p, taps);
        auto input = noise(40000, 3);
        std::mt19937 rng(static_cast<unsigned>(taps));
        std::vector<int> calls;
        for (int left = 40000; left > 0;) {
            int const n = std::min(left, std::uniform_int_distribution<int>(1, 5000)(rng));
            calls.push_back(n);
            left -= n;
        }
        auto const out = filter(fir, input, calls);
        auto const reference = corvella::test::reference_convolve(input, ir, input.size());
        EXPECT_LT(corvella::test::relative_error_db(out, reference), -120.0);
    }
}

TEST(DirectFir, SplitCallsEqualOneCall)
{
    auto ir = noise(256, 4);
    auto input = noise(3000, 5);
    direct_fir whole(1, 256), split(1, 256);
    float* p = ir.data();
    whole.load_ir_data(&p, 256);
    split.load_ir_data(&p, 256);
    EXPECT_EQ(filter(whole, input, {3000}), filter(split, input, {1, 999, 255, 1, 1744}));
}

TEST(DirectFir, LoadingKeepsHistoryAndRefusesTooManySamples)
{
    direct_fir fir(1, 8);
    std::vector<float> ir = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    float* p = ir.data();
    fir.load_ir_data(&p, 8); // exactly the tap count: accepted
    EXPECT_THROW(
        {
            try {
                fir.load_ir_data(&p, 9);
            } catch (std::runtime_error const& e) {
                EXPECT_STREQ(e.what(),
                             "Incorrect number of sample frames attempted to be loaded by initial FIR block");
                throw;
            }
        },
        std::runtime_error);

    // The old taps stay: an impulse returns 1..8.
    std::vector<float> impulse(10, 0.0f);
    impulse[0] = 1.0f;
    auto out = filter(fir, impulse, {10});
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[static_cast<size_t>(i)], static_cast<float>(i + 1));
    EXPECT_EQ(out[8], 0.0f);

    // Fewer samples leave the rest of the taps zero, and the history carries on: the impulse played
    // before the load now rings through the new taps.
    direct_fir ringing(1, 8);
    ringing.load_ir_data(&p, 8);
    std::vector<float> first = {1.0f, 0.0f, 0.0f};
    filter(ringing, first, {3});
    std::vector<float> shorter = {10.0f, 20.0f, 30.0f, 40.0f, 50.0f};
    float* q = shorter.data();
    ringing.load_ir_data(&q, 5);
    std::vector<float> silence(6, 0.0f);
    auto tail = filter(ringing, silence, {6});
    EXPECT_EQ(tail, (std::vector<float>{40.0f, 50.0f, 0.0f, 0.0f, 0.0f, 0.0f}));
}

TEST(DirectFir, ClearedDelayLineBehavesLikeAFreshFilter)
{
    auto ir = noise(64, 6);
    float* p = ir.data();
    direct_fir used(1, 64), fresh(1, 64);
    used.load_ir_data(&p, 64);
    fresh.load_ir_data(&p, 64);
    filter(used, noise(500, 7), {500});
    used.clear_delay_line();
    auto input = noise(700, 8);
    EXPECT_EQ(filter(used, input, {700}), filter(fresh, input, {700}));

    // In place gives the same result as out of place.
    direct_fir in_place(1, 64), out_of_place(1, 64);
    in_place.load_ir_data(&p, 64);
    out_of_place.load_ir_data(&p, 64);
    auto buffer = input;
    float* b = buffer.data();
    in_place.process_replacing(&b, 700);
    EXPECT_EQ(buffer, filter(out_of_place, input, {700}));
}

TEST(DirectFirBypassable, BypassedChannelIsSilentAndResumesFromItsHistory)
{
    auto ir = noise(32, 9);
    float* taps[2] = {ir.data(), ir.data()};
    direct_fir_bypassable fir(2, 32);
    direct_fir reference(1, 32);
    fir.load_ir_data(taps, 32);
    reference.load_ir_data(taps, 32);

    auto a = noise(100, 10), b = noise(100, 11), c = noise(100, 12);
    std::vector<float> out0(100), out1(100);
    auto run = [&](std::vector<float>& input) {
        float* in[2] = {input.data(), input.data()};
        float* out[2] = {out0.data(), out1.data()};
        fir.process_not_replacing(in, out, 100);
    };
    run(a);
    EXPECT_EQ(out1, filter(reference, a, {100}));

    fir.set_bypass(1, true);
    EXPECT_TRUE(fir.is_bypassed(1));
    run(b);
    EXPECT_EQ(out1, std::vector<float>(100, 0.0f));
    EXPECT_NE(out0, std::vector<float>(100, 0.0f));

    // Resumes as if `b` had never been played to channel 1.
    fir.set_bypass(1, false);
    run(c);
    EXPECT_EQ(out1, filter(reference, c, {100}));
}

TEST(DirectFir, ProcessingAllocatesNothing)
{
    direct_fir fir(2, 256);
    auto ir = noise(256, 13);
    float* taps[2] = {ir.data(), ir.data()};
    fir.load_ir_data(taps, 256);
    auto input = noise(16384, 14);
    std::vector<float> out0(16384), out1(16384);
    float* in[2] = {input.data(), input.data()};
    float* out[2] = {out0.data(), out1.data()};
    corvella::test::AllocationCounter counter;
    for (int n : {1, 128, 127, 16384, 3})
        fir.process_not_replacing(in, out, n);
    fir.process_replacing(out, 512);
    EXPECT_EQ(counter.count(), 0);
}

} // namespace
