#pragma once

// The engine status block: the copy of the engine's public state that the bridge hands to the
// parameters object on every wake-up (custom data 0) and the editor reads. Fixed at 37,680 bytes;
// the values the editor needs come first, then the drawings of the impulse responses for the
// editor's IR panel, the rest is zero.

#include <cstddef>
#include <cstdint>

class VST_Plugin;

namespace corvella {

inline constexpr std::size_t engine_status_size = 37680;

struct EngineStatusValues {
    std::uint32_t reported;               // 1 in every block an engine wrote; 0 in the zero block
    std::uint32_t processing_enabled;     // 0 while the engine is in the plug-in lock
    std::uint32_t ir_rebuild_busy;        // program change: the wet path is muted
    std::uint32_t ir_rebuild_in_progress; // the busy indicator
    std::uint32_t ir_work_pending;
    std::uint32_t refresh_count; // bumped whenever the engine asked the editor to redraw
    std::int32_t ir1_length_ms;
    std::int32_t ir2_length_ms;
    float ir1_level_left, ir1_level_right;
    float ir2_level_left, ir2_level_right;
    float output_level_left, output_level_right;
    std::int32_t sample_rate; // engine processing rate
    float host_sample_rate;
    std::int32_t partition_length; // N; the FFT convolution latency is 2N
    std::int32_t zero_latency;
    float host_tempo;
};

// The engine's drawings of its impulse responses (engine/ir_display.h), as last handed over.
struct EngineStatusDisplay {
    static constexpr int slots = 2;
    static constexpr int channels = 4;
    static constexpr int width = 556;  // columns of a row
    static constexpr int height = 180; // a row value of `height` is 0 dB

    std::int32_t generation;              // counts hand-overs; a change means new rows
    std::int32_t channel_count[slots];    // channels drawn per slot (0 before the first build)
    std::int32_t floor_db[slots];         // level that a row value of 0 stands for
    std::int32_t frames[slots];           // samples the rows were made from; 0 when not known
    float rows[slots][channels][width];   // column heights, 0 .. height
};

struct EngineStatus {
    EngineStatusValues values;
    EngineStatusDisplay display;
    std::uint8_t unused[engine_status_size - sizeof(EngineStatusValues) - sizeof(EngineStatusDisplay)];
};
static_assert(sizeof(EngineStatus) == engine_status_size);
static_assert(sizeof(EngineStatusValues) % 4 == 0 && offsetof(EngineStatus, display) == sizeof(EngineStatusValues));

// Fills `status` from `engine` (all zero for a null engine). `refresh_count` is carried over from
// the previous block and bumped when the engine's editor_refresh_pending was set, which this
// clears. The drawings are copied under the engine's ir_build_lock, which the IR computation thread
// holds only for its own copy. Runs on the bridge's thread, never on the audio thread.
void capture_engine_status(VST_Plugin* engine, std::uint32_t refresh_count, EngineStatus& status);

} // namespace corvella
