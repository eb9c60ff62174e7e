#pragma once

// A pair of level bars (left over right) with a caption, as the top bar shows for IR1, IR2 and the
// output. The engine reports each level as 0.9 x its dB level mapped to 0..1 over -96..0 dB; the
// bars fall back at a steady rate between reports (peak meters do not jump down with the signal),
// and a bar repaints only when it moves by a visible amount, so an idle meter costs nothing.
//
// Threading: UI thread only; the levels come from the engine status block the editor polls.

#include "editor/ui/widget.h"

#include <string>

namespace corvella::editor {

class CLevelMeter final : public ui::CWidget {
public:
    static constexpr double floor_db = -60.0;     // the left end of a bar
    static constexpr double fall_db_per_s = 24.0; // how fast a bar drops when the level does

    explicit CLevelMeter(std::string caption) : caption_(std::move(caption)) {}

    // The engine's level value (0.9 x dB unity) as a dB figure; -96 for 0 or less.
    static double level_db(float reported);
    // Fraction of the bar lit for a dB level: 0 at floor_db and below, 1 at 0 dB and above.
    static double bar_fraction(double db);

    // New reported levels, `seconds` after the previous call.
    void set_levels(float left, float right, double seconds);
    double shown_db(int side) const { return shown_[side]; }

protected:
    void draw(cairo_t* cr, ui::CTheme const& theme) override;

private:
    std::string caption_;
    double shown_[2] = {-96.0, -96.0};
    double drawn_[2] = {0.0, 0.0}; // bar fractions as last painted
};

} // namespace corvella::editor
