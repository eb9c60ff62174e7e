#include "editor/level_meter.h"

#include "editor/ui/paint.h"

#include <algorithm>
#include <cmath>

namespace corvella::editor {

using namespace corvella::ui;

double CLevelMeter::level_db(float reported)
{
    if (!(reported > 0.0f)) return -96.0;
    double const unity = std::min(1.0, static_cast<double>(reported) / 0.9);
    return -96.0 + 96.0 * unity;
}

double CLevelMeter::bar_fraction(double db)
{
    return std::clamp((db - floor_db) / -floor_db, 0.0, 1.0);
}

void CLevelMeter::set_levels(float left, float right, double seconds)
{
    float const reported[2] = {left, right};
    double const fall = fall_db_per_s * std::max(0.0, seconds);
    bool moved = false;
    for (int side = 0; side < 2; ++side) {
        shown_[side] = std::max(level_db(reported[side]), std::max(-96.0, shown_[side] - fall));
        // Half a logical pixel of the bar is the smallest change worth a repaint.
        moved |= std::abs(bar_fraction(shown_[side]) - drawn_[side]) * frame().w >= 0.5;
    }
    if (moved) invalidate();
}

void CLevelMeter::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const b = bounds();
    double const caption_w = 30;
    draw_text(cr, caption_, {b.x, b.y, caption_w, b.h}, Font::small, Align::left, theme.text_dim, theme);
    double const bar_x = b.x + caption_w, bar_w = b.w - caption_w;
    double const bar_h = std::floor((b.h - 3) / 2);
    for (int side = 0; side < 2; ++side) {
        Rect const track{bar_x, b.y + 1 + side * (bar_h + 1), bar_w, bar_h};
        set_colour(cr, theme.track);
        cairo_rectangle(cr, track.x, track.y, track.w, track.h);
        cairo_fill(cr);
        drawn_[side] = bar_fraction(shown_[side]);
        // Lit in the accent up to -6 dB, in the warning colour above it.
        double const lit = drawn_[side] * track.w, warn_from = bar_fraction(-6.0) * track.w;
        set_colour(cr, theme.accent);
        cairo_rectangle(cr, track.x, track.y, std::min(lit, warn_from), track.h);
        cairo_fill(cr);
        if (lit > warn_from) {
            set_colour(cr, theme.warning);
            cairo_rectangle(cr, track.x + warn_from, track.y, lit - warn_from, track.h);
            cairo_fill(cr);
        }
    }
}

} // namespace corvella::editor
