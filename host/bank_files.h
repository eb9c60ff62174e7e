#pragma once

// Bank files (".fxb": a 160-byte big-endian header and the 48-record bank image), the recent list
// of bank files, clearing a bank, the factory banks, and host preset files (".tfx"). Everything
// takes paths: the editor's dialogs supply them. Loading a bank file is DemoGain_Parameters'
// (custom data 8 and 9), which these files feed.

#include "program/vst_plugin_program.h"

#include <array>
#include <cstddef>
#include <string>

namespace corvella {

inline constexpr std::size_t bank_file_header_size = 160;
inline constexpr std::size_t tfx_file_size = 142714;
inline constexpr std::int32_t exported_format_stamp = 2101;

// The path a bank is saved under: `chosen` with ".fxb" appended unless its last four characters
// are ".fxb" in any case; empty when `chosen` is shorter than four characters.
std::string bank_file_save_path(std::string const& chosen);

// Makes program 0 current in all 48 records and stamps them 2101, as saving does, then returns the
// file's bytes (142,816).
std::string bank_file_bytes(VST_Plugin_Program* bank);

// Saves `bank` (48 records, stamped as bank_file_bytes says) at `path`, whole or not at all.
// False with `error` when it cannot be written.
bool save_bank_file(std::string const& path, VST_Plugin_Program* bank, std::string& error);

// Puts `path` at the top of the recent list ("PresetRecent0".."PresetRecent9"): the entries above
// its old place (or above the last, when it was not listed) move down one, skipping empty ones.
// A settings-store failure stops the update where it happened.
void add_recent_bank_file(std::string const& path);

// The ten user-defined bank slots ("UserFXB0".."UserFXB9"), numbered 1..10 in the menu. A slot's
// path counts only while it names an existing ".fxb" file; otherwise the slot is empty. Storing and
// clearing throw std::runtime_error when the settings cannot be written.
inline constexpr int user_bank_slots = 10;
std::string user_bank_slot_path(int n);       // n = 1..10; empty for an empty slot or a bad n
std::string user_bank_slot_label(int n);      // "%d: Empty" or "%d: <file name>"
void set_user_bank_slot(int n, std::string const& path);
void clear_user_bank_slot(int n);

// All 48 records the default record, program 0 current.
void clear_bank(VST_Plugin_Program* bank);

// The four factory banks: their menu entries and files in the Banks folder.
struct FactoryBank {
    char const* menu_entry;
    char const* file_name;
};
extern std::array<FactoryBank, 4> const factory_banks;
std::string factory_banks_folder(); // library_folder() + "Audio/Impulse Responses/Tarnwick/Corvella/Banks/"
std::string factory_bank_path(int index);

// Host preset files. tfx_bytes wraps a whole bank image; program_tfx_bytes a bank of 48 default
// records stamped 2101 with the program's first 2968 bytes in slot 0. `wet` sets master_mix to 1 in
// the file only.
std::string tfx_bytes(VST_Plugin_Program const* bank, bool wet);
std::string program_tfx_bytes(VST_Plugin_Program const& program, bool wet);
// The program name without trailing white space, plus ".tfx".
std::string tfx_file_name(VST_Plugin_Program const& program);

} // namespace corvella
