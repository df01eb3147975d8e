// Brannic, the copy library: copy jobs on worker threads and single-path operations.
//
// A copy job walks a source (a directory, one file, or later the selection of a tree view) in up to two passes,
// a calculation pass that counts and measures and a copy pass that copies, and reports every step to the
// caller's callback, whose answers steer the job. The single-path operations run on the caller's thread and
// report nothing but their result. Every export returns 0 or a Win32 error code (5003 marks a file left out by a
// pre-check); KovraUpdateDir alone reports success as 1.
#pragma once

#include "platform/base/types.h"

// Tree-view item record of the window system. The library only passes a pointer to it through; the walk that
// reads a tree view comes with the window system.
struct TVITEMW;

#define BRANNIC_API extern "C" __attribute__((visibility("default")))

// The progress record handed to every callback: 80 bytes, laid out as the callers read it.
struct KOVRA_PROGRESS {
    DWORD dwCancel;            // set to 1 by KovraCancelJob; the library itself never reads it
    DWORD dwEstimatedDirs;     // directories counted by the calculation pass
    DWORD dwTotalDirs;         // the same count, raised together with dwEstimatedDirs
    DWORD dwTotalDirsCopied;   // directories entered by the copy pass
    DWORD dwEstimatedFiles;    // files measured that the pre-check did not leave out
    DWORD dwTotalFiles;        // files measured
    DWORD dwTotalFilesCopied;  // files copied
    DWORD dwSkippedFiles;      // files the copy pass left out or gave up
    DWORD dwFailedFiles;       // failed copy attempts
    DWORD dwReserved;          // always 0
    LONGLONG llSingleFileSize; // size of the file being copied
    LONGLONG llSingleBytesTransferred;
    LONGLONG llEstimatedSize; // bytes of the files counted in dwEstimatedFiles
    LONGLONG llTotalFileSize; // bytes of the files counted in dwTotalFiles
    LONGLONG llTotalBytesTransferred;
};

static_assert(sizeof(KOVRA_PROGRESS) == 80);
static_assert(offsetof(KOVRA_PROGRESS, dwCancel) == 0);
static_assert(offsetof(KOVRA_PROGRESS, dwEstimatedDirs) == 4);
static_assert(offsetof(KOVRA_PROGRESS, dwTotalDirs) == 8);
static_assert(offsetof(KOVRA_PROGRESS, dwTotalDirsCopied) == 12);
static_assert(offsetof(KOVRA_PROGRESS, dwEstimatedFiles) == 16);
static_assert(offsetof(KOVRA_PROGRESS, dwTotalFiles) == 20);
static_assert(offsetof(KOVRA_PROGRESS, dwTotalFilesCopied) == 24);
static_assert(offsetof(KOVRA_PROGRESS, dwSkippedFiles) == 28);
static_assert(offsetof(KOVRA_PROGRESS, dwFailedFiles) == 32);
static_assert(offsetof(KOVRA_PROGRESS, dwReserved) == 36);
static_assert(offsetof(KOVRA_PROGRESS, llSingleFileSize) == 40);
static_assert(offsetof(KOVRA_PROGRESS, llSingleBytesTransferred) == 48);
static_assert(offsetof(KOVRA_PROGRESS, llEstimatedSize) == 56);
static_assert(offsetof(KOVRA_PROGRESS, llTotalFileSize) == 64);
static_assert(offsetof(KOVRA_PROGRESS, llTotalBytesTransferred) == 72);

// Job flags; several combine. The job kind is taken in the order TREE, DIRECTORY, FILE.
//
// A tree job reads the selection of the caller's tree view with messages sent from its worker thread; the thread
// that owns the tree view must go on serving sent messages until the job ends.
constexpr DWORD KOVRA_JOB_TREE = 0x1;
constexpr DWORD KOVRA_JOB_DIRECTORY = 0x2;
constexpr DWORD KOVRA_JOB_FILE = 0x4;
constexpr DWORD KOVRA_JOB_CALC = 0x10;
constexpr DWORD KOVRA_JOB_COPY = 0x20;
constexpr DWORD KOVRA_JOB_NO_OVERWRITE = 0x100;
constexpr DWORD KOVRA_JOB_FAIL_IF_EXISTS = 0x200;
constexpr DWORD KOVRA_JOB_ALWAYS_COPY = 0x800;
constexpr DWORD KOVRA_JOB_SKIP_HIDDEN = 0x1000;

// Events sent to the callback.
constexpr DWORD KOVRA_JOB_BEGIN = 0;
constexpr DWORD KOVRA_JOB_END = 1;
constexpr DWORD KOVRA_CALC_BEGIN = 16;
constexpr DWORD KOVRA_CALC_END = 17;
constexpr DWORD KOVRA_CALC_NODE = 18;
constexpr DWORD KOVRA_CALC_ENTER_DIR = 19;
constexpr DWORD KOVRA_CALC_FILE_BEGIN = 20;
constexpr DWORD KOVRA_CALC_FILE_END = 21;
constexpr DWORD KOVRA_COPY_BEGIN = 32;
constexpr DWORD KOVRA_COPY_END = 33;
constexpr DWORD KOVRA_COPY_NODE = 34;
constexpr DWORD KOVRA_COPY_ENTER_DIR = 35;
constexpr DWORD KOVRA_FILE_COPY_BEGIN = 36;
constexpr DWORD KOVRA_FILE_COPY_PROGRESS = 37;
constexpr DWORD KOVRA_FILE_COPY_COMPLETE = 38;

// Answers the callback returns.
constexpr int KOVRA_PROGRESS_CONTINUE = 0;
constexpr int KOVRA_PROGRESS_SKIP = 1;
constexpr int KOVRA_PROGRESS_ABORT = 2;
constexpr int KOVRA_PROGRESS_RETRY = 3;
constexpr int KOVRA_PROGRESS_SKIP_CHILD = 4;

// A file left out by a pre-check; not an error.
constexpr DWORD KOVRA_ERROR_SKIPPED = 5003;

// The job callback. Runs on the job's worker thread; the path buffers hold 2048 characters and may be rewritten
// by the callback; every pointer is valid only during the call.
using KOVRA_PROGRESS_ROUTINE = int(CALLBACK*)(HANDLE job, LPVOID userData, DWORD event, DWORD code, HWND treeWindow,
                                              TVITEMW* treeItem, LPWSTR source, LPWSTR destination,
                                              KOVRA_PROGRESS* progress);

BRANNIC_API int KovraTest();
BRANNIC_API int KovraCreateJob(HANDLE* job, LPCWSTR name, HWND treeWindow, LPCWSTR source, LPCWSTR destination,
                               DWORD flags, KOVRA_PROGRESS_ROUTINE callback, LPVOID userData);
BRANNIC_API int KovraQueryJob(HANDLE job);
BRANNIC_API int KovraCancelJob(HANDLE job);
BRANNIC_API int KovraGetCompleteResult(HANDLE job);

BRANNIC_API int KovraCopyPath(LPCWSTR source, LPCWSTR destination);
BRANNIC_API int KovraCopyFile(LPCWSTR source, LPCWSTR destination);
BRANNIC_API int KovraUpdateDir(LPCWSTR sourceDirectory, LPCWSTR destinationDirectory);
BRANNIC_API int KovraRemovePath(LPCWSTR path);
BRANNIC_API int KovraRenamePath(LPCWSTR oldPath, LPCWSTR newPath);
BRANNIC_API int KovraIsDirectory(LPCWSTR path);
BRANNIC_API int KovraAreFilesEqual(LPCWSTR pathA, LPCWSTR pathB);
