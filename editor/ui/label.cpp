#include "editor/ui/label.h"

#include <algorithm>

namespace corvella::ui {

CLabel::CLabel(std::string text, Font font, Align align) : text_(std::move(text)), font_(font), align_(align) {}

void CLabel::set_text(std::string text)
{
    if (text == text_) return;
    text_ = std::move(text);
    invalidate();
}

void CLabel::set_font(Font font)
{
    font_ = font;
    invalidate();
}

void CLabel::set_align(Align align)
{
    align_ = align;
    invalidate();
}

void CLabel::set_dim(bool dim)
{
    dim_ = dim;
    invalidate();
}

void CLabel::draw(cairo_t* cr, CTheme const& theme)
{
    Colour const& ink = warning() ? theme.warning : dim_ ? theme.text_dim : theme.text;
    draw_text(cr, text_, bounds(), font_, align_, ink, theme);
}

CGroupBox::CGroupBox(std::string title) : title_(std::move(title)) {}

void CGroupBox::set_title(std::string title)
{
    title_ = std::move(title);
    invalidate();
}

void CGroupBox::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const r = bounds().inset(0.5);
    rounded_rect(cr, r, 5);
    set_colour(cr, theme.panel);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    if (!title_.empty()) {
        cairo_move_to(cr, 8, title_height);
        cairo_line_to(cr, frame().w - 8, title_height);
        cairo_stroke(cr);
        draw_text(cr, title_, {8, 0, frame().w - 16, title_height}, Font::title, Align::left, theme.text, theme);
    }
}

CPicture::CPicture(Painter painter) : painter_(std::move(painter)) {}

CPicture::CPicture(cairo_surface_t* surface) : surface_(surface ? cairo_surface_reference(surface) : nullptr) {}

CPicture::CPicture(CPicture const& other)
    : painter_(other.painter_), surface_(other.surface_ ? cairo_surface_reference(other.surface_) : nullptr)
{
}

CPicture& CPicture::operator=(CPicture const& other)
{
    if (this == &other) return *this;
    cairo_surface_t* s = other.surface_ ? cairo_surface_reference(other.surface_) : nullptr;
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = s;
    painter_ = other.painter_;
    return *this;
}

CPicture::~CPicture()
{
    if (surface_) cairo_surface_destroy(surface_);
}

void CPicture::paint(cairo_t* cr, Rect const& area, CTheme const& theme, double value) const
{
    if (painter_) {
        cairo_save(cr);
        painter_(cr, area, theme, value);
        cairo_restore(cr);
        return;
    }
    if (!surface_ || cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return;
    double x1, y1, x2, y2;
    cairo_t* probe = cairo_create(surface_);
    cairo_clip_extents(probe, &x1, &y1, &x2, &y2);
    cairo_destroy(probe);
    double const sw = x2 - x1, sh = y2 - y1;
    if (sw <= 0 || sh <= 0 || area.empty()) return;
    double const k = std::min(area.w / sw, area.h / sh);
    cairo_save(cr);
    cairo_translate(cr, area.x + (area.w - sw * k) / 2, area.y + (area.h - sh * k) / 2);
    cairo_scale(cr, k, k);
    cairo_set_source_surface(cr, surface_, -x1, -y1);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

bool CClickable::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (!on_click && default_click(e)) return false;
    click();
    return false;
}

bool CClickable::on_key(KeyEvent const& e)
{
    if (e.key == Key::enter || e.key == Key::space) {
        click();
        return true;
    }
    return on_click ? false : CValueControl::on_key(e);
}

void CClickable::click()
{
    if (on_click) {
        on_click(*this);
    } else if (steps() >= 2) {
        int const next = (position() + 1) % steps();
        user_set(static_cast<double>(next) / (steps() - 1));
    }
}

void CClickable::on_mouse_move(MouseEvent const&)
{
    if (hovered_) return;
    hovered_ = true;
    invalidate();
}

void CClickable::on_mouse_leave()
{
    hovered_ = false;
    invalidate();
}

CClickLabel::CClickLabel(std::string text) : text_(std::move(text)) {}

void CClickLabel::set_text(std::string text)
{
    text_ = std::move(text);
    invalidate();
}

void CClickLabel::set_formatted(bool formatted)
{
    formatted_ = formatted;
    invalidate();
}

void CClickLabel::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const r = bounds().inset(0.5);
    rounded_rect(cr, r, 4);
    set_colour(cr, hovered() ? theme.face : theme.panel);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    std::string const shown = formatted_ || steps() >= 2 ? text() : text_;
    draw_text(cr, shown, r.inset(6, 0), Font::small, Align::left, enabled() ? text_colour(theme) : theme.text_dim,
              theme);
}

CClickPicture::CClickPicture(CPicture picture) : picture_(std::move(picture)) {}

void CClickPicture::set_picture(CPicture picture)
{
    picture_ = std::move(picture);
    invalidate();
}

void CClickPicture::draw(cairo_t* cr, CTheme const& theme)
{
    if (hovered()) {
        rounded_rect(cr, bounds(), 4);
        set_colour(cr, theme.face);
        cairo_fill(cr);
    }
    picture_.paint(cr, bounds().inset(2), theme, value());
}

} // namespace corvella::ui
