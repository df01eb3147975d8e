// Auto-Backup under a writer: 30,000 changes in bursts (new files in new folders, then rewrites of some of them)
// below a checked folder of a watched drive, mirrored onto a backup drive by the directory monitor and the
// Auto-Backup file-action handling. Prints how many changes reached the backup and the delay from each change to
// its backup copy (p50, p99), found by looking at the backup copies every 20 milliseconds.

#include "agents/RegularFileAgent.h"
#include "engine/BackManager.h"
#include "engine/CheckTreeCtrl.h"
#include "engine/DirectoryMonitor.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/FileActionHandler.h"

#include "platform/afx/Wnd.h"
#include "platform/base/machine.h"
#include "platform/base/thread.h"
#include "platform/fs/paths.h"
#include "platform/ui/message.h"
#include "platform/ui/winuser_constants.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class CQueryWnd : public CWnd {
public:
    CFileActionHandler* handler = nullptr;

protected:
    LRESULT OnQuery(WPARAM wParam, LPARAM lParam) { return handler ? handler->OnQuery(wParam, lParam) : 0; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CQueryWnd, CWnd)
ON_MESSAGE(WM_FILE_ACTION_QUERY, OnQuery)
END_MESSAGE_MAP()

struct Change {
    std::string source, backup, content;
    Clock::time_point made;
    Clock::time_point seen{};
};

bool BackupHolds(const Change& change) {
    // Plain reads: the look at the backup should take as little from the machine as it can.
    const int fd = open(change.backup.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[64];
    const ssize_t n = read(fd, text, sizeof text);
    close(fd);
    return n == static_cast<ssize_t>(change.content.size()) && change.content.compare(0, n, text, n) == 0;
}

// Where the time goes: the filter query (a round trip to the page's thread) and the mirroring of one change.
struct Stage {
    std::atomic<long long> count{0}, nanos{0};
    void Add(Clock::duration d) {
        ++count;
        nanos += std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    }
    double AverageMs() const { return count ? nanos / 1e6 / count : 0.0; }
};
Stage g_filter, g_action, g_rescan;
// The mirroring split by what changed: [action][0 file, 1 folder].
Stage g_kinds[6][2];
std::atomic<long long> g_accepted{0};

int TimedFilter(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    const auto start = Clock::now();
    const int r = CFileActionHandler::FilterCallback(lpUserData, pRecord);
    g_filter.Add(Clock::now() - start);
    g_accepted += r != 0;
    return r;
}

void TimedAction(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    const auto start = Clock::now();
    const bool rescan = pRecord->nAction == FILE_ACTION_FLUSH && !pRecord->strPath.IsEmpty();
    const int action = pRecord->nAction >= 1 && pRecord->nAction <= 5 ? pRecord->nAction : 0;
    const int folder = pRecord->strPath.Right(4) != CString(u".txt");
    CFileActionHandler::ActionCallback(lpUserData, pRecord);
    const auto took = Clock::now() - start;
    (rescan ? g_rescan : g_action).Add(took);
    g_kinds[action][folder].Add(took);
}

} // namespace

int main() {
    constexpr int kFolders = 30;
    constexpr int kFilesPerFolder = 800;
    constexpr int kRewrites = 30000 - kFolders * kFilesPerFolder;
    platform::machine::ScopedTestMachine machine;
    const std::string home = machine.Scratch("home"), source = machine.Scratch("source"),
                      dest = machine.Scratch("dest");
    for (auto [letter, root] : {std::pair{u'C', home}, std::pair{u'T', source}, std::pair{u'X', dest}}) {
        fs::create_directories(root);
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = root;
        platform::fs::SetDrive(drive);
    }
    fs::create_directories(source + "/src");
    fs::create_directories(source + "/other");
    // The writer's folders and their copies are spread over the file system as under the top of a tree of its own:
    // ext4 without a journal passes over the inodes freed in the last minutes (by a run just before this one) when
    // it makes a file in their group, which would measure the previous run rather than this one.
    const std::string backupRoot = dest + "/KovraData/user@PC/Disk T/src";
    fs::create_directories(backupRoot);
    for (const std::string& top : {source + "/src", backupRoot}) {
        const int dir = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (dir < 0 || ioctl(dir, FS_IOC_GETFLAGS, &flags) != 0 ||
            (flags |= FS_TOPDIR_FL, ioctl(dir, FS_IOC_SETFLAGS, &flags) != 0))
            std::fprintf(stderr, "note: %s could not be marked as a top of trees (%s)\n", top.c_str(),
                         std::strerror(errno));
        if (dir >= 0)
            close(dir);
    }

    CBackManager manager;
    CRegularFileAgent agent;
    manager.Create();
    manager.AddAgent(&agent);
    CQueryWnd window;
    window.CreateEx(0, nullptr, u"page", WS_OVERLAPPEDWINDOW, 0, 0, 400, 600, nullptr, nullptr);
    CShellTreeCtrl tree;
    tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, RECT{0, 0, 380, 580}, &window, 1201);
    tree.InitTree(603, 130, 700, 1200, kTreeMonitor, FALSE);
    manager.FillMonitorTree(&tree);
    tree.SendMessage(WM_TREE_EXPAND_ROOT);
    HTREEITEM hSrc = nullptr;
    for (HTREEITEM h = tree.GetChildItem(tree.GetRootItem()); h && !hSrc; h = tree.GetNextSiblingItem(h)) {
        if (tree.GetItemText(h) != CString(u"Local Disk (T:)"))
            continue;
        tree.SelectItem(h);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        for (HTREEITEM c = tree.GetChildItem(h); c; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemText(c) == CString(u"src"))
                hSrc = c;
    }
    if (!hSrc) {
        std::fprintf(stderr, "the source folder is not in the tree\n");
        return 1;
    }
    tree.CheckBranch(hSrc, kStateChecked);

    CFileActionHandler::Hooks hooks;
    hooks.destinationDrive = [] { return CString(u"X:"); };
    CFileActionHandler handler(&tree, u"user@PC", std::move(hooks));
    handler.SetWindow(window.m_hWnd);
    window.handler = &handler;
    CDirectoryMonitor monitor;
    monitor.SetDrives(1u << ('T' - 'A'));
    if (monitor.StartMonitor(&TimedFilter, &TimedAction, &handler) != 0) {
        std::fprintf(stderr, "the monitor did not start\n");
        return 1;
    }

    const DWORD mainThread = GetCurrentThreadId();
    std::vector<Change> changes, made; // the checker's, and the writer's not handed over yet
    changes.reserve(30000);
    std::mutex lock;
    std::atomic<bool> written{false};
    std::thread writer([&] {
        const auto begin = Clock::now();
        auto write = [&](const std::string& relative, const std::string& content) {
            Change change{source + "/src/" + relative, backupRoot + "/" + relative, content, Clock::now()};
            std::ofstream(change.source, std::ios::binary) << content;
            change.made = Clock::now();
            std::lock_guard guard(lock);
            made.push_back(std::move(change));
        };
        for (int f = 0; f < kFolders; ++f) {
            const std::string folder = "burst" + std::to_string(f);
            fs::create_directories(source + "/src/" + folder);
            for (int i = 0; i < kFilesPerFolder; ++i)
                write(folder + "/file" + std::to_string(i) + ".txt", "first " + std::to_string(i));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int i = 0; i < kRewrites; ++i)
            write("burst" + std::to_string(i % kFolders) + "/file" + std::to_string(i / kFolders) + ".txt",
                  "second " + std::to_string(i));
        written = true;
        std::fprintf(stderr, "writer done after %.0f ms\n",
                     std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    });

    // A thread of its own looks at the backup copies, so that this thread answers the monitor's queries as the
    // page's thread does: at once. A pass looks at the changes still open in the order they were made and ends
    // after a run of copies not there yet (they come in about that order), so a pass costs little however far
    // the mirror is behind. A version overwritten before its copy was seen counts as mirrored with the first
    // copy seen of a newer one.
    std::atomic<bool> settled{false};
    std::thread checker([&] {
        const auto deadline = Clock::now() + std::chrono::minutes(3);
        size_t firstOpen = 0;
        std::map<std::string, std::vector<size_t>> unseen; // source -> changes not seen yet, oldest first
        size_t known = 0;
        while (Clock::now() < deadline) {
            bool done = false;
            {
                // The writer only waits for the hand-over, never for a look at the backup.
                const bool all = written;
                {
                    std::lock_guard guard(lock);
                    std::move(made.begin(), made.end(), std::back_inserter(changes));
                    made.clear();
                }
                for (; known < changes.size(); ++known)
                    unseen[changes[known].source].push_back(known);
                int misses = 0, olderMisses = 0;
                for (size_t i = firstOpen; i < changes.size() && misses < 256; ++i) {
                    Change& change = changes[i];
                    if (change.seen != Clock::time_point{})
                        continue;
                    // An older version may already be overwritten: it is looked for within a budget of its own,
                    // so that versions never to be seen do not hold up the newest ones.
                    const bool older = unseen[change.source].back() != i;
                    if (older && olderMisses >= 256)
                        continue;
                    if (!BackupHolds(change)) {
                        ++(older ? olderMisses : misses);
                        continue;
                    }
                    // This version and every older one of the same file not seen yet, as seen now.
                    const auto now = Clock::now();
                    auto& open = unseen[change.source];
                    for (size_t j : open)
                        if (j <= i)
                            changes[j].seen = now;
                    std::erase_if(open, [&](size_t j) { return j <= i; });
                }
                while (firstOpen < changes.size() && changes[firstOpen].seen != Clock::time_point{})
                    ++firstOpen;
                done = all && firstOpen == changes.size();
            }
            if (done)
                break;
            // Often enough for the lag's resolution, seldom enough to leave the machine to what it measures.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        settled = true;
        PostThreadMessageW(mainThread, WM_NULL, 0, 0);
    });
    while (!settled) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    checker.join();
    writer.join();
    monitor.StopMonitor();
    handler.Finish();

    // What never reached the backup, for a look.
    int shown = 0;
    for (const Change& change : changes)
        if (change.seen == Clock::time_point{} && shown++ < 10) {
            std::ifstream in(change.backup, std::ios::binary);
            const std::string held((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "not mirrored: %s (\"%s\", the backup %s \"%s\")\n", change.source.c_str(),
                         change.content.c_str(), in ? "holds" : "lacks it", held.c_str());
        }
    // The lags of all changes, and of the bursts of new files and the rewrites apart.
    std::vector<double> lags, phase[2];
    for (size_t i = 0; i < changes.size(); ++i) {
        const Change& change = changes[i];
        if (change.seen == Clock::time_point{})
            continue;
        const double lag =
            std::chrono::duration<double, std::milli>(std::max(change.seen, change.made) - change.made).count();
        lags.push_back(lag);
        phase[i >= size_t(kFolders) * kFilesPerFolder].push_back(lag);
    }
    std::sort(lags.begin(), lags.end());
    for (auto& p : phase)
        std::sort(p.begin(), p.end());
    auto p99 = [](const std::vector<double>& v) {
        return v.empty() ? 0.0 : v[std::min(v.size() - 1, v.size() * 99 / 100)];
    };
    std::fprintf(stderr, "new files p99 %.0f ms, rewrites p99 %.0f ms\n", p99(phase[0]), p99(phase[1]));
    std::fprintf(stderr,
                 "filter queries %lld (%lld accepted), %.3f ms each; actions %lld, %.3f ms each; rescans %lld, %.0f ms "
                 "each\n",
                 g_filter.count.load(), g_accepted.load(), g_filter.AverageMs(), g_action.count.load(),
                 g_action.AverageMs(), g_rescan.count.load(), g_rescan.AverageMs());
    for (int a = 0; a < 6; ++a)
        for (int f = 0; f < 2; ++f)
            if (g_kinds[a][f].count)
                std::fprintf(stderr, "  action %d %s: %lld, %.3f ms each\n", a, f ? "folder" : "file",
                             g_kinds[a][f].count.load(), g_kinds[a][f].AverageMs());
    auto at = [&](double q) { return lags.empty() ? 0.0 : lags[std::min(lags.size() - 1, size_t(q * lags.size()))]; };
    std::printf("auto-backup mirrored: %zu of %zu changes, lag p50 %.0f ms, p99 %.0f ms\n", lags.size(), changes.size(),
                at(0.50), at(0.99));
    tree.DestroyWindow();
    window.DestroyWindow();
    manager.RemoveAllAgents();
    return 0;
}
