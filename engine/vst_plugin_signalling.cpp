// Requests from the host binding and the settings pushed into the effect objects.

#include "engine/vst_plugin.h"
#include "engine/worker_thread_01.h"

#include "effects/biquad_filter_upsampling.h"
#include "effects/chorus.h"
#include "effects/pitch_mod.h"
#include "effects/stereo_delay.h"
#include "platform/threading.h"
#include "program/parameter_table.h"
#include "program/program_sanitise.h"

#include <cmath>
#include <cstring>
#include <string_view>

void VST_Plugin::wake_ir_worker()
{
    if (ir_worker != nullptr) ir_worker->wake();
}

void VST_Plugin::signal_recompute_ir1_partial()
{
    recompute_ir1 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_recompute_ir2_partial()
{
    recompute_ir2 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_recompute_both_partial()
{
    recompute_ir1 = true;
    recompute_ir2 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_recompute_ir1_full()
{
    full_recompute_ir1 = true;
    recompute_ir1 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_recompute_ir2_full()
{
    full_recompute_ir2 = true;
    recompute_ir2 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_recompute_both_full()
{
    full_recompute_ir1 = true;
    full_recompute_ir2 = true;
    recompute_ir1 = true;
    recompute_ir2 = true;
    wake_ir_worker();
}

void VST_Plugin::signal_set_program_disable_audio()
{
    // Smooth changes keep the old program's reverb playing until the new IRs take over; a host that
    // asked for the callback to be held on program changes still gets that.
    if (smooth_changes && !program_change_blocks_audio) return;
    ir_rebuild_busy = true;
}

void VST_Plugin::update_programs(VST_Plugin_Program const* bank, int current_index)
{
    if (bank == nullptr || control_bank == nullptr) return;
    constexpr std::size_t bank_bytes = sizeof(VST_Plugin_Program) * corvella::programs_per_bank;
    corvella::CriticalSectionLock lock(&bank_lock);
    std::memcpy(static_cast<void*>(control_bank), bank, bank_bytes);
    for (int i = 0; i < corvella::programs_per_bank; ++i)
        corvella::sanitise_program_values(control_bank[i]);
    if (current_index >= 0 && current_index < corvella::programs_per_bank) control_current = current_index;

    // Publish: the snapshot the writer owns becomes the latest, and the previous latest (which
    // the audio thread never took, or gave back) becomes the writer's.
    std::memcpy(static_cast<void*>(snapshot_banks[writer_snapshot]), control_bank, bank_bytes);
    snapshot_current[writer_snapshot] = control_current;
    unsigned const previous = published_snapshot.exchange(static_cast<unsigned>(writer_snapshot) | fresh_snapshot,
                                                          std::memory_order_acq_rel);
    writer_snapshot = static_cast<int>(previous & 3u);
}

void VST_Plugin::adopt_published_programs()
{
    if (!(published_snapshot.load(std::memory_order_acquire) & fresh_snapshot)) return;
    unsigned const latest =
        published_snapshot.exchange(static_cast<unsigned>(audio_snapshot), std::memory_order_acq_rel);
    audio_snapshot = static_cast<int>(latest & 3u);
    programs = snapshot_banks[audio_snapshot];
    program = &programs[snapshot_current[audio_snapshot]];
    lock_record = &programs[0];
}

void VST_Plugin::read_programs(VST_Plugin_Program* bank, int& current_index) const
{
    corvella::CriticalSectionLock lock(const_cast<void**>(&bank_lock));
    if (bank != nullptr && control_bank != nullptr)
        std::memcpy(static_cast<void*>(bank), control_bank, sizeof(VST_Plugin_Program) * corvella::programs_per_bank);
    current_index = control_current;
}

VST_Plugin_Program VST_Plugin::current_program_copy() const
{
    corvella::CriticalSectionLock lock(const_cast<void**>(&bank_lock));
    return control_bank != nullptr ? control_bank[control_current] : VST_Plugin_Program{};
}

int VST_Plugin::current_program_index() const
{
    corvella::CriticalSectionLock lock(const_cast<void**>(&bank_lock));
    return control_current;
}

VST_Plugin::RequestBatch::RequestBatch(VST_Plugin& engine) : engine_(engine)
{
    EnterCriticalSection(&engine_.request_lock);
}

VST_Plugin::RequestBatch::~RequestBatch()
{
    LeaveCriticalSection(&engine_.request_lock);
}

bool VST_Plugin::is_ir_work_pending() const
{
    return recompute_ir1 || recompute_ir2 || ir_worker_pass_active || ir_rebuild_in_progress ||
           ir_rebuild_busy;
}

// ---------------------------------------------------------------------------------------------
// Settings pushes

// The current program into one chorus: feedback, width, dry, wet, delay, modulation depth,
// modulation rate, on/off, through its unity setters (which store atomics: audio goes on).
void VST_Plugin::push_chorus(chorus* effect, corvella::EffectBlock block, VST_Plugin_Program const& p)
{
    if (effect == nullptr) return;
    auto const slots = corvella::chorus_block_slots(block);
    auto value = [&](int index) { return p.*(slots[static_cast<std::size_t>(index)].f); };
    effect->set_feedback_unity(value(0));
    effect->set_width_unity(value(1));
    effect->set_dry_unity(value(2));
    effect->set_wet_unity(value(3));
    effect->set_delay_ms_unity(value(4));
    effect->set_delay_mod_ms_unity(value(5));
    effect->set_delay_mod_rate_hz_unity(value(6));
    effect->set_toggle_unity(value(7));
}

// The current program into one stereo delay: dry on both sides; per side on/off, modulation depth
// and rate, feedback, opposite feedback, wet; then each side's tempo (the host's when the side is
// locked to it) and its note. Switching a side clears both lines, so every push silences the
// echoes in flight.
void VST_Plugin::push_delay(stereo_delay* effect, corvella::EffectBlock block, VST_Plugin_Program const& p)
{
    if (effect == nullptr) return;
    auto const slots = corvella::delay_block_slots(block);
    auto unity = [&](int index) { return p.*(slots[static_cast<std::size_t>(index)].f); };
    auto integer = [&](int index) { return p.*(slots[static_cast<std::size_t>(index)].i); };
    // Block order: 0 dry; per side (left from 1, right from 10) toggle, tempo, numerator,
    // denominator, depth, rate, feedback, opposite feedback, wet; 19, 20 the tempo locks.
    constexpr int side_base[stereo_delay::channels] = {1, 10};
    constexpr int tempo_lock[stereo_delay::channels] = {19, 20};
    for (int side = 0; side < stereo_delay::channels; ++side)
        effect->set_dry_unity(unity(0), side);
    for (int side = 0; side < stereo_delay::channels; ++side) {
        int const b = side_base[side];
        // Setting the toggle clears the side's line. With smooth changes only a side switched on
        // starts clear; any other push leaves the echoes in flight.
        bool const on = unity(b) > 0.0f;
        if (!smooth_changes || (on && !effect->get_toggle(side)))
            effect->set_toggle_unity(unity(b), side);
        else
            effect->set_toggle(on, side);
        effect->set_delay_mod_ms_unity(unity(b + 4), side);
        effect->set_delay_mod_rate_hz_unity(unity(b + 5), side);
        effect->set_feedback_unity(unity(b + 6), side);
        effect->set_feedback_opposite_unity(unity(b + 7), side);
        effect->set_wet_unity(unity(b + 8), side);
    }
    for (int side = 0; side < stereo_delay::channels; ++side)
        effect->set_tempo(unity(tempo_lock[side]) > 0.0f ? host_tempo : unity(side_base[side] + 1), side);
    for (int side = 0; side < stereo_delay::channels; ++side)
        effect->set_num_den(integer(side_base[side] + 2), integer(side_base[side] + 3), side);
}

void VST_Plugin::push_program_to_effects()
{
    VST_Plugin_Program const p = current_program_copy();
    push_chorus(chorus_master, corvella::EffectBlock::post, p);
    push_chorus(chorus_ir1, corvella::EffectBlock::ir1, p);
    push_chorus(chorus_ir2, corvella::EffectBlock::ir2, p);
    push_delay(delay_master, corvella::EffectBlock::post, p);
    push_delay(delay_ir1, corvella::EffectBlock::ir1, p);
    push_delay(delay_ir2, corvella::EffectBlock::ir2, p);
    push_pitch_modulators(1, p);
    push_pitch_modulators(2, p);
}

void VST_Plugin::signal_update_master_chorus()
{
    push_chorus(chorus_master, corvella::EffectBlock::post, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::signal_update_ir1_chorus()
{
    push_chorus(chorus_ir1, corvella::EffectBlock::ir1, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::signal_update_ir2_chorus()
{
    push_chorus(chorus_ir2, corvella::EffectBlock::ir2, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::signal_update_master_delay()
{
    push_delay(delay_master, corvella::EffectBlock::post, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::signal_update_ir1_delay()
{
    push_delay(delay_ir1, corvella::EffectBlock::ir1, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::signal_update_ir2_delay()
{
    push_delay(delay_ir2, corvella::EffectBlock::ir2, current_program_copy());
    update_applied = true;
    editor_refresh_pending = true;
}

void VST_Plugin::update_tempo(float bpm)
{
    // The bridge passes only finite, positive tempi; the delays themselves take 30..200 BPM.
    if (!std::isfinite(bpm) || bpm <= 0.0f || bpm == host_tempo) return;
    host_tempo = bpm;
    VST_Plugin_Program const p = current_program_copy();
    struct LockedSide {
        stereo_delay* effect;
        float VST_Plugin_Program::*lock;
        int side;
    };
    LockedSide const sides[] = {
        {delay_master, &VST_Plugin_Program::master_delay_l_tempo_lock, 0},
        {delay_master, &VST_Plugin_Program::master_delay_r_tempo_lock, 1},
        {delay_ir1, &VST_Plugin_Program::ir1_delay_l_tempo_lock, 0},
        {delay_ir1, &VST_Plugin_Program::ir1_delay_r_tempo_lock, 1},
        {delay_ir2, &VST_Plugin_Program::ir2_delay_l_tempo_lock, 0},
        {delay_ir2, &VST_Plugin_Program::ir2_delay_r_tempo_lock, 1},
    };
    for (LockedSide const& s : sides)
        if (s.effect != nullptr && p.*s.lock > 0.0f) s.effect->set_tempo(bpm, s.side);
    editor_refresh_pending = true;
}

// The section modulators of one IR take their on/off, depth and rate, the right side 0.99 x the
// left side's depth and rate so that the channels drift apart. Setting a modulator's switch clears
// its lines; with smooth changes that happens only when the switch changes. In Fusion IR the
// slot's modulated convolver takes them too (push_stacked_modulation).
void VST_Plugin::push_pitch_modulators(int ir, VST_Plugin_Program const& p)
{
    struct Section {
        pitch_mod* modulator;
        float toggle, depth, rate;
    };
    Section const sections[2] = {
        {ir == 1 ? pitch_mod_ir1_section1 : pitch_mod_ir2_section1,
         ir == 1 ? p.pitch_mod_ir1_section1_toggle : p.pitch_mod_ir2_section1_toggle,
         ir == 1 ? p.pitch_mod_ir1_section1_mod_depth : p.pitch_mod_ir2_section1_mod_depth,
         ir == 1 ? p.pitch_mod_ir1_section1_mod_rate : p.pitch_mod_ir2_section1_mod_rate},
        {ir == 1 ? pitch_mod_ir1_section2 : pitch_mod_ir2_section2,
         ir == 1 ? p.pitch_mod_ir1_section2_toggle : p.pitch_mod_ir2_section2_toggle,
         ir == 1 ? p.pitch_mod_ir1_section2_mod_depth : p.pitch_mod_ir2_section2_mod_depth,
         ir == 1 ? p.pitch_mod_ir1_section2_mod_rate : p.pitch_mod_ir2_section2_mod_rate},
    };
    for (Section const& s : sections) {
        if (s.modulator == nullptr) continue;
        bool const on = s.toggle > 0.0f;
        if (!smooth_changes || on != s.modulator->get_toggle(0)) s.modulator->set_toggle_unity(s.toggle, 0);
        s.modulator->set_delay_mod_ms_unity(s.depth, 0);
        s.modulator->set_delay_mod_rate_hz_unity(s.rate, 0);
        s.modulator->set_delay_mod_ms(0.99f * s.modulator->get_delay_mod_ms(0), 1);
        s.modulator->set_delay_mod_rate_hz(0.99f * s.modulator->get_delay_mod_rate_hz(0), 1);
    }
    push_stacked_modulation(ir, p);
}

void VST_Plugin::assign_pitch_delay_mod_ir1()
{
    push_pitch_modulators(1, current_program_copy());
    editor_refresh_pending = true;
}

void VST_Plugin::assign_pitch_delay_mod_ir2()
{
    push_pitch_modulators(2, current_program_copy());
    editor_refresh_pending = true;
}

void VST_Plugin::populate_supporting_obj_struct()
{
    VST_Plugin_Program const current = current_program_copy();
    float const high_pass_unity[2] = {current.ir1_sts_high_pass_freq, current.ir2_sts_high_pass_freq};
    // The reflection and tail generators report their read-back values here once they exist.
    biquad_filter_upsampling* const filters[2] = {ir1_sts_filter, ir2_sts_filter};
    for (int ir = 0; ir < 2; ++ir) {
        if (filters[ir] == nullptr) continue;
        // Only the IR computation thread uses the STS filters, and this runs on it.
        filters[ir]->set_freq_fs(static_cast<float>(sample_rate));
        filters[ir]->set_freq_max_f0(equaliser_max_f0());
        supporting.sts_high_pass_hz[ir] =
            filters[ir]->passive_convert_unity_range_freq_f0(high_pass_unity[ir]);
    }
}

// ---------------------------------------------------------------------------------------------
// Parameter reads by editor number

namespace {

// Editor numbers that are not the number in a parameter's name: the six Fusion controls, and the
// two tail variants, which have editor controls but no host parameter.
struct EditorSlot {
    int number;
    float VST_Plugin_Program::*slot;
};

constexpr EditorSlot special_editor_slots[] = {
    {40, &VST_Plugin_Program::ir1_tail_variant},
    {76, &VST_Plugin_Program::ir2_tail_variant},
    {360, &VST_Plugin_Program::ir1_stacked_head_tail_mix},
    {361, &VST_Plugin_Program::ir2_stacked_head_tail_mix},
    {362, &VST_Plugin_Program::ir1_stacked_rate},
    {363, &VST_Plugin_Program::ir2_stacked_rate},
    {364, &VST_Plugin_Program::ir1_stacked_head_permit_mod},
    {365, &VST_Plugin_Program::ir2_stacked_head_permit_mod},
};

constexpr int last_editor_number = 365;

// The row whose name carries `number`: names skip 40 and 76.
corvella::ParameterRow const* row_for_editor_number(int number)
{
    int const index = number < 40 ? number : number < 76 ? number - 1 : number - 2;
    corvella::ParameterRow const* row = corvella::parameter_at(index);
    return row != nullptr && corvella::parameter_name_number(index) == number ? row : nullptr;
}

} // namespace

float VST_Plugin::getParameter(int number) const
{
    if (number < 0 || number > last_editor_number || !processing_enabled) return 0.0f;
    corvella::CriticalSectionLock lock(const_cast<void**>(&bank_lock));
    if (control_bank == nullptr) return 0.0f;
    VST_Plugin_Program const& p = control_bank[control_current];
    VST_Plugin_Program const& locks = control_bank[0];

    for (EditorSlot const& special : special_editor_slots)
        if (special.number == number) return p.*special.slot;

    corvella::ParameterRow const* row = row_for_editor_number(number);
    if (row == nullptr || row->slot == nullptr) return 0.0f;
    std::string_view const key = row->key;
    auto blend = [](double lock_status, double locked, double value) {
        return static_cast<float>(lock_status * locked + (1.0 - lock_status) * value);
    };
    if (key == "master_gain")
        return blend(locks.master_gain_lock_status, locks.master_gain_locked_value, p.master_gain);
    if (key == "master_mix")
        return blend(locks.master_mix_lock_status, locks.master_mix_locked_value, p.master_mix);
    switch (row->store) {
    case corvella::ParameterStore::program:
        return p.*row->slot;
    case corvella::ParameterStore::lock_record:
        return locks.*row->slot;
    case corvella::ParameterStore::none:
        break;
    }
    return 0.0f;
}
