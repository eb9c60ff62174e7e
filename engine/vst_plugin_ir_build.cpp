// The IR build pipeline: from an IR slot's source (file, file pair, or generator) through the
// per-slot cache and the shaping steps to the heads and FFT convolvers of its sections. Runs on the
// IR computation thread only; the convolvers swap the new IR in by themselves while audio runs.

#include "engine/ir_display.h"
#include "engine/ir_slot_settings.h"
#include "engine/vst_plugin.h"
#include "engine/worker_thread_01.h"

#include "convolution/convolver_ts_stack_modulated.h"
#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "convolution/ipps.h"
#include "ir/audio_file_loader.h"
#include "ir/fir_file.h"
#include "ir/ir_shaping.h"
#include "ir/reflection.h"
#include "ir/tail.h"
#include "platform/aligned_memory.h"
#include "platform/message_box.h"
#include "platform/threading.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr int topology_parallel_stereo = 0;
constexpr int topology_true_stereo = 1;
constexpr int topology_mono_stereo = 2;
constexpr int topology_fusion = 3;

constexpr int switched_off_frames = 8192; // what the convolvers of an IR that is off keep
constexpr int longest_generated_source = 882000;
constexpr float normalise_max_gain = 1000.0f;
constexpr int length_factor_step = 32;      // the length factor's target rate is a multiple of this
constexpr int length_factor_tolerance = 50; // Hz around the engine rate that count as unchanged
constexpr float sts_pre_delay_max_ms = 80.0f;
constexpr float pre_delay_max_ms = 500.0f;
constexpr float sts_gain_range_db = -12.0f;

// Channels of `capacity` floats from the aligned allocator (the resampler replaces channels and
// frees the old ones with std::free), released with the build.
template <int Channels>
struct working_channels {
    float* channel[Channels] = {};
    working_channels() = default;
    working_channels(working_channels const&) = delete;
    working_channels& operator=(working_channels const&) = delete;
    ~working_channels()
    {
        for (float*& c : channel) {
            std::free(c);
            c = nullptr;
        }
    }
    float** data() { return channel; }
};
using working_ir = working_channels<4>;

// A channel of `capacity` floats; a failed allocation is tried once more after a second, in case
// another instance is releasing memory at the same moment.
float* allocate_channel(int capacity, char const* failure)
{
    float* block = corvella::aligned_new<float>(static_cast<std::size_t>(capacity), false);
    if (block == nullptr) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        block = corvella::aligned_new<float>(static_cast<std::size_t>(capacity), false);
    }
    if (block == nullptr) throw std::runtime_error(failure);
    return block;
}

// Copies `frames` of `source` and clears the rest of the `capacity`.
void fill_channel(float* destination, float const* source, int frames, int capacity)
{
    int const copied = source != nullptr ? std::clamp(frames, 0, capacity) : 0;
    if (copied > 0) std::memcpy(destination, source, sizeof(float) * static_cast<std::size_t>(copied));
    std::fill(destination + copied, destination + capacity, 0.0f);
}

// Curve of an envelope stage from its shape setting: 0 is a straight line.
float envelope_shape(float alpha)
{
    float const pi = 3.14159265f;
    return std::pow(0.5f * std::cos(pi * alpha + pi) + 0.5f, 0.15f);
}

int ms_rounded_up(int frames, int sample_rate)
{
    return static_cast<int>(std::ceil(1000.0 * frames / sample_rate));
}

// What a generated source is made from. Any change regenerates it, whichever request asked for the
// build: a room, size or tail change must never reshape the previous room's reflections.
struct generated_source_key {
    std::int32_t source_type, channels;
    float er_size, er_diffusion, er_distance, er_position, er_separation, er_depth;
    std::int32_t er_type;
    float tail_length, tail_diffusion, tail_variant, tail_diffuse_length;
    std::int32_t tail_character, tail_density;
    float noise_on, noise_wet, noise_dry, noise_release;
};

generated_source_key key_of(corvella::ir_slot_settings const& s, int channels)
{
    generated_source_key key{};
    key.source_type = s.source_type;
    key.channels = channels;
    if (s.source_type == 1) {
        key.er_size = s.er_size;
        key.er_diffusion = s.er_diffusion;
        key.er_distance = s.er_distance;
        key.er_position = s.er_position;
        key.er_separation = s.er_separation;
        key.er_depth = s.er_depth;
        key.er_type = s.er_type;
    } else if (s.source_type == 2) {
        key.tail_length = s.tail_length;
        key.tail_diffusion = s.tail_diffusion;
        key.tail_variant = s.tail_variant;
        key.tail_diffuse_length = s.tail_diffuse_length;
        key.tail_character = s.tail_character;
        key.tail_density = s.tail_density;
        key.noise_on = s.flt_master_toggle > 0.0f ? 1.0f : 0.0f;
        key.noise_wet = s.additive_noise_wet;
        key.noise_dry = s.additive_noise_dry;
        key.noise_release = s.additive_noise_release;
    }
    return key;
}

// Thrown between the steps of a build when the engine is being destroyed; caught silently.
struct build_cancelled_exception {};

} // namespace

void VST_Plugin::release_generators()
{
    delete ir1_reflection;
    delete ir2_reflection;
    delete ir1_tail;
    delete ir2_tail;
    ir1_reflection = ir2_reflection = nullptr;
    ir1_tail = ir2_tail = nullptr;
}

void VST_Plugin::generate_source(int slot, corvella::ir_slot_settings const& s, int channels)
{
    float**& cache = slot == 1 ? ir1_file_cache : ir2_file_cache;
    int& capacity = slot == 1 ? ir1_cache_capacity : ir2_cache_capacity;
    int& frames = slot == 1 ? ir1_frames : ir2_frames;
    int& bits = slot == 1 ? ir1_source_bits : ir2_source_bits;
    int unused = 0;
    if (s.source_type == 1) {
        reflection*& generator = slot == 1 ? ir1_reflection : ir2_reflection;
        if (generator == nullptr) generator = new reflection(4, sample_rate);
        // The room first, so that the size is scaled by the chosen room's own bases.
        generator->set_room_number(s.er_type);
        generator->set_scale_x(s.er_size);
        generator->set_scale_y(s.er_size);
        generator->set_diffusion(s.er_diffusion);
        generator->set_distance_unity(s.er_distance);
        generator->set_position_unity(s.er_position);
        generator->set_separation_unity(s.er_separation);
        generator->set_recusion_depth_unity(s.er_depth);
        generator->compute_reflections(channels == 4);
        int const length = std::min(std::max(generator->get_latest_reflection_index() + reflection::kernel_length,
                                             sample_rate / 2),
                                    longest_generated_source);
        create_silence_ir(length, cache, sample_rate, capacity, frames, bits, unused);
    } else {
        tail*& generator = slot == 1 ? ir1_tail : ir2_tail;
        if (generator == nullptr) generator = new tail(4, sample_rate);
        generator->set_length_unity(s.tail_length);
        generator->set_diffusion_unity(s.tail_diffusion);
        generator->set_density_type(s.tail_density);
        generator->set_tint(s.tail_character);
        generator->set_variant_unity(s.tail_variant);
        generator->set_diffuse_length_unity(s.tail_diffuse_length);
        int rate_out = 0;
        generator->create_multichannel_tails(cache, sample_rate, capacity, frames, bits, rate_out, channels,
                                             s.flt_master_toggle > 0.0f, 2.0f * s.additive_noise_wet,
                                             s.additive_noise_dry, 0, s.additive_noise_release);
    }
    generated_source_key const key = key_of(s, channels);
    static_assert(sizeof key <= sizeof generated_from[0]);
    std::memcpy(generated_from[slot - 1], &key, sizeof key);
}

bool VST_Plugin::build_cancelled() const
{
    return ir_worker != nullptr && !ir_worker->running.load(std::memory_order_acquire);
}

void VST_Plugin::current_ir_file_names(int slot, std::string& file_a, std::string& file_b)
{
    corvella::CriticalSectionLock lock(&bank_lock);
    VST_Plugin_Program const& current = control_bank[control_current];
    char const* a = slot == 2 ? current.ir2_file_a : current.ir1_file_a;
    char const* b = slot == 2 ? current.ir2_file_b : current.ir1_file_b;
    file_a.assign(a, strnlen(a, corvella::program_path_size));
    file_b.assign(b, strnlen(b, corvella::program_path_size));
}

void VST_Plugin::change_ir1_file_standard_format(char const* file_a, char const* file_b)
{
    change_ir_file_standard_format(1, file_a, file_b);
}

void VST_Plugin::change_ir2_file_standard_format(char const* file_a, char const* file_b)
{
    change_ir_file_standard_format(2, file_a, file_b);
}

void VST_Plugin::set_ir_1_sample_frames_section1(float** ir, int frames)
{
    load_section(1, 1, ir, frames, side_b::straight);
}

void VST_Plugin::set_ir_1_sample_frames_section2(float** ir, int frames)
{
    load_section(1, 2, ir, frames, side_b::straight);
}

void VST_Plugin::set_ir_2_sample_frames_section1(float** ir, int frames)
{
    load_section(2, 1, ir, frames, side_b::straight);
}

void VST_Plugin::set_ir_2_sample_frames_section2(float** ir, int frames)
{
    load_section(2, 2, ir, frames, side_b::straight);
}

// Section loading: the first 2N frames into the zero-latency heads (when they exist), the rest
// into the FFT convolvers, side A from channels 0-1 and, when asked, side B from channels 2-3. An IR
// that fits in the head leaves the FFT convolvers a silent response, never the previous IR's tail.
// A generation of four-path convolvers takes all four channels at once.
void VST_Plugin::load_section(int slot, int section, float* const* ir, int frames, side_b b)
{
    if (ir == nullptr) return;
    frames = std::max(frames, 0);
    int const g = build_generation[slot - 1];
    if (generation_four_path(slot, g) && b != side_b::none && ir[0] != nullptr && ir[1] != nullptr &&
        ir[2] != nullptr && ir[3] != nullptr) {
        if (build_cancelled()) throw build_cancelled_exception{};
        load_four_path_section(slot, section, g, ir, frames, b == side_b::crossed);
        if (section == 1 && slot >= 1 && slot <= 2 && frames > 0)
            (slot == 1 ? ir1_length_ms : ir2_length_ms) = ms_rounded_up(frames, sample_rate);
        return;
    }
    for (int side = 0; side < (b != side_b::none ? 2 : 1); ++side) {
        int const index = convolver_index(slot, side, section);
        float* pair[channel_count] = {ir[2 * side], ir[2 * side + 1]};
        if (pair[0] == nullptr || pair[1] == nullptr) continue;
        int head_length = 0;
        direct_fir* const head = head_generation(g)[index];
        if (zero_latency && head != nullptr) {
            head_length = std::min(frames, head->get_length());
            head->load_ir_data(pair, head_length);
        }
        if (build_cancelled()) throw build_cancelled_exception{};
        if (fft_conv_worker_thread* const convolver = fft_generation(g)[index]) {
            float* tail[channel_count] = {pair[0] + head_length, pair[1] + head_length};
            if (frames - head_length > 0)
                convolver->load_ir_data(tail, frames - head_length);
            else
                convolver->minimise_ir_data_memory(); // a silent response
        }
    }
    if (section == 1 && slot >= 1 && slot <= 2 && frames > 0)
        (slot == 1 ? ir1_length_ms : ir2_length_ms) = ms_rounded_up(frames, sample_rate);
}

void VST_Plugin::release_ir_data(int slot)
{
    // With smooth changes a silent response takes over like any other, and the old one rings out.
    acquire_spare(slot);
    int const g = build_generation[slot - 1];
    for (int section = 1; section <= 2; ++section) {
        if (fft_conv_worker_thread_true_stereo* convolver = four_path_generation(g)[four_path_index(slot, section)])
            convolver->minimise_ir_data_memory();
        if (smooth_changes)
            if (direct_fir_true_stereo* head = four_path_head_generation(g)[four_path_index(slot, section)])
                head->load_ir_data(nullptr, 0);
    }
    for (int section = 1; section <= 2; ++section)
        for (int side = 0; side < 2; ++side) {
            int const index = convolver_index(slot, side, section);
            if (fft_conv_worker_thread* convolver = fft_generation(g)[index]) convolver->minimise_ir_data_memory();
            if (smooth_changes)
                if (direct_fir* head = head_generation(g)[index]) {
                    float* none[channel_count] = {silent_input[0], silent_input[1]};
                    head->load_ir_data(none, 0);
                }
        }
    generation_routing silent_routing{};
    publish_spare(slot, silent_routing);
}

void VST_Plugin::draw_ir(int slot, float* const* ir, int channels, int frames, int bits)
{
    if (ir_display == nullptr) return;
    corvella::ir_display_tables& tables = *ir_display;
    int const floor_db = calc_db_draw_level(bits);
    int const s = slot - 1;
    for (int channel = 0; channel < corvella::ir_display_tables::channels; ++channel) {
        float* row = tables.build_rows[s][channel];
        if (channel < channels)
            create_ir_vis_display(row, ir[channel], tables.width, tables.height, frames, floor_db);
        else
            std::fill(row, row + tables.width, 0.0f);
    }
    corvella::CriticalSectionLock lock(&ir_build_lock);
    std::memcpy(tables.rows[s], tables.build_rows[s], sizeof tables.rows[s]);
    tables.channel_count[s] = channels;
    tables.floor_db[s] = floor_db;
    tables.frames[s] = frames;
    ++tables.generation;
}

void VST_Plugin::change_ir_file_standard_format(int slot, char const* file_a_argument,
                                                char const* file_b_argument)
{
    // The names may point into the build's own copy of the program, which is replaced below.
    std::string const file_a = file_a_argument != nullptr ? file_a_argument : "";
    std::string const file_b = file_b_argument != nullptr ? file_b_argument : "";
    bool const first = slot == 1;
    float**& cache = first ? ir1_file_cache : ir2_file_cache;
    int& capacity = first ? ir1_cache_capacity : ir2_cache_capacity;
    int& cache_frames = first ? ir1_cache_frames : ir2_cache_frames;
    int& frames = first ? ir1_frames : ir2_frames;
    int& bits = first ? ir1_source_bits : ir2_source_bits;
    std::atomic<bool>& full_recompute = first ? full_recompute_ir1 : full_recompute_ir2;
    char const* const section1_failure =
        "Low system memory: \nmalloc error on multichannel_load_ir_buffer_tmp_section1[channel_count]";
    char const* const section2_failure =
        "Low system memory: \nmalloc error on multichannel_load_ir_buffer_tmp_section2[channel_count]";

    ++ir_builds_started[slot - 1];
    try {
        // The bank may be replaced while the build runs: everything below reads this copy.
        build_program = current_program_copy();
        corvella::ir_slot_settings const s = corvella::ir_slot_settings_of(build_program, slot);
        int const topology = VST_Plugin_Program::get_topology_from_unity(s.topology, false, false);

        // 1.-3. No file: the FFT convolvers let go of their IR (a generated source needs none, and
        //       its convolvers keep their layout until the new IR is in). Stacked files belong to the
        //       Fusion convolver.
        convolver_ts_stack_modulated* const stacked = stacked_convolver(slot);
        if (file_a.empty() && s.source_type == 0) {
            release_ir_data(slot);
            if (stacked != nullptr) stacked->minimise_ir_data_memory();
        }
        std::error_code missing;
        if (!file_a.empty() && s.source_type == 0 && check_filename_extension(file_a, ".fir") &&
            std::filesystem::exists(file_a, missing)) {
            release_ir_data(slot);
            if (topology == topology_fusion) change_ir_file_stacked_format(slot, file_a);
            else if (stacked != nullptr) stacked->minimise_ir_data_memory();
            ++ir_builds_finished[slot - 1];
            return;
        }
        if (stacked != nullptr) stacked->minimise_ir_data_memory();

        bool const parallel = topology == topology_parallel_stereo;
        float const sts_state = s.sts_toggle * 2.0f;
        bool const sts_on = parallel && sts_state >= 1.0f;
        bool const sts_from_a = parallel && sts_state == 1.0f;
        bool const sts_simulated = parallel && sts_state == 2.0f;
        int const C = topology == topology_true_stereo || topology == topology_mono_stereo || sts_on ? 4 : 2;

        // 4. Source: the cache as it is, or a fresh load or generation. A generated source whose
        //    settings changed is made again even for a partial request.
        if (s.source_type == 1 || s.source_type == 2) {
            generated_source_key const key = key_of(s, C);
            static_assert(sizeof key <= sizeof generated_from[0]);
            if (std::memcmp(generated_from[slot - 1], &key, sizeof key) != 0) full_recompute = true;
        }
        if (!full_recompute && cache != nullptr) {
            frames = cache_frames;
        } else {
            full_recompute = false;
            corvella::free_ir_load_buffer(cache);
            capacity = 0;
            frames = 0;
            switch (s.source_type) {
            case 1:
            case 2:
                generate_source(slot, s, C);
                break;
            default: {
                std::memset(generated_from[slot - 1], 0, sizeof generated_from[slot - 1]); // nothing generated
                // Section B files count only for true-stereo pairs and the STS side made from file B.
                std::string const b =
                    topology == topology_true_stereo || sts_simulated ? file_b : std::string();
                int file_rate = -1;
                load_libsndfile_into_unallocated_memory(
                    file_a, b, cache, sample_rate, capacity, frames, bits, file_rate, editor, sts_simulated,
                    s.sts_pre_delay * sts_pre_delay_max_ms / 1000.0f, s.sts_relative_gain,
                    s.flt_master_toggle > 0.0f, 2.0f * s.additive_noise_wet, s.additive_noise_dry, 0,
                    s.additive_noise_release);
                break;
            }
            }
            cache_frames = frames;
        }
        if (cache == nullptr || capacity <= 0)
            throw std::runtime_error("read error on ir1_multichannel_load_ir_buffer[channel_count]");
        for (int channel = 0; channel < 4; ++channel)
            if (cache[channel] == nullptr)
                throw std::runtime_error("read error on ir1_multichannel_load_ir_buffer[channel_count]");

        if (build_cancelled()) throw build_cancelled_exception{};
        // 5. STS made from the A file: its side starts as a copy of the A channels.
        if (sts_from_a) {
            std::memcpy(cache[2], cache[0], sizeof(float) * static_cast<std::size_t>(capacity));
            std::memcpy(cache[3], cache[1], sizeof(float) * static_cast<std::size_t>(capacity));
        }

        // 6. The working copy; the section-2 buffer is made only when the IR is split (step 23).
        working_ir section1;
        for (int channel = 0; channel < 4; ++channel) {
            section1.channel[channel] = allocate_channel(capacity, section1_failure);
            fill_channel(section1.channel[channel], cache[channel], cache_frames, capacity);
        }
        float** const w = section1.data();
        int work_capacity = capacity;

        // 7. Early reflections over the silence they were given; shaped noise.
        reflection* const er = first ? ir1_reflection : ir2_reflection;
        if (s.source_type == 1 && er != nullptr) er->overlay_computed_reflections(w, frames, C);
        bool const noise_is_identity = s.additive_noise_wet == 0.0f && s.additive_noise_dry == 1.0f;
        if (s.flt_master_toggle > 0.0f && !noise_is_identity)
            add_shaped_noise(w, frames, C, 2.0f * s.additive_noise_wet, s.additive_noise_dry, 0,
                             s.additive_noise_release, sample_rate);

        if (build_cancelled()) throw build_cancelled_exception{};
        // 8. Length factor: the rate the IR is converted to, 0.5 x to 1.5 x the engine rate.
        int target_rate =
            static_cast<int>(std::floor((s.user_resample_factor + 0.5f) * static_cast<float>(sample_rate)));
        target_rate -= target_rate % length_factor_step;

        // 9. Reverse.
        if (s.reverse > 0.0f)
            for (int channel = 0; channel < C; ++channel)
                ippsFlip_32f_I(w[channel], frames);

        // 10. Crop; the controls act on squared values for a finer start.
        crop_audio_file_into_preallocated_memory(w, frames, s.crop_from_start * s.crop_from_start,
                                                 s.crop_from_end * s.crop_from_end, C, sample_rate);

        if (build_cancelled()) throw build_cancelled_exception{};
        // 11. Stretch or shrink (length and pitch) by target_rate / sample_rate.
        if (target_rate >= length_factor_step && (target_rate < sample_rate - length_factor_tolerance ||
                                                  target_rate > sample_rate + length_factor_tolerance))
            resample_audio_file_into_preallocated_memory(w, sample_rate, target_rate, work_capacity, frames,
                                                         C);

        // 13. Integer-range samples become full scale.
        clip_audio_file_into_preallocated_memory(w, frames, C);

        // 14. Width.
        if (std::fabs(2.0f * (s.width - 0.5f)) >= 0.01f)
            multichannel_width(w, C, frames, s.width, sample_rate);

        // 15. Normalise.
        if (s.normalise > 0.0f)
            (first ? ir1_normalise_gain : ir2_normalise_gain) =
                multichannel_normalise(w, frames, C, normalise_max_gain);

        // 16. Loudness independent of the engine rate.
        if (sr_gain != 1.0f)
            for (int channel = 0; channel < C; ++channel)
                ippsMulC_32f_I(sr_gain, w[channel], frames);

        if (build_cancelled()) throw build_cancelled_exception{};
        // 17. Envelope. The times act on squared values; the sustain level does not.
        float const times[5] = {s.adshr_a * s.adshr_a, s.adshr_d * s.adshr_d, s.adshr_s,
                                s.adshr_h * s.adshr_h, s.adshr_r * s.adshr_r};
        float const shapes[3] = {envelope_shape(s.adshr_a_alpha), envelope_shape(s.adshr_d_alpha),
                                 envelope_shape(s.adshr_r_alpha)};
        float const inverts[3] = {s.adshr_a_alpha_inv, s.adshr_d_alpha_inv, s.adshr_r_alpha_inv};
        for (int channel = 0; channel < C; ++channel)
            compute_adshr_envelope(w[channel], frames, times, shapes, inverts);

        // 18. IR equaliser with its sweeps along the IR.
        if (s.flt_master_toggle > 0.0f) {
            for (int band = 0; band < 5; ++band)
                update_ir_filter_coeffs(slot, band);
            process_ir_biquad_filters_inplace(slot, w, frames, C);
        }

        // 19. STS side made from the A file: later (0..80 ms) and quieter (0..-12 dB).
        if (sts_from_a) {
            int const delay = static_cast<int>(static_cast<float>(sample_rate) * s.sts_pre_delay *
                                               sts_pre_delay_max_ms / 1000.0f);
            frames = std::min(frames + delay, work_capacity);
            add_pre_delay(w[2], frames, delay);
            add_pre_delay(w[3], frames, delay);
            float const gain = std::pow(10.0f, (1.0f - s.sts_relative_gain) * sts_gain_range_db / 20.0f);
            ippsMulC_32f_I(gain, w[2], frames);
            ippsMulC_32f_I(gain, w[3], frames);
        }

        // 20. STS high-pass.
        if (parallel && (sts_state == 1.0f || sts_state == 2.0f) && s.sts_high_pass_toggle != 0.0f)
            process_sts_filters_inplace(slot, w, frames);

        if (build_cancelled()) throw build_cancelled_exception{};
        // 21. Drawing for the editor.
        draw_ir(slot, w, C, frames, bits);

        // 22. Pre-delay, 0..500 ms.
        int const pre_delay =
            static_cast<int>(static_cast<float>(sample_rate) * s.pre_delay * pre_delay_max_ms / 1000.0f);
        if (pre_delay > 0) {
            frames = std::min(frames + pre_delay, work_capacity);
            for (int channel = 0; channel < C; ++channel)
                add_pre_delay(w[channel], frames, pre_delay);
        }

        if (build_cancelled()) throw build_cancelled_exception{};
        // 23. Sections and loading.
        side_b const load_b = sts_on ? side_b::crossed
                              : topology == topology_true_stereo || topology == topology_mono_stereo ? side_b::straight
                                                                                                     : side_b::none;
        acquire_spare(slot);
        set_generation_kind(slot, build_generation[slot - 1], routing_four_path(topology, sts_on));
        int loaded = frames;
        if (s.toggle != 1.0f) {
            // Off: the convolvers keep a short, cheap IR.
            loaded = std::min(frames, switched_off_frames);
            load_section(slot, 1, w, loaded, load_b);
            load_section(slot, 2, w, loaded, load_b);
        } else if (s.pitch_section1_toggle > 0.0f || s.pitch_section2_toggle > 0.0f) {
            int const split = std::clamp(
                static_cast<int>(s.pitch_split_point * s.pitch_split_point * static_cast<float>(frames)), 0,
                frames);
            working_ir section2;
            for (int channel = 0; channel < 4; ++channel) {
                section2.channel[channel] = allocate_channel(work_capacity, section2_failure);
                fill_channel(section2.channel[channel], w[channel], frames, work_capacity);
                std::fill(section2.channel[channel], section2.channel[channel] + split, 0.0f);
                std::fill(w[channel] + split, w[channel] + frames, 0.0f);
            }
            load_section(slot, 1, w, split, load_b);
            load_section(slot, 2, section2.data(), frames, load_b);
        } else {
            load_section(slot, 1, w, frames, load_b);
        }
        (first ? ir1_length_ms : ir2_length_ms) = ms_rounded_up(loaded, sample_rate);
        publish_spare(slot, {topology, sts_on, loaded + (zero_latency ? 0 : 2 * partition_length)});
        loaded_switched_off[slot - 1] = s.toggle != 1.0f;

        // 24. An IR that is off gives up its source, so that switching it on reloads it.
        if (s.toggle != 1.0f) {
            full_recompute = true;
            corvella::free_ir_load_buffer(cache);
            capacity = 0;
            cache_frames = 0;
        }
    } catch (build_cancelled_exception const&) {
        // The engine is going away: nothing to report, nobody to hear it.
        ++ir_builds_cancelled[slot - 1];
        abandon_spare(slot);
    } catch (std::exception const& error) {
        abandon_spare(slot);
        report((std::string(error.what()) + ": \nSeen during ir file change").c_str());
    } catch (...) {
        abandon_spare(slot);
        report("Unhandled exception: \nSeen during ir file change");
    }
    ++ir_builds_finished[slot - 1];
}

void VST_Plugin::change_ir1_file_stacked_format(char const* file)
{
    change_ir_file_stacked_format(1, file != nullptr ? file : "");
}

void VST_Plugin::change_ir2_file_stacked_format(char const* file)
{
    change_ir_file_stacked_format(2, file != nullptr ? file : "");
}

namespace {

// dB to a sample gain; the files' -20 dB means off.
float convert_db_to_power(float db)
{
    return db <= -20.0f ? 0.0f : std::pow(10.0f, db / 20.0f);
}

// Where the channels of a part of a ".fir" file go among the true-stereo sets from `first_set` on:
// whole sets as they are; a stereo part as left into left and right into right of one set, a mono
// part into both, so that a stereo input is heard on both sides.
template <typename Add>
void place_channels(std::vector<std::vector<float>> const& part, int first_set, Add add)
{
    int const n = static_cast<int>(part.size());
    if (n % 4 == 0) {
        for (int c = 0; c < n; ++c)
            add(part[static_cast<std::size_t>(c)], 4 * first_set + c);
        return;
    }
    for (int c = 0; c < n; ++c) {
        int const set = first_set + c / 2;
        bool const right = (c % 2 == 1);
        bool const mono_pair = c + 1 == n && c % 2 == 0; // a last channel without a partner
        if (!right || mono_pair) add(part[static_cast<std::size_t>(c)], 4 * set + 0);
        if (right || mono_pair) add(part[static_cast<std::size_t>(c)], 4 * set + 3);
    }
}

} // namespace

void VST_Plugin::change_ir_file_stacked_format(int slot, std::string const& file)
{
    convolver_ts_stack_modulated* const stacked = make_stacked_convolver(slot);
    std::string why;
    std::optional<corvella::fir_contents> const contents = corvella::read_fir_file(file, &why);
    if (!contents) {
        stacked->minimise_ir_data_memory();
        report(("Fusion IR file not loaded: " + why + ": \n" + file).c_str());
        return;
    }
    try {
        corvella::ir_slot_settings const s = corvella::ir_slot_settings_of(build_program, slot);
        bool const first = slot == 1;
        constexpr int C = stacked_channels;

        // Gains of the file and the program's early/late mix.
        auto const [early, late] = VST_Plugin_Program::get_head_tail_mix_tuple_power(s.stacked_head_tail_mix);
        float const head_gain = convert_db_to_power(contents->head_gain_db) * early;
        float const tail_gain = convert_db_to_power(contents->tail_gain_db) * late;

        // Working length: the data stretched to the engine rate and by the length factor, with half
        // a second of room (pre-delay, resampler).
        int const data_frames = static_cast<int>(contents->tail.front().size());
        double const ratio = static_cast<double>(sample_rate) / contents->sample_rate * (s.user_resample_factor + 0.5);
        int capacity = static_cast<int>(std::ceil(data_frames * ratio)) + sample_rate / 2 + 256;
        working_channels<C> work;
        for (int channel = 0; channel < C; ++channel) {
            work.channel[channel] = allocate_channel(capacity, "Low system memory: \nmalloc error on multichannel_load_ir_buffer_tmp_section1[channel_count]");
            std::fill(work.channel[channel], work.channel[channel] + capacity, 0.0f);
        }
        float** const w = work.data();
        int frames = data_frames;

        // A head of fewer than four channels goes into the first tail set when its modulation is
        // permitted, so that it moves with the first tail; otherwise into the head set.
        bool const head_in_tail = contents->head.size() != 4 && s.stacked_head_permit_mod == 1.0f;
        auto add_scaled = [&](float gain) {
            return [&, gain](std::vector<float> const& samples, int channel) {
                if (channel >= C) return;
                for (std::size_t i = 0; i < samples.size(); ++i)
                    w[channel][i] += gain * samples[i];
            };
        };
        place_channels(contents->head, head_in_tail ? 1 : 0, add_scaled(head_gain));
        place_channels(contents->tail, 1, add_scaled(tail_gain));

        if (build_cancelled()) throw build_cancelled_exception{};
        if (std::abs(ratio - 1.0) > 1e-6)
            resample_audio_file_into_preallocated_memory_r8b(w, static_cast<float>(contents->sample_rate),
                                                             static_cast<float>(contents->sample_rate * ratio), capacity,
                                                             frames, C);

        // As the standard build: reverse, crop, width (per set), normalise, envelope, noise.
        if (s.reverse > 0.0f)
            for (int channel = 0; channel < C; ++channel)
                ippsFlip_32f_I(w[channel], frames);
        crop_audio_file_into_preallocated_memory(w, frames, s.crop_from_start * s.crop_from_start,
                                                 s.crop_from_end * s.crop_from_end, C, sample_rate);
        if (std::fabs(2.0f * (s.width - 0.5f)) >= 0.01f)
            for (int set = 0; set < C / 4; ++set)
                multichannel_width(w + 4 * set, 4, frames, s.width, sample_rate);
        if (s.normalise > 0.0f)
            (first ? ir1_normalise_gain : ir2_normalise_gain) = multichannel_normalise(w, frames, C, normalise_max_gain);
        float const times[5] = {s.adshr_a * s.adshr_a, s.adshr_d * s.adshr_d, s.adshr_s, s.adshr_h * s.adshr_h,
                                s.adshr_r * s.adshr_r};
        float const shapes[3] = {envelope_shape(s.adshr_a_alpha), envelope_shape(s.adshr_d_alpha),
                                 envelope_shape(s.adshr_r_alpha)};
        float const inverts[3] = {s.adshr_a_alpha_inv, s.adshr_d_alpha_inv, s.adshr_r_alpha_inv};
        for (int channel = 0; channel < C; ++channel)
            compute_adshr_envelope(w[channel], frames, times, shapes, inverts);
        bool const noise_is_identity = s.additive_noise_wet == 0.0f && s.additive_noise_dry == 1.0f;
        if (s.flt_master_toggle > 0.0f && !noise_is_identity)
            add_shaped_noise(w, frames, C, 2.0f * s.additive_noise_wet, s.additive_noise_dry, 0,
                             s.additive_noise_release, sample_rate);

        if (build_cancelled()) throw build_cancelled_exception{};
        // The editor draws the head set with the first tail set, as a listener hears them at first.
        working_ir view;
        for (int channel = 0; channel < 4; ++channel) {
            view.channel[channel] = allocate_channel(std::max(frames, 1), "Low system memory: \nmalloc error on multichannel_load_ir_buffer_tmp_section2[channel_count]");
            for (int i = 0; i < frames; ++i)
                view.channel[channel][i] = w[channel][i] + w[4 + channel][i];
        }
        draw_ir(slot, view.data(), 4, frames, 32);

        int const pre_delay =
            static_cast<int>(static_cast<float>(sample_rate) * s.pre_delay * pre_delay_max_ms / 1000.0f);
        if (pre_delay > 0) {
            frames = std::min(frames + pre_delay, capacity);
            for (int channel = 0; channel < C; ++channel)
                add_pre_delay(w[channel], frames, pre_delay);
        }
        float const overall = std::pow(10.0f, contents->gain_db / 20.0f);
        for (int channel = 0; channel < C; ++channel)
            ippsMulC_32f_I(overall, w[channel], frames);

        bool head_present = false;
        for (int channel = 0; channel < 4 && !head_present; ++channel)
            head_present = std::any_of(w[channel], w[channel] + frames, [](float x) { return x != 0.0f; });
        stacked->set_sample_frames(w, frames);
        stacked->set_head_enabled(head_present);
        (first ? ir1_length_ms : ir2_length_ms) = ms_rounded_up(frames, sample_rate);
    } catch (build_cancelled_exception const&) {
        ++ir_builds_cancelled[slot - 1];
    } catch (std::exception const& error) {
        report((std::string(error.what()) + ": \nSeen during ir file change").c_str());
    }
}
