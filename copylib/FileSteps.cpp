#include "copylib/FileSteps.h"

#include "copylib/Trace.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/copy.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"

#include <atomic>
#include <string>

namespace {

LONGLONG size_of(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// A last-write time as local calendar time in whole seconds; 0 for a year before 1900 or a failed conversion.
int64_t local_seconds(const FILETIME& time) {
    FILETIME local;
    SYSTEMTIME calendar;
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &calendar))
        return 0;
    if (calendar.wYear < 1900)
        return 0;
    return days_from_civil(calendar.wYear, calendar.wMonth, calendar.wDay) * 86400 + calendar.wHour * 3600 +
           calendar.wMinute * 60 + calendar.wSecond;
}

// What comparing two files found out. `error` is 0 when both were found, else the lookup's last error.
struct Comparison {
    bool same = false;
    bool foundA = false;
    bool foundB = false;
    DWORD error = 0;
    WIN32_FILE_ATTRIBUTE_DATA a{};
    WIN32_FILE_ATTRIBUTE_DATA b{};
};

WIN32_FILE_ATTRIBUTE_DATA data_of(const WIN32_FIND_DATAW& entry) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    data.dwFileAttributes = entry.dwFileAttributes;
    data.ftCreationTime = entry.ftCreationTime;
    data.ftLastAccessTime = entry.ftLastAccessTime;
    data.ftLastWriteTime = entry.ftLastWriteTime;
    data.nFileSizeHigh = entry.nFileSizeHigh;
    data.nFileSizeLow = entry.nFileSizeLow;
    return data;
}

// Looks both paths up by name; the lookups read the same size and times a directory listing of the name gives.
// What the hint already knows is not asked again.
Comparison compare_files(LPCWSTR a, LPCWSTR b, const FILE_HINT* hint = nullptr) {
    Comparison c;
    if (hint && hint->pSource) {
        c.a = data_of(*hint->pSource);
    } else if (!GetFileAttributesExW(a, GetFileExInfoStandard, &c.a)) {
        c.error = GetLastError();
        return c;
    }
    c.foundA = true;
    if (hint && hint->bDestinationAbsent) {
        c.error = ERROR_FILE_NOT_FOUND;
        return c;
    }
    if (!GetFileAttributesExW(b, GetFileExInfoStandard, &c.b)) {
        c.error = GetLastError();
        return c;
    }
    c.foundB = true;
    if (size_of(c.a) != size_of(c.b))
        return c;
    int64_t ta = local_seconds(c.a.ftLastWriteTime);
    int64_t tb = local_seconds(c.b.ftLastWriteTime);
    c.same = (ta > tb ? ta - tb : tb - ta) <= 1;
    return c;
}

LONGLONG source_size(LPCWSTR source) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(source, GetFileExInfoStandard, &data) ? size_of(data) : 0;
}

// The source's attributes: the walk's, when it has just read them, else looked up (0 when that fails).
DWORD source_attributes(LPCWSTR source, const FILE_HINT* hint) {
    if (hint && hint->pSource)
        return hint->pSource->dwFileAttributes;
    const DWORD attributes = GetFileAttributesW(source);
    return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

// Whether flag 0x100 finds the destination taken by something that must not be overwritten.
bool destination_occupied(LPCWSTR destination) {
    DWORD attributes = GetFileAttributesW(destination);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void trace_same(LPCWSTR source, LPCWSTR destination) {
    trace(TRACE_FILE, u"CALC: File contents for Source: %s and Dest: %s are the same.\n", source, destination);
}

} // namespace

BOOL set_file_attributes(LPCWSTR path, DWORD attributes) {
    return SetFileAttributesW(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

bool are_same_file(LPCWSTR a, LPCWSTR b, LONGLONG* size) {
    Comparison c = compare_files(a, b);
    if (size)
        *size = c.foundA ? size_of(c.a) : 0;
    return c.same;
}

bool drive_exists(LPCWSTR path) {
    if (!path)
        return false;
    const WCHAR* p = path;
    if (p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\')
        p += 4;
    if (p[0] == u'\\' && p[1] == u'\\')
        return true;
    if (!p[0])
        return false;
    const WCHAR root[4] = {p[0], u':', u'\\', 0};
    return GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR;
}

bool skip_directory(DWORD flags, LPCWSTR directory) {
    // A volume root often carries the hidden bit but is never left out.
    if (GetVolumeInformationW(directory, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
        return false;
    DWORD attributes = GetFileAttributesW(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    return (flags & KOVRA_JOB_SKIP_HIDDEN) && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

DWORD build_directory(LPCWSTR path) {
    if (!path || !wcschr(path, u'\\')) {
        trace(TRACE_JOB, u"build_directory: (%s) is root directory.\n", path);
        return 0;
    }
    std::u16string directory(path);
    if (directory.back() == u'\\')
        directory.pop_back();
    if (CreateDirectoryW(directory.c_str(), nullptr))
        return 0;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
        return error;
    size_t slash = directory.rfind(u'\\');
    if (slash == std::u16string::npos)
        return error;
    std::u16string parent = directory.substr(0, slash);
    build_directory(parent.c_str());
    if (CreateDirectoryW(directory.c_str(), nullptr))
        return 0;
    return GetLastError();
}

bool sync_file_time(LPCWSTR source, LPCWSTR destination) {
    // One lookup gives the source's attributes and all three times, so the source is not opened.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(source, GetFileExInfoStandard, &data)) {
        trace(TRACE_ERROR, u"sync_file_time: open source file %s error with code %d!\n", source, GetLastError());
        return false;
    }
    return sync_file_time(source, destination, data);
}

bool sync_file_time(LPCWSTR source, LPCWSTR destination, const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return sync_file_time(source, destination, data, GetFileAttributesW(destination));
}

bool sync_file_time(LPCWSTR source, LPCWSTR destination, const WIN32_FILE_ATTRIBUTE_DATA& data,
                    DWORD destinationAttributes) {
    // The source is marked as backed up.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE)
        set_file_attributes(source, data.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE);

    bool readOnlyCleared = false;
    if (destinationAttributes != INVALID_FILE_ATTRIBUTES && (destinationAttributes & FILE_ATTRIBUTE_READONLY)) {
        trace(TRACE_WARNING, u"sync_file_time: file %s is read only, take it carefully.\n", destination);
        readOnlyCleared = set_file_attributes(destination, destinationAttributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
    }
    bool copied = false;
    {
        platform::OwnedHandle file(CreateFileW(destination, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.valid()) {
            trace(TRACE_ERROR, u"sync_file_time: open destination file %s error with code %d!\n", destination,
                  GetLastError());
        } else if (!SetFileTime(file.get(), &data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime)) {
            trace(TRACE_ERROR, u"sync_file_time: SetFileTime (%s) error with code %d!\n", destination, GetLastError());
        } else {
            copied = true;
        }
    }
    if (readOnlyCleared)
        set_file_attributes(destination, destinationAttributes);
    return copied;
}

void copy_dir_times(LPCWSTR sourceDirectory, LPCWSTR destinationDirectory) {
    DWORD attributes = GetFileAttributesW(destinationDirectory);
    SetFileAttributesW(destinationDirectory, FILE_ATTRIBUTE_NORMAL);
    sync_file_time(sourceDirectory, destinationDirectory);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(destinationDirectory, attributes);
}

bool is_link(LPCWSTR path) {
    // A symbolic link reads as a reparse point; the question leaves the caller's last error as it was.
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path);
    SetLastError(error);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

DWORD calc_precheck(DWORD flags, LPCWSTR source, LPCWSTR destination, LONGLONG* size, const FILE_HINT* hint) {
    *size = -1;
    if ((flags & KOVRA_JOB_SKIP_HIDDEN) && (source_attributes(source, hint) & FILE_ATTRIBUTE_HIDDEN))
        return KOVRA_ERROR_SKIPPED;
    if ((flags & KOVRA_JOB_NO_OVERWRITE) && destination_occupied(destination))
        return KOVRA_ERROR_SKIPPED;
    Comparison c = compare_files(source, destination, hint);
    if (c.foundA)
        *size = size_of(c.a);
    if (c.same) {
        trace_same(source, destination);
        return KOVRA_ERROR_SKIPPED;
    }
    // Both found (and different): nothing stands in the way.
    if (c.error == 0 || c.error == ERROR_NO_MORE_FILES)
        return 0;
    // A missing file is no error as long as the drives are there: the destination is simply not made yet, and a
    // missing source is reported by the measurement.
    if (c.error == ERROR_FILE_NOT_FOUND || c.error == ERROR_PATH_NOT_FOUND) {
        if (hint && hint->bDestinationAbsent)
            return 0;
        return (drive_exists(destination) && drive_exists(source)) ? 0 : c.error;
    }
    return c.error;
}

DWORD copy_precheck(DWORD flags, LPCWSTR source, LPCWSTR destination, LONGLONG* size, const FILE_HINT* hint) {
    *size = -1;
    if ((flags & KOVRA_JOB_SKIP_HIDDEN) && (source_attributes(source, hint) & FILE_ATTRIBUTE_HIDDEN)) {
        *size = source_size(source);
        return KOVRA_ERROR_SKIPPED;
    }
    if ((flags & KOVRA_JOB_NO_OVERWRITE) && destination_occupied(destination)) {
        *size = source_size(source);
        return KOVRA_ERROR_SKIPPED;
    }
    DWORD destinationAttributes = INVALID_FILE_ATTRIBUTES;
    if (!(flags & KOVRA_JOB_ALWAYS_COPY)) {
        Comparison c = compare_files(source, destination, hint);
        if (c.same) {
            *size = size_of(c.a);
            trace_same(source, destination);
            return KOVRA_ERROR_SKIPPED;
        }
        if (c.foundB)
            destinationAttributes = c.b.dwFileAttributes;
    } else {
        destinationAttributes = GetFileAttributesW(destination);
    }
    // A read-only destination would refuse the copy; it is going to be replaced, so its read-only bit goes.
    if (destinationAttributes != INVALID_FILE_ATTRIBUTES && (destinationAttributes & FILE_ATTRIBUTE_READONLY))
        set_file_attributes(destination, destinationAttributes & ~FILE_ATTRIBUTE_READONLY);

    // The walk has made (or found) the folder of a file it hands over; others get theirs made here.
    const WCHAR* slash = wcsrchr(destination, u'\\');
    if (slash && !(hint && hint->bDestinationFolderReady)) {
        std::u16string parent(destination, static_cast<size_t>(slash - destination));
        build_directory(parent.c_str());
    }
    return 0;
}

int calc_file(KOVRA_JOB* job) {
    return calc_file(job, nullptr);
}

int calc_file(KOVRA_JOB* job, const FILE_HINT* hint) {
    int answer = notify(job, KOVRA_CALC_FILE_BEGIN, 0, job->szFileSource, job->szFileDest);
    if (answer == KOVRA_PROGRESS_SKIP || answer == KOVRA_PROGRESS_ABORT)
        return answer;
    LONGLONG size = -1;
    DWORD code = calc_precheck(job->dwFlags, job->szFileSource, job->szFileDest, &size, hint);
    if (code != 0 && code != KOVRA_ERROR_SKIPPED)
        return notify(job, KOVRA_CALC_FILE_END, code, job->szFileSource, nullptr);
    if (size < 0) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(job->szFileSource, GetFileExInfoStandard, &data))
            return notify(job, KOVRA_CALC_FILE_END, GetLastError(), job->szFileSource, nullptr);
        size = size_of(data);
    }
    ++job->Progress.dwTotalFiles;
    job->Progress.llTotalFileSize += size;
    if (code != KOVRA_ERROR_SKIPPED) {
        ++job->Progress.dwEstimatedFiles;
        job->Progress.llEstimatedSize += size;
    }
    return notify(job, KOVRA_CALC_FILE_END, 0, job->szFileSource, nullptr);
}

int copy_file(KOVRA_JOB* job) {
    return copy_file(job, nullptr);
}

int copy_file(KOVRA_JOB* job, const FILE_HINT* hint) {
    int first = notify(job, KOVRA_FILE_COPY_BEGIN, 0, job->szFileSource, job->szFileDest);
    if (first == KOVRA_PROGRESS_SKIP || first == KOVRA_PROGRESS_ABORT)
        return first;
    LONGLONG size = -1;
    if (copy_precheck(job->dwFlags, job->szFileSource, job->szFileDest, &size, hint) == KOVRA_ERROR_SKIPPED) {
        ++job->Progress.dwSkippedFiles;
        job->Progress.llTotalBytesTransferred += size > 0 ? size : 0;
        return notify(job, KOVRA_FILE_COPY_COMPLETE, KOVRA_ERROR_SKIPPED, job->szFileSource, job->szFileDest);
    }
    if (first != KOVRA_PROGRESS_CONTINUE)
        return first;
    bool failIfExists = (job->dwFlags & KOVRA_JOB_FAIL_IF_EXISTS) != 0;
    // For a file a walk met, the copy itself takes the source's times and marks the source as backed up, which
    // saves opening both files again afterwards.
    platform::fs::CopyExtras extras;
    if (hint && hint->pSource) {
        extras.sourceTimes = true;
        extras.clearSourceArchive = true;
        // A folder this walk has just made holds no file of this name.
        extras.destinationMissing = hint->bDestinationAbsent && hint->bDestinationFolderReady;
        if (extras.destinationMissing)
            extras.unnamedFiles = job->pUnnamedFiles;
    }
    for (;;) {
        BOOL copied = platform::fs::CopyFileWithExtras(job->szFileSource, job->szFileDest, copy_progress_routine, job,
                                                       &job->bCancel, failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0,
                                                       extras);
        DWORD code = 0;
        if (copied) {
            if (!extras.clearSourceArchive)
                sync_file_time(job->szFileSource, job->szFileDest);
            job->Progress.llTotalBytesTransferred += job->Progress.llSingleFileSize;
            ++job->Progress.dwTotalFilesCopied;
        } else {
            code = GetLastError();
            ++job->Progress.dwFailedFiles;
            trace(TRACE_FILE, u"copy_file: copy %s error with code %d!\n", job->szFileSource, code);
        }
        int answer = notify(job, KOVRA_FILE_COPY_COMPLETE, code, job->szFileSource, job->szFileDest);
        if (copied)
            return answer;
        if (answer == KOVRA_PROGRESS_RETRY) {
            failIfExists = false;
            extras.destinationMissing = false;
            continue;
        }
        ++job->Progress.dwSkippedFiles;
        return answer;
    }
}

DWORD copy_progress_routine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred, LARGE_INTEGER,
                            LARGE_INTEGER, DWORD, DWORD callbackReason, HANDLE sourceFile, HANDLE destinationFile,
                            LPVOID data) {
    if (callbackReason != CALLBACK_CHUNK_FINISHED && callbackReason != CALLBACK_STREAM_SWITCH)
        return PROGRESS_CONTINUE;
    auto* job = static_cast<KOVRA_JOB*>(data);
    job->hCopySource = sourceFile;
    job->hCopyDest = destinationFile;
    job->Progress.llSingleBytesTransferred = totalBytesTransferred.QuadPart;
    if (callbackReason == CALLBACK_STREAM_SWITCH)
        job->Progress.llSingleFileSize = totalFileSize.QuadPart;
    // While event 37 is answered the running total includes the bytes of this file copied so far.
    job->Progress.llTotalBytesTransferred += totalBytesTransferred.QuadPart;
    int answer = notify(job, KOVRA_FILE_COPY_PROGRESS, 0, job->szFileSource, job->szFileDest);
    if (answer == KOVRA_PROGRESS_ABORT) {
        std::atomic_ref<BOOL>(job->bCancel).store(TRUE, std::memory_order_release);
        return PROGRESS_CANCEL;
    }
    job->Progress.llTotalBytesTransferred -= totalBytesTransferred.QuadPart;
    return PROGRESS_CONTINUE;
}
