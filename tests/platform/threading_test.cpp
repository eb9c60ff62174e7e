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
using Clock = std::chrono::steady_clock;

// Polls until `condition` holds; the limit only keeps a broken build from hanging the suite.
bool eventually(std::function<bool()> const& condition)
{
    for (auto const give_up = Clock::now() + 10s; !condition(); std::this_thread::sleep_for(1ms))
        if (Clock::now() > give_up) return false;
    return true;
}

// True when `condition` holds for a short while: how a test sees that a thread stays blocked.
bool stays(std::function<bool()> const& condition)
{
    for (auto const until = Clock::now() + 50ms; Clock::now() < until; std::this_thread::sleep_for(1ms))
        if (!condition()) return false;
    return condition();
}

struct Event {
    explicit Event(int initial_state, int manual_reset = 0)
        : handle(CreateEvent(nullptr, manual_reset, initial_state, "Local\\Event         1-         2"))
    {
    }
    ~Event() { CloseHandle(handle); }
    bool signalled() const { return corvella::event_is_signalled(handle); }
    void* handle;
};

// A thread that makes one unlimited wait on an event.
struct Waiter {
    explicit Waiter(void* event_handle)
        : event(event_handle), thread([this] {
              WaitForSingleObject(event, -1);
              done = true;
          })
    {
    }
    ~Waiter()
    {
        for (; !done; std::this_thread::sleep_for(1ms))
            SetEvent(event); // release a wait the test left blocked, so that a failing test still ends
        thread.join();
    }
    void* event;
    std::atomic<bool> done{false};
    std::thread thread;
};

} // namespace

TEST(Event, AutoResetWhateverTheFlagOnlyStateOneStartsSignalledAndSignalsDoNotCount)
{
    for (int manual_reset : {0, 1})
        for (int state : {1, 0, 2, -1, 255}) {
            SCOPED_TRACE(testing::Message() << "state " << state << ", manual reset " << manual_reset);
            Event event(state, manual_reset);
            ASSERT_NE(event.handle, nullptr);
            EXPECT_EQ(event.signalled(), state == 1);
            EXPECT_EQ(WaitForSingleObject(event.handle, 0), 0); // a timed wait never blocks
            EXPECT_FALSE(event.signalled());
            EXPECT_EQ(SetEvent(event.handle), 1);
            SetEvent(event.handle);
            EXPECT_EQ(WaitForSingleObject(event.handle, INT_MAX), 0); // consumes both signals at once
            EXPECT_FALSE(event.signalled());
        }
    EXPECT_EQ(SetEvent(nullptr), 0);
    EXPECT_EQ(WaitForSingleObject(nullptr, -1), -1);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), -1);
    EXPECT_EQ(CloseHandle(nullptr), 0);
    EXPECT_FALSE(corvella::event_is_signalled(nullptr));
}

TEST(Event, AnUnlimitedWaitBlocksUntilASignalAndOneSignalReleasesOneWait)
{
    Event event(0);
    std::atomic<bool> returned{false};
    std::thread timed([&] { // nothing pending: the longest timed wait returns at once too
        WaitForSingleObject(event.handle, INT_MAX);
        returned = true;
    });
    bool const done = eventually([&] { return returned.load(); });
    if (!done) SetEvent(event.handle);
    timed.join();
    EXPECT_TRUE(done);

    Waiter first(event.handle), second(event.handle);
    EXPECT_TRUE(stays([&] { return !first.done && !second.done; }));
    SetEvent(event.handle);
    ASSERT_TRUE(eventually([&] { return first.done || second.done; }));
    EXPECT_TRUE(stays([&] { return first.done != second.done; }));
    SetEvent(event.handle);
    EXPECT_TRUE(eventually([&] { return first.done && second.done; }));
}

TEST(Event, TriggerAndDonePingPongBetweenThreads)
{
    Event trigger(0), done(1); // the convolver's pair
    constexpr int rounds = 2000;
    int work = 0; // the events order every access
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

TEST(CriticalSection, RecursiveOwnershipExcludesOtherThreadsAndNullSlotsAreHarmless)
{
    void* section = nullptr;
    InitializeCriticalSection(&section);
    ASSERT_NE(section, nullptr);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    std::atomic<bool> acquired{false};
    std::thread contender([&] {
        EXPECT_FALSE(corvella::try_enter_critical_section(&section));
        corvella::CriticalSectionLock lock(&section);
        acquired = true;
    });
    EXPECT_TRUE(stays([&] { return !acquired; }));
    LeaveCriticalSection(&section);
    EXPECT_TRUE(stays([&] { return !acquired; })); // entered twice: must leave twice
    LeaveCriticalSection(&section);
    EXPECT_TRUE(eventually([&] { return acquired.load(); }));
    contender.join();

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                corvella::CriticalSectionLock lock(&section);
                counter += 1;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 80000L);
    DeleteCriticalSection(&section);
    EXPECT_EQ(section, nullptr);
    DeleteCriticalSection(&section); // a second delete and null slots do nothing
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    InitializeCriticalSection(nullptr);
    EnterCriticalSection(nullptr);
    LeaveCriticalSection(nullptr);
    DeleteCriticalSection(nullptr);
    EXPECT_FALSE(corvella::try_enter_critical_section(nullptr));
}

TEST(Thread, RunsTheRoutineWithItsArgumentAndPriorityChangesKeepItsPolicy)
{
    struct Probe {
        Event release{0};
        std::atomic<void*> argument{nullptr};
        std::atomic<bool> finished{false};
    } probe;
    auto const routine = [](void* argument) -> unsigned {
        auto* p = static_cast<Probe*>(argument);
        p->argument = argument;
        WaitForSingleObject(p->release.handle, -1);
        p->finished = true;
        return 7;
    };
    unsigned thread_id = 12345;
    std::uintptr_t const handle = _beginthreadex(nullptr, 0, routine, &probe, 0, &thread_id);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(eventually([&] { return probe.argument.load() == &probe; }));
    EXPECT_EQ(thread_id, 12345u); // not written
    EXPECT_TRUE(corvella::thread_is_running(handle));
    EXPECT_EQ(ResumeThread(handle), 0);
    auto const policy = [&](int& priority) {
        int result = -1;
        sched_param parameters{};
        EXPECT_EQ(pthread_getschedparam(static_cast<pthread_t>(handle), &result, &parameters), 0);
        priority = parameters.sched_priority;
        return result;
    };
    // Time sharing: priority 0 whatever is requested, yet every request is reported as done.
    int priority = -1;
    EXPECT_EQ(SetThreadPriority(reinterpret_cast<void*>(handle), 10), 1);
    EXPECT_EQ(policy(priority), SCHED_OTHER);
    EXPECT_EQ(priority, 0);
    EXPECT_EQ(GetThreadPriority(handle), 0);
    sched_param fifo{};
    fifo.sched_priority = 3;
    if (pthread_setschedparam(static_cast<pthread_t>(handle), SCHED_FIFO, &fifo) == 0) {
        EXPECT_EQ(GetThreadPriority(handle), 3);
        EXPECT_EQ(SetThreadPriority(handle, 10), 1);
        EXPECT_EQ(policy(priority), SCHED_FIFO);
        EXPECT_EQ(priority, 10);
        EXPECT_EQ(SetThreadPriority(handle, 1000), 1); // out of range: refused, priority unchanged
        EXPECT_EQ(GetThreadPriority(handle), 10);
    } // else this machine does not allow real-time scheduling
    SetEvent(probe.release.handle);
    ASSERT_TRUE(eventually([&] { return !corvella::thread_is_running(handle); }));
    EXPECT_TRUE(probe.finished.load());

    // An ended, foreign or missing thread has priority 0, and setting it reports success.
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
    pthread_t const self = pthread_self();
    std::uintptr_t foreign = 0;
    std::memcpy(&foreign, &self, sizeof self);
    EXPECT_FALSE(corvella::thread_is_running(foreign));
    for (std::uintptr_t h : {handle, foreign, std::uintptr_t{0}}) {
        EXPECT_EQ(GetThreadPriority(h), 0);
        EXPECT_EQ(SetThreadPriority(h, 20), 1);
    }
    EXPECT_EQ(GetThreadPriority(nullptr), 0);
    EXPECT_EQ(SetThreadPriority(nullptr, 20), 1);
    EXPECT_EQ(ResumeThread(nullptr), 0);
}
