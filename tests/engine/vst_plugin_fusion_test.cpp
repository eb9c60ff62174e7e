// Fusion IR in the engine: a ".fir" file in a Fusion slot plays through the modulated stacked
// convolver at the engine's latency, files at another rate are resampled, and a malformed file
// loads nothing, says why, and leaves the instance working.

#include "engine_fixture.h"

#include "convolution/convolver_ts_stack_modulated.h"
#include "ir/fir_file.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <fstream>

namespace corvella::test {
namespace {

using FusionTest = EngineTest;

// Head: one click per channel at 10 + 5c; tail sets: all alike, clicks at 2000 + 7c.
fir_contents contents(int rate)
{
    fir_contents f;
    f.sample_rate = rate;
    for (int c = 0; c < 4; ++c)
        f.head.push_back(sparse(4000, {{10 + 5 * c, 0.5f + 0.1f * static_cast<float>(c)}}));
    for (int c = 0; c < 32; ++c)
        f.tail.push_back(sparse(4000, {{2000 + 7 * (c % 4), 0.25f}}));
    return f;
}

std::string bytes_of(fir_contents const& f)
{
    std::string error;
    std::string bytes = fir_file_bytes(f, error);
    EXPECT_TRUE(error.empty()) << error;
    return bytes;
}

class FusionEngine : public FusionTest {
protected:
    std::filesystem::path write(std::string const& name, std::string const& bytes)
    {
        auto const path = files_.path() / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    void use_file(VST_Plugin& engine, std::filesystem::path const& path)
    {
        edit_program(engine, [&](VST_Plugin_Program& p) {
            unity_fields(p);
            p.ir1_topology = 1.0f; // Fusion IR
            set_path(p.ir1_file_a, path.string());
            p.ir1_normalise = 0.0f;
            p.pitch_mod_ir1_section1_toggle = p.pitch_mod_ir1_section2_toggle = 0.0f;
        });
        engine.smoothed_mix = 0.0f;
        rebuild_ir1(engine, true);
        engine.assign_pitch_delay_mod_ir1();
    }
};

TEST_F(FusionEngine, AFusionFileIsHeardAsItsHeadPlusItsTailAtTheEnginesLatency)
{
    auto const good = write("room.fir", bytes_of(contents(48000)));
    for (int latency : {0, 1024}) {
        auto engine = make_engine(latency);
        use_file(*engine, good);
        StereoSignal const left = respond(*engine, 1.0f, 0.0f, 8192);
        StereoSignal const right = respond(*engine, 0.0f, 1.0f, 8192);
        // Left input through channels 0 (to the left) and 1 (to the right), right input through 2 and 3.
        auto expected = [&](int channel) {
            Signal e(8192, 0.0f);
            e[static_cast<size_t>(latency + 10 + 5 * channel)] += 0.5f + 0.1f * static_cast<float>(channel);
            e[static_cast<size_t>(latency + 2000 + 7 * channel)] += 0.25f;
            return e;
        };
        EXPECT_LT(max_difference(left.left, expected(0)), 1e-5f) << latency;
        EXPECT_LT(max_difference(left.right, expected(1)), 1e-5f) << latency;
        EXPECT_LT(max_difference(right.left, expected(2)), 1e-5f) << latency;
        EXPECT_LT(max_difference(right.right, expected(3)), 1e-5f) << latency;

        // And the audio path allocates nothing.
        Signal l(512, 0.1f), r(512, -0.1f);
        float* io[2] = {l.data(), r.data()};
        AllocationCounter allocations;
        for (int i = 0; i < 20; ++i)
            engine->processReplacing(io, io, 512);
        EXPECT_EQ(allocations.count(), 0);
    }
    EXPECT_TRUE(engine_messages().empty());
}

TEST_F(FusionEngine, SwitchedOffItRingsOutWithSmoothChanges)
{
    auto engine = make_engine(0);
    use_file(*engine, write("room.fir", bytes_of(contents(48000))));
    engine->silence_buffers();
    StereoSignal in{Signal(1024, 0.0f), Signal(1024, 0.0f)};
    in.left[0] = 1.0f;
    StereoSignal const before = run_stereo(*engine, in, {512});
    EXPECT_NEAR(before.left[10], 0.5f, 1e-5f); // the head, while on
    edit_program(*engine, [](VST_Plugin_Program& p) { p.ir1_toggle = 0.0f; });
    ASSERT_TRUE(wait_idle(*engine));
    StereoSignal const after = run_stereo(*engine, {Signal(4096, 0.0f), Signal(4096, 0.0f)}, {512});
    EXPECT_NEAR(after.left[2000 - 1024], 0.25f, 1e-5f); // the tail of what was played before
}

TEST_F(FusionEngine, AFileAtAnotherRateIsResampledLikeAnyResponse)
{
    fir_contents f = contents(24000);
    for (auto& channel : f.tail)
        std::fill(channel.begin(), channel.end(), 0.0f);
    f.tail_gain_db = -20.0f;
    auto engine = make_engine(0);
    use_file(*engine, write("half.fir", bytes_of(f)));
    StereoSignal const out = respond(*engine, 1.0f, 0.0f, 4096);
    // The click at 10 of 24 kHz lands near 20 at 48 kHz.
    EXPECT_NEAR(static_cast<double>(peak_position(out.left)), 20.0, 2.0);
}

TEST_F(FusionEngine, AMalformedFileLoadsNothingSaysWhyAndTheInstanceGoesOn)
{
    std::string const good = bytes_of(contents(48000));
    auto with_int = [&](size_t offset, std::int32_t value) {
        std::string b = good;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    struct Case {
        char const* name;
        std::string bytes;
    };
    Case const cases[] = {
        {"short", good.substr(0, 1000)},
        {"magic", with_int(0, 0x12345678)},
        {"version", with_int(4, 3)},
        {"size", good.substr(0, good.size() - 4)},
        {"tail shorter than head", with_int(28, 100)},
    };
    auto engine = make_engine(0);
    auto const good_path = write("good.fir", good);
    for (Case const& bad : cases) {
        SCOPED_TRACE(bad.name);
        use_file(*engine, good_path);
        ASSERT_GT(max_difference(respond(*engine, 1.0f, 0.0f, 4096).left, Signal(4096, 0.0f)), 0.1f);
        size_t const messages_before = engine_messages().size();
        use_file(*engine, write("bad.fir", bad.bytes));
        StereoSignal const out = respond(*engine, 1.0f, 0.0f, 4096);
        EXPECT_EQ(max_difference(out.left, Signal(4096, 0.0f)), 0.0f);
        EXPECT_FALSE(engine->stacked_convolver(1)->is_loaded());
        auto const messages = engine_messages();
        ASSERT_EQ(messages.size(), messages_before + 1);
        EXPECT_EQ(messages.back().text.rfind("Fusion IR file not loaded: ", 0), 0u) << messages.back().text;
    }
    use_file(*engine, good_path); // still working
    EXPECT_GT(max_difference(respond(*engine, 1.0f, 0.0f, 4096).left, Signal(4096, 0.0f)), 0.1f);
}

} // namespace
} // namespace corvella::test
