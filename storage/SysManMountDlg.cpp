#include "storage/SysManMountDlg.h"

#include "shared/PhysicalDrive.h"
#include "storage/RememberPasswordDlg.h"
#include "storage/SecureDiskUi.h"
#include "storage/SecureSetting.h"
#include "storage/ZentraManager.h"

#include "app/Utility.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CSysManMountDlg, CDialog)

namespace {

constexpr int IDC_PROMPT = 3;
constexpr int IDC_FRAME = 811;
constexpr int IDC_DISKS = 2702;
constexpr int IDC_PASSWORD = 2803;
constexpr int IDC_REMEMBER = 1245;
constexpr int IDC_QUESTION = 1249;
constexpr UINT IDS_PROMPT_EXPAND = 3;
constexpr UINT IDS_PROMPT_COLLAPSE = 1392;
// The most a secure disk's password holds.
constexpr int kMaxPassword = 64;
constexpr const char16_t* kSource = u"SysManMountDlg";

} // namespace

DWORD OpenSecureDiskOnDisk(CPhysicalDrive* pDisk, LPCTSTR lpszPassword, CString& strDrive) {
    CZentraManager* pManager = securedisk::Manager();
    if (!pDisk || !pManager)
        return ERROR_INVALID_PARAMETER;
    const CString strPartition = pDisk->GetSecurePartitionName();
    CDiskDriveMonitor::GetFreeDriveLetter(strDrive);
    DWORD dwResult = ERROR_FILE_NOT_FOUND;
    for (int nCall = 0; nCall < 5; ++nCall) {
        dwResult = pManager->OpenSecureDisk(strDrive, strPartition, lpszPassword, 2);
        if (dwResult != ERROR_FILE_NOT_FOUND && dwResult != ERROR_PATH_NOT_FOUND)
            break;
    }
    if (dwResult != ERROR_SUCCESS)
        securedisk::Log(securedisk::LoadText(1384), kSource, __LINE__, 4);
    else
        securedisk::Log(securedisk::LoadText(1383, strDrive), kSource, __LINE__, 1);
    return dwResult;
}

BEGIN_MESSAGE_MAP(CSysManMountDlg, CDialog)
ON_BN_CLICKED(IDC_PROMPT, OnPasswordPrompt)
ON_BN_CLICKED(IDC_REMEMBER, OnRememberPassword)
ON_WM_HELPINFO()
END_MESSAGE_MAP()

CSysManMountDlg::CSysManMountDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

void CSysManMountDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DISKS, m_disks);
    DDX_Text(pDX, IDC_PASSWORD, m_strPassword);
    DDV_MaxChars(pDX, m_strPassword, kMaxPassword);
    DDX_Check(pDX, IDC_REMEMBER, m_bRemember);
    DDX_Text(pDX, IDC_QUESTION, m_strQuestion);
}

BOOL CSysManMountDlg::OnInitDialog() {
    m_pManager = securedisk::Manager();
    m_bRemember = CSecureSetting::GetSecureSetting() ? 1 : 0;
    CSecureSetting::GetSecureQuestion(m_strQuestion);
    CDialog::OnInitDialog();
    SendDlgItemMessage(IDC_PASSWORD, EM_LIMITTEXT, kMaxPassword, 0);
    if (m_strQuestion.IsEmpty())
        GetDlgItem(IDC_PROMPT)->EnableWindow(FALSE);
    if (m_pManager) {
        const DWORD dwDisks = m_pManager->GetPhysicalDrivesBitmap();
        for (int i = 0; i < 32; ++i) {
            CPhysicalDrive* pDisk = (dwDisks & (1u << i)) ? m_pManager->GetPhysicalDrive(i) : nullptr;
            if (!pDisk || !m_pManager->HasSecurePartition(pDisk))
                continue;
            const int nItem = m_disks.AddString(pDisk->GetDescription());
            if (nItem >= 0)
                m_disks.SetItemDataPtr(nItem, pDisk);
        }
    }
    if (m_disks.GetCount() > 0)
        m_disks.SetCurSel(0);
    Expand(FALSE);
    return TRUE;
}

void CSysManMountDlg::Expand(BOOL bExpand) {
    CWnd* pFrame = GetDlgItem(IDC_FRAME);
    if (!pFrame)
        return;
    RECT dialog{};
    GetWindowRect(&dialog);
    RECT frame{};
    pFrame->GetWindowRect(&frame);
    // The full size is taken once, while the dialog still has it.
    LONG_PTR full = ::GetWindowLongPtrW(pFrame->GetSafeHwnd(), GWLP_USERDATA);
    if (full == 0) {
        full = MAKELONG(dialog.right - dialog.left, dialog.bottom - dialog.top);
        ::SetWindowLongPtrW(pFrame->GetSafeHwnd(), GWLP_USERDATA, full);
    }
    if (bExpand)
        SetWindowPos(nullptr, 0, 0, LOWORD(full), HIWORD(full), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    else
        SetWindowPos(nullptr, 0, 0, frame.right - dialog.left, frame.bottom - dialog.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The controls below the frame are of use only while they show.
    for (CWnd* pChild = GetWindow(GW_CHILD); pChild; pChild = pChild->GetWindow(GW_HWNDNEXT)) {
        if (pChild == pFrame)
            continue;
        RECT child{};
        pChild->GetWindowRect(&child);
        if (child.top >= frame.bottom || child.left >= frame.right)
            pChild->EnableWindow(bExpand);
    }
    if (bExpand)
        SendMessage(DM_REPOSITION);
    SetDlgItemText(IDC_PROMPT, securedisk::LoadText(bExpand ? IDS_PROMPT_COLLAPSE : IDS_PROMPT_EXPAND));
    m_bExpanded = bExpand;
}

void CSysManMountDlg::OnPasswordPrompt() {
    Expand(!m_bExpanded);
}

void CSysManMountDlg::OnRememberPassword() {
    if (!IsDlgButtonChecked(IDC_REMEMBER))
        return;
    CRememberPasswordDlg dlg(this);
    if (dlg.DoModal() != IDOK)
        CheckDlgButton(IDC_REMEMBER, BST_UNCHECKED);
}

void CSysManMountDlg::OnOK() {
    if (!UpdateData(TRUE))
        return;
    const int nSelected = m_disks.GetCurSel();
    if (nSelected < 0)
        return;
    auto* pDisk = static_cast<CPhysicalDrive*>(m_disks.GetItemDataPtr(nSelected));
    const DWORD dwResult = OpenSecureDiskOnDisk(pDisk, m_strPassword, m_strDrive);
    if (dwResult == ERROR_INVALID_PASSWORD) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5016), MB_OK | MB_ICONSTOP);
        m_strPassword.Empty();
        SetDlgItemText(IDC_PASSWORD, u"");
        GetDlgItem(IDC_PASSWORD)->SetFocus();
        return;
    }
    if (dwResult != ERROR_SUCCESS) {
        securedisk::Message(m_hWnd, securedisk::SystemErrorText(dwResult), MB_OK | MB_ICONSTOP);
        EndDialog(IDCANCEL);
        return;
    }
    securedisk::Message(m_hWnd, securedisk::LoadText(1383, m_strDrive), MB_OK | MB_ICONINFORMATION);
    CSecureSetting::SetSecureSetting(m_bRemember, m_bRemember ? static_cast<LPCTSTR>(m_strPassword) : u"");
    EndDialog(IDOK);
}

BOOL CSysManMountDlg::OnHelpInfo(HELPINFO*) {
    ShowHelpTopic(IDD);
    return TRUE;
}
