// The event log's dialogs: the log filter, the tips reminder and the log viewer, on the program's own templates.
#include "app/BrannicApp.h"
#include "app/BrannicAppTestSupport.h"
#include "app/LogFilterDlg.h"
#include "app/LogTipsDlg.h"

#include "app/AppTestSupport.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
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
        platform::ui::SetDeadlockTimeout(30000);
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

} // namespace
