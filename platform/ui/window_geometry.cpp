// Geometry: the non-client frame, the client area, moving and sizing, and coordinate mapping.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/ui/window_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

RECT NonClientInsets(DWORD style, DWORD exStyle, bool menu) {
    RECT r{0, 0, 0, 0};
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = kFrame;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        frame = kDlgFrame;
    else if (style & WS_BORDER)
        frame = kBorder;
    r.left = r.top = r.right = r.bottom = frame;
    if ((style & WS_CAPTION) == WS_CAPTION)
        r.top += kCaption;
    if (menu && !(style & WS_CHILD))
        r.top += kMenu;
    if (exStyle & WS_EX_CLIENTEDGE) {
        r.left += kEdge, r.top += kEdge, r.right += kEdge, r.bottom += kEdge;
    }
    if (exStyle & WS_EX_STATICEDGE) {
        r.left += 1, r.top += 1, r.right += 1, r.bottom += 1;
    }
    if (style & WS_VSCROLL)
        r.right += kScroll;
    if (style & WS_HSCROLL)
        r.bottom += kScroll;
    return r;
}

} // namespace platform::ui

namespace platform::ui {

POINT WindowOriginLocked(State& s, const Window& w) {
    if (!w.parent)
        return POINT{w.rect.left, w.rect.top};
    auto parent = FindWindowLocked(w.parent);
    if (!parent)
        return POINT{w.rect.left, w.rect.top};
    const POINT p = ClientOriginLocked(s, *parent);
    return POINT{p.x + w.rect.left, p.y + w.rect.top};
}

POINT ClientOriginLocked(State& s, const Window& w) {
    const POINT o = WindowOriginLocked(s, w);
    return POINT{o.x + w.client.left, o.y + w.client.top};
}

} // namespace platform::ui

namespace platform::ui {

RECT WorkArea() {
    return RECT{0, 0, kScreenWidth, kScreenHeight - kTaskbar};
}

// Recomputes the client area through WM_NCCALCSIZE.
void RecalcClient(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    RECT r;
    {
        std::lock_guard lock(GetState().mutex);
        r = w->rect;
    }
    RECT calc = r;
    Send(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&calc));
    std::lock_guard lock(GetState().mutex);
    if (w->style & WS_MINIMIZE) {
        w->client = RECT{0, 0, 0, 0};
        return;
    }
    w->client = RECT{calc.left - r.left, calc.top - r.top, calc.right - r.left, calc.bottom - r.top};
    if (w->client.right < w->client.left)
        w->client.right = w->client.left;
    if (w->client.bottom < w->client.top)
        w->client.bottom = w->client.top;
}

} // namespace platform::ui

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    WINDOWPOS wp{hwnd, insertAfter, x, y, std::max(cx, 0), std::max(cy, 0), flags};
    if (!(flags & SWP_NOSENDCHANGING))
        Send(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
    if (!FindLiveWindow(hwnd))
        return FALSE;
    bool moved = false, sized = false, shown = false, hidden = false, top = false;
    {
        std::lock_guard lock(s.mutex);
        RECT r = w->rect;
        if (!(wp.flags & SWP_NOMOVE) && (wp.x != r.left || wp.y != r.top)) {
            const LONG width = r.right - r.left, height = r.bottom - r.top;
            r = RECT{wp.x, wp.y, wp.x + width, wp.y + height};
            moved = true;
        }
        if (!(wp.flags & SWP_NOSIZE) && (wp.cx != r.right - r.left || wp.cy != r.bottom - r.top)) {
            r.right = r.left + std::max(wp.cx, 0);
            r.bottom = r.top + std::max(wp.cy, 0);
            sized = true;
        }
        w->rect = r;
        if (!(w->style & (WS_MINIMIZE | WS_MAXIMIZE)))
            w->normalRect = r;
        if (!(wp.flags & SWP_NOZORDER))
            ReorderLocked(s, *w, wp.hwndInsertAfter);
        if ((wp.flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
            w->style |= WS_VISIBLE;
            shown = true;
        } else if ((wp.flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
            w->style &= ~WS_VISIBLE;
            hidden = true;
        }
        top = !w->parent && !w->messageOnly;
    }
    if (sized || (wp.flags & SWP_FRAMECHANGED))
        RecalcClient(hwnd);
    if (shown || (sized && !(wp.flags & SWP_NOREDRAW)))
        SetNeedsPaint(w, true);
    if (hidden)
        ActivateAnother(w);
    if (top && !(wp.flags & SWP_NOACTIVATE) && IsWindowVisible(hwnd) && w->threadId == GetCurrentThreadId())
        Activate(hwnd, !(wp.flags & SWP_NOZORDER));
    WINDOWPOS changed = wp;
    if (!moved)
        changed.flags |= SWP_NOMOVE;
    if (!sized)
        changed.flags |= SWP_NOSIZE;
    {
        std::lock_guard lock(s.mutex);
        changed.x = w->rect.left;
        changed.y = w->rect.top;
        changed.cx = w->rect.right - w->rect.left;
        changed.cy = w->rect.bottom - w->rect.top;
    }
    Send(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&changed));
    Publish(w);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsDesktop(hwnd)) {
        *rect = RECT{0, 0, kScreenWidth, kScreenHeight};
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    const POINT o = WindowOriginLocked(s, *w);
    *rect = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsDesktop(hwnd)) {
        *rect = RECT{0, 0, kScreenWidth, kScreenHeight};
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    *rect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    return TRUE;
}

namespace platform::ui {
namespace {

// The screen position of a window's client origin; the desktop's is (0, 0).
bool ScreenOriginOfClient(HWND hwnd, POINT& origin) {
    origin = POINT{0, 0};
    if (IsDesktop(hwnd))
        return true;
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return false;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    origin = ClientOriginLocked(s, *w);
    return true;
}

} // namespace
} // namespace platform::ui

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
    POINT o;
    if (!point || !ScreenOriginOfClient(hwnd, o))
        return FALSE;
    point->x += o.x;
    point->y += o.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
    POINT o;
    if (!point || !ScreenOriginOfClient(hwnd, o))
        return FALSE;
    point->x -= o.x;
    point->y -= o.y;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
    POINT a{0, 0}, b{0, 0};
    if (from && !ClientToScreen(from, &a))
        return 0;
    if (to && !ClientToScreen(to, &b))
        return 0;
    const LONG dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; i < count; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect)
        return FALSE;
    const RECT in = NonClientInsets(style, exStyle, menu != FALSE);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
    return AdjustWindowRectEx(rect, style, menu, 0);
}
