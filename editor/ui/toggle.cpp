#include "editor/ui/toggle.h"

#include "editor/ui/paint.h"

namespace corvella::ui {

CToggle::CToggle()
{
    set_steps(2);
}

void CToggle::set_texts(std::string off_text, std::string on_text)
{
    off_text_ = std::move(off_text);
    on_text_ = std::move(on_text);
    invalidate();
}

bool CToggle::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left && e.button != Button::middle) return false;
    if (!default_click(e)) user_set(on() ? 0 : 1);
    return false;
}

bool CToggle::on_key(KeyEvent const& e)
{
    if (e.key == Key::enter || e.key == Key::space) {
        user_set(on() ? 0 : 1);
        return true;
    }
    return CValueControl::on_key(e);
}

void CToggle::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const r = bounds().inset(1);
    rounded_rect(cr, r, 4);
    Colour const& fill = on() ? accent_colour(theme) : theme.face;
    set_colour(cr, enabled() ? fill : theme.face);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, on() ? fill : theme.frame);
    cairo_stroke(cr);
    std::string const& t = on() ? (on_text_.empty() ? label() : on_text_) : (off_text_.empty() ? label() : off_text_);
    Colour const& ink = warning() ? theme.warning : on() ? theme.on_accent : theme.text;
    draw_text(cr, t, r.inset(6, 0), Font::small, Align::centre, enabled() ? ink : theme.text_dim, theme);
}

} // namespace corvella::ui
