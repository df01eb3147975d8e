#include "agents/VistaProfileAgent.h"

#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "engine/StrRet.h"

#include "platform/base/module.h"
#include "platform/fs/files.h"
#include "platform/shell/specialfolders.h"

IMPLEMENT_DYNAMIC(CVistaProfileAgent, CBackAgent)

using folderagent::DataOf;

namespace {

constexpr LPCTSTR kDataFolder = _T("VistaProfileData");

} // namespace

int CVistaProfileAgent::OnRegister() {
    return 1;
}

CString CVistaProfileAgent::GetDataFolderName() {
    return CString(kDataFolder);
}

CString CVistaProfileAgent::GetRootPath() {
    return m_info.rootPath;
}

BOOL CVistaProfileAgent::Init(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!IsWindowsVista()) {
        // Data of a Vista profile that this system cannot take: its own icon, else the program's.
        TCHAR program[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        CString folder(program);
        folder = folder.Left(folder.ReverseFind(_T('\\')));
        CString icon;
        icon.Format(_T("%s\\Res\\%s"), folder.GetString(), _T("IDI_VistaCant.ico"));
        if (GetFileAttributesW(icon) == INVALID_FILE_ATTRIBUTES)
            icon = program;
        const CItemIDList iconList(icon.GetString());
        if (iconList.IsValid()) {
            m_info.image = iconList.GetIconIndex(SHGFI_SMALLICON);
            m_info.selectedImage = iconList.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON);
        }
        m_info.displayName = kDataFolder;
        return FALSE;
    }
    const CItemIDList profile(CSIDL_PROFILE, nullptr);
    const CString profilePath = profile.IsValid() ? profile.GetPath() : CString();
    if (profilePath.IsEmpty())
        return FALSE;
    CDesktopFolder desktop;
    if (!desktop.Get())
        return FALSE;
    CEnumIDListPtr list(desktop.Get(), nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!list.IsValid())
        return FALSE;
    CItemIDList child;
    bool found = false;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        if (child.GetPath() == profilePath) {
            found = true;
            break;
        }
    }
    if (!found)
        return FALSE;
    const CString root = folderagent::WithoutTrailingBackslash(child.GetPath());
    if (root.IsEmpty())
        return FALSE;
    m_info.rootPath = root;
    m_profileItem = child;
    if (m_info.image == -1 || m_info.selectedImage == -1) {
        m_info.image = child.GetIconIndex(SHGFI_SMALLICON);
        m_info.selectedImage = child.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON);
    }
    if (pTree && pTree->GetTreeType() == kTreeRestore && hItem) {
        // The set root's text is "user@computer": the profile shows under the user who made the set.
        const CString text = pTree->GetItemText(hItem);
        const int at = text.Find(_T('@'));
        m_info.displayName = at < 0 ? text : text.Left(at);
    } else {
        CStrRet name;
        if (FAILED(desktop.Get()->GetDisplayNameOf(child.Get(), SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                                   name.Prepare(child.Get(), STRRET_WSTR))))
            return FALSE;
        m_info.displayName = name.GetString();
    }
    m_bInitialized = 1;
    return TRUE;
}

BOOL CVistaProfileAgent::FindProfileFolder(LPCTSTR lpszName, CItemIDList& list) {
    const CItemIDList profile(CSIDL_PROFILE, nullptr);
    if (!profile.IsValid() || !lpszName)
        return FALSE;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), profile.Get());
    if (!folder.IsValid())
        return FALSE;
    CEnumIDListPtr children(folder.Get(), nullptr, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!children.IsValid())
        return FALSE;
    CItemIDList child;
    while (children->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(profile, child);
        const CString path = folderagent::WithoutTrailingBackslash(full.GetPath());
        if (path.Mid(path.ReverseFind(_T('\\')) + 1).CompareNoCase(lpszName) == 0) {
            list = full;
            return TRUE;
        }
    }
    return FALSE;
}

int CVistaProfileAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (!Init(pTree, hTop) || !IsWindowsVista())
        return 0;
    const CItemIDList profile(CSIDL_PROFILE, nullptr);
    if (!profile.IsValid())
        return 0;
    const DWORD flags = IsShowHiddenFiles() ? 3 : 1;
    HTREEITEM hItem = folderagent::InsertFolderItem(pTree, hTop, profile.Get(), this, flags, m_info.image,
                                                    m_info.selectedImage, m_info.displayName);
    if (!hItem)
        return 0;
    pTree->EnsureVisible(hItem);
    return 1;
}

int CVistaProfileAgent::FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    return FillBackupRoots(pTree, hTop);
}

int CVistaProfileAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CVistaProfileAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    if (IsWindowsVista() && pTree && hItem == pTree->GetRootItem())
        return 1;
    if (IsWindowsVista() && folderagent::IsAgentItem(pTree, hItem)) {
        if (!ExpandProfileItem(pTree, hItem))
            return 0;
        int expected = 0;
        if (pTree->GetLoadCount(&expected) > 0)
            CBackManager::SortChildren(pTree, hItem);
        pTree->SetLoadCount(1, 1);
        return 1;
    }
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CVistaProfileAgent::ExpandProfileItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
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
        LPCITEMIDLIST one = child.Get();
        SFGAOF attributes = SFGAO_FOLDER;
        folder->GetAttributesOf(1, &one, &attributes);
        HTREEITEM hNew = nullptr;
        if (attributes & SFGAO_FOLDER) {
            const CString path = folderagent::WithoutTrailingBackslash(full.GetPath());
            CItemIDList own;
            if (!FindProfileFolder(path.Mid(path.ReverseFind(_T('\\')) + 1), own))
                continue;
            CStrRet name;
            if (FAILED(desktop.Get()->GetDisplayNameOf(own.Get(), SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                                       name.Prepare(own.Get(), STRRET_WSTR))))
                continue;
            hNew = InsertShellItemEx(pTree, hItem, folder, parentList, child, this, childFlags,
                                     own.GetIconIndex(SHGFI_SMALLICON), name.GetString());
            if (hNew && !(pTree->GetCallbackFlags() & 0x22))
                pTree->SetItemImage(hNew, own.GetIconIndex(SHGFI_SMALLICON),
                                    own.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON));
        } else {
            if (pTree->IsFilteredItem(full))
                continue;
            hNew = InsertShellItem(pTree, hItem, TVI_LAST, folder, parentList, child, nullptr, childFlags);
        }
        if (hNew)
            pTree->AddLoadCount(1);
    }
    return 1;
}

int CVistaProfileAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR) {
    const BOOL ready = Init(pTree, hTop);
    bool bound = false;
    HTREEITEM hItem = folderagent::InsertSetFolder(pTree, hTop, kDataFolder, this, m_info.image, m_info.selectedImage,
                                                   m_info.displayName, &bound);
    if (hItem && !ready)
        pTree->SetItemState(hItem, kStateFixed, TVIS_STATEIMAGEMASK);
    return bound ? 1 : 0;
}

int CVistaProfileAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    return folderagent::GetItemLabel(pTree, hItem, kDataFolder, strLabel);
}

int CVistaProfileAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    return folderagent::GetItemName(pTree, hItem, kDataFolder, true, strName, chType);
}

int CVistaProfileAgent::HasShellContextMenu(CShellTreeCtrl*, HTREEITEM) {
    return 1;
}

CShellFolderPtr CVistaProfileAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_folder : CShellFolderPtr();
}

LPITEMIDLIST CVistaProfileAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_list.Get() : nullptr;
}

int CVistaProfileAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return NodeAnswerByState(pTree, hItem, pData ? pData->m_list.GetPath() : CString(), lpszPath, cbBuffer);
}

int CVistaProfileAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int CVistaProfileAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                      LPTSTR lpszDest, int cbBuffer) {
    if (m_info.rootPath.IsEmpty())
        Init(nullptr, nullptr);
    return folderagent::MapBackupPath(m_info.rootPath, kDataFolder, true, lpszSetName, lpszSource, lpszDest, cbBuffer);
}

int CVistaProfileAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder,
                                       LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (nPathOption == 1)
        Init(nullptr, nullptr);
    return folderagent::MapRestorePath(m_info.rootPath, kDataFolder, nPathOption, lpszDestFolder, lpszSource, lpszDest,
                                       cbBuffer);
}

int CVistaProfileAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot,
                                            LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild,
                                            UINT* pnChildState) {
    return FindTreeItemByPath(pTree, hStart, lpszSetRoot, kDataFolder, lpszPath, m_info.rootPath, phItem, pnState,
                              phChild, pnChildState);
}
