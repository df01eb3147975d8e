#include "agents/DesktopAgent.h"

#include "app/Utility.h"
#include "engine/DesktopFolder.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "engine/StrRet.h"

#include "platform/shell/specialfolders.h"

IMPLEMENT_DYNAMIC(CDesktopAgent, CBackAgent)

using folderagent::DataOf;

namespace {

constexpr LPCTSTR kDataFolder = _T("Desktop");

} // namespace

int CDesktopAgent::OnRegister() {
    return 1;
}

CString CDesktopAgent::GetDataFolderName() {
    return CString(kDataFolder);
}

CString CDesktopAgent::GetRootPath() {
    return m_info.rootPath;
}

BOOL CDesktopAgent::Init() {
    if (!folderagent::InitSpecialFolder(CSIDL_DESKTOP, m_info))
        return FALSE;
    m_bInitialized = 1;
    return TRUE;
}

int CDesktopAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (IsWindowsVista() || !Init())
        return 0;
    // The item stands for the desktop folder on disk (the user's files), not the shell's virtual desktop; it shows
    // the desktop's own name and icons.
    const CItemIDList list(m_info.rootPath.GetString());
    if (!list.IsValid())
        return 0;
    CString text(_T("Error"));
    CItemIDList desktopList(CSIDL_DESKTOP, nullptr);
    CDesktopFolder desktop;
    CStrRet name;
    if (desktopList.IsValid() && desktop.Get() &&
        SUCCEEDED(desktop.Get()->GetDisplayNameOf(desktopList.Get(), SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                                  name.Prepare(desktopList.Get(), STRRET_WSTR))))
        text = name.GetString();
    const DWORD flags = IsShowHiddenFiles() ? 3 : 1;
    return folderagent::InsertFolderItem(pTree, hTop, list.Get(), this, flags, m_info.image, m_info.selectedImage, text)
               ? 1
               : 0;
}

int CDesktopAgent::FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    return FillBackupRoots(pTree, hTop);
}

int CDesktopAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CDesktopAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CDesktopAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR) {
    if (!Init())
        return 0;
    bool bound = false;
    folderagent::InsertSetFolder(pTree, hTop, kDataFolder, this, m_info.image, m_info.selectedImage, m_info.displayName,
                                 &bound);
    return bound ? 1 : 0;
}

int CDesktopAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    return folderagent::GetItemLabel(pTree, hItem, kDataFolder, strLabel);
}

int CDesktopAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    return folderagent::GetItemName(pTree, hItem, kDataFolder, false, strName, chType);
}

int CDesktopAgent::HasShellContextMenu(CShellTreeCtrl*, HTREEITEM) {
    return 1;
}

CShellFolderPtr CDesktopAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_folder : CShellFolderPtr();
}

LPITEMIDLIST CDesktopAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_list.Get() : nullptr;
}

int CDesktopAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return NodeAnswerByState(pTree, hItem, pData ? pData->m_list.GetPath() : CString(), lpszPath, cbBuffer);
}

int CDesktopAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int CDesktopAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                                 int cbBuffer) {
    if (m_info.rootPath.IsEmpty())
        Init();
    return folderagent::MapBackupPath(m_info.rootPath, kDataFolder, false, lpszSetName, lpszSource, lpszDest, cbBuffer);
}

int CDesktopAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder,
                                  LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (nPathOption == 1)
        Init();
    return folderagent::MapRestorePath(m_info.rootPath, kDataFolder, nPathOption, lpszDestFolder, lpszSource, lpszDest,
                                       cbBuffer);
}

int CDesktopAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                                       HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
    return FindTreeItemByPath(pTree, hStart, lpszSetRoot, kDataFolder, lpszPath, m_info.rootPath, phItem, pnState,
                              phChild, pnChildState);
}
