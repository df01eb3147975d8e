#include "engine/BackJob.h"

#include "engine/ShellTreeCtrl.h"

#include "platform/base/strings.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <cstring>

namespace {

void CopyPath(WCHAR* pBuffer, LPCWSTR lpszPath) {
    if (lpszPath)
        lstrcpynW(pBuffer, lpszPath, 2048);
}

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
    if (::IsWindow(m_hOwnerWnd))
        ::SendMessageW(m_hOwnerWnd, WM_JOB_EVENT, dwEvent, reinterpret_cast<LPARAM>(&m_status));
    return 0;
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
