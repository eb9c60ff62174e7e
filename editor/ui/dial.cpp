#include "editor/ui/dial.h"

#include "editor/ui/paint.h"
#include "editor/ui/root.h"

#include <algorithm>
#include <cmath>

namespace corvella::ui {

namespace {

// The arc runs clockwise from lower left (135 degrees) to lower right (405 degrees).
constexpr double arc_start = 0.75 * M_PI;
constexpr double arc_sweep = 1.5 * M_PI;

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

Point CDial::centre() const
{
    double const h = frame().h - label_height - value_height;
    return {frame().w / 2, label_height + h / 2};
}

double CDial::radius() const
{
    double const h = frame().h - label_height - value_height;
    return std::max(4.0, std::min(frame().w, h) / 2 - 2);
}

double CDial::angle_value(Point p, bool& defined) const
{
    Point const c = centre();
    double const dx = p.x - c.x, dy = p.y - c.y;
    defined = dx * dx + dy * dy >= 9; // too near the centre the angle means nothing
    double t = std::atan2(dy, dx) - arc_start;
    while (t < 0) t += 2 * M_PI;
    while (t >= 2 * M_PI) t -= 2 * M_PI;
    if (t <= arc_sweep) return t / arc_sweep;
    // In the gap at the bottom: the nearer end.
    return t < arc_sweep + (2 * M_PI - arc_sweep) / 2 ? 1 : 0;
}

bool CDial::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (default_click(e)) return false;
    CRoot const* r = root();
    mode_ = r ? r->options().dial_mode : DialMode::circular;
    drag_value_ = value();
    last_ = e.pos;
    begin_gesture();
    if (mode_ == DialMode::circular) {
        bool defined = false;
        double const v = angle_value(e.pos, defined);
        if (defined) {
            drag_value_ = v;
            change_value(v);
        }
    }
    return true;
}

void CDial::on_mouse_drag(MouseEvent const& e)
{
    if (!in_gesture()) return;
    double const scale = fine(e.mods) ? 0.1 : 1.0;
    switch (mode_) {
    case DialMode::circular: {
        bool defined = false;
        double const v = angle_value(e.pos, defined);
        // A jump across the gap at the bottom would flip between the ends; stay put instead.
        if (defined && std::abs(v - drag_value_) <= 0.5) drag_value_ = v;
        break;
    }
    case DialMode::relative_circular: {
        Point const c = centre();
        double const a0 = std::atan2(last_.y - c.y, last_.x - c.x);
        double const a1 = std::atan2(e.pos.y - c.y, e.pos.x - c.x);
        double d = a1 - a0;
        if (d > M_PI) d -= 2 * M_PI;
        if (d < -M_PI) d += 2 * M_PI;
        bool const near_centre = std::hypot(e.pos.x - c.x, e.pos.y - c.y) < 3;
        if (!near_centre) drag_value_ = clamp01(drag_value_ + d / arc_sweep * scale);
        break;
    }
    case DialMode::linear: {
        CRoot const* r = root();
        double const span = r ? r->options().linear_drag_span : 200;
        double const d = (e.pos.x - last_.x) - (e.pos.y - last_.y);
        drag_value_ = clamp01(drag_value_ + d / span * scale);
        break;
    }
    }
    last_ = e.pos;
    change_value(drag_value_);
}

void CDial::on_mouse_up(MouseEvent const&)
{
    end_gesture();
}

void CDial::draw(cairo_t* cr, CTheme const& theme)
{
    double const w = frame().w;
    draw_text(cr, label(), {0, 0, w, label_height}, Font::small, Align::centre, theme.text_dim, theme);
    draw_text(cr, text(), {0, frame().h - value_height, w, value_height}, Font::value, Align::centre,
              text_colour(theme), theme);

    Point const c = centre();
    double const r = radius();
    double const line = std::max(2.5, r * 0.16);
    double const ring = r - line / 2;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);

    // Track, then the value from its origin.
    cairo_set_line_width(cr, line);
    set_colour(cr, theme.track);
    cairo_arc(cr, c.x, c.y, ring, arc_start, arc_start + arc_sweep);
    cairo_stroke(cr);
    double const a_origin = arc_start + origin() * arc_sweep;
    double const a_value = arc_start + value() * arc_sweep;
    Colour col = accent_colour(theme);
    if (!enabled()) col = theme.text_dim;
    set_colour(cr, col);
    if (std::abs(a_value - a_origin) > 1e-6) {
        if (a_value > a_origin)
            cairo_arc(cr, c.x, c.y, ring, a_origin, a_value);
        else
            cairo_arc(cr, c.x, c.y, ring, a_value, a_origin);
        cairo_stroke(cr);
    }

    // The cap with its pointer.
    double const cap = ring - line * 1.4;
    set_colour(cr, theme.face);
    cairo_arc(cr, c.x, c.y, cap, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_line_width(cr, std::max(1.5, line * 0.7));
    set_colour(cr, theme.text);
    cairo_move_to(cr, c.x + std::cos(a_value) * cap * 0.35, c.y + std::sin(a_value) * cap * 0.35);
    cairo_line_to(cr, c.x + std::cos(a_value) * cap * 0.9, c.y + std::sin(a_value) * cap * 0.9);
    cairo_stroke(cr);
}

} // namespace corvella::ui
