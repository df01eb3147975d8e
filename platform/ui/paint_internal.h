// How the standard controls and dialogs paint: one painter per class that reads the control's state through its
// messages, so that the controls' own files keep only their behaviour.
#pragma once

#include "platform/base/types.h"

#include <string>

using cairo_surface_t = struct _cairo_surface;

namespace platform::ui {

// SaveWindowPng to a host path.
BOOL SaveWindowPngToHost(HWND hwnd, const std::string& hostPath);
// Called when a top-level window becomes visible: with the environment variable WINLAYER_PICTURES naming a host
// folder, its picture is saved there ("<process id>-<number>-<class>.png"), so that a headless run shows what
// appeared. Nothing happens without the variable.
void NoteWindowShown(HWND hwnd);

} // namespace platform::ui

namespace platform::ui::paint {

// The font a control was given with WM_SETFONT (null: the system font).
void SetControlFont(HWND hwnd, HFONT font);
HFONT GetControlFont(HWND hwnd);
void ForgetControl(HWND hwnd);

// The font of a dialog template's DS_SETFONT (null when the drawing layer cannot make it).
HFONT DialogFont(WORD pointSize, const std::u16string& faceName);
// The brush a dialog answers WM_CTLCOLOR* with by default.
HBRUSH DefaultControlBrush(UINT ctlColorMessage);

// WM_PAINT of a standard control or a dialog: paints it plainly and validates it; returns 0.
LRESULT PaintControl(HWND hwnd);

// The messages every standard control answers alike: WM_SETFONT (kept, and redrawn when lParam asks),
// WM_GETFONT and WM_PAINT. Returns true with the message's result when it was one of them.
bool HandleFontAndPaint(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Draws the window and its visible descendants as they last painted themselves (nothing paints afresh) onto a
// cairo surface of width x height, with the window pixel `origin` at the surface's corner. Any thread.
bool DrawPainted(HWND hwnd, POINT origin, int width, int height, cairo_surface_t* target);

} // namespace platform::ui::paint
