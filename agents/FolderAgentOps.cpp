#include "agents/FolderAgentOps.h"

#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "engine/StrRet.h"

#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/shell/specialfolders.h"

#include <memory>

namespace folderagent {

using agents::WithoutLongPrefix;

namespace {

constexpr LPCTSTR kLongPrefix = _T("\\\\?\\");

// Writes "\\?\" and the path to the buffer (cbBuffer bytes); a path that does not fit is skipped with its entry.
int WriteResult(const CString& path, LPTSTR lpszDest, int cbBuffer) {
    const CString result = CString(kLongPrefix) + path;
    if (!lpszDest || result.GetLength() + 1 > cbBuffer / 2) {
        CBackManager::LogDebug(_T("%s, %d: %s is too long to over buffer."), u"" __FILE__, __LINE__, result);
        return kPathSkip;
    }
    lstrcpynW(lpszDest, result, cbBuffer / 2);
    return kPathMapped;
}

// Where the data folder's own part of a path in a set begins: after the drive's colon the path runs
// "\KovraData\<set>\<data folder>..."; -1 when the path is not laid out so.
int DataFolderStart(const CString& path, const CString& dataFolder) {
    const int colon = path.Find(_T(':'));
    if (colon < 0)
        return -1;
    int slash = colon;
    for (int i = 0; i < 3; ++i) {
        slash = path.Find(_T('\\'), slash + 1);
        if (slash < 0)
            return -1;
    }
    const int start = slash + 1;
    if (path.Mid(start, dataFolder.GetLength()).CompareNoCase(dataFolder) != 0)
        return -1;
    const int end = start + dataFolder.GetLength();
    if (end < path.GetLength() && path[end] != _T('\\'))
        return -1;
    return start;
}

} // namespace

bool InitSpecialFolder(int nCsidl, FolderInfo& info) {
    CItemIDList list(nCsidl, nullptr);
    if (!list.IsValid())
        return false;
    const CString path = WithoutTrailingBackslash(list.GetPath());
    if (path.IsEmpty())
        return false;
    info.rootPath = path;
    if (info.image == -1 || info.selectedImage == -1) {
        info.image = list.GetIconIndex(SHGFI_SMALLICON);
        info.selectedImage = list.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON);
    }
    CDesktopFolder desktop;
    CStrRet name;
    if (!desktop.Get() || FAILED(desktop.Get()->GetDisplayNameOf(list.Get(), SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                                                 name.Prepare(list.Get(), STRRET_WSTR))))
        return false;
    info.displayName = name.GetString();
    return !info.displayName.IsEmpty();
}

HTREEITEM InsertFolderItem(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, CBackAgent* pAgent,
                           DWORD dwFlags, int nImage, int nSelectedImage, LPCTSTR lpszText) {
    if (!pTree || !pidl)
        return nullptr;
    const CItemIDList list(pidl);
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(list.GetParentCopy(), CItemIDList::Free);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), parent.get());
    if (!folder.IsValid())
        return nullptr;
    HTREEITEM hItem =
        nImage >= 0 ? CBackAgent::InsertShellItemWithImages(pTree, hRoot, folder, parent.get(), list.GetLastItem(),
                                                            pAgent, dwFlags, nImage, nSelectedImage)
                    : CBackAgent::InsertShellItem(pTree, hRoot, TVI_LAST, folder, parent.get(), list.GetLastItem(),
                                                  pAgent, dwFlags);
    if (!hItem)
        return nullptr;
    const int callbacks = pTree->GetCallbackFlags();
    if (lpszText && !(callbacks & 0x01))
        pTree->SetItemText(hItem, lpszText);
    return hItem;
}

namespace {

int EndListing(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    int expected = 0;
    if (pTree->GetLoadCount(&expected) > 0)
        CBackManager::SortChildren(pTree, hItem);
    pTree->SetLoadCount(1, 1);
    return 1;
}

} // namespace

int ListChildren(CShellTreeCtrl* pTree, HTREEITEM hItem, bool bSkipDesktopIni) {
    if (!pTree || !hItem || hItem == TVI_ROOT || hItem == pTree->GetRootItem())
        return 0;
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
    const DWORD childFlags = pData->m_dwFlags & 0x0F;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(parentList, child);
        if (bSkipDesktopIni) {
            CString upper = full.GetPath();
            upper.MakeUpper();
            if (upper.GetLength() >= 11 && upper.Right(11) == _T("DESKTOP.INI"))
                continue;
        }
        LPCITEMIDLIST one = child.Get();
        SFGAOF attributes = SFGAO_FOLDER;
        folder->GetAttributesOf(1, &one, &attributes);
        if (!(attributes & SFGAO_FOLDER) && pTree->IsFilteredItem(full))
            continue;
        if (CBackAgent::InsertShellItem(pTree, hItem, TVI_LAST, folder, parentList, child, nullptr, childFlags))
            pTree->AddLoadCount(1);
    }
    return EndListing(pTree, hItem);
}

int ListChildrenBase(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!CBackAgent::ExpandItem(pTree, hItem))
        return 0;
    return EndListing(pTree, hItem);
}

HTREEITEM InsertSetFolder(CShellTreeCtrl* pTree, HTREEITEM hSetRoot, LPCTSTR lpszDataFolder, CBackAgent* pAgent,
                          int nImage, int nSelectedImage, LPCTSTR lpszText, bool* pbBound) {
    if (pbBound)
        *pbBound = false;
    CShellItemData* pRoot = DataOf(pTree, hSetRoot);
    if (!pRoot)
        return nullptr;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pRoot->m_list.Get());
    if (!folder.IsValid())
        return nullptr;
    CEnumIDListPtr list(folder.Get(), pTree->GetSafeHwnd(), SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!list.IsValid())
        return nullptr;
    if (pbBound)
        *pbBound = true;
    const CItemIDList rootList(pRoot->m_list);
    const CString wanted(lpszDataFolder);
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(rootList, child);
        const CString path = WithoutTrailingBackslash(full.GetPath());
        const CString name = path.Mid(path.ReverseFind(_T('\\')) + 1);
        if (name.Find(wanted) < 0)
            continue;
        HTREEITEM hItem = CBackAgent::InsertShellItemEx(pTree, hSetRoot, folder, rootList, child, pAgent,
                                                        pRoot->m_dwFlags, nImage, lpszText);
        if (hItem) {
            if (!(pTree->GetCallbackFlags() & 0x22))
                pTree->SetItemImage(hItem, nImage, nSelectedImage);
            pTree->EnsureVisible(hItem);
        }
        return hItem;
    }
    return nullptr;
}

int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strLabel) {
    strLabel.Empty();
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent())
        return 0;
    if (IsAgentItem(pTree, hItem))
        strLabel.Format(_T("%s:"), lpszDataFolder);
    else
        strLabel = pTree->GetItemText(hItem);
    return 1;
}

int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, bool bTreeText, CString& strName,
                TCHAR& chType) {
    strName.Empty();
    chType = 0;
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent())
        return 0;
    if (IsAgentItem(pTree, hItem)) {
        strName.Format(_T("%s:"), lpszDataFolder);
        chType = _T('D');
        return 1;
    }
    if (bTreeText) {
        strName = pTree->GetItemText(hItem);
    } else {
        const CString path = WithoutTrailingBackslash(pData->m_list.GetPath());
        strName = path.Mid(path.ReverseFind(_T('\\')) + 1);
    }
    chType = pData->m_list.IsFolder() ? _T('D') : _T('F');
    return 1;
}

int MapBackupPath(const CString& strRoot, LPCTSTR lpszDataFolder, bool bNeedDrive, LPCTSTR lpszSetName,
                  LPCTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !lpszDest)
        return kPathSkip;
    const CString source = WithoutTrailingBackslash(WithoutLongPrefix(lpszSource));
    if (bNeedDrive && source.Find(_T(':')) < 0)
        return kPathSkip;
    // The source must be the root folder or lie below it (whole components; the file system ignores case).
    const CString root = WithoutTrailingBackslash(strRoot);
    if (root.IsEmpty() || source.GetLength() < root.GetLength() ||
        source.Left(root.GetLength()).CompareNoCase(root) != 0 ||
        (source.GetLength() > root.GetLength() && source[root.GetLength()] != _T('\\')))
        return kPathSkip;
    const CString destination = WithoutTrailingBackslash(WithoutLongPrefix(lpszDest));
    CString result;
    result.Format(_T("%s\\%s\\%s\\%s%s"), destination.GetString(), _T("KovraData"), lpszSetName ? lpszSetName : _T(""),
                  lpszDataFolder, source.Mid(root.GetLength()).GetString());
    return WriteResult(result, lpszDest, cbBuffer);
}

int MapRestorePath(const CString& strRoot, LPCTSTR lpszDataFolder, int nPathOption, LPCTSTR lpszDestFolder,
                   LPCTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (nPathOption < 1 || nPathOption > 3 || !lpszSource)
        return kPathSkip;
    const CString destFolder(lpszDestFolder ? lpszDestFolder : _T(""));
    if (nPathOption != 1 && destFolder.IsEmpty())
        return kPathSkip;
    const CString path = WithoutTrailingBackslash(WithoutLongPrefix(lpszSource));
    const CString dataFolder(lpszDataFolder);
    CString result;
    if (nPathOption == 2) {
        const CString folder = WithoutTrailingBackslash(destFolder);
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            result.Format(_T("%s\\%s"), folder.GetString(), path.Mid(path.ReverseFind(_T('\\')) + 1).GetString());
        else
            result = folder;
        return WriteResult(result, lpszDest, cbBuffer);
    }
    const int start = DataFolderStart(path, dataFolder);
    if (start < 0)
        return kPathSkip;
    if (nPathOption == 1) {
        if (strRoot.IsEmpty())
            return kPathSkip;
        result.Format(_T("%s%s"), WithoutTrailingBackslash(strRoot).GetString(),
                      path.Mid(start + dataFolder.GetLength()).GetString());
    } else {
        CString folder = destFolder;
        if (folder.Right(1) != _T("\\"))
            folder += _T("\\");
        result.Format(_T("%s%s"), folder.GetString(), path.Mid(start).GetString());
    }
    return WriteResult(result, lpszDest, cbBuffer);
}

} // namespace folderagent
