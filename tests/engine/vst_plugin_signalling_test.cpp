// Parameter reads by editor number. The host tempo is in the effects tests.

#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace corvella::test {
namespace {

using SignallingTest = EngineTest;

TEST_F(SignallingTest, ParametersReadByEditorNumber)
{
    auto engine = make_engine(1024);
    std::vector<VST_Plugin_Program> bank(engine->programs, engine->programs + programs_per_bank);
    VST_Plugin_Program& p = bank[3];
    // clang-format off
    p.ir1_tail_diffusion = 0.11f; p.ir1_tail_variant = 0.12f; p.ir1_tail_diffuse_length = 0.13f;
    p.ir2_tail_diffusion = 0.21f; p.ir2_tail_variant = 0.22f; p.ir2_tail_diffuse_length = 0.23f;
    p.lfo1_rate = 0.31f; p.pitch_mod_ir2_section2_mod_rate = 0.32f;
    p.ir1_stacked_head_tail_mix = 0.41f; p.ir2_stacked_head_tail_mix = 0.42f;
    p.ir1_stacked_rate = 0.43f; p.ir2_stacked_rate = 0.44f;
    p.ir1_stacked_head_permit_mod = 0.45f; p.ir2_stacked_head_permit_mod = 0.46f;
    p.master_gain = 0.4f; p.master_mix = 0.6f;
    p.master_gain_lock_status = 0.9f; // not record 0: ignored
    bank[0].master_gain_lock_status = 0.25f; bank[0].master_gain_locked_value = 0.8f;
    bank[0].master_mix_lock_status = 1.0f; bank[0].master_mix_locked_value = 0.7f;
    // clang-format on
    engine->update_programs(bank.data(), 3);

    // 0: master_gain blended with the lock of record 0; 1: master_mix, locked; 40 and 76: the tail
    // variants have editor numbers but no host parameter; 330: "GainLock" from record 0; 342: the
    // program selector has no slot.
    // clang-format off
    std::pair<int, float> const cases[] = {
        {0, 0.25f * 0.8f + 0.75f * 0.4f}, {1, 0.7f}, {39, 0.11f}, {40, 0.12f}, {41, 0.13f}, {75, 0.21f},
        {76, 0.22f}, {77, 0.23f}, {211, 0.31f}, {330, 0.25f}, {358, 0.32f}, {360, 0.41f}, {361, 0.42f},
        {362, 0.43f}, {363, 0.44f}, {364, 0.45f}, {365, 0.46f}, {342, 0.0f}, {366, 0.0f}, {-1, 0.0f},
    };
    // clang-format on
    for (auto const& [number, value] : cases)
        EXPECT_FLOAT_EQ(engine->getParameter(number), value) << number;

    engine->processing_enabled = false; // a locked engine reads 0
    EXPECT_EQ(engine->getParameter(1), 0.0f);
}

} // namespace
} // namespace corvella::test
