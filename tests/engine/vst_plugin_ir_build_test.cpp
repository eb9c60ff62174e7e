// The IR build pipeline seen from outside: files written here, or the generators, are loaded
// through the engine's requests and the running IR is read back as the engine's response to an
// impulse.

#include "engine_fixture.h"

#include "ir/audio_file_loader.h"
#include "ir/ir_shaping.h"
#include "ir/reflection.h"
#include "ir/tail.h"
#include "platform/aligned_memory.h"
#include "support/reference_convolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace corvella::test {
namespace {

constexpr int rate = 48000;

using PipelineTest = EngineTest;

TEST_F(PipelineTest, AStereoFileAt44k1ConvolvesAsResampledNormalisedAndRateGained)
{
    int const file_rate = 44100, file_frames = 22050;
    Signal const left = decaying_noise(file_frames, 11), right = decaying_noise(file_frames, 12);
    auto const path = write_wav("room.wav", {left, right}, file_rate);

    // The default program, with the rate normalisation of "SRNorm" 0.
    auto engine = make_engine(0, rate, 0);
    edit_program(*engine, [&](VST_Plugin_Program& p) { set_path(p.ir1_file_a, path.string()); });
    rebuild_ir1(*engine, true);

    // Reference: the same resampler to 48 kHz, normalised to a peak of 1, times 44100 / 48000, times
    // the default gains: IR1 at -20 dB and the IR1/IR2 mix at its centre with the equal-sum law.
    int allocated = 4 * file_frames + 65536, length = file_frames;
    float* channels[2] = {aligned_new<float>(static_cast<size_t>(allocated), true),
                          aligned_new<float>(static_cast<size_t>(allocated), true)};
    std::copy(left.begin(), left.end(), channels[0]);
    std::copy(right.begin(), right.end(), channels[1]);
    resample_audio_file_into_preallocated_memory(channels, file_rate, rate, allocated, length, 2);
    int const ir_length =
        static_cast<int>(static_cast<float>(rate) / static_cast<float>(file_rate) * file_frames);
    float peak = 0.0f;
    for (float* c : channels)
        peak = std::max(peak, std::fabs(*std::max_element(c, c + ir_length, [](float x, float y) {
                            return std::fabs(x) < std::fabs(y);
                        })));
    double const gain = 1.0 / peak * (44100.0 / 48000.0) * 0.1 * 0.5;
    Signal reference_ir[2];
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < ir_length; ++i)
            reference_ir[c].push_back(static_cast<float>(channels[c][i] * gain));
        std::free(channels[c]);
    }

    size_t const total = static_cast<size_t>(ir_length) + 6000;
    StereoSignal in{noise_burst(total, 3000, 21), noise_burst(total, 3000, 22)};
    StereoSignal const out = run_stereo(*engine, in);
    EXPECT_LT(relative_error_db(out.left, reference_convolve(in.left, reference_ir[0], total)), -80.0);
    EXPECT_LT(relative_error_db(out.right, reference_convolve(in.right, reference_ir[1], total)), -80.0);
}

// True Stereo pairs file A with the left input and file B with the right. STS made from file A feeds
// a delayed, quieter copy of each side crosswise.
TEST_F(PipelineTest, TrueStereoPairsAndStsFromFileA)
{
    auto const a = write_wav("pair-L.wav", {sparse(4800, {{10, 0.5f}}), sparse(4800, {{20, 0.4f}})}, rate);
    auto const b = write_wav("pair-R.wav", {sparse(4800, {{30, 0.3f}}), sparse(4800, {{40, 0.2f}})}, rate);
    float const g = std::pow(10.0f, -6.0f / 20.0f);
    using Impulses = std::vector<std::pair<int, float>>;
    struct Case {
        char const* name;
        std::function<void(VST_Plugin_Program&)> edit;
        Impulses left_to_left, left_to_right, right_to_left, right_to_right;
    };
    // STS: 20 ms pre-delay (960 frames) at -6 dB, the high pass off so that the copy is exact.
    // clang-format off
    Case const cases[] = {
        {"True Stereo", [&](VST_Plugin_Program& p) { p.ir1_topology = 1.0f / 3.0f; set_path(p.ir1_file_b, b.string()); },
         {{10, 0.5f}}, {{20, 0.4f}}, {{30, 0.3f}}, {{40, 0.2f}}},
        {"STS from A", [](VST_Plugin_Program& p) { p.ir1_sts_toggle = 0.5f; p.ir1_sts_high_pass_toggle = 0.0f;
                                                   p.ir1_sts_pre_delay = 0.25f; p.ir1_sts_relative_gain = 0.5f; },
         {{10, 0.5f}}, {{970, 0.5f * g}}, {{980, 0.4f * g}}, {{20, 0.4f}}},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = file_engine(a, c.edit);
        StereoSignal const from_left = respond(*engine, 1.0f, 0.0f, 2000);
        StereoSignal const from_right = respond(*engine, 0.0f, 1.0f, 2000);
        EXPECT_LT(max_difference(from_left.left, sparse(2000, c.left_to_left)), 1e-6f);
        EXPECT_LT(max_difference(from_left.right, sparse(2000, c.left_to_right)), 1e-6f);
        EXPECT_LT(max_difference(from_right.left, sparse(2000, c.right_to_left)), 1e-6f);
        EXPECT_LT(max_difference(from_right.right, sparse(2000, c.right_to_right)), 1e-6f);
    }
}

TEST_F(PipelineTest, StsFromFileBFeedsADecorrelatedSideCrosswise)
{
    auto const a = write_wav("sts-b.wav", {decaying_noise(9600, 31), decaying_noise(9600, 32)}, rate);
    auto engine = file_engine(a, [](VST_Plugin_Program& p) { p.ir1_sts_toggle = 1.0f; });
    StereoSignal const with_side = respond(*engine, 1.0f, 0.0f, 30000);
    edit_program(*engine, [](VST_Plugin_Program& p) { p.ir1_sts_toggle = 0.0f; });
    rebuild_ir1(*engine, true);
    StereoSignal const without_side = respond(*engine, 1.0f, 0.0f, 30000);

    // Without STS the left input reaches only the left output; with it the right output carries a
    // side that is not a copy of the left response.
    EXPECT_EQ(without_side.right, Signal(30000, 0.0f));
    double cross = 0.0, direct = 0.0, product = 0.0;
    for (size_t i = 0; i < with_side.right.size(); ++i) {
        cross += double(with_side.right[i]) * with_side.right[i];
        direct += double(with_side.left[i]) * with_side.left[i];
        product += double(with_side.right[i]) * with_side.left[i];
    }
    EXPECT_GT(cross, 1e-3 * direct);
    EXPECT_LT(std::fabs(product) / std::sqrt(cross * direct), 0.5);
}

TEST_F(PipelineTest, EachShapingSettingReachesTheRunningIrFromTheCacheAndAFullRebuildRereads)
{
    // Left 0.5 at 2000 and 0.25 at 12000, right 0.4 at 3000; 0.5 s at 48 kHz, not normalised.
    auto const path = write_wav(
        "sparse.wav", {sparse(24000, {{2000, 0.5f}, {12000, 0.25f}}), sparse(24000, {{3000, 0.4f}})}, rate);
    auto engine = file_engine(path);
    std::filesystem::remove(path); // partial rebuilds reshape the cached source and never reread it
    VST_Plugin_Program const base = *engine->program;
    auto reshaped = [&](std::function<void(VST_Plugin_Program&)> const& edit) {
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            p = base;
            edit(p);
        });
        rebuild_ir1(*engine, false);
        return respond(*engine, 1.0f, 1.0f, 40000); // the latest impulse is due at 36000
    };
    using Impulses = std::vector<std::pair<int, float>>;
    struct Case {
        char const* name;
        std::function<void(VST_Plugin_Program&)> edit;
        Impulses left, right;
    };
    Case const cases[] = {
        {"as loaded", [](VST_Plugin_Program&) {}, {{2000, 0.5f}, {12000, 0.25f}}, {{3000, 0.4f}}},
        // Crop acts on the square of its setting: 0.5 crops a quarter, 6000 frames, from the start.
        {"crop", [](VST_Plugin_Program& p) { p.ir1_crop_from_start = 0.5f; }, {{6000, 0.25f}}, {}},
        {"reverse",
         [](VST_Plugin_Program& p) { p.ir1_reverse = 1.0f; },
         {{21999, 0.5f}, {11999, 0.25f}},
         {{20999, 0.4f}}},
        {"pre-delay 500 ms",
         [](VST_Plugin_Program& p) { p.ir1_pre_delay = 1.0f; },
         {{26000, 0.5f}, {36000, 0.25f}},
         {{27000, 0.4f}}},
        {"width 0: both channels their mean",
         [](VST_Plugin_Program& p) { p.ir1_width = 0.0f; },
         {{2000, 0.25f}, {12000, 0.125f}, {3000, 0.2f}},
         {{2000, 0.25f}, {12000, 0.125f}, {3000, 0.2f}}},
        {"normalise",
         [](VST_Plugin_Program& p) { p.ir1_normalise = 1.0f; },
         {{2000, 1.0f}, {12000, 0.5f}},
         {{3000, 0.8f}}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        StereoSignal const out = reshaped(c.edit);
        EXPECT_LT(max_difference(out.left, sparse(40000, c.left)), 1e-6f);
        EXPECT_LT(max_difference(out.right, sparse(40000, c.right)), 1e-6f);
    }

    // A straight decay to silence over the whole IR: the gain at frame t is 1 - t / 24000.
    StereoSignal const decayed = reshaped([](VST_Plugin_Program& p) {
        p.ir1_adshr_d = 1.0f;
        p.ir1_adshr_s = 0.0f;
        p.ir1_adshr_h = 0.0f;
    });
    EXPECT_NEAR(decayed.left[2000], 0.5f * (1.0f - 2000.0f / 24000.0f), 1e-4f);
    EXPECT_NEAR(decayed.left[12000], 0.25f * (1.0f - 12000.0f / 24000.0f), 1e-4f);
    EXPECT_NEAR(decayed.right[3000], 0.4f * (1.0f - 3000.0f / 24000.0f), 1e-4f);

    // The length factor shrinks to half or stretches by one and a half; every impulse moves with it.
    for (auto [factor, left_peak] : {std::pair{0.0f, 1000.0}, {0.5f, 2000.0}, {1.0f, 3000.0}}) {
        StereoSignal const out =
            reshaped([&](VST_Plugin_Program& p) { p.ir1_user_resample_factor = factor; });
        EXPECT_NEAR(static_cast<double>(peak_position(out.left)), left_peak, 1.0) << factor;
        EXPECT_NEAR(static_cast<double>(peak_position(out.right)), 1.5 * left_peak, 1.0) << factor;
    }

    // A full rebuild looks for the file and falls back to silence.
    rebuild_ir1(*engine, true);
    EXPECT_LT(max_difference(respond(*engine, 1.0f, 1.0f, 30000).left, Signal(30000, 0.0f)), 1e-9f);
}

// Mean power of `x` around `hz` (a few DFT bins of a Hann-windowed frame).
double band_power(Signal const& x, size_t start, size_t frame, double hz)
{
    double const bin = hz * static_cast<double>(frame) / rate, pi = std::numbers::pi;
    double total = 0.0;
    for (int offset = -8; offset <= 8; ++offset) {
        std::complex<double> sum = 0.0;
        double const k = std::round(bin) + offset;
        for (size_t n = 0; n < frame; ++n)
            sum += x[start + n] * (0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(n) / frame)) *
                   std::polar(1.0, -2.0 * pi * k * static_cast<double>(n) / frame);
        total += std::norm(sum);
    }
    return total;
}

TEST_F(PipelineTest, AnEqualiserBandSweepsItsFrequencyAlongTheIr)
{
    int const frames = 2 * rate;
    auto const path =
        write_wav("noise.wav", {noise_burst(frames, frames, 41), noise_burst(frames, frames, 42)}, rate);
    // A +20 dB peak whose centre moves from 500 Hz at the start of the IR to 8 kHz at its end.
    auto unity_of = [](double hz) {
        return static_cast<float>(std::log10(9.0 * std::log10(9.0 * hz / 24000.0 + 1.0) + 1.0));
    };
    auto engine = file_engine(path, [&](VST_Plugin_Program& p) {
        p.ir1_flt_master_toggle = 1.0f;
        p.ir1_flt3_toggle = 1.0f;
        p.ir1_flt3_mode = 0.0f;
        p.ir1_flt3_gain = 1.0f;
        p.ir1_flt3_q = 0.5f;
        p.ir1_flt3_freq = unity_of(500.0);
        p.ir1_flt3_freq_to = unity_of(8000.0);
        p.ir1_flt3_freq_to_start = 0.0f;
        p.ir1_flt3_freq_to_end = 1.0f;
    });
    Signal const ir = respond(*engine, 1.0f, 0.0f, static_cast<size_t>(frames)).left;
    size_t const window = 2048, late = static_cast<size_t>(frames) - window;
    // Early the low band is boosted, late the high band: the tilt swings by well over 20 dB.
    EXPECT_GT(10.0 * std::log10(band_power(ir, 0, window, 500.0) / band_power(ir, 0, window, 8000.0)), 10.0);
    EXPECT_LT(10.0 * std::log10(band_power(ir, late, window, 500.0) / band_power(ir, late, window, 8000.0)),
              -10.0);
}

// A slot switched to early reflections or to a tail: the engine plays what the generators make,
// with the slot's settings, and regenerates when a generator setting changes even on a partial
// request.
using GeneratorTest = EngineTest;

size_t first_sound(Signal const& s)
{
    for (size_t i = 0; i < s.size(); ++i)
        if (std::fabs(s[i]) > 1e-6f) return i; // below: the transforms' rounding
    return s.size();
}

// Energy of `s` in `parts` equal parts, in dB relative to the first.
std::vector<double> envelope_db(Signal const& s, size_t length, int parts)
{
    std::vector<double> energy(static_cast<size_t>(parts), 1e-30);
    for (size_t i = 0; i < length; ++i)
        energy[i * static_cast<size_t>(parts) / length] += static_cast<double>(s[i]) * s[i];
    std::vector<double> db;
    for (double e : energy)
        db.push_back(10.0 * std::log10(e / energy[0]));
    return db;
}

TEST_F(GeneratorTest, EarlyReflectionsStartWhereTheRoomPutsThemAndFollowTheRoom)
{
    auto engine = make_engine(0, rate);
    set_unity_program(*engine);
    auto reflections_of = [&](int room, float size) {
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            p.ir1_source_type = 1;
            p.ir1_er_type = room;
            p.ir1_er_size = size;
            p.ir1_normalise = 0.0f;
        });
        rebuild_ir1(*engine, false); // a partial request: the changed settings regenerate all the same
        return respond(*engine, 1.0f, 0.0f, rate).left;
    };
    for (auto [room, size] : {std::pair{0, 0.5f}, std::pair{3, 0.8f}}) {
        reflection alone(4, rate); // the same settings, made directly
        alone.set_room_number(room);
        alone.set_scale_x(size);
        alone.set_scale_y(size);
        alone.set_diffusion(0.5f);
        alone.set_distance_unity(0.5f);
        alone.set_position_unity(0.5f);
        alone.set_separation_unity(0.5f);
        alone.set_recusion_depth_unity(0.2f);
        alone.compute_reflections(false);
        Signal const expected(alone.get_channel(0), alone.get_channel(0) + rate / 2);
        Signal const out = reflections_of(room, size);
        ASSERT_LT(first_sound(expected), expected.size());
        EXPECT_EQ(first_sound(out), first_sound(expected)) << "room " << room;
        // The shaped IR is the generator's, scaled by the slot's gains (sr_gain 44100/48000).
        size_t const peak = peak_position(expected);
        EXPECT_EQ(peak_position(out), peak) << "room " << room;
        EXPECT_NEAR(out[peak] / expected[peak], 44100.0f / 48000.0f, 1e-3f) << "room " << room;
    }
}

TEST_F(GeneratorTest, ATailDecaysAsTheGeneratorMakesItAndChangesWithItsVariant)
{
    auto engine = make_engine(0, rate);
    set_unity_program(*engine);
    auto tail_of = [&](float variant) {
        edit_program(*engine, [&](VST_Plugin_Program& p) {
            p.ir1_source_type = 2;
            p.ir1_tail_length = 0.25f; // 0.25^3 x 29.95 + 0.05 = 0.52 s
            p.ir1_tail_variant = variant;
        });
        rebuild_ir1(*engine, true);
        return respond(*engine, 1.0f, 0.0f, rate).left;
    };
    Signal const out = tail_of(0.0f);
    tail alone(4, rate);
    alone.set_length_unity(0.25f);
    alone.set_diffusion_unity(0.39f);
    alone.set_diffuse_length_unity(1.0f);
    float** buffer = nullptr;
    int allocated = 0, length = 0, bits = 0, rate_out = 0;
    alone.create_multichannel_tails(buffer, rate, allocated, length, bits, rate_out, 2, false, 0.0f, 1.0f, 0,
                                    0.5f);
    ASSERT_NE(buffer, nullptr);
    Signal const expected(buffer[0], buffer[0] + length);
    corvella::free_ir_load_buffer(buffer);
    size_t const span = std::min<size_t>(static_cast<size_t>(length), out.size());
    std::vector<double> const made = envelope_db(expected, span, 10), played = envelope_db(out, span, 10);
    for (size_t part = 1; part < made.size(); ++part)
        EXPECT_NEAR(played[part], made[part], 1.5) << "tenth " << part;
    EXPECT_LT(made.back(), -20.0) << "the tail decays over its length";
    EXPECT_GT(max_difference(tail_of(0.5f), out), 1e-3f) << "another variant, other noise";
}

} // namespace
} // namespace corvella::test
