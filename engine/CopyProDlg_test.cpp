// The copy-progress dialog over a real backup: the selection file a wizard saved, the hidden tree the dialog
// rebuilds from it, the size estimate, the copy job through the backup manager, the File Error dialog answered by
// a user thread, the free-space question, and the run's log read back with the log's own reader.
#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/registry/registry.h"
#include "platform/system/desktop_bus_test_support.h"
#include "platform/system/security.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/session.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

CTestBrannicApp theApp;

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";

class CHostWnd : public CWnd {};

class CopyProDlgTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        platform::ui::SetDeadlockTimeout(60000);
        theApp.Reset();
        theApp.SetRootKey(kRootKey);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        ::mkdir((m_drive.Root() + "/program").c_str(), 0755);
        ASSERT_TRUE(theApp.InitConfigFolder(u"T:\\program"));

        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
    }
    void TearDown() override {
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    // Checks T:\Data in a source tree and saves the selection as the wizard does.
    void SaveSelection(const std::u16string& relative = u"Data") {
        CShellTreeCtrl tree;
        RECT rc{0, 0, 480, 680};
        ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        ASSERT_TRUE(tree.InitTree(603, 130, 700, 3200, kTreeBackup, FALSE));
        ASSERT_EQ(m_manager.FillSourceTree(&tree), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM h = nullptr;
        for (HTREEITEM c = tree.GetChildItem(tree.GetRootItem()); c; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemText(c) == CString(u"Local Disk (T:)"))
                h = c;
        ASSERT_NE(h, nullptr);
        tree.SelectItem(h);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        HTREEITEM item = nullptr;
        for (HTREEITEM c = tree.GetChildItem(h); c; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemText(c) == CString(relative))
                item = c;
        ASSERT_NE(item, nullptr);
        tree.CheckBranch(item, kStateChecked);
        const CString path(u"T:\\program\\Config\\ManualBackup.rpr");
        ASSERT_TRUE(tree.SaveSelecton(path, nullptr));
        theApp.m_strCurrentSelectionFile = path;
        tree.DestroyWindow();
    }
    static void SetErrorHandling(DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\CopyProgress", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"ErrorHandling", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }
    // Runs the dialog modally while `user` acts on the windows a user would see.
    static INT_PTR RunWith(CCopyProDlg& dlg, const std::function<void()>& user) {
        std::thread thread(user);
        const INT_PTR result = dlg.DoModal();
        thread.join();
        return result;
    }
    static std::vector<CXMLLogItem> RunLog() { return apptest::ReadLogItems(u"T:\\program\\Config\\CopyProgress.log"); }
    static bool Logged(const std::vector<CXMLLogItem>& items, const CString& text) {
        for (const auto& item : items)
            if (item.m_strEntry.Find(text) >= 0)
                return true;
        return false;
    }
    std::string SetFolder() const {
        return "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/Disk T/";
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    testsupport::ScratchDrive m_dest{m_machine, u'U', "u"};
    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CHostWnd m_host;
};

TEST_F(CopyProDlgTest, ABackupEstimatesCopiesLogsEveryFileAndClosesAtItsEnd) {
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    SaveSelection();
    platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo& info) {
        ADD_FAILURE() << platform::Utf16ToUtf8(info.text);
        return platform::ui::PromptReply(IDOK);
    });
    CCopyProDlg dlg(&m_host);
    dlg.m_strDestPath = u"U:\\";
    dlg.m_nFlags = CCopyProDlg::flagEstimate | CCopyProDlg::flagCloseAtEnd;
    EXPECT_EQ(dlg.DoModal(), 1);
    EXPECT_EQ(m_dest.Read(SetFolder() + "Data/a.txt"), "alpha");
    EXPECT_EQ(m_dest.Read(SetFolder() + "Data/Sub/b.txt"), "beta");
    EXPECT_EQ(dlg.GetBackedUpCount(), 2);
    EXPECT_EQ(dlg.GetFailedCount(), 0);
    const auto items = RunLog();
    EXPECT_TRUE(Logged(items, u"Succeeded to backup file T:\\Data\\a.txt"));
    EXPECT_TRUE(Logged(items, u"Succeeded to backup file T:\\Data\\Sub\\b.txt"));
    EXPECT_TRUE(Logged(items, u"Backup completed, 2 different file(s) backed up, 0 identical file(s) skipped. "
                              u"Failed to back up 0 file(s)."));
    EXPECT_FALSE(m_manager.HasProgressDlg());

    // A second run finds both files already there.
    CCopyProDlg again(&m_host);
    again.m_strDestPath = u"U:\\";
    again.m_nFlags = CCopyProDlg::flagCloseAtEnd;
    EXPECT_EQ(again.DoModal(), 1);
    EXPECT_EQ(again.GetSkippedCount(), 2);
    EXPECT_TRUE(Logged(RunLog(), u"Skipped backed up file T:\\Data\\a.txt."));
}

// A file another program holds open without read sharing raises the File Error dialog; each answer does what it
// says and the log tells the file's outcome.
TEST_F(CopyProDlgTest, TheFileErrorDialogSkipsRetriesOrAborts) {
    m_drive.Write("Data/held.txt", "held");
    SaveSelection();
    SetErrorHandling(0);
    struct Case {
        int nButton;
        const char16_t* logged;
        int nBackedUp;
        int nFailed;
    };
    const Case cases[] = {
        {2201, u"Ignore to backup file T:\\Data\\held.txt", 0, 1},
        {2202, u"Succeeded to backup file T:\\Data\\held.txt", 1, 0},
        {2203, u"Abort to backup file T:\\Data\\held.txt", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nButton);
        std::filesystem::remove_all(m_dest.Host("KovraData"));
        const std::u16string held = m_drive.Path("Data/held.txt");
        HANDLE hHeld = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
        std::u16string seen;
        platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo&) { return IDOK; });
        CCopyProDlg dlg(&m_host);
        dlg.m_strDestPath = u"U:\\";
        const INT_PTR result = RunWith(dlg, [&] {
            HWND hError = nullptr;
            ASSERT_TRUE(uitest::Eventually([&] {
                hError = FindWindowW(nullptr, u"File Error");
                return hError && IsWindowVisible(hError);
            }));
            WCHAR text[2048] = {};
            GetWindowTextW(GetDlgItem(hError, 2206), text, 2048);
            seen = text;
            if (c.nButton == 2202)
                CloseHandle(hHeld);
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hError, c.nButton)));
            ASSERT_TRUE(uitest::Eventually([&] {
                HWND hDlg = FindWindowW(nullptr, u"Backup Progress");
                return hDlg && !FindWindowW(nullptr, u"File Error") && dlg.IsFinished();
            }));
            PostMessageW(dlg.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
        });
        if (c.nButton != 2202)
            CloseHandle(hHeld);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(seen, u"Fail to copy file T:\\Data\\held.txt, due to this file is used by another application!");
        EXPECT_TRUE(Logged(RunLog(), c.logged));
        EXPECT_EQ(dlg.GetBackedUpCount(), c.nBackedUp);
        EXPECT_EQ(dlg.GetFailedCount(), c.nFailed);
        EXPECT_EQ(m_dest.Exists(SetFolder() + "Data/held.txt"), c.nButton == 2202);
    }
}

// A long job hands most of its events to the dialog in batches: the log still lists every file once, in the order
// the job met them, with its outcome; and a File Error question still holds the worker until it is answered, with
// every file before it already shown and logged.
TEST_F(CopyProDlgTest, ALongJobLogsEveryFileInOrderAndAQuestionHoldsTheWorker) {
    constexpr int kFiles = 600;
    for (int i = 0; i < kFiles; ++i)
        m_drive.Write("Data/f" + std::to_string(i) + ".txt", std::string(100, 'x'));
    // The job meets the files in the order the folder lists them.
    std::vector<std::u16string> order;
    WIN32_FIND_DATAW find{};
    HANDLE hFind = FindFirstFileW(m_drive.Path("Data\\*.*").c_str(), &find);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    do {
        const std::u16string name = find.cFileName;
        if (name != u"." && name != u"..")
            order.push_back(u"T:\\Data\\" + name);
    } while (FindNextFileW(hFind, &find));
    FindClose(hFind);
    ASSERT_EQ(order.size(), static_cast<size_t>(kFiles));
    // The file in the middle of the listing is held open without read sharing.
    const size_t nHeld = kFiles / 2;
    HANDLE hHeld = CreateFileW(order[nHeld].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    SaveSelection();
    SetErrorHandling(0);
    platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo&) { return IDOK; });

    CCopyProDlg dlg(&m_host);
    dlg.m_strDestPath = u"U:\\";
    const std::string data = SetFolder() + "Data";
    size_t nCopiedAtQuestion = 0;
    std::u16string countsAtQuestion;
    size_t nCopiedAfterRoundTrips = 0;
    const INT_PTR result = RunWith(dlg, [&] {
        HWND hError = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hError = FindWindowW(nullptr, u"File Error");
            return hError && IsWindowVisible(hError);
        }));
        nCopiedAtQuestion = m_dest.Names(data).size();
        WCHAR text[256] = {};
        GetWindowTextW(GetDlgItem(dlg.GetSafeHwnd(), 816), text, 256);
        countsAtQuestion = text;
        // The dialog's thread goes on serving messages while the question is open; the worker does not go on.
        for (int i = 0; i < 20; ++i)
            SendMessageW(dlg.GetSafeHwnd(), WM_NULL, 0, 0);
        nCopiedAfterRoundTrips = m_dest.Names(data).size();
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hError, 2201)));
        ASSERT_TRUE(uitest::Eventually([&] { return dlg.IsFinished(); }));
        PostMessageW(dlg.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
    });
    CloseHandle(hHeld);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(nCopiedAtQuestion, nHeld);
    EXPECT_EQ(nCopiedAfterRoundTrips, nHeld);
    EXPECT_EQ(countsAtQuestion, u"0 / 0 folder(s), " + platform::Utf8ToUtf16(std::to_string(nHeld)) + u" / " +
                                    platform::Utf8ToUtf16(std::to_string(kFiles)) + u" file(s)");
    EXPECT_EQ(dlg.GetBackedUpCount(), kFiles - 1);
    EXPECT_EQ(dlg.GetFailedCount(), 1);

    // Every file once, in the job's order, with its outcome; the summary after them.
    std::vector<std::u16string> logged;
    std::vector<std::u16string> outcomes;
    const CString suffix(u" to backup file ");
    const auto items = RunLog();
    for (const auto& item : items) {
        const int at = item.m_strEntry.Find(suffix);
        if (at < 0)
            continue;
        logged.push_back(item.m_strEntry.Mid(at + suffix.GetLength()).GetString());
        const int start = item.m_strEntry.Left(at).ReverseFind(u' ');
        outcomes.push_back(item.m_strEntry.Mid(start + 1, at - start - 1).GetString());
    }
    EXPECT_EQ(logged, order);
    ASSERT_EQ(outcomes.size(), static_cast<size_t>(kFiles));
    for (size_t i = 0; i < outcomes.size(); ++i)
        EXPECT_EQ(outcomes[i], i == nHeld ? u"Ignore" : u"Succeeded") << i;
    ASSERT_FALSE(items.empty());
    EXPECT_NE(items.back().m_strEntry.Find(u"Backup completed, 599 different file(s) backed up"), -1);
}

// The user's session ends while a File Error question is open: the question is answered with Abort, the job ends,
// and the dialog with it, its log on disk.
TEST_F(CopyProDlgTest, TheSessionsEndStopsTheJobAndAnswersTheOpenQuestion) {
    m_drive.Write("Data/held.txt", "held");
    SaveSelection();
    SetErrorHandling(0);
    HANDLE hHeld =
        CreateFileW(m_drive.Path("Data/held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo& info) {
        ADD_FAILURE() << platform::Utf16ToUtf8(info.text);
        return IDOK;
    });
    CCopyProDlg dlg(&m_host);
    dlg.m_strDestPath = u"U:\\";
    const INT_PTR result = RunWith(dlg, [&] {
        ASSERT_TRUE(uitest::Eventually([&] {
            HWND hError = FindWindowW(nullptr, u"File Error");
            return hError && IsWindowVisible(hError);
        }));
        SendMessageW(dlg.GetSafeHwnd(), WM_ENDSESSION, TRUE, 0);
    });
    CloseHandle(hHeld);
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(Logged(RunLog(), u"Abort to backup file T:\\Data\\held.txt"));
    EXPECT_FALSE(m_manager.HasProgressDlg());
    // The job's last message to the manager may still be on its way: it ends without being cancelled again.
    EXPECT_TRUE(m_manager.CancelAllJobs(20000));
}

// The session ends while a finished run's summary is still on screen, its box up or already answered: the dialog
// closes as Finish would have closed it, so that nothing holds the program's main loop.
TEST_F(CopyProDlgTest, TheSessionsEndClosesAFinishedRunsDialog) {
    m_drive.Write("Data/a.txt", "alpha");
    SaveSelection();
    for (const bool bAnswered : {false, true}) {
        SCOPED_TRACE(bAnswered ? "summary answered" : "summary up");
        std::atomic<bool> summaryShown{false};
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
            if (platform::Utf16ToUtf8(info.text).find("Backup completed, ") != 0) {
                ADD_FAILURE() << platform::Utf16ToUtf8(info.text);
                return platform::ui::PromptReply(IDOK);
            }
            summaryShown = true;
            // Left up for the user, or answered at once.
            return platform::ui::PromptReply(bAnswered ? IDOK : platform::ui::PromptReply::kRunModal);
        });
        CCopyProDlg dlg(&m_host);
        dlg.m_strDestPath = u"U:\\";
        bool bClosed = false;
        const INT_PTR result = RunWith(dlg, [&] {
            const HWND hDlg = [&] {
                HWND h = nullptr;
                uitest::Eventually([&] { return (h = dlg.GetSafeHwnd()) != nullptr; });
                return h;
            }();
            ASSERT_TRUE(uitest::Eventually([&] {
                WCHAR text[32] = {};
                ::GetDlgItemTextW(hDlg, IDCANCEL, text, 32);
                return summaryShown && CString(text) == CString(u"Finish");
            }));
            platform::ui::EndSession(0);
            bClosed = uitest::Eventually([&] { return !::IsWindow(hDlg); });
            // Closed by hand when the session's end left it open, so that the test ends.
            if (!bClosed) {
                EnumWindows(
                    [](HWND hWnd, LPARAM lParam) {
                        if (::GetWindow(hWnd, GW_OWNER) == reinterpret_cast<HWND>(lParam))
                            ::PostMessageW(hWnd, WM_COMMAND, IDOK, 0);
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(hDlg));
                ::PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
            }
        });
        EXPECT_TRUE(bClosed);
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(Logged(RunLog(), u"Backup completed, "));
        EXPECT_FALSE(m_manager.HasProgressDlg());
    }
}

// A selection larger than the destination's free space: message 5064, and Abort ends the dialog before anything
// is copied.
TEST_F(CopyProDlgTest, TooLittleFreeSpaceAsksAndAbortCopiesNothing) {
    m_drive.Write("Data/small.txt", "s");
    const ULONGLONG free = std::filesystem::space(m_dest.Root()).available;
    {
        // A sparse file larger than the free space costs nothing on disk; a terabyte more than is free, so that
        // space other programs free meanwhile can never make it fit (the copy would then fill the disk).
        std::filesystem::path big(m_drive.Host("Data/big.bin"));
        { std::ofstream create(big); }
        std::filesystem::resize_file(big, free + (1ull << 40));
    }
    SaveSelection();
    std::vector<std::u16string> asked;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        asked.push_back(info.text);
        return IDABORT;
    });
    CCopyProDlg dlg(&m_host);
    dlg.m_strDestPath = u"U:\\";
    dlg.m_nFlags = CCopyProDlg::flagEstimate;
    EXPECT_EQ(dlg.DoModal(), 3);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].find(u"Insufficient storage on the destination drive.\nThe available space on the destination "
                            u"drive is "),
              0u);
    EXPECT_FALSE(m_dest.Exists("KovraData"));
    EXPECT_FALSE(m_manager.HasProgressDlg());
}

// Power-off at the end of a run: asked of the desktop's log-in manager only once the run's log with its summary is
// on disk and only when no file failed, never forced; a refusal is logged and the dialog closes.
TEST_F(CopyProDlgTest, PowerOffIsAskedOfTheDesktopOnlyAfterAFaultlessRun) {
    m_drive.Write("Data/held.txt", "held");
    SaveSelection();
    SetErrorHandling(0);
    struct Case {
        int nButton;           // the answer to the File Error question
        const char* canAnswer; // the log-in manager's answer to CanPowerOff
        std::vector<std::string> calls;
        const char16_t* logged;
        WCHAR chLoggedType;
        INT_PTR result;
    };
    const Case cases[] = {
        {2202, "yes", {"CanPowerOff", "PowerOff(true)"}, nullptr, 0, 1},
        {2201, "yes", {}, u"Fail to shut down system!", u'W', 1},
        {2202, "no", {"CanPowerOff"}, u"Fail to shut down system!", u'E', 1},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nButton);
        SCOPED_TRACE(c.canAnswer);
        std::filesystem::remove_all(m_dest.Host("KovraData"));
        testsupport::FakeDesktopBus bus(m_machine.Scratch("bus" + std::to_string(++nCase)));
        ASSERT_TRUE(bus.Ready());
        bus.SetCanAnswer(c.canAnswer);
        HANDLE hHeld =
            CreateFileW(m_drive.Path("Data/held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
        int nBoxes = 0;
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo&) {
            ++nBoxes;
            return IDOK;
        });
        CCopyProDlg dlg(&m_host);
        dlg.m_strDestPath = u"U:\\";
        const INT_PTR result = RunWith(dlg, [&] {
            HWND hError = nullptr;
            ASSERT_TRUE(uitest::Eventually([&] {
                hError = FindWindowW(nullptr, u"File Error");
                return hError && IsWindowVisible(hError);
            }));
            // The user ticks the power-off box while the job waits on the question.
            HWND hDlg = dlg.GetSafeHwnd();
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hDlg, 838)));
            ASSERT_TRUE(uitest::Eventually([&] { return IsDlgButtonChecked(hDlg, 838) == BST_CHECKED; }));
            if (c.nButton == 2202)
                CloseHandle(hHeld);
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hError, c.nButton)));
            ASSERT_TRUE(uitest::Eventually([&] { return dlg.IsFinished(); }));
            // A run with failed files keeps its summary up for the user.
            if (c.calls.empty())
                PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
        });
        if (c.nButton != 2202)
            CloseHandle(hHeld);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(nBoxes, c.calls.empty() ? 1 : 0);
        if (!c.calls.empty()) {
            ASSERT_TRUE(bus.WaitForCalls(c.calls.size()));
        }
        EXPECT_EQ(bus.Calls(), c.calls);
        const auto items = RunLog();
        EXPECT_TRUE(Logged(items, u"Backup completed, "));
        bool bFound = false;
        for (const auto& item : items)
            if (c.logged && item.m_strEntry == CString(c.logged)) {
                bFound = true;
                EXPECT_EQ(item.m_chType, c.chLoggedType);
            }
        EXPECT_EQ(bFound, c.logged != nullptr);
        // The privilege the dialog enabled is the process's; the next case starts without it.
        HANDLE hToken = nullptr;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &hToken));
        TOKEN_PRIVILEGES off{};
        off.PrivilegeCount = 1;
        ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &off.Privileges[0].Luid));
        AdjustTokenPrivileges(hToken, FALSE, &off, 0, nullptr, nullptr);
        CloseHandle(hToken);
    }
}

TEST(CopyProDlgPathTest, LongPathsAreShortenedToTheirEnd) {
    const CString p47(std::u16string(47, u'a').c_str());
    EXPECT_EQ(CCopyProDlg::ShortenPath(p47), p47);
    const CString p48 = CString(u"xyz") + CString(std::u16string(45, u'b').c_str());
    EXPECT_EQ(CCopyProDlg::ShortenPath(p48), CString(u"xyz...") + p48.Right(47));
}

} // namespace
