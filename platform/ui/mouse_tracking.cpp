// TrackMouseEvent: telling a window that the mouse left it or rests over it.
#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/gdi/rect.h"
#include "platform/ui/input.h"
#include "platform/ui/window_internal.h"

#include <algorithm>
#include <cstdlib>

namespace platform::ui {
namespace {

constexpr UINT_PTR kHoverTimer = 1;

// Whether the mouse at a screen point is in the client area of `hwnd`, that window being the one under it.
bool InClientUnder(HWND hwnd, POINT screen) {
    if (WindowFromPoint(screen) != hwnd)
        return false;
    RECT client{};
    POINT p = screen;
    return GetClientRect(hwnd, &client) && ScreenToClient(hwnd, &p) && PtInRect(&client, p);
}

WPARAM MouseKeys() {
    WPARAM keys = 0;
    if (GetKeyState(VK_LBUTTON) & 0x8000)
        keys |= MK_LBUTTON;
    if (GetKeyState(VK_RBUTTON) & 0x8000)
        keys |= MK_RBUTTON;
    if (GetKeyState(VK_SHIFT) & 0x8000)
        keys |= MK_SHIFT;
    if (GetKeyState(VK_CONTROL) & 0x8000)
        keys |= MK_CONTROL;
    return keys;
}

// Arms the hover wait of the tracked window; when it falls due on the window's thread and the window is still
// tracked for hovering, WM_MOUSEHOVER carries the mouse's client position and the hover tracking ends.
void StartHover(HWND hwnd, UINT time) {
    SetSystemTimer(hwnd, kHoverTimer, std::max(time, 1u), WM_MOUSEHOVER, [hwnd](MSG& m) {
        State& s = GetState();
        POINT at{};
        {
            std::lock_guard lock(s.mutex);
            if (s.tracked != hwnd || !(s.trackFlags & TME_HOVER))
                return false;
            s.trackFlags &= ~TME_HOVER;
            if (!s.trackFlags)
                s.tracked = nullptr;
            at = s.cursor;
        }
        ScreenToClient(hwnd, &at);
        m.wParam = MouseKeys();
        m.lParam = MAKELPARAM(static_cast<WORD>(at.x), static_cast<WORD>(at.y));
        return true;
    });
}

void StopHover(HWND hwnd) {
    SetSystemTimer(hwnd, kHoverTimer, 0, 0, nullptr);
}

} // namespace

void OnCursorMoved(POINT screen) {
    State& s = GetState();
    HWND hwnd = nullptr;
    DWORD flags = 0;
    UINT hoverTime = 0;
    POINT start{};
    {
        std::lock_guard lock(s.mutex);
        hwnd = s.tracked;
        flags = s.trackFlags;
        hoverTime = s.hoverTime;
        start = s.hoverStart;
    }
    if (!hwnd)
        return;
    if (!IsWindow(hwnd) || !InClientUnder(hwnd, screen)) {
        {
            std::lock_guard lock(s.mutex);
            if (s.tracked != hwnd)
                return;
            s.tracked = nullptr;
            s.trackFlags = 0;
        }
        StopHover(hwnd);
        if (flags & TME_LEAVE)
            PostMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
        return;
    }
    // Leaving the hover rectangle starts the hover wait over from here.
    if ((flags & TME_HOVER) && (std::abs(screen.x - start.x) > static_cast<int>(kHoverSize / 2) ||
                                std::abs(screen.y - start.y) > static_cast<int>(kHoverSize / 2))) {
        {
            std::lock_guard lock(s.mutex);
            if (s.tracked != hwnd)
                return;
            s.hoverStart = screen;
        }
        StartHover(hwnd, hoverTime);
    }
}

} // namespace platform::ui

using namespace platform::ui;

BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track) {
    if (!track || track->cbSize < sizeof(TRACKMOUSEEVENT) || (track->dwFlags & TME_NONCLIENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    State& s = GetState();
    if (track->dwFlags & TME_QUERY) {
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(s.tracked);
        const bool ours = w && w->threadId == GetCurrentThreadId();
        track->dwFlags = ours ? s.trackFlags : 0;
        track->hwndTrack = ours ? s.tracked : nullptr;
        track->dwHoverTime = ours ? s.hoverTime : 0;
        return TRUE;
    }
    HWND hwnd = track->hwndTrack;
    if (!ValidWindow(hwnd))
        return FALSE;
    const DWORD wanted = track->dwFlags & (TME_LEAVE | TME_HOVER);
    if (track->dwFlags & TME_CANCEL) {
        {
            std::lock_guard lock(s.mutex);
            if (s.tracked == hwnd) {
                s.trackFlags &= ~wanted;
                if (!s.trackFlags)
                    s.tracked = nullptr;
            }
        }
        if (wanted & TME_HOVER)
            StopHover(hwnd);
        return TRUE;
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    if (!InClientUnder(hwnd, cursor)) {
        // Asked for a window the mouse is not over: it has left already.
        if (wanted & TME_LEAVE)
            PostMessageW(hwnd, WM_MOUSELEAVE, 0, 0);
        return TRUE;
    }
    const UINT hoverTime = track->dwHoverTime == HOVER_DEFAULT ? kHoverTime : track->dwHoverTime;
    HWND previous = nullptr;
    {
        std::lock_guard lock(s.mutex);
        previous = s.tracked;
        if (previous != hwnd)
            s.trackFlags = 0;
        s.tracked = hwnd;
        s.trackFlags |= wanted;
        if (wanted & TME_HOVER) {
            s.hoverTime = hoverTime;
            s.hoverStart = cursor;
        }
    }
    if (previous && previous != hwnd)
        StopHover(previous);
    if (wanted & TME_HOVER)
        StartHover(hwnd, hoverTime);
    return TRUE;
}
