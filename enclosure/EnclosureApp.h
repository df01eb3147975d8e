// CEnclosureApp: the companion program's application object: start-up, the single-instance rule, the command
// keywords, and starting or signalling the main program.
#pragma once

#include "platform/afx/afx.h"

constexpr UINT WM_ONE_TOUCH_NOTIFY = WM_USER + 1499;

class CEnclosureApp : public CWinApp {
public:
    CEnclosureApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    // True when the command line holds "-keyword" or "/keyword" (the keyword compared over its own length); cuts
    // the switch and the keyword out of it.
    BOOL ConsumeKeyword(LPCTSTR lpszKeyword);

    const CString& GetMainProgramPath() const { return m_strMainProgram; }
    const CString& GetOwnFileName() const { return m_strOwnFileName; }

    // The command line the keywords are taken from (the framework's, or a test's).
    CString m_strCommandLine;

private:
    void EndRunningInstance();

    CString m_strMainProgram;
    CString m_strOwnFileName;
    HANDLE m_hSingleInstance = nullptr;
};

// Starts the main program, or signals a running one (with a parameter) through its one-touch window.
void LaunchMainProgram(LPCTSTR lpszOwnFileName, LPCTSTR lpszMainProgram, LPCTSTR lpszParameter);
// The id of a process whose first module is `lpszFileName` (exact case), other than this one; 0 when none.
DWORD FindProcessByName(LPCTSTR lpszFileName, BOOL bSkipSelf = FALSE);
// Posts the one-touch signal to every window of the process titled "ONE_TOUCH_NOTIFY_TARGET" (any case).
void NotifyOneTouchTarget(DWORD dwProcessId);
// Thread routine: runs the main program with "/configdisk", waits for it, then posts Exit to the main dialog.
DWORD WINAPI RunConfigDisk(LPVOID pParam);
