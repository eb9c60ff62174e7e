// The per-block signal path: host entry, formatted chunk, processing step, the convolvers of each
// IR, the dry delay line and buffer silencing. Audio thread only (silence_buffers excepted).

#include "engine/vst_plugin.h"

#include "convolution/convolver_ts_stack_modulated.h"

#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "convolution/ipps.h"
#include "effects/chorus.h"
#include "effects/pitch_mod.h"
#include "effects/stereo_delay.h"
#include "engine/engine_helpers.h"
#include "ir/ir_shaping.h"
#include "platform/audio_thread_messages.h"
#include "platform/floating_point_state.h"
#include "platform/message_box.h"
#include "platform/threading.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>

namespace {

constexpr int topology_parallel_stereo = 0;
constexpr int topology_true_stereo = 1;
constexpr int topology_mono_stereo = 2;
constexpr int topology_fusion = 3;

void clear(float** buffer, int frames)
{
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel)
        ippsSet_32f(0.0f, buffer[channel], frames);
}

void copy(float* const* source, float** destination, int frames)
{
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel)
        ippsCopy_32f(source[channel], destination[channel], frames);
}

void add(float* const* source, float** destination, int frames)
{
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel)
        ippsAdd_32f_I(source[channel], destination[channel], frames);
}

void to_mono(float** buffer, int frames)
{
    for (int i = 0; i < frames; ++i) {
        float const mean = (buffer[0][i] + buffer[1][i]) * 0.5f;
        buffer[0][i] = mean;
        buffer[1][i] = mean;
    }
}

// Replaces every sample that is not a number or infinite by 0. A host that hands over such a
// sample would otherwise poison every history (convolvers, filters, delay lines) for the length of
// the reverb. The common case costs one sum per channel.
void scrub_input(float** in, int frames)
{
    for (int channel = 0; channel < VST_Plugin::channel_count; ++channel) {
        float* samples = in[channel];
        float sum = 0.0f;
        for (int i = 0; i < frames; ++i)
            sum += samples[i] * 0.0f; // 0 for every finite sample, NaN otherwise
        if (sum == 0.0f) continue;
        for (int i = 0; i < frames; ++i)
            if (!std::isfinite(samples[i])) samples[i] = 0.0f;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Host entry

void VST_Plugin::processReplacing(float** in, float** out, int frames)
{
    if (!processing_enabled.load(std::memory_order_relaxed)) return;
    if (frames <= 0 || in == nullptr || out == nullptr) return;
    corvella::ScopedFloatingPointState const host_mode; // flush-to-zero is ours, not the host's
    note_audio_thread_scheduling();
    if (program_change_blocks_audio)
        while (ir_rebuild_busy.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));

    switch (channel_mode) {
    case 2:
        if (in[0] == nullptr || in[1] == nullptr || out[0] == nullptr || out[1] == nullptr) return;
        for (int done = 0; done < frames;) {
            int const n = std::min(max_block_length, frames - done);
            ippsCopy_32f(in[0] + done, host_input[0], n);
            ippsCopy_32f(in[1] + done, host_input[1], n);
            process_replacing_mono_stereo_formatted(host_input, host_output, n);
            ippsCopy_32f(host_output[0], out[0] + done, n);
            ippsCopy_32f(host_output[1], out[1] + done, n);
            done += n;
        }
        break;
    case 0:
        if (in[0] == nullptr || out[0] == nullptr) return;
        for (int done = 0; done < frames;) {
            int const n = std::min(max_block_length, frames - done);
            ippsCopy_32f(in[0] + done, host_input[0], n);
            ippsCopy_32f(in[0] + done, host_input[1], n);
            process_replacing_mono_stereo_formatted(host_input, host_output, n);
            ippsAdd_32f_I(host_output[1], host_output[0], n);
            ippsMulC_32f_I(0.5f, host_output[0], n);
            ippsCopy_32f(host_output[0], out[0] + done, n);
            done += n;
        }
        break;
    case 1:
        if (in[0] == nullptr || out[0] == nullptr || out[1] == nullptr) return;
        for (int done = 0; done < frames;) {
            int const n = std::min(max_step_length, frames - done);
            ippsCopy_32f(in[0] + done, host_input[0], n);
            ippsCopy_32f(in[0] + done, host_input[1], n);
            process_replacing_mono_stereo_formatted(host_input, host_output, n);
            ippsCopy_32f(host_output[0], out[0] + done, n);
            ippsCopy_32f(host_output[1], out[1] + done, n);
            done += n;
        }
        break;
    default: // not a layout the host binding sets
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Formatted chunk

void VST_Plugin::process_replacing_mono_stereo_formatted(float** in, float** out, int frames)
{
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    if (frames <= 0 || frames > max_block_length) return;

    corvella::CriticalSectionLock lock(&process_lock);

    // The mute is read before the requests: the IR worker asks for the silence before it releases
    // the mute, so a chunk that sees the mute released also sees the silence it asked for.
    chunk_busy = ir_rebuild_busy.load(std::memory_order_acquire);
    serve_audio_thread_requests();
    scrub_input(in, frames);

    // Silence detection. Magnitudes are summed where the design sums the samples themselves: a
    // block whose samples cancel out is not silence, and its reverb must still be computed.
    bool silent = false;
    if (in[0][0] == 0.0f && in[1][0] == 0.0f) {
        float sum = 0.0f;
        for (int channel = 0; channel < channel_count; ++channel)
            for (int i = 0; i < frames; ++i)
                sum += std::fabs(in[channel][i]);
        silent = sum == 0.0f;
    }
    // The decision below uses the silence before this chunk, so that the last chunk of a tail is
    // still processed in full.
    int const silent_before = silent ? silent_sample_count : 0;
    if (silent)
        silent_sample_count = silent_sample_count > INT_MAX - frames ? INT_MAX : silent_sample_count + frames;
    else
        silent_sample_count = 0;

    int const tail_ms = program->ir1_ir2_chain > 0.0f ? ir1_length_ms + ir2_length_ms
                                                      : std::max(ir1_length_ms.load(), ir2_length_ms.load());

    if (!processing_enabled.load(std::memory_order_relaxed)) {
        copy(in, out, frames);
        return;
    }

    VST_Plugin_Program const& p = *program;
    bool const delays_on = p.master_delay_l_toggle > 0.0f || p.master_delay_r_toggle > 0.0f ||
                           p.ir1_delay_l_toggle > 0.0f || p.ir1_delay_r_toggle > 0.0f ||
                           p.ir2_delay_l_toggle > 0.0f || p.ir2_delay_r_toggle > 0.0f;
    // With latency the wet tail and the dry ring end 2N samples after the response does. Silence is
    // counted in host frames, so the tail is too (twice the engine's frames at half rate).
    float const tail_samples =
        (static_cast<float>(tail_ms) * static_cast<float>(sample_rate) / 1000.0f +
         (zero_latency ? 0.0f : 2.0f * static_cast<float>(partition_length))) *
        static_cast<float>(half_rate_factor);
    if (silent && !(tail_samples > static_cast<float>(silent_before)) && !delays_on && !generations_ringing()) {
        // A silent input whose reverb has died away costs nothing.
        copy(in, out, frames);
        return;
    }

    // A gain that changes glides over this chunk when it is longer than the glide's 10 ms.
    gain_glide_block_frames = frames / half_rate_factor;
    for (int done = 0; done < frames;) {
        int const n = std::min(max_step_length, frames - done);
        float* step_in[channel_count] = {in[0] + done, in[1] + done};
        float* step_out[channel_count] = {out[0] + done, out[1] + done};
        try {
            process_replacing_stepped(step_in, step_out, n);
        } catch (std::exception const& error) {
            // Queued, not shown: the audio thread neither allocates nor writes to a console.
            corvella::post_audio_thread_message(corvella::caption::engine, error.what(),
                                                ": \nSeen during process_replacing");
            break;
        } catch (...) {
            corvella::post_audio_thread_message(corvella::caption::engine,
                                                "Unhandled exception: \nSeen during process_replacing", "");
            break;
        }
        done += n;
    }
}

// ---------------------------------------------------------------------------------------------
// One step of at most 512 frames

void VST_Plugin::route_inputs(int ir, float** in, int frames)
{
    VST_Plugin_Program const& p = *program;
    float const toggle = ir == 1 ? p.ir1_toggle : p.ir2_toggle;
    if (!(toggle > 0.0f)) return;
    int topology = 0;
    bool sts = false;
    live_routing(ir, topology, sts);
    float** input_a = ir == 1 ? ir1_input_a : ir2_input_a;
    float** input_b = ir == 1 ? ir1_input_b : ir2_input_b;

    switch (topology) {
    case topology_true_stereo:
        ippsCopy_32f(in[0], input_a[0], frames);
        ippsCopy_32f(in[0], input_a[1], frames);
        ippsCopy_32f(in[1], input_b[0], frames);
        ippsCopy_32f(in[1], input_b[1], frames);
        break;
    case topology_mono_stereo:
        for (int i = 0; i < frames; ++i) {
            float const mean = (in[0][i] + in[1][i]) * 0.5f;
            input_a[0][i] = mean;
            input_a[1][i] = mean;
        }
        break;
    default: // Parallel Stereo and Fusion
        copy(in, input_a, frames);
        if (sts) copy(in, input_b, frames);
        break;
    }
}

template <typename Convolver>
void VST_Plugin::run_ir_convolvers(Convolver* const* slots, int ir, int frames, bool split, convolver_run const& run)
{
    float** const section_out[2] = {ir == 1 ? ir1_section1_out : ir2_section1_out,
                                    ir == 1 ? ir1_section2_out : ir2_section2_out};

    auto pass = [&](Convolver* convolver, float** input, float** output, bool cross) {
        if (convolver == nullptr) return;
        convolver->process_not_replacing(input, convolver_scratch, frames);
        add_run_output(convolver_scratch, output, frames, run.fade_from, run.fade_to, cross);
    };

    pass(slots[convolver_index(ir, 0, 1)], run.input_a, section_out[0], false);
    if (split) pass(slots[convolver_index(ir, 0, 2)], run.input_a, section_out[1], false);

    bool const true_stereo = run.topology == topology_true_stereo;
    bool const sts = run.topology == topology_parallel_stereo && run.sts;
    if (!true_stereo && !sts) return;
    // STS feeds each input channel's B response into the opposite output channel.
    pass(slots[convolver_index(ir, 1, 1)], run.input_b, section_out[0], sts);
    if (split) pass(slots[convolver_index(ir, 1, 2)], run.input_b, section_out[1], sts);
}

void VST_Plugin::run_generation_heads(int ir, int g, int frames, bool split, convolver_run const& run)
{
    if (!zero_latency) return;
    if (generation_four_path(ir, g))
        run_four_paths(ir, g, frames, split, run, true);
    else
        run_ir_convolvers(head_generation(g), ir, frames, split, run);
}

void VST_Plugin::run_generation_tails(int ir, int g, int frames, bool split, convolver_run const& run)
{
    if (generation_four_path(ir, g))
        run_four_paths(ir, g, frames, split, run, false);
    else
        run_ir_convolvers(fft_generation(g), ir, frames, split, run);
}

void VST_Plugin::run_generation(int ir, int g, int frames, bool split, convolver_run const& run)
{
    run_generation_heads(ir, g, frames, split, run);
    run_generation_tails(ir, g, frames, split, run);
}

VST_Plugin::convolver_run VST_Plugin::live_run(int ir) const
{
    convolver_run run{};
    live_routing(ir, run.topology, run.sts);
    run.input_a = ir == 1 ? ir1_input_a : ir2_input_a;
    run.input_b = ir == 1 ? ir1_input_b : ir2_input_b;
    return run;
}

int VST_Plugin::live_generation(int ir) const
{
    return generations[ir - 1].live.load(std::memory_order_relaxed);
}

void VST_Plugin::process_initial_ir1_blocks(int frames, bool split)
{
    run_generation_heads(1, live_generation(1), frames, split, live_run(1));
}

void VST_Plugin::process_remaining_ir1_blocks(int frames, bool split)
{
    run_generation_tails(1, live_generation(1), frames, split, live_run(1));
}

void VST_Plugin::process_initial_ir2_blocks(int frames, bool split)
{
    run_generation_heads(2, live_generation(2), frames, split, live_run(2));
}

void VST_Plugin::process_remaining_ir2_blocks(int frames, bool split)
{
    run_generation_tails(2, live_generation(2), frames, split, live_run(2));
}

// Convolution, pitch modulation, section sum and gain of one IR (steps 7 to 10 of the step).
void VST_Plugin::run_ir(int ir, int frames, bool split)
{
    VST_Plugin_Program const& p = *program;
    bool const on = (ir == 1 ? p.ir1_toggle : p.ir2_toggle) > 0.0f;
    bool const busy = chunk_busy;
    int topology = 0;
    bool sts = false;
    live_routing(ir, topology, sts);
    float** const section1 = ir == 1 ? ir1_section1_out : ir2_section1_out;
    float** const section2 = ir == 1 ? ir1_section2_out : ir2_section2_out;
    float** const wet = ir == 1 ? ir1_wet : ir2_wet;
    slot_generations& slot = generations[ir - 1];

    bool stacked_fed = false;
    if (on && !busy) {
        if (topology == topology_fusion && run_stacked(ir, frames, ir == 1 ? ir1_input_a : ir2_input_a)) {
            stacked_fed = true; // the Fusion convolver played the IR
        } else if (ir == 1) {
            if (zero_latency) process_initial_ir1_blocks(frames, split);
            process_remaining_ir1_blocks(frames, split);
        } else {
            if (zero_latency) process_initial_ir2_blocks(frames, split);
            process_remaining_ir2_blocks(frames, split);
        }
        slot.fed_last_step = true;
    } else if (smooth_changes && !busy && topology != topology_fusion) {
        // Switched off: what was played into the IR rings out on silent input.
        if (slot.fed_last_step) slot.live_ring_frames_left = slot.routing[live_generation(ir)].tail_frames;
        slot.fed_last_step = false;
        if (slot.live_ring_frames_left > 0) {
            convolver_run run{};
            run.topology = topology;
            run.sts = sts;
            run.input_a = run.input_b = silent_input;
            run_generation(ir, live_generation(ir), frames, split, run);
            slot.live_ring_frames_left -= frames;
        }
    }
    if (smooth_changes && !busy) {
        run_ringing_generation(ir, frames, split);
        ring_stacked(ir, frames, stacked_fed);
    }

    // Pitch modulation of the sections, each by its own modulator when its switch is on.
    if (split && on && !busy) {
        bool const first = ir == 1;
        if ((first ? p.pitch_mod_ir1_section1_toggle : p.pitch_mod_ir2_section1_toggle) > 0.0f)
            if (pitch_mod* m = first ? pitch_mod_ir1_section1 : pitch_mod_ir2_section1) m->process_replacing(section1, frames);
        if ((first ? p.pitch_mod_ir1_section2_toggle : p.pitch_mod_ir2_section2_toggle) > 0.0f)
            if (pitch_mod* m = first ? pitch_mod_ir1_section2 : pitch_mod_ir2_section2) m->process_replacing(section2, frames);
    }

    copy(section1, wet, frames);
    if (split) add(section2, wet, frames);

    // With smooth changes an IR that is off may still ring: its tail keeps the IR's gain.
    if (on || smooth_changes) apply_ir_gain(ir, wet, frames);
}

void VST_Plugin::process_replacing_stepped(float** in, float** out, int frames)
{
    if (frames <= 0) return;
    if (frames > max_step_length) throw std::runtime_error("Step longer than 512 frames");
    VST_Plugin_Program const& p = *program;
    bool const busy = chunk_busy;

    // 1. Half-rate input: anti-alias, keep every second sample, and continue with those.
    int engine_frames = frames;
    if (half_rate_factor == 2) {
        copy(in, ir1_input_a, frames);
        if (downsample_aa != nullptr) downsample_aa->process_replacing(ir1_input_a, frames);
        for (int channel = 0; channel < channel_count; ++channel) {
            int length = 0;
            int phase = 0;
            ippsSampleDown_32f(ir1_input_a[channel], frames, ir1_wet[channel], &length, 2, &phase);
            ippsCopy_32f(ir1_wet[channel], in[channel], frames / 2);
        }
        engine_frames = frames / 2;
    }
    int const F = engine_frames;

    // 2.-4. Wet buses, convolver inputs and the pre-convolution mixer.
    clear(ir1_wet, F);
    clear(ir2_wet, F);
    route_inputs(1, in, F);
    route_inputs(2, in, F);
    int const mix_step = p.master_ir1_ir2_mix != smoothed_mix ? 2 : F;
    if (p.master_mixer_modulation_order > 0.0f) apply_pre_mixer(F, mix_step);

    // 5.-6. Sections split for pitch modulation (never for Fusion).
    int const topology1 = VST_Plugin_Program::get_topology_from_unity(p.ir1_topology, false, false);
    int const topology2 = VST_Plugin_Program::get_topology_from_unity(p.ir2_topology, false, false);
    bool const split1 = (p.pitch_mod_ir1_section1_toggle > 0.0f || p.pitch_mod_ir1_section2_toggle > 0.0f) &&
                        topology1 != topology_fusion;
    bool const split2 = (p.pitch_mod_ir2_section1_toggle > 0.0f || p.pitch_mod_ir2_section2_toggle > 0.0f) &&
                        topology2 != topology_fusion;
    clear(ir1_section1_out, F);
    clear(ir2_section1_out, F);
    if (split1) clear(ir1_section2_out, F);
    if (split2) clear(ir2_section2_out, F);

    // 7.-12. IR1, the chain into IR2, then IR2.
    run_ir(1, F, split1);
    if (p.ir1_ir2_chain != 0.0f) copy(ir1_wet, ir2_input_a, F);
    run_ir(2, F, split2);

    // 13. Dry bus, delayed to match the convolvers when they have latency.
    copy(in, ir1_input_a, F);
    if (!zero_latency) process_delay_line_inplace(ir1_input_a, F);

    // 14.-15. Per-IR stereo delays, then the per-IR choruses, on the wet buses of the IRs that are
    // on. The delays apply their own side switches; the choruses run only when switched on.
    if (!busy) {
        bool const ir1_on = p.ir1_toggle > 0.0f, ir2_on = p.ir2_toggle > 0.0f;
        if (ir1_on && delay_ir1 != nullptr) delay_ir1->process_replacing(ir1_wet, F);
        if (ir2_on && delay_ir2 != nullptr) delay_ir2->process_replacing(ir2_wet, F);
        if (ir1_on && p.chorus_ir1_toggle > 0.0f && chorus_ir1 != nullptr)
            chorus_ir1->process_replacing(ir1_wet, F);
        if (ir2_on && p.chorus_ir2_toggle > 0.0f && chorus_ir2 != nullptr)
            chorus_ir2->process_replacing(ir2_wet, F);
    }

    // 16.-17. Cross channel and mono per IR.
    if (p.ir1_cross_channel > 0.0f) stereo_channel_swap(ir1_wet, channel_count, F);
    if (p.ir2_cross_channel > 0.0f) stereo_channel_swap(ir2_wet, channel_count, F);
    if (p.ir1_stereo_mono != 0.0f) to_mono(ir1_wet, F);
    if (p.ir2_stereo_mono != 0.0f) to_mono(ir2_wet, F);

    // 18.-20. Mixer, dry/wet, and the sum of the wet buses.
    apply_post_mixer(F, mix_step);
    if (p.ir1_ir2_chain != 0.0f) clear(ir1_wet, F); // IR1 is heard only through IR2
    add(ir2_wet, ir1_wet, F);

    // 21.-23. On the summed wet bus: master chorus, post equaliser, master delay.
    if (!busy && p.chorus_master_toggle > 0.0f && chorus_master != nullptr)
        chorus_master->process_replacing(ir1_wet, F);
    if (p.flt_master_toggle > 0.0f && !busy) process_biquad_filters_inplace(ir1_wet, F);
    if (!busy && delay_master != nullptr) delay_master->process_replacing(ir1_wet, F);

    // 24.-26. Output, master mono, meters.
    add(ir1_wet, ir1_input_a, F);
    if (p.master_stereo_mono != 0.0f) to_mono(ir1_input_a, F);
    int const metered = std::min(F, 32);
    output_level_left.store(0.9f * calculate_signal_level_db_unity(ir1_input_a[0], metered, 0, -96.0f),
                            std::memory_order_relaxed);
    output_level_right.store(0.9f * calculate_signal_level_db_unity(ir1_input_a[1], metered, 0, -96.0f),
                             std::memory_order_relaxed);

    // 27. Back to the host rate: zero-stuff, hold each sample over the inserted zero, anti-alias.
    if (half_rate_factor == 2) {
        for (int channel = 0; channel < channel_count; ++channel) {
            int length = 0;
            int phase = 0;
            ippsSampleUp_32f(ir1_input_a[channel], F, ir1_wet[channel], &length, 2, &phase);
            for (int i = 0; i + 1 < 2 * F; i += 2)
                ir1_wet[channel][i + 1] = ir1_wet[channel][i];
            // An odd step leaves one host frame over: it holds the last value too.
            if (frames > 2 * F) ir1_wet[channel][frames - 1] = F > 0 ? ir1_wet[channel][2 * F - 1] : 0.0f;
        }
        if (upsample_aa != nullptr) upsample_aa->process_replacing(ir1_wet, frames);
        copy(ir1_wet, out, frames);
    } else {
        copy(ir1_input_a, out, F);
    }
}

// ---------------------------------------------------------------------------------------------
// Dry delay line

void VST_Plugin::process_delay_line_inplace(float** buffer, int frames)
{
    if (frames > dry_delay_length) throw std::runtime_error("Received too many samples for dry delay line.");
    if (buffer == nullptr || buffer[0] == nullptr || dry_delay == nullptr || dry_delay[0] == nullptr)
        throw std::runtime_error("Dry delay line null pointer error.");
    if (frames <= 0) return;

    for (int done = 0; done < frames;) {
        int const n = std::min(frames - done, dry_delay_length - dry_delay_write_position);
        for (int channel = 0; channel < channel_count; ++channel)
            ippsCopy_32f(buffer[channel] + done, dry_delay[channel] + dry_delay_write_position, n);
        dry_delay_write_position = (dry_delay_write_position + n) % dry_delay_length;
        done += n;
    }
    int read = 0;
    while (read < frames) {
        int const n = std::min(frames - read, dry_delay_length - dry_delay_read_position);
        for (int channel = 0; channel < channel_count; ++channel)
            ippsCopy_32f(dry_delay[channel] + dry_delay_read_position, buffer[channel] + read, n);
        dry_delay_read_position = (dry_delay_read_position + n) % dry_delay_length;
        read += n;
    }
    if (read != frames)
        throw std::runtime_error("Processed incorrect number of samples in main body (dry delay line).");
}

// ---------------------------------------------------------------------------------------------
// Silencing after an IR rebuild, and the other requests the audio thread serves itself

void VST_Plugin::silence_buffers()
{
    // Only a flag for the audio thread's own histories: it forgets them at the start of its next
    // chunk, in time that does not grow with the length of the impulse responses.
    silence_pending.store(true, std::memory_order_release);
    // The choruses and delays are cleared here, on the caller's thread: clearing seconds of delay
    // line under the effect's lock is long work, and the audio thread only tries that lock (it
    // passes the dry signal for the one block that finds it taken) where a clear on the audio
    // thread would have to wait for a settings push clearing the same lines.
    for (chorus* effect : {chorus_master, chorus_ir1, chorus_ir2})
        if (effect != nullptr) effect->silence_delay_lines();
    for (stereo_delay* effect : {delay_master, delay_ir1, delay_ir2})
        if (effect != nullptr) effect->silence_delay_lines();
    for (pitch_mod* modulator : {pitch_mod_ir1_section1, pitch_mod_ir1_section2, pitch_mod_ir2_section1, pitch_mod_ir2_section2})
        if (modulator != nullptr) modulator->silence_delay_lines();
    for (convolver_ts_stack_modulated* stacked : {stacked_convolver(1), stacked_convolver(2)})
        if (stacked != nullptr) stacked->silence_modulators();
}

void VST_Plugin::serve_audio_thread_requests()
{
    // The equaliser request is taken before the programs, so the coefficients come from a
    // snapshot at least as new as the request.
    bool const equaliser = post_eq_update_pending.exchange(false, std::memory_order_acq_rel);
    adopt_published_programs();
    if (equaliser) apply_master_filter_coeffs();
    audio_chunks.fetch_add(1, std::memory_order_relaxed);
    if (smooth_changes) switch_generations();

    if (!silence_pending.exchange(false, std::memory_order_acq_rel)) return;
    settle_gain_glides(); // nothing left to glide from
    // The engine's scratch buffers are rewritten before every use; only histories are cleared.
    for (int g = 0; g < generation_count; ++g)
        forget_generation_histories(g);
    for (slot_generations& slot : generations) {
        slot.live_ring_frames_left = 0;
        slot.ring_frames_left = 0; // a ringing generation goes idle at its next step
    }
    for (convolver_ts_stack_modulated* stacked : {stacked_convolver(1), stacked_convolver(2)})
        if (stacked != nullptr) stacked->clear_buffers();
    stacked_ring_frames_left[0] = stacked_ring_frames_left[1] = 0;
    if (dry_delay != nullptr) clear(dry_delay, dry_delay_length);
    // The choruses and stereo delays were cleared by silence_buffers itself.
}
