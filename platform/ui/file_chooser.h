// The file and folder chooser shown on the display when no prompt hook answers for the user: the dialog behind the
// file dialogs (GetOpenFileNameW, GetSaveFileNameW) and the folder browser.
//
// It lists the current folder (".." first, then folders in brackets, then the files that the chosen filter
// matches); a double-click on a folder opens it, a click on a file takes its name; the name field takes a name or a
// whole path, and a folder typed there is opened instead of chosen. OK answers with the path; Cancel and the close
// button with IDCANCEL. The folder browser's OK chooses the folder selected in the list, else the folder shown.
#pragma once

#include "platform/ui/msgbox.h"

namespace platform::ui {

// Asks the user on the display for what the prompt describes (a file dialog or the folder browser).
PromptReply ChooseOnDisplay(const PromptInfo& info);

} // namespace platform::ui
