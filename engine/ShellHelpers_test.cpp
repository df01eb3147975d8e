// The shell holders: item id lists, folders and display names.
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/ItemIDList.h"
#include "engine/ShellFolderPtr.h"
#include "engine/StrRet.h"

#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using ShellHelpersTest = testsupport::ScratchDriveTest;

TEST_F(ShellHelpersTest, ListsCombineCopyAndSplit) {
    CItemIDList none;
    none.Combine(nullptr, nullptr);
    EXPECT_FALSE(none.IsValid());

    m_drive.MakeFolder("a/b");
    CItemIDList path(m_drive.Path("a/b").c_str());
    ASSERT_TRUE(path.IsValid());
    CItemIDList copy;
    copy.Combine(nullptr, path);
    EXPECT_EQ(copy.GetPath(), CString(m_drive.Path("a/b").c_str()));
    CItemIDList assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetPath(), copy.GetPath());
    EXPECT_TRUE(assigned.IsFolder());

    // A list of one item: its last item is itself and its parent holds only the terminator.
    LPITEMIDLIST single = CItemIDList::Concatenate(path.GetLastItem(), nullptr);
    EXPECT_EQ(CItemIDList::GetLast(single), single);
    LPITEMIDLIST parent = CItemIDList::CopyWithoutLast(single);
    EXPECT_EQ(CItemIDList::GetSize(parent), 0u);
    CItemIDList::Free(parent);
    CItemIDList::Free(single);

    // What the shell cannot resolve gives no list and no path, never part of one.
    CItemIDList missing(m_drive.Path("a/nothing/here").c_str());
    EXPECT_FALSE(missing.IsValid());
    EXPECT_TRUE(missing.GetPath().IsEmpty());
    CItemIDList computer(0x0011, nullptr);
    ASSERT_TRUE(computer.IsValid());
    EXPECT_TRUE(computer.GetPath().IsEmpty());
}

TEST_F(ShellHelpersTest, FoldersBindEnumerateAndNameTheirItems) {
    m_drive.MakeFolder("f/sub");
    m_drive.Write("f/file.txt", "x");
    CDesktopFolder desktop;
    ASSERT_NE(desktop.Get(), nullptr);
    CItemIDList list(m_drive.Path("f").c_str());
    // An empty child list binds the parent itself.
    CShellFolderPtr same(desktop.Get(), nullptr);
    EXPECT_EQ(same.Get(), desktop.Get());
    CShellFolderPtr folder(desktop.Get(), list);
    ASSERT_TRUE(folder.IsValid());
    CEnumIDListPtr items(folder.Get(), nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    ASSERT_TRUE(items.IsValid());
    std::vector<CString> names;
    CItemIDList child;
    while (items->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CStrRet name;
        ASSERT_EQ(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, name.Prepare(child, STRRET_WSTR)), S_OK);
        names.push_back(name.GetString());
    }
    std::sort(names.begin(), names.end(), [](const CString& a, const CString& b) { return a.Compare(b) < 0; });
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], CString(u"file.txt"));
    EXPECT_EQ(names[1], CString(u"sub"));
    CShellFolderPtr file(desktop.Get(), CItemIDList(m_drive.Path("f/file.txt").c_str()));
    EXPECT_FALSE(file.IsValid());
}

} // namespace
