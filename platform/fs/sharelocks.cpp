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
enum ShareByte : off_t { kOpenRead = 0, kOpenWrite, kOpenDelete, kDenyRead, kDenyWrite, kDenyDelete };

bool Held(int fd, ShareByte byte) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareBase + byte;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return false;
    return lock.l_type != F_UNLCK;
}

bool Take(int fd, ShareByte byte) {
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareBase + byte;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool Conflicts(int fd, const ShareRequest& r) {
    return (r.read && Held(fd, kDenyRead)) || (r.write && Held(fd, kDenyWrite)) || (r.del && Held(fd, kDenyDelete)) ||
           (!r.shareRead && Held(fd, kOpenRead)) || (!r.shareWrite && Held(fd, kOpenWrite)) ||
           (!r.shareDelete && Held(fd, kOpenDelete));
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
    bool ok = true;
    if (r.read)
        ok &= Take(fd, kOpenRead);
    if (r.write)
        ok &= Take(fd, kOpenWrite);
    if (r.del)
        ok &= Take(fd, kOpenDelete);
    if (!r.shareRead)
        ok &= Take(fd, kDenyRead);
    if (!r.shareWrite)
        ok &= Take(fd, kDenyWrite);
    if (!r.shareDelete)
        ok &= Take(fd, kDenyDelete);
    // A descriptor that cannot carry read locks (opened write-only) leaves the open unrecorded; it still
    // passed the check, which is the part that protects the other openers.
    (void)ok;
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
