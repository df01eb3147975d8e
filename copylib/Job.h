// The job record, its creation, the worker that runs it and the notification step every event goes through.
#pragma once

#include "copylib/Brannic.h"

class CKeptListings;
class CListingsAhead;
namespace platform::fs {
class UnnamedFileSupply;
}

// Path buffers hold at most this many characters and a terminator.
constexpr int KOVRA_PATH_CHARS = 2048;
constexpr int KOVRA_NAME_CHARS = 64;

// One copy job. KovraCreateJob allocates it with the C heap, zero-filled, and the job's worker frees it after
// event 1; KovraCopyPath keeps one on its caller's stack.
struct KOVRA_JOB {
    WCHAR szName[KOVRA_NAME_CHARS];
    WCHAR szSourceRoot[KOVRA_PATH_CHARS]; // for tree jobs also the node path exchanged with the callback
    WCHAR szDestRoot[KOVRA_PATH_CHARS];
    HWND hTreeWnd;                        // stored only for tree jobs
    TVITEMW* pTreeItem;                   // the tree walk's item buffer while a tree walk runs, else null
    WCHAR szDirSource[KOVRA_PATH_CHARS];  // directory jobs: the source; during walks the directory entered
    WCHAR szDirDest[KOVRA_PATH_CHARS];    // ... and its destination
    WCHAR szFileSource[KOVRA_PATH_CHARS]; // single-file jobs: the source; during walks the file in hand
    WCHAR szFileDest[KOVRA_PATH_CHARS];   // ... and its destination
    DWORD dwFlags;
    DWORD dwLastEvent;
    DWORD dwResult; // code of the last notification
    HANDLE hJob;    // the handle callers hold (KovraCopyPath: the address of its own state)
    HANDLE hCopySource;
    HANDLE hCopyDest;
    HANDLE hThread;
    DWORD dwThreadId;
    // Set by KovraCancelJob from the caller's thread and read by the worker and by CopyFileExW, which takes its
    // address. It stays a BOOL so that CopyFileExW can watch it; every access goes through std::atomic_ref (see
    // job_cancel and job_is_cancelled), the write with release order and the reads relaxed.
    BOOL bCancel;
    int nCalcFirstDir; // -1 at creation; whole directory nodes of tree jobs
    int nCopyFirstDir;
    KOVRA_PROGRESS_ROUTINE pfnCallback; // may be null: every notification then answers 0
    LPVOID pUserData;
    KOVRA_PROGRESS Progress;
    // The error of the first file whose copy failed for good (not copied again), 0 while none did. A job whose
    // files failed never ends reporting success because later steps went well.
    DWORD dwFirstFailure;
    // While a job runs both passes: the calculation pass's folder listings, kept for the copy pass; else null.
    CKeptListings* pKeptListings;
    // While the copy pass walks from kept listings: the files made ahead in the destination folder being filled;
    // else null.
    platform::fs::UnnamedFileSupply* pUnnamedFiles;
    // While the calculation pass walks folders: their listings read ahead by helper threads; else null.
    CListingsAhead* pListingsAhead;
};

// Stores the event and the code and asks the callback; without a callback the answer is 0.
int notify(KOVRA_JOB* job, DWORD event, DWORD code, LPWSTR source, LPWSTR destination);

// Runs the job's events and passes on the calling thread: event 0, the job kind, event 1. Returns the result,
// which event 1 also carries: ERROR_REQUEST_ABORTED for a cancelled job, the first failed file's error when a file
// failed and the last step went well, else the code of the last step.
DWORD run_job(KOVRA_JOB* job);

// The cancel flag, shared between the caller's thread, the worker and the file layer's copy loop.
void job_cancel(KOVRA_JOB* job);
bool job_is_cancelled(const KOVRA_JOB* job);
bool flag_is_set(const BOOL* flag);

// Copies `src` into a path buffer. Returns false, leaving the buffer untouched, when it does not fit: a path is
// never cut short into the name of another one.
bool copy_path(WCHAR* buffer, const WCHAR* src);
