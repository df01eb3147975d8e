#include "storage/AutoMountSecureDlg.h"

#include "shared/PhysicalDrive.h"
#include "storage/SecureDiskUi.h"
#include "storage/ZentraManager.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/WinThread.h"
#include "platform/afx/afx.h"
#include "platform/base/clock.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CAutoMountSecureDlg, CDialog)

namespace {

constexpr UINT_PTR kProgressTimer = 260;
constexpr int IDC_PROGRESS = 1250;
constexpr UINT WM_MOUNT_DONE = WM_USER + 1500;
// Sent by the worker to the dialog: the disk's secure partition (lParam a CString to fill; 0 when there is no such
// disk), and whether the monitor tracks a volume for the drive text (lParam the text).
constexpr UINT WM_QUERY_PARTITION = WM_USER + 1501;
constexpr UINT WM_QUERY_VOLUME = WM_USER + 1502;
constexpr int kTries = 10;
constexpr DWORD kRetryMilliseconds = 300;
constexpr const char16_t* kSource = u"AutoMountSecureDlg";

} // namespace

UINT MountThread(LPVOID pParam) {
    auto* pContext = static_cast<MOUNT_CONTEXT*>(pParam);
    DWORD dwResult = ERROR_NOT_READY;
    CString strPartition;
    CZentraManager* pManager = securedisk::Manager();
    if (pManager && ::SendMessageW(pContext->hDialog, WM_QUERY_PARTITION, pContext->dwDiskNumber,
                                   reinterpret_cast<LPARAM>(&strPartition))) {
        CString strDrive;
        CDiskDriveMonitor::GetFreeDriveLetter(strDrive);
        *pContext->pDrive = strDrive;
        for (int nTry = 0; nTry < kTries; ++nTry) {
            if (nTry > 0) {
                TRACE(u"MountThread: retry drive %s %d times.\n", static_cast<LPCTSTR>(strDrive), nTry);
                ::Sleep(kRetryMilliseconds);
            }
            dwResult = pManager->OpenSecureDisk(strDrive, strPartition, *pContext->pPassword, 2);
            if (dwResult != ERROR_PATH_NOT_FOUND && dwResult != ERROR_FILE_NOT_FOUND)
                break;
        }
        if (dwResult == ERROR_SUCCESS) {
            // The caller wants the letter's volume known to the program; it goes on after the tries either way.
            for (int nTry = 0; nTry < kTries; ++nTry) {
                if (::SendMessageW(pContext->hDialog, WM_QUERY_VOLUME, 0,
                                   reinterpret_cast<LPARAM>(static_cast<LPCTSTR>(strDrive))))
                    break;
                ::Sleep(kRetryMilliseconds);
            }
        }
    }
    // The outcome is logged by the dialog: the event log belongs to the window's thread.
    ::PostMessageW(pContext->hDialog, WM_MOUNT_DONE, dwResult, 0);
    return dwResult;
}

BEGIN_MESSAGE_MAP(CAutoMountSecureDlg, CDialog)
ON_WM_TIMER()
ON_MESSAGE(WM_MOUNT_DONE, OnMountDone)
ON_MESSAGE(WM_QUERY_PARTITION, OnQueryPartition)
ON_MESSAGE(WM_QUERY_VOLUME, OnQueryVolume)
END_MESSAGE_MAP()

CAutoMountSecureDlg::CAutoMountSecureDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

CAutoMountSecureDlg::~CAutoMountSecureDlg() {
    if (m_pThread) {
        ::WaitForSingleObject(m_pThread->m_hThread, INFINITE);
        delete m_pThread;
    }
}

void CAutoMountSecureDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CAutoMountSecureDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_progress.SetRange(1, 100);
    m_progress.SetPos(10);
    SetTimer(kProgressTimer, 10, nullptr);
    return TRUE;
}

void CAutoMountSecureDlg::OnCancel() {
    // The worker reports into this dialog: it stays until the worker is done.
    if (m_bDone)
        CDialog::OnCancel();
}

void CAutoMountSecureDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kProgressTimer) {
        Default();
        return;
    }
    if (!m_pThread && !m_bDone) {
        m_context.dwDiskNumber = m_dwDiskNumber;
        m_context.pPassword = &m_strPassword;
        m_context.pDrive = &m_strDrive;
        m_context.hDialog = m_hWnd;
        m_context.pThreadFailed = &m_dwThreadFailed;
        m_pThread = AfxBeginThread(MountThread, &m_context, 0, 0, CREATE_SUSPENDED);
        if (m_pThread) {
            m_pThread->m_bAutoDelete = FALSE;
            m_pThread->ResumeThread();
            m_dwThreadFailed = 0;
        } else {
            m_dwThreadFailed = 1;
        }
    }
    m_progress.SetPos(std::min(m_progress.GetPos() + 10, 100));
}

LRESULT CAutoMountSecureDlg::OnQueryPartition(WPARAM wParam, LPARAM lParam) {
    CZentraManager* pManager = securedisk::Manager();
    CPhysicalDrive* pDisk = pManager ? pManager->GetPhysicalDrive(static_cast<int>(wParam)) : nullptr;
    if (!pDisk)
        return 0;
    *reinterpret_cast<CString*>(lParam) = pDisk->GetSecurePartitionName();
    return 1;
}

LRESULT CAutoMountSecureDlg::OnQueryVolume(WPARAM, LPARAM lParam) {
    CZentraManager* pManager = securedisk::Manager();
    return pManager && pManager->GetLogicalDriveByName(reinterpret_cast<LPCTSTR>(lParam)) ? 1 : 0;
}

LRESULT CAutoMountSecureDlg::OnMountDone(WPARAM wParam, LPARAM) {
    const DWORD dwResult = static_cast<DWORD>(wParam);
    m_bDone = TRUE;
    if (dwResult == ERROR_SUCCESS)
        securedisk::Log(securedisk::LoadText(1383, m_strDrive), kSource, __LINE__, 1);
    else
        securedisk::Log(securedisk::LoadText(1384), kSource, __LINE__, 4);
    if (dwResult == ERROR_INVALID_PASSWORD)
        securedisk::Message(m_hWnd, securedisk::LoadText(5016), MB_OK | MB_ICONSTOP);
    else if (dwResult != ERROR_SUCCESS)
        securedisk::Message(m_hWnd, securedisk::SystemErrorText(dwResult), MB_OK | MB_ICONSTOP);
    KillTimer(kProgressTimer);
    m_progress.SetPos(100);
    EndDialog(static_cast<int>(dwResult));
    return 0;
}
