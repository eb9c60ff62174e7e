#pragma once

// Values that enter a record from outside (a state chunk, custom data, a bank or preset file)
// are brought into their ranges before any consumer sees them: a damaged record must never make
// the signal path output NaN or a blast.

#include "program/vst_plugin_program.h"

#include <cstddef>

namespace corvella {

// Tempo slots hold beats per minute, not unity values.
inline constexpr float tempo_min_bpm = 30.0f;
inline constexpr float tempo_max_bpm = 200.0f;

// Every float slot: a value that is not finite takes the slot's default; the rest are clamped to
// 0..1 (tempo slots to 30..200 BPM). Integer slots with a meaning are clamped to it (room 0..9,
// tail character (tint) 0..12, density 0..6, source type 0..2, note numerator 1..63 and denominator
// 1..64, current program 0..47). Texts are terminated. Reserved slots, the host's integers and the
// version stamp are left as they are. Returns the number of slots changed.
int sanitise_program_values(VST_Plugin_Program& program);

// True for the byte offset of one of the record's 32-bit integer slots with a meaning.
bool is_integer_slot(std::size_t offset);

} // namespace corvella
