#pragma once

// Helpers for driving a widget tree without a display: clicks and drags in logical units at the
// root's scale, and a recorder of a control's gesture callbacks.

#include "editor/ui/root.h"
#include "editor/ui/value_control.h"

#include <algorithm>
#include <string>
#include <vector>

namespace corvella::test {

// What a control reported, in order: "begin", "change", "end", with the values changed to.
struct GestureLog {
    std::vector<std::string> events;
    std::vector<double> values;
    ui::CValueControl* control = nullptr;

    GestureLog() = default;
    GestureLog(GestureLog const&) = delete;
    ~GestureLog()
    {
        if (control) control->on_begin = control->on_end = nullptr, control->on_change = nullptr;
    }
    void attach(ui::CValueControl& c)
    {
        control = &c;
        c.on_begin = [this](ui::CValueControl&) { events.push_back("begin"); };
        c.on_change = [this](ui::CValueControl&, double v) { events.push_back("change"), values.push_back(v); };
        c.on_end = [this](ui::CValueControl&) { events.push_back("end"); };
    }
    int count(std::string const& what) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), what));
    }
    // One balanced gesture with at least one change, and the last change is `value`.
    bool one_gesture_ending_at(double value) const
    {
        return events.size() >= 3 && events.front() == "begin" && events.back() == "end" && count("begin") == 1 &&
               count("end") == 1 && !values.empty() && values.back() == value;
    }
};

// Input in logical root coordinates, converted to the pixels a window would report.
struct Pointer {
    ui::CRoot& root;
    double x(ui::Point p) const { return p.x * root.scale(); }
    double y(ui::Point p) const { return p.y * root.scale(); }
    static constexpr ui::Button left = ui::Button::left;
    void down(ui::Point p, unsigned mods = 0, ui::Button b = left) { root.mouse_down(x(p), y(p), b, mods); }
    void move(ui::Point p, unsigned mods = 0) { root.mouse_move(x(p), y(p), mods); }
    void up(ui::Point p, unsigned mods = 0, ui::Button b = left) { root.mouse_up(x(p), y(p), b, mods); }
    void click(ui::Point p, unsigned mods = 0, ui::Button b = left) { down(p, mods, b), up(p, mods, b); }
    void wheel(ui::Point p, double notches, unsigned mods = 0) { root.scroll(x(p), y(p), 0, notches, mods); }
};

// The centre of a widget (or of a rectangle local to it) in root coordinates.
inline ui::Point centre_of(ui::CWidget const& w, ui::Rect const& local)
{
    ui::Rect const r = w.to_root(local);
    return {r.x + r.w / 2, r.y + r.h / 2};
}
inline ui::Point centre_of(ui::CWidget const& w)
{
    return centre_of(w, w.bounds());
}

} // namespace corvella::test
