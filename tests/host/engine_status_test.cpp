// The engine status block carries the engine's IR drawings to the editor: after a build, the rows,
// channel counts, floors and generation of custom data 0 are the engine's own tables.
#include "host/engine_status.h"

#include "engine/ir_display.h"
#include "engine/vst_plugin.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

using namespace corvella;

// The drawings follow the values in the block and fit inside it with the 37,680-byte size kept.
TEST(EngineStatus, DisplayFollowsTheValuesInsideTheFixedBlock)
{
    EXPECT_EQ(sizeof(EngineStatus), 37680u);
    EXPECT_EQ(offsetof(EngineStatus, display), sizeof(EngineStatusValues));
    EXPECT_EQ(sizeof(EngineStatusDisplay::rows), 2u * 4u * 556u * sizeof(float)); // 17,792 bytes
    EXPECT_LE(offsetof(EngineStatus, display) + sizeof(EngineStatusDisplay), 37680u);
}

TEST(EngineStatus, RowsEqualTheEngineTablesAfterABuild)
{
    test::TempDir folder;
    // A decaying stereo response of 0.3 s at 48 kHz, 24-bit so that the floor is -100 dB.
    test::PlanarAudio ir(2, std::vector<float>(14400));
    for (std::size_t i = 0; i < ir[0].size(); ++i) {
        ir[0][i] = 0.9f * std::exp(-static_cast<float>(i) / 2000.0f) * ((i % 7) < 3 ? 1.0f : -0.6f);
        ir[1][i] = 0.5f * std::exp(-static_cast<float>(i) / 900.0f) * ((i % 5) < 2 ? 1.0f : -0.8f);
    }
    auto const file = folder.path() / "decay.wav";
    ASSERT_TRUE(test::write_planar_wav(file, ir, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24));

    host::InProcessHost host;
    ASSERT_TRUE(host.create_instance(host::Variant::stereo_to_stereo, 48000.0));
    ASSERT_TRUE(host.set_ir_file(1, 0, file.string()));
    ASSERT_TRUE(host.wait_until_idle());
    host.wake_up();

    auto status = std::make_unique<EngineStatus>();
    ASSERT_EQ(host.get_custom_data(custom_data::engine_status, status.get(), sizeof *status), sizeof *status);
    ir_display_tables const& tables = *host.engine()->ir_display;
    EngineStatusDisplay const& d = status->display;
    EXPECT_EQ(d.generation, tables.generation);
    EXPECT_GT(d.generation, 0);
    EXPECT_EQ(d.channel_count[0], 2);
    EXPECT_EQ(d.floor_db[0], -100);
    for (int slot = 0; slot < 2; ++slot) {
        EXPECT_EQ(d.channel_count[slot], tables.channel_count[slot]);
        EXPECT_EQ(d.floor_db[slot], tables.floor_db[slot]);
        EXPECT_EQ(std::memcmp(d.rows[slot], tables.rows[slot], sizeof d.rows[slot]), 0) << "slot " << slot + 1;
    }
    float peak = 0;
    for (float v : d.rows[0][0]) peak = std::max(peak, v);
    EXPECT_GT(peak, 0.0f); // a drawing, not an empty table
}

} // namespace
