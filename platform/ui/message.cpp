// Messages: per-thread queues, sending and posting across threads, message waits, the modal loop and the deadlock
// guard.

#include "platform/ui/message.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/ui/broker.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

namespace platform::ui {

namespace {

constexpr size_t kPostQuota = 10000;
constexpr uint64_t kHungMs = 5000;

// Ends the calling thread's queue when the thread ends: senders waiting on it are released with 0, its windows
// go away.
struct QueueOwner {
    QueuePtr queue;
    ~QueueOwner() {
        if (!queue)
            return;
        std::deque<SentMessagePtr> pending;
        {
            std::lock_guard lock(queue->mutex);
            queue->ended = true;
            pending.swap(queue->incoming);
            queue->posted.clear();
        }
        for (auto& sm : pending) {
            sm->result = 0;
            sm->replied = true;
            sm->done.store(true);
            if (sm->senderThread)
                WakeThread(sm->senderThread);
        }
        {
            State& s = GetState();
            std::lock_guard lock(s.queuesMutex);
            s.queues.erase(queue->threadId);
        }
        DestroyThreadWindows(queue->threadId);
    }
};

thread_local QueueOwner t_queue;

LRESULT CallProc(const WindowPtr& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc;
    {
        std::lock_guard lock(GetState().mutex);
        if (w->phase == Window::Phase::Gone)
            return 0;
        proc = w->proc;
    }
    return proc ? proc(w->hwnd, msg, wParam, lParam) : 0;
}

void RunCallbacks(const QueuePtr& q) {
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(q->mutex);
            if (q->callbacks.empty())
                return;
            f = std::move(q->callbacks.front());
            q->callbacks.pop_front();
        }
        f();
    }
}

void Reply(const SentMessagePtr& sm, LRESULT result) {
    if (sm->replied)
        return;
    sm->replied = true;
    sm->result = result;
    if (sm->callback && !sm->cancelled.load()) {
        if (QueuePtr sender = FindQueue(sm->senderThread)) {
            auto callback = sm->callback;
            const HWND hwnd = sm->hwnd;
            const UINT msg = sm->msg;
            const ULONG_PTR data = sm->callbackData;
            {
                std::lock_guard lock(sender->mutex);
                sender->callbacks.emplace_back([=] { callback(hwnd, msg, data, result); });
                sender->changeBits |= QS_POSTMESSAGE;
            }
            WakeQueue(sender);
        }
        sm->done.store(true);
        return;
    }
    sm->done.store(true);
    if (sm->senderThread && !sm->notify)
        WakeThread(sm->senderThread);
}

// Handles every message other threads have sent to this thread.
void ServeIncoming(const QueuePtr& q) {
    for (;;) {
        SentMessagePtr sm;
        {
            std::lock_guard lock(q->mutex);
            if (q->incoming.empty())
                break;
            sm = q->incoming.front();
            q->incoming.pop_front();
        }
        if (sm->cancelled.load())
            continue;
        WindowPtr w = FindLiveWindow(sm->hwnd);
        LRESULT result = 0;
        q->receiving.push_back(sm);
        struct Finish {
            const QueuePtr& q;
            const SentMessagePtr& sm;
            LRESULT& result;
            ~Finish() {
                q->receiving.pop_back();
                Reply(sm, result);
            }
        } finish{q, sm, result};
        if (sm->task)
            result = sm->task();
        else if (w)
            result = CallProc(w, sm->msg, sm->wParam, sm->lParam);
    }
    RunCallbacks(q);
}

bool InRange(UINT msg, UINT mn, UINT mx) {
    return (mn == 0 && mx == 0) || (msg >= mn && msg <= mx);
}

bool IsHung(const QueuePtr& q) {
    return !q->waitingForMessages.load() && NowMs() - q->lastRetrieveMs.load() > kHungMs;
}

// Whether anything deliverable under the filter is waiting (called under the wait lock).
bool InputAvailable(const QueuePtr& q, HWND hwnd, UINT mn, UINT mx) {
    if (q->timerKick.exchange(false))
        return true;
    std::lock_guard lock(q->mutex);
    if (!q->incoming.empty() || !q->callbacks.empty() || q->quit || q->paintHint)
        return true;
    for (const MSG& m : q->posted)
        if (MatchesWindowFilter(m.hwnd, hwnd) && InRange(m.message, mn, mx))
            return true;
    return false;
}

MSG Stamp(MSG m) {
    m.time = GetTickCount();
    GetCursorPos(&m.pt);
    return m;
}

// A key from the display goes to the window that has the thread's focus now, else to the window it was typed in.
void DeliverKeyToFocus(const QueuePtr& q, MSG& msg) {
    if (!InRange(msg.message, WM_KEYFIRST, WM_KEYLAST) || !(msg.lParam & kKeyToFocus))
        return;
    msg.lParam &= ~kKeyToFocus;
    HWND focus = nullptr;
    {
        std::lock_guard lock(GetState().mutex);
        if (q->focus && FindWindowLocked(q->focus))
            focus = q->focus;
    }
    if (!focus || focus == msg.hwnd)
        return;
    MoveKeyText(msg.hwnd, focus, msg.lParam);
    msg.hwnd = focus;
}

bool Fetch(const QueuePtr& q, MSG& out, HWND hwnd, UINT mn, UINT mx, UINT remove) {
    ServeIncoming(q);
    q->lastRetrieveMs.store(NowMs());
    bool posted = false;
    {
        std::lock_guard lock(q->mutex);
        q->changeBits = 0;
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
            if (MatchesWindowFilter(it->hwnd, hwnd) && InRange(it->message, mn, mx)) {
                out = *it;
                if (remove & PM_REMOVE)
                    q->posted.erase(it);
                posted = true;
                break;
            }
        }
        if (!posted && q->quit && q->posted.empty()) {
            out = Stamp(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, 0, {}});
            if (remove & PM_REMOVE)
                q->quit = false;
            q->lastMessage = out;
            return true;
        }
    }
    if (posted) {
        DeliverKeyToFocus(q, out);
        q->lastMessage = out;
        return true;
    }
    if (InRange(WM_PAINT, mn, mx)) {
        bool hint;
        {
            std::lock_guard lock(q->mutex);
            hint = q->paintHint;
            q->paintHint = false;
        }
        if (hint) {
            HWND target = nullptr;
            if (FindPaintWindow(q->threadId, nullptr, target)) {
                {
                    std::lock_guard lock(q->mutex);
                    q->paintHint = true;
                }
                if (FindPaintWindow(q->threadId, hwnd, target)) {
                    out = Stamp(MSG{target, WM_PAINT, 0, 0, 0, {}});
                    q->lastMessage = out;
                    return true;
                }
            }
        }
    }
    if (TakeDueTimer(q, hwnd, (remove & PM_REMOVE) != 0, mn, mx, out)) {
        out = Stamp(out);
        q->lastMessage = out;
        return true;
    }
    return false;
}

// Waits until input may be available, a timer falls due, or `milliseconds` pass.
void WaitForInput(const QueuePtr& q, DWORD milliseconds, HWND hwnd, UINT mn, UINT mx) {
    q->waitingForMessages.store(true);
    struct Reset {
        const QueuePtr& q;
        ~Reset() {
            q->waitingForMessages.store(false);
            q->lastRetrieveMs.store(NowMs());
        }
    } reset{q};
    DWORD wait = milliseconds;
    const uint64_t due = NextTimerDue(q);
    if (due != UINT64_MAX) {
        const uint64_t now = NowMs();
        const uint64_t until = due > now ? due - now : 0;
        if (wait == INFINITE || until < wait)
            wait = static_cast<DWORD>(std::min<uint64_t>(until, 0x7FFFFFFF));
    }
    WaitOptions options;
    // A due timer is also checked as an absolute time: the manual clock may move between reading it above and
    // the wait taking its own deadline.
    options.extraReady = [&] { return InputAvailable(q, hwnd, mn, mx) || (due != UINT64_MAX && NowMs() >= due); };
    WaitForObjects(0, nullptr, wait, options);
}

struct ModalState {
    HWND hwnd;
    bool ended = false;
    INT_PTR result = 0;
};
thread_local std::vector<ModalState*> t_modal;

std::atomic<DWORD>& DeadlockMs() {
    static std::atomic<DWORD> value = [] {
        const char* env = std::getenv("WINLAYER_DEADLOCK_TIMEOUT_MS");
        return env ? static_cast<DWORD>(std::strtoul(env, nullptr, 10)) : DWORD{0};
    }();
    return value;
}

class Watchdog {
public:
    static Watchdog& Get() {
        // Never destroyed: its thread runs until the process ends.
        static Watchdog* w = new Watchdog;
        return *w;
    }
    uint64_t Add(std::string what, DWORD ms) {
        std::lock_guard lock(m_mutex);
        const uint64_t id = ++m_next;
        m_entries[id] = Entry{std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), std::move(what),
                              GetCurrentThreadId()};
        if (!m_started) {
            m_started = true;
            std::thread([this] { Run(); }).detach();
        }
        m_cv.notify_all();
        return id;
    }
    void Remove(uint64_t id) {
        std::lock_guard lock(m_mutex);
        m_entries.erase(id);
    }

private:
    struct Entry {
        std::chrono::steady_clock::time_point deadline;
        std::string what;
        DWORD threadId;
    };
    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_entries.empty()) {
                m_cv.wait(lock);
                continue;
            }
            auto first = std::min_element(m_entries.begin(), m_entries.end(),
                                          [](auto& a, auto& b) { return a.second.deadline < b.second.deadline; });
            if (std::chrono::steady_clock::now() >= first->second.deadline) {
                std::fprintf(stderr,
                             "deadlock guard: thread %u has been blocked in %s for longer than %u ms; aborting\n",
                             static_cast<unsigned>(first->second.threadId), first->second.what.c_str(),
                             static_cast<unsigned>(DeadlockMs().load()));
                std::fflush(stderr);
                std::abort();
            }
            // Copied: the entry may be removed while this thread sleeps.
            const auto deadline = first->second.deadline;
            m_cv.wait_until(lock, deadline);
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<uint64_t, Entry> m_entries;
    uint64_t m_next = 0;
    bool m_started = false;
};

std::string Describe(const char* what, HWND hwnd, UINT msg, DWORD target) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%s(hwnd %#llx, message %#x) to thread %u", what,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), msg,
                  static_cast<unsigned>(target));
    return buffer;
}

LRESULT WaitForReply(const QueuePtr& self, const QueuePtr& target, const SentMessagePtr& sm, UINT flags, DWORD timeout,
                     bool& ok) {
    DeadlockGuard guard(Describe("SendMessage", sm->hwnd, sm->msg, target ? target->threadId : 0));
    const uint64_t start = NowMs();
    const bool block = (flags & SMTO_BLOCK) != 0;
    for (;;) {
        if (!block)
            ServeIncoming(self);
        if (sm->done.load()) {
            ok = true;
            return sm->result;
        }
        DWORD wait = INFINITE;
        uint64_t deadline = UINT64_MAX;
        if (timeout != INFINITE) {
            const uint64_t now = NowMs();
            const uint64_t elapsed = now - start;
            if (elapsed >= timeout) {
                if ((flags & SMTO_NOTIMEOUTIFNOTHUNG) && target && !IsHung(target)) {
                    // The receiver is alive: wait on, looking again when it could have become hung.
                    wait = static_cast<DWORD>(kHungMs);
                    deadline = now + kHungMs;
                } else {
                    sm->cancelled.store(true);
                    if (target) {
                        std::lock_guard lock(target->mutex);
                        auto& in = target->incoming;
                        in.erase(std::remove(in.begin(), in.end(), sm), in.end());
                    }
                    if (sm->done.load()) {
                        ok = true;
                        return sm->result;
                    }
                    ok = false;
                    SetLastError(ERROR_TIMEOUT);
                    return 0;
                }
            } else {
                wait = static_cast<DWORD>(timeout - elapsed);
                deadline = start + timeout;
            }
        }
        WaitOptions options;
        options.extraReady = [&] {
            if (sm->done.load() || NowMs() >= deadline)
                return true;
            if (block)
                return false;
            std::lock_guard lock(self->mutex);
            return !self->incoming.empty() || !self->callbacks.empty();
        };
        WaitForObjects(0, nullptr, wait, options);
    }
}

} // namespace

DeadlockGuard::DeadlockGuard(std::string what) {
    const DWORD ms = DeadlockMs().load();
    if (ms)
        m_id = Watchdog::Get().Add(std::move(what), ms);
}

DeadlockGuard::~DeadlockGuard() {
    if (m_id)
        Watchdog::Get().Remove(m_id);
}

void ServeSentMessages(const QueuePtr& queue) {
    ServeIncoming(queue);
}

void SetDeadlockTimeout(DWORD realMilliseconds) {
    DeadlockMs().store(realMilliseconds);
}

DWORD DeadlockTimeout() {
    return DeadlockMs().load();
}

QueuePtr CurrentQueue() {
    if (!t_queue.queue) {
        auto q = std::make_shared<Queue>(GetCurrentThreadId());
        q->lastRetrieveMs.store(NowMs());
        {
            State& s = GetState();
            std::lock_guard lock(s.queuesMutex);
            s.queues[q->threadId] = q;
        }
        t_queue.queue = q;
        EnsureClockListener();
    }
    return t_queue.queue;
}

QueuePtr FindQueue(DWORD threadId) {
    State& s = GetState();
    std::lock_guard lock(s.queuesMutex);
    auto it = s.queues.find(threadId);
    return it == s.queues.end() ? nullptr : it->second;
}

void WakeQueue(const QueuePtr& queue) {
    if (queue)
        WakeThread(queue->threadId);
}

bool PostToQueue(const QueuePtr& queue, const MSG& msg, bool next) {
    {
        std::lock_guard lock(queue->mutex);
        if (queue->ended) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return false;
        }
        if (queue->posted.size() >= kPostQuota) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return false;
        }
        if (next)
            queue->posted.push_front(Stamp(msg));
        else
            queue->posted.push_back(Stamp(msg));
        queue->changeBits |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    }
    WakeQueue(queue);
    return true;
}

bool PostThreadTask(DWORD threadId, std::function<void()> task) {
    QueuePtr q = FindQueue(threadId);
    if (!q)
        return false;
    {
        std::lock_guard lock(q->mutex);
        if (q->ended)
            return false;
        q->callbacks.push_back(std::move(task));
        q->changeBits |= QS_POSTMESSAGE;
    }
    WakeQueue(q);
    return true;
}

namespace {

// Hands a sent message to the thread that owns its window and wakes that thread; false (and
// ERROR_INVALID_WINDOW_HANDLE) when the thread has ended.
bool DeliverSent(const QueuePtr& target, const std::shared_ptr<SentMessage>& sm) {
    {
        std::lock_guard lock(target->mutex);
        if (target->ended) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        target->incoming.push_back(sm);
        target->changeBits |= QS_SENDMESSAGE;
    }
    WakeQueue(target);
    return true;
}

} // namespace

void ForgetWindowMessages(HWND hwnd, DWORD threadId) {
    QueuePtr q = FindQueue(threadId);
    if (!q)
        return;
    std::lock_guard lock(q->mutex);
    q->posted.erase(std::remove_if(q->posted.begin(), q->posted.end(), [&](const MSG& m) { return m.hwnd == hwnd; }),
                    q->posted.end());
}

bool MatchesWindowFilter(HWND msgHwnd, HWND filter) {
    if (!filter)
        return true;
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))
        return msgHwnd == nullptr;
    return msgHwnd == filter || IsChild(filter, msgHwnd);
}

bool FindPaintWindow(DWORD threadId, HWND filter, HWND& out) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    for (auto& [key, w] : s.windows) {
        if (w->threadId != threadId || !w->needsPaint || w->phase == Window::Phase::Gone)
            continue;
        bool visible = true;
        for (auto v = w; v; v = v->parent ? FindWindowLocked(v->parent) : nullptr) {
            if (!(v->style & WS_VISIBLE)) {
                visible = false;
                break;
            }
        }
        if (!visible)
            continue;
        if (filter) {
            bool match = w->hwnd == filter;
            for (auto v = w; !match && v && v->parent; v = FindWindowLocked(v->parent))
                match = v->parent == filter;
            if (!match)
                continue;
        }
        out = w->hwnd;
        return true;
    }
    return false;
}

namespace {

LRESULT SendToThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, DWORD timeout, bool& ok,
                     std::function<LRESULT()> task) {
    ok = false;
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    QueuePtr self = CurrentQueue();
    if (w->threadId == self->threadId) {
        ok = true;
        return task ? task() : CallProc(w, msg, wParam, lParam);
    }
    QueuePtr target = FindQueue(w->threadId);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if ((flags & SMTO_ABORTIFHUNG) && IsHung(target)) {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd;
    sm->msg = msg;
    sm->wParam = wParam;
    sm->lParam = lParam;
    sm->senderThread = self->threadId;
    sm->task = std::move(task);
    if (!DeliverSent(target, sm))
        return 0;
    return WaitForReply(self, target, sm, flags, timeout, ok);
}

} // namespace

LRESULT SendLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, DWORD timeout, bool& ok) {
    return SendToThread(hwnd, msg, wParam, lParam, flags, timeout, ok, nullptr);
}

LRESULT RunOnWindowThread(HWND hwnd, std::function<LRESULT()> task, bool& ok) {
    return SendToThread(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, INFINITE, ok, std::move(task));
}

} // namespace platform::ui

using namespace platform;
using namespace platform::ui;

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (hwnd && hwnd != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) && !ValidWindow(hwnd))
        return -1;
    QueuePtr q = CurrentQueue();
    for (;;) {
        if (Fetch(q, *msg, hwnd, msgFilterMin, msgFilterMax, PM_REMOVE))
            return msg->message == WM_QUIT ? FALSE : TRUE;
        DeadlockGuard guard("GetMessageW");
        WaitForInput(q, INFINITE, hwnd, msgFilterMin, msgFilterMax);
    }
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax, UINT removeMsg) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    QueuePtr q = CurrentQueue();
    return Fetch(q, *msg, hwnd, msgFilterMin, msgFilterMax, removeMsg) ? TRUE : FALSE;
}

BOOL WaitMessage() {
    QueuePtr q = CurrentQueue();
    ServeIncoming(q);
    if (InputAvailable(q, nullptr, 0, 0))
        return TRUE;
    DeadlockGuard guard("WaitMessage");
    WaitForInput(q, INFINITE, nullptr, 0, 0);
    return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
    if (!msg)
        return FALSE;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN && msg->message != WM_KEYUP &&
        msg->message != WM_SYSKEYUP)
        return FALSE;
    if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
        const UINT charMessage = msg->message == WM_KEYDOWN ? UINT(WM_CHAR) : UINT(WM_SYSCHAR);
        // A key of the display's keyboard types what its layout typed; later characters go behind earlier ones.
        std::u16string typed;
        if (FindKeyText(msg->hwnd, msg->lParam, typed)) {
            for (auto it = typed.rbegin(); it != typed.rend(); ++it)
                PostToQueue(CurrentQueue(), MSG{msg->hwnd, charMessage, *it, msg->lParam, 0, {}}, true);
            return TRUE;
        }
        const WPARAM vk = msg->wParam;
        WCHAR ch = 0;
        if (vk == static_cast<WPARAM>(VK_RETURN))
            ch = u'\r';
        else if (vk == static_cast<WPARAM>(VK_ESCAPE))
            ch = 0x1B;
        else if (vk == static_cast<WPARAM>(VK_BACK))
            ch = 0x08;
        else if (vk == static_cast<WPARAM>(VK_TAB))
            ch = u'\t';
        else if (vk == static_cast<WPARAM>(VK_SPACE))
            ch = u' ';
        else if (vk >= '0' && vk <= '9')
            ch = static_cast<WCHAR>(vk);
        else if (vk >= 'A' && vk <= 'Z')
            ch = static_cast<WCHAR>(vk - 'A' + 'a');
        if (ch)
            PostToQueue(CurrentQueue(), MSG{msg->hwnd, charMessage, ch, msg->lParam, 0, {}}, true);
    }
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam) {
        // The timer procedure runs only while its timer still exists.
        QueuePtr q = CurrentQueue();
        bool exists = false;
        {
            std::lock_guard lock(GetState().mutex);
            for (const auto& t : q->timers)
                if (t.hwnd == msg->hwnd && t.id == msg->wParam && reinterpret_cast<LPARAM>(t.proc) == msg->lParam)
                    exists = true;
        }
        if (exists)
            reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd)
        return 0;
    WindowPtr w = ValidWindow(msg->hwnd);
    if (!w)
        return 0;
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    return CallProc(w, msg->message, msg->wParam, msg->lParam);
}

DWORD GetMessagePos() {
    QueuePtr q = CurrentQueue();
    return static_cast<DWORD>(MAKELONG(static_cast<WORD>(q->lastMessage.pt.x), static_cast<WORD>(q->lastMessage.pt.y)));
}

LONG GetMessageTime() {
    return static_cast<LONG>(CurrentQueue()->lastMessage.time);
}

namespace {

// What HWND_BROADCAST reaches: every top-level window of the session, this process's and the other programs'.
std::vector<HWND> BroadcastTargets() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND h, LPARAM p) {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

} // namespace

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!hwnd)
        return PostThreadMessageW(GetCurrentThreadId(), msg, wParam, lParam);
    if (hwnd == HWND_BROADCAST) {
        for (HWND h : BroadcastTargets())
            PostMessageW(h, msg, wParam, lParam);
        return TRUE;
    }
    if (IsRemoteWindow(hwnd))
        return broker::RemotePost(hwnd, msg, wParam, lParam) ? TRUE : FALSE;
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    QueuePtr q = FindQueue(w->threadId);
    if (!q) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return PostToQueue(q, MSG{hwnd, msg, wParam, lParam, 0, {}}) ? TRUE : FALSE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    QueuePtr q = threadId == GetCurrentThreadId() ? CurrentQueue() : FindQueue(threadId);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return PostToQueue(q, MSG{nullptr, msg, wParam, lParam, 0, {}}) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(q->mutex);
    q->quit = true;
    q->quitCode = exitCode;
    q->changeBits |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
}

LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                            PDWORD_PTR result) {
    if (hwnd == HWND_BROADCAST) {
        for (HWND h : BroadcastTargets())
            SendMessageTimeoutW(h, msg, wParam, lParam, flags, timeout, nullptr);
        if (result)
            *result = 0;
        return TRUE;
    }
    LRESULT r = 0;
    bool ok = false;
    if (IsRemoteWindow(hwnd))
        ok = broker::RemoteSend(hwnd, msg, wParam, lParam, flags, timeout, r);
    else
        r = SendLocal(hwnd, msg, wParam, lParam, flags, timeout, ok);
    if (result)
        *result = ok ? static_cast<DWORD_PTR>(r) : 0;
    return ok ? TRUE : FALSE;
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == HWND_BROADCAST) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_NORMAL, INFINITE, &ignored);
        return 0;
    }
    LRESULT r = 0;
    bool ok = false;
    if (IsRemoteWindow(hwnd)) {
        broker::RemoteSend(hwnd, msg, wParam, lParam, SMTO_NORMAL, INFINITE, r);
        return r;
    }
    return SendLocal(hwnd, msg, wParam, lParam, SMTO_NORMAL, INFINITE, ok);
}

BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (IsRemoteWindow(hwnd) || hwnd == HWND_BROADCAST)
        return PostMessageW(hwnd, msg, wParam, lParam);
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    if (w->threadId == GetCurrentThreadId()) {
        CallProc(w, msg, wParam, lParam);
        return TRUE;
    }
    QueuePtr target = FindQueue(w->threadId);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd;
    sm->msg = msg;
    sm->wParam = wParam;
    sm->lParam = lParam;
    sm->notify = true;
    if (!DeliverSent(target, sm))
        return FALSE;
    return TRUE;
}

BOOL SendMessageCallbackW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, SENDASYNCPROC callback, ULONG_PTR data) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    QueuePtr self = CurrentQueue();
    if (w->threadId == self->threadId) {
        const LRESULT r = CallProc(w, msg, wParam, lParam);
        if (callback)
            callback(hwnd, msg, data, r);
        return TRUE;
    }
    QueuePtr target = FindQueue(w->threadId);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd;
    sm->msg = msg;
    sm->wParam = wParam;
    sm->lParam = lParam;
    sm->senderThread = self->threadId;
    sm->notify = callback == nullptr;
    sm->callback = callback;
    sm->callbackData = data;
    if (!DeliverSent(target, sm))
        return FALSE;
    return TRUE;
}

BOOL InSendMessage() {
    QueuePtr q = CurrentQueue();
    return q->receiving.empty() ? FALSE : TRUE;
}

DWORD InSendMessageEx(LPVOID) {
    QueuePtr q = CurrentQueue();
    if (q->receiving.empty())
        return ISMEX_NOSEND;
    const auto& sm = q->receiving.back();
    DWORD r = sm->notify ? ISMEX_NOTIFY : (sm->callback ? ISMEX_CALLBACK : ISMEX_SEND);
    if (sm->replied)
        r |= ISMEX_REPLIED;
    return r;
}

BOOL ReplyMessage(LRESULT result) {
    QueuePtr q = CurrentQueue();
    if (q->receiving.empty())
        return FALSE;
    const auto& sm = q->receiving.back();
    if (sm->replied || sm->notify)
        return FALSE;
    Reply(sm, result);
    return TRUE;
}

DWORD GetQueueStatus(UINT flags) {
    QueuePtr q = CurrentQueue();
    UINT current = 0;
    {
        std::lock_guard lock(q->mutex);
        if (!q->posted.empty() || q->quit)
            current |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
        if (!q->incoming.empty())
            current |= QS_SENDMESSAGE;
    }
    HWND ignored;
    if (FindPaintWindow(q->threadId, nullptr, ignored))
        current |= QS_PAINT;
    if (NextTimerDue(q) <= NowMs())
        current |= QS_TIMER;
    UINT changed;
    {
        std::lock_guard lock(q->mutex);
        changed = q->changeBits & flags;
        q->changeBits &= ~flags;
    }
    return static_cast<DWORD>(MAKELONG(static_cast<WORD>(changed), static_cast<WORD>(current & flags)));
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags) {
    QueuePtr q = CurrentQueue();
    const uint64_t start = NowMs();
    auto ready = [&] {
        UINT bits = 0;
        {
            std::lock_guard lock(q->mutex);
            bits = q->changeBits;
            if (flags & MWMO_INPUTAVAILABLE) {
                if (!q->posted.empty() || q->quit)
                    bits |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
                if (!q->incoming.empty())
                    bits |= QS_SENDMESSAGE;
                if (q->paintHint)
                    bits |= QS_PAINT;
            }
            if (!q->incoming.empty())
                bits |= QS_SENDMESSAGE;
        }
        if ((wakeMask & QS_TIMER) && NextTimerDue(q) <= NowMs())
            bits |= QS_TIMER;
        return (bits & wakeMask) != 0;
    };
    std::optional<DeadlockGuard> guard;
    if (milliseconds == INFINITE)
        guard.emplace("MsgWaitForMultipleObjects");
    for (;;) {
        DWORD wait = milliseconds;
        if (milliseconds != INFINITE) {
            const uint64_t elapsed = NowMs() - start;
            wait = elapsed >= milliseconds ? 0 : static_cast<DWORD>(milliseconds - elapsed);
        }
        bool timerCut = false;
        if (wakeMask & QS_TIMER) {
            const uint64_t due = NextTimerDue(q);
            if (due != UINT64_MAX) {
                const uint64_t now = NowMs();
                const uint64_t until = due > now ? due - now : 0;
                if (wait == INFINITE || until < wait) {
                    wait = static_cast<DWORD>(std::min<uint64_t>(until, 0x7FFFFFFF));
                    timerCut = true;
                }
            }
        }
        WaitOptions options;
        options.waitAll = (flags & MWMO_WAITALL) != 0;
        options.alertable = (flags & MWMO_ALERTABLE) != 0;
        options.extraReady = ready;
        const DWORD r = WaitForObjects(count, handles, wait, options);
        if (r == WAIT_TIMEOUT && timerCut)
            continue;
        return r;
    }
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask) {
    return MsgWaitForMultipleObjectsEx(count, handles, milliseconds, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

namespace platform::ui {

INT_PTR RunModalLoop(HWND hwnd, const ModalLoopOptions& options) {
    WindowPtr window = ValidWindow(hwnd);
    if (!window)
        return -1;
    if (window->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
        return -1;
    }
    ModalState state{hwnd};
    t_modal.push_back(&state);
    struct Pop {
        ModalState* s;
        ~Pop() { t_modal.erase(std::find(t_modal.begin(), t_modal.end(), s)); }
    } pop{&state};

    HWND owner = options.disableOwner;
    const bool reenable = owner && IsWindowEnabled(owner);
    if (reenable)
        EnableWindow(owner, FALSE);
    struct Reenable {
        HWND owner;
        bool on;
        ~Reenable() {
            if (on && IsWindow(owner))
                EnableWindow(owner, TRUE);
        }
    } reenableGuard{owner, reenable};

    HWND notify = options.idleNotify ? options.idleNotify : GetWindow(hwnd, GW_OWNER);
    if (!notify)
        notify = GetParent(hwnd);
    bool idle = true;
    LONG idleCount = 0;
    bool showPending = (options.flags & MLF_SHOWONIDLE) && !(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE);
    MSG msg{};
    auto finished = [&] { return state.ended || !IsWindow(hwnd); };
    for (;;) {
        while (idle && !finished() && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (showPending) {
                ShowWindow(hwnd, SW_SHOWNORMAL);
                UpdateWindow(hwnd);
                showPending = false;
            }
            if (!(options.flags & MLF_NOIDLEMSG) && notify)
                SendMessageW(notify, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(hwnd));
            if ((options.flags & MLF_NOKICKIDLE) || !options.onIdle || !options.onIdle(idleCount++))
                idle = false;
        }
        if (finished())
            break;
        do {
            if (!GetMessageW(&msg, nullptr, 0, 0)) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return -1;
            }
            if (!options.preTranslate || !options.preTranslate(msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (finished())
                break;
            if (msg.message != WM_PAINT && msg.message != 0x0118 /* WM_SYSTIMER */) {
                idle = true;
                idleCount = 0;
            }
        } while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
        if (finished())
            break;
    }
    return state.ended ? state.result : -1;
}

BOOL EndModalLoop(HWND hwnd, INT_PTR result) {
    for (auto it = t_modal.rbegin(); it != t_modal.rend(); ++it) {
        if ((*it)->hwnd == hwnd && !(*it)->ended) {
            (*it)->ended = true;
            (*it)->result = result;
            // Wakes the loop should it be waiting (for example when ended from a timer procedure).
            PostMessageW(hwnd, WM_NULL, 0, 0);
            return TRUE;
        }
    }
    return FALSE;
}

bool IsInModalLoop(HWND hwnd) {
    for (auto* s : t_modal)
        if (s->hwnd == hwnd && !s->ended)
            return true;
    return false;
}

} // namespace platform::ui
