#include "app/PictureButton.h"

#include "app/BCMenu.h"

#include "platform/afx/ModuleState.h"
#include "platform/shell/shellexecute.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint.h"
#include "platform/ui/sound.h"

#include <algorithm>
#include <cstring>

IMPLEMENT_DYNAMIC(CPictureButton, CButton)
IMPLEMENT_DYNAMIC(CRoundButton, CPictureButton)

BEGIN_MESSAGE_MAP(CPictureButton, CButton)
ON_WM_MOUSEMOVE()
ON_WM_MOUSELEAVE()
ON_WM_KILLFOCUS()
ON_WM_CANCELMODE()
ON_WM_ACTIVATE()
ON_WM_ENABLE()
ON_WM_SETCURSOR()
ON_WM_GETDLGCODE()
ON_WM_SYSCOLORCHANGE()
ON_WM_CTLCOLOR_REFLECT()
ON_CONTROL_REFLECT_EX(BN_CLICKED, OnClicked)
ON_MESSAGE(BM_SETSTYLE, OnSetStyle)
ON_MESSAGE(BM_SETCHECK, OnSetCheck)
ON_MESSAGE(BM_GETCHECK, OnGetCheck)
ON_MESSAGE(WM_MENUCHAR, OnMenuChar)
END_MESSAGE_MAP()

namespace {

constexpr DWORD kTypeMask = 0x0F;

// A memory DC with a bitmap selected, the previous one restored when it goes.
class SelectedBitmap {
public:
    SelectedBitmap(HDC dc, HBITMAP bitmap) : m_dc(dc), m_old(::SelectObject(dc, bitmap)) {}
    ~SelectedBitmap() { ::SelectObject(m_dc, m_old); }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

class MemoryDC {
public:
    MemoryDC() : m_dc(::CreateCompatibleDC(nullptr)) {}
    ~MemoryDC() {
        if (m_dc)
            ::DeleteDC(m_dc);
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    operator HDC() const { return m_dc; }

private:
    HDC m_dc;
};

COLORREF Derived(COLORREF c, bool bGrey) {
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    if (bGrey) {
        const int grey = static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b);
        return RGB(grey, grey, grey);
    }
    return RGB(static_cast<int>(r - 0.25 * r), static_cast<int>(g - 0.25 * g), static_cast<int>(b - 0.25 * b));
}

} // namespace

CPictureButton::CPictureButton() {
    ResetStateColors(FALSE);
}

DWORD CPictureButton::SetPopupMenu(int nMenu, CWnd* pOwner, int nDrawMode, int nToolbarId, int nCellWidth,
                                   int nCellHeight, COLORREF crTransparent, BOOL bRepaint) {
    m_pMenu.reset();
    m_hMenuOwner = nullptr;
    m_bMenuDisplayed = FALSE;
    if (nMenu) {
        BCMenu::SetDrawMode(nDrawMode);
        auto pMenu = std::make_unique<BCMenu>();
        if (!pMenu->LoadMenuResource(static_cast<UINT>(nMenu)))
            return BTNST_INVALIDRESOURCE;
        if (nToolbarId) {
            pMenu->SetTransparentColor(crTransparent);
            pMenu->SetImageCellSize(nCellWidth, nCellHeight);
            if (!pMenu->LoadToolbarImages(static_cast<UINT>(nToolbarId)))
                return BTNST_INVALIDRESOURCE;
        }
        m_pMenu = std::move(pMenu);
        m_hMenuOwner = pOwner ? pOwner->GetSafeHwnd() : nullptr;
    }
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetMenuCallback(HWND hWnd, UINT nMessage, LPARAM lParam) {
    m_csCallbacks = {hWnd, nMessage, lParam};
    return BTNST_OK;
}

LRESULT CPictureButton::OnMenuChar(WPARAM wParam, LPARAM lParam) {
    auto* pMenu = CMenu::FromHandle(reinterpret_cast<HMENU>(lParam));
    if (BCMenu::IsOurMenu(pMenu))
        return BCMenu::MenuChar(LOWORD(wParam), HIWORD(wParam), pMenu);
    return Default();
}

CPictureButton::~CPictureButton() {
    if (m_dcBk.GetSafeHdc() && m_pbmpOldBk)
        m_dcBk.SelectObject(m_pbmpOldBk);
    FreeResources();
    if (m_hCursor)
        ::DestroyCursor(m_hCursor);
    if (m_hWnd)
        DestroyWindow();
}

void CPictureButton::PreSubclassWindow() {
    const DWORD type = GetStyle() & kTypeMask;
    // BS_CHECKBOX, BS_AUTOCHECKBOX and the other types with that bit.
    if (type & BS_CHECKBOX)
        m_bIsCheckBox = TRUE;
    if (type == BS_DEFPUSHBUTTON)
        m_bIsDefault = TRUE;
    ModifyStyle(kTypeMask, BS_OWNERDRAW, SWP_FRAMECHANGED);
    CButton::PreSubclassWindow();
}

LRESULT CPictureButton::OnSetStyle(WPARAM wParam, LPARAM lParam) {
    const UINT type = static_cast<UINT>(wParam) & kTypeMask;
    if (type == BS_DEFPUSHBUTTON)
        m_bIsDefault = TRUE;
    else if (type == BS_PUSHBUTTON)
        m_bIsDefault = FALSE;
    return DefWindowProc(BM_SETSTYLE, (wParam & ~static_cast<WPARAM>(kTypeMask)) | BS_OWNERDRAW, lParam);
}

UINT CPictureButton::OnGetDlgCode() {
    UINT code = static_cast<UINT>(Default());
    code &= ~static_cast<UINT>(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
    return code | static_cast<UINT>(m_bIsDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

HBRUSH CPictureButton::CtlColor(CDC*, UINT) {
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

LRESULT CPictureButton::OnSetCheck(WPARAM wParam, LPARAM) {
    if (m_bIsCheckBox)
        SetCheck(wParam == BST_CHECKED || wParam == BST_INDETERMINATE ? 1 : 0);
    return 0;
}

LRESULT CPictureButton::OnGetCheck(WPARAM, LPARAM) {
    return m_nCheck;
}

void CPictureButton::SetCheck(int nCheck, BOOL bRepaint) {
    if (!m_bIsCheckBox)
        return;
    m_nCheck = nCheck ? 1 : 0;
    if (bRepaint && m_hWnd)
        Invalidate();
}

BOOL CPictureButton::PreTranslateMessage(MSG* pMsg) {
    if (!m_ToolTip.GetSafeHwnd() && m_hWnd && m_ToolTip.Create(this, m_dwToolTipStyle)) {
        m_ToolTip.Activate(FALSE);
        m_ToolTip.SetMaxTipWidth(400);
    }
    if (m_ToolTip.GetSafeHwnd())
        m_ToolTip.RelayEvent(pMsg);
    // A double click counts as two clicks.
    if (pMsg->message == WM_LBUTTONDBLCLK)
        pMsg->message = WM_LBUTTONDOWN;
    return CButton::PreTranslateMessage(pMsg);
}

BOOL CPictureButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_DRAWITEM) {
        DrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        if (pResult)
            *pResult = TRUE;
        return TRUE;
    }
    return CButton::OnChildNotify(message, wParam, lParam, pResult);
}

// ---- Hover ----

void CPictureButton::OnMouseMove(UINT nFlags, CPoint point) {
    CButton::OnMouseMove(nFlags, point);
    if (!m_bIsFlat)
        return;
    if ((nFlags & MK_LBUTTON) && !m_bMouseOnButton)
        return;
    CPoint screen = point;
    ClientToScreen(&screen);
    const HWND under = ::WindowFromPoint(screen);
    const bool active = m_bAlwaysTrack || ::GetActiveWindow() != nullptr;
    if (under == m_hWnd && active) {
        if (!m_bMouseOnButton) {
            m_bMouseOnButton = TRUE;
            Invalidate();
            if (m_csSounds[0].lpszSound)
                ::PlaySoundW(m_csSounds[0].lpszSound, m_csSounds[0].hMod, m_csSounds[0].dwFlags);
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = m_hWnd;
            ::TrackMouseEvent(&track);
        }
    } else {
        CancelHover();
    }
}

void CPictureButton::CancelHover() {
    if (m_bMouseOnButton) {
        m_bMouseOnButton = FALSE;
        if (m_hWnd)
            Invalidate();
    }
}

void CPictureButton::OnMouseLeave() {
    CancelHover();
    CButton::OnMouseLeave();
}

void CPictureButton::OnKillFocus(CWnd* pNewWnd) {
    CButton::OnKillFocus(pNewWnd);
    CancelHover();
}

void CPictureButton::OnCancelMode() {
    CButton::OnCancelMode();
    CancelHover();
}

void CPictureButton::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    CButton::OnActivate(nState, pWndOther, bMinimized);
    if (nState == WA_INACTIVE)
        CancelHover();
}

void CPictureButton::OnEnable(BOOL bEnable) {
    CButton::OnEnable(bEnable);
    if (!bEnable) {
        // A disabled button hands the focus on to the next tab item.
        if (CWnd* pParent = GetParent()) {
            if (HWND next = ::GetNextDlgTabItem(pParent->GetSafeHwnd(), m_hWnd, FALSE))
                ::SetFocus(next);
            else
                pParent->SetFocus();
        }
        CancelHover();
    }
}

BOOL CPictureButton::OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message) {
    if (m_hCursor) {
        ::SetCursor(m_hCursor);
        return TRUE;
    }
    return CButton::OnSetCursor(pWnd, nHitTest, message);
}

void CPictureButton::OnSysColorChange() {
    CButton::OnSysColorChange();
    m_dcBk.DeleteDC();
    m_bmpBk.DeleteObject();
    m_pbmpOldBk = nullptr;
    ResetStateColors();
}

// ---- Click ----

BOOL CPictureButton::OnClicked() {
    if (m_csSounds[1].lpszSound)
        ::PlaySoundW(m_csSounds[1].lpszSound, m_csSounds[1].hMod, m_csSounds[1].dwFlags);
    if (m_bIsCheckBox) {
        m_nCheck = !m_nCheck;
        Invalidate();
    } else if (m_pMenu) {
        m_bMenuDisplayed = TRUE;
        Invalidate();
        UpdateWindow();
        if (m_csCallbacks.hWnd)
            ::SendMessageW(m_csCallbacks.hWnd, m_csCallbacks.nMessage, reinterpret_cast<WPARAM>(m_pMenu->m_hMenu),
                           m_csCallbacks.lParam);
        CRect rect;
        GetWindowRect(&rect);
        UINT nCommand = 0;
        if (CMenu* pSub = m_pMenu->GetSubMenu(0))
            nCommand = static_cast<UINT>(
                ::TrackPopupMenuEx(pSub->m_hMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD,
                                   rect.left, rect.bottom, m_hWnd, nullptr));
        m_bMenuDisplayed = FALSE;
        Invalidate();
        if (nCommand && m_hMenuOwner)
            ::PostMessageW(m_hMenuOwner, WM_COMMAND, MAKEWPARAM(nCommand, 0), 0);
    } else if (m_szURL[0]) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_FLAG_NO_UI;
        info.lpVerb = u"open";
        info.lpFile = m_szURL;
        info.nShow = SW_SHOWMAXIMIZED;
        ::ShellExecuteExW(&info);
    }
    // The parent hears the click too.
    return FALSE;
}

// ---- Drawing ----

void CPictureButton::DrawItem(DRAWITEMSTRUCT* lpDIS) {
    CDC* pDC = CDC::FromHandle(lpDIS->hDC);
    if (m_bIsCheckBox)
        m_bIsPressed = (lpDIS->itemState & ODS_SELECTED) || m_nCheck;
    else
        m_bIsPressed = (lpDIS->itemState & ODS_SELECTED) || (m_pMenu && m_bMenuDisplayed);
    m_bIsFocused = (lpDIS->itemState & ODS_FOCUS) != 0;
    m_bIsDisabled = (lpDIS->itemState & ODS_DISABLED) != 0;
    CRect itemRect = lpDIS->rcItem;
    pDC->SetBkMode(TRANSPARENT);

    if (m_bDrawTransparent && m_dcBk.GetSafeHdc()) {
        pDC->BitBlt(itemRect.left, itemRect.top, itemRect.Width(), itemRect.Height(), &m_dcBk, 0, 0, SRCCOPY);
    } else if (m_bDrawTransparent) {
        // The parent's pixels under the button, taken once.
        CRect rect;
        GetClientRect(&rect);
        CWnd* pParent = GetParent();
        if (pParent) {
            CRect inParent = rect;
            MapWindowPoints(m_hWnd, pParent->GetSafeHwnd(), reinterpret_cast<LPPOINT>(&inParent), 2);
            HDC parentDc = ::GetDC(pParent->GetSafeHwnd());
            CDC* pParentDC = CDC::FromHandle(parentDc);
            if (m_dcBk.CreateCompatibleDC(pParentDC) &&
                m_bmpBk.CreateCompatibleBitmap(pParentDC, rect.Width(), rect.Height())) {
                m_pbmpOldBk = m_dcBk.SelectObject(&m_bmpBk);
                m_dcBk.BitBlt(0, 0, rect.Width(), rect.Height(), pParentDC, inParent.left, inParent.top, SRCCOPY);
                pDC->BitBlt(itemRect.left, itemRect.top, itemRect.Width(), itemRect.Height(), &m_dcBk, 0, 0, SRCCOPY);
            }
            ::ReleaseDC(pParent->GetSafeHwnd(), parentDc);
        }
    } else {
        PaintFace(pDC, &itemRect);
    }
    itemRect = lpDIS->rcItem;
    PaintFrame(pDC, &itemRect);

    CString strTitle;
    GetWindowText(strTitle);
    CRect captionRect = lpDIS->rcItem;
    if (m_csIcons[0].hIcon) {
        PaintIcon(pDC, !strTitle.IsEmpty(), &lpDIS->rcItem, &captionRect, m_bIsPressed, m_bIsDisabled);
    } else if (m_csBitmaps[0].hBitmap) {
        pDC->SetBkColor(RGB(255, 255, 255));
        PaintBitmap(pDC, !strTitle.IsEmpty(), &lpDIS->rcItem, &captionRect, m_bIsPressed, m_bIsDisabled);
    }
    if (!strTitle.IsEmpty())
        PaintCaption(pDC, strTitle, &lpDIS->rcItem, &captionRect, m_bIsPressed, m_bIsDisabled);

    if (m_bIsFocused && (!m_bIsFlat || m_bDrawFlatFocus)) {
        CRect focusRect = lpDIS->rcItem;
        focusRect.DeflateRect(3, 3);
        pDC->DrawFocusRect(&focusRect);
    }
}

DWORD CPictureButton::PaintFace(CDC* pDC, CRect* pRect) {
    if (!m_bIsFlat && (m_bIsFocused || m_bIsDefault)) {
        CBrush black(RGB(0, 0, 0));
        pDC->FrameRect(pRect, &black);
        pRect->DeflateRect(1, 1);
    }
    COLORREF color = m_crColors[BTNST_COLOR_BK_OUT];
    if (m_bMouseOnButton || m_bIsPressed)
        color = m_crColors[BTNST_COLOR_BK_IN];
    else if (m_bIsFocused)
        color = m_crColors[BTNST_COLOR_BK_FOCUS];
    CBrush brush(color);
    pDC->FillRect(pRect, &brush);
    return BTNST_OK;
}

DWORD CPictureButton::PaintFrame(CDC* pDC, CRect* pRect) {
    if (m_bIsPressed) {
        if (!m_bIsFlat) {
            CBrush shadow(::GetSysColor(COLOR_BTNSHADOW));
            pDC->FrameRect(pRect, &shadow);
        } else if (m_bDrawBorder) {
            pDC->Draw3dRect(pRect, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHILIGHT));
        }
        return BTNST_OK;
    }
    if (!m_bIsFlat) {
        const CRect& r = *pRect;
        CPen highlight(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHILIGHT));
        CPen light(PS_SOLID, 1, ::GetSysColor(COLOR_3DLIGHT));
        CPen darkShadow(PS_SOLID, 1, ::GetSysColor(COLOR_3DDKSHADOW));
        CPen shadow(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
        CPen* old = pDC->SelectObject(&highlight);
        pDC->MoveTo(r.left, r.bottom - 1);
        pDC->LineTo(r.left, r.top);
        pDC->LineTo(r.right, r.top);
        pDC->SelectObject(&light);
        pDC->MoveTo(r.left + 1, r.bottom - 1);
        pDC->LineTo(r.left + 1, r.top + 1);
        pDC->LineTo(r.right, r.top + 1);
        pDC->SelectObject(&darkShadow);
        pDC->MoveTo(r.left, r.bottom - 1);
        pDC->LineTo(r.right - 1, r.bottom - 1);
        pDC->LineTo(r.right - 1, r.top - 1);
        pDC->SelectObject(&shadow);
        pDC->MoveTo(r.left + 1, r.bottom - 2);
        pDC->LineTo(r.right - 2, r.bottom - 2);
        pDC->LineTo(r.right - 2, r.top);
        pDC->SelectObject(old);
    } else if (m_bMouseOnButton && m_bDrawBorder) {
        pDC->Draw3dRect(pRect, ::GetSysColor(COLOR_BTNHILIGHT), ::GetSysColor(COLOR_BTNSHADOW));
    }
    return BTNST_OK;
}

void CPictureButton::PrepareImageRect(BOOL bHasTitle, RECT* rpItem, CRect* rpTitle, BOOL bIsPressed, DWORD dwWidth,
                                      DWORD dwHeight, CRect* rpImage) const {
    const CRect item = *rpItem;
    const int w = static_cast<int>(dwWidth);
    const int h = static_cast<int>(dwHeight);
    rpImage->CopyRect(&item);
    switch (m_byImageLayout) {
    case 0: // left of the caption
        if (bHasTitle) {
            rpImage->left += m_nImageMarginX;
            rpTitle->left += w + m_nImageMarginX;
        } else {
            rpImage->left += (item.Width() - w) / 2;
        }
        rpImage->top += (item.Height() - h) / 2;
        break;
    case 1: // above the caption
        rpImage->left += (item.Width() - w) / 2;
        if (bHasTitle) {
            rpImage->top += m_nImageMarginY;
            rpTitle->top += h;
        } else {
            rpImage->top += (item.Height() - h) / 2;
        }
        break;
    case 2: // right of the caption
        if (bHasTitle) {
            rpTitle->left = m_nImageMarginX;
            rpTitle->right = item.right - w - m_nImageMarginX;
            rpImage->left = item.right - w - m_nImageMarginX;
            rpImage->top += (item.Height() - h) / 2;
        } else {
            rpImage->left += (item.Width() - w) / 2;
        }
        break;
    default: // the item's top-left corner; the caption keeps its place
        break;
    }
    if (bIsPressed && !m_bIsCheckBox)
        rpImage->OffsetRect(m_ptPressedOffset.x, m_ptPressedOffset.y);
}

void CPictureButton::PaintIcon(CDC* pDC, BOOL bHasTitle, RECT* rpItem, CRect* rpCaption, BOOL bIsPressed,
                               BOOL bIsDisabled) {
    int index = 0;
    if (m_bIsCheckBox)
        index = bIsPressed ? 0 : (m_csIcons[1].hIcon ? 1 : 0);
    else if (!(m_bMouseOnButton || bIsPressed) && m_csIcons[1].hIcon)
        index = 1;
    CRect imageRect;
    PrepareImageRect(bHasTitle, rpItem, rpCaption, bIsPressed, m_csIcons[index].dwWidth, m_csIcons[index].dwHeight,
                     &imageRect);
    pDC->DrawState(imageRect.TopLeft(),
                   CSize(static_cast<int>(m_csIcons[index].dwWidth), static_cast<int>(m_csIcons[index].dwHeight)),
                   m_csIcons[index].hIcon, DST_ICON | (bIsDisabled ? DSS_DISABLED : DSS_NORMAL),
                   static_cast<HBRUSH>(nullptr));
}

void CPictureButton::PaintBitmap(CDC* pDC, BOOL bHasTitle, RECT* rpItem, CRect* rpCaption, BOOL bIsPressed,
                                 BOOL bIsDisabled) {
    int index = 0;
    if (m_bIsCheckBox)
        index = bIsPressed ? 0 : (m_csBitmaps[1].hBitmap ? 1 : 0);
    else if (!(m_bMouseOnButton || bIsPressed) && m_csBitmaps[1].hBitmap)
        index = 1;
    const Bitmap& bitmap = m_csBitmaps[index];
    const int w = static_cast<int>(bitmap.dwWidth);
    const int h = static_cast<int>(bitmap.dwHeight);
    CRect imageRect;
    PrepareImageRect(bHasTitle, rpItem, rpCaption, bIsPressed, bitmap.dwWidth, bitmap.dwHeight, &imageRect);
    MemoryDC srcDc;
    SelectedBitmap selectedMask(srcDc, bitmap.hMask);
    if (bIsDisabled && m_bDrawGrayedBitmap) {
        // The masked image composed on white, then drawn embossed.
        HBITMAP composed = ::CreateCompatibleBitmap(pDC->GetSafeHdc(), w, h);
        {
            MemoryDC composeDc;
            SelectedBitmap selectedComposed(composeDc, composed);
            ::PatBlt(composeDc, 0, 0, w, h, WHITENESS);
            ::SetBkColor(composeDc, RGB(255, 255, 255));
            ::SetTextColor(composeDc, RGB(0, 0, 0));
            ::BitBlt(composeDc, 0, 0, w, h, srcDc, 0, 0, SRCAND);
            ::SelectObject(srcDc, bitmap.hBitmap);
            ::BitBlt(composeDc, 0, 0, w, h, srcDc, 0, 0, SRCPAINT);
        }
        pDC->DrawState(imageRect.TopLeft(), CSize(w, h), composed, DST_BITMAP | DSS_DISABLED);
        ::DeleteObject(composed);
        return;
    }
    pDC->BitBlt(imageRect.left, imageRect.top, w, h, CDC::FromHandle(srcDc), 0, 0, SRCAND);
    ::SelectObject(srcDc, bitmap.hBitmap);
    pDC->BitBlt(imageRect.left, imageRect.top, w, h, CDC::FromHandle(srcDc), 0, 0, SRCPAINT);
}

void CPictureButton::PaintCaption(CDC* pDC, LPCTSTR lpszTitle, RECT*, CRect* rpCaption, BOOL bIsPressed,
                                  BOOL bIsDisabled) {
    if (bIsPressed && !m_bIsCheckBox)
        rpCaption->OffsetRect(m_ptPressedOffset.x, m_ptPressedOffset.y);
    CRect centerRect = *rpCaption;
    pDC->DrawText(lpszTitle, -1, rpCaption, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
    rpCaption->OffsetRect((centerRect.Width() - rpCaption->Width()) / 2,
                          (centerRect.Height() - rpCaption->Height()) / 2);
    pDC->SetBkMode(TRANSPARENT);
    if (bIsDisabled) {
        rpCaption->OffsetRect(1, 1);
        pDC->SetTextColor(::GetSysColor(COLOR_3DHILIGHT));
        pDC->DrawText(lpszTitle, -1, rpCaption, DT_WORDBREAK | DT_CENTER);
        rpCaption->OffsetRect(-1, -1);
        pDC->SetTextColor(::GetSysColor(COLOR_3DSHADOW));
        pDC->DrawText(lpszTitle, -1, rpCaption, DT_WORDBREAK | DT_CENTER);
        return;
    }
    if (m_bMouseOnButton || bIsPressed)
        pDC->SetTextColor(m_crColors[BTNST_COLOR_FG_IN]);
    else if (m_bIsFocused)
        pDC->SetTextColor(m_crColors[BTNST_COLOR_FG_FOCUS]);
    else
        pDC->SetTextColor(m_crColors[BTNST_COLOR_FG_OUT]);
    pDC->DrawText(lpszTitle, -1, rpCaption, DT_WORDBREAK | DT_CENTER);
}

// ---- Images ----

void CPictureButton::FreeResources(BOOL) {
    for (Icon& icon : m_csIcons) {
        if (icon.hIcon)
            ::DestroyIcon(icon.hIcon);
        icon = Icon{};
    }
    for (Bitmap& bitmap : m_csBitmaps) {
        if (bitmap.hBitmap)
            ::DeleteObject(bitmap.hBitmap);
        if (bitmap.hMask)
            ::DeleteObject(bitmap.hMask);
        bitmap = Bitmap{};
    }
}

HBITMAP CPictureButton::CreateBitmapMask(HBITMAP hSourceBitmap, DWORD dwWidth, DWORD dwHeight, COLORREF crTransColor) {
    HBITMAP hMask = ::CreateBitmap(static_cast<int>(dwWidth), static_cast<int>(dwHeight), 1, 1, nullptr);
    if (!hMask)
        return nullptr;
    MemoryDC srcDc;
    MemoryDC maskDc;
    if (!srcDc || !maskDc) {
        ::DeleteObject(hMask);
        return nullptr;
    }
    SelectedBitmap selectedSource(srcDc, hSourceBitmap);
    SelectedBitmap selectedMask(maskDc, hMask);
    // The transparent colour becomes white in the mask, everything else black.
    ::SetBkColor(srcDc, crTransColor);
    ::BitBlt(maskDc, 0, 0, static_cast<int>(dwWidth), static_cast<int>(dwHeight), srcDc, 0, 0, SRCCOPY);
    // The source's transparent pixels become black, for the OR that draws it.
    ::SetBkColor(srcDc, RGB(0, 0, 0));
    ::SetTextColor(srcDc, RGB(255, 255, 255));
    ::BitBlt(srcDc, 0, 0, static_cast<int>(dwWidth), static_cast<int>(dwHeight), maskDc, 0, 0, SRCAND);
    return hMask;
}

HBITMAP CPictureButton::DeriveBitmap(HBITMAP hBitmap, bool bGrey, const COLORREF* pcrKeep) {
    BITMAP bm{};
    if (!::GetObjectW(hBitmap, sizeof bm, &bm))
        return nullptr;
    HBITMAP hCopy = reinterpret_cast<HBITMAP>(::CopyImage(hBitmap, IMAGE_BITMAP, 0, 0, 0));
    if (!hCopy)
        return nullptr;
    MemoryDC dc;
    SelectedBitmap selected(dc, hCopy);
    for (int y = 0; y < bm.bmHeight; ++y) {
        for (int x = 0; x < bm.bmWidth; ++x) {
            const COLORREF c = ::GetPixel(dc, x, y);
            if (pcrKeep && c == *pcrKeep)
                continue;
            ::SetPixel(dc, x, y, Derived(c, bGrey));
        }
    }
    return hCopy;
}

HICON CPictureButton::DeriveIcon(HICON hIcon, bool bGrey) {
    ICONINFO info{};
    if (!::GetIconInfo(hIcon, &info))
        return nullptr;
    HICON hDerived = nullptr;
    if (info.hbmColor) {
        const COLORREF black = RGB(0, 0, 0);
        HBITMAP hColor = DeriveBitmap(info.hbmColor, bGrey, &black);
        if (hColor) {
            ICONINFO derived = info;
            derived.hbmColor = hColor;
            hDerived = ::CreateIconIndirect(&derived);
            ::DeleteObject(hColor);
        }
    }
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    if (info.hbmMask)
        ::DeleteObject(info.hbmMask);
    return hDerived;
}

DWORD CPictureButton::SetIcons(HICON hIconIn, HICON hIconOut) {
    FreeResources();
    if (!hIconIn)
        return BTNST_OK;
    ICONINFO info{};
    if (!::GetIconInfo(hIconIn, &info)) {
        FreeResources();
        return BTNST_INVALIDRESOURCE;
    }
    m_csIcons[0] = {hIconIn, info.xHotspot * 2, info.yHotspot * 2};
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    if (info.hbmMask)
        ::DeleteObject(info.hbmMask);
    const auto out = reinterpret_cast<INT_PTR>(hIconOut);
    if (out == BTNST_AUTO_GRAY || out == BTNST_AUTO_DARKER)
        hIconOut = DeriveIcon(hIconIn, out == BTNST_AUTO_GRAY);
    if (hIconOut) {
        ICONINFO outInfo{};
        if (!::GetIconInfo(hIconOut, &outInfo)) {
            FreeResources();
            return BTNST_INVALIDRESOURCE;
        }
        m_csIcons[1] = {hIconOut, outInfo.xHotspot * 2, outInfo.yHotspot * 2};
        if (outInfo.hbmColor)
            ::DeleteObject(outInfo.hbmColor);
        if (outInfo.hbmMask)
            ::DeleteObject(outInfo.hbmMask);
    }
    if (m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetIcons(int nIconIn, int nIconOut) {
    HINSTANCE hModule = AfxGetResourceHandle();
    auto hIn = reinterpret_cast<HICON>(::LoadImageW(hModule, MAKEINTRESOURCEW(nIconIn), IMAGE_ICON, 0, 0, 0));
    HICON hOut = nullptr;
    if (nIconOut == BTNST_AUTO_GRAY || nIconOut == BTNST_AUTO_DARKER)
        hOut = reinterpret_cast<HICON>(static_cast<INT_PTR>(nIconOut));
    else if (nIconOut)
        hOut = reinterpret_cast<HICON>(::LoadImageW(hModule, MAKEINTRESOURCEW(nIconOut), IMAGE_ICON, 0, 0, 0));
    if (!hIn) {
        FreeResources();
        return BTNST_INVALIDRESOURCE;
    }
    return SetIcons(hIn, hOut);
}

DWORD CPictureButton::SetBitmaps(HBITMAP hBitmapIn, COLORREF crTransIn, HBITMAP hBitmapOut, COLORREF crTransOut) {
    FreeResources();
    if (!hBitmapIn)
        return BTNST_OK;
    BITMAP bm{};
    if (!::GetObjectW(hBitmapIn, sizeof bm, &bm)) {
        FreeResources();
        return BTNST_INVALIDRESOURCE;
    }
    m_csBitmaps[0].hBitmap = hBitmapIn;
    m_csBitmaps[0].crTransparent = crTransIn;
    m_csBitmaps[0].dwWidth = static_cast<DWORD>(bm.bmWidth);
    m_csBitmaps[0].dwHeight = static_cast<DWORD>(bm.bmHeight);
    const auto out = reinterpret_cast<INT_PTR>(hBitmapOut);
    if (out == BTNST_AUTO_GRAY || out == BTNST_AUTO_DARKER) {
        hBitmapOut = DeriveBitmap(hBitmapIn, out == BTNST_AUTO_GRAY, &crTransIn);
        crTransOut = crTransIn;
    }
    m_csBitmaps[0].hMask = CreateBitmapMask(hBitmapIn, m_csBitmaps[0].dwWidth, m_csBitmaps[0].dwHeight, crTransIn);
    if (!m_csBitmaps[0].hMask) {
        if (hBitmapOut && hBitmapOut != hBitmapIn)
            ::DeleteObject(hBitmapOut);
        FreeResources();
        return BTNST_FAILEDMASK;
    }
    if (hBitmapOut) {
        BITMAP outBm{};
        if (!::GetObjectW(hBitmapOut, sizeof outBm, &outBm)) {
            FreeResources();
            return BTNST_INVALIDRESOURCE;
        }
        m_csBitmaps[1].hBitmap = hBitmapOut;
        m_csBitmaps[1].crTransparent = crTransOut;
        m_csBitmaps[1].dwWidth = static_cast<DWORD>(outBm.bmWidth);
        m_csBitmaps[1].dwHeight = static_cast<DWORD>(outBm.bmHeight);
        m_csBitmaps[1].hMask =
            CreateBitmapMask(hBitmapOut, m_csBitmaps[1].dwWidth, m_csBitmaps[1].dwHeight, crTransOut);
        if (!m_csBitmaps[1].hMask) {
            FreeResources();
            return BTNST_FAILEDMASK;
        }
    }
    if (m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetBitmaps(int nBitmapIn, COLORREF crTransIn, int nBitmapOut, COLORREF crTransOut) {
    HINSTANCE hModule = AfxGetResourceHandle();
    auto hIn = reinterpret_cast<HBITMAP>(::LoadImageW(hModule, MAKEINTRESOURCEW(nBitmapIn), IMAGE_BITMAP, 0, 0, 0));
    if (!hIn) {
        FreeResources();
        return BTNST_INVALIDRESOURCE;
    }
    HBITMAP hOut = nullptr;
    if (nBitmapOut == BTNST_AUTO_GRAY || nBitmapOut == BTNST_AUTO_DARKER) {
        hOut = reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(nBitmapOut));
    } else if (nBitmapOut) {
        hOut = reinterpret_cast<HBITMAP>(::LoadImageW(hModule, MAKEINTRESOURCEW(nBitmapOut), IMAGE_BITMAP, 0, 0, 0));
        if (!hOut) {
            ::DeleteObject(hIn);
            FreeResources();
            return BTNST_INVALIDRESOURCE;
        }
    }
    return SetBitmaps(hIn, crTransIn, hOut, crTransOut);
}

void CPictureButton::SizeToContent() {
    if (m_csIcons[0].hIcon) {
        SetWindowPos(nullptr, -1, -1, static_cast<int>(m_csIcons[0].dwWidth), static_cast<int>(m_csIcons[0].dwHeight),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    } else if (m_csBitmaps[0].hBitmap) {
        SetWindowPos(nullptr, -1, -1, static_cast<int>(m_csBitmaps[0].dwWidth),
                     static_cast<int>(m_csBitmaps[0].dwHeight),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
    m_nImageMarginX = m_nImageMarginY = 0;
}

// ---- Colours and looks ----

DWORD CPictureButton::SetStateColor(int nIndex, COLORREF crColor, BOOL bRepaint) {
    if (nIndex < 0 || nIndex >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    m_crColors[nIndex] = crColor;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::GetStateColor(int nIndex, COLORREF* pColor) const {
    if (nIndex < 0 || nIndex >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (!pColor)
        return BTNST_BADPARAM;
    *pColor = m_crColors[nIndex];
    return BTNST_OK;
}

DWORD CPictureButton::ShiftStateColor(int nIndex, short shShade, BOOL bRepaint) {
    if (nIndex < 0 || nIndex >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (shShade < -255 || shShade > 255)
        return BTNST_BADPARAM;
    const COLORREF c = m_crColors[nIndex];
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    int shade = shShade;
    // One amount for all three channels, so that none leaves 0..255.
    if (shade > 0)
        shade = std::min({shade, 255 - r, 255 - g, 255 - b});
    else
        shade = std::max({shade, -r, -g, -b});
    m_crColors[nIndex] = RGB(r + shade, g + shade, b + shade);
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::ResetStateColors(BOOL bRepaint) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const COLORREF text = ::GetSysColor(COLOR_BTNTEXT);
    m_crColors[BTNST_COLOR_BK_IN] = face;
    m_crColors[BTNST_COLOR_FG_IN] = text;
    m_crColors[BTNST_COLOR_BK_OUT] = face;
    m_crColors[BTNST_COLOR_FG_OUT] = text;
    m_crColors[BTNST_COLOR_BK_FOCUS] = face;
    m_crColors[BTNST_COLOR_FG_FOCUS] = text;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetFlat(BOOL bFlat, BOOL bRepaint) {
    m_bIsFlat = bFlat;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetDrawBorder(BOOL bDraw, BOOL bRepaint) {
    m_bDrawBorder = bDraw;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetFlatFocus(BOOL bFlatFocus, BOOL bRepaint) {
    m_bDrawFlatFocus = bFlatFocus;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetImageLayout(BYTE byLayout, BOOL bRepaint) {
    if (byLayout > 3)
        return BTNST_INVALIDALIGN;
    m_byImageLayout = byLayout;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetPressedStyle(BYTE byStyle, BOOL bRepaint) {
    if (byStyle == 0)
        m_ptPressedOffset = CPoint(1, 1);
    else if (byStyle == 1)
        m_ptPressedOffset = CPoint(0, 2);
    else
        return BTNST_INVALIDPRESSEDSTYLE;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetTrackWhenInactive(BOOL bTrack) {
    m_bAlwaysTrack = bTrack;
    return BTNST_OK;
}

DWORD CPictureButton::SetHoverCursor(int nCursorId, BOOL bRepaint) {
    if (m_hCursor) {
        ::DestroyCursor(m_hCursor);
        m_hCursor = nullptr;
    }
    if (nCursorId) {
        m_hCursor = reinterpret_cast<HCURSOR>(
            ::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nCursorId), IMAGE_CURSOR, 0, 0, 0));
        if (!m_hCursor)
            return BTNST_INVALIDRESOURCE;
    }
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

void CPictureButton::SetTooltipText(LPCTSTR lpszText, BOOL bActivate) {
    if (!lpszText || !m_hWnd)
        return;
    if (!m_ToolTip.GetSafeHwnd()) {
        if (!m_ToolTip.Create(this, m_dwToolTipStyle))
            return;
        m_ToolTip.Activate(FALSE);
        m_ToolTip.SetMaxTipWidth(400);
    }
    if (m_ToolTip.GetToolCount() == 0) {
        CRect rect;
        GetClientRect(&rect);
        m_ToolTip.AddTool(this, lpszText, &rect, 1);
    }
    m_ToolTip.UpdateTipText(lpszText, this, 1);
    m_ToolTip.Activate(bActivate);
}

void CPictureButton::SetTooltipText(int nText, BOOL bActivate) {
    CString text;
    text.LoadString(static_cast<UINT>(nText));
    SetTooltipText(text, bActivate);
}

void CPictureButton::ActivateTooltip(BOOL bActivate) {
    if (m_ToolTip.GetSafeHwnd() && m_ToolTip.GetToolCount() > 0)
        m_ToolTip.Activate(bActivate);
}

void CPictureButton::EnableBalloonTooltip() {
    m_dwToolTipStyle |= TTS_BALLOON;
}

DWORD CPictureButton::UseParentBackground(BOOL bRepaint) {
    m_bDrawTransparent = TRUE;
    if (m_dcBk.GetSafeHdc() && m_pbmpOldBk)
        m_dcBk.SelectObject(m_pbmpOldBk);
    m_dcBk.DeleteDC();
    m_bmpBk.DeleteObject();
    m_pbmpOldBk = nullptr;
    if (bRepaint && m_hWnd)
        Invalidate();
    return BTNST_OK;
}

DWORD CPictureButton::SetParentBackground(CDC* pDC) {
    if (!m_bDrawTransparent || !pDC || !m_hWnd)
        return BTNST_BADPARAM;
    if (m_dcBk.GetSafeHdc() && m_pbmpOldBk)
        m_dcBk.SelectObject(m_pbmpOldBk);
    m_dcBk.DeleteDC();
    m_bmpBk.DeleteObject();
    m_pbmpOldBk = nullptr;
    CRect rect;
    GetClientRect(&rect);
    CRect inParent = rect;
    if (CWnd* pParent = GetParent())
        MapWindowPoints(m_hWnd, pParent->GetSafeHwnd(), reinterpret_cast<LPPOINT>(&inParent), 2);
    if (m_dcBk.CreateCompatibleDC(pDC) && m_bmpBk.CreateCompatibleBitmap(pDC, rect.Width(), rect.Height())) {
        m_pbmpOldBk = m_dcBk.SelectObject(&m_bmpBk);
        m_dcBk.BitBlt(0, 0, rect.Width(), rect.Height(), pDC, inParent.left, inParent.top, SRCCOPY);
    }
    return BTNST_OK;
}

DWORD CPictureButton::SetUrl(LPCTSTR lpszUrl) {
    std::fill(std::begin(m_szURL), std::end(m_szURL), 0);
    if (lpszUrl) {
        const size_t length = std::min<size_t>(std::char_traits<char16_t>::length(lpszUrl), 260);
        std::copy_n(lpszUrl, length, m_szURL);
    }
    return BTNST_OK;
}

DWORD CPictureButton::SetSound(LPCTSTR lpszSound, HMODULE hMod, BOOL bPlayOnClick, BOOL bPlayAsync) {
    Sound& slot = m_csSounds[bPlayOnClick ? 1 : 0];
    slot = Sound{};
    if (!lpszSound)
        return BTNST_OK;
    if (IS_INTRESOURCE(lpszSound)) {
        slot.lpszSound = lpszSound;
        slot.hMod = hMod;
        slot.dwFlags = SND_RESOURCE | SND_NOWAIT | SND_NODEFAULT;
    } else {
        const size_t length = std::min<size_t>(std::char_traits<char16_t>::length(lpszSound), 260);
        std::copy_n(lpszSound, length, slot.szSound);
        slot.lpszSound = slot.szSound;
        slot.dwFlags = SND_FILENAME | SND_NOWAIT | SND_NODEFAULT;
    }
    if (bPlayAsync)
        slot.dwFlags |= SND_ASYNC;
    return BTNST_OK;
}

// ---- CRoundButton ----

void CRoundButton::SetRounded(BOOL bRounded, BOOL bRepaint) {
    m_bRounded = bRounded;
    if (bRepaint && m_hWnd)
        Invalidate();
}

DWORD CRoundButton::PaintFace(CDC* pDC, CRect* pRect) {
    if (!m_bMouseOnButton && !m_bIsPressed)
        return CPictureButton::PaintFace(pDC, pRect);
    CBrush brush(m_crColors[BTNST_COLOR_BK_IN]);
    CPen pen(PS_SOLID, 1, RGB(0, 0, 0));
    CBrush* oldBrush = pDC->SelectObject(&brush);
    CPen* oldPen = pDC->SelectObject(&pen);
    if (m_bRounded)
        pDC->RoundRect(pRect, CPoint(8, 8));
    else
        pDC->Rectangle(pRect);
    pDC->SelectObject(oldPen);
    pDC->SelectObject(oldBrush);
    return BTNST_OK;
}

DWORD CRoundButton::PaintFrame(CDC*, CRect*) {
    return BTNST_OK;
}
