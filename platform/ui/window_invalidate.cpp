// Invalidation: whether a window needs painting, and sending WM_PAINT at once.

#include "platform/ui/window.h"

#include "platform/ui/window_internal.h"

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

void SetNeedsPaint(const WindowPtr& w, bool erase) {
    QueuePtr q;
    {
        std::lock_guard lock(GetState().mutex);
        w->needsPaint = true;
        if (erase)
            w->needsErase = true;
        q = FindQueue(w->threadId);
    }
    if (!q)
        return;
    {
        std::lock_guard lock(q->mutex);
        q->paintHint = true;
        q->changeBits |= QS_PAINT;
    }
    WakeQueue(q);
}

} // namespace platform::ui

namespace platform::ui {
namespace {

std::vector<HWND> DescendantsPreorderLocked(const Window& w) {
    std::vector<HWND> out;
    for (HWND c : w.children) {
        out.push_back(c);
        if (auto cw = FindWindowLocked(c)) {
            auto sub = DescendantsPreorderLocked(*cw);
            out.insert(out.end(), sub.begin(), sub.end());
        }
    }
    return out;
}

} // namespace
} // namespace platform::ui

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
    if (!hwnd) {
        std::vector<WindowPtr> all;
        {
            std::lock_guard lock(GetState().mutex);
            for (auto& [key, w] : GetState().windows)
                if (w->phase != Window::Phase::Gone)
                    all.push_back(w);
        }
        for (auto& w : all)
            SetNeedsPaint(w, erase != FALSE);
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    SetNeedsPaint(w, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT*) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    w->needsPaint = false;
    w->needsErase = false;
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    bool paint;
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        paint = w->needsPaint && (w->style & WS_VISIBLE);
        children = w->children;
    }
    if (paint)
        Send(hwnd, WM_PAINT, 0, 0);
    for (HWND c : children)
        if (FindLiveWindow(c))
            UpdateWindow(c);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* update, HRGN, UINT flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::vector<HWND> targets{hwnd};
    if (flags & RDW_ALLCHILDREN) {
        std::lock_guard lock(GetState().mutex);
        auto all = DescendantsPreorderLocked(*w);
        targets.insert(targets.end(), all.begin(), all.end());
    }
    for (HWND h : targets) {
        if (flags & (RDW_INVALIDATE | RDW_INTERNALPAINT))
            InvalidateRect(h, update, (flags & RDW_ERASE) ? TRUE : FALSE);
        if (flags & RDW_VALIDATE)
            ValidateRect(h, update);
    }
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW))
        UpdateWindow(hwnd);
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    if (!w->needsPaint) {
        if (rect)
            *rect = RECT{0, 0, 0, 0};
        return FALSE;
    }
    if (rect)
        *rect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    return TRUE;
}
