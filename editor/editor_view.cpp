#include "editor/editor_view.h"

#include "editor/settings_page.h"
#include "editor/ui/dial.h"
#include "editor/ui/label.h"
#include "editor/ui/menu.h"
#include "editor/ui/slider.h"
#include "editor/ui/step_switch.h"
#include "editor/ui/tabs.h"
#include "editor/ui/toggle.h"
#include "editor/ir_browser.h"
#include "editor/level_meter.h"
#include "editor/preset_browser.h"
#include "editor/vis_panel.h"
#include "host/lv2_preset_export.h"
#include "host/demogain_parameters.h"
#include "host/engine_status.h"
#include "ir/ir_file_pairing.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "program/parameter_table.h"
#include "program/program_constants.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace corvella::editor {

using namespace corvella::ui;

namespace {

// Grid of the page tables.
constexpr double cell_w = 64;
constexpr double cell_h = 72;
constexpr double col_pitch = 72;
constexpr double row_pitch = 100;
constexpr double group_title = CGroupBox::title_height;

// Window bands, top to bottom.
constexpr double top_bar_h = 32;
constexpr double ir_display_h = 224; // the IR panel and the gap below it
constexpr double lower_pane_h = 200;
constexpr double header_h = 60;

constexpr float tempo_min = 30.0f;
constexpr float tempo_max = 200.0f;

Rect cell_rect(double x0, double y0, ControlRow const& r)
{
    return {x0 + r.col * col_pitch, y0 + r.row * row_pitch + group_title, r.cols * col_pitch - (col_pitch - cell_w),
            r.rows * row_pitch - (row_pitch - cell_h)};
}

std::vector<std::string> split_path(std::string const& path)
{
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(path);
    while (std::getline(in, part, '/')) out.push_back(part);
    return out;
}

int read_setting(char const* key, int fallback)
{
    try {
        return extract_data_from_registry_int(key);
    } catch (std::exception const&) {
        return fallback;
    }
}

std::string base_name(std::string const& path)
{
    std::size_t const slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<std::string> command_menu_texts(CommandMenu menu)
{
    std::string const reset_program = "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer";
    switch (menu) {
    case CommandMenu::ir1:
    case CommandMenu::ir2: {
        std::string const a = menu == CommandMenu::ir1 ? "IR1" : "IR2";
        std::string const b = menu == CommandMenu::ir1 ? "IR2" : "IR1";
        return {"Copy " + a + " settings to " + b + ": everything",
                "Copy " + a + " settings to " + b + ": everything except EQ, delay and chorus",
                "Copy " + a + " settings to " + b + ": everything except mixer",
                "Copy " + a + " settings to " + b + ": everything except EQ, delay, chorus and mixer",
                "",
                "Reset " + a + " settings: everything",
                "Reset " + a + " settings: everything except EQ, delay and chorus",
                "Reset " + a + " settings: everything except EQ, delay chorus and mixer",
                "Reset " + a + " settings: EQ only",
                "",
                "Swap IR1/IR2 settings",
                "",
                reset_program};
    }
    case CommandMenu::chorus:
        return {"Copy Post Chorus to clipboard",       "Copy IR1 Chorus to clipboard",
                "Copy IR2 Chorus to clipboard",        "Paste to Post Chorus from clipboard",
                "Paste to IR1 Chorus from clipboard",  "Paste to IR2 Chorus from clipboard",
                "",                                    "Reset All Choruses",
                "Reset Post Chorus",                   "Reset IR1 Chorus",
                "Reset IR2 Chorus",                    "",
                reset_program};
    case CommandMenu::delay:
        return {"Copy Post Delay to clipboard",       "Copy IR1 Delay to clipboard",
                "Copy IR2 Delay to clipboard",        "Paste to Post Delay from clipboard",
                "Paste to IR1 Delay from clipboard",  "Paste to IR2 Delay from clipboard",
                "",                                   "Reset All Delays",
                "Reset Post Delay",                   "Reset IR1 Delay",
                "Reset IR2 delay",                    "",
                "Reset Program: IR1, IR2, Delays, Post EQ, Mixer"};
    case CommandMenu::post_eq:
        return {"Reset Post EQ", "", reset_program};
    case CommandMenu::mixer:
        return {"Reset Mixer", "", reset_program};
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Bindings

struct CEditorView::Binding {
    ControlRow row;
    std::string path;          // page path the control sits on
    CValueControl* control = nullptr;
    CLabel* note = nullptr;    // note_label rows
    double last = std::nan(""); // control value last shown
    std::string depends;         // a second key the text depends on (a high-pass or band switch)
    float depends_last = -1;     // its value when last shown
};

struct CEditorView::SlotHeader {
    int slot;
    CLabel* line_a = nullptr;
    CLabel* line_b = nullptr;
    CWidget* sts_group = nullptr;
    CWidget* fusion_group = nullptr;
    CTabs* type_tabs = nullptr;
    CWidget* b_arrows[2] = {}; // previous and next file of the B line
    CWidget* b_eject = nullptr;
    std::string text_a, text_b;
    bool b_controls = false;
};

namespace {

bool is_eq_mode(Choices c)
{
    return c == Choices::eq_mode || c == Choices::eq_mode_lowest || c == Choices::eq_mode_middle ||
           c == Choices::eq_mode_highest;
}

int choice_count(Choices c)
{
    return static_cast<int>(choice_texts(c).size());
}

// Menu position of a stored unity value, and back.
int position_of(Choices c, float u)
{
    switch (c) {
    case Choices::topology:
        return topology_of(u);
    case Choices::eq_mode:
        return eq_mode_menu_position(u);
    case Choices::eq_mode_lowest:
    case Choices::eq_mode_highest:
        return eq_band_mode_menu_position(u);
    case Choices::eq_mode_middle:
        return 0;
    case Choices::chain:
    case Choices::mod_order: // the first item is the switched-on state
    case Choices::mix_order:
        return u >= 0.5f ? 0 : 1;
    case Choices::sts_mode: // off, 0.5, 1.0
        return std::clamp(static_cast<int>(std::lround(u * 2.0f)), 0, 2);
    default:
        return u >= 0.5f ? 1 : 0;
    }
}

float unity_of(Choices c, int position)
{
    switch (c) {
    case Choices::topology:
        return topology_unity(position);
    case Choices::eq_mode:
        return eq_mode_unity(position);
    case Choices::eq_mode_lowest:
    case Choices::eq_mode_highest:
    case Choices::eq_mode_middle:
        return eq_band_mode_unity(position);
    case Choices::chain:
    case Choices::mod_order:
    case Choices::mix_order:
        return position == 0 ? 1.0f : 0.0f;
    case Choices::sts_mode:
        return static_cast<float>(std::clamp(position, 0, 2)) * 0.5f;
    default:
        return static_cast<float>(position);
    }
}

double value_of_position(int position, int count)
{
    return count > 1 ? static_cast<double>(std::clamp(position, 0, count - 1)) / (count - 1) : 0.0;
}

int position_of_value(double v, int count)
{
    return count > 1 ? static_cast<int>(std::lround(v * (count - 1))) : 0;
}

bool float_slot(int id)
{
    return id == 18 || id == 22 || id >= 38; // source types are taken as floats; tempos are floats
}

} // namespace

double CEditorView::read_control_value(Binding& b)
{
    ControlRow const& r = b.row;
    switch (r.kind) {
    case Kind::value_menu:
    case Kind::step_switch:
        return value_of_position(position_of(r.choices, host_.get_parameter(r.key)), choice_count(r.choices));
    case Kind::data_menu: {
        std::int32_t i = 0;
        host_.get_custom_data(r.data_id, &i, 4);
        return value_of_position(i, choice_count(r.choices));
    }
    case Kind::note_menu: {
        std::int32_t numer = 0, denom = 0;
        host_.get_custom_data(r.data_id, &numer, 4);
        host_.get_custom_data(r.data_id + 1, &denom, 4);
        int position = 5; // "1/4" for a pair no menu item names
        for (int i = 0; i < 14; ++i)
            if (note_values[i].numer == numer && note_values[i].denom == denom) position = i;
        return value_of_position(position, 14);
    }
    case Kind::data_tempo: {
        float bpm = 120.0f;
        host_.get_custom_data(r.data_id, &bpm, 4);
        return std::clamp((bpm - tempo_min) / (tempo_max - tempo_min), 0.0f, 1.0f);
    }
    default:
        return host_.get_parameter(r.key);
    }
}

void CEditorView::write_control_value(Binding& b, double v)
{
    ControlRow const& r = b.row;
    b.last = v;
    switch (r.kind) {
    case Kind::value_menu:
    case Kind::step_switch:
        host_.set_parameter(r.key, unity_of(r.choices, position_of_value(v, choice_count(r.choices))));
        break;
    case Kind::data_menu: {
        std::int32_t const i = position_of_value(v, choice_count(r.choices));
        if (float_slot(r.data_id)) {
            float const f = static_cast<float>(i);
            host_.set_custom_data(r.data_id, &f, 4);
        } else {
            host_.set_custom_data(r.data_id, &i, 4);
        }
        break;
    }
    case Kind::note_menu: {
        NoteValue const& n = note_values[std::clamp(position_of_value(v, 14), 0, 13)];
        std::int32_t const numer = n.numer, denom = n.denom;
        host_.set_custom_data(r.data_id, &numer, 4);
        host_.set_custom_data(r.data_id + 1, &denom, 4);
        break;
    }
    case Kind::data_tempo: {
        float const bpm = tempo_min + static_cast<float>(v) * (tempo_max - tempo_min);
        host_.set_custom_data(r.data_id, &bpm, 4);
        break;
    }
    default:
        host_.set_parameter(r.key, static_cast<float>(v));
        break;
    }
}

void CEditorView::bind(CValueControl& control, ControlRow const& row, std::string const& path)
{
    auto b = std::make_unique<Binding>();
    b->row = row;
    b->path = path;
    b->control = &control;
    Binding* raw = b.get();
    control.set_id(row.kind == Kind::data_menu || row.kind == Kind::note_menu || row.kind == Kind::data_tempo
                       ? "data:" + std::to_string(row.data_id)
                       : row.key);
    control.set_label(row.label);
    control.set_wheel_increment(1.0);
    if (row.choices != Choices::none) control.set_steps(choice_count(row.choices));
    else if (row.kind == Kind::toggle) control.set_steps(2);

    // The parameter's default, for the default-value click.
    if (ParameterRow const* p = find_parameter(row.key)) {
        double d = p->default_value;
        if (row.choices != Choices::none)
            d = value_of_position(position_of(row.choices, p->default_value), choice_count(row.choices));
        control.set_default_value(d);
    } else if (row.kind == Kind::data_tempo) {
        control.set_default_value((120.0 - tempo_min) / (tempo_max - tempo_min));
    } else if (row.kind == Kind::note_menu) {
        control.set_default_value(value_of_position(5, 14));
    }

    Unit const unit = row.unit;
    switch (row.kind) {
    case Kind::dial:
    case Kind::slider:
        if (unit == Unit::hpf) {
            // The high-pass display reads "HPF: Off" while its switch is off.
            b->depends = row.key.substr(0, row.key.size() - 4) + "toggle";
            control.set_formatter([this, toggle_key = b->depends](double v) {
                return host_.get_parameter(toggle_key) > 0.0f ? value_text(Unit::hpf, static_cast<float>(v))
                                                               : std::string("HPF: Off");
            });
            break;
        }
        control.set_formatter([unit](double v) { return value_text(unit, static_cast<float>(v)); });
        if (unit == Unit::eq_gain_db || unit == Unit::pan || unit == Unit::ir_gain_db || unit == Unit::master_db)
            control.set_origin(0.5);
        break;
    case Kind::data_tempo:
        control.set_formatter([](double v) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f BPM", tempo_min + v * (tempo_max - tempo_min));
            return std::string(text);
        });
        break;
    default:
        if (row.choices != Choices::none) {
            auto const texts = choice_texts(row.choices);
            // A band that is off keeps its type, drawn dim until the band is on (see refresh).
            if (is_eq_mode(row.choices)) b->depends = row.key.substr(0, row.key.size() - 4) + "toggle";
            control.set_formatter([texts](double v) {
                return texts[static_cast<std::size_t>(std::clamp(position_of_value(v, static_cast<int>(texts.size())), 0,
                                                                 static_cast<int>(texts.size()) - 1))];
            });
        }
        break;
    }
    if (row.key.rfind("ir2", 0) == 0 || row.key.find("_ir2_") != std::string::npos) control.set_accent(1);

    bool const parameter = !row.key.empty();
    control.on_begin = [this, raw, parameter](CValueControl&) {
        if (parameter) host_.begin_gesture(raw->row.key);
    };
    control.on_change = [this, raw](CValueControl&, double v) {
        write_control_value(*raw, v);
        refresh_texts();
    };
    control.on_end = [this, raw, parameter](CValueControl&) {
        if (parameter) host_.end_gesture(raw->row.key);
    };
    bindings_.push_back(std::move(b));
}

void CEditorView::refresh(Binding& b, bool force)
{
    if (b.note != nullptr) {
        float const from = eq_frequency_hz(host_.get_parameter(b.row.key));
        std::string const to_key = b.row.key + "_to";
        std::string text = note_text(from);
        if (b.row.key.rfind("ir", 0) == 0 && host_.get_parameter(to_key) > 0.0f)
            text = note_range_text(from, eq_frequency_hz(host_.get_parameter(to_key)));
        b.note->set_text(text);
        return;
    }
    if (b.control == nullptr || b.control->in_gesture()) return;
    if (!b.depends.empty()) {
        float const on = host_.get_parameter(b.depends);
        if (on != b.depends_last) b.control->invalidate();
        b.depends_last = on;
        if (is_eq_mode(b.row.choices)) b.control->set_muted(!(on > 0.0f));
    }
    double const v = read_control_value(b);
    if (force || !(v == b.last)) {
        b.last = v;
        b.control->set_value(v);
    }
}

// ---------------------------------------------------------------------------------------------
// Construction

CEditorView::CEditorView(EditorHost& host, EditorOptions options) : host_(host), options_(options)
{
    if (options_.colour_scheme < 0) options_.colour_scheme = read_setting("ColourScheme", 0);
    if (options_.dials_mode < 0) options_.dials_mode = read_setting("DialsMode", 0);
    if (options_.hide_lower_pane < 0) options_.hide_lower_pane = read_setting("HideLowerPane", 0);
    if (options_.hide_presets < 0) options_.hide_presets = read_setting("HidePresets", 0);
    if (options_.ir_vis_selection_mode < 0)
        options_.ir_vis_selection_mode = read_setting("IRVisSelectionMode", 0);
    status_ = std::make_unique<EngineStatus>();
    root_ = std::make_unique<CRoot>(ui::theme(options_.colour_scheme));
    root_->set_size({width, height});
    root_->options().dial_mode = static_cast<DialMode>(std::clamp(options_.dials_mode, 0, 2));
    root_->options().fine_modifiers = mod::control | mod::super;
    root_->set_mouse_claim([this](CValueControl& c, MouseAction action, unsigned mods) {
        return host_.claim_mouse(c.id(), static_cast<int>(action), mods);
    });
    build();
    update_all_elements();
}

CEditorView::~CEditorView() = default;

void CEditorView::build()
{
    build_top_bar();

    vis_panel_ = &root_->add<CVisPanel>({8, top_bar_h, width - 16, ir_display_h - 8}, host_,
                                        options_.ir_vis_selection_mode == 1 ? VisSelectionMode::all_only
                                                                            : VisSelectionMode::multiple);
    vis_panel_->set_id("ir-vis-panel");

    bool const lower = options_.hide_lower_pane != 1;
    double const tabs_top = top_bar_h + ir_display_h;
    double const tabs_h = height - tabs_top - (lower ? lower_pane_h : 0) - 4;
    auto& tabs = root_->add<CTabs>({4, tabs_top, width - 8, tabs_h});
    main_tabs_ = &tabs;
    for (auto const& label : main_tab_labels()) {
        CWidget& page = tabs.add_page(label);
        if (label == "IR1 Edit" || label == "IR2 Edit") {
            build_ir_edit(page, label == "IR1 Edit" ? 1 : 2);
        } else if (label == "IR1 EQ" || label == "IR2 EQ") {
            build_eq(page, label == "IR1 EQ" ? 1 : 2);
        } else if (label == "Post EQ") {
            build_eq(page, 0);
        } else if (label == "SplitMod") {
            auto& sub = page.add<CTabs>(page.bounds());
            for (int slot = 1; slot <= 2; ++slot) {
                std::string const name = slot == 1 ? "IR1" : "IR2";
                build_table(sub.add_page(name), split_mod_table(slot), "SplitMod/" + name, 12, 8);
            }
            sub.on_select = [this](CTabs&, int) { sync_vis_view(); };
        } else if (label == "Chorus" || label == "Delay") {
            bool const chorus = label == "Chorus";
            auto& sub = page.add<CTabs>({0, 0, page.frame().w, page.frame().h});
            for (char const* which : {"Post", "IR1", "IR2"}) {
                std::string const key = std::string(which) == "Post" ? "master" : which == std::string("IR1") ? "ir1" : "ir2";
                build_table(sub.add_page(which), chorus ? chorus_table(key) : delay_table(key),
                            label + "/" + which, 12, 8);
            }
            add_command_menu(page, {page.frame().w - 212, 1, 200, 22},
                             chorus ? CommandMenu::chorus : CommandMenu::delay);
        } else if (label == "Mixer") {
            add_command_menu(page, {page.frame().w - 212, 6, 200, 22}, CommandMenu::mixer);
            build_table(page, mixer_table(), "Mixer", 12, 8);
        } else if (label == "Settings") {
            settings_ = std::make_unique<CSettingsPage>(*this, page);
        }
    }
    tabs.select(0);
    tabs.on_select = [this](CTabs&, int) { sync_vis_view(); };
    sync_vis_view();

    if (lower) {
        auto& pane = root_->add<CTabs>({4, height - lower_pane_h, width - 8, lower_pane_h - 4});
        ir_browser_ = std::make_unique<CIrBrowser>(
            pane.add_page("Browser"), host_, [this] { return open_slot(); },
            [this](int slot, std::string const& path) { return load_ir_file(slot, path); });
        on_ir_file_loaded = [this] { ir_browser_->clear_selection(); };
        if (options_.hide_presets != 1) {
            preset_browser_ = std::make_unique<CPresetBrowser>(pane.add_page("Presets"), host_,
                                                               [this](std::string const& m) { show_message(m); });
            preset_browser_->on_bank_changed = [this] { update_all_elements(); };
        }
        pane.select(0);
    }
}

void CEditorView::build_top_bar()
{
    root_->add<CLabel>({12, 4, 120, 24}, "Corvella", Font::title);
    program_label_ = &root_->add<CLabel>({140, 4, 330, 24}, "", Font::body);
    busy_label_ = &root_->add<CLabel>({480, 4, 270, 24}, "Computing impulse response...", Font::body, Align::right);
    // Levels of IR1, IR2 and the output at the right end of the bar.
    char const* const captions[3] = {"IR1", "IR2", "Out"};
    for (int m = 0; m < 3; ++m) {
        meters_[m] = &root_->add<CLevelMeter>({width - 282 + m * 92, 8, 86, 17}, captions[m]);
        meters_[m]->set_id(std::string("meter:") + captions[m]);
    }
    busy_label_->set_warning(true);
    busy_label_->set_visible(false);
}

CChoiceMenu& CEditorView::add_command_menu(CWidget& parent, Rect const& frame, CommandMenu menu)
{
    auto& m = parent.add<CChoiceMenu>(frame);
    static char const* const titles[6] = {"IR1 Commands", "IR2 Commands", "Chorus Commands",
                                          "Delay Commands", "Post EQ Commands", "Mixer Commands"};
    m.set_id(std::string("command:") + std::to_string(44 + static_cast<int>(menu)));
    m.set_title(titles[static_cast<int>(menu)]);
    m.set_entries(numbered_menu(command_menu_texts(menu)));
    m.on_choose = [this, menu](CChoiceMenu&, int tag) { run_command(menu, tag); };
    command_menus_[static_cast<int>(menu)] = &m;
    return m;
}

CWidget& CEditorView::build_ir_edit(CWidget& page, int slot)
{
    auto header = std::make_unique<SlotHeader>();
    header->slot = slot;
    std::string const ir = slot == 1 ? "IR1 Edit" : "IR2 Edit";
    std::string const k = slot == 1 ? "ir1" : "ir2";
    double const w = page.frame().w;

    header->line_a = &page.add<CLabel>({12, 6, w - 522, 22}, "", Font::body);
    header->line_b = &page.add<CLabel>({12, 32, w - 522, 22}, "", Font::body);
    // The previous and next IR file of the line's folder.
    for (int side = 0; side < 2; ++side)
        for (bool forward : {false, true}) {
            double const x = w - (forward ? 452 : 478), y = side == 0 ? 6 : 32;
            auto& arrow = page.add<CClickLabel>(Rect{x, y, 24, 22}, forward ? ">" : "<");
            arrow.set_id("file-" + std::string(forward ? "next" : "previous") + ":" + k + (side == 0 ? "_a" : "_b"));
            arrow.on_click = [this, slot, side, forward](CClickable&) { step_ir_file(slot, side, forward); };
            if (side == 1) header->b_arrows[forward ? 1 : 0] = &arrow;
        }
    // Eject: a file dialog for the line's file.
    for (int side = 0; side < 2; ++side) {
        auto& eject_button = page.add<CClickLabel>(Rect{w - 504, side == 0 ? 6.0 : 32.0, 24, 22}, "\u23cf");
        eject_button.set_id("eject:" + k + (side == 0 ? "_a" : "_b"));
        eject_button.on_click = [this, slot, side](CClickable&) { guarded("eject", [&] { eject(slot, side); }); };
        if (side == 1) header->b_eject = &eject_button;
    }

    // Topology, source type and on/off beside the lines; the command menu at the right.
    ControlRow const topology{Kind::value_menu, k + "_topology", "", Unit::topology, 0, 0, 2, 1, Choices::topology};
    auto& topo = page.add<CChoiceMenu>({w - 420, 6, 130, 22});
    topo.set_entries(numbered_menu(choice_texts(Choices::topology)));
    bind(topo, topology, ir);
    ControlRow const type{Kind::data_menu, {}, "", Unit::percent, 0, 0, 1, 1, Choices::source_type, slot == 1 ? 18 : 22};
    auto& type_menu = page.add<CChoiceMenu>({w - 280, 6, 70, 22});
    type_menu.set_entries(numbered_menu(choice_texts(Choices::source_type)));
    bind(type_menu, type, ir);
    ControlRow const on{Kind::toggle, k + "_toggle", "", Unit::on_off, 0, 0};
    auto& toggle = page.add<CToggle>({w - 200, 6, 60, 22});
    bind(toggle, on, ir);
    toggle.set_texts(slot == 1 ? "IR1 Off" : "IR2 Off", slot == 1 ? "IR1 On" : "IR2 On");
    add_command_menu(page, {w - 132, 6, 124, 22}, slot == 1 ? CommandMenu::ir1 : CommandMenu::ir2);

    build_table(page, ir_edit_common_table(slot), ir, 12, header_h);

    // The source-type pages: the type menu picks one, so their bar stays hidden.
    double const sub_top = header_h + 2 * row_pitch;
    auto& sub = page.add<CTabs>({0, sub_top, w, page.frame().h - sub_top});
    sub.set_bar_visible(false);
    char const* const types[3] = {"File", "ER", "Tail"};
    for (int t = 0; t < 3; ++t) build_table(sub.add_page(types[t]), ir_type_table(slot, t), ir + "/" + types[t], 12, 0);
    sub.select(0);
    header->type_tabs = &sub;
    header->sts_group = sub.page(0).find("group:Sim-TS");
    header->fusion_group = sub.page(0).find("group:Fusion");
    type_menu.on_choose = [&sub](CChoiceMenu& m, int) { sub.select(m.chosen()); };
    headers_.push_back(std::move(header));
    return page;
}

void CEditorView::build_eq(CWidget& page, int slot)
{
    std::string const name = slot == 0 ? "Post EQ" : slot == 1 ? "IR1 EQ" : "IR2 EQ";
    std::string const master = slot == 0 ? "flt_master_toggle" : slot == 1 ? "ir1_flt_master_toggle" : "ir2_flt_master_toggle";
    auto& sub = page.add<CTabs>(page.bounds());
    for (int band = 1; band <= 5; ++band) {
        std::string const b = std::to_string(band);
        build_table(sub.add_page(b), slot == 0 ? post_eq_band_table(band) : ir_eq_band_table(slot, band),
                    name + "/" + b, 12, 8);
    }
    build_table(sub.add_page("1-5"),
                eq_all_bands_table(slot == 0 ? "flt" : slot == 1 ? "ir1_flt" : "ir2_flt"), name + "/1-5", 12, 8);
    sub.select(0);
    // In the tab bar's free space on the right, above the band pages.
    auto& on = page.add<CToggle>({page.frame().w - 330, 1, 110, 22});
    bind(on, {Kind::toggle, master, "", Unit::on_off, 0, 0}, name);
    on.set_texts(name + " Off", name + " On");
    if (slot == 0) add_command_menu(page, {page.frame().w - 212, 1, 200, 22}, CommandMenu::post_eq);
}

void CEditorView::build_table(CWidget& parent, PageTable const& table, std::string const& path, double x0, double y0)
{
    CWidget* group = nullptr;
    Rect group_frame;
    for (ControlRow const& row : table) {
        Rect cell = cell_rect(x0, y0, row);
        if (row.kind == Kind::group) {
            group_frame = {cell.x - 6, cell.y - group_title - 2, cell.w + 12, cell.h + group_title + 8};
            group = &parent.add<CGroupBox>(group_frame, row.label);
            group->set_id("group:" + row.label);
            continue;
        }
        CWidget& host = group ? *group : parent;
        if (group) cell = cell.moved(-group_frame.x, -group_frame.y);
        switch (row.kind) {
        case Kind::dial:
        case Kind::data_tempo:
            bind(host.add<CDial>(cell), row, path);
            break;
        case Kind::slider:
            bind(host.add<CHSlider>({cell.x, cell.y + cell.h / 2 - 16, cell.w, 32}), row, path);
            break;
        case Kind::toggle: {
            auto& t = host.add<CToggle>({cell.x, cell.y + 22, cell.w, 26});
            bind(t, row, path);
            if (row.label == "On")
                t.set_texts("Off", "On"); // a bare "On" on a dark button reads as a state it is not in
            break;
        }
        case Kind::value_menu:
        case Kind::data_menu:
        case Kind::note_menu: {
            auto& m = host.add<CChoiceMenu>({cell.x, cell.y + 14, cell.w, 38});
            m.set_entries(numbered_menu(choice_texts(row.choices)));
            bind(m, row, path);
            break;
        }
        case Kind::step_switch: {
            auto& s = host.add<CStepSwitch>({cell.x, cell.y + 8, cell.w, 56});
            s.set_positions(choice_texts(row.choices));
            bind(s, row, path);
            break;
        }
        case Kind::note_label: {
            auto& label = host.add<CLabel>({cell.x, cell.y + 24, cell.w, 22}, "", Font::body);
            auto b = std::make_unique<Binding>();
            b->row = row;
            b->path = path;
            b->note = &label;
            bindings_.push_back(std::move(b));
            break;
        }
        case Kind::group:
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Pages

bool CEditorView::select_page(std::string const& path)
{
    auto const parts = split_path(path);
    if (parts.empty()) return false;
    // A source-type page is chosen through its menu's slot as the type menu would.
    if (parts.size() == 2 && (parts[0] == "IR1 Edit" || parts[0] == "IR2 Edit")) {
        int const t = parts[1] == "File" ? 0 : parts[1] == "ER" ? 1 : parts[1] == "Tail" ? 2 : -1;
        if (t < 0) return false;
        main_tabs_->select(main_tabs_->index_of(parts[0]));
        int const id = parts[0] == "IR1 Edit" ? 18 : 22;
        for (auto& b : bindings_)
            if (b->row.kind == Kind::data_menu && b->row.data_id == id) {
                b->control->set_value(value_of_position(t, 3));
                write_control_value(*b, b->control->value());
            }
        headers_[id == 18 ? 0 : 1]->type_tabs->select(t);
        sync_vis_view();
        return true;
    }
    bool const found = main_tabs_->select_path(std::span<std::string const>(parts));
    sync_vis_view();
    return found;
}

std::vector<std::string> CEditorView::page_paths() const
{
    std::vector<std::string> out;
    std::function<void(CTabs const&, std::string const&)> walk = [&](CTabs const& tabs, std::string const& prefix) {
        for (int i = 0; i < tabs.page_count(); ++i) {
            std::string const path = prefix.empty() ? tabs.label(i) : prefix + "/" + tabs.label(i);
            CTabs const* nested = nullptr;
            for (auto const& child : tabs.page(i).children())
                if (auto const* t = dynamic_cast<CTabs const*>(child.get())) nested = t;
            if (nested) walk(*nested, path);
            else out.push_back(path);
        }
    };
    walk(*main_tabs_, {});
    return out;
}

// ---------------------------------------------------------------------------------------------
// Refreshing

void CEditorView::idle()
{
    ++idle_count_;
    for (auto& b : bindings_) refresh(*b, false);
    refresh_texts();
    refresh_vis_panel();
    refresh_meters();
    if (preset_browser_) preset_browser_->idle();
    if (idle_count_ % 16 == 0) refresh_program_name();
}

void CEditorView::refresh_meters()
{
    auto const now = std::chrono::steady_clock::now();
    double const seconds =
        meters_read_ == std::chrono::steady_clock::time_point{} ? 0.0 : std::chrono::duration<double>(now - meters_read_).count();
    meters_read_ = now;
    EngineStatusValues const& v = status_->values;
    meters_[0]->set_levels(v.ir1_level_left, v.ir1_level_right, seconds);
    meters_[1]->set_levels(v.ir2_level_left, v.ir2_level_right, seconds);
    meters_[2]->set_levels(v.output_level_left, v.output_level_right, seconds);
}

int CEditorView::open_slot() const
{
    if (main_tabs_ == nullptr) return 1;
    std::vector<std::string> const path = main_tabs_->path();
    for (std::string const& label : path)
        if (label == "IR2 Edit" || label == "IR2 EQ" || label == "IR2") return 2;
    return 1;
}

void CEditorView::eject(int slot, int side)
{
    FileDialog dialog;
    dialog.title = "Select Impulse Response File (Wav, Aiff, SDIR)";
    dialog.extensions = {".wav", ".aif", ".aiff", ".flac", ".sd2", ".sdir", ".wir", ".fir"};
    int const id = custom_data::ir1_file_a + 2 * (slot - 1) + side;
    std::string const current = custom_text(id, program_path_size);
    dialog.start_folder = get_file_path(current);
    dialog.state_key = ir_file_state_keys[id - custom_data::ir1_file_a];
    host_.choose_file(dialog, [this, slot, side, id](std::string const& path) {
        guarded("eject", [&] {
            if (side == 0) {
                load_ir_file(slot, path);
            } else if (is_ir_drop_path(path)) {
                store_ir_file(id, path);
                refresh_slot_header(slot);
            }
        });
    });
}

void CEditorView::update_all_elements()
{
    for (auto& b : bindings_) refresh(*b, true);
    refresh_texts();
    refresh_vis_panel();
    refresh_program_name();
}

void CEditorView::redraw_parameter(std::string const& key)
{
    for (auto& b : bindings_)
        if (b->row.key == key) refresh(*b, true);
    // Host automation can arrive many times a second: only the slot headers depend on parameters;
    // the engine status (a 37 KB block) is read at idle time.
    for (int slot = 1; slot <= 2; ++slot) refresh_slot_header(slot);
}

void CEditorView::refresh_texts()
{
    for (int slot = 1; slot <= 2; ++slot) refresh_slot_header(slot);
    bool busy = false;
    if (host_.get_custom_data(custom_data::engine_status, status_.get(), sizeof *status_) == sizeof *status_)
        busy = status_->values.ir_rebuild_in_progress != 0 || status_->values.ir_work_pending != 0;
    else
        std::memset(status_.get(), 0, sizeof *status_); // no engine has reported yet
    if (busy_label_->visible() != busy) busy_label_->set_visible(busy);
}

std::string CEditorView::custom_text(int id, std::size_t size)
{
    std::vector<char> buffer(size + 1, '\0');
    host_.get_custom_data(id, buffer.data(), size);
    return std::string(buffer.data());
}

void CEditorView::step_ir_file(int slot, int side, bool forward)
{
    int const id = custom_data::ir1_file_a + 2 * (slot - 1) + side;
    std::string const next = get_next_prev_file(custom_text(id, program_path_size), forward);
    if (next.empty() || !store_ir_file(id, next)) return; // the end of the folder
    if (side == 0) pair_partner(slot, next);
    refresh_slot_header(slot);
}

bool CEditorView::store_ir_file(int id, std::string const& path)
{
    if (path.size() >= program_path_size) return false;
    char block[program_path_size] = {};
    std::memcpy(block, path.data(), path.size());
    return host_.set_custom_data(id, block, sizeof block);
}

namespace {

bool auto_pair_on()
{
    try {
        return extract_data_from_registry_auto_pair_ts() == 1;
    } catch (std::exception const&) {
        return false;
    }
}

} // namespace

void CEditorView::pair_partner(int slot, std::string const& path)
{
    // In True Stereo an A file with a side tag brings its partner into B when pairing is on.
    if (!auto_pair_on() || topology_of(host_.get_parameter("ir" + std::to_string(slot) + "_topology")) != 1) return;
    std::string const partner = check_for_file_pair_file(path);
    if (!partner.empty()) store_ir_file(custom_data::ir1_file_a + 2 * (slot - 1) + 1, partner);
}

void CEditorView::set_parameter_gesture(std::string const& key, float unity)
{
    host_.begin_gesture(key);
    host_.set_parameter(key, unity);
    host_.end_gesture(key);
}

bool CEditorView::drop_files(std::vector<std::string> const& paths)
{
    // One slot takes one file: the first path decides.
    if (paths.empty() || !is_ir_drop_path(paths.front()) || paths.front().size() >= program_path_size) return false;
    int const slot = vis_panel_->drop_target();
    if (slot == 0) return true; // the equaliser views take no files
    return load_ir_file(slot, paths.front());
}

bool CEditorView::load_ir_file(int slot, std::string const& path)
{
    if (slot < 1 || slot > 2 || !is_ir_drop_path(path) || path.size() >= program_path_size) return false;
    bool stored = false;
    guarded("ir file drop", [&] {
        std::string const ir = "ir" + std::to_string(slot);
        if (host_.get_parameter(ir + "_toggle") == 0.0f) set_parameter_gesture(ir + "_toggle", 1.0f);

        // Automatic topology: a ".fir" file holds a Fusion IR, so it selects Fusion IR. Any other
        // file leaves Fusion IR for Parallel Stereo. One side of a true-stereo pair whose partner
        // exists selects True Stereo when pairing is on (from Parallel Stereo or Fusion IR), so that
        // the pair loads together. Otherwise the user's topology stays: True Stereo keeps its B
        // file and Mono - Stereo is a deliberate choice.
        int const topology = topology_of(host_.get_parameter(ir + "_topology"));
        std::string lower = path;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        bool const fusion_file = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".fir") == 0;
        int wanted = topology;
        if (fusion_file) wanted = 3;
        else if (auto_pair_on() && !check_for_file_pair_file(path).empty() && (topology == 0 || topology == 3))
            wanted = 1;
        else if (topology == 3) wanted = 0;
        if (wanted != topology) set_parameter_gesture(ir + "_topology", topology_unity(wanted));

        stored = store_ir_file(custom_data::ir1_file_a + 2 * (slot - 1), path);
        if (stored) pair_partner(slot, path);
    });
    if (on_ir_file_loaded) on_ir_file_loaded();
    update_all_elements();
    return stored;
}

void CEditorView::sync_vis_view()
{
    if (vis_panel_ == nullptr || main_tabs_ == nullptr) return;
    std::vector<std::string> const path = main_tabs_->path();
    if (path.empty()) return;
    std::string const& page = path[0];
    std::string const sub = path.size() > 1 ? path[1] : std::string();
    VisView view = vis_panel_->view();
    if (page == "IR1 Edit") view = VisView::ir1_display;
    else if (page == "IR2 Edit") view = VisView::ir2_display;
    else if (page == "IR1 EQ") view = VisView::ir1_eq;
    else if (page == "IR2 EQ") view = VisView::ir2_eq;
    else if (page == "Post EQ") view = VisView::post_eq;
    else if (page == "SplitMod") view = sub == "IR2" ? VisView::ir2_split_mod : VisView::ir1_split_mod;
    vis_panel_->set_view(view);
}

void CEditorView::refresh_vis_panel()
{
    if (vis_panel_ == nullptr) return;
    vis_panel_->refresh(*status_);
    if (auto const error = vis_panel_->take_draw_error()) show_message(*error + ": Editor: Draw ir vis area");
}

void CEditorView::refresh_slot_header(int slot)
{
    SlotHeader& h = *headers_[static_cast<std::size_t>(slot - 1)];
    std::string const n = std::to_string(slot);
    int const topology = topology_of(host_.get_parameter("ir" + n + "_topology"));
    int const first = slot == 1 ? custom_data::ir1_file_a : custom_data::ir1_file_a + 2;
    std::string const file_a = base_name(custom_text(first, program_path_size));
    std::string const file_b = base_name(custom_text(first + 1, program_path_size));
    std::string const eject = "Click eject to load impulse response audio file";

    std::string a;
    if (file_a.empty()) a = "IR" + n + "-A: " + eject;
    else a = (topology == 3 ? "FIR" + n + ": " : "IR" + n + "-A: ") + file_a.substr(0, 72);
    std::string b;
    switch (topology) {
    case 0:
        b = "IR" + n + "-B: Inactive in Parallel Stereo mode";
        break;
    case 1:
        b = "IR" + n + "-B: " + (file_b.empty() ? eject : file_b.substr(0, 72));
        break;
    case 2:
        b = "IR" + n + "-B: Inactive in Mono to Stereo mode";
        break;
    default:
        b.clear(); // Fusion: the B line's file controls give way to the Fusion controls
        break;
    }
    if (a != h.text_a) h.line_a->set_text(h.text_a = a);
    if (b != h.text_b) h.line_b->set_text(h.text_b = b);
    h.b_controls = topology == 1;
    for (CWidget* control : {h.b_arrows[0], h.b_arrows[1], h.b_eject}) // B files only where B is heard
        if (control != nullptr && control->visible() != h.b_controls) control->set_visible(h.b_controls);
    if (h.sts_group && h.sts_group->visible() != (topology == 0)) h.sts_group->set_visible(topology == 0);
    if (h.fusion_group && h.fusion_group->visible() != (topology == 3)) h.fusion_group->set_visible(topology == 3);

    std::int32_t type = 0;
    host_.get_custom_data(slot == 1 ? 18 : 22, &type, 4);
    if (type >= 0 && type <= 2 && h.type_tabs->selected() != type) h.type_tabs->select(type);
}

void CEditorView::refresh_program_name()
{
    std::int32_t index = 0;
    host_.get_custom_data(custom_data::current_program, &index, 4);
    std::vector<VST_Plugin_Program> bank(static_cast<std::size_t>(programs_per_bank));
    std::string name;
    if (host_.get_custom_data(custom_data::bank, bank.data(), bank_chunk_size) == bank_chunk_size &&
        index >= 0 && index < programs_per_bank) {
        char const* text = bank[static_cast<std::size_t>(index)].name;
        name.assign(text, strnlen(text, sizeof bank[0].name));
    }
    std::string const shown = "Program " + std::to_string(index + 1) + ": " + name;
    if (program_label_->text() != shown) program_label_->set_text(shown);
}

// ---------------------------------------------------------------------------------------------
// Commands and messages

void CEditorView::run_command(CommandMenu menu, int item)
{
    static char const* const names[6] = {"ir1 menu", "ir2 menu", "chorus menu", "delay menu", "post eq menu",
                                         "mixer menu"};
    guarded(names[static_cast<int>(menu)], [&] {
        std::int32_t const value = item;
        if (!host_.set_custom_data(custom_data::first_menu + static_cast<int>(menu), &value, 4))
            throw std::runtime_error("Command menu item refused #1");
        bool const reset_program = (menu <= CommandMenu::delay && item == 12) || (menu >= CommandMenu::post_eq && item == 2);
        if (reset_program) {
            char const name[] = "Default";
            host_.set_custom_data(custom_data::program_name, name, sizeof name);
            host_.request_full_recompute();
        } else {
            switch (menu) {
            case CommandMenu::ir1:
            case CommandMenu::ir2: {
                bool const one = menu == CommandMenu::ir1;
                if (item >= 0 && item <= 3) host_.request(one ? "force_full_recompute_IR2" : "force_full_recompute_IR1");
                else if (item >= 5 && item <= 8) host_.request(one ? "force_full_recompute_IR1" : "force_full_recompute_IR2");
                else host_.hand_over_program();
                break;
            }
            case CommandMenu::chorus:
                for (char const* key : {"force_recompute_chorus_master", "force_recompute_chorus_ir1",
                                        "force_recompute_chorus_ir2"})
                    host_.request(key);
                break;
            case CommandMenu::delay:
                for (char const* key : {"force_recompute_master_delay", "force_recompute_ir1_delay",
                                        "force_recompute_ir2_delay"})
                    host_.request(key);
                break;
            case CommandMenu::post_eq:
                host_.request("force_master_filter_recompute");
                break;
            case CommandMenu::mixer:
                host_.request_full_recompute();
                break;
            }
        }
        update_all_elements();
    });
}

void CEditorView::show_message(std::string const& text)
{
    root_->show_message(caption::ir_files, text, Buttons::ok, {});
}

void CEditorView::guarded(std::string const& name, std::function<void()> const& action)
{
    try {
        action();
    } catch (std::exception const& e) {
        show_message(std::string(e.what()) + ": Seen during " + name);
    }
}

// ---------------------------------------------------------------------------------------------
// Inspection

CValueControl* CEditorView::control(std::string const& key, std::string const& path)
{
    for (auto& b : bindings_)
        if (b->control && b->control->id() == key && (path.empty() || b->path == path)) return b->control;
    return nullptr;
}

CChoiceMenu* CEditorView::command_menu(CommandMenu menu)
{
    return command_menus_[static_cast<int>(menu)];
}

std::string CEditorView::slot_line(int slot, char line) const
{
    SlotHeader const& h = *headers_[static_cast<std::size_t>(slot - 1)];
    return line == 'A' ? h.text_a : h.text_b;
}

bool CEditorView::b_file_controls_shown(int slot) const
{
    return headers_[static_cast<std::size_t>(slot - 1)]->b_controls;
}

bool CEditorView::busy_shown() const
{
    return busy_label_->visible();
}

} // namespace corvella::editor
