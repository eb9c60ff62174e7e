#pragma once

// The top of a widget tree and its link to the host window. The host hands over pixel sizes,
// the scale factor and raw input in pixels; the root turns them into logical units, routes input
// (overlays first, then the captured widget, then the widget under the pointer or with the focus)
// and collects the areas that need repainting.
//
// Hosting, for a window toolkit that paints with Cairo:
//   root.set_scale(s); root.set_size({w, h});            // logical size; pixels = logical * s
//   root.set_repaint_request([&](PixelRect r) { window.repaint(r); });
//   on paint:   root.draw(cr);                             // cr in window pixels
//   on input:   root.mouse_down(px, py, Button::left, mods) ... root.key_down(KeyEvent{...})
// Each input call returns whether the tree used the event, so unused keys can go to the host.
//
// Threading: UI thread only. Callbacks run inside the input or value call that caused them; a
// callback may hide, show, add or rebuild other widgets, but must not delete the widget whose
// callback is running (hide it, or delete it later from idle time).
//
// DPF's Cairo UI maps onto this directly: onCairoDisplay(c) -> root.draw(c.handle); onResize and
// the window scale factor -> set_size(pixels / scale) and set_scale(scale); onMouse/onMotion/
// onScroll/onKeyboard -> the input calls below (DPF's kModifierShift/Control/Alt/Super to mod::
// bits; its scroll delta.y is positive upwards, as here); the repaint request -> repaint().

#include "editor/ui/widget.h"

#include <functional>
#include <string>

namespace corvella::ui {

class CValueControl;
class CMessagePanel;
struct MenuEntry;

enum class MouseAction { down, drag, up };

// Offered every mouse action on a value control before the control sees it; returning true
// claims the action (a host using modifier clicks for its own automation gestures).
using MouseClaim = std::function<bool(CValueControl& control, MouseAction action, unsigned mods)>;

enum class Buttons { ok, yes_no };
enum class Answer { ok, yes, no };

class CRoot : public CWidget {
public:
    explicit CRoot(CTheme const& theme = themes()[0]);
    ~CRoot() override;

    // Window.
    void set_size(Size logical);
    Size size() const { return {frame().w, frame().h}; }
    void set_scale(double scale); // device pixels per logical unit; repaints everything
    double scale() const { return scale_; }
    PixelRect pixel_size() const { return to_pixels(bounds(), scale_); }
    void set_theme(CTheme const& theme); // repaints everything
    CTheme const& current_theme() const { return theme_; }
    InputOptions& options() { return options_; }
    InputOptions const& options() const { return options_; }
    void set_mouse_claim(MouseClaim claim) { claim_ = std::move(claim); }

    // Repainting. Invalidation gathers logical rectangles; the host learns of them through the
    // request callback (called once per new dirty area) or by polling.
    void set_repaint_request(std::function<void(PixelRect)> request) { repaint_request_ = std::move(request); }
    void add_dirty(Rect const& root_rect);
    bool needs_repaint() const { return !dirty_.empty(); }
    std::vector<Rect> const& dirty_rects() const { return dirty_; } // logical
    PixelRect dirty_pixels() const;                                  // their union in pixels
    // Paints what the current clip of `cr` (window pixels) covers and forgets the dirty areas.
    void draw(cairo_t* cr);

    // Input in window pixels.
    bool mouse_down(double px, double py, Button button, unsigned mods);
    bool mouse_move(double px, double py, unsigned mods);
    bool mouse_up(double px, double py, Button button, unsigned mods);
    bool scroll(double px, double py, double dx, double dy, unsigned mods);
    bool key_down(KeyEvent const& key);
    CWidget* captured() const { return captured_; }

    // Keyboard focus: Tab and Shift+Tab walk the shown, enabled widgets that take focus in tree
    // order; a click on such a widget focuses it. The ring shows only after keyboard use.
    CWidget* focused() const { return focused_; }
    void set_focus(CWidget* widget);
    bool focus_next(bool backwards = false);

    // Overlays drawn above the tree, frames in root coordinates, newest on top.
    CWidget& push_overlay(std::unique_ptr<CWidget> overlay, Rect const& frame);
    void close_overlay(CWidget& overlay); // deleted once the current event is done
    void close_transient_overlays();
    std::vector<std::unique_ptr<CWidget>> const& overlays() const { return overlays_; }

    // A pop-up menu under `anchor` (root coordinates); `choose` receives the chosen item's tag.
    // `current` marks one item with a tick (a leaf index, or -1).
    void open_menu(std::vector<MenuEntry> const& entries, Rect const& anchor, int current,
                   std::function<void(int tag)> choose);

    // A modal message box; `answer` runs after it closed. Escape answers "No" (or "OK").
    CMessagePanel& show_message(std::string title, std::string text, Buttons buttons,
                                std::function<void(Answer)> answer);

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    friend class CWidget;
    void forget(CWidget& widget);        // a widget leaving the tree
    void release_input(CWidget& subtree); // hidden or disabled: input pointers leave it
    void drop_capture();
    CWidget* overlay_target(Point p, bool& consumed);
    void collect_focusable(CWidget& w, std::vector<CWidget*>& out);
    void flush_closed();
    MouseEvent local_event(CWidget& w, Point p, Button b, unsigned mods) const;

    CTheme theme_;
    InputOptions options_;
    MouseClaim claim_;
    std::function<void(PixelRect)> repaint_request_;
    double scale_ = 1;
    std::vector<Rect> dirty_;                     // logical, root coordinates
    std::vector<std::unique_ptr<CWidget>> overlays_;
    std::vector<std::unique_ptr<CWidget>> closed_; // overlays closed during the current event
    CWidget* captured_ = nullptr;
    CWidget* hovered_ = nullptr;
    CWidget* focused_ = nullptr;
    CValueControl* claimed_ = nullptr; // the control whose gesture the claim took
    bool focus_visible_ = false;
};

} // namespace corvella::ui
