// Group operations: which slots each reset, push and swap changes, and to what. The expected sets are
// typed from the record's field groups, not taken from the implementation.
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace corvella::test;
using Names = std::set<std::string>;
using P = VST_Plugin_Program;

namespace {

// clang-format off
std::vector<std::string> const kIr1Core = {
    "ir1_toggle", "ir1_user_resample_factor", "ir1_crop_from_start", "ir1_crop_from_end", "ir1_pre_delay",
    "ir1_adshr_a", "ir1_adshr_d", "ir1_adshr_s", "ir1_adshr_h", "ir1_adshr_r", "ir1_adshr_a_alpha",
    "ir1_adshr_d_alpha", "ir1_adshr_r_alpha", "ir1_adshr_a_alpha_inv", "ir1_adshr_d_alpha_inv",
    "ir1_adshr_r_alpha_inv", "ir1_normalise", "ir1_reverse", "ir1_topology", "ir1_sts_toggle",
    "ir1_sts_relative_gain", "ir1_sts_high_pass_freq", "ir1_sts_high_pass_toggle", "ir1_sts_pre_delay",
    "ir1_cross_channel", "ir1_width", "ir1_er_size", "ir1_er_diffusion", "ir1_er_distance", "ir1_er_position",
    "ir1_er_separation", "ir1_er_type", "ir1_er_depth", "ir1_tail_length", "ir1_tail_character",
    "ir1_tail_diffusion", "ir1_tail_density", "ir1_tail_variant", "ir1_tail_diffuse_length",
    "ir1_additive_noise_wet", "ir1_additive_noise_dry", "ir1_additive_noise_release",
    "ir1_additive_noise_spare",
    "ir1_stacked_rate", "ir1_stacked_head_tail_mix", "ir1_stacked_depth", "ir1_stacked_head_permit_mod",
    "ir1_source_type", "ir1_file_a", "ir1_file_b"};
std::vector<std::string> const kIr1Mixer = {
    "ir1_gain", "ir1_balance", "ir1_balance_mod", "ir1_balance_mod_phase", "ir1_stereo_mono"};
std::vector<std::string> const kIr1Sts = {
    "ir1_sts_toggle", "ir1_sts_relative_gain", "ir1_sts_high_pass_freq", "ir1_sts_high_pass_toggle",
    "ir1_sts_pre_delay"};
// Slots the swap leaves where they are.
std::vector<std::string> const kIr1SwapStays = {
    "ir1_er_type", "ir1_tail_character", "ir1_tail_density", "ir1_stacked_rate", "ir1_stacked_head_tail_mix",
    "ir1_stacked_depth", "ir1_stacked_head_permit_mod", "ir1_delay_l_delay_numer", "ir1_delay_l_delay_denom",
    "ir1_delay_r_delay_numer", "ir1_delay_r_delay_denom"};
// clang-format on

// The same slot on the other IR.
std::string other_ir(std::string name)
{
    std::size_t const at = name.find("ir1") != std::string::npos ? name.find("ir1") : name.find("ir2");
    if (at == std::string::npos) ADD_FAILURE() << name << " belongs to neither IR";
    return at == std::string::npos ? name : name.replace(at, 3, name[at + 2] == '1' ? "ir2" : "ir1");
}

Names on_ir(std::vector<std::string> const& ir1_names, int ir)
{
    Names names;
    for (std::string const& n : ir1_names)
        names.insert(ir == 1 ? n : other_ir(n));
    return names;
}

Names operator+(Names a, Names const& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

Names operator-(Names a, Names const& b)
{
    for (std::string const& n : b)
        a.erase(n);
    return a;
}

// The groups of one IR, named on that IR; effects are the EQ, chorus, delay and pitch modulation.
struct Groups {
    Names core, mixer, sts, noise_wet, eq, effects;
};

Groups groups(int ir)
{
    std::string const p = ir == 1 ? "ir1" : "ir2";
    Names const eq = fields_with_prefix(p + "_flt");
    return {on_ir(kIr1Core, ir),
            on_ir(kIr1Mixer, ir),
            on_ir(kIr1Sts, ir),
            {p + "_additive_noise_wet"},
            eq,
            eq + fields_with_prefix("chorus_" + p + "_") + fields_with_prefix(p + "_delay_") +
                fields_with_prefix("pitch_mod_" + p + "_")};
}

Groups const g1 = groups(1), g2 = groups(2);

} // namespace

TEST(ProgramGroups, EachResetChangesExactlyItsGroupToItsDefaults)
{
    Names const named = {"name", "ir1_ir2_chain"}, order = {"name", "master_mixer_modulation_order"};
    struct Case {
        char const* label;
        void (P::*reset)();
        Names expected;
    };
    Case const cases[] = {
        {"post_eq", &P::reset_post_eq, fields_with_prefix("flt") + Names{"lfo1_rate", "lfo2_rate"}},
        {"chorus_post", &P::reset_chorus_post, fields_with_prefix("chorus_master_")},
        {"chorus_ir1", &P::reset_chorus_ir1, fields_with_prefix("chorus_ir1_")},
        {"chorus_ir2", &P::reset_chorus_ir2, fields_with_prefix("chorus_ir2_")},
        {"delay_master", &P::reset_delay_master, fields_with_prefix("master_delay_")},
        {"delay_ir1", &P::reset_delay_ir1, fields_with_prefix("ir1_delay_")},
        {"delay_ir2", &P::reset_delay_ir2, fields_with_prefix("ir2_delay_")},
        {"ir1_eq", &P::reset_ir1_eq, g1.eq},
        {"ir2_eq", &P::reset_ir2_eq, g2.eq},
        {"ir1", &P::reset_ir1, named + g1.core + g1.mixer + g1.effects},
        {"ir2", &P::reset_ir2, named + g2.core + g2.mixer + g2.effects},
        {"ir1_except", &P::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod, named + g1.core + g1.mixer},
        {"ir2_except", &P::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod, named + g2.core + g2.mixer},
        {"ir1_except_mixer", &P::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
         order + g1.core},
        {"ir2_except_mixer", &P::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
         order + g2.core},
    };
    P const defaults, before = filled_program();
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        P after = before;
        (after.*c.reset)();
        EXPECT_EQ(changed_fields(before, after), c.expected);
        for (std::string const& n : c.expected)
            EXPECT_TRUE(n == "name" ? std::strcmp(after.name, "Default") == 0
                                    : same_field(after, n, defaults, n))
                << n << " is not at its default";
    }
}

TEST(ProgramGroups, ResetMixerCentresTheMixKnobs)
{
    P const before = filled_program();
    P p = before;
    p.reset_mixer();
    // clang-format off
    std::pair<char const*, float> const expected[] = {
        {"master_gain", 0.5f}, {"master_mix", 0.5f} /* not the record default 1.0 */, {"master_ir1_ir2_mix", 0.5f},
        {"master_ir1_ir2_mix_mod", 0}, {"ir1_gain", 0.3f}, {"ir2_gain", 0.3f}, {"ir1_balance", 0.5f},
        {"ir2_balance", 0.5f}, {"lfo3_rate", 0.125f}, {"master_wet_lock_ignore", 0}, {"ir1_balance_mod", 0},
        {"ir1_balance_mod_phase", 0}, {"ir2_balance_mod", 0}, {"ir2_balance_mod_phase", 0},
        {"master_stereo_mono", 0}, {"ir1_stereo_mono", 0}, {"ir2_stereo_mono", 0}, {"ir1_ir2_chain", 0},
        {"master_ir1_ir2_mix_law", 1}, {"master_mixer_modulation_order", 1}};
    // clang-format on
    Names names;
    for (auto const& [name, value] : expected) {
        names.insert(name);
        EXPECT_EQ(slot_value(p, name), value) << name;
    }
    EXPECT_EQ(changed_fields(before, p), names);
}

TEST(ProgramGroups, EachPushCopiesExactlyItsGroupOntoTheOtherIr)
{
    struct Case {
        char const* label;
        void (P::*push)();
        Names source; // named on the source IR
    };
    Case const cases[] = {
        {"ir1_to_ir2", &P::push_ir1_to_ir2, g1.core - g1.sts + g1.mixer + g1.effects},
        {"ir1_to_ir2_except_mixer", &P::push_ir1_to_ir2_except_mixer, g1.core - g1.sts + g1.effects},
        {"ir1_to_ir2_except", &P::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod,
         g1.core - g1.sts - g1.noise_wet + g1.mixer},
        {"ir1_to_ir2_except_mixer_too",
         &P::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
         g1.core - g1.sts - g1.noise_wet},
        {"ir2_to_ir1", &P::push_ir2_to_ir1, g2.core - g2.sts + g2.mixer + g2.effects},
        {"ir2_to_ir1_except_mixer", &P::push_ir2_to_ir1_except_mixer, g2.core - g2.sts + g2.effects},
        {"ir2_to_ir1_except", &P::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod,
         g2.core - g2.sts - g2.noise_wet + g2.mixer},
        {"ir2_to_ir1_except_mixer_too",
         &P::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
         g2.core - g2.sts - g2.noise_wet},
    };
    P const before = filled_program();
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        P after = before;
        (after.*c.push)();
        Names destination;
        for (std::string const& n : c.source) {
            destination.insert(other_ir(n));
            EXPECT_TRUE(same_field(after, other_ir(n), before, n, false)) << n;
        }
        EXPECT_EQ(changed_fields(before, after), destination); // name and STS stay
    }
    // Paths are copied as strings; an unterminated one is cut.
    P p;
    std::strcpy(p.ir1_file_a, "/a.wav");
    std::memset(p.ir2_file_a, 'z', sizeof p.ir2_file_a);
    std::memset(p.ir1_file_b, 'q', sizeof p.ir1_file_b);
    p.push_ir1_to_ir2();
    EXPECT_STREQ(p.ir2_file_a, "/a.wav");
    EXPECT_EQ(std::string(p.ir2_file_b), std::string(299, 'q'));
}

TEST(ProgramGroups, SwapExchangesTheSwapSetOnly)
{
    P const before = filled_program();
    P after = before;
    after.swap_ir1_ir2_everything();
    Names const swapped_ir1 = g1.core + g1.mixer + g1.effects - g1.sts - on_ir(kIr1SwapStays, 1);
    Names swapped = swapped_ir1;
    for (std::string const& n : swapped_ir1) {
        swapped.insert(other_ir(n));
        EXPECT_TRUE(same_field(after, n, before, other_ir(n))) << n;
        EXPECT_TRUE(same_field(after, other_ir(n), before, n)) << n;
    }
    EXPECT_EQ(changed_fields(before, after), swapped);
}
