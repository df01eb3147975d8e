// The Auto-Backup page on real drives, with the real directory monitor: the start refusals, the start that
// synchronises the selection and then mirrors every change (files that match the filter left out) and logs it in
// "ExpertMonitor.log", which the next program start keeps; the service resumed at start and the question at the end
// of the start-up; the service following its destination drive.
#include "workflows/ExpertMonitor.h"

#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/CheckTreeCtrl.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
#include "platform/ui/input.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kMonitorKey = u"Software\\VEVUVUV\\Kovra\\Expert\\Monitor";

class CMonitorHost : public CWnd {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Serves this thread's messages until the condition holds; false when it did not within the deadline.
bool PumpUntil(const std::function<bool()>& condition, int seconds = 60) {
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

class ExpertMonitorTest : public apptest::MachineTest {
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
        ASSERT_TRUE(theApp.SetFilter(u"*.tmp\t"));
        AddDrive(u'U', 0x5555);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 820, 520, nullptr, nullptr));
        m_drive.Write("Data/a.txt", "alpha");
        m_drive.Write("Data/Sub/b.txt", "beta");
        m_drive.Write("Other/c.txt", "not chosen");
        m_set = "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/Disk T/Data";
    }
    void TearDown() override {
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    void AddDrive(WCHAR letter, DWORD serial) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive");
        drive.serial = serial;
        fs::create_directories(drive.hostRoot);
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }
    std::string Dest(const std::string& relative = "") {
        return m_machine.Scratch("Udrive") + "/" + m_set + (relative.empty() ? "" : "/" + relative);
    }
    // Checks T:\Data in a monitor tree and saves the selection where the page reads it.
    void SaveSelection() { SaveSelectionOf(u"Local Disk (T:)", u"Data"); }
    // Checks a folder of a drive (the drive whole when `folder` is empty) and saves the selection.
    void SaveSelectionOf(const std::u16string& driveText, const std::u16string& folder) {
        CShellTreeCtrl tree;
        ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, RECT{0, 0, 400, 500}, &m_host, 77));
        ASSERT_TRUE(tree.InitTree(603, 130, 700, 1200, kTreeMonitor, FALSE));
        ASSERT_EQ(m_manager.FillMonitorTree(&tree), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        HTREEITEM h = nullptr;
        for (HTREEITEM c = tree.GetChildItem(tree.GetRootItem()); c; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemText(c) == CString(driveText.c_str()))
                h = c;
        ASSERT_NE(h, nullptr);
        tree.SelectItem(h);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        HTREEITEM item = folder.empty() ? h : nullptr;
        for (HTREEITEM c = tree.GetChildItem(h); c && !item; c = tree.GetNextSiblingItem(c))
            if (tree.GetItemText(c) == CString(folder.c_str()))
                item = c;
        ASSERT_NE(item, nullptr);
        tree.CheckBranch(item, kStateChecked);
        ASSERT_TRUE(tree.SaveSelecton(u"T:\\program\\Config\\ExpertMonitorBackup.rpr", nullptr));
        tree.DestroyWindow();
    }
    static void Store(LPCTSTR drive, DWORD serial, DWORD running) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kMonitorKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"DestDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(drive),
                       static_cast<DWORD>((std::u16string(drive).size() + 1) * 2));
        RegSetValueExW(hKey, u"DestSerialNo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&serial), 4);
        RegSetValueExW(hKey, u"Running", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&running), 4);
        RegCloseKey(hKey);
    }
    static DWORD Running() {
        DWORD value = 0xFFFFFFFF;
        DWORD size = 4;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kMonitorKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return value;
        RegQueryValueExW(hKey, u"Running", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(hKey);
        return value;
    }
    void Open(CExpertMonitor& page) {
        ASSERT_TRUE(page.CreatePage(&m_host));
        platform::ui::DrainMessages();
    }
    static std::vector<std::u16string> LogTexts() {
        std::vector<std::u16string> texts;
        for (const CXMLLogItem& item : apptest::ReadLogItems(u"T:\\program\\Config\\ExpertMonitor.log"))
            texts.push_back(item.m_strEntry.GetString());
        return texts;
    }
    static bool Has(const std::vector<std::u16string>& texts, const std::u16string& text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CMonitorHost m_host;
    std::string m_set;
};

TEST_F(ExpertMonitorTest, StartingWithNothingCheckedAsksForTheSource) {
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    CExpertMonitor page;
    Open(page);
    page.PostStartup(FALSE);
    page.OnMStartAction(TRUE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Please select \"Auto-Backup Source\".");
    EXPECT_FALSE(page.IsRunning());
    page.DestroyWindow();
}

// Start synchronises the selection; then created, changed, renamed and deleted files are mirrored, a file that
// matches the filter is not, every outcome is in the log, and the log of this run is still there at the next start.
TEST_F(ExpertMonitorTest, StartSynchronisesThenMirrorsEveryChangeAndLogsIt) {
    SaveSelection();
    std::mutex lock;
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        std::lock_guard guard(lock);
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    {
        CExpertMonitor page;
        Open(page);
        page.PostStartup(FALSE);
        page.OnMStartAction(TRUE);
        ASSERT_TRUE(page.IsRunning());
        EXPECT_EQ(Running(), 1u);
        EXPECT_EQ(ReadFile(Dest("a.txt")), "alpha") << "the start synchronised the selection";
        EXPECT_EQ(ReadFile(Dest("Sub/b.txt")), "beta");

        m_drive.Write("Data/new.txt", "new");
        m_drive.Write("Data/a.txt", "alpha, changed");
        m_drive.Write("Data/skip.tmp", "filtered");
        fs::rename(m_drive.Host("Data/Sub/b.txt"), m_drive.Host("Data/Sub/b2.txt"));
        m_drive.Write("Other/d.txt", "not chosen either");
        EXPECT_TRUE(PumpUntil([&] {
            return ReadFile(Dest("new.txt")) == "new" && ReadFile(Dest("a.txt")) == "alpha, changed" &&
                   fs::exists(Dest("Sub/b2.txt")) && !fs::exists(Dest("Sub/b.txt"));
        }));
        fs::remove(m_drive.Host("Data/new.txt"));
        EXPECT_TRUE(PumpUntil([&] { return !fs::exists(Dest("new.txt")); }));
        EXPECT_FALSE(fs::exists(Dest("skip.tmp")));
        EXPECT_FALSE(fs::exists(m_machine.Scratch("Udrive") + "/" + m_set + "/../Other"));

        page.OnMStartAction(TRUE);
        EXPECT_FALSE(page.IsRunning());
        EXPECT_EQ(Running(), 0u);
        page.FlushLog();
        const auto texts = LogTexts();
        EXPECT_TRUE(Has(texts, u"Start Auto-Backup service."));
        EXPECT_TRUE(Has(texts, u"New file T:\\Data\\new.txt successfully."));
        EXPECT_TRUE(Has(texts, u"Modify file T:\\Data\\a.txt successfully."));
        EXPECT_TRUE(Has(texts, u"Rename file T:\\Data\\Sub\\b.txt to T:\\Data\\Sub\\b2.txt successfully."));
        EXPECT_TRUE(Has(texts, u"Remove file T:\\Data\\new.txt successfully."));
        EXPECT_TRUE(Has(texts, u"Stop Auto-Backup service."));
        for (const auto& text : texts)
            EXPECT_EQ(text.find(u"skip.tmp"), std::u16string::npos) << "a filtered file is left alone";
        page.DestroyWindow();
    }
    CExpertMonitor next;
    Open(next);
    EXPECT_TRUE(Has(LogTexts(), u"Stop Auto-Backup service.")) << "the next start keeps the log";
    next.DestroyWindow();
}

// A service left running resumes when the page starts and, asked at the end of the start-up, "No" stops it for
// good; the destination's removal stops it without changing "Running", another drive's does not, and its return
// asks to start again.
TEST_F(ExpertMonitorTest, TheServiceResumesAndFollowsItsDestinationDrive) {
    AddDrive(u'V', 0x7777);
    SaveSelection();
    Store(u"U:", 0x5555, 1);
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    CExpertMonitor page;
    Open(page);
    ASSERT_TRUE(PumpUntil([&] { return page.IsRunning() != FALSE; }));
    EXPECT_FALSE(fs::exists(Dest("a.txt"))) << "no synchronisation before the start-up has ended";
    page.SendMessage(WM_USER + 2000, 3, u'V' - u'A');
    EXPECT_TRUE(page.IsRunning()) << "another drive went away";
    page.SendMessage(WM_USER + 2000, 3, u'U' - u'A');
    platform::ui::DrainMessages();
    EXPECT_FALSE(page.IsRunning());
    EXPECT_EQ(Running(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Auto-Backup service is terminated due to the disappearance of the destination drive!");
    page.SendMessage(WM_USER + 2000, 1, u'U' - u'A');
    platform::ui::DrainMessages();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], u"Auto-Backup destination is detected, do you want to start the Auto-Backup service?");
    EXPECT_FALSE(page.IsRunning());
    page.DestroyWindow();

    boxes.clear();
    CExpertMonitor again;
    Open(again);
    ASSERT_TRUE(PumpUntil([&] { return again.IsRunning() != FALSE; }));
    again.PostStartup(TRUE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Auto-Backup has been configured previously, do you want to run Auto-Backup?");
    EXPECT_FALSE(again.IsRunning());
    EXPECT_EQ(Running(), 0u);
    again.DestroyWindow();
}

} // namespace

namespace {

DWORD LogListMask() {
    DWORD value = 0xFFFFFFFF;
    DWORD size = 4;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMonitorKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return value;
    RegQueryValueExW(hKey, u"LogListMask", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(hKey);
    return value;
}

// The user's part in the "Event Logs" dialog, from a thread of its own while the page waits for the dialog.
std::thread AnswerEventLogs(int choose, int end) {
    return std::thread([choose, end] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hwnd = FindWindowW(nullptr, u"Event Logs");
            return hwnd && IsWindowVisible(hwnd);
        }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, choose)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, end)));
    });
}

} // namespace

// The log's Save As puts a copy of the page's log where the user chose; its Options choose which entries the list
// shows, and the choice is kept under the page's key, a cancelled one not.
TEST_F(ExpertMonitorTest, TheLogIsSavedWhereTheUserChoosesAndItsOptionsAreKept) {
    SaveSelection();
    std::u16string extension;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        if (info.kind == platform::ui::PromptKind::SaveFile) {
            extension = info.defaultExt;
            return platform::ui::PromptReply::Path(u"T:\\saved.log");
        }
        return info.buttons.empty() ? IDCANCEL : info.buttons.back();
    });
    CExpertMonitor page;
    Open(page);
    page.PostStartup(FALSE);
    page.OnMStartAction(TRUE);
    ASSERT_TRUE(page.IsRunning());
    page.OnMStartAction(TRUE);
    ASSERT_FALSE(page.IsRunning());

    page.SendMessage(WM_COMMAND, MAKEWPARAM(1254, BN_CLICKED), 0);
    EXPECT_EQ(extension, u"log");
    std::vector<std::u16string> saved;
    for (const CXMLLogItem& item : apptest::ReadLogItems(u"T:\\saved.log"))
        saved.push_back(item.m_strEntry.GetString());
    EXPECT_TRUE(Has(saved, u"Start Auto-Backup service."));
    EXPECT_TRUE(Has(saved, u"Stop Auto-Backup service."));

    // All entries, then all but one kind: each OK is kept; a Cancel leaves the choice as it was.
    const struct {
        int choose;
        int end;
        DWORD kept;
    } steps[] = {{4001, IDOK, 7}, {4002, IDOK, 6}, {4001, IDCANCEL, 6}};
    for (const auto& step : steps) {
        std::thread user = AnswerEventLogs(step.choose, step.end);
        page.SendMessage(WM_COMMAND, MAKEWPARAM(1253, BN_CLICKED), 0);
        user.join();
        EXPECT_EQ(LogListMask(), step.kept) << step.choose << " " << step.end;
    }
    page.DestroyWindow();
}

// The start is refused with its reason when the selection takes the destination's own backup store, the drive whole
// or its "KovraData" folder; another folder of the destination drive may be chosen.
TEST_F(ExpertMonitorTest, TheStartIsRefusedWhenTheSelectionTakesTheDestinationsBackupStore) {
    const std::u16string refusal = u"Cannot backup the selected file sources (KovraData) to the same drive, it is an "
                                   u"invalid operation, please select another backup destination.";
    fs::create_directories(m_machine.Scratch("Udrive") + "/KovraData");
    fs::create_directories(m_machine.Scratch("Udrive") + "/Photos");
    const struct {
        const char16_t* folder;
        bool refused;
    } cases[] = {{u"", true}, {u"KovraData", true}, {u"Photos", false}};
    for (const auto& c : cases) {
        SaveSelectionOf(u"Local Disk (U:)", c.folder);
        Store(u"U:", 0x5555, 0);
        std::vector<std::u16string> boxes;
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
            boxes.push_back(info.text);
            return info.buttons.back();
        });
        CExpertMonitor page;
        Open(page);
        page.PostStartup(FALSE);
        page.OnMStartAction(TRUE);
        const bool refused = std::find(boxes.begin(), boxes.end(), refusal) != boxes.end();
        EXPECT_EQ(refused, c.refused) << platform::Utf16ToUtf8(c.folder);
        EXPECT_EQ(page.IsRunning() != FALSE, !c.refused) << platform::Utf16ToUtf8(c.folder);
        if (page.IsRunning())
            page.OnMStartAction(TRUE);
        page.DestroyWindow();
    }
}
