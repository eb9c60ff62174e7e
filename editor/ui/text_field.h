#pragma once

// A one-line text entry. A click focuses it and puts the caret there; typed characters go in at
// the caret (UTF-8), Backspace and Delete remove one character, Left/Right/Home/End move the caret.
// Enter reports on_enter; Escape empties the field and reports on_escape. Every change the user
// makes reports on_change; set_text() is for changes from outside and calls nothing back.

#include "editor/ui/widget.h"

#include <cstddef>
#include <functional>
#include <string>

namespace corvella::ui {

class CTextField : public CWidget {
public:
    CTextField() = default;
    explicit CTextField(std::string placeholder) : placeholder_(std::move(placeholder)) {}

    std::string const& text() const { return text_; }
    void set_text(std::string text); // the caret goes to the end
    std::size_t caret() const { return caret_; } // byte offset into text()
    void set_placeholder(std::string text);     // shown dim while the field is empty

    std::function<void(CTextField&)> on_change;
    std::function<void(CTextField&)> on_enter;
    std::function<void(CTextField&)> on_escape;

    bool takes_mouse() const override { return true; }
    bool takes_focus() const override { return true; }
    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

    static constexpr double padding = 6;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    void edited();
    std::size_t previous_boundary(std::size_t at) const;
    std::size_t next_boundary(std::size_t at) const;
    double text_x() const; // where the text starts, scrolled so the caret stays inside

    std::string text_;
    std::string placeholder_;
    std::size_t caret_ = 0;
};

} // namespace corvella::ui
