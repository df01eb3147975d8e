#include "storage/ManageSecureDiskDlg.h"

#include "storage/SecureDiskUi.h"
#include "storage/SysChangePasswordDlg.h"
#include "storage/SysManDismountDlg.h"
#include "storage/SysManMountDlg.h"
#include "storage/ZentraManager.h"

#include "app/Utility.h"

#include "platform/afx/ModuleState.h"

IMPLEMENT_DYNAMIC(CManageSecureDiskDlg, CDialog)

namespace {

constexpr int IDC_CHANGE_PASSWORD = 2903;
constexpr int IDC_OPEN = 2905;
constexpr int IDC_CLOSE = 2908;
constexpr int IDC_EXIT = 2910;

constexpr struct {
    int nButton;
    UINT nIcon;
} kButtonIcons[] = {{IDC_OPEN, 545}, {IDC_CHANGE_PASSWORD, 554}, {IDC_CLOSE, 546}};

BOOL AnyOpened() {
    CZentraManager* pManager = securedisk::Manager();
    return pManager && pManager->GetOpenedSecureDisks() != 0;
}

} // namespace

BEGIN_MESSAGE_MAP(CManageSecureDiskDlg, CDialog)
ON_BN_CLICKED(IDC_OPEN, OnOpenSecureDisk)
ON_BN_CLICKED(IDC_CHANGE_PASSWORD, OnChangePassword)
ON_BN_CLICKED(IDC_CLOSE, OnCloseSecureDisk)
ON_BN_CLICKED(IDC_EXIT, OnExit)
ON_WM_HELPINFO()
END_MESSAGE_MAP()

CManageSecureDiskDlg::CManageSecureDiskDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

BOOL CManageSecureDiskDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    for (const auto& button : kButtonIcons) {
        HICON hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(button.nIcon));
        if (hIcon)
            SendDlgItemMessage(button.nButton, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(hIcon));
    }
    return TRUE;
}

void CManageSecureDiskDlg::OnOpenSecureDisk() {
    CZentraManager* pManager = securedisk::Manager();
    if (pManager && pManager->GetOpenableSecureDiskCount() > 0) {
        CSysManMountDlg dlg(this);
        dlg.DoModal();
        return;
    }
    securedisk::Message(m_hWnd, securedisk::LoadText(AnyOpened() ? 5034 : 5017), MB_OK | MB_ICONINFORMATION);
}

void CManageSecureDiskDlg::OnChangePassword() {
    if (!AnyOpened()) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5035), MB_OK | MB_ICONINFORMATION);
        return;
    }
    CSysChangePasswordDlg dlg(this);
    dlg.DoModal();
}

void CManageSecureDiskDlg::OnCloseSecureDisk() {
    if (!AnyOpened()) {
        securedisk::Message(m_hWnd, securedisk::LoadText(5035), MB_OK | MB_ICONINFORMATION);
        return;
    }
    CSysManDismountDlg dlg(this);
    dlg.DoModal();
}

void CManageSecureDiskDlg::OnExit() {
    EndDialog(IDOK);
}

BOOL CManageSecureDiskDlg::OnHelpInfo(HELPINFO*) {
    ShowHelpTopic(IDD);
    return TRUE;
}
