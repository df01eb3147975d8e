// CPictureButton: an owner-drawn push button (or check box) with up to two icons or two bitmaps (the in image for
// the pressed or hovered state, the out image for the rest), a caption, six state colours, a flat look that lights
// up under the mouse, and optional extras: a tooltip, a cursor, sounds on hover and click, a drop-down menu (an
// owner-drawn BCMenu whose first sub-menu opens below the button and whose choice goes to an owner window as
// WM_COMMAND) or a URL opened on click.
//
// Setters answer 0 on success, else one of the result codes below. A button subclasses its dialog item; its type
// bits become BS_OWNERDRAW, a check-box type turns on check-box mode and BS_DEFPUSHBUTTON makes it the default.
//
// GUI thread only.
#pragma once

#include "platform/afx/Button.h"
#include "platform/afx/DC.h"
#include "platform/afx/GdiObject.h"
#include "platform/afx/ToolTipCtrl.h"

#include <memory>

class BCMenu;
struct DRAWITEMSTRUCT;

class CPictureButton : public CButton {
    DECLARE_DYNAMIC(CPictureButton)
public:
    enum Result {
        BTNST_OK = 0,
        BTNST_INVALIDRESOURCE = 1,
        BTNST_FAILEDMASK = 2,
        BTNST_INVALIDINDEX = 3,
        BTNST_INVALIDALIGN = 4,
        BTNST_BADPARAM = 5,
        BTNST_INVALIDPRESSEDSTYLE = 6,
    };
    // The state colours.
    enum {
        BTNST_COLOR_BK_IN = 0,
        BTNST_COLOR_FG_IN,
        BTNST_COLOR_BK_OUT,
        BTNST_COLOR_FG_OUT,
        BTNST_COLOR_BK_FOCUS,
        BTNST_COLOR_FG_FOCUS,
        BTNST_MAX_COLORS
    };
    // Derived out images.
    static constexpr int BTNST_AUTO_GRAY = -2;
    static constexpr int BTNST_AUTO_DARKER = -3;

    CPictureButton();
    ~CPictureButton() override;

    DWORD SetIcons(HICON hIconIn, HICON hIconOut);
    DWORD SetIcons(int nIconIn, int nIconOut);
    DWORD SetBitmaps(HBITMAP hBitmapIn, COLORREF crTransIn, HBITMAP hBitmapOut, COLORREF crTransOut);
    DWORD SetBitmaps(int nBitmapIn, COLORREF crTransIn, int nBitmapOut, COLORREF crTransOut);
    DWORD SetStateColor(int nIndex, COLORREF crColor, BOOL bRepaint = TRUE);
    DWORD GetStateColor(int nIndex, COLORREF* pColor) const;
    DWORD ShiftStateColor(int nIndex, short shShade, BOOL bRepaint = TRUE);
    DWORD ResetStateColors(BOOL bRepaint = TRUE);
    DWORD SetFlat(BOOL bFlat, BOOL bRepaint = TRUE);
    DWORD SetDrawBorder(BOOL bDraw, BOOL bRepaint = TRUE);
    DWORD SetFlatFocus(BOOL bFlatFocus, BOOL bRepaint = TRUE);
    DWORD SetImageLayout(BYTE byLayout, BOOL bRepaint = TRUE);
    DWORD SetPressedStyle(BYTE byStyle, BOOL bRepaint = TRUE);
    void SetCheck(int nCheck, BOOL bRepaint = TRUE);
    int GetCheck() const { return m_nCheck; }
    BOOL GetDefault() const { return m_bIsDefault; }
    DWORD SetTrackWhenInactive(BOOL bTrack);
    DWORD SetHoverCursor(int nCursorId, BOOL bRepaint = TRUE);
    void SetTooltipText(LPCTSTR lpszText, BOOL bActivate = TRUE);
    void SetTooltipText(int nText, BOOL bActivate = TRUE);
    void ActivateTooltip(BOOL bActivate = TRUE);
    void EnableBalloonTooltip();
    DWORD UseParentBackground(BOOL bRepaint = TRUE);
    DWORD SetParentBackground(CDC* pDC);
    DWORD SetUrl(LPCTSTR lpszUrl);
    // The drop-down menu: menu resource nMenu (0 removes it), drawn in nDrawMode, with the images of toolbar
    // resource nToolbarId (0 none; a toolbar that does not load answers 1 and leaves no menu).
    DWORD SetPopupMenu(int nMenu, CWnd* pOwner, int nDrawMode = 1, int nToolbarId = 0, int nCellWidth = 16,
                       int nCellHeight = 15, COLORREF crTransparent = RGB(192, 192, 192), BOOL bRepaint = TRUE);
    // Sent (message, the menu's handle, lParam) to a window just before the menu opens.
    DWORD SetMenuCallback(HWND hWnd, UINT nMessage, LPARAM lParam = 0);
    BCMenu* GetPopupMenu() const { return m_pMenu.get(); }
    void SizeToContent();
    // A sound file, or a resource id (MAKEINTRESOURCE) of a module; slot 0 plays on hover, 1 on click; null clears.
    DWORD SetSound(LPCTSTR lpszSound, HMODULE hMod = nullptr, BOOL bPlayOnClick = FALSE, BOOL bPlayAsync = TRUE);

    BOOL IsHovering() const { return m_bMouseOnButton; }
    BOOL IsCheckBox() const { return m_bIsCheckBox; }
    BOOL IsFlat() const { return m_bIsFlat; }

    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    virtual void DrawItem(DRAWITEMSTRUCT* lpDIS);

protected:
    void PreSubclassWindow() override;
    virtual DWORD PaintFace(CDC* pDC, CRect* pRect);
    virtual DWORD PaintFrame(CDC* pDC, CRect* pRect);
    virtual void PaintIcon(CDC* pDC, BOOL bHasTitle, RECT* rpItem, CRect* rpCaption, BOOL bIsPressed, BOOL bIsDisabled);
    virtual void PaintBitmap(CDC* pDC, BOOL bHasTitle, RECT* rpItem, CRect* rpCaption, BOOL bIsPressed,
                             BOOL bIsDisabled);
    virtual void PaintCaption(CDC* pDC, LPCTSTR lpszTitle, RECT* rpItem, CRect* rpCaption, BOOL bIsPressed,
                              BOOL bIsDisabled);

    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnKillFocus(CWnd* pNewWnd);
    void OnCancelMode();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnEnable(BOOL bEnable);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    UINT OnGetDlgCode();
    void OnSysColorChange();
    BOOL OnClicked();
    LRESULT OnSetStyle(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetCheck(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetCheck(WPARAM wParam, LPARAM lParam);
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    LRESULT OnMenuChar(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

    // Where an image of the given size goes, and what is left to the caption.
    void PrepareImageRect(BOOL bHasTitle, RECT* rpItem, CRect* rpTitle, BOOL bIsPressed, DWORD dwWidth, DWORD dwHeight,
                          CRect* rpImage) const;
    void CancelHover();
    void FreeResources(BOOL bCheckForNull = TRUE);
    static HBITMAP CreateBitmapMask(HBITMAP hSourceBitmap, DWORD dwWidth, DWORD dwHeight, COLORREF crTransColor);
    // Copies of an image: grey, or 25 % darker; the transparent colour (bitmaps) and black (icons) stay.
    static HBITMAP DeriveBitmap(HBITMAP hBitmap, bool bGrey, const COLORREF* pcrKeep);
    static HICON DeriveIcon(HICON hIcon, bool bGrey);

    BOOL m_bDrawGrayedBitmap = TRUE;
    int m_nImageMarginX = 3;
    int m_nImageMarginY = 3;
    CPoint m_ptPressedOffset{1, 1};
    BOOL m_bIsFlat = TRUE;
    BOOL m_bMouseOnButton = FALSE;
    BOOL m_bDrawTransparent = FALSE;
    BOOL m_bIsPressed = FALSE;
    BOOL m_bIsFocused = FALSE;
    BOOL m_bIsDisabled = FALSE;
    BOOL m_bIsDefault = FALSE;
    BOOL m_bIsCheckBox = FALSE;
    BYTE m_byImageLayout = 0;
    BOOL m_bDrawBorder = TRUE;
    BOOL m_bDrawFlatFocus = FALSE;
    COLORREF m_crColors[BTNST_MAX_COLORS]{};
    HWND m_hMenuOwner = nullptr;
    BOOL m_bMenuDisplayed = FALSE;
    std::unique_ptr<BCMenu> m_pMenu;
    HCURSOR m_hCursor = nullptr;
    CToolTipCtrl m_ToolTip;
    CDC m_dcBk;
    CBitmap m_bmpBk;
    CBitmap* m_pbmpOldBk = nullptr;
    BOOL m_bAlwaysTrack = TRUE;
    int m_nCheck = 0;
    DWORD m_dwToolTipStyle = 0;
    WCHAR m_szURL[261]{};

    struct Icon {
        HICON hIcon = nullptr;
        DWORD dwWidth = 0;
        DWORD dwHeight = 0;
    } m_csIcons[2];
    struct Bitmap {
        HBITMAP hBitmap = nullptr;
        DWORD dwWidth = 0;
        DWORD dwHeight = 0;
        HBITMAP hMask = nullptr;
        COLORREF crTransparent = 0;
    } m_csBitmaps[2];
    struct Callback {
        HWND hWnd = nullptr;
        UINT nMessage = 0;
        LPARAM lParam = 0;
    } m_csCallbacks;
    struct Sound {
        WCHAR szSound[261]{};
        LPCWSTR lpszSound = nullptr;
        HMODULE hMod = nullptr;
        DWORD dwFlags = 0;
    } m_csSounds[2];
};

// CRoundButton: a picture button whose face, while the mouse is over it or it is pressed, is filled with the in
// background and outlined in black, with rounded corners when asked; it draws no frame.
class CRoundButton : public CPictureButton {
    DECLARE_DYNAMIC(CRoundButton)
public:
    CRoundButton() = default;
    void SetRounded(BOOL bRounded, BOOL bRepaint = TRUE);
    BOOL IsRounded() const { return m_bRounded; }

protected:
    DWORD PaintFace(CDC* pDC, CRect* pRect) override;
    DWORD PaintFrame(CDC* pDC, CRect* pRect) override;

    BOOL m_bRounded = FALSE;
};
