// CExpertSchedule: the Expert Mode dialog's "Schedule Backup" page (dialog 1301).
//
// The user checks the sources in a backup source tree, picks a destination drive, a start date and time and a
// repeat rule (none, daily, weekly on chosen weekdays, monthly on chosen days of the month) and starts the
// schedule service. The page keeps the setting under "Expert\Schedule", runs it through its CSchedule, and at every
// due time runs one backup through the copy-progress dialog. It records the next due time ("NextTime"), so that a
// run missed while the program was not running is found at the next start and offered to the user. It follows
// its destination drive's removal and return.
//
// A run that the schedule's own timer delivers is never taken for a missed one, however late the page gets to it,
// and a run postponed because another copy was in progress does not make the next run on time ask about it.
//
// GUI thread only; the schedule's worker reaches the page through the posted WM_USER+1001.
#pragma once

#include "app/GroupCheckBox.h"
#include "app/SortListCtrl.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertPage.h"
#include "workflows/Schedule.h"

#include "platform/afx/ComboBox.h"
#include "platform/afx/DateTimeCtrl.h"

constexpr UINT WM_SCHEDULE_INIT = 0x0400 + 1000;
constexpr UINT WM_SCHEDULE_RUN = 0x0400 + 1001;
constexpr UINT WM_SCHEDULE_PROMPT = 0x0400 + 1002;

class CExpertSchedule : public CExpertPage {
    DECLARE_DYNAMIC(CExpertSchedule)
public:
    enum { IDD = 1301 };

    explicit CExpertSchedule(CWnd* pParentWnd = nullptr);
    ~CExpertSchedule() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL DestroyWindow() override;

    // The service runs (asked before the program exits).
    BOOL IsRunning() const override { return m_bServiceRunning; }
    CShellTreeCtrl* GetSourceTree() override { return m_tree.m_hWnd ? &m_tree : nullptr; }
    // The program ends: the schedule stops, "Running" stays for the next start.
    void StopRunningJobs() override;
    CShellTreeCtrl& GetTree() { return m_tree; }
    // Deletes "Expert\Schedule" with its values.
    static void RemoveRegistry();

    // Start or stop as the button does; with write the registry's "Running" follows.
    void OnStartStop(BOOL bWrite);
    // The drive ("X:") came or went.
    void OnDestArrived(LPCTSTR lpszDrive);
    void OnDestRemoved(LPCTSTR lpszDrive);
    // Whether "NextTime" lies more than three seconds in the past.
    BOOL CheckMissedRun() const;
    // Writes "NextTime" from the schedule's next run, or deletes it when there is none.
    void UpdateNextTime();

protected:
    LRESULT OnDeferredInit(WPARAM wParam, LPARAM lParam);
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnScheduleRun(WPARAM wParam, LPARAM lParam);
    LRESULT OnSchedulePrompt(WPARAM wParam, LPARAM lParam);
    // One due run (wParam 1: with the measured totals) through the copy-progress dialog.
    void RunScheduled(WPARAM wParam);
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestSpaceChanged(WPARAM wParam, LPARAM lParam);
    void OnDaily();
    void OnWeekly();
    void OnMonthly();
    void OnSelChangeDest();
    void OnStartStopClicked();

    // Reads the settings into the controls; TRUE when they are complete enough to run.
    BOOL LoadSettings(CTime& tmStart, int& nType, DWORD& dwMask);
    BOOL SaveSettings(CTime& tmStart, int& nType, DWORD& dwMask);
    BOOL ValidateSchedule(const CTime& tmStart, int nType) const;
    BOOL StartService(const CTime& tmStart, int nType, DWORD dwMask);
    BOOL StopService(BOOL bWrite);
    BOOL MeasureSelection();
    void UpdateControls(BOOL bEnable);
    void RefreshDestination();
    void SelectRadio(int nId);
    void FillDayList(int nKind);
    DWORD CheckedMask() const;
    void CheckMask(DWORD dwMask);
    // The start from the pickers: the date picker's date at the time picker's time.
    CTime PickedStart() const;
    CString SelectionPath() const;
    void SetStatus(UINT nStringId);
    CWnd* RunParent(BOOL& bWasVisible);
    void NotifyDestSpaceChanged(int nLetterIndex);
    int MessageBoxId(UINT nTextId, UINT nType, LPCTSTR lpszArg1 = nullptr, LPCTSTR lpszArg2 = nullptr);

    CSortListCtrl m_list;
    int m_nListKind = -1;
    CGroupCheckBox m_repeat;
    CDateTimeCtrl m_date;
    CDateTimeCtrl m_time;
    CComboBox m_combo;
    CShellTreeCtrl m_tree;
    CSchedule m_schedule;
    CString m_strKey;
    CString m_strDestDrive;
    DWORD m_dwDestSerial = 0;
    int m_nRunning = 0;
    BOOL m_bServiceRunning = FALSE;
    BOOL m_bMeasuring = FALSE;
    DWORD m_dwTotals[8] = {};
    HICON m_hDriveIcon = nullptr;
    BOOL m_bRegistered = FALSE;
    // The timer's firing that the page has taken up last (0 none), to tell the timer's runs from others.
    LONGLONG m_llHandledFire = 0;

    DECLARE_MESSAGE_MAP()
};
