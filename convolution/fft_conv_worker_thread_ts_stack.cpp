#include "convolution/fft_conv_worker_thread_ts_stack.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int true_stereo_outputs = 4;

} // namespace

fft_conv_worker_thread_ts_stack::fft_conv_worker_thread_ts_stack(int channels, int N)
    : fft_conv_worker_thread(channels, N, layout_rule),
      channel_bypass(static_cast<size_t>(std::max(channels, 0)), 0),
      input_present(static_cast<size_t>(std::max(channels, 0)), 1),
      chunk_live(static_cast<size_t>(std::max(channels, 0)), 0)
{
}

bool fft_conv_worker_thread_ts_stack::fft_conv_worker_thread_initialise_ts_stack(
    fft_conv_worker_thread_ts_stack** out, void** thread_handle, unsigned int*, int channels, int N)
{
    fft_conv_worker_thread_ts_stack* convolver = nullptr;
    try {
        convolver = new fft_conv_worker_thread_ts_stack(channels, N);
    } catch (...) {
        return false;
    }
    *out = convolver;
    return start_worker(convolver, thread_handle);
}

fft_conv_worker_thread::Layout fft_conv_worker_thread_ts_stack::compute_layout(int length, int N)
{
    return fft_conv_worker_thread::compute_layout(layout_rule, length, N);
}

int fft_conv_worker_thread_ts_stack::calc_num_samples_for_buffered_load(int length, int N)
{
    return compute_layout(length, N).padded_length;
}

void fft_conv_worker_thread_ts_stack::set_channel_bypass(int channel, bool bypassed)
{
    if (channel >= 0 && channel < num_channels) channel_bypass[static_cast<size_t>(channel)] = bypassed ? 1 : 0;
}

void fft_conv_worker_thread_ts_stack::set_input_present(int channel, bool present)
{
    if (channel >= 0 && channel < num_channels) input_present[static_cast<size_t>(channel)] = present ? 1 : 0;
}

fft_conv_worker_thread_ts_stack::WorkCounters fft_conv_worker_thread_ts_stack::work_counters() const
{
    return {forward_transforms.load(std::memory_order_relaxed), spectrum_products.load(std::memory_order_relaxed)};
}

// An even channel's input is taken while it is marked present and at least one channel of its pair
// still listens; a pair that is bypassed as a whole fills its history with silence.
bool fft_conv_worker_thread_ts_stack::input_live(int even_channel) const
{
    auto const e = static_cast<size_t>(even_channel);
    bool const pair_bypassed = channel_bypass[e] && (e + 1 >= channel_bypass.size() || channel_bypass[e + 1]);
    return input_present[e] && !pair_bypassed;
}

// Every channel's result is summed into the accumulator of channel c mod 4.
int fft_conv_worker_thread_ts_stack::result_channels() const
{
    return std::min(num_channels, true_stereo_outputs);
}

void fft_conv_worker_thread_ts_stack::fill_level(int level, float** in, int offset, int frames)
{
    // The switches change only between calls: the levels of a chunk share one reading.
    if (level == 0)
        for (int channel = 0; channel < num_channels; channel += 2)
            chunk_live[static_cast<size_t>(channel)] = input_live(channel) ? 1 : 0;
    // A block that takes no input at all is never transformed, so what its buffer holds does not
    // matter: silence is written only into blocks that also hold input.
    for (int channel = 0; channel < num_channels; channel += 2) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        if (chunk_live[static_cast<size_t>(channel)]) {
            if (!r.input_seen) ippsSet_32f(0.0f, r.input_buffer, r.fill_position);
            ippsCopy_32f(in[channel] + offset, r.input_buffer + r.fill_position, frames);
            r.input_seen = 1;
        } else if (r.input_seen) {
            ippsSet_32f(0.0f, r.input_buffer + r.fill_position, frames);
        }
    }
    for (int channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        r.fill_position = (r.fill_position + frames) % r.block_size;
    }
}

void fft_conv_worker_thread_ts_stack::hand_over_level(int level)
{
    start_hand_over(level);
    swap_block_pointers(level);
}

void fft_conv_worker_thread_ts_stack::swap_block_pointers(int level)
{
    for (int channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        r.block_bypassed = channel_bypass[static_cast<size_t>(channel)] != 0;
        if ((channel & 1) == 0) {
            r.block_has_input = r.input_seen;
            r.input_seen = 0;
            rotate_input_history(r);
        }
        rotate_results(r);
    }
}

void fft_conv_worker_thread_ts_stack::process_convolution_block(int level)
{
    IR_PARTITION_BLOCK const& first = partitions[0][level];
    int const K = first.num_sub_blocks;
    int const valid = std::clamp(first.valid_history, 1, K);
    int const complex_count = first.buffer_length / 2;
    int const outputs = std::min(num_channels, true_stereo_outputs);
    bool written[true_stereo_outputs] = {};
    long long transforms = 0;
    long long products = 0;

    for (int channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        r.pending = 0;
        if ((channel & 1) == 0) {
            // A block that saw no input stands for zeros and is neither written nor transformed;
            // the products skip it while it is among the newest silent_block_count entries. When
            // input returns, the silent entries behind the new one become real zeros.
            if (r.block_has_input) {
                for (int j = 1; j <= std::min(r.silent_block_count, K - 1); ++j)
                    ippsSet_32f(0.0f, r.input_spectra[j], r.buffer_length);
                // The second half was never written: zero-padding to 2B.
                ippsSet_32f(0.0f, r.input_spectra[0] + r.block_size, r.buffer_length - r.block_size);
                r.silent_block_count = 0;
                ippsFFTFwd_RToCCS_32f(r.input_spectra[0], r.transform_scratch, r.fft_spec, r.fft_work);
                std::swap(r.input_spectra[0], r.transform_scratch);
                ++transforms;
            } else {
                r.silent_block_count = std::min(r.silent_block_count + 1, K);
            }
        }
        if (r.block_bypassed) continue;

        IR_PARTITION_BLOCK const& source = partitions[channel & ~1][level];
        int const begin = source.silent_block_count; // newer entries hold silence
        if (begin >= valid) continue;
        int const count = valid - begin;
        int const target = channel % true_stereo_outputs;
        float* const dst = partitions[target][level].accumulator;
        float const* const* history = source.input_spectra + begin;
        float const* const* response = r.ir_spectra + begin;
        if (!written[target]) {
            corvella::ipps_sum_of_products_32fc(history, response, count, dst, complex_count);
            written[target] = true;
        } else {
            for (int j = 0; j < count; ++j)
                ippsAddProduct_32fc(reinterpret_cast<Ipp32fc const*>(history[j]),
                                    reinterpret_cast<Ipp32fc const*>(response[j]), reinterpret_cast<Ipp32fc*>(dst),
                                    complex_count);
        }
        products += count;
    }

    for (int channel = 0; channel < outputs; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        // An output nothing was written to is silence: it is neither transformed nor added.
        r.accumulator_silent = written[channel] ? 0 : 1;
        if (written[channel]) {
            ippsFFTInv_CCSToR_32f(r.accumulator, r.transform_scratch, r.fft_spec, r.fft_work);
            std::swap(r.accumulator, r.transform_scratch);
        }
    }
    forward_transforms.fetch_add(transforms, std::memory_order_relaxed);
    spectrum_products.fetch_add(products, std::memory_order_relaxed);
}
