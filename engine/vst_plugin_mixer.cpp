// The IR1/IR2 mixer with its LFO, dry/wet with master gain and the wet-lock, the IR gains and
// the IR meters. Trigonometry runs once per chunk (64 frames, 2 while the mix glides), never per
// sample; with smooth_changes the gains move between the chunk values sample by sample.

#include "engine/vst_plugin.h"

#include "convolution/ipps.h"
#include "effects/biquad_filter_upsampling.h"
#include "engine/engine_helpers.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float pi_float = 3.1415927410125732f;
constexpr double pi = 3.14159265358979323846;
constexpr int mixer_chunk = 64;
constexpr float mix_glide_per_chunk = 0.0001f;

// Mix and balance angle: 0..1 maps onto 0..pi/2, clamped.
float angle(float x)
{
    double const value = x > 1.0f ? pi / 2.0 : x < 0.0f ? 0.0 : static_cast<double>(x) * pi * 0.5;
    return static_cast<float>(value);
}

void multiply(float* samples, float gain, int frames)
{
    ippsMulC_32f_I(gain, samples, frames);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Gain glides

VST_Plugin::gain_glide::ramp VST_Plugin::gain_glide::next(float goal, int frames)
{
    if (!primed || !std::isfinite(value)) {
        primed = true;
        value = goal;
        glide_left = 0;
    }
    target = goal;
    if (goal == value || frames <= 0) {
        glide_left = std::max(0, glide_left - frames);
        return {value, 0.0f, 0, value};
    }
    // A glide in progress heads for the target as it is now; otherwise the run itself is the ramp.
    int const span = glide_left > 0 ? glide_left : frames;
    int const ramp_frames = std::min(span, frames);
    float const step = (goal - value) / static_cast<float>(span);
    ramp const r{value, step, ramp_frames,
                 ramp_frames == span ? goal : value + step * static_cast<float>(ramp_frames)};
    value = r.end;
    glide_left = std::max(0, glide_left - frames);
    return r;
}

// A glide's run of gains over `frames` samples; a constant 1 leaves the samples as they are.
void VST_Plugin::multiply_glide(float* samples, gain_glide::ramp const& r, int frames)
{
    for (int i = 0; i < r.frames; ++i)
        samples[i] *= r.start + r.step * static_cast<float>(i + 1);
    if (r.frames < frames && !(r.frames == 0 && r.end == 1.0f))
        ippsMulC_32f_I(r.end, samples + r.frames, frames - r.frames);
}

void VST_Plugin::gain_glide::begin_glide(int frames)
{
    glide_left = frames;
}

void VST_Plugin::settle_gain_glides()
{
    for (gain_glide& glide : gain_glides)
        glide.primed = false;
}

void VST_Plugin::settle_gain_glides_after_skipped_chunks()
{
    std::uint64_t const chunk = audio_chunks.load(std::memory_order_relaxed);
    if (chunk - gain_glide_chunk > 1) settle_gain_glides();
    gain_glide_chunk = chunk;
}

// 10 ms at the engine rate, or the block when it is longer.
int VST_Plugin::gain_glide_frames(int step_frames) const
{
    int const ten_ms = std::max(1, (sample_rate + 50) / 100);
    int const block = gain_glide_block_frames > 0 ? gain_glide_block_frames : step_frames;
    return std::max(ten_ms, block);
}

// Compares every setting a mixer gain depends on with what the caller's loop saw last, and keeps
// the new values.
bool VST_Plugin::gain_settings_changed(float (&seen)[gain_setting_count]) const
{
    VST_Plugin_Program const& p = *program;
    VST_Plugin_Program const& locks = *lock_record;
    float const now[gain_setting_count] = {p.master_mix,
                                           p.master_gain,
                                           locks.master_mix_lock_status,
                                           locks.master_mix_locked_value,
                                           locks.master_gain_lock_status,
                                           locks.master_gain_locked_value,
                                           p.master_ir1_ir2_mix_law,
                                           p.master_ir1_ir2_mix_mod,
                                           p.ir1_balance,
                                           p.ir2_balance,
                                           p.ir1_balance_mod,
                                           p.ir2_balance_mod,
                                           p.ir1_balance_mod_phase,
                                           p.ir2_balance_mod_phase,
                                           p.lfo3_rate,
                                           p.master_mixer_modulation_order,
                                           p.ir1_topology,
                                           p.ir2_topology,
                                           p.ir1_ir2_chain > 0.0f && p.ir2_toggle > 0.0f ? 1.0f : 0.0f,
                                           chunk_busy ? 1.0f : 0.0f};
    bool changed = false;
    for (int i = 0; i < gain_setting_count; ++i)
        if (!(now[i] == seen[i])) {
            changed = true;
            seen[i] = now[i];
        }
    return changed;
}

// The IR's own gain on its wet bus, after convolution.
void VST_Plugin::apply_ir_gain(int ir, float** wet, int frames)
{
    VST_Plugin_Program const& p = *program;
    float const db =
        get_db_gain_from_dual_scaling(ir == 1 ? p.ir1_gain : p.ir2_gain, ir_gain_min, ir_gain_max);
    float const gain = std::pow(10.0f, db / 20.0f);
    if (!smooth_changes) {
        multiply(wet[0], gain, frames);
        multiply(wet[1], gain, frames);
        return;
    }
    settle_gain_glides_after_skipped_chunks();
    gain_glide& glide = gain_glides[ir == 1 ? lane_ir1_gain : lane_ir2_gain];
    if (glide.primed && gain != glide.target) glide.begin_glide(gain_glide_frames(frames));
    gain_glide::ramp const r = glide.next(gain, frames);
    multiply_glide(wet[0], r, frames);
    multiply_glide(wet[1], r, frames);
}

void VST_Plugin::balance_factors(int ir, float& left, float& right) const
{
    VST_Plugin_Program const& p = *program;
    float const beta = angle(ir == 1 ? p.ir1_balance + ir1_balance_lfo : p.ir2_balance + ir2_balance_lfo);
    left = static_cast<float>(std::cos(static_cast<double>(beta)) / 0.707106781);
    right = static_cast<float>(std::sin(static_cast<double>(beta)) / 0.707106781);
}

VST_Plugin::MixerChunk VST_Plugin::advance_mixer(int chunk)
{
    VST_Plugin_Program const& p = *program;

    // 1. Glide towards the mix setting. A value that is not finite (it cannot come through
    //    update_programs, but a glide must never stay poisoned) restarts the glide at the setting.
    float const target = std::isfinite(p.master_ir1_ir2_mix) ? p.master_ir1_ir2_mix : 0.5f;
    if (!std::isfinite(smoothed_mix)) smoothed_mix = target;
    if (target != smoothed_mix)
        smoothed_mix += std::clamp(target - smoothed_mix, -mix_glide_per_chunk, mix_glide_per_chunk);

    // 2. LFO: 0.1 Hz to 10 Hz, one phase for the mix and both balances.
    float const rate = std::pow(100.0f, p.lfo3_rate) / 10.0f;
    int period = static_cast<int>(std::floor(static_cast<float>(sample_rate) / rate));
    if (period < 1) period = 1;
    lfo_phase_counter = (lfo_phase_counter + chunk) % period;
    float const phi = 2.0f * pi_float * static_cast<float>(lfo_phase_counter) / static_cast<float>(period);
    mix_lfo = 0.5f * std::sin(phi) * p.master_ir1_ir2_mix_mod;
    ir1_balance_lfo = 0.5f * std::sin(2.0f * pi_float * p.ir1_balance_mod_phase + phi) * p.ir1_balance_mod;
    ir2_balance_lfo = 0.5f * std::sin(2.0f * pi_float * p.ir2_balance_mod_phase + phi) * p.ir2_balance_mod;

    // 3.-4. Mix law: equal power (cos, sin) or equal sum (cos², sin²).
    double const alpha = angle(smoothed_mix + mix_lfo);
    double c = std::cos(alpha);
    double s = std::sin(alpha);
    if (p.master_ir1_ir2_mix_law > 0.0f) {
        c *= c;
        s *= s;
    }

    // 5. Balance.
    MixerChunk result{};
    result.ir1_weight = static_cast<float>(c);
    result.ir2_weight = static_cast<float>(s);
    balance_factors(1, result.ir1_left, result.ir1_right);
    balance_factors(2, result.ir2_left, result.ir2_right);
    return result;
}

// Pre order: the mix and balance scale the convolver inputs, so their modulation is smeared by
// the reverb.
void VST_Plugin::apply_pre_mixer(int frames, int mix_step)
{
    VST_Plugin_Program const& p = *program;
    bool const unmodulated =
        p.master_ir1_ir2_mix_mod == 0.0f && p.ir1_balance_mod == 0.0f && p.ir2_balance_mod == 0.0f;
    bool const glide = smooth_changes;
    if (glide) settle_gain_glides_after_skipped_chunks();
    if (glide && gain_settings_changed(pre_mixer_settings))
        for (int lane = lane_pre_ir1_left; lane <= lane_pre_ir2_right; ++lane)
            gain_glides[lane].begin_glide(gain_glide_frames(frames));
    int chunk = unmodulated ? frames : mixer_chunk;
    for (int done = 0; done < frames; done += chunk) {
        chunk = std::min({chunk, frames - done, mix_step});
        MixerChunk const m = advance_mixer(chunk);
        float const ir1_gains[2] = {m.ir1_weight * m.ir1_left, m.ir1_weight * m.ir1_right};
        float const ir2_gains[2] = {m.ir2_weight * m.ir2_left, m.ir2_weight * m.ir2_right};
        for (int channel = 0; channel < channel_count; ++channel) {
            if (glide) {
                gain_glide::ramp const r1 =
                    gain_glides[lane_pre_ir1_left + channel].next(ir1_gains[channel], chunk);
                gain_glide::ramp const r2 =
                    gain_glides[lane_pre_ir2_left + channel].next(ir2_gains[channel], chunk);
                multiply_glide(ir1_input_a[channel] + done, r1, chunk);
                multiply_glide(ir1_input_b[channel] + done, r1, chunk);
                multiply_glide(ir2_input_a[channel] + done, r2, chunk);
                multiply_glide(ir2_input_b[channel] + done, r2, chunk);
                continue;
            }
            multiply(ir1_input_a[channel] + done, ir1_gains[channel], chunk);
            multiply(ir1_input_b[channel] + done, ir1_gains[channel], chunk);
            multiply(ir2_input_a[channel] + done, ir2_gains[channel], chunk);
            multiply(ir2_input_b[channel] + done, ir2_gains[channel], chunk);
        }
        for (int channel = 0; channel < channel_count; ++channel)
            for (int band = 0; band < 5; ++band)
                if (biquad_filter_upsampling const* b = post_eq_bands[channel][band]) {
                    post_eq_display_f0[channel][band].store(b->get_modulated_f0(), std::memory_order_relaxed);
                    post_eq_display_gain_db[channel][band].store(b->get_modulated_gain_db(),
                                                                 std::memory_order_relaxed);
                }
    }
}

// Dry/wet, master gain and (in post order) the mix and balance, applied to the dry bus and the
// two wet buses; then the IR meters.
void VST_Plugin::apply_post_mixer(int frames, int mix_step)
{
    VST_Plugin_Program const& p = *program;
    VST_Plugin_Program const& locks = *lock_record;
    bool const pre_order = p.master_mixer_modulation_order > 0.0f;
    bool const chained = p.ir1_ir2_chain > 0.0f && p.ir2_toggle > 0.0f;
    int const topology1 = VST_Plugin_Program::get_topology_from_unity(p.ir1_topology, false, false);
    int const topology2 = VST_Plugin_Program::get_topology_from_unity(p.ir2_topology, false, false);
    constexpr int topology_fusion = 3;

    bool const glide = smooth_changes;
    if (glide) {
        settle_gain_glides_after_skipped_chunks();
        // The program-change mute cuts the wet path itself (convolvers and wet effects stand still),
        // so its gains follow it at once rather than colouring the first 10 ms after it.
        constexpr int busy_setting = gain_setting_count - 1; // the last in gain_settings_changed
        bool const busy_edge = post_mixer_settings[busy_setting] != (chunk_busy ? 1.0f : 0.0f);
        if (gain_settings_changed(post_mixer_settings))
            for (int lane = lane_dry; lane <= lane_chain_right; ++lane)
                gain_glides[lane].begin_glide(gain_glide_frames(frames));
        if (busy_edge)
            for (int lane = lane_ir1_left; lane <= lane_chain_right; ++lane)
                gain_glides[lane].primed = false;
        // In post order the convolver inputs are not scaled: a later switch to the pre order
        // glides them from 1.
        if (!pre_order)
            for (int lane = lane_pre_ir1_left; lane <= lane_pre_ir2_right; ++lane)
                gain_glides[lane] = gain_glide{1.0f, 1.0f, 0, true};
    }

    int chunk = mixer_chunk;
    for (int done = 0; done < frames; done += chunk) {
        chunk = std::min({chunk, frames - done, mix_step});

        // 1.-3. Effective mix and gain (the wet-lock overrides the program), dry and wet levels.
        float const mix = locks.master_mix_lock_status * locks.master_mix_locked_value +
                          (1.0f - locks.master_mix_lock_status) * p.master_mix;
        float const gain_unity = locks.master_gain_lock_status * locks.master_gain_locked_value +
                                 (1.0f - locks.master_gain_lock_status) * p.master_gain;
        float const dry = std::min(1.0f, 2.0f * (1.0f - mix));
        float const wet = std::min(1.0f, 2.0f * mix);
        float const G = std::pow(
            10.0f, get_db_gain_from_dual_scaling(gain_unity, master_gain_min, master_gain_max) / 20.0f);
        float const dry_gain = dry * G;
        float const W = wet * G;

        // 4.-6. IR gains per side.
        float ir1_gain[2] = {W, W};
        float ir2_gain[2] = {W, W};
        if (!pre_order) {
            MixerChunk const m = advance_mixer(chunk);
            ir1_gain[0] = W * m.ir1_weight * m.ir1_left;
            ir1_gain[1] = W * m.ir1_weight * m.ir1_right;
            ir2_gain[0] = W * m.ir2_weight * m.ir2_left;
            ir2_gain[1] = W * m.ir2_weight * m.ir2_right;
        } else {
            // Fusion's stacked convolver is fed before the balance, so it is balanced here.
            float left = 1.0f, right = 1.0f;
            if (topology1 == topology_fusion) {
                balance_factors(1, left, right);
                ir1_gain[0] = W * left;
                ir1_gain[1] = W * right;
            }
            if (topology2 == topology_fusion) {
                balance_factors(2, left, right);
                ir2_gain[0] = W * left;
                ir2_gain[1] = W * right;
            }
        }
        if (chunk_busy)
            ir1_gain[0] = ir1_gain[1] = ir2_gain[0] = ir2_gain[1] = 0.0f;

        // 7. Apply. A wet bus gets its gains whether or not its IR is on: an IR that is off holds
        //    silence there, or the tail of an IR just switched off, which keeps its gains.
        if (glide) {
            gain_glide::ramp const d = gain_glides[lane_dry].next(dry_gain, chunk);
            for (int channel = 0; channel < channel_count; ++channel) {
                multiply_glide(ir1_input_a[channel] + done, d, chunk);
                float const chain = chained ? 4.0f * ir1_gain[channel] : 1.0f;
                multiply_glide(ir1_wet[channel] + done,
                               gain_glides[lane_ir1_left + channel].next(ir1_gain[channel], chunk), chunk);
                multiply_glide(ir2_wet[channel] + done,
                               gain_glides[lane_ir2_left + channel].next(ir2_gain[channel], chunk), chunk);
                multiply_glide(ir2_wet[channel] + done,
                               gain_glides[lane_chain_left + channel].next(chain, chunk), chunk);
            }
        } else {
            for (int channel = 0; channel < channel_count; ++channel) {
                multiply(ir1_input_a[channel] + done, dry_gain, chunk);
                multiply(ir1_wet[channel] + done, ir1_gain[channel], chunk);
                multiply(ir2_wet[channel] + done, ir2_gain[channel], chunk);
                // In a chain IR2 carries IR1's sound, so it takes IR1's gain as well.
                if (chained) multiply(ir2_wet[channel] + done, 4.0f * ir1_gain[channel], chunk);
            }
        }

        // 8. Meters.
        int const metered = std::min(chunk, 32);
        ir1_level_left.store(0.9f * calculate_signal_level_db_unity(ir1_wet[0] + done, metered, 0, -96.0f),
                             std::memory_order_relaxed);
        ir2_level_left.store(0.9f * calculate_signal_level_db_unity(ir2_wet[0] + done, metered, 0, -96.0f),
                             std::memory_order_relaxed);
        ir1_level_right.store(0.9f * calculate_signal_level_db_unity(ir1_wet[1] + done, metered, 0, -96.0f),
                              std::memory_order_relaxed);
        ir2_level_right.store(0.9f * calculate_signal_level_db_unity(ir2_wet[1] + done, metered, 0, -96.0f),
                              std::memory_order_relaxed);
    }
}
