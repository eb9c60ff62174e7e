#include "host/engine_status.h"

#include "engine/ir_display.h"
#include "engine/vst_plugin.h"
#include "platform/threading.h"

#include <cstring>

namespace corvella {

void capture_engine_status(VST_Plugin* engine, std::uint32_t refresh_count, EngineStatus& status)
{
    std::memset(&status, 0, sizeof status);
    if (engine == nullptr) return;
    EngineStatusValues& v = status.values;
    v.reported = 1;
    v.processing_enabled = engine->processing_enabled.load() ? 1 : 0;
    v.ir_rebuild_busy = engine->ir_rebuild_busy.load() ? 1 : 0;
    v.ir_rebuild_in_progress = engine->ir_rebuild_in_progress.load() ? 1 : 0;
    v.ir_work_pending = engine->is_ir_work_pending() ? 1 : 0;
    v.refresh_count = refresh_count + (engine->editor_refresh_pending.exchange(false) ? 1 : 0);
    v.ir1_length_ms = engine->ir1_length_ms.load();
    v.ir2_length_ms = engine->ir2_length_ms.load();
    v.ir1_level_left = engine->ir1_level_left.load();
    v.ir1_level_right = engine->ir1_level_right.load();
    v.ir2_level_left = engine->ir2_level_left.load();
    v.ir2_level_right = engine->ir2_level_right.load();
    v.output_level_left = engine->output_level_left.load();
    v.output_level_right = engine->output_level_right.load();
    v.sample_rate = engine->sample_rate;
    v.host_sample_rate = engine->host_sample_rate;
    v.partition_length = engine->partition_length;
    v.zero_latency = engine->zero_latency ? 1 : 0;
    v.host_tempo = engine->host_tempo;

    if (engine->ir_display == nullptr) return;
    static_assert(EngineStatusDisplay::slots == ir_display_tables::slots &&
                  EngineStatusDisplay::channels == ir_display_tables::channels &&
                  EngineStatusDisplay::width == ir_display_tables::width &&
                  EngineStatusDisplay::height == ir_display_tables::height);
    static_assert(sizeof(EngineStatusDisplay::rows) == sizeof(ir_display_tables::rows));
    ir_display_tables const& tables = *engine->ir_display;
    EngineStatusDisplay& d = status.display;
    CriticalSectionLock lock(&engine->ir_build_lock);
    d.generation = tables.generation;
    for (int slot = 0; slot < EngineStatusDisplay::slots; ++slot) {
        d.channel_count[slot] = tables.channel_count[slot];
        d.floor_db[slot] = tables.floor_db[slot];
        d.frames[slot] = tables.frames[slot];
    }
    std::memcpy(d.rows, tables.rows, sizeof d.rows);
}

} // namespace corvella
