#pragma once

// A control that edits one value: normalised 0..1, with a default, an optional number of discrete
// positions, and a formatter that shows the value in its own units. The user's changes go out as
// a gesture: on_begin, any number of on_change, on_end (a host records automation between them).
// set_value() is for changes from outside (host automation, program loads): it redraws the
// control and calls nothing back.

#include "editor/ui/widget.h"

#include <functional>
#include <string>

namespace corvella::ui {

class CValueControl : public CWidget {
public:
    using Formatter = std::function<std::string(double value)>;
    using Gesture = std::function<void(CValueControl&)>;
    using Change = std::function<void(CValueControl&, double value)>;

    double value() const { return value_; }
    void set_value(double value); // no callbacks; NaN is ignored, the rest clamped and quantised
    double default_value() const { return default_; }
    void set_default_value(double value);

    // 0 or 1: continuous; n >= 2: n positions 0, 1/(n-1), ... 1.
    int steps() const { return steps_; }
    void set_steps(int steps);
    int position() const; // the value as a position 0..steps-1 (0 when continuous)

    std::string const& label() const { return label_; }
    void set_label(std::string label);
    void set_formatter(Formatter formatter);
    std::string text() const; // the value as the formatter shows it (a percentage without one)

    // A wheel notch adds 0.1 x increment to the value, 0.01 x increment with a fine modifier.
    // Stepped controls move one position per notch either way.
    void set_wheel_increment(double increment) { wheel_increment_ = increment; }
    double wheel_increment() const { return wheel_increment_; }

    // Where a value arc starts: 0 for plain values, 0.5 for values around a centre.
    void set_origin(double origin);
    double origin() const { return origin_; }

    // Which accent the control's value uses: 0 the theme's accent, 1 its second accent.
    void set_accent(int accent);

    // A value that does not apply at the moment (its section is off): drawn dim, still editable.
    void set_muted(bool muted);
    bool muted() const { return muted_; }

    Gesture on_begin;
    Change on_change;
    Gesture on_end;

    bool in_gesture() const { return in_gesture_; }

    bool takes_mouse() const override { return true; }
    bool takes_focus() const override { return true; }
    bool on_scroll(ScrollEvent const& e) override;
    bool on_key(KeyEvent const& e) override;
    void on_capture_lost() override { end_gesture(); }

protected:
    void begin_gesture();
    void change_value(double value); // inside a gesture: set, redraw, report when it changed
    void end_gesture();
    void user_set(double value); // a whole gesture of one change
    // Applies the default-value click; true when `e` was one (the caller then does nothing else).
    bool default_click(MouseEvent const& e);
    bool fine(unsigned mods) const;
    double quantise(double value) const;
    Colour const& accent_colour(CTheme const& theme) const;
    Colour const& text_colour(CTheme const& theme) const; // warning or body text
    // Moves by `notches` keyboard/wheel steps.
    void step_by(double notches, unsigned mods);

private:
    std::string label_;
    Formatter formatter_;
    double value_ = 0;
    double default_ = 0;
    double origin_ = 0;
    double wheel_increment_ = 0.5;
    int steps_ = 0;
    int accent_ = 0;
    bool muted_ = false;
    bool in_gesture_ = false;
};

} // namespace corvella::ui
