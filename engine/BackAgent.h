// CBackAgent: the base of every backup source ("agent"): the desktop, the favorites, the fonts, the documents
// folder, the mail programs, the user profile and plain files and folders.
//
// The backup manager keeps one registered instance of each agent, in registration order, and drives it through the
// operations below: the selection trees call them to fill and expand their items, to apply shell change
// notifications and to write selection files; copy jobs ask them, on the GUI thread through the manager's window,
// about every node and file. Every tree item carries a CShellItemData whose agent is the item's owner.
//
// The tree and job operations that every agent must give its own meaning (filling, expanding, naming, answering a
// copy job) have neutral bodies here: an agent that does not override them adds nothing to a tree and has every node
// of a job skipped, so that agents still being built are harmless. The others carry the base behaviour the agents
// share. GUI thread only.
#pragma once

#include "engine/ShellFolderPtr.h"

#include "platform/afx/Object.h"
#include "platform/afx/String.h"
#include "platform/afx/StringList.h"
#include "platform/shell/idlist.h"
#include "platform/ui/commctrl.h"

class CShellItemData;
class CShellTreeCtrl;

// Node answers and path answers of a copy job.
constexpr int kNodeDescend = 0;
constexpr int kNodeSkip = 1;
constexpr int kNodeWhole = 4;
constexpr int kPathMapped = 0;
constexpr int kPathSkip = 1;

// Results of FindTreeItemForPath.
constexpr int kPathNotInTree = 0;
constexpr int kPathFolderFound = 1;
constexpr int kPathItemFound = 2;
constexpr int kPathOutsideAgent = 4;

class CBackAgent : public CObject {
    DECLARE_DYNAMIC(CBackAgent)
public:
    CBackAgent() = default;
    ~CBackAgent() override = default;
    CBackAgent(const CBackAgent&) = delete;
    CBackAgent& operator=(const CBackAgent&) = delete;

    // Called by CBackManager::AddAgent; the agent is kept only when the result is non-zero.
    virtual int OnRegister() = 0;
    // Inserts the children of an item of a backup-source or Auto-Backup tree.
    virtual int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // Inserts the agent's root items under the top item of a backup-source tree.
    virtual int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop);
    virtual int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText);
    virtual int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath);
    virtual int FillMonitorRoots(CShellTreeCtrl* pTree, HTREEITEM hTop);
    virtual int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                              int* pnCount2);
    virtual int AfterBackup(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot);
    virtual int PrepareRestore(CShellTreeCtrl* pTree, HTREEITEM hRoot, DWORD dwFlags, int* pnCount1, int* pnCount2);
    virtual int AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot);
    // The item's label in selection paths (root items "%s:"); 1 when done, 0 for no item.
    virtual int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel);
    // The item's name in selection files and 'D' (folder) or 'F' (file).
    virtual int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType);
    virtual void OnLButtonDblClk(CShellItemData* pData);
    virtual int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem);
    virtual int CanExpand();
    virtual CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // The item's list; the caller copies it and does not free it.
    virtual LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // The agent's folder inside a backup set, and its identity in lookups by name.
    virtual CString GetDataFolderName() = 0;
    virtual int OnShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl1,
                              LPCITEMIDLIST pidl2);
    virtual int OnSetShellChange(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetRoot, LONG lEvent,
                                 LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    virtual int GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer);
    virtual int GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer);
    virtual int MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource,
                              LPTSTR lpszDest, int cbBuffer);
    virtual int MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int nPathOption, LPCTSTR lpszDestFolder,
                               LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer);
    virtual HTREEITEM FindCoveringItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszPath);
    virtual int HasBackupData(TCHAR chDrive);
    virtual int CanStartJob(HWND hOwner, int nPrompt);
    virtual int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                                    HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState);

    // Brings a tree's drive items up to date after a drive, media or share change. Only the plain-file agent
    // shows drives; the manager reaches its operation through the agent list, as the engine knows no agent class.
    virtual int UpdateDriveItems(CShellTreeCtrl* pTree, LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    // The Outlook Express agent's mail identities, reached by the manager the same way: the text of its root's
    // child that is not an identity (empty for every other agent), and the pairing of the set's identities with
    // this computer's on restore (0, with the lists left alone, for every other agent).
    virtual CString GetMatchName() const;
    virtual int SetIdentityPairs(CStringList& sources, CStringList& targets);

    int IsInitialized() const { return m_bInitialized; }

    // ---- Shared operations ----

    // Lists the shell children of an item (by its flags: files with 0x01, hidden items with 0x02).
    static int ExpandItem(CShellTreeCtrl* pTree, HTREEITEM hItem);
    static HTREEITEM InsertShellItem(CShellTreeCtrl* pTree, HTREEITEM hParent, HTREEITEM hAfter,
                                     const CShellFolderPtr& folder, LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild,
                                     CBackAgent* pAgent, DWORD dwFlags);
    static HTREEITEM InsertShellItemWithImages(CShellTreeCtrl* pTree, HTREEITEM hParent, const CShellFolderPtr& folder,
                                               LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild, CBackAgent* pAgent,
                                               DWORD dwFlags, int nImage, int nSelectedImage);
    static HTREEITEM InsertShellItemEx(CShellTreeCtrl* pTree, HTREEITEM hParent, const CShellFolderPtr& folder,
                                       LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild, CBackAgent* pAgent,
                                       DWORD dwFlags, int nImage, LPCTSTR lpszText);
    static HTREEITEM InsertTextItem(CShellTreeCtrl* pTree, HTREEITEM hParent, CBackAgent* pAgent, int nChildren,
                                    int nImage, LPCTSTR lpszText);
    static HTREEITEM InsertPathItem(CShellTreeCtrl* pTree, HTREEITEM hParent, LPCITEMIDLIST pidl, CBackAgent* pAgent,
                                    int nChildren, int nImage, LPCTSTR lpszText);
    // Fills the requested fields of an insert record from the shell; FALSE (text "Error") when the name is missing.
    static BOOL FillItemFromShell(CShellTreeCtrl* pTree, TVITEMW& item, CShellItemData* pData);
    // Creates every missing level of a folder path: 0 at the first level that can be neither found nor made.
    static int MakeDirectoryPath(LPCTSTR lpszPath);
    static int FindTreeItemByPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszAgentFolder,
                                  LPCTSTR lpszPath, LPCTSTR lpszAgentRoot, HTREEITEM* phItem, UINT* pnState,
                                  HTREEITEM* phChild, UINT* pnChildState);
    // Whether a change at the list concerns a backup-source tree: not filtered, and not inside "KovraData" or
    // "RECYCLER" at a drive's root (compared without regard to case).
    static int IsWatchedPath(CShellTreeCtrl* pTree, LPCITEMIDLIST pidl);
    // The node answer by check state, with the node's path ("\\?\" + path) written to the buffer.
    static int NodeAnswerByState(CShellTreeCtrl* pTree, HTREEITEM hItem, const CString& strPath, LPTSTR lpszPath,
                                 int cbBuffer);

protected:
    // 0 after construction; an agent may set it to 1 in OnRegister.
    int m_bInitialized = 0;

private:
    int ApplyCreate(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl, LPCTSTR lpszSetRoot,
                    bool bRestore);
    int ApplyDelete(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, LPCTSTR lpszSetRoot);
    int ApplyUpdate(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, LPCTSTR lpszSetRoot);
};
