#include "shared/TrayDialog.h"

#include "shared/TrayDialogApp.h"

#include "platform/afx/WinApp.h"

#include "platform/base/clock.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/message.h"
#include "platform/ui/tray.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT IDD_TRAY_TEST = 9200;
constexpr UINT IDR_TRAY_TEST_MENU = 9201;
constexpr UINT ID_TRAY_TEST_EXIT = 9212;
// The program's tray icons, in the test program's resources.
constexpr UINT kIcons[] = {525, 526, 527};

class CTestTrayDialog : public CTrayDialog {
public:
    explicit CTestTrayDialog(Variant variant) : CTrayDialog(IDD_TRAY_TEST, nullptr, variant) {}

    void OnTrayLButtonDown(CPoint pt) override {
        m_events.push_back("ldown");
        CTrayDialog::OnTrayLButtonDown(pt);
    }
    void OnTrayMouseMove(CPoint pt) override {
        m_events.push_back("move");
        CTrayDialog::OnTrayMouseMove(pt);
    }

    std::vector<std::string> m_events;
};

class TrayDialogTest : public ::testing::Test {
protected:
    TrayDialogTest() { platform::ui::SetDeadlockTimeout(120000); }
    ~TrayDialogTest() override {
        platform::ui::SetMenuHook(nullptr);
        platform::clock::UseRealClock();
    }

    static platform::ui::TrayIcon Icon(HWND hwnd) {
        platform::ui::TrayIcon icon;
        EXPECT_TRUE(platform::ui::FindTrayIcon(hwnd, 1, &icon));
        return icon;
    }

    platform::machine::ScopedTestMachine m_machine;
};

TEST_F(TrayDialogTest, TheIconLivesWithTheWindowAndComesBackAfterTheShellRestarts) {
    CTestTrayDialog dlg(CTrayDialog::Variant::Main);
    dlg.SetTip((u"A tip longer than the tray keeps: " + std::u16string(200, u'x')).c_str());
    ASSERT_NE(dlg.SetIcon(kIcons[0]), nullptr);
    EXPECT_EQ(dlg.SetIcon(4242), nullptr); // no such icon: the previous one stays
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    ASSERT_TRUE(dlg.IsTrayIconAdded());
    platform::ui::TrayIcon icon = Icon(dlg);
    EXPECT_EQ(icon.tip.size(), 127u);
    EXPECT_EQ(icon.callbackMessage, WM_TRAY_NOTIFY);
    EXPECT_NE(icon.icon, nullptr);

    // While the icon is to be shown, removing it is refused and it stays.
    EXPECT_TRUE(dlg.RemoveTrayIcon());
    EXPECT_TRUE(platform::ui::FindTrayIcon(dlg, 1, nullptr));

    // Explorer restarts and forgets every icon: adding again brings it back.
    platform::ui::ResetTray();
    EXPECT_FALSE(platform::ui::FindTrayIcon(dlg, 1, nullptr));
    EXPECT_TRUE(dlg.AddTrayIcon());
    EXPECT_TRUE(platform::ui::FindTrayIcon(dlg, 1, nullptr));

    // Without the show-icon flag the icon can go.
    dlg.SetShowIcon(FALSE);
    EXPECT_FALSE(dlg.AddTrayIcon());
    EXPECT_TRUE(dlg.RemoveTrayIcon());
    EXPECT_FALSE(platform::ui::FindTrayIcon(dlg, 1, nullptr));
    EXPECT_FALSE(dlg.RemoveTrayIcon());
    EXPECT_FALSE(dlg.ModifyTrayIcon());

    dlg.SetShowIcon(TRUE);
    EXPECT_TRUE(dlg.AddTrayIcon());
    dlg.DestroyWindow();
    EXPECT_TRUE(platform::ui::TrayIcons().empty());
}

TEST_F(TrayDialogTest, MouseMessagesReachTheHandlersAndTheRightButtonPopsUpTheMenu) {
    CTestTrayDialog dlg(CTrayDialog::Variant::Main);
    ASSERT_TRUE(dlg.SetTrayMenu(IDR_TRAY_TEST_MENU));
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    int popups = 0;
    UINT flags = 0;
    platform::ui::SetMenuHook([&](HMENU, const platform::ui::MenuHookInfo& info) {
        ++popups;
        flags = info.flags;
        return info.FindCommand(u"Exit");
    });
    // The right button and the keyboard's context-menu key both open the menu; button-up messages and other
    // icons' messages do nothing.
    for (UINT message : {WM_RBUTTONDOWN, WM_CONTEXTMENU, WM_RBUTTONUP, WM_LBUTTONUP})
        ASSERT_TRUE(platform::ui::SendTrayMessage(dlg, 1, message));
    SendMessageW(dlg, WM_TRAY_NOTIFY, 2, WM_RBUTTONDOWN);
    ASSERT_TRUE(platform::ui::SendTrayMessage(dlg, 1, WM_LBUTTONDOWN));
    ASSERT_TRUE(platform::ui::SendTrayMessage(dlg, 1, WM_MOUSEMOVE));
    EXPECT_EQ(popups, 2);
    EXPECT_EQ(flags & (TPM_RIGHTBUTTON | TPM_BOTTOMALIGN), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN);
    EXPECT_EQ(dlg.m_events, (std::vector<std::string>{"ldown", "move"}));
    // The chosen command arrives as WM_COMMAND.
    MSG msg{};
    int exits = 0;
    while (PeekMessageW(&msg, dlg, 0, 0, PM_REMOVE))
        exits += msg.message == WM_COMMAND && LOWORD(msg.wParam) == ID_TRAY_TEST_EXIT;
    EXPECT_EQ(exits, 2);
    dlg.DestroyWindow();
}

TEST_F(TrayDialogTest, AnimationShowsTheIconsInOrderOncePerSecondAndWraps) {
    platform::clock::UseManualClock(platform::clock::Now());
    CTestTrayDialog dlg(CTrayDialog::Variant::Main);
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    EXPECT_FALSE(dlg.StartAnimation()); // no icons yet
    std::vector<HICON> expected;
    for (UINT id : {kIcons[0], kIcons[1], kIcons[2], kIcons[1]}) {
        ASSERT_TRUE(dlg.AddAnimationIcon(id));
        expected.push_back(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)));
    }
    ASSERT_TRUE(dlg.StartAnimation());
    std::vector<HICON> shown;
    int modifications = Icon(dlg).modifications;
    for (int tick = 0; tick < 6; ++tick) {
        platform::clock::Advance(1000);
        platform::ui::DrainMessages();
        const platform::ui::TrayIcon icon = Icon(dlg);
        EXPECT_EQ(icon.modifications, ++modifications);
        shown.push_back(icon.icon);
    }
    // LoadIconW hands out shared icons, so equal ids give equal handles.
    EXPECT_EQ(shown,
              (std::vector<HICON>{expected[0], expected[1], expected[2], expected[3], expected[0], expected[1]}));

    dlg.StopAnimation();
    platform::clock::Advance(3000);
    platform::ui::DrainMessages();
    EXPECT_EQ(Icon(dlg).modifications, modifications);

    // An empty list stops the timer at the next tick.
    ASSERT_TRUE(dlg.StartAnimation());
    dlg.ClearAnimationIcons();
    platform::clock::Advance(2000);
    platform::ui::DrainMessages();
    EXPECT_EQ(Icon(dlg).modifications, modifications);
    dlg.DestroyWindow();
}

// An application that follows the dialog the user works in, as the main program does.
class CTestTrayApp : public CWinApp, public CTrayDialogApp {
public:
    void OnTrayDialogMinimized(CTrayDialog* pDialog) override { minimized.push_back(pDialog); }
    std::vector<CTrayDialog*> minimized;
};

TEST_F(TrayDialogTest, MinimisingGoesToTheTrayAndTellsTheApplication) {
    {
        CTestTrayApp app;
        CTestTrayDialog dlg(CTrayDialog::Variant::Main);
        ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
        dlg.ShowWindow(SW_SHOW);
        dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(dlg.IsIconic());
        EXPECT_EQ(app.minimized, std::vector<CTrayDialog*>{&dlg});

        // Without the tray option the framework minimises it, and the application hears nothing.
        dlg.ShowWindow(SW_RESTORE);
        dlg.SetMinimizeToTray(FALSE);
        dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(dlg.IsIconic());
        EXPECT_EQ(app.minimized.size(), 1u);
        dlg.DestroyWindow();

        // The companion's variant keeps its dialogs to itself.
        CTestTrayDialog companion(CTrayDialog::Variant::Companion);
        ASSERT_TRUE(companion.Create(IDD_TRAY_TEST));
        companion.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_EQ(app.minimized.size(), 1u);
        companion.DestroyWindow();
    }

    // An application that does not follow its dialogs still has them minimised to the tray.
    CWinApp plain;
    CTestTrayDialog dlg(CTrayDialog::Variant::Main);
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    dlg.ShowWindow(SW_SHOW);
    dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(dlg.IsIconic());
    EXPECT_TRUE(dlg.IsTrayIconAdded());
    dlg.DestroyWindow();
}

TEST_F(TrayDialogTest, TheCompanionsDialogStaysHiddenUntilRestored) {
    CTestTrayDialog dlg(CTrayDialog::Variant::Companion);
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    EXPECT_EQ(Icon(dlg).callbackMessage, WM_TRAY_NOTIFY_COMPANION);
    // The main program's callback means nothing to it.
    SendMessageW(dlg, WM_TRAY_NOTIFY, 1, WM_LBUTTONDOWN);
    EXPECT_TRUE(dlg.m_events.empty());

    dlg.ShowWindow(SW_SHOW);
    EXPECT_FALSE(dlg.IsWindowVisible());

    // A double-click restores it; the icon stays while it is to be shown.
    ASSERT_TRUE(platform::ui::SendTrayMessage(dlg, 1, WM_LBUTTONDBLCLK));
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_TRUE(platform::ui::FindTrayIcon(dlg, 1, nullptr));

    // Closing hides it, and it stays hidden.
    dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_NE(dlg.GetSafeHwnd(), nullptr);
    dlg.ShowWindow(SW_SHOW);
    EXPECT_FALSE(dlg.IsWindowVisible());

    // Without the show-icon flag the double-click takes the icon away as it restores the dialog.
    dlg.SetShowIcon(FALSE);
    ASSERT_TRUE(platform::ui::SendTrayMessage(dlg, 1, WM_LBUTTONDBLCLK));
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_FALSE(platform::ui::FindTrayIcon(dlg, 1, nullptr));

    // Adding an icon that is there only reports the show-icon flag, without asking the shell.
    dlg.SetShowIcon(TRUE);
    ASSERT_TRUE(dlg.AddTrayIcon());
    platform::ui::ResetTray();
    EXPECT_TRUE(dlg.AddTrayIcon());
    EXPECT_FALSE(platform::ui::FindTrayIcon(dlg, 1, nullptr));
    dlg.DestroyWindow();
}

} // namespace
