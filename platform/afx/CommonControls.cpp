// The framework's classes of the smaller common controls: creation and the parts that are not inline.
#include "platform/afx/AnimateCtrl.h"
#include "platform/afx/DateTimeCtrl.h"
#include "platform/afx/HeaderCtrl.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/ProgressCtrl.h"
#include "platform/afx/SliderCtrl.h"
#include "platform/afx/SpinButtonCtrl.h"
#include "platform/afx/TabCtrl.h"
#include "platform/afx/ToolTipCtrl.h"
#include "platform/res/resources.h"
#include "platform/ui/menu.h"

IMPLEMENT_DYNAMIC(CHeaderCtrl, CWnd)
IMPLEMENT_DYNAMIC(CTabCtrl, CWnd)
IMPLEMENT_DYNAMIC(CProgressCtrl, CWnd)
IMPLEMENT_DYNAMIC(CSliderCtrl, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)
IMPLEMENT_DYNAMIC(CSpinButtonCtrl, CWnd)
IMPLEMENT_DYNAMIC(CAnimateCtrl, CWnd)

namespace {

BOOL CreateControl(CWnd& wnd, LPCWSTR className, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    InitCommonControls();
    return wnd.CWnd::Create(className, nullptr, dwStyle, rect, pParentWnd, nID);
}

} // namespace

CHeaderCtrl::~CHeaderCtrl() {
    DestroyWindow();
}
BOOL CHeaderCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, WC_HEADERW, dwStyle, rect, pParentWnd, nID);
}
void CHeaderCtrl::DrawItem(LPDRAWITEMSTRUCT) {}
BOOL CHeaderCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_DRAWITEM) {
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
        if (pResult)
            *pResult = TRUE;
        return TRUE;
    }
    return CWnd::OnChildNotify(message, wParam, lParam, pResult);
}

CTabCtrl::~CTabCtrl() {
    DestroyWindow();
}
BOOL CTabCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, WC_TABCONTROLW, dwStyle, rect, pParentWnd, nID);
}

CProgressCtrl::~CProgressCtrl() {
    DestroyWindow();
}
BOOL CProgressCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, PROGRESS_CLASSW, dwStyle, rect, pParentWnd, nID);
}

CSliderCtrl::~CSliderCtrl() {
    DestroyWindow();
}
BOOL CSliderCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, TRACKBAR_CLASSW, dwStyle, rect, pParentWnd, nID);
}

CSpinButtonCtrl::~CSpinButtonCtrl() {
    DestroyWindow();
}
BOOL CSpinButtonCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, UPDOWN_CLASSW, dwStyle, rect, pParentWnd, nID);
}

CAnimateCtrl::~CAnimateCtrl() {
    DestroyWindow();
}
BOOL CAnimateCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, ANIMATE_CLASSW, dwStyle, rect, pParentWnd, nID);
}
BOOL CAnimateCtrl::Open(LPCTSTR lpszFileName) {
    return static_cast<BOOL>(SendMessage(ACM_OPENW, reinterpret_cast<WPARAM>(AfxGetInstanceHandle()),
                                         reinterpret_cast<LPARAM>(lpszFileName)));
}
BOOL CAnimateCtrl::Open(UINT nID) {
    // The clip is looked for in the resource module first (a language library), then in the program.
    HINSTANCE instance = AfxGetResourceHandle();
    if (!FindResourceW(reinterpret_cast<HMODULE>(instance), MAKEINTRESOURCEW(nID), u"AVI"))
        instance = AfxGetInstanceHandle();
    return static_cast<BOOL>(
        SendMessage(ACM_OPENW, reinterpret_cast<WPARAM>(instance), reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(nID))));
}

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* pParentWnd, DWORD dwStyle) {
    InitCommonControls();
    HWND owner = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    return CWnd::CreateEx(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | dwStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, owner, nullptr, nullptr);
}

void CToolTipCtrl::FillInfo(TOOLINFOW& ti, CWnd* pWnd, UINT_PTR nIDTool) const {
    ti = TOOLINFOW{};
    ti.cbSize = sizeof ti;
    HWND hwnd = pWnd ? pWnd->GetSafeHwnd() : nullptr;
    if (nIDTool == 0) {
        ti.hwnd = pWnd && pWnd->GetParent() ? pWnd->GetParent()->GetSafeHwnd() : hwnd;
        ti.uFlags = TTF_IDISHWND;
        ti.uId = reinterpret_cast<UINT_PTR>(hwnd);
    } else {
        ti.hwnd = hwnd;
        ti.uId = nIDTool;
    }
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, LPCTSTR lpszText, LPCRECT lpRectTool, UINT_PTR nIDTool) {
    if (!pWnd)
        return FALSE;
    TOOLINFOW ti;
    FillInfo(ti, pWnd, nIDTool);
    if (lpRectTool)
        ti.rect = *lpRectTool;
    else if (nIDTool != 0)
        ::GetClientRect(pWnd->GetSafeHwnd(), &ti.rect);
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, UINT nIDText, LPCRECT lpRectTool, UINT_PTR nIDTool) {
    CString text;
    text.LoadString(nIDText);
    return AddTool(pWnd, text, lpRectTool, nIDTool);
}

void CToolTipCtrl::DelTool(CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti;
    FillInfo(ti, pWnd, nIDTool);
    SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(LPCTSTR lpszText, CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti;
    FillInfo(ti, pWnd, nIDTool);
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(UINT nIDText, CWnd* pWnd, UINT_PTR nIDTool) {
    CString text;
    text.LoadString(nIDText);
    UpdateTipText(text, pWnd, nIDTool);
}

void CToolTipCtrl::GetText(CString& str, CWnd* pWnd, UINT_PTR nIDTool) const {
    TOOLINFOW ti;
    FillInfo(ti, pWnd, nIDTool);
    ti.lpszText = str.GetBuffer(1024);
    ti.lpszText[0] = 0;
    SendMessage(TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&ti));
    str.ReleaseBuffer();
}

void CToolTipCtrl::SetToolRect(CWnd* pWnd, UINT_PTR nIDTool, LPCRECT lpRect) {
    TOOLINFOW ti;
    FillInfo(ti, pWnd, nIDTool);
    ti.rect = *lpRect;
    SendMessage(TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&ti));
}

IMPLEMENT_DYNAMIC(CDateTimeCtrl, CWnd)

CDateTimeCtrl::~CDateTimeCtrl() {
    DestroyWindow();
}
BOOL CDateTimeCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CreateControl(*this, DATETIMEPICK_CLASSW, dwStyle, rect, pParentWnd, nID);
}

DWORD CDateTimeCtrl::GetTime(CTime& timeDest) const {
    SYSTEMTIME st{};
    const DWORD result = GetTime(&st);
    if (result == static_cast<DWORD>(GDT_VALID))
        timeDest = CTime(st);
    return result;
}

BOOL CDateTimeCtrl::GetTime(COleDateTime& timeDest) const {
    SYSTEMTIME st{};
    const DWORD result = GetTime(&st);
    if (result == static_cast<DWORD>(GDT_VALID)) {
        timeDest = COleDateTime(st);
        return TRUE;
    }
    if (result == static_cast<DWORD>(GDT_NONE)) {
        timeDest.SetStatus(COleDateTime::null);
        return TRUE;
    }
    return FALSE;
}

BOOL CDateTimeCtrl::SetTime(const CTime* pTimeNew) {
    if (!pTimeNew)
        return SetTime(static_cast<const SYSTEMTIME*>(nullptr));
    SYSTEMTIME st{};
    if (!pTimeNew->GetAsSystemTime(st))
        return FALSE;
    return SetTime(&st);
}

BOOL CDateTimeCtrl::SetTime(const COleDateTime& timeNew) {
    if (timeNew.GetStatus() == COleDateTime::null)
        return SetTime(static_cast<const SYSTEMTIME*>(nullptr));
    SYSTEMTIME st{};
    if (!timeNew.GetAsSystemTime(st))
        return FALSE;
    return SetTime(&st);
}

BOOL CDateTimeCtrl::SetRange(const CTime* pMinRange, const CTime* pMaxRange) {
    SYSTEMTIME range[2]{};
    WPARAM flags = 0;
    if (pMinRange && pMinRange->GetAsSystemTime(range[0]))
        flags |= GDTR_MIN;
    if (pMaxRange && pMaxRange->GetAsSystemTime(range[1]))
        flags |= GDTR_MAX;
    return static_cast<BOOL>(SendMessage(DTM_SETRANGE, flags, reinterpret_cast<LPARAM>(range)));
}

DWORD CDateTimeCtrl::GetRange(CTime* pMinRange, CTime* pMaxRange) const {
    SYSTEMTIME range[2]{};
    const DWORD flags = static_cast<DWORD>(SendMessage(DTM_GETRANGE, 0, reinterpret_cast<LPARAM>(range)));
    if (pMinRange && (flags & GDTR_MIN))
        *pMinRange = CTime(range[0]);
    if (pMaxRange && (flags & GDTR_MAX))
        *pMaxRange = CTime(range[1]);
    return flags;
}
