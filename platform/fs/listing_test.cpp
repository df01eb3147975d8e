#include "platform/fs/listing.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/fs_test_support.h"

#include <fcntl.h>
#include <map>
#include <optional>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using namespace fstest;

namespace {

class ListFolderTest : public FsTest {
protected:
    // What FindFirstFileW/FindNextFileW report for "folder\*": name -> attributes, the dots left out.
    std::map<std::u16string, DWORD> ByFind(const std::u16string& folder) {
        std::map<std::u16string, DWORD> found;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((folder + u"\\*").c_str(), &data);
        if (h == INVALID_HANDLE_VALUE)
            return found;
        do {
            const std::u16string name = data.cFileName;
            if (name != u"." && name != u"..")
                found[name] = data.dwFileAttributes;
        } while (FindNextFileW(h, &data));
        FindClose(h);
        return found;
    }

    std::map<std::u16string, DWORD> ByList(const std::u16string& folder) {
        std::vector<platform::fs::FolderEntry> entries;
        EXPECT_TRUE(platform::fs::ListFolder(folder.c_str(), entries)) << GetLastError();
        std::map<std::u16string, DWORD> found;
        for (const auto& e : entries)
            EXPECT_TRUE(found.emplace(e.name, e.attributes).second) << platform::Utf16ToUtf8(e.name);
        return found;
    }
};

// Every kind of entry, with attributes kept by the layer and those the host gives, as the search reports them.
TEST_F(ListFolderTest, GivesWhatTheSearchGives) {
    ASSERT_EQ(mkdir(m_drive.Host("f").c_str(), 0777), 0);
    m_drive.Write("f/plain.txt", "x");
    m_drive.Write("f/.dotted", "");
    m_drive.Write("f/kept hidden", "");
    m_drive.Write("f/read only", "");
    ASSERT_EQ(mkdir(m_drive.Host("f/sub").c_str(), 0777), 0);
    ASSERT_EQ(symlink("sub", m_drive.Host("f/to sub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", m_drive.Host("f/dangling").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\f\\kept hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(u"T:\\f\\read only", FILE_ATTRIBUTE_READONLY));

    const auto listed = ByList(u"T:\\f");
    EXPECT_EQ(listed, ByFind(u"T:\\f"));
    EXPECT_EQ(listed.size(), 7u);
    EXPECT_TRUE(listed.at(u"kept hidden") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(listed.at(u"read only") & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(listed.at(u"to sub") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(ByList(u"T:\\f\\"), listed);
}

// A folder large enough to be read by several threads: every entry once, each with its own attributes.
TEST_F(ListFolderTest, LargeFolderListsEveryEntryOnce) {
    ASSERT_EQ(mkdir(m_drive.Host("big").c_str(), 0777), 0);
    constexpr int kEntries = 3000;
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = m_drive.Host("big/" + std::to_string(i));
        if (i % 7 == 0) {
            ASSERT_EQ(mkdir(name.c_str(), 0777), 0);
        } else {
            const int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            close(fd);
        }
    }
    ASSERT_TRUE(SetFileAttributesW(u"T:\\big\\2999", FILE_ATTRIBUTE_HIDDEN));
    const auto listed = ByList(u"T:\\big");
    ASSERT_EQ(listed.size(), static_cast<size_t>(kEntries));
    for (int i = 0; i < kEntries; ++i) {
        const DWORD a = listed.at(platform::Utf8ToUtf16(std::to_string(i)));
        EXPECT_EQ((a & FILE_ATTRIBUTE_DIRECTORY) != 0, i % 7 == 0) << i;
        EXPECT_EQ((a & FILE_ATTRIBUTE_HIDDEN) != 0, i == 2999) << i;
    }
}

TEST_F(ListFolderTest, EmptyMissingAndFileFolders) {
    ASSERT_EQ(mkdir(m_drive.Host("empty").c_str(), 0777), 0);
    m_drive.Write("file", "");
    std::vector<platform::fs::FolderEntry> entries{platform::fs::FolderEntry{u"stale", 0}};
    EXPECT_TRUE(platform::fs::ListFolder(u"T:\\empty", entries));
    EXPECT_TRUE(entries.empty());
    for (const char16_t* folder : {u"T:\\missing", u"T:\\missing\\deeper", u"T:\\file"}) {
        EXPECT_FALSE(platform::fs::ListFolder(folder, entries)) << platform::Utf16ToUtf8(folder);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << platform::Utf16ToUtf8(folder);
        WIN32_FIND_DATAW data;
        EXPECT_EQ(FindFirstFileW((std::u16string(folder) + u"\\*").c_str(), &data), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << platform::Utf16ToUtf8(folder);
    }
    // A drive root lists like any folder.
    m_drive.Write("at root", "");
    const auto root = ByList(u"T:\\");
    EXPECT_EQ(root, ByFind(u"T:"));
    EXPECT_TRUE(root.count(u"at root"));
}

} // namespace

// Names first, attributes as they are asked for: the kinds are known before any attributes are read (a link by
// where it leads), and attributes asked from two threads while the helpers read ahead in another order are each
// entry's own.
TEST_F(ListFolderTest, AttributesAskedWhileReadAhead) {
    ASSERT_EQ(mkdir(m_drive.Host("big").c_str(), 0777), 0);
    constexpr size_t kEntries = 2500;
    for (size_t i = 0; i < kEntries; ++i) {
        const std::string name = m_drive.Host("big/" + std::to_string(i));
        if (i % 5 == 0) {
            ASSERT_EQ(mkdir(name.c_str(), 0777), 0);
        } else {
            const int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            close(fd);
        }
    }
    ASSERT_EQ(symlink("0", m_drive.Host("big/link").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\big\\7", FILE_ATTRIBUTE_HIDDEN));
    const auto expected = ByFind(u"T:\\big");
    ASSERT_EQ(expected.size(), kEntries + 1);

    platform::fs::FolderListing listing;
    ASSERT_TRUE(listing.Open(u"T:\\big")) << GetLastError();
    ASSERT_EQ(listing.Size(), kEntries + 1);
    std::vector<size_t> order;
    for (size_t i = listing.Size(); i-- > 0;)
        order.push_back(i);
    for (size_t i = 0; i < listing.Size(); ++i)
        EXPECT_EQ(listing.IsFolder(i), (expected.at(std::u16string(listing.Name(i))) & FILE_ATTRIBUTE_DIRECTORY) != 0)
            << platform::Utf16ToUtf8(listing.Name(i));
    listing.ReadAhead(order);
    std::vector<std::optional<DWORD>> other(listing.Size());
    std::thread second([&]() {
        for (size_t i = listing.Size(); i-- > 0;)
            other[i] = listing.Attributes(i);
    });
    for (size_t i = 0; i < listing.Size(); ++i) {
        const auto a = listing.Attributes(i);
        ASSERT_TRUE(a.has_value()) << i;
        EXPECT_EQ(*a, expected.at(std::u16string(listing.Name(i)))) << platform::Utf16ToUtf8(listing.Name(i));
    }
    second.join();
    for (size_t i = 0; i < listing.Size(); ++i)
        EXPECT_EQ(other[i], listing.Attributes(i)) << i;
}

// An entry removed after the names were read is left out, not reported with made-up attributes.
TEST_F(ListFolderTest, EntryGoneBeforeItsAttributes) {
    ASSERT_EQ(mkdir(m_drive.Host("f").c_str(), 0777), 0);
    m_drive.Write("f/stays", "");
    m_drive.Write("f/goes", "");
    platform::fs::FolderListing listing;
    ASSERT_TRUE(listing.Open(u"T:\\f"));
    ASSERT_EQ(listing.Size(), 2u);
    ASSERT_EQ(unlink(m_drive.Host("f/goes").c_str()), 0);
    for (size_t i = 0; i < listing.Size(); ++i)
        EXPECT_EQ(listing.Attributes(i).has_value(), listing.Name(i) == u"stays");
}
