// The check tree: three-state marks, fixed items, loading on expansion and the snapshots that keep marks.
#include "engine/CheckTreeCtrl.h"
#include "engine/LoadAnimTreeCtrl.h"
#include "engine/LoadProgressTreeCtrl.h"
#include "engine/TreeTestSupport.h"

#include "platform/base/clock.h"
#include "platform/testing/eventually.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// A tree whose children come from a table of paths ("a/b" -> its children), loaded when an item expands.
class CModelTree : public CCheckTreeCtrl {
public:
    std::map<std::u16string, std::vector<std::u16string>> m_model;
    int m_loads = 0;

    std::u16string PathOf(HTREEITEM hItem) const {
        std::u16string path;
        for (HTREEITEM h = hItem; h; h = GetParentItem(h))
            path = std::u16string(GetItemText(h).Str()) + (path.empty() ? u"" : u"/" + path);
        return path;
    }
    HTREEITEM Add(HTREEITEM hParent, const std::u16string& name) {
        const std::u16string path = hParent && hParent != TVI_ROOT ? PathOf(hParent) + u"/" + name : name;
        TVINSERTSTRUCTW insert{};
        insert.hParent = hParent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_STATE;
        insert.item.pszText = const_cast<LPWSTR>(name.c_str());
        insert.item.cChildren = m_model.count(path) ? 1 : 0;
        insert.item.state = kStateUnchecked;
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        return InsertItem(&insert);
    }
    int LoadChildren(HTREEITEM hItem) override {
        ++m_loads;
        auto it = m_model.find(PathOf(hItem));
        if (it == m_model.end())
            return 0;
        for (const auto& name : it->second) {
            Add(hItem, name);
            AddLoadCount(1);
        }
        return 1;
    }
    HTREEITEM Find(const std::u16string& path) const {
        HTREEITEM h = TVI_ROOT;
        size_t start = 0;
        while (start <= path.size()) {
            size_t slash = path.find(u'/', start);
            if (slash == std::u16string::npos)
                slash = path.size();
            const std::u16string part = path.substr(start, slash - start);
            HTREEITEM found = nullptr;
            for (HTREEITEM c = GetChildItem(h); c && !found; c = GetNextSiblingItem(c))
                if (std::u16string(GetItemText(c).Str()) == part)
                    found = c;
            if (!found)
                return nullptr;
            h = found;
            start = slash + 1;
        }
        return h;
    }
};

class CheckTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_host.CreateHost());
        RECT rc{0, 0, 380, 580};
        ASSERT_TRUE(
            m_tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES | TVS_HASBUTTONS | TVS_HASLINES, rc, &m_host, 100));
    }
    void TearDown() override {
        m_tree.DestroyWindow();
        m_host.DestroyWindow();
    }
    // A click on the item's state image.
    void ClickMark(HTREEITEM hItem) {
        RECT text{};
        ASSERT_TRUE(m_tree.GetItemRect(hItem, &text, TRUE));
        const int x = text.left - 8, y = (text.top + text.bottom) / 2;
        m_tree.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    }
    // Expanding and collapsing as the user does (the keyboard), which the tree always hears of.
    void UserExpand(HTREEITEM hItem) {
        m_tree.SelectItem(hItem);
        m_tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    }
    void UserCollapse(HTREEITEM hItem) {
        m_tree.SelectItem(hItem);
        m_tree.SendMessage(WM_KEYDOWN, VK_LEFT, 0);
    }
    HTREEITEM Item(const std::u16string& path) {
        HTREEITEM h = m_tree.Find(path);
        EXPECT_NE(h, nullptr) << std::string(path.begin(), path.end());
        return h;
    }
    UINT State(const std::u16string& path) { return m_tree.GetCheckState(Item(path)); }

    CTreeHostWnd m_host;
    CModelTree m_tree;
};

TEST_F(CheckTreeTest, ClicksMarkBranchesAndParentsFollowTheirChildren) {
    m_tree.m_model = {{u"root", {u"a", u"b", u"fixed"}}, {u"root/a", {u"a1", u"a2"}}};
    HTREEITEM root = m_tree.Add(TVI_ROOT, u"root");
    m_tree.Expand(root, TVE_EXPAND);
    m_tree.Expand(Item(u"root/a"), TVE_EXPAND);
    m_tree.SetCheckState(Item(u"root/fixed"), kStateFixed);

    ClickMark(Item(u"root/a/a1"));
    EXPECT_EQ(State(u"root/a/a1"), kStateChecked);
    EXPECT_EQ(State(u"root/a"), kStatePartial);
    EXPECT_EQ(State(u"root"), kStatePartial);
    EXPECT_EQ(m_host.m_nChanged, 1);

    // Checking the partly checked branch checks all of it; the fixed sibling does not count for the parent.
    ClickMark(Item(u"root/a"));
    EXPECT_EQ(State(u"root/a/a2"), kStateChecked);
    ClickMark(Item(u"root/b"));
    EXPECT_EQ(State(u"root"), kStateChecked);
    EXPECT_EQ(State(u"root/fixed"), kStateFixed);

    // A click on a fixed item changes nothing; a click on the root leaves the fixed item as it is.
    ClickMark(Item(u"root/fixed"));
    EXPECT_EQ(State(u"root/fixed"), kStateFixed);
    ClickMark(root);
    EXPECT_EQ(State(u"root"), kStateUnchecked);
    EXPECT_EQ(State(u"root/a/a1"), kStateUnchecked);
    EXPECT_EQ(State(u"root/fixed"), kStateFixed);
    EXPECT_EQ(m_host.m_nChanged, 5);
}

TEST_F(CheckTreeTest, CollapsingDropsChildrenUnlessPartlyChecked) {
    m_tree.m_model = {{u"root", {u"p", u"q"}}, {u"root/p", {u"x", u"y"}}, {u"root/q", {u"z"}}};
    HTREEITEM root = m_tree.Add(TVI_ROOT, u"root");
    m_tree.Expand(root, TVE_EXPAND);
    m_tree.Expand(Item(u"root/p"), TVE_EXPAND);
    m_tree.Expand(Item(u"root/q"), TVE_EXPAND);
    ClickMark(Item(u"root/p/x"));
    UserCollapse(Item(u"root/p"));
    UserCollapse(Item(u"root/q"));
    EXPECT_NE(m_tree.GetChildItem(Item(u"root/p")), nullptr);
    EXPECT_EQ(m_tree.GetChildItem(Item(u"root/q")), nullptr);
    // The root never collapses.
    UserCollapse(root);
    EXPECT_TRUE(m_tree.GetItemState(root, TVIS_EXPANDED) & TVIS_EXPANDED);
}

TEST_F(CheckTreeTest, ReexpandingKeepsEveryMarkOfALargeBranchWithOddNames) {
    // Names that a text snapshot could lose: TAB, line ends, leading blanks, duplicates; and far more than 9 x 1024
    // characters of marks in one branch.
    std::vector<std::u16string> names = {u"tab\there", u"line\nend", u"  blanks", u"dup", u"dup", u"back\\slash"};
    for (int i = 0; i < 400; ++i) {
        const std::string number = std::to_string(i);
        names.push_back(u"a rather long folder name number " + std::u16string(1, u'A' + i % 26) + u"-" +
                        std::u16string(number.begin(), number.end()));
    }
    m_tree.m_model = {{u"root", {u"big"}}, {u"root/big", names}, {u"root/big/dup", {u"inner1", u"inner2"}}};
    HTREEITEM root = m_tree.Add(TVI_ROOT, u"root");
    m_tree.Expand(root, TVE_EXPAND);
    HTREEITEM big = Item(u"root/big");
    m_tree.Expand(big, TVE_EXPAND);
    // Check every other name, and only the second "dup" partly (one inner item).
    std::vector<HTREEITEM> children;
    for (HTREEITEM h = m_tree.GetChildItem(big); h; h = m_tree.GetNextSiblingItem(h))
        children.push_back(h);
    ASSERT_EQ(children.size(), names.size());
    for (size_t i = 0; i < children.size(); ++i)
        if (i % 2 == 0 && names[i] != u"dup")
            m_tree.CheckBranch(children[i], kStateChecked);
    m_tree.Expand(children[4], TVE_EXPAND);
    m_tree.CheckBranch(m_tree.GetChildItem(children[4]), kStateChecked);
    ASSERT_EQ(m_tree.GetCheckState(big), kStatePartial);

    // Collapse keeps the partly checked branch; expanding again reloads it and the marks come back.
    UserCollapse(big);
    const int loads = m_tree.m_loads;
    UserExpand(big);
    EXPECT_GT(m_tree.m_loads, loads);
    std::vector<UINT> states;
    HTREEITEM second = nullptr;
    int dups = 0;
    for (HTREEITEM h = m_tree.GetChildItem(big); h; h = m_tree.GetNextSiblingItem(h)) {
        states.push_back(m_tree.GetCheckState(h));
        if (m_tree.GetItemText(h) == u"dup" && ++dups == 2)
            second = h;
    }
    ASSERT_EQ(states.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        UINT expected = (i % 2 == 0 && names[i] != u"dup") ? kStateChecked : kStateUnchecked;
        if (i == 4)
            expected = kStatePartial;
        EXPECT_EQ(states[i], expected) << i;
    }
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(m_tree.GetCheckState(m_tree.GetChildItem(second)), kStateChecked);
}

TEST_F(CheckTreeTest, AMissingItemKeepsOnlyItsOwnMarkOut) {
    m_tree.m_model = {{u"root", {u"f"}}, {u"root/f", {u"one", u"two", u"three"}}};
    HTREEITEM root = m_tree.Add(TVI_ROOT, u"root");
    m_tree.Expand(root, TVE_EXPAND);
    HTREEITEM f = Item(u"root/f");
    m_tree.Expand(f, TVE_EXPAND);
    m_tree.CheckBranch(Item(u"root/f/one"), kStateChecked);
    m_tree.CheckBranch(Item(u"root/f/three"), kStateChecked);
    // "one" goes away on disk before the branch is loaded again.
    m_tree.m_model[u"root/f"] = {u"two", u"three"};
    m_tree.RefreshItem(f);
    EXPECT_EQ(State(u"root/f/three"), kStateChecked);
    EXPECT_EQ(State(u"root/f/two"), kStateUnchecked);
}

// A tree whose loading takes the layer clock's time: while the window's thread produces the children, the loader
// thread turns the animation on its own.
class CSlowTree : public CLoadAnimTreeCtrl {
public:
    int m_framesSeen = -1;
    int LoadChildren(HTREEITEM hItem) override {
        // The window's thread is busy here; each tick of the timer turns the animation all the same.
        m_framesSeen = 0;
        for (int i = 1; i <= 3; ++i) {
            platform::clock::Advance(125);
            AddLoadCount(1);
            if (!testsupport::Eventually([&] { return GetFrameIndex() >= i; }, std::chrono::seconds(20)))
                break;
            m_framesSeen = GetFrameIndex();
        }
        TVINSERTSTRUCTW insert{};
        insert.hParent = hItem;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<LPWSTR>(u"child");
        InsertItem(&insert);
        return 1;
    }
};

TEST(LoadAnimTest, TheLoaderThreadAnimatesWhileTheWindowThreadLoads) {
    platform::clock::UseManualClock(platform::clock::Now());
    CTreeHostWnd host;
    ASSERT_TRUE(host.CreateHost());
    CSlowTree tree;
    RECT rc{0, 0, 300, 300};
    ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES | TVS_HASBUTTONS, rc, &host, 101));
    TVINSERTSTRUCTW insert{};
    insert.hParent = TVI_ROOT;
    insert.item.mask = TVIF_TEXT | TVIF_CHILDREN;
    insert.item.pszText = const_cast<LPWSTR>(u"root");
    insert.item.cChildren = 1;
    HTREEITEM root = tree.InsertItem(&insert);
    insert.hParent = root;
    insert.item.pszText = const_cast<LPWSTR>(u"folder");
    HTREEITEM folder = tree.InsertItem(&insert);
    tree.SelectItem(folder);
    tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_GE(tree.m_framesSeen, 3);
    EXPECT_NE(tree.GetChildItem(folder), nullptr);
    // The placeholder is gone once the children are in.
    EXPECT_EQ(tree.GetItemText(tree.GetChildItem(folder)), CString(u"child"));
    tree.DestroyWindow();
    host.DestroyWindow();
    platform::clock::UseRealClock();
}

TEST(LoadProgressTest, BarFollowsTheCountsOrItsCurve) {
    EXPECT_EQ(CLoadProgressTreeCtrl::FillWidth(0, 0), 0);
    EXPECT_EQ(CLoadProgressTreeCtrl::FillWidth(0, 5), 34);
    EXPECT_EQ(CLoadProgressTreeCtrl::FillWidth(0, 10), 47);
    EXPECT_EQ(CLoadProgressTreeCtrl::FillWidth(4, 2), 25);
    EXPECT_EQ(CLoadProgressTreeCtrl::FillWidth(4, 9), 50);
}

} // namespace
