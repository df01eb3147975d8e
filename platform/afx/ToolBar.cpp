#include "platform/afx/ToolBar.h"

#include "platform/afx/ModuleState.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"

#include <algorithm>
#include <cstring>
#include <vector>

IMPLEMENT_DYNAMIC(CControlBar, CWnd)
IMPLEMENT_DYNAMIC(CToolBar, CControlBar)

HBITMAP AfxLoadSysColorBitmap(HINSTANCE hInst, HRSRC hRsrc, BOOL bMono) {
    if (bMono || !hRsrc)
        return nullptr;
    HGLOBAL data = LoadResource(hInst, hRsrc);
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        return nullptr;
    const COLORMAP buttonColors[] = {
        {RGB(0, 0, 0), GetSysColor(COLOR_BTNTEXT)},
        {RGB(128, 128, 128), GetSysColor(COLOR_BTNSHADOW)},
        {RGB(192, 192, 192), GetSysColor(COLOR_BTNFACE)},
        {RGB(255, 255, 255), GetSysColor(COLOR_BTNHIGHLIGHT)},
    };
    return platform::ui::CreateMappedBitmapFromDib(bytes, SizeofResource(hInst, hRsrc), buttonColors, 4);
}

CControlBar::~CControlBar() {
    DestroyWindow();
}

int CControlBar::GetCount() const {
    return m_hWnd ? static_cast<int>(::SendMessageW(m_hWnd, TB_BUTTONCOUNT, 0, 0)) : 0;
}

CToolBar::~CToolBar() {
    DestroyWindow();
    if (m_hbmImageWell)
        ::DeleteObject(m_hbmImageWell);
}

BOOL CToolBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
    return CreateEx(pParentWnd, 0, dwStyle, CRect(0, 0, 0, 0), nID);
}

BOOL CToolBar::CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle, DWORD dwStyle, CRect rcBorders, UINT nID) {
    (void)rcBorders;
    InitCommonControls();
    // The bar's own style bits stay with the bar; the window gets the window and control styles.
    m_dwStyle = dwStyle & CBRS_ALL;
    const DWORD windowStyle =
        (dwStyle & ~CBRS_ALL) | dwCtrlStyle | CCS_NOPARENTALIGN | CCS_NOMOVEY | CCS_NODIVIDER | CCS_NORESIZE;
    HWND parent = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    if (!CWnd::CreateEx(0, TOOLBARCLASSNAMEW, nullptr, windowStyle, 0, 0, 100, m_sizeButton.cy + 4, parent,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID))))
        return FALSE;
    SendMessage(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON));
    SetSizes(m_sizeButton, m_sizeImage);
    return TRUE;
}

BOOL CToolBar::LoadToolBar(LPCTSTR lpszResourceName) {
    if (!lpszResourceName)
        return FALSE;
    HINSTANCE module = AfxFindResourceHandle(lpszResourceName, RT_TOOLBAR);
    HRSRC resource = ::FindResourceW(module, lpszResourceName, RT_TOOLBAR);
    if (!resource)
        return FALSE;
    HGLOBAL data = ::LoadResource(module, resource);
    const auto* words = data ? static_cast<const WORD*>(::LockResource(data)) : nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    if (!words || size < 4 * sizeof(WORD) || words[0] != 1)
        return FALSE;
    const WORD count = words[3];
    if (size < (4u + count) * sizeof(WORD))
        return FALSE;
    std::vector<UINT> ids(words + 4, words + 4 + count);
    if (!SetButtons(ids.data(), count))
        return FALSE;
    const SIZE image{words[1], words[2]};
    SetSizes(SIZE{image.cx + 7, image.cy + 7}, image);
    return LoadBitmap(lpszResourceName);
}

BOOL CToolBar::LoadBitmap(LPCTSTR lpszResourceName) {
    HINSTANCE module = AfxFindResourceHandle(lpszResourceName, RT_BITMAP);
    HRSRC resource = ::FindResourceW(module, lpszResourceName, RT_BITMAP);
    if (!resource)
        return FALSE;
    HBITMAP bitmap = AfxLoadSysColorBitmap(module, resource);
    if (!bitmap)
        return FALSE;
    if (!SetBitmap(bitmap)) {
        ::DeleteObject(bitmap);
        return FALSE;
    }
    m_hInstImageWell = module;
    m_hRsrcImageWell = resource;
    return TRUE;
}

BOOL CToolBar::SetBitmap(HBITMAP hbmImageWell) {
    BITMAP info{};
    if (!hbmImageWell || !::GetObjectW(hbmImageWell, sizeof info, &info))
        return FALSE;
    const int images = m_sizeImage.cx > 0 ? static_cast<int>(info.bmWidth / m_sizeImage.cx) : 0;
    if (m_hWnd) {
        TBADDBITMAP add{nullptr, reinterpret_cast<UINT_PTR>(hbmImageWell)};
        if (SendMessage(TB_ADDBITMAP, static_cast<WPARAM>(images), reinterpret_cast<LPARAM>(&add)) < 0)
            return FALSE;
    }
    if (m_hbmImageWell && m_hbmImageWell != hbmImageWell)
        ::DeleteObject(m_hbmImageWell);
    m_hbmImageWell = hbmImageWell;
    m_hInstImageWell = nullptr;
    m_hRsrcImageWell = nullptr;
    return TRUE;
}

BOOL CToolBar::SetButtons(const UINT* lpIDArray, int nIDCount) {
    if (!m_hWnd || nIDCount < 0)
        return FALSE;
    while (SendMessage(TB_BUTTONCOUNT) > 0)
        SendMessage(TB_DELETEBUTTON, 0);
    int image = 0;
    for (int i = 0; i < nIDCount; ++i) {
        TBBUTTON button{};
        button.fsState = TBSTATE_ENABLED;
        if (!lpIDArray) {
            button.fsStyle = TBSTYLE_SEP;
        } else if (lpIDArray[i] == ID_SEPARATOR) {
            button.fsStyle = TBSTYLE_SEP;
        } else {
            button.idCommand = static_cast<int>(lpIDArray[i]);
            button.iBitmap = image++;
            button.fsStyle = TBSTYLE_BUTTON;
        }
        if (!SendMessage(TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button)))
            return FALSE;
    }
    return TRUE;
}

void CToolBar::SetSizes(SIZE sizeButton, SIZE sizeImage) {
    m_sizeImage = sizeImage;
    m_sizeButton = SIZE{std::max(sizeButton.cx, sizeImage.cx + 7), std::max(sizeButton.cy, sizeImage.cy + 6)};
    if (!m_hWnd)
        return;
    SendMessage(TB_SETBITMAPSIZE, 0, MAKELONG(m_sizeImage.cx, m_sizeImage.cy));
    SendMessage(TB_SETBUTTONSIZE, 0, MAKELONG(m_sizeButton.cx, m_sizeButton.cy));
}

BOOL CToolBar::GetButton(int nIndex, TBBUTTON& button) const {
    button = TBBUTTON{};
    return m_hWnd && SendMessage(TB_GETBUTTON, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&button));
}

void CToolBar::SetButton(int nIndex, const TBBUTTON& button) {
    if (!m_hWnd || nIndex < 0 || nIndex >= GetCount())
        return;
    SendMessage(TB_DELETEBUTTON, static_cast<WPARAM>(nIndex));
    SendMessage(TB_INSERTBUTTONW, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&button));
}

int CToolBar::CommandToIndex(UINT nIDFind) const {
    return m_hWnd ? static_cast<int>(SendMessage(TB_COMMANDTOINDEX, nIDFind)) : -1;
}

UINT CToolBar::GetItemID(int nIndex) const {
    TBBUTTON button;
    if (!GetButton(nIndex, button))
        return 0;
    return (button.fsStyle & TBSTYLE_SEP) ? ID_SEPARATOR : static_cast<UINT>(button.idCommand);
}

void CToolBar::GetItemRect(int nIndex, LPRECT lpRect) const {
    if (lpRect &&
        !(m_hWnd && SendMessage(TB_GETITEMRECT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(lpRect))))
        ::SetRectEmpty(lpRect);
}

UINT CToolBar::GetButtonStyle(int nIndex) const {
    TBBUTTON button;
    if (!GetButton(nIndex, button))
        return 0;
    const UINT state = static_cast<UINT>(button.fsState ^ TBSTATE_ENABLED);
    return button.fsStyle | (state << 16);
}

void CToolBar::SetButtonStyle(int nIndex, UINT nStyle) {
    TBBUTTON button;
    if (!GetButton(nIndex, button))
        return;
    button.fsStyle = static_cast<BYTE>(nStyle & 0xFF);
    button.fsState = static_cast<BYTE>(((nStyle >> 16) & 0xFF) ^ TBSTATE_ENABLED);
    SetButton(nIndex, button);
}

void CToolBar::GetButtonInfo(int nIndex, UINT& nID, UINT& nStyle, int& iImage) const {
    TBBUTTON button;
    if (!GetButton(nIndex, button)) {
        nID = 0;
        nStyle = 0;
        iImage = 0;
        return;
    }
    nID = (button.fsStyle & TBSTYLE_SEP) ? ID_SEPARATOR : static_cast<UINT>(button.idCommand);
    nStyle = GetButtonStyle(nIndex);
    iImage = button.iBitmap;
}

void CToolBar::SetButtonInfo(int nIndex, UINT nID, UINT nStyle, int iImage) {
    TBBUTTON button;
    if (!GetButton(nIndex, button))
        return;
    button.idCommand = static_cast<int>(nID);
    button.iBitmap = iImage;
    button.fsStyle = static_cast<BYTE>(nStyle & 0xFF);
    button.fsState = static_cast<BYTE>(((nStyle >> 16) & 0xFF) ^ TBSTATE_ENABLED);
    SetButton(nIndex, button);
}
