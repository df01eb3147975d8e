// CBackJob: the main program's object for one copy-library job.
//
// Only the backup manager creates, starts, cancels and deletes it. It keeps what the job was started with, the
// window that owns the job (the dialog or page that asked for it, which gets every job event), the manager's
// window, and a status record that it brings up to date from the library's progress record on every callback and
// hands to the owner window with each event (WM_JOB_EVENT, lParam = the record's address; the owner reads it only
// while it handles the message).
//
// UpdateStatus and Notify run on the library's worker thread; everything else on the GUI thread.
#pragma once

#include "copylib/Brannic.h"

#include "platform/afx/Object.h"
#include "platform/afx/String.h"

class CShellTreeCtrl;

// Job events to the owning window: wParam the library's event, lParam the job's JOB_STATUS.
constexpr UINT WM_JOB_EVENT = 0x0400 + 1002;

// The status record that travels with WM_JOB_EVENT between windows of the same process.
struct JOB_STATUS {
    int nAnswer; // the answer the manager's callback is about to give the library for this event
    int nCode;   // the event's code: 0, a Win32 error or 5003
    DWORD dwEstimatedDirs;
    DWORD dwTotalDirs;
    DWORD dwTotalDirsCopied;
    DWORD dwEstimatedFiles;
    DWORD dwTotalFiles;
    DWORD dwTotalFilesCopied;
    LONGLONG llSingleFileSize;
    LONGLONG llSingleBytesTransferred;
    LONGLONG llEstimatedSize;
    LONGLONG llTotalFileSize;
    LONGLONG llTotalBytesTransferred;
    WCHAR tszSrcPath[2048];
    WCHAR tszDestPath[2048];
    TVITEMW* pTreeItem; // the library's item buffer of the current tree node (events 18 and 34)
    // The sums of the two counts that the agents' preparation steps reported when the job was created: files and
    // bytes that the agents handle outside the copy library.
    int nPrepareCount1;
    int nPrepareCount2;
};

// The six estimate values a copy job may take over from an earlier counting job.
struct JOB_ESTIMATES {
    DWORD dwEstimatedDirs;
    DWORD dwTotalDirs;
    DWORD dwEstimatedFiles;
    DWORD dwTotalFiles;
    LONGLONG llEstimatedSize;
    LONGLONG llTotalFileSize;
};

class CBackJob : public CObject {
public:
    explicit CBackJob(HWND hManagerWnd = nullptr);
    ~CBackJob() override;
    CBackJob(const CBackJob&) = delete;
    CBackJob& operator=(const CBackJob&) = delete;

    // A tree job over the tree's selection. On failure the job's earlier settings are put back (the counts stay).
    BOOL Start(HWND hOwnerWnd, CShellTreeCtrl* pTree, LPCTSTR lpszDest, DWORD dwFlags,
               KOVRA_PROGRESS_ROUTINE pfnCallback, LPVOID pUserData, int nCount1, int nCount2, LPCTSTR lpszName);
    // A job over a path; the settings are stored only when the library took the job.
    BOOL StartPath(HWND hOwnerWnd, LPCTSTR lpszSource, LPCTSTR lpszDest, DWORD dwFlags,
                   KOVRA_PROGRESS_ROUTINE pfnCallback, LPVOID pUserData, int nCount1, int nCount2, LPCTSTR lpszName);
    // TRUE when no job runs or the library took the cancel.
    BOOL Cancel();

    // Stores the answer and the code and sends WM_JOB_EVENT to the owner window while it exists. Returns 0.
    int Notify(DWORD dwEvent, int nAnswer, int nCode);
    // Copies the library's counters (the estimates only while they are not fixed), the item pointer and each
    // path that is given.
    void UpdateStatus(const KOVRA_PROGRESS* pProgress, TVITEMW* pTreeItem, LPCWSTR lpszSource, LPCWSTR lpszDest);
    // The job takes over the totals of an earlier counting job and keeps them.
    void FixEstimates(const JOB_ESTIMATES& estimates);

    DWORD GetFlags() const { return m_dwFlags; }
    JOB_STATUS& GetStatus() { return m_status; }
    LPWSTR GetSrcPath() { return m_status.tszSrcPath; }
    HWND GetOwnerWnd() const { return m_hOwnerWnd; }
    HWND GetManagerWnd() const { return m_hManagerWnd; }
    CShellTreeCtrl* GetTree() const { return m_pTree; }
    HANDLE GetHandle() const { return m_hJob; }
    int GetPrepareCount1() const { return m_status.nPrepareCount1; }
    int GetPrepareCount2() const { return m_status.nPrepareCount2; }
    int GetErrorMode() const { return m_nErrorMode; }
    void SetErrorMode(int nMode) { m_nErrorMode = nMode; }
    BOOL IsEstimatesFixed() const { return m_bEstimatesFixed; }

private:
    int m_nErrorMode = 0;
    HWND m_hOwnerWnd = nullptr;
    HWND m_hManagerWnd = nullptr;
    HANDLE m_hJob = nullptr;
    CShellTreeCtrl* m_pTree = nullptr;
    BOOL m_bEstimatesFixed = FALSE;
    CString m_strSource;
    CString m_strDest;
    KOVRA_PROGRESS_ROUTINE m_pfnCallback = nullptr;
    LPVOID m_pUserData = nullptr;
    CString m_strName;
    DWORD m_dwFlags = 0;
    JOB_STATUS m_status{};
};
