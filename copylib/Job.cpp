#include "copylib/Job.h"

#include "copylib/KeptListings.h"
#include "copylib/ListingsAhead.h"

#include "copylib/FileSteps.h"
#include "copylib/Trace.h"
#include "copylib/TreeWalk.h"
#include "copylib/Walk.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/fs/wholefile.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

// The cancel flag is written by KovraCancelJob on the caller's thread while the worker, and CopyFileExW inside
// it, read it. The write is a release store so that it is seen promptly; the reads only need to see the flag
// eventually and carry no other data with them, so they are relaxed loads. The file layer polls the same
// BOOL through the pointer it was given.
void job_cancel(KOVRA_JOB* job) {
    std::atomic_ref<BOOL>(job->bCancel).store(TRUE, std::memory_order_release);
    std::atomic_ref<DWORD>(job->Progress.dwCancel).store(1, std::memory_order_release);
}

bool flag_is_set(const BOOL* flag) {
    return std::atomic_ref<BOOL>(*const_cast<BOOL*>(flag)).load(std::memory_order_relaxed) != FALSE;
}

bool job_is_cancelled(const KOVRA_JOB* job) {
    return flag_is_set(&job->bCancel);
}

bool copy_path(WCHAR* buffer, const WCHAR* src) {
    size_t length = static_cast<size_t>(lstrlenW(src));
    if (length >= static_cast<size_t>(KOVRA_PATH_CHARS))
        return false;
    std::memcpy(buffer, src, length * sizeof(WCHAR));
    buffer[length] = 0;
    return true;
}

int notify(KOVRA_JOB* job, DWORD event, DWORD code, LPWSTR source, LPWSTR destination) {
    // The result is read by KovraGetCompleteResult from any thread, so it is stored atomically.
    std::atomic_ref<DWORD>(job->dwLastEvent).store(event, std::memory_order_relaxed);
    std::atomic_ref<DWORD>(job->dwResult).store(code, std::memory_order_relaxed);
    const int answer = job->pfnCallback ? job->pfnCallback(job->hJob, job->pUserData, event, code, job->hTreeWnd,
                                                           job->pTreeItem, source, destination, &job->Progress)
                                        : KOVRA_PROGRESS_CONTINUE;
    if (event == KOVRA_FILE_COPY_COMPLETE && code != 0 && code != KOVRA_ERROR_SKIPPED &&
        answer != KOVRA_PROGRESS_RETRY && job->dwFirstFailure == 0)
        job->dwFirstFailure = code;
    return answer;
}

namespace {

int calc_directory_walk(KOVRA_JOB* job) {
    return start_dir_walk(job->szSourceRoot, calc_dir_callback, job, &job->bCancel);
}

int copy_directory_walk(KOVRA_JOB* job) {
    return start_dir_walk(job->szSourceRoot, copy_dir_callback, job, &job->bCancel);
}

// The frame every job kind runs: the calculation pass, then the copy pass, with the cancel flag read before
// each of them.
void run_passes(KOVRA_JOB* job, int (*calcWalk)(KOVRA_JOB*), int (*copyWalk)(KOVRA_JOB*)) {
    if (job_is_cancelled(job))
        return;
    // A job that runs both passes keeps the first pass's listings for the second (only the walks use them).
    std::unique_ptr<CKeptListings> kept;
    if ((job->dwFlags & KOVRA_JOB_CALC) && (job->dwFlags & KOVRA_JOB_COPY))
        kept.reset(new (std::nothrow) CKeptListings());
    job->pKeptListings = kept.get();
    std::unique_ptr<platform::fs::UnnamedFileSupply> unnamed;
    struct Forget {
        KOVRA_JOB* job;
        ~Forget() {
            job->pKeptListings = nullptr;
            job->pUnnamedFiles = nullptr;
        }
    } forget{job};
    if (job->dwFlags & KOVRA_JOB_CALC) {
        notify(job, KOVRA_CALC_BEGIN, job->dwResult, nullptr, nullptr);
        int answer = 0;
        {
            std::unique_ptr<CListingsAhead> ahead;
            if (const unsigned helpers = CListingsAhead::HelpersWorthStarting())
                ahead.reset(new (std::nothrow) CListingsAhead(helpers));
            job->pListingsAhead = ahead.get();
            struct Forget {
                KOVRA_JOB* job;
                ~Forget() { job->pListingsAhead = nullptr; }
            } forget{job};
            answer = calcWalk(job);
        }
        notify(job, KOVRA_CALC_END, job->dwResult, nullptr, nullptr);
        if (answer == KOVRA_PROGRESS_ABORT)
            return;
    }
    if (kept) {
        kept->StartReplay();
        // The copy pass fills the folders it makes from kept listings, so it knows how many files each gets.
        if (platform::fs::UnnamedFileSupply::Worthwhile()) {
            unnamed.reset(new (std::nothrow) platform::fs::UnnamedFileSupply());
            job->pUnnamedFiles = unnamed.get();
        }
    }
    if (!job_is_cancelled(job) && (job->dwFlags & KOVRA_JOB_COPY)) {
        notify(job, KOVRA_COPY_BEGIN, job->dwResult, nullptr, nullptr);
        copyWalk(job);
        notify(job, KOVRA_COPY_END, job->dwResult, nullptr, nullptr);
    }
}

void run_job_kind(KOVRA_JOB* job) {
    if (job->dwFlags & KOVRA_JOB_TREE) {
        run_passes(job, calc_tree_walk, copy_tree_walk);
        return;
    }
    if (job->dwFlags & KOVRA_JOB_DIRECTORY) {
        run_passes(job, calc_directory_walk, copy_directory_walk);
        return;
    }
    if (job->dwFlags & KOVRA_JOB_FILE)
        run_passes(job, calc_file, copy_file);
}

// The jobs that callers can reach by handle. A handle is a number given out once per process, not the record's
// address, so a handle kept past its job's end neither reaches the freed record nor names a later job that the
// allocator placed at the same address. The worker takes its job out of the table before it frees the record,
// and the calls on a handle act on the record with the table's lock held.
class LiveJobs {
public:
    HANDLE Add(KOVRA_JOB* job) {
        std::lock_guard lock(m_lock);
        HANDLE handle = reinterpret_cast<HANDLE>(++m_last);
        m_jobs.emplace(handle, job);
        return handle;
    }
    void Remove(HANDLE handle) {
        std::lock_guard lock(m_lock);
        m_jobs.erase(handle);
    }
    // Runs `action` on the job of `handle` while the job cannot go away; false when no job has that handle.
    template <class Action> bool With(HANDLE handle, Action action) {
        std::lock_guard lock(m_lock);
        auto found = m_jobs.find(handle);
        if (found == m_jobs.end())
            return false;
        action(found->second);
        return true;
    }

private:
    std::mutex m_lock;
    uintptr_t m_last = 0;
    std::unordered_map<HANDLE, KOVRA_JOB*> m_jobs;
};

// Never destroyed: a worker may still be ending while the program exits.
LiveJobs& live_jobs() {
    static auto* jobs = new LiveJobs;
    return *jobs;
}

unsigned job_thread(void* argument) {
    auto* job = static_cast<KOVRA_JOB*>(argument);
    DWORD result = run_job(job);
    // KovraCreateJob stores the thread handle before the thread runs, so a record made by it always has one
    // here and is freed exactly once, by its own worker, once its handle names nothing.
    if (job->hThread) {
        live_jobs().Remove(job->hJob);
        CloseHandle(job->hThread);
        std::free(job);
    }
    return result;
}

} // namespace

DWORD run_job(KOVRA_JOB* job) {
    if (notify(job, KOVRA_JOB_BEGIN, job->dwResult, nullptr, nullptr) == KOVRA_PROGRESS_CONTINUE) {
        // No exception may leave the worker: event 1 must still reach the caller, which waits for it.
        try {
            run_job_kind(job);
        } catch (const std::bad_alloc&) {
            std::atomic_ref<DWORD>(job->dwResult).store(ERROR_NOT_ENOUGH_MEMORY, std::memory_order_relaxed);
        } catch (...) {
            std::atomic_ref<DWORD>(job->dwResult).store(ERROR_UNHANDLED_EXCEPTION, std::memory_order_relaxed);
        }
    }
    // The end tells how the whole job went, not only its last step.
    DWORD result = job->dwResult;
    if (job_is_cancelled(job))
        result = ERROR_REQUEST_ABORTED;
    else if (job->dwFirstFailure != 0 && (result == 0 || result == KOVRA_ERROR_SKIPPED))
        result = job->dwFirstFailure;
    notify(job, KOVRA_JOB_END, result, nullptr, nullptr);
    return result;
}

namespace {

struct FreeDeleter {
    void operator()(KOVRA_JOB* job) const { std::free(job); }
};

} // namespace

int KovraTest() {
    return 0;
}

int KovraCreateJob(HANDLE* jobOut, LPCWSTR name, HWND treeWindow, LPCWSTR source, LPCWSTR destination, DWORD flags,
                   KOVRA_PROGRESS_ROUTINE callback, LPVOID userData) {
    if (!jobOut)
        return ERROR_INVALID_PARAMETER;
    // A path that does not fit the record's buffers is refused rather than cut into the name of another path.
    if ((source && lstrlenW(source) >= KOVRA_PATH_CHARS) ||
        (destination && lstrlenW(destination) >= KOVRA_PATH_CHARS)) {
        trace(TRACE_ERROR, u"KovraCreateJob: path too long!\n");
        *jobOut = nullptr;
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::unique_ptr<KOVRA_JOB, FreeDeleter> job(static_cast<KOVRA_JOB*>(std::calloc(1, sizeof(KOVRA_JOB))));
    if (!job) {
        trace(TRACE_ERROR, u"KovraCreateJob: fail to allocate memory!\n");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    HANDLE handle = live_jobs().Add(job.get());
    *jobOut = handle;
    job->hJob = handle;
    job->nCalcFirstDir = -1;
    job->nCopyFirstDir = -1;
    if (name && name[0])
        lstrcpynW(job->szName, name, KOVRA_NAME_CHARS);
    if (flags & KOVRA_JOB_TREE)
        job->hTreeWnd = treeWindow;
    if (source && source[0]) {
        copy_path(job->szSourceRoot, source);
        copy_path((flags & KOVRA_JOB_DIRECTORY) ? job->szDirSource : job->szFileSource, source);
    }
    if (destination && destination[0]) {
        copy_path(job->szDestRoot, destination);
        copy_path((flags & KOVRA_JOB_DIRECTORY) ? job->szDirDest : job->szFileDest, destination);
    }
    job->dwFlags = flags;
    job->pfnCallback = callback;
    job->pUserData = userData;
    trace(TRACE_JOB, u"KovraCreateJob: create job %s with flags 0x%x.\n", job->szName, flags);

    // The worker starts suspended and runs only once its handle is in the record: it frees the record itself at
    // its end and must find the handle there to do so.
    unsigned threadId = 0;
    uintptr_t thread = _beginthreadex(nullptr, 0, job_thread, job.get(), CREATE_SUSPENDED, &threadId);
    if (!thread) {
        DWORD error = GetLastError();
        trace(TRACE_ERROR, u"KovraCreateJob: fail to create worker thread!\n");
        live_jobs().Remove(handle);
        *jobOut = nullptr;
        return error ? static_cast<int>(error) : static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    }
    HANDLE threadHandle = reinterpret_cast<HANDLE>(thread);
    job->hThread = threadHandle;
    job->dwThreadId = threadId;
    job.release(); // owned by the worker from here on
    ResumeThread(threadHandle);
    return 0;
}

// A null handle and the handle of a job that has ended are refused alike.
int KovraQueryJob(HANDLE handle) {
    if (!handle || !live_jobs().With(handle, [](KOVRA_JOB*) {})) {
        trace(TRACE_ERROR, u"KovraQueryJob: can't associate with the handle!\n");
        return ERROR_INVALID_HANDLE;
    }
    return 0;
}

int KovraCancelJob(HANDLE handle) {
    if (!handle || !live_jobs().With(handle, job_cancel)) {
        trace(TRACE_ERROR, u"KovraCancelJob: can't associate with the handle!\n");
        return ERROR_INVALID_HANDLE;
    }
    return 0;
}

int KovraGetCompleteResult(HANDLE handle) {
    DWORD result = 0;
    auto read = [&](KOVRA_JOB* job) { result = std::atomic_ref<DWORD>(job->dwResult).load(std::memory_order_relaxed); };
    if (!handle || !live_jobs().With(handle, read)) {
        trace(TRACE_ERROR, u"KovraGetCompleteResult: can't associate with the handle!\n");
        return ERROR_INVALID_HANDLE;
    }
    return static_cast<int>(result);
}
