// CClientDC: a device context on a window's client area for drawing outside WM_PAINT.
//
// The same as the framework: the constructor calls GetDC for the window and the destructor ReleaseDC. Where it
// differs: when GetDC fails (no window: this layer has no screen to draw on) the object holds no DC instead of
// throwing, and drawing through it does nothing.
#pragma once

#include "platform/afx/DC.h"

class CWnd;

class CClientDC : public CDC {
    DECLARE_DYNAMIC(CClientDC)
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};
