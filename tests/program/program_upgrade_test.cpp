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
    double planted;
    double upgraded;
    double tolerance = 0.0;
};

// One upgrade step: the slots it changes, planted with values it would change.
struct Step {
    char const* label;
    int boundary; // the step runs for stamps below this version
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

Program planted(Step const& step, int stamp)
{
    Program p;
    for (Slot const& slot : step.slots)
        set_slot(p, slot.name, slot.planted);
    p.version_stamp = stamp;
    return p;
}

void expect_slots(Program const& p, std::vector<Slot> const& slots, bool upgraded)
{
    for (Slot const& slot : slots) {
        double const actual = slot_value(p, slot.name);
        double const expected = upgraded ? slot.upgraded : slot.planted;
        if (!upgraded || slot.tolerance == 0.0) {
            EXPECT_EQ(actual, static_cast<double>(static_cast<float>(expected))) << slot.name;
        } else if (slot.tolerance == kFloatEq) {
            EXPECT_FLOAT_EQ(static_cast<float>(actual), static_cast<float>(expected)) << slot.name;
        } else {
            EXPECT_NEAR(actual, expected, slot.tolerance) << slot.name;
        }
    }
}

Program upgraded(Program p, int stamp)
{
    p.version_stamp = stamp;
    p.check_and_upgrade_program(kCurrent);
    return p;
}

} // namespace

TEST(ProgramUpgrade, EachStepRunsBelowItsBoundaryOnly)
{
    for (Step const& step : kSteps) {
        SCOPED_TRACE(step.label);
        Program below = planted(step, step.boundary - 1);
        below.check_and_upgrade_program(kCurrent);
        expect_slots(below, step.slots, true);
        EXPECT_EQ(below.version_stamp, step.boundary - 1);

        Program at = planted(step, step.boundary);
        at.check_and_upgrade_program(kCurrent);
        expect_slots(at, step.slots, false);
        EXPECT_EQ(at.version_stamp, step.boundary);
    }
}

TEST(ProgramUpgrade, UnknownStampsRunEveryStepAndTakeTheCurrentVersionZeroKeepsZero)
{
    for (int stamp : {0, -1, -2000, kCurrent + 1, 99999}) {
        SCOPED_TRACE(stamp);
        for (Step const& step : kSteps) {
            SCOPED_TRACE(step.label);
            Program p = planted(step, stamp);
            p.check_and_upgrade_program(kCurrent);
            expect_slots(p, step.after_all_steps.empty() ? step.slots : step.after_all_steps, true);
            EXPECT_EQ(p.version_stamp, stamp == 0 ? 0 : kCurrent);
        }
    }
}

TEST(ProgramUpgrade, SweepEndsAreSetOnlyForStampZeroOrUnknown)
{
    char const* const ends[] = {"ir1_flt1_freq_to_end", "ir1_flt3_gain_to_end", "ir2_flt4_freq_to_end",
                                "ir2_flt5_gain_to_end"};
    for (int stamp : {0, 1, -3, kCurrent + 5}) {
        SCOPED_TRACE(stamp);
        Program p;
        for (char const* end : ends)
            set_slot(p, end, 0.25);
        p.ir2_flt5_gain_to_start = 0.25f; // not an end point
        p = upgraded(p, stamp);
        for (char const* end : ends)
            EXPECT_EQ(float_field(p, end), stamp == 1 ? 0.25f : 1.0f) << end;
        EXPECT_EQ(p.ir2_flt5_gain_to_start, 0.25f);
    }
}

TEST(ProgramUpgrade, CurrentStampChangesNothing)
{
    Program const before = upgraded(filled_program(), kCurrent);
    Program after = before;
    after.check_and_upgrade_program(kCurrent);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    EXPECT_EQ(after.version_stamp, kCurrent);
}

TEST(ProgramUpgrade, TailDiffusionIsInvertedForStamp1675Only)
{
    for (int stamp : {1674, 1675, 1676, -1}) {
        SCOPED_TRACE(stamp);
        Program p;
        p.ir1_tail_diffusion = 0.25f;
        p.ir2_tail_diffusion = 0.875f;
        p = upgraded(p, stamp);
        // An unknown stamp restores the tail defaults (0.39) and does not invert them (0.61).
        EXPECT_EQ(p.ir1_tail_diffusion, stamp == 1675 ? 0.75f : stamp == -1 ? 0.39f : 0.25f);
        EXPECT_EQ(p.ir2_tail_diffusion, stamp == 1675 ? 0.125f : stamp == -1 ? 0.39f : 0.875f);
    }
}

TEST(ProgramUpgrade, MasterGainMovesFromLinearToTheDecibelScaleAndStaysInRange)
{
    struct Case {
        float stored;
        float expected;
    };
    for (Case c : {Case{0.5f, 0.5f}, Case{0.0f, 0.0f}, Case{1.0f, 0.6003f}, Case{0.25f, 0.39965f},
                   Case{-0.5f, 0.5f}, Case{0.0158f, 0.0f}}) {
        SCOPED_TRACE(c.stored);
        Program p;
        p.master_gain = c.stored;
        p = upgraded(p, 1631);
        EXPECT_NEAR(p.master_gain, c.expected, 1e-4f);
        EXPECT_EQ(p.master_gain_locked_value, p.master_gain);
        EXPECT_EQ(p.master_gain_lock_status, 0.0f);
    }
    for (float garbage :
         {1.0e9f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        Program p;
        p.master_gain = garbage;
        p = upgraded(p, 1500);
        EXPECT_GE(p.master_gain, 0.0f) << garbage;
        EXPECT_LE(p.master_gain, 1.0f) << garbage;
    }
}

TEST(ProgramUpgrade, TopologyLeavesTheThreeStateForm)
{
    for (auto [stored, expected] : {std::pair{0.0f, 0.0f}, std::pair{1.0f, 2.0f / 3.0f},
                                    std::pair{0.5f, 1.0f / 3.0f}, std::pair{0.999f, 1.0f / 3.0f}}) {
        SCOPED_TRACE(stored);
        Program p;
        p.ir1_topology = p.ir2_topology = stored;
        p = upgraded(p, 1916);
        EXPECT_EQ(p.ir1_topology, expected);
        EXPECT_EQ(p.ir2_topology, expected);
    }
}

TEST(ProgramUpgrade, ModulationOrderFollowsTheThreeModulations)
{
    for (int modulated = 0; modulated < 4; ++modulated) {
        SCOPED_TRACE(modulated);
        Program p;
        p.master_mixer_modulation_order = 0.5f;
        if (modulated == 1) p.master_ir1_ir2_mix_mod = 0.01f;
        if (modulated == 2) p.ir1_balance_mod = 0.01f;
        if (modulated == 3) p.ir2_balance_mod = 1.0f;
        p = upgraded(p, 1689);
        EXPECT_EQ(p.master_mixer_modulation_order, modulated == 0 ? 1.0f : 0.0f);
    }
}

using ProgramUpgradeWetLock = SettingsTest;

TEST_F(ProgramUpgradeWetLock, PreferenceOneLocksTheMixOthersCopyIt)
{
    struct Case {
        int preference;
        int stamp;
        float status;
        float locked;
    };
    // Stamp 1650 is past the step: the planted lock value stays.
    for (Case c : {Case{1, 1649, 1.0f, 1.0f}, Case{0, 1649, 0.0f, 0.3f}, Case{2, 1649, 0.0f, 0.3f},
                   Case{1, 1650, 0.5f, 0.7f}}) {
        SCOPED_TRACE(testing::Message() << "preference " << c.preference << ", stamp " << c.stamp);
        set_wet_lock_in_registry(c.preference);
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

TEST_F(ProgramUpgradeWetLock, UnreadablePreferenceMeansNoLock)
{
    write_settings(settings_document({})); // no wet-lock entry
    Program p;
    p.master_mix = 0.3f;
    p.version_stamp = 1600;
    EXPECT_NO_THROW(p.check_and_upgrade_program(kCurrent));
    EXPECT_EQ(p.master_mix_lock_status, 0.0f);
    EXPECT_EQ(p.master_mix_locked_value, 0.3f);
}
