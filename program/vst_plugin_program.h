#pragma once

#include "program/program_constants.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

// One program: every user setting of the effect in one flat record of 743 little-endian 32-bit
// slots (2,972 bytes). State chunks, bank files and preset files hold these records byte for
// byte, so the member order below is a file format: never reorder, insert or resize a member.
// Field names are the parameter keys. Floats are unity values (0..1) unless a comment says
// otherwise; "toggle" slots hold 0.0 or 1.0.
//
// Threading: the record has no lock. The host binding writes it on the host's threads while the
// audio thread and the IR worker read it; every write is a single aligned 32-bit store and no
// reader relies on two slots changing together (file paths excepted, whose changes are announced
// by recompute requests). The group operations below are for the host and editor threads only.
struct VST_Plugin_Program {
    char name[24]; // NUL-terminated

    float master_gain;
    float master_mix;
    float master_ir1_ir2_mix;
    float master_ir1_ir2_mix_mod;

    float ir1_toggle;
    float ir1_gain;
    float ir1_balance;
    float ir1_user_resample_factor;
    float ir1_crop_from_start;
    float ir1_crop_from_end;
    float ir1_pre_delay;
    float ir1_adshr_a;
    float ir1_adshr_d;
    float ir1_adshr_s;
    float ir1_adshr_h;
    float ir1_adshr_r;

    float ir2_toggle;
    float ir2_gain;
    float ir2_balance;
    float ir2_user_resample_factor;
    float ir2_crop_from_start;
    float ir2_crop_from_end;
    float ir2_pre_delay;
    float ir2_adshr_a;
    float ir2_adshr_d;
    float ir2_adshr_s;
    float ir2_adshr_h;
    float ir2_adshr_r;

    // IR1 EQ: master toggle, then bands 1..5 as toggle, mode, freq, gain, q.
    float ir1_flt_master_toggle;
    float ir1_flt1_toggle, ir1_flt1_mode, ir1_flt1_freq, ir1_flt1_gain, ir1_flt1_q;
    float ir1_flt2_toggle, ir1_flt2_mode, ir1_flt2_freq, ir1_flt2_gain, ir1_flt2_q;
    float ir1_flt3_toggle, ir1_flt3_mode, ir1_flt3_freq, ir1_flt3_gain, ir1_flt3_q;
    float ir1_flt4_toggle, ir1_flt4_mode, ir1_flt4_freq, ir1_flt4_gain, ir1_flt4_q;
    float ir1_flt5_toggle, ir1_flt5_mode, ir1_flt5_freq, ir1_flt5_gain, ir1_flt5_q;

    float ir2_flt_master_toggle;
    float ir2_flt1_toggle, ir2_flt1_mode, ir2_flt1_freq, ir2_flt1_gain, ir2_flt1_q;
    float ir2_flt2_toggle, ir2_flt2_mode, ir2_flt2_freq, ir2_flt2_gain, ir2_flt2_q;
    float ir2_flt3_toggle, ir2_flt3_mode, ir2_flt3_freq, ir2_flt3_gain, ir2_flt3_q;
    float ir2_flt4_toggle, ir2_flt4_mode, ir2_flt4_freq, ir2_flt4_gain, ir2_flt4_q;
    float ir2_flt5_toggle, ir2_flt5_mode, ir2_flt5_freq, ir2_flt5_gain, ir2_flt5_q;

    // Post EQ. Band 2 stores its gain after the two gain-modulation slots.
    float flt_master_toggle;
    float flt1_toggle, flt1_mode, flt1_freq, flt1_freq_mod, flt1_freq_mod_phase;
    float flt1_gain, flt1_gain_mod, flt1_gain_mod_phase, flt1_q;
    float flt2_toggle, flt2_mode, flt2_freq, flt2_freq_mod, flt2_freq_mod_phase;
    float flt2_gain_mod, flt2_gain_mod_phase, flt2_gain, flt2_q;
    float flt3_toggle, flt3_mode, flt3_freq, flt3_freq_mod, flt3_freq_mod_phase;
    float flt3_gain, flt3_gain_mod, flt3_gain_mod_phase, flt3_q;
    float flt4_toggle, flt4_mode, flt4_freq, flt4_freq_mod, flt4_freq_mod_phase;
    float flt4_gain, flt4_gain_mod, flt4_gain_mod_phase, flt4_q;
    float flt5_toggle, flt5_mode, flt5_freq, flt5_freq_mod, flt5_freq_mod_phase;
    float flt5_gain, flt5_gain_mod, flt5_gain_mod_phase, flt5_q;

    float chorus_master_feedback;
    float chorus_master_width;
    float chorus_master_dry;
    float chorus_master_wet;
    float chorus_master_delay_ms;
    float chorus_master_delay_mod_ms;
    float chorus_master_delay_mod_rate_hz;
    float chorus_master_toggle;

    float lfo1_rate;
    float lfo2_rate;
    float lfo3_rate;
    float ir1_normalise;
    float ir2_normalise;
    float ir1_reverse;
    float ir2_reverse;
    float ir1_topology; // topology / 3, see get_topology_from_unity
    float ir2_topology;
    float master_wet_lock_ignore;

    float chorus_ir1_feedback;
    float chorus_ir1_width;
    float chorus_ir1_dry;
    float chorus_ir1_wet;
    float chorus_ir1_delay_ms;
    float chorus_ir1_delay_mod_ms;
    float chorus_ir1_delay_mod_rate_hz;
    float chorus_ir1_toggle;

    float chorus_ir2_feedback;
    float chorus_ir2_width;
    float chorus_ir2_dry;
    float chorus_ir2_wet;
    float chorus_ir2_delay_ms;
    float chorus_ir2_delay_mod_ms;
    float chorus_ir2_delay_mod_rate_hz;
    float chorus_ir2_toggle;

    float ir1_balance_mod;
    float ir1_balance_mod_phase;
    float ir2_balance_mod;
    float ir2_balance_mod_phase;
    float master_stereo_mono;
    float ir1_stereo_mono;
    float ir2_stereo_mono;
    float ir1_ir2_chain;

    // Envelope shapes.
    float ir1_adshr_a_alpha, ir1_adshr_d_alpha, ir1_adshr_r_alpha;
    float ir1_adshr_a_alpha_inv, ir1_adshr_d_alpha_inv, ir1_adshr_r_alpha_inv;
    float ir2_adshr_a_alpha, ir2_adshr_d_alpha, ir2_adshr_r_alpha;
    float ir2_adshr_a_alpha_inv, ir2_adshr_d_alpha_inv, ir2_adshr_r_alpha_inv;

    // EQ sweep targets, per band: freq_to, freq_to_start, freq_to_end, gain_to, gain_to_start,
    // gain_to_end.
    float ir1_flt1_freq_to, ir1_flt1_freq_to_start, ir1_flt1_freq_to_end;
    float ir1_flt1_gain_to, ir1_flt1_gain_to_start, ir1_flt1_gain_to_end;
    float ir1_flt2_freq_to, ir1_flt2_freq_to_start, ir1_flt2_freq_to_end;
    float ir1_flt2_gain_to, ir1_flt2_gain_to_start, ir1_flt2_gain_to_end;
    float ir1_flt3_freq_to, ir1_flt3_freq_to_start, ir1_flt3_freq_to_end;
    float ir1_flt3_gain_to, ir1_flt3_gain_to_start, ir1_flt3_gain_to_end;
    float ir1_flt4_freq_to, ir1_flt4_freq_to_start, ir1_flt4_freq_to_end;
    float ir1_flt4_gain_to, ir1_flt4_gain_to_start, ir1_flt4_gain_to_end;
    float ir1_flt5_freq_to, ir1_flt5_freq_to_start, ir1_flt5_freq_to_end;
    float ir1_flt5_gain_to, ir1_flt5_gain_to_start, ir1_flt5_gain_to_end;

    float ir2_flt1_freq_to, ir2_flt1_freq_to_start, ir2_flt1_freq_to_end;
    float ir2_flt1_gain_to, ir2_flt1_gain_to_start, ir2_flt1_gain_to_end;
    float ir2_flt2_freq_to, ir2_flt2_freq_to_start, ir2_flt2_freq_to_end;
    float ir2_flt2_gain_to, ir2_flt2_gain_to_start, ir2_flt2_gain_to_end;
    float ir2_flt3_freq_to, ir2_flt3_freq_to_start, ir2_flt3_freq_to_end;
    float ir2_flt3_gain_to, ir2_flt3_gain_to_start, ir2_flt3_gain_to_end;
    float ir2_flt4_freq_to, ir2_flt4_freq_to_start, ir2_flt4_freq_to_end;
    float ir2_flt4_gain_to, ir2_flt4_gain_to_start, ir2_flt4_gain_to_end;
    float ir2_flt5_freq_to, ir2_flt5_freq_to_start, ir2_flt5_freq_to_end; // gain triple at 1872

    char ir1_file_a[corvella::program_path_size];
    char ir1_file_b[corvella::program_path_size]; // second file of a true-stereo pair
    float master_ir1_ir2_mix_law;
    std::int32_t reserved_1576[7]; // carried through unchanged, never interpreted

    float ir1_sts_toggle, ir1_sts_relative_gain, ir1_sts_high_pass_freq, ir1_sts_high_pass_toggle;
    float ir1_sts_pre_delay;
    float ir2_sts_toggle, ir2_sts_relative_gain, ir2_sts_high_pass_freq, ir2_sts_high_pass_toggle;
    float ir2_sts_pre_delay;
    float master_mixer_modulation_order;
    float ir1_cross_channel;
    float ir2_cross_channel;

    float ir1_flt1_freq_mod_shape, ir1_flt2_freq_mod_shape, ir1_flt3_freq_mod_shape;
    float ir1_flt4_freq_mod_shape, ir1_flt5_freq_mod_shape;
    float ir2_flt1_freq_mod_shape, ir2_flt2_freq_mod_shape, ir2_flt3_freq_mod_shape;
    float ir2_flt4_freq_mod_shape, ir2_flt5_freq_mod_shape;
    float ir1_flt1_gain_mod_shape, ir1_flt2_gain_mod_shape, ir1_flt3_gain_mod_shape;
    float ir1_flt4_gain_mod_shape, ir1_flt5_gain_mod_shape;
    float ir2_flt1_gain_mod_shape, ir2_flt2_gain_mod_shape, ir2_flt3_gain_mod_shape;
    float ir2_flt4_gain_mod_shape, ir2_flt5_gain_mod_shape;

    // Read and written by the host binding only.
    std::int32_t host_data_1, host_data_2, host_data_3, host_data_4;

    // Wet and gain locks: meaningful in record 0 of a bank only.
    float master_mix_lock_status;
    float master_mix_locked_value;
    float master_gain_lock_status;
    float master_gain_locked_value;

    float ir1_width;
    float ir2_width;

    float ir1_er_size, ir1_er_diffusion, ir1_er_distance, ir1_er_position, ir1_er_separation;
    std::int32_t ir1_er_type; // room design index of the early-reflection generator
    float ir1_er_depth;
    float ir2_er_size, ir2_er_diffusion, ir2_er_distance, ir2_er_position, ir2_er_separation;
    std::int32_t ir2_er_type;
    float ir2_er_depth;

    float ir1_delay_dry;
    float ir1_delay_l_toggle;
    float ir1_delay_l_tempo; // beats per minute
    std::int32_t ir1_delay_l_delay_numer;
    std::int32_t ir1_delay_l_delay_denom;
    float ir1_delay_l_delay_mod;
    float ir1_delay_l_delay_mod_rate;
    float ir1_delay_l_feedback;
    float ir1_delay_l_feedback_opposite;
    float ir1_delay_l_wet;

    float ir2_flt5_gain_to, ir2_flt5_gain_to_start, ir2_flt5_gain_to_end;

    float ir1_delay_r_toggle;
    float ir1_delay_r_tempo; // beats per minute
    std::int32_t ir1_delay_r_delay_numer;
    std::int32_t ir1_delay_r_delay_denom;
    float ir1_delay_r_delay_mod;
    float ir1_delay_r_delay_mod_rate;
    float ir1_delay_r_feedback;
    float ir1_delay_r_feedback_opposite;
    float ir1_delay_r_wet;

    float ir2_delay_dry;
    float ir2_delay_l_toggle;
    float ir2_delay_l_tempo; // beats per minute
    std::int32_t ir2_delay_l_delay_numer;
    std::int32_t ir2_delay_l_delay_denom;
    float ir2_delay_l_delay_mod;
    float ir2_delay_l_delay_mod_rate;
    float ir2_delay_l_feedback;
    float ir2_delay_l_feedback_opposite;
    float ir2_delay_l_wet;
    float ir2_delay_r_toggle;
    float ir2_delay_r_tempo;              // beats per minute
    std::int32_t ir2_delay_r_delay_numer; // the rest of this delay side starts at 2832

    char ir2_file_a[corvella::program_path_size];
    char ir2_file_b[corvella::program_path_size];

    float ir1_tail_length;
    std::int32_t ir1_tail_character; // index into the tail generator's character list
    float ir1_tail_diffusion;
    std::int32_t ir1_tail_density; // index into the tail generator's density list
    float ir1_tail_variant;
    float ir1_tail_diffuse_length;
    float ir2_tail_diffusion; // IR2 stores diffusion before length
    float ir2_tail_length;
    std::int32_t ir2_tail_character;
    std::int32_t ir2_tail_density;
    float ir2_tail_variant;
    float ir2_tail_diffuse_length;

    float ir1_additive_noise_wet, ir2_additive_noise_wet;
    float ir1_additive_noise_dry, ir2_additive_noise_dry;
    float ir1_additive_noise_release, ir2_additive_noise_release;
    float ir1_additive_noise_spare, ir2_additive_noise_spare; // kept with the IR groups, unused

    float pitch_mod_ir1_split_point;
    float pitch_mod_ir1_section1_toggle, pitch_mod_ir1_section1_mod_rate, pitch_mod_ir1_section1_mod_depth;
    float pitch_mod_ir1_section2_toggle, pitch_mod_ir1_section2_mod_rate, pitch_mod_ir1_section2_mod_depth;
    float pitch_mod_ir2_split_point;
    float pitch_mod_ir2_section1_toggle, pitch_mod_ir2_section1_mod_rate, pitch_mod_ir2_section1_mod_depth;
    float pitch_mod_ir2_section2_toggle, pitch_mod_ir2_section2_mod_rate, pitch_mod_ir2_section2_mod_depth;

    float ir1_stacked_rate, ir1_stacked_head_tail_mix, ir1_stacked_depth, ir1_stacked_head_permit_mod;
    float ir2_stacked_rate, ir2_stacked_head_tail_mix, ir2_stacked_depth, ir2_stacked_head_permit_mod;

    std::int32_t reserved_2740[23]; // carried through unchanged, never interpreted

    std::int32_t ir2_delay_r_delay_denom;
    float ir2_delay_r_delay_mod;
    float ir2_delay_r_delay_mod_rate;
    float ir2_delay_r_feedback;
    float ir2_delay_r_feedback_opposite;
    float ir2_delay_r_wet;

    float master_delay_dry;
    float master_delay_l_toggle;
    float master_delay_l_tempo; // beats per minute
    std::int32_t master_delay_l_delay_numer;
    std::int32_t master_delay_l_delay_denom;
    float master_delay_l_delay_mod;
    float master_delay_l_delay_mod_rate;
    float master_delay_l_feedback;
    float master_delay_l_feedback_opposite;
    float master_delay_l_wet;
    float master_delay_r_toggle;
    float master_delay_r_tempo; // beats per minute
    std::int32_t master_delay_r_delay_numer;
    std::int32_t master_delay_r_delay_denom;
    float master_delay_r_delay_mod;
    float master_delay_r_delay_mod_rate;
    float master_delay_r_feedback;
    float master_delay_r_feedback_opposite;
    float master_delay_r_wet;

    float master_delay_l_tempo_lock, master_delay_r_tempo_lock;
    float ir1_delay_l_tempo_lock, ir1_delay_r_tempo_lock;
    float ir2_delay_l_tempo_lock, ir2_delay_r_tempo_lock;

    std::int32_t ir1_source_type; // 0 audio file, 1 early reflections, 2 algorithmic tail
    std::int32_t ir2_source_type;
    std::int32_t version_stamp;   // program version that last wrote the record; reset() leaves it
    std::int32_t current_program; // record 0 of a bank: index of the current program

    // All defaults, current_program = 0; reserved slots, version_stamp and name bytes 8..23 are
    // zeroed so that a new record always stores the same bytes.
    VST_Plugin_Program();

    // Every slot with a default takes it; the file paths become empty; the name becomes
    // "Default" (first 8 bytes only). Reserved slots, version_stamp and current_program stay.
    void reset();

    // Mixer page defaults. Unlike reset(), the mix knobs are centred (master_mix = 0.5).
    void reset_mixer();
    void reset_post_eq(); // post EQ bands plus lfo1_rate and lfo2_rate
    void reset_chorus_post();
    void reset_chorus_ir1();
    void reset_chorus_ir2();
    void reset_delay_master(); // 21 slots, tempo locks included
    void reset_delay_ir1();
    void reset_delay_ir2();
    void reset_ir1_eq(); // master toggle, bands, sweep targets and mod shapes
    void reset_ir2_eq();

    // IR slot resets; each also renames the program "Default".
    void reset_ir1();
    void reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod();
    void reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();
    void reset_ir2();
    void reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod();
    void reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();

    // Copy one IR slot's settings onto the other. The STS settings and the name never move; the
    // two shortest variants also keep the destination's additive noise wet level.
    void push_ir1_to_ir2();
    void push_ir1_to_ir2_except_mixer();
    void push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod();
    void push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();
    void push_ir2_to_ir1();
    void push_ir2_to_ir1_except_mixer();
    void push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod();
    void push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();

    // Exchanges IR1 and IR2. Stay in place: name, ir1_ir2_chain, the ER room types, the tail
    // character and density indices, STS, stacked settings and the delay numerators and
    // denominators.
    void swap_ir1_ir2_everything();

    // Brings a record written by an older program version up to date. A stamp below 0 or above
    // current_version marks an unknown record: every step runs and the stamp becomes
    // current_version. Reads the wet-lock preference from the settings store (a store failure
    // counts as "not locked").
    void check_and_upgrade_program(int current_version);

    // 0 Parallel Stereo, 1 True Stereo, 2 Mono - Stereo, 3 Fusion IR. With two_way only 0, 1 and
    // 2 exist (u = 0 → 0, u = 1 → 2, else 1). Otherwise values outside the three open bands give
    // 3, or 4 when fusion_allowed.
    static int get_topology_from_unity(float u, bool two_way, bool fusion_allowed);
    // table clear: topology / 3. table set: entry of {0, 1/3, 2/3, 0, 1}; topology outside 0..4
    // returns 0.
    static float get_topology_as_unity(int topology, bool table);

    // Fusion modulation rate: 0..1 Hz over u in 0..0.5, then 1..5 Hz.
    static float get_rate_hz(float u);
    // The text helpers write at most out_size bytes (always terminated); out_size must be at
    // least 1 and defaults to corvella::program_text_min_size, which every text fits. A null out
    // or a zero size writes nothing.
    static void get_rate_hz_char(float u, char* out, std::size_t out_size = corvella::program_text_min_size);
    static void get_head_permit_char(float u, char* out,
                                     std::size_t out_size = corvella::program_text_min_size);
    // (early, late) linear gains of the Fusion head/tail mix; both 0 outside 0..1.
    static std::pair<float, float> get_head_tail_mix_tuple_power(float u);
    // "Early: 0.0 dB / Late: -oo dB" (long form) or "0.0 / Late Off" (short form); "err" when u
    // is outside 0..1. The gains are shown as 20 log10 of the linear factors.
    static std::string get_head_tail_mix(float u, bool long_form);
    static void get_head_tail_mix_char(float u, char* out,
                                       std::size_t out_size = corvella::program_text_min_size);
};

namespace corvella {

// One 32-bit slot of a VST_Plugin_Program, float or integer: exactly one pointer is set.
struct ProgramSlot {
    float VST_Plugin_Program::*f = nullptr;
    std::int32_t VST_Plugin_Program::*i = nullptr;

    constexpr ProgramSlot(float VST_Plugin_Program::*p) : f(p) {}
    constexpr ProgramSlot(std::int32_t VST_Plugin_Program::*p) : i(p) {}
};

// The three chorus and three delay blocks of a record.
enum class EffectBlock { post, ir1, ir2 };

// Slots of a chorus block in block order: feedback, width, dry, wet, delay_ms, delay_mod_ms,
// delay_mod_rate_hz, toggle (8 slots).
std::span<ProgramSlot const> chorus_block_slots(EffectBlock block);

// Slots of a delay block in block order: dry, l_toggle, l_tempo, l_delay_numer, l_delay_denom,
// l_delay_mod, l_delay_mod_rate, l_feedback, l_feedback_opposite, l_wet, the same nine for r,
// l_tempo_lock, r_tempo_lock (21 slots). The post block is the master delay.
std::span<ProgramSlot const> delay_block_slots(EffectBlock block);

} // namespace corvella
