// Watches directories (whole drives) for changes and hands them, one record per file action, to its owner.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"
#include "platform/afx/StringArray.h"
#include "platform/base/types.h"
#include "platform/base/unique_handle.h"

#include <memory>
#include <vector>

// The monitor's flush marker: an unwanted change, or (with the watched directory as its path) changes that were
// lost because the system's change buffer overflowed; the owner then looks at that directory again.
constexpr int FILE_ACTION_FLUSH = 15;

struct FILE_ACTION_RECORD {
    int nAction = 0;
    CString strPath;
    CString strPath2;
    FILE_ACTION_RECORD* pNext = nullptr;
    CObject* pObject = nullptr;
};

// Destroys a record and its attached object.
void DestroyFileActionRecord(FILE_ACTION_RECORD* pRecord);

using FILE_ACTION_FILTER_ROUTINE = int (*)(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);
using FILE_ACTION_ROUTINE = void (*)(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);

class CDirectoryMonitor {
public:
    CDirectoryMonitor();
    virtual ~CDirectoryMonitor();
    CDirectoryMonitor(const CDirectoryMonitor&) = delete;
    CDirectoryMonitor& operator=(const CDirectoryMonitor&) = delete;

    // Adds "%c:\" for every drive whose bit is set (bit 0 = A).
    int SetDrives(DWORD dwDrives);
    // Adds one directory to watch.
    void AddDirectory(LPCTSTR lpszDirectory) { m_arrDirectories.Add(lpszDirectory); }

    // 0 on success, else a Win32 error code: 87 when no directory is listed, or the error of the last directory
    // that could not be watched when none could.
    DWORD StartMonitor(FILE_ACTION_FILTER_ROUTINE pfnFilter, FILE_ACTION_ROUTINE pfnAction, LPVOID lpUserData);
    // Stops the threads cooperatively; messages sent to the calling thread are served while it waits, so a
    // callback that sends to the stopping thread cannot deadlock the stop. Returns 0.
    DWORD StopMonitor();
    BOOL IsRunning() const { return m_hCompletionPort != nullptr; }

    struct Shared;
    struct WatchRecord;
    struct WatchList;

private:
    DWORD MonitorDirectory(LPCTSTR lpszPath);
    static DWORD WINAPI HandleDirectoryChange(LPVOID lpParam);

    CStringArray m_arrDirectories;
    // The watch records and the completion port, shared with the change thread: a change thread that is still
    // at work when the stop stops waiting for it keeps them until it ends.
    std::shared_ptr<WatchList> m_watchList;
    HANDLE m_hCompletionPort = nullptr; // the list's port while running
    platform::OwnedHandle m_hChangeThread;
    platform::OwnedHandle m_hParserThread;
    platform::OwnedHandle m_hActionThread;
    std::shared_ptr<Shared> m_shared;
};
