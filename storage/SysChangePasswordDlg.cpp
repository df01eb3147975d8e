#include "storage/SysChangePasswordDlg.h"

#include "shared/DiskDriveMonitor.h"
#include "shared/LogicalDrive.h"
#include "storage/RememberPasswordDlg.h"
#include "storage/SecureDiskUi.h"
#include "storage/SecureSetting.h"
#include "storage/ZentraManager.h"

#include "app/Utility.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CSysChangePasswordDlg, CDialog)

namespace {

constexpr int IDC_DISKS = 2602;
constexpr int IDC_OLD_PASSWORD = 2604;
constexpr int IDC_NEW_PASSWORD = 2606;
constexpr int IDC_CONFIRM_PASSWORD = 2608;
constexpr int IDC_REMEMBER = 1247;
constexpr int IDC_QUESTION = 1237;
constexpr UINT WM_DELAYED_INIT = WM_USER + 3379;
constexpr int kMaxText = 64;
constexpr int kMinPassword = 8;
constexpr const char16_t* kSource = u"SysChangePasswordDlg";

} // namespace

BEGIN_MESSAGE_MAP(CSysChangePasswordDlg, CDialog)
ON_WM_DESTROY()
ON_WM_HELPINFO()
ON_EN_SETFOCUS(IDC_OLD_PASSWORD, OnOldPasswordFocus)
ON_EN_SETFOCUS(IDC_NEW_PASSWORD, OnNewPasswordFocus)
ON_EN_SETFOCUS(IDC_CONFIRM_PASSWORD, OnConfirmPasswordFocus)
ON_BN_CLICKED(IDC_REMEMBER, OnRememberPassword)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_DELAYED_INIT, OnDelayedInit)
END_MESSAGE_MAP()

CSysChangePasswordDlg::CSysChangePasswordDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

void CSysChangePasswordDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DISKS, m_disks);
    DDX_Control(pDX, IDC_QUESTION, m_questions);
    DDX_Text(pDX, IDC_OLD_PASSWORD, m_strOldPassword);
    DDV_MaxChars(pDX, m_strOldPassword, kMaxText);
    DDX_Text(pDX, IDC_NEW_PASSWORD, m_strNewPassword);
    DDV_MaxChars(pDX, m_strNewPassword, kMaxText);
    DDX_Text(pDX, IDC_CONFIRM_PASSWORD, m_strConfirmPassword);
    DDV_MaxChars(pDX, m_strConfirmPassword, kMaxText);
    DDX_Check(pDX, IDC_REMEMBER, m_bRemember);
    DDX_CBString(pDX, IDC_QUESTION, m_strQuestion);
    DDV_MaxChars(pDX, m_strQuestion, kMaxText);
}

BOOL CSysChangePasswordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_pManager = securedisk::Manager();
    CSecureSetting::GetSecureQuestion(m_strQuestion, &m_questions);
    if (m_strQuestion.IsEmpty() && m_questions.GetCurSel() >= 0)
        m_questions.GetLBText(m_questions.GetCurSel(), m_strQuestion);
    m_bRemember = CSecureSetting::GetSecureSetting() ? 1 : 0;
    PostMessage(WM_DELAYED_INIT);
    UpdateData(FALSE);
    return TRUE;
}

LRESULT CSysChangePasswordDlg::OnDelayedInit(WPARAM, LPARAM) {
    if (!m_pManager)
        return 0;
    m_bRegistered = m_pManager->RegisterWindow(this, 0);
    const DWORD dwLetters = m_pManager->GetLogicalDrivesBitmap();
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        CLogicalDrive* pVolume = (dwLetters & (1u << i)) ? m_pManager->GetLogicalDrive(i) : nullptr;
        if (!pVolume || !m_pManager->IsSecureVolume(pVolume, FALSE))
            continue;
        const int nItem = m_disks.AddString(pVolume->GetDriveName());
        if (nItem >= 0)
            m_disks.SetItemDataPtr(nItem, pVolume);
    }
    if (m_disks.GetCount() > 0)
        m_disks.SetCurSel(0);
    return 0;
}

void CSysChangePasswordDlg::OnDestroy() {
    if (m_bRegistered && m_pManager)
        m_pManager->UnregisterWindow(this);
    m_bRegistered = FALSE;
    Default();
}

LRESULT CSysChangePasswordDlg::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    if (!m_pManager || lParam < 0 || lParam >= DRIVE_MONITOR_LETTERS)
        return 0;
    CString strName;
    strName.Format(u"%c:", static_cast<int>(u'A' + lParam));
    const int nListed = m_disks.FindStringExact(-1, strName);
    if (wParam == DRIVE_NOTIFY_VOLUME_ADDED) {
        CLogicalDrive* pVolume = m_pManager->GetLogicalDrive(static_cast<int>(lParam));
        if (pVolume && nListed < 0 && m_pManager->IsSecureVolume(pVolume, FALSE)) {
            const int nItem = m_disks.AddString(pVolume->GetDriveName());
            if (nItem >= 0) {
                m_disks.SetItemDataPtr(nItem, pVolume);
                m_disks.SetCurSel(nItem);
            }
        }
    } else if (wParam == DRIVE_NOTIFY_VOLUME_REMOVED && nListed >= 0) {
        m_disks.DeleteString(nListed);
        m_disks.SetCurSel(0);
    }
    return 0;
}

void CSysChangePasswordDlg::OnPasswordFocus(int nID) {
    SendDlgItemMessage(nID, EM_SETSEL, 0, -1);
}

void CSysChangePasswordDlg::OnRememberPassword() {
    if (!IsDlgButtonChecked(IDC_REMEMBER))
        return;
    CRememberPasswordDlg dlg(this);
    if (dlg.DoModal() != IDOK)
        CheckDlgButton(IDC_REMEMBER, BST_UNCHECKED);
}

void CSysChangePasswordDlg::OnOK() {
    if (!UpdateData(TRUE))
        return;
    const int nSelected = m_disks.GetCurSel();
    if (nSelected < 0) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5011), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (m_strOldPassword.GetLength() < kMinPassword || m_strNewPassword.GetLength() < kMinPassword) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5056), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (m_strNewPassword != m_strConfirmPassword) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5012), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    auto* pVolume = static_cast<CLogicalDrive*>(m_disks.GetItemDataPtr(nSelected));
    if (!pVolume || !m_pManager) {
        EndDialog(IDOK);
        return;
    }
    if (!m_pManager->ChangePassword(pVolume->GetDriveName(), m_strOldPassword, m_strNewPassword)) {
        const CString strText = securedisk::LoadText(5013);
        securedisk::Log(strText, kSource, __LINE__, 4);
        securedisk::Message(m_hWnd, strText, MB_OK | MB_ICONSTOP);
        m_strOldPassword.Empty();
        m_strNewPassword.Empty();
        m_strConfirmPassword.Empty();
        UpdateData(FALSE);
        return;
    }
    if (!m_bRemember)
        m_strNewPassword.Empty();
    CSecureSetting::SetSecureSetting(m_bRemember, m_strNewPassword);
    CSecureSetting::SetSecureQuestion(m_strQuestion);
    const CString strText = securedisk::LoadText(1385);
    securedisk::Message(m_hWnd, strText, MB_OK | MB_ICONINFORMATION);
    securedisk::Log(strText, kSource, __LINE__, 1);
    EndDialog(IDOK);
}

BOOL CSysChangePasswordDlg::OnHelpInfo(HELPINFO*) {
    ShowHelpTopic(IDD);
    return TRUE;
}
