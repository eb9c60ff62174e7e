// Construction, settings, buffers, convolvers and destruction of the engine.

#include "engine/vst_plugin.h"

#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "convolution/ipps.h"
#include "effects/chorus.h"
#include "effects/math_lookup.h"
#include "effects/pitch_mod.h"
#include "effects/stereo_delay.h"
#include "engine/ir_display.h"
#include "engine/worker_thread_01.h"
#include "ir/audio_file_loader.h"
#include "platform/floating_point_state.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/reproducibility.h"
#include "platform/settings_store.h"
#include "platform/threading.h"
#include "program/program_scratch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

[[noreturn]] void fail(char const* text)
{
    throw std::runtime_error(text);
}

// A 64-byte aligned table of two channel pointers, each to `frames` zeroed floats. `first_code` is
// the number of the table's message; the channels take the next two.
float** allocate_multichannel(int frames, int first_code)
{
    auto message = [](int code) {
        return std::runtime_error("Memory allocation error #" + std::to_string(code));
    };
    auto** table = reinterpret_cast<float**>(
        ippsMalloc_8u(static_cast<int>(sizeof(float*)) * VST_Plugin::channel_count));
    if (table == nullptr) throw message(first_code);
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel) {
        table[channel] = ippsMalloc_32f(frames);
        if (table[channel] == nullptr) {
            for (int done = 0; done < channel; ++done)
                ippsFree(table[done]);
            ippsFree(table);
            throw message(first_code + 1 + channel);
        }
        ippsSet_32f(0.0f, table[channel], frames);
    }
    return table;
}

void free_multichannel(float**& table)
{
    if (table == nullptr) return;
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel)
        ippsFree(table[channel]);
    ippsFree(table);
    table = nullptr;
}

// Names of the convolvers in the creation-error messages, by IR and side.
char const* const fft_creation_errors[2][2] = {
    {"FFT convolution thread worker 1a creation error", "FFT convolution thread worker 1b creation error"},
    {"FFT convolution thread worker 2a creation error", "FFT convolution thread worker 2b creation error"},
};

// Load spreading of the large partitions, by IR and side.
int const phase_offset_base[2][2] = {{10912, 32736}, {21824, 43648}};

// One refusal to raise a thread priority is reported per process, whatever the instance.
std::atomic<bool> priority_refusal_reported{false};

} // namespace

// ---------------------------------------------------------------------------------------------

VST_Plugin::VST_Plugin(int sample_rate_argument)
{
    corvella::ScopedFloatingPointState const host_mode; // the host's thread keeps its mode
    try {
        // 1. Settings file and processor set-up of the constructing thread.
        CheckPrefs();
        ippInit();
        ippSetDenormAreZeros(1);

        // 2. No editor; stereo; no rebuild pending.
        editor = nullptr;
        channel_mode = 2;
        recompute_ir1 = recompute_ir2 = false;
        full_recompute_ir1 = full_recompute_ir2 = false;
        program_change_blocks_audio = extract_data_from_registry_program_change_blocks_audio() == 1;
        // An unreadable settings file leaves the default: smooth.
        try {
            smooth_changes = extract_data_from_registry_smooth_changes() != 0;
        } catch (std::exception const&) {
            smooth_changes = true;
        }

        // 3. Rate, programs, counters, locks.
        if (sample_rate_argument < 1)
            throw std::runtime_error("Invalid host sample rate (" + std::to_string(sample_rate_argument) +
                                     ")");
        sample_rate = sample_rate_argument;
        // The control copy and the three snapshots of the audio thread, all at their defaults.
        bank_storage = new VST_Plugin_Program[4 * corvella::programs_per_bank];
        control_bank = bank_storage;
        for (int i = 0; i < 3; ++i)
            snapshot_banks[i] = bank_storage + (i + 1) * corvella::programs_per_bank;
        programs = snapshot_banks[audio_snapshot];
        program = &programs[0];
        lock_record = &programs[0];
        host_tempo = initial_tempo;
        silent_sample_count = initial_silent_sample_count;
        InitializeCriticalSection(&ir_build_lock);
        InitializeCriticalSection(&process_lock);
        InitializeCriticalSection(&bank_lock);
        InitializeCriticalSection(&request_lock);

        // 4. Gain ranges of the IR and master gain knobs.
        read_engine_settings_gain_ranges();

        // 5. Locked until construction succeeds; the mixer LFO starts at a random phase.
        processing_enabled = false;
        std::srand(corvella::processing_random_seed()); // the clock, or a constant for offline renders
        {
            // The product wraps in 32 bits; unsigned keeps the phase non-negative.
            std::uint32_t const product =
                static_cast<std::uint32_t>(std::rand()) * static_cast<std::uint32_t>(std::rand());
            lfo_phase_counter = static_cast<int>(product % static_cast<std::uint32_t>(sample_rate));
        }
        mix_lfo = 0.0f;
        sr_gain = 1.0f;
        smoothed_mix = 0.5f;
        zero_latency = false;

        // 6. Early-reflection and tail generators (reflection, tail: (4, sample_rate)) plug in here.

        // 7. Effects, lookup tables and the drawing tables of the IR display.
        init_biquads();
        init_chorus();
        init_delay();
        lookup = new math_lookup();
        ir_display = new corvella::ir_display_tables();

        // 8. Folders the program needs.
        check_install_paths();

        // 9. Latency, buffers, convolvers, heads, IR computation thread. The FFT plans measured on
        //    this machine before are reused, which makes an instance start in a fraction of the time.
        corvella::ipps_fft_keep_plans_in(fft_plans_file());
        initial_plugin_startup();

        // 10. The two modulated stacked convolvers (Fusion IR) are made with their slot's first
        //     Fusion response (make_stacked_convolver).

        // 11. Sample-rate behaviour.
        read_sample_rate_settings();
        if (half_rate_factor == 2) configure_input_output_aa();

        // 12. The choruses and stereo delays run at the engine rate (half the host's in half-rate
        //     mode); the reflection and tail generators take `sample_rate` here too. Then every
        //     effect starts from the current program, so that the first block already sounds as
        //     the program says; the post equaliser likewise.
        for (chorus* effect : {chorus_master, chorus_ir1, chorus_ir2})
            if (effect->get_sample_rate() != sample_rate) effect->set_sample_rate(sample_rate);
        for (stereo_delay* effect : {delay_master, delay_ir1, delay_ir2})
            if (effect->get_sample_rate() != sample_rate) effect->set_sample_rate(sample_rate);
        push_program_to_effects();
        update_master_filter_coeffs_all();
        editor_refresh_pending = false;

        // 13. Default wet-lock mode, for the editor.
        wet_lock_mode = extract_data_from_registry_wet_lock();

        // 14. There is no minimum system version to check on this platform.

        // 15. Ready; the IR computation thread starts serving requests.
        processing_enabled = true;
        ir_worker->trigger_event();
    } catch (std::exception const& error) {
        processing_enabled = false;
        report((std::string(error.what()) + ": \nSeen during constructor").c_str());
    } catch (...) {
        processing_enabled = false;
        report("Unhandled exception error, please contact support");
    }
}

VST_Plugin::~VST_Plugin()
{
    try {
        // 1. The IR computation thread stops first, so no rebuild runs while the convolvers go.
        stop_ir_worker();

        // 2. Heads and FFT convolvers, section by section in creation order, then the Fusion ones.
        destroy_convolvers();
        destroy_stacked_convolvers();

        // 3. Locks.
        DeleteCriticalSection(&ir_build_lock);
        DeleteCriticalSection(&process_lock);
        DeleteCriticalSection(&bank_lock);
        DeleteCriticalSection(&request_lock);

        // 4. Anti-alias filters.
        delete downsample_aa;
        downsample_aa = nullptr;
        delete upsample_aa;
        upsample_aa = nullptr;

        // 5. Buffers, then the programs and the remaining objects (equaliser bands, math tables,
        //    choruses, stereo delays, pitch modulators, generators free themselves here as they arrive).
        free_aligned_memory();
        delete[] bank_storage;
        bank_storage = control_bank = programs = nullptr;
        program = lock_record = nullptr;
        for (pitch_mod** modulator :
             {&pitch_mod_ir1_section1, &pitch_mod_ir1_section2, &pitch_mod_ir2_section1, &pitch_mod_ir2_section2}) {
            delete *modulator;
            *modulator = nullptr;
        }
        for (chorus** effect : {&chorus_master, &chorus_ir1, &chorus_ir2}) {
            delete *effect;
            *effect = nullptr;
        }
        delete chorus_scratch;
        chorus_scratch = nullptr;
        for (stereo_delay** effect : {&delay_master, &delay_ir1, &delay_ir2}) {
            delete *effect;
            *effect = nullptr;
        }
        delete_biquads();
        delete lookup;
        lookup = nullptr;
        delete ir_display;
        ir_display = nullptr;
        release_generators();
        corvella::free_ir_load_buffer(ir1_file_cache);
        corvella::free_ir_load_buffer(ir2_file_cache);
    } catch (std::exception const& error) {
        report((std::string(error.what()) + ": \nSeen during destructor").c_str());
    } catch (...) {
        report("Unhandled exception error, please contact support");
    }
}

// The user's cache folder, per processor model: plans measured on one processor are only a guess
// on another.
std::string VST_Plugin::fft_plans_file()
{
    std::string const cache = corvella::cache_folder();
    if (cache.empty()) return {};
    // The processor does not change while the process runs: read its model once.
    static std::string const tag = [] {
        std::string model;
        if (std::FILE* info = std::fopen("/proc/cpuinfo", "r")) {
            char line[512];
            while (std::fgets(line, sizeof line, info) != nullptr)
                if (std::strncmp(line, "model name", 10) == 0) {
                    model = line;
                    break;
                }
            std::fclose(info);
        }
        char text[32];
        std::snprintf(text, sizeof text, "%016zx", std::hash<std::string>{}(model));
        return std::string(text);
    }();
    return cache + "Tarnwick/Corvella/fft-plans-" + tag;
}

void VST_Plugin::report(char const* text) const
{
    MessageBoxA(editor, text, corvella::caption::engine, corvella::message_box_ok);
}

void VST_Plugin::destroy_fft_convolver(fft_conv_worker_thread* convolver)
{
    if (convolver == nullptr) return;
    convolver->trigger_kill();
    // The convolver may only go once its worker has left its loop.
    while (!convolver->has_thread_finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    delete convolver;
}

void VST_Plugin::destroy_convolvers()
{
    for (int g = 0; g < generation_count; ++g) {
        direct_fir** heads = g == 0 ? direct_firs : spare_direct_firs;
        fft_conv_worker_thread** convolvers = g == 0 ? fft_convolvers : spare_fft_convolvers;
        void** handles = g == 0 ? fft_thread_handles : spare_fft_thread_handles;
        for (int index = 0; index < convolver_count; ++index) {
            delete heads[index];
            heads[index] = nullptr;
            destroy_fft_convolver(convolvers[index]);
            convolvers[index] = nullptr;
            handles[index] = nullptr;
        }
        fft_conv_worker_thread_true_stereo** four_paths = g == 0 ? four_path_convolvers : spare_four_path_convolvers;
        void** four_path_handles = g == 0 ? four_path_thread_handles : spare_four_path_thread_handles;
        direct_fir_true_stereo** four_path_head_slots = g == 0 ? four_path_heads : spare_four_path_heads;
        for (int index = 0; index < four_path_count; ++index) {
            delete four_path_head_slots[index];
            four_path_head_slots[index] = nullptr;
            destroy_fft_convolver(four_paths[index]);
            four_paths[index] = nullptr;
            four_path_handles[index] = nullptr;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

void VST_Plugin::read_engine_settings_gain_ranges()
{
    bool valid = false;
    try {
        int const ir_min = extract_data_from_registry_ir_gain_min();
        int const ir_max = extract_data_from_registry_ir_gain_max();
        int const master_min = extract_data_from_registry_master_gain_min();
        int const master_max = extract_data_from_registry_master_gain_max();
        auto in_range = [](int minimum, int maximum) {
            return minimum < maximum && minimum >= -100 && minimum <= 0 && maximum >= 0 && maximum <= 100;
        };
        valid = in_range(ir_min, ir_max) && in_range(master_min, master_max);
        if (valid) {
            ir_gain_min = static_cast<float>(ir_min);
            ir_gain_max = static_cast<float>(ir_max);
            master_gain_min = static_cast<float>(master_min);
            master_gain_max = static_cast<float>(master_max);
        }
    } catch (std::runtime_error const&) {
        valid = false; // repaired below
    }
    if (valid) return;
    ir_gain_min = -50.0f;
    ir_gain_max = 50.0f;
    master_gain_min = -30.0f;
    master_gain_max = 30.0f;
    set_ir_gain_min_in_registry(-50);
    set_ir_gain_max_in_registry(50);
    set_master_gain_min_in_registry(-30);
    set_master_gain_max_in_registry(30);
}

void VST_Plugin::read_sample_rate_settings()
{
    int mode = 0;
    try {
        mode = extract_data_from_registry_sr_gain();
    } catch (std::runtime_error const&) {
        mode = 0;
        set_sr_gain_in_registry(0);
    }
    sr_gain_normalise = mode == 0 || mode == 2;
    half_rate_allowed = mode == 2;

    int const host_rate = sample_rate;
    host_sample_rate = static_cast<float>(host_rate);
    half_rate_factor = half_rate_allowed && host_sample_rate >= 88000.0f ? 2 : 1;
    sample_rate = host_rate / half_rate_factor;
    sr_gain = sr_gain_normalise && sample_rate != 44100 ? 44100.0f / static_cast<float>(sample_rate) : 1.0f;
}

void VST_Plugin::check_install_paths()
{
    std::string const preferences = GetPreferencePathRaw() + "Tarnwick/Corvella/";
    if (!check_dir_path(preferences))
        throw std::runtime_error(preferences +
                                 "\n\nPreferences path not found, plug-in cannot load. Please contact "
                                 "support and report this error");
    std::string const bundle = GetCurrentBundlePathName();
    if (!check_dir_path(bundle))
        throw std::runtime_error(bundle +
                                 "\n\nBundle path not found, plug-in cannot load. Please contact support "
                                 "and report this error");
    // The install folder only matters to the file browser; a settings file without it is not
    // a reason to lock the engine.
    try {
        (void)extract_data_from_registry_install_dir();
    } catch (std::runtime_error const&) {
    }
}

// ---------------------------------------------------------------------------------------------
// Start-up

void VST_Plugin::initial_plugin_startup()
{
    int const latency = extract_data_from_registry_latency();
    if (latency < 0 || latency == 1 || latency > max_block_length)
        throw std::runtime_error("Latency setting out of range (" + std::to_string(latency) +
                                 "). Processing will be disabled and plugin locked");
    partition_length = latency / 2;
    zero_latency = false;
    if (latency == 0) {
        zero_latency = true;
        partition_length = zero_latency_partition_length;
    }

    allocate_aligned_memory();
    initialise_fft(partition_length);
    if (zero_latency) initialise_direct_fir(2 * partition_length);

    start_ir_worker();

    // The first build loads both files.
    full_recompute_ir1 = true;
    full_recompute_ir2 = true;
    corvella::free_ir_load_buffer(ir1_file_cache);
    corvella::free_ir_load_buffer(ir2_file_cache);
    ir1_cache_capacity = ir2_cache_capacity = 0;
    ir1_cache_frames = ir2_cache_frames = 0;
}

void VST_Plugin::start_ir_worker()
{
    ir_worker = new WorkerThread_01(this);
    ir_worker_thread = _beginthreadex(nullptr, 0, &WorkerThread_01::ThreadStaticEntryPoint, ir_worker, 0,
                                      &ir_worker_thread_id);
    if (ir_worker_thread == 0) {
        delete ir_worker;
        ir_worker = nullptr;
        fail(
            "IR computation thread creation error #1 (Instantiation). Processing will be disabled and plugin "
            "locked");
    }
    ir_worker_saved_priority = GetThreadPriority(ir_worker_thread);
    if (ir_worker_saved_priority == -1)
        fail(
            "IR computation thread creation error #2 (Instantiation). Processing will be disabled and plugin "
            "locked");
    // The worker waits on its event until construction is complete. Nothing on the audio path
    // waits for it, so it stays under time sharing: a rebuild taking seconds of a core at a
    // real-time priority would starve the host's own threads (and pre-empt an audio thread of a
    // lower real-time priority). Under time sharing the request below does not take.
    SetThreadPriority(ir_worker_thread, 10);
    ResumeThread(ir_worker_thread);
}

void VST_Plugin::stop_ir_worker()
{
    if (ir_worker == nullptr) return;
    if (ir_worker_thread != 0) {
        if (ir_worker_saved_priority != -1) SetThreadPriority(ir_worker_thread, ir_worker_saved_priority);
        // A rebuild in progress completes first; the loop ends after that pass.
        ir_worker->trigger_kill();
        while (!ir_worker->finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    delete ir_worker;
    ir_worker = nullptr;
    ir_worker_thread = 0;
}

bool VST_Plugin::raise_thread_priority(std::uintptr_t thread, int priority, char const* thread_name,
                                       std::atomic<bool>& warned)
{
    if (thread == 0) return false;
    SetThreadPriority(thread, priority);
    if (GetThreadPriority(thread) == priority) return true;
    // Under time sharing the priority alone changes nothing here; the threads the audio path
    // waits on need real-time scheduling, or a busy system makes the audio thread miss its period.
    if (corvella::promote_thread_to_realtime(reinterpret_cast<void*>(thread), priority)) return true;
    if (!warned.exchange(true)) {
        std::string const text = std::string("The system does not permit raising the priority of ") +
                                 (thread_name != nullptr ? thread_name : "a worker thread") +
                                 "; it continues at the default priority.";
        MessageBoxA(nullptr, text.c_str(), corvella::caption::engine, corvella::message_box_ok);
    }
    return false;
}

void VST_Plugin::note_audio_thread_scheduling()
{
    std::uint64_t const self = corvella::current_thread_identity();
    if (++audio_calls_since_check < 1024 && audio_thread_identity.load(std::memory_order_relaxed) == self)
        return;
    audio_calls_since_check = 0;
    audio_thread_identity.store(self, std::memory_order_relaxed);
    audio_thread_priority.store(corvella::current_thread_realtime_priority(), std::memory_order_release);
}

void VST_Plugin::follow_audio_thread_priority()
{
    int const audio = audio_thread_priority.load(std::memory_order_acquire);
    // Under time sharing the audio thread is pre-empted by every real-time thread anyway, and the
    // workers are better finished on time.
    int const wanted = audio > 0 ? std::clamp(audio - 1, 1, 20) : 20;
    if (wanted == convolver_worker_priority) return;
    convolver_worker_priority = wanted;
    for (void* const* handles : {fft_thread_handles, spare_fft_thread_handles})
        for (int index = 0; index < convolver_count; ++index)
            if (handles[index] != nullptr && GetThreadPriority(handles[index]) > 0)
                corvella::promote_thread_to_realtime(handles[index], wanted);
    for (void* const* handles : {four_path_thread_handles, spare_four_path_thread_handles})
        for (int index = 0; index < four_path_count; ++index)
            if (handles[index] != nullptr && GetThreadPriority(handles[index]) > 0)
                corvella::promote_thread_to_realtime(handles[index], wanted);
}

void VST_Plugin::allocate_aligned_memory()
{
    auto** table = reinterpret_cast<float**>(ippsMalloc_8u(static_cast<int>(sizeof(float*)) * channel_count));
    if (table == nullptr) fail("Memory allocation error on aligned_temporary_work_scratch (stage)");
    table[0] = table[1] = nullptr;
    convolver_scratch = table;
    for (int channel = 0; channel < channel_count; ++channel) {
        table[channel] = ippsMalloc_32f(max_block_length);
        if (table[channel] == nullptr) fail("Memory allocation error (aligned_inputs)");
        ippsSet_32f(0.0f, table[channel], max_block_length);
    }

    float*** const buffers[] = {&ir1_input_a,      &ir1_wet,          &ir2_input_a,      &ir2_wet,
                                &ir1_input_b,      &ir2_input_b,      &ir1_section1_out, &ir2_section1_out,
                                &ir1_section2_out, &ir2_section2_out, &host_input,       &host_output};
    int code = 1;
    for (float*** buffer : buffers) {
        *buffer = allocate_multichannel(max_block_length, code);
        code += 3;
    }

    if (!zero_latency) {
        dry_delay_length = 2 * partition_length + max_block_length;
        dry_delay = allocate_multichannel(dry_delay_length, code);
        dry_delay_write_position = 2 * partition_length;
        dry_delay_read_position = 0;
    }
    code += 3;
    silent_input = allocate_multichannel(max_step_length, code);
    for (int channel = 0; channel < channel_count; ++channel)
        ippsSet_32f(0.0f, silent_input[channel], max_step_length);
}

void VST_Plugin::free_aligned_memory()
{
    float*** const buffers[] = {&convolver_scratch, &ir1_input_a,      &ir1_wet,          &ir2_input_a,
                                &ir2_wet,           &ir1_input_b,      &ir2_input_b,      &ir1_section1_out,
                                &ir2_section1_out,  &ir1_section2_out, &ir2_section2_out, &host_input,
                                &host_output,       &dry_delay,        &silent_input};
    for (float*** buffer : buffers)
        free_multichannel(*buffer);
    dry_delay_length = 0;
}

void VST_Plugin::initialise_fft(int N)
{
    // With smooth changes each slot gets its second generation now, so that no change ever waits
    // for a convolver (or its thread) to be made.
    generations_made = smooth_changes ? generation_count : 1;
    for (int g = 0; g < generations_made; ++g) {
        fft_conv_worker_thread** convolvers = g == 0 ? fft_convolvers : spare_fft_convolvers;
        void** handles = g == 0 ? fft_thread_handles : spare_fft_thread_handles;
        unsigned int* ids = g == 0 ? fft_thread_ids : spare_fft_thread_ids;
        for (int section = 1; section <= 2; ++section)
            for (int side = 0; side < 2; ++side)
                for (int ir = 1; ir <= 2; ++ir) {
                    int const index = convolver_index(ir, side, section);
                    if (!fft_conv_worker_thread::fft_conv_worker_thread_initialise(
                            &convolvers[index], &handles[index], &ids[index], channel_count, N))
                        fail(fft_creation_errors[ir - 1][side]);
                }

        // The audio thread waits for the workers' large partitions at their block boundaries.
        for (int index = 0; index < convolver_count; ++index)
            raise_thread_priority(reinterpret_cast<std::uintptr_t>(handles[index]), 20,
                                  "a convolver worker thread", priority_refusal_reported);
    }

    // Stagger the large partitions so that the convolvers do not compute them in the same block.
    phase_spread = (std::rand() % 32768) / 4;
    for (int g = 0; g < generations_made; ++g)
        for (int section = 1; section <= 2; ++section)
            for (int side = 0; side < 2; ++side)
                for (int ir = 1; ir <= 2; ++ir)
                    fft_generation(g)[convolver_index(ir, side, section)]->phase_offset =
                        phase_offset_for(ir, side, g);
}

// A ringing generation sits between the live one's.
int VST_Plugin::phase_offset_for(int ir, int side, int g) const
{
    return phase_spread + phase_offset_base[ir - 1][side] + g * phase_offset_base[0][0] / 2;
}

fft_conv_worker_thread* VST_Plugin::create_fft_convolver(int ir, int side, int g, bool four_path, void** handle)
{
    fft_conv_worker_thread* convolver = nullptr;
    unsigned int id = 0;
    bool made = false;
    if (four_path) {
        fft_conv_worker_thread_true_stereo* paths = nullptr;
        made = fft_conv_worker_thread_true_stereo::fft_conv_worker_thread_initialise_true_stereo(
            &paths, handle, &id, partition_length);
        convolver = paths;
    } else {
        made = fft_conv_worker_thread::fft_conv_worker_thread_initialise(&convolver, handle, &id, channel_count,
                                                                         partition_length);
    }
    if (!made) {
        destroy_fft_convolver(convolver); // a worker that could not start has finished already
        *handle = nullptr;
        fail(fft_creation_errors[ir - 1][side]);
    }
    convolver->phase_offset = phase_offset_for(ir, side, g);
    auto const thread = reinterpret_cast<std::uintptr_t>(*handle);
    raise_thread_priority(thread, 20, "a convolver worker thread", priority_refusal_reported);
    // Where the workers now sit below the audio thread, this one joins them.
    if (convolver_worker_priority != 20 && GetThreadPriority(thread) > 0)
        corvella::promote_thread_to_realtime(*handle, convolver_worker_priority);
    return convolver;
}

void VST_Plugin::initialise_direct_fir(int taps)
{
    for (int g = 0; g < (smooth_changes ? generation_count : 1); ++g) {
        direct_fir** heads = g == 0 ? direct_firs : spare_direct_firs;
        for (int index = 0; index < convolver_count; ++index) {
            try {
                heads[index] = new direct_fir(channel_count, taps);
            } catch (std::exception const& error) {
                heads[index] = nullptr;
                report((std::string(error.what()) + ": \nSeen during constructor").c_str());
            }
        }
        // Without one, a four-path generation falls back to the per-side heads.
        direct_fir_true_stereo** four_path_head_slots = g == 0 ? four_path_heads : spare_four_path_heads;
        for (int index = 0; index < four_path_count; ++index) {
            try {
                four_path_head_slots[index] = new direct_fir_true_stereo(taps);
            } catch (std::exception const& error) {
                four_path_head_slots[index] = nullptr;
                report((std::string(error.what()) + ": \nSeen during constructor").c_str());
            }
        }
    }
    struct {
        direct_fir** slot;
        char const* suffix;
    } const filters[] = {{&downsample_aa, " (downsample AA): \nSeen during constructor"},
                         {&upsample_aa, " (upsample AA): \nSeen during constructor"}};
    for (auto const& filter : filters) {
        try {
            *filter.slot = new direct_fir(channel_count, anti_alias_taps);
        } catch (std::exception const& error) {
            *filter.slot = nullptr;
            report((std::string(error.what()) + filter.suffix).c_str());
        }
    }
}

void VST_Plugin::configure_input_output_aa()
{
    constexpr int design_taps = 2 * anti_alias_taps;
    double design[design_taps] = {};
    float channel_taps[anti_alias_taps] = {};
    if (ippsFIRGenLowpass_64f(0.5 / half_rate_factor, design, design_taps, ippWinBlackman, ippTrue) !=
        ippStsNoErr)
        fail("Low system memory: \nmalloc error on multichannel_lpf_taps_creation_buffer_tmp");
    // The second half of the symmetric design, doubled so that the taps still sum to 1.
    for (int k = 0; k < anti_alias_taps; ++k)
        channel_taps[k] = static_cast<float>(2.0 * design[anti_alias_taps + k]);
    float* taps[channel_count] = {channel_taps, channel_taps};
    if (downsample_aa != nullptr) downsample_aa->load_ir_data(taps, anti_alias_taps);
    if (upsample_aa != nullptr) upsample_aa->load_ir_data(taps, anti_alias_taps);
}

// The three choruses and the scratch record the editor edits a chorus block in. Their settings
// here hold only until the program is pushed into them (end of construction).
void VST_Plugin::init_chorus()
{
    for (chorus** slot : {&chorus_master, &chorus_ir1, &chorus_ir2}) {
        auto* effect = new chorus(channel_count, sample_rate);
        *slot = effect;
        effect->set_delay_ms(9.0f);
        effect->set_width(0.75f);
        effect->set_delay_mod_ms(5.0f);
        effect->set_delay_mod_rate_hz(0.1f);
        effect->set_feedback(0.2f);
        effect->set_wet(0.5f);
        effect->set_dry(1.0f);
    }
    chorus_scratch = new VST_Plugin_Program_Chorus_Scratch();
}

// The master, IR1 and IR2 stereo delays (their settings here hold only until the program is
// pushed into them), then the four pitch modulators.
void VST_Plugin::init_delay()
{
    struct InitialDelay {
        stereo_delay** slot;
        float delay_ms; // 0: the note alone sets the time
        float mod_ms, mod_rate_hz, wet;
        int numerator, denominator;
    };
    InitialDelay const initial[] = {
        {&delay_master, 0.0f, 6.0f, 0.4f, 1.0f, 1, 4},
        {&delay_ir1, 1500.0f, 5.0f, 0.1f, 0.5f, 4, 16},
        {&delay_ir2, 2000.0f, 5.0f, 0.1f, 0.5f, 4, 16},
    };
    try {
        for (InitialDelay const& d : initial) {
            auto* effect = new stereo_delay(sample_rate);
            *d.slot = effect;
            for (int side = 0; side < stereo_delay::channels; ++side) {
                effect->set_width(0.0f, side);
                effect->set_delay_mod_ms(d.mod_ms, side);
                effect->set_delay_mod_rate_hz(d.mod_rate_hz, side);
                effect->set_feedback(0.0f, side);
                effect->set_wet(d.wet, side);
                effect->set_dry(1.0f, side);
                effect->set_tempo(initial_tempo, side);
                effect->set_num_den(d.numerator, d.denominator, side);
                // A fixed time wins over the note, which the program replaces anyway.
                if (d.delay_ms > 0.0f) effect->set_delay_ms(d.delay_ms, side);
            }
            effect->silence_delay_lines();
        }
    } catch (std::exception const& error) {
        throw std::runtime_error(std::string(error.what()) + ": \nSeen during stereo delay construction");
    }
    initialise_delay_pitch_mod(pitch_mod_ir1_section1);
    initialise_delay_pitch_mod(pitch_mod_ir1_section2);
    initialise_delay_pitch_mod(pitch_mod_ir2_section1);
    initialise_delay_pitch_mod(pitch_mod_ir2_section2);
}

// A pitch modulator at the engine rate: width 0, feedback 0, wet 1, dry 0, on, delay 1 ms,
// modulation 1 ms at 0.7 Hz, until the program's settings are pushed.
void VST_Plugin::initialise_delay_pitch_mod(pitch_mod*& modulator)
{
    modulator = new pitch_mod(sample_rate);
    for (int side = 0; side < pitch_mod::channels; ++side) {
        modulator->set_width(0.0f, side);
        modulator->set_feedback(0.0f, side);
        modulator->set_feedback_opposite(0.0f, side);
        modulator->set_wet(1.0f, side);
        modulator->set_dry(0.0f, side);
        modulator->set_toggle(true, side);
        modulator->set_delay_ms(1.0f, side);
        modulator->set_delay_mod_ms(1.0f, side);
        modulator->set_delay_mod_rate_hz(0.7f, side);
    }
    modulator->silence_delay_lines();
}

// ---------------------------------------------------------------------------------------------

bool VST_Plugin::load_ir_into_slot(int slot, float* const channels[4], int length, bool take_over)
{
    if (slot != 1 && slot != 2) return false;
    if (channels == nullptr || length <= 0) return false;
    for (int channel = 0; channel < 4; ++channel)
        if (channels[channel] == nullptr) return false;
    VST_Plugin_Program const p = current_program_copy();
    generation_routing routing;
    routing.topology =
        VST_Plugin_Program::get_topology_from_unity(slot == 1 ? p.ir1_topology : p.ir2_topology, false, false);
    routing.sts = routing.topology == 0 && (slot == 1 ? p.ir1_sts_toggle : p.ir2_sts_toggle) * 2.0f >= 1.0f;
    routing.tail_frames = length + (zero_latency ? 0 : 2 * partition_length);
    bool const four_path = routing_four_path(routing.topology, routing.sts);
    side_b const b = routing.sts ? side_b::crossed : side_b::straight;
    if (take_over && smooth_changes) {
        acquire_spare(slot);
        try {
            set_generation_kind(slot, build_generation[slot - 1], four_path);
        } catch (...) {
            abandon_spare(slot);
            throw;
        }
        load_section(slot, 1, channels, length, b);
        publish_spare(slot, routing);
        return true;
    }
    // In place, into the live generation; a build finished earlier and still waiting to take over
    // is superseded.
    slot_generations& s = generations[slot - 1];
    int ready = spare_ready;
    s.spare.compare_exchange_strong(ready, spare_idle, std::memory_order_acq_rel);
    int const g = s.live.load(std::memory_order_acquire);
    build_generation[slot - 1] = g;
    s.routing[g] = routing;
    set_generation_kind(slot, g, four_path);
    load_section(slot, 1, channels, length, b);
    return true;
}
