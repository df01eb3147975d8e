#include "platform/fs/hostfs.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::fs::detail {

namespace {

int64_t Ns(const struct statx_timestamp& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void Fill(const struct statx& sx, HostStat& out) {
    out.mode = sx.stx_mode;
    out.size = sx.stx_size;
    out.nlink = sx.stx_nlink;
    out.ino = sx.stx_ino;
    out.dev = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    out.atimeNs = Ns(sx.stx_atime);
    out.mtimeNs = Ns(sx.stx_mtime);
    out.ctimeNs = Ns(sx.stx_ctime);
    out.btimeNs = (sx.stx_mask & STATX_BTIME) ? Ns(sx.stx_btime) : 0;
}

constexpr unsigned kMask = STATX_BASIC_STATS | STATX_BTIME;

} // namespace

bool HostStat::IsDirectory() const {
    return S_ISDIR(mode);
}
bool HostStat::IsRegular() const {
    return S_ISREG(mode);
}

bool StatPath(int dirfd, const char* path, HostStat& out) {
    struct statx sx;
    if (statx(dirfd, path, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kMask, &sx) != 0)
        return false;
    out = HostStat{};
    if (!S_ISLNK(sx.stx_mode)) {
        Fill(sx, out);
        return true;
    }
    struct statx target;
    if (statx(dirfd, path, AT_NO_AUTOMOUNT, kMask, &target) == 0) {
        Fill(target, out);
    } else {
        Fill(sx, out);
        out.dangling = true;
    }
    out.isLink = true;
    return true;
}

bool StatDescriptor(int fd, HostStat& out) {
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, kMask, &sx) != 0)
        return false;
    out = HostStat{};
    Fill(sx, out);
    return true;
}

int64_t TicksFromUnixNs(int64_t ns) {
    // Floor division so that times before 1970 land on the right tick.
    int64_t q = ns / 100;
    if (ns % 100 < 0)
        --q;
    return q + platform::clock::kUnixEpoch;
}

int64_t UnixNsFromTicks(int64_t ticks) {
    return (ticks - platform::clock::kUnixEpoch) * 100;
}

void ToTimespec(int64_t unixNs, struct timespec& ts) {
    int64_t sec = unixNs / 1'000'000'000;
    int64_t nsec = unixNs % 1'000'000'000;
    if (nsec < 0) {
        nsec += 1'000'000'000;
        --sec;
    }
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(nsec);
}

DWORD MissingError(const std::string& hostPath) {
    auto slash = hostPath.find_last_of('/');
    std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    struct stat st;
    if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

DWORD ErrorForPath(int err, const std::string& hostPath) {
    if (err == ENOENT)
        return MissingError(hostPath);
    if (err == ENOTDIR)
        return ERROR_PATH_NOT_FOUND;
    return platform::Win32ErrorFromErrno(err);
}

} // namespace platform::fs::detail
