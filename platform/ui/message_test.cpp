#include "platform/ui/message.h"

#include "platform/base/clock.h"
#include "platform/base/sync.h"
#include "platform/ui/ui_test_support.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace uitest;

namespace {

class MessageTest : public UiTest {};

TEST_F(MessageTest, PostedMessagesComeInOrderAndQuitComesLast) {
    Handler plain;
    HWND hwnd = MakeWindow(&plain);
    PostMessageW(hwnd, WM_USER + 1, 1, 0);
    PostQuitMessage(7);
    PostThreadMessageW(GetCurrentThreadId(), WM_USER + 2, 2, 0);
    PostMessageW(hwnd, WM_APP, 3, 0);

    MSG msg;
    // Filters: by range, by window, thread messages only.
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(GetQueueStatus(QS_POSTMESSAGE) & 0xFFFF0000u, static_cast<DWORD>(QS_POSTMESSAGE) << 16);

    std::vector<UINT> order;
    while (GetMessageW(&msg, nullptr, 0, 0))
        order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_APP}));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

    EXPECT_FALSE(PostThreadMessageW(0x7FFFFFF0, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    DestroyWindow(hwnd);
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessageTest, TranslatedCharacterComesRightAfterItsKey) {
    Handler plain;
    HWND hwnd = MakeWindow(&plain);
    PostMessageW(hwnd, WM_KEYDOWN, 'A', 0);
    PostMessageW(hwnd, WM_KEYDOWN, 'B', 0);

    std::vector<std::pair<UINT, WPARAM>> order;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        order.emplace_back(msg.message, msg.wParam);
        TranslateMessage(&msg);
    }
    const std::vector<std::pair<UINT, WPARAM>> expected = {
        {WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'}, {WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}};
    EXPECT_EQ(order, expected);
    DestroyWindow(hwnd);
}

TEST_F(MessageTest, SendMessageToAnotherThreadRunsOnThatThread) {
    std::atomic<DWORD> handledOn{0};
    GuiThread gui([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 10) {
            handledOn = GetCurrentThreadId();
            return static_cast<LRESULT>(wp * 2);
        }
        return DefWindowProcW(w, msg, wp, lp);
    });
    EXPECT_EQ(SendMessageW(gui.hwnd(), WM_USER + 10, 21, 0), 42);
    EXPECT_EQ(handledOn.load(), gui.threadId());
    DWORD_PTR result = 0;
    EXPECT_TRUE(
        SendMessageTimeoutW(gui.hwnd(), WM_USER + 10, 5, 0, SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG, 100, &result));
    EXPECT_EQ(result, 10u);
    // Text of a window of another thread goes through its procedure on its thread.
    SetWindowTextW(gui.hwnd(), u"remote");
    WCHAR text[16];
    EXPECT_EQ(GetWindowTextW(gui.hwnd(), text, 16), 6);
}

TEST_F(MessageTest, ABroadcastReachesEveryTopLevelWindowAndNoChild) {
    std::atomic<int> heardOnThread{0};
    GuiThread other([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_FONTCHANGE)
            ++heardOnThread;
        return DefWindowProcW(w, msg, wp, lp);
    });
    std::vector<HWND> heard;
    Handler record = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_FONTCHANGE)
            heard.push_back(w);
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND top = MakeWindow(&record);
    HWND child = MakeWindow(&record, WS_CHILD | WS_VISIBLE, top, 1);
    ASSERT_NE(child, nullptr);

    EXPECT_TRUE(SendMessageTimeoutW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr));
    EXPECT_EQ(heard, std::vector<HWND>{top});
    EXPECT_EQ(heardOnThread.load(), 1);

    // Posted, it arrives through each window's queue.
    EXPECT_TRUE(PostMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0));
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_EQ(heard, (std::vector<HWND>{top, top}));
    EXPECT_TRUE(Eventually([&] { return heardOnThread.load() == 2; }));
    DestroyWindow(top);
}

TEST_F(MessageTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    // Thread B's window answers WM_USER+1 by sending WM_USER+2 to thread A's window while A waits in its own
    // SendMessageW to B; A serves that message inside its wait.
    Handler aHandler = [](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 2)
            return static_cast<LRESULT>(wp + 1);
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND a = MakeWindow(&aHandler);
    std::atomic<DWORD> servedOn{0};
    GuiThread b([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 1) {
            const LRESULT inner = SendMessageW(reinterpret_cast<HWND>(lp), WM_USER + 2, wp, 0);
            servedOn = GetCurrentThreadId();
            return inner * 10;
        }
        return DefWindowProcW(w, msg, wp, lp);
    });
    EXPECT_EQ(SendMessageW(b.hwnd(), WM_USER + 1, 4, reinterpret_cast<LPARAM>(a)), 50);
    EXPECT_EQ(servedOn.load(), b.threadId());

    // The same in a ring of three threads with the sends nested three deep.
    GuiThread c([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 3)
            return SendMessageW(b.hwnd(), WM_USER + 1, wp, reinterpret_cast<LPARAM>(a)) + 1;
        return DefWindowProcW(w, msg, wp, lp);
    });
    EXPECT_EQ(SendMessageW(c.hwnd(), WM_USER + 3, 1, 0), 21);
    DestroyWindow(a);
}

TEST_F(MessageTest, ReplyMessageReleasesTheSenderEarly) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> inSend{false};
    std::atomic<bool> finished{false};
    GuiThread gui([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER) {
            inSend = InSendMessage() != 0;
            ReplyMessage(7);
            WaitForSingleObject(release, INFINITE);
            finished = true;
            return 99; // ignored: the sender already has its answer
        }
        return DefWindowProcW(w, msg, wp, lp);
    });
    EXPECT_EQ(SendMessageW(gui.hwnd(), WM_USER, 0, 0), 7);
    EXPECT_TRUE(inSend.load());
    EXPECT_FALSE(finished.load());
    SetEvent(release);
    ASSERT_TRUE(Eventually([&] { return finished.load(); }));
    EXPECT_FALSE(InSendMessage());
    CloseHandle(release);
}

TEST_F(MessageTest, SendTimesOutOnTheLayerClockAndEndedThreadsReleaseSenders) {
    platform::clock::UseManualClock(platform::clock::kUnixEpoch);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    GuiThread gui([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER) {
            SetEvent(busy);
            WaitForSingleObject(release, INFINITE);
            return 1;
        }
        return DefWindowProcW(w, msg, wp, lp);
    });
    PostMessageW(gui.hwnd(), WM_USER, 0, 0); // keeps the window's thread busy
    ASSERT_EQ(WaitForSingleObject(busy, INFINITE), WAIT_OBJECT_0);

    std::atomic<bool> done{false};
    std::atomic<LRESULT> ok{-1};
    std::atomic<DWORD> error{0};
    std::thread sender([&] {
        DWORD_PTR result = 0;
        ok = SendMessageTimeoutW(gui.hwnd(), WM_USER + 1, 0, 0, SMTO_NORMAL, 500, &result);
        error = GetLastError();
        done = true;
    });
    ASSERT_TRUE(Eventually([&] {
        platform::clock::Advance(100);
        return done.load();
    }));
    sender.join();
    EXPECT_EQ(ok.load(), 0);
    EXPECT_EQ(error.load(), ERROR_TIMEOUT);
    // Once the receiver has not asked for messages for five seconds it counts as hung: SMTO_ABORTIFHUNG gives up
    // at once, without waiting for the time-out.
    platform::clock::Advance(5001);
    DWORD_PTR ignored = 0;
    EXPECT_EQ(SendMessageTimeoutW(gui.hwnd(), WM_USER + 1, 0, 0, SMTO_ABORTIFHUNG, INFINITE, &ignored), 0);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    SetEvent(release);
    platform::clock::UseRealClock();

    // A thread that ends with a send pending answers it with 0.
    std::promise<HWND> made;
    std::thread owner([&] {
        Handler h;
        made.set_value(MakeWindow(&h));
        // Returns as soon as a message is sent to this thread, which then ends without answering it.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_SENDMESSAGE);
    });
    HWND orphan = made.get_future().get();
    EXPECT_EQ(SendMessageW(orphan, WM_USER, 0, 0), 0);
    owner.join();
    EXPECT_FALSE(IsWindow(orphan));
    CloseHandle(busy);
    CloseHandle(release);
}

std::vector<LRESULT> g_callbackResults;
void CALLBACK SendCallback(HWND, UINT, ULONG_PTR data, LRESULT result) {
    g_callbackResults.push_back(result + static_cast<LRESULT>(data));
}

TEST_F(MessageTest, NotifyAndCallbackSendsDoNotWait) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> notified{0};
    GuiThread gui([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER) {
            WaitForSingleObject(release, INFINITE);
            ++notified;
            return 5;
        }
        return DefWindowProcW(w, msg, wp, lp);
    });
    g_callbackResults.clear();
    // Both return while the receiver is still blocked.
    EXPECT_TRUE(SendNotifyMessageW(gui.hwnd(), WM_USER, 0, 0));
    EXPECT_TRUE(SendMessageCallbackW(gui.hwnd(), WM_USER, 0, 0, SendCallback, 100));
    EXPECT_EQ(notified.load(), 0);
    SetEvent(release);
    // The callback runs on this thread when it next looks at its queue.
    MSG msg;
    ASSERT_TRUE(Eventually([&] {
        PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        return !g_callbackResults.empty();
    }));
    EXPECT_EQ(notified.load(), 2);
    EXPECT_EQ(g_callbackResults, (std::vector<LRESULT>{105}));
    CloseHandle(release);
}

TEST_F(MessageTest, ModalLoopServesAWorkersStreamOfMessagesWithIdleProcessing) {
    constexpr int kCount = 200;
    std::atomic<int> received{0};
    std::atomic<int> enterIdle{0};
    HWND dialog = nullptr;
    Handler ownerHandler = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_ENTERIDLE && wp == MSGF_DIALOGBOX && reinterpret_cast<HWND>(lp) == dialog)
            ++enterIdle;
        return DefWindowProcW(w, msg, wp, lp);
    };
    Handler dialogHandler = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 1002) {
            ++received;
            return static_cast<LRESULT>(wp);
        }
        if (msg == WM_USER + 1003) {
            platform::ui::EndModalLoop(w, 42);
            return 0;
        }
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND owner = MakeWindow(&ownerHandler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    dialog = MakeWindow(&dialogHandler, WS_POPUP | WS_VISIBLE, owner);

    std::atomic<int> mismatches{0};
    std::atomic<bool> ownerDisabledSeen{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            if (SendMessageW(dialog, WM_USER + 1002, static_cast<WPARAM>(i), 0) != i)
                ++mismatches;
            if (!IsWindowEnabled(owner))
                ownerDisabledSeen = true;
        }
        PostMessageW(dialog, WM_USER + 1003, 0, 0);
    });
    int idleCalls = 0;
    platform::ui::ModalLoopOptions options;
    options.disableOwner = owner;
    options.onIdle = [&](LONG count) {
        ++idleCalls;
        return count < 2 ? TRUE : FALSE;
    };
    EXPECT_EQ(platform::ui::RunModalLoop(dialog, options), 42);
    worker.join();
    EXPECT_EQ(received.load(), kCount);
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_TRUE(ownerDisabledSeen.load());
    EXPECT_TRUE(IsWindowEnabled(owner)); // enabled again afterwards
    EXPECT_GT(idleCalls, 0);
    EXPECT_GT(enterIdle.load(), 0);
    EXPECT_FALSE(platform::ui::IsInModalLoop(dialog));

    // WM_QUIT ends a modal loop with -1 and is posted again for the loop outside.
    PostQuitMessage(3);
    EXPECT_EQ(platform::ui::RunModalLoop(dialog, {}), -1);
    MSG msg;
    EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 3u);

    // Destroying the window ends its loop.
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(platform::ui::RunModalLoop(dialog, {}), -1);
    EXPECT_FALSE(IsWindow(dialog));
    DestroyWindow(owner);
}

TEST_F(MessageTest, MsgWaitReturnsForObjectsAndForNewMessages) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
    const DWORD self = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread has a queue
    std::thread poster([&] { PostThreadMessageW(self, WM_USER + 5, 0, 0); });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
    poster.join();
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 5u);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST_F(MessageTest, DeadlockGuardReportsInsteadOfHanging) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            platform::ui::SetDeadlockTimeout(200);
            HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            std::promise<HWND> made;
            std::thread stuck([&] {
                Handler h;
                made.set_value(MakeWindow(&h));
                WaitForSingleObject(never, INFINITE); // never serves its messages
            });
            SendMessageW(made.get_future().get(), WM_USER, 0, 0);
        },
        "deadlock guard: thread [0-9]+ has been blocked in SendMessage");
}

} // namespace
