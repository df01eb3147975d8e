// CRegularFileAgent: the backup agent of plain files and folders the user picks.
//
// In every backup-source tree it shows each drive of the computer under the My Computer root (leaving out the
// enclosure's own volumes, and in an Auto-Backup tree network and CD-ROM drives), lets the user check any folder
// or file below it, and answers the copy job: a node by its check mark, a file's place in the backup set under
// "Disk " and the drive letter, the drive's display name recorded in "RegularFile.ini" of the set. It keeps the
// drive items in step with drives that come and go. Its data-folder name "RegularFile" names no folder of a set.
//
// In a restore tree it shows the set's "Disk " folders under the names recorded in "RegularFile.ini" and maps every
// restored path back to its drive, flat into a chosen folder, or below a chosen folder with the set's path kept.
#pragma once

#include "engine/BackAgent.h"

class CRegularFileAgent : public CBackAgent {
    DECLARE_DYNAMIC(CRegularFileAgent)
public:
    CRegularFileAgent() = default;
    ~CRegularFileAgent() override = default;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                      int* pnCount2) override;
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
    int HasBackupData(TCHAR chDrive) override;
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;
    int UpdateDriveItems(CShellTreeCtrl* pTree, LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) override;

    // Lists an item's children (both tree kinds).
    int InsertChildren(CShellTreeCtrl* pTree, HTREEITEM hItem, BOOL bRestore);
    // Records the drive item's display name under "Disk X" in section "Fonts" of the set's "RegularFile.ini".
    int WriteDriveName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetPath);

private:
    int FillDrives(CShellTreeCtrl* pTree, HTREEITEM hTop, BOOL bMonitor);
    BOOL IsDriveShown(int nLetterIndex, BOOL bMonitor) const;
};
