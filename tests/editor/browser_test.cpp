// The lower pane's browsers on a bare page over an in-process instance: the IR file listing
// (order, pairs, filter, loading, unreadable folders) and the preset browser's bank operations,
// checked against the parameters object's own bank-file path and a small model of the listing.
#include "editor/in_process_editor_host.h"
#include "editor/ir_browser.h"
#include "editor/preset_browser.h"
#include "editor/ui/list_view.h"
#include "editor/ui/menu.h"
#include "editor/ui/message_panel.h"
#include "editor/ui/text_field.h"
#include "host/bank_files.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "platform/settings_store.h"
#include "program/parameter_application.h"
#include "support/temp_dir.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace corvella::test {
namespace {

using namespace corvella::editor;
namespace fs = std::filesystem;

struct Pane {
    host::InProcessHost host;
    std::unique_ptr<InProcessEditorHost> binding;
    ui::CRoot root;
    ui::CWidget* page = nullptr;
    Pointer pointer{root};
    std::vector<std::string> messages;

    Pane()
    {
        host.create_instance(host::Variant::stereo_to_stereo, 48000.0);
        binding = std::make_unique<InProcessEditorHost>(host);
        root.set_size({1040, 140});
        page = &root.add<ui::CWidget>({4, 10, 1030, 122});
    }
    std::vector<VST_Plugin_Program> bank() { return host.parameters().bank_copy(); }
    ui::CMessagePanel* question()
    {
        return root.overlays().empty() ? nullptr : dynamic_cast<ui::CMessagePanel*>(root.overlays().back().get());
    }
};

void touch(fs::path const& p)
{
    std::ofstream(p) << "x";
}

bool same_bytes(std::vector<VST_Plugin_Program> const& a, std::vector<VST_Plugin_Program> const& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

std::vector<VST_Plugin_Program> named_bank(char const* stem, float mix)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    for (int i = 0; i < programs_per_bank; ++i) {
        std::snprintf(bank[static_cast<std::size_t>(i)].name, sizeof bank[0].name, "%s %d", stem, i + 1);
        bank[static_cast<std::size_t>(i)].master_mix = mix;
        bank[static_cast<std::size_t>(i)].ir1_pre_delay = 0.01f * static_cast<float>(i);
    }
    return bank;
}

// ---------------------------------------------------------------------------------------------
// IR browser

struct IrFolder {
    TempDir dir;
    IrFolder()
    {
        for (char const* name : {"b.WAV", "A.wav", "c.FLAC", "d.aiff", "e.Aif", "f.sd2", "g.wir", "h.fir", "i.SDIR",
                                 "Hall L.wav", "Hall R.wav", "notes.txt", "j.wavx", "k.wa", ".hidden.wav"})
            touch(dir / name);
        fs::create_directory(dir / "sub");
        fs::create_directory(dir / ".cache");
        fs::create_directory(dir / "Another");
    }
    std::string folder() const { return dir.path().string() + "/"; }
};

// The listing order: names compared character by character in lower case, a prefix first.
std::vector<std::string> model_order(std::vector<std::string> names)
{
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::sort(names.begin(), names.end(), [&](auto const& a, auto const& b) { return lower(a) < lower(b); });
    return names;
}

std::vector<std::string> shown_names(CIrBrowser const& browser)
{
    std::vector<std::string> out;
    for (auto const& e : browser.shown_files()) out.push_back(e.name);
    return out;
}

TEST(IrBrowser, ListsTheIrFilesInFolderOrderWithAPairAsOneEntry)
{
    Pane pane;
    IrFolder f;
    CIrBrowser browser(*pane.page, *pane.binding, [] { return 1; }, [](int, std::string const&) { return true; });
    browser.open_folder(f.folder());

    std::vector<std::string> const expected = model_order(
        {"b.WAV", "A.wav", "c.FLAC", "d.aiff", "e.Aif", "f.sd2", "g.wir", "h.fir", "i.SDIR", "Hall L.wav"});
    EXPECT_EQ(shown_names(browser), expected);
    auto const pair = std::find_if(browser.shown_files().begin(), browser.shown_files().end(),
                                   [](auto const& e) { return e.name == "Hall L.wav"; });
    ASSERT_NE(pair, browser.shown_files().end());
    EXPECT_EQ(pair->partner, "Hall R.wav");
    EXPECT_EQ(pair->shown, "Hall L/R.wav");
    EXPECT_EQ(browser.file_list().row_count(), static_cast<int>(expected.size()));

    // Folders: ".." first, then the visible sub-folders in the same order.
    std::vector<std::string> folders;
    for (auto const& row : browser.folder_list().rows()) folders.push_back(row.text);
    EXPECT_EQ(folders, (std::vector<std::string>{"..", "Another", "sub"}));
}

TEST(IrBrowser, TheTextFilterKeepsEntriesHoldingEveryStarSeparatedPart)
{
    Pane pane;
    IrFolder f;
    CIrBrowser browser(*pane.page, *pane.binding, [] { return 1; }, [](int, std::string const&) { return true; });
    browser.open_folder(f.folder());
    struct Case {
        char const* filter;
        std::vector<std::string> shown;
    };
    Case const cases[] = {
        {"wav", {"A.wav", "b.WAV", "Hall L.wav"}},
        {"HALL*l", {"Hall L.wav"}},
        {"r.w", {"Hall L.wav"}}, // matched by the pair's right file
        {"aif*d", {"d.aiff"}},
        {"*", model_order({"b.WAV", "A.wav", "c.FLAC", "d.aiff", "e.Aif", "f.sd2", "g.wir", "h.fir", "i.SDIR",
                           "Hall L.wav"})},
        {"zzz", {}},
    };
    for (Case const& c : cases) {
        browser.set_filter(c.filter);
        EXPECT_EQ(shown_names(browser), c.shown) << c.filter;
    }
    // Typed into the field.
    browser.set_filter("");
    pane.pointer.click(centre_of(browser.filter_field()));
    for (char c : std::string("g.w")) pane.root.key_down({ui::Key::other, 0, static_cast<std::uint32_t>(c)});
    EXPECT_EQ(shown_names(browser), (std::vector<std::string>{"g.wir"}));
}

TEST(IrBrowser, DoubleClickAndArrowsLoadIntoTheOpenSlot)
{
    Pane pane;
    IrFolder f;
    std::vector<std::pair<int, std::string>> loads;
    int slot = 2;
    CIrBrowser browser(*pane.page, *pane.binding, [&] { return slot; }, [&](int s, std::string const& p) {
        loads.emplace_back(s, p);
        return true;
    });
    browser.open_folder(f.folder());
    browser.file_list().clock = [] { return 1.0; };
    auto const names = shown_names(browser);
    int const row = static_cast<int>(std::find(names.begin(), names.end(), "Hall L.wav") - names.begin());

    browser.file_list().ensure_visible(row);
    ui::Point const at = centre_of(browser.file_list(), browser.file_list().row_rect(row));
    pane.pointer.click(at);
    EXPECT_TRUE(loads.empty()); // one click only selects
    pane.pointer.click(at);
    slot = 1;
    EXPECT_TRUE(browser.step(true));
    std::vector<std::pair<int, std::string>> const expected{{2, f.folder() + "Hall L.wav"},
                                                            {1, f.folder() + names[static_cast<std::size_t>(row) + 1]}};
    EXPECT_EQ(loads, expected);
    browser.clear_selection();
    EXPECT_EQ(browser.file_list().selected(), -1);
}

TEST(IrBrowser, AnUnreadableOrVanishedFolderShowsEmptyAndStillNavigates)
{
    Pane pane;
    IrFolder f;
    CIrBrowser browser(*pane.page, *pane.binding, [] { return 1; }, [](int, std::string const&) { return true; });
    std::string const gone = f.folder() + "gone/";
    fs::create_directory(gone);
    touch(fs::path(gone) / "x.wav");
    browser.open_folder(gone);
    ASSERT_EQ(browser.shown_files().size(), 1u);
    fs::remove_all(gone); // vanishes while shown
    browser.refresh();
    EXPECT_TRUE(browser.shown_files().empty());
    EXPECT_EQ(browser.path_line(), gone + "  (folder not found)");
    // ".." leads back out.
    browser.folder_list().on_activate(browser.folder_list(), 0);
    EXPECT_EQ(browser.folder(), f.folder());
    EXPECT_EQ(browser.shown_files().size(), 10u);

    if (geteuid() != 0) { // root reads any folder
        fs::path const locked = f.dir / "sub";
        touch(locked / "y.wav");
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        browser.open_folder(locked.string());
        EXPECT_TRUE(browser.shown_files().empty());
        EXPECT_EQ(browser.path_line(), locked.string() + "/  (cannot be read)");
        browser.up();
        EXPECT_EQ(browser.folder(), f.folder());
        chmod(locked.c_str(), 0755);
    }
}

// ---------------------------------------------------------------------------------------------
// Preset browser

struct PresetPane : Pane {
    TempDir dir;
    CPresetBrowser browser{*page, *binding, [this](std::string const& m) { messages.push_back(m); }};
    std::string write_bank(char const* name, std::vector<VST_Plugin_Program> bank)
    {
        std::string const path = (dir / name).string();
        std::string error;
        EXPECT_TRUE(save_bank_file(path, bank.data(), error)) << error;
        return path;
    }
};

TEST(PresetBrowser, LoadingABankReplacesItAsTheBankFileOperationDoes)
{
    PresetPane pane;
    std::string const path = pane.write_bank("Halls.fxb", named_bank("Hall", 0.4f));
    pane.browser.browser_presets_load_fxb();
    ASSERT_NE(pane.binding->pending_file_dialog(), nullptr);
    EXPECT_EQ(pane.binding->pending_file_dialog()->title, "Select FXB Presets File (.fxb extension)");
    pane.binding->answer_file_dialog(path);

    host::InProcessHost direct;
    direct.create_instance(host::Variant::stereo_to_stereo, 48000.0);
    ASSERT_TRUE(direct.parameters().set_chunk_from_file_in_aax(path.c_str()));
    EXPECT_TRUE(same_bytes(pane.bank(), direct.parameters().bank_copy()));
    EXPECT_EQ(pane.browser.program_list().rows()[4].text, "5: Hall 5");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(0), path);
    EXPECT_TRUE(pane.messages.empty());

    // A host preset file is not a bank: a message, and the bank stays.
    std::string const tfx = (pane.dir / "one.fxb").string();
    std::ofstream(tfx, std::ios::binary) << tfx_bytes(named_bank("Other", 1.0f).data(), false);
    auto const before = pane.bank();
    EXPECT_FALSE(pane.browser.browser_presets_load_fxb(tfx));
    EXPECT_TRUE(same_bytes(pane.bank(), before));
    ASSERT_EQ(pane.messages.size(), 1u);
    EXPECT_NE(pane.messages[0].find(tfx), std::string::npos);
}

// The batch export: from IR1-A's file onward, one preset file per IR file of the folder, each
// holding that file in IR1-A under the file's name; the last stays loaded.
TEST(PresetBrowser, BatchExportWritesOnePresetPerIrFileFromTheCurrentOneOn)
{
    PresetPane pane;
    fs::create_directory(pane.dir / "irs");
    for (char const* name : {"a.wav", "b.wav", "c.aiff", "notes.txt"}) touch(pane.dir / "irs" / name);
    pane.host.set_ir_file(1, 0, (pane.dir / "irs" / "b.wav").string());
    pane.browser.create_tfx_files_for_folder();
    ASSERT_NE(pane.question(), nullptr);
    pane.question()->answer(ui::Answer::yes);
    ASSERT_NE(pane.binding->pending_file_dialog(), nullptr);
    fs::create_directory(pane.dir / "out");
    pane.binding->answer_file_dialog((pane.dir / "out" / "Presets.tfx").string());
    for (auto const& [stem, ir] : {std::pair{"b", "b.wav"}, std::pair{"c", "c.aiff"}}) {
        std::ifstream in(pane.dir / "out" / (std::string(stem) + ".tfx"), std::ios::binary);
        std::string const bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(bytes.size(), 142714u) << stem;
        VST_Plugin_Program slot0;
        std::memcpy(static_cast<void*>(&slot0), bytes.data() + 56, 2968);
        EXPECT_STREQ(slot0.name, stem);
        EXPECT_EQ(std::string(slot0.ir1_file_a), (pane.dir / "irs" / ir).string());
    }
    EXPECT_FALSE(fs::exists(pane.dir / "out" / "a.tfx")); // before the current file
    ASSERT_FALSE(pane.messages.empty());
    EXPECT_EQ(pane.messages.back(), "Written 2 files to " + (pane.dir / "out").string() +
                                        "/\n\nThe most recently written preset is now loaded.");
    auto const bank = pane.bank();
    EXPECT_STREQ(bank[0].name, "c");
}

TEST(PresetBrowser, AProgramChosenInTheListBecomesTheCurrentProgram)
{
    PresetPane pane;
    auto& list = pane.browser.program_list();
    list.clock = [] { return 0.0; };
    pane.pointer.click(centre_of(list, list.row_rect(3)));
    EXPECT_EQ(pane.bank()[0].current_program, 3);
    EXPECT_EQ(pane.binding->open_gestures(), 0);
    EXPECT_EQ(pane.binding->finished_gestures(), 1);
    // A change made elsewhere shows after idle.
    std::int32_t const seven = 7;
    pane.host.set_custom_data(custom_data::current_program, &seven, 4);
    pane.browser.idle();
    EXPECT_EQ(list.selected(), 7);
}

TEST(PresetBrowser, SaveWritesABankFileThatLoadsBackEqualAndAsksBeforeOverwriting)
{
    PresetPane pane;
    pane.browser.browser_presets_load_fxb(pane.write_bank("Plates.fxb", named_bank("Plate", 0.7f)));
    pane.browser.choose_program(5);

    pane.browser.browser_presets_export_fxb();
    ASSERT_NE(pane.binding->pending_file_dialog(), nullptr);
    EXPECT_EQ(pane.binding->pending_file_dialog()->title, "Save FXB Presets Bank");
    std::string const chosen = (pane.dir / "saved").string();
    pane.binding->answer_file_dialog(chosen);
    std::string const path = chosen + ".fxb";
    ASSERT_EQ(fs::file_size(path), bank_file_size);
    EXPECT_EQ(pane.bank()[0].current_program, 0); // saving makes program 1 current

    host::InProcessHost other;
    other.create_instance(host::Variant::stereo_to_stereo, 48000.0);
    ASSERT_TRUE(other.parameters().set_chunk_from_file_in_aax(path.c_str()));
    EXPECT_TRUE(same_bytes(other.parameters().bank_copy(), pane.bank()));

    // Saving over it asks first; "No" leaves the file as it was.
    char const renamed[] = "Renamed";
    pane.host.set_custom_data(custom_data::program_name, renamed, sizeof renamed);
    auto const size_before = fs::file_size(path);
    std::ifstream in(path, std::ios::binary);
    std::string const before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pane.browser.browser_presets_export_fxb();
    pane.binding->answer_file_dialog(path);
    ASSERT_NE(pane.question(), nullptr);
    EXPECT_EQ(pane.question()->text(), "Overwrite file?");
    pane.question()->answer(ui::Answer::no);
    std::ifstream again(path, std::ios::binary);
    std::string const after((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(fs::file_size(path), size_before);
    EXPECT_EQ(after, before);
}

TEST(PresetBrowser, ClearAsksAndNoChangesNothingWhileYesLeavesDefaultPrograms)
{
    PresetPane pane;
    pane.browser.browser_presets_load_fxb(pane.write_bank("Rooms.fxb", named_bank("Room", 0.3f)));
    pane.browser.choose_program(9);
    auto const before = pane.bank();

    pane.browser.browser_presets_clear_fxb();
    ASSERT_NE(pane.question(), nullptr);
    EXPECT_EQ(pane.question()->text(), "Are you sure you wish to clear all presets in this bank?");
    pane.question()->answer(ui::Answer::no);
    EXPECT_TRUE(same_bytes(pane.bank(), before));

    pane.browser.browser_presets_clear_fxb();
    pane.question()->answer(ui::Answer::yes);
    auto const cleared = pane.bank();
    VST_Plugin_Program const fresh;
    EXPECT_EQ(cleared[0].current_program, 0);
    for (auto const& p : cleared) {
        EXPECT_TRUE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(p, fresh));
        EXPECT_STREQ(p.name, fresh.name);
    }
    EXPECT_EQ(pane.browser.program_list().rows()[0].text, "1: " + std::string(fresh.name));
}

TEST(PresetBrowser, AUserBankSlotKeepsABankFileAndClearingItAsksFirst)
{
    PresetPane pane;
    std::string const path = pane.write_bank("Mine.fxb", named_bank("Mine", 0.5f));
    pane.browser.select_user_bank(3);
    pane.binding->answer_file_dialog(path);
    EXPECT_EQ(user_bank_slot_path(3), path);
    ui::MenuEntry const* slot = ui::leaf_at(pane.browser.user_menu().entries(), 2);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->text, "3: Mine.fxb");

    pane.browser.load_user_bank(3);
    EXPECT_EQ(pane.bank()[6].name, std::string("Mine 7"));

    pane.browser.clear_user_bank(3);
    ASSERT_NE(pane.question(), nullptr);
    EXPECT_EQ(pane.question()->text(), "Clear entry?");
    pane.question()->answer(ui::Answer::no);
    EXPECT_EQ(user_bank_slot_path(3), path);
    pane.browser.clear_user_bank(3);
    pane.question()->answer(ui::Answer::yes);
    EXPECT_EQ(user_bank_slot_path(3), "");
    EXPECT_EQ(ui::leaf_at(pane.browser.user_menu().entries(), 2)->text, "3: Empty");
}

} // namespace
} // namespace corvella::test
