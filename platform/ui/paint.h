// Painting windows: BeginPaint and EndPaint, GetDC, GetWindowDC and ReleaseDC, and pictures of windows.
//
// Stands in for the painting half of USER. The same as Windows: BeginPaint gives a device context on the window's
// client area (logical (0, 0) at its corner, drawing cut to it), fills the background with the class brush and
// sends WM_ERASEBKGND when the window asked for erasing, and validates the window; EndPaint releases the context.
// GetDC gives the same kind of context at any time, GetWindowDC one on the whole window with its frame.
//
// Where it differs: there is no screen. Each window paints into a surface of its own (platform/gdi/surface.h) that
// keeps what was painted; SaveWindowPng has a window and its visible children paint themselves afresh and composes
// their surfaces into one PNG file, the frame and caption of a top-level window drawn plainly around it, so a
// person can look at a dialog. The standard controls and dialogs paint themselves plainly with the system colours.
#pragma once

#include "platform/base/types.h"

#include <string>

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
HDC GetDC(HWND hwnd);
HDC GetWindowDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);

namespace platform::ui {

// Paints the window and its visible descendants and saves the picture (the window's whole rectangle) as a PNG
// file at a Windows path. FALSE when the window does not exist or the file cannot be written.
// With the environment variable WINLAYER_PICTURES naming a host folder, every top-level window that ShowWindow
// makes visible is also saved there ("<process id>-<number>-<class>.png"), so that a run without a screen leaves
// pictures of what appeared.
BOOL SaveWindowPng(HWND hwnd, const std::u16string& path);

} // namespace platform::ui
