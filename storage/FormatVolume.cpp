#include "storage/FormatVolume.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/devices/fmifs.h"
#include "platform/ui/message.h"

#include <atomic>
#include <mutex>

namespace {

using PFORMATEX = void (*)(PWCHAR, DWORD, PWCHAR, PWCHAR, BOOL, DWORD, PFMIFSCALLBACK);

// The format library and its entry points, process-wide.
std::mutex g_libraryLock;
HMODULE g_hFmifs = nullptr;
PFORMATEX g_pFormatEx = nullptr;

// The callback gets no context: the running format's request is the worker thread's own.
thread_local FORMAT_INFO* t_pInfo = nullptr;
// Whether the worker has posted its finished message.
thread_local bool t_bFinished = false;

void Post(FORMAT_INFO* pInfo, WPARAM wParam, LPARAM lParam) {
    ::PostMessageW(pInfo->hNotifyWnd, WM_FORMAT_NOTIFY, wParam, lParam);
}

void PostFinished(FORMAT_INFO* pInfo, bool bSuccess) {
    if (t_bFinished)
        return;
    t_bFinished = true;
    Post(pInfo, FORMAT_FINISHED, bSuccess ? 1 : 0);
}

BOOL BindLibrary() {
    std::lock_guard lock(g_libraryLock);
    if (g_hFmifs && g_pFormatEx)
        return TRUE;
    g_hFmifs = ::LoadLibraryW(u"FMIFS.DLL");
    if (!g_hFmifs)
        return FALSE;
    g_pFormatEx = reinterpret_cast<PFORMATEX>(::GetProcAddress(g_hFmifs, "FormatEx"));
    const bool bAll =
        g_pFormatEx && ::GetProcAddress(g_hFmifs, "EnableVolumeCompression") && ::GetProcAddress(g_hFmifs, "ChkdskEx");
    if (!bAll) {
        ::FreeLibrary(g_hFmifs);
        g_hFmifs = nullptr;
        g_pFormatEx = nullptr;
        return FALSE;
    }
    return TRUE;
}

void FreeBoundLibrary() {
    std::lock_guard lock(g_libraryLock);
    if (g_hFmifs)
        ::FreeLibrary(g_hFmifs);
    g_hFmifs = nullptr;
    g_pFormatEx = nullptr;
}

BOOLEAN FormatCallback(CALLBACKCOMMAND command, DWORD, PVOID argument) {
    FORMAT_INFO* pInfo = t_pInfo;
    if (!pInfo)
        return FALSE;
    if (pInfo->dwCancel) {
        pInfo->dwDone = 1;
        return FALSE;
    }
    switch (command) {
    case PROGRESS:
        Post(pInfo, FORMAT_PROGRESS, static_cast<LPARAM>(*static_cast<const DWORD*>(argument)));
        break;
    case DONE:
        if (pInfo->dwQuickFormat)
            Post(pInfo, FORMAT_PROGRESS, 100);
        PostFinished(pInfo, *static_cast<const BOOLEAN*>(argument) != 0);
        break;
    default:
        break;
    }
    return TRUE;
}

unsigned FormatThread(void* pArgument) {
    auto* pInfo = static_cast<FORMAT_INFO*>(pArgument);
    t_bFinished = false;
    if (!BindLibrary()) {
        PostFinished(pInfo, false);
        return 0;
    }
    PFORMATEX pFormatEx;
    {
        std::lock_guard lock(g_libraryLock);
        pFormatEx = g_pFormatEx;
    }
    t_pInfo = pInfo;
    pFormatEx(pInfo->szRoot, FMIFS_HARDDISK, pInfo->szFileSystem, pInfo->szLabel, pInfo->dwQuickFormat,
              pInfo->dwClusterSize, FormatCallback);
    t_pInfo = nullptr;
    // A format stopped by the cancel, or one the library ended without saying how, ends as a failure: the window
    // waiting for the end always hears of it, and hears of it once.
    PostFinished(pInfo, false);
    FreeBoundLibrary();
    return 0;
}

} // namespace

DWORD StartFormat(FORMAT_INFO* pInfo, FORMAT_INFO** ppHandle) {
    *ppHandle = nullptr;
    pInfo->dwDone = 0;
    pInfo->dwCancel = 0;
    unsigned uThreadId = 0;
    const uintptr_t hThread = _beginthreadex(nullptr, 0, FormatThread, pInfo, CREATE_SUSPENDED, &uThreadId);
    if (!hThread)
        return ::GetLastError();
    pInfo->hThread = reinterpret_cast<HANDLE>(hThread);
    pInfo->uThreadId = uThreadId;
    ::ResumeThread(pInfo->hThread);
    *ppHandle = pInfo;
    return ERROR_SUCCESS;
}

void CancelFormat(FORMAT_INFO* pInfo) {
    pInfo->dwCancel = 1;
    if (pInfo->hThread) {
        // A worker that does not stop within the time is let go: its thread cannot be killed safely in the middle
        // of a format, and its request stays the caller's.
        ::WaitForSingleObject(pInfo->hThread, 5000);
        ::CloseHandle(pInfo->hThread);
        pInfo->hThread = nullptr;
        pInfo->dwDone = 1;
    }
}
