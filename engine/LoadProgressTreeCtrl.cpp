#include "engine/LoadProgressTreeCtrl.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"

#include <algorithm>
#include <cmath>

IMPLEMENT_DYNAMIC(CLoadProgressTreeCtrl, CCheckTreeCtrl)

CLoadProgressTreeCtrl::CLoadProgressTreeCtrl() = default;

CLoadProgressTreeCtrl::~CLoadProgressTreeCtrl() {
    OnLoadEnd();
}

int CLoadProgressTreeCtrl::FillWidth(int nExpected, int nLoaded) {
    if (nExpected > 0)
        return std::clamp(nLoaded * 50 / nExpected, 0, 50);
    const double n = nLoaded;
    const double w = 50.0 * (1.0 + n / 5.0 - std::log(std::exp(2.0 * n / 5.0) + std::exp(2.0) - 1.0) / 2.0);
    return std::clamp(static_cast<int>(w), 0, 50);
}

void CLoadProgressTreeCtrl::OnLoadStart(HTREEITEM hPlaceholder) {
    CCheckTreeCtrl::OnLoadStart(hPlaceholder);
    RECT text{};
    if (!hPlaceholder || !GetItemRect(hPlaceholder, &text, TRUE))
        text = RECT{};
    const int height = text.bottom - text.top;
    const int margin = std::max(0, (height - 16) / 2);
    const int width = text.right - text.left;
    m_rcBar = RECT{text.left + width + 3, text.top + margin, text.left + width + 3 + 56, text.top + margin + 16};
    m_rcFill = RECT{m_rcBar.left + 3, m_rcBar.top + 3, m_rcBar.left + 3, m_rcBar.bottom - 3};
    if (!m_hFrameBrush)
        m_hFrameBrush = CreateSolidBrush(RGB(0, 0, 0));
    if (!m_hFillBrush)
        m_hFillBrush = CreateSolidBrush(RGB(0, 255, 0));
}

void CLoadProgressTreeCtrl::OnLoadStep(int nTimerTick, int nExpected, int nLoaded) {
    CCheckTreeCtrl::OnLoadStep(nTimerTick, nExpected, nLoaded);
    if (nTimerTick || !m_hFrameBrush || m_rcBar.right <= m_rcBar.left)
        return;
    m_rcFill.right = m_rcFill.left + FillWidth(nExpected, nLoaded);
    HDC dc = ::GetDC(m_hWnd);
    if (!dc)
        return;
    FrameRect(dc, &m_rcBar, m_hFrameBrush);
    if (m_rcFill.right > m_rcFill.left)
        FillRect(dc, &m_rcFill, m_hFillBrush);
    ::ReleaseDC(m_hWnd, dc);
}

void CLoadProgressTreeCtrl::OnLoadEnd() {
    CCheckTreeCtrl::OnLoadEnd();
    if (m_hFrameBrush)
        DeleteObject(m_hFrameBrush);
    if (m_hFillBrush)
        DeleteObject(m_hFillBrush);
    m_hFrameBrush = m_hFillBrush = nullptr;
}
