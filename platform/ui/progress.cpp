// The progress bar: a range, a position kept inside it, and a step.
#include "platform/ui/commctrl_internal.h"

#include "platform/gdi/wingdi.h"

#include <algorithm>

namespace platform::ui::controls {
namespace {

struct Progress {
    int low = 0, high = 100, pos = 0, step = 10;
    COLORREF bar = CLR_DEFAULT, bk = CLR_DEFAULT;
    bool marquee = false;

    int Clamp(int value) const { return low <= high ? std::clamp(value, low, high) : value; }
};

LRESULT CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Progress>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Progress* pb = StateOf<Progress>(hwnd);
    if (!pb)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    auto changed = [&](int old) {
        if (old != pb->pos)
            InvalidateRect(hwnd, nullptr, FALSE);
        return static_cast<LRESULT>(old);
    };
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<Progress>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        // A sunken frame filled from the left (from the bottom when vertical) in proportion to the position.
        ControlPaint paint(hwnd, wParam);
        if (HDC dc = paint.dc()) {
            RECT rc{};
            GetClientRect(hwnd, &rc);
            FillColor(dc, rc, ColorOr(pb->bk, COLOR_BTNFACE));
            RECT edge = rc;
            DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
            const int span = pb->high - pb->low;
            if (span > 0) {
                RECT bar{rc.left + 2, rc.top + 2, rc.right - 2, rc.bottom - 2};
                const long long done = pb->pos - pb->low;
                if (GetWindowLongW(hwnd, GWL_STYLE) & PBS_VERTICAL)
                    bar.top = bar.bottom - static_cast<LONG>((bar.bottom - bar.top) * done / span);
                else
                    bar.right = bar.left + static_cast<LONG>((bar.right - bar.left) * done / span);
                if (bar.right > bar.left && bar.bottom > bar.top)
                    FillColor(dc, bar, ColorOr(pb->bar, COLOR_HIGHLIGHT));
            }
        }
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        const LRESULT old = MAKELONG(pb->low, pb->high);
        if (msg == PBM_SETRANGE) {
            pb->low = static_cast<SHORT>(LOWORD(lParam));
            pb->high = static_cast<SHORT>(HIWORD(lParam));
        } else {
            pb->low = static_cast<int>(wParam);
            pb->high = static_cast<int>(lParam);
        }
        pb->pos = pb->Clamp(pb->pos);
        InvalidateRect(hwnd, nullptr, FALSE);
        return old;
    }
    case PBM_GETRANGE: {
        if (auto* range = reinterpret_cast<PBRANGE*>(lParam))
            *range = PBRANGE{pb->low, pb->high};
        return wParam ? pb->low : pb->high;
    }
    case PBM_SETPOS: {
        const int old = pb->pos;
        pb->pos = pb->Clamp(static_cast<int>(wParam));
        return changed(old);
    }
    case PBM_DELTAPOS: {
        const int old = pb->pos;
        pb->pos = pb->Clamp(pb->pos + static_cast<int>(wParam));
        return changed(old);
    }
    case PBM_GETPOS:
        return pb->pos;
    case PBM_SETSTEP: {
        const int old = pb->step;
        pb->step = static_cast<int>(wParam);
        return old;
    }
    case PBM_STEPIT: {
        const int old = pb->pos;
        int next = pb->pos + pb->step;
        // Past the end the bar starts over from the beginning of the range.
        if (pb->high > pb->low && (next > pb->high || next < pb->low))
            next = pb->low + ((next - pb->low) % (pb->high - pb->low) + (pb->high - pb->low)) % (pb->high - pb->low);
        pb->pos = pb->Clamp(next);
        return changed(old);
    }
    case PBM_SETBARCOLOR: {
        const COLORREF old = pb->bar;
        pb->bar = static_cast<COLORREF>(lParam);
        return old;
    }
    case PBM_SETBKCOLOR: {
        const COLORREF old = pb->bk;
        pb->bk = static_cast<COLORREF>(lParam);
        return old;
    }
    case PBM_SETMARQUEE:
        pb->marquee = wParam != 0;
        return TRUE;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterProgress() {
    RegisterControlClass(PROGRESS_CLASSW, ProgressProc);
}

} // namespace platform::ui::controls
