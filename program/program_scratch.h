#pragma once

#include <cstdint>

struct VST_Plugin_Program;

// Clipboard for one chorus block (the editor's copy and paste between the post, IR1 and IR2
// choruses). Paste does nothing until something has been copied.
struct VST_Plugin_Program_Chorus_Scratch {
    float feedback;
    float width;
    float dry;
    float wet;
    float delay_ms;
    float delay_mod_ms;
    float delay_mod_rate_hz;
    float toggle;
    bool has_data;

    VST_Plugin_Program_Chorus_Scratch(); // the chorus defaults, empty

    void copy_from_post(VST_Plugin_Program const& program);
    void copy_from_ir1(VST_Plugin_Program const& program);
    void copy_from_ir2(VST_Plugin_Program const& program);
    void paste_to_post(VST_Plugin_Program& program) const;
    void paste_to_ir1(VST_Plugin_Program& program) const;
    void paste_to_ir2(VST_Plugin_Program& program) const;
};

// Clipboard for one delay block; the post block is the master delay. Tempos are in beats per
// minute, numerators and denominators are integers, as in the program record.
struct VST_Plugin_Program_Delay_Scratch {
    float dry;
    float l_toggle;
    float l_tempo;
    std::int32_t l_delay_numer;
    std::int32_t l_delay_denom;
    float l_delay_mod;
    float l_delay_mod_rate;
    float l_feedback;
    float l_feedback_opposite;
    float l_wet;
    float r_toggle;
    float r_tempo;
    std::int32_t r_delay_numer;
    std::int32_t r_delay_denom;
    float r_delay_mod;
    float r_delay_mod_rate;
    float r_feedback;
    float r_feedback_opposite;
    float r_wet;
    float l_tempo_lock;
    float r_tempo_lock;
    std::int32_t has_data; // 0 until something has been copied

    VST_Plugin_Program_Delay_Scratch(); // the master delay's defaults, empty

    void copy_from_post(VST_Plugin_Program const& program);
    void copy_from_ir1(VST_Plugin_Program const& program);
    void copy_from_ir2(VST_Plugin_Program const& program);
    void paste_to_post(VST_Plugin_Program& program) const;
    void paste_to_ir1(VST_Plugin_Program& program) const;
    void paste_to_ir2(VST_Plugin_Program& program) const;
};
