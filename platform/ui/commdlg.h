// The common dialogs: file open and save (GetOpenFileNameW, GetSaveFileNameW) and the folder browser dialog (which
// the shell offers as SHBrowseForFolderW, platform/shell/browse.h).
//
// Stands in for the common dialog library and the shell's folder browser. The same as Windows: the file dialogs take
// an OPENFILENAMEW and fill the chosen path, the file offset and extension offset, the file title and the filter
// index; the default extension is added to a name without one; OFN_FILEMUSTEXIST and OFN_PATHMUSTEXIST refuse names
// that do not exist and OFN_OVERWRITEPROMPT asks (as a message box) before an existing file is chosen for saving; a
// buffer that is too small fails with FNERR_BUFFERTOOSMALL and the needed size in its first two bytes; Cancel
// returns FALSE with CommDlgExtendedError 0. The folder browser is a dialog window that calls the caller's callback
// with BFFM_INITIALIZED and BFFM_SELCHANGED and answers BFFM_SETSELECTIONW, BFFM_SETSTATUSTEXTW, BFFM_ENABLEOK and
// BFFM_SETOKTEXT, and gives the chosen folder.
//
// Where it differs: the choice is the prompt hook's (msgbox.h), which sees the title, filters, names and the
// browser's current selection and status text; a refused answer is put to the hook again with the reason in the
// prompt's text (three times at most, then the dialog is cancelled).
#pragma once

#include "platform/base/types.h"

#include <functional>
#include <string>

using LPOFNHOOKPROC = UINT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct OPENFILENAMEW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter;
    LPWSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPWSTR lpstrFile;
    DWORD nMaxFile;
    LPWSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCWSTR lpstrInitialDir;
    LPCWSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCWSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCWSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
};
using LPOPENFILENAMEW = OPENFILENAMEW*;

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_SHOWHELP = 0x00000010;
constexpr DWORD OFN_ENABLEHOOK = 0x00000020;
constexpr DWORD OFN_ENABLETEMPLATE = 0x00000040;
constexpr DWORD OFN_NOVALIDATE = 0x00000100;
constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
constexpr DWORD OFN_EXTENSIONDIFFERENT = 0x00000400;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_CREATEPROMPT = 0x00002000;
constexpr DWORD OFN_NOREADONLYRETURN = 0x00008000;
constexpr DWORD OFN_NOTESTFILECREATE = 0x00010000;
constexpr DWORD OFN_EXPLORER = 0x00080000;
constexpr DWORD OFN_NODEREFERENCELINKS = 0x00100000;
constexpr DWORD OFN_LONGNAMES = 0x00200000;
constexpr DWORD OFN_ENABLESIZING = 0x00800000;

constexpr DWORD CDERR_DIALOGFAILURE = 0xFFFF;
constexpr DWORD CDERR_STRUCTSIZE = 0x0001;
constexpr DWORD CDERR_INITIALIZATION = 0x0002;
constexpr DWORD FNERR_SUBCLASSFAILURE = 0x3001;
constexpr DWORD FNERR_INVALIDFILENAME = 0x3002;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
// The error of the calling thread's last common dialog (0 after Cancel).
DWORD CommDlgExtendedError();

// Folder browser flags (BROWSEINFOW, platform/shell/browse.h) and its messages.
constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr UINT BIF_STATUSTEXT = 0x0004;
constexpr UINT BIF_RETURNFSANCESTORS = 0x0008;
constexpr UINT BIF_EDITBOX = 0x0010;
constexpr UINT BIF_VALIDATE = 0x0020;
constexpr UINT BIF_NEWDIALOGSTYLE = 0x0040;
constexpr UINT BIF_BROWSEINCLUDEURLS = 0x0080;
constexpr UINT BIF_USENEWUI = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
constexpr UINT BIF_NONEWFOLDERBUTTON = 0x0200;
constexpr UINT BIF_BROWSEFORCOMPUTER = 0x1000;
constexpr UINT BIF_BROWSEFORPRINTER = 0x2000;
constexpr UINT BIF_BROWSEINCLUDEFILES = 0x4000;

// Callback events.
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SELCHANGED = 2;
constexpr UINT BFFM_VALIDATEFAILEDW = 4;
// Messages to the browser window.
constexpr UINT BFFM_ENABLEOK = 0x0400 + 101;
constexpr UINT BFFM_SETSELECTIONW = 0x0400 + 103;
constexpr UINT BFFM_SETSTATUSTEXTW = 0x0400 + 104;
constexpr UINT BFFM_SETOKTEXT = 0x0400 + 105;
constexpr UINT BFFM_SETEXPANDED = 0x0400 + 106;
constexpr UINT BFFM_SETSELECTION = BFFM_SETSELECTIONW;
constexpr UINT BFFM_SETSTATUSTEXT = BFFM_SETSTATUSTEXTW;

namespace platform::ui {

// The folder browser dialog, over Windows paths; the shell gives it item id lists (SHBrowseForFolderW).
struct FolderBrowserRequest {
    HWND owner = nullptr;
    std::u16string title;
    UINT flags = 0;      // BIF_*
    std::u16string root; // selected first, unless the callback selects another folder
    // BFFM_INITIALIZED (empty path) and BFFM_SELCHANGED (the new selection), with the browser window.
    std::function<void(HWND browser, UINT message, const std::u16string& path)> callback;
    // BFFM_SETSELECTIONW with wParam FALSE: the path of the item id list in lParam.
    std::function<std::u16string(LPARAM idList)> pathOfIdList;
};
// The folder chosen, or empty after Cancel.
std::u16string RunFolderBrowser(const FolderBrowserRequest& request);

} // namespace platform::ui
