#pragma once

// The audio engine: one per plug-in instance. It owns the program bank copy, every sample buffer,
// the eight partitioned FFT convolvers with their zero-latency heads, the effects around them and
// the IR computation thread, and runs the per-block signal path.
//
// Files: vst_plugin_construction.cpp (settings, buffers, convolvers, destruction),
// vst_plugin_process.cpp (host entry, formatted chunk, step, convolution, dry delay),
// vst_plugin_mixer.cpp (IR1/IR2 mixer, dry/wet, meters).
//
// Objects of later stages (choruses, stereo delays, pitch modulators, equaliser bands, reflection
// and tail generators, modulated convolvers, math tables, the IR computation thread) have their
// slots here already; while a slot is null the frame skips that object.
//
// Threading:
// - Constructor and destructor: the host's thread. The destructor stops every thread it started.
// - processReplacing and everything it calls: the host's audio thread only. It holds process_lock
//   for each formatted chunk, allocates nothing and waits only on the convolvers' own locks (and,
//   with "ProgramChangeBlocksAudio", in 100 ms sleeps while ir_rebuild_busy is set).
// - load_ir_into_slot and silence_buffers: one non-audio thread at a time (the IR computation
//   thread, or a test). The convolvers make a load safe while audio runs.
// - The flags (processing_enabled, ir_rebuild_busy, the recompute requests) and the meters are
//   atomics that any thread may read or write; program fields are read without locks.

#include "program/program_constants.h"
#include "program/vst_plugin_program.h"

#include <atomic>
#include <cstdint>

class fft_conv_worker_thread;
class direct_fir;
struct VST_Plugin_Program_Chorus_Scratch;

// Objects of later stages; see the slots below.
class convolver_ts_stack_modulated;
class chorus;
class stereo_delay;
class pitch_mod;
class biquad_filter_upsampling;
class reflection;
class tail;
class math_lookup;
class WorkerThread_01;

class VST_Plugin {
public:
    static constexpr int channel_count = 2;
    static constexpr int max_block_length = 16384; // frames per buffer channel and per formatted chunk
    static constexpr int max_step_length = 512;    // frames per processing step
    static constexpr int initial_silent_sample_count = 882000;
    static constexpr int zero_latency_partition_length = 128;
    static constexpr int anti_alias_taps = 16;
    static constexpr float initial_tempo = 120.0f;

    // Convolver slots in creation order: index = 4 * (section - 1) + 2 * side + (ir - 1), side 0 = A.
    static constexpr int convolver_count = 8;
    static constexpr int convolver_index(int ir, int side, int section)
    {
        return 4 * (section - 1) + 2 * side + (ir - 1);
    }

    explicit VST_Plugin(int sample_rate);
    ~VST_Plugin();
    VST_Plugin(VST_Plugin const&) = delete;
    VST_Plugin& operator=(VST_Plugin const&) = delete;

    // ---- Construction (vst_plugin_construction.cpp) ----
    void initial_plugin_startup();
    void allocate_aligned_memory();
    void free_aligned_memory();
    void initialise_fft(int N);
    void initialise_direct_fir(int taps);
    void configure_input_output_aa();
    void init_biquads();
    void init_chorus();
    void init_delay();
    void initialise_delay_pitch_mod(pitch_mod*& modulator);

    // Loads a four-channel impulse response (A left, A right, B left, B right; `length` frames
    // each) into the section-1 convolvers of IR `slot` (1 or 2): in zero-latency mode the first 2N
    // frames go into the heads and the rest into the FFT convolvers, otherwise everything goes into
    // the FFT convolvers. Sets the slot's length in ms. Returns false for a bad slot, null channel
    // or non-positive length (nothing changes); convolver failures throw std::runtime_error.
    bool load_ir_into_slot(int slot, float* const channels[4], int length);

    // Raises `thread` to `priority`. When the system does not permit it, the thread keeps its
    // priority and the first refusal seen through `warned` is reported in the message sink; the
    // engine goes on either way. Returns true when the priority was raised.
    static bool raise_thread_priority(std::uintptr_t thread, int priority, char const* thread_name,
                                      std::atomic<bool>& warned);

    // ---- Processing frame (vst_plugin_process.cpp, vst_plugin_mixer.cpp) ----
    void processReplacing(float** in, float** out, int frames);
    void process_replacing_mono_stereo_formatted(float** in, float** out, int frames);
    void process_replacing_stepped(float** in, float** out, int frames);
    void process_initial_ir1_blocks(int frames, bool split);
    void process_remaining_ir1_blocks(int frames, bool split);
    void process_initial_ir2_blocks(int frames, bool split);
    void process_remaining_ir2_blocks(int frames, bool split);
    void process_delay_line_inplace(float** buffer, int frames);
    void process_biquad_filters_inplace(float** buffer, int frames);
    void silence_buffers();

    // ---- Configuration (fixed for the life of the instance) ----
    int channel_mode = 2; // 0 mono->mono, 1 mono->stereo, 2 stereo->stereo; set by the host binding
    bool program_change_blocks_audio = false;                // "ProgramChangeBlocksAudio" == 1
    float ir_gain_min = -50.0f, ir_gain_max = 50.0f;         // dB, "IRGainMin"/"IRGainMax"
    float master_gain_min = -30.0f, master_gain_max = 30.0f; // dB, "MasterGainMin"/"MasterGainMax"
    bool sr_gain_normalise = true;                           // "SRNorm" 0 or 2
    bool half_rate_allowed = false;                          // "SRNorm" 2
    int wet_lock_mode = 0;                                   // "WetLock", for the editor
    bool zero_latency = false;
    int partition_length = 0; // N: FFT convolver latency is 2N
    int sample_rate = 0;      // engine processing rate
    float host_sample_rate = 0.0f;
    int half_rate_factor = 1;
    float sr_gain = 1.0f; // applied to every impulse response by the build
    float host_tempo = initial_tempo;

    // ---- Programs ----
    VST_Plugin_Program* programs = nullptr;    // the engine's copy of the bank (48 records)
    VST_Plugin_Program* program = nullptr;     // the current program
    VST_Plugin_Program* lock_record = nullptr; // record 0: the wet-lock slots

    // ---- Flags shared with the host binding, the IR computation thread and the editor ----
    std::atomic<bool> processing_enabled{false}; // false is the plug-in lock
    std::atomic<bool> ir_rebuild_busy{false};    // program change: wet muted, convolvers skipped
    std::atomic<bool> ir_rebuild_in_progress{false};
    std::atomic<bool> recompute_ir1{false}, recompute_ir2{false};
    std::atomic<bool> full_recompute_ir1{false}, full_recompute_ir2{false};
    std::atomic<bool> editor_refresh_pending{false};
    std::atomic<bool> buffer_silence_requested{false};
    void* editor = nullptr; // owner of message boxes while the editor window is open

    // ---- Per-IR state written by the build ----
    std::atomic<int> ir1_length_ms{0}, ir2_length_ms{0};

    // ---- Frame state ----
    int silent_sample_count = initial_silent_sample_count;
    float smoothed_mix = 0.5f;
    int lfo_phase_counter = 0;
    float mix_lfo = 0.0f, ir1_balance_lfo = 0.0f, ir2_balance_lfo = 0.0f;

    // Meters for the editor, 0..1.
    std::atomic<float> ir1_level_left{0.0f}, ir1_level_right{0.0f};
    std::atomic<float> ir2_level_left{0.0f}, ir2_level_right{0.0f};
    std::atomic<float> output_level_left{0.0f}, output_level_right{0.0f};

    // ---- Locks ----
    void* ir_build_lock = nullptr; // serialises IR builds
    void* process_lock = nullptr;  // held by the audio thread for each formatted chunk
    void* aux_lock_1 = nullptr;    // reserved for the IR worker's state exchanges
    void* aux_lock_2 = nullptr;

    // ---- Buffers: two channels of max_block_length floats each ----
    float** convolver_scratch = nullptr;
    float** ir1_input_a = nullptr; // IR1 A input; then the dry bus and finally the output
    float** ir1_wet = nullptr;     // IR1 wet; finally the summed wet signal
    float** ir2_input_a = nullptr;
    float** ir2_wet = nullptr;
    float** ir1_input_b = nullptr;
    float** ir2_input_b = nullptr;
    float** ir1_section1_out = nullptr;
    float** ir2_section1_out = nullptr;
    float** ir1_section2_out = nullptr;
    float** ir2_section2_out = nullptr;
    float** host_input = nullptr;
    float** host_output = nullptr;

    // Dry delay ring, only when zero_latency is false: the dry signal is delayed by 2N.
    float** dry_delay = nullptr;
    int dry_delay_length = 0;
    int dry_delay_write_position = 0;
    int dry_delay_read_position = 0;

    // ---- Convolution ----
    fft_conv_worker_thread* fft_convolvers[convolver_count] = {};
    void* fft_thread_handles[convolver_count] = {};
    unsigned int fft_thread_ids[convolver_count] = {};
    direct_fir* direct_firs[convolver_count] = {}; // zero-latency heads, 2N taps
    direct_fir* downsample_aa = nullptr;           // half-rate anti-alias filters, zero latency only
    direct_fir* upsample_aa = nullptr;

    // Fusion IR: the modulated stacked convolvers, built with (36, N), arrive with their class.
    convolver_ts_stack_modulated* ir1_stacked = nullptr;
    convolver_ts_stack_modulated* ir2_stacked = nullptr;

    // ---- Effects (created by init_chorus, init_delay, init_biquads once their classes exist) ----
    chorus* chorus_master = nullptr;
    chorus* chorus_ir1 = nullptr;
    chorus* chorus_ir2 = nullptr;
    VST_Plugin_Program_Chorus_Scratch* chorus_scratch = nullptr;
    stereo_delay* delay_master = nullptr;
    stereo_delay* delay_ir1 = nullptr;
    stereo_delay* delay_ir2 = nullptr;
    pitch_mod* pitch_mod_ir1_section1 = nullptr;
    pitch_mod* pitch_mod_ir1_section2 = nullptr;
    pitch_mod* pitch_mod_ir2_section1 = nullptr;
    pitch_mod* pitch_mod_ir2_section2 = nullptr;
    biquad_filter_upsampling* post_eq_bands[channel_count][5] = {}; // five bands per channel
    reflection* ir1_reflection = nullptr;
    reflection* ir2_reflection = nullptr;
    tail* ir1_tail = nullptr;
    tail* ir2_tail = nullptr;
    math_lookup* lookup = nullptr;

    // ---- IR computation thread (created by initial_plugin_startup once it exists) ----
    WorkerThread_01* ir_worker = nullptr;
    std::uintptr_t ir_worker_thread = 0;
    unsigned int ir_worker_thread_id = 0;
    int ir_worker_saved_priority = -1;

private:
    void read_engine_settings_gain_ranges();
    void read_sample_rate_settings();
    void check_install_paths();
    void destroy_convolvers();
    void report(char const* text) const;

    template <typename Convolver>
    void run_ir_convolvers(Convolver* const* slots, int ir, int frames, bool split);
    void route_inputs(int ir, float** input, int frames);
    void run_ir(int ir, int frames, bool split);
    // Mix and balance of one mixer chunk: the mix law's IR1 and IR2 weights and each IR's balance
    // factors (1 on both sides at the centre).
    struct MixerChunk {
        float ir1_weight, ir2_weight;
        float ir1_left, ir1_right, ir2_left, ir2_right;
    };
    MixerChunk advance_mixer(int chunk); // smoothing, LFO, angles, law and balance of one chunk
    void balance_factors(int ir, float& left, float& right) const;
    void apply_pre_mixer(int frames, int mix_step);
    void apply_post_mixer(int frames, int mix_step);
};
