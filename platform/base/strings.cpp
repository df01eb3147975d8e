#include "platform/base/strings.h"

#include "platform/base/codepage.h"

#include "platform/base/errors.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Simple upper-case mapping for the scripts the system meets in names: Latin (with the extended blocks), Greek,
// Cyrillic, Armenian and the full-width forms. Characters outside these blocks have no case here.
WCHAR UpperOf(WCHAR c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 0x20) : c;
    if (c == 0xB5)
        return 0x39C;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<WCHAR>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x12F)
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x132 && c <= 0x137)
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x139 && c <= 0x148)
        return (c & 1) ? c : static_cast<WCHAR>(c - 1);
    if (c >= 0x14A && c <= 0x177)
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x179 && c <= 0x17E)
        return (c & 1) ? c : static_cast<WCHAR>(c - 1);
    if (c == 0x17F)
        return u'S';
    if (c >= 0x1CD && c <= 0x1DC)
        return (c & 1) ? c : static_cast<WCHAR>(c - 1);
    if (c >= 0x1DE && c <= 0x1EF)
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x1F8 && c <= 0x21F)
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
        return static_cast<WCHAR>(c - 0x20);
    if (c == 0x3C2)
        return 0x3A3;
    if (c == 0x3AC)
        return 0x386;
    if (c >= 0x3AD && c <= 0x3AF)
        return static_cast<WCHAR>(c - 0x25);
    if (c == 0x3CC)
        return 0x38C;
    if (c == 0x3CD || c == 0x3CE)
        return static_cast<WCHAR>(c - 0x3F);
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<WCHAR>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<WCHAR>(c - 0x50);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x4C1 && c <= 0x4CE)
        return (c & 1) ? c : static_cast<WCHAR>(c - 1);
    if (c == 0x4CF)
        return 0x4C0;
    if (c >= 0x561 && c <= 0x586)
        return static_cast<WCHAR>(c - 0x30);
    if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF))
        return static_cast<WCHAR>(c & ~1u);
    if (c >= 0x24D0 && c <= 0x24E9)
        return static_cast<WCHAR>(c - 0x1A);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return static_cast<WCHAR>(c - 0x20);
    return c;
}

WCHAR LowerOf(WCHAR c) {
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 0x20) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<WCHAR>(c + 0x20);
    if (c == 0x178)
        return 0xFF;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177) ||
        (c >= 0x1DE && c <= 0x1EF) || (c >= 0x1F8 && c <= 0x21F) || (c >= 0x460 && c <= 0x481) ||
        (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F) || (c >= 0x1E00 && c <= 0x1E95) ||
        (c >= 0x1EA0 && c <= 0x1EFF))
        return static_cast<WCHAR>(c | 1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x1CD && c <= 0x1DC) ||
        (c >= 0x4C1 && c <= 0x4CE))
        return (c & 1) ? static_cast<WCHAR>(c + 1) : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        return static_cast<WCHAR>(c + 0x20);
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return static_cast<WCHAR>(c + 0x25);
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return static_cast<WCHAR>(c + 0x3F);
    if (c >= 0x410 && c <= 0x42F)
        return static_cast<WCHAR>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<WCHAR>(c + 0x50);
    if (c == 0x4C0)
        return 0x4CF;
    if (c >= 0x531 && c <= 0x556)
        return static_cast<WCHAR>(c + 0x30);
    if (c >= 0x24B6 && c <= 0x24CF)
        return static_cast<WCHAR>(c + 0x1A);
    if (c >= 0xFF21 && c <= 0xFF3A)
        return static_cast<WCHAR>(c + 0x20);
    return c;
}

// The C runtime's case-insensitive functions fold to lower case, the Windows string functions to upper case;
// the difference shows in the order of letters against the characters between 'Z' and 'a'.
template <WCHAR (*Fold)(WCHAR)> int CompareFolded(const WCHAR* a, const WCHAR* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int ca = Fold(a[i]);
        const int cb = Fold(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
    return 0;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 (WTF-8) sequence at s[i]; returns the code point or U+FFFD and advances i. `valid` turns
// false for bytes that are not well-formed.
char32_t DecodeUtf8(std::string_view s, size_t& i, bool& valid) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1;
        c = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2;
        c = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3;
        c = b0 & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        valid = false;
        return 0xFFFD;
    }
    size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= s.size() || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) {
            // A truncated sequence replaces only its lead byte; what follows is decoded on its own.
            ++i;
            valid = false;
            return 0xFFFD;
        }
        c = (c << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF) {
        ++i;
        valid = false;
        return 0xFFFD;
    }
    i = j;
    return c;
}

std::u16string Decode(std::string_view s, bool& valid) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const char32_t c = DecodeUtf8(s, i, valid);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace

namespace platform {

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        // A lone surrogate is written as its own three-byte sequence (WTF-8) so that it comes back unchanged.
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    bool valid = true;
    return Decode(s, valid);
}

std::string Utf16ToUtf8(LPCWSTR s) {
    if (!s)
        return {};
    return Utf16ToUtf8(std::u16string_view(s));
}

WCHAR FoldUpper(WCHAR c) {
    return UpperOf(c);
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const WCHAR ca = UpperOf(a[i]);
        const WCHAR cb = UpperOf(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

size_t CopyTruncated(WCHAR* dst, size_t capacity, std::u16string_view src) {
    if (!dst || capacity == 0)
        return 0;
    const size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
    std::memcpy(dst, src.data(), n * sizeof(WCHAR));
    dst[n] = 0;
    return n;
}

} // namespace platform

int lstrlenW(LPCWSTR s) {
    return s ? static_cast<int>(wcslen(s)) : 0;
}

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
    if (!dst || !src)
        return nullptr;
    return wcscpy(dst, src);
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
    if (!dst || max <= 0)
        return dst;
    int i = 0;
    if (src) {
        for (; i < max - 1 && src[i]; ++i)
            dst[i] = src[i];
    }
    dst[i] = 0;
    return dst;
}

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
    if (!dst)
        return nullptr;
    if (!src)
        return dst;
    return wcscat(dst, src);
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b)
        return (a ? 1 : 0) - (b ? 1 : 0);
    const int r = wcscmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b)
        return (a ? 1 : 0) - (b ? 1 : 0);
    return CompareFolded<UpperOf>(a, b, static_cast<size_t>(-1));
}

LPWSTR CharUpperW(LPWSTR s) {
    // A pointer whose high bits are zero carries a single character, as on Windows.
    if (reinterpret_cast<uintptr_t>(s) <= 0xFFFF)
        return reinterpret_cast<LPWSTR>(
            static_cast<uintptr_t>(UpperOf(static_cast<WCHAR>(reinterpret_cast<uintptr_t>(s)))));
    return _wcsupr(s);
}

LPWSTR CharLowerW(LPWSTR s) {
    if (reinterpret_cast<uintptr_t>(s) <= 0xFFFF)
        return reinterpret_cast<LPWSTR>(
            static_cast<uintptr_t>(LowerOf(static_cast<WCHAR>(reinterpret_cast<uintptr_t>(s)))));
    return _wcslwr(s);
}

LPWSTR CharNextW(LPCWSTR s) {
    if (!s || !*s)
        return const_cast<LPWSTR>(s);
    if (IsHighSurrogate(s[0]) && IsLowSurrogate(s[1]))
        return const_cast<LPWSTR>(s + 2);
    return const_cast<LPWSTR>(s + 1);
}

LPWSTR CharPrevW(LPCWSTR start, LPCWSTR s) {
    if (!s || s <= start)
        return const_cast<LPWSTR>(start);
    if (s - 1 > start && IsLowSurrogate(s[-1]) && IsHighSurrogate(s[-2]))
        return const_cast<LPWSTR>(s - 2);
    return const_cast<LPWSTR>(s - 1);
}

size_t wcslen(const WCHAR* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
    size_t i = 0;
    for (; src[i]; ++i)
        dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
    // As in C: no terminator when src is n characters or longer, zero fill when shorter.
    size_t i = 0;
    for (; i < n && src[i]; ++i)
        dst[i] = src[i];
    for (; i < n; ++i)
        dst[i] = 0;
    return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
    wcscpy(dst + wcslen(dst), src);
    return dst;
}

WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n) {
    WCHAR* end = dst + wcslen(dst);
    size_t i = 0;
    for (; i < n && src[i]; ++i)
        end[i] = src[i];
    end[i] = 0;
    return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
    return wcsncmp(a, b, static_cast<size_t>(-1));
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
        if (!a[i])
            return 0;
    }
    return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
    return CompareFolded<LowerOf>(a, b, static_cast<size_t>(-1));
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
    return CompareFolded<LowerOf>(a, b, n);
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c)
            return s;
        if (!*s)
            return nullptr;
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
    const WCHAR* found = nullptr;
    for (;; ++s) {
        if (*s == c)
            found = s;
        if (!*s)
            return found;
    }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub) {
    const size_t n = wcslen(sub);
    if (n == 0)
        return s;
    for (; *s; ++s) {
        if (wcsncmp(s, sub, n) == 0)
            return s;
    }
    return nullptr;
}

WCHAR* wcsstr(WCHAR* s, const WCHAR* sub) {
    return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(s), sub));
}

WCHAR* _wcsupr(WCHAR* s) {
    for (WCHAR* p = s; *p; ++p)
        *p = UpperOf(*p);
    return s;
}

WCHAR* _wcslwr(WCHAR* s) {
    for (WCHAR* p = s; *p; ++p)
        *p = LowerOf(*p);
    return s;
}

namespace {

// The numeric parsers only ever consume ASCII, so the wide text is narrowed up to the first non-ASCII
// character and handed to the C library; the end pointer maps back one to one.
std::string AsciiPrefix(const WCHAR* s) {
    std::string out;
    for (; *s && *s < 0x80; ++s)
        out += static_cast<char>(*s);
    return out;
}

template <class T, class F> T ParseNumber(const WCHAR* s, WCHAR** end, F parse) {
    const std::string ascii = AsciiPrefix(s);
    char* stop = nullptr;
    const T value = parse(ascii.c_str(), &stop);
    if (end)
        *end = const_cast<WCHAR*>(s + (stop - ascii.c_str()));
    return value;
}

} // namespace

long wcstol(const WCHAR* s, WCHAR** end, int base) {
    // long is 64 bits on this host but 32 on Windows: clamp as the 32-bit function would.
    const long long v =
        ParseNumber<long long>(s, end, [base](const char* p, char** e) { return std::strtoll(p, e, base); });
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<long>(v);
}

unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base) {
    const std::string ascii = AsciiPrefix(s);
    char* stop = nullptr;
    const unsigned long long v = std::strtoull(ascii.c_str(), &stop, base);
    if (end)
        *end = const_cast<WCHAR*>(s + (stop - ascii.c_str()));
    // strtoull negates "-1" into a huge value; the 32-bit function wraps it within 32 bits.
    const char* p = ascii.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (!negative && v > UINT32_MAX)
        return UINT32_MAX;
    if (negative) {
        const unsigned long long magnitude = 0 - v;
        if (magnitude > UINT32_MAX)
            return UINT32_MAX;
        return static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude));
    }
    return static_cast<unsigned long>(v);
}

long long _wcstoi64(const WCHAR* s, WCHAR** end, int base) {
    return ParseNumber<long long>(s, end, [base](const char* p, char** e) { return std::strtoll(p, e, base); });
}

int _wtoi(const WCHAR* s) {
    return s ? static_cast<int>(wcstol(s, nullptr, 10)) : 0;
}

long long _wtoi64(const WCHAR* s) {
    return s ? _wcstoi64(s, nullptr, 10) : 0;
}

double _wtof(const WCHAR* s) {
    if (!s)
        return 0;
    return ParseNumber<double>(s, nullptr, [](const char* p, char** e) { return std::strtod(p, e); });
}

WCHAR towupper_w(WCHAR c) {
    return UpperOf(c);
}

WCHAR towlower_w(WCHAR c) {
    return LowerOf(c);
}

int iswspace_w(WCHAR c) {
    return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

int iswdigit_w(WCHAR c) {
    return c >= u'0' && c <= u'9';
}

int iswalpha_w(WCHAR c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (UpperOf(c) != c || LowerOf(c) != c)
        return 1;
    return c == 0xAA || c == 0xBA || c == 0xDF || (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x5D0 && c <= 0x5EA) ||
           (c >= 0x620 && c <= 0x64A);
}

namespace {
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

bool KnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8 || codePage == CP_WINDOWS_1252;
}
} // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    if (!KnownCodePage(codePage) || !src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // With -1 the terminator is converted too and counted in the result.
    const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    bool valid = true;
    const std::u16string wide = codePage == CP_WINDOWS_1252 ? platform::Windows1252ToUtf16(std::string_view(src, n))
                                                            : Decode(std::string_view(src, n), valid);
    if (!valid && (flags & MB_ERR_INVALID_CHARS)) {
        platform::Fail(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (dstLen == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(dstLen)) {
        std::memcpy(dst, wide.data(), static_cast<size_t>(dstLen) * sizeof(WCHAR));
        platform::Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR defaultChar,
                        LPBOOL usedDefault) {
    if (!KnownCodePage(codePage) || !src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // UTF-8 has a character for everything, so a default character makes no sense there (as on Windows).
    if (codePage == CP_UTF8 && (defaultChar || usedDefault)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = srcLen == -1 ? wcslen(src) + 1 : static_cast<size_t>(srcLen);
    const std::u16string_view view(src, n);
    if (flags & WC_ERR_INVALID_CHARS) {
        for (size_t i = 0; i < n; ++i) {
            if (IsHighSurrogate(view[i]) && i + 1 < n && IsLowSurrogate(view[i + 1])) {
                ++i;
            } else if (IsHighSurrogate(view[i]) || IsLowSurrogate(view[i])) {
                platform::Fail(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
        }
    }
    if (usedDefault)
        *usedDefault = FALSE;
    std::string narrow;
    if (codePage == CP_WINDOWS_1252) {
        // A character outside the code page becomes the default character, one at a time.
        for (char16_t c : view) {
            std::string one;
            if (!platform::Utf16ToWindows1252(std::u16string_view(&c, 1), one)) {
                one.assign(1, defaultChar ? *defaultChar : '?');
                if (usedDefault)
                    *usedDefault = TRUE;
            }
            narrow += one;
        }
    } else {
        narrow = platform::Utf16ToUtf8(view);
    }
    if (dstLen == 0)
        return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<size_t>(dstLen)) {
        std::memcpy(dst, narrow.data(), static_cast<size_t>(dstLen));
        platform::Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, narrow.data(), narrow.size());
    return static_cast<int>(narrow.size());
}
