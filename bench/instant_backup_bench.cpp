// An Instant Backup of 20,000 files of 4 KiB in 200 folders and 8 files of 128 MiB, run as the wizard's Start runs
// it: the copy-progress dialog (headless) with the size estimate and the free-space test, the backup manager's
// tree job answered by the plain-file agent, every file logged. Side by side with `cp -a` of the same tree in the
// same run: each round runs both into fresh destinations, taking turns at going first, and gives the ratio of the
// two; the last lines are the medians of the rounds.
//
// Nothing is deleted until the end: ext4 avoids reusing inodes freed in the last minutes, so a copy that follows a
// large deletion pays for scanning past them, which would make the figures depend on the order of the runs.
//
// KOVRA_BENCH_ROUNDS sets the rounds (default 5).

#include "agents/RegularFileAgent.h"
#include "app/BrannicApp.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/Wnd.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/ui/winuser_constants.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The application object of the benchmark: its Config folder and settings root, as the program's start sets them.
class CBenchApp : public CBrannicApp {
public:
    BOOL Prepare(LPCTSTR lpszProgramFolder) {
        m_strRootKey = u"Software\\VEVUVUV\\Kovra";
        return InitConfigFolder(lpszProgramFolder);
    }
};

CBenchApp theApp;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void WriteFile(const std::string& path, size_t size) {
    static const std::string block(1 << 20, 'k');
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        std::exit(1);
    for (size_t done = 0; done < size;) {
        const size_t chunk = std::min(block.size(), size - done);
        if (write(fd, block.data(), chunk) != static_cast<ssize_t>(chunk))
            std::exit(1);
        done += chunk;
    }
    close(fd);
}

double RunCp(const std::string& source, const std::string& destination) {
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execlp("cp", "cp", "-a", source.c_str(), destination.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp -a failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM parent, const CString& text) {
    for (HTREEITEM h = tree.GetChildItem(parent); h; h = tree.GetNextSiblingItem(h))
        if (tree.GetItemText(h) == text)
            return h;
    return nullptr;
}

} // namespace

int main() {
    constexpr int kFolders = 200;
    constexpr int kFilesPerFolder = 100;
    constexpr int kLargeFiles = 8;
    setenv("WINLAYER_DISPLAY", "none", 1);
    platform::machine::ScopedTestMachine machine;
    const std::string source = machine.Scratch("t");
    const std::string target = machine.Scratch("u");
    const std::string reference = machine.Scratch("reference");
    const std::string program = machine.Scratch("program");
    const std::string tree = source + "/backup";
    for (const std::string& folder : {tree, target, reference, program, machine.Scratch("home")})
        fs::create_directories(folder);
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = tree + "/folder " + std::to_string(d);
        fs::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f)
            WriteFile(folder + "/document " + std::to_string(f) + ".txt", 4096);
    }
    fs::create_directories(tree + "/large");
    for (int i = 0; i < kLargeFiles; ++i)
        WriteFile(tree + "/large/video " + std::to_string(i) + ".bin", 128u << 20);
    const std::pair<WCHAR, std::string> drives[] = {
        {u'T', source}, {u'U', target}, {u'K', program}, {u'C', machine.Scratch("home")}, {u'B', BENCH_FOLDER}};
    for (const auto& [letter, root] : drives) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = root;
        platform::fs::SetDrive(drive);
    }
    setenv("HOME", machine.Scratch("home").c_str(), 1);

    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    if (!resources || !theApp.Prepare(u"K:\\")) {
        std::fprintf(stderr, "the program's resources or its Config folder are missing\n");
        return 1;
    }
    AfxSetResourceHandle(resources);
    CBackManager manager;
    manager.Create();
    CRegularFileAgent agent;
    manager.AddAgent(&agent);
    CWnd host;
    host.CreateEx(0, nullptr, u"Bench", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr);

    // The selection the wizard's first page saves: the folder T:\backup, whole.
    {
        CShellTreeCtrl selection;
        RECT rc{0, 0, 480, 680};
        selection.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &host, 3202);
        selection.InitTree(603, 130, 700, 3200, kTreeBackup, FALSE);
        manager.FillSourceTree(&selection);
        selection.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM drive = Child(selection, selection.GetRootItem(), u"Local Disk (T:)");
        selection.SelectItem(drive);
        selection.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        HTREEITEM folder = Child(selection, drive, u"backup");
        if (!folder) {
            std::fprintf(stderr, "the folder is not in the tree\n");
            return 1;
        }
        selection.CheckBranch(folder, kStateChecked);
        const CString path(u"K:\\Config\\ManualBackup.rpr");
        if (!selection.SaveSelecton(path, nullptr))
            return 1;
        theApp.m_strCurrentSelectionFile = path;
        selection.DestroyWindow();
    }

    constexpr int kFiles = kFolders * kFilesPerFolder + kLargeFiles;
    int rounds = 5;
    if (const char* r = std::getenv("KOVRA_BENCH_ROUNDS"))
        rounds = std::max(1, std::atoi(r));
    sync();
    RunCp(tree, reference + "/warm");
    std::printf("the tree is ready: %d files; %d rounds\n", kFiles, rounds);
    std::fflush(stdout);
    std::vector<double> backups, copies, ratios;
    for (int round = 0; round < rounds; ++round) {
        // A fresh destination drive for the backup and a fresh folder for cp, every round.
        const std::string destination = machine.Scratch("u" + std::to_string(round));
        fs::create_directories(destination);
        platform::fs::DriveInfo drive;
        drive.letter = u'U';
        drive.hostRoot = destination;
        platform::fs::SetDrive(drive);
        double backup = 0;
        double copy = 0;
        for (int turn = 0; turn < 2; ++turn) {
            sync();
            if ((turn + round) % 2 == 0) {
                const auto start = Clock::now();
                CCopyProDlg dlg(&host);
                dlg.m_strDestPath = u"U:\\";
                dlg.m_nFlags = CCopyProDlg::flagEstimate | CCopyProDlg::flagCloseAtEnd;
                const INT_PTR result = dlg.DoModal();
                backup = std::chrono::duration<double>(Clock::now() - start).count();
                if (result != 1 || dlg.GetBackedUpCount() != kFiles || dlg.GetFailedCount() != 0) {
                    std::fprintf(stderr, "the backup ended with %d: %d backed up, %d failed of %d\n",
                                 static_cast<int>(result), dlg.GetBackedUpCount(), dlg.GetFailedCount(), kFiles);
                    return 1;
                }
            } else {
                copy = RunCp(tree, reference + "/copy" + std::to_string(round));
            }
        }
        backups.push_back(backup);
        copies.push_back(copy);
        ratios.push_back(backup / copy);
        std::printf("round %d: instant backup %.2f s, cp -a %.2f s, ratio %.2f\n", round + 1, backup, copy,
                    backup / copy);
        std::fflush(stdout);
    }
    host.DestroyWindow();
    manager.RemoveAllAgents();
    for (int round = 0; round < rounds; ++round)
        fs::remove_all(machine.Scratch("u" + std::to_string(round)));
    fs::remove_all(reference);
    std::printf("instant backup: %.2f s (%d files, each logged)\n", Median(backups), kFiles);
    std::printf("cp -a: %.2f s\n", Median(copies));
    std::printf("instant backup vs cp -a ratio: %.2f\n", Median(ratios));
    return 0;
}
