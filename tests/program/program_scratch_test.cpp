// Copy and paste of chorus and delay blocks through the scratch records.
#include "program/program_scratch.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

using corvella::test::changed_fields;
using corvella::test::fields_with_prefix;
using corvella::test::fill_distinct;
using Names = std::set<std::string>;

namespace {

VST_Plugin_Program filled()
{
    VST_Plugin_Program p;
    fill_distinct(p);
    return p;
}

} // namespace

TEST(ProgramScratch, ChorusConstructorHoldsTheChorusDefaults)
{
    VST_Plugin_Program_Chorus_Scratch const s;
    EXPECT_EQ(s.feedback, 0.25f);
    EXPECT_EQ(s.width, 0.75f);
    EXPECT_EQ(s.dry, 1.0f);
    EXPECT_EQ(s.wet, 0.8f);
    EXPECT_EQ(s.delay_ms, 0.5f);
    EXPECT_EQ(s.delay_mod_ms, 0.5f);
    EXPECT_EQ(s.delay_mod_rate_hz, 0.5f);
    EXPECT_EQ(s.toggle, 0.0f);
    EXPECT_FALSE(s.has_data);
    EXPECT_EQ(sizeof s.has_data, 1u);
}

TEST(ProgramScratch, DelayConstructorHoldsTheMasterDelayDefaults)
{
    VST_Plugin_Program_Delay_Scratch const s;
    EXPECT_EQ(s.dry, 1.0f);
    EXPECT_EQ(s.l_toggle, 0.0f);
    EXPECT_EQ(s.l_tempo, 120.0f);
    EXPECT_EQ(s.l_delay_numer, 3);
    EXPECT_EQ(s.l_delay_denom, 16);
    EXPECT_EQ(s.l_delay_mod, 0.05f);
    EXPECT_EQ(s.l_delay_mod_rate, 0.4f);
    EXPECT_EQ(s.l_feedback, 0.0f);
    EXPECT_EQ(s.l_feedback_opposite, 0.4f);
    EXPECT_EQ(s.l_wet, 0.71f);
    EXPECT_EQ(s.r_toggle, 0.0f);
    EXPECT_EQ(s.r_tempo, 120.0f);
    EXPECT_EQ(s.r_delay_numer, 5);
    EXPECT_EQ(s.r_delay_denom, 16);
    EXPECT_EQ(s.r_delay_mod, 0.1f);
    EXPECT_EQ(s.r_delay_mod_rate, 0.3f);
    EXPECT_EQ(s.r_feedback, 0.0f);
    EXPECT_EQ(s.r_feedback_opposite, 0.45f);
    EXPECT_EQ(s.r_wet, 0.71f);
    EXPECT_EQ(s.l_tempo_lock, 1.0f);
    EXPECT_EQ(s.r_tempo_lock, 1.0f);
    EXPECT_EQ(s.has_data, 0);
}

TEST(ProgramScratch, PasteFromAnEmptyScratchChangesNothing)
{
    VST_Plugin_Program const before = filled();
    VST_Plugin_Program p = before;
    VST_Plugin_Program_Chorus_Scratch const chorus;
    VST_Plugin_Program_Delay_Scratch const delay;
    chorus.paste_to_post(p);
    chorus.paste_to_ir1(p);
    chorus.paste_to_ir2(p);
    delay.paste_to_post(p);
    delay.paste_to_ir1(p);
    delay.paste_to_ir2(p);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
}

TEST(ProgramScratch, ChorusCopyReadsTheNamedBlockInOrder)
{
    VST_Plugin_Program p;
    p.chorus_ir2_feedback = 0.11f;
    p.chorus_ir2_width = 0.12f;
    p.chorus_ir2_dry = 0.13f;
    p.chorus_ir2_wet = 0.14f;
    p.chorus_ir2_delay_ms = 0.15f;
    p.chorus_ir2_delay_mod_ms = 0.16f;
    p.chorus_ir2_delay_mod_rate_hz = 0.17f;
    p.chorus_ir2_toggle = 1.0f;
    VST_Plugin_Program_Chorus_Scratch s;
    s.copy_from_ir2(p);
    EXPECT_TRUE(s.has_data);
    EXPECT_EQ(s.feedback, 0.11f);
    EXPECT_EQ(s.width, 0.12f);
    EXPECT_EQ(s.dry, 0.13f);
    EXPECT_EQ(s.wet, 0.14f);
    EXPECT_EQ(s.delay_ms, 0.15f);
    EXPECT_EQ(s.delay_mod_ms, 0.16f);
    EXPECT_EQ(s.delay_mod_rate_hz, 0.17f);
    EXPECT_EQ(s.toggle, 1.0f);
}

TEST(ProgramScratch, DelayCopyReadsTheNamedBlockInOrder)
{
    VST_Plugin_Program p;
    p.ir1_delay_dry = 0.5f;
    p.ir1_delay_l_tempo = 90.0f;
    p.ir1_delay_l_delay_numer = 1;
    p.ir1_delay_l_delay_denom = 2;
    p.ir1_delay_r_tempo = 95.0f;
    p.ir1_delay_r_delay_numer = 3;
    p.ir1_delay_r_delay_denom = 8;
    p.ir1_delay_r_wet = 0.2f;
    p.ir1_delay_l_tempo_lock = 0.0f;
    VST_Plugin_Program_Delay_Scratch s;
    s.copy_from_ir1(p);
    EXPECT_EQ(s.has_data, 1);
    EXPECT_EQ(s.dry, 0.5f);
    EXPECT_EQ(s.l_tempo, 90.0f);
    EXPECT_EQ(s.l_delay_numer, 1);
    EXPECT_EQ(s.l_delay_denom, 2);
    EXPECT_EQ(s.l_delay_mod, 0.09f);
    EXPECT_EQ(s.r_tempo, 95.0f);
    EXPECT_EQ(s.r_delay_numer, 3);
    EXPECT_EQ(s.r_delay_denom, 8);
    EXPECT_EQ(s.r_delay_mod, 0.18f);
    EXPECT_EQ(s.r_wet, 0.2f);
    EXPECT_EQ(s.l_tempo_lock, 0.0f);
    EXPECT_EQ(s.r_tempo_lock, 1.0f);
}

namespace {

struct Block {
    char const* prefix; // names of the block's fields start with this
    void (VST_Plugin_Program_Chorus_Scratch::*chorus_copy)(VST_Plugin_Program const&);
    void (VST_Plugin_Program_Chorus_Scratch::*chorus_paste)(VST_Plugin_Program&) const;
    void (VST_Plugin_Program_Delay_Scratch::*delay_copy)(VST_Plugin_Program const&);
    void (VST_Plugin_Program_Delay_Scratch::*delay_paste)(VST_Plugin_Program&) const;
};

using C = VST_Plugin_Program_Chorus_Scratch;
using D = VST_Plugin_Program_Delay_Scratch;

Block const kChorusBlocks[] = {
    {"chorus_master_", &C::copy_from_post, &C::paste_to_post, nullptr, nullptr},
    {"chorus_ir1_", &C::copy_from_ir1, &C::paste_to_ir1, nullptr, nullptr},
    {"chorus_ir2_", &C::copy_from_ir2, &C::paste_to_ir2, nullptr, nullptr},
};
Block const kDelayBlocks[] = {
    {"master_delay_", nullptr, nullptr, &D::copy_from_post, &D::paste_to_post},
    {"ir1_delay_", nullptr, nullptr, &D::copy_from_ir1, &D::paste_to_ir1},
    {"ir2_delay_", nullptr, nullptr, &D::copy_from_ir2, &D::paste_to_ir2},
};

// The value of `name` in `p` after swapping the block prefix: the same field of another block.
std::string renamed(std::string const& name, std::string const& from, std::string const& to)
{
    return to + name.substr(from.size());
}

} // namespace

TEST(ProgramScratch, ChorusPasteWritesExactlyTheTargetBlock)
{
    for (Block const& source : kChorusBlocks)
        for (Block const& target : kChorusBlocks) {
            SCOPED_TRACE(std::string(source.prefix) + " -> " + target.prefix);
            VST_Plugin_Program const before = filled();
            C s;
            (s.*source.chorus_copy)(before);
            VST_Plugin_Program after = before;
            (s.*target.chorus_paste)(after);
            Names const expected =
                source.prefix == target.prefix ? Names{} : fields_with_prefix(target.prefix);
            EXPECT_EQ(changed_fields(before, after), expected);
            for (std::string const& n : fields_with_prefix(target.prefix))
                EXPECT_EQ(corvella::test::float_field(after, n),
                          corvella::test::float_field(before, renamed(n, target.prefix, source.prefix)))
                    << n;
        }
}

TEST(ProgramScratch, DelayPasteWritesExactlyTheTargetBlock)
{
    for (Block const& source : kDelayBlocks)
        for (Block const& target : kDelayBlocks) {
            SCOPED_TRACE(std::string(source.prefix) + " -> " + target.prefix);
            VST_Plugin_Program const before = filled();
            D s;
            (s.*source.delay_copy)(before);
            VST_Plugin_Program after = before;
            (s.*target.delay_paste)(after);
            Names const expected =
                source.prefix == target.prefix ? Names{} : fields_with_prefix(target.prefix);
            EXPECT_EQ(changed_fields(before, after), expected);
            for (std::string const& n : fields_with_prefix(target.prefix)) {
                auto const& dst = corvella::test::field_row(n);
                auto const& src = corvella::test::field_row(renamed(n, target.prefix, source.prefix));
                EXPECT_EQ(std::memcmp(corvella::test::bytes_of(after) + dst.offset,
                                      corvella::test::bytes_of(before) + src.offset, 4),
                          0)
                    << n;
            }
        }
}
