#pragma once

// A stack of true-stereo impulse-response sets (four channels each) convolved at once and summed
// into four outputs, with per-channel bypass switches and input hints.
//
// Buffer length 0 is the zero-latency mode: the first 128 samples of every channel run through a
// direct_fir_bypassable head and the rest through an fft_conv_worker_thread_ts_stack with N = 64,
// whose latency of 128 the head covers. A buffer length M (a power of two) has no head and runs the
// whole response through the FFT convolver with N = M / 2: the output is delayed by M samples.
//
// Both parts map channels the same way: channel c convolves input c with its lowest bit cleared
// and adds into output c mod 4 (outputs 0..3 carry the sums of all sets, further outputs are
// cleared). A channel whose input hint is clear is treated as silent by the FFT part.
//
// Threading: no lock of its own. The switches and process_frames belong to the audio thread;
// set_sample_frames runs on another thread and the owner serialises it against processing. The
// destructor stops the convolver's worker and waits for it. Like the other convolvers it leaves the
// thread's denormal modes to its owner's processing entry.

#include "convolution/direct_fir_bypassable.h"
#include "convolution/fft_conv_worker_thread_ts_stack.h"

#include <vector>

class convolver_ts_stack {
public:
    static constexpr int max_frames = 16384; // per call; longer calls are processed in pieces
    static constexpr int head_taps = 128;

    // Buffer length 0 (zero latency) or a power of two; anything else throws.
    convolver_ts_stack(int channels, int buffer_length);
    ~convolver_ts_stack();
    convolver_ts_stack(convolver_ts_stack const&) = delete;
    convolver_ts_stack& operator=(convolver_ts_stack const&) = delete;

    // Channel indices outside 0..channels-1 are ignored.
    void set_bypasses(bool fir_bypassed, bool conv_bypassed, int channel);
    void set_input_hints(bool input_present, int channel);

    // One pointer per channel, each to `length` samples; no effect for length 0 or less.
    void set_sample_frames(float** ir, int length);
    // `channels` input and output pointers of at least `frames` samples each.
    void process_frames(float** in, float** out, int frames);
    void clear_buffers();
    void minimise_ir_data_memory();

    bool is_zero_latency() const { return zero_latency; }
    fft_conv_worker_thread_ts_stack* convolver() const { return conv; }

private:
    void process_piece(float** in, float** out, int offset, int frames);
    void release();

    fft_conv_worker_thread_ts_stack* conv = nullptr;
    void* conv_thread_handle = nullptr;
    unsigned int conv_thread_id = 0;
    direct_fir_bypassable* head_fir = nullptr; // zero-latency mode only
    int num_channels = 0;
    int buffer_length = 0;
    bool zero_latency = false;
    float** head_output = nullptr; // per channel, max_frames floats
    float** conv_output = nullptr;
    // Per-call pointer tables: the parts' inputs (each channel reads its even partner) and outputs.
    float** head_input = nullptr;
    float** conv_input = nullptr;
    std::vector<bool> fir_bypass;
    std::vector<bool> conv_bypass;
    std::vector<bool> input_hints;
};
