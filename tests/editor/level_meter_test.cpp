#include "editor/level_meter.h"

#include <gtest/gtest.h>

namespace {

using corvella::editor::CLevelMeter;

TEST(LevelMeter, ReportedLevelsReadAsDecibelsAndBarsSpanTheFloorToFullScale)
{
    struct Row {
        float reported;
        double db, fraction;
    } const rows[] = {
        {0.9f, 0.0, 1.0}, {0.45f, -48.0, 0.2}, {0.0f, -96.0, 0.0}, {-1.0f, -96.0, 0.0}, {2.0f, 0.0, 1.0},
    };
    for (Row const& r : rows) {
        EXPECT_NEAR(CLevelMeter::level_db(r.reported), r.db, 1e-5) << r.reported;
        EXPECT_NEAR(CLevelMeter::bar_fraction(CLevelMeter::level_db(r.reported)), r.fraction, 1e-6) << r.reported;
    }
}

TEST(LevelMeter, BarsRiseAtOnceAndFallAtTheirRate)
{
    CLevelMeter meter("Out");
    meter.set_levels(0.9f, 0.45f, 0.0);
    EXPECT_NEAR(meter.shown_db(0), 0.0, 1e-5);
    EXPECT_NEAR(meter.shown_db(1), -48.0, 1e-5);
    meter.set_levels(0.0f, 0.0f, 0.5); // silence half a second later
    EXPECT_NEAR(meter.shown_db(0), -0.5 * CLevelMeter::fall_db_per_s, 1e-5);
    EXPECT_NEAR(meter.shown_db(1), -48.0 - 0.5 * CLevelMeter::fall_db_per_s, 1e-5);
    meter.set_levels(0.0f, 0.9f, 0.1); // a louder level shows at once
    EXPECT_NEAR(meter.shown_db(1), 0.0, 1e-5);
    for (int i = 0; i < 100; ++i) meter.set_levels(0.0f, 0.0f, 0.1);
    EXPECT_DOUBLE_EQ(meter.shown_db(0), -96.0); // and no lower than the engine's floor
}

} // namespace
