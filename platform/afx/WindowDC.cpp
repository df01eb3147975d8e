#include "platform/afx/WindowDC.h"

#include "platform/afx/Wnd.h"
#include "platform/ui/paint.h"

IMPLEMENT_DYNAMIC(CWindowDC, CDC)

CWindowDC::CWindowDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) {
    if (HDC dc = ::GetWindowDC(m_hWnd))
        Attach(dc);
}

CWindowDC::~CWindowDC() {
    if (HDC dc = Detach())
        ::ReleaseDC(m_hWnd, dc);
}
