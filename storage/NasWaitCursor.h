// The wait cursor while a NAS dialog blocks on the network; the cursor before it comes back when it ends.
#pragma once

#include "platform/gdi/wingdi.h"
#include "platform/ui/window.h"

class CNasWaitCursor {
public:
    CNasWaitCursor() : m_hPrevious(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CNasWaitCursor() { SetCursor(m_hPrevious); }
    CNasWaitCursor(const CNasWaitCursor&) = delete;
    CNasWaitCursor& operator=(const CNasWaitCursor&) = delete;

private:
    HCURSOR m_hPrevious;
};
