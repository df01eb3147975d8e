// The steps that check, measure and copy one file, and the shared helpers of the walks and the single-path
// operations.
#pragma once

#include "copylib/Job.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"

// What a directory walk already knows about the file in hand, so that the steps need not ask the file system
// again. Every part is optional; without a hint the steps look everything up themselves.
struct FILE_HINT {
    const WIN32_FIND_DATAW* pSource; // the source's entry from the listing that met it
    bool bDestinationAbsent;         // the destination's folder (on an existing drive) does not hold it
    bool bDestinationFolderReady;    // the destination's folder is known to exist
};

// Measures the job's file source (calculation pass) with events 20 and 21. Returns the callback's answer.
int calc_file(KOVRA_JOB* job);
int calc_file(KOVRA_JOB* job, const FILE_HINT* hint);
// Copies the job's file source to its file destination (copy pass) with events 36 to 38. Returns the answer.
int copy_file(KOVRA_JOB* job);
int copy_file(KOVRA_JOB* job, const FILE_HINT* hint);

// Pre-checks. 0: go on; 5003: leave the file out; else the Win32 error that decides the file. *size gets the
// source size when the check looked the source up, else -1.
DWORD calc_precheck(DWORD flags, LPCWSTR source, LPCWSTR destination, LONGLONG* size, const FILE_HINT* hint = nullptr);
DWORD copy_precheck(DWORD flags, LPCWSTR source, LPCWSTR destination, LONGLONG* size, const FILE_HINT* hint = nullptr);

// True when both files exist with the same size and last-write times at most one second apart (taken as local
// calendar time in whole seconds). *size gets a's size once a is found, else 0.
bool are_same_file(LPCWSTR a, LPCWSTR b, LONGLONG* size);
// True when the path's drive is known (UNC paths always are).
bool drive_exists(LPCWSTR path);
// True when a directory walk should leave the directory out: its attributes cannot be read, or flag 0x1000 is set
// and it is hidden. A volume root is never left out.
bool skip_directory(DWORD flags, LPCWSTR directory);
// Creates a directory and its missing parents. 0 when made; 183 or 5 as CreateDirectoryW reported them for the
// directory itself; else the last error of the final attempt.
DWORD build_directory(LPCWSTR path);
// Clears the source's archive bit and copies its creation, last-access and last-write times onto the
// destination. True when the times were copied; nothing else depends on it.
bool sync_file_time(LPCWSTR source, LPCWSTR destination);
// The same with the source's attributes and times already in hand (read just before the copy).
bool sync_file_time(LPCWSTR source, LPCWSTR destination, const WIN32_FILE_ATTRIBUTE_DATA& sourceData);
// ... and with the destination's attributes known too (only its read-only bit is looked at).
bool sync_file_time(LPCWSTR source, LPCWSTR destination, const WIN32_FILE_ATTRIBUTE_DATA& sourceData,
                    DWORD destinationAttributes);
// The times of a source directory onto a destination directory.
void copy_dir_times(LPCWSTR sourceDirectory, LPCWSTR destinationDirectory);

// Sets attributes; no bits at all is spelled FILE_ATTRIBUTE_NORMAL.
BOOL set_file_attributes(LPCWSTR path, DWORD attributes);

// True when `path` itself is a symbolic link (or another reparse point), whatever it points at.
bool is_link(LPCWSTR path);

// CopyFileExW's progress routine for job copies; data is the job.
DWORD copy_progress_routine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred, LARGE_INTEGER streamSize,
                            LARGE_INTEGER streamBytesTransferred, DWORD streamNumber, DWORD callbackReason,
                            HANDLE sourceFile, HANDLE destinationFile, LPVOID data);
