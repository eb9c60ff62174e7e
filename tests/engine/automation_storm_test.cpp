// The automation storm for a minute (CORVELLA_STORM_SECONDS changes it): see
// support/automation_storm.h. bench/automation_storm runs it for an hour.

#include "support/automation_storm.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

namespace corvella::test {
namespace {

TEST(AutomationStorm, EverythingAHostAndAUserDoAtOnceLeavesTheInstanceSoundAndQuietOnItsAudioThread)
{
    TempDir folder{"corvella-storm-"};
    StormOptions options;
    if (char const* seconds = std::getenv("CORVELLA_STORM_SECONDS")) options.seconds = std::atof(seconds);
    options.instance_seconds = options.seconds / 4;
    options.folder = folder.path();
    StormReport const r = run_automation_storm(options);
    std::cout << "storm: " << r.audio_seconds << " s of audio in " << r.blocks << " blocks, " << r.instances
              << " instances; " << r.parameter_sets << " parameter sets, " << r.program_changes
              << " program changes, " << r.ir_loads << " IR loads, " << r.chunk_restores << " chunk restores, "
              << r.bank_loads << " bank loads; audio thread: " << r.audio_allocations << " allocations, "
              << r.audio_waits << " waits; peak " << r.peak << "; final difference " << r.final_difference << "\n";
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(r.non_finite_samples, 0);
    EXPECT_LE(r.peak, storm_output_bound);
    EXPECT_EQ(r.audio_allocations, 0);
    EXPECT_TRUE(r.still_processing);
    EXPECT_LT(r.final_difference, 1e-4) << (r.final_render_silent ? "the storm's instance was silent; " : "")
                                        << "messages seen:\n" << ::testing::PrintToString(r.messages);
    // The storm did happen.
    EXPECT_GT(r.audio_seconds, 0.8 * options.seconds);
    EXPECT_GT(r.parameter_sets, 100 * static_cast<long>(options.seconds));
    EXPECT_GT(r.ir_loads + r.program_changes + r.chunk_restores + r.bank_loads, static_cast<long>(options.seconds));
    EXPECT_GE(r.instances, 4);
}

} // namespace
} // namespace corvella::test
