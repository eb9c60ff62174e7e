// Off-screen rendering of every control at three scales. The PNGs stay in one folder beside the
// test program for a person to look at; the checks make sure each control put something on the
// picture, that pictures change where the state changed (and only there), and that a partial
// repaint of the dirty area gives the same pixels as a full one.
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
#include <string>

namespace {

using namespace corvella::ui;
namespace fs = std::filesystem;

fs::path gallery(std::string const& name, double scale)
{
    static fs::path const folder = [] {
        fs::path p = fs::read_symlink("/proc/self/exe").parent_path() / "editor-ui-gallery";
        fs::create_directories(p);
        std::cout << "UI gallery: " << p.string() << "\n";
        return p;
    }();
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-%gx.png", scale);
    return folder / (name + suffix);
}

// An eject symbol drawn as vectors, and a small bitmap, for the two kinds of clickable picture.
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

CPicture bitmap_icon()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 24, 24);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.9, 0.6, 0.2);
    cairo_arc(cr, 12, 12, 10, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_destroy(cr);
    CPicture picture(s);
    cairo_surface_destroy(s);
    return picture;
}

struct Gallery {
    CRoot root;
    CDial* gain = nullptr;
    CDial* pan = nullptr;
    CToggle* lock = nullptr;
    CChoiceMenu* topology = nullptr;
    CStepSwitch* sw = nullptr;
    std::vector<CWidget*> controls;

    explicit Gallery(CTheme const& theme = themes()[0]) : root(theme)
    {
        root.set_size({720, 260});
        auto& tabs = root.add<CTabs>({0, 0, 720, 260});
        CWidget& page = tabs.add_page("Controls");
        tabs.add_page("Second");

        auto& dials = page.add<CGroupBox>({8, 8, 232, 120}, "Dials");
        gain = &dials.add<CDial>({8, 28, 64, 84});
        gain->set_label("Gain");
        gain->set_formatter([](double v) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.1f dB", -60 + v * 72);
            return std::string(buf);
        });
        gain->set_value(0.3);
        pan = &dials.add<CDial>({84, 28, 64, 84});
        pan->set_label("Balance");
        pan->set_origin(0.5);
        pan->set_accent(1);
        pan->set_value(0.8);
        auto& note = dials.add<CDial>({160, 28, 64, 84});
        note.set_label("Note");
        note.set_steps(4);
        note.set_value(2.0 / 3);

        auto& sliders = page.add<CGroupBox>({248, 8, 232, 120}, "Slider and buttons");
        auto& width = sliders.add<CHSlider>({8, 28, 216, 32});
        width.set_label("Width");
        width.set_value(0.6);
        auto& reverse = sliders.add<CToggle>({8, 80, 100, 24});
        reverse.set_label("Reverse");
        lock = &sliders.add<CToggle>({124, 80, 100, 24});
        lock->set_texts("Lock Off", "Lock On");
        lock->set_value(1);

        auto& switches = page.add<CGroupBox>({488, 8, 224, 120}, "Switch and clickables");
        sw = &switches.add<CStepSwitch>({8, 28, 100, 84});
        sw->set_positions({"Off", "Clear", "Dense", "Full"});
        sw->set_value(2.0 / 3);
        auto& click = switches.add<CClickLabel>({116, 30, 100, 22}, ">");
        auto& vector_picture = switches.add<CClickPicture>({116, 64, 40, 40}, CPicture(eject_icon));
        auto& bitmap_picture = switches.add<CClickPicture>({168, 64, 40, 40}, bitmap_icon());

        auto& menus = page.add<CGroupBox>({8, 136, 352, 96}, "Menus");
        topology = &menus.add<CChoiceMenu>({8, 30, 160, 40});
        topology->set_label("Topology");
        topology->set_entries({MenuEntry::item("Parallel Stereo"), MenuEntry::item("True Stereo"), MenuEntry::line(),
                               MenuEntry::sub("More", {MenuEntry::item("Mono - Stereo"), MenuEntry::item("Fusion IR")})});
        topology->set_value(1.0 / 3);
        auto& commands = menus.add<CChoiceMenu>({184, 44, 160, 26});
        commands.set_title("Commands");
        commands.set_entries(numbered_menu({"Copy", "Paste", "", "Reset"}));

        auto& texts = page.add<CGroupBox>({368, 136, 344, 96}, "Text");
        auto& body = texts.add<CLabel>({8, 28, 328, 18}, "IR1-A: Click eject to load impulse response audio file");
        auto& dim = texts.add<CLabel>({8, 48, 328, 18}, "A dim label, cut when too long for its place on the page");
        dim.set_dim(true);
        auto& warn = texts.add<CLabel>({8, 68, 328, 18}, "Latency: 4096 samples");
        warn.set_warning(true);
        controls = {gain,  pan,   &note,           &width,         &reverse,  lock,  sw,    &click,
                    &vector_picture, &bitmap_picture, topology, &commands, &body, &dim, &warn};
    }
};

// Pixels of `rect` (logical) that differ between two pictures, or from the pixel at `ref`.
int pixels_unlike(CImage const& a, CImage const* b, double scale, Rect const& rect, Point ref = {})
{
    std::uint32_t const bg = a.pixel(static_cast<int>(ref.x * scale), static_cast<int>(ref.y * scale));
    PixelRect const p = to_pixels(rect, scale);
    int n = 0;
    for (int y = p.y; y < p.y + p.h; ++y)
        for (int x = p.x; x < p.x + p.w; ++x) n += a.pixel(x, y) != (b ? b->pixel(x, y) : bg);
    return n;
}

double channel_distance(std::uint32_t p, Colour const& c)
{
    double const r = ((p >> 16) & 0xff) / 255.0, g = ((p >> 8) & 0xff) / 255.0, b = (p & 0xff) / 255.0;
    return std::max({std::abs(r - c.r), std::abs(g - c.g), std::abs(b - c.b)});
}

double const scales[] = {1.0, 1.5, 2.0};

TEST(UiRender, EveryControlDrawsSomethingAndTheDialArcEndsAtItsValueAtEveryScale)
{
    Gallery g;
    CTheme const& t = g.root.current_theme();
    for (double s : scales) {
        CImage const img = render(g.root, s);
        ASSERT_EQ(img.width(), static_cast<int>(std::ceil(720 * s)));
        ASSERT_EQ(img.height(), static_cast<int>(std::ceil(260 * s)));
        EXPECT_TRUE(img.write_png(gallery("controls", s).string()));
        for (CWidget* c : g.controls) {
            Rect const r = c->to_root(c->bounds());
            // Compared with the panel just left of the control, inside its group.
            EXPECT_GT(pixels_unlike(img, nullptr, s, r, {r.x - 3, r.y + 2}), r.w * r.h * s * s * 0.02)
                << "control at " << r.x << "," << r.y << " scale " << s;
        }
        // The value arc starts at the lower left (135 degrees) and sweeps 270 degrees clockwise:
        // short of the value's angle it is the accent, beyond it the track.
        double const v = g.gain->value(), rr = g.gain->radius() - 1;
        Point const c = g.gain->to_root(g.gain->centre());
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
    // Another scheme, another background.
    Gallery light(themes()[6]);
    CImage const other = render(light.root, 1.5);
    EXPECT_TRUE(other.write_png(gallery("controls-light", 1.5).string()));
    EXPECT_NE(other.pixel(4, 380), render(g.root, 1.5).pixel(4, 380));
}

TEST(UiRender, ChangesShowWhereTheyHappenAndRepaintingTheDirtyAreaMatchesAFullRepaint)
{
    for (double s : scales) {
        Gallery g;
        g.root.set_scale(s);
        CImage const before = render(g.root, s);
        CImage const partial = render(g.root, s);
        g.gain->set_value(0.9);
        g.lock->set_value(0);
        g.sw->set_value(0);
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
        EXPECT_EQ(pixels_unlike(partial, &full, s, {0, 0, 720, 260}), 0) << "scale " << s;
        auto changed = [&](CWidget const& w) { return pixels_unlike(before, &full, s, w.to_root(w.bounds())); };
        EXPECT_GT(changed(*g.lock), 100 * s * s);
        EXPECT_GT(changed(*g.gain), 100 * s * s);
        EXPECT_GT(changed(*g.sw), 50 * s * s);
        EXPECT_EQ(changed(*g.topology), 0);
        EXPECT_EQ(changed(*g.pan), 0);
    }
    // Tab past the page's tab bar to the first dial: its focus ring appears.
    Gallery g;
    CImage const unfocused = render(g.root, 1.5);
    g.root.key_down({Key::tab});
    g.root.key_down({Key::tab});
    ASSERT_EQ(g.root.focused(), g.gain);
    CImage const focused = render(g.root, 1.5);
    EXPECT_TRUE(focused.write_png(gallery("focus", 1.5).string()));
    Rect const r = g.gain->to_root(g.gain->bounds());
    EXPECT_GT(pixels_unlike(focused, &unfocused, 1.5, r), 2 * (r.w + r.h));

    // A muted menu (its section off) draws its item dim.
    g.topology->set_muted(true);
    Rect const face = g.topology->to_root(g.topology->bounds());
    EXPECT_GT(pixels_unlike(render(g.root, 1.5), &unfocused, 1.5, {face.x, face.y, face.w - 24, face.h}), 100);
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
    for (double s : scales) EXPECT_TRUE(render(g.root, s).write_png(gallery("menu", s).string()));
    CImage const open = render(g.root, 1);
    for (auto const& o : g.root.overlays())
        EXPECT_GT(pixels_unlike(open, &plain, 1, o->frame()), o->frame().w * o->frame().h * 0.5);
    g.root.key_down({Key::escape});
    g.root.key_down({Key::escape});
    EXPECT_TRUE(g.root.overlays().empty());

    g.root.show_message("Tarnwick: Corvella",
                        "When in true stereo mode and auto pairing is selected,\nloading a true impulse response of "
                        "the format\n<name>Left.<extension> or <name>L.<extension>\nwill result in auto pairing.",
                        Buttons::yes_no, nullptr);
    for (double s : scales) {
        CImage const img = render(g.root, s);
        EXPECT_TRUE(img.write_png(gallery("message", s).string()));
        // The veil darkens the corner of the window.
        std::uint32_t const a = plain.pixel(2, 255), b = img.pixel(static_cast<int>(2 * s), static_cast<int>(255 * s));
        EXPECT_LT(b & 0xff, a & 0xff);
    }
}

} // namespace
