#include "engine/engine_helpers.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <cmath>

float get_db_gain_from_dual_scaling(float unity, float min_db, float max_db)
{
    if (unity > 0.5f) return max_db * 2.0f * (unity - 0.5f);
    if (unity < 0.5f) return min_db * (1.0f - 2.0f * unity);
    return 0.0f; // the centre, or not a number
}

float calculate_signal_level_db_unity(float const* samples, int count, int mode, float floor_db)
{
    if (floor_db >= 0.0f) return 0.0f;
    float value = 0.0f;
    if (samples != nullptr && count > 0) {
        if (mode == 0) {
            // Four running sums: one sum's chain of dependent adds would cost a few cycles a sample.
            double sum[4] = {};
            int i = 0;
            for (; i + 4 <= count; i += 4)
                for (int k = 0; k < 4; ++k)
                    sum[k] += static_cast<double>(samples[i + k]) * samples[i + k];
            for (; i < count; ++i)
                sum[0] += static_cast<double>(samples[i]) * samples[i];
            value = static_cast<float>(std::sqrt((sum[0] + sum[1] + sum[2] + sum[3]) / count));
        } else {
            for (int i = 0; i < count; ++i)
                value = std::max(value, std::fabs(samples[i]));
            value = std::min(value, 1.0f);
        }
    }
    // Silence (and a NaN level) reads as the floor, without asking log10 for its pole: the library
    // takes its error path there, which a meter of an idle engine would pay every chunk.
    if (!(value > 0.0f)) return 0.0f;
    float db = 20.0f * std::log10(value);
    if (!(db > floor_db)) db = floor_db;
    return 1.0f - db / floor_db;
}

void add_run_output(float* const* source, float** output, int frames, float fade_from, float fade_to, bool cross)
{
    if (fade_from != 1.0f || fade_to != 1.0f) {
        float const step = (fade_to - fade_from) / static_cast<float>(frames);
        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < frames; ++i)
                source[channel][i] *= fade_from + step * static_cast<float>(i + 1);
    }
    ippsAdd_32f_I(source[0], output[cross ? 1 : 0], frames);
    ippsAdd_32f_I(source[1], output[cross ? 0 : 1], frames);
}
