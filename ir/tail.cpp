#include "ir/tail.h"

#include "convolution/direct_fir.h"
#include "convolution/ipps.h"
#include "ir/audio_file_loader.h"
#include "ir/ir_shaping.h"
#include "platform/aligned_memory.h"
#include "platform/threading.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

namespace text {
constexpr char too_many_channels[] = "tail too many channels requested";
constexpr char tint_data[] = "Low system memory: \nmalloc error on current_tint_data";
constexpr char tinter[] = "Could not initialise tinter";
constexpr char buffer_table[] =
    "malloc error on multichannel_load_ir_buffer (default IR initialisation in audio file loader)";
constexpr char buffer_channel[] = "malloc error on multichannel_load_ir_buffer[channel_count] (default IR "
                                  "initialisation in audio file loader)";
constexpr char resample[] = "Failed to resample tail";
constexpr char engine_rate[] = "Tail engine sample rate must be 1 ... 1,000,000";
} // namespace text

constexpr char const* tint_names[] = {
    "White",        "Spacious",   "Furnished", "Bright Plate", "Airy Room",     "Clear Studio", "Thin Highs",
    "Rich Chamber", "Small Room", "Cathedral", "Stone Church", "Bright Chapel", "Deep Chapel"};

constexpr char const* density_names[] = {"Dense",       "Grainy",      "Reflective", "Sparse Head",
                                         "Sparse Body", "Sparse Full", "Very Sparse"};

// Largest gap at the start (times the diffusion) and the gapped region's fraction divisor
// (1 + factor x diffuse length), per density type.
struct density {
    float largest_gap;
    float fraction_factor;
};
constexpr density densities[tail::density_type_count] = {{1000.0f, 8.0f}, {4000.0f, 1.0f}, {1000.0f, 1.0f},
                                                         {5000.0f, 2.0f}, {5000.0f, 0.5f}, {8000.0f, 0.15f},
                                                         {20000.0f, 0.1f}};

constexpr float cross_path_gain = 0.47140452f; // sqrt(2) / 3
constexpr int tail_fade_clear = 256;

float unity(float u)
{
    return u >= 0.0f ? std::min(u, 1.0f) : 0.0f;
}

int samples_for(float milliseconds)
{
    return static_cast<int>(static_cast<double>(milliseconds) / 1000.0 * tail::synthesis_rate);
}

std::uint32_t lcg(std::uint32_t state)
{
    return state * 1103515245u + 12345u;
}

// Random silent gaps: long and dense at the start, shorter and rarer later, none beyond length / F.
void cut_gaps(float* channel, int length, float largest_gap, float fraction, std::uint32_t state)
{
    float const n = static_cast<float>(length);
    int pos = 0;
    while (static_cast<float>(pos) < n / fraction) {
        state = lcg(state);
        int const step = static_cast<int>(static_cast<float>((state & 0x7fffffffu) % 249u) *
                                              (static_cast<float>(pos) * fraction / n) +
                                          1.0f);
        int const start = pos + step;
        float const product = (1.0f - static_cast<float>(start) * fraction / n) * largest_gap;
        int const limit = product < 1.0f ? 1 : static_cast<int>(product);
        state = lcg(state);
        int const gap = static_cast<int>((state & 0x7fffffffu) % static_cast<std::uint32_t>(limit));
        int const end = start + gap;
        if (gap > 0 && start < length) std::fill(channel + start, channel + std::min(end, length), 0.0f);
        pos = end;
    }
}

} // namespace

char const* tail_tint_name(int tint)
{
    return tint >= 0 && tint <= tail::tint_count ? tint_names[tint] : nullptr;
}

char const* tail_density_name(int type)
{
    return type >= 0 && type < tail::density_type_count ? density_names[type] : nullptr;
}

tail::tail(int channels, int rate)
{
    if (channels > max_channels) throw std::runtime_error(text::too_many_channels);
    InitializeCriticalSection(&lock);
    channel_count = std::max(channels, 0);
    sample_rate = rate;
    try {
        init_tints();
    } catch (...) {
        release();
        DeleteCriticalSection(&lock);
        throw;
    }
}

tail::~tail()
{
    release();
    DeleteCriticalSection(&lock);
}

void tail::release() noexcept
{
    delete tinter;
    tinter = nullptr;
    std::free(current_tint_data);
    current_tint_data = nullptr;
}

void tail::init_tints()
{
    corvella::CriticalSectionLock guard(&lock);
    if (!current_tint_data) {
        current_tint_data = corvella::aligned_new<float>(tint_taps, true);
        if (!current_tint_data) throw std::runtime_error(text::tint_data);
    }
    if (!tinter) {
        try {
            tinter = new direct_fir(1, tint_taps);
        } catch (...) {
            tinter = nullptr;
            throw std::runtime_error(text::tinter);
        }
    }
}

void tail::set_tint(int value)
{
    corvella::CriticalSectionLock guard(&lock);
    tint = value;
}

void tail::set_density_type(int type)
{
    corvella::CriticalSectionLock guard(&lock);
    density_type = std::clamp(type, 0, density_type_count - 1);
}

void tail::set_diffusion_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    float const open = 1.0f - unity(u);
    diffusion = open * open;
}

void tail::set_length_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    float const v = unity(u);
    length_ms = (v * v * v * 29.95f + 0.05f) * 1000.0f;
    length_samples = samples_for(length_ms);
}

void tail::set_variant_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    variant = std::min(static_cast<int>(unity(u) * static_cast<float>(max_variant)), max_variant);
}

void tail::set_diffuse_length_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    diffuse_length = unity(u);
}

void tail::set_sample_rate(float rate)
{
    corvella::CriticalSectionLock guard(&lock);
    sample_rate = rate >= 1.0f && rate <= 2147483647.0f ? static_cast<int>(rate) : 0;
    length_samples = samples_for(length_ms);
}

int tail::get_tint() const
{
    corvella::CriticalSectionLock guard(&lock);
    return tint;
}

int tail::get_density_type() const
{
    corvella::CriticalSectionLock guard(&lock);
    return density_type;
}

float tail::get_diffusion_unity() const
{
    corvella::CriticalSectionLock guard(&lock);
    return 1.0f - std::sqrt(diffusion);
}

float tail::get_length_ms() const
{
    corvella::CriticalSectionLock guard(&lock);
    return length_ms;
}

int tail::get_length_samples() const
{
    corvella::CriticalSectionLock guard(&lock);
    return length_samples;
}

int tail::get_variant() const
{
    corvella::CriticalSectionLock guard(&lock);
    return variant;
}

float tail::get_diffuse_length_unity() const
{
    corvella::CriticalSectionLock guard(&lock);
    return diffuse_length;
}

int tail::get_sample_rate() const
{
    corvella::CriticalSectionLock guard(&lock);
    return sample_rate;
}

int tail::get_channel_count() const
{
    return channel_count;
}

float tail::get_output_gain() const
{
    corvella::CriticalSectionLock guard(&lock);
    return output_gain;
}

float const* tail::get_current_tint_data() const
{
    return current_tint_data;
}

void tail::apply_channel_subtint(int k)
{
    corvella::CriticalSectionLock guard(&lock);
    if (current_tint_data) {
        if (tint < 1 || tint > tint_count)
            std::fill_n(current_tint_data, tint_taps, 0.0f);
        else if (k >= 0 && k < kernels_per_tint)
            std::copy_n(tail_tint_kernels[tint - 1][k], tint_taps, current_tint_data);
    }
    output_gain = 1.0f;
}

void tail::multichannel_tails(float** buffer, int channels, int length)
{
    corvella::CriticalSectionLock guard(&lock);
    if (!buffer || length <= 0) return;
    int const n = std::min(channels, channel_count);
    density const shape = densities[std::clamp(density_type, 0, density_type_count - 1)];
    float const largest_gap = shape.largest_gap * diffusion;
    float const fraction = 1.0f + shape.fraction_factor * diffuse_length;
    // A tint outside the menu leaves the tail untinted (filtering with cleared taps would silence it).
    bool const tinted = tinter && current_tint_data && tint >= 1 && tint <= tint_count;
    random_state = 1;
    for (int c = 0; c < n; ++c) {
        float* channel = buffer[c];
        if (!channel) continue;
        unsigned int seed = static_cast<unsigned int>(variant + c);
        if (ippsRandGauss_Direct_32f(channel, length, 0.0f, 0.1f, &seed) != ippStsNoErr)
            std::fill_n(channel, length, 0.0f);

        if (largest_gap > 0.0f) {
            random_state = static_cast<unsigned int>(c + 1 + variant);
            cut_gaps(channel, length, largest_gap, fraction, random_state);
        }

        // 100 dB of exponential decay over the length (release curve constant 0.00001).
        float const times[5] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f};
        float const shapes[3] = {0.0f, 0.0f, 1.0f};
        float const inverts[3] = {0.0f, 0.0f, 0.0f};
        compute_adshr_envelope(channel, length, times, shapes, inverts);

        if (tinted) {
            apply_channel_subtint(n == 2 && c == 1 ? 3 : c);
            float* taps = current_tint_data;
            tinter->load_ir_data(&taps, tint_taps);
            tinter->clear_delay_line();
            tinter->process_replacing(&channel, length);
            // Undo the kernel's delay.
            constexpr int shift = 32;
            if (length > shift) ippsMove_32f(channel + shift, channel, length - shift);
        }
    }
}

void tail::create_multichannel_tails(float**& buffer, int engine_rate, int& allocated_length, int& ir_length,
                                     int& bit_depth, int& sample_rate_out, int channels, bool add_noise,
                                     float noise_level, float noise_dry_gain, int noise_seed_offset,
                                     float noise_release)
{
    corvella::CriticalSectionLock guard(&lock);
    if (engine_rate < 1 || engine_rate > 1000000) throw std::invalid_argument(text::engine_rate);
    int const n = length_samples;
    sample_rate_out = engine_rate;
    bit_depth = ir_bit_depth;
    ir_length = n;
    // Room for the resampler to write in place: 1.6 x the larger of the scaled length + 2048 and
    // half a second.
    double const scaled =
        std::max(static_cast<double>(engine_rate) / synthesis_rate * n, static_cast<double>(n));
    double const half_second = engine_rate < synthesis_rate ? 22050.0 : engine_rate * 0.5;
    allocated_length = static_cast<int>(std::max(std::trunc(scaled + 2048.0), half_second) * 1.6);
    if (buffer) return;

    float** table = corvella::aligned_new<float*>(corvella::ir_load_channels, true);
    if (!table) throw std::runtime_error(text::buffer_table);
    for (int c = 0; c < corvella::ir_load_channels; ++c) {
        table[c] = corvella::aligned_new<float>(static_cast<std::size_t>(allocated_length), true);
        if (!table[c]) {
            corvella::free_ir_load_buffer(table);
            throw std::runtime_error(text::buffer_channel);
        }
    }
    buffer = table;

    multichannel_tails(buffer, channels, n);
    if (std::min(channels, channel_count) == 4) {
        ippsMulC_32f_I(cross_path_gain, buffer[1], n);
        ippsMulC_32f_I(cross_path_gain, buffer[2], n);
    }
    if (add_noise)
        add_shaped_noise(buffer, ir_length, corvella::ir_load_channels, 2.0f * noise_level, noise_dry_gain,
                         ir_length % 1000 + noise_seed_offset, noise_release, synthesis_rate);
    if (engine_rate != synthesis_rate) {
        try {
            resample_audio_file_into_preallocated_memory(
                buffer, synthesis_rate, engine_rate, allocated_length, ir_length, corvella::ir_load_channels);
        } catch (...) {
            throw std::runtime_error(text::resample);
        }
    }
    // The resampler's last samples ring on; the tail ends in silence.
    int const from = std::max(0, ir_length - tail_fade_clear);
    for (int c = 0; c < corvella::ir_load_channels; ++c)
        std::fill(buffer[c] + from, buffer[c] + ir_length, 0.0f);
}
