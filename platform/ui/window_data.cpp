// What a window holds: its longs and extra bytes, its text and its layered attributes.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/ui/broker.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window_internal.h"

#include <cstring>

using namespace platform;
using namespace platform::ui;

BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if ((flags & ~(LWA_COLORKEY | LWA_ALPHA)) || !(w->exStyle & WS_EX_LAYERED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    w->layered = LayeredState{true, key, alpha, flags};
    NoteWindowChange(hwnd);
    return TRUE;
}

BOOL GetLayeredWindowAttributes(HWND hwnd, COLORREF* key, BYTE* alpha, DWORD* flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (!(w->exStyle & WS_EX_LAYERED) || !w->layered.set) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (key)
        *key = w->layered.key;
    if (alpha)
        *alpha = w->layered.alpha;
    if (flags)
        *flags = w->layered.flags;
    return TRUE;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (index == GWL_STYLE)
            return static_cast<LONG_PTR>(static_cast<LONG>(e.style));
        if (index == GWL_EXSTYLE)
            return static_cast<LONG_PTR>(static_cast<LONG>(e.exStyle));
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    std::lock_guard lock(GetState().mutex);
    switch (index) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_STYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWLP_USERDATA:
        return w->userData;
    case GWLP_ID:
        return static_cast<LONG_PTR>(w->id);
    default:
        break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG) <= w->extra.size()) {
            LONG v;
            std::memcpy(&v, w->extra.data() + index, sizeof v);
            return v;
        }
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR newValue) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    if (index == GWL_STYLE || index == GWL_EXSTYLE) {
        STYLESTRUCT ss{};
        {
            std::lock_guard lock(s.mutex);
            ss.styleOld = index == GWL_STYLE ? w->style : w->exStyle;
        }
        ss.styleNew = static_cast<DWORD>(newValue);
        Send(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        {
            std::lock_guard lock(s.mutex);
            if (index == GWL_STYLE)
                w->style = ss.styleNew;
            else
                w->exStyle = ss.styleNew;
            // A window that stops being layered forgets how it was layered.
            if (!(w->exStyle & WS_EX_LAYERED))
                w->layered = LayeredState{};
        }
        Send(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        Publish(w);
        SetLastError(ERROR_SUCCESS);
        return static_cast<LONG_PTR>(static_cast<LONG>(ss.styleOld));
    }
    std::lock_guard lock(s.mutex);
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_WNDPROC:
        if (!newValue) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(newValue);
        return old;
    case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(newValue);
        return old;
    case GWLP_HWNDPARENT:
        if (w->parent) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->owner);
        w->owner = newValue ? RootLocked(reinterpret_cast<HWND>(newValue)) : nullptr;
        return old;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = newValue;
        SetLastError(ERROR_SUCCESS);
        return old;
    case GWLP_ID:
        old = static_cast<LONG_PTR>(w->id);
        w->id = static_cast<UINT_PTR>(newValue);
        SetLastError(ERROR_SUCCESS);
        return old;
    default:
        break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    if (static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        LONG o;
        std::memcpy(&o, w->extra.data() + index, sizeof o);
        const LONG n = static_cast<LONG>(newValue);
        std::memcpy(w->extra.data() + index, &n, sizeof n);
        return o;
    }
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &newValue, sizeof newValue);
    return old;
}

LONG GetWindowLongW(HWND hwnd, int index) {
    return static_cast<LONG>(GetWindowLongPtrW(hwnd, index));
}

LONG SetWindowLongW(HWND hwnd, int index, LONG newValue) {
    return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, newValue));
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!ValidWindow(hwnd))
        return FALSE;
    return Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount) {
    if (!text || maxCount <= 0)
        return 0;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            text[0] = 0;
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return static_cast<int>(CopyTruncated(text, static_cast<size_t>(maxCount), e.title));
    }
    if (!ValidWindow(hwnd)) {
        text[0] = 0;
        return 0;
    }
    text[0] = 0;
    return static_cast<int>(Send(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return static_cast<int>(e.title.size());
    }
    if (!ValidWindow(hwnd))
        return 0;
    return static_cast<int>(Send(hwnd, WM_GETTEXTLENGTH, 0, 0));
}
