// check_and_upgrade_program: each step at its version boundary, the unknown-stamp and zero-stamp
// cases, and the value conversions.
#include "platform/settings_store.h"
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace {

constexpr int kCurrent = corvella::current_program_version;

using Program = VST_Plugin_Program;

// One upgrade step: `plant` puts values the step would change, `applied` tells whether the step
// ran on them and `untouched` whether it left them as planted.
struct Step {
    char const* label;
    int boundary; // the step runs for stamps below this version
    std::function<void(Program&)> plant;
    std::function<void(Program const&)> expect_applied;
    std::function<void(Program const&)> expect_untouched;
    // When every step runs, a later step may hide this one's effect; empty: expect_applied.
    std::function<void(Program const&)> expect_after_all_steps = {};
};

void expect_after_all_steps(Step const& step, Program const& p)
{
    if (step.expect_after_all_steps)
        step.expect_after_all_steps(p);
    else
        step.expect_applied(p);
}

Program planted(Step const& step, int stamp)
{
    Program p;
    step.plant(p);
    p.version_stamp = stamp;
    return p;
}

std::vector<Step> steps()
{
    return {
        {"current_program", 1412, [](Program& p) { p.current_program = 17; },
         [](Program const& p) { EXPECT_EQ(p.current_program, 0); },
         [](Program const& p) { EXPECT_EQ(p.current_program, 17); }},
        {"delays", 1420,
         [](Program& p) {
             p.master_delay_l_delay_numer = 9;
             p.ir1_delay_r_wet = 0.1f;
             p.ir2_delay_r_delay_denom = 3;
             p.ir2_delay_l_tempo_lock = 0.0f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.master_delay_l_delay_numer, 3);
             EXPECT_EQ(p.ir1_delay_r_wet, 0.71f);
             EXPECT_EQ(p.ir2_delay_r_delay_denom, 16);
             EXPECT_EQ(p.ir2_delay_l_tempo_lock, 1.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.master_delay_l_delay_numer, 9);
             EXPECT_EQ(p.ir1_delay_r_wet, 0.1f);
             EXPECT_EQ(p.ir2_delay_r_delay_denom, 3);
             EXPECT_EQ(p.ir2_delay_l_tempo_lock, 0.0f);
         }},
        {"sources_and_er", 1521,
         [](Program& p) {
             p.ir1_source_type = 2;
             p.ir2_source_type = 1;
             p.ir1_er_type = 5;
             p.ir1_er_size = 0.9f;
             p.ir2_er_depth = 0.7f;
             p.ir2_er_separation = 0.1f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_source_type, 0);
             EXPECT_EQ(p.ir2_source_type, 0);
             EXPECT_EQ(p.ir1_er_type, 0);
             EXPECT_EQ(p.ir1_er_size, 0.5f);
             EXPECT_EQ(p.ir2_er_depth, 0.2f);
             EXPECT_EQ(p.ir2_er_separation, 0.5f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_source_type, 2);
             EXPECT_EQ(p.ir2_source_type, 1);
             EXPECT_EQ(p.ir1_er_type, 5);
             EXPECT_EQ(p.ir1_er_size, 0.9f);
             EXPECT_EQ(p.ir2_er_depth, 0.7f);
             EXPECT_EQ(p.ir2_er_separation, 0.1f);
         }},
        {"widths", 1531,
         [](Program& p) {
             p.ir1_width = 0.0f;
             p.ir2_width = 1.0f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_width, 0.5f);
             EXPECT_EQ(p.ir2_width, 0.5f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_width, 0.0f);
             EXPECT_EQ(p.ir2_width, 1.0f);
         }},
        {"master_gain", 1632,
         [](Program& p) {
             p.master_gain = 1.0f;
             p.master_gain_locked_value = 0.2f;
             p.master_gain_lock_status = 1.0f;
         },
         [](Program const& p) {
             EXPECT_NEAR(p.master_gain, 0.6003f, 1e-4f);
             EXPECT_EQ(p.master_gain_locked_value, p.master_gain);
             EXPECT_EQ(p.master_gain_lock_status, 0.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.master_gain, 1.0f);
             EXPECT_EQ(p.master_gain_locked_value, 0.2f);
             EXPECT_EQ(p.master_gain_lock_status, 1.0f);
         }},
        {"host_data", 1660,
         [](Program& p) {
             p.host_data_1 = 7;
             p.host_data_2 = 8;
             p.host_data_3 = 9;
             p.host_data_4 = 10;
         },
         [](Program const& p) {
             EXPECT_EQ(p.host_data_1, 0);
             EXPECT_EQ(p.host_data_2, -1);
             EXPECT_EQ(p.host_data_3, 0);
             EXPECT_EQ(p.host_data_4, -1);
         },
         [](Program const& p) {
             EXPECT_EQ(p.host_data_1, 7);
             EXPECT_EQ(p.host_data_4, 10);
         }},
        {"tails", 1661,
         [](Program& p) {
             p.ir1_tail_length = 0.9f;
             p.ir1_tail_character = 3;
             p.ir1_tail_diffusion = 0.8f;
             p.ir2_tail_density = 2;
             p.ir2_tail_variant = 0.6f;
             p.ir2_tail_diffuse_length = 0.1f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_tail_length, 0.36f);
             EXPECT_EQ(p.ir1_tail_character, 0);
             EXPECT_EQ(p.ir1_tail_diffusion, 0.39f);
             EXPECT_EQ(p.ir2_tail_density, 0);
             EXPECT_EQ(p.ir2_tail_variant, 0.0f);
             EXPECT_EQ(p.ir2_tail_diffuse_length, 1.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_tail_length, 0.9f);
             EXPECT_EQ(p.ir1_tail_character, 3);
             EXPECT_EQ(p.ir1_tail_diffusion, 0.8f);
             EXPECT_EQ(p.ir2_tail_density, 2);
             EXPECT_EQ(p.ir2_tail_variant, 0.6f);
             EXPECT_EQ(p.ir2_tail_diffuse_length, 0.1f);
         }},
        {"mod_shapes", 1678,
         [](Program& p) {
             p.ir1_flt1_freq_mod_shape = 0.3f;
             p.ir2_flt5_freq_mod_shape = 0.4f;
             p.ir1_flt3_gain_mod_shape = 0.5f;
             p.ir2_flt5_gain_mod_shape = 0.6f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_flt1_freq_mod_shape, 0.0f);
             EXPECT_EQ(p.ir2_flt5_freq_mod_shape, 0.0f);
             EXPECT_EQ(p.ir1_flt3_gain_mod_shape, 0.0f);
             EXPECT_EQ(p.ir2_flt5_gain_mod_shape, 0.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_flt1_freq_mod_shape, 0.3f);
             EXPECT_EQ(p.ir2_flt5_gain_mod_shape, 0.6f);
         }},
        {"cross_channel", 1681,
         [](Program& p) {
             p.ir1_cross_channel = 0.7f;
             p.ir2_cross_channel = 1.0f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_cross_channel, 0.0f);
             EXPECT_EQ(p.ir2_cross_channel, 0.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_cross_channel, 0.7f);
             EXPECT_EQ(p.ir2_cross_channel, 1.0f);
         }},
        {"modulation_order", 1690, [](Program& p) { p.master_mixer_modulation_order = 0.25f; },
         // No modulation in a default record: order 1.0.
         [](Program const& p) { EXPECT_EQ(p.master_mixer_modulation_order, 1.0f); },
         [](Program const& p) { EXPECT_EQ(p.master_mixer_modulation_order, 0.25f); }},
        {"sts", 1692,
         [](Program& p) {
             p.ir1_sts_toggle = 0.05f;
             p.ir1_sts_relative_gain = 0.1f;
             p.ir2_sts_high_pass_freq = 0.9f;
             p.ir2_sts_pre_delay = 0.0f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_sts_toggle, 0.0f);
             EXPECT_EQ(p.ir1_sts_relative_gain, 0.71f);
             EXPECT_EQ(p.ir2_sts_high_pass_freq, 0.05f);
             EXPECT_EQ(p.ir2_sts_pre_delay, 0.3f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_sts_toggle, 0.05f);
             EXPECT_EQ(p.ir1_sts_relative_gain, 0.1f);
             EXPECT_EQ(p.ir2_sts_high_pass_freq, 0.9f);
             EXPECT_EQ(p.ir2_sts_pre_delay, 0.0f);
         }},
        {"sts_toggles", 1710,
         [](Program& p) {
             p.ir1_sts_toggle = 1.0f;
             p.ir2_sts_toggle = 0.1f; // not above 0.1: stays
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_sts_toggle, 0.5f);
             EXPECT_EQ(p.ir2_sts_toggle, 0.1f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_sts_toggle, 1.0f);
             EXPECT_EQ(p.ir2_sts_toggle, 0.1f);
         },
         // The STS reset (below 1692) runs first and leaves both toggles off.
         [](Program const& p) {
             EXPECT_EQ(p.ir1_sts_toggle, 0.0f);
             EXPECT_EQ(p.ir2_sts_toggle, 0.0f);
         }},
        {"additive_noise", 1761,
         [](Program& p) {
             p.ir1_additive_noise_wet = 0.4f;
             p.ir2_additive_noise_dry = 0.2f;
             p.ir1_additive_noise_release = 0.9f;
             p.ir2_additive_noise_spare = 0.3f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_additive_noise_wet, 0.0f);
             EXPECT_EQ(p.ir2_additive_noise_dry, 1.0f);
             EXPECT_EQ(p.ir1_additive_noise_release, 0.5f);
             EXPECT_EQ(p.ir2_additive_noise_spare, 0.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_additive_noise_wet, 0.4f);
             EXPECT_EQ(p.ir2_additive_noise_spare, 0.3f);
         }},
        {"pitch_mod", 1824,
         [](Program& p) {
             p.pitch_mod_ir1_split_point = 0.8f;
             p.pitch_mod_ir2_section2_mod_depth = 0.1f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.pitch_mod_ir1_split_point, 0.1f);
             EXPECT_EQ(p.pitch_mod_ir2_section2_mod_depth, 0.5f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.pitch_mod_ir1_split_point, 0.8f);
             EXPECT_EQ(p.pitch_mod_ir2_section2_mod_depth, 0.1f);
         }},
        {"stacked_and_topology", 1917,
         [](Program& p) {
             p.ir1_stacked_rate = 0.9f;
             p.ir2_stacked_head_permit_mod = 0.0f;
             p.ir1_topology = 1.0f;
             p.ir2_topology = 0.5f;
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_stacked_rate, 0.5f);
             EXPECT_EQ(p.ir2_stacked_head_permit_mod, 1.0f);
             EXPECT_FLOAT_EQ(p.ir1_topology, 2.0f / 3.0f);
             EXPECT_FLOAT_EQ(p.ir2_topology, 1.0f / 3.0f);
         },
         [](Program const& p) {
             EXPECT_EQ(p.ir1_stacked_rate, 0.9f);
             EXPECT_EQ(p.ir2_stacked_head_permit_mod, 0.0f);
             EXPECT_EQ(p.ir1_topology, 1.0f);
             EXPECT_EQ(p.ir2_topology, 0.5f);
         }},
    };
}

// Points the settings store at a folder of its own for the lifetime of the object.
class PrivateSettings {
public:
    PrivateSettings()
    {
        char const* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) previous_ = old;
        setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
    }
    ~PrivateSettings()
    {
        if (previous_)
            setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    PrivateSettings(PrivateSettings const&) = delete;
    PrivateSettings& operator=(PrivateSettings const&) = delete;

private:
    corvella::test::TempDir folder_{"corvella-program-settings-"};
    std::optional<std::string> previous_;
};

} // namespace

TEST(ProgramUpgrade, EachStepRunsBelowItsBoundaryOnly)
{
    for (Step const& step : steps()) {
        SCOPED_TRACE(step.label);
        Program below = planted(step, step.boundary - 1);
        below.check_and_upgrade_program(kCurrent);
        step.expect_applied(below);
        EXPECT_EQ(below.version_stamp, step.boundary - 1);

        Program at = planted(step, step.boundary);
        at.check_and_upgrade_program(kCurrent);
        step.expect_untouched(at);
        EXPECT_EQ(at.version_stamp, step.boundary);
    }
}

TEST(ProgramUpgrade, UnknownStampsRunEveryStepAndTakeTheCurrentVersion)
{
    for (int stamp : {-1, -2000, kCurrent + 1, 99999}) {
        SCOPED_TRACE(stamp);
        for (Step const& step : steps()) {
            SCOPED_TRACE(step.label);
            Program p = planted(step, stamp);
            p.check_and_upgrade_program(kCurrent);
            expect_after_all_steps(step, p);
            EXPECT_EQ(p.version_stamp, kCurrent);
        }
    }
}

TEST(ProgramUpgrade, StampZeroRunsEveryStepAndKeepsZero)
{
    for (Step const& step : steps()) {
        SCOPED_TRACE(step.label);
        Program p = planted(step, 0);
        p.check_and_upgrade_program(kCurrent);
        expect_after_all_steps(step, p);
        EXPECT_EQ(p.version_stamp, 0);
    }
}

TEST(ProgramUpgrade, SweepEndsAreSetOnlyForStampZeroOrUnknown)
{
    for (int stamp : {0, 1, -3, kCurrent + 5}) {
        SCOPED_TRACE(stamp);
        Program p;
        p.ir1_flt1_freq_to_end = 0.25f;
        p.ir1_flt3_gain_to_end = 0.25f;
        p.ir2_flt4_freq_to_end = 0.25f;
        p.ir2_flt5_gain_to_end = 0.25f;
        p.ir2_flt5_gain_to_start = 0.25f; // not an end point
        p.version_stamp = stamp;
        p.check_and_upgrade_program(kCurrent);
        float const expected = stamp == 1 ? 0.25f : 1.0f;
        EXPECT_EQ(p.ir1_flt1_freq_to_end, expected);
        EXPECT_EQ(p.ir1_flt3_gain_to_end, expected);
        EXPECT_EQ(p.ir2_flt4_freq_to_end, expected);
        EXPECT_EQ(p.ir2_flt5_gain_to_end, expected);
        EXPECT_EQ(p.ir2_flt5_gain_to_start, 0.25f);
    }
}

TEST(ProgramUpgrade, CurrentStampChangesNothing)
{
    Program before;
    corvella::test::fill_distinct(before);
    before.version_stamp = kCurrent;
    Program after = before;
    after.check_and_upgrade_program(kCurrent);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST(ProgramUpgrade, TailDiffusionIsInvertedForStamp1675Only)
{
    for (int stamp : {1674, 1675, 1676}) {
        SCOPED_TRACE(stamp);
        Program p;
        p.ir1_tail_diffusion = 0.25f;
        p.ir2_tail_diffusion = 0.875f;
        p.version_stamp = stamp;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_EQ(p.ir1_tail_diffusion, stamp == 1675 ? 0.75f : 0.25f);
        EXPECT_EQ(p.ir2_tail_diffusion, stamp == 1675 ? 0.125f : 0.875f);
    }
}

TEST(ProgramUpgrade, UnknownStampDoesNotInvertTheDiffusion)
{
    Program p;
    p.version_stamp = -1;
    p.check_and_upgrade_program(kCurrent);
    // The tail step restores 0.39; an inversion would have given 0.61.
    EXPECT_EQ(p.ir1_tail_diffusion, 0.39f);
    EXPECT_EQ(p.ir2_tail_diffusion, 0.39f);
}

TEST(ProgramUpgrade, MasterGainMovesFromLinearToTheDecibelScale)
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
        p.version_stamp = 1631;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_NEAR(p.master_gain, c.expected, 1e-4f);
        EXPECT_EQ(p.master_gain_locked_value, p.master_gain);
        EXPECT_EQ(p.master_gain_lock_status, 0.0f);
    }
}

TEST(ProgramUpgrade, MasterGainOfAGarbageRecordStaysInRange)
{
    for (float stored :
         {1.0e9f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        Program p;
        p.master_gain = stored;
        p.version_stamp = 1500;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_GE(p.master_gain, 0.0f) << stored;
        EXPECT_LE(p.master_gain, 1.0f) << stored;
    }
}

TEST(ProgramUpgrade, TopologyLeavesTheThreeStateForm)
{
    struct Case {
        float stored;
        float expected;
    };
    for (Case c :
         {Case{0.0f, 0.0f}, Case{1.0f, 2.0f / 3.0f}, Case{0.5f, 1.0f / 3.0f}, Case{0.999f, 1.0f / 3.0f}}) {
        SCOPED_TRACE(c.stored);
        Program p;
        p.ir1_topology = c.stored;
        p.ir2_topology = c.stored;
        p.version_stamp = 1916;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_EQ(p.ir1_topology, c.expected);
        EXPECT_EQ(p.ir2_topology, c.expected);
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
        p.version_stamp = 1689;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_EQ(p.master_mixer_modulation_order, modulated == 0 ? 1.0f : 0.0f);
    }
}

TEST(ProgramUpgrade, WetLockPreferenceOfOneLocksTheMix)
{
    PrivateSettings settings;
    set_wet_lock_in_registry(1);
    Program p;
    p.master_mix = 0.3f;
    p.version_stamp = 1649;
    p.check_and_upgrade_program(kCurrent);
    EXPECT_EQ(p.master_mix_lock_status, 1.0f);
    EXPECT_EQ(p.master_mix_locked_value, 1.0f);
    EXPECT_EQ(p.master_mix, 0.3f);
}

TEST(ProgramUpgrade, OtherWetLockPreferencesCopyTheMix)
{
    for (int preference : {0, 2}) {
        SCOPED_TRACE(preference);
        PrivateSettings settings;
        set_wet_lock_in_registry(preference);
        Program p;
        p.master_mix = 0.3f;
        p.master_mix_lock_status = 1.0f;
        p.version_stamp = 1649;
        p.check_and_upgrade_program(kCurrent);
        EXPECT_EQ(p.master_mix_lock_status, 0.0f);
        EXPECT_EQ(p.master_mix_locked_value, 0.3f);
    }
}

TEST(ProgramUpgrade, WetLockStepNeedsAStampBelow1650)
{
    PrivateSettings settings;
    set_wet_lock_in_registry(1);
    Program p;
    p.master_mix = 0.3f;
    p.master_mix_locked_value = 0.7f;
    p.version_stamp = 1650;
    p.check_and_upgrade_program(kCurrent);
    EXPECT_EQ(p.master_mix_lock_status, 0.0f);
    EXPECT_EQ(p.master_mix_locked_value, 0.7f);
}

TEST(ProgramUpgrade, UnreadableWetLockPreferenceMeansNoLock)
{
    PrivateSettings settings;
    set_dials_mode_in_registry(0); // a settings file without a wet-lock entry
    bool store_throws = false;
    try {
        extract_data_from_registry_wet_lock();
    } catch (std::exception const&) {
        store_throws = true;
    }
    if (!store_throws) GTEST_SKIP() << "the settings store supplies a wet-lock value; nothing to test";
    Program p;
    p.master_mix = 0.3f;
    p.version_stamp = 1600;
    EXPECT_NO_THROW(p.check_and_upgrade_program(kCurrent));
    EXPECT_EQ(p.master_mix_lock_status, 0.0f);
    EXPECT_EQ(p.master_mix_locked_value, 0.3f);
}
