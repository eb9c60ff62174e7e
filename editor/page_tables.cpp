#include "editor/page_tables.h"

#include "ir/reflection.h"
#include "ir/tail.h"

namespace corvella::editor {

namespace {

// The type menu of a band: its engine band offers only some filter types.
Choices eq_band_modes(int band)
{
    return band == 1 ? Choices::eq_mode_lowest : band == 5 ? Choices::eq_mode_highest : Choices::eq_mode_middle;
}

ControlRow group(std::string title, double col, double row, double cols, double rows = 1)
{
    return {Kind::group, {}, std::move(title), Unit::percent, col, row, cols, rows};
}
ControlRow dial(std::string key, std::string label, Unit unit, double col, double row)
{
    return {Kind::dial, std::move(key), std::move(label), unit, col, row};
}
ControlRow toggle(std::string key, std::string label, double col, double row)
{
    return {Kind::toggle, std::move(key), std::move(label), Unit::on_off, col, row};
}
ControlRow menu(std::string key, std::string label, Choices choices, double col, double row, double cols = 2)
{
    return {Kind::value_menu, std::move(key), std::move(label), Unit::percent, col, row, cols, 1, choices};
}
ControlRow data_menu(int id, std::string label, Choices choices, double col, double row, double cols = 2)
{
    return {Kind::data_menu, {}, std::move(label), Unit::percent, col, row, cols, 1, choices, id};
}

std::string ir(int slot)
{
    return slot == 1 ? "ir1" : "ir2";
}

// Custom-data slots per IR: source type, tail density, tail character, ER room.
int tail_density_id(int slot) { return slot == 1 ? 19 : 23; }
int tail_character_id(int slot) { return slot == 1 ? 20 : 24; }
int er_room_id(int slot) { return slot == 1 ? 21 : 25; }

} // namespace

std::vector<std::string> choice_texts(Choices choices)
{
    switch (choices) {
    case Choices::topology:
        return {topology_names[0], topology_names[1], topology_names[2], topology_names[3]};
    case Choices::eq_mode:
        return {eq_mode_names[0], eq_mode_names[1], eq_mode_names[2], eq_mode_names[3], eq_mode_names[4]};
    case Choices::eq_mode_lowest:
        return {eq_lowest_mode_names[0], eq_lowest_mode_names[1], eq_lowest_mode_names[2]};
    case Choices::eq_mode_middle:
        return {"Peak"};
    case Choices::eq_mode_highest:
        return {eq_highest_mode_names[0], eq_highest_mode_names[1], eq_highest_mode_names[2]};
    case Choices::source_type:
        return {"File", "ER", "Tail"};
    case Choices::er_room: {
        std::vector<std::string> out;
        for (auto const& room : reflection_room_designs) out.emplace_back(room.name);
        return out;
    }
    case Choices::tail_density: {
        std::vector<std::string> out;
        for (int i = 0; tail_density_name(i) != nullptr; ++i) out.emplace_back(tail_density_name(i));
        return out;
    }
    case Choices::tail_character: {
        std::vector<std::string> out;
        for (int i = 0; tail_tint_name(i) != nullptr; ++i) out.emplace_back(tail_tint_name(i));
        return out;
    }
    case Choices::mix_law:
        return {"Raised Centre", "Flat Balance"};
    case Choices::mod_order:
        return {"Mod Pre-IR", "Mod Post-IR"};
    case Choices::chain:
        return {"Chain IR1/IR2", "Chain inactive"};
    case Choices::sts_mode:
        return {"Sim-TS Off", "Sim-TS Clear", "Sim-TS Dense"};
    case Choices::mix_order:
        return {"Mix Pre-IR", "Mix Post-IR"};
    case Choices::note_value: {
        std::vector<std::string> out;
        for (auto const& n : note_values) out.emplace_back(n.text);
        return out;
    }
    case Choices::none:
        break;
    }
    return {};
}

std::vector<std::string> const& main_tab_labels()
{
    static std::vector<std::string> const labels{"IR1 Edit", "IR1 EQ",  "IR2 Edit", "IR2 EQ", "SplitMod",
                                                 "Chorus",   "Delay",   "Post EQ",  "Mixer",  "Settings"};
    return labels;
}

PageTable ir_edit_common_table(int slot)
{
    std::string const p = ir(slot) + "_";
    return {
        group("Level", 0, 0, 5),
        dial(p + "gain", "Gain", Unit::ir_gain_db, 0, 0),
        toggle(p + "normalise", "Normalise", 1, 0),
        dial(p + "width", "Width", Unit::width, 2, 0),
        toggle(p + "cross_channel", "Cross", 3, 0),
        toggle(p + "stereo_mono", "Mono", 4, 0),
        group("Source", 5.25, 0, 6),
        dial(p + "user_resample_factor", "Length", Unit::length_factor, 5.25, 0),
        dial(p + "crop_from_start", "Crop Start", Unit::envelope, 6.25, 0),
        dial(p + "crop_from_end", "Crop End", Unit::envelope, 7.25, 0),
        toggle(p + "reverse", "Reverse", 8.25, 0),
        dial(p + "pre_delay", "Pre-Delay", Unit::pre_delay_ms, 9.25, 0),
        dial(p + "additive_noise_wet", "Noise", Unit::percent, 10.25, 0),
        group("Envelope", 0, 1, 11),
        dial(p + "adshr_a", "Attack", Unit::envelope, 0, 1),
        dial(p + "adshr_d", "Decay", Unit::envelope, 1, 1),
        dial(p + "adshr_s", "Sustain", Unit::level, 2, 1),
        dial(p + "adshr_h", "Hold", Unit::envelope, 3, 1),
        dial(p + "adshr_r", "Release", Unit::envelope, 4, 1),
        dial(p + "adshr_a_alpha", "Atk Shape", Unit::percent, 5, 1),
        dial(p + "adshr_d_alpha", "Dec Shape", Unit::percent, 6, 1),
        dial(p + "adshr_r_alpha", "Rel Shape", Unit::percent, 7, 1),
        toggle(p + "adshr_a_alpha_inv", "Atk Invert", 8, 1),
        toggle(p + "adshr_d_alpha_inv", "Dec Invert", 9, 1),
        toggle(p + "adshr_r_alpha_inv", "Rel Invert", 10, 1),
    };
}

PageTable ir_type_table(int slot, int type)
{
    std::string const p = ir(slot) + "_";
    if (type == 0) {
        return {
            group("Sim-TS", 0, 0, 5.5),
            // Off, the side made from the A channels as they are (0.5), or convolved with noise (1.0).
            {Kind::step_switch, p + "sts_toggle", "Sim-TS", Unit::on_off, 0, 0, 1.5, 1, Choices::sts_mode},
            dial(p + "sts_relative_gain", "Gain", Unit::sts_gain_db, 1.5, 0),
            dial(p + "sts_high_pass_freq", "High Pass", Unit::hpf, 2.5, 0),
            toggle(p + "sts_high_pass_toggle", "HPF", 3.5, 0),
            dial(p + "sts_pre_delay", "Delay", Unit::sts_delay_ms, 4.5, 0),
            // Shown instead of Sim-TS (Fusion IR topology), in the same place; its texts are long.
            group("Fusion", 0, 0, 8),
            {Kind::dial, p + "stacked_rate", "Rate", Unit::stacked_rate, 0, 0, 2},
            {Kind::dial, p + "stacked_head_tail_mix", "Head/Tail", Unit::stacked_mix, 2, 0, 2},
            {Kind::dial, p + "stacked_depth", "Depth", Unit::percent, 4, 0, 2},
            {Kind::dial, p + "stacked_head_permit_mod", "Head Mod", Unit::stacked_permit, 6, 0, 2},
        };
    }
    if (type == 1) {
        return {
            group("Early Reflections", 0, 0, 8),
            data_menu(er_room_id(slot), "Room", Choices::er_room, 0, 0),
            dial(p + "er_size", "Size", Unit::percent, 2, 0),
            dial(p + "er_diffusion", "Diffusion", Unit::percent, 3, 0),
            dial(p + "er_distance", "Distance", Unit::percent, 4, 0),
            dial(p + "er_position", "Position", Unit::pan, 5, 0),
            dial(p + "er_separation", "Separation", Unit::percent, 6, 0),
            dial(p + "er_depth", "Depth", Unit::percent, 7, 0),
        };
    }
    return {
        group("Tail", 0, 0, 8),
        data_menu(tail_density_id(slot), "Density", Choices::tail_density, 0, 0),
        data_menu(tail_character_id(slot), "Character", Choices::tail_character, 2, 0),
        dial(p + "tail_length", "Length", Unit::tail_seconds, 4, 0),
        dial(p + "tail_diffusion", "Diffusion", Unit::percent, 5, 0),
        dial(p + "tail_diffuse_length", "Diffuse", Unit::percent, 6, 0),
        dial(p + "tail_variant", "Variant", Unit::percent, 7, 0),
    };
}

PageTable ir_eq_band_table(int slot, int band)
{
    std::string const b = ir(slot) + "_flt" + std::to_string(band);
    std::string const n = std::to_string(band);
    return {
        group("Band " + n, 0, 0, 10.25),
        toggle(b + "_toggle", "On", 0, 0),
        menu(b + "_mode", "Type", eq_band_modes(band), 1, 0),
        dial(b + "_freq", "Freq", Unit::eq_freq, 3, 0),
        dial(b + "_gain", "Gain", Unit::eq_gain_db, 4, 0),
        dial(b + "_q", "Q", Unit::eq_q, 5, 0),
        {Kind::note_label, b + "_freq", "Note", Unit::eq_freq, 6.25, 0, 4},
        group("Sweep across the response", 0, 1, 8),
        dial(b + "_freq_to", "Freq To", Unit::eq_freq, 0, 1),
        dial(b + "_freq_to_start", "Freq Start", Unit::sweep_ms, 1, 1),
        dial(b + "_freq_to_end", "Freq End", Unit::sweep_ms, 2, 1),
        dial(b + "_freq_mod_shape", "Freq Shape", Unit::percent, 3, 1),
        dial(b + "_gain_to", "Gain To", Unit::eq_gain_db, 4, 1),
        dial(b + "_gain_to_start", "Gain Start", Unit::sweep_ms, 5, 1),
        dial(b + "_gain_to_end", "Gain End", Unit::sweep_ms, 6, 1),
        dial(b + "_gain_mod_shape", "Gain Shape", Unit::percent, 7, 1),
    };
}

PageTable eq_all_bands_table(std::string const& prefix)
{
    PageTable t;
    for (int band = 1; band <= 5; ++band) {
        double const c = (band - 1) * 2.75;
        std::string const b = prefix + std::to_string(band);
        t.push_back(group("Band " + std::to_string(band), c, 0, 2, 3));
        t.push_back(toggle(b + "_toggle", "On", c, 0));
        t.push_back(menu(b + "_mode", "Type", eq_band_modes(band), c + 1, 0, 1));
        t.push_back(dial(b + "_freq", "Freq", Unit::eq_freq, c, 1));
        t.push_back(dial(b + "_gain", "Gain", Unit::eq_gain_db, c + 1, 1));
        t.push_back(dial(b + "_q", "Q", Unit::eq_q, c, 2));
    }
    return t;
}

PageTable post_eq_band_table(int band)
{
    std::string const b = "flt" + std::to_string(band);
    return {
        group("Band " + std::to_string(band), 0, 0, 10.25),
        toggle(b + "_toggle", "On", 0, 0),
        menu(b + "_mode", "Type", eq_band_modes(band), 1, 0),
        dial(b + "_freq", "Freq", Unit::eq_freq, 3, 0),
        dial(b + "_gain", "Gain", Unit::eq_gain_db, 4, 0),
        dial(b + "_q", "Q", Unit::eq_q, 5, 0),
        {Kind::note_label, b + "_freq", "Note", Unit::eq_freq, 6.25, 0, 4},
        group("Modulation", 0, 1, 4),
        dial(b + "_freq_mod", "Freq Mod", Unit::percent, 0, 1),
        dial(b + "_freq_mod_phase", "Freq Phase", Unit::phase_deg, 1, 1),
        dial(b + "_gain_mod", "Gain Mod", Unit::percent, 2, 1),
        dial(b + "_gain_mod_phase", "Gain Phase", Unit::phase_deg, 3, 1),
        group("LFO", 4.25, 1, 2),
        dial("lfo1_rate", "LFO1 Rate", Unit::lfo_rate_hz, 4.25, 1),
        dial("lfo2_rate", "LFO2 Rate", Unit::lfo_rate_hz, 5.25, 1),
    };
}

PageTable chorus_table(std::string const& which)
{
    std::string const c = "chorus_" + which + "_";
    return {
        group("Chorus", 0, 0, 8),
        toggle(c + "toggle", "On", 0, 0),
        dial(c + "delay_ms", "Delay", Unit::chorus_delay_ms, 1, 0),
        dial(c + "delay_mod_ms", "Depth", Unit::chorus_mod_ms, 2, 0),
        dial(c + "delay_mod_rate_hz", "Rate", Unit::chorus_rate_hz, 3, 0),
        dial(c + "feedback", "Feedback", Unit::percent, 4, 0),
        dial(c + "width", "Width", Unit::percent, 5, 0),
        dial(c + "dry", "Dry", Unit::percent, 6, 0),
        dial(c + "wet", "Wet", Unit::percent, 7, 0),
    };
}

PageTable delay_table(std::string const& which)
{
    std::string const d = which + "_delay_";
    int const note_base = which == "master" ? 26 : which == "ir1" ? 30 : 34;
    int const tempo_base = which == "master" ? 38 : which == "ir1" ? 40 : 42;
    PageTable t;
    for (int side = 0; side < 2; ++side) {
        std::string const s = d + (side == 0 ? "l_" : "r_");
        double const r = side;
        t.push_back(group(side == 0 ? "Left" : "Right", 0, r, 10));
        t.push_back(toggle(s + "toggle", "On", 0, r));
        t.push_back({Kind::note_menu, {}, "Note", Unit::percent, 1, r, 2, 1, Choices::note_value, note_base + 2 * side});
        t.push_back(toggle(s + "tempo_lock", "Sync", 3, r));
        t.push_back({Kind::data_tempo, {}, "Tempo", Unit::percent, 4, r, 1, 1, Choices::none, tempo_base + side});
        t.push_back(dial(s + "delay_mod", "Mod", Unit::delay_mod_ms, 5, r));
        t.push_back(dial(s + "delay_mod_rate", "Mod Rate", Unit::delay_rate_hz, 6, r));
        t.push_back(dial(s + "feedback", "Feedback", Unit::percent, 7, r));
        t.push_back(dial(s + "feedback_opposite", "Cross FB", Unit::percent, 8, r));
        t.push_back(dial(s + "wet", "Wet", Unit::percent, 9, r));
    }
    t.push_back(group("Mix", 10.25, 0, 1));
    t.push_back(dial(d + "dry", "Dry", Unit::percent, 10.25, 0));
    return t;
}

PageTable split_mod_table(int slot)
{
    std::string const p = "pitch_mod_" + ir(slot) + "_";
    return {
        group("Split", 0, 0, 1),
        dial(p + "split_point", "Split", Unit::percent, 0, 0),
        group("Section 1", 1.25, 0, 3),
        toggle(p + "section1_toggle", "On", 1.25, 0),
        dial(p + "section1_mod_rate", "Rate", Unit::percent, 2.25, 0),
        dial(p + "section1_mod_depth", "Depth", Unit::percent, 3.25, 0),
        group("Section 2", 4.5, 0, 3),
        toggle(p + "section2_toggle", "On", 4.5, 0),
        dial(p + "section2_mod_rate", "Rate", Unit::percent, 5.5, 0),
        dial(p + "section2_mod_depth", "Depth", Unit::percent, 6.5, 0),
    };
}

PageTable mixer_table()
{
    // The order switch and the order menu edit one setting, where the mixer's gains and their
    // modulation apply: before the convolvers (above 0) or on the wet signals (0).
    return {
        group("Master", 0, 0, 4),
        dial("master_gain", "Gain", Unit::master_db, 0, 0),
        dial("master_mix", "Dry/Wet", Unit::percent, 1, 0),
        toggle("master_stereo_mono", "Mono", 2, 0),
        toggle("master_wet_lock_ignore", "Lock Off", 3, 0),
        group("IR1/IR2", 4.25, 0, 5),
        dial("master_ir1_ir2_mix", "IR1/IR2", Unit::pan, 4.25, 0),
        dial("master_ir1_ir2_mix_mod", "Mix Mod", Unit::percent, 5.25, 0),
        dial("lfo3_rate", "Mod Rate", Unit::lfo_rate_hz, 6.25, 0),
        menu("master_ir1_ir2_mix_law", "Mix Law", Choices::mix_law, 7.25, 0),
        group("IR1", 0, 1, 4),
        toggle("ir1_toggle", "IR1 On", 0, 1),
        dial("ir1_balance", "Balance", Unit::pan, 1, 1),
        dial("ir1_balance_mod", "Bal Mod", Unit::percent, 2, 1),
        dial("ir1_balance_mod_phase", "Bal Phase", Unit::phase_deg, 3, 1),
        group("IR2", 4.25, 1, 4),
        toggle("ir2_toggle", "IR2 On", 4.25, 1),
        dial("ir2_balance", "Balance", Unit::pan, 5.25, 1),
        dial("ir2_balance_mod", "Bal Mod", Unit::percent, 6.25, 1),
        dial("ir2_balance_mod_phase", "Bal Phase", Unit::phase_deg, 7.25, 1),
        group("Chain Status", 8.5, 1, 2),
        menu("ir1_ir2_chain", "Chain", Choices::chain, 8.5, 1),
        group("Locks", 0, 2, 2),
        toggle("master_gain_lock_status", "Gain Lock", 0, 2),
        toggle("master_mix_lock_status", "Mix Lock", 1, 2),
        group("Order", 2.25, 2, 4),
        {Kind::step_switch, "master_mixer_modulation_order", "Mod", Unit::mod_order, 2.25, 2, 2, 1,
         Choices::mod_order},
        menu("master_mixer_modulation_order", "Mix", Choices::mix_order, 4.25, 2),
    };
}

} // namespace corvella::editor
