// CPaintDC: the device context of one WM_PAINT.
//
// The same as the framework: the constructor calls BeginPaint for the window and the destructor EndPaint; m_ps
// holds the paint record. Where it differs: when BeginPaint fails (the window is gone) the object holds no DC
// instead of throwing, and drawing through it does nothing.
#pragma once

#include "platform/afx/DC.h"
#include "platform/ui/paint.h"

class CWnd;

class CPaintDC : public CDC {
    DECLARE_DYNAMIC(CPaintDC)
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd = nullptr;
};
