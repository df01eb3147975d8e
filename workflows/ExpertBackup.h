// CExpertBackup: the Instant Backup page of the Expert Mode dialog (dialog 1000).
//
// The same source tree as the Instant Backup wizard, sharing its selection "ManualBackup.rpr"; a running estimate of
// the selection's size by a counting job of the backup manager, started again whenever the selection changes; the
// destination drive with its figures and chart, found again by its volume serial number ("Expert\Backup":
// "DestDrive", "DestSerialNo"); and the backup itself through the copy-progress dialog, from "Start Backup" or on
// request of the one-touch action (WM_USER+1001 with a reply window and message, answered on every way out).
//
// The free-space test before a backup uses the figures of a count that finished for the selection as it stands;
// without them (a count still running, or none finished) the copy-progress dialog estimates and tests itself, so that
// a backup larger than the free space never starts unasked.
//
// GUI thread only; the counting job runs on the copy library's worker and reports through WM_JOB_EVENT.
#pragma once

#include "app/ChartCtrl.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertPage.h"

#include "platform/afx/Button.h"
#include "platform/afx/ComboBox.h"

class CBackJob;

// The one-touch action's request: wParam the window to answer, lParam the message it is answered with.
constexpr UINT WM_START_EXPERT_BACKUP = 0x0400 + 1001;

class CExpertBackup : public CExpertPage {
    DECLARE_DYNAMIC(CExpertBackup)
public:
    enum { IDD = 1000 };

    CExpertBackup();
    ~CExpertBackup() override;

    // Loads "ManualBackup.rpr" into the tree.
    void ReloadSelection();
    // The backup; see the class comment. hReply/nReplyMsg: the window answered at the end (none from the button).
    void StartBackup(HWND hReply, UINT nReplyMsg);
    // Shows the selected destination drive, or blanks the figures when there is none.
    void UpdateDestination();
    void ShowDriveInfo(LPCTSTR lpszRoot, BOOL bRedraw);

    // The page's part in the Expert Mode dialog.
    CShellTreeCtrl* GetSourceTree() override { return &m_tree; }
    BOOL IsBusy() const override { return FALSE; }
    BOOL IsCounting() const override { return m_pCountJob != nullptr; }
    void StopCount(BOOL bRestart) override;
    void StopRunningJobs() override;

    CShellTreeCtrl& GetTree() { return m_tree; }
    CComboBox& GetCombo() { return m_combo; }
    CChartCtrl& GetChart() { return m_chart; }
    // The figures of the last finished count: folders, files, bytes.
    ULONGLONG GetCountedFolders() const { return m_ullFolders; }
    ULONGLONG GetCountedFiles() const { return m_ullFiles; }
    ULONGLONG GetCountedBytes() const { return m_ullBytes; }
    const CString& GetDestinationDrive() const { return m_strDestDrive; }

    BOOL DestroyWindow() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnStartButton();
    void OnSelChange();
    LRESULT OnStartRequest(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobEvent(WPARAM wParam, LPARAM lParam);
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestSpaceChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // Starts a counting job over the selection to the selected drive (none without a drive).
    void StartCount();
    void ShowCounts(ULONGLONG ullFolders, ULONGLONG ullFiles, ULONGLONG ullBytes);
    void ShowZeroCounts();
    void SetDriveIcon(HICON hIcon, BOOL bOwned);
    // The settings key "<root>\Expert\Backup".
    static CString SettingsKey();

    CButton m_btnStart;
    CShellTreeCtrl m_tree;
    CComboBox m_combo;
    CChartCtrl m_chart;
    CBackJob* m_pCountJob = nullptr;
    BOOL m_bRestart = FALSE;
    BOOL m_bStopping = FALSE;
    ULONGLONG m_ullFolders = 0;
    ULONGLONG m_ullFiles = 0;
    ULONGLONG m_ullBytes = 0;
    ULONGLONG m_ullFreeBytes = 0;
    CString m_strDestDrive;
    DWORD m_dwDestSerial = 0;
    // The estimate of the last count that finished for the selection as it stands (the copy library's eight
    // totals), handed to the copy-progress dialog; m_bTotalsValid is FALSE once the selection changed since.
    DWORD m_dwTotals[8] = {};
    BOOL m_bTotalsValid = FALSE;
    HICON m_hDriveIcon = nullptr;
    HICON m_hNoDriveIcon = nullptr;
};
