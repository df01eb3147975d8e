#include "engine/LoadAnimTreeCtrl.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CLoadAnimTreeCtrl, CLoadProgressTreeCtrl)

CLoadAnimTreeCtrl::CLoadAnimTreeCtrl() {
    m_nPeriod = 125;
    m_bAnimate = 1;
}

CLoadAnimTreeCtrl::~CLoadAnimTreeCtrl() {
    if (m_hBackBrush)
        DeleteObject(m_hBackBrush);
    if (m_hCursor)
        DestroyCursor(m_hCursor);
}

void CLoadAnimTreeCtrl::SetAnimCursor(HCURSOR hCursor) {
    if (m_hCursor)
        DestroyCursor(m_hCursor);
    m_hCursor = hCursor;
}

void CLoadAnimTreeCtrl::OnLoadStart(HTREEITEM hPlaceholder) {
    CLoadProgressTreeCtrl::OnLoadStart(hPlaceholder);
    m_nFrame = 0;
    m_rcIcon = RECT{};
    RECT item{};
    if (hPlaceholder && TreeView_GetImageList(m_hWnd, TVSIL_NORMAL) && GetItemRect(hPlaceholder, &item, TRUE)) {
        const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
        const int top = item.top + ((item.bottom - item.top) - cy) / 2;
        m_rcIcon = RECT{item.left - 3 - cx, top, item.left - 3, top + cy};
    }
    if (m_hBackBrush)
        DeleteObject(m_hBackBrush);
    const COLORREF back = GetBkColor();
    m_hBackBrush = CreateSolidBrush(back == static_cast<COLORREF>(-1) ? GetSysColor(COLOR_WINDOW) : back);
}

void CLoadAnimTreeCtrl::OnLoadStep(int nTimerTick, int nExpected, int nLoaded) {
    CLoadProgressTreeCtrl::OnLoadStep(nTimerTick, nExpected, nLoaded);
    if (!nTimerTick)
        return;
    m_nFrame = (m_nFrame + 1) % 10;
    if (m_rcIcon.right <= m_rcIcon.left)
        return;
    HDC dc = ::GetDC(m_hWnd);
    if (!dc)
        return;
    if (m_hCursor)
        DrawIconEx(dc, m_rcIcon.left, m_rcIcon.top, m_hCursor, m_rcIcon.right - m_rcIcon.left,
                   m_rcIcon.bottom - m_rcIcon.top, static_cast<UINT>(m_nFrame), m_hBackBrush, DI_NORMAL);
    else
        FillRect(dc, &m_rcIcon, m_hBackBrush);
    ::ReleaseDC(m_hWnd, dc);
}

void CLoadAnimTreeCtrl::OnLoadEnd() {
    CLoadProgressTreeCtrl::OnLoadEnd();
}
