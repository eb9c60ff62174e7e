// Command menus: exact item texts and numbers, each item's program operation and the requests
// it raises (read back from the parameters object, not from the widgets), and the settings
// page's store writes and messages.
#include "editor_test_support.h"

#include "editor/settings_page.h"
#include "editor/ui/menu.h"
#include "editor/ui/message_panel.h"
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {

using namespace corvella;
using editor::CommandMenu;
using corvella::test::EditorFixture;
using P = VST_Plugin_Program;

// Settings every group operation moves or resets, set away from their defaults so that each
// operation shows.
void distinct_program(P& p)
{
    p.ir1_gain = 0.9f, p.ir2_gain = 0.15f, p.ir1_flt1_gain = 0.8f, p.ir2_flt2_gain = 0.2f;
    p.chorus_master_feedback = 0.6f, p.chorus_ir1_width = 0.1f, p.chorus_ir2_wet = 0.3f;
    p.master_delay_l_wet = 0.2f, p.ir1_delay_dry = 0.35f, p.ir2_delay_r_feedback = 0.55f;
    p.ir1_balance = 0.1f, p.ir2_balance = 0.85f, p.master_ir1_ir2_mix = 0.9f;
    p.flt1_gain = 0.7f, p.lfo1_rate = 0.9f, p.master_gain = 0.65f;
}

std::set<Request> raised(PendingRequests const& r)
{
    std::set<Request> out;
    for (int i = 0; i < request_count; ++i)
        if (r.bytes[i] != 0 && i != static_cast<int>(Request::parameters_changed)) out.insert(static_cast<Request>(i));
    return out;
}

std::set<Request> full_recompute()
{
    std::set<Request> out;
    for (int i = 0; i < request_count; ++i)
        if (i != static_cast<int>(Request::tempo_changed) && i != static_cast<int>(Request::parameters_changed))
            out.insert(static_cast<Request>(i));
    return out;
}

struct CommandCase {
    CommandMenu menu;
    int item;
    char const* text;
    std::function<void(P&)> operation;
    std::set<Request> requests;
};

std::vector<CommandCase> command_cases()
{
    using R = Request;
    std::set<R> const full1{R::full_recompute_ir1}, full2{R::full_recompute_ir2};
    std::set<R> const choruses{R::chorus_master, R::chorus_ir1, R::chorus_ir2};
    std::set<R> const delays{R::delay_master, R::delay_ir1, R::delay_ir2};
    auto const reset = [](P& p) { p.reset(); };
    auto const none = [](P&) {};
    return {
        {CommandMenu::ir1, 0, "Copy IR1 settings to IR2: everything", &P::push_ir1_to_ir2, full2},
        {CommandMenu::ir1, 1, "Copy IR1 settings to IR2: everything except EQ, delay and chorus",
         &P::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod, full2},
        {CommandMenu::ir1, 2, "Copy IR1 settings to IR2: everything except mixer", &P::push_ir1_to_ir2_except_mixer, full2},
        {CommandMenu::ir1, 3, "Copy IR1 settings to IR2: everything except EQ, delay, chorus and mixer",
         &P::push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer, full2},
        {CommandMenu::ir1, 5, "Reset IR1 settings: everything", &P::reset_ir1, full1},
        {CommandMenu::ir1, 6, "Reset IR1 settings: everything except EQ, delay and chorus",
         &P::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod, full1},
        {CommandMenu::ir1, 7, "Reset IR1 settings: everything except EQ, delay chorus and mixer",
         &P::reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer, full1},
        {CommandMenu::ir1, 8, "Reset IR1 settings: EQ only", &P::reset_ir1_eq, full1},
        {CommandMenu::ir1, 10, "Swap IR1/IR2 settings", &P::swap_ir1_ir2_everything, {}},
        {CommandMenu::ir1, 12, "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer", reset, full_recompute()},
        {CommandMenu::ir2, 0, "Copy IR2 settings to IR1: everything", &P::push_ir2_to_ir1, full1},
        {CommandMenu::ir2, 1, "Copy IR2 settings to IR1: everything except EQ, delay and chorus",
         &P::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod, full1},
        {CommandMenu::ir2, 2, "Copy IR2 settings to IR1: everything except mixer", &P::push_ir2_to_ir1_except_mixer, full1},
        {CommandMenu::ir2, 3, "Copy IR2 settings to IR1: everything except EQ, delay, chorus and mixer",
         &P::push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer, full1},
        {CommandMenu::ir2, 5, "Reset IR2 settings: everything", &P::reset_ir2, full2},
        {CommandMenu::ir2, 6, "Reset IR2 settings: everything except EQ, delay and chorus",
         &P::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod, full2},
        {CommandMenu::ir2, 7, "Reset IR2 settings: everything except EQ, delay chorus and mixer",
         &P::reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer, full2},
        {CommandMenu::ir2, 8, "Reset IR2 settings: EQ only", &P::reset_ir2_eq, full2},
        {CommandMenu::ir2, 10, "Swap IR1/IR2 settings", &P::swap_ir1_ir2_everything, {}},
        {CommandMenu::ir2, 12, "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer", reset, full_recompute()},
        {CommandMenu::chorus, 0, "Copy Post Chorus to clipboard", none, choruses},
        {CommandMenu::chorus, 1, "Copy IR1 Chorus to clipboard", none, choruses},
        {CommandMenu::chorus, 2, "Copy IR2 Chorus to clipboard", none, choruses},
        {CommandMenu::chorus, 7, "Reset All Choruses",
         [](P& p) { p.reset_chorus_post(), p.reset_chorus_ir1(), p.reset_chorus_ir2(); }, choruses},
        {CommandMenu::chorus, 8, "Reset Post Chorus", &P::reset_chorus_post, choruses},
        {CommandMenu::chorus, 9, "Reset IR1 Chorus", &P::reset_chorus_ir1, choruses},
        {CommandMenu::chorus, 10, "Reset IR2 Chorus", &P::reset_chorus_ir2, choruses},
        {CommandMenu::chorus, 12, "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer", reset, full_recompute()},
        {CommandMenu::delay, 0, "Copy Post Delay to clipboard", none, delays},
        {CommandMenu::delay, 1, "Copy IR1 Delay to clipboard", none, delays},
        {CommandMenu::delay, 2, "Copy IR2 Delay to clipboard", none, delays},
        {CommandMenu::delay, 7, "Reset All Delays",
         [](P& p) { p.reset_delay_master(), p.reset_delay_ir1(), p.reset_delay_ir2(); }, delays},
        {CommandMenu::delay, 8, "Reset Post Delay", &P::reset_delay_master, delays},
        {CommandMenu::delay, 9, "Reset IR1 Delay", &P::reset_delay_ir1, delays},
        {CommandMenu::delay, 10, "Reset IR2 delay", &P::reset_delay_ir2, delays},
        {CommandMenu::delay, 12, "Reset Program: IR1, IR2, Delays, Post EQ, Mixer", reset, full_recompute()},
        {CommandMenu::post_eq, 0, "Reset Post EQ", &P::reset_post_eq, {R::master_filter_coeffs}},
        {CommandMenu::post_eq, 2, "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer", reset, full_recompute()},
        {CommandMenu::mixer, 0, "Reset Mixer", &P::reset_mixer, full_recompute()},
        {CommandMenu::mixer, 2, "Reset Program: IR1, IR2, Choruses, Post EQ, Mixer", reset, full_recompute()},
    };
}

TEST(EditorCommands, MenusListTheItemsUnderTheirNumbers)
{
    EditorFixture f;
    std::map<std::pair<int, int>, std::string> expected;
    for (auto const& c : command_cases()) expected[{static_cast<int>(c.menu), c.item}] = c.text;
    // The paste items, which the operation table leaves to the clipboard test.
    char const* const paste[2][3] = {{"Paste to Post Chorus from clipboard", "Paste to IR1 Chorus from clipboard",
                                      "Paste to IR2 Chorus from clipboard"},
                                     {"Paste to Post Delay from clipboard", "Paste to IR1 Delay from clipboard",
                                      "Paste to IR2 Delay from clipboard"}};
    for (int m = 0; m < 2; ++m)
        for (int i = 0; i < 3; ++i) expected[{2 + m, 3 + i}] = paste[m][i];
    std::map<std::pair<int, int>, std::string> found;
    for (int m = 0; m < 6; ++m) {
        ui::CChoiceMenu* menu = f.view->command_menu(static_cast<CommandMenu>(m));
        ASSERT_NE(menu, nullptr) << m;
        for (int leaf = 0; leaf < ui::leaf_count(menu->entries()); ++leaf) {
            ui::MenuEntry const* e = ui::leaf_at(menu->entries(), leaf);
            found[{m, e->tag}] = e->text;
        }
    }
    EXPECT_EQ(found, expected);
}

TEST(EditorCommands, EachItemRunsItsOperationAndRaisesItsRequests)
{
    EditorFixture f;
    for (auto const& c : command_cases()) {
        SCOPED_TRACE(c.text);
        f.parameters().edit_bank([](P* bank) { distinct_program(bank[current_program_index(bank)]); });
        P expected = f.current();
        c.operation(expected);
        f.clear_requests();
        f.view->run_command(c.menu, c.item);
        EXPECT_TRUE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(f.current(), expected));
        EXPECT_EQ(raised(f.parameters().pending_requests()), c.requests);
        if (c.requests == full_recompute() && c.item != 0) {
            EXPECT_STREQ(f.current().name, "Default");
        }
        EXPECT_TRUE(f.root().overlays().empty()); // no error message
    }
}

TEST(EditorCommands, ClipboardCarriesOneChorusAndOneDelayBetweenBlocks)
{
    EditorFixture f;
    f.parameters().edit_bank([](P* bank) { distinct_program(bank[current_program_index(bank)]); });
    f.view->run_command(CommandMenu::chorus, 1); // copy IR1
    f.view->run_command(CommandMenu::chorus, 3); // paste to post
    f.view->run_command(CommandMenu::delay, 1);  // copy IR1
    f.view->run_command(CommandMenu::delay, 5);  // paste to IR2
    P const p = f.current();
    auto const same = [&p](std::span<ProgramSlot const> a, std::span<ProgramSlot const> b) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            bool const equal = a[i].f ? p.*(a[i].f) == p.*(b[i].f) : p.*(a[i].i) == p.*(b[i].i);
            if (!equal) return false;
        }
        return true;
    };
    EXPECT_TRUE(same(chorus_block_slots(EffectBlock::post), chorus_block_slots(EffectBlock::ir1)));
    EXPECT_FALSE(same(chorus_block_slots(EffectBlock::ir2), chorus_block_slots(EffectBlock::ir1)));
    EXPECT_TRUE(same(delay_block_slots(EffectBlock::ir2), delay_block_slots(EffectBlock::ir1)));
}

TEST(EditorCommands, ResetIr2EverythingChosenInTheMenuRecomputesIr2)
{
    EditorFixture f;
    ASSERT_TRUE(f.host.wait_until_idle());
    f.clear_requests();
    ASSERT_TRUE(f.view->select_page("IR2 Edit/File"));
    ui::CChoiceMenu* menu = f.view->command_menu(CommandMenu::ir2);
    test::Pointer p{f.root()};
    p.click(test::centre_of(*menu));
    auto& popup = static_cast<ui::CPopupMenu&>(*f.root().overlays().at(0));
    p.click(test::centre_of(popup, popup.entry_rect(5))); // entries count the separator at 4
    auto const r = raised(f.parameters().pending_requests());
    EXPECT_TRUE(r.count(Request::full_recompute_ir2));
    EXPECT_FALSE(r.count(Request::full_recompute_ir1));
    EXPECT_EQ(menu->value(), 0); // a command menu keeps no value of its own
    EXPECT_TRUE(f.host.wait_until_idle());
}

std::string message_shown(EditorFixture& f)
{
    auto const& overlays = f.root().overlays();
    if (overlays.empty()) return {};
    auto const* panel = dynamic_cast<ui::CMessagePanel const*>(overlays.back().get());
    return panel ? panel->text() : std::string();
}

// The latency applies when the effect is next loaded: its menu stays red while the stored value
// differs from the one the instance runs with, and choosing that one again stores nothing.
TEST(EditorSettings, ChoicesStoreTheirValueAndShowTheirMessage)
{
    struct Case {
        std::size_t menu;
        int item;
        char const* key;
        int stored;
        char const* message;
        bool warning = false;
    };
    Case const cases[] = {
        {2, 6, "Latency", 4096,
         "A latency of 4096 samples (85.33ms delay at the current samping rate of 48000Hz) will be used the next "
         "time the plugin is started  (please reload the project for consistency as all instances use the same "
         "setting).",
         true},
        {2, 0, "Latency", 4096, ""}, // zero delay: what the instance runs with
        {0, 1, "HidePresets", 1, "The next time the editor is opened the presets tab will be hidden."},
        {0, 0, "HidePresets", 0, "The next time the editor is opened the presets tab will be visible."},
        {5, 2, "DialsMode", 2,
         "Linear (slider) mode selected. Holding the Apple key while dragging in this mode allows for finer control. "},
        {6, 1, "WetLock", 1, "New default wet-lock mode will be used the next time Corvella starts up"},
        {8, 4, "ColourScheme", 4, "Close and re-open the GUI to view the new colour scheme"},
        {7, 1, "IRVisSelectionMode", 1, ""},
    };
    EditorFixture f;
    ASSERT_EQ(f.binding->running_latency(), 0);
    for (auto const& c : cases) {
        SCOPED_TRACE(c.key);
        f.view->settings_page()->choose(c.menu, c.item);
        EXPECT_EQ(extract_data_from_registry_int(c.key), c.stored);
        EXPECT_EQ(message_shown(f), c.message);
        EXPECT_EQ(f.view->settings_page()->menu(c.menu)->warning(), c.warning);
        while (!f.root().overlays().empty()) f.root().close_overlay(*f.root().overlays().back());
        f.root().mouse_move(0, 0, 0); // lets the closed box go
    }
    EXPECT_EQ(f.root().options().dial_mode, ui::DialMode::linear);
}

TEST(EditorSettings, StoreFailureIsShownWithTheActionAndTheMenuFallsBack)
{
    EditorFixture f;
    namespace fs = std::filesystem;
    fs::path const file = GetPreferencePathRaw() + "Tarnwick/Corvella/Corvella.xml";
    fs::path const kept = file.string() + ".kept";
    ASSERT_TRUE(fs::exists(file));
    fs::rename(file, kept);
    fs::create_directory(file); // a settings "file" nobody can read or write
    f.view->settings_page()->choose(1, 2); // sample-rate behaviour: downsample
    std::string const text = message_shown(f);
    fs::remove(file);
    fs::rename(kept, file);
    std::string const tail = ": Seen during default SR Normalisation switch";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(f.view->settings_page()->menu(1)->chosen(), 0);
}

} // namespace
