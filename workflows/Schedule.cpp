#include "workflows/Schedule.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/base/waitabletimer.h"
#include "platform/ui/message.h"

#include <algorithm>

namespace {

constexpr LONGLONG kSecondsPerDay = 86'400;

// Local wall-clock times as seconds on a plain day count: adding a day keeps the hour across a daylight-saving
// change, which adding 86,400 real seconds would not.
LONGLONG DaysFromCivil(int y, int m, int d) {
    return platform::clock::DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
}

void CivilFromDays(LONGLONG z, int& y, int& m, int& d) {
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    platform::clock::CivilFromDays(z, year, month, day);
    y = static_cast<int>(year);
    m = static_cast<int>(month);
    d = static_cast<int>(day);
}

int MonthLength(int y, int m) {
    return static_cast<int>(platform::clock::DaysInMonth(y, static_cast<unsigned>(m)));
}

struct Wall {
    LONGLONG seconds; // wall-clock seconds since 1970-01-01 00:00 local
    LONGLONG Days() const {
        return seconds >= 0 ? seconds / kSecondsPerDay : (seconds - kSecondsPerDay + 1) / kSecondsPerDay;
    }
    LONGLONG TimeOfDay() const { return seconds - Days() * kSecondsPerDay; }
    int Weekday() const { return static_cast<int>(platform::clock::DayOfWeek(Days())) + 1; } // 1 = Sunday
    void Date(int& y, int& m, int& d) const { CivilFromDays(Days(), y, m, d); }
};

Wall WallOf(const CTime& t) {
    return Wall{DaysFromCivil(t.GetYear(), t.GetMonth(), t.GetDay()) * kSecondsPerDay + t.GetHour() * 3600LL +
                t.GetMinute() * 60LL + t.GetSecond()};
}

Wall WallNow() {
    const LONGLONG local = platform::clock::UtcToLocal(platform::clock::Now());
    return Wall{(local - platform::clock::kUnixEpoch) / platform::clock::kTicksPerSecond};
}

CTime TimeOf(const Wall& w) {
    int y = 0, m = 0, d = 0;
    w.Date(y, m, d);
    const LONGLONG tod = w.TimeOfDay();
    return CTime(y, m, d, static_cast<int>(tod / 3600), static_cast<int>(tod / 60 % 60), static_cast<int>(tod % 60));
}

bool InMask(DWORD mask, int bit) {
    return bit >= 1 && bit <= 32 && (mask & (1u << (bit - 1))) != 0;
}

} // namespace

CSchedule::CSchedule() : m_hStarted(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CSchedule::~CSchedule() {
    StopSchedule();
}

void CSchedule::SetSchedule(const CTime& tmStart, int nType, DWORD dwMask) {
    m_tmStart = tmStart;
    m_nType = nType;
    m_dwMask = dwMask;
}

void CSchedule::AttachMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    m_hWnd = hWnd;
    m_nMsg = nMsg;
    m_wParam = wParam;
    m_lParam = lParam;
}

int CSchedule::DaysToNextWeekday(DWORD dwMask, int nWeekday) {
    const DWORD twice = (dwMask & 0x7F) | ((dwMask & 0x7F) << 7);
    for (int i = nWeekday + 1; i <= 14; ++i) {
        if (twice & (1u << (i - 1)))
            return i - nWeekday;
    }
    return 1;
}

int CSchedule::DaysToNextMonthDay(DWORD dwMask, int nYear, int nMonth, int nDay) {
    const int thisLength = MonthLength(nYear, nMonth);
    for (int d = nDay + 1; d <= thisLength; ++d) {
        if (InMask(dwMask, d))
            return d - nDay;
    }
    // The months ahead are taken with their own year, so February of the next year has its own length.
    int offset = thisLength - nDay;
    int y = nYear, m = nMonth;
    for (int ahead = 0; ahead < 2; ++ahead) {
        m = m == 12 ? 1 : m + 1;
        y = m == 1 ? y + 1 : y;
        const int length = MonthLength(y, m);
        for (int d = 1; d <= length; ++d) {
            if (InMask(dwMask, d))
                return offset + d;
        }
        offset += length;
    }
    return 1;
}

CTime CSchedule::GetNextTime() const {
    return NextTimeAt(WallNow().seconds, platform::clock::Now());
}

CTime CSchedule::NextTimeAt(LONGLONG llNowWall, LONGLONG llNowUtc) const {
    // Where the clocks go back, an hour of wall-clock times comes twice and a run in it is due at the first
    // (DueTimeOf). During the second pass that slot is already behind although its wall-clock time is still
    // ahead: it has gone by, and the next is looked for after it, so that a slot never runs twice and never at
    // once for a time that has passed. Compared on whole seconds, as everything here.
    const LONGLONG llSecond = llNowUtc - llNowUtc % platform::clock::kTicksPerSecond;
    CTime next = NextTimeAfter(llNowWall);
    for (int i = 0; i < 2 && next.GetTime() != 0 && DueTimeOf(next) < llSecond; ++i)
        next = m_nType < 0 ? CTime(0) : NextTimeAfter(WallOf(next).seconds);
    return next;
}

CTime CSchedule::NextTimeAfter(LONGLONG llNowWall) const {
    const Wall now{llNowWall};
    const Wall start = WallOf(m_tmStart);
    const Wall today{now.Days() * kSecondsPerDay + start.TimeOfDay()};
    auto day = [](const Wall& w, int days) { return Wall{w.seconds + days * kSecondsPerDay}; };
    switch (m_nType) {
    case -1:
        return start.seconds >= now.seconds ? m_tmStart : CTime(0);
    case 0:
        if (start.seconds > now.seconds)
            return m_tmStart;
        return TimeOf(today.seconds > now.seconds ? today : day(today, 1));
    case 1:
        if (start.seconds > now.seconds)
            return InMask(m_dwMask, start.Weekday()) ? m_tmStart
                                                     : TimeOf(day(start, DaysToNextWeekday(m_dwMask, start.Weekday())));
        if (today.seconds <= now.seconds || !InMask(m_dwMask, today.Weekday()))
            return TimeOf(day(today, DaysToNextWeekday(m_dwMask, today.Weekday())));
        return TimeOf(today);
    case 2: {
        int y = 0, m = 0, d = 0;
        if (start.seconds > now.seconds) {
            start.Date(y, m, d);
            return InMask(m_dwMask, d) ? m_tmStart : TimeOf(day(start, DaysToNextMonthDay(m_dwMask, y, m, d)));
        }
        today.Date(y, m, d);
        if (today.seconds <= now.seconds || !InMask(m_dwMask, d))
            return TimeOf(day(today, DaysToNextMonthDay(m_dwMask, y, m, d)));
        return TimeOf(today);
    }
    default:
        return CTime(0);
    }
}

LONGLONG CSchedule::GetNextDueTime() const {
    return DueTimeOf(GetNextTime());
}

LONGLONG CSchedule::DueTimeOf(const CTime& next) {
    if (next.GetTime() == 0)
        return 0;
    // The local time is turned into UTC by the system's own rules for that date, so a run on the far side of a
    // daylight-saving change gets that side's bias.
    const Wall w = WallOf(next);
    const LONGLONG local = platform::clock::kUnixEpoch + w.seconds * platform::clock::kTicksPerSecond;
    return platform::clock::LocalToUtc(local);
}

BOOL CSchedule::ArmTimer() {
    // A slot that has fired is never armed again, even when the clock went back meanwhile: the next run is then
    // looked for after the last one.
    LONGLONG nowWall = WallNow().seconds;
    LONGLONG nowUtc = platform::clock::Now();
    if (const LONGLONG fired = m_llLastFired.load(); fired != 0) {
        const LONGLONG firedWall =
            (platform::clock::UtcToLocal(fired) - platform::clock::kUnixEpoch) / platform::clock::kTicksPerSecond;
        nowWall = std::max(nowWall, firedWall);
        nowUtc = std::max(nowUtc, fired);
    }
    const LONGLONG due = DueTimeOf(NextTimeAt(nowWall, nowUtc));
    if (due == 0)
        return FALSE;
    LARGE_INTEGER li;
    li.QuadPart = due;
    if (!SetWaitableTimer(m_hTimer.get(), &li, 0, &TimerRoutine, this, TRUE))
        return FALSE;
    m_llArmedDue = due;
    return TRUE;
}

void CALLBACK CSchedule::TimerRoutine(LPVOID lpArg, DWORD dwLow, DWORD dwHigh) {
    auto* self = static_cast<CSchedule*>(lpArg);
    self->m_llLastFired = static_cast<LONGLONG>((static_cast<ULONGLONG>(dwHigh) << 32) | dwLow);
    if (self->m_hWnd)
        PostMessageW(self->m_hWnd, self->m_nMsg, self->m_wParam, self->m_lParam);
    // The next computation starts after this run's second.
    Sleep(1000);
    self->m_bWaiting = 0;
}

DWORD WINAPI CSchedule::WorkerThread(LPVOID lpParam) {
    auto* self = static_cast<CSchedule*>(lpParam);
    SetEvent(self->m_hStarted.get());
    if (!self->ArmTimer())
        return 7;
    self->m_bWaiting = 1;
    while (self->m_bWaiting && !self->m_bStop)
        SleepEx(1000, TRUE);
    if (!self->m_bStop && self->m_nType >= 0) {
        self->m_bRepeat = 1;
        while (self->m_bRepeat && !self->m_bStop) {
            CancelWaitableTimer(self->m_hTimer.get());
            if (!self->ArmTimer())
                break;
            self->m_bWaiting = 1;
            while (self->m_bWaiting && !self->m_bStop)
                SleepEx(1000, TRUE);
        }
    }
    return 0;
}

int CSchedule::StartSchedule() {
    if (m_nType == 2 && m_dwMask == 0)
        return 8;
    if (m_nType == 1 && m_dwMask == 0)
        return 9;
    if (GetNextDueTime() == 0)
        return 5;
    if (!m_hTimer) {
        m_hTimer.reset(CreateWaitableTimerW(nullptr, FALSE, _T("Wexo Zentra Waitable Timer")));
        if (!m_hTimer)
            return 2;
    }
    if (m_hThread) {
        if (WaitForSingleObject(m_hThread.get(), 0) != WAIT_OBJECT_0)
            return 6;
        m_hThread.reset();
    }
    m_bStop = 0;
    m_llLastFired = 0;
    m_hThread.reset(CreateThread(nullptr, 0, &WorkerThread, this, 0, nullptr));
    if (!m_hThread)
        return 4;
    return WaitForSingleObject(m_hStarted.get(), 20000) == WAIT_OBJECT_0 ? 0 : 10;
}

namespace {
void CALLBACK WakeUp(ULONG_PTR) {}
} // namespace

int CSchedule::StopSchedule() {
    if (!m_hTimer)
        return 0;
    m_bStop = 1;
    m_bRepeat = 0;
    m_bWaiting = 0;
    CancelWaitableTimer(m_hTimer.get());
    if (m_hThread) {
        // Wake the worker out of its alertable sleep at once instead of letting it notice within a second.
        QueueUserAPC(&WakeUp, m_hThread.get(), 0);
        WaitForSingleObject(m_hThread.get(), 20000);
        m_hThread.reset();
    }
    // Closed once the worker has ended, so that it never arms or cancels a handle that is gone.
    m_hTimer.reset();
    return 0;
}
