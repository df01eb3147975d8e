// CWindowDC: a device context on a whole window, its frame and caption included.
//
// The same as the framework: the constructor calls GetWindowDC and the destructor ReleaseDC. Where it differs:
// when GetWindowDC fails the object holds no DC instead of throwing, and drawing through it does nothing.
#pragma once

#include "platform/afx/DC.h"

class CWnd;

class CWindowDC : public CDC {
    DECLARE_DYNAMIC(CWindowDC)
public:
    explicit CWindowDC(CWnd* wnd);
    ~CWindowDC() override;

protected:
    HWND m_hWnd = nullptr;
};
