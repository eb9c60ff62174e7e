// The host parameter table: every row against the reference below (key, name, kind, steps, field, slot,
// store and default), lookups, and the keys that have no host parameter.
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"
#include "program_reference.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string_view>

using corvella::ParameterKind;
using corvella::ParameterRow;
using corvella::ParameterStore;

namespace {

struct RefRow {
    char const* key;
    char const* name;
    ParameterKind kind;
    std::ptrdiff_t offset; // of the record member named like the key, -1 without one
};

// Registration order, keys, names and kinds as the host must list them.
// clang-format off
#define CV_OFFSET(key) static_cast<std::ptrdiff_t>(offsetof(VST_Plugin_Program, key))
#define F(key, name) RefRow{#key, name, ParameterKind::continuous, CV_OFFSET(key)}
#define B(key, name) RefRow{#key, name, ParameterKind::on_off, CV_OFFSET(key)}
#define S(key, name) RefRow{#key, name, ParameterKind::program_selector, -1}
RefRow const reference[] = {
    F(master_gain, "0: Gain"), F(master_mix, "1: ReverbMi"), F(master_wet_lock_ignore, "2: WetLockI"),
    F(master_ir1_ir2_mix, "3: IR1/2Mix"), F(master_ir1_ir2_mix_mod, "4: IRMixMod"),
    F(master_stereo_mono, "5: MasterSt"), F(master_mixer_modulation_order, "6: MxModOrd"),
    B(ir1_toggle, "7: IROnOff1"), F(ir1_topology, "8: IRTplgy1"), F(ir1_width, "9: IRWidth1"),
    F(ir1_normalise, "10: IRNorm1"), F(ir1_gain, "11: IRGain1"), F(ir1_balance, "12: IRBal1"),
    F(ir1_balance_mod, "13: IRBal1Md"), F(ir1_balance_mod_phase, "14: IRBal1Ph"),
    F(ir1_stereo_mono, "15: IR1St"), F(ir1_user_resample_factor, "16: Length1"),
    F(ir1_crop_from_start, "17: CropStrt"), F(ir1_crop_from_end, "18: CropEnd1"),
    F(ir1_reverse, "19: IRRev1"), F(ir1_pre_delay, "20: PreDelay"), F(ir1_adshr_a, "21: Attack1"),
    F(ir1_adshr_d, "22: Decay1"), F(ir1_adshr_s, "23: Sustain1"), F(ir1_adshr_h, "24: Hold1"),
    F(ir1_adshr_r, "25: Release1"), F(ir1_adshr_a_alpha, "26: Atk1Shp"), F(ir1_adshr_d_alpha, "27: Dec1Shp"),
    F(ir1_adshr_r_alpha, "28: Rel1Shp"), F(ir1_adshr_a_alpha_inv, "29: Atk1ShpI"),
    F(ir1_adshr_d_alpha_inv, "30: Dec1ShpI"), F(ir1_adshr_r_alpha_inv, "31: Rel1ShpI"),
    F(ir1_er_size, "32: ERSize1"), F(ir1_er_diffusion, "33: ERDiff1"), F(ir1_er_distance, "34: ERDist1"),
    F(ir1_er_position, "35: ERPos1"), F(ir1_er_separation, "36: ERSepr1"), F(ir1_er_depth, "37: ERDpth1"),
    F(ir1_tail_length, "38: TailLen1"), F(ir1_tail_diffusion, "39: TailDif1"),
    F(ir1_tail_diffuse_length, "41: TailCnv1"), F(ir1_cross_channel, "42: IRXCha1"),
    B(ir2_toggle, "43: IROnOff2"), F(ir2_topology, "44: IRTplgy2"), F(ir2_width, "45: IRWidth2"),
    F(ir2_normalise, "46: IRNorm2"), F(ir2_gain, "47: IRGain2"), F(ir2_balance, "48: IRBal2"),
    F(ir2_balance_mod, "49: IRBal2Md"), F(ir2_balance_mod_phase, "50: IRBal2Ph"),
    F(ir2_stereo_mono, "51: IR2St"), F(ir2_user_resample_factor, "52: Length2"),
    F(ir2_crop_from_start, "53: CropStrt"), F(ir2_crop_from_end, "54: CropEnd2"),
    F(ir2_reverse, "55: IRRev2"), F(ir2_pre_delay, "56: PreDelay"), F(ir2_adshr_a, "57: Attack2"),
    F(ir2_adshr_d, "58: Decay2"), F(ir2_adshr_s, "59: Sustain2"), F(ir2_adshr_h, "60: Hold2"),
    F(ir2_adshr_r, "61: Release2"), F(ir2_adshr_a_alpha, "62: Atk2Shp"), F(ir2_adshr_d_alpha, "63: Dec2Shp"),
    F(ir2_adshr_r_alpha, "64: Rel2Shp"), F(ir2_adshr_a_alpha_inv, "65: Atk2ShpI"),
    F(ir2_adshr_d_alpha_inv, "66: Dec2ShpI"), F(ir2_adshr_r_alpha_inv, "67: Rel2ShpI"),
    F(ir2_er_size, "68: ERSize2"), F(ir2_er_diffusion, "69: ERDiff2"), F(ir2_er_distance, "70: ERDist2"),
    F(ir2_er_position, "71: ERPos2"), F(ir2_er_separation, "72: ERSepr2"), F(ir2_er_depth, "73: ERDpth2"),
    F(ir2_tail_length, "74: TailLen2"), F(ir2_tail_diffusion, "75: TailDif2"),
    F(ir2_tail_diffuse_length, "77: TailCnv2"), F(ir2_cross_channel, "78: IRXCha2"),
    B(ir1_flt_master_toggle, "79: IR1Flt"), B(ir1_flt1_toggle, "80: IR1Flt1"),
    F(ir1_flt1_mode, "81: IR1Mode1"), F(ir1_flt1_freq, "82: IR1Freq1"), F(ir1_flt1_gain, "83: IR1Gain1"),
    F(ir1_flt1_q, "84: IR1Q1"), B(ir1_flt2_toggle, "85: IR1Flt2"), F(ir1_flt2_mode, "86: IR1Mode2"),
    F(ir1_flt2_freq, "87: IR1Freq2"), F(ir1_flt2_gain, "88: IR1Gain2"), F(ir1_flt2_q, "89: IR1Q2"),
    B(ir1_flt3_toggle, "90: IR1Flt3"), F(ir1_flt3_mode, "91: IR1Mode3"), F(ir1_flt3_freq, "92: IR1Freq3"),
    F(ir1_flt3_gain, "93: IR1Gain3"), F(ir1_flt3_q, "94: IR1Q3"), B(ir1_flt4_toggle, "95: IR1Flt4"),
    F(ir1_flt4_mode, "96: IR1Mode4"), F(ir1_flt4_freq, "97: IR1Freq4"), F(ir1_flt4_gain, "98: IR1Gain4"),
    F(ir1_flt4_q, "99: IR1Q4"), B(ir1_flt5_toggle, "100: IR1Flt5"), F(ir1_flt5_mode, "101: IR1Mode5"),
    F(ir1_flt5_freq, "102: IR1Freq5"), F(ir1_flt5_gain, "103: IR1Gain5"), F(ir1_flt5_q, "104: IR1Q5"),
    B(ir2_flt_master_toggle, "105: IR2Flt"), B(ir2_flt1_toggle, "106: IR2Flt1"),
    F(ir2_flt1_mode, "107: IR2Mode1"), F(ir2_flt1_freq, "108: IR2Freq1"), F(ir2_flt1_gain, "109: IR2Gain1"),
    F(ir2_flt1_q, "110: IR2Q1"), B(ir2_flt2_toggle, "111: IR2Flt2"), F(ir2_flt2_mode, "112: IR2Mode2"),
    F(ir2_flt2_freq, "113: IR2Freq2"), F(ir2_flt2_gain, "114: IR2Gain2"), F(ir2_flt2_q, "115: IR2Q2"),
    B(ir2_flt3_toggle, "116: IR2Flt3"), F(ir2_flt3_mode, "117: IR2Mode3"), F(ir2_flt3_freq, "118: IR2Freq3"),
    F(ir2_flt3_gain, "119: IR2Gain3"), F(ir2_flt3_q, "120: IR2Q3"), B(ir2_flt4_toggle, "121: IR2Flt4"),
    F(ir2_flt4_mode, "122: IR2Mode4"), F(ir2_flt4_freq, "123: IR2Freq4"), F(ir2_flt4_gain, "124: IR2Gain4"),
    F(ir2_flt4_q, "125: IR2Q4"), B(ir2_flt5_toggle, "126: IR2Flt5"), F(ir2_flt5_mode, "127: IR2Mode5"),
    F(ir2_flt5_freq, "128: IR2Freq5"), F(ir2_flt5_gain, "129: IR2Gain5"), F(ir2_flt5_q, "130: IR2Q5"),
    F(ir1_flt1_freq_to, "131: IR1Fq1to"), F(ir1_flt1_freq_to_start, "132: IR1Fq1st"),
    F(ir1_flt1_freq_to_end, "133: IR1Fq1en"), F(ir1_flt1_gain_to, "134: IR1Gn1to"),
    F(ir1_flt1_gain_to_start, "135: IR1Gn1st"), F(ir1_flt1_gain_to_end, "136: IR1Gn1en"),
    F(ir1_flt2_freq_to, "137: IR1Fq2to"), F(ir1_flt2_freq_to_start, "138: IR1Fq2st"),
    F(ir1_flt2_freq_to_end, "139: IR1Fq2en"), F(ir1_flt2_gain_to, "140: IR1Gn2to"),
    F(ir1_flt2_gain_to_start, "141: IR1Gn2st"), F(ir1_flt2_gain_to_end, "142: IR1Gn2en"),
    F(ir1_flt3_freq_to, "143: IR1Fq3to"), F(ir1_flt3_freq_to_start, "144: IR1Fq3st"),
    F(ir1_flt3_freq_to_end, "145: IR1Fq3en"), F(ir1_flt3_gain_to, "146: IR1Gn3to"),
    F(ir1_flt3_gain_to_start, "147: IR1Gn3st"), F(ir1_flt3_gain_to_end, "148: IR1Gn3en"),
    F(ir1_flt4_freq_to, "149: IR1Fq4to"), F(ir1_flt4_freq_to_start, "150: IR1Fq4st"),
    F(ir1_flt4_freq_to_end, "151: IR1Fq4en"), F(ir1_flt4_gain_to, "152: IR1Gn4to"),
    F(ir1_flt4_gain_to_start, "153: IR1Gn4st"), F(ir1_flt4_gain_to_end, "154: IR1Gn4en"),
    F(ir1_flt5_freq_to, "155: IR1Fq5to"), F(ir1_flt5_freq_to_start, "156: IR1Fq5st"),
    F(ir1_flt5_freq_to_end, "157: IR1Fq5en"), F(ir1_flt5_gain_to, "158: IR1Gn5to"),
    F(ir1_flt5_gain_to_start, "159: IR1Gn5st"), F(ir1_flt5_gain_to_end, "160: IR1Gn5en"),
    F(ir2_flt1_freq_to, "161: IR2Fq1to"), F(ir2_flt1_freq_to_start, "162: IR2Fq1st"),
    F(ir2_flt1_freq_to_end, "163: IR2Fq1en"), F(ir2_flt1_gain_to, "164: IR2Gn1to"),
    F(ir2_flt1_gain_to_start, "165: IR2Gn1st"), F(ir2_flt1_gain_to_end, "166: IR2Gn2en"),
    F(ir2_flt2_freq_to, "167: IR2Fq2to"), F(ir2_flt2_freq_to_start, "168: IR2Fq2st"),
    F(ir2_flt2_freq_to_end, "169: IR2Fq2en"), F(ir2_flt2_gain_to, "170: IR2Gn2to"),
    F(ir2_flt2_gain_to_start, "171: IR2Gn2st"), F(ir2_flt2_gain_to_end, "172: IR2Gn2en"),
    F(ir2_flt3_freq_to, "173: IR2Fq3to"), F(ir2_flt3_freq_to_start, "174: IR2Fq3st"),
    F(ir2_flt3_freq_to_end, "175: IR2Fq3en"), F(ir2_flt3_gain_to, "176: IR2Gn3to"),
    F(ir2_flt3_gain_to_start, "177: IR2Gn3st"), F(ir2_flt3_gain_to_end, "178: IR2Gn3en"),
    F(ir2_flt4_freq_to, "179: IR2Fq4to"), F(ir2_flt4_freq_to_start, "180: IR2Fq4st"),
    F(ir2_flt4_freq_to_end, "181: IR2Fq4en"), F(ir2_flt4_gain_to, "182: IR2Gn4to"),
    F(ir2_flt4_gain_to_start, "183: IR2Gn4st"), F(ir2_flt4_gain_to_end, "184: IR2Gn4en"),
    F(ir2_flt5_freq_to, "185: IR2Fq5to"), F(ir2_flt5_freq_to_start, "186: IR2Fq5st"),
    F(ir2_flt5_freq_to_end, "187: IR2Fq5en"), F(ir2_flt5_gain_to, "188: IR2Gn5to"),
    F(ir2_flt5_gain_to_start, "189: IR2Gn5st"), F(ir2_flt5_gain_to_end, "190: IR2Gn5en"),
    F(ir1_flt1_freq_mod_shape, "191: EQ1Frq1S"), F(ir1_flt2_freq_mod_shape, "192: EQ1Frq2S"),
    F(ir1_flt3_freq_mod_shape, "193: EQ1Frq3S"), F(ir1_flt4_freq_mod_shape, "194: EQ1Frq4S"),
    F(ir1_flt5_freq_mod_shape, "195: EQ1Frq5S"), F(ir2_flt1_freq_mod_shape, "196: EQ2Frq1S"),
    F(ir2_flt2_freq_mod_shape, "197: EQ2Frq2S"), F(ir2_flt3_freq_mod_shape, "198: EQ2Frq3S"),
    F(ir2_flt4_freq_mod_shape, "199: EQ2Frq4S"), F(ir2_flt5_freq_mod_shape, "200: EQ2Frq5S"),
    F(ir1_flt1_gain_mod_shape, "201: EQ1Gn1S"), F(ir1_flt2_gain_mod_shape, "202: EQ1Gn2S"),
    F(ir1_flt3_gain_mod_shape, "203: EQ1Gn3S"), F(ir1_flt4_gain_mod_shape, "204: EQ1Gn4S"),
    F(ir1_flt5_gain_mod_shape, "205: EQ1Gn5S"), F(ir2_flt1_gain_mod_shape, "206: EQ2Gn1S"),
    F(ir2_flt2_gain_mod_shape, "207: EQ2Gn2S"), F(ir2_flt3_gain_mod_shape, "208: EQ2Gn3S"),
    F(ir2_flt4_gain_mod_shape, "209: EQ2Gn4S"), F(ir2_flt5_gain_mod_shape, "210: EQ2Gn5S"),
    F(lfo1_rate, "211: LFO1Rate"), F(lfo2_rate, "212: LFO2Rate"), F(lfo3_rate, "213: LFO3Rate"),
    B(flt_master_toggle, "214: Filters"), B(flt1_toggle, "215: Filter#1"), F(flt1_mode, "216: Mode #1"),
    F(flt1_freq, "217: Freq #1"), F(flt1_freq_mod, "218: FrqMod#1"), F(flt1_freq_mod_phase, "219: FrqMPh#1"),
    F(flt1_gain, "220: Gain #1"), F(flt1_gain_mod, "221: GainM#1"), F(flt1_gain_mod_phase, "222: GainMP#1"),
    F(flt1_q, "223: Q #1"), B(flt2_toggle, "224: Filter#2"), F(flt2_mode, "225: Mode #2"),
    F(flt2_freq, "226: Freq #2"), F(flt2_freq_mod, "227: FrqMod#2"), F(flt2_freq_mod_phase, "228: FrqMPh#2"),
    F(flt2_gain, "229: Gain #2"), F(flt2_gain_mod, "230: GainM#2"), F(flt2_gain_mod_phase, "231: GainMP#2"),
    F(flt2_q, "232: Q #2"), B(flt3_toggle, "233: Filter#3"), F(flt3_mode, "234: Mode #3"),
    F(flt3_freq, "235: Freq #3"), F(flt3_freq_mod, "236: FrqMod#3"), F(flt3_freq_mod_phase, "237: FrqMPh#3"),
    F(flt3_gain, "238: Gain #3"), F(flt3_gain_mod, "239: GainM#3"), F(flt3_gain_mod_phase, "240: GainMP#3"),
    F(flt3_q, "241: Q #3"), B(flt4_toggle, "242: Filter#4"), F(flt4_mode, "243: Mode #4"),
    F(flt4_freq, "244: Freq #4"), F(flt4_freq_mod, "245: FrqMod#4"), F(flt4_freq_mod_phase, "246: FrqMPh#4"),
    F(flt4_gain, "247: Gain #4"), F(flt4_gain_mod, "248: GainM#4"), F(flt4_gain_mod_phase, "249: GainMP#4"),
    F(flt4_q, "250: Q #4"), B(flt5_toggle, "251: Filter#5"), F(flt5_mode, "252: Mode #5"),
    F(flt5_freq, "253: Freq #5"), F(flt5_freq_mod, "254: FrqMod#5"), F(flt5_freq_mod_phase, "255: FrqMPh#5"),
    F(flt5_gain, "256: Gain #5"), F(flt5_gain_mod, "257: GainM#5"), F(flt5_gain_mod_phase, "258: GainMP#5"),
    F(flt5_q, "259: Q #5"), F(chorus_master_feedback, "260: ChrMFdB"),
    F(chorus_master_width, "261: ChrMWdth"), F(chorus_master_dry, "262: ChrMDry"),
    F(chorus_master_wet, "263: ChrMWet"), F(chorus_master_delay_ms, "264: ChrMDly"),
    F(chorus_master_delay_mod_ms, "265: ChrMDlMd"), F(chorus_master_delay_mod_rate_hz, "266: ChrMDlRt"),
    B(chorus_master_toggle, "267: ChrMTgle"), F(chorus_ir1_feedback, "268: Chr1FdB"),
    F(chorus_ir1_width, "269: Chr1Wdth"), F(chorus_ir1_dry, "270: Chr1Dry"),
    F(chorus_ir1_wet, "271: Chr1Wet"), F(chorus_ir1_delay_ms, "272: Chr1Dly"),
    F(chorus_ir1_delay_mod_ms, "273: Chr1DlMd"), F(chorus_ir1_delay_mod_rate_hz, "274: Chr1DlRt"),
    B(chorus_ir1_toggle, "275: Chr1Tgle"), F(chorus_ir2_feedback, "276: Chr2FdB"),
    F(chorus_ir2_width, "277: Chr2Wdth"), F(chorus_ir2_dry, "278: Chr2Dry"),
    F(chorus_ir2_wet, "279: Chr2Wet"), F(chorus_ir2_delay_ms, "280: Chr2Dly"),
    F(chorus_ir2_delay_mod_ms, "281: Chr2DlMd"), F(chorus_ir2_delay_mod_rate_hz, "282: Chr2DlRt"),
    B(chorus_ir2_toggle, "283: Chr2Tgle"), B(ir1_ir2_chain, "284: IRChain"),
    F(master_delay_dry, "285: DlyMLDry"), B(master_delay_l_toggle, "286: DlyMLTgl"),
    F(master_delay_l_delay_mod, "287: DlyMLDlM"), F(master_delay_l_delay_mod_rate, "288: DlyMLDlR"),
    F(master_delay_l_feedback, "289: DlyMLFdB"), F(master_delay_l_feedback_opposite, "290: DlyMLFBO"),
    F(master_delay_l_wet, "291: DlyMLWet"), B(master_delay_r_toggle, "292: DlyMRTgl"),
    F(master_delay_r_delay_mod, "293: DlyMRDlM"), F(master_delay_r_delay_mod_rate, "294: DlyMRDlR"),
    F(master_delay_r_feedback, "295: DlyMRFdB"), F(master_delay_r_feedback_opposite, "296: DlyMRFBO"),
    F(master_delay_r_wet, "297: DlyMRWet"), F(master_delay_l_tempo_lock, "298: DlyM-LkL"),
    F(master_delay_r_tempo_lock, "299: DlyM-LkR"), F(ir1_delay_dry, "300: Dly1LDry"),
    B(ir1_delay_l_toggle, "301: Dly1LTgl"), F(ir1_delay_l_delay_mod, "302: Dly1LDlM"),
    F(ir1_delay_l_delay_mod_rate, "303: Dly1LDlR"), F(ir1_delay_l_feedback, "304: Dly1LFdB"),
    F(ir1_delay_l_feedback_opposite, "305: Dly1LFBO"), F(ir1_delay_l_wet, "306: Dly1LWet"),
    B(ir1_delay_r_toggle, "307: Dly1RTgl"), F(ir1_delay_r_delay_mod, "308: Dly1RDlM"),
    F(ir1_delay_r_delay_mod_rate, "309: Dly1RDlR"), F(ir1_delay_r_feedback, "310: Dly1RFdB"),
    F(ir1_delay_r_feedback_opposite, "311: Dly1RFBO"), F(ir1_delay_r_wet, "312: Dly1RWet"),
    F(ir1_delay_l_tempo_lock, "313: Dly1-LkL"), F(ir1_delay_r_tempo_lock, "314: Dly1-LkR"),
    F(ir2_delay_dry, "315: Dly2LDry"), B(ir2_delay_l_toggle, "316: Dly2LTgl"),
    F(ir2_delay_l_delay_mod, "317: Dly2LDlM"), F(ir2_delay_l_delay_mod_rate, "318: Dly2LDlR"),
    F(ir2_delay_l_feedback, "319: Dly2LFdB"), F(ir2_delay_l_feedback_opposite, "320: Dly2LFBO"),
    F(ir2_delay_l_wet, "321: Dly2LWet"), B(ir2_delay_r_toggle, "322: Dly2RTgl"),
    F(ir2_delay_r_delay_mod, "323: Dly2RDlM"), F(ir2_delay_r_delay_mod_rate, "324: Dly2RDlR"),
    F(ir2_delay_r_feedback, "325: Dly2RFdB"), F(ir2_delay_r_feedback_opposite, "326: Dly2RFBO"),
    F(ir2_delay_r_wet, "327: Dly2RWet"), F(ir2_delay_l_tempo_lock, "328: Dly2-LkL"),
    F(ir2_delay_r_tempo_lock, "329: Dly2-LkR"), F(master_gain_lock_status, "330: GainLock"),
    F(master_mix_lock_status, "331: MixLock"), B(ir1_sts_toggle, "332: STSTog1"),
    F(ir1_sts_relative_gain, "333: STSGain1"), F(ir1_sts_high_pass_freq, "334: STSFreq1"),
    F(ir1_sts_high_pass_toggle, "335: STSFrqT1"), F(ir1_sts_pre_delay, "336: STSDly1"),
    B(ir2_sts_toggle, "337: STSTog2"), F(ir2_sts_relative_gain, "338: STSGain2"),
    F(ir2_sts_high_pass_freq, "339: STSFreq2"), F(ir2_sts_high_pass_toggle, "340: STSFrqT2"),
    F(ir2_sts_pre_delay, "341: STSDly2"), S(automated_prog_num_sel, "342: Prog#Sel"),
    F(ir1_additive_noise_wet, "343: ShnWet1"), F(ir2_additive_noise_wet, "344: ShnWet2"),
    F(master_ir1_ir2_mix_law, "345: IRMixMod"), F(pitch_mod_ir1_split_point, "346: IR1SM-SP"),
    F(pitch_mod_ir1_section1_toggle, "347: IR1SM1Tg"), F(pitch_mod_ir1_section1_mod_rate, "348: IR1SM1MR"),
    F(pitch_mod_ir1_section1_mod_depth, "349: IR1SM1MD"), F(pitch_mod_ir1_section2_toggle, "350: IR1SM2Tg"),
    F(pitch_mod_ir1_section2_mod_rate, "351: IR1SM2MR"), F(pitch_mod_ir1_section2_mod_depth, "352: IR1SM2MD"),
    F(pitch_mod_ir2_split_point, "353: IR2SM-SP"), F(pitch_mod_ir2_section1_toggle, "354: IR2SM1Tg"),
    F(pitch_mod_ir2_section1_mod_rate, "355: IR2SM1MR"), F(pitch_mod_ir2_section1_mod_depth, "356: IR2SM1MD"),
    F(pitch_mod_ir2_section2_toggle, "357: IR2SM2Tg"), F(pitch_mod_ir2_section2_mod_rate, "358: IR2SM2MR"),
    F(pitch_mod_ir2_section2_mod_depth, "359: IR2SM2MD"), F(ir1_stacked_rate, "360: AIR1Rate"),
    F(ir1_stacked_head_tail_mix, "361: AIR1Mix"), F(ir1_stacked_depth, "362: AIR1Dpth"),
    F(ir1_stacked_head_permit_mod, "363: AIR1NoHd"), F(ir2_stacked_rate, "364: AIR2Rate"),
    F(ir2_stacked_head_tail_mix, "365: AIR1Mix"), F(ir2_stacked_depth, "366: AIR2Dpth"),
    F(ir2_stacked_head_permit_mod, "367: AIR2NoHd"),
};
#undef CV_OFFSET
#undef F
#undef B
#undef S
// clang-format on

std::ptrdiff_t offset_of(float VST_Plugin_Program::*slot)
{
    static VST_Plugin_Program const probe;
    return reinterpret_cast<char const*>(&(probe.*slot)) - reinterpret_cast<char const*>(&probe);
}

int number_in_name(char const* name)
{
    char* end = nullptr;
    long const number = std::strtol(name, &end, 10);
    return end == name || std::string_view(end).substr(0, 2) != ": " ? -1 : static_cast<int>(number);
}

} // namespace

TEST(ParameterTable, EveryRowMatchesTheReference)
{
    ASSERT_EQ(std::size(reference), 366u);
    EXPECT_EQ(corvella::keyed_parameter_count, 366);
    EXPECT_EQ(corvella::host_parameter_count, 367);
    auto const table = corvella::parameter_table();
    ASSERT_EQ(table.size(), 366u);
    VST_Plugin_Program fresh = corvella::test::filled_program();
    fresh.reset();
    for (int i = 0; i < 366; ++i) {
        RefRow const& ref = reference[i];
        ParameterRow const& row = table[static_cast<std::size_t>(i)];
        SCOPED_TRACE(ref.key);
        EXPECT_EQ(row.index, i);
        EXPECT_STREQ(row.key, ref.key);
        EXPECT_STREQ(row.name, ref.name);
        EXPECT_EQ(row.kind, ref.kind);
        EXPECT_EQ(row.steps, ref.kind == ParameterKind::continuous ? 128
                             : ref.kind == ParameterKind::on_off   ? 2
                                                                   : 48);
        EXPECT_EQ(corvella::find_parameter(ref.key), &row);
        EXPECT_EQ(corvella::parameter_at(i), &row);
        // Names skip the editor numbers 40 and 76 (the tail variants have no host parameter).
        EXPECT_EQ(number_in_name(ref.name), i <= 39 ? i : i <= 74 ? i + 1 : i + 2);
        EXPECT_EQ(corvella::parameter_name_number(i), number_in_name(ref.name));
        // Field 30 + index, except the post EQ band 2 gains, which follow the record's band 2 order.
        EXPECT_EQ(row.field, i == 227 ? 259 : i == 228 ? 257 : i == 229 ? 258 : 30 + i);
        EXPECT_EQ(corvella::parameter_for_field(row.field), &row);
        std::string_view const key = row.key;
        EXPECT_EQ(row.store, key == "master_gain_lock_status" || key == "master_mix_lock_status"
                                 ? ParameterStore::lock_record
                             : key == "automated_prog_num_sel" ? ParameterStore::none
                                                               : ParameterStore::program);
        if (ref.offset < 0) {
            EXPECT_EQ(row.slot, nullptr);
            EXPECT_EQ(row.default_value, 0.0f);
            continue;
        }
        ASSERT_NE(row.slot, nullptr);
        EXPECT_EQ(offset_of(row.slot), ref.offset);
        EXPECT_EQ(row.default_value, corvella::test::slot_value(fresh, row.key));
    }
    for (int outside : {-1, 366, 367}) {
        EXPECT_EQ(corvella::parameter_at(outside), nullptr) << outside;
        EXPECT_EQ(corvella::parameter_name_number(outside), -1) << outside;
    }
    for (int outside : {-1, 0, 29, 396})
        EXPECT_EQ(corvella::parameter_for_field(outside), nullptr) << outside;
    EXPECT_EQ(corvella::master_bypass_parameter.field, 0);
    // The selector is shown like a continuous parameter; the host presentation is tested with the host.
    EXPECT_EQ(&corvella::parameter_style(ParameterKind::program_selector), &corvella::continuous_style);
}

TEST(ParameterTable, KeysWithoutHostParameterAreNotFoundAndLookupsAllocateNothing)
{
    for (char const* key : {"ir1_tail_variant", "ir2_er_type", "ir1_tail_density", "master_delay_l_tempo",
                            "ir1_delay_r_delay_denom", "ir1_file_a", "name", "current_program",
                            "master_mix_locked_value", "ir1_source_type", "force_partial_recompute_IR1", "",
                            "master_gai", "master_gainx", "Master_gain", "master_gain "})
        EXPECT_EQ(corvella::find_parameter(key), nullptr) << '"' << key << '"';
    std::string_view const text = "ir1_gainXYZ"; // the key need not be terminated
    EXPECT_EQ(corvella::find_parameter(text.substr(0, 8)), corvella::parameter_at(11));

    int found = 0;
    corvella::test::AllocationCounter counter;
    for (int i = 0; i < 366; ++i)
        found +=
            (corvella::find_parameter(reference[i].key) != nullptr) + (corvella::parameter_at(i) != nullptr);
    found += corvella::find_parameter("no_such_key") != nullptr;
    found += corvella::parameter_for_field(259) != nullptr;
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(found, 2 * 366 + 1);
}
