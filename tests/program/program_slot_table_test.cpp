// The table of program slots without a host parameter, checked against the record's own rules.

#include "program/parameter_table.h"
#include "program/program_sanitise.h"
#include "program/program_slot_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace corvella::test {
namespace {

// Every row names a slot no host parameter reaches, once, and its range is the one the sanitiser
// enforces on damaged records: a value just outside is brought back to the edge, the edges stay.
TEST(ProgramSlotTable, RowsAreDistinctNonParameterSlotsWithTheSanitisersRanges)
{
    std::set<std::string> keys;
    for (ProgramSlotRow const& row : program_slot_table()) {
        SCOPED_TRACE(row.key);
        EXPECT_TRUE(keys.insert(row.key).second);
        EXPECT_EQ(find_parameter(row.key), nullptr);
        EXPECT_EQ(find_program_slot(row.key), &row);
        double const step = row.kind == SlotKind::integer ? 1.0 : 0.5;
        for (auto [written, expected] : {std::pair{row.minimum - step, row.minimum},
                                         {row.maximum + step, row.maximum},
                                         {row.minimum, row.minimum},
                                         {row.maximum, row.maximum}}) {
            VST_Plugin_Program record;
            if (row.member.i != nullptr)
                record.*(row.member.i) = static_cast<std::int32_t>(written);
            else
                record.*(row.member.f) = static_cast<float>(written);
            sanitise_program_values(record);
            EXPECT_EQ(read_program_slot(record, row), double(expected)) << written;
        }
        VST_Plugin_Program record;
        EXPECT_FALSE(store_program_slot(record, row, row.maximum + step));
        EXPECT_TRUE(store_program_slot(record, row, row.maximum));
        EXPECT_EQ(read_program_slot(record, row), double(row.maximum));
    }
    EXPECT_EQ(keys.size(), 28u); // 6 delay sides × (tempo, numerator, denominator) + 2 IRs × 5
    ASSERT_NE(find_program_slot("ir1_delay_r_delay_denom"), nullptr);
    EXPECT_FALSE(program_slot_accepts(*find_program_slot("ir1_delay_r_delay_denom"), 2.5));
    EXPECT_EQ(find_program_slot("master_gain"), nullptr);
}

} // namespace
} // namespace corvella::test
