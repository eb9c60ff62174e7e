#pragma once

// A vertical multi-position switch: one row per position, position 0 at the top, the chosen row lit
// with the accent. A click (or a drag across the rows) picks the row under the pointer; Up and Down
// move one row.

#include "editor/ui/value_control.h"

#include <vector>

namespace corvella::ui {

class CStepSwitch : public CValueControl {
public:
    void set_positions(std::vector<std::string> names); // sets the steps too
    std::vector<std::string> const& positions() const { return names_; }
    Rect row(int index) const; // local rectangle of one position

    bool on_mouse_down(MouseEvent const& e) override;
    void on_mouse_drag(MouseEvent const& e) override;
    void on_mouse_up(MouseEvent const& e) override;
    bool on_scroll(ScrollEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    int row_at(double y) const;
    std::vector<std::string> names_;
};

} // namespace corvella::ui
