// The wait machinery: WaitForObjects and the waits built on it, APCs and WakeThread.

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/shared_object.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/base/thread_state.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

namespace platform {

namespace {

// How often a wait on an object shared with other processes looks again, in real milliseconds.
constexpr long long kSharedPollMs = 5;

// Waiters that are inside WaitForObjects right now (wait lock held), woken when the clock moves so that timed
// waits on the manual clock notice their deadline.
std::vector<Waiter*>& ActiveWaiters() {
    static auto* waiters = new std::vector<Waiter*>;
    return *waiters;
}

void OnClockMoved(void*) {
    std::lock_guard lock(WaitMutex());
    for (Waiter* waiter : ActiveWaiters())
        waiter->Wake();
}

void ListenToClockOnce() {
    static const int id = clock::AddClockListener(&OnClockMoved, nullptr);
    (void)id;
}

// Registers the waiter on its objects for the duration of a wait (wait lock held throughout).
class Registration {
public:
    Registration(Waiter& waiter, const std::vector<KernelObjectPtr>& objects) : m_waiter(waiter), m_objects(objects) {
        for (const auto& object : m_objects)
            object->AddWaiter(&m_waiter);
        ActiveWaiters().push_back(&m_waiter);
    }
    ~Registration() {
        for (const auto& object : m_objects)
            object->RemoveWaiter(&m_waiter);
        auto& active = ActiveWaiters();
        active.erase(std::find(active.begin(), active.end(), &m_waiter));
        m_waiter.ClearPulses();
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    Waiter& m_waiter;
    const std::vector<KernelObjectPtr>& m_objects;
};

// Holds the shared locks of the wait's cross-process objects during one evaluation.
class SharedLocks {
public:
    explicit SharedLocks(const std::vector<SharedObject*>& shared) : m_shared(shared) {
        for (SharedObject* object : m_shared)
            object->LockShared();
    }
    ~SharedLocks() {
        for (auto it = m_shared.rbegin(); it != m_shared.rend(); ++it)
            (*it)->UnlockShared();
    }
    SharedLocks(const SharedLocks&) = delete;
    SharedLocks& operator=(const SharedLocks&) = delete;

private:
    const std::vector<SharedObject*>& m_shared;
};

bool Ready(const KernelObjectPtr& object, const Waiter& waiter) {
    return waiter.HasPulse(object.get()) || object->IsSignaled();
}

DWORD Take(const KernelObjectPtr& object, const Waiter& waiter) {
    // A pulse was the signal itself; there is nothing left to take.
    if (waiter.HasPulse(object.get()))
        return WAIT_OBJECT_0;
    return object->Acquire();
}

// Checks the objects once and takes them when the wait is satisfied (wait lock held).
std::optional<DWORD> Evaluate(const std::vector<KernelObjectPtr>& objects, const std::vector<SharedObject*>& shared,
                              bool waitAll, const Waiter& waiter) {
    SharedLocks locks(shared);
    if (!waitAll) {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (Ready(objects[i], waiter)) {
                const DWORD r = Take(objects[i], waiter);
                return static_cast<DWORD>((r == WAIT_ABANDONED ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i);
            }
        }
        return std::nullopt;
    }
    if (objects.empty())
        return std::nullopt;
    for (const auto& object : objects) {
        if (!Ready(object, waiter))
            return std::nullopt;
    }
    std::optional<DWORD> abandoned;
    for (size_t i = 0; i < objects.size(); ++i) {
        if (Take(objects[i], waiter) == WAIT_ABANDONED && !abandoned)
            abandoned = static_cast<DWORD>(WAIT_ABANDONED_0 + i);
    }
    return abandoned ? *abandoned : WAIT_OBJECT_0;
}

// Runs the queued APCs of the calling thread with the wait lock released.
void RunApcs(ThreadState& self, std::unique_lock<std::mutex>& lock) {
    while (!self.apcs.empty()) {
        const auto [function, data] = self.apcs.front();
        self.apcs.pop_front();
        lock.unlock();
        function(data);
        lock.lock();
    }
}

} // namespace

std::mutex& WaitMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

void Waiter::Sleep(std::unique_lock<std::mutex>& lock, long long milliseconds) {
    if (milliseconds < 0) {
        m_cv.wait(lock, [this] { return m_woken; });
        return;
    }
    m_cv.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_woken; });
}

WaitLock::WaitLock() {
    WaitMutex().lock();
}

WaitLock::~WaitLock() {
    WaitMutex().unlock();
}

DWORD WaitForObjects(DWORD count, const HANDLE* handles, DWORD milliseconds, const WaitOptions& options) {
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
        Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<KernelObjectPtr> objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        KernelObjectPtr object = LookupHandle(handles[i]);
        if (!object || !object->IsWaitable()) {
            SetLastErrorInvalidHandle();
            return WAIT_FAILED;
        }
        if (options.waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
            Fail(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    std::vector<SharedObject*> shared;
    std::vector<const KernelObject*> sharedOwners;
    for (const auto& object : objects) {
        if (auto* s = dynamic_cast<SharedObject*>(object.get());
            s && s->IsShared() && std::find(shared.begin(), shared.end(), s) == shared.end()) {
            shared.push_back(s);
            sharedOwners.push_back(object.get());
        }
    }
    // Shared locks are always taken in name order, in every process.
    {
        std::vector<size_t> order(shared.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return sharedOwners[a]->Name() < sharedOwners[b]->Name(); });
        std::vector<SharedObject*> sorted;
        for (size_t i : order)
            sorted.push_back(shared[i]);
        shared.swap(sorted);
    }

    ListenToClockOnce();
    const bool timed = milliseconds != INFINITE;
    const uint64_t deadline = timed ? clock::MonotonicMs() + milliseconds : 0;
    ThreadState& self = CurrentThreadState();

    std::unique_lock lock(WaitMutex());
    Registration registration(self.waiter, objects);
    for (;;) {
        self.waiter.TakeWoken();
        if (auto result = Evaluate(objects, shared, options.waitAll, self.waiter))
            return *result;
        self.waiter.ClearPulses();
        if (options.extraReady && options.extraReady())
            return WAIT_OBJECT_0 + count;
        if (options.alertable && !self.apcs.empty()) {
            RunApcs(self, lock);
            return WAIT_IO_COMPLETION;
        }
        // Only a wait that can serve a wake takes the request; a plain wait leaves it for the next one that can.
        if (self.wakeRequested && options.onWake) {
            self.wakeRequested = false;
            lock.unlock();
            options.onWake();
            lock.lock();
            continue;
        }
        long long sleepMs = -1;
        if (timed) {
            const uint64_t now = clock::MonotonicMs();
            if (now >= deadline)
                return WAIT_TIMEOUT;
            // On the manual clock only a move of the clock can bring the deadline; the clock listener wakes us.
            if (!clock::IsManual())
                sleepMs = static_cast<long long>(deadline - now);
        }
        if (!shared.empty() && (sleepMs < 0 || sleepMs > kSharedPollMs))
            sleepMs = kSharedPollMs;
        if (!self.waiter.TakeWoken())
            self.waiter.Sleep(lock, sleepMs);
    }
}

void WakeThread(DWORD threadId) {
    std::lock_guard lock(WaitMutex());
    ThreadState* thread = FindThreadState(threadId);
    if (!thread)
        return;
    // The request stays until the thread's next wait sees it, so a wake just before a wait is never lost.
    thread->wakeRequested = true;
    thread->waiter.Wake();
}

} // namespace platform

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return platform::WaitForObjects(1, &handle, milliseconds, {});
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    platform::WaitOptions options;
    options.alertable = alertable != FALSE;
    return platform::WaitForObjects(1, &handle, milliseconds, options);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    return WaitForMultipleObjectsEx(count, handles, waitAll, milliseconds, FALSE);
}

DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, BOOL alertable) {
    if (count == 0) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    platform::WaitOptions options;
    options.waitAll = waitAll != FALSE;
    options.alertable = alertable != FALSE;
    return platform::WaitForObjects(count, handles, milliseconds, options);
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
    if (!alertable) {
        Sleep(milliseconds);
        return 0;
    }
    platform::WaitOptions options;
    options.alertable = true;
    const DWORD r = platform::WaitForObjects(0, nullptr, milliseconds, options);
    return r == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}

DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR data) {
    if (!function) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    platform::KernelObjectPtr object = platform::LookupHandle(thread);
    if (!object || std::string_view(object->TypeName()) != "Thread") {
        platform::SetLastErrorInvalidHandle();
        return 0;
    }
    const DWORD id = GetThreadId(thread);
    std::lock_guard lock(platform::WaitMutex());
    platform::ThreadState* target = platform::FindThreadState(id);
    if (!target || target->ended) {
        platform::Fail(ERROR_GEN_FAILURE);
        return 0;
    }
    target->apcs.emplace_back(function, data);
    target->waiter.Wake();
    return 1;
}
