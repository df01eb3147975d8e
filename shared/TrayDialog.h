// CTrayDialog: a dialog that owns one icon in the notification area.
//
// The icon is added when the dialog's window is created and removed when it is destroyed; the icon's mouse
// messages arrive as the callback message and are turned into the five virtual handlers below, the right button
// pops up the first submenu of the tray menu, and the icon can cycle through a list of icon resources once a
// second (timer 1523).
//
// Two programs use the class and differ in a few points, chosen at construction:
// - the main program's variant (callback WM_USER+3111): minimising to the tray tells an application that is a
//   CTrayDialogApp (TrayDialogApp.h; the main program records the dialog as its current dialog), and AddTrayIcon re-adds an icon
//   the shell lost (after Explorer restarted);
// - the companion program's variant (callback WM_USER+1001): the dialog stays hidden until Restore (it strips
//   SWP_SHOWWINDOW while its visible flag is clear), SC_CLOSE hides it, a double-click on the icon restores it,
//   and AddTrayIcon on an added icon only reports the show-icon flag.
//
// GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/Menu.h"
#include "platform/afx/Point.h"
#include "platform/afx/PtrList.h"
#include "platform/ui/tray.h"

// The main program's tray callback message.
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 3111;
// The companion program's tray callback message.
constexpr UINT WM_TRAY_NOTIFY_COMPANION = WM_USER + 1001;
// The animation timer.
constexpr UINT_PTR kTrayAnimationTimer = 1523;

class CTrayDialog : public CDialog {
    DECLARE_DYNAMIC(CTrayDialog)
public:
    enum class Variant { Main, Companion };

    explicit CTrayDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr, Variant variant = Variant::Main);
    explicit CTrayDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr, Variant variant = Variant::Main);
    ~CTrayDialog() override;

    // The icon shown: a handle, or an icon resource of the current resource module (the record on success, null
    // when the icon cannot be loaded, which leaves the previous icon in place).
    void SetIcon(HICON hIcon);
    NOTIFYICONDATAW* SetIcon(UINT nIDResource);
    NOTIFYICONDATAW* SetIcon(LPCTSTR lpszResourceName);
    // The tip, cut to 127 characters.
    void SetTip(LPCTSTR lpszTip);

    BOOL AddTrayIcon();
    BOOL RemoveTrayIcon();
    BOOL ModifyTrayIcon();
    // The menu whose first submenu pops up on the right button, from the current resource module.
    BOOL SetTrayMenu(UINT nIDResource);
    BOOL SetTrayMenu(LPCTSTR lpszResourceName);
    BOOL SetTrayMenu(HMENU hMenu);
    void SetMinimizeToTray(BOOL bMinimizeToTray) { m_bMinimizeToTray = bMinimizeToTray; }
    // Whether the icon is added at creation and kept (while set, RemoveTrayIcon leaves it in place).
    void SetShowIcon(BOOL bShowIcon) { m_bShowIcon = bShowIcon; }

    BOOL AddAnimationIcon(UINT nIDResource);
    BOOL StartAnimation();
    void StopAnimation();
    void ClearAnimationIcons();

    // The companion variant: show the dialog (and let it stay shown), or hide it again.
    void Restore();
    void Hide();

    BOOL IsTrayIconAdded() const { return m_bTrayIconAdded; }
    const NOTIFYICONDATAW& GetNotifyIconData() const { return m_nid; }
    CMenu& GetTrayMenu() { return m_trayMenu; }
    Variant GetVariant() const { return m_variant; }

    // The icon's mouse messages, with the cursor position in screen coordinates. Only the right button does
    // something here (the popup menu), and in the companion variant the double-click (Restore).
    virtual void OnTrayLButtonDown(CPoint pt);
    virtual void OnTrayLButtonDblClk(CPoint pt);
    virtual void OnTrayRButtonDown(CPoint pt);
    virtual void OnTrayRButtonDblClk(CPoint pt);
    virtual void OnTrayMouseMove(CPoint pt);

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnDestroy();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void OnWindowPosChanging(WINDOWPOS* lpwndpos);
    LRESULT OnTrayNotification(WPARAM wParam, LPARAM lParam);
    LRESULT OnCompanionTrayNotification(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    void InitNotifyIconData();
    LRESULT RouteTrayMessage(LPARAM lParam);

    Variant m_variant;
    CMenu m_trayMenu;
    BOOL m_bMinimizeToTray = TRUE;
    BOOL m_bShowIcon = TRUE;
    BOOL m_bTrayIconAdded = FALSE;
    UINT_PTR m_nAnimationTimer = 0;
    NOTIFYICONDATAW m_nid{};
    // Heap copies of the icon ids, in order, and the next one to show.
    CPtrList m_animationIcons;
    POSITION m_animationPos = nullptr;
    // The companion variant's visible flag.
    BOOL m_bVisible = FALSE;
};
