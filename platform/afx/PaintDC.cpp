#include "platform/afx/PaintDC.h"

#include "platform/afx/Wnd.h"

IMPLEMENT_DYNAMIC(CPaintDC, CDC)

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) {
    if (HDC dc = ::BeginPaint(m_hWnd, &m_ps))
        Attach(dc);
}

CPaintDC::~CPaintDC() {
    // EndPaint frees the DC, so the wrapper lets go of it first.
    if (Detach())
        ::EndPaint(m_hWnd, &m_ps);
}
