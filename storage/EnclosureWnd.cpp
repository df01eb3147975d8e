#include "storage/EnclosureWnd.h"

IMPLEMENT_DYNAMIC(CEnclosureWnd, CWnd)

CEnclosureWnd::~CEnclosureWnd() {
    if (m_hWnd)
        DestroyWindow();
}

BOOL CEnclosureWnd::Create() {
    if (m_hWnd)
        return TRUE;
    CreateEx(WS_EX_TOPMOST, nullptr, u"ONE_TOUCH_NOTIFY_TARGET", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr);
    return m_hWnd != nullptr;
}
