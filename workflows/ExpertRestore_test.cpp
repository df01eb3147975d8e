// The Expert Mode dialog's Instant Restore page on its own: its stored settings, its running count of the checked
// items, its refusals, the restore it starts through the copy-progress dialog, and the sets that go.
#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/ItemIDList.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertRestore.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>

extern CTestBrannicApp theApp;

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kRestoreKey = u"Software\\VEVUVUV\\Kovra\\Expert\\Restore";

// The Expert Mode dialog as the page sees it: it counts the page's "count ended" messages.
class CPageHost : public CWnd {
public:
    int m_nCountsEnded = 0;
    LRESULT OnPageJobEnded(WPARAM wParam, LPARAM) {
        if (wParam == 1100)
            ++m_nCountsEnded;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPageHost, CWnd)
ON_MESSAGE(WM_USER + 3112, OnPageJobEnded)
END_MESSAGE_MAP()

class ExpertRestoreTest : public apptest::MachineTest {
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
        m_drive.Write("program/Config/Main.ini", "[Main]\nDriveType=1\n");
        theApp.ReadDriveType();
        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_EQ(theApp.GetBackManager()->AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr, nullptr));
        RegDeleteKeyW(HKEY_CURRENT_USER, kRestoreKey);
        m_u = AddDrive(u'U');
    }
    void TearDown() override {
        if (m_page.GetSafeHwnd())
            m_page.DestroyWindow();
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        theApp.GetBackManager()->RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    std::string AddDrive(WCHAR letter) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive");
        std::filesystem::create_directories(drive.hostRoot);
        EXPECT_TRUE(platform::fs::SetDrive(drive));
        return drive.hostRoot;
    }
    void MakeSet(const std::string& set, const std::string& content) {
        const std::string disk = m_u + "/KovraData/" + set + "/Disk T/Data";
        std::filesystem::create_directories(disk + "/Sub/empty");
        std::ofstream(disk + "/a.txt", std::ios::binary) << content;
        std::ofstream(disk + "/Sub/b.txt", std::ios::binary) << "beta";
        std::ofstream(m_u + "/KovraData/" + set + "/RegularFile.ini", std::ios::binary)
            << "[Fonts]\r\nDisk T=Local Disk (T:)\r\n";
    }
    static void Store(LPCTSTR lpszName, DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRestoreKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }
    static void Store(LPCTSTR lpszName, const std::u16string& value) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRestoreKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
        RegCloseKey(hKey);
    }
    static std::u16string StoredText(LPCTSTR lpszName) {
        WCHAR value[512] = {};
        DWORD size = sizeof(value) - 2;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRestoreKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return u"";
        RegQueryValueExW(hKey, lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(hKey);
        return value;
    }
    static DWORD StoredNumber(LPCTSTR lpszName) {
        DWORD value = 0xFFFF, size = 4;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRestoreKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return value;
        RegQueryValueExW(hKey, lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(hKey);
        return value;
    }
    void OpenPage() {
        ASSERT_TRUE(m_page.CreatePage(&m_host));
    }
    CString Text(int id) {
        CString text;
        m_page.GetDlgItemText(id, text);
        return text;
    }
    static bool Pump(const std::function<bool()>& condition) {
        return uitest::Eventually([&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            return condition();
        });
    }
    HTREEITEM Disk() {
        CShellTreeCtrl& tree = m_page.GetTree();
        for (HTREEITEM h = tree.GetChildItem(tree.GetRootItem()); h; h = tree.GetNextSiblingItem(h))
            if (tree.GetItemText(h) == CString(u"Local Disk (T:)"))
                return h;
        return nullptr;
    }
    void CheckDisk() {
        HTREEITEM hDisk = Disk();
        ASSERT_NE(hDisk, nullptr);
        m_page.GetTree().CheckBranch(hDisk, kStateChecked);
        m_page.SendMessage(WM_TREE_CHECK_CHANGED);
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    std::string m_home, m_oldHome, m_u;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CPageHost m_host;
    CExpertRestore m_page;
};

TEST_F(ExpertRestoreTest, StoredSettingsAreReadWithinTheirRanges) {
    MakeSet("anna@pc", "a");
    MakeSet("bert@pc", "b");
    const struct {
        DWORD path;
        DWORD cover;
        int expectedPath;
        const char16_t* expectedCover;
    } cases[] = {{0, 3, 1, u"Restore all files."},
                 {4, 0, 1, u"Display a warning dialog."},
                 {7, 2, 1, u"Skip this file and continue."},
                 {3, 1, 3, u"Restore all files."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Store(u"RestorePathOption", c.path);
        Store(u"CoverOption", c.cover);
        Store(u"UserAtPC", u"bert@pc");
        OpenPage();
        EXPECT_EQ(m_page.GetPathOption(), c.expectedPath);
        CString text;
        m_page.GetCoverCombo().GetLBText(m_page.GetCoverCombo().GetCurSel(), text);
        EXPECT_EQ(text, CString(c.expectedCover));
        // No stored folder reads as C:\; the stored set is the one shown.
        EXPECT_EQ(Text(1101), CString(u"C:\\"));
        m_page.GetSetCombo().GetLBText(m_page.GetSetCombo().GetCurSel(), text);
        EXPECT_EQ(text, CString(u"bert@pc"));
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(m_page.GetSafeHwnd(), 1101)) != FALSE, c.expectedPath != 1);
        m_page.DestroyWindow();
    }
}

TEST_F(ExpertRestoreTest, AChangeWhileCountingStartsExactlyOneNewCount) {
    MakeSet("anna@pc", "alpha");
    OpenPage();
    EXPECT_EQ(Text(1110), CString(u""));
    CheckDisk();
    ASSERT_TRUE(m_page.IsCounting());
    // The second change comes before the first count could end: it is cancelled and one new count follows.
    m_page.SendMessage(WM_TREE_CHECK_CHANGED);
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }));
    EXPECT_EQ(m_host.m_nCountsEnded, 1);
    EXPECT_EQ(Text(1111), CString(u"3"));
    EXPECT_EQ(Text(1112), CString(u"2"));
    EXPECT_EQ(Text(1110), CString(u"9"));
    EXPECT_EQ(Text(1118), CString(u"Calculation completes."));
    // Nothing checked: no count, every figure 0.
    m_page.GetTree().CheckBranch(Disk(), kStateUnchecked);
    m_page.SendMessage(WM_TREE_CHECK_CHANGED);
    EXPECT_FALSE(m_page.IsCounting());
    EXPECT_EQ(Text(1112), CString(u"0"));
    // A count the Expert Mode dialog stops ends with zero figures and says so.
    CheckDisk();
    ASSERT_TRUE(m_page.IsCounting());
    m_page.StopCount(FALSE);
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }));
    EXPECT_EQ(m_host.m_nCountsEnded, 2);
    EXPECT_EQ(Text(1112), CString(u"0"));
}

TEST_F(ExpertRestoreTest, StartRestoreRefusesWhatCannotBeRestored) {
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDCANCEL;
    });
    // A "KovraData" without a set: no set, and the restore is refused.
    std::filesystem::create_directories(m_u + "/KovraData/no set/Disk T");
    OpenPage();
    EXPECT_EQ(m_page.GetSetCombo().GetCount(), 0);
    m_page.OnStartRestore();
    m_page.DestroyWindow();
    MakeSet("anna@pc", "a");
    OpenPage();
    m_page.OnStartRestore();
    CheckDisk();
    m_page.CheckDlgButton(1150, BST_UNCHECKED);
    m_page.SendMessage(WM_COMMAND, MAKEWPARAM(1155, BN_CLICKED), 0);
    EXPECT_EQ(m_page.GetPathOption(), 2);
    m_page.SetDlgItemText(1101, u"");
    m_page.OnStartRestore();
    m_page.SetDlgItemText(1101, u"U:\\not yet");
    m_page.OnStartRestore();
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }));
    EXPECT_EQ(boxes, (std::vector<std::u16string>{
                         u"The wizard could not detect any restore sources. To perform restore operation, please back "
                         u"up files first.",
                         u"Please select \"Restore Source\".", u"Please select the destination drive.",
                         u"Folder does not exist. Clicking OK will create this folder. Do you want to continue?"}));
    EXPECT_FALSE(std::filesystem::exists(m_u + "/not yet"));
    // Nothing was stored by the refusals.
    EXPECT_EQ(StoredText(u"UserAtPC"), u"");
}

// Start Restore to a chosen folder with the set's path kept and every file overwritten: the files land there, the
// six settings are kept, and the next page shows them again.
TEST_F(ExpertRestoreTest, StartRestoreBringsTheSetIntoTheChosenFolderAndKeepsTheSettings) {
    MakeSet("anna@pc", "alpha");
    std::filesystem::create_directories(m_u + "/Restored/Disk T/Data");
    std::ofstream(m_u + "/Restored/Disk T/Data/a.txt", std::ios::binary) << "older and different";
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    OpenPage();
    CheckDisk();
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }));
    m_page.CheckDlgButton(1150, BST_CHECKED);
    m_page.SendMessage(WM_COMMAND, MAKEWPARAM(1155, BN_CLICKED), 0);
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }));
    m_page.SetDlgItemText(1101, u"U:\\Restored");
    for (int i = 0; i < m_page.GetCoverCombo().GetCount(); ++i)
        if (m_page.GetCoverCombo().GetItemData(i) == 1)
            m_page.GetCoverCombo().SetCurSel(i);
    std::thread user([&] {
        HWND hProgress = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                hProgress = FindWindowW(nullptr, u"Instant Restore");
                WCHAR text[64] = {};
                if (hProgress)
                    GetWindowTextW(GetDlgItem(hProgress, IDCANCEL), text, 64);
                return hProgress && std::u16string(text) == u"Finish";
            },
            std::chrono::seconds(60)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hProgress, IDCANCEL)));
    });
    m_page.OnStartRestore();
    user.join();
    std::ifstream a(m_u + "/Restored/Disk T/Data/a.txt", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>()), "alpha");
    EXPECT_TRUE(std::filesystem::exists(m_u + "/Restored/Disk T/Data/Sub/b.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(m_u + "/Restored/Disk T/Data/Sub/empty"));
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes.back().find(u"Restore completed"), std::u16string::npos);
    EXPECT_EQ(StoredText(u"DestDrive"), u"U:");
    EXPECT_EQ(StoredText(u"UserAtPC"), u"anna@pc");
    EXPECT_EQ(StoredText(u"DestPath"), u"U:\\Restored");
    EXPECT_EQ(StoredNumber(u"RestorePathOption"), 3u);
    EXPECT_EQ(StoredNumber(u"CoverOption"), 1u);
    EXPECT_NE(StoredNumber(u"DestSerialNo"), 0xFFFFu);
    m_page.DestroyWindow();
    OpenPage();
    EXPECT_EQ(m_page.GetPathOption(), 3);
    EXPECT_EQ(Text(1101), CString(u"U:\\Restored"));
}

TEST_F(ExpertRestoreTest, TheShownSetGoingShowsTheOtherOrLeavesNoDrive) {
    MakeSet("anna@pc", "a");
    MakeSet("bert@pc", "b");
    Store(u"UserAtPC", u"bert@pc");
    OpenPage();
    // A file that comes into the shown set shows in the tree once its folder is open, and goes again.
    HTREEITEM hDisk = Disk();
    ASSERT_NE(hDisk, nullptr);
    m_page.GetTree().Expand(hDisk, TVE_EXPAND);
    HTREEITEM hData = m_page.GetTree().GetChildItem(hDisk);
    ASSERT_NE(hData, nullptr);
    m_page.GetTree().Expand(hData, TVE_EXPAND);
    auto childCount = [&] {
        int n = 0;
        for (HTREEITEM h = m_page.GetTree().GetChildItem(hData); h; h = m_page.GetTree().GetNextSiblingItem(h))
            ++n;
        return n;
    };
    const int before = childCount();
    std::ofstream(m_u + "/KovraData/bert@pc/Disk T/Data/new.txt") << "n";
    CItemIDList made(u"U:\\KovraData\\bert@pc\\Disk T\\Data\\new.txt");
    ASSERT_TRUE(made.IsValid());
    m_page.OnShellNotify(SHCNE_CREATE, made, nullptr);
    EXPECT_EQ(childCount(), before + 1);
    std::filesystem::remove(m_u + "/KovraData/bert@pc/Disk T/Data/new.txt");
    m_page.OnShellNotify(SHCNE_DELETE, made, nullptr);
    EXPECT_EQ(childCount(), before);
    {
        CItemIDList set(u"U:\\KovraData\\bert@pc");
        ASSERT_TRUE(set.IsValid());
        std::filesystem::remove_all(m_u + "/KovraData/bert@pc");
        m_page.OnShellNotify(SHCNE_RMDIR, set, nullptr);
    }
    ASSERT_EQ(m_page.GetSetCombo().GetCount(), 1);
    auto* pRoot = reinterpret_cast<CShellItemData*>(m_page.GetTree().GetItemData(m_page.GetTree().GetRootItem()));
    ASSERT_NE(pRoot, nullptr);
    EXPECT_EQ(pRoot->m_list.GetPath(), CString(u"U:\\KovraData\\anna@pc"));
    // The last set goes: so does the drive, and nothing is shown.
    CItemIDList last(u"U:\\KovraData\\anna@pc");
    std::filesystem::remove_all(m_u + "/KovraData/anna@pc");
    m_page.OnShellNotify(SHCNE_RMDIR, last, nullptr);
    EXPECT_EQ(m_page.GetDriveCombo().GetCount(), 0);
    EXPECT_EQ(m_page.GetTree().GetRootItem(), nullptr);
}

} // namespace
