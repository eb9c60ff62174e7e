#include "editor/ui/root.h"

#include "editor/ui/menu.h"
#include "editor/ui/message_panel.h"
#include "editor/ui/paint.h"
#include "editor/ui/value_control.h"

#include <algorithm>

namespace corvella::ui {

namespace {

bool is_within(CWidget const* w, CWidget const& subtree)
{
    for (; w; w = w->parent())
        if (w == &subtree) return true;
    return false;
}

constexpr std::size_t max_dirty_rects = 8; // beyond this they merge into one

} // namespace

CRoot::CRoot(CTheme const& theme) : theme_(theme)
{
    root_self_ = this;
}

CRoot::~CRoot()
{
    // Children and overlays leave while the root can still hear about it; the host is not asked
    // to repaint a window that is going away.
    repaint_request_ = nullptr;
    overlays_.clear();
    closed_.clear();
    while (!children().empty()) remove(*children().back());
}

void CRoot::set_size(Size logical)
{
    set_frame({0, 0, logical.w, logical.h});
    add_dirty(bounds());
}

void CRoot::set_scale(double scale)
{
    if (!(scale > 0)) return;
    scale_ = scale;
    add_dirty(bounds());
}

void CRoot::set_theme(CTheme const& theme)
{
    theme_ = theme;
    add_dirty(bounds());
}

void CRoot::add_dirty(Rect const& root_rect)
{
    Rect r = root_rect.intersected(bounds());
    if (r.empty()) return;
    bool const was_clean = dirty_.empty();
    // Merge with whatever it touches so the list stays short.
    for (bool merged = true; merged;) {
        merged = false;
        for (auto it = dirty_.begin(); it != dirty_.end(); ++it) {
            if (it->intersects(r)) {
                r = r.united(*it);
                dirty_.erase(it);
                merged = true;
                break;
            }
        }
    }
    dirty_.push_back(r);
    if (dirty_.size() > max_dirty_rects) {
        Rect all;
        for (auto const& d : dirty_) all = all.united(d);
        dirty_.assign(1, all);
    }
    if (repaint_request_) repaint_request_(to_pixels(was_clean ? r : dirty_.back(), scale_));
}

PixelRect CRoot::dirty_pixels() const
{
    Rect all;
    for (auto const& d : dirty_) all = all.united(d);
    return to_pixels(all, scale_);
}

void CRoot::draw(cairo_t* cr)
{
    cairo_save(cr);
    cairo_scale(cr, scale_, scale_);
    double x1, y1, x2, y2;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    Rect const clip = Rect{x1, y1, x2 - x1, y2 - y1}.intersected(bounds());
    if (!clip.empty()) {
        paint(cr, theme_, clip);
        if (focus_visible_ && focused_ && focused_->shown()) {
            cairo_save(cr);
            Rect const r = focused_->to_root(focused_->focus_rect());
            focus_ring(cr, r, theme_);
            cairo_restore(cr);
        }
        for (auto& o : overlays_) {
            if (!o->visible() || !o->frame().intersects(clip)) continue;
            cairo_save(cr);
            cairo_translate(cr, o->frame().x, o->frame().y);
            o->paint(cr, theme_, clip.moved(-o->frame().x, -o->frame().y));
            cairo_restore(cr);
        }
    }
    cairo_restore(cr);
    dirty_.clear();
}

void CRoot::draw(cairo_t* cr, CTheme const& theme)
{
    set_colour(cr, theme.background);
    cairo_rectangle(cr, 0, 0, frame().w, frame().h);
    cairo_fill(cr);
}

MouseEvent CRoot::local_event(CWidget& w, Point p, Button b, unsigned mods) const
{
    Point const o = w.to_root(Point{0, 0});
    return {{p.x - o.x, p.y - o.y}, b, mods};
}

CWidget* CRoot::overlay_target(Point p, bool& consumed)
{
    consumed = false;
    if (overlays_.empty()) return nullptr;
    // A modal overlay (the newest one) takes everything.
    for (auto it = overlays_.rbegin(); it != overlays_.rend(); ++it) {
        CWidget& o = **it;
        if (o.modal()) {
            consumed = true;
            return o.hit_test({p.x - o.frame().x, p.y - o.frame().y});
        }
        if (CWidget* hit = o.hit_test({p.x - o.frame().x, p.y - o.frame().y})) {
            consumed = true;
            return hit;
        }
    }
    return nullptr;
}

bool CRoot::mouse_down(double px, double py, Button button, unsigned mods)
{
    Point const p{px / scale_, py / scale_};
    if (captured_ || claimed_) return true; // a second button during a drag changes nothing
    focus_visible_ = false;
    if (focused_) focused_->invalidate();
    bool consumed = false;
    CWidget* target = overlay_target(p, consumed);
    if (!consumed && std::any_of(overlays_.begin(), overlays_.end(), [](auto& o) { return o->transient(); })) {
        // A click outside open menus closes them and does nothing else.
        close_transient_overlays();
        flush_closed();
        return true;
    }
    if (!consumed) target = hit_test(p);
    if (!target) {
        flush_closed();
        return consumed;
    }
    if (target->takes_focus()) set_focus(target);
    if (auto* vc = dynamic_cast<CValueControl*>(target); vc && claim_ && claim_(*vc, MouseAction::down, mods)) {
        claimed_ = vc;
        return true;
    }
    if (target->on_mouse_down(local_event(*target, p, button, mods)) && target->shown()) captured_ = target;
    flush_closed();
    return true;
}

bool CRoot::mouse_move(double px, double py, unsigned mods)
{
    Point const p{px / scale_, py / scale_};
    if (claimed_) {
        claim_(*claimed_, MouseAction::drag, mods);
        return true;
    }
    if (captured_) {
        captured_->on_mouse_drag(local_event(*captured_, p, Button::none, mods));
        flush_closed();
        return true;
    }
    bool consumed = false;
    CWidget* target = overlay_target(p, consumed);
    if (!consumed && !std::any_of(overlays_.begin(), overlays_.end(), [](auto& o) { return o->modal(); }))
        target = hit_test(p);
    if (hovered_ && hovered_ != target) hovered_->on_mouse_leave();
    hovered_ = target;
    if (target) target->on_mouse_move(local_event(*target, p, Button::none, mods));
    flush_closed();
    return target != nullptr;
}

bool CRoot::mouse_up(double px, double py, Button button, unsigned mods)
{
    Point const p{px / scale_, py / scale_};
    if (claimed_) {
        CValueControl* c = claimed_;
        claimed_ = nullptr;
        claim_(*c, MouseAction::up, mods);
        return true;
    }
    if (!captured_) return false;
    CWidget* c = captured_;
    captured_ = nullptr;
    c->on_mouse_up(local_event(*c, p, button, mods));
    flush_closed();
    return true;
}

bool CRoot::scroll(double px, double py, double dx, double dy, unsigned mods)
{
    Point const p{px / scale_, py / scale_};
    if (captured_ || claimed_) return true;
    bool consumed = false;
    CWidget* target = overlay_target(p, consumed);
    if (!overlays_.empty()) {
        // Wheel turns under an open menu or box would change values nobody is looking at.
        bool const blocking =
            std::any_of(overlays_.begin(), overlays_.end(), [](auto& o) { return o->modal() || o->transient(); });
        if (blocking && !consumed) return true;
    }
    if (!consumed) target = hit_test(p);
    for (CWidget* w = target; w; w = w->parent()) {
        Point const o = w->to_root(Point{0, 0});
        if (w->on_scroll({{p.x - o.x, p.y - o.y}, dx, dy, mods})) {
            flush_closed();
            return true;
        }
    }
    return consumed;
}

bool CRoot::key_down(KeyEvent const& key)
{
    bool handled = false;
    if (!overlays_.empty()) {
        // The newest overlay (a message box, or the innermost open menu) has the keyboard.
        CWidget& top = *overlays_.back();
        handled = top.on_key(key);
        if (!handled && key.key == Key::escape && top.transient()) {
            close_overlay(top);
            handled = true;
        }
        if (top.modal()) handled = true;
    } else if (key.key == Key::tab && !(key.mods & (mod::control | mod::alt | mod::super))) {
        handled = focus_next((key.mods & mod::shift) != 0);
    } else if (focused_ && focused_->shown() && focused_->enabled()) {
        handled = focused_->on_key(key);
    }
    if (handled && focused_ && !focus_visible_) {
        focus_visible_ = true;
        focused_->invalidate();
    }
    flush_closed();
    return handled;
}

void CRoot::set_focus(CWidget* widget)
{
    if (widget == focused_) return;
    if (focused_) focused_->invalidate();
    focused_ = widget;
    if (focused_) focused_->invalidate();
}

void CRoot::collect_focusable(CWidget& w, std::vector<CWidget*>& out)
{
    if (!w.visible() || !w.enabled()) return;
    if (w.takes_focus()) out.push_back(&w);
    for (auto& c : w.children()) collect_focusable(*c, out);
}

bool CRoot::focus_next(bool backwards)
{
    std::vector<CWidget*> list;
    collect_focusable(*this, list);
    if (list.empty()) return false;
    auto it = std::find(list.begin(), list.end(), focused_);
    std::size_t i = 0;
    if (it == list.end()) {
        i = backwards ? list.size() - 1 : 0;
    } else {
        std::size_t const at = static_cast<std::size_t>(it - list.begin());
        i = backwards ? (at + list.size() - 1) % list.size() : (at + 1) % list.size();
    }
    set_focus(list[i]);
    focus_visible_ = true;
    return true;
}

CWidget& CRoot::push_overlay(std::unique_ptr<CWidget> overlay, Rect const& frame)
{
    if (overlay->modal()) {
        close_transient_overlays();
        drop_capture();
    }
    CWidget& ref = *overlay;
    ref.parent_ = this;
    ref.frame_ = frame;
    overlays_.push_back(std::move(overlay));
    ref.on_resized();
    add_dirty(frame);
    return ref;
}

void CRoot::close_overlay(CWidget& overlay)
{
    auto it = std::find_if(overlays_.begin(), overlays_.end(), [&](auto const& o) { return o.get() == &overlay; });
    if (it == overlays_.end()) return;
    add_dirty(overlay.frame());
    release_input(overlay);
    closed_.push_back(std::move(*it));
    overlays_.erase(it);
}

void CRoot::close_transient_overlays()
{
    for (std::size_t i = overlays_.size(); i-- > 0;)
        if (overlays_[i]->transient()) close_overlay(*overlays_[i]);
}

void CRoot::flush_closed()
{
    // Closed overlays are deleted here, after the event that closed them has unwound.
    while (!closed_.empty()) {
        std::unique_ptr<CWidget> o = std::move(closed_.back());
        closed_.pop_back();
        o->forget_subtree();
        o->parent_ = nullptr;
    }
}

void CRoot::drop_capture()
{
    if (captured_) {
        CWidget* c = captured_;
        captured_ = nullptr;
        c->on_capture_lost();
    }
}

void CRoot::release_input(CWidget& subtree)
{
    if (is_within(captured_, subtree)) drop_capture();
    if (is_within(hovered_, subtree)) {
        hovered_->on_mouse_leave();
        hovered_ = nullptr;
    }
    if (is_within(focused_, subtree)) focused_ = nullptr;
    if (is_within(claimed_, subtree)) claimed_ = nullptr;
}

void CRoot::forget(CWidget& widget)
{
    if (captured_ == &widget) captured_ = nullptr;
    if (hovered_ == &widget) hovered_ = nullptr;
    if (focused_ == &widget) focused_ = nullptr;
    if (claimed_ == &widget) claimed_ = nullptr;
}

void CRoot::open_menu(std::vector<MenuEntry> const& entries, Rect const& anchor, int current,
                      std::function<void(int tag)> choose)
{
    close_transient_overlays();
    CPopupMenu::open(*this, entries, anchor, current, std::move(choose));
}

CMessagePanel& CRoot::show_message(std::string title, std::string text, Buttons buttons,
                                   std::function<void(Answer)> answer)
{
    auto panel = std::make_unique<CMessagePanel>(std::move(title), std::move(text), buttons, std::move(answer));
    return static_cast<CMessagePanel&>(push_overlay(std::move(panel), bounds()));
}

} // namespace corvella::ui
