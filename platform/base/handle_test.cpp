#include "platform/base/handle.h"

#include "platform/base/errors.h"

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
