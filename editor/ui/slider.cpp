#include "editor/ui/slider.h"

#include "editor/ui/paint.h"

#include <algorithm>
#include <cmath>

namespace corvella::ui {

double CHSlider::track_y() const
{
    return std::max(frame().h - thumb_radius - 2, frame().h * 0.7);
}

bool CHSlider::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (default_click(e)) return false;
    begin_gesture();
    drag_value_ = value();
    last_x_ = e.pos.x;
    double const span = track_right() - track_left();
    if (!fine(e.mods) && span > 0) {
        drag_value_ = std::clamp((e.pos.x - track_left()) / span, 0.0, 1.0);
        change_value(drag_value_);
    }
    return true;
}

void CHSlider::on_mouse_drag(MouseEvent const& e)
{
    if (!in_gesture()) return;
    double const span = std::max(1.0, track_right() - track_left());
    double const scale = fine(e.mods) ? 0.1 : 1.0;
    drag_value_ = std::clamp(drag_value_ + (e.pos.x - last_x_) / span * scale, 0.0, 1.0);
    last_x_ = e.pos.x;
    change_value(drag_value_);
}

void CHSlider::on_mouse_up(MouseEvent const&)
{
    end_gesture();
}

void CHSlider::draw(cairo_t* cr, CTheme const& theme)
{
    double const w = frame().w;
    double const ty = track_y();
    double const text_h = std::max(12.0, ty - thumb_radius - 2);
    std::string const value_text = text();
    double const value_w = std::min(w / 2, measure_text(value_text, Font::value, theme).w + 2);
    draw_text(cr, label(), {0, 0, w - value_w - 6, text_h}, Font::small, Align::left, theme.text_dim, theme);
    draw_text(cr, value_text, {w - value_w, 0, value_w, text_h}, Font::value, Align::right, text_colour(theme),
              theme);

    double const l = track_left(), r = track_right();
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 4);
    set_colour(cr, theme.track);
    cairo_move_to(cr, l, ty);
    cairo_line_to(cr, r, ty);
    cairo_stroke(cr);
    double const xo = l + origin() * (r - l), xv = l + value() * (r - l);
    set_colour(cr, enabled() ? accent_colour(theme) : theme.text_dim);
    if (std::abs(xv - xo) > 1e-6) {
        cairo_move_to(cr, xo, ty);
        cairo_line_to(cr, xv, ty);
        cairo_stroke(cr);
    }
    cairo_arc(cr, xv, ty, thumb_radius, 0, 2 * M_PI);
    set_colour(cr, theme.text);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1.5);
    set_colour(cr, theme.background);
    cairo_stroke(cr);
}

} // namespace corvella::ui
