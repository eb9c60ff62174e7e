// Topology conversions and the Fusion display helpers.
#include "program/program_constants.h"
#include "program/program_sanitise.h"
#include "program/vst_plugin_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

using P = VST_Plugin_Program;

namespace {
float const kNaN = std::numeric_limits<float>::quiet_NaN();
}

TEST(ProgramTopology, FromAndToUnity)
{
    struct Case {
        float u;
        bool two_way, fusion;
        int expected;
    };
    // clang-format off
    Case const cases[] = {
        {0, false, false, 0}, {1.0f / 3, false, false, 1}, {2.0f / 3, false, false, 2}, {1, false, false, 3},
        {1, false, true, 4},
        // The band edges belong to no band; below the first band and out of range is 3 (or 4).
        {0.3f, false, false, 3}, {0.6f, false, false, 3}, {0.3f, false, true, 4}, {0.6f, false, true, 4},
        {0.30001f, false, false, 1}, {0.59999f, false, false, 1}, {0.60001f, false, false, 2},
        {0.99999f, false, false, 2}, {0.1f, false, false, 3}, {-0.5f, false, false, 3}, {1.5f, false, true, 4},
        {kNaN, false, false, 3}, {0, true, false, 0}, {1, true, false, 2}, {0.5f, true, false, 1},
        {0.99f, true, true, 1}, {1.0f / 3, true, true, 1}, {0, true, true, 0}, {1, true, true, 2}};
    // clang-format on
    for (Case const& c : cases)
        EXPECT_EQ(P::get_topology_from_unity(c.u, c.two_way, c.fusion), c.expected)
            << c.u << (c.two_way ? " two-way" : "") << (c.fusion ? " fusion" : "");

    float const fusion[] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 0.0f, 1.0f};
    for (int t = 0; t < 5; ++t)
        EXPECT_FLOAT_EQ(P::get_topology_as_unity(t, true), fusion[t]) << t;
    for (int t = 0; t < 4; ++t)
        EXPECT_FLOAT_EQ(P::get_topology_as_unity(t, false), static_cast<float>(t) / 3.0f) << t;
    EXPECT_EQ(P::get_topology_as_unity(5, true), 0.0f); // outside the table: a harmless value
    EXPECT_EQ(P::get_topology_as_unity(-1, true), 0.0f);
}

TEST(ProgramFusion, RatesGainsAndTheirTexts)
{
    char text[corvella::program_text_min_size];
    std::tuple<float, float, char const*> const rates[] = {
        {0.0f, 0.0f, "Suspended"},       {0.25f, 0.5f, "Fusion: 0.50 Hz"},
        {0.5f, 1.0f, "Fusion: 1.00 Hz"}, {0.75f, 3.0f, "Fusion: 3.00 Hz"},
        {1.0f, 5.0f, "Fusion: 5.00 Hz"}, {0.001f, 0.002f, "Fusion: 0.00 Hz"}};
    for (auto [u, hz, expected] : rates) {
        EXPECT_FLOAT_EQ(P::get_rate_hz(u), hz) << u;
        P::get_rate_hz_char(u, text);
        EXPECT_STREQ(text, expected);
    }
    std::pair<float, char const*> const permits[] = {
        {1.0f, "Early Fusion On"}, {0.0f, "Early Fusion Off"}, {0.99f, "Early Fusion Off"}};
    for (auto [u, expected] : permits) {
        P::get_head_permit_char(u, text);
        EXPECT_STREQ(text, expected);
    }
    struct Case {
        float u, early, late;
        char const* long_form;
        char const* short_form;
    };
    // Power gains: 0.25 gives a late gain of 0.5 squared, 10 log10(0.25) = -6.0 dB.
    for (Case c : {Case{0.0f, 1, 0, "Early: 0.0 dB / Late: -oo dB", "0.0 / Late Off"},
                   Case{0.5f, 1, 1, "Early: 0.0 dB / Late: 0.0 dB", "0.0 / 0.0"},
                   Case{1.0f, 0, 1, "Early: -oo dB / Late: 0.0 dB", "Early Off / 0.0"},
                   Case{0.25f, 1, 0.25f, "Early: 0.0 dB / Late: -6.0 dB", "0.0 / -6.0"},
                   Case{0.75f, 0.25f, 1, "Early: -6.0 dB / Late: 0.0 dB", "-6.0 / 0.0"},
                   Case{-0.01f, 0, 0, "err", "err"}, Case{1.01f, 0, 0, "err", "err"},
                   Case{kNaN, 0, 0, "err", "err"}}) {
        SCOPED_TRACE(c.u);
        EXPECT_EQ(P::get_head_tail_mix_tuple_power(c.u), std::make_pair(c.early, c.late));
        EXPECT_EQ(P::get_head_tail_mix(c.u, true), c.long_form);
        EXPECT_EQ(P::get_head_tail_mix(c.u, false), c.short_form);
        P::get_head_tail_mix_char(c.u, text);
        EXPECT_STREQ(text, c.long_form);
    }
    // The late power gain (2u)^2 reaches 1e-9 (-90 dB) at u = 0.5 * 10^-4.5.
    float const edge = 0.5f * std::pow(10.0f, -4.5f);
    EXPECT_EQ(P::get_head_tail_mix(edge * 0.99f, false), "0.0 / Late Off");
    EXPECT_EQ(P::get_head_tail_mix(edge * 1.01f, false), "0.0 / -89.9");
}

TEST(ProgramFusion, TextsRespectTheBufferSize)
{
    char text[8];
    std::memset(text, 'x', sizeof text);
    P::get_rate_hz_char(1.0f, text, 6);
    EXPECT_STREQ(text, "Fusio");
    EXPECT_EQ(text[6], 'x');
    P::get_head_tail_mix_char(0.0f, text, 4);
    EXPECT_STREQ(text, "Ear");
    P::get_head_permit_char(1.0f, text, 1);
    EXPECT_STREQ(text, "");
    P::get_rate_hz_char(1.0f, nullptr);
    P::get_head_permit_char(1.0f, nullptr);
    P::get_head_tail_mix_char(1.0f, nullptr);
    std::memset(text, 'x', sizeof text);
    P::get_rate_hz_char(1.0f, text, 0);
    EXPECT_EQ(text[0], 'x');
}

// Every float slot, damaged alone: not finite gives the slot's default, a huge value its bound
// (0..1, tempos 30..200 BPM); integer slots with a meaning are clamped to it.
TEST(ProgramSanitise, EveryFloatSlotIsBroughtIntoItsRange)
{
    std::size_t const texts[][2] = {{offsetof(P, name), sizeof(P::name)},
                                    {offsetof(P, ir1_file_a), 2 * sizeof(P::ir1_file_a)},
                                    {offsetof(P, ir2_file_a), 2 * sizeof(P::ir2_file_a)},
                                    {offsetof(P, reserved_1576), sizeof(P::reserved_1576)},
                                    {offsetof(P, reserved_2740), sizeof(P::reserved_2740)},
                                    {offsetof(P, host_data_1), 16},
                                    {offsetof(P, version_stamp), 8}}; // and current_program
    std::size_t const tempos[] = {offsetof(P, master_delay_l_tempo), offsetof(P, master_delay_r_tempo),
                                  offsetof(P, ir1_delay_l_tempo),    offsetof(P, ir1_delay_r_tempo),
                                  offsetof(P, ir2_delay_l_tempo),    offsetof(P, ir2_delay_r_tempo)};
    P const defaults;
    int floats = 0;
    for (std::size_t offset = 0; offset < sizeof(P); offset += 4) {
        bool skip = corvella::is_integer_slot(offset);
        for (auto const& range : texts)
            skip = skip || (offset >= range[0] && offset < range[0] + range[1]);
        if (skip) continue;
        ++floats;
        bool const tempo = std::find(std::begin(tempos), std::end(tempos), offset) != std::end(tempos);
        float fallback;
        std::memcpy(&fallback, reinterpret_cast<unsigned char const*>(&defaults) + offset, 4);
        for (auto [damage, expected] : {std::pair{kNaN, fallback}, std::pair{INFINITY, fallback},
                                        std::pair{-INFINITY, fallback}, std::pair{1e30f, tempo ? 200.0f : 1.0f},
                                        std::pair{-1e30f, tempo ? 30.0f : 0.0f}}) {
            P record;
            std::memcpy(reinterpret_cast<unsigned char*>(&record) + offset, &damage, 4);
            EXPECT_EQ(corvella::sanitise_program_values(record), 1) << offset;
            float repaired;
            std::memcpy(&repaired, reinterpret_cast<unsigned char const*>(&record) + offset, 4);
            EXPECT_EQ(repaired, expected) << "slot at byte " << offset << " damaged to " << damage;
        }
    }
    EXPECT_EQ(floats, 743 - 6 - 300 - 7 - 23 - 4 - 2 - 20);

    P record;
    record.ir1_er_type = 99;
    record.master_delay_l_delay_denom = 0;
    record.ir2_source_type = -4;
    EXPECT_EQ(corvella::sanitise_program_values(record), 3);
    EXPECT_EQ(record.ir1_er_type, 9);
    EXPECT_EQ(record.master_delay_l_delay_denom, 1);
    EXPECT_EQ(record.ir2_source_type, 0);
    EXPECT_EQ(corvella::sanitise_program_values(record), 0);
}
