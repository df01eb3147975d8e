// CArray: the framework's growable array template, and the position helpers shared by the collections.
//
// Indexes are ints as in the framework; an index outside the array is a programmer error (assert). SetAtGrow and
// SetSize grow the array with value-initialised elements (zero for numbers and pointers). The grow-by argument of
// SetSize is accepted and has no effect on behaviour.
#pragma once

#include "platform/afx/Object.h"

#include <cassert>
#include <utility>
#include <vector>

template <class TYPE, class ARG_TYPE = const TYPE&> class CArray : public CObject {
public:
    CArray() = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_items.empty(); }
    INT_PTR GetUpperBound() const { return GetSize() - 1; }
    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1) {
        (void)nGrowBy;
        assert(nNewSize >= 0);
        m_items.resize(static_cast<size_t>(nNewSize));
    }

    void FreeExtra() { m_items.shrink_to_fit(); }
    void RemoveAll() { m_items.clear(); }

    const TYPE& GetAt(INT_PTR nIndex) const { return m_items.at(Checked(nIndex)); }
    TYPE& GetAt(INT_PTR nIndex) { return m_items.at(Checked(nIndex)); }
    void SetAt(INT_PTR nIndex, ARG_TYPE newElement) { m_items.at(Checked(nIndex)) = newElement; }
    TYPE& ElementAt(INT_PTR nIndex) { return m_items.at(Checked(nIndex)); }
    const TYPE& ElementAt(INT_PTR nIndex) const { return m_items.at(Checked(nIndex)); }
    const TYPE* GetData() const { return m_items.data(); }
    TYPE* GetData() { return m_items.data(); }

    void SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement) {
        assert(nIndex >= 0);
        if (nIndex >= GetSize())
            m_items.resize(static_cast<size_t>(nIndex) + 1);
        m_items[static_cast<size_t>(nIndex)] = newElement;
    }
    INT_PTR Add(ARG_TYPE newElement) {
        m_items.push_back(newElement);
        return GetSize() - 1;
    }
    INT_PTR Append(const CArray& src) {
        INT_PTR first = GetSize();
        m_items.insert(m_items.end(), src.m_items.begin(), src.m_items.end());
        return first;
    }
    void Copy(const CArray& src) {
        if (&src != this)
            m_items = src.m_items;
    }

    // Inserting past the end grows the array first, as the framework does.
    void InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount = 1) {
        assert(nIndex >= 0 && nCount > 0);
        if (nIndex > GetSize())
            m_items.resize(static_cast<size_t>(nIndex));
        m_items.insert(m_items.begin() + nIndex, static_cast<size_t>(nCount), newElement);
    }
    void InsertAt(INT_PTR nStartIndex, const CArray* pNewArray) {
        assert(pNewArray && nStartIndex >= 0);
        if (nStartIndex > GetSize())
            m_items.resize(static_cast<size_t>(nStartIndex));
        std::vector<TYPE> copy = pNewArray->m_items;
        m_items.insert(m_items.begin() + nStartIndex, copy.begin(), copy.end());
    }
    void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1) {
        assert(nIndex >= 0 && nCount >= 0 && nIndex + nCount <= GetSize());
        m_items.erase(m_items.begin() + nIndex, m_items.begin() + nIndex + nCount);
    }

    const TYPE& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
    TYPE& operator[](INT_PTR nIndex) { return ElementAt(nIndex); }

private:
    size_t Checked(INT_PTR nIndex) const {
        assert(nIndex >= 0 && nIndex < GetSize());
        return static_cast<size_t>(nIndex);
    }

    std::vector<TYPE> m_items;
};
