// ShellExecuteW and ShellExecuteExW: opening files and folders, and starting programs, as the shell does.
//
// Stands in for the shell's execution of items. The same as Windows: the verb "open" (or none) starts a program or
// opens a document or folder with the application associated with it, "explore" opens a folder, "properties" shows
// the item's properties; SEE_MASK_NOCLOSEPROCESS gives the started process's handle in hProcess (the caller closes
// it; null when no process was started); SEE_MASK_IDLIST takes the item from lpIDList. ShellExecuteW answers a value
// above 32 on success, else an SE_ERR_* code; ShellExecuteExW answers TRUE or FALSE with the error in GetLastError
// and the SE_ERR_* code in hInstApp.
//
// Where it differs: a program is a host file that may be executed; any other file or folder opens with the default
// application of its MIME type (freedesktop desktop entries and mimeapps.list), given the item's host path; no
// application for the type is SE_ERR_NOASSOC (ERROR_NO_ASSOCIATION). A URL ("https://...", "mailto:...") opens with
// the desktop's handler of its scheme (the MIME type "x-scheme-handler/<scheme>"), the browser for web addresses. A
// program named "x.exe" that does not exist is the program "x" when that exists, as CreateProcessW spells names.
// nShow is not passed on. "properties" shows a
// message box (see contextmenu.h).
#pragma once

#include "platform/shell/idlist.h"

constexpr ULONG SEE_MASK_DEFAULT = 0x00000000;
constexpr ULONG SEE_MASK_CLASSNAME = 0x00000001;
constexpr ULONG SEE_MASK_IDLIST = 0x00000004;
constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr ULONG SEE_MASK_NOASYNC = 0x00000100;
constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x00000400;

constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_PNF = 3;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;
constexpr int SE_ERR_NOASSOC = 31;

struct SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
};
using LPSHELLEXECUTEINFOW = SHELLEXECUTEINFOW*;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT nShowCmd);
