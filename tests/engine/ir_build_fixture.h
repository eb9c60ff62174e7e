#pragma once

// Helpers for tests that drive the IR build through the engine's requests: impulse-response files
// written with libsndfile, program edits through update_programs, waiting for the IR computation
// thread, and reading back the running IR as the engine's response to an impulse.

#include "engine_fixture.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include "program/program_constants.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvella::test {

// A response of `length` zeros with impulses (position, amplitude).
inline Signal sparse(int length, std::vector<std::pair<int, float>> const& impulses)
{
    Signal s(static_cast<size_t>(length), 0.0f);
    for (auto const& [position, amplitude] : impulses)
        s[static_cast<size_t>(position)] = amplitude;
    return s;
}

// A 32-bit float WAVE file with one channel per entry of `channels` (all of one length).
inline void write_wav(std::filesystem::path const& path, std::vector<Signal> const& channels, int rate)
{
    ASSERT_TRUE(write_planar_wav(path, channels, rate)) << path;
}

class IrBuildTest : public EngineTest {
protected:
    TempDir files_;

    std::filesystem::path file(std::string const& name) const { return files_.path() / name; }

    // Applies `edit` to a copy of the current program and hands the bank to the engine, as the
    // host binding does.
    static void edit_program(VST_Plugin& engine, std::function<void(VST_Plugin_Program&)> const& edit)
    {
        std::vector<VST_Plugin_Program> bank(engine.programs, engine.programs + programs_per_bank);
        int const current = static_cast<int>(engine.program - engine.programs);
        edit(bank[static_cast<size_t>(current)]);
        engine.update_programs(bank.data(), current);
    }

    static void set_path(char (&field)[program_path_size], std::string const& path)
    {
        std::memset(field, 0, sizeof field);
        std::strncpy(field, path.c_str(), sizeof field - 1);
    }

    // IR1 alone at 0 dB, wet only, no glide (the engine_fixture's unity program, set through the bank).
    static void unity_gains(VST_Plugin& engine)
    {
        edit_program(engine, [](VST_Plugin_Program& p) {
            p.master_gain = 0.5f;
            p.master_mix = 1.0f;
            p.master_ir1_ir2_mix = 0.0f;
            p.master_ir1_ir2_mix_mod = 0.0f;
            p.ir1_toggle = 1.0f;
            p.ir2_toggle = 0.0f;
            p.ir1_gain = 0.5f;
            p.ir1_balance = 0.5f;
        });
        engine.smoothed_mix = 0.0f;
    }

    // Waits until the IR computation thread has served every request; false after `limit`.
    static bool wait_idle(VST_Plugin& engine, std::chrono::seconds limit = std::chrono::seconds(120))
    {
        auto const end = std::chrono::steady_clock::now() + limit;
        while (engine.is_ir_work_pending()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Raises a request for IR1 and waits until it has been served.
    static void rebuild_ir1(VST_Plugin& engine, bool full)
    {
        if (full)
            engine.signal_recompute_ir1_full();
        else
            engine.signal_recompute_ir1_partial();
        ASSERT_TRUE(wait_idle(engine));
    }

    // The engine's output for one impulse of the given amplitudes at frame 0, over `frames`
    // frames, starting from silent histories.
    static StereoSignal respond(VST_Plugin& engine, float left, float right, size_t frames)
    {
        engine.silence_buffers();
        StereoSignal in{Signal(frames, 0.0f), Signal(frames, 0.0f)};
        in.left[0] = left;
        in.right[0] = right;
        return run_stereo(engine, in);
    }
};

// Largest absolute difference between two signals of the same length.
inline float max_difference(Signal const& a, Signal const& b)
{
    float worst = a.size() == b.size() ? 0.0f : 1e30f;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

inline size_t peak_position(Signal const& s)
{
    size_t best = 0;
    for (size_t i = 1; i < s.size(); ++i)
        if (std::fabs(s[i]) > std::fabs(s[best])) best = i;
    return best;
}

} // namespace corvella::test
