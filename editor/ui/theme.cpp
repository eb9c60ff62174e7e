#include "editor/ui/theme.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvella::ui {

namespace {

double linear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(Colour const& c)
{
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

// hue in degrees, saturation and lightness 0..1
Colour hsl(double h, double s, double l, double a = 1)
{
    auto f = [&](double n) {
        double const k = std::fmod(n + h / 30.0, 12.0);
        double const m = s * std::min(l, 1 - l);
        return l - m * std::max(-1.0, std::min({k - 3, 9 - k, 1.0}));
    };
    return {f(0), f(8), f(4), a};
}

Colour better_text_on(Colour const& fill, Colour const& dark, Colour const& light)
{
    return contrast_ratio(fill, dark) >= contrast_ratio(fill, light) ? dark : light;
}

struct Recipe {
    char const* name;
    bool light;        // light background, dark text
    double hue;        // of the neutrals
    double tint;       // saturation of the neutrals
    double accent_hue;
    double accent_sat;
    double alt_hue;
};

CTheme make(Recipe const& r)
{
    CTheme t;
    t.name = r.name;
    if (!r.light) {
        t.background = hsl(r.hue, r.tint, 0.095);
        t.panel = hsl(r.hue, r.tint, 0.135);
        t.frame = hsl(r.hue, r.tint, 0.26);
        t.face = hsl(r.hue, r.tint, 0.20);
        t.track = hsl(r.hue, r.tint, 0.28);
        t.text = hsl(r.hue, 0.10, 0.90);
        t.text_dim = hsl(r.hue, 0.10, 0.70);
        t.accent = hsl(r.accent_hue, r.accent_sat, 0.58);
        t.accent_alt = hsl(r.alt_hue, 0.75, 0.60);
        t.warning = hsl(2, 0.90, 0.66);
        t.popup = hsl(r.hue, r.tint, 0.17);
        t.shade = {0, 0, 0, 0.55};
    } else {
        t.background = hsl(r.hue, r.tint, 0.86);
        t.panel = hsl(r.hue, r.tint, 0.93);
        t.frame = hsl(r.hue, r.tint, 0.70);
        t.face = hsl(r.hue, r.tint, 0.97);
        t.track = hsl(r.hue, r.tint, 0.76);
        t.text = hsl(r.hue, 0.25, 0.12);
        t.text_dim = hsl(r.hue, 0.15, 0.32);
        t.accent = hsl(r.accent_hue, r.accent_sat, 0.40);
        t.accent_alt = hsl(r.alt_hue, 0.70, 0.36);
        t.warning = hsl(355, 0.85, 0.40);
        t.popup = hsl(r.hue, r.tint, 0.96);
        t.shade = {0.1, 0.1, 0.1, 0.35};
    }
    Colour const dark_ink = hsl(r.hue, r.tint, 0.08), light_ink = hsl(0, 0, 0.98);
    t.on_accent = better_text_on(t.accent, dark_ink, light_ink);
    // Some hues sit at mid luminance where neither ink reads well: move the accent away from it.
    double l = r.light ? 0.40 : 0.58;
    bool const ink_is_dark = contrast_ratio(t.on_accent, dark_ink) < 1.01;
    while (contrast_ratio(t.accent, t.on_accent) < 4.6 && l > 0.2 && l < 0.8) {
        l += ink_is_dark ? 0.01 : -0.01;
        t.accent = hsl(r.accent_hue, r.accent_sat, l);
    }
    t.focus = t.accent_alt;
    t.highlight = t.accent;
    t.on_highlight = t.on_accent;
    return t;
}

std::array<CTheme, 9> const& all()
{
    static std::array<CTheme, 9> const list = {
        make({"Deep Blue", false, 215, 0.30, 200, 0.75, 35}),
        make({"Neon Blue", false, 232, 0.25, 188, 0.95, 305}),
        make({"Elegant Green", false, 165, 0.22, 152, 0.55, 40}),
        make({"Classic Green", false, 100, 0.18, 105, 0.60, 28}),
        make({"Deep Purple", false, 268, 0.28, 275, 0.70, 165}),
        make({"Dark Orange", false, 25, 0.14, 28, 0.90, 195}),
        make({"Light Orange", true, 32, 0.45, 24, 0.90, 210}),
        make({"Dark Red", false, 355, 0.16, 356, 0.75, 195}),
        make({"Light Red", true, 0, 0.30, 354, 0.75, 210}),
    };
    return list;
}

} // namespace

double contrast_ratio(Colour const& a, Colour const& b)
{
    double const la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::span<CTheme const> themes()
{
    return all();
}

CTheme const& theme(int index)
{
    auto const& list = all();
    return index >= 0 && index < static_cast<int>(list.size()) ? list[static_cast<std::size_t>(index)] : list[0];
}

} // namespace corvella::ui
