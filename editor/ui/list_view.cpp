#include "editor/ui/list_view.h"

#include "editor/ui/paint.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace corvella::ui {

namespace {

constexpr double text_pad = 6;      // left and right of a row's texts
constexpr double indent_step = 14;  // per indentation level
constexpr double min_thumb = 16;

} // namespace

void CListView::set_rows(std::vector<ListRow> rows)
{
    rows_ = std::move(rows);
    selected_ = -1;
    last_press_row_ = -1;
    dragging_bar_ = false;
    offset_ = 0;
    invalidate();
}

void CListView::replace_rows(std::vector<ListRow> rows)
{
    rows_ = std::move(rows);
    if (selected_ >= row_count()) selected_ = -1;
    scroll_to(offset_);
    invalidate();
}

void CListView::set_empty_text(std::string text)
{
    empty_text_ = std::move(text);
    invalidate();
}

void CListView::select(int index)
{
    if (index < 0 || index >= row_count()) index = -1;
    if (index != selected_) {
        selected_ = index;
        invalidate();
    }
    if (index >= 0) ensure_visible(index);
}

double CListView::max_scroll() const
{
    return std::max(0.0, row_count() * row_height - frame().h);
}

void CListView::scroll_to(double offset)
{
    double const clamped = std::clamp(offset, 0.0, max_scroll());
    if (clamped == offset_) return;
    offset_ = clamped;
    invalidate();
}

void CListView::ensure_visible(int index)
{
    if (index < 0 || index >= row_count()) return;
    double const top = index * row_height;
    if (top < offset_) scroll_to(top);
    else if (top + row_height > offset_ + frame().h) scroll_to(top + row_height - frame().h);
}

Rect CListView::row_rect(int index) const
{
    double const w = frame().w - (has_scroll_bar() ? bar_width + 2 : 0);
    return {0, index * row_height - offset_, std::max(0.0, w), row_height};
}

int CListView::row_at(Point local) const
{
    if (has_scroll_bar() && scroll_bar_rect().contains(local)) return -1;
    if (!bounds().contains(local)) return -1;
    auto const index = static_cast<int>(std::floor((local.y + offset_) / row_height));
    return index >= 0 && index < row_count() ? index : -1;
}

Rect CListView::scroll_bar_rect() const
{
    return {frame().w - bar_width - 1, 1, bar_width, std::max(0.0, frame().h - 2)};
}

Rect CListView::thumb_rect() const
{
    Rect const trough = scroll_bar_rect();
    double const content = row_count() * row_height;
    if (content <= 0 || max_scroll() <= 0) return trough;
    double const h = std::clamp(trough.h * frame().h / content, std::min(min_thumb, trough.h), trough.h);
    double const y = trough.y + (trough.h - h) * offset_ / max_scroll();
    return {trough.x, y, trough.w, h};
}

int CListView::visible_rows() const
{
    return std::max(1, static_cast<int>(frame().h / row_height));
}

double CListView::now() const
{
    if (clock) return clock();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void CListView::user_select(int index)
{
    if (row_count() == 0) return;
    index = std::clamp(index, 0, row_count() - 1);
    bool const changed = index != selected_;
    select(index);
    if (changed && on_select) on_select(*this, index);
}

bool CListView::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left) return false;
    if (has_scroll_bar() && scroll_bar_rect().contains(e.pos)) {
        Rect const thumb = thumb_rect();
        if (thumb.contains(e.pos)) {
            dragging_bar_ = true;
            grab_ = e.pos.y - thumb.y;
            invalidate();
            return true;
        }
        double const page = std::max(row_height, frame().h - row_height);
        scroll_to(offset_ + (e.pos.y < thumb.y ? -page : page));
        return false;
    }
    int const row = row_at(e.pos);
    if (row < 0) {
        last_press_row_ = -1;
        return false;
    }
    double const t = now();
    bool const second = row == last_press_row_ && t - last_press_time_ <= double_click_seconds;
    user_select(row);
    if (second) {
        last_press_row_ = -1; // a third press starts a new pair
        if (on_activate) on_activate(*this, row);
    } else {
        last_press_row_ = row;
        last_press_time_ = t;
    }
    return false;
}

void CListView::on_mouse_drag(MouseEvent const& e)
{
    if (!dragging_bar_) return;
    Rect const trough = scroll_bar_rect();
    double const room = trough.h - thumb_rect().h;
    if (room <= 0) return;
    scroll_to((e.pos.y - grab_ - trough.y) / room * max_scroll());
}

void CListView::on_mouse_up(MouseEvent const&)
{
    on_capture_lost();
}

void CListView::on_capture_lost()
{
    if (!dragging_bar_) return;
    dragging_bar_ = false;
    invalidate();
}

bool CListView::on_scroll(ScrollEvent const& e)
{
    if (max_scroll() <= 0 || e.dy == 0) return false;
    scroll_to(offset_ - e.dy * wheel_rows * row_height);
    return true;
}

bool CListView::on_key(KeyEvent const& e)
{
    if (row_count() == 0) return false;
    int const page = std::max(1, visible_rows() - 1);
    switch (e.key) {
    case Key::up: user_select(selected_ < 0 ? row_count() - 1 : selected_ - 1); return true;
    case Key::down: user_select(selected_ < 0 ? 0 : selected_ + 1); return true;
    case Key::home: user_select(0); return true;
    case Key::end: user_select(row_count() - 1); return true;
    case Key::page_up: user_select(selected_ < 0 ? 0 : selected_ - page); return true;
    case Key::page_down: user_select(selected_ < 0 ? 0 : selected_ + page); return true;
    case Key::enter:
        if (selected_ < 0) return false;
        if (on_activate) on_activate(*this, selected_);
        return true;
    default: return false;
    }
}

void CListView::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const b = bounds();
    rounded_rect(cr, b.inset(0.5), 3);
    set_colour(cr, theme.background);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);

    cairo_save(cr);
    cairo_rectangle(cr, 1, 1, std::max(0.0, b.w - 2), std::max(0.0, b.h - 2));
    cairo_clip(cr);
    if (rows_.empty() && !empty_text_.empty())
        draw_text(cr, empty_text_, b.inset(text_pad, 0), Font::small, Align::centre, theme.text_dim, theme);
    int const first = std::max(0, static_cast<int>(offset_ / row_height));
    int const last = std::min(row_count() - 1, static_cast<int>((offset_ + b.h) / row_height));
    for (int i = first; i <= last; ++i) {
        ListRow const& row = rows_[static_cast<std::size_t>(i)];
        Rect const r = row_rect(i);
        bool const on = i == selected_;
        if (on) {
            cairo_rectangle(cr, r.x + 1, r.y, std::max(0.0, r.w - 2), r.h);
            set_colour(cr, has_focus() ? theme.highlight : theme.face);
            cairo_fill(cr);
        }
        Colour const& ink = on && has_focus() ? theme.on_highlight : row.dim ? theme.text_dim : theme.text;
        double const x = r.x + text_pad + row.indent * indent_step;
        double detail_w = 0;
        if (!row.detail.empty()) {
            detail_w = std::min(measure_text(row.detail, Font::small, theme).w, r.w * 0.4);
            draw_text(cr, row.detail, {r.right() - text_pad - detail_w, r.y, detail_w, r.h}, Font::small, Align::right,
                      on && has_focus() ? theme.on_highlight : theme.text_dim, theme);
            detail_w += text_pad;
        }
        draw_text(cr, row.text, {x, r.y, std::max(0.0, r.right() - text_pad - detail_w - x), r.h}, Font::small,
                  Align::left, ink, theme);
    }
    cairo_restore(cr);

    if (has_scroll_bar()) {
        Rect const trough = scroll_bar_rect();
        rounded_rect(cr, trough, trough.w / 2);
        set_colour(cr, theme.track);
        cairo_fill(cr);
        rounded_rect(cr, thumb_rect().inset(1, 0), (trough.w - 2) / 2);
        set_colour(cr, dragging_bar_ ? theme.accent : theme.text_dim);
        cairo_fill(cr);
    }
}

} // namespace corvella::ui
