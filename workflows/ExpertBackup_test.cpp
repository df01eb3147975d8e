// The Expert Mode dialog's Instant Backup page on the program's own template: the stored destination found again,
// the running count of the selection, the backup through the copy-progress dialog, and the requests it refuses
// (each answered to the one who asked).
#include "workflows/ExpertBackup.h"

#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
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

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kExpertBackupKey = u"Software\\VEVUVUV\\Kovra\\Expert\\Backup";
constexpr UINT WM_REPLY = WM_APP + 7;

// The page's parent, which also counts the replies to backup requests.
class CPageHost : public CWnd {
public:
    LRESULT OnReply(WPARAM, LPARAM) {
        ++m_nReplies;
        return 0;
    }
    int m_nReplies = 0;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPageHost, CWnd)
ON_MESSAGE(WM_REPLY, OnReply)
END_MESSAGE_MAP()

class ExpertBackupTest : public apptest::MachineTest {
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
        c.serial = 0x1000;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr, nullptr));
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

    void AddDrive(WCHAR letter, DWORD serial) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive");
        drive.serial = serial;
        std::filesystem::create_directories(drive.hostRoot);
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }
    static void StoreDestination(LPCTSTR lpszDrive, DWORD dwSerial) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kExpertBackupKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"DestDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(lpszDrive),
                       static_cast<DWORD>((std::u16string(lpszDrive).size() + 1) * 2));
        RegSetValueExW(hKey, u"DestSerialNo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSerial), 4);
        RegCloseKey(hKey);
    }
    static std::u16string StoredDrive() {
        WCHAR value[64] = {};
        DWORD size = sizeof(value);
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kExpertBackupKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return u"";
        RegQueryValueExW(hKey, u"DestDrive", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(hKey);
        return value;
    }
    static WCHAR Selected(CExpertBackup& page) {
        const int nSel = page.GetCombo().GetCurSel();
        return nSel < 0 ? 0 : static_cast<WCHAR>(u'A' + page.GetCombo().GetItemData(nSel));
    }
    static std::u16string Text(CExpertBackup& page, int nId) {
        WCHAR text[128] = {};
        ::GetWindowTextW(::GetDlgItem(page.GetSafeHwnd(), nId), text, 128);
        return text;
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
        PumpUntil([] { return true; });
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    // The item of a path's folder below the tree's "Local Disk (T:)", expanded on the way; null when missing.
    static HTREEITEM FindItem(CShellTreeCtrl& tree, std::initializer_list<const char16_t*> names) {
        HTREEITEM hItem = tree.GetRootItem();
        for (const char16_t* name : names) {
            tree.SelectItem(hItem);
            tree.Expand(hItem, TVE_EXPAND);
            HTREEITEM hFound = nullptr;
            for (HTREEITEM c = tree.GetChildItem(hItem); c; c = tree.GetNextSiblingItem(c))
                if (tree.GetItemText(c) == CString(name))
                    hFound = c;
            if (!hFound)
                return nullptr;
            hItem = hFound;
        }
        return hItem;
    }
    // Checks T:\Data in a source tree and saves it as "ManualBackup.rpr".
    void SaveSelection() {
        CShellTreeCtrl tree;
        RECT rc{0, 0, 480, 680};
        ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        ASSERT_TRUE(tree.InitTree(603, 130, 700, 1000, kTreeBackup, FALSE));
        ASSERT_EQ(m_manager.FillSourceTree(&tree), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM item = FindItem(tree, {u"Local Disk (T:)", u"Data"});
        ASSERT_NE(item, nullptr);
        tree.CheckBranch(item, kStateChecked);
        ASSERT_TRUE(tree.SaveSelecton(u"T:\\program\\Config\\ManualBackup.rpr", nullptr));
        tree.DestroyWindow();
    }
    std::string ReadDrive(WCHAR letter, const std::string& relative) {
        std::ifstream in(m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive") + "/" + relative,
                         std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void CreatePage(CExpertBackup& page) {
        ASSERT_TRUE(page.CreatePage(&m_host));
        page.ShowWindow(SW_SHOW);
    }
    // The count of the selection has ended.
    static bool CountDone(CExpertBackup& page) {
        return PumpUntil([&] { return !page.IsCounting() && Text(page, 1023) == u"Calculation completed."; });
    }
    std::string SetFolder() const {
        return "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/Disk T/";
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CPageHost m_host;
};

TEST_F(ExpertBackupTest, TheStoredDestinationIsFoundAgainAndTheSelectionIsCountedAsItChanges) {
    AddDrive(u'U', 0x5555);
    AddDrive(u'V', 0x6666);
    // The drive was re-lettered: its serial number finds it.
    StoreDestination(u"U:", 0x6666);
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    m_drive.Write("Other/c.txt", "gamma!");
    SaveSelection();

    CExpertBackup page;
    CreatePage(page);
    EXPECT_EQ(Selected(page), u'V');
    EXPECT_EQ(page.GetDestinationDrive(), CString(u"V:"));
    EXPECT_EQ(Text(page, 1005), u"NTFS");
    EXPECT_FALSE(Text(page, 1012).empty());

    // The saved selection is counted.
    ASSERT_TRUE(CountDone(page));
    EXPECT_EQ(Text(page, 1009), u"2");
    EXPECT_EQ(Text(page, 1002), u"9");
    EXPECT_EQ(page.GetCountedFiles(), 2u);
    EXPECT_EQ(page.GetCountedBytes(), 9u);

    // More checked while a count runs: the count starts again, and only the last one's figures stay.
    CShellTreeCtrl& tree = page.GetTree();
    HTREEITEM hOther = FindItem(tree, {u"Local Disk (T:)", u"Other"});
    ASSERT_NE(hOther, nullptr);
    tree.CheckBranch(hOther, kStateChecked);
    page.SendMessage(WM_TREE_CHECK_CHANGED);
    page.SendMessage(WM_TREE_CHECK_CHANGED);
    ASSERT_TRUE(CountDone(page));
    EXPECT_EQ(Text(page, 1009), u"3");
    EXPECT_EQ(Text(page, 1002), u"15");

    // Nothing checked: "0", and no count left running.
    tree.CheckBranch(tree.GetRootItem(), kStateUnchecked);
    page.SendMessage(WM_TREE_CHECK_CHANGED);
    ASSERT_TRUE(PumpUntil([&] { return !page.IsCounting(); }));
    Pump();
    EXPECT_EQ(Text(page, 1009), u"0");
    EXPECT_EQ(Text(page, 1002), u"0");
    page.DestroyWindow();
}

TEST_F(ExpertBackupTest, StartBackupLandsTheSelectionOnTheDriveWithTheFinishedCount) {
    AddDrive(u'U', 0x5555);
    StoreDestination(u"U:", 0x5555);
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    SaveSelection();
    CExpertBackup page;
    CreatePage(page);
    ASSERT_TRUE(CountDone(page));

    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    std::thread user([&] {
        HWND hProgress = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                hProgress = FindWindowW(nullptr, u"Instant Backup");
                WCHAR text[64] = {};
                if (hProgress)
                    GetWindowTextW(GetDlgItem(hProgress, IDCANCEL), text, 64);
                return hProgress && std::u16string(text) == u"Finish";
            },
            std::chrono::seconds(60)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hProgress, IDCANCEL)));
    });
    page.StartBackup(m_host.GetSafeHwnd(), WM_REPLY);
    user.join();
    Pump();
    EXPECT_EQ(ReadDrive(u'U', SetFolder() + "Data/a.txt"), "alpha");
    EXPECT_EQ(ReadDrive(u'U', SetFolder() + "Data/Sub/b.txt"), "beta");
    EXPECT_EQ(StoredDrive(), u"U:");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Backup completed, 2 different file(s) backed up, 0 identical file(s) skipped. Failed to "
                        u"back up 0 file(s).");
    EXPECT_EQ(m_host.m_nReplies, 1);
    EXPECT_FALSE(m_manager.HasProgressDlg());
    EXPECT_EQ(Text(page, 1009), u"2");
    page.DestroyWindow();
}

TEST_F(ExpertBackupTest, RefusedRequestsSayWhyStartNothingAndAreStillAnswered) {
    AddDrive(u'U', 0x5555);
    AddDrive(u'V', 0x6666);
    StoreDestination(u"U:", 0x5555);
    m_drive.Write("Data/a.txt", "alpha");
    CExpertBackup page;
    CreatePage(page);
    Pump();
    ASSERT_EQ(Selected(page), u'U');
    std::vector<platform::ui::PromptInfo> boxes;
    int answer = IDOK;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        boxes.push_back(info);
        return answer;
    });

    // Nothing checked.
    page.StartBackup(m_host.GetSafeHwnd(), WM_REPLY);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Please select \"Backup Source\".");
    EXPECT_EQ(boxes[0].caption, u"Instant Backup");

    // Another drive than the last one, and the user keeps the last one.
    CShellTreeCtrl& tree = page.GetTree();
    HTREEITEM hData = FindItem(tree, {u"Local Disk (T:)", u"Data"});
    ASSERT_NE(hData, nullptr);
    tree.CheckBranch(hData, kStateChecked);
    page.SendMessage(WM_TREE_CHECK_CHANGED);
    ASSERT_TRUE(CountDone(page));
    theApp.SelectDriveInCombo(&page.GetCombo(), u"V:");
    answer = IDNO;
    page.StartBackup(m_host.GetSafeHwnd(), WM_REPLY);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, u"The previous destination disk is U:, do you want to change to V:?");
    EXPECT_EQ(Selected(page), u'U');

    // The backup store itself on the destination drive.
    StoreDestination(u"T:", 0);
    CExpertBackup storePage;
    CreatePage(storePage);
    theApp.SelectDriveInCombo(&storePage.GetCombo(), u"T:");
    storePage.UpdateDestination();
    m_drive.Write("KovraData/x@y/old.txt", "old");
    CShellTreeCtrl& storeTree = storePage.GetTree();
    storeTree.SendMessage(WM_TREE_EXPAND_ROOT);
    HTREEITEM hDrive = FindItem(storeTree, {u"Local Disk (T:)"});
    ASSERT_NE(hDrive, nullptr);
    storeTree.CheckBranch(hDrive, kStateChecked);
    storePage.SendMessage(WM_TREE_CHECK_CHANGED);
    ASSERT_TRUE(CountDone(storePage));
    answer = IDOK;
    storePage.StartBackup(m_host.GetSafeHwnd(), WM_REPLY);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].text, u"Cannot backup the selected file sources (KovraData) to the same drive, it is an invalid "
                             u"operation, please select another backup destination.");

    // Every request was answered; nothing was backed up.
    Pump();
    EXPECT_EQ(m_host.m_nReplies, 3);
    EXPECT_TRUE(ReadDrive(u'U', SetFolder() + "Data/a.txt").empty());
    EXPECT_TRUE(ReadDrive(u'V', SetFolder() + "Data/a.txt").empty());
    storePage.DestroyWindow();
    page.DestroyWindow();
}

// A backup started while the count still runs has no figures to test the free space against: the copy-progress
// dialog estimates and asks, so a backup larger than the drive never starts unasked.
TEST_F(ExpertBackupTest, StartDuringACountStillTestsTheFreeSpace) {
    AddDrive(u'U', 0x5555);
    StoreDestination(u"U:", 0x5555);
    m_drive.Write("Data/a.txt", "alpha");
    {
        std::ofstream(m_drive.Root() + "/Data/huge.bin");
        std::filesystem::resize_file(m_drive.Root() + "/Data/huge.bin",
                                     std::filesystem::space(m_machine.Scratch("Udrive")).available + (1ull << 40));
    }
    SaveSelection();
    CExpertBackup page;
    CreatePage(page);
    ASSERT_TRUE(CountDone(page));
    // The figures no longer stand for the selection (it changed), as when a count is still running.
    page.SendMessage(WM_TREE_CHECK_CHANGED);
    page.StopCount(FALSE);
    ASSERT_TRUE(PumpUntil([&] { return !page.IsCounting(); }));

    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        boxes.push_back(info.text);
        return info.text.find(u"Insufficient storage") == 0 ? IDABORT : IDOK;
    });
    page.StartBackup(m_host.GetSafeHwnd(), WM_REPLY);
    Pump();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].find(u"Insufficient storage on the destination drive."), 0u);
    EXPECT_TRUE(ReadDrive(u'U', SetFolder() + "Data/a.txt").empty());
    EXPECT_EQ(m_host.m_nReplies, 1);
    page.DestroyWindow();
}

} // namespace
