#include "editor/preset_browser.h"

#include "editor/ui/label.h"
#include "editor/ui/list_view.h"
#include "editor/ui/menu.h"
#include "editor/ui/root.h"
#include "host/bank_files.h"
#include "host/demogain_parameters.h"
#include "host/lv2_preset_export.h"
#include "ir/ir_file_pairing.h"
#include "platform/message_box.h"
#include "platform/atomic_file.h"
#include "platform/settings_store.h"
#include "program/parameter_application.h"
#include "program/program_constants.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace corvella::editor {

using namespace corvella::ui;
namespace fs = std::filesystem;

namespace {

FileDialog dialog_of(std::string title, bool save, std::string extension, std::string default_name = {});

constexpr double pad = 8;
constexpr double line_h = 22;
constexpr int recent_entries = 10;
constexpr std::size_t bank_file_path_block = 1000; // the size custom data 8 takes
constexpr char selector_key[] = "automated_prog_num_sel";
constexpr char load_title[] = "Select FXB Presets File (.fxb extension)";

// Tags of the user-bank menu: load n, "Select FXB for n", "Clear n".
constexpr int select_tag = 100;
constexpr int clear_tag = 200;
// Tags of the recent menu: load k, remove k.
constexpr int remove_tag = 100;

std::string home_folder()
{
    char const* home = std::getenv("HOME");
    std::string folder;
    if (home != nullptr && home[0] == '/') folder = home;
    else if (passwd const* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) folder = entry->pw_dir;
    if (folder.empty()) return "/";
    return folder.back() == '/' ? folder : folder + "/";
}

// Where the bank dialogs start: the user's Desktop folder, or the home folder without one.
std::string desktop_folder()
{
    std::string const home = home_folder();
    std::error_code error;
    return fs::is_directory(home + "Desktop", error) ? home + "Desktop/" : home;
}

std::string file_name(std::string const& path)
{
    return fs::path(path).filename().string();
}

std::string recent_entry(int k)
{
    try {
        return extract_data_from_registry_preset_recent_file(k);
    } catch (std::exception const&) {
        return {};
    }
}

std::string program_name(VST_Plugin_Program const& p)
{
    return std::string(p.name, strnlen(p.name, sizeof p.name));
}

bool bank_file_sized(std::string const& path)
{
    std::error_code error;
    auto const size = fs::file_size(path, error);
    return !error && (size == bank_file_size || size == bank_file_size_alternative);
}

FileDialog dialog_of(std::string title, bool save, std::string extension, std::string default_name)
{
    FileDialog d;
    d.title = std::move(title);
    d.save = save;
    d.extensions = {std::move(extension)};
    d.start_folder = desktop_folder();
    d.default_name = std::move(default_name);
    return d;
}

} // namespace

CPresetBrowser::CPresetBrowser(CWidget& page, EditorHost& host, std::function<void(std::string const&)> show_message)
    : page_(page), host_(host), show_message_(std::move(show_message))
{
    double const w = page.frame().w, h = page.frame().h;
    double const list_w = std::min(340.0, std::max(200.0, w * 0.33));
    programs_ = &page.add<CListView>({pad, 6, list_w, std::max(CListView::row_height, h - 12)});
    programs_->on_select = [this](CListView&, int row) { choose_program(row); };
    programs_->on_activate = [this](CListView&, int row) { choose_program(row); };

    double const x0 = pad + list_w + 12;
    double const menu_w = std::clamp((w - x0 - pad - 3 * 8) / 4, 120.0, 190.0);
    auto menu_frame = [&](int i) { return Rect{x0 + i * (menu_w + 8), 6, menu_w, line_h}; };

    auto& factory = page.add<CChoiceMenu>(menu_frame(0));
    factory.set_title("Factory Banks");
    std::vector<MenuEntry> factory_entries;
    for (std::size_t i = 0; i < factory_banks.size(); ++i)
        factory_entries.push_back(MenuEntry::item(factory_banks[i].menu_entry, static_cast<int>(i)));
    factory.set_entries(std::move(factory_entries));
    factory.on_choose = [this](CChoiceMenu&, int tag) { load_factory_bank(tag); };

    user_menu_ = &page.add<CChoiceMenu>(menu_frame(1));
    user_menu_->set_title("User Banks");
    user_menu_->on_choose = [this](CChoiceMenu&, int tag) {
        if (tag >= clear_tag) clear_user_bank(tag - clear_tag);
        else if (tag >= select_tag) select_user_bank(tag - select_tag);
        else load_user_bank(tag);
    };

    recent_menu_ = &page.add<CChoiceMenu>(menu_frame(2));
    recent_menu_->set_title("Recent Banks");
    recent_menu_->on_choose = [this](CChoiceMenu&, int tag) {
        if (tag >= remove_tag) browser_presets_remove_recent(tag - remove_tag);
        else load_recent(tag);
    };

    auto& exports = page.add<CChoiceMenu>(menu_frame(3));
    exports.set_title("Export Presets");
    exports.set_entries({MenuEntry::item("Save Preset to .tfx file", 0),
                         MenuEntry::item("Save All Presets as Individual .tfx files", 1),
                         MenuEntry::item("Save All Presets as One .tfx file", 2), MenuEntry::line(),
                         MenuEntry::item("Create TFX Files for All IRs in Folder from Current IR", 3)});
    exports.on_choose = [this](CChoiceMenu&, int tag) {
        if (tag == 3) create_tfx_files_for_folder();
        else export_tfx(tag == 0 ? Export::current_program : tag == 1 ? Export::each_program : Export::whole_bank);
    };

    double x = x0;
    auto button = [&](double bw, std::string text, std::function<void()> action) {
        auto& b = page.add<CClickLabel>({x, 6 + line_h + 8, bw, line_h}, std::move(text));
        b.on_click = [action = std::move(action)](CClickable&) { action(); };
        x += bw + 8;
    };
    button(menu_w, "Load FXB Bank...", [this] { browser_presets_load_fxb(); });
    button(menu_w, "Save Presets as FXB Bank", [this] { browser_presets_export_fxb(); });
    button(menu_w, "Clear All Presets in Bank", [this] { browser_presets_clear_fxb(); });

    status_ = &page.add<CLabel>({x0, 6 + 2 * (line_h + 8), std::max(40.0, w - x0 - pad), line_h}, "", Font::small);
    status_->set_dim(true);

    populate_coptionmenu_preset_banks_user_defined();
    populate_recent_menu();
    refresh_programs(true);
}

CPresetBrowser::~CPresetBrowser() = default;

// ---------------------------------------------------------------------------------------------
// Reading the bank

bool CPresetBrowser::read_bank(std::vector<VST_Plugin_Program>& bank)
{
    bank.assign(static_cast<std::size_t>(programs_per_bank), VST_Plugin_Program{});
    return host_.get_custom_data(custom_data::bank, bank.data(), bank_size_bytes) == bank_size_bytes;
}

int CPresetBrowser::read_current_program()
{
    std::int32_t index = 0;
    if (host_.get_custom_data(custom_data::current_program, &index, 4) != 4) return -1;
    return index >= 0 && index < programs_per_bank ? index : -1;
}

void CPresetBrowser::refresh_programs(bool force)
{
    std::vector<VST_Plugin_Program> bank;
    std::vector<std::string> names;
    if (read_bank(bank))
        for (auto const& p : bank) names.push_back(program_name(p));
    int const current = read_current_program();
    if (force || names != names_) {
        names_ = std::move(names);
        std::vector<ListRow> rows;
        for (std::size_t i = 0; i < names_.size(); ++i)
            rows.push_back({std::to_string(i + 1) + ": " + names_[i], {}, false, 0});
        if (rows.empty()) programs_->set_empty_text("The bank cannot be read");
        programs_->replace_rows(std::move(rows));
        current_ = -2; // select again below
    }
    if (current != current_) {
        current_ = current;
        programs_->select(current);
    }
}

void CPresetBrowser::idle()
{
    ++idle_count_;
    refresh_programs(false);
    if (idle_count_ % 90 == 0) {
        populate_coptionmenu_preset_banks_user_defined();
        populate_recent_menu();
    }
}

void CPresetBrowser::bank_changed()
{
    refresh_programs(true);
    if (on_bank_changed) on_bank_changed();
}

// ---------------------------------------------------------------------------------------------
// Messages

void CPresetBrowser::fail(std::string const& text)
{
    if (show_message_) show_message_(text);
}

void CPresetBrowser::set_status(std::string text)
{
    status_text_ = std::move(text);
    status_->set_text(status_text_);
}

void CPresetBrowser::ask(std::string const& question, std::function<void()> on_yes)
{
    CRoot* root = page_.root();
    if (root == nullptr) return; // no window to ask in: do nothing rather than act unasked
    root->show_message(caption::ir_files, question, Buttons::yes_no, [on_yes = std::move(on_yes)](Answer a) {
        if (a == Answer::yes) on_yes();
    });
}

// ---------------------------------------------------------------------------------------------
// Programs

void CPresetBrowser::choose_program(int slot)
{
    if (slot < 0 || slot >= programs_per_bank) return;
    if (slot != read_current_program()) {
        host_.begin_gesture(selector_key);
        host_.set_parameter(selector_key, selector_value_of_program(slot));
        host_.end_gesture(selector_key);
    }
    bank_changed();
}

// ---------------------------------------------------------------------------------------------
// Bank files

void CPresetBrowser::browser_presets_load_fxb()
{
    FileDialog const dialog = dialog_of(load_title, false, ".fxb");
    bool const shown = host_.choose_file(dialog, [this](std::string const& path) {
        if (path.size() < 2) return;
        browser_presets_load_fxb(path);
    });
    if (!shown) fail("No file dialog can be shown here, so no bank was loaded.");
}

bool CPresetBrowser::browser_presets_load_fxb(std::string const& path)
{
    if (!check_file_path(path)) {
        fail("The bank file could not be found, so the bank was left as it was:\n" + path);
        return false;
    }
    if (path.size() >= bank_file_path_block) {
        fail("The bank file's path is too long to load, so the bank was left as it was:\n" + path);
        return false;
    }
    // Checked here as well, so that a wrong file does not cost a program change.
    if (!bank_file_sized(path)) {
        fail("This file is not a Corvella bank file (an .fxb file of 142816 bytes), so the bank was left as it "
             "was:\n" +
             path);
        return false;
    }
    char block[bank_file_path_block] = {};
    std::memcpy(block, path.data(), path.size());
    if (!host_.set_custom_data(custom_data::program_change_and_load_bank_file, block, sizeof block)) {
        fail("The bank file could not be read, so the bank was left as it was:\n" + path);
        return false;
    }
    host_.request_full_recompute();
    add_recent_bank_file(path);
    populate_recent_menu();
    set_status("Loaded " + file_name(path));
    bank_changed();
    return true;
}

void CPresetBrowser::browser_presets_export_fxb()
{
    FileDialog const dialog = dialog_of("Save FXB Presets Bank", true, ".fxb", "Corvella Bank.fxb");
    if (!host_.choose_file(dialog, [this](std::string const& path) { save_bank_to(path); }))
        fail("No file dialog can be shown here, so the bank was not saved.");
}

bool CPresetBrowser::save_bank_to(std::string const& chosen)
{
    if (chosen.empty()) return true; // cancelled
    std::string const path = bank_file_save_path(chosen);
    if (path.empty()) {
        fail("The file name is too short, so the bank was not saved: " + chosen);
        return false;
    }
    auto write = [this, path] {
        std::vector<VST_Plugin_Program> bank;
        if (!read_bank(bank)) {
            fail("The bank could not be read from the plug-in, so nothing was saved.");
            return false;
        }
        std::string error;
        if (!save_bank_file(path, bank.data(), error)) {
            fail("The bank could not be saved to " + path + ":\n" + error);
            return false;
        }
        set_status("Saved " + file_name(path));
        // A saved bank has program 1 current; so has the bank it came from.
        if (read_current_program() != 0) {
            std::int32_t const first = 0;
            host_.set_custom_data(custom_data::current_program, &first, 4);
            bank_changed();
        }
        return true;
    };
    std::error_code error;
    if (fs::exists(path, error)) {
        ask("Overwrite file?", [write] { write(); });
        return false;
    }
    return write();
}

void CPresetBrowser::browser_presets_clear_fxb()
{
    ask("Are you sure you wish to clear all presets in this bank?", [this] {
        std::vector<VST_Plugin_Program> bank(static_cast<std::size_t>(programs_per_bank));
        clear_bank(bank.data());
        if (!host_.set_custom_data(custom_data::bank, bank.data(), bank_size_bytes)) {
            fail("The bank could not be cleared; it was left as it was.");
            return;
        }
        std::int32_t const first = 0;
        host_.set_custom_data(custom_data::current_program, &first, 4);
        set_status("Cleared all presets in the bank");
        bank_changed();
    });
}

void CPresetBrowser::load_factory_bank(int index)
{
    if (index < 0 || index >= static_cast<int>(factory_banks.size())) return;
    std::string const path = factory_bank_path(index);
    char const* entry = factory_banks[static_cast<std::size_t>(index)].menu_entry;
    if (path.empty() || !check_file_path(path)) {
        fail(std::string("The factory bank \"") + entry + "\" is not installed" +
             (path.empty() ? std::string(".") : ":\n" + path));
        return;
    }
    browser_presets_load_fxb(path);
}

// ---------------------------------------------------------------------------------------------
// User bank slots

void CPresetBrowser::populate_coptionmenu_preset_banks_user_defined()
{
    std::vector<MenuEntry> entries, select, clear;
    for (int n = 1; n <= user_bank_slots; ++n) {
        MenuEntry item = MenuEntry::item(user_bank_slot_label(n), n);
        item.enabled = !user_bank_slot_path(n).empty();
        entries.push_back(std::move(item));
        select.push_back(MenuEntry::item("Select FXB for " + std::to_string(n), select_tag + n));
        clear.push_back(MenuEntry::item("Clear " + std::to_string(n), clear_tag + n));
    }
    entries.push_back(MenuEntry::line());
    entries.push_back(MenuEntry::sub("Set Entry", std::move(select)));
    entries.push_back(MenuEntry::sub("Clear Entry", std::move(clear)));
    user_menu_->set_entries(std::move(entries));
}

void CPresetBrowser::load_user_bank(int n)
{
    std::string const path = user_bank_slot_path(n);
    if (path.empty()) {
        fail("User bank " + std::to_string(n) + " is empty. Choose \"Select FXB for " + std::to_string(n) +
             "\" under \"Set Entry\" to fill it.");
        return;
    }
    browser_presets_load_fxb(path);
}

void CPresetBrowser::select_user_bank(int n)
{
    if (n < 1 || n > user_bank_slots) return;
    FileDialog const dialog = dialog_of(load_title, false, ".fxb");
    bool const shown = host_.choose_file(dialog, [this, n](std::string const& path) {
        if (path.size() < 2) return;
        if (!check_file_path(path) || fs::path(path).extension() != ".fxb") {
            fail("Only an existing .fxb bank file can be kept in a user bank slot:\n" + path);
            return;
        }
        try {
            set_user_bank_slot(n, path);
        } catch (std::exception const& e) {
            fail(std::string(e.what()) + ": Seen during user bank selection");
        }
        populate_coptionmenu_preset_banks_user_defined();
    });
    if (!shown) fail("No file dialog can be shown here, so the user bank was not set.");
}

void CPresetBrowser::clear_user_bank(int n)
{
    if (n < 1 || n > user_bank_slots) return;
    ask("Clear entry?", [this, n] {
        try {
            clear_user_bank_slot(n);
        } catch (std::exception const& e) {
            fail(std::string(e.what()) + ": Seen during user bank clearing");
        }
        populate_coptionmenu_preset_banks_user_defined();
    });
}

// ---------------------------------------------------------------------------------------------
// Recent bank files

void CPresetBrowser::populate_recent_menu()
{
    std::vector<MenuEntry> entries, remove;
    for (int k = 0; k < recent_entries; ++k) {
        std::string const path = recent_entry(k);
        if (path.empty()) continue;
        std::string const shown = path.size() > 70 ? crop_file_name(path, 70) : path;
        entries.push_back(MenuEntry::item(shown, k));
        remove.push_back(MenuEntry::item(shown, remove_tag + k));
    }
    if (entries.empty()) {
        MenuEntry none = MenuEntry::item("No recent banks", -2);
        none.enabled = false;
        entries.push_back(std::move(none));
    } else {
        entries.push_back(MenuEntry::line());
        entries.push_back(MenuEntry::sub("Remove from List", std::move(remove)));
    }
    recent_menu_->set_entries(std::move(entries));
}

void CPresetBrowser::load_recent(int index)
{
    if (index < 0 || index >= recent_entries) return;
    std::string const path = recent_entry(index);
    if (path.empty()) return;
    if (!check_file_path(path)) {
        fail("The bank file could not be found, so the bank was left as it was:\n" + path +
             "\nIt can be taken off the list with \"Remove from List\".");
        return;
    }
    browser_presets_load_fxb(path);
}

void CPresetBrowser::browser_presets_remove_recent(int index)
{
    if (index < 0 || index >= recent_entries) return;
    try {
        for (int k = index; k + 1 < recent_entries; ++k)
            set_browser_preset_recent_in_registry(k, recent_entry(k + 1));
        set_browser_preset_recent_in_registry(recent_entries - 1, "");
    } catch (std::exception const& e) {
        fail(std::string(e.what()) + ": Seen during recent list update");
    }
    populate_recent_menu();
}

// ---------------------------------------------------------------------------------------------
// Host preset files

void CPresetBrowser::export_tfx(Export what)
{
    std::vector<VST_Plugin_Program> bank;
    if (!read_bank(bank)) {
        fail("The bank could not be read from the plug-in, so nothing was exported.");
        return;
    }
    static char const* const titles[3] = {"Save Preset to .tfx file",
                                          "Save All Presets as Individual .tfx files",
                                          "Save All Presets as One .tfx file"};
    std::string name = "Complete Bank.tfx";
    if (what == Export::current_program) {
        int const current = std::max(0, read_current_program());
        name = tfx_file_name(bank[static_cast<std::size_t>(current)]);
    }
    FileDialog const dialog = dialog_of(titles[static_cast<int>(what)], true, ".tfx", name);
    bool const shown = host_.choose_file(dialog, [this, what](std::string const& path) {
        if (path.empty()) return;
        std::error_code error;
        // The files go into the folder chosen (or the folder of the name chosen).
        std::string const folder = fs::is_directory(path, error) ? (path.back() == '/' ? path : path + "/")
                                                                 : get_file_path(path);
        if (folder.empty()) {
            fail("No folder was chosen, so nothing was exported.");
            return;
        }
        CRoot* root = page_.root();
        if (root == nullptr) return;
        root->show_message(caption::ir_files, "Over-ride the dry/wet setting to 100% wet?", Buttons::yes_no,
                           [this, what, folder](Answer a) { write_tfx(what, folder, a == Answer::yes); });
    });
    if (!shown) fail("No file dialog can be shown here, so nothing was exported.");
}

void CPresetBrowser::write_tfx(Export what, std::string const& folder, bool wet)
{
    std::vector<VST_Plugin_Program> bank;
    if (!read_bank(bank)) {
        fail("The bank could not be read from the plug-in, so nothing was exported.");
        return;
    }
    std::string error;
    auto program_file = [&](int slot) {
        std::string name = tfx_file_name(bank[static_cast<std::size_t>(slot)]);
        if (name == ".tfx") name = "Program " + std::to_string(slot + 1) + ".tfx"; // not a hidden file
        return name;
    };
    switch (what) {
    case Export::current_program: {
        int const slot = std::max(0, read_current_program());
        std::string const name = program_file(slot);
        if (!write_file_atomically(folder + name, program_tfx_bytes(bank[static_cast<std::size_t>(slot)], wet), error))
            fail("The preset could not be saved to " + folder + name + ":\n" + error);
        else set_status("Saved " + name);
        break;
    }
    case Export::each_program: {
        int written = 0;
        std::string first_error;
        for (int slot = 0; slot < programs_per_bank; ++slot) {
            std::string const name = program_file(slot);
            if (write_file_atomically(folder + name, program_tfx_bytes(bank[static_cast<std::size_t>(slot)], wet), error))
                ++written;
            else if (first_error.empty())
                first_error = folder + name + ":\n" + error;
        }
        if (!first_error.empty()) fail("Not every preset could be saved; the first that failed was " + first_error);
        if (written > 0 && show_message_) show_message_("Written " + std::to_string(written) + " files to " + folder);
        break;
    }
    case Export::whole_bank:
        if (!write_file_atomically(folder + "Complete Bank.tfx", tfx_bytes(bank.data(), wet), error))
            fail("The bank could not be saved to " + folder + "Complete Bank.tfx:\n" + error);
        else set_status("Saved Complete Bank.tfx");
        break;
    }
}

void CPresetBrowser::create_tfx_files_for_folder()
{
    ask("This function automates the process of generating host preset files (*.tfx). Starting with the "
        "file in IR1-A, every impulse-response file of its folder in turn is loaded into IR1-A and the "
        "current program, named after the file, is written as a preset file into the folder you choose "
        "next.\n\nDo you wish to continue?",
        [this] {
            FileDialog const dialog = dialog_of("Create TFX Files for All IRs in Folder from Current IR", true,
                                                ".tfx", "Presets.tfx");
            bool const shown = host_.choose_file(dialog, [this](std::string const& path) {
                std::error_code error;
                std::string const folder = fs::is_directory(path, error)
                                               ? (path.back() == '/' ? path : path + "/")
                                               : get_file_path(path);
                if (folder.empty()) fail("No folder was chosen, so nothing was written.");
                else write_tfx_per_ir_file(folder);
            });
            if (!shown) fail("No file dialog can be shown here, so nothing was written.");
        });
}

void CPresetBrowser::write_tfx_per_ir_file(std::string const& folder)
{
    char block[program_path_size] = {};
    host_.get_custom_data(custom_data::ir1_file_a, block, sizeof block - 1);
    std::string file(block);
    if (!check_file_path(file)) {
        fail("IR1-A holds no impulse-response file to start from, so nothing was written.");
        return;
    }
    int written = 0;
    std::string error, first_error;
    for (int guard = 0; !file.empty() && guard < 100000; ++guard, file = get_next_prev_file(file, true)) {
        if (file.size() >= program_path_size) continue;
        char path[program_path_size] = {};
        std::memcpy(path, file.data(), file.size());
        host_.set_custom_data(custom_data::ir1_file_a, path, sizeof path);
        char name[program_name_characters + 1] = {};
        std::string const stem = get_filename_from_path_no_ext(file);
        std::memcpy(name, stem.data(), std::min(stem.size(), program_name_characters));
        host_.set_custom_data(custom_data::program_name, name, sizeof name);
        std::vector<VST_Plugin_Program> bank;
        int const slot = std::max(0, read_current_program());
        if (!read_bank(bank)) break;
        VST_Plugin_Program const& program = bank[static_cast<std::size_t>(slot)];
        std::string const target = folder + tfx_file_name(program);
        if (write_file_atomically(target, program_tfx_bytes(program, false), error)) ++written;
        else if (first_error.empty()) first_error = target + ":\n" + error;
    }
    host_.request("force_full_recompute_IR1");
    bank_changed();
    if (!first_error.empty()) fail("Not every preset could be written; the first that failed was " + first_error);
    if (show_message_)
        show_message_("Written " + std::to_string(written) + " files to " + folder +
                      "\n\nThe most recently written preset is now loaded.");
}

} // namespace corvella::editor
