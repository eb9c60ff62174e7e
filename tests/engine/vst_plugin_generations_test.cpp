// Click-free IR changes: a change in the middle of the music sounds like two renders added, the
// old settings on what was played before it and the new settings on what came after (the old
// reverb rings out, the new one starts from silence), and the audio thread allocates nothing while
// it switches. Without smooth changes the histories are silenced after the rebuild, as before.

#include "engine_fixture.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace corvella::test {
namespace {

constexpr int rate = 48000;
constexpr size_t total = 60000, change_at = 20480; // the change falls on a block boundary
constexpr int block = 512;

class GenerationsTest : public EngineTest {
protected:
    using Edit = std::function<void(VST_Plugin&)>;

    std::unique_ptr<VST_Plugin> engine_with(Edit const& settings)
    {
        auto engine = make_engine(0, rate, 1);
        set_unity_program(*engine);
        settings(*engine);
        engine->signal_recompute_both_full();
        EXPECT_TRUE(wait_idle(*engine));
        return engine;
    }

    // What changes make: the request (or none), then the wait for the builds it causes; an IR
    // switched on is rebuilt whole after the IR worker's next look.
    static void apply(VST_Plugin& engine, Edit const& change, bool builds_something = true)
    {
        int const builds = engine.ir_builds_finished[0] + engine.ir_builds_finished[1];
        change(engine);
        auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (builds_something && engine.ir_builds_finished[0] + engine.ir_builds_finished[1] == builds &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(wait_idle(engine));
    }

    static StereoSignal part(StereoSignal const& x, size_t from, size_t to)
    {
        StereoSignal y{Signal(total, 0.0f), Signal(total, 0.0f)};
        for (size_t i = from; i < to; ++i) {
            y.left[i] = x.left[i];
            y.right[i] = x.right[i];
        }
        return y;
    }

    std::filesystem::path ir_file(std::string const& name, int length, unsigned seed)
    {
        return write_wav(name, {decaying_noise(length, seed), decaying_noise(length, seed + 1)}, rate);
    }

    StereoSignal input{noise_burst(total, 40000, 3), noise_burst(total, 40000, 4)};
};

double error_db(StereoSignal const& out, StereoSignal const& expected)
{
    double peak = 0.0, worst = 0.0;
    for (size_t i = 0; i < total; ++i) {
        peak = std::max({peak, double(std::fabs(expected.left[i])), double(std::fabs(expected.right[i]))});
        worst = std::max({worst, double(std::fabs(out.left[i] - expected.left[i])),
                          double(std::fabs(out.right[i] - expected.right[i]))});
    }
    return 20.0 * std::log10(worst / peak + 1e-30);
}

TEST_F(GenerationsTest, AChangeSoundsLikeTheOldSettingsBeforeItAndTheNewAfter)
{
    auto const first = ir_file("first.wav", 30000, 10);
    auto const second = ir_file("second.wav", 20000, 20);
    auto const use = [](std::filesystem::path const& file, int slot) {
        return [file, slot](VST_Plugin& e) {
            edit_program(e, [&](VST_Plugin_Program& p) {
                set_path(slot == 1 ? p.ir1_file_a : p.ir2_file_a, file.string());
                (slot == 1 ? p.ir1_normalise : p.ir2_normalise) = 0.0f;
            });
        };
    };
    auto const ir2_only = [](bool on) {
        return [on](VST_Plugin& e) {
            edit_program(e, [&](VST_Plugin_Program& p) {
                p.ir1_toggle = 0.0f;
                p.ir2_toggle = on ? 1.0f : 0.0f;
                p.master_ir1_ir2_mix = 1.0f;
            });
            e.smoothed_mix = 1.0f;
        };
    };
    auto const both = [](Edit a, Edit b) { return [a, b](VST_Plugin& e) { a(e), b(e); }; };
    struct Case {
        char const* name;
        Edit before, after;
        std::function<void(VST_Plugin&)> request; // raised with the change
        bool builds = true;                       // the change makes the IR worker build
    };
    Case const cases[] = {
        {"IR1 pre-delay", use(first, 1),
         both(use(first, 1), [](VST_Plugin& e) { edit_program(e, [](VST_Plugin_Program& p) { p.ir1_pre_delay = 0.1f; }); }),
         [](VST_Plugin& e) { e.signal_recompute_ir1_partial(); }},
        {"IR1 envelope", use(first, 1),
         both(use(first, 1), [](VST_Plugin& e) { edit_program(e, [](VST_Plugin_Program& p) { p.ir1_adshr_d = 0.2f; }); }),
         [](VST_Plugin& e) { e.signal_recompute_ir1_partial(); }},
        {"IR1 switched off: its tail rings out", use(first, 1),
         both(use(first, 1), [](VST_Plugin& e) { edit_program(e, [](VST_Plugin_Program& p) { p.ir1_toggle = 0.0f; }); }),
         nullptr, false},
        {"IR2 switched on, longer than its switched-off start", both(use(first, 2), ir2_only(false)),
         both(use(first, 2), ir2_only(true)), nullptr},
        {"program change to another IR", use(first, 1), use(second, 1),
         [](VST_Plugin& e) {
             e.signal_set_program_disable_audio();
             e.signal_recompute_both_full();
         }},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        auto old_alone = engine_with(c.before);
        auto new_alone = engine_with(c.after);
        StereoSignal const a = run_stereo(*old_alone, part(input, 0, change_at), {block});
        StereoSignal const b = run_stereo(*new_alone, part(input, change_at, total), {block});
        StereoSignal expected = a;
        for (size_t i = 0; i < total; ++i) {
            expected.left[i] += b.left[i];
            expected.right[i] += b.right[i];
        }

        auto engine = engine_with(c.before);
        StereoSignal before_change = part(input, 0, change_at);
        before_change.left.resize(change_at);
        before_change.right.resize(change_at);
        StereoSignal out = run_stereo(*engine, before_change, {block});
        apply(
            *engine,
            [&](VST_Plugin& e) {
                c.after(e);
                if (c.request) c.request(e);
            },
            c.builds);
        StereoSignal rest{Signal(input.left.begin() + change_at, input.left.end()),
                          Signal(input.right.begin() + change_at, input.right.end())};
        StereoSignal after_change{Signal(rest.left.size()), Signal(rest.left.size())};
        {
            AllocationCounter allocations;
            for (size_t done = 0; done < rest.left.size(); done += block) {
                int const n = static_cast<int>(std::min<size_t>(block, rest.left.size() - done));
                float* ins[2] = {rest.left.data() + done, rest.right.data() + done};
                float* outs[2] = {after_change.left.data() + done, after_change.right.data() + done};
                engine->processReplacing(ins, outs, n);
            }
            EXPECT_EQ(allocations.count(), 0);
        }
        out.left.insert(out.left.end(), after_change.left.begin(), after_change.left.end());
        out.right.insert(out.right.end(), after_change.right.begin(), after_change.right.end());
        EXPECT_LT(error_db(out, expected), -60.0);
    }
}

TEST_F(GenerationsTest, WithoutSmoothChangesTheHistoriesAreSilencedAfterARebuild)
{
    CheckPrefs();
    set_smooth_changes_in_registry(0);
    auto const file = ir_file("ir.wav", 30000, 10);
    Edit const before = [&](VST_Plugin& e) {
        edit_program(e, [&](VST_Plugin_Program& p) {
            set_path(p.ir1_file_a, file.string());
            p.ir1_normalise = 0.0f;
        });
    };
    Edit const after = [&](VST_Plugin& e) {
        before(e);
        edit_program(e, [](VST_Plugin_Program& p) { p.ir1_pre_delay = 0.1f; });
    };
    auto new_alone = engine_with(after);
    ASSERT_FALSE(new_alone->smooth_changes);
    StereoSignal const expected = run_stereo(*new_alone, part(input, change_at, total), {block});

    auto engine = engine_with(before);
    StereoSignal head = part(input, 0, change_at);
    head.left.resize(change_at);
    head.right.resize(change_at);
    run_stereo(*engine, head, {block});
    apply(*engine, [&](VST_Plugin& e) {
        after(e);
        e.signal_recompute_ir1_partial();
    });
    StereoSignal const rest = run_stereo(*engine,
                                         {Signal(input.left.begin() + change_at, input.left.end()),
                                          Signal(input.right.begin() + change_at, input.right.end())},
                                         {block});
    // Nothing of the old reverb: exactly the new settings on what came after the change.
    StereoSignal tail{Signal(expected.left.begin() + change_at, expected.left.end()),
                      Signal(expected.right.begin() + change_at, expected.right.end())};
    EXPECT_LT(max_difference(rest.left, tail.left), 1e-4f);
    EXPECT_LT(max_difference(rest.right, tail.right), 1e-4f);
}

} // namespace
} // namespace corvella::test
