// A slot switched to early reflections or to a tail: the engine plays what the generators make,
// with the slot's settings, and regenerates when a generator setting changes even on a partial
// request.

#include "engine_fixture.h"

#include "ir/audio_file_loader.h"
#include "ir/reflection.h"
#include "ir/tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace corvella::test {
namespace {

using GeneratorTest = EngineTest;
constexpr int rate = 48000;

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
            p.ir1_tail_length = 0.36f; // 0.36^3 x 29.95 + 0.05 = 1.45 s
            p.ir1_tail_variant = variant;
        });
        rebuild_ir1(*engine, true);
        return respond(*engine, 1.0f, 0.0f, 2 * rate).left;
    };
    Signal const out = tail_of(0.0f);
    tail alone(4, rate);
    alone.set_length_unity(0.36f);
    alone.set_diffusion_unity(0.39f);
    alone.set_diffuse_length_unity(1.0f);
    float** buffer = nullptr;
    int allocated = 0, length = 0, bits = 0, rate_out = 0;
    alone.create_multichannel_tails(buffer, rate, allocated, length, bits, rate_out, 2, false, 0.0f, 1.0f, 0, 0.5f);
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
