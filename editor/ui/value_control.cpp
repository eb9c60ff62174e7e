#include "editor/ui/value_control.h"

#include "editor/ui/root.h"

#include <cmath>
#include <cstdio>

namespace corvella::ui {

namespace {

double clamp01(double v)
{
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

} // namespace

double CValueControl::quantise(double value) const
{
    double v = clamp01(value);
    if (steps_ >= 2) v = std::round(v * (steps_ - 1)) / (steps_ - 1);
    return v;
}

void CValueControl::set_value(double value)
{
    if (std::isnan(value)) return;
    double const v = quantise(value);
    if (v == value_) return;
    value_ = v;
    invalidate();
}

void CValueControl::set_default_value(double value)
{
    if (!std::isnan(value)) default_ = quantise(value);
}

void CValueControl::set_steps(int steps)
{
    steps_ = steps < 2 ? 0 : steps;
    value_ = quantise(value_);
    default_ = quantise(default_);
    invalidate();
}

int CValueControl::position() const
{
    return steps_ >= 2 ? static_cast<int>(std::lround(value_ * (steps_ - 1))) : 0;
}

void CValueControl::set_label(std::string label)
{
    label_ = std::move(label);
    invalidate();
}

void CValueControl::set_formatter(Formatter formatter)
{
    formatter_ = std::move(formatter);
    invalidate();
}

std::string CValueControl::text() const
{
    if (formatter_) return formatter_(value_);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f %%", value_ * 100);
    return buf;
}

void CValueControl::set_origin(double origin)
{
    origin_ = clamp01(origin);
    invalidate();
}

void CValueControl::set_accent(int accent)
{
    accent_ = accent;
    invalidate();
}

void CValueControl::set_muted(bool muted)
{
    if (muted == muted_) return;
    muted_ = muted;
    invalidate();
}

void CValueControl::begin_gesture()
{
    if (in_gesture_) return;
    in_gesture_ = true;
    if (on_begin) on_begin(*this);
}

void CValueControl::change_value(double value)
{
    if (std::isnan(value)) return;
    double const v = quantise(value);
    if (v == value_) return;
    value_ = v;
    invalidate();
    if (on_change) on_change(*this, v);
}

void CValueControl::end_gesture()
{
    if (!in_gesture_) return;
    in_gesture_ = false;
    if (on_end) on_end(*this);
}

void CValueControl::user_set(double value)
{
    begin_gesture();
    change_value(value);
    end_gesture();
}

bool CValueControl::default_click(MouseEvent const& e)
{
    CRoot const* r = root();
    unsigned const wanted = r ? r->options().default_modifiers : mod::alt;
    if (wanted == 0 || (e.mods & wanted) != wanted) return false;
    if (e.button != Button::left && e.button != Button::middle) return false;
    user_set(default_);
    return true;
}

bool CValueControl::fine(unsigned mods) const
{
    CRoot const* r = root();
    unsigned const fine_mods = r ? r->options().fine_modifiers : mod::shift;
    return (mods & fine_mods) != 0;
}

void CValueControl::step_by(double notches, unsigned mods)
{
    if (notches == 0) return;
    double target;
    if (steps_ >= 2) {
        int const dir = notches > 0 ? 1 : -1;
        target = static_cast<double>(position() + dir) / (steps_ - 1);
    } else {
        target = value_ + notches * (fine(mods) ? 0.01 : 0.1) * wheel_increment_;
    }
    user_set(target);
}

bool CValueControl::on_scroll(ScrollEvent const& e)
{
    double const notches = e.dy != 0 ? e.dy : e.dx;
    if (notches == 0) return false;
    step_by(notches, e.mods);
    return true;
}

bool CValueControl::on_key(KeyEvent const& e)
{
    switch (e.key) {
    case Key::up:
    case Key::right: step_by(1, e.mods); return true;
    case Key::down:
    case Key::left: step_by(-1, e.mods); return true;
    case Key::page_up: step_by(steps_ >= 2 ? 1 : 10, 0); return true;
    case Key::page_down: step_by(steps_ >= 2 ? -1 : -10, 0); return true;
    case Key::home: user_set(0); return true;
    case Key::end: user_set(1); return true;
    case Key::del:
    case Key::backspace: user_set(default_); return true;
    default: return false;
    }
}

Colour const& CValueControl::accent_colour(CTheme const& theme) const
{
    return accent_ == 1 ? theme.accent_alt : theme.accent;
}

Colour const& CValueControl::text_colour(CTheme const& theme) const
{
    return warning() ? theme.warning : theme.text;
}

} // namespace corvella::ui
