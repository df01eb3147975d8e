#include "engine/DirectoryMonitor.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/changes.h"
#include "platform/fs/paths.h"
#include "platform/testing/eventually.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the owner receives, in order.
struct Received {
    std::mutex mutex;
    std::vector<std::pair<int, std::u16string>> records;
    std::atomic<int> filterCalls{0};

    bool Has(int action, const std::u16string& path) {
        std::lock_guard lock(mutex);
        for (const auto& r : records) {
            if (r.first == action && r.second == path)
                return true;
        }
        return false;
    }
};

int CALLBACK FilterNoSkip(LPVOID user, FILE_ACTION_RECORD* record) {
    auto* received = static_cast<Received*>(user);
    ++received->filterCalls;
    return record->strPath.Find(_T("skip")) < 0;
}

void CALLBACK Collect(LPVOID user, FILE_ACTION_RECORD* record) {
    auto* received = static_cast<Received*>(user);
    {
        std::lock_guard lock(received->mutex);
        received->records.emplace_back(record->nAction, record->strPath.Str());
    }
    DestroyFileActionRecord(record);
}

using testsupport::Eventually;

using DirectoryMonitorTest = testsupport::ScratchDriveTest;

constexpr DWORD kDriveT = 1u << ('T' - 'A');

} // namespace

TEST_F(DirectoryMonitorTest, StartFailsWhenNothingCanBeWatched) {
    CDirectoryMonitor empty;
    EXPECT_EQ(empty.StartMonitor(nullptr, nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(empty.IsRunning());

    CDirectoryMonitor missing;
    missing.AddDirectory(_T("T:\\no such folder"));
    missing.SetDrives(1u << ('Q' - 'A')); // a letter without a drive
    EXPECT_NE(missing.StartMonitor(nullptr, nullptr, nullptr), 0u);
    EXPECT_FALSE(missing.IsRunning());

    // One good directory among bad ones is enough.
    missing.SetDrives(kDriveT);
    Received received;
    EXPECT_EQ(missing.StartMonitor(nullptr, &Collect, &received), 0u);
    EXPECT_TRUE(missing.IsRunning());
    EXPECT_EQ(missing.StopMonitor(), 0u);
    EXPECT_FALSE(missing.IsRunning());
}

TEST_F(DirectoryMonitorTest, BurstIsDeliveredWithRenamesAndFlushesAsTheOwnerExpects) {
    m_drive.Write("old.txt", "x");
    CDirectoryMonitor monitor;
    EXPECT_EQ(monitor.SetDrives(kDriveT), 0);
    Received received;
    ASSERT_EQ(monitor.StartMonitor(&FilterNoSkip, &Collect, &received), 0u);

    ASSERT_EQ(system(("mkdir -p " + m_drive.Host("n1/n2") + " && echo x > " + m_drive.Host("n1/n2/deep.txt")).c_str()),
              0);
    m_drive.Write("skip1.tmp", "x");
    m_drive.Write("skip2.tmp", "x");
    ASSERT_EQ(std::rename(m_drive.Host("old.txt").c_str(), m_drive.Host("new.txt").c_str()), 0);
    ASSERT_EQ(std::remove(m_drive.Host("new.txt").c_str()), 0);
    m_drive.Write("end.txt", "x");

    ASSERT_TRUE(Eventually([&] { return received.Has(FILE_ACTION_ADDED, u"T:\\end.txt"); }));
    EXPECT_TRUE(received.Has(FILE_ACTION_ADDED, u"T:\\n1"));
    EXPECT_TRUE(received.Has(FILE_ACTION_ADDED, u"T:\\n1\\n2\\deep.txt"));
    EXPECT_TRUE(received.Has(FILE_ACTION_RENAMED_NEW_NAME, u"T:\\new.txt"));
    EXPECT_FALSE(received.Has(FILE_ACTION_RENAMED_OLD_NAME, u"T:\\old.txt")) << "old names are dropped at delivery";
    EXPECT_TRUE(received.Has(FILE_ACTION_REMOVED, u"T:\\new.txt"));
    EXPECT_TRUE(received.Has(FILE_ACTION_FLUSH, u"")) << "unwanted changes become a flush marker";
    std::lock_guard lock(received.mutex);
    for (const auto& r : received.records)
        EXPECT_EQ(r.second.find(u"skip"), std::u16string::npos);
}

TEST_F(DirectoryMonitorTest, LostChangesAreCoveredByAFlushForTheDirectory) {
    CDirectoryMonitor monitor;
    monitor.SetDrives(kDriveT);
    Received received;
    ASSERT_EQ(monitor.StartMonitor(nullptr, &Collect, &received), 0u);
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i)
        m_drive.Write("f" + std::to_string(i), "");
    m_drive.Write("zz-end", "");
    ASSERT_TRUE(Eventually(
        [&] { return received.Has(FILE_ACTION_ADDED, u"T:\\zz-end") || received.Has(FILE_ACTION_FLUSH, u"T:\\"); }));
    monitor.StopMonitor();
    const bool flushed = received.Has(FILE_ACTION_FLUSH, u"T:\\");
    int missing = 0;
    std::set<std::u16string> added;
    for (const auto& r : received.records) {
        if (r.first == FILE_ACTION_ADDED)
            added.insert(r.second);
    }
    for (int i = 0; i < kFiles; ++i)
        missing += added.count(u"T:\\f" + platform::Utf8ToUtf16(std::to_string(i))) ? 0 : 1;
    EXPECT_TRUE(missing == 0 || flushed) << missing << " changes lost without a flush";
}

TEST_F(DirectoryMonitorTest, StopServesAFilterThatSendsToTheStoppingThread) {
    struct Context {
        HWND hwnd = nullptr;
        std::atomic<int> answered{0};
        std::atomic<bool> inFilter{false};
    } context;
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_USER + 1500)
            return 1;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    };
    wc.lpszClassName = u"MonitorTestPage";
    RegisterClassW(&wc);
    context.hwnd = CreateWindowExW(0, u"MonitorTestPage", u"page", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(context.hwnd, nullptr);
    auto filter = [](LPVOID user, FILE_ACTION_RECORD* record) -> int {
        auto* c = static_cast<Context*>(user);
        c->inFilter = true;
        const LRESULT r = SendMessageW(c->hwnd, WM_USER + 1500, 0, reinterpret_cast<LPARAM>(record));
        ++c->answered;
        return r != 0;
    };
    CDirectoryMonitor monitor;
    monitor.SetDrives(kDriveT);
    ASSERT_EQ(monitor.StartMonitor(
                  filter, [](LPVOID, FILE_ACTION_RECORD* r) { DestroyFileActionRecord(r); }, &context),
              0u);
    m_drive.Write("a.txt", "x");
    // The parser now waits for this thread to answer; stopping must serve that send instead of deadlocking.
    ASSERT_TRUE(Eventually([&] { return context.inFilter.load(); }));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(monitor.StopMonitor(), 0u);
    EXPECT_GE(context.answered.load(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    DestroyWindow(context.hwnd);
}

// A stop whose waits run out while the change thread is still at work (here the layer clock is pushed past every
// deadline while changes pour into many watched folders) frees nothing that thread may still read: what it reads
// stays with it until it ends, and it ends by itself.
TEST_F(DirectoryMonitorTest, StopThatGivesUpWaitingFreesNothingInUse) {
    constexpr int kFolders = 48;
    for (int i = 0; i < kFolders; ++i)
        mkdir(m_drive.Host("d" + std::to_string(i)).c_str(), 0755);
    // The owner outlives the test: a thread the stop no longer waits for may still deliver to it.
    static Received received;
    platform::clock::UseManualClock(platform::clock::Now());
    for (int round = 0; round < 4; ++round) {
        {
            std::lock_guard lock(received.mutex);
            received.records.clear();
        }
        CDirectoryMonitor monitor;
        for (int i = 0; i < kFolders; ++i)
            monitor.AddDirectory(CString(platform::Utf8ToUtf16("T:\\d" + std::to_string(i)).c_str()));
        ASSERT_EQ(monitor.StartMonitor(nullptr, &Collect, &received), 0u);
        std::atomic<bool> stopping{false};
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int n = 0; n < 100000 && !done; ++n)
                m_drive.Write("d" + std::to_string(n % kFolders) + "/f" + std::to_string(n), "");
        });
        std::thread pusher([&] {
            while (!done) {
                if (stopping)
                    platform::clock::Advance(1000);
                std::this_thread::yield();
            }
        });
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(received.mutex);
            return received.records.size() > kFolders;
        }));
        stopping = true;
        EXPECT_EQ(monitor.StopMonitor(), 0u);
        EXPECT_FALSE(monitor.IsRunning());
        done = true;
        writer.join();
        pusher.join();
    }
    platform::clock::UseRealClock();
}

namespace {

// An owner whose action callback waits at a gate, so that changes pile up in the monitor's queue meanwhile; its
// filter notes every path it is asked about.
struct Gated {
    Received received;
    std::mutex gate;
    std::atomic<int> arrived{0};
    std::mutex askedLock;
    std::set<std::u16string> asked;
    std::map<std::u16string, int> timesAsked;
};

int CALLBACK NoteAsked(LPVOID user, FILE_ACTION_RECORD* record) {
    auto* gated = static_cast<Gated*>(user);
    std::lock_guard lock(gated->askedLock);
    gated->asked.insert(record->strPath.Str());
    ++gated->timesAsked[record->strPath.Str()];
    return 1;
}

void CALLBACK CollectAtGate(LPVOID user, FILE_ACTION_RECORD* record) {
    auto* gated = static_cast<Gated*>(user);
    ++gated->arrived;
    { std::lock_guard wait(gated->gate); }
    Collect(&gated->received, record);
}

} // namespace

TEST_F(DirectoryMonitorTest, QueuedChangesAreToldOnceAndAQuietSpellEndsWithAnEmptyFlush) {
    m_drive.Write("dir/busy.txt", "x");
    CDirectoryMonitor monitor;
    monitor.AddDirectory(_T("T:\\dir"));
    Gated gated;
    ASSERT_EQ(monitor.StartMonitor(&NoteAsked, &CollectAtGate, &gated), 0u);
    {
        std::unique_lock hold(gated.gate);
        // The first change reaches the owner, which is held up; what follows waits in the queue.
        m_drive.Write("dir/first.txt", "1");
        ASSERT_TRUE(Eventually([&] { return gated.arrived >= 1; }));
        m_drive.Write("dir/new.txt", "new");
        m_drive.Write("dir/busy.txt", "y");
        m_drive.Write("dir/new.txt", "newer");
        m_drive.Write("dir/busy.txt", "z");
        m_drive.Write("dir/end.txt", "");
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(gated.askedLock);
            return gated.asked.count(u"T:\\dir\\end.txt") != 0;
        }));
    }
    ASSERT_TRUE(Eventually([&] { return gated.received.Has(FILE_ACTION_FLUSH, u""); }))
        << "a quiet spell after changes ends with an empty flush";
    monitor.StopMonitor();
    EXPECT_TRUE(gated.received.Has(FILE_ACTION_ADDED, u"T:\\dir\\new.txt"));
    EXPECT_TRUE(gated.received.Has(FILE_ACTION_ADDED, u"T:\\dir\\end.txt"));
    std::lock_guard lock(gated.received.mutex);
    int newModified = 0, busyModified = 0;
    for (const auto& r : gated.received.records) {
        newModified += r.first == FILE_ACTION_MODIFIED && r.second == u"T:\\dir\\new.txt";
        busyModified += r.first == FILE_ACTION_MODIFIED && r.second == u"T:\\dir\\busy.txt";
    }
    EXPECT_EQ(newModified, 0) << "the writing of a new file still queued is told by its addition";
    EXPECT_EQ(busyModified, 1) << "the writings of a file still queued are one change";
}

TEST_F(DirectoryMonitorTest, AFolderChangedAgainWhileQueuedIsToldOnceAfterItsEntriesButNotSplitFromANewFolder) {
    m_drive.Write("dir/sub/old.txt", "x");
    CDirectoryMonitor monitor;
    monitor.AddDirectory(_T("T:\\dir"));
    Gated gated;
    ASSERT_EQ(monitor.StartMonitor(&NoteAsked, &CollectAtGate, &gated), 0u);
    {
        std::unique_lock hold(gated.gate);
        m_drive.Write("dir/first.txt", "1");
        ASSERT_TRUE(Eventually([&] { return gated.arrived >= 1; }));
        // Each new entry changes the folder again while its earlier change still waits in the queue.
        m_drive.Write("dir/sub/a.txt", "a");
        m_drive.Write("dir/sub/b.txt", "b");
        ASSERT_EQ(mkdir(m_drive.Host("dir/sub/fresh").c_str(), 0755), 0);
        m_drive.Write("dir/sub/c.txt", "c");
        m_drive.Write("dir/end.txt", "");
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(gated.askedLock);
            return gated.asked.count(u"T:\\dir\\end.txt") != 0;
        }));
    }
    ASSERT_TRUE(Eventually([&] { return gated.received.Has(FILE_ACTION_ADDED, u"T:\\dir\\end.txt"); }));
    monitor.StopMonitor();
    std::vector<std::u16string> told;
    {
        std::lock_guard lock(gated.received.mutex);
        for (const auto& [action, path] : gated.received.records) {
            if (action == FILE_ACTION_ADDED || (action == FILE_ACTION_MODIFIED && path == u"T:\\dir\\sub"))
                told.push_back((action == FILE_ACTION_ADDED ? u"+" : u"~") +
                               path.substr(std::u16string(u"T:\\dir\\").size()));
        }
    }
    // The folder's change that follows the new folder stays with it; the others are told once, after the entries
    // that changed it, and the filter is asked only for the two that reach the owner.
    const std::vector<std::u16string> expected = {u"+first.txt", u"+sub\\a.txt", u"+sub\\b.txt", u"+sub\\fresh",
                                                  u"~sub",       u"+sub\\c.txt", u"~sub",        u"+end.txt"};
    EXPECT_EQ(told, expected);
    std::lock_guard lock(gated.askedLock);
    EXPECT_EQ(gated.timesAsked[u"T:\\dir\\sub"], 2);
}
