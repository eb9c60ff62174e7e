#pragma once

#include "program/vst_plugin_program.h"

#include <span>
#include <string_view>

// The automatable parameters as the host sees them: the master bypass, then one row per keyed
// setting in registration order. The rows are plain constant data; registration with the host and
// the change path read them, nothing writes them.
//
// Threading: every function here reads constant data only and may be called from any thread,
// the audio thread included (no allocation, no lock).

namespace corvella {

// How a parameter is shown and automated by the host.
enum class ParameterKind {
    continuous,       // float on a linear 0..1 taper, two-decimal number display, no unit
    on_off,           // boolean, binary taper, "Off" / "On"; travels as 0.0 or 1.0
    program_selector, // float on the linear 0..1 taper like continuous, but 48 steps
};

enum class ParameterTaper { linear, binary };

// Where the value of a key lives. Lock slots are read and written in record 0 of the bank
// whatever the current program is.
enum class ParameterStore {
    program,     // a slot of the current program
    lock_record, // a slot of record 0
    none,        // no slot (the program selector)
};

// Host presentation shared by all parameters of one kind.
struct ParameterStyle {
    ParameterTaper taper;
    float minimum;
    float maximum;
    int precision;        // decimals of the number display; unused for binary displays
    char const* off_text; // binary display texts, null for number displays
    char const* on_text;
    bool trailing_space; // number display: space between number and (empty) unit
    bool automatable;
    bool discrete; // host parameter type discrete (the master bypass only)
};

inline constexpr ParameterStyle continuous_style{
    ParameterTaper::linear, 0.0f, 1.0f, 2, nullptr, nullptr, false, true, false};
inline constexpr ParameterStyle on_off_style{
    ParameterTaper::binary, 0.0f, 1.0f, 0, "Off", "On", false, true, false};
inline constexpr ParameterStyle master_bypass_style{
    ParameterTaper::binary, 0.0f, 1.0f, 0, "bypass", "on", false, true, true};

inline constexpr int continuous_steps = 128;
inline constexpr int on_off_steps = 2;
inline constexpr int program_selector_steps = 48;

// Counts: the host lists the master bypass plus every keyed row.
inline constexpr int keyed_parameter_count = 366;
inline constexpr int host_parameter_count = keyed_parameter_count + 1;

// Algorithm-context fields: the master bypass owns field 0; keyed row i owns field 30 + i except
// the three post EQ band 2 gain rows, whose fields follow the record's band 2 order.
inline constexpr int master_bypass_field = 0;
inline constexpr int first_parameter_field = 30;
inline constexpr int last_parameter_field = first_parameter_field + keyed_parameter_count - 1;

// The master bypass has no key (its identifier comes from the host) and no program slot.
struct MasterBypassParameter {
    char const* name;
    int field;
    float default_value;
    int steps;
    ParameterStyle const* style;
};

inline constexpr MasterBypassParameter master_bypass_parameter{"Master Bypass", master_bypass_field, 0.0f,
                                                               on_off_steps, &master_bypass_style};

struct ParameterRow {
    int index;        // registration index, 0..365
    char const* key;  // identifier towards the host and key of the change path
    char const* name; // host display name: editor number, colon, short text
    int field;        // algorithm-context field the parameter's packet is bound to
    ParameterKind kind;
    int steps;
    ParameterStore store;
    float VST_Plugin_Program::*slot; // null when store is none
    float default_value;             // the slot's value in a freshly reset program
};

// All keyed rows in registration order; row i has index i.
std::span<ParameterRow const> parameter_table();

// Row by registration index; null when index is outside 0..365.
ParameterRow const* parameter_at(int index);

// Row by key (exact, case-sensitive); null for an unknown key, request keys and non-host slots
// included. Binary search over an index sorted at compile time.
ParameterRow const* find_parameter(std::string_view key);

// Row bound to an algorithm-context field; null outside 30..395.
ParameterRow const* parameter_for_field(int field);

ParameterStyle const& parameter_style(ParameterKind kind);

// The editor number that starts a row's name: the editor's controls 40 and 76 (the tail variants)
// have no host parameter, so names skip those numbers. -1 outside 0..365.
int parameter_name_number(int index);

} // namespace corvella
