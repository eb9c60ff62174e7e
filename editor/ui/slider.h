#pragma once

// A horizontal slider: label at the left and value at the right above a track. A press on the
// track moves the thumb there (not with a fine modifier); dragging then follows the pointer,
// at a tenth of the speed with a fine modifier.

#include "editor/ui/value_control.h"

namespace corvella::ui {

class CHSlider : public CValueControl {
public:
    bool on_mouse_down(MouseEvent const& e) override;
    void on_mouse_drag(MouseEvent const& e) override;
    void on_mouse_up(MouseEvent const& e) override;

    // The track's horizontal extent in local coordinates: value 0 at left(), 1 at right().
    double track_left() const { return thumb_radius + 2; }
    double track_right() const { return frame().w - thumb_radius - 2; }
    double track_y() const;

    static constexpr double thumb_radius = 6;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    double drag_value_ = 0; // unquantised value the drag has reached
    double last_x_ = 0;
};

} // namespace corvella::ui
