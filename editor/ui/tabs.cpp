#include "editor/ui/tabs.h"

#include "editor/ui/paint.h"

#include <algorithm>

namespace corvella::ui {

namespace {

constexpr double tab_padding = 12; // each side of a label

CTabs* first_tabs(CWidget& w)
{
    for (auto& c : w.children()) {
        if (auto* t = dynamic_cast<CTabs*>(c.get())) return t;
        if (CTabs* t = first_tabs(*c)) return t;
    }
    return nullptr;
}

} // namespace

CWidget& CTabs::add_page(std::string label)
{
    labels_.push_back(std::move(label));
    CWidget& page = add<CWidget>(content());
    pages_.push_back(&page);
    if (selected_ < 0) selected_ = 0;
    else page.set_visible(false);
    invalidate();
    return page;
}

int CTabs::index_of(std::string const& label) const
{
    auto it = std::find(labels_.begin(), labels_.end(), label);
    return it == labels_.end() ? -1 : static_cast<int>(it - labels_.begin());
}

void CTabs::select(int index)
{
    if (index < 0 || index >= page_count() || index == selected_) return;
    if (selected_ >= 0) pages_[static_cast<std::size_t>(selected_)]->set_visible(false);
    selected_ = index;
    pages_[static_cast<std::size_t>(selected_)]->set_visible(true);
    invalidate();
}

void CTabs::user_select(int index)
{
    if (index < 0 || index >= page_count() || index == selected_) return;
    select(index);
    if (on_select) on_select(*this, index);
}

CTabs* CTabs::nested() const
{
    return selected_ >= 0 ? first_tabs(*pages_[static_cast<std::size_t>(selected_)]) : nullptr;
}

bool CTabs::select_path(std::span<std::string const> path)
{
    // Check the whole path before changing anything.
    std::vector<std::pair<CTabs*, int>> steps;
    CTabs const* at = this;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (!at) return false;
        int const index = at->index_of(path[i]);
        if (index < 0) return false;
        steps.emplace_back(const_cast<CTabs*>(at), index);
        at = i + 1 < path.size() ? first_tabs(*at->pages_[static_cast<std::size_t>(index)]) : nullptr;
    }
    for (auto& [tabs, index] : steps) tabs->select(index);
    return true;
}

std::vector<std::string> CTabs::path() const
{
    std::vector<std::string> out;
    for (CTabs const* t = this; t && t->selected_ >= 0; t = t->nested())
        out.push_back(t->labels_[static_cast<std::size_t>(t->selected_)]);
    return out;
}

void CTabs::set_bar_visible(bool visible)
{
    if (visible == bar_visible_) return;
    bar_visible_ = visible;
    on_resized();
    invalidate();
}

Rect CTabs::content() const
{
    double const top = bar_visible_ ? bar_height : 0;
    return {0, top, frame().w, std::max(0.0, frame().h - top)};
}

void CTabs::on_resized()
{
    for (CWidget* p : pages_) p->set_frame(content());
}

Rect CTabs::tab_rect(int index) const
{
    // Labels take their natural widths; when the bar is too narrow they shrink alike.
    CTheme const& t = theme();
    std::vector<double> widths;
    double total = 0;
    for (auto const& l : labels_) {
        widths.push_back(measure_text(l, Font::small, t).w + 2 * tab_padding);
        total += widths.back();
    }
    double const k = total > frame().w && total > 0 ? frame().w / total : 1.0;
    double x = 0;
    for (int i = 0; i < index; ++i) x += widths[static_cast<std::size_t>(i)] * k;
    return {x, 0, widths[static_cast<std::size_t>(index)] * k, bar_height};
}

CWidget* CTabs::hit_test(Point local)
{
    if (!visible() || !enabled() || !bounds().contains(local)) return nullptr;
    if (bar_visible_ && local.y < bar_height) return this;
    CWidget* hit = CWidget::hit_test(local);
    return hit == this ? nullptr : hit; // the page area itself is not a target
}

bool CTabs::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left || !bar_visible_ || e.pos.y >= bar_height) return false;
    for (int i = 0; i < page_count(); ++i)
        if (tab_rect(i).contains(e.pos)) user_select(i);
    return false;
}

bool CTabs::on_key(KeyEvent const& e)
{
    if (page_count() == 0) return false;
    if (e.key == Key::left) user_select((selected_ + page_count() - 1) % page_count());
    else if (e.key == Key::right) user_select((selected_ + 1) % page_count());
    else if (e.key == Key::home) user_select(0);
    else if (e.key == Key::end) user_select(page_count() - 1);
    else return false;
    return true;
}

void CTabs::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const c = content();
    set_colour(cr, theme.panel);
    cairo_rectangle(cr, c.x, c.y, c.w, c.h);
    cairo_fill(cr);
    if (!bar_visible_) return;
    set_colour(cr, theme.background);
    cairo_rectangle(cr, 0, 0, frame().w, bar_height);
    cairo_fill(cr);
    set_colour(cr, theme.frame);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, 0, bar_height - 0.5);
    cairo_line_to(cr, frame().w, bar_height - 0.5);
    cairo_stroke(cr);
    for (int i = 0; i < page_count(); ++i) {
        Rect const r = tab_rect(i);
        bool const on = i == selected_;
        if (on) {
            set_colour(cr, theme.panel);
            cairo_rectangle(cr, r.x + 1, 0, r.w - 2, bar_height);
            cairo_fill(cr);
            set_colour(cr, theme.accent);
            cairo_rectangle(cr, r.x + 1, 0, r.w - 2, 2.5);
            cairo_fill(cr);
        }
        draw_text(cr, labels_[static_cast<std::size_t>(i)], r.inset(4, 0).moved(0, 1), Font::small, Align::centre,
                  on ? theme.text : theme.text_dim, theme);
    }
}

} // namespace corvella::ui
