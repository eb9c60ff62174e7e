#pragma once

// The settings of one IR slot (IR1 or IR2) gathered from a program record under slot-neutral
// names, so that one build routine serves both slots. Values are copied: a settings record taken
// from a private copy of the program stays valid whatever happens to the bank afterwards.
//
// Threading: plain data; the caller owns the program record it reads from.

#include <cstdint>
#include <string>

struct VST_Plugin_Program;

namespace corvella {

struct ir_eq_band_settings {
    float toggle, mode, freq, gain, q;
    float freq_to, freq_to_start, freq_to_end;
    float gain_to, gain_to_start, gain_to_end;
    float freq_mod_shape, gain_mod_shape;
};

struct ir_slot_settings {
    float toggle;
    float topology;
    float user_resample_factor;
    float crop_from_start, crop_from_end;
    float reverse;
    float pre_delay;
    float adshr_a, adshr_d, adshr_s, adshr_h, adshr_r;
    float adshr_a_alpha, adshr_d_alpha, adshr_r_alpha;
    float adshr_a_alpha_inv, adshr_d_alpha_inv, adshr_r_alpha_inv;
    float width;
    float normalise;
    float flt_master_toggle;
    ir_eq_band_settings bands[5];
    float sts_toggle, sts_relative_gain, sts_high_pass_freq, sts_high_pass_toggle, sts_pre_delay;
    float additive_noise_wet, additive_noise_dry, additive_noise_release;
    float er_size, er_diffusion, er_distance, er_position, er_separation, er_depth;
    std::int32_t er_type;
    float tail_length, tail_diffusion, tail_variant, tail_diffuse_length;
    std::int32_t tail_character, tail_density;
    float pitch_split_point, pitch_section1_toggle, pitch_section2_toggle;
    float stacked_head_tail_mix, stacked_head_permit_mod;
    std::int32_t source_type;
    std::string file_a, file_b;
};

// The settings of slot 1 or 2 (any other slot reads IR1's).
ir_slot_settings ir_slot_settings_of(VST_Plugin_Program const& program, int slot);

} // namespace corvella
