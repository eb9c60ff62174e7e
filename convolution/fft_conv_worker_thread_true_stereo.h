#pragma once

// Both sections of a true-stereo slot in one partitioned FFT convolver: four paths, two outputs.
//
// Channels: impulse response and input channel c = 0 A left, 1 A right, 2 B left, 3 B right; the
// result of channel c goes to output c mod 2, so
//   output 0 = in0 * A left + in2 * B left,   output 1 = in1 * A right + in3 * B right.
// The engine feeds (L, L, R, R), each scaled by the pre-convolution mixer's gain of its output side.
// A call takes four input channels and writes two output channels.
//
// Why one convolver: per level block, a side whose two inputs were the same for the whole block
// (they are, unless the pre-mixer gives the two output sides different gains) is transformed once,
// the four paths are multiplied and summed per output in the frequency domain, and two inverse
// transforms give both outputs, where two separate convolvers spend up to four forward and four
// inverse transforms and add their outputs afterwards.
//
// Everything else is fft_conv_worker_thread's, through its hooks: the layout, the latency of
// exactly 2N, loading (load_ir_data takes the four channels), the locks, the worker thread,
// forgetting, idle skipping and every message.
//
// Threading: as fft_conv_worker_thread.

#include "convolution/fft_conv_worker_thread.h"

class fft_conv_worker_thread_true_stereo : public fft_conv_worker_thread {
public:
    static constexpr int paths = 4;
    static constexpr int outputs = 2;

    // Creates a convolver for N, starts its worker and returns true; false on any failure. The
    // object is stored in *out even when only the thread could not be started.
    static bool fft_conv_worker_thread_initialise_true_stereo(fft_conv_worker_thread_true_stereo** out,
                                                              void** thread_handle, unsigned int* thread_id, int N);

    explicit fft_conv_worker_thread_true_stereo(int N);

    void process_convolution_block(int level) override;

    // Transforms done since construction, for tests and benchmarks.
    struct WorkCounters {
        long long forward_transforms = 0;
        long long inverse_transforms = 0;
    };
    WorkCounters work_counters() const;

private:
    int result_channels() const override { return outputs; }
    int io_channels() const override { return outputs; }
    void fill_level(int level, float** in, int offset, int frames) override;
    void hand_over_level(int level) override;

    bool chunk_side_identical[2] = {true, true}; // audio thread: per side, the chunk's two inputs agree
    std::atomic<long long> forward_transforms{0};
    std::atomic<long long> inverse_transforms{0};
};
