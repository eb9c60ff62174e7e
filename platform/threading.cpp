#include "platform/threading.h"

#include <pthread.h>
#include <cerrno>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct EventRecord {
    pthread_cond_t condition;
    pthread_mutex_t mutex;
    unsigned char signalled;
};

static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t), "a thread identifier must fit in a handle");

std::uintptr_t handle_from_thread(pthread_t thread)
{
    std::uintptr_t handle = 0;
    std::memcpy(&handle, &thread, sizeof thread);
    return handle;
}

pthread_t thread_from_handle(void* handle)
{
    auto const value = reinterpret_cast<std::uintptr_t>(handle);
    pthread_t thread{};
    std::memcpy(&thread, &value, sizeof thread);
    return thread;
}

pthread_mutex_t* mutex_in(void** slot)
{
    return slot == nullptr ? nullptr : static_cast<pthread_mutex_t*>(*slot);
}

struct ThreadStart {
    unsigned (*routine)(void*);
    void* argument;
};

// Threads started here whose routine has not returned yet. A thread takes itself off the list,
// under the lock, as its last act, so a handle found on the list while the lock is held names a
// live thread, and the priority calls never touch a thread that has gone. Never destroyed, so
// that threads still running at exit can use it.
std::mutex& live_threads_mutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::vector<std::uintptr_t>& live_threads()
{
    static auto* threads = new std::vector<std::uintptr_t>;
    return *threads;
}

bool is_live(std::uintptr_t handle)
{
    std::vector<std::uintptr_t> const& threads = live_threads();
    return std::find(threads.begin(), threads.end(), handle) != threads.end();
}

void* run_thread(void* raw)
{
    ThreadStart const start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.routine(start.argument);

    std::lock_guard<std::mutex> lock(live_threads_mutex());
    std::vector<std::uintptr_t>& threads = live_threads();
    auto const self = std::find(threads.begin(), threads.end(), handle_from_thread(pthread_self()));
    if (self != threads.end()) threads.erase(self);
    return nullptr;
}

} // namespace

void* CreateEvent(void* /*attributes*/, int /*manual_reset*/, int initial_state, char const* /*name*/)
{
    // Zero-filled before the primitives are initialised.
    auto* event = static_cast<EventRecord*>(std::calloc(1, sizeof(EventRecord)));
    if (event == nullptr) return nullptr;
    if (pthread_cond_init(&event->condition, nullptr) != 0) {
        std::free(event);
        return nullptr;
    }
    if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
        pthread_cond_destroy(&event->condition);
        std::free(event);
        return nullptr;
    }
    if (initial_state == 1) SetEvent(event);
    return event;
}

int SetEvent(void* handle)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return 0;
    pthread_mutex_lock(&event->mutex);
    event->signalled = 1;
    pthread_cond_broadcast(&event->condition);
    pthread_mutex_unlock(&event->mutex);
    return 1;
}

int WaitForSingleObject(void* handle, int timeout_ms)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return -1;
    pthread_mutex_lock(&event->mutex);
    if (timeout_ms < 0) {
        while (event->signalled == 0)
            pthread_cond_wait(&event->condition, &event->mutex);
    }
    event->signalled = 0;
    pthread_mutex_unlock(&event->mutex);
    return 0;
}

int wait_for_event(void* handle, int timeout_ms)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return -1;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline); // the condition's clock
    long long const ns = deadline.tv_nsec + static_cast<long long>(std::max(timeout_ms, 0)) * 1000000LL;
    deadline.tv_sec += static_cast<time_t>(ns / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000LL);
    pthread_mutex_lock(&event->mutex);
    while (event->signalled == 0)
        if (pthread_cond_timedwait(&event->condition, &event->mutex, &deadline) == ETIMEDOUT) break;
    int const result = event->signalled != 0 ? 0 : 1;
    event->signalled = 0;
    pthread_mutex_unlock(&event->mutex);
    return result;
}

int CloseHandle(void* handle)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return 0;
    pthread_cond_destroy(&event->condition);
    pthread_mutex_destroy(&event->mutex);
    std::free(event);
    return 1;
}

void InitializeCriticalSection(void** slot)
{
    if (slot == nullptr) return;
    *slot = nullptr;
    auto* mutex = new (std::nothrow) pthread_mutex_t;
    if (mutex == nullptr) return;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    // A real-time thread that finds the lock taken lends its priority to the holder, so a
    // time-shared holder cannot keep it waiting behind unrelated work.
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    int const result = pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (result != 0) {
        delete mutex;
        return;
    }
    *slot = mutex;
}

void EnterCriticalSection(void** slot)
{
    if (pthread_mutex_t* mutex = mutex_in(slot)) pthread_mutex_lock(mutex);
}

void LeaveCriticalSection(void** slot)
{
    if (pthread_mutex_t* mutex = mutex_in(slot)) pthread_mutex_unlock(mutex);
}

void DeleteCriticalSection(void** slot)
{
    pthread_mutex_t* mutex = mutex_in(slot);
    if (mutex == nullptr) return;
    pthread_mutex_destroy(mutex);
    delete mutex;
    *slot = nullptr;
}

std::uintptr_t _beginthreadex(void* /*security*/, int /*stack_size*/, unsigned (*start)(void*),
                              void* argument, int /*creation_flags*/, unsigned* /*thread_id*/)
{
    if (start == nullptr) return 0;
    auto* record = new (std::nothrow) ThreadStart{start, argument};
    if (record == nullptr) return 0;
    // Held until the thread is on the list, so that even a routine that returns at once finds
    // itself there when it leaves.
    std::lock_guard<std::mutex> lock(live_threads_mutex());
    try {
        live_threads().reserve(live_threads().size() + 1);
    } catch (std::bad_alloc const&) {
        delete record;
        return 0;
    }
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run_thread, record) != 0) {
        delete record;
        return 0;
    }
    // Nobody joins these threads: owners learn from their own flags that a routine has returned,
    // and the system takes the thread back as soon as it ends.
    pthread_detach(thread);
    std::uintptr_t const handle = handle_from_thread(thread);
    live_threads().push_back(handle);
    return handle;
}

int ResumeThread(void* /*thread*/)
{
    return 0;
}

int GetThreadPriority(void* thread)
{
    std::lock_guard<std::mutex> lock(live_threads_mutex());
    if (!is_live(reinterpret_cast<std::uintptr_t>(thread))) return 0;
    int policy = 0;
    sched_param parameters{};
    if (pthread_getschedparam(thread_from_handle(thread), &policy, &parameters) != 0) return 0;
    return parameters.sched_priority;
}

int SetThreadPriority(void* thread, int priority)
{
    std::lock_guard<std::mutex> lock(live_threads_mutex());
    if (!is_live(reinterpret_cast<std::uintptr_t>(thread))) return 1;
    pthread_t const id = thread_from_handle(thread);
    int policy = 0;
    sched_param parameters{};
    if (pthread_getschedparam(id, &policy, &parameters) != 0) return 1;
    parameters.sched_priority = priority;
    // Under the default time-sharing policy only priority 0 is valid, so the request is often
    // refused; callers decide about other policies themselves.
    pthread_setschedparam(id, policy, &parameters);
    return 1;
}

namespace corvella {

bool promote_thread_to_realtime(void* thread, int priority)
{
    std::lock_guard<std::mutex> lock(live_threads_mutex());
    if (!is_live(reinterpret_cast<std::uintptr_t>(thread))) return false;
    pthread_t const id = thread_from_handle(thread);
    sched_param parameters{};
    parameters.sched_priority =
        std::clamp(priority, sched_get_priority_min(SCHED_FIFO), sched_get_priority_max(SCHED_FIFO));
    if (pthread_setschedparam(id, SCHED_FIFO, &parameters) != 0) return false;
    int policy = 0;
    return pthread_getschedparam(id, &policy, &parameters) == 0 && policy == SCHED_FIFO;
}

std::uint64_t current_thread_identity()
{
    // The kernel's id: a thread made after another one ended often gets its pthread_t back. Asking
    // is a system call (about a microsecond here), so each thread asks once. Initial-exec keeps
    // the slot in static TLS: a module loaded by a host would otherwise allocate it on a thread's
    // first access, which may be on the audio thread.
    static thread_local __attribute__((tls_model("initial-exec"))) pid_t id = 0;
    if (id == 0) id = gettid();
    return static_cast<std::uint64_t>(id);
}

int current_thread_realtime_priority()
{
    // Asked of the kernel each time: the C library's cached copy misses changes made with
    // sched_setscheduler.
    int const policy = sched_getscheduler(0);
    sched_param parameters{};
    if ((policy != SCHED_FIFO && policy != SCHED_RR) || sched_getparam(0, &parameters) != 0) return 0;
    return parameters.sched_priority;
}

bool try_enter_critical_section(void** slot)
{
    pthread_mutex_t* mutex = mutex_in(slot);
    return mutex != nullptr && pthread_mutex_trylock(mutex) == 0;
}

bool event_is_signalled(void* handle)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return false;
    pthread_mutex_lock(&event->mutex);
    bool const signalled = event->signalled != 0;
    pthread_mutex_unlock(&event->mutex);
    return signalled;
}

bool take_pending_signal(void* handle)
{
    auto* event = static_cast<EventRecord*>(handle);
    if (event == nullptr) return false;
    pthread_mutex_lock(&event->mutex);
    bool const signalled = event->signalled != 0;
    event->signalled = 0;
    pthread_mutex_unlock(&event->mutex);
    return signalled;
}

bool thread_is_running(std::uintptr_t thread)
{
    std::lock_guard<std::mutex> lock(live_threads_mutex());
    return is_live(thread);
}

std::uint64_t tick_count_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace corvella
