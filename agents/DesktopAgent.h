// CDesktopAgent: the backup agent of the user's desktop folder. In a backup-source or Auto-Backup tree it adds one
// item, the desktop, under the My Computer root (none on Windows Vista, where the profile agent covers the desktop);
// it stores the checked files and folders in the folder "Desktop" of the backup set and restores them into the
// desktop folder of whoever restores, or into a chosen folder.
#pragma once

#include "agents/FolderAgentOps.h"

class CDesktopAgent : public CBackAgent {
    DECLARE_DYNAMIC(CDesktopAgent)
public:
    CDesktopAgent() = default;
    ~CDesktopAgent() override = default;

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
    // Reads the desktop folder: its path, icons and display name; false when one is missing.
    BOOL Init();

private:
    folderagent::FolderInfo m_info;
};
