#include "shared/TrayDialog.h"

#include "shared/TrayDialogApp.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/WinApp.h"
#include "platform/gdi/wingdi.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CTrayDialog, CDialog)

BEGIN_MESSAGE_MAP(CTrayDialog, CDialog)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_SYSCOMMAND()
ON_WM_TIMER()
ON_WM_WINDOWPOSCHANGING()
ON_MESSAGE(WM_TRAY_NOTIFY, OnTrayNotification)
ON_MESSAGE(WM_TRAY_NOTIFY_COMPANION, OnCompanionTrayNotification)
END_MESSAGE_MAP()

CTrayDialog::CTrayDialog(UINT nIDTemplate, CWnd* pParentWnd, Variant variant)
    : CDialog(nIDTemplate, pParentWnd), m_variant(variant), m_animationIcons(10) {
    InitNotifyIconData();
}

CTrayDialog::CTrayDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd, Variant variant)
    : CDialog(lpszTemplateName, pParentWnd), m_variant(variant), m_animationIcons(10) {
    InitNotifyIconData();
}

CTrayDialog::~CTrayDialog() {
    // The icon list and the menu go before the dialog base.
    ClearAnimationIcons();
    m_trayMenu.DestroyMenu();
}

void CTrayDialog::InitNotifyIconData() {
    m_nid = NOTIFYICONDATAW{};
    m_nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
    m_nid.hWnd = nullptr;
    m_nid.uID = 1;
    m_nid.uFlags = NIF_MESSAGE;
    m_nid.uCallbackMessage = m_variant == Variant::Main ? WM_TRAY_NOTIFY : WM_TRAY_NOTIFY_COMPANION;
}

void CTrayDialog::SetIcon(HICON hIcon) {
    m_nid.hIcon = hIcon;
    m_nid.uFlags |= NIF_ICON;
}

NOTIFYICONDATAW* CTrayDialog::SetIcon(UINT nIDResource) {
    return SetIcon(MAKEINTRESOURCEW(nIDResource));
}

NOTIFYICONDATAW* CTrayDialog::SetIcon(LPCTSTR lpszResourceName) {
    HICON hIcon = ::LoadIconW(AfxGetResourceHandle(), lpszResourceName);
    if (!hIcon)
        return nullptr;
    SetIcon(hIcon);
    return &m_nid;
}

void CTrayDialog::SetTip(LPCTSTR lpszTip) {
    const size_t room = std::size(m_nid.szTip) - 1;
    size_t length = 0;
    while (lpszTip && length < room && lpszTip[length])
        ++length;
    std::copy(lpszTip, lpszTip + length, m_nid.szTip);
    m_nid.szTip[length] = 0;
    m_nid.uFlags |= NIF_TIP;
}

BOOL CTrayDialog::AddTrayIcon() {
    if (!m_bTrayIconAdded) {
        if (!Shell_NotifyIconW(NIM_ADD, &m_nid))
            return FALSE;
        m_bTrayIconAdded = TRUE;
        return TRUE;
    }
    if (m_variant == Variant::Companion)
        return m_bShowIcon;
    if (!m_bShowIcon)
        return FALSE;
    // The shell forgets its icons when Explorer restarts: a modify that fails means the icon must be added again.
    if (!Shell_NotifyIconW(NIM_MODIFY, &m_nid))
        Shell_NotifyIconW(NIM_ADD, &m_nid);
    return TRUE;
}

BOOL CTrayDialog::RemoveTrayIcon() {
    if (!m_bTrayIconAdded)
        return FALSE;
    if (m_bShowIcon)
        return TRUE;
    if (Shell_NotifyIconW(NIM_DELETE, &m_nid))
        m_bTrayIconAdded = FALSE;
    return TRUE;
}

BOOL CTrayDialog::ModifyTrayIcon() {
    if (!m_bTrayIconAdded)
        return FALSE;
    return Shell_NotifyIconW(NIM_MODIFY, &m_nid);
}

BOOL CTrayDialog::SetTrayMenu(UINT nIDResource) {
    return SetTrayMenu(MAKEINTRESOURCEW(nIDResource));
}

BOOL CTrayDialog::SetTrayMenu(LPCTSTR lpszResourceName) {
    m_trayMenu.DestroyMenu();
    return m_trayMenu.LoadMenu(lpszResourceName);
}

BOOL CTrayDialog::SetTrayMenu(HMENU hMenu) {
    m_trayMenu.DestroyMenu();
    return hMenu ? m_trayMenu.Attach(hMenu) : FALSE;
}

BOOL CTrayDialog::AddAnimationIcon(UINT nIDResource) {
    auto* pId = new (std::nothrow) UINT(nIDResource);
    if (!pId)
        return FALSE;
    m_animationIcons.AddTail(pId);
    return TRUE;
}

BOOL CTrayDialog::StartAnimation() {
    if (!m_bShowIcon || m_animationIcons.IsEmpty())
        return FALSE;
    m_animationPos = nullptr;
    m_nAnimationTimer = SetTimer(kTrayAnimationTimer, 1000, nullptr);
    return TRUE;
}

void CTrayDialog::StopAnimation() {
    if (m_hWnd)
        KillTimer(kTrayAnimationTimer);
    m_animationPos = nullptr;
    m_nAnimationTimer = 0;
}

void CTrayDialog::ClearAnimationIcons() {
    while (!m_animationIcons.IsEmpty())
        delete static_cast<UINT*>(m_animationIcons.RemoveHead());
    m_animationPos = nullptr;
}

void CTrayDialog::Restore() {
    m_bVisible = TRUE;
    ShowWindow(SW_SHOW);
    SetForegroundWindow();
}

void CTrayDialog::Hide() {
    m_bVisible = FALSE;
    ShowWindow(SW_HIDE);
}

void CTrayDialog::OnTrayLButtonDown(CPoint) {}

void CTrayDialog::OnTrayLButtonDblClk(CPoint) {
    if (m_variant == Variant::Companion && m_bMinimizeToTray && RemoveTrayIcon())
        Restore();
}

void CTrayDialog::OnTrayRButtonDown(CPoint pt) {
    CMenu* pPopup = m_trayMenu.GetSubMenu(0);
    if (pPopup)
        pPopup->TrackPopupMenu(TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, pt.x, pt.y, this);
}

void CTrayDialog::OnTrayRButtonDblClk(CPoint) {}

void CTrayDialog::OnTrayMouseMove(CPoint) {}

int CTrayDialog::OnCreate(LPCREATESTRUCTW lpCreateStruct) {
    const int result = static_cast<int>(Default());
    (void)lpCreateStruct;
    if (result == -1)
        return -1;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = 1;
    // A failed add leaves the icon not added; the next AddTrayIcon tries again.
    if (m_bShowIcon && Shell_NotifyIconW(NIM_ADD, &m_nid))
        m_bTrayIconAdded = TRUE;
    return result;
}

void CTrayDialog::OnDestroy() {
    if (m_nid.hWnd && m_nid.uID && m_bTrayIconAdded) {
        Shell_NotifyIconW(NIM_DELETE, &m_nid);
        m_bTrayIconAdded = FALSE;
    }
    ClearAnimationIcons();
    Default();
}

void CTrayDialog::OnSysCommand(UINT nID, LPARAM lParam) {
    const UINT command = nID & 0xFFF0;
    if (m_variant == Variant::Companion) {
        if (m_bMinimizeToTray && command == SC_MINIMIZE) {
            if (AddTrayIcon())
                ShowWindow(SW_MINIMIZE);
            return;
        }
        if (m_bMinimizeToTray && command == SC_CLOSE) {
            Hide();
            return;
        }
        Default();
        return;
    }
    if (m_bMinimizeToTray && command == SC_MINIMIZE) {
        if (AddTrayIcon()) {
            if (auto* pApp = dynamic_cast<CTrayDialogApp*>(AfxGetApp()))
                pApp->OnTrayDialogMinimized(this);
            ShowWindow(SW_MINIMIZE);
        }
        return;
    }
    (void)lParam;
    Default();
}

void CTrayDialog::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kTrayAnimationTimer) {
        if (m_animationIcons.IsEmpty()) {
            StopAnimation();
        } else {
            if (!m_animationPos)
                m_animationPos = m_animationIcons.GetHeadPosition();
            const UINT nId = *static_cast<UINT*>(m_animationIcons.GetNext(m_animationPos));
            SetIcon(nId);
            ModifyTrayIcon();
        }
    }
    Default();
}

void CTrayDialog::OnWindowPosChanging(WINDOWPOS* lpwndpos) {
    // The companion's dialog never shows itself until Restore, whatever its template says.
    if (m_variant == Variant::Companion && !m_bVisible)
        lpwndpos->flags &= ~SWP_SHOWWINDOW;
    Default();
}

LRESULT CTrayDialog::OnTrayNotification(WPARAM wParam, LPARAM lParam) {
    if (m_variant != Variant::Main)
        return Default();
    if (wParam != 1)
        return 0;
    return RouteTrayMessage(lParam);
}

LRESULT CTrayDialog::OnCompanionTrayNotification(WPARAM wParam, LPARAM lParam) {
    if (m_variant != Variant::Companion)
        return Default();
    if (wParam != 1)
        return 0;
    return RouteTrayMessage(lParam);
}

LRESULT CTrayDialog::RouteTrayMessage(LPARAM lParam) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    const CPoint pt(cursor.x, cursor.y);
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDOWN:
        OnTrayLButtonDown(pt);
        break;
    case WM_LBUTTONDBLCLK:
        OnTrayLButtonDblClk(pt);
        break;
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
        OnTrayRButtonDown(pt);
        break;
    case WM_RBUTTONDBLCLK:
        OnTrayRButtonDblClk(pt);
        break;
    case WM_MOUSEMOVE:
        OnTrayMouseMove(pt);
        break;
    default:
        break;
    }
    return 0;
}
