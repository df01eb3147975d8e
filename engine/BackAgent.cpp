#include "engine/BackAgent.h"

#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "engine/StrRet.h"

#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/shell/changenotify.h"
#include "platform/shell/shellexecute.h"

#include <memory>

IMPLEMENT_DYNAMIC(CBackAgent, CObject)

namespace {

CShellItemData* DataOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

// The folder that holds an absolute list's last item.
CShellFolderPtr ParentFolderOf(LPCITEMIDLIST pidl) {
    CDesktopFolder desktop;
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(CItemIDList::CopyWithoutLast(pidl), CItemIDList::Free);
    return CShellFolderPtr(desktop.Get(), parent.get());
}

CString PathOfList(LPCITEMIDLIST pidl) {
    return CItemIDList(pidl).GetPath();
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 0 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

} // namespace

// ---- Operations every agent gives a meaning of its own ----

int CBackAgent::ExpandBackupItem(CShellTreeCtrl*, HTREEITEM) {
    return 0;
}
int CBackAgent::FillBackupRoots(CShellTreeCtrl*, HTREEITEM) {
    return 0;
}
int CBackAgent::ExpandRestoreItem(CShellTreeCtrl*, HTREEITEM, LPCTSTR) {
    return 0;
}
int CBackAgent::FillRestoreRoots(CShellTreeCtrl*, HTREEITEM, LPCTSTR) {
    return 0;
}
int CBackAgent::GetItemLabel(CShellTreeCtrl*, HTREEITEM, CString& strLabel) {
    strLabel.Empty();
    return 0;
}
int CBackAgent::GetItemName(CShellTreeCtrl*, HTREEITEM, CString& strName, TCHAR& chType) {
    strName.Empty();
    chType = 0;
    return 0;
}
int CBackAgent::GetBackupNodeAnswer(CShellTreeCtrl*, HTREEITEM, LPTSTR, int) {
    return kNodeSkip;
}
int CBackAgent::GetRestoreNodeAnswer(CShellTreeCtrl*, HTREEITEM, LPTSTR, int) {
    return kNodeSkip;
}
int CBackAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR, LPTSTR, LPTSTR, int) {
    return kPathSkip;
}
int CBackAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int, LPCTSTR, LPTSTR, LPTSTR, int) {
    return kPathSkip;
}

// ---- Operations with the base's behaviour ----

int CBackAgent::FillMonitorRoots(CShellTreeCtrl*, HTREEITEM) {
    return 1;
}

int CBackAgent::PrepareBackup(CShellTreeCtrl*, HTREEITEM, LPCTSTR, DWORD, int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    return 0;
}

int CBackAgent::AfterBackup(int, CShellTreeCtrl*, HTREEITEM) {
    return 0;
}

int CBackAgent::PrepareRestore(CShellTreeCtrl*, HTREEITEM, DWORD, int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    return 0;
}

int CBackAgent::AfterRestore(int, CShellTreeCtrl*, HTREEITEM) {
    return 0;
}

void CBackAgent::OnLButtonDblClk(CShellItemData* pData) {
    if (!pData || !pData->HasAgent() || !pData->m_list.IsValid() || pData->m_list.IsFolder())
        return;
    const CString path = pData->m_list.GetPath();
    if (!path.IsEmpty())
        ShellExecuteW(nullptr, nullptr, path, nullptr, nullptr, SW_SHOWDEFAULT);
}

int CBackAgent::HasShellContextMenu(CShellTreeCtrl*, HTREEITEM) {
    return 0;
}

int CBackAgent::CanExpand() {
    return 1;
}

CShellFolderPtr CBackAgent::GetRootFolder(CShellTreeCtrl*, HTREEITEM) {
    return CShellFolderPtr();
}

LPITEMIDLIST CBackAgent::GetItemIDList(CShellTreeCtrl*, HTREEITEM) {
    return nullptr;
}

int CBackAgent::UpdateDriveItems(CShellTreeCtrl*, LONG, LPCITEMIDLIST, LPCITEMIDLIST) {
    return 0;
}

CString CBackAgent::GetMatchName() const {
    return CString();
}

int CBackAgent::SetIdentityPairs(CStringList&, CStringList&) {
    return 0;
}

int CBackAgent::CanStartJob(HWND, int) {
    return 1;
}

int CBackAgent::FindTreeItemForPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR, LPCTSTR, HTREEITEM*, UINT*, HTREEITEM*,
                                    UINT*) {
    return kPathNotInTree;
}

HTREEITEM CBackAgent::FindCoveringItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszPath) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !lpszPath)
        return nullptr;
    const CString itemPath = WithoutTrailingBackslash(pData->m_list.GetPath());
    if (itemPath.IsEmpty())
        return nullptr;
    const CString path(lpszPath);
    // The item's own path, or a path below it at a component boundary.
    const bool inside = path.GetLength() >= itemPath.GetLength() &&
                        path.Left(itemPath.GetLength()).CompareNoCase(itemPath) == 0 &&
                        (path.GetLength() == itemPath.GetLength() || path[itemPath.GetLength()] == _T('\\'));
    if (!inside)
        return nullptr;
    const UINT state = pTree->GetCheckState(hItem);
    if (state == kStateChecked)
        return hItem;
    if (state != kStatePartial)
        return nullptr;
    for (HTREEITEM hChild = pTree->GetChildItem(hItem); hChild; hChild = pTree->GetNextSiblingItem(hChild)) {
        CShellItemData* pChild = DataOf(pTree, hChild);
        CBackAgent* pAgent = pChild && pChild->m_pAgent ? pChild->m_pAgent : this;
        if (HTREEITEM found = pAgent->FindCoveringItem(pTree, hChild, lpszPath))
            return found;
    }
    return nullptr;
}

int CBackAgent::HasBackupData(TCHAR chDrive) {
    CString pattern;
    pattern.Format(_T("%c:\\%s\\*.*"), chDrive, _T("KovraData"));
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        const CString name(data.cFileName);
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.IsEmpty() || name == _T(".") ||
            name == _T(".."))
            continue;
        CString set;
        set.Format(_T("%c:\\%s\\%s\\%s"), chDrive, _T("KovraData"), name.GetString(), GetDataFolderName().GetString());
        const DWORD attributes = GetFileAttributesW(set);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            found = 1;
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

// ---- Shell changes ----

int CBackAgent::ApplyCreate(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl,
                            LPCTSTR lpszSetRoot, bool bRestore) {
    CItemIDList list(pidl);
    const CString path = list.GetPath();
    if (path.IsEmpty())
        return 0;
    HTREEITEM hParent = nullptr, hChild = nullptr;
    UINT parentState = 0, childState = 0;
    if (FindTreeItemForPath(pTree, hRoot, lpszSetRoot, path, &hParent, &parentState, &hChild, &childState) !=
            kPathFolderFound ||
        !hParent)
        return 0;
    if (!bRestore && !(pTree->GetItemState(hParent, TVIS_EXPANDED) & TVIS_EXPANDED))
        return 0;
    // A new folder is looked up again, so that its list is the shell's own.
    if (lEvent == SHCNE_MKDIR) {
        CItemIDList parsed(path);
        if (parsed.IsValid())
            list = parsed;
    }
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parentList(list.GetParentCopy(), CItemIDList::Free);
    CShellFolderPtr folder = ParentFolderOf(list);
    if (!folder.IsValid())
        return 0;
    HTREEITEM hNew =
        InsertShellItem(pTree, hParent, TVI_LAST, folder, parentList.get(), list.GetLastItem(), this, 0x0F);
    if (!hNew)
        return 0;
    const UINT state = pTree->GetCheckState(hParent);
    if (state == kStateChecked)
        pTree->SetCheckState(hNew, kStateChecked);
    CBackManager::SortChildren(pTree, hParent);
    return 1;
}

int CBackAgent::ApplyDelete(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, LPCTSTR lpszSetRoot) {
    const CString path = PathOfList(pidl);
    HTREEITEM hParent = nullptr, hChild = nullptr;
    UINT parentState = 0, childState = 0;
    if (path.IsEmpty() ||
        FindTreeItemForPath(pTree, hRoot, lpszSetRoot, path, &hParent, &parentState, &hChild, &childState) !=
            kPathItemFound ||
        !hChild)
        return 0;
    pTree->DeleteChildren(hChild);
    pTree->DeleteItem(hChild);
    const HTREEITEM hFirst = pTree->GetChildItem(hParent);
    if (!hFirst)
        pTree->SetItemState(hParent, 0, TVIS_EXPANDED);
    if (parentState == kStatePartial) {
        if (hFirst)
            pTree->UpdateParentStates(hFirst, childState == kStateUnchecked ? kStateChecked : kStateUnchecked,
                                      TVIS_STATEIMAGEMASK);
        else if (childState != kStateUnchecked)
            pTree->SetCheckState(hParent, kStateUnchecked);
    }
    return 1;
}

int CBackAgent::ApplyUpdate(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, LPCTSTR lpszSetRoot) {
    const CString path = PathOfList(pidl);
    HTREEITEM hParent = nullptr, hChild = nullptr;
    UINT parentState = 0, childState = 0;
    if (path.IsEmpty() || FindTreeItemForPath(pTree, hRoot, lpszSetRoot, path, &hParent, &parentState, &hChild,
                                              &childState) != kPathItemFound)
        return 0;
    pTree->RefreshItem(hChild);
    return 1;
}

int CBackAgent::OnShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl1,
                              LPCITEMIDLIST pidl2) {
    if (!pTree || !pidl1)
        return 0;
    switch (lEvent) {
    case SHCNE_RENAMEITEM:
        ApplyDelete(pTree, hRoot, pidl1, nullptr);
        // The new name is what decides whether the item belongs to the tree now.
        if (pidl2 && IsWatchedPath(pTree, pidl2))
            return ApplyCreate(pTree, hRoot, SHCNE_CREATE, pidl2, nullptr, false);
        return 0;
    case SHCNE_CREATE:
    case SHCNE_MKDIR:
        if (!IsWatchedPath(pTree, pidl1))
            return 0;
        return ApplyCreate(pTree, hRoot, lEvent, pidl1, nullptr, false);
    case SHCNE_DELETE:
    case SHCNE_RMDIR:
        return ApplyDelete(pTree, hRoot, pidl1, nullptr);
    case SHCNE_UPDATEDIR:
    case SHCNE_UPDATEITEM:
        return ApplyUpdate(pTree, hRoot, pidl1, nullptr);
    case SHCNE_RENAMEFOLDER: {
        if (!pidl2)
            return 0;
        const CString path1 = PathOfList(pidl1), path2 = PathOfList(pidl2);
        if (path1.CompareNoCase(path2) != 0) {
            ApplyDelete(pTree, hRoot, pidl1, nullptr);
            if (!IsWatchedPath(pTree, pidl2))
                return 0;
            return ApplyCreate(pTree, hRoot, SHCNE_MKDIR, pidl2, nullptr, false);
        }
        if (!IsWatchedPath(pTree, pidl1))
            return 0;
        CShellItemData* pRoot = DataOf(pTree, hRoot);
        if (!pRoot || path1.CompareNoCase(pRoot->m_list.GetPath()) != 0 || !pRoot->m_folder.IsValid())
            return 0;
        CStrRet name;
        CItemIDList list(pidl1);
        if (FAILED(pRoot->m_folder->GetDisplayNameOf(list.GetLastItem(), SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                                     name.Prepare(list.GetLastItem(), STRRET_WSTR))))
            return 0;
        pTree->SetItemText(hRoot, name.GetString());
        return 1;
    }
    default:
        return 0;
    }
}

int CBackAgent::OnSetShellChange(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetRoot, LONG lEvent,
                                 LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    if (!pTree || !pidl1)
        return 0;
    auto filtered = [&](LPCITEMIDLIST pidl) { return pTree->IsFilteredItem(pidl) != 0; };
    switch (lEvent) {
    case SHCNE_RENAMEITEM:
    case SHCNE_RENAMEFOLDER:
        ApplyDelete(pTree, hTop, pidl1, lpszSetRoot);
        if (!pidl2 || filtered(pidl2))
            return 0;
        return ApplyCreate(pTree, hTop, lEvent == SHCNE_RENAMEFOLDER ? SHCNE_MKDIR : SHCNE_CREATE, pidl2, lpszSetRoot,
                           true);
    case SHCNE_CREATE:
    case SHCNE_MKDIR:
        if (filtered(pidl1))
            return 0;
        return ApplyCreate(pTree, hTop, lEvent, pidl1, lpszSetRoot, true);
    case SHCNE_DELETE:
    case SHCNE_RMDIR:
        return ApplyDelete(pTree, hTop, pidl1, lpszSetRoot);
    case SHCNE_UPDATEDIR:
        return ApplyUpdate(pTree, hTop, pidl1, lpszSetRoot);
    default:
        return 0;
    }
}

int CBackAgent::IsWatchedPath(CShellTreeCtrl* pTree, LPCITEMIDLIST pidl) {
    if (pTree && pTree->IsFilteredItem(pidl))
        return 0;
    CString path = WithoutTrailingBackslash(PathOfList(pidl));
    const int colon = path.Find(_T(':'));
    if (colon >= 0) {
        int start = colon + 1;
        while (start < path.GetLength() && path[start] == _T('\\'))
            ++start;
        path = path.Mid(start);
    }
    for (LPCTSTR name : {_T("KovraData"), _T("RECYCLER")}) {
        const int length = lstrlenW(name);
        if (path.GetLength() >= length && path.Left(length).CompareNoCase(name) == 0 &&
            (path.GetLength() == length || path[length] == _T('\\')))
            return 0;
    }
    return 1;
}

// ---- Inserting items ----

BOOL CBackAgent::FillItemFromShell(CShellTreeCtrl* pTree, TVITEMW& item, CShellItemData* pData) {
    LPCITEMIDLIST last = pData->m_list.GetLastItem();
    if (item.mask & TVIF_TEXT) {
        CString text;
        if (pData->m_dwFlags & 0x20) {
            text = pData->m_list.GetPath();
            if (!(pData->m_dwFlags & 0x10)) {
                const int slash = WithoutTrailingBackslash(text).ReverseFind(_T('\\'));
                if (slash >= 0)
                    text = WithoutTrailingBackslash(text).Mid(slash + 1);
            }
        }
        if (text.IsEmpty()) {
            CStrRet name;
            const DWORD flags = SHGDN_INCLUDE_NONFILESYS | ((pData->m_dwFlags & 0x10) ? 0 : SHGDN_INFOLDER);
            IShellFolder* folder = pData->m_folder.Get();
            if (!folder || FAILED(folder->GetDisplayNameOf(last, flags, name.Prepare(last, STRRET_WSTR)))) {
                lstrcpynW(item.pszText, _T("Error"), item.cchTextMax);
                return FALSE;
            }
            text = name.GetString();
        }
        lstrcpynW(item.pszText, text, item.cchTextMax);
    }
    SFGAOF attributes = 0;
    const bool wantImages = (item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE)) != 0;
    if (wantImages || (item.mask & TVIF_CHILDREN)) {
        attributes = SFGAO_FOLDER | SFGAO_GHOSTED | SFGAO_LINK | SFGAO_SHARE | SFGAO_REMOVABLE;
        if (pData->m_folder.IsValid())
            pData->m_folder->GetAttributesOf(1, &last, &attributes);
    }
    if (wantImages) {
        if (attributes & SFGAO_GHOSTED) {
            item.mask |= TVIF_STATE;
            item.state |= TVIS_CUT;
            item.stateMask |= TVIS_CUT;
        }
        if (attributes & (SFGAO_SHARE | SFGAO_LINK)) {
            item.mask |= TVIF_STATE;
            item.state |= INDEXTOOVERLAYMASK((attributes & SFGAO_LINK) ? 2 : 1);
            item.stateMask |= TVIS_OVERLAYMASK;
        }
        item.iImage = pData->m_list.GetIconIndex(SHGFI_SMALLICON);
        item.iSelectedImage =
            (attributes & SFGAO_FOLDER) ? pData->m_list.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON) : item.iImage;
    }
    if (item.mask & TVIF_CHILDREN) {
        item.cChildren = 0;
        if (attributes & SFGAO_FOLDER) {
            CString upper = pData->m_list.GetPath();
            upper.MakeUpper();
            if (upper.GetLength() >= 4 && upper.Right(4) == _T(".ZIP")) {
                const DWORD a = GetFileAttributesW(pData->m_list.GetPath());
                item.cChildren = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
            } else if ((pData->m_dwFlags & 0x01) || (attributes & SFGAO_REMOVABLE)) {
                item.cChildren = 1;
            } else {
                SFGAOF sub = SFGAO_HASSUBFOLDER;
                if (pData->m_folder.IsValid())
                    pData->m_folder->GetAttributesOf(1, &last, &sub);
                item.cChildren = (sub & SFGAO_HASSUBFOLDER) ? 1 : 0;
            }
        }
    }
    (void)pTree;
    return TRUE;
}

namespace {

// Inserts the record as the last (or given) child; frees the data when the insert fails.
HTREEITEM InsertRecord(CShellTreeCtrl* pTree, HTREEITEM hParent, HTREEITEM hAfter, TVINSERTSTRUCTW& insert,
                       std::unique_ptr<CShellItemData>& data) {
    const UINT callbacks = static_cast<UINT>(pTree->GetCallbackFlags());
    if (callbacks & 0x01)
        insert.item.pszText = LPSTR_TEXTCALLBACKW;
    if (callbacks & 0x02)
        insert.item.iImage = I_IMAGECALLBACK;
    if (callbacks & 0x20)
        insert.item.iSelectedImage = I_IMAGECALLBACK;
    if (callbacks & 0x40)
        insert.item.cChildren = I_CHILDRENCALLBACK;
    insert.hParent = hParent;
    insert.hInsertAfter = hAfter ? hAfter : TVI_LAST;
    insert.item.mask |= TVIF_PARAM;
    insert.item.lParam = reinterpret_cast<LPARAM>(data.get());
    HTREEITEM hItem = pTree->InsertItem(&insert);
    if (hItem)
        data.release();
    return hItem;
}

UINT WantedMask(CShellTreeCtrl* pTree) {
    const UINT callbacks = static_cast<UINT>(pTree->GetCallbackFlags());
    UINT mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    if (callbacks & 0x01)
        mask &= ~TVIF_TEXT;
    if (callbacks & 0x02)
        mask &= ~TVIF_IMAGE;
    if (callbacks & 0x20)
        mask &= ~TVIF_SELECTEDIMAGE;
    if (callbacks & 0x40)
        mask &= ~TVIF_CHILDREN;
    return mask;
}

std::unique_ptr<CShellItemData> NewShellData(CShellTreeCtrl* pTree, HTREEITEM hParent, const CShellFolderPtr& folder,
                                             LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild, CBackAgent* pAgent,
                                             DWORD dwFlags, bool topIsRoot) {
    auto data = std::make_unique<CShellItemData>();
    data->m_list.Combine(pidlParent, pidlChild);
    data->m_dwFlags = dwFlags;
    const bool atVirtualRoot = !hParent || hParent == TVI_ROOT;
    const bool atTop = topIsRoot && hParent == pTree->GetRootItem();
    if (folder.IsValid()) {
        data->SetFolder(folder);
    } else if (atVirtualRoot) {
        CDesktopFolder desktop;
        data->SetFolder(CShellFolderPtr(desktop.Get()));
    }
    if (atVirtualRoot || atTop || pAgent) {
        data->m_pAgent = pAgent;
    } else if (auto* parent = reinterpret_cast<CShellItemData*>(pTree->GetItemData(hParent))) {
        data->m_pAgent = parent->m_pAgent;
    }
    return data;
}

} // namespace

HTREEITEM CBackAgent::InsertShellItem(CShellTreeCtrl* pTree, HTREEITEM hParent, HTREEITEM hAfter,
                                      const CShellFolderPtr& folder, LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild,
                                      CBackAgent* pAgent, DWORD dwFlags) {
    if (!pTree)
        return nullptr;
    auto data = NewShellData(pTree, hParent, folder, pidlParent, pidlChild, pAgent, dwFlags, false);
    if (!data->m_list.IsValid())
        return nullptr;
    WCHAR text[2048] = {};
    TVINSERTSTRUCTW insert{};
    insert.item.mask = WantedMask(pTree);
    insert.item.pszText = text;
    insert.item.cchTextMax = 2048;
    if (!FillItemFromShell(pTree, insert.item, data.get()))
        return nullptr;
    return InsertRecord(pTree, hParent, hAfter, insert, data);
}

HTREEITEM CBackAgent::InsertShellItemWithImages(CShellTreeCtrl* pTree, HTREEITEM hParent, const CShellFolderPtr& folder,
                                                LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild, CBackAgent* pAgent,
                                                DWORD dwFlags, int nImage, int nSelectedImage) {
    if (!pTree)
        return nullptr;
    auto data = NewShellData(pTree, hParent, folder, pidlParent, pidlChild, pAgent, dwFlags, false);
    if (!data->m_list.IsValid())
        return nullptr;
    WCHAR text[2048] = {};
    TVINSERTSTRUCTW insert{};
    insert.item.mask = WantedMask(pTree);
    insert.item.pszText = text;
    insert.item.cchTextMax = 2048;
    if (!FillItemFromShell(pTree, insert.item, data.get()))
        return nullptr;
    insert.item.iImage = nImage;
    insert.item.iSelectedImage = nSelectedImage;
    return InsertRecord(pTree, hParent, TVI_LAST, insert, data);
}

HTREEITEM CBackAgent::InsertShellItemEx(CShellTreeCtrl* pTree, HTREEITEM hParent, const CShellFolderPtr& folder,
                                        LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild, CBackAgent* pAgent,
                                        DWORD dwFlags, int nImage, LPCTSTR lpszText) {
    if (!pTree)
        return nullptr;
    auto data = NewShellData(pTree, hParent, folder, pidlParent, pidlChild, pAgent, dwFlags, true);
    if (!data->m_list.IsValid())
        return nullptr;
    WCHAR text[2048] = {};
    TVINSERTSTRUCTW insert{};
    insert.item.mask = WantedMask(pTree) & TVIF_CHILDREN;
    FillItemFromShell(pTree, insert.item, data.get());
    insert.item.mask = WantedMask(pTree);
    lstrcpynW(text, lpszText ? lpszText : _T(""), 2048);
    insert.item.pszText = text;
    insert.item.iImage = nImage;
    insert.item.iSelectedImage = nImage;
    return InsertRecord(pTree, hParent, TVI_LAST, insert, data);
}

HTREEITEM CBackAgent::InsertTextItem(CShellTreeCtrl* pTree, HTREEITEM hParent, CBackAgent* pAgent, int nChildren,
                                     int nImage, LPCTSTR lpszText) {
    if (!pTree)
        return nullptr;
    auto data = NewShellData(pTree, hParent, CShellFolderPtr(), nullptr, nullptr, pAgent, 0, true);
    WCHAR text[2048] = {};
    lstrcpynW(text, lpszText ? lpszText : _T(""), 2048);
    TVINSERTSTRUCTW insert{};
    insert.item.mask = WantedMask(pTree);
    insert.item.pszText = text;
    insert.item.iImage = nImage;
    insert.item.iSelectedImage = nImage;
    insert.item.cChildren = nChildren;
    return InsertRecord(pTree, hParent, TVI_LAST, insert, data);
}

HTREEITEM CBackAgent::InsertPathItem(CShellTreeCtrl* pTree, HTREEITEM hParent, LPCITEMIDLIST pidl, CBackAgent* pAgent,
                                     int nChildren, int nImage, LPCTSTR lpszText) {
    if (!pTree)
        return nullptr;
    auto data = NewShellData(pTree, hParent, CShellFolderPtr(), pidl, nullptr, pAgent, 0, true);
    WCHAR text[2048] = {};
    lstrcpynW(text, lpszText ? lpszText : _T(""), 2048);
    TVINSERTSTRUCTW insert{};
    insert.item.mask = WantedMask(pTree);
    insert.item.pszText = text;
    insert.item.iImage = nImage;
    insert.item.iSelectedImage = nImage;
    insert.item.cChildren = nChildren;
    return InsertRecord(pTree, hParent, TVI_LAST, insert, data);
}

int CBackAgent::ExpandItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT || hItem == pTree->GetRootItem())
        return 0;
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent())
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pData->m_list.Get());
    if (!folder.IsValid())
        return 0;
    pTree->SetLoadCount(0, 0);
    DWORD flags = SHCONTF_FOLDERS;
    if (pData->m_dwFlags & 0x01)
        flags |= SHCONTF_NONFOLDERS;
    if (pData->m_dwFlags & 0x02)
        flags |= SHCONTF_INCLUDEHIDDEN;
    CEnumIDListPtr list(folder.Get(), pTree->GetSafeHwnd(), flags);
    if (!list.IsValid())
        return 0;
    // The parent's list and flags outlive the insertions (which may reallocate nothing of it, but keep it steady).
    const CItemIDList parentList(pData->m_list);
    const DWORD childFlags = pData->m_dwFlags & 0x0F;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        LPCITEMIDLIST one = child.Get();
        SFGAOF attributes = SFGAO_FOLDER;
        folder->GetAttributesOf(1, &one, &attributes);
        if (!(attributes & SFGAO_FOLDER)) {
            CItemIDList full;
            full.Combine(parentList, child);
            if (pTree->IsFilteredItem(full))
                continue;
        }
        if (InsertShellItem(pTree, hItem, TVI_LAST, folder, parentList, child, nullptr, childFlags))
            pTree->AddLoadCount(1);
    }
    return 1;
}

int CBackAgent::MakeDirectoryPath(LPCTSTR lpszPath) {
    if (!lpszPath || !*lpszPath)
        return 0;
    const CString path(lpszPath);
    int start = path.Find(_T('\\'));
    if (start < 0)
        return 0;
    for (int next = path.Find(_T('\\'), start + 1);; next = path.Find(_T('\\'), start + 1)) {
        const CString level = next < 0 ? path : path.Left(next);
        if (level.GetLength() > start + 1) {
            const DWORD attributes = GetFileAttributesW(level);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!CreateDirectoryW(level, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                    return 0;
            } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return 0;
            }
        }
        if (next < 0)
            break;
        start = next;
    }
    return 1;
}

int CBackAgent::FindTreeItemByPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot,
                                   LPCTSTR lpszAgentFolder, LPCTSTR lpszPath, LPCTSTR lpszAgentRoot, HTREEITEM* phItem,
                                   UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
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
    auto below = [](const CString& p, const CString& folder) {
        return p.GetLength() > folder.GetLength() && p.Left(folder.GetLength()).CompareNoCase(folder) == 0 &&
               p[folder.GetLength()] == _T('\\');
    };
    if (lpszSetRoot) {
        CString agentFolder;
        agentFolder.Format(_T("%s\\%s"), WithoutTrailingBackslash(lpszSetRoot).GetString(),
                           lpszAgentFolder ? lpszAgentFolder : _T(""));
        if (path.CompareNoCase(agentFolder) != 0 && !below(path, agentFolder))
            return kPathOutsideAgent;
        const int slash = path.ReverseFind(_T('\\'));
        const CString parent = slash < 0 ? CString() : path.Left(slash);
        int result = kPathNotInTree;
        CString search = parent;
        if (parent.CompareNoCase(WithoutTrailingBackslash(lpszSetRoot)) == 0) {
            result = kPathFolderFound;
            search = path;
        }
        HTREEITEM hChild = pTree->GetChildItem(hStart);
        while (hChild) {
            CShellItemData* pData = DataOf(pTree, hChild);
            const CString childPath = pData ? WithoutTrailingBackslash(pData->m_list.GetPath()) : CString();
            if (!childPath.IsEmpty() && childPath.CompareNoCase(search) == 0) {
                if (result == kPathFolderFound) {
                    out(hChild, phChild, pnChildState);
                    return kPathItemFound;
                }
                result = kPathFolderFound;
                out(hChild, phItem, pnState);
                search = path;
                hChild = pTree->GetChildItem(hChild);
                continue;
            }
            if (!childPath.IsEmpty() && below(search, childPath)) {
                out(hChild, phItem, pnState);
                hChild = pTree->GetChildItem(hChild);
                continue;
            }
            hChild = pTree->GetNextSiblingItem(hChild);
        }
        return result;
    }
    const CString root = WithoutTrailingBackslash(lpszAgentRoot ? lpszAgentRoot : _T(""));
    if (root.IsEmpty() || !below(path, root) || !pTree->GetChildItem(hStart))
        return kPathNotInTree;
    const CString rest = path.Mid(root.GetLength() + 1);
    HTREEITEM hCurrent = hStart;
    int start = 0;
    for (int slash = rest.Find(_T('\\')); slash >= 0; slash = rest.Find(_T('\\'), start)) {
        const CString part = rest.Mid(start, slash - start);
        HTREEITEM hFound = nullptr;
        for (HTREEITEM h = pTree->GetChildItem(hCurrent); h; h = pTree->GetNextSiblingItem(h))
            if (pTree->GetItemText(h) == part) {
                hFound = h;
                break;
            }
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
        CShellItemData* pData = DataOf(pTree, h);
        const CString childPath = pData ? WithoutTrailingBackslash(pData->m_list.GetPath()) : CString();
        const int slash = childPath.ReverseFind(_T('\\'));
        if (slash >= 0 && childPath.Mid(slash + 1).CompareNoCase(last) == 0) {
            out(h, phChild, pnChildState);
            return kPathItemFound;
        }
    }
    return kPathFolderFound;
}

int CBackAgent::NodeAnswerByState(CShellTreeCtrl* pTree, HTREEITEM hItem, const CString& strPath, LPTSTR lpszPath,
                                  int cbBuffer) {
    int answer = kNodeDescend;
    switch (pTree ? pTree->GetCheckState(hItem) : 0) {
    case kStateUnchecked:
        answer = kNodeSkip;
        break;
    case kStateChecked:
        answer = kNodeWhole;
        break;
    default:
        answer = kNodeDescend;
        break;
    }
    const CString prefixed = CString(_T("\\\\?\\")) + strPath;
    if (!lpszPath || prefixed.GetLength() + 1 > cbBuffer / 2) {
        CBackManager::LogDebug(_T("%s, %d: %s is too long to over buffer."), u"" __FILE__, __LINE__, prefixed);
        return kNodeSkip;
    }
    lstrcpynW(lpszPath, prefixed, cbBuffer / 2);
    return answer;
}
