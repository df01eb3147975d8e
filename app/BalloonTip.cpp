#include "app/BalloonTip.h"

#include "app/TipListCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/PaintDC.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"
#include "platform/ui/timer.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CBalloonTip, CWnd)

BEGIN_MESSAGE_MAP(CBalloonTip, CWnd)
ON_WM_CREATE()
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_DESTROY()
END_MESSAGE_MAP()

namespace {

// The body's margins around the text, the corner ellipse and the pointer below the body.
constexpr int kMarginX = 12;
constexpr int kMarginY = 10;
constexpr int kIconGap = 5;
constexpr int kPointerHeight = 25;

// The size an icon is drawn at: its own bitmap's.
SIZE IconSize(HICON hIcon) {
    ICONINFO info{};
    if (!hIcon || !GetIconInfo(hIcon, &info))
        return SIZE{0, 0};
    SIZE size{0, 0};
    BITMAP bm{};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm)) {
        size = SIZE{bm.bmWidth, bm.bmHeight};
    } else if (info.hbmMask && GetObjectW(info.hbmMask, sizeof bm, &bm)) {
        // A monochrome icon's mask holds the AND and XOR halves one above the other.
        size = SIZE{bm.bmWidth, bm.bmHeight / 2};
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return size;
}

} // namespace

CBalloonTip::CBalloonTip() {
    m_lpszClassName = AfxRegisterWndClass(0);
    m_hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

CBalloonTip::~CBalloonTip() {
    if (m_hWnd)
        DestroyWindow();
}

BOOL CBalloonTip::Create(CTipListCtrl* pOwner, UINT nIconType4, UINT nIconType2, UINT nIconType1, UINT nIconType8) {
    m_pOwner = pOwner;
    const BOOL bCreated =
        CreateEx(0, m_lpszClassName, nullptr, WS_POPUP, 0, 0, 0, 0, pOwner ? pOwner->GetSafeHwnd() : nullptr, nullptr);
    m_hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HINSTANCE hResources = AfxGetResourceHandle();
    m_hIconError = ::LoadIconW(hResources, MAKEINTRESOURCEW(nIconType4));
    m_hIconWarning = ::LoadIconW(hResources, MAKEINTRESOURCEW(nIconType2));
    m_hIconInfo = ::LoadIconW(hResources, MAKEINTRESOURCEW(nIconType1));
    m_hIconDebug = ::LoadIconW(hResources, MAKEINTRESOURCEW(nIconType8));
    return bCreated;
}

void CBalloonTip::StartTimer(UINT nElapse) {
    StopTimer();
    m_nTimer = SetTimer(kTimerId, nElapse, nullptr);
}

void CBalloonTip::StopTimer() {
    if (m_nTimer) {
        KillTimer(m_nTimer);
        m_nTimer = 0;
    }
}

void CBalloonTip::RelayEvent(MSG* pMsg) {
    if (!pMsg || pMsg->message != WM_MOUSEMOVE || !m_hWnd)
        return;
    POINT pt{};
    GetCursorPos(&pt);
    if (pt.x == m_ptLast.x && pt.y == m_ptLast.y)
        return;
    ShowWindow(SW_HIDE);
    m_ptLast = pt;
    StartTimer(m_nDelay);
}

void CBalloonTip::Refresh() {
    if (tracking && m_hWnd)
        StartTimer(0);
}

void CBalloonTip::SetIconByType(UINT nType) {
    HICON hIcon = nullptr;
    switch (nType) {
    case 1:
        hIcon = m_hIconInfo;
        break;
    case 2:
        hIcon = m_hIconWarning;
        break;
    case 4:
        hIcon = m_hIconError;
        break;
    case 8:
        hIcon = m_hIconDebug;
        break;
    default:
        break;
    }
    SetIcon(hIcon);
}

void CBalloonTip::SetIcon(HICON hIcon) {
    m_hIcon = hIcon;
    if (!hIcon) {
        m_sizeIcon = SIZE{0, 0};
        return;
    }
    m_sizeIcon = IconSize(hIcon);
    if (m_hWnd)
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

HRGN CBalloonTip::CreateShape(HDC hDC, SIZE* pSize) {
    RECT rc{0, 0, 0, 0};
    HGDIOBJ hOldFont = SelectObject(hDC, m_hFont);
    DrawTextW(hDC, m_strText, -1, &rc, DT_CALCRECT);
    SelectObject(hDC, hOldFont);
    InflateRect(&rc, kMarginX, kMarginY);
    int nWidth = rc.right - rc.left;
    int nHeight = rc.bottom - rc.top;
    if (m_hIcon) {
        nWidth += m_sizeIcon.cx + kIconGap;
        if (nHeight < m_sizeIcon.cy)
            nHeight = m_sizeIcon.cy;
    }
    HRGN hShape = CreateRoundRectRgn(0, 0, nWidth, nHeight, kMarginX, kMarginY);
    const POINT pointer[] = {
        {nWidth - kMarginX, nHeight - kMarginY}, {nWidth - kMarginX, nHeight + 15}, {nWidth - 37, nHeight - kMarginY}};
    HRGN hPointer = CreatePolygonRgn(pointer, 3, ALTERNATE);
    CombineRgn(hShape, hShape, hPointer, RGN_OR);
    DeleteObject(hPointer);
    if (pSize)
        *pSize = SIZE{nWidth, nHeight + kPointerHeight};
    return hShape;
}

int CBalloonTip::OnCreate(LPCREATESTRUCTW lpCreateStruct) {
    if (CWnd::OnCreate(lpCreateStruct) == -1)
        return -1;
    return 0;
}

void CBalloonTip::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kTimerId) {
        CWnd::OnTimer(nIDEvent);
        return;
    }
    StopTimer();
    if (tracking && m_pOwner && m_pOwner->GetItemCount() > 0) {
        DWORD dwItemData = 0;
        CString strText;
        if (!m_pOwner->GetTipText(&dwItemData, strText))
            return;
        m_strText = strText;
        SetIconByType(dwItemData);
        SIZE size{};
        HDC hDC = ::GetDC(m_hWnd);
        HRGN hShape = CreateShape(hDC, &size);
        ::ReleaseDC(m_hWnd, hDC);
        // The window owns the shape from here on.
        if (!::SetWindowRgn(m_hWnd, hShape, TRUE))
            DeleteObject(hShape);
        ::SetWindowPos(m_hWnd, HWND_TOP, m_ptLast.x - size.cx + kMarginX, m_ptLast.y - size.cy + kMarginY, size.cx,
                       size.cy, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        return;
    }
    if (IsWindowVisible())
        ShowWindow(SW_HIDE);
}

void CBalloonTip::OnPaint() {
    CPaintDC dc(this);
    HDC hDC = dc.GetSafeHdc();
    HRGN hShape = CreateShape(hDC, nullptr);
    FillRgn(hDC, hShape, GetSysColorBrush(COLOR_WINDOW));
    FrameRgn(hDC, hShape, GetSysColorBrush(COLOR_SCROLLBAR), 3, 3);
    FrameRgn(hDC, hShape, GetSysColorBrush(COLOR_WINDOWTEXT), 1, 1);
    RECT rcText{};
    GetClientRect(&rcText);
    rcText.left += kMarginX;
    rcText.top += kMarginY;
    if (m_hIcon)
        rcText.left += m_sizeIcon.cx + kIconGap;
    HGDIOBJ hOldFont = SelectObject(hDC, m_hFont);
    SetBkMode(hDC, TRANSPARENT);
    DrawTextW(hDC, m_strText, -1, &rcText, 0);
    SelectObject(hDC, hOldFont);
    if (m_hIcon)
        DrawIconEx(hDC, kMarginX, kMarginY, m_hIcon, m_sizeIcon.cx, m_sizeIcon.cy, 0, nullptr, DI_NORMAL);
    DeleteObject(hShape);
}

void CBalloonTip::OnDestroy() {
    StopTimer();
    CWnd::OnDestroy();
}
