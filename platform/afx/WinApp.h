// CWinApp: the one application object of a program, and the framework's program entry.
//
// A program defines exactly one global object of a class derived from CWinApp. The framework's main() (the winafx_main
// library) constructs nothing itself: it finds that object (AfxGetApp), records the instance handle, the command
// line after the program name and the show command, and runs InitInstance; when InitInstance returns FALSE the
// program ends through ExitInstance, otherwise Run runs the message loop with idle processing (OnIdle) until
// WM_QUIT. AfxWinMain is the same sequence for callers that supply the arguments themselves (tests).
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/WinThread.h"

class CWinApp : public CWinThread {
    DECLARE_DYNAMIC(CWinApp)
public:
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication();
    BOOL InitInstance() override;
    int ExitInstance() override;
    int Run() override;
    BOOL OnIdle(LONG lCount) override;
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd = 0x0001 /* HELP_CONTEXT */);

    // The three-dimensional control look is always on in this window system; these only report success.
    BOOL Enable3dControls() { return TRUE; }
    BOOL Enable3dControlsStatic() { return TRUE; }

    HINSTANCE m_hInstance = nullptr;
    HINSTANCE m_hPrevInstance = nullptr;
    LPTSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = 1; // SW_SHOWNORMAL
    LPCTSTR m_pszAppName = nullptr;
    LPCTSTR m_pszExeName = nullptr;

    DECLARE_MESSAGE_MAP()

protected:
    void OnHelp();

private:
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPTSTR, int);
    friend BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPTSTR, int);
    CString m_strAppName;
    CString m_strExeName;
};

CWinApp* AfxGetApp();
LPCTSTR AfxGetAppName();
// Records the program's arguments in the application object; FALSE when there is none.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
// The framework's program sequence: AfxWinInit, InitApplication, InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);

constexpr UINT ID_HELP = 0xE146;
