#pragma once

// Drawing rows of the impulse responses for the editor's IR panel: every channel of a built IR
// reduced to 556 column heights of at most 180 pixels on a dB scale whose floor depends on the
// source's bit depth.
//
// Threading: the free functions touch only their arguments. ir_display_tables is written by the
// IR computation thread; the editor's copy inside it is handed over under the engine's
// ir_build_lock, which the editor takes to read it.

// Fills `row` (width values) from `length` samples: each column holds the largest magnitude
// (clipped to 1) of its floor(length / width) samples (at least one), as a height in pixels where
// floor_db maps to 0 and 0 dB to `height`.
void create_ir_vis_display(float* row, float* samples, int width, int height, int length, int floor_db);

// dB floor of the drawing for a source of `bits` bits: -120 for 32, -100 for 24, -90 for 20,
// -80 otherwise.
int calc_db_draw_level(int bits);

namespace corvella {

struct ir_display_tables {
    static constexpr int width = 556;
    static constexpr int height = 180;
    static constexpr int slots = 2;
    static constexpr int channels = 4;

    // Rows being built, per slot and channel (IR computation thread only).
    float build_rows[slots][channels][width] = {};
    // The editor's copy and what it needs to draw it (under ir_build_lock).
    float rows[slots][channels][width] = {};
    int channel_count[slots] = {};
    int floor_db[slots] = {-80, -80};
    int frames[slots] = {}; // samples the rows were made from (the time axis); 0 when not told
    int generation = 0;     // counts hand-overs, so the editor knows when to redraw
};

} // namespace corvella
