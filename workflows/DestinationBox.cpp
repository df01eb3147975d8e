#include "workflows/DestinationBox.h"

#include "app/BrannicApp.h"
#include "app/ChartCtrl.h"
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

void CDestinationBox::QuerySpace(LPCTSTR lpszRoot, ULONGLONG& ullTotal, ULONGLONG& ullAvailable,
                                 ULONGLONG& ullTotalFree) {
    ullTotal = ullAvailable = ullTotalFree = 0;
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (::GetDiskFreeSpaceExW(lpszRoot, &available, &total, &totalFree)) {
        ullAvailable = available.QuadPart;
        ullTotal = total.QuadPart;
        ullTotalFree = totalFree.QuadPart;
        return;
    }
    // The cluster counts, where the byte counts cannot be had.
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (::GetDiskFreeSpaceW(lpszRoot, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
        const ULONGLONG cluster = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
        ullTotal = totalClusters * cluster;
        ullAvailable = ullTotalFree = freeClusters * cluster;
    }
}

namespace {

void ShowFigure(CWnd* pPage, ULONGLONG ullValue, int nBytesId, int nNumberId, int nUnitId) {
    CString bytes, number, unit;
    FormatThousands(bytes, static_cast<LONGLONG>(ullValue));
    FormatSizeText(number, unit, ullValue);
    pPage->SetDlgItemText(nBytesId, bytes);
    pPage->SetDlgItemText(nNumberId, number);
    pPage->SetDlgItemText(nUnitId, unit);
}

} // namespace

void CDestinationBox::ShowSpace(CWnd* pPage, LPCTSTR lpszRoot, int nFirstFigureId) {
    ULONGLONG ullTotal = 0, ullFree = 0, ullTotalFree = 0;
    QuerySpace(lpszRoot, ullTotal, ullFree, ullTotalFree);
    const ULONGLONG ullUsed = ullTotal > ullTotalFree ? ullTotal - ullTotalFree : 0;
    ShowFigure(pPage, ullUsed, nFirstFigureId, nFirstFigureId + 1, nFirstFigureId + 2);
    ShowFigure(pPage, ullFree, nFirstFigureId + 3, nFirstFigureId + 4, nFirstFigureId + 5);
}

ULONGLONG CDestinationBox::ShowDriveFigures(CWnd* pPage, CChartCtrl& chart, LPCTSTR lpszRoot, int nFileSystemId,
                                            const int (&rowIds)[3][3]) {
    WCHAR fileSystem[MAX_PATH] = {};
    if (::GetVolumeInformationW(lpszRoot, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH))
        pPage->SetDlgItemText(nFileSystemId, fileSystem);
    else
        pPage->SetDlgItemText(nFileSystemId, _T("Unformated"));
    ULONGLONG ullTotal = 0, ullFree = 0, ullTotalFree = 0;
    QuerySpace(lpszRoot, ullTotal, ullFree, ullTotalFree);
    const ULONGLONG ullUsed = ullTotal > ullTotalFree ? ullTotal - ullTotalFree : 0;
    const ULONGLONG values[] = {ullTotal, ullUsed, ullFree};
    for (int i = 0; i < 3; ++i)
        ShowFigure(pPage, values[i], rowIds[i][0], rowIds[i][1], rowIds[i][2]);
    chart.AddValue(static_cast<double>(ullUsed), _T("Used"), FALSE);
    chart.AddValue(static_cast<double>(ullFree), _T("Free"), FALSE);
    return ullFree;
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
