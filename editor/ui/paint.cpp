#include "editor/ui/paint.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <string>

namespace corvella::ui {

namespace {

struct GObjectUnref {
    void operator()(void* p) const { g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct FontDescFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

// A Pango context whose metrics do not follow the device scale, so a layout measured at scale 1
// is the same layout drawn at 1.5 or 2.
PangoContext* shared_context()
{
    thread_local GPtr<PangoContext> context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        cairo_font_options_t* o = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        pango_cairo_context_set_font_options(c, o);
        cairo_font_options_destroy(o);
        pango_context_set_round_glyph_positions(c, FALSE);
        return GPtr<PangoContext>(c);
    }();
    return context.get();
}

GPtr<PangoLayout> make_layout(std::string_view text, Font font, CTheme const& theme)
{
    PangoLayout* layout = pango_layout_new(shared_context());
    std::unique_ptr<PangoFontDescription, FontDescFree> desc(pango_font_description_new());
    pango_font_description_set_family(desc.get(), theme.font_family.c_str());
    double size = theme.font_body;
    switch (font) {
    case Font::small:
    case Font::value: size = theme.font_small; break;
    case Font::body: size = theme.font_body; break;
    case Font::title:
        size = theme.font_title;
        pango_font_description_set_weight(desc.get(), PANGO_WEIGHT_BOLD);
        break;
    }
    pango_font_description_set_absolute_size(desc.get(), size * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc.get());
    if (font == Font::value) {
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_font_features_new("tnum 1"));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    return GPtr<PangoLayout>(layout);
}

PangoAlignment pango_align(Align a)
{
    return a == Align::left ? PANGO_ALIGN_LEFT : a == Align::centre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_RIGHT;
}

} // namespace

void set_colour(cairo_t* cr, Colour const& c)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void rounded_rect(cairo_t* cr, Rect const& r, double radius)
{
    double const rad = std::min(radius, std::min(r.w, r.h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.right() - rad, r.y + rad, rad, -M_PI / 2, 0);
    cairo_arc(cr, r.right() - rad, r.bottom() - rad, rad, 0, M_PI / 2);
    cairo_arc(cr, r.x + rad, r.bottom() - rad, rad, M_PI / 2, M_PI);
    cairo_arc(cr, r.x + rad, r.y + rad, rad, M_PI, 1.5 * M_PI);
    cairo_close_path(cr);
}

void focus_ring(cairo_t* cr, Rect const& r, CTheme const& theme)
{
    cairo_save(cr);
    rounded_rect(cr, r.inset(1), 4);
    set_colour(cr, theme.focus);
    cairo_set_line_width(cr, 1.5);
    double const dash[] = {3, 2};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void draw_text(cairo_t* cr, std::string_view text, Rect const& r, Font font, Align align, Colour const& colour,
               CTheme const& theme)
{
    if (text.empty() || r.empty()) return;
    auto layout = make_layout(text, font, theme);
    pango_cairo_update_context(cr, shared_context());
    pango_layout_context_changed(layout.get());
    pango_layout_set_width(layout.get(), static_cast<int>(r.w * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout.get(), pango_align(align));
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    double const h = static_cast<double>(logical.height) / PANGO_SCALE;
    cairo_save(cr);
    set_colour(cr, colour);
    cairo_move_to(cr, r.x, r.y + (r.h - h) / 2);
    pango_cairo_show_layout(cr, layout.get());
    cairo_restore(cr);
    cairo_new_path(cr); // the path is not part of the saved state; leave no current point behind
}

void draw_wrapped_text(cairo_t* cr, std::string_view text, Rect const& r, Font font, Align align,
                       Colour const& colour, CTheme const& theme)
{
    if (text.empty() || r.empty()) return;
    auto layout = make_layout(text, font, theme);
    pango_cairo_update_context(cr, shared_context());
    pango_layout_context_changed(layout.get());
    pango_layout_set_width(layout.get(), static_cast<int>(r.w * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout.get(), pango_align(align));
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_clip(cr);
    set_colour(cr, colour);
    cairo_move_to(cr, r.x, r.y);
    pango_cairo_show_layout(cr, layout.get());
    cairo_restore(cr);
    cairo_new_path(cr); // the path is not part of the saved state; leave no current point behind
}

Size measure_text(std::string_view text, Font font, CTheme const& theme, double wrap_width)
{
    auto layout = make_layout(text, font, theme);
    if (wrap_width > 0) {
        pango_layout_set_width(layout.get(), static_cast<int>(wrap_width * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

std::string resolved_font_family(CTheme const& theme)
{
    std::unique_ptr<PangoFontDescription, FontDescFree> desc(pango_font_description_new());
    pango_font_description_set_family(desc.get(), theme.font_family.c_str());
    pango_font_description_set_absolute_size(desc.get(), theme.font_body * PANGO_SCALE);
    GPtr<PangoFont> font(pango_context_load_font(shared_context(), desc.get()));
    if (!font) return {};
    std::unique_ptr<PangoFontDescription, FontDescFree> got(pango_font_describe(font.get()));
    char const* family = pango_font_description_get_family(got.get());
    return family ? family : "";
}

} // namespace corvella::ui
