#include "platform/afx/OleDateTime.h"

#include "platform/base/clock.h"

#include <cmath>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace clk = platform::clock;

constexpr long long kSecondsPerDay = 86400;
constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;

const int64_t kZeroDay = clk::DaysFromCivil(1899, 12, 30);

const char16_t* const kMonthNames[] = {u"january", u"february", u"march",     u"april",   u"may",      u"june",
                                       u"july",    u"august",   u"september", u"october", u"november", u"december"};
const char16_t* const kDayNames[] = {u"sunday",   u"monday", u"tuesday", u"wednesday",
                                     u"thursday", u"friday", u"saturday"};

bool ValidParts(int year, int month, int day, int hour, int minute, int second) {
    return year >= kMinYear && year <= kMaxYear && month >= 1 && month <= 12 && day >= 1 &&
           day <= static_cast<int>(clk::DaysInMonth(year, static_cast<unsigned>(month))) && hour >= 0 && hour < 24 &&
           minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

DATE ToDate(int year, int month, int day, int hour, int minute, int second) {
    const long long days =
        clk::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kZeroDay;
    const double fraction = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    // Before the zero date the whole days count backwards while the time of day still counts forwards.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

// ---- Parsing ----

struct Token {
    enum Kind { Number, Word, Separator } kind;
    std::u16string text;
    int value = 0;
};

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return text;
}

bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::optional<std::vector<Token>> Tokenize(const std::u16string& text) {
    std::vector<Token> tokens;
    for (size_t i = 0; i < text.size();) {
        const char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            size_t n = 0;
            long long value = 0;
            while (i + n < text.size() && text[i + n] >= u'0' && text[i + n] <= u'9') {
                value = value * 10 + (text[i + n] - u'0');
                if (value > 1'000'000)
                    return std::nullopt;
                ++n;
            }
            tokens.push_back(Token{Token::Number, text.substr(i, n), static_cast<int>(value)});
            i += n;
        } else if (IsLetter(c)) {
            size_t n = 0;
            while (i + n < text.size() && IsLetter(text[i + n]))
                ++n;
            tokens.push_back(Token{Token::Word, Lower(text.substr(i, n)), 0});
            i += n;
        } else if (c == u' ' || c == u'\t') {
            ++i;
        } else if (c == u'/' || c == u'-' || c == u'.' || c == u':' || c == u',') {
            tokens.push_back(Token{Token::Separator, std::u16string(1, c), 0});
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

int MonthOf(const std::u16string& word) {
    for (int m = 0; m < 12; ++m) {
        const std::u16string name = kMonthNames[m];
        if (word == name || (word.size() >= 3 && name.compare(0, word.size(), word) == 0))
            return m + 1;
    }
    return 0;
}

bool IsDayName(const std::u16string& word) {
    for (const char16_t* day : kDayNames) {
        const std::u16string name = day;
        if (word == name || (word.size() >= 3 && name.compare(0, word.size(), word) == 0))
            return true;
    }
    return false;
}

int MeridiemOf(const std::u16string& word) {
    if (word == u"am" || word == u"a")
        return 1;
    if (word == u"pm" || word == u"p")
        return 2;
    return 0;
}

int ExpandYear(const Token& token) {
    if (token.text.size() <= 2)
        return token.value < 30 ? 2000 + token.value : 1900 + token.value;
    return token.value;
}

struct Parsed {
    bool hasDate = false, hasTime = false;
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

// Takes the time out of the tokens: "H:MM[:SS] [AM|PM]" or "H AM|PM".
bool TakeTime(std::vector<Token>& tokens, Parsed& out) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Token::Number)
            continue;
        size_t end = i + 1;
        std::vector<int> parts{tokens[i].value};
        while (end + 1 < tokens.size() && tokens[end].kind == Token::Separator && tokens[end].text == u":" &&
               tokens[end + 1].kind == Token::Number && parts.size() < 3) {
            parts.push_back(tokens[end + 1].value);
            end += 2;
        }
        int meridiem = 0;
        if (end < tokens.size() && tokens[end].kind == Token::Word)
            meridiem = MeridiemOf(tokens[end].text);
        if (parts.size() == 1 && !meridiem)
            continue;
        if (meridiem)
            ++end;
        int hour = parts[0];
        const int minute = parts.size() > 1 ? parts[1] : 0;
        const int second = parts.size() > 2 ? parts[2] : 0;
        if (meridiem) {
            if (hour < 1 || hour > 12)
                return false;
            hour = (hour % 12) + (meridiem == 2 ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59)
            return false;
        out.hasTime = true;
        out.hour = hour;
        out.minute = minute;
        out.second = second;
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i),
                     tokens.begin() + static_cast<std::ptrdiff_t>(end));
        // A time is found once; a second one makes the text no date.
        for (const Token& t : tokens)
            if (t.kind == Token::Separator && t.text == u":")
                return false;
        return true;
    }
    return true;
}

bool TakeDate(std::vector<Token>& tokens, Parsed& out) {
    // A leading day name (and its comma) says nothing the date does not.
    if (!tokens.empty() && tokens.front().kind == Token::Word && IsDayName(tokens.front().text)) {
        tokens.erase(tokens.begin());
        if (!tokens.empty() && tokens.front().kind == Token::Separator && tokens.front().text == u",")
            tokens.erase(tokens.begin());
    }
    std::vector<Token> numbers;
    int month = 0;
    int monthPos = -1;
    for (const Token& t : tokens) {
        if (t.kind == Token::Number) {
            numbers.push_back(t);
        } else if (t.kind == Token::Word) {
            const int m = MonthOf(t.text);
            if (!m || month)
                return false;
            month = m;
            monthPos = static_cast<int>(numbers.size());
        }
    }
    if (numbers.empty() && !month)
        return true; // no date at all
    SYSTEMTIME now{};
    GetLocalTime(&now);
    int year = 0, day = 0;
    if (month) {
        if (numbers.size() == 1) {
            day = numbers[0].value;
            year = now.wYear;
        } else if (numbers.size() == 2) {
            if (monthPos == 1 && numbers[0].text.size() == 4) { // 2024 Jan 5
                year = numbers[0].value;
                day = numbers[1].value;
            } else { // Jan 5 2024, 5 Jan 2024
                day = numbers[0].value;
                year = ExpandYear(numbers[1]);
            }
        } else {
            return false;
        }
    } else {
        if (numbers.size() == 3) {
            if (numbers[0].text.size() >= 3) { // Y-M-D
                year = numbers[0].value;
                month = numbers[1].value;
                day = numbers[2].value;
            } else { // M/D/Y
                month = numbers[0].value;
                day = numbers[1].value;
                year = ExpandYear(numbers[2]);
            }
        } else if (numbers.size() == 2) {
            if (numbers[0].text.size() >= 3)
                return false;
            month = numbers[0].value;
            day = numbers[1].value;
            year = now.wYear;
        } else {
            return false; // a lone number is no date
        }
    }
    if (!ValidParts(year, month, day, 0, 0, 0))
        return false;
    out.hasDate = true;
    out.year = year;
    out.month = month;
    out.day = day;
    return true;
}

} // namespace

COleDateTime::COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
    SetDateTime(nYear, nMonth, nDay, nHour, nMin, nSec);
}

COleDateTime::COleDateTime(const SYSTEMTIME& st) {
    SetDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

COleDateTime::COleDateTime(const CTime& time) {
    SetDateTime(time.GetYear(), time.GetMonth(), time.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
}

COleDateTime COleDateTime::GetCurrentTime() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return COleDateTime(st);
}

int COleDateTime::SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
    if (!ValidParts(nYear, nMonth, nDay, nHour, nMin, nSec)) {
        m_dt = 0;
        m_status = invalid;
        return 1;
    }
    m_dt = ToDate(nYear, nMonth, nDay, nHour, nMin, nSec);
    m_status = valid;
    return 0;
}

long long COleDateTime::Seconds() const {
    const double whole = std::trunc(m_dt);
    const long long seconds = std::llround(std::fabs(m_dt - whole) * kSecondsPerDay);
    return static_cast<long long>(whole) * kSecondsPerDay + seconds;
}

bool COleDateTime::Parts(int& year, int& month, int& day, int& hour, int& minute, int& second) const {
    if (m_status != valid || !std::isfinite(m_dt))
        return false;
    const long long total = Seconds();
    long long days = total / kSecondsPerDay;
    long long rest = total % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    clk::CivilFromDays(days + kZeroDay, y, m, d);
    if (y < kMinYear || y > kMaxYear)
        return false;
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(d);
    hour = static_cast<int>(rest / 3600);
    minute = static_cast<int>(rest / 60 % 60);
    second = static_cast<int>(rest % 60);
    return true;
}

#define DATE_PART(name, expr)                                                                                          \
    int COleDateTime::name() const {                                                                                   \
        int year, month, day, hour, minute, second;                                                                    \
        if (!Parts(year, month, day, hour, minute, second))                                                            \
            return -1;                                                                                                 \
        return expr;                                                                                                   \
    }
DATE_PART(GetYear, year)
DATE_PART(GetMonth, month)
DATE_PART(GetDay, day)
DATE_PART(GetHour, hour)
DATE_PART(GetMinute, minute)
DATE_PART(GetSecond, second)
DATE_PART(GetDayOfWeek, static_cast<int>(clk::DayOfWeek(clk::DaysFromCivil(year, static_cast<unsigned>(month),
                                                                           static_cast<unsigned>(day)))) +
                            1)
DATE_PART(GetDayOfYear,
          static_cast<int>(clk::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                           clk::DaysFromCivil(year, 1, 1)) +
              1)
#undef DATE_PART

BOOL COleDateTime::GetAsSystemTime(SYSTEMTIME& st) const {
    int year, month, day, hour, minute, second;
    if (!Parts(year, month, day, hour, minute, second))
        return FALSE;
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = 0;
    st.wDayOfWeek = static_cast<WORD>(GetDayOfWeek() - 1);
    return TRUE;
}

BOOL COleDateTime::ParseDateTime(LPCTSTR lpszDate, DWORD dwFlags, LCID) {
    const std::u16string text = lpszDate ? std::u16string(lpszDate) : std::u16string();
    auto fail = [this] {
        m_dt = 0;
        m_status = invalid;
        return FALSE;
    };
    auto tokens = Tokenize(text);
    if (!tokens)
        return fail();
    if (tokens->empty()) {
        m_dt = 0;
        m_status = valid;
        return TRUE;
    }
    Parsed parsed;
    if (!TakeTime(*tokens, parsed) || !TakeDate(*tokens, parsed))
        return fail();
    if (!parsed.hasDate && !parsed.hasTime)
        return fail();
    // Only separators may be left over, and a date needs some between its parts; a time alone stands alone.
    if (!parsed.hasDate)
        for (const Token& t : *tokens)
            if (t.kind != Token::Separator || t.text != u",")
                return fail();
    if (dwFlags & VAR_TIMEVALUEONLY) {
        parsed.year = 1899;
        parsed.month = 12;
        parsed.day = 30;
    }
    if (dwFlags & VAR_DATEVALUEONLY)
        parsed.hour = parsed.minute = parsed.second = 0;
    if (SetDateTime(parsed.year, parsed.month, parsed.day, parsed.hour, parsed.minute, parsed.second) != 0)
        return fail();
    return TRUE;
}

CString COleDateTime::Format(DWORD dwFlags, LCID) const {
    if (m_status == null)
        return CString();
    int year, month, day, hour, minute, second;
    if (!Parts(year, month, day, hour, minute, second))
        return CString(u"Invalid DateTime");
    const bool zeroDate = year == 1899 && month == 12 && day == 30;
    const bool zeroTime = hour == 0 && minute == 0 && second == 0;
    bool showDate = !(dwFlags & VAR_TIMEVALUEONLY);
    bool showTime = !(dwFlags & VAR_DATEVALUEONLY);
    if (showDate && showTime) {
        showDate = !zeroDate || zeroTime;
        showTime = !zeroTime;
    }
    CString result;
    if (showDate)
        result.Format(u"%d/%d/%d", month, day, year);
    if (showTime) {
        CString time;
        time.Format(u"%d:%02d:%02d %s", hour % 12 == 0 ? 12 : hour % 12, minute, second, hour < 12 ? u"AM" : u"PM");
        if (!result.IsEmpty())
            result += u" ";
        result += time;
    }
    return result;
}
