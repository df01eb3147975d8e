#include "engine/EstimateSizeDlg.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"

#include "platform/base/errors.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CEstimateSizeDlg, CDialog)

namespace {

constexpr UINT WM_ESTIMATE_END = 0x0400 + 2000;

} // namespace

BEGIN_MESSAGE_MAP(CEstimateSizeDlg, CDialog)
ON_MESSAGE(WM_JOB_EVENT, OnJobEvent)
ON_MESSAGE(WM_ESTIMATE_END, OnEnd)
END_MESSAGE_MAP()

CEstimateSizeDlg::CEstimateSizeDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

BOOL CEstimateSizeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const DWORD dwFlags = IsShowHiddenFiles() ? 0x11 : 0x1011;
    CBackManager* pManager = CBackManager::Get();
    if (!pManager || !pManager->CreateJob(&m_pJob, m_hWnd, dwFlags, 3, m_pTree, m_strDestPath)) {
        // Without a job no end event will come: the user is told, and the dialog ends now.
        CString text;
        text.Format(_T("The size of the selection could not be calculated (error %d)."),
                    static_cast<int>(GetLastError()));
        CString caption;
        GetWindowText(caption);
        ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONERROR);
        PostMessage(WM_ESTIMATE_END, 3);
    }
    return TRUE;
}

LRESULT CEstimateSizeDlg::OnJobEvent(WPARAM wParam, LPARAM lParam) {
    CWnd* pStatus = GetDlgItem(1023);
    CWnd* pFolders = GetDlgItem(1008);
    CWnd* pFiles = GetDlgItem(1009);
    CWnd* pBytes = GetDlgItem(1002);
    if (!pStatus || !pFolders || !pFiles || !pBytes)
        return ERROR_INVALID_WINDOW_HANDLE;
    const auto* pStatusRecord = reinterpret_cast<const JOB_STATUS*>(lParam);
    CString text;
    switch (wParam) {
    case KOVRA_JOB_BEGIN:
        text.LoadString(1055);
        pStatus->SetWindowText(text);
        pFolders->SetWindowText(_T("0"));
        pFiles->SetWindowText(_T("0"));
        pBytes->SetWindowText(_T("0"));
        break;
    case KOVRA_CALC_FILE_BEGIN:
    case KOVRA_CALC_FILE_END:
        if (!pStatusRecord)
            break;
        text.Format(_T("%d"), static_cast<int>(pStatusRecord->dwTotalDirs));
        pFolders->SetWindowText(text);
        text.Format(_T("%d"), static_cast<int>(pStatusRecord->dwTotalFiles) + pStatusRecord->nPrepareCount1);
        pFiles->SetWindowText(text);
        FormatThousands(text, pStatusRecord->llTotalFileSize + pStatusRecord->nPrepareCount2);
        pBytes->SetWindowText(text);
        break;
    case KOVRA_JOB_END:
        m_pJob = nullptr; // the manager deletes the job after this event
        text.LoadString(1057);
        pStatus->SetWindowText(text);
        if (pStatusRecord) {
            dwEstimatedDirs = pStatusRecord->dwEstimatedDirs;
            dwTotalDirs = pStatusRecord->dwTotalDirs;
            dwEstimatedFiles = pStatusRecord->dwEstimatedFiles;
            dwTotalFiles = pStatusRecord->dwTotalFiles;
            llEstimatedSize = pStatusRecord->llEstimatedSize;
            llTotalFileSize = pStatusRecord->llTotalFileSize;
        }
        PostMessage(WM_ESTIMATE_END, m_bCancelled ? 2 : 1);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT CEstimateSizeDlg::OnEnd(WPARAM wParam, LPARAM) {
    EndDialog(static_cast<int>(wParam));
    return 0;
}

void CEstimateSizeDlg::OnCancel() {
    if (!m_pJob) {
        EndDialog(2);
        return;
    }
    m_bCancelled = TRUE;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->CancelJob(m_pJob);
}
