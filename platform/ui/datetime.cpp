// The date-time picker: one SYSTEMTIME (or none), an optional range, a format of fields; Left and Right choose a
// field, Up and Down change it within its own span, and the parent hears DTN_DATETIMECHANGE after each change.
#include "platform/ui/commctrl_internal.h"

#include "platform/base/clock.h"
#include "platform/gdi/wingdi.h"

#include <algorithm>
#include <array>
#include <vector>

namespace platform::ui::controls {
namespace {

namespace clk = platform::clock;

constexpr std::array<const char16_t*, 12> kMonths = {u"January",   u"February", u"March",    u"April",
                                                     u"May",       u"June",     u"July",     u"August",
                                                     u"September", u"October",  u"November", u"December"};
constexpr std::array<const char16_t*, 7> kDays = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                                  u"Thursday", u"Friday", u"Saturday"};

// The formats of the styles, in the user's (English) locale.
constexpr const char16_t* kShortDate = u"M/d/yyyy";
constexpr const char16_t* kLongDate = u"dddd, MMMM d, yyyy";
constexpr const char16_t* kTimeFormat = u"h:mm:ss tt";

enum class Field { None, Year, Month, Day, DayName, Hour12, Hour24, Minute, Second, AmPm };

// One piece of a parsed format: a literal text or a field with its width (the count of the letter).
struct Piece {
    Field field = Field::None;
    int count = 0;
    std::u16string literal;
};

std::vector<Piece> ParseFormat(const std::u16string& format) {
    std::vector<Piece> pieces;
    auto addLiteral = [&](char16_t c) {
        if (pieces.empty() || pieces.back().field != Field::None)
            pieces.push_back(Piece{});
        pieces.back().literal.push_back(c);
    };
    for (size_t i = 0; i < format.size();) {
        const char16_t c = format[i];
        if (c == u'\'') {
            // Quoted text; two quotes in a row stand for one.
            ++i;
            while (i < format.size()) {
                if (format[i] == u'\'') {
                    if (i + 1 < format.size() && format[i + 1] == u'\'') {
                        addLiteral(u'\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                addLiteral(format[i++]);
            }
            continue;
        }
        size_t n = 1;
        while (i + n < format.size() && format[i + n] == c)
            ++n;
        Field field = Field::None;
        switch (c) {
        case u'y':
            field = Field::Year;
            break;
        case u'M':
            field = Field::Month;
            break;
        case u'd':
            field = n >= 3 ? Field::DayName : Field::Day;
            break;
        case u'h':
            field = Field::Hour12;
            break;
        case u'H':
            field = Field::Hour24;
            break;
        case u'm':
            field = Field::Minute;
            break;
        case u's':
            field = Field::Second;
            break;
        case u't':
            field = Field::AmPm;
            break;
        default:
            break;
        }
        if (field == Field::None) {
            for (size_t k = 0; k < n; ++k)
                addLiteral(c);
        } else {
            pieces.push_back(Piece{field, static_cast<int>(n), {}});
        }
        i += n;
    }
    return pieces;
}

std::u16string Number(int value, int width) {
    std::u16string digits;
    for (const char c : std::to_string(value))
        digits.push_back(static_cast<char16_t>(c));
    while (static_cast<int>(digits.size()) < width)
        digits.insert(digits.begin(), u'0');
    return digits;
}

std::u16string FieldText(const Piece& piece, const SYSTEMTIME& st) {
    switch (piece.field) {
    case Field::Year:
        return piece.count <= 2 ? Number(st.wYear % 100, 2) : Number(st.wYear, piece.count == 3 ? 4 : piece.count);
    case Field::Month:
        if (piece.count >= 3) {
            std::u16string name = kMonths[static_cast<size_t>(st.wMonth - 1)];
            return piece.count == 3 ? name.substr(0, 3) : name;
        }
        return Number(st.wMonth, piece.count);
    case Field::Day:
        return Number(st.wDay, piece.count);
    case Field::DayName: {
        std::u16string name = kDays[st.wDayOfWeek % 7];
        return piece.count == 3 ? name.substr(0, 3) : name;
    }
    case Field::Hour12:
        return Number(st.wHour % 12 == 0 ? 12 : st.wHour % 12, std::min(piece.count, 2));
    case Field::Hour24:
        return Number(st.wHour, std::min(piece.count, 2));
    case Field::Minute:
        return Number(st.wMinute, std::min(piece.count, 2));
    case Field::Second:
        return Number(st.wSecond, std::min(piece.count, 2));
    case Field::AmPm: {
        std::u16string mark = st.wHour < 12 ? u"AM" : u"PM";
        return piece.count == 1 ? mark.substr(0, 1) : mark;
    }
    case Field::None:
        break;
    }
    return piece.literal;
}

int64_t DaysOf(const SYSTEMTIME& st) {
    return clk::DaysFromCivil(st.wYear, st.wMonth, st.wDay);
}

// Whether the record is a real date and time (the day of the week is not looked at).
bool IsValidTime(const SYSTEMTIME& st) {
    return st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
           st.wDay <= clk::DaysInMonth(st.wYear, st.wMonth) && st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 &&
           st.wMilliseconds < 1000;
}

int Compare(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const auto key = [](const SYSTEMTIME& s) {
        return std::array<int64_t, 5>{DaysOf(s), s.wHour, s.wMinute, s.wSecond, s.wMilliseconds};
    };
    const auto ka = key(a), kb = key(b);
    return ka < kb ? -1 : (kb < ka ? 1 : 0);
}

void FixDayOfWeek(SYSTEMTIME& st) {
    st.wDayOfWeek = static_cast<WORD>(clk::DayOfWeek(DaysOf(st)));
}

struct DatePicker {
    HWND hwnd = nullptr;
    SYSTEMTIME time{};
    bool none = false;
    DWORD rangeFlags = 0;
    SYSTEMTIME rangeMin{}, rangeMax{};
    std::u16string customFormat;
    bool hasCustomFormat = false;
    int focusField = 0;
    HFONT font = nullptr;

    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

    std::u16string Format() const {
        if (hasCustomFormat)
            return customFormat;
        const DWORD style = Style();
        if ((style & DTS_TIMEFORMAT) == DTS_TIMEFORMAT)
            return kTimeFormat;
        return (style & DTS_LONGDATEFORMAT) ? kLongDate : kShortDate;
    }

    std::vector<Piece> Fields() const {
        std::vector<Piece> fields;
        for (Piece& piece : ParseFormat(Format()))
            if (piece.field != Field::None && piece.field != Field::DayName)
                fields.push_back(std::move(piece));
        return fields;
    }

    std::u16string Text() const {
        std::u16string text;
        for (const Piece& piece : ParseFormat(Format()))
            text += FieldText(piece, time);
        return text;
    }

    bool InRange(const SYSTEMTIME& st) const {
        if ((rangeFlags & GDTR_MIN) && Compare(st, rangeMin) < 0)
            return false;
        if ((rangeFlags & GDTR_MAX) && Compare(st, rangeMax) > 0)
            return false;
        return true;
    }

    void NotifyChange() {
        NMDATETIMECHANGE change{};
        change.dwFlags = none ? static_cast<DWORD>(GDT_NONE) : static_cast<DWORD>(GDT_VALID);
        change.st = time;
        Notify(hwnd, change.nmhdr, DTN_DATETIMECHANGE);
    }

    // Moves the field in focus by delta, wrapping inside the field's own span; the other fields stay.
    bool Step(int delta) {
        const std::vector<Piece> fields = Fields();
        if (fields.empty() || none)
            return false;
        const Field field =
            fields[static_cast<size_t>(std::clamp(focusField, 0, static_cast<int>(fields.size()) - 1))].field;
        SYSTEMTIME next = time;
        auto wrap = [&](int value, int low, int high) {
            const int span = high - low + 1;
            return static_cast<WORD>(low + (((value - low + delta) % span) + span) % span);
        };
        switch (field) {
        case Field::Year:
            next.wYear = wrap(next.wYear, 1601, 9999);
            break;
        case Field::Month:
            next.wMonth = wrap(next.wMonth, 1, 12);
            break;
        case Field::Day:
            next.wDay = wrap(next.wDay, 1, static_cast<int>(clk::DaysInMonth(next.wYear, next.wMonth)));
            break;
        case Field::Hour12:
        case Field::Hour24:
            next.wHour = wrap(next.wHour, 0, 23);
            break;
        case Field::Minute:
            next.wMinute = wrap(next.wMinute, 0, 59);
            break;
        case Field::Second:
            next.wSecond = wrap(next.wSecond, 0, 59);
            break;
        case Field::AmPm:
            next.wHour = static_cast<WORD>((next.wHour + 12) % 24);
            break;
        default:
            return false;
        }
        // A month or year change keeps the day inside the new month.
        next.wDay = static_cast<WORD>(std::min<unsigned>(next.wDay, clk::DaysInMonth(next.wYear, next.wMonth)));
        FixDayOfWeek(next);
        if (!InRange(next))
            return false;
        time = next;
        InvalidateRect(hwnd, nullptr, TRUE);
        NotifyChange();
        return true;
    }

    void Paint(WPARAM wParam) {
        ControlPaint paint(hwnd, wParam);
        HDC dc = paint.dc();
        if (!dc)
            return;
        paint.UseFont(font);
        RECT rc{};
        GetClientRect(hwnd, &rc);
        const bool enabled = IsWindowEnabled(hwnd);
        FillColor(dc, rc, GetSysColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
        RECT edge = rc;
        DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        // The button at the right: a drop-down arrow, or the two arrows of the up-down form.
        const int buttonWidth = std::min<int>(16, std::max<int>(0, edge.right - edge.left));
        RECT button{edge.right - buttonWidth, edge.top, edge.right, edge.bottom};
        FillColor(dc, button, GetSysColor(COLOR_BTNFACE));
        DrawEdge(dc, &button, EDGE_RAISED, BF_RECT);
        RECT text{edge.left, edge.top, button.left, edge.bottom};
        if (!none)
            DrawLabel(dc, Text(), text, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    }
};

LRESULT CALLBACK DatePickerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        DatePicker* dp = CreateState<DatePicker>(hwnd);
        dp->hwnd = hwnd;
        GetLocalTime(&dp->time);
        dp->time.wMilliseconds = 0;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    DatePicker* dp = StateOf<DatePicker>(hwnd);
    if (!dp)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<DatePicker>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT:
        dp->Paint(wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        dp->font = reinterpret_cast<HFONT>(wParam);
        if (lParam)
            InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(dp->font);
    case WM_GETDLGCODE:
        return kDlgcWantArrows;
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_KEYDOWN: {
        const int count = static_cast<int>(dp->Fields().size());
        switch (static_cast<int>(wParam)) {
        case VK_LEFT:
            if (count)
                dp->focusField = (dp->focusField + count - 1) % count;
            return 0;
        case VK_RIGHT:
            if (count)
                dp->focusField = (dp->focusField + 1) % count;
            return 0;
        case VK_UP:
            dp->Step(1);
            return 0;
        case VK_DOWN:
            dp->Step(-1);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
    }
    case DTM_GETSYSTEMTIME: {
        auto* out = reinterpret_cast<SYSTEMTIME*>(lParam);
        if (!out)
            return GDT_ERROR;
        if (dp->none)
            return GDT_NONE;
        *out = dp->time;
        return GDT_VALID;
    }
    case DTM_SETSYSTEMTIME: {
        if (static_cast<LRESULT>(wParam) == GDT_NONE) {
            if (!(dp->Style() & DTS_SHOWNONE))
                return FALSE;
            dp->none = true;
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        const auto* in = reinterpret_cast<const SYSTEMTIME*>(lParam);
        if (static_cast<LRESULT>(wParam) != GDT_VALID || !in || !IsValidTime(*in))
            return FALSE;
        SYSTEMTIME next = *in;
        FixDayOfWeek(next);
        if (!dp->InRange(next))
            return FALSE;
        dp->time = next;
        dp->none = false;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case DTM_GETRANGE: {
        if (auto* out = reinterpret_cast<SYSTEMTIME*>(lParam)) {
            out[0] = (dp->rangeFlags & GDTR_MIN) ? dp->rangeMin : SYSTEMTIME{};
            out[1] = (dp->rangeFlags & GDTR_MAX) ? dp->rangeMax : SYSTEMTIME{};
        }
        return static_cast<LRESULT>(dp->rangeFlags);
    }
    case DTM_SETRANGE: {
        const auto* in = reinterpret_cast<const SYSTEMTIME*>(lParam);
        const DWORD flags = static_cast<DWORD>(wParam) & (GDTR_MIN | GDTR_MAX);
        if (flags && !in)
            return FALSE;
        if (((flags & GDTR_MIN) && !IsValidTime(in[0])) || ((flags & GDTR_MAX) && !IsValidTime(in[1])))
            return FALSE;
        dp->rangeFlags = flags;
        if (flags & GDTR_MIN)
            dp->rangeMin = in[0];
        if (flags & GDTR_MAX)
            dp->rangeMax = in[1];
        // The value moves inside the new range.
        if ((flags & GDTR_MIN) && Compare(dp->time, dp->rangeMin) < 0)
            dp->time = dp->rangeMin;
        if ((flags & GDTR_MAX) && Compare(dp->time, dp->rangeMax) > 0)
            dp->time = dp->rangeMax;
        FixDayOfWeek(dp->time);
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case DTM_SETFORMATW: {
        const auto* format = reinterpret_cast<LPCWSTR>(lParam);
        dp->hasCustomFormat = format != nullptr;
        dp->customFormat = TextOf(format);
        dp->focusField = 0;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case WM_GETTEXTLENGTH:
        return dp->none ? 0 : static_cast<LRESULT>(dp->Text().size());
    case WM_GETTEXT: {
        const std::u16string text = dp->none ? std::u16string() : dp->Text();
        CopyOut(text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
        return static_cast<LRESULT>(std::min(text.size(), wParam ? static_cast<size_t>(wParam - 1) : 0));
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterDateTimePicker() {
    RegisterControlClass(DATETIMEPICK_CLASSW, DatePickerProc);
}

} // namespace platform::ui::controls
