// The record is a file format: every field at its offset with its width and kind, little-endian
// bytes, and the defaults reset() stores (and the slots it must leave alone).
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

using namespace corvella::test;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_at(VST_Plugin_Program const& p, std::size_t offset, std::size_t count)
{
    return Bytes(bytes_of(p) + offset, bytes_of(p) + offset + count);
}

void expect_every_default(VST_Plugin_Program const& p)
{
    for (FieldRow const& row : program_fields) {
        if (row.kind == FieldKind::f32) {
            EXPECT_EQ(float_at(p, row.offset), static_cast<float>(row.default_value)) << row.name;
        } else if (row.kind == FieldKind::i32) {
            EXPECT_EQ(int_at(p, row.offset), static_cast<std::int32_t>(row.default_value)) << row.name;
        }
    }
    EXPECT_STREQ(p.name, "Default");
    for (char const* path : {p.ir1_file_a, p.ir1_file_b, p.ir2_file_a, p.ir2_file_b})
        EXPECT_STREQ(path, "");
}

} // namespace

TEST(ProgramLayout, EveryFieldAtItsOffsetAndTheTableCoversEveryByteOnce)
{
    EXPECT_EQ(sizeof(VST_Plugin_Program), 2972u);
    EXPECT_TRUE(std::is_standard_layout_v<VST_Plugin_Program>);
    EXPECT_TRUE(std::is_trivially_copyable_v<VST_Plugin_Program>);
    for (FieldRow const& row : program_fields) {
        EXPECT_EQ(row.actual_offset, row.offset) << row.name;
        EXPECT_EQ(row.actual_width, row.width) << row.name;
        EXPECT_TRUE(row.actual_kind_matches) << row.name;
    }
    std::vector<FieldRow> rows(std::begin(program_fields), std::end(program_fields));
    std::sort(rows.begin(), rows.end(),
              [](FieldRow const& a, FieldRow const& b) { return a.offset < b.offset; });
    std::size_t next = 0;
    for (FieldRow const& row : rows) {
        EXPECT_EQ(row.offset, next) << "gap or overlap before " << row.name;
        next = row.offset + row.width;
    }
    EXPECT_EQ(next, 2972u);
}

TEST(ProgramLayout, StoredBytesAreLittleEndian)
{
    VST_Plugin_Program p;
    p.flt2_gain = -2.0f; // band 2 stores its gain after its two gain-mod slots
    p.ir2_flt5_gain_to = 1.5f;
    p.ir2_delay_r_delay_denom = 16;
    p.ir1_er_type = 0x01020304;
    p.version_stamp = corvella::current_program_version; // 2101
    std::strcpy(p.ir1_file_b, "/irs/hall-b.wav");
    EXPECT_EQ(bytes_at(p, 24, 4), (Bytes{0x00, 0x00, 0x00, 0x3F})); // master_gain 0.5
    EXPECT_EQ(bytes_at(p, 412, 4), (Bytes{0x00, 0x00, 0x00, 0xC0}));
    EXPECT_EQ(bytes_at(p, 1872, 4), (Bytes{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(bytes_at(p, 1840, 4), (Bytes{0x00, 0x00, 0xF0, 0x42})); // ir1_delay_l_tempo 120
    EXPECT_EQ(bytes_at(p, 2832, 4), (Bytes{0x10, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes_at(p, 1740, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF})); // host_data_2 -1
    EXPECT_EQ(bytes_at(p, 1796, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(bytes_at(p, 2964, 4), (Bytes{0x35, 0x08, 0x00, 0x00}));
    EXPECT_EQ(bytes_at(p, 0, 8), (Bytes{'D', 'e', 'f', 'a', 'u', 'l', 't', 0}));
    EXPECT_EQ(std::memcmp(bytes_of(p) + 1272, "/irs/hall-b.wav", 16), 0);
}

TEST(ProgramDefaults, ConstructorAndResetStoreEveryDefault)
{
    VST_Plugin_Program const fresh;
    expect_every_default(fresh);
    EXPECT_EQ(fresh.current_program, 0);
    // Slots reset() does not write still hold defined bytes, so two new records are equal.
    VST_Plugin_Program const other;
    EXPECT_EQ(std::memcmp(&fresh, &other, sizeof fresh), 0);

    VST_Plugin_Program p = filled_program();
    p.reset();
    expect_every_default(p);
}

TEST(ProgramDefaults, ResetLeavesTheUnsetSlotsAlone)
{
    VST_Plugin_Program p;
    std::memset(static_cast<void*>(&p), 0xA5, sizeof p);
    p.reset();
    auto const* bytes = bytes_of(p);
    EXPECT_EQ(std::memcmp(bytes, "Default", 8), 0); // "Default" and its terminator only
    int const unset[][2] = {{8, 24}, {1576, 1604}, {2740, 2832}, {2964, 2972}};
    for (auto const& [from, to] : unset)
        for (int k = from; k < to; ++k)
            EXPECT_EQ(bytes[k], 0xA5) << "byte " << k;
    expect_every_default(p);
}
