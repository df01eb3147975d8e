// The mouse: which window is under a point, and TrackMouseEvent's leave and hover messages.
#include "platform/base/clock.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/controls.h"
#include "platform/ui/input.h"
#include "platform/ui/timer.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

using namespace uitest;
using platform::ui::MoveMouse;

namespace {

// The messages of one kind waiting for `hwnd`.
std::vector<MSG> Take(HWND hwnd, UINT message) {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageW(&msg, hwnd, message, message, PM_REMOVE))
        out.push_back(msg);
    return out;
}

// A visible top-level window at a screen rectangle.
HWND Popup(Handler* handler, int x, int y, int width, int height) {
    HWND hwnd = MakeWindow(handler, WS_POPUP | WS_VISIBLE);
    EXPECT_TRUE(SetWindowPos(hwnd, HWND_TOP, x, y, width, height, 0));
    return hwnd;
}

HWND Child(HWND parent, LPCWSTR cls, DWORD style, int x, int y, int width, int height) {
    return CreateWindowExW(0, cls, u"", WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent, nullptr, nullptr,
                           nullptr);
}

using MouseTest = UiTest;

TEST_F(MouseTest, WindowFromPointFindsTheDeepestWindowThatTakesTheMouse) {
    Handler plain;
    HWND back = Popup(&plain, 100, 100, 200, 100);
    HWND front = Popup(&plain, 250, 100, 100, 100);
    HWND button = Child(back, WC_BUTTONW, BS_PUSHBUTTON, 10, 10, 50, 30);
    HWND label = Child(back, WC_STATICW, SS_LEFT, 10, 50, 50, 30);       // lets the mouse through
    HWND clickable = Child(back, WC_STATICW, SS_NOTIFY, 70, 50, 50, 30); // takes it
    HWND group = Child(back, WC_BUTTONW, BS_GROUPBOX, 0, 0, 200, 100);   // lies over the others, lets it through
    HWND off = Child(back, WC_BUTTONW, BS_PUSHBUTTON | WS_DISABLED, 70, 10, 50, 30);
    SetWindowPos(group, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    struct Case {
        const char* what;
        POINT at;
        HWND expected;
    };
    const Case cases[] = {
        {"button under a group box", {120, 120}, button}, {"static text", {120, 160}, back},
        {"static that notifies", {180, 160}, clickable},  {"disabled button", {180, 120}, back},
        {"window above the other", {260, 150}, front},    {"nothing there", {50, 50}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WindowFromPoint(c.at), c.expected);
    }
    // A shape takes the mouse only inside: the front window's cut corner shows the window behind it.
    ASSERT_EQ(SetWindowRgn(front, CreateEllipticRgn(0, 0, 100, 100), FALSE), 1);
    EXPECT_EQ(WindowFromPoint(POINT{252, 102}), back);
    EXPECT_EQ(WindowFromPoint(POINT{300, 150}), front);
    ShowWindow(front, SW_HIDE);
    EXPECT_EQ(WindowFromPoint(POINT{260, 150}), back);
    (void)label;
    (void)off;
    DestroyWindow(front);
    DestroyWindow(back);
}

TEST_F(MouseTest, LeavingATrackedWindowPostsMouseLeaveOnce) {
    Handler plain;
    HWND a = Popup(&plain, 100, 100, 100, 100);
    HWND b = Popup(&plain, 300, 100, 100, 100);
    ASSERT_TRUE(MoveMouse(150, 150));
    ASSERT_EQ(Take(a, WM_MOUSEMOVE).size(), 1u);
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, a, HOVER_DEFAULT};
    ASSERT_TRUE(TrackMouseEvent(&tme));
    TRACKMOUSEEVENT query{sizeof query, TME_QUERY, nullptr, 0};
    ASSERT_TRUE(TrackMouseEvent(&query));
    EXPECT_EQ(query.dwFlags, TME_LEAVE);
    EXPECT_EQ(query.hwndTrack, a);

    // Moving within the window says nothing; moving onto the other one tells the first.
    ASSERT_TRUE(MoveMouse(160, 160));
    EXPECT_TRUE(Take(a, WM_MOUSELEAVE).empty());
    ASSERT_TRUE(MoveMouse(350, 150));
    EXPECT_EQ(Take(a, WM_MOUSELEAVE).size(), 1u);
    EXPECT_EQ(Take(b, WM_MOUSEMOVE).size(), 1u);
    MoveMouse(360, 160);
    MoveMouse(150, 150);
    EXPECT_TRUE(Take(a, WM_MOUSELEAVE).empty()); // tracking ended with its message

    // Tracking a window the mouse is not over tells it at once; a cancelled tracking tells nothing.
    TRACKMOUSEEVENT other{sizeof other, TME_LEAVE, b, HOVER_DEFAULT};
    ASSERT_TRUE(TrackMouseEvent(&other));
    EXPECT_EQ(Take(b, WM_MOUSELEAVE).size(), 1u);
    ASSERT_TRUE(TrackMouseEvent(&tme));
    TRACKMOUSEEVENT cancel{sizeof cancel, TME_LEAVE | TME_CANCEL, a, 0};
    ASSERT_TRUE(TrackMouseEvent(&cancel));
    MoveMouse(350, 150);
    EXPECT_TRUE(Take(a, WM_MOUSELEAVE).empty());

    TRACKMOUSEEVENT small{sizeof small - 1, TME_LEAVE, a, 0};
    EXPECT_FALSE(TrackMouseEvent(&small));
    DestroyWindow(a);
    DestroyWindow(b);
}

class HoverTest : public UiTest {
protected:
    HoverTest() { platform::clock::UseManualClock(platform::clock::kUnixEpoch + 5 * platform::clock::kTicksPerSecond); }
    ~HoverTest() override { platform::clock::UseRealClock(); }
};

TEST_F(HoverTest, RestingOverATrackedWindowPostsMouseHoverOnce) {
    Handler plain;
    HWND hwnd = Popup(&plain, 100, 100, 100, 100);
    MoveMouse(150, 150);
    Take(hwnd, WM_MOUSEMOVE);
    UINT time = 0;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSEHOVERTIME, 0, &time, 0));
    EXPECT_EQ(time, 400u);
    TRACKMOUSEEVENT tme{sizeof tme, TME_HOVER | TME_LEAVE, hwnd, HOVER_DEFAULT};
    ASSERT_TRUE(TrackMouseEvent(&tme));
    // The program's own timer of the same number is another timer.
    EXPECT_FALSE(KillTimer(hwnd, 1));
    platform::clock::Advance(300);
    MoveMouse(151, 151); // within the hover rectangle: the wait goes on
    platform::clock::Advance(99);
    EXPECT_TRUE(Take(hwnd, WM_MOUSEHOVER).empty());
    platform::clock::Advance(1);
    std::vector<MSG> hover = Take(hwnd, WM_MOUSEHOVER);
    ASSERT_EQ(hover.size(), 1u);
    RECT box{};
    GetWindowRect(hwnd, &box);
    POINT client{151, 151};
    ScreenToClient(hwnd, &client);
    EXPECT_EQ(hover[0].lParam, MAKELPARAM(client.x, client.y));
    // Hovering ended; leaving is still tracked.
    TRACKMOUSEEVENT query{sizeof query, TME_QUERY, nullptr, 0};
    TrackMouseEvent(&query);
    EXPECT_EQ(query.dwFlags, TME_LEAVE);
    platform::clock::Advance(1000);
    EXPECT_TRUE(Take(hwnd, WM_MOUSEHOVER).empty());

    // Moving out of the hover rectangle starts the wait over from there.
    tme.dwFlags = TME_HOVER;
    tme.dwHoverTime = 100;
    ASSERT_TRUE(TrackMouseEvent(&tme));
    platform::clock::Advance(60);
    MoveMouse(160, 160);
    platform::clock::Advance(60);
    EXPECT_TRUE(Take(hwnd, WM_MOUSEHOVER).empty());
    platform::clock::Advance(40);
    EXPECT_EQ(Take(hwnd, WM_MOUSEHOVER).size(), 1u);
    DestroyWindow(hwnd);
}

} // namespace
