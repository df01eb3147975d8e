// Window shapes: SetWindowRgn and GetWindowRgn.
#include "platform/base/errors.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window_internal.h"

namespace platform::ui {

HRGN CopyWindowShape(HWND hwnd) {
    HRGN shape = nullptr;
    {
        std::lock_guard lock(GetState().mutex);
        WindowPtr w = FindWindowLocked(hwnd);
        if (!w || !w->region)
            return nullptr;
        shape = w->region;
    }
    HRGN copy = CreateRectRgn(0, 0, 0, 0);
    if (copy && CombineRgn(copy, shape, nullptr, RGN_COPY) == ERROR) {
        // The shape was replaced meanwhile and its region freed: the window now has the other one.
        DeleteObject(copy);
        return CopyWindowShape(hwnd);
    }
    return copy;
}

} // namespace platform::ui

using namespace platform::ui;

int SetWindowRgn(HWND hwnd, HRGN region, BOOL redraw) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    if (region && GetObjectType(region) != OBJ_REGION) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    HRGN old = nullptr;
    {
        std::lock_guard lock(GetState().mutex);
        old = w->region;
        w->region = region;
    }
    if (old && old != region)
        DeleteObject(old);
    NoteWindowChange(hwnd);
    if (redraw)
        RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return 1;
}

int GetWindowRgn(HWND hwnd, HRGN region) {
    if (!ValidWindow(hwnd))
        return ERROR;
    HRGN shape = CopyWindowShape(hwnd);
    if (!shape)
        return ERROR;
    const int kind = CombineRgn(region, shape, nullptr, RGN_COPY);
    DeleteObject(shape);
    return kind;
}
