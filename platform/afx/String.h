// CString: the framework's string, holding UTF-16 text.
//
// Behaves as the framework's string class of a Unicode build: TCHAR is char16_t, the text converts to LPCTSTR,
// indexes and lengths count UTF-16 code units, and Format uses the layer's one printf formatter (format.h), so
// "%s" takes a wide string and "%S" a narrow one. Differences: a CString passed to Format's "..." must be
// converted explicitly ((LPCTSTR)s or s.GetString()), because a C++ object cannot travel through "..."; copies
// are plain value copies rather than shared buffers, which callers cannot tell apart. Narrow text given to the
// constructors is taken as the host's ANSI code page (UTF-8 here).
#pragma once

#include "platform/base/types.h"

#include <functional>
#include <string>

class CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    // A pointer of the MAKEINTRESOURCE form (below 0x10000) loads that string-table entry, as the framework does.
    CString(LPCTSTR lpsz);
    CString(LPCTSTR lpch, int nLength);
    CString(LPCSTR lpsz);
    CString(TCHAR ch, int nRepeat = 1);
    CString(std::u16string_view text) : m_str(text) {}

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(LPCTSTR lpsz);
    CString& operator=(LPCSTR lpsz);
    CString& operator=(TCHAR ch);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    TCHAR GetAt(int nIndex) const;
    void SetAt(int nIndex, TCHAR ch);
    TCHAR operator[](int nIndex) const { return GetAt(nIndex); }

    operator LPCTSTR() const { return m_str.c_str(); }
    LPCTSTR GetString() const { return m_str.c_str(); }
    const std::u16string& Str() const { return m_str; }

    CString& operator+=(const CString& s);
    CString& operator+=(LPCTSTR lpsz);
    CString& operator+=(TCHAR ch);
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, LPCTSTR b);
    friend CString operator+(LPCTSTR a, const CString& b);
    friend CString operator+(const CString& a, TCHAR b);
    friend CString operator+(TCHAR a, const CString& b);

    // Ordinal comparison (code units), case-insensitive comparison with the layer's case folding.
    int Compare(LPCTSTR lpsz) const;
    int CompareNoCase(LPCTSTR lpsz) const;
    int Collate(LPCTSTR lpsz) const { return Compare(lpsz); }
    int CollateNoCase(LPCTSTR lpsz) const { return CompareNoCase(lpsz); }

    // Substrings. Out-of-range arguments are clipped as the framework clips them: a negative start or count
    // counts as 0, a count running past the end stops at the end.
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString SpanIncluding(LPCTSTR lpszCharSet) const;
    CString SpanExcluding(LPCTSTR lpszCharSet) const;
    // Next token after position iStart of characters not in pszTokens; iStart becomes -1 and the result empty
    // when no token is left.
    CString Tokenize(LPCTSTR pszTokens, int& iStart) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();

    // Whitespace (or the given characters) at either end.
    CString& Trim();
    CString& Trim(TCHAR chTarget);
    CString& Trim(LPCTSTR lpszTargets);
    CString& TrimLeft();
    CString& TrimLeft(TCHAR chTarget);
    CString& TrimLeft(LPCTSTR lpszTargets);
    CString& TrimRight();
    CString& TrimRight(TCHAR chTarget);
    CString& TrimRight(LPCTSTR lpszTargets);

    // Edits; each returns what the framework returns (count of replacements or removals, new length).
    int Replace(TCHAR chOld, TCHAR chNew);
    int Replace(LPCTSTR lpszOld, LPCTSTR lpszNew);
    int Remove(TCHAR chRemove);
    int Insert(int nIndex, TCHAR ch);
    int Insert(int nIndex, LPCTSTR pstr);
    int Delete(int nIndex, int nCount = 1);

    // Searches; -1 when not found.
    int Find(TCHAR ch) const { return Find(ch, 0); }
    int Find(TCHAR ch, int nStart) const;
    int Find(LPCTSTR lpszSub) const { return Find(lpszSub, 0); }
    int Find(LPCTSTR lpszSub, int nStart) const;
    int ReverseFind(TCHAR ch) const;
    int FindOneOf(LPCTSTR lpszCharSet) const;

    // printf-style formatting with the layer's formatter (Windows semantics of %s, %S, %I64d, ...).
    void Format(LPCTSTR lpszFormat, ...);
    void Format(UINT nFormatID, ...);
    void FormatV(LPCTSTR lpszFormat, va_list argList);
    void AppendFormat(LPCTSTR lpszFormat, ...);

    // The string-table entry of the current resource module (AfxGetResourceHandle); FALSE and an empty string
    // when there is none.
    BOOL LoadString(UINT nID);

    // Direct buffer access: GetBuffer gives room for at least nMinBufLength characters and a terminator;
    // ReleaseBuffer(-1) takes the length up to the first zero character, else the given length.
    LPTSTR GetBuffer(int nMinBufLength = 0);
    LPTSTR GetBufferSetLength(int nNewLength);
    void ReleaseBuffer(int nNewLength = -1);
    void FreeExtra() { m_str.shrink_to_fit(); }
    LPTSTR LockBuffer() { return GetBuffer(0); }
    void UnlockBuffer() {}

private:
    std::u16string m_str;
};

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, LPCTSTR b);
bool operator==(LPCTSTR a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, LPCTSTR b);
bool operator!=(LPCTSTR a, const CString& b);
bool operator<(const CString& a, const CString& b);
bool operator<(const CString& a, LPCTSTR b);
bool operator<(LPCTSTR a, const CString& b);
bool operator>(const CString& a, const CString& b);
bool operator>(const CString& a, LPCTSTR b);
bool operator>(LPCTSTR a, const CString& b);
bool operator<=(const CString& a, const CString& b);
bool operator>=(const CString& a, const CString& b);

template <> struct std::hash<CString> {
    size_t operator()(const CString& s) const noexcept { return std::hash<std::u16string>()(s.Str()); }
};
