// What the secure-disk dialogs share: the application's log call, texts from the string table and the system's
// message texts, and the secure-disk manager. Private to the storage folder.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

class CZentraManager;

namespace securedisk {

// One entry of the system event log (1 information, 2 warning, 4 error, 8 debug); nothing without the program's
// application object.
void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType);
// The string-table text, formatted with one text argument when it holds a placeholder.
CString LoadText(UINT nId, LPCTSTR lpszArgument = nullptr);
// The system's message text for a Win32 error.
CString SystemErrorText(DWORD dwError);
// A message box of the program over the window.
int Message(HWND hOwner, LPCTSTR lpszText, UINT nType);
// The application's secure-disk manager, or null without the program's application object.
CZentraManager* Manager();

} // namespace securedisk
