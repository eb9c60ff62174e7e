#pragma once

// Five-band equaliser cascades at twice the host rate: the master equaliser with its per-band LFO
// modulation of frequency (LFO2) and gain (LFO1), and the IR equalisers whose bands sweep their
// frequency and gain from start to end values while an impulse response is built.
//
// Threading: no locks of their own; the caller owns the bands and serialises their use.
// compute_5x_cascade and compute_coeffs_with_lfo_mod allocate nothing and may run on the audio thread.

#include "effects/biquad_filter_upsampling.h"

struct VST_Plugin_Program;

// Per-channel state the engine keeps beside each channel's cascade: the anti-image low-pass taps
// (b0..b5 then a0..a5) and a delay line. The cascade filters with the low-pass held by its first
// band, so this record is only carried through.
struct IIRState_32f {
    float taps[12] = {};
    float delay_line[10] = {};
};

// Filters `buffer` (frames base-rate samples) in place through the five bands with the 2x scheme,
// after advancing their LFOs by the block and applying the modulation (when any band has a
// modulation depth). channel, tables and state are not used. Null bands or buffer: nothing happens.
void compute_5x_cascade(float* buffer, int frames, int channel, float* tables, IIRState_32f* state,
                        biquad_filter_upsampling* band1, biquad_filter_upsampling* band2,
                        biquad_filter_upsampling* band3, biquad_filter_upsampling* band4,
                        biquad_filter_upsampling* band5, int rate);

// Advances the five bands' LFOs by one base sample and computes their modulated coefficients, for
// the editor's display of the master equaliser.
void compute_coeffs_with_lfo_mod(biquad_filter_upsampling* band1, biquad_filter_upsampling* band2,
                                 biquad_filter_upsampling* band3, biquad_filter_upsampling* band4,
                                 biquad_filter_upsampling* band5, int rate);

namespace corvella {

// Fills `state` with the anti-image low-pass taps and clears its delay line.
void init_cascade_state(IIRState_32f& state);

// One band's sweep of an IR equaliser, positions in samples of the impulse response.
struct ir_eq_band_sweep {
    int freq_start = 0;
    int freq_end = 0;
    int gain_start = 0;
    int gain_end = 0;
    float freq_shape = 0.0f; // above 0.1: exponential glide; otherwise linear
    float gain_shape = 0.0f; // above 0.1: raised-cosine; otherwise linear
};

// A sweep position from its unity value: (int)(u^2 x scale), scale being the IR length or the rate.
int ir_eq_sweep_position(float u, double scale);

// The frequency at t (0..1) of a sweep from `start` to `end` Hz.
float ir_eq_sweep_frequency(float start, float end, float t, float shape);
// The gain at t (0..1) of a sweep from `start` to `end` dB.
float ir_eq_sweep_gain(float start, float end, float t, float shape);

// Runs an IR equaliser over `channels` channels of `frames` samples in place. bands[c] are the
// five bands of channel c; the start values are the f0 and gain of channel 0's bands, the end
// values their f0 end and gain end. With `sweeps_on` false every band keeps its start values.
// Histories are cleared first; channel 0's coefficients are copied to the other channels' bands.
// Sets flush-to-zero and denormals-are-zero on the calling thread. Null pointers: nothing happens.
void process_ir_eq_sweeps(float* const* ir, int frames, int channels,
                          biquad_filter_upsampling* const (*bands)[5], ir_eq_band_sweep const (&sweeps)[5],
                          bool sweeps_on, int rate);

// Sets band `band` (0..4) of the post equaliser on both channels from the program's settings of
// post-equaliser band band + 1 (unity values) and computes its coefficients: the engine's
// update_master_filter_coeffs(band) calls this. LFO rates are in Hz; the caller maps the program's
// "lfo1_rate" and "lfo2_rate". Out-of-range band or null bands: nothing happens.
void update_master_filter_coeffs(VST_Plugin_Program const& program, int band, biquad_filter_upsampling* left,
                                 biquad_filter_upsampling* right, float sample_rate, float max_f0,
                                 float lfo1_rate_hz, float lfo2_rate_hz);

// update_master_filter_coeffs for bands 0 to 4; bands[c][b] is band b of channel c.
void update_master_filter_coeffs_all(VST_Plugin_Program const& program,
                                     biquad_filter_upsampling* const (*bands)[5], float sample_rate,
                                     float max_f0, float lfo1_rate_hz, float lfo2_rate_hz);

} // namespace corvella
