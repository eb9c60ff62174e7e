// Fusion IR: the two modulated stacked convolvers, their place in the audio frame and the program
// settings they take.

#include "engine/vst_plugin.h"

#include "convolution/convolver_ts_stack_modulated.h"
#include "convolution/ipps.h"

convolver_ts_stack_modulated* VST_Plugin::make_stacked_convolver(int slot)
{
    if (convolver_ts_stack_modulated* const made = stacked_convolver(slot)) return made;
    // Zero latency: the stack's own 128-tap heads. Otherwise a delay of 2N, as the dry bus has.
    int const buffer_length = zero_latency ? 0 : 2 * partition_length;
    auto* const stacked = new convolver_ts_stack_modulated(stacked_channels, buffer_length);
    push_stacked_modulation_to(stacked, slot, build_program);
    (slot == 1 ? ir1_stacked : ir2_stacked).store(stacked, std::memory_order_release);
    return stacked;
}

void VST_Plugin::destroy_stacked_convolvers()
{
    delete ir1_stacked.exchange(nullptr); // each stops and waits for its worker
    delete ir2_stacked.exchange(nullptr);
}

bool VST_Plugin::run_stacked(int ir, int frames, float** input)
{
    convolver_ts_stack_modulated* const stacked = stacked_convolver(ir);
    // A Fusion slot without a stacked response plays what its standard convolvers hold.
    if (stacked == nullptr || !stacked->is_loaded()) return false;
    VST_Plugin_Program const& p = *program;
    stacked->set_mod_rate(VST_Plugin_Program::get_rate_hz(ir == 1 ? p.ir1_stacked_rate : p.ir2_stacked_rate));
    float** const section1 = ir == 1 ? ir1_section1_out : ir2_section1_out;
    stacked->process_frames(input, convolver_scratch, frames);
    for (int channel = 0; channel < channel_count; ++channel)
        ippsAdd_32f_I(convolver_scratch[channel], section1[channel], frames);
    return true;
}

void VST_Plugin::ring_stacked(int ir, int frames, bool fed)
{
    convolver_ts_stack_modulated* const stacked = stacked_convolver(ir);
    if (stacked == nullptr) return;
    int& left = stacked_ring_frames_left[ir - 1];
    if (fed) {
        // The tail, the stack's latency and the modulators' few milliseconds.
        left = stacked->ir_frames() + (zero_latency ? 0 : 2 * partition_length) + sample_rate / 20;
        return;
    }
    if (left <= 0) return;
    if (run_stacked(ir, frames, silent_input)) left -= frames;
    else left = 0;
}

// The section settings of the pitch modulation move the stack's modulator pairs: section 1 the
// head's, section 2 the tail's. Rate and depth only while the section is on; a switch only when it
// changes with smooth changes (a switch clears the modulators' lines).
void VST_Plugin::push_stacked_modulation(int ir, VST_Plugin_Program const& p)
{
    if (convolver_ts_stack_modulated* const stacked = stacked_convolver(ir))
        push_stacked_modulation_to(stacked, ir, p);
}

void VST_Plugin::push_stacked_modulation_to(convolver_ts_stack_modulated* stacked, int ir, VST_Plugin_Program const& p)
{
    struct Section {
        float toggle, depth, rate;
    };
    Section const sections[2] = {
        {ir == 1 ? p.pitch_mod_ir1_section1_toggle : p.pitch_mod_ir2_section1_toggle,
         ir == 1 ? p.pitch_mod_ir1_section1_mod_depth : p.pitch_mod_ir2_section1_mod_depth,
         ir == 1 ? p.pitch_mod_ir1_section1_mod_rate : p.pitch_mod_ir2_section1_mod_rate},
        {ir == 1 ? p.pitch_mod_ir1_section2_toggle : p.pitch_mod_ir2_section2_toggle,
         ir == 1 ? p.pitch_mod_ir1_section2_mod_depth : p.pitch_mod_ir2_section2_mod_depth,
         ir == 1 ? p.pitch_mod_ir1_section2_mod_rate : p.pitch_mod_ir2_section2_mod_rate},
    };
    for (int section = 0; section < 2; ++section) {
        Section const& s = sections[section];
        bool const on = s.toggle > 0.0f;
        if (on) {
            stacked->set_pitch_modulation_parameter(2 * section, s.rate);
            stacked->set_pitch_modulation_parameter(2 * section + 1, s.depth);
        }
        if (!smooth_changes || on != stacked->modulator(2 * section)->get_toggle(0))
            stacked->set_pitch_modulation_parameter(4 + section, s.toggle);
    }
}
