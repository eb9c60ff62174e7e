#include "editor/ui/message_panel.h"

#include "editor/ui/paint.h"

#include <algorithm>

namespace corvella::ui {

namespace {

constexpr double margin = 16;        // inside the panel
constexpr double title_height = 22;
constexpr double button_w = 84;
constexpr double button_h = 26;
constexpr double max_width = 440;

} // namespace

CMessagePanel::CMessagePanel(std::string title, std::string text, Buttons buttons, std::function<void(Answer)> answer)
    : title_(std::move(title)), text_(std::move(text)), buttons_(buttons), answer_(std::move(answer))
{
}

Size CMessagePanel::text_size() const
{
    double const w = std::min(max_width, frame().w - 32) - 2 * margin;
    return measure_text(text_, Font::body, theme(), std::max(40.0, w));
}

Rect CMessagePanel::box() const
{
    double const w = std::max(200.0, std::min(max_width, frame().w - 32));
    double const h = std::min(frame().h - 16, margin + title_height + 8 + text_size().h + 16 + button_h + margin);
    return {std::round((frame().w - w) / 2), std::round((frame().h - h) / 2), w, h};
}

Rect CMessagePanel::button_rect(int index) const
{
    Rect const b = box();
    // "Yes" left of "No", both at the right edge.
    int const from_right = button_count() - 1 - index;
    double const x = b.right() - margin - button_w - from_right * (button_w + 8);
    return {x, b.bottom() - margin - button_h, button_w, button_h};
}

Answer CMessagePanel::answer_for(int button) const
{
    if (buttons_ == Buttons::ok) return Answer::ok;
    return button == 0 ? Answer::yes : Answer::no;
}

void CMessagePanel::answer(Answer a)
{
    if (answered_) return;
    answered_ = true;
    auto report = std::move(answer_);
    if (CRoot* r = root()) r->close_overlay(*this);
    if (report) report(a);
}

bool CMessagePanel::on_mouse_down(MouseEvent const& e)
{
    if (e.button != Button::left) return false;
    for (int i = 0; i < button_count(); ++i)
        if (button_rect(i).contains(e.pos)) answer(answer_for(i));
    return false;
}

bool CMessagePanel::on_key(KeyEvent const& e)
{
    bool const question = buttons_ == Buttons::yes_no;
    switch (e.key) {
    case Key::left:
    case Key::right:
    case Key::tab:
        focus_ = (focus_ + 1) % button_count();
        invalidate();
        return true;
    case Key::enter:
    case Key::space: answer(answer_for(focus_)); return true;
    case Key::escape: answer(question ? Answer::no : Answer::ok); return true;
    case Key::other:
        if (question && (e.character == 'y' || e.character == 'Y')) answer(Answer::yes);
        if (question && (e.character == 'n' || e.character == 'N')) answer(Answer::no);
        return true;
    default: return true;
    }
}

void CMessagePanel::draw(cairo_t* cr, CTheme const& theme)
{
    set_colour(cr, theme.shade);
    cairo_paint(cr);
    Rect const b = box();
    rounded_rect(cr, b, 8);
    set_colour(cr, theme.popup);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    set_colour(cr, theme.frame);
    cairo_stroke(cr);
    draw_text(cr, title_, {b.x + margin, b.y + margin, b.w - 2 * margin, title_height}, Font::title, Align::left,
              theme.text, theme);
    double const text_top = b.y + margin + title_height + 8;
    double const text_bottom = b.bottom() - margin - button_h - 16;
    draw_wrapped_text(cr, text_, {b.x + margin, text_top, b.w - 2 * margin, std::max(0.0, text_bottom - text_top)},
                      Font::body, Align::left, theme.text, theme);
    char const* names[2] = {buttons_ == Buttons::ok ? "OK" : "Yes", "No"};
    for (int i = 0; i < button_count(); ++i) {
        Rect const r = button_rect(i);
        bool const on = i == focus_;
        rounded_rect(cr, r.inset(0.5), 4);
        set_colour(cr, on ? theme.accent : theme.face);
        cairo_fill_preserve(cr);
        set_colour(cr, on ? theme.accent : theme.frame);
        cairo_stroke(cr);
        draw_text(cr, names[i], r, Font::body, Align::centre, on ? theme.on_accent : theme.text, theme);
    }
}

} // namespace corvella::ui
