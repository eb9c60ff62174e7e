// Defaults after construction and reset(), and the slots reset() must leave alone.
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <cstring>

using corvella::test::FieldKind;
using corvella::test::FieldRow;
using corvella::test::program_fields;

namespace {

void expect_every_default(VST_Plugin_Program const& p)
{
    for (FieldRow const& row : program_fields) {
        if (row.kind == FieldKind::f32) {
            EXPECT_EQ(corvella::test::float_at(p, row.offset), static_cast<float>(row.default_value))
                << row.name;
        } else if (row.kind == FieldKind::i32) {
            EXPECT_EQ(corvella::test::int_at(p, row.offset), static_cast<std::int32_t>(row.default_value))
                << row.name;
        }
    }
    EXPECT_STREQ(p.name, "Default");
    for (char const* path : {p.ir1_file_a, p.ir1_file_b, p.ir2_file_a, p.ir2_file_b})
        EXPECT_STREQ(path, "");
}

} // namespace

TEST(ProgramDefaults, ConstructorStoresEveryDefault)
{
    VST_Plugin_Program const p;
    expect_every_default(p);
    EXPECT_EQ(p.current_program, 0);
}

TEST(ProgramDefaults, SpotChecksOfIrregularDefaults)
{
    VST_Plugin_Program const p;
    EXPECT_EQ(p.ir1_toggle, 1.0f);
    EXPECT_EQ(p.ir2_toggle, 0.0f);
    EXPECT_EQ(p.master_mix, 1.0f);
    EXPECT_EQ(p.flt2_gain, 0.5f);
    EXPECT_EQ(p.flt2_gain_mod, 0.0f);
    EXPECT_EQ(p.ir2_flt5_gain_to_end, 1.0f);
    EXPECT_EQ(p.ir1_delay_r_delay_numer, 4);
    EXPECT_EQ(p.ir2_delay_l_delay_numer, 7);
    EXPECT_EQ(p.ir2_delay_r_delay_numer, 12);
    EXPECT_EQ(p.ir2_delay_r_delay_denom, 16);
    EXPECT_EQ(p.master_delay_l_tempo, 120.0f);
    EXPECT_EQ(p.host_data_2, -1);
    EXPECT_EQ(p.host_data_4, -1);
}

TEST(ProgramDefaults, NewRecordsStoreIdenticalBytes)
{
    // The slots reset() does not write still hold defined bytes in a new record, so two new
    // records compare equal byte for byte.
    VST_Plugin_Program const a;
    VST_Plugin_Program const b;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    for (int k = 8; k < 24; ++k)
        EXPECT_EQ(a.name[k], 0) << "name byte " << k;
    for (std::int32_t slot : a.reserved_1576)
        EXPECT_EQ(slot, 0);
    for (std::int32_t slot : a.reserved_2740)
        EXPECT_EQ(slot, 0);
}

TEST(ProgramDefaults, ResetRestoresEveryDefaultOfAFilledRecord)
{
    VST_Plugin_Program p;
    corvella::test::fill_distinct(p);
    p.reset();
    expect_every_default(p);
}

TEST(ProgramDefaults, ResetLeavesTheUnsetSlotsAlone)
{
    VST_Plugin_Program p;
    std::memset(static_cast<void*>(&p), 0xA5, sizeof p);
    p.reset();
    auto const* bytes = reinterpret_cast<unsigned char const*>(&p);
    // "Default" and its terminator only.
    EXPECT_EQ(std::memcmp(bytes, "Default", 8), 0);
    for (std::size_t k = 8; k < 24; ++k)
        EXPECT_EQ(bytes[k], 0xA5) << "name byte " << k;
    for (std::size_t k = 1576; k < 1604; ++k)
        EXPECT_EQ(bytes[k], 0xA5) << "reserved byte " << k;
    for (std::size_t k = 2740; k < 2832; ++k)
        EXPECT_EQ(bytes[k], 0xA5) << "reserved byte " << k;
    for (std::size_t k = 2964; k < 2972; ++k)
        EXPECT_EQ(bytes[k], 0xA5) << "stamp/current byte " << k;
    expect_every_default(p);
}
