#include "host/engine_status.h"

#include "engine/vst_plugin.h"

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
}

} // namespace corvella
