// The file filter and one-touch settings dialogs on the program's own templates, used as a user would.
#include "workflows/OneTouchSettingDlg.h"
#include "workflows/SysFilterSettingDlg.h"

#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/registry/registry.h"
#include "platform/ui/controls.h"
#include "platform/ui/listview.h"
#include "platform/ui/ui_test_support.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";

class SettingsDialogsTest : public apptest::MachineTest {
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
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

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
    // A click of the button, handled by the dialog's thread before the call returns.
    static void Press(HWND dlg, int id) { SendMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
    static bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
    static std::vector<std::u16string> Items(HWND dlg) {
        HWND list = GetDlgItem(dlg, 3106);
        std::vector<std::u16string> items;
        for (int i = 0; i < ListView_GetItemCount(list); ++i) {
            WCHAR text[256] = {};
            ListView_GetItemText(list, i, 0, text, 256);
            items.emplace_back(text);
        }
        return items;
    }

    static void WriteString(LPCTSTR key, LPCTSTR name, const std::u16string& value) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(hKey);
    }
    static std::u16string ReadString(LPCTSTR key, LPCTSTR name) {
        HKEY hKey = nullptr;
        WCHAR buffer[8192] = {};
        DWORD size = sizeof buffer - sizeof(WCHAR);
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            RegQueryValueExW(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
            RegCloseKey(hKey);
        }
        return buffer;
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

TEST_F(SettingsDialogsTest, FilterListIsReadSplitEditedAndStoredJoinedByOneTab) {
    WriteString(kRootKey, u"Filter", u"~*.*\t*.txt\t");
    CSysFilterSettingDlg dlg;
    const INT_PTR result = RunWith(dlg, u"Filter Setting", [&](HWND hwnd) {
        EXPECT_EQ(Items(hwnd), (std::vector<std::u16string>{u"*.txt", u"~*.*"}));
        EXPECT_FALSE(Enabled(hwnd, 3105));
        EXPECT_FALSE(Enabled(hwnd, 3107));
        SetDlgItemTextW(hwnd, 3104, u"*.bak");
        EXPECT_TRUE(Enabled(hwnd, 3105));
        Press(hwnd, 3105);
        EXPECT_EQ(Items(hwnd), (std::vector<std::u16string>{u"*.bak", u"*.txt", u"~*.*"}));
        EXPECT_FALSE(Enabled(hwnd, 3105));
        // Selecting an item enables "-", which removes it.
        HWND list = GetDlgItem(hwnd, 3106);
        ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Enabled(hwnd, 3107));
        Press(hwnd, 3107);
        EXPECT_EQ(Items(hwnd), (std::vector<std::u16string>{u"*.bak", u"~*.*"}));
        EXPECT_FALSE(Enabled(hwnd, 3107));
        // The hint: collapsed at the start, shown and hidden again by its button.
        RECT collapsed{}, expanded{};
        GetWindowRect(hwnd, &collapsed);
        Press(hwnd, 3108);
        GetWindowRect(hwnd, &expanded);
        EXPECT_GT(expanded.bottom - expanded.top, collapsed.bottom - collapsed.top);
        WCHAR caption[32] = {};
        GetDlgItemTextW(hwnd, 3108, caption, 32);
        EXPECT_EQ(std::u16string(caption), u"<< Hint");
        Press(hwnd, 3108);
        Press(hwnd, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ReadString(kRootKey, u"Filter"), u"*.bak\t~*.*");
    EXPECT_EQ(std::u16string(dlg.GetFilterText().GetString()), u"*.bak\t~*.*");
    EXPECT_TRUE(dlg.IsStored());
}

TEST_F(SettingsDialogsTest, ALongStoredListIsKeptWholeAndAnEmptyListStoresAnEmptyText) {
    // Longer than the 1023 characters other readers take: the dialog shows and keeps every pattern.
    std::u16string longList;
    for (int i = 0; i < 300; ++i)
        longList += u"*.e" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + std::u16string(3, u'x') +
                    (i < 299 ? u"\t" : u"");
    WriteString(kRootKey, u"Filter", longList);
    CSysFilterSettingDlg keep;
    RunWith(keep, u"Filter Setting", [&](HWND hwnd) {
        EXPECT_EQ(Items(hwnd).size(), 300u);
        Press(hwnd, IDOK);
    });
    EXPECT_EQ(ReadString(kRootKey, u"Filter").size(), longList.size());

    WriteString(kRootKey, u"Filter", u"*.txt");
    CSysFilterSettingDlg empty;
    RunWith(empty, u"Filter Setting", [&](HWND hwnd) {
        ListView_SetItemState(GetDlgItem(hwnd, 3106), 0, LVIS_SELECTED, LVIS_SELECTED);
        Press(hwnd, 3107);
        Press(hwnd, IDOK);
    });
    EXPECT_EQ(ReadString(kRootKey, u"Filter"), u"");
}

TEST_F(SettingsDialogsTest, OneTouchChoiceOpensAsStoredAndTheHiddenScheduleChoiceIsNeverOffered) {
    const CString key = CString(kRootKey) + u"\\Expert\\SystemSetting";
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    const DWORD schedule = 3002;
    RegSetValueExW(hKey, u"OneTouch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&schedule), sizeof schedule);
    RegCloseKey(hKey);

    COneTouchSettingDlg dlg;
    RunWith(dlg, u"One Touch Button Setting", [&](HWND hwnd) {
        EXPECT_EQ(IsDlgButtonChecked(hwnd, 3001), BST_CHECKED);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, 3002)));
        Press(hwnd, 3003);
        EXPECT_EQ(IsDlgButtonChecked(hwnd, 3001), BST_UNCHECKED);
        Press(hwnd, IDOK);
    });
    EXPECT_EQ(COneTouchSettingDlg::ReadOneTouch(), 3003u);

    COneTouchSettingDlg cancelled;
    RunWith(cancelled, u"One Touch Button Setting", [&](HWND hwnd) {
        EXPECT_EQ(IsDlgButtonChecked(hwnd, 3003), BST_CHECKED);
        Press(hwnd, 3001);
        Press(hwnd, IDCANCEL);
    });
    EXPECT_EQ(COneTouchSettingDlg::ReadOneTouch(), 3003u);
}

} // namespace
