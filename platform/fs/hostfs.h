// Private helpers of the file layer: host stat records, time conversions, the resolution of Windows paths
// with the details the file functions need, and the Win32 code for a missing path.
#pragma once

#include "platform/base/types.h"
#include "platform/fs/paths.h"

#include <cstdint>
#include <optional>
#include <string>

struct timespec;

namespace platform::fs::detail {

// What the layer needs to know of a host file, from one statx call.
struct HostStat {
    uint32_t mode = 0;
    uint64_t size = 0;
    uint64_t nlink = 0;
    uint64_t ino = 0;
    uint64_t dev = 0;
    int64_t atimeNs = 0; // nanoseconds since 1970
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    int64_t btimeNs = 0; // birth time, 0 when the file system does not keep it
    bool isLink = false; // the name is a symbolic link (the other fields describe its target when it resolves)
    bool dangling = false;
    bool IsDirectory() const;
    bool IsRegular() const;
};

// statx of `path` relative to `dirfd` (AT_FDCWD for absolute paths), following a final symbolic link and
// noting that it was one. False with errno set when the name does not exist.
bool StatPath(int dirfd, const char* path, HostStat& out);
// statx of an open descriptor.
bool StatDescriptor(int fd, HostStat& out);

// FILETIME ticks from Unix nanoseconds and back.
int64_t TicksFromUnixNs(int64_t ns);
int64_t UnixNsFromTicks(int64_t ticks);
void ToTimespec(int64_t unixNs, struct timespec& ts);

// ERROR_FILE_NOT_FOUND when the folder of `hostPath` exists, else ERROR_PATH_NOT_FOUND.
DWORD MissingError(const std::string& hostPath);
// The Win32 code for a failed host call on `hostPath` with `err`: missing names are told apart as above.
DWORD ErrorForPath(int err, const std::string& hostPath);

// A translated Windows path with what the file functions need besides the host path.
struct ResolvedPath {
    HostPath host;
    bool isRoot = false;       // a drive or share root
    WCHAR letter = 0;          // drive letter, 0 for shares and devices
    std::u16string lastName;   // last component as the caller wrote it (empty for a root)
    std::string hostParent;    // host folder holding the last component
    bool knownMissing = false; // the name was just found not to exist, in any case
    // The name's stat, taken while resolving when it exists in the exact case. A caller about to stat the same
    // path may use it instead: it is no older than a stat made just after the lookup would be.
    std::optional<HostStat> found;
};
// ToHost with details; sets the last error and returns nothing on failure.
std::optional<ResolvedPath> Resolve(LPCWSTR windowsPath);
// The host path the name has when it exists exactly as written, without looking at the disk: a caller that
// opens this path successfully has found what Resolve would have found. Nothing for devices and failures.
std::optional<std::string> ExactHostPath(LPCWSTR windowsPath);

// The serial number of the volume a host path lies on (the drive table's, else one derived from the device).
DWORD VolumeSerialOf(const std::string& hostPath, uint64_t dev);

} // namespace platform::fs::detail
