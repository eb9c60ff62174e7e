#pragma once

// The plug-in's saved state as DPF keys: the whole bank (the host chunk, base64-encoded) and the
// four IR file paths of the current program. The bank comes first, so that a host restoring the
// keys in order sets the paths on top of the restored bank.
//
// Threading: constant data and pure functions; any thread.

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

inline constexpr char const bank_state_key[] = "bank";

// The IR file states, in custom-data order (ids 14 to 17).
inline constexpr std::array<IrFileState, 4> ir_file_states{{
    {"ir1_file_a", 1, 0, 14},
    {"ir1_file_b", 1, 1, 15},
    {"ir2_file_a", 2, 0, 16},
    {"ir2_file_b", 2, 1, 17},
}};

inline constexpr std::size_t state_count = 1 + ir_file_states.size();

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string encode_base64(std::uint8_t const* data, std::size_t size);

// Strict decoding: the text must be a whole number of 4-character groups of the alphabet, with
// padding only at the end. Anything else (a truncated text, a stray character) gives nullopt.
std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text);

} // namespace corvella::plugin
