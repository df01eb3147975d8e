#include "app/PictureWnd.h"

#include "platform/afx/DC.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/PaintDC.h"
#include "platform/ui/controls.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CPictureWnd, CWnd)

BEGIN_MESSAGE_MAP(CPictureWnd, CWnd)
ON_WM_PAINT()
ON_WM_SIZE()
END_MESSAGE_MAP()

CPictureWnd::CPictureWnd() : m_hBkBrush(GetSysColorBrush(COLOR_BTNFACE)) {}

CPictureWnd::~CPictureWnd() {
    SetBitmap(static_cast<HBITMAP>(nullptr));
    if (m_hWnd)
        DestroyWindow();
}

BOOL CPictureWnd::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(nullptr, u"", dwStyle, rect, pParentWnd, nID);
}

BOOL CPictureWnd::ReplaceStatic(CWnd* pStatic) {
    if (!pStatic || !::IsWindow(pStatic->GetSafeHwnd()))
        return FALSE;
    CWnd* pParent = pStatic->GetParent();
    if (!pParent || !::IsWindow(pParent->GetSafeHwnd()))
        return FALSE;
    CRect rect;
    pStatic->GetWindowRect(&rect);
    pParent->ScreenToClient(&rect.TopLeft());
    pParent->ScreenToClient(&rect.BottomRight());
    const DWORD dwStyle = pStatic->GetStyle();
    const DWORD dwExStyle = pStatic->GetExStyle();
    CString strText;
    pStatic->GetWindowText(strText);
    const UINT nID = static_cast<UINT>(pStatic->GetDlgCtrlID());
    auto hBitmap = reinterpret_cast<HBITMAP>(pStatic->SendMessage(STM_GETIMAGE, IMAGE_BITMAP));
    if (hBitmap)
        pStatic->SendMessage(STM_SETIMAGE, IMAGE_BITMAP, 0);
    pStatic->DestroyWindow();
    if (!CreateEx(dwExStyle, nullptr, strText, dwStyle, rect, pParent, nID))
        return FALSE;
    if (hBitmap) {
        SetBitmap(hBitmap);
        SetDrawMode(6);
    }
    return TRUE;
}

void CPictureWnd::SetBitmap(HBITMAP hBitmap) {
    if (hBitmap == GetBitmap())
        return;
    if (m_bOwnsBitmap)
        m_bitmap.DeleteObject();
    else
        m_bitmap.Detach();
    m_bitmapSize = CSize(0, 0);
    if (hBitmap) {
        m_bitmap.Attach(hBitmap);
        BITMAP bm{};
        if (m_bitmap.GetBitmap(&bm))
            m_bitmapSize = CSize(bm.bmWidth, bm.bmHeight);
    }
    ResetSourceRect();
}

BOOL CPictureWnd::LoadBitmap(UINT nID, HINSTANCE hModule) {
    return LoadBitmap(MAKEINTRESOURCEW(nID), hModule);
}

BOOL CPictureWnd::LoadBitmap(LPCTSTR lpszName, HINSTANCE hModule) {
    auto hBitmap = reinterpret_cast<HBITMAP>(
        ::LoadImageW(hModule ? hModule : AfxGetResourceHandle(), lpszName, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    SetBitmap(hBitmap);
    return hBitmap != nullptr;
}

BOOL CPictureWnd::LoadBitmapFile(LPCTSTR lpszPath) {
    auto hBitmap = reinterpret_cast<HBITMAP>(::LoadImageW(nullptr, lpszPath, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (!hBitmap)
        return FALSE;
    SetBitmap(hBitmap);
    return TRUE;
}

HBITMAP CPictureWnd::ReleaseBitmap(BOOL bDelete) {
    HBITMAP hBitmap = GetBitmap();
    if (bDelete) {
        m_bOwnsBitmap = 1;
        SetBitmap(static_cast<HBITMAP>(nullptr));
    }
    return hBitmap;
}

void CPictureWnd::SetDrawMode(int nMode) {
    if (nMode < 1 || nMode > 8)
        nMode = 2;
    if (nMode == m_nDrawMode)
        return;
    m_nDrawMode = nMode;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetAlign(int nHorz, int nVert) {
    if (nHorz < 0 || nHorz > 4 || nHorz == m_nAlignX)
        nHorz = 0;
    if (nVert < 0 || nVert > 4 || nVert == m_nAlignY)
        nVert = 0;
    if (!nHorz && !nVert)
        return;
    if (nHorz)
        m_nAlignX = nHorz;
    if (nVert)
        m_nAlignY = nVert;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetSourceRect(const RECT& rect) {
    m_rcSource = CRect(std::max<LONG>(rect.left, 0), std::max<LONG>(rect.top, 0),
                       std::min<LONG>(rect.right, m_bitmapSize.cx), std::min<LONG>(rect.bottom, m_bitmapSize.cy));
    RecalcLayout(TRUE);
}

void CPictureWnd::ResetSourceRect() {
    m_rcSource = CRect(0, 0, m_bitmapSize.cx, m_bitmapSize.cy);
    RecalcLayout(TRUE);
}

void CPictureWnd::SetScale(double dScaleX, double dScaleY) {
    m_dScaleX = dScaleX;
    m_dScaleY = dScaleY;
    m_nDrawMode = 1;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetOffset(int x, int y) {
    m_nOffsetX = x;
    m_nOffsetY = y;
    m_nAlignX = m_nAlignY = 1;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetOffsetX(int x) {
    m_nOffsetX = x;
    m_nAlignX = 1;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetOffsetY(int y) {
    m_nOffsetY = y;
    m_nAlignY = 1;
    RecalcLayout(TRUE);
}

void CPictureWnd::SetBkColorIndex(int nIndex) {
    SetBkBrush(nIndex ? GetSysColorBrush(nIndex) : static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
}

void CPictureWnd::SetBkBrush(HBRUSH hBrush) {
    m_hBkBrush = hBrush;
    if (m_hWnd)
        Invalidate(TRUE);
}

void CPictureWnd::OnSize(UINT nType, int cx, int cy) {
    CWnd::OnSize(nType, cx, cy);
    RecalcLayout(TRUE);
}

void CPictureWnd::RecalcLayout(BOOL bRepaint) {
    if (!m_hWnd)
        return;
    CRect client;
    GetClientRect(&client);
    const int cw = client.Width();
    const int ch = client.Height();
    if (cw && ch && !m_rcSource.IsRectEmpty()) {
        const double sw = m_rcSource.Width();
        const double sh = m_rcSource.Height();
        double w = sw;
        double h = sh;
        switch (m_nDrawMode) {
        case 1:
            w = sw * m_dScaleX;
            h = sh * m_dScaleY;
            break;
        case 3:
            w = cw;
            h = ch;
            break;
        case 4:
        case 5:
        case 6:
        case 7: {
            const double rx = cw / sw;
            const double ry = ch / sh;
            const double r = m_nDrawMode == 4   ? rx
                             : m_nDrawMode == 5 ? ry
                             : m_nDrawMode == 6 ? std::min(rx, ry)
                                                : std::max(rx, ry);
            m_dScaleX = m_dScaleY = r;
            w = sw * r;
            h = sh * r;
            break;
        }
        default:
            break;
        }
        m_rcDest = CRect(0, 0, static_cast<int>(w), static_cast<int>(h));
        switch (m_nAlignX) {
        case 2:
            m_nOffsetX = 0;
            break;
        case 3:
            m_nOffsetX = (cw - m_rcDest.Width()) / 2;
            break;
        case 4:
            m_nOffsetX = cw - m_rcDest.Width();
            break;
        default:
            break;
        }
        switch (m_nAlignY) {
        case 2:
            m_nOffsetY = 0;
            break;
        case 3:
            m_nOffsetY = (ch - m_rcDest.Height()) / 2;
            break;
        case 4:
            m_nOffsetY = ch - m_rcDest.Height();
            break;
        default:
            break;
        }
        m_rcDest.OffsetRect(m_nOffsetX, m_nOffsetY);
    } else {
        m_rcDest.SetRectEmpty();
    }
    if (m_nDrawMode == 8)
        m_rcDest = client;
    if (bRepaint)
        Invalidate(TRUE);
}

void CPictureWnd::OnPaint() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    CDC memDc;
    if (!memDc.CreateCompatibleDC(&dc))
        return;
    HGDIOBJ hOld = memDc.SelectObject(static_cast<HGDIOBJ>(GetBitmap()));
    memDc.SetStretchBltMode(HALFTONE);
    dc.SetStretchBltMode(HALFTONE);
    if (m_nDrawMode != 8) {
        if (GetBitmap() && !m_rcDest.IsRectEmpty())
            dc.StretchBlt(m_rcDest.left, m_rcDest.top, m_rcDest.Width(), m_rcDest.Height(), &memDc, m_rcSource.left,
                          m_rcSource.top, m_rcSource.Width(), m_rcSource.Height(), SRCCOPY);
        const CRect& d = m_rcDest;
        const CRect strips[] = {
            CRect(client.left, client.top, std::min(d.left, client.right), client.bottom),
            CRect(d.left, client.top, d.right, std::min(d.top, client.bottom)),
            CRect(std::max(d.right, client.left), client.top, client.right, client.bottom),
            CRect(d.left, std::max(d.bottom, client.top), d.right, client.bottom),
        };
        for (const CRect& strip : strips)
            if (!strip.IsRectEmpty())
                ::FillRect(dc, &strip, m_hBkBrush);
    } else if (GetBitmap() && !m_rcSource.IsRectEmpty()) {
        const int tw = m_rcSource.Width();
        const int th = m_rcSource.Height();
        for (int x = m_nOffsetX; x < client.right; x += tw) {
            if (x <= -client.Width())
                continue;
            for (int y = m_nOffsetY; y < client.bottom; y += th) {
                if (y <= -client.Height())
                    continue;
                dc.BitBlt(x, y, tw, th, &memDc, m_rcSource.left, m_rcSource.top, SRCCOPY);
            }
        }
    }
    memDc.SelectObject(hOld);
}
