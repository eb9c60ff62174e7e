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

// Polls `condition` until it holds or `limit` passes; the limit only keeps a broken build from
// hanging the suite.
bool eventually(std::function<bool()> const& condition, std::chrono::milliseconds limit = 10s)
{
    auto const give_up = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// True when `condition` stays true for a short while: how a test sees that a thread stays blocked.
bool stays(std::function<bool()> const& condition, std::chrono::milliseconds span = 50ms)
{
    auto const until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        if (!condition()) return false;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

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

struct EventCloser {
    void* event;
    ~EventCloser() { CloseHandle(event); }
};

TEST(Event, InitialStateOneLetsTheFirstWaitThroughAndBlocksTheSecond)
{
    void* event = CreateEvent(nullptr, 0, 1, "Local\\Event         1-         2");
    ASSERT_NE(event, nullptr);
    EventCloser closer{event};
    EXPECT_TRUE(corvella::event_is_signalled(event));

    Waiter waiter(event, 2);
    ASSERT_TRUE(eventually([&] { return waiter.completed() == 1; }));
    EXPECT_TRUE(stays([&] { return waiter.completed() == 1; }));
    EXPECT_FALSE(corvella::event_is_signalled(event));

    EXPECT_EQ(SetEvent(event), 1);
    EXPECT_TRUE(eventually([&] { return waiter.completed() == 2; }));
}

class EventInitialState : public testing::TestWithParam<int> {};

TEST_P(EventInitialState, AnythingButOneStartsNotSignalled)
{
    void* event = CreateEvent(nullptr, 0, GetParam(), nullptr);
    ASSERT_NE(event, nullptr);
    EventCloser closer{event};
    EXPECT_FALSE(corvella::event_is_signalled(event));

    Waiter waiter(event, 1);
    EXPECT_TRUE(stays([&] { return waiter.completed() == 0; }));
    SetEvent(event);
    EXPECT_TRUE(eventually([&] { return waiter.completed() == 1; }));
}

INSTANTIATE_TEST_SUITE_P(Values, EventInitialState, testing::Values(0, 2, -1, 255));

TEST(Event, SignalsDoNotCount)
{
    void* event = CreateEvent(nullptr, 0, 0, nullptr);
    EventCloser closer{event};
    EXPECT_EQ(SetEvent(event), 1);
    EXPECT_EQ(SetEvent(event), 1);

    Waiter waiter(event, 2);
    ASSERT_TRUE(eventually([&] { return waiter.completed() == 1; }));
    EXPECT_TRUE(stays([&] { return waiter.completed() == 1; }));
    EXPECT_FALSE(corvella::event_is_signalled(event));

    SetEvent(event);
    EXPECT_TRUE(eventually([&] { return waiter.completed() == 2; }));
}

TEST(Event, ManualResetFlagStillResetsAfterEachWait)
{
    void* event = CreateEvent(nullptr, 1, 1, nullptr);
    EventCloser closer{event};
    EXPECT_EQ(WaitForSingleObject(event, -1), 0);
    EXPECT_FALSE(corvella::event_is_signalled(event));
}

TEST(Event, ZeroTimeoutOnlyConsumesAPendingSignal)
{
    void* event = CreateEvent(nullptr, 0, 0, nullptr);
    EventCloser closer{event};

    EXPECT_EQ(WaitForSingleObject(event, 0), 0);
    EXPECT_FALSE(corvella::event_is_signalled(event));

    SetEvent(event);
    EXPECT_TRUE(corvella::event_is_signalled(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), 0);
    EXPECT_FALSE(corvella::event_is_signalled(event));

    // The consumed signal no longer releases an unlimited wait.
    Waiter waiter(event, 1);
    EXPECT_TRUE(stays([&] { return waiter.completed() == 0; }));
}

TEST(Event, PositiveTimeoutNeverBlocks)
{
    void* event = CreateEvent(nullptr, 0, 0, nullptr);
    EventCloser closer{event};
    std::atomic<bool> returned{false};
    std::atomic<int> result{-2};
    std::thread waiter([&] {
        result = WaitForSingleObject(event, INT_MAX);
        returned = true;
    });
    bool const done = eventually([&] { return returned.load(); });
    if (!done) SetEvent(event);
    waiter.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(corvella::event_is_signalled(event));
}

TEST(Event, OneSignalCompletesOneOfSeveralWaits)
{
    void* event = CreateEvent(nullptr, 0, 0, nullptr);
    EventCloser closer{event};
    Waiter first(event, 1);
    Waiter second(event, 1);
    auto const total = [&] { return first.completed() + second.completed(); };

    SetEvent(event);
    ASSERT_TRUE(eventually([&] { return total() >= 1; }));
    EXPECT_TRUE(stays([&] { return total() == 1; }));

    SetEvent(event);
    EXPECT_TRUE(eventually([&] { return total() == 2; }));
}

TEST(Event, TriggerAndDonePingPongBetweenThreads)
{
    // The convolver's pair: a trigger created not signalled and a done event created signalled.
    void* trigger = CreateEvent(nullptr, 0, 0, nullptr);
    void* done = CreateEvent(nullptr, 0, 1, nullptr);
    EventCloser close_trigger{trigger};
    EventCloser close_done{done};
    constexpr int rounds = 2000;
    int work = 0; // handed back and forth; the events order every access

    std::thread worker([&] {
        for (int i = 0; i < rounds; ++i) {
            WaitForSingleObject(trigger, -1);
            work += 1;
            SetEvent(done);
        }
    });
    for (int i = 0; i < rounds; ++i) {
        WaitForSingleObject(done, -1);
        EXPECT_EQ(work, i);
        SetEvent(trigger);
    }
    WaitForSingleObject(done, -1);
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
}

TEST(Event, CloseHandleReportsSuccess)
{
    void* event = CreateEvent(nullptr, 0, 1, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(CloseHandle(event), 1);
}

// Runs `attempt` on another thread and returns its answer.
bool from_other_thread(std::function<bool()> const& attempt)
{
    bool answer = false;
    std::thread other([&] { answer = attempt(); });
    other.join();
    return answer;
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
    EXPECT_FALSE(from_other_thread([&] { return corvella::try_enter_critical_section(&section); }));

    LeaveCriticalSection(&section);
    EXPECT_TRUE(stays([&] { return !acquired.load(); }));

    LeaveCriticalSection(&section);
    EXPECT_TRUE(eventually([&] { return acquired.load(); }));
    contender.join();

    bool const entered = from_other_thread([&] {
        bool const ok = corvella::try_enter_critical_section(&section);
        if (ok) LeaveCriticalSection(&section);
        return ok;
    });
    EXPECT_TRUE(entered);
    DeleteCriticalSection(&section);
    EXPECT_EQ(section, nullptr);
}

TEST(CriticalSection, GuardsASharedCounter)
{
    void* section = nullptr;
    InitializeCriticalSection(&section);
    long counter = 0;
    constexpr int per_thread = 20000;
    auto const work = [&] {
        for (int i = 0; i < per_thread; ++i) {
            corvella::CriticalSectionLock lock(&section);
            counter += 1;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 4L * per_thread);
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, ScopedLockLeavesAtTheEndOfItsScope)
{
    void* section = nullptr;
    InitializeCriticalSection(&section);
    auto const other_can_enter = [&] {
        return from_other_thread([&] {
            bool const ok = corvella::try_enter_critical_section(&section);
            if (ok) LeaveCriticalSection(&section);
            return ok;
        });
    };
    {
        corvella::CriticalSectionLock lock(&section);
        EXPECT_FALSE(other_can_enter());
    }
    EXPECT_TRUE(other_can_enter());
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, NullSlotsAndRepeatedDeletesAreHarmless)
{
    InitializeCriticalSection(nullptr);
    EnterCriticalSection(nullptr);
    LeaveCriticalSection(nullptr);
    DeleteCriticalSection(nullptr);
    EXPECT_FALSE(corvella::try_enter_critical_section(nullptr));

    void* section = nullptr;
    InitializeCriticalSection(&section);
    DeleteCriticalSection(&section);
    DeleteCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_EQ(section, nullptr);
}

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

TEST(Thread, BeginThreadRunsTheRoutineWithItsArgument)
{
    ThreadProbe probe;
    unsigned thread_id = 12345;
    std::uintptr_t const handle = _beginthreadex(nullptr, 0, probe_routine, &probe, 0, &thread_id);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(eventually([&] { return probe.finished.load(); }));
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(probe.seen_argument.load(), &probe);
    EXPECT_EQ(thread_id, 12345u);
}

TEST(Thread, AnEndedThreadHasNoPriorityAndSettingItSucceeds)
{
    ThreadProbe probe;
    std::uintptr_t const handle = _beginthreadex(nullptr, 0, probe_routine, &probe, 0, nullptr);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(eventually([&] { return !corvella::thread_is_running(handle); }));
    EXPECT_TRUE(probe.finished.load());
    EXPECT_EQ(GetThreadPriority(handle), 0);
    EXPECT_EQ(SetThreadPriority(handle, 10), 1);
}

TEST(Thread, ARoutineThatReturnsAtOnceIsNotLeftRunning)
{
    constexpr int count = 64;
    std::vector<std::uintptr_t> handles;
    for (int i = 0; i < count; ++i) {
        std::uintptr_t const handle = _beginthreadex(
            nullptr, 0, [](void*) -> unsigned { return 0; }, nullptr, 0, nullptr);
        ASSERT_NE(handle, 0u);
        handles.push_back(handle);
    }
    for (std::uintptr_t const handle : handles)
        EXPECT_TRUE(eventually([&] { return !corvella::thread_is_running(handle); }));
}

TEST(Thread, OnlyThreadsStartedHereArePrioritised)
{
    pthread_t const self = pthread_self();
    std::uintptr_t foreign = 0;
    std::memcpy(&foreign, &self, sizeof self);
    EXPECT_FALSE(corvella::thread_is_running(foreign));
    EXPECT_EQ(GetThreadPriority(foreign), 0);
    EXPECT_EQ(SetThreadPriority(foreign, 10), 1);
}

TEST(Thread, NoRoutineGivesNoThread)
{
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
}

// A thread kept inside its routine until the test releases it.
class RunningThread : public testing::Test {
protected:
    void SetUp() override
    {
        probe_.release = CreateEvent(nullptr, 0, 0, nullptr);
        handle_ = _beginthreadex(nullptr, 0, probe_routine, &probe_, 0, nullptr);
        ASSERT_NE(handle_, 0u);
        ASSERT_TRUE(eventually([&] { return probe_.runs.load() == 1; }));
    }
    void TearDown() override
    {
        SetEvent(probe_.release);
        EXPECT_TRUE(eventually([&] { return probe_.finished.load(); }));
        CloseHandle(probe_.release);
    }
    pthread_t thread() const { return static_cast<pthread_t>(handle_); }

    ThreadProbe probe_;
    std::uintptr_t handle_ = 0;
};

TEST_F(RunningThread, HandleIsTheThreadIdentifier)
{
    EXPECT_TRUE(corvella::thread_is_running(handle_));
    int policy = -1;
    sched_param parameters{};
    EXPECT_EQ(pthread_getschedparam(thread(), &policy, &parameters), 0);
}

TEST_F(RunningThread, ResumeDoesNothing)
{
    EXPECT_EQ(ResumeThread(handle_), 0);
    EXPECT_EQ(ResumeThread(reinterpret_cast<void*>(handle_)), 0);
    EXPECT_FALSE(probe_.finished.load());
}

TEST_F(RunningThread, TimeSharingPriorityIsZeroAndStaysSoWhateverIsRequested)
{
    int policy = -1;
    sched_param parameters{};
    ASSERT_EQ(pthread_getschedparam(thread(), &policy, &parameters), 0);
    ASSERT_EQ(policy, SCHED_OTHER);

    EXPECT_EQ(GetThreadPriority(handle_), 0);
    // Refused by the system under this policy, yet reported as done.
    EXPECT_EQ(SetThreadPriority(handle_, 20), 1);
    EXPECT_EQ(SetThreadPriority(reinterpret_cast<void*>(handle_), 10), 1);
    ASSERT_EQ(pthread_getschedparam(thread(), &policy, &parameters), 0);
    EXPECT_EQ(policy, SCHED_OTHER);
    EXPECT_EQ(parameters.sched_priority, 0);
    EXPECT_EQ(GetThreadPriority(reinterpret_cast<void*>(handle_)), 0);
}

TEST_F(RunningThread, PriorityChangesKeepTheThreadsPolicy)
{
    sched_param fifo{};
    fifo.sched_priority = 3;
    if (pthread_setschedparam(thread(), SCHED_FIFO, &fifo) != 0)
        GTEST_SKIP() << "this machine does not allow real-time scheduling";

    EXPECT_EQ(GetThreadPriority(handle_), 3);
    EXPECT_EQ(SetThreadPriority(handle_, 10), 1);
    EXPECT_EQ(GetThreadPriority(handle_), 10);
    int policy = -1;
    sched_param parameters{};
    ASSERT_EQ(pthread_getschedparam(thread(), &policy, &parameters), 0);
    EXPECT_EQ(policy, SCHED_FIFO);
    EXPECT_EQ(parameters.sched_priority, 10);

    // Out of the policy's range: refused, still reported as done, priority unchanged.
    EXPECT_EQ(SetThreadPriority(handle_, 1000), 1);
    EXPECT_EQ(GetThreadPriority(handle_), 10);
}

TEST(Thread, NoThreadHasPriorityZeroAndSettingItSucceeds)
{
    EXPECT_EQ(GetThreadPriority(std::uintptr_t{0}), 0);
    EXPECT_EQ(GetThreadPriority(nullptr), 0);
    EXPECT_EQ(SetThreadPriority(std::uintptr_t{0}, 20), 1);
    EXPECT_EQ(SetThreadPriority(nullptr, 20), 1);
    EXPECT_EQ(ResumeThread(nullptr), 0);
}

TEST(TickCount, NeverGoesBackwards)
{
    std::uint64_t const first = corvella::tick_count_ms();
    std::this_thread::sleep_for(5ms);
    std::uint64_t const second = corvella::tick_count_ms();
    EXPECT_GE(second, first + 4);
}

} // namespace
