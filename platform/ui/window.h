// Windows: classes, creation and destruction, window procedures, the parent and owner tree, text, styles, show
// state, enabled state, focus and activation, geometry and window properties.
//
// Stands in for the window half of USER. The same as Windows: one HWND namespace per process, windows belong to
// the thread that created them and only that thread runs their window procedure (other threads reach them through
// messages, message.h); creation sends WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE and
// WM_MOVE with a CREATESTRUCTW; a WH_CBT hook sees HCBT_CREATEWND before any of them, so a framework can subclass
// the new window; destruction destroys owned windows first, then sends WM_DESTROY to the window and then to its
// children top down, and WM_NCDESTROY bottom up; DefWindowProcW keeps the text, turns WM_CLOSE into DestroyWindow,
// turns SC_MINIMIZE/SC_MAXIMIZE/SC_RESTORE/SC_CLOSE into their actions, answers WM_QUERYENDSESSION with TRUE and
// sends WM_SIZE/WM_MOVE from WM_WINDOWPOSCHANGED; ShowWindow and SetWindowPos go through WM_WINDOWPOSCHANGING, so a
// window can veto or change its own showing; errors are reported through SetLastError
// (ERROR_INVALID_WINDOW_HANDLE, ERROR_CANNOT_FIND_WND_CLASS, ERROR_CLASS_ALREADY_EXISTS, ...).
//
// Where it differs: the window system keeps a headless core. Every window keeps its full state (geometry, show
// state, update region as a flag) and paints into a surface of its own; the screen is a fixed virtual one
// (GetSystemMetrics). When a display is there, the presenter (presenter.h) shows the top-level windows on it and
// turns its input into the windows' input; otherwise nothing reaches a screen. The cursor position is kept by the
// layer and moves with SetCursorPos and with the display's pointer. Top-level windows are
// published to the window broker of the user session (broker.h), so FindWindowW, EnumWindows, GetWindow over the
// desktop's children, GetPropW, GetWindowTextW, GetClassNameW, IsWindow, IsIconic, IsWindowVisible,
// GetWindowThreadProcessId, ShowWindow, SetForegroundWindow, BringWindowToTop and GetLastActivePopup also work
// on the top-level windows of other processes. The HWND of a window names its process, so it is stable and
// distinguishable from every window of another process.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/winuser_constants.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);
using PROPENUMPROCW = BOOL (*)(HWND, LPCWSTR, HANDLE);
using PROPENUMPROCEXW = BOOL (*)(HWND, LPWSTR, HANDLE, ULONG_PTR);
using HOOKPROC = LRESULT (*)(int code, WPARAM wParam, LPARAM lParam);
DECLARE_HANDLE(HHOOK);

// Special HWND values.
#define HWND_DESKTOP (static_cast<HWND>(nullptr))
#define HWND_TOP (static_cast<HWND>(nullptr))
#define HWND_BOTTOM (reinterpret_cast<HWND>(static_cast<intptr_t>(1)))
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<intptr_t>(-2)))
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<intptr_t>(-3)))
#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<intptr_t>(0xFFFF)))

// Integer resource and atom names passed where a string is expected.
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define MAKEINTATOM(i) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))

struct WNDCLASSEXW {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
};
using PWNDCLASSEXW = WNDCLASSEXW*;
using LPWNDCLASSEXW = WNDCLASSEXW*;

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};
using PWNDCLASSW = WNDCLASSW*;
using LPWNDCLASSW = WNDCLASSW*;

struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};
using LPCREATESTRUCTW = CREATESTRUCTW*;

// lParam of HCBT_CREATEWND.
struct CBT_CREATEWNDW {
    CREATESTRUCTW* lpcs;
    HWND hwndInsertAfter;
};
using LPCBT_CREATEWNDW = CBT_CREATEWNDW*;

// lParam of WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED.
struct WINDOWPOS {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x;
    int y;
    int cx;
    int cy;
    UINT flags;
};
using LPWINDOWPOS = WINDOWPOS*;
using PWINDOWPOS = WINDOWPOS*;

// lParam of WM_GETMINMAXINFO.
struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};
using LPMINMAXINFO = MINMAXINFO*;

// lParam of WM_NCCALCSIZE when wParam is TRUE.
struct NCCALCSIZE_PARAMS {
    RECT rgrc[3];
    WINDOWPOS* lppos;
};
using LPNCCALCSIZE_PARAMS = NCCALCSIZE_PARAMS*;

// lParam of WM_STYLECHANGING and WM_STYLECHANGED.
struct STYLESTRUCT {
    DWORD styleOld;
    DWORD styleNew;
};
using LPSTYLESTRUCT = STYLESTRUCT*;

struct WINDOWPLACEMENT {
    UINT length;
    UINT flags;
    UINT showCmd;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;
};
using PWINDOWPLACEMENT = WINDOWPLACEMENT*;
using LPWINDOWPLACEMENT = WINDOWPLACEMENT*;

struct FLASHWINFO {
    UINT cbSize;
    HWND hwnd;
    DWORD dwFlags;
    UINT uCount;
    DWORD dwTimeout;
};
using PFLASHWINFO = FLASHWINFO*;

// Classes. Class names compare without regard to case. A class registered by a program is found by any
// instance handle of the process (the layer has one module namespace for classes); the system classes
// ("STATIC" and the ones the control layer adds) are always present.
ATOM RegisterClassExW(const WNDCLASSEXW* wc);
ATOM RegisterClassW(const WNDCLASSW* wc);
// Fails with ERROR_CLASS_DOES_NOT_EXIST for an unknown class and ERROR_CLASS_HAS_WINDOWS while windows of it live.
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
BOOL GetClassInfoExW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSEXW wc);
BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSW wc);
int GetClassNameW(HWND hwnd, LPWSTR className, int maxCount);

// Creation and destruction.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
inline HWND CreateWindowW(LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width, int height,
                          HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    return CreateWindowExW(0, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}
// Only the thread that created the window may destroy it (else ERROR_ACCESS_DENIED).
BOOL DestroyWindow(HWND hwnd);
// TRUE for a live window of this process or a live published window of another process.
BOOL IsWindow(HWND hwnd);

// Window procedures.
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Window longs: the GWL(P)_ indexes above, or a byte offset into the cbWndExtra bytes of the window's class
// (ERROR_INVALID_INDEX when out of range). Setting GWLP_WNDPROC subclasses the window.
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR newValue);
LONG GetWindowLongW(HWND hwnd, int index);
LONG SetWindowLongW(HWND hwnd, int index, LONG newValue);

// Text.
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount);
int GetWindowTextLengthW(HWND hwnd);

// The tree of windows.
HWND GetDesktopWindow();
HWND GetParent(HWND hwnd);
HWND SetParent(HWND child, HWND newParent);
HWND GetAncestor(HWND hwnd, UINT flags);
HWND GetWindow(HWND hwnd, UINT relation);
HWND GetTopWindow(HWND hwnd);
BOOL IsChild(HWND parent, HWND hwnd);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
// Top-level windows of this process and, through the broker, of the other processes of the session.
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);
// Every descendant of the parent, depth first in Z order (null parent: as EnumWindows).
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam);
// Class and title compare without regard to case; a null class or title matches any.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
HWND FindWindowExW(HWND parent, HWND childAfter, LPCWSTR className, LPCWSTR windowName);
DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId);

// Show state.
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement);
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
BOOL FlashWindow(HWND hwnd, BOOL invert);
BOOL FlashWindowEx(PFLASHWINFO info);

// Enabled state. Returns TRUE when the window was disabled before the call.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);

// Focus, activation and the foreground window. Focus and the active window are per thread; the foreground
// window is one for the session. SetForegroundWindow is granted while the foreground lock time-out is 0, to
// the process that owns the foreground window, or when no window is in the foreground; otherwise it fails and
// only flashes the window, as on Windows.
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
BOOL BringWindowToTop(HWND hwnd);
HWND GetLastActivePopup(HWND hwnd);
HWND GetCapture();
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();

// Geometry. Child positions are relative to the parent's client area, top-level positions are screen
// coordinates. The non-client frame follows the style (caption, border, dialog frame, thick frame) through
// WM_NCCALCSIZE.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL GetWindowRect(HWND hwnd, LPRECT rect);
BOOL GetClientRect(HWND hwnd, LPRECT rect);
BOOL ClientToScreen(HWND hwnd, LPPOINT point);
BOOL ScreenToClient(HWND hwnd, LPPOINT point);
int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count);
BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);
int GetSystemMetrics(int index);
BOOL GetCursorPos(LPPOINT point);
BOOL SetCursorPos(int x, int y);

// Layered windows. SetLayeredWindowAttributes needs a window with WS_EX_LAYERED (else ERROR_INVALID_PARAMETER, as
// for flags other than LWA_COLORKEY and LWA_ALPHA); clearing WS_EX_LAYERED forgets the attributes. There is no
// screen: the key colour and the alpha show in the pictures SaveWindowPng takes of the window (paint.h).
BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags);
// FALSE (ERROR_INVALID_PARAMETER) until SetLayeredWindowAttributes was called for the layered window.
BOOL GetLayeredWindowAttributes(HWND hwnd, COLORREF* key, BYTE* alpha, DWORD* flags);

// The cursor shape. One for the process (there is one mouse); SetCursor returns the previous one and fails with
// ERROR_INVALID_CURSOR_HANDLE for a handle that is not an icon or cursor (null hides the cursor).
// DefWindowProcW answers WM_SETCURSOR as Windows does: a child first asks its parent; over the client area the
// class cursor is set (GCLP_HCURSOR), over the sizing edges the system's sizing cursors, elsewhere the arrow.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// Class fields: GCLP_HCURSOR, GCLP_HICON, GCLP_HICONSM, GCLP_HBRBACKGROUND and GCL_STYLE can be read and changed
// (the change holds for every window of the class), GCLP_WNDPROC, GCLP_HMODULE, GCL_CBWNDEXTRA and GCL_CBCLSEXTRA
// read; other indexes fail with ERROR_INVALID_INDEX.
ULONG_PTR GetClassLongPtrW(HWND hwnd, int index);
ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR newValue);

// Painting state. Painting itself belongs to the drawing layer; here a window keeps whether it needs painting
// (and whether its background needs erasing). A window that needs painting gets WM_PAINT when its thread's queue
// has nothing else to deliver; UpdateWindow sends it at once.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL UpdateWindow(HWND hwnd);
BOOL RedrawWindow(HWND hwnd, const RECT* update, HRGN region, UINT flags);
BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase);

// Window properties: name (or atom) -> HANDLE value. Names compare without regard to case.
BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data);
HANDLE GetPropW(HWND hwnd, LPCWSTR name);
HANDLE RemovePropW(HWND hwnd, LPCWSTR name);
// Returns the last value the callback returned, or -1 when the window has no properties.
int EnumPropsW(HWND hwnd, PROPENUMPROCW proc);
int EnumPropsExW(HWND hwnd, PROPENUMPROCEXW proc, LPARAM lParam);

// The window's shape: only the pixels of the region (relative to the window's top-left corner, frame included) are
// drawn, shown and hit; a null region gives the whole window back. After SetWindowRgn succeeds the region belongs to
// the layer (the caller must neither use nor delete it); with `redraw` the window paints afresh. GetWindowRgn copies
// the shape into a region of the caller's and answers its kind, ERROR when the window has no shape.
int SetWindowRgn(HWND hwnd, HRGN region, BOOL redraw);
int GetWindowRgn(HWND hwnd, HRGN region);

// The window under a screen point: the deepest visible child (top of the Z order first) whose shape holds the point,
// skipping disabled children and windows that answer WM_NCHITTEST with HTTRANSPARENT (static texts without
// SS_NOTIFY and group boxes; windows of other threads are not asked, their class answers). Null when the point is on
// no window of this process.
HWND WindowFromPoint(POINT point);

// What WM_HELP carries (lParam): the window or menu item the user asked about and where the mouse was.
constexpr int HELPINFO_WINDOW = 0x0001;
constexpr int HELPINFO_MENUITEM = 0x0002;
struct HELPINFO {
    UINT cbSize;
    int iContextType;
    int iCtrlId;
    HANDLE hItemHandle;
    DWORD_PTR dwContextId;
    POINT MousePos;
};
using LPHELPINFO = HELPINFO*;

// Session-wide parameters. SPI_SETFOREGROUNDLOCKTIMEOUT takes the value in pvParam (as an integer); with
// SPIF_UPDATEINIFILE it is kept in the machine folder for later processes. SPI_GETFOREGROUNDLOCKTIMEOUT writes
// a DWORD to pvParam; SPI_GETWORKAREA a RECT.
BOOL SystemParametersInfoW(UINT action, UINT uiParam, PVOID pvParam, UINT winIni);

// Hooks. Only thread hooks (module null, thread id of the calling thread or 0 for it) of the kinds WH_CBT
// (HCBT_CREATEWND, HCBT_DESTROYWND, HCBT_ACTIVATE, HCBT_SETFOCUS) and WH_MSGFILTER (called by CallMsgFilterW)
// are offered; a global hook fails with ERROR_HOOK_NEEDS_HMOD.
HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);

namespace platform::ui {

// Registers or replaces a system class (present for every instance handle, never unregistered). The control
// layer installs its classes here.
ATOM RegisterSystemClass(const WNDCLASSEXW& wc);

// True when hwnd names a window of another process (whether or not that window still exists).
bool IsRemoteWindow(HWND hwnd);

// The virtual screen of the headless window system.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

} // namespace platform::ui
