// The event log's dialogs: the log filter, the tips reminder and the log viewer, on the program's own templates.
#include "app/BrannicApp.h"
#include "app/BrannicAppTestSupport.h"
#include "app/LogFilterDlg.h"
#include "app/LogTipsDlg.h"
#include "app/LogViewDlg.h"

#include "app/AppTestSupport.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/input.h"
#include "platform/ui/listview.h"
#include "platform/ui/ui_test_support.h"

#include <functional>
#include <thread>

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";

class LogDialogsTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        platform::ui::SetDeadlockTimeout(120000);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        theApp.Reset();
        theApp.SetRootKey(kRootKey);
    }
    void TearDown() override {
        theApp.SetDebugMode(FALSE);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    // Runs a modal dialog while `user` acts on its window, found by its caption.
    static INT_PTR RunWith(CDialog& dlg, const char16_t* caption, const std::function<void(HWND)>& user) {
        std::thread thread([&] {
            HWND hwnd = nullptr;
            ASSERT_TRUE(uitest::Eventually([&] {
                hwnd = FindWindowW(nullptr, caption);
                return hwnd && IsWindowVisible(hwnd);
            }));
            user(hwnd);
        });
        const INT_PTR result = dlg.DoModal();
        thread.join();
        return result;
    }
    static void Press(HWND dlg, int id) { ASSERT_TRUE(platform::ui::Click(GetDlgItem(dlg, id))); }
    static bool Checked(HWND dlg, int id) { return SendMessageW(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) != 0; }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

DWORD TipsRemind(bool* exists = nullptr) {
    HKEY hKey = nullptr;
    DWORD value = 0xFFFF;
    DWORD size = sizeof value;
    const bool found =
        RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Expert", 0, KEY_READ, &hKey) == ERROR_SUCCESS &&
        RegQueryValueExW(hKey, u"TipsRemind", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS;
    if (hKey)
        RegCloseKey(hKey);
    if (exists)
        *exists = found;
    return value;
}

TEST_F(LogDialogsTest, TheFilterShowsTheMaskAndGivesBackTheChoice) {
    const struct {
        int mask;
        bool allChecked;
        int choose;
        int expected;
    } cases[] = {
        {7, true, 4002, 6},
        {15, true, 4001, 7},
        {6, false, 4001, 7},
        {14, false, 4002, 6},
    };
    for (const auto& c : cases) {
        CLogFilterDlg dlg;
        dlg.SetViewMask(c.mask);
        bool allChecked = false;
        EXPECT_EQ(RunWith(dlg, u"Event Logs",
                          [&](HWND hwnd) {
                              allChecked = Checked(hwnd, 4001);
                              EXPECT_NE(allChecked, Checked(hwnd, 4002));
                              Press(hwnd, c.choose);
                              Press(hwnd, IDOK);
                          }),
                  IDOK);
        EXPECT_EQ(allChecked, c.allChecked) << c.mask;
        EXPECT_EQ(dlg.GetViewMask(), c.expected) << c.mask;
    }
    // Cancel keeps the mask as it was set.
    CLogFilterDlg dlg;
    dlg.SetViewMask(6);
    EXPECT_EQ(RunWith(dlg, u"Event Logs",
                      [&](HWND hwnd) {
                          Press(hwnd, 4001);
                          Press(hwnd, IDCANCEL);
                      }),
              IDCANCEL);
    EXPECT_EQ(dlg.GetViewMask(), 6);
}

TEST_F(LogDialogsTest, TheFilterAddsDebugEntriesInDebugMode) {
    theApp.SetDebugMode(TRUE);
    for (int choose : {4001, 4002}) {
        CLogFilterDlg dlg;
        dlg.SetViewMask(7);
        RunWith(dlg, u"Event Logs", [&](HWND hwnd) {
            Press(hwnd, choose);
            Press(hwnd, IDOK);
        });
        EXPECT_EQ(dlg.GetViewMask(), choose == 4001 ? 15 : 14);
    }
}

TEST_F(LogDialogsTest, TheTipsReminderShowsUntilTheUserTurnsItOff) {
    CExpertModeDlg expert;
    // Without the "Expert" key nothing is shown and the reminder stays.
    EXPECT_EQ(expert.ShowLogTips(), 1);
    bool exists = true;
    TipsRemind(&exists);
    EXPECT_FALSE(exists);

    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Expert", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &hKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
    // Closed without the box: it will remind again.
    std::thread user([] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hwnd = FindWindowW(nullptr, u"Event log tips");
            return hwnd && IsWindowVisible(hwnd);
        }));
        EXPECT_FALSE(SendMessageW(GetDlgItem(hwnd, 1241), BM_GETCHECK, 0, 0));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, IDOK)));
    });
    EXPECT_EQ(expert.ShowLogTips(), 1);
    user.join();
    EXPECT_EQ(TipsRemind(), 1u);

    // "Don't remind me again" turns it off for good.
    std::thread again([] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hwnd = FindWindowW(nullptr, u"Event log tips");
            return hwnd && IsWindowVisible(hwnd);
        }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, 1241)));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, IDOK)));
    });
    EXPECT_EQ(expert.ShowLogTips(), 0);
    again.join();
    EXPECT_EQ(TipsRemind(), 0u);
    EXPECT_EQ(expert.ShowLogTips(), 0);
}

// What the viewer's list shows, read from another thread while the dialog runs.
struct ViewerList {
    int rows = 0;
    int columns = 0;
    std::vector<int> widths;
    std::vector<std::u16string> texts; // column 2 of each row
};

ViewerList ReadViewerList(HWND dlg) {
    ViewerList seen;
    HWND list = GetDlgItem(dlg, 1600);
    seen.rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    seen.columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 0; i < seen.columns; ++i)
        seen.widths.push_back(static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0)));
    for (int row = 0; row < seen.rows; ++row) {
        char16_t text[256] = {};
        LVITEMW item{};
        item.iSubItem = 2;
        item.pszText = text;
        item.cchTextMax = 256;
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        seen.texts.emplace_back(text);
    }
    return seen;
}

// Shows `path` in the viewer, lets `user` act on it, and closes it with OK; what the list showed.
ViewerList View(LPCTSTR path, const std::function<void(HWND)>& user = {}) {
    CLogViewDlg dlg;
    dlg.SetLogPath(path);
    ViewerList seen;
    std::thread thread([&] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            hwnd = FindWindowW(nullptr, u"Log");
            return hwnd && IsWindowVisible(hwnd);
        }));
        seen = ReadViewerList(hwnd);
        if (user)
            user(hwnd);
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, IDOK)));
    });
    dlg.DoModal();
    thread.join();
    return seen;
}

TEST_F(LogDialogsTest, TheViewerShowsTheStoredLogNewestFirstWithoutDebugEntriesAndKeepsTheColumnWidths) {
    {
        CXMLLog log;
        ASSERT_TRUE(CreateDirectoryW(u"T:\\Logs", nullptr));
        log.Init(u"T:\\Logs\\Copy.log", u"T:\\Logs\\~Copy.log", 4096, FALSE);
        log.AddItem(u"first", u"a.cpp", 1, CXMLLog::typeInformation);
        log.AddItem(u"hidden", u"a.cpp", 2, CXMLLog::typeDebug);
        log.AddItem(u"second", u"a.cpp", 3, CXMLLog::typeWarning);
        log.AddItem(u"third", u"a.cpp", 4, CXMLLog::typeError);
        ASSERT_EQ(log.Save(TRUE), 1);
    }
    const ViewerList first =
        View(u"T:\\Logs\\Copy.log", [](HWND dlg) { SendMessageW(GetDlgItem(dlg, 1600), LVM_SETCOLUMNWIDTH, 2, 150); });
    EXPECT_EQ(first.rows, 3);
    EXPECT_EQ(first.texts, (std::vector<std::u16string>{u"third", u"second", u"first"}));
    EXPECT_EQ(first.widths, (std::vector<int>{60, 97, 110}));
    // The user's width is found again; the viewer wrote nothing into the log.
    EXPECT_EQ(View(u"T:\\Logs\\Copy.log").widths, (std::vector<int>{60, 97, 150}));
    EXPECT_EQ(apptest::ReadLogItems(u"T:\\Logs\\Copy.log").size(), 4u);
}

TEST_F(LogDialogsTest, TheViewerOfAMissingFileShowsNothingAndKeepsTheStoredWidths) {
    ASSERT_TRUE(CreateDirectoryW(u"T:\\Logs", nullptr));
    {
        CXMLLog log;
        log.Init(u"T:\\Logs\\Copy.log", u"T:\\Logs\\~Copy.log", 4096, FALSE);
        log.AddItem(u"first", u"a.cpp", 1, CXMLLog::typeInformation);
        ASSERT_EQ(log.Save(TRUE), 1);
    }
    View(u"T:\\Logs\\Copy.log", [](HWND dlg) { SendMessageW(GetDlgItem(dlg, 1600), LVM_SETCOLUMNWIDTH, 0, 80); });
    const ViewerList missing = View(u"T:\\Logs\\Gone.log");
    EXPECT_EQ(missing.rows, 0);
    EXPECT_EQ(missing.columns, 0);
    EXPECT_EQ(GetFileAttributesW(u"T:\\Logs\\Gone.log"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"T:\\Logs\\~Gone.log"), INVALID_FILE_ATTRIBUTES);
    // Closing the empty viewer did not store its missing columns' widths.
    EXPECT_EQ(View(u"T:\\Logs\\Copy.log").widths, (std::vector<int>{80, 97, 110}));
}

} // namespace
