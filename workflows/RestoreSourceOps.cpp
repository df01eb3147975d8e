#include "workflows/RestoreSourceOps.h"

#include "app/BrannicApp.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/BackAgent.h"
#include "engine/ItemIDList.h"
#include "engine/ShellFolderPtr.h"
#include "engine/ShellItemData.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/WinApp.h"
#include "platform/base/strings.h"
#include "platform/fs/volumes.h"
#include "platform/shell/fileinfo.h"
#include "platform/ui/winuser_constants.h"

namespace restoresource {

namespace {

constexpr UINT IDI_NO_DRIVE = 553;

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

DWORD GetBackupDrives() {
    CBrannicApp* pApp = App();
    if (!pApp)
        return 0;
    const DWORD dwPresent = ::GetLogicalDrives();
    DWORD dwDrives = 0;
    for (int i = 0; i < 26; ++i)
        if ((dwPresent & (1u << i)) && pApp->HasBackupData(i))
            dwDrives |= 1u << i;
    return dwDrives;
}

void FillDriveCombo(CComboBox& combo, DWORD dwDrives, TCHAR chSelect) {
    CBrannicApp* pApp = App();
    for (int i = 0; i < 26 && pApp; ++i) {
        if (!(dwDrives & (1u << i)))
            continue;
        CString drive;
        drive.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + i));
        pApp->AddDriveToCombo(&combo, drive, chSelect && towupper_w(chSelect) == _T('A') + i);
    }
    if (combo.GetCurSel() == CB_ERR && combo.GetCount() > 0)
        combo.SetCurSel(combo.GetCount() - 1);
}

CString GetSelectedRoot(CComboBox& combo) {
    CString root;
    CBrannicApp* pApp = App();
    if (!pApp || !pApp->GetSelectedDrive(&combo, root, nullptr, TRUE))
        return CString();
    return root;
}

HICON ShowDriveIcon(CWnd* pParent, int nStaticId, const CString& strRoot, BOOL bLarge, LPCTSTR lpszSource, int nLine) {
    HICON hIcon = nullptr;
    if (!strRoot.IsEmpty()) {
        CItemIDList item(strRoot.GetString());
        SHFILEINFOW info{};
        if (item.IsValid()) {
            if (SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item.Get()), 0, &info, sizeof(info),
                               SHGFI_ICON | SHGFI_PIDL | (bLarge ? 0 : SHGFI_SMALLICON)))
                hIcon = info.hIcon;
        } else if (CBrannicApp* pApp = App()) {
            CString text;
            text.Format(_T("Wrong PIDL, strDrive = %s\n"), strRoot.GetString());
            pApp->Log(text, lpszSource, nLine, 8);
        }
    }
    HICON hShown = hIcon ? hIcon : ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_NO_DRIVE));
    pParent->SendDlgItemMessage(nStaticId, STM_SETICON, reinterpret_cast<WPARAM>(hShown), 0);
    return hIcon;
}

void FillSetCombo(CComboBox& combo, const CString& strRoot) {
    combo.ResetContent();
    if (strRoot.IsEmpty())
        return;
    CString folderPath;
    folderPath.Format(_T("%s%s\\"), strRoot.GetString(), _T("KovraData"));
    CItemIDList folderList(folderPath.GetString());
    if (!folderList.IsValid())
        return;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), folderList.Get());
    if (!folder.IsValid())
        return;
    CEnumIDListPtr list(folder.Get(), nullptr, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!list.IsValid())
        return;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(folderList, child);
        CString path = full.GetPath();
        while (path.Right(1) == _T("\\"))
            path = path.Left(path.GetLength() - 1);
        const CString name = path.Mid(path.ReverseFind(_T('\\')) + 1);
        if (name.Find(_T('@')) >= 0)
            combo.AddString(name);
    }
}

CString GetSetPath(const CString& strRoot, const CString& strName) {
    CString path;
    path.Format(_T("%s%s\\%s"), strRoot.GetString(), _T("KovraData"), strName.GetString());
    return path;
}

CString GetMissingOriginalDrives(CShellTreeCtrl& tree) {
    const DWORD dwPresent = ::GetLogicalDrives();
    CString missing;
    HTREEITEM hRoot = tree.GetRootItem();
    for (HTREEITEM h = hRoot ? tree.GetChildItem(hRoot) : nullptr; h; h = tree.GetNextSiblingItem(h)) {
        auto* pData = reinterpret_cast<CShellItemData*>(tree.GetItemData(h));
        if (!pData || !pData->m_pAgent || tree.GetCheckState(h) == kStateUnchecked ||
            pData->m_pAgent->GetDataFolderName() != _T("RegularFile"))
            continue;
        CString path = pData->m_list.GetPath();
        while (path.Right(1) == _T("\\"))
            path = path.Left(path.GetLength() - 1);
        const CString name = path.Mid(path.ReverseFind(_T('\\')) + 1);
        const int nDisk = name.Find(_T("Disk "));
        if (nDisk < 0 || nDisk + 5 >= name.GetLength())
            continue;
        const TCHAR chLetter = towupper_w(name[nDisk + 5]);
        if (chLetter < _T('A') || chLetter > _T('Z') || (dwPresent & (1u << (chLetter - _T('A')))))
            continue;
        CString drive;
        drive.Format(_T("%c:"), chLetter);
        if (missing.Find(drive) >= 0)
            continue;
        if (!missing.IsEmpty())
            missing += _T(", ");
        missing += drive;
    }
    return missing;
}

CString GetMissingDrivesText(const CString& strDrives) {
    CString text;
    text.Format(_T("The original drive of the restore source (%s) does not exist on this computer. Please choose "
                   "\"Restore to selected path\" to restore it into a folder of a drive that exists."),
                strDrives.GetString());
    return text;
}

} // namespace restoresource
