// CList: the framework's doubly linked list template, iterated by POSITION.
//
// A POSITION names one node and stays valid until that node is removed; GetNext and GetPrev return the element at
// the position and move it on (to null past the end). Find compares with operator==. The block-size argument of the
// constructor is accepted and has no effect on behaviour.
#pragma once

#include "platform/afx/Object.h"

#include <cassert>
#include <memory>

template <class TYPE, class ARG_TYPE = const TYPE&> class CList : public CObject {
    struct Node {
        Node* next = nullptr;
        Node* prev = nullptr;
        TYPE data{};
    };

public:
    explicit CList(INT_PTR nBlockSize = 10) { (void)nBlockSize; }
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    ~CList() override { RemoveAll(); }

    INT_PTR GetCount() const { return m_count; }
    INT_PTR GetSize() const { return m_count; }
    BOOL IsEmpty() const { return m_count == 0; }

    TYPE& GetHead() { return Head()->data; }
    const TYPE& GetHead() const { return Head()->data; }
    TYPE& GetTail() { return Tail()->data; }
    const TYPE& GetTail() const { return Tail()->data; }

    TYPE RemoveHead() {
        Node* node = Head();
        TYPE value = std::move(node->data);
        Unlink(node);
        return value;
    }
    TYPE RemoveTail() {
        Node* node = Tail();
        TYPE value = std::move(node->data);
        Unlink(node);
        return value;
    }

    POSITION AddHead(ARG_TYPE newElement) { return InsertBefore(GetHeadPosition(), newElement); }
    POSITION AddTail(ARG_TYPE newElement) { return InsertAfter(GetTailPosition(), newElement); }
    void AddHead(CList* pNewList) {
        assert(pNewList);
        for (POSITION pos = pNewList->GetTailPosition(); pos;)
            AddHead(pNewList->GetPrev(pos));
    }
    void AddTail(CList* pNewList) {
        assert(pNewList);
        for (POSITION pos = pNewList->GetHeadPosition(); pos;)
            AddTail(pNewList->GetNext(pos));
    }

    void RemoveAll() {
        while (m_head)
            Unlink(m_head);
    }

    POSITION GetHeadPosition() const { return ToPos(m_head); }
    POSITION GetTailPosition() const { return ToPos(m_tail); }
    TYPE& GetNext(POSITION& rPosition) {
        Node* node = FromPos(rPosition);
        rPosition = ToPos(node->next);
        return node->data;
    }
    const TYPE& GetNext(POSITION& rPosition) const {
        Node* node = FromPos(rPosition);
        rPosition = ToPos(node->next);
        return node->data;
    }
    TYPE& GetPrev(POSITION& rPosition) {
        Node* node = FromPos(rPosition);
        rPosition = ToPos(node->prev);
        return node->data;
    }
    const TYPE& GetPrev(POSITION& rPosition) const {
        Node* node = FromPos(rPosition);
        rPosition = ToPos(node->prev);
        return node->data;
    }

    TYPE& GetAt(POSITION position) { return FromPos(position)->data; }
    const TYPE& GetAt(POSITION position) const { return FromPos(position)->data; }
    void SetAt(POSITION pos, ARG_TYPE newElement) { FromPos(pos)->data = newElement; }
    void RemoveAt(POSITION position) { Unlink(FromPos(position)); }

    // A null position inserts at the head (InsertBefore) or the tail (InsertAfter), as the framework does.
    POSITION InsertBefore(POSITION position, ARG_TYPE newElement) {
        auto node = std::make_unique<Node>();
        node->data = newElement;
        Node* before = position ? FromPos(position) : m_head;
        Node* raw = node.release();
        raw->next = before;
        raw->prev = before ? before->prev : nullptr;
        Link(raw);
        return ToPos(raw);
    }
    POSITION InsertAfter(POSITION position, ARG_TYPE newElement) {
        auto node = std::make_unique<Node>();
        node->data = newElement;
        Node* after = position ? FromPos(position) : m_tail;
        Node* raw = node.release();
        raw->prev = after;
        raw->next = after ? after->next : nullptr;
        Link(raw);
        return ToPos(raw);
    }

    // Searches after startAfter (or from the head when null).
    POSITION Find(ARG_TYPE searchValue, POSITION startAfter = nullptr) const {
        Node* node = startAfter ? FromPos(startAfter)->next : m_head;
        for (; node; node = node->next) {
            if (node->data == searchValue)
                return ToPos(node);
        }
        return nullptr;
    }
    POSITION FindIndex(INT_PTR nIndex) const {
        if (nIndex < 0 || nIndex >= m_count)
            return nullptr;
        Node* node = m_head;
        while (nIndex-- > 0)
            node = node->next;
        return ToPos(node);
    }

private:
    static POSITION ToPos(Node* node) { return reinterpret_cast<POSITION>(node); }
    static Node* FromPos(POSITION pos) {
        assert(pos && pos != BEFORE_START_POSITION);
        return reinterpret_cast<Node*>(pos);
    }
    Node* Head() const {
        assert(m_head);
        return m_head;
    }
    Node* Tail() const {
        assert(m_tail);
        return m_tail;
    }
    // Links a node whose prev and next are set.
    void Link(Node* node) {
        if (node->prev)
            node->prev->next = node;
        else
            m_head = node;
        if (node->next)
            node->next->prev = node;
        else
            m_tail = node;
        ++m_count;
    }
    void Unlink(Node* node) {
        std::unique_ptr<Node> owned(node);
        if (node->prev)
            node->prev->next = node->next;
        else
            m_head = node->next;
        if (node->next)
            node->next->prev = node->prev;
        else
            m_tail = node->prev;
        --m_count;
    }

    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    INT_PTR m_count = 0;
};
