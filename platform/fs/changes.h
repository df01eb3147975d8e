// Directory change notifications: ReadDirectoryChangesW over inotify.
//
// Stands in for ReadDirectoryChangesW on a directory handle opened with FILE_LIST_DIRECTORY and
// FILE_FLAG_BACKUP_SEMANTICS. The same as Windows: the first read starts recording the changes of the
// directory (and, with bWatchSubtree, of every folder below it, including folders created, moved in or renamed
// later); changes that happen while no read waits are kept in order, and each read is completed with
// FILE_NOTIFY_INFORMATION records (UTF-16 names relative to the directory, backslash-separated, DWORD-aligned, chained
// by NextEntryOffset), through the completion port the handle is associated with (iocp.h) and the OVERLAPPED's event. A
// rename inside the watched tree gives the pair FILE_ACTION_RENAMED_OLD_NAME, FILE_ACTION_RENAMED_NEW_NAME; a move out
// of the tree gives FILE_ACTION_REMOVED and a move into it FILE_ACTION_ADDED. Creating, removing or renaming an entry
// also reports the folder that holds it as modified (FILE_NOTIFY_CHANGE_LAST_WRITE), as NTFS does for folders below the
// watched one. Each read takes as many of the kept changes as its buffer holds; the rest wait for the next read.
// Differs: Windows keeps the changes between two reads in a buffer as large as the first read's buffer; here the
// kept changes may fill fs::kKeptChangesBytes (or the first read's buffer when that is larger), counted as the records
// would take in a read's buffer, so that a burst a little longer than one read's buffer is not lost.
// When changes were lost (the kept changes outgrew that limit, a record does not fit the read's buffer, or the
// host's event queue overflowed), the next completion carries 0 bytes: the caller must look at the tree again.
// A folder that cannot be watched (the host's watch limit) fails the read with ERROR_NOT_ENOUGH_QUOTA, or, when
// it appears later, completes the pending read with that error; nothing is silently left unwatched.
// Differs: one read may be pending per handle at a time (a second fails with ERROR_INVALID_PARAMETER);
// completion routines are not offered (ERROR_NOT_SUPPORTED); a read still pending when the handle is closed is
// dropped without a completion, so cancel it first with CancelIoEx, which completes it with
// ERROR_OPERATION_ABORTED before returning.
#pragma once

#include "platform/base/types.h"

#include <cstddef>

constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x001;
constexpr DWORD FILE_NOTIFY_CHANGE_DIR_NAME = 0x002;
constexpr DWORD FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x004;
constexpr DWORD FILE_NOTIFY_CHANGE_SIZE = 0x008;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x010;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_ACCESS = 0x020;
constexpr DWORD FILE_NOTIFY_CHANGE_CREATION = 0x040;
constexpr DWORD FILE_NOTIFY_CHANGE_SECURITY = 0x100;

constexpr DWORD FILE_ACTION_ADDED = 1;
constexpr DWORD FILE_ACTION_REMOVED = 2;
constexpr DWORD FILE_ACTION_MODIFIED = 3;
constexpr DWORD FILE_ACTION_RENAMED_OLD_NAME = 4;
constexpr DWORD FILE_ACTION_RENAMED_NEW_NAME = 5;

struct FILE_NOTIFY_INFORMATION {
    DWORD NextEntryOffset;
    DWORD Action;
    DWORD FileNameLength; // in bytes, without a terminator
    WCHAR FileName[1];
};
using PFILE_NOTIFY_INFORMATION = FILE_NOTIFY_INFORMATION*;

using LPOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped);

BOOL ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD bufferLength, BOOL watchSubtree, DWORD notifyFilter,
                           LPDWORD bytesReturned, LPOVERLAPPED overlapped,
                           LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine);

// Cancels the pending directory read of `file` (all of them when `overlapped` is null): it completes with
// ERROR_OPERATION_ABORTED before this returns. FALSE with ERROR_NOT_FOUND when nothing was pending.
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

namespace platform::fs {

// How many bytes of records a directory handle keeps for its next reads before it counts changes as lost.
constexpr DWORD kKeptChangesBytes = 256 * 1024;

// Tests only: caps the number of folders one directory handle may watch (0: the host's limit alone), so that
// the watch-limit failures can be reached without changing the host's settings.
void SetDirectoryWatchLimitForTesting(size_t limit);

} // namespace platform::fs
