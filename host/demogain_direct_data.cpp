#include "host/demogain_direct_data.h"

#include "convolution/ipps.h"
#include "engine/vst_plugin.h"
#include "host/demogain_parameters.h"
#include "host/host_description.h"
#include "platform/threading.h"

#include <cmath>
#include <cstring>

namespace host = corvella::host;
using corvella::Request;

namespace {

// The bridge's rhythm counts in ticks of 1/60 s, as the host's system tick does.
std::uint64_t tick_milliseconds(std::uint64_t milliseconds)
{
    return milliseconds * 60 / 1000 * 1000 / 60;
}

} // namespace

DemoGain_DirectData::DemoGain_DirectData()
    : clock_(corvella::tick_count_ms), status_(std::make_unique<corvella::EngineStatus>()),
      bank_(corvella::bank_size_bytes)
{
    std::memset(status_.get(), 0, sizeof(corvella::EngineStatus));
}

DemoGain_DirectData::~DemoGain_DirectData() = default;

host::Result DemoGain_DirectData::Initialize(host::Controller* controller)
{
    controller_ = controller;
    return host::success;
}

void DemoGain_DirectData::set_clock(std::function<std::uint64_t()> clock)
{
    clock_ = clock ? std::move(clock) : std::function<std::uint64_t()>(corvella::tick_count_ms);
}

host::Result DemoGain_DirectData::TimerWakeup_PrivateDataAccess(host::PrivateDataAccess* access)
{
    if (access == nullptr) return host::error_null_argument;
    host::EffectParameters* parameters =
        controller_ != nullptr ? controller_->GetEffectParameters() : nullptr;
    if (parameters == nullptr) return host::error_not_available;

    // 1.
    VST_Plugin* engine = nullptr;
    if (host::Result const read = access->ReadPortDirect(host::context_field_private, &engine, sizeof engine);
        read != host::success)
        return read;

    // 2. The editor's view of the engine, every wake-up.
    corvella::capture_engine_status(engine, status_->values.refresh_count, *status_);
    parameters->SetCustomData(corvella::custom_data::engine_status, sizeof(corvella::EngineStatus),
                              status_.get());

    // 3.
    std::uint64_t const now = tick_milliseconds(clock_());
    if (passed_once_ && now - last_pass_ms_ < pass_interval_ms) return host::success;
    passed_once_ = true;
    last_pass_ms_ = now;
    ++passes_;

    // 4.
    corvella::PendingRequests requests{};
    std::int32_t current_index = 0;
    std::uint32_t written = 0;
    if (parameters->GetCustomData(corvella::custom_data::pending_requests, sizeof requests, &requests,
                                  &written) != host::success ||
        parameters->GetCustomData(corvella::custom_data::bank, static_cast<std::uint32_t>(bank_.size()),
                                  bank_.data(), &written) != host::success ||
        parameters->GetCustomData(corvella::custom_data::current_program, sizeof current_index,
                                  &current_index, &written) != host::success)
        return host::error_not_available;

    // 5. Requests wait for an engine that can serve them.
    if (engine != nullptr && engine->processing_enabled.load())
        serve_requests(*engine, requests, current_index);

    // 9.
    return parameters->SetCustomData(corvella::custom_data::pending_requests, sizeof requests, &requests);
}

void DemoGain_DirectData::serve_requests(VST_Plugin& engine, corvella::PendingRequests& r, int current_index)
{
    // 6. The engine has applied an update since the initialise request: the handshake is done.
    if (engine.update_applied.load() && r.pending(Request::initialise)) {
        engine.update_applied = false;
        r.clear(Request::initialise);
    }

    // 7. One batch: the IR worker never sees the mute of a program change without its rebuilds.
    if (r.pending(Request::parameters_changed)) {
        VST_Plugin::RequestBatch const batch(engine);
        engine.update_programs(reinterpret_cast<VST_Plugin_Program const*>(bank_.data()), current_index);

        if (r.pending(Request::program_change)) {
            engine.signal_set_program_disable_audio();
            r.clear(Request::program_change);
        }

        // A tempo of 0 or one that is not finite never reaches the delays.
        auto const tempo = static_cast<float>(r.tempo);
        bool const tempo_usable = std::isfinite(tempo) && tempo > 0.0f;
        auto update_tempo = [&] {
            if (tempo_usable) engine.update_tempo(tempo);
        };

        VST_Plugin_Program const p = engine.current_program_copy();
        bool const delay_side_on = p.master_delay_l_toggle > 0.0f || p.master_delay_r_toggle > 0.0f ||
                                   p.ir1_delay_l_toggle > 0.0f || p.ir1_delay_r_toggle > 0.0f ||
                                   p.ir2_delay_l_toggle > 0.0f || p.ir2_delay_r_toggle > 0.0f;
        if (delay_side_on || r.pending(Request::tempo_changed)) {
            update_tempo();
            r.clear(Request::tempo_changed);
        }

        if (r.pending(Request::full_recompute_ir1) && r.pending(Request::full_recompute_ir2)) {
            engine.signal_recompute_both_full();
            r.clear(Request::full_recompute_ir1);
            r.clear(Request::full_recompute_ir2);
        }
        if (r.pending(Request::partial_recompute_ir1) && r.pending(Request::partial_recompute_ir2)) {
            engine.signal_recompute_both_partial();
            r.clear(Request::partial_recompute_ir1);
            r.clear(Request::partial_recompute_ir2);
        }
        if (r.pending(Request::full_recompute_ir1)) {
            engine.signal_recompute_ir1_full();
            r.clear(Request::full_recompute_ir1);
        }
        if (r.pending(Request::partial_recompute_ir1)) {
            engine.signal_recompute_ir1_partial();
            r.clear(Request::partial_recompute_ir1);
        }
        if (r.pending(Request::full_recompute_ir2)) {
            engine.signal_recompute_ir2_full();
            r.clear(Request::full_recompute_ir2);
        }
        if (r.pending(Request::partial_recompute_ir2)) {
            engine.signal_recompute_ir2_partial();
            r.clear(Request::partial_recompute_ir2);
        }

        if (r.pending(Request::chorus_master)) {
            engine.signal_update_master_chorus();
            r.clear(Request::chorus_master);
        }
        if (r.pending(Request::chorus_ir1)) {
            engine.signal_update_ir1_chorus();
            r.clear(Request::chorus_ir1);
        }
        if (r.pending(Request::chorus_ir2)) {
            engine.signal_update_ir2_chorus();
            r.clear(Request::chorus_ir2);
        }

        if (r.pending(Request::delay_master)) {
            update_tempo();
            engine.signal_update_master_delay();
            r.clear(Request::delay_master);
        }
        if (r.pending(Request::delay_ir1)) {
            update_tempo();
            engine.signal_update_ir1_delay();
            r.clear(Request::delay_ir1);
        }
        if (r.pending(Request::delay_ir2)) {
            update_tempo();
            engine.signal_update_ir2_delay();
            r.clear(Request::delay_ir2);
        }

        if (r.pending(Request::pitch_delay_ir1)) {
            engine.assign_pitch_delay_mod_ir1();
            r.clear(Request::pitch_delay_ir1);
        }
        if (r.pending(Request::pitch_delay_ir2)) {
            engine.assign_pitch_delay_mod_ir2();
            r.clear(Request::pitch_delay_ir2);
        }

        if (r.pending(Request::master_filter_coeffs)) {
            ippSetFlushToZero(1, nullptr);
            ippSetDenormAreZeros(1);
            engine.update_master_filter_coeffs_all();
            r.clear(Request::master_filter_coeffs);
        }

        r.clear(Request::parameters_changed);
    }

    // 8.
    if (r.pending(Request::buffer_silence)) {
        engine.buffer_silence_requested = true;
        // With smooth changes an IR switched off rings out and one switched on starts from
        // silence by itself: nothing else is cut short.
        if (!engine.smooth_changes) engine.silence_buffers();
        r.clear(Request::buffer_silence);
    }
}
