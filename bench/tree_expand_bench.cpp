// Expanding a folder of 20,000 entries in the backup-source tree (the plain-file agent lists it, the tree loads it
// while its loader thread keeps the progress moving), side by side with listing the same folder with `ls -f`.
// Prints the median of five runs of each and their ratio.

#include "agents/RegularFileAgent.h"
#include "engine/BackManager.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/Wnd.h"
#include "platform/base/machine.h"
#include "platform/fs/paths.h"
#include "platform/ui/winuser_constants.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM parent, const CString& text) {
    for (HTREEITEM h = tree.GetChildItem(parent); h; h = tree.GetNextSiblingItem(h))
        if (tree.GetItemText(h) == text)
            return h;
    return nullptr;
}

} // namespace

int main() {
    constexpr int kEntries = 20000;
    constexpr int kRuns = 5;
    platform::machine::ScopedTestMachine machine;
    const std::string root = machine.Scratch("t");
    const std::string big = root + "/big";
    mkdir(big.c_str(), 0755);
    // Mostly files, with a folder every fiftieth entry, named as people name them.
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = big + "/" + (i % 50 == 0 ? "folder " : "document ") + std::to_string(i) +
                                 (i % 50 == 0 ? "" : (i % 3 ? ".txt" : ".pdf"));
        if (i % 50 == 0) {
            mkdir(name.c_str(), 0755);
        } else {
            const int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                close(fd);
        }
    }
    for (WCHAR letter : {u'C', u'T'}) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = root;
        platform::fs::SetDrive(drive);
    }

    CBackManager manager;
    manager.Create();
    CRegularFileAgent agent;
    manager.AddAgent(&agent);
    CWnd host;
    host.CreateEx(0, nullptr, u"Bench", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr);

    std::vector<double> expand, listing;
    size_t shown = 0;
    for (int run = 0; run < kRuns; ++run) {
        CShellTreeCtrl tree;
        RECT rc{0, 0, 480, 680};
        tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &host, 3202);
        tree.InitTree(603, 130, 700, 3200, kTreeBackup, FALSE);
        manager.FillSourceTree(&tree);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM drive = Child(tree, tree.GetRootItem(), u"Local Disk (T:)");
        tree.SelectItem(drive);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        HTREEITEM folder = Child(tree, drive, u"big");
        if (!folder) {
            std::fprintf(stderr, "the folder is not in the tree\n");
            return 1;
        }
        tree.SelectItem(folder);
        const auto start = Clock::now();
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        expand.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        shown = 0;
        for (HTREEITEM h = tree.GetChildItem(folder); h; h = tree.GetNextSiblingItem(h))
            ++shown;
        tree.DestroyWindow();

        const std::string command = "ls -f '" + big + "' > /dev/null";
        const auto lsStart = Clock::now();
        if (std::system(command.c_str()) != 0)
            return 1;
        listing.push_back(std::chrono::duration<double, std::milli>(Clock::now() - lsStart).count());
    }
    host.DestroyWindow();
    manager.RemoveAllAgents();
    if (shown != static_cast<size_t>(kEntries)) {
        std::fprintf(stderr, "the tree showed %zu of %d entries\n", shown, kEntries);
        return 1;
    }
    const double e = Median(expand), l = Median(listing);
    std::printf("tree expand 20k: %.0f ms\n", e);
    std::printf("ls -f 20k: %.1f ms\n", l);
    std::printf("expand vs listing ratio: %.2f\n", e / l);
    return 0;
}
