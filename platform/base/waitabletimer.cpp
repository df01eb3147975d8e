// Waitable timers on the layer clock: one service thread fires timers on the host clock; on a manual clock the
// clock listener fires them while the clock moves, so that they are due before Advance returns.

#include "platform/base/waitabletimer.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/base/thread_state.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

class TimerObject;

// The armed timers and the thread that fires them. Lock order: the service's mutex, then the wait lock.
struct TimerService {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::weak_ptr<TimerObject>> armed;
    bool started = false;
};

TimerService& Service() {
    static auto* service = new TimerService;
    return *service;
}

// Completion routines waiting in a thread's APC queue. The queue carries only an id, so that a routine whose
// thread ends before running it leaves nothing behind but this entry.
struct PendingRoutine {
    PTIMERAPCROUTINE routine;
    LPVOID argument;
    clock::Ticks when;
};
struct PendingRoutines {
    std::mutex mutex;
    std::map<ULONG_PTR, PendingRoutine> map;
    ULONG_PTR next = 1;
};
PendingRoutines& Pending() {
    static auto* pending = new PendingRoutines;
    return *pending;
}

void RunPendingRoutine(ULONG_PTR id) {
    PendingRoutine routine{};
    {
        PendingRoutines& pending = Pending();
        std::lock_guard lock(pending.mutex);
        auto it = pending.map.find(id);
        if (it == pending.map.end())
            return;
        routine = it->second;
        pending.map.erase(it);
    }
    const FILETIME ft = clock::ToFileTime(routine.when);
    routine.routine(routine.argument, ft.dwLowDateTime, ft.dwHighDateTime);
}

class TimerObject : public KernelObject {
public:
    explicit TimerObject(bool manualReset) : m_manualReset(manualReset) {}
    const char* TypeName() const override { return "WaitableTimer"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return m_signaled; }
    DWORD Acquire() override {
        if (!m_manualReset)
            m_signaled = false;
        return WAIT_OBJECT_0;
    }
    void OnLastHandleClosed() override;

    // Guarded by the service's mutex.
    bool armed = false;
    clock::Ticks due = 0;
    LONG period = 0;
    PTIMERAPCROUTINE routine = nullptr;
    LPVOID argument = nullptr;
    DWORD threadId = 0;

    // Guarded by the wait lock.
    bool m_signaled = false;

private:
    bool m_manualReset;
};

// Fires every armed timer whose due time has come (service mutex held). Returns the earliest due time left.
std::optional<clock::Ticks> FireDue(TimerService& service) {
    const clock::Ticks now = clock::Now();
    std::optional<clock::Ticks> earliest;
    std::vector<std::weak_ptr<TimerObject>> still;
    for (auto& weak : service.armed) {
        std::shared_ptr<TimerObject> timer = weak.lock();
        if (!timer || !timer->armed)
            continue;
        if (timer->due <= now) {
            const clock::Ticks when = now;
            if (timer->period > 0) {
                // A periodic timer that fell behind fires once and catches up with its schedule.
                const clock::Ticks step = static_cast<clock::Ticks>(timer->period) * clock::kTicksPerMs;
                while (timer->due <= now)
                    timer->due += step;
            } else {
                timer->armed = false;
            }
            ULONG_PTR id = 0;
            if (timer->routine) {
                PendingRoutines& pending = Pending();
                std::lock_guard lock(pending.mutex);
                id = pending.next++;
                pending.map[id] = PendingRoutine{timer->routine, timer->argument, when};
            }
            WaitLock lock;
            timer->m_signaled = true;
            timer->WakeWaiters();
            if (id) {
                ThreadState* thread = FindThreadState(timer->threadId);
                if (thread && !thread->ended) {
                    thread->apcs.emplace_back(&RunPendingRoutine, id);
                    thread->waiter.Wake();
                } else {
                    PendingRoutines& pending = Pending();
                    std::lock_guard plock(pending.mutex);
                    pending.map.erase(id);
                }
            }
        }
        if (timer->armed) {
            still.push_back(weak);
            if (!earliest || timer->due < *earliest)
                earliest = timer->due;
        }
    }
    service.armed.swap(still);
    return earliest;
}

void OnClockMoved(void*) {
    TimerService& service = Service();
    std::lock_guard lock(service.mutex);
    FireDue(service);
}

void ServiceThread() {
    TimerService& service = Service();
    std::unique_lock lock(service.mutex);
    for (;;) {
        const std::optional<clock::Ticks> earliest = FireDue(service);
        // On the host clock the thread sleeps until the earliest due time; it looks again now and then so that a
        // switch between the host and a manual clock, or a jump of the host clock, is noticed.
        long long waitMs = 200;
        if (earliest && !clock::IsManual()) {
            const clock::Ticks left = *earliest - clock::Now();
            waitMs = std::clamp<long long>(left / clock::kTicksPerMs + 1, 0, 200);
        }
        service.wake.wait_for(lock, std::chrono::milliseconds(waitMs));
    }
}

// Starts the service on first use (service mutex held).
void StartService(TimerService& service) {
    if (service.started)
        return;
    service.started = true;
    clock::AddClockListener(&OnClockMoved, nullptr);
    std::thread(&ServiceThread).detach();
}

void Disarm(TimerObject& timer) {
    TimerService& service = Service();
    std::lock_guard lock(service.mutex);
    timer.armed = false;
}

struct TimerNames {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<TimerObject>> map;
};

TimerNames& Names() {
    static auto* names = new TimerNames;
    return *names;
}

void TimerObject::OnLastHandleClosed() {
    Disarm(*this);
    if (Name().empty())
        return;
    TimerNames& names = Names();
    std::lock_guard lock(names.mutex);
    auto it = names.map.find(Name());
    if (it != names.map.end()) {
        auto current = it->second.lock();
        if (!current || current.get() == this)
            names.map.erase(it);
    }
}

} // namespace

} // namespace platform

HANDLE CreateWaitableTimerW(LPSECURITY_ATTRIBUTES, BOOL manualReset, LPCWSTR timerName) {
    using namespace platform;
    if (!timerName || !*timerName) {
        SetLastError(ERROR_SUCCESS);
        return InsertHandle(std::make_shared<TimerObject>(manualReset != FALSE));
    }
    std::u16string name(timerName);
    for (const std::u16string prefix : {u"Local\\", u"Global\\"}) {
        if (name.rfind(prefix, 0) == 0) {
            name = name.substr(prefix.size());
            break;
        }
    }
    TimerNames& names = Names();
    std::lock_guard lock(names.mutex);
    if (auto it = names.map.find(name); it != names.map.end()) {
        if (auto existing = it->second.lock()) {
            HANDLE h = InsertHandle(existing);
            SetLastError(ERROR_ALREADY_EXISTS);
            return h;
        }
    }
    auto timer = std::make_shared<TimerObject>(manualReset != FALSE);
    timer->SetName(name);
    names.map[name] = timer;
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(timer);
}

BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* dueTime, LONG period, PTIMERAPCROUTINE completionRoutine,
                      LPVOID argument, BOOL /*resume*/) {
    using namespace platform;
    std::shared_ptr<TimerObject> object = LookupHandleAs<TimerObject>(timer);
    if (!object)
        return FALSE;
    if (!dueTime || period < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const clock::Ticks due = dueTime->QuadPart >= 0 ? dueTime->QuadPart : clock::Now() - dueTime->QuadPart;
    TimerService& service = Service();
    {
        std::lock_guard lock(service.mutex);
        StartService(service);
        object->armed = true;
        object->due = due;
        object->period = period;
        object->routine = completionRoutine;
        object->argument = argument;
        object->threadId = GetCurrentThreadId();
        {
            WaitLock waitLock;
            object->m_signaled = false;
        }
        bool listed = false;
        for (const auto& weak : service.armed)
            listed = listed || weak.lock() == object;
        if (!listed)
            service.armed.push_back(object);
    }
    service.wake.notify_all();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelWaitableTimer(HANDLE timer) {
    using namespace platform;
    std::shared_ptr<TimerObject> object = LookupHandleAs<TimerObject>(timer);
    if (!object)
        return FALSE;
    Disarm(*object);
    return TRUE;
}
