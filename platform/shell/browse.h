// SHBrowseForFolderW: the shell's folder browser.
//
// Stands in for the shell's folder browser. The same as Windows: the caller's callback gets BFFM_INITIALIZED and, for
// every new selection, BFFM_SELCHANGED with the folder's absolute item id list in lParam, and may send the browser
// window BFFM_SETSELECTIONW (a path with wParam TRUE, an item id list with FALSE), BFFM_SETSTATUSTEXTW, BFFM_ENABLEOK
// and BFFM_SETOKTEXT; the result is the chosen folder's item id list (free it with ILFree or CoTaskMemFree), with its
// name in pszDisplayName, or null after Cancel; pidlRoot, when given, is selected first.
//
// Where it differs: the dialog is the common dialogs' (platform/ui/commdlg.h), so the choice is the prompt hook's.
#pragma once

#include "platform/shell/idlist.h"
#include "platform/ui/commdlg.h"

using BFFCALLBACK = int (*)(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data);

struct BROWSEINFOW {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPWSTR pszDisplayName;
    LPCWSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
using LPBROWSEINFOW = BROWSEINFOW*;

PIDLIST_ABSOLUTE SHBrowseForFolderW(LPBROWSEINFOW bi);
