// The Schedule Backup page on real drives and the real clock: the start refusals, the settings it stores, a daily
// run that the timer delivers late and still runs without asking, the missed run found at start, and the service
// following its destination drive.
#include "workflows/ExpertSchedule.h"

#include "agents/RegularFileAgent.h"
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "engine/BackManager.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/input.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
constexpr LPCTSTR kScheduleKey = u"Software\\VEVUVUV\\Kovra\\Expert\\Schedule";

class CScheduleHost : public CWnd {};

class ExpertScheduleTest : public apptest::MachineTest {
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
        AddDrive(u'U', 0x5555);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 820, 520, nullptr, nullptr));
        m_drive.Write("Data/a.txt", "alpha");
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
        std::filesystem::create_directories(drive.hostRoot);
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }
    std::string ReadDrive(WCHAR letter, const std::string& relative) {
        std::ifstream in(m_machine.Scratch(std::string(1, static_cast<char>(letter)) + "drive") + "/" + relative,
                         std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // Checks T:\Data in a source tree and saves the selection where the page reads it.
    void SaveSelection() {
        CShellTreeCtrl tree;
        ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, RECT{0, 0, 400, 500}, &m_host, 77));
        ASSERT_TRUE(tree.InitTree(603, 130, 700, 1301, kTreeBackup, FALSE));
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
        ASSERT_TRUE(tree.SaveSelecton(u"T:\\program\\Config\\ExpertScheduleBackup.rpr", nullptr));
        tree.DestroyWindow();
    }
    static void SetString(LPCTSTR name, const std::u16string& value) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScheduleKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
        RegCloseKey(hKey);
    }
    static void SetDword(LPCTSTR name, DWORD value) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScheduleKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        RegCloseKey(hKey);
    }
    static std::u16string GetString(LPCTSTR name) {
        WCHAR value[128] = {};
        DWORD size = sizeof(value) - 2;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kScheduleKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return u"<no key>";
        const LONG r = RegQueryValueExW(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(hKey);
        return r == ERROR_SUCCESS ? std::u16string(value) : u"<none>";
    }
    static DWORD GetDword(LPCTSTR name, DWORD missing = 0xFFFFFFFF) {
        DWORD value = missing;
        DWORD size = 4;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kScheduleKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return missing;
        if (RegQueryValueExW(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
            value = missing;
        RegCloseKey(hKey);
        return value;
    }
    static std::u16string Text(const char* format, const CTime& t) {
        CString text;
        if (std::string(format) == "date")
            text.Format(u"%d/%d/%d", t.GetYear(), t.GetMonth(), t.GetDay());
        else if (std::string(format) == "time")
            text.Format(u"%d:%d:%d", t.GetHour(), t.GetMinute(), t.GetSecond());
        else
            text.Format(u"%d/%d/%d %d:%d:%d", t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                        t.GetSecond());
        return text.GetString();
    }

    // Creates the page and lets its deferred initialisation run.
    void Open(CExpertSchedule& page) {
        ASSERT_TRUE(page.CreatePage(&m_host));
        ASSERT_TRUE(uitest::Eventually([&] {
            platform::ui::DrainMessages();
            return page.GetTree().m_hWnd != nullptr;
        }));
        platform::ui::DrainMessages();
    }
    static void Pick(CExpertSchedule& page, int id, const CTime& t) {
        SYSTEMTIME st{};
        ASSERT_TRUE(t.GetAsSystemTime(st));
        ASSERT_TRUE(page.SendDlgItemMessage(id, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st)));
    }
    static void Choose(CExpertSchedule& page, int id) {
        for (int radio : {1350, 1353, 1354})
            page.CheckDlgButton(radio, radio == id ? BST_CHECKED : BST_UNCHECKED);
        page.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(page.GetDlgItem(id)->m_hWnd));
    }
    static void CheckDay(CExpertSchedule& page, int item) {
        LVITEMW lv{};
        lv.stateMask = LVIS_STATEIMAGEMASK;
        lv.state = INDEXTOSTATEIMAGEMASK(2);
        page.SendDlgItemMessage(1314, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
    }
    static void SetRepeat(CExpertSchedule& page, BOOL bRepeat) {
        page.SendDlgItemMessage(1352, BM_SETCHECK, bRepeat ? BST_CHECKED : BST_UNCHECKED, 0);
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CScheduleHost m_host;
};

TEST_F(ExpertScheduleTest, StartRefusalsAndTheSettingsAStartStores) {
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return IDOK;
    });
    {
        CExpertSchedule page;
        Open(page);
        page.OnStartStop(TRUE);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], u"Please select \"Schedule Source\".");
        EXPECT_FALSE(page.IsRunning());
        page.DestroyWindow();
    }
    SaveSelection();
    const CTime now = CTime::GetCurrentTime();
    struct Case {
        const char* name;
        int repeat;       // -1 none, else the radio
        int days[2];      // list rows to check, -1 none
        int secondsAhead; // start from now
        bool valid;
        DWORD storedRepeat;
        DWORD storedMask;
    };
    const Case cases[] = {
        {"once, five seconds ahead", -1, {-1, -1}, 5, false, 0, 0},
        {"weekly without a day", 1354, {-1, -1}, 3600, false, 2, 0},
        {"once, an hour ahead", -1, {-1, -1}, 3600, true, 0, 0},
        {"weekly on Monday and Friday", 1354, {1, 5}, 60, true, 2, 0x22},
        {"monthly on the 31st", 1350, {30, -1}, 60, true, 3, 1u << 30},
        {"daily", 1353, {-1, -1}, -3600, true, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        RegDeleteKeyW(HKEY_CURRENT_USER, kScheduleKey);
        CExpertSchedule page;
        Open(page);
        const CTime start = now + CTimeSpan(0, 0, 0, c.secondsAhead);
        Pick(page, 1312, start);
        Pick(page, 1313, start);
        SetRepeat(page, c.repeat != -1);
        if (c.repeat != -1)
            Choose(page, c.repeat);
        for (int day : c.days)
            if (day >= 0)
                CheckDay(page, day);
        page.OnStartStop(TRUE);
        EXPECT_EQ(page.IsRunning(), c.valid ? TRUE : FALSE);
        if (!c.valid) {
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes[0], u"Incorrect schedule setting.");
            EXPECT_EQ(GetDword(u"Running"), 0xFFFFFFFFu) << "nothing starts";
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(GetString(u"DestDrive"), u"U:");
            EXPECT_EQ(GetDword(u"DestSerialNo"), 0x5555u);
            EXPECT_EQ(GetString(u"StartDate"), Text("date", start));
            EXPECT_EQ(GetString(u"StartTime"), Text("time", start));
            EXPECT_EQ(GetDword(u"Repeat"), c.storedRepeat);
            EXPECT_EQ(GetDword(u"RepeatMask", 0), c.storedMask);
            EXPECT_EQ(GetDword(u"Running"), 1u);
            EXPECT_NE(GetString(u"NextTime"), u"<none>");
            // Stopping by the user writes Running 0.
            page.OnStartStop(TRUE);
            EXPECT_FALSE(page.IsRunning());
            EXPECT_EQ(GetDword(u"Running"), 0u);
        }
        page.DestroyWindow();
    }
}

// A daily run that the page gets to four seconds after its time (its thread was busy) is the timer's own run: it
// runs without the missed-run question, the files land in the set, and "NextTime" moves to tomorrow.
TEST_F(ExpertScheduleTest, ALateRunOfTheTimerRunsWithoutAskingAndNextTimeMovesOn) {
    SaveSelection();
    const CTime due = CTime::GetCurrentTime() + CTimeSpan(0, 0, 0, 2);
    SetString(u"DestDrive", u"U:");
    SetDword(u"DestSerialNo", 0x5555);
    SetString(u"StartDate", Text("date", due - CTimeSpan(3, 0, 0, 0)).c_str());
    SetString(u"StartTime", Text("time", due));
    SetDword(u"Repeat", 1);
    SetDword(u"Running", 1);
    // As the service's last start left it.
    SetString(u"NextTime", Text("full", due));
    std::mutex lock;
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        std::lock_guard guard(lock);
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    CExpertSchedule page;
    Open(page);
    ASSERT_TRUE(page.IsRunning());
    // The page's thread is busy past the due time and three seconds more.
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
    std::thread user([&] {
        HWND hProgress = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                hProgress = FindWindowW(nullptr, u"Schedule Backup");
                WCHAR text[64] = {};
                if (hProgress)
                    GetWindowTextW(GetDlgItem(hProgress, IDCANCEL), text, 64);
                return hProgress && std::u16string(text) == u"Finish";
            },
            std::chrono::seconds(60)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hProgress, IDCANCEL)));
    });
    const bool backedUp = uitest::Eventually([&] {
        platform::ui::DrainMessages();
        return !m_manager.HasProgressDlg() &&
               ReadDrive(u'U', "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) +
                                   "/Disk T/Data/a.txt") == "alpha";
    }, std::chrono::seconds(60));
    user.join();
    ASSERT_TRUE(backedUp);
    {
        std::lock_guard guard(lock);
        for (const auto& text : boxes)
            EXPECT_EQ(text.find(u"not correctly executed"), std::u16string::npos) << "asked as a missed run";
    }
    EXPECT_EQ(GetString(u"NextTime"), Text("full", due + CTimeSpan(1, 0, 0, 0)));
    page.DestroyWindow();
    EXPECT_EQ(GetDword(u"Running"), 1u) << "closing the program leaves the service to resume";
}

// Started an hour after its daily time, the page resumes the service and offers the missed run once; "No" runs
// nothing and "NextTime" holds tomorrow's time, so the next start asks nothing.
TEST_F(ExpertScheduleTest, AMissedRunIsOfferedOnceAtStart) {
    SaveSelection();
    const CTime passed = CTime::GetCurrentTime() - CTimeSpan(0, 1, 0, 0);
    SetString(u"DestDrive", u"U:");
    SetDword(u"DestSerialNo", 0x5555);
    SetString(u"StartDate", Text("date", passed - CTimeSpan(5, 0, 0, 0)));
    SetString(u"StartTime", Text("time", passed));
    SetDword(u"Repeat", 1);
    SetDword(u"Running", 1);
    SetString(u"NextTime", Text("full", passed));
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    for (int start = 0; start < 2; ++start) {
        CExpertSchedule page;
        Open(page);
        EXPECT_TRUE(page.IsRunning());
        page.DestroyWindow();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Kovra has detected the latest schedule backup is not correctly executed. Do you want to run "
                        u"schedule backup now?");
    EXPECT_EQ(GetString(u"NextTime"), Text("full", passed + CTimeSpan(1, 0, 0, 0)));
    EXPECT_FALSE(std::filesystem::exists(m_machine.Scratch("Udrive") + "/KovraData")) << "nothing ran";
}

// The destination going away stops the service (Running stays 1) and says so; another drive going away does not;
// the destination coming back asks to start again.
TEST_F(ExpertScheduleTest, TheServiceFollowsItsDestinationDrive) {
    AddDrive(u'V', 0x7777);
    SaveSelection();
    const CTime ahead = CTime::GetCurrentTime() + CTimeSpan(0, 2, 0, 0);
    SetString(u"DestDrive", u"U:");
    SetDword(u"DestSerialNo", 0x5555);
    SetString(u"StartDate", Text("date", ahead));
    SetString(u"StartTime", Text("time", ahead));
    SetDword(u"Repeat", 1);
    SetDword(u"Running", 1);
    std::vector<std::u16string> boxes;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        boxes.push_back(info.text);
        return info.buttons.back();
    });
    CExpertSchedule page;
    Open(page);
    ASSERT_TRUE(page.IsRunning());
    page.SendMessage(WM_USER + 2000, 3, u'V' - u'A');
    platform::ui::DrainMessages();
    EXPECT_TRUE(page.IsRunning()) << "another drive went away";
    EXPECT_TRUE(boxes.empty());
    page.SendMessage(WM_USER + 2000, 3, u'U' - u'A');
    platform::ui::DrainMessages();
    EXPECT_FALSE(page.IsRunning());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], u"Schedule backup service is terminated due to the disappearance of the destination drive!");
    EXPECT_EQ(GetDword(u"Running"), 1u);
    page.SendMessage(WM_USER + 2000, 1, u'U' - u'A');
    platform::ui::DrainMessages();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], u"Schedule backup destination is detected, do you want to start the schedule backup service?");
    EXPECT_FALSE(page.IsRunning());
    page.DestroyWindow();
}

} // namespace
