// CTime: a point in time in whole seconds since 1970-01-01 UTC, read and broken down in local time.
//
// "Now" comes from the layer clock (GetCurrentTime), and local time follows the layer's time-zone rules, so tests
// can fix both. Format understands the strftime conversions the framework passes on (%Y %m %d %H %M %S %y %I %p
// %j %a %A %b %B %c %x %X %w %U %z %Z %%) with English names; %#d and friends drop leading zeros as on Windows.
#pragma once

#include "platform/afx/TimeSpan.h"

#include <ctime>

class CTime {
public:
    CTime() = default;
    CTime(time_t time) : m_time(static_cast<LONGLONG>(time)) {}
    // A local date and time. nDST is accepted for compatibility; the time-zone rules decide.
    CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST = -1);
    CTime(const SYSTEMTIME& st, int nDST = -1);
    // A file time is UTC; it is taken as such.
    CTime(const FILETIME& ft, int nDST = -1);

    static CTime GetCurrentTime();

    time_t GetTime() const { return static_cast<time_t>(m_time); }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const; // 1 = Sunday
    // Broken-down local (or UTC) time; the result points at the caller's record.
    struct tm* GetLocalTm(struct tm* ptm) const;
    struct tm* GetGmtTm(struct tm* ptm) const;
    // Local time as a SYSTEMTIME; FALSE for a time before 1601.
    BOOL GetAsSystemTime(SYSTEMTIME& st) const;

    CString Format(LPCTSTR pFormat) const;
    CString FormatGmt(LPCTSTR pFormat) const;
    CString Format(UINT nFormatID) const;

    CTimeSpan operator-(CTime other) const { return CTimeSpan(static_cast<time_t>(m_time - other.m_time)); }
    CTime operator-(CTimeSpan span) const { return CTime(static_cast<time_t>(m_time - span.GetTotalSeconds())); }
    CTime operator+(CTimeSpan span) const { return CTime(static_cast<time_t>(m_time + span.GetTotalSeconds())); }
    CTime& operator+=(CTimeSpan span) {
        m_time += span.GetTotalSeconds();
        return *this;
    }
    CTime& operator-=(CTimeSpan span) {
        m_time -= span.GetTotalSeconds();
        return *this;
    }
    auto operator<=>(const CTime&) const = default;

private:
    LONGLONG m_time = 0;
};
