// CMap: the framework's hash map template, iterated by POSITION.
//
// Lookup, SetAt, operator[], RemoveKey and iteration with GetStartPosition and GetNextAssoc. Iteration visits the
// associations in the order they were added (the framework leaves the order open); a POSITION stays valid until its
// association is removed, so the current association may be removed while iterating. Keys hash with std::hash.
#pragma once

#include "platform/afx/Object.h"

#include <cassert>
#include <memory>
#include <unordered_map>

template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE> class CMap : public CObject {
    struct Assoc {
        Assoc* next = nullptr;
        Assoc* prev = nullptr;
        KEY key{};
        VALUE value{};
    };

public:
    explicit CMap(INT_PTR nBlockSize = 10) { (void)nBlockSize; }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;
    ~CMap() override { RemoveAll(); }

    INT_PTR GetCount() const { return static_cast<INT_PTR>(m_index.size()); }
    INT_PTR GetSize() const { return GetCount(); }
    BOOL IsEmpty() const { return m_index.empty(); }

    BOOL Lookup(ARG_KEY key, VALUE& rValue) const {
        auto it = m_index.find(KEY(key));
        if (it == m_index.end())
            return FALSE;
        rValue = it->second->value;
        return TRUE;
    }
    VALUE& operator[](ARG_KEY key) { return GetOrAdd(key)->value; }
    void SetAt(ARG_KEY key, ARG_VALUE newValue) { GetOrAdd(key)->value = newValue; }
    BOOL RemoveKey(ARG_KEY key) {
        auto it = m_index.find(KEY(key));
        if (it == m_index.end())
            return FALSE;
        Unlink(it->second.get());
        m_index.erase(it);
        return TRUE;
    }
    void RemoveAll() {
        m_index.clear();
        m_head = m_tail = nullptr;
    }

    POSITION GetStartPosition() const { return m_head ? reinterpret_cast<POSITION>(m_head) : nullptr; }
    void GetNextAssoc(POSITION& rNextPosition, KEY& rKey, VALUE& rValue) const {
        assert(rNextPosition && rNextPosition != BEFORE_START_POSITION);
        Assoc* assoc = reinterpret_cast<Assoc*>(rNextPosition);
        rKey = assoc->key;
        rValue = assoc->value;
        rNextPosition = assoc->next ? reinterpret_cast<POSITION>(assoc->next) : nullptr;
    }

private:
    Assoc* GetOrAdd(ARG_KEY key) {
        KEY k(key);
        auto it = m_index.find(k);
        if (it != m_index.end())
            return it->second.get();
        auto assoc = std::make_unique<Assoc>();
        assoc->key = k;
        assoc->prev = m_tail;
        Assoc* raw = assoc.get();
        if (m_tail)
            m_tail->next = raw;
        else
            m_head = raw;
        m_tail = raw;
        m_index.emplace(std::move(k), std::move(assoc));
        return raw;
    }
    void Unlink(Assoc* assoc) {
        if (assoc->prev)
            assoc->prev->next = assoc->next;
        else
            m_head = assoc->next;
        if (assoc->next)
            assoc->next->prev = assoc->prev;
        else
            m_tail = assoc->prev;
    }

    std::unordered_map<KEY, std::unique_ptr<Assoc>> m_index;
    Assoc* m_head = nullptr;
    Assoc* m_tail = nullptr;
};
