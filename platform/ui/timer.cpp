// Window timers and the multimedia timer, on the layer clock.

#include "platform/ui/timer.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <thread>

namespace platform::ui {

namespace {

constexpr UINT kMinimumElapse = 10;
constexpr UINT kMaximumElapse = 0x7FFFFFFF;

UINT_PTR& NextThreadTimerId() {
    static UINT_PTR id = 0x1000;
    return id;
}

void OnClockMoved(void*) {
    std::vector<QueuePtr> queues;
    {
        State& s = GetState();
        std::lock_guard lock(s.queuesMutex);
        for (auto& [tid, q] : s.queues)
            queues.push_back(q);
    }
    for (auto& q : queues) {
        bool hasTimers;
        {
            std::lock_guard lock(GetState().mutex);
            hasTimers = !q->timers.empty();
        }
        if (hasTimers) {
            q->timerKick.store(true);
            WakeQueue(q);
        }
    }
}

} // namespace

void EnsureClockListener() {
    static const int id = clock::AddClockListener(&OnClockMoved, nullptr);
    (void)id;
}

uint64_t NextTimerDue(const QueuePtr& queue) {
    std::lock_guard lock(GetState().mutex);
    uint64_t next = UINT64_MAX;
    for (const auto& t : queue->timers)
        next = std::min(next, t.due);
    return next;
}

bool TakeDueTimer(const QueuePtr& queue, HWND filter, bool remove, UINT minMsg, UINT maxMsg, MSG& out) {
    auto wanted = [&](UINT message) {
        return (minMsg == 0 && maxMsg == 0) || (message >= minMsg && message <= maxMsg);
    };
    std::vector<TimerEntry> due;
    const uint64_t now = NowMs();
    {
        std::lock_guard lock(GetState().mutex);
        for (const auto& t : queue->timers)
            if (t.due <= now)
                due.push_back(t);
    }
    std::sort(due.begin(), due.end(), [](const TimerEntry& a, const TimerEntry& b) { return a.due < b.due; });
    for (const auto& candidate : due) {
        if (!MatchesWindowFilter(candidate.hwnd, filter) || !wanted(candidate.system ? candidate.message : WM_TIMER))
            continue;
        if (candidate.system) {
            // The layer's own timers fire once, as the message they stand for.
            {
                std::lock_guard lock(GetState().mutex);
                auto it = std::find_if(queue->timers.begin(), queue->timers.end(), [&](const TimerEntry& t) {
                    return t.system && t.hwnd == candidate.hwnd && t.id == candidate.id && t.due <= now;
                });
                if (it == queue->timers.end())
                    continue;
                if (remove)
                    queue->timers.erase(it);
            }
            out = MSG{candidate.hwnd, candidate.message, 0, 0, 0, {}};
            if (candidate.make && !candidate.make(out))
                continue;
            return true;
        }
        std::lock_guard lock(GetState().mutex);
        for (auto& t : queue->timers) {
            if (t.system || t.hwnd != candidate.hwnd || t.id != candidate.id || t.due > now)
                continue;
            // Periods missed while nobody asked for messages collapse into this one WM_TIMER.
            if (remove)
                t.due = now + t.elapse;
            out = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), 0, {}};
            return true;
        }
    }
    return false;
}

void SetSystemTimer(HWND hwnd, UINT_PTR id, UINT elapse, UINT message, std::function<bool(MSG&)> make) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    QueuePtr q = FindQueue(w->threadId);
    if (!q)
        return;
    EnsureClockListener();
    {
        std::lock_guard lock(GetState().mutex);
        q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(),
                                       [&](const TimerEntry& t) { return t.system && t.hwnd == hwnd && t.id == id; }),
                        q->timers.end());
        if (elapse) {
            TimerEntry entry;
            entry.hwnd = hwnd;
            entry.id = id;
            entry.elapse = elapse;
            entry.due = NowMs() + elapse;
            entry.system = true;
            entry.message = message;
            entry.make = std::move(make);
            q->timers.push_back(std::move(entry));
        }
    }
    q->timerKick.store(true);
    WakeQueue(q);
}

void ForgetWindowTimers(HWND hwnd, DWORD threadId) {
    QueuePtr q = FindQueue(threadId);
    if (!q)
        return;
    std::lock_guard lock(GetState().mutex);
    q->timers.erase(
        std::remove_if(q->timers.begin(), q->timers.end(), [&](const TimerEntry& t) { return t.hwnd == hwnd; }),
        q->timers.end());
}

namespace {

struct MmTimer {
    UINT delay = 0;
    LPTIMECALLBACK callback = nullptr;
    DWORD_PTR user = 0;
    UINT flags = 0;
    uint64_t due = 0;
};

// The multimedia timers of the process and the one thread that fires them.
class MmTimers {
public:
    static MmTimers& Get() {
        // Never destroyed: its thread runs until the process ends.
        static MmTimers* timers = new MmTimers;
        return *timers;
    }

    MMRESULT Add(UINT delay, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
        DWORD threadId;
        UINT id;
        {
            std::unique_lock lock(m_mutex);
            if (!m_started) {
                m_started = true;
                std::thread worker([this] { Run(); });
                m_thread = worker.get_id();
                worker.detach();
                m_ready.wait(lock, [&] { return m_threadId != 0; });
            }
            id = m_nextId++;
            if (m_nextId == 0)
                m_nextId = 1;
            m_timers[id] = MmTimer{delay, callback, user, flags, NowMs() + delay};
            threadId = m_threadId;
        }
        Kick(threadId);
        return id;
    }

    MMRESULT Kill(UINT id) {
        std::unique_lock lock(m_mutex);
        const bool existed = m_timers.erase(id) > 0;
        if (m_running == id && std::this_thread::get_id() != m_thread)
            m_done.wait(lock, [&] { return m_running != id; });
        return existed ? TIMERR_NOERROR : MMSYSERR_INVALPARAM;
    }

private:
    void Kick(DWORD threadId) {
        m_changed.store(true);
        WakeThread(threadId);
    }

    void Run() {
        {
            std::lock_guard lock(m_mutex);
            m_threadId = GetCurrentThreadId();
        }
        m_ready.notify_all();
        for (;;) {
            uint64_t next = UINT64_MAX;
            {
                std::lock_guard lock(m_mutex);
                for (const auto& [id, t] : m_timers)
                    next = std::min(next, t.due);
            }
            const uint64_t now = NowMs();
            if (next > now) {
                const DWORD wait =
                    next == UINT64_MAX ? INFINITE : static_cast<DWORD>(std::min<uint64_t>(next - now, 0x7FFFFFFF));
                WaitOptions options;
                // The due time is checked as an absolute time too: the manual clock may move between reading
                // it above and the wait taking its own deadline.
                options.extraReady = [&] { return m_changed.exchange(false) || NowMs() >= next; };
                WaitForObjects(0, nullptr, wait, options);
                continue;
            }
            FireOne();
        }
    }

    void FireOne() {
        MmTimer timer;
        UINT id = 0;
        {
            std::lock_guard lock(m_mutex);
            const uint64_t now = NowMs();
            for (auto& [tid, t] : m_timers) {
                if (t.due <= now && (id == 0 || t.due < m_timers[id].due))
                    id = tid;
            }
            if (id == 0)
                return;
            timer = m_timers[id];
            if (timer.flags & TIME_PERIODIC) {
                auto& t = m_timers[id];
                t.due += t.delay;
                if (t.due <= now)
                    t.due = now + t.delay;
            } else {
                m_timers.erase(id);
            }
            m_running = id;
        }
        if (timer.flags & TIME_CALLBACK_EVENT_SET)
            SetEvent(reinterpret_cast<HANDLE>(timer.callback));
        else if (timer.flags & TIME_CALLBACK_EVENT_PULSE)
            PulseEvent(reinterpret_cast<HANDLE>(timer.callback));
        else
            timer.callback(id, 0, timer.user, 0, 0);
        {
            std::lock_guard lock(m_mutex);
            m_running = 0;
        }
        m_done.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_done;
    std::condition_variable m_ready;
    std::map<UINT, MmTimer> m_timers;
    UINT m_nextId = 1;
    UINT m_running = 0;
    bool m_started = false;
    DWORD m_threadId = 0;
    std::thread::id m_thread;
    std::atomic<bool> m_changed{false};
};

} // namespace

} // namespace platform::ui

using namespace platform;
using namespace platform::ui;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse, TIMERPROC timerProc) {
    QueuePtr q;
    if (hwnd) {
        if (IsRemoteWindow(hwnd)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return 0;
        if (w->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    q = CurrentQueue();
    elapse = std::clamp(elapse, kMinimumElapse, kMaximumElapse);
    const uint64_t due = NowMs() + elapse;
    std::lock_guard lock(GetState().mutex);
    if (!hwnd) {
        // A thread timer keeps its id when it is set again; otherwise the layer chooses one.
        for (auto& t : q->timers) {
            if (!t.system && !t.hwnd && idEvent && t.id == idEvent) {
                t.elapse = elapse;
                t.proc = timerProc;
                t.due = due;
                return t.id;
            }
        }
        const UINT_PTR id = NextThreadTimerId()++;
        q->timers.push_back(TimerEntry{nullptr, id, elapse, timerProc, due, false, 0, nullptr});
        return id;
    }
    for (auto& t : q->timers) {
        if (!t.system && t.hwnd == hwnd && t.id == idEvent) {
            t.elapse = elapse;
            t.proc = timerProc;
            t.due = due;
            return idEvent ? idEvent : 1;
        }
    }
    q->timers.push_back(TimerEntry{hwnd, idEvent, elapse, timerProc, due, false, 0, nullptr});
    return idEvent ? idEvent : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR idEvent) {
    QueuePtr q;
    if (hwnd) {
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return FALSE;
        q = FindQueue(w->threadId);
    } else {
        q = CurrentQueue();
    }
    if (!q) {
        SetLastError(ERROR_TIMER_NOT_FOUND);
        return FALSE;
    }
    {
        std::lock_guard lock(GetState().mutex);
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const TimerEntry& t) { return !t.system && t.hwnd == hwnd && t.id == idEvent; });
        if (it == q->timers.end()) {
            SetLastError(ERROR_TIMER_NOT_FOUND);
            return FALSE;
        }
        q->timers.erase(it);
    }
    // A WM_TIMER of this timer already taken into the posted list does not exist (timers are produced on demand),
    // so nothing else remains to remove.
    return TRUE;
}

MMRESULT timeSetEvent(UINT delay, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT event) {
    if (delay == 0 || delay > 1000000 || !callback)
        return 0;
    return MmTimers::Get().Add(delay, callback, user, event);
}

MMRESULT timeKillEvent(UINT timerId) {
    return MmTimers::Get().Kill(timerId);
}

MMRESULT timeBeginPeriod(UINT period) {
    return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
    return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR;
}
