// The user's list of file-name patterns that leave files out of a backup.
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/StringArray.h"
#include "platform/shell/idlist.h"

class CFileFilter {
public:
    CFileFilter() = default;
    ~CFileFilter() { Clear(); }
    CFileFilter(const CFileFilter&) = delete;
    CFileFilter& operator=(const CFileFilter&) = delete;

    // Replaces the patterns by those of a TAB-separated text (each pattern followed by a TAB); empty pieces are
    // skipped. Patterns are kept lower-cased. Returns their number.
    int SetPatterns(LPCTSTR lpszText);
    // The text form: every pattern followed by a TAB; empty when there is none.
    void GetPatterns(CString& strText) const;
    int GetCount() const { return m_nCount; }
    void Clear();

    // 1 when the last component of the path matches a pattern ('*' any run, '?' one character, case-insensitive).
    int IsFilteredPath(LPCTSTR lpszPath) const;
    // The same for a shell item by its file-system path; a null list, or one without a file-system path, is not
    // filtered.
    int IsFilteredItem(LPCITEMIDLIST pidl) const;

    // Matches one lower-cased name against one lower-cased pattern.
    static bool MatchPattern(LPCTSTR lpszPattern, LPCTSTR lpszName);

private:
    int m_nCount = 0;
    CStringArray m_patterns;
};
