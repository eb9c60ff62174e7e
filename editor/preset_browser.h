#pragma once

// The "Presets" page of the editor's lower pane: the 48 programs of the bank and the bank
// commands.
//
// The list on the left shows the programs by number and name; choosing one makes it the current
// program the way the host's program selector does (a gesture on "automated_prog_num_sel"), so the
// host sees the change. On the right: the factory banks, the ten user bank slots, the recent bank
// files, loading, saving and clearing the bank, and exporting host preset files (".tfx"), with the
// dialogs and questions the bank-file rules name. Banks are loaded through custom data 8 (program
// change, then the bank file) and written through custom data 3 and 1, as the bank-file
// operations do; a bank is saved from the bank as the host holds it (custom data 3).
//
// Every failure is reported through `show_message` and leaves the bank as it was.
//
// Threading: UI thread only. The object must live as long as the widgets it put on the page.

#include "editor/editor_host.h"
#include "program/vst_plugin_program.h"

#include <functional>
#include <string>
#include <vector>

namespace corvella::ui {
class CWidget;
class CLabel;
class CListView;
class CChoiceMenu;
} // namespace corvella::ui

namespace corvella::editor {

class CPresetBrowser {
public:
    CPresetBrowser(ui::CWidget& page, EditorHost& host, std::function<void(std::string const&)> show_message);
    ~CPresetBrowser();
    CPresetBrowser(CPresetBrowser const&) = delete;
    CPresetBrowser& operator=(CPresetBrowser const&) = delete;

    // Runs after this page changed the bank or the current program (the editor refreshes every
    // element then).
    std::function<void()> on_bank_changed;

    // Re-reads the names and the current program when the bank changed elsewhere (call it from
    // the editor's idle time); also refreshes the user-slot and recent menus now and then.
    void idle();

    // ---- Commands (the page's buttons and menus call these) ----
    void choose_program(int slot); // 0..47
    void browser_presets_load_fxb();                    // asks for a bank file, then loads it
    bool browser_presets_load_fxb(std::string const& path); // loads and enters the recent list
    void browser_presets_export_fxb();                  // "Save Presets as FXB Bank"
    void browser_presets_clear_fxb();                   // "Clear All Presets in Bank" (asks first)
    void load_factory_bank(int index);                  // 0..3, in the menu's order
    void load_user_bank(int n);                         // 1..10
    void select_user_bank(int n);                       // "Select FXB for %d"
    void clear_user_bank(int n);                        // "Clear %d" (asks first)
    void load_recent(int index);                        // 0..9
    void browser_presets_remove_recent(int index);
    void populate_coptionmenu_preset_banks_user_defined();
    void populate_recent_menu();
    // Host preset files: one program, every program as its own file, or the whole bank in one.
    enum class Export { current_program, each_program, whole_bank };
    void export_tfx(Export what);
    // "Create TFX Files for All IRs in Folder from Current IR": asks, then for IR1-A's file and
    // each IR file after it in its folder loads the file into IR1-A, names the program after it
    // and writes the program's preset file into the folder chosen. The last one stays loaded.
    void create_tfx_files_for_folder();

    // ---- Inspection (tests and tools) ----
    ui::CListView& program_list() { return *programs_; }
    ui::CChoiceMenu& user_menu() { return *user_menu_; }
    ui::CChoiceMenu& recent_menu() { return *recent_menu_; }
    std::string const& status() const { return status_text_; }

private:
    bool read_bank(std::vector<VST_Plugin_Program>& bank);
    int read_current_program();
    void refresh_programs(bool force);
    void bank_changed();
    void ask(std::string const& question, std::function<void()> on_yes);
    void write_tfx_per_ir_file(std::string const& folder);
    void fail(std::string const& text);
    void set_status(std::string text);
    bool save_bank_to(std::string const& path);
    void write_tfx(Export what, std::string const& folder, bool wet);

    ui::CWidget& page_;
    EditorHost& host_;
    std::function<void(std::string const&)> show_message_;
    std::vector<std::string> names_;
    int current_ = -1;
    unsigned idle_count_ = 0;
    std::string status_text_;

    ui::CListView* programs_ = nullptr;
    ui::CChoiceMenu* user_menu_ = nullptr;
    ui::CChoiceMenu* recent_menu_ = nullptr;
    ui::CLabel* status_ = nullptr;
};

} // namespace corvella::editor
