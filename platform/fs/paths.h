// Windows paths to host paths, in one place.
//
// The drive table maps letters to host folders: by default C: is the user's home folder; more letters come
// from the file "drives" in the machine folder (one "X=/host/folder" line each, optionally followed by
// ";type=removable|fixed|remote|cdrom|ramdisk;label=...;serial=XXXXXXXX;fs=NTFS") and from SetDrive.
// The "\\?\" prefix is dropped, '\' and '/' both separate, "\\server\share" goes through the share table,
// "\\.\NAME" names a device (served by the openers of RegisterDeviceOpener, files.h). A component that does not exist
// in the exact case is looked up case-insensitively among its siblings. A host path outside every letter has no Windows
// name.
#pragma once

#include "platform/base/types.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::fs {

enum class DriveKind { Unknown, Removable, Fixed, Remote, CdRom, RamDisk };

struct DriveInfo {
    WCHAR letter = 0;     // 'A'..'Z'
    std::string hostRoot; // host folder the letter stands for
    DriveKind kind = DriveKind::Fixed;
    std::u16string label; // volume label
    DWORD serial = 0;     // volume serial number
    std::u16string fileSystem = u"NTFS";
    // A raw disk: a device behind the letter with no file system this layer reads, and no host folder. Its
    // root has no volume information and no names below it (ERROR_UNRECOGNIZED_VOLUME).
    bool raw = false;
};

// The current drive table, letters in order: the table's letters and those of the drive providers.
std::vector<DriveInfo> Drives();
std::optional<DriveInfo> Drive(WCHAR letter);

// Letters that exist only while something else holds them (a device linked to the letter). Providers are asked
// at every look-up of the whole table and of a letter the table does not have; a letter already in the table
// keeps the table's entry. A provider runs without the table's lock held and must not throw.
using DriveProvider = std::function<std::vector<DriveInfo>()>;
void RegisterDriveProvider(DriveProvider provider);
// A provider's letters changed (a device's volume came or went): whoever watches the letters is told, on the
// caller's thread. Changes of the table itself are not announced this way; they show in its file.
using DrivesChangedListener = std::function<void()>;
void AddDrivesChangedListener(DrivesChangedListener listener);
void NotifyDrivesChanged();
// Adds or replaces a letter (persisted in the machine folder's "drives" file).
bool SetDrive(const DriveInfo& info);
bool RemoveDrive(WCHAR letter);

// Share table for UNC paths: "\\server\share" -> host folder (persisted in the machine folder).
bool SetShare(const std::u16string& server, const std::u16string& share, const std::string& hostRoot);
bool RemoveShare(const std::u16string& server, const std::u16string& share);
struct ShareInfo {
    std::u16string server;
    std::u16string share;
    std::string hostRoot;
};
// Every share of the table, in the table's order.
std::vector<ShareInfo> Shares();

enum class PathKind { File, Device };

struct HostPath {
    PathKind kind = PathKind::File;
    std::string path;      // host path for files
    std::u16string device; // device name for "\\.\NAME"
};

// Translates a Windows path. Relative paths are taken against the process's current directory (a Windows
// path kept by the layer, default C:\). Fails with ERROR_PATH_NOT_FOUND for an unknown letter, ERROR_BAD_NETPATH
// for an unknown share,
// ERROR_INVALID_NAME for an empty or malformed path, ERROR_FILENAME_EXCED_RANGE past 32767 characters.
// Existing components are matched case-insensitively when the exact case does not exist.
std::optional<HostPath> ToHost(LPCWSTR windowsPath);
// The Windows name of a host path, if it lies under a drive letter.
std::optional<std::u16string> ToWindows(const std::string& hostPath);
// A number that changes whenever the drive table is read anew, so that a caller may keep translations made with
// ToWindows while it stays the same. The table's file is looked at again as a letter's translation looks at it:
// a change this process made counts at once, one another process made within 20 ms.
uint64_t DriveTableVersion();

// The full form of a Windows path, as GetFullPathNameW gives it: '/' turned into '\', the "\\?\" prefix
// dropped, "." and ".." resolved, relative paths completed from the current folder ("sub\x" -> "C:\dir\sub\x").
// A path that cannot be parsed comes back unchanged.
std::u16string NormalizeWindowsPath(std::u16string path);

} // namespace platform::fs

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
BOOL SetCurrentDirectoryW(LPCWSTR path);
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart);
DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size);
DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
