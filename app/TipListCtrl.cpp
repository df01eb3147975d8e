#include "app/TipListCtrl.h"

#include "platform/ui/commctrl.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CTipListCtrl, CListCtrl)

BEGIN_MESSAGE_MAP(CTipListCtrl, CListCtrl)
ON_WM_MOUSEMOVE()
ON_WM_MOUSELEAVE()
ON_NOTIFY_REFLECT(LVN_INSERTITEM, OnInsertItem)
ON_WM_HSCROLL()
ON_WM_VSCROLL()
END_MESSAGE_MAP()

BOOL CTipListCtrl::EnableTips(UINT nIconType4, UINT nIconType2, UINT nIconType1, UINT nIconType8,
                              ScrollCallback pfnCallback, LPVOID lpParam) {
    m_bTipsEnabled = TRUE;
    m_pfnScrollCallback = pfnCallback;
    m_lpCallbackParam = lpParam;
    return m_balloon.Create(this, nIconType4, nIconType2, nIconType1, nIconType8);
}

BOOL CTipListCtrl::GetTipText(DWORD* pItemData, CString& strText) {
    POINT pt{};
    GetCursorPos(&pt);
    ScreenToClient(&pt);
    LVHITTESTINFO hit{};
    hit.pt = pt;
    const int nItem = HitTest(&hit);
    if (nItem < 0)
        return FALSE;
    if (pItemData)
        *pItemData = static_cast<DWORD>(GetItemData(nItem));
    strText.Format(u"%s\n%s", static_cast<LPCTSTR>(GetItemText(nItem, 1)), static_cast<LPCTSTR>(GetItemText(nItem, 2)));
    return TRUE;
}

void CTipListCtrl::ClearScrollCallback() {
    m_pfnScrollCallback = nullptr;
    m_lpCallbackParam = nullptr;
}

BOOL CTipListCtrl::PreTranslateMessage(MSG* pMsg) {
    m_balloon.RelayEvent(pMsg);
    return CListCtrl::PreTranslateMessage(pMsg);
}

void CTipListCtrl::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_balloon.tracking) {
        m_balloon.tracking = TRUE;
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = m_hWnd;
        track.dwHoverTime = 0;
        TrackMouseEvent(&track);
    }
    CListCtrl::OnMouseMove(nFlags, point);
}

void CTipListCtrl::OnMouseLeave() {
    m_balloon.tracking = FALSE;
    if (m_balloon.GetSafeHwnd())
        m_balloon.ShowWindow(SW_HIDE);
}

void CTipListCtrl::OnInsertItem(NMHDR*, LRESULT* pResult) {
    if (m_bTipsEnabled)
        m_balloon.Refresh();
    *pResult = 0;
}

void CTipListCtrl::OnScrolled(UINT nSBCode) {
    if (nSBCode != SB_ENDSCROLL || GetItemCount() <= 0 || !m_pfnScrollCallback)
        return;
    if (!m_pfnScrollCallback(m_lpCallbackParam))
        ClearScrollCallback();
}

void CTipListCtrl::OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    OnScrolled(nSBCode);
    CListCtrl::OnHScroll(nSBCode, nPos, pScrollBar);
}

void CTipListCtrl::OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    OnScrolled(nSBCode);
    CListCtrl::OnVScroll(nSBCode, nPos, pScrollBar);
}
