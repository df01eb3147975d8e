// CNameValueList: an ordered list of pairs of texts, each an owned copy, with unique names (compared exactly, with
// regard to case). The Outlook Express agent keeps its identity table, its item files and its restore identity map
// in it.
#pragma once

#include "platform/afx/String.h"

#include <utility>
#include <vector>

class CNameValueList {
public:
    CNameValueList() { Reset(2); }
    ~CNameValueList() = default;
    CNameValueList(const CNameValueList&) = delete;
    CNameValueList& operator=(const CNameValueList&) = delete;

    // 0 when the name is present; otherwise stores copies of both texts and returns 1.
    int Add(LPCTSTR lpszName, LPCTSTR lpszValue);
    // The value of the pair whose name equals, or null.
    LPCTSTR Lookup(LPCTSTR lpszName) const;
    // Forgets every pair and makes room for nCapacity; 1.
    int Reset(int nCapacity);
    int GetCount() const { return static_cast<int>(m_pairs.size()); }
    // Copies the name pointers into the array when it holds at least GetCount() of them; else 0.
    int GetNames(LPCTSTR* pNames, int nSize) const;

private:
    std::vector<std::pair<CString, CString>> m_pairs;
    int m_nCapacity = 2;
    int m_nGrowBy = 3;
};
