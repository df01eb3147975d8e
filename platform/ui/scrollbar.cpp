#include "platform/ui/scrollbar.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/controls_internal.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace platform::ui {

namespace {

// Width of an arrow box, the same as the system's scroll bar metric.
constexpr int kArrow = 17;
constexpr int kMinThumb = 8;

bool ValidBar(int bar) {
    return bar == SB_HORZ || bar == SB_VERT || bar == SB_CTL;
}

DWORD StyleFlag(int bar) {
    return bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL;
}

bool IsScrollBarControl(const Window& w) {
    if (!w.cls)
        return false;
    const std::u16string& name = w.cls->name;
    const std::u16string expected = WC_SCROLLBARW;
    return name.size() == expected.size() &&
           std::equal(name.begin(), name.end(), expected.begin(), [](char16_t a, char16_t b) {
               auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
               return lower(a) == lower(b);
           });
}

// Keeps the numbers consistent: the range is never inverted, the page never larger than the range, and the position
// stays where a thumb of that page fits.
void Clamp(ScrollBarState& b) {
    if (b.max < b.min)
        b.max = b.min;
    const int64_t range = static_cast<int64_t>(b.max) - b.min + 1;
    b.page = static_cast<int>(std::clamp<int64_t>(b.page, 0, range));
    const int64_t top = b.page > 0 ? static_cast<int64_t>(b.max) - b.page + 1 : b.max;
    b.pos = static_cast<int>(std::clamp<int64_t>(b.pos, b.min, std::max<int64_t>(b.min, top)));
    b.trackPos = b.pos;
}

bool CanScroll(const ScrollBarState& b) {
    if (b.page > 0)
        return static_cast<int64_t>(b.max) - b.min + 1 > b.page;
    return b.max > b.min;
}

// The window whose scroll bars are being brought up to date on this thread; its own updates must not ask again.
thread_local HWND t_syncing = nullptr;

void Sync(HWND hwnd, int bar) {
    if (bar == SB_CTL || t_syncing == hwnd)
        return;
    ScrollSync sync = nullptr;
    DWORD threadId = 0;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(hwnd);
        if (!w)
            return;
        sync = w->scrollSync;
        threadId = w->threadId;
    }
    if (!sync)
        return;
    auto run = [hwnd, sync]() -> LRESULT {
        HWND const previous = t_syncing;
        t_syncing = hwnd;
        sync(hwnd);
        t_syncing = previous;
        return 0;
    };
    if (threadId == GetCurrentThreadId()) {
        run();
        return;
    }
    bool ok = false;
    RunOnWindowThread(hwnd, run, ok);
}

void Redraw(HWND hwnd, int bar) {
    if (bar == SB_CTL)
        InvalidateRect(hwnd, nullptr, TRUE);
}

// Applies a SCROLLINFO; gives the previous and the new position. Returns false (with the error set) when the window
// or the bar is not there.
bool Apply(HWND hwnd, int bar, const SCROLLINFO& si, int& previous, int& now) {
    if (!ValidBar(bar)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Sync(hwnd, bar);
    int show = -1;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        if (bar == SB_CTL && !IsScrollBarControl(*w)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        ScrollBarState& b = w->scroll[bar];
        previous = b.pos;
        b.used = true;
        if (si.fMask & SIF_RANGE) {
            b.min = si.nMin;
            b.max = si.nMax;
        }
        if (si.fMask & SIF_PAGE)
            b.page = static_cast<int>(std::min<UINT>(si.nPage, INT32_MAX));
        if (si.fMask & SIF_POS)
            b.pos = si.nPos;
        Clamp(b);
        now = b.pos;
        if (si.fMask & (SIF_RANGE | SIF_PAGE)) {
            const bool can = CanScroll(b);
            if (si.fMask & SIF_DISABLENOSCROLL)
                b.disabled = can ? ESB_ENABLE_BOTH : ESB_DISABLE_BOTH;
            else if (bar != SB_CTL && can != ((w->style & StyleFlag(bar)) != 0))
                show = can ? 1 : 0;
        }
    }
    if (show >= 0)
        ShowScrollBar(hwnd, bar, show);
    return true;
}

void Notify(HWND control, WORD code, int pos) {
    HWND parent = GetParent(control);
    if (!parent)
        return;
    const UINT msg = (GetWindowLongW(control, GWL_STYLE) & SBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    SendMessageW(parent, msg, MAKEWPARAM(code, static_cast<WORD>(pos)), reinterpret_cast<LPARAM>(control));
}

// Where the parts of a scroll bar control lie along its length.
struct Track {
    int length = 0;     // the whole control
    int thumbStart = 0; // from the control's start
    int thumbLength = 0;
    bool thumb = false;
};

Track Measure(HWND hwnd, const ScrollBarState& b) {
    RECT rc{};
    GetClientRect(hwnd, &rc);
    const bool vertical = (GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT) != 0;
    Track t;
    t.length = vertical ? rc.bottom : rc.right;
    const int track = t.length - 2 * kArrow;
    if (!CanScroll(b) || track < kMinThumb || b.disabled == ESB_DISABLE_BOTH)
        return t;
    const int64_t range = static_cast<int64_t>(b.max) - b.min + 1;
    t.thumbLength =
        b.page > 0 ? static_cast<int>(std::max<int64_t>(kMinThumb, track * b.page / range)) : std::min(kArrow, track);
    const int64_t span = (b.page > 0 ? static_cast<int64_t>(b.max) - b.page + 1 : b.max) - b.min;
    t.thumbStart = kArrow + (span > 0 ? static_cast<int>((track - t.thumbLength) * (b.pos - b.min) / span) : 0);
    t.thumb = true;
    return t;
}

ScrollBarState ControlState(HWND hwnd) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    WindowPtr w = FindWindowLocked(hwnd);
    return w ? w->scroll[SB_CTL] : ScrollBarState{};
}

void SetTrackPos(HWND hwnd, int pos) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (WindowPtr w = FindWindowLocked(hwnd))
        w->scroll[SB_CTL].trackPos = pos;
}

void Click(HWND hwnd, LPARAM lParam) {
    const ScrollBarState b = ControlState(hwnd);
    const Track t = Measure(hwnd, b);
    const bool vertical = (GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT) != 0;
    const int at = vertical ? static_cast<SHORT>(HIWORD(lParam)) : static_cast<SHORT>(LOWORD(lParam));
    if (!IsWindowEnabled(hwnd) || b.disabled == ESB_DISABLE_BOTH)
        return;
    if (at < kArrow) {
        if (!(b.disabled & ESB_DISABLE_LTUP))
            Notify(hwnd, SB_LINEUP, 0);
    } else if (at >= t.length - kArrow) {
        if (!(b.disabled & ESB_DISABLE_RTDN))
            Notify(hwnd, SB_LINEDOWN, 0);
    } else if (!t.thumb) {
        return;
    } else if (at < t.thumbStart) {
        Notify(hwnd, SB_PAGEUP, 0);
    } else if (at >= t.thumbStart + t.thumbLength) {
        Notify(hwnd, SB_PAGEDOWN, 0);
    } else {
        SetTrackPos(hwnd, b.pos);
        Notify(hwnd, SB_THUMBTRACK, b.pos);
        Notify(hwnd, SB_THUMBPOSITION, b.pos);
    }
    Notify(hwnd, SB_ENDSCROLL, 0);
}

void Paint(HWND hwnd, WPARAM wParam) {
    controls::ControlPaint paint(hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    const ScrollBarState b = ControlState(hwnd);
    const Track t = Measure(hwnd, b);
    RECT rc{};
    GetClientRect(hwnd, &rc);
    const bool vertical = (GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT) != 0;
    const bool enabled = IsWindowEnabled(hwnd) && b.disabled != ESB_DISABLE_BOTH;
    controls::FillColor(dc, rc, GetSysColor(COLOR_SCROLLBAR));
    auto part = [&](int start, int length) {
        return vertical ? RECT{0, start, rc.right, start + length} : RECT{start, 0, start + length, rc.bottom};
    };
    // Arrow boxes with a small chevron pointing away from the middle.
    for (int end = 0; end < 2; ++end) {
        RECT box = part(end == 0 ? 0 : t.length - kArrow, kArrow);
        controls::FillColor(dc, box, GetSysColor(COLOR_BTNFACE));
        DrawEdge(dc, &box, EDGE_RAISED, BF_RECT);
        const bool arrowEnabled = enabled && !(b.disabled & (end == 0 ? ESB_DISABLE_LTUP : ESB_DISABLE_RTDN));
        HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(arrowEnabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        HGDIOBJ old = SelectObject(dc, pen);
        const int cx = (box.left + box.right) / 2;
        const int cy = (box.top + box.bottom) / 2;
        const int d = end == 0 ? -1 : 1;
        for (int i = 0; i < 4; ++i) {
            if (vertical) {
                MoveToEx(dc, cx - 3 + i, cy + d * (i - 1), nullptr);
                LineTo(dc, cx + 4 - i, cy + d * (i - 1));
            } else {
                MoveToEx(dc, cx + d * (i - 1), cy - 3 + i, nullptr);
                LineTo(dc, cx + d * (i - 1), cy + 4 - i);
            }
        }
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    if (t.thumb) {
        RECT thumb = part(t.thumbStart, t.thumbLength);
        controls::FillColor(dc, thumb, GetSysColor(COLOR_BTNFACE));
        DrawEdge(dc, &thumb, EDGE_RAISED, BF_RECT);
    }
}

LRESULT CALLBACK ScrollBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
    case WM_PRINTCLIENT:
        Paint(hwnd, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETDLGCODE:
        return controls::kDlgcWantArrows;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        Click(hwnd, lParam);
        return 0;
    case WM_KEYDOWN: {
        WORD code = 0;
        switch (wParam) {
        case VK_UP:
        case VK_LEFT:
            code = SB_LINEUP;
            break;
        case VK_DOWN:
        case VK_RIGHT:
            code = SB_LINEDOWN;
            break;
        case VK_PRIOR:
            code = SB_PAGEUP;
            break;
        case VK_NEXT:
            code = SB_PAGEDOWN;
            break;
        case VK_HOME:
            code = SB_TOP;
            break;
        case VK_END:
            code = SB_BOTTOM;
            break;
        default:
            return 0;
        }
        Notify(hwnd, code, 0);
        Notify(hwnd, SB_ENDSCROLL, 0);
        return 0;
    }
    case SBM_SETPOS:
        return SetScrollPos(hwnd, SB_CTL, static_cast<int>(wParam), static_cast<BOOL>(lParam));
    case SBM_GETPOS:
        return GetScrollPos(hwnd, SB_CTL);
    case SBM_SETRANGE:
    case SBM_SETRANGEREDRAW: {
        const int previous = GetScrollPos(hwnd, SB_CTL);
        SetScrollRange(hwnd, SB_CTL, static_cast<int>(wParam), static_cast<int>(lParam), msg == SBM_SETRANGEREDRAW);
        return previous;
    }
    case SBM_GETRANGE:
        GetScrollRange(hwnd, SB_CTL, reinterpret_cast<int*>(wParam), reinterpret_cast<int*>(lParam));
        return 0;
    case SBM_ENABLE_ARROWS:
        return EnableScrollBar(hwnd, SB_CTL, static_cast<UINT>(wParam));
    case SBM_SETSCROLLINFO:
        return SetScrollInfo(hwnd, SB_CTL, reinterpret_cast<LPCSCROLLINFO>(lParam), static_cast<BOOL>(wParam));
    case SBM_GETSCROLLINFO:
        return GetScrollInfo(hwnd, SB_CTL, reinterpret_cast<LPSCROLLINFO>(lParam));
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterScrollBar() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS | CS_PARENTDC;
        wc.lpfnWndProc = ScrollBarProc;
        wc.lpszClassName = WC_SCROLLBARW;
        RegisterSystemClass(wc);
    });
}

void SetScrollSync(HWND hwnd, ScrollSync sync) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (WindowPtr w = FindWindowLocked(hwnd))
        w->scrollSync = sync;
}

} // namespace platform::ui

using namespace platform::ui;

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw) {
    if (!info || info->cbSize != sizeof(SCROLLINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = 0, now = 0;
    if (!Apply(hwnd, bar, *info, previous, now))
        return 0;
    if (redraw)
        Redraw(hwnd, bar);
    return now;
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info) {
    if (!info || !ValidBar(bar) || !(info->fMask & SIF_ALL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Sync(hwnd, bar);
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    WindowPtr w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (bar == SB_CTL && !IsScrollBarControl(*w)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ScrollBarState& b = w->scroll[bar];
    if (bar != SB_CTL && !b.used && !(w->style & StyleFlag(bar))) {
        SetLastError(ERROR_NO_SCROLLBARS);
        return FALSE;
    }
    if (info->fMask & SIF_RANGE) {
        info->nMin = b.min;
        info->nMax = b.max;
    }
    if (info->fMask & SIF_PAGE)
        info->nPage = static_cast<UINT>(b.page);
    if (info->fMask & SIF_POS)
        info->nPos = b.pos;
    if (info->fMask & SIF_TRACKPOS)
        info->nTrackPos = b.trackPos;
    return TRUE;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
    SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, pos, 0};
    int previous = 0, now = 0;
    if (!Apply(hwnd, bar, si, previous, now))
        return 0;
    if (redraw)
        Redraw(hwnd, bar);
    return previous;
}

int GetScrollPos(HWND hwnd, int bar) {
    SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, 0, 0};
    return GetScrollInfo(hwnd, bar, &si) ? si.nPos : 0;
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
    if (static_cast<int64_t>(maxPos) - minPos > INT32_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SCROLLINFO si{sizeof si, SIF_RANGE, minPos, maxPos, 0, 0, 0};
    int previous = 0, now = 0;
    if (!Apply(hwnd, bar, si, previous, now))
        return FALSE;
    if (redraw)
        Redraw(hwnd, bar);
    return TRUE;
}

BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos) {
    if (!minPos || !maxPos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
    if (!GetScrollInfo(hwnd, bar, &si)) {
        *minPos = *maxPos = 0;
        return FALSE;
    }
    *minPos = si.nMin;
    *maxPos = si.nMax;
    return TRUE;
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
    if (bar == SB_CTL) {
        if (!ValidWindow(hwnd))
            return FALSE;
        ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
        return TRUE;
    }
    if (bar != SB_HORZ && bar != SB_VERT && bar != SB_BOTH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD flags = bar == SB_BOTH ? (WS_HSCROLL | WS_VSCROLL) : StyleFlag(bar);
    bool changed = false;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        const DWORD style = show ? (w->style | flags) : (w->style & ~flags);
        changed = style != w->style;
        w->style = style;
        if (flags & WS_HSCROLL)
            w->scroll[SB_HORZ].used = true;
        if (flags & WS_VSCROLL)
            w->scroll[SB_VERT].used = true;
    }
    if (changed)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

BOOL EnableScrollBar(HWND hwnd, int bar, UINT arrows) {
    if (!ValidBar(bar) && bar != SB_BOTH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    arrows &= ESB_DISABLE_BOTH;
    bool changed = false;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        WindowPtr w = FindWindowLocked(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (bar == SB_CTL && !IsScrollBarControl(*w)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        for (int b : {SB_HORZ, SB_VERT, SB_CTL}) {
            if (bar != b && !(bar == SB_BOTH && b != SB_CTL))
                continue;
            changed = changed || w->scroll[b].disabled != arrows;
            w->scroll[b].disabled = arrows;
        }
    }
    if (bar == SB_CTL && changed)
        InvalidateRect(hwnd, nullptr, TRUE);
    return changed ? TRUE : FALSE;
}
