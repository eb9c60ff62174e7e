// corvella-test-signal: a short dry test signal for the demo: drum-like hits over a sustained
// chord, made by code so that nothing audio is downloaded or kept in the repository.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr double seconds = 8.0;
constexpr double two_pi = 2.0 * std::numbers::pi;

double noise(std::uint32_t& state) // fixed LCG: the same signal everywhere
{
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
}

void kick(std::vector<double>& left, std::vector<double>& right, int start)
{
    double phase = 0.0;
    for (int n = 0; n < rate / 2 && start + n < static_cast<int>(left.size()); ++n) {
        double const t = static_cast<double>(n) / rate;
        double const frequency = 45.0 + 95.0 * std::exp(-t / 0.03);
        phase += two_pi * frequency / rate;
        double const v = 0.9 * std::sin(phase) * std::exp(-t / 0.16);
        left[start + n] += v;
        right[start + n] += v;
    }
}

void snare(std::vector<double>& left, std::vector<double>& right, int start, std::uint32_t& state)
{
    double low = 0.0;
    for (int n = 0; n < rate / 4 && start + n < static_cast<int>(left.size()); ++n) {
        double const t = static_cast<double>(n) / rate;
        double const white = noise(state);
        low += 0.3 * (white - low);
        double const v = 0.45 * (white - low) * std::exp(-t / 0.06) +
                         0.35 * std::sin(two_pi * 185.0 * t) * std::exp(-t / 0.04);
        left[start + n] += 0.9 * v;
        right[start + n] += v;
    }
}

void hat(std::vector<double>& left, std::vector<double>& right, int start, std::uint32_t& state)
{
    double previous = 0.0;
    for (int n = 0; n < rate / 20 && start + n < static_cast<int>(left.size()); ++n) {
        double const t = static_cast<double>(n) / rate;
        double const white = noise(state);
        double const v = 0.25 * (white - previous) * std::exp(-t / 0.012);
        previous = white;
        left[start + n] += v;
        right[start + n] += 0.7 * v;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::printf("Usage: corvella-test-signal OUTPUT.wav\n"
                    "Writes 8 s of stereo 48 kHz 24-bit test signal: drum-like hits, then a held chord.\n");
        return argc == 2 ? 0 : 1;
    }
    auto const frames = static_cast<int>(seconds * rate);
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    std::uint32_t state = 12345u;

    // Two bars at 120 bpm: kick on 1 and 3, snare on 2 and 4, hats on eighths; then a chord that
    // stops dead at 6.5 s so that the reverb tail is heard on its own.
    int const beat = rate / 2;
    for (int b = 0; b < 8; ++b) {
        (b % 2 == 0 ? kick(left, right, b * beat) : snare(left, right, b * beat, state));
        hat(left, right, b * beat, state);
        hat(left, right, b * beat + beat / 2, state);
    }
    double const chord[] = {220.0, 277.18, 329.63, 440.0};
    int const chord_start = 8 * beat, chord_end = 13 * beat;
    for (int n = chord_start; n < chord_end; ++n) {
        double const t = static_cast<double>(n - chord_start) / rate;
        double const envelope = std::min(1.0, t / 0.05) * std::min(1.0, (chord_end - n) / (0.005 * rate));
        double v = 0.0;
        for (double f : chord)
            v += std::sin(two_pi * f * t);
        left[n] += 0.12 * envelope * v;
        right[n] += 0.12 * envelope * v * 0.95;
    }

    std::vector<float> interleaved(2 * static_cast<std::size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        interleaved[2 * n] = static_cast<float>(std::clamp(left[n], -1.0, 1.0));
        interleaved[2 * n + 1] = static_cast<float>(std::clamp(right[n], -1.0, 1.0));
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "corvella-test-signal: cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 3;
    }
    bool const ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    if (!ok) {
        std::fprintf(stderr, "corvella-test-signal: cannot write %s\n", argv[1]);
        return 3;
    }
    return 0;
}
