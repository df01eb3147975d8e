// Show state: showing, hiding, minimising and maximising, placement, and enabling windows.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/ui/broker.h"
#include "platform/ui/paint_internal.h"
#include "platform/ui/window_internal.h"

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

BOOL ShowWindowLocal(HWND hwnd, int cmdShow) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    DWORD style;
    RECT rect, normal;
    bool top;
    {
        std::lock_guard lock(s.mutex);
        style = w->style;
        rect = w->rect;
        normal = w->normalRect;
        top = !w->parent;
    }
    const bool wasVisible = (style & WS_VISIBLE) != 0;
    const bool minimized = (style & WS_MINIMIZE) != 0;
    const bool maximized = (style & WS_MAXIMIZE) != 0;
    bool show = true;
    bool activate = top;
    DWORD newState = style & (WS_MINIMIZE | WS_MAXIMIZE);
    RECT target = rect;
    switch (cmdShow) {
    case SW_HIDE:
        show = false;
        activate = false;
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
    case SW_SHOWNOACTIVATE:
        if (cmdShow == SW_SHOWNOACTIVATE)
            activate = false;
        if (minimized || maximized) {
            newState = 0;
            target = normal;
        }
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        newState = WS_MINIMIZE;
        activate = cmdShow == SW_SHOWMINIMIZED;
        if (!minimized) {
            if (!maximized)
                normal = rect;
            target = top ? RECT{kMinimizedPos, kMinimizedPos, kMinimizedPos + kMinimizedWidth,
                                kMinimizedPos + kMinimizedHeight}
                         : RECT{0, 0, kMinimizedWidth, kMinimizedHeight};
        }
        break;
    case SW_SHOWMAXIMIZED:
        newState = WS_MAXIMIZE;
        if (!maximized) {
            if (!minimized)
                normal = rect;
            if (top) {
                const RECT wa = WorkArea();
                target = RECT{wa.left - kFrame, wa.top - kFrame, wa.right + kFrame, wa.bottom + kFrame};
            } else {
                RECT pc{};
                GetClientRect(w->parent, &pc);
                target = pc;
            }
        }
        break;
    case SW_SHOW:
        break;
    case SW_SHOWNA:
        activate = false;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool stateChanges = newState != (style & (WS_MINIMIZE | WS_MAXIMIZE));
    if (!show && !wasVisible)
        return FALSE;
    if (show != wasVisible)
        Send(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (stateChanges) {
        std::lock_guard lock(s.mutex);
        w->style = (w->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | newState;
        w->normalRect = normal;
    }
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (show != wasVisible)
        flags |= show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
    if (stateChanges)
        flags |= SWP_FRAMECHANGED;
    else
        flags |= SWP_NOMOVE | SWP_NOSIZE;
    if (show || wasVisible || stateChanges)
        SetWindowPos(hwnd, nullptr, target.left, target.top, target.right - target.left, target.bottom - target.top,
                     flags);
    bool nowVisible = false;
    {
        std::lock_guard lock(s.mutex);
        nowVisible = (w->style & WS_VISIBLE) != 0 && w->phase != Window::Phase::Gone;
    }
    if (top && nowVisible && activate)
        Activate(hwnd);
    else if (top && (!nowVisible || newState == WS_MINIMIZE) && !activate)
        ActivateAnother(w);
    Publish(w);
    if (top && nowVisible && !wasVisible)
        NoteWindowShown(hwnd);
    return wasVisible ? TRUE : FALSE;
}

} // namespace platform::ui

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    if (IsRemoteWindow(hwnd)) {
        BOOL wasVisible = FALSE;
        if (!broker::RemoteShowWindow(hwnd, cmdShow, wasVisible))
            return FALSE;
        return wasVisible;
    }
    return ShowWindowLocal(hwnd, cmdShow);
}

BOOL IsWindowVisible(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_VISIBLE) ? TRUE : FALSE;
    }
    if (IsDesktop(hwnd))
        return TRUE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto w = FindWindowLocked(hwnd);
    if (!w)
        return FALSE;
    while (w) {
        if (!(w->style & WS_VISIBLE))
            return FALSE;
        if (!w->parent)
            return TRUE;
        w = FindWindowLocked(w->parent);
    }
    return FALSE;
}

BOOL IsIconic(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_MINIMIZE) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL IsZoomed(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_MAXIMIZE) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && (w->style & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w || !placement)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    placement->length = sizeof(WINDOWPLACEMENT);
    placement->flags = 0;
    placement->showCmd = !(w->style & WS_VISIBLE)   ? SW_HIDE
                         : (w->style & WS_MINIMIZE) ? SW_SHOWMINIMIZED
                         : (w->style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                                                    : SW_SHOWNORMAL;
    placement->ptMinPosition = POINT{-1, -1};
    placement->ptMaxPosition = POINT{-1, -1};
    placement->rcNormalPosition = (w->style & (WS_MINIMIZE | WS_MAXIMIZE)) ? w->normalRect : w->rect;
    return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w || !placement)
        return FALSE;
    {
        std::lock_guard lock(GetState().mutex);
        w->normalRect = placement->rcNormalPosition;
    }
    const RECT& r = placement->rcNormalPosition;
    bool plain;
    {
        std::lock_guard lock(GetState().mutex);
        plain = !(w->style & (WS_MINIMIZE | WS_MAXIMIZE));
    }
    if (plain)
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, static_cast<int>(placement->showCmd));
    return TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    bool wasDisabled;
    {
        std::lock_guard lock(s.mutex);
        wasDisabled = (w->style & WS_DISABLED) != 0;
    }
    if (wasDisabled == !enable)
        return wasDisabled ? TRUE : FALSE;
    if (!enable) {
        HWND focus = GetFocus();
        if (focus == hwnd || IsChild(hwnd, focus))
            SetFocus(nullptr);
    }
    {
        std::lock_guard lock(s.mutex);
        if (enable)
            w->style &= ~WS_DISABLED;
        else
            w->style |= WS_DISABLED;
    }
    Send(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    Publish(w);
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && !(e.style & WS_DISABLED) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}
