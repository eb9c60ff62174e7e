// The host parameter table: every row against the reference below, lookups, field binding,
// display numbers, defaults against the program record, and the host presentation.
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

using corvella::ParameterKind;
using corvella::ParameterRow;
using corvella::ParameterStore;

namespace {

enum RefKind { F, B, S }; // float (128 steps), on/off, 48-step selector

struct RefRow {
    int index;
    char const* key;
    char const* name;
    RefKind kind;
    std::ptrdiff_t offset; // offsetof the record member named like the key, -1 without one
};

// clang-format off
#define ROW(index, key, name, kind) \
    RefRow{index, #key, name, kind, static_cast<std::ptrdiff_t>(offsetof(VST_Plugin_Program, key))}
#define ROW_NO_SLOT(index, key, name, kind) RefRow{index, #key, name, kind, -1}

// Registration order, keys, names and kinds as the host must list them.
RefRow const reference[] = {
    ROW(0, master_gain, "0: Gain", F),
    ROW(1, master_mix, "1: ReverbMi", F),
    ROW(2, master_wet_lock_ignore, "2: WetLockI", F),
    ROW(3, master_ir1_ir2_mix, "3: IR1/2Mix", F),
    ROW(4, master_ir1_ir2_mix_mod, "4: IRMixMod", F),
    ROW(5, master_stereo_mono, "5: MasterSt", F),
    ROW(6, master_mixer_modulation_order, "6: MxModOrd", F),
    ROW(7, ir1_toggle, "7: IROnOff1", B),
    ROW(8, ir1_topology, "8: IRTplgy1", F),
    ROW(9, ir1_width, "9: IRWidth1", F),
    ROW(10, ir1_normalise, "10: IRNorm1", F),
    ROW(11, ir1_gain, "11: IRGain1", F),
    ROW(12, ir1_balance, "12: IRBal1", F),
    ROW(13, ir1_balance_mod, "13: IRBal1Md", F),
    ROW(14, ir1_balance_mod_phase, "14: IRBal1Ph", F),
    ROW(15, ir1_stereo_mono, "15: IR1St", F),
    ROW(16, ir1_user_resample_factor, "16: Length1", F),
    ROW(17, ir1_crop_from_start, "17: CropStrt", F),
    ROW(18, ir1_crop_from_end, "18: CropEnd1", F),
    ROW(19, ir1_reverse, "19: IRRev1", F),
    ROW(20, ir1_pre_delay, "20: PreDelay", F),
    ROW(21, ir1_adshr_a, "21: Attack1", F),
    ROW(22, ir1_adshr_d, "22: Decay1", F),
    ROW(23, ir1_adshr_s, "23: Sustain1", F),
    ROW(24, ir1_adshr_h, "24: Hold1", F),
    ROW(25, ir1_adshr_r, "25: Release1", F),
    ROW(26, ir1_adshr_a_alpha, "26: Atk1Shp", F),
    ROW(27, ir1_adshr_d_alpha, "27: Dec1Shp", F),
    ROW(28, ir1_adshr_r_alpha, "28: Rel1Shp", F),
    ROW(29, ir1_adshr_a_alpha_inv, "29: Atk1ShpI", F),
    ROW(30, ir1_adshr_d_alpha_inv, "30: Dec1ShpI", F),
    ROW(31, ir1_adshr_r_alpha_inv, "31: Rel1ShpI", F),
    ROW(32, ir1_er_size, "32: ERSize1", F),
    ROW(33, ir1_er_diffusion, "33: ERDiff1", F),
    ROW(34, ir1_er_distance, "34: ERDist1", F),
    ROW(35, ir1_er_position, "35: ERPos1", F),
    ROW(36, ir1_er_separation, "36: ERSepr1", F),
    ROW(37, ir1_er_depth, "37: ERDpth1", F),
    ROW(38, ir1_tail_length, "38: TailLen1", F),
    ROW(39, ir1_tail_diffusion, "39: TailDif1", F),
    ROW(40, ir1_tail_diffuse_length, "41: TailCnv1", F),
    ROW(41, ir1_cross_channel, "42: IRXCha1", F),
    ROW(42, ir2_toggle, "43: IROnOff2", B),
    ROW(43, ir2_topology, "44: IRTplgy2", F),
    ROW(44, ir2_width, "45: IRWidth2", F),
    ROW(45, ir2_normalise, "46: IRNorm2", F),
    ROW(46, ir2_gain, "47: IRGain2", F),
    ROW(47, ir2_balance, "48: IRBal2", F),
    ROW(48, ir2_balance_mod, "49: IRBal2Md", F),
    ROW(49, ir2_balance_mod_phase, "50: IRBal2Ph", F),
    ROW(50, ir2_stereo_mono, "51: IR2St", F),
    ROW(51, ir2_user_resample_factor, "52: Length2", F),
    ROW(52, ir2_crop_from_start, "53: CropStrt", F),
    ROW(53, ir2_crop_from_end, "54: CropEnd2", F),
    ROW(54, ir2_reverse, "55: IRRev2", F),
    ROW(55, ir2_pre_delay, "56: PreDelay", F),
    ROW(56, ir2_adshr_a, "57: Attack2", F),
    ROW(57, ir2_adshr_d, "58: Decay2", F),
    ROW(58, ir2_adshr_s, "59: Sustain2", F),
    ROW(59, ir2_adshr_h, "60: Hold2", F),
    ROW(60, ir2_adshr_r, "61: Release2", F),
    ROW(61, ir2_adshr_a_alpha, "62: Atk2Shp", F),
    ROW(62, ir2_adshr_d_alpha, "63: Dec2Shp", F),
    ROW(63, ir2_adshr_r_alpha, "64: Rel2Shp", F),
    ROW(64, ir2_adshr_a_alpha_inv, "65: Atk2ShpI", F),
    ROW(65, ir2_adshr_d_alpha_inv, "66: Dec2ShpI", F),
    ROW(66, ir2_adshr_r_alpha_inv, "67: Rel2ShpI", F),
    ROW(67, ir2_er_size, "68: ERSize2", F),
    ROW(68, ir2_er_diffusion, "69: ERDiff2", F),
    ROW(69, ir2_er_distance, "70: ERDist2", F),
    ROW(70, ir2_er_position, "71: ERPos2", F),
    ROW(71, ir2_er_separation, "72: ERSepr2", F),
    ROW(72, ir2_er_depth, "73: ERDpth2", F),
    ROW(73, ir2_tail_length, "74: TailLen2", F),
    ROW(74, ir2_tail_diffusion, "75: TailDif2", F),
    ROW(75, ir2_tail_diffuse_length, "77: TailCnv2", F),
    ROW(76, ir2_cross_channel, "78: IRXCha2", F),
    ROW(77, ir1_flt_master_toggle, "79: IR1Flt", B),
    ROW(78, ir1_flt1_toggle, "80: IR1Flt1", B),
    ROW(79, ir1_flt1_mode, "81: IR1Mode1", F),
    ROW(80, ir1_flt1_freq, "82: IR1Freq1", F),
    ROW(81, ir1_flt1_gain, "83: IR1Gain1", F),
    ROW(82, ir1_flt1_q, "84: IR1Q1", F),
    ROW(83, ir1_flt2_toggle, "85: IR1Flt2", B),
    ROW(84, ir1_flt2_mode, "86: IR1Mode2", F),
    ROW(85, ir1_flt2_freq, "87: IR1Freq2", F),
    ROW(86, ir1_flt2_gain, "88: IR1Gain2", F),
    ROW(87, ir1_flt2_q, "89: IR1Q2", F),
    ROW(88, ir1_flt3_toggle, "90: IR1Flt3", B),
    ROW(89, ir1_flt3_mode, "91: IR1Mode3", F),
    ROW(90, ir1_flt3_freq, "92: IR1Freq3", F),
    ROW(91, ir1_flt3_gain, "93: IR1Gain3", F),
    ROW(92, ir1_flt3_q, "94: IR1Q3", F),
    ROW(93, ir1_flt4_toggle, "95: IR1Flt4", B),
    ROW(94, ir1_flt4_mode, "96: IR1Mode4", F),
    ROW(95, ir1_flt4_freq, "97: IR1Freq4", F),
    ROW(96, ir1_flt4_gain, "98: IR1Gain4", F),
    ROW(97, ir1_flt4_q, "99: IR1Q4", F),
    ROW(98, ir1_flt5_toggle, "100: IR1Flt5", B),
    ROW(99, ir1_flt5_mode, "101: IR1Mode5", F),
    ROW(100, ir1_flt5_freq, "102: IR1Freq5", F),
    ROW(101, ir1_flt5_gain, "103: IR1Gain5", F),
    ROW(102, ir1_flt5_q, "104: IR1Q5", F),
    ROW(103, ir2_flt_master_toggle, "105: IR2Flt", B),
    ROW(104, ir2_flt1_toggle, "106: IR2Flt1", B),
    ROW(105, ir2_flt1_mode, "107: IR2Mode1", F),
    ROW(106, ir2_flt1_freq, "108: IR2Freq1", F),
    ROW(107, ir2_flt1_gain, "109: IR2Gain1", F),
    ROW(108, ir2_flt1_q, "110: IR2Q1", F),
    ROW(109, ir2_flt2_toggle, "111: IR2Flt2", B),
    ROW(110, ir2_flt2_mode, "112: IR2Mode2", F),
    ROW(111, ir2_flt2_freq, "113: IR2Freq2", F),
    ROW(112, ir2_flt2_gain, "114: IR2Gain2", F),
    ROW(113, ir2_flt2_q, "115: IR2Q2", F),
    ROW(114, ir2_flt3_toggle, "116: IR2Flt3", B),
    ROW(115, ir2_flt3_mode, "117: IR2Mode3", F),
    ROW(116, ir2_flt3_freq, "118: IR2Freq3", F),
    ROW(117, ir2_flt3_gain, "119: IR2Gain3", F),
    ROW(118, ir2_flt3_q, "120: IR2Q3", F),
    ROW(119, ir2_flt4_toggle, "121: IR2Flt4", B),
    ROW(120, ir2_flt4_mode, "122: IR2Mode4", F),
    ROW(121, ir2_flt4_freq, "123: IR2Freq4", F),
    ROW(122, ir2_flt4_gain, "124: IR2Gain4", F),
    ROW(123, ir2_flt4_q, "125: IR2Q4", F),
    ROW(124, ir2_flt5_toggle, "126: IR2Flt5", B),
    ROW(125, ir2_flt5_mode, "127: IR2Mode5", F),
    ROW(126, ir2_flt5_freq, "128: IR2Freq5", F),
    ROW(127, ir2_flt5_gain, "129: IR2Gain5", F),
    ROW(128, ir2_flt5_q, "130: IR2Q5", F),
    ROW(129, ir1_flt1_freq_to, "131: IR1Fq1to", F),
    ROW(130, ir1_flt1_freq_to_start, "132: IR1Fq1st", F),
    ROW(131, ir1_flt1_freq_to_end, "133: IR1Fq1en", F),
    ROW(132, ir1_flt1_gain_to, "134: IR1Gn1to", F),
    ROW(133, ir1_flt1_gain_to_start, "135: IR1Gn1st", F),
    ROW(134, ir1_flt1_gain_to_end, "136: IR1Gn1en", F),
    ROW(135, ir1_flt2_freq_to, "137: IR1Fq2to", F),
    ROW(136, ir1_flt2_freq_to_start, "138: IR1Fq2st", F),
    ROW(137, ir1_flt2_freq_to_end, "139: IR1Fq2en", F),
    ROW(138, ir1_flt2_gain_to, "140: IR1Gn2to", F),
    ROW(139, ir1_flt2_gain_to_start, "141: IR1Gn2st", F),
    ROW(140, ir1_flt2_gain_to_end, "142: IR1Gn2en", F),
    ROW(141, ir1_flt3_freq_to, "143: IR1Fq3to", F),
    ROW(142, ir1_flt3_freq_to_start, "144: IR1Fq3st", F),
    ROW(143, ir1_flt3_freq_to_end, "145: IR1Fq3en", F),
    ROW(144, ir1_flt3_gain_to, "146: IR1Gn3to", F),
    ROW(145, ir1_flt3_gain_to_start, "147: IR1Gn3st", F),
    ROW(146, ir1_flt3_gain_to_end, "148: IR1Gn3en", F),
    ROW(147, ir1_flt4_freq_to, "149: IR1Fq4to", F),
    ROW(148, ir1_flt4_freq_to_start, "150: IR1Fq4st", F),
    ROW(149, ir1_flt4_freq_to_end, "151: IR1Fq4en", F),
    ROW(150, ir1_flt4_gain_to, "152: IR1Gn4to", F),
    ROW(151, ir1_flt4_gain_to_start, "153: IR1Gn4st", F),
    ROW(152, ir1_flt4_gain_to_end, "154: IR1Gn4en", F),
    ROW(153, ir1_flt5_freq_to, "155: IR1Fq5to", F),
    ROW(154, ir1_flt5_freq_to_start, "156: IR1Fq5st", F),
    ROW(155, ir1_flt5_freq_to_end, "157: IR1Fq5en", F),
    ROW(156, ir1_flt5_gain_to, "158: IR1Gn5to", F),
    ROW(157, ir1_flt5_gain_to_start, "159: IR1Gn5st", F),
    ROW(158, ir1_flt5_gain_to_end, "160: IR1Gn5en", F),
    ROW(159, ir2_flt1_freq_to, "161: IR2Fq1to", F),
    ROW(160, ir2_flt1_freq_to_start, "162: IR2Fq1st", F),
    ROW(161, ir2_flt1_freq_to_end, "163: IR2Fq1en", F),
    ROW(162, ir2_flt1_gain_to, "164: IR2Gn1to", F),
    ROW(163, ir2_flt1_gain_to_start, "165: IR2Gn1st", F),
    ROW(164, ir2_flt1_gain_to_end, "166: IR2Gn2en", F),
    ROW(165, ir2_flt2_freq_to, "167: IR2Fq2to", F),
    ROW(166, ir2_flt2_freq_to_start, "168: IR2Fq2st", F),
    ROW(167, ir2_flt2_freq_to_end, "169: IR2Fq2en", F),
    ROW(168, ir2_flt2_gain_to, "170: IR2Gn2to", F),
    ROW(169, ir2_flt2_gain_to_start, "171: IR2Gn2st", F),
    ROW(170, ir2_flt2_gain_to_end, "172: IR2Gn2en", F),
    ROW(171, ir2_flt3_freq_to, "173: IR2Fq3to", F),
    ROW(172, ir2_flt3_freq_to_start, "174: IR2Fq3st", F),
    ROW(173, ir2_flt3_freq_to_end, "175: IR2Fq3en", F),
    ROW(174, ir2_flt3_gain_to, "176: IR2Gn3to", F),
    ROW(175, ir2_flt3_gain_to_start, "177: IR2Gn3st", F),
    ROW(176, ir2_flt3_gain_to_end, "178: IR2Gn3en", F),
    ROW(177, ir2_flt4_freq_to, "179: IR2Fq4to", F),
    ROW(178, ir2_flt4_freq_to_start, "180: IR2Fq4st", F),
    ROW(179, ir2_flt4_freq_to_end, "181: IR2Fq4en", F),
    ROW(180, ir2_flt4_gain_to, "182: IR2Gn4to", F),
    ROW(181, ir2_flt4_gain_to_start, "183: IR2Gn4st", F),
    ROW(182, ir2_flt4_gain_to_end, "184: IR2Gn4en", F),
    ROW(183, ir2_flt5_freq_to, "185: IR2Fq5to", F),
    ROW(184, ir2_flt5_freq_to_start, "186: IR2Fq5st", F),
    ROW(185, ir2_flt5_freq_to_end, "187: IR2Fq5en", F),
    ROW(186, ir2_flt5_gain_to, "188: IR2Gn5to", F),
    ROW(187, ir2_flt5_gain_to_start, "189: IR2Gn5st", F),
    ROW(188, ir2_flt5_gain_to_end, "190: IR2Gn5en", F),
    ROW(189, ir1_flt1_freq_mod_shape, "191: EQ1Frq1S", F),
    ROW(190, ir1_flt2_freq_mod_shape, "192: EQ1Frq2S", F),
    ROW(191, ir1_flt3_freq_mod_shape, "193: EQ1Frq3S", F),
    ROW(192, ir1_flt4_freq_mod_shape, "194: EQ1Frq4S", F),
    ROW(193, ir1_flt5_freq_mod_shape, "195: EQ1Frq5S", F),
    ROW(194, ir2_flt1_freq_mod_shape, "196: EQ2Frq1S", F),
    ROW(195, ir2_flt2_freq_mod_shape, "197: EQ2Frq2S", F),
    ROW(196, ir2_flt3_freq_mod_shape, "198: EQ2Frq3S", F),
    ROW(197, ir2_flt4_freq_mod_shape, "199: EQ2Frq4S", F),
    ROW(198, ir2_flt5_freq_mod_shape, "200: EQ2Frq5S", F),
    ROW(199, ir1_flt1_gain_mod_shape, "201: EQ1Gn1S", F),
    ROW(200, ir1_flt2_gain_mod_shape, "202: EQ1Gn2S", F),
    ROW(201, ir1_flt3_gain_mod_shape, "203: EQ1Gn3S", F),
    ROW(202, ir1_flt4_gain_mod_shape, "204: EQ1Gn4S", F),
    ROW(203, ir1_flt5_gain_mod_shape, "205: EQ1Gn5S", F),
    ROW(204, ir2_flt1_gain_mod_shape, "206: EQ2Gn1S", F),
    ROW(205, ir2_flt2_gain_mod_shape, "207: EQ2Gn2S", F),
    ROW(206, ir2_flt3_gain_mod_shape, "208: EQ2Gn3S", F),
    ROW(207, ir2_flt4_gain_mod_shape, "209: EQ2Gn4S", F),
    ROW(208, ir2_flt5_gain_mod_shape, "210: EQ2Gn5S", F),
    ROW(209, lfo1_rate, "211: LFO1Rate", F),
    ROW(210, lfo2_rate, "212: LFO2Rate", F),
    ROW(211, lfo3_rate, "213: LFO3Rate", F),
    ROW(212, flt_master_toggle, "214: Filters", B),
    ROW(213, flt1_toggle, "215: Filter#1", B),
    ROW(214, flt1_mode, "216: Mode #1", F),
    ROW(215, flt1_freq, "217: Freq #1", F),
    ROW(216, flt1_freq_mod, "218: FrqMod#1", F),
    ROW(217, flt1_freq_mod_phase, "219: FrqMPh#1", F),
    ROW(218, flt1_gain, "220: Gain #1", F),
    ROW(219, flt1_gain_mod, "221: GainM#1", F),
    ROW(220, flt1_gain_mod_phase, "222: GainMP#1", F),
    ROW(221, flt1_q, "223: Q #1", F),
    ROW(222, flt2_toggle, "224: Filter#2", B),
    ROW(223, flt2_mode, "225: Mode #2", F),
    ROW(224, flt2_freq, "226: Freq #2", F),
    ROW(225, flt2_freq_mod, "227: FrqMod#2", F),
    ROW(226, flt2_freq_mod_phase, "228: FrqMPh#2", F),
    ROW(227, flt2_gain, "229: Gain #2", F),
    ROW(228, flt2_gain_mod, "230: GainM#2", F),
    ROW(229, flt2_gain_mod_phase, "231: GainMP#2", F),
    ROW(230, flt2_q, "232: Q #2", F),
    ROW(231, flt3_toggle, "233: Filter#3", B),
    ROW(232, flt3_mode, "234: Mode #3", F),
    ROW(233, flt3_freq, "235: Freq #3", F),
    ROW(234, flt3_freq_mod, "236: FrqMod#3", F),
    ROW(235, flt3_freq_mod_phase, "237: FrqMPh#3", F),
    ROW(236, flt3_gain, "238: Gain #3", F),
    ROW(237, flt3_gain_mod, "239: GainM#3", F),
    ROW(238, flt3_gain_mod_phase, "240: GainMP#3", F),
    ROW(239, flt3_q, "241: Q #3", F),
    ROW(240, flt4_toggle, "242: Filter#4", B),
    ROW(241, flt4_mode, "243: Mode #4", F),
    ROW(242, flt4_freq, "244: Freq #4", F),
    ROW(243, flt4_freq_mod, "245: FrqMod#4", F),
    ROW(244, flt4_freq_mod_phase, "246: FrqMPh#4", F),
    ROW(245, flt4_gain, "247: Gain #4", F),
    ROW(246, flt4_gain_mod, "248: GainM#4", F),
    ROW(247, flt4_gain_mod_phase, "249: GainMP#4", F),
    ROW(248, flt4_q, "250: Q #4", F),
    ROW(249, flt5_toggle, "251: Filter#5", B),
    ROW(250, flt5_mode, "252: Mode #5", F),
    ROW(251, flt5_freq, "253: Freq #5", F),
    ROW(252, flt5_freq_mod, "254: FrqMod#5", F),
    ROW(253, flt5_freq_mod_phase, "255: FrqMPh#5", F),
    ROW(254, flt5_gain, "256: Gain #5", F),
    ROW(255, flt5_gain_mod, "257: GainM#5", F),
    ROW(256, flt5_gain_mod_phase, "258: GainMP#5", F),
    ROW(257, flt5_q, "259: Q #5", F),
    ROW(258, chorus_master_feedback, "260: ChrMFdB", F),
    ROW(259, chorus_master_width, "261: ChrMWdth", F),
    ROW(260, chorus_master_dry, "262: ChrMDry", F),
    ROW(261, chorus_master_wet, "263: ChrMWet", F),
    ROW(262, chorus_master_delay_ms, "264: ChrMDly", F),
    ROW(263, chorus_master_delay_mod_ms, "265: ChrMDlMd", F),
    ROW(264, chorus_master_delay_mod_rate_hz, "266: ChrMDlRt", F),
    ROW(265, chorus_master_toggle, "267: ChrMTgle", B),
    ROW(266, chorus_ir1_feedback, "268: Chr1FdB", F),
    ROW(267, chorus_ir1_width, "269: Chr1Wdth", F),
    ROW(268, chorus_ir1_dry, "270: Chr1Dry", F),
    ROW(269, chorus_ir1_wet, "271: Chr1Wet", F),
    ROW(270, chorus_ir1_delay_ms, "272: Chr1Dly", F),
    ROW(271, chorus_ir1_delay_mod_ms, "273: Chr1DlMd", F),
    ROW(272, chorus_ir1_delay_mod_rate_hz, "274: Chr1DlRt", F),
    ROW(273, chorus_ir1_toggle, "275: Chr1Tgle", B),
    ROW(274, chorus_ir2_feedback, "276: Chr2FdB", F),
    ROW(275, chorus_ir2_width, "277: Chr2Wdth", F),
    ROW(276, chorus_ir2_dry, "278: Chr2Dry", F),
    ROW(277, chorus_ir2_wet, "279: Chr2Wet", F),
    ROW(278, chorus_ir2_delay_ms, "280: Chr2Dly", F),
    ROW(279, chorus_ir2_delay_mod_ms, "281: Chr2DlMd", F),
    ROW(280, chorus_ir2_delay_mod_rate_hz, "282: Chr2DlRt", F),
    ROW(281, chorus_ir2_toggle, "283: Chr2Tgle", B),
    ROW(282, ir1_ir2_chain, "284: IRChain", B),
    ROW(283, master_delay_dry, "285: DlyMLDry", F),
    ROW(284, master_delay_l_toggle, "286: DlyMLTgl", B),
    ROW(285, master_delay_l_delay_mod, "287: DlyMLDlM", F),
    ROW(286, master_delay_l_delay_mod_rate, "288: DlyMLDlR", F),
    ROW(287, master_delay_l_feedback, "289: DlyMLFdB", F),
    ROW(288, master_delay_l_feedback_opposite, "290: DlyMLFBO", F),
    ROW(289, master_delay_l_wet, "291: DlyMLWet", F),
    ROW(290, master_delay_r_toggle, "292: DlyMRTgl", B),
    ROW(291, master_delay_r_delay_mod, "293: DlyMRDlM", F),
    ROW(292, master_delay_r_delay_mod_rate, "294: DlyMRDlR", F),
    ROW(293, master_delay_r_feedback, "295: DlyMRFdB", F),
    ROW(294, master_delay_r_feedback_opposite, "296: DlyMRFBO", F),
    ROW(295, master_delay_r_wet, "297: DlyMRWet", F),
    ROW(296, master_delay_l_tempo_lock, "298: DlyM-LkL", F),
    ROW(297, master_delay_r_tempo_lock, "299: DlyM-LkR", F),
    ROW(298, ir1_delay_dry, "300: Dly1LDry", F),
    ROW(299, ir1_delay_l_toggle, "301: Dly1LTgl", B),
    ROW(300, ir1_delay_l_delay_mod, "302: Dly1LDlM", F),
    ROW(301, ir1_delay_l_delay_mod_rate, "303: Dly1LDlR", F),
    ROW(302, ir1_delay_l_feedback, "304: Dly1LFdB", F),
    ROW(303, ir1_delay_l_feedback_opposite, "305: Dly1LFBO", F),
    ROW(304, ir1_delay_l_wet, "306: Dly1LWet", F),
    ROW(305, ir1_delay_r_toggle, "307: Dly1RTgl", B),
    ROW(306, ir1_delay_r_delay_mod, "308: Dly1RDlM", F),
    ROW(307, ir1_delay_r_delay_mod_rate, "309: Dly1RDlR", F),
    ROW(308, ir1_delay_r_feedback, "310: Dly1RFdB", F),
    ROW(309, ir1_delay_r_feedback_opposite, "311: Dly1RFBO", F),
    ROW(310, ir1_delay_r_wet, "312: Dly1RWet", F),
    ROW(311, ir1_delay_l_tempo_lock, "313: Dly1-LkL", F),
    ROW(312, ir1_delay_r_tempo_lock, "314: Dly1-LkR", F),
    ROW(313, ir2_delay_dry, "315: Dly2LDry", F),
    ROW(314, ir2_delay_l_toggle, "316: Dly2LTgl", B),
    ROW(315, ir2_delay_l_delay_mod, "317: Dly2LDlM", F),
    ROW(316, ir2_delay_l_delay_mod_rate, "318: Dly2LDlR", F),
    ROW(317, ir2_delay_l_feedback, "319: Dly2LFdB", F),
    ROW(318, ir2_delay_l_feedback_opposite, "320: Dly2LFBO", F),
    ROW(319, ir2_delay_l_wet, "321: Dly2LWet", F),
    ROW(320, ir2_delay_r_toggle, "322: Dly2RTgl", B),
    ROW(321, ir2_delay_r_delay_mod, "323: Dly2RDlM", F),
    ROW(322, ir2_delay_r_delay_mod_rate, "324: Dly2RDlR", F),
    ROW(323, ir2_delay_r_feedback, "325: Dly2RFdB", F),
    ROW(324, ir2_delay_r_feedback_opposite, "326: Dly2RFBO", F),
    ROW(325, ir2_delay_r_wet, "327: Dly2RWet", F),
    ROW(326, ir2_delay_l_tempo_lock, "328: Dly2-LkL", F),
    ROW(327, ir2_delay_r_tempo_lock, "329: Dly2-LkR", F),
    ROW(328, master_gain_lock_status, "330: GainLock", F),
    ROW(329, master_mix_lock_status, "331: MixLock", F),
    ROW(330, ir1_sts_toggle, "332: STSTog1", B),
    ROW(331, ir1_sts_relative_gain, "333: STSGain1", F),
    ROW(332, ir1_sts_high_pass_freq, "334: STSFreq1", F),
    ROW(333, ir1_sts_high_pass_toggle, "335: STSFrqT1", F),
    ROW(334, ir1_sts_pre_delay, "336: STSDly1", F),
    ROW(335, ir2_sts_toggle, "337: STSTog2", B),
    ROW(336, ir2_sts_relative_gain, "338: STSGain2", F),
    ROW(337, ir2_sts_high_pass_freq, "339: STSFreq2", F),
    ROW(338, ir2_sts_high_pass_toggle, "340: STSFrqT2", F),
    ROW(339, ir2_sts_pre_delay, "341: STSDly2", F),
    ROW_NO_SLOT(340, automated_prog_num_sel, "342: Prog#Sel", S),
    ROW(341, ir1_additive_noise_wet, "343: ShnWet1", F),
    ROW(342, ir2_additive_noise_wet, "344: ShnWet2", F),
    ROW(343, master_ir1_ir2_mix_law, "345: IRMixMod", F),
    ROW(344, pitch_mod_ir1_split_point, "346: IR1SM-SP", F),
    ROW(345, pitch_mod_ir1_section1_toggle, "347: IR1SM1Tg", F),
    ROW(346, pitch_mod_ir1_section1_mod_rate, "348: IR1SM1MR", F),
    ROW(347, pitch_mod_ir1_section1_mod_depth, "349: IR1SM1MD", F),
    ROW(348, pitch_mod_ir1_section2_toggle, "350: IR1SM2Tg", F),
    ROW(349, pitch_mod_ir1_section2_mod_rate, "351: IR1SM2MR", F),
    ROW(350, pitch_mod_ir1_section2_mod_depth, "352: IR1SM2MD", F),
    ROW(351, pitch_mod_ir2_split_point, "353: IR2SM-SP", F),
    ROW(352, pitch_mod_ir2_section1_toggle, "354: IR2SM1Tg", F),
    ROW(353, pitch_mod_ir2_section1_mod_rate, "355: IR2SM1MR", F),
    ROW(354, pitch_mod_ir2_section1_mod_depth, "356: IR2SM1MD", F),
    ROW(355, pitch_mod_ir2_section2_toggle, "357: IR2SM2Tg", F),
    ROW(356, pitch_mod_ir2_section2_mod_rate, "358: IR2SM2MR", F),
    ROW(357, pitch_mod_ir2_section2_mod_depth, "359: IR2SM2MD", F),
    ROW(358, ir1_stacked_rate, "360: AIR1Rate", F),
    ROW(359, ir1_stacked_head_tail_mix, "361: AIR1Mix", F),
    ROW(360, ir1_stacked_depth, "362: AIR1Dpth", F),
    ROW(361, ir1_stacked_head_permit_mod, "363: AIR1NoHd", F),
    ROW(362, ir2_stacked_rate, "364: AIR2Rate", F),
    ROW(363, ir2_stacked_head_tail_mix, "365: AIR1Mix", F),
    ROW(364, ir2_stacked_depth, "366: AIR2Dpth", F),
    ROW(365, ir2_stacked_head_permit_mod, "367: AIR2NoHd", F),
};
// clang-format on

#undef ROW
#undef ROW_NO_SLOT

constexpr std::size_t reference_count = sizeof reference / sizeof reference[0];

std::ptrdiff_t offset_of(float VST_Plugin_Program::*slot)
{
    static VST_Plugin_Program const probe;
    return reinterpret_cast<char const*>(&(probe.*slot)) - reinterpret_cast<char const*>(&probe);
}

int number_in_name(char const* name)
{
    char* end = nullptr;
    long const number = std::strtol(name, &end, 10);
    if (end == name || *end != ':') return -1;
    return static_cast<int>(number);
}

} // namespace

TEST(ParameterTableRows, HostListsMasterBypassAnd366KeyedRows)
{
    ASSERT_EQ(reference_count, 366u);
    EXPECT_EQ(corvella::parameter_table().size(), 366u);
    EXPECT_EQ(corvella::keyed_parameter_count, 366);
    EXPECT_EQ(corvella::host_parameter_count, 367);
    EXPECT_STREQ(corvella::master_bypass_parameter.name, "Master Bypass");
}

TEST(ParameterTableRows, EveryRowMatchesTheReference)
{
    auto const table = corvella::parameter_table();
    ASSERT_EQ(table.size(), reference_count);
    for (std::size_t i = 0; i < reference_count; ++i) {
        RefRow const& ref = reference[i];
        ParameterRow const& row = table[i];
        ASSERT_EQ(ref.index, static_cast<int>(i)) << "reference out of order at " << i;
        EXPECT_EQ(row.index, ref.index) << ref.key;
        EXPECT_STREQ(row.key, ref.key) << "index " << i;
        EXPECT_STREQ(row.name, ref.name) << ref.key;
        ParameterKind const kind = ref.kind == F   ? ParameterKind::continuous
                                   : ref.kind == B ? ParameterKind::on_off
                                                   : ParameterKind::program_selector;
        EXPECT_EQ(row.kind, kind) << ref.key;
        EXPECT_EQ(row.steps, ref.kind == F ? 128 : ref.kind == B ? 2 : 48) << ref.key;
    }
}

TEST(ParameterTableRows, KeysAndNamesAsListed)
{
    // Names that break the pattern of their neighbours.
    EXPECT_STREQ(corvella::parameter_at(0)->name, "0: Gain");
    EXPECT_STREQ(corvella::parameter_at(52)->name, "53: CropStrt");
    EXPECT_STREQ(corvella::parameter_at(55)->name, "56: PreDelay");
    EXPECT_STREQ(corvella::parameter_at(17)->name, "17: CropStrt");
    EXPECT_STREQ(corvella::parameter_at(20)->name, "20: PreDelay");
    EXPECT_STREQ(corvella::find_parameter("ir2_flt1_gain_to_end")->name, "166: IR2Gn2en");
    EXPECT_STREQ(corvella::find_parameter("ir2_stacked_head_tail_mix")->name, "365: AIR1Mix");
    EXPECT_STREQ(corvella::find_parameter("master_ir1_ir2_mix_law")->name, "345: IRMixMod");
    EXPECT_STREQ(corvella::find_parameter("master_ir1_ir2_mix_mod")->name, "4: IRMixMod");
    EXPECT_STREQ(corvella::parameter_at(365)->name, "367: AIR2NoHd");
}

TEST(ParameterTableRows, KeysAreUnique)
{
    std::set<std::string_view> keys;
    for (ParameterRow const& row : corvella::parameter_table())
        EXPECT_TRUE(keys.insert(row.key).second) << "duplicate key " << row.key;
    EXPECT_EQ(keys.size(), 366u);
}

TEST(ParameterTableNames, NumberFollowsTheIndexSkipping40And76)
{
    for (ParameterRow const& row : corvella::parameter_table()) {
        int const expected = row.index <= 39 ? row.index : row.index <= 74 ? row.index + 1 : row.index + 2;
        EXPECT_EQ(number_in_name(row.name), expected) << row.key;
        EXPECT_EQ(corvella::parameter_name_number(row.index), expected) << row.key;
        // One space after the colon, then a non-empty short text.
        char const* colon = std::strchr(row.name, ':');
        ASSERT_NE(colon, nullptr) << row.key;
        EXPECT_EQ(colon[1], ' ') << row.key;
        EXPECT_GT(std::strlen(colon + 2), 0u) << row.key;
    }
}

TEST(ParameterTableNames, NoNameCarries40Or76)
{
    for (ParameterRow const& row : corvella::parameter_table()) {
        int const number = number_in_name(row.name);
        EXPECT_NE(number, 40) << row.key;
        EXPECT_NE(number, 76) << row.key;
    }
    EXPECT_STREQ(corvella::parameter_at(39)->name, "39: TailDif1");
    EXPECT_STREQ(corvella::parameter_at(40)->name, "41: TailCnv1");
    EXPECT_STREQ(corvella::parameter_at(74)->name, "75: TailDif2");
    EXPECT_STREQ(corvella::parameter_at(75)->name, "77: TailCnv2");
}

TEST(ParameterTableNames, NameNumberOutsideTheTable)
{
    EXPECT_EQ(corvella::parameter_name_number(-1), -1);
    EXPECT_EQ(corvella::parameter_name_number(366), -1);
}

TEST(ParameterTableFields, EveryRowAt30PlusIndexExceptPostEqBand2Gain)
{
    for (ParameterRow const& row : corvella::parameter_table()) {
        if (row.index >= 227 && row.index <= 229) continue;
        EXPECT_EQ(row.field, 30 + row.index) << row.key;
    }
}

TEST(ParameterTableFields, PostEqBand2GainRowsFollowTheRecordOrder)
{
    ParameterRow const* gain = corvella::find_parameter("flt2_gain");
    ParameterRow const* gain_mod = corvella::find_parameter("flt2_gain_mod");
    ParameterRow const* gain_mod_phase = corvella::find_parameter("flt2_gain_mod_phase");
    ASSERT_NE(gain, nullptr);
    ASSERT_NE(gain_mod, nullptr);
    ASSERT_NE(gain_mod_phase, nullptr);
    EXPECT_EQ(gain->index, 227);
    EXPECT_EQ(gain->field, 259);
    EXPECT_EQ(gain_mod->index, 228);
    EXPECT_EQ(gain_mod->field, 257);
    EXPECT_EQ(gain_mod_phase->index, 229);
    EXPECT_EQ(gain_mod_phase->field, 258);
    // The neighbours keep the rule.
    EXPECT_EQ(corvella::find_parameter("flt2_freq_mod_phase")->field, 256);
    EXPECT_EQ(corvella::find_parameter("flt2_q")->field, 260);
}

TEST(ParameterTableFields, Fields30To395AreEachTakenOnce)
{
    std::set<int> fields;
    for (ParameterRow const& row : corvella::parameter_table())
        EXPECT_TRUE(fields.insert(row.field).second) << "field " << row.field << " twice, " << row.key;
    ASSERT_EQ(fields.size(), 366u);
    EXPECT_EQ(*fields.begin(), 30);
    EXPECT_EQ(*fields.rbegin(), 395);
    EXPECT_EQ(corvella::master_bypass_parameter.field, 0);
}

TEST(ParameterTableFields, LookupByField)
{
    for (ParameterRow const& row : corvella::parameter_table())
        EXPECT_EQ(corvella::parameter_for_field(row.field), &row) << row.key;
    EXPECT_EQ(corvella::parameter_for_field(257)->index, 228);
    EXPECT_EQ(corvella::parameter_for_field(258)->index, 229);
    EXPECT_EQ(corvella::parameter_for_field(259)->index, 227);
    EXPECT_EQ(corvella::parameter_for_field(0), nullptr);
    EXPECT_EQ(corvella::parameter_for_field(29), nullptr);
    EXPECT_EQ(corvella::parameter_for_field(396), nullptr);
    EXPECT_EQ(corvella::parameter_for_field(-1), nullptr);
}

TEST(ParameterTableLookup, EveryKeyAndIndexFindsItsRow)
{
    for (RefRow const& ref : reference) {
        ParameterRow const* by_key = corvella::find_parameter(ref.key);
        ASSERT_NE(by_key, nullptr) << ref.key;
        EXPECT_EQ(by_key->index, ref.index) << ref.key;
        EXPECT_EQ(corvella::parameter_at(ref.index), by_key) << ref.key;
    }
}

TEST(ParameterTableLookup, KeysWithoutHostParameterAreNotFound)
{
    char const* const others[] = {
        "ir1_tail_variant",
        "ir2_tail_variant",
        "ir1_er_type",
        "ir2_er_type",
        "ir1_tail_character",
        "ir1_tail_density",
        "master_delay_l_tempo",
        "master_delay_l_delay_numer",
        "ir1_delay_r_delay_denom",
        "ir1_file_a",
        "name",
        "current_program",
        "master_gain_locked_value",
        "master_mix_locked_value",
        "ir1_additive_noise_dry",
        "ir1_source_type",
        "force_partial_recompute_IR1",
        "force_master_filter_coeffs",
        "",
        "master_gai",
        "master_gainx",
        "Master_gain",
        "master_gain ",
    };
    for (char const* key : others)
        EXPECT_EQ(corvella::find_parameter(key), nullptr) << '"' << key << '"';
}

TEST(ParameterTableLookup, KeyNeedNotBeTerminated)
{
    std::string_view const text = "ir1_gainXYZ";
    ParameterRow const* row = corvella::find_parameter(text.substr(0, 8));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->index, 11);
}

TEST(ParameterTableLookup, IndexOutsideTheTable)
{
    EXPECT_EQ(corvella::parameter_at(-1), nullptr);
    EXPECT_EQ(corvella::parameter_at(366), nullptr);
    EXPECT_EQ(corvella::parameter_at(367), nullptr);
}

TEST(ParameterTableLookup, LookupsAllocateNothing)
{
    std::size_t found = 0;
    corvella::test::AllocationCounter counter;
    for (RefRow const& ref : reference) {
        found += corvella::find_parameter(ref.key) != nullptr;
        found += corvella::parameter_at(ref.index) != nullptr;
    }
    found += corvella::find_parameter("no_such_key") != nullptr;
    found += corvella::parameter_for_field(259) != nullptr;
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(found, 2 * reference_count + 1);
}

TEST(ParameterTableSlots, EveryKeyNamingAFieldMapsToThatField)
{
    for (RefRow const& ref : reference) {
        ParameterRow const& row = *corvella::parameter_at(ref.index);
        if (ref.offset < 0) {
            EXPECT_EQ(row.slot, nullptr) << ref.key;
            EXPECT_EQ(row.store, ParameterStore::none) << ref.key;
            continue;
        }
        ASSERT_NE(row.slot, nullptr) << ref.key;
        EXPECT_EQ(offset_of(row.slot), ref.offset) << ref.key;
        // Against the record layout typed from its own table as well.
        EXPECT_EQ(offset_of(row.slot), static_cast<std::ptrdiff_t>(corvella::test::field_row(ref.key).offset))
            << ref.key;
    }
}

TEST(ParameterTableSlots, LockSwitchesLiveInRecordZero)
{
    for (ParameterRow const& row : corvella::parameter_table()) {
        std::string_view const key = row.key;
        bool const lock = key == "master_gain_lock_status" || key == "master_mix_lock_status";
        bool const selector = key == "automated_prog_num_sel";
        ParameterStore const expected = lock       ? ParameterStore::lock_record
                                        : selector ? ParameterStore::none
                                                   : ParameterStore::program;
        EXPECT_EQ(row.store, expected) << row.key;
    }
    EXPECT_EQ(offset_of(corvella::find_parameter("master_mix_lock_status")->slot), 1752);
    EXPECT_EQ(offset_of(corvella::find_parameter("master_gain_lock_status")->slot), 1760);
}

TEST(ParameterTableDefaults, AgreeWithAResetProgram)
{
    VST_Plugin_Program fresh;
    corvella::test::fill_distinct(fresh);
    fresh.reset();
    for (ParameterRow const& row : corvella::parameter_table()) {
        if (row.store == ParameterStore::none) continue;
        float const stored = corvella::test::float_field(fresh, row.key);
        EXPECT_EQ(row.default_value, stored) << row.key;
        EXPECT_EQ(row.default_value, static_cast<float>(corvella::test::field_row(row.key).default_value))
            << row.key;
    }
}

TEST(ParameterTableDefaults, SpotChecks)
{
    EXPECT_EQ(corvella::find_parameter("ir2_toggle")->default_value, 0.0f);
    EXPECT_EQ(corvella::find_parameter("ir1_toggle")->default_value, 1.0f);
    EXPECT_EQ(corvella::find_parameter("master_mix")->default_value, 1.0f);
    EXPECT_EQ(corvella::find_parameter("master_gain")->default_value, 0.5f);
    EXPECT_EQ(corvella::find_parameter("ir1_sts_relative_gain")->default_value, 0.71f);
    EXPECT_EQ(corvella::find_parameter("master_delay_l_tempo_lock")->default_value, 1.0f);
    EXPECT_EQ(corvella::find_parameter("ir1_flt5_freq")->default_value, 1.0f);
}

TEST(ParameterTableDefaults, ProgramSelectorHas48StepsAndDefaultZero)
{
    ParameterRow const* row = corvella::find_parameter("automated_prog_num_sel");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->index, 340);
    EXPECT_EQ(row->steps, 48);
    EXPECT_EQ(row->default_value, 0.0f);
    EXPECT_EQ(row->kind, ParameterKind::program_selector);
    EXPECT_EQ(&corvella::parameter_style(row->kind), &corvella::continuous_style);
}

TEST(ParameterTableStyle, ContinuousIsLinearUnityWithTwoDecimals)
{
    corvella::ParameterStyle const& style = corvella::parameter_style(ParameterKind::continuous);
    EXPECT_EQ(style.taper, corvella::ParameterTaper::linear);
    EXPECT_EQ(style.minimum, 0.0f);
    EXPECT_EQ(style.maximum, 1.0f);
    EXPECT_EQ(style.precision, 2);
    EXPECT_EQ(style.off_text, nullptr);
    EXPECT_FALSE(style.trailing_space);
    EXPECT_TRUE(style.automatable);
    EXPECT_FALSE(style.discrete);
}

TEST(ParameterTableStyle, OnOffIsBinaryOffOn)
{
    corvella::ParameterStyle const& style = corvella::parameter_style(ParameterKind::on_off);
    EXPECT_EQ(style.taper, corvella::ParameterTaper::binary);
    EXPECT_STREQ(style.off_text, "Off");
    EXPECT_STREQ(style.on_text, "On");
    EXPECT_TRUE(style.automatable);
    EXPECT_FALSE(style.discrete);
}

TEST(ParameterTableStyle, MasterBypass)
{
    auto const& bypass = corvella::master_bypass_parameter;
    EXPECT_STREQ(bypass.name, "Master Bypass");
    EXPECT_EQ(bypass.field, 0);
    EXPECT_EQ(bypass.default_value, 0.0f);
    EXPECT_EQ(bypass.steps, 2);
    EXPECT_EQ(bypass.style->taper, corvella::ParameterTaper::binary);
    EXPECT_STREQ(bypass.style->off_text, "bypass");
    EXPECT_STREQ(bypass.style->on_text, "on");
    EXPECT_TRUE(bypass.style->discrete);
    EXPECT_TRUE(bypass.style->automatable);
}

TEST(ParameterTableStyle, OnOffRowsAreTogglesOfTheRecord)
{
    // Every on/off row is a toggle slot whose default is exactly off or on.
    int count = 0;
    for (ParameterRow const& row : corvella::parameter_table()) {
        if (row.kind != ParameterKind::on_off) continue;
        ++count;
        EXPECT_TRUE(row.default_value == 0.0f || row.default_value == 1.0f) << row.key;
        std::string_view const key = row.key;
        EXPECT_TRUE(key.find("toggle") != std::string_view::npos || key == "ir1_ir2_chain") << row.key;
    }
    EXPECT_EQ(count, 32);
}
