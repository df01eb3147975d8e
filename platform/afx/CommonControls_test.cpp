// The framework's control, menu and image-list classes over the window layer.
#include "platform/afx/AnimateCtrl.h"
#include "platform/afx/DateTimeCtrl.h"
#include "platform/afx/GdiObject.h"
#include "platform/afx/ImageList.h"
#include "platform/afx/ListCtrl.h"
#include "platform/afx/Menu.h"
#include "platform/afx/ProgressCtrl.h"
#include "platform/afx/SliderCtrl.h"
#include "platform/afx/SpinButtonCtrl.h"
#include "platform/afx/TabCtrl.h"
#include "platform/afx/ToolTipCtrl.h"
#include "platform/afx/TreeCtrl.h"

#include "platform/base/clock.h"
#include "platform/base/machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string>* g_log = nullptr;
void Log(const std::string& entry) {
    if (g_log)
        g_log->push_back(entry);
}

// A tree that refuses to expand items whose data is 13, as the framework's reflection lets a control class do.
class CRefusingTree : public CTreeCtrl {
protected:
    void OnItemExpanding(NMHDR* pNMHDR, LRESULT* pResult) {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
        Log("tree:expanding");
        *pResult = nm->itemNew.lParam == 13;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRefusingTree, CTreeCtrl)
ON_NOTIFY_REFLECT(TVN_ITEMEXPANDINGW, OnItemExpanding)
END_MESSAGE_MAP()

class CHostWnd : public CWnd {
protected:
    void OnSelChanged(NMHDR* pNMHDR, LRESULT*) {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
        Log("host:selchanged " + std::to_string(nm->itemNew.lParam));
    }
    void OnItemChanged(NMHDR* pNMHDR, LRESULT*) {
        auto* nm = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
        if (nm->uChanged & LVIF_STATE)
            Log("host:itemchanged " + std::to_string(nm->iItem));
    }
    void OnCommand2() { Log("host:command 2"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CHostWnd, CWnd)
ON_NOTIFY(TVN_SELCHANGEDW, 10, OnSelChanged)
ON_NOTIFY(LVN_ITEMCHANGED, 11, OnItemChanged)
ON_COMMAND(2, OnCommand2)
END_MESSAGE_MAP()

class CountingMenu : public CMenu {
public:
    int drawn = 0, measured = 0;
    void DrawItem(LPDRAWITEMSTRUCT) override { ++drawn; }
    void MeasureItem(LPMEASUREITEMSTRUCT mis) override {
        ++measured;
        mis->itemHeight = 18;
    }
};

class CommonControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log = &m_log;
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr));
    }
    void TearDown() override {
        platform::ui::SetMenuHook(nullptr);
        m_host.DestroyWindow();
        g_log = nullptr;
    }
    void Pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
    }
    platform::machine::ScopedTestMachine m_machine;
    std::vector<std::string> m_log;
    CHostWnd m_host;
};

TEST_F(CommonControlsTest, TreeCtrlItemsChecksAndNotificationsReachTheControlAndItsParent) {
    CRefusingTree tree;
    ASSERT_TRUE(
        tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES | TVS_HASBUTTONS, RECT{0, 0, 200, 200}, &m_host, 10));
    HTREEITEM root = tree.InsertItem(TVIF_TEXT | TVIF_PARAM, u"Computer", 0, 0, 0, 0, 1, TVI_ROOT, TVI_LAST);
    HTREEITEM locked =
        tree.InsertItem(TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN, u"Locked", 0, 0, 0, 0, 13, root, TVI_LAST);
    HTREEITEM docs = tree.InsertItem(u"Documents", root);
    tree.SetItemData(docs, 21);
    tree.InsertItem(u"letter.txt", docs);
    ASSERT_TRUE(root && locked && docs);
    EXPECT_EQ(tree.GetItemText(docs), CString(u"Documents"));
    EXPECT_EQ(tree.GetItemData(docs), 21u);
    EXPECT_EQ(tree.GetChildItem(root), locked);
    EXPECT_EQ(tree.GetNextSiblingItem(locked), docs);
    EXPECT_EQ(tree.GetParentItem(docs), root);
    EXPECT_EQ(tree.GetRootItem(), root);
    EXPECT_TRUE(tree.ItemHasChildren(docs));
    EXPECT_EQ(tree.GetCount(), 4u);

    EXPECT_FALSE(tree.GetCheck(docs));
    EXPECT_TRUE(tree.SetCheck(docs));
    EXPECT_TRUE(tree.GetCheck(docs));
    EXPECT_EQ(tree.GetItemState(docs, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));

    // The reflected TVN_ITEMEXPANDING reaches the tree's own class, which can refuse; the parent's map sees
    // TVN_SELCHANGED.
    EXPECT_FALSE(tree.Expand(locked, TVE_EXPAND));
    EXPECT_TRUE(tree.Expand(docs, TVE_EXPAND));
    EXPECT_TRUE(tree.SelectItem(docs));
    EXPECT_EQ(tree.GetSelectedItem(), docs);
    EXPECT_EQ(m_log, (std::vector<std::string>{"tree:expanding", "tree:expanding", "host:selchanged 21"}));

    CImageList images;
    ASSERT_TRUE(images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 1));
    EXPECT_EQ(tree.SetImageList(&images, TVSIL_NORMAL), nullptr);
    EXPECT_EQ(tree.GetImageList(TVSIL_NORMAL), &images);
    RECT rc{};
    ASSERT_TRUE(tree.GetItemRect(docs, &rc, TRUE));
    UINT flags = 0;
    EXPECT_EQ(tree.HitTest(POINT{rc.left + 1, rc.top + 1}, &flags), docs);
    EXPECT_EQ(flags, TVHT_ONITEMLABEL);
    EXPECT_TRUE(tree.DeleteAllItems());
    EXPECT_EQ(tree.GetCount(), 0u);
}

int CALLBACK ByDataDescending(LPARAM a, LPARAM b, LPARAM) {
    return static_cast<int>(b - a);
}

TEST_F(CommonControlsTest, ListCtrlColumnsRowsChecksAndSelection) {
    CListCtrl list;
    ASSERT_TRUE(list.Create(WS_CHILD | LVS_REPORT | LVS_SHOWSELALWAYS, RECT{0, 0, 300, 200}, &m_host, 11));
    EXPECT_EQ(list.InsertColumn(0, u"Time", LVCFMT_LEFT, 80), 0);
    EXPECT_EQ(list.InsertColumn(1, u"Event", LVCFMT_LEFT, 150), 1);
    ASSERT_TRUE(list.GetHeaderCtrl());
    EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2);
    list.SetExtendedStyle(list.GetExtendedStyle() | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 3; ++i) {
        const int row = list.InsertItem(i, i == 0 ? u"10:00" : (i == 1 ? u"11:00" : u"12:00"));
        list.SetItemText(row, 1, u"copied");
        list.SetItemData(row, static_cast<DWORD_PTR>(i + 1));
    }
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(1, 0), CString(u"11:00"));
    EXPECT_EQ(list.GetItemText(2, 1), CString(u"copied"));
    EXPECT_TRUE(list.SetCheck(2));
    EXPECT_TRUE(list.GetCheck(2));
    EXPECT_FALSE(list.GetCheck(0));

    m_log.clear();
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(m_log, (std::vector<std::string>{"host:itemchanged 0", "host:itemchanged 2"}));
    std::vector<int> selected;
    for (POSITION pos = list.GetFirstSelectedItemPosition(); pos;)
        selected.push_back(list.GetNextSelectedItem(pos));
    EXPECT_EQ(selected, (std::vector<int>{0, 2}));
    EXPECT_EQ(list.GetSelectedCount(), 2u);

    EXPECT_TRUE(list.SortItems(ByDataDescending, 0));
    EXPECT_EQ(list.GetItemText(0, 0), CString(u"12:00"));
    EXPECT_TRUE(list.GetCheck(0)); // the state moves with its row
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(CommonControlsTest, SmallControlsThroughTheirClasses) {
    CProgressCtrl progress;
    ASSERT_TRUE(progress.Create(WS_CHILD, RECT{0, 0, 100, 10}, &m_host, 20));
    progress.SetRange(0, 100);
    EXPECT_EQ(progress.SetPos(40), 0);
    EXPECT_EQ(progress.GetPos(), 40);
    int lo = -1, hi = -1;
    progress.GetRange(lo, hi);
    EXPECT_EQ(hi, 100);

    CSliderCtrl slider;
    ASSERT_TRUE(slider.Create(WS_CHILD | TBS_NOTICKS, RECT{0, 0, 200, 30}, &m_host, 21));
    slider.SetRange(0, 500, TRUE);
    slider.SetPos(250);
    EXPECT_EQ(slider.GetPos(), 250);
    EXPECT_EQ(slider.GetRangeMax(), 500);

    CSpinButtonCtrl spin;
    ASSERT_TRUE(spin.Create(WS_CHILD | UDS_SETBUDDYINT, RECT{0, 0, 16, 20}, &m_host, 24));
    spin.SetRange32(8, 70000);
    spin.SetPos32(65000);
    EXPECT_EQ(spin.GetPos32(), 65000);
    spin.GetRange32(lo, hi);
    EXPECT_EQ(lo, 8);
    EXPECT_EQ(hi, 70000);
    UDACCEL accel[] = {{2, 10}};
    EXPECT_TRUE(spin.SetAccel(1, accel));
    EXPECT_EQ(spin.GetAccel(0, nullptr), 1u);
    CAnimateCtrl animation;
    ASSERT_TRUE(animation.Create(WS_CHILD | ACS_CENTER, RECT{0, 0, 40, 40}, &m_host, 25));
    EXPECT_FALSE(animation.Open(9999u)); // no such clip
    EXPECT_FALSE(animation.Play(0, static_cast<UINT>(-1), static_cast<UINT>(-1)));
    EXPECT_FALSE(animation.IsPlaying());

    CTabCtrl tabs;
    ASSERT_TRUE(tabs.Create(WS_CHILD, RECT{0, 0, 300, 200}, &m_host, 22));
    EXPECT_EQ(tabs.InsertItem(0, u"Backup"), 0);
    EXPECT_EQ(tabs.InsertItem(1, u"Restore"), 1);
    EXPECT_EQ(tabs.SetCurSel(1), 0);
    EXPECT_EQ(tabs.GetCurSel(), 1);

    CToolTipCtrl tip;
    ASSERT_TRUE(tip.Create(&m_host, TTS_ALWAYSTIP));
    EXPECT_TRUE(tip.AddTool(&tabs, u"Pages", nullptr, 1));
    tip.SetMaxTipWidth(400);
    EXPECT_EQ(tip.GetMaxTipWidth(), 400);
    tip.UpdateTipText(u"All pages", &tabs, 1);
    CString text;
    tip.GetText(text, &tabs, 1);
    EXPECT_EQ(text, CString(u"All pages"));
    EXPECT_EQ(tip.GetToolCount(), 1);
}

TEST_F(CommonControlsTest, MenusLoadTrackAndWrapHandles) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(700));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_TRUE(popup);
    EXPECT_EQ(CMenu::FromHandle(menu.GetSafeHmenu()), &menu);
    EXPECT_EQ(CMenu::FromHandlePermanent(popup->GetSafeHmenu()), nullptr); // a temporary wrapper
    EXPECT_EQ(popup->GetMenuItemCount(), 4u);
    CString text;
    popup->GetMenuString(2, text, MF_BYCOMMAND);
    EXPECT_EQ(text, CString(u"&Import Selection"));
    EXPECT_EQ(popup->EnableMenuItem(3, MF_ENABLED), static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(popup->CheckMenuItem(1, MF_CHECKED), static_cast<UINT>(MF_UNCHECKED));

    // The choice made in the pop-up arrives as a command in the owner's map.
    platform::ui::SetMenuHook(
        [](HMENU, const platform::ui::MenuHookInfo& info) -> UINT { return info.FindCommand(u"Import Selection"); });
    EXPECT_TRUE(popup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, 10, 10, &m_host));
    Pump();
    EXPECT_EQ(m_log, (std::vector<std::string>{"host:command 2"}));
    EXPECT_EQ(popup->TrackPopupMenu(TPM_RETURNCMD, 10, 10, &m_host), 2);

    // Owner-drawn items reach the menu object's own DrawItem and MeasureItem.
    CountingMenu own;
    ASSERT_TRUE(own.CreatePopupMenu());
    ASSERT_TRUE(own.AppendMenu(MF_OWNERDRAW, 50, reinterpret_cast<LPCTSTR>(0x1234)));
    MEASUREITEMSTRUCT mis{ODT_MENU, 0, 50, 0, 0, 0x1234};
    EXPECT_TRUE(AfxHandleMenuOwnerDraw(WM_MEASUREITEM, reinterpret_cast<LPARAM>(&mis)));
    EXPECT_EQ(mis.itemHeight, 18u);
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_MENU;
    dis.itemID = 50;
    dis.hwndItem = reinterpret_cast<HWND>(own.GetSafeHmenu());
    EXPECT_TRUE(AfxHandleMenuOwnerDraw(WM_DRAWITEM, reinterpret_cast<LPARAM>(&dis)));
    EXPECT_EQ(own.drawn, 1);
    EXPECT_EQ(own.measured, 1);
    dis.CtlType = ODT_BUTTON;
    EXPECT_FALSE(AfxHandleMenuOwnerDraw(WM_DRAWITEM, reinterpret_cast<LPARAM>(&dis)));

    // A window whose map does not handle them passes its menu's owner-draw messages on to the menu object.
    dis.CtlType = ODT_MENU;
    EXPECT_EQ(::SendMessageW(m_host.GetSafeHwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis)), TRUE);
    EXPECT_EQ(::SendMessageW(m_host.GetSafeHwnd(), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis)), TRUE);
    EXPECT_EQ(own.measured, 2);
    EXPECT_EQ(own.drawn, 2);

    // Detaching keeps the handle alive; destroying the object destroys an attached menu.
    HMENU handle = menu.Detach();
    EXPECT_TRUE(::IsMenu(handle));
    {
        CMenu scoped;
        ASSERT_TRUE(scoped.Attach(handle));
    }
    EXPECT_FALSE(::IsMenu(handle));
}

TEST_F(CommonControlsTest, ImageListsFromBitmapsAndHandles) {
    CImageList images;
    ASSERT_TRUE(images.Create(8, 8, ILC_COLOR32 | ILC_MASK, 0, 4));
    std::vector<uint32_t> bits(24 * 8, 0x0000FFu);
    CBitmap strip;
    ASSERT_TRUE(strip.Attach(::CreateBitmap(24, 8, 1, 32, bits.data())));
    EXPECT_EQ(images.Add(&strip, RGB(255, 0, 255)), 0);
    EXPECT_EQ(images.GetImageCount(), 3);
    HICON icon = images.ExtractIcon(1);
    ASSERT_TRUE(icon);
    EXPECT_EQ(images.Add(icon), 3);
    ::DestroyIcon(icon);
    EXPECT_TRUE(images.Remove(0));
    EXPECT_EQ(images.GetImageCount(), 3);

    CImageList* temporary = CImageList::FromHandle(images.GetSafeHandle());
    EXPECT_EQ(temporary, &images);
    HIMAGELIST handle = images.Detach();
    CImageList* wrapper = CImageList::FromHandle(handle);
    EXPECT_NE(wrapper, &images);
    EXPECT_EQ(wrapper->GetImageCount(), 3);
    EXPECT_FALSE(wrapper->DeleteImageList()); // a temporary wrapper never destroys its handle
    EXPECT_EQ(::ImageList_GetImageCount(handle), 3);
    ASSERT_TRUE(images.Attach(handle));
    EXPECT_TRUE(images.DeleteImageList());
    EXPECT_EQ(images.GetSafeHandle(), nullptr);
}

} // namespace

namespace {

std::u16string TextOf(const CWnd& wnd) {
    CString text;
    wnd.GetWindowText(text);
    return std::u16string(text);
}

class CChangeWatcher : public CWnd {
public:
    std::vector<SYSTEMTIME> changes;

protected:
    void OnDateChange(NMHDR* pNMHDR, LRESULT*) { changes.push_back(reinterpret_cast<NMDATETIMECHANGE*>(pNMHDR)->st); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CChangeWatcher, CWnd)
ON_NOTIFY(DTN_DATETIMECHANGE, 20, OnDateChange)
END_MESSAGE_MAP()

TEST(DateTimeCtrlTest, PickerHoldsATimeInItsRangeAndTheKeysChangeOneFieldWithinItsSpan) {
    platform::machine::ScopedTestMachine machine;
    platform::clock::UseManualClock(platform::clock::LocalToUtc(
        platform::clock::kUnixEpoch + platform::clock::DaysFromCivil(2024, 3, 31) * 86400LL * 10'000'000LL));
    CChangeWatcher host;
    ASSERT_TRUE(host.CreateEx(0, nullptr, u"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    CDateTimeCtrl date, time;
    ASSERT_TRUE(date.Create(WS_CHILD | WS_VISIBLE | DTS_SHORTDATEFORMAT, RECT{0, 0, 120, 22}, &host, 20));
    ASSERT_TRUE(time.Create(WS_CHILD | WS_VISIBLE | DTS_TIMEFORMAT | DTS_UPDOWN, RECT{0, 30, 120, 52}, &host, 21));

    // A new picker holds the current local time of the layer clock.
    COleDateTime now;
    ASSERT_TRUE(date.GetTime(now));
    EXPECT_EQ(now.GetYear(), 2024);
    EXPECT_EQ(now.GetMonth(), 3);
    EXPECT_EQ(now.GetDay(), 31);
    EXPECT_EQ(TextOf(date), u"3/31/2024");

    // Up on the month of 31 March gives 30 April (the day stays inside the month); Right, Up moves the day,
    // which wraps within April; each change is told to the parent.
    date.SendMessage(WM_KEYDOWN, VK_UP);
    CTime picked;
    ASSERT_EQ(date.GetTime(picked), static_cast<DWORD>(GDT_VALID));
    EXPECT_EQ(picked.GetMonth(), 4);
    EXPECT_EQ(picked.GetDay(), 30);
    date.SendMessage(WM_KEYDOWN, VK_RIGHT);
    date.SendMessage(WM_KEYDOWN, VK_UP);
    date.GetTime(picked);
    EXPECT_EQ(picked.GetMonth(), 4);
    EXPECT_EQ(picked.GetDay(), 1);
    ASSERT_EQ(host.changes.size(), 2u);
    EXPECT_EQ(host.changes[1].wDay, 1);
    EXPECT_EQ(host.changes[1].wDayOfWeek, 1); // 1 April 2024 is a Monday

    // Setting: a real date is kept (its day of the week put right), an impossible one or no date without
    // DTS_SHOWNONE is refused and nothing changes.
    SYSTEMTIME st{2025, 2, 0, 28, 7, 8, 9, 0};
    EXPECT_TRUE(time.SetTime(&st));
    SYSTEMTIME got{};
    ASSERT_EQ(time.GetTime(&got), static_cast<DWORD>(GDT_VALID));
    EXPECT_EQ(got.wDayOfWeek, 5);
    EXPECT_EQ(TextOf(time), u"7:08:09 AM");
    SYSTEMTIME impossible{2025, 2, 0, 29, 7, 8, 9, 0};
    EXPECT_FALSE(time.SetTime(&impossible));
    EXPECT_FALSE(time.SetTime(static_cast<const SYSTEMTIME*>(nullptr)));
    time.GetTime(&got);
    EXPECT_EQ(got.wDay, 28);
    EXPECT_TRUE(time.SetFormat(u"HH'h'mm"));
    EXPECT_EQ(TextOf(time), u"07h08");

    // A range pulls the value inside it and refuses times outside it.
    const CTime low(2025, 3, 1, 0, 0, 0), high(2025, 3, 31, 0, 0, 0);
    EXPECT_TRUE(time.SetRange(&low, &high));
    time.GetTime(&got);
    EXPECT_EQ(got.wMonth, 3);
    EXPECT_EQ(got.wDay, 1);
    EXPECT_FALSE(time.SetTime(&st));
    CTime gotLow, gotHigh;
    EXPECT_EQ(time.GetRange(&gotLow, &gotHigh), GDTR_MIN | GDTR_MAX);
    EXPECT_EQ(gotHigh, high);

    CDateTimeCtrl optional;
    ASSERT_TRUE(optional.Create(WS_CHILD | DTS_SHOWNONE, RECT{0, 60, 120, 82}, &host, 22));
    EXPECT_TRUE(optional.SetTime(static_cast<const SYSTEMTIME*>(nullptr)));
    COleDateTime none(2000, 1, 1, 0, 0, 0);
    EXPECT_TRUE(optional.GetTime(none));
    EXPECT_EQ(none.GetStatus(), COleDateTime::null);
    host.DestroyWindow();
    platform::clock::UseRealClock();
}

} // namespace
