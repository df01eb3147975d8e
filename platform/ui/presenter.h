// Showing the window system on an X display.
//
// Stands in for the screen. When a display is there ($DISPLAY, or the layer setting WINLAYER_DISPLAY naming
// another; WINLAYER_DISPLAY=none keeps a process headless), every visible top-level window of the process gets an X
// window at its place, with its title, icon and show state, showing what the window painted; a window with a caption
// is framed by the desktop's window manager around its client area, other windows show whole and undecorated, and
// owned pop-ups (menus, tooltips, drop-down lists) float above the desktop; a window region or a layered window's key
// colour cuts the X window to its shape. X input becomes the layer's input:
// mouse messages to the window under the pointer or with the capture, double-clicks within the double-click time
// for classes with CS_DBLCLKS, the wheel to the window with the focus, keys through the keyboard's real layout to
// the window with the focus, the mouse leaving for another program's window (for TrackMouseEvent), activation when the
// desktop gives a window the focus, WM_SYSCOMMAND SC_CLOSE for the window manager's close button and SC_MINIMIZE /
// SC_RESTORE for minimising and restoring there. Tray icons dock in the desktop's notification area (the XEmbed
// system-tray protocol), and dock again when a notification area appears later.
//
// Where it differs: one thread of the presenter does all the talking to the X server; windows keep painting into
// their own surfaces on their own threads, and the presenter shows the surfaces after each paint. Without a display
// the window system runs headless as before and says so once on standard error.
#pragma once

#include "platform/base/types.h"

#include <cstdint>
#include <string>

namespace platform::ui {

// Whether windows are shown on a display (connects to it on first use).
bool DisplayShown();
// Shows the windows on the named display from now on, when no display was chosen yet (a process that started
// headless, such as a test with a display of its own). True when windows are shown on a display afterwards.
bool ConnectDisplay(const std::string& name);
// The window layer tells the presenter that a window changed: geometry, show state, text, icon, pixels, focus.
// Cheap and lock-free for the window layer; any thread, with or without the window layer's lock.
void NoteWindowChange(HWND hwnd);
// The notification-area icons changed.
void NoteTrayChange();
// Waits until every change noted before the call is on the display and the X server has handled it. False after
// `timeoutMs` of real time, or without a display.
bool FlushDisplay(DWORD timeoutMs);
// The X window that shows a top-level window, or a tray icon (0 when none).
uint32_t XWindowOf(HWND hwnd);
uint32_t XWindowOfTrayIcon(HWND hwnd, UINT id);

} // namespace platform::ui
