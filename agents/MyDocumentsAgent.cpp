#include "agents/MyDocumentsAgent.h"

#include "app/Utility.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/shell/specialfolders.h"

IMPLEMENT_DYNAMIC(CMyDocumentsAgent, CBackAgent)

using folderagent::DataOf;

namespace {

constexpr LPCTSTR kDataFolder = _T("MyDocuments");

} // namespace

int CMyDocumentsAgent::OnRegister() {
    return 1;
}

CString CMyDocumentsAgent::GetDataFolderName() {
    return CString(kDataFolder);
}

CString CMyDocumentsAgent::GetRootPath() {
    return m_info.rootPath;
}

BOOL CMyDocumentsAgent::Init() {
    if (!folderagent::InitSpecialFolder(CSIDL_PERSONAL, m_info))
        return FALSE;
    m_bInitialized = 1;
    return TRUE;
}

int CMyDocumentsAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (IsWindowsVista() || !Init())
        return 0;
    const CItemIDList list(CSIDL_PERSONAL, nullptr);
    const DWORD flags = IsShowHiddenFiles() ? 3 : 1;
    return folderagent::InsertFolderItem(pTree, hTop, list.Get(), this, flags, -1, -1, nullptr) ? 1 : 0;
}

int CMyDocumentsAgent::FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    return FillBackupRoots(pTree, hTop);
}

int CMyDocumentsAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CMyDocumentsAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    return folderagent::ListChildrenBase(pTree, hItem);
}

int CMyDocumentsAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR) {
    if (!Init())
        return 0;
    bool bound = false;
    folderagent::InsertSetFolder(pTree, hTop, kDataFolder, this, m_info.image, m_info.selectedImage, m_info.displayName,
                                 &bound);
    return bound ? 1 : 0;
}

int CMyDocumentsAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    return folderagent::GetItemLabel(pTree, hItem, kDataFolder, strLabel);
}

int CMyDocumentsAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    return folderagent::GetItemName(pTree, hItem, kDataFolder, false, strName, chType);
}

int CMyDocumentsAgent::HasShellContextMenu(CShellTreeCtrl*, HTREEITEM) {
    return 1;
}

CShellFolderPtr CMyDocumentsAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_folder : CShellFolderPtr();
}

LPITEMIDLIST CMyDocumentsAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_list.Get() : nullptr;
}

int CMyDocumentsAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return NodeAnswerByState(pTree, hItem, pData ? pData->m_list.GetPath() : CString(), lpszPath, cbBuffer);
}

int CMyDocumentsAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int CMyDocumentsAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                     LPTSTR lpszDest, int cbBuffer) {
    if (m_info.rootPath.IsEmpty())
        Init();
    return folderagent::MapBackupPath(m_info.rootPath, kDataFolder, true, lpszSetName, lpszSource, lpszDest, cbBuffer);
}

int CMyDocumentsAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder,
                                      LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (nPathOption == 1)
        Init();
    return folderagent::MapRestorePath(m_info.rootPath, kDataFolder, nPathOption, lpszDestFolder, lpszSource, lpszDest,
                                       cbBuffer);
}

int CMyDocumentsAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot,
                                           LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild,
                                           UINT* pnChildState) {
    return FindTreeItemByPath(pTree, hStart, lpszSetRoot, kDataFolder, lpszPath, m_info.rootPath, phItem, pnState,
                              phChild, pnChildState);
}
