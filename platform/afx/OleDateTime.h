// COleDateTime: a date and time of the automation DATE type (days since 30 December 1899, the fraction of the day
// the time), with a status (valid, invalid, null), and the parsing of dates and times that users type.
//
// Stands in for the framework's class of the same name. The same: the DATE scale (negative values count the day
// backwards while the fraction still counts forward, as the automation type does), years 100 to 9999, seconds as the
// finest unit, comparison by the point in time. ParseDateTime reads the forms of the English (United States) user
// locale, which is the layer's only locale: "M/D/Y", "M-D-Y" and "M.D.Y" (two-digit years: 00 to 29 are 2000 on, 30
// to 99 1900 on), "Y-M-D" with a four-digit year, "M/D" in the current year, month names ("January 5, 2024",
// "5 Jan 2024"), a leading day name, and times "H:MM", "H:MM:SS", with "AM"/"PM" also "H AM". A text with only a
// time gives that time on the zero date (30 December 1899); a text with only a date gives midnight. Anything else
// fails and leaves the object invalid. Format(flags) writes the same short forms.
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/Time.h"
#include "platform/base/types.h"
#include "platform/com/oleauto.h" // LOCALE_USER_DEFAULT

using DATE = double;

// Flags of ParseDateTime and Format.
constexpr DWORD VAR_TIMEVALUEONLY = 0x00000001;
constexpr DWORD VAR_DATEVALUEONLY = 0x00000002;
constexpr DWORD LOCALE_NOUSEROVERRIDE = 0x80000000;
constexpr LCID LANG_USER_DEFAULT = 0x0400;

class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTime() = default;
    COleDateTime(DATE dtSrc) : m_dt(dtSrc) {}
    COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec);
    COleDateTime(const SYSTEMTIME& st);
    COleDateTime(const CTime& time);

    static COleDateTime GetCurrentTime();

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }
    operator DATE() const { return m_dt; }

    // 0 on success; 1 (and an invalid object) for a date or time outside the ranges.
    int SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec);
    int SetDate(int nYear, int nMonth, int nDay) { return SetDateTime(nYear, nMonth, nDay, 0, 0, 0); }
    int SetTime(int nHour, int nMin, int nSec) { return SetDateTime(1899, 12, 30, nHour, nMin, nSec); }

    // The parts of a valid object; -1 (AFX_OLE_DATETIME_ERROR) for one that is not.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const; // 1 = Sunday
    int GetDayOfYear() const; // 1 = 1 January
    BOOL GetAsSystemTime(SYSTEMTIME& st) const;

    // TRUE when the text is a date, a time or both; otherwise FALSE and the object is invalid. An empty text gives
    // the zero date and time and TRUE, as the framework's does.
    BOOL ParseDateTime(LPCTSTR lpszDate, DWORD dwFlags = 0, LCID lcid = LANG_USER_DEFAULT);
    CString Format(DWORD dwFlags = 0, LCID lcid = LANG_USER_DEFAULT) const;

    // Comparisons by the point in time (valid objects).
    bool operator==(const COleDateTime& other) const { return Seconds() == other.Seconds(); }
    bool operator<(const COleDateTime& other) const { return Seconds() < other.Seconds(); }
    bool operator>(const COleDateTime& other) const { return other < *this; }
    bool operator<=(const COleDateTime& other) const { return !(other < *this); }
    bool operator>=(const COleDateTime& other) const { return !(*this < other); }

private:
    // Seconds since 30 December 1899 00:00 on a straight scale (the DATE scale folds negative days).
    long long Seconds() const;
    bool Parts(int& year, int& month, int& day, int& hour, int& minute, int& second) const;

    DATE m_dt = 0;
    DateTimeStatus m_status = valid;
};
