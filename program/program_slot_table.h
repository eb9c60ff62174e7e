#pragma once

// The program slots that are settings but not host parameters: the delays' own tempi and note
// lengths, and the source, room, tail character, density and variant choices of the IR
// synthesis. One row per slot (key, member, kind, range), so that the tools that edit settings by
// key (the command-line renderer's --set, the editor) share one table and one range check.
//
// Threading: constant data; any thread.

#include "program/vst_plugin_program.h"

#include <span>
#include <string_view>

namespace corvella {

enum class SlotKind {
    integer, // a 32-bit integer slot: a whole number in the range
    tempo,   // beats per minute
    unity,   // a float slot holding a unity value
};

struct ProgramSlotRow {
    char const* key;
    ProgramSlot member;
    SlotKind kind;
    float minimum, maximum; // inclusive
};

std::span<ProgramSlotRow const> program_slot_table();

// The row of `key` (exact, case-sensitive); null for any other key, host parameters included.
ProgramSlotRow const* find_program_slot(std::string_view key);

// True when `value` may be stored in the row's slot: within its range, and a whole number for an
// integer slot.
bool program_slot_accepts(ProgramSlotRow const& row, double value);

// Stores `value` in `record`'s slot when the row accepts it; returns false (nothing stored) when not.
bool store_program_slot(VST_Plugin_Program& record, ProgramSlotRow const& row, double value);

// The slot's value in `record` (integers widened).
double read_program_slot(VST_Plugin_Program const& record, ProgramSlotRow const& row);

// "whole number", "beats per minute" or "unity": a slot's kind as the tools print it.
std::string_view slot_kind_name(SlotKind kind);

} // namespace corvella
