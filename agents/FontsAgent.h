// CFontsAgent: the backup agent of the installed fonts. Its data folder in a backup set is "Fonts".
//
// In a backup-source tree it shows the Fonts folder, labelled and drawn like the Control Panel's Fonts item, with
// the fonts of the system's font table (display name to a file in the Fonts folder) as its children; in a restore
// tree the set's "Fonts" folder with the fonts its "fonts.ini" names. A backup copies the checked font files and
// writes "fonts.ini" (file name = display name); a restore copies them back to the Fonts folder or to a chosen
// folder. After a restore the font cache is brought up to date, the restored fonts that stand in the Fonts folder are
// added to the program's fonts, and every window is told that the fonts changed;
// when the restore was not cancelled, the desktop shell's window on the Fonts folder is restarted where one runs.
//
// GUI thread only. The font table is enumerated by one enumeration at a time for the whole program.
#pragma once

#include "engine/BackAgent.h"

#include <set>
#include <string>

class CFontsAgent : public CBackAgent {
    DECLARE_DYNAMIC(CFontsAgent)
public:
    CFontsAgent() = default;
    ~CFontsAgent() override;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                      int* pnCount2) override;
    int AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) override;
    int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) override;
    int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) override;
    int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int CanExpand() override;
    CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    CString GetDataFolderName() override;
    int OnShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl1,
                      LPCITEMIDLIST pidl2) override;
    int OnSetShellChange(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetRoot, LONG lEvent, LPCITEMIDLIST pidl1,
                         LPCITEMIDLIST pidl2) override;
    int GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                      int cbBuffer) override;
    int MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int nPathOption, LPCTSTR lpszDestFolder,
                       LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) override;
    int HasBackupData(TCHAR chDrive) override;
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;

    // Finds the Fonts folder, its Control Panel item's label and icons, and opens the font table: 1 or 0.
    int Init();
    // One enumeration of the font table for the whole program: a non-empty key path opens the key and starts at the
    // first value, an empty one moves on; all three outputs null closes it. The registry's result code.
    static LONG GetNextNameValue(HKEY hRoot, LPCTSTR lpszKeyPath, CString* pName, CString* pData);

    const CString& GetFontsFolder() const { return m_strFontsFolder; }

private:
    int InsertFontItem(CShellTreeCtrl* pTree, HTREEITEM hRoot, const CString& strPath, const CString& strText,
                       DWORD dwFlags);
    int FontIcon();
    int ApplyShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetRoot, LONG lEvent, LPCITEMIDLIST pidl,
                         bool bRestore);
    void RestartFontsWindow();
    // Adds the checked fonts of a restore tree's Fonts item that stand in the Fonts folder to the program's fonts.
    void InstallRestoredFonts(CShellTreeCtrl* pTree, HTREEITEM hRoot);

    CString m_strFontsFolder;
    CString m_strRootLabel;
    int m_nOpenIcon = -1;
    int m_nClosedIcon = -1;
    int m_nFontIcon = -1;
    CString m_strFontKey;
    int m_bRestartPending = 0;
    // The font files this agent added to the program's fonts.
    std::set<std::u16string> m_installed;
};
