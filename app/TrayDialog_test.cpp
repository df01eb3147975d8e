// The main program's application object as the tray dialog's application: a dialog minimised to the tray becomes
// the current dialog.
#include "app/BrannicApp.h"

#include "shared/TrayDialog.h"

#include "platform/base/machine.h"
#include "platform/ui/message.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT IDD_TRAY_TEST = 9200;

TEST(BrannicAppTrayTest, MinimisingToTheTrayRecordsTheCurrentDialog) {
    platform::machine::ScopedTestMachine machine;
    auto* pApp = static_cast<CBrannicApp*>(AfxGetApp());
    ASSERT_NE(pApp, nullptr);
    pApp->SetCurrentDialog(nullptr);
    CTrayDialog dlg(IDD_TRAY_TEST);
    ASSERT_TRUE(dlg.Create(IDD_TRAY_TEST));
    dlg.ShowWindow(SW_SHOW);
    dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(dlg.IsIconic());
    EXPECT_EQ(pApp->GetCurrentDialog(), &dlg);

    // Without the tray option the framework minimises it, and nothing is recorded.
    pApp->SetCurrentDialog(nullptr);
    dlg.ShowWindow(SW_RESTORE);
    dlg.SetMinimizeToTray(FALSE);
    dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(dlg.IsIconic());
    EXPECT_EQ(pApp->GetCurrentDialog(), nullptr);
    dlg.DestroyWindow();
}

} // namespace
