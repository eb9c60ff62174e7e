// Simulated input without a display: each test drives the root as a window would (pixels,
// modifiers) and checks the control's value against a small model of the intended behaviour and
// the gesture callbacks a host records automation from.
#include "editor/ui/dial.h"
#include "editor/ui/label.h"
#include "editor/ui/menu.h"
#include "editor/ui/message_panel.h"
#include "editor/ui/slider.h"
#include "editor/ui/step_switch.h"
#include "editor/ui/tabs.h"
#include "editor/ui/toggle.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace corvella::ui;
using corvella::test::centre_of;
using corvella::test::GestureLog;
using corvella::test::Pointer;

struct Page {
    CRoot root;
    Pointer pointer{root};
    explicit Page(double scale = 1)
    {
        root.set_size({400, 300});
        root.set_scale(scale);
    }
    CDial& dial(Rect const& r = {40, 40, 64, 84}) { return root.add<CDial>(r); }
};

// The value a circular dial shows for a pointer at `p` around centre `c`: the arc starts at 135
// degrees (lower left) and runs 270 degrees clockwise.
double circular_model(Point c, Point p)
{
    double deg = std::atan2(p.y - c.y, p.x - c.x) * 180 / M_PI - 135;
    while (deg < 0) deg += 360;
    return deg / 270;
}

TEST(UiInput, KnobDragFollowsTheDialModeAtEveryScale)
{
    struct Case {
        DialMode mode;
        double scale;
        unsigned mods;
    };
    Case const cases[] = {{DialMode::linear, 1, 0},          {DialMode::linear, 2, 0},
                          {DialMode::linear, 1.5, mod::shift}, {DialMode::circular, 1, 0},
                          {DialMode::circular, 2, 0},          {DialMode::relative_circular, 1.5, 0},
                          {DialMode::relative_circular, 1, mod::shift}};
    for (Case const& k : cases) {
        Page page(k.scale);
        page.root.options().dial_mode = k.mode;
        auto& dial = page.dial({20, 20, 64, 84});
        dial.set_value(0.2);
        GestureLog log;
        log.attach(dial);
        Point const c = dial.to_root(dial.centre());
        double const r = dial.radius();
        Point const top{c.x, c.y - r * 0.8}, right{c.x + r * 0.8, c.y};
        double expected = 0;
        if (k.mode == DialMode::linear) {
            // 40 units up and 10 right over a 200-unit span; a tenth of that when fine.
            page.pointer.down(c, k.mods);
            page.pointer.move({c.x + 5, c.y - 20}, k.mods);
            page.pointer.move({c.x + 10, c.y - 40}, k.mods);
            page.pointer.up({c.x + 10, c.y - 40}, k.mods);
            expected = 0.2 + 50.0 / 200 * (k.mods ? 0.1 : 1);
        } else if (k.mode == DialMode::circular) {
            page.pointer.down(top);
            EXPECT_NEAR(dial.value(), circular_model(c, top), 1e-9);
            page.pointer.move(right);
            page.pointer.up(right);
            expected = circular_model(c, right);
        } else {
            // A quarter turn clockwise from wherever the press was adds 90/270.
            page.pointer.down(top, k.mods);
            EXPECT_EQ(dial.value(), 0.2);
            page.pointer.move({c.x + r * 0.56, c.y - r * 0.56}, k.mods);
            page.pointer.move(right, k.mods);
            page.pointer.up(right, k.mods);
            expected = 0.2 + 90.0 / 270 * (k.mods ? 0.1 : 1);
        }
        EXPECT_NEAR(dial.value(), expected, 1e-9) << static_cast<int>(k.mode) << " at " << k.scale;
        EXPECT_TRUE(log.one_gesture_ending_at(dial.value())) << static_cast<int>(k.mode);
        EXPECT_EQ(page.root.captured(), nullptr);
    }
    // A circular drag from near the top end through the bottom gap does not jump to the low end.
    Page page;
    auto& dial = page.dial({20, 20, 64, 84});
    Point const c = dial.to_root(dial.centre());
    double const r = dial.radius() * 0.8, high = (135 + 270 * 0.95) * M_PI / 180;
    page.pointer.down({c.x + r * std::cos(high), c.y + r * std::sin(high)});
    page.pointer.move({c.x - 2, c.y + r});
    page.pointer.move({c.x - r * 0.7, c.y + r * 0.7});
    page.pointer.up({c.x - r * 0.7, c.y + r * 0.7});
    EXPECT_GT(dial.value(), 0.9);
}

TEST(UiInput, WheelStepsByATenthOfTheIncrementOrAHundredthWhenFine)
{
    struct Case {
        unsigned mods;
        double notches, expected;
    };
    // Increment 0.5: a notch is 0.05, fine 0.005, from 0.5.
    Case const cases[] = {{0, 1, 0.55}, {0, -2, 0.4}, {mod::shift, 1, 0.505}, {mod::control, -1, 0.495}};
    for (Case const& k : cases) {
        Page page(1.5);
        auto& slider = page.root.add<CHSlider>({20, 20, 200, 32});
        slider.set_wheel_increment(0.5);
        slider.set_value(0.5);
        GestureLog log;
        log.attach(slider);
        page.pointer.wheel(centre_of(slider), k.notches, k.mods);
        EXPECT_NEAR(slider.value(), k.expected, 1e-12);
        EXPECT_TRUE(log.one_gesture_ending_at(slider.value()));
    }
    // A stepped control moves one position per notch, fine or not.
    Page page;
    auto& dial = page.dial();
    dial.set_steps(5);
    page.pointer.wheel(centre_of(dial), 1, mod::shift);
    EXPECT_EQ(dial.value(), 0.25);
}

TEST(UiInput, AltClickRestoresTheDefaultAsOneGestureOnEveryKind)
{
    Page page;
    auto& dial = page.dial({0, 0, 64, 84});
    auto& toggle = page.root.add<CToggle>({80, 40, 80, 24});
    auto& sw = page.root.add<CStepSwitch>({0, 100, 80, 80});
    sw.set_positions({"a", "b", "c"});
    auto& menu = page.root.add<CChoiceMenu>({100, 100, 120, 24});
    menu.set_entries({MenuEntry::item("x"), MenuEntry::item("y"), MenuEntry::item("z")});
    auto& slider = page.root.add<CHSlider>({80, 0, 200, 32});
    for (CValueControl* c : std::initializer_list<CValueControl*>{&dial, &slider, &toggle, &sw, &menu}) {
        c->set_default_value(0.5);
        c->set_value(c == &toggle ? 0 : 1);
        GestureLog log;
        log.attach(*c);
        double const expected = c == &toggle ? 1 : 0.5; // a toggle's default rounds to "on"
        page.pointer.click(centre_of(*c), mod::alt);
        EXPECT_EQ(c->value(), expected);
        EXPECT_TRUE(log.one_gesture_ending_at(expected));
        page.pointer.move({1, 1}); // no drag continues after it
        EXPECT_EQ(c->value(), expected);
        EXPECT_TRUE(page.root.overlays().empty()); // the menu did not open
    }
    // With the middle button too.
    dial.set_value(1);
    page.pointer.click(centre_of(dial), mod::alt, Button::middle);
    EXPECT_EQ(dial.value(), 0.5);
    // The modifier is a preference.
    page.root.options().default_modifiers = mod::control;
    page.root.options().dial_mode = DialMode::linear;
    dial.set_value(1);
    page.pointer.click(centre_of(dial), mod::control);
    EXPECT_EQ(dial.value(), 0.5);
}

TEST(UiInput, SwitchClickAndDragPickTheRowUnderThePointer)
{
    Page page(2);
    auto& sw = page.root.add<CStepSwitch>({10, 10, 90, 80});
    sw.set_positions({"Off", "Clear", "Dense", "Full"});
    GestureLog log;
    log.attach(sw);
    page.pointer.down({30, 10 + 50}); // rows are 20 units: the third
    EXPECT_EQ(sw.position(), 2);
    page.pointer.move({30, 10 + 75});
    page.pointer.up({30, 10 + 75});
    EXPECT_EQ(sw.position(), 3);
    EXPECT_TRUE(log.one_gesture_ending_at(1.0));
    EXPECT_EQ(log.values.size(), 2u);
}

TEST(UiInput, OptionMenuChoiceInASubMenuSetsTheValueAndReportsTheTag)
{
    Page page;
    auto& menu = page.root.add<CChoiceMenu>({20, 20, 140, 24});
    menu.set_entries({MenuEntry::item("1/16"), MenuEntry::line(),
                      MenuEntry::sub("Dotted", {MenuEntry::item("3/16"), MenuEntry::item("3/8", 42)}),
                      MenuEntry::item("1/4")});
    ASSERT_EQ(menu.steps(), 4);
    GestureLog log;
    log.attach(menu);
    int reported = -1;
    menu.on_choose = [&](CChoiceMenu&, int tag) { reported = tag; };
    auto popup = [&](std::size_t level) -> CPopupMenu& {
        return static_cast<CPopupMenu&>(*page.root.overlays().at(level));
    };
    page.pointer.click(centre_of(menu));
    page.pointer.click(centre_of(popup(0), popup(0).entry_rect(2))); // "Dotted" opens its sub-menu
    ASSERT_EQ(page.root.overlays().size(), 2u);
    page.pointer.click(centre_of(popup(1), popup(1).entry_rect(1)));
    EXPECT_TRUE(page.root.overlays().empty());
    EXPECT_EQ(reported, 42);
    EXPECT_EQ(menu.chosen(), 2); // leaves: 1/16, 3/16, 3/8, 1/4
    EXPECT_TRUE(log.one_gesture_ending_at(2.0 / 3));

    // Keyboard: Enter opens on "Dotted" (it holds the current "3/8"), Right opens it on "3/8", Up
    // moves to "3/16", Enter chooses it.
    page.root.set_focus(&menu);
    for (Key k : {Key::enter, Key::right, Key::up, Key::enter}) page.root.key_down({k});
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(menu.chosen(), 1);
    // Escape closes the sub-menu, then the menu; a click outside closes all and changes nothing.
    page.pointer.click(centre_of(menu));
    page.root.key_down({Key::right});
    ASSERT_EQ(page.root.overlays().size(), 2u);
    page.root.key_down({Key::escape});
    EXPECT_EQ(page.root.overlays().size(), 1u);
    page.root.key_down({Key::escape});
    EXPECT_TRUE(page.root.overlays().empty());
    page.pointer.click(centre_of(menu));
    page.pointer.click({390, 290});
    EXPECT_TRUE(page.root.overlays().empty());
    EXPECT_EQ(reported, 1);
}

TEST(UiInput, TabsSwitchByClickAndKeysAndSelectNestedPaths)
{
    Page page;
    auto& tabs = page.root.add<CTabs>({0, 0, 400, 300});
    CWidget& first = tabs.add_page("IR1 Edit");
    CWidget& eq = tabs.add_page("IR1 EQ");
    auto& bands = eq.add<CTabs>({0, 0, 400, 200});
    for (char const* b : {"1", "2", "1-5"}) bands.add_page(b);
    auto& knob = bands.page(2).add<CDial>({10, 10, 64, 84});
    int selected = -1;
    tabs.on_select = [&](CTabs&, int i) { selected = i; };

    page.pointer.click(centre_of(tabs, tabs.tab_rect(1)));
    EXPECT_EQ(selected, 1);
    EXPECT_FALSE(first.visible());
    EXPECT_TRUE(eq.shown());
    EXPECT_EQ(tabs.path(), (std::vector<std::string>{"IR1 EQ", "1"}));
    EXPECT_TRUE(tabs.select_path({"IR1 EQ", "1-5"}));
    EXPECT_TRUE(knob.shown());
    EXPECT_FALSE(tabs.select_path({"IR1 Edit", "1-5"})); // no nested tab view there
    EXPECT_EQ(tabs.path(), (std::vector<std::string>{"IR1 EQ", "1-5"}));

    // A hidden page's controls take neither clicks nor the wheel.
    tabs.select(0);
    EXPECT_FALSE(knob.shown());
    GestureLog log;
    log.attach(knob);
    page.pointer.wheel(centre_of(knob), 1);
    page.pointer.click(centre_of(knob));
    EXPECT_TRUE(log.events.empty());
    page.root.set_focus(&tabs);
    page.root.key_down({Key::right});
    EXPECT_EQ(tabs.selected(), 1);
    page.root.key_down({Key::right});
    EXPECT_EQ(tabs.selected(), 0); // wraps
}

TEST(UiInput, MessageBoxKeepsInputFromTheWindowBehindAndAnswersOnce)
{
    {
        Page page(1.5);
        auto& toggle = page.root.add<CToggle>({0, 0, 400, 300}); // the whole window behind the box
        page.root.set_focus(&toggle);
        GestureLog log;
        log.attach(toggle);
        page.root.show_message("Title", "Text", Buttons::yes_no, nullptr);
        page.pointer.click({5, 5});
        page.pointer.wheel({5, 5}, 1);
        page.root.key_down({Key::tab});
        EXPECT_EQ(page.root.overlays().size(), 1u);
        EXPECT_TRUE(log.events.empty());
        page.root.key_down({Key::escape});
        EXPECT_TRUE(page.root.overlays().empty());
        page.pointer.click({5, 5});
        EXPECT_EQ(log.count("change"), 1);
    }
    struct Case {
        Buttons buttons;
        int action; // 0 click first, 1 click second, 2 Escape, 3 'y', 4 Tab then Enter, 5 'n'
        Answer expected;
    };
    Case const cases[] = {{Buttons::yes_no, 0, Answer::yes}, {Buttons::yes_no, 1, Answer::no},
                          {Buttons::yes_no, 2, Answer::no},  {Buttons::yes_no, 3, Answer::yes},
                          {Buttons::yes_no, 4, Answer::no},  {Buttons::yes_no, 5, Answer::no},
                          {Buttons::ok, 2, Answer::ok},      {Buttons::ok, 0, Answer::ok}};
    for (Case const& k : cases) {
        Page page(1.5);
        std::vector<Answer> got;
        auto& box = page.root.show_message("Title", "Text", k.buttons, [&](Answer a) { got.push_back(a); });
        if (k.action <= 1) page.pointer.click(centre_of(box, box.button_rect(k.action)));
        if (k.action == 4) page.root.key_down({Key::tab});
        KeyEvent const keys[] = {{}, {}, {Key::escape}, {Key::other, 0, 'y'}, {Key::enter}, {Key::other, 0, 'n'}};
        if (k.action >= 2) page.root.key_down(keys[k.action]);
        page.root.key_down({Key::enter}); // after closing, nothing answers again
        ASSERT_EQ(got.size(), 1u) << k.action;
        EXPECT_EQ(got[0], k.expected) << k.action;
        EXPECT_TRUE(page.root.overlays().empty());
    }
}

TEST(UiInput, TabWalksFocusInTreeOrderAndKeysActOnTheFocusedControl)
{
    Page page;
    auto& dial = page.dial({0, 0, 64, 84});
    page.dial({70, 0, 64, 84}).set_visible(false);
    page.root.add<CHSlider>({140, 0, 100, 32}).set_enabled(false);
    auto& toggle = page.root.add<CToggle>({0, 100, 80, 24});
    auto& menu = page.root.add<CChoiceMenu>({100, 100, 120, 24});
    menu.set_entries({MenuEntry::item("a"), MenuEntry::item("b")});
    page.root.add<CLabel>({0, 200, 100, 20}, "not focusable");

    for (CWidget* next : std::initializer_list<CWidget*>{&dial, &toggle, &menu, &dial}) {
        EXPECT_TRUE(page.root.key_down({Key::tab}));
        EXPECT_EQ(page.root.focused(), next);
    }
    page.root.key_down({Key::tab, mod::shift});
    EXPECT_EQ(page.root.focused(), &menu);

    // Arrows on the dial: a coarse step, a fine step with Shift, as one gesture each.
    page.root.set_focus(&dial);
    GestureLog log;
    log.attach(dial);
    dial.set_wheel_increment(1);
    for (KeyEvent k : {KeyEvent{Key::up}, KeyEvent{Key::right, mod::shift}, KeyEvent{Key::down}}) page.root.key_down(k);
    EXPECT_NEAR(dial.value(), 0.01, 1e-12);
    EXPECT_EQ(log.count("begin"), 3);
    EXPECT_EQ(log.count("end"), 3);

    page.root.set_focus(&toggle);
    page.root.key_down({Key::enter});
    EXPECT_EQ(toggle.value(), 1);
    page.root.set_focus(&menu);
    page.root.key_down({Key::enter});
    EXPECT_EQ(page.root.overlays().size(), 1u);
    for (Key k : {Key::down, Key::enter}) page.root.key_down({k});
    EXPECT_EQ(menu.chosen(), 1);
    // Keys nobody wants go back to the host.
    page.root.set_focus(nullptr);
    EXPECT_FALSE(page.root.key_down({Key::other, 0, 'q'}));
}

// Values from outside are drawn (the render tests check where) and call nothing back.
TEST(UiInput, ValueSetFromOutsideIsClampedAndQuantisedAndCallsNothingBack)
{
    Page page;
    auto& dial = page.dial();
    auto& sw = page.root.add<CStepSwitch>({200, 40, 80, 80});
    sw.set_positions({"a", "b", "c"});
    for (CValueControl* c : std::initializer_list<CValueControl*>{&dial, &sw}) {
        GestureLog log;
        log.attach(*c);
        c->set_value(0.6);
        EXPECT_EQ(c->value(), c->steps() ? 0.5 : 0.6);
        c->set_value(std::nan(""));
        EXPECT_EQ(c->value(), c->steps() ? 0.5 : 0.6);
        c->set_value(7);
        EXPECT_EQ(c->value(), 1);
        EXPECT_TRUE(log.events.empty());
    }
}

TEST(UiInput, HostMayClaimMouseGesturesAndAModalBoxEndsADrag)
{
    Page page;
    page.root.options().dial_mode = DialMode::linear;
    auto& dial = page.dial();
    std::vector<MouseAction> claimed;
    page.root.set_mouse_claim([&](CValueControl&, MouseAction a, unsigned mods) {
        if (!(mods & mod::super)) return false;
        claimed.push_back(a);
        return true;
    });
    GestureLog log;
    log.attach(dial);
    Point const c = centre_of(dial);
    page.pointer.down(c, mod::super);
    page.pointer.move({c.x, c.y - 50}, mod::super);
    page.pointer.up({c.x, c.y - 50}, mod::super);
    EXPECT_EQ(claimed, (std::vector<MouseAction>{MouseAction::down, MouseAction::drag, MouseAction::up}));
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(dial.value(), 0);

    // Unclaimed, a drag that a message box interrupts ends there, once.
    page.pointer.down(c);
    page.root.show_message("t", "x", Buttons::ok, nullptr);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin", "end"}));
    page.pointer.move({0, 0});
    page.pointer.up({0, 0});
    EXPECT_EQ(log.count("end"), 1);
}

} // namespace
