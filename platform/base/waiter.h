// The sleeping side of a wait: one per thread, private to the base layer.
//
// Everything a wait looks at (object states, waiter lists, the waiter's flags) is guarded by the one global wait
// lock. A Waiter sleeps on its own condition variable with that lock, so a state change wakes exactly the
// threads that wait on the changed object, and a multi-object wait sees every object at one instant.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {

class KernelObject;

// The global wait lock. Never destroyed, so that threads still running while the process exits can use it.
std::mutex& WaitMutex();

class Waiter {
public:
    // Call with the wait lock held: the waiter re-evaluates its wait.
    void Wake() {
        m_woken = true;
        m_cv.notify_one();
    }

    // Call with the wait lock held (through `lock`); returns when woken or when `milliseconds` of real time have
    // passed. A negative value waits until woken.
    void Sleep(std::unique_lock<std::mutex>& lock, long long milliseconds);

    bool TakeWoken() {
        const bool woken = m_woken;
        m_woken = false;
        return woken;
    }

    // A pulsed event counts as signalled for this waiter's next evaluation only (wait lock held).
    void GrantPulse(const KernelObject* object) {
        m_pulses.push_back(object);
        Wake();
    }
    bool HasPulse(const KernelObject* object) const {
        return std::find(m_pulses.begin(), m_pulses.end(), object) != m_pulses.end();
    }
    void ClearPulses() { m_pulses.clear(); }

private:
    std::condition_variable m_cv;
    bool m_woken = false;
    std::vector<const KernelObject*> m_pulses;
};

} // namespace platform
