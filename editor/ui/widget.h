#pragma once

// The retained widget tree. A widget has a frame in its parent's logical coordinates, draws itself
// in its own coordinates, and owns its children. Changing what a widget shows calls invalidate(),
// which hands the widget's area to the root; the host repaints the root's dirty area later.
//
// Threading: the whole tree belongs to the UI thread.

#include "editor/ui/events.h"
#include "editor/ui/geometry.h"
#include "editor/ui/theme.h"

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

namespace corvella::ui {

class CRoot;

class CWidget {
public:
    CWidget() = default;
    virtual ~CWidget();
    CWidget(CWidget const&) = delete;
    CWidget& operator=(CWidget const&) = delete;

    // Tree. add() builds a child in place and returns it; the parent owns it.
    template <class W, class... Args>
    W& add(Rect const& frame, Args&&... args)
    {
        auto child = std::make_unique<W>(std::forward<Args>(args)...);
        W& ref = *child;
        adopt(std::move(child), frame);
        return ref;
    }
    CWidget& adopt(std::unique_ptr<CWidget> child, Rect const& frame);
    std::unique_ptr<CWidget> remove(CWidget& child); // the child, detached; null if not ours
    std::vector<std::unique_ptr<CWidget>> const& children() const { return children_; }
    CWidget* parent() const { return parent_; }
    CRoot* root() const; // null while the widget is not under a root

    // The first widget at or below this one whose id is `id`.
    CWidget* find(std::string const& id);

    // Identity, e.g. the key of the setting a control edits; the toolkit does not interpret it.
    std::string const& id() const { return id_; }
    void set_id(std::string id) { id_ = std::move(id); }

    // Geometry, in logical units.
    Rect const& frame() const { return frame_; }
    void set_frame(Rect const& frame);
    Rect bounds() const { return {0, 0, frame_.w, frame_.h}; }
    Point to_root(Point p) const;
    Rect to_root(Rect const& r) const;

    // State.
    bool visible() const { return visible_; }
    void set_visible(bool visible);
    bool enabled() const { return enabled_; }
    void set_enabled(bool enabled);
    bool shown() const; // visible, and so are all ancestors up to the root
    bool warning() const { return warning_; }
    void set_warning(bool warning); // text drawn in the theme's warning colour
    bool has_focus() const;

    // Marks the widget (or a part of it, local coordinates) for repainting.
    void invalidate();
    void invalidate(Rect const& local);

    // Draws this widget and its visible children that meet `clip` (local coordinates).
    void paint(cairo_t* cr, CTheme const& theme, Rect const& clip);

    // The deepest shown, enabled widget at `local` that takes the mouse, or null.
    virtual CWidget* hit_test(Point local);

    // Input. Mouse positions are local. on_mouse_down returns true to capture the mouse until the
    // button is released: drags and the release then come here wherever the pointer goes.
    virtual bool takes_mouse() const { return false; }
    virtual bool takes_focus() const { return false; }
    virtual bool on_mouse_down(MouseEvent const&) { return false; }
    virtual void on_mouse_drag(MouseEvent const&) {}
    virtual void on_mouse_up(MouseEvent const&) {}
    virtual void on_mouse_move(MouseEvent const&) {}
    virtual void on_mouse_leave() {}
    virtual void on_capture_lost() {} // a drag ended without a release (a modal box opened, say)
    virtual bool on_scroll(ScrollEvent const&) { return false; }
    virtual bool on_key(KeyEvent const&) { return false; }

    // Where the keyboard focus ring goes (local coordinates).
    virtual Rect focus_rect() const { return bounds(); }

    // Overlays: a modal one takes all input; a transient one closes on a click outside it.
    virtual bool modal() const { return false; }
    virtual bool transient() const { return false; }

protected:
    // Own look only; children are painted after it, on top.
    virtual void draw(cairo_t*, CTheme const&) {}
    virtual void on_resized() {}
    CTheme const& theme() const; // the root's, or the first scheme when detached

private:
    friend class CRoot;
    void forget_subtree();
    void forget_subtree_input(); // hidden or disabled: no capture, hover or focus stays inside

    std::vector<std::unique_ptr<CWidget>> children_;
    CWidget* parent_ = nullptr;
    CRoot* root_self_ = nullptr; // set on the root only
    std::string id_;
    Rect frame_;
    bool visible_ = true;
    bool enabled_ = true;
    bool warning_ = false;
};

} // namespace corvella::ui
