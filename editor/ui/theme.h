#pragma once

// Colour schemes the widgets draw with: one calm palette per scheme, an accent for "on" states
// and a second accent so two sides of a page (say two slots) can be told apart.

#include <span>
#include <string>

namespace corvella::ui {

struct Colour {
    double r = 0; // 0..1, sRGB
    double g = 0;
    double b = 0;
    double a = 1;
};

// WCAG contrast ratio of two opaque colours (1 .. 21); body text wants at least 4.5.
double contrast_ratio(Colour const& a, Colour const& b);

struct CTheme {
    std::string name;       // shown in a scheme menu
    Colour background;      // the window
    Colour panel;           // group interiors, tab pages
    Colour frame;           // faint group frames and separators
    Colour face;            // buttons, menu faces, switch wells
    Colour track;           // the unfilled part of dial arcs and slider tracks
    Colour text;            // body text
    Colour text_dim;        // labels above controls, inactive tabs
    Colour accent;          // values, "on" states, the selected tab
    Colour accent_alt;      // the second accent
    Colour on_accent;       // text on an accent fill
    Colour warning;         // text that needs attention
    Colour focus;           // keyboard focus ring
    Colour popup;           // menus and message boxes
    Colour highlight;       // the menu item under the pointer
    Colour on_highlight;    // text on `highlight`
    Colour shade;           // veil behind a modal message box (translucent)
    std::string font_family = "DejaVu Sans";
    double font_small = 9.5; // logical units (pixels at scale 1)
    double font_body = 11;
    double font_title = 12;
    double unit = 8; // the grid unit everything aligns to
};

// The built-in schemes in a fixed order: "Deep Blue", "Neon Blue", "Elegant Green",
// "Classic Green", "Deep Purple", "Dark Orange", "Light Orange", "Dark Red", "Light Red".
std::span<CTheme const> themes();

// The scheme at `index`; an index out of range gives the first.
CTheme const& theme(int index);

} // namespace corvella::ui
