#include "platform/base/handle.h"

#include "platform/base/errors.h"
#include "platform/base/unique_handle.h"

#include <gtest/gtest.h>

namespace {

class TestObject : public platform::KernelObject {
public:
    explicit TestObject(int* closed) : m_closed(closed) {}
    const char* TypeName() const override { return "Test"; }
    void OnLastHandleClosed() override { ++*m_closed; }

private:
    int* m_closed;
};

class OtherObject : public platform::KernelObject {
public:
    const char* TypeName() const override { return "Other"; }
};

int g_customCloses = 0;
BOOL CountClose(HANDLE) {
    ++g_customCloses;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

} // namespace

TEST(Handles, ValuesAreSmallMultiplesOfFourAndReused) {
    int closed = 0;
    HANDLE a = platform::InsertHandle(std::make_shared<TestObject>(&closed));
    HANDLE b = platform::InsertHandle(std::make_shared<TestObject>(&closed));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 4, 0u);
    EXPECT_NE(a, b);
    ASSERT_TRUE(CloseHandle(a));
    HANDLE c = platform::InsertHandle(std::make_shared<TestObject>(&closed));
    EXPECT_EQ(c, a);
    CloseHandle(b);
    CloseHandle(c);
    EXPECT_EQ(closed, 3);
}

TEST(Handles, ObjectLivesUntilLastHandleClosed) {
    int closed = 0;
    auto object = std::make_shared<TestObject>(&closed);
    HANDLE first = platform::InsertHandle(object);
    HANDLE second = nullptr;
    const auto self = reinterpret_cast<HANDLE>(platform::kCurrentProcessPseudoHandle);
    ASSERT_TRUE(DuplicateHandle(self, first, self, &second, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(first, second);
    EXPECT_EQ(platform::LookupHandle(second), object);
    ASSERT_TRUE(CloseHandle(first));
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(platform::LookupHandle(first), nullptr);
    ASSERT_TRUE(CloseHandle(second));
    EXPECT_EQ(closed, 1);
}

TEST(Handles, BadHandlesFailWithInvalidHandle) {
    int closed = 0;
    HANDLE h = platform::InsertHandle(std::make_shared<TestObject>(&closed));
    ASSERT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF0000))));
    EXPECT_EQ(platform::LookupHandle(nullptr), nullptr);
    EXPECT_EQ(platform::LookupHandle(INVALID_HANDLE_VALUE), nullptr);

    HANDLE other = platform::InsertHandle(std::make_shared<OtherObject>());
    SetLastError(0);
    EXPECT_EQ(platform::LookupHandleAs<TestObject>(other), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_NE(platform::LookupHandleAs<OtherObject>(other), nullptr);
    CloseHandle(other);
}

TEST(Handles, AnOwnerClosesItsHandleExactlyOnce) {
    int closed = 0;
    auto make = [&] { return platform::InsertHandle(std::make_shared<TestObject>(&closed)); };
    {
        platform::OwnedHandle owner(make());
        EXPECT_TRUE(owner.valid());
    }
    EXPECT_EQ(closed, 1);

    // Given up, the handle stays open for whoever took it.
    HANDLE kept;
    {
        platform::OwnedHandle owner(make());
        kept = owner.release();
        EXPECT_FALSE(owner);
    }
    EXPECT_EQ(closed, 1);
    EXPECT_NE(platform::LookupHandle(kept), nullptr);

    // Another handle closes the old one; moving hands the handle on without closing it.
    platform::OwnedHandle first(kept);
    first.reset(make());
    EXPECT_EQ(closed, 2);
    platform::OwnedHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(closed, 2);
    platform::OwnedHandle third(make());
    third = std::move(second);
    EXPECT_EQ(closed, 3);
    HANDLE* slot = third.put();
    EXPECT_EQ(closed, 4);
    *slot = make();
    third.reset();
    EXPECT_EQ(closed, 5);
    EXPECT_EQ(platform::LookupHandle(*slot), nullptr);

    // Neither form of "no handle" is ever closed, and closing keeps the error the owner's function set.
    g_customCloses = 0;
    {
        platform::UniqueHandle<HANDLE, &CountClose> none;
        platform::UniqueHandle<HANDLE, &CountClose> invalid(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(invalid.valid());
        platform::UniqueHandle<HANDLE, &CountClose> real(reinterpret_cast<HANDLE>(8));
        real.reset(real.get());
        SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(g_customCloses, 1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
