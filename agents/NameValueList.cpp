#include "agents/NameValueList.h"

int CNameValueList::Add(LPCTSTR lpszName, LPCTSTR lpszValue) {
    if (!lpszName || Lookup(lpszName))
        return 0;
    if (GetCount() >= m_nCapacity) {
        m_nCapacity += m_nGrowBy;
        m_pairs.reserve(static_cast<size_t>(m_nCapacity));
    }
    m_pairs.emplace_back(CString(lpszName), CString(lpszValue ? lpszValue : _T("")));
    return 1;
}

LPCTSTR CNameValueList::Lookup(LPCTSTR lpszName) const {
    if (!lpszName)
        return nullptr;
    for (const auto& [name, value] : m_pairs)
        if (name == lpszName)
            return value.GetString();
    return nullptr;
}

int CNameValueList::Reset(int nCapacity) {
    m_pairs.clear();
    m_nCapacity = nCapacity > 0 ? nCapacity : 0;
    m_pairs.reserve(static_cast<size_t>(m_nCapacity));
    return 1;
}

int CNameValueList::GetNames(LPCTSTR* pNames, int nSize) const {
    if (!pNames || nSize < GetCount())
        return 0;
    for (int i = 0; i < GetCount(); ++i)
        pNames[i] = m_pairs[static_cast<size_t>(i)].first.GetString();
    return 1;
}
