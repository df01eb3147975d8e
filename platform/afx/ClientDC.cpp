#include "platform/afx/ClientDC.h"

#include "platform/afx/Wnd.h"
#include "platform/ui/paint.h"

IMPLEMENT_DYNAMIC(CClientDC, CDC)

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) {
    if (HDC dc = ::GetDC(m_hWnd))
        Attach(dc);
}

CClientDC::~CClientDC() {
    if (HDC dc = Detach())
        ::ReleaseDC(m_hWnd, dc);
}
