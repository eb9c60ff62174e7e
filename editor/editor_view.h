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
#include "host/engine_status.h"
#include "editor/ui/root.h"

#include <chrono>
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
class CVisPanel;
class CIrBrowser;
class CPresetBrowser;
class CLevelMeter;

// Preferences read when an editor opens; -1 or unset fields are read from the settings store.
struct EditorOptions {
    int colour_scheme = -1;
    int dials_mode = -1;
    int hide_lower_pane = -1;
    int hide_presets = -1;
    int ir_vis_selection_mode = -1; // "IRVisSelectionMode": 0 several channels, 1 one or all
};

// Command menus, in custom-data order 44..49.
enum class CommandMenu { ir1 = 0, ir2 = 1, chorus = 2, delay = 3, post_eq = 4, mixer = 5 };

// Item texts of a command menu by item number; an empty text is a separator.
std::vector<std::string> command_menu_texts(CommandMenu menu);

class CEditorView {
public:
    static constexpr double width = 1040;
    static constexpr double height = 850;

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

    // Files dropped on the window (and the lower pane's double-click): the first path goes to the
    // slot of the IR display the panel shows, when it is an IR file (is_ir_drop_path). False when
    // the drop is refused; an accepted drop in a view without a slot does nothing.
    bool drop_files(std::vector<std::string> const& paths);
    // Loads `path` as section A of `slot` (1 or 2) as a drop does: switches the IR on, updates the
    // topology for the file, pairs a true-stereo partner into B. False when the path is refused.
    bool load_ir_file(int slot, std::string const& path);
    // Runs after every drop or load (the file browser clears its selection).
    std::function<void()> on_ir_file_loaded;

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
    CVisPanel& vis_panel() { return *vis_panel_; }
    CIrBrowser* ir_browser() { return ir_browser_.get(); }
    CPresetBrowser* preset_browser() { return preset_browser_.get(); }
    CLevelMeter* level_meter(int which) { return meters_[which]; } // 0 IR1, 1 IR2, 2 output
    // The eject button of `slot`'s line A or B (side 0 or 1): asks for a file, then loads it.
    void eject(int slot, int side);

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
    // Writes `path` into the file slot `id` (custom data 14..17); false when it does not fit.
    bool store_ir_file(int id, std::string const& path);
    // In True Stereo with pairing on, the partner of the A file `path` of `slot` goes into B.
    void pair_partner(int slot, std::string const& path);
    // A parameter changed as one user gesture.
    void set_parameter_gesture(std::string const& key, float unity);
    // The panel's view for the open page (pages without a view of their own keep the last one).
    void sync_vis_view();
    void refresh_vis_panel();
    void refresh_program_name();
    void refresh_meters();
    // 2 while an IR2 page is open, else 1 (where the file browser loads).
    int open_slot() const;
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
    CVisPanel* vis_panel_ = nullptr;
    std::unique_ptr<EngineStatus> status_; // the last block read, at idle time
    // The lower pane's pages (after root_, which owns the widgets they fill: they go first).
    std::unique_ptr<CIrBrowser> ir_browser_;
    std::unique_ptr<CPresetBrowser> preset_browser_;
    CLevelMeter* meters_[3] = {};
    std::chrono::steady_clock::time_point meters_read_{};
    unsigned idle_count_ = 0;
};

} // namespace corvella::editor
