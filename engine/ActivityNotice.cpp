#include "engine/ActivityNotice.h"

#include "app/BrannicApp.h"

#include "platform/afx/Wnd.h"

#include "platform/ui/message.h"
#include "platform/ui/window.h"

// The main menu dialog counts the activities and animates the tray icon (WM_USER+1000: the type, and 1 for a start
// or 0 for an end). Without the application object or its main menu nobody is told.
void TellActivity(int nType, BOOL bOn) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp || !pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        return;
    CWnd* pMain = static_cast<CBrannicApp*>(pApp)->GetMainDlg();
    if (pMain && ::IsWindow(pMain->GetSafeHwnd()))
        ::SendMessageW(pMain->GetSafeHwnd(), WM_USER + 1000, static_cast<WPARAM>(nType), bOn ? 1 : 0);
}
