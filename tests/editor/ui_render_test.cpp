// Off-screen rendering of every control at three scales. The PNGs stay in one folder beside the
// test program for a person to look at; the checks make sure each control put something on the
// picture, that pictures change where the state changed, and that a partial repaint of the dirty
// area gives the same pixels as a full one.
#include "editor/ui/dial.h"
#include "editor/ui/label.h"
#include "editor/ui/menu.h"
#include "editor/ui/message_panel.h"
#include "editor/ui/offscreen.h"
#include "editor/ui/slider.h"
#include "editor/ui/step_switch.h"
#include "editor/ui/tabs.h"
#include "editor/ui/toggle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

using namespace corvella::ui;
namespace fs = std::filesystem;

fs::path gallery_folder()
{
    static fs::path const folder = [] {
        fs::path p = fs::read_symlink("/proc/self/exe").parent_path() / "editor-ui-gallery";
        fs::create_directories(p);
        std::cout << "UI gallery: " << p.string() << "\n";
        return p;
    }();
    return folder;
}

std::string decibels(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f dB", -60 + v * 72);
    return buf;
}

// A folder icon drawn as vectors, and the same idea as a small bitmap.
void eject_icon(cairo_t* cr, Rect const& a, CTheme const& t, double)
{
    double const s = std::min(a.w, a.h), x = a.x + (a.w - s) / 2, y = a.y + (a.h - s) / 2;
    set_colour(cr, t.text);
    cairo_move_to(cr, x + s * 0.5, y + s * 0.15);
    cairo_line_to(cr, x + s * 0.85, y + s * 0.55);
    cairo_line_to(cr, x + s * 0.15, y + s * 0.55);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_rectangle(cr, x + s * 0.15, y + s * 0.68, s * 0.7, s * 0.14);
    cairo_fill(cr);
}

cairo_surface_t* bitmap_icon()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 24, 24);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.9, 0.6, 0.2);
    cairo_arc(cr, 12, 12, 10, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_destroy(cr);
    return s;
}

struct Gallery {
    CRoot root;
    CDial* gain = nullptr;
    CDial* pan = nullptr;
    CToggle* lock = nullptr;
    CChoiceMenu* topology = nullptr;
    CTabs* tabs = nullptr;
    std::vector<CWidget*> controls;

    explicit Gallery(CTheme const& theme = themes()[0]) : root(theme)
    {
        root.set_size({720, 448});
        tabs = &root.add<CTabs>({0, 0, 720, 448});
        CWidget& page = tabs->add_page("Controls");
        tabs->add_page("Second");

        auto& dials = page.add<CGroupBox>({8, 8, 232, 120}, "Dials");
        gain = &dials.add<CDial>({8, 28, 64, 84});
        gain->set_label("Gain");
        gain->set_formatter(decibels);
        gain->set_value(0.3);
        pan = &dials.add<CDial>({84, 28, 64, 84});
        pan->set_label("Balance");
        pan->set_origin(0.5);
        pan->set_accent(1);
        pan->set_value(0.8);
        auto& note = dials.add<CDial>({160, 28, 64, 84});
        note.set_label("Note");
        note.set_steps(4);
        note.set_formatter([](double v) { return std::string(v < 0.5 ? (v < 0.2 ? "1/16" : "1/8") : v < 0.9 ? "1/4" : "1/2"); });
        note.set_value(2.0 / 3);
        controls.insert(controls.end(), {gain, pan, &note});

        auto& sliders = page.add<CGroupBox>({248, 8, 232, 120}, "Slider and buttons");
        auto& width = sliders.add<CHSlider>({8, 28, 216, 32});
        width.set_label("Width");
        width.set_value(0.6);
        auto& reverse = sliders.add<CToggle>({8, 80, 100, 24});
        reverse.set_label("Reverse");
        lock = &sliders.add<CToggle>({124, 80, 100, 24});
        lock->set_label("Wet lock");
        lock->set_value(1);
        controls.insert(controls.end(), {&width, &reverse, lock});

        auto& switches = page.add<CGroupBox>({488, 8, 224, 120}, "Switch and clickables");
        auto& sw = switches.add<CStepSwitch>({8, 28, 100, 84});
        sw.set_positions({"Off", "Clear", "Dense", "Full"});
        sw.set_value(2.0 / 3);
        auto& click = switches.add<CClickLabel>({116, 30, 100, 22}, "Sim-TS");
        click.set_steps(3);
        click.set_formatter([](double v) { return std::string(v < 0.25 ? "Sim-TS Off" : v < 0.75 ? "Sim-TS Clear" : "Sim-TS Dense"); });
        auto& vector_picture = switches.add<CClickPicture>({116, 64, 40, 40}, CPicture(eject_icon));
        cairo_surface_t* bmp = bitmap_icon();
        auto& bitmap_picture = switches.add<CClickPicture>({168, 64, 40, 40}, CPicture(bmp));
        cairo_surface_destroy(bmp);
        controls.insert(controls.end(), {&sw, &click, &vector_picture, &bitmap_picture});

        auto& menus = page.add<CGroupBox>({8, 136, 352, 96}, "Menus");
        topology = &menus.add<CChoiceMenu>({8, 30, 160, 40});
        topology->set_label("Topology");
        topology->set_entries({MenuEntry::item("Parallel Stereo"), MenuEntry::item("True Stereo"),
                               MenuEntry::line(),
                               MenuEntry::sub("More", {MenuEntry::item("Mono - Stereo"), MenuEntry::item("Fusion IR")})});
        topology->set_value(1.0 / 3);
        auto& commands = menus.add<CChoiceMenu>({184, 44, 160, 26});
        commands.set_title("Commands");
        commands.set_entries(numbered_menu({"Copy", "Paste", "", "Reset"}));
        controls.insert(controls.end(), {topology, &commands});

        auto& texts = page.add<CGroupBox>({368, 136, 344, 96}, "Text");
        auto& body = texts.add<CLabel>({8, 28, 328, 18}, "IR1-A: Click eject to load impulse response audio file");
        auto& dim = texts.add<CLabel>({8, 48, 328, 18}, "A dim label, cut when too long for its place on the page");
        dim.set_dim(true);
        auto& warn = texts.add<CLabel>({8, 68, 328, 18}, "Latency: 4096 samples");
        warn.set_warning(true);
        controls.insert(controls.end(), {&body, &dim, &warn});

        auto& outer = page.add<CTabs>({8, 240, 704, 176});
        for (std::string slot : {"IR1 EQ", "IR2 EQ"}) {
            CWidget& p = outer.add_page(slot);
            auto& bands = p.add<CTabs>({8, 8, 688, 136});
            for (std::string band : {"1", "2", "3", "4", "5", "1-5"}) {
                CWidget& bp = bands.add_page(band);
                auto& d = bp.add<CDial>({8, 8, 64, 84});
                d.set_label("Freq " + band);
                d.set_value(0.5);
            }
        }
        controls.push_back(&outer);
    }
};

// Counts pixels of `rect` (logical) that differ from the pixel at `ref` (logical).
int pixels_unlike(CImage const& img, double scale, Rect const& rect, Point ref)
{
    std::uint32_t const bg = img.pixel(static_cast<int>(ref.x * scale), static_cast<int>(ref.y * scale));
    PixelRect const p = to_pixels(rect, scale);
    int n = 0;
    for (int y = p.y; y < p.y + p.h; ++y)
        for (int x = p.x; x < p.x + p.w; ++x) n += img.pixel(x, y) != bg;
    return n;
}

double channel_distance(std::uint32_t p, Colour const& c)
{
    double const r = ((p >> 16) & 0xff) / 255.0, g = ((p >> 8) & 0xff) / 255.0, b = (p & 0xff) / 255.0;
    return std::max({std::abs(r - c.r), std::abs(g - c.g), std::abs(b - c.b)});
}

double const scales[] = {1.0, 1.5, 2.0};

std::string scale_name(double s)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%gx", s);
    return buf;
}

TEST(UiRender, EveryControlDrawsSomethingAtEveryScale)
{
    Gallery g;
    for (double s : scales) {
        CImage const img = render(g.root, s);
        ASSERT_EQ(img.width(), static_cast<int>(std::ceil(720 * s)));
        ASSERT_EQ(img.height(), static_cast<int>(std::ceil(448 * s)));
        EXPECT_TRUE(img.write_png((gallery_folder() / ("controls-" + scale_name(s) + ".png")).string()));
        for (CWidget* c : g.controls) {
            Rect const r = c->to_root(c->bounds());
            // Compared with the panel just left of the control, inside its group.
            EXPECT_GT(pixels_unlike(img, s, r, {r.x - 3, r.y + 2}), r.w * r.h * s * s * 0.02)
                << "control at " << r.x << "," << r.y << " scale " << s;
        }
    }
    // A light scheme for comparison, at one scale.
    Gallery light(themes()[6]);
    EXPECT_TRUE(write_png(light.root, 1.5, (gallery_folder() / "controls-light-1.5x.png").string()));
}

TEST(UiRender, DialArcEndsAtTheValueAngleAtEveryScale)
{
    // The value arc starts at the lower left (135 degrees) and sweeps 270 degrees clockwise: just
    // short of the value's angle it is the accent, just beyond it the track.
    Gallery g;
    CTheme const& t = g.root.current_theme();
    for (double s : scales) {
        CImage const img = render(g.root, s);
        double const v = g.gain->value();
        Point const c = g.gain->to_root(g.gain->centre());
        double const rr = g.gain->radius() - 1;
        auto at = [&](double value) {
            double const a = (135 + 270 * value) * M_PI / 180;
            return img.pixel(static_cast<int>(std::lround((c.x + rr * std::cos(a)) * s)),
                             static_cast<int>(std::lround((c.y + rr * std::sin(a)) * s)));
        };
        EXPECT_LT(channel_distance(at(v - 0.05), t.accent), 0.1) << s;
        EXPECT_LT(channel_distance(at(v / 2), t.accent), 0.1) << s;
        EXPECT_LT(channel_distance(at(v + 0.05), t.track), 0.1) << s;
        EXPECT_LT(channel_distance(at(0.95), t.track), 0.1) << s;
    }
}

TEST(UiRender, StateChangesShowWhereTheyHappen)
{
    Gallery g;
    CImage const before = render(g.root, 1);
    g.lock->set_value(0);
    g.gain->set_value(0.9);
    CImage const after = render(g.root, 1);
    auto changed = [&](CWidget const& w) {
        Rect const r = w.to_root(w.bounds());
        int n = 0;
        PixelRect const p = to_pixels(r, 1);
        for (int y = p.y; y < p.y + p.h; ++y)
            for (int x = p.x; x < p.x + p.w; ++x) n += before.pixel(x, y) != after.pixel(x, y);
        return n;
    };
    EXPECT_GT(changed(*g.lock), 100);
    EXPECT_GT(changed(*g.gain), 100);
    EXPECT_EQ(changed(*g.topology), 0);
    EXPECT_EQ(changed(*g.pan), 0);

    // Tab past the page's tab bar to the first dial: its focus ring appears.
    g.root.key_down({Key::tab});
    g.root.key_down({Key::tab});
    ASSERT_EQ(g.root.focused(), g.gain);
    CImage const focused = render(g.root, 1.5);
    EXPECT_TRUE(focused.write_png((gallery_folder() / "focus-1.5x.png").string()));
    CImage const after_at_scale = [&] {
        g.root.set_focus(nullptr);
        return render(g.root, 1.5);
    }();
    Rect const r = g.gain->to_root(g.gain->bounds());
    PixelRect const p = to_pixels(r, 1.5);
    int ring = 0;
    for (int y = p.y; y < p.y + p.h; ++y)
        for (int x = p.x; x < p.x + p.w; ++x) ring += focused.pixel(x, y) != after_at_scale.pixel(x, y);
    EXPECT_GT(ring, 2 * (r.w + r.h));

    Gallery light(themes()[6]);
    CImage const other = render(light.root, 1);
    EXPECT_NE(other.pixel(4, 400), before.pixel(4, 400)); // another scheme, another background
}

TEST(UiRender, RepaintingOnlyTheDirtyAreaMatchesAFullRepaint)
{
    for (double s : scales) {
        Gallery g;
        g.root.set_scale(s);
        CImage const partial = render(g.root, s);
        g.gain->set_value(0.75);
        g.lock->set_value(0);
        ASSERT_TRUE(g.root.needs_repaint());
        cairo_t* cr = cairo_create(partial.surface());
        for (Rect const& d : g.root.dirty_rects()) {
            PixelRect const p = to_pixels(d, s);
            cairo_rectangle(cr, p.x, p.y, p.w, p.h);
        }
        cairo_clip(cr);
        g.root.draw(cr);
        cairo_destroy(cr);
        EXPECT_FALSE(g.root.needs_repaint());
        CImage const full = render(g.root, s);
        int differing = 0;
        for (int y = 0; y < full.height(); ++y)
            for (int x = 0; x < full.width(); ++x) differing += partial.pixel(x, y) != full.pixel(x, y);
        EXPECT_EQ(differing, 0) << "scale " << s;
    }
}

TEST(UiRender, OpenMenuWithSubMenuAndMessageBoxCoverTheirAreas)
{
    Gallery g;
    CImage const plain = render(g.root, 1);
    g.topology->open();
    ASSERT_EQ(g.root.overlays().size(), 1u);
    auto& menu = static_cast<CPopupMenu&>(*g.root.overlays()[0]);
    Rect const more = menu.to_root(menu.entry_rect(3));
    g.root.mouse_move(more.x + 10, more.y + more.h / 2, 0);
    ASSERT_EQ(g.root.overlays().size(), 2u);
    for (double s : scales) {
        CImage const img = render(g.root, s);
        EXPECT_TRUE(img.write_png((gallery_folder() / ("menu-" + scale_name(s) + ".png")).string()));
        for (auto const& o : g.root.overlays()) {
            Rect const r = o->frame();
            int n = 0;
            PixelRect const p = to_pixels(r, 1);
            CImage const one = render(g.root, 1);
            for (int y = p.y; y < p.y + p.h; ++y)
                for (int x = p.x; x < p.x + p.w; ++x) n += one.pixel(x, y) != plain.pixel(x, y);
            EXPECT_GT(n, r.w * r.h * 0.5);
        }
    }
    g.root.key_down({Key::escape});
    g.root.key_down({Key::escape});
    EXPECT_TRUE(g.root.overlays().empty());

    g.root.show_message("Tarnwick: Corvella",
                        "When in true stereo mode and auto pairing is selected,\nloading a true impulse response of "
                        "the format\n<name>Left.<extension> or <name>L.<extension>\nwill result in auto pairing.",
                        Buttons::yes_no, nullptr);
    for (double s : scales) {
        CImage const img = render(g.root, s);
        EXPECT_TRUE(img.write_png((gallery_folder() / ("message-" + scale_name(s) + ".png")).string()));
        // The veil darkens the corner of the window.
        std::uint32_t const a = plain.pixel(2, 440), b = img.pixel(static_cast<int>(2 * s), static_cast<int>(440 * s));
        EXPECT_LT(b & 0xff, a & 0xff);
    }
}

} // namespace
