#pragma once

// An equaliser band that runs at twice the host rate: each block is upsampled by zero insertion,
// filtered by the band, cleaned of its images by a fixed 5th-order low-pass and decimated back.
// At the doubled rate the bell and shelf shapes stay close to their analogue form near the top of
// the audio band. Five of these make up the master equaliser and each IR equaliser
// (effects/eq_cascade.h runs them as one cascade, with the master equaliser's LFO modulation).
//
// Threading: as biquad_filter, a band has no lock; its owner serialises every call. Filtering and
// modulation allocate nothing and may run on the audio thread.

#include "effects/biquad_filter.h"

class biquad_filter_upsampling : public biquad_filter {
public:
    // Anti-image low-pass: unity gain at 0 Hz, about 0.5 dB ripple up to the base Nyquist frequency
    // and about -21 dB at 0.3 of the doubled rate.
    static constexpr int anti_image_order = 5;
    static constexpr float anti_image_b[anti_image_order + 1] = {
        0.028173040598630905f, 0.14086520671844482f, 0.28173041343688965f,
        0.28173041343688965f,  0.14086520671844482f, 0.028173040598630905f};
    static constexpr float anti_image_a[anti_image_order + 1] = {1.0f,
                                                                 -0.9436643123626709f,
                                                                 1.4400171041488647f,
                                                                 -0.9628964066505432f,
                                                                 0.5300895571708679f,
                                                                 -0.1620086282491684f};

    // Defaults of biquad_filter: fs 1000 Hz (base rate 500 Hz), max f0 500 Hz, f0 250 Hz, 0 dB, Q 1,
    // "Peak". Throws std::runtime_error when the lookup tables cannot be allocated.
    biquad_filter_upsampling();
    ~biquad_filter_upsampling() override;

    // Base (host) rate; the coefficients are computed for twice that. A rate that is not positive
    // gives the default base rate of 500 Hz.
    void set_freq_fs(float rate) override;
    // At most fs / 2, which is the base rate.
    void set_freq_max_f0(float hz) override;
    float get_base_rate() const { return base_rate; }

    // Unity setters on the frequency taper r(u) = (10^((10^u - 1) / 9) - 1) / 9.
    void set_unity_range_freq_f0(float u);     // max(20, min(r max f0, base rate / 2))
    void set_unity_range_freq_f0_end(float u); // r max f0, or max f0 / 2 when not below max f0
    void set_unity_range_freq_mod(float u);    // depth min(r max f0, max f0) / 2; 20 Hz or less is 0
    // r max f0 without storing anything (r = 0.5 for u outside 0..1).
    float passive_convert_unity_range_freq_f0(float u) const;
    // The unity value of a frequency: log10(9 log10(9 hz / max f0 + 1) + 1).
    float query_unity_range_freq_f0(float hz) const;

    void compute_coeffs() override;
    // As biquad_filter::copy_settings, plus the base rate when `other` is an upsampling band.
    void copy_settings(biquad_filter* other) override;

    // This band alone with the 2x scheme, in place. The third argument is not used. Never allocates.
    void compute_filter_inplace(float* buffer, int count, int unused);
    // Clears the biquad history and the anti-image low-pass history.
    void clear_filter_buffers();

    // Centre frequency (Hz) and gain (dB) the coefficients were last computed for, LFO
    // modulation included; the editor shows them.
    float get_modulated_f0() const { return modulated() ? modulated_f0 : f0; }
    float get_modulated_gain_db() const { return modulated() ? modulated_gain_db : gain_db; }

    // Samples (at the doubled rate) into the current LFO1 (gain) and LFO2 (frequency) periods.
    int get_lfo1_counter() const { return lfo1_counter; }
    int get_lfo2_counter() const { return lfo2_counter; }

    // Advances both LFOs by `doubled_steps` samples of the doubled rate and, when the band has a
    // modulation depth, computes its coefficients for the modulated frequency and gain. `rate` is
    // the base rate; `sine` supplies the oscillator. Never allocates.
    void advance_lfos_and_modulate(int doubled_steps, int rate, math_lookup const& sine);

    // The 2x scheme through `band_count` bands in order (null entries and bands whose toggle is
    // not positive are skipped), using the anti-image low-pass of bands[0]. Never allocates.
    static void process_2x(float* buffer, int count, biquad_filter_upsampling* const* bands, int band_count);

private:
    float base_rate = 500.0f;
    bool modulated() const { return freq_mod != 0.0f || gain_db_mod != 0.0f; }
    float modulated_f0 = 250.0f;
    float modulated_gain_db = 0.0f;
    // The last five inputs and outputs of the anti-image low-pass; `lp_index` holds the newest.
    float lp_x[anti_image_order] = {};
    float lp_y[anti_image_order] = {};
    int lp_index = 0;
};
