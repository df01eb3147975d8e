#include "platform/afx/CriticalSection.h"
#include "platform/afx/Event.h"
#include "platform/afx/SingleLock.h"

#include "platform/base/sync.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(SyncTest, CriticalSectionExcludesOtherThreadsAndNests) {
    CCriticalSection section;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CSingleLock lock(&section, TRUE);
                CSingleLock nested(&section, TRUE); // recursive for its owner
                ++counter;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 40000);

    CSingleLock lock(&section);
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(lock.Lock());
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(lock.Unlock()); // unlocking again is harmless
}

TEST(SyncTest, EventsSignalAcrossThreads) {
    CEvent autoReset;
    CEvent manual(FALSE, TRUE);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    std::thread setter([&] {
        autoReset.SetEvent();
        manual.SetEvent();
    });
    CSingleLock waiter(&autoReset);
    EXPECT_TRUE(waiter.Lock(10000));
    setter.join();
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT); // auto-reset: taken by the wait
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock(0)); // manual: stays set
    manual.ResetEvent();
    EXPECT_FALSE(manual.Lock(0));

    CEvent initiallySet(TRUE, TRUE);
    EXPECT_TRUE(initiallySet.Lock(0));
}

} // namespace
