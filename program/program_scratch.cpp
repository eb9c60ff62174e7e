#include "program/program_scratch.h"

#include "program/vst_plugin_program.h"

#include <span>

namespace {

using corvella::EffectBlock;
using corvella::ProgramSlot;
using Chorus = VST_Plugin_Program_Chorus_Scratch;
using Delay = VST_Plugin_Program_Delay_Scratch;

// Scratch fields in block order (see corvella::chorus_block_slots and delay_block_slots).
constexpr float Chorus::*kChorusFields[] = {
    &Chorus::feedback,
    &Chorus::width,
    &Chorus::dry,
    &Chorus::wet,
    &Chorus::delay_ms,
    &Chorus::delay_mod_ms,
    &Chorus::delay_mod_rate_hz,
    &Chorus::toggle,
};

struct DelayField {
    float Delay::*f = nullptr;
    std::int32_t Delay::*i = nullptr;

    constexpr DelayField(float Delay::*p) : f(p) {}
    constexpr DelayField(std::int32_t Delay::*p) : i(p) {}
};

constexpr DelayField kDelayFields[] = {
    &Delay::dry,
    &Delay::l_toggle,
    &Delay::l_tempo,
    &Delay::l_delay_numer,
    &Delay::l_delay_denom,
    &Delay::l_delay_mod,
    &Delay::l_delay_mod_rate,
    &Delay::l_feedback,
    &Delay::l_feedback_opposite,
    &Delay::l_wet,
    &Delay::r_toggle,
    &Delay::r_tempo,
    &Delay::r_delay_numer,
    &Delay::r_delay_denom,
    &Delay::r_delay_mod,
    &Delay::r_delay_mod_rate,
    &Delay::r_feedback,
    &Delay::r_feedback_opposite,
    &Delay::r_wet,
    &Delay::l_tempo_lock,
    &Delay::r_tempo_lock,
};

void copy_chorus(Chorus& scratch, VST_Plugin_Program const& program, EffectBlock block)
{
    std::span<ProgramSlot const> const slots = corvella::chorus_block_slots(block);
    for (std::size_t k = 0; k < slots.size() && k < std::size(kChorusFields); ++k)
        scratch.*kChorusFields[k] = program.*slots[k].f;
    scratch.has_data = true;
}

void paste_chorus(Chorus const& scratch, VST_Plugin_Program& program, EffectBlock block)
{
    if (!scratch.has_data) return;
    std::span<ProgramSlot const> const slots = corvella::chorus_block_slots(block);
    for (std::size_t k = 0; k < slots.size() && k < std::size(kChorusFields); ++k)
        program.*slots[k].f = scratch.*kChorusFields[k];
}

// Slot kinds match row by row (tempos are floats, note lengths integers); a row whose kinds
// differ would be a table error and is skipped rather than misread.
void copy_delay(Delay& scratch, VST_Plugin_Program const& program, EffectBlock block)
{
    std::span<ProgramSlot const> const slots = corvella::delay_block_slots(block);
    for (std::size_t k = 0; k < slots.size() && k < std::size(kDelayFields); ++k) {
        if (slots[k].f && kDelayFields[k].f)
            scratch.*kDelayFields[k].f = program.*slots[k].f;
        else if (slots[k].i && kDelayFields[k].i)
            scratch.*kDelayFields[k].i = program.*slots[k].i;
    }
    scratch.has_data = 1;
}

void paste_delay(Delay const& scratch, VST_Plugin_Program& program, EffectBlock block)
{
    if (scratch.has_data == 0) return;
    std::span<ProgramSlot const> const slots = corvella::delay_block_slots(block);
    for (std::size_t k = 0; k < slots.size() && k < std::size(kDelayFields); ++k) {
        if (slots[k].f && kDelayFields[k].f)
            program.*slots[k].f = scratch.*kDelayFields[k].f;
        else if (slots[k].i && kDelayFields[k].i)
            program.*slots[k].i = scratch.*kDelayFields[k].i;
    }
}

} // namespace

VST_Plugin_Program_Chorus_Scratch::VST_Plugin_Program_Chorus_Scratch()
{
    // The defaults are the post chorus's defaults in a new record.
    copy_chorus(*this, VST_Plugin_Program(), EffectBlock::post);
    has_data = false;
}

void VST_Plugin_Program_Chorus_Scratch::copy_from_post(VST_Plugin_Program const& program)
{
    copy_chorus(*this, program, EffectBlock::post);
}
void VST_Plugin_Program_Chorus_Scratch::copy_from_ir1(VST_Plugin_Program const& program)
{
    copy_chorus(*this, program, EffectBlock::ir1);
}
void VST_Plugin_Program_Chorus_Scratch::copy_from_ir2(VST_Plugin_Program const& program)
{
    copy_chorus(*this, program, EffectBlock::ir2);
}
void VST_Plugin_Program_Chorus_Scratch::paste_to_post(VST_Plugin_Program& program) const
{
    paste_chorus(*this, program, EffectBlock::post);
}
void VST_Plugin_Program_Chorus_Scratch::paste_to_ir1(VST_Plugin_Program& program) const
{
    paste_chorus(*this, program, EffectBlock::ir1);
}
void VST_Plugin_Program_Chorus_Scratch::paste_to_ir2(VST_Plugin_Program& program) const
{
    paste_chorus(*this, program, EffectBlock::ir2);
}

VST_Plugin_Program_Delay_Scratch::VST_Plugin_Program_Delay_Scratch()
{
    copy_delay(*this, VST_Plugin_Program(), EffectBlock::post);
    has_data = 0;
}

void VST_Plugin_Program_Delay_Scratch::copy_from_post(VST_Plugin_Program const& program)
{
    copy_delay(*this, program, EffectBlock::post);
}
void VST_Plugin_Program_Delay_Scratch::copy_from_ir1(VST_Plugin_Program const& program)
{
    copy_delay(*this, program, EffectBlock::ir1);
}
void VST_Plugin_Program_Delay_Scratch::copy_from_ir2(VST_Plugin_Program const& program)
{
    copy_delay(*this, program, EffectBlock::ir2);
}
void VST_Plugin_Program_Delay_Scratch::paste_to_post(VST_Plugin_Program& program) const
{
    paste_delay(*this, program, EffectBlock::post);
}
void VST_Plugin_Program_Delay_Scratch::paste_to_ir1(VST_Plugin_Program& program) const
{
    paste_delay(*this, program, EffectBlock::ir1);
}
void VST_Plugin_Program_Delay_Scratch::paste_to_ir2(VST_Plugin_Program& program) const
{
    paste_delay(*this, program, EffectBlock::ir2);
}
