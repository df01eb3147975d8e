#include "app/MenuMemDC.h"

#include "platform/gdi/wingdi.h"

CMenuMemDC::CMenuMemDC(CDC* pTarget, const RECT& rect) : m_pTarget(pTarget), m_rect(rect) {
    // A printer's DC is drawn into directly.
    constexpr int kRasterPrinter = 2;
    if (::GetDeviceCaps(pTarget->GetSafeHdc(), TECHNOLOGY) == kRasterPrinter) {
        m_hDC = pTarget->m_hDC;
        m_hAttribDC = pTarget->m_hAttribDC;
        return;
    }
    if (CreateCompatibleDC(pTarget) && m_bitmap.CreateCompatibleBitmap(pTarget, m_rect.Width(), m_rect.Height())) {
        m_pOldBitmap = SelectObject(&m_bitmap);
        ::SetViewportOrgEx(m_hDC, -m_rect.left, -m_rect.top, nullptr);
        m_bMemory = TRUE;
    }
}

CMenuMemDC::~CMenuMemDC() {
    if (m_bMemory) {
        m_pTarget->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left, m_rect.top,
                          SRCCOPY);
        SelectObject(m_pOldBitmap);
    } else {
        // The printer's handles stay the target's.
        m_hDC = nullptr;
        m_hAttribDC = nullptr;
    }
}
