#include "engine/FileFilter.h"

#include <gtest/gtest.h>

TEST(FileFilterTest, PatternTextRoundTripsLowerCasedAndSkipsEmptyPieces) {
    CFileFilter filter;
    EXPECT_EQ(filter.SetPatterns(_T("*.TMP\t~*\t")), 2);
    CString text;
    filter.GetPatterns(text);
    EXPECT_EQ(text.Compare(_T("*.tmp\t~*\t")), 0);
    struct Case {
        LPCTSTR text;
        int count;
    };
    for (const Case& c : {Case{_T("\t\t\t"), 0}, Case{_T("\ta\t\tb"), 2}, Case{_T(""), 0}, Case{nullptr, 0}}) {
        EXPECT_EQ(filter.SetPatterns(c.text), c.count);
        filter.GetPatterns(text);
        EXPECT_EQ(text.IsEmpty(), c.count == 0);
    }
    filter.Clear();
    EXPECT_EQ(filter.GetCount(), 0);
}

TEST(FileFilterTest, MatchesOnlyTheLastComponent) {
    CFileFilter filter;
    filter.SetPatterns(_T("*.tmp\ta?c\t*ab\t"));
    struct Case {
        LPCTSTR path;
        int filtered;
    };
    const Case cases[] = {
        {_T("C:\\dir\\file.TMP"), 1},
        {_T("C:\\dir\\file.Tmp"), 1},
        {_T("C:\\dir\\file.tmpx"), 0},
        {_T("C:\\x.tmp\\file.txt"), 0},
        {_T("abc"), 1},
        {_T("C:\\ab"), 1},
        {_T("C:\\ac"), 0},
        {_T("aab"), 1},
        {_T(""), 0},
        {_T("C:\\dir\\"), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(filter.IsFilteredPath(c.path), c.filtered) << static_cast<const void*>(c.path);
    CFileFilter star;
    star.SetPatterns(_T("*\t"));
    EXPECT_EQ(star.IsFilteredPath(_T("C:\\anything.at.all")), 1);
    CFileFilter none;
    EXPECT_EQ(none.IsFilteredPath(_T("C:\\a.tmp")), 0);
}

TEST(FileFilterTest, ItemsAreMatchedByTheirFileSystemPath) {
    CFileFilter filter;
    filter.SetPatterns(_T("*.tmp\t"));
    EXPECT_EQ(filter.IsFilteredItem(nullptr), 0);
    PIDLIST_ABSOLUTE temp = SHSimpleIDListFromPath(u"C:\\dir\\Cache.TMP");
    PIDLIST_ABSOLUTE kept = SHSimpleIDListFromPath(u"C:\\dir.tmp\\notes.txt");
    ASSERT_NE(temp, nullptr);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(filter.IsFilteredItem(temp), 1);
    EXPECT_EQ(filter.IsFilteredItem(kept), 0);
    ILFree(temp);
    ILFree(kept);

    // A path far beyond MAX_PATH is still matched by its last component, not skipped.
    std::u16string deep = u"C:";
    while (deep.size() < 3000)
        deep += u"\\folder-with-a-long-name";
    PIDLIST_ABSOLUTE longTemp = SHSimpleIDListFromPath((deep + u"\\x.tmp").c_str());
    ASSERT_NE(longTemp, nullptr);
    EXPECT_EQ(filter.IsFilteredItem(longTemp), 1);
    ILFree(longTemp);
}

TEST(FileFilterTest, StarRetriesOnlyTheMostRecentStar) {
    struct Case {
        LPCTSTR pattern;
        LPCTSTR name;
        bool match;
    };
    const Case cases[] = {
        {_T("*ab"), _T("aab"), true},    {_T("a*b*c"), _T("axbxc"), true}, {_T("a?c"), _T("ac"), false},
        {_T("*"), _T(""), true},         {_T("**"), _T("x"), true},        {_T("a*"), _T("a"), true},
        {_T("*.txt"), _T(".txt"), true}, {_T("?"), _T("ab"), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CFileFilter::MatchPattern(c.pattern, c.name), c.match);
}
