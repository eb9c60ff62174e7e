// Topology conversions and the Fusion display helpers.
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using P = VST_Plugin_Program;

namespace {

std::string rate_text(float u)
{
    char text[corvella::program_text_min_size];
    P::get_rate_hz_char(u, text);
    return text;
}

std::string permit_text(float u)
{
    char text[corvella::program_text_min_size];
    P::get_head_permit_char(u, text);
    return text;
}

float const kNaN = std::numeric_limits<float>::quiet_NaN();

} // namespace

TEST(ProgramTopology, FromUnityFourWay)
{
    EXPECT_EQ(P::get_topology_from_unity(0.0f, false, false), 0);
    EXPECT_EQ(P::get_topology_from_unity(1.0f / 3.0f, false, false), 1);
    EXPECT_EQ(P::get_topology_from_unity(2.0f / 3.0f, false, false), 2);
    EXPECT_EQ(P::get_topology_from_unity(1.0f, false, false), 3);
    EXPECT_EQ(P::get_topology_from_unity(1.0f, false, true), 4);
    // The band edges themselves belong to no band.
    EXPECT_EQ(P::get_topology_from_unity(0.3f, false, false), 3);
    EXPECT_EQ(P::get_topology_from_unity(0.6f, false, false), 3);
    EXPECT_EQ(P::get_topology_from_unity(0.3f, false, true), 4);
    EXPECT_EQ(P::get_topology_from_unity(0.6f, false, true), 4);
    EXPECT_EQ(P::get_topology_from_unity(0.30001f, false, false), 1);
    EXPECT_EQ(P::get_topology_from_unity(0.59999f, false, false), 1);
    EXPECT_EQ(P::get_topology_from_unity(0.60001f, false, false), 2);
    EXPECT_EQ(P::get_topology_from_unity(0.99999f, false, false), 2);
    // Below the first band and out of range.
    EXPECT_EQ(P::get_topology_from_unity(0.1f, false, false), 3);
    EXPECT_EQ(P::get_topology_from_unity(-0.5f, false, false), 3);
    EXPECT_EQ(P::get_topology_from_unity(1.5f, false, true), 4);
    EXPECT_EQ(P::get_topology_from_unity(kNaN, false, false), 3);
}

TEST(ProgramTopology, FromUnityTwoWay)
{
    for (bool fusion : {false, true}) {
        EXPECT_EQ(P::get_topology_from_unity(0.0f, true, fusion), 0);
        EXPECT_EQ(P::get_topology_from_unity(1.0f, true, fusion), 2);
        EXPECT_EQ(P::get_topology_from_unity(0.5f, true, fusion), 1);
        EXPECT_EQ(P::get_topology_from_unity(0.99f, true, fusion), 1);
        EXPECT_EQ(P::get_topology_from_unity(1.0f / 3.0f, true, fusion), 1);
    }
}

TEST(ProgramTopology, AsUnity)
{
    EXPECT_FLOAT_EQ(P::get_topology_as_unity(0, false), 0.0f);
    EXPECT_FLOAT_EQ(P::get_topology_as_unity(1, false), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(P::get_topology_as_unity(2, false), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(P::get_topology_as_unity(3, false), 1.0f);
    float const table[] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 0.0f, 1.0f};
    for (int t = 0; t < 5; ++t)
        EXPECT_FLOAT_EQ(P::get_topology_as_unity(t, true), table[t]) << t;
    // Outside the table: a defined, harmless value.
    EXPECT_EQ(P::get_topology_as_unity(5, true), 0.0f);
    EXPECT_EQ(P::get_topology_as_unity(-1, true), 0.0f);
}

TEST(ProgramTopology, RoundTripsThroughTheFourWayForm)
{
    EXPECT_EQ(P::get_topology_from_unity(P::get_topology_as_unity(0, false), false, false), 0);
    EXPECT_EQ(P::get_topology_from_unity(P::get_topology_as_unity(1, false), false, false), 1);
    EXPECT_EQ(P::get_topology_from_unity(P::get_topology_as_unity(2, false), false, false), 2);
    EXPECT_EQ(P::get_topology_from_unity(P::get_topology_as_unity(3, false), false, false), 3);
}

TEST(ProgramFusion, RateHz)
{
    EXPECT_FLOAT_EQ(P::get_rate_hz(0.0f), 0.0f);
    EXPECT_FLOAT_EQ(P::get_rate_hz(0.25f), 0.5f);
    EXPECT_FLOAT_EQ(P::get_rate_hz(0.5f), 1.0f);
    EXPECT_FLOAT_EQ(P::get_rate_hz(0.75f), 3.0f);
    EXPECT_FLOAT_EQ(P::get_rate_hz(1.0f), 5.0f);
}

TEST(ProgramFusion, RateText)
{
    EXPECT_EQ(rate_text(0.0f), "Suspended");
    EXPECT_EQ(rate_text(0.25f), "Fusion: 0.50 Hz");
    EXPECT_EQ(rate_text(0.5f), "Fusion: 1.00 Hz");
    EXPECT_EQ(rate_text(1.0f), "Fusion: 5.00 Hz");
    EXPECT_EQ(rate_text(0.001f), "Fusion: 0.00 Hz"); // not zero, so not suspended
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
    // Nothing is written through a null pointer or into an empty buffer.
    P::get_rate_hz_char(1.0f, nullptr);
    P::get_head_permit_char(1.0f, nullptr);
    P::get_head_tail_mix_char(1.0f, nullptr);
    std::memset(text, 'x', sizeof text);
    P::get_rate_hz_char(1.0f, text, 0);
    EXPECT_EQ(text[0], 'x');
}

TEST(ProgramFusion, HeadPermitText)
{
    EXPECT_EQ(permit_text(1.0f), "Early Fusion On");
    EXPECT_EQ(permit_text(0.0f), "Early Fusion Off");
    EXPECT_EQ(permit_text(0.99f), "Early Fusion Off");
}

TEST(ProgramFusion, HeadTailPowerGains)
{
    using Gains = std::pair<float, float>;
    EXPECT_EQ(P::get_head_tail_mix_tuple_power(0.0f), (Gains{1.0f, 0.0f}));
    EXPECT_EQ(P::get_head_tail_mix_tuple_power(0.5f), (Gains{1.0f, 1.0f}));
    EXPECT_EQ(P::get_head_tail_mix_tuple_power(1.0f), (Gains{0.0f, 1.0f}));
    EXPECT_EQ(P::get_head_tail_mix_tuple_power(0.25f), (Gains{1.0f, 0.25f}));
    EXPECT_EQ(P::get_head_tail_mix_tuple_power(0.75f), (Gains{0.25f, 1.0f}));
    for (float u : {-0.01f, 1.01f, kNaN})
        EXPECT_EQ(P::get_head_tail_mix_tuple_power(u), (Gains{0.0f, 0.0f})) << u;
}

TEST(ProgramFusion, HeadTailMixLongForm)
{
    EXPECT_EQ(P::get_head_tail_mix(0.0f, true), "Early: 0.0 dB / Late: -oo dB");
    EXPECT_EQ(P::get_head_tail_mix(0.5f, true), "Early: 0.0 dB / Late: 0.0 dB");
    EXPECT_EQ(P::get_head_tail_mix(1.0f, true), "Early: -oo dB / Late: 0.0 dB");
    // 0.25: late gain 0.5 squared = 0.25, a power gain: 10 log10(0.25) = -6.0 dB.
    EXPECT_EQ(P::get_head_tail_mix(0.25f, true), "Early: 0.0 dB / Late: -6.0 dB");
    EXPECT_EQ(P::get_head_tail_mix(0.75f, true), "Early: -6.0 dB / Late: 0.0 dB");
}

TEST(ProgramFusion, HeadTailMixShortForm)
{
    EXPECT_EQ(P::get_head_tail_mix(0.0f, false), "0.0 / Late Off");
    EXPECT_EQ(P::get_head_tail_mix(0.5f, false), "0.0 / 0.0");
    EXPECT_EQ(P::get_head_tail_mix(1.0f, false), "Early Off / 0.0");
}

TEST(ProgramFusion, HeadTailMixAtTheMinus90DecibelEdge)
{
    // Late power gain (2u)^2 is 1e-9 (-90 dB) at u = 0.5 * 10^-4.5: just below shows "Late Off".
    float const edge = 0.5f * std::pow(10.0f, -4.5f);
    EXPECT_EQ(P::get_head_tail_mix(edge * 0.99f, false), "0.0 / Late Off");
    EXPECT_EQ(P::get_head_tail_mix(edge * 1.01f, false), "0.0 / -89.9");
}

TEST(ProgramFusion, HeadTailMixOutOfRange)
{
    for (float u : {-0.1f, 1.1f, kNaN}) {
        EXPECT_EQ(P::get_head_tail_mix(u, true), "err") << u;
        EXPECT_EQ(P::get_head_tail_mix(u, false), "err") << u;
    }
}

TEST(ProgramFusion, HeadTailMixCharCopiesTheLongForm)
{
    char text[corvella::program_text_min_size];
    P::get_head_tail_mix_char(0.0f, text);
    EXPECT_STREQ(text, "Early: 0.0 dB / Late: -oo dB");
    P::get_head_tail_mix_char(2.0f, text);
    EXPECT_STREQ(text, "err");
}
