#pragma once

// The engine status block: the copy of the engine's public state that the bridge hands to the
// parameters object on every wake-up (custom data 0) and the editor reads. Fixed at 37,680 bytes;
// the values the editor needs come first, the rest is zero.

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

struct EngineStatus {
    EngineStatusValues values;
    std::uint8_t unused[engine_status_size - sizeof(EngineStatusValues)];
};
static_assert(sizeof(EngineStatus) == engine_status_size);

// Fills `status` from `engine` (all zero for a null engine). `refresh_count` is carried over from
// the previous block and bumped when the engine's editor_refresh_pending was set, which this
// clears. Runs on the bridge's thread; reads only the engine's atomics and configuration.
void capture_engine_status(VST_Plugin* engine, std::uint32_t refresh_count, EngineStatus& status);

} // namespace corvella
