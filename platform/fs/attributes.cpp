#include "platform/fs/attributes.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/fs/files.h"
#include "platform/fs/wholefile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform::fs::detail {

namespace {

constexpr const char* kXattrName = "user.winlayer.attributes";
constexpr uint32_t kRecordVersion = 1;

std::atomic<bool> g_forceStore{false};
std::atomic<bool> g_forcePathReads{false};

// Devices whose file systems refused extended attributes; their files go to the store straight away.
std::mutex g_noXattrMutex;
std::set<uint64_t> g_noXattrDevices;
// Whether the set holds any device: the common case, and a listing's threads, then skip the lock.
std::atomic<bool> g_someDeviceLacksXattrs{false};

bool DeviceLacksXattrs(uint64_t dev) {
    if (g_forceStore.load())
        return true;
    if (!g_someDeviceLacksXattrs.load())
        return false;
    std::lock_guard lock(g_noXattrMutex);
    return g_noXattrDevices.count(dev) != 0;
}

void NoteDeviceLacksXattrs(uint64_t dev) {
    std::lock_guard lock(g_noXattrMutex);
    g_noXattrDevices.insert(dev);
    g_someDeviceLacksXattrs = true;
}

bool RefusesXattrs(int err) {
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

// The on-disk record, little-endian fields in this order. The store's copy adds the birth time and inode so that
// a record of a deleted file is not taken for a new file that got the same inode.
struct Record {
    uint32_t version;
    uint32_t attributes;
    int64_t creation;
    int64_t modifiedStamp;
};
struct StoreRecord {
    Record record;
    uint64_t ino;
    int64_t btimeNs;
};

std::string StorePath(const HostStat& st) {
    char name[64];
    std::snprintf(name, sizeof name, "attributes/%llx-%llx", static_cast<unsigned long long>(st.dev),
                  static_cast<unsigned long long>(st.ino));
    return machine::PathOf(name);
}

// getxattrat (Linux 6.13), called by number where the C library does not know it yet.
#if defined(__x86_64__) || defined(__aarch64__)
constexpr long kGetXattrAt = 464;
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};
std::atomic<bool> g_noGetXattrAt{false};

// The record read through the folder; -1 with errno ENOSYS when the host cannot read it that way.
ssize_t GetXAt(int folderFd, const char* name, void* buf, size_t size) {
    if (g_noGetXattrAt.load(std::memory_order_relaxed))
        return errno = ENOSYS, -1;
    XattrArgs args{reinterpret_cast<uintptr_t>(buf), static_cast<uint32_t>(size), 0};
    long n = syscall(kGetXattrAt, folderFd, name, 0, kXattrName, &args, sizeof args);
    if (n < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG || errno == EINVAL)) {
        // An older kernel, or a sandbox that refuses calls it does not know.
        g_noGetXattrAt.store(true, std::memory_order_relaxed);
        return errno = ENOSYS, -1;
    }
    return n;
}
#else
ssize_t GetXAt(int, const char*, void*, size_t) {
    return errno = ENOSYS, -1;
}
#endif

ssize_t GetX(FileRef f, void* buf, size_t size) {
    if (f.fd >= 0)
        return fgetxattr(f.fd, kXattrName, buf, size);
    if (f.folderFd >= 0 && f.name && !g_forcePathReads.load(std::memory_order_relaxed)) {
        ssize_t n = GetXAt(f.folderFd, f.name, buf, size);
        if (n >= 0 || errno != ENOSYS)
            return n;
    }
    return getxattr(f.path, kXattrName, buf, size);
}

int SetX(FileRef f, const void* buf, size_t size) {
    return f.fd >= 0 ? fsetxattr(f.fd, kXattrName, buf, size, 0) : setxattr(f.path, kXattrName, buf, size, 0);
}

int ChangeMode(FileRef f, mode_t mode) {
    return f.fd >= 0 ? fchmod(f.fd, mode) : chmod(f.path, mode);
}

std::optional<StoredAttributes> FromRecord(const Record& r) {
    if (r.version != kRecordVersion)
        return std::nullopt;
    return StoredAttributes{r.attributes & kStoredAttributeMask, r.creation, r.modifiedStamp};
}

std::optional<StoredAttributes> ReadFromStore(const HostStat& st) {
    int fd = open(StorePath(st).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    StoreRecord sr = {};
    ssize_t n = read(fd, &sr, sizeof sr);
    close(fd);
    if (n != static_cast<ssize_t>(sizeof sr) || sr.ino != st.ino || sr.btimeNs != st.btimeNs)
        return std::nullopt;
    return FromRecord(sr.record);
}

bool WriteToStore(const HostStat& st, const Record& record) {
    const std::string path = StorePath(st);
    const std::string folder = machine::PathOf("attributes");
    mkdir(folder.c_str(), 0700);
    // Written whole or not at all. Like the file it describes, the record does not wait for the disk.
    const StoreRecord sr = {record, st.ino, st.btimeNs};
    if (const DWORD error = WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(&sr), sizeof sr), 0))
        return platform::Fail(error), false;
    return true;
}

} // namespace

std::optional<StoredAttributes> ReadStored(FileRef file, const HostStat& st) {
    if (st.dangling)
        return std::nullopt;
    if (!DeviceLacksXattrs(st.dev)) {
        Record r = {};
        ssize_t n = GetX(file, &r, sizeof r);
        if (n == static_cast<ssize_t>(sizeof r))
            return FromRecord(r);
        if (n >= 0 || !RefusesXattrs(errno))
            return std::nullopt;
        NoteDeviceLacksXattrs(st.dev);
    }
    return ReadFromStore(st);
}

bool WriteStored(FileRef file, const HostStat& st, const StoredAttributes& stored) {
    const Record r = {kRecordVersion, stored.attributes & kStoredAttributeMask, stored.creation, stored.modifiedStamp};
    if (!DeviceLacksXattrs(st.dev)) {
        int rc = SetX(file, &r, sizeof r);
        if (rc != 0 && (errno == EACCES || errno == EPERM) && !(st.mode & S_IWUSR)) {
            // Extended attributes in the user namespace need write permission, which a read-only file lacks.
            if (ChangeMode(file, (st.mode & 07777) | S_IWUSR) == 0) {
                rc = SetX(file, &r, sizeof r);
                int err = errno;
                ChangeMode(file, st.mode & 07777);
                errno = err;
            }
        }
        if (rc == 0)
            return true;
        if (!RefusesXattrs(errno) && errno != EPERM)
            return platform::FailErrno(), false;
        NoteDeviceLacksXattrs(st.dev);
    }
    return WriteToStore(st, r);
}

bool SetStoredAttribute(int fd, uint64_t dev, const StoredAttributes& stored) {
    if (DeviceLacksXattrs(dev))
        return false;
    const Record r = {kRecordVersion, stored.attributes & kStoredAttributeMask, stored.creation, stored.modifiedStamp};
    return SetX(FileRef{fd, nullptr}, &r, sizeof r) == 0;
}

void ForgetStored(const HostStat& st) {
    if (DeviceLacksXattrs(st.dev))
        unlink(StorePath(st).c_str());
}

DWORD ComputeAttributes(const HostStat& st, std::string_view name, const std::optional<StoredAttributes>& record) {
    DWORD a = 0;
    const bool dir = st.IsDirectory() && !st.dangling;
    if (record) {
        a = record->attributes;
        if (!dir && !(a & FILE_ATTRIBUTE_ARCHIVE) && record->modifiedStamp != st.mtimeNs)
            a |= FILE_ATTRIBUTE_ARCHIVE; // written since the bit was cleared, as Windows marks it
    } else if (!dir) {
        a = FILE_ATTRIBUTE_ARCHIVE;
    }
    if (dir) {
        a |= FILE_ATTRIBUTE_DIRECTORY;
    } else {
        a &= ~FILE_ATTRIBUTE_READONLY;
        if (!st.dangling && !(st.mode & S_IWUSR))
            a |= FILE_ATTRIBUTE_READONLY;
    }
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        a |= FILE_ATTRIBUTE_HIDDEN;
    if (st.isLink)
        a |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (a == 0)
        a = FILE_ATTRIBUTE_NORMAL;
    return a;
}

int64_t CreationTicks(const HostStat& st, const std::optional<StoredAttributes>& record) {
    if (record && record->creation != 0)
        return record->creation;
    if (st.btimeNs != 0)
        return TicksFromUnixNs(st.btimeNs);
    return TicksFromUnixNs(st.ctimeNs < st.mtimeNs ? st.ctimeNs : st.mtimeNs);
}

void ForcePathAttributeReadsForTests(bool force) {
    g_forcePathReads.store(force);
}

void ForceAttributeStoreForTests(bool force) {
    g_forceStore.store(force);
}

} // namespace platform::fs::detail
