// Input for tests: clicks, typing, keys and menu choices, delivered as the user's input would be; and the key state
// that dialog navigation and the controls read.
//
// Stands in for the keyboard and mouse. The same as Windows: input arrives as posted messages (WM_LBUTTONDOWN and
// WM_LBUTTONUP at the control's centre; WM_KEYDOWN and WM_KEYUP to the window with the focus on the target's thread,
// whose TranslateMessage makes the WM_CHAR; WM_CHAR for typed text), so it is handled when that thread's message
// loop (a modal loop, a dialog's IsDialogMessageW, or any GetMessageW loop) takes it; GetKeyState follows the key
// messages as the thread handles them.
//
// Where it differs: there is no hardware; only these functions (and messages posted by hand) make input, and the key
// state is only kept for keys whose messages the dialog manager or the standard controls saw (NoteKeyMessage).
#pragma once

#include "platform/base/types.h"
#include "platform/ui/message.h"

#include <string>

SHORT GetKeyState(int virtualKey);
SHORT GetAsyncKeyState(int virtualKey);
// The longest time between the two clicks of a double-click, in milliseconds (500 until set).
UINT GetDoubleClickTime();
BOOL SetDoubleClickTime(UINT milliseconds);

// TrackMouseEvent: WM_MOUSELEAVE when the mouse leaves the window's client area (posted at once when it is not there
// now), WM_MOUSEHOVER when it rests within the hover rectangle (SPI_GETMOUSEHOVERWIDTH by ...HEIGHT) for the hover
// time (HOVER_DEFAULT: SPI_GETMOUSEHOVERTIME), on the layer clock. Each fires once and ends its tracking; one window
// is tracked at a time. TME_CANCEL ends tracking, TME_QUERY reports it. Non-client tracking is not offered.
constexpr DWORD TME_HOVER = 0x00000001;
constexpr DWORD TME_LEAVE = 0x00000002;
constexpr DWORD TME_NONCLIENT = 0x00000010;
constexpr DWORD TME_QUERY = 0x40000000;
constexpr DWORD TME_CANCEL = 0x80000000;
constexpr DWORD HOVER_DEFAULT = 0xFFFFFFFF;
struct TRACKMOUSEEVENT {
    DWORD cbSize;
    DWORD dwFlags;
    HWND hwndTrack;
    DWORD dwHoverTime;
};
using LPTRACKMOUSEEVENT = TRACKMOUSEEVENT*;
BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track);

namespace platform::ui {

// Updates the calling thread's key state from a key message it is handling.
void NoteKeyMessage(UINT msg, WPARAM wParam);

// Key modifiers held while a key is pressed.
constexpr UINT kShift = 0x1;
constexpr UINT kControl = 0x2;
constexpr UINT kAlt = 0x4;

// A left click on the control's centre; FALSE (nothing posted) when it is disabled or hidden, as a user could not
// click it.
BOOL Click(HWND control);
BOOL DoubleClick(HWND control);
// A left click at a point of the window's client area.
BOOL ClickAt(HWND window, int x, int y);
// Moves the mouse to a screen point: WM_MOUSEMOVE (client coordinates) to the window with the capture, else to the
// window under the point. FALSE when there is no such window (the mouse still moved).
BOOL MoveMouse(int screenX, int screenY);
// A right click (WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU) on the control's centre.
BOOL RightClick(HWND control);
// Gives the control the focus, as clicking into it would, on its own thread.
BOOL FocusControl(HWND control);
// Presses and releases a key, with modifiers, at the window that has the focus on the thread of `window` (or
// `window` itself when that thread has no focus).
BOOL PressKey(HWND window, int virtualKey, UINT modifiers = 0);
// Types text (WM_CHAR per character) into the window with the focus on the thread of `window`, as PressKey.
BOOL TypeText(HWND window, const std::u16string& text);
// Chooses a menu item of `owner`: WM_COMMAND with the item id, as choosing it from the window's menu would.
BOOL ChooseMenuItem(HWND owner, UINT id);
// Chooses an item of the window's system menu (its own copy, with the entries a program added): WM_SYSCOMMAND with
// the item id, as choosing it with the mouse would. FALSE (nothing posted) when the item is not in the system menu or
// is disabled or grayed, as a user could not choose it.
BOOL ChooseSystemMenuItem(HWND window, UINT id);
// Picks an item of a combo box from its drop-down list, as the user would (CBN_DROPDOWN, CBN_SELENDOK,
// CBN_CLOSEUP, CBN_SELCHANGE).
BOOL ChooseComboItem(HWND combo, int index);

// Handles every message that is waiting for the calling thread, passing each through IsDialogMessageW of
// `dialog` first when one is given (for tests that drive a modeless dialog on their own thread).
void DrainMessages(HWND dialog = nullptr);

} // namespace platform::ui
