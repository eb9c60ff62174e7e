#include "program/vst_plugin_program.h"

#include "platform/settings_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <type_traits>

namespace {

using P = VST_Plugin_Program;
using corvella::EffectBlock;
using corvella::ProgramSlot;
using PathMember = char (P::*)[corvella::program_path_size];

// ---------------------------------------------------------------------------------------------
// Default column of the record layout, in record order. reset() applies it; every other reset
// copies slots from a record built by reset(), so defaults live here only.

struct SlotValue {
    ProgramSlot slot;
    float f = 0.0f;
    std::int32_t i = 0;

    constexpr SlotValue(float P::*p, float v) : slot(p), f(v) {}
    constexpr SlotValue(std::int32_t P::*p, std::int32_t v) : slot(p), i(v) {}
};

// clang-format off
constexpr SlotValue kDefaults[] = {
    {&P::master_gain, 0.5f}, {&P::master_mix, 1.0f}, {&P::master_ir1_ir2_mix, 0.5f},
    {&P::master_ir1_ir2_mix_mod, 0.0f},

    {&P::ir1_toggle, 1.0f}, {&P::ir1_gain, 0.3f}, {&P::ir1_balance, 0.5f},
    {&P::ir1_user_resample_factor, 0.5f}, {&P::ir1_crop_from_start, 0.0f}, {&P::ir1_crop_from_end, 1.0f},
    {&P::ir1_pre_delay, 0.0f},
    {&P::ir1_adshr_a, 0.0f}, {&P::ir1_adshr_d, 0.0f}, {&P::ir1_adshr_s, 1.0f}, {&P::ir1_adshr_h, 1.0f},
    {&P::ir1_adshr_r, 0.0f},
    {&P::ir2_toggle, 0.0f}, {&P::ir2_gain, 0.3f}, {&P::ir2_balance, 0.5f},
    {&P::ir2_user_resample_factor, 0.5f}, {&P::ir2_crop_from_start, 0.0f}, {&P::ir2_crop_from_end, 1.0f},
    {&P::ir2_pre_delay, 0.0f},
    {&P::ir2_adshr_a, 0.0f}, {&P::ir2_adshr_d, 0.0f}, {&P::ir2_adshr_s, 1.0f}, {&P::ir2_adshr_h, 1.0f},
    {&P::ir2_adshr_r, 0.0f},

    {&P::ir1_flt_master_toggle, 0.0f},
    {&P::ir1_flt1_toggle, 0.0f}, {&P::ir1_flt1_mode, 0.0f}, {&P::ir1_flt1_freq, 0.2f},
    {&P::ir1_flt1_gain, 0.5f}, {&P::ir1_flt1_q, 0.5f},
    {&P::ir1_flt2_toggle, 0.0f}, {&P::ir1_flt2_mode, 0.0f}, {&P::ir1_flt2_freq, 0.4f},
    {&P::ir1_flt2_gain, 0.5f}, {&P::ir1_flt2_q, 0.5f},
    {&P::ir1_flt3_toggle, 0.0f}, {&P::ir1_flt3_mode, 0.0f}, {&P::ir1_flt3_freq, 0.6f},
    {&P::ir1_flt3_gain, 0.5f}, {&P::ir1_flt3_q, 0.5f},
    {&P::ir1_flt4_toggle, 0.0f}, {&P::ir1_flt4_mode, 0.0f}, {&P::ir1_flt4_freq, 0.8f},
    {&P::ir1_flt4_gain, 0.5f}, {&P::ir1_flt4_q, 0.5f},
    {&P::ir1_flt5_toggle, 0.0f}, {&P::ir1_flt5_mode, 0.0f}, {&P::ir1_flt5_freq, 1.0f},
    {&P::ir1_flt5_gain, 0.5f}, {&P::ir1_flt5_q, 0.5f},
    {&P::ir2_flt_master_toggle, 0.0f},
    {&P::ir2_flt1_toggle, 0.0f}, {&P::ir2_flt1_mode, 0.0f}, {&P::ir2_flt1_freq, 0.2f},
    {&P::ir2_flt1_gain, 0.5f}, {&P::ir2_flt1_q, 0.5f},
    {&P::ir2_flt2_toggle, 0.0f}, {&P::ir2_flt2_mode, 0.0f}, {&P::ir2_flt2_freq, 0.4f},
    {&P::ir2_flt2_gain, 0.5f}, {&P::ir2_flt2_q, 0.5f},
    {&P::ir2_flt3_toggle, 0.0f}, {&P::ir2_flt3_mode, 0.0f}, {&P::ir2_flt3_freq, 0.6f},
    {&P::ir2_flt3_gain, 0.5f}, {&P::ir2_flt3_q, 0.5f},
    {&P::ir2_flt4_toggle, 0.0f}, {&P::ir2_flt4_mode, 0.0f}, {&P::ir2_flt4_freq, 0.8f},
    {&P::ir2_flt4_gain, 0.5f}, {&P::ir2_flt4_q, 0.5f},
    {&P::ir2_flt5_toggle, 0.0f}, {&P::ir2_flt5_mode, 0.0f}, {&P::ir2_flt5_freq, 1.0f},
    {&P::ir2_flt5_gain, 0.5f}, {&P::ir2_flt5_q, 0.5f},

    {&P::flt_master_toggle, 0.0f},
    {&P::flt1_toggle, 0.0f}, {&P::flt1_mode, 0.0f}, {&P::flt1_freq, 0.2f}, {&P::flt1_freq_mod, 0.0f},
    {&P::flt1_freq_mod_phase, 0.0f},
    {&P::flt1_gain, 0.5f}, {&P::flt1_gain_mod, 0.0f}, {&P::flt1_gain_mod_phase, 0.0f}, {&P::flt1_q, 0.5f},
    {&P::flt2_toggle, 0.0f}, {&P::flt2_mode, 0.0f}, {&P::flt2_freq, 0.4f}, {&P::flt2_freq_mod, 0.0f},
    {&P::flt2_freq_mod_phase, 0.0f},
    {&P::flt2_gain_mod, 0.0f}, {&P::flt2_gain_mod_phase, 0.0f}, {&P::flt2_gain, 0.5f}, {&P::flt2_q, 0.5f},
    {&P::flt3_toggle, 0.0f}, {&P::flt3_mode, 0.0f}, {&P::flt3_freq, 0.6f}, {&P::flt3_freq_mod, 0.0f},
    {&P::flt3_freq_mod_phase, 0.0f},
    {&P::flt3_gain, 0.5f}, {&P::flt3_gain_mod, 0.0f}, {&P::flt3_gain_mod_phase, 0.0f}, {&P::flt3_q, 0.5f},
    {&P::flt4_toggle, 0.0f}, {&P::flt4_mode, 0.0f}, {&P::flt4_freq, 0.8f}, {&P::flt4_freq_mod, 0.0f},
    {&P::flt4_freq_mod_phase, 0.0f},
    {&P::flt4_gain, 0.5f}, {&P::flt4_gain_mod, 0.0f}, {&P::flt4_gain_mod_phase, 0.0f}, {&P::flt4_q, 0.5f},
    {&P::flt5_toggle, 0.0f}, {&P::flt5_mode, 0.0f}, {&P::flt5_freq, 1.0f}, {&P::flt5_freq_mod, 0.0f},
    {&P::flt5_freq_mod_phase, 0.0f},
    {&P::flt5_gain, 0.5f}, {&P::flt5_gain_mod, 0.0f}, {&P::flt5_gain_mod_phase, 0.0f}, {&P::flt5_q, 0.5f},

    {&P::chorus_master_feedback, 0.25f}, {&P::chorus_master_width, 0.75f}, {&P::chorus_master_dry, 1.0f},
    {&P::chorus_master_wet, 0.8f}, {&P::chorus_master_delay_ms, 0.5f}, {&P::chorus_master_delay_mod_ms, 0.5f},
    {&P::chorus_master_delay_mod_rate_hz, 0.5f}, {&P::chorus_master_toggle, 0.0f},

    {&P::lfo1_rate, 0.125f}, {&P::lfo2_rate, 0.125f}, {&P::lfo3_rate, 0.125f},
    {&P::ir1_normalise, 1.0f}, {&P::ir2_normalise, 1.0f}, {&P::ir1_reverse, 0.0f}, {&P::ir2_reverse, 0.0f},
    {&P::ir1_topology, 0.0f}, {&P::ir2_topology, 0.0f}, {&P::master_wet_lock_ignore, 0.0f},

    {&P::chorus_ir1_feedback, 0.25f}, {&P::chorus_ir1_width, 0.75f}, {&P::chorus_ir1_dry, 1.0f},
    {&P::chorus_ir1_wet, 0.8f}, {&P::chorus_ir1_delay_ms, 0.5f}, {&P::chorus_ir1_delay_mod_ms, 0.5f},
    {&P::chorus_ir1_delay_mod_rate_hz, 0.5f}, {&P::chorus_ir1_toggle, 0.0f},
    {&P::chorus_ir2_feedback, 0.25f}, {&P::chorus_ir2_width, 0.75f}, {&P::chorus_ir2_dry, 1.0f},
    {&P::chorus_ir2_wet, 0.8f}, {&P::chorus_ir2_delay_ms, 0.5f}, {&P::chorus_ir2_delay_mod_ms, 0.5f},
    {&P::chorus_ir2_delay_mod_rate_hz, 0.5f}, {&P::chorus_ir2_toggle, 0.0f},

    {&P::ir1_balance_mod, 0.0f}, {&P::ir1_balance_mod_phase, 0.0f},
    {&P::ir2_balance_mod, 0.0f}, {&P::ir2_balance_mod_phase, 0.0f},
    {&P::master_stereo_mono, 0.0f}, {&P::ir1_stereo_mono, 0.0f}, {&P::ir2_stereo_mono, 0.0f},
    {&P::ir1_ir2_chain, 0.0f},

    {&P::ir1_adshr_a_alpha, 0.0f}, {&P::ir1_adshr_d_alpha, 0.0f}, {&P::ir1_adshr_r_alpha, 0.0f},
    {&P::ir1_adshr_a_alpha_inv, 0.0f}, {&P::ir1_adshr_d_alpha_inv, 0.0f}, {&P::ir1_adshr_r_alpha_inv, 0.0f},
    {&P::ir2_adshr_a_alpha, 0.0f}, {&P::ir2_adshr_d_alpha, 0.0f}, {&P::ir2_adshr_r_alpha, 0.0f},
    {&P::ir2_adshr_a_alpha_inv, 0.0f}, {&P::ir2_adshr_d_alpha_inv, 0.0f}, {&P::ir2_adshr_r_alpha_inv, 0.0f},

    {&P::ir1_flt1_freq_to, 0.0f}, {&P::ir1_flt1_freq_to_start, 0.0f}, {&P::ir1_flt1_freq_to_end, 1.0f},
    {&P::ir1_flt1_gain_to, 0.0f}, {&P::ir1_flt1_gain_to_start, 0.0f}, {&P::ir1_flt1_gain_to_end, 1.0f},
    {&P::ir1_flt2_freq_to, 0.0f}, {&P::ir1_flt2_freq_to_start, 0.0f}, {&P::ir1_flt2_freq_to_end, 1.0f},
    {&P::ir1_flt2_gain_to, 0.0f}, {&P::ir1_flt2_gain_to_start, 0.0f}, {&P::ir1_flt2_gain_to_end, 1.0f},
    {&P::ir1_flt3_freq_to, 0.0f}, {&P::ir1_flt3_freq_to_start, 0.0f}, {&P::ir1_flt3_freq_to_end, 1.0f},
    {&P::ir1_flt3_gain_to, 0.0f}, {&P::ir1_flt3_gain_to_start, 0.0f}, {&P::ir1_flt3_gain_to_end, 1.0f},
    {&P::ir1_flt4_freq_to, 0.0f}, {&P::ir1_flt4_freq_to_start, 0.0f}, {&P::ir1_flt4_freq_to_end, 1.0f},
    {&P::ir1_flt4_gain_to, 0.0f}, {&P::ir1_flt4_gain_to_start, 0.0f}, {&P::ir1_flt4_gain_to_end, 1.0f},
    {&P::ir1_flt5_freq_to, 0.0f}, {&P::ir1_flt5_freq_to_start, 0.0f}, {&P::ir1_flt5_freq_to_end, 1.0f},
    {&P::ir1_flt5_gain_to, 0.0f}, {&P::ir1_flt5_gain_to_start, 0.0f}, {&P::ir1_flt5_gain_to_end, 1.0f},
    {&P::ir2_flt1_freq_to, 0.0f}, {&P::ir2_flt1_freq_to_start, 0.0f}, {&P::ir2_flt1_freq_to_end, 1.0f},
    {&P::ir2_flt1_gain_to, 0.0f}, {&P::ir2_flt1_gain_to_start, 0.0f}, {&P::ir2_flt1_gain_to_end, 1.0f},
    {&P::ir2_flt2_freq_to, 0.0f}, {&P::ir2_flt2_freq_to_start, 0.0f}, {&P::ir2_flt2_freq_to_end, 1.0f},
    {&P::ir2_flt2_gain_to, 0.0f}, {&P::ir2_flt2_gain_to_start, 0.0f}, {&P::ir2_flt2_gain_to_end, 1.0f},
    {&P::ir2_flt3_freq_to, 0.0f}, {&P::ir2_flt3_freq_to_start, 0.0f}, {&P::ir2_flt3_freq_to_end, 1.0f},
    {&P::ir2_flt3_gain_to, 0.0f}, {&P::ir2_flt3_gain_to_start, 0.0f}, {&P::ir2_flt3_gain_to_end, 1.0f},
    {&P::ir2_flt4_freq_to, 0.0f}, {&P::ir2_flt4_freq_to_start, 0.0f}, {&P::ir2_flt4_freq_to_end, 1.0f},
    {&P::ir2_flt4_gain_to, 0.0f}, {&P::ir2_flt4_gain_to_start, 0.0f}, {&P::ir2_flt4_gain_to_end, 1.0f},
    {&P::ir2_flt5_freq_to, 0.0f}, {&P::ir2_flt5_freq_to_start, 0.0f}, {&P::ir2_flt5_freq_to_end, 1.0f},

    {&P::master_ir1_ir2_mix_law, 1.0f},

    {&P::ir1_sts_toggle, 0.0f}, {&P::ir1_sts_relative_gain, 0.71f}, {&P::ir1_sts_high_pass_freq, 0.05f},
    {&P::ir1_sts_high_pass_toggle, 1.0f}, {&P::ir1_sts_pre_delay, 0.3f},
    {&P::ir2_sts_toggle, 0.0f}, {&P::ir2_sts_relative_gain, 0.71f}, {&P::ir2_sts_high_pass_freq, 0.05f},
    {&P::ir2_sts_high_pass_toggle, 1.0f}, {&P::ir2_sts_pre_delay, 0.3f},
    {&P::master_mixer_modulation_order, 1.0f},
    {&P::ir1_cross_channel, 0.0f}, {&P::ir2_cross_channel, 0.0f},

    {&P::ir1_flt1_freq_mod_shape, 0.0f}, {&P::ir1_flt2_freq_mod_shape, 0.0f},
    {&P::ir1_flt3_freq_mod_shape, 0.0f},
    {&P::ir1_flt4_freq_mod_shape, 0.0f}, {&P::ir1_flt5_freq_mod_shape, 0.0f},
    {&P::ir2_flt1_freq_mod_shape, 0.0f}, {&P::ir2_flt2_freq_mod_shape, 0.0f},
    {&P::ir2_flt3_freq_mod_shape, 0.0f},
    {&P::ir2_flt4_freq_mod_shape, 0.0f}, {&P::ir2_flt5_freq_mod_shape, 0.0f},
    {&P::ir1_flt1_gain_mod_shape, 0.0f}, {&P::ir1_flt2_gain_mod_shape, 0.0f},
    {&P::ir1_flt3_gain_mod_shape, 0.0f},
    {&P::ir1_flt4_gain_mod_shape, 0.0f}, {&P::ir1_flt5_gain_mod_shape, 0.0f},
    {&P::ir2_flt1_gain_mod_shape, 0.0f}, {&P::ir2_flt2_gain_mod_shape, 0.0f},
    {&P::ir2_flt3_gain_mod_shape, 0.0f},
    {&P::ir2_flt4_gain_mod_shape, 0.0f}, {&P::ir2_flt5_gain_mod_shape, 0.0f},

    {&P::host_data_1, 0}, {&P::host_data_2, -1}, {&P::host_data_3, 0}, {&P::host_data_4, -1},

    {&P::master_mix_lock_status, 0.0f}, {&P::master_mix_locked_value, 1.0f},
    {&P::master_gain_lock_status, 0.0f}, {&P::master_gain_locked_value, 0.5f},
    {&P::ir1_width, 0.5f}, {&P::ir2_width, 0.5f},

    {&P::ir1_er_size, 0.5f}, {&P::ir1_er_diffusion, 0.5f}, {&P::ir1_er_distance, 0.5f},
    {&P::ir1_er_position, 0.5f}, {&P::ir1_er_separation, 0.5f}, {&P::ir1_er_type, 0},
    {&P::ir1_er_depth, 0.2f},
    {&P::ir2_er_size, 0.5f}, {&P::ir2_er_diffusion, 0.5f}, {&P::ir2_er_distance, 0.5f},
    {&P::ir2_er_position, 0.5f}, {&P::ir2_er_separation, 0.5f}, {&P::ir2_er_type, 0},
    {&P::ir2_er_depth, 0.2f},

    {&P::ir1_delay_dry, 1.0f},
    {&P::ir1_delay_l_toggle, 0.0f}, {&P::ir1_delay_l_tempo, 120.0f}, {&P::ir1_delay_l_delay_numer, 6},
    {&P::ir1_delay_l_delay_denom, 16}, {&P::ir1_delay_l_delay_mod, 0.09f},
    {&P::ir1_delay_l_delay_mod_rate, 0.32f},
    {&P::ir1_delay_l_feedback, 0.0f}, {&P::ir1_delay_l_feedback_opposite, 0.4f}, {&P::ir1_delay_l_wet, 0.71f},
    {&P::ir2_flt5_gain_to, 0.0f}, {&P::ir2_flt5_gain_to_start, 0.0f}, {&P::ir2_flt5_gain_to_end, 1.0f},
    {&P::ir1_delay_r_toggle, 0.0f}, {&P::ir1_delay_r_tempo, 120.0f}, {&P::ir1_delay_r_delay_numer, 4},
    {&P::ir1_delay_r_delay_denom, 16}, {&P::ir1_delay_r_delay_mod, 0.18f},
    {&P::ir1_delay_r_delay_mod_rate, 0.29f},
    {&P::ir1_delay_r_feedback, 0.0f}, {&P::ir1_delay_r_feedback_opposite, 0.45f},
    {&P::ir1_delay_r_wet, 0.71f},

    {&P::ir2_delay_dry, 1.0f},
    {&P::ir2_delay_l_toggle, 0.0f}, {&P::ir2_delay_l_tempo, 120.0f}, {&P::ir2_delay_l_delay_numer, 7},
    {&P::ir2_delay_l_delay_denom, 16}, {&P::ir2_delay_l_delay_mod, 0.15f},
    {&P::ir2_delay_l_delay_mod_rate, 0.42f},
    {&P::ir2_delay_l_feedback, 0.0f}, {&P::ir2_delay_l_feedback_opposite, 0.4f}, {&P::ir2_delay_l_wet, 0.71f},
    {&P::ir2_delay_r_toggle, 0.0f}, {&P::ir2_delay_r_tempo, 120.0f}, {&P::ir2_delay_r_delay_numer, 12},

    {&P::ir1_tail_length, 0.36f}, {&P::ir1_tail_character, 0}, {&P::ir1_tail_diffusion, 0.39f},
    {&P::ir1_tail_density, 0}, {&P::ir1_tail_variant, 0.0f}, {&P::ir1_tail_diffuse_length, 1.0f},
    {&P::ir2_tail_diffusion, 0.39f}, {&P::ir2_tail_length, 0.36f}, {&P::ir2_tail_character, 0},
    {&P::ir2_tail_density, 0}, {&P::ir2_tail_variant, 0.0f}, {&P::ir2_tail_diffuse_length, 1.0f},

    {&P::ir1_additive_noise_wet, 0.0f}, {&P::ir2_additive_noise_wet, 0.0f},
    {&P::ir1_additive_noise_dry, 1.0f}, {&P::ir2_additive_noise_dry, 1.0f},
    {&P::ir1_additive_noise_release, 0.5f}, {&P::ir2_additive_noise_release, 0.5f},
    {&P::ir1_additive_noise_spare, 0.0f}, {&P::ir2_additive_noise_spare, 0.0f},

    {&P::pitch_mod_ir1_split_point, 0.1f},
    {&P::pitch_mod_ir1_section1_toggle, 0.0f}, {&P::pitch_mod_ir1_section1_mod_rate, 0.2f},
    {&P::pitch_mod_ir1_section1_mod_depth, 0.2f},
    {&P::pitch_mod_ir1_section2_toggle, 0.0f}, {&P::pitch_mod_ir1_section2_mod_rate, 0.5f},
    {&P::pitch_mod_ir1_section2_mod_depth, 0.5f},
    {&P::pitch_mod_ir2_split_point, 0.1f},
    {&P::pitch_mod_ir2_section1_toggle, 0.0f}, {&P::pitch_mod_ir2_section1_mod_rate, 0.2f},
    {&P::pitch_mod_ir2_section1_mod_depth, 0.2f},
    {&P::pitch_mod_ir2_section2_toggle, 0.0f}, {&P::pitch_mod_ir2_section2_mod_rate, 0.5f},
    {&P::pitch_mod_ir2_section2_mod_depth, 0.5f},

    {&P::ir1_stacked_rate, 0.5f}, {&P::ir1_stacked_head_tail_mix, 0.5f}, {&P::ir1_stacked_depth, 1.0f},
    {&P::ir1_stacked_head_permit_mod, 1.0f},
    {&P::ir2_stacked_rate, 0.5f}, {&P::ir2_stacked_head_tail_mix, 0.5f}, {&P::ir2_stacked_depth, 1.0f},
    {&P::ir2_stacked_head_permit_mod, 1.0f},

    {&P::ir2_delay_r_delay_denom, 16}, {&P::ir2_delay_r_delay_mod, 0.15f},
    {&P::ir2_delay_r_delay_mod_rate, 0.32f},
    {&P::ir2_delay_r_feedback, 0.0f}, {&P::ir2_delay_r_feedback_opposite, 0.45f},
    {&P::ir2_delay_r_wet, 0.71f},

    {&P::master_delay_dry, 1.0f},
    {&P::master_delay_l_toggle, 0.0f}, {&P::master_delay_l_tempo, 120.0f},
    {&P::master_delay_l_delay_numer, 3},
    {&P::master_delay_l_delay_denom, 16}, {&P::master_delay_l_delay_mod, 0.05f},
    {&P::master_delay_l_delay_mod_rate, 0.4f},
    {&P::master_delay_l_feedback, 0.0f}, {&P::master_delay_l_feedback_opposite, 0.4f},
    {&P::master_delay_l_wet, 0.71f},
    {&P::master_delay_r_toggle, 0.0f}, {&P::master_delay_r_tempo, 120.0f},
    {&P::master_delay_r_delay_numer, 5},
    {&P::master_delay_r_delay_denom, 16}, {&P::master_delay_r_delay_mod, 0.1f},
    {&P::master_delay_r_delay_mod_rate, 0.3f},
    {&P::master_delay_r_feedback, 0.0f}, {&P::master_delay_r_feedback_opposite, 0.45f},
    {&P::master_delay_r_wet, 0.71f},

    {&P::master_delay_l_tempo_lock, 1.0f}, {&P::master_delay_r_tempo_lock, 1.0f},
    {&P::ir1_delay_l_tempo_lock, 1.0f}, {&P::ir1_delay_r_tempo_lock, 1.0f},
    {&P::ir2_delay_l_tempo_lock, 1.0f}, {&P::ir2_delay_r_tempo_lock, 1.0f},

    {&P::ir1_source_type, 0}, {&P::ir2_source_type, 0},
};

// What reset_mixer() stores. The mix knobs are centred here, so master_mix differs from its
// record default.
constexpr SlotValue kMixerResetValues[] = {
    {&P::master_gain, 0.5f}, {&P::master_mix, 0.5f}, {&P::master_ir1_ir2_mix, 0.5f},
    {&P::master_ir1_ir2_mix_mod, 0.0f},
    {&P::ir1_gain, 0.3f}, {&P::ir2_gain, 0.3f}, {&P::ir1_balance, 0.5f}, {&P::ir2_balance, 0.5f},
    {&P::lfo3_rate, 0.125f},
    {&P::master_wet_lock_ignore, 0.0f},
    {&P::ir1_balance_mod, 0.0f}, {&P::ir1_balance_mod_phase, 0.0f},
    {&P::ir2_balance_mod, 0.0f}, {&P::ir2_balance_mod_phase, 0.0f},
    {&P::master_stereo_mono, 0.0f}, {&P::ir1_stereo_mono, 0.0f}, {&P::ir2_stereo_mono, 0.0f},
    {&P::ir1_ir2_chain, 0.0f},
    {&P::master_ir1_ir2_mix_law, 1.0f},
    {&P::master_mixer_modulation_order, 1.0f},
};

// ---------------------------------------------------------------------------------------------
// Post blocks.

constexpr ProgramSlot kPostEq[] = {
    &P::flt_master_toggle,
    &P::flt1_toggle, &P::flt1_mode, &P::flt1_freq, &P::flt1_freq_mod, &P::flt1_freq_mod_phase,
    &P::flt1_gain, &P::flt1_gain_mod, &P::flt1_gain_mod_phase, &P::flt1_q,
    &P::flt2_toggle, &P::flt2_mode, &P::flt2_freq, &P::flt2_freq_mod, &P::flt2_freq_mod_phase,
    &P::flt2_gain_mod, &P::flt2_gain_mod_phase, &P::flt2_gain, &P::flt2_q,
    &P::flt3_toggle, &P::flt3_mode, &P::flt3_freq, &P::flt3_freq_mod, &P::flt3_freq_mod_phase,
    &P::flt3_gain, &P::flt3_gain_mod, &P::flt3_gain_mod_phase, &P::flt3_q,
    &P::flt4_toggle, &P::flt4_mode, &P::flt4_freq, &P::flt4_freq_mod, &P::flt4_freq_mod_phase,
    &P::flt4_gain, &P::flt4_gain_mod, &P::flt4_gain_mod_phase, &P::flt4_q,
    &P::flt5_toggle, &P::flt5_mode, &P::flt5_freq, &P::flt5_freq_mod, &P::flt5_freq_mod_phase,
    &P::flt5_gain, &P::flt5_gain_mod, &P::flt5_gain_mod_phase, &P::flt5_q,
    &P::lfo1_rate, &P::lfo2_rate,
};

// Chorus and delay blocks, one array per block in block order; IR1 and IR2 rows line up, which
// is how push and swap pair them.
constexpr ProgramSlot kChorusPost[] = {
    &P::chorus_master_feedback, &P::chorus_master_width, &P::chorus_master_dry, &P::chorus_master_wet,
    &P::chorus_master_delay_ms, &P::chorus_master_delay_mod_ms, &P::chorus_master_delay_mod_rate_hz,
    &P::chorus_master_toggle,
};
constexpr ProgramSlot kChorusIr1[] = {
    &P::chorus_ir1_feedback, &P::chorus_ir1_width, &P::chorus_ir1_dry, &P::chorus_ir1_wet,
    &P::chorus_ir1_delay_ms, &P::chorus_ir1_delay_mod_ms, &P::chorus_ir1_delay_mod_rate_hz,
    &P::chorus_ir1_toggle,
};
constexpr ProgramSlot kChorusIr2[] = {
    &P::chorus_ir2_feedback, &P::chorus_ir2_width, &P::chorus_ir2_dry, &P::chorus_ir2_wet,
    &P::chorus_ir2_delay_ms, &P::chorus_ir2_delay_mod_ms, &P::chorus_ir2_delay_mod_rate_hz,
    &P::chorus_ir2_toggle,
};

constexpr ProgramSlot kDelayMaster[] = {
    &P::master_delay_dry,
    &P::master_delay_l_toggle, &P::master_delay_l_tempo, &P::master_delay_l_delay_numer,
    &P::master_delay_l_delay_denom, &P::master_delay_l_delay_mod, &P::master_delay_l_delay_mod_rate,
    &P::master_delay_l_feedback, &P::master_delay_l_feedback_opposite, &P::master_delay_l_wet,
    &P::master_delay_r_toggle, &P::master_delay_r_tempo, &P::master_delay_r_delay_numer,
    &P::master_delay_r_delay_denom, &P::master_delay_r_delay_mod, &P::master_delay_r_delay_mod_rate,
    &P::master_delay_r_feedback, &P::master_delay_r_feedback_opposite, &P::master_delay_r_wet,
    &P::master_delay_l_tempo_lock, &P::master_delay_r_tempo_lock,
};
constexpr ProgramSlot kDelayIr1[] = {
    &P::ir1_delay_dry,
    &P::ir1_delay_l_toggle, &P::ir1_delay_l_tempo, &P::ir1_delay_l_delay_numer,
    &P::ir1_delay_l_delay_denom, &P::ir1_delay_l_delay_mod, &P::ir1_delay_l_delay_mod_rate,
    &P::ir1_delay_l_feedback, &P::ir1_delay_l_feedback_opposite, &P::ir1_delay_l_wet,
    &P::ir1_delay_r_toggle, &P::ir1_delay_r_tempo, &P::ir1_delay_r_delay_numer,
    &P::ir1_delay_r_delay_denom, &P::ir1_delay_r_delay_mod, &P::ir1_delay_r_delay_mod_rate,
    &P::ir1_delay_r_feedback, &P::ir1_delay_r_feedback_opposite, &P::ir1_delay_r_wet,
    &P::ir1_delay_l_tempo_lock, &P::ir1_delay_r_tempo_lock,
};
constexpr ProgramSlot kDelayIr2[] = {
    &P::ir2_delay_dry,
    &P::ir2_delay_l_toggle, &P::ir2_delay_l_tempo, &P::ir2_delay_l_delay_numer,
    &P::ir2_delay_l_delay_denom, &P::ir2_delay_l_delay_mod, &P::ir2_delay_l_delay_mod_rate,
    &P::ir2_delay_l_feedback, &P::ir2_delay_l_feedback_opposite, &P::ir2_delay_l_wet,
    &P::ir2_delay_r_toggle, &P::ir2_delay_r_tempo, &P::ir2_delay_r_delay_numer,
    &P::ir2_delay_r_delay_denom, &P::ir2_delay_r_delay_mod, &P::ir2_delay_r_delay_mod_rate,
    &P::ir2_delay_r_feedback, &P::ir2_delay_r_feedback_opposite, &P::ir2_delay_r_wet,
    &P::ir2_delay_l_tempo_lock, &P::ir2_delay_r_tempo_lock,
};
// clang-format on

static_assert(std::size(kChorusPost) == 8 && std::size(kChorusIr1) == 8 && std::size(kChorusIr2) == 8);
static_assert(std::size(kDelayMaster) == 21 && std::size(kDelayIr1) == 21 && std::size(kDelayIr2) == 21);

// Positions in the delay block of the note-length numerators and denominators, which
// swap_ir1_ir2_everything leaves where they are.
constexpr std::size_t kDelayNoteLengthPositions[] = {3, 4, 12, 13};

// ---------------------------------------------------------------------------------------------
// IR1 <-> IR2 slot pairs, one table per family. The IR2 layout is not a shifted copy of IR1's,
// so every pair is spelled out.

enum PairFlag : unsigned {
    kept_on_push = 1u,       // never pushed to the other IR
    kept_on_short_push = 2u, // not pushed by the two shortest push variants
    kept_on_swap = 4u,       // left in place by swap_ir1_ir2_everything
    sweep_end = 8u,          // sweep end point, set to 1.0 by upgrade step 2
};

struct IrPair {
    ProgramSlot ir1;
    ProgramSlot ir2;
    unsigned flags = 0;

    template <typename T> constexpr IrPair(T P::*a, T P::*b, unsigned f = 0) : ir1(a), ir2(b), flags(f) {}
    constexpr IrPair(ProgramSlot a, ProgramSlot b, unsigned f) : ir1(a), ir2(b), flags(f) {}
};

// clang-format off
// Core group, minus the families below.
constexpr IrPair kCoreBasic[] = {
    {&P::ir1_toggle, &P::ir2_toggle},
    {&P::ir1_user_resample_factor, &P::ir2_user_resample_factor},
    {&P::ir1_crop_from_start, &P::ir2_crop_from_start},
    {&P::ir1_crop_from_end, &P::ir2_crop_from_end},
    {&P::ir1_pre_delay, &P::ir2_pre_delay},
    {&P::ir1_adshr_a, &P::ir2_adshr_a},
    {&P::ir1_adshr_d, &P::ir2_adshr_d},
    {&P::ir1_adshr_s, &P::ir2_adshr_s},
    {&P::ir1_adshr_h, &P::ir2_adshr_h},
    {&P::ir1_adshr_r, &P::ir2_adshr_r},
    {&P::ir1_adshr_a_alpha, &P::ir2_adshr_a_alpha},
    {&P::ir1_adshr_d_alpha, &P::ir2_adshr_d_alpha},
    {&P::ir1_adshr_r_alpha, &P::ir2_adshr_r_alpha},
    {&P::ir1_adshr_a_alpha_inv, &P::ir2_adshr_a_alpha_inv},
    {&P::ir1_adshr_d_alpha_inv, &P::ir2_adshr_d_alpha_inv},
    {&P::ir1_adshr_r_alpha_inv, &P::ir2_adshr_r_alpha_inv},
    {&P::ir1_normalise, &P::ir2_normalise},
    {&P::ir1_reverse, &P::ir2_reverse},
    {&P::ir1_topology, &P::ir2_topology},
    {&P::ir1_cross_channel, &P::ir2_cross_channel},
    {&P::ir1_width, &P::ir2_width},
    {&P::ir1_source_type, &P::ir2_source_type},
};

constexpr IrPair kSts[] = {
    {&P::ir1_sts_toggle, &P::ir2_sts_toggle, kept_on_push | kept_on_swap},
    {&P::ir1_sts_relative_gain, &P::ir2_sts_relative_gain, kept_on_push | kept_on_swap},
    {&P::ir1_sts_high_pass_freq, &P::ir2_sts_high_pass_freq, kept_on_push | kept_on_swap},
    {&P::ir1_sts_high_pass_toggle, &P::ir2_sts_high_pass_toggle, kept_on_push | kept_on_swap},
    {&P::ir1_sts_pre_delay, &P::ir2_sts_pre_delay, kept_on_push | kept_on_swap},
};

constexpr IrPair kEarlyReflections[] = {
    {&P::ir1_er_size, &P::ir2_er_size},
    {&P::ir1_er_diffusion, &P::ir2_er_diffusion},
    {&P::ir1_er_distance, &P::ir2_er_distance},
    {&P::ir1_er_position, &P::ir2_er_position},
    {&P::ir1_er_separation, &P::ir2_er_separation},
    {&P::ir1_er_type, &P::ir2_er_type, kept_on_swap},
    {&P::ir1_er_depth, &P::ir2_er_depth},
};

constexpr IrPair kTail[] = {
    {&P::ir1_tail_length, &P::ir2_tail_length},
    {&P::ir1_tail_character, &P::ir2_tail_character, kept_on_swap},
    {&P::ir1_tail_diffusion, &P::ir2_tail_diffusion},
    {&P::ir1_tail_density, &P::ir2_tail_density, kept_on_swap},
    {&P::ir1_tail_variant, &P::ir2_tail_variant},
    {&P::ir1_tail_diffuse_length, &P::ir2_tail_diffuse_length},
};

constexpr IrPair kAdditiveNoise[] = {
    {&P::ir1_additive_noise_wet, &P::ir2_additive_noise_wet, kept_on_short_push},
    {&P::ir1_additive_noise_dry, &P::ir2_additive_noise_dry},
    {&P::ir1_additive_noise_release, &P::ir2_additive_noise_release},
    {&P::ir1_additive_noise_spare, &P::ir2_additive_noise_spare},
};

constexpr IrPair kStacked[] = {
    {&P::ir1_stacked_rate, &P::ir2_stacked_rate, kept_on_swap},
    {&P::ir1_stacked_head_tail_mix, &P::ir2_stacked_head_tail_mix, kept_on_swap},
    {&P::ir1_stacked_depth, &P::ir2_stacked_depth, kept_on_swap},
    {&P::ir1_stacked_head_permit_mod, &P::ir2_stacked_head_permit_mod, kept_on_swap},
};

constexpr PathMember kPaths[][2] = {
    {&P::ir1_file_a, &P::ir2_file_a},
    {&P::ir1_file_b, &P::ir2_file_b},
};

constexpr IrPair kMixer[] = {
    {&P::ir1_gain, &P::ir2_gain},
    {&P::ir1_balance, &P::ir2_balance},
    {&P::ir1_balance_mod, &P::ir2_balance_mod},
    {&P::ir1_balance_mod_phase, &P::ir2_balance_mod_phase},
    {&P::ir1_stereo_mono, &P::ir2_stereo_mono},
};

constexpr IrPair kEqBands[] = {
    {&P::ir1_flt_master_toggle, &P::ir2_flt_master_toggle},
    {&P::ir1_flt1_toggle, &P::ir2_flt1_toggle}, {&P::ir1_flt1_mode, &P::ir2_flt1_mode},
    {&P::ir1_flt1_freq, &P::ir2_flt1_freq}, {&P::ir1_flt1_gain, &P::ir2_flt1_gain},
    {&P::ir1_flt1_q, &P::ir2_flt1_q},
    {&P::ir1_flt2_toggle, &P::ir2_flt2_toggle}, {&P::ir1_flt2_mode, &P::ir2_flt2_mode},
    {&P::ir1_flt2_freq, &P::ir2_flt2_freq}, {&P::ir1_flt2_gain, &P::ir2_flt2_gain},
    {&P::ir1_flt2_q, &P::ir2_flt2_q},
    {&P::ir1_flt3_toggle, &P::ir2_flt3_toggle}, {&P::ir1_flt3_mode, &P::ir2_flt3_mode},
    {&P::ir1_flt3_freq, &P::ir2_flt3_freq}, {&P::ir1_flt3_gain, &P::ir2_flt3_gain},
    {&P::ir1_flt3_q, &P::ir2_flt3_q},
    {&P::ir1_flt4_toggle, &P::ir2_flt4_toggle}, {&P::ir1_flt4_mode, &P::ir2_flt4_mode},
    {&P::ir1_flt4_freq, &P::ir2_flt4_freq}, {&P::ir1_flt4_gain, &P::ir2_flt4_gain},
    {&P::ir1_flt4_q, &P::ir2_flt4_q},
    {&P::ir1_flt5_toggle, &P::ir2_flt5_toggle}, {&P::ir1_flt5_mode, &P::ir2_flt5_mode},
    {&P::ir1_flt5_freq, &P::ir2_flt5_freq}, {&P::ir1_flt5_gain, &P::ir2_flt5_gain},
    {&P::ir1_flt5_q, &P::ir2_flt5_q},
};

constexpr IrPair kEqSweeps[] = {
    {&P::ir1_flt1_freq_to, &P::ir2_flt1_freq_to}, {&P::ir1_flt1_freq_to_start, &P::ir2_flt1_freq_to_start},
    {&P::ir1_flt1_freq_to_end, &P::ir2_flt1_freq_to_end, sweep_end},
    {&P::ir1_flt1_gain_to, &P::ir2_flt1_gain_to}, {&P::ir1_flt1_gain_to_start, &P::ir2_flt1_gain_to_start},
    {&P::ir1_flt1_gain_to_end, &P::ir2_flt1_gain_to_end, sweep_end},
    {&P::ir1_flt2_freq_to, &P::ir2_flt2_freq_to}, {&P::ir1_flt2_freq_to_start, &P::ir2_flt2_freq_to_start},
    {&P::ir1_flt2_freq_to_end, &P::ir2_flt2_freq_to_end, sweep_end},
    {&P::ir1_flt2_gain_to, &P::ir2_flt2_gain_to}, {&P::ir1_flt2_gain_to_start, &P::ir2_flt2_gain_to_start},
    {&P::ir1_flt2_gain_to_end, &P::ir2_flt2_gain_to_end, sweep_end},
    {&P::ir1_flt3_freq_to, &P::ir2_flt3_freq_to}, {&P::ir1_flt3_freq_to_start, &P::ir2_flt3_freq_to_start},
    {&P::ir1_flt3_freq_to_end, &P::ir2_flt3_freq_to_end, sweep_end},
    {&P::ir1_flt3_gain_to, &P::ir2_flt3_gain_to}, {&P::ir1_flt3_gain_to_start, &P::ir2_flt3_gain_to_start},
    {&P::ir1_flt3_gain_to_end, &P::ir2_flt3_gain_to_end, sweep_end},
    {&P::ir1_flt4_freq_to, &P::ir2_flt4_freq_to}, {&P::ir1_flt4_freq_to_start, &P::ir2_flt4_freq_to_start},
    {&P::ir1_flt4_freq_to_end, &P::ir2_flt4_freq_to_end, sweep_end},
    {&P::ir1_flt4_gain_to, &P::ir2_flt4_gain_to}, {&P::ir1_flt4_gain_to_start, &P::ir2_flt4_gain_to_start},
    {&P::ir1_flt4_gain_to_end, &P::ir2_flt4_gain_to_end, sweep_end},
    {&P::ir1_flt5_freq_to, &P::ir2_flt5_freq_to}, {&P::ir1_flt5_freq_to_start, &P::ir2_flt5_freq_to_start},
    {&P::ir1_flt5_freq_to_end, &P::ir2_flt5_freq_to_end, sweep_end},
    {&P::ir1_flt5_gain_to, &P::ir2_flt5_gain_to}, {&P::ir1_flt5_gain_to_start, &P::ir2_flt5_gain_to_start},
    {&P::ir1_flt5_gain_to_end, &P::ir2_flt5_gain_to_end, sweep_end},
};

constexpr IrPair kEqModShapes[] = {
    {&P::ir1_flt1_freq_mod_shape, &P::ir2_flt1_freq_mod_shape},
    {&P::ir1_flt2_freq_mod_shape, &P::ir2_flt2_freq_mod_shape},
    {&P::ir1_flt3_freq_mod_shape, &P::ir2_flt3_freq_mod_shape},
    {&P::ir1_flt4_freq_mod_shape, &P::ir2_flt4_freq_mod_shape},
    {&P::ir1_flt5_freq_mod_shape, &P::ir2_flt5_freq_mod_shape},
    {&P::ir1_flt1_gain_mod_shape, &P::ir2_flt1_gain_mod_shape},
    {&P::ir1_flt2_gain_mod_shape, &P::ir2_flt2_gain_mod_shape},
    {&P::ir1_flt3_gain_mod_shape, &P::ir2_flt3_gain_mod_shape},
    {&P::ir1_flt4_gain_mod_shape, &P::ir2_flt4_gain_mod_shape},
    {&P::ir1_flt5_gain_mod_shape, &P::ir2_flt5_gain_mod_shape},
};

constexpr IrPair kPitchMod[] = {
    {&P::pitch_mod_ir1_split_point, &P::pitch_mod_ir2_split_point},
    {&P::pitch_mod_ir1_section1_toggle, &P::pitch_mod_ir2_section1_toggle},
    {&P::pitch_mod_ir1_section1_mod_rate, &P::pitch_mod_ir2_section1_mod_rate},
    {&P::pitch_mod_ir1_section1_mod_depth, &P::pitch_mod_ir2_section1_mod_depth},
    {&P::pitch_mod_ir1_section2_toggle, &P::pitch_mod_ir2_section2_toggle},
    {&P::pitch_mod_ir1_section2_mod_rate, &P::pitch_mod_ir2_section2_mod_rate},
    {&P::pitch_mod_ir1_section2_mod_depth, &P::pitch_mod_ir2_section2_mod_depth},
};
// clang-format on

// The groups of the IR reset, push and swap operations.
enum IrGroup : unsigned {
    core = 1u, // kCoreBasic, STS, ER, tail, additive noise, stacked, and the two file paths
    mixer = 2u,
    eq = 4u,
    chorus = 8u,
    delay = 16u,
    pitch_mod = 32u,
    all_groups = 63u,
};

std::span<IrPair const> const kCoreFamilies[] = {kCoreBasic, kSts,           kEarlyReflections,
                                                 kTail,      kAdditiveNoise, kStacked};
std::span<IrPair const> const kEqFamilies[] = {kEqBands, kEqSweeps, kEqModShapes};

bool is_delay_note_length(std::size_t position)
{
    for (std::size_t p : kDelayNoteLengthPositions)
        if (p == position) return true;
    return false;
}

// Visits every IR1/IR2 slot pair of the selected groups (file paths excepted).
template <typename Fn> void for_each_ir_pair(unsigned groups, Fn&& fn)
{
    if (groups & core)
        for (auto family : kCoreFamilies)
            for (IrPair const& p : family)
                fn(p);
    if (groups & mixer)
        for (IrPair const& p : kMixer)
            fn(p);
    if (groups & eq)
        for (auto family : kEqFamilies)
            for (IrPair const& p : family)
                fn(p);
    if (groups & chorus)
        for (std::size_t k = 0; k < std::size(kChorusIr1); ++k)
            fn(IrPair{kChorusIr1[k], kChorusIr2[k], 0});
    if (groups & delay)
        for (std::size_t k = 0; k < std::size(kDelayIr1); ++k)
            fn(IrPair{kDelayIr1[k], kDelayIr2[k], is_delay_note_length(k) ? kept_on_swap : 0u});
    if (groups & pitch_mod)
        for (IrPair const& p : kPitchMod)
            fn(p);
}

enum class Ir { one, two };

ProgramSlot side(IrPair const& pair, Ir ir)
{
    return ir == Ir::one ? pair.ir1 : pair.ir2;
}

// ---------------------------------------------------------------------------------------------
// Slot access.

void copy_slot(P& to, ProgramSlot dst, P const& from, ProgramSlot src)
{
    if (dst.f)
        to.*dst.f = from.*src.f;
    else
        to.*dst.i = from.*src.i;
}

void swap_slots(P& p, ProgramSlot a, ProgramSlot b)
{
    if (a.f)
        std::swap(p.*a.f, p.*b.f);
    else
        std::swap(p.*a.i, p.*b.i);
}

void store(P& p, SlotValue const& v)
{
    if (v.slot.f)
        p.*v.slot.f = v.f;
    else
        p.*v.slot.i = v.i;
}

// A record exactly as reset() leaves it; group resets copy their slots from here.
P const& default_program()
{
    static P const defaults;
    return defaults;
}

void restore_defaults(P& p, std::span<ProgramSlot const> slots)
{
    for (ProgramSlot s : slots)
        copy_slot(p, s, default_program(), s);
}

void restore_defaults_both(P& p, std::span<IrPair const> pairs)
{
    for (IrPair const& pair : pairs) {
        copy_slot(p, pair.ir1, default_program(), pair.ir1);
        copy_slot(p, pair.ir2, default_program(), pair.ir2);
    }
}

void set_default_name(P& p)
{
    // Only "Default" and its terminator: the bytes behind are carried as they are.
    std::memcpy(p.name, "Default", 8);
}

// String copy bounded by the slot size; a source without a terminator is cut at 299 characters.
void copy_path(char (&to)[corvella::program_path_size], char const (&from)[corvella::program_path_size])
{
    void const* end = std::memchr(from, '\0', corvella::program_path_size);
    std::size_t const length = end != nullptr ? static_cast<std::size_t>(static_cast<char const*>(end) - from)
                                              : corvella::program_path_size - 1;
    std::memmove(to, from, length);
    to[length] = '\0';
}

void reset_ir(P& p, Ir ir, unsigned groups)
{
    set_default_name(p);
    for_each_ir_pair(
        groups, [&](IrPair const& pair) { copy_slot(p, side(pair, ir), default_program(), side(pair, ir)); });
    if (groups & core)
        for (auto const& paths : kPaths)
            std::memset(p.*paths[ir == Ir::one ? 0 : 1], 0, corvella::program_path_size);
    if (groups & mixer) p.ir1_ir2_chain = 0.0f;
}

void push_ir(P& p, Ir from, unsigned groups, bool keep_noise_wet)
{
    Ir const to = from == Ir::one ? Ir::two : Ir::one;
    unsigned const kept = kept_on_push | (keep_noise_wet ? kept_on_short_push : 0u);
    for_each_ir_pair(groups, [&](IrPair const& pair) {
        if (!(pair.flags & kept)) copy_slot(p, side(pair, to), p, side(pair, from));
    });
    if (groups & core) {
        int const src = from == Ir::one ? 0 : 1;
        for (auto const& paths : kPaths)
            copy_path(p.*paths[1 - src], p.*paths[src]);
    }
}

constexpr unsigned kShortGroups = core | mixer; // the "except_eq_and_chorus_and_delay_and_pitchmod" variants

} // namespace

// ---------------------------------------------------------------------------------------------

namespace corvella {

std::span<ProgramSlot const> chorus_block_slots(EffectBlock block)
{
    switch (block) {
    case EffectBlock::ir1:
        return kChorusIr1;
    case EffectBlock::ir2:
        return kChorusIr2;
    case EffectBlock::post:
        break;
    }
    return kChorusPost;
}

std::span<ProgramSlot const> delay_block_slots(EffectBlock block)
{
    switch (block) {
    case EffectBlock::ir1:
        return kDelayIr1;
    case EffectBlock::ir2:
        return kDelayIr2;
    case EffectBlock::post:
        break;
    }
    return kDelayMaster;
}

} // namespace corvella

VST_Plugin_Program::VST_Plugin_Program()
{
    // Start from zero so that the slots reset() leaves alone hold defined bytes.
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    reset();
    current_program = 0;
}

void VST_Plugin_Program::reset()
{
    set_default_name(*this);
    for (SlotValue const& v : kDefaults)
        store(*this, v);
    for (auto const& paths : kPaths)
        for (PathMember path : paths)
            std::memset(this->*path, 0, corvella::program_path_size);
}

void VST_Plugin_Program::reset_mixer()
{
    for (SlotValue const& v : kMixerResetValues)
        store(*this, v);
}

void VST_Plugin_Program::reset_post_eq()
{
    restore_defaults(*this, kPostEq);
}
void VST_Plugin_Program::reset_chorus_post()
{
    restore_defaults(*this, kChorusPost);
}
void VST_Plugin_Program::reset_chorus_ir1()
{
    restore_defaults(*this, kChorusIr1);
}
void VST_Plugin_Program::reset_chorus_ir2()
{
    restore_defaults(*this, kChorusIr2);
}
void VST_Plugin_Program::reset_delay_master()
{
    restore_defaults(*this, kDelayMaster);
}
void VST_Plugin_Program::reset_delay_ir1()
{
    restore_defaults(*this, kDelayIr1);
}
void VST_Plugin_Program::reset_delay_ir2()
{
    restore_defaults(*this, kDelayIr2);
}

void VST_Plugin_Program::reset_ir1_eq()
{
    for_each_ir_pair(eq,
                     [&](IrPair const& pair) { copy_slot(*this, pair.ir1, default_program(), pair.ir1); });
}

void VST_Plugin_Program::reset_ir2_eq()
{
    for_each_ir_pair(eq,
                     [&](IrPair const& pair) { copy_slot(*this, pair.ir2, default_program(), pair.ir2); });
}

void VST_Plugin_Program::reset_ir1()
{
    reset_ir(*this, Ir::one, all_groups);
}
void VST_Plugin_Program::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod()
{
    reset_ir(*this, Ir::one, core | mixer);
}
void VST_Plugin_Program::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
{
    reset_ir(*this, Ir::one, core);
    master_mixer_modulation_order = 1.0f;
}

void VST_Plugin_Program::reset_ir2()
{
    reset_ir(*this, Ir::two, all_groups);
}
void VST_Plugin_Program::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod()
{
    reset_ir(*this, Ir::two, core | mixer);
}
void VST_Plugin_Program::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
{
    reset_ir(*this, Ir::two, core);
    master_mixer_modulation_order = 1.0f;
}

void VST_Plugin_Program::push_ir1_to_ir2()
{
    push_ir(*this, Ir::one, all_groups, false);
}
void VST_Plugin_Program::push_ir1_to_ir2_except_mixer()
{
    push_ir(*this, Ir::one, all_groups & ~mixer, false);
}
void VST_Plugin_Program::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod()
{
    push_ir(*this, Ir::one, kShortGroups, true);
}
void VST_Plugin_Program::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
{
    push_ir(*this, Ir::one, core, true);
}

void VST_Plugin_Program::push_ir2_to_ir1()
{
    push_ir(*this, Ir::two, all_groups, false);
}
void VST_Plugin_Program::push_ir2_to_ir1_except_mixer()
{
    push_ir(*this, Ir::two, all_groups & ~mixer, false);
}
void VST_Plugin_Program::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod()
{
    push_ir(*this, Ir::two, kShortGroups, true);
}
void VST_Plugin_Program::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
{
    push_ir(*this, Ir::two, core, true);
}

void VST_Plugin_Program::swap_ir1_ir2_everything()
{
    for_each_ir_pair(all_groups, [&](IrPair const& pair) {
        if (!(pair.flags & kept_on_swap)) swap_slots(*this, pair.ir1, pair.ir2);
    });
    for (auto const& paths : kPaths) {
        char temporary[corvella::program_path_size];
        std::memcpy(temporary, this->*paths[0], sizeof temporary);
        std::memcpy(this->*paths[0], this->*paths[1], sizeof temporary);
        std::memcpy(this->*paths[1], temporary, sizeof temporary);
    }
}

void VST_Plugin_Program::check_and_upgrade_program(int current_version)
{
    int const v = version_stamp;
    // A stamp from the future or a negative one cannot be trusted: run every step.
    bool const unknown = v < 0 || v > current_version;
    if (unknown) version_stamp = current_version;
    auto older_than = [&](int version) { return unknown || v < version; };

    if (unknown || v == 0)
        for (IrPair const& pair : kEqSweeps)
            if (pair.flags & sweep_end) {
                this->*pair.ir1.f = 1.0f;
                this->*pair.ir2.f = 1.0f;
            }

    if (older_than(1412)) current_program = 0;

    if (older_than(1420)) {
        reset_delay_master();
        reset_delay_ir1();
        reset_delay_ir2();
    }

    if (older_than(1521)) {
        ir1_source_type = 0;
        ir2_source_type = 0;
        restore_defaults_both(*this, kEarlyReflections);
    }

    if (older_than(1531)) {
        ir1_width = 0.5f;
        ir2_width = 0.5f;
    }

    if (older_than(1632)) {
        // Old records stored a linear gain (0.5 = 0 dB); now 0.5 is 0 dB on a ±30 dB scale. A
        // corrupt value (NaN, or above +30 dB) must not leave the unity range.
        double const db = 20.0 * std::log10(std::fabs(2.0 * static_cast<double>(master_gain)));
        float gain = 0.0f;
        if (std::isfinite(db) && db > -30.0) gain = static_cast<float>(std::min(db / 60.0 + 0.5, 1.0));
        master_gain = gain;
        master_gain_locked_value = gain;
        master_gain_lock_status = 0.0f;
    }

    if (older_than(1650)) {
        master_mix_lock_status = 0.0f;
        master_mix_locked_value = master_mix;
        int wet_lock = 0;
        try {
            wet_lock = extract_data_from_registry_wet_lock();
        } catch (std::exception const&) {
            wet_lock = 0; // an unreadable preference means no lock
        }
        if (wet_lock == 1) {
            master_mix_lock_status = 1.0f;
            master_mix_locked_value = 1.0f;
        }
    }

    if (older_than(1660)) {
        host_data_1 = 0;
        host_data_2 = -1;
        host_data_3 = 0;
        host_data_4 = -1;
    }
    if (older_than(1661)) restore_defaults_both(*this, kTail);
    if (!unknown && v == 1675) {
        // Version 1675 stored the diffusion inverted.
        ir1_tail_diffusion = 1.0f - ir1_tail_diffusion;
        ir2_tail_diffusion = 1.0f - ir2_tail_diffusion;
    }

    if (older_than(1678))
        for (IrPair const& pair : kEqModShapes) {
            this->*pair.ir1.f = 0.0f;
            this->*pair.ir2.f = 0.0f;
        }

    if (older_than(1681)) {
        ir1_cross_channel = 0.0f;
        ir2_cross_channel = 0.0f;
    }

    if (older_than(1690)) {
        bool const unmodulated =
            master_ir1_ir2_mix_mod == 0.0f && ir1_balance_mod == 0.0f && ir2_balance_mod == 0.0f;
        master_mixer_modulation_order = unmodulated ? 1.0f : 0.0f;
    }

    if (older_than(1692)) restore_defaults_both(*this, kSts);

    if (older_than(1710)) {
        if (ir1_sts_toggle > 0.1f) ir1_sts_toggle = 0.5f;
        if (ir2_sts_toggle > 0.1f) ir2_sts_toggle = 0.5f;
    }

    if (older_than(1761)) restore_defaults_both(*this, kAdditiveNoise);
    if (older_than(1824)) restore_defaults_both(*this, kPitchMod);

    if (older_than(1917)) {
        restore_defaults_both(*this, kStacked);
        // Three-state topology of older versions: 0, 0.5 (true stereo), 1.0 (mono - stereo).
        for (float* topology : {&ir1_topology, &ir2_topology}) {
            if (*topology == 0.0f) continue;
            *topology = *topology == 1.0f ? 2.0f / 3.0f : 1.0f / 3.0f;
        }
    }
}
