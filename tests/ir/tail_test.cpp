// The tail generator: decay rate, gap lengths per density type, repeatability, tinting, the tint
// kernels' properties and out-of-range settings.
#include "ir/tail.h"

#include "ir/audio_file_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Floats = std::vector<float>;

// An IR load buffer from create_multichannel_tails, released at the end of the test.
struct Generated {
    float** buffer = nullptr;
    int allocated = 0, frames = 0, bits = 0, rate = 0;
    ~Generated() { corvella::free_ir_load_buffer(buffer); }
    Floats channel(int c) const { return {buffer[c], buffer[c] + frames}; }
};

void generate(tail& t, int engine_rate, int channels, Generated& out)
{
    t.create_multichannel_tails(out.buffer, engine_rate, out.allocated, out.frames, out.bits, out.rate,
                                channels, false, 0.0f, 1.0f, 0, 0.0f);
}

// Least-squares slope of the energy in dB per second, over 10 ms blocks from `from` to `to` (s).
double energy_slope_db_per_second(Floats const& x, int rate, double from, double to)
{
    int const block = rate / 100;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (int start = 0; start + block <= static_cast<int>(x.size()); start += block) {
        double const t = (start + block / 2.0) / rate;
        if (t < from || t > to) continue;
        double energy = 0;
        for (int i = start; i < start + block; ++i)
            energy += double{x[static_cast<std::size_t>(i)]} * x[static_cast<std::size_t>(i)];
        double const db = 10 * std::log10(energy / block);
        sx += t;
        sy += db;
        sxx += t * t;
        sxy += t * db;
        ++n;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

TEST(Tail, FallsOneHundredDecibelsOverTheLength)
{
    struct Case {
        float length_unity;
        int engine_rate, tint;
    };
    for (Case const c : {Case{0.3f, 44100, 0}, Case{0.4f, 48000, 9}}) {
        SCOPED_TRACE(c.length_unity);
        tail t(2, c.engine_rate);
        t.set_length_unity(c.length_unity);
        t.set_diffusion_unity(1.0f); // no gaps
        t.set_tint(c.tint);
        Generated g;
        generate(t, c.engine_rate, 2, g);
        double const seconds = t.get_length_ms() / 1000.0, expected = -100.0 / seconds;
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_NEAR(energy_slope_db_per_second(g.channel(ch), g.rate, 0.05 * seconds, 0.6 * seconds),
                        expected, 0.05 * std::fabs(expected))
                << "channel " << ch;
    }
}

// Per density type: the largest gap M at full diffusion, and the gapped region's divisor F at
// diffuse length 1.
TEST(Tail, GapsStayWithinTheLargestGapAndTheGappedRegion)
{
    struct Case {
        int type, largest_gap;
        double divisor;
    };
    Case const cases[] = {{0, 1000, 9.0}, {1, 4000, 2.0},  {2, 1000, 2.0}, {3, 5000, 3.0},
                          {4, 5000, 1.5}, {5, 8000, 1.15}, {6, 20000, 1.1}};
    for (Case const& d : cases) {
        SCOPED_TRACE(d.type);
        tail t(1, 44100);
        t.set_length_unity(0.5f);
        t.set_diffusion_unity(0.0f);
        t.set_diffuse_length_unity(1.0f);
        t.set_density_type(d.type);
        int const length = t.get_length_samples();
        Floats x(static_cast<std::size_t>(length));
        float* channels[1] = {x.data()};
        t.multichannel_tails(channels, 1, length);
        int longest = 0, run = 0, last_zero = -1;
        for (int i = 0; i < length; ++i) {
            run = x[static_cast<std::size_t>(i)] == 0.0f ? run + 1 : 0;
            if (run > 0) last_zero = i;
            longest = std::max(longest, run);
        }
        EXPECT_LE(longest, d.largest_gap);
        EXPECT_GE(longest, d.largest_gap / 2) << "the gaps should reach near their largest";
        EXPECT_LT(last_zero, std::max(length / d.divisor, static_cast<double>(d.largest_gap)) + 1);
    }
}

TEST(Tail, SameSettingsGiveTheSameSamplesAndAnotherVariantDiffers)
{
    auto make = [](float variant) {
        tail t(4, 48000);
        t.set_length_unity(0.25f);
        t.set_diffusion_unity(0.4f);
        t.set_density_type(3);
        t.set_tint(7);
        t.set_variant_unity(variant);
        Generated g;
        generate(t, 48000, 4, g);
        std::vector<Floats> channels;
        for (int c = 0; c < 4; ++c)
            channels.push_back(g.channel(c));
        return channels;
    };
    auto const first = make(0.5f);
    ASSERT_GT(first[0].size(), 10000u);
    EXPECT_EQ(first, make(0.5f));
    auto const other = make(0.6f);
    for (int c = 0; c < 4; ++c)
        EXPECT_NE(first[static_cast<std::size_t>(c)], other[static_cast<std::size_t>(c)]) << "channel " << c;
}

TEST(Tail, TintConvolvesWithTheKernelOfEachChannel)
{
    int const length = 4000;
    auto run = [&](int tint) {
        tail t(2, 44100);
        t.set_tint(tint);
        t.set_diffusion_unity(0.5f);
        std::vector<Floats> x(2, Floats(length));
        float* channels[2] = {x[0].data(), x[1].data()};
        t.multichannel_tails(channels, 2, length);
        return x;
    };
    int const tint = 5;
    auto const plain = run(0);
    auto const tinted = run(tint);
    // Two channels use the left kernel of channel 0 and the right kernel of channel 1, and the
    // kernel's delay is taken back by 32 samples.
    float const* kernels[2] = {tail_tint_kernels[tint - 1][0], tail_tint_kernels[tint - 1][3]};
    for (int c = 0; c < 2; ++c) {
        double worst = 0.0;
        for (int i = 0; i < length - 32; ++i) {
            double y = 0.0;
            for (int k = 0; k < tail::tint_taps; ++k) {
                int const j = i + 32 - k;
                if (j >= 0)
                    y += double{kernels[c][k]} *
                         plain[static_cast<std::size_t>(c)][static_cast<std::size_t>(j)];
            }
            worst = std::max(worst,
                             std::fabs(y - tinted[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)]));
        }
        EXPECT_LT(worst, 1e-6) << "channel " << c;
    }
}

// Share of a kernel's energy in its sample-to-sample differences: higher is brighter.
double brightness(float const* taps)
{
    double energy = 0, difference = 0;
    for (int k = 0; k < tail::tint_taps; ++k) {
        energy += double{taps[k]} * taps[k];
        if (k > 0) difference += std::pow(double{taps[k]} - taps[k - 1], 2);
    }
    return difference / energy;
}

TEST(TailTints, FortyEightDistinctUnitGainKernelsPeakingAtTap33)
{
    std::vector<float const*> all;
    for (int t = 0; t < tail::tint_count; ++t)
        for (int k = 0; k < tail::kernels_per_tint; ++k) {
            float const* taps = tail_tint_kernels[t][k];
            ASSERT_NE(taps, nullptr);
            all.push_back(taps);
            double sum = 0;
            int peak = 0;
            for (int i = 0; i < tail::tint_taps; ++i) {
                sum += taps[i];
                if (std::fabs(taps[i]) > std::fabs(taps[peak])) peak = i;
            }
            EXPECT_NEAR(sum, 1.0, 1e-5) << "tint " << t + 1 << " kernel " << k;
            EXPECT_EQ(peak, 33) << "tint " << t + 1 << " kernel " << k;
        }
    EXPECT_EQ(all.size(), 48u);
    for (std::size_t i = 0; i < all.size(); ++i)
        for (std::size_t j = i + 1; j < all.size(); ++j)
            EXPECT_FALSE(std::equal(all[i], all[i] + tail::tint_taps, all[j])) << i << " and " << j;

    // Names and character agree: the brighter name is the brighter kernel, side by side.
    struct {
        int brighter, darker;
    } const pairs[] = {{3, 12}, {11, 12}, {6, 7}, {4, 2}};
    for (auto const& p : pairs)
        for (int k = 0; k < tail::kernels_per_tint; ++k)
            EXPECT_GT(brightness(tail_tint_kernels[p.brighter - 1][k]),
                      brightness(tail_tint_kernels[p.darker - 1][k]))
                << tail_tint_name(p.brighter) << " vs " << tail_tint_name(p.darker);
}

TEST(Tail, OutOfRangeSettingsAreRefusedOrClamped)
{
    try {
        tail t(5, 44100);
        ADD_FAILURE() << "five channels accepted";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "tail too many channels requested");
    }

    tail t(2, 44100);
    t.set_density_type(9);
    EXPECT_EQ(t.get_density_type(), 6);
    t.set_density_type(-3);
    EXPECT_EQ(t.get_density_type(), 0);

    struct {
        float unity;
        float ms;
        int samples;
    } const lengths[] = {{0.0f, 50.0f, 2205},
                         {1.0f, 30000.0f, 1323000},
                         {7.0f, 30000.0f, 1323000},
                         {std::numeric_limits<float>::quiet_NaN(), 50.0f, 2205}};
    for (auto const& l : lengths) {
        t.set_length_unity(l.unity);
        EXPECT_FLOAT_EQ(t.get_length_ms(), l.ms) << l.unity;
        EXPECT_EQ(t.get_length_samples(), l.samples) << l.unity;
    }
    struct {
        float unity;
        int variant;
    } const variants[] = {{1.0f, 34}, {5.0f, 34}, {-1.0f, 0}, {0.5f, 17}};
    for (auto const& v : variants) {
        t.set_variant_unity(v.unity);
        EXPECT_EQ(t.get_variant(), v.variant) << v.unity;
    }

    // A tint beyond the menu leaves the tail untinted rather than silent.
    auto make = [&](int tint) {
        t.set_tint(tint);
        Generated g;
        generate(t, 44100, 2, g);
        return g.channel(0);
    };
    t.set_length_unity(0.1f);
    EXPECT_EQ(make(13), make(0));
    EXPECT_EQ(make(-4), make(0));

    float** buffer = nullptr;
    int allocated = 0, frames = 0, bits = 0, rate = 0;
    EXPECT_THROW(t.create_multichannel_tails(buffer, 0, allocated, frames, bits, rate, 2, false, 0, 1, 0, 0),
                 std::invalid_argument);
    EXPECT_EQ(buffer, nullptr);
}

} // namespace
