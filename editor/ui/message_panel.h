#pragma once

// A modal message box drawn over the whole window: a title, wrapped text, and "OK" or "Yes"/"No".
// Opened with CRoot::show_message; it takes all input until answered. Left/Right/Tab move between
// the buttons, Enter or Space presses the focused one, Escape answers "No" (or "OK"), and the
// keys Y and N answer a question directly.

#include "editor/ui/root.h"

#include <functional>
#include <string>

namespace corvella::ui {

class CMessagePanel : public CWidget {
public:
    CMessagePanel(std::string title, std::string text, Buttons buttons, std::function<void(Answer)> answer);

    std::string const& title() const { return title_; }
    std::string const& text() const { return text_; }
    Rect box() const;                // the panel in local (= root) coordinates
    Rect button_rect(int index) const; // 0 = "Yes" or "OK", 1 = "No"
    int button_count() const { return buttons_ == Buttons::yes_no ? 2 : 1; }
    int focused_button() const { return focus_; }
    void answer(Answer a); // closes the box, then reports

    bool modal() const override { return true; }
    bool takes_mouse() const override { return true; }
    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    Answer answer_for(int button) const;
    Size text_size() const;

    std::string title_;
    std::string text_;
    Buttons buttons_;
    std::function<void(Answer)> answer_;
    int focus_ = 0;
    bool answered_ = false;
};

} // namespace corvella::ui
