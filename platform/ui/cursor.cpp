// The mouse cursor: its position and its shape.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/gdi/pixels.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

HCURSOR SetCursor(HCURSOR cursor) {
    if (cursor && !platform::gdi::IsIconHandle(cursor)) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return nullptr;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    HCURSOR old = s.cursorShape;
    s.cursorShape = cursor;
    return old;
}

HCURSOR GetCursor() {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    return s.cursorShape;
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    *point = s.cursor;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    State& s = GetState();
    POINT moved{std::clamp(x, 0, kScreenWidth - 1), std::clamp(y, 0, kScreenHeight - 1)};
    {
        std::lock_guard lock(s.mutex);
        s.cursor = moved;
    }
    OnCursorMoved(moved);
    return TRUE;
}
