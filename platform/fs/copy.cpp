#include "platform/fs/copy.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/attributes.h"
#include "platform/fs/fileobject.h"
#include "platform/fs/files.h"
#include "platform/fs/hostfs.h"
#include "platform/fs/sharelocks.h"
#include "platform/fs/wholefile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::fs {

using namespace detail;

namespace {

// Big enough that the per-chunk system call and progress report cost nothing next to the data, small enough
// that a progress bar moves and a cancel is seen within a few milliseconds.
constexpr size_t kChunkSize = 4 * 1024 * 1024;

// From this size on, a copy's room is reserved in one step before the data moves (see DoCopy).
constexpr uint64_t kReserveFrom = 1024 * 1024;

enum class Mover { CopyRange, SendFile, ReadWrite };

// Moves up to `count` bytes from `in` at `inOffset` to `out` at `outOffset` with the cheapest way that works
// between the two file systems. Returns bytes moved (0 at the end of the source) or -1 with errno.
ssize_t MoveChunk(int in, off_t& inOffset, int out, off_t& outOffset, size_t count, Mover& mover,
                  std::vector<char>& buffer) {
    while (true) {
        if (mover == Mover::CopyRange) {
            ssize_t n = copy_file_range(in, &inOffset, out, &outOffset, count, 0);
            if (n >= 0 || errno == EINTR) {
                if (n >= 0)
                    return n;
                continue;
            }
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                return -1;
            mover = Mover::SendFile;
            continue;
        }
        if (mover == Mover::SendFile) {
            if (lseek(out, outOffset, SEEK_SET) < 0)
                return -1;
            ssize_t n = sendfile(out, in, &inOffset, count);
            if (n >= 0) {
                outOffset += n;
                return n;
            }
            if (errno == EINTR)
                continue;
            if (errno != EINVAL && errno != ENOSYS)
                return -1;
            mover = Mover::ReadWrite;
            continue;
        }
        if (buffer.empty())
            buffer.resize(1024 * 1024);
        ssize_t n = pread(in, buffer.data(), std::min(count, buffer.size()), inOffset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n;
        ssize_t written = 0;
        while (written < n) {
            ssize_t w = pwrite(out, buffer.data() + written, static_cast<size_t>(n - written), outOffset + written);
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return -1;
            written += w;
        }
        inOffset += n;
        outOffset += n;
        return n;
    }
}

LARGE_INTEGER Large(uint64_t v) {
    LARGE_INTEGER l;
    l.QuadPart = static_cast<LONGLONG>(v);
    return l;
}

bool Cancelled(LPBOOL cancel) {
    return cancel && std::atomic_ref<BOOL>(*cancel).load(std::memory_order_relaxed);
}

bool IsOmitted(const FILETIME* t) {
    return !t || (t->dwLowDateTime == 0 && t->dwHighDateTime == 0) ||
           (t->dwLowDateTime == 0xFFFFFFFFu && t->dwHighDateTime == 0xFFFFFFFFu);
}

int64_t UnixNsOf(const FILETIME& t) {
    return UnixNsFromTicks(platform::clock::FromFileTime(t));
}

std::string_view BaseNameOf(const std::string& hostPath) {
    const auto slash = hostPath.find_last_of('/');
    return slash == std::string::npos ? std::string_view(hostPath) : std::string_view(hostPath).substr(slash + 1);
}

DWORD DoCopy(LPCWSTR existing, LPCWSTR newName, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
             DWORD copyFlags, const CopyExtras& extras) {
    if (!existing || !newName)
        return ERROR_INVALID_PARAMETER;
    // The source is opened first and described from its descriptor; its share mode is taken only after the
    // destination's checks, whose errors come first. A source that opens under its name as written is found
    // without looking it up first.
    constexpr int kSourceFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    std::optional<ResolvedPath> from;
    int sfd = -1;
    if (auto exact = ExactHostPath(existing)) {
        sfd = open(exact->c_str(), kSourceFlags);
        if (sfd >= 0) {
            from.emplace();
            from->host.path = std::move(*exact);
        }
    }
    if (!from) {
        from = Resolve(existing);
        if (!from)
            return GetLastError();
    }
    std::optional<ResolvedPath> to;
    if (extras.destinationMissing) {
        if (auto exact = ExactHostPath(newName)) {
            to.emplace();
            to->host.path = std::move(*exact);
            to->knownMissing = true;
        }
    }
    if (!to)
        to = Resolve(newName);
    if (!to || from->host.kind != PathKind::File || to->host.kind != PathKind::File) {
        if (sfd >= 0)
            close(sfd);
        return !to ? GetLastError() : ERROR_INVALID_NAME;
    }
    const std::string& sourcePath = from->host.path;
    const std::string& targetPath = to->host.path;

    if (sfd < 0)
        sfd = open(sourcePath.c_str(), kSourceFlags);
    const int openError = sfd < 0 ? errno : 0;
    HostStat src;
    if (sfd >= 0) {
        if (!StatDescriptor(sfd, src)) {
            int err = errno;
            close(sfd);
            return platform::Win32ErrorFromErrno(err);
        }
    } else if (openError == ENOENT || openError == ENOTDIR || openError == ELOOP ||
               !StatPath(AT_FDCWD, sourcePath.c_str(), src) || src.dangling) {
        return ErrorForPath(openError == ELOOP ? ENOENT : openError, sourcePath);
    }
    auto source = sfd >= 0
                      ? std::make_shared<FileObject>(sfd, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, false, sourcePath)
                      : nullptr;
    if (src.IsDirectory())
        return ERROR_ACCESS_DENIED;

    HostStat dst;
    bool targetExists = false;
    if (!to->knownMissing) {
        targetExists = StatPath(AT_FDCWD, targetPath.c_str(), dst) && !dst.dangling;
        if (!targetExists && errno != ENOENT && !dst.dangling)
            return ErrorForPath(errno, targetPath);
    }
    if (targetExists) {
        if (copyFlags & COPY_FILE_FAIL_IF_EXISTS)
            return ERROR_FILE_EXISTS;
        if (dst.dev == src.dev && dst.ino == src.ino)
            return ERROR_SHARING_VIOLATION; // a file cannot be copied onto itself
        if (dst.IsDirectory() || !(dst.mode & S_IWUSR))
            return ERROR_ACCESS_DENIED;
    }
    // The destination is replaced as a whole; nobody may have it open (as a writer of it would need).
    ShareRequest replace;
    replace.write = replace.del = true;
    if (targetExists) {
        DWORD e = WithShareCheck(targetPath, replace, [] { return static_cast<DWORD>(ERROR_SUCCESS); });
        if (e != ERROR_SUCCESS)
            return e;
    }

    if (!source)
        return ErrorForPath(openError, sourcePath);
    if (DWORD e = AcquireShare(source->Descriptor(), ShareRequest::From(GENERIC_READ, FILE_SHARE_READ));
        e != ERROR_SUCCESS)
        return e;
    platform::OwnedHandle sourceHandle(platform::InsertHandle(source));
    const auto sourceRecord = ReadStored(FileRef{source->Descriptor(), nullptr}, src);

    // The copy is built as a file of its own that takes the destination's name only once it is complete, so a
    // failed, cancelled or killed copy leaves the old destination (or none) and nothing else.
    const mode_t wantedMode = src.mode & 0777;
    WholeFile out;
    if (DWORD e = out.Begin(targetPath, {}, to->knownMissing, to->knownMissing ? extras.unnamedFiles : nullptr);
        e != ERROR_SUCCESS)
        return e;
    const int tfd = out.Descriptor();
    // The destination handle that the progress routine sees owns the content's descriptor (and may outlive the
    // copy if the routine duplicated it); the writer goes on using it until the commit.
    auto target = std::make_shared<FileObject>(tfd, GENERIC_READ | GENERIC_WRITE, 0, false, targetPath);
    out.GiveUpDescriptor();
    platform::OwnedHandle targetHandle(platform::InsertHandle(target));

    const uint64_t total = src.size;
    bool quiet = progress == nullptr;
    auto report = [&](DWORD reason, uint64_t done) -> DWORD {
        if (quiet)
            return ERROR_SUCCESS;
        const uint64_t size = done > total ? done : total;
        DWORD answer = progress(Large(size), Large(done), Large(size), Large(done), 1, reason, sourceHandle.get(),
                                targetHandle.get(), data);
        if (answer == PROGRESS_QUIET)
            quiet = true;
        if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP)
            return ERROR_REQUEST_ABORTED;
        return ERROR_SUCCESS;
    };

    if (Cancelled(cancel))
        return ERROR_REQUEST_ABORTED;
    if (DWORD e = report(CALLBACK_STREAM_SWITCH, 0); e != ERROR_SUCCESS)
        return e;
    // A large copy's room is reserved at once (its size stays what has been copied): the file system then lays
    // the copy out in one step instead of block by block as the data arrives, which makes moving the data
    // markedly faster. Where that cannot be done the copy goes on as it would have, and meets the same errors.
    const bool reserved = total >= kReserveFrom && fallocate(tfd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total)) == 0;
    off_t inOffset = 0;
    off_t outOffset = 0;
    Mover mover = Mover::CopyRange;
    std::vector<char> buffer;
    bool reportedChunk = false;
    while (true) {
        if (Cancelled(cancel))
            return ERROR_REQUEST_ABORTED;
        ssize_t n = MoveChunk(source->Descriptor(), inOffset, tfd, outOffset, kChunkSize, mover, buffer);
        if (n < 0)
            return platform::Win32ErrorFromErrno(errno);
        if (n == 0 && reportedChunk)
            break;
        reportedChunk = true;
        if (DWORD e = report(CALLBACK_CHUNK_FINISHED, static_cast<uint64_t>(outOffset)); e != ERROR_SUCCESS)
            return e;
        if (n == 0)
            break;
        // The kernel's copy stops at the source's size as it is at the call: a short chunk that reaches the
        // size the copy began with was the end, and asking once more would only hear so.
        if (mover == Mover::CopyRange && static_cast<size_t>(n) < kChunkSize &&
            static_cast<uint64_t>(inOffset) >= total)
            break;
    }
    if (Cancelled(cancel))
        return ERROR_REQUEST_ABORTED;
    // A source that shrank during the copy leaves room reserved past the copy's end; it is given back.
    if (reserved && static_cast<uint64_t>(outOffset) < total && ftruncate(tfd, outOffset) != 0)
        return platform::Win32ErrorFromErrno(errno);

    // The copy's times and attributes: the source's write and access times, the source's bits with ARCHIVE, a
    // creation time of now (unless the caller gives times of its own); the mode bits carry read-only.
    struct timespec times[2];
    // The source's own times, when asked for, pass through FILETIME as a SetFileTime with them would.
    const auto viaFileTime = [](int64_t ns) { return UnixNsFromTicks(TicksFromUnixNs(ns)); };
    int64_t accessNs = IsOmitted(extras.lastAccess) ? src.atimeNs : UnixNsOf(*extras.lastAccess);
    int64_t writeNs = IsOmitted(extras.lastWrite) ? src.mtimeNs : UnixNsOf(*extras.lastWrite);
    if (extras.sourceTimes) {
        accessNs = viaFileTime(src.atimeNs);
        writeNs = viaFileTime(src.mtimeNs);
    }
    ToTimespec(accessNs, times[0]);
    ToTimespec(writeNs, times[1]);
    if (futimens(tfd, times) != 0)
        return platform::Win32ErrorFromErrno(errno);
    HostStat copied;
    if (!StatDescriptor(tfd, copied))
        return platform::Win32ErrorFromErrno(errno);
    const DWORD bits =
        ((sourceRecord ? sourceRecord->attributes : 0u) & kStoredAttributeMask & ~FILE_ATTRIBUTE_READONLY) |
        FILE_ATTRIBUTE_ARCHIVE;
    const int64_t now = (platform::clock::IsManual() || copied.btimeNs == 0) ? platform::clock::Now() : 0;
    const int64_t creation = extras.sourceTimes           ? CreationTicks(src, sourceRecord)
                             : IsOmitted(extras.creation) ? now
                                                          : platform::clock::FromFileTime(*extras.creation);
    if (bits != FILE_ATTRIBUTE_ARCHIVE || creation != 0) {
        // Only a record the copy needs of its own fails it; the caller's creation time is as a SetFileTime
        // after the copy, whose failure leaves the copy made.
        const StoredAttributes record{bits, creation, copied.mtimeNs};
        if (!WriteStored(FileRef{tfd, nullptr}, copied, record) && (bits != FILE_ATTRIBUTE_ARCHIVE || now != 0))
            return GetLastError();
    }
    if ((copied.mode & 0777) != wantedMode && fchmod(tfd, wantedMode) != 0)
        return platform::Win32ErrorFromErrno(errno);

    // Put in place: a destination that appeared meanwhile is kept when the caller asked for that, and one that
    // somebody opened meanwhile is not pulled away from under them.
    const bool keep = (copyFlags & COPY_FILE_FAIL_IF_EXISTS) || !targetExists;
    DWORD result = out.Commit(WholeFile::kExclusive | (keep ? WholeFile::kKeepExisting : 0));
    if (result == ERROR_FILE_EXISTS && !(copyFlags & COPY_FILE_FAIL_IF_EXISTS))
        result = out.Commit(WholeFile::kExclusive);
    if (result != ERROR_SUCCESS || !extras.clearSourceArchive)
        return result;

    // The source is marked as backed up through the descriptor the copy read it from.
    const DWORD sourceAttributes = ComputeAttributes(src, BaseNameOf(sourcePath), sourceRecord);
    if (sourceAttributes & FILE_ATTRIBUTE_ARCHIVE) {
        const StoredAttributes cleared{sourceAttributes & kStoredAttributeMask &
                                           ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
                                       sourceRecord ? sourceRecord->creation : 0, src.mtimeNs};
        WriteStored(FileRef{source->Descriptor(), nullptr}, src, cleared);
    }
    return ERROR_SUCCESS;
}

} // namespace

} // namespace platform::fs

BOOL platform::fs::CopyFileWithExtras(LPCWSTR existing, LPCWSTR newName, LPPROGRESS_ROUTINE progress, LPVOID data,
                                      LPBOOL cancel, DWORD copyFlags, const CopyExtras& extras) {
    DWORD result = DoCopy(existing, newName, progress, data, cancel, copyFlags, extras);
    if (result != ERROR_SUCCESS)
        return platform::Fail(result), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CopyFileExW(LPCWSTR existing, LPCWSTR newName, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
                 DWORD copyFlags) {
    DWORD result = platform::fs::DoCopy(existing, newName, progress, data, cancel, copyFlags, {});
    if (result != ERROR_SUCCESS)
        return platform::Fail(result), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    return CopyFileExW(existing, newName, nullptr, nullptr, nullptr, failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0);
}
