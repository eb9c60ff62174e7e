#pragma once

// The Corvella editor: the page tree on the widget toolkit, every control bound to its
// parameter key (or custom-data slot) through an EditorHost, the slot headers, the command menus
// and the busy indicator. It owns the root of its widget tree; a window (or the off-screen
// renderer) hosts that root.
//
// Values flow both ways: a user's edit goes to the host as one gesture (begin, sets, end), and
// idle() polls the host so that automation, program changes and commands redraw the controls
// that show them.
//
// Threading: UI thread only.

#include "editor/editor_host.h"
#include "editor/page_tables.h"
#include "editor/ui/root.h"

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvella::ui {
class CValueControl;
class CLabel;
class CTabs;
class CChoiceMenu;
class CWidget;
} // namespace corvella::ui

namespace corvella::editor {

class CSettingsPage;

// Preferences read when an editor opens; -1 or unset fields are read from the settings store.
struct EditorOptions {
    int colour_scheme = -1;
    int dials_mode = -1;
    int hide_lower_pane = -1;
    int hide_presets = -1;
};

// Command menus, in custom-data order 44..49.
enum class CommandMenu { ir1 = 0, ir2 = 1, chorus = 2, delay = 3, post_eq = 4, mixer = 5 };

// Item texts of a command menu by item number; an empty text is a separator.
std::vector<std::string> command_menu_texts(CommandMenu menu);

class CEditorView {
public:
    static constexpr double width = 1040;
    static constexpr double height = 760;

    CEditorView(EditorHost& host, EditorOptions options = {});
    ~CEditorView();
    CEditorView(CEditorView const&) = delete;
    CEditorView& operator=(CEditorView const&) = delete;

    ui::CRoot& root() { return *root_; }
    EditorHost& host() { return host_; }

    // Pages by their path of tab labels joined by "/" ("IR1 EQ/1-5"); false when a label is missing.
    bool select_page(std::string const& path);
    std::vector<std::string> page_paths() const;

    // Idle processing: polls every bound value and the engine status; redraws what changed.
    void idle();
    // Re-reads everything (after commands and preset loads).
    void update_all_elements();
    // Refreshes every control and text that shows `key`.
    void redraw_parameter(std::string const& key);

    // What choosing `item` in a command menu does (the menus call this).
    void run_command(CommandMenu menu, int item);

    // Shows `text` in the editor's message box (caption of the settings and IR messages).
    void show_message(std::string const& text);
    // Runs `action`; an exception is shown with ": Seen during " + `name` appended.
    void guarded(std::string const& name, std::function<void()> const& action);

    // ---- Inspection (tools and tests) ----
    // The first control bound to `key` on the page `path` (or anywhere when empty); null if none.
    ui::CValueControl* control(std::string const& key, std::string const& path = {});
    ui::CChoiceMenu* command_menu(CommandMenu menu);
    std::string slot_line(int slot, char line) const; // 'A' or 'B'
    bool b_file_controls_shown(int slot) const;
    bool busy_shown() const;
    CSettingsPage* settings_page() { return settings_.get(); }

private:
    struct Binding;
    struct SlotHeader;

    void build();
    void build_top_bar();
    ui::CWidget& build_ir_edit(ui::CWidget& page, int slot);
    void build_eq(ui::CWidget& page, int slot); // 0: post EQ
    void build_table(ui::CWidget& parent, PageTable const& table, std::string const& path, double x0, double y0);
    ui::CChoiceMenu& add_command_menu(ui::CWidget& parent, ui::Rect const& frame, CommandMenu menu);
    void bind(ui::CValueControl& control, ControlRow const& row, std::string const& path);
    double read_control_value(Binding& b);
    void write_control_value(Binding& b, double value);
    void refresh(Binding& b, bool force);
    void refresh_texts();
    void refresh_slot_header(int slot);
    // IR file `side` (0 A, 1 B) of `slot` to the next or previous IR file of its folder.
    void step_ir_file(int slot, int side, bool forward);
    void refresh_program_name();
    std::string custom_text(int id, std::size_t size);

    EditorHost& host_;
    EditorOptions options_;
    std::unique_ptr<ui::CRoot> root_;
    std::vector<std::unique_ptr<Binding>> bindings_;
    std::vector<std::unique_ptr<SlotHeader>> headers_;
    ui::CTabs* main_tabs_ = nullptr;
    ui::CLabel* program_label_ = nullptr;
    ui::CLabel* busy_label_ = nullptr;
    ui::CChoiceMenu* command_menus_[6] = {};
    std::unique_ptr<CSettingsPage> settings_;
    unsigned idle_count_ = 0;
};

} // namespace corvella::editor
