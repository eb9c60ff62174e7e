// Simulated input on the Corvella pages reaching the parameters through the host layer, and host
// changes coming back to the controls.
#include "editor_test_support.h"

#include "editor/ui/menu.h"
#include "editor/ui/step_switch.h"
#include "platform/settings_store.h"
#include "program/parameter_table.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

using namespace corvella;
using corvella::test::centre_of;
using corvella::test::EditorFixture;
using corvella::test::Pointer;

// Opens a menu control and clicks its entry `index`.
void choose(EditorFixture& f, ui::CValueControl& menu, int index)
{
    Pointer p{f.root()};
    p.click(centre_of(menu));
    auto& popup = static_cast<ui::CPopupMenu&>(*f.root().overlays().at(0));
    p.click(centre_of(popup, popup.entry_rect(index)));
}

TEST(EditorInput, KnobWheelAndDefaultClickReachTheParameterAsOneGestureEach)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    ui::CValueControl* decay = f.view->control("ir1_adshr_d");
    ASSERT_NE(decay, nullptr);
    float const start = f.host.get_parameter("ir1_adshr_d");
    Pointer p{f.root()};
    p.wheel(centre_of(*decay), 1); // a tenth of the knob's increment of 1
    EXPECT_NEAR(f.host.get_parameter("ir1_adshr_d"), start + 0.1, 1e-5);
    p.wheel(centre_of(*decay), 1, ui::mod::control); // a hundredth
    EXPECT_NEAR(f.host.get_parameter("ir1_adshr_d"), start + 0.11, 1e-5);
    EXPECT_EQ(f.binding->finished_gestures(), 2);
    int const sets = f.binding->value_sets();
    p.click(centre_of(*decay), ui::mod::alt);
    EXPECT_FLOAT_EQ(f.host.get_parameter("ir1_adshr_d"), find_parameter("ir1_adshr_d")->default_value);
    EXPECT_EQ(f.binding->value_sets(), sets + 1);
    EXPECT_EQ(f.binding->finished_gestures(), 3);
    EXPECT_EQ(f.binding->open_gestures(), 0);
}

// Switches and menus of settings with a few states: the item texts in order, and what each item
// stores. The STS switch's middle state is no value its on/off host parameter can carry; the
// order switch and the order menu share one setting, above 0 when the mixer runs before the
// convolvers.
TEST(EditorInput, ChoiceControlsStoreTheStateOfEachItem)
{
    struct Case {
        char const* page;
        char const* key;
        std::vector<std::string> texts;
        std::vector<float> stored;
        int nth = 0; // which of the controls bound to the key
    };
    Case const cases[] = {
        {"IR1 Edit/File", "ir1_sts_toggle", {"Sim-TS Off", "Sim-TS Clear", "Sim-TS Dense"}, {0.0f, 0.5f, 1.0f}},
        {"IR2 Edit/File", "ir2_sts_toggle", {"Sim-TS Off", "Sim-TS Clear", "Sim-TS Dense"}, {0.0f, 0.5f, 1.0f}},
        {"Mixer", "master_mixer_modulation_order", {"Mod Pre-IR", "Mod Post-IR"}, {1.0f, 0.0f}},
        {"Mixer", "master_mixer_modulation_order", {"Mix Pre-IR", "Mix Post-IR"}, {1.0f, 0.0f}, 1},
        {"Mixer", "master_ir1_ir2_mix_law", {"Raised Centre", "Flat Balance"}, {0.0f, 1.0f}},
        // The outer bands offer what their filters can be (the inner ones only peaks).
        {"IR1 EQ/1", "ir1_flt1_mode", {"Peak", "L. Cut", "L. Shelf"}, {0.0f, 0.5f, 1.0f}},
        {"Post EQ/5", "flt5_mode", {"Peak", "H. Cut", "H. Shelf"}, {0.0f, 0.5f, 1.0f}},
    };
    EditorFixture f;
    f.host.set_parameter("ir1_flt1_toggle", 1.0f);
    for (auto const& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_TRUE(f.view->select_page(c.page));
        std::vector<ui::CValueControl*> bound;
        std::function<void(ui::CWidget&)> walk = [&](ui::CWidget& w) {
            for (auto const& child : w.children()) {
                if (child->id() == c.key && child->shown())
                    bound.push_back(dynamic_cast<ui::CValueControl*>(child.get()));
                walk(*child);
            }
        };
        walk(f.root());
        ASSERT_GT(bound.size(), static_cast<std::size_t>(c.nth));
        ui::CValueControl* control = bound[static_cast<std::size_t>(c.nth)];
        auto* sw = dynamic_cast<ui::CStepSwitch*>(control);
        auto* menu = dynamic_cast<ui::CChoiceMenu*>(control);
        for (int i = static_cast<int>(c.texts.size()) - 1; i >= 0; --i) {
            if (sw) {
                ASSERT_EQ(sw->positions(), c.texts);
                Pointer{f.root()}.click(centre_of(*sw, sw->row(i)));
            } else {
                ASSERT_NE(menu, nullptr);
                EXPECT_EQ(ui::leaf_at(menu->entries(), i)->text, c.texts[static_cast<std::size_t>(i)]);
                choose(f, *menu, i);
            }
            EXPECT_EQ(f.host.get_parameter(c.key), c.stored[static_cast<std::size_t>(i)]) << i;
            f.view->idle();
            EXPECT_EQ(control->text(), c.texts[static_cast<std::size_t>(i)]);
        }
    }
}

// Texts that depend on more than their own value, after the host changed them.
TEST(EditorInput, ValueTextsFollowTheSettingsTheyDependOn)
{
    struct Case {
        char const* page;
        char const* key;
        std::vector<std::pair<char const*, float>> sets;
        char const* text;
    };
    Case const cases[] = {
        {"IR1 Edit/File", "ir1_sts_high_pass_freq",
         {{"ir1_sts_high_pass_freq", 0.0f}, {"ir1_sts_high_pass_toggle", 1.0f}},
         "HPF: 20 Hz"}, // the 20 Hz floor of the EQ taper
        // A band's gain on its filter's taper: x = 0.6, 20 (10^x - 1) / 9 dB.
        {"IR1 EQ/2", "ir1_flt2_gain", {{"ir1_flt2_gain", 0.8f}}, "+6.6 dB"},
        {"IR1 Edit/File", "ir1_sts_high_pass_freq", {{"ir1_sts_high_pass_freq", 1.0f}}, "HPF: 22.1 kHz"},
        {"IR1 Edit/File", "ir1_sts_high_pass_freq", {{"ir1_sts_high_pass_toggle", 0.0f}}, "HPF: Off"},
        // A band that is off keeps its filter type, drawn dim (checked below).
        {"Post EQ/1-5", "flt3_mode", {{"flt3_toggle", 1.0f}}, "Peak"},
        {"Post EQ/1-5", "flt3_mode", {{"flt3_toggle", 0.0f}}, "Peak"},
        // The envelope's stage times (squared) and its sustain level read alike.
        {"IR2 Edit/File", "ir2_adshr_h", {{"ir2_adshr_h", 0.3f}}, "9.0 %"},
        {"IR2 Edit/File", "ir2_adshr_s", {{"ir2_adshr_s", 0.09f}}, "9.0 %"},
        {"IR2 Edit/File", "ir2_adshr_h", {{"ir2_adshr_h", 1.0f}}, "100 %"},
        {"IR2 Edit/File", "ir2_adshr_s", {{"ir2_adshr_s", 1.0f}}, "100 %"},
        {"Chorus/IR1", "chorus_ir1_wet", {{"chorus_ir1_wet", 0.25f}}, "25 %"},
    };
    EditorFixture f;
    for (auto const& c : cases) {
        ASSERT_TRUE(f.view->select_page(c.page));
        ui::CValueControl* control = f.view->control(c.key, c.page);
        if (control == nullptr) control = f.view->control(c.key); // above the source-type pages
        ASSERT_NE(control, nullptr) << c.key;
        f.view->idle();
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        cairo_t* cr = cairo_create(s);
        f.root().draw(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        ASSERT_FALSE(f.root().needs_repaint());
        for (auto const& [key, value] : c.sets) f.host.set_parameter(key, value);
        f.view->idle();
        EXPECT_EQ(control->text(), c.text) << c.key;
        // The control is redrawn with it.
        ui::Rect const area = control->to_root(control->bounds());
        bool covered = false;
        for (auto const& r : f.root().dirty_rects()) covered = covered || r.intersects(area);
        EXPECT_TRUE(covered) << c.key << " " << c.text;
        if (std::string(c.key) == "flt3_mode") {
            EXPECT_EQ(control->muted(), c.sets[0].second == 0.0f);
        }
    }
}

// Eject asks for a file under its title; the chosen file loads as a drop does (A: the IR switched
// on and its file stored; B only where B is heard); a cancelled dialog changes nothing.
TEST(EditorInput, EjectButtonsAskForAFileAndLoadIt)
{
    EditorFixture f;
    corvella::test::TempDir folder{"corvella-eject-"};
    std::string const hall = (folder / "Hall.wav").string();
    std::ofstream(hall) << "not read here";
    ASSERT_TRUE(f.view->select_page("IR2 Edit/File"));
    f.host.set_parameter("ir2_toggle", 0.0f);
    f.view->idle();
    auto eject = [&](char const* id) {
        ui::CWidget* button = f.root().find(id);
        EXPECT_NE(button, nullptr) << id;
        if (button != nullptr) Pointer{f.root()}.click(centre_of(*button));
        return f.binding->pending_file_dialog();
    };
    auto file = [&](int id) {
        char path[program_path_size] = {};
        f.host.get_custom_data(id, path, sizeof path);
        return std::string(path);
    };
    std::string const before = file(custom_data::ir1_file_a + 2);
    ASSERT_NE(eject("eject:ir2_a"), nullptr);
    EXPECT_EQ(f.binding->pending_file_dialog()->title, "Select Impulse Response File (Wav, Aiff, SDIR)");
    EXPECT_EQ(f.binding->pending_file_dialog()->state_key, "ir2_file_a");
    f.binding->cancel_file_dialog();
    EXPECT_EQ(file(custom_data::ir1_file_a + 2), before);
    ASSERT_NE(eject("eject:ir2_a"), nullptr);
    ASSERT_TRUE(f.binding->answer_file_dialog(hall));
    EXPECT_EQ(file(custom_data::ir1_file_a + 2), hall);
    EXPECT_EQ(f.host.get_parameter("ir2_toggle"), 1.0f);
    f.view->idle();
    EXPECT_EQ(f.view->slot_line(2, 'A'), "IR2-A: Hall.wav");
    EXPECT_FALSE(f.root().find("eject:ir2_b")->shown()); // B is not heard in Parallel Stereo
}

TEST(EditorInput, TopologyDecidesTheSlotHeaderLines)
{
    EditorFixture f;
    char path[corvella::program_path_size] = "/irs/Hall Left.wav";
    f.host.set_custom_data(custom_data::ir1_file_a, path, sizeof path);
    f.view->idle();
    struct Case {
        int item;
        float unity;
        char const* a;
        char const* b;
        bool b_controls, sts_shown;
    };
    Case const cases[] = {
        {0, 0.0f, "IR1-A: Hall Left.wav", "IR1-B: Inactive in Parallel Stereo mode", false, true},
        {1, 1.0f / 3, "IR1-A: Hall Left.wav", "IR1-B: Click eject to load impulse response audio file", true, false},
        {2, 2.0f / 3, "IR1-A: Hall Left.wav", "IR1-B: Inactive in Mono to Stereo mode", false, false},
        {3, 1.0f, "FIR1: Hall Left.wav", "", false, false},
    };
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    ui::CValueControl* topology = f.view->control("ir1_topology");
    ASSERT_NE(topology, nullptr);
    for (auto const& c : cases) {
        choose(f, *topology, c.item);
        EXPECT_NEAR(f.host.get_parameter("ir1_topology"), c.unity, 1e-6) << c.item;
        EXPECT_EQ(f.view->slot_line(1, 'A'), c.a);
        EXPECT_EQ(f.view->slot_line(1, 'B'), c.b);
        EXPECT_EQ(f.view->b_file_controls_shown(1), c.b_controls);
        EXPECT_EQ(f.view->control("ir1_sts_toggle")->shown(), c.sts_shown) << c.item;
    }
    char none[corvella::program_path_size] = {};
    f.host.set_custom_data(custom_data::ir1_file_a, none, sizeof none);
    f.view->idle();
    EXPECT_EQ(f.view->slot_line(1, 'A'), "IR1-A: Click eject to load impulse response audio file");
}

TEST(EditorInput, BusyIndicatorFollowsTheEngineStatus)
{
    EditorFixture f;
    auto status = std::make_unique<EngineStatus>();
    std::memset(status.get(), 0, sizeof *status);
    status->values.reported = 1;
    for (int busy : {1, 0}) {
        status->values.ir_rebuild_in_progress = busy;
        f.host.set_custom_data(custom_data::engine_status, status.get(), sizeof *status);
        f.view->idle();
        EXPECT_EQ(f.view->busy_shown(), busy == 1);
    }
}

TEST(EditorInput, SourceTypeAndTailMenusWriteTheirProgramSlots)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR2 Edit/Tail"));
    std::int32_t value = -1;
    f.host.get_custom_data(22, &value, 4); // IR2 source type: 2 = algorithmic tail
    EXPECT_EQ(value, 2);
    ui::CValueControl* density = f.view->control("data:23");
    ASSERT_NE(density, nullptr);
    choose(f, *density, 1); // "Grainy"
    f.host.get_custom_data(23, &value, 4);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(density->text(), "Grainy");
}

// The arrows beside a file line step through the IR files of its folder in name order, other files
// passed over, and stop at the ends; in True Stereo with pairing on, an A file with a side tag
// brings its partner into B.
TEST(EditorInput, FileArrowsStepThroughTheFolderAndPairTrueStereoFiles)
{
    corvella::test::TempDir folder;
    for (char const* name : {"A Hall L.wav", "A Hall R.wav", "B Room.wav", "notes.txt", "C Plate.flac"})
        std::ofstream(folder.path() / name) << "x";
    EditorFixture f;
    set_auto_pair_ts_in_registry(1);
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    auto file = [&](int id) {
        char path[program_path_size + 1] = {};
        f.host.get_custom_data(id, path, program_path_size);
        return std::filesystem::path(path).filename().string();
    };
    ASSERT_TRUE(f.host.set_ir_file(1, 0, (folder.path() / "B Room.wav").string()));
    auto click = [&](char const* id) {
        ui::CWidget* arrow = f.root().find(id);
        ASSERT_NE(arrow, nullptr) << id;
        Pointer{f.root()}.click(centre_of(*arrow));
    };
    click("file-next:ir1_a");
    EXPECT_EQ(file(custom_data::ir1_file_a), "C Plate.flac");
    click("file-next:ir1_a"); // the last: it stays
    EXPECT_EQ(file(custom_data::ir1_file_a), "C Plate.flac");
    click("file-previous:ir1_a");
    click("file-previous:ir1_a");
    EXPECT_EQ(file(custom_data::ir1_file_a), "A Hall R.wav");
    EXPECT_EQ(file(custom_data::ir1_file_a + 1), ""); // Parallel Stereo: no pairing

    f.host.set_parameter("ir1_topology", 1.0f / 3.0f); // True Stereo
    f.view->idle();
    click("file-next:ir1_a");
    click("file-previous:ir1_a"); // back to the right file, whose partner is the left one
    EXPECT_EQ(file(custom_data::ir1_file_a), "A Hall R.wav");
    EXPECT_EQ(file(custom_data::ir1_file_a + 1), "A Hall L.wav");
}

} // namespace
