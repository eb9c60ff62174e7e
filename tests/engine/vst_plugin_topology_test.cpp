// Every topology against a double-precision reference convolution, at zero latency (heads plus FFT
// tails) and at a latency of 1024 (FFT only, output and dry path delayed by exactly 1024).

#include "engine_fixture.h"

#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace corvella::test {
namespace {

// The error bound: float FFT convolution of these signals stays near -135 dB of the peak; -120 dB
// leaves room for the summing of two paths.
constexpr double error_bound_db = -120.0;

constexpr int ir_length = 3000;
constexpr size_t total = 12000;
constexpr size_t active = 5000;

std::vector<double> sum(std::vector<double> a, std::vector<double> const& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

// The reference delayed by `latency` samples, cut to `length`.
std::vector<double> delayed(std::vector<double> const& y, int latency, size_t length)
{
    std::vector<double> result(length, 0.0);
    for (size_t i = static_cast<size_t>(latency); i < length; ++i)
        result[i] = y[i - static_cast<size_t>(latency)];
    return result;
}

struct Case {
    int latency;
    int engine_latency; // 2N
};

class TopologyTest : public EngineTest, public testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        engine = make_engine(GetParam().latency);
        ASSERT_TRUE(engine->processing_enabled.load());
        set_unity_program(*engine);
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir2.pointers, ir2.length()));
    }

    std::vector<double> ref(Signal const& x, Signal const& h) const
    {
        return delayed(reference_convolve(x, h, total), GetParam().engine_latency, total);
    }

    std::unique_ptr<VST_Plugin> engine;
    FourChannelIr ir{decaying_noise(ir_length, 1), decaying_noise(ir_length, 2), decaying_noise(ir_length, 3),
                     decaying_noise(ir_length, 4)};
    FourChannelIr ir2{decaying_noise(2000, 5), decaying_noise(2000, 6), decaying_noise(2000, 7),
                      decaying_noise(2000, 8)};
    StereoSignal input{noise_burst(total, active, 11), noise_burst(total, active, 12)};
};

TEST_P(TopologyTest, ParallelStereoConvolvesEachChannelWithItsASide)
{
    StereoSignal const out = run_stereo(*engine, input);
    EXPECT_LT(relative_error_db(out.left, ref(input.left, ir.channel[0])), error_bound_db);
    EXPECT_LT(relative_error_db(out.right, ref(input.right, ir.channel[1])), error_bound_db);
}

TEST_P(TopologyTest, TrueStereoSumsBothInputsThroughSidesAAndB)
{
    engine->program->ir1_topology = 1.0f / 3.0f;
    StereoSignal const out = run_stereo(*engine, input);
    auto const left = sum(ref(input.left, ir.channel[0]), ref(input.right, ir.channel[2]));
    auto const right = sum(ref(input.left, ir.channel[1]), ref(input.right, ir.channel[3]));
    EXPECT_LT(relative_error_db(out.left, left), error_bound_db);
    EXPECT_LT(relative_error_db(out.right, right), error_bound_db);
}

TEST_P(TopologyTest, MonoStereoConvolvesTheMeanWithBothASides)
{
    engine->program->ir1_topology = 2.0f / 3.0f;
    Signal mean(total);
    for (size_t i = 0; i < total; ++i)
        mean[i] = (input.left[i] + input.right[i]) * 0.5f;
    StereoSignal const out = run_stereo(*engine, input);
    EXPECT_LT(relative_error_db(out.left, ref(mean, ir.channel[0])), error_bound_db);
    EXPECT_LT(relative_error_db(out.right, ref(mean, ir.channel[1])), error_bound_db);
}

TEST_P(TopologyTest, StsCrossFeedsTheBSideIntoTheOppositeChannel)
{
    engine->program->ir1_sts_toggle = 0.5f;
    StereoSignal const out = run_stereo(*engine, input);
    // Scratch channel 0 (left input through B left) lands in the right output and vice versa.
    auto const left = sum(ref(input.left, ir.channel[0]), ref(input.right, ir.channel[3]));
    auto const right = sum(ref(input.right, ir.channel[1]), ref(input.left, ir.channel[2]));
    EXPECT_LT(relative_error_db(out.left, left), error_bound_db);
    EXPECT_LT(relative_error_db(out.right, right), error_bound_db);
}

TEST_P(TopologyTest, StsBelowHalfIsOff)
{
    engine->program->ir1_sts_toggle = 0.49f;
    StereoSignal const out = run_stereo(*engine, input);
    EXPECT_LT(relative_error_db(out.left, ref(input.left, ir.channel[0])), error_bound_db);
}

TEST_P(TopologyTest, IrTwoAloneWithItsOwnResponse)
{
    VST_Plugin_Program& p = *engine->program;
    p.ir1_toggle = 0.0f;
    p.ir2_toggle = 1.0f;
    p.master_ir1_ir2_mix = 1.0f;
    engine->smoothed_mix = 1.0f;
    p.ir2_topology = 1.0f / 3.0f;
    StereoSignal const out = run_stereo(*engine, input);
    auto const left = sum(ref(input.left, ir2.channel[0]), ref(input.right, ir2.channel[2]));
    auto const right = sum(ref(input.left, ir2.channel[1]), ref(input.right, ir2.channel[3]));
    EXPECT_LT(relative_error_db(out.left, left), error_bound_db);
    EXPECT_LT(relative_error_db(out.right, right), error_bound_db);
}

TEST_P(TopologyTest, IrGainScalesTheWetSignal)
{
    // +10 dB: unity 0.6 on the -50..+50 dB range.
    engine->program->ir1_gain = 0.6f;
    StereoSignal const out = run_stereo(*engine, input);
    auto expected = ref(input.left, ir.channel[0]);
    for (double& value : expected)
        value *= std::pow(10.0, 0.5);
    EXPECT_LT(relative_error_db(out.left, expected), -110.0); // the gain itself is a float
}

TEST_P(TopologyTest, DryPathIsDelayedByExactlyTheLatency)
{
    engine->program->master_mix = 0.0f; // dry only, at unit gain
    StereoSignal const out = run_stereo(*engine, input);
    int const latency = GetParam().engine_latency;
    for (size_t i = 0; i < total; ++i) {
        float const expected_left = i >= static_cast<size_t>(latency) ? input.left[i - latency] : 0.0f;
        float const expected_right = i >= static_cast<size_t>(latency) ? input.right[i - latency] : 0.0f;
        ASSERT_EQ(out.left[i], expected_left) << "at " << i;
        ASSERT_EQ(out.right[i], expected_right) << "at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Latencies, TopologyTest, testing::Values(Case{0, 0}, Case{1024, 1024}),
                         [](testing::TestParamInfo<Case> const& param_info) {
                             return "Latency" + std::to_string(param_info.param.latency);
                         });

} // namespace
} // namespace corvella::test
