// CVistaProfileAgent: the backup agent of the user's profile folder on Windows Vista, where it takes the place of the
// desktop, Favorites and documents agents. In a source tree it adds one item, the profile folder as the Vista desktop
// shows it (named after the user), below which every folder and file of the profile is offered; the data goes to the
// folder "VistaProfileData" of the backup set. In a restore tree it shows that folder under the set's user name and,
// on Vista, each of its sub-folders under the name and icon of the same-named folder of the current profile. On
// other systems it adds nothing to source trees and shows a set's "VistaProfileData" folder as data this system
// cannot take.
#pragma once

#include "agents/FolderAgentOps.h"
#include "engine/ItemIDList.h"

class CVistaProfileAgent : public CBackAgent {
    DECLARE_DYNAMIC(CVistaProfileAgent)
public:
    CVistaProfileAgent() = default;
    ~CVistaProfileAgent() override = default;

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
    // Fills a restore tree's profile folder with the set's sub-folders that the current profile also has (under
    // the current profile's names) and its files.
    virtual int ExpandProfileItem(CShellTreeCtrl* pTree, HTREEITEM hItem);

    // Finds the profile as the Vista desktop shows it; in a restore tree the name is the user's part of the given
    // item's text. False on other systems (the icons then mark data this system cannot take).
    BOOL Init(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // The current profile's folder of that name (compared without regard to case), as a list; false when none.
    static BOOL FindProfileFolder(LPCTSTR lpszName, CItemIDList& list);

private:
    folderagent::FolderInfo m_info;
    CItemIDList m_profileItem;
};
