#include "program/parameter_table.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace corvella {
namespace {

// clang-format off
constexpr ParameterRow continuous(int index, char const* key, char const* name, int field,
                                  float VST_Plugin_Program::*slot, float default_value)
{
    return {index, key, name, field, ParameterKind::continuous, continuous_steps,
            ParameterStore::program, slot, default_value};
}

constexpr ParameterRow on_off(int index, char const* key, char const* name, int field,
                              float VST_Plugin_Program::*slot, float default_value)
{
    return {index, key, name, field, ParameterKind::on_off, on_off_steps,
            ParameterStore::program, slot, default_value};
}

// The gain and mix lock switches: continuous towards the host, stored in record 0.
constexpr ParameterRow lock(int index, char const* key, char const* name, int field,
                            float VST_Plugin_Program::*slot, float default_value)
{
    return {index, key, name, field, ParameterKind::continuous, continuous_steps,
            ParameterStore::lock_record, slot, default_value};
}

// The program selector has no slot: selecting acts on current_program and reads back as 0.
constexpr ParameterRow selector(int index, char const* key, char const* name, int field)
{
    return {index, key, name, field, ParameterKind::program_selector, program_selector_steps,
            ParameterStore::none, nullptr, 0.0f};
}

// Registration order. Post EQ band 2 binds its gain after the two gain-modulation rows (fields
// 259, 257, 258 for rows 227, 228, 229), as the record stores them.
constexpr std::array<ParameterRow, keyed_parameter_count> rows{{
    continuous(0, "master_gain", "0: Gain", 30, &VST_Plugin_Program::master_gain, 0.5f),
    continuous(1, "master_mix", "1: ReverbMi", 31, &VST_Plugin_Program::master_mix, 1.0f),
    continuous(2, "master_wet_lock_ignore", "2: WetLockI", 32, &VST_Plugin_Program::master_wet_lock_ignore, 0.0f),
    continuous(3, "master_ir1_ir2_mix", "3: IR1/2Mix", 33, &VST_Plugin_Program::master_ir1_ir2_mix, 0.5f),
    continuous(4, "master_ir1_ir2_mix_mod", "4: IRMixMod", 34, &VST_Plugin_Program::master_ir1_ir2_mix_mod, 0.0f),
    continuous(5, "master_stereo_mono", "5: MasterSt", 35, &VST_Plugin_Program::master_stereo_mono, 0.0f),
    continuous(6, "master_mixer_modulation_order", "6: MxModOrd", 36, &VST_Plugin_Program::master_mixer_modulation_order, 1.0f),
    on_off(7, "ir1_toggle", "7: IROnOff1", 37, &VST_Plugin_Program::ir1_toggle, 1.0f),
    continuous(8, "ir1_topology", "8: IRTplgy1", 38, &VST_Plugin_Program::ir1_topology, 0.0f),
    continuous(9, "ir1_width", "9: IRWidth1", 39, &VST_Plugin_Program::ir1_width, 0.5f),
    continuous(10, "ir1_normalise", "10: IRNorm1", 40, &VST_Plugin_Program::ir1_normalise, 1.0f),
    continuous(11, "ir1_gain", "11: IRGain1", 41, &VST_Plugin_Program::ir1_gain, 0.3f),
    continuous(12, "ir1_balance", "12: IRBal1", 42, &VST_Plugin_Program::ir1_balance, 0.5f),
    continuous(13, "ir1_balance_mod", "13: IRBal1Md", 43, &VST_Plugin_Program::ir1_balance_mod, 0.0f),
    continuous(14, "ir1_balance_mod_phase", "14: IRBal1Ph", 44, &VST_Plugin_Program::ir1_balance_mod_phase, 0.0f),
    continuous(15, "ir1_stereo_mono", "15: IR1St", 45, &VST_Plugin_Program::ir1_stereo_mono, 0.0f),
    continuous(16, "ir1_user_resample_factor", "16: Length1", 46, &VST_Plugin_Program::ir1_user_resample_factor, 0.5f),
    continuous(17, "ir1_crop_from_start", "17: CropStrt", 47, &VST_Plugin_Program::ir1_crop_from_start, 0.0f),
    continuous(18, "ir1_crop_from_end", "18: CropEnd1", 48, &VST_Plugin_Program::ir1_crop_from_end, 1.0f),
    continuous(19, "ir1_reverse", "19: IRRev1", 49, &VST_Plugin_Program::ir1_reverse, 0.0f),
    continuous(20, "ir1_pre_delay", "20: PreDelay", 50, &VST_Plugin_Program::ir1_pre_delay, 0.0f),
    continuous(21, "ir1_adshr_a", "21: Attack1", 51, &VST_Plugin_Program::ir1_adshr_a, 0.0f),
    continuous(22, "ir1_adshr_d", "22: Decay1", 52, &VST_Plugin_Program::ir1_adshr_d, 0.0f),
    continuous(23, "ir1_adshr_s", "23: Sustain1", 53, &VST_Plugin_Program::ir1_adshr_s, 1.0f),
    continuous(24, "ir1_adshr_h", "24: Hold1", 54, &VST_Plugin_Program::ir1_adshr_h, 1.0f),
    continuous(25, "ir1_adshr_r", "25: Release1", 55, &VST_Plugin_Program::ir1_adshr_r, 0.0f),
    continuous(26, "ir1_adshr_a_alpha", "26: Atk1Shp", 56, &VST_Plugin_Program::ir1_adshr_a_alpha, 0.0f),
    continuous(27, "ir1_adshr_d_alpha", "27: Dec1Shp", 57, &VST_Plugin_Program::ir1_adshr_d_alpha, 0.0f),
    continuous(28, "ir1_adshr_r_alpha", "28: Rel1Shp", 58, &VST_Plugin_Program::ir1_adshr_r_alpha, 0.0f),
    continuous(29, "ir1_adshr_a_alpha_inv", "29: Atk1ShpI", 59, &VST_Plugin_Program::ir1_adshr_a_alpha_inv, 0.0f),
    continuous(30, "ir1_adshr_d_alpha_inv", "30: Dec1ShpI", 60, &VST_Plugin_Program::ir1_adshr_d_alpha_inv, 0.0f),
    continuous(31, "ir1_adshr_r_alpha_inv", "31: Rel1ShpI", 61, &VST_Plugin_Program::ir1_adshr_r_alpha_inv, 0.0f),
    continuous(32, "ir1_er_size", "32: ERSize1", 62, &VST_Plugin_Program::ir1_er_size, 0.5f),
    continuous(33, "ir1_er_diffusion", "33: ERDiff1", 63, &VST_Plugin_Program::ir1_er_diffusion, 0.5f),
    continuous(34, "ir1_er_distance", "34: ERDist1", 64, &VST_Plugin_Program::ir1_er_distance, 0.5f),
    continuous(35, "ir1_er_position", "35: ERPos1", 65, &VST_Plugin_Program::ir1_er_position, 0.5f),
    continuous(36, "ir1_er_separation", "36: ERSepr1", 66, &VST_Plugin_Program::ir1_er_separation, 0.5f),
    continuous(37, "ir1_er_depth", "37: ERDpth1", 67, &VST_Plugin_Program::ir1_er_depth, 0.2f),
    continuous(38, "ir1_tail_length", "38: TailLen1", 68, &VST_Plugin_Program::ir1_tail_length, 0.36f),
    continuous(39, "ir1_tail_diffusion", "39: TailDif1", 69, &VST_Plugin_Program::ir1_tail_diffusion, 0.39f),
    continuous(40, "ir1_tail_diffuse_length", "41: TailCnv1", 70, &VST_Plugin_Program::ir1_tail_diffuse_length, 1.0f),
    continuous(41, "ir1_cross_channel", "42: IRXCha1", 71, &VST_Plugin_Program::ir1_cross_channel, 0.0f),
    on_off(42, "ir2_toggle", "43: IROnOff2", 72, &VST_Plugin_Program::ir2_toggle, 0.0f),
    continuous(43, "ir2_topology", "44: IRTplgy2", 73, &VST_Plugin_Program::ir2_topology, 0.0f),
    continuous(44, "ir2_width", "45: IRWidth2", 74, &VST_Plugin_Program::ir2_width, 0.5f),
    continuous(45, "ir2_normalise", "46: IRNorm2", 75, &VST_Plugin_Program::ir2_normalise, 1.0f),
    continuous(46, "ir2_gain", "47: IRGain2", 76, &VST_Plugin_Program::ir2_gain, 0.3f),
    continuous(47, "ir2_balance", "48: IRBal2", 77, &VST_Plugin_Program::ir2_balance, 0.5f),
    continuous(48, "ir2_balance_mod", "49: IRBal2Md", 78, &VST_Plugin_Program::ir2_balance_mod, 0.0f),
    continuous(49, "ir2_balance_mod_phase", "50: IRBal2Ph", 79, &VST_Plugin_Program::ir2_balance_mod_phase, 0.0f),
    continuous(50, "ir2_stereo_mono", "51: IR2St", 80, &VST_Plugin_Program::ir2_stereo_mono, 0.0f),
    continuous(51, "ir2_user_resample_factor", "52: Length2", 81, &VST_Plugin_Program::ir2_user_resample_factor, 0.5f),
    continuous(52, "ir2_crop_from_start", "53: CropStrt", 82, &VST_Plugin_Program::ir2_crop_from_start, 0.0f),
    continuous(53, "ir2_crop_from_end", "54: CropEnd2", 83, &VST_Plugin_Program::ir2_crop_from_end, 1.0f),
    continuous(54, "ir2_reverse", "55: IRRev2", 84, &VST_Plugin_Program::ir2_reverse, 0.0f),
    continuous(55, "ir2_pre_delay", "56: PreDelay", 85, &VST_Plugin_Program::ir2_pre_delay, 0.0f),
    continuous(56, "ir2_adshr_a", "57: Attack2", 86, &VST_Plugin_Program::ir2_adshr_a, 0.0f),
    continuous(57, "ir2_adshr_d", "58: Decay2", 87, &VST_Plugin_Program::ir2_adshr_d, 0.0f),
    continuous(58, "ir2_adshr_s", "59: Sustain2", 88, &VST_Plugin_Program::ir2_adshr_s, 1.0f),
    continuous(59, "ir2_adshr_h", "60: Hold2", 89, &VST_Plugin_Program::ir2_adshr_h, 1.0f),
    continuous(60, "ir2_adshr_r", "61: Release2", 90, &VST_Plugin_Program::ir2_adshr_r, 0.0f),
    continuous(61, "ir2_adshr_a_alpha", "62: Atk2Shp", 91, &VST_Plugin_Program::ir2_adshr_a_alpha, 0.0f),
    continuous(62, "ir2_adshr_d_alpha", "63: Dec2Shp", 92, &VST_Plugin_Program::ir2_adshr_d_alpha, 0.0f),
    continuous(63, "ir2_adshr_r_alpha", "64: Rel2Shp", 93, &VST_Plugin_Program::ir2_adshr_r_alpha, 0.0f),
    continuous(64, "ir2_adshr_a_alpha_inv", "65: Atk2ShpI", 94, &VST_Plugin_Program::ir2_adshr_a_alpha_inv, 0.0f),
    continuous(65, "ir2_adshr_d_alpha_inv", "66: Dec2ShpI", 95, &VST_Plugin_Program::ir2_adshr_d_alpha_inv, 0.0f),
    continuous(66, "ir2_adshr_r_alpha_inv", "67: Rel2ShpI", 96, &VST_Plugin_Program::ir2_adshr_r_alpha_inv, 0.0f),
    continuous(67, "ir2_er_size", "68: ERSize2", 97, &VST_Plugin_Program::ir2_er_size, 0.5f),
    continuous(68, "ir2_er_diffusion", "69: ERDiff2", 98, &VST_Plugin_Program::ir2_er_diffusion, 0.5f),
    continuous(69, "ir2_er_distance", "70: ERDist2", 99, &VST_Plugin_Program::ir2_er_distance, 0.5f),
    continuous(70, "ir2_er_position", "71: ERPos2", 100, &VST_Plugin_Program::ir2_er_position, 0.5f),
    continuous(71, "ir2_er_separation", "72: ERSepr2", 101, &VST_Plugin_Program::ir2_er_separation, 0.5f),
    continuous(72, "ir2_er_depth", "73: ERDpth2", 102, &VST_Plugin_Program::ir2_er_depth, 0.2f),
    continuous(73, "ir2_tail_length", "74: TailLen2", 103, &VST_Plugin_Program::ir2_tail_length, 0.36f),
    continuous(74, "ir2_tail_diffusion", "75: TailDif2", 104, &VST_Plugin_Program::ir2_tail_diffusion, 0.39f),
    continuous(75, "ir2_tail_diffuse_length", "77: TailCnv2", 105, &VST_Plugin_Program::ir2_tail_diffuse_length, 1.0f),
    continuous(76, "ir2_cross_channel", "78: IRXCha2", 106, &VST_Plugin_Program::ir2_cross_channel, 0.0f),
    on_off(77, "ir1_flt_master_toggle", "79: IR1Flt", 107, &VST_Plugin_Program::ir1_flt_master_toggle, 0.0f),
    on_off(78, "ir1_flt1_toggle", "80: IR1Flt1", 108, &VST_Plugin_Program::ir1_flt1_toggle, 0.0f),
    continuous(79, "ir1_flt1_mode", "81: IR1Mode1", 109, &VST_Plugin_Program::ir1_flt1_mode, 0.0f),
    continuous(80, "ir1_flt1_freq", "82: IR1Freq1", 110, &VST_Plugin_Program::ir1_flt1_freq, 0.2f),
    continuous(81, "ir1_flt1_gain", "83: IR1Gain1", 111, &VST_Plugin_Program::ir1_flt1_gain, 0.5f),
    continuous(82, "ir1_flt1_q", "84: IR1Q1", 112, &VST_Plugin_Program::ir1_flt1_q, 0.5f),
    on_off(83, "ir1_flt2_toggle", "85: IR1Flt2", 113, &VST_Plugin_Program::ir1_flt2_toggle, 0.0f),
    continuous(84, "ir1_flt2_mode", "86: IR1Mode2", 114, &VST_Plugin_Program::ir1_flt2_mode, 0.0f),
    continuous(85, "ir1_flt2_freq", "87: IR1Freq2", 115, &VST_Plugin_Program::ir1_flt2_freq, 0.4f),
    continuous(86, "ir1_flt2_gain", "88: IR1Gain2", 116, &VST_Plugin_Program::ir1_flt2_gain, 0.5f),
    continuous(87, "ir1_flt2_q", "89: IR1Q2", 117, &VST_Plugin_Program::ir1_flt2_q, 0.5f),
    on_off(88, "ir1_flt3_toggle", "90: IR1Flt3", 118, &VST_Plugin_Program::ir1_flt3_toggle, 0.0f),
    continuous(89, "ir1_flt3_mode", "91: IR1Mode3", 119, &VST_Plugin_Program::ir1_flt3_mode, 0.0f),
    continuous(90, "ir1_flt3_freq", "92: IR1Freq3", 120, &VST_Plugin_Program::ir1_flt3_freq, 0.6f),
    continuous(91, "ir1_flt3_gain", "93: IR1Gain3", 121, &VST_Plugin_Program::ir1_flt3_gain, 0.5f),
    continuous(92, "ir1_flt3_q", "94: IR1Q3", 122, &VST_Plugin_Program::ir1_flt3_q, 0.5f),
    on_off(93, "ir1_flt4_toggle", "95: IR1Flt4", 123, &VST_Plugin_Program::ir1_flt4_toggle, 0.0f),
    continuous(94, "ir1_flt4_mode", "96: IR1Mode4", 124, &VST_Plugin_Program::ir1_flt4_mode, 0.0f),
    continuous(95, "ir1_flt4_freq", "97: IR1Freq4", 125, &VST_Plugin_Program::ir1_flt4_freq, 0.8f),
    continuous(96, "ir1_flt4_gain", "98: IR1Gain4", 126, &VST_Plugin_Program::ir1_flt4_gain, 0.5f),
    continuous(97, "ir1_flt4_q", "99: IR1Q4", 127, &VST_Plugin_Program::ir1_flt4_q, 0.5f),
    on_off(98, "ir1_flt5_toggle", "100: IR1Flt5", 128, &VST_Plugin_Program::ir1_flt5_toggle, 0.0f),
    continuous(99, "ir1_flt5_mode", "101: IR1Mode5", 129, &VST_Plugin_Program::ir1_flt5_mode, 0.0f),
    continuous(100, "ir1_flt5_freq", "102: IR1Freq5", 130, &VST_Plugin_Program::ir1_flt5_freq, 1.0f),
    continuous(101, "ir1_flt5_gain", "103: IR1Gain5", 131, &VST_Plugin_Program::ir1_flt5_gain, 0.5f),
    continuous(102, "ir1_flt5_q", "104: IR1Q5", 132, &VST_Plugin_Program::ir1_flt5_q, 0.5f),
    on_off(103, "ir2_flt_master_toggle", "105: IR2Flt", 133, &VST_Plugin_Program::ir2_flt_master_toggle, 0.0f),
    on_off(104, "ir2_flt1_toggle", "106: IR2Flt1", 134, &VST_Plugin_Program::ir2_flt1_toggle, 0.0f),
    continuous(105, "ir2_flt1_mode", "107: IR2Mode1", 135, &VST_Plugin_Program::ir2_flt1_mode, 0.0f),
    continuous(106, "ir2_flt1_freq", "108: IR2Freq1", 136, &VST_Plugin_Program::ir2_flt1_freq, 0.2f),
    continuous(107, "ir2_flt1_gain", "109: IR2Gain1", 137, &VST_Plugin_Program::ir2_flt1_gain, 0.5f),
    continuous(108, "ir2_flt1_q", "110: IR2Q1", 138, &VST_Plugin_Program::ir2_flt1_q, 0.5f),
    on_off(109, "ir2_flt2_toggle", "111: IR2Flt2", 139, &VST_Plugin_Program::ir2_flt2_toggle, 0.0f),
    continuous(110, "ir2_flt2_mode", "112: IR2Mode2", 140, &VST_Plugin_Program::ir2_flt2_mode, 0.0f),
    continuous(111, "ir2_flt2_freq", "113: IR2Freq2", 141, &VST_Plugin_Program::ir2_flt2_freq, 0.4f),
    continuous(112, "ir2_flt2_gain", "114: IR2Gain2", 142, &VST_Plugin_Program::ir2_flt2_gain, 0.5f),
    continuous(113, "ir2_flt2_q", "115: IR2Q2", 143, &VST_Plugin_Program::ir2_flt2_q, 0.5f),
    on_off(114, "ir2_flt3_toggle", "116: IR2Flt3", 144, &VST_Plugin_Program::ir2_flt3_toggle, 0.0f),
    continuous(115, "ir2_flt3_mode", "117: IR2Mode3", 145, &VST_Plugin_Program::ir2_flt3_mode, 0.0f),
    continuous(116, "ir2_flt3_freq", "118: IR2Freq3", 146, &VST_Plugin_Program::ir2_flt3_freq, 0.6f),
    continuous(117, "ir2_flt3_gain", "119: IR2Gain3", 147, &VST_Plugin_Program::ir2_flt3_gain, 0.5f),
    continuous(118, "ir2_flt3_q", "120: IR2Q3", 148, &VST_Plugin_Program::ir2_flt3_q, 0.5f),
    on_off(119, "ir2_flt4_toggle", "121: IR2Flt4", 149, &VST_Plugin_Program::ir2_flt4_toggle, 0.0f),
    continuous(120, "ir2_flt4_mode", "122: IR2Mode4", 150, &VST_Plugin_Program::ir2_flt4_mode, 0.0f),
    continuous(121, "ir2_flt4_freq", "123: IR2Freq4", 151, &VST_Plugin_Program::ir2_flt4_freq, 0.8f),
    continuous(122, "ir2_flt4_gain", "124: IR2Gain4", 152, &VST_Plugin_Program::ir2_flt4_gain, 0.5f),
    continuous(123, "ir2_flt4_q", "125: IR2Q4", 153, &VST_Plugin_Program::ir2_flt4_q, 0.5f),
    on_off(124, "ir2_flt5_toggle", "126: IR2Flt5", 154, &VST_Plugin_Program::ir2_flt5_toggle, 0.0f),
    continuous(125, "ir2_flt5_mode", "127: IR2Mode5", 155, &VST_Plugin_Program::ir2_flt5_mode, 0.0f),
    continuous(126, "ir2_flt5_freq", "128: IR2Freq5", 156, &VST_Plugin_Program::ir2_flt5_freq, 1.0f),
    continuous(127, "ir2_flt5_gain", "129: IR2Gain5", 157, &VST_Plugin_Program::ir2_flt5_gain, 0.5f),
    continuous(128, "ir2_flt5_q", "130: IR2Q5", 158, &VST_Plugin_Program::ir2_flt5_q, 0.5f),
    continuous(129, "ir1_flt1_freq_to", "131: IR1Fq1to", 159, &VST_Plugin_Program::ir1_flt1_freq_to, 0.0f),
    continuous(130, "ir1_flt1_freq_to_start", "132: IR1Fq1st", 160, &VST_Plugin_Program::ir1_flt1_freq_to_start, 0.0f),
    continuous(131, "ir1_flt1_freq_to_end", "133: IR1Fq1en", 161, &VST_Plugin_Program::ir1_flt1_freq_to_end, 1.0f),
    continuous(132, "ir1_flt1_gain_to", "134: IR1Gn1to", 162, &VST_Plugin_Program::ir1_flt1_gain_to, 0.0f),
    continuous(133, "ir1_flt1_gain_to_start", "135: IR1Gn1st", 163, &VST_Plugin_Program::ir1_flt1_gain_to_start, 0.0f),
    continuous(134, "ir1_flt1_gain_to_end", "136: IR1Gn1en", 164, &VST_Plugin_Program::ir1_flt1_gain_to_end, 1.0f),
    continuous(135, "ir1_flt2_freq_to", "137: IR1Fq2to", 165, &VST_Plugin_Program::ir1_flt2_freq_to, 0.0f),
    continuous(136, "ir1_flt2_freq_to_start", "138: IR1Fq2st", 166, &VST_Plugin_Program::ir1_flt2_freq_to_start, 0.0f),
    continuous(137, "ir1_flt2_freq_to_end", "139: IR1Fq2en", 167, &VST_Plugin_Program::ir1_flt2_freq_to_end, 1.0f),
    continuous(138, "ir1_flt2_gain_to", "140: IR1Gn2to", 168, &VST_Plugin_Program::ir1_flt2_gain_to, 0.0f),
    continuous(139, "ir1_flt2_gain_to_start", "141: IR1Gn2st", 169, &VST_Plugin_Program::ir1_flt2_gain_to_start, 0.0f),
    continuous(140, "ir1_flt2_gain_to_end", "142: IR1Gn2en", 170, &VST_Plugin_Program::ir1_flt2_gain_to_end, 1.0f),
    continuous(141, "ir1_flt3_freq_to", "143: IR1Fq3to", 171, &VST_Plugin_Program::ir1_flt3_freq_to, 0.0f),
    continuous(142, "ir1_flt3_freq_to_start", "144: IR1Fq3st", 172, &VST_Plugin_Program::ir1_flt3_freq_to_start, 0.0f),
    continuous(143, "ir1_flt3_freq_to_end", "145: IR1Fq3en", 173, &VST_Plugin_Program::ir1_flt3_freq_to_end, 1.0f),
    continuous(144, "ir1_flt3_gain_to", "146: IR1Gn3to", 174, &VST_Plugin_Program::ir1_flt3_gain_to, 0.0f),
    continuous(145, "ir1_flt3_gain_to_start", "147: IR1Gn3st", 175, &VST_Plugin_Program::ir1_flt3_gain_to_start, 0.0f),
    continuous(146, "ir1_flt3_gain_to_end", "148: IR1Gn3en", 176, &VST_Plugin_Program::ir1_flt3_gain_to_end, 1.0f),
    continuous(147, "ir1_flt4_freq_to", "149: IR1Fq4to", 177, &VST_Plugin_Program::ir1_flt4_freq_to, 0.0f),
    continuous(148, "ir1_flt4_freq_to_start", "150: IR1Fq4st", 178, &VST_Plugin_Program::ir1_flt4_freq_to_start, 0.0f),
    continuous(149, "ir1_flt4_freq_to_end", "151: IR1Fq4en", 179, &VST_Plugin_Program::ir1_flt4_freq_to_end, 1.0f),
    continuous(150, "ir1_flt4_gain_to", "152: IR1Gn4to", 180, &VST_Plugin_Program::ir1_flt4_gain_to, 0.0f),
    continuous(151, "ir1_flt4_gain_to_start", "153: IR1Gn4st", 181, &VST_Plugin_Program::ir1_flt4_gain_to_start, 0.0f),
    continuous(152, "ir1_flt4_gain_to_end", "154: IR1Gn4en", 182, &VST_Plugin_Program::ir1_flt4_gain_to_end, 1.0f),
    continuous(153, "ir1_flt5_freq_to", "155: IR1Fq5to", 183, &VST_Plugin_Program::ir1_flt5_freq_to, 0.0f),
    continuous(154, "ir1_flt5_freq_to_start", "156: IR1Fq5st", 184, &VST_Plugin_Program::ir1_flt5_freq_to_start, 0.0f),
    continuous(155, "ir1_flt5_freq_to_end", "157: IR1Fq5en", 185, &VST_Plugin_Program::ir1_flt5_freq_to_end, 1.0f),
    continuous(156, "ir1_flt5_gain_to", "158: IR1Gn5to", 186, &VST_Plugin_Program::ir1_flt5_gain_to, 0.0f),
    continuous(157, "ir1_flt5_gain_to_start", "159: IR1Gn5st", 187, &VST_Plugin_Program::ir1_flt5_gain_to_start, 0.0f),
    continuous(158, "ir1_flt5_gain_to_end", "160: IR1Gn5en", 188, &VST_Plugin_Program::ir1_flt5_gain_to_end, 1.0f),
    continuous(159, "ir2_flt1_freq_to", "161: IR2Fq1to", 189, &VST_Plugin_Program::ir2_flt1_freq_to, 0.0f),
    continuous(160, "ir2_flt1_freq_to_start", "162: IR2Fq1st", 190, &VST_Plugin_Program::ir2_flt1_freq_to_start, 0.0f),
    continuous(161, "ir2_flt1_freq_to_end", "163: IR2Fq1en", 191, &VST_Plugin_Program::ir2_flt1_freq_to_end, 1.0f),
    continuous(162, "ir2_flt1_gain_to", "164: IR2Gn1to", 192, &VST_Plugin_Program::ir2_flt1_gain_to, 0.0f),
    continuous(163, "ir2_flt1_gain_to_start", "165: IR2Gn1st", 193, &VST_Plugin_Program::ir2_flt1_gain_to_start, 0.0f),
    continuous(164, "ir2_flt1_gain_to_end", "166: IR2Gn2en", 194, &VST_Plugin_Program::ir2_flt1_gain_to_end, 1.0f),
    continuous(165, "ir2_flt2_freq_to", "167: IR2Fq2to", 195, &VST_Plugin_Program::ir2_flt2_freq_to, 0.0f),
    continuous(166, "ir2_flt2_freq_to_start", "168: IR2Fq2st", 196, &VST_Plugin_Program::ir2_flt2_freq_to_start, 0.0f),
    continuous(167, "ir2_flt2_freq_to_end", "169: IR2Fq2en", 197, &VST_Plugin_Program::ir2_flt2_freq_to_end, 1.0f),
    continuous(168, "ir2_flt2_gain_to", "170: IR2Gn2to", 198, &VST_Plugin_Program::ir2_flt2_gain_to, 0.0f),
    continuous(169, "ir2_flt2_gain_to_start", "171: IR2Gn2st", 199, &VST_Plugin_Program::ir2_flt2_gain_to_start, 0.0f),
    continuous(170, "ir2_flt2_gain_to_end", "172: IR2Gn2en", 200, &VST_Plugin_Program::ir2_flt2_gain_to_end, 1.0f),
    continuous(171, "ir2_flt3_freq_to", "173: IR2Fq3to", 201, &VST_Plugin_Program::ir2_flt3_freq_to, 0.0f),
    continuous(172, "ir2_flt3_freq_to_start", "174: IR2Fq3st", 202, &VST_Plugin_Program::ir2_flt3_freq_to_start, 0.0f),
    continuous(173, "ir2_flt3_freq_to_end", "175: IR2Fq3en", 203, &VST_Plugin_Program::ir2_flt3_freq_to_end, 1.0f),
    continuous(174, "ir2_flt3_gain_to", "176: IR2Gn3to", 204, &VST_Plugin_Program::ir2_flt3_gain_to, 0.0f),
    continuous(175, "ir2_flt3_gain_to_start", "177: IR2Gn3st", 205, &VST_Plugin_Program::ir2_flt3_gain_to_start, 0.0f),
    continuous(176, "ir2_flt3_gain_to_end", "178: IR2Gn3en", 206, &VST_Plugin_Program::ir2_flt3_gain_to_end, 1.0f),
    continuous(177, "ir2_flt4_freq_to", "179: IR2Fq4to", 207, &VST_Plugin_Program::ir2_flt4_freq_to, 0.0f),
    continuous(178, "ir2_flt4_freq_to_start", "180: IR2Fq4st", 208, &VST_Plugin_Program::ir2_flt4_freq_to_start, 0.0f),
    continuous(179, "ir2_flt4_freq_to_end", "181: IR2Fq4en", 209, &VST_Plugin_Program::ir2_flt4_freq_to_end, 1.0f),
    continuous(180, "ir2_flt4_gain_to", "182: IR2Gn4to", 210, &VST_Plugin_Program::ir2_flt4_gain_to, 0.0f),
    continuous(181, "ir2_flt4_gain_to_start", "183: IR2Gn4st", 211, &VST_Plugin_Program::ir2_flt4_gain_to_start, 0.0f),
    continuous(182, "ir2_flt4_gain_to_end", "184: IR2Gn4en", 212, &VST_Plugin_Program::ir2_flt4_gain_to_end, 1.0f),
    continuous(183, "ir2_flt5_freq_to", "185: IR2Fq5to", 213, &VST_Plugin_Program::ir2_flt5_freq_to, 0.0f),
    continuous(184, "ir2_flt5_freq_to_start", "186: IR2Fq5st", 214, &VST_Plugin_Program::ir2_flt5_freq_to_start, 0.0f),
    continuous(185, "ir2_flt5_freq_to_end", "187: IR2Fq5en", 215, &VST_Plugin_Program::ir2_flt5_freq_to_end, 1.0f),
    continuous(186, "ir2_flt5_gain_to", "188: IR2Gn5to", 216, &VST_Plugin_Program::ir2_flt5_gain_to, 0.0f),
    continuous(187, "ir2_flt5_gain_to_start", "189: IR2Gn5st", 217, &VST_Plugin_Program::ir2_flt5_gain_to_start, 0.0f),
    continuous(188, "ir2_flt5_gain_to_end", "190: IR2Gn5en", 218, &VST_Plugin_Program::ir2_flt5_gain_to_end, 1.0f),
    continuous(189, "ir1_flt1_freq_mod_shape", "191: EQ1Frq1S", 219, &VST_Plugin_Program::ir1_flt1_freq_mod_shape, 0.0f),
    continuous(190, "ir1_flt2_freq_mod_shape", "192: EQ1Frq2S", 220, &VST_Plugin_Program::ir1_flt2_freq_mod_shape, 0.0f),
    continuous(191, "ir1_flt3_freq_mod_shape", "193: EQ1Frq3S", 221, &VST_Plugin_Program::ir1_flt3_freq_mod_shape, 0.0f),
    continuous(192, "ir1_flt4_freq_mod_shape", "194: EQ1Frq4S", 222, &VST_Plugin_Program::ir1_flt4_freq_mod_shape, 0.0f),
    continuous(193, "ir1_flt5_freq_mod_shape", "195: EQ1Frq5S", 223, &VST_Plugin_Program::ir1_flt5_freq_mod_shape, 0.0f),
    continuous(194, "ir2_flt1_freq_mod_shape", "196: EQ2Frq1S", 224, &VST_Plugin_Program::ir2_flt1_freq_mod_shape, 0.0f),
    continuous(195, "ir2_flt2_freq_mod_shape", "197: EQ2Frq2S", 225, &VST_Plugin_Program::ir2_flt2_freq_mod_shape, 0.0f),
    continuous(196, "ir2_flt3_freq_mod_shape", "198: EQ2Frq3S", 226, &VST_Plugin_Program::ir2_flt3_freq_mod_shape, 0.0f),
    continuous(197, "ir2_flt4_freq_mod_shape", "199: EQ2Frq4S", 227, &VST_Plugin_Program::ir2_flt4_freq_mod_shape, 0.0f),
    continuous(198, "ir2_flt5_freq_mod_shape", "200: EQ2Frq5S", 228, &VST_Plugin_Program::ir2_flt5_freq_mod_shape, 0.0f),
    continuous(199, "ir1_flt1_gain_mod_shape", "201: EQ1Gn1S", 229, &VST_Plugin_Program::ir1_flt1_gain_mod_shape, 0.0f),
    continuous(200, "ir1_flt2_gain_mod_shape", "202: EQ1Gn2S", 230, &VST_Plugin_Program::ir1_flt2_gain_mod_shape, 0.0f),
    continuous(201, "ir1_flt3_gain_mod_shape", "203: EQ1Gn3S", 231, &VST_Plugin_Program::ir1_flt3_gain_mod_shape, 0.0f),
    continuous(202, "ir1_flt4_gain_mod_shape", "204: EQ1Gn4S", 232, &VST_Plugin_Program::ir1_flt4_gain_mod_shape, 0.0f),
    continuous(203, "ir1_flt5_gain_mod_shape", "205: EQ1Gn5S", 233, &VST_Plugin_Program::ir1_flt5_gain_mod_shape, 0.0f),
    continuous(204, "ir2_flt1_gain_mod_shape", "206: EQ2Gn1S", 234, &VST_Plugin_Program::ir2_flt1_gain_mod_shape, 0.0f),
    continuous(205, "ir2_flt2_gain_mod_shape", "207: EQ2Gn2S", 235, &VST_Plugin_Program::ir2_flt2_gain_mod_shape, 0.0f),
    continuous(206, "ir2_flt3_gain_mod_shape", "208: EQ2Gn3S", 236, &VST_Plugin_Program::ir2_flt3_gain_mod_shape, 0.0f),
    continuous(207, "ir2_flt4_gain_mod_shape", "209: EQ2Gn4S", 237, &VST_Plugin_Program::ir2_flt4_gain_mod_shape, 0.0f),
    continuous(208, "ir2_flt5_gain_mod_shape", "210: EQ2Gn5S", 238, &VST_Plugin_Program::ir2_flt5_gain_mod_shape, 0.0f),
    continuous(209, "lfo1_rate", "211: LFO1Rate", 239, &VST_Plugin_Program::lfo1_rate, 0.125f),
    continuous(210, "lfo2_rate", "212: LFO2Rate", 240, &VST_Plugin_Program::lfo2_rate, 0.125f),
    continuous(211, "lfo3_rate", "213: LFO3Rate", 241, &VST_Plugin_Program::lfo3_rate, 0.125f),
    on_off(212, "flt_master_toggle", "214: Filters", 242, &VST_Plugin_Program::flt_master_toggle, 0.0f),
    on_off(213, "flt1_toggle", "215: Filter#1", 243, &VST_Plugin_Program::flt1_toggle, 0.0f),
    continuous(214, "flt1_mode", "216: Mode #1", 244, &VST_Plugin_Program::flt1_mode, 0.0f),
    continuous(215, "flt1_freq", "217: Freq #1", 245, &VST_Plugin_Program::flt1_freq, 0.2f),
    continuous(216, "flt1_freq_mod", "218: FrqMod#1", 246, &VST_Plugin_Program::flt1_freq_mod, 0.0f),
    continuous(217, "flt1_freq_mod_phase", "219: FrqMPh#1", 247, &VST_Plugin_Program::flt1_freq_mod_phase, 0.0f),
    continuous(218, "flt1_gain", "220: Gain #1", 248, &VST_Plugin_Program::flt1_gain, 0.5f),
    continuous(219, "flt1_gain_mod", "221: GainM#1", 249, &VST_Plugin_Program::flt1_gain_mod, 0.0f),
    continuous(220, "flt1_gain_mod_phase", "222: GainMP#1", 250, &VST_Plugin_Program::flt1_gain_mod_phase, 0.0f),
    continuous(221, "flt1_q", "223: Q #1", 251, &VST_Plugin_Program::flt1_q, 0.5f),
    on_off(222, "flt2_toggle", "224: Filter#2", 252, &VST_Plugin_Program::flt2_toggle, 0.0f),
    continuous(223, "flt2_mode", "225: Mode #2", 253, &VST_Plugin_Program::flt2_mode, 0.0f),
    continuous(224, "flt2_freq", "226: Freq #2", 254, &VST_Plugin_Program::flt2_freq, 0.4f),
    continuous(225, "flt2_freq_mod", "227: FrqMod#2", 255, &VST_Plugin_Program::flt2_freq_mod, 0.0f),
    continuous(226, "flt2_freq_mod_phase", "228: FrqMPh#2", 256, &VST_Plugin_Program::flt2_freq_mod_phase, 0.0f),
    continuous(227, "flt2_gain", "229: Gain #2", 259, &VST_Plugin_Program::flt2_gain, 0.5f),
    continuous(228, "flt2_gain_mod", "230: GainM#2", 257, &VST_Plugin_Program::flt2_gain_mod, 0.0f),
    continuous(229, "flt2_gain_mod_phase", "231: GainMP#2", 258, &VST_Plugin_Program::flt2_gain_mod_phase, 0.0f),
    continuous(230, "flt2_q", "232: Q #2", 260, &VST_Plugin_Program::flt2_q, 0.5f),
    on_off(231, "flt3_toggle", "233: Filter#3", 261, &VST_Plugin_Program::flt3_toggle, 0.0f),
    continuous(232, "flt3_mode", "234: Mode #3", 262, &VST_Plugin_Program::flt3_mode, 0.0f),
    continuous(233, "flt3_freq", "235: Freq #3", 263, &VST_Plugin_Program::flt3_freq, 0.6f),
    continuous(234, "flt3_freq_mod", "236: FrqMod#3", 264, &VST_Plugin_Program::flt3_freq_mod, 0.0f),
    continuous(235, "flt3_freq_mod_phase", "237: FrqMPh#3", 265, &VST_Plugin_Program::flt3_freq_mod_phase, 0.0f),
    continuous(236, "flt3_gain", "238: Gain #3", 266, &VST_Plugin_Program::flt3_gain, 0.5f),
    continuous(237, "flt3_gain_mod", "239: GainM#3", 267, &VST_Plugin_Program::flt3_gain_mod, 0.0f),
    continuous(238, "flt3_gain_mod_phase", "240: GainMP#3", 268, &VST_Plugin_Program::flt3_gain_mod_phase, 0.0f),
    continuous(239, "flt3_q", "241: Q #3", 269, &VST_Plugin_Program::flt3_q, 0.5f),
    on_off(240, "flt4_toggle", "242: Filter#4", 270, &VST_Plugin_Program::flt4_toggle, 0.0f),
    continuous(241, "flt4_mode", "243: Mode #4", 271, &VST_Plugin_Program::flt4_mode, 0.0f),
    continuous(242, "flt4_freq", "244: Freq #4", 272, &VST_Plugin_Program::flt4_freq, 0.8f),
    continuous(243, "flt4_freq_mod", "245: FrqMod#4", 273, &VST_Plugin_Program::flt4_freq_mod, 0.0f),
    continuous(244, "flt4_freq_mod_phase", "246: FrqMPh#4", 274, &VST_Plugin_Program::flt4_freq_mod_phase, 0.0f),
    continuous(245, "flt4_gain", "247: Gain #4", 275, &VST_Plugin_Program::flt4_gain, 0.5f),
    continuous(246, "flt4_gain_mod", "248: GainM#4", 276, &VST_Plugin_Program::flt4_gain_mod, 0.0f),
    continuous(247, "flt4_gain_mod_phase", "249: GainMP#4", 277, &VST_Plugin_Program::flt4_gain_mod_phase, 0.0f),
    continuous(248, "flt4_q", "250: Q #4", 278, &VST_Plugin_Program::flt4_q, 0.5f),
    on_off(249, "flt5_toggle", "251: Filter#5", 279, &VST_Plugin_Program::flt5_toggle, 0.0f),
    continuous(250, "flt5_mode", "252: Mode #5", 280, &VST_Plugin_Program::flt5_mode, 0.0f),
    continuous(251, "flt5_freq", "253: Freq #5", 281, &VST_Plugin_Program::flt5_freq, 1.0f),
    continuous(252, "flt5_freq_mod", "254: FrqMod#5", 282, &VST_Plugin_Program::flt5_freq_mod, 0.0f),
    continuous(253, "flt5_freq_mod_phase", "255: FrqMPh#5", 283, &VST_Plugin_Program::flt5_freq_mod_phase, 0.0f),
    continuous(254, "flt5_gain", "256: Gain #5", 284, &VST_Plugin_Program::flt5_gain, 0.5f),
    continuous(255, "flt5_gain_mod", "257: GainM#5", 285, &VST_Plugin_Program::flt5_gain_mod, 0.0f),
    continuous(256, "flt5_gain_mod_phase", "258: GainMP#5", 286, &VST_Plugin_Program::flt5_gain_mod_phase, 0.0f),
    continuous(257, "flt5_q", "259: Q #5", 287, &VST_Plugin_Program::flt5_q, 0.5f),
    continuous(258, "chorus_master_feedback", "260: ChrMFdB", 288, &VST_Plugin_Program::chorus_master_feedback, 0.25f),
    continuous(259, "chorus_master_width", "261: ChrMWdth", 289, &VST_Plugin_Program::chorus_master_width, 0.75f),
    continuous(260, "chorus_master_dry", "262: ChrMDry", 290, &VST_Plugin_Program::chorus_master_dry, 1.0f),
    continuous(261, "chorus_master_wet", "263: ChrMWet", 291, &VST_Plugin_Program::chorus_master_wet, 0.8f),
    continuous(262, "chorus_master_delay_ms", "264: ChrMDly", 292, &VST_Plugin_Program::chorus_master_delay_ms, 0.5f),
    continuous(263, "chorus_master_delay_mod_ms", "265: ChrMDlMd", 293, &VST_Plugin_Program::chorus_master_delay_mod_ms, 0.5f),
    continuous(264, "chorus_master_delay_mod_rate_hz", "266: ChrMDlRt", 294, &VST_Plugin_Program::chorus_master_delay_mod_rate_hz, 0.5f),
    on_off(265, "chorus_master_toggle", "267: ChrMTgle", 295, &VST_Plugin_Program::chorus_master_toggle, 0.0f),
    continuous(266, "chorus_ir1_feedback", "268: Chr1FdB", 296, &VST_Plugin_Program::chorus_ir1_feedback, 0.25f),
    continuous(267, "chorus_ir1_width", "269: Chr1Wdth", 297, &VST_Plugin_Program::chorus_ir1_width, 0.75f),
    continuous(268, "chorus_ir1_dry", "270: Chr1Dry", 298, &VST_Plugin_Program::chorus_ir1_dry, 1.0f),
    continuous(269, "chorus_ir1_wet", "271: Chr1Wet", 299, &VST_Plugin_Program::chorus_ir1_wet, 0.8f),
    continuous(270, "chorus_ir1_delay_ms", "272: Chr1Dly", 300, &VST_Plugin_Program::chorus_ir1_delay_ms, 0.5f),
    continuous(271, "chorus_ir1_delay_mod_ms", "273: Chr1DlMd", 301, &VST_Plugin_Program::chorus_ir1_delay_mod_ms, 0.5f),
    continuous(272, "chorus_ir1_delay_mod_rate_hz", "274: Chr1DlRt", 302, &VST_Plugin_Program::chorus_ir1_delay_mod_rate_hz, 0.5f),
    on_off(273, "chorus_ir1_toggle", "275: Chr1Tgle", 303, &VST_Plugin_Program::chorus_ir1_toggle, 0.0f),
    continuous(274, "chorus_ir2_feedback", "276: Chr2FdB", 304, &VST_Plugin_Program::chorus_ir2_feedback, 0.25f),
    continuous(275, "chorus_ir2_width", "277: Chr2Wdth", 305, &VST_Plugin_Program::chorus_ir2_width, 0.75f),
    continuous(276, "chorus_ir2_dry", "278: Chr2Dry", 306, &VST_Plugin_Program::chorus_ir2_dry, 1.0f),
    continuous(277, "chorus_ir2_wet", "279: Chr2Wet", 307, &VST_Plugin_Program::chorus_ir2_wet, 0.8f),
    continuous(278, "chorus_ir2_delay_ms", "280: Chr2Dly", 308, &VST_Plugin_Program::chorus_ir2_delay_ms, 0.5f),
    continuous(279, "chorus_ir2_delay_mod_ms", "281: Chr2DlMd", 309, &VST_Plugin_Program::chorus_ir2_delay_mod_ms, 0.5f),
    continuous(280, "chorus_ir2_delay_mod_rate_hz", "282: Chr2DlRt", 310, &VST_Plugin_Program::chorus_ir2_delay_mod_rate_hz, 0.5f),
    on_off(281, "chorus_ir2_toggle", "283: Chr2Tgle", 311, &VST_Plugin_Program::chorus_ir2_toggle, 0.0f),
    on_off(282, "ir1_ir2_chain", "284: IRChain", 312, &VST_Plugin_Program::ir1_ir2_chain, 0.0f),
    continuous(283, "master_delay_dry", "285: DlyMLDry", 313, &VST_Plugin_Program::master_delay_dry, 1.0f),
    on_off(284, "master_delay_l_toggle", "286: DlyMLTgl", 314, &VST_Plugin_Program::master_delay_l_toggle, 0.0f),
    continuous(285, "master_delay_l_delay_mod", "287: DlyMLDlM", 315, &VST_Plugin_Program::master_delay_l_delay_mod, 0.05f),
    continuous(286, "master_delay_l_delay_mod_rate", "288: DlyMLDlR", 316, &VST_Plugin_Program::master_delay_l_delay_mod_rate, 0.4f),
    continuous(287, "master_delay_l_feedback", "289: DlyMLFdB", 317, &VST_Plugin_Program::master_delay_l_feedback, 0.0f),
    continuous(288, "master_delay_l_feedback_opposite", "290: DlyMLFBO", 318, &VST_Plugin_Program::master_delay_l_feedback_opposite, 0.4f),
    continuous(289, "master_delay_l_wet", "291: DlyMLWet", 319, &VST_Plugin_Program::master_delay_l_wet, 0.71f),
    on_off(290, "master_delay_r_toggle", "292: DlyMRTgl", 320, &VST_Plugin_Program::master_delay_r_toggle, 0.0f),
    continuous(291, "master_delay_r_delay_mod", "293: DlyMRDlM", 321, &VST_Plugin_Program::master_delay_r_delay_mod, 0.1f),
    continuous(292, "master_delay_r_delay_mod_rate", "294: DlyMRDlR", 322, &VST_Plugin_Program::master_delay_r_delay_mod_rate, 0.3f),
    continuous(293, "master_delay_r_feedback", "295: DlyMRFdB", 323, &VST_Plugin_Program::master_delay_r_feedback, 0.0f),
    continuous(294, "master_delay_r_feedback_opposite", "296: DlyMRFBO", 324, &VST_Plugin_Program::master_delay_r_feedback_opposite, 0.45f),
    continuous(295, "master_delay_r_wet", "297: DlyMRWet", 325, &VST_Plugin_Program::master_delay_r_wet, 0.71f),
    continuous(296, "master_delay_l_tempo_lock", "298: DlyM-LkL", 326, &VST_Plugin_Program::master_delay_l_tempo_lock, 1.0f),
    continuous(297, "master_delay_r_tempo_lock", "299: DlyM-LkR", 327, &VST_Plugin_Program::master_delay_r_tempo_lock, 1.0f),
    continuous(298, "ir1_delay_dry", "300: Dly1LDry", 328, &VST_Plugin_Program::ir1_delay_dry, 1.0f),
    on_off(299, "ir1_delay_l_toggle", "301: Dly1LTgl", 329, &VST_Plugin_Program::ir1_delay_l_toggle, 0.0f),
    continuous(300, "ir1_delay_l_delay_mod", "302: Dly1LDlM", 330, &VST_Plugin_Program::ir1_delay_l_delay_mod, 0.09f),
    continuous(301, "ir1_delay_l_delay_mod_rate", "303: Dly1LDlR", 331, &VST_Plugin_Program::ir1_delay_l_delay_mod_rate, 0.32f),
    continuous(302, "ir1_delay_l_feedback", "304: Dly1LFdB", 332, &VST_Plugin_Program::ir1_delay_l_feedback, 0.0f),
    continuous(303, "ir1_delay_l_feedback_opposite", "305: Dly1LFBO", 333, &VST_Plugin_Program::ir1_delay_l_feedback_opposite, 0.4f),
    continuous(304, "ir1_delay_l_wet", "306: Dly1LWet", 334, &VST_Plugin_Program::ir1_delay_l_wet, 0.71f),
    on_off(305, "ir1_delay_r_toggle", "307: Dly1RTgl", 335, &VST_Plugin_Program::ir1_delay_r_toggle, 0.0f),
    continuous(306, "ir1_delay_r_delay_mod", "308: Dly1RDlM", 336, &VST_Plugin_Program::ir1_delay_r_delay_mod, 0.18f),
    continuous(307, "ir1_delay_r_delay_mod_rate", "309: Dly1RDlR", 337, &VST_Plugin_Program::ir1_delay_r_delay_mod_rate, 0.29f),
    continuous(308, "ir1_delay_r_feedback", "310: Dly1RFdB", 338, &VST_Plugin_Program::ir1_delay_r_feedback, 0.0f),
    continuous(309, "ir1_delay_r_feedback_opposite", "311: Dly1RFBO", 339, &VST_Plugin_Program::ir1_delay_r_feedback_opposite, 0.45f),
    continuous(310, "ir1_delay_r_wet", "312: Dly1RWet", 340, &VST_Plugin_Program::ir1_delay_r_wet, 0.71f),
    continuous(311, "ir1_delay_l_tempo_lock", "313: Dly1-LkL", 341, &VST_Plugin_Program::ir1_delay_l_tempo_lock, 1.0f),
    continuous(312, "ir1_delay_r_tempo_lock", "314: Dly1-LkR", 342, &VST_Plugin_Program::ir1_delay_r_tempo_lock, 1.0f),
    continuous(313, "ir2_delay_dry", "315: Dly2LDry", 343, &VST_Plugin_Program::ir2_delay_dry, 1.0f),
    on_off(314, "ir2_delay_l_toggle", "316: Dly2LTgl", 344, &VST_Plugin_Program::ir2_delay_l_toggle, 0.0f),
    continuous(315, "ir2_delay_l_delay_mod", "317: Dly2LDlM", 345, &VST_Plugin_Program::ir2_delay_l_delay_mod, 0.15f),
    continuous(316, "ir2_delay_l_delay_mod_rate", "318: Dly2LDlR", 346, &VST_Plugin_Program::ir2_delay_l_delay_mod_rate, 0.42f),
    continuous(317, "ir2_delay_l_feedback", "319: Dly2LFdB", 347, &VST_Plugin_Program::ir2_delay_l_feedback, 0.0f),
    continuous(318, "ir2_delay_l_feedback_opposite", "320: Dly2LFBO", 348, &VST_Plugin_Program::ir2_delay_l_feedback_opposite, 0.4f),
    continuous(319, "ir2_delay_l_wet", "321: Dly2LWet", 349, &VST_Plugin_Program::ir2_delay_l_wet, 0.71f),
    on_off(320, "ir2_delay_r_toggle", "322: Dly2RTgl", 350, &VST_Plugin_Program::ir2_delay_r_toggle, 0.0f),
    continuous(321, "ir2_delay_r_delay_mod", "323: Dly2RDlM", 351, &VST_Plugin_Program::ir2_delay_r_delay_mod, 0.15f),
    continuous(322, "ir2_delay_r_delay_mod_rate", "324: Dly2RDlR", 352, &VST_Plugin_Program::ir2_delay_r_delay_mod_rate, 0.32f),
    continuous(323, "ir2_delay_r_feedback", "325: Dly2RFdB", 353, &VST_Plugin_Program::ir2_delay_r_feedback, 0.0f),
    continuous(324, "ir2_delay_r_feedback_opposite", "326: Dly2RFBO", 354, &VST_Plugin_Program::ir2_delay_r_feedback_opposite, 0.45f),
    continuous(325, "ir2_delay_r_wet", "327: Dly2RWet", 355, &VST_Plugin_Program::ir2_delay_r_wet, 0.71f),
    continuous(326, "ir2_delay_l_tempo_lock", "328: Dly2-LkL", 356, &VST_Plugin_Program::ir2_delay_l_tempo_lock, 1.0f),
    continuous(327, "ir2_delay_r_tempo_lock", "329: Dly2-LkR", 357, &VST_Plugin_Program::ir2_delay_r_tempo_lock, 1.0f),
    lock(328, "master_gain_lock_status", "330: GainLock", 358, &VST_Plugin_Program::master_gain_lock_status, 0.0f),
    lock(329, "master_mix_lock_status", "331: MixLock", 359, &VST_Plugin_Program::master_mix_lock_status, 0.0f),
    on_off(330, "ir1_sts_toggle", "332: STSTog1", 360, &VST_Plugin_Program::ir1_sts_toggle, 0.0f),
    continuous(331, "ir1_sts_relative_gain", "333: STSGain1", 361, &VST_Plugin_Program::ir1_sts_relative_gain, 0.71f),
    continuous(332, "ir1_sts_high_pass_freq", "334: STSFreq1", 362, &VST_Plugin_Program::ir1_sts_high_pass_freq, 0.05f),
    continuous(333, "ir1_sts_high_pass_toggle", "335: STSFrqT1", 363, &VST_Plugin_Program::ir1_sts_high_pass_toggle, 1.0f),
    continuous(334, "ir1_sts_pre_delay", "336: STSDly1", 364, &VST_Plugin_Program::ir1_sts_pre_delay, 0.3f),
    on_off(335, "ir2_sts_toggle", "337: STSTog2", 365, &VST_Plugin_Program::ir2_sts_toggle, 0.0f),
    continuous(336, "ir2_sts_relative_gain", "338: STSGain2", 366, &VST_Plugin_Program::ir2_sts_relative_gain, 0.71f),
    continuous(337, "ir2_sts_high_pass_freq", "339: STSFreq2", 367, &VST_Plugin_Program::ir2_sts_high_pass_freq, 0.05f),
    continuous(338, "ir2_sts_high_pass_toggle", "340: STSFrqT2", 368, &VST_Plugin_Program::ir2_sts_high_pass_toggle, 1.0f),
    continuous(339, "ir2_sts_pre_delay", "341: STSDly2", 369, &VST_Plugin_Program::ir2_sts_pre_delay, 0.3f),
    selector(340, "automated_prog_num_sel", "342: Prog#Sel", 370),
    continuous(341, "ir1_additive_noise_wet", "343: ShnWet1", 371, &VST_Plugin_Program::ir1_additive_noise_wet, 0.0f),
    continuous(342, "ir2_additive_noise_wet", "344: ShnWet2", 372, &VST_Plugin_Program::ir2_additive_noise_wet, 0.0f),
    continuous(343, "master_ir1_ir2_mix_law", "345: IRMixMod", 373, &VST_Plugin_Program::master_ir1_ir2_mix_law, 1.0f),
    continuous(344, "pitch_mod_ir1_split_point", "346: IR1SM-SP", 374, &VST_Plugin_Program::pitch_mod_ir1_split_point, 0.1f),
    continuous(345, "pitch_mod_ir1_section1_toggle", "347: IR1SM1Tg", 375, &VST_Plugin_Program::pitch_mod_ir1_section1_toggle, 0.0f),
    continuous(346, "pitch_mod_ir1_section1_mod_rate", "348: IR1SM1MR", 376, &VST_Plugin_Program::pitch_mod_ir1_section1_mod_rate, 0.2f),
    continuous(347, "pitch_mod_ir1_section1_mod_depth", "349: IR1SM1MD", 377, &VST_Plugin_Program::pitch_mod_ir1_section1_mod_depth, 0.2f),
    continuous(348, "pitch_mod_ir1_section2_toggle", "350: IR1SM2Tg", 378, &VST_Plugin_Program::pitch_mod_ir1_section2_toggle, 0.0f),
    continuous(349, "pitch_mod_ir1_section2_mod_rate", "351: IR1SM2MR", 379, &VST_Plugin_Program::pitch_mod_ir1_section2_mod_rate, 0.5f),
    continuous(350, "pitch_mod_ir1_section2_mod_depth", "352: IR1SM2MD", 380, &VST_Plugin_Program::pitch_mod_ir1_section2_mod_depth, 0.5f),
    continuous(351, "pitch_mod_ir2_split_point", "353: IR2SM-SP", 381, &VST_Plugin_Program::pitch_mod_ir2_split_point, 0.1f),
    continuous(352, "pitch_mod_ir2_section1_toggle", "354: IR2SM1Tg", 382, &VST_Plugin_Program::pitch_mod_ir2_section1_toggle, 0.0f),
    continuous(353, "pitch_mod_ir2_section1_mod_rate", "355: IR2SM1MR", 383, &VST_Plugin_Program::pitch_mod_ir2_section1_mod_rate, 0.2f),
    continuous(354, "pitch_mod_ir2_section1_mod_depth", "356: IR2SM1MD", 384, &VST_Plugin_Program::pitch_mod_ir2_section1_mod_depth, 0.2f),
    continuous(355, "pitch_mod_ir2_section2_toggle", "357: IR2SM2Tg", 385, &VST_Plugin_Program::pitch_mod_ir2_section2_toggle, 0.0f),
    continuous(356, "pitch_mod_ir2_section2_mod_rate", "358: IR2SM2MR", 386, &VST_Plugin_Program::pitch_mod_ir2_section2_mod_rate, 0.5f),
    continuous(357, "pitch_mod_ir2_section2_mod_depth", "359: IR2SM2MD", 387, &VST_Plugin_Program::pitch_mod_ir2_section2_mod_depth, 0.5f),
    continuous(358, "ir1_stacked_rate", "360: AIR1Rate", 388, &VST_Plugin_Program::ir1_stacked_rate, 0.5f),
    continuous(359, "ir1_stacked_head_tail_mix", "361: AIR1Mix", 389, &VST_Plugin_Program::ir1_stacked_head_tail_mix, 0.5f),
    continuous(360, "ir1_stacked_depth", "362: AIR1Dpth", 390, &VST_Plugin_Program::ir1_stacked_depth, 1.0f),
    continuous(361, "ir1_stacked_head_permit_mod", "363: AIR1NoHd", 391, &VST_Plugin_Program::ir1_stacked_head_permit_mod, 1.0f),
    continuous(362, "ir2_stacked_rate", "364: AIR2Rate", 392, &VST_Plugin_Program::ir2_stacked_rate, 0.5f),
    continuous(363, "ir2_stacked_head_tail_mix", "365: AIR1Mix", 393, &VST_Plugin_Program::ir2_stacked_head_tail_mix, 0.5f),
    continuous(364, "ir2_stacked_depth", "366: AIR2Dpth", 394, &VST_Plugin_Program::ir2_stacked_depth, 1.0f),
    continuous(365, "ir2_stacked_head_permit_mod", "367: AIR2NoHd", 395, &VST_Plugin_Program::ir2_stacked_head_permit_mod, 1.0f),
}};
// clang-format on

constexpr bool key_less(std::uint16_t a, std::uint16_t b)
{
    return std::string_view(rows[a].key) < std::string_view(rows[b].key);
}

// Row indices in key order, sorted by the compiler so that a lookup never allocates or waits
// for a first-use initialisation.
constexpr std::array<std::uint16_t, keyed_parameter_count> by_key = [] {
    std::array<std::uint16_t, keyed_parameter_count> order{};
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint16_t>(i);
    std::sort(order.begin(), order.end(), key_less);
    return order;
}();

// Row index per field 30..395.
constexpr std::array<std::uint16_t, keyed_parameter_count> by_field = [] {
    std::array<std::uint16_t, keyed_parameter_count> order{};
    for (ParameterRow const& row : rows)
        order[static_cast<std::size_t>(row.field - first_parameter_field)] =
            static_cast<std::uint16_t>(row.index);
    return order;
}();

constexpr bool table_is_consistent()
{
    std::array<bool, keyed_parameter_count> field_taken{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ParameterRow const& row = rows[i];
        if (row.index != static_cast<int>(i)) return false;
        if (row.field < first_parameter_field || row.field > last_parameter_field) return false;
        auto const slot = static_cast<std::size_t>(row.field - first_parameter_field);
        if (field_taken[slot]) return false;
        field_taken[slot] = true;
        if ((row.slot == nullptr) != (row.store == ParameterStore::none)) return false;
    }
    for (std::size_t i = 1; i < by_key.size(); ++i)
        if (!key_less(by_key[i - 1], by_key[i])) return false; // also rejects duplicate keys
    return true;
}
static_assert(table_is_consistent(), "parameter rows: indices, fields, slots or keys are inconsistent");

} // namespace

std::span<ParameterRow const> parameter_table()
{
    return rows;
}

ParameterRow const* parameter_at(int index)
{
    if (index < 0 || index >= keyed_parameter_count) return nullptr;
    return &rows[static_cast<std::size_t>(index)];
}

ParameterRow const* find_parameter(std::string_view key)
{
    auto const it =
        std::lower_bound(by_key.begin(), by_key.end(), key, [](std::uint16_t row, std::string_view k) {
            return std::string_view(rows[row].key) < k;
        });
    if (it == by_key.end() || std::string_view(rows[*it].key) != key) return nullptr;
    return &rows[*it];
}

ParameterRow const* parameter_for_field(int field)
{
    if (field < first_parameter_field || field > last_parameter_field) return nullptr;
    return &rows[by_field[static_cast<std::size_t>(field - first_parameter_field)]];
}

ParameterStyle const& parameter_style(ParameterKind kind)
{
    return kind == ParameterKind::on_off ? on_off_style : continuous_style;
}

int parameter_name_number(int index)
{
    if (index < 0 || index >= keyed_parameter_count) return -1;
    if (index < 40) return index;
    if (index < 75) return index + 1;
    return index + 2;
}

} // namespace corvella
