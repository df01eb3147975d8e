#include "engine/BackJob.h"

#include "engine/ShellTreeCtrl.h"

#include "platform/base/strings.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <cstring>
#include <memory>

namespace {

void CopyPath(WCHAR* pBuffer, LPCWSTR lpszPath) {
    if (lpszPath)
        lstrcpynW(pBuffer, lpszPath, 2048);
}

// Events a worker may queue before it waits for the GUI thread to take them.
constexpr size_t kMaxQueuedEvents = 2048;

} // namespace

CBackJob::CBackJob(HWND hManagerWnd) : m_hManagerWnd(hManagerWnd) {
    std::memset(&m_status, 0, sizeof(m_status));
}

CBackJob::~CBackJob() {
    if (m_hJob) {
        KovraCancelJob(m_hJob);
        m_hJob = nullptr;
    }
}

BOOL CBackJob::Start(HWND hOwnerWnd, CShellTreeCtrl* pTree, LPCTSTR lpszDest, DWORD dwFlags,
                     KOVRA_PROGRESS_ROUTINE pfnCallback, LPVOID pUserData, int nCount1, int nCount2, LPCTSTR lpszName) {
    const HWND hOldOwner = m_hOwnerWnd;
    CShellTreeCtrl* const pOldTree = m_pTree;
    const CString strOldDest = m_strDest;
    const KOVRA_PROGRESS_ROUTINE pfnOldCallback = m_pfnCallback;
    const LPVOID pOldUserData = m_pUserData;
    const CString strOldName = m_strName;
    const DWORD dwOldFlags = m_dwFlags;

    m_hOwnerWnd = hOwnerWnd;
    m_pTree = pTree;
    m_strDest = lpszDest ? lpszDest : _T("");
    m_pfnCallback = pfnCallback;
    m_pUserData = pUserData;
    m_strName = lpszName ? lpszName : _T("");
    m_dwFlags = dwFlags;
    m_status.nPrepareCount1 = nCount1;
    m_status.nPrepareCount2 = nCount2;

    HWND hTree = pTree ? pTree->GetSafeHwnd() : nullptr;
    HANDLE hJob = nullptr;
    if (KovraCreateJob(&hJob, m_strName, hTree, _T(""), m_strDest, m_dwFlags, m_pfnCallback, m_pUserData) == 0) {
        m_hJob = hJob;
        return TRUE;
    }
    m_hOwnerWnd = hOldOwner;
    m_pTree = pOldTree;
    m_strDest = strOldDest;
    m_pfnCallback = pfnOldCallback;
    m_pUserData = pOldUserData;
    m_strName = strOldName;
    m_dwFlags = dwOldFlags;
    return FALSE;
}

BOOL CBackJob::StartPath(HWND hOwnerWnd, LPCTSTR lpszSource, LPCTSTR lpszDest, DWORD dwFlags,
                         KOVRA_PROGRESS_ROUTINE pfnCallback, LPVOID pUserData, int nCount1, int nCount2,
                         LPCTSTR lpszName) {
    m_status.nPrepareCount1 = nCount1;
    m_status.nPrepareCount2 = nCount2;
    HANDLE hJob = nullptr;
    if (KovraCreateJob(&hJob, lpszName, nullptr, lpszSource, lpszDest, dwFlags, pfnCallback, pUserData) != 0)
        return FALSE;
    m_hJob = hJob;
    m_hOwnerWnd = hOwnerWnd;
    m_strSource = lpszSource ? lpszSource : _T("");
    m_strDest = lpszDest ? lpszDest : _T("");
    m_dwFlags = dwFlags;
    m_pfnCallback = pfnCallback;
    m_pUserData = pUserData;
    m_strName = lpszName ? lpszName : _T("");
    return TRUE;
}

BOOL CBackJob::Cancel() {
    if (!m_hJob)
        return TRUE;
    if (KovraCancelJob(m_hJob) != 0)
        return FALSE;
    m_hJob = nullptr;
    return TRUE;
}

int CBackJob::Notify(DWORD dwEvent, int nAnswer, int nCode) {
    m_status.nAnswer = nAnswer;
    m_status.nCode = nCode;
    if (!::IsWindow(m_hOwnerWnd))
        return 0;
    if (dwEvent == KOVRA_JOB_END || !::IsWindow(m_hManagerWnd)) {
        if (m_hManagerWnd && HasQueuedEvents())
            ::SendMessageW(m_hManagerWnd, WM_JOB_QUEUED_EVENTS, 0, reinterpret_cast<LPARAM>(this));
        ::SendMessageW(m_hOwnerWnd, WM_JOB_EVENT, dwEvent, reinterpret_cast<LPARAM>(&m_status));
        return 0;
    }
    bool bAsk = false;
    bool bFull = false;
    Enqueue(dwEvent, bAsk, bFull);
    if (bFull || (bAsk && !::PostMessageW(m_hManagerWnd, WM_JOB_QUEUED_EVENTS, 0, reinterpret_cast<LPARAM>(this))))
        ::SendMessageW(m_hManagerWnd, WM_JOB_QUEUED_EVENTS, 0, reinterpret_cast<LPARAM>(this));
    return 0;
}

void CBackJob::Enqueue(DWORD dwEvent, bool& bAsk, bool& bFull) {
    const JOB_STATUS& s = m_status;
    const size_t nSrcLength = std::char_traits<char16_t>::length(s.tszSrcPath);
    const size_t nDestLength = std::char_traits<char16_t>::length(s.tszDestPath);
    std::lock_guard lock(m_queueLock);
    if (m_nNextQueued == m_queue.size()) {
        // Everything queued before was delivered: the buffers start again from their beginning.
        m_queue.clear();
        m_queuedPaths.clear();
        m_nNextQueued = 0;
    }
    bAsk = !m_bDeliveryAsked;
    m_bDeliveryAsked = true;
    QueuedStatus& q = m_queue.emplace_back();
    q.dwEvent = dwEvent;
    q.nAnswer = s.nAnswer;
    q.nCode = s.nCode;
    q.dwEstimatedDirs = s.dwEstimatedDirs;
    q.dwTotalDirs = s.dwTotalDirs;
    q.dwTotalDirsCopied = s.dwTotalDirsCopied;
    q.dwEstimatedFiles = s.dwEstimatedFiles;
    q.dwTotalFiles = s.dwTotalFiles;
    q.dwTotalFilesCopied = s.dwTotalFilesCopied;
    q.llSingleFileSize = s.llSingleFileSize;
    q.llSingleBytesTransferred = s.llSingleBytesTransferred;
    q.llEstimatedSize = s.llEstimatedSize;
    q.llTotalFileSize = s.llTotalFileSize;
    q.llTotalBytesTransferred = s.llTotalBytesTransferred;
    q.pTreeItem = s.pTreeItem;
    q.nSrcOffset = m_queuedPaths.size();
    q.nSrcLength = nSrcLength;
    m_queuedPaths.append(s.tszSrcPath, nSrcLength);
    q.nDestOffset = m_queuedPaths.size();
    q.nDestLength = nDestLength;
    m_queuedPaths.append(s.tszDestPath, nDestLength);
    bFull = m_queue.size() - m_nNextQueued >= kMaxQueuedEvents;
}

bool CBackJob::HasQueuedEvents() {
    std::lock_guard lock(m_queueLock);
    return m_nNextQueued < m_queue.size();
}

void CBackJob::DeliverQueuedEvents() {
    size_t nCount = 0;
    {
        std::lock_guard lock(m_queueLock);
        nCount = m_queue.size() - m_nNextQueued;
    }
    if (nCount == 0)
        return;
    // A record of its own for this delivery: an owner that runs a message loop while it handles an event may see
    // the next events delivered meanwhile, and still reads its own record afterwards.
    auto pStatus = std::make_unique<JOB_STATUS>();
    pStatus->nPrepareCount1 = m_status.nPrepareCount1;
    pStatus->nPrepareCount2 = m_status.nPrepareCount2;
    for (size_t i = 0; i < nCount; ++i) {
        DWORD dwEvent = 0;
        {
            std::lock_guard lock(m_queueLock);
            if (m_nNextQueued == m_queue.size())
                break;
            const QueuedStatus& q = m_queue[m_nNextQueued++];
            dwEvent = q.dwEvent;
            pStatus->nAnswer = q.nAnswer;
            pStatus->nCode = q.nCode;
            pStatus->dwEstimatedDirs = q.dwEstimatedDirs;
            pStatus->dwTotalDirs = q.dwTotalDirs;
            pStatus->dwTotalDirsCopied = q.dwTotalDirsCopied;
            pStatus->dwEstimatedFiles = q.dwEstimatedFiles;
            pStatus->dwTotalFiles = q.dwTotalFiles;
            pStatus->dwTotalFilesCopied = q.dwTotalFilesCopied;
            pStatus->llSingleFileSize = q.llSingleFileSize;
            pStatus->llSingleBytesTransferred = q.llSingleBytesTransferred;
            pStatus->llEstimatedSize = q.llEstimatedSize;
            pStatus->llTotalFileSize = q.llTotalFileSize;
            pStatus->llTotalBytesTransferred = q.llTotalBytesTransferred;
            pStatus->pTreeItem = q.pTreeItem;
            m_queuedPaths.copy(pStatus->tszSrcPath, q.nSrcLength, q.nSrcOffset);
            pStatus->tszSrcPath[q.nSrcLength] = 0;
            m_queuedPaths.copy(pStatus->tszDestPath, q.nDestLength, q.nDestOffset);
            pStatus->tszDestPath[q.nDestLength] = 0;
        }
        if (::IsWindow(m_hOwnerWnd))
            ::SendMessageW(m_hOwnerWnd, WM_JOB_EVENT, dwEvent, reinterpret_cast<LPARAM>(pStatus.get()));
    }
}

BOOL CBackJob::EndDeliveryWhenIdle() {
    std::lock_guard lock(m_queueLock);
    if (m_nNextQueued < m_queue.size())
        return FALSE;
    m_bDeliveryAsked = false;
    return TRUE;
}

void CBackJob::UpdateStatus(const KOVRA_PROGRESS* pProgress, TVITEMW* pTreeItem, LPCWSTR lpszSource, LPCWSTR lpszDest) {
    if (pProgress) {
        if (!m_bEstimatesFixed) {
            m_status.dwEstimatedDirs = pProgress->dwEstimatedDirs;
            m_status.dwTotalDirs = pProgress->dwTotalDirs;
            m_status.dwEstimatedFiles = pProgress->dwEstimatedFiles;
            m_status.dwTotalFiles = pProgress->dwTotalFiles;
            m_status.llEstimatedSize = pProgress->llEstimatedSize;
            m_status.llTotalFileSize = pProgress->llTotalFileSize;
        }
        m_status.dwTotalDirsCopied = pProgress->dwTotalDirsCopied;
        m_status.dwTotalFilesCopied = pProgress->dwTotalFilesCopied;
        m_status.llSingleFileSize = pProgress->llSingleFileSize;
        m_status.llSingleBytesTransferred = pProgress->llSingleBytesTransferred;
        m_status.llTotalBytesTransferred = pProgress->llTotalBytesTransferred;
    }
    m_status.pTreeItem = pTreeItem;
    CopyPath(m_status.tszSrcPath, lpszSource);
    CopyPath(m_status.tszDestPath, lpszDest);
}

void CBackJob::FixEstimates(const JOB_ESTIMATES& estimates) {
    m_bEstimatesFixed = TRUE;
    m_status.dwEstimatedDirs = estimates.dwEstimatedDirs;
    m_status.dwTotalDirs = estimates.dwTotalDirs;
    m_status.dwEstimatedFiles = estimates.dwEstimatedFiles;
    m_status.dwTotalFiles = estimates.dwTotalFiles;
    m_status.llEstimatedSize = estimates.llEstimatedSize;
    m_status.llTotalFileSize = estimates.llTotalFileSize;
}
