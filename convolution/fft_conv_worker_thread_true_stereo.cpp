#include "convolution/fft_conv_worker_thread_true_stereo.h"

#include <algorithm>
#include <cstring>
#include <utility>

fft_conv_worker_thread_true_stereo::fft_conv_worker_thread_true_stereo(int N)
    : fft_conv_worker_thread(paths, N, layout_rule)
{
}

bool fft_conv_worker_thread_true_stereo::fft_conv_worker_thread_initialise_true_stereo(
    fft_conv_worker_thread_true_stereo** out, void** thread_handle, unsigned int*, int N)
{
    fft_conv_worker_thread_true_stereo* convolver = nullptr;
    try {
        convolver = new fft_conv_worker_thread_true_stereo(N);
    } catch (...) {
        return false;
    }
    *out = convolver;
    return start_worker(convolver, thread_handle);
}

fft_conv_worker_thread_true_stereo::WorkCounters fft_conv_worker_thread_true_stereo::work_counters() const
{
    return {forward_transforms.load(std::memory_order_relaxed), inverse_transforms.load(std::memory_order_relaxed)};
}

void fft_conv_worker_thread_true_stereo::fill_level(int level, float** in, int offset, int frames)
{
    if (level == 0) { // levels run in order
        chunk_has_input = !idle_skipping.load(std::memory_order_relaxed) || has_input(in, paths, offset, frames);
        for (int side = 0; side < 2; ++side) {
            float const* a = in[2 * side] + offset;
            float const* b = in[2 * side + 1] + offset;
            chunk_side_identical[side] =
                !chunk_has_input || a == b || std::memcmp(a, b, sizeof(float) * static_cast<size_t>(frames)) == 0;
        }
    }
    IR_PARTITION_BLOCK& first = partitions[0][level];
    for (int side = 0; side < 2; ++side)
        if (!chunk_side_identical[side]) partitions[2 * side][level].inputs_identical = 0;
    // As in the plain convolver: a block of zeros is written only once input comes.
    bool const write = chunk_has_input || first.filling_live;
    bool const clear_before = chunk_has_input && !first.filling_live;
    if (chunk_has_input) first.filling_live = 1;
    for (int channel = 0; channel < paths; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        int const p = r.fill_position;
        if (clear_before) ippsSet_32f(0.0f, r.input_buffer, p);
        if (write) ippsCopy_32f(in[channel] + offset, r.input_buffer + p, frames);
        r.fill_position = (p + frames) % r.block_size;
    }
}

void fft_conv_worker_thread_true_stereo::hand_over_level(int level)
{
    start_hand_over(level);
    rotate_history_live(partitions[0][level]);
    for (int side = 0; side < 2; ++side) {
        IR_PARTITION_BLOCK& r = partitions[2 * side][level];
        r.share_spectrum = r.inputs_identical;
        r.inputs_identical = 1;
    }
    for (int channel = 0; channel < paths; ++channel) {
        rotate_input_history(partitions[channel][level]);
        rotate_results(partitions[channel][level]);
    }
}

void fft_conv_worker_thread_true_stereo::process_convolution_block(int level)
{
    IR_PARTITION_BLOCK& first = partitions[0][level];
    IR_PARTITION_BLOCK& second = partitions[1][level];
    int const K = first.num_sub_blocks;
    int const valid = std::clamp(first.valid_history, 1, K);
    int const complex_count = first.buffer_length / 2;
    bool const fresh_input = first.history_live[0] != 0;
    long long transforms = 0;

    bool every_entry_shared = true;
    for (int side = 0; side < 2; ++side) {
        IR_PARTITION_BLOCK& a = partitions[2 * side][level];
        IR_PARTITION_BLOCK& b = partitions[2 * side + 1][level];
        a.pending = b.pending = 0;
        bool const share = a.share_spectrum != 0;
        a.shared_run = share ? std::min(a.shared_run + 1, K) : 0;
        every_entry_shared = every_entry_shared && a.shared_run >= valid;
        if (!fresh_input) continue; // a silent block is neither transformed nor read
        for (IR_PARTITION_BLOCK* r : {&a, &b}) {
            if (r == &b && share) {
                ippsCopy_32f(a.input_spectra[0], b.input_spectra[0], b.buffer_length);
                continue;
            }
            ippsSet_32f(0.0f, r->input_spectra[0] + r->block_size, r->buffer_length - r->block_size);
            ippsFFTFwd_RToCCS_32f(r->input_spectra[0], r->transform_scratch, r->fft_spec, r->fft_work);
            std::swap(r->input_spectra[0], r->transform_scratch);
            ++transforms;
        }
    }
    forward_transforms.fetch_add(transforms, std::memory_order_relaxed);

    // The two sides' entries that hold input, one after the other, for each output.
    int count = 0;
    for (int side = 0; side < 2; ++side) {
        IR_PARTITION_BLOCK const& a = partitions[2 * side][level];
        IR_PARTITION_BLOCK const& b = partitions[2 * side + 1][level];
        for (int j = 0; j < valid; ++j) {
            if (!first.history_live[j]) continue;
            first.live_inputs[count] = a.input_spectra[j];
            first.live_responses[count] = a.ir_spectra[j];
            second.live_inputs[count] = b.input_spectra[j];
            second.live_responses[count] = b.ir_spectra[j];
            ++count;
        }
    }
    if (count == 0) {
        // Nothing but silence in the history: both results are silence.
        for (int channel = 0; channel < paths; ++channel)
            partitions[channel][level].accumulator_silent = 1;
        skipped_blocks.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    if (every_entry_shared) {
        // Each side's two histories are the same: every input spectrum is loaded once for both outputs.
        corvella::ipps_sum_of_products_pair_32fc(first.live_inputs, first.live_responses, second.live_responses,
                                                 count, first.accumulator, second.accumulator, complex_count);
    } else {
        corvella::ipps_sum_of_products_32fc(first.live_inputs, first.live_responses, count, first.accumulator,
                                            complex_count);
        corvella::ipps_sum_of_products_32fc(second.live_inputs, second.live_responses, count, second.accumulator,
                                            complex_count);
    }
    for (IR_PARTITION_BLOCK* r : {&first, &second}) {
        ippsFFTInv_CCSToR_32f(r->accumulator, r->transform_scratch, r->fft_spec, r->fft_work);
        std::swap(r->accumulator, r->transform_scratch);
        r->accumulator_silent = 0;
    }
    inverse_transforms.fetch_add(outputs, std::memory_order_relaxed);
}
