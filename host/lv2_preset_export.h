#pragma once

// LV2 presets of the plug-in, and the text form of the state they share with its bindings.
//
// Two kinds of preset exist. The plug-in bundle's own list (presets.ttl) holds one preset per
// program slot that only selects that program of the bank in use, as the program selector does, so
// the list stays a few kilobytes although a saved session carries the whole bank. An exported
// preset carries one program of a bank file: the whole record, which the plug-in applies over its
// current program, the IR file paths, and the program's parameter values on the control ports (so
// that the host's own copy of the controls matches what the plug-in now holds).
//
// Threading: pure functions and file writes; any non-audio thread.

#include "program/vst_plugin_program.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvella {

// The plug-in's state keys. Sessions save the bank (and the four paths, which the bank already
// holds); "program" (a slot number) and "program_record" (one record in base64) are read only from
// presets and are saved empty.
inline constexpr char bank_state_key[] = "bank";
inline constexpr char program_state_key[] = "program";
inline constexpr char program_record_state_key[] = "program_record";
inline constexpr char const* ir_file_state_keys[4] = {"ir1_file_a", "ir1_file_b", "ir2_file_a", "ir2_file_b"};

// How the LV2 binding names a state key: host-readable keys (the file paths) below the plug-in's
// URI, the others below its private prefix.
std::string lv2_state_key_uri(char const* key, bool host_readable);

// The program selector's value for slot `slot` (0..47): the middle of the slot's step.
float selector_value_of_program(int slot);

// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
std::string encode_base64(std::uint8_t const* data, std::size_t size);
// Strict decoding: the text must be a whole number of 4-character groups of the alphabet, with
// padding only at the end. Anything else (a truncated text, a stray character) gives nullopt.
std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text);

// A Turtle string literal, quotes included, with quotes, backslashes and control characters
// escaped. Bytes of 0x80 and above pass through (Turtle files are UTF-8).
std::string turtle_string(std::string_view text);
// A file IRI for an absolute path: every byte outside A-Z a-z 0-9 - . _ ~ / is percent-encoded.
std::string file_iri(std::string_view path);

struct Lv2PresetState {
    std::string key_uri;
    std::string value;
    bool is_path = false; // written as a file IRI (the form hosts read back as a path)
};

struct Lv2Preset {
    std::string label;
    std::string file_name; // of its Turtle file in an exported bundle
    std::vector<std::pair<std::string, float>> ports; // control port symbol and value
    std::vector<Lv2PresetState> state;
};

// The Turtle statements of one preset, its subject written as `subject` (an IRI, either absolute
// or relative to the file).
std::string lv2_preset_turtle(Lv2Preset const& preset, std::string const& subject);

// Program `slot` of `bank` (48 records) as an exported preset. Its label is the program name (or
// "Program <slot>" for an unnamed one); its ports are every keyed parameter but the program
// selector, read with `slot` as the current program of `bank`.
Lv2Preset lv2_preset_of_program(VST_Plugin_Program const* bank, int slot);

// The plug-in bundle's presets.ttl: preset i ("<plug-in URI>#preset" + i + 1 in three digits)
// labelled names[i], selecting program i through the "program" key and the selector port.
std::string lv2_program_list_turtle(std::vector<std::string> const& names);

// "corvella-<bank file stem>.preset.lv2", or "corvella-<stem>-<slot, two digits>.preset.lv2" for
// one program; bytes of the stem outside A-Z a-z 0-9 - . _ become '_'.
std::string lv2_preset_bundle_name(std::filesystem::path const& bank_file, std::optional<int> slot);

// Writes a bundle of `presets` (manifest.ttl and each preset's file) as `bundle`: everything goes
// into a temporary folder beside it, which then takes the bundle's place in one rename (swapped
// with an existing bundle, which is then removed). False with `error`, leaving nothing behind,
// when it cannot be written.
bool write_lv2_preset_bundle(std::filesystem::path const& bundle, std::vector<Lv2Preset> const& presets,
                             std::string& error);

} // namespace corvella
