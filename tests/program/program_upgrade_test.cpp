// check_and_upgrade_program: each step at its version boundary, unknown and zero stamps, and the value
// conversions.
#include "platform/settings_fixture.h"
#include "platform/settings_store.h"
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

using namespace corvella::test;
using Program = VST_Plugin_Program;

namespace {

constexpr int kCurrent = corvella::current_program_version;
constexpr double kFloatEq = -1.0; // compare within 4 ULPs instead of exactly

struct Slot {
    char const* name;
    double planted, upgraded, tolerance = 0.0;
};

// One step: the slots it changes, planted with values it would change. The step runs for stamps
// below `boundary`.
struct Step {
    char const* label;
    int boundary;
    std::vector<Slot> slots;
    std::vector<Slot> after_all_steps = {}; // when a later step hides this one's effect
};

// clang-format off
std::vector<Step> const kSteps = {
    {"current_program", 1412, {{"current_program", 17, 0}}},
    {"delays", 1420, {{"master_delay_l_delay_numer", 9, 3}, {"ir1_delay_r_wet", 0.1, 0.71},
                      {"ir2_delay_r_delay_denom", 3, 16}, {"ir2_delay_l_tempo_lock", 0, 1}}},
    {"sources_and_er", 1521, {{"ir1_source_type", 2, 0}, {"ir2_source_type", 1, 0}, {"ir1_er_type", 5, 0},
                              {"ir1_er_size", 0.9, 0.5}, {"ir2_er_depth", 0.7, 0.2},
                              {"ir2_er_separation", 0.1, 0.5}}},
    {"widths", 1531, {{"ir1_width", 0, 0.5}, {"ir2_width", 1, 0.5}}},
    {"master_gain", 1632, {{"master_gain", 1, 0.6003, 1e-4}, {"master_gain_locked_value", 0.2, 0.6003, 1e-4},
                           {"master_gain_lock_status", 1, 0}}},
    {"host_data", 1660, {{"host_data_1", 7, 0}, {"host_data_2", 8, -1}, {"host_data_3", 9, 0},
                         {"host_data_4", 10, -1}}},
    {"tails", 1661, {{"ir1_tail_length", 0.9, 0.36}, {"ir1_tail_character", 3, 0},
                     {"ir1_tail_diffusion", 0.8, 0.39}, {"ir2_tail_density", 2, 0},
                     {"ir2_tail_variant", 0.6, 0}, {"ir2_tail_diffuse_length", 0.1, 1}}},
    {"mod_shapes", 1678, {{"ir1_flt1_freq_mod_shape", 0.3, 0}, {"ir2_flt5_freq_mod_shape", 0.4, 0},
                          {"ir1_flt3_gain_mod_shape", 0.5, 0}, {"ir2_flt5_gain_mod_shape", 0.6, 0}}},
    {"cross_channel", 1681, {{"ir1_cross_channel", 0.7, 0}, {"ir2_cross_channel", 1, 0}}},
    // No modulation in a default record: order 1.0.
    {"modulation_order", 1690, {{"master_mixer_modulation_order", 0.25, 1}}},
    {"sts", 1692, {{"ir1_sts_toggle", 0.05, 0}, {"ir1_sts_relative_gain", 0.1, 0.71},
                   {"ir2_sts_high_pass_freq", 0.9, 0.05}, {"ir2_sts_pre_delay", 0, 0.3}}},
    // Toggles above 0.1 become 0.5; after every step the STS reset (below 1692) has turned both off.
    {"sts_toggles", 1710, {{"ir1_sts_toggle", 1, 0.5}, {"ir2_sts_toggle", 0.1, 0.1}},
     {{"ir1_sts_toggle", 1, 0}, {"ir2_sts_toggle", 0.1, 0}}},
    {"additive_noise", 1761, {{"ir1_additive_noise_wet", 0.4, 0}, {"ir2_additive_noise_dry", 0.2, 1},
                              {"ir1_additive_noise_release", 0.9, 0.5},
                              {"ir2_additive_noise_spare", 0.3, 0}}},
    {"pitch_mod", 1824, {{"pitch_mod_ir1_split_point", 0.8, 0.1},
                         {"pitch_mod_ir2_section2_mod_depth", 0.1, 0.5}}},
    {"stacked_and_topology", 1917, {{"ir1_stacked_rate", 0.9, 0.5}, {"ir2_stacked_head_permit_mod", 0, 1},
                                    {"ir1_topology", 1, 2.0 / 3.0, kFloatEq},
                                    {"ir2_topology", 0.5, 1.0 / 3.0, kFloatEq}}},
};
// clang-format on

Program upgraded(Program p, int stamp)
{
    p.version_stamp = stamp;
    p.check_and_upgrade_program(kCurrent);
    return p;
}

Program planted(std::vector<Slot> const& slots)
{
    Program p;
    for (Slot const& slot : slots)
        set_slot(p, slot.name, slot.planted);
    return p;
}

void expect_slots(Program const& p, std::vector<Slot> const& slots, bool upgraded)
{
    for (Slot const& slot : slots) {
        double const actual = slot_value(p, slot.name);
        double const expected = upgraded ? slot.upgraded : slot.planted;
        if (!upgraded || slot.tolerance == 0.0)
            EXPECT_EQ(actual, static_cast<double>(static_cast<float>(expected))) << slot.name;
        else if (slot.tolerance == kFloatEq)
            EXPECT_FLOAT_EQ(static_cast<float>(actual), static_cast<float>(expected)) << slot.name;
        else
            EXPECT_NEAR(actual, expected, slot.tolerance) << slot.name;
    }
}

} // namespace

TEST(ProgramUpgrade, EachStepRunsBelowItsBoundaryOnlyAndTheCurrentStampChangesNothing)
{
    for (Step const& step : kSteps) {
        SCOPED_TRACE(step.label);
        Program const below = upgraded(planted(step.slots), step.boundary - 1);
        expect_slots(below, step.slots, true);
        EXPECT_EQ(below.version_stamp, step.boundary - 1);
        Program const at = upgraded(planted(step.slots), step.boundary);
        expect_slots(at, step.slots, false);
        EXPECT_EQ(at.version_stamp, step.boundary);
    }
    Program const before = upgraded(filled_program(), kCurrent);
    Program const after = upgraded(before, kCurrent);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST(ProgramUpgrade, UnknownStampsRunEveryStepAndTakeTheCurrentVersionZeroKeepsZero)
{
    for (int stamp : {0, -1, -2000, kCurrent + 1, 99999})
        for (Step const& step : kSteps) {
            SCOPED_TRACE(testing::Message() << stamp << " " << step.label);
            Program const p = upgraded(planted(step.slots), stamp);
            expect_slots(p, step.after_all_steps.empty() ? step.slots : step.after_all_steps, true);
            EXPECT_EQ(p.version_stamp, stamp == 0 ? 0 : kCurrent);
        }
}

TEST(ProgramUpgrade, SweepEndsAreSetOnlyForStampZeroOrUnknown)
{
    std::vector<Slot> const ends = {{"ir1_flt1_freq_to_end", 0.25, 1},
                                    {"ir1_flt3_gain_to_end", 0.25, 1},
                                    {"ir2_flt4_freq_to_end", 0.25, 1},
                                    {"ir2_flt5_gain_to_end", 0.25, 1},
                                    {"ir2_flt5_gain_to_start", 0.25, 0.25}};
    for (int stamp : {0, 1, -3, kCurrent + 5}) {
        SCOPED_TRACE(stamp);
        expect_slots(upgraded(planted(ends), stamp), ends, stamp != 1);
    }
}

TEST(ProgramUpgrade, ValueConversions)
{
    struct Case {
        int stamp;
        Slot slot;
        char const* modulation = nullptr; // planted at 0.01 as well
    };
    // clang-format off
    Case const cases[] = {
        // Linear master gain (0.5 = 0 dB) to a ±30 dB scale, staying in range.
        {1631, {"master_gain", 0.5, 0.5, 1e-4}}, {1631, {"master_gain", 0, 0, 1e-4}},
        {1631, {"master_gain", 0.25, 0.39965, 1e-4}}, {1631, {"master_gain", -0.5, 0.5, 1e-4}},
        {1631, {"master_gain", 0.0158, 0, 1e-4}},
        // Tail diffusion inverted for 1675 only; an unknown stamp restores the default instead.
        {1675, {"ir1_tail_diffusion", 0.25, 0.75}}, {1675, {"ir2_tail_diffusion", 0.875, 0.125}},
        {1674, {"ir1_tail_diffusion", 0.25, 0.25}}, {1676, {"ir1_tail_diffusion", 0.25, 0.25}},
        {-1, {"ir1_tail_diffusion", 0.25, 0.39}},
        // Three-state topology: 0, anything else (true stereo), 1.0 (mono - stereo).
        {1916, {"ir1_topology", 0, 0}}, {1916, {"ir2_topology", 0.999, 1.0 / 3.0, kFloatEq}},
        // Order 1 when none of the three modulations is set.
        {1689, {"master_mixer_modulation_order", 0.5, 1}},
        {1689, {"master_mixer_modulation_order", 0.5, 0}, "master_ir1_ir2_mix_mod"},
        {1689, {"master_mixer_modulation_order", 0.5, 0}, "ir1_balance_mod"},
        {1689, {"master_mixer_modulation_order", 0.5, 0}, "ir2_balance_mod"},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.stamp << " " << c.slot.planted << (c.modulation ? c.modulation : ""));
        Program p = planted({c.slot});
        if (c.modulation != nullptr) set_slot(p, c.modulation, 0.01);
        expect_slots(upgraded(p, c.stamp), {c.slot}, true);
    }
    for (float garbage :
         {1.0e9f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        Program p;
        p.master_gain = garbage;
        p = upgraded(p, 1500);
        EXPECT_TRUE(p.master_gain >= 0.0f && p.master_gain <= 1.0f) << garbage;
    }
}

using ProgramUpgradeWetLock = SettingsTest;

TEST_F(ProgramUpgradeWetLock, PreferenceOneLocksTheMixOthersAndAnUnreadableOneCopyIt)
{
    struct Case {
        int preference; // -1: no wet-lock entry
        int stamp;
        float status, locked;
    };
    // Stamp 1650 is past the step: the planted lock value stays.
    for (Case c : {Case{1, 1649, 1, 1}, Case{0, 1649, 0, 0.3f}, Case{2, 1649, 0, 0.3f},
                   Case{-1, 1600, 0, 0.3f}, Case{1, 1650, 0.5f, 0.7f}}) {
        SCOPED_TRACE(testing::Message() << "preference " << c.preference << ", stamp " << c.stamp);
        c.preference < 0 ? write_settings(settings_document({})) : set_wet_lock_in_registry(c.preference);
        Program p;
        p.master_mix = 0.3f;
        p.master_mix_lock_status = 0.5f;
        p.master_mix_locked_value = 0.7f;
        p = upgraded(p, c.stamp);
        EXPECT_EQ(p.master_mix_lock_status, c.status);
        EXPECT_EQ(p.master_mix_locked_value, c.locked);
        EXPECT_EQ(p.master_mix, 0.3f);
    }
}
