// COutlookAgent: the backup agent of Outlook's personal folder files (".pst"). Its data folder in a backup set is
// "Outlook".
//
// It finds the client through its program path and lists the personal folder files that the current user's
// default mail profile names as the items of one root "Outlook". A backup copies the checked files into the set's
// flat "Outlook" folder and records each file's path in "outlook.ini"; a restore copies them back to the recorded
// path, into a chosen folder, or into that folder with the set's relative path kept. Before a job it asks the user
// to let it close a running "OUTLOOK.EXE". It reads the registry and files only.
//
// Two files of the same name in different folders do not overwrite each other in the flat set folder: the later
// ones are stored as "name (2).pst", "name (3).pst" and so on, each with its own line in "outlook.ini".
//
// GUI thread only.
#pragma once

#include "engine/BackAgent.h"

#include "platform/afx/StringList.h"
#include "platform/registry/registry.h"

class COutlookAgent : public CBackAgent {
    DECLARE_DYNAMIC(COutlookAgent)
public:
    COutlookAgent() = default;
    ~COutlookAgent() override = default;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                      int* pnCount2) override;
    int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) override;
    int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) override;
    int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int CanExpand() override;
    CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    CString GetDataFolderName() override;
    int GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                      int cbBuffer) override;
    int MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int nPathOption, LPCTSTR lpszDestFolder,
                       LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) override;
    HTREEITEM FindCoveringItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszPath) override;
    int HasBackupData(TCHAR chDrive) override;
    int CanStartJob(HWND hOwner, int nPrompt) override;
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;

    // Finds the client and its default profile: 1 usable, 0 not.
    int Init();
    // The paths of the personal folder files that the default profile names; their count, or -1 when the profile
    // cannot be opened.
    int GetPSTList(CStringList& list);
    // 1 when the folder holds an entry whose extension is ".pst" in any case.
    static int HasPSTFile(LPCTSTR lpszFolder, DWORD dwFlags);

private:
    static void FindPSTPath(HKEY hProfileSubKey, CStringList& list);
    // The file's name in the set's flat folder: its own name, or "name (n).ext" when earlier checked files of the
    // root have the same name.
    static CString SetFileName(CShellTreeCtrl* pTree, HTREEITEM hItem);
    void TakeImages(bool bUsable);

    CString m_strProgramPath;
    int m_nImage = -1;
    int m_nOpenImage = -1;
};
