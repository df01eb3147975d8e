// CExpertMonitor: the Expert Mode dialog's "Auto-Backup" page (dialog 1200).
//
// The user checks drives and folders in a source tree, picks a destination drive and starts the Auto-Backup
// service: the page then runs a directory monitor on the root of every drive that holds checked sources and mirrors
// every change onto the backup set on the destination (CFileActionHandler). A full synchronisation through the
// copy-progress dialog runs when the service starts. The service survives program restarts ("Running" under
// "Expert\Monitor"), stops by itself when the destination drive disappears and offers to restart when it comes
// back. Every action is recorded in the page's event log "ExpertMonitor.log", shown in a list on the page; the
// log of earlier runs is kept, so that what Auto-Backup did before the program ended can still be read.
//
// The monitor's parser thread reaches the page through the sent WM_USER+1500 (the filter query). Its action thread
// never touches the page's windows or its log: its log lines, its activity and the destination's changed space
// come to the page's thread as posted messages, and the page stops the monitor and waits for a change in progress
// to end before it frees anything that thread uses.
#pragma once

#include "app/TipListCtrl.h"
#include "app/XMLLog.h"
#include "engine/DirectoryMonitor.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertPage.h"
#include "workflows/FileActionHandler.h"

#include "platform/afx/ComboBox.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

constexpr UINT WM_MONITOR_PROMPT = 0x0400 + 1501;
constexpr UINT WM_MONITOR_SYNCHRONISE = 0x0400 + 1502;
constexpr UINT WM_MONITOR_ENABLE = 0x0400 + 1503;

class CExpertMonitor : public CExpertPage {
    DECLARE_DYNAMIC(CExpertMonitor)
public:
    enum { IDD = 1200 };

    explicit CExpertMonitor(CWnd* pParentWnd = nullptr);
    ~CExpertMonitor() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL DestroyWindow() override;

    // The monitor runs.
    BOOL IsRunning() const override { return m_bRunning; }
    // A Save As or Options dialog of the page is open.
    BOOL IsBusy() const override { return m_bModalOpen; }
    BOOL IsModalOpen() const { return m_bModalOpen; }
    CShellTreeCtrl* GetSourceTree() override { return m_tree.m_hWnd ? &m_tree : nullptr; }
    void OnLastStartupStep(BOOL bNormalStart) override;
    void StopRunningJobs() override;
    void OnIdle() override { FlushLog(); }

    // The end of the program's start-up: with ask, the user is asked before a resumed service synchronises.
    void PostStartup(BOOL bAsk);
    // Saves the Auto-Backup log; 1.
    int FlushLog();
    // Deletes "Expert\Monitor" with its values.
    static void RemoveRegistry();

    // Start or stop as the button does; with write the registry's "Running" follows.
    void OnMStartAction(BOOL bWrite);
    BOOL StartAutoBackup(LPCTSTR lpszDrive);
    BOOL StopAutoBackup(BOOL bWrite);
    // The full synchronisation of the selection onto the destination through the copy-progress dialog.
    int SynchroniseAll();
    // The drive ("X:") came or went.
    void OnDestArrived(LPCTSTR lpszDrive);
    void OnDestRemoved(LPCTSTR lpszDrive);

    CShellTreeCtrl& GetTree() { return m_tree; }
    CXMLLog& GetLog() { return m_log; }
    // The log lines the action thread has written so far are in the log.
    void DrainLogLines();

protected:
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnFileActionQuery(WPARAM wParam, LPARAM lParam);
    LRESULT OnPromptDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnSynchronise(WPARAM wParam, LPARAM lParam);
    LRESULT OnMonitorEnable(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestSpaceChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnLogLines(WPARAM wParam, LPARAM lParam);
    LRESULT OnActivityMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnSpaceMsg(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void OnMStart();
    void OnClearLogs();
    void OnSaveAs();
    void OnOptions();
    void OnSelChangeDest();

    // 1 while a change is being mirrored, 0 after it: the status text and the main menu's tray animation.
    void SetActivity(int nStart);
    void UpdateButtonAndControls();
    void RefreshDestination();
    void SetStatus(UINT nStringId);
    CString SelectionPath() const;
    void NotifyDestSpaceChanged(int nLetterIndex);
    int MessageBoxId(UINT nTextId, UINT nType, LPCTSTR lpszArg1 = nullptr, LPCTSTR lpszArg2 = nullptr);
    // Stops the monitor and waits for a change in progress on its action thread; writes what is still pending.
    void StopMonitorAndWait();

    // The action thread's side.
    static int FilterCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);
    static void ActionCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);
    void QueueLogLine(int nType, const CString& strText, LPCTSTR lpszFile, int nLine);

    CTipListCtrl m_list;
    CComboBox m_combo;
    CShellTreeCtrl m_tree;
    CXMLLog m_log;
    std::unique_ptr<CDirectoryMonitor> m_pMonitor;
    std::unique_ptr<CFileActionHandler> m_pHandler;
    CString m_strUserComputer;
    BOOL m_bRunning = FALSE;
    BOOL m_bStartupPending = TRUE;
    CString m_strDestDrive;
    DWORD m_dwDestSerial = 0;
    int m_nRunningSetting = 0;
    BOOL m_bModalOpen = FALSE;
    HWND m_hMainWnd = nullptr;
    HICON m_hDriveIcon = nullptr;
    BOOL m_bRegistered = FALSE;
    BOOL m_bActive = FALSE;

    // Between the action thread and the page's thread.
    struct LogLine {
        int nType;
        CString strText;
        CString strFile;
        int nLine;
    };
    std::mutex m_lineLock;
    std::deque<LogLine> m_lines;
    bool m_bLinesPosted = false;
    std::atomic<int> m_nSpaceLetter{-1};
    std::atomic<int> m_nInCallback{0};

    DECLARE_MESSAGE_MAP()
};
