// Colour schemes stay readable, and text comes from the installed font family.
#include "editor/ui/paint.h"
#include "editor/ui/theme.h"

#include <gtest/gtest.h>

#include <string>

// Fontconfig keeps its font cache for the life of the process and never frees it; that is not
// ours to fix, and LeakSanitizer should not report it.
extern "C" char const* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

using namespace corvella::ui;

TEST(UiTheme, ContrastRatioMatchesTheDefinitionAtItsEnds)
{
    EXPECT_NEAR(contrast_ratio({0, 0, 0}, {1, 1, 1}), 21.0, 1e-9);
    EXPECT_NEAR(contrast_ratio({0.3, 0.5, 0.7}, {0.3, 0.5, 0.7}), 1.0, 1e-12);
    // Mid grey 0x77 against white is the well-known 4.48:1.
    double const g = 0x77 / 255.0;
    EXPECT_NEAR(contrast_ratio({g, g, g}, {1, 1, 1}), 4.48, 0.01);
}

TEST(UiTheme, EverySchemeKeepsTextReadableOnWhatItIsDrawnOn)
{
    std::string const names[] = {"Deep Blue",   "Neon Blue",    "Elegant Green", "Classic Green", "Deep Purple",
                                 "Dark Orange", "Light Orange", "Dark Red",      "Light Red"};
    ASSERT_EQ(themes().size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        CTheme const& t = themes()[i];
        EXPECT_EQ(t.name, names[i]);
        struct Pair {
            char const* what;
            Colour ink, paper;
        };
        Pair const pairs[] = {{"text/background", t.text, t.background}, {"text/panel", t.text, t.panel},
                              {"text/face", t.text, t.face},             {"text/popup", t.text, t.popup},
                              {"dim/panel", t.text_dim, t.panel},         {"dim/background", t.text_dim, t.background},
                              {"on_accent/accent", t.on_accent, t.accent}, {"warning/panel", t.warning, t.panel},
                              {"on_highlight", t.on_highlight, t.highlight}};
        for (Pair const& p : pairs)
            EXPECT_GE(contrast_ratio(p.ink, p.paper), 4.5) << t.name << " " << p.what;
        // Values and "on" states must stand out from the unfilled track.
        EXPECT_GE(contrast_ratio(t.accent, t.track), 2.0) << t.name;
    }
    EXPECT_EQ(&theme(99), &themes()[0]);
    EXPECT_EQ(&theme(-1), &themes()[0]);
}

TEST(UiTheme, TextUsesTheInstalledDejaVuSansAndMeasuresTheSameAtEveryScale)
{
    CTheme const& t = themes()[0];
    EXPECT_EQ(resolved_font_family(t), "DejaVu Sans");
    Size const one = measure_text("-12.0 dB", Font::value, t);
    EXPECT_GT(one.w, 20);
    EXPECT_LT(one.w, 80);
    // Tabular figures: every digit is as wide as every other.
    EXPECT_DOUBLE_EQ(measure_text("1111", Font::value, t).w, measure_text("0000", Font::value, t).w);
    // Wrapping to a narrow width gives more lines.
    EXPECT_GT(measure_text("several words that do not fit on one line", Font::body, t, 60).h, 2.5 * one.h);
}

} // namespace
