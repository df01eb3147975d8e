#include "platform/fs/find.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/attributes.h"
#include "platform/fs/files.h"
#include "platform/fs/fs_test_support.h"

#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace fstest;

namespace {

class FindTest : public FsTest {
protected:
    void SetUp() override {
        FsTest::SetUp();
        ASSERT_EQ(mkdir(m_drive.Host("f").c_str(), 0777), 0);
        m_drive.Write("f/a.txt", "12345");
        m_drive.Write("f/b", "");
        m_drive.Write("f/Cc.DAT", "xy");
        ASSERT_EQ(mkdir(m_drive.Host("f/sub").c_str(), 0777), 0);
        ASSERT_EQ(mkdir(m_drive.Host("f/x.").c_str(), 0777), 0);
    }

    // Every name a search returns, in order; the error that ended it.
    std::vector<std::string> List(const char16_t* pattern, DWORD* endError = nullptr) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) {
            if (endError)
                *endError = GetLastError();
            return names;
        }
        do {
            names.push_back(platform::Utf16ToUtf8(data.cFileName));
        } while (FindNextFileW(h, &data));
        if (endError)
            *endError = GetLastError();
        EXPECT_TRUE(FindClose(h));
        return names;
    }
};

TEST_F(FindTest, ListsDotsFirstThenEveryEntry) {
    DWORD end = 0;
    auto names = List(u"T:\\f\\*.*", &end);
    EXPECT_EQ(end, ERROR_NO_MORE_FILES);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], ".");
    EXPECT_EQ(names[1], "..");
    EXPECT_EQ(std::multiset<std::string>(names.begin() + 2, names.end()),
              (std::multiset<std::string>{"a.txt", "b", "Cc.DAT", "sub", "x."}));
    // A drive root has no dot entries.
    auto root = List(u"T:\\*");
    EXPECT_EQ(std::set<std::string>(root.begin(), root.end()), (std::set<std::string>{"f"}));
}

TEST_F(FindTest, PatternsMatchAsWindowsMatchesThem) {
    struct Case {
        const char16_t* pattern;
        std::set<std::string> names; // empty: ERROR_FILE_NOT_FOUND
    };
    const Case cases[] = {
        {u"T:\\f\\*.txt", {"a.txt"}}, {u"T:\\f\\*.dat", {"Cc.DAT"}},
        {u"T:\\f\\?", {".", "b"}},    {u"T:\\f\\?.*", {".", "..", "a.txt", "b", "x."}},
        {u"T:\\f\\s*", {"sub"}},      {u"T:\\f\\A.TXT", {"a.txt"}},
        {u"T:/F/cc.dat", {"Cc.DAT"}}, {u"T:\\f\\nope*", {}},
        {u"T:\\f\\nope", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.pattern));
        DWORD end = 0;
        auto names = List(c.pattern, &end);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), c.names);
        EXPECT_EQ(end, c.names.empty() ? ERROR_FILE_NOT_FOUND : ERROR_NO_MORE_FILES);
    }
    DWORD end = 0;
    EXPECT_TRUE(List(u"T:\\missing\\*.*", &end).empty());
    EXPECT_EQ(end, ERROR_PATH_NOT_FOUND);
}

TEST_F(FindTest, FillsTheFindRecord) {
    ASSERT_TRUE(SetFileAttributesW(u"T:\\f\\a.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(u"T:\\f\\a.txt", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    WIN32_FILE_ATTRIBUTE_DATA direct;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\f\\a.txt", GetFileExInfoStandard, &direct));
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, direct.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(data.ftCreationTime.dwHighDateTime, direct.ftCreationTime.dwHighDateTime);
    EXPECT_FALSE(FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    ASSERT_TRUE(SetFileAttributesW(u"T:\\f\\a.txt", FILE_ATTRIBUTE_NORMAL));

    h = FindFirstFileW(u"T:\\f\\su?", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(data.nFileSizeLow, 0u);
    EXPECT_TRUE(FindClose(h));
}

// Entries of a listing are read through the open folder where the host allows it, else by whole path; either
// way each record says what a look-up of the entry's own name says.
TEST_F(FindTest, ListedRecordsMatchLookUpsBothWays) {
    ASSERT_EQ(mkdir(m_drive.Host("g").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(m_drive.Host("g/sub").c_str(), 0777), 0);
    m_drive.Write("g/plain.txt", "123");
    m_drive.Write("g/hidden.txt", "1234");
    m_drive.Write("g/system.txt", "12345");
    m_drive.Write("g/cleared.txt", "123456");
    ASSERT_EQ(symlink(m_drive.Host("g/plain.txt").c_str(), m_drive.Host("g/link.txt").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\g\\hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(u"T:\\g\\system.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(u"T:\\g\\cleared.txt", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(SetFileAttributesW(u"T:\\g\\sub", FILE_ATTRIBUTE_HIDDEN));
    HANDLE h = CreateFileW(u"T:\\g\\plain.txt", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME created = platform::clock::ToFileTime(125'000'000'000'000'000LL);
    ASSERT_TRUE(SetFileTime(h, &created, nullptr, nullptr));
    CloseHandle(h);

    for (bool byPath : {false, true}) {
        SCOPED_TRACE(byPath ? "by path" : "through the folder");
        platform::fs::detail::ForcePathAttributeReadsForTests(byPath);
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(u"T:\\g\\*", &data);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        int entries = 0;
        do {
            const std::u16string name(data.cFileName);
            if (name == u"." || name == u"..")
                continue;
            ++entries;
            SCOPED_TRACE(platform::Utf16ToUtf8(name));
            WIN32_FILE_ATTRIBUTE_DATA direct;
            ASSERT_TRUE(GetFileAttributesExW((u"T:\\g\\" + name).c_str(), GetFileExInfoStandard, &direct));
            EXPECT_EQ(data.dwFileAttributes, direct.dwFileAttributes);
            EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime),
                      platform::clock::FromFileTime(direct.ftCreationTime));
            EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime),
                      platform::clock::FromFileTime(direct.ftLastWriteTime));
            EXPECT_EQ(data.nFileSizeLow, direct.nFileSizeLow);
            if (name == u"plain.txt") {
                EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), platform::clock::FromFileTime(created));
            }
            const std::pair<const char16_t*, DWORD> expected[] = {
                {u"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
                {u"system.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
                {u"cleared.txt", FILE_ATTRIBUTE_NORMAL},
                {u"sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
            };
            for (const auto& [entry, attributes] : expected) {
                if (name == entry) {
                    EXPECT_EQ(data.dwFileAttributes, attributes);
                }
            }
        } while (FindNextFileW(find, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(find));
        EXPECT_EQ(entries, 6);
    }
    platform::fs::detail::ForcePathAttributeReadsForTests(false);
    SetFileAttributesW(u"T:\\g\\hidden.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FindTest, LinksAreMarkedAsReparsePoints) {
    ASSERT_EQ(symlink(m_drive.Host("f/sub").c_str(), m_drive.Host("f/link").c_str()), 0);
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(u"T:\\f\\link", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    FindClose(h);
    // Removing the link leaves what it points to.
    EXPECT_TRUE(RemoveDirectoryW(u"T:\\f\\link"));
    EXPECT_TRUE(m_drive.Exists("f/sub"));
}

TEST(MatchPattern, Table) {
    struct Case {
        const char16_t* pattern;
        const char16_t* name;
        bool match;
    };
    const Case cases[] = {
        {u"*.*", u"noext", true},   {u"*.*", u"a.b.c", true},        {u"*", u"", true},
        {u"*.txt", u"A.TXT", true}, {u"*.txt", u"a.txt.bak", false}, {u"a?c", u"abc", true},
        {u"a?c", u"ac", false},     {u"*.", u"noext", true},         {u"*.", u"a.b", false},
        {u"x.*", u"x", true},       {u"*ab*ab", u"abxxabab", true},  {u"\u00e9*", u"\u00c9t\u00e9", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::fs::MatchPattern(c.pattern, c.name), c.match)
            << platform::Utf16ToUtf8(c.pattern) << " " << platform::Utf16ToUtf8(c.name);
}

} // namespace
