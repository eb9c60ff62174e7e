#pragma once

// The editor's pages as data: one row per control (kind, key, label, unit, grid cell) and one per
// group frame. The builder in CEditorView turns a table into widgets; tests walk the tables
// against the parameter table.
//
// Grid: a cell is 64 x 72 logical units (a knob with its label and value), columns 72 apart,
// rows 100 apart so a group title fits between them. Fractional columns leave room between
// groups.

#include "editor/value_text.h"

#include <string>
#include <vector>

namespace corvella::editor {

enum class Kind {
    group,       // a titled frame around the cells (col, row) .. (col + cols, row + rows)
    dial,        // knob bound to a parameter key
    slider,      // horizontal slider bound to a parameter key
    toggle,      // on/off button bound to a parameter key
    value_menu,  // option menu bound to a parameter key (items: `choices`)
    step_switch, // vertical multi-position switch bound to a parameter key (items: `choices`)
    data_menu,   // option menu bound to an integer custom-data slot (`data_id`)
    note_menu,   // delay note value: numerator in `data_id`, denominator in `data_id` + 1
    data_tempo,  // knob bound to a tempo custom-data slot (BPM)
    note_label,  // the note name of an EQ band's frequency (`key`), or its sweep range
};

// Item lists of the menus and switches.
enum class Choices {
    none,
    topology,
    eq_mode,         // all five filter types
    eq_mode_lowest,  // band 1
    eq_mode_middle,  // bands 2 to 4
    eq_mode_highest, // band 5
    source_type,  // "File", "ER", "Tail"
    er_room,
    tail_density,
    tail_character,
    mix_law,
    mod_order,
    chain,
    note_value,
    sts_mode,   // "Sim-TS Off", "Sim-TS Clear", "Sim-TS Dense"
    mix_order,  // "Mix Pre-IR", "Mix Post-IR"
};

struct ControlRow {
    Kind kind;
    std::string key; // parameter key; for note_label the band's frequency key
    std::string label;
    Unit unit = Unit::percent;
    double col = 0;
    double row = 0;
    double cols = 1;
    double rows = 1;
    Choices choices = Choices::none;
    int data_id = -1;
};

using PageTable = std::vector<ControlRow>;

// Item texts of a choice list, in menu order.
std::vector<std::string> choice_texts(Choices choices);

// The main tab labels in order.
std::vector<std::string> const& main_tab_labels();

// Tables of the pages (slot = 1 or 2 where a page exists per IR).
PageTable ir_edit_common_table(int slot);       // level, source and envelope groups
PageTable ir_type_table(int slot, int type);    // 0 "File", 1 "ER", 2 "Tail"
PageTable ir_eq_band_table(int slot, int band); // band 1..5
PageTable eq_all_bands_table(std::string const& prefix);  // "ir1_flt", "ir2_flt" or "flt"
PageTable post_eq_band_table(int band);
PageTable chorus_table(std::string const& which); // "master", "ir1", "ir2"
PageTable delay_table(std::string const& which);  // "master", "ir1", "ir2"
PageTable split_mod_table(int slot);
PageTable mixer_table();

// Delay note values: numerator and denominator of menu position p.
struct NoteValue {
    int numer;
    int denom;
    char const* text;
};
inline constexpr NoteValue note_values[14] = {
    {1, 64, "1/64"}, {1, 32, "1/32"}, {1, 16, "1/16"}, {1, 8, "1/8"}, {3, 16, "3/16"}, {1, 4, "1/4"}, {5, 16, "5/16"},
    {3, 8, "3/8"},   {7, 16, "7/16"}, {1, 2, "1/2"},   {5, 8, "5/8"}, {3, 4, "3/4"},  {7, 8, "7/8"},   {1, 1, "1/1"}};

} // namespace corvella::editor
