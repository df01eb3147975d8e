// Dialogs: windows built from dialog templates, the dialog manager (default button, Enter and Escape, Tab and
// arrow-key navigation) and the dialog-item helpers.
//
// Stands in for the dialog half of USER. The same as Windows: a template (RT_DIALOG resource or DLGTEMPLATE in
// memory) gives the dialog's style, caption, font and its controls in tab order; the dialog window is of the class
// "#32770" (or the template's class) with DefDlgProcW, which calls the dialog procedure first and does the default
// handling when it returns FALSE (the procedure's answer to a message goes through DWLP_MSGRESULT). Creation sends
// WM_SETFONT and WM_INITDIALOG (focus on the first tab stop when it returns TRUE) and then shows the dialog when the
// template says WS_VISIBLE. DialogBoxParamW disables the owner and runs a modal loop (message.h) that passes each
// message through IsDialogMessageW until EndDialog, then destroys the dialog and gives the result. EndDialog on a
// modeless dialog only hides it and keeps the result. IsDialogMessageW turns Tab and Shift+Tab into moves between
// WS_TABSTOP controls, the arrow keys into moves within a WS_GROUP group (an automatic radio button that gets the
// focus this way is clicked), Enter into a click of the default button (DM_GETDEFID; IDOK when there is none) or of
// the push button that has the focus, and Escape into WM_COMMAND IDCANCEL, each unless the control asks for the
// key through WM_GETDLGCODE. Child dialogs with DS_CONTROL or WS_EX_CONTROLPARENT take part in their parent's
// navigation.
//
// Where it differs: dialog units come from a fixed base unit (the layer's dialog font is 6 x 13 pixels per
// average character) instead of the font's measured size. There are no mnemonics (Alt+letter).
#pragma once

#include "platform/base/types.h"
#include "platform/ui/controls.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#ifndef MAKEINTRESOURCEW
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#endif

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// The dialog window class.
#define WC_DIALOG u"#32770"

// Dialog styles.
constexpr DWORD DS_ABSALIGN = 0x01;
constexpr DWORD DS_SYSMODAL = 0x02;
constexpr DWORD DS_3DLOOK = 0x04;
constexpr DWORD DS_FIXEDSYS = 0x08;
constexpr DWORD DS_NOFAILCREATE = 0x10;
constexpr DWORD DS_LOCALEDIT = 0x20;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_NOIDLEMSG = 0x100;
constexpr DWORD DS_SETFOREGROUND = 0x200;
constexpr DWORD DS_CONTROL = 0x400;
constexpr DWORD DS_CENTER = 0x800;
constexpr DWORD DS_CENTERMOUSE = 0x1000;
constexpr DWORD DS_CONTEXTHELP = 0x2000;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// Dialog messages.
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr UINT DM_REPOSITION = WM_USER + 2;
constexpr WORD DC_HASDEFID = 0x534B;

// Window extra bytes of a dialog.
constexpr int DWLP_MSGRESULT = 0;
constexpr int DWLP_DLGPROC = static_cast<int>(sizeof(LRESULT));
constexpr int DWLP_USER = DWLP_DLGPROC + static_cast<int>(sizeof(DLGPROC));
constexpr int DLGWINDOWEXTRA = DWLP_USER + static_cast<int>(sizeof(LONG_PTR));

#pragma pack(push, 2)
// The fixed head of a DLGTEMPLATE in memory (followed by the menu, class, caption, font and the items).
struct DLGTEMPLATE {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
};
#pragma pack(pop)
using LPCDLGTEMPLATEW = const DLGTEMPLATE*;

// Creation. The template name is a resource name or MAKEINTRESOURCE id of the instance's RT_DIALOG resources.
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam);
HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dlgTemplate, HWND parent, DLGPROC proc,
                                LPARAM initParam);
inline HWND CreateDialogW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc) {
    return CreateDialogParamW(instance, templateName, parent, proc, 0);
}
// Modal: returns the EndDialog result, or -1 when the dialog could not be created.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam);
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dlgTemplate, HWND parent, DLGPROC proc,
                                LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);

LRESULT CALLBACK DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);

// Navigation.
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);
BOOL MapDialogRect(HWND dialog, LPRECT rect);
LONG GetDialogBaseUnits();

// Dialog items.
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
// FALSE in *translated when the text is not a number or is out of range.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// Checks `check` and unchecks the other buttons from `first` to `last`.
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);

namespace platform::ui {

// The result given to EndDialog (for a modeless dialog that ended), and whether EndDialog was called.
bool DialogEnded(HWND dialog, INT_PTR* result);

} // namespace platform::ui
