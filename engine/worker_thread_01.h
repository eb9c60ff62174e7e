#pragma once

// The IR computation thread of one engine ("IR Thread 1"). It waits for its first event, then
// polls the engine's request flags every 100 ms and serves them: IR1 rebuilds, then IR2 rebuilds,
// then the end of the pass (editor refresh, the release of the program-change mute, and a 100 ms
// settle; without smooth changes the settle comes first and every buffer and history is silenced
// after it). A request wakes it early (wake), so a new file is heard without waiting for the next
// poll, and a new instance without waiting for the settle either.
//
// Threading:
// - The constructor, trigger_event and trigger_kill run on any non-audio thread (the engine's
//   constructor and destructor, tests).
// - ThreadStaticEntryPoint is the routine of the thread the engine starts; it is the only caller of
//   the engine's IR builds.
// - running and finished are atomics; the owner polls `finished` after trigger_kill and deletes the
//   object only once it is true.

#include <atomic>
#include <cstdint>
#include <string>

class VST_Plugin;

class WorkerThread_01 {
public:
    // Creates the auto-reset event. Throws std::runtime_error when it cannot.
    explicit WorkerThread_01(VST_Plugin* plugin);
    ~WorkerThread_01();
    WorkerThread_01(WorkerThread_01 const&) = delete;
    WorkerThread_01& operator=(WorkerThread_01 const&) = delete;

    // Thread routine: `argument` is the WorkerThread_01. Returns 1.
    static unsigned ThreadStaticEntryPoint(void* argument);
    void ThreadEntryPoint();

    // Wakes the thread (the first build waits for this). Throws std::runtime_error on failure.
    void trigger_event();
    // Ends the loop after the current pass and wakes the thread if it still waits.
    void trigger_kill();
    // Cuts the current poll short: any thread, never throws (a failure only means waiting for the
    // poll). Nothing before the first trigger_event, which the engine gives once it is ready.
    void wake() noexcept;

    std::atomic<bool> running{true};
    std::atomic<bool> finished{false};
    std::atomic<bool> started{false}; // the first trigger_event was given
    std::atomic<long> passes{0};      // polls completed (an idle worker makes about ten a second)
    void* event = nullptr;
    VST_Plugin* plugin = nullptr;
    std::string name = "IR Thread 1";

private:
    // One poll: serves every pending request. Returns when the pass is complete.
    void run_pass();
    static void release_mute_if_idle(VST_Plugin& engine);
    // Sleeps `ms` in short slices; returns early once the loop is asked to end.
    void pause(int ms) const;
    // The 100 ms after a pass that rebuilt; a request ends it when no audio ran during the pass.
    void settle();

    std::uint64_t chunks_at_pass_start = 0; // the engine's audio_chunks when the pass began
};
