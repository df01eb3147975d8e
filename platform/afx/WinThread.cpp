#include "platform/afx/WinThread.h"

#include "platform/afx/Exception.h"
#include "platform/afx/WinApp.h"
#include "platform/afx/Wnd.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/thread.h"

#include <stdexcept>

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

namespace {

thread_local CWinThread* t_pThread = nullptr;

// Thrown by AfxEndThread to leave the thread function; caught at the thread's entry.
struct ThreadExit {
    UINT exitCode;
    BOOL deleteObject;
};

} // namespace

CWinThread* AfxGetThread() {
    if (t_pThread)
        return t_pThread;
    // The main thread's framework thread is the application object.
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->m_nThreadID == GetCurrentThreadId())
        return pApp;
    return nullptr;
}

CWnd* AfxGetMainWnd() {
    CWinThread* pThread = AfxGetThread();
    return pThread ? pThread->GetMainWnd() : nullptr;
}

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam) {}

CWinThread::~CWinThread() {
    if (m_hThread)
        CloseHandle(m_hThread);
    if (t_pThread == this)
        t_pThread = nullptr;
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    DWORD id = 0;
    m_hThread = ::CreateThread(lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, this, dwCreateFlags, &id);
    if (!m_hThread)
        return FALSE;
    m_nThreadID = id;
    return TRUE;
}

DWORD CWinThread::ThreadEntry(LPVOID pParam) {
    auto* pThread = static_cast<CWinThread*>(pParam);
    t_pThread = pThread;
    UINT exitCode = 0;
    BOOL deleteObject = pThread->m_bAutoDelete;
    try {
        if (pThread->m_pfnThreadProc) {
            exitCode = pThread->m_pfnThreadProc(pThread->m_pThreadParams);
        } else if (pThread->InitInstance()) {
            exitCode = static_cast<UINT>(pThread->Run());
        } else {
            exitCode = static_cast<UINT>(pThread->ExitInstance());
        }
        deleteObject = pThread->m_bAutoDelete;
    } catch (const ThreadExit& exit) {
        exitCode = exit.exitCode;
        deleteObject = exit.deleteObject && pThread->m_bAutoDelete;
    } catch (CException* e) {
        e->Delete();
        exitCode = ERROR_UNHANDLED_EXCEPTION;
        deleteObject = pThread->m_bAutoDelete;
    }
    CWnd::DeleteTempMap();
    t_pThread = nullptr;
    if (deleteObject)
        delete pThread;
    return exitCode;
}

void AfxEndThread(UINT nExitCode, BOOL bDelete) {
    throw ThreadExit{nExitCode, bDelete};
}

DWORD CWinThread::ResumeThread() {
    return ::ResumeThread(m_hThread);
}
int CWinThread::GetThreadPriority() {
    return ::GetThreadPriority(m_hThread);
}
BOOL CWinThread::SetThreadPriority(int nPriority) {
    return ::SetThreadPriority(m_hThread, nPriority);
}

BOOL CWinThread::InitInstance() {
    return FALSE;
}

int CWinThread::ExitInstance() {
    const int code = static_cast<int>(m_msgCur.wParam);
    return code;
}

CWnd* CWinThread::GetMainWnd() {
    return m_pMainWnd;
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg) {
    // The windows from the target up to the main window each get a chance to translate.
    CWnd* pMainWnd = GetMainWnd();
    HWND hWndStop = pMainWnd ? pMainWnd->m_hWnd : nullptr;
    for (HWND hWnd = pMsg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
        if (pWnd && pWnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == hWndStop)
            break;
    }
    if (pMainWnd && pMsg->hwnd != hWndStop && !::IsChild(hWndStop, pMsg->hwnd) && pMainWnd->PreTranslateMessage(pMsg))
        return TRUE;
    return FALSE;
}

BOOL CWinThread::PumpMessage() {
    if (!::GetMessageW(&m_msgCur, nullptr, 0, 0))
        return FALSE;
    if (!PreTranslateMessage(&m_msgCur)) {
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessageW(&m_msgCur);
    }
    return TRUE;
}

BOOL CWinThread::IsIdleMessage(MSG* pMsg) {
    // Mouse moves that do not move and the timers' own ticks do not restart idle processing.
    static thread_local POINT lastPoint{-1, -1};
    static thread_local UINT lastMessage = 0;
    if (pMsg->message == WM_MOUSEMOVE || pMsg->message == 0x00A0 /* WM_NCMOUSEMOVE */) {
        if (pMsg->message == lastMessage && pMsg->pt.x == lastPoint.x && pMsg->pt.y == lastPoint.y)
            return FALSE;
        lastPoint = pMsg->pt;
        lastMessage = pMsg->message;
        return TRUE;
    }
    return pMsg->message != WM_PAINT && pMsg->message != 0x0118 /* WM_SYSTIMER */;
}

BOOL CWinThread::OnIdle(LONG lCount) {
    if (lCount <= 0) {
        // Nothing of the framework waits for idle time at count 0 besides freeing temporary objects below.
        return TRUE;
    }
    if (lCount == 1) {
        CWnd::DeleteTempMap();
        return FALSE;
    }
    return FALSE;
}

int CWinThread::Run() {
    BOOL bIdle = TRUE;
    LONG lIdleCount = 0;
    for (;;) {
        MSG peek;
        while (bIdle && !::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(lIdleCount++))
                bIdle = FALSE;
        }
        do {
            if (!PumpMessage())
                return ExitInstance();
            if (IsIdleMessage(&m_msgCur)) {
                bIdle = TRUE;
                lIdleCount = 0;
            }
        } while (::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE));
    }
}

namespace {

CWinThread* Begin(CWinThread* pThread, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                  LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (!pThread->CreateThread(dwCreateFlags | CREATE_SUSPENDED, nStackSize, lpSecurityAttrs)) {
        delete pThread;
        return nullptr;
    }
    pThread->SetThreadPriority(nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        pThread->ResumeThread();
    return pThread;
}

} // namespace

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    return Begin(new CWinThread(pfnThreadProc, pParam), nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs);
}

CWinThread* AfxBeginThread(const CRuntimeClass* pThreadClass, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (!pThreadClass || !pThreadClass->IsDerivedFrom(RUNTIME_CLASS(CWinThread)))
        return nullptr;
    auto* pThread = static_cast<CWinThread*>(pThreadClass->CreateObject());
    if (!pThread)
        return nullptr;
    return Begin(pThread, nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs);
}
