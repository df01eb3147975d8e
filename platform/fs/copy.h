// CopyFileExW and CopyFileW.
//
// Data is copied by the kernel (copy_file_range, falling back to read/write across file systems that refuse
// it) in chunks, and the progress routine hears of every chunk (CALLBACK_CHUNK_FINISHED) after one
// CALLBACK_STREAM_SWITCH at the start, as for a file with one stream. The cancel flag is polled between
// chunks; PROGRESS_CANCEL or a set flag fail the copy with ERROR_REQUEST_ABORTED, PROGRESS_STOP likewise.
// COPY_FILE_FAIL_IF_EXISTS fails with ERROR_FILE_EXISTS. The destination gets the source's last-write time,
// and its attributes (with the archive bit set); a read-only existing destination is refused with
// ERROR_ACCESS_DENIED as on Windows. The copy is built whole before it takes the destination's name
// (wholefile.h), so a cancelled, failed or killed copy leaves the old destination (or none) and nothing else.
#pragma once

#include "platform/base/types.h"

constexpr DWORD COPY_FILE_FAIL_IF_EXISTS = 0x1;
constexpr DWORD COPY_FILE_RESTARTABLE = 0x2;
constexpr DWORD CALLBACK_CHUNK_FINISHED = 0;
constexpr DWORD CALLBACK_STREAM_SWITCH = 1;
constexpr DWORD PROGRESS_CONTINUE = 0;
constexpr DWORD PROGRESS_CANCEL = 1;
constexpr DWORD PROGRESS_STOP = 2;
constexpr DWORD PROGRESS_QUIET = 3;

using LPPROGRESS_ROUTINE = DWORD (*)(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                                     LARGE_INTEGER streamSize, LARGE_INTEGER streamBytesTransferred, DWORD streamNumber,
                                     DWORD callbackReason, HANDLE sourceFile, HANDLE destinationFile, LPVOID data);

BOOL CopyFileExW(LPCWSTR existing, LPCWSTR newName, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
                 DWORD copyFlags);
BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);

namespace platform::fs {

class UnnamedFileSupply;

// What a copy may do besides moving the data, so that a caller that would otherwise open both files again
// after CopyFileExW (to stamp the copy's times, to mark the source as backed up) does it in the same step.
struct CopyExtras {
    // The times the copy takes, as SetFileTime on it would set them; a null or omitted one (zero, or all bits
    // set) keeps the copy's own: the source's last-access and last-write times, a creation time of now.
    const FILETIME* creation = nullptr;
    const FILETIME* lastAccess = nullptr;
    const FILETIME* lastWrite = nullptr;
    // Instead: the copy takes the source's three times as they read when the copy opened it (as
    // GetFileAttributesExW of the source gives them), as SetFileTime with them would set them.
    bool sourceTimes = false;
    // Once the copy is in place, the source's archive bit is cleared when it is set, as SetFileAttributesW of
    // the source's attributes without it would do. A failure here leaves the copy a success.
    bool clearSourceArchive = false;
    // The caller has just made the destination's folder, spelled as in the new name, and put nothing of this
    // name in it: the destination is taken as missing without being looked up. A file that appears there
    // meanwhile is still never replaced unawares: the copy then ends as CopyFileExW onto an existing file does.
    bool destinationMissing = false;
    // With destinationMissing: the copy's content file may come from this supply (wholefile.h), made ahead in
    // the destination's folder.
    UnnamedFileSupply* unnamedFiles = nullptr;
};

// CopyFileExW with the extras: the times are set on the copy before it takes the destination's name, so the
// copy appears with them.
BOOL CopyFileWithExtras(LPCWSTR existing, LPCWSTR newName, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
                        DWORD copyFlags, const CopyExtras& extras);

} // namespace platform::fs
