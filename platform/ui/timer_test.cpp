#include "platform/ui/timer.h"

#include "platform/base/clock.h"
#include "platform/base/sync.h"
#include "platform/ui/ui_test_support.h"

#include <atomic>
#include <vector>

using namespace uitest;

namespace {

class TimerTest : public UiTest {
protected:
    TimerTest() {
        platform::clock::UseManualClock(platform::clock::kUnixEpoch + 1000 * platform::clock::kTicksPerSecond);
    }
    ~TimerTest() override { platform::clock::UseRealClock(); }
};

int CountTimers(HWND hwnd, UINT_PTR id) {
    int n = 0;
    MSG msg;
    while (PeekMessageW(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE))
        if (msg.wParam == id)
            ++n;
    return n;
}

TEST_F(TimerTest, WindowTimersFireAsTheClockAdvancesAndCoalesce) {
    Handler plain;
    HWND hwnd = MakeWindow(&plain);
    ASSERT_EQ(SetTimer(hwnd, 2300, 1000, nullptr), 2300u);
    platform::clock::Advance(999);
    EXPECT_EQ(CountTimers(hwnd, 2300), 0);
    platform::clock::Advance(1);
    EXPECT_EQ(CountTimers(hwnd, 2300), 1);
    EXPECT_EQ(CountTimers(hwnd, 2300), 0); // next one a full period later
    platform::clock::Advance(5000);
    EXPECT_EQ(CountTimers(hwnd, 2300), 1); // missed periods give one WM_TIMER

    // Posted messages go before a due timer.
    platform::clock::Advance(1000);
    PostMessageW(hwnd, WM_USER, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));

    // Setting the same id again restarts it; killing removes it.
    platform::clock::Advance(600);
    SetTimer(hwnd, 2300, 1000, nullptr);
    platform::clock::Advance(600);
    EXPECT_EQ(CountTimers(hwnd, 2300), 0);
    EXPECT_TRUE(KillTimer(hwnd, 2300));
    platform::clock::Advance(5000);
    EXPECT_EQ(CountTimers(hwnd, 2300), 0);
    EXPECT_FALSE(KillTimer(hwnd, 2300));
    EXPECT_EQ(GetLastError(), ERROR_TIMER_NOT_FOUND);

    // Destroying the window ends its timers.
    SetTimer(hwnd, 1, 100, nullptr);
    DestroyWindow(hwnd);
    platform::clock::Advance(200);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

std::vector<UINT_PTR> g_procCalls;
void CALLBACK TimerProc(HWND, UINT msg, UINT_PTR id, DWORD) {
    if (msg == WM_TIMER)
        g_procCalls.push_back(id);
}

TEST_F(TimerTest, ThreadTimersAndTimerProcedures) {
    g_procCalls.clear();
    const UINT_PTR a = SetTimer(nullptr, 0, 50, TimerProc);
    const UINT_PTR b = SetTimer(nullptr, 0, 50, TimerProc);
    ASSERT_NE(a, 0u);
    ASSERT_NE(a, b);
    EXPECT_EQ(SetTimer(nullptr, a, 80, TimerProc), a); // an existing thread timer keeps its id
    platform::clock::Advance(80);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    std::sort(g_procCalls.begin(), g_procCalls.end());
    EXPECT_EQ(g_procCalls, (std::vector<UINT_PTR>{std::min(a, b), std::max(a, b)}));
    KillTimer(nullptr, a);
    KillTimer(nullptr, b);
}

TEST_F(TimerTest, AThreadWaitingForMessagesWakesWhenItsTimerFallsDue) {
    std::atomic<int> ticks{0};
    GuiThread gui([&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_TIMER && wp == 1523)
            ++ticks;
        if (msg == WM_USER)
            return static_cast<LRESULT>(SetTimer(w, 1523, 1000, nullptr));
        return DefWindowProcW(w, msg, wp, lp);
    });
    ASSERT_EQ(SendMessageW(gui.hwnd(), WM_USER, 0, 0), 1523);
    for (int second = 1; second <= 4; ++second) {
        platform::clock::Advance(1000);
        ASSERT_TRUE(Eventually([&] { return ticks.load() == second; })) << "tick " << second;
    }
}

struct MmContext {
    std::atomic<int> calls{0};
    HANDLE event = nullptr;
};

void CALLBACK MmCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* context = reinterpret_cast<MmContext*>(user);
    ++context->calls;
    SetEvent(context->event);
}

TEST_F(TimerTest, MultimediaTimersRunOnTheTimerThread) {
    MmContext context;
    context.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const MMRESULT periodic = timeSetEvent(25, 5, MmCallback, reinterpret_cast<DWORD_PTR>(&context), TIME_PERIODIC);
    ASSERT_NE(periodic, 0u);
    for (int i = 1; i <= 3; ++i) {
        platform::clock::Advance(25);
        ASSERT_TRUE(Eventually([&] { return context.calls.load() == i; }));
    }
    EXPECT_EQ(timeKillEvent(periodic), TIMERR_NOERROR);
    platform::clock::Advance(100);
    EXPECT_EQ(context.calls.load(), 3); // after timeKillEvent returns no callback runs
    EXPECT_EQ(timeKillEvent(periodic), MMSYSERR_INVALPARAM);

    // A one-shot timer fires once; the event form sets an event.
    HANDLE tick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const MMRESULT once =
        timeSetEvent(10, 0, reinterpret_cast<LPTIMECALLBACK>(tick), 0, TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
    ASSERT_NE(once, 0u);
    EXPECT_EQ(WaitForSingleObject(tick, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    platform::clock::Advance(10);
    EXPECT_EQ(WaitForSingleObject(tick, INFINITE), WAIT_OBJECT_0);
    platform::clock::Advance(100);
    EXPECT_EQ(WaitForSingleObject(tick, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(timeSetEvent(0, 0, MmCallback, 0, TIME_ONESHOT), 0u);
    CloseHandle(tick);
    CloseHandle(context.event);
}

} // namespace
