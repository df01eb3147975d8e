// Dialogs built by the layer itself (message boxes, the folder browser) from templates made in code.
#pragma once

#include "platform/res/templates.h"
#include "platform/ui/dialog.h"

namespace platform::ui {

HWND CreateDialogFromTemplate(HINSTANCE instance, const res::DialogTemplate& dlgTemplate, HWND parent, DLGPROC proc,
                              LPARAM initParam);
// Runs the modal loop of a created dialog (owner disabled meanwhile), destroys it and returns its result.
INT_PTR RunDialogModal(HWND dialog, HWND owner);

// Appends a control to a template (position and size in dialog units).
void AddTemplateItem(res::DialogTemplate& dlgTemplate, WORD classOrdinal, const std::u16string& text, WORD id,
                     DWORD style, short x, short y, short cx, short cy);

} // namespace platform::ui
