// Turns one schedule setting into window messages at the right moments, on a named waitable timer.
#pragma once

#include "platform/afx/Time.h"
#include "platform/base/types.h"
#include "platform/base/unique_handle.h"

#include <atomic>

class CSchedule {
public:
    CSchedule();
    virtual ~CSchedule();
    CSchedule(const CSchedule&) = delete;
    CSchedule& operator=(const CSchedule&) = delete;

    // nType: -1 once, 0 daily, 1 weekly (mask bit 0 Sunday .. 6 Saturday), 2 monthly (bit d-1 for day d).
    void SetSchedule(const CTime& tmStart, int nType, DWORD dwMask);
    void AttachMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    // The next run as a local time; 0 when there is none.
    CTime GetNextTime() const;
    // The next run as a UTC file time (100-ns units since 1601); 0 when there is none.
    LONGLONG GetNextDueTime() const;
    // The due time (UTC file time) the worker's timer was last armed for; 0 before the first arming.
    LONGLONG GetArmedDueTime() const { return m_llArmedDue.load(); }
    // The time (UTC file time) of the timer's last firing since the start; 0 before the first.
    LONGLONG GetLastFiredTime() const { return m_llLastFired.load(); }

    // 0 armed; 2 no timer; 4 no worker; 5 no next run; 6 already running; 8 monthly without days; 9 weekly
    // without days; 10 the worker did not start in time.
    int StartSchedule();
    int StopSchedule();

    // Days from weekday w (1 = Sunday) to the next weekday in the mask (1 to 7).
    static int DaysToNextWeekday(DWORD dwMask, int nWeekday);
    // Days from the given date to the next day of the month in the mask, looking up to two months ahead.
    static int DaysToNextMonthDay(DWORD dwMask, int nYear, int nMonth, int nDay);

private:
    static DWORD WINAPI WorkerThread(LPVOID lpParam);
    static void CALLBACK TimerRoutine(LPVOID lpArg, DWORD dwLow, DWORD dwHigh);
    BOOL ArmTimer();
    CTime NextTimeAfter(LONGLONG llNowWall) const;
    CTime NextTimeAt(LONGLONG llNowWall, LONGLONG llNowUtc) const;
    static LONGLONG DueTimeOf(const CTime& tmNext);

    platform::OwnedHandle m_hTimer;
    platform::OwnedHandle m_hThread;
    std::atomic<int> m_bRepeat{0};
    std::atomic<int> m_bWaiting{0};
    std::atomic<int> m_bStop{0};
    DWORD m_dwMask = 0;
    CTime m_tmStart;
    int m_nType = -1;
    HWND m_hWnd = nullptr;
    UINT m_nMsg = 0;
    WPARAM m_wParam = 0;
    LPARAM m_lParam = 0;
    platform::OwnedHandle m_hStarted;
    // The due time of the run that fired last, so that one slot never fires twice.
    std::atomic<LONGLONG> m_llLastFired{0};
    std::atomic<LONGLONG> m_llArmedDue{0};
};
