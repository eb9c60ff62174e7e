// The early-reflection generator: mirror-image geometry against a reference computed here, the
// per-depth budget, the scales when the room is set after the size, refused inputs and the editor
// texts.
#include "ir/reflection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr int clear_room = 3;

// Planar test buffer the generator's overlay writes into.
struct Planar {
    Planar(int channels, int frames)
        : data(static_cast<std::size_t>(channels), std::vector<float>(frames, 0.0f))
    {
        for (auto& channel : data)
            pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

// ---- Reference mirror-image model of the square room, in double precision ----

struct Pt {
    double x, y;
};
struct Wall {
    Pt a, b;
};

// The square's walls that reflect: left (x = 0), top (y = 1), right (x = 1). The floor (y = 0)
// closes the outline and is never a reflector.
std::vector<Wall> const square_walls = {{{0, 0}, {0, 1}}, {{0, 1}, {1, 1}}, {{1, 1}, {1, 0}}};

Pt mirror(Pt p, Wall const& w)
{
    double const dx = w.b.x - w.a.x, dy = w.b.y - w.a.y;
    double const len2 = dx * dx + dy * dy;
    double const t = ((p.x - w.a.x) * dx + (p.y - w.a.y) * dy) / len2;
    Pt const foot{w.a.x + t * dx, w.a.y + t * dy};
    return {2 * foot.x - p.x, 2 * foot.y - p.y};
}

// Whether the straight path from an image to the source passes through the wall segment.
bool path_meets_wall(Pt image, Pt source, Wall const& w)
{
    auto cross = [](Pt o, Pt p, Pt q) { return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x); };
    double const d1 = cross(image, source, w.a), d2 = cross(image, source, w.b);
    double const d3 = cross(w.a, w.b, image), d4 = cross(w.a, w.b, source);
    return d1 * d2 <= 0 && d3 * d4 <= 0;
}

struct Scene {
    double scale_x, scale_y;
    Pt listener, source;
};

double metres(Scene const& s, Pt a, Pt b)
{
    return std::hypot((b.x - a.x) * s.scale_x, (b.y - a.y) * s.scale_y);
}

// Echoes of a two-level search: the direct path once per wall whose first-order image is heard
// (gain 0.8), and each heard first-order image once per further wall that its second-order image
// is heard through (gain 0.8^2); echo level 0.37 / metres, times the position balance.
struct Reference {
    std::map<int, double> echoes; // delay in samples -> summed value
    int first_level = 0, second_level = 0;
};

Reference reference_echoes(Scene const& s, double balance)
{
    Reference ref;
    auto add = [&](double d, double gain, int count) {
        if (count == 0) return;
        ref.echoes[static_cast<int>(rate * d / 340.0)] += count * gain * 0.37 / d * balance;
    };
    for (std::size_t w = 0; w < square_walls.size(); ++w) {
        Pt const first = mirror(s.listener, square_walls[w]);
        if (!path_meets_wall(first, s.source, square_walls[w])) continue;
        ++ref.first_level;
        int onward = 0;
        for (std::size_t w2 = 0; w2 < square_walls.size(); ++w2)
            if (w2 != w && path_meets_wall(mirror(first, square_walls[w2]), s.source, square_walls[w2]))
                ++onward;
        ref.second_level += onward;
        add(metres(s, first, s.source), 0.8 * 0.8, onward);
    }
    add(metres(s, s.listener, s.source), 0.8, ref.first_level);
    return ref;
}

TEST(Reflection, FirstOrderEchoesInTheClearRoomMatchTheMirrorImages)
{
    for (auto [size, distance] : {std::pair{0.3f, 0.4f}, {0.3f, 0.9f}, {0.8f, 0.4f}, {0.8f, 0.9f}}) {
        SCOPED_TRACE(testing::Message() << "size " << size << ", distance " << distance);
        float const separation = 0.3f, position = 0.5f;
        reflection r(2, rate);
        // The pipeline's order: sizes and placement first, the room last.
        r.set_scale_x(size);
        r.set_scale_y(size);
        r.set_diffusion(0.0f);
        r.set_distance_unity(distance);
        r.set_position_unity(position);
        r.set_separation_unity(separation);
        r.set_room_number(clear_room);
        r.set_recusion_depth_unity(0.25f); // two levels
        r.set_low_pass_on(false);          // single-sample echoes
        r.compute_reflections(false);

        Planar out(2, r.get_buffer_length());
        r.overlay_computed_reflections(out.pointers.data(), r.get_buffer_length(), 2);

        // Room 3: 100 x 100 m bases, listener (0.5, 0.1), source x 0.1 .. 0.9, distance span 0.8.
        double const sx = std::clamp(std::max(0.05, double{size}) * 99.0, 1.0, 10000.0);
        double const sy = std::clamp(std::max(0.05, double{size}) * 101.0 + 1.0, 1.0, 10000.0);
        double const centre = 0.1 + 0.8 * position;
        double const source_y = 0.1 + distance * 0.8;
        Pt const sources[2] = {{centre - 5 * separation / sx, source_y},
                               {centre + 5 * separation / sx, source_y}};
        double const balances[2] = {1 - 0.8 * position, 1 - 0.8 * (1 - position)};

        for (int c = 0; c < 2; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            Reference const ref = reference_echoes({sx, sy, {0.5, 0.1}, sources[c]}, balances[c]);
            ASSERT_GT(ref.echoes.size(), 1u);
            EXPECT_EQ(r.get_reflection_count(c, 0), ref.first_level);
            EXPECT_EQ(r.get_reflection_count(c, 1), ref.second_level);
            std::vector<float> const& got = out.data[static_cast<std::size_t>(c)];
            double total = 0.0, expected_total = 0.0;
            for (float v : got)
                total += v;
            for (auto const& [delay, value] : ref.echoes) {
                expected_total += value;
                // Within one sample: compare the sums over delay - 1 .. delay + 1.
                double window = 0.0, expected_window = 0.0;
                for (int i = delay - 1; i <= delay + 1; ++i) {
                    window += got[static_cast<std::size_t>(i)];
                    auto const e = ref.echoes.find(i);
                    if (e != ref.echoes.end()) expected_window += e->second;
                }
                EXPECT_NEAR(window, expected_window, 1e-4 * expected_window) << "echo at " << delay;
            }
            EXPECT_NEAR(total, expected_total, 1e-4 * expected_total);
        }
    }
}

TEST(Reflection, BudgetCapsEachDepthAtBudgetOverMaximumDepth)
{
    reflection r(2, rate);
    r.set_scale_x(0.5f);
    r.set_scale_y(0.5f);
    r.set_diffusion(0.2f);
    r.set_distance_unity(0.3f);
    r.set_room_number(5); // "Auditorium": its folded outline multiplies the images level by level
    r.set_recusion_depth_unity(1.0f);
    ASSERT_EQ(r.get_recusion_depth(), 5);
    r.compute_reflections(false);
    int const cap = reflection::default_budget / 5;
    int largest = 0;
    for (int c = 0; c < 2; ++c)
        for (int d = 0; d < 5; ++d) {
            EXPECT_LE(r.get_reflection_count(c, d), cap) << "channel " << c << " depth " << d;
            largest = std::max(largest, r.get_reflection_count(c, d));
        }
    EXPECT_EQ(largest, cap) << "the search should run into the cap";
    EXPECT_LT(r.get_latest_reflection_index() + reflection::kernel_length, r.get_buffer_length());
}

TEST(Reflection, SameSettingsRepeatExactlyAndDiffusionMovesEchoes)
{
    reflection r(4, rate);
    r.set_room_number(0);
    r.set_scale_x(0.4f);
    r.set_scale_y(0.4f);
    auto run = [&](float diffusion) {
        r.set_diffusion(diffusion);
        r.compute_reflections(true);
        Planar out(4, r.get_buffer_length());
        r.overlay_computed_reflections(out.pointers.data(), r.get_buffer_length(), 4);
        return out.data;
    };
    auto const first = run(0.3f);
    EXPECT_EQ(first, run(0.3f));
    EXPECT_NE(first, run(0.0f));
}

TEST(Reflection, RoomSetAfterTheSizeUsesTheNewRoomsSizeBases)
{
    reflection size_first(2, rate), room_first(2, rate);
    size_first.set_scale_x(0.5f);
    size_first.set_scale_y(0.5f);
    size_first.set_distance_unity(0.5f);
    size_first.set_room_number(4); // "Drum Room", 30 x 25 m
    room_first.set_room_number(4);
    room_first.set_scale_x(0.5f);
    room_first.set_scale_y(0.5f);
    room_first.set_distance_unity(0.5f);
    for (reflection const* r : {&size_first, &room_first}) {
        EXPECT_FLOAT_EQ(r->get_scale_x(), 0.5f * 29.0f);
        EXPECT_FLOAT_EQ(r->get_scale_y(), 0.5f * 26.0f + 1.0f);
        EXPECT_FLOAT_EQ(r->get_distance_m(), 0.6f * 0.5f * 14.0f);
    }
}

TEST(Reflection, OutOfRangeInputsAreRefusedOrClamped)
{
    auto message_of = [](auto&& action) {
        try {
            action();
        } catch (std::runtime_error const& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message_of([] { reflection r(5, rate); }), "Reflection too many channels requested");
    reflection r(2, rate);
    EXPECT_EQ(message_of([&] { r.init_memory(); }),
              "Reflection memory allocation error (delay line memory was already allocated)");
    r.free_memory();
    EXPECT_EQ(message_of([&] { r.free_memory(); }),
              "Reflection tried to free unallocated delay line memory holder");
    r.init_memory();

    r.set_room_number(clear_room);
    r.set_room_number(10);
    r.set_room_number(-1);
    EXPECT_EQ(r.get_room_number(), clear_room);

    struct {
        float unity;
        int depth;
    } const depths[] = {
        {1.0f, 5}, {0.0f, 1}, {7.0f, 5}, {-2.0f, 1}, {std::numeric_limits<float>::quiet_NaN(), 1}};
    for (auto const& d : depths) {
        r.set_recusion_depth_unity(d.unity);
        EXPECT_EQ(r.get_recusion_depth(), d.depth) << d.unity;
    }

    // An unusable rate leaves an empty generator that adds nothing; a good rate restores it.
    r.set_sample_rate(0.0f);
    EXPECT_EQ(r.get_buffer_length(), 0);
    r.compute_reflections(true);
    Planar out(2, 1000);
    r.overlay_computed_reflections(out.pointers.data(), 1000, 2);
    EXPECT_EQ(out.data[0], std::vector<float>(1000, 0.0f));
    r.set_sample_rate(44100.0f);
    EXPECT_EQ(r.get_buffer_length(), 5 * 44100);
    r.compute_reflections(false);
    EXPECT_GT(r.get_latest_reflection_index(), 0);
}

TEST(Reflection, EditorTexts)
{
    using writer = void (*)(float, char*, std::size_t);
    struct {
        writer write;
        float value;
        char const* text;
    } const cases[] = {
        {reflection_square_dimensions, 250050.0f, "50x25m"},
        {reflection_square_dimensions, 0.0f, "1x1m"},
        {reflection_position, -2.0f, "2.0m L"},
        {reflection_position, 0.0f, "Centre"},
        {reflection_position, 3.0f, "3.0m R"},
        {reflection_separation, 0.0f, "None"},
        {reflection_separation, 0.5f, "0.50m"},
        {reflection_distance, 12.34f, "12.3m"},
        {reflection_diffusion, 0.5f, "50%"},
        {reflection_depth, 3.0f, "3"},
    };
    for (auto const& c : cases) {
        char text[reflection_text_min_size];
        c.write(c.value, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(Reflection, EditorReadsWhileTheWorkerComputes)
{
    reflection r(4, rate);
    r.set_room_number(5);
    std::atomic<bool> done{false};
    std::thread editor([&] {
        while (!done.load()) {
            float const sum =
                r.get_distance_m() + r.get_position_m() + r.get_separation_m() + r.get_scale_x();
            EXPECT_TRUE(std::isfinite(sum));
        }
    });
    for (float size : {0.2f, 0.6f, 1.0f}) {
        r.set_scale_x(size);
        r.set_scale_y(size);
        r.compute_reflections(true);
    }
    done = true;
    editor.join();
    EXPECT_GT(r.get_latest_reflection_index(), 0);
}

} // namespace
