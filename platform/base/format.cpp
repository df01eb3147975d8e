#include "platform/base/format.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t kWsprintfLimit = 1024;

// Appends text of the other width, converted at the one conversion point.
void AppendText(std::u16string& out, std::u16string_view s) {
    out += s;
}
void AppendText(std::u16string& out, std::string_view s) {
    out += platform::Utf8ToUtf16(s);
}
void AppendText(std::string& out, std::string_view s) {
    out += s;
}
void AppendText(std::string& out, std::u16string_view s) {
    out += platform::Utf16ToUtf8(s);
}

template <class S> void AppendAscii(S& out, const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out += static_cast<typename S::value_type>(static_cast<unsigned char>(s[i]));
}

struct Options {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1; // -1: none
};

template <class S> void Pad(S& out, int count, typename S::value_type c) {
    for (int i = 0; i < count; ++i)
        out += c;
}

// Writes `body` (already converted to the output width) padded to the field width.
// Strings and characters pad with zeros too when the 0 flag asks for it, as the Windows runtime does.
template <class S> void EmitField(S& out, const Options& opts, const S& body) {
    const int padding = opts.width > static_cast<int>(body.size()) ? opts.width - static_cast<int>(body.size()) : 0;
    if (!opts.left)
        Pad(out, padding, opts.zero ? '0' : ' ');
    out += body;
    if (opts.left)
        Pad(out, padding, ' ');
}

// Integer conversion: sign or prefix, precision as minimum digits, zero padding to the width.
template <class S> void EmitInteger(S& out, const Options& opts, char conversion, uint64_t magnitude, bool negative) {
    const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
    const char* digitsOf = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[64];
    int n = 0;
    for (uint64_t v = magnitude; v != 0; v /= base)
        digits[n++] = digitsOf[v % base];
    const int minimumDigits = opts.precision < 0 ? 1 : opts.precision;
    std::string body;
    for (int i = n; i < minimumDigits; ++i)
        body += '0';
    for (int i = n - 1; i >= 0; --i)
        body += digits[i];
    // A view of a literal: a std::string here trips a false maybe-uninitialized warning in optimised builds.
    std::string_view prefix;
    const bool isSigned = conversion == 'd' || conversion == 'i';
    if (isSigned) {
        if (negative)
            prefix = "-";
        else if (opts.plus)
            prefix = "+";
        else if (opts.space)
            prefix = " ";
    }
    if (opts.alternate && magnitude != 0) {
        if (base == 16)
            prefix = conversion == 'X' ? "0X" : "0x";
        else if (base == 8 && body[0] != '0')
            body.insert(body.begin(), '0');
    }
    // The 0 flag pads with zeros between the prefix and the digits, unless a precision or '-' is given.
    if (opts.zero && !opts.left && opts.precision < 0) {
        const int total = static_cast<int>(prefix.size() + body.size());
        if (opts.width > total)
            body.insert(0, static_cast<size_t>(opts.width - total), '0');
    }
    S field;
    AppendAscii(field, prefix.data(), prefix.size());
    AppendAscii(field, body.data(), body.size());
    Options fieldOpts = opts;
    fieldOpts.zero = false; // zeros, where they apply, are already between the sign and the digits
    EmitField(out, fieldOpts, field);
}

template <class S> void EmitFloat(S& out, const Options& opts, char conversion, double value) {
    // Floating point text is the C library's; only the flags, width and precision are passed on.
    char format[32];
    char* p = format;
    *p++ = '%';
    if (opts.left)
        *p++ = '-';
    if (opts.plus)
        *p++ = '+';
    if (opts.space)
        *p++ = ' ';
    if (opts.alternate)
        *p++ = '#';
    if (opts.zero)
        *p++ = '0';
    *p++ = '*';
    *p++ = '.';
    *p++ = '*';
    *p++ = conversion;
    *p = 0;
    const int precision = opts.precision < 0 ? 6 : opts.precision;
    const int needed = std::snprintf(nullptr, 0, format, opts.width, precision, value);
    if (needed <= 0)
        return;
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, opts.width, precision, value);
    AppendAscii(out, text.data(), static_cast<size_t>(needed));
}

template <class S> void EmitString(S& out, const Options& opts, const char16_t* wide, const char* narrow, bool isWide) {
    S body;
    if (isWide ? !wide : !narrow) {
        AppendAscii(body, "(null)", 6);
    } else if (isWide) {
        std::u16string_view view(wide);
        if (opts.precision >= 0 && view.size() > static_cast<size_t>(opts.precision))
            view = view.substr(0, static_cast<size_t>(opts.precision));
        AppendText(body, view);
    } else {
        std::string_view view(narrow);
        if (opts.precision >= 0 && view.size() > static_cast<size_t>(opts.precision))
            view = view.substr(0, static_cast<size_t>(opts.precision));
        AppendText(body, view);
    }
    if (isWide ? !wide : !narrow) {
        if (opts.precision >= 0 && body.size() > static_cast<size_t>(opts.precision))
            body.resize(static_cast<size_t>(opts.precision));
    }
    EmitField(out, opts, body);
}

// The formatter proper. F is the format's character type, S the output string type. `wideFormat` decides what
// an unprefixed %s and %c mean: the format's own width.
template <class F, class S> S FormatImpl(const F* format, va_list& args) {
    constexpr bool wideFormat = sizeof(F) == 2;
    S out;
    if (!format)
        return out;
    for (const F* p = format; *p; ++p) {
        if (*p != '%') {
            if constexpr (sizeof(F) == sizeof(typename S::value_type)) {
                out += static_cast<typename S::value_type>(*p);
            } else {
                // Copy the run of literal text up to the next '%' in one conversion.
                const F* start = p;
                while (p[1] && p[1] != '%')
                    ++p;
                AppendText(out, std::basic_string_view<F>(start, static_cast<size_t>(p - start + 1)));
            }
            continue;
        }
        const F* directive = p;
        ++p;
        Options opts;
        for (;; ++p) {
            if (*p == '-')
                opts.left = true;
            else if (*p == '+')
                opts.plus = true;
            else if (*p == ' ')
                opts.space = true;
            else if (*p == '#')
                opts.alternate = true;
            else if (*p == '0')
                opts.zero = true;
            else
                break;
        }
        if (*p == '*') {
            opts.width = va_arg(args, int);
            if (opts.width < 0) {
                opts.left = true;
                opts.width = -opts.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                opts.width = opts.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            opts.precision = 0;
            if (*p == '*') {
                opts.precision = va_arg(args, int);
                if (opts.precision < 0)
                    opts.precision = -1;
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    opts.precision = opts.precision * 10 + (*p++ - '0');
            }
        }
        // Size prefixes. Windows' long is 32 bits, so 'l' on an integer reads 32 bits; on %s and %c it means wide.
        enum class Size { Default, Char, Short, Long, LongLong, Pointer } size = Size::Default;
        bool forceNarrow = false;
        bool forceWide = false;
        if (*p == 'h') {
            ++p;
            if (*p == 'h') {
                size = Size::Char;
                ++p;
            } else {
                size = Size::Short;
            }
            forceNarrow = true;
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') {
                size = Size::LongLong;
                ++p;
            } else {
                size = Size::Long;
                forceWide = true;
            }
        } else if (*p == 'w') {
            ++p;
            forceWide = true;
        } else if (*p == 'I') {
            if (p[1] == '6' && p[2] == '4') {
                size = Size::LongLong;
                p += 3;
            } else if (p[1] == '3' && p[2] == '2') {
                size = Size::Long;
                p += 3;
            } else {
                size = Size::Pointer;
                ++p;
            }
        } else if (*p == 'z' || *p == 't' || *p == 'j') {
            size = *p == 'j' ? Size::LongLong : Size::Pointer;
            ++p;
        } else if (*p == 'L') {
            ++p;
        }
        const F conversion = *p;
        switch (conversion) {
        case 'd':
        case 'i': {
            int64_t v;
            switch (size) {
            case Size::Char:
                v = static_cast<signed char>(va_arg(args, int));
                break;
            case Size::Short:
                v = static_cast<short>(va_arg(args, int));
                break;
            case Size::LongLong:
                v = va_arg(args, long long);
                break;
            case Size::Pointer:
                v = va_arg(args, intptr_t);
                break;
            default:
                v = va_arg(args, int);
                break;
            }
            const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            EmitInteger(out, opts, 'd', magnitude, v < 0);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v;
            switch (size) {
            case Size::Char:
                v = static_cast<unsigned char>(va_arg(args, unsigned));
                break;
            case Size::Short:
                v = static_cast<unsigned short>(va_arg(args, unsigned));
                break;
            case Size::LongLong:
                v = va_arg(args, unsigned long long);
                break;
            case Size::Pointer:
                v = va_arg(args, uintptr_t);
                break;
            default:
                v = va_arg(args, unsigned);
                break;
            }
            EmitInteger(out, opts, static_cast<char>(conversion), v, false);
            break;
        }
        case 'p': {
            // Windows prints a pointer as all its hexadecimal digits in upper case.
            Options pointerSpec = opts;
            pointerSpec.precision = static_cast<int>(2 * sizeof(void*));
            pointerSpec.alternate = false;
            EmitInteger(out, pointerSpec, 'X', reinterpret_cast<uintptr_t>(va_arg(args, void*)), false);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            EmitFloat(out, opts, static_cast<char>(conversion), va_arg(args, double));
            break;
        case 's':
        case 'S':
        case 'Z': {
            // %s is the format's own width, %S the other one; h and l/w force narrow and wide.
            bool isWide = (conversion == 's') == wideFormat;
            if (forceNarrow)
                isWide = false;
            if (forceWide)
                isWide = true;
            if (isWide)
                EmitString(out, opts, va_arg(args, const char16_t*), nullptr, true);
            else
                EmitString(out, opts, nullptr, va_arg(args, const char*), false);
            break;
        }
        case 'c':
        case 'C': {
            bool isWide = (conversion == 'c') == wideFormat;
            if (forceNarrow)
                isWide = false;
            if (forceWide)
                isWide = true;
            const int value = va_arg(args, int);
            S body;
            if (isWide) {
                const char16_t c = static_cast<char16_t>(value);
                AppendText(body, std::u16string_view(&c, 1));
            } else {
                const char c = static_cast<char>(value);
                AppendText(body, std::string_view(&c, 1));
            }
            EmitField(out, opts, body);
            break;
        }
        case 'n':
            // Writing through an argument pointer is disabled, as in the Windows runtime; the argument is skipped.
            (void)va_arg(args, void*);
            break;
        case '%':
            out += static_cast<typename S::value_type>('%');
            break;
        case 0:
            // A format that ends inside a directive prints what was there.
            --p;
            AppendText(out, std::basic_string_view<F>(directive, static_cast<size_t>(p - directive + 1)));
            break;
        default:
            // An unknown conversion prints as it stands.
            AppendText(out, std::basic_string_view<F>(directive, static_cast<size_t>(p - directive + 1)));
            break;
        }
    }
    return out;
}

// Copies formatted text into a caller's buffer of `count` characters with the Windows runtime's rules for
// _snwprintf: when the text and its terminator fit, all is written and the length returned; when exactly the text
// fits, it is written without terminator and its length returned; when it is longer, count characters are written
// without terminator and -1 returned.
int CopyCounted(WCHAR* buffer, size_t count, const std::u16string& text) {
    if (!buffer || count == 0)
        return text.empty() ? 0 : -1;
    if (text.size() < count) {
        std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
        buffer[text.size()] = 0;
        return static_cast<int>(text.size());
    }
    std::memcpy(buffer, text.data(), count * sizeof(WCHAR));
    return text.size() == count ? static_cast<int>(count) : -1;
}

} // namespace

namespace platform {

std::u16string FormatV(const WCHAR* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    std::u16string result = FormatImpl<char16_t, std::u16string>(format, copy);
    va_end(copy);
    return result;
}

std::u16string Format(const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string result = FormatV(format, args);
    va_end(args);
    return result;
}

std::string FormatNarrowV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    std::string result = FormatImpl<char, std::string>(format, copy);
    va_end(copy);
    return result;
}

} // namespace platform

int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
    if (!buffer || !format) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string text = platform::FormatV(format, args);
    return static_cast<int>(platform::CopyTruncated(buffer, kWsprintfLimit, text));
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int n = wvsprintfW(buffer, format, args);
    va_end(args);
    return n;
}

int swprintf_s(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
    if (!buffer || count == 0 || !format) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return -1;
    }
    va_list args;
    va_start(args, format);
    const std::u16string text = platform::FormatV(format, args);
    va_end(args);
    platform::CopyTruncated(buffer, count, text);
    return text.size() < count ? static_cast<int>(text.size()) : -1;
}

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
    return CopyCounted(buffer, count, platform::FormatV(format, args));
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return n;
}
