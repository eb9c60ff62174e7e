#pragma once

// The plug-in's saved state as DPF keys, in the order hosts restore them: the whole bank (the host
// chunk, base64-encoded), the two preset keys ("program": a slot to select; "program_record": one
// record to apply over the current program), then the four IR file paths of the current program.
// The bank comes first so that the paths land on the restored bank (where they already are), and
// the preset keys come before the paths so that an exported preset's paths find its record in place.
//
// Threading: constant data and pure functions; any thread.

#include "host/lv2_preset_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvella::plugin {

struct IrFileState {
    char const* key;
    int slot; // 1 or 2
    int side; // 0 = section A, 1 = section B
    int custom_data_id;
};

using corvella::bank_state_key;
using corvella::decode_base64;
using corvella::encode_base64;
using corvella::program_record_state_key;
using corvella::program_state_key;

// The IR file states, in custom-data order (ids 14 to 17).
inline constexpr std::array<IrFileState, 4> ir_file_states{{
    {ir_file_state_keys[0], 1, 0, 14},
    {ir_file_state_keys[1], 1, 1, 15},
    {ir_file_state_keys[2], 2, 0, 16},
    {ir_file_state_keys[3], 2, 1, 17},
}};

inline constexpr std::size_t first_ir_file_state = 3;
inline constexpr std::size_t state_count = first_ir_file_state + ir_file_states.size();

// The slot a "program" value names: decimal digits only, 0..47; nullopt for anything else.
std::optional<int> program_slot_of(std::string_view text);

// Puts `record` (one stored program record) in place of the current program of `chunk` (a bank
// image): everything but the current-program word, and record 0's lock slots stay the bank's, as
// they belong to the instance rather than to a program. False, changing nothing, when either size
// is wrong.
bool apply_program_record(std::vector<std::uint8_t>& chunk, std::vector<std::uint8_t> const& record);

} // namespace corvella::plugin
