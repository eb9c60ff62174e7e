#pragma once

// Multichannel time-domain FIR with a fixed tap count: every output sample is computed from the
// current and past input samples, so the filter adds no latency. The engine loads the first 2N
// samples of an impulse response here and the rest into an fft_conv_worker_thread of latency 2N;
// the sum is the exact convolution with the whole response at zero latency. Taps are in natural
// order: tap k multiplies the input sample k samples in the past.
//
// Threading: one lock serialises loading and processing, so a block is filtered entirely with the
// old or entirely with the new taps. load_ir_data runs on a non-audio thread and waits for at most
// one processing call; processing runs on the audio thread and waits for at most one tap copy.
// clear_delay_line may be called from any thread: it only raises a flag, and the next processing
// call starts from a silent history. Errors are thrown as std::runtime_error; the class never shows messages.

#include "convolution/ipps.h"

#include <atomic>

class direct_fir {
public:
    direct_fir(int channels, int taps);
    virtual ~direct_fir();
    direct_fir(direct_fir const&) = delete;
    direct_fir& operator=(direct_fir const&) = delete;

    void initialise_fir_memory();
    // Loads `count` samples per channel as taps (the rest become zero), keeping the history. More
    // samples than taps are refused and the old taps stay.
    void load_ir_data(float** ir, int count);
    void process_not_replacing(float** in, float** out, int frames);
    void process_replacing(float** buffer, int frames);
    int get_length() const { return num_taps; }
    void clear_delay_line();
    void destroy_fir_memory();

    int get_num_channels() const { return num_channels; }

protected:
    int num_channels = 0;
    int num_taps = 0;
    float** taps = nullptr;
    IppsFIRState_32f** states = nullptr;
    void* lock = nullptr;

    void apply_pending_clear(); // processing calls, under lock

    // Idle skipping, under lock: once the whole history is zeros, a chunk of zeros on every channel
    // filters to zeros and leaves the history as it is, so it is not filtered at all.
    int silent_history = 0; // newest input samples that were zero on every channel, at most num_taps
    bool skip_silent_chunk(float* const* in, int frames) const;
    void note_history(float* const* in, int frames);

private:
    std::atomic<bool> clear_requested{false};
};
