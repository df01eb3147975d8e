// CBackManager: the hidden window "BackManager" that holds the registered backup agents, fills the selection trees
// with their items and answers for them.
//
// One object per process, embedded in the application object and created at start-up, before the agents are
// registered. Agents are kept in registration order and are owned by whoever registered them (the start-up
// routine), never by the manager. The trees reach the manager through Get(). GUI thread only.
//
// What stands here: the window, the agent list, the filling of backup-source, Auto-Backup and restore trees, the
// forwarding of every tree item's questions to its agent, shell change notifications of the trees, and the lookups
// the pages use. Copy jobs and the copy-progress dialog join later; until then there is never a job or a progress
// dialog.
#pragma once

#include "engine/ShellFolderPtr.h"

#include "platform/afx/PtrList.h"
#include "platform/afx/StringList.h"
#include "platform/afx/Wnd.h"
#include "platform/shell/idlist.h"
#include "platform/ui/commctrl.h"

class CBackAgent;
class CShellTreeCtrl;

class CBackManager : public CWnd {
    DECLARE_DYNAMIC(CBackManager)
public:
    CBackManager();
    ~CBackManager() override;

    // The process's manager (the most recently constructed one still alive), or null.
    static CBackManager* Get();

    // Reads the computer and user names and creates the hidden window: extended style WS_EX_TOPMOST, class "STATIC",
    // text "BackManager", style WS_OVERLAPPEDWINDOW (never shown), at 0,0 and 100 x 100, no parent.
    BOOL Create();

    // Asks the agent's OnRegister and appends it when that accepts: 1 when appended, else 0.
    int AddAgent(CBackAgent* pAgent);
    // Forgets every registered agent (they stay their owner's). Called at shut-down before the agents go.
    void RemoveAllAgents();
    int GetAgentCount() const { return static_cast<int>(m_agents.GetCount()); }
    CBackAgent* GetAgent(int nIndex) const;

    // Tree filling: the My Computer root (or the set folder) and every agent's items, in registration order.
    int FillSourceTree(CShellTreeCtrl* pTree);
    int FillMonitorTree(CShellTreeCtrl* pTree);
    int FillRestoreTree(CShellTreeCtrl* pTree, LPCTSTR lpszSetPath);

    // Questions about one tree item, answered by the item's agent.
    void OnLButtonDblClk(CShellTreeCtrl* pTree, HTREEITEM hItem);
    int ExpandItem(CShellTreeCtrl* pTree, HTREEITEM hItem);
    LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem);
    CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem);
    int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem);
    CString GetDataFolderName(CShellTreeCtrl* pTree, HTREEITEM hItem);
    int CanExpand(CShellTreeCtrl* pTree, HTREEITEM hItem);
    int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType);
    int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel);

    int ProcessShellNotify(CShellTreeCtrl* pTree, LONG lEvent, LPCTSTR lpszSetRoot, LPCITEMIDLIST pidl1,
                           LPCITEMIDLIST pidl2);

    // The agent of the first root item that is not unchecked and whose agent has that data-folder name.
    CBackAgent* FindAgentItem(CShellTreeCtrl* pTree, LPCTSTR lpszName);
    BOOL CollectAgents(CShellTreeCtrl* pTree, LPCTSTR lpszPath, CPtrList& agents);
    // 1 when any registered agent finds a backup on the drive (in list order), else 0.
    int HasBackupData(TCHAR chDrive);
    int IsBackupDeviceAvailable(LPCTSTR lpszPath);
    void SetRestoreOptions(int nPathOption, LPCTSTR lpszDestPath, int nCoverOption);
    // Whether a path is, or lies below, a folder every backup leaves out ("System Volume Information" and
    // "RECYCLER" at a drive's root), compared by whole names without regard to case.
    static int IsExcludedFolder(LPCTSTR lpszPath);

    // Whether a copy-progress dialog is attached (only while one runs).
    int AttachProgressDlg(CWnd* pDialog);
    BOOL HasProgressDlg() const { return m_pProgressDlg != nullptr; }
    CWnd* GetProgressDlg() const { return m_pProgressDlg; }

    // Cancels every running job and returns once none runs; the program calls it at shut-down.
    void CancelAllJobs();
    int GetJobCount() const { return 0; }

    const CString& GetSetName() const { return m_strSetName; }

    // Sorts an item's children in shell order (their folder's CompareIDs on their last item ids).
    static void SortChildren(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // A debug entry in the application's system log (printf-style, the source file and line first).
    static void LogDebug(LPCTSTR lpszFormat, LPCTSTR lpszFile, int nLine, LPCTSTR lpszText);

protected:
    CBackAgent* AgentOf(CShellTreeCtrl* pTree, HTREEITEM hItem) const;
    int FillTree(CShellTreeCtrl* pTree, int nType, LPCTSTR lpszSetPath);

    int m_nRestorePathOption = 1;
    CString m_strDestPath;
    int m_nCoverOption = 0;
    CWnd* m_pProgressDlg = nullptr;
    CPtrList m_agents;
    CString m_strComputerName;
    CString m_strUserName;
    CString m_strSetName;

    static CStringList& ExcludedFolders();
};
