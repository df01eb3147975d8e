// The volume formatting worker: formats one volume (a drive root, "X:\") with the system's format library
// FMIFS.DLL on a thread of its own, reports progress and the outcome to a window, and can be cancelled.
//
// Messages to the notify window, posted as WM_FORMAT_NOTIFY: (FORMAT_PROGRESS, percent 0..100) while it works,
// then exactly one (FORMAT_FINISHED, 1 success or 0 failure or cancelled) - also when the library returns without
// saying how it ended. A worker whose thread cannot be started posts nothing.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/winuser_constants.h"

constexpr UINT WM_FORMAT_NOTIFY = WM_USER + 1000;
constexpr WPARAM FORMAT_PROGRESS = 1;
constexpr WPARAM FORMAT_FINISHED = 2;

// The request and state of one format, owned by the caller for the whole run.
struct FORMAT_INFO {
    WCHAR szFileSystem[10]; // "NTFS"
    WCHAR szLabel[260];
    WCHAR szRoot[4]; // "X:\"
    DWORD dwQuickFormat;
    DWORD dwClusterSize; // 0: the file system's default
    HWND hNotifyWnd;
    DWORD dwReserved1[2];
    volatile DWORD dwDone;   // the worker saw the cancel request, or CancelFormat ended the run
    volatile DWORD dwCancel; // set by CancelFormat
    DWORD dwReserved2[2];
    HANDLE hThread;
    unsigned uThreadId;
};

// Starts the worker. 0 with `*ppHandle` = `pInfo` (kept by the caller to cancel), or the error with null.
DWORD StartFormat(FORMAT_INFO* pInfo, FORMAT_INFO** ppHandle);
// Asks the running format to stop and waits up to five seconds for its worker; a second call only sets the flags.
void CancelFormat(FORMAT_INFO* pInfo);
