#include "engine/FileErrorDlg.h"

#include "engine/ActivityNotice.h"

#include "app/BrannicApp.h"
#include "copylib/Brannic.h"

#include "platform/afx/DataExchange.h"
#include "platform/base/errors.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CFileErrorDlg, CDialog)

BEGIN_MESSAGE_MAP(CFileErrorDlg, CDialog)
ON_BN_CLICKED(2201, OnSkip)
ON_BN_CLICKED(2202, OnRetry)
ON_BN_CLICKED(2203, OnAbort)
ON_WM_DESTROY()
END_MESSAGE_MAP()

namespace {

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

CFileErrorDlg::CFileErrorDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

void CFileErrorDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, 2206, m_strMessage);
}

BOOL CFileErrorDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CString text;
    text.LoadString(m_nErrorCode == ERROR_FILE_EXISTS ? 2204 : 2205);
    SetDlgItemText(2202, text);
    if (CBrannicApp* pApp = App())
        pApp->SetCurrentDialog(this);
    TellActivity(kActivityFileError, TRUE);
    return TRUE;
}

void CFileErrorDlg::OnSkip() {
    EndDialog(KOVRA_PROGRESS_SKIP);
}

void CFileErrorDlg::OnRetry() {
    EndDialog(KOVRA_PROGRESS_RETRY);
}

void CFileErrorDlg::OnAbort() {
    EndDialog(KOVRA_PROGRESS_ABORT);
}

// Esc or the close box: the copy stops, as with Abort; a dismissed question never lets the job run on unasked.
void CFileErrorDlg::OnCancel() {
    EndDialog(KOVRA_PROGRESS_ABORT);
}

void CFileErrorDlg::OnDestroy() {
    CWnd* pParent = GetParent();
    if (pParent && pParent->GetSafeHwnd()) {
        pParent->ShowWindow(SW_SHOW);
        if (CBrannicApp* pApp = App())
            pApp->SetCurrentDialog(pParent);
    }
    TellActivity(kActivityFileError, FALSE);
    CDialog::OnDestroy();
}
