#include "platform/base/strings.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/listview.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

namespace {

using uitest::UiTest;

struct Change {
    UINT code;
    int item;
    UINT oldState;
    UINT newState;
    UINT changed;
};

class ListViewTest : public UiTest {
protected:
    void SetUp() override {
        InitCommonControls();
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_NOTIFY) {
                auto* hdr = reinterpret_cast<NMHDR*>(lParam);
                if (hdr->hwndFrom != m_list)
                    return 0;
                codes.push_back(hdr->code);
                auto* nm = reinterpret_cast<NMLISTVIEW*>(lParam);
                if (hdr->code == LVN_ITEMCHANGING || hdr->code == LVN_ITEMCHANGED)
                    changes.push_back({hdr->code, nm->iItem, nm->uOldState, nm->uNewState, nm->uChanged});
                if (hdr->code == LVN_DELETEITEM)
                    deleted.push_back(nm->lParam);
                if (hdr->code == LVN_COLUMNCLICK)
                    clickedColumns.push_back(nm->iSubItem);
                if (hdr->code == NM_CLICK || hdr->code == NM_DBLCLK)
                    activated.push_back(reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem);
                return onNotify ? onNotify(hdr) : 0;
            }
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler);
    }
    void TearDown() override {
        if (IsWindow(m_parent))
            DestroyWindow(m_parent);
    }

    HWND MakeList(DWORD style = LVS_REPORT | LVS_SHOWSELALWAYS) {
        m_list = CreateWindowExW(0, WC_LISTVIEWW, u"", WS_CHILD | WS_VISIBLE | style, 0, 0, 300, 200, m_parent,
                                 reinterpret_cast<HMENU>(9), nullptr, nullptr);
        EXPECT_TRUE(m_list);
        return m_list;
    }
    void Columns(std::initializer_list<const char16_t*> names, int width = 60) {
        int i = 0;
        for (const char16_t* name : names) {
            LVCOLUMNW col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            col.pszText = const_cast<LPWSTR>(name);
            col.cx = width;
            col.fmt = LVCFMT_LEFT;
            ASSERT_EQ(ListView_InsertColumn(m_list, i, &col), i);
            ++i;
        }
    }
    int Add(int index, const char16_t* text, LPARAM param = 0) {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = index;
        item.pszText = const_cast<LPWSTR>(text);
        item.lParam = param;
        return ListView_InsertItem(m_list, &item);
    }
    std::u16string Text(int index, int sub) {
        WCHAR buffer[64] = {};
        ListView_GetItemText(m_list, index, sub, buffer, 64);
        return buffer;
    }
    std::vector<std::u16string> Column0() {
        std::vector<std::u16string> out;
        for (int i = 0; i < ListView_GetItemCount(m_list); ++i)
            out.push_back(Text(i, 0));
        return out;
    }

    std::vector<UINT> codes;
    std::vector<Change> changes;
    std::vector<LPARAM> deleted;
    std::vector<int> clickedColumns;
    std::vector<int> activated;
    std::function<LRESULT(NMHDR*)> onNotify;
    uitest::Handler m_handler;
    HWND m_parent = nullptr;
    HWND m_list = nullptr;
};

TEST_F(ListViewTest, ColumnsLiveInTheHeaderAndSubItemsFollowThem) {
    MakeList();
    Columns({u"Name", u"Size", u"Date"});
    HWND header = ListView_GetHeader(m_list);
    ASSERT_TRUE(header);
    EXPECT_EQ(Header_GetItemCount(header), 3);

    EXPECT_EQ(Add(0, u"a.txt"), 0);
    EXPECT_EQ(Add(5, u"b.txt"), 1); // past the end: appended
    EXPECT_TRUE(ListView_SetItemText(m_list, 0, 1, u"10"));
    EXPECT_TRUE(ListView_SetItemText(m_list, 0, 2, u"today"));
    EXPECT_TRUE(ListView_SetItemText(m_list, 1, 1, u"20"));
    EXPECT_FALSE(ListView_SetItemText(m_list, 7, 1, u"x"));
    EXPECT_EQ(Text(0, 1), u"10");
    EXPECT_EQ(Text(1, 2), u"");
    WCHAR small[3];
    EXPECT_EQ(ListView_GetItemText(m_list, 0, 2, small, 3), 2);
    EXPECT_EQ(std::u16string(small), u"to");

    // Column captions, widths and formats read back; the header's format carries the alignment.
    LVCOLUMNW col{};
    WCHAR caption[16];
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    col.pszText = caption;
    col.cchTextMax = 16;
    ASSERT_TRUE(ListView_GetColumn(m_list, 1, &col));
    EXPECT_EQ(std::u16string(caption), u"Size");
    EXPECT_EQ(col.cx, 60);
    EXPECT_EQ(col.iSubItem, 1);
    col.mask = LVCF_FMT;
    col.fmt = LVCFMT_RIGHT;
    ASSERT_TRUE(ListView_SetColumn(m_list, 1, &col));
    HDITEMW hd{};
    hd.mask = HDI_FORMAT;
    ASSERT_TRUE(Header_GetItem(header, 1, &hd));
    EXPECT_EQ(hd.fmt & HDF_JUSTIFYMASK, HDF_RIGHT);
    hd.fmt |= HDF_OWNERDRAW;
    ASSERT_TRUE(Header_SetItem(header, 1, &hd));
    col.mask = LVCF_FMT;
    ASSERT_TRUE(ListView_GetColumn(m_list, 1, &col));
    EXPECT_EQ(col.fmt, LVCFMT_RIGHT);

    EXPECT_TRUE(ListView_SetColumnWidth(m_list, 0, 120));
    EXPECT_EQ(ListView_GetColumnWidth(m_list, 0), 120);
    EXPECT_TRUE(ListView_SetColumnWidth(m_list, 2, LVSCW_AUTOSIZE));
    EXPECT_EQ(ListView_GetColumnWidth(m_list, 2), 5 * 6 + 4); // "today" in 6-pixel characters and padding

    // Deleting a column drops its texts; deleting column 0 makes the next column's texts the item texts.
    EXPECT_TRUE(ListView_DeleteColumn(m_list, 1));
    EXPECT_EQ(Header_GetItemCount(header), 2);
    EXPECT_EQ(Text(0, 1), u"today");
    EXPECT_TRUE(ListView_DeleteColumn(m_list, 0));
    EXPECT_EQ(Text(0, 0), u"today");
    EXPECT_TRUE(ListView_DeleteColumn(m_list, 0));
    EXPECT_FALSE(ListView_DeleteColumn(m_list, 0));
    EXPECT_EQ(Header_GetItemCount(header), 0);
}

TEST_F(ListViewTest, CheckBoxesAndSelectionGoThroughChangeNotifications) {
    MakeList(LVS_REPORT | LVS_SINGLESEL);
    Columns({u"Day"});
    EXPECT_EQ(ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES), 0u);
    EXPECT_TRUE(ListView_GetImageList(m_list, LVSIL_STATE));
    for (int i = 0; i < 3; ++i)
        Add(i, i == 0 ? u"Sunday" : (i == 1 ? u"Monday" : u"Tuesday"), 100 + i);
    EXPECT_EQ(ListView_GetItemState(m_list, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
    EXPECT_FALSE(ListView_GetCheckState(m_list, 1));

    changes.clear();
    EXPECT_TRUE(ListView_SetCheckState(m_list, 1, TRUE));
    EXPECT_TRUE(ListView_GetCheckState(m_list, 1));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].code, LVN_ITEMCHANGING);
    EXPECT_EQ(changes[1].code, LVN_ITEMCHANGED);
    EXPECT_EQ(changes[1].item, 1);
    EXPECT_EQ(changes[1].oldState, INDEXTOSTATEIMAGEMASK(1));
    EXPECT_EQ(changes[1].newState, INDEXTOSTATEIMAGEMASK(2));
    EXPECT_EQ(changes[1].changed, LVIF_STATE);

    // A parent that answers LVN_ITEMCHANGING with TRUE keeps the old state.
    onNotify = [](NMHDR* h) -> LRESULT { return h->code == LVN_ITEMCHANGING; };
    EXPECT_FALSE(ListView_SetCheckState(m_list, 1, FALSE));
    EXPECT_TRUE(ListView_GetCheckState(m_list, 1));
    onNotify = nullptr;

    // A click on the state icon toggles the box; a click on the label selects, one row at a time.
    RECT rc{};
    ASSERT_TRUE(ListView_GetItemRect(m_list, 2, &rc, LVIR_BOUNDS));
    EXPECT_EQ(rc.top, 20 + 2 * 16); // below the header
    SendMessageW(m_list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, rc.top + 4));
    EXPECT_TRUE(ListView_GetCheckState(m_list, 2));
    SendMessageW(m_list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, rc.top + 4));
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_SELECTED), 2);
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_FOCUSED), 2);
    EXPECT_TRUE(ListView_SetItemState(m_list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(ListView_GetSelectedCount(m_list), 1u);             // single selection
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_FOCUSED), 0); // and one focused row
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_SELECTED), 0);
    EXPECT_EQ(ListView_GetNextItem(m_list, 0, LVNI_SELECTED), -1);
    ASSERT_GE(activated.size(), 2u);
    EXPECT_EQ(activated.back(), 2);

    // Space checks the focused row; LVIS_STATEIMAGEMASK reads through LVM_GETITEM only within stateMask.
    SendMessageW(m_list, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_SELECTED), 1);
    SendMessageW(m_list, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(ListView_GetCheckState(m_list, 1));
    LVITEMW item{};
    item.mask = LVIF_STATE | LVIF_PARAM;
    item.iItem = 2;
    item.stateMask = LVIS_STATEIMAGEMASK;
    ASSERT_TRUE(ListView_GetItem(m_list, &item));
    EXPECT_EQ(item.state, INDEXTOSTATEIMAGEMASK(2));
    EXPECT_EQ(item.lParam, 102);

    // Check boxes off: the state images go.
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_GRIDLINES);
    EXPECT_EQ(ListView_GetItemState(m_list, 2, LVIS_STATEIMAGEMASK), 0u);
    EXPECT_FALSE(ListView_GetImageList(m_list, LVSIL_STATE));
}

int CALLBACK ByParamDescending(LPARAM a, LPARAM b, LPARAM sort) {
    EXPECT_EQ(sort, 77);
    return a < b ? 1 : (a > b ? -1 : 0);
}

HWND g_sortList = nullptr;
int CALLBACK ByTextOfIndex(LPARAM a, LPARAM b, LPARAM) {
    WCHAR x[16], y[16];
    ListView_GetItemText(g_sortList, static_cast<int>(a), 0, x, 16);
    ListView_GetItemText(g_sortList, static_cast<int>(b), 0, y, 16);
    return wcscmp(x, y);
}

TEST_F(ListViewTest, SortsWithACallbackFindsItemsAndSortsOnInsert) {
    MakeList();
    Columns({u"Name"});
    Add(0, u"b", 2);
    Add(1, u"c", 3);
    Add(2, u"a", 1);
    EXPECT_TRUE(ListView_SortItems(m_list, ByParamDescending, 77));
    EXPECT_EQ(Column0(), (std::vector<std::u16string>{u"c", u"b", u"a"}));
    g_sortList = m_list;
    EXPECT_TRUE(ListView_SortItemsEx(m_list, ByTextOfIndex, 0));
    EXPECT_EQ(Column0(), (std::vector<std::u16string>{u"a", u"b", u"c"}));

    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = 3;
    EXPECT_EQ(ListView_FindItem(m_list, -1, &find), 2);
    find.flags = LVFI_STRING;
    find.psz = u"B";
    EXPECT_EQ(ListView_FindItem(m_list, -1, &find), 1);
    EXPECT_EQ(ListView_FindItem(m_list, 1, &find), -1);
    find.flags = LVFI_STRING | LVFI_WRAP;
    EXPECT_EQ(ListView_FindItem(m_list, 1, &find), 1);
    find.flags = LVFI_PARTIAL;
    find.psz = u"";
    EXPECT_EQ(ListView_FindItem(m_list, 0, &find), 1);

    HWND sorted = CreateWindowExW(0, WC_LISTVIEWW, u"", WS_CHILD | LVS_REPORT | LVS_SORTASCENDING, 0, 0, 100, 100,
                                  m_parent, nullptr, nullptr, nullptr);
    for (const char16_t* text : {u"pear", u"Apple", u"fig"}) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = 0;
        item.pszText = const_cast<LPWSTR>(text);
        ListView_InsertItem(sorted, &item);
    }
    WCHAR buffer[16];
    ListView_GetItemText(sorted, 0, 0, buffer, 16);
    EXPECT_EQ(std::u16string(buffer), u"Apple");
    ListView_GetItemText(sorted, 2, 0, buffer, 16);
    EXPECT_EQ(std::u16string(buffer), u"pear");
}

TEST_F(ListViewTest, NotifiesInsertDeleteColumnClicksAndAsksForCallbackTexts) {
    MakeList();
    Columns({u"Name", u"Info"});
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.lParam = 41;
    ASSERT_EQ(ListView_InsertItem(m_list, &item), 0);
    Add(1, u"plain", 42);
    Add(2, u"third", 43);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), LVN_INSERTITEM), 3);
    onNotify = [](NMHDR* h) -> LRESULT {
        if (h->code == LVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMLVDISPINFOW*>(h);
            EXPECT_EQ(di->item.lParam, 41);
            lstrcpynW(di->item.pszText, u"from parent", di->item.cchTextMax);
        }
        return 0;
    };
    EXPECT_EQ(Text(0, 0), u"from parent");

    // A click on a header item (button down and up on it) is a column click.
    HWND header = ListView_GetHeader(m_list);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 5));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(70, 5));
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 5));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(10, 5)); // released elsewhere: no click
    EXPECT_EQ(clickedColumns, (std::vector<int>{1}));

    // Double click and right click on a row.
    RECT rc{};
    ListView_GetItemRect(m_list, 1, &rc, LVIR_LABEL);
    SendMessageW(m_list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(rc.left + 2, rc.top + 2));
    EXPECT_EQ(activated.back(), 1);
    SendMessageW(m_list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(rc.left + 2, rc.top + 2));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), NM_RCLICK), 1);
    EXPECT_EQ(ListView_GetNextItem(m_list, -1, LVNI_SELECTED), 1);
    LVHITTESTINFO hit{};
    hit.pt = POINT{70, rc.top + 2};
    EXPECT_EQ(ListView_HitTest(m_list, &hit), -1); // a sub-item without full-row select
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT);
    EXPECT_EQ(ListView_HitTest(m_list, &hit), 1);
    EXPECT_EQ(hit.flags, LVHT_ONITEMLABEL);

    // Deleting one row, then all: LVN_DELETEALLITEMS answered TRUE spares the per-row notifications.
    EXPECT_TRUE(ListView_DeleteItem(m_list, 1));
    EXPECT_EQ(deleted, (std::vector<LPARAM>{42}));
    EXPECT_FALSE(ListView_DeleteItem(m_list, 5));
    onNotify = [](NMHDR* h) -> LRESULT { return h->code == LVN_DELETEALLITEMS; };
    EXPECT_TRUE(ListView_DeleteAllItems(m_list));
    EXPECT_EQ(deleted.size(), 1u);
    EXPECT_EQ(ListView_GetItemCount(m_list), 0);
    Add(0, u"last", 44);
    onNotify = nullptr;
    DestroyWindow(m_list);
    EXPECT_EQ(deleted, (std::vector<LPARAM>{42, 44}));
}

} // namespace
