#pragma once

// Plain geometry of the widget toolkit. Everything a widget knows is in logical units; the root
// multiplies by its scale factor (1, 1.5, 2 ...) only when it talks to pixels.

#include <algorithm>
#include <cmath>

namespace corvella::ui {

struct Point {
    double x = 0; // logical units, right
    double y = 0; // logical units, down
};

struct Size {
    double w = 0;
    double h = 0;
};

struct Rect {
    double x = 0; // left
    double y = 0; // top
    double w = 0; // width
    double h = 0; // height

    double right() const { return x + w; }
    double bottom() const { return y + h; }
    bool empty() const { return w <= 0 || h <= 0; }
    bool contains(Point p) const { return p.x >= x && p.x < x + w && p.y >= y && p.y < y + h; }
    Rect moved(double dx, double dy) const { return {x + dx, y + dy, w, h}; }
    Rect inset(double d) const { return {x + d, y + d, std::max(0.0, w - 2 * d), std::max(0.0, h - 2 * d)}; }
    Rect inset(double dx, double dy) const
    {
        return {x + dx, y + dy, std::max(0.0, w - 2 * dx), std::max(0.0, h - 2 * dy)};
    }
    bool intersects(Rect const& o) const
    {
        return !empty() && !o.empty() && x < o.right() && o.x < right() && y < o.bottom() && o.y < bottom();
    }
    // The smallest rectangle holding both; an empty one adds nothing.
    Rect united(Rect const& o) const
    {
        if (empty()) return o;
        if (o.empty()) return *this;
        double const l = std::min(x, o.x), t = std::min(y, o.y);
        return {l, t, std::max(right(), o.right()) - l, std::max(bottom(), o.bottom()) - t};
    }
    Rect intersected(Rect const& o) const
    {
        double const l = std::max(x, o.x), t = std::max(y, o.y);
        double const r = std::min(right(), o.right()), b = std::min(bottom(), o.bottom());
        if (r <= l || b <= t) return {};
        return {l, t, r - l, b - t};
    }
    bool operator==(Rect const&) const = default;
};

// A rectangle of whole device pixels, as a host window repaints it.
struct PixelRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
    bool operator==(PixelRect const&) const = default;
};

// The logical rectangle `r` at `scale`, widened to whole pixels so nothing is left half-painted.
inline PixelRect to_pixels(Rect const& r, double scale)
{
    if (r.empty()) return {};
    int const l = static_cast<int>(std::floor(r.x * scale)), t = static_cast<int>(std::floor(r.y * scale));
    int const rr = static_cast<int>(std::ceil(r.right() * scale));
    int const b = static_cast<int>(std::ceil(r.bottom() * scale));
    return {l, t, rr - l, b - t};
}

// Places widgets on a regular grid so pages line up without hand-made coordinates: cell (col, row)
// spanning (cols, rows) cells, cells `cell_w` x `cell_h` apart with `gap` between them.
struct Grid {
    double x = 0;      // left of column 0
    double y = 0;      // top of row 0
    double cell_w = 64;
    double cell_h = 80;
    double gap = 8;

    Rect cell(double col, double row, double cols = 1, double rows = 1) const
    {
        return {x + col * (cell_w + gap), y + row * (cell_h + gap), cols * cell_w + (cols - 1) * gap,
                rows * cell_h + (rows - 1) * gap};
    }
};

} // namespace corvella::ui
