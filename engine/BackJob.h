// CBackJob: the main program's object for one copy-library job.
//
// Only the backup manager creates, starts, cancels and deletes it. It keeps what the job was started with, the
// window that owns the job (the dialog or page that asked for it, which gets every job event), the manager's
// window, and a status record that it brings up to date from the library's progress record on every callback and
// hands to the owner window with each event (WM_JOB_EVENT, lParam = the address of a status record; the owner
// reads it only while it handles the message).
//
// The events an owner only shows or logs need no answer, so the worker does not wait for them: Notify queues a
// copy of the record with the event, and the manager's window hands the queue to the owner on the GUI thread,
// oldest first: asked once (WM_JOB_QUEUED_EVENTS, posted), it goes on delivering on a timer for as long as events
// keep coming, so a busy job costs the GUI thread one turn per timer tick rather than one per event. Everything
// that does wait for the GUI thread (the manager's questions, the error question, the end of the job) first has
// the queue delivered, so the owner sees every event in the order the library gave them and before any question
// that follows them. The end event travels as before: sent, with the live record. A worker that gets far ahead of
// the GUI thread waits for the queue to be delivered.
//
// UpdateStatus and Notify run on the library's worker thread; everything else on the GUI thread.
#pragma once

#include "copylib/Brannic.h"

#include "platform/afx/Object.h"
#include "platform/afx/String.h"

#include <mutex>
#include <string>
#include <vector>

class CShellTreeCtrl;

// Job events to the owning window: wParam the library's event, lParam the job's JOB_STATUS.
constexpr UINT WM_JOB_EVENT = 0x0400 + 1002;
// To the manager's window: hand the job's queued events to its owner (lParam the job).
constexpr UINT WM_JOB_QUEUED_EVENTS = 0x0400 + 1007;

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

    // Stores the answer and the code and tells the owner window, while it exists, of the event: the end event (and
    // every event of a job without a manager window) is sent at once, after the events queued before it; the
    // others are queued for the GUI thread. Returns 0.
    int Notify(DWORD dwEvent, int nAnswer, int nCode);
    // GUI thread: sends the owner window the events queued so far, oldest first. Events queued meanwhile wait for
    // the next delivery, so that the thread keeps serving its other messages while a job runs.
    void DeliverQueuedEvents();
    // GUI thread, on the manager's timer: TRUE when nothing is queued, in which case the next event queued asks the
    // manager's window again; FALSE while the timer is still needed.
    BOOL EndDeliveryWhenIdle();
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
    // One queued event: the record as it was (the preparation counts never change while the job runs), its two
    // paths kept in the queue's text buffer.
    struct QueuedStatus {
        DWORD dwEvent;
        int nAnswer;
        int nCode;
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
        TVITEMW* pTreeItem;
        size_t nSrcOffset;
        size_t nSrcLength;
        size_t nDestOffset;
        size_t nDestLength;
    };
    // Queues a copy of the record. bAsk tells that the manager's window is to be asked for a delivery, bFull that
    // the queue is long enough for the worker to wait until it is delivered.
    void Enqueue(DWORD dwEvent, bool& bAsk, bool& bFull);
    bool HasQueuedEvents();

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

    // The queue between the worker and the GUI thread: events from m_nNextQueued on are still to be delivered.
    std::mutex m_queueLock;
    std::vector<QueuedStatus> m_queue;
    std::u16string m_queuedPaths;
    size_t m_nNextQueued = 0;
    // Set when the manager's window was asked to deliver; it stays set while the manager's timer delivers.
    bool m_bDeliveryAsked = false;
};
