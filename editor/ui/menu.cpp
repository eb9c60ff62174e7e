#include "editor/ui/menu.h"

#include "editor/ui/paint.h"
#include "editor/ui/root.h"

#include <algorithm>
#include <cmath>

namespace corvella::ui {

namespace {

int count_leaves(std::vector<MenuEntry> const& entries)
{
    int n = 0;
    for (auto const& e : entries) {
        if (e.separator) continue;
        n += e.submenu.empty() ? 1 : count_leaves(e.submenu);
    }
    return n;
}

MenuEntry const* find_leaf(std::vector<MenuEntry> const& entries, int& index)
{
    for (auto const& e : entries) {
        if (e.separator) continue;
        if (e.submenu.empty()) {
            if (index == 0) return &e;
            --index;
        } else if (MenuEntry const* f = find_leaf(e.submenu, index)) {
            return f;
        }
    }
    return nullptr;
}

void draw_tick(cairo_t* cr, double x, double cy, Colour const& c)
{
    cairo_save(cr);
    set_colour(cr, c);
    cairo_set_line_width(cr, 1.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, x, cy);
    cairo_line_to(cr, x + 3, cy + 3);
    cairo_line_to(cr, x + 8, cy - 4);
    cairo_stroke(cr);
    cairo_restore(cr);
}

// A small triangle pointing right (dx = 1) or down (dx = 0).
void draw_arrow(cairo_t* cr, double cx, double cy, bool right, Colour const& c)
{
    set_colour(cr, c);
    if (right) {
        cairo_move_to(cr, cx - 2, cy - 4);
        cairo_line_to(cr, cx + 2.5, cy);
        cairo_line_to(cr, cx - 2, cy + 4);
    } else {
        cairo_move_to(cr, cx - 4, cy - 2);
        cairo_line_to(cr, cx + 4, cy - 2);
        cairo_line_to(cr, cx, cy + 2.5);
    }
    cairo_close_path(cr);
    cairo_fill(cr);
}

constexpr double tick_column = 20;  // left of the text
constexpr double arrow_column = 18; // right of the text
constexpr double shadow = 3;        // drop shadow at the right and bottom, inside the frame

} // namespace

std::vector<MenuEntry> numbered_menu(std::vector<std::string> const& texts)
{
    std::vector<MenuEntry> out;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty()) out.push_back(MenuEntry::line());
        else out.push_back(MenuEntry::item(texts[i], static_cast<int>(i)));
    }
    return out;
}

int leaf_count(std::vector<MenuEntry> const& entries)
{
    return count_leaves(entries);
}

MenuEntry const* leaf_at(std::vector<MenuEntry> const& entries, int index)
{
    if (index < 0) return nullptr;
    return find_leaf(entries, index);
}

// ---- CPopupMenu -------------------------------------------------------------------------------

CPopupMenu::CPopupMenu(std::vector<MenuEntry> entries, int first_leaf, int current, std::shared_ptr<Choose> choose,
                       CPopupMenu* parent_menu)
    : entries_(std::move(entries)), first_leaf_(first_leaf), current_(current), choose_(std::move(choose)),
      parent_menu_(parent_menu)
{
}

CPopupMenu& CPopupMenu::open(CRoot& root, std::vector<MenuEntry> const& entries, Rect const& anchor, int current,
                             Choose choose)
{
    auto menu = std::make_unique<CPopupMenu>(entries, 0, current, std::make_shared<Choose>(std::move(choose)),
                                             nullptr);
    Size const s = menu->preferred_size(root.current_theme());
    double const w = std::max(s.w, anchor.w);
    Size const area = root.size();
    double y = anchor.bottom() + 2;
    if (y + s.h > area.h) y = anchor.y - 2 - s.h >= 0 ? anchor.y - 2 - s.h : std::max(0.0, area.h - s.h);
    double const x = std::clamp(anchor.x, 0.0, std::max(0.0, area.w - w));
    auto& ref = static_cast<CPopupMenu&>(root.push_overlay(std::move(menu), {x, y, w, s.h}));
    ref.hover_current();
    return ref;
}

Size CPopupMenu::preferred_size(CTheme const& theme) const
{
    double w = 80, h = 2 * padding;
    for (auto const& e : entries_) {
        if (e.separator) {
            h += separator_height;
            continue;
        }
        h += item_height;
        w = std::max(w, measure_text(e.text, Font::body, theme).w);
    }
    return {std::ceil(w + tick_column + arrow_column + 8 + shadow), h + shadow};
}

Rect CPopupMenu::entry_rect(int index) const
{
    double y = padding;
    for (int i = 0; i < index && i < static_cast<int>(entries_.size()); ++i)
        y += entries_[static_cast<std::size_t>(i)].separator ? separator_height : item_height;
    double const h = entries_[static_cast<std::size_t>(index)].separator ? separator_height : item_height;
    return {0, y, frame().w - shadow, h};
}

int CPopupMenu::entry_at(double y) const
{
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i) {
        Rect const r = entry_rect(i);
        if (y >= r.y && y < r.bottom()) return i;
    }
    return -1;
}

bool CPopupMenu::hover_current()
{
    // Start on the current item (or the sub-menu holding it) so Enter keeps it and arrows move
    // from it.
    int n = first_leaf_;
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i) {
        auto const& e = entries_[static_cast<std::size_t>(i)];
        if (e.separator) continue;
        int const count = e.submenu.empty() ? 1 : count_leaves(e.submenu);
        if (current_ >= n && current_ < n + count) {
            hovered_ = i;
            return true;
        }
        n += count;
    }
    return false;
}

int CPopupMenu::leaf_number(int index) const
{
    int n = first_leaf_;
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i) {
        auto const& e = entries_[static_cast<std::size_t>(i)];
        if (e.separator) continue;
        if (i == index) return e.submenu.empty() ? n : -1;
        n += e.submenu.empty() ? 1 : count_leaves(e.submenu);
    }
    return -1;
}

void CPopupMenu::close_child()
{
    if (!child_) return;
    child_->close_child();
    if (CRoot* r = root()) r->close_overlay(*child_);
    child_ = nullptr;
    child_of_ = -1;
}

void CPopupMenu::open_child(int index, bool from_keyboard)
{
    if (child_of_ == index) {
        if (from_keyboard && child_) child_->move_hover(1);
        return;
    }
    close_child();
    CRoot* r = root();
    auto const& e = entries_[static_cast<std::size_t>(index)];
    if (!r || e.submenu.empty() || !e.enabled) return;
    int first = first_leaf_;
    for (int i = 0; i < index; ++i) {
        auto const& p = entries_[static_cast<std::size_t>(i)];
        if (!p.separator) first += p.submenu.empty() ? 1 : count_leaves(p.submenu);
    }
    auto menu = std::make_unique<CPopupMenu>(e.submenu, first, current_, choose_, this);
    Size const s = menu->preferred_size(r->current_theme());
    Rect const row = to_root(entry_rect(index));
    Size const area = r->size();
    double x = frame().right() - 2;
    if (x + s.w > area.w) x = std::max(0.0, frame().x - s.w + 2);
    double const y = std::clamp(row.y - padding, 0.0, std::max(0.0, area.h - s.h));
    child_ = &static_cast<CPopupMenu&>(r->push_overlay(std::move(menu), {x, y, s.w, s.h}));
    child_of_ = index;
    if (!child_->hover_current() && from_keyboard) child_->move_hover(1);
}

void CPopupMenu::activate(int index, bool from_keyboard)
{
    if (index < 0) return;
    auto const& e = entries_[static_cast<std::size_t>(index)];
    if (e.separator || !e.enabled) return;
    if (!e.submenu.empty()) {
        open_child(index, from_keyboard);
        return;
    }
    int const tag = e.tag >= 0 ? e.tag : leaf_number(index);
    std::shared_ptr<Choose> choose = choose_; // outlives the menus closed below
    if (CRoot* r = root()) r->close_transient_overlays();
    if (*choose) (*choose)(tag);
}

bool CPopupMenu::on_mouse_down(MouseEvent const& e)
{
    activate(entry_at(e.pos.y), false);
    return false;
}

void CPopupMenu::on_mouse_move(MouseEvent const& e)
{
    int const i = entry_at(e.pos.y);
    if (i == hovered_) return;
    hovered_ = i;
    invalidate();
    if (i >= 0 && !entries_[static_cast<std::size_t>(i)].submenu.empty()) open_child(i, false);
    else if (i >= 0) close_child();
}

void CPopupMenu::move_hover(int direction)
{
    int const n = static_cast<int>(entries_.size());
    int i = hovered_;
    for (int k = 0; k < n; ++k) {
        i = i < 0 ? (direction > 0 ? 0 : n - 1) : (i + direction + n) % n;
        auto const& e = entries_[static_cast<std::size_t>(i)];
        if (!e.separator && e.enabled) break;
    }
    hovered_ = i;
    invalidate();
}

bool CPopupMenu::on_key(KeyEvent const& e)
{
    switch (e.key) {
    case Key::down: move_hover(1); return true;
    case Key::up: move_hover(-1); return true;
    case Key::enter:
    case Key::space: activate(hovered_, true); return true;
    case Key::right:
        if (hovered_ >= 0 && !entries_[static_cast<std::size_t>(hovered_)].submenu.empty()) open_child(hovered_, true);
        return true;
    case Key::left:
    case Key::escape:
        if (parent_menu_) {
            parent_menu_->close_child();
            return true;
        }
        if (e.key == Key::escape) {
            if (CRoot* r = root()) r->close_transient_overlays();
            return true;
        }
        return true;
    default: return true; // an open menu keeps the keyboard
    }
}

void CPopupMenu::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const b{0, 0, frame().w - shadow, frame().h - shadow};
    // A soft shadow, then the body.
    rounded_rect(cr, b.moved(shadow, shadow), 5);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.3);
    cairo_fill(cr);
    rounded_rect(cr, b.inset(0.5), 5);
    set_colour(cr, theme.popup);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i) {
        auto const& e = entries_[static_cast<std::size_t>(i)];
        Rect const r = entry_rect(i);
        if (e.separator) {
            set_colour(cr, theme.frame);
            cairo_move_to(cr, 8, r.y + r.h / 2);
            cairo_line_to(cr, r.w - 8, r.y + r.h / 2);
            cairo_stroke(cr);
            continue;
        }
        bool const lit = (i == hovered_ || i == child_of_) && e.enabled;
        if (lit) {
            rounded_rect(cr, {3, r.y, r.w - 6, r.h}, 3);
            set_colour(cr, theme.highlight);
            cairo_fill(cr);
        }
        Colour const& ink = !e.enabled ? theme.text_dim : lit ? theme.on_highlight : theme.text;
        if (leaf_number(i) == current_ && current_ >= 0) draw_tick(cr, 7, r.y + r.h / 2, ink);
        draw_text(cr, e.text, {tick_column, r.y, r.w - tick_column - arrow_column, r.h}, Font::body, Align::left,
                  ink, theme);
        if (!e.submenu.empty()) draw_arrow(cr, r.w - arrow_column / 2, r.y + r.h / 2, true, ink);
    }
}

// ---- CChoiceMenu ------------------------------------------------------------------------------

CChoiceMenu::~CChoiceMenu()
{
    if (CRoot* r = root()) r->close_transient_overlays();
}

void CChoiceMenu::set_entries(std::vector<MenuEntry> entries)
{
    entries_ = std::move(entries);
    set_steps(leaf_count(entries_));
    invalidate();
}

void CChoiceMenu::set_title(std::string title)
{
    title_ = std::move(title);
    invalidate();
}

Rect CChoiceMenu::face() const
{
    double const top = label().empty() ? 0 : label_height;
    return {0, top, frame().w, frame().h - top};
}

void CChoiceMenu::open()
{
    CRoot* r = root();
    if (!r || entries_.empty()) return;
    int const current = title_.empty() ? chosen() : -1;
    r->open_menu(entries_, to_root(face()), current, [this](int tag) {
        if (title_.empty()) {
            // The value follows the leaf whose tag came back.
            for (int i = 0, n = leaf_count(entries_); i < n; ++i) {
                MenuEntry const* leaf = leaf_at(entries_, i);
                if ((leaf->tag >= 0 ? leaf->tag : i) == tag) {
                    user_set(n > 1 ? static_cast<double>(i) / (n - 1) : 0);
                    break;
                }
            }
        }
        if (on_choose) on_choose(*this, tag);
    });
}

bool CChoiceMenu::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (title_.empty() && default_click(e)) return false;
    open();
    return false;
}

bool CChoiceMenu::on_key(KeyEvent const& e)
{
    if (e.key == Key::enter || e.key == Key::space || e.key == Key::down) {
        open();
        return true;
    }
    return title_.empty() ? CValueControl::on_key(e) : false;
}

void CChoiceMenu::draw(cairo_t* cr, CTheme const& theme)
{
    if (!label().empty())
        draw_text(cr, label(), {0, 0, frame().w, label_height}, Font::small, Align::left, theme.text_dim, theme);
    Rect const f = face().inset(0.5);
    rounded_rect(cr, f, 4);
    set_colour(cr, theme.face);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    std::string shown = title_;
    if (shown.empty()) {
        MenuEntry const* leaf = leaf_at(entries_, chosen());
        shown = leaf ? leaf->text : std::string();
    }
    bool const lit = enabled() && !muted();
    draw_text(cr, shown, {f.x + 6, f.y, f.w - 26, f.h}, Font::small, Align::left, lit ? text_colour(theme) : theme.text_dim,
              theme);
    draw_arrow(cr, f.right() - 10, f.y + f.h / 2, false, lit ? accent_colour(theme) : theme.text_dim);
}

} // namespace corvella::ui
