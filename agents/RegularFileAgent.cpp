#include "agents/RegularFileAgent.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/WinApp.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/volumes.h"
#include "platform/registry/ini.h"
#include "platform/shell/changenotify.h"

#include <memory>

IMPLEMENT_DYNAMIC(CRegularFileAgent, CBackAgent)

namespace {

CShellItemData* DataOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 0 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

CString PathOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_list.GetPath() : CString();
}

// The drive's root and My Computer's folder and list, for inserting a drive item under the top root.
struct DriveItem {
    CItemIDList list;
    CItemIDList computer;
    CShellFolderPtr folder;
};

bool MakeDriveItem(WCHAR letter, DriveItem& out) {
    CString root;
    root.Format(_T("%c:\\"), letter);
    out.list = CItemIDList(root.GetString());
    if (!out.list.IsValid())
        return false;
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(out.list.GetParentCopy(), CItemIDList::Free);
    out.computer = CItemIDList(parent.get());
    CDesktopFolder desktop;
    out.folder = CShellFolderPtr(desktop.Get(), parent.get());
    return out.folder.IsValid();
}

} // namespace

int CRegularFileAgent::OnRegister() {
    // The plain-file agent is ready as soon as it is registered.
    m_bInitialized = 1;
    return 1;
}

CString CRegularFileAgent::GetDataFolderName() {
    return CString(u"RegularFile");
}

BOOL CRegularFileAgent::IsDriveShown(int nLetterIndex, BOOL bMonitor) const {
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) &&
        static_cast<CBrannicApp*>(pApp)->IsEnclosureVolume(nLetterIndex))
        return FALSE;
    if (bMonitor) {
        CString root;
        root.Format(_T("%c:\\"), static_cast<TCHAR>(_T('A') + nLetterIndex));
        const UINT type = GetDriveTypeW(root);
        if (type == DRIVE_REMOTE || type == DRIVE_CDROM)
            return FALSE;
    }
    return TRUE;
}

int CRegularFileAgent::FillDrives(CShellTreeCtrl* pTree, HTREEITEM hTop, BOOL bMonitor) {
    CShellItemData* pTop = DataOf(pTree, hTop);
    if (!pTop)
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr computer(desktop.Get(), pTop->m_list.Get());
    if (!computer.IsValid())
        return 0;
    const DWORD flags = IsShowHiddenFiles() ? 3 : 1;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(mask & (1u << i)) || !IsDriveShown(i, bMonitor))
            continue;
        DriveItem drive;
        // A drive whose root cannot be reached (no medium) is left out until the shell reports it.
        if (!MakeDriveItem(static_cast<WCHAR>(u'A' + i), drive))
            continue;
        HTREEITEM hItem =
            InsertShellItem(pTree, hTop, TVI_LAST, computer, pTop->m_list, drive.list.GetLastItem(), this, flags);
        if (hItem)
            pTree->EnsureVisible(hItem);
    }
    int expected = 0;
    if (pTree->GetLoadCount(&expected) > 0)
        CBackManager::SortChildren(pTree, hTop);
    pTree->SetLoadCount(1, 1);
    return 1;
}

int CRegularFileAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    return FillDrives(pTree, hTop, FALSE);
}

int CRegularFileAgent::FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    return FillDrives(pTree, hTop, TRUE);
}

int CRegularFileAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return InsertChildren(pTree, hItem, FALSE);
}

int CRegularFileAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    return InsertChildren(pTree, hItem, TRUE);
}

int CRegularFileAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) {
    CShellItemData* pRoot = DataOf(pTree, hTop);
    if (!pRoot)
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pRoot->m_list.Get());
    if (!folder.IsValid())
        return 0;
    const CString setPath(lpszSetPath ? lpszSetPath : _T(""));
    CString ini;
    ini.Format(setPath.Right(1) == _T("\\") ? _T("%s%s") : _T("%s\\%s"), setPath.GetString(), _T("RegularFile.ini"));
    CEnumIDListPtr list(folder.Get(), pTree->GetSafeHwnd(), SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!list.IsValid())
        return 0;
    const CItemIDList rootList(pRoot->m_list);
    int inserted = 0;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(rootList, child);
        const CString path = WithoutTrailingBackslash(full.GetPath());
        const CString name = path.Mid(path.ReverseFind(_T('\\')) + 1);
        // The other agents' folders of the set are theirs.
        if (name.Find(_T("Disk ")) < 0)
            continue;
        // The drive's own icons while it is there, else those of C:.
        CString driveRoot;
        driveRoot.Format(_T("%s:\\"), name.Right(1).GetString());
        CItemIDList drive(driveRoot.GetString());
        if (!drive.IsValid())
            drive = CItemIDList(_T("C:\\"));
        const int image = drive.GetIconIndex(SHGFI_SMALLICON);
        const int openImage = drive.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON);
        WCHAR value[2048] = {};
        GetPrivateProfileStringW(_T("Fonts"), name, _T(""), value, 2048, ini);
        CString text(value);
        if (text.IsEmpty())
            text.Format(_T("%s"), name.GetString());
        HTREEITEM hItem =
            InsertShellItemEx(pTree, hTop, folder, rootList, child, this, pRoot->m_dwFlags, image, text);
        if (!hItem)
            continue;
        if (!(pTree->GetCallbackFlags() & 0x22))
            pTree->SetItemImage(hItem, image, openImage);
        pTree->EnsureVisible(hItem);
        ++inserted;
    }
    if (inserted)
        CBackManager::SortChildren(pTree, hTop);
    pTree->SetLoadCount(1, 1);
    return 1;
}

int CRegularFileAgent::InsertChildren(CShellTreeCtrl* pTree, HTREEITEM hItem, BOOL bRestore) {
    if (!pTree || !hItem || hItem == TVI_ROOT || hItem == pTree->GetRootItem())
        return bRestore && hItem == pTree->GetRootItem() ? 1 : 0;
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent())
        return 0;
    pTree->SetLoadCount(0, 0);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pData->m_list.Get());
    if (!folder.IsValid())
        return 0;
    DWORD flags = SHCONTF_FOLDERS;
    if (pData->m_dwFlags & 0x01)
        flags |= SHCONTF_NONFOLDERS;
    if (pData->m_dwFlags & 0x02)
        flags |= SHCONTF_INCLUDEHIDDEN;
    CEnumIDListPtr list(folder.Get(), pTree->GetSafeHwnd(), flags);
    if (!list.IsValid())
        return 0;
    const CItemIDList parentList(pData->m_list);
    const CString parentPath = pData->m_list.GetPath();
    const DWORD childFlags = pData->m_dwFlags & 0x0F;
    CBackAgent* const agent = pData->m_pAgent;
    const bool belowDrive = pTree->GetDistance(pTree->GetRootItem(), hItem) == 1;
    int inserted = 0;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        LPCITEMIDLIST one = child.Get();
        SFGAOF attributes = SFGAO_FOLDER;
        folder->GetAttributesOf(1, &one, &attributes);
        const bool isFolder = (attributes & SFGAO_FOLDER) != 0;
        CItemIDList full;
        full.Combine(parentList, child);
        if (isFolder && belowDrive) {
            CString name = WithoutTrailingBackslash(full.GetPath());
            name = name.Mid(name.ReverseFind(_T('\\')) + 1);
            if (name.CompareNoCase(_T("RECYCLER")) == 0)
                continue;
        }
        if (!isFolder && pTree->IsFilteredItem(full))
            continue;
        // The children belong to the parent's agent: naming it spares each child a look at the parent's data.
        if (InsertShellItem(pTree, hItem, TVI_LAST, folder, parentList, child, agent, childFlags)) {
            pTree->AddLoadCount(1);
            ++inserted;
        }
    }
    int result = 1;
    if (inserted == 0)
        result = parentPath.GetLength() <= 3 ? 0 : 1;
    else
        CBackManager::SortChildren(pTree, hItem);
    pTree->SetLoadCount(1, 1);
    return result;
}

int CRegularFileAgent::PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                                     int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (dwFlags & 0x20)
        WriteDriveName(pTree, hRoot, lpszSetPath);
    return 0;
}

int CRegularFileAgent::WriteDriveName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetPath) {
    const CString setFolder = WithoutTrailingBackslash(lpszSetPath ? lpszSetPath : _T(""));
    const CString path = PathOf(pTree, hItem);
    if (setFolder.IsEmpty() || path.IsEmpty() || !MakeDirectoryPath(setFolder))
        return 0;
    CString key, ini;
    key.Format(_T("%s%c"), _T("Disk "), path[0]);
    ini.Format(_T("%s\\%s"), setFolder.GetString(), _T("RegularFile.ini"));
    if (!WritePrivateProfileStringW(_T("Fonts"), key, pTree->GetItemText(hItem), ini)) {
        CBackManager::LogDebug(_T("%s, %d: WritePrivateProfileString failed.%s"), u"" __FILE__, __LINE__, _T(""));
        return 0;
    }
    return 1;
}

int CRegularFileAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    TCHAR type = 0;
    return GetItemName(pTree, hItem, strLabel, type);
}

int CRegularFileAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    strName.Empty();
    chType = 0;
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent())
        return 0;
    const CString path = WithoutTrailingBackslash(pData->m_list.GetPath());
    const int slash = path.ReverseFind(_T('\\'));
    strName = slash < 0 ? path : path.Mid(slash + 1);
    if (pTree->GetTreeType() == kTreeRestore && pTree->GetParentItem(hItem) == pTree->GetRootItem())
        strName += _T(":");
    chType = pData->m_list.IsFolder() ? _T('D') : _T('F');
    return 1;
}

int CRegularFileAgent::HasShellContextMenu(CShellTreeCtrl*, HTREEITEM) {
    return 1;
}

CShellFolderPtr CRegularFileAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData && pData->HasAgent() ? pData->m_folder : CShellFolderPtr();
}

LPITEMIDLIST CRegularFileAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_list.Get() : nullptr;
}

int CRegularFileAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return NodeAnswerByState(pTree, hItem, PathOf(pTree, hItem), lpszPath, cbBuffer);
}

int CRegularFileAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int CRegularFileAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                     LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !lpszDest)
        return kPathSkip;
    const CString source(lpszSource);
    const int colon = source.Find(_T(':'));
    // A network path has no drive: its node is left out.
    if (colon < 1)
        return kPathSkip;
    const TCHAR letter = towupper_w(source[colon - 1]);
    CString destination(lpszDest);
    if (destination.Left(4) == _T("\\\\?\\"))
        destination = destination.Mid(4);
    destination = WithoutTrailingBackslash(destination);
    CString result;
    result.Format(_T("\\\\?\\%s\\%s\\%s\\%s%c%s"), destination.GetString(), _T("KovraData"),
                  lpszSetName ? lpszSetName : _T(""), _T("Disk "), letter, source.Mid(colon + 1).GetString());
    if (result.GetLength() + 1 > cbBuffer / 2) {
        CBackManager::LogDebug(_T("%s, %d: %s is too long to over buffer."), u"" __FILE__, __LINE__, result);
        return kPathSkip;
    }
    lstrcpynW(lpszDest, result, cbBuffer / 2);
    return kPathMapped;
}

int CRegularFileAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder,
                                      LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (nPathOption < 1 || nPathOption > 3 || !lpszSource || !lpszDest)
        return kPathSkip;
    const CString destFolder(lpszDestFolder ? lpszDestFolder : _T(""));
    if (nPathOption != 1 && destFolder.IsEmpty())
        return kPathSkip;
    CString path(lpszSource);
    if (path.Right(1) == _T("\\"))
        path = path.Left(path.GetLength() - 1);
    // The drive folder of the set: the first "Disk " behind the backslash that ends the set folder, so that a user
    // or computer name holding "Disk " itself does not mislead the search.
    auto driveFolder = [&]() -> int {
        const int colon = path.Find(_T(':'));
        if (colon < 0)
            return -1;
        int slash = colon;
        for (int i = 0; i < 3 && slash >= 0; ++i)
            slash = path.Find(_T('\\'), slash + 1);
        return slash < 0 ? -1 : path.Find(_T("Disk "), slash);
    };
    CString result;
    if (nPathOption == 1) {
        const int disk = driveFolder();
        if (disk < 0 || disk + 5 >= path.GetLength())
            return kPathSkip;
        const TCHAR letter = towupper_w(path[disk + 5]);
        // Only a drive letter leads back to a drive.
        if (letter < _T('A') || letter > _T('Z'))
            return kPathSkip;
        result.Format(_T("%c:%s"), letter, path.Mid(disk + 6).GetString());
    } else if (nPathOption == 2) {
        CString plain = path;
        const int prefix = plain.Find(_T("\\\\?\\"));
        if (prefix >= 0)
            plain = plain.Mid(prefix + 4);
        const CItemIDList item(plain.GetString());
        if (!item.IsValid() || item.IsFolder())
            result = destFolder;
        else
            result.Format(destFolder.Right(1) == _T("\\") ? _T("%s%s") : _T("%s\\%s"), destFolder.GetString(),
                          plain.Mid(plain.ReverseFind(_T('\\')) + 1).GetString());
    } else {
        CString folder = destFolder;
        if (folder.Right(1) != _T("\\"))
            folder += _T("\\");
        const int disk = driveFolder();
        if (disk < 0)
            return kPathSkip;
        result.Format(_T("%s%s"), folder.GetString(), path.Mid(disk).GetString());
    }
    if (result.Left(4) == _T("\\\\?\\"))
        result = result.Mid(4);
    result = _T("\\\\?\\") + result;
    if (result.GetLength() + 1 > cbBuffer / 2) {
        CBackManager::LogDebug(_T("%s, %d: %s is too long to over buffer."), u"" __FILE__, __LINE__, result);
        return kPathSkip;
    }
    lstrcpynW(lpszDest, result, cbBuffer / 2);
    return kPathMapped;
}

int CRegularFileAgent::HasBackupData(TCHAR chDrive) {
    CString pattern;
    pattern.Format(_T("%c:\\%s\\*.*"), chDrive, _T("KovraData"));
    WIN32_FIND_DATAW set{};
    HANDLE sets = FindFirstFileW(pattern, &set);
    if (sets == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        const CString name(set.cFileName);
        if (!(set.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == _T(".") || name == _T(".."))
            continue;
        CString disks;
        disks.Format(_T("%c:\\%s\\%s\\%s*"), chDrive, _T("KovraData"), name.GetString(), _T("Disk "));
        WIN32_FIND_DATAW disk{};
        HANDLE each = FindFirstFileW(disks, &disk);
        if (each == INVALID_HANDLE_VALUE)
            continue;
        // Every "Disk *" name counts, not only the first: a file of that name does not hide the folders.
        do {
            if (disk.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                found = 1;
        } while (!found && FindNextFileW(each, &disk));
        FindClose(each);
    } while (!found && FindNextFileW(sets, &set));
    FindClose(sets);
    return found;
}

int CRegularFileAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot,
                                           LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild,
                                           UINT* pnChildState) {
    auto out = [&](HTREEITEM h, HTREEITEM* where, UINT* state) {
        if (where)
            *where = h;
        if (state)
            *state = h ? pTree->GetCheckState(h) : 0;
    };
    out(hStart, phItem, pnState);
    out(nullptr, phChild, pnChildState);
    if (!pTree || !hStart || !lpszPath)
        return kPathNotInTree;
    const CString path = WithoutTrailingBackslash(lpszPath);
    const CString root = WithoutTrailingBackslash(PathOf(pTree, hStart));
    if (path.IsEmpty() || root.IsEmpty() || towupper_w(path[0]) != towupper_w(root[0]))
        return kPathNotInTree;
    if (lpszSetRoot) {
        // In a restore tree only the set's "Disk " folders and what lies below them are this agent's.
        const CString setRoot = WithoutTrailingBackslash(lpszSetRoot);
        CString marker;
        marker.Format(_T("%s\\%s"), setRoot.GetString(), _T("Disk "));
        if (path.GetLength() <= marker.GetLength() || path.Left(marker.GetLength()).CompareNoCase(marker) != 0)
            return kPathOutsideAgent;
        const int end = path.Find(_T('\\'), setRoot.GetLength() + 1);
        const CString folder = end < 0 ? path.Mid(setRoot.GetLength() + 1)
                                       : path.Mid(setRoot.GetLength() + 1, end - setRoot.GetLength() - 1);
        return FindTreeItemByPath(pTree, hStart, setRoot, folder, path, nullptr, phItem, pnState, phChild,
                                  pnChildState);
    }
    const int drive = path.Find(_T(":\\"));
    if (drive < 0) {
        out(pTree->GetParentItem(hStart), phItem, pnState);
        out(hStart, phChild, pnChildState);
        return kPathItemFound;
    }
    const CString rest = path.Mid(drive + 2);
    HTREEITEM hCurrent = hStart;
    int start = 0;
    for (int slash = rest.Find(_T('\\')); slash >= 0; slash = rest.Find(_T('\\'), start)) {
        const CString part = rest.Mid(start, slash - start);
        HTREEITEM hFound = nullptr;
        for (HTREEITEM h = pTree->GetChildItem(hCurrent); h && !hFound; h = pTree->GetNextSiblingItem(h))
            if (pTree->GetItemText(h).CompareNoCase(part) == 0)
                hFound = h;
        if (!hFound) {
            out(hCurrent, phItem, pnState);
            return kPathNotInTree;
        }
        hCurrent = hFound;
        start = slash + 1;
    }
    out(hCurrent, phItem, pnState);
    const CString last = rest.Mid(start);
    for (HTREEITEM h = pTree->GetChildItem(hCurrent); h; h = pTree->GetNextSiblingItem(h)) {
        const CString childPath = WithoutTrailingBackslash(PathOf(pTree, h));
        const int slash = childPath.ReverseFind(_T('\\'));
        if (slash >= 0 && childPath.Mid(slash + 1).CompareNoCase(last) == 0) {
            out(h, phChild, pnChildState);
            return kPathItemFound;
        }
    }
    return kPathFolderFound;
}

int CRegularFileAgent::UpdateDriveItems(CShellTreeCtrl* pTree, LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST) {
    const CString path = CItemIDList(pidl1).GetPath();
    if (!pTree || path.GetLength() < 2 || path[1] != _T(':'))
        return 0;
    const TCHAR letter = towupper_w(path[0]);
    HTREEITEM hTop = pTree->GetRootItem();
    if (!hTop)
        return 0;
    auto letterOf = [&](HTREEITEM h) -> TCHAR {
        CShellItemData* pData = DataOf(pTree, h);
        const CString p = pData && pData->m_pAgent == this ? pData->m_list.GetPath() : CString();
        return p.GetLength() >= 2 && p[1] == _T(':') ? towupper_w(p[0]) : 0;
    };
    switch (lEvent) {
    case SHCNE_MEDIAINSERTED:
    case SHCNE_DRIVEADD:
    case SHCNE_NETSHARE: {
        if (!IsDriveShown(letter - _T('A'), pTree->GetTreeType() == kTreeMonitor))
            return 0;
        HTREEITEM hAfter = TVI_FIRST;
        for (HTREEITEM h = pTree->GetChildItem(hTop); h; h = pTree->GetNextSiblingItem(h)) {
            const TCHAR other = letterOf(h);
            if (other == letter)
                return 0;
            if (!other || other > letter)
                break;
            hAfter = h;
        }
        DriveItem drive;
        CShellItemData* pTop = DataOf(pTree, hTop);
        if (!pTop || !MakeDriveItem(letter, drive))
            return 0;
        CDesktopFolder desktop;
        CShellFolderPtr computer(desktop.Get(), pTop->m_list.Get());
        HTREEITEM hNew =
            InsertShellItem(pTree, hTop, hAfter, computer, pTop->m_list, drive.list.GetLastItem(), this, 15);
        if (!hNew)
            return 0;
        if (pTree->GetCheckState(hTop) == kStateChecked)
            pTree->SetCheckState(hNew, kStateChecked);
        return 1;
    }
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED:
    case SHCNE_NETUNSHARE: {
        for (HTREEITEM h = pTree->GetChildItem(hTop); h; h = pTree->GetNextSiblingItem(h)) {
            if (letterOf(h) != letter)
                continue;
            const UINT topState = pTree->GetCheckState(hTop);
            const UINT state = pTree->GetCheckState(h);
            pTree->DeleteChildren(h);
            pTree->DeleteItem(h);
            if (topState == kStatePartial)
                if (HTREEITEM hFirst = pTree->GetChildItem(hTop))
                    pTree->UpdateParentStates(hFirst, state == kStateUnchecked ? kStateChecked : kStateUnchecked);
            return 1;
        }
        return 0;
    }
    case SHCNE_SERVERDISCONNECT:
        for (HTREEITEM h = pTree->GetChildItem(hTop); h; h = pTree->GetNextSiblingItem(h)) {
            if (letterOf(h) != letter)
                continue;
            pTree->CheckBranch(h, kStateUnchecked);
            pTree->ExpandAll(h, TVE_COLLAPSE);
            pTree->DeleteChildren(h);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}
