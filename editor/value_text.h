#pragma once

// Texts of parameter values in their natural units, as the editor shows them under controls. Each
// formatter takes the unity value; the conversions follow the engine's own tapers.
//
// Threading: pure functions, any thread.

#include <string>

namespace corvella::editor {

enum class Unit {
    percent,      // 0 .. 100 %
    on_off,       // "Off" / "On"
    ir_gain_db,   // dual range -50 .. +50 dB around the centre
    master_db,    // dual range -30 .. +30 dB around the centre
    eq_gain_db,   // -20 .. +20 dB
    eq_q,         // 0.1 .. 10, geometric
    eq_freq,      // 20 Hz .. 22.05 kHz with the note name
    eq_mode,      // "Peak", "L. Cut" ...
    pan,          // balance: "L 40" .. "C" .. "R 40"
    width,        // stereo width in percent
    pre_delay_ms, // 0 .. 500 ms
    sts_delay_ms, // 0 .. 80 ms
    sts_gain_db,  // the Sim-TS side's level: -12 .. 0 dB
    sweep_ms,     // where an EQ sweep starts or ends along the response: u² s
    envelope,     // share of the response, in percent of its length (the stage time is u²)
    level,        // envelope level (sustain): 0 .. 100 %, shown as the stage times are
    length_factor,// length change: 0.5x .. 1.5x
    tail_seconds, // 0.05 .. 30 s
    chorus_delay_ms,
    chorus_mod_ms,
    chorus_rate_hz,
    delay_mod_ms,  // 10u ms
    delay_rate_hz, // 1000^u / 50 Hz
    lfo_rate_hz,   // 100^u / 10 Hz
    stacked_rate,
    stacked_mix,
    stacked_permit,
    topology,
    mix_law,    // 0 "Raised Centre" (equal power), above 0 "Flat Balance" (equal sum)
    mod_order,  // above 0 "Mod Pre-IR" (mixer before the convolvers), 0 "Mod Post-IR"
    chain,      // "Chain inactive" / "Chain IR1/IR2"
    phase_deg,  // 0 .. 360 degrees
    hpf,        // "HPF: %.1f kHz", "HPF: %d Hz"
};

std::string value_text(Unit unit, float unity);

// EQ frequency of a unity value (the taper of the IR and post equalisers at 22.05 kHz top).
float eq_frequency_hz(float unity);
// "A4 (440.0Hz)": the nearest note and the frequency.
std::string note_text(float hz);
// "A2 (110.0Hz) to C5 (523.3Hz)" for a range.
std::string note_range_text(float from_hz, float to_hz);

// Filter types in menu order, and the mode number each stands for.
inline constexpr char const* eq_mode_names[5] = {"Peak", "L. Cut", "L. Shelf", "H. Cut", "H. Shelf"};
int eq_mode_menu_position(float unity); // menu position of a stored mode value
float eq_mode_unity(int position);      // stored value of a menu position
// The bands of an equaliser: the lowest offers "Peak", "L. Cut", "L. Shelf", the highest "Peak",
// "H. Cut", "H. Shelf" (modes at 0, 0.5 and 1), the three between only "Peak".
inline constexpr char const* eq_lowest_mode_names[3] = {"Peak", "L. Cut", "L. Shelf"};
inline constexpr char const* eq_highest_mode_names[3] = {"Peak", "H. Cut", "H. Shelf"};
int eq_band_mode_menu_position(float unity);
float eq_band_mode_unity(int position);

inline constexpr char const* topology_names[4] = {"Parallel Stereo", "True Stereo", "Mono - Stereo", "Fusion IR"};
int topology_of(float unity);
float topology_unity(int topology);

} // namespace corvella::editor
