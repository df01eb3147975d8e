// CMyDocumentsAgent: the backup agent of the user's documents folder. Built like the Favorites agent, with the folder
// "MyDocuments" in the backup set; its source tree lists hidden items only when Explorer shows them, and lists
// "desktop.ini" files as any other.
#pragma once

#include "agents/FolderAgentOps.h"

class CMyDocumentsAgent : public CBackAgent {
    DECLARE_DYNAMIC(CMyDocumentsAgent)
public:
    CMyDocumentsAgent() = default;
    ~CMyDocumentsAgent() override = default;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) override;
    int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) override;
    int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    CString GetDataFolderName() override;
    int GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                      int cbBuffer) override;
    int MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int nPathOption, LPCTSTR lpszDestFolder,
                       LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) override;
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;

    virtual CString GetRootPath();
    // Reads the folder: its path, icons and display name; false when one is missing.
    BOOL Init();

private:
    folderagent::FolderInfo m_info;
};
