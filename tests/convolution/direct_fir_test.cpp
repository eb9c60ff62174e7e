// Exactness against a brute-force convolution and freedom from allocation are tested with the FFT
// convolver, whose head this filter is.
#include "convolution/direct_fir.h"
#include "convolution/direct_fir_bypassable.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace {

std::vector<float> noise(int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> dist(0.0f, 0.5f);
    std::vector<float> x(static_cast<size_t>(length));
    for (auto& v : x)
        v = dist(rng);
    return x;
}

// One channel of `fir` over `input`, in one call.
std::vector<float> filter(direct_fir& fir, std::vector<float> input)
{
    std::vector<float> out(input.size(), 0.0f);
    float* in = input.data();
    float* o = out.data();
    fir.process_not_replacing(&in, &o, static_cast<int>(input.size()));
    return out;
}

TEST(DirectFir, LoadRefusesMoreSamplesThanTapsAndKeepsTheHistory)
{
    direct_fir fir(1, 8);
    std::vector<float> ir = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    float* p = ir.data();
    fir.load_ir_data(&p, 8); // exactly the tap count: accepted
    try {
        fir.load_ir_data(&p, 9);
        ADD_FAILURE() << "nine samples into eight taps";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(),
                     "Incorrect number of sample frames attempted to be loaded by initial FIR block");
    }
    // The refused load left the taps; the impulse played now rings through the shorter load that
    // follows, whose missing taps are zero.
    EXPECT_EQ(filter(fir, {1, 0, 0}), (std::vector<float>{1, 2, 3}));
    std::vector<float> shorter = {10, 20, 30, 40, 50};
    float* q = shorter.data();
    fir.load_ir_data(&q, 5);
    EXPECT_EQ(filter(fir, std::vector<float>(6, 0.0f)), (std::vector<float>{40, 50, 0, 0, 0, 0}));
}

TEST(DirectFirBypassable, BypassedChannelIsSilentAndResumesFromItsHistory)
{
    auto ir = noise(32, 9);
    float* taps[2] = {ir.data(), ir.data()};
    direct_fir_bypassable fir(2, 32);
    direct_fir reference(1, 32);
    fir.load_ir_data(taps, 32);
    reference.load_ir_data(taps, 32);
    std::vector<float> out0(100), out1(100);
    auto run = [&](std::vector<float> input) {
        float* in[2] = {input.data(), input.data()};
        float* out[2] = {out0.data(), out1.data()};
        fir.process_not_replacing(in, out, 100);
    };
    auto const a = noise(100, 10), c = noise(100, 12);
    run(a);
    EXPECT_EQ(out1, filter(reference, a));
    fir.set_bypass(1, true);
    EXPECT_TRUE(fir.is_bypassed(1));
    run(noise(100, 11));
    EXPECT_EQ(out1, std::vector<float>(100, 0.0f));
    EXPECT_NE(out0, std::vector<float>(100, 0.0f));
    fir.set_bypass(1, false); // as if the bypassed block had never been played to channel 1
    run(c);
    EXPECT_EQ(out1, filter(reference, c));
}

} // namespace
