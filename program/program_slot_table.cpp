#include "program/program_slot_table.h"

#include "program/program_sanitise.h"

#include <cmath>
#include <cstdint>

namespace corvella {
namespace {

using P = VST_Plugin_Program;
using K = SlotKind;

constexpr float note_numerator_max = 63.0f, note_denominator_max = 64.0f;
constexpr float rooms = 10.0f, tail_characters = 13.0f, densities = 7.0f, source_types = 3.0f;

#define CORVELLA_DELAY_SIDE(block, side)                                                                     \
    ProgramSlotRow{#block "_delay_" #side "_tempo", &P::block##_delay_##side##_tempo, K::tempo,              \
                   tempo_min_bpm, tempo_max_bpm},                                                            \
        ProgramSlotRow{#block "_delay_" #side "_delay_numer", &P::block##_delay_##side##_delay_numer,        \
                       K::integer, 1.0f, note_numerator_max},                                                \
        ProgramSlotRow                                                                                       \
    {                                                                                                        \
#block "_delay_" #side "_delay_denom", &P::block##_delay_##side##_delay_denom, K::integer, 1.0f,     \
            note_denominator_max                                                                             \
    }

#define CORVELLA_IR_SOURCE(ir)                                                                               \
    ProgramSlotRow{#ir "_source_type", &P::ir##_source_type, K::integer, 0.0f, source_types - 1.0f},         \
        ProgramSlotRow{#ir "_er_type", &P::ir##_er_type, K::integer, 0.0f, rooms - 1.0f},                    \
        ProgramSlotRow{#ir "_tail_character", &P::ir##_tail_character, K::integer, 0.0f,                     \
                       tail_characters - 1.0f},                                                              \
        ProgramSlotRow{#ir "_tail_density", &P::ir##_tail_density, K::integer, 0.0f, densities - 1.0f},      \
        ProgramSlotRow                                                                                       \
    {                                                                                                        \
#ir "_tail_variant", &P::ir##_tail_variant, K::unity, 0.0f, 1.0f                                     \
    }

ProgramSlotRow const rows[] = {
    CORVELLA_DELAY_SIDE(master, l), CORVELLA_DELAY_SIDE(master, r), CORVELLA_DELAY_SIDE(ir1, l),
    CORVELLA_DELAY_SIDE(ir1, r),    CORVELLA_DELAY_SIDE(ir2, l),    CORVELLA_DELAY_SIDE(ir2, r),
    CORVELLA_IR_SOURCE(ir1),        CORVELLA_IR_SOURCE(ir2),
};

#undef CORVELLA_DELAY_SIDE
#undef CORVELLA_IR_SOURCE

} // namespace

std::span<ProgramSlotRow const> program_slot_table()
{
    return rows;
}

ProgramSlotRow const* find_program_slot(std::string_view key)
{
    for (ProgramSlotRow const& row : rows)
        if (key == row.key) return &row;
    return nullptr;
}

bool program_slot_accepts(ProgramSlotRow const& row, double value)
{
    if (!std::isfinite(value) || value < row.minimum || value > row.maximum) return false;
    return row.kind != SlotKind::integer || value == std::floor(value);
}

bool store_program_slot(VST_Plugin_Program& record, ProgramSlotRow const& row, double value)
{
    if (!program_slot_accepts(row, value)) return false;
    if (row.member.i != nullptr)
        record.*(row.member.i) = static_cast<std::int32_t>(value);
    else
        record.*(row.member.f) = static_cast<float>(value);
    return true;
}

double read_program_slot(VST_Plugin_Program const& record, ProgramSlotRow const& row)
{
    return row.member.i != nullptr ? static_cast<double>(record.*(row.member.i))
                                   : static_cast<double>(record.*(row.member.f));
}

std::string_view slot_kind_name(SlotKind kind)
{
    switch (kind) {
    case SlotKind::integer:
        return "whole number";
    case SlotKind::tempo:
        return "beats per minute";
    case SlotKind::unity:
        return "unity";
    }
    return "";
}

} // namespace corvella
