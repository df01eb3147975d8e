// The sortable list and the group check box on real windows of the window layer.
#include "app/GroupCheckBox.h"
#include "app/SortListCtrl.h"

#include "app/AppTestSupport.h"

#include "platform/afx/Button.h"
#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/listview.h"
#include "platform/ui/paint.h"

#include <string>
#include <vector>

namespace {

std::u16string Text(const CString& s) {
    return std::u16string(s.GetString(), static_cast<size_t>(s.GetLength()));
}

class ListControlsTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        ASSERT_TRUE(
            m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr));
    }
    void TearDown() override { m_parent.DestroyWindow(); }

    std::vector<std::u16string> Column(CSortListCtrl& list, int column) {
        std::vector<std::u16string> texts;
        for (int i = 0; i < list.GetItemCount(); ++i)
            texts.push_back(Text(list.GetItemText(i, column)));
        return texts;
    }

    CWnd m_parent;
};

TEST(SortListCompareTest, TextsCompareByTheirOwnKindsAndEveryPairAgreesBothWays) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int expected;
    };
    const Case cases[] = {
        {u"9", u"10", -1},
        {u"1.25", u"1.5", -1},
        {u" 7 ", u"7", 0},
        {u"-3", u"2", -1},
        {u"", u"a", -1},
        {u"", u"0", -1},
        {u"1/5/2024", u"12/31/2023", 1},
        {u"10:30", u"9:15", 1},
        {u"b", u"a", 1},
        {u"B", u"a", -1},
        {u"1.2.3", u"1.2.4", -1}, // dates, not numbers
        {u"1+2", u"1+3", -1},     // a sign inside is no number: text
        {u"10", u"9a", -1},       // a number before a text, whichever comes first
        {u"9a", u"10", 1},
        {u"5", u"1/1/2000", -1},
        {u"1/1/2000", u"zebra", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CSortListCtrl::CompareTexts(c.a, c.b), c.expected)
            << platform::Utf16ToUtf8(c.a) << " vs " << platform::Utf16ToUtf8(c.b);
        EXPECT_EQ(CSortListCtrl::CompareTexts(c.b, c.a), -c.expected);
    }
    // Three texts of three kinds keep one order: no cycle between "10", "9" and "1a".
    const char16_t* texts[] = {u"10", u"9", u"1a", u"", u"3/4/2021", u"+5", u"x"};
    for (const char16_t* a : texts)
        for (const char16_t* b : texts)
            for (const char16_t* c : texts)
                if (CSortListCtrl::CompareTexts(a, b) < 0 && CSortListCtrl::CompareTexts(b, c) < 0) {
                    EXPECT_LT(CSortListCtrl::CompareTexts(a, c), 0);
                }
}

TEST_F(ListControlsTest, ColumnSpecificationsRowsAndTheirRecords) {
    CSortListCtrl list;
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, RECT{0, 0, 300, 200}, &m_parent, 10));
    EXPECT_TRUE(list.GetExtendedStyle() & LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(list.SetColumns(u"A,1,50;B,100;C"));
    ASSERT_EQ(list.GetColumnCount(), 2);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH;
    ASSERT_TRUE(list.GetColumn(0, &column));
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER);
    EXPECT_EQ(column.cx, 50);
    ASSERT_TRUE(list.GetColumn(1, &column));
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    EXPECT_EQ(column.cx, 100);
    EXPECT_TRUE(list.SetColumns(u"Z, 0"));
    ASSERT_TRUE(list.GetColumn(2, &column));
    EXPECT_EQ(column.cx, 1);

    // Texts missing from AddItem are empty cells, never read past the caller's arguments.
    EXPECT_EQ(list.AddItem(0, u"one", u"x"), 0);
    EXPECT_EQ(list.AddItem(1, u"two", nullptr, u"z", u"beyond"), 1);
    EXPECT_EQ(Text(list.GetItemText(0, 2)), u"");
    EXPECT_EQ(Text(list.GetItemText(1, 1)), u"");
    EXPECT_EQ(Text(list.GetItemText(1, 2)), u"z");
    EXPECT_TRUE(list.SetItemText(0, 1, 42));
    EXPECT_TRUE(list.SetItemText(0, 2, 2.345, 2));
    EXPECT_TRUE(list.SetItemText(1, 1, u'Q'));
    EXPECT_TRUE(list.SetItemText(1, 2, 1.5f, -3));
    EXPECT_EQ(Text(list.GetItemText(0, 1)), u"42");
    EXPECT_EQ(Text(list.GetItemText(0, 2)), u"2.35");
    EXPECT_EQ(Text(list.GetItemText(1, 1)), u"Q");
    EXPECT_EQ(Text(list.GetItemText(1, 2)), u"2");
    EXPECT_FALSE(list.SetItemData(5, 1));
    EXPECT_TRUE(list.SetItemData(1, 77));
    EXPECT_EQ(list.GetItemData(1), 77u);
    EXPECT_EQ(list.InsertItem(LVIF_TEXT | LVIF_PARAM, 2, u"three", 0, 0, 0, 99), 2);
    EXPECT_EQ(list.GetItemData(2), 99u);

    // Swapping and moving carry texts, data, checks and selection together.
    list.SetCheckBoxes(TRUE);
    EXPECT_TRUE(list.CheckItem(2));
    EXPECT_TRUE(list.SelectItem(2));
    EXPECT_TRUE(list.MoveToTop(2));
    EXPECT_EQ(Column(list, 0), (std::vector<std::u16string>{u"three", u"one", u"two"}));
    EXPECT_EQ(list.GetItemData(0), 99u);
    EXPECT_TRUE(list.GetCheck(0));
    EXPECT_TRUE(list.IsItemSelected(0));
    EXPECT_FALSE(list.GetCheck(2));
    EXPECT_EQ(list.GetNextCheckedItem(-1), 0);
    EXPECT_EQ(list.GetNextUncheckedItem(0), 1);
    EXPECT_FALSE(list.SwapItems(0, 3));
    EXPECT_FALSE(list.MoveDown(2, 1));
    EXPECT_EQ(list.GetCheckedCount(), 1);
    EXPECT_EQ(list.GetUnselectedCount(), 2);
    EXPECT_FALSE(list.SelectItem(9));
    EXPECT_TRUE(list.SelectItem(9, TRUE));
    EXPECT_TRUE(list.IsItemSelected(2));

    // Deleting asks the callback with the row's own data; a refusal ends the run.
    auto refuse99 = [](DWORD data, LPARAM) -> BOOL { return data != 99; };
    EXPECT_EQ(list.DeleteAllItems(refuse99, 0), 0);
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_TRUE(list.DeleteItem(1, TRUE));
    EXPECT_TRUE(list.IsItemSelected(1));
    EXPECT_EQ(list.DeleteAllUnchecked(), 1);
    EXPECT_EQ(list.DeleteAllItems(), 1);
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(ListControlsTest, HeaderClicksSortAscendingThenDescendingAndTurnTheArrow) {
    CSortListCtrl list;
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, RECT{0, 0, 300, 200}, &m_parent, 10));
    ASSERT_TRUE(list.SetColumns(u"Name,120;Size,2,80"));
    const char16_t* rows[][2] = {{u"b", u"10"}, {u"a", u"9"}, {u"c", u""}, {u"d", u"100"}};
    for (const auto& row : rows)
        list.AddItem(list.GetItemCount(), row[0], row[1]);

    HWND header = list.GetSortHeader().m_hWnd;
    ASSERT_NE(header, nullptr);
    RECT item{};
    ::SendMessageW(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    auto click = [&] {
        ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(header, WM_LBUTTONUP, 0, at);
    };
    // The arrow's top point: highlight while ascending (the rising edge starts there), shadow while descending
    // (the top edge of the downward arrow).
    auto apexColour = [&] {
        HDC screen = ::GetDC(header);
        HDC dc = ::CreateCompatibleDC(screen);
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 300, 30);
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        ::SendMessageW(header, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), 0);
        const int c = (item.bottom - item.top) / 4;
        const COLORREF colour = ::GetPixel(dc, item.right - 2 * c, c);
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
        ::ReleaseDC(header, screen);
        return colour;
    };

    click();
    EXPECT_EQ(list.GetSortHeader().GetSortColumn(), 1);
    EXPECT_TRUE(list.GetSortHeader().IsAscending());
    EXPECT_EQ(Column(list, 1), (std::vector<std::u16string>{u"", u"9", u"10", u"100"}));
    EXPECT_EQ(Column(list, 0), (std::vector<std::u16string>{u"c", u"a", u"b", u"d"}));
    HDITEMW hd{};
    hd.mask = HDI_FORMAT;
    Header_GetItem(header, 1, &hd);
    EXPECT_TRUE(hd.fmt & HDF_OWNERDRAW);
    EXPECT_EQ(apexColour(), ::GetSysColor(COLOR_BTNHIGHLIGHT));

    click();
    EXPECT_FALSE(list.GetSortHeader().IsAscending());
    EXPECT_EQ(Column(list, 1), (std::vector<std::u16string>{u"100", u"10", u"9", u""}));
    EXPECT_EQ(apexColour(), ::GetSysColor(COLOR_BTNSHADOW));

    // Another column starts ascending again; a column outside the header is ignored.
    list.SortItems(0, FALSE);
    EXPECT_EQ(Column(list, 0), (std::vector<std::u16string>{u"d", u"c", u"b", u"a"}));
    list.SortItems(5, TRUE);
    EXPECT_EQ(list.GetSortHeader().GetSortColumn(), 0);
    list.SetItemText(0, 0, u"0");
    list.Resort();
    EXPECT_EQ(Column(list, 0), (std::vector<std::u16string>{u"c", u"b", u"a", u"0"}));
}

class CClickWatcher : public CWnd {
public:
    int clicks = 0;

protected:
    void OnBoxClicked() { ++clicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CClickWatcher, CWnd)
ON_BN_CLICKED(20, OnBoxClicked)
END_MESSAGE_MAP()

TEST_F(ListControlsTest, GroupCheckBoxSwitchesEveryControlThatOverlapsItsFrame) {
    CClickWatcher parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"page", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr));
    CButton frame, inside, partly, outside;
    CGroupCheckBox box;
    ASSERT_TRUE(frame.Create(u"Repeat", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, RECT{20, 20, 220, 200}, &parent, 21));
    ASSERT_TRUE(inside.Create(u"in", WS_CHILD | WS_VISIBLE, RECT{40, 50, 120, 70}, &parent, 22));
    ASSERT_TRUE(partly.Create(u"edge", WS_CHILD | WS_VISIBLE, RECT{200, 100, 260, 120}, &parent, 23));
    ASSERT_TRUE(outside.Create(u"out", WS_CHILD | WS_VISIBLE, RECT{240, 220, 300, 240}, &parent, 24));
    ASSERT_TRUE(box.Create(u"Repeat on selected day", WS_CHILD | WS_VISIBLE | BS_AUTO3STATE, RECT{0, 250, 50, 270},
                           &parent, 20));

    box.AttachToGroup(21, FALSE);
    CString caption;
    frame.GetWindowText(caption);
    EXPECT_TRUE(caption.IsEmpty());
    RECT rc{};
    box.GetWindowRect(&rc);
    POINT corner{rc.left, rc.top};
    parent.ScreenToClient(&corner);
    EXPECT_EQ(corner.x, 30);
    EXPECT_EQ(corner.y, 20);
    EXPECT_GT(rc.right - rc.left, 25);
    // Unchecked at the start: the controls that overlap the frame at all are disabled, the others not.
    EXPECT_FALSE(inside.IsWindowEnabled());
    EXPECT_FALSE(partly.IsWindowEnabled());
    EXPECT_TRUE(outside.IsWindowEnabled());
    EXPECT_TRUE(frame.IsWindowEnabled());

    box.SetCheck(BST_CHECKED);
    EXPECT_TRUE(inside.IsWindowEnabled());
    EXPECT_TRUE(partly.IsWindowEnabled());
    box.SetCheck(BST_INDETERMINATE);
    EXPECT_FALSE(inside.IsWindowEnabled());
    EXPECT_TRUE(inside.IsWindowVisible());

    // A click goes through the box's own handler and on to the parent.
    box.SetCheck(BST_UNCHECKED);
    box.SendMessage(BM_CLICK);
    EXPECT_EQ(box.GetCheck(), BST_CHECKED);
    EXPECT_TRUE(inside.IsWindowEnabled());
    EXPECT_EQ(parent.clicks, 1);

    // Hiding: the state also shows or hides the controls and the frame.
    box.AttachToGroup(&frame, TRUE);
    box.SetCheck(BST_UNCHECKED);
    EXPECT_FALSE(inside.IsWindowVisible());
    EXPECT_FALSE(frame.IsWindowVisible());
    EXPECT_TRUE(outside.IsWindowVisible());
    box.SetCheck(BST_INDETERMINATE);
    EXPECT_TRUE(inside.IsWindowVisible());
    EXPECT_FALSE(inside.IsWindowEnabled());
    EXPECT_TRUE(frame.IsWindowVisible());
    parent.DestroyWindow();
}

} // namespace
