// Events, critical sections and threads with the semantics their callers rely on.
#include "platform/threading.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Polls until `condition` holds; the limit only keeps a broken build from hanging the suite.
bool eventually(std::function<bool()> const& condition)
{
    auto const give_up = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// True when `condition` holds for a short while: how a test sees that a thread stays blocked.
bool stays(std::function<bool()> const& condition)
{
    auto const until = std::chrono::steady_clock::now() + 50ms;
    while (std::chrono::steady_clock::now() < until) {
        if (!condition()) return false;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

// An event closed at the end of the test.
struct Event {
    explicit Event(int initial_state, int manual_reset = 0)
        : handle(CreateEvent(nullptr, manual_reset, initial_state, "Local\\Event         1-         2"))
    {
    }
    ~Event() { CloseHandle(handle); }
    bool signalled() const { return corvella::event_is_signalled(handle); }
    void* handle;
};

// A thread that makes `waits` unlimited waits on an event and counts the completed ones.
class Waiter {
public:
    Waiter(void* event, int waits) : event_(event), waits_(waits)
    {
        thread_ = std::thread([this] {
            for (int i = 0; i < waits_; ++i) {
                WaitForSingleObject(event_, -1);
                completed_.fetch_add(1);
            }
        });
    }
    ~Waiter()
    {
        // Release a waiter the test left blocked, so that a failing test still ends.
        while (completed_.load() < waits_) {
            SetEvent(event_);
            std::this_thread::sleep_for(1ms);
        }
        thread_.join();
    }
    int completed() const { return completed_.load(); }

private:
    void* event_;
    int waits_;
    std::atomic<int> completed_{0};
    std::thread thread_;
};

// Whether another thread can enter the section right now.
bool other_thread_can_enter(void** section)
{
    bool entered = false;
    std::thread([&] {
        entered = corvella::try_enter_critical_section(section);
        if (entered) LeaveCriticalSection(section);
    }).join();
    return entered;
}

} // namespace

TEST(Event, OnlyInitialStateOneStartsSignalledAndAWaitClearsTheSignal)
{
    for (int state : {1, 0, 2, -1, 255}) {
        SCOPED_TRACE(state);
        Event event(state, 1); // the manual-reset flag changes nothing
        ASSERT_NE(event.handle, nullptr);
        EXPECT_EQ(event.signalled(), state == 1);
        Waiter waiter(event.handle, 2);
        int const released = state == 1 ? 1 : 0;
        ASSERT_TRUE(eventually([&] { return waiter.completed() == released; }));
        EXPECT_TRUE(stays([&] { return waiter.completed() == released; }));
        EXPECT_FALSE(event.signalled());
        EXPECT_EQ(SetEvent(event.handle), 1);
        EXPECT_TRUE(eventually([&] { return waiter.completed() == released + 1; }));
    }
}

TEST(Event, SignalsDoNotCountAndOneSignalReleasesOneOfSeveralWaits)
{
    Event event(0);
    SetEvent(event.handle);
    SetEvent(event.handle);
    Waiter first(event.handle, 1);
    Waiter second(event.handle, 1);
    auto const total = [&] { return first.completed() + second.completed(); };
    ASSERT_TRUE(eventually([&] { return total() == 1; }));
    EXPECT_TRUE(stays([&] { return total() == 1; }));
    EXPECT_FALSE(event.signalled());
    SetEvent(event.handle);
    EXPECT_TRUE(eventually([&] { return total() == 2; }));
}

TEST(Event, TimeoutsOfZeroOrMoreOnlyConsumeAPendingSignal)
{
    Event event(0);
    EXPECT_EQ(WaitForSingleObject(event.handle, 0), 0);
    EXPECT_FALSE(event.signalled());
    SetEvent(event.handle);
    EXPECT_EQ(WaitForSingleObject(event.handle, 0), 0);
    EXPECT_FALSE(event.signalled());

    // A long timeout returns at once as well.
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        EXPECT_EQ(WaitForSingleObject(event.handle, INT_MAX), 0);
        returned = true;
    });
    bool const done = eventually([&] { return returned.load(); });
    if (!done) SetEvent(event.handle);
    waiter.join();
    EXPECT_TRUE(done);

    // The consumed signal no longer releases an unlimited wait.
    Waiter blocked(event.handle, 1);
    EXPECT_TRUE(stays([&] { return blocked.completed() == 0; }));
}

TEST(Event, TriggerAndDonePingPongBetweenThreads)
{
    // The convolver's pair: a trigger created not signalled and a done event created signalled.
    Event trigger(0), done(1);
    constexpr int rounds = 2000;
    int work = 0; // handed back and forth; the events order every access
    std::thread worker([&] {
        for (int i = 0; i < rounds; ++i) {
            WaitForSingleObject(trigger.handle, -1);
            work += 1;
            SetEvent(done.handle);
        }
    });
    for (int i = 0; i < rounds; ++i) {
        WaitForSingleObject(done.handle, -1);
        EXPECT_EQ(work, i);
        SetEvent(trigger.handle);
    }
    WaitForSingleObject(done.handle, -1);
    worker.join();
    EXPECT_EQ(work, rounds);
}

TEST(Event, NullHandlesAreRefusedWithoutBlocking)
{
    EXPECT_EQ(SetEvent(nullptr), 0);
    EXPECT_EQ(WaitForSingleObject(nullptr, -1), -1);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), -1);
    EXPECT_EQ(CloseHandle(nullptr), 0);
    EXPECT_FALSE(corvella::event_is_signalled(nullptr));
    EXPECT_EQ(CloseHandle(CreateEvent(nullptr, 0, 1, nullptr)), 1);
}

TEST(CriticalSection, SameThreadEntersTwiceAndMustLeaveTwice)
{
    void* section = nullptr;
    InitializeCriticalSection(&section);
    ASSERT_NE(section, nullptr);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section); // recursive: does not deadlock

    std::atomic<bool> acquired{false};
    std::thread contender([&] {
        EnterCriticalSection(&section);
        acquired = true;
        LeaveCriticalSection(&section);
    });
    EXPECT_TRUE(stays([&] { return !acquired.load(); }));
    EXPECT_FALSE(other_thread_can_enter(&section));
    LeaveCriticalSection(&section);
    EXPECT_TRUE(stays([&] { return !acquired.load(); }));
    LeaveCriticalSection(&section);
    EXPECT_TRUE(eventually([&] { return acquired.load(); }));
    contender.join();
    EXPECT_TRUE(other_thread_can_enter(&section));
    DeleteCriticalSection(&section);
    EXPECT_EQ(section, nullptr);
}

TEST(CriticalSection, ScopedLocksGuardASharedCounterAndNullSlotsAreHarmless)
{
    void* section = nullptr;
    InitializeCriticalSection(&section);
    {
        corvella::CriticalSectionLock lock(&section);
        EXPECT_FALSE(other_thread_can_enter(&section));
    }
    EXPECT_TRUE(other_thread_can_enter(&section));

    long counter = 0;
    constexpr int per_thread = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < per_thread; ++i) {
                corvella::CriticalSectionLock lock(&section);
                counter += 1;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 4L * per_thread);
    DeleteCriticalSection(&section);
    DeleteCriticalSection(&section); // a second delete does nothing; so do null slots
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_EQ(section, nullptr);
    InitializeCriticalSection(nullptr);
    EnterCriticalSection(nullptr);
    LeaveCriticalSection(nullptr);
    DeleteCriticalSection(nullptr);
    EXPECT_FALSE(corvella::try_enter_critical_section(nullptr));
}

namespace {

struct ThreadProbe {
    std::atomic<int> runs{0};
    std::atomic<void*> seen_argument{nullptr};
    void* release = nullptr; // event the routine waits on before it returns
    std::atomic<bool> finished{false};
};

unsigned probe_routine(void* argument)
{
    auto* probe = static_cast<ThreadProbe*>(argument);
    probe->seen_argument = argument;
    probe->runs.fetch_add(1);
    if (probe->release != nullptr) WaitForSingleObject(probe->release, -1);
    probe->finished = true;
    return 7;
}

} // namespace

TEST(Thread, RunsTheRoutineWithItsArgumentAndEndsWithIt)
{
    ThreadProbe probe;
    unsigned thread_id = 12345;
    std::uintptr_t const handle = _beginthreadex(nullptr, 0, probe_routine, &probe, 0, &thread_id);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(eventually([&] { return !corvella::thread_is_running(handle); }));
    EXPECT_TRUE(probe.finished.load());
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(probe.seen_argument.load(), &probe);
    EXPECT_EQ(thread_id, 12345u); // not written
    // An ended thread has priority 0, and setting it reports success.
    EXPECT_EQ(GetThreadPriority(handle), 0);
    EXPECT_EQ(SetThreadPriority(handle, 10), 1);

    std::vector<std::uintptr_t> handles;
    for (int i = 0; i < 64; ++i)
        handles.push_back(_beginthreadex(
            nullptr, 0, [](void*) -> unsigned { return 0; }, nullptr, 0, nullptr));
    for (std::uintptr_t const h : handles) {
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(eventually([&] { return !corvella::thread_is_running(h); }));
    }
}

TEST(Thread, NoThreadOrAForeignOneHasPriorityZeroAndSettingItSucceeds)
{
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
    pthread_t const self = pthread_self();
    std::uintptr_t foreign = 0;
    std::memcpy(&foreign, &self, sizeof self);
    EXPECT_FALSE(corvella::thread_is_running(foreign));
    for (std::uintptr_t handle : {std::uintptr_t{0}, foreign}) {
        EXPECT_EQ(GetThreadPriority(handle), 0);
        EXPECT_EQ(SetThreadPriority(handle, 20), 1);
    }
    EXPECT_EQ(GetThreadPriority(nullptr), 0);
    EXPECT_EQ(SetThreadPriority(nullptr, 20), 1);
    EXPECT_EQ(ResumeThread(nullptr), 0);
}

TEST(Thread, PriorityChangesKeepTheRunningThreadsPolicy)
{
    ThreadProbe probe;
    probe.release = CreateEvent(nullptr, 0, 0, nullptr);
    std::uintptr_t const handle = _beginthreadex(nullptr, 0, probe_routine, &probe, 0, nullptr);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(eventually([&] { return probe.runs.load() == 1; }));
    auto const policy = [&](int& priority) {
        int result = -1;
        sched_param parameters{};
        EXPECT_EQ(pthread_getschedparam(static_cast<pthread_t>(handle), &result, &parameters), 0);
        priority = parameters.sched_priority;
        return result;
    };
    EXPECT_TRUE(corvella::thread_is_running(handle)); // the handle is the thread identifier
    EXPECT_EQ(ResumeThread(handle), 0);
    EXPECT_EQ(ResumeThread(reinterpret_cast<void*>(handle)), 0);
    EXPECT_FALSE(probe.finished.load());

    // Time sharing: priority 0 whatever is requested, yet every request is reported as done.
    int priority = -1;
    EXPECT_EQ(policy(priority), SCHED_OTHER);
    EXPECT_EQ(SetThreadPriority(handle, 20), 1);
    EXPECT_EQ(SetThreadPriority(reinterpret_cast<void*>(handle), 10), 1);
    EXPECT_EQ(policy(priority), SCHED_OTHER);
    EXPECT_EQ(priority, 0);
    EXPECT_EQ(GetThreadPriority(reinterpret_cast<void*>(handle)), 0);

    sched_param fifo{};
    fifo.sched_priority = 3;
    if (pthread_setschedparam(static_cast<pthread_t>(handle), SCHED_FIFO, &fifo) == 0) {
        EXPECT_EQ(GetThreadPriority(handle), 3);
        EXPECT_EQ(SetThreadPriority(handle, 10), 1);
        EXPECT_EQ(GetThreadPriority(handle), 10);
        EXPECT_EQ(policy(priority), SCHED_FIFO);
        EXPECT_EQ(priority, 10);
        EXPECT_EQ(SetThreadPriority(handle, 1000), 1); // out of range: refused, priority unchanged
        EXPECT_EQ(GetThreadPriority(handle), 10);
    } // else this machine does not allow real-time scheduling
    SetEvent(probe.release);
    EXPECT_TRUE(eventually([&] { return probe.finished.load(); }));
    CloseHandle(probe.release);
}

TEST(TickCount, CountsMillisecondsForward)
{
    std::uint64_t const first = corvella::tick_count_ms();
    std::this_thread::sleep_for(5ms);
    EXPECT_GE(corvella::tick_count_ms(), first + 4);
}
