#include "storage/SysManDismountDlg.h"

#include "shared/LogicalDrive.h"
#include "storage/SecureDiskUi.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"

#include "app/Utility.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CSysManDismountDlg, CDialog)

namespace {
constexpr int IDC_DISKS = 2702;
constexpr const char16_t* kSource = u"SysManDismountDlg";
} // namespace

BEGIN_MESSAGE_MAP(CSysManDismountDlg, CDialog)
ON_WM_HELPINFO()
END_MESSAGE_MAP()

CSysManDismountDlg::CSysManDismountDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

void CSysManDismountDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DISKS, m_disks);
}

BOOL CSysManDismountDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (CZentraManager* pManager = securedisk::Manager()) {
        const DWORD dwOpened = pManager->GetOpenedSecureDisks();
        for (int i = 0; i < 26; ++i) {
            if (!(dwOpened & (1u << i)))
                continue;
            // The drive monitor's volume names the letter; a letter it does not track yet goes by the disk's name.
            CLogicalDrive* pVolume = pManager->GetLogicalDrive(i);
            CZentraObj* pObject = pManager->GetZentraObj(i);
            const CString strName = pVolume ? pVolume->GetDriveName() : pObject ? pObject->GetDriveName() : CString();
            if (strName.IsEmpty())
                continue;
            const int nItem = m_disks.AddString(strName);
            if (nItem >= 0)
                m_disks.SetItemDataPtr(nItem, pVolume);
        }
    }
    if (m_disks.GetCount() > 0)
        m_disks.SetCurSel(0);
    return TRUE;
}

void CSysManDismountDlg::OnOK() {
    const int nSelected = m_disks.GetCurSel();
    if (nSelected < 0) {
        EndDialog(IDCANCEL);
        return;
    }
    m_disks.GetLBText(nSelected, m_strDrive);
    CZentraManager* pManager = securedisk::Manager();
    const DWORD dwResult = pManager ? pManager->CloseSecureDisk(m_strDrive) : ERROR_INVALID_HANDLE;
    if (dwResult != ERROR_SUCCESS) {
        securedisk::Message(m_hWnd, securedisk::SystemErrorText(dwResult), MB_OK | MB_ICONEXCLAMATION);
        securedisk::Log(securedisk::LoadText(1387, m_strDrive), kSource, __LINE__, 4);
        EndDialog(IDCANCEL);
        return;
    }
    const CString strText = securedisk::LoadText(1386, m_strDrive);
    securedisk::Message(m_hWnd, strText, MB_OK | MB_ICONINFORMATION);
    securedisk::Log(strText, kSource, __LINE__, 1);
    EndDialog(IDOK);
}

BOOL CSysManDismountDlg::OnHelpInfo(HELPINFO*) {
    ShowHelpTopic(IDD);
    return TRUE;
}
