// The 2x band: rate and unity mappings, the response of the upsampled scheme against a
// double-precision model, bypass, history handling and allocation-free filtering.
#include "effects/biquad_filter_upsampling.h"

#include "support/allocation_counter.h"

#include "eq_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

using namespace corvella::test;

std::complex<double> response(double const* b, double const* a, int order, double hz, double fs)
{
    std::complex<double> const z1 = std::polar(1.0, -2.0 * pi * hz / fs);
    std::complex<double> num = 0.0, den = 0.0, zk = 1.0;
    for (int k = 0; k <= order; ++k, zk *= z1) {
        num += b[k] * zk;
        den += a[k] * zk;
    }
    return num / den;
}

// Zero insertion, filtering at 2 x base and keeping every other sample (x2) make a time-invariant
// system at the base rate whose response at f is H(f) + H(f + base), H taken at the doubled rate.
double scheme_gain_db(std::vector<biquad_d> const& bands, double hz, double base)
{
    auto h = [&](double f) {
        std::complex<double> r = response(lp_b, lp_a, 5, f, 2.0 * base);
        for (biquad_d const& q : bands) {
            double const b[3] = {q.b0, q.b1, q.b2}, a[3] = {1.0, q.a1, q.a2};
            r *= response(b, a, 2, f, 2.0 * base);
        }
        return r;
    };
    return 20.0 * std::log10(std::abs(h(hz) + h(hz + base)));
}

// Gain of an impulse response at hz, by a double-precision DFT bin.
double measured_gain_db(std::vector<float> const& ir, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < ir.size(); ++n)
        sum += static_cast<double>(ir[n]) * std::polar(1.0, -2.0 * pi * hz * static_cast<double>(n) / rate);
    return 20.0 * std::log10(std::abs(sum));
}

void configure(biquad_filter_upsampling& band, int mode, float f0, float q, float gain_db,
               float rate = 48000.0f)
{
    band.set_freq_fs(rate);
    band.set_freq_max_f0(rate * 0.5f);
    band.set_freq_f0(f0);
    band.set_q(q);
    band.set_mode(mode);
    band.set_gain_db(gain_db);
    band.set_toggle(1.0f);
    band.compute_coeffs();
}

std::vector<float> impulse_response(biquad_filter_upsampling& band, int length)
{
    std::vector<float> x(length, 0.0f);
    x[0] = 1.0f;
    band.compute_filter_inplace(x.data(), length, 0);
    return x;
}

std::vector<float> test_signal(int n)
{
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] =
            static_cast<float>(0.5 * std::sin(2.0 * pi * 997.0 * i / 48000.0) +
                               0.3 * std::sin(2.0 * pi * 15013.0 * i / 48000.0) + (i % 7 == 0 ? 0.2 : 0.0));
    return x;
}

// The unity frequency taper r(u), in double precision.
double taper(double u)
{
    return (std::pow(10.0, (std::pow(10.0, u) - 1.0) / 9.0) - 1.0) / 9.0;
}

TEST(BiquadFilterUpsamplingRates, CoefficientRateIsTwiceTheBaseRate)
{
    biquad_filter_upsampling band;
    EXPECT_FLOAT_EQ(band.get_base_rate(), 500.0f);
    EXPECT_FLOAT_EQ(band.get_freq_fs(), 1000.0f);
    band.set_freq_fs(48000.0f);
    EXPECT_FLOAT_EQ(band.get_base_rate(), 48000.0f);
    EXPECT_FLOAT_EQ(band.get_freq_fs(), 96000.0f);
    band.set_freq_max_f0(60000.0f);
    EXPECT_FLOAT_EQ(band.get_freq_max_f0(), 48000.0f); // fs / 2 = the base rate
    band.set_freq_max_f0(22050.0f);
    EXPECT_FLOAT_EQ(band.get_freq_max_f0(), 22050.0f);
    band.set_freq_fs(-1.0f);
    EXPECT_FLOAT_EQ(band.get_base_rate(), 500.0f);
    EXPECT_FLOAT_EQ(band.get_freq_fs(), 1000.0f);
}

TEST(BiquadFilterUpsamplingUnity, FrequencyTapersAndTheirClamps)
{
    biquad_filter_upsampling band;
    band.set_freq_fs(48000.0f);
    band.set_freq_max_f0(22050.0f);
    band.set_freq_f0(1000.0f);
    auto f0 = [&](float u) { return band.set_unity_range_freq_f0(u), band.get_freq_f0(); };
    EXPECT_FLOAT_EQ(band.passive_convert_unity_range_freq_f0(3.0f), 11025.0f);
    EXPECT_NEAR(band.passive_convert_unity_range_freq_f0(0.3f), taper(0.3) * 22050.0, 0.01);
    EXPECT_NEAR(band.query_unity_range_freq_f0(1000.0f),
                std::log10(9.0 * std::log10(9.0 * 1000.0 / 22050.0 + 1.0) + 1.0), 1e-6);
    EXPECT_FLOAT_EQ(band.get_freq_f0(), 1000.0f); // nothing stored
    EXPECT_FLOAT_EQ(f0(0.0f), 20.0f);
    EXPECT_NEAR(f0(1.0f), 22050.0f, 0.05f);
    EXPECT_NEAR(f0(0.5f), taper(0.5) * 22050.0, 0.01);
    EXPECT_FLOAT_EQ(f0(1.5f), 11025.0f); // out of range: half the top frequency
    for (float u : {0.1f, 0.35f, 0.6f, 0.9f}) {
        EXPECT_NEAR(band.query_unity_range_freq_f0(f0(u)), u, 1e-5);
        EXPECT_NEAR(band.get_unity_range_freq_f0(), u, 1e-5);
    }
    band.set_freq_max_f0(48000.0f); // unity 1 stops at half the base rate
    EXPECT_FLOAT_EQ(f0(1.0f), 24000.0f);
    EXPECT_FLOAT_EQ(f0(-0.5f), 24000.0f);

    band.set_freq_max_f0(20000.0f);
    auto end = [&](float u) { return band.set_unity_range_freq_f0_end(u), band.get_freq_f0_end(); };
    EXPECT_NEAR(end(0.7f), taper(0.7) * 20000.0, 0.02);
    EXPECT_FLOAT_EQ(end(1.0f), 10000.0f); // not below the top: half of it
    EXPECT_FLOAT_EQ(end(2.0f), 10000.0f);
    EXPECT_FLOAT_EQ(end(0.0f), 0.0f);
    auto depth = [&](float u) { return band.set_unity_range_freq_mod(u), band.get_freq_mod(); };
    EXPECT_NEAR(depth(1.0f), 10000.0f, 0.02f);
    EXPECT_NEAR(depth(0.8f), taper(0.8) * 20000.0 * 0.5, 0.02);
    EXPECT_EQ(depth(0.02f), 0.0f); // 20 Hz or less
    EXPECT_FLOAT_EQ(depth(-1.0f), 5000.0f);
}

TEST(BiquadFilterUpsamplingResponse, BandsMatchTheCookbookAtTheDoubledRate)
{
    struct Case {
        int mode;
        float f0, q, gain;
    };
    Case const cases[] = {{4, 10000.0f, 1.0f, 12.0f}, {4, 2000.0f, 4.0f, -15.0f}, {2, 300.0f, 0.7f, 9.0f},
                          {3, 16000.0f, 0.7f, -8.0f}, {0, 12000.0f, 0.7f, 0.0f},  {1, 800.0f, 1.0f, 0.0f}};
    for (Case const& c : cases) {
        biquad_filter_upsampling band;
        configure(band, c.mode, c.f0, c.q, c.gain);
        std::vector<float> const ir = impulse_response(band, 16384);
        std::vector<biquad_d> const model = {cookbook(c.mode, c.f0, c.q, c.gain, 96000.0)};
        for (double hz : {100.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 15000.0, 19000.0, 21000.0}) {
            double const expected = scheme_gain_db(model, hz, 48000.0);
            if (expected < -30.0) continue;
            EXPECT_NEAR(measured_gain_db(ir, hz, 48000.0), expected, 0.02)
                << "mode " << c.mode << " f0 " << c.f0 << " at " << hz << " Hz";
        }
    }
}

TEST(BiquadFilterUpsamplingResponse, TimeDomainMatchesTheDoubleModelAcrossBlocks)
{
    biquad_filter_upsampling band;
    configure(band, 4, 3000.0f, 2.0f, 10.0f);
    std::vector<float> x = test_signal(4000);
    std::vector<double> const expected =
        model_2x({cookbook(4, 3000.0, 2.0, 10.0, 96000.0)}).run(x.data(), 4000);
    for (int p = 0; p < 4000; p += 32)
        band.compute_filter_inplace(x.data() + p, 32, 0);
    for (int i = 0; i < 4000; ++i)
        ASSERT_NEAR(x[i], expected[i], 2e-4) << "sample " << i;
}

TEST(BiquadFilterUpsamplingBypass, ADisabledBandLeavesOnlyTheAntiImageLowPass)
{
    biquad_filter_upsampling band;
    configure(band, 4, 1000.0f, 1.0f, 15.0f);
    band.set_toggle(0.3f);
    band.compute_coeffs();
    EXPECT_EQ(band.normalised_coefficients().b0, 1.0f);
    EXPECT_EQ(band.normalised_coefficients().b1, 0.0f);
    EXPECT_EQ(band.normalised_coefficients().a1, 0.0f);

    band.set_toggle(0.0f);
    std::vector<float> x = test_signal(2000);
    std::vector<double> const expected = model_2x({}).run(x.data(), 2000);
    band.compute_filter_inplace(x.data(), 2000, 0);
    for (int i = 0; i < 2000; ++i)
        ASSERT_NEAR(x[i], expected[i], 1e-5) << "sample " << i;

    // The low-pass alone: unity at 0 Hz and its ripple (about 0.5 dB) up to 18 kHz; above that the
    // image folded back by the decimation starts to cancel the signal (-1.5 dB at 20 kHz).
    biquad_filter_upsampling off;
    configure(off, 4, 1000.0f, 1.0f, 0.0f);
    off.set_toggle(0.0f);
    std::vector<float> const ir = impulse_response(off, 4096);
    double dc = 0.0;
    for (float v : ir)
        dc += v;
    EXPECT_NEAR(dc, 1.0, 1e-5);
    for (double hz = 500.0; hz <= 18000.0; hz += 500.0)
        EXPECT_NEAR(measured_gain_db(ir, hz, 48000.0), 0.0, 0.55) << hz << " Hz";
    for (double hz = 1000.0; hz <= 23000.0; hz += 1000.0)
        EXPECT_NEAR(measured_gain_db(ir, hz, 48000.0), scheme_gain_db({}, hz, 48000.0), 0.01) << hz << " Hz";
}

TEST(BiquadFilterUpsamplingState, ClearingAndCopyingStartFromAFreshHistory)
{
    biquad_filter_upsampling fresh, used;
    configure(fresh, 2, 400.0f, 0.7f, 6.0f);
    configure(used, 2, 400.0f, 0.7f, 6.0f);
    std::vector<float> warm = test_signal(777);
    used.compute_filter_inplace(warm.data(), 777, 0);
    used.clear_filter_buffers();
    std::vector<float> a = test_signal(512), b = test_signal(512);
    fresh.compute_filter_inplace(a.data(), 512, 0);
    used.compute_filter_inplace(b.data(), 512, 0);
    EXPECT_EQ(a, b);

    // A copy carries the base rate but not the history.
    biquad_filter_upsampling source, copy;
    configure(source, 3, 6000.0f, 0.9f, -6.0f, 44100.0f);
    warm = test_signal(300);
    source.compute_filter_inplace(warm.data(), 300, 0);
    source.clear_filter_buffers();
    copy.copy_settings(&source);
    EXPECT_FLOAT_EQ(copy.get_base_rate(), 44100.0f);
    EXPECT_FLOAT_EQ(copy.get_freq_fs(), 88200.0f);
    a = test_signal(256), b = test_signal(256);
    source.compute_filter_inplace(a.data(), 256, 0);
    copy.compute_filter_inplace(b.data(), 256, 0);
    EXPECT_EQ(a, b);
}

TEST(BiquadFilterUpsamplingSafety, BadBuffersAreIgnoredAndNothingIsAllocated)
{
    biquad_filter_upsampling band;
    configure(band, 4, 1000.0f, 1.0f, 6.0f);
    band.compute_filter_inplace(nullptr, 32, 0);
    std::vector<float> x(32, 0.25f);
    band.compute_filter_inplace(x.data(), 0, 0);
    band.compute_filter_inplace(x.data(), -5, 0);
    EXPECT_EQ(x, std::vector<float>(32, 0.25f));
    long allocations = -1;
    {
        corvella::test::AllocationCounter counter;
        band.compute_filter_inplace(x.data(), 32, 0);
        band.clear_filter_buffers();
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
}

} // namespace
