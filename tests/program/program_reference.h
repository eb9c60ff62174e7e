#pragma once

// The program record's layout typed field by field (name, offset, width, kind, the value reset()
// stores), and helpers that read, plant and compare its slots by name.

#include "program/vst_plugin_program.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace corvella::test {

enum class FieldKind { f32, i32, unset, text, reserved };

struct FieldRow {
    char const* name;
    std::size_t offset, width; // typed
    FieldKind kind;
    double default_value;
    std::size_t actual_offset, actual_width;
    bool same_type;
};

// clang-format off
#define CV_ROW(f, off, w, kind, value, same) \
    FieldRow{#f, off, w, kind, value, offsetof(VST_Plugin_Program, f), sizeof(VST_Plugin_Program::f), same}
#define CV_IS(f, type) std::is_same_v<decltype(VST_Plugin_Program::f), type>
// Float and integer slots, default 0 unless given.
#define F(f, off, ...) CV_ROW(f, off, 4, FieldKind::f32, double{__VA_ARGS__}, CV_IS(f, float))
#define I(f, off, ...) CV_ROW(f, off, 4, FieldKind::i32, double{__VA_ARGS__}, CV_IS(f, std::int32_t))
#define UNSET(f, off) CV_ROW(f, off, 4, FieldKind::unset, 0, CV_IS(f, std::int32_t))
#define TXT(f, off, w) CV_ROW(f, off, w, FieldKind::text, 0, CV_IS(f, char[w]))
#define RSV(f, off, w) CV_ROW(f, off, w, FieldKind::reserved, 0, sizeof(VST_Plugin_Program::f[0]) == 4)

inline FieldRow const program_fields[] = {
    TXT(name, 0, 24), F(master_gain, 24, 0.5), F(master_mix, 28, 1), F(master_ir1_ir2_mix, 32, 0.5),
    F(master_ir1_ir2_mix_mod, 36), F(ir1_toggle, 40, 1), F(ir1_gain, 44, 0.3), F(ir1_balance, 48, 0.5),
    F(ir1_user_resample_factor, 52, 0.5), F(ir1_crop_from_start, 56), F(ir1_crop_from_end, 60, 1),
    F(ir1_pre_delay, 64), F(ir1_adshr_a, 68), F(ir1_adshr_d, 72), F(ir1_adshr_s, 76, 1),
    F(ir1_adshr_h, 80, 1), F(ir1_adshr_r, 84), F(ir2_toggle, 88), F(ir2_gain, 92, 0.3),
    F(ir2_balance, 96, 0.5), F(ir2_user_resample_factor, 100, 0.5), F(ir2_crop_from_start, 104),
    F(ir2_crop_from_end, 108, 1), F(ir2_pre_delay, 112), F(ir2_adshr_a, 116), F(ir2_adshr_d, 120),
    F(ir2_adshr_s, 124, 1), F(ir2_adshr_h, 128, 1), F(ir2_adshr_r, 132), F(ir1_flt_master_toggle, 136),
    F(ir1_flt1_toggle, 140), F(ir1_flt1_mode, 144), F(ir1_flt1_freq, 148, 0.2), F(ir1_flt1_gain, 152, 0.5),
    F(ir1_flt1_q, 156, 0.5), F(ir1_flt2_toggle, 160), F(ir1_flt2_mode, 164), F(ir1_flt2_freq, 168, 0.4),
    F(ir1_flt2_gain, 172, 0.5), F(ir1_flt2_q, 176, 0.5), F(ir1_flt3_toggle, 180), F(ir1_flt3_mode, 184),
    F(ir1_flt3_freq, 188, 0.6), F(ir1_flt3_gain, 192, 0.5), F(ir1_flt3_q, 196, 0.5), F(ir1_flt4_toggle, 200),
    F(ir1_flt4_mode, 204), F(ir1_flt4_freq, 208, 0.8), F(ir1_flt4_gain, 212, 0.5), F(ir1_flt4_q, 216, 0.5),
    F(ir1_flt5_toggle, 220), F(ir1_flt5_mode, 224), F(ir1_flt5_freq, 228, 1), F(ir1_flt5_gain, 232, 0.5),
    F(ir1_flt5_q, 236, 0.5), F(ir2_flt_master_toggle, 240), F(ir2_flt1_toggle, 244), F(ir2_flt1_mode, 248),
    F(ir2_flt1_freq, 252, 0.2), F(ir2_flt1_gain, 256, 0.5), F(ir2_flt1_q, 260, 0.5), F(ir2_flt2_toggle, 264),
    F(ir2_flt2_mode, 268), F(ir2_flt2_freq, 272, 0.4), F(ir2_flt2_gain, 276, 0.5), F(ir2_flt2_q, 280, 0.5),
    F(ir2_flt3_toggle, 284), F(ir2_flt3_mode, 288), F(ir2_flt3_freq, 292, 0.6), F(ir2_flt3_gain, 296, 0.5),
    F(ir2_flt3_q, 300, 0.5), F(ir2_flt4_toggle, 304), F(ir2_flt4_mode, 308), F(ir2_flt4_freq, 312, 0.8),
    F(ir2_flt4_gain, 316, 0.5), F(ir2_flt4_q, 320, 0.5), F(ir2_flt5_toggle, 324), F(ir2_flt5_mode, 328),
    F(ir2_flt5_freq, 332, 1), F(ir2_flt5_gain, 336, 0.5), F(ir2_flt5_q, 340, 0.5), F(flt_master_toggle, 344),
    F(flt1_toggle, 348), F(flt1_mode, 352), F(flt1_freq, 356, 0.2), F(flt1_freq_mod, 360),
    F(flt1_freq_mod_phase, 364), F(flt1_gain, 368, 0.5), F(flt1_gain_mod, 372), F(flt1_gain_mod_phase, 376),
    F(flt1_q, 380, 0.5), F(flt2_toggle, 384), F(flt2_mode, 388), F(flt2_freq, 392, 0.4),
    F(flt2_freq_mod, 396), F(flt2_freq_mod_phase, 400), F(flt2_gain_mod, 404), F(flt2_gain_mod_phase, 408),
    F(flt2_gain, 412, 0.5), F(flt2_q, 416, 0.5), F(flt3_toggle, 420), F(flt3_mode, 424),
    F(flt3_freq, 428, 0.6), F(flt3_freq_mod, 432), F(flt3_freq_mod_phase, 436), F(flt3_gain, 440, 0.5),
    F(flt3_gain_mod, 444), F(flt3_gain_mod_phase, 448), F(flt3_q, 452, 0.5), F(flt4_toggle, 456),
    F(flt4_mode, 460), F(flt4_freq, 464, 0.8), F(flt4_freq_mod, 468), F(flt4_freq_mod_phase, 472),
    F(flt4_gain, 476, 0.5), F(flt4_gain_mod, 480), F(flt4_gain_mod_phase, 484), F(flt4_q, 488, 0.5),
    F(flt5_toggle, 492), F(flt5_mode, 496), F(flt5_freq, 500, 1), F(flt5_freq_mod, 504),
    F(flt5_freq_mod_phase, 508), F(flt5_gain, 512, 0.5), F(flt5_gain_mod, 516), F(flt5_gain_mod_phase, 520),
    F(flt5_q, 524, 0.5), F(chorus_master_feedback, 528, 0.25), F(chorus_master_width, 532, 0.75),
    F(chorus_master_dry, 536, 1), F(chorus_master_wet, 540, 0.8), F(chorus_master_delay_ms, 544, 0.5),
    F(chorus_master_delay_mod_ms, 548, 0.5), F(chorus_master_delay_mod_rate_hz, 552, 0.5),
    F(chorus_master_toggle, 556), F(lfo1_rate, 560, 0.125), F(lfo2_rate, 564, 0.125),
    F(lfo3_rate, 568, 0.125), F(ir1_normalise, 572, 1), F(ir2_normalise, 576, 1), F(ir1_reverse, 580),
    F(ir2_reverse, 584), F(ir1_topology, 588), F(ir2_topology, 592), F(master_wet_lock_ignore, 596),
    F(chorus_ir1_feedback, 600, 0.25), F(chorus_ir1_width, 604, 0.75), F(chorus_ir1_dry, 608, 1),
    F(chorus_ir1_wet, 612, 0.8), F(chorus_ir1_delay_ms, 616, 0.5), F(chorus_ir1_delay_mod_ms, 620, 0.5),
    F(chorus_ir1_delay_mod_rate_hz, 624, 0.5), F(chorus_ir1_toggle, 628), F(chorus_ir2_feedback, 632, 0.25),
    F(chorus_ir2_width, 636, 0.75), F(chorus_ir2_dry, 640, 1), F(chorus_ir2_wet, 644, 0.8),
    F(chorus_ir2_delay_ms, 648, 0.5), F(chorus_ir2_delay_mod_ms, 652, 0.5),
    F(chorus_ir2_delay_mod_rate_hz, 656, 0.5), F(chorus_ir2_toggle, 660), F(ir1_balance_mod, 664),
    F(ir1_balance_mod_phase, 668), F(ir2_balance_mod, 672), F(ir2_balance_mod_phase, 676),
    F(master_stereo_mono, 680), F(ir1_stereo_mono, 684), F(ir2_stereo_mono, 688), F(ir1_ir2_chain, 692),
    F(ir1_adshr_a_alpha, 696), F(ir1_adshr_d_alpha, 700), F(ir1_adshr_r_alpha, 704),
    F(ir1_adshr_a_alpha_inv, 708), F(ir1_adshr_d_alpha_inv, 712), F(ir1_adshr_r_alpha_inv, 716),
    F(ir2_adshr_a_alpha, 720), F(ir2_adshr_d_alpha, 724), F(ir2_adshr_r_alpha, 728),
    F(ir2_adshr_a_alpha_inv, 732), F(ir2_adshr_d_alpha_inv, 736), F(ir2_adshr_r_alpha_inv, 740),
    F(ir1_flt1_freq_to, 744), F(ir1_flt1_freq_to_start, 748), F(ir1_flt1_freq_to_end, 752, 1),
    F(ir1_flt1_gain_to, 756), F(ir1_flt1_gain_to_start, 760), F(ir1_flt1_gain_to_end, 764, 1),
    F(ir1_flt2_freq_to, 768), F(ir1_flt2_freq_to_start, 772), F(ir1_flt2_freq_to_end, 776, 1),
    F(ir1_flt2_gain_to, 780), F(ir1_flt2_gain_to_start, 784), F(ir1_flt2_gain_to_end, 788, 1),
    F(ir1_flt3_freq_to, 792), F(ir1_flt3_freq_to_start, 796), F(ir1_flt3_freq_to_end, 800, 1),
    F(ir1_flt3_gain_to, 804), F(ir1_flt3_gain_to_start, 808), F(ir1_flt3_gain_to_end, 812, 1),
    F(ir1_flt4_freq_to, 816), F(ir1_flt4_freq_to_start, 820), F(ir1_flt4_freq_to_end, 824, 1),
    F(ir1_flt4_gain_to, 828), F(ir1_flt4_gain_to_start, 832), F(ir1_flt4_gain_to_end, 836, 1),
    F(ir1_flt5_freq_to, 840), F(ir1_flt5_freq_to_start, 844), F(ir1_flt5_freq_to_end, 848, 1),
    F(ir1_flt5_gain_to, 852), F(ir1_flt5_gain_to_start, 856), F(ir1_flt5_gain_to_end, 860, 1),
    F(ir2_flt1_freq_to, 864), F(ir2_flt1_freq_to_start, 868), F(ir2_flt1_freq_to_end, 872, 1),
    F(ir2_flt1_gain_to, 876), F(ir2_flt1_gain_to_start, 880), F(ir2_flt1_gain_to_end, 884, 1),
    F(ir2_flt2_freq_to, 888), F(ir2_flt2_freq_to_start, 892), F(ir2_flt2_freq_to_end, 896, 1),
    F(ir2_flt2_gain_to, 900), F(ir2_flt2_gain_to_start, 904), F(ir2_flt2_gain_to_end, 908, 1),
    F(ir2_flt3_freq_to, 912), F(ir2_flt3_freq_to_start, 916), F(ir2_flt3_freq_to_end, 920, 1),
    F(ir2_flt3_gain_to, 924), F(ir2_flt3_gain_to_start, 928), F(ir2_flt3_gain_to_end, 932, 1),
    F(ir2_flt4_freq_to, 936), F(ir2_flt4_freq_to_start, 940), F(ir2_flt4_freq_to_end, 944, 1),
    F(ir2_flt4_gain_to, 948), F(ir2_flt4_gain_to_start, 952), F(ir2_flt4_gain_to_end, 956, 1),
    F(ir2_flt5_freq_to, 960), F(ir2_flt5_freq_to_start, 964), F(ir2_flt5_freq_to_end, 968, 1),
    TXT(ir1_file_a, 972, 300), TXT(ir1_file_b, 1272, 300), F(master_ir1_ir2_mix_law, 1572, 1),
    RSV(reserved_1576, 1576, 28), F(ir1_sts_toggle, 1604), F(ir1_sts_relative_gain, 1608, 0.71),
    F(ir1_sts_high_pass_freq, 1612, 0.05), F(ir1_sts_high_pass_toggle, 1616, 1),
    F(ir1_sts_pre_delay, 1620, 0.3), F(ir2_sts_toggle, 1624), F(ir2_sts_relative_gain, 1628, 0.71),
    F(ir2_sts_high_pass_freq, 1632, 0.05), F(ir2_sts_high_pass_toggle, 1636, 1),
    F(ir2_sts_pre_delay, 1640, 0.3), F(master_mixer_modulation_order, 1644, 1), F(ir1_cross_channel, 1648),
    F(ir2_cross_channel, 1652), F(ir1_flt1_freq_mod_shape, 1656), F(ir1_flt2_freq_mod_shape, 1660),
    F(ir1_flt3_freq_mod_shape, 1664), F(ir1_flt4_freq_mod_shape, 1668), F(ir1_flt5_freq_mod_shape, 1672),
    F(ir2_flt1_freq_mod_shape, 1676), F(ir2_flt2_freq_mod_shape, 1680), F(ir2_flt3_freq_mod_shape, 1684),
    F(ir2_flt4_freq_mod_shape, 1688), F(ir2_flt5_freq_mod_shape, 1692), F(ir1_flt1_gain_mod_shape, 1696),
    F(ir1_flt2_gain_mod_shape, 1700), F(ir1_flt3_gain_mod_shape, 1704), F(ir1_flt4_gain_mod_shape, 1708),
    F(ir1_flt5_gain_mod_shape, 1712), F(ir2_flt1_gain_mod_shape, 1716), F(ir2_flt2_gain_mod_shape, 1720),
    F(ir2_flt3_gain_mod_shape, 1724), F(ir2_flt4_gain_mod_shape, 1728), F(ir2_flt5_gain_mod_shape, 1732),
    I(host_data_1, 1736), I(host_data_2, 1740, -1), I(host_data_3, 1744), I(host_data_4, 1748, -1),
    F(master_mix_lock_status, 1752), F(master_mix_locked_value, 1756, 1), F(master_gain_lock_status, 1760),
    F(master_gain_locked_value, 1764, 0.5), F(ir1_width, 1768, 0.5), F(ir2_width, 1772, 0.5),
    F(ir1_er_size, 1776, 0.5), F(ir1_er_diffusion, 1780, 0.5), F(ir1_er_distance, 1784, 0.5),
    F(ir1_er_position, 1788, 0.5), F(ir1_er_separation, 1792, 0.5), I(ir1_er_type, 1796),
    F(ir1_er_depth, 1800, 0.2), F(ir2_er_size, 1804, 0.5), F(ir2_er_diffusion, 1808, 0.5),
    F(ir2_er_distance, 1812, 0.5), F(ir2_er_position, 1816, 0.5), F(ir2_er_separation, 1820, 0.5),
    I(ir2_er_type, 1824), F(ir2_er_depth, 1828, 0.2), F(ir1_delay_dry, 1832, 1), F(ir1_delay_l_toggle, 1836),
    F(ir1_delay_l_tempo, 1840, 120), I(ir1_delay_l_delay_numer, 1844, 6),
    I(ir1_delay_l_delay_denom, 1848, 16), F(ir1_delay_l_delay_mod, 1852, 0.09),
    F(ir1_delay_l_delay_mod_rate, 1856, 0.32), F(ir1_delay_l_feedback, 1860),
    F(ir1_delay_l_feedback_opposite, 1864, 0.4), F(ir1_delay_l_wet, 1868, 0.71), F(ir2_flt5_gain_to, 1872),
    F(ir2_flt5_gain_to_start, 1876), F(ir2_flt5_gain_to_end, 1880, 1), F(ir1_delay_r_toggle, 1884),
    F(ir1_delay_r_tempo, 1888, 120), I(ir1_delay_r_delay_numer, 1892, 4),
    I(ir1_delay_r_delay_denom, 1896, 16), F(ir1_delay_r_delay_mod, 1900, 0.18),
    F(ir1_delay_r_delay_mod_rate, 1904, 0.29), F(ir1_delay_r_feedback, 1908),
    F(ir1_delay_r_feedback_opposite, 1912, 0.45), F(ir1_delay_r_wet, 1916, 0.71), F(ir2_delay_dry, 1920, 1),
    F(ir2_delay_l_toggle, 1924), F(ir2_delay_l_tempo, 1928, 120), I(ir2_delay_l_delay_numer, 1932, 7),
    I(ir2_delay_l_delay_denom, 1936, 16), F(ir2_delay_l_delay_mod, 1940, 0.15),
    F(ir2_delay_l_delay_mod_rate, 1944, 0.42), F(ir2_delay_l_feedback, 1948),
    F(ir2_delay_l_feedback_opposite, 1952, 0.4), F(ir2_delay_l_wet, 1956, 0.71), F(ir2_delay_r_toggle, 1960),
    F(ir2_delay_r_tempo, 1964, 120), I(ir2_delay_r_delay_numer, 1968, 12), TXT(ir2_file_a, 1972, 300),
    TXT(ir2_file_b, 2272, 300), F(ir1_tail_length, 2572, 0.36), I(ir1_tail_character, 2576),
    F(ir1_tail_diffusion, 2580, 0.39), I(ir1_tail_density, 2584), F(ir1_tail_variant, 2588),
    F(ir1_tail_diffuse_length, 2592, 1), F(ir2_tail_diffusion, 2596, 0.39), F(ir2_tail_length, 2600, 0.36),
    I(ir2_tail_character, 2604), I(ir2_tail_density, 2608), F(ir2_tail_variant, 2612),
    F(ir2_tail_diffuse_length, 2616, 1), F(ir1_additive_noise_wet, 2620), F(ir2_additive_noise_wet, 2624),
    F(ir1_additive_noise_dry, 2628, 1), F(ir2_additive_noise_dry, 2632, 1),
    F(ir1_additive_noise_release, 2636, 0.5), F(ir2_additive_noise_release, 2640, 0.5),
    F(ir1_additive_noise_spare, 2644), F(ir2_additive_noise_spare, 2648),
    F(pitch_mod_ir1_split_point, 2652, 0.1), F(pitch_mod_ir1_section1_toggle, 2656),
    F(pitch_mod_ir1_section1_mod_rate, 2660, 0.2), F(pitch_mod_ir1_section1_mod_depth, 2664, 0.2),
    F(pitch_mod_ir1_section2_toggle, 2668), F(pitch_mod_ir1_section2_mod_rate, 2672, 0.5),
    F(pitch_mod_ir1_section2_mod_depth, 2676, 0.5), F(pitch_mod_ir2_split_point, 2680, 0.1),
    F(pitch_mod_ir2_section1_toggle, 2684), F(pitch_mod_ir2_section1_mod_rate, 2688, 0.2),
    F(pitch_mod_ir2_section1_mod_depth, 2692, 0.2), F(pitch_mod_ir2_section2_toggle, 2696),
    F(pitch_mod_ir2_section2_mod_rate, 2700, 0.5), F(pitch_mod_ir2_section2_mod_depth, 2704, 0.5),
    F(ir1_stacked_rate, 2708, 0.5), F(ir1_stacked_head_tail_mix, 2712, 0.5), F(ir1_stacked_depth, 2716, 1),
    F(ir1_stacked_head_permit_mod, 2720, 1), F(ir2_stacked_rate, 2724, 0.5),
    F(ir2_stacked_head_tail_mix, 2728, 0.5), F(ir2_stacked_depth, 2732, 1),
    F(ir2_stacked_head_permit_mod, 2736, 1), RSV(reserved_2740, 2740, 92),
    I(ir2_delay_r_delay_denom, 2832, 16), F(ir2_delay_r_delay_mod, 2836, 0.15),
    F(ir2_delay_r_delay_mod_rate, 2840, 0.32), F(ir2_delay_r_feedback, 2844),
    F(ir2_delay_r_feedback_opposite, 2848, 0.45), F(ir2_delay_r_wet, 2852, 0.71),
    F(master_delay_dry, 2856, 1), F(master_delay_l_toggle, 2860), F(master_delay_l_tempo, 2864, 120),
    I(master_delay_l_delay_numer, 2868, 3), I(master_delay_l_delay_denom, 2872, 16),
    F(master_delay_l_delay_mod, 2876, 0.05), F(master_delay_l_delay_mod_rate, 2880, 0.4),
    F(master_delay_l_feedback, 2884), F(master_delay_l_feedback_opposite, 2888, 0.4),
    F(master_delay_l_wet, 2892, 0.71), F(master_delay_r_toggle, 2896), F(master_delay_r_tempo, 2900, 120),
    I(master_delay_r_delay_numer, 2904, 5), I(master_delay_r_delay_denom, 2908, 16),
    F(master_delay_r_delay_mod, 2912, 0.1), F(master_delay_r_delay_mod_rate, 2916, 0.3),
    F(master_delay_r_feedback, 2920), F(master_delay_r_feedback_opposite, 2924, 0.45),
    F(master_delay_r_wet, 2928, 0.71), F(master_delay_l_tempo_lock, 2932, 1),
    F(master_delay_r_tempo_lock, 2936, 1), F(ir1_delay_l_tempo_lock, 2940, 1),
    F(ir1_delay_r_tempo_lock, 2944, 1), F(ir2_delay_l_tempo_lock, 2948, 1),
    F(ir2_delay_r_tempo_lock, 2952, 1), I(ir1_source_type, 2956), I(ir2_source_type, 2960),
    UNSET(version_stamp, 2964), UNSET(current_program, 2968),
};
#undef CV_ROW
#undef CV_IS
#undef F
#undef I
#undef UNSET
#undef TXT
#undef RSV
// clang-format on

// Throws for an unknown name, so that a typo fails the test.
inline FieldRow const& field_row(std::string const& name)
{
    for (FieldRow const& row : program_fields)
        if (name == row.name) return row;
    throw std::out_of_range("no record field named " + name);
}

inline unsigned char const* bytes_of(VST_Plugin_Program const& p)
{
    return reinterpret_cast<unsigned char const*>(&p);
}

// A 32-bit slot by name, read as its kind.
inline double slot_value(VST_Plugin_Program const& p, std::string const& name)
{
    FieldRow const& row = field_row(name);
    float f;
    std::int32_t i;
    std::memcpy(&f, bytes_of(p) + row.offset, 4);
    std::memcpy(&i, bytes_of(p) + row.offset, 4);
    return row.kind == FieldKind::f32 ? double(f) : double(i);
}

inline void set_slot(VST_Plugin_Program& p, std::string const& name, double value)
{
    FieldRow const& row = field_row(name);
    auto* at = reinterpret_cast<unsigned char*>(&p) + row.offset;
    float const f = static_cast<float>(value);
    std::int32_t const i = static_cast<std::int32_t>(value);
    row.kind == FieldKind::f32 ? std::memcpy(at, &f, 4) : std::memcpy(at, &i, 4);
}

// Every slot holds a float no default and no other slot has (1000 + slot number; integers get its
// bits); texts hold a distinct string.
inline VST_Plugin_Program filled_program()
{
    VST_Plugin_Program p;
    auto* bytes = reinterpret_cast<unsigned char*>(&p);
    for (std::size_t at = 0; at < sizeof p; at += 4) {
        float const f = 1000.0f + static_cast<float>(at / 4);
        std::memcpy(bytes + at, &f, 4);
    }
    for (FieldRow const& row : program_fields)
        if (row.kind == FieldKind::text)
            std::snprintf(reinterpret_cast<char*>(bytes + row.offset), row.width, "/text/%s", row.name);
    return p;
}

inline std::set<std::string> changed_fields(VST_Plugin_Program const& before, VST_Plugin_Program const& after)
{
    std::set<std::string> changed;
    for (FieldRow const& row : program_fields)
        if (std::memcmp(bytes_of(before) + row.offset, bytes_of(after) + row.offset, row.width) != 0)
            changed.insert(row.name);
    return changed;
}

// Field `a` of `x` equals field `b` of `y`: byte for byte, or for texts up to the terminator when
// `whole` is false (paths are copied as strings).
inline bool same_field(VST_Plugin_Program const& x, std::string const& a, VST_Plugin_Program const& y,
                       std::string const& b, bool whole = true)
{
    FieldRow const& ra = field_row(a);
    auto const* xa = reinterpret_cast<char const*>(bytes_of(x) + ra.offset);
    auto const* yb = reinterpret_cast<char const*>(bytes_of(y) + field_row(b).offset);
    if (whole || ra.kind != FieldKind::text) return std::memcmp(xa, yb, ra.width) == 0;
    return std::string(xa, strnlen(xa, ra.width)) == std::string(yb, strnlen(yb, ra.width));
}

inline std::set<std::string> fields_with_prefix(std::string const& prefix)
{
    std::set<std::string> names;
    for (FieldRow const& row : program_fields)
        if (std::string(row.name).starts_with(prefix)) names.insert(row.name);
    return names;
}

} // namespace corvella::test
