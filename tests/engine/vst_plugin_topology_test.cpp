// Every topology against a double-precision reference convolution, at zero latency (heads plus FFT
// tails) and at a latency of 1024 (FFT only, output and dry path delayed by exactly 1024).

#include "engine_fixture.h"

#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace corvella::test {
namespace {

constexpr size_t total = 12000, active = 5000;

class TopologyTest : public EngineTest, public testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        engine = make_engine(GetParam());
        ASSERT_TRUE(engine->processing_enabled.load());
        ASSERT_TRUE(engine->load_ir_into_slot(1, ir.pointers, ir.length()));
        ASSERT_TRUE(engine->load_ir_into_slot(2, ir2.pointers, ir2.length()));
    }

    // x ⊛ h delayed by the latency, times `gain`, plus `b` ⊛ `hb` when given.
    std::vector<double> ref(Signal const& x, Signal const& h, Signal const* b = nullptr,
                            Signal const* hb = nullptr, double gain = 1.0) const
    {
        std::vector<double> const y = reference_convolve(x, h, total);
        std::vector<double> const z =
            b ? reference_convolve(*b, *hb, total) : std::vector<double>(total, 0.0);
        std::vector<double> result(total, 0.0);
        for (size_t i = static_cast<size_t>(GetParam()); i < total; ++i)
            result[i] = gain * (y[i - GetParam()] + z[i - GetParam()]);
        return result;
    }

    std::unique_ptr<VST_Plugin> engine;
    FourChannelIr ir{decaying_noise(3000, 1), decaying_noise(3000, 2), decaying_noise(3000, 3),
                     decaying_noise(3000, 4)};
    FourChannelIr ir2{decaying_noise(2000, 5), decaying_noise(2000, 6), decaying_noise(2000, 7),
                      decaying_noise(2000, 8)};
    StereoSignal input{noise_burst(total, active, 11), noise_burst(total, active, 12)};
};

// Float FFT convolution of these signals stays near -135 dB of the peak; -120 dB leaves room for the
// summing of two paths.
TEST_P(TopologyTest, EveryTopologyConvolvesLikeTheReference)
{
    Signal const &l = input.left, &r = input.right;
    Signal const* a = ir.channel;
    Signal const* b = ir2.channel;
    Signal mean(total);
    for (size_t i = 0; i < total; ++i)
        mean[i] = (l[i] + r[i]) * 0.5f;
    // IR2 alone (its own response, True Stereo) and +10 dB of IR1 gain (unity 0.6 on -50..+50 dB, a
    // float gain: -110 dB) complete the set. STS crosses scratch channel 0 (left input through B
    // left) to the right output and vice versa.
    double const plus10 = std::sqrt(10.0);
    struct Case {
        char const* name;
        float topology, sts, ir2_alone, gain;
        std::vector<double> left, right;
        double bound_db = -120.0;
    };
    // clang-format off
    Case const cases[] = {
        {"Parallel Stereo", 0.0f, 0.0f, 0.0f, 0.5f, ref(l, a[0]), ref(r, a[1])},
        {"True Stereo", 1.0f / 3.0f, 0.0f, 0.0f, 0.5f, ref(l, a[0], &r, &a[2]), ref(l, a[1], &r, &a[3])},
        {"Mono - Stereo", 2.0f / 3.0f, 0.0f, 0.0f, 0.5f, ref(mean, a[0]), ref(mean, a[1])},
        {"STS", 0.0f, 0.5f, 0.0f, 0.5f, ref(l, a[0], &r, &a[3]), ref(r, a[1], &l, &a[2])},
        {"STS below half is off", 0.0f, 0.49f, 0.0f, 0.5f, ref(l, a[0]), ref(r, a[1])},
        {"IR2 alone", 1.0f / 3.0f, 0.0f, 1.0f, 0.5f, ref(l, b[0], &r, &b[2]), ref(l, b[1], &r, &b[3])},
        {"IR gain", 0.0f, 0.0f, 0.0f, 0.6f, ref(l, a[0], nullptr, nullptr, plus10),
         ref(r, a[1], nullptr, nullptr, plus10), -110.0},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        set_unity_program(*engine);
        VST_Plugin_Program& p = *engine->program;
        (c.ir2_alone > 0.0f ? p.ir2_topology : p.ir1_topology) = c.topology;
        p.ir1_sts_toggle = c.sts;
        p.ir1_gain = c.gain;
        p.ir1_toggle = 1.0f - c.ir2_alone;
        p.ir2_toggle = p.master_ir1_ir2_mix = engine->smoothed_mix = c.ir2_alone;
        engine->silence_buffers();
        StereoSignal const out = run_stereo(*engine, input);
        EXPECT_LT(relative_error_db(out.left, c.left), c.bound_db);
        EXPECT_LT(relative_error_db(out.right, c.right), c.bound_db);
    }
}

TEST_P(TopologyTest, DryPathIsDelayedByExactlyTheLatency)
{
    set_unity_program(*engine);
    engine->program->master_mix = 0.0f; // dry only, at unit gain
    StereoSignal const out = run_stereo(*engine, input);
    size_t const latency = static_cast<size_t>(GetParam());
    for (size_t i = 0; i < total; ++i) {
        ASSERT_EQ(out.left[i], i >= latency ? input.left[i - latency] : 0.0f) << "at " << i;
        ASSERT_EQ(out.right[i], i >= latency ? input.right[i - latency] : 0.0f) << "at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Latencies, TopologyTest, testing::Values(0, 1024),
                         [](testing::TestParamInfo<int> const& latency) {
                             return "Latency" + std::to_string(latency.param);
                         });

} // namespace
} // namespace corvella::test
