#include "platform/ui/commctrl_internal.h"

#include "platform/base/errors.h"

namespace platform::ui::controls {

void RegisterControlClass(LPCWSTR name, WNDPROC proc, UINT style) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = style | CS_GLOBALCLASS;
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = kStateBytes;
    wc.lpszClassName = name;
    RegisterSystemClass(wc);
}

namespace {

void RegisterAll() {
    static const bool done = [] {
        RegisterTreeView();
        RegisterListView();
        RegisterHeader();
        RegisterTabControl();
        RegisterProgress();
        RegisterTrackbar();
        RegisterTooltip();
        return true;
    }();
    (void)done;
}

} // namespace
} // namespace platform::ui::controls

void InitCommonControls() {
    platform::ui::controls::RegisterAll();
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
    if (!icc || icc->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::ui::controls::RegisterAll();
    return TRUE;
}
