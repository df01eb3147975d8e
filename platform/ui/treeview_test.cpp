#include "platform/base/strings.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/treeview.h"
#include "platform/ui/ui_test_support.h"

#include <map>
#include <vector>

namespace {

using uitest::UiTest;

// A parent window that records the tree's notifications and answers them through overridable handlers.
class TreeViewTest : public UiTest {
protected:
    void SetUp() override {
        InitCommonControls();
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_NOTIFY) {
                auto* hdr = reinterpret_cast<NMHDR*>(lParam);
                EXPECT_EQ(hdr->hwndFrom, m_tree);
                EXPECT_EQ(hdr->idFrom, 7u);
                codes.push_back(hdr->code);
                if (hdr->code == TVN_DELETEITEMW)
                    deleted.push_back(reinterpret_cast<NMTREEVIEWW*>(lParam)->itemOld.lParam);
                if (onNotify)
                    return onNotify(hdr);
                return 0;
            }
            if (msg == WM_CONTEXTMENU)
                ++contextMenus;
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler);
        ASSERT_TRUE(m_parent);
    }
    void TearDown() override {
        if (IsWindow(m_parent))
            DestroyWindow(m_parent);
    }

    HWND MakeTree(DWORD style = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT) {
        m_tree = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | WS_VISIBLE | style, 0, 0, 200, 160, m_parent,
                                 reinterpret_cast<HMENU>(7), nullptr, nullptr);
        EXPECT_TRUE(m_tree);
        return m_tree;
    }

    HTREEITEM Add(HTREEITEM parent, const char16_t* text, LPARAM param = 0, HTREEITEM after = TVI_LAST) {
        TVINSERTSTRUCTW ins{};
        ins.hParent = parent;
        ins.hInsertAfter = after;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM;
        ins.item.pszText = const_cast<LPWSTR>(text);
        ins.item.lParam = param;
        return TreeView_InsertItem(m_tree, &ins);
    }

    std::u16string Text(HTREEITEM item) {
        WCHAR buffer[64] = {};
        TVITEMW tv{};
        tv.mask = TVIF_TEXT | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = buffer;
        tv.cchTextMax = 64;
        EXPECT_TRUE(TreeView_GetItem(m_tree, &tv));
        return buffer;
    }

    std::vector<std::u16string> Children(HTREEITEM parent) {
        std::vector<std::u16string> out;
        for (HTREEITEM c = TreeView_GetChild(m_tree, parent); c; c = TreeView_GetNextSibling(m_tree, c))
            out.push_back(Text(c));
        return out;
    }

    size_t Count(UINT code) const { return static_cast<size_t>(std::count(codes.begin(), codes.end(), code)); }

    std::vector<UINT> codes;
    std::vector<LPARAM> deleted;
    int contextMenus = 0;
    std::function<LRESULT(NMHDR*)> onNotify;
    uitest::Handler m_handler;
    HWND m_parent = nullptr;
    HWND m_tree = nullptr;
};

TEST_F(TreeViewTest, InsertsAtEveryPositionNavigatesAndDeletesBranchesWithNotifications) {
    MakeTree();
    HTREEITEM b = Add(TVI_ROOT, u"b", 2);
    HTREEITEM d = Add(TVI_ROOT, u"d", 4);
    Add(TVI_ROOT, u"a", 1, TVI_FIRST);
    Add(TVI_ROOT, u"C", 3, TVI_SORT);
    Add(nullptr, u"e", 5, TVI_LAST);
    Add(TVI_ROOT, u"b2", 6, b);
    EXPECT_EQ(Children(TVI_ROOT), (std::vector<std::u16string>{u"a", u"b", u"b2", u"C", u"d", u"e"}));

    HTREEITEM d1 = Add(d, u"d1", 41);
    HTREEITEM d2 = Add(d, u"d2", 42);
    HTREEITEM d21 = Add(d2, u"d21", 421);
    EXPECT_EQ(TreeView_GetCount(m_tree), 9u);
    EXPECT_EQ(TreeView_GetRoot(m_tree), TreeView_GetChild(m_tree, TVI_ROOT));
    EXPECT_EQ(TreeView_GetChild(m_tree, d), d1);
    EXPECT_EQ(TreeView_GetNextSibling(m_tree, d1), d2);
    EXPECT_EQ(TreeView_GetPrevSibling(m_tree, d2), d1);
    EXPECT_EQ(TreeView_GetPrevSibling(m_tree, d1), nullptr);
    EXPECT_EQ(TreeView_GetParent(m_tree, d21), d2);
    EXPECT_EQ(TreeView_GetParent(m_tree, d), nullptr);
    EXPECT_EQ(TreeView_GetChild(m_tree, d21), nullptr);

    // Children flag and parameter read back; an unknown handle is refused.
    TVITEMW tv{};
    tv.mask = TVIF_HANDLE | TVIF_CHILDREN | TVIF_PARAM;
    tv.hItem = d2;
    ASSERT_TRUE(TreeView_GetItem(m_tree, &tv));
    EXPECT_EQ(tv.cChildren, 1);
    EXPECT_EQ(tv.lParam, 42);
    tv.hItem = reinterpret_cast<HTREEITEM>(0x12345);
    EXPECT_FALSE(TreeView_GetItem(m_tree, &tv));

    // A text longer than the buffer is cut and terminated.
    WCHAR small[3];
    tv = TVITEMW{};
    tv.mask = TVIF_TEXT;
    tv.hItem = d21;
    tv.pszText = small;
    tv.cchTextMax = 3;
    ASSERT_TRUE(TreeView_GetItem(m_tree, &tv));
    EXPECT_EQ(std::u16string(small), u"d2");

    // Deleting a branch notifies every item in it, children first, and forgets their handles.
    EXPECT_TRUE(TreeView_DeleteItem(m_tree, d));
    EXPECT_EQ(deleted, (std::vector<LPARAM>{41, 421, 42, 4}));
    EXPECT_EQ(TreeView_GetCount(m_tree), 5u);
    EXPECT_FALSE(TreeView_DeleteItem(m_tree, d2));

    // Deleting everything, and destroying the window, notify the rest.
    deleted.clear();
    Add(TVI_ROOT, u"f", 7);
    EXPECT_TRUE(TreeView_DeleteAllItems(m_tree));
    EXPECT_EQ(deleted.size(), 6u);
    EXPECT_EQ(TreeView_GetRoot(m_tree), nullptr);
    Add(TVI_ROOT, u"g", 8);
    deleted.clear();
    DestroyWindow(m_tree);
    EXPECT_EQ(deleted, (std::vector<LPARAM>{8}));
}

TEST_F(TreeViewTest, CheckBoxesAndStateImagesFollowClicksKeysAndSetItem) {
    MakeTree(TVS_CHECKBOXES | TVS_HASBUTTONS | TVS_LINESATROOT);
    HIMAGELIST own = TreeView_GetImageList(m_tree, TVSIL_STATE);
    ASSERT_TRUE(own);
    EXPECT_EQ(ImageList_GetImageCount(own), 3);

    HTREEITEM a = Add(TVI_ROOT, u"a");
    HTREEITEM b = Add(TVI_ROOT, u"b");
    EXPECT_EQ(TreeView_GetItemState(m_tree, a, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
    EXPECT_FALSE(TreeView_GetCheckState(m_tree, a));

    // A click on the state icon toggles it and reports NM_CLICK; the selection does not move.
    RECT label{};
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, a, &label, TRUE));
    TVHITTESTINFO hit{};
    hit.pt = POINT{label.left - 8, label.top + 4};
    EXPECT_EQ(TreeView_HitTest(m_tree, &hit), a);
    EXPECT_EQ(hit.flags, TVHT_ONITEMSTATEICON);
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_TRUE(TreeView_GetCheckState(m_tree, a));
    EXPECT_EQ(Count(NM_CLICK), 1u);
    EXPECT_EQ(TreeView_GetSelection(m_tree), nullptr);
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_FALSE(TreeView_GetCheckState(m_tree, a));

    // A parent that answers NM_CLICK with non-zero keeps the state.
    onNotify = [](NMHDR* h) -> LRESULT { return h->code == NM_CLICK ? 1 : 0; };
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_FALSE(TreeView_GetCheckState(m_tree, a));
    onNotify = nullptr;

    // Space toggles the selected item's box.
    ASSERT_TRUE(TreeView_SelectItem(m_tree, b));
    SendMessageW(m_tree, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(TreeView_GetCheckState(m_tree, b));
    EXPECT_EQ(Count(TVN_KEYDOWN), 1u);

    // A five-image state list (none, unchecked, checked, partial, fixed) takes over and clicks cycle through it;
    // the control's own list is freed.
    HIMAGELIST five = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 5, 1);
    ImageList_SetImageCount(five, 5);
    EXPECT_EQ(TreeView_SetImageList(m_tree, five, TVSIL_STATE), nullptr);
    EXPECT_EQ(ImageList_GetImageCount(own), 0);
    EXPECT_TRUE(TreeView_SetCheckState(m_tree, a, TRUE));
    TVITEMW tv{};
    tv.mask = TVIF_STATE;
    tv.hItem = a;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = INDEXTOSTATEIMAGEMASK(3);
    ASSERT_TRUE(TreeView_SetItem(m_tree, &tv));
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_EQ(TreeView_GetItemState(m_tree, a, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(4));
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_EQ(TreeView_GetItemState(m_tree, a, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
    DestroyWindow(m_tree);
    ImageList_Destroy(five);
}

TEST_F(TreeViewTest, ExpandingNotifiesOnceAsksForCallbackChildrenAndCollapseResetDropsChildren) {
    MakeTree();
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM;
    ins.item.pszText = const_cast<LPWSTR>(u"folder");
    ins.item.cChildren = I_CHILDRENCALLBACK;
    ins.item.lParam = 99;
    HTREEITEM folder = TreeView_InsertItem(m_tree, &ins);
    HTREEITEM leaf = Add(TVI_ROOT, u"leaf");

    // The parent answers the children question and fills the folder when it expands.
    int answers = 0;
    bool veto = false;
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code == TVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMTVDISPINFOW*>(h);
            EXPECT_EQ(di->item.mask, TVIF_CHILDREN);
            EXPECT_EQ(di->item.lParam, 99);
            di->item.cChildren = 1;
            ++answers;
        }
        if (h->code == TVN_ITEMEXPANDINGW) {
            auto* nm = reinterpret_cast<NMTREEVIEWW*>(h);
            EXPECT_EQ(nm->itemNew.hItem, folder);
            if (nm->action == TVE_EXPAND && !veto && !TreeView_GetChild(m_tree, folder)) {
                Add(folder, u"x");
                Add(folder, u"y");
            }
            return veto ? TRUE : FALSE;
        }
        return 0;
    };
    EXPECT_FALSE(TreeView_Expand(m_tree, leaf, TVE_EXPAND)); // no children: nothing happens
    veto = true;
    EXPECT_FALSE(TreeView_Expand(m_tree, folder, TVE_EXPAND));
    EXPECT_EQ(TreeView_GetItemState(m_tree, folder, TVIS_EXPANDED), 0u);
    veto = false;
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_EXPAND));
    EXPECT_GE(answers, 1);
    EXPECT_EQ(TreeView_GetItemState(m_tree, folder, TVIS_EXPANDED | TVIS_EXPANDEDONCE),
              TVIS_EXPANDED | TVIS_EXPANDEDONCE);
    EXPECT_EQ(Count(TVN_ITEMEXPANDINGW), 2u);
    EXPECT_EQ(Count(TVN_ITEMEXPANDEDW), 1u);
    HTREEITEM x = TreeView_GetChild(m_tree, folder);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, folder, TVGN_NEXTVISIBLE), x);

    // Once expanded, TVM_EXPAND collapses and expands silently; a collapse takes the selection to the item.
    ASSERT_TRUE(TreeView_SelectItem(m_tree, x));
    codes.clear();
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_COLLAPSE));
    EXPECT_EQ(Count(TVN_ITEMEXPANDINGW), 0u);
    EXPECT_EQ(TreeView_GetSelection(m_tree), folder);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, x, TVGN_NEXTVISIBLE), nullptr);
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_EXPAND));
    EXPECT_EQ(Count(TVN_ITEMEXPANDINGW), 0u);

    // A click on the button always notifies.
    RECT label{};
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, folder, &label, TRUE));
    TVHITTESTINFO hit{};
    hit.pt = POINT{label.left - 10, label.top + 3};
    EXPECT_EQ(TreeView_HitTest(m_tree, &hit), folder);
    EXPECT_EQ(hit.flags, TVHT_ONITEMBUTTON);
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
    EXPECT_EQ(Count(TVN_ITEMEXPANDINGW), 1u);
    EXPECT_EQ(Count(TVN_ITEMEXPANDEDW), 1u);
    EXPECT_EQ(TreeView_GetItemState(m_tree, folder, TVIS_EXPANDED), 0u);

    // Collapse-reset deletes the children and forgets the first expansion, so the next one notifies again.
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_EXPAND));
    codes.clear();
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_COLLAPSE | TVE_COLLAPSERESET));
    EXPECT_EQ(TreeView_GetChild(m_tree, folder), nullptr);
    EXPECT_EQ(Count(TVN_DELETEITEMW), 2u);
    EXPECT_EQ(TreeView_GetItemState(m_tree, folder, TVIS_EXPANDEDONCE), 0u);
    codes.clear();
    EXPECT_TRUE(TreeView_Expand(m_tree, folder, TVE_EXPAND));
    EXPECT_EQ(Count(TVN_ITEMEXPANDINGW), 1u);
    EXPECT_EQ(Children(folder), (std::vector<std::u16string>{u"x", u"y"}));
}

TEST_F(TreeViewTest, CallbackTextIsAskedForAndKeptWithDiSetItem) {
    MakeTree();
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE;
    ins.item.pszText = LPSTR_TEXTCALLBACKW;
    ins.item.iImage = I_IMAGECALLBACK;
    ins.item.lParam = 5;
    HTREEITEM item = TreeView_InsertItem(m_tree, &ins);
    int asked = 0;
    bool keep = false;
    static const char16_t kOwn[] = u"from the parent's buffer";
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code != TVN_GETDISPINFOW)
            return 0;
        auto* di = reinterpret_cast<NMTVDISPINFOW*>(h);
        ++asked;
        if (di->item.mask & TVIF_TEXT) {
            if (keep) {
                lstrcpynW(di->item.pszText, u"kept", di->item.cchTextMax);
                di->item.mask |= TVIF_DI_SETITEM;
            } else {
                di->item.pszText = const_cast<LPWSTR>(kOwn); // a buffer of its own is copied
            }
        }
        if (di->item.mask & TVIF_IMAGE)
            di->item.iImage = 3;
        return 0;
    };
    TVITEMW tv{};
    WCHAR buffer[64];
    tv.mask = TVIF_TEXT | TVIF_IMAGE;
    tv.hItem = item;
    tv.pszText = buffer;
    tv.cchTextMax = 64;
    ASSERT_TRUE(TreeView_GetItem(m_tree, &tv));
    EXPECT_EQ(std::u16string(buffer), kOwn);
    EXPECT_EQ(tv.iImage, 3);
    EXPECT_EQ(tv.pszText, buffer);

    // Without a text buffer the parent is not asked for text.
    asked = 0;
    tv.mask = TVIF_TEXT;
    tv.pszText = nullptr;
    tv.cchTextMax = 0;
    ASSERT_TRUE(TreeView_GetItem(m_tree, &tv));
    EXPECT_EQ(asked, 0);

    keep = true;
    EXPECT_EQ(Text(item), u"kept");
    keep = false;
    asked = 0;
    EXPECT_EQ(Text(item), u"kept");
    EXPECT_EQ(asked, 0);
}

// The horizontal scroll range is the widest shown label's: it follows a label's new text, its own or one the
// parent gives on request.
TEST_F(TreeViewTest, HorizontalRangeFollowsTheWidestLabelAsTextsChange) {
    MakeTree();
    std::vector<HTREEITEM> items;
    for (int i = 0; i < 300; ++i)
        items.push_back(Add(TVI_ROOT, u"short"));
    auto range = [&]() {
        SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
        GetScrollInfo(m_tree, SB_HORZ, &si);
        return si.nMax;
    };
    const int narrow = range();
    const std::u16string longText(120, u'W');
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = items[150];
    tv.pszText = const_cast<LPWSTR>(longText.c_str());
    ASSERT_TRUE(TreeView_SetItem(m_tree, &tv));
    const int wide = range();
    EXPECT_GT(wide, narrow + 200);
    tv.pszText = const_cast<LPWSTR>(u"short");
    ASSERT_TRUE(TreeView_SetItem(m_tree, &tv));
    EXPECT_EQ(range(), narrow);

    // A text asked for: measured as it is answered, and again when the answer changes.
    std::u16string answer = u"short";
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code == TVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMTVDISPINFOW*>(h);
            if (di->item.mask & TVIF_TEXT)
                lstrcpynW(di->item.pszText, answer.c_str(), di->item.cchTextMax);
        }
        return 0;
    };
    tv.pszText = LPSTR_TEXTCALLBACKW;
    ASSERT_TRUE(TreeView_SetItem(m_tree, &tv));
    EXPECT_EQ(range(), narrow);
    answer = std::u16string(60, u'W');
    InvalidateRect(m_tree, nullptr, TRUE);
    EXPECT_GT(range(), narrow + 100);
    EXPECT_LT(range(), wide);
}

// While drawing is held back, changes leave the window as it was painted; letting go asks for one paint that shows
// them all (and nothing when nothing changed).
TEST_F(TreeViewTest, ChangesWhileRedrawIsHeldArePaintedWhenItIsLetGo) {
    MakeTree();
    HTREEITEM a = Add(TVI_ROOT, u"a");
    ValidateRect(m_tree, nullptr);
    SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < 50; ++i)
        Add(a, u"child");
    TreeView_Expand(m_tree, a, TVE_EXPAND);
    EXPECT_FALSE(GetUpdateRect(m_tree, nullptr, FALSE));
    SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
    EXPECT_TRUE(GetUpdateRect(m_tree, nullptr, FALSE));
    EXPECT_EQ(Children(a).size(), 50u);

    ValidateRect(m_tree, nullptr);
    SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);
    SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
    EXPECT_FALSE(GetUpdateRect(m_tree, nullptr, FALSE));
    Add(TVI_ROOT, u"b");
    EXPECT_TRUE(GetUpdateRect(m_tree, nullptr, FALSE));
}

TEST_F(TreeViewTest, SelectionNotifiesCanBeVetoedAndMovesWhenTheSelectedItemIsDeleted) {
    MakeTree();
    HTREEITEM a = Add(TVI_ROOT, u"a", 1);
    HTREEITEM b = Add(TVI_ROOT, u"b", 2);
    HTREEITEM b1 = Add(b, u"b1", 21);
    HTREEITEM c = Add(TVI_ROOT, u"c", 3);
    std::vector<std::pair<LPARAM, LPARAM>> changes;
    bool veto = false;
    onNotify = [&](NMHDR* h) -> LRESULT {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(h);
        if (h->code == TVN_SELCHANGINGW)
            return veto;
        if (h->code == TVN_SELCHANGEDW) {
            changes.emplace_back(nm->itemOld.mask ? nm->itemOld.lParam : -1, nm->itemNew.lParam);
            EXPECT_NE(nm->itemNew.state & TVIS_SELECTED, 0u);
        }
        return 0;
    };
    EXPECT_TRUE(TreeView_SelectItem(m_tree, a));
    EXPECT_TRUE(TreeView_SelectItem(m_tree, a)); // the same item again: no notification
    veto = true;
    EXPECT_FALSE(TreeView_SelectItem(m_tree, c));
    veto = false;
    EXPECT_EQ(TreeView_GetSelection(m_tree), a);
    // Selecting a hidden child expands its parent.
    EXPECT_TRUE(TreeView_SelectItem(m_tree, b1));
    EXPECT_NE(TreeView_GetItemState(m_tree, b, TVIS_EXPANDED), 0u);
    EXPECT_EQ(TreeView_GetItemState(m_tree, a, TVIS_SELECTED), 0u);
    // Deleting the branch that holds the selection selects the next sibling of the branch.
    EXPECT_TRUE(TreeView_DeleteItem(m_tree, b));
    EXPECT_EQ(TreeView_GetSelection(m_tree), c);
    EXPECT_EQ(changes, (std::vector<std::pair<LPARAM, LPARAM>>{{-1, 1}, {1, 21}, {-1, 3}}));

    // Keys move the selection through the visible items.
    SendMessageW(m_tree, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(TreeView_GetSelection(m_tree), a);
    SendMessageW(m_tree, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(TreeView_GetSelection(m_tree), c);
}

int CALLBACK ByParamDescending(LPARAM a, LPARAM b, LPARAM sort) {
    EXPECT_EQ(sort, 1234);
    return a < b ? 1 : (a > b ? -1 : 0);
}

// An owner that fills a folder anew on each first expansion deletes the item that made it open: making that
// item visible or selecting it reports the loss instead of touching the deleted item.
TEST_F(TreeViewTest, AnItemDeletedWhileItsParentOpensIsNotUsedAfterwards) {
    MakeTree();
    HTREEITEM folder = Add(TVI_ROOT, u"folder");
    HTREEITEM other = Add(TVI_ROOT, u"other");
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code == TVN_ITEMEXPANDINGW && reinterpret_cast<NMTREEVIEWW*>(h)->itemNew.hItem == folder) {
            while (HTREEITEM child = TreeView_GetChild(m_tree, folder))
                TreeView_DeleteItem(m_tree, child);
            Add(folder, u"fresh");
        }
        return 0;
    };
    for (const bool select : {false, true}) {
        SCOPED_TRACE(select ? "select" : "ensure visible");
        TreeView_Expand(m_tree, folder, TVE_COLLAPSE | TVE_COLLAPSERESET);
        ASSERT_TRUE(TreeView_SelectItem(m_tree, other));
        HTREEITEM old = Add(folder, u"old");
        EXPECT_FALSE(select ? TreeView_SelectItem(m_tree, old) : TreeView_EnsureVisible(m_tree, old));
        EXPECT_EQ(Children(folder), std::vector<std::u16string>{u"fresh"});
        EXPECT_EQ(TreeView_GetItemState(m_tree, folder, TVIS_EXPANDED), TVIS_EXPANDED);
        EXPECT_NE(TreeView_GetSelection(m_tree), old);
    }
}

TEST_F(TreeViewTest, SortsChildrenByTextOrByCallbackAndRecursively) {
    MakeTree();
    HTREEITEM top = Add(TVI_ROOT, u"top", 0);
    Add(top, u"beta", 2);
    HTREEITEM alpha = Add(top, u"Alpha", 1);
    Add(top, u"gamma", 3);
    Add(alpha, u"z", 12);
    Add(alpha, u"y", 11);
    EXPECT_TRUE(TreeView_SortChildren(m_tree, top, FALSE));
    EXPECT_EQ(Children(top), (std::vector<std::u16string>{u"Alpha", u"beta", u"gamma"}));
    EXPECT_EQ(Children(alpha), (std::vector<std::u16string>{u"z", u"y"}));
    EXPECT_TRUE(TreeView_SortChildren(m_tree, top, TRUE));
    EXPECT_EQ(Children(alpha), (std::vector<std::u16string>{u"y", u"z"}));

    TVSORTCB sort{top, ByParamDescending, 1234};
    EXPECT_TRUE(TreeView_SortChildrenCB(m_tree, &sort, TRUE));
    EXPECT_EQ(Children(top), (std::vector<std::u16string>{u"gamma", u"beta", u"Alpha"}));
    EXPECT_EQ(Children(alpha), (std::vector<std::u16string>{u"z", u"y"}));
    TVSORTCB none{top, nullptr, 0};
    EXPECT_FALSE(TreeView_SortChildrenCB(m_tree, &none, FALSE));
}

TEST_F(TreeViewTest, RectanglesHitTestsVisibilityAndMouseNotifications) {
    MakeTree(TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT);
    std::vector<HTREEITEM> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back(Add(TVI_ROOT, u"row", i));
    HTREEITEM child = Add(rows[0], u"child");
    EXPECT_EQ(SendMessageW(m_tree, TVM_GETVISIBLECOUNT, 0, 0), 10); // 160 pixels of 16-pixel rows

    RECT rc{};
    EXPECT_FALSE(TreeView_GetItemRect(m_tree, child, &rc, FALSE)); // inside a collapsed item
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, rows[2], &rc, FALSE));
    EXPECT_EQ(rc.top, 32);
    EXPECT_EQ(rc.bottom, 48);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.right, 200);
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, rows[2], &rc, TRUE));
    EXPECT_EQ(rc.left, 19);

    TVHITTESTINFO hit{};
    hit.pt = POINT{rc.left + 2, 40};
    EXPECT_EQ(TreeView_HitTest(m_tree, &hit), rows[2]);
    EXPECT_EQ(hit.flags, TVHT_ONITEMLABEL);
    hit.pt = POINT{rc.right + 5, 40};
    EXPECT_EQ(TreeView_HitTest(m_tree, &hit), rows[2]);
    EXPECT_EQ(hit.flags, TVHT_ONITEMRIGHT);
    hit.pt = POINT{5, 40};
    TreeView_HitTest(m_tree, &hit);
    EXPECT_EQ(hit.flags, TVHT_ONITEMINDENT); // no children: no button
    hit.pt = POINT{5, 300};
    EXPECT_EQ(TreeView_HitTest(m_tree, &hit), nullptr);
    EXPECT_EQ(hit.flags, TVHT_BELOW);
    hit.pt = POINT{-1, 5};
    TreeView_HitTest(m_tree, &hit);
    EXPECT_EQ(hit.flags, TVHT_TOLEFT);

    // Making the last row visible scrolls; the first visible item follows.
    EXPECT_TRUE(TreeView_EnsureVisible(m_tree, rows[19]));
    EXPECT_EQ(TreeView_GetNextItem(m_tree, nullptr, TVGN_FIRSTVISIBLE), rows[10]);
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, rows[19], &rc, FALSE));
    EXPECT_EQ(rc.top, 144);
    // Scrolling moves the first visible row within the items.
    SendMessageW(m_tree, WM_VSCROLL, 0 /* SB_LINEUP */, 0);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, nullptr, TVGN_FIRSTVISIBLE), rows[9]);
    SendMessageW(m_tree, WM_VSCROLL, 7 /* SB_BOTTOM */, 0);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, nullptr, TVGN_FIRSTVISIBLE), rows[10]);
    // Making the child visible expands its parent (and so is not a plain scroll).
    EXPECT_FALSE(TreeView_EnsureVisible(m_tree, child));
    EXPECT_NE(TreeView_GetItemState(m_tree, rows[0], TVIS_EXPANDED), 0u);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, nullptr, TVGN_FIRSTVISIBLE), child);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, rows[0], TVGN_NEXTVISIBLE), child);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, child, TVGN_PREVIOUSVISIBLE), rows[0]);
    EXPECT_EQ(TreeView_GetNextItem(m_tree, nullptr, TVGN_LASTVISIBLE), rows[19]);

    // Clicks: a label selects and reports NM_CLICK; the right button reports NM_RCLICK and, unanswered, asks for a
    // context menu; a double click reports NM_DBLCLK.
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, child, &rc, TRUE));
    SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(rc.left + 1, rc.top + 1));
    EXPECT_EQ(TreeView_GetSelection(m_tree), child);
    EXPECT_EQ(Count(NM_CLICK), 1u);
    SendMessageW(m_tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(rc.left + 1, rc.top + 1));
    EXPECT_EQ(Count(NM_RCLICK), 1u);
    EXPECT_EQ(contextMenus, 1);
    onNotify = [](NMHDR* h) -> LRESULT { return h->code == NM_RCLICK ? 1 : 0; };
    SendMessageW(m_tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(rc.left + 1, rc.top + 1));
    EXPECT_EQ(contextMenus, 1);
    SendMessageW(m_tree, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(rc.left + 1, rc.top + 1));
    EXPECT_EQ(Count(NM_DBLCLK), 1u);
}

TEST_F(TreeViewTest, ImageListsAreKeptAndSizeTheRows) {
    MakeTree();
    HIMAGELIST icons = ImageList_Create(20, 24, ILC_COLOR32 | ILC_MASK, 0, 4);
    EXPECT_EQ(TreeView_SetImageList(m_tree, icons, TVSIL_NORMAL), nullptr);
    EXPECT_EQ(TreeView_GetImageList(m_tree, TVSIL_NORMAL), icons);
    EXPECT_EQ(SendMessageW(m_tree, TVM_GETITEMHEIGHT, 0, 0), 24);
    HTREEITEM a = Add(TVI_ROOT, u"a");
    RECT rc{};
    ASSERT_TRUE(TreeView_GetItemRect(m_tree, a, &rc, TRUE));
    EXPECT_EQ(rc.left, 19 + 20 + 3); // indent, icon and gap
    TVHITTESTINFO hit{};
    hit.pt = POINT{19 + 5, 5};
    TreeView_HitTest(m_tree, &hit);
    EXPECT_EQ(hit.flags, TVHT_ONITEMICON);
    EXPECT_EQ(SendMessageW(m_tree, TVM_SETITEMHEIGHT, 30, 0), 24);
    EXPECT_EQ(SendMessageW(m_tree, TVM_GETITEMHEIGHT, 0, 0), 30);
    DestroyWindow(m_tree);
    ImageList_Destroy(icons);
}

TEST_F(TreeViewTest, AnotherThreadReadsTheTreeWhileItsThreadServesMessages) {
    // The tree lives on a thread of its own; its parent makes it on request and answers callback texts.
    uitest::Handler parentHandler = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_USER + 5) {
            HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | TVS_CHECKBOXES, 0, 0, 100, 100, hwnd,
                                        reinterpret_cast<HMENU>(3), nullptr, nullptr);
            for (LPARAM p = 1; p <= 2; ++p) {
                TVINSERTSTRUCTW ins{};
                ins.hParent = TVI_ROOT;
                ins.hInsertAfter = TVI_LAST;
                ins.item.mask = TVIF_TEXT | TVIF_PARAM;
                ins.item.pszText = LPSTR_TEXTCALLBACKW;
                ins.item.lParam = p;
                TreeView_InsertItem(tree, &ins);
            }
            return reinterpret_cast<LRESULT>(tree);
        }
        if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == TVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMTVDISPINFOW*>(lParam);
            lstrcpynW(di->item.pszText, di->item.lParam == 1 ? u"one" : u"two", di->item.cchTextMax);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    };
    uitest::GuiThread gui(parentHandler);
    HWND tree = reinterpret_cast<HWND>(SendMessageW(gui.hwnd(), WM_USER + 5, 0, 0));
    ASSERT_TRUE(tree);
    std::vector<std::u16string> texts;
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) {
        WCHAR buffer[32];
        TVITEMW tv{};
        tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = buffer;
        tv.cchTextMax = 32;
        ASSERT_TRUE(TreeView_GetItem(tree, &tv));
        EXPECT_EQ(tv.state & TVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(1));
        texts.push_back(buffer);
    }
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"one", u"two"}));
}

} // namespace
