// Group operations: which slots each reset, push and swap changes, and to what. Every expected set
// is typed here from the field groups of the record, not taken from the implementation.
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

using corvella::test::changed_fields;
using corvella::test::field_row;
using corvella::test::FieldKind;
using corvella::test::fields_with_prefix;
using corvella::test::fill_distinct;
using Names = std::set<std::string>;

namespace {

// IR1 names of the core group.
std::vector<std::string> const kIr1Core = {
    "ir1_toggle",
    "ir1_user_resample_factor",
    "ir1_crop_from_start",
    "ir1_crop_from_end",
    "ir1_pre_delay",
    "ir1_adshr_a",
    "ir1_adshr_d",
    "ir1_adshr_s",
    "ir1_adshr_h",
    "ir1_adshr_r",
    "ir1_adshr_a_alpha",
    "ir1_adshr_d_alpha",
    "ir1_adshr_r_alpha",
    "ir1_adshr_a_alpha_inv",
    "ir1_adshr_d_alpha_inv",
    "ir1_adshr_r_alpha_inv",
    "ir1_normalise",
    "ir1_reverse",
    "ir1_topology",
    "ir1_sts_toggle",
    "ir1_sts_relative_gain",
    "ir1_sts_high_pass_freq",
    "ir1_sts_high_pass_toggle",
    "ir1_sts_pre_delay",
    "ir1_cross_channel",
    "ir1_width",
    "ir1_er_size",
    "ir1_er_diffusion",
    "ir1_er_distance",
    "ir1_er_position",
    "ir1_er_separation",
    "ir1_er_type",
    "ir1_er_depth",
    "ir1_tail_length",
    "ir1_tail_character",
    "ir1_tail_diffusion",
    "ir1_tail_density",
    "ir1_tail_variant",
    "ir1_tail_diffuse_length",
    "ir1_additive_noise_wet",
    "ir1_additive_noise_dry",
    "ir1_additive_noise_release",
    "ir1_additive_noise_spare",
    "ir1_stacked_rate",
    "ir1_stacked_head_tail_mix",
    "ir1_stacked_depth",
    "ir1_stacked_head_permit_mod",
    "ir1_source_type",
    "ir1_file_a",
    "ir1_file_b",
};

std::vector<std::string> const kIr1Mixer = {"ir1_gain", "ir1_balance", "ir1_balance_mod",
                                            "ir1_balance_mod_phase", "ir1_stereo_mono"};

std::vector<std::string> const kIr1Sts = {"ir1_sts_toggle", "ir1_sts_relative_gain", "ir1_sts_high_pass_freq",
                                          "ir1_sts_high_pass_toggle", "ir1_sts_pre_delay"};

std::vector<std::string> const kIr1Stacked = {"ir1_stacked_rate", "ir1_stacked_head_tail_mix",
                                              "ir1_stacked_depth", "ir1_stacked_head_permit_mod"};

std::vector<std::string> const kIr1NoteLengths = {"ir1_delay_l_delay_numer", "ir1_delay_l_delay_denom",
                                                  "ir1_delay_r_delay_numer", "ir1_delay_r_delay_denom"};

// The IR2 name of an IR1 name: the same slot with ir2 for ir1.
std::string other_ir(std::string name)
{
    for (auto [from, to] : {std::pair{"ir1", "ir2"}, std::pair{"ir2", "ir1"}}) {
        std::size_t const at = name.find(from);
        if (at != std::string::npos) return name.replace(at, 3, to);
    }
    ADD_FAILURE() << name << " belongs to neither IR";
    return name;
}

std::string on_ir(std::string const& ir1_name, int ir)
{
    return ir == 1 ? ir1_name : other_ir(ir1_name);
}

Names on_ir(std::vector<std::string> const& ir1_names, int ir)
{
    Names names;
    for (std::string const& n : ir1_names)
        names.insert(on_ir(n, ir));
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

std::string prefix(int ir)
{
    return ir == 1 ? "ir1" : "ir2";
}

Names core(int ir)
{
    return on_ir(kIr1Core, ir);
}
Names mixer(int ir)
{
    return on_ir(kIr1Mixer, ir);
}
Names eq(int ir)
{
    return fields_with_prefix(prefix(ir) + "_flt");
}
Names chorus(int ir)
{
    return fields_with_prefix("chorus_" + prefix(ir) + "_");
}
Names delay(int ir)
{
    return fields_with_prefix(prefix(ir) + "_delay_");
}
Names pitch_mod(int ir)
{
    return fields_with_prefix("pitch_mod_" + prefix(ir) + "_");
}
Names sts(int ir)
{
    return on_ir(kIr1Sts, ir);
}
Names noise_wet(int ir)
{
    return {prefix(ir) + "_additive_noise_wet"};
}

// Every field in `names` holds its reset() value.
void expect_defaults(VST_Plugin_Program const& p, Names const& names)
{
    VST_Plugin_Program const defaults;
    for (std::string const& n : names) {
        auto const& row = field_row(n);
        EXPECT_EQ(std::memcmp(corvella::test::bytes_of(p) + row.offset,
                              corvella::test::bytes_of(defaults) + row.offset, row.width),
                  0)
            << n << " is not at its default";
    }
}

VST_Plugin_Program filled()
{
    VST_Plugin_Program p;
    fill_distinct(p);
    return p;
}

} // namespace

TEST(ProgramGroups, GroupSizes)
{
    // Guards the name patterns above against picking up the wrong fields.
    EXPECT_EQ(core(1).size(), 50u);
    EXPECT_EQ(eq(1).size(), 66u);
    EXPECT_EQ(eq(2).size(), 66u);
    EXPECT_EQ(chorus(2).size(), 8u);
    EXPECT_EQ(delay(1).size(), 21u);
    EXPECT_EQ(delay(2).size(), 21u);
    EXPECT_EQ(pitch_mod(2).size(), 7u);
    EXPECT_EQ(fields_with_prefix("master_delay_").size(), 21u);
    for (std::string const& n : core(2) + mixer(2) + eq(2))
        EXPECT_NO_THROW(field_row(n)) << n;
}

// ---------------------------------------------------------------------------------------------
// Resets

struct ResetCase {
    char const* label;
    void (VST_Plugin_Program::*reset)();
    Names expected;
};

class ProgramResets : public testing::TestWithParam<ResetCase> {};

TEST_P(ProgramResets, ChangesExactlyTheGroupToItsDefaults)
{
    ResetCase const& c = GetParam();
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program after = before;
    (after.*c.reset)();
    EXPECT_EQ(changed_fields(before, after), c.expected);
    expect_defaults(after, c.expected - Names{"name"});
    if (c.expected.contains("name")) {
        EXPECT_STREQ(after.name, "Default");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ProgramResets,
    testing::Values(
        ResetCase{"post_eq", &VST_Plugin_Program::reset_post_eq,
                  fields_with_prefix("flt") + Names{"lfo1_rate", "lfo2_rate"}},
        ResetCase{"chorus_post", &VST_Plugin_Program::reset_chorus_post,
                  fields_with_prefix("chorus_master_")},
        ResetCase{"chorus_ir1", &VST_Plugin_Program::reset_chorus_ir1, chorus(1)},
        ResetCase{"chorus_ir2", &VST_Plugin_Program::reset_chorus_ir2, chorus(2)},
        ResetCase{"delay_master", &VST_Plugin_Program::reset_delay_master,
                  fields_with_prefix("master_delay_")},
        ResetCase{"delay_ir1", &VST_Plugin_Program::reset_delay_ir1, delay(1)},
        ResetCase{"delay_ir2", &VST_Plugin_Program::reset_delay_ir2, delay(2)},
        ResetCase{"ir1_eq", &VST_Plugin_Program::reset_ir1_eq, eq(1)},
        ResetCase{"ir2_eq", &VST_Plugin_Program::reset_ir2_eq, eq(2)},
        ResetCase{"ir1", &VST_Plugin_Program::reset_ir1,
                  Names{"name", "ir1_ir2_chain"} + core(1) + mixer(1) + eq(1) + chorus(1) + delay(1) +
                      pitch_mod(1)},
        ResetCase{"ir2", &VST_Plugin_Program::reset_ir2,
                  Names{"name", "ir1_ir2_chain"} + core(2) + mixer(2) + eq(2) + chorus(2) + delay(2) +
                      pitch_mod(2)},
        ResetCase{"ir1_except", &VST_Plugin_Program::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod,
                  Names{"name", "ir1_ir2_chain"} + core(1) + mixer(1)},
        ResetCase{"ir2_except", &VST_Plugin_Program::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod,
                  Names{"name", "ir1_ir2_chain"} + core(2) + mixer(2)},
        ResetCase{"ir1_except_mixer",
                  &VST_Plugin_Program::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
                  Names{"name", "master_mixer_modulation_order"} + core(1)},
        ResetCase{"ir2_except_mixer",
                  &VST_Plugin_Program::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
                  Names{"name", "master_mixer_modulation_order"} + core(2)}),
    [](testing::TestParamInfo<ResetCase> const& param_info) { return std::string(param_info.param.label); });

TEST(ProgramGroups, ResetMixerCentresTheMixKnobs)
{
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program p = before;
    p.reset_mixer();
    Names const expected = {"master_gain",
                            "master_mix",
                            "master_ir1_ir2_mix",
                            "master_ir1_ir2_mix_mod",
                            "ir1_gain",
                            "ir2_gain",
                            "ir1_balance",
                            "ir2_balance",
                            "lfo3_rate",
                            "master_wet_lock_ignore",
                            "ir1_balance_mod",
                            "ir1_balance_mod_phase",
                            "ir2_balance_mod",
                            "ir2_balance_mod_phase",
                            "master_stereo_mono",
                            "ir1_stereo_mono",
                            "ir2_stereo_mono",
                            "ir1_ir2_chain",
                            "master_ir1_ir2_mix_law",
                            "master_mixer_modulation_order"};
    EXPECT_EQ(changed_fields(before, p), expected);
    EXPECT_EQ(p.master_gain, 0.5f);
    EXPECT_EQ(p.master_mix, 0.5f); // not the record default of 1.0
    EXPECT_EQ(p.master_ir1_ir2_mix, 0.5f);
    EXPECT_EQ(p.master_ir1_ir2_mix_mod, 0.0f);
    EXPECT_EQ(p.ir1_gain, 0.3f);
    EXPECT_EQ(p.ir2_gain, 0.3f);
    EXPECT_EQ(p.ir1_balance, 0.5f);
    EXPECT_EQ(p.ir2_balance, 0.5f);
    EXPECT_EQ(p.lfo3_rate, 0.125f);
    for (float v : {p.master_wet_lock_ignore, p.ir1_balance_mod, p.ir1_balance_mod_phase, p.ir2_balance_mod,
                    p.ir2_balance_mod_phase, p.master_stereo_mono, p.ir1_stereo_mono, p.ir2_stereo_mono,
                    p.ir1_ir2_chain})
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(p.master_ir1_ir2_mix_law, 1.0f);
    EXPECT_EQ(p.master_mixer_modulation_order, 1.0f);
}

TEST(ProgramGroups, ResetIrEmptiesItsFilePaths)
{
    VST_Plugin_Program p = filled();
    std::string const ir2_a = p.ir2_file_a;
    p.reset_ir1();
    EXPECT_STREQ(p.ir1_file_a, "");
    EXPECT_STREQ(p.ir1_file_b, "");
    EXPECT_EQ(std::string(p.ir2_file_a), ir2_a);
    EXPECT_STREQ(p.name, "Default");
}

// ---------------------------------------------------------------------------------------------
// Push

struct PushCase {
    char const* label;
    void (VST_Plugin_Program::*push)();
    int from;
    Names source; // named on the source IR
};

class ProgramPushes : public testing::TestWithParam<PushCase> {};

TEST_P(ProgramPushes, CopiesExactlyTheGroupOntoTheOtherIr)
{
    PushCase const& c = GetParam();
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program after = before;
    (after.*c.push)();

    Names destination;
    for (std::string const& n : c.source)
        destination.insert(other_ir(n));
    EXPECT_EQ(changed_fields(before, after), destination);

    for (std::string const& n : c.source) {
        auto const& src = field_row(n);
        auto const& dst = field_row(other_ir(n));
        if (src.kind == FieldKind::text) {
            EXPECT_EQ(corvella::test::text_field(after, dst.name),
                      corvella::test::text_field(before, src.name))
                << n;
        } else {
            EXPECT_EQ(std::memcmp(corvella::test::bytes_of(after) + dst.offset,
                                  corvella::test::bytes_of(before) + src.offset, 4),
                      0)
                << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ProgramPushes,
    testing::Values(
        PushCase{"ir1_to_ir2", &VST_Plugin_Program::push_ir1_to_ir2, 1,
                 core(1) - sts(1) + mixer(1) + eq(1) + chorus(1) + delay(1) + pitch_mod(1)},
        PushCase{"ir1_to_ir2_except_mixer", &VST_Plugin_Program::push_ir1_to_ir2_except_mixer, 1,
                 core(1) - sts(1) + eq(1) + chorus(1) + delay(1) + pitch_mod(1)},
        PushCase{"ir1_to_ir2_except",
                 &VST_Plugin_Program::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod, 1,
                 core(1) - sts(1) - noise_wet(1) + mixer(1)},
        PushCase{"ir1_to_ir2_except_mixer_too",
                 &VST_Plugin_Program::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
                 1, core(1) - sts(1) - noise_wet(1)},
        PushCase{"ir2_to_ir1", &VST_Plugin_Program::push_ir2_to_ir1, 2,
                 core(2) - sts(2) + mixer(2) + eq(2) + chorus(2) + delay(2) + pitch_mod(2)},
        PushCase{"ir2_to_ir1_except_mixer", &VST_Plugin_Program::push_ir2_to_ir1_except_mixer, 2,
                 core(2) - sts(2) + eq(2) + chorus(2) + delay(2) + pitch_mod(2)},
        PushCase{"ir2_to_ir1_except",
                 &VST_Plugin_Program::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod, 2,
                 core(2) - sts(2) - noise_wet(2) + mixer(2)},
        PushCase{"ir2_to_ir1_except_mixer_too",
                 &VST_Plugin_Program::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer,
                 2, core(2) - sts(2) - noise_wet(2)}),
    [](testing::TestParamInfo<PushCase> const& param_info) { return std::string(param_info.param.label); });

TEST(ProgramGroups, PushIr2ToIr1KeepsStsAndName)
{
    VST_Plugin_Program p;
    std::strcpy(p.name, "Cathedral");
    p.ir1_sts_toggle = 1.0f;
    p.ir1_sts_relative_gain = 0.9f;
    p.ir2_sts_toggle = 0.0f;
    p.ir2_sts_relative_gain = 0.1f;
    p.ir2_width = 0.8f;
    p.push_ir2_to_ir1();
    EXPECT_STREQ(p.name, "Cathedral");
    EXPECT_EQ(p.ir1_sts_toggle, 1.0f);
    EXPECT_EQ(p.ir1_sts_relative_gain, 0.9f);
    EXPECT_EQ(p.ir1_width, 0.8f);
}

TEST(ProgramGroups, PushCopiesPathsAsStrings)
{
    VST_Plugin_Program p;
    std::memset(p.ir2_file_a, 'z', sizeof p.ir2_file_a);
    std::strcpy(p.ir1_file_a, "/a.wav");
    p.push_ir1_to_ir2();
    EXPECT_STREQ(p.ir2_file_a, "/a.wav");
    EXPECT_STREQ(p.ir2_file_b, "");
}

TEST(ProgramGroups, PushCutsAnUnterminatedPath)
{
    VST_Plugin_Program p;
    std::memset(p.ir1_file_b, 'q', sizeof p.ir1_file_b); // no terminator anywhere
    p.push_ir1_to_ir2();
    EXPECT_EQ(std::string(p.ir2_file_b), std::string(299, 'q'));
    EXPECT_EQ(p.ir2_file_b[299], '\0');
}

// ---------------------------------------------------------------------------------------------
// Swap

TEST(ProgramGroups, SwapExchangesTheSwapSetOnly)
{
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program after = before;
    after.swap_ir1_ir2_everything();

    Names const stay = Names{"ir1_er_type", "ir1_tail_character", "ir1_tail_density"} + sts(1) +
                       on_ir(kIr1Stacked, 1) + on_ir(kIr1NoteLengths, 1);
    Names const swapped_ir1 = core(1) + mixer(1) + eq(1) + chorus(1) + delay(1) + pitch_mod(1) - stay;
    Names swapped = swapped_ir1;
    for (std::string const& n : swapped_ir1)
        swapped.insert(other_ir(n));
    EXPECT_EQ(changed_fields(before, after), swapped);

    for (std::string const& n : swapped_ir1) {
        auto const& a = field_row(n);
        auto const& b = field_row(other_ir(n));
        EXPECT_EQ(std::memcmp(corvella::test::bytes_of(after) + a.offset,
                              corvella::test::bytes_of(before) + b.offset, a.width),
                  0)
            << n;
        EXPECT_EQ(std::memcmp(corvella::test::bytes_of(after) + b.offset,
                              corvella::test::bytes_of(before) + a.offset, a.width),
                  0)
            << n;
    }
}

TEST(ProgramGroups, SwapTwiceRestoresTheRecord)
{
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program p = before;
    p.swap_ir1_ir2_everything();
    p.swap_ir1_ir2_everything();
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
}
