#pragma once

#include <cstddef>

namespace corvella {

// Version written into records this build stores; records with an older stamp are brought up to
// date by VST_Plugin_Program::check_and_upgrade_program.
inline constexpr int current_program_version = 2101;

// Number of program records in a bank.
inline constexpr int programs_per_bank = 48;

// Smallest buffer the record's text helpers (get_rate_hz_char, get_head_permit_char,
// get_head_tail_mix_char) may be given when the caller does not pass a size.
inline constexpr std::size_t program_text_min_size = 64;

// Byte size of each of the four file path slots, terminator included.
inline constexpr std::size_t program_path_size = 300;

} // namespace corvella
