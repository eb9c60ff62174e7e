// The record is a file format: every field at its typed offset with its width and type, and the
// defaults reset() stores (leaving the unset slots alone).
#include "program/vst_plugin_program.h"
#include "program_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

using namespace corvella::test;

TEST(ProgramLayout, EveryFieldAtItsOffsetAndTheTableCoversEveryByteOnce)
{
    EXPECT_EQ(sizeof(VST_Plugin_Program), 2972u);
    EXPECT_TRUE(std::is_trivially_copyable_v<VST_Plugin_Program>);
    std::vector<FieldRow> rows(std::begin(program_fields), std::end(program_fields));
    std::sort(rows.begin(), rows.end(),
              [](FieldRow const& a, FieldRow const& b) { return a.offset < b.offset; });
    std::size_t next = 0;
    for (FieldRow const& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual_offset, row.offset);
        EXPECT_EQ(row.actual_width, row.width);
        EXPECT_TRUE(row.same_type);
        EXPECT_EQ(row.offset, next) << "gap or overlap";
        next = row.offset + row.width;
    }
    EXPECT_EQ(next, 2972u);
}

TEST(ProgramDefaults, ConstructorAndResetStoreEveryDefaultAndLeaveTheUnsetSlotsAlone)
{
    VST_Plugin_Program const fresh, other;
    EXPECT_EQ(std::memcmp(&fresh, &other, sizeof fresh), 0); // no indeterminate bytes
    EXPECT_EQ(fresh.current_program, 0);
    VST_Plugin_Program const reset = [] {
        VST_Plugin_Program p;
        std::memset(static_cast<void*>(&p), 0xA5, sizeof p);
        p.reset();
        return p;
    }();
    for (VST_Plugin_Program const* p : {&fresh, &reset}) {
        for (FieldRow const& row : program_fields) {
            bool const has_default = row.kind == FieldKind::f32 || row.kind == FieldKind::i32;
            EXPECT_TRUE(!has_default || slot_value(*p, row.name) == static_cast<float>(row.default_value))
                << row.name << " holds " << slot_value(*p, row.name);
        }
        EXPECT_STREQ(p->name, "Default");
        for (char const* path : {p->ir1_file_a, p->ir1_file_b, p->ir2_file_a, p->ir2_file_b})
            EXPECT_STREQ(path, "");
    }
    // Past "Default" and its terminator, the reserved blocks, the stamp and the program index.
    int const unset[][2] = {{8, 24}, {1576, 1604}, {2740, 2832}, {2964, 2972}};
    for (auto const& [from, to] : unset)
        for (int k = from; k < to; ++k)
            EXPECT_EQ(bytes_of(reset)[k], 0xA5) << "byte " << k;
}
