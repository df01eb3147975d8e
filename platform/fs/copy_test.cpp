#include "platform/fs/copy.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/fs_test_support.h"
#include "platform/testing/child_test.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace fstest;

namespace {

struct Progress {
    struct Call {
        int64_t total;
        int64_t transferred;
        DWORD reason;
        bool handles;
    };
    std::vector<Call> calls;
    int cancelAtChunk = -1; // answer PROGRESS_CANCEL at this chunk
    int flagAtChunk = -1;   // set the cancel flag at this chunk
    BOOL* cancelFlag = nullptr;
};

DWORD Record(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD stream, DWORD reason,
             HANDLE source, HANDLE destination, LPVOID data) {
    auto* p = static_cast<Progress*>(data);
    EXPECT_EQ(stream, 1u);
    p->calls.push_back({total.QuadPart, transferred.QuadPart, reason, source && destination});
    const int chunks = static_cast<int>(p->calls.size()) - 1;
    if (reason == CALLBACK_CHUNK_FINISHED && chunks == p->cancelAtChunk)
        return PROGRESS_CANCEL;
    if (reason == CALLBACK_CHUNK_FINISHED && chunks == p->flagAtChunk)
        *p->cancelFlag = TRUE;
    return PROGRESS_CONTINUE;
}

class CopyTest : public FsTest {
protected:
    std::string Pattern(size_t size) {
        std::string s(size, '\0');
        for (size_t i = 0; i < size; ++i)
            s[i] = static_cast<char>((i * 131) ^ (i >> 11));
        return s;
    }
};

TEST_F(CopyTest, ReportsStreamSwitchThenEveryChunk) {
    const std::string content = Pattern(10 * 1024 * 1024 + 123);
    m_drive.Write("big.bin", content);
    Progress p;
    BOOL cancel = FALSE;
    ASSERT_TRUE(CopyFileExW(u"T:\\big.bin", u"T:\\copy.bin", &Record, &p, &cancel, 0));
    EXPECT_EQ(m_drive.Read("copy.bin"), content);
    ASSERT_GE(p.calls.size(), 3u);
    EXPECT_EQ(p.calls[0].reason, CALLBACK_STREAM_SWITCH);
    EXPECT_EQ(p.calls[0].transferred, 0);
    int64_t last = 0;
    for (size_t i = 1; i < p.calls.size(); ++i) {
        EXPECT_EQ(p.calls[i].reason, CALLBACK_CHUNK_FINISHED);
        EXPECT_GT(p.calls[i].transferred, last);
        EXPECT_EQ(p.calls[i].total, static_cast<int64_t>(content.size()));
        EXPECT_TRUE(p.calls[i].handles);
        last = p.calls[i].transferred;
    }
    EXPECT_EQ(last, static_cast<int64_t>(content.size()));

    // An empty file still reports its one (empty) chunk.
    m_drive.Write("empty", "");
    Progress e;
    ASSERT_TRUE(CopyFileExW(u"T:\\empty", u"T:\\empty2", &Record, &e, nullptr, 0));
    ASSERT_EQ(e.calls.size(), 2u);
    EXPECT_EQ(e.calls[1].reason, CALLBACK_CHUNK_FINISHED);
    EXPECT_TRUE(m_drive.Exists("empty2"));
}

TEST_F(CopyTest, CancelLeavesNoHalfCopyAndKeepsTheOldDestination) {
    const std::string content = Pattern(12 * 1024 * 1024);
    m_drive.Write("big.bin", content);
    Progress p;
    p.cancelAtChunk = 1;
    EXPECT_FALSE(CopyFileExW(u"T:\\big.bin", u"T:\\new.bin", &Record, &p, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
    EXPECT_FALSE(m_drive.Exists("new.bin"));

    m_drive.Write("old.bin", "previous backup");
    BOOL cancel = FALSE;
    Progress f;
    f.flagAtChunk = 1;
    f.cancelFlag = &cancel;
    EXPECT_FALSE(CopyFileExW(u"T:\\big.bin", u"T:\\old.bin", &Record, &f, &cancel, 0));
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
    EXPECT_EQ(m_drive.Read("old.bin"), "previous backup");
    EXPECT_EQ(m_drive.Names().size(), 2u) << "a temporary copy was left behind";

    // A flag set before the copy stops it before anything is written.
    EXPECT_FALSE(CopyFileExW(u"T:\\big.bin", u"T:\\new.bin", nullptr, nullptr, &cancel, 0));
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
    EXPECT_FALSE(m_drive.Exists("new.bin"));
}

// A large copy's room is reserved before the data moves. A source cut short during the copy gives a copy of what
// was there to read, and the copy holds no room beyond its end; one that grows gives all it has.
TEST_F(CopyTest, ASourceChangingSizeDuringALargeCopyGivesWhatItHadAndNoRoomBeyond) {
    struct Resize {
        std::string host;
        off_t size;
    };
    const auto resizeAtFirstChunk = [](LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                       DWORD reason, HANDLE, HANDLE, LPVOID data) -> DWORD {
        auto* r = static_cast<Resize*>(data);
        if (reason == CALLBACK_CHUNK_FINISHED && transferred.QuadPart > 0 && r->size >= 0) {
            EXPECT_EQ(truncate(r->host.c_str(), r->size), 0);
            r->size = -1;
        }
        return PROGRESS_CONTINUE;
    };
    const std::string content = Pattern(12 * 1024 * 1024 + 5);
    struct Case {
        off_t size; // the source's size from the first chunk on
        const char16_t* copy;
        const char* copyName;
    };
    const Case cases[] = {
        {5 * 1024 * 1024 + 7, u"T:\\shrunk.bin", "shrunk.bin"},
        {4 * 1024 * 1024, u"T:\\cut.bin", "cut.bin"},
        {20 * 1024 * 1024 + 3, u"T:\\grown.bin", "grown.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copyName);
        m_drive.Write("big.bin", content);
        Resize r{m_drive.Host("big.bin"), c.size};
        ASSERT_TRUE(CopyFileExW(u"T:\\big.bin", c.copy, resizeAtFirstChunk, &r, nullptr, 0));
        std::string expected = content;
        expected.resize(static_cast<size_t>(c.size), '\0');
        EXPECT_EQ(m_drive.Read("big.bin"), expected);
        EXPECT_TRUE(m_drive.Read(c.copyName) == expected) << "the copy differs from the source it read";
        struct stat st {};
        ASSERT_EQ(stat(m_drive.Host(c.copyName).c_str(), &st), 0);
        EXPECT_EQ(st.st_size, c.size);
        EXPECT_LE(static_cast<off_t>(st.st_blocks) * 512, c.size + 1024 * 1024) << "room kept beyond the copy's end";
    }
}

TEST_F(CopyTest, ErrorsOfSourceAndDestination) {
    m_drive.Write("a.txt", "new");
    m_drive.Write("b.txt", "old");
    EXPECT_FALSE(CopyFileExW(u"T:\\a.txt", u"T:\\B.TXT", nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(m_drive.Read("b.txt"), "old");
    EXPECT_TRUE(CopyFileW(u"T:\\a.txt", u"T:\\B.TXT", FALSE));
    EXPECT_EQ(m_drive.Read("b.txt"), "new");

    EXPECT_FALSE(CopyFileW(u"T:\\missing", u"T:\\x", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CopyFileW(u"T:\\a.txt", u"T:\\nodir\\x", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFileW(u"T:\\a.txt", u"T:\\A.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(m_drive.Read("a.txt"), "new");

    ASSERT_TRUE(SetFileAttributesW(u"T:\\b.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(CopyFileW(u"T:\\a.txt", u"T:\\b.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // A destination another opener holds is not pulled away from under it.
    m_drive.Write("c.txt", "held");
    HANDLE h =
        CreateFileW(u"T:\\c.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(CopyFileW(u"T:\\a.txt", u"T:\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    EXPECT_EQ(m_drive.Read("c.txt"), "held");
}

// A source that exists as written is opened without a look-up first; every spelling must end the same way.
TEST_F(CopyTest, SourceSpellingsAndTheirErrors) {
    m_drive.Write("a.txt", "data");
    ASSERT_EQ(mkdir(m_drive.Host("dir").c_str(), 0777), 0);
    struct Case {
        const char16_t* source;
        const char16_t* destination;
        DWORD error; // ERROR_SUCCESS when the copy succeeds
    };
    const Case cases[] = {
        {u"T:\\a.txt", u"T:\\copy1.txt", ERROR_SUCCESS},
        {u"T:\\A.TXT", u"T:\\copy2.txt", ERROR_SUCCESS},
        {u"T:\\dir", u"T:\\copy3.txt", ERROR_ACCESS_DENIED},
        {u"T:\\DIR", u"T:\\copy4.txt", ERROR_ACCESS_DENIED},
        {u"T:\\a.txt\\x", u"T:\\copy5.txt", ERROR_PATH_NOT_FOUND},
        {u"T:\\a.txt", u"Q:\\copy6.txt", ERROR_PATH_NOT_FOUND},
        {u"T:\\a.txt", u"T:\\nodir\\copy7.txt", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        SetLastError(12345);
        EXPECT_EQ(CopyFileW(c.source, c.destination, TRUE) != FALSE, c.error == ERROR_SUCCESS);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(m_drive.Read("copy1.txt"), "data");
    EXPECT_EQ(m_drive.Read("copy2.txt"), "data");
    EXPECT_FALSE(m_drive.Exists("copy3.txt") || m_drive.Exists("copy4.txt") || m_drive.Exists("copy5.txt"));
    // The failed copies left the source free to be opened without sharing.
    HANDLE h = CreateFileW(u"T:\\a.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(CopyTest, CopiesTimesAndAttributes) {
    m_drive.Write("src.txt", "data");
    ASSERT_TRUE(SetFileAttributesW(u"T:\\src.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    HANDLE h = CreateFileW(u"T:\\src.txt", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME written = platform::clock::ToFileTime(126'000'000'123'456'700LL);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    CloseHandle(h);

    ASSERT_TRUE(CopyFileW(u"T:\\src.txt", u"T:\\dst.txt", TRUE));
    EXPECT_EQ(GetFileAttributesW(u"T:\\dst.txt"),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\dst.txt", GetFileExInfoStandard, &data));
    EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), platform::clock::FromFileTime(written));
    EXPECT_EQ(data.nFileSizeLow, 4u);
}

TEST_F(CopyTest, ExtrasStampTheCopysTimesAndMarkTheSourceOnlyWhenTheCopyIsMade) {
    const FILETIME creation = platform::clock::ToFileTime(125'000'000'000'000'100LL);
    const FILETIME access = platform::clock::ToFileTime(126'000'000'000'000'200LL);
    const FILETIME write = platform::clock::ToFileTime(126'500'000'000'000'300LL);
    platform::fs::CopyExtras extras;
    extras.creation = &creation;
    extras.lastAccess = &access;
    extras.lastWrite = &write;
    extras.clearSourceArchive = true;
    struct Case {
        DWORD sourceBits; // besides ARCHIVE
        const char16_t* name;
    };
    for (const Case& c : {Case{0, u"plain.txt"}, Case{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, u"ro.txt"},
                          Case{FILE_ATTRIBUTE_SYSTEM, u"sys.txt"}}) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.name));
        const std::u16string source = u"T:\\" + std::u16string(c.name);
        const std::u16string copy = source + u".copy";
        m_drive.Write(platform::Utf16ToUtf8(c.name), "data");
        ASSERT_TRUE(SetFileAttributesW(source.c_str(), c.sourceBits | FILE_ATTRIBUTE_ARCHIVE));

        // A copy refused because the destination exists marks nothing.
        m_drive.Write(platform::Utf16ToUtf8(c.name) + ".copy", "old");
        EXPECT_FALSE(platform::fs::CopyFileWithExtras(source.c_str(), copy.c_str(), nullptr, nullptr, nullptr,
                                                      COPY_FILE_FAIL_IF_EXISTS, extras));
        EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
        EXPECT_TRUE(GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_ARCHIVE);

        ASSERT_TRUE(platform::fs::CopyFileWithExtras(source.c_str(), copy.c_str(), nullptr, nullptr, nullptr, 0, extras));
        EXPECT_EQ(GetFileAttributesW(source.c_str()), c.sourceBits ? c.sourceBits : FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesW(copy.c_str()), c.sourceBits | FILE_ATTRIBUTE_ARCHIVE);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(platform::clock::FromFileTime(data.ftCreationTime), platform::clock::FromFileTime(creation));
        EXPECT_EQ(platform::clock::FromFileTime(data.ftLastAccessTime), platform::clock::FromFileTime(access));
        EXPECT_EQ(platform::clock::FromFileTime(data.ftLastWriteTime), platform::clock::FromFileTime(write));
        // (Read last: reading moves the access time.)
        EXPECT_EQ(m_drive.Read(platform::Utf16ToUtf8(c.name) + ".copy"), "data");
    }

    // The source's own times, as the source reads: a creation time the record keeps, a write time finer than
    // FILETIME's.
    m_drive.Write("timed.txt", "t");
    {
        HANDLE h = CreateFileW(u"T:\\timed.txt", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(h, &creation, nullptr, nullptr));
        CloseHandle(h);
        struct timespec fine[2] = {{0, UTIME_OMIT}, {1'700'000'000, 123'456'789}};
        ASSERT_EQ(utimensat(AT_FDCWD, m_drive.Host("timed.txt").c_str(), fine, 0), 0);
    }
    WIN32_FILE_ATTRIBUTE_DATA timed;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\timed.txt", GetFileExInfoStandard, &timed));
    platform::fs::CopyExtras own;
    own.sourceTimes = true;
    ASSERT_TRUE(platform::fs::CopyFileWithExtras(u"T:\\timed.txt", u"T:\\timed2.txt", nullptr, nullptr, nullptr, 0,
                                                 own));
    WIN32_FILE_ATTRIBUTE_DATA copiedTimes;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\timed2.txt", GetFileExInfoStandard, &copiedTimes));
    EXPECT_EQ(platform::clock::FromFileTime(copiedTimes.ftCreationTime), platform::clock::FromFileTime(creation));
    EXPECT_EQ(platform::clock::FromFileTime(copiedTimes.ftLastWriteTime),
              platform::clock::FromFileTime(timed.ftLastWriteTime));
    struct stat copiedStat;
    ASSERT_EQ(stat(m_drive.Host("timed2.txt").c_str(), &copiedStat), 0);
    EXPECT_EQ(copiedStat.st_mtim.tv_nsec, 123'456'700) << "the write time passes through FILETIME";

    // Omitted times leave the copy its own: the source's write time.
    m_drive.Write("own.txt", "x");
    WIN32_FILE_ATTRIBUTE_DATA before;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\own.txt", GetFileExInfoStandard, &before));
    const FILETIME zero{};
    platform::fs::CopyExtras omitted;
    omitted.lastWrite = &zero;
    ASSERT_TRUE(platform::fs::CopyFileWithExtras(u"T:\\own.txt", u"T:\\own2.txt", nullptr, nullptr, nullptr, 0,
                                                 omitted));
    WIN32_FILE_ATTRIBUTE_DATA after;
    ASSERT_TRUE(GetFileAttributesExW(u"T:\\own2.txt", GetFileExInfoStandard, &after));
    EXPECT_EQ(platform::clock::FromFileTime(after.ftLastWriteTime), platform::clock::FromFileTime(before.ftLastWriteTime));
    EXPECT_TRUE(GetFileAttributesW(u"T:\\own.txt") & FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(CopyTest, ADestinationTakenAsMissingThatIsThereAfterAllIsTreatedAsAnyExistingOne) {
    platform::fs::CopyExtras extras;
    extras.destinationMissing = true;
    m_drive.Write("src.txt", "new");

    // Missing indeed: the copy is made.
    ASSERT_TRUE(platform::fs::CopyFileWithExtras(u"T:\\src.txt", u"T:\\fresh.txt", nullptr, nullptr, nullptr,
                                                 COPY_FILE_FAIL_IF_EXISTS, extras));
    EXPECT_EQ(m_drive.Read("fresh.txt"), "new");

    // There after all: kept when the caller asked for that, or when it is read-only; else replaced.
    m_drive.Write("kept.txt", "old");
    EXPECT_FALSE(platform::fs::CopyFileWithExtras(u"T:\\src.txt", u"T:\\kept.txt", nullptr, nullptr, nullptr,
                                                  COPY_FILE_FAIL_IF_EXISTS, extras));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(m_drive.Read("kept.txt"), "old");
    m_drive.Write("ro.txt", "old");
    ASSERT_TRUE(SetFileAttributesW(u"T:\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform::fs::CopyFileWithExtras(u"T:\\src.txt", u"T:\\ro.txt", nullptr, nullptr, nullptr, 0, extras));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_drive.Read("ro.txt"), "old");
    m_drive.Write("replaced.txt", "old");
    ASSERT_TRUE(platform::fs::CopyFileWithExtras(u"T:\\src.txt", u"T:\\replaced.txt", nullptr, nullptr, nullptr, 0,
                                                 extras));
    EXPECT_EQ(m_drive.Read("replaced.txt"), "new");

    // A folder that is not there fails as the copy does without the hint.
    EXPECT_FALSE(platform::fs::CopyFileWithExtras(u"T:\\src.txt", u"T:\\nowhere\\x.txt", nullptr, nullptr, nullptr,
                                                  0, extras));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(m_drive.Names().size(), 5u) << "a temporary copy was left behind";
}

} // namespace

namespace {

TEST_F(CopyTest, CopyKeepsTheSourcesModeBitsWhateverTheUmask) {
    const mode_t modes[] = {0600, 0644, 0666, 0640, 0444, 0755};
    for (mode_t mode : modes) {
        SCOPED_TRACE(mode);
        m_drive.Write("m.txt", "mode");
        ASSERT_EQ(chmod(m_drive.Host("m.txt").c_str(), mode), 0);
        ASSERT_TRUE(CopyFileW(u"T:\\m.txt", u"T:\\m2.txt", TRUE));
        struct stat st;
        ASSERT_EQ(stat(m_drive.Host("m2.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
        EXPECT_EQ(m_drive.Read("m2.txt"), "mode");
        ASSERT_EQ(chmod(m_drive.Host("m2.txt").c_str(), 0600), 0);
        ASSERT_EQ(unlink(m_drive.Host("m2.txt").c_str()), 0);
        ASSERT_EQ(chmod(m_drive.Host("m.txt").c_str(), 0600), 0);
    }
    EXPECT_EQ(m_drive.Names().size(), 1u) << "a temporary copy was left behind";
}

TEST_F(CopyTest, ASourceAnotherProcessDeniesReadingIsNotCopied) {
    m_drive.Write("locked.txt", "secret");
    Holder holder(u"T:\\locked.txt", GENERIC_READ, 0);
    ASSERT_EQ(holder.Status(), "ok");
    EXPECT_FALSE(CopyFileW(u"T:\\locked.txt", u"T:\\copy.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(m_drive.Exists("copy.txt"));
    EXPECT_EQ(m_drive.Names().size(), 1u) << "a temporary copy was left behind";
}

// Runs only as the child of the next test: copies onto an existing file and, after the first chunk, waits in
// its progress routine to be killed.
DWORD ReportAndWait(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD reason, HANDLE, HANDLE,
                    LPVOID) {
    if (reason == CALLBACK_CHUNK_FINISHED) {
        testsupport::ReportToParent("copying");
        testsupport::WaitForParent();
        return PROGRESS_CANCEL;
    }
    return PROGRESS_CONTINUE;
}

TEST(CopyChild, DISABLED_CopiesUntilKilled) {
    if (!std::getenv("COPY_CHILD"))
        FAIL() << "runs only as the child of ACopyKilledWhileReplacingAFileLeavesNoTemporary";
    CopyFileExW(u"T:\\big.bin", u"T:\\dest.bin", &ReportAndWait, nullptr, nullptr, 0);
}

TEST_F(CopyTest, ACopyKilledWhileReplacingAFileLeavesNoTemporary) {
    const std::string content = Pattern(9 * 1024 * 1024);
    m_drive.Write("big.bin", content);
    m_drive.Write("dest.bin", "the old destination");
    testsupport::ChildTest child("CopyChild.DISABLED_CopiesUntilKilled", {{"COPY_CHILD", "1"}});
    ASSERT_EQ(child.ReadLine(), "copying");
    const int status = child.Kill();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(m_drive.Read("dest.bin"), "the old destination");
    EXPECT_EQ(m_drive.Names().size(), 2u) << "a temporary copy was left behind";

    // Later copies into the folder leave nothing either.
    ASSERT_TRUE(CopyFileW(u"T:\\big.bin", u"T:\\dest.bin", FALSE));
    EXPECT_EQ(m_drive.Read("dest.bin"), content);
    EXPECT_EQ(m_drive.Names().size(), 2u) << "a temporary copy was left behind";
}

} // namespace
