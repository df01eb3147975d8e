#include "platform/base/thread.h"

#include "platform/base/errors.h"
#include "platform/base/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>

#include <sched.h>

TEST(Threads, HandleIsSignalledAtTheEndWithTheExitCode) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID gate) -> DWORD {
            return WaitForSingleObject(static_cast<HANDLE>(gate), INFINITE) == WAIT_OBJECT_0 ? 42 : 1;
        },
        gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(GetThreadId(thread), id);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    SetEvent(gate);
    ASSERT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // stays signalled
    EXPECT_FALSE(TerminateThread(thread, 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(thread);
    CloseHandle(gate);
}

TEST(Threads, ExitPathsSetTheExitCode) {
    struct Case {
        LPTHREAD_START_ROUTINE routine;
        DWORD expected;
    } cases[] = {
        {[](LPVOID) -> DWORD { ExitThread(17); }, 17},
        {[](LPVOID) -> DWORD { throw std::runtime_error("escaped"); }, ERROR_UNHANDLED_EXCEPTION},
    };
    for (const auto& c : cases) {
        HANDLE thread = CreateThread(nullptr, 0, c.routine, nullptr, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(code, c.expected);
        CloseHandle(thread);
    }

    unsigned id = 0;
    const uintptr_t handle = _beginthreadex(
        nullptr, 0,
        [](void* arg) -> unsigned {
            if (arg)
                _endthreadex(5);
            return 6;
        },
        reinterpret_cast<void*>(1), 0, &id);
    ASSERT_NE(handle, 0u);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 10'000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(reinterpret_cast<HANDLE>(handle), &code);
    EXPECT_EQ(code, 5u);
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

TEST(Threads, SuspendedThreadStartsOnResume) {
    std::atomic<bool> ran{false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID flag) -> DWORD {
            static_cast<std::atomic<bool>*>(flag)->store(true);
            return 0;
        },
        &ran, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    EXPECT_FALSE(ran);
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

TEST(Threads, IdsAreSmallUniqueAndWorkForHostThreads) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    std::set<DWORD> ids{mine};
    for (int i = 0; i < 4; ++i)
        std::thread([&] { ids.insert(GetCurrentThreadId()); }).join();
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_LT(*ids.rbegin(), 1'000'000u);

    // The pseudo-handle names the calling thread; a duplicate is a real handle to it.
    EXPECT_EQ(GetThreadId(GetCurrentThread()), mine);
    HANDLE real = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetThreadId(real), mine);
    EXPECT_TRUE(SetThreadPriority(real, THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_EQ(GetThreadPriority(real), THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_FALSE(SetThreadPriority(real, 7));
    CloseHandle(real);
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

// The processor count is what the process may run on: a thread held to one processor sees one, and as many as
// its affinity names otherwise.
TEST(Threads, ActiveProcessorCountFollowsTheAffinity) {
    std::thread([] {
        cpu_set_t all;
        CPU_ZERO(&all);
        ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
        EXPECT_EQ(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), static_cast<DWORD>(CPU_COUNT(&all)));
        int first = 0;
        while (!CPU_ISSET(first, &all))
            ++first;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), 1u);
    }).join();
}
