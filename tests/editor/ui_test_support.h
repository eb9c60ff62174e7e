#pragma once

// Helpers for driving a widget tree without a display: clicks and drags in logical units at the
// root's scale, and a recorder of a control's gesture callbacks.

#include "editor/ui/root.h"
#include "editor/ui/value_control.h"

#include <string>
#include <vector>

namespace corvella::test {

// What a control reported, in order: "begin", "change 0.25", "end".
struct GestureLog {
    std::vector<std::string> events;
    std::vector<double> values;
    ui::CValueControl* control = nullptr;

    GestureLog() = default;
    GestureLog(GestureLog const&) = delete;
    ~GestureLog()
    {
        if (!control) return;
        control->on_begin = nullptr;
        control->on_change = nullptr;
        control->on_end = nullptr;
    }
    void attach(ui::CValueControl& c)
    {
        control = &c;
        c.on_begin = [this](ui::CValueControl&) { events.push_back("begin"); };
        c.on_change = [this](ui::CValueControl&, double v) {
            events.push_back("change");
            values.push_back(v);
        };
        c.on_end = [this](ui::CValueControl&) { events.push_back("end"); };
    }
    int count(std::string const& what) const
    {
        int n = 0;
        for (auto const& e : events) n += e == what;
        return n;
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
    void down(ui::Point p, unsigned mods = 0, ui::Button b = ui::Button::left)
    {
        root.mouse_down(p.x * root.scale(), p.y * root.scale(), b, mods);
    }
    void move(ui::Point p, unsigned mods = 0) { root.mouse_move(p.x * root.scale(), p.y * root.scale(), mods); }
    void up(ui::Point p, unsigned mods = 0, ui::Button b = ui::Button::left)
    {
        root.mouse_up(p.x * root.scale(), p.y * root.scale(), b, mods);
    }
    void click(ui::Point p, unsigned mods = 0)
    {
        down(p, mods);
        up(p, mods);
    }
    void wheel(ui::Point p, double notches, unsigned mods = 0)
    {
        root.scroll(p.x * root.scale(), p.y * root.scale(), 0, notches, mods);
    }
};

// The centre of a widget in root coordinates.
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
