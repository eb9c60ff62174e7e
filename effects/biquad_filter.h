#pragma once

// One second-order equaliser band: low-pass ("H. Cut"), high-pass ("L. Cut"), low shelf, high
// shelf or peaking, with the audio-EQ cookbook coefficients. Settings are held in natural units
// (Hz, dB, Q) and map to and from the 0..1 unity values that parameters carry. The band also holds
// the modulation and sweep settings that biquad_filter_upsampling uses (LFO rates, depths, phases,
// sweep end points), because the editor reads them through this class.
//
// Threading: a band has no lock of its own; its owner serialises every call (settings, coefficient
// computation and filtering). compute_filter_inplace allocates nothing and may run on the audio
// thread.

#include "effects/math_lookup.h"

#include <memory>

// Modes of a band, as set_mode takes them.
enum biquad_mode : int {
    biquad_mode_high_cut = 0,  // "H. Cut", low-pass
    biquad_mode_low_cut = 1,   // "L. Cut", high-pass
    biquad_mode_low_shelf = 2, // "L. Shelf"
    biquad_mode_high_shelf = 3,
    biquad_mode_peak = 4
};

// Which modes set_unity_range_mode can select.
enum biquad_mode_restriction : int {
    biquad_restrict_full = 0,   // every mode
    biquad_restrict_lowest = 1, // "Peak", "L. Cut", "L. Shelf"
    biquad_restrict_middle = 2, // "Peak" only
    biquad_restrict_highest = 3 // "Peak", "H. Cut", "H. Shelf"
};

// A coefficient set: raw (a0 as computed) or normalised (everything divided by a0, a0 = 1).
struct biquad_coefficients {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a0 = 1.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

class biquad_filter {
public:
    // Defaults: Q 1, "Peak", f0 250 Hz, fs 1000 Hz, max f0 500 Hz, 0 dB, toggle 0 (off until the
    // owner sets it); coefficients computed for 0 dB at 250 Hz. Throws std::runtime_error when the
    // lookup tables cannot be allocated.
    biquad_filter();
    virtual ~biquad_filter();
    biquad_filter(biquad_filter const&) = delete;
    biquad_filter& operator=(biquad_filter const&) = delete;

    // Settings in natural units.
    void set_q(float q_value);               // 0..10, anything else 1.0
    void set_mode(int mode_value);           // 0..4, anything else 0
    void set_mode_restrict(int restriction); // stored unchanged
    virtual void set_freq_fs(float rate);    // positive, anything else 1000
    virtual void set_freq_max_f0(float hz);  // at most fs / 2
    void set_freq_f0(float hz);              // clamped to 20 .. max f0
    void set_freq_mod(float hz);             // min(hz, max f0) / 2; 20 Hz or less gives 0
    void set_gain_db(float db);              // clamped to -20..20
    void set_gain_db_mod(float db);          // |db| <= 20, anything else 0
    void set_lfo1_rate_hz(float hz) { lfo1_rate_hz = hz; }
    void set_lfo2_rate_hz(float hz) { lfo2_rate_hz = hz; }
    void set_toggle(float value) { toggle = value; }

    float get_q() const { return q; }
    int get_mode() const { return mode; }
    int get_mode_restrict() const { return mode_restrict; }
    float get_unity_mode() const { return unity_mode; }
    float get_freq_fs() const { return fs; }
    float get_freq_max_f0() const { return max_f0; }
    float get_freq_f0() const { return f0; }
    float get_freq_f0_end() const { return f0_end; }
    float get_freq_mod() const { return freq_mod; }
    float get_freq_mod_phase() const { return freq_mod_phase; }
    float get_gain_db() const { return gain_db; }
    float get_gain_db_end() const { return gain_db_end; }
    float get_gain_db_mod() const { return gain_db_mod; }
    float get_gain_db_mod_phase() const { return gain_db_mod_phase; }
    float get_lfo1_rate_hz() const { return lfo1_rate_hz; }
    float get_lfo2_rate_hz() const { return lfo2_rate_hz; }
    float get_toggle() const { return toggle; }
    // "H. Cut", "L. Cut", "L. Shelf", "H. Shelf", "Peak", or "Error" for another mode.
    char const* get_mode_text_ret() const;

    // Settings as unity values.
    void set_unity_range_gain_db(float u);     // 0 → -20 dB, 0.5 → 0 dB, 1 → +20 dB
    void set_unity_range_gain_db_end(float u); // the same taper, for the sweep's end gain
    float get_unity_range_gain_db() const;
    void set_unity_range_gain_db_mod(float u); // depth 20u dB
    float get_unity_range_gain_db_mod() const;
    void set_unity_range_gain_db_mod_phase(float u); // clamped to 0..1
    void set_unity_range_freq_mod_phase(float u);    // clamped to 0..1
    void set_unity_range_q(float u);                 // 0 → 0.1, 0.5 → 1, 1 → 10
    float get_unity_range_q() const;
    void set_unity_range_toggle(float u) { toggle = u; }
    // Stores u and selects a mode among those the restriction allows.
    void set_unity_range_mode(float u);
    float get_unity_range_freq_f0() const;
    float get_unity_range_freq_mod() const;

    // Coefficients from the stored gain and f0.
    virtual void compute_coeffs();
    // Coefficients for the given gain and f0; the stored settings stay.
    void compute_coeffs_specific(float gain, float f0_hz);
    // The same into the display set, leaving the derived values and the working set alone.
    void compute_coeffs_view(float gain, float f0_hz);
    // Direct Form I in place; skipped when the toggle is exactly 0. Never allocates.
    void compute_filter_inplace(float* buffer, int count);
    // Copies settings, derived values and both coefficient sets from `other`, but not its history,
    // LFO counters, unity mode value or mode restriction.
    virtual void copy_settings(biquad_filter* other);
    void clear_history() { x1 = x2 = y1 = y2 = 0.0f; }

    biquad_coefficients raw_coefficients() const { return raw; }
    biquad_coefficients normalised_coefficients() const { return norm; }
    biquad_coefficients raw_view_coefficients() const { return view_raw; }
    biquad_coefficients normalised_view_coefficients() const { return view_norm; }
    math_lookup const& lookup() const { return *lookup_tables; }

protected:
    // Settings.
    float q = 1.0f;                 // quality factor
    int mode = biquad_mode_peak;    // biquad_mode
    float unity_mode = 0.0f;        // last unity value given for the mode
    int mode_restrict = 0;          // biquad_mode_restriction
    float lfo1_rate_hz = 1.0f;      // gain modulation rate
    float lfo2_rate_hz = 1.0f;      // frequency modulation rate
    float f0 = 250.0f;              // centre or corner frequency, Hz
    float f0_end = 20.0f;           // frequency at the end of an IR sweep, Hz
    float freq_mod = 0.0f;          // peak deviation of f0, Hz
    float freq_mod_phase = 0.0f;    // LFO2 start phase, cycles
    float fs = 1000.0f;             // rate the coefficients are computed for, Hz
    float max_f0 = 500.0f;          // upper limit of f0, at most fs / 2
    float gain_db = 0.0f;           // -20..20
    float gain_db_end = 0.0f;       // gain at the end of an IR sweep, dB
    float gain_db_mod = 0.0f;       // peak deviation of the gain, dB
    float gain_db_mod_phase = 0.0f; // LFO1 start phase, cycles
    int lfo1_counter = 0;           // samples into the LFO1 period
    int lfo2_counter = 0;           // samples into the LFO2 period
    float toggle = 0.0f;            // >= 0.5 on for coefficients; exactly 0 skips filtering

    // Derived values of the last coefficient computation.
    float big_a = 1.0f; // 10^(gain / 40)
    float w0 = 0.0f;
    float sin_w0 = 0.0f;
    float cos_w0 = 1.0f;
    float alpha = 0.0f;
    biquad_coefficients raw;       // working set as computed
    biquad_coefficients norm;      // working set divided by a0
    biquad_coefficients view_raw;  // display set as computed
    biquad_coefficients view_norm; // display set divided by a0

    // Direct Form I history.
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;

    std::unique_ptr<math_lookup> lookup_tables; // sine table for the LFOs

    // Cookbook coefficients for (gain, f0) into `out_raw` and `out_norm`; with keep_derived, A, w0,
    // sin w0, cos w0 and alpha are stored as well.
    void cookbook(float gain, float f0_hz, biquad_coefficients& out_raw, biquad_coefficients& out_norm,
                  bool keep_derived);
};

// The gain taper on its own, for the IR display: (s + 1) / 2 with s the taper of 2u - 1.
float log_extend_low_unity_range_mid_pointed(float u);
// Its inverse.
float log_unextend_low_unity_range_mid_pointed(float v);
