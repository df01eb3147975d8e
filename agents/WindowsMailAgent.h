// CWindowsMailAgent: the backup agent of Windows Mail, the mail client of Windows Vista that keeps all its mail in
// one store folder. Its data folder in a backup set is "WindowsMail".
//
// On Windows Vista it shows the store folder as one item "Windows Mail" of the backup-source tree. A backup copies
// the whole store into "KovraWMStore" and saves three registry subtrees of the current user ("WindowsMailMain",
// "Identities", "IAM") as registry export text into "KovraWMReg", all in a staging folder that takes the place of
// the set's "WindowsMail" when the job ends uncancelled; "wm.ini" records the store's path. A restore copies the
// saved store into a staging folder beside the recorded store path.
//
// What the data must never lose: a cancelled job leaves the previous backup, or the live store and its registry
// settings, as they were. A restore loads the registry subtrees and puts the staged store in place of the live one
// only after a job that was not cancelled copied every file of the saved store, and never while Windows Mail runs;
// otherwise the staged copy is left beside the store and the live data stays. A backup whose registry parts could
// not all be saved does not replace an earlier complete backup. A leftover staging folder of an interrupted backup
// is cleared before a new one is staged.
//
// GUI thread only.
#pragma once

#include "engine/BackAgent.h"
#include "engine/MyReg.h"

class CWindowsMailAgent : public CBackAgent {
    DECLARE_DYNAMIC(CWindowsMailAgent)
public:
    CWindowsMailAgent() = default;
    ~CWindowsMailAgent() override = default;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                      int* pnCount2) override;
    int AfterBackup(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) override;
    int PrepareRestore(CShellTreeCtrl* pTree, HTREEITEM hRoot, DWORD dwFlags, int* pnCount1, int* pnCount2) override;
    int AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) override;
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
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;

    // On Windows Vista finds the program and its icon (the result of that search); elsewhere takes the icon of an
    // unusable client and answers 1. The search runs once.
    int InitWindowsMailAgent();
    int BackupReg(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                  int* pnCount2);
    // Reads "KovraWMReg" of "wm.ini" into the recorded store folder and the restore staging folder beside it.
    static int GetWindowsMailStoreFromProfile(LPCTSTR lpszIni, CString& strStaging, CString& strStore);
    // The user and computer folder of a path of a backup set.
    static int GetUserFolderFromPath(LPCTSTR lpszPath, CString& strName);

private:
    BOOL ReadStoreFolder();
    void LogFolder(UINT nId, LPCTSTR lpszDefault, LPCTSTR lpszFirst, LPCTSTR lpszSecond, int nLine);

    CString m_strProgramPath;
    CString m_strStoreFolder;
    CString m_strBackupStaging;
    CString m_strBackupData;
    CString m_strRestoreStaging;
    CString m_strRecordedStore;
    CString m_strItemText = CString(u"Windows Mail");
    int m_nImage = -1;
    int m_nOpenImage = -1;
    MyReg m_reg;

    int m_nInitResult = 0;
    // Whether the staged backup holds all three registry parts; the set's saved store of the restore being run.
    BOOL m_bRegSaved = FALSE;
    CString m_strSetStore;
};
