// Simulated input on the Corvella pages reaching the parameters through the host layer, and host
// changes coming back to the controls.
#include "editor_test_support.h"

#include "editor/ui/menu.h"
#include "editor/ui/step_switch.h"
#include "editor/ui/value_control.h"
#include "platform/settings_store.h"
#include "program/parameter_table.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace corvella;
using corvella::test::centre_of;
using corvella::test::EditorFixture;
using corvella::test::Pointer;

editor::EditorOptions linear_dials()
{
    return {0, 2, 0, 0};
}

void paint_and_forget(ui::CRoot& root)
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1040, 760);
    cairo_t* cr = cairo_create(s);
    root.draw(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

TEST(EditorInput, KnobDragReachesTheParameterAsOneGesture)
{
    EditorFixture f(linear_dials());
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    ui::CValueControl* decay = f.view->control("ir1_adshr_d");
    ASSERT_NE(decay, nullptr);
    ui::Point const c = centre_of(*decay);
    Pointer p{f.root()};
    p.down(c);
    p.move({c.x, c.y - 25});
    p.move({c.x, c.y - 50}); // a quarter of the 200-unit linear span
    p.up({c.x, c.y - 50});
    EXPECT_NEAR(f.host.get_parameter("ir1_adshr_d"), 0.25, 1e-4);
    EXPECT_EQ(f.binding->finished_gestures(), 1);
    EXPECT_EQ(f.binding->open_gestures(), 0);
}

TEST(EditorInput, WheelStepsATenthOrAHundredthWithControl)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    ui::CValueControl* decay = f.view->control("ir1_adshr_d");
    ASSERT_NE(decay, nullptr);
    float const start = f.host.get_parameter("ir1_adshr_d");
    Pointer p{f.root()};
    p.wheel(centre_of(*decay), 1);
    EXPECT_NEAR(f.host.get_parameter("ir1_adshr_d"), start + 0.1, 1e-5);
    p.wheel(centre_of(*decay), 1, ui::mod::control);
    EXPECT_NEAR(f.host.get_parameter("ir1_adshr_d"), start + 0.11, 1e-5);
}

TEST(EditorInput, AltClickRestoresTheDefaultWithOneValueChange)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("Mixer"));
    f.host.set_parameter("master_gain", 0.8f);
    f.view->idle();
    ui::CValueControl* gain = f.view->control("master_gain");
    ASSERT_NE(gain, nullptr);
    int const sets = f.binding->value_sets();
    Pointer{f.root()}.click(centre_of(*gain), ui::mod::alt);
    EXPECT_FLOAT_EQ(f.host.get_parameter("master_gain"), parameter_at(0)->default_value);
    EXPECT_EQ(f.binding->value_sets(), sets + 1);
}

TEST(EditorInput, SwitchPicksTheModulationOrder)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("Mixer"));
    auto* order = dynamic_cast<ui::CStepSwitch*>(f.view->control("master_mixer_modulation_order"));
    ASSERT_NE(order, nullptr);
    ASSERT_EQ(order->positions(), (std::vector<std::string>{"Mod Pre-IR", "Mod Post-IR"}));
    // The engine runs the mixer before the convolvers while the order is above 0.
    Pointer{f.root()}.click(centre_of(*order, order->row(1)));
    EXPECT_EQ(f.host.get_parameter("master_mixer_modulation_order"), 0.0f);
    Pointer{f.root()}.click(centre_of(*order, order->row(0)));
    EXPECT_EQ(f.host.get_parameter("master_mixer_modulation_order"), 1.0f);
}

TEST(EditorInput, FilterTypeMenuStoresTheModeOfTheChosenType)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 EQ/1"));
    auto* mode = dynamic_cast<ui::CChoiceMenu*>(f.view->control("ir1_flt1_mode", "IR1 EQ/1"));
    ASSERT_NE(mode, nullptr);
    Pointer p{f.root()};
    p.click(centre_of(*mode));
    ASSERT_EQ(f.root().overlays().size(), 1u);
    auto& popup = static_cast<ui::CPopupMenu&>(*f.root().overlays()[0]);
    p.click(centre_of(popup, popup.entry_rect(0))); // "Peak"
    // The band's mode is floor(4u) with 4 = peak.
    EXPECT_EQ(f.host.get_parameter("ir1_flt1_mode"), 1.0f);
    EXPECT_EQ(mode->text(), "Peak");
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
        bool b_controls;
    };
    Case const cases[] = {
        {0, 0.0f, "IR1-A: Hall Left.wav", "IR1-B: Inactive in Parallel Stereo mode", false},
        {1, 1.0f / 3, "IR1-A: Hall Left.wav", "IR1-B: Click eject to load impulse response audio file", true},
        {2, 2.0f / 3, "IR1-A: Hall Left.wav", "IR1-B: Inactive in Mono to Stereo mode", false},
        {3, 1.0f, "FIR1: Hall Left.wav", "", false},
    };
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    auto* topology = dynamic_cast<ui::CChoiceMenu*>(f.view->control("ir1_topology"));
    ASSERT_NE(topology, nullptr);
    for (auto const& c : cases) {
        Pointer p{f.root()};
        p.click(centre_of(*topology));
        auto& popup = static_cast<ui::CPopupMenu&>(*f.root().overlays().at(0));
        p.click(centre_of(popup, popup.entry_rect(c.item)));
        EXPECT_NEAR(f.host.get_parameter("ir1_topology"), c.unity, 1e-6) << c.item;
        EXPECT_EQ(f.view->slot_line(1, 'A'), c.a);
        EXPECT_EQ(f.view->slot_line(1, 'B'), c.b);
        EXPECT_EQ(f.view->b_file_controls_shown(1), c.b_controls);
    }
    char none[corvella::program_path_size] = {};
    f.host.set_custom_data(custom_data::ir1_file_a, none, sizeof none);
    f.view->idle();
    EXPECT_EQ(f.view->slot_line(1, 'A'), "IR1-A: Click eject to load impulse response audio file");
}

TEST(EditorInput, HostChangeRedrawsTheBoundControl)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("Chorus/IR1"));
    ui::CValueControl* wet = f.view->control("chorus_ir1_wet");
    ASSERT_NE(wet, nullptr);
    f.view->idle();
    paint_and_forget(f.root());
    ASSERT_FALSE(f.root().needs_repaint());
    f.host.set_parameter("chorus_ir1_wet", 0.25f);
    f.view->idle();
    EXPECT_FLOAT_EQ(static_cast<float>(wet->value()), 0.25f);
    EXPECT_EQ(wet->text(), "25 %");
    ui::Rect const area = wet->to_root(wet->bounds());
    bool covered = false;
    for (auto const& r : f.root().dirty_rects()) covered = covered || r.intersects(area);
    EXPECT_TRUE(covered);
}

TEST(EditorInput, BusyIndicatorFollowsTheEngineStatus)
{
    EditorFixture f;
    auto status = std::make_unique<EngineStatus>();
    std::memset(status.get(), 0, sizeof *status);
    status->values.reported = 1;
    status->values.ir_rebuild_in_progress = 1;
    f.host.set_custom_data(custom_data::engine_status, status.get(), sizeof *status);
    f.view->idle();
    EXPECT_TRUE(f.view->busy_shown());
    status->values.ir_rebuild_in_progress = 0;
    f.host.set_custom_data(custom_data::engine_status, status.get(), sizeof *status);
    f.view->idle();
    EXPECT_FALSE(f.view->busy_shown());
}

TEST(EditorInput, HighPassTextFollowsItsSwitch)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    ui::CValueControl* hpf = f.view->control("ir1_sts_high_pass_freq");
    ASSERT_NE(hpf, nullptr);
    f.host.set_parameter("ir1_sts_high_pass_freq", 0.0f); // the 20 Hz floor of the EQ taper
    f.host.set_parameter("ir1_sts_high_pass_toggle", 1.0f);
    f.view->idle();
    EXPECT_EQ(hpf->text(), "HPF: 20 Hz");
    f.host.set_parameter("ir1_sts_high_pass_freq", 1.0f); // the 22.05 kHz top
    f.view->idle();
    EXPECT_EQ(hpf->text(), "HPF: 22.1 kHz");
    f.host.set_parameter("ir1_sts_high_pass_toggle", 0.0f);
    f.view->idle();
    EXPECT_EQ(hpf->text(), "HPF: Off");
}

TEST(EditorInput, SourceTypeAndTailMenusWriteTheirProgramSlots)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR2 Edit/Tail"));
    std::int32_t value = -1;
    f.host.get_custom_data(22, &value, 4); // IR2 source type: 2 = algorithmic tail
    EXPECT_EQ(value, 2);
    auto* density = dynamic_cast<ui::CChoiceMenu*>(f.view->control("data:23"));
    ASSERT_NE(density, nullptr);
    Pointer p{f.root()};
    p.click(centre_of(*density));
    auto& popup = static_cast<ui::CPopupMenu&>(*f.root().overlays().at(0));
    p.click(centre_of(popup, popup.entry_rect(1))); // "Grainy"
    f.host.get_custom_data(23, &value, 4);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(density->text(), "Grainy");
}

} // namespace

namespace {

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
    Pointer p{f.root()};
    auto click = [&](char const* id) {
        ui::CWidget* arrow = f.root().find(id);
        ASSERT_NE(arrow, nullptr) << id;
        p.click(centre_of(*arrow));
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
