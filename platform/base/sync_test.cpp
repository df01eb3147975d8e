#include "platform/base/sync.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/thread.h"
#include "platform/testing/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using testsupport::Eventually;
using testsupport::WaitersOf;

// A host thread that runs a wait and records its result; joined on destruction.
class WaitingThread {
public:
    explicit WaitingThread(std::function<DWORD()> wait)
        : m_thread([this, wait = std::move(wait)] {
              result = wait();
              done = true;
          }) {}
    ~WaitingThread() { m_thread.join(); }
    std::atomic<DWORD> result{0xDEAD};
    std::atomic<bool> done{false};

private:
    std::thread m_thread;
};

class SyncTest : public ::testing::Test {
protected:
    platform::machine::ScopedTestMachine m_machine;
};

} // namespace

TEST_F(SyncTest, AutoResetEventWakesExactlyOneWaiter) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    WaitingThread a([&] { return WaitForSingleObject(event, INFINITE); });
    WaitingThread b([&] { return WaitForSingleObject(event, INFINITE); });
    ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 2; }));

    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(Eventually([&] { return a.done || b.done; }));
    // The one release was taken: the event is reset and the other thread still waits.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 1; }));
    EXPECT_FALSE(a.done && b.done);

    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(Eventually([&] { return a.done && b.done; }));
    EXPECT_EQ(a.result, WAIT_OBJECT_0);
    EXPECT_EQ(b.result, WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(SyncTest, ManualResetEventAndPulse) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        WaitingThread a([&] { return WaitForSingleObject(event, INFINITE); });
        WaitingThread b([&] { return WaitForSingleObject(event, INFINITE); });
        ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 2; }));
        // A pulse releases the threads waiting now and leaves the event reset.
        ASSERT_TRUE(PulseEvent(event));
        ASSERT_TRUE(Eventually([&] { return a.done && b.done; }));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    }
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0); // stays set
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SyncTest, WaitAllTakesEverythingOrNothing) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    const HANDLE both[] = {event, semaphore};
    WaitingThread all([&] { return WaitForMultipleObjects(2, both, TRUE, INFINITE); });
    ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 1; }));

    // Only one of the two is ready: the wait-all must leave it alone.
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(all.done);

    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
    ASSERT_TRUE(Eventually([&] { return all.done.load(); }));
    EXPECT_EQ(all.result, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);

    // Wait-any reports the lowest ready index.
    ReleaseSemaphore(semaphore, 1, nullptr);
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);

    const HANDLE twice[] = {event, event};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    const HANDLE bad[] = {event, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF0000))};
    EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
    CloseHandle(semaphore);
}

TEST_F(SyncTest, MutexIsRecursiveOwnedAndAbandonedWithItsThread) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0); }).join();

    // The owner ended without releasing: the next owner is told.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // recursive
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    }).join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex));
    }).join();

    HANDLE owned = CreateMutexW(nullptr, TRUE, nullptr);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(owned, 0), WAIT_TIMEOUT); }).join();
    EXPECT_TRUE(ReleaseMutex(owned));
    CloseHandle(owned);
    CloseHandle(mutex);
}

TEST_F(SyncTest, SemaphoreCountsAndRefusesToPassItsMaximum) {
    EXPECT_EQ(CreateSemaphoreW(nullptr, 3, 2, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 3, nullptr);
    LONG previous = -1;
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
}

TEST_F(SyncTest, NamedObjectsAreFoundByName) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"Local\\Ready");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, u"Ready");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // The same object: the second create's arguments are ignored.
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

    EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"Ready"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Ready");
    ASSERT_NE(opened, nullptr);

    HANDLE mutex = CreateMutexW(nullptr, TRUE, u"Lock");
    HANDLE mutexAgain = CreateMutexW(nullptr, TRUE, u"Lock");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    HANDLE mutexOpened = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"Lock");
    EXPECT_NE(mutexOpened, nullptr);
    CloseHandle(mutexOpened);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutexAgain)); // opening an existing mutex does not take it
    CloseHandle(mutex);
    CloseHandle(mutexAgain);

    CloseHandle(first);
    CloseHandle(second);
    CloseHandle(opened);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Ready"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE fresh = CreateSemaphoreW(nullptr, 0, 1, u"Ready");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(fresh);
}

TEST_F(SyncTest, TimedWaitOnTheManualClockTimesOutWhenTheClockPassesItsDeadline) {
    platform::clock::UseManualClock(platform::clock::kUnixEpoch);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        // Short of its deadline the wait is still there: the event set after the clock moved ends it.
        WaitingThread waiter([&] { return WaitForSingleObject(event, 500); });
        ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 1; }));
        platform::clock::Advance(499);
        SetEvent(event);
        ASSERT_TRUE(Eventually([&] { return waiter.done.load(); }));
        EXPECT_EQ(waiter.result, WAIT_OBJECT_0);
    }
    {
        WaitingThread waiter([&] { return WaitForSingleObject(event, 500); });
        ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 1; }));
        platform::clock::Advance(500);
        ASSERT_TRUE(Eventually([&] { return waiter.done.load(); }));
        EXPECT_EQ(waiter.result, WAIT_TIMEOUT);
    }
    // Sleep on the manual clock returns at once, having moved the clock.
    const DWORD before = GetTickCount();
    Sleep(60'000);
    EXPECT_EQ(GetTickCount() - before, 60'000u);
    CloseHandle(event);
    platform::clock::UseRealClock();
}

TEST_F(SyncTest, AlertableWaitsRunQueuedApcs) {
    static thread_local int t_calls = 0;
    std::atomic<DWORD> result{0};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID raw) -> DWORD {
            auto* r = static_cast<std::atomic<DWORD>*>(raw);
            *r = SleepEx(INFINITE, TRUE);
            return static_cast<DWORD>(t_calls);
        },
        &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The thread sleeps until an APC comes (whether it is queued before or during the sleep); it runs there.
    ASSERT_TRUE(QueueUserAPC([](ULONG_PTR data) { t_calls += static_cast<int>(data); }, thread, 7));
    ASSERT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    EXPECT_EQ(result, WAIT_IO_COMPLETION);
    DWORD exitCode = 0;
    GetExitCodeThread(thread, &exitCode);
    EXPECT_EQ(exitCode, 7u);
    CloseHandle(thread);

    // A non-alertable wait leaves queued APCs alone until an alertable one.
    bool ran = false;
    ASSERT_TRUE(QueueUserAPC([](ULONG_PTR data) { *reinterpret_cast<bool*>(data) = true; }, GetCurrentThread(),
                             reinterpret_cast<ULONG_PTR>(&ran)));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 1), WAIT_TIMEOUT);
    EXPECT_FALSE(ran);
    EXPECT_EQ(WaitForSingleObjectEx(event, 0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_TRUE(ran);
    CloseHandle(event);
}

TEST_F(SyncTest, WakeThreadRunsTheWaitersWakeHandler) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> waiterId{0};
    std::atomic<int> served{0};
    bool input = false; // guarded by the wait lock
    WaitingThread waiter([&] {
        waiterId = GetCurrentThreadId();
        platform::WaitOptions options;
        options.extraReady = [&] { return input; };
        options.onWake = [&] {
            ++served;
            platform::WaitLock lock;
            input = true;
        };
        return platform::WaitForObjects(1, &event, INFINITE, options);
    });
    ASSERT_TRUE(Eventually([&] { return WaitersOf(event) == 1 && waiterId != 0; }));
    platform::WakeThread(waiterId);
    ASSERT_TRUE(Eventually([&] { return waiter.done.load(); }));
    EXPECT_EQ(waiter.result, WAIT_OBJECT_0 + 1);
    EXPECT_EQ(served, 1);

    // A wake that arrives while the thread is in a plain wait (or not waiting) is kept for its next serving wait.
    platform::WakeThread(GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    int servedHere = 0;
    platform::WaitOptions options;
    options.onWake = [&] { ++servedHere; };
    EXPECT_EQ(platform::WaitForObjects(1, &event, 0, options), WAIT_TIMEOUT);
    EXPECT_EQ(servedHere, 1);
    CloseHandle(event);
}

TEST_F(SyncTest, CriticalSectionIsRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    EXPECT_EQ(cs.RecursionCount, 2);
    EXPECT_EQ(cs.OwningThread, GetCurrentThreadId());
    std::thread([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); }).join();
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10'000; ++i) {
                EnterCriticalSection(&cs);
                ++total;
                LeaveCriticalSection(&cs);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(total, 40'000);
    DeleteCriticalSection(&cs);
}

TEST(Interlocked, OperationsReturnWhatWindowsReturns) {
    LONG volatile value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 7), 12); // no match, unchanged
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
    EXPECT_EQ(value, 1);
    int a = 0, b = 0;
    PVOID volatile p = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&p, &b, &a), &a);
    EXPECT_EQ(InterlockedExchangePointer(&p, nullptr), &b);
}
