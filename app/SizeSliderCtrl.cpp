#include "app/SizeSliderCtrl.h"

#include "platform/afx/ClientDC.h"
#include "platform/afx/DC.h"
#include "platform/afx/GdiObject.h"

IMPLEMENT_DYNAMIC(CSizeSliderCtrl, CSliderCtrl)

BEGIN_MESSAGE_MAP(CSizeSliderCtrl, CSliderCtrl)
ON_NOTIFY_REFLECT(NM_CUSTOMDRAW, OnCustomDraw)
END_MESSAGE_MAP()

namespace {
// Every bar begins at this coordinate of the control.
constexpr int kBarStart = 9;
} // namespace

CSizeSliderCtrl::CSizeSliderCtrl() : restColor(0xFF00FF), fillColor(0xFF0000) {}

int CSizeSliderCtrl::SplitPoint(int nLength) const {
    const int nRange = GetRangeMax();
    if (nRange == 0)
        return kBarStart;
    return kBarStart + static_cast<int>(static_cast<long long>(nLength) * GetPos() / nRange);
}

void CSizeSliderCtrl::PaintPart(CDC* pDC, RECT rc, COLORREF color, BOOL bVertical, BOOL bShrinkAllFirst) {
    CBrush brush(color);
    CPen pen(PS_SOLID, 1, color);
    CBrush* pOldBrush = pDC->SelectObject(&brush);
    CPen* pOldPen = pDC->SelectObject(&pen);
    BOOL bFirst = TRUE;
    while (rc.right > rc.left && rc.bottom > rc.top) {
        pDC->RoundRect(rc.left, rc.top, rc.right, rc.bottom, 2, 2);
        if (bFirst && bShrinkAllFirst)
            ::InflateRect(&rc, -1, -1);
        else if (bVertical)
            ::InflateRect(&rc, -1, 0);
        else
            ::InflateRect(&rc, 0, -1);
        bFirst = FALSE;
    }
    pDC->SelectObject(pOldPen);
    pDC->SelectObject(pOldBrush);
}

void CSizeSliderCtrl::PaintBar(CDC* pDC, const RECT& rcBar, BOOL bVertical, BOOL bRestShrinksAllFirst) {
    RECT rcFill = rcBar;
    RECT rcRest = rcBar;
    if (bVertical) {
        const int nSplit = SplitPoint(rcBar.bottom - rcBar.top);
        rcFill.top = kBarStart;
        rcFill.bottom = nSplit;
        rcRest.top = nSplit;
    } else {
        const int nSplit = SplitPoint(rcBar.right - rcBar.left);
        rcFill.left = kBarStart;
        rcFill.right = nSplit;
        rcRest.left = nSplit;
    }
    PaintPart(pDC, rcRest, restColor, bVertical, bRestShrinksAllFirst);
    PaintPart(pDC, rcFill, fillColor, bVertical, FALSE);
}

void CSizeSliderCtrl::DrawSplit() {
    CRect rcClient;
    GetClientRect(&rcClient);
    RECT rcBar{10, 7, rcClient.Width() - 10, 19};
    {
        CClientDC dc(this);
        PaintBar(&dc, rcBar, FALSE, TRUE);
    }
    Invalidate(TRUE);
}

void CSizeSliderCtrl::OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* pDraw = reinterpret_cast<NMCUSTOMDRAW*>(pNMHDR);
    *pResult = CDRF_DODEFAULT;
    switch (pDraw->dwDrawStage) {
    case CDDS_PREPAINT:
        *pResult = CDRF_NOTIFYITEMDRAW;
        return;
    case CDDS_PREERASE:
    case CDDS_POSTERASE:
        *pResult = CDRF_SKIPDEFAULT;
        return;
    case CDDS_ITEMPREPAINT:
        if (pDraw->dwItemSpec != TBCD_CHANNEL)
            return;
        break;
    default:
        return;
    }
    CDC* pDC = CDC::FromHandle(pDraw->hdc);
    RECT rc = pDraw->rc;
    const BOOL bVertical = (rc.right - rc.left) < (rc.bottom - rc.top);
    // The channel grows across its length, gets a sunken edge, and what is left inside grows once more.
    if (bVertical)
        ::InflateRect(&rc, 5, 0);
    else
        ::InflateRect(&rc, 0, 5);
    pDC->DrawEdge(&rc, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    if (bVertical)
        ::InflateRect(&rc, 1, 0);
    else
        ::InflateRect(&rc, 0, 1);
    PaintBar(pDC, rc, bVertical, TRUE);
    *pResult = CDRF_SKIPDEFAULT;
}
