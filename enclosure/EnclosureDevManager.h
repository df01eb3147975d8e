// CEnclosureDevManager: the one worker thread that talks to the bridge chips.
//
// The chip libraries block (retries of up to a second), so the GUI thread only binds chips to drive letters and
// queues commands; the worker executes the commands in order, reports each by posting WM_USER+1000 (wParam 0,
// lParam the command's report value) to its report window, and whenever half a second passes without a command it
// polls the one-touch button of every bound letter and sends the button report value for a press.
#pragma once

#include "enclosure/EnclosureDev.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

constexpr UINT WM_ENCLOSURE_REPORT = WM_USER + 1000;

enum EnclosureCommand : int {
    ENCLOSURE_CMD_OPEN = 1,
    ENCLOSURE_CMD_BOTH_ON = 3,
    ENCLOSURE_CMD_BOTH_OFF = 4,
    ENCLOSURE_CMD_READY_ON = 5,
    ENCLOSURE_CMD_READY_OFF = 6,
    ENCLOSURE_CMD_SECURE_ON = 7,
    ENCLOSURE_CMD_SECURE_OFF = 8,
    ENCLOSURE_CMD_LIST_MODELS = 9,
};

class CEnclosureDevManager {
public:
    CEnclosureDevManager();
    ~CEnclosureDevManager();
    CEnclosureDevManager(const CEnclosureDevManager&) = delete;
    CEnclosureDevManager& operator=(const CEnclosureDevManager&) = delete;

    BOOL Start(HWND hReportWnd, LPARAM lButtonReport, int nOpenArg, BOOL bPoll, BOOL bWait);
    BOOL Stop();
    BOOL Queue(BYTE letter, int nCode, HWND hReportWnd, LPARAM lReport);
    BOOL BindLetter(BYTE letter, LPCTSTR lpszId);
    BOOL UnbindLetter(BYTE letter);

    // For tests and the dialog: the chip bound to a letter, and the chip objects.
    CEnclosureDev* GetBoundDev(BYTE letter) const;
    int GetDevCount() const { return static_cast<int>(m_devs.size()); }

private:
    struct Command {
        BYTE letter;
        int nCode;
        HWND hReportWnd;
        LPARAM lReport;
    };

    static DWORD WINAPI ThreadProc(LPVOID pParam);
    DWORD Run();
    void Execute(const Command& command);
    void RunOnDev(CEnclosureDev* pDev, BYTE letter, int nCode);
    void PollButton();

    // Written by the GUI thread, read by the worker: each entry is atomic. The objects named live until the
    // worker's own clean-up.
    std::atomic<CEnclosureDev*> m_letters[26] = {};
    std::vector<std::unique_ptr<CEnclosureDev>> m_devs; // front: the last created
    std::list<Command> m_queue;
    std::mutex m_lock;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    HANDLE m_hWake = nullptr;
    HANDLE m_hStarted = nullptr;
    volatile LONG m_bStop = 0;
    HWND m_hReportWnd = nullptr;
    LPARAM m_lButtonReport = 0;
    int m_nOpenArg = 0;
    BOOL m_bPoll = FALSE;
};
