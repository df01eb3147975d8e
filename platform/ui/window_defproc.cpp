// The default window procedure, and calling a window procedure.

#include "platform/ui/window.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window_internal.h"

using namespace platform;
using namespace platform::ui;

namespace platform::ui {
namespace {

WPARAM SizeType(const Window& w) {
    if (w.style & WS_MINIMIZE)
        return SIZE_MINIMIZED;
    if (w.style & WS_MAXIMIZE)
        return SIZE_MAXIMIZED;
    return SIZE_RESTORED;
}

} // namespace
} // namespace platform::ui

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!proc)
        return 0;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    switch (msg) {
    case WM_NCCREATE: {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        std::lock_guard lock(s.mutex);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName))
            w->text = cs->lpszName;
        return TRUE;
    }
    case WM_NCCALCSIZE: {
        DWORD style, exStyle;
        bool menu;
        {
            std::lock_guard lock(s.mutex);
            style = w->style;
            exStyle = w->exStyle;
            menu = !(style & WS_CHILD) && w->id != 0;
        }
        RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
        if (!r)
            return 0;
        const RECT in = NonClientInsets(style, exStyle, menu);
        r->left += in.left;
        r->top += in.top;
        r->right -= in.right;
        r->bottom -= in.bottom;
        if (r->right < r->left)
            r->right = r->left;
        if (r->bottom < r->top)
            r->bottom = r->top;
        return 0;
    }
    case WM_SETTEXT: {
        {
            std::lock_guard lock(s.mutex);
            w->text = lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string();
        }
        Publish(w);
        return TRUE;
    }
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        std::lock_guard lock(s.mutex);
        return static_cast<LRESULT>(CopyTruncated(reinterpret_cast<LPWSTR>(lParam), wParam, w->text));
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(s.mutex);
        return static_cast<LRESULT>(w->text.size());
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            Send(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case SC_MINIMIZE:
            ShowWindow(hwnd, SW_MINIMIZE);
            return 0;
        case SC_MAXIMIZE:
            ShowWindow(hwnd, SW_MAXIMIZE);
            return 0;
        case SC_RESTORE:
            ShowWindow(hwnd, SW_RESTORE);
            return 0;
        default:
            return 0;
        }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_WINDOWPOSCHANGED: {
        const auto* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!wp)
            return 0;
        RECT client;
        POINT origin;
        WPARAM type;
        {
            std::lock_guard lock(s.mutex);
            client = w->client;
            origin = POINT{w->rect.left + w->client.left, w->rect.top + w->client.top};
            type = SizeType(*w);
        }
        if (!(wp->flags & SWP_NOMOVE))
            Send(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
        if (!(wp->flags & SWP_NOSIZE) || (wp->flags & SWP_FRAMECHANGED))
            Send(hwnd, WM_SIZE, type, MAKELPARAM(client.right - client.left, client.bottom - client.top));
        return 0;
    }
    case WM_SETCURSOR: {
        // A child's parent may choose first.
        HWND parent = nullptr;
        HCURSOR classCursor = nullptr;
        {
            std::lock_guard lock(s.mutex);
            if (w->style & WS_CHILD)
                parent = w->parent;
            classCursor = w->cls->wc.hCursor;
        }
        if (parent && Send(parent, WM_SETCURSOR, wParam, lParam))
            return TRUE;
        const auto hit = static_cast<SHORT>(LOWORD(lParam));
        LPCWSTR shape = IDC_ARROW;
        switch (hit) {
        case HTCLIENT:
            if (!classCursor)
                return FALSE;
            SetCursor(classCursor);
            return TRUE;
        case HTLEFT:
        case HTRIGHT:
            shape = IDC_SIZEWE;
            break;
        case HTTOP:
        case HTBOTTOM:
            shape = IDC_SIZENS;
            break;
        case HTTOPLEFT:
        case HTBOTTOMRIGHT:
            shape = IDC_SIZENWSE;
            break;
        case HTTOPRIGHT:
        case HTBOTTOMLEFT:
            shape = IDC_SIZENESW;
            break;
        default:
            break;
        }
        // The sizing edges are settled here; elsewhere the arrow shows and the answer stays open.
        SetCursor(LoadCursorW(nullptr, shape));
        return shape == IDC_ARROW ? FALSE : TRUE;
    }
    case WM_NCHITTEST: {
        POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
        RECT wr, cr;
        GetWindowRect(hwnd, &wr);
        GetClientRect(hwnd, &cr);
        POINT c{0, 0};
        ClientToScreen(hwnd, &c);
        if (p.x < wr.left || p.x >= wr.right || p.y < wr.top || p.y >= wr.bottom)
            return HTNOWHERE;
        if (p.x >= c.x && p.x < c.x + cr.right && p.y >= c.y && p.y < c.y + cr.bottom)
            return HTCLIENT;
        std::lock_guard lock(s.mutex);
        if ((w->style & WS_CAPTION) == WS_CAPTION && p.y < c.y)
            return HTCAPTION;
        return HTBORDER;
    }
    case WM_PAINT: {
        std::lock_guard lock(s.mutex);
        w->needsPaint = false;
        w->needsErase = false;
        return 0;
    }
    case WM_ERASEBKGND: {
        std::lock_guard lock(s.mutex);
        w->needsErase = false;
        return w->cls->wc.hbrBackground ? 1 : 0;
    }
    case WM_ICONERASEBKGND:
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam))
            SetFocus(hwnd);
        return 0;
    case WM_NCACTIVATE:
        return TRUE;
    case WM_MOUSEACTIVATE:
        return 1; // MA_ACTIVATE
    case WM_SETREDRAW: {
        std::lock_guard lock(s.mutex);
        w->redraw = wParam != 0;
        return 0;
    }
    case WM_SETICON: {
        HICON old;
        {
            std::lock_guard lock(s.mutex);
            HICON& slot = wParam ? w->iconBig : w->iconSmall;
            old = slot;
            slot = reinterpret_cast<HICON>(lParam);
        }
        NoteWindowChange(hwnd);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON: {
        std::lock_guard lock(s.mutex);
        return reinterpret_cast<LRESULT>(wParam ? w->iconBig : w->iconSmall);
    }
    case WM_QUERYDRAGICON: {
        std::lock_guard lock(s.mutex);
        return reinterpret_cast<LRESULT>(w->cls->wc.hIcon);
    }
    case WM_CANCELMODE:
        if (GetCapture() == hwnd)
            ReleaseCapture();
        return 0;
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL:
    case WM_HELP:
    case WM_APPCOMMAND: {
        HWND up;
        {
            std::lock_guard lock(s.mutex);
            up = (w->style & WS_CHILD) ? w->parent : (msg == WM_HELP ? w->owner : nullptr);
        }
        if (up)
            return Send(up, msg, msg == WM_CONTEXTMENU ? wParam : wParam, lParam);
        return 0;
    }
    case WM_GETMINMAXINFO:
    case WM_SHOWWINDOW:
    case WM_WINDOWPOSCHANGING:
    case WM_ENDSESSION:
    default:
        return 0;
    }
}
