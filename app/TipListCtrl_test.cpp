#include "app/TipListCtrl.h"

#include "app/AppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/input.h"
#include "platform/ui/listview.h"
#include "platform/ui/message.h"
#include "platform/ui/paint.h"
#include "platform/ui/scrollbar.h"

namespace {

class TipListTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        platform::ui::SetDeadlockTimeout(120000);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        platform::clock::UseManualClock(platform::clock::Now());
        ASSERT_TRUE(
            m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr));
        ASSERT_TRUE(m_list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, RECT{0, 0, 400, 300}, &m_parent, 1));
        // As the event log makes its lists: full-row select, so that the whole row is hit.
        m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        m_list.InsertColumn(0, u"Type", LVCFMT_LEFT, 60);
        m_list.InsertColumn(1, u"Date", LVCFMT_LEFT, 100);
        m_list.InsertColumn(2, u"Log", LVCFMT_LEFT, 200);
    }
    void TearDown() override {
        m_list.DestroyWindow();
        m_parent.DestroyWindow();
        platform::clock::UseRealClock();
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    void AddRow(const char16_t* date, const char16_t* text, DWORD type) {
        const int row = m_list.InsertItem(m_list.GetItemCount(), u"type");
        m_list.SetItemText(row, 1, date);
        m_list.SetItemText(row, 2, text);
        m_list.SetItemData(row, type);
    }
    // The centre of a row, on the screen.
    POINT RowPoint(int row) const {
        RECT rc{};
        m_list.GetItemRect(row, &rc, LVIR_BOUNDS);
        POINT pt{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        m_list.ClientToScreen(&pt);
        return pt;
    }
    // The thread's messages, the list's passing its pre-translation first as in a dialog's loop.
    void Pump() {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == m_list.GetSafeHwnd() && m_list.PreTranslateMessage(&msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    void MoveTo(POINT pt) {
        platform::ui::MoveMouse(pt.x, pt.y);
        Pump();
    }
    void Wait(DWORD ms) {
        platform::clock::Advance(ms);
        Pump();
    }
    CBalloonTip& Balloon() { return m_list.GetBalloon(); }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CWnd m_parent;
    CTipListCtrl m_list;
};

int s_calls = 0;
BOOL s_answer = TRUE;
BOOL ScrollCallback(LPVOID lpParam) {
    ++s_calls;
    EXPECT_EQ(lpParam, &s_calls);
    return s_answer;
}

TEST_F(TipListTest, TheScrollCallbackComesOnlyForRowsAndStopsOnceItAnswersFalse) {
    s_calls = 0;
    s_answer = TRUE;
    ASSERT_TRUE(m_list.EnableTips(539, 537, 540, 538, ScrollCallback, &s_calls));
    m_list.SendMessage(WM_VSCROLL, SB_ENDSCROLL);
    EXPECT_EQ(s_calls, 0);
    AddRow(u"2008-3-9 08:05:01", u"one", 1);
    m_list.SendMessage(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(s_calls, 0);
    m_list.SendMessage(WM_VSCROLL, SB_ENDSCROLL);
    m_list.SendMessage(WM_HSCROLL, SB_ENDSCROLL);
    EXPECT_EQ(s_calls, 2);
    s_answer = FALSE;
    m_list.SendMessage(WM_VSCROLL, SB_ENDSCROLL);
    EXPECT_EQ(s_calls, 3);
    EXPECT_FALSE(m_list.HasScrollCallback());
    s_answer = TRUE;
    m_list.SendMessage(WM_VSCROLL, SB_ENDSCROLL);
    EXPECT_EQ(s_calls, 3);
}

TEST_F(TipListTest, TheBalloonShowsTheRowUnderTheMouseWithItsPointerOnTheMouse) {
    ASSERT_TRUE(m_list.EnableTips(539, 537, 540, 538, nullptr, nullptr));
    AddRow(u"2008-3-9 08:05:01", u"Start Kovra successfully.", 1);
    AddRow(u"2008-3-9 08:06:02", u"The file filter cannot be read.", 2);
    AddRow(u"2008-3-9 08:07:03", u"An odd row", 3);

    const POINT second = RowPoint(1);
    MoveTo(second);
    EXPECT_TRUE(Balloon().tracking);
    EXPECT_FALSE(Balloon().IsWindowVisible());
    Wait(499);
    EXPECT_FALSE(Balloon().IsWindowVisible());
    Wait(1);
    ASSERT_TRUE(Balloon().IsWindowVisible());
    EXPECT_TRUE(Balloon().GetText() == u"2008-3-9 08:06:02\nThe file filter cannot be read.");
    EXPECT_NE(Balloon().GetTipIcon(), nullptr);
    // The pointer's tip, 12 in from the right and 10 above the bottom, is on the mouse.
    RECT rc{};
    Balloon().GetWindowRect(&rc);
    EXPECT_EQ(rc.right - 12, second.x);
    EXPECT_EQ(rc.bottom - 10, second.y);
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    EXPECT_NE(GetWindowRgn(Balloon().GetSafeHwnd(), shape), ERROR);
    // The pointer ends in the pixel left of its tip.
    EXPECT_TRUE(PtInRegion(shape, rc.right - rc.left - 13, rc.bottom - rc.top - 12));
    EXPECT_FALSE(PtInRegion(shape, rc.right - rc.left - 13, rc.bottom - rc.top - 10));
    EXPECT_FALSE(PtInRegion(shape, 0, rc.bottom - rc.top - 1)); // below the body, left of the pointer
    DeleteObject(shape);

    // A move that reports the same place changes nothing.
    MoveTo(second);
    EXPECT_TRUE(Balloon().IsWindowVisible());

    // Another row: hidden at once, shown again with that row's text; a row of no known type has no icon.
    const POINT third = RowPoint(2);
    MoveTo(third);
    EXPECT_FALSE(Balloon().IsWindowVisible());
    Wait(500);
    ASSERT_TRUE(Balloon().IsWindowVisible());
    EXPECT_TRUE(Balloon().GetText() == u"2008-3-9 08:07:03\nAn odd row");
    EXPECT_EQ(Balloon().GetTipIcon(), nullptr);

    // Leaving the list hides it at once.
    MoveTo(POINT{50, 50});
    EXPECT_FALSE(Balloon().tracking);
    EXPECT_FALSE(Balloon().IsWindowVisible());
}

TEST_F(TipListTest, TheShapeGrowsWithTheTextAndTheIcon) {
    ASSERT_TRUE(m_list.EnableTips(539, 537, 540, 538, nullptr, nullptr));
    HDC dc = GetDC(m_list.GetSafeHwnd());
    auto shapeSize = [&](UINT type, const char16_t* text, SIZE* icon = nullptr) {
        AddRow(u"", text, type);
        const POINT pt = RowPoint(m_list.GetItemCount() - 1);
        MoveTo(pt);
        Wait(500);
        SIZE size{};
        DeleteObject(Balloon().CreateShape(dc, &size));
        if (icon)
            *icon = Balloon().GetIconSize();
        return size;
    };
    SIZE icon{};
    const SIZE oneLine = shapeSize(3, u"one line");
    const SIZE withIcon = shapeSize(1, u"one line", &icon);
    const SIZE threeLines = shapeSize(3, u"one\ntwo\nthree");
    ReleaseDC(m_list.GetSafeHwnd(), dc);
    EXPECT_GT(threeLines.cy, oneLine.cy);
    EXPECT_GT(withIcon.cx, oneLine.cx);
    // The icon is drawn at its own size (a standard icon is 32 x 32), and the body is at least as high.
    EXPECT_EQ(icon.cx, 32);
    EXPECT_EQ(icon.cy, 32);
    EXPECT_GE(withIcon.cy - 25, icon.cy);
}

} // namespace
