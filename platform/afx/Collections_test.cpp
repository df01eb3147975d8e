#include "platform/afx/DWordArray.h"
#include "platform/afx/MapPtrToPtr.h"
#include "platform/afx/MapStringToPtr.h"
#include "platform/afx/MapStringToString.h"
#include "platform/afx/PtrArray.h"
#include "platform/afx/PtrList.h"
#include "platform/afx/StringArray.h"
#include "platform/afx/StringList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <class LIST> std::vector<int> Forward(LIST& list) {
    std::vector<int> out;
    for (POSITION pos = list.GetHeadPosition(); pos;)
        out.push_back(*static_cast<int*>(list.GetNext(pos)));
    return out;
}

TEST(CollectionsTest, PointerListIteratesAndRemovesByPosition) {
    int values[] = {0, 1, 2, 3, 4};
    CPtrList list(10);
    EXPECT_TRUE(list.IsKindOf(RUNTIME_CLASS(CPtrList)));
    for (int& v : values)
        list.AddTail(&v);
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_EQ(Forward(list), (std::vector<int>{0, 1, 2, 3, 4}));

    // Remove while iterating: the position of the next element stays valid.
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        POSITION current = pos;
        int value = *static_cast<int*>(list.GetNext(pos));
        if (value % 2)
            list.RemoveAt(current);
    }
    EXPECT_EQ(Forward(list), (std::vector<int>{0, 2, 4}));

    POSITION two = list.Find(&values[2]);
    ASSERT_NE(two, nullptr);
    list.InsertBefore(two, &values[1]);
    list.InsertAfter(two, &values[3]);
    list.AddHead(&values[4]);
    EXPECT_EQ(Forward(list), (std::vector<int>{4, 0, 1, 2, 3, 4}));
    EXPECT_EQ(list.Find(&values[4], list.GetHeadPosition()), list.GetTailPosition());
    EXPECT_EQ(list.FindIndex(3), two);
    EXPECT_EQ(list.FindIndex(6), nullptr);

    std::vector<int> backward;
    for (POSITION pos = list.GetTailPosition(); pos;)
        backward.push_back(*static_cast<int*>(list.GetPrev(pos)));
    EXPECT_EQ(backward, (std::vector<int>{4, 3, 2, 1, 0, 4}));

    EXPECT_EQ(list.RemoveHead(), &values[4]);
    EXPECT_EQ(list.RemoveTail(), &values[4]);
    EXPECT_EQ(list.GetHead(), &values[0]);
    EXPECT_EQ(list.GetTail(), &values[3]);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    list.InsertBefore(nullptr, &values[1]); // a null position means the head
    EXPECT_EQ(Forward(list), (std::vector<int>{1}));
}

TEST(CollectionsTest, StringListFindsByText) {
    CStringList list;
    list.AddTail(u"alpha");
    list.AddTail(CString(u"beta"));
    list.AddHead(u"zero");
    POSITION pos = list.Find(u"beta");
    ASSERT_NE(pos, nullptr);
    EXPECT_TRUE(list.GetAt(pos) == u"beta");
    list.SetAt(pos, u"gamma");
    EXPECT_EQ(list.Find(u"beta"), nullptr);
    EXPECT_TRUE(list.GetTail() == u"gamma");
}

TEST(CollectionsTest, ArraysGrowInsertAndRemove) {
    CDWordArray numbers;
    numbers.SetAtGrow(3, 7);
    ASSERT_EQ(numbers.GetSize(), 4);
    EXPECT_EQ(numbers[0], 0u);
    EXPECT_EQ(numbers[3], 7u);
    EXPECT_EQ(numbers.Add(8), 4);
    numbers.InsertAt(1, 5, 2);
    EXPECT_EQ(numbers.GetSize(), 7);
    EXPECT_EQ(numbers[1], 5u);
    EXPECT_EQ(numbers[2], 5u);
    numbers.RemoveAt(0, 3);
    EXPECT_EQ(numbers.GetSize(), 4);
    EXPECT_EQ(numbers[2], 7u);
    EXPECT_EQ(numbers.GetUpperBound(), 3);
    numbers.InsertAt(6, 9); // past the end: the gap is filled with zeros
    EXPECT_EQ(numbers.GetSize(), 7);
    EXPECT_EQ(numbers[5], 0u);
    EXPECT_EQ(numbers[6], 9u);
    numbers.SetSize(2);
    EXPECT_EQ(numbers.GetSize(), 2);

    CStringArray strings;
    strings.Add(u"b");
    strings.InsertAt(0, u"a");
    strings.SetAtGrow(3, u"d");
    EXPECT_TRUE(strings[0] == u"a");
    EXPECT_TRUE(strings[2].IsEmpty());
    CStringArray more;
    more.Add(u"e");
    EXPECT_EQ(strings.Append(more), 4);
    EXPECT_TRUE(strings.GetAt(4) == u"e");

    CPtrArray pointers;
    pointers.SetSize(2);
    EXPECT_EQ(pointers[1], nullptr);
}

TEST(CollectionsTest, MapsLookUpReplaceAndIterate) {
    CMapStringToPtr byName;
    int a = 1, b = 2;
    byName.SetAt(u"a", &a);
    byName[u"b"] = &b;
    byName.SetAt(u"a", &b); // replaces
    EXPECT_EQ(byName.GetCount(), 2);
    void* found = nullptr;
    ASSERT_TRUE(byName.Lookup(u"a", found));
    EXPECT_EQ(found, &b);
    EXPECT_FALSE(byName.Lookup(u"A", found)); // keys compare exactly

    CMapPtrToPtr byPointer;
    for (int i = 0; i < 100; ++i)
        byPointer.SetAt(reinterpret_cast<void*>(static_cast<intptr_t>(i + 1)),
                        reinterpret_cast<void*>(static_cast<intptr_t>(i * 2)));
    // Remove the current association while iterating.
    int seen = 0;
    for (POSITION pos = byPointer.GetStartPosition(); pos;) {
        void* key = nullptr;
        void* value = nullptr;
        byPointer.GetNextAssoc(pos, key, value);
        EXPECT_EQ(reinterpret_cast<intptr_t>(value), (reinterpret_cast<intptr_t>(key) - 1) * 2);
        if (reinterpret_cast<intptr_t>(key) % 2) {
            EXPECT_TRUE(byPointer.RemoveKey(key));
        }
        ++seen;
    }
    EXPECT_EQ(seen, 100);
    EXPECT_EQ(byPointer.GetCount(), 50);
    EXPECT_FALSE(byPointer.RemoveKey(reinterpret_cast<void*>(1)));
    byPointer.RemoveAll();
    EXPECT_EQ(byPointer.GetStartPosition(), nullptr);

    CMapStringToString texts;
    texts.SetAt(u"key", u"value");
    CString value;
    EXPECT_TRUE(texts.Lookup(u"key", value));
    EXPECT_TRUE(value == u"value");
}

} // namespace
