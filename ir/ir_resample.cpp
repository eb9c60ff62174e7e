// The two IR resamplers: the fixed-ratio polyphase one for whole IRs and the streaming one for
// the stacked-format IRs.
#include "ir/ir_shaping.h"
#include "platform/aligned_memory.h"

#include "convolution/ipps.h"
#include "platform/message_box.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <stdexcept>

namespace {

using free_deleter = corvella::FreeDeleter;

// Cleared floats from the aligned allocator that IR channels come from, or null.
float* cleared_channel(int count)
{
    return count <= 0 ? nullptr : corvella::aligned_new<float>(static_cast<std::size_t>(count), true);
}

// The IR is padded at the front so that the filter's left half sees silence rather than the
// array's start; the resampler starts this many input samples in.
constexpr int polyphase_padding = 128;
constexpr int polyphase_filter_length = 256;
constexpr float polyphase_rolloff = 0.95f;
constexpr float polyphase_kaiser_alpha = 9.0f;
constexpr float polyphase_gain = 0.98f;

constexpr int stream_block = 1024;

} // namespace

void resample_audio_file_into_preallocated_memory(float** buffer, int source_rate, int target_rate,
                                                  int& allocated_length, int& length, int channels)
{
    if (source_rate == target_rate) return;
    if (!buffer || channels <= 0 || allocated_length <= 0 || length <= 0) return;

    IppsResamplingPolyphaseFixed_32f* spec = nullptr;
    try {
        int spec_bytes = 0, filter_length = 0, phases = 0;
        if (ippsResamplePolyphaseFixedGetSize_32f(source_rate, target_rate, polyphase_filter_length,
                                                  &spec_bytes, &filter_length, &phases,
                                                  ippAlgHintAccurate) != ippStsNoErr)
            throw std::runtime_error("Resample init error (failed on GetSize)");
        spec = reinterpret_cast<IppsResamplingPolyphaseFixed_32f*>(ippsMalloc_8u(spec_bytes));
        if (!spec)
            throw std::runtime_error(
                "Resample init error (failed to allocate memory for resampler at ippsMalloc_8u)");
        if (ippsResamplePolyphaseFixedInit_32f(source_rate, target_rate, polyphase_filter_length,
                                               polyphase_rolloff, polyphase_kaiser_alpha, spec,
                                               ippAlgHintAccurate) != ippStsNoErr)
            throw std::runtime_error("Resample init error (failed to do FixedInit)");

        int const allocated = allocated_length;
        int const original = std::min(length, allocated);
        int const padded =
            static_cast<int>(std::min<std::int64_t>(std::int64_t{original} + polyphase_padding, allocated));
        std::int64_t input =
            (std::int64_t{padded} + polyphase_padding - 1) / polyphase_padding * polyphase_padding;
        input = std::min<std::int64_t>(input, allocated);
        // The allocation normally holds every output; if it does not, the tail is dropped rather
        // than written past the end.
        std::int64_t const divisor = std::gcd(source_rate, target_rate);
        std::int64_t const up = target_rate / divisor;
        std::int64_t const down = source_rate / divisor;
        input = std::min<std::int64_t>(input, std::int64_t{allocated} * down / up);

        for (int c = 0; c < channels; ++c) {
            float* channel = buffer[c];
            if (!channel) continue;
            int const moved = std::min(original, allocated - polyphase_padding);
            if (moved > 0) ippsMove_32f(channel, channel + polyphase_padding, moved);
            std::fill_n(channel, std::min(polyphase_padding, allocated), 0.0f);

            std::unique_ptr<float, free_deleter> resampled(cleared_channel(allocated));
            if (!resampled) throw std::runtime_error("malloc error on tmp_samples");
            double time = polyphase_padding;
            int produced = 0;
            if (ippsResamplePolyphaseFixed_32f(channel, static_cast<int>(input), resampled.get(),
                                               polyphase_gain, &time, &produced, spec) != ippStsNoErr)
                throw std::runtime_error("Resample execution error");
            buffer[c] = resampled.release();
            std::free(channel);
        }
        ippsFree(spec);
        spec = nullptr;
        float const grown =
            static_cast<float>(target_rate) / static_cast<float>(source_rate) * static_cast<float>(padded);
        length = std::min(static_cast<int>(grown), allocated);
    } catch (std::exception const& error) {
        ippsFree(spec);
        MessageBoxA(nullptr, error.what(), corvella::caption::engine, corvella::message_box_ok);
    }
}

namespace {

struct soxr_holder {
    soxr_t resampler = nullptr;
    ~soxr_holder()
    {
        if (resampler) soxr_delete(resampler);
    }
};

// A linear-phase filter with 32-bit precision: about 193 dB of stop band, the first of soxr's
// settings to reach 180 dB (28 bits give about 169 dB). The pass band runs to 96 % of the lower
// Nyquist frequency, so that the -3 dB point lies near 98 % and the transition ends at Nyquist.
soxr_quality_spec_t stream_quality()
{
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_32_BITQ, SOXR_LINEAR_PHASE);
    quality.passband_end = 0.96;
    quality.stopband_begin = 1.0;
    return quality;
}

// Resamples `channel` (its first sample left out) into `scratch` until `wanted` samples exist or
// the scratch is full. soxr removes its own filter delay, so output k stands at input time k /
// ratio of the signal fed. False when soxr cannot be set up.
bool stream_channel(float const* channel, int allocated, double source_rate, double target_rate, int wanted,
                    float* scratch)
{
    soxr_error_t error = nullptr;
    soxr_io_spec_t const io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t const quality = stream_quality();
    soxr_runtime_spec_t const runtime = soxr_runtime_spec(1);
    soxr_holder holder;
    holder.resampler = soxr_create(source_rate, target_rate, 1, &error, &io, &quality, &runtime);
    if (error || !holder.resampler) return false;

    // Past the input there are only zeros; bound the blocks anyway, by the input that the wanted
    // output needs plus a generous allowance for the filter's delay.
    std::int64_t const needed = static_cast<std::int64_t>(std::ceil(wanted * source_rate / target_rate));
    std::int64_t const block_limit = needed / stream_block + 1024;

    double input[stream_block];
    std::int64_t produced = 0;
    std::int64_t block = 0;
    do {
        std::int64_t const first = block * stream_block + 1;
        for (int k = 0; k < stream_block; ++k)
            input[k] = first + k < allocated ? channel[first + k] : 0.0;
        std::size_t consumed = 0;
        while (consumed < stream_block && produced < allocated) {
            std::size_t in_done = 0, out_done = 0;
            error =
                soxr_process(holder.resampler, input + consumed, stream_block - consumed, &in_done,
                             scratch + produced, static_cast<std::size_t>(allocated - produced), &out_done);
            if (error) return true;
            consumed += in_done;
            produced += static_cast<std::int64_t>(out_done);
            if (in_done == 0 && out_done == 0) break;
        }
        ++block;
    } while (produced < wanted && produced < allocated && block < block_limit);
    return true;
}

} // namespace

void resample_audio_file_into_preallocated_memory_r8b(float** buffer, float source_rate, float target_rate,
                                                      int& allocated_length, int& length, int channels)
{
    if (!(source_rate > 0.0f) || !(target_rate > 0.0f) || !std::isfinite(source_rate) ||
        !std::isfinite(target_rate))
        return;
    int const allocated = allocated_length;
    std::unique_ptr<float, free_deleter> scratch(cleared_channel(allocated));
    if (!scratch) return;
    if (!buffer || channels <= 0) {
        length = static_cast<int>(target_rate / source_rate * static_cast<float>(length));
        return;
    }
    float const ratio = target_rate / source_rate;
    float const wanted = static_cast<float>(length) * ratio;
    if (!(wanted < 2147483647.0f)) return;
    int const out = static_cast<int>(wanted);
    if (out > allocated) return;

    for (int c = 0; c < channels; ++c) {
        float* channel = buffer[c];
        if (!channel) continue;
        std::fill_n(scratch.get(), allocated, 0.0f);
        if (!stream_channel(channel, allocated, source_rate, target_rate, out, scratch.get())) return;
        std::copy_n(scratch.get(), allocated, channel);
    }
    length = static_cast<int>(target_rate / source_rate * static_cast<float>(length));
}
