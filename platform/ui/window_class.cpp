// Window classes: registration, the system classes, class information and class longs.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/ui/broker.h"
#include "platform/ui/window_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

WindowClassPtr FindClassLocked(State& s, LPCWSTR name) {
    if (!name)
        return nullptr;
    if (IS_INTRESOURCE(name)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& c : s.classes)
            if (c->atom == atom)
                return c;
        return nullptr;
    }
    for (auto& c : s.classes)
        if (EqualsNoCase(c->name, name))
            return c;
    return nullptr;
}

ATOM RegisterSystemClass(const WNDCLASSEXW& wc) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto existing = FindClassLocked(s, wc.lpszClassName);
    auto cls = existing ? existing : std::make_shared<WindowClass>();
    cls->wc = wc;
    cls->name = wc.lpszClassName;
    cls->wc.lpszClassName = nullptr;
    cls->menuName = wc.lpszMenuName && !IS_INTRESOURCE(wc.lpszMenuName) ? std::u16string(wc.lpszMenuName) : u"";
    cls->system = true;
    if (!existing) {
        cls->atom = s.nextAtom++;
        s.classes.push_back(cls);
    }
    return cls->atom;
}

void EnsureSystemClasses() {
    static const bool done = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = u"STATIC";
        RegisterSystemClass(wc);
        return true;
    }();
    (void)done;
}

} // namespace platform::ui

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXW) || !wc->lpszClassName || !wc->lpfnWndProc || wc->cbWndExtra < 0 ||
        wc->cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    EnsureSystemClasses();
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (auto existing = FindClassLocked(s, wc->lpszClassName); existing && !existing->system) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->wc = *wc;
    cls->name = wc->lpszClassName;
    cls->wc.lpszClassName = nullptr;
    cls->menuName = wc->lpszMenuName && !IS_INTRESOURCE(wc->lpszMenuName) ? std::u16string(wc->lpszMenuName) : u"";
    cls->atom = s.nextAtom++;
    // A program's class of the same name as a system class hides the system one.
    s.classes.insert(s.classes.begin(), cls);
    return cls->atom;
}

ATOM RegisterClassW(const WNDCLASSW* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXW ex{sizeof(WNDCLASSEXW), wc->style,        wc->lpfnWndProc,   wc->cbClsExtra,
                   wc->cbWndExtra,      wc->hInstance,    wc->hIcon,         wc->hCursor,
                   wc->hbrBackground,   wc->lpszMenuName, wc->lpszClassName, nullptr};
    return RegisterClassExW(&ex);
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto cls = FindClassLocked(s, className);
    if (!cls || cls->system) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (cls->liveWindows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    s.classes.erase(std::find(s.classes.begin(), s.classes.end(), cls));
    return TRUE;
}

BOOL GetClassInfoExW(HINSTANCE, LPCWSTR className, LPWNDCLASSEXW wc) {
    EnsureSystemClasses();
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto cls = FindClassLocked(s, className);
    if (!cls || !wc) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wc = cls->wc;
    wc->cbSize = sizeof(WNDCLASSEXW);
    wc->lpszClassName = cls->name.c_str();
    if (!cls->menuName.empty())
        wc->lpszMenuName = cls->menuName.c_str();
    return cls->atom;
}

ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    const WNDCLASSEXW& wc = w->cls->wc;
    switch (index) {
    case GCLP_HCURSOR:
        return reinterpret_cast<ULONG_PTR>(wc.hCursor);
    case GCLP_HICON:
        return reinterpret_cast<ULONG_PTR>(wc.hIcon);
    case GCLP_HICONSM:
        return reinterpret_cast<ULONG_PTR>(wc.hIconSm);
    case GCLP_HBRBACKGROUND:
        return reinterpret_cast<ULONG_PTR>(wc.hbrBackground);
    case GCL_STYLE:
        return wc.style;
    case GCLP_WNDPROC:
        return reinterpret_cast<ULONG_PTR>(wc.lpfnWndProc);
    case GCLP_HMODULE:
        return reinterpret_cast<ULONG_PTR>(wc.hInstance);
    case GCL_CBWNDEXTRA:
        return static_cast<ULONG_PTR>(wc.cbWndExtra);
    case GCL_CBCLSEXTRA:
        return static_cast<ULONG_PTR>(wc.cbClsExtra);
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR newValue) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    WNDCLASSEXW& wc = w->cls->wc;
    auto swap = [&](auto& field) {
        using Field = std::remove_reference_t<decltype(field)>;
        const auto old = reinterpret_cast<ULONG_PTR>(field);
        field = reinterpret_cast<Field>(newValue);
        return old;
    };
    switch (index) {
    case GCLP_HCURSOR:
        return swap(wc.hCursor);
    case GCLP_HICON:
        return swap(wc.hIcon);
    case GCLP_HICONSM:
        return swap(wc.hIconSm);
    case GCLP_HBRBACKGROUND:
        return swap(wc.hbrBackground);
    case GCL_STYLE: {
        const ULONG_PTR old = wc.style;
        wc.style = static_cast<UINT>(newValue);
        return old;
    }
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSW wc) {
    WNDCLASSEXW ex{};
    const BOOL r = GetClassInfoExW(instance, className, &ex);
    if (!r || !wc)
        return FALSE;
    *wc = WNDCLASSW{ex.style, ex.lpfnWndProc, ex.cbClsExtra,    ex.cbWndExtra,   ex.hInstance,
                    ex.hIcon, ex.hCursor,     ex.hbrBackground, ex.lpszMenuName, ex.lpszClassName};
    return r;
}

int GetClassNameW(HWND hwnd, LPWSTR className, int maxCount) {
    std::u16string name;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        name = e.className;
    } else {
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return 0;
        name = w->cls->name;
    }
    if (!className || maxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(CopyTruncated(className, static_cast<size_t>(maxCount), name));
}
