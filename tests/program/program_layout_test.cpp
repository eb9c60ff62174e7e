// The record is a file format: every field at its byte offset with its width and kind, and the
// bytes of a stored record in little-endian order.
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

using corvella::test::FieldKind;
using corvella::test::FieldRow;
using corvella::test::program_fields;

namespace {

std::vector<unsigned char> stored_bytes(VST_Plugin_Program const& p)
{
    auto const* bytes = reinterpret_cast<unsigned char const*>(&p);
    return std::vector<unsigned char>(bytes, bytes + sizeof p);
}

std::vector<unsigned char> bytes_at(std::vector<unsigned char> const& bytes, std::size_t offset,
                                    std::size_t count)
{
    return std::vector<unsigned char>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

using Bytes = std::vector<unsigned char>;

} // namespace

TEST(ProgramLayout, RecordIs743SlotsOf32Bits)
{
    EXPECT_EQ(sizeof(VST_Plugin_Program), 2972u);
    EXPECT_EQ(sizeof(VST_Plugin_Program) / 4, 743u);
    EXPECT_TRUE(std::is_standard_layout_v<VST_Plugin_Program>);
    EXPECT_TRUE(std::is_trivially_copyable_v<VST_Plugin_Program>);
}

TEST(ProgramLayout, ReferenceTableCoversEveryByteOnce)
{
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

TEST(ProgramLayout, EveryFieldAtItsOffsetWithItsWidthAndKind)
{
    for (FieldRow const& row : program_fields) {
        EXPECT_EQ(row.actual_offset, row.offset) << row.name;
        EXPECT_EQ(row.actual_width, row.width) << row.name;
        EXPECT_TRUE(row.actual_kind_matches) << row.name;
    }
}

TEST(ProgramLayout, FieldCountsByKind)
{
    int floats = 0, ints = 0, texts = 0, reserved_slots = 0;
    for (FieldRow const& row : program_fields) {
        switch (row.kind) {
        case FieldKind::f32:
            ++floats;
            break;
        case FieldKind::i32:
        case FieldKind::i32_unset:
            ++ints;
            break;
        case FieldKind::text:
            ++texts;
            break;
        case FieldKind::reserved:
            reserved_slots += static_cast<int>(row.width / 4);
            break;
        }
    }
    EXPECT_EQ(texts, 5);
    EXPECT_EQ(reserved_slots, 30);
    // 4 host integers, 2 ER types, 4 tail indices, 12 delay note lengths, 2 source types,
    // version stamp and current program.
    EXPECT_EQ(ints, 26);
    EXPECT_EQ(floats + ints + reserved_slots + (24 + 4 * 300) / 4, 743);
}

TEST(ProgramLayout, FloatsAreStoredLittleEndian)
{
    VST_Plugin_Program p;
    p.master_gain = 0.25f; // 0x3E800000
    p.flt2_gain = -2.0f;   // 0xC0000000, after band 2's two gain-mod slots
    p.ir2_flt5_gain_to = 1.5f;
    p.ir1_delay_l_tempo = 120.0f; // 0x42F00000
    Bytes const bytes = stored_bytes(p);
    EXPECT_EQ(bytes_at(bytes, 24, 4), (Bytes{0x00, 0x00, 0x80, 0x3E}));
    EXPECT_EQ(bytes_at(bytes, 412, 4), (Bytes{0x00, 0x00, 0x00, 0xC0}));
    EXPECT_EQ(bytes_at(bytes, 1872, 4), (Bytes{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(bytes_at(bytes, 1840, 4), (Bytes{0x00, 0x00, 0xF0, 0x42}));
}

TEST(ProgramLayout, IntegersAreStoredLittleEndian)
{
    VST_Plugin_Program p;
    p.ir2_delay_r_delay_denom = 16;
    p.host_data_2 = -1;
    p.current_program = 47;
    p.ir1_er_type = 0x01020304;
    p.version_stamp = corvella::current_program_version; // 2101 = 0x835
    Bytes const bytes = stored_bytes(p);
    EXPECT_EQ(bytes_at(bytes, 2832, 4), (Bytes{0x10, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes_at(bytes, 1740, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytes_at(bytes, 2968, 4), (Bytes{0x2F, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes_at(bytes, 1796, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(bytes_at(bytes, 2964, 4), (Bytes{0x35, 0x08, 0x00, 0x00}));
}

TEST(ProgramLayout, TextsAreStoredInPlace)
{
    VST_Plugin_Program p;
    std::strcpy(p.ir1_file_b, "/irs/hall-b.wav");
    std::strcpy(p.ir2_file_a, "x");
    Bytes const bytes = stored_bytes(p);
    EXPECT_EQ(bytes_at(bytes, 0, 8), (Bytes{'D', 'e', 'f', 'a', 'u', 'l', 't', 0}));
    EXPECT_EQ(std::memcmp(bytes.data() + 1272, "/irs/hall-b.wav", 16), 0);
    EXPECT_EQ(bytes_at(bytes, 1972, 2), (Bytes{'x', 0}));
}

TEST(ProgramLayout, RecordSurvivesAByteCopy)
{
    VST_Plugin_Program original;
    corvella::test::fill_distinct(original);
    Bytes const bytes = stored_bytes(original);
    VST_Plugin_Program restored;
    std::memcpy(static_cast<void*>(&restored), bytes.data(), bytes.size());
    EXPECT_EQ(stored_bytes(restored), bytes);
    EXPECT_EQ(restored.ir2_delay_r_delay_denom, original.ir2_delay_r_delay_denom);
    EXPECT_EQ(restored.master_delay_r_wet, original.master_delay_r_wet);
}
