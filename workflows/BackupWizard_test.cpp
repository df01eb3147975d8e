// The Instant Backup wizard's destination page and the whole road of one Instant Backup: the wizard's two pages
// driven by a user thread, the copy-progress dialog with the size estimate, and the user's files in the set on the
// destination drive.
#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ItemIDList.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/BackupPage1.h"
#include "workflows/BackupPage2.h"
#include "workflows/BackupWizard.h"

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

CTestBrannicApp theApp;

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kExpressKey = u"Software\\VEVUVUV\\Kovra\\Express\\Backup";

class CHostWnd : public CWnd {};

// Runs a function on the thread that owns it when another thread sends it WM_APP.
class CCallWnd : public CWnd {
public:
    LRESULT OnCall(WPARAM, LPARAM lParam) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCallWnd, CWnd)
ON_MESSAGE(WM_APP, OnCall)
END_MESSAGE_MAP()

class BackupWizardTest : public apptest::MachineTest {
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
        // Any drive may serve as the destination.
        m_drive.Write("program/Config/Main.ini", "[Main]\nDriveType=1\n");
        theApp.ReadDriveType();
        ASSERT_TRUE(theApp.IsAnyDriveType());

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
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
        ASSERT_TRUE(m_call.CreateEx(0, nullptr, u"Call", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr));
    }
    void TearDown() override {
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_call.DestroyWindow();
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    // A drive over a scratch folder with a serial number of its own.
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
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kExpressKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
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
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kExpressKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return u"";
        RegQueryValueExW(hKey, u"DestDrive", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(hKey);
        return value;
    }
    // The letter of the selected item of page 2's list, or 0.
    static WCHAR Selected(CBackupPage2& page) {
        const int nSel = page.GetCombo().GetCurSel();
        return nSel < 0 ? 0 : static_cast<WCHAR>(u'A' + page.GetCombo().GetItemData(nSel));
    }
    // Runs a wizard holding page 2 alone and looks at it before cancelling.
    void WithPage2(const std::function<void(CBackupPage2&, HWND)>& look) {
        CBackupWizard wizard(1, &m_host);
        CBackupPage2 page(nullptr);
        wizard.AddPage(&page, 3300);
        std::thread user([&] {
            HWND hWizard = nullptr;
            ASSERT_TRUE(uitest::Eventually([&] {
                hWizard = FindWindowW(nullptr, u"Instant Backup Wizard");
                return hWizard && IsWindowVisible(hWizard) && page.IsCreated();
            }));
            look(page, hWizard);
            PostMessageW(hWizard, WM_COMMAND, IDCANCEL, 0);
        });
        wizard.SetTitleId(2307);
        EXPECT_EQ(wizard.DoModal(), IDCANCEL);
        user.join();
    }

    // Runs `action` on the test's GUI thread (from the user thread, while a modal loop serves it).
    void OnGuiThread(const std::function<void()>& action) {
        SendMessageW(m_call.GetSafeHwnd(), WM_APP, 0, reinterpret_cast<LPARAM>(&action));
    }
    // Checks T:\Data in a source tree and saves the selection where the wizard's first page reads it.
    void SaveSelection() {
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
            if (tree.GetItemText(c) == CString(u"Data"))
                item = c;
        ASSERT_NE(item, nullptr);
        tree.CheckBranch(item, kStateChecked);
        ASSERT_TRUE(tree.SaveSelecton(CBackupPage1::GetSelectionPath(), nullptr));
        tree.DestroyWindow();
    }
    // A file below a drive added by AddDrive, read on the host ("" when missing).
    std::string ReadDrive(WCHAR letter, const std::string& relative) {
        std::ifstream in(m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive") + "/" + relative,
                         std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CCallWnd m_call;
    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CHostWnd m_host;
};

TEST_F(BackupWizardTest, TheStoredDestinationIsFoundBySerialNumberThenByLetter) {
    AddDrive(u'E', 0xE0E0);
    AddDrive(u'F', 0xF0F0);
    struct Case {
        const char16_t* stored;
        DWORD serial;
        WCHAR expected;
    };
    const Case cases[] = {
        {u"E:", 0xF0F0, u'F'}, // the drive got another letter: its serial number finds it
        {u"E:", 0, u'E'},      // never stored a serial number: the letter
        {u"Q:", 0, u'T'},      // nothing matches: the last drive of the list
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.stored));
        StoreDestination(c.stored, c.serial);
        WithPage2([&](CBackupPage2& page, HWND hWizard) {
            EXPECT_EQ(Selected(page), c.expected);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWizard, 12325)));
            EXPECT_EQ(page.GetChart().GetItemCount(), 2);
            EXPECT_NE(page.GetFreeBytes(), ~0ull);
        });
    }
}

TEST_F(BackupWizardTest, DrivesThatComeAndGoFollowTheList) {
    AddDrive(u'E', 0xE0E0);
    AddDrive(u'F', 0xF0F0);
    StoreDestination(u"E:", 0xE0E0);
    WithPage2([&](CBackupPage2& page, HWND hWizard) {
        OnGuiThread([&] {
            ASSERT_EQ(Selected(page), u'E');
            const int count = page.GetCombo().GetCount();
            // The selected drive goes: the last one left is selected and shown.
            CItemIDList e(u"E:\\");
            ASSERT_TRUE(e.IsValid());
            page.OnDriveNotify(SHCNE_DRIVEREMOVED, e.Get());
            EXPECT_EQ(page.GetCombo().GetCount(), count - 1);
            EXPECT_EQ(Selected(page), u'T');
            // It comes back: listed again, not selected.
            page.OnDriveNotify(SHCNE_DRIVEADD, e.Get());
            EXPECT_EQ(page.GetCombo().GetCount(), count);
            EXPECT_EQ(Selected(page), u'T');
            // Every drive goes: the figures are blank and Start is disabled.
            while (page.GetCombo().GetCount() > 0)
                page.GetCombo().DeleteString(0);
            page.UpdateDestination();
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hWizard, 12325)));
            EXPECT_EQ(page.GetChart().GetItemCount(), 0);
            WCHAR text[64] = {};
            GetDlgItemTextW(page.GetSafeHwnd(), 3304, text, 64);
            EXPECT_EQ(text[0], 0);
            // With no drive the page does not finish: the backup never goes to the root of the current drive.
            EXPECT_FALSE(page.OnWizardFinish());
        });
    });
}

// The whole road: the previous selection comes back on page 1, Next, Start on page 2, the copy-progress dialog with
// the estimate, and the user's files in the set on the destination.
TEST_F(BackupWizardTest, AnInstantBackupLandsTheSelectionOnTheChosenDrive) {
    AddDrive(u'U', 0x5555);
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    SaveSelection();
    StoreDestination(u"U:", 0x5555);
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    CBackupWizard* pOpen = nullptr;
    bool sawOpen = false;
    std::thread user([&] {
        HWND hWizard = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hWizard = FindWindowW(nullptr, u"Instant Backup Wizard");
            return hWizard && IsWindowVisible(hWizard) && IsWindowEnabled(GetDlgItem(hWizard, 12324));
        }));
        sawOpen = pOpen != nullptr;
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12324)));
        ASSERT_TRUE(uitest::Eventually([&] {
            HWND hStart = GetDlgItem(hWizard, 12325);
            return IsWindowVisible(hStart) && IsWindowEnabled(hStart);
        }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12325)));
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
    EXPECT_EQ(CBackupWizard::RunInstantBackup(&m_host, 1, &pOpen), 1);
    user.join();
    EXPECT_TRUE(sawOpen);
    EXPECT_EQ(pOpen, nullptr);
    const std::string set = "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/Disk T/";
    EXPECT_EQ(ReadDrive(u'U', set + "Data/a.txt"), "alpha");
    EXPECT_EQ(ReadDrive(u'U', set + "Data/Sub/b.txt"), "beta");
    EXPECT_EQ(StoredDrive(), u"U:");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Backup completed, 2 different file(s) backed up, 0 identical file(s) skipped. Failed to "
                        u"back up 0 file(s).");
    EXPECT_FALSE(m_manager.HasProgressDlg());
}

TEST_F(BackupWizardTest, StartWhileACopyRunsSaysSoAndStartsNothing) {
    AddDrive(u'U', 0x5555);
    m_drive.Write("Data/a.txt", "alpha");
    SaveSelection();
    StoreDestination(u"U:", 0x5555);
    ASSERT_EQ(m_manager.AttachProgressDlg(&m_host), 1);
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    std::thread user([&] {
        HWND hWizard = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hWizard = FindWindowW(nullptr, u"Instant Backup Wizard");
            return hWizard && IsWindowVisible(hWizard) && IsWindowEnabled(GetDlgItem(hWizard, 12324));
        }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12324)));
        ASSERT_TRUE(uitest::Eventually([&] {
            HWND hStart = GetDlgItem(hWizard, 12325);
            return IsWindowVisible(hStart) && IsWindowEnabled(hStart);
        }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12325)));
    });
    EXPECT_EQ(CBackupWizard::RunInstantBackup(&m_host, 1, nullptr), 0);
    user.join();
    m_manager.AttachProgressDlg(nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(u"already running"), std::u16string::npos);
    EXPECT_TRUE(ReadDrive(u'U', "KovraData").empty());
}

} // namespace
