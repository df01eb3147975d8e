#include "platform/fs/files.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/attributes.h"
#include "platform/fs/copy.h"
#include "platform/fs/fileobject.h"
#include "platform/fs/paths.h"
#include "platform/fs/sharelocks.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::fs {

using namespace detail;

namespace {

constexpr DWORD kAttributesOfNewFiles = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                        FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool WantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

std::string BaseName(const std::string& hostPath) {
    auto slash = hostPath.find_last_of('/');
    return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

std::mutex g_openersMutex;
std::vector<DeviceOpener>& Openers() {
    static std::vector<DeviceOpener> openers;
    return openers;
}

// Applies the layer clock's "now" to a file that was just created or written while a test drives the clock by
// hand; with the real clock the host's own times are already right.
void StampNow(int fd, bool access, bool write) {
    if (!platform::clock::IsManual())
        return;
    struct timespec ts[2];
    ToTimespec(UnixNsFromTicks(platform::clock::Now()), ts[0]);
    ts[1] = ts[0];
    if (!access)
        ts[0].tv_nsec = UTIME_OMIT;
    if (!write)
        ts[1].tv_nsec = UTIME_OMIT;
    futimens(fd, ts);
}

// The attribute record of a file created through the layer. Files whose attributes are the defaults need none
// as long as the file system keeps birth times and the clock is the real one.
void RecordNewFile(int fd, DWORD flagsAndAttributes, bool keepCreation, const std::optional<StoredAttributes>& old) {
    HostStat st;
    if (!StatDescriptor(fd, st))
        return;
    const DWORD bits = (flagsAndAttributes & kAttributesOfNewFiles) | FILE_ATTRIBUTE_ARCHIVE;
    const bool manual = platform::clock::IsManual();
    int64_t creation = 0;
    if (keepCreation && old)
        creation = old->creation;
    else if (manual || st.btimeNs == 0 || keepCreation)
        creation = keepCreation ? CreationTicks(st, old) : platform::clock::Now();
    if (bits == FILE_ATTRIBUTE_ARCHIVE && creation == 0 && !old)
        return;
    WriteStored(FileRef{fd, nullptr}, st, StoredAttributes{bits, creation, st.mtimeNs});
}

bool IsOmittedTime(const FILETIME* t) {
    return !t || (t->dwLowDateTime == 0 && t->dwHighDateTime == 0) ||
           (t->dwLowDateTime == 0xFFFFFFFFu && t->dwHighDateTime == 0xFFFFFFFFu);
}

// A write through the layer sets the archive bit at once, as Windows does; comparing write times alone would
// miss a write within the file system's time granularity of the moment the bit was cleared.
void MarkModified(int fd) {
    HostStat st;
    if (!StatDescriptor(fd, st))
        return;
    auto record = ReadStored(FileRef{fd, nullptr}, st);
    if (!record || (record->attributes & FILE_ATTRIBUTE_ARCHIVE))
        return;
    record->attributes |= FILE_ATTRIBUTE_ARCHIVE;
    record->modifiedStamp = st.mtimeNs;
    WriteStored(FileRef{fd, nullptr}, st, *record);
}

BOOL CompleteOverlapped(LPOVERLAPPED overlapped, DWORD error, DWORD transferred) {
    overlapped->Internal = error;
    overlapped->InternalHigh = transferred;
    if (overlapped->hEvent)
        SetEvent(overlapped->hEvent);
    if (error != ERROR_SUCCESS)
        return platform::Fail(error), FALSE;
    return TRUE;
}

} // namespace

BOOL IoObject::Flush() {
    return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
}

BOOL IoObject::Seek(LONGLONG, DWORD, LONGLONG&) {
    return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
}

BOOL IoObject::Size(LONGLONG&) {
    return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
}

BOOL IoObject::SetEnd() {
    return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
}

namespace {

// A drive letter of the table opened as a volume ("\\.\T:"): it stands for the letter, for checks that it is in
// use; a folder has no sectors, so reads and writes are refused.
class FolderVolume : public IoObject {
public:
    const char* TypeName() const override { return "FolderVolume"; }
    BOOL Read(LPVOID, DWORD, LPDWORD read, LPOVERLAPPED) override {
        if (read)
            *read = 0;
        return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
    }
    BOOL Write(LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) override {
        if (written)
            *written = 0;
        return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
    }
};

} // namespace

void RegisterDeviceOpener(DeviceOpener opener) {
    std::lock_guard lock(g_openersMutex);
    Openers().push_back(std::move(opener));
}

int HostDescriptor(HANDLE file) {
    auto object = std::dynamic_pointer_cast<FileObject>(platform::LookupHandle(file));
    return object ? object->Descriptor() : -1;
}

namespace detail {

FileObject::FileObject(int fd, DWORD access, DWORD flags, bool directory, std::string hostPath)
    : m_fd(fd), m_flags(flags), m_directory(directory), m_hostPath(std::move(hostPath)) {
    ShareRequest r = ShareRequest::From(access, 0);
    m_canRead = r.read;
    m_canWrite = WantsWrite(access);
    m_appendOnly = (access & FILE_APPEND_DATA) && !(access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL));
    m_canWriteAttributes =
        (access & (FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | FILE_WRITE_DATA)) != 0;
    m_deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    HostStat st;
    if (m_deleteOnClose && StatDescriptor(m_fd, st)) {
        m_dev = st.dev;
        m_ino = st.ino;
    }
}

FileObject::~FileObject() {
    if (m_fd >= 0)
        close(m_fd);
}

void FileObject::OnLastHandleClosed() {
    if (m_written.load() && !m_explicitWriteTime.load())
        StampNow(m_fd, false, true);
    if (!m_deleteOnClose)
        return;
    // Only the file this handle opened is removed, not one that took its name in the meantime.
    HostStat st;
    if (StatPath(AT_FDCWD, m_hostPath.c_str(), st) && !st.isLink && st.dev == m_dev && st.ino == m_ino) {
        if (m_directory ? rmdir(m_hostPath.c_str()) == 0 : unlink(m_hostPath.c_str()) == 0) {
            if (st.nlink <= 1)
                ForgetStored(st);
        }
    }
}

BOOL FileObject::Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read)
        *read = 0;
    if (m_directory)
        return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
    if (!m_canRead)
        return platform::Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!overlapped && ((m_flags & FILE_FLAG_OVERLAPPED) || !read))
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (toRead && !buffer)
        return platform::Fail(ERROR_NOACCESS), FALSE;
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    off_t offset =
        overlapped ? static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset) : 0;
    while (done < toRead) {
        ssize_t n = overlapped ? pread(m_fd, out + done, toRead - done, offset + static_cast<off_t>(done))
                               : ::read(m_fd, out + done, toRead - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            DWORD error = platform::Win32ErrorFromErrno(errno);
            if (overlapped)
                return CompleteOverlapped(overlapped, error, static_cast<DWORD>(done));
            return platform::Fail(error), FALSE;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (read)
        *read = static_cast<DWORD>(done);
    if (!overlapped)
        return TRUE;
    if (!(m_flags & FILE_FLAG_OVERLAPPED))
        lseek(m_fd, offset + static_cast<off_t>(done), SEEK_SET);
    // Reading at or past the end through an OVERLAPPED reports the end of the file, as Windows does.
    const DWORD error = (done == 0 && toRead > 0) ? ERROR_HANDLE_EOF : ERROR_SUCCESS;
    return CompleteOverlapped(overlapped, error, static_cast<DWORD>(done));
}

BOOL FileObject::Write(LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written)
        *written = 0;
    if (m_directory)
        return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
    if (!m_canWrite)
        return platform::Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!overlapped && ((m_flags & FILE_FLAG_OVERLAPPED) || !written))
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (toWrite && !buffer)
        return platform::Fail(ERROR_NOACCESS), FALSE;
    const char* in = static_cast<const char*>(buffer);
    bool append = m_appendOnly;
    off_t offset = 0;
    if (overlapped) {
        if (overlapped->Offset == 0xFFFFFFFFu && overlapped->OffsetHigh == 0xFFFFFFFFu)
            append = true;
        else
            offset = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
    }
    if (append) {
        struct stat st;
        if (fstat(m_fd, &st) == 0)
            offset = st.st_size;
    }
    const bool positioned = overlapped || append;
    size_t done = 0;
    while (done < toWrite) {
        ssize_t n = positioned ? pwrite(m_fd, in + done, toWrite - done, offset + static_cast<off_t>(done))
                               : ::write(m_fd, in + done, toWrite - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            DWORD error = platform::Win32ErrorFromErrno(errno);
            if (done && !m_written.exchange(true))
                MarkModified(m_fd);
            if (overlapped)
                return CompleteOverlapped(overlapped, error, static_cast<DWORD>(done));
            return platform::Fail(error), FALSE;
        }
        done += static_cast<size_t>(n);
    }
    if (done && !m_written.exchange(true))
        MarkModified(m_fd);
    if (written)
        *written = static_cast<DWORD>(done);
    if (positioned && !(m_flags & FILE_FLAG_OVERLAPPED))
        lseek(m_fd, offset + static_cast<off_t>(done), SEEK_SET);
    if (!overlapped)
        return TRUE;
    return CompleteOverlapped(overlapped, ERROR_SUCCESS, static_cast<DWORD>(done));
}

BOOL FileObject::Flush() {
    if (!m_canWrite)
        return platform::Fail(ERROR_ACCESS_DENIED), FALSE;
    if (fsync(m_fd) != 0)
        return platform::FailErrno(), FALSE;
    return TRUE;
}

DWORD FileObject::FileType() const {
    struct stat st;
    if (fstat(m_fd, &st) != 0)
        return FILE_TYPE_UNKNOWN;
    if (S_ISCHR(st.st_mode))
        return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
}

std::shared_ptr<FileObject> OpenHostFile(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition,
                                         DWORD flags, bool& existed, const HostStat* known) {
    existed = false;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return platform::Fail(ERROR_INVALID_PARAMETER), nullptr;
    const ShareRequest request = ShareRequest::From(access, shareMode);
    const bool wantWrite = WantsWrite(access);
    if (disposition == TRUNCATE_EXISTING && !wantWrite)
        return platform::Fail(ERROR_INVALID_PARAMETER), nullptr;

    for (int attempt = 0; attempt < 2; ++attempt) {
        HostStat st;
        bool exists = false;
        if (attempt == 0 && known) {
            st = *known;
            exists = !st.dangling;
            errno = 0;
        } else {
            exists = StatPath(AT_FDCWD, path.c_str(), st) && !st.dangling;
        }
        if (!exists && errno != ENOENT && errno != 0 && !st.dangling)
            return platform::Fail(ErrorForPath(errno, path)), nullptr;
        if (exists) {
            existed = true;
            if (disposition == CREATE_NEW)
                return platform::Fail(ERROR_FILE_EXISTS), nullptr;
            if (st.IsDirectory()) {
                if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || disposition == CREATE_ALWAYS ||
                    disposition == TRUNCATE_EXISTING)
                    return platform::Fail(ERROR_ACCESS_DENIED), nullptr;
                int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (fd < 0)
                    return platform::Fail(ErrorForPath(errno, path)), nullptr;
                if (DWORD e = AcquireShare(fd, request); e != ERROR_SUCCESS) {
                    close(fd);
                    return platform::Fail(e), nullptr;
                }
                return std::make_shared<FileObject>(fd, access, flags, true, path);
            }
            const bool readOnly = !(st.mode & S_IWUSR);
            if (wantWrite && readOnly)
                return platform::Fail(ERROR_ACCESS_DENIED), nullptr;
            std::optional<StoredAttributes> old;
            if (disposition == CREATE_ALWAYS)
                old = ReadStored(FileRef{-1, path.c_str()}, st);
            if (disposition == CREATE_ALWAYS && old) {
                // Replacing a hidden or system file needs the caller to ask for those bits, as on Windows.
                const DWORD keep = old->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
                if ((keep & flags) != keep)
                    return platform::Fail(ERROR_ACCESS_DENIED), nullptr;
            }
            int fd = open(path.c_str(), (wantWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY);
            if (fd < 0 && wantWrite && errno == EACCES)
                fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0)
                return platform::Fail(ErrorForPath(errno, path)), nullptr;
            if (DWORD e = AcquireShare(fd, request); e != ERROR_SUCCESS) {
                close(fd);
                return platform::Fail(e), nullptr;
            }
            if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
                if (ftruncate(fd, 0) != 0) {
                    DWORD e = platform::Win32ErrorFromErrno(errno);
                    close(fd);
                    return platform::Fail(e), nullptr;
                }
                StampNow(fd, false, true);
            }
            if (disposition == CREATE_ALWAYS) {
                RecordNewFile(fd, flags, true, old);
                if (flags & FILE_ATTRIBUTE_READONLY)
                    fchmod(fd, st.mode & 07555);
            }
            return std::make_shared<FileObject>(fd, access, flags, false, path);
        }

        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return platform::Fail(MissingError(path)), nullptr;
        const mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0) {
            if (errno == EEXIST && disposition != CREATE_NEW)
                continue; // another opener created it a moment ago: open it as an existing file
            if (errno == EEXIST)
                return platform::Fail(ERROR_FILE_EXISTS), nullptr;
            return platform::Fail(ErrorForPath(errno, path)), nullptr;
        }
        if (DWORD e = AcquireShare(fd, request); e != ERROR_SUCCESS) {
            close(fd);
            return platform::Fail(e), nullptr;
        }
        StampNow(fd, true, true);
        RecordNewFile(fd, flags, false, std::nullopt);
        return std::make_shared<FileObject>(fd, access, flags, false, path);
    }
    // The name keeps turning up as something that cannot be opened (a link to nowhere).
    return platform::Fail(ERROR_ACCESS_DENIED), nullptr;
}

} // namespace detail

} // namespace platform::fs

using namespace platform::fs::detail;
using platform::Fail;
using platform::fs::IsOmittedTime;
using platform::fs::MarkModified;
using platform::fs::StampNow;

namespace {

// Opening a file that is there under its name as written: the open itself finds it, so the name needs no
// look-up first. Answers as OpenHostFile does for an existing file that is not a folder and is neither replaced
// nor truncated. Null with `decided` false when the full way must answer (the name is not there as written, it
// is a folder, or the host refused the open); null with `decided` true and the last error set when this open
// fails.
std::shared_ptr<FileObject> OpenAsWritten(LPCWSTR fileName, DWORD access, DWORD shareMode, DWORD flags, bool& decided) {
    decided = false;
    auto path = ExactHostPath(fileName);
    if (!path)
        return nullptr;
    const bool wantWrite = platform::fs::WantsWrite(access);
    int fd = open(path->c_str(), (wantWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    HostStat st;
    if (!StatDescriptor(fd, st) || st.IsDirectory()) {
        close(fd);
        return nullptr;
    }
    decided = true;
    if (wantWrite && !(st.mode & S_IWUSR)) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED), nullptr;
    }
    if (DWORD e = AcquireShare(fd, ShareRequest::From(access, shareMode)); e != ERROR_SUCCESS) {
        close(fd);
        return Fail(e), nullptr;
    }
    auto object = std::make_shared<FileObject>(fd, access, flags, false, std::move(*path));
    object->NoteIdentity(st);
    return object;
}

} // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
    if (!fileName)
        return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    if (disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS) {
        bool decided = false;
        auto object = OpenAsWritten(fileName, desiredAccess, shareMode, flagsAndAttributes, decided);
        if (object) {
            HANDLE handle = platform::InsertHandle(object);
            SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
            return handle;
        }
        if (decided)
            return INVALID_HANDLE_VALUE;
    }
    auto resolved = Resolve(fileName);
    if (!resolved)
        return INVALID_HANDLE_VALUE;
    if (resolved->host.kind == platform::fs::PathKind::Device) {
        std::vector<platform::fs::DeviceOpener> openers;
        {
            std::lock_guard lock(platform::fs::g_openersMutex);
            openers = platform::fs::Openers();
        }
        platform::fs::DeviceOpenRequest request{resolved->host.device, desiredAccess, shareMode, disposition,
                                                flagsAndAttributes};
        for (const auto& opener : openers) {
            HANDLE h = opener(request);
            if (h != INVALID_HANDLE_VALUE && h != nullptr)
                return h;
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                return INVALID_HANDLE_VALUE;
        }
        // A letter of the drive table that no device stands behind opens as the volume of its folder.
        const std::u16string& name = resolved->host.device;
        if (name.size() == 2 && name[1] == u':' && disposition == OPEN_EXISTING) {
            const auto drive = platform::fs::Drive(platform::FoldUpper(name[0]));
            if (drive && !drive->raw && !drive->hostRoot.empty()) {
                SetLastError(ERROR_SUCCESS);
                return platform::InsertHandle(std::make_shared<platform::fs::FolderVolume>());
            }
        }
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    }
    bool existed = false;
    auto object = OpenHostFile(resolved->host.path, desiredAccess, shareMode, disposition, flagsAndAttributes, existed,
                               resolved->found ? &*resolved->found : nullptr);
    if (!object)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = platform::InsertHandle(object);
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    auto object = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!object)
        return FALSE;
    return object->Read(buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    auto object = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!object)
        return FALSE;
    return object->Write(buffer, toWrite, written, overlapped);
}

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL) {
    // Every operation of this layer has completed by the time it returns, so there is never anything to wait
    // for: the OVERLAPPED holds the final code and count.
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (transferred)
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(overlapped->Internal)), FALSE;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD moveMethod) {
    auto io = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!io)
        return FALSE;
    auto object = std::dynamic_pointer_cast<FileObject>(io);
    if (!object) {
        if (moveMethod > FILE_END)
            return Fail(ERROR_INVALID_PARAMETER), FALSE;
        LONGLONG position = 0;
        if (!io->Seek(distance.QuadPart, moveMethod, position))
            return FALSE;
        if (newPosition)
            newPosition->QuadPart = position;
        return TRUE;
    }
    int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
                 : moveMethod == FILE_CURRENT ? SEEK_CUR
                 : moveMethod == FILE_END     ? SEEK_END
                                              : -1;
    if (whence < 0)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    off_t base = whence == SEEK_SET ? 0 : lseek(object->Descriptor(), 0, whence);
    if (base < 0)
        return platform::FailErrno(), FALSE;
    if (distance.QuadPart < 0 && base + distance.QuadPart < 0)
        return Fail(ERROR_NEGATIVE_SEEK), FALSE;
    off_t pos = lseek(object->Descriptor(), base + distance.QuadPart, SEEK_SET);
    if (pos < 0)
        return platform::FailErrno(), FALSE;
    if (newPosition)
        newPosition->QuadPart = pos;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
    LARGE_INTEGER move;
    if (distanceHigh)
        move.QuadPart = static_cast<LONGLONG>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                              static_cast<uint32_t>(distance));
    else
        move.QuadPart = distance;
    LARGE_INTEGER pos;
    if (!SetFilePointerEx(file, move, &pos, moveMethod))
        return INVALID_SET_FILE_POINTER;
    if (!distanceHigh && pos.QuadPart > 0x7FFFFFFFLL) {
        // The caller cannot see the high half, so the move is refused as Windows does.
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = pos.HighPart;
    if (pos.LowPart == INVALID_SET_FILE_POINTER)
        SetLastError(ERROR_SUCCESS);
    return pos.LowPart;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    auto io = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!io)
        return FALSE;
    if (!size)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    auto object = std::dynamic_pointer_cast<FileObject>(io);
    if (!object) {
        LONGLONG bytes = 0;
        if (!io->Size(bytes))
            return FALSE;
        size->QuadPart = bytes;
        return TRUE;
    }
    struct stat st;
    if (fstat(object->Descriptor(), &st) != 0)
        return platform::FailErrno(), FALSE;
    size->QuadPart = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return 0xFFFFFFFFu;
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(size.HighPart);
    if (size.LowPart == 0xFFFFFFFFu)
        SetLastError(ERROR_SUCCESS);
    return size.LowPart;
}

BOOL SetEndOfFile(HANDLE file) {
    auto io = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!io)
        return FALSE;
    auto object = std::dynamic_pointer_cast<FileObject>(io);
    if (!object)
        return io->SetEnd();
    if (!object->CanWrite() || object->IsDirectory())
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    off_t pos = lseek(object->Descriptor(), 0, SEEK_CUR);
    if (pos < 0 || ftruncate(object->Descriptor(), pos) != 0)
        return platform::FailErrno(), FALSE;
    platform::fs::MarkModified(object->Descriptor());
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    auto object = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!object)
        return FALSE;
    return object->Flush();
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
    auto object = platform::LookupHandleAs<FileObject>(file);
    if (!object)
        return FALSE;
    HostStat st;
    if (!StatDescriptor(object->Descriptor(), st))
        return platform::FailErrno(), FALSE;
    if (creation)
        *creation =
            platform::clock::ToFileTime(CreationTicks(st, ReadStored(FileRef{object->Descriptor(), nullptr}, st)));
    if (lastAccess)
        *lastAccess = platform::clock::ToFileTime(TicksFromUnixNs(st.atimeNs));
    if (lastWrite)
        *lastWrite = platform::clock::ToFileTime(TicksFromUnixNs(st.mtimeNs));
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite) {
    auto object = platform::LookupHandleAs<FileObject>(file);
    if (!object)
        return FALSE;
    if (!object->CanWriteAttributes())
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    const int fd = object->Descriptor();
    // The record is found by what never changes for an open file; the times it is judged by are needed only
    // when there is one.
    std::optional<HostStat> before;
    if (!object->Identity()) {
        before.emplace();
        if (!StatDescriptor(fd, *before))
            return platform::FailErrno(), FALSE;
    }
    auto record = ReadStored(FileRef{fd, nullptr}, before ? *before : *object->Identity());
    if (record && !before) {
        before.emplace();
        if (!StatDescriptor(fd, *before))
            return platform::FailErrno(), FALSE;
    }
    struct timespec ts[2];
    ts[0].tv_nsec = UTIME_OMIT;
    ts[1].tv_nsec = UTIME_OMIT;
    if (!IsOmittedTime(lastAccess))
        ToTimespec(UnixNsFromTicks(platform::clock::FromFileTime(*lastAccess)), ts[0]);
    std::optional<int64_t> writeNs;
    if (!IsOmittedTime(lastWrite)) {
        writeNs = UnixNsFromTicks(platform::clock::FromFileTime(*lastWrite));
        ToTimespec(*writeNs, ts[1]);
        object->NoteExplicitWriteTime();
    }
    if ((ts[0].tv_nsec != UTIME_OMIT || ts[1].tv_nsec != UTIME_OMIT) && futimens(fd, ts) != 0)
        return platform::FailErrno(), FALSE;
    const bool setCreation = !IsOmittedTime(creation);
    if (!setCreation && !record)
        return TRUE;
    // Whether it is a folder and where its record goes never change for an open file.
    const HostStat& known = before ? *before : *object->Identity();
    const bool directory = known.IsDirectory();
    StoredAttributes updated = record.value_or(StoredAttributes{directory ? 0u : FILE_ATTRIBUTE_ARCHIVE, 0, 0});
    if (setCreation)
        updated.creation = platform::clock::FromFileTime(*creation);
    // Setting times is not a change of content: the archive bit stays as it read before, now held in the record
    // because the write time it was judged by moves.
    if (record && !directory && record->modifiedStamp != before->mtimeNs)
        updated.attributes |= FILE_ATTRIBUTE_ARCHIVE;
    // The stamp is only ever compared while a file's record lacks ARCHIVE, and every write that clears the bit
    // stamps afresh. With the bit set, the write time just given stands in for the one the file system kept
    // (which may be coarser), so the file need not be looked at again when the attribute takes the record.
    if (!directory && (updated.attributes & FILE_ATTRIBUTE_ARCHIVE) && writeNs) {
        updated.modifiedStamp = *writeNs;
        if (SetStoredAttribute(fd, known.dev, updated))
            return TRUE;
    }
    HostStat st;
    if (!StatDescriptor(fd, st))
        return platform::FailErrno(), FALSE;
    updated.modifiedStamp = st.mtimeNs;
    if (!WriteStored(FileRef{fd, nullptr}, st, updated))
        return FALSE;
    return TRUE;
}

DWORD GetFileType(HANDLE file) {
    auto object = platform::LookupHandleAs<platform::fs::IoObject>(file);
    if (!object)
        return FILE_TYPE_UNKNOWN;
    return object->FileType();
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    auto object = platform::LookupHandleAs<FileObject>(file);
    if (!object)
        return FALSE;
    if (!info)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    HostStat st;
    if (!StatDescriptor(object->Descriptor(), st))
        return platform::FailErrno(), FALSE;
    auto record = ReadStored(FileRef{object->Descriptor(), nullptr}, st);
    info->dwFileAttributes = ComputeAttributes(st, platform::fs::BaseName(object->HostPath()), record);
    info->ftCreationTime = platform::clock::ToFileTime(CreationTicks(st, record));
    info->ftLastAccessTime = platform::clock::ToFileTime(TicksFromUnixNs(st.atimeNs));
    info->ftLastWriteTime = platform::clock::ToFileTime(TicksFromUnixNs(st.mtimeNs));
    info->dwVolumeSerialNumber = VolumeSerialOf(object->HostPath(), st.dev);
    const uint64_t size = st.IsDirectory() ? 0 : st.size;
    info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(size);
    info->nNumberOfLinks = static_cast<DWORD>(st.nlink);
    info->nFileIndexHigh = static_cast<DWORD>(st.ino >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.ino);
    return TRUE;
}

namespace {

struct PathAttributes {
    HostStat st;
    std::optional<StoredAttributes> record;
    DWORD attributes = 0;
};

// A path that names a file or folder (not a device); a device name fails with ERROR_INVALID_NAME.
std::optional<ResolvedPath> ResolveFileName(LPCWSTR name) {
    auto resolved = Resolve(name);
    if (resolved && resolved->host.kind != platform::fs::PathKind::File) {
        Fail(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    return resolved;
}

std::optional<PathAttributes> ReadPathAttributes(LPCWSTR fileName, std::string* hostPath = nullptr) {
    auto resolved = Resolve(fileName);
    if (!resolved)
        return std::nullopt;
    if (resolved->host.kind != platform::fs::PathKind::File) {
        Fail(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    PathAttributes a;
    const std::string& path = resolved->host.path;
    if (resolved->found) {
        a.st = *resolved->found;
    } else if (!StatPath(AT_FDCWD, path.c_str(), a.st)) {
        Fail(ErrorForPath(errno, path));
        return std::nullopt;
    }
    a.record = ReadStored(FileRef{-1, path.c_str()}, a.st);
    a.attributes = ComputeAttributes(a.st, resolved->isRoot ? "" : platform::fs::BaseName(path), a.record);
    if (hostPath)
        *hostPath = path;
    return a;
}

} // namespace

DWORD GetFileAttributesW(LPCWSTR fileName) {
    auto a = ReadPathAttributes(fileName);
    return a ? a->attributes : INVALID_FILE_ATTRIBUTES;
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    if (level != GetFileExInfoStandard || !info)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    auto a = ReadPathAttributes(fileName);
    if (!a)
        return FALSE;
    auto* out = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    out->dwFileAttributes = a->attributes;
    out->ftCreationTime = platform::clock::ToFileTime(CreationTicks(a->st, a->record));
    out->ftLastAccessTime = platform::clock::ToFileTime(TicksFromUnixNs(a->st.atimeNs));
    out->ftLastWriteTime = platform::clock::ToFileTime(TicksFromUnixNs(a->st.mtimeNs));
    const uint64_t size = (a->st.IsDirectory() || a->st.dangling) ? 0 : a->st.size;
    out->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes) {
    std::string path;
    auto a = ReadPathAttributes(fileName, &path);
    if (!a)
        return FALSE;
    if (a->st.dangling)
        return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    const bool dir = a->st.IsDirectory();
    DWORD bits = attributes & kStoredAttributeMask;
    if (!dir)
        bits &= ~FILE_ATTRIBUTE_READONLY;
    const DWORD defaults = dir ? 0u : FILE_ATTRIBUTE_ARCHIVE;
    if (a->record || bits != defaults) {
        StoredAttributes updated{bits, a->record ? a->record->creation : 0, a->st.mtimeNs};
        if (!WriteStored(FileRef{-1, path.c_str()}, a->st, updated))
            return FALSE;
    }
    if (!dir) {
        const mode_t mode = a->st.mode & 07777;
        mode_t wanted = mode;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            wanted = mode & ~static_cast<mode_t>(0222);
        else if (!(mode & S_IWUSR))
            wanted = mode | S_IWUSR;
        if (wanted != mode && chmod(path.c_str(), wanted) != 0)
            return platform::FailErrno(), FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    auto resolved = ResolveFileName(pathName);
    if (!resolved)
        return FALSE;
    if (resolved->isRoot)
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    const std::string& path = resolved->host.path;
    if (mkdir(path.c_str(), 0777) != 0) {
        if (errno == EEXIST)
            return Fail(ERROR_ALREADY_EXISTS), FALSE;
        if (errno == ENOENT || errno == ENOTDIR)
            return Fail(ERROR_PATH_NOT_FOUND), FALSE;
        return platform::FailErrno(), FALSE;
    }
    HostStat st;
    if (StatPath(AT_FDCWD, path.c_str(), st)) {
        ForgetStored(st); // a record left by a folder that had this inode before
        if (platform::clock::IsManual()) {
            int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                StampNow(fd, true, true);
                StatDescriptor(fd, st);
                WriteStored(FileRef{fd, nullptr}, st, StoredAttributes{0, platform::clock::Now(), st.mtimeNs});
                close(fd);
            }
        }
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
    auto resolved = ResolveFileName(pathName);
    if (!resolved)
        return FALSE;
    const std::string& path = resolved->host.path;
    HostStat st;
    if (!StatPath(AT_FDCWD, path.c_str(), st))
        return Fail(ErrorForPath(errno, path)), FALSE;
    if (!st.IsDirectory() || st.dangling)
        return Fail(ERROR_DIRECTORY), FALSE;
    if (resolved->isRoot)
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (st.isLink) {
        // A link to a folder is removed itself; what it points to stays.
        if (unlink(path.c_str()) != 0)
            return platform::FailErrno(), FALSE;
        return TRUE;
    }
    auto record = ReadStored(FileRef{-1, path.c_str()}, st);
    if (record && (record->attributes & FILE_ATTRIBUTE_READONLY))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    ShareRequest request;
    request.del = true;
    request.shareRead = request.shareWrite = request.shareDelete = true;
    DWORD result = WithShareCheck(path, request, [&]() -> DWORD {
        if (rmdir(path.c_str()) == 0)
            return ERROR_SUCCESS;
        if (errno == ENOTEMPTY || errno == EEXIST)
            return ERROR_DIR_NOT_EMPTY;
        return platform::Win32ErrorFromErrno(errno);
    });
    if (result != ERROR_SUCCESS)
        return Fail(result), FALSE;
    ForgetStored(st);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    auto resolved = ResolveFileName(fileName);
    if (!resolved)
        return FALSE;
    const std::string& path = resolved->host.path;
    HostStat st;
    if (!StatPath(AT_FDCWD, path.c_str(), st))
        return Fail(ErrorForPath(errno, path)), FALSE;
    if (st.isLink) {
        if (st.IsDirectory() && !st.dangling)
            return Fail(ERROR_ACCESS_DENIED), FALSE;
        if (unlink(path.c_str()) != 0)
            return platform::FailErrno(), FALSE;
        return TRUE;
    }
    if (st.IsDirectory() || !(st.mode & S_IWUSR))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    ShareRequest request;
    request.del = true;
    request.shareRead = request.shareWrite = request.shareDelete = true;
    DWORD result = WithShareCheck(path, request, [&]() -> DWORD {
        return unlink(path.c_str()) == 0 ? ERROR_SUCCESS : ErrorForPath(errno, path);
    });
    if (result != ERROR_SUCCESS)
        return Fail(result), FALSE;
    if (st.nlink <= 1)
        ForgetStored(st);
    return TRUE;
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) {
    return MoveFileExW(existing, newName, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    // There is no restart on this host that could finish a delayed move, so it is refused rather than dropped.
    if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) || !newName)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    auto from = Resolve(existing);
    if (!from)
        return FALSE;
    auto to = Resolve(newName);
    if (!to)
        return FALSE;
    if (from->host.kind != platform::fs::PathKind::File || to->host.kind != platform::fs::PathKind::File)
        return Fail(ERROR_INVALID_NAME), FALSE;
    if (from->isRoot || to->isRoot)
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    const std::string& source = from->host.path;
    std::string target = to->host.path;
    struct stat ss;
    if (lstat(source.c_str(), &ss) != 0)
        return Fail(ErrorForPath(errno, source)), FALSE;
    struct stat ts;
    bool targetExists = lstat(target.c_str(), &ts) == 0;
    if (targetExists && ts.st_dev == ss.st_dev && ts.st_ino == ss.st_ino) {
        // The new name differs only in case (or is the same name): rename to the spelling the caller gave.
        target = to->hostParent + (to->hostParent == "/" ? "" : "/") + platform::Utf16ToUtf8(to->lastName);
        targetExists = false;
    }
    if (targetExists) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
            return Fail(ERROR_ALREADY_EXISTS), FALSE;
        if (S_ISDIR(ts.st_mode) || S_ISDIR(ss.st_mode) || (S_ISREG(ts.st_mode) && !(ts.st_mode & S_IWUSR)))
            return Fail(ERROR_ACCESS_DENIED), FALSE;
    }
    ShareRequest request;
    request.del = true;
    request.shareRead = request.shareWrite = request.shareDelete = true;
    bool crossDevice = false;
    DWORD result = WithShareCheck(source, request, [&]() -> DWORD {
        return WithShareCheck(targetExists ? target : std::string(), request, [&]() -> DWORD {
            int rc;
            if (flags & MOVEFILE_REPLACE_EXISTING) {
                rc = rename(source.c_str(), target.c_str());
            } else {
                rc = renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
                if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
                    struct stat again;
                    if (lstat(target.c_str(), &again) == 0)
                        return ERROR_ALREADY_EXISTS;
                    rc = rename(source.c_str(), target.c_str());
                }
            }
            if (rc == 0)
                return ERROR_SUCCESS;
            if (errno == EXDEV) {
                crossDevice = true;
                return ERROR_NOT_SAME_DEVICE;
            }
            if (errno == EEXIST)
                return ERROR_ALREADY_EXISTS;
            return ErrorForPath(errno, target);
        });
    });
    if (crossDevice && S_ISREG(ss.st_mode) && (flags & MOVEFILE_COPY_ALLOWED)) {
        const DWORD copyFlags = (flags & MOVEFILE_REPLACE_EXISTING) ? 0 : COPY_FILE_FAIL_IF_EXISTS;
        if (!CopyFileExW(existing, newName, nullptr, nullptr, nullptr, copyFlags))
            return FALSE;
        const bool readOnly = !(ss.st_mode & S_IWUSR);
        if (readOnly)
            chmod(source.c_str(), (ss.st_mode & 07777) | S_IWUSR);
        if (!DeleteFileW(existing)) {
            DWORD e = GetLastError();
            if (readOnly)
                chmod(source.c_str(), ss.st_mode & 07777);
            DeleteFileW(newName);
            return Fail(e), FALSE;
        }
        return TRUE;
    }
    if (result != ERROR_SUCCESS)
        return Fail(result), FALSE;
    return TRUE;
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    const std::string folder = platform::machine::PathOf("Temp");
    mkdir(folder.c_str(), 0700);
    std::optional<std::u16string> windows = platform::fs::ToWindows(folder);
    if (!windows) {
        const char* tmp = std::getenv("TMPDIR");
        windows = platform::fs::ToWindows(tmp && *tmp ? tmp : "/tmp");
    }
    if (!windows)
        return Fail(ERROR_PATH_NOT_FOUND), 0;
    std::u16string path = *windows;
    if (path.empty() || path.back() != u'\\')
        path += u'\\';
    if (!buffer || size < path.size() + 1)
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName) {
    if (!pathName || !tempFileName)
        return Fail(ERROR_INVALID_PARAMETER), 0;
    std::u16string folder(pathName);
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/')
        folder += u'\\';
    std::u16string pre = prefix ? std::u16string(prefix).substr(0, 3) : std::u16string();
    auto nameFor = [&](UINT n) {
        static const char16_t digits[] = u"0123456789ABCDEF";
        std::u16string hex;
        UINT v = n & 0xFFFF;
        do {
            hex.insert(hex.begin(), digits[v & 0xF]);
            v >>= 4;
        } while (v);
        return folder + pre + hex + u".TMP";
    };
    auto emit = [&](const std::u16string& name) -> bool {
        // The caller's buffer holds MAX_PATH characters; a longer name is refused, never cut.
        if (name.size() >= MAX_PATH)
            return Fail(ERROR_BUFFER_OVERFLOW), false;
        std::copy(name.begin(), name.end(), tempFileName);
        tempFileName[name.size()] = 0;
        return true;
    };
    if (unique != 0)
        return emit(nameFor(unique)) ? unique : 0;
    UINT start = static_cast<UINT>(platform::clock::Now() / 10'000) & 0xFFFF;
    for (UINT i = 0; i < 0x10000; ++i) {
        UINT n = (start + i) & 0xFFFF;
        if (n == 0)
            continue;
        std::u16string name = nameFor(n);
        if (name.size() >= MAX_PATH)
            return Fail(ERROR_BUFFER_OVERFLOW), 0;
        if (platform::OwnedHandle(
                CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)))
            return emit(name) ? n : 0;
        DWORD e = GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION)
            return 0;
    }
    return Fail(ERROR_FILE_EXISTS), 0;
}
