#include "platform/fs/files.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/attributes.h"
#include "platform/fs/copy.h"
#include "platform/fs/fs_test_support.h"

#include <atomic>
#include <cctype>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fstest;

namespace {

class FilesTest : public FsTest {
protected:
    HANDLE Open(const char16_t* path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING,
                DWORD flags = FILE_ATTRIBUTE_NORMAL) {
        return CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    }
};

TEST_F(FilesTest, CreateDispositions) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool succeeds;
        DWORD error; // last error after the call
        const char* contentAfter;
    };
    const Case cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "disposition " << c.disposition << " exists " << c.exists);
        unlink(m_drive.Host("f.txt").c_str());
        if (c.exists)
            m_drive.Write("f.txt", "old");
        SetLastError(12345);
        HANDLE h = Open(u"T:\\F.txt", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.succeeds);
        EXPECT_EQ(GetLastError(), c.error);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        if (c.contentAfter) {
            EXPECT_EQ(m_drive.Read(c.exists ? "f.txt" : "F.txt"), c.contentAfter);
        } else {
            EXPECT_FALSE(m_drive.Exists("F.txt") || m_drive.Exists("f.txt"));
        }
        unlink(m_drive.Host("F.txt").c_str());
    }
    EXPECT_EQ(Open(u"T:\\none\\f.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, FoldersOpenOnlyWithBackupSemantics) {
    ASSERT_EQ(mkdir(m_drive.Host("dir").c_str(), 0777), 0);
    EXPECT_EQ(Open(u"T:\\dir", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE h = Open(u"T:\\dir", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME created = platform::clock::ToFileTime(126'000'000'000'000'000LL);
    const FILETIME written = platform::clock::ToFileTime(127'000'000'000'000'000LL);
    EXPECT_TRUE(SetFileTime(h, &created, nullptr, &written));
    FILETIME c, w;
    EXPECT_TRUE(GetFileTime(h, &c, nullptr, &w));
    EXPECT_EQ(platform::clock::FromFileTime(c), platform::clock::FromFileTime(created));
    EXPECT_EQ(platform::clock::FromFileTime(w), platform::clock::FromFileTime(written));
    DWORD n;
    char byte;
    EXPECT_FALSE(ReadFile(h, &byte, 1, &n, nullptr));
    EXPECT_TRUE(CloseHandle(h));
}

// A name written in its exact case is looked at once, and that look serves the open and the attribute query;
// the same name in another case goes through the case-insensitive lookup. Both must tell the same story for
// every kind of entry.
TEST_F(FilesTest, ExactAndOtherCaseNamesOpenAndReadAlike) {
    m_drive.Write("plain.txt", "12345");
    m_drive.Write("locked.txt", "abc");
    ASSERT_EQ(chmod(m_drive.Host("locked.txt").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(m_drive.Host("folder").c_str(), 0777), 0);
    ASSERT_EQ(symlink(m_drive.Host("plain.txt").c_str(), m_drive.Host("link.txt").c_str()), 0);
    ASSERT_EQ(symlink(m_drive.Host("gone.txt").c_str(), m_drive.Host("dangling.txt").c_str()), 0);
    struct Case {
        const char* name;
        DWORD access;
        DWORD flags;
        bool opens;
        DWORD openError;
        bool attributesRead;
        DWORD size;
    };
    const Case cases[] = {
        {"plain.txt", GENERIC_READ | GENERIC_WRITE, 0, true, ERROR_SUCCESS, true, 5},
        {"locked.txt", GENERIC_READ | GENERIC_WRITE, 0, false, ERROR_ACCESS_DENIED, true, 3},
        {"locked.txt", GENERIC_READ, 0, true, ERROR_SUCCESS, true, 3},
        {"folder", GENERIC_READ, 0, false, ERROR_ACCESS_DENIED, true, 0},
        {"folder", GENERIC_READ | GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS, true, ERROR_SUCCESS, true, 0},
        {"link.txt", GENERIC_READ | GENERIC_WRITE, 0, true, ERROR_SUCCESS, true, 5},
        {"dangling.txt", GENERIC_READ, 0, false, ERROR_FILE_NOT_FOUND, true, 0},
        {"missing.txt", GENERIC_READ, 0, false, ERROR_FILE_NOT_FOUND, false, 0},
    };
    for (const Case& c : cases) {
        std::string upper = c.name;
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        std::optional<WIN32_FILE_ATTRIBUTE_DATA> first;
        for (const std::string& spelling : {std::string(c.name), upper}) {
            SCOPED_TRACE(spelling);
            const std::u16string path = u"T:\\" + W(spelling);
            HANDLE h = Open(path.c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, c.flags);
            EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
            EXPECT_EQ(GetLastError(), c.openError);
            if (h != INVALID_HANDLE_VALUE) {
                EXPECT_TRUE(CloseHandle(h));
            }
            WIN32_FILE_ATTRIBUTE_DATA data{};
            EXPECT_EQ(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE, c.attributesRead);
            if (!c.attributesRead)
                continue;
            EXPECT_EQ(data.nFileSizeLow, c.size);
            EXPECT_EQ(GetFileAttributesW(path.c_str()), data.dwFileAttributes);
            if (!first) {
                first = data;
                continue;
            }
            EXPECT_EQ(data.dwFileAttributes, first->dwFileAttributes);
            EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime),
                      platform::clock::FromFileTime(first->ftCreationTime));
            EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime),
                      platform::clock::FromFileTime(first->ftLastWriteTime));
        }
    }
    for (const char16_t* spelling : {u"T:\\plain.txt", u"T:\\PLAIN.TXT"}) {
        SetLastError(12345);
        HANDLE h = Open(spelling, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        // Held without sharing: neither spelling opens it again.
        EXPECT_EQ(Open(u"T:\\plain.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(Open(u"T:\\Plain.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(m_drive.Read("plain.txt"), "12345");
    EXPECT_NE(GetFileAttributesW(u"T:\\link.txt") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_NE(GetFileAttributesW(u"T:\\locked.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    chmod(m_drive.Host("locked.txt").c_str(), 0644);
}

TEST_F(FilesTest, ReadWriteSeekAndSize) {
    HANDLE h = Open(u"T:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    LARGE_INTEGER size;
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 11);
    LARGE_INTEGER to, pos;
    to.QuadPart = 6;
    EXPECT_TRUE(SetFilePointerEx(h, to, &pos, FILE_BEGIN));
    char buf[16] = {};
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "world");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr)); // at the end: success with nothing
    EXPECT_EQ(n, 0u);
    to.QuadPart = -100;
    EXPECT_FALSE(SetFilePointerEx(h, to, &pos, FILE_CURRENT));
    EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_EQ(GetFileType(h), FILE_TYPE_DISK);
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.nFileSizeLow, 5u);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(m_drive.Read("data.bin"), "hello");

    HANDLE readOnly = Open(u"T:\\data.bin", GENERIC_READ, FILE_SHARE_READ);
    EXPECT_FALSE(WriteFile(readOnly, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(readOnly));
    HANDLE writeOnly = Open(u"T:\\data.bin", GENERIC_WRITE, 0);
    EXPECT_FALSE(ReadFile(writeOnly, buf, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(writeOnly));
}

TEST_F(FilesTest, ShareModesBetweenOpensInOneProcess) {
    struct Case {
        DWORD access1, share1, access2, share2;
        bool secondOpens;
    };
    constexpr DWORD R = GENERIC_READ, Wr = GENERIC_WRITE, RW = GENERIC_READ | GENERIC_WRITE;
    constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
    const Case cases[] = {
        {R, SR, R, SR, true},
        {R, SR, Wr, SR | SW, false}, // the first does not share writing
        {R, SR | SW, Wr, SR | SW, true},
        {Wr, SR | SW, R, SR, false},    // the second would deny the first's writing
        {R, 0, R, SR | SW | SD, false}, // exclusive
        {RW, SR | SW, R, SR | SW, true},
        {R, SR | SW, RW, SR, true},
        {FILE_READ_ATTRIBUTES, 0, R, 0, true}, // opens without data access take no part
        {R, 0, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, true},
        {DELETE, SR | SW, R, SR | SW, false}, // the second does not share deleting
        {R, SR | SW, DELETE, SR | SW | SD, false},
    };
    m_drive.Write("shared.txt", "x");
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << c.access1 << "/" << c.share1 << " then " << c.access2 << "/" << c.share2);
        HANDLE first = Open(u"T:\\shared.txt", c.access1, c.share1);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open(u"T:\\shared.txt", c.access2, c.share2);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        } else {
            EXPECT_TRUE(CloseHandle(second));
        }
        EXPECT_TRUE(CloseHandle(first));
        // Closing gives the file back.
        HANDLE again = Open(u"T:\\shared.txt", c.access2, c.share2);
        EXPECT_NE(again, INVALID_HANDLE_VALUE);
        CloseHandle(again);
    }
}

// Every pair of accesses and share modes, against the rule itself: a second open needs the first to share what
// it does, and must share what the first does; opens without data access take no part.
TEST_F(FilesTest, ShareModesOfEveryPairFollowTheRule) {
    const DWORD accesses[] = {FILE_READ_ATTRIBUTES,
                              GENERIC_READ,
                              GENERIC_WRITE,
                              GENERIC_READ | GENERIC_WRITE,
                              DELETE,
                              GENERIC_READ | DELETE,
                              GENERIC_READ | GENERIC_WRITE | DELETE};
    struct Uses {
        bool read, write, del;
    };
    auto uses = [](DWORD access) {
        return Uses{(access & GENERIC_READ) != 0, (access & GENERIC_WRITE) != 0, (access & DELETE) != 0};
    };
    auto permits = [](const Uses& u, DWORD share) {
        return (!u.read || (share & FILE_SHARE_READ)) && (!u.write || (share & FILE_SHARE_WRITE)) &&
               (!u.del || (share & FILE_SHARE_DELETE));
    };
    m_drive.Write("pairs.txt", "x");
    for (DWORD access1 : accesses) {
        for (DWORD share1 = 0; share1 < 8; ++share1) {
            HANDLE first = Open(u"T:\\pairs.txt", access1, share1);
            ASSERT_NE(first, INVALID_HANDLE_VALUE);
            const Uses u1 = uses(access1);
            for (DWORD access2 : accesses) {
                for (DWORD share2 = 0; share2 < 8; ++share2) {
                    const Uses u2 = uses(access2);
                    const bool data1 = u1.read || u1.write || u1.del;
                    const bool data2 = u2.read || u2.write || u2.del;
                    const bool expected = !data1 || !data2 || (permits(u2, share1) && permits(u1, share2));
                    HANDLE second = Open(u"T:\\pairs.txt", access2, share2);
                    EXPECT_EQ(second != INVALID_HANDLE_VALUE, expected)
                        << std::hex << access1 << "/" << share1 << " then " << access2 << "/" << share2;
                    if (second != INVALID_HANDLE_VALUE)
                        CloseHandle(second);
                    else
                        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
                }
            }
            EXPECT_TRUE(CloseHandle(first));
        }
    }
}

// Two opens that refuse each other, made at the same moment from two threads: exactly one gets the file, every
// time.
TEST_F(FilesTest, ConflictingOpensAtTheSameMomentLetExactlyOneIn) {
    m_drive.Write("raced.txt", "x");
    struct Pair {
        DWORD access1, share1, access2, share2;
    };
    const Pair pairs[] = {
        {GENERIC_READ, 0, GENERIC_READ, 0},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
    };
    for (const Pair& pair : pairs) {
        for (int round = 0; round < 200; ++round) {
            std::atomic<int> ready{0};
            HANDLE second = INVALID_HANDLE_VALUE;
            std::thread other([&] {
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                second = Open(u"T:\\raced.txt", pair.access2, pair.share2);
            });
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            HANDLE first = Open(u"T:\\raced.txt", pair.access1, pair.share1);
            other.join();
            ASSERT_EQ((first != INVALID_HANDLE_VALUE) + (second != INVALID_HANDLE_VALUE), 1)
                << "round " << round << ", " << std::hex << pair.access1 << "/" << pair.share1 << " and "
                << pair.access2 << "/" << pair.share2;
            CloseHandle(first != INVALID_HANDLE_VALUE ? first : second);
        }
    }
}

TEST_F(FilesTest, DeleteAndMoveRespectOpensThatDoNotShareDeleting) {
    m_drive.Write("held.txt", "x");
    HANDLE h = Open(u"T:\\held.txt", GENERIC_READ, FILE_SHARE_READ);
    EXPECT_FALSE(DeleteFileW(u"T:\\held.txt"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileW(u"T:\\held.txt", u"T:\\moved.txt"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    h = Open(u"T:\\held.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_TRUE(MoveFileW(u"T:\\held.txt", u"T:\\moved.txt"));
    EXPECT_TRUE(DeleteFileW(u"T:\\moved.txt"));
    CloseHandle(h);
    EXPECT_FALSE(m_drive.Exists("moved.txt"));
}

TEST_F(FilesTest, ShareModesHoldAcrossProcesses) {
    m_drive.Write("locked.txt", "data");
    {
        Holder holder(u"T:\\locked.txt", GENERIC_READ, 0);
        ASSERT_EQ(holder.Status(), "ok");
        EXPECT_EQ(Open(u"T:\\locked.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_FALSE(CopyFileW(u"T:\\locked.txt", u"T:\\copy.txt", FALSE));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_FALSE(m_drive.Exists("copy.txt"));
        // Attribute-only opens are not stopped.
        HANDLE attributes = Open(u"T:\\locked.txt", FILE_READ_ATTRIBUTES, 0);
        EXPECT_NE(attributes, INVALID_HANDLE_VALUE);
        CloseHandle(attributes);
    }
    HANDLE h = Open(u"T:\\locked.txt", GENERIC_READ, 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    {
        // And the other way round: the second process is refused while this one holds the file.
        Holder holder(u"T:\\locked.txt", GENERIC_READ, FILE_SHARE_READ);
        EXPECT_EQ(holder.Status(), "error 32");
    }
    CloseHandle(h);
}

TEST_F(FilesTest, ReadOnlyFilesRefuseWritingAndDeleting) {
    m_drive.Write("ro.txt", "keep");
    ASSERT_TRUE(SetFileAttributesW(u"T:\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(u"T:\\ro.txt"), FILE_ATTRIBUTE_READONLY);
    struct stat st;
    ASSERT_EQ(stat(m_drive.Host("ro.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(Open(u"T:\\ro.txt", GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(u"T:\\ro.txt"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_drive.Read("ro.txt"), "keep");
    // Times can still be set through an attributes-only open, as Windows allows.
    HANDLE h = Open(u"T:\\ro.txt", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME t = platform::clock::ToFileTime(125'000'000'000'000'000LL);
    EXPECT_TRUE(SetFileTime(h, &t, &t, &t));
    CloseHandle(h);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileW(u"T:\\ro.txt"));
    EXPECT_FALSE(DeleteFileW(u"T:\\ro.txt"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(u"T:\\nodir\\ro.txt"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

class AttributesTest : public FilesTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        platform::fs::detail::ForceAttributeStoreForTests(GetParam());
    }
    void TearDown() override { platform::fs::detail::ForceAttributeStoreForTests(false); }
};

TEST_P(AttributesTest, RoundTripOfBitsAndCreationTime) {
    HANDLE h = CreateFileW(u"T:\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_ARCHIVE);

    const DWORD bits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    ASSERT_TRUE(SetFileAttributesW(u"T:\\new.txt", bits));
    EXPECT_EQ(GetFileAttributesW(u"t:\\NEW.txt"), bits);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\new.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_NORMAL);

    // Writing sets the archive bit again, as Windows does for a changed file.
    h = CreateFileW(u"T:\\new.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n;
    ASSERT_TRUE(WriteFile(h, "more", 4, &n, nullptr));
    const FILETIME created = platform::clock::ToFileTime(120'000'000'000'000'000LL);
    const FILETIME written = platform::clock::ToFileTime(130'000'000'000'000'000LL);
    EXPECT_TRUE(SetFileTime(h, &created, nullptr, &written));
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_ARCHIVE);

    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\new.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), platform::clock::FromFileTime(created));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), platform::clock::FromFileTime(written));
    EXPECT_EQ(data.nFileSizeLow, 4u);

    // Setting only times leaves a cleared archive bit cleared.
    ASSERT_TRUE(SetFileAttributesW(u"T:\\new.txt", FILE_ATTRIBUTE_NORMAL));
    h = CreateFileW(u"T:\\new.txt", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &created));
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_NORMAL);

    // ... and a set one set, also when it was set by a write from outside the layer; for both ways of opening.
    for (const char16_t* spelling : {u"T:\\new.txt", u"T:\\NEW.TXT"}) {
        ASSERT_TRUE(SetFileAttributesW(u"T:\\new.txt", FILE_ATTRIBUTE_NORMAL));
        m_drive.Write("new.txt", "changed");
        EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_ARCHIVE);
        h = CreateFileW(spelling, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetFileTime(h, &created, &created, &written));
        CloseHandle(h);
        EXPECT_EQ(GetFileAttributesW(u"T:\\new.txt"), FILE_ATTRIBUTE_ARCHIVE);
        ASSERT_TRUE(GetFileAttributesExW(u"T:\\new.txt", GetFileExInfoStandard, &data));
        EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), platform::clock::FromFileTime(created));
        EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), platform::clock::FromFileTime(written));
    }

    ASSERT_EQ(mkdir(m_drive.Host("folder").c_str(), 0777), 0);
    EXPECT_EQ(GetFileAttributesW(u"T:\\folder"), FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\folder", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesW(u"T:\\folder"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    m_drive.Write(".dotted", "");
    EXPECT_EQ(GetFileAttributesW(u"T:\\.dotted"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(u"T:\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_P(AttributesTest, TimesSetThroughAHandleOfAFileMadeReadOnlySinceTheOpen) {
    m_drive.Write("later.txt", "data");
    HANDLE h = CreateFileW(u"T:\\later.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileAttributesW(u"T:\\later.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    const FILETIME created = platform::clock::ToFileTime(121'000'000'000'000'000LL);
    const FILETIME written = platform::clock::ToFileTime(131'000'000'000'000'001LL);
    EXPECT_TRUE(SetFileTime(h, &created, &written, &written));
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"T:\\later.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\later.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), platform::clock::FromFileTime(created));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), platform::clock::FromFileTime(written));
    struct stat st;
    ASSERT_EQ(stat(m_drive.Host("later.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    // Clearing the archive bit afterwards and setting times again leaves it cleared.
    ASSERT_TRUE(SetFileAttributesW(u"T:\\later.txt", FILE_ATTRIBUTE_NORMAL));
    h = CreateFileW(u"T:\\later.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(h, &created, &created, &written));
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesW(u"T:\\later.txt"), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(ExtendedAttributeOrStore, AttributesTest, ::testing::Values(false, true));

TEST_F(FilesTest, NewFilesTakeTheLayerClocksTime) {
    platform::clock::UseManualClock(125'000'000'000'000'000LL);
    HANDLE h = Open(u"T:\\stamped.txt", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    platform::clock::Advance(60'000);
    DWORD n;
    WriteFile(h, "x", 1, &n, nullptr);
    CloseHandle(h);
    platform::clock::UseRealClock();
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\stamped.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), 125'000'000'000'000'000LL);
    EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), 125'000'000'000'000'000LL + 60 * 10'000'000LL);
}

TEST_F(FilesTest, DeleteOnCloseRemovesTheFile) {
    HANDLE h = Open(u"T:\\temp.bin", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(m_drive.Exists("temp.bin"));
    CloseHandle(h);
    EXPECT_FALSE(m_drive.Exists("temp.bin"));
}

TEST_F(FilesTest, DirectoriesAndMoves) {
    EXPECT_TRUE(CreateDirectoryW(u"T:\\d", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"T:\\D", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(u"T:\\x\\y", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    m_drive.Write("d/f.txt", "1");
    EXPECT_FALSE(RemoveDirectoryW(u"T:\\d"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(RemoveDirectoryW(u"T:\\d\\f.txt"));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_FALSE(DeleteFileW(u"T:\\d"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    m_drive.Write("d/g.txt", "2");
    EXPECT_FALSE(MoveFileW(u"T:\\d\\f.txt", u"T:\\d\\g.txt"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(MoveFileExW(u"T:\\d\\f.txt", u"T:\\d\\g.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(m_drive.Read("d/g.txt"), "1");
    // A new spelling of the same name renames the file to it.
    EXPECT_TRUE(MoveFileW(u"T:\\d\\g.txt", u"T:\\d\\G.TXT"));
    EXPECT_TRUE(m_drive.Exists("d/G.TXT"));
    EXPECT_FALSE(m_drive.Exists("d/g.txt"));
    EXPECT_TRUE(MoveFileW(u"T:\\d", u"T:\\e"));
    EXPECT_TRUE(DeleteFileW(u"T:\\e\\g.txt"));
    EXPECT_TRUE(RemoveDirectoryW(u"T:\\e"));
    EXPECT_FALSE(m_drive.Exists("e"));
}

TEST_F(FilesTest, TempFileNamesAreMadeAndNeverCut) {
    WCHAR name[MAX_PATH];
    UINT n = GetTempFileNameW(u"T:\\", u"abcdef", 0, name);
    ASSERT_NE(n, 0u);
    EXPECT_EQ(std::u16string(name).substr(0, 6), u"T:\\abc");
    EXPECT_EQ(GetFileAttributesW(name) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetTempFileNameW(u"T:\\", u"x", 0x1A2B, name), 0x1A2Bu);
    EXPECT_EQ(std::u16string(name), u"T:\\x1A2B.TMP");
    std::u16string deep = u"T:\\" + std::u16string(250, u'd');
    EXPECT_EQ(GetTempFileNameW(deep.c_str(), u"x", 1, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
}

} // namespace

namespace {

TEST_F(FilesTest, OverlappedIoCompletesAndSignalsItsEvent) {
    HANDLE h =
        CreateFileW(u"T:\\ov.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov = {};
    ov.Offset = 4;
    ov.hEvent = event;
    EXPECT_TRUE(WriteFile(h, "abcd", 4, nullptr, &ov));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &n, TRUE));
    EXPECT_EQ(n, 4u);
    ResetEvent(event);
    char buf[8] = {};
    ov.Offset = 2;
    EXPECT_TRUE(ReadFile(h, buf, 8, nullptr, &ov));
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &n, TRUE));
    EXPECT_EQ(std::string(buf, n), std::string("\0\0abcd", 6));
    // Past the end the read reports the end of the file.
    ov.Offset = 100;
    EXPECT_FALSE(ReadFile(h, buf, 8, nullptr, &ov));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    EXPECT_FALSE(GetOverlappedResult(h, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    // An overlapped handle needs an OVERLAPPED.
    EXPECT_FALSE(ReadFile(h, buf, 8, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(event);
    CloseHandle(h);
}

} // namespace

namespace {

TEST_F(FilesTest, TempPathIsTheMachinesTempFolder) {
    WCHAR path[MAX_PATH];
    // The temporary folder lives in the machine folder; with a letter over that, it has a Windows name.
    ASSERT_TRUE(platform::fs::SetDrive(fstest::Letter(u'M', m_machine.Folder())));
    const DWORD n = GetTempPathW(MAX_PATH, path);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(std::u16string(path), u"M:\\Temp\\");
    EXPECT_EQ(GetTempPathW(3, path), 9u);
    EXPECT_NE(GetFileAttributesW(u"M:\\Temp") & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

} // namespace
