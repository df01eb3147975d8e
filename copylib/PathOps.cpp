// The single-path operations: synchronous, on the caller's thread, reporting nothing but their result.

#include "copylib/FileSteps.h"
#include "copylib/Job.h"
#include "copylib/Trace.h"
#include "copylib/Walk.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/copy.h"
#include "platform/fs/files.h"

#include <memory>
#include <new>
#include <string>

namespace {

// No exception leaves an export; running out of memory is reported as the Win32 code for it.
template <class F> int guarded(F f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_UNHANDLED_EXCEPTION;
    }
}

bool too_long(LPCWSTR path) {
    return lstrlenW(path) >= KOVRA_PATH_CHARS;
}

// KovraCopyPath's job: the record and what its own callback notices on the way.
struct COPY_PATH_JOB {
    KOVRA_JOB Job;
    bool bPathRefused; // a directory's destination did not fit the path buffer
};

// Puts each directory at the destination root plus its path relative to the source root, joined by exactly one
// backslash whatever trailing backslashes the two roots carry.
int CALLBACK copy_path_callback(HANDLE handle, LPVOID, DWORD event, DWORD, HWND, TVITEMW*, LPWSTR source,
                                LPWSTR destination, KOVRA_PROGRESS*) {
    auto* state = reinterpret_cast<COPY_PATH_JOB*>(handle);
    if (event == KOVRA_COPY_ENTER_DIR) {
        size_t rootLength = static_cast<size_t>(lstrlenW(state->Job.szSourceRoot));
        size_t sourceLength = static_cast<size_t>(lstrlenW(source));
        const WCHAR* rest = source + (rootLength < sourceLength ? rootLength : sourceLength);
        std::u16string joined(destination);
        if (*rest) {
            bool destinationEnds = !joined.empty() && joined.back() == u'\\';
            if (destinationEnds && *rest == u'\\')
                ++rest;
            else if (!destinationEnds && *rest != u'\\')
                joined += u'\\';
            joined += rest;
        }
        if (!copy_path(destination, joined.c_str())) {
            // The directory cannot be named at its destination: nothing is made under a cut name and its
            // contents are left out.
            state->bPathRefused = true;
            destination[0] = 0;
            return KOVRA_PROGRESS_SKIP;
        }
    } else if (event == KOVRA_FILE_COPY_COMPLETE) {
        trace(TRACE_FILE, u"\tKOVRA_FILE_COPY_COMPLETE: copy %s complete.\n", state->Job.szFileSource);
    }
    return KOVRA_PROGRESS_CONTINUE;
}

// Removes a link itself: a link to a file goes with DeleteFileW, a link to a directory with RemoveDirectoryW.
BOOL remove_link(LPCWSTR path) {
    return DeleteFileW(path) || RemoveDirectoryW(path);
}

int remove_path_callback(int type, KOVRA_JOB*, void* data) {
    if (type != WALK_MEET_FILE && type != WALK_LEAVE_DIR)
        return 0;
    auto* walk = static_cast<WALK_RECORD*>(data);
    // A link is removed itself; its target, wherever it is, is neither changed nor entered. The walk has already
    // told links from the entries it lists: they carry the reparse-point bit, or the directory bit on an entry it
    // did not take for a directory.
    const DWORD listed = walk->FindData.dwFileAttributes;
    bool link = type == WALK_MEET_FILE && ((listed & FILE_ATTRIBUTE_REPARSE_POINT) ||
                                           ((listed & FILE_ATTRIBUTE_DIRECTORY) && !walk->bIsDirectory));
    DWORD attributes = link ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(walk->szPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        set_file_attributes(walk->szPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (link)
        remove_link(walk->szPath);
    else if (type == WALK_MEET_FILE)
        DeleteFileW(walk->szPath);
    else
        RemoveDirectoryW(walk->szPath);
    return 0;
}

} // namespace

int KovraCopyPath(LPCWSTR source, LPCWSTR destination) {
    if (!source || !destination)
        return ERROR_INVALID_PARAMETER;
    if (too_long(source) || too_long(destination))
        return ERROR_FILENAME_EXCED_RANGE;
    return guarded([&] {
        // The record lives on the heap rather than on the caller's stack: callers may run on small stacks.
        auto state = std::make_unique<COPY_PATH_JOB>();
        KOVRA_JOB& job = state->Job;
        lstrcpynW(job.szName, u"KovraCopyPath", KOVRA_NAME_CHARS);
        job.hJob = reinterpret_cast<HANDLE>(state.get());
        job.nCalcFirstDir = -1;
        job.nCopyFirstDir = -1;
        job.dwFlags = KOVRA_JOB_COPY;
        job.pfnCallback = copy_path_callback;
        copy_path(job.szSourceRoot, source);
        copy_path(job.szDestRoot, destination);
        if (KovraIsDirectory(source)) {
            job.dwFlags |= KOVRA_JOB_DIRECTORY;
            copy_path(job.szDirSource, source);
            copy_path(job.szDirDest, destination);
        } else {
            job.dwFlags |= KOVRA_JOB_FILE;
            copy_path(job.szFileSource, source);
            copy_path(job.szFileDest, destination);
        }
        DWORD result = run_job(&job);
        if (state->bPathRefused && (result == 0 || result == KOVRA_ERROR_SKIPPED))
            result = ERROR_FILENAME_EXCED_RANGE;
        return static_cast<int>(result);
    });
}

int KovraCopyFile(LPCWSTR source, LPCWSTR destination) {
    if (!source || !destination)
        return ERROR_INVALID_PARAMETER;
    return guarded([&] {
        LONGLONG size = 0;
        DWORD result = copy_precheck(0, source, destination, &size);
        if (result != 0) {
            trace(TRACE_FILE, u"\tKovraCopyFile: ignore to copy file %s with code %d!\n", source, result);
            return static_cast<int>(result);
        }
        constexpr int kAttempts = 5;
        BOOL cancel = FALSE; // nothing sets it
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (CopyFileExW(source, destination, nullptr, nullptr, &cancel, 0)) {
                sync_file_time(source, destination);
                return 0;
            }
            result = GetLastError();
            trace(TRACE_ERROR, u"\tKovraCopyFile: fail to copy %s with code %d!\n", source, result);
            if (result != ERROR_SHARING_VIOLATION)
                return static_cast<int>(result);
            // Another program holds the file; give it a second before the next attempt.
            Sleep(1000);
        }
        trace(TRACE_ERROR, u"\tKovraCopyFile: retry %d times but still fail!", kAttempts);
        return static_cast<int>(result);
    });
}

int KovraUpdateDir(LPCWSTR sourceDirectory, LPCWSTR destinationDirectory) {
    if (!sourceDirectory || !destinationDirectory)
        return 0;
    return guarded([&] {
        DWORD made = build_directory(destinationDirectory);
        if (made != 0 && made != ERROR_ALREADY_EXISTS)
            return 0;
        // "Already exists" may also mean a file of that name: only a directory counts.
        if (!KovraIsDirectory(destinationDirectory))
            return 0;
        copy_dir_times(sourceDirectory, destinationDirectory);
        return 1;
    });
}

int KovraRemovePath(LPCWSTR path) {
    if (!path || !path[0])
        return ERROR_INVALID_PARAMETER;
    return guarded([&] {
        // A link is removed itself and never followed: what it points at lies outside the path given.
        if (is_link(path))
            return remove_link(path) ? 0 : static_cast<int>(GetLastError());
        if (KovraIsDirectory(path)) {
            if (too_long(path))
                return static_cast<int>(ERROR_FILENAME_EXCED_RANGE);
            BOOL cancel = FALSE; // a walk of its own that nothing cancels
            start_dir_walk(path, remove_path_callback, nullptr, &cancel);
            return 0;
        }
        DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            set_file_attributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(path) ? 0 : static_cast<int>(GetLastError());
    });
}

int KovraRenamePath(LPCWSTR oldPath, LPCWSTR newPath) {
    if (!oldPath || !newPath)
        return ERROR_INVALID_PARAMETER;
    return MoveFileW(oldPath, newPath) ? 0 : static_cast<int>(GetLastError());
}

int KovraIsDirectory(LPCWSTR path) {
    if (!path)
        return 0;
    DWORD attributes = GetFileAttributesW(path);
    return (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
}

int KovraAreFilesEqual(LPCWSTR pathA, LPCWSTR pathB) {
    if (!pathA || !pathB)
        return 0;
    return guarded([&] {
        LONGLONG size = 0;
        return are_same_file(pathA, pathB, &size) ? 1 : 0;
    });
}
