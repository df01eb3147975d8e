#include "platform/afx/Time.h"

#include "platform/base/clock.h"
#include "platform/base/format.h"

#include <string>

namespace {

namespace clk = platform::clock;

constexpr LONGLONG kSecondsPerDay = 86400;

LONGLONG FloorDiv(LONGLONG a, LONGLONG b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Seconds since 1970 UTC to seconds since 1970 on the local wall clock, and back.
LONGLONG ToLocal(LONGLONG utcSeconds) {
    const clk::Ticks local = clk::UtcToLocal(clk::kUnixEpoch + utcSeconds * clk::kTicksPerSecond);
    return FloorDiv(local - clk::kUnixEpoch, clk::kTicksPerSecond);
}

LONGLONG FromLocal(LONGLONG localSeconds) {
    const clk::Ticks utc = clk::LocalToUtc(clk::kUnixEpoch + localSeconds * clk::kTicksPerSecond);
    return FloorDiv(utc - clk::kUnixEpoch, clk::kTicksPerSecond);
}

void Breakdown(LONGLONG seconds, struct tm& out) {
    out = {};
    LONGLONG days = FloorDiv(seconds, kSecondsPerDay);
    LONGLONG rest = seconds - days * kSecondsPerDay;
    int64_t year = 0;
    unsigned month = 0, day = 0;
    clk::CivilFromDays(days, year, month, day);
    out.tm_year = static_cast<int>(year - 1900);
    out.tm_mon = static_cast<int>(month) - 1;
    out.tm_mday = static_cast<int>(day);
    out.tm_hour = static_cast<int>(rest / 3600);
    out.tm_min = static_cast<int>(rest / 60 % 60);
    out.tm_sec = static_cast<int>(rest % 60);
    out.tm_wday = static_cast<int>(clk::DayOfWeek(days));
    out.tm_yday = static_cast<int>(days - clk::DaysFromCivil(year, 1, 1));
    out.tm_isdst = -1;
}

const char16_t* const kDays[] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
const char16_t* const kMonths[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                   u"July",    u"August",   u"September", u"October", u"November", u"December"};

std::u16string Number(int value, int width, bool trimZeros) {
    return trimZeros ? platform::Format(u"%d", value) : platform::Format(u"%0*d", width, value);
}

std::u16string FormatTm(LPCTSTR pFormat, const struct tm& t, LONGLONG offsetSeconds, bool gmt) {
    std::u16string out;
    for (LPCTSTR p = pFormat; p && *p; ++p) {
        if (*p != u'%' || !p[1]) {
            out += *p;
            continue;
        }
        ++p;
        bool alternate = false;
        if (*p == u'#' && p[1]) {
            alternate = true;
            ++p;
        }
        const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
        switch (*p) {
        case u'a':
            out += std::u16string(kDays[t.tm_wday]).substr(0, 3);
            break;
        case u'A':
            out += kDays[t.tm_wday];
            break;
        case u'b':
            out += std::u16string(kMonths[t.tm_mon]).substr(0, 3);
            break;
        case u'B':
            out += kMonths[t.tm_mon];
            break;
        case u'c':
            out += alternate ? FormatTm(u"%A, %B %#d, %Y %H:%M:%S", t, offsetSeconds, gmt)
                             : FormatTm(u"%m/%d/%y %H:%M:%S", t, offsetSeconds, gmt);
            break;
        case u'd':
            out += Number(t.tm_mday, 2, alternate);
            break;
        case u'H':
            out += Number(t.tm_hour, 2, alternate);
            break;
        case u'I':
            out += Number(hour12, 2, alternate);
            break;
        case u'j':
            out += Number(t.tm_yday + 1, 3, alternate);
            break;
        case u'm':
            out += Number(t.tm_mon + 1, 2, alternate);
            break;
        case u'M':
            out += Number(t.tm_min, 2, alternate);
            break;
        case u'p':
            out += t.tm_hour < 12 ? u"AM" : u"PM";
            break;
        case u'S':
            out += Number(t.tm_sec, 2, alternate);
            break;
        case u'U':
            out += Number((t.tm_yday + 7 - t.tm_wday) / 7, 2, alternate);
            break;
        case u'w':
            out += Number(t.tm_wday, 1, false);
            break;
        case u'W':
            out += Number((t.tm_yday + 7 - (t.tm_wday + 6) % 7) / 7, 2, alternate);
            break;
        case u'x':
            out += alternate ? FormatTm(u"%A, %B %#d, %Y", t, offsetSeconds, gmt)
                             : FormatTm(u"%m/%d/%y", t, offsetSeconds, gmt);
            break;
        case u'X':
            out += FormatTm(u"%H:%M:%S", t, offsetSeconds, gmt);
            break;
        case u'y':
            out += Number(t.tm_year % 100, 2, alternate);
            break;
        case u'Y':
            out += Number(t.tm_year + 1900, 4, alternate);
            break;
        case u'z':
        case u'Z': {
            if (gmt) {
                out += u"UTC";
                break;
            }
            const LONGLONG minutes = offsetSeconds / 60;
            out += platform::Format(u"%c%02d%02d", minutes < 0 ? u'-' : u'+',
                                    static_cast<int>((minutes < 0 ? -minutes : minutes) / 60),
                                    static_cast<int>((minutes < 0 ? -minutes : minutes) % 60));
            break;
        }
        case u'%':
            out += u'%';
            break;
        default:
            out += u'%';
            out += *p;
            break;
        }
    }
    return out;
}

} // namespace

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int) {
    const LONGLONG local =
        clk::DaysFromCivil(nYear, static_cast<unsigned>(nMonth), static_cast<unsigned>(nDay)) * kSecondsPerDay +
        nHour * 3600LL + nMin * 60LL + nSec;
    m_time = FromLocal(local);
}

CTime::CTime(const SYSTEMTIME& st, int nDST)
    : CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, nDST) {}

CTime::CTime(const FILETIME& ft, int) {
    m_time = FloorDiv(clk::FromFileTime(ft) - clk::kUnixEpoch, clk::kTicksPerSecond);
}

CTime CTime::GetCurrentTime() {
    return CTime(static_cast<time_t>(FloorDiv(clk::Now() - clk::kUnixEpoch, clk::kTicksPerSecond)));
}

struct tm* CTime::GetLocalTm(struct tm* ptm) const {
    if (!ptm)
        return nullptr;
    Breakdown(ToLocal(m_time), *ptm);
    return ptm;
}

struct tm* CTime::GetGmtTm(struct tm* ptm) const {
    if (!ptm)
        return nullptr;
    Breakdown(m_time, *ptm);
    return ptm;
}

int CTime::GetYear() const {
    struct tm t;
    return GetLocalTm(&t)->tm_year + 1900;
}
int CTime::GetMonth() const {
    struct tm t;
    return GetLocalTm(&t)->tm_mon + 1;
}
int CTime::GetDay() const {
    struct tm t;
    return GetLocalTm(&t)->tm_mday;
}
int CTime::GetHour() const {
    struct tm t;
    return GetLocalTm(&t)->tm_hour;
}
int CTime::GetMinute() const {
    struct tm t;
    return GetLocalTm(&t)->tm_min;
}
int CTime::GetSecond() const {
    struct tm t;
    return GetLocalTm(&t)->tm_sec;
}
int CTime::GetDayOfWeek() const {
    struct tm t;
    return GetLocalTm(&t)->tm_wday + 1;
}

BOOL CTime::GetAsSystemTime(SYSTEMTIME& st) const {
    struct tm t;
    GetLocalTm(&t);
    if (t.tm_year + 1900 < 1601 || t.tm_year + 1900 > 30827)
        return FALSE;
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = 0;
    return TRUE;
}

CString CTime::Format(LPCTSTR pFormat) const {
    struct tm t;
    GetLocalTm(&t);
    return CString(std::u16string_view(FormatTm(pFormat, t, ToLocal(m_time) - m_time, false)));
}

CString CTime::FormatGmt(LPCTSTR pFormat) const {
    struct tm t;
    GetGmtTm(&t);
    return CString(std::u16string_view(FormatTm(pFormat, t, 0, true)));
}

CString CTime::Format(UINT nFormatID) const {
    CString format;
    format.LoadString(nFormatID);
    return Format(format);
}
