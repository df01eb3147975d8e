// CTimeSpan: a signed span of whole seconds.
#pragma once

#include "platform/afx/String.h"

#include <ctime>

class CTimeSpan {
public:
    CTimeSpan() = default;
    CTimeSpan(time_t time) : m_timeSpan(static_cast<LONGLONG>(time)) {}
    CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs)
        : m_timeSpan(((static_cast<LONGLONG>(lDays) * 24 + nHours) * 60 + nMins) * 60 + nSecs) {}

    LONGLONG GetDays() const { return m_timeSpan / (24 * 3600); }
    LONGLONG GetTotalHours() const { return m_timeSpan / 3600; }
    LONG GetHours() const { return static_cast<LONG>(GetTotalHours() - GetDays() * 24); }
    LONGLONG GetTotalMinutes() const { return m_timeSpan / 60; }
    LONG GetMinutes() const { return static_cast<LONG>(GetTotalMinutes() - GetTotalHours() * 60); }
    LONGLONG GetTotalSeconds() const { return m_timeSpan; }
    LONG GetSeconds() const { return static_cast<LONG>(GetTotalSeconds() - GetTotalMinutes() * 60); }
    time_t GetTimeSpan() const { return static_cast<time_t>(m_timeSpan); }

    // %D days, %H hours (00-23), %M minutes, %S seconds, %% a percent sign; other characters are copied.
    CString Format(LPCTSTR pFormat) const;

    CTimeSpan operator+(CTimeSpan other) const { return CTimeSpan(static_cast<time_t>(m_timeSpan + other.m_timeSpan)); }
    CTimeSpan operator-(CTimeSpan other) const { return CTimeSpan(static_cast<time_t>(m_timeSpan - other.m_timeSpan)); }
    CTimeSpan& operator+=(CTimeSpan other) {
        m_timeSpan += other.m_timeSpan;
        return *this;
    }
    CTimeSpan& operator-=(CTimeSpan other) {
        m_timeSpan -= other.m_timeSpan;
        return *this;
    }
    auto operator<=>(const CTimeSpan&) const = default;

private:
    LONGLONG m_timeSpan = 0;
};
