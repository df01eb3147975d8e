#include "platform/base/waitabletimer.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/testing/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using platform::clock::kTicksPerMs;
using platform::clock::kTicksPerSecond;
using platform::clock::Ticks;

// 2024-03-01 00:00:00 UTC.
constexpr Ticks kStart = platform::clock::kUnixEpoch + 1'709'251'200LL * kTicksPerSecond;

class WaitableTimerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::clock::UseManualClock(kStart); }
    void TearDown() override { platform::clock::UseRealClock(); }
    platform::machine::ScopedTestMachine m_machine;
};

LARGE_INTEGER Absolute(Ticks t) {
    LARGE_INTEGER li;
    li.QuadPart = t;
    return li;
}

LARGE_INTEGER RelativeMs(int64_t ms) {
    LARGE_INTEGER li;
    li.QuadPart = -ms * kTicksPerMs;
    return li;
}

struct Fired {
    std::vector<Ticks> times;
    std::vector<DWORD> threads;
};

void CALLBACK Record(LPVOID argument, DWORD low, DWORD high) {
    auto* fired = static_cast<Fired*>(argument);
    fired->times.push_back(platform::clock::FromFileTime(FILETIME{low, high}));
    fired->threads.push_back(GetCurrentThreadId());
}

} // namespace

TEST_F(WaitableTimerTest, AbsoluteAndRelativeDueTimesFireAsTheClockPassesThem) {
    struct Case {
        const char* name;
        LARGE_INTEGER due;
    };
    for (const Case& c :
         {Case{"absolute", Absolute(kStart + 60 * kTicksPerSecond)}, Case{"relative", RelativeMs(60'000)}}) {
        SCOPED_TRACE(c.name);
        platform::clock::Set(kStart);
        HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
        ASSERT_NE(timer, nullptr);
        ASSERT_TRUE(SetWaitableTimer(timer, &c.due, 0, nullptr, nullptr, FALSE));
        EXPECT_EQ(WaitForSingleObject(timer, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        platform::clock::Advance(59'999);
        EXPECT_EQ(WaitForSingleObject(timer, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        platform::clock::Advance(1);
        EXPECT_EQ(WaitForSingleObject(timer, 0), WAIT_OBJECT_0);
        // Manual reset: it stays signalled.
        EXPECT_EQ(WaitForSingleObject(timer, 0), WAIT_OBJECT_0);
        CloseHandle(timer);
    }
}

TEST_F(WaitableTimerTest, SynchronizationTimerReleasesOneWaitAndPeriodReArms) {
    HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    LARGE_INTEGER due = RelativeMs(1000);
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 500, nullptr, nullptr, FALSE));
    platform::clock::Advance(1000);
    EXPECT_EQ(WaitForSingleObject(timer, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(timer, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    platform::clock::Advance(500);
    EXPECT_EQ(WaitForSingleObject(timer, 0), WAIT_OBJECT_0);
    // Cancelling stops the period.
    ASSERT_TRUE(CancelWaitableTimer(timer));
    platform::clock::Advance(5000);
    EXPECT_EQ(WaitForSingleObject(timer, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(timer);
}

TEST_F(WaitableTimerTest, CompletionRoutineRunsInTheSettingThreadsAlertableWait) {
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, u"Test Timer");
    Fired fired;
    std::atomic<int> stage{0};
    std::atomic<DWORD> workerId{0};
    std::atomic<DWORD> sleepResult{0};
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        LARGE_INTEGER due = Absolute(kStart + 10 * kTicksPerSecond);
        if (!SetWaitableTimer(timer, &due, 0, &Record, &fired, TRUE))
            return;
        stage = 1;
        sleepResult = SleepEx(INFINITE, TRUE);
        stage = 2;
    });
    // The routine is queued to the worker when the clock passes the due time, whether or not the worker has begun
    // its sleep by then, and runs there.
    EXPECT_TRUE(testsupport::Eventually([&] { return stage != 0; }));
    platform::clock::Advance(10'000);
    worker.join();
    EXPECT_EQ(sleepResult.load(), WAIT_IO_COMPLETION);
    ASSERT_EQ(fired.times.size(), 1u);
    EXPECT_EQ(fired.times[0], kStart + 10 * kTicksPerSecond);
    EXPECT_EQ(fired.threads[0], workerId.load());
    CloseHandle(timer);
}

TEST_F(WaitableTimerTest, NamesOpenTheSameTimerAndSettingAgainDisarms) {
    HANDLE a = CreateWaitableTimerW(nullptr, TRUE, u"Shared Name");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE b = CreateWaitableTimerW(nullptr, TRUE, u"Shared Name");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    LARGE_INTEGER first = RelativeMs(1000);
    ASSERT_TRUE(SetWaitableTimer(a, &first, 0, nullptr, nullptr, FALSE));
    LARGE_INTEGER later = RelativeMs(3000);
    ASSERT_TRUE(SetWaitableTimer(b, &later, 0, nullptr, nullptr, FALSE));
    platform::clock::Advance(2000);
    EXPECT_EQ(WaitForSingleObject(a, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    platform::clock::Advance(1000);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    CloseHandle(a);
    CloseHandle(b);
    // Once every handle is closed the name is free again: a new timer, not signalled.
    HANDLE c = CreateWaitableTimerW(nullptr, TRUE, u"Shared Name");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(c, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(c);
}

TEST_F(WaitableTimerTest, BadArgumentsFail) {
    LARGE_INTEGER due = RelativeMs(1);
    EXPECT_FALSE(SetWaitableTimer(nullptr, &due, 0, nullptr, nullptr, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    EXPECT_FALSE(SetWaitableTimer(timer, &due, -1, nullptr, nullptr, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetWaitableTimer(timer, nullptr, 0, nullptr, nullptr, FALSE));
    EXPECT_FALSE(CancelWaitableTimer(INVALID_HANDLE_VALUE));
    CloseHandle(timer);
}

TEST(WaitableTimerRealClockTest, FiresOnTheHostClock) {
    platform::machine::ScopedTestMachine machine;
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    LARGE_INTEGER due = RelativeMs(20);
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
    EXPECT_EQ(WaitForSingleObject(timer, 10'000), WAIT_OBJECT_0);
    CloseHandle(timer);
}
