#include "storage/ConfigDisk4.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/Rect.h"

IMPLEMENT_DYNAMIC(CConfigDisk4, CWizardPage)

BEGIN_MESSAGE_MAP(CConfigDisk4, CWizardPage)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_LIST = 3603;
constexpr int IDC_NOTE = 3604;
constexpr int IDC_SECURE_TEXT = 3606;
constexpr int IDC_REMEMBER = 1246;
constexpr UINT IDS_WARNING_PUBLIC_ONLY = 3602;
constexpr UINT IDS_WARNING_WITH_SECURE = 3605;
constexpr UINT IDS_COLUMN_DISK = 3607;
constexpr UINT IDS_COLUMN_SPACE = 3608;
constexpr UINT IDS_PUBLIC_DISK = 3609;
constexpr UINT IDS_SECURE_DISK = 3610;
constexpr UINT IDS_SIZE_MB = 3611;

CString LoadText(UINT nId) {
    CString strText;
    strText.LoadString(nId);
    return strText;
}

int TopOf(CWnd* pParent, int nId) {
    CWnd* pWnd = pParent->GetDlgItem(nId);
    if (!pWnd)
        return 0;
    CRect rc;
    pWnd->GetWindowRect(&rc);
    pParent->ScreenToClient(reinterpret_cast<LPPOINT>(&rc.left));
    return rc.top;
}
} // namespace

void CConfigDisk4::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST, m_list);
    DDX_Check(pDX, IDC_REMEMBER, m_bRememberPassword);
}

BOOL CConfigDisk4::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_list.InsertColumn(0, LoadText(IDS_COLUMN_DISK), LVCFMT_LEFT, 130);
    m_list.InsertColumn(1, LoadText(IDS_COLUMN_SPACE), LVCFMT_LEFT, 140);
    m_nNoteGap = TopOf(this, IDC_NOTE) - TopOf(this, IDC_REMEMBER);
    FillSummary();
    return TRUE;
}

void CConfigDisk4::OnSetActive() {
    SetFocus();
}

void CConfigDisk4::FillSummary() {
    if (!GetSafeHwnd())
        return;
    m_list.DeleteAllItems();
    CString strDisk, strSize;
    strDisk.Format(LoadText(IDS_PUBLIC_DISK), static_cast<LPCTSTR>(m_strPublicDrive));
    strSize.Format(LoadText(IDS_SIZE_MB), static_cast<long long>(m_ullPublicMB));
    m_list.InsertItem(0, strDisk);
    m_list.SetItemText(0, 1, strSize);
    CWnd* pRemember = GetDlgItem(IDC_REMEMBER);
    CWnd* pSecureText = GetDlgItem(IDC_SECURE_TEXT);
    CWnd* pNote = GetDlgItem(IDC_NOTE);
    if (m_ullSecureMB) {
        strDisk.Format(LoadText(IDS_SECURE_DISK), static_cast<LPCTSTR>(m_strSecureDrive));
        strSize.Format(LoadText(IDS_SIZE_MB), static_cast<long long>(m_ullSecureMB));
        m_list.InsertItem(1, strDisk);
        m_list.SetItemText(1, 1, strSize);
        if (pRemember)
            pRemember->ShowWindow(SW_SHOW);
        if (pSecureText)
            pSecureText->ShowWindow(SW_SHOW);
        if (pNote && pRemember) {
            CRect rcNote;
            pNote->GetWindowRect(&rcNote);
            ScreenToClient(reinterpret_cast<LPPOINT>(&rcNote.left));
            const int nTop = TopOf(this, IDC_REMEMBER) + m_nNoteGap;
            pNote->SetWindowPos(nullptr, rcNote.left, nTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            pNote->ShowWindow(SW_SHOW);
        }
        return;
    }
    m_bRememberPassword = FALSE;
    CheckDlgButton(IDC_REMEMBER, BST_UNCHECKED);
    if (pRemember)
        pRemember->ShowWindow(SW_HIDE);
    if (pSecureText)
        pSecureText->ShowWindow(SW_HIDE);
    if (pNote)
        pNote->ShowWindow(SW_HIDE);
}

LRESULT CConfigDisk4::OnWizardNext() {
    if (!UpdateData(TRUE))
        return -1;
    const UINT nWarning = m_ullSecureMB ? IDS_WARNING_WITH_SECURE : IDS_WARNING_PUBLIC_ONLY;
    return AfxMessageBox(nWarning, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK ? 0 : -1;
}

LRESULT CConfigDisk4::OnHelpMsg(WPARAM, LPARAM) {
    return GetParent() ? GetParent()->SendMessage(WM_HELP) : 0;
}
