#include "app/ImageButtonWithStyle.h"

#include "app/ThemeLibrary.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl.h"

IMPLEMENT_DYNAMIC(CImageButtonWithStyle, CButton)

BEGIN_MESSAGE_MAP(CImageButtonWithStyle, CButton)
ON_NOTIFY_REFLECT(NM_CUSTOMDRAW, OnCustomDraw)
END_MESSAGE_MAP()

namespace {

// The push-button part of the "BUTTON" class and its states.
constexpr int BP_PUSHBUTTON = 1;
constexpr int PBS_NORMAL = 1;
constexpr int PBS_HOT = 2;
constexpr int PBS_PRESSED = 3;
constexpr int PBS_DISABLED = 4;
constexpr int PBS_DEFAULTED = 5;

} // namespace

void CImageButtonWithStyle::OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* pDraw = reinterpret_cast<NMCUSTOMDRAW*>(pNMHDR);
    *pResult = CDRF_DODEFAULT;
    const DWORD dwStyle = GetStyle();
    if (!(dwStyle & (BS_ICON | BS_BITMAP)) || !g_themeLibrary.IsAppThemed() || !g_themeLibrary.IsThemeActive())
        return;
    const DWORD dwStage = pDraw->dwDrawStage;
    if (dwStage == CDDS_PREERASE)
        g_themeLibrary.DrawThemeParentBackground(m_hWnd, pDraw->hdc, &pDraw->rc);
    if (dwStage != CDDS_PREERASE && dwStage != CDDS_PREPAINT)
        return;
    HTHEME hTheme = g_themeLibrary.OpenThemeData(m_hWnd, u"BUTTON");
    if (!hTheme)
        return;
    int nState = PBS_NORMAL;
    if (dwStyle & WS_DISABLED)
        nState = PBS_DISABLED;
    else if (pDraw->uItemState & CDIS_SELECTED)
        nState = PBS_PRESSED;
    else if (pDraw->uItemState & CDIS_HOT)
        nState = PBS_HOT;
    else if ((dwStyle & 0xF) == BS_DEFPUSHBUTTON)
        nState = PBS_DEFAULTED;
    g_themeLibrary.DrawThemeBackground(hTheme, pDraw->hdc, BP_PUSHBUTTON, nState, &pDraw->rc, nullptr);
    RECT rcContent = pDraw->rc;
    g_themeLibrary.GetThemeBackgroundContentRect(hTheme, pDraw->hdc, BP_PUSHBUTTON, nState, &pDraw->rc, &rcContent);
    g_themeLibrary.CloseThemeData(hTheme);
    if (dwStyle & BS_BITMAP)
        DrawBitmap(pDraw->hdc, rcContent, dwStyle);
    else
        DrawIcon(pDraw->hdc, rcContent, dwStyle);
    if (pDraw->uItemState & CDIS_FOCUS)
        ::DrawFocusRect(pDraw->hdc, &rcContent);
    *pResult = CDRF_SKIPDEFAULT;
}

void CImageButtonWithStyle::DrawBitmap(HDC hDC, const RECT& rcContent, DWORD dwStyle) {
    auto hBitmap = reinterpret_cast<HBITMAP>(SendMessage(BM_GETIMAGE, IMAGE_BITMAP, 0));
    if (!hBitmap)
        return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    if (!::GetDIBits(hDC, hBitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS))
        return;
    const int nWidth = info.bmiHeader.biWidth;
    const int nHeight = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
    const UINT nFlags = DST_BITMAP | ((dwStyle & WS_DISABLED) ? DSS_DISABLED : DSS_NORMAL);
    ::DrawStateW(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(hBitmap), 0, GetImageLeft(nWidth, rcContent, dwStyle),
                 GetImageTop(nHeight, rcContent, dwStyle), nWidth, nHeight, nFlags);
}

void CImageButtonWithStyle::DrawIcon(HDC hDC, const RECT& rcContent, DWORD dwStyle) {
    auto hIcon = reinterpret_cast<HICON>(SendMessage(BM_GETIMAGE, IMAGE_ICON, 0));
    if (!hIcon)
        return;
    ICONINFO iconInfo{};
    if (!::GetIconInfo(hIcon, &iconInfo))
        return;
    // The size comes from the colour bitmap, or from the mask of a monochrome icon, which holds both halves.
    BITMAP bitmap{};
    int nWidth = 0;
    int nHeight = 0;
    if (iconInfo.hbmColor && ::GetObjectW(iconInfo.hbmColor, sizeof bitmap, &bitmap)) {
        nWidth = bitmap.bmWidth;
        nHeight = bitmap.bmHeight;
    } else if (iconInfo.hbmMask && ::GetObjectW(iconInfo.hbmMask, sizeof bitmap, &bitmap)) {
        nWidth = bitmap.bmWidth;
        nHeight = bitmap.bmHeight / 2;
    }
    if (iconInfo.hbmColor)
        ::DeleteObject(iconInfo.hbmColor);
    if (iconInfo.hbmMask)
        ::DeleteObject(iconInfo.hbmMask);
    const UINT nFlags = DST_ICON | ((dwStyle & WS_DISABLED) ? DSS_DISABLED : DSS_NORMAL);
    ::DrawStateW(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(hIcon), 0, GetImageLeft(nWidth, rcContent, dwStyle),
                 GetImageTop(nHeight, rcContent, dwStyle), nWidth, nHeight, nFlags);
}

int CImageButtonWithStyle::GetImageLeft(int nImageWidth, const RECT& rc, DWORD dwStyle) {
    const int nWidth = rc.right - rc.left;
    if (nWidth < nImageWidth)
        return rc.left;
    switch ((dwStyle >> 8) & 3) {
    case 1: // BS_LEFT
        return rc.left;
    case 2: // BS_RIGHT
        return rc.right - nImageWidth;
    default: // none or BS_CENTER
        return rc.left + (nWidth - nImageWidth) / 2;
    }
}

int CImageButtonWithStyle::GetImageTop(int nImageHeight, const RECT& rc, DWORD dwStyle) {
    const int nHeight = rc.bottom - rc.top;
    if (nHeight < nImageHeight)
        return rc.top;
    switch ((dwStyle >> 10) & 3) {
    case 1: // BS_TOP
        return rc.top;
    case 2: // BS_BOTTOM
        return rc.bottom - nImageHeight;
    default: // none or BS_VCENTER
        return rc.top + (nHeight - nImageHeight) / 2;
    }
}
