// The shaping operations: crop, pre-delay, clip, normalise, width, envelope, channel swap, shaped
// noise, the simulated true-stereo half, and the two resamplers.
#include "ir/ir_shaping.h"

#include "convolution/ipps.h"
#include "effects/eq_reference.h"
#include "support/allocation_counter.h"
#include "support/message_recorder.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using corvella::test::MessageRecorder;
using corvella::test::pi;
using corvella::test::RecordedMessage;
using Floats = std::vector<float>;

// Channels of exactly `allocated` floats from the aligned allocator IR buffers use, so that the
// AddressSanitizer build catches any write past them. The resampler may replace channels; the
// destructor frees whatever the table then holds.
class IrBuffer {
public:
    IrBuffer(int channels, int allocated) : table_(static_cast<std::size_t>(channels))
    {
        for (float*& channel : table_) {
            void* block = nullptr;
            if (posix_memalign(&block, 32, sizeof(float) * static_cast<std::size_t>(allocated))) std::abort();
            channel = static_cast<float*>(block);
            std::fill_n(channel, allocated, 0.0f);
        }
    }
    ~IrBuffer()
    {
        for (float* channel : table_)
            std::free(channel);
    }
    IrBuffer(IrBuffer const&) = delete;
    IrBuffer& operator=(IrBuffer const&) = delete;

    float** data() { return table_.data(); }
    float* operator[](int c) { return table_[static_cast<std::size_t>(c)]; }
    Floats copy(int c, int count) const { return {table_[c], table_[c] + count}; }
    void fill(int c, Floats const& values) { std::copy(values.begin(), values.end(), table_[c]); }

private:
    std::vector<float*> table_;
};

Floats ramp(int count, float first = 1.0f)
{
    Floats v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = first + static_cast<float>(i);
    return v;
}

Floats padded(Floats v, int count)
{
    v.resize(static_cast<std::size_t>(count), 0.0f);
    return v;
}

// A decaying, sign-changing test signal different for every seed.
Floats test_signal(int count, int seed, double decay_seconds = 0.3, int rate = 48000)
{
    Floats v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        double const t = static_cast<double>(i) / rate;
        v[static_cast<std::size_t>(i)] = static_cast<float>(
            std::exp(-t / decay_seconds) * (std::sin(2 * pi * (311.0 + 97 * seed) * t) +
                                            0.5 * std::sin(2 * pi * (5003.0 + 13 * seed) * t + seed)));
    }
    return v;
}

// A cookbook high- or low-pass in double precision whose state runs on between calls: an
// independent reference for the filters inside the operations.
struct ReferenceBiquad {
    corvella::test::biquad_d f;
    double h[4] = {};
    static ReferenceBiquad make(bool high_pass, double f0, double q, double rate)
    {
        return {corvella::test::cookbook(high_pass ? 1 : 0, f0, q, 0.0, rate)};
    }
    void run(std::vector<double>& v)
    {
        for (double& x : v)
            x = corvella::test::biquad_step(f, h, x);
    }
};

// The window moves to the front and the rest is cleared; the length is the window's, but at least
// half the minimum-length base; an empty window clears the IR and keeps its length.
TEST(IrCrop, KeepsTheWindowWithAtLeastHalfTheMinimumLength)
{
    struct Case {
        int length;
        float start, end;
        int base, expected_length, first, count;
    };
    // clang-format off
    Case const cases[] = {
        {8000, 0.25f, 0.375f, 48000, 24000, 2000, 1000}, {1000, 0.125f, 0.875f, 100, 750, 125, 750},
        {1000, -0.5f, 3.0f, 0, 1000, 0, 1000} /* clamped */, {1000, 0.6f, 0.4f, 100, 1000, 0, 0},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " .. " << c.end << " of " << c.length);
        IrBuffer ir(2, 30000);
        ir.fill(0, ramp(c.length));
        ir.fill(1, ramp(c.length, 100000.0f));
        int length = c.length;
        crop_audio_file_into_preallocated_memory(ir.data(), length, c.start, c.end, 2, c.base);
        EXPECT_EQ(length, c.expected_length);
        EXPECT_EQ(ir.copy(0, 30000), padded(ramp(c.count, 1.0f + c.first), 30000));
        EXPECT_EQ(ir.copy(1, 30000), padded(ramp(c.count, 100000.0f + c.first), 30000));
    }
    IrBuffer ir(1, 100);
    ir.fill(0, ramp(100));
    int length = 0;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 0);
    length = 100;
    crop_audio_file_into_preallocated_memory(ir.data(), length, 0.0f, 0.5f, 0, 1000);
    crop_audio_file_into_preallocated_memory(nullptr, length, 0.0f, 0.5f, 1, 1000);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(ir.copy(0, 100), ramp(100));
}

TEST(IrPreDelayAndClip, MoveSamplesUpAndReplaceOnlyValuesBeyondThirtyTwoThousand)
{
    Floats x = ramp(10);
    add_pre_delay(x.data(), 10, 3);
    EXPECT_EQ(x, (Floats{0, 0, 0, 1, 2, 3, 4, 5, 6, 7}));
    for (int no_delay : {0, -4}) {
        x = ramp(10);
        add_pre_delay(x.data(), 10, no_delay);
        EXPECT_EQ(x, ramp(10));
    }
    add_pre_delay(x.data(), 10, 10);
    EXPECT_EQ(x, Floats(10, 0.0f));
    add_pre_delay(nullptr, 10, 3); // no crash

    IrBuffer ir(2, 8);
    ir.fill(0, {40000.0f, 32768.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -32768.0f, 50000.0f});
    ir.fill(1, {-1e9f, 0.5f, 1e9f});
    int length = 7;
    clip_audio_file_into_preallocated_memory(ir.data(), length, 2);
    EXPECT_EQ(ir.copy(0, 8), (Floats{1.0f, 1.0f, 32767.5f, 2.0f, -2.0f, -32767.5f, -1.0f, 50000.0f}));
    EXPECT_EQ(ir.copy(1, 3), (Floats{-1.0f, 0.5f, 1.0f}));
    EXPECT_EQ(length, 7);
}

TEST(IrNormalise, ScalesThePeakOfTheFirstLengthSamplesToOneWithinTheMaximumGain)
{
    struct Case {
        std::vector<Floats> in;
        int length;
        float maximum, gain;
        std::vector<Floats> out;
    };
    // clang-format off
    Case const cases[] = {
        // The peak of all channels counts.
        {{{0.1f, -0.25f, 0.0f, 0.3f}, {0.2f, 0.4f, -0.5f, 0.05f}}, 4, 1000.0f, 2.0f, {{0.2f, -0.5f, 0.0f, 0.6f}, {0.4f, 0.8f, -1.0f, 0.1f}}},
        {{{1.0f, -4.0f, 2.0f}}, 3, 1000.0f, 0.25f, {{0.25f, -1.0f, 0.5f}}},
        {{{0.0f, 0.0f}}, 2, 1000.0f, 1000.0f, {{0.0f, 0.0f}}},
        {{{0.0005f, -0.00025f}}, 2, 1000.0f, 1000.0f, {{0.5f, -0.25f}}},
        {{{0.5f, 0.25f, 8.0f, 8.0f}}, 2, 1000.0f, 2.0f, {{1.0f, 0.5f, 8.0f, 8.0f}}},
        // A maximum of 0 applies 0 (the peak is below 1 / 0) and reports 1.
        {{{2.0f, 1.0f}}, 2, 0.0f, 1.0f, {{0.0f, 0.0f}}},
    };
    // clang-format on
    for (Case const& c : cases) {
        int const channels = static_cast<int>(c.in.size()), count = static_cast<int>(c.in[0].size());
        SCOPED_TRACE(testing::Message() << "first input " << c.in[0][0] << ", maximum " << c.maximum);
        IrBuffer ir(channels, count);
        for (int ch = 0; ch < channels; ++ch)
            ir.fill(ch, c.in[static_cast<std::size_t>(ch)]);
        EXPECT_EQ(multichannel_normalise(ir.data(), c.length, channels, c.maximum), c.gain);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < count; ++i)
                EXPECT_NEAR(ir[ch][i], c.out[static_cast<std::size_t>(ch)][static_cast<std::size_t>(i)],
                            1e-6);
    }
}

// w = 2 x unity - 1 on each pair; nothing changes for |w| <= 0.01, on 3 channels or with one 8 ms
// block or less (384 + 1 samples). Narrowing: L' = (1 - a) L + a (L + R) / 2 with a = -w. Widening:
// L'[t] = L[t] + w h(-R)[t - block] for block <= t < length - block, with h the 3 kHz high-pass.
// Every call sets flush-to-zero on the calling thread.
TEST(IrWidth, NarrowsWidensOrLeavesAloneAsADirectComputationDoes)
{
    struct Case {
        int channels, length;
        float unity;
    };
    // clang-format off
    Case const cases[] = {{2, 4000, 0.5f}, {2, 4000, 0.5025f}, {2, 4000, 0.4975f}, {3, 2000, 0.0f}, {3, 2000, 1.0f},
                          {2, 385, 1.0f},  {4, 1000, 0.0f},    {4, 1000, 0.25f},   {4, 6000, 0.85f}};
    // clang-format on
    int const block = 384;
    unsigned int before = 0, during = 0;
    ippSetFlushToZero(0, &before);
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, unity " << c.unity);
        IrBuffer ir(c.channels, c.length);
        for (int ch = 0; ch < c.channels; ++ch)
            ir.fill(ch, test_signal(c.length, ch + 3));
        multichannel_width(ir.data(), c.channels, c.length, c.unity, 48000);
        double const w = (c.unity - 0.5f) * 2.0f, a = -w;
        bool const changes = c.channels != 3 && std::fabs(w) > 0.01 && (w < 0 || block + 1 < c.length);
        for (int self = 0; self < c.channels; ++self) {
            Floats const l = test_signal(c.length, self + 3), r = test_signal(c.length, (self ^ 1) + 3);
            std::vector<double> expected(l.begin(), l.end()), filtered(r.size());
            std::transform(r.begin(), r.end(), filtered.begin(), [](float v) { return -v; });
            ReferenceBiquad::make(true, 3000.0, 1.0, 48000).run(filtered);
            double worst = 0;
            for (int t = 0; t < c.length; ++t) {
                if (changes && w < 0) expected[t] = (1 - a) * l[t] + a * 0.5 * (l[t] + r[t]);
                if (changes && w > 0 && t >= block && t < c.length - block)
                    expected[t] += w * filtered[t - block];
                worst = std::max(worst, std::fabs(ir[self][t] - expected[t]));
            }
            EXPECT_LE(worst, !changes ? 0.0 : w > 0 ? 1e-5 : 1e-6) << "channel " << self;
            for (int t = c.length - block; changes && w > 0 && t < c.length; ++t)
                ASSERT_EQ(ir[self][t], l[t]) << t; // the last block is left exactly as it was
        }
    }
    ippSetFlushToZero(static_cast<int>(before), &during);
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_EQ(during, 1u);
#endif
    ippSetDenormAreZeros(0);
}

// Times {A, D, S level, H, R} as fractions of the length.
Floats envelope(int n, Floats const& times, Floats const& shapes, Floats const& inverts = {0, 0, 0})
{
    Floats x(static_cast<std::size_t>(n), 1.0f);
    compute_adshr_envelope(x.data(), n, times.data(), shapes.data(), inverts.data());
    return x;
}

// Each stage takes at least one sample: zero-length stages keep two samples, hold one at the
// sustain level and clear the rest. N = 64: A = 8, D = 8, S = 0.5, H = 8, R = 16; inverting has no
// effect on straight stages.
TEST(IrEnvelope, StraightStagesMeetAtTheirBoundaries)
{
    EXPECT_EQ(envelope(20, {0.0f, 0.0f, 0.5f, 0.0f, 0.0f}, {0, 0, 0}), padded({1.0f, 1.0f, 0.5f}, 20));
    // Negative times count as zero.
    EXPECT_EQ(envelope(3, {-0.5f, -0.1f, 0.25f, -1.0f, -0.2f}, {0.3f, 0.0f, 0.7f}, {0, 1, 0}),
              (Floats{1.0f, 1.0f, 0.25f}));
    Floats const x = envelope(64, {0.125f, 0.125f, 0.5f, 0.125f, 0.25f}, {0, 0, 0}, {1, 1, 1});
    for (int t = 0; t <= 8; ++t)
        EXPECT_FLOAT_EQ(x[t], (t + 1) / 8.0f) << t;
    for (int j = 1; j <= 8; ++j)
        EXPECT_FLOAT_EQ(x[8 + j], 1.0f - j * 0.5f / 8.0f) << 8 + j;
    for (int t = 17; t <= 24; ++t)
        EXPECT_EQ(x[t], 0.5f) << t;
    for (int j = 1; j <= 16; ++j)
        EXPECT_NEAR(x[24 + j], 0.5f - j * 0.5f / 16.0f, 1e-7) << 24 + j;
    EXPECT_EQ(Floats(x.begin() + 41, x.end()), Floats(23, 0.0f));
}

TEST(IrEnvelope, CurvedStagesFollowTheirPowerLaws)
{
    Floats const x = envelope(64, {0.125f, 0.125f, 0.5f, 0.125f, 0.25f}, {0.5f, 0.5f, 0.5f}, {0, 1, 0});
    // Attack: c = 0.5, k = 2: 2^(t/8) - 1.
    for (int t = 0; t <= 8; ++t)
        EXPECT_NEAR(x[t], std::pow(2.0, t / 8.0) - 1.0, 1e-6) << t;
    // Decay, inverted: c = 2: 1 - 0.5 (2^u - 1), u = j / 8.
    for (int j = 1; j <= 8; ++j)
        EXPECT_NEAR(x[8 + j], 1.0 - 0.5 * (std::pow(2.0, j / 8.0) - 1.0), 1e-6) << 8 + j;
    for (int t = 17; t <= 24; ++t)
        EXPECT_EQ(x[t], 0.5f) << t;
    // Release: c = 0.5: 0.5 - 0.5 (0.5^v - 1) / (0.5 - 1), v = j / 16.
    for (int j = 1; j <= 16; ++j)
        EXPECT_NEAR(x[24 + j], 0.5 - 0.5 * (std::pow(0.5, j / 16.0) - 1.0) / -0.5, 1e-6) << 24 + j;
    EXPECT_EQ(Floats(x.begin() + 41, x.end()), Floats(23, 0.0f));

    // Shape 1 clamps c to 0.00001: the tail generator's release over the whole channel falls
    // 100 dB, -50 dB half way.
    int const n = 10000;
    Floats const tail = envelope(n, {0.0f, 0.0f, 1.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f});
    double const c = static_cast<double>(0.00001f);
    for (int t : {3, 1000, 5000, 9999}) {
        double const expected = 1.0 - (std::pow(c, static_cast<double>(t) / n) - 1.0) / (c - 1.0);
        EXPECT_NEAR(tail[t], expected, 1e-6 * expected + 1e-9) << t;
    }
    EXPECT_NEAR(tail[5000], std::pow(10.0, -2.5), 1e-4);
}

TEST(IrChannelSwap, ExchangesTheFirstLengthSamplesOfTwoChannelsOnlyWithoutAllocating)
{
    IrBuffer ir(2, 6);
    ir.fill(0, ramp(6));
    ir.fill(1, ramp(6, 10.0f));
    corvella::test::AllocationCounter counter;
    stereo_channel_swap(ir.data(), 2, 4);
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(ir.copy(0, 6), (Floats{10, 11, 12, 13, 5, 6}));
    EXPECT_EQ(ir.copy(1, 6), (Floats{1, 2, 3, 4, 14, 15}));

    IrBuffer four(4, 3);
    for (int c = 0; c < 4; ++c)
        four.fill(c, ramp(3, 10.0f * c));
    stereo_channel_swap(four.data(), 4, 3);
    stereo_channel_swap(four.data(), 1, 3);
    stereo_channel_swap(four.data(), 2, 0);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(four.copy(c, 3), ramp(3, 10.0f * c));
}

// The whole operation in double precision with reference filters; only the Gaussian generator is
// shared. The envelope follower runs backwards, then forwards, adding noise on both passes.
std::vector<std::vector<double>> reference_shaped_noise(std::vector<Floats> const& ir, float level, float dry,
                                                        int seed, float release, int rate)
{
    int const length = static_cast<int>(ir[0].size());
    ReferenceBiquad low_cut = ReferenceBiquad::make(true, 200.0, 0.5, rate);
    ReferenceBiquad high_cut = ReferenceBiquad::make(false, 18000.0, 0.5, rate);
    double const d = release > 0 ? std::min(std::pow(static_cast<double>(release), 0.1), 0.999) : 0.0;
    std::vector<std::vector<double>> out;
    for (std::size_t c = 0; c < ir.size(); ++c) {
        Floats noise(static_cast<std::size_t>(length));
        unsigned int state = static_cast<unsigned int>(c) + static_cast<unsigned int>(seed);
        ippsRandGauss_Direct_32f(noise.data(), length, 0.0f, 0.1f, &state);
        double peak = 0, e = 0;
        for (float v : noise)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
        std::vector<double> acc(static_cast<std::size_t>(length), 0.0);
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 0; i < length; ++i) {
                int const t = pass == 0 ? length - 1 - i : i;
                e = std::max(std::fabs(static_cast<double>(ir[c][t])), e * d);
                acc[t] += noise[t] / peak * e * level;
            }
        low_cut.run(acc);
        high_cut.run(acc);
        for (int t = 0; t < length; ++t)
            acc[t] += ir[c][t] * static_cast<double>(dry);
        out.push_back(acc);
    }
    return out;
}

TEST(IrShapedNoise, MatchesADirectComputationAndIgnoresBadArguments)
{
    int const length = 24000, rate = 48000;
    for (float release : {0.0f, 0.3f}) {
        IrBuffer ir(2, length);
        std::vector<Floats> original;
        for (int c = 0; c < 2; ++c) {
            original.push_back(test_signal(length, c, 0.1));
            ir.fill(c, original.back());
        }
        add_shaped_noise(ir.data(), length, 2, 0.4f, 0.8f, 17, release, rate);
        auto const expected = reference_shaped_noise(original, 0.4f, 0.8f, 17, release, rate);
        for (int c = 0; c < 2; ++c)
            EXPECT_LT(corvella::test::relative_error_db(ir.copy(c, length), expected[c]), -100.0)
                << "channel " << c << " release " << release;
    }
    IrBuffer ir(1, 10);
    ir.fill(0, ramp(10));
    add_shaped_noise(ir.data(), 0, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(ir.data(), 10, 0, 1.0f, 0.0f, 1, 0.5f, 48000);
    add_shaped_noise(nullptr, 10, 1, 1.0f, 0.0f, 1, 0.5f, 48000);
    EXPECT_EQ(ir.copy(0, 10), ramp(10));
}

// The two shaped bursts as the operation describes them, from the shared Gaussian generator:
// silent for a quarter, then a linear fade from full level.
std::vector<Floats> reference_bursts(int rate, float seconds, int seed)
{
    float const n = static_cast<float>(rate) * seconds;
    int const count = static_cast<int>(n), quarter = static_cast<int>(0.25f * n);
    std::vector<Floats> bursts(2, Floats(static_cast<std::size_t>(count)));
    unsigned int state = static_cast<unsigned int>(seed);
    double peak = 0;
    for (auto& b : bursts) {
        ippsRandGauss_Direct_32f(b.data(), count, 0.0f, 0.1f, &state);
        for (float v : b)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
    }
    for (auto& b : bursts)
        for (int i = 0; i < count; ++i)
            b[i] = i < quarter
                       ? 0.0f
                       : static_cast<float>(b[i] / peak *
                                            (1.0 - static_cast<double>(i - quarter) / (count - quarter)));
    return bursts;
}

TEST(IrSimulatedTrueStereo, MatchesDirectConvolutionWithTheSquaredLevelRule)
{
    int const rate = 48000, length = 20000, allocated = length + 65536; // two overlap-add blocks
    float const seconds = 0.03f, level = 0.7f;
    IrBuffer ir(4, allocated);
    Floats const direct[2] = {test_signal(length, 1), test_signal(length, 2)};
    for (int c = 0; c < 2; ++c) {
        ir.fill(c, Floats(allocated, 0.25f)); // stale samples past the length must be cleared
        ir.fill(c, direct[c]);
    }
    ir.fill(2, ramp(100)); // as must stale contents of the simulated channels
    int ir_length = length;
    convolve_ir_ch01_with_noise_to_ch23(ir.data(), allocated, ir_length, seconds, rate, 21, level);
    EXPECT_EQ(ir_length, length + 3840); // 80 ms

    auto const bursts = reference_bursts(rate, seconds, 21);
    for (int pair = 0; pair < 2; ++pair) {
        std::vector<double> reference =
            corvella::test::reference_convolve(direct[pair], bursts[pair], ir_length);
        double direct_sum = 0, simulated_sum = 0;
        for (int t = 0; t < ir_length; ++t) {
            direct_sum += std::fabs(t < length ? direct[pair][t] : 0.0f);
            simulated_sum += std::fabs(reference[t]);
        }
        double const k = direct_sum / simulated_sum * level * 3.0;
        for (double& v : reference)
            v *= k * k;
        EXPECT_LT(corvella::test::relative_error_db(ir.copy(pair + 2, ir_length), reference), -90.0) << pair;
        // Past the length only the transforms' rounding noise remains.
        for (int t = ir_length; t < allocated; ++t)
            ASSERT_LT(std::fabs(ir[pair + 2][t]), 1e-5f) << t;
        EXPECT_EQ(ir.copy(pair, allocated), padded(direct[pair], allocated));
    }
}

TEST(IrSimulatedTrueStereo, AllocationLimits)
{
    // The 80 ms growth does not fit: the length stays.
    IrBuffer tight(4, 23000);
    tight.fill(0, test_signal(20000, 1));
    tight.fill(1, test_signal(20000, 2));
    int length = 20000;
    convolve_ir_ch01_with_noise_to_ch23(tight.data(), 23000, length, 0.08f, 48000, 1, 1.0f);
    EXPECT_EQ(length, 20000);

    // One block would need 16,384 samples below the allocation: none is processed.
    IrBuffer short_ir(4, 16384);
    short_ir.fill(0, test_signal(8000, 1));
    short_ir.fill(1, test_signal(8000, 2));
    short_ir.fill(3, ramp(50));
    length = 8000;
    convolve_ir_ch01_with_noise_to_ch23(short_ir.data(), 16384, length, 0.08f, 48000, 1, 1.0f);
    EXPECT_EQ(length, 8000 + 3840);
    EXPECT_EQ(short_ir.copy(2, 16384), Floats(16384, 0.0f));
    EXPECT_EQ(short_ir.copy(3, 16384), Floats(16384, 0.0f));
}

Floats sine(int count, double hz, double rate, double phase = 0.0)
{
    Floats v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2 * pi * hz * i / rate + phase));
    return v;
}

// The largest distance of channel samples [from, to) from a sine of `hz` read at input time
// offset + k x ratio, scaled by `gain`.
double worst_error(float const* channel, int from, int to, double hz, double source, double ratio,
                   double offset = 0.0, double gain = 1.0, double phase = 0.0)
{
    double worst = 0;
    for (int k = from; k < to; ++k)
        worst =
            std::max(worst, std::fabs(channel[k] -
                                      gain * std::sin(2 * pi * hz * (offset + k * ratio) / source + phase)));
    return worst;
}

// Output k stands at input time k x source / target, with gain 0.98; the length counts the
// 128-sample padding. An allocation too small loses the tail but is not overrun.
TEST(IrPolyphaseResample, SinesKeepTheirTimingWithTheFixedGain)
{
    struct Case {
        int source, target, frames, allocated, expected_length, from, to; // [from, to): compared
    };
    for (Case const c : {Case{44100, 48000, 44100, 88200, 48139, 300, 47700},
                         Case{48000, 44100, 48000, 96000, 44217, 300, 43800},
                         Case{44100, 96000, 4000, 5000, 5000, 400, 4000}}) {
        SCOPED_TRACE(testing::Message() << c.source << " -> " << c.target << ", " << c.frames);
        int allocated = c.allocated, length = c.frames;
        IrBuffer ir(2, allocated);
        ir.fill(0, sine(c.frames, 1000.0, c.source));
        ir.fill(1, sine(c.frames, 3000.0, c.source, 0.5));
        float* const old_channel = ir[0];
        MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(ir.data(), c.source, c.target, allocated, length, 2);
        EXPECT_EQ(messages.count(), 0u);
        EXPECT_NE(ir[0], old_channel); // the channel was replaced
        EXPECT_EQ(allocated, c.allocated);
        EXPECT_EQ(length, c.expected_length);
        double const ratio = static_cast<double>(c.source) / c.target;
        EXPECT_LT(worst_error(ir[0], c.from, c.to, 1000.0, c.source, ratio, 0.0, 0.98), 1e-4);
        EXPECT_LT(worst_error(ir[1], c.from, c.to, 3000.0, c.source, ratio, 0.0, 0.98, 0.5), 1e-4);
        // Nothing follows the resampled block (the padded input plus the filter's reach).
        for (int k = c.target + 400; k < allocated; ++k)
            ASSERT_EQ(ir[0][k], 0.0f) << k;
    }
}

TEST(IrPolyphaseResample, EqualRatesAndInvalidArgumentsLeaveTheIrAlone)
{
    struct Case {
        int source, length, channels;
        bool with_buffer;
        char const* message; // shown, or null
    };
    Case const cases[] = {{48000, 800, 1, true, nullptr},
                          {44100, 0, 1, true, nullptr},
                          {44100, 800, 0, true, nullptr},
                          {44100, 800, 1, false, nullptr},
                          {0, 800, 1, true, "Resample init error (failed on GetSize)"},
                          {-44100, 800, 1, true, "Resample init error (failed on GetSize)"}};
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << " Hz, " << c.length << " frames, " << c.channels);
        IrBuffer ir(1, 1000);
        ir.fill(0, sine(800, 100.0, 44100.0));
        float* const before = ir[0];
        int allocated = 1000, length = c.length;
        MessageRecorder messages;
        resample_audio_file_into_preallocated_memory(c.with_buffer ? ir.data() : nullptr, c.source, 48000,
                                                     allocated, length, c.channels);
        std::vector<RecordedMessage> expected;
        if (c.message) expected.push_back({"Tarn Wick: Corvella", c.message, 0});
        EXPECT_EQ(messages.messages(), expected);
        EXPECT_EQ(ir[0], before);
        EXPECT_EQ(ir.copy(0, 800), sine(800, 100.0, 44100.0));
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(allocated, 1000);
    }
}

// Output k stands at input time k / ratio of the fed signal, which starts at the channel's second
// sample: at channel time 1 + k x source / target (equal rates shift by one sample). An impulse at
// sample 0 alone therefore resamples to silence.
TEST(IrStreamResample, SinesAreTimeAlignedAfterTheDroppedFirstSample)
{
    struct Case {
        float source, target;
    };
    for (Case const c : {Case{44100.0f, 48000.0f}, Case{96000.0f, 44100.0f}, Case{44100.0f, 96000.0f},
                         Case{48000.0f, 48000.0f}}) {
        SCOPED_TRACE(testing::Message() << c.source << " -> " << c.target);
        int const frames = static_cast<int>(c.source), target = static_cast<int>(c.target);
        int allocated = 3 * frames, length = frames;
        IrBuffer ir(2, allocated);
        ir.fill(0, sine(frames, 1000.0, c.source));
        ir[1][0] = 1.0f;
        float* const before = ir[0];
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), c.source, c.target, allocated, length, 2);
        EXPECT_EQ(ir[0], before); // in place
        EXPECT_EQ(length, target);
        int const margin = target / 20; // the abrupt start and end ring
        EXPECT_LT(
            worst_error(ir[0], margin, target - margin, 1000.0, c.source, double(c.source) / c.target, 1.0),
            1e-5);
        EXPECT_EQ(ir.copy(1, allocated), Floats(allocated, 0.0f));
    }
}

TEST(IrStreamResample, FailuresChangeNothingAndWithoutChannelsOnlyTheLengthChanges)
{
    Floats const original = sine(950, 440.0, 44100.0);
    IrBuffer ir(1, 1000);
    ir.fill(0, original);
    int allocated = 1000, length = 950;
    // A result longer than the allocation, and invalid rates.
    resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, 48000.0f, allocated, length, 1);
    for (float bad : {0.0f, -48000.0f, NAN}) {
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), 44100.0f, bad, allocated, length, 1);
        resample_audio_file_into_preallocated_memory_r8b(ir.data(), bad, 44100.0f, allocated, length, 1);
    }
    EXPECT_EQ(length, 950);
    EXPECT_EQ(allocated, 1000);
    EXPECT_EQ(ir.copy(0, 950), original);

    length = 10000;
    resample_audio_file_into_preallocated_memory_r8b(nullptr, 44100.0f, 96000.0f, allocated, length, 0);
    EXPECT_EQ(length, 21768);
    EXPECT_EQ(allocated, 1000);
}

} // namespace
