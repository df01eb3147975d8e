// The sleeping side of a wait: one per waiting thread, private to the base layer.
//
// Everything a wait looks at (object states, waiter lists, the waiter's flags) is guarded by the one global wait
// lock. A Waiter sleeps on its own condition variable with that lock, so a state change wakes exactly the
// threads that wait on the changed object, and a multi-object wait sees every object at one instant.
#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// The global wait lock. Never destroyed, so that threads still running while the process exits can use it.
std::mutex& WaitMutex();

class Waiter {
public:
    // Call with the wait lock held: the waiter re-evaluates its wait.
    void Wake() {
        m_woken = true;
        m_cv.notify_one();
    }

    // Call with the wait lock held (through `lock`); returns when woken or (real clock) when `milliseconds`
    // have passed. A negative value waits until woken.
    void Sleep(std::unique_lock<std::mutex>& lock, long long milliseconds);

    bool TakeWoken() {
        const bool woken = m_woken;
        m_woken = false;
        return woken;
    }

private:
    std::condition_variable m_cv;
    bool m_woken = false;
};

} // namespace platform
