#include "workflows/BackupPage2.h"
#include "workflows/DestinationBox.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "app/WizardDialog.h"
#include "engine/ItemIDList.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/handle.h"
#include "platform/fs/volumes.h"
#include "platform/registry/registry.h"
#include "platform/shell/changenotify.h"
#include "platform/shell/fileinfo.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CBackupPage2, CWizardPage)

BEGIN_MESSAGE_MAP(CBackupPage2, CWizardPage)
ON_CBN_SELCHANGE(3302, OnSelChange)
ON_WM_SHOWWINDOW()
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {

constexpr UINT IDI_NO_DRIVE = 553;
// The value texts, emptied together when no drive is shown.
constexpr int kValueIds[] = {3304, 3308, 3312, 3305, 3309, 3313, 3306, 3310, 3314};

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

CBackupPage2::CBackupPage2(CWnd* pParentWnd) : CWizardPage(3300, pParentWnd) {}

CBackupPage2::~CBackupPage2() {
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

CString CBackupPage2::GetSettingsKey() {
    CString key;
    if (CBrannicApp* pApp = App())
        pApp->GetRootKey(key);
    if (!key.IsEmpty() && key[key.GetLength() - 1] != _T('\\'))
        key += _T('\\');
    return key + _T("Express\\Backup");
}

BOOL CBackupPage2::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_chart.SubclassDlgItem(3315, this);
    m_combo.SubclassDlgItem(3302, this);

    WCHAR destDrive[1024] = {};
    DWORD dwSerial = 0;
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetSettingsKey(), 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof(destDrive) - sizeof(WCHAR);
        DWORD type = 0;
        if (RegQueryValueExW(key.get(), _T("DestDrive"), nullptr, &type, reinterpret_cast<BYTE*>(destDrive), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            destDrive[0] = 0;
        size = sizeof(dwSerial);
        if (RegQueryValueExW(key.get(), _T("DestSerialNo"), nullptr, &type, reinterpret_cast<BYTE*>(&dwSerial),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            dwSerial = 0;
    }

    CBrannicApp* pApp = App();
    const DWORD dwDrives = ::GetLogicalDrives();
    for (int i = 0; i < 26 && pApp; ++i) {
        if (!(dwDrives & (1u << i)))
            continue;
        CString drive;
        drive.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + i));
        const DWORD dwDriveSerial = CBrannicApp::GetVolumeSerialNo(drive);
        const BOOL bSelect = dwSerial != 0 && dwDriveSerial != 0 ? dwDriveSerial == dwSerial : drive == destDrive;
        pApp->AddDriveToCombo(&m_combo, drive, bSelect);
    }
    if (m_combo.GetCurSel() == CB_ERR && m_combo.GetCount() > 0)
        m_combo.SetCurSel(m_combo.GetCount() - 1);

    UpdateData(FALSE);
    m_chart.SetBkColor(0xFFFFFF);
    m_chart.SetChartType(CChartCtrl::kDiskUsage);
    m_chart.SetPalette(3);
    UpdateDestination();
    return TRUE;
}

void CBackupPage2::SetDriveIcon(HICON hIcon, BOOL bOwned) {
    SendDlgItemMessage(3301, STM_SETICON, reinterpret_cast<WPARAM>(hIcon), 0);
    if (m_hDriveIcon && m_hDriveIcon != hIcon)
        ::DestroyIcon(m_hDriveIcon);
    m_hDriveIcon = bOwned ? hIcon : nullptr;
}

void CBackupPage2::UpdateDestination() {
    m_chart.RemoveAll();
    CString root;
    CBrannicApp* pApp = App();
    CWizardDialog* pWizard = GetWizard();
    if (pApp && pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE)) {
        ShowDriveInfo(root, TRUE);
        CItemIDList item(root);
        SHFILEINFOW info{};
        HICON hIcon = nullptr;
        if (item.IsValid() &&
            SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item.Get()), 0, &info, sizeof(info), SHGFI_ICON | SHGFI_PIDL))
            hIcon = info.hIcon;
        SetDriveIcon(hIcon, TRUE);
        if (pWizard)
            pWizard->EnableFinish(TRUE);
        return;
    }
    for (int nId : kValueIds)
        SetDlgItemText(nId, _T(""));
    SetDlgItemText(3303, _T(""));
    if (!m_hNoDriveIcon)
        m_hNoDriveIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_NO_DRIVE));
    SetDriveIcon(m_hNoDriveIcon, FALSE);
    m_ullFreeBytes = ~0ull;
    if (pWizard)
        pWizard->EnableFinish(FALSE);
}

void CBackupPage2::ShowDriveInfo(LPCTSTR lpszRoot, BOOL bRedraw) {
    static constexpr int kRows[3][3] = {{3304, 3305, 3306}, {3308, 3309, 3310}, {3312, 3313, 3314}};
    m_ullFreeBytes = CDestinationBox::ShowDriveFigures(this, m_chart, lpszRoot, 3303, kRows);
    if (bRedraw) {
        Invalidate();
        UpdateWindow();
    }
}

void CBackupPage2::OnSelChange() {
    UpdateDestination();
}

void CBackupPage2::OnShowWindow(BOOL bShow, UINT) {
    Default();
    if (!bShow)
        return;
    UpdateDestination();
    SetFocus();
}

LRESULT CBackupPage2::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(3300);
    return TRUE;
}

LRESULT CBackupPage2::OnDriveNotify(LONG lEvent, LPCITEMIDLIST pidl1) {
    const CString path = CItemIDList(pidl1).GetPath();
    if (path.GetLength() < 2 || path[1] != _T(':'))
        return 0;
    CString drive;
    drive.Format(_T("%c:"), path[0]);
    CBrannicApp* pApp = App();
    if (!pApp)
        return 0;
    switch (lEvent) {
    case SHCNE_MEDIAINSERTED:
    case SHCNE_DRIVEADD:
    case SHCNE_NETSHARE:
        if (pApp->AddDriveToCombo(&m_combo, drive, FALSE))
            UpdateDestination();
        break;
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED:
    case SHCNE_NETUNSHARE:
        if (pApp->RemoveDriveFromCombo(&m_combo, drive))
            UpdateDestination();
        break;
    default:
        break;
    }
    return 0;
}

BOOL CBackupPage2::OnWizardFinish() {
    CString drive;
    CBrannicApp* pApp = App();
    if (!pApp || !pApp->GetSelectedDrive(&m_combo, drive, nullptr, FALSE)) {
        // No drive to back up to: the wizard stays open rather than sending the backup to the current drive.
        m_strDestPath.Empty();
        return FALSE;
    }
    drive.MakeUpper();
    const DWORD dwSerial = CBrannicApp::GetVolumeSerialNo(drive);
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetSettingsKey(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key.get(), _T("DestDrive"), 0, REG_SZ, reinterpret_cast<const BYTE*>(drive.GetString()),
                       static_cast<DWORD>((drive.GetLength() + 1) * sizeof(WCHAR)));
        RegSetValueExW(key.get(), _T("DestSerialNo"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSerial),
                       sizeof(dwSerial));
    }
    m_strDestPath = drive;
    if (m_strDestPath.IsEmpty() || m_strDestPath[m_strDestPath.GetLength() - 1] != _T('\\'))
        m_strDestPath += _T('\\');
    return TRUE;
}
