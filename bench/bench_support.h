#pragma once

// What several benchmarks share: a test response and the process's CPU clock.

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include <time.h>

namespace corvella::bench {

// Gaussian noise decaying by about 60 dB over `length` samples, one seed per channel.
inline std::vector<float> decaying_noise(int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> ir(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
        ir[static_cast<std::size_t>(i)] = noise(rng) * std::exp(-6.9f * static_cast<float>(i) / static_cast<float>(length));
    return ir;
}

// CPU time of every thread of the process: the audio thread and the convolvers' workers.
inline double process_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

} // namespace corvella::bench
