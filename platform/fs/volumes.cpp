#include "platform/fs/volumes.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/hostfs.h"
#include "platform/fs/paths.h"

#include <algorithm>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform::fs {

namespace {

constexpr DWORD kMaximumComponentLength = 255;

bool IsLetter(WCHAR c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
WCHAR Upper(WCHAR c) {
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

std::u16string WithoutLongPrefix(std::u16string s) {
    std::replace(s.begin(), s.end(), u'/', u'\\');
    if (s.rfind(u"\\\\?\\", 0) == 0 || s.rfind(u"\\\\.\\", 0) == 0)
        s.erase(0, 4);
    return s;
}

// The drive or share root a root path names. A path below a root fails with ERROR_DIR_NOT_ROOT, a root
// without its backslash with ERROR_INVALID_NAME, as Windows answers.
struct Root {
    WCHAR letter = 0;               // 0 for a share
    std::optional<DriveInfo> drive; // for a letter
    std::string hostRoot;
    std::u16string shareName; // "\\server\share" for a share
};

std::optional<Root> RootOf(LPCWSTR rootPathName, DWORD& error) {
    std::u16string s;
    if (rootPathName) {
        s = WithoutLongPrefix(rootPathName);
    } else {
        WCHAR cwd[4] = {};
        // The current folder's drive; a current folder on a share gives its root below.
        std::u16string current(32768, u'\0');
        DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
        current.resize(n);
        if (current.size() >= 2 && current[1] == u':') {
            cwd[0] = current[0];
            cwd[1] = u':';
            cwd[2] = u'\\';
            s = cwd;
        } else {
            auto third = current.find(u'\\', 2);
            auto fourth = third == std::u16string::npos ? third : current.find(u'\\', third + 1);
            s = current.substr(0, fourth) + u"\\";
        }
    }
    Root root;
    if (s.size() >= 2 && IsLetter(s[0]) && s[1] == u':') {
        if (s.size() == 2) {
            error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        if (s.size() > 3 || s[2] != u'\\') {
            error = s.back() == u'\\' ? ERROR_DIR_NOT_ROOT : ERROR_INVALID_NAME;
            return std::nullopt;
        }
        root.letter = Upper(s[0]);
        root.drive = Drive(root.letter);
        if (!root.drive) {
            error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        root.hostRoot = root.drive->hostRoot;
        return root;
    }
    if (s.rfind(u"UNC\\", 0) == 0)
        s = u"\\\\" + s.substr(4);
    if (s.rfind(u"\\\\", 0) == 0) {
        auto a = s.find(u'\\', 2);
        auto b = a == std::u16string::npos ? a : s.find(u'\\', a + 1);
        if (a == std::u16string::npos || b == a + 1) {
            error = ERROR_BAD_NETPATH;
            return std::nullopt;
        }
        if (b == std::u16string::npos) {
            error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        if (b + 1 != s.size()) {
            error = ERROR_DIR_NOT_ROOT;
            return std::nullopt;
        }
        auto host = ToHost(s.c_str());
        if (!host) {
            error = GetLastError();
            return std::nullopt;
        }
        root.hostRoot = host->path;
        root.shareName = s.substr(0, b);
        return root;
    }
    error = ERROR_INVALID_NAME;
    return std::nullopt;
}

UINT TypeOf(DriveKind kind) {
    switch (kind) {
    case DriveKind::Removable:
        return DRIVE_REMOVABLE;
    case DriveKind::Fixed:
        return DRIVE_FIXED;
    case DriveKind::Remote:
        return DRIVE_REMOTE;
    case DriveKind::CdRom:
        return DRIVE_CDROM;
    case DriveKind::RamDisk:
        return DRIVE_RAMDISK;
    case DriveKind::Unknown:
        break;
    }
    return DRIVE_UNKNOWN;
}

bool FolderExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD HashSerial(const std::u16string& text) {
    uint32_t h = 2166136261u;
    for (WCHAR c : text) {
        h ^= platform::FoldUpper(c);
        h *= 16777619u;
    }
    return h;
}

bool CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size) {
    if (!buffer)
        return true;
    // A value that does not fit is refused whole rather than handed out cut.
    if (size < text.size() + 1)
        return platform::Fail(ERROR_INSUFFICIENT_BUFFER), false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

} // namespace

namespace detail {

DWORD VolumeSerialOf(const std::string& hostPath, uint64_t dev) {
    if (auto windows = ToWindows(hostPath); windows && windows->size() >= 2 && (*windows)[1] == u':')
        if (auto drive = Drive((*windows)[0]))
            return drive->serial;
    return static_cast<DWORD>(dev ^ (dev >> 32));
}

} // namespace detail

} // namespace platform::fs

using platform::Fail;
using namespace platform::fs;

UINT GetDriveTypeW(LPCWSTR rootPathName) {
    DWORD error = ERROR_SUCCESS;
    auto root = RootOf(rootPathName, error);
    if (!root)
        return DRIVE_NO_ROOT_DIR;
    if (!root->drive)
        return DRIVE_REMOTE;
    return TypeOf(root->drive->kind);
}

DWORD GetLogicalDrives() {
    DWORD mask = 0;
    for (const DriveInfo& d : Drives())
        mask |= 1u << (d.letter - u'A');
    return mask;
}

DWORD GetLogicalDriveStringsW(DWORD size, LPWSTR buffer) {
    std::u16string all;
    for (const DriveInfo& d : Drives()) {
        all += d.letter;
        all += u":\\";
        all += u'\0';
    }
    if (!buffer || size < all.size() + 1)
        return static_cast<DWORD>(all.size() + 1);
    std::copy(all.begin(), all.end(), buffer);
    buffer[all.size()] = 0;
    return static_cast<DWORD>(all.size());
}

BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                           DWORD fileSystemNameSize) {
    DWORD error = ERROR_SUCCESS;
    auto root = RootOf(rootPathName, error);
    if (!root)
        return Fail(error), FALSE;
    // A raw disk has no file system to describe.
    if (root->drive && root->drive->raw)
        return Fail(ERROR_UNRECOGNIZED_VOLUME), FALSE;
    // A letter whose folder is not there is a drive without a medium.
    if (!FolderExists(root->hostRoot))
        return Fail(ERROR_NOT_READY), FALSE;
    const std::u16string label = root->drive ? root->drive->label : u"";
    const std::u16string fs = root->drive ? root->drive->fileSystem : u"NTFS";
    if (!CopyOut(label, volumeName, volumeNameSize) || !CopyOut(fs, fileSystemName, fileSystemNameSize))
        return FALSE;
    if (serialNumber)
        *serialNumber = root->drive ? root->drive->serial : HashSerial(root->shareName);
    if (maximumComponentLength)
        *maximumComponentLength = kMaximumComponentLength;
    if (fileSystemFlags)
        *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    return TRUE;
}

BOOL SetVolumeLabelW(LPCWSTR rootPathName, LPCWSTR volumeName) {
    DWORD error = ERROR_SUCCESS;
    auto root = RootOf(rootPathName, error);
    if (!root)
        return Fail(error), FALSE;
    if (!root->drive)
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (root->drive->raw)
        return Fail(ERROR_UNRECOGNIZED_VOLUME), FALSE;
    DriveInfo info = *root->drive;
    info.label = volumeName ? std::u16string(volumeName) : std::u16string();
    if (info.label.size() > 32)
        return Fail(ERROR_INVALID_NAME), FALSE;
    return SetDrive(info) ? TRUE : FALSE;
}

namespace {

bool FreeSpaceOf(LPCWSTR directoryName, struct statvfs& vfs) {
    std::u16string dir = directoryName ? std::u16string(directoryName) : std::u16string(u".");
    auto resolved = ToHost(dir.c_str());
    if (!resolved)
        return false;
    if (resolved->kind != PathKind::File)
        return Fail(ERROR_INVALID_NAME), false;
    struct stat st;
    if (stat(resolved->path.c_str(), &st) != 0)
        return Fail(platform::fs::detail::ErrorForPath(errno, resolved->path)), false;
    if (!S_ISDIR(st.st_mode))
        return Fail(ERROR_DIRECTORY), false;
    if (statvfs(resolved->path.c_str(), &vfs) != 0)
        return platform::FailErrno(), false;
    return true;
}

} // namespace

BOOL GetDiskFreeSpaceExW(LPCWSTR directoryName, PULARGE_INTEGER freeBytesAvailable, PULARGE_INTEGER totalBytes,
                         PULARGE_INTEGER totalFreeBytes) {
    struct statvfs vfs;
    if (!FreeSpaceOf(directoryName, vfs))
        return FALSE;
    const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeBytesAvailable)
        freeBytesAvailable->QuadPart = static_cast<uint64_t>(vfs.f_bavail) * unit;
    if (totalBytes)
        totalBytes->QuadPart = static_cast<uint64_t>(vfs.f_blocks) * unit;
    if (totalFreeBytes)
        totalFreeBytes->QuadPart = static_cast<uint64_t>(vfs.f_bfree) * unit;
    return TRUE;
}

BOOL GetDiskFreeSpaceW(LPCWSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD numberOfFreeClusters, LPDWORD totalNumberOfClusters) {
    struct statvfs vfs;
    if (!FreeSpaceOf(rootPathName, vfs))
        return FALSE;
    const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    constexpr uint64_t kSector = 512;
    // As Windows does for large volumes, the cluster counts stop at what a DWORD holds.
    auto clamp = [](uint64_t v) { return static_cast<DWORD>(std::min<uint64_t>(v, 0xFFFFFFFFu)); };
    if (sectorsPerCluster)
        *sectorsPerCluster = static_cast<DWORD>(std::max<uint64_t>(1, unit / kSector));
    if (bytesPerSector)
        *bytesPerSector = static_cast<DWORD>(kSector);
    if (numberOfFreeClusters)
        *numberOfFreeClusters = clamp(vfs.f_bavail);
    if (totalNumberOfClusters)
        *totalNumberOfClusters = clamp(vfs.f_blocks);
    return TRUE;
}
