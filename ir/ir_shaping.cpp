// Crop, pre-delay, clip, normalise, width, envelope and channel swap.
#include "ir/ir_shaping.h"
#include "platform/aligned_memory.h"

#include "convolution/ipps.h"
#include "effects/biquad_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {

using free_deleter = corvella::FreeDeleter;

// Cleared scratch floats from the aligned allocator, or null.
std::unique_ptr<float, free_deleter> cleared_floats(int count)
{
    if (count <= 0) return nullptr;
    return std::unique_ptr<float, free_deleter>(
        corvella::aligned_new<float>(static_cast<std::size_t>(count), true));
}

bool channels_present(float** buffer, int channels)
{
    if (!buffer || channels <= 0) return false;
    for (int c = 0; c < channels; ++c)
        if (!buffer[c]) return false;
    return true;
}

// A fraction of a length (single precision, as the fractions are), truncated and kept within
// 0..length.
int fraction_of(float fraction, int length)
{
    float const position = fraction * static_cast<float>(length);
    if (!(position >= 1.0f)) return 0;
    return position >= static_cast<float>(length) ? length : static_cast<int>(position);
}

// A stage length from a fraction of the channel; negative products give 0.
std::int64_t stage_length(float fraction, float n)
{
    float const product = fraction * n;
    if (!(product > 0.0f)) return 0;
    return product >= 2147483647.0f ? 2147483647 : static_cast<std::int64_t>(product);
}

// Curvature constant of an envelope stage: 1 - shape kept inside (0, 1), inverted on request.
float curve_constant(float shape, float invert)
{
    float c = std::max(1.0f - shape, 0.00001f);
    if (c >= 1.0f) c = 0.99999f;
    if (invert > 0.0f) c = 1.0f / c;
    return c;
}

} // namespace

void crop_audio_file_into_preallocated_memory(float** buffer, int& length, float start_fraction,
                                              float end_fraction, int channels, int minimum_length_base)
{
    int const n = length;
    if (n <= 0 || !channels_present(buffer, channels)) return;
    int const start = fraction_of(start_fraction, n);
    int const end = fraction_of(end_fraction, n);
    if (end <= start) {
        for (int c = 0; c < channels; ++c)
            std::fill_n(buffer[c], n, 0.0f);
        return;
    }
    int const count = end - start;
    for (int c = 0; c < channels; ++c) {
        std::copy(buffer[c] + start, buffer[c] + end, buffer[c]);
        std::fill(buffer[c] + count, buffer[c] + n, 0.0f);
    }
    length = std::max(count, static_cast<int>(0.5 * minimum_length_base));
}

void add_pre_delay(float* channel, int length, int delay)
{
    if (!channel || length <= 0 || delay <= 0) return;
    if (delay >= length) {
        std::fill_n(channel, length, 0.0f);
        return;
    }
    std::copy_backward(channel, channel + (length - delay), channel + length);
    std::fill_n(channel, delay, 0.0f);
}

void clip_audio_file_into_preallocated_memory(float** buffer, int& length, int channels)
{
    if (length <= 0 || !channels_present(buffer, channels)) return;
    for (int c = 0; c < channels; ++c) {
        float* x = buffer[c];
        for (int t = 0; t < length; ++t) {
            if (x[t] >= 32768.0f)
                x[t] = 1.0f;
            else if (x[t] <= -32768.0f)
                x[t] = -1.0f;
        }
    }
}

float multichannel_normalise(float** buffer, int length, int channels, float maximum_gain)
{
    bool const usable = length > 0 && channels_present(buffer, channels);
    float peak = 0.0f;
    if (usable)
        for (int c = 0; c < channels; ++c)
            for (int t = 0; t < length; ++t)
                peak = std::max(peak, std::fabs(buffer[c][t]));
    float const gain = peak > 1.0f / maximum_gain ? 1.0f / peak : maximum_gain;
    if (usable)
        for (int c = 0; c < channels; ++c)
            ippsMulC_32f_I(gain, buffer[c], length);
    return gain == 0.0f ? 1.0f : gain;
}

void multichannel_width(float** buffer, int channels, int length, float width_unity, int sample_rate)
{
    ippSetDenormAreZeros(1);
    ippSetFlushToZero(1, nullptr);
    if (length <= 0 || (channels != 2 && channels != 4) || !channels_present(buffer, channels)) return;
    float const w = (width_unity - 0.5f) * 2.0f;

    if (w < -0.01f) {
        float const a = -w;
        for (int p = 0; p < channels; p += 2) {
            float* left = buffer[p];
            float* right = buffer[p + 1];
            for (int t = 0; t < length; ++t) {
                float const mid = 0.5f * (left[t] + right[t]) * a;
                left[t] = left[t] * (1.0f - a) + mid;
                right[t] = right[t] * (1.0f - a) + mid;
            }
        }
        return;
    }
    if (w <= 0.01f) return;

    // Widening: each channel receives the other one, inverted, high-passed at 3 kHz and delayed by
    // one 8 ms block, which decorrelates the pair without touching the low end.
    int const block = static_cast<int>(0.008 * sample_rate);
    if (block < 1) return;
    std::unique_ptr<biquad_filter> filters[4];
    std::unique_ptr<float, free_deleter> previous[4]; // X: filtered block before the current one
    std::unique_ptr<float, free_deleter> current[4];  // Y: the current block, inverted
    for (int c = 0; c < channels; ++c) {
        filters[c] = std::make_unique<biquad_filter>();
        biquad_filter& f = *filters[c];
        f.set_freq_fs(static_cast<float>(sample_rate));
        f.set_freq_max_f0(static_cast<float>(sample_rate) * 0.5f);
        f.set_freq_f0(3000.0f);
        f.set_q(1.0f);
        f.set_mode(biquad_mode_low_cut);
        f.set_toggle(1.0f);
        f.compute_coeffs();
    }
    for (int c = 0; c < channels; ++c) {
        previous[c] = cleared_floats(block);
        if (!previous[c]) throw std::runtime_error("malloc error in widener #1");
        current[c] = cleared_floats(block);
        if (!current[c]) throw std::runtime_error("malloc error in widener #2");
    }
    if (!(block + 1 < length)) return;

    int const processed = length - block;
    for (int p = 0; p < channels; p += 2) {
        float* left = buffer[p];
        float* right = buffer[p + 1];
        float* x_left = previous[p].get();
        float* x_right = previous[p + 1].get();
        float* y_left = current[p].get();
        float* y_right = current[p + 1].get();
        for (int start = 0; start < processed; start += block) {
            int const m = std::min(block, processed - start);
            float* l = left + start;
            float* r = right + start;
            for (int i = 0; i < m; ++i) {
                y_left[i] = -l[i];
                y_right[i] = -r[i];
            }
            for (int i = 0; i < m; ++i) {
                l[i] += w * x_right[i];
                r[i] += w * x_left[i];
            }
            filters[p]->compute_filter_inplace(y_left, m);
            filters[p + 1]->compute_filter_inplace(y_right, m);
            std::copy_n(y_left, m, x_left);
            std::copy_n(y_right, m, x_right);
        }
    }
}

void compute_adshr_envelope(float* channel, int length, float const times[5], float const shapes[3],
                            float const inverts[3])
{
    if (!channel || length <= 0 || !times || !shapes || !inverts) return;
    float const n = static_cast<float>(length);
    std::int64_t const attack = stage_length(times[0], n);
    std::int64_t const decay = stage_length(times[1], n);
    float const sustain = times[2];
    std::int64_t const hold = stage_length(times[3], n);
    std::int64_t const release = stage_length(times[4], n);
    float const c_attack = curve_constant(shapes[0], inverts[0]);
    float const c_decay = curve_constant(shapes[1], inverts[1]);
    float const c_release = curve_constant(shapes[2], inverts[2]);
    float const k_attack = 1.0f / c_attack;

    std::int64_t const decay_end = attack + decay;
    std::int64_t const hold_end = decay_end + hold;
    std::int64_t const release_end = hold_end + release;

    enum class stage { attacking, decaying, holding, releasing, done };
    stage current = stage::attacking;
    std::int64_t counter = 1;
    for (std::int64_t t = 0; t < length; ++t) {
        float& x = channel[t];
        switch (current) {
        case stage::attacking:
            if (attack > 0) {
                if (shapes[0] != 0.0f) {
                    float const ratio = static_cast<float>(t) / static_cast<float>(attack);
                    x *= (std::pow(k_attack, ratio) - 1.0f) / (k_attack - 1.0f);
                } else {
                    x *= static_cast<float>(counter) / static_cast<float>(attack);
                    ++counter;
                }
            }
            if (t >= attack) {
                current = stage::decaying;
                counter = 1;
            }
            break;
        case stage::decaying:
            if (decay > 0) {
                if (shapes[1] != 0.0f) {
                    double const u = static_cast<double>(t - attack) / static_cast<double>(decay);
                    double const c = c_decay;
                    x *= static_cast<float>(1.0 - (1.0 - sustain) * (std::pow(c, u) - 1.0) / (c - 1.0));
                } else {
                    x *= 1.0f - static_cast<float>(counter) * (1.0f - sustain) / static_cast<float>(decay);
                    ++counter;
                }
            }
            if (t >= decay_end) {
                current = stage::holding;
                counter = 1;
            }
            break;
        case stage::holding:
            x *= sustain;
            ++counter;
            if (t >= hold_end) {
                current = stage::releasing;
                counter = 1;
            }
            break;
        case stage::releasing:
            if (release > 0) {
                if (shapes[2] != 0.0f) {
                    double const v = static_cast<double>(t - hold_end) / static_cast<double>(release);
                    double const c = c_release;
                    x *= static_cast<float>(sustain - sustain * (std::pow(c, v) - 1.0) / (c - 1.0));
                } else {
                    x *= sustain - static_cast<float>(counter) * sustain / static_cast<float>(release);
                    ++counter;
                }
            } else {
                x = 0.0f;
            }
            if (t >= release_end) current = stage::done;
            break;
        case stage::done:
            x = 0.0f;
            break;
        }
    }
}

void stereo_channel_swap(float** buffer, int channels, int length)
{
    if (channels != 2 || length <= 0 || !buffer || !buffer[0] || !buffer[1]) return;
    std::swap_ranges(buffer[0], buffer[0] + length, buffer[1]);
}
