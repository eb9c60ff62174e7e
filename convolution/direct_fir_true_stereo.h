#pragma once

// The zero-latency head of a true-stereo slot: four FIR paths of the same tap count summed into two
// outputs, computed in the frequency domain.
//
// Channels: taps and input channel c = 0 A left, 1 A right, 2 B left, 3 B right; path c goes to
// output c mod 2, so
//   output 0 = in0 * A left + in2 * B left,   output 1 = in1 * A right + in3 * B right.
// The engine feeds (L, L, R, R). It takes the place of two 2-channel direct_fir heads (side A and
// side B) whose outputs are added, with the same contract: taps fixed at construction, zero
// latency, a history continued across calls of any size, and the same messages.
//
// How: overlap-save with an FFT of M points (the smallest power of two of at least twice the tap
// count rounded up to a multiple of 8; 512 at T = 256). A call is cut into chunks of at most
// M - T + 1 frames; per chunk the last M input samples of each side are transformed once when the
// side's two inputs have been identical over all of them (otherwise both are), the four path
// spectra are multiplied and summed into two output spectra, and two inverse transforms give both
// outputs. Chunks of exactly B = M / 4, M / 8 or M / 16 frames (host blocks of 128, 64 or 32 at
// T = 256) cut the taps into blocks of B instead and run on transforms of 2B points, each block
// reusing the input spectra the blocks before it made: at 128 frames that is two forward and two
// inverse 256-point transforms per block where two direct_fir heads spend 131,072 multiply-adds.
// Other chunks shorter than direct_threshold() frames, where the transforms cost more than they
// save, are filtered directly from the same history (a dot product per output, with AVX2+FMA where
// the processor has them; otherwise through the ipps FIR), so mixing call sizes stays seamless.
// Idle input is skipped as in direct_fir: once every history is silent, silent chunks give silence
// without computing.
//
// Threading: as direct_fir. One lock serialises loading and processing, so a block is filtered
// entirely with the old or entirely with the new taps; it is held for one call only. load_ir_data
// runs on a non-audio thread: it transforms the four tap sets into a staging area first (tens of
// microseconds, outside the lock) and holds the lock only to copy them in;
// process_not_replacing runs on the audio thread, never allocates and restores the caller's
// floating-point mode on return. clear_delay_line may be called from any thread: it only raises a
// flag, and the next processing call starts from a silent history. Errors are thrown as
// std::runtime_error; the class never shows messages.

#include "convolution/ipps.h"

#include <atomic>
#include <mutex>

class direct_fir_true_stereo {
public:
    static constexpr int paths = 4;
    static constexpr int outputs = 2;

    explicit direct_fir_true_stereo(int taps);
    ~direct_fir_true_stereo();
    direct_fir_true_stereo(direct_fir_true_stereo const&) = delete;
    direct_fir_true_stereo& operator=(direct_fir_true_stereo const&) = delete;

    // Loads `count` samples of each of the four channels of `ir` as taps (the rest become zero),
    // keeping the history. More samples than taps are refused and the old taps stay.
    void load_ir_data(float** ir, int count);
    // Four input channels, two output channels. Outputs may be the same arrays as inputs.
    void process_not_replacing(float** in, float** out, int frames);
    int get_length() const { return num_taps; }
    void clear_delay_line();

    // Chunks shorter than this are filtered directly, longer ones through the transforms. Setting
    // it (before processing) is for tests and benchmarks that compare both ways: 1 transforms
    // everything; the largest value, M - padded_taps + 1 (T + 1 at T = 256), filters every chunk
    // directly except the longest (M - T + 1 frames).
    int direct_threshold() const { return direct_below; }
    void set_direct_threshold(int frames);

private:
    void initialise_fir_memory();
    void destroy_fir_memory();
    void apply_pending_clear(); // processing, under lock
    void reset_history();
    void process_chunk(float** in, float** out, int offset, int frames);
    void filter_directly(float** out, int offset, int frames);
    void filter_by_transforms(float** out, int offset, int frames);
    struct BlockSet;
    BlockSet const* block_set_for(int frames) const;
    void filter_block(BlockSet const& set, float** out, int offset);
    void forget_block_spectra();

    int num_taps = 0;    // T
    int fft_size = 0;    // M
    int max_chunk = 0;   // M - T + 1: the longest chunk whose outputs see no circular wrap
    int padded_taps = 0; // T rounded up to a multiple of 8, for the direct path's vectors
    int direct_below = 0;
    int spectrum_bins = 0; // M / 2 + 1 complex values

    IppsFFTSpec_R_32f* fft_spec = nullptr;
    Ipp8u* fft_work = nullptr;
    IppsFIRState_32f* fir[paths] = {}; // direct path without AVX2; history set from lines[] per chunk
    float* memory = nullptr;           // one allocation holding every array below
    float* lines[paths] = {};          // the last M input samples of each channel, oldest first
    float* tap_spectra[paths] = {};    // M + 4 floats each
    float* input_spectra[paths] = {};  // M + 4 floats each
    float* output_spectra[outputs] = {};
    float* window = nullptr;          // M + 4: transform input (the transforms may overwrite it)
    float* time_result = nullptr;     // M + 4: an inverse transform's output
    float* direct_result[2] = {};     // max_chunk each: two paths' direct outputs before summing
    float* reversed_taps[paths] = {}; // padded_taps each: the direct path's taps, last tap first

    // What a load computes before it takes the lock: the same arrays as the live ones, and the taps
    // for the FIR states. `staging` holds them all; loads are serialised by load_mutex.
    float* staging = nullptr;
    float* staged_taps[paths] = {};
    float* staged_reversed[paths] = {};
    float* staged_spectra[paths] = {};
    float* staged_window = nullptr;
    Ipp8u* load_work = nullptr;
    std::mutex load_mutex;

    // Chunks of exactly `size` frames run through the taps cut into `parts` blocks of that size.
    static constexpr int max_block_sets = 3;
    static constexpr int max_block_parts = 8;
    struct BlockSet {
        int size = 0;                      // B, a power of two
        int parts = 0;                     // K = T / B rounded up
        int stride = 0;                    // floats from one part's spectrum to the next (2B + 4 rounded)
        IppsFFTSpec_R_32f* spec = nullptr; // 2B points
        float* tap_spectra[paths] = {};    // K spectra per path: taps [jB, (j + 1) B)
        float* staged_tap_spectra[paths] = {};
    };
    BlockSet block_sets[max_block_sets];
    int block_set_count = 0;
    BlockSet const* active_block_set = nullptr;        // whose spectra block_history holds
    float* block_ring[paths] = {};                     // room for the input spectra of any set
    float* block_history[paths][max_block_parts] = {}; // [j]: the window that ended j blocks ago
    int block_history_held[paths] = {}; // after a block: older windows kept for the next (<= K - 1)

    int silent_tail = 0;        // newest samples zero on all four inputs, at most M
    int identical_tail[2] = {}; // per side: newest samples in which its two inputs agree, at most M
    void* lock = nullptr;
    std::atomic<bool> clear_requested{false};
};
