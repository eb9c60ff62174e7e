#include "editor/ui/text_field.h"

#include "editor/ui/paint.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvella::ui {

namespace {

bool continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

void append_utf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x110000) {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

void CTextField::set_text(std::string text)
{
    text_ = std::move(text);
    caret_ = text_.size();
    invalidate();
}

void CTextField::set_placeholder(std::string text)
{
    placeholder_ = std::move(text);
    invalidate();
}

std::size_t CTextField::previous_boundary(std::size_t at) const
{
    if (at == 0) return 0;
    --at;
    while (at > 0 && continuation(text_[at])) --at;
    return at;
}

std::size_t CTextField::next_boundary(std::size_t at) const
{
    if (at >= text_.size()) return text_.size();
    ++at;
    while (at < text_.size() && continuation(text_[at])) ++at;
    return at;
}

void CTextField::edited()
{
    invalidate();
    if (on_change) on_change(*this);
}

double CTextField::text_x() const
{
    double const room = frame().w - 2 * padding;
    double const caret_at = measure_text(std::string_view(text_).substr(0, caret_), Font::small, theme()).w;
    return padding - std::max(0.0, caret_at - room + 2);
}

bool CTextField::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left) return false;
    // The character boundary nearest to the click.
    double const x = e.pos.x - text_x();
    std::size_t best = 0;
    double best_distance = std::abs(x);
    for (std::size_t at = next_boundary(0); at > 0; at = next_boundary(at)) {
        double const d = std::abs(measure_text(std::string_view(text_).substr(0, at), Font::small, theme()).w - x);
        if (d < best_distance) best = at, best_distance = d;
        if (at == text_.size()) break;
    }
    caret_ = best;
    invalidate();
    return false;
}

bool CTextField::on_key(KeyEvent const& e)
{
    switch (e.key) {
    case Key::left: caret_ = previous_boundary(caret_); invalidate(); return true;
    case Key::right: caret_ = next_boundary(caret_); invalidate(); return true;
    case Key::home: caret_ = 0; invalidate(); return true;
    case Key::end: caret_ = text_.size(); invalidate(); return true;
    case Key::backspace:
        if (caret_ > 0) {
            std::size_t const from = previous_boundary(caret_);
            text_.erase(from, caret_ - from);
            caret_ = from;
            edited();
        }
        return true;
    case Key::del:
        if (caret_ < text_.size()) {
            text_.erase(caret_, next_boundary(caret_) - caret_);
            edited();
        }
        return true;
    case Key::enter:
        if (on_enter) on_enter(*this);
        return true;
    case Key::escape:
        if (!text_.empty()) {
            text_.clear();
            caret_ = 0;
            edited();
        }
        if (on_escape) on_escape(*this);
        return true;
    case Key::space:
    case Key::other: {
        std::uint32_t const cp = e.key == Key::space ? ' ' : e.character;
        // Shortcuts with Control, Alt or Super are not text; neither are control characters.
        if (cp < 0x20 || cp == 0x7F || (e.mods & (mod::control | mod::alt | mod::super))) return false;
        std::string piece;
        append_utf8(piece, cp);
        if (piece.empty()) return false;
        text_.insert(caret_, piece);
        caret_ += piece.size();
        edited();
        return true;
    }
    default: return false;
    }
}

void CTextField::draw(cairo_t* cr, CTheme const& theme)
{
    Rect const b = bounds().inset(0.5);
    rounded_rect(cr, b, 3);
    set_colour(cr, theme.background);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, has_focus() ? theme.accent : theme.frame);
    cairo_stroke(cr);

    cairo_save(cr);
    cairo_rectangle(cr, padding - 1, 1, std::max(0.0, frame().w - 2 * padding + 2), std::max(0.0, frame().h - 2));
    cairo_clip(cr);
    double const x = text_x();
    if (text_.empty() && !has_focus()) {
        draw_text(cr, placeholder_, {padding, 0, frame().w - 2 * padding, frame().h}, Font::small, Align::left,
                  theme.text_dim, theme);
    } else {
        double const w = measure_text(text_, Font::small, theme).w + 4;
        draw_text(cr, text_, {x, 0, w, frame().h}, Font::small, Align::left, enabled() ? theme.text : theme.text_dim,
                  theme);
    }
    if (has_focus()) {
        double const cx =
            std::round(x + measure_text(std::string_view(text_).substr(0, caret_), Font::small, theme).w) + 0.5;
        double const h = theme.font_small + 5;
        cairo_move_to(cr, cx, (frame().h - h) / 2);
        cairo_line_to(cr, cx, (frame().h + h) / 2);
        set_colour(cr, theme.accent);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

} // namespace corvella::ui
