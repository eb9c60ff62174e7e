// Copy and paste of chorus and delay blocks through the scratch records.
#include "program/program_scratch.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

using namespace corvella::test;
using P = VST_Plugin_Program;
using C = VST_Plugin_Program_Chorus_Scratch;
using D = VST_Plugin_Program_Delay_Scratch;

namespace {

template <typename S> struct Block {
    std::string prefix; // of the record names of the block's fields
    void (S::*copy)(P const&);
    void (S::*paste)(P&) const;
};

// A scratch member and the record field it stands for (prefix + suffix).
template <typename S> struct Member {
    char const* suffix;
    float S::*f = nullptr;
    std::int32_t S::*i = nullptr;
    double of(S const& s) const { return f != nullptr ? double(s.*f) : double(s.*i); }
};

Block<C> const kChorusBlocks[] = {{"chorus_master_", &C::copy_from_post, &C::paste_to_post},
                                  {"chorus_ir1_", &C::copy_from_ir1, &C::paste_to_ir1},
                                  {"chorus_ir2_", &C::copy_from_ir2, &C::paste_to_ir2}};
Block<D> const kDelayBlocks[] = {{"master_delay_", &D::copy_from_post, &D::paste_to_post},
                                 {"ir1_delay_", &D::copy_from_ir1, &D::paste_to_ir1},
                                 {"ir2_delay_", &D::copy_from_ir2, &D::paste_to_ir2}};

// clang-format off
Member<C> const kChorusMembers[] = {
    {"feedback", &C::feedback}, {"width", &C::width}, {"dry", &C::dry}, {"wet", &C::wet},
    {"delay_ms", &C::delay_ms}, {"delay_mod_ms", &C::delay_mod_ms},
    {"delay_mod_rate_hz", &C::delay_mod_rate_hz}, {"toggle", &C::toggle}};
Member<D> const kDelayMembers[] = {
    {"dry", &D::dry}, {"l_toggle", &D::l_toggle}, {"l_tempo", &D::l_tempo},
    {"l_delay_numer", nullptr, &D::l_delay_numer}, {"l_delay_denom", nullptr, &D::l_delay_denom},
    {"l_delay_mod", &D::l_delay_mod}, {"l_delay_mod_rate", &D::l_delay_mod_rate},
    {"l_feedback", &D::l_feedback}, {"l_feedback_opposite", &D::l_feedback_opposite}, {"l_wet", &D::l_wet},
    {"r_toggle", &D::r_toggle}, {"r_tempo", &D::r_tempo}, {"r_delay_numer", nullptr, &D::r_delay_numer},
    {"r_delay_denom", nullptr, &D::r_delay_denom}, {"r_delay_mod", &D::r_delay_mod},
    {"r_delay_mod_rate", &D::r_delay_mod_rate}, {"r_feedback", &D::r_feedback},
    {"r_feedback_opposite", &D::r_feedback_opposite}, {"r_wet", &D::r_wet},
    {"l_tempo_lock", &D::l_tempo_lock}, {"r_tempo_lock", &D::r_tempo_lock}};
// clang-format on

// A new scratch holds the post block's defaults and pastes nothing; a copy reads the named block
// member by member, and a paste changes exactly the target block.
template <typename S, std::size_t N, std::size_t M>
void expect_blocks(Block<S> const (&blocks)[N], Member<S> const (&members)[M])
{
    S const fresh;
    EXPECT_EQ(fresh.has_data, 0);
    P const defaults;
    for (Member<S> const& m : members)
        EXPECT_EQ(m.of(fresh), slot_value(defaults, blocks[0].prefix + m.suffix)) << m.suffix;
    P const before = filled_program();
    P p = before;
    for (Block<S> const& block : blocks)
        (fresh.*block.paste)(p);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);

    for (Block<S> const& source : blocks) {
        EXPECT_EQ(fields_with_prefix(source.prefix).size(), M);
        S s;
        (s.*source.copy)(before);
        EXPECT_EQ(s.has_data, 1);
        for (Member<S> const& m : members)
            EXPECT_EQ(m.of(s), slot_value(before, source.prefix + m.suffix)) << source.prefix << m.suffix;
        for (Block<S> const& target : blocks) {
            SCOPED_TRACE(source.prefix + " -> " + target.prefix);
            P after = before;
            (s.*target.paste)(after);
            std::set<std::string> const block = fields_with_prefix(target.prefix);
            EXPECT_EQ(changed_fields(before, after),
                      source.prefix == target.prefix ? std::set<std::string>{} : block);
            for (std::string const& n : block)
                EXPECT_TRUE(same_field(after, n, before, source.prefix + n.substr(target.prefix.size())))
                    << n;
        }
    }
}

} // namespace

TEST(ProgramScratch, ChorusBlocks)
{
    expect_blocks(kChorusBlocks, kChorusMembers);
}

TEST(ProgramScratch, DelayBlocks)
{
    expect_blocks(kDelayBlocks, kDelayMembers);
}
