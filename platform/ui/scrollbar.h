// Scroll bars: the two standard scroll bars of a window (WS_HSCROLL, WS_VSCROLL) and the scroll bar control
// ("ScrollBar", SBS_HORZ or SBS_VERT), with their range, page, position and enabled arrows.
//
// Stands in for the scroll bar half of USER. The same as Windows: a scroll bar only keeps numbers, its owner does the
// scrolling when it handles WM_HSCROLL or WM_VSCROLL; the position is kept within [nMin, nMax - nPage + 1] (or
// [nMin, nMax] without a page); a standard scroll bar starts with the range 0 to 100; setting a range or page that
// leaves nothing to scroll hides a standard scroll bar (clears WS_HSCROLL or WS_VSCROLL, so the client area grows)
// unless SIF_DISABLENOSCROLL asks to disable it instead, and a range that can scroll shows it again; SB_CTL addresses
// a scroll bar control, whose own SBM_* messages do the same; a click on the control sends WM_HSCROLL or WM_VSCROLL
// (arrow: SB_LINE*, track: SB_PAGE*, thumb: SB_THUMBPOSITION) and then SB_ENDSCROLL to its parent with the control in
// lParam. The common controls that scroll (tree view, list view) keep their standard scroll bars in step with what
// they show, so GetScrollPos reads their first visible row or their horizontal offset.
//
// Where it differs: there is no mouse dragging; a click on the thumb reports SB_THUMBTRACK and SB_THUMBPOSITION at
// the thumb's position. A standard scroll bar takes its room from the window's client area but is not drawn; the
// control draws itself.
#pragma once

#include "platform/base/errors.h" // ERROR_NO_SCROLLBARS
#include "platform/base/types.h"

struct SCROLLINFO {
    UINT cbSize;
    UINT fMask;
    int nMin;
    int nMax;
    UINT nPage;
    int nPos;
    int nTrackPos;
};
using LPSCROLLINFO = SCROLLINFO*;
using LPCSCROLLINFO = const SCROLLINFO*;

// Which scroll bar.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_CTL = 2;
constexpr int SB_BOTH = 3;

// SCROLLINFO::fMask.
constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_DISABLENOSCROLL = 0x0008;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

// Scroll codes (low word of WM_HSCROLL and WM_VSCROLL wParam).
constexpr WORD SB_LINEUP = 0;
constexpr WORD SB_LINELEFT = 0;
constexpr WORD SB_LINEDOWN = 1;
constexpr WORD SB_LINERIGHT = 1;
constexpr WORD SB_PAGEUP = 2;
constexpr WORD SB_PAGELEFT = 2;
constexpr WORD SB_PAGEDOWN = 3;
constexpr WORD SB_PAGERIGHT = 3;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_THUMBTRACK = 5;
constexpr WORD SB_TOP = 6;
constexpr WORD SB_LEFT = 6;
constexpr WORD SB_BOTTOM = 7;
constexpr WORD SB_RIGHT = 7;
constexpr WORD SB_ENDSCROLL = 8;

// EnableScrollBar arrows.
constexpr UINT ESB_ENABLE_BOTH = 0x0000;
constexpr UINT ESB_DISABLE_BOTH = 0x0003;
constexpr UINT ESB_DISABLE_LEFT = 0x0001;
constexpr UINT ESB_DISABLE_RIGHT = 0x0002;
constexpr UINT ESB_DISABLE_UP = 0x0001;
constexpr UINT ESB_DISABLE_DOWN = 0x0002;
constexpr UINT ESB_DISABLE_LTUP = ESB_DISABLE_LEFT;
constexpr UINT ESB_DISABLE_RTDN = ESB_DISABLE_RIGHT;

// Scroll bar control styles and messages.
#define WC_SCROLLBARW u"ScrollBar"
constexpr DWORD SBS_HORZ = 0x0000;
constexpr DWORD SBS_VERT = 0x0001;
constexpr UINT SBM_SETPOS = 0x00E0;
constexpr UINT SBM_GETPOS = 0x00E1;
constexpr UINT SBM_SETRANGE = 0x00E2;
constexpr UINT SBM_GETRANGE = 0x00E3;
constexpr UINT SBM_ENABLE_ARROWS = 0x00E4;
constexpr UINT SBM_SETRANGEREDRAW = 0x00E6;
constexpr UINT SBM_SETSCROLLINFO = 0x00E9;
constexpr UINT SBM_GETSCROLLINFO = 0x00EA;

// The new position; 0 (ERROR_INVALID_WINDOW_HANDLE or ERROR_INVALID_PARAMETER) on failure.
int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw);
// FALSE with ERROR_NO_SCROLLBARS for a standard scroll bar the window has never had, or ERROR_INVALID_PARAMETER.
BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info);
// The previous position.
int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw);
int GetScrollPos(HWND hwnd, int bar);
BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw);
BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos);
// Adds or removes WS_HSCROLL / WS_VSCROLL (SB_BOTH: both) and lays the window's frame out again; SB_CTL shows or
// hides the control.
BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show);
// FALSE when the arrows were already in that state.
BOOL EnableScrollBar(HWND hwnd, int bar, UINT arrows);

namespace platform::ui {

// A control that scrolls registers how to bring its standard scroll bars up to date; the scroll bar functions call
// it (on the window's thread) before they read or change them, so they never see a stale range.
using ScrollSync = void (*)(HWND hwnd);
void SetScrollSync(HWND hwnd, ScrollSync sync);

} // namespace platform::ui
