// The Expert Mode dialog's Instant Restore page on its own: its stored settings, its running count of the checked
// items, its refusals, the restore it starts through the copy-progress dialog, and the sets that go.
#include "agents/AgentTestSupport.h"
#include "agents/OutlookEAgent.h"
#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/ItemIDList.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertRestore.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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
    static bool Pump(const std::function<bool()>& condition,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return uitest::Eventually(
            [&] {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&msg);
                return condition();
            },
            limit);
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

// The Outlook Express identity step of Start Restore: the set's two identities are paired in the Select Identity
// dialog with two other identities of this computer, crossed, and the restore the page then runs brings each
// identity's store and settings into the identity chosen for it.
TEST_F(ExpertRestoreTest, TwoIdentitiesComeBackIntoTheIdentitiesChosenInTheDialog) {
    using agenttest::DeleteTree;
    using agenttest::Dump;
    const std::u16string oe = u"Software\\Microsoft\\Outlook Express\\5.0";
    auto id = [](const char16_t* identity, const std::u16string& below = u"") {
        return std::u16string(u"Identities\\") + identity + (below.empty() ? u"" : u"\\" + below);
    };
    auto set = [](const std::u16string& key, const char16_t* name, DWORD type, const void* data, size_t size) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, key.c_str(), &hKey), ERROR_SUCCESS);
        RegSetValueExW(hKey, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
        RegCloseKey(hKey);
    };
    auto text = [&](const std::u16string& key, const char16_t* name, const std::u16string& value,
                    DWORD type = REG_SZ) { set(key, name, type, value.c_str(), (value.size() + 1) * 2); };
    auto write = [&](const std::string& relative, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(m_home + "/" + relative).parent_path());
        std::ofstream(m_home + "/" + relative, std::ios::binary) << bytes;
    };
    // An identity that has been used, with its store folder, signature and rule.
    auto identity = [&](const char16_t* identityId, const std::u16string& name, const std::string& folder) {
        text(id(identityId), u"Username", name);
        const DWORD one = 1;
        set(id(identityId, oe + u"\\Mail"), u"Accounts Checked", REG_DWORD, &one, 4);
        std::u16string store = u"C:\\" + platform::Utf8ToUtf16(folder) + u"\\Store";
        std::replace(store.begin(), store.end(), u'/', u'\\');
        text(id(identityId, oe), u"Store Root", store, REG_EXPAND_SZ);
        std::filesystem::create_directories(m_home + "/" + folder + "/Store");
        text(id(identityId, oe + u"\\signatures"), u"Default Signature", u"00000000");
        text(id(identityId, oe + u"\\signatures\\00000000"), u"text", name + u"\r\n-- sent with care");
        set(id(identityId, oe + u"\\Rules\\Mail\\000"), u"Enabled", REG_DWORD, &one, 4);
    };
    constexpr const char16_t* kAnn = u"{11111111-AAAA-4000-8000-000000000001}";
    constexpr const char16_t* kBob = u"{22222222-BBBB-4000-8000-000000000002}";
    constexpr const char16_t* kAnnHome = u"{33333333-CCCC-4000-8000-000000000003}";
    constexpr const char16_t* kBobHome = u"{44444444-DDDD-4000-8000-000000000004}";
    // Outlook Express on a Windows XP machine, with two identities.
    std::ofstream(platform::machine::PathOf("version")) << "platform=2\nmajor=5\nminor=1\nbuild=2600\n";
    write("Program Files/Outlook Express/msimn.exe", "MZ");
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\msimn.exe",
                                &hKey),
                  ERROR_SUCCESS);
        const std::u16string program = u"C:\\Program Files\\Outlook Express\\msimn.exe";
        RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                       static_cast<DWORD>((program.size() + 1) * 2));
        RegCloseKey(hKey);
    }
    text(u"Identities", u"Default User ID", kAnn);
    identity(kAnn, u"Ann", "OE/Ann");
    identity(kBob, u"Bob", "OE/Bob");
    // Ann is the default identity: her accounts are the plain account manager's; Bob's are his own.
    text(u"Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", u"Account Name", u"ann.example");
    text(id(kBob, u"Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001"), u"Account Name",
         u"bob.example");
    for (const char* who : {"Ann", "Bob"})
        for (const char* file : {"Inbox.dbx", "Folders.dbx"})
            write(std::string("OE/") + who + "/Store/" + file, std::string(who) + " " + file + std::string(2000, 'd'));
    COutlookEAgent agent;
    // The agent leaves both managers before it ends, whatever ends the test.
    struct Registered {
        CBackManager* managers[2];
        ~Registered() {
            for (CBackManager* pManager : managers)
                pManager->RemoveAllAgents();
        }
    } registered{{&m_manager, theApp.GetBackManager()}};
    ASSERT_EQ(m_manager.AddAgent(&agent), 1);
    ASSERT_EQ(theApp.GetBackManager()->AddAgent(&agent), 1);
    agenttest::Tree annSettings, bobSettings;
    Dump(HKEY_CURRENT_USER, id(kAnn, oe + u"\\signatures"), u"", annSettings);
    Dump(HKEY_CURRENT_USER, id(kBob, oe + u"\\signatures"), u"", bobSettings);
    auto store = [&](const std::string& folder) {
        std::map<std::string, std::string> files;
        if (std::filesystem::exists(m_home + "/" + folder))
            for (const auto& entry : std::filesystem::directory_iterator(m_home + "/" + folder))
                files[entry.path().filename().string()] = std::string(
                    (std::istreambuf_iterator<char>(std::ifstream(entry.path(), std::ios::binary).rdbuf())),
                    std::istreambuf_iterator<char>());
        return files;
    };
    const auto annStore = store("OE/Ann/Store"), bobStore = store("OE/Bob/Store");
    {
        // The backup of Outlook Express onto U:.
        CShellTreeCtrl source;
        RECT rc{0, 0, 400, 400};
        ASSERT_TRUE(source.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        ASSERT_TRUE(source.InitTree(603, 130, 700, 3200, kTreeBackup, FALSE));
        m_manager.FillSourceTree(&source);
        source.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM hRoot = nullptr;
        for (HTREEITEM h = source.GetChildItem(source.GetRootItem()); h && !hRoot; h = source.GetNextSiblingItem(h))
            if (source.GetItemText(h) == CString(u"Outlook Express"))
                hRoot = h;
        ASSERT_NE(hRoot, nullptr);
        source.CheckBranch(hRoot, kStateChecked);
        agenttest::JobRunner(source, m_manager).Backup(u"U:\\");
        source.DestroyWindow();
    }
    // A drive folder of the set beside it, as a backup of files and mail together leaves.
    std::filesystem::create_directories(m_u + "/KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) +
                                        "/Disk T");
    // This computer now has two identities of its own.
    DeleteTree(HKEY_CURRENT_USER, u"Identities");
    std::filesystem::remove_all(m_home + "/OE");
    text(u"Identities", u"Default User ID", kAnnHome);
    identity(kAnnHome, u"Ann Home", "Home/Ann");
    identity(kBobHome, u"Bob Home", "Home/Bob");
    for (const char16_t* home : {kAnnHome, kBobHome})
        for (const char16_t* part : {u"signatures", u"Rules"})
            DeleteTree(HKEY_CURRENT_USER, id(home, oe + u"\\" + part));

    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    OpenPage();
    HTREEITEM hOE = nullptr;
    for (HTREEITEM h = m_page.GetTree().GetChildItem(m_page.GetTree().GetRootItem()); h && !hOE;
         h = m_page.GetTree().GetNextSiblingItem(h))
        if (m_page.GetTree().GetItemText(h) == CString(u"Outlook Express"))
            hOE = h;
    ASSERT_NE(hOE, nullptr);
    m_page.GetTree().CheckBranch(hOE, kStateChecked);
    m_page.SendMessage(WM_TREE_CHECK_CHANGED);
    // Counting a mail set asks the agent about every item: slow on a busy machine.
    ASSERT_TRUE(Pump([&] { return !m_page.IsCounting(); }, std::chrono::seconds(120)));
    // The user: Ann's data into Bob Home and Bob's into Ann Home, then Finish on the copy-progress dialog.
    const std::map<std::u16string, std::u16string> choices = {{u"Ann", u"Bob Home"}, {u"Bob", u"Ann Home"}};
    std::vector<std::u16string> shown;
    std::thread user([&] {
        HWND hDialog = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                hDialog = FindWindowW(nullptr, u"Select Identity");
                return hDialog && IsWindowVisible(hDialog);
            },
            std::chrono::seconds(120)));
        for (size_t round = 0; round < choices.size(); ++round) {
            WCHAR original[256] = {};
            ASSERT_TRUE(uitest::Eventually([&] {
                GetWindowTextW(GetDlgItem(hDialog, 2403), original, 256);
                return original[0] && (shown.empty() || shown.back() != original);
            }));
            shown.emplace_back(original);
            const auto choice = choices.find(original);
            ASSERT_NE(choice, choices.end()) << platform::Utf16ToUtf8(original);
            HWND hList = GetDlgItem(hDialog, 2405);
            const int count = static_cast<int>(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0));
            int found = -1;
            for (int i = 0; i < count && found < 0; ++i) {
                WCHAR item[256] = {};
                LVITEMW lvi{};
                lvi.pszText = item;
                lvi.cchTextMax = 256;
                SendMessageW(hList, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&lvi));
                if (choice->second == item)
                    found = i;
            }
            ASSERT_GE(found, 0);
            LVITEMW state{};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(hList, LVM_SETITEMSTATE, found, reinterpret_cast<LPARAM>(&state));
            ASSERT_TRUE(uitest::Eventually([&] { return IsWindowEnabled(GetDlgItem(hDialog, IDOK)) != FALSE; }));
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hDialog, IDOK)));
        }
        HWND hProgress = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                hProgress = FindWindowW(nullptr, u"Instant Restore");
                WCHAR label[64] = {};
                if (hProgress)
                    GetWindowTextW(GetDlgItem(hProgress, IDCANCEL), label, 64);
                return hProgress && std::u16string(label) == u"Finish";
            },
            std::chrono::seconds(120)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hProgress, IDCANCEL)));
    });
    m_page.OnStartRestore();
    user.join();
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"Ann", u"Bob"}));
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes.back().find(u"Restore completed"), std::u16string::npos);
    EXPECT_EQ(store("Home/Bob/Store"), annStore);
    EXPECT_EQ(store("Home/Ann/Store"), bobStore);
    agenttest::Tree bobHome, annHome;
    Dump(HKEY_CURRENT_USER, id(kBobHome, oe + u"\\signatures"), u"", bobHome);
    Dump(HKEY_CURRENT_USER, id(kAnnHome, oe + u"\\signatures"), u"", annHome);
    EXPECT_EQ(bobHome, annSettings);
    EXPECT_EQ(annHome, bobSettings);
    m_page.DestroyWindow();
}

} // namespace
