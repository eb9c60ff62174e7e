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
#include <map>
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
    static void apply(VST_Plugin& engine, Edit const& change, bool builds_something)
    {
        int const builds = engine.ir_builds_finished[0] + engine.ir_builds_finished[1];
        change(engine);
        auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (builds_something && engine.ir_builds_finished[0] + engine.ir_builds_finished[1] == builds &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(wait_idle(engine));
    }

    // `x` with everything outside [from, to) silent.
    static StereoSignal part(StereoSignal const& x, size_t from, size_t to)
    {
        StereoSignal y{Signal(total, 0.0f), Signal(total, 0.0f)};
        std::copy(x.left.begin() + from, x.left.begin() + to, y.left.begin() + from);
        std::copy(x.right.begin() + from, x.right.begin() + to, y.right.begin() + from);
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
    auto const edit = [](std::function<void(VST_Plugin_Program&)> f) {
        return [f](VST_Plugin& e) { edit_program(e, f); };
    };
    // Both IRs, half and half; each longer than what an IR that is off keeps.
    auto const both_switched = [](bool on) {
        return [on](VST_Plugin& e) {
            edit_program(e, [&](VST_Plugin_Program& p) {
                p.ir1_toggle = p.ir2_toggle = on ? 1.0f : 0.0f;
                p.master_ir1_ir2_mix = 0.5f;
            });
            e.smoothed_mix = 0.5f;
        };
    };
    auto const both = [](Edit a, Edit b) { return [a, b](VST_Plugin& e) { a(e), b(e); }; };
    auto const partial = [](VST_Plugin& e) { e.signal_recompute_ir1_partial(); };
    Edit const start = use(first, 1), both_files = both(use(first, 1), use(second, 2));
    Edit const both_off = both(both_files, both_switched(false));
    auto const pre_delay = both(start, edit([](VST_Plugin_Program& p) { p.ir1_pre_delay = 0.1f; }));
    struct Case {
        char const* name;
        Edit const* before;
        Edit after;
        Edit request;       // raised with the change
        bool builds = true; // the change makes the IR worker build
        bool smooth = true; // without: exactly the new settings on what came after
    };
    Case const cases[] = {
        {"IR1 pre-delay", &start, pre_delay, partial},
        {"IR1 envelope", &start, both(start, edit([](VST_Plugin_Program& p) { p.ir1_adshr_d = 0.2f; })),
         partial},
        {"IR1 switched off: its tail rings out", &start,
         both(start, edit([](VST_Plugin_Program& p) { p.ir1_toggle = 0.0f; })), nullptr, false},
        {"both IRs switched on: rebuilt whole", &both_off, both(both_files, both_switched(true)), nullptr},
        {"program change to another IR", &start, use(second, 1),
         [](VST_Plugin& e) {
             e.signal_set_program_disable_audio();
             e.signal_recompute_both_full();
         }},
        {"IR1 pre-delay without smooth changes", &start, pre_delay, partial, true, false},
    };
    std::map<Edit const*, StereoSignal> old_alone; // the old settings alone, by starting point
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        CheckPrefs();
        set_smooth_changes_in_registry(c.smooth ? 1 : 0);
        if (c.smooth && !old_alone.count(c.before))
            old_alone[c.before] = run_stereo(*engine_with(*c.before), part(input, 0, change_at), {block});
        auto new_alone = engine_with(c.after);
        ASSERT_EQ(new_alone->smooth_changes, c.smooth);
        StereoSignal const b = run_stereo(*new_alone, part(input, change_at, total), {block});

        auto engine = engine_with(*c.before);
        StereoSignal out = run_stereo(*engine, slice(input, 0, change_at), {block});
        apply(
            *engine,
            [&](VST_Plugin& e) {
                c.after(e);
                if (c.request) c.request(e);
            },
            c.builds);
        StereoSignal rest = slice(input, change_at, total), after_change = rest;
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
        if (!c.smooth) { // nothing of the old reverb
            EXPECT_LT(max_difference(after_change.left, slice(b, change_at, total).left), 1e-4f);
            EXPECT_LT(max_difference(after_change.right, slice(b, change_at, total).right), 1e-4f);
            continue;
        }
        append(out, after_change);
        StereoSignal expected = old_alone[c.before];
        for (size_t i = 0; i < total; ++i) {
            expected.left[i] += b.left[i];
            expected.right[i] += b.right[i];
        }
        EXPECT_LT(error_db(out, expected), -60.0);
    }
}

} // namespace
} // namespace corvella::test
