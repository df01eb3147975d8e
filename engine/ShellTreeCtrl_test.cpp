// Names in selection files and the folders every backup leaves out.
#include "engine/BackManager.h"
#include "engine/ShellTreeCtrl.h"

#include <gtest/gtest.h>

namespace {

TEST(SelectionNameTest, LineBreakingCharactersAreEscapedAndComeBack) {
    struct Case {
        const char16_t* name;
        const char16_t* written;
    };
    const Case cases[] = {
        {u"plain", u"plain"},
        {u"  leading blanks", u"  leading blanks"},
        {u"with\ttab", u"with\ttab"},
        {u"two\nlines", u"two|nlines"},
        {u"cr\rlf\n", u"cr|rlf|n"},
        {u"pipe|and||more", u"pipe||and||||more"},
        {u"\t", u"\t"},
    };
    for (const Case& c : cases) {
        const CString written = CShellTreeCtrl::EncodeName(c.name);
        EXPECT_EQ(written, CString(c.written));
        EXPECT_EQ(CShellTreeCtrl::DecodeName(written), CString(c.name));
        EXPECT_EQ(written.Find(_T('\n')), -1);
        EXPECT_EQ(written.Find(_T('\r')), -1);
    }
}

TEST(ExcludedFolderTest, OnlyTheWholeFoldersAtADriveRootAreLeftOut) {
    struct Case {
        const char16_t* path;
        int excluded;
    };
    const Case cases[] = {
        {u"D:\\System Volume Information\\x.dat", 1}, {u"\\\\?\\E:\\RECYCLER\\S-1-5\\a.txt", 1}, {u"E:\\recycler", 1},
        {u"E:\\RECYCLER-old\\keep.txt", 0},           {u"C:\\Data\\RECYCLER\\keep.txt", 0},      {u"C:\\", 0},
        {u"C:\\System Volume Informationally", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CBackManager::IsExcludedFolder(c.path), c.excluded) << std::string(c.path, c.path + 3);
}

} // namespace
