#include "editor/ui/step_switch.h"

#include "editor/ui/paint.h"

#include <algorithm>
#include <cmath>

namespace corvella::ui {

void CStepSwitch::set_positions(std::vector<std::string> names)
{
    names_ = std::move(names);
    set_steps(static_cast<int>(names_.size()));
}

Rect CStepSwitch::row(int index) const
{
    double const n = std::max<double>(1, static_cast<double>(names_.size()));
    double const h = frame().h / n;
    return {0, index * h, frame().w, h};
}

int CStepSwitch::row_at(double y) const
{
    int const n = static_cast<int>(names_.size());
    if (n == 0) return 0;
    return std::clamp(static_cast<int>(std::floor(y / (frame().h / n))), 0, n - 1);
}

bool CStepSwitch::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (names_.size() < 2 || default_click(e)) return false;
    begin_gesture();
    change_value(static_cast<double>(row_at(e.pos.y)) / (steps() - 1));
    return true;
}

void CStepSwitch::on_mouse_drag(MouseEvent const& e)
{
    if (in_gesture() && steps() >= 2) change_value(static_cast<double>(row_at(e.pos.y)) / (steps() - 1));
}

void CStepSwitch::on_mouse_up(MouseEvent const&)
{
    end_gesture();
}

bool CStepSwitch::on_scroll(ScrollEvent const& e)
{
    // Rows run downwards, so the wheel turned up moves the choice up.
    double const notches = e.dy != 0 ? e.dy : e.dx;
    if (notches == 0) return false;
    step_by(-notches, e.mods);
    return true;
}

bool CStepSwitch::on_key(KeyEvent const& e)
{
    if (e.key == Key::up) step_by(-1, 0);
    else if (e.key == Key::down) step_by(1, 0);
    else return CValueControl::on_key(e);
    return true;
}

void CStepSwitch::draw(cairo_t* cr, CTheme const& theme)
{
    int const n = static_cast<int>(names_.size());
    if (n == 0) return;
    double const well_w = 10;
    Rect const well{2, row(0).h / 2 - 6, well_w, frame().h - row(0).h + 12};
    rounded_rect(cr, well, well_w / 2);
    set_colour(cr, theme.face);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    int const at = position();
    for (int i = 0; i < n; ++i) {
        Rect const r = row(i);
        double const cy = r.y + r.h / 2;
        bool const lit = i == at;
        cairo_arc(cr, well.x + well_w / 2, cy, lit ? 4 : 1.8, 0, 2 * M_PI);
        set_colour(cr, lit ? accent_colour(theme) : theme.text_dim);
        cairo_fill(cr);
        Colour const& ink = lit ? text_colour(theme) : theme.text_dim;
        draw_text(cr, names_[static_cast<std::size_t>(i)], {well_w + 8, r.y, r.w - well_w - 8, r.h}, Font::small,
                  Align::left, ink, theme);
    }
}

} // namespace corvella::ui
