#pragma once

// Events, critical sections and threads over POSIX threads.
//
// Events are auto-reset whatever the manual-reset flag says: a completed wait clears the signal, a
// signal set while nobody waits stays pending until the next wait consumes it, and signals do not
// count (two SetEvent calls before a wait release one wait). Only an initial state of exactly 1
// starts an event signalled. A wait with a timeout of 0 or more never blocks: it only consumes a
// pending signal.
//
// Critical sections are recursive mutexes: the owner may enter again and must leave as often as
// it entered. The caller owns a pointer-sized slot (`void* cs; InitializeCriticalSection(&cs);`).
//
// Thread handles are `uintptr_t` values holding the thread identifier; 0 means no thread. The
// priority calls accept the handle either as that integer or as a `void*`. Threads are detached
// when created: their resources go back to the system as soon as the start routine returns, and
// nothing joins them. The priority calls only act on threads started by _beginthreadex whose
// routine is still running; for any other handle (0, a thread that has ended) they report
// failure as written below, without touching any thread.
//
// Threading: every function here may be called from any thread. SetEvent and a timed-out
// WaitForSingleObject only take the event's own mutex briefly; an unlimited wait blocks until the
// event is signalled. EnterCriticalSection blocks while another thread owns the section.

#include <cstdint>

void* CreateEvent(void* attributes, int manual_reset, int initial_state, char const* name);
// Returns 1; 0 for a null handle.
int SetEvent(void* event);
// Returns 0 once the wait is complete; -1 for a null handle (nothing to wait on).
int WaitForSingleObject(void* event, int timeout_ms);
// Waits until the event is signalled or `timeout_ms` (>= 0) has passed, consuming the signal:
// a poll that a request cuts short. Returns 0 when signalled, 1 on timeout, -1 for a null handle.
// (WaitForSingleObject with a timeout only consumes a pending signal and never waits.)
int wait_for_event(void* event, int timeout_ms);
// Frees an event made by CreateEvent. Returns 1; 0 for a null handle.
int CloseHandle(void* event);

// A null slot is ignored; a slot whose mutex could not be allocated holds null and is ignored by
// the other calls, so a failed initialisation never crashes its user (it just does not lock).
void InitializeCriticalSection(void** slot);
void EnterCriticalSection(void** slot);
void LeaveCriticalSection(void** slot);
// Frees the mutex and nulls the slot, so a second delete does nothing.
void DeleteCriticalSection(void** slot);

// Starts `start(argument)` on a new thread at once; returns its handle, or 0 when the thread could
// not be created (or `start` is null). The ignored arguments keep the conventional call shape;
// `thread_id` is not written.
std::uintptr_t _beginthreadex(void* security, int stack_size, unsigned (*start)(void*), void* argument,
                              int creation_flags, unsigned* thread_id);

// Threads are never created suspended, so resuming does nothing. Returns 0.
int ResumeThread(void* thread);
// The thread's scheduling priority within its current policy; 0 when it cannot be read (or the
// thread has ended).
int GetThreadPriority(void* thread);
// Sets the priority under the thread's current policy (the policy is never changed here). Returns
// 1 whether or not the system accepted the value, and 1 without change when the policy cannot be
// read (or the thread has ended).
int SetThreadPriority(void* thread, int priority);

inline int ResumeThread(std::uintptr_t thread)
{
    return ResumeThread(reinterpret_cast<void*>(thread));
}
inline int GetThreadPriority(std::uintptr_t thread)
{
    return GetThreadPriority(reinterpret_cast<void*>(thread));
}
inline int SetThreadPriority(std::uintptr_t thread, int priority)
{
    return SetThreadPriority(reinterpret_cast<void*>(thread), priority);
}

namespace corvella {

// Moves a thread that the audio thread waits on from time sharing to real-time scheduling
// (SCHED_FIFO at `priority`, clamped to the policy's range). A priority set under the unchanged
// time-sharing policy, as SetThreadPriority does, has no effect on this system, so the engine
// asks for this when that did not take. Returns true when the thread now runs under SCHED_FIFO;
// false when the system refuses (no permission) or the thread is unknown.
bool promote_thread_to_realtime(void* thread, int priority);

// The calling thread's identity, and its real-time priority (SCHED_FIFO or SCHED_RR), or 0 when
// it runs under time sharing. Fit for the audio thread: no allocation, no lock; the identity costs a
// system call only on a thread's first call, the priority one every time.
std::uint64_t current_thread_identity();
int current_thread_realtime_priority();

// Scoped ownership of a critical section: enters on construction, leaves on destruction.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(void** slot) : slot_(slot) { EnterCriticalSection(slot_); }
    ~CriticalSectionLock() { LeaveCriticalSection(slot_); }
    CriticalSectionLock(CriticalSectionLock const&) = delete;
    CriticalSectionLock& operator=(CriticalSectionLock const&) = delete;

private:
    void** slot_;
};

// Enters the section only if that does not block; true when entered (leave it as usual).
bool try_enter_critical_section(void** slot);

// Whether a signal is pending, read under the event's mutex. For diagnostics and tests: the answer
// may be stale as soon as it is returned when other threads use the event.
bool event_is_signalled(void* event);

// Consumes a pending signal without waiting; true when there was one. With an unlimited
// WaitForSingleObject after a false, a caller learns whether it had to wait for one lock.
bool take_pending_signal(void* event);

// True while the routine of a thread started by _beginthreadex has not returned.
bool thread_is_running(std::uintptr_t thread);

// Milliseconds from a monotonic clock with an arbitrary origin; for measuring intervals.
std::uint64_t tick_count_ms();

} // namespace corvella
