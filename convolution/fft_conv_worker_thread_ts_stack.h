#pragma once

// The partitioned FFT convolver for a stack of true-stereo sets (four channels each), summed into
// four outputs.
//
// Channel mapping: only even channels are inputs; channel c convolves the input of channel c with
// its lowest bit cleared, and its result goes to output c mod 4. So set s (channels 4s .. 4s+3)
// takes its first input on channel 4s (feeding 4s and 4s+1) and its second on 4s+2 (feeding 4s+2
// and 4s+3), and every set adds into outputs 0..3. Further output channels are left as they are.
//
// Layout: sizes double from level to level up to 4096, two sub-blocks per level except the last;
// levels above 2048 run on the worker thread. The latency is 2N, as for fft_conv_worker_thread,
// whose machinery (records, loading, hand-over, worker, forgetting) this class shares.
//
// Skipping work: a channel whose bypass bit is set contributes nothing and costs nothing; an even
// channel whose input is marked absent contributes silence for those samples (even if they are not
// zero), and a level block that saw no present input is neither transformed nor multiplied with
// the sub-blocks that only hold silence. Both decisions are taken per level block when it is handed
// over, so a block is convolved with the switches it was gathered with.
//
// Threading: as fft_conv_worker_thread. set_channel_bypass and set_input_present are called on the
// audio thread, between process_not_replacing calls.

#include "convolution/fft_conv_worker_thread.h"

#include <atomic>
#include <cstdint>
#include <vector>

class fft_conv_worker_thread_ts_stack : public fft_conv_worker_thread {
public:
    static constexpr int threaded_block_threshold = 2048;
    static constexpr LayoutRule layout_rule{2, 8191, 2, threaded_block_threshold, true};

    // Creates a convolver for (channels, N), starts its worker and returns true; false on any
    // failure. The object is stored in *out even when only the thread could not be started.
    static bool fft_conv_worker_thread_initialise_ts_stack(fft_conv_worker_thread_ts_stack** out,
                                                           void** thread_handle, unsigned int* thread_id,
                                                           int channels, int N);

    fft_conv_worker_thread_ts_stack(int channels, int N);

    static int calc_num_samples_for_buffered_load(int length, int N);
    static Layout compute_layout(int length, int N);

    void set_channel_bypass(int channel, bool bypassed);
    void set_input_present(int channel, bool present);

    // The hand-over of one level: the input histories of the even channels and the results of all
    // channels move one block on.
    void swap_block_pointers(int level);
    void process_convolution_block(int level) override;

    // Work done since construction, for tests and benchmarks: forward transforms of input blocks,
    // and spectrum products (one per sub-block and channel).
    struct WorkCounters {
        long long forward_transforms = 0;
        long long spectrum_products = 0;
    };
    WorkCounters work_counters() const;

private:
    int result_channels() const override;
    void fill_level(int level, float** in, int offset, int frames) override;
    void hand_over_level(int level) override;
    bool input_live(int even_channel) const;

    std::vector<std::uint8_t> channel_bypass; // per channel, initially clear
    std::vector<std::uint8_t> input_present;  // per channel, initially set
    std::vector<std::uint8_t> chunk_live;     // per even channel: input_live, read once per chunk
    std::atomic<long long> forward_transforms{0};
    std::atomic<long long> spectrum_products{0};
};
