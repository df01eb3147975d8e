// CWnd: the framework's window object, its message maps and the handle maps.
//
// A CWnd is attached to an HWND of the window layer. Windows the framework creates (Create, CreateEx) are attached
// before their first message through the layer's creation hook, so WM_CREATE already reaches the message map;
// existing windows are attached with Attach or SubclassWindow. The permanent handle map finds the CWnd of a
// window (FromHandlePermanent); FromHandle also wraps a window that has none in a temporary CWnd, which lives
// until the thread's next idle time. Messages go through WindowProc, OnWndMsg and the message map; unhandled ones
// go to the window's previous procedure or DefWindowProcW. WM_COMMAND and WM_NOTIFY from a control are first
// offered to the control's own CWnd (reflection); a handler there keeps them from the parent unless it is an _EX
// handler that returns FALSE.
//
// Handlers of ON_WM_* entries have the framework's names and signatures, and each does the default handling here.
// ON_WM_CTLCOLOR stands for every WM_CTLCOLOR* message (the handler gets the CTLCOLOR_* kind), ON_WM_CTLCOLOR_REFLECT
// for the same messages reflected to the control. Entries whose handlers take a CDC need platform/afx/DC.h where the
// message map is written.
#pragma once

#include "platform/afx/CmdTarget.h"
#include "platform/afx/Point.h"
#include "platform/afx/String.h"
#include "platform/ui/message.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/timer.h"
#include "platform/ui/window.h"

class CDC;
class CScrollBar;

class CWnd : public CCmdTarget {
    DECLARE_DYNCREATE(CWnd)
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Handle maps.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    static void DeleteTempMap();
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    // Creation and destruction. A null class name uses the framework's default window class.
    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, void* pContext = nullptr);
    virtual BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
                          int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();
    virtual BOOL PreCreateWindow(CREATESTRUCTW& cs);
    virtual void PreSubclassWindow();
    virtual void PostNcDestroy();

    // Message processing.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Offers the message being handled on this thread to the CWnd of the child window; TRUE when it took it.
    static BOOL ReflectLastMsg(HWND hWndChild, LRESULT* pResult = nullptr);
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // The default handling of the message being handled.
    LRESULT Default();
    static const MSG* GetCurrentMessage();

    // Window operations.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    BOOL IsZoomed() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetWindowText(LPCTSTR lpszString);
    int GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    int SetDlgCtrlID(int nID);
    void SetDlgItemText(int nID, LPCTSTR lpszString);
    int GetDlgItemText(int nID, CString& rString) const;
    int GetDlgItemText(int nID, LPTSTR lpStr, int nMaxCount) const;
    // Dialog items of any window (not only of dialogs): the child windows with the given ids.
    void CheckDlgButton(int nIDButton, UINT nCheck);
    UINT IsDlgButtonChecked(int nIDButton) const;
    void CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton);
    // The id of the checked button from first to last, or 0 when none is checked.
    int GetCheckedRadioButton(int nIDFirstButton, int nIDLastButton) const;
    void SetDlgItemInt(int nID, UINT nValue, BOOL bSigned = TRUE);
    UINT GetDlgItemInt(int nID, BOOL* lpTrans = nullptr, BOOL bSigned = TRUE) const;
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    CWnd* GetParent() const;
    CWnd* SetParent(CWnd* pWndNewParent);
    CWnd* GetOwner() const;
    CWnd* GetTopLevelParent() const;
    CWnd* GetWindow(UINT nCmd) const;
    CWnd* GetLastActivePopup() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    void GetWindowRect(LPRECT lpRect) const;
    void GetClientRect(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    static CWnd* GetActiveWindow();
    static CWnd* GetForegroundWindow();
    BOOL SetForegroundWindow();
    void BringWindowToTop();
    CWnd* SetActiveWindow();
    void UpdateWindow();
    void Invalidate(BOOL bErase = TRUE);
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
    BOOL KillTimer(UINT_PTR nIDEvent);
    static CWnd* FindWindow(LPCTSTR lpszClassName, LPCTSTR lpszWindowName);
    // Sends a message to every descendant (bDeep) or every child.
    void SendMessageToDescendants(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, BOOL bDeep = TRUE);

    // The window's standard scroll bars (SB_HORZ, SB_VERT).
    int GetScrollPos(int nBar) const { return ::GetScrollPos(m_hWnd, nBar); }
    int SetScrollPos(int nBar, int nPos, BOOL bRedraw = TRUE) { return ::SetScrollPos(m_hWnd, nBar, nPos, bRedraw); }
    void GetScrollRange(int nBar, int* lpMinPos, int* lpMaxPos) const {
        ::GetScrollRange(m_hWnd, nBar, lpMinPos, lpMaxPos);
    }
    void SetScrollRange(int nBar, int nMinPos, int nMaxPos, BOOL bRedraw = TRUE) {
        ::SetScrollRange(m_hWnd, nBar, nMinPos, nMaxPos, bRedraw);
    }
    BOOL GetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, UINT nMask = SIF_ALL) const {
        lpScrollInfo->cbSize = sizeof(SCROLLINFO);
        lpScrollInfo->fMask = nMask;
        return ::GetScrollInfo(m_hWnd, nBar, lpScrollInfo);
    }
    BOOL SetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, BOOL bRedraw = TRUE) {
        lpScrollInfo->cbSize = sizeof(SCROLLINFO);
        ::SetScrollInfo(m_hWnd, nBar, lpScrollInfo, bRedraw);
        return TRUE;
    }
    void ShowScrollBar(UINT nBar, BOOL bShow = TRUE) { ::ShowScrollBar(m_hWnd, static_cast<int>(nBar), bShow); }
    BOOL EnableScrollBar(int nSBFlags, UINT nArrowFlags = ESB_ENABLE_BOTH) {
        return ::EnableScrollBar(m_hWnd, nSBFlags, nArrowFlags);
    }

    // Handlers that the ON_WM_* entries name; each does the default handling here.
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnDestroy();
    void OnNcDestroy();
    void OnClose();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnSize(UINT nType, int cx, int cy);
    void OnMove(int x, int y);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnWindowPosChanging(WINDOWPOS* lpwndpos);
    void OnWindowPosChanged(WINDOWPOS* lpwndpos);
    BOOL OnQueryEndSession();
    void OnEndSession(BOOL bEnding);
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    UINT OnGetDlgCode();
    void OnEnable(BOOL bEnable);
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    HCURSOR OnQueryDragIcon();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnSysColorChange();
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnMouseHover(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    void OnCancelMode();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);

    DECLARE_MESSAGE_MAP()

protected:
    WNDPROC m_pfnSuper = nullptr;

private:
    friend LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    friend LRESULT AfxCbtHook(int code, WPARAM wParam, LPARAM lParam);
    void AttachForCreation(HWND hWnd);
};

// The window procedure of every framework window.
LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// Registers (once) a window class for the framework with the given style and returns its name; the text stays
// valid for the life of the process.
LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                            HICON hIcon = nullptr);

#define AFX_WM_ENTRY(message, body)                                                                                    \
    {message, 0, 0, 0, nullptr, [](CCmdTarget* t, [[maybe_unused]] AFX_DISPATCH& d) -> BOOL {                          \
         [[maybe_unused]] auto* self = AFX_SELF(t);                                                                    \
         body;                                                                                                         \
         return TRUE;                                                                                                  \
     }},
#define ON_WM_CREATE() AFX_WM_ENTRY(0x0001, *d.pResult = self->OnCreate(reinterpret_cast<LPCREATESTRUCTW>(d.lParam)))
#define ON_WM_DESTROY() AFX_WM_ENTRY(0x0002, self->OnDestroy())
#define ON_WM_MOVE()                                                                                                   \
    AFX_WM_ENTRY(0x0003, self->OnMove(static_cast<SHORT>(LOWORD(d.lParam)), static_cast<SHORT>(HIWORD(d.lParam))))
#define ON_WM_SIZE()                                                                                                   \
    AFX_WM_ENTRY(0x0005, self->OnSize(static_cast<UINT>(d.wParam), static_cast<SHORT>(LOWORD(d.lParam)),               \
                                      static_cast<SHORT>(HIWORD(d.lParam))))
#define ON_WM_ENABLE() AFX_WM_ENTRY(0x000A, self->OnEnable(static_cast<BOOL>(d.wParam)))
#define ON_WM_CLOSE() AFX_WM_ENTRY(0x0010, self->OnClose())
#define ON_WM_QUERYENDSESSION() AFX_WM_ENTRY(0x0011, *d.pResult = self->OnQueryEndSession())
#define ON_WM_ENDSESSION() AFX_WM_ENTRY(0x0016, self->OnEndSession(static_cast<BOOL>(d.wParam)))
#define ON_WM_SHOWWINDOW()                                                                                             \
    AFX_WM_ENTRY(0x0018, self->OnShowWindow(static_cast<BOOL>(d.wParam), static_cast<UINT>(d.lParam)))
#define ON_WM_WINDOWPOSCHANGING()                                                                                      \
    AFX_WM_ENTRY(0x0046, self->OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(d.lParam)))
#define ON_WM_WINDOWPOSCHANGED() AFX_WM_ENTRY(0x0047, self->OnWindowPosChanged(reinterpret_cast<WINDOWPOS*>(d.lParam)))
#define ON_WM_NCDESTROY() AFX_WM_ENTRY(0x0082, self->OnNcDestroy())
#define ON_WM_GETDLGCODE() AFX_WM_ENTRY(0x0087, *d.pResult = static_cast<LRESULT>(self->OnGetDlgCode()))
#define ON_WM_SYSCOMMAND() AFX_WM_ENTRY(0x0112, self->OnSysCommand(static_cast<UINT>(d.wParam), d.lParam))
#define ON_WM_TIMER() AFX_WM_ENTRY(0x0113, self->OnTimer(static_cast<UINT_PTR>(d.wParam)))
#define AFX_MOUSE_ENTRY(message, handler)                                                                              \
    AFX_WM_ENTRY(message, self->handler(static_cast<UINT>(d.wParam), CPoint(static_cast<SHORT>(LOWORD(d.lParam)),      \
                                                                            static_cast<SHORT>(HIWORD(d.lParam)))))
#define ON_WM_MOUSEMOVE() AFX_MOUSE_ENTRY(0x0200, OnMouseMove)
#define ON_WM_LBUTTONDOWN() AFX_MOUSE_ENTRY(0x0201, OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_MOUSE_ENTRY(0x0202, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_MOUSE_ENTRY(0x0203, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_MOUSE_ENTRY(0x0204, OnRButtonDown)
#define ON_WM_RBUTTONUP() AFX_MOUSE_ENTRY(0x0205, OnRButtonUp)
#define ON_WM_MOUSEHOVER() AFX_MOUSE_ENTRY(0x02A1, OnMouseHover)
#define ON_WM_MOUSELEAVE() AFX_WM_ENTRY(0x02A3, self->OnMouseLeave())
#define ON_WM_PAINT() AFX_WM_ENTRY(0x000F, self->OnPaint())
#define ON_WM_ERASEBKGND()                                                                                             \
    AFX_WM_ENTRY(0x0014, *d.pResult = self->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(d.wParam))))
#define ON_WM_SYSCOLORCHANGE() AFX_WM_ENTRY(0x0015, self->OnSysColorChange())
#define ON_WM_CANCELMODE() AFX_WM_ENTRY(0x001F, self->OnCancelMode())
#define ON_WM_SETCURSOR()                                                                                              \
    AFX_WM_ENTRY(0x0020, *d.pResult = self->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(d.wParam)),            \
                                                        LOWORD(d.lParam), HIWORD(d.lParam)))
#define ON_WM_QUERYDRAGICON() AFX_WM_ENTRY(0x0037, *d.pResult = reinterpret_cast<LRESULT>(self->OnQueryDragIcon()))
#define ON_WM_HELPINFO() AFX_WM_ENTRY(0x0053, *d.pResult = self->OnHelpInfo(reinterpret_cast<HELPINFO*>(d.lParam)))
#define ON_WM_SETFOCUS() AFX_WM_ENTRY(0x0007, self->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(d.wParam))))
#define ON_WM_KILLFOCUS() AFX_WM_ENTRY(0x0008, self->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(d.wParam))))
#define ON_WM_ACTIVATE()                                                                                               \
    AFX_WM_ENTRY(0x0006, self->OnActivate(LOWORD(d.wParam), CWnd::FromHandle(reinterpret_cast<HWND>(d.lParam)),        \
                                          HIWORD(d.wParam) != 0))
#define AFX_SCROLL_ENTRY(message, handler)                                                                             \
    AFX_WM_ENTRY(message,                                                                                              \
                 self->handler(LOWORD(d.wParam), HIWORD(d.wParam),                                                     \
                               reinterpret_cast<CScrollBar*>(CWnd::FromHandle(reinterpret_cast<HWND>(d.lParam)))))
#define ON_WM_HSCROLL() AFX_SCROLL_ENTRY(0x0114, OnHScroll)
#define ON_WM_VSCROLL() AFX_SCROLL_ENTRY(0x0115, OnVScroll)
// One entry for each WM_CTLCOLOR* message (0x0132 to 0x0138), the kind being the message's distance from the first.
#define AFX_CTLCOLOR_ENTRY(base, message, body)                                                                        \
    AFX_WM_ENTRY(base + message, [[maybe_unused]] const UINT nCtlColor = message - 0x0132;                             \
                 [[maybe_unused]] CDC* pDC = CDC::FromHandle(reinterpret_cast<HDC>(d.wParam)); body)
#define AFX_CTLCOLOR_ENTRIES(base, body)                                                                               \
    AFX_CTLCOLOR_ENTRY(base, 0x0132, body)                                                                             \
    AFX_CTLCOLOR_ENTRY(base, 0x0133, body) AFX_CTLCOLOR_ENTRY(base, 0x0134, body)                                      \
        AFX_CTLCOLOR_ENTRY(base, 0x0135, body) AFX_CTLCOLOR_ENTRY(base, 0x0136, body)                                  \
            AFX_CTLCOLOR_ENTRY(base, 0x0137, body) AFX_CTLCOLOR_ENTRY(base, 0x0138, body)
#define ON_WM_CTLCOLOR()                                                                                               \
    AFX_CTLCOLOR_ENTRIES(0, *d.pResult = reinterpret_cast<LRESULT>(                                                    \
                                self->OnCtlColor(pDC, CWnd::FromHandle(reinterpret_cast<HWND>(d.lParam)), nCtlColor)))
// A control's own answer to its parent's WM_CTLCOLOR*: HBRUSH CtlColor(CDC*, UINT); a null brush lets the parent
// answer.
#define ON_WM_CTLCOLOR_REFLECT()                                                                                       \
    AFX_CTLCOLOR_ENTRIES(WM_REFLECT_BASE, *d.pResult = reinterpret_cast<LRESULT>(self->CtlColor(pDC, nCtlColor)))
#define ON_WM_DEVICECHANGE()                                                                                           \
    AFX_WM_ENTRY(0x0219,                                                                                               \
                 *d.pResult = self->OnDeviceChange(static_cast<UINT>(d.wParam), static_cast<DWORD_PTR>(d.lParam)))
