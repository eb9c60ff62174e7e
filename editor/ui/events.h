#pragma once

// Input as the root hands it to widgets: positions already in the widget's own logical
// coordinates (origin at its top-left corner).

#include "editor/ui/geometry.h"

#include <cstdint>

namespace corvella::ui {

enum class Button { none, left, middle, right };

// Modifier keys held during an event; a bit set.
namespace mod {
inline constexpr unsigned shift = 1u << 0;
inline constexpr unsigned control = 1u << 1;
inline constexpr unsigned alt = 1u << 2;
inline constexpr unsigned super = 1u << 3; // the "Windows"/"Command" key
} // namespace mod

enum class Key {
    other,     // a printable character (see KeyEvent::character) or a key without a meaning here
    tab,
    enter,
    space,
    escape,
    left,
    right,
    up,
    down,
    home,
    end,
    page_up,
    page_down,
    backspace,
    del,
};

struct MouseEvent {
    Point pos;                   // in the receiving widget's coordinates
    Button button = Button::none; // the button pressed or released; none for moves
    unsigned mods = 0;           // mod:: bits
};

struct ScrollEvent {
    Point pos;         // in the receiving widget's coordinates
    double dx = 0;     // notches to the right
    double dy = 0;     // notches upwards (away from the user)
    unsigned mods = 0; // mod:: bits
};

struct KeyEvent {
    Key key = Key::other;
    unsigned mods = 0;           // mod:: bits
    std::uint32_t character = 0; // Unicode code point for Key::other, else 0
};

} // namespace corvella::ui

namespace corvella::ui {

// How a dial follows a drag: the angle of the pointer around the centre sets the value, or turning
// the pointer around the centre moves the value from where it was, or dragging up/right raises it
// like a slider. The numbers are the ones a stored preference uses.
enum class DialMode { circular = 0, relative_circular = 1, linear = 2 };

// Input preferences shared by every control under one root; changes apply at once.
struct InputOptions {
    DialMode dial_mode = DialMode::circular;
    unsigned fine_modifiers = mod::shift | mod::control; // any of these gives 1/10 steps
    unsigned default_modifiers = mod::alt;               // a click with all of these restores the default
    double linear_drag_span = 200;                       // logical units of drag for the whole range
};

} // namespace corvella::ui
