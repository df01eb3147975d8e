#include "platform/fs/sharelocks.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform::fs::detail {

namespace {

// The reserved bytes, far beyond any real file's data so that byte-range locks of the file's users never meet
// them.
constexpr off_t kShareBase = 0x7FFFFFFFFFFFFF00LL;
// The order puts together the bytes that common opens test or take, so that they form one run: a reader that
// lets others read (holds open-read, deny-write, deny-delete; tests deny-read, open-write, open-delete), a reader
// that lets others read and write, and a reader and writer that lets others read and write.
enum ShareByte : off_t { kDenyWrite = 0, kOpenRead, kDenyDelete, kOpenWrite, kDenyRead, kOpenDelete };

// Bytes are handled in runs of neighbours, so that a typical open costs one or two tests and one lock.
template <class F> bool ForRuns(unsigned mask, F f) {
    for (int i = 0; i < 6;) {
        if (!(mask & (1u << i))) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 6 && (mask & (1u << j)))
            ++j;
        if (!f(static_cast<off_t>(i), static_cast<off_t>(j - i)))
            return false;
        i = j;
    }
    return true;
}

// True when another open description holds a lock on any of the bytes in `mask`.
bool AnyHeld(int fd, unsigned mask) {
    return !ForRuns(mask, [fd](off_t start, off_t length) {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kShareBase + start;
        lock.l_len = length;
        if (fcntl(fd, F_OFD_GETLK, &lock) != 0)
            return true;
        return lock.l_type == F_UNLCK;
    });
}

void TakeAll(int fd, unsigned mask) {
    // A descriptor that cannot carry read locks (opened write-only) leaves the open unrecorded; it still passed
    // the check, which is the part that protects the other openers.
    ForRuns(mask, [fd](off_t start, off_t length) {
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kShareBase + start;
        lock.l_len = length;
        fcntl(fd, F_OFD_SETLK, &lock);
        return true;
    });
}

unsigned Bit(ShareByte b) {
    return 1u << b;
}

// The bytes other opens must not hold for this request to pass.
unsigned ConflictMask(const ShareRequest& r) {
    unsigned m = 0;
    if (r.read)
        m |= Bit(kDenyRead);
    if (r.write)
        m |= Bit(kDenyWrite);
    if (r.del)
        m |= Bit(kDenyDelete);
    if (!r.shareRead)
        m |= Bit(kOpenRead);
    if (!r.shareWrite)
        m |= Bit(kOpenWrite);
    if (!r.shareDelete)
        m |= Bit(kOpenDelete);
    return m;
}

// The bytes this open holds.
unsigned OwnMask(const ShareRequest& r) {
    unsigned m = 0;
    if (r.read)
        m |= Bit(kOpenRead);
    if (r.write)
        m |= Bit(kOpenWrite);
    if (r.del)
        m |= Bit(kOpenDelete);
    if (!r.shareRead)
        m |= Bit(kDenyRead);
    if (!r.shareWrite)
        m |= Bit(kDenyWrite);
    if (!r.shareDelete)
        m |= Bit(kDenyDelete);
    return m;
}

bool Conflicts(int fd, const ShareRequest& r) {
    return AnyHeld(fd, ConflictMask(r));
}

// Holds the exclusive flock that serialises checks of one file.
class Gate {
public:
    explicit Gate(int fd) : m_fd(fd) {
        while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Gate() { flock(m_fd, LOCK_UN); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

private:
    int m_fd;
};

} // namespace

ShareRequest ShareRequest::From(DWORD access, DWORD shareMode) {
    ShareRequest r;
    const bool all = (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) != 0;
    r.read = all || (access & (GENERIC_READ | GENERIC_EXECUTE | FILE_READ_DATA | 0x20 /*FILE_EXECUTE*/)) != 0;
    r.write = all || (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    r.del = all || (access & DELETE) != 0;
    r.shareRead = (shareMode & FILE_SHARE_READ) != 0;
    r.shareWrite = (shareMode & FILE_SHARE_WRITE) != 0;
    r.shareDelete = (shareMode & FILE_SHARE_DELETE) != 0;
    return r;
}

DWORD AcquireShare(int fd, const ShareRequest& r) {
    if (!r.HasDataAccess())
        return ERROR_SUCCESS;
    Gate gate(fd);
    if (Conflicts(fd, r))
        return ERROR_SHARING_VIOLATION;
    TakeAll(fd, OwnMask(r));
    return ERROR_SUCCESS;
}

DWORD WithShareCheck(const std::string& hostPath, const ShareRequest& r, const std::function<DWORD()>& action) {
    int fd = open(hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return action();
    DWORD result;
    {
        Gate gate(fd);
        result = Conflicts(fd, r) ? ERROR_SHARING_VIOLATION : action();
    }
    close(fd);
    return result;
}

} // namespace platform::fs::detail
