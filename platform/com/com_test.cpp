#include "platform/com/objbase.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// Each case runs on a thread of its own, so that apartments never leak from one case into the next.
template <class F> void OnFreshThread(F body) {
    std::thread t(body);
    t.join();
}

TEST(Apartment, OleInitialisationIsCountedAndBalanced) {
    OnFreshThread([] {
        EXPECT_FALSE(platform::com::IsOleInitialized());
        EXPECT_EQ(OleInitialize(nullptr), S_OK);
        EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
        EXPECT_TRUE(platform::com::IsOleInitialized());
        // OLE's apartment is single-threaded: the other kind is refused while it lasts.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        OleUninitialize();
        EXPECT_TRUE(platform::com::IsOleInitialized());
        OleUninitialize();
        EXPECT_FALSE(platform::com::IsOleInitialized());
        EXPECT_FALSE(platform::com::IsApartmentEntered());
        // An extra uninitialise is harmless, and the thread may enter the other kind now.
        OleUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(Apartment, OleOnAMultithreadedThreadFails) {
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(OleInitialize(nullptr), RPC_E_CHANGED_MODE);
        EXPECT_FALSE(platform::com::IsOleInitialized());
        CoUninitialize();
        EXPECT_FALSE(platform::com::IsApartmentEntered());
    });
}

TEST(Apartment, OleAfterComOnTheSameThreadStartsItsOwnCount) {
    OnFreshThread([] {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(OleInitialize(nullptr), S_OK);
        OleUninitialize();
        // COM's own entry still holds the apartment.
        EXPECT_TRUE(platform::com::IsApartmentEntered());
        CoUninitialize();
        EXPECT_FALSE(platform::com::IsApartmentEntered());
    });
}

TEST(Apartment, ThreadsHaveApartmentsOfTheirOwn) {
    OnFreshThread([] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        OnFreshThread([] {
            EXPECT_FALSE(platform::com::IsApartmentEntered());
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            CoUninitialize();
        });
        OleUninitialize();
    });
}

TEST(Apartment, BadArgumentsAreRefused) {
    OnFreshThread([] {
        int reserved = 0;
        EXPECT_EQ(OleInitialize(&reserved), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_APARTMENTTHREADED), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
        EXPECT_FALSE(platform::com::IsApartmentEntered());
    });
}

} // namespace
