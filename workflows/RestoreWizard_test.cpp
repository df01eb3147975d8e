// The Instant Restore wizard: its source page over drives and sets, its target page, and the whole road of one
// Instant Restore through the copy-progress dialog, with the user's files coming back to their drive or into a
// chosen folder and existing files overwritten or left alone as the page said.
#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/ItemIDList.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/BackupWizard.h"
#include "workflows/ExpertRestore.h"
#include "workflows/RestorePage1.h"
#include "workflows/RestorePage2.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/ini.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>

extern CTestBrannicApp theApp;

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";

class CHostWnd : public CWnd {};

// Runs a function on the thread that owns it when another thread sends it WM_APP.
class CRestoreCallWnd : public CWnd {
public:
    LRESULT OnCall(WPARAM, LPARAM lParam) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRestoreCallWnd, CWnd)
ON_MESSAGE(WM_APP, OnCall)
END_MESSAGE_MAP()

class RestoreWizardTest : public apptest::MachineTest {
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
        // The application's own manager answers which drives hold backups.
        ASSERT_EQ(theApp.GetBackManager()->AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
        ASSERT_TRUE(m_call.CreateEx(0, nullptr, u"Call", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr));
        m_manager.SetRestoreOptions(1, u"", 0);
    }
    void TearDown() override {
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_call.DestroyWindow();
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
    // A backup set on the drive with the files of T:\Data as a backup leaves them, and the drive's recorded name.
    static void MakeSet(const std::string& driveRoot, const std::string& set, const std::string& content) {
        const std::string disk = driveRoot + "/KovraData/" + set + "/Disk T/Data";
        std::filesystem::create_directories(disk + "/Sub/empty");
        std::ofstream(disk + "/a.txt", std::ios::binary) << content;
        std::ofstream(disk + "/Sub/b.txt", std::ios::binary) << "beta";
        std::ofstream(driveRoot + "/KovraData/" + set + "/RegularFile.ini", std::ios::binary)
            << "[Fonts]\r\nDisk T=Local Disk (T:)\r\n";
    }

    void OnGuiThread(const std::function<void()>& action) {
        SendMessageW(m_call.GetSafeHwnd(), WM_APP, 0, reinterpret_cast<LPARAM>(&action));
    }
    static HWND WaitForWizard() {
        HWND hWizard = nullptr;
        EXPECT_TRUE(uitest::Eventually([&] {
            hWizard = FindWindowW(nullptr, u"Instant Restore Wizard");
            return hWizard && IsWindowVisible(hWizard);
        }));
        return hWizard;
    }
    // The page's restore tree as the page holds it.
    static CShellTreeCtrl* TreeOf(HWND hWizard) {
        HWND hTree = nullptr;
        EnumChildWindows(
            hWizard,
            [](HWND child, LPARAM found) -> BOOL {
                if (GetDlgCtrlID(child) == 3807)
                    *reinterpret_cast<HWND*>(found) = child;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&hTree));
        return hTree ? dynamic_cast<CShellTreeCtrl*>(CWnd::FromHandlePermanent(hTree)) : nullptr;
    }
    static HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM hParent, const CString& text) {
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            if (tree.GetItemText(h) == text)
                return h;
        return nullptr;
    }
    // Checks the set's drive folder as a click on its box does.
    void CheckDisk(HWND hWizard) {
        OnGuiThread([&] {
            CShellTreeCtrl* pTree = TreeOf(hWizard);
            ASSERT_NE(pTree, nullptr);
            HTREEITEM hDisk = Child(*pTree, pTree->GetRootItem(), u"Local Disk (T:)");
            ASSERT_NE(hDisk, nullptr);
            pTree->CheckBranch(hDisk, kStateChecked);
            pTree->GetParent()->SendMessage(WM_TREE_CHECK_CHANGED);
        });
    }
    static HWND PageControl(HWND hWizard, int id) {
        std::pair<int, HWND> found{id, nullptr};
        EnumChildWindows(
            hWizard,
            [](HWND child, LPARAM p) -> BOOL {
                auto* f = reinterpret_cast<std::pair<int, HWND>*>(p);
                if (GetDlgCtrlID(child) == f->first && IsWindowVisible(GetParent(child)))
                    f->second = child;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found.second;
    }
    static void WaitAndClickFinish() {
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
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CRestoreCallWnd m_call;
    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CHostWnd m_host;
};

TEST_F(RestoreWizardTest, WithoutBackupsTheWizardDoesNotOpen) {
    AddDrive(u'U');
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    EXPECT_EQ(RestorePage1::GetBackupDrives(), 0u);
    EXPECT_EQ(CBackupWizard::RunInstantRestore(&m_host, nullptr), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"The wizard could not detect any restore sources. To perform restore operation, please back "
                        u"up files first.");
}

TEST_F(RestoreWizardTest, TheSourcePageFollowsDrivesAndSets) {
    const std::string u = AddDrive(u'U');
    MakeSet(u, "anna@pc", "a");
    MakeSet(u, "bert@pc", "b");
    std::filesystem::create_directories(u + "/KovraData/no set here/Disk T");
    const std::string v = AddDrive(u'V');
    MakeSet(v, "carl@pc", "c");
    EXPECT_EQ(RestorePage1::GetBackupDrives(), (1u << (u'U' - u'A')) | (1u << (u'V' - u'A')));
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    CBackupWizard wizard(2, &m_host);
    RestorePage1 source;
    RestorePage2 target;
    wizard.AddPage(&source, 3800);
    wizard.AddPage(&target, 3900);
    wizard.SetTitleId(2308);
    std::thread user([&] {
        HWND hWizard = WaitForWizard();
        ASSERT_NE(hWizard, nullptr);
        OnGuiThread([&] {
            // The last drive shows, with its one set and the set's drive folder.
            ASSERT_EQ(source.GetDriveCombo().GetCount(), 2);
            EXPECT_EQ(source.GetDriveCombo().GetItemData(source.GetDriveCombo().GetCurSel()), DWORD_PTR(u'V' - u'A'));
            ASSERT_EQ(source.GetSetCombo().GetCount(), 1);
            // Next waits for something checked: Next with nothing checked says so and stays.
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hWizard, 12324)));
            EXPECT_EQ(source.OnWizardNext(), -1);
            // The other drive: both sets, sorted, the first shown.
            source.GetDriveCombo().SetCurSel(0);
            source.SendMessage(WM_COMMAND, MAKEWPARAM(3803, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(source.GetDriveCombo().GetSafeHwnd()));
            ASSERT_EQ(source.GetSetCombo().GetCount(), 2);
            CString name;
            source.GetSetCombo().GetLBText(source.GetSetCombo().GetCurSel(), name);
            EXPECT_EQ(name, CString(u"anna@pc"));
            CShellTreeCtrl& tree = source.GetTree();
            EXPECT_NE(Child(tree, tree.GetRootItem(), u"Local Disk (T:)"), nullptr);
        });
        CheckDisk(hWizard);
        OnGuiThread([&] {
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWizard, 12324)));
            // The second set: the tree is filled again and Next waits again.
            source.GetSetCombo().SetCurSel(1);
            source.SendMessage(WM_COMMAND, MAKEWPARAM(3805, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(source.GetSetCombo().GetSafeHwnd()));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hWizard, 12324)));
            CShellTreeCtrl& tree = source.GetTree();
            auto* pData = reinterpret_cast<CShellItemData*>(tree.GetItemData(tree.GetRootItem()));
            ASSERT_NE(pData, nullptr);
            EXPECT_EQ(pData->m_list.GetPath(), CString(u"U:\\KovraData\\bert@pc"));

            // The shown set's folder goes while another set stays: the list loses it and shows the other.
            CItemIDList removed(u"U:\\KovraData\\bert@pc");
            ASSERT_TRUE(removed.IsValid());
            std::filesystem::remove_all(u + "/KovraData/bert@pc");
            wizard.OnShellNotify(SHCNE_RMDIR, removed, nullptr);
            ASSERT_EQ(source.GetSetCombo().GetCount(), 1);
            pData = reinterpret_cast<CShellItemData*>(tree.GetItemData(tree.GetRootItem()));
            ASSERT_NE(pData, nullptr);
            EXPECT_EQ(pData->m_list.GetPath(), CString(u"U:\\KovraData\\anna@pc"));

            // Another drive goes: the shown one stays. The shown one goes: the last one left shows.
            CItemIDList vRoot(u"V:\\");
            platform::fs::RemoveDrive(u'V');
            wizard.OnShellNotify(SHCNE_DRIVEREMOVED, vRoot, nullptr);
            ASSERT_EQ(source.GetDriveCombo().GetCount(), 1);
            EXPECT_EQ(source.GetDriveCombo().GetItemData(source.GetDriveCombo().GetCurSel()), DWORD_PTR(u'U' - u'A'));
            ASSERT_EQ(source.GetSetCombo().GetCount(), 1);
        });
        PostMessageW(hWizard, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(wizard.DoModal(), IDCANCEL);
    user.join();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Please select \"Restore Source\".");
}

TEST_F(RestoreWizardTest, TheTargetPageRefusesAnEmptyFolderAndKeepsTheFilePathWhenAsked) {
    const std::string u = AddDrive(u'U');
    MakeSet(u, "anna@pc", "a");
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDCANCEL;
    });
    CBackupWizard wizard(2, &m_host);
    RestorePage1 source;
    RestorePage2 target;
    wizard.AddPage(&source, 3800);
    wizard.AddPage(&target, 3900);
    wizard.SetTitleId(2308);
    std::thread user([&] {
        HWND hWizard = WaitForWizard();
        ASSERT_NE(hWizard, nullptr);
        CheckDisk(hWizard);
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12324)));
        ASSERT_TRUE(uitest::Eventually([&] { return target.IsCreated() && target.IsWindowVisible(); }));
        OnGuiThread([&] {
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWizard, 12325)));
            // The defaults: the original place, "Display a warning dialog." first in the sorted list.
            EXPECT_EQ(target.GetPathOption(), 1);
            EXPECT_EQ(target.GetCoverOption(), 0);
            CString text;
            target.GetCoverCombo().GetLBText(target.GetCoverCombo().GetCurSel(), text);
            EXPECT_EQ(text, CString(u"Display a warning dialog."));
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(target.GetSafeHwnd(), 3901)));
            // The chosen folder with its path kept, but no folder: the question and no finish.
            target.CheckDlgButton(3953, BST_CHECKED);
            target.SendMessage(WM_COMMAND, MAKEWPARAM(3952, BN_CLICKED), 0);
            EXPECT_EQ(target.GetPathOption(), 3);
            target.SetDlgItemText(3901, u"");
            EXPECT_FALSE(target.OnWizardFinish());
            // A folder that does not exist yet: asked, and Cancel keeps the wizard open.
            target.SetDlgItemText(3901, u"U:\\not yet");
            EXPECT_FALSE(target.OnWizardFinish());
            target.CheckDlgButton(3953, BST_UNCHECKED);
            target.SendMessage(WM_COMMAND, MAKEWPARAM(3953, BN_CLICKED), 0);
            EXPECT_EQ(target.GetPathOption(), 2);
        });
        // Back to page 1 and Next again.
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12323)));
        ASSERT_TRUE(uitest::Eventually([&] { return source.IsWindowVisible() != FALSE; }));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWizard, 12324)));
        PostMessageW(hWizard, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(wizard.DoModal(), IDCANCEL);
    user.join();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], u"Please set the restore location");
    EXPECT_EQ(boxes[1], u"Folder does not exist. Clicking OK will create this folder. Do you want to continue?");
}

// The whole road twice: to the original place, where "Skip this file and continue." leaves a changed file alone;
// then with "Restore all files.", which brings it back as it was backed up.
TEST_F(RestoreWizardTest, AnInstantRestoreBringsTheSetBackAsThePagesSay) {
    const std::string u = AddDrive(u'U');
    const std::string set = platform::Utf16ToUtf8(m_manager.GetSetName().GetString());
    MakeSet(u, set, "alpha");
    m_drive.Write("Data/a.txt", "changed since");
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    for (const int cover : {2, 1}) {
        SCOPED_TRACE(cover);
        std::thread user([&] {
            HWND hWizard = WaitForWizard();
            ASSERT_NE(hWizard, nullptr);
            CheckDisk(hWizard);
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12324)));
            HWND hCombo = nullptr;
            ASSERT_TRUE(uitest::Eventually([&] { return (hCombo = PageControl(hWizard, 3903)) != nullptr; }));
            OnGuiThread([&] {
                auto* pCombo = dynamic_cast<CComboBox*>(CWnd::FromHandlePermanent(hCombo));
                ASSERT_NE(pCombo, nullptr);
                for (int i = 0; i < pCombo->GetCount(); ++i)
                    if (static_cast<int>(pCombo->GetItemData(i)) == cover)
                        pCombo->SetCurSel(i);
                ::SendMessageW(::GetParent(hCombo), WM_COMMAND, MAKEWPARAM(3903, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(hCombo));
            });
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12325)));
            WaitAndClickFinish();
        });
        EXPECT_EQ(CBackupWizard::RunInstantRestore(&m_host, nullptr), 1);
        user.join();
        EXPECT_EQ(m_drive.Read("Data/a.txt"), cover == 2 ? "changed since" : "alpha");
        EXPECT_EQ(m_drive.Read("Data/Sub/b.txt"), "beta");
        EXPECT_TRUE(std::filesystem::is_directory(m_drive.Host("Data/Sub/empty")));
        EXPECT_EQ(theApp.m_strCurrentSelectionFile, RestorePage1::GetSelectionPath());
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find(u"Restore completed"), std::u16string::npos);
    EXPECT_FALSE(m_manager.HasProgressDlg());
}

// A restore to the original place of a set that holds a drive this computer no longer has is refused before it
// starts, on both roads: the wizard stays on its second page, the Restore page stays as it was, and nothing is
// restored, not even the files of the drive that is there.
TEST_F(RestoreWizardTest, BothRoadsRefuseTheOriginalPlaceOfADriveThatIsGone) {
    const std::string u = AddDrive(u'U');
    const std::string set = platform::Utf16ToUtf8(m_manager.GetSetName().GetString());
    MakeSet(u, set, "alpha");
    std::filesystem::create_directories(u + "/KovraData/" + set + "/Disk Q/Gone");
    std::ofstream(u + "/KovraData/" + set + "/Disk Q/Gone/q.txt", std::ios::binary) << "q";
    std::ofstream(u + "/KovraData/" + set + "/RegularFile.ini", std::ios::binary)
        << "[Fonts]\r\nDisk T=Local Disk (T:)\r\nDisk Q=Removable Disk (Q:)\r\n";
    m_drive.Write("Data/a.txt", "changed since");
    std::filesystem::remove_all(m_drive.Host("Data/Sub"));
    std::vector<std::u16string> boxes;
    std::atomic<int> nBoxes{0};
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        ++nBoxes;
        return IDOK;
    });
    const std::vector<std::u16string> checked = {u"Local Disk (T:)", u"Removable Disk (Q:)"};
    auto check = [&](CShellTreeCtrl& tree) {
        for (const auto& text : checked) {
            HTREEITEM h = Child(tree, tree.GetRootItem(), CString(text.c_str()));
            ASSERT_NE(h, nullptr);
            tree.CheckBranch(h, kStateChecked);
        }
        tree.GetParent()->SendMessage(WM_TREE_CHECK_CHANGED);
    };
    const struct {
        const char* road;
        std::function<void()> run;
    } roads[] = {
        {"wizard",
         [&] {
             std::thread user([&] {
                 HWND hWizard = WaitForWizard();
                 ASSERT_NE(hWizard, nullptr);
                 OnGuiThread([&] {
                     CShellTreeCtrl* pTree = TreeOf(hWizard);
                     ASSERT_NE(pTree, nullptr);
                     check(*pTree);
                 });
                 ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12324)));
                 ASSERT_TRUE(uitest::Eventually([&] {
                     const HWND hStart = GetDlgItem(hWizard, 12325);
                     return PageControl(hWizard, 3903) && IsWindowEnabled(hStart) && IsWindowVisible(hStart);
                 }));
                 ASSERT_TRUE(platform::ui::Click(GetDlgItem(hWizard, 12325)));
                 // Refused: the wizard is still there, on its second page.
                 ASSERT_TRUE(uitest::Eventually([&] { return nBoxes.load() > 0; }));
                 EXPECT_TRUE(IsWindow(hWizard));
                 EXPECT_NE(PageControl(hWizard, 3903), nullptr);
                 PostMessageW(hWizard, WM_COMMAND, IDCANCEL, 0);
             });
             EXPECT_EQ(CBackupWizard::RunInstantRestore(&m_host, nullptr), 0);
             user.join();
         }},
        {"Restore page",
         [&] {
             CExpertRestore page;
             ASSERT_TRUE(page.CreatePage(&m_host));
             EXPECT_EQ(page.GetPathOption(), 1);
             check(page.GetTree());
             page.OnStartRestore();
             // The page's count of the checked items ends before the page does.
             EXPECT_TRUE(m_manager.CancelAllJobs(60000));
             page.DestroyWindow();
         }},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        boxes.clear();
        nBoxes = 0;
        // A restore that started anyway would show its progress: it is ended, and the test fails.
        std::atomic<bool> done{false}, started{false};
        std::thread watcher([&] {
            uitest::Eventually(
                [&] {
                    HWND hProgress = FindWindowW(nullptr, u"Instant Restore");
                    if (hProgress && GetDlgItem(hProgress, 806)) {
                        started = true;
                        PostMessageW(hProgress, WM_COMMAND, IDCANCEL, 0);
                    }
                    return done.load();
                },
                std::chrono::seconds(120));
        });
        road.run();
        done = true;
        watcher.join();
        EXPECT_FALSE(started);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], u"The original drive of the restore source (Q:) does not exist on this computer. Please "
                            u"choose \"Restore to selected path\" to restore it into a folder of a drive that exists.");
        EXPECT_EQ(m_drive.Read("Data/a.txt"), "changed since");
        EXPECT_FALSE(std::filesystem::exists(m_drive.Host("Data/Sub")));
    }
    EXPECT_FALSE(m_manager.HasProgressDlg());
}

} // namespace
