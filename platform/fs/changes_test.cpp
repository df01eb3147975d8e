#include "platform/fs/changes.h"

#include "fs_test_support.h"
#include "platform/base/errors.h"
#include "platform/base/iocp.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

using fstest::W;

namespace {

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

using Change = std::pair<DWORD, std::u16string>;

std::vector<Change> Parse(const BYTE* buffer, DWORD bytes) {
    std::vector<Change> out;
    for (DWORD at = 0; bytes > 0;) {
        FILE_NOTIFY_INFORMATION info;
        std::memcpy(&info, buffer + at, offsetof(FILE_NOTIFY_INFORMATION, FileName));
        std::u16string name(info.FileNameLength / sizeof(WCHAR), u'\0');
        std::memcpy(name.data(), buffer + at + offsetof(FILE_NOTIFY_INFORMATION, FileName), info.FileNameLength);
        out.emplace_back(info.Action, name);
        if (info.NextEntryOffset == 0)
            break;
        EXPECT_EQ(info.NextEntryOffset % 4, 0u);
        at += info.NextEntryOffset;
    }
    return out;
}

// A watched directory with its completion port and one read always pending, as a change reader keeps it.
class Watcher {
public:
    Watcher(const std::u16string& path, DWORD bufferSize = 4096) : m_buffer(bufferSize) {
        m_dir = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        EXPECT_NE(m_dir, INVALID_HANDLE_VALUE);
        m_port = CreateIoCompletionPort(m_dir, nullptr, 77, 0);
        EXPECT_NE(m_port, nullptr);
    }
    ~Watcher() {
        CancelIoEx(m_dir, nullptr);
        CloseHandle(m_dir);
        CloseHandle(m_port);
    }
    BOOL Arm() {
        m_overlapped = OVERLAPPED{};
        return ReadDirectoryChangesW(m_dir, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), TRUE, kFilter,
                                     nullptr, &m_overlapped, nullptr);
    }
    // Takes one completion (waiting up to `ms` on the layer clock, which runs on the host here).
    // Returns false on a time-out; `bytes` and `error` describe the completion.
    bool Take(DWORD ms, std::vector<Change>& changes, DWORD& bytes, DWORD& error) {
        ULONG_PTR key = 0;
        LPOVERLAPPED ov = nullptr;
        bytes = 0;
        const BOOL ok = GetQueuedCompletionStatus(m_port, &bytes, &key, &ov, ms);
        if (!ov)
            return false;
        EXPECT_EQ(key, 77u);
        EXPECT_EQ(ov, &m_overlapped);
        error = ok ? ERROR_SUCCESS : GetLastError();
        changes = Parse(m_buffer.data(), bytes);
        return true;
    }
    // Collects changes, re-arming after every completion, until `done` holds or ten seconds have passed.
    template <class Done> std::vector<Change> CollectUntil(Done done, int* overflows = nullptr) {
        std::vector<Change> all;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done(all) && std::chrono::steady_clock::now() < deadline) {
            std::vector<Change> changes;
            DWORD bytes = 0, error = 0;
            if (!Take(100, changes, bytes, error))
                continue;
            EXPECT_EQ(error, ERROR_SUCCESS);
            if (bytes == 0 && overflows)
                ++*overflows;
            all.insert(all.end(), changes.begin(), changes.end());
            EXPECT_TRUE(Arm());
        }
        return all;
    }
    HANDLE Dir() const { return m_dir; }
    HANDLE Port() const { return m_port; }

private:
    HANDLE m_dir = INVALID_HANDLE_VALUE;
    HANDLE m_port = nullptr;
    OVERLAPPED m_overlapped{};
    std::vector<BYTE> m_buffer;
};

bool Contains(const std::vector<Change>& all, const Change& change) {
    for (const auto& c : all) {
        if (c == change)
            return true;
    }
    return false;
}

class ChangesTest : public fstest::FsTest {
protected:
    void TearDown() override { platform::fs::SetDirectoryWatchLimitForTesting(0); }
    void MkDir(const std::string& rel) { ASSERT_EQ(mkdir(m_drive.Host(rel).c_str(), 0755), 0) << rel; }
};

} // namespace

TEST_F(ChangesTest, BurstOfCreatesWritesRenamesAndNestedFoldersArrivesInOrder) {
    MkDir("w");
    m_drive.Write("w/old.txt", "x");
    Watcher watcher(u"T:\\w");
    ASSERT_TRUE(watcher.Arm());

    // Nested folders made in one go: the inner ones exist before any watch could be set on them.
    ASSERT_EQ(
        system(("mkdir -p " + m_drive.Host("w/a/b/c") + " && echo hi > " + m_drive.Host("w/a/b/c/deep.txt")).c_str()),
        0);
    m_drive.Write("w/new.txt", "1");
    m_drive.Write("w/old.txt", "changed");
    ASSERT_EQ(rename(m_drive.Host("w/new.txt").c_str(), m_drive.Host("w/renamed.txt").c_str()), 0);
    ASSERT_EQ(unlink(m_drive.Host("w/renamed.txt").c_str()), 0);
    m_drive.Write("w/a/b/c/later.txt", "2");

    const std::vector<Change> expected = {
        {FILE_ACTION_ADDED, u"a"},
        {FILE_ACTION_ADDED, u"a\\b\\c\\deep.txt"},
        {FILE_ACTION_ADDED, u"new.txt"},
        {FILE_ACTION_MODIFIED, u"old.txt"},
        {FILE_ACTION_RENAMED_OLD_NAME, u"new.txt"},
        {FILE_ACTION_RENAMED_NEW_NAME, u"renamed.txt"},
        {FILE_ACTION_REMOVED, u"renamed.txt"},
        {FILE_ACTION_ADDED, u"a\\b\\c\\later.txt"},
    };
    // Whether "a\b\c" is also reported as modified depends on whether its watch was set before later.txt was
    // written (then inotify reports the creation) or after (then the scan of the new folder reports the file),
    // so the test does not ask for it.
    auto all = watcher.CollectUntil([&](const std::vector<Change>& got) {
        for (const auto& e : expected) {
            if (!Contains(got, e))
                return false;
        }
        return true;
    });
    for (const auto& e : expected)
        EXPECT_TRUE(Contains(all, e)) << e.first << " " << platform::Utf16ToUtf8(e.second);
    // The rename pair is adjacent, old name first.
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].first == FILE_ACTION_RENAMED_OLD_NAME) {
            ASSERT_LT(i + 1, all.size());
            EXPECT_EQ(all[i + 1], (Change{FILE_ACTION_RENAMED_NEW_NAME, u"renamed.txt"}));
        }
    }
}

TEST_F(ChangesTest, FoldersFollowMovesWithinAndOutOfTheTree) {
    MkDir("w");
    MkDir("w/d");
    MkDir("outside");
    Watcher watcher(u"T:\\w");
    ASSERT_TRUE(watcher.Arm());

    ASSERT_EQ(rename(m_drive.Host("w/d").c_str(), m_drive.Host("w/e").c_str()), 0);
    m_drive.Write("w/e/in-moved.txt", "1");
    ASSERT_EQ(rename(m_drive.Host("w/e").c_str(), m_drive.Host("outside/e").c_str()), 0);
    m_drive.Write("outside/e/gone.txt", "1");
    MkDir("outside/f");
    ASSERT_EQ(rename(m_drive.Host("outside/f").c_str(), m_drive.Host("w/f").c_str()), 0);
    m_drive.Write("w/f/marker.txt", "1");

    auto all = watcher.CollectUntil([](const std::vector<Change>& got) {
        return Contains(got, {FILE_ACTION_ADDED, u"f\\marker.txt"});
    });
    EXPECT_TRUE(Contains(all, {FILE_ACTION_RENAMED_OLD_NAME, u"d"}));
    EXPECT_TRUE(Contains(all, {FILE_ACTION_RENAMED_NEW_NAME, u"e"}));
    EXPECT_TRUE(Contains(all, {FILE_ACTION_ADDED, u"e\\in-moved.txt"}));
    EXPECT_TRUE(Contains(all, {FILE_ACTION_REMOVED, u"e"}));
    EXPECT_TRUE(Contains(all, {FILE_ACTION_ADDED, u"f"}));
    EXPECT_TRUE(Contains(all, {FILE_ACTION_ADDED, u"f\\marker.txt"}));
    for (const auto& c : all)
        EXPECT_EQ(c.second.find(u"gone"), std::u16string::npos) << "a folder moved out is no longer watched";
}

TEST_F(ChangesTest, KeptChangesOutlastOneReadAndAreHandedOutOverSeveralReads) {
    MkDir("w");
    // Far more than one small read holds arrives while no read waits: nothing is lost, each read takes what fits.
    constexpr int kFiles = 200;
    Watcher watcher(u"T:\\w", 256);
    ASSERT_TRUE(watcher.Arm());
    for (int i = 0; i < kFiles; ++i)
        m_drive.Write("w/kept" + std::to_string(i) + ".dat", "x");
    int overflows = 0;
    const std::vector<Change> all = watcher.CollectUntil(
        [&](const std::vector<Change>& got) {
            return overflows > 0 ||
                   Contains(got,
                            {FILE_ACTION_ADDED, u"kept" + platform::Utf8ToUtf16(std::to_string(kFiles - 1)) + u".dat"});
        },
        &overflows);
    EXPECT_EQ(overflows, 0);
    std::vector<std::u16string> added;
    for (const auto& c : all) {
        if (c.first == FILE_ACTION_ADDED)
            added.push_back(c.second);
    }
    ASSERT_EQ(added.size(), static_cast<size_t>(kFiles));
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(added[i], u"kept" + platform::Utf8ToUtf16(std::to_string(i)) + u".dat") << "in order";
}

TEST_F(ChangesTest, LostChangesCompleteWithZeroBytes) {
    MkDir("w");
    struct Case {
        const char* name;
        DWORD bufferSize;
        int files;
        size_t nameLength;
    };
    // A buffer too small for one record, and kept changes (two long-named records a file) that outgrow the limit
    // of what a handle keeps while no read waits. Four times the limit: on a loaded machine the handle may still be
    // taking the first changes in while the test already reads them out, 4 KiB at a time.
    const size_t perFile = 2 * (offsetof(FILE_NOTIFY_INFORMATION, FileName) + 200 * sizeof(WCHAR));
    const int outgrow = 4 * static_cast<int>(platform::fs::kKeptChangesBytes / perFile);
    for (const Case& c :
         {Case{"record does not fit", 8, 1, 8}, Case{"kept changes outgrow the limit", 4096, outgrow, 200}}) {
        SCOPED_TRACE(c.name);
        Watcher watcher(u"T:\\w", c.bufferSize);
        ASSERT_TRUE(watcher.Arm());
        for (int i = 0; i < c.files; ++i) {
            std::string name = std::string(c.name).substr(0, 4) + std::to_string(i) + ".dat";
            name.insert(0, c.nameLength - std::min(c.nameLength, name.size()), 'n');
            m_drive.Write("w/" + name, "x");
        }
        int overflows = 0;
        watcher.CollectUntil([&](const std::vector<Change>&) { return overflows > 0; }, &overflows);
        EXPECT_GT(overflows, 0);
    }
}

TEST_F(ChangesTest, WatchLimitIsReportedNotSilentlyIgnored) {
    MkDir("w");
    MkDir("w/one");
    MkDir("w/two");
    platform::fs::SetDirectoryWatchLimitForTesting(2);
    {
        Watcher tooBig(u"T:\\w");
        EXPECT_FALSE(tooBig.Arm());
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    }
    platform::fs::SetDirectoryWatchLimitForTesting(3);
    Watcher watcher(u"T:\\w");
    ASSERT_TRUE(watcher.Arm());
    MkDir("w/three");
    // The folder that cannot be watched fails the pending read with an error, after what was seen so far.
    bool failed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!failed && std::chrono::steady_clock::now() < deadline) {
        std::vector<Change> changes;
        DWORD bytes = 0, error = 0;
        if (!watcher.Take(100, changes, bytes, error))
            continue;
        if (error == ERROR_NOT_ENOUGH_QUOTA)
            failed = true;
        else if (!watcher.Arm())
            failed = GetLastError() == ERROR_NOT_ENOUGH_QUOTA;
    }
    EXPECT_TRUE(failed);
    // Once the limit allows it again, the next read succeeds and says that changes were lost.
    platform::fs::SetDirectoryWatchLimitForTesting(0);
    ASSERT_TRUE(watcher.Arm());
    std::vector<Change> changes;
    DWORD bytes = 1, error = 1;
    ASSERT_TRUE(watcher.Take(5000, changes, bytes, error));
    EXPECT_EQ(error, ERROR_SUCCESS);
    EXPECT_EQ(bytes, 0u);
}

TEST_F(ChangesTest, CancelCompletesThePendingReadAndBadCallsFail) {
    MkDir("w");
    Watcher watcher(u"T:\\w");
    ASSERT_TRUE(watcher.Arm());
    // One read at a time.
    EXPECT_FALSE(watcher.Arm());
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(CancelIoEx(watcher.Dir(), nullptr));
    std::vector<Change> changes;
    DWORD bytes = 0, error = 0;
    ASSERT_TRUE(watcher.Take(1000, changes, bytes, error));
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(CancelIoEx(watcher.Dir(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);

    // A plain file is not a directory to watch.
    m_drive.Write("plain.txt", "x");
    HANDLE file = CreateFileW(u"T:\\plain.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BYTE buffer[256];
    OVERLAPPED ov{};
    EXPECT_FALSE(ReadDirectoryChangesW(file, buffer, sizeof buffer, TRUE, kFilter, nullptr, &ov, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(file);
}

TEST_F(ChangesTest, SynchronousReadAndEventCompletion) {
    MkDir("w");
    HANDLE dir = CreateFileW(u"T:\\w", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(dir, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    alignas(4) BYTE buffer[1024];
    ASSERT_TRUE(ReadDirectoryChangesW(dir, buffer, sizeof buffer, FALSE, kFilter, nullptr, &ov, nullptr));
    m_drive.Write("w/e.txt", "x");
    ASSERT_EQ(WaitForSingleObject(event, 10'000), WAIT_OBJECT_0);
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(dir, &ov, &bytes, FALSE));
    auto changes = Parse(buffer, bytes);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0], (Change{FILE_ACTION_ADDED, u"e.txt"}));

    // A synchronous read returns what was kept since the last read, or waits for the next change. Changes of
    // e.txt that arrived after the first completion may come first, so read until f.txt shows up.
    m_drive.Write("w/f.txt", "x");
    bool seen = false;
    for (int read = 0; read < 10 && !seen; ++read) {
        DWORD returned = 0;
        ASSERT_TRUE(ReadDirectoryChangesW(dir, buffer, sizeof buffer, FALSE, kFilter, &returned, nullptr, nullptr));
        changes = Parse(buffer, returned);
        ASSERT_FALSE(changes.empty());
        seen = Contains(changes, {FILE_ACTION_ADDED, u"f.txt"});
    }
    EXPECT_TRUE(seen);
    CloseHandle(event);
    CloseHandle(dir);
}
