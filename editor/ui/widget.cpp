#include "editor/ui/widget.h"

#include "editor/ui/root.h"

#include <algorithm>

namespace corvella::ui {

CWidget::~CWidget()
{
    // Children go first, while this widget can still tell them which root they leave.
    while (!children_.empty()) {
        std::unique_ptr<CWidget> last = std::move(children_.back());
        children_.pop_back();
        last.reset();
    }
    if (CRoot* r = root(); r && r != root_self_) r->forget(*this);
}

CWidget& CWidget::adopt(std::unique_ptr<CWidget> child, Rect const& frame)
{
    CWidget& ref = *child;
    ref.parent_ = this;
    ref.frame_ = frame;
    children_.push_back(std::move(child));
    ref.on_resized();
    ref.invalidate();
    return ref;
}

std::unique_ptr<CWidget> CWidget::remove(CWidget& child)
{
    auto it = std::find_if(children_.begin(), children_.end(), [&](auto const& c) { return c.get() == &child; });
    if (it == children_.end()) return nullptr;
    child.invalidate();
    child.forget_subtree();
    std::unique_ptr<CWidget> out = std::move(*it);
    children_.erase(it);
    out->parent_ = nullptr;
    return out;
}

void CWidget::forget_subtree()
{
    if (CRoot* r = root()) {
        r->forget(*this);
        for (auto& c : children_) c->forget_subtree();
    }
}

CRoot* CWidget::root() const
{
    CWidget const* w = this;
    while (w->parent_) w = w->parent_;
    return w->root_self_;
}

CWidget* CWidget::find(std::string const& id)
{
    if (id_ == id) return this;
    for (auto& c : children_)
        if (CWidget* f = c->find(id)) return f;
    return nullptr;
}

void CWidget::set_frame(Rect const& frame)
{
    if (frame == frame_) return;
    invalidate();
    frame_ = frame;
    on_resized();
    invalidate();
}

Point CWidget::to_root(Point p) const
{
    for (CWidget const* w = this; w && !w->root_self_; w = w->parent_) {
        p.x += w->frame_.x;
        p.y += w->frame_.y;
    }
    return p;
}

Rect CWidget::to_root(Rect const& r) const
{
    Point const o = to_root(Point{r.x, r.y});
    return {o.x, o.y, r.w, r.h};
}

void CWidget::set_visible(bool visible)
{
    if (visible == visible_) return;
    if (!visible) {
        invalidate();
        visible_ = false;
        forget_subtree_input();
    } else {
        visible_ = true;
        invalidate();
    }
}

void CWidget::set_enabled(bool enabled)
{
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled) forget_subtree_input();
    invalidate();
}

void CWidget::forget_subtree_input()
{
    if (CRoot* r = root()) r->release_input(*this);
}

void CWidget::set_warning(bool warning)
{
    if (warning == warning_) return;
    warning_ = warning;
    invalidate();
}

bool CWidget::shown() const
{
    for (CWidget const* w = this; w; w = w->parent_)
        if (!w->visible_) return false;
    return root() != nullptr;
}

bool CWidget::has_focus() const
{
    CRoot const* r = root();
    return r && r->focused() == this;
}

void CWidget::invalidate()
{
    invalidate(bounds());
}

void CWidget::invalidate(Rect const& local)
{
    if (!shown()) return;
    // A little extra for anti-aliased edges and the focus ring.
    root()->add_dirty(to_root(local).inset(-2));
}

void CWidget::paint(cairo_t* cr, CTheme const& theme, Rect const& clip)
{
    if (!visible_) return;
    draw(cr, theme);
    for (auto& c : children_) {
        if (!c->visible_ || !c->frame_.intersects(clip)) continue;
        cairo_save(cr);
        cairo_translate(cr, c->frame_.x, c->frame_.y);
        c->paint(cr, theme, clip.moved(-c->frame_.x, -c->frame_.y));
        cairo_restore(cr);
    }
}

CWidget* CWidget::hit_test(Point local)
{
    if (!visible_ || !enabled_ || !bounds().contains(local)) return nullptr;
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CWidget& c = **it;
        if (CWidget* hit = c.hit_test({local.x - c.frame_.x, local.y - c.frame_.y})) return hit;
    }
    return takes_mouse() ? this : nullptr;
}

CTheme const& CWidget::theme() const
{
    CRoot const* r = root();
    return r ? r->current_theme() : themes()[0];
}

} // namespace corvella::ui
