// The IR visualisation panel: the engine's display rows against a reference reduction, band
// dragging on the equaliser views, file drops, channel selection and off-screen rendering.
#include "editor_test_support.h"

#include "editor/vis_panel.h"
#include "engine/ir_display.h"
#include "editor/ui/offscreen.h"
#include "editor/ui/tabs.h"
#include "platform/settings_store.h"
#include "support/message_recorder.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace corvella;
using corvella::test::EditorFixture;
using corvella::test::Pointer;
using editor::CVisPanel;
using editor::VisView;

// ---------------------------------------------------------------------------------------------
// Display rows

// Reference: columns of max(floor(n / 556), 1) samples, the largest clipped magnitude of each as
// a height where the floor is 0 and 0 dB is `height`.
std::vector<double> reference_row(std::vector<float> const& x, int floor_db)
{
    int const width = 556, height = 180;
    std::size_t const per = std::max<std::size_t>(x.size() / width, 1);
    std::vector<double> row(width, 0.0);
    for (std::size_t c = 0; c < width && c * per < x.size(); ++c) {
        double peak = 0;
        for (std::size_t i = c * per; i < std::min((c + 1) * per, x.size()); ++i)
            peak = std::max(peak, std::min(1.0, std::fabs(static_cast<double>(x[i]))));
        double const db = peak <= std::pow(10.0, floor_db / 20.0) ? floor_db : 20.0 * std::log10(peak);
        row[c] = (db - floor_db) / -floor_db * height;
    }
    return row;
}

struct RowCase {
    char const* name;
    int length;
    int floor_db;
    int samples_per_column;
};

TEST(IrVisDisplay, RowsMatchTheReferenceReduction)
{
    RowCase const cases[] = {
        {"1 s at 44.1 kHz", 44100, -80, 79},
        {"shorter than a row", 300, -100, 1},
        {"exactly one per column", 556, -120, 1},
        {"long, 32-bit floor", 200000, -120, 359},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.3f, 1.3f); // some samples above full scale
    for (RowCase const& c : cases) {
        std::vector<float> x(static_cast<std::size_t>(c.length));
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = noise(random) * std::exp(-8.0f * static_cast<float>(i) / static_cast<float>(x.size()));
        // One marked peak in column 3 tells the column width.
        x[static_cast<std::size_t>(3 * c.samples_per_column)] = 1.0f;
        std::vector<float> row(556, -1.0f);
        create_ir_vis_display(row.data(), x.data(), 556, 180, c.length, c.floor_db);
        std::vector<double> const want = reference_row(x, c.floor_db);
        EXPECT_EQ(std::max(c.length / 556, 1), c.samples_per_column) << c.name;
        for (int i = 0; i < 556; ++i) ASSERT_NEAR(row[static_cast<std::size_t>(i)], want[static_cast<std::size_t>(i)], 1e-3) << c.name << " column " << i;
    }
}

TEST(IrVisDisplay, HalfScaleSampleIsAbout166Of180AboveA80DbFloor)
{
    std::vector<float> x(556, 0.0f);
    x[10] = 0.5f; // -6.02 dB
    std::vector<float> row(556);
    create_ir_vis_display(row.data(), x.data(), 556, 180, 556, -80);
    EXPECT_NEAR(row[10], (80.0 - 6.0206) / 80.0 * 180.0, 0.01);
    EXPECT_NEAR(row[10], 166.4, 0.1);
    EXPECT_EQ(row[11], 0.0f); // silence sits on the floor
}

TEST(IrVisDisplay, FloorFollowsTheBitDepth)
{
    struct Case {
        int bits, floor_db;
    } const cases[] = {{32, -120}, {24, -100}, {20, -90}, {16, -80}, {8, -80}};
    for (Case const& c : cases) EXPECT_EQ(calc_db_draw_level(c.bits), c.floor_db) << c.bits << " bits";
}

// ---------------------------------------------------------------------------------------------
// Band dragging

// The gain taper of the equalisers inverted: x = 2v - 1, z = log10(9x + 1) or -log10(1 - 9x),
// u = (z + 1) / 2.
float unextend(double v)
{
    double const x = 2 * v - 1;
    double const z = x > 0 ? std::log10(9 * x + 1) : -std::log10(1 - 9 * x);
    return static_cast<float>((z + 1) / 2);
}

struct EqFixture : EditorFixture {
    CVisPanel& panel;
    EqFixture() : panel(view->vis_panel())
    {
        EXPECT_TRUE(view->select_page("IR1 EQ/1-5"));
        EXPECT_EQ(panel.view(), VisView::ir1_eq);
    }
    ui::Point root_of(ui::Point local) const { return panel.to_root(local); }
};

TEST(VisPanelEq, DragSetsTheBandByTheRulesAndSwitchesTheBandAndTheEqOn)
{
    EqFixture f;
    ASSERT_EQ(f.host.get_parameter("ir1_flt3_toggle"), 0.0f);
    ASSERT_EQ(f.host.get_parameter("ir1_flt_master_toggle"), 0.0f);
    double const w = f.panel.eq_plot_width(), h = f.panel.eq_plot_height();
    Pointer p{f.root()};
    p.down(f.root_of(f.panel.band_handle(2)));
    ui::Point const to{0.4 * w, 0.3 * h};
    p.move(f.root_of(to));
    EXPECT_NEAR(f.host.get_parameter("ir1_flt3_freq"), (to.x - 30) / (w - 30), 1e-5);
    EXPECT_NEAR(f.host.get_parameter("ir1_flt3_gain"), unextend(1 - to.y / h), 1e-5);
    p.up(f.root_of(to));
    EXPECT_EQ(f.host.get_parameter("ir1_flt3_toggle"), 1.0f);
    EXPECT_EQ(f.host.get_parameter("ir1_flt_master_toggle"), 1.0f);
    EXPECT_EQ(f.binding->open_gestures(), 0);
    EXPECT_EQ(f.binding->finished_gestures(), 4); // freq, gain, band switch, master switch
    // Outside the plot nothing moves: x left of 30, y below h.
    float const freq = f.host.get_parameter("ir1_flt3_freq"), gain = f.host.get_parameter("ir1_flt3_gain");
    p.down(f.root_of(f.panel.band_handle(2)));
    p.move(f.root_of({10, h + 6}));
    p.up(f.root_of({10, h + 6}));
    EXPECT_EQ(f.host.get_parameter("ir1_flt3_freq"), freq); // the pick itself moves nothing
    EXPECT_EQ(f.host.get_parameter("ir1_flt3_gain"), gain);
}

TEST(VisPanelEq, AltShiftAndRightButtonDragsChangeNothing)
{
    struct Case {
        char const* name;
        unsigned down_mods, drag_mods;
        ui::Button button;
    } const cases[] = {
        {"alt drag", 0, ui::mod::alt, ui::Button::left},
        {"shift drag", 0, ui::mod::shift, ui::Button::left},
        {"alt click and drag", ui::mod::alt, ui::mod::alt, ui::Button::left},
        {"right button", 0, 0, ui::Button::right},
    };
    for (Case const& c : cases) {
        EqFixture f;
        float const before[3] = {f.host.get_parameter("ir1_flt3_freq"), f.host.get_parameter("ir1_flt3_gain"),
                                 f.host.get_parameter("ir1_flt3_toggle")};
        Pointer p{f.root()};
        ui::Point const to{0.6 * f.panel.eq_plot_width(), 0.2 * f.panel.eq_plot_height()};
        p.down(f.root_of(f.panel.band_handle(2)), c.down_mods, c.button);
        p.move(f.root_of(to), c.drag_mods);
        p.up(f.root_of(to), c.drag_mods, c.button);
        EXPECT_EQ(f.host.get_parameter("ir1_flt3_freq"), before[0]) << c.name;
        EXPECT_EQ(f.host.get_parameter("ir1_flt3_gain"), before[1]) << c.name;
        EXPECT_EQ(f.host.get_parameter("ir1_flt3_toggle"), before[2]) << c.name;
        EXPECT_EQ(f.binding->value_sets(), 0) << c.name;
    }
}

TEST(VisPanelEq, ControlDragMovesAnEighthFromWhereControlWasPressed)
{
    EqFixture f;
    double const w = f.panel.eq_plot_width(), h = f.panel.eq_plot_height();
    Pointer p{f.root()};
    p.down(f.root_of(f.panel.band_handle(2)));
    ui::Point const a{0.5 * w, 0.5 * h};
    p.move(f.root_of(a));                               // full speed to a
    p.move(f.root_of(a), ui::mod::control);             // Control pressed at a
    p.move(f.root_of({a.x + 80, a.y - 40}), ui::mod::control); // 80 right and 40 up: 10 and 5
    EXPECT_NEAR(f.host.get_parameter("ir1_flt3_freq"), (a.x + 10 - 30) / (w - 30), 1e-5);
    EXPECT_NEAR(f.host.get_parameter("ir1_flt3_gain"), unextend(1 - (a.y - 5) / h), 1e-5);
    p.up(f.root_of({a.x + 80, a.y - 40}));
    EXPECT_EQ(f.binding->open_gestures(), 0);
}

// ---------------------------------------------------------------------------------------------
// File drops

std::string file_a(EditorFixture& f, int id = custom_data::ir1_file_a)
{
    char path[program_path_size + 1] = {};
    f.host.get_custom_data(id, path, program_path_size);
    return path;
}

TEST(VisPanelDrop, RefusedPathsChangeNothing)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    f.host.set_parameter("ir1_toggle", 0.0f);
    std::string const before = file_a(f);
    for (char const* path : {"/tmp/hall.mp3", "/tmp/hall.txt", "/tmp/hall.wav.bak", "/tmp/hallwav", ".wav", "",
                             "/tmp/a.fi"}) {
        EXPECT_FALSE(f.view->drop_files({path})) << path;
        EXPECT_EQ(file_a(f), before) << path;
        EXPECT_EQ(f.host.get_parameter("ir1_toggle"), 0.0f) << path;
    }
    EXPECT_EQ(f.binding->value_sets(), 0);
}

TEST(VisPanelDrop, ExtensionsAreAcceptedWhateverTheirCase)
{
    for (char const* path : {"/x/a.WAV", "/x/a.Flac", "/x/a.aiff", "/x/a.aif", "/x/a.SDIR", "/x/a.sd2", "/x/a.wir",
                             "/x/a.fir", "a.wav"})
        EXPECT_TRUE(editor::is_ir_drop_path(path)) << path;
}

TEST(VisPanelDrop, LeftFileOnTheIr1DisplayLoadsThePairAndSwitchesIr1On)
{
    test::TempDir folder;
    for (char const* name : {"Hall L.wav", "Hall R.wav"}) std::ofstream(folder.path() / name) << "x";
    EditorFixture f;
    set_auto_pair_ts_in_registry(1);
    f.host.set_parameter("ir1_topology", editor::topology_unity(1));
    f.host.set_parameter("ir1_toggle", 0.0f);
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    int loaded = 0;
    f.view->on_ir_file_loaded = [&] { ++loaded; };
    EXPECT_TRUE(f.view->drop_files({(folder.path() / "Hall L.wav").string()}));
    EXPECT_EQ(file_a(f), (folder.path() / "Hall L.wav").string());
    EXPECT_EQ(file_a(f, 15), (folder.path() / "Hall R.wav").string());
    EXPECT_EQ(f.host.get_parameter("ir1_toggle"), 1.0f);
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(f.binding->open_gestures(), 0);
}

TEST(VisPanelDrop, TopologyFollowsTheFile)
{
    test::TempDir folder;
    for (char const* name : {"Hall L.wav", "Hall R.wav", "Room.wav", "Stack.fir"})
        std::ofstream(folder.path() / name) << "x";
    struct Case {
        char const* file;
        int from, to;
    } const cases[] = {
        {"Stack.fir", 0, 3},  {"Room.wav", 3, 0},   {"Hall L.wav", 0, 1},
        {"Hall L.wav", 3, 1}, {"Room.wav", 2, 2},   {"Room.wav", 1, 1},
    };
    for (Case const& c : cases) {
        EditorFixture f;
        set_auto_pair_ts_in_registry(1);
        f.host.set_parameter("ir2_topology", editor::topology_unity(c.from));
        EXPECT_TRUE(f.view->load_ir_file(2, (folder.path() / c.file).string()));
        EXPECT_EQ(editor::topology_of(f.host.get_parameter("ir2_topology")), c.to) << c.file << " from " << c.from;
        EXPECT_EQ(file_a(f, 16), (folder.path() / c.file).string());
    }
}

TEST(VisPanelDrop, DropInAnEqViewDoesNothing)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("Post EQ/1-5"));
    std::string const before = file_a(f);
    EXPECT_TRUE(f.view->drop_files({"/tmp/some.wav"}));
    EXPECT_EQ(file_a(f), before);
    EXPECT_EQ(file_a(f, 16), "");
    EXPECT_EQ(f.binding->value_sets(), 0);
}

// A corrupt file falls back to the default IR; the loader's message reaches the message sink. (A
// general-format file the loader has opened fails silently, so the corrupt file here is a ".wir".)
TEST(VisPanelDrop, CorruptFileReportsTheLoaderMessage)
{
    test::TempDir folder;
    auto const path = folder.path() / "broken.wir";
    std::ofstream(path) << "this is no impulse response at all, only text in a container's name";
    test::MessageRecorder messages;
    EditorFixture f;
    ASSERT_TRUE(f.host.wait_until_idle());
    messages.clear();
    ASSERT_TRUE(f.view->select_page("SplitMod/IR1"));
    EXPECT_TRUE(f.view->drop_files({path.string()}));
    ASSERT_TRUE(f.host.wait_until_idle());
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last().text,
              "File loading error (IRx-A), WIR import found an unrecognised file. Setting default IR.");
}

// ---------------------------------------------------------------------------------------------
// IR views

// A two-channel build, so that the B labels have no channel behind them.
void build_stereo_ir(EditorFixture& f, test::TempDir& folder)
{
    test::PlanarAudio ir(2, std::vector<float>(9600));
    for (std::size_t i = 0; i < ir[0].size(); ++i) {
        ir[0][i] = 0.8f * std::exp(-static_cast<float>(i) / 1500.0f) * ((i % 3) ? 1.0f : -1.0f);
        ir[1][i] = 0.6f * std::exp(-static_cast<float>(i) / 1000.0f) * ((i % 4) ? -1.0f : 1.0f);
    }
    auto const file = folder.path() / "small.wav";
    ASSERT_TRUE(test::write_planar_wav(file, ir, 48000));
    ASSERT_TRUE(f.host.set_ir_file(1, 0, file.string()));
    ASSERT_TRUE(f.host.wait_until_idle());
    f.host.wake_up();
    f.view->idle();
}

TEST(VisPanelIr, LabelsFollowTheTopology)
{
    EditorFixture f;
    ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
    CVisPanel& panel = f.view->vis_panel();
    std::vector<std::string> const plain = {"IR1: All", "IR1-A: L", "IR1-A: R", "IR1-B: L", "IR1-B: R"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(panel.selection_label(i), plain[static_cast<std::size_t>(i)]);
    f.host.set_parameter("ir2_topology", editor::topology_unity(3));
    ASSERT_TRUE(f.view->select_page("IR2 Edit/File"));
    std::vector<std::string> const fusion = {"FIR2: All", "FIR2: LL", "FIR2: LR", "FIR2: RL", "FIR2: RR"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(panel.selection_label(i), fusion[static_cast<std::size_t>(i)]);
}

TEST(VisPanelIr, ClickingLabelsSelectsChannelsByTheMode)
{
    struct Case {
        int mode;
        std::vector<int> clicks;
        unsigned want;
    } const cases[] = {
        {0, {2}, 0b01},       // Multiple: A R off, A L stays
        {0, {2, 2}, 0b11},    // and on again
        {0, {1, 2}, 0b11},    // both off gives all again
        {0, {2, 4}, 0b01},    // a channel the IR has not: nothing
        {1, {2}, 0b10},       // one at a time
        {1, {2, 1}, 0b01},
        {1, {2, 0}, 0b11},    // "All"
    };
    test::TempDir folder;
    for (Case const& c : cases) {
        editor::EditorOptions options{0, 0, 0, 0, c.mode};
        EditorFixture f(options);
        build_stereo_ir(f, folder);
        ASSERT_TRUE(f.view->select_page("IR1 Edit/File"));
        CVisPanel& panel = f.view->vis_panel();
        for (int i : c.clicks) Pointer{f.root()}.click(test::centre_of(panel, panel.selection_label_rect(i)));
        EXPECT_EQ(panel.selection(1) & 0b11, c.want) << "mode " << c.mode << ", clicks " << c.clicks.size();
    }
}

TEST(VisPanelIr, IdleRedrawsOnlyWhenSomethingChanged)
{
    test::TempDir folder;
    EditorFixture f;
    build_stereo_ir(f, folder);
    CVisPanel& panel = f.view->vis_panel();
    ASSERT_TRUE(f.view->select_page("SplitMod/IR1"));
    f.view->idle();
    ui::render(f.root(), 1);
    int const rebuilds = panel.rebuild_count();
    for (int i = 0; i < 5; ++i) {
        f.host.wake_up();
        f.view->idle();
        ui::render(f.root(), 1);
    }
    EXPECT_EQ(panel.rebuild_count(), rebuilds);
    f.host.set_parameter("pitch_mod_ir1_split_point", 0.7f);
    f.view->idle();
    EXPECT_TRUE(panel.oc_dirty());
    ui::render(f.root(), 1);
    EXPECT_EQ(panel.rebuild_count(), rebuilds + 1);
}

// ---------------------------------------------------------------------------------------------
// Rendering and layout

TEST(VisPanelRender, EveryViewRendersAtEachScale)
{
    struct Page {
        char const* path;
        VisView view;
    } const pages[] = {
        {"IR1 Edit/File", VisView::ir1_display}, {"IR2 Edit/File", VisView::ir2_display},
        {"IR1 EQ/1-5", VisView::ir1_eq},         {"IR2 EQ/2", VisView::ir2_eq},
        {"Post EQ/1-5", VisView::post_eq},       {"SplitMod/IR1", VisView::ir1_split_mod},
        {"SplitMod/IR2", VisView::ir2_split_mod},
    };
    test::TempDir folder;
    EditorFixture f;
    build_stereo_ir(f, folder);
    f.host.set_parameter("ir2_topology", editor::topology_unity(3)); // a Fusion view: no split line
    CVisPanel& panel = f.view->vis_panel();
    for (Page const& page : pages)
        for (double scale : {1.0, 1.5, 2.0}) {
            ASSERT_TRUE(f.view->select_page(page.path));
            EXPECT_EQ(panel.view(), page.view) << page.path;
            int const before = panel.rebuild_count();
            ui::CImage const image = ui::render(f.root(), scale);
            EXPECT_EQ(panel.rebuild_count(), before + 1) << page.path << " at " << scale;
            EXPECT_FALSE(panel.take_draw_error().has_value()) << page.path << " at " << scale;
            // Something was drawn inside the panel: its centre row is not one flat colour.
            ui::Rect const r = panel.to_root(panel.bounds());
            int const y = static_cast<int>((r.y + r.h * 0.5) * scale);
            std::uint32_t const first = image.pixel(static_cast<int>((r.x + 40) * scale), y);
            bool varied = false;
            for (double x = r.x + 40; x < r.right() - 4 && !varied; x += 1)
                varied = image.pixel(static_cast<int>(x * scale), y) != first;
            EXPECT_TRUE(varied) << page.path << " at " << scale;
        }
}

// Nothing of a page reaches below the main tab view, and the panel ends above it.
TEST(VisPanelRender, PagesFitBelowThePanel)
{
    EditorFixture f;
    ui::CWidget& panel = f.view->vis_panel();
    ui::CWidget* tabs = nullptr;
    for (auto const& child : f.root().children())
        if (dynamic_cast<ui::CTabs*>(child.get()) && child->frame().y > panel.frame().y && !tabs) tabs = child.get();
    ASSERT_NE(tabs, nullptr);
    EXPECT_LE(panel.frame().bottom(), tabs->frame().y);
    double const limit = tabs->frame().bottom();
    std::function<void(ui::CWidget&)> walk = [&](ui::CWidget& w) {
        for (auto const& c : w.children()) {
            EXPECT_LE(c->to_root(c->bounds()).bottom(), limit + 0.5) << c->id();
            walk(*c);
        }
    };
    walk(*tabs);
    EXPECT_LE(limit, editor::CEditorView::height - 150); // the lower pane keeps its 150 units
}

} // namespace
