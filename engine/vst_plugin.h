#pragma once

// The audio engine: one per plug-in instance. It owns the program bank copy, every sample buffer,
// the eight partitioned FFT convolvers with their zero-latency heads, the effects around them and
// the IR computation thread, and runs the per-block signal path.
//
// Files: vst_plugin_construction.cpp (settings, buffers, convolvers, destruction),
// vst_plugin_process.cpp (host entry, formatted chunk, step, convolution, dry delay),
// vst_plugin_mixer.cpp (IR1/IR2 mixer, dry/wet, meters), vst_plugin_equalisers.cpp (post and IR
// equaliser bands, STS high-pass), vst_plugin_ir_build.cpp (the IR build pipeline and section
// loading), vst_plugin_true_stereo.cpp (the four-path convolvers of true-stereo slots),
// vst_plugin_signalling.cpp (requests, settings pushes, parameter reads) and
// worker_thread_01.cpp (the IR computation thread).
//
// Objects of later stages (pitch modulators, reflection and tail generators, modulated
// convolvers) have their slots here already; while a slot is null the frame skips that object.
//
// Threading:
// - Constructor and destructor: the host's thread. The destructor stops every thread it started.
// - processReplacing and everything it calls: the host's audio thread only. It allocates nothing,
//   takes no lock that another thread holds for longer than a pointer exchange, and waits only
//   where the design says (a convolver's worker pass; with "ProgramChangeBlocksAudio", 100 ms
//   sleeps while ir_rebuild_busy is set). The floating-point mode it sets is the caller's again
//   when it returns.
// - The audio thread is the only one that touches its own state: it reads the programs from a
//   snapshot handed over by pointer exchange (update_programs publishes, the next chunk adopts),
//   and clears its histories and recomputes the post equaliser itself when a flag asks
//   (silence_buffers, update_master_filter_coeffs_all). The choruses and stereo delays guard
//   their own lines: the settings pushes and silence_buffers reach them from the caller's thread.
// - Other threads read the programs from the control copy under bank_lock, which the audio
//   thread never takes: the IR builds, getParameter, the settings pushes, the host binding.
// - The IR builds (change_ir1/2_file_standard_format and everything they call) and
//   load_ir_into_slot: one non-audio thread at a time, normally the IR computation thread. The
//   convolvers make a load safe while audio runs. When a build needs the other kind of FFT
//   convolver in a slot (set_generation_kind), that thread makes the new ones, exchanges the
//   pointers under process_lock (the only time another thread takes it, for the exchange alone)
//   and stops the old ones afterwards.
// - Request and push operations: the host binding's threads. A batch of requests raised under
//   RequestBatch is seen whole by the IR worker (a program-change mute is never released between
//   the mute and the rebuild requests that follow it).
// - The flags (processing_enabled, ir_rebuild_busy, the recompute requests) and the meters are
//   atomics that any thread may read or write.

#include "program/program_constants.h"
#include "program/vst_plugin_program.h"

#include <atomic>
#include <cstdint>
#include <string>

class fft_conv_worker_thread;
class fft_conv_worker_thread_true_stereo;
class direct_fir_true_stereo;
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

namespace corvella {
struct ir_display_tables;
struct ir_slot_settings;
}

// Read-back values of the effect and generator objects, copied for the editor after each rebuild
// pass (populate_supporting_obj_struct). Per IR: index 0 = IR1, 1 = IR2.
struct supporting_obj_struct {
    // Early-reflection generator: filled once the generator exists.
    float er_scale_x[2] = {}, er_scale_y[2] = {}, er_diffusion[2] = {}, er_depth[2] = {};
    float er_distance[2] = {}, er_position[2] = {}, er_separation[2] = {};
    // STS high-pass centre frequency in Hz.
    float sts_high_pass_hz[2] = {};
    // Tail generator: filled once the generator exists.
    float tail_length_ms[2] = {}, tail_diffusion[2] = {}, tail_diffuse_length[2] = {}, tail_variant[2] = {};
};

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
    // With `take_over` and smooth_changes the IR goes into the slot's other generation instead and
    // takes over at the next chunk while the old one rings out, as a rebuild's does.
    bool load_ir_into_slot(int slot, float* const channels[4], int length, bool take_over = false);

    // ---- IR build pipeline (vst_plugin_ir_build.cpp), IR computation thread ----
    // Builds IR1 (IR2) from its source and the program's shaping settings and loads it into the
    // slot's convolvers. Errors are reported in a message box; the convolvers then keep their IR.
    void change_ir1_file_standard_format(char const* file_a, char const* file_b);
    void change_ir2_file_standard_format(char const* file_a, char const* file_b);
    // A ".fir" file into the slot's modulated convolver (Fusion IR). A file that fails its checks
    // loads nothing, leaves the Fusion convolver empty and says why.
    void change_ir1_file_stacked_format(char const* file);
    void change_ir2_file_stacked_format(char const* file);
    // Load one section (4 channel pointers, `frames` each) into its heads and FFT convolvers.
    void set_ir_1_sample_frames_section1(float** ir, int frames);
    void set_ir_1_sample_frames_section2(float** ir, int frames);
    void set_ir_2_sample_frames_section1(float** ir, int frames);
    void set_ir_2_sample_frames_section2(float** ir, int frames);
    // The file names of a slot's current program, read under process_lock.
    void current_ir_file_names(int slot, std::string& file_a, std::string& file_b);

    // ---- Equalisers (vst_plugin_equalisers.cpp) ----
    // IR equaliser band `band` (0..4) from the settings of the build in progress.
    void update_ir1_filter_coeffs(int band);
    void update_ir2_filter_coeffs(int band);
    void process_ir1_biquad_filters_inplace(float** ir, int frames, int channels);
    void process_ir2_biquad_filters_inplace(float** ir, int frames, int channels);
    // STS high-pass on channels 2 and 3.
    void process_sts_ir1_filters_inplace(float** ir, int frames);
    void process_sts_ir2_filters_inplace(float** ir, int frames);
    // Post-equaliser band `band` (0..4) of both channels from the current program.
    void update_master_filter_coeffs(int band);
    // Highest centre frequency of every equaliser band: 22050 Hz, or half the engine rate when
    // "SRNorm" is not 0.
    float equaliser_max_f0() const;

    // Raises `thread` to `priority`, moving it to real-time scheduling when a priority under time
    // sharing does not take. When the system does not permit it, the thread keeps its
    // priority and the first refusal seen through `warned` is reported in the message sink; the
    // engine goes on either way. Returns true when the priority was raised.
    static bool raise_thread_priority(std::uintptr_t thread, int priority, char const* thread_name,
                                      std::atomic<bool>& warned);

    // The convolver workers must never pre-empt the audio thread that waits for them. The audio
    // thread notes its real-time priority when a new thread calls and every 1024 calls (a host
    // may change it); the IR worker then places the convolver workers one step below it when
    // that is 20 or less, and back at 20 otherwise.
    void note_audio_thread_scheduling(); // audio thread
    void follow_audio_thread_priority(); // IR worker
    std::atomic<std::uint64_t> audio_thread_identity{0};
    std::atomic<int> audio_thread_priority{0}; // 0: not seen yet, or time sharing
    int audio_calls_since_check = 0;           // audio thread only
    int convolver_worker_priority = 20;        // IR worker only

    // ---- Processing frame (vst_plugin_process.cpp, vst_plugin_mixer.cpp; the post equaliser in
    //      vst_plugin_equalisers.cpp) ----
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

    // ---- Requests and settings pushes (vst_plugin_signalling.cpp) ----
    // Called by the host binding's bridge on a non-audio thread. The request operations only set
    // flags for the IR computation thread; the push operations write into the effect objects.
    void signal_recompute_ir1_partial();
    void signal_recompute_ir2_partial();
    void signal_recompute_both_partial();
    void signal_recompute_ir1_full();
    void signal_recompute_ir2_full();
    void signal_recompute_both_full();
    void signal_set_program_disable_audio();
    void signal_update_master_chorus();
    void signal_update_ir1_chorus();
    void signal_update_ir2_chorus();
    void signal_update_master_delay();
    void signal_update_ir1_delay();
    void signal_update_ir2_delay();
    void update_tempo(float bpm);
    void assign_pitch_delay_mod_ir1();
    void assign_pitch_delay_mod_ir2();
    void update_master_filter_coeffs_all();
    void populate_supporting_obj_struct();

    // Replaces the engine's bank with `bank` (48 records) and makes record `current_index` the
    // current program when it is below 48. Every value is brought into its range first (a
    // damaged bank never reaches the signal path). The audio thread adopts the new bank at its
    // next chunk; the IR builds and the other readers see it at once.
    void update_programs(VST_Plugin_Program const* bank, int current_index);
    // The control copy of the bank and the current program, as the non-audio threads see them.
    void read_programs(VST_Plugin_Program* bank, int& current_index) const;
    // The audio thread takes the latest published bank, if any, at the start of each chunk. Also
    // for tests, while no audio is processed.
    void adopt_published_programs();
    VST_Plugin_Program current_program_copy() const;
    int current_program_index() const;

    // Holds the IR worker off the mute decision while the host binding raises one pass of
    // requests, so that the mute of a program change and its rebuild requests arrive together.
    class RequestBatch {
    public:
        explicit RequestBatch(VST_Plugin& engine);
        ~RequestBatch();
        RequestBatch(RequestBatch const&) = delete;
        RequestBatch& operator=(RequestBatch const&) = delete;

    private:
        VST_Plugin& engine_;
    };

    // True once the engine is being destroyed: a build in progress gives up at its next step.
    bool build_cancelled() const;

    // True while any IR work is outstanding: a recompute request, a rebuild or the end of a
    // rebuild pass (the silencing of the buffers), or the program-change mute. Offline hosts wait
    // for false before they feed audio so that a render is deterministic.
    bool is_ir_work_pending() const;

    // Reading of a setting by editor number 0..365 (the current program, lock slots from record 0);
    // 0.0 while the engine is not ready or for a number out of range.
    float getParameter(int number) const;

    // Set when a chorus or delay update has been applied; the bridge clears it.
    std::atomic<bool> update_applied{false};

    // Read-back values for the editor (populate_supporting_obj_struct).
    supporting_obj_struct supporting;

    // ---- Configuration (fixed for the life of the instance) ----
    int channel_mode = 2; // 0 mono->mono, 1 mono->stereo, 2 stereo->stereo; set by the host binding
    bool program_change_blocks_audio = false;                // "ProgramChangeBlocksAudio" == 1
    // "SmoothChanges" != 0: a rebuilt IR takes over while the old one rings out, no program-change
    // mute, gains glide. 0: silence after every rebuild and a wet mute on program change.
    bool smooth_changes = true;
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
    // The last tempo update_tempo took (bridge thread), BPM.
    float host_tempo = initial_tempo;

    // ---- Programs ----
    // The audio thread's snapshot: the bank (48 records) it processes with, its current program and
    // record 0 with the wet-lock slots. Only the audio thread (or a test between process calls)
    // reads or writes through these.
    VST_Plugin_Program* programs = nullptr;
    VST_Plugin_Program* program = nullptr;
    VST_Plugin_Program* lock_record = nullptr;

    // ---- Flags shared with the host binding, the IR computation thread and the editor ----
    std::atomic<bool> processing_enabled{false}; // false is the plug-in lock
    std::atomic<bool> ir_rebuild_busy{false};    // program change: wet muted, convolvers skipped
    std::atomic<bool> ir_rebuild_in_progress{false};
    std::atomic<bool> recompute_ir1{false}, recompute_ir2{false};
    std::atomic<bool> full_recompute_ir1{false}, full_recompute_ir2{false};
    std::atomic<bool> editor_refresh_pending{false};
    std::atomic<bool> buffer_silence_requested{false};
    // Raised by the IR computation thread for a whole pass that serves requests: from taking the
    // first request until the buffers are silenced and the mute is released.
    std::atomic<bool> ir_worker_pass_active{false};
    void* editor = nullptr; // owner of message boxes while the editor window is open

    // ---- Per-IR state written by the build ----
    // Length of the IR the convolvers hold, pre-delay included, in ms (rounded up): the frame keeps
    // processing silent input for this long.
    std::atomic<int> ir1_length_ms{0}, ir2_length_ms{0};
    std::atomic<float> ir1_normalise_gain{1.0f}, ir2_normalise_gain{1.0f};
    // Builds begun and completed per slot (index 0 = IR1), for diagnostics and tests.
    std::atomic<int> ir_builds_started[2] = {}, ir_builds_finished[2] = {}, ir_builds_cancelled[2] = {};

    // Source caches of the build (IR computation thread only): the 4-channel source as loaded,
    // before shaping, with the allocated length per channel and the frames it holds.
    float** ir1_file_cache = nullptr;
    float** ir2_file_cache = nullptr;
    int ir1_cache_capacity = 0, ir2_cache_capacity = 0;
    int ir1_cache_frames = 0, ir2_cache_frames = 0;
    int ir1_frames = 0, ir2_frames = 0; // frames of the working IR while it is shaped
    int ir1_source_bits = 24, ir2_source_bits = 24;

    // Drawings of the built IRs for the editor; the editor's copy is handed over under ir_build_lock.
    corvella::ir_display_tables* ir_display = nullptr;

    // ---- Frame state ----
    bool chunk_busy = false; // ir_rebuild_busy as read at the start of the chunk
    int silent_sample_count = initial_silent_sample_count;
    float smoothed_mix = 0.5f;
    int lfo_phase_counter = 0;
    float mix_lfo = 0.0f, ir1_balance_lfo = 0.0f, ir2_balance_lfo = 0.0f;

    // Meters for the editor, 0..1.
    std::atomic<float> ir1_level_left{0.0f}, ir1_level_right{0.0f};
    std::atomic<float> ir2_level_left{0.0f}, ir2_level_right{0.0f};
    std::atomic<float> output_level_left{0.0f}, output_level_right{0.0f};

    // ---- Locks ----
    void* ir_build_lock = nullptr; // guards the hand-over of the IR drawings to the editor
    void* process_lock = nullptr;  // held by the audio thread for each formatted chunk; by the
                                   // loading thread only to exchange convolver pointers
    void* bank_lock = nullptr;     // the control copy of the bank; never taken by the audio thread
    void* request_lock = nullptr;  // a batch of requests against the IR worker's mute release

    // Set by other threads, served by the audio thread at the start of its next chunk.
    std::atomic<bool> silence_pending{false};     // forget every history (silence_buffers)
    std::atomic<bool> post_eq_update_pending{false}; // recompute the post-equaliser bands

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

    // ---- Convolver generations (vst_plugin_generations.cpp) ----
    // With smooth_changes each IR slot has a second set of convolvers (four FFT convolvers and four
    // heads, at the same indices as fft_convolvers and direct_firs). One generation of a slot is
    // live and takes the input; a rebuilt IR is loaded into the other, which takes over at the start
    // of the next chunk while the old one rings out its tail on silent input, so the reverb of what
    // was played before the change decays as it was. Without smooth_changes only generation 0
    // exists and is reloaded in place.
    static constexpr int generation_count = 2;
    static constexpr int fade_milliseconds = 50; // a ringing generation needed again fades this fast
    // The other generation of a slot: idle (the IR worker may take it), loading (the worker fills
    // it), ready (the audio thread switches to it at its next chunk), switching (the audio thread is
    // switching), ringing (the old live one, on silent input), fading (asked to fall silent).
    // reshaping: the IR worker changes an idle generation's kind (set_generation_kind).
    enum spare_state : int { spare_idle, spare_loading, spare_ready, spare_switching, spare_ringing, spare_fading, spare_reshaping };
    fft_conv_worker_thread* spare_fft_convolvers[convolver_count] = {};
    void* spare_fft_thread_handles[convolver_count] = {};
    unsigned int spare_fft_thread_ids[convolver_count] = {};
    direct_fir* spare_direct_firs[convolver_count] = {};
    // What a generation's IR was built for.
    struct generation_routing {
        int topology = 0;    // as get_topology_from_unity gives it
        bool sts = false;    // parallel stereo with its simulated true-stereo side
        int tail_frames = 0; // engine frames it rings after its last input: length plus latency
    };
    struct slot_generations {
        std::atomic<int> live{0};           // written by the audio thread (and load_ir_into_slot)
        std::atomic<int> spare{spare_idle}; // the other generation's state
        // routing[g]: written by whoever loads generation g, before it goes live.
        generation_routing routing[generation_count];
        // Audio thread only.
        int ring_frames_left = 0;       // ringing spare: frames of its tail still to come
        int fade_frames_left = -1;      // fading spare: frames of the fade to go (-1 not begun)
        int live_ring_frames_left = 0;  // live generation of an IR switched off: tail to come
        bool fed_last_step = false;     // the live generation took input in the last step
    };
    slot_generations generations[2];
    std::atomic<std::uint64_t> audio_chunks{0}; // chunks processed, so the IR worker sees audio run
    float** silent_input = nullptr;             // two channels of max_step_length zeros
    int build_generation[2] = {};               // IR worker: the generation a build loads into

    fft_conv_worker_thread* const* fft_generation(int g) const { return g == 0 ? fft_convolvers : spare_fft_convolvers; }
    direct_fir* const* head_generation(int g) const { return g == 0 ? direct_firs : spare_direct_firs; }

    // ---- Four-path FFT convolvers (vst_plugin_true_stereo.cpp) ----
    // A generation of a slot whose IR was built for True Stereo, or for Parallel Stereo with its
    // STS side, runs both sides of each section in one fft_conv_worker_thread_true_stereo (one
    // worker thread, about half the transforms) instead of its side-A and side-B convolvers: its
    // four-path slots are set and its two plain FFT slots of each section are null. The other
    // topologies keep the plain convolvers, so they cost what they did. Path inputs: True Stereo
    // (L, L, R, R) as the pre-mixer scaled them; Parallel Stereo with STS (L, R, R, L) with the B
    // channels loaded swapped, which gives its crossed outputs. The heads stay per side
    // (run_true_stereo_head). Generations start plain; the build that needs the other kind makes
    // it (IR worker), and the idle generation of a slot follows the live one's kind.
    static constexpr int four_path_count = 4; // per generation: IR1 and IR2, sections 1 and 2
    static constexpr int four_path_index(int ir, int section) { return 2 * (section - 1) + (ir - 1); }
    fft_conv_worker_thread_true_stereo* four_path_convolvers[four_path_count] = {};
    fft_conv_worker_thread_true_stereo* spare_four_path_convolvers[four_path_count] = {};
    void* four_path_thread_handles[four_path_count] = {};
    void* spare_four_path_thread_handles[four_path_count] = {};
    fft_conv_worker_thread_true_stereo* const* four_path_generation(int g) const
    {
        return g == 0 ? four_path_convolvers : spare_four_path_convolvers;
    }
    // Their zero-latency heads: one four-path head per section and generation, made with the
    // per-side heads (zero latency only) and used whenever the generation runs four paths.
    direct_fir_true_stereo* four_path_heads[four_path_count] = {};
    direct_fir_true_stereo* spare_four_path_heads[four_path_count] = {};
    direct_fir_true_stereo* const* four_path_head_generation(int g) const
    {
        return g == 0 ? four_path_heads : spare_four_path_heads;
    }
    // Whether generation g of IR `ir` runs four-path convolvers (both sections change together).
    // Set with the exchange, under process_lock; the audio thread reads it under that lock too.
    std::atomic<bool> four_path_kind[2][generation_count] = {};
    bool generation_four_path(int ir, int g) const;
    static bool routing_four_path(int topology, bool sts);
    // IR worker (or the one thread loading): makes generation g of `slot` hold the kind of FFT
    // convolvers `four_path` asks for. The new ones start empty; a failure throws and leaves the
    // generation as it was.
    void set_generation_kind(int slot, int g, bool four_path);
    // IR worker, each poll: an idle generation takes the kind of its slot's live one, so that a
    // true-stereo slot runs one worker per section and generation.
    void match_idle_generation_kinds();
    bool reshaping_failed = false; // IR worker
    int generations_made = 1;      // 2 with smooth_changes; set at construction
    // IR worker. acquire_spare waits until the slot's other generation is free (a ringing one is
    // faded out; one the audio thread has not touched for 250 ms is taken) and makes builds load
    // into it; publish_spare hands it to the audio thread with the routing it was built for;
    // abandon_spare gives it back unused. Without smooth_changes they keep builds on generation 0.
    void acquire_spare(int slot);
    // Asks every convolver and head of generation g to start its next block from silence (each
    // only raises a flag: any thread).
    void forget_generation_histories(int g);
    void publish_spare(int slot, generation_routing const& routing);
    void abandon_spare(int slot);
    // Audio thread: switch to published generations (start of a chunk); run the ringing ones into
    // the section outputs; whether any generation still rings.
    void switch_generations();
    void run_ringing_generation(int ir, int frames, bool split);
    bool generations_ringing() const;
    // An IR that is switched on while its convolvers hold the short IR an IR that is off keeps gets
    // a full rebuild (IR worker, each poll). loaded_switched_off[slot - 1] is set by the builds.
    void request_whole_irs_switched_on();
    std::atomic<bool> loaded_switched_off[2] = {};
    // The routing the live generation of `ir` runs with: the current program's.
    void live_routing(int ir, int& topology, bool& sts) const;

    // Fusion IR: the modulated stacked convolvers (36 channels: a head set and eight tail sets).
    // They run at the engine's latency: zero-latency heads in zero-latency mode, else delayed by 2N
    // like the other convolvers and the dry bus. Each is made by the IR worker for the first Fusion
    // response of its slot (most instances never use one, and they are the largest part of an
    // instance's memory), then kept; the audio thread sees it once it is complete.
    static constexpr int stacked_channels = 36;
    std::atomic<convolver_ts_stack_modulated*> ir1_stacked{nullptr};
    std::atomic<convolver_ts_stack_modulated*> ir2_stacked{nullptr};
    convolver_ts_stack_modulated* stacked_convolver(int ir) const
    {
        return (ir == 1 ? ir1_stacked : ir2_stacked).load(std::memory_order_acquire);
    }
    // IR worker: the slot's Fusion convolver, made (with the program's modulation) if need be.
    convolver_ts_stack_modulated* make_stacked_convolver(int slot);
    static std::string fft_plans_file();
    void destroy_stacked_convolvers();
    // Audio thread: whether IR `ir` runs its Fusion convolver (a stacked response is loaded); then
    // runs it on `input` into the section-1 output.
    bool run_stacked(int ir, int frames, float** input);
    // With smooth changes a Fusion convolver that stopped being fed (IR off, another topology)
    // rings out on silent input, as the other convolvers do.
    void ring_stacked(int ir, int frames, bool fed);
    int stacked_ring_frames_left[2] = {};
    void push_stacked_modulation(int ir, VST_Plugin_Program const& p);
    void push_stacked_modulation_to(convolver_ts_stack_modulated* stacked, int ir, VST_Plugin_Program const& p);

    // ---- Effects (created by init_chorus, init_delay, init_biquads) ----
    // The choruses and stereo delays run at sample_rate on the audio thread; the settings pushes
    // write their settings (atomics) from the bridge's thread while audio runs, and silence_buffers
    // clears their lines on its caller's thread: their processing only tries their own lock and
    // passes the dry signal for a block that finds it taken.
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
    // The post-equaliser bands as the editor shows them: centre (Hz) and gain (dB) including the
    // LFO modulation, per channel and band; copied by the pre-order mixer loop.
    std::atomic<float> post_eq_display_f0[channel_count][5] = {};
    std::atomic<float> post_eq_display_gain_db[channel_count][5] = {};
    // IR equalisers: five bands for each of the four IR channels; STS high-pass per IR.
    biquad_filter_upsampling* ir1_eq_bands[4][5] = {};
    biquad_filter_upsampling* ir2_eq_bands[4][5] = {};
    biquad_filter_upsampling* ir1_sts_filter = nullptr;
    biquad_filter_upsampling* ir2_sts_filter = nullptr;
    reflection* ir1_reflection = nullptr;
    reflection* ir2_reflection = nullptr;
    tail* ir1_tail = nullptr;
    tail* ir2_tail = nullptr;
    math_lookup* lookup = nullptr;

    // ---- IR computation thread (created by initial_plugin_startup) ----
    WorkerThread_01* ir_worker = nullptr;
    void wake_ir_worker(); // a request is waiting: the worker need not finish its poll
    std::uintptr_t ir_worker_thread = 0;
    unsigned int ir_worker_thread_id = 0;
    int ir_worker_saved_priority = -1;

private:
    // The program the build in progress reads: copied under bank_lock at its start.
    VST_Plugin_Program build_program;

    // Three snapshots pass between the control side and the audio thread: the audio thread holds
    // one, the writer one, and the third is the latest published (fresh_snapshot set while the
    // audio thread has not taken it).
    static constexpr unsigned fresh_snapshot = 4u;
    VST_Plugin_Program* snapshot_banks[3] = {};
    int snapshot_current[3] = {};
    std::atomic<unsigned> published_snapshot{1};
    int writer_snapshot = 2; // under bank_lock
    int audio_snapshot = 0;  // audio thread
    VST_Plugin_Program* bank_storage = nullptr; // the four banks below, in one allocation
    VST_Plugin_Program* control_bank = nullptr; // under bank_lock
    int control_current = 0;
    void serve_audio_thread_requests();     // audio thread, start of a chunk
    void apply_master_filter_coeffs();      // audio thread

    // The program's settings into the effects (non-audio threads; the setters store atomics).
    // push_program_to_effects does all six without raising the editor and bridge flags.
    void push_chorus(chorus* effect, corvella::EffectBlock block, VST_Plugin_Program const& p);
    void push_delay(stereo_delay* effect, corvella::EffectBlock block, VST_Plugin_Program const& p);
    void push_program_to_effects();
    void push_pitch_modulators(int ir, VST_Plugin_Program const& p);

    void change_ir_file_standard_format(int slot, char const* file_a, char const* file_b);
    void change_ir_file_stacked_format(int slot, std::string const& file);
    // Early reflections or a tail into the slot's cache (the slot's generator is made on first use,
    // on the IR computation thread); the settings it was made from are kept to tell when it is stale.
    void generate_source(int slot, corvella::ir_slot_settings const& s, int channels);
    void release_generators();
    unsigned char generated_from[2][96] = {};
    // Which side-B channels a section load gives the convolvers: none; channels 2 and 3; or, for the
    // STS side, crossed (a four-path convolver takes them swapped, plain ones as they are).
    enum class side_b { none, straight, crossed };
    void load_section(int slot, int section, float* const* ir, int frames, side_b b);
    void load_four_path_section(int slot, int section, int g, float* const* ir, int frames, bool crossed);
    // The zero-latency heads of one true-stereo section from the four paths' first frames (at most
    // the head length, which it returns; 0 without heads).
    int load_true_stereo_head(int slot, int section, int g, float* const* paths, int frames);
    void release_ir_data(int slot);
    void draw_ir(int slot, float* const* ir, int channels, int frames, int bits);
    void update_ir_filter_coeffs(int slot, int band);
    void process_ir_biquad_filters_inplace(int slot, float** ir, int frames, int channels);
    void process_sts_filters_inplace(int slot, float** ir, int frames);
    void delete_biquads();
    void start_ir_worker();
    void stop_ir_worker();

    void read_engine_settings_gain_ranges();
    void read_sample_rate_settings();
    void check_install_paths();
    void destroy_convolvers();
    // One FFT convolver of `ir` and `side` for generation g (four-path: side A's place), its worker
    // started, staggered and prioritised as at construction; throws the creation message.
    fft_conv_worker_thread* create_fft_convolver(int ir, int side, int g, bool four_path, void** handle);
    static void destroy_fft_convolver(fft_conv_worker_thread* convolver);
    int phase_offset_for(int ir, int side, int g) const;
    int phase_spread = 0; // the random part of every convolver's load-spreading offset
    void report(char const* text) const;

    // One generation's convolvers of `ir` (heads or FFT) on `input_a`/`input_b`, routed for
    // `topology`/`sts`, added into the section outputs; the output is scaled by a linear ramp from
    // fade_from to fade_to over the frames (a fading generation).
    struct convolver_run {
        int topology;
        bool sts;
        float** input_a;
        float** input_b;
        float fade_from = 1.0f, fade_to = 1.0f;
    };
    template <typename Convolver>
    void run_ir_convolvers(Convolver* const* slots, int ir, int frames, bool split, convolver_run const& run);
    void run_generation(int ir, int g, int frames, bool split, convolver_run const& run);
    // A generation's heads (zero latency only) or FFT convolvers, whichever kind it holds.
    void run_generation_heads(int ir, int g, int frames, bool split, convolver_run const& run);
    void run_generation_tails(int ir, int g, int frames, bool split, convolver_run const& run);
    void run_four_paths(int ir, int g, int frames, bool split, convolver_run const& run, bool heads);
    // The zero-latency heads of one true-stereo section on the four path inputs, faded as the run
    // says and added into `output` (path c into output c mod 2). Audio thread.
    void run_true_stereo_head(int ir, int section, int g, float* const* paths, float** output, int frames,
                              convolver_run const& run);
    convolver_run live_run(int ir) const; // the live generation on the IR's own inputs
    int live_generation(int ir) const;
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
    void apply_ir_gain(int ir, float** wet, int frames);

    // ---- Gain glides (vst_plugin_mixer.cpp) ----
    // With smooth_changes every mixer gain moves linearly, sample by sample: a step change of a
    // setting glides over 10 ms or the rest of its block, whichever is longer; between two chunks
    // of the mixer (LFO, mix glide) a gain ramps from one chunk's value to the next. Audio thread.
    struct gain_glide {
        // The gains of one run of frames: start + step * (i + 1) for frame i < frames, end after.
        struct ramp {
            float start, step;
            int frames;
            float end;
        };
        float value = 0.0f;  // the gain at the end of the last run
        float target = 0.0f; // the target of the last run
        int glide_left = 0;  // frames left of a glide begun by a step change
        bool primed = false; // the first target is taken at once
        ramp next(float goal, int frames);
        void begin_glide(int frames);
    };
    static void multiply_glide(float* samples, gain_glide::ramp const& r, int frames);
    // One glide per gain and side: the post mixer's dry and wet gains and IR2's chained factor, the
    // pre mixer's input gains, and the IR gains (both sides alike).
    enum gain_lane {
        lane_dry,
        lane_ir1_left,
        lane_ir1_right,
        lane_ir2_left,
        lane_ir2_right,
        lane_chain_left,
        lane_chain_right,
        lane_pre_ir1_left,
        lane_pre_ir1_right,
        lane_pre_ir2_left,
        lane_pre_ir2_right,
        lane_ir1_gain,
        lane_ir2_gain,
        lane_count
    };
    gain_glide gain_glides[lane_count];
    // The settings the mixer gains come from, as each mixer order's loop last saw them: a
    // difference is a step change.
    static constexpr int gain_setting_count = 20;
    float pre_mixer_settings[gain_setting_count] = {};
    float post_mixer_settings[gain_setting_count] = {};
    // Engine frames of the formatted chunk in progress, to be set at its start (settings change
    // only between chunks); 0 = unknown, then a glide spans at least the step in which it begins.
    int gain_glide_block_frames = 0;
    int gain_glide_frames(int step_frames) const;
    bool gain_settings_changed(float (&seen)[gain_setting_count]) const;
    // Every gain takes its setting at once at its next run, as in a new engine: for the silencing
    // of every history, after which there is nothing to glide from.
    void settle_gain_glides();
    // A gain glides only from a value that was heard: when whole chunks went by without the mixer
    // (silence whose reverb had died away), the gains settle. audio_chunks as the mixer last saw it.
    std::uint64_t gain_glide_chunk = 0;
    void settle_gain_glides_after_skipped_chunks();
};
