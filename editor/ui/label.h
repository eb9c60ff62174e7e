#pragma once

// Text and pictures: a plain label, a titled group frame, and the clickable label and picture that
// either run an action (open a menu, say) or step through their positions.

#include "editor/ui/paint.h"
#include "editor/ui/value_control.h"

#include <functional>

namespace corvella::ui {

class CLabel : public CWidget {
public:
    CLabel() = default;
    explicit CLabel(std::string text, Font font = Font::body, Align align = Align::left);
    std::string const& text() const { return text_; }
    void set_text(std::string text);
    void set_font(Font font);
    void set_align(Align align);
    void set_dim(bool dim); // the theme's secondary text colour

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    std::string text_;
    Font font_ = Font::body;
    Align align_ = Align::left;
    bool dim_ = false;
};

// A group: panel fill, faint frame and a title on its top edge. Children are placed inside; the
// title strip is `title_height` tall.
class CGroupBox : public CWidget {
public:
    explicit CGroupBox(std::string title = {});
    void set_title(std::string title);
    static constexpr double title_height = 20;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    std::string title_;
};

// A picture: a drawing function (vector art at any scale) or a Cairo surface scaled to fit.
class CPicture {
public:
    using Painter = std::function<void(cairo_t* cr, Rect const& area, CTheme const& theme, double value)>;
    CPicture() = default;
    explicit CPicture(Painter painter);
    explicit CPicture(cairo_surface_t* surface); // takes a reference of its own
    CPicture(CPicture const& other);
    CPicture& operator=(CPicture const& other);
    ~CPicture();
    void paint(cairo_t* cr, Rect const& area, CTheme const& theme, double value) const;
    bool empty() const { return !painter_ && !surface_; }

private:
    Painter painter_;
    cairo_surface_t* surface_ = nullptr;
};

// Base of the clickable label and picture: a click (or Enter/Space) runs on_click when it is set,
// otherwise steps to the next position (wrapping) as one gesture.
class CClickable : public CValueControl {
public:
    std::function<void(CClickable&)> on_click;
    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;
    void on_mouse_move(MouseEvent const& e) override;
    void on_mouse_leave() override;
    bool hovered() const { return hovered_; }

private:
    void click();
    bool hovered_ = false;
};

// Shows the formatted value when it has steps or a formatter was set, otherwise its text.
class CClickLabel : public CClickable {
public:
    CClickLabel() = default;
    explicit CClickLabel(std::string text);
    void set_text(std::string text);
    std::string const& plain_text() const { return text_; }
    void set_formatted(bool formatted); // show text() (the value) instead of the plain text

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    std::string text_;
    bool formatted_ = false;
};

class CClickPicture : public CClickable {
public:
    CClickPicture() = default;
    explicit CClickPicture(CPicture picture);
    void set_picture(CPicture picture);

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    CPicture picture_;
};

} // namespace corvella::ui
