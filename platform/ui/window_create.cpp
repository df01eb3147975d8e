// Creating and destroying windows, and dropping the windows of an ended thread.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/broker.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/presenter.h"
#include "platform/ui/session.h"
#include "platform/ui/window_internal.h"

#include <algorithm>
#include <random>
#include <utility>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {
namespace {

HWND NewHandle(State& s) {
    if (s.nextHandle == 0) {
        // A random start makes a handle of an earlier process with the same id unlikely to name one of ours.
        std::random_device rd;
        s.nextHandle = ((rd() & 0x3FFFu) + 1u) << 16;
    }
    s.nextHandle += 2;
    const uint64_t value = (static_cast<uint64_t>(CurrentProcessId()) << 32) | s.nextHandle;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

void SendDestroyMessages(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    {
        std::lock_guard lock(GetState().mutex);
        if (w->destroyMessageSent)
            return;
        w->destroyMessageSent = true;
        w->phase = Window::Phase::Destroying;
    }
    Send(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        children = w->children;
    }
    for (HWND c : children)
        SendDestroyMessages(c);
}

void FreeWindow(HWND hwnd) {
    WindowPtr w;
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        w = FindWindowLocked(hwnd);
        if (!w || w->phase == Window::Phase::Gone)
            return;
        children = w->children;
    }
    for (HWND c : children)
        FreeWindow(c);
    Send(hwnd, WM_NCDESTROY, 0, 0);
    State& s = GetState();
    QueuePtr q = FindQueue(w->threadId);
    HRGN shape = nullptr;
    {
        std::lock_guard lock(s.mutex);
        UnlinkLocked(s, *w);
        w->phase = Window::Phase::Gone;
        w->props.clear();
        shape = std::exchange(w->region, nullptr);
        if (w->cls)
            --w->cls->liveWindows;
        s.windows.erase(Key(hwnd));
        if (q) {
            if (q->focus == hwnd)
                q->focus = nullptr;
            if (q->active == hwnd)
                q->active = nullptr;
            if (q->capture == hwnd)
                q->capture = nullptr;
        }
    }
    ForgetWindowTimers(hwnd, w->threadId);
    ForgetWindowMessages(hwnd, w->threadId);
    if (shape)
        DeleteObject(shape);
    NoteWindowChange(hwnd);
}

} // namespace
} // namespace platform::ui

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    EnsureSystemClasses();
    State& s = GetState();
    const DWORD tid = GetCurrentThreadId();
    QueuePtr queue = CurrentQueue();
    const bool messageOnly = parent == HWND_MESSAGE;
    if (messageOnly)
        parent = nullptr;
    if (parent && IsDesktop(parent))
        parent = nullptr;
    if ((style & WS_CHILD) && !parent && !messageOnly) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (parent && IsRemoteWindow(parent)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto w = std::make_shared<Window>();
    {
        std::lock_guard lock(s.mutex);
        auto cls = FindClassLocked(s, className);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        WindowPtr parentWindow;
        if (parent) {
            parentWindow = FindWindowLocked(parent);
            if (!parentWindow) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
        }
        w->hwnd = NewHandle(s);
        w->threadId = tid;
        w->cls = cls;
        w->proc = cls->wc.lpfnWndProc;
        w->instance = instance;
        w->messageOnly = messageOnly;
        w->extra.assign(static_cast<size_t>(cls->wc.cbWndExtra), 0);
        if (!(style & (WS_CHILD | WS_POPUP)) && !messageOnly) {
            // An overlapped window always has a caption.
            style |= WS_CAPTION | WS_CLIPSIBLINGS;
            exStyle |= WS_EX_WINDOWEDGE;
        }
        w->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        w->exStyle = exStyle;
        if (style & WS_CHILD) {
            w->parent = parent;
            w->id = reinterpret_cast<UINT_PTR>(menu);
        } else {
            w->owner = parent ? RootLocked(parent) : nullptr;
            w->id = reinterpret_cast<UINT_PTR>(menu);
        }
        const bool overlapped = !(style & (WS_CHILD | WS_POPUP));
        if (x == CW_USEDEFAULT) {
            if (overlapped) {
                x = 26 * (s.cascade % 8);
                y = 26 * (s.cascade % 8);
                ++s.cascade;
            } else {
                x = 0;
                y = 0;
            }
        }
        if (width == CW_USEDEFAULT) {
            width = overlapped ? kScreenWidth * 3 / 4 : 0;
            height = overlapped ? kScreenHeight * 3 / 4 : 0;
        }
        w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        w->normalRect = w->rect;
        ++cls->liveWindows;
        s.windows[Key(w->hwnd)] = w;
        if (messageOnly)
            s.messageOnly.push_back(w->hwnd);
        else if (parentWindow && (style & WS_CHILD))
            parentWindow->children.push_back(w->hwnd);
        else
            InsertTopLevelLocked(s, *w, true);
    }
    const HWND hwnd = w->hwnd;
    std::u16string nameCopy = windowName ? std::u16string(windowName) : std::u16string();
    CREATESTRUCTW cs{param,
                     instance,
                     menu,
                     (style & WS_CHILD) ? parent : w->owner,
                     height,
                     width,
                     y,
                     x,
                     static_cast<LONG>(style),
                     windowName,
                     className,
                     exStyle};
    CBT_CREATEWNDW cbt{&cs, HWND_TOP};
    auto abandon = [&] {
        std::lock_guard lock(s.mutex);
        UnlinkLocked(s, *w);
        w->phase = Window::Phase::Gone;
        --w->cls->liveWindows;
        s.windows.erase(Key(hwnd));
    };
    if (CallHooks(WH_CBT, HCBT_CREATEWND, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cbt)) != 0) {
        abandon();
        return nullptr;
    }
    if (!(style & WS_CHILD) || (style & WS_THICKFRAME)) {
        MINMAXINFO mmi{};
        mmi.ptMaxSize = POINT{kScreenWidth + 2 * kFrame, kScreenHeight - kTaskbar + 2 * kFrame};
        mmi.ptMaxPosition = POINT{-kFrame, -kFrame};
        mmi.ptMinTrackSize = POINT{112, 27};
        mmi.ptMaxTrackSize = POINT{kScreenWidth + 12, kScreenHeight + 12};
        Send(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
        std::lock_guard lock(s.mutex);
        if (style & WS_THICKFRAME) {
            LONG wdt = w->rect.right - w->rect.left, hgt = w->rect.bottom - w->rect.top;
            wdt = std::clamp<LONG>(wdt, mmi.ptMinTrackSize.x, std::max(mmi.ptMinTrackSize.x, mmi.ptMaxTrackSize.x));
            hgt = std::clamp<LONG>(hgt, mmi.ptMinTrackSize.y, std::max(mmi.ptMinTrackSize.y, mmi.ptMaxTrackSize.y));
            w->rect.right = w->rect.left + wdt;
            w->rect.bottom = w->rect.top + hgt;
            w->normalRect = w->rect;
        }
    }
    if (!Send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        FreeWindow(hwnd);
        return nullptr;
    }
    {
        std::lock_guard lock(s.mutex);
        if (w->phase == Window::Phase::Gone)
            return nullptr;
        if (w->text.empty() && !nameCopy.empty() && w->proc != DefWindowProcW)
            (void)0; // the procedure chose not to keep the title (as on Windows)
    }
    RecalcClient(hwnd);
    if (Send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!FindLiveWindow(hwnd))
        return nullptr;
    {
        std::lock_guard lock(s.mutex);
        w->phase = Window::Phase::Alive;
    }
    {
        RECT client;
        GetClientRect(hwnd, &client);
        Send(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
        POINT origin{0, 0};
        {
            std::lock_guard lock(s.mutex);
            origin = POINT{w->rect.left + w->client.left, w->rect.top + w->client.top};
        }
        Send(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
    Publish(w);
    // A program with a top-level window takes part in the end of the session.
    if (!(style & WS_CHILD) && !messageOnly)
        WatchSessionEnd();
    if (!FindLiveWindow(hwnd))
        return nullptr;
    if (style & WS_MINIMIZE)
        ShowWindow(hwnd, (style & WS_VISIBLE) ? SW_SHOWMINNOACTIVE : SW_MINIMIZE);
    else if (style & WS_MAXIMIZE)
        ShowWindow(hwnd, SW_SHOWMAXIMIZED);
    else if (style & WS_VISIBLE)
        ShowWindow(hwnd, (style & WS_CHILD) ? SW_SHOWNA : SW_SHOW);
    (void)queue;
    return FindLiveWindow(hwnd) ? hwnd : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard lock(GetState().mutex);
        if (w->phase == Window::Phase::Destroying)
            return TRUE;
    }
    if (CallHooks(WH_CBT, HCBT_DESTROYWND, reinterpret_cast<WPARAM>(hwnd), 0) != 0)
        return FALSE;
    // Owned windows go first.
    std::vector<HWND> owned;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        for (HWND h : s.topLevel) {
            auto o = FindWindowLocked(h);
            if (o && o->owner == hwnd && o->threadId == w->threadId)
                owned.push_back(h);
        }
    }
    for (HWND h : owned)
        DestroyWindow(h);
    bool visible;
    {
        std::lock_guard lock(GetState().mutex);
        visible = (w->style & WS_VISIBLE) != 0;
    }
    if (visible)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ActivateAnother(w);
    SendDestroyMessages(hwnd);
    FreeWindow(hwnd);
    if (IsPublishable(*w))
        broker::PublishChanged();
    return TRUE;
}

namespace platform::ui {

// Called when a thread ends: its windows go away without messages (nobody is left to answer them).
void DestroyThreadWindows(DWORD threadId) {
    std::vector<WindowPtr> gone;
    State& s = GetState();
    {
        std::lock_guard lock(s.mutex);
        for (auto& [key, w] : s.windows)
            if (w->threadId == threadId && w->phase != Window::Phase::Gone)
                gone.push_back(w);
        for (auto& w : gone) {
            UnlinkLocked(s, *w);
            w->phase = Window::Phase::Gone;
            if (w->cls)
                --w->cls->liveWindows;
            s.windows.erase(Key(w->hwnd));
        }
        s.hooks.erase(
            std::remove_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.threadId == threadId; }),
            s.hooks.end());
    }
    bool published = false;
    for (auto& w : gone)
        published = published || IsPublishable(*w);
    if (published)
        broker::PublishChanged();
}

} // namespace platform::ui
