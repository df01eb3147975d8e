#include "storage/ConnectDlg.h"

#include "storage/NasShare.h"
#include "storage/NasWaitCursor.h"

#include "platform/system/sysinfo.h"
#include "platform/ui/controls.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CConnectDlg, CDialog)

namespace {
constexpr int IDC_NAS_SERVER = 1603;
constexpr int IDC_SHARE_LABEL = 1604;
constexpr int IDC_SHARE_NAME = 1605;
constexpr int IDC_USER_NAME = 1607;
constexpr int IDC_PASSWORD = 1609;
constexpr UINT IDS_NAS_LOGON_USER = 7003;

void CopyName(TCHAR (&target)[260], LPCTSTR lpszSource) {
    if (!lpszSource)
        return;
    const size_t n = std::min<size_t>(std::char_traits<TCHAR>::length(lpszSource), 259);
    std::copy(lpszSource, lpszSource + n, target);
    target[n] = 0;
}

bool IsNtPlatform() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
} // namespace

CConnectDlg::CConnectDlg(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszLocalName, LPCTSTR lpszUser,
                         LPCTSTR lpszPassword, CWnd* pParentWnd)
    : CDialog(IDD, pParentWnd), m_strUser(lpszUser ? lpszUser : _T("")),
      m_strPassword(lpszPassword ? lpszPassword : _T("")), m_strLocalName(lpszLocalName ? lpszLocalName : _T("")) {
    CopyName(m_szServer, lpszServer);
    CopyName(m_szShare, lpszShare);
}

BOOL CConnectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_NAS_SERVER, m_szServer);
    if (m_szShare[0]) {
        SetDlgItemText(IDC_SHARE_NAME, m_szShare);
    } else {
        GetDlgItem(IDC_SHARE_LABEL)->ShowWindow(SW_HIDE);
        GetDlgItem(IDC_SHARE_NAME)->ShowWindow(SW_HIDE);
    }
    SetDlgItemText(IDC_USER_NAME, m_strUser);
    SetDlgItemText(IDC_PASSWORD, m_strPassword);
    if (IsNtPlatform())
        return TRUE;
    // Elsewhere the NAS must know the Windows user: the name is that one and cannot be changed.
    WCHAR szUser[256] = {};
    DWORD dwSize = 256;
    if (!GetUserNameW(szUser, &dwSize)) {
        AfxMessageBox(IDS_NAS_LOGON_USER);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    m_strUser = szUser;
    SetDlgItemText(IDC_USER_NAME, m_strUser);
    SendDlgItemMessage(IDC_USER_NAME, EM_SETREADONLY, TRUE);
    return TRUE;
}

void CConnectDlg::OnOK() {
    CNasWaitCursor wait;
    GetDlgItemText(IDC_USER_NAME, m_strUser);
    GetDlgItemText(IDC_PASSWORD, m_strPassword);
    LPCTSTR lpszShare = m_szShare[0] ? m_szShare : nullptr;
    LPCTSTR lpszLocal = m_strLocalName.IsEmpty() ? nullptr : static_cast<LPCTSTR>(m_strLocalName);
    int nAccess = NAS_ACCESS_NONE;
    m_dwResult = AddShareConnection(m_szServer, lpszShare, m_strUser, m_strPassword, lpszLocal, &nAccess);
    // A failed connection counts as made only when the share may be written and the letter asked for really
    // leads there (the share may be reachable through another connection while the letter is not connected).
    if (m_dwResult != ERROR_SUCCESS && nAccess == NAS_ACCESS_READWRITE &&
        (!lpszLocal || IsLetterConnectedTo(lpszLocal, m_szServer, lpszShare))) {
        m_dwResult = ERROR_SUCCESS;
        EndDialog(IDOK);
        return;
    }
    if (lpszShare) {
        DisconnectAll(m_szServer);
        m_dwResult = ConnectShare(m_szServer, lpszShare, m_strUser, m_strPassword, lpszLocal);
    }
    if (m_dwResult != ERROR_SUCCESS) {
        ShowShareError(m_dwResult);
        SetDlgItemText(IDC_USER_NAME, m_strUser);
        SetDlgItemText(IDC_PASSWORD, m_strPassword);
        GotoDlgCtrl(GetDlgItem(IDC_PASSWORD));
        return;
    }
    EndDialog(IDOK);
}
