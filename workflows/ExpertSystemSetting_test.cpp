// The System page on its own template: the one-touch dispatch as the stored action says, and the removal questions
// it answers as the drive manager's owner.
#include "app/AppTestSupport.h"
#include "app/BrannicAppTestSupport.h"
#include "workflows/ExpertSystemSetting.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/registry/registry.h"
#include "platform/testing/eventually.h"
#include "platform/ui/paint.h"
#include "platform/ui/paint.h"
#include "platform/ui/prompt_test_support.h"
#include "platform/ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <vector>

extern CTestBrannicApp theApp;

namespace {

using platform::ui::PromptKind;
constexpr UINT WM_ONE_TOUCH = WM_USER + 1499;
constexpr UINT WM_REPLY = WM_USER + 320;

class ExpertSystemSettingTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        theApp.Reset();
        theApp.SetRootKey(u"Software\\VEVUVUV\\Kovra");
        m_replyHandler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_REPLY)
                replies.push_back(wParam + lParam);
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_reply = uitest::MakeWindow(&m_replyHandler);
        ASSERT_TRUE(m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 0, 0, 640, 400, nullptr, nullptr));
    }
    void TearDown() override {
        m_parent.DestroyWindow();
        DestroyWindow(m_reply);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }
    static void StoreOneTouch(DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Expert\\SystemSetting", 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"OneTouch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
        RegCloseKey(hKey);
    }
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }

    std::vector<WPARAM> replies;
    uitest::Handler m_replyHandler;
    HWND m_reply = nullptr;
    CWnd m_parent;
    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

TEST_F(ExpertSystemSettingTest, TheStoredActionIsReadAsTheDialogStoresIt) {
    const std::vector<std::pair<DWORD, DWORD>> cases = {{3001, 3001}, {3002, 3001}, {3003, 3003}, {77, 3001}};
    for (const auto& [stored, read] : cases) {
        StoreOneTouch(stored);
        CExpertSystemSetting page;
        ASSERT_TRUE(page.CreatePage(&m_parent));
        EXPECT_EQ(page.GetOneTouchAction(), read) << stored;
        page.DestroyWindow();
    }
}

TEST_F(ExpertSystemSettingTest, TheFourButtonsShowTheirPictures) {
    CExpertSystemSetting page;
    ASSERT_TRUE(page.CreatePage(&m_parent));
    page.ShowWindow(SW_SHOW);
    const struct {
        int button;
        UINT icon;
    } buttons[] = {{1407, 505}, {1408, 534}, {1409, 535}, {1410, 533}};
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.button);
        HICON hIcon = ::LoadIconW(m_resources, MAKEINTRESOURCEW(b.icon));
        ASSERT_NE(hIcon, nullptr);
        CWnd* pButton = page.GetDlgItem(b.button);
        ASSERT_NE(pButton, nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(pButton->SendMessage(BM_GETIMAGE, IMAGE_ICON, 0)), hIcon);
        // The picture is drawn where the face would be: its middle is not the button's colour.
        pButton->Invalidate(FALSE);
        pButton->UpdateWindow();
        RECT rc{};
        pButton->GetClientRect(&rc);
        HDC dc = GetDC(pButton->GetSafeHwnd());
        const COLORREF centre = GetPixel(dc, rc.right / 2, rc.bottom / 2);
        ReleaseDC(pButton->GetSafeHwnd(), dc);
        EXPECT_NE(centre, GetSysColor(COLOR_BTNFACE));
    }
    page.DestroyWindow();
}

TEST_F(ExpertSystemSettingTest, ADisabledButtonAsksAndAnswersTheStartThatWaitsWhenTheUserDeclines) {
    StoreOneTouch(3003);
    CExpertSystemSetting page;
    ASSERT_TRUE(page.CreatePage(&m_parent));
    {
        // The question is declined: the press ends with its reply.
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"One touch button is not enabled.", IDCANCEL);
        EXPECT_EQ(page.SendMessage(WM_ONE_TOUCH, reinterpret_cast<WPARAM>(m_reply), WM_REPLY), 0);
        Pump();
        EXPECT_EQ(replies, std::vector<WPARAM>{0});
    }
    // A press without a reply window answers nobody.
    {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"One touch button is not enabled.", IDCANCEL);
        page.OnOneTouch(nullptr, 0);
        Pump();
        EXPECT_EQ(replies.size(), 1u);
    }
    EXPECT_FALSE(page.IsBusy());
    // The page is the owner asked about removals: a disk that is no enclosure disk may go.
    EXPECT_EQ(page.SendMessage(WM_USER + 2000, 4, 7), 0);
    page.DestroyWindow();
}

} // namespace
