// Which window is under a point: WindowFromPoint.
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/window_internal.h"

#include <optional>

namespace platform::ui {
namespace {

bool ClassIs(const Window& w, const char16_t* name) {
    return w.cls && EqualsNoCase(w.cls->name, name);
}

// What a window of another thread would answer to WM_NCHITTEST, as far as it decides by its class: static texts
// without SS_NOTIFY and group boxes let the mouse through.
bool TransparentByClass(const Window& w) {
    constexpr DWORD kSsNotify = 0x0100, kBsTypeMask = 0xF, kBsGroupBox = 0x7;
    if (ClassIs(w, u"Static"))
        return !(w.style & kSsNotify);
    return ClassIs(w, u"Button") && (w.style & kBsTypeMask) == kBsGroupBox;
}

// Whether the window's rectangle and shape hold the screen point (State::mutex held).
bool HoldsLocked(State& s, const Window& w, POINT pt) {
    const POINT o = WindowOriginLocked(s, w);
    const int x = pt.x - o.x, y = pt.y - o.y;
    if (x < 0 || y < 0 || x >= w.rect.right - w.rect.left || y >= w.rect.bottom - w.rect.top)
        return false;
    return !w.region || PtInRegion(w.region, x, y);
}

struct Candidate {
    HWND hwnd;
    DWORD threadId;
    bool transparentByClass;
};

// The child of `parent` under the point, or nothing when the point is in the parent itself.
std::optional<HWND> ChildAt(HWND parent, POINT pt) {
    std::vector<Candidate> candidates;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr p = FindWindowLocked(parent);
        if (!p)
            return std::nullopt;
        const POINT c = ClientOriginLocked(s, *p);
        if (pt.x < c.x || pt.y < c.y || pt.x >= c.x + (p->client.right - p->client.left) ||
            pt.y >= c.y + (p->client.bottom - p->client.top))
            return std::nullopt; // the parent's frame
        for (HWND child : p->children) {
            WindowPtr w = FindWindowLocked(child);
            if (!w || !(w->style & WS_VISIBLE) || (w->style & WS_DISABLED) || !HoldsLocked(s, *w, pt))
                continue;
            candidates.push_back(Candidate{child, w->threadId, TransparentByClass(*w)});
        }
    }
    const DWORD self = GetCurrentThreadId();
    for (const Candidate& c : candidates) {
        // Windows of the calling thread are asked; they may let the mouse through to what lies beneath.
        const bool transparent =
            c.threadId == self
                ? SendMessageW(c.hwnd, WM_NCHITTEST, 0, MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y))) ==
                      HTTRANSPARENT
                : c.transparentByClass;
        if (!transparent)
            return c.hwnd;
    }
    return std::nullopt;
}

// From a window that holds the point down to the deepest of its descendants that does.
HWND Descend(HWND found, POINT point) {
    while (found) {
        std::optional<HWND> child = ChildAt(found, point);
        if (!child)
            break;
        found = *child;
    }
    return found;
}

} // namespace

HWND WindowFromPointIn(HWND top, POINT point) {
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(top);
        if (!w || !(w->style & WS_VISIBLE) || !HoldsLocked(s, *w, point))
            return nullptr;
    }
    return Descend(top, point);
}

} // namespace platform::ui

using namespace platform::ui;

HWND WindowFromPoint(POINT point) {
    HWND found = nullptr;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        for (HWND top : s.topLevel) {
            WindowPtr w = FindWindowLocked(top);
            if (w && (w->style & WS_VISIBLE) && HoldsLocked(s, *w, point)) {
                found = top;
                break;
            }
        }
    }
    return Descend(found, point);
}
