// The Expert Mode dialog on the program's own template: its tabs and their pages switched by a click and by
// ShowPage, the tab remembered in "CurPage", the last steps of the start-up with and without "otb", the exit
// decision and the end of the pages' counts, Escape.
#include "workflows/ExpertModeDlg.h"

#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/registry/registry.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/listview.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <array>
#include <sys/stat.h>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kExpertKey = u"Software\\VEVUVUV\\Kovra\\Expert";
constexpr UINT WM_LAST_STARTUP_STEP = WM_USER + 320;
constexpr UINT WM_ONE_TOUCH = WM_USER + 1499;
constexpr UINT WM_PAGE_JOB_ENDED = WM_USER + 3112;

// What the dialog asked of a page, in order.
std::vector<std::u16string> g_calls;

// A page that records what the dialog asks of it. It stands on the source page's template (a child dialog).
class CFakePage : public CExpertPage {
public:
    explicit CFakePage(int nTab) : CExpertPage(3200), m_nTab(nTab) {}

    BOOL IsBusy() const override { return m_bBusy; }
    BOOL IsRunning() const override { return m_bRunning; }
    BOOL IsCounting() const override { return m_bCounting; }
    void StopCount(BOOL bRestart) override {
        g_calls.push_back(u"stop " + Name() + (bRestart ? u" restart" : u""));
    }
    void OnLastStartupStep(BOOL bNormalStart) override {
        g_calls.push_back(u"last step " + Name() + (bNormalStart ? u" normal" : u" after one-touch"));
    }
    LRESULT OnOneTouch(WPARAM wParam, LPARAM lParam) {
        g_calls.push_back(u"one-touch " + Name());
        ::PostMessageW(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam), 0, 0);
        return 0;
    }
    std::u16string Name() const { return std::u16string(1, static_cast<char16_t>(u'0' + m_nTab)); }

    int m_nTab;
    BOOL m_bBusy = FALSE;
    BOOL m_bRunning = FALSE;
    BOOL m_bCounting = FALSE;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFakePage, CExpertPage)
ON_MESSAGE(WM_ONE_TOUCH, OnOneTouch)
END_MESSAGE_MAP()

// The dialog with fake pages on the tabs asked for; the other tabs stay empty.
class CTestExpertDlg : public CExpertModeDlg {
public:
    explicit CTestExpertDlg(std::vector<int> tabs) : m_tabs(std::move(tabs)) {}
    CFakePage* Fake(int nTab) const { return dynamic_cast<CFakePage*>(GetPage(nTab)); }

protected:
    std::unique_ptr<CExpertPage> NewPage(int nTab) override {
        for (int n : m_tabs)
            if (n == nTab)
                return std::make_unique<CFakePage>(nTab);
        return nullptr;
    }

private:
    std::vector<int> m_tabs;
};

class ExpertModeDlgTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        platform::ui::SetDeadlockTimeout(30000);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        theApp.Reset();
        theApp.SetRootKey(kRootKey);
        g_calls.clear();
    }
    void TearDown() override {
        theApp.SetCurrentDialog(nullptr);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    // Serves this thread's messages until the condition holds; false when it did not within the deadline.
    static bool PumpUntil(const std::function<bool()>& condition, int seconds = 60) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        return true;
    }
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    static void StoreCurPage(DWORD dwPage) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kExpertKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"CurPage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwPage), 4);
        RegCloseKey(hKey);
    }
    static void ClearCurPage() {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kExpertKey, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueW(hKey, u"CurPage");
            RegCloseKey(hKey);
        }
    }
    static DWORD StoredCurPage() {
        HKEY hKey = nullptr;
        DWORD dwPage = 0xFFFFFFFF;
        DWORD dwSize = 4;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kExpertKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            RegQueryValueExW(hKey, u"CurPage", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwPage), &dwSize);
            RegCloseKey(hKey);
        }
        return dwPage;
    }
    static HWND Tab(const CExpertModeDlg& dlg) { return ::GetDlgItem(dlg.GetSafeHwnd(), 908); }
    static std::u16string TabText(const CExpertModeDlg& dlg, int nTab) {
        WCHAR text[64] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(Tab(dlg), TCM_GETITEMW, static_cast<WPARAM>(nTab), reinterpret_cast<LPARAM>(&item));
        return text;
    }
    // A click on a tab, as the user makes it.
    static void ClickTab(const CExpertModeDlg& dlg, int nTab) {
        RECT rc{};
        ASSERT_TRUE(SendMessageW(Tab(dlg), TCM_GETITEMRECT, static_cast<WPARAM>(nTab), reinterpret_cast<LPARAM>(&rc)));
        const LPARAM pos = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        SendMessageW(Tab(dlg), WM_LBUTTONDOWN, MK_LBUTTON, pos);
        SendMessageW(Tab(dlg), WM_LBUTTONUP, 0, pos);
    }
    // The tabs whose pages are visible.
    static std::vector<int> Shown(const CTestExpertDlg& dlg) {
        std::vector<int> shown;
        for (int n = 0; n < CExpertModeDlg::kPageCount; ++n)
            if (CExpertPage* pPage = dlg.GetPage(n); pPage && (pPage->GetStyle() & WS_VISIBLE))
                shown.push_back(n);
        return shown;
    }
    static void Start(CTestExpertDlg& dlg) {
        ASSERT_TRUE(dlg.Create());
        ASSERT_TRUE(PumpUntil([&] { return dlg.IsInitialized() != FALSE; }));
    }

    HMODULE m_previousResources = nullptr;
    HMODULE m_resources = nullptr;
};

TEST_F(ExpertModeDlgTest, FiveTabsSwitchTheirPagesByClickAndByShowPage) {
    CTestExpertDlg dlg({CExpertModeDlg::kAutoBackupTab, CExpertModeDlg::kInstantBackupTab, CExpertModeDlg::kSystemTab});
    Start(dlg);
    const std::array<std::u16string, 5> texts = {u"Auto-Backup", u"Schedule Backup", u"Instant Backup",
                                                 u"Instant Restore", u"System"};
    ASSERT_EQ(SendMessageW(Tab(dlg), TCM_GETITEMCOUNT, 0, 0), 5);
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(TabText(dlg, n), texts[static_cast<size_t>(n)]) << n;
    // Each page stands below the tabs, a child of the dialog; the tabs without a page stay empty.
    for (int n : {0, 2, 4}) {
        ASSERT_NE(dlg.Fake(n), nullptr) << n;
        EXPECT_EQ(::GetParent(dlg.Fake(n)->GetSafeHwnd()), dlg.GetSafeHwnd());
        RECT rc{};
        ::GetWindowRect(dlg.Fake(n)->GetSafeHwnd(), &rc);
        POINT pt{rc.left, rc.top};
        ::ScreenToClient(dlg.GetSafeHwnd(), &pt);
        EXPECT_EQ(pt.x, 1);
        EXPECT_EQ(pt.y, 98);
    }
    EXPECT_EQ(dlg.GetPage(1), nullptr);
    EXPECT_EQ(dlg.GetPage(3), nullptr);

    // No stored tab: Auto-Backup.
    EXPECT_EQ(dlg.GetCurrentTab(), 0);
    EXPECT_EQ(Shown(dlg), std::vector<int>{0});

    ClickTab(dlg, 2);
    EXPECT_EQ(dlg.GetCurrentTab(), 2);
    EXPECT_EQ(Shown(dlg), std::vector<int>{2});
    ClickTab(dlg, 3); // an empty tab shows nothing
    EXPECT_EQ(dlg.GetCurrentTab(), 3);
    EXPECT_EQ(Shown(dlg), std::vector<int>{});
    ClickTab(dlg, 4);
    EXPECT_EQ(Shown(dlg), std::vector<int>{4});

    dlg.ShowPage(0);
    EXPECT_EQ(dlg.GetCurrentTab(), 0);
    EXPECT_EQ(Shown(dlg), std::vector<int>{0});
    dlg.ShowPage(4);
    EXPECT_EQ(dlg.GetCurrentTab(), 4);
    EXPECT_EQ(Shown(dlg), std::vector<int>{4});
    dlg.ShowPage(9); // no such tab: nothing changes
    EXPECT_EQ(dlg.GetCurrentTab(), 4);
    EXPECT_EQ(Shown(dlg), std::vector<int>{4});
    dlg.ShowPage(1);
    EXPECT_EQ(Shown(dlg), std::vector<int>{});
    ClickTab(dlg, 2);
    EXPECT_EQ(Shown(dlg), std::vector<int>{2});

    // The selected tab is kept for the next start.
    dlg.DestroyWindow();
    EXPECT_EQ(StoredCurPage(), 2u);
}

TEST_F(ExpertModeDlgTest, TheStoredTabIsSelectedAtStartAndAfterARebuild) {
    const struct {
        DWORD stored; // 0xFFFFFFFF: none
        int selected;
    } cases[] = {{0xFFFFFFFF, 0}, {2, 2}, {9, 4}, {4, 4}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ClearCurPage();
        if (c.stored != 0xFFFFFFFF)
            StoreCurPage(c.stored);
        CTestExpertDlg dlg({0, 1, 2, 3, 4});
        Start(dlg);
        EXPECT_EQ(dlg.GetCurrentTab(), c.selected);
        EXPECT_EQ(Shown(dlg), std::vector<int>{c.selected});
        dlg.DestroyWindow();
    }

    // The pages taken down for a repartitioning and built again come back on the tab the user had.
    CTestExpertDlg dlg({0, 1, 2, 3, 4});
    Start(dlg);
    dlg.ShowPage(3);
    dlg.DestroyPages();
    EXPECT_EQ(dlg.GetPage(3), nullptr);
    EXPECT_EQ(SendMessageW(Tab(dlg), TCM_GETITEMCOUNT, 0, 0), 0);
    dlg.InitPages();
    EXPECT_EQ(SendMessageW(Tab(dlg), TCM_GETITEMCOUNT, 0, 0), 5);
    EXPECT_EQ(dlg.GetCurrentTab(), 3);
    EXPECT_EQ(Shown(dlg), std::vector<int>{3});
    dlg.DestroyWindow();
}

TEST_F(ExpertModeDlgTest, TheStartUpEndsWithTheSystemAndAutoBackupPagesOrWithTheOneTouchActionOnce) {
    // Without "otb": the last step reaches the System page, then the Auto-Backup page.
    {
        CTestExpertDlg dlg({0, 1, 2, 3, 4});
        Start(dlg);
        dlg.ScanSecureDrives(FALSE);
        ASSERT_TRUE(PumpUntil([] { return g_calls.size() >= 2; }));
        Pump();
        EXPECT_EQ(g_calls, (std::vector<std::u16string>{u"last step 4 normal", u"last step 0 normal"}));
        dlg.DestroyWindow();
    }
    // With "/otb": the System page's one-touch action runs first and answers; the switch acts once.
    g_calls.clear();
    std::u16string commandLine = u"/otb /min";
    theApp.m_lpCmdLine = commandLine.data();
    CTestExpertDlg dlg({0, 1, 2, 3, 4});
    Start(dlg);
    dlg.ScanSecureDrives(TRUE);
    ASSERT_TRUE(PumpUntil([] { return g_calls.size() >= 3; }));
    Pump();
    EXPECT_EQ(g_calls, (std::vector<std::u16string>{u"one-touch 4", u"last step 4 after one-touch",
                                                    u"last step 0 after one-touch"}));
    g_calls.clear();
    dlg.DestroyPages();
    dlg.InitPages(); // a rebuild scans again
    ASSERT_TRUE(PumpUntil([] { return g_calls.size() >= 2; }));
    Pump();
    EXPECT_EQ(g_calls, (std::vector<std::u16string>{u"last step 4 normal", u"last step 0 normal"}));
    dlg.DestroyWindow();
    theApp.m_lpCmdLine = nullptr;
}

TEST_F(ExpertModeDlgTest, ExitAsksWhileAutoBackupOrTheScheduleRunsAndStopsTheCounts) {
    CTestExpertDlg dlg({0, 1, 2, 3, 4});
    Start(dlg);
    dlg.Fake(CExpertModeDlg::kInstantBackupTab)->m_bCounting = TRUE;
    dlg.Fake(CExpertModeDlg::kInstantRestoreTab)->m_bCounting = TRUE;
    EXPECT_FALSE(dlg.IsBusy());
    dlg.Fake(CExpertModeDlg::kSystemTab)->m_bBusy = TRUE;
    EXPECT_TRUE(dlg.IsBusy());
    dlg.Fake(CExpertModeDlg::kSystemTab)->m_bBusy = FALSE;

    // Nothing runs: no question.
    int asked = 0;
    int answer = IDCANCEL;
    std::u16string question;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        ++asked;
        question = info.text;
        return answer;
    });
    dlg.Fake(CExpertModeDlg::kInstantBackupTab)->m_bCounting = FALSE;
    dlg.Fake(CExpertModeDlg::kInstantRestoreTab)->m_bCounting = FALSE;
    EXPECT_TRUE(dlg.ConfirmExit());
    EXPECT_EQ(asked, 0);

    // The schedule runs, the user keeps it: nothing is stopped.
    dlg.Fake(CExpertModeDlg::kInstantBackupTab)->m_bCounting = TRUE;
    dlg.Fake(CExpertModeDlg::kInstantRestoreTab)->m_bCounting = TRUE;
    dlg.Fake(CExpertModeDlg::kScheduleTab)->m_bRunning = TRUE;
    EXPECT_FALSE(dlg.ConfirmExit());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(question, u"Auto-Backup or Schedule Backup is running. Are you sure to exit Kovra?");
    EXPECT_TRUE(g_calls.empty());

    // Auto-Backup runs, the user goes on: both counts stop without a restart.
    dlg.Fake(CExpertModeDlg::kScheduleTab)->m_bRunning = FALSE;
    dlg.Fake(CExpertModeDlg::kAutoBackupTab)->m_bRunning = TRUE;
    answer = IDOK;
    EXPECT_TRUE(dlg.ConfirmExit());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(g_calls, (std::vector<std::u16string>{u"stop 2", u"stop 3"}));
    // Their ends arrive; an end that nothing waits for changes nothing.
    dlg.SendMessage(WM_PAGE_JOB_ENDED, 1000, 0);
    dlg.SendMessage(WM_PAGE_JOB_ENDED, 1100, 0);
    dlg.SendMessage(WM_PAGE_JOB_ENDED, 1000, 0);
    dlg.DestroyWindow();
}

TEST_F(ExpertModeDlgTest, EscapeHidesTheDialogAsCloseDoes) {
    CTestExpertDlg dlg({0, 4});
    Start(dlg);
    dlg.ShowWindow(SW_SHOW);
    ASSERT_TRUE(dlg.IsWindowVisible());
    MSG msg{};
    msg.hwnd = ::GetDlgItem(dlg.GetSafeHwnd(), 907);
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_ESCAPE;
    EXPECT_TRUE(dlg.PreTranslateMessage(&msg));
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(::IsWindow(dlg.GetSafeHwnd()));
    EXPECT_EQ(theApp.GetCurrentDialog(), &dlg);

    dlg.ShowWindow(SW_SHOW);
    ::SendMessageW(::GetDlgItem(dlg.GetSafeHwnd(), 907), BM_CLICK, 0, 0);
    EXPECT_FALSE(dlg.IsWindowVisible());
    dlg.DestroyWindow();
}

} // namespace

namespace {

constexpr LPCTSTR kDriveIcons = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

CString DefaultValue(LPCTSTR lpszSubKey) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CString(kDriveIcons) + lpszSubKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return u"(none)";
    WCHAR value[4096] = {};
    DWORD dwSize = sizeof value - 2;
    RegQueryValueExW(hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &dwSize);
    RegCloseKey(hKey);
    return value;
}

TEST_F(ExpertModeDlgTest, ExplorerDriveIconsAreSetAndOnlyTheProgramsOwnAreRemovedWithARefusalReported) {
    WCHAR modulePath[2048] = {};
    GetModuleFileNameW(nullptr, modulePath, 2048);
    ASSERT_TRUE(CExpertModeDlg::SetExplorerDriveIcon(u'E', TRUE, FALSE));
    ASSERT_TRUE(CExpertModeDlg::SetExplorerDriveIcon(u'F', TRUE, TRUE));
    EXPECT_EQ(DefaultValue(u"\\E\\DefaultIcon"), CString(modulePath) + u",1");
    EXPECT_EQ(DefaultValue(u"\\E\\DefaultLabel"), CString(u"Kovra Secure Disk"));
    EXPECT_EQ(DefaultValue(u"\\F\\DefaultIcon"), CString(modulePath) + u",2");
    EXPECT_EQ(DefaultValue(u"\\F\\DefaultLabel"), CString(u"Kovra Public Disk"));

    EXPECT_TRUE(CExpertModeDlg::SetExplorerDriveIcon(u'E', FALSE, FALSE));
    EXPECT_EQ(DefaultValue(u"\\E"), CString(u"(none)"));
    // Nothing there: nothing to remove, nothing refused.
    EXPECT_TRUE(CExpertModeDlg::SetExplorerDriveIcon(u'G', FALSE, FALSE));

    // Another program's picture for a letter stays.
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, CString(kDriveIcons) + u"\\H\\DefaultIcon", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    const CString strCamera = u"C:\\Camera\\camera.exe,0";
    RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strCamera.GetString()),
                   (strCamera.GetLength() + 1) * 2);
    RegCloseKey(hKey);
    EXPECT_TRUE(CExpertModeDlg::SetExplorerDriveIcon(u'H', FALSE, FALSE));
    EXPECT_EQ(DefaultValue(u"\\H\\DefaultIcon"), strCamera);

    // The registry refuses to delete the label (a key of its own below it): the answer says so and the log has it.
    ::mkdir((m_drive.Root() + "/program").c_str(), 0755);
    ASSERT_TRUE(theApp.InitConfigFolder(u"T:\\program"));
    theApp.OpenSystemLog();
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, CString(kDriveIcons) + u"\\F\\DefaultLabel\\Locked", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
    EXPECT_FALSE(CExpertModeDlg::SetExplorerDriveIcon(u'F', FALSE, TRUE));
    EXPECT_EQ(DefaultValue(u"\\F\\DefaultLabel"), CString(u"Kovra Public Disk"));
    EXPECT_EQ(DefaultValue(u"\\F\\DefaultIcon"), CString(u"(none)"));
    theApp.GetSystemLog().Save(TRUE);
    bool logged = false;
    for (const CXMLLogItem& item : apptest::ReadLogItems(u"T:\\program\\Config\\KovraSystem.log"))
        logged = logged || item.m_strEntry.Find(u"label of drive F: cannot be changed") >= 0;
    EXPECT_TRUE(logged);
}

} // namespace

namespace {

TEST_F(ExpertModeDlgTest, LoadLogShowsTheChosenLogFileInTheLogViewer) {
    ::mkdir((m_drive.Root() + "/program").c_str(), 0755);
    ASSERT_TRUE(theApp.InitConfigFolder(u"T:\\program"));
    theApp.OpenSystemLog();
    theApp.Log(u"An entry to be seen.", u"ExpertModeDlg_test.cpp", 1, CXMLLog::typeInformation);
    theApp.GetSystemLog().Save(TRUE);

    CTestExpertDlg dlg({});
    Start(dlg);
    dlg.ShowWindow(SW_SHOW);
    platform::ui::PromptInfo asked;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        asked = info;
        return platform::ui::PromptReply::Path(u"T:\\program\\Config\\KovraSystem.log");
    });
    LRESULT rows = -1;
    std::thread user([&] {
        HWND viewer = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] { return (viewer = FindWindowW(nullptr, u"Log")) && IsWindowVisible(viewer); }));
        rows = SendMessageW(GetDlgItem(viewer, 1600), LVM_GETITEMCOUNT, 0, 0);
        PostMessageW(viewer, WM_COMMAND, IDOK, 0);
    });
    ::SendMessageW(::GetDlgItem(dlg.GetSafeHwnd(), 910), BM_CLICK, 0, 0);
    user.join();
    EXPECT_EQ(asked.kind, platform::ui::PromptKind::OpenFile);
    EXPECT_EQ(asked.defaultExt, u"log");
    ASSERT_FALSE(asked.filters.empty());
    EXPECT_EQ(asked.filters[0].second, u"*.log");
    EXPECT_GE(rows, 1);
    dlg.DestroyWindow();
}

} // namespace
