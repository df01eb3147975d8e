// CControlBar and CToolBar: the framework's tool bar, a CWnd over the "ToolbarWindow32" control whose buttons and
// bitmap come from a toolbar resource (RT_TOOLBAR, 241: WORD version 1, WORD image width, WORD image height, WORD
// button count, then one WORD command id per button, 0 for a separator) and the bitmap resource of the same name.
//
// The same as the framework: LoadToolBar sets the buttons (the n-th button that is not a separator shows image n),
// button size image size + (7, 7), and loads the bitmap with the button colours mapped to the system's
// (AfxLoadSysColorBitmap); the bar owns that bitmap. Where it differs: the bar does not dock, float, size itself to
// its parent or show tool tips; the control-bar style bits (CBRS_) are kept as the bar's style and never reach
// the window.
#pragma once

#include "platform/afx/Rect.h"
#include "platform/afx/Wnd.h"
#include "platform/res/resources.h"
#include "platform/ui/commctrl.h"

#define RT_TOOLBAR MAKEINTRESOURCEW(241)

constexpr UINT ID_SEPARATOR = 0;
constexpr UINT AFX_IDW_TOOLBAR = 0xE800;

constexpr DWORD CBRS_ALIGN_LEFT = 0x1000;
constexpr DWORD CBRS_ALIGN_TOP = 0x2000;
constexpr DWORD CBRS_ALIGN_RIGHT = 0x4000;
constexpr DWORD CBRS_ALIGN_BOTTOM = 0x8000;
constexpr DWORD CBRS_ALIGN_ANY = 0xF000;
constexpr DWORD CBRS_BORDER_LEFT = 0x0100;
constexpr DWORD CBRS_BORDER_TOP = 0x0200;
constexpr DWORD CBRS_BORDER_RIGHT = 0x0400;
constexpr DWORD CBRS_BORDER_BOTTOM = 0x0800;
constexpr DWORD CBRS_BORDER_ANY = 0x0F00;
constexpr DWORD CBRS_TOOLTIPS = 0x0010;
constexpr DWORD CBRS_FLYBY = 0x0020;
constexpr DWORD CBRS_FLOAT_MULTI = 0x0040;
constexpr DWORD CBRS_SIZE_DYNAMIC = 0x0080;
constexpr DWORD CBRS_GRIPPER = 0x00400000;
constexpr DWORD CBRS_TOP = CBRS_ALIGN_TOP | CBRS_BORDER_BOTTOM;
constexpr DWORD CBRS_BOTTOM = CBRS_ALIGN_BOTTOM | CBRS_BORDER_TOP;
constexpr DWORD CBRS_ALL = 0x0040FFFF;

constexpr UINT TBBS_BUTTON = TBSTYLE_BUTTON;
constexpr UINT TBBS_SEPARATOR = TBSTYLE_SEP;
constexpr UINT TBBS_CHECKBOX = TBSTYLE_CHECK;
constexpr UINT TBBS_GROUP = TBSTYLE_GROUP;
constexpr UINT TBBS_CHECKGROUP = TBSTYLE_CHECKGROUP;
// A button's style in the low word, its state in the high word; the state's TBSTATE_ENABLED bit reads "disabled".
constexpr UINT TBBS_CHECKED = static_cast<UINT>(TBSTATE_CHECKED) << 16;
constexpr UINT TBBS_PRESSED = static_cast<UINT>(TBSTATE_PRESSED) << 16;
constexpr UINT TBBS_DISABLED = static_cast<UINT>(TBSTATE_ENABLED) << 16;
constexpr UINT TBBS_HIDDEN = static_cast<UINT>(TBSTATE_HIDDEN) << 16;

// A bitmap resource with the button colours mapped to the system's (black, dark grey, light grey and white become
// COLOR_BTNTEXT, COLOR_BTNSHADOW, COLOR_BTNFACE and COLOR_BTNHIGHLIGHT). Monochrome bitmaps are not offered: bMono
// must be FALSE. The caller owns the bitmap.
HBITMAP AfxLoadSysColorBitmap(HINSTANCE hInst, HRSRC hRsrc, BOOL bMono = FALSE);

class CControlBar : public CWnd {
    DECLARE_DYNAMIC(CControlBar)
public:
    CControlBar() = default;
    ~CControlBar() override;

    DWORD GetBarStyle() const { return m_dwStyle; }
    void SetBarStyle(DWORD dwStyle) { m_dwStyle = dwStyle; }
    int GetCount() const;

protected:
    DWORD m_dwStyle = 0;
};

class CToolBar : public CControlBar {
    DECLARE_DYNAMIC(CToolBar)
public:
    CToolBar() = default;
    ~CToolBar() override;

    virtual BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_TOP, UINT nID = AFX_IDW_TOOLBAR);
    virtual BOOL CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle = TBSTYLE_FLAT,
                          DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_ALIGN_TOP, CRect rcBorders = CRect(0, 0, 0, 0),
                          UINT nID = AFX_IDW_TOOLBAR);

    // The toolbar resource and its bitmap, from the resource module that holds them (AfxFindResourceHandle).
    BOOL LoadToolBar(LPCTSTR lpszResourceName);
    BOOL LoadToolBar(UINT nIDResource) { return LoadToolBar(MAKEINTRESOURCEW(nIDResource)); }
    BOOL LoadBitmap(LPCTSTR lpszResourceName);
    BOOL LoadBitmap(UINT nIDResource) { return LoadBitmap(MAKEINTRESOURCEW(nIDResource)); }
    // Takes the bitmap (the bar owns it from now on; the previous one is deleted).
    BOOL SetBitmap(HBITMAP hbmImageWell);
    // Buttons for the ids (ID_SEPARATOR: a separator); null ids make nCount empty buttons to be set one by one.
    BOOL SetButtons(const UINT* lpIDArray, int nIDCount);
    // Button size at least the image size + (7, 6).
    void SetSizes(SIZE sizeButton, SIZE sizeImage);

    int CommandToIndex(UINT nIDFind) const;
    UINT GetItemID(int nIndex) const;
    void GetItemRect(int nIndex, LPRECT lpRect) const;
    UINT GetButtonStyle(int nIndex) const;
    void SetButtonStyle(int nIndex, UINT nStyle);
    void GetButtonInfo(int nIndex, UINT& nID, UINT& nStyle, int& iImage) const;
    void SetButtonInfo(int nIndex, UINT nID, UINT nStyle, int iImage);

    SIZE GetButtonSize() const { return m_sizeButton; }
    SIZE GetImageSize() const { return m_sizeImage; }
    HBITMAP GetBitmap() const { return m_hbmImageWell; }

    // The module and resource the bitmap was loaded from (LoadBitmap), null otherwise.
    HINSTANCE m_hInstImageWell = nullptr;
    HRSRC m_hRsrcImageWell = nullptr;
    HBITMAP m_hbmImageWell = nullptr;

protected:
    BOOL GetButton(int nIndex, TBBUTTON& button) const;
    void SetButton(int nIndex, const TBBUTTON& button);

    SIZE m_sizeButton{23, 22};
    SIZE m_sizeImage{16, 15};
};
