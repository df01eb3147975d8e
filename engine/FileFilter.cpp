#include "engine/FileFilter.h"

#include "platform/base/strings.h"

#include <memory>

int CFileFilter::SetPatterns(LPCTSTR lpszText) {
    Clear();
    if (!lpszText || !*lpszText)
        return 0;
    CString text(lpszText);
    text.MakeLower();
    const int length = text.GetLength();
    int start = 0;
    for (int i = 0; i <= length; ++i) {
        if (i < length && text[i] != _T('\t'))
            continue;
        if (i > start)
            m_patterns.Add(text.Mid(start, i - start));
        start = i + 1;
    }
    m_nCount = static_cast<int>(m_patterns.GetSize());
    return m_nCount;
}

void CFileFilter::GetPatterns(CString& strText) const {
    strText.Empty();
    for (int i = 0; i < m_nCount; ++i) {
        strText += m_patterns[i];
        strText += _T('\t');
    }
}

void CFileFilter::Clear() {
    m_patterns.RemoveAll();
    m_nCount = 0;
}

int CFileFilter::IsFilteredItem(LPCITEMIDLIST pidl) const {
    if (!pidl || m_nCount == 0)
        return 0;
    // Only the last component matters, but it is found through the whole path, which may be long. The buffer is
    // large and asked for once per listed item: it is not cleared first.
    constexpr DWORD kPathChars = 32768;
    const auto path = std::make_unique_for_overwrite<WCHAR[]>(kPathChars);
    if (!SHGetPathFromIDListEx(pidl, path.get(), kPathChars, GPFIDL_DEFAULT))
        return 0;
    return IsFilteredPath(path.get());
}

int CFileFilter::IsFilteredPath(LPCTSTR lpszPath) const {
    if (!lpszPath || !*lpszPath)
        return 0;
    CString path(lpszPath);
    path.MakeLower();
    const int slash = path.ReverseFind(_T('\\'));
    const CString name = slash < 0 ? path : path.Mid(slash + 1);
    for (int i = 0; i < m_nCount; ++i) {
        if (MatchPattern(m_patterns[i], name))
            return 1;
    }
    return 0;
}

bool CFileFilter::MatchPattern(LPCTSTR pattern, LPCTSTR name) {
    // Up to the first '*' the pattern and the name go in step.
    while (*name && *pattern != _T('*')) {
        if (*pattern != _T('?') && *pattern != *name)
            return false;
        ++pattern;
        ++name;
    }
    // Each '*' first matches nothing; a later mismatch gives it one more character. Only the most recent '*' is
    // retried.
    LPCTSTR restartPattern = nullptr;
    LPCTSTR restartName = nullptr;
    while (*name) {
        if (*pattern == _T('*')) {
            ++pattern;
            if (!*pattern)
                return true;
            restartPattern = pattern;
            restartName = name + 1;
        } else if (*pattern == _T('?') || *pattern == *name) {
            ++pattern;
            ++name;
        } else {
            if (!restartPattern)
                return false;
            pattern = restartPattern;
            name = restartName++;
        }
    }
    while (*pattern == _T('*'))
        ++pattern;
    return !*pattern;
}
