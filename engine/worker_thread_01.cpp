#include "engine/worker_thread_01.h"

#include "engine/vst_plugin.h"
#include "platform/audio_thread_messages.h"
#include "platform/message_box.h"
#include "platform/threading.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr int poll_interval_ms = 100;
constexpr int settle_ms = 100;
constexpr int pause_slice_ms = 5;
constexpr int wait_forever = -1;

} // namespace

WorkerThread_01::WorkerThread_01(VST_Plugin* owner) : plugin(owner)
{
    static std::atomic<unsigned> instances{0};
    char event_name[64];
    std::snprintf(event_name, sizeof event_name, "Local\\Event%10u-%10u", instances.fetch_add(1) + 1,
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this) & 0xffffffffu));
    event = CreateEvent(nullptr, 0, 0, event_name);
    if (event == nullptr)
        throw std::runtime_error(
            "Thread creation error #2 (CreateEvent). Processing will be disabled and plugin locked");
}

WorkerThread_01::~WorkerThread_01()
{
    CloseHandle(event);
    event = nullptr;
}

unsigned WorkerThread_01::ThreadStaticEntryPoint(void* argument)
{
    auto* self = static_cast<WorkerThread_01*>(argument);
    self->finished = false;
    self->ThreadEntryPoint();
    self->finished = true;
    return 1;
}

void WorkerThread_01::trigger_event()
{
    started.store(true, std::memory_order_release);
    if (SetEvent(event) == 0)
        throw std::runtime_error("Thread error (SetEvent). Processing will be disabled and plugin locked");
}

void WorkerThread_01::trigger_kill()
{
    running = false;
    trigger_event();
}

void WorkerThread_01::wake() noexcept
{
    if (started.load(std::memory_order_acquire)) SetEvent(event);
}

void WorkerThread_01::pause(int ms) const
{
    for (int slept = 0; slept < ms && running; slept += pause_slice_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_slice_ms));
}

void WorkerThread_01::ThreadEntryPoint()
{
    try {
        WaitForSingleObject(event, wait_forever);
        while (running) {
            plugin->follow_audio_thread_priority();
            corvella::drain_audio_thread_messages();
            run_pass();
            plugin->match_idle_generation_kinds();
            // The poll, cut short by a request or by trigger_kill.
            if (running) wait_for_event(event, poll_interval_ms);
            passes.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (std::exception const& error) {
        std::string const text =
            std::string(error.what()) + ": \nSeen during ThreadEntryPoint (main thread loop)";
        MessageBoxA(nullptr, text.c_str(), corvella::caption::engine, corvella::message_box_ok);
    } catch (...) {
        MessageBoxA(nullptr,
                    "Unhandled exception in thread process loop, contact Tarnwick technical support.",
                    corvella::caption::engine, corvella::message_box_ok);
    }
    // Whatever ended the loop, nothing of this thread's pass may keep the engine busy.
    plugin->ir_rebuild_in_progress = false;
    plugin->ir_worker_pass_active = false;
}

void WorkerThread_01::run_pass()
{
    VST_Plugin& engine = *plugin;
    engine.request_whole_irs_switched_on();

    // A mute with nothing to rebuild (a program change whose programs need no new IR) is released
    // after a silence, like the mute of a pass that rebuilt.
    if (!engine.recompute_ir1 && !engine.recompute_ir2) {
        if (engine.ir_rebuild_busy) {
            if (!engine.smooth_changes) engine.silence_buffers();
            release_mute_if_idle(engine);
        }
        return;
    }

    // Raised before the request flags are taken, so that is_ir_work_pending never sees a gap.
    engine.ir_worker_pass_active = true;
    chunks_at_pass_start = engine.audio_chunks.load(std::memory_order_relaxed);
    bool work_done = false;
    std::string file_a, file_b;
    while (running && engine.recompute_ir1) {
        engine.ir_rebuild_in_progress = true;
        engine.recompute_ir1 = false;
        work_done = true;
        if (engine.processing_enabled) {
            engine.current_ir_file_names(1, file_a, file_b);
            engine.change_ir1_file_standard_format(file_a.c_str(), file_b.c_str());
        }
    }
    while (running && engine.recompute_ir2) {
        engine.ir_rebuild_in_progress = true;
        engine.recompute_ir2 = false;
        work_done = true;
        if (engine.processing_enabled) {
            engine.current_ir_file_names(2, file_a, file_b);
            engine.change_ir2_file_standard_format(file_a.c_str(), file_b.c_str());
        }
    }

    if (work_done) {
        engine.populate_supporting_obj_struct();
        engine.editor_refresh_pending = true;
        if (engine.smooth_changes) {
            // The new IRs wait in the spare generations, taken at the audio thread's next chunk:
            // the engine is done now, and the settle only spaces rebuilds out, so an instance
            // starts, or a file is heard, without waiting for it.
            engine.buffer_silence_requested = false;
            engine.ir_rebuild_in_progress = false;
            release_mute_if_idle(engine);
            engine.ir_worker_pass_active = false;
            settle();
            engine.editor_refresh_pending = true;
            return;
        }
        pause(settle_ms);
        engine.editor_refresh_pending = true;
        engine.ir_rebuild_in_progress = false;
        // Without smooth changes the buffers are silenced after every pass that rebuilt an IR,
        // which also serves a pending silence request of the host binding.
        engine.buffer_silence_requested = false;
        engine.silence_buffers();
        release_mute_if_idle(engine);
    }
    engine.ir_worker_pass_active = false;
}

void WorkerThread_01::settle()
{
    // While audio runs, the settle keeps rebuilds 100 ms apart, so that a dial that reshapes an IR
    // as it moves leaves the cores to the audio and the host. With no audio running (an instance
    // starting, a session being restored, an offline render waiting for its IRs) a request ends it
    // at once. The pause leaves a request's signal to the loop's own wait, which then returns at once.
    if (plugin->audio_chunks.load(std::memory_order_relaxed) != chunks_at_pass_start) {
        pause(settle_ms);
        return;
    }
    if (running && wait_for_event(event, settle_ms) == 0) SetEvent(event);
}

void WorkerThread_01::release_mute_if_idle(VST_Plugin& engine)
{
    // The host binding raises a program change's mute and its rebuild requests in one batch; the
    // decision waits for a batch in progress, so it never falls between the two.
    VST_Plugin::RequestBatch const whole_batches(engine);
    if (engine.recompute_ir1 || engine.recompute_ir2) return;
    engine.ir_rebuild_busy = false;
}
