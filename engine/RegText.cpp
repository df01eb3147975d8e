#include "engine/RegText.h"

#include <cstdio>

namespace regtext {

namespace {

bool MustEscape(const std::u16string& name, size_t i, unsigned nFlags) {
    const char16_t ch = name[i];
    if (ch == u'\\' || ch == u'\r' || ch == u'\n')
        return true;
    if ((nFlags & kEscapeQuote) && ch == u'"')
        return true;
    if ((nFlags & kEscapeBracket) && ch == u']')
        return true;
    if ((nFlags & kEscapeLeadingSlash) && i == 0 && ch == u'/')
        return true;
    return (nFlags & kEscapeBlanks) && IsBlank(ch);
}

} // namespace

CString HexTypeName(DWORD dwType) {
    CString text;
    text.Format(_T("hex(%u)"), dwType);
    return text;
}

bool ParseHexTypeName(const CString& strTypeName, DWORD& dwType) {
    const std::u16string& s = strTypeName.Str();
    if (s.size() < 6 || s.compare(0, 4, u"hex(") != 0 || s.back() != u')')
        return false;
    unsigned long long value = 0;
    for (size_t i = 4; i + 1 < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return false;
        value = value * 10 + (s[i] - u'0');
        if (value > 0xFFFFFFFFull)
            return false;
    }
    dwType = static_cast<DWORD>(value);
    return true;
}

bool NeedsEscape(const CString& strName, unsigned nFlags) {
    const std::u16string& s = strName.Str();
    for (size_t i = 0; i < s.size(); ++i) {
        if (MustEscape(s, i, nFlags))
            return true;
    }
    return false;
}

CString EscapeName(const CString& strName, unsigned nFlags) {
    const std::u16string& s = strName.Str();
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (!MustEscape(s, i, nFlags)) {
            out += s[i];
            continue;
        }
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(s[i]));
        out += u'\\';
        for (int k = 0; k < 4; ++k)
            out += static_cast<char16_t>(digits[k]);
    }
    return CString(std::u16string_view(out));
}

bool UnescapeName(const CString& strText, CString& strName) {
    const std::u16string& s = strText.Str();
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != u'\\') {
            out += s[i];
            continue;
        }
        if (i + 4 >= s.size())
            return false;
        unsigned value = 0;
        for (size_t k = 1; k <= 4; ++k) {
            const int digit = HexDigit(s[i + k]);
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        out += static_cast<char16_t>(value);
        i += 4;
    }
    strName = CString(std::u16string_view(out));
    return true;
}

int HexDigit(TCHAR ch) {
    if (ch >= u'0' && ch <= u'9')
        return ch - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch - u'A' + 10;
    return -1;
}

} // namespace regtext
