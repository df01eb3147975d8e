#include "platform/base/iocp.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/sync.h"
#include "platform/testing/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class IocpTest : public ::testing::Test {
protected:
    platform::machine::ScopedTestMachine m_machine;
};

// A waitable object standing in for a file handle that can be associated with a port.
HANDLE NewIoObject() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

} // namespace

TEST_F(IocpTest, PostedPacketsComeOutInOrderWithTheirFields) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    ASSERT_NE(port, nullptr);
    OVERLAPPED a{}, b{};
    ASSERT_TRUE(PostQueuedCompletionStatus(port, 10, 111, &a));
    ASSERT_TRUE(PostQueuedCompletionStatus(port, 0, 0, &b));
    ASSERT_TRUE(PostQueuedCompletionStatus(port, 0, 0, nullptr));
    struct Expect {
        DWORD bytes;
        ULONG_PTR key;
        LPOVERLAPPED overlapped;
    };
    for (const Expect& e : {Expect{10, 111, &a}, Expect{0, 0, &b}, Expect{0, 0, nullptr}}) {
        DWORD bytes = 99;
        ULONG_PTR key = 99;
        LPOVERLAPPED ov = &a;
        ASSERT_TRUE(GetQueuedCompletionStatus(port, &bytes, &key, &ov, 0));
        EXPECT_EQ(bytes, e.bytes);
        EXPECT_EQ(key, e.key);
        EXPECT_EQ(ov, e.overlapped);
    }
    CloseHandle(port);
}

TEST_F(IocpTest, TimeOutRunsOnTheLayerClock) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED ov = nullptr;
    EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &ov, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ov, nullptr);

    platform::clock::UseManualClock(platform::clock::kUnixEpoch);
    enum Outcome { kNone, kTimedOut, kPacket, kOther };
    auto wait = [&] {
        DWORD b = 0;
        ULONG_PTR k = 0;
        LPOVERLAPPED o = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(port, &b, &k, &o, 5000);
        if (ok)
            return k == 77 ? kPacket : kOther;
        return GetLastError() == WAIT_TIMEOUT && !o ? kTimedOut : kOther;
    };
    // Short of its deadline the wait is still there: the packet posted after the clock moved ends it.
    Outcome outcome = kNone;
    std::thread early([&] { outcome = wait(); });
    ASSERT_TRUE(testsupport::Eventually([&] { return testsupport::WaitersOf(port) == 1; }));
    platform::clock::Advance(4999);
    PostQueuedCompletionStatus(port, 0, 77, nullptr);
    early.join();
    EXPECT_EQ(outcome, kPacket);
    // Once the clock passes the deadline the wait ends without one.
    std::thread late([&] { outcome = wait(); });
    ASSERT_TRUE(testsupport::Eventually([&] { return testsupport::WaitersOf(port) == 1; }));
    platform::clock::Advance(5000);
    late.join();
    EXPECT_EQ(outcome, kTimedOut);
    platform::clock::UseRealClock();
    CloseHandle(port);
}

TEST_F(IocpTest, AssociatedObjectCompletesThroughThePortWithItsKey) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    HANDLE file = NewIoObject();
    HANDLE other = NewIoObject();
    EXPECT_EQ(CreateIoCompletionPort(file, port, 0x1234, 0), port);
    // One port per object; a second association is refused.
    EXPECT_EQ(CreateIoCompletionPort(file, port, 1, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // Without an existing port a new one is made.
    HANDLE second = CreateIoCompletionPort(other, nullptr, 7, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, port);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ok{};
    ok.hEvent = event;
    OVERLAPPED failed{};
    platform::CompleteOverlappedIo(*platform::LookupHandle(file), &ok, ERROR_SUCCESS, 42);
    platform::CompleteOverlappedIo(*platform::LookupHandle(file), &failed, ERROR_OPERATION_ABORTED, 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ok.InternalHigh, 42u);

    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED ov = nullptr;
    ASSERT_TRUE(GetQueuedCompletionStatus(port, &bytes, &key, &ov, 0));
    EXPECT_EQ(bytes, 42u);
    EXPECT_EQ(key, 0x1234u);
    EXPECT_EQ(ov, &ok);
    // A failed operation comes out as FALSE with its OVERLAPPED and its error.
    EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &ov, 0));
    EXPECT_EQ(ov, &failed);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    // An event handle with its low bit set asks for no packet.
    OVERLAPPED quiet{};
    quiet.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) | 1);
    platform::CompleteOverlappedIo(*platform::LookupHandle(file), &quiet, ERROR_SUCCESS, 1);
    EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &ov, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WAIT_TIMEOUT));

    for (HANDLE h : {event, file, other, second, port})
        CloseHandle(h);
}

TEST_F(IocpTest, ManyThreadsTakeEveryPacketExactlyOnce) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    constexpr int kThreads = 4;
    constexpr int kPackets = 2000;
    std::atomic<long> sum{0};
    std::atomic<int> count{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (;;) {
                DWORD bytes = 0;
                ULONG_PTR key = 0;
                LPOVERLAPPED ov = nullptr;
                if (!GetQueuedCompletionStatus(port, &bytes, &key, &ov, INFINITE))
                    return;
                if (key == 0)
                    return;
                sum += static_cast<long>(key);
                ++count;
            }
        });
    }
    for (int i = 1; i <= kPackets; ++i)
        ASSERT_TRUE(PostQueuedCompletionStatus(port, 0, static_cast<ULONG_PTR>(i), nullptr));
    for (int t = 0; t < kThreads; ++t)
        PostQueuedCompletionStatus(port, 0, 0, nullptr);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(count.load(), kPackets);
    EXPECT_EQ(sum.load(), static_cast<long>(kPackets) * (kPackets + 1) / 2);
    CloseHandle(port);
}

TEST_F(IocpTest, ClosingThePortReleasesAWaitingThread) {
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    std::atomic<DWORD> error{0};
    std::thread waiter([&] {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED ov = nullptr;
        if (!GetQueuedCompletionStatus(port, &bytes, &key, &ov, INFINITE))
            error = GetLastError();
    });
    ASSERT_TRUE(testsupport::Eventually([&] { return testsupport::WaitersOf(port) == 1; }));
    CloseHandle(port);
    waiter.join();
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ABANDONED_WAIT_0));
    EXPECT_FALSE(PostQueuedCompletionStatus(port, 0, 0, nullptr));
}
