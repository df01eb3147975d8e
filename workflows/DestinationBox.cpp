#include "workflows/DestinationBox.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/ItemIDList.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/fs/volumes.h"
#include "platform/shell/fileinfo.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

namespace {

constexpr UINT IDI_NO_DRIVE = 553;

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

HICON DriveIcon(LPCTSTR lpszRoot) {
    CItemIDList item(lpszRoot);
    if (!item.IsValid())
        return nullptr;
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item.Get()), 0, &info, sizeof(info), SHGFI_ICON | SHGFI_PIDL))
        return nullptr;
    return info.hIcon;
}

} // namespace

BOOL CDestinationBox::IsDestination(LPCTSTR lpszDrive, CString& strDestDrive, DWORD dwDestSerial) {
    const DWORD dwSerial = dwDestSerial ? CBrannicApp::GetVolumeSerialNo(lpszDrive) : 0;
    if (dwDestSerial != 0 && dwSerial != 0) {
        if (dwSerial != dwDestSerial)
            return FALSE;
        strDestDrive = lpszDrive;
        return TRUE;
    }
    return strDestDrive.CompareNoCase(lpszDrive) == 0;
}

BOOL CDestinationBox::Fill(CComboBox* pCombo, CString& strDestDrive, DWORD dwDestSerial) {
    CBrannicApp* pApp = App();
    BOOL bFound = FALSE;
    const DWORD dwDrives = ::GetLogicalDrives();
    for (int i = 0; i < 26 && pApp; ++i) {
        if (!(dwDrives & (1u << i)))
            continue;
        CString drive;
        drive.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + i));
        const BOOL bDestination = IsDestination(drive, strDestDrive, dwDestSerial);
        if (pApp->AddDriveToCombo(pCombo, drive, bDestination) && bDestination)
            bFound = TRUE;
    }
    if (pCombo->GetCurSel() == CB_ERR && pCombo->GetCount() > 0)
        pCombo->SetCurSel(pCombo->GetCount() - 1);
    return bFound;
}

int CDestinationBox::SelectedIndex(CComboBox* pCombo) {
    const int nSel = pCombo->GetCurSel();
    if (nSel == CB_ERR)
        return -1;
    return static_cast<int>(pCombo->GetItemData(nSel));
}

void CDestinationBox::Refresh(CWnd* pPage, CComboBox* pCombo, int nIconId, int nFirstFigureId, HICON& hOwnedIcon) {
    CString root;
    CBrannicApp* pApp = App();
    HICON hIcon = nullptr;
    BOOL bOwned = FALSE;
    if (pApp && pApp->GetSelectedDrive(pCombo, root, nullptr, TRUE)) {
        ShowSpace(pPage, root, nFirstFigureId);
        hIcon = DriveIcon(root);
        if (!hIcon)
            hIcon = DriveIcon(_T("C:\\"));
        bOwned = hIcon != nullptr;
    } else {
        for (int i = 0; i < 6; ++i)
            pPage->SetDlgItemText(nFirstFigureId + i, _T(""));
        hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_NO_DRIVE));
    }
    pPage->SendDlgItemMessage(nIconId, STM_SETICON, reinterpret_cast<WPARAM>(hIcon), 0);
    if (hOwnedIcon && hOwnedIcon != hIcon)
        ::DestroyIcon(hOwnedIcon);
    hOwnedIcon = bOwned ? hIcon : nullptr;
}

void CDestinationBox::ShowSpace(CWnd* pPage, LPCTSTR lpszRoot, int nFirstFigureId) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    ULONGLONG ullUsed = 0;
    ULONGLONG ullFree = 0;
    if (::GetDiskFreeSpaceExW(lpszRoot, &available, &total, &totalFree)) {
        ullFree = available.QuadPart;
        ullUsed = total.QuadPart > totalFree.QuadPart ? total.QuadPart - totalFree.QuadPart : 0;
    } else {
        // The cluster counts, where the byte counts cannot be had.
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
        if (::GetDiskFreeSpaceW(lpszRoot, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
            const ULONGLONG cluster = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
            ullFree = freeClusters * cluster;
            ullUsed = totalClusters > freeClusters ? (totalClusters - freeClusters) * cluster : 0;
        }
    }
    const ULONGLONG values[] = {ullUsed, ullFree};
    for (int i = 0; i < 2; ++i) {
        CString bytes, number, unit;
        FormatThousands(bytes, static_cast<LONGLONG>(values[i]));
        FormatSizeText(number, unit, values[i]);
        pPage->SetDlgItemText(nFirstFigureId + 3 * i, bytes);
        pPage->SetDlgItemText(nFirstFigureId + 3 * i + 1, number);
        pPage->SetDlgItemText(nFirstFigureId + 3 * i + 2, unit);
    }
}

void CDestinationBox::OnSpaceChanged(CWnd* pPage, CComboBox* pCombo, int nIndex, int nFirstFigureId) {
    CString root;
    CBrannicApp* pApp = App();
    if (pApp && nIndex == SelectedIndex(pCombo) && pApp->GetSelectedDrive(pCombo, root, nullptr, TRUE))
        ShowSpace(pPage, root, nFirstFigureId);
}

int CDestinationBox::MessageBoxId(CWnd* pPage, UINT nCaptionId, UINT nTextId, UINT nType, LPCTSTR lpszArg1,
                                  LPCTSTR lpszArg2) {
    CString text, caption;
    text.LoadString(nTextId);
    caption.LoadString(nCaptionId);
    if (lpszArg1) {
        CString formatted;
        formatted.Format(text, lpszArg1, lpszArg2 ? lpszArg2 : _T(""));
        text = formatted;
    }
    return ::MessageBoxW(pPage->GetSafeHwnd(), text, caption, nType);
}

BOOL CDestinationBox::CheckStart(CWnd* pPage, UINT nCaptionId, UINT nSourceTextId, CShellTreeCtrl& tree,
                                 CComboBox* pCombo, const CString& strDestDrive, int nIconId, int nFirstFigureId,
                                 HICON& hOwnedIcon, CString& strDrive) {
    if (!tree.HasCheckedItems()) {
        CString source;
        source.LoadString(nSourceTextId);
        MessageBoxId(pPage, nCaptionId, 5018, MB_OK | MB_ICONQUESTION, source);
        return FALSE;
    }
    if (pCombo->GetCount() == 0) {
        MessageBoxId(pPage, nCaptionId, 5027, MB_OK | MB_ICONQUESTION);
        return FALSE;
    }
    CBrannicApp* pApp = App();
    if (!pApp || pCombo->GetCurSel() == CB_ERR || !pApp->GetSelectedDrive(pCombo, strDrive, nullptr, FALSE))
        return FALSE;
    if (!strDestDrive.IsEmpty() && strDestDrive.CompareNoCase(strDrive) != 0 &&
        MessageBoxId(pPage, nCaptionId, 5058, MB_YESNO | MB_ICONINFORMATION, strDestDrive, strDrive) != IDYES) {
        pApp->SelectDriveInCombo(pCombo, strDestDrive);
        Refresh(pPage, pCombo, nIconId, nFirstFigureId, hOwnedIcon);
        return FALSE;
    }
    if (tree.IsBackupStoreSelected(strDrive)) {
        MessageBoxId(pPage, nCaptionId, 5065, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    return TRUE;
}
