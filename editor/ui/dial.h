#pragma once

// A knob: its label above, an arc from the value's origin to the value, the value in its units
// below. How a drag turns it follows the root's dial mode (circular, relative circular, linear);
// a fine modifier slows relative and linear drags to a tenth.

#include "editor/ui/value_control.h"

namespace corvella::ui {

class CDial : public CValueControl {
public:
    bool on_mouse_down(MouseEvent const& e) override;
    void on_mouse_drag(MouseEvent const& e) override;
    void on_mouse_up(MouseEvent const& e) override;

    // The dial's circle inside the frame (local coordinates): centre and radius.
    Point centre() const;
    double radius() const;

    static constexpr double label_height = 14; // logical units above the dial
    static constexpr double value_height = 14; // and below it

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    double angle_value(Point p, bool& defined) const; // value under the pointer in circular mode

    DialMode mode_ = DialMode::circular; // fixed for one drag
    double drag_value_ = 0;              // unquantised value the drag has reached
    Point last_;                         // pointer at the previous drag event
};

} // namespace corvella::ui
