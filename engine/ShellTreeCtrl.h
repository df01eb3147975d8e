// CShellTreeCtrl: the check tree in which the user picks what to back up or restore.
//
// The backup manager fills its top level with the registered agents' roots; each expansion is done by the agent
// that owns the item. The tree adds the shell's context menu on items, a selection menu right of an item
// ("Unselect All", "Import Selection", "Export Selection"), double-click opening, shell change notifications, a
// file-name filter, selection files (".rpr") and reloading that keeps the check marks.
//
// Tree types: 1 backup source, 2 restore of one backup set, 3 Auto-Backup source.
//
// Selection files are UTF-16LE text with a byte-order mark and CR LF line ends: "#Version : 1.0.0", "#Date :
// YYYY/MM/DD", then per checked folder "D\t1\t<path>", per folder of checked files "D\t2\t<folder>" once, and per
// checked file "\tF\t1\t<name>"; partly checked items are descended into. A name keeps its leading blanks and TABs;
// the characters that would break a line are written "|n" and "|r" (and '|' itself "||"), which no Windows name
// holds. A file is written whole or not at all, and writing or reading reports failure (the marks are then left as
// they were).
//
// Shell notifications of the tree's own registration arrive as WM_USER+511 with wParam pointing to two item id
// lists and lParam the event (platform/shell/changenotify.h).
//
// GUI thread only.
#pragma once

#include "engine/FileFilter.h"
#include "engine/ItemIDList.h"
#include "engine/LoadAnimTreeCtrl.h"
#include "engine/ShellContextMenu.h"

constexpr UINT WM_SHELL_NOTIFY = 0x0400 + 511;
constexpr UINT WM_TREE_EXPAND_ROOT = 0x0400 + 512;

constexpr int kTreeBackup = 1;
constexpr int kTreeRestore = 2;
constexpr int kTreeMonitor = 3;

class CShellTreeCtrl : public CLoadAnimTreeCtrl {
    DECLARE_DYNAMIC(CShellTreeCtrl)
public:
    CShellTreeCtrl();
    ~CShellTreeCtrl() override;

    BOOL InitTree(UINT nStateBitmapId, UINT nMenuId, UINT nCursorId, int nOwnerDialogId, int nTreeType,
                  BOOL bRegisterNotify);
    int GetTreeType() const { return m_nTreeType; }
    void SetCallbackFlags(int nFlags) { m_nCallbackFlags = nFlags & 0x63; }
    int GetCallbackFlags() const { return m_nCallbackFlags; }

    int SetFilter(LPCTSTR lpszText);
    int AddFilter(LPCTSTR lpszText);
    int GetFilterText(CString& strText) const;
    const CFileFilter& GetFilter() const { return m_filter; }
    int IsFilteredPath(LPCTSTR lpszPath) const { return m_filter.IsFilteredPath(lpszPath); }
    int IsFilteredItem(LPCITEMIDLIST pidl) const { return m_filter.IsFilteredItem(pidl); }

    BOOL HasCheckedItems() const;
    // Whether a source item would back the destination's "KovraData" store up into itself: a not unchecked drive
    // item of the plain-file agent on the destination's drive that is checked whole, or whose "KovraData" child is
    // not unchecked.
    BOOL IsBackupStoreSelected(LPCTSTR lpszDestination) const;
    void Reload(BOOL bOnlyIfPartial);

    BOOL RegisterShellNotify(BOOL bOn, LPCTSTR lpszPath);
    int ProcessShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);

    // Writes the checked items below the start item (0: the root item's children); FALSE when the file could not
    // be written (an older file of the same name is then left as it was).
    BOOL SaveSelecton(LPCTSTR lpszPath, HTREEITEM hStart);
    // Checks the items a selection file lists; FALSE, with the marks left as they were, when it cannot be read.
    BOOL LoadSelection(LPCTSTR lpszPath);

    int LoadChildren(HTREEITEM hItem) override;
    BOOL CanLoadChildren(HTREEITEM hItem) override;
    BOOL DestroyWindow() override;

    // The tree's "Refresh" of an item (command 19999 and F5).
    void RefreshCommand(HTREEITEM hItem);
    // The selection-file text of a name, and back (exposed for the tests of the format).
    static CString EncodeName(const CString& strName);
    static CString DecodeName(const CString& strText);

protected:
    LRESULT OnShellNotifyMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnExpandRootMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnRButtonDownMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnRButtonUpMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnContextMenuMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDblClkMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnKeyDownMsg(WPARAM wParam, LPARAM lParam);
    void OnDeleteItem(NMHDR* pNMHDR, LRESULT* pResult);
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    void WriteSelectionItem(CString& strOut, HTREEITEM hItem, const CString& strPrefix);
    int ParseSelectionLine(CString& strLine, CString& strFolder, TCHAR& chType, int& nDepth);
    void ApplySelectionPath(CString strPath);
    void ExpandForSelection(HTREEITEM hItem);
    void RunSelectionMenu(POINT ptScreen);

    // Members in the order of the tree's data model.
    int m_nOwnerDialogId = 0;
    HMODULE m_hShell32 = nullptr;
    ULONG m_nNotifyId = 0;
    int m_nTreeType = kTreeBackup;
    int m_nCallbackFlags = 0;
    CShellContextMenu m_contextMenu;
    HTREEITEM m_hRefreshItem = nullptr;
    CItemIDList m_rootList;
    CFileFilter m_filter;
    CString m_strLastFolder;
    UINT m_nMenuId = 0;

    DECLARE_MESSAGE_MAP()
};
