#include "engine/ir_slot_settings.h"

#include "program/vst_plugin_program.h"

#include <cstring>

namespace corvella {

namespace {

// A path field as a string, even when the record's text is not terminated.
std::string path_of(char const (&field)[program_path_size])
{
    return std::string(field, strnlen(field, program_path_size));
}

#define CORVELLA_EQ_BAND(n, b)                                                                               \
    ir_eq_band_settings                                                                                      \
    {                                                                                                        \
        p.ir##n##_flt##b##_toggle, p.ir##n##_flt##b##_mode, p.ir##n##_flt##b##_freq,                         \
            p.ir##n##_flt##b##_gain, p.ir##n##_flt##b##_q, p.ir##n##_flt##b##_freq_to,                       \
            p.ir##n##_flt##b##_freq_to_start, p.ir##n##_flt##b##_freq_to_end, p.ir##n##_flt##b##_gain_to,    \
            p.ir##n##_flt##b##_gain_to_start, p.ir##n##_flt##b##_gain_to_end,                                \
            p.ir##n##_flt##b##_freq_mod_shape, p.ir##n##_flt##b##_gain_mod_shape                             \
    }

#define CORVELLA_SLOT_SETTINGS(n)                                                                            \
    ir_slot_settings s;                                                                                      \
    s.toggle = p.ir##n##_toggle;                                                                             \
    s.topology = p.ir##n##_topology;                                                                         \
    s.user_resample_factor = p.ir##n##_user_resample_factor;                                                 \
    s.crop_from_start = p.ir##n##_crop_from_start;                                                           \
    s.crop_from_end = p.ir##n##_crop_from_end;                                                               \
    s.reverse = p.ir##n##_reverse;                                                                           \
    s.pre_delay = p.ir##n##_pre_delay;                                                                       \
    s.adshr_a = p.ir##n##_adshr_a;                                                                           \
    s.adshr_d = p.ir##n##_adshr_d;                                                                           \
    s.adshr_s = p.ir##n##_adshr_s;                                                                           \
    s.adshr_h = p.ir##n##_adshr_h;                                                                           \
    s.adshr_r = p.ir##n##_adshr_r;                                                                           \
    s.adshr_a_alpha = p.ir##n##_adshr_a_alpha;                                                               \
    s.adshr_d_alpha = p.ir##n##_adshr_d_alpha;                                                               \
    s.adshr_r_alpha = p.ir##n##_adshr_r_alpha;                                                               \
    s.adshr_a_alpha_inv = p.ir##n##_adshr_a_alpha_inv;                                                       \
    s.adshr_d_alpha_inv = p.ir##n##_adshr_d_alpha_inv;                                                       \
    s.adshr_r_alpha_inv = p.ir##n##_adshr_r_alpha_inv;                                                       \
    s.width = p.ir##n##_width;                                                                               \
    s.normalise = p.ir##n##_normalise;                                                                       \
    s.flt_master_toggle = p.ir##n##_flt_master_toggle;                                                       \
    s.bands[0] = CORVELLA_EQ_BAND(n, 1);                                                                     \
    s.bands[1] = CORVELLA_EQ_BAND(n, 2);                                                                     \
    s.bands[2] = CORVELLA_EQ_BAND(n, 3);                                                                     \
    s.bands[3] = CORVELLA_EQ_BAND(n, 4);                                                                     \
    s.bands[4] = CORVELLA_EQ_BAND(n, 5);                                                                     \
    s.sts_toggle = p.ir##n##_sts_toggle;                                                                     \
    s.sts_relative_gain = p.ir##n##_sts_relative_gain;                                                       \
    s.sts_high_pass_freq = p.ir##n##_sts_high_pass_freq;                                                     \
    s.sts_high_pass_toggle = p.ir##n##_sts_high_pass_toggle;                                                 \
    s.sts_pre_delay = p.ir##n##_sts_pre_delay;                                                               \
    s.additive_noise_wet = p.ir##n##_additive_noise_wet;                                                     \
    s.additive_noise_dry = p.ir##n##_additive_noise_dry;                                                     \
    s.additive_noise_release = p.ir##n##_additive_noise_release;                                             \
    s.er_size = p.ir##n##_er_size;                                                                           \
    s.er_diffusion = p.ir##n##_er_diffusion;                                                                 \
    s.er_distance = p.ir##n##_er_distance;                                                                   \
    s.er_position = p.ir##n##_er_position;                                                                   \
    s.er_separation = p.ir##n##_er_separation;                                                               \
    s.er_depth = p.ir##n##_er_depth;                                                                         \
    s.er_type = p.ir##n##_er_type;                                                                           \
    s.tail_length = p.ir##n##_tail_length;                                                                   \
    s.tail_diffusion = p.ir##n##_tail_diffusion;                                                             \
    s.tail_variant = p.ir##n##_tail_variant;                                                                 \
    s.tail_diffuse_length = p.ir##n##_tail_diffuse_length;                                                   \
    s.tail_character = p.ir##n##_tail_character;                                                             \
    s.tail_density = p.ir##n##_tail_density;                                                                 \
    s.pitch_split_point = p.pitch_mod_ir##n##_split_point;                                                   \
    s.pitch_section1_toggle = p.pitch_mod_ir##n##_section1_toggle;                                           \
    s.pitch_section2_toggle = p.pitch_mod_ir##n##_section2_toggle;                                           \
    s.stacked_head_tail_mix = p.ir##n##_stacked_head_tail_mix;                                               \
    s.stacked_head_permit_mod = p.ir##n##_stacked_head_permit_mod;                                           \
    s.source_type = p.ir##n##_source_type;                                                                   \
    s.file_a = path_of(p.ir##n##_file_a);                                                                    \
    s.file_b = path_of(p.ir##n##_file_b);                                                                    \
    return s

ir_slot_settings ir1_settings(VST_Plugin_Program const& p)
{
    CORVELLA_SLOT_SETTINGS(1);
}

ir_slot_settings ir2_settings(VST_Plugin_Program const& p)
{
    CORVELLA_SLOT_SETTINGS(2);
}

#undef CORVELLA_SLOT_SETTINGS
#undef CORVELLA_EQ_BAND

} // namespace

ir_slot_settings ir_slot_settings_of(VST_Plugin_Program const& program, int slot)
{
    return slot == 2 ? ir2_settings(program) : ir1_settings(program);
}

} // namespace corvella
