#include "storage/SecureDiskUi.h"

#include "app/BrannicApp.h"

#include "platform/afx/Dialog.h"
#include "platform/base/formatmessage.h"

namespace securedisk {

namespace {

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType) {
    if (CBrannicApp* pApp = App())
        pApp->Log(lpszText, lpszSource, nLine, nType);
}

CString LoadText(UINT nId, LPCTSTR lpszArgument) {
    CString strText;
    strText.LoadString(nId);
    if (lpszArgument && strText.Find(u"%s") >= 0) {
        CString strFormatted;
        strFormatted.Format(strText, lpszArgument);
        return strFormatted;
    }
    return strText;
}

CString SystemErrorText(DWORD dwError) {
    WCHAR buffer[260] = {};
    if (::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0, buffer, 260,
                         nullptr) == 0) {
        CString strText;
        strText.Format(u"Error %u", dwError);
        return strText;
    }
    return CString(buffer);
}

int Message(HWND hOwner, LPCTSTR lpszText, UINT nType) {
    CString strCaption;
    strCaption.LoadString(2304);
    return ::MessageBoxW(hOwner, lpszText, strCaption, nType);
}

CZentraManager* Manager() {
    CBrannicApp* pApp = App();
    return pApp ? pApp->GetZentraManager() : nullptr;
}

} // namespace securedisk
