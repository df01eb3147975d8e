#include "platform/ui/scrollbar.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/input.h"
#include "platform/ui/treeview.h"
#include "platform/ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class ScrollBarTest : public ::testing::Test {
protected:
    void SetUp() override { platform::ui::SetDeadlockTimeout(120000); }
    platform::machine::ScopedTestMachine m_machine;
};

SCROLLINFO Info(HWND hwnd, int bar) {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
    EXPECT_TRUE(GetScrollInfo(hwnd, bar, &si));
    return si;
}

TEST_F(ScrollBarTest, StandardScrollBarKeepsItsNumbersConsistent) {
    uitest::Handler handler;
    HWND hwnd = uitest::MakeWindow(&handler, WS_OVERLAPPEDWINDOW | WS_VSCROLL);
    // A window with the style starts with the range 0 to 100.
    EXPECT_EQ(Info(hwnd, SB_VERT).nMax, 100);

    struct Case {
        UINT mask;
        int min, max;
        UINT page;
        int pos;
        int wantMax;
        UINT wantPage;
        int wantPos;
    };
    const Case cases[] = {
        {SIF_ALL, 0, 99, 10, 50, 99, 10, 50},                       // inside
        {SIF_POS, 0, 0, 0, 95, 99, 10, 90},                         // past the last page
        {SIF_POS, 0, 0, 0, -3, 99, 10, 0},                          // before the start
        {SIF_PAGE, 0, 0, 500, 0, 99, 100, 0},                       // the page is at most the range
        {SIF_RANGE | SIF_PAGE | SIF_POS, 10, 20, 0, 25, 20, 0, 20}, // no page: up to the maximum
        {SIF_RANGE, 30, 5, 0, 0, 30, 0, 30},                        // an inverted range is empty
    };
    for (const Case& c : cases) {
        SCROLLINFO si{sizeof si, c.mask, c.min, c.max, c.page, c.pos, 0};
        const int pos = SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
        const SCROLLINFO got = Info(hwnd, SB_VERT);
        EXPECT_EQ(pos, c.wantPos) << c.pos;
        EXPECT_EQ(got.nPos, c.wantPos) << c.pos;
        EXPECT_EQ(got.nMax, c.wantMax) << c.pos;
        EXPECT_EQ(got.nPage, c.wantPage) << c.pos;
    }

    ASSERT_TRUE(SetScrollRange(hwnd, SB_VERT, 0, 40, FALSE));
    EXPECT_EQ(SetScrollPos(hwnd, SB_VERT, 12, TRUE), 30); // the previous position, kept within the new range
    EXPECT_EQ(GetScrollPos(hwnd, SB_VERT), 12);
    int lo = -1, hi = -1;
    EXPECT_TRUE(GetScrollRange(hwnd, SB_VERT, &lo, &hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(0, 40));

    // The two bars are separate; a window that never had a horizontal one has none to read.
    SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, 0, 0};
    EXPECT_FALSE(GetScrollInfo(hwnd, SB_HORZ, &si));
    EXPECT_EQ(GetLastError(), ERROR_NO_SCROLLBARS);
    EXPECT_EQ(GetScrollPos(hwnd, SB_HORZ), 0);
    EXPECT_FALSE(GetScrollInfo(hwnd, 7, &si));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetScrollPos(nullptr, SB_VERT, 1, FALSE), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(hwnd);
}

TEST_F(ScrollBarTest, RangesShowHideAndDisableTheStandardBars) {
    uitest::Handler handler;
    HWND hwnd = uitest::MakeWindow(&handler, WS_OVERLAPPEDWINDOW);
    RECT plain{};
    GetClientRect(hwnd, &plain);

    // A range that can scroll shows the bar and takes its room from the client area.
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE, 0, 99, 10, 0, 0};
    SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_STYLE) & WS_HSCROLL);
    RECT withBar{};
    GetClientRect(hwnd, &withBar);
    EXPECT_EQ(withBar.bottom, plain.bottom - GetSystemMetrics(SM_CYHSCROLL));
    // Nothing left to scroll: hidden again, or disabled when asked.
    si = SCROLLINFO{sizeof si, SIF_RANGE | SIF_PAGE, 0, 5, 10, 0, 0};
    SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
    EXPECT_FALSE(GetWindowLongW(hwnd, GWL_STYLE) & WS_HSCROLL);
    ASSERT_TRUE(ShowScrollBar(hwnd, SB_BOTH, TRUE));
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), WS_HSCROLL | WS_VSCROLL);
    si.fMask |= SIF_DISABLENOSCROLL;
    SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_STYLE) & WS_HSCROLL);
    EXPECT_FALSE(EnableScrollBar(hwnd, SB_HORZ, ESB_DISABLE_BOTH)); // already disabled
    EXPECT_TRUE(EnableScrollBar(hwnd, SB_HORZ, ESB_ENABLE_BOTH));
    ASSERT_TRUE(ShowScrollBar(hwnd, SB_VERT, FALSE));
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), WS_HSCROLL);
    DestroyWindow(hwnd);
}

TEST_F(ScrollBarTest, ScrollBarControlAnswersItsMessagesAndReportsClicks) {
    std::vector<std::pair<UINT, WORD>> seen;
    HWND control = nullptr;
    uitest::Handler handler = [&](HWND h, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if ((msg == WM_VSCROLL || msg == WM_HSCROLL) && reinterpret_cast<HWND>(lParam) == control)
            seen.emplace_back(msg, LOWORD(wParam));
        return DefWindowProcW(h, msg, wParam, lParam);
    };
    HWND parent = uitest::MakeWindow(&handler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    control = CreateWindowExW(0, WC_SCROLLBARW, u"", WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 17, 120, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(40)), nullptr, nullptr);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(Info(control, SB_CTL).nMax, 0); // a control starts with an empty range
    SendMessageW(control, SBM_SETRANGE, 0, 50);
    EXPECT_EQ(SendMessageW(control, SBM_SETPOS, 20, TRUE), 0);
    EXPECT_EQ(SendMessageW(control, SBM_GETPOS, 0, 0), 20);
    EXPECT_EQ(GetScrollPos(control, SB_CTL), 20);
    SCROLLINFO si{sizeof si, SIF_PAGE, 0, 0, 10, 0, 0};
    EXPECT_EQ(SendMessageW(control, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si)), 20);
    int lo = -1, hi = -1;
    SendMessageW(control, SBM_GETRANGE, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(0, 50));
    // SB_CTL on a window that is not a scroll bar control fails.
    EXPECT_FALSE(GetScrollInfo(parent, SB_CTL, &si));

    // Clicks: the arrows at both ends, the track on both sides of the thumb.
    struct Click {
        int y;
        WORD code;
    };
    const Click clicks[] = {{3, SB_LINEUP}, {116, SB_LINEDOWN}, {20, SB_PAGEUP}, {100, SB_PAGEDOWN}};
    for (const Click& c : clicks) {
        seen.clear();
        ASSERT_TRUE(platform::ui::ClickAt(control, 8, c.y));
        platform::ui::DrainMessages();
        EXPECT_EQ(seen, (std::vector<std::pair<UINT, WORD>>{{WM_VSCROLL, c.code}, {WM_VSCROLL, SB_ENDSCROLL}})) << c.y;
    }
    // A disabled arrow does nothing.
    EXPECT_TRUE(SendMessageW(control, SBM_ENABLE_ARROWS, ESB_DISABLE_UP, 0));
    seen.clear();
    platform::ui::ClickAt(control, 8, 3);
    platform::ui::DrainMessages();
    EXPECT_EQ(seen, (std::vector<std::pair<UINT, WORD>>{{WM_VSCROLL, SB_ENDSCROLL}}));
    DestroyWindow(parent);
}

HTREEITEM InsertTreeItem(HWND tree, const std::u16string& text) {
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<LPWSTR>(text.c_str());
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

TEST_F(ScrollBarTest, TreeViewReportsItsFirstRowAndOffsetThroughItsScrollBars) {
    InitCommonControls();
    uitest::Handler handler;
    HWND parent = uitest::MakeWindow(&handler);
    HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | WS_VISIBLE | TVS_HASLINES, 0, 0, 120, 100, parent,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(tree, nullptr);
    std::vector<HTREEITEM> items;
    for (int i = 0; i < 40; ++i)
        items.push_back(InsertTreeItem(tree, u"item " + std::u16string(i == 3 ? 60 : 1, u'x')));
    const auto firstVisible = [&] {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0));
    };

    SCROLLINFO v = Info(tree, SB_VERT);
    EXPECT_EQ(v.nMin, 0);
    EXPECT_EQ(v.nMax, 39);
    EXPECT_EQ(v.nPage, static_cast<UINT>(SendMessageW(tree, TVM_GETVISIBLECOUNT, 0, 0)));
    EXPECT_EQ(v.nPos, 0);
    EXPECT_TRUE(GetWindowLongW(tree, GWL_STYLE) & WS_VSCROLL);

    SendMessageW(tree, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(GetScrollPos(tree, SB_VERT), 1);
    EXPECT_EQ(firstVisible(), items[1]);
    // A position set on the bar is taken by the tree's own thumb handling.
    EXPECT_EQ(SetScrollPos(tree, SB_VERT, 7, FALSE), 1);
    EXPECT_EQ(GetScrollPos(tree, SB_VERT), 7);
    SendMessageW(tree, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, GetScrollPos(tree, SB_VERT)), 0);
    EXPECT_EQ(firstVisible(), items[7]);
    EXPECT_EQ(GetScrollPos(tree, SB_VERT), 7);
    SendMessageW(tree, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(GetScrollPos(tree, SB_VERT), 40 - static_cast<int>(v.nPage));
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[0]));
    EXPECT_EQ(GetScrollPos(tree, SB_VERT), 0);

    // The long label makes the tree wider than its window; scrolling right moves the labels left.
    const SCROLLINFO h = Info(tree, SB_HORZ);
    RECT client{};
    GetClientRect(tree, &client);
    EXPECT_GT(h.nMax + 1, client.right);
    EXPECT_EQ(h.nPage, static_cast<UINT>(client.right));
    RECT before{};
    ASSERT_TRUE(TreeView_GetItemRect(tree, items[0], &before, TRUE));
    SendMessageW(tree, WM_HSCROLL, SB_LINERIGHT, 0);
    const int offset = GetScrollPos(tree, SB_HORZ);
    EXPECT_GT(offset, 0);
    RECT after{};
    ASSERT_TRUE(TreeView_GetItemRect(tree, items[0], &after, TRUE));
    EXPECT_EQ(after.left, before.left - offset);
    SendMessageW(tree, WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(GetScrollPos(tree, SB_HORZ), h.nMax - static_cast<int>(h.nPage) + 1);
    DestroyWindow(parent);
}

TEST_F(ScrollBarTest, ListViewReportsItsTopRowThroughItsScrollBar) {
    InitCommonControls();
    uitest::Handler handler;
    HWND parent = uitest::MakeWindow(&handler);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, u"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 120, parent,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = 100;
    column.pszText = const_cast<LPWSTR>(u"Name");
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < 30; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<LPWSTR>(u"row");
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    const SCROLLINFO v = Info(list, SB_VERT);
    EXPECT_EQ(v.nMax, 29);
    EXPECT_EQ(v.nPage, static_cast<UINT>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)));
    SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(GetScrollPos(list, SB_VERT), static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0)));
    EXPECT_EQ(GetScrollPos(list, SB_VERT), static_cast<int>(v.nPage));
    SetScrollPos(list, SB_VERT, 4, FALSE);
    SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 4), 0);
    EXPECT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 4);
    EXPECT_EQ(GetScrollPos(list, SB_VERT), 4);
    DestroyWindow(parent);
}

} // namespace
