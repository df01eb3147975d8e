// CCopyProDlg: the copy-progress dialog (800), which runs one backup or one restore from start to end.
//
// It opens its own event log "CopyProgress.log" in the Config folder (or writes to a log it is given), optionally
// runs the size estimate and the free-space test, creates the copy job through the backup manager, shows the job's
// events as they arrive, answers file errors by the chosen error handling or by asking the user (File Error
// dialog), logs every copied, skipped or failed file, reports the counts at the end and can switch the computer
// off. The creator sets the public settings and runs it modally; without a tree of its own the dialog rebuilds a
// hidden one from the application's current selection file.
//
// Results: 1 the job ran to its end; 2 the user cancelled (or the job could not be started); 3 the user stopped at
// the free-space question before anything was copied.
//
// Power-off is asked of the desktop only after the run's log is on disk and only when no file failed; it is
// never forced. When the user's session ends, a running job is cancelled as the user's Cancel would (an open File
// Error question is answered with Abort), so that no copy is left running into a program that goes away.
// GUI thread only.
#pragma once

#include "app/TipListCtrl.h"
#include "app/XMLLog.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ComboBox.h"
#include "platform/afx/Dialog.h"

#include <map>

class CBackJob;
struct JOB_STATUS;

constexpr UINT WM_COPY_START = 0x0400 + 1941;
constexpr UINT WM_COPY_END = 0x0400 + 1942;
constexpr UINT WM_REFRESH_RESTORE_SOURCE = 0x0400 + 3114;

class CCopyProDlg : public CDialog {
    DECLARE_DYNAMIC(CCopyProDlg)
public:
    enum { IDD = 800 };
    // Flags.
    enum : int { flagNoPowerOff = 1, flagCloseAtEnd = 2, flagEstimate = 4 };

    explicit CCopyProDlg(CWnd* pParentWnd = nullptr);
    ~CCopyProDlg() override;

    // Public settings.
    CString m_strCaption;
    CString m_strDestPath;
    CString m_strRestoreSetPath;
    CShellTreeCtrl* m_pExternalTree = nullptr;
    int m_nMode = 1; // 1 backup, 2 restore
    int m_nFlags = 0;
    CXMLLog* m_pExternalLog = nullptr;
    // Eight values in the order of the copy library's progress record (the two sizes as low and high halves).
    DWORD* m_pTotals = nullptr;

    // An entry of the run's log (the agents log through it while the job runs).
    void AddLog(LPCTSTR lpszText, int nType);
    // The idle turn: saves the log when it has new entries. Returns 1.
    BOOL OnIdle();
    BOOL IsFinished() const { return m_bFinished; }
    // Closes a message box the dialog has open, then ends the dialog with the result.
    void Close(int nResult);

    CXMLLog& GetLog() { return m_pExternalLog ? *m_pExternalLog : m_log; }
    int GetBackedUpCount() const { return m_nBackedUp; }
    int GetFailedCount() const { return m_nFailed; }
    int GetSkippedCount() const { return m_nSkipped; }
    // The eight totals the run counted or was given (the order of m_pTotals).
    const DWORD* GetTotals() const { return m_pTotals ? m_pTotals : m_dwTotals; }
    // A path as the dialog shows it: one of 48 characters or more as its first three, "..." and its last 47.
    static CString ShortenPath(const CString& strPath);

    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    void OnOK() override;
    void OnCancel() override;

protected:
    LRESULT OnCopyStart(WPARAM wParam, LPARAM lParam);
    LRESULT OnCopyEnd(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobEvent(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobError(WPARAM wParam, LPARAM lParam);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnEndSession(BOOL bEnding);
    void OnDetails();
    void OnSaveAs();
    void OnOptions();
    void OnErrorHandlingChange();

    void SetActivity(BOOL bOn);
    void ShowDetails(BOOL bShow);
    void ShowFolderCounts(const JOB_STATUS& status);
    void ShowProgress(const JOB_STATUS& status, BOOL bCapped);
    void LogFile(DWORD dwEvent, const JOB_STATUS& status);
    void EndOfJob(const JOB_STATUS* pStatus);
    // The free-space question after a successful estimate; FALSE when the user stopped there.
    BOOL CheckFreeSpace();
    // Asks the desktop to power the computer off; FALSE when it cannot.
    static BOOL PowerOff();
    CString RegistryKey() const;
    int SelectedErrorMode() const;

    LONGLONG TotalValue(int nLow) const;
    // A string of the resources, loaded once per dialog: the texts of every file's event are built from these.
    const CString& Text(UINT nId);

    std::map<UINT, CString> m_texts;
    CXMLLog m_log;
    CTipListCtrl m_list;
    CComboBox m_combo;
    CShellTreeCtrl m_tree;
    DWORD m_dwTotals[8] = {};
    CBackJob* m_pJob = nullptr;
    BOOL m_bDetails = FALSE;
    BOOL m_bCancelled = FALSE;
    BOOL m_bActivity = FALSE;
    BOOL m_bFinished = FALSE;
    int m_nResult = 1;
    int m_nBackedUp = 0;
    int m_nFailed = 0;
    int m_nSkipped = 0;
    HICON m_hIcon = nullptr;
    CSize m_fullSize;
    BOOL m_bFullSizeKept = FALSE;

    DECLARE_MESSAGE_MAP()
};
