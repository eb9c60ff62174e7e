#pragma once

// What the tests of the delay-based effects (chorus, stereo delay, pitch modulator) share: planar
// stereo audio, the effects' table sine as a double-precision model, and the checks every one of
// them must pass (quiet tails stay normal, no allocation, refusals, use beside processing).

#include "convolution/ipps.h"
#include "support/allocation_counter.h"
#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvella::test {

inline constexpr int rate = 48000;

struct stereo {
    std::vector<float> ch[2];
    explicit stereo(int frames) : ch{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)} {}
    float* ptr[2] = {};
    float* const* at(int offset)
    {
        ptr[0] = ch[0].data() + offset;
        ptr[1] = ch[1].data() + offset;
        return ptr;
    }
    void fill_noise(std::mt19937& engine)
    {
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        for (auto& c : ch)
            std::generate(c.begin(), c.end(), [&] { return dist(engine); });
    }
};

// Two tones left, one right: the signal the model comparisons run.
inline stereo tones(int frames)
{
    constexpr double pi = std::numbers::pi;
    stereo audio(frames);
    for (int n = 0; n < frames; ++n) {
        audio.ch[0][n] = static_cast<float>(0.5 * std::sin(2 * pi * 220 * n / rate) +
                                            0.4 * std::sin(2 * pi * 1100 * n / rate));
        audio.ch[1][n] = static_cast<float>(0.6 * std::sin(2 * pi * 330 * n / rate + 1.0));
    }
    return audio;
}

// Processes all of `audio` in random blocks of 1 to `largest` frames; returns where each began.
template <typename E>
std::vector<int> process_in_random_blocks(E& effect, stereo& audio, int largest, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_int_distribution<int> size(1, largest);
    std::vector<int> starts;
    int const frames = static_cast<int>(audio.ch[0].size());
    for (int at = 0, n = 0; at < frames; at += n) {
        n = std::min(size(engine), frames - at);
        starts.push_back(at);
        effect.process_replacing(audio.at(at), n);
    }
    return starts;
}

// The model's input: `audio` with the anti-denormal offset the effect adds to each block's first sample.
inline std::vector<double> biased_input(std::vector<float> const& x, std::vector<int> const& starts)
{
    std::vector<double> v(x.begin(), x.end());
    for (int s : starts)
        v[s] = static_cast<double>(static_cast<float>(v[s] + static_cast<double>(1.2128485e-10f)));
    return v;
}

// Error energy over reference energy in dB, samples [from, to).
inline double error_db(std::vector<float> const& got, std::vector<double> const& want, int from, int to)
{
    double error = 0.0, energy = 0.0;
    for (int n = from; n < to; ++n) {
        error += (got[n] - want[n]) * (got[n] - want[n]);
        energy += want[n] * want[n];
    }
    return 10.0 * std::log10(error / energy);
}

// The table sine: 2048 entries per cycle, linear interpolation; the library sine beyond the table.
inline double table_sine(double x)
{
    constexpr double pi = std::numbers::pi;
    double const index = x * 2048.0 / (2.0 * pi);
    if (!(index >= 0.0 && index < 4095.0)) return std::sin(x);
    double const k = std::floor(index);
    double const s0 = std::sin(k * 2.0 * pi / 2048.0), s1 = std::sin((k + 1.0) * 2.0 * pi / 2048.0);
    return s0 + (index - k) * (s1 - s0);
}

// `noise_blocks` blocks of noise then silence, on a thread without flush-to-zero (as a host may
// leave it): no output is subnormal and processing allocates nothing.
template <typename E>
void expect_normal_tail_without_allocation(E& effect, int block, int blocks, int noise_blocks)
{
    std::mt19937 engine(5);
    stereo audio(block);
    AllocationCounter counter;
    for (int b = 0; b < blocks; ++b) {
        if (b < noise_blocks)
            audio.fill_noise(engine);
        else
            for (auto& c : audio.ch)
                std::fill(c.begin(), c.end(), 0.0f);
        ippSetFlushToZero(0, nullptr);
        ippSetDenormAreZeros(0);
        effect.process_replacing(audio.at(0), block);
        for (auto const& c : audio.ch)
            for (float v : c) {
                int const kind = std::fpclassify(v);
                ASSERT_TRUE(kind == FP_ZERO || kind == FP_NORMAL) << "block " << b << ": " << v;
            }
    }
    EXPECT_EQ(counter.count(), 0);
}

// `change(i)` for i = 0 .. 29 from this thread while another processes a sine: the output stays finite.
template <typename E, typename F> void expect_finite_beside_processing(E& effect, F change)
{
    std::atomic<bool> stop{false}, finite{true};
    std::thread audio_thread([&] {
        stereo audio(256);
        for (int n = 0; !stop.load();) {
            for (auto& c : audio.ch)
                for (float& v : c)
                    v = static_cast<float>(std::sin(0.01 * ++n));
            effect.process_replacing(audio.at(0), 256);
            for (auto const& c : audio.ch)
                for (float v : c)
                    if (!std::isfinite(v)) finite = false;
        }
    });
    for (int i = 0; i < 30; ++i) {
        change(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    audio_thread.join();
    EXPECT_TRUE(finite.load());
}

template <typename E> struct refusal {
    std::function<void(E&)> set;
    std::function<float(E const&)> get;
    char const* message;
};

// Each setting is shown with its exact message and leaves the stored value alone.
template <typename E, typename Make> void expect_refusals(std::vector<refusal<E>> const& refusals, Make make)
{
    for (auto const& r : refusals) {
        E effect = make();
        float const before = r.get(effect);
        MessageRecorder recorder;
        r.set(effect);
        ASSERT_EQ(recorder.count(), 1u) << r.message;
        EXPECT_EQ(recorder.last(), (RecordedMessage{"Tarn Wick: Corvella", r.message, 0}));
        EXPECT_EQ(r.get(effect), before) << r.message;
    }
}

// The text of the runtime error `action` throws, or "no error".
template <typename F> std::string thrown_text(F action)
{
    try {
        action();
    } catch (std::runtime_error const& e) {
        return e.what();
    }
    return "no error";
}

} // namespace corvella::test
