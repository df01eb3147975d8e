// Activation, the foreground window, keyboard focus, mouse capture and flashing.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/ui/broker.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window_internal.h"

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

// Activation on the window's own thread. Sends the deactivation to the previous active window of that thread.
void Activate(HWND hwnd, bool bringToTop) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    State& s = GetState();
    HWND previous = nullptr;
    QueuePtr q = FindQueue(w->threadId);
    if (!q)
        return;
    {
        std::lock_guard lock(s.mutex);
        previous = q->active;
        if (previous == hwnd) {
            if (bringToTop && !w->messageOnly)
                ReorderLocked(s, *w, HWND_TOP);
            return;
        }
    }
    if (CallHooks(WH_CBT, HCBT_ACTIVATE, reinterpret_cast<WPARAM>(hwnd), 0) != 0)
        return;
    if (previous && FindLiveWindow(previous)) {
        Send(previous, WM_NCACTIVATE, FALSE, 0);
        Send(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(previous) ? 1 : 0),
             reinterpret_cast<LPARAM>(hwnd));
    }
    bool iconic = false;
    {
        std::lock_guard lock(s.mutex);
        if (w->phase != Window::Phase::Alive && w->phase != Window::Phase::Creating)
            return;
        q->active = hwnd;
        iconic = (w->style & WS_MINIMIZE) != 0;
        if (bringToTop && !w->messageOnly)
            ReorderLocked(s, *w, HWND_TOP);
        // The owner remembers its most recently active popup.
        HWND owner = w->owner;
        while (owner) {
            auto o = FindWindowLocked(owner);
            if (!o)
                break;
            o->lastActivePopup = hwnd;
            owner = o->owner;
        }
    }
    // While this process holds the session's foreground (or nobody does), its newly active window is the
    // foreground window, as for the foreground thread on Windows.
    if (!w->messageOnly) {
        const HWND foreground = broker::SessionForeground();
        if (!foreground || !IsWindow(foreground) || !IsRemoteWindow(foreground))
            broker::SetSessionForeground(hwnd);
    }
    Send(hwnd, WM_NCACTIVATE, TRUE, 0);
    Send(hwnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, iconic ? 1 : 0), reinterpret_cast<LPARAM>(previous));
    Publish(w);
}

// After the active window went away or was hidden, the thread activates its owner or its next visible window.
void ActivateAnother(const WindowPtr& gone) {
    State& s = GetState();
    QueuePtr q = FindQueue(gone->threadId);
    if (!q)
        return;
    HWND next = nullptr;
    {
        std::lock_guard lock(s.mutex);
        if (q->active != gone->hwnd)
            return;
        q->active = nullptr;
        if (q->focus) {
            HWND f = q->focus;
            while (f && f != gone->hwnd) {
                auto fw = FindWindowLocked(f);
                f = fw ? fw->parent : nullptr;
            }
            if (f == gone->hwnd)
                q->focus = nullptr;
        }
        auto usable = [&](HWND h) {
            auto c = FindWindowLocked(h);
            return c && c->hwnd != gone->hwnd && c->phase == Window::Phase::Alive && c->threadId == gone->threadId &&
                   (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED) && !(c->style & WS_MINIMIZE);
        };
        if (gone->owner && usable(gone->owner))
            next = gone->owner;
        for (size_t i = 0; !next && i < s.topLevel.size(); ++i)
            if (usable(s.topLevel[i]))
                next = s.topLevel[i];
    }
    if (FindLiveWindow(gone->hwnd)) {
        Send(gone->hwnd, WM_NCACTIVATE, FALSE, 0);
        Send(gone->hwnd, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(next));
    }
    if (next)
        Activate(next, false);
    broker::ForegroundGone(gone->hwnd, next);
}

} // namespace platform::ui

BOOL FlashWindow(HWND hwnd, BOOL) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Nothing to flash on a headless screen; the answer is whether the window is active.
    return GetActiveWindow() == hwnd ? TRUE : FALSE;
}

BOOL FlashWindowEx(PFLASHWINFO info) {
    if (!info || info->cbSize != sizeof(FLASHWINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return FlashWindow(info->hwnd, TRUE);
}

HWND SetFocus(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    State& s = GetState();
    HWND old;
    {
        std::lock_guard lock(s.mutex);
        old = q->focus;
    }
    if (hwnd) {
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return nullptr;
        if (w->threadId != q->threadId) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (old == hwnd)
            return old;
        if (CallHooks(WH_CBT, HCBT_SETFOCUS, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(old)) != 0)
            return nullptr;
        HWND root;
        {
            std::lock_guard lock(s.mutex);
            root = RootLocked(hwnd);
        }
        if (root && GetActiveWindow() != root && !w->messageOnly)
            Activate(root);
        {
            std::lock_guard lock(s.mutex);
            old = q->focus;
            if (old == hwnd)
                return old;
        }
    }
    if (old && FindLiveWindow(old))
        Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    {
        std::lock_guard lock(s.mutex);
        q->focus = hwnd && FindWindowLocked(hwnd) ? hwnd : nullptr;
    }
    if (hwnd && FindLiveWindow(hwnd))
        Send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

HWND GetFocus() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->focus && FindWindowLocked(q->focus) ? q->focus : nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    HWND old = GetActiveWindow();
    if (!hwnd) {
        if (old)
            ActivateAnother(FindLiveWindow(old));
        return old;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    if (w->threadId != q->threadId) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HWND root;
    {
        std::lock_guard lock(GetState().mutex);
        root = RootLocked(hwnd);
    }
    Activate(root);
    return old;
}

HWND GetActiveWindow() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->active && FindWindowLocked(q->active) ? q->active : nullptr;
}

namespace platform::ui {

BOOL SetForegroundLocal(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    HWND root;
    {
        std::lock_guard lock(GetState().mutex);
        root = RootLocked(hwnd);
    }
    // A window kept disabled by a modal box it owns comes forward, but the box is what becomes active and takes
    // the keys, as the user cannot act on the window behind it.
    HWND active = root;
    if (!IsWindowEnabled(root)) {
        const HWND popup = GetLastActivePopup(root);
        if (popup && popup != root && IsWindowEnabled(popup) && IsWindowVisible(popup))
            active = popup;
    }
    Activate(active);
    broker::SetSessionForeground(root);
    NoteWindowChange(root);
    return TRUE;
}

BOOL BringToTopLocal(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    {
        std::lock_guard lock(GetState().mutex);
        ReorderLocked(GetState(), *w, HWND_TOP);
    }
    bool top;
    {
        std::lock_guard lock(GetState().mutex);
        top = !w->parent && (w->style & WS_VISIBLE);
    }
    if (top && w->threadId == GetCurrentThreadId())
        Activate(hwnd, false);
    Publish(w);
    return TRUE;
}

} // namespace platform::ui

BOOL SetForegroundWindow(HWND hwnd) {
    if (!IsWindow(hwnd) || IsDesktop(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The foreground lock: another process's foreground window keeps the foreground unless the time-out is 0.
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    if (timeout != 0) {
        HWND current = GetForegroundWindow();
        if (current && IsRemoteWindow(current) && current != hwnd) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            DWORD currentPid = 0;
            GetWindowThreadProcessId(current, &currentPid);
            if (currentPid != pid) {
                FlashWindow(hwnd, TRUE);
                return FALSE;
            }
        }
    }
    if (IsRemoteWindow(hwnd))
        return broker::RemoteSetForeground(hwnd) ? TRUE : FALSE;
    return SetForegroundLocal(hwnd);
}

HWND GetForegroundWindow() {
    HWND h = broker::SessionForeground();
    if (h && IsWindow(h))
        return h;
    return nullptr;
}

BOOL BringWindowToTop(HWND hwnd) {
    if (IsRemoteWindow(hwnd))
        return broker::RemoteBringToTop(hwnd) ? TRUE : FALSE;
    return BringToTopLocal(hwnd);
}

HWND GetLastActivePopup(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e))
            return nullptr;
        broker::WindowEntry popup;
        if (e.lastActivePopup && broker::FindRemoteWindow(e.lastActivePopup, popup))
            return e.lastActivePopup;
        return hwnd;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    auto popup = w->lastActivePopup ? FindWindowLocked(w->lastActivePopup) : nullptr;
    if (popup && popup->phase == Window::Phase::Alive)
        return popup->hwnd;
    return hwnd;
}

HWND GetCapture() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->capture && FindWindowLocked(q->capture) ? q->capture : nullptr;
}

HWND SetCapture(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    HWND old = q->capture;
    q->capture = hwnd;
    return old;
}

BOOL ReleaseCapture() {
    QueuePtr q = CurrentQueue();
    HWND old;
    {
        std::lock_guard lock(GetState().mutex);
        old = q->capture;
        q->capture = nullptr;
    }
    if (old && FindLiveWindow(old))
        Send(old, 0x0215 /* WM_CAPTURECHANGED */, 0, 0);
    return TRUE;
}
