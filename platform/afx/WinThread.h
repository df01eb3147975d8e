// CWinThread: a thread of the framework, either a worker running one function or a user-interface thread with its
// own message loop (Run), idle processing (OnIdle) and main window.
//
// AfxBeginThread starts either kind. The thread object deletes itself when its thread ends unless m_bAutoDelete is
// cleared first; its handle stays valid for waiting as long as the object lives. A framework exception that
// escapes the thread function ends the thread with exit code ERROR_UNHANDLED_EXCEPTION instead of crossing the
// thread boundary.
#pragma once

#include "platform/afx/CmdTarget.h"
#include "platform/ui/message.h"

class CWnd;

using AFX_THREADPROC = UINT (*)(LPVOID);

// Ends the calling framework thread from inside it.
[[noreturn]] void AfxEndThread(UINT nExitCode, BOOL bDelete = TRUE);

class CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread();
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
    ~CWinThread() override;

    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
    DWORD ResumeThread();
    int GetThreadPriority();
    BOOL SetThreadPriority(int nPriority);
    operator HANDLE() const { return m_hThread; }

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual BOOL PumpMessage();
    virtual BOOL OnIdle(LONG lCount);
    virtual BOOL IsIdleMessage(MSG* pMsg);
    virtual CWnd* GetMainWnd();

    CWnd* m_pMainWnd = nullptr;
    CWnd* m_pActiveWnd = nullptr;
    BOOL m_bAutoDelete = TRUE;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;

    // The thread's current message, as the framework keeps it.
    MSG m_msgCur{};

protected:
    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;

private:
    static DWORD ThreadEntry(LPVOID pParam);
    friend void AfxEndThread(UINT nExitCode, BOOL bDelete);
    friend class CWinApp;
};

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority = 0, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
// A user-interface thread: an object of the class (which must have dynamic creation) runs InitInstance and Run.
CWinThread* AfxBeginThread(const CRuntimeClass* pThreadClass, int nPriority = 0, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
// The framework thread object of the calling thread (the application object on the main thread), or null.
CWinThread* AfxGetThread();
CWnd* AfxGetMainWnd();
