#pragma once

// Drawing helpers every widget shares: colours, rounded shapes and text through Pango. All sizes
// are logical units; the root has already scaled the Cairo context, so glyphs and lines are
// rasterised at the device resolution.
//
// Threading: UI thread only (Pango's font map is per thread).

#include "editor/ui/geometry.h"
#include "editor/ui/theme.h"

#include <cairo.h>

#include <string_view>

namespace corvella::ui {

enum class Font {
    small, // labels above controls, tab labels
    body,  // menus, buttons, message text
    title, // group titles (bold)
    value, // values under controls: small size, tabular figures so digits do not jump
};

enum class Align { left, centre, right };

void set_colour(cairo_t* cr, Colour const& c);
void rounded_rect(cairo_t* cr, Rect const& r, double radius);

// A ring just inside `r` showing keyboard focus.
void focus_ring(cairo_t* cr, Rect const& r, CTheme const& theme);

// One line of text, vertically centred in `r`, cut with an ellipsis when it does not fit.
void draw_text(cairo_t* cr, std::string_view text, Rect const& r, Font font, Align align, Colour const& colour,
               CTheme const& theme);

// Text wrapped at word boundaries to the width of `r`, from its top.
void draw_wrapped_text(cairo_t* cr, std::string_view text, Rect const& r, Font font, Align align,
                       Colour const& colour, CTheme const& theme);

// Logical size of one line of text, or of text wrapped to `wrap_width` when that is positive.
// Layout does not depend on the scale factor (metrics are unhinted).
Size measure_text(std::string_view text, Font font, CTheme const& theme, double wrap_width = 0);

// The family Pango actually picked for `theme`'s font (to catch a missing font package).
std::string resolved_font_family(CTheme const& theme);

} // namespace corvella::ui
