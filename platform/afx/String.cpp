#include "platform/afx/String.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/format.h"
#include "platform/base/strings.h"
#include "platform/res/resources.h"

#include <algorithm>
#include <cassert>
#include <cstdarg>

namespace {

bool IsSpace(TCHAR ch) {
    return iswspace_w(ch) != 0;
}

bool InSet(TCHAR ch, LPCTSTR set) {
    if (!set)
        return false;
    for (; *set; ++set) {
        if (*set == ch)
            return true;
    }
    return false;
}

std::u16string_view View(LPCTSTR s) {
    return s ? std::u16string_view(s) : std::u16string_view();
}

int ClampSign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

CString::CString(LPCTSTR lpsz) {
    if (lpsz && !IS_INTRESOURCE(lpsz)) {
        m_str = lpsz;
        return;
    }
    if (lpsz)
        LoadString(static_cast<UINT>(reinterpret_cast<uintptr_t>(lpsz)));
}

CString::CString(LPCTSTR lpch, int nLength) {
    if (lpch && nLength > 0)
        m_str.assign(lpch, static_cast<size_t>(nLength));
}

CString::CString(LPCSTR lpsz) {
    if (lpsz)
        m_str = platform::Utf8ToUtf16(lpsz);
}

CString::CString(TCHAR ch, int nRepeat) {
    if (nRepeat > 0)
        m_str.assign(static_cast<size_t>(nRepeat), ch);
}

CString& CString::operator=(LPCTSTR lpsz) {
    // The source may point into this string's own buffer.
    std::u16string copy(View(lpsz));
    m_str.swap(copy);
    return *this;
}

CString& CString::operator=(LPCSTR lpsz) {
    m_str = lpsz ? platform::Utf8ToUtf16(lpsz) : std::u16string();
    return *this;
}

CString& CString::operator=(TCHAR ch) {
    m_str.assign(1, ch);
    return *this;
}

TCHAR CString::GetAt(int nIndex) const {
    assert(nIndex >= 0 && nIndex <= GetLength());
    return m_str.c_str()[nIndex];
}

void CString::SetAt(int nIndex, TCHAR ch) {
    assert(nIndex >= 0 && nIndex < GetLength());
    m_str[static_cast<size_t>(nIndex)] = ch;
}

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}

CString& CString::operator+=(LPCTSTR lpsz) {
    std::u16string copy(View(lpsz));
    m_str += copy;
    return *this;
}

CString& CString::operator+=(TCHAR ch) {
    m_str += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    return CString(a.m_str + b.m_str);
}
CString operator+(const CString& a, LPCTSTR b) {
    return CString(a.m_str + std::u16string(View(b)));
}
CString operator+(LPCTSTR a, const CString& b) {
    return CString(std::u16string(View(a)) + b.m_str);
}
CString operator+(const CString& a, TCHAR b) {
    return CString(a.m_str + b);
}
CString operator+(TCHAR a, const CString& b) {
    return CString(std::u16string(1, a) + b.m_str);
}

int CString::Compare(LPCTSTR lpsz) const {
    return ClampSign(m_str.compare(View(lpsz)));
}

int CString::CompareNoCase(LPCTSTR lpsz) const {
    return ClampSign(platform::CompareNoCase(m_str, View(lpsz)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength() - std::max(nFirst, 0));
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::max(nFirst, 0);
    nCount = std::max(nCount, 0);
    const int length = GetLength();
    if (nFirst >= length)
        return CString();
    nCount = std::min(nCount, length - nFirst);
    return CString(std::u16string_view(m_str).substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Left(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(std::u16string_view(m_str).substr(0, static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(std::u16string_view(m_str).substr(m_str.size() - static_cast<size_t>(nCount)));
}

CString CString::SpanIncluding(LPCTSTR lpszCharSet) const {
    size_t n = 0;
    while (n < m_str.size() && InSet(m_str[n], lpszCharSet))
        ++n;
    return Left(static_cast<int>(n));
}

CString CString::SpanExcluding(LPCTSTR lpszCharSet) const {
    size_t n = 0;
    while (n < m_str.size() && !InSet(m_str[n], lpszCharSet))
        ++n;
    return Left(static_cast<int>(n));
}

CString CString::Tokenize(LPCTSTR pszTokens, int& iStart) const {
    if (iStart < 0) {
        return CString();
    }
    size_t pos = static_cast<size_t>(iStart);
    if (!pszTokens || !*pszTokens) {
        if (pos < m_str.size()) {
            iStart = GetLength();
            return Mid(static_cast<int>(pos));
        }
    } else {
        while (pos < m_str.size() && InSet(m_str[pos], pszTokens))
            ++pos;
        if (pos < m_str.size()) {
            size_t end = pos;
            while (end < m_str.size() && !InSet(m_str[end], pszTokens))
                ++end;
            iStart = static_cast<int>(end < m_str.size() ? end + 1 : end);
            return Mid(static_cast<int>(pos), static_cast<int>(end - pos));
        }
    }
    iStart = -1;
    return CString();
}

CString& CString::MakeUpper() {
    for (auto& ch : m_str)
        ch = towupper_w(ch);
    return *this;
}

CString& CString::MakeLower() {
    for (auto& ch : m_str)
        ch = towlower_w(ch);
    return *this;
}

CString& CString::MakeReverse() {
    std::reverse(m_str.begin(), m_str.end());
    return *this;
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}
CString& CString::Trim(TCHAR chTarget) {
    return TrimRight(chTarget).TrimLeft(chTarget);
}
CString& CString::Trim(LPCTSTR lpszTargets) {
    return TrimRight(lpszTargets).TrimLeft(lpszTargets);
}

CString& CString::TrimLeft() {
    size_t n = 0;
    while (n < m_str.size() && IsSpace(m_str[n]))
        ++n;
    m_str.erase(0, n);
    return *this;
}

CString& CString::TrimLeft(TCHAR chTarget) {
    size_t n = 0;
    while (n < m_str.size() && m_str[n] == chTarget)
        ++n;
    m_str.erase(0, n);
    return *this;
}

CString& CString::TrimLeft(LPCTSTR lpszTargets) {
    size_t n = 0;
    while (n < m_str.size() && InSet(m_str[n], lpszTargets))
        ++n;
    m_str.erase(0, n);
    return *this;
}

CString& CString::TrimRight() {
    size_t n = m_str.size();
    while (n > 0 && IsSpace(m_str[n - 1]))
        --n;
    m_str.resize(n);
    return *this;
}

CString& CString::TrimRight(TCHAR chTarget) {
    size_t n = m_str.size();
    while (n > 0 && m_str[n - 1] == chTarget)
        --n;
    m_str.resize(n);
    return *this;
}

CString& CString::TrimRight(LPCTSTR lpszTargets) {
    size_t n = m_str.size();
    while (n > 0 && InSet(m_str[n - 1], lpszTargets))
        --n;
    m_str.resize(n);
    return *this;
}

int CString::Replace(TCHAR chOld, TCHAR chNew) {
    int count = 0;
    if (chOld == chNew)
        return 0;
    for (auto& ch : m_str) {
        if (ch == chOld) {
            ch = chNew;
            ++count;
        }
    }
    return count;
}

int CString::Replace(LPCTSTR lpszOld, LPCTSTR lpszNew) {
    const std::u16string oldText(View(lpszOld));
    const std::u16string newText(View(lpszNew));
    if (oldText.empty())
        return 0;
    int count = 0;
    std::u16string result;
    size_t pos = 0;
    for (;;) {
        size_t hit = m_str.find(oldText, pos);
        if (hit == std::u16string::npos)
            break;
        result.append(m_str, pos, hit - pos);
        result += newText;
        pos = hit + oldText.size();
        ++count;
    }
    if (count == 0)
        return 0;
    result.append(m_str, pos, std::u16string::npos);
    m_str.swap(result);
    return count;
}

int CString::Remove(TCHAR chRemove) {
    const size_t before = m_str.size();
    std::erase(m_str, chRemove);
    return static_cast<int>(before - m_str.size());
}

int CString::Insert(int nIndex, TCHAR ch) {
    nIndex = std::clamp(nIndex, 0, GetLength());
    m_str.insert(static_cast<size_t>(nIndex), 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, LPCTSTR pstr) {
    nIndex = std::clamp(nIndex, 0, GetLength());
    std::u16string copy(View(pstr));
    m_str.insert(static_cast<size_t>(nIndex), copy);
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    nIndex = std::max(nIndex, 0);
    if (nCount > 0 && nIndex < GetLength())
        m_str.erase(static_cast<size_t>(nIndex), static_cast<size_t>(std::min(nCount, GetLength() - nIndex)));
    return GetLength();
}

int CString::Find(TCHAR ch, int nStart) const {
    if (nStart < 0 || nStart >= GetLength())
        return -1;
    size_t hit = m_str.find(ch, static_cast<size_t>(nStart));
    return hit == std::u16string::npos ? -1 : static_cast<int>(hit);
}

int CString::Find(LPCTSTR lpszSub, int nStart) const {
    if (nStart < 0 || nStart > GetLength())
        return -1;
    size_t hit = m_str.find(View(lpszSub), static_cast<size_t>(nStart));
    return hit == std::u16string::npos ? -1 : static_cast<int>(hit);
}

int CString::ReverseFind(TCHAR ch) const {
    size_t hit = m_str.rfind(ch);
    return hit == std::u16string::npos ? -1 : static_cast<int>(hit);
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const {
    for (size_t i = 0; i < m_str.size(); ++i) {
        if (InSet(m_str[i], lpszCharSet))
            return static_cast<int>(i);
    }
    return -1;
}

void CString::FormatV(LPCTSTR lpszFormat, va_list argList) {
    m_str = lpszFormat ? platform::FormatV(lpszFormat, argList) : std::u16string();
}

void CString::Format(LPCTSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    FormatV(lpszFormat, args);
    va_end(args);
}

void CString::Format(UINT nFormatID, ...) {
    CString format;
    format.LoadString(nFormatID);
    va_list args;
    va_start(args, nFormatID);
    FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(LPCTSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    if (lpszFormat)
        m_str += platform::FormatV(lpszFormat, args);
    va_end(args);
}

BOOL CString::LoadString(UINT nID) {
    // LoadStringW with a zero buffer size hands out a pointer to the text in the table itself.
    LPCWSTR text = nullptr;
    int length = ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) {
        m_str.clear();
        return FALSE;
    }
    m_str.assign(text, static_cast<size_t>(length));
    return TRUE;
}

LPTSTR CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength())
        m_str.resize(static_cast<size_t>(nMinBufLength));
    return m_str.data();
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
    m_str.resize(static_cast<size_t>(std::max(nNewLength, 0)));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        nNewLength = static_cast<int>(std::u16string_view(m_str.c_str()).size());
    }
    m_str.resize(static_cast<size_t>(std::min(nNewLength, GetLength())));
}

bool operator==(const CString& a, const CString& b) {
    return a.Str() == b.Str();
}
bool operator==(const CString& a, LPCTSTR b) {
    return a.Compare(b) == 0;
}
bool operator==(LPCTSTR a, const CString& b) {
    return b.Compare(a) == 0;
}
bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
bool operator!=(const CString& a, LPCTSTR b) {
    return !(a == b);
}
bool operator!=(LPCTSTR a, const CString& b) {
    return !(a == b);
}
bool operator<(const CString& a, const CString& b) {
    return a.Compare(b) < 0;
}
bool operator<(const CString& a, LPCTSTR b) {
    return a.Compare(b) < 0;
}
bool operator<(LPCTSTR a, const CString& b) {
    return b.Compare(a) > 0;
}
bool operator>(const CString& a, const CString& b) {
    return a.Compare(b) > 0;
}
bool operator>(const CString& a, LPCTSTR b) {
    return a.Compare(b) > 0;
}
bool operator>(LPCTSTR a, const CString& b) {
    return b.Compare(a) < 0;
}
bool operator<=(const CString& a, const CString& b) {
    return a.Compare(b) <= 0;
}
bool operator>=(const CString& a, const CString& b) {
    return a.Compare(b) >= 0;
}
