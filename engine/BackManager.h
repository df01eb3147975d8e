// CBackManager: the hidden window "BackManager" that holds the registered backup agents, fills the selection trees
// with their items and answers for them.
//
// One object per process, embedded in the application object and created at start-up, before the agents are
// registered. Agents are kept in registration order and are owned by whoever registered them (the start-up
// routine), never by the manager. The trees reach the manager through Get(). GUI thread only.
//
// Copy jobs: CreateJob turns a tree's selection into one copy-library job (CBackJob). The library calls the job
// callback on its worker thread; the callback turns every question into a message sent to the manager's window,
// so that agents, trees and the manager's data are only touched on the GUI thread, and forwards every event to the
// window that owns the job (WM_JOB_EVENT). Events the owner only shows travel through the job's queue, which the
// manager's window hands to the owner when first asked (WM_JOB_QUEUED_EVENTS), then on a timer while events keep
// coming, and always before it answers any question of the job, so the owner and the agents see a job's events and
// questions in the order the library gave them. The GUI thread therefore never waits for a job's worker without
// serving the messages sent to it.
#pragma once

#include "engine/BackJob.h"
#include "engine/ShellFolderPtr.h"

#include "platform/afx/MapPtrToPtr.h"
#include "platform/afx/PtrList.h"
#include "platform/afx/StringList.h"
#include "platform/afx/Wnd.h"
#include "platform/shell/idlist.h"
#include "platform/ui/commctrl.h"

class CBackAgent;
class CShellTreeCtrl;

// Messages of the manager window, all sent from a job's worker thread; lParam is always the CBackJob.
constexpr UINT WM_JOB_ERROR = 0x0400 + 1001;          // wParam the Win32 error of a file; result the answer
constexpr UINT WM_JOB_DONE = 0x0400 + 1003;           // the job is deleted
constexpr UINT WM_JOB_MAP_PATH = 0x0400 + 1004;       // result 1 skips; else the job's tszDestPath is the target
constexpr UINT WM_JOB_AGENT_MAP_PATH = 0x0400 + 1005; // result the node answer
constexpr UINT WM_JOB_FINISHED = 0x0400 + 1006;       // wParam the progress record's cancel word

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
    // The Outlook Express identities of a restore tree: the first root item of that agent that is not unchecked;
    // the text of each of its children that is not unchecked and is not the agent's match name is appended to the
    // list. 1 when any was added, else 0.
    int GetCheckedOEIdentities(CShellTreeCtrl* pTree, CStringList& identities);
    // Unchecks those children, with their parents' and children's marks following.
    void UncheckOEIdentities(CShellTreeCtrl* pTree);
    // Hands the set's identities and the ones of this computer they go to (parallel lists) to the agent of every
    // Outlook Express root item that is not unchecked; the agent takes the lists' contents. 1 when every agent
    // took every pair, 0 when any did not or no root item was found.
    int SetOEIdentityLists(CShellTreeCtrl* pTree, CStringList& sources, CStringList& targets);
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

    // One copy-library job over the tree's selection, to the destination root, owned by the window (which gets
    // WM_JOB_EVENT for every event and WM_JOB_ERROR when asked about an error). Error mode: 0 ask the owner, 2 abort
    // at every error, other values the manager's default answer. TRUE with *ppJob set when the job runs; FALSE with
    // *ppJob null when the library refused it (nothing is left behind).
    BOOL CreateJob(CBackJob** ppJob, HWND hOwnerWnd, DWORD dwFlags, int nErrorMode, CShellTreeCtrl* pTree,
                   LPCTSTR lpszDest);
    // The same, for a copy job that takes over the totals of an earlier counting job.
    BOOL CreateJob(CBackJob** ppJob, HWND hOwnerWnd, DWORD dwFlags, int nErrorMode, const JOB_ESTIMATES* pEstimates,
                   CShellTreeCtrl* pTree, LPCTSTR lpszDest);
    // CBackJob::Cancel of a running job; 0 for a job the manager does not know.
    BOOL CancelJob(CBackJob* pJob);
    // Changes a running job's error mode; returns the mode, or 0 for a job the manager does not know.
    int SetJobErrorMode(CBackJob* pJob, int nMode);
    BOOL IsJobRunning(CBackJob* pJob) const;

    // Cancels every running job and returns once none runs (serving the messages the jobs send meanwhile, for at
    // most the given time); the program calls it at shut-down. TRUE when no job is left.
    BOOL CancelAllJobs(DWORD dwTimeoutMs = 60000);
    int GetJobCount() const { return static_cast<int>(m_jobs.GetCount()); }

    // The set folder of a destination root: "<dest>\KovraData\<user>@<computer>".
    CString GetSetPath(LPCTSTR lpszDest) const;
    const CString& GetUserName() const { return m_strUserName; }
    const CString& GetComputerName() const { return m_strComputerName; }

    // The copy library's job callback: runs on the job's worker thread.
    static int CALLBACK JobCallback(HANDLE hJob, LPVOID pUserData, DWORD dwEvent, DWORD dwCode, HWND hTree,
                                    TVITEMW* pItem, LPWSTR lpszSource, LPWSTR lpszDest, KOVRA_PROGRESS* pProgress);

    const CString& GetSetName() const { return m_strSetName; }

    // Sorts an item's children in shell order (their folder's CompareIDs on their last item ids).
    static void SortChildren(CShellTreeCtrl* pTree, HTREEITEM hItem);
    // A debug entry in the application's system log (printf-style, the source file and line first).
    static void LogDebug(LPCTSTR lpszFormat, LPCTSTR lpszFile, int nLine, LPCTSTR lpszText);

protected:
    CBackAgent* AgentOf(CShellTreeCtrl* pTree, HTREEITEM hItem) const;
    int FillTree(CShellTreeCtrl* pTree, int nType, LPCTSTR lpszSetPath);

    LRESULT OnJobError(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobMapPath(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobAgentMapPath(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobFinished(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobQueuedEvents(WPARAM wParam, LPARAM lParam);
    // The delivery timer: every job's queue goes to its owner; the timer stops once no job has events coming.
    void OnTimer(UINT_PTR nIDEvent);
    // The job's queued events go to its owner before anything else of the job is handled.
    void DeliverQueuedEvents(CBackJob* pJob);
    // The tree item of the job's current node, or null.
    static HTREEITEM CurrentItem(CBackJob* pJob);

    int m_nRestorePathOption = 1;
    CString m_strDestPath;
    int m_nCoverOption = 0;
    CWnd* m_pProgressDlg = nullptr;
    CPtrList m_agents;
    CString m_strComputerName;
    CString m_strUserName;
    CString m_strSetName;
    CMapPtrToPtr m_jobs;
    BOOL m_bDeliveryTimer = FALSE;

    static CStringList& ExcludedFolders();

    DECLARE_MESSAGE_MAP()
};
