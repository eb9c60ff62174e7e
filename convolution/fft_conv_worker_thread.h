#pragma once

// Non-uniformly partitioned FFT convolution at a fixed latency of exactly 2N samples.
//
// The impulse response is cut into levels whose block size grows by 4 from level to level (N, 4N,
// 16N, ... below 65,536), six sub-blocks per level except the last. Each level is an overlap-add
// convolution with a frequency-domain delay line of its input blocks. Levels of up to 4096 samples
// run on the caller's (audio) thread; larger ones run on this object's worker thread, so the audio
// thread never computes a transform longer than 8192 points. Channel c of the input is convolved
// with channel c of the impulse response.
//
// The engine feeds this convolver the impulse response from sample 2N on and computes the first 2N
// samples with a zero-latency direct FIR, so the sum of both is an exact zero-latency convolution.
//
// The machinery (records, loading, hand-over, worker, forgetting, idle skipping) is shared with the
// stacked true-stereo variant (fft_conv_worker_thread_ts_stack), which brings its own layout rule
// and channel mapping through the protected hooks, and with the four-path true-stereo variant
// (fft_conv_worker_thread_true_stereo), which brings its channel mapping.
//
// Threading:
// - process_not_replacing: audio thread only. Holds process_lock for the whole call; waits on the
//   done event only when a threaded level completes and the worker's previous pass is unfinished.
// - load_ir_data, minimise_ir_data_memory: one non-audio thread at a time (the IR computation
//   thread). The expensive work runs without blocking the audio thread; process_lock is only held
//   for pointer exchanges and is never held while waiting for the worker.
// - silence_x_y_buffers: any thread; only raises a flag. The next process_not_replacing forgets the
//   input history before it reads any input, in time independent of the IR's length.
// - The worker thread runs ThreadEntryPoint; trigger_kill stops it from any thread.
// Lock order is always load_lock, process_lock, worker_lock.

#include "convolution/ipps.h"

#include <atomic>
#include <cstdint>

class fft_conv_worker_thread {
public:
    // One level of one channel.
    struct IR_PARTITION_BLOCK {
        std::uint8_t pending;        // threaded block complete, waiting for the worker
        std::uint8_t threaded;       // block_size > 4096: convolved on the worker thread
        int num_sub_blocks;          // K
        int block_size;              // B
        int fft_size;                // 2B
        int buffer_length;           // 2B + 4: packed spectrum of 2B points plus one spare complex value
        int fill_position;           // 0..B-1, where input is written and output read in the current block
        float* input_buffer;         // block being filled with input
        float** input_spectra;       // K spectra: entry j = input block completed j blocks ago
        float** ir_spectra;          // K live spectra of the impulse-response sub-blocks
        float** staged_ir_spectra;   // K spectra being prepared by load_ir_data
        float* accumulator;          // sum of products, then the 2B-sample result of the next block
        float* output_recent;        // result of the last finished block (first half read now)
        float* output_older;         // result of the block before (its overlap tail read now)
        float* transform_scratch;    // target of the out-of-place transforms, then swapped in
        IppsFFTSpec_R_32f* fft_spec; // processing transform (owned by channel 0's record)
        Ipp8u* fft_work;
        IppsFFTSpec_R_32f* load_fft_spec; // loading transform, so loads never share a work buffer
        Ipp8u* load_fft_work;
        // Channel 0's record only. When every channel got the same input for a whole block (true
        // stereo feeds one side the same signal twice), the block is transformed once and its
        // spectrum copied to the other channels.
        std::uint8_t inputs_identical; // the block being filled has had identical inputs so far
        std::uint8_t share_spectrum;   // the block handed over last had identical inputs
        // Channel 0's record: how many of the last K handed-over blocks in a row had identical
        // inputs (at most K). At K the whole input history is common to all channels, and the
        // other channels read channel 0's spectra instead of keeping copies.
        int shared_run;
        // Other channels: input_spectra are stale while channel 0's stand in for them; they are
        // copied back the first time the inputs differ again.
        std::uint8_t history_borrowed;
        // Channel 0's record. Forgetting the input history (silence_x_y_buffers) clears no
        // spectra: only the newest valid_history of the K input spectra take part in the sum, and
        // the two outputs count again once blocks_since_forget shows they were computed since.
        int valid_history;           // 1..K input spectra in use
        int blocks_since_forget;     // hand-overs since the history was forgotten, at most 3
        std::uint8_t forget_pending; // audio thread: forget at the next hand-over
        // Stacked convolver only. Input side (even channels): how many of the newest input spectra
        // hold silence, whether the block being filled has seen input, and whether the block
        // handed over last did. Every channel: whether it was bypassed when its block was handed
        // over. The worker reads only the values taken at the hand-over, under worker_lock.
        int silent_block_count;
        std::uint8_t input_seen;
        std::uint8_t block_has_input;
        std::uint8_t block_bypassed;
        // Idle skipping (this class's levels). Channel 0's record: which of the K input spectra
        // hold input, in the order of input_spectra (the others stand for silence: they are
        // neither transformed nor read), and whether the block being filled has seen a non-zero
        // sample. Every record: which of its three results are silence (neither transformed nor
        // added to the output); and room to gather the live entries for the products.
        std::uint8_t* history_live;
        std::uint8_t filling_live;
        std::uint8_t accumulator_silent;
        std::uint8_t recent_silent;
        std::uint8_t older_silent;
        float const** live_inputs;    // 2K (a variant may gather two histories in a row)
        float const** live_responses; // 2K
    };

    // Levels a layout can have: N = 1 gives 1, 4, ..., 16384, the most there can be.
    static constexpr int max_levels = 16;
    static constexpr int threaded_block_threshold = 4096;
    static constexpr int max_phase_offset = 98048;

    // How a convolver cuts an impulse response into levels.
    struct LayoutRule {
        int growth_factor;        // the size after s is growth_factor * s ...
        int growth_limit;         // ... while that is at most this, otherwise s again
        int sub_blocks_per_level; // every level but the last; level 0 covers this many N
        int threaded_threshold;   // levels with larger blocks run on the worker thread
        bool clear_fft_work;      // clear the transform work buffers after allocating them
    };
    static constexpr LayoutRule layout_rule{4, 65535, 6, threaded_block_threshold, false};

    struct Layout {
        int num_levels = 0;
        int block_size[max_levels] = {};
        int num_sub_blocks[max_levels] = {};
        int padded_length = 0;
    };

    // Creates a convolver for (channels, N), starts its worker and returns true; false on any
    // failure. The object is stored in *out even when only the thread could not be started.
    static bool fft_conv_worker_thread_initialise(fft_conv_worker_thread** out, void** thread_handle,
                                                  unsigned int* thread_id, int channels, int N);

    fft_conv_worker_thread(int channels, int N);
    // The worker must have ended (trigger_kill, then wait for thread_finished).
    virtual ~fft_conv_worker_thread();
    fft_conv_worker_thread(fft_conv_worker_thread const&) = delete;
    fft_conv_worker_thread& operator=(fft_conv_worker_thread const&) = delete;

    // One pointer per channel, each to `length` samples (the impulse response without its first 2N).
    void load_ir_data(float** ir, int length);
    // Input and output must be different arrays of at least `frames` samples per channel.
    void process_not_replacing(float** in, float** out, int frames);
    void silence_x_y_buffers();
    void minimise_ir_data_memory();

    static int calc_num_samples_for_buffered_load(int length, int N);
    static Layout compute_layout(int length, int N);
    static Layout compute_layout(LayoutRule const& rule, int length, int N);

    void allocate_convolution_memory(IR_PARTITION_BLOCK**& table, int& levels, int ir_length);
    void free_convolution_memory(IR_PARTITION_BLOCK**& table, int& levels);
    virtual void process_convolution_block(int level);

    static unsigned ThreadStaticEntryPoint(void* self);
    void ThreadEntryPoint();
    void trigger_event();
    void trigger_kill();
    void process_check_and_run_triggered_threaded_block_convolutions();

    // Idle skipping, on from construction: a level block that saw only zeros on every channel is
    // not transformed, the products leave out the blocks that hold silence, and a level whose whole
    // history is silence computes and adds nothing, so a convolver whose input has been silent for
    // longer than its response costs next to nothing. The output is the same bit for bit either way
    // (a skipped term is an exact zero); switching it off is for tests and benchmarks. Any thread.
    void set_idle_skipping(bool on) { idle_skipping.store(on, std::memory_order_relaxed); }
    // Level blocks whose convolution was skipped because the level's history held only silence.
    long long skipped_level_blocks() const { return skipped_blocks.load(std::memory_order_relaxed); }
    // Times the audio thread found the worker's previous pass unfinished and waited for it.
    long long audio_waits() const { return blocked_waits.load(std::memory_order_relaxed); }

    // Read-only views for the owner and for tests.
    bool is_running() const { return running.load(std::memory_order_acquire); }
    bool has_thread_finished() const { return thread_finished.load(std::memory_order_acquire); }
    bool is_ir_loaded() const { return ir_loaded.load(std::memory_order_acquire); }
    int get_num_levels() const { return num_levels; }
    int get_num_channels() const { return num_channels; }
    int get_host_block_length() const { return host_block_length; }
    // Only between loads: the layout is owned by the loading thread.
    IR_PARTITION_BLOCK const& partition(int channel, int level) const { return partitions[channel][level]; }

    // Load spreading: each level starts at phase_offset modulo its block size after the next
    // reallocation. The engine staggers the offsets of its convolvers.
    int phase_offset = 1;
    char thread_name[32] = {};

protected:
    // The shared machinery: variants differ in their layout rule and in how channels map inputs to
    // outputs, which the hooks below carry.
    fft_conv_worker_thread(int channels, int N, LayoutRule const& rule);
    // Starts the worker of a freshly constructed convolver (stored in *out by the caller).
    static bool start_worker(fft_conv_worker_thread* convolver, void** thread_handle);

    // Channels 0 .. result_channels()-1 carry results to the outputs of the same number.
    virtual int result_channels() const { return num_channels; }
    // Input and output channels of a call, copied through while the convolver is not running.
    virtual int io_channels() const { return num_channels; }
    // Copies the chunk into the level's input buffers and advances its fill positions.
    virtual void fill_level(int level, float** in, int offset, int frames);
    // Hands a level's completed block over (under worker_lock for a threaded level).
    virtual void hand_over_level(int level);
    // Bookkeeping every hand-over starts with: the forget mask (valid_history).
    void start_hand_over(int level);
    // The two halves of a hand-over: the input history moves one block on (the completed block
    // becomes entry 0, the oldest entry the next input buffer), and so do the results.
    static void rotate_input_history(IR_PARTITION_BLOCK& record);
    static void rotate_results(IR_PARTITION_BLOCK& record);
    // The live flags of channel 0's record follow the input history: the block just completed
    // becomes entry 0.
    static void rotate_history_live(IR_PARTITION_BLOCK& first);
    // Whether any of the first `channels` inputs holds a non-zero sample in the chunk.
    static bool has_input(float* const* in, int channels, int offset, int frames);

    LayoutRule const partition_rule;
    IR_PARTITION_BLOCK** partitions = nullptr;
    int num_channels = 0;
    int host_block_length = 0;
    int num_levels = 4;
    bool chunk_has_input = true; // audio thread: the current chunk holds a non-zero sample
    std::atomic<bool> idle_skipping{true};
    std::atomic<long long> skipped_blocks{0};
    std::atomic<long long> blocked_waits{0};

private:
    static int next_block_size(LayoutRule const& rule, int size);
    void hand_over_block(IR_PARTITION_BLOCK& record);
    bool inputs_identical(float** in, int offset, int frames) const;
    // Audio thread, once per chunk (a chunk never crosses a level-0 block boundary): adds every
    // level's two overlapping results to out[..][offset .. offset+frames-1].
    void add_chunk_outputs(float** out, int offset, int frames);
    // Enters process_lock and worker_lock without ever blocking the audio thread behind a worker
    // pass: process_lock is released again whenever the worker still holds worker_lock.
    void enter_exchange_locks();
    void leave_exchange_locks();
    void forget_history(); // audio thread, under process_lock

    bool chunk_identical = true; // audio thread: the current chunk's inputs are all the same

    std::atomic<bool> silence_requested{false};

    std::atomic<bool> running{false};
    std::atomic<bool> thread_finished{false};
    std::atomic<bool> ir_loaded{false};

    void* trigger_event_handle = nullptr;
    void* done_event_handle = nullptr;
    void* load_lock = nullptr;
    void* process_lock = nullptr;
    void* worker_lock = nullptr;
};
