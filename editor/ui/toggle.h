#pragma once

// An on/off button: a press flips it (one gesture). "On" is filled with the accent. The face shows
// the label, or the on/off texts when they are set.

#include "editor/ui/value_control.h"

namespace corvella::ui {

class CToggle : public CValueControl {
public:
    CToggle();
    bool on() const { return value() >= 0.5; }
    void set_texts(std::string off_text, std::string on_text); // empty: the label either way

    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    std::string off_text_;
    std::string on_text_;
};

} // namespace corvella::ui
