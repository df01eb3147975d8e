// Drives and volumes from the drive table: type, label, serial, file system, free space, the letter mask.
//
// GetDriveTypeW answers from the table's kind for a root ("C:\"); a letter not in the table is
// DRIVE_NO_ROOT_DIR. Free space comes from the host file system under the letter (statvfs).
// GetVolumeInformationW succeeds only on a drive root (or a share root), as on Windows.
#pragma once

#include "platform/base/types.h"

constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// File-system flags of GetVolumeInformationW.
constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x1;
constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x2;
constexpr DWORD FILE_UNICODE_ON_DISK = 0x4;

UINT GetDriveTypeW(LPCWSTR rootPathName);
DWORD GetLogicalDrives();
DWORD GetLogicalDriveStringsW(DWORD size, LPWSTR buffer);
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                           DWORD fileSystemNameSize);
BOOL SetVolumeLabelW(LPCWSTR rootPathName, LPCWSTR volumeName);
BOOL GetDiskFreeSpaceExW(LPCWSTR directoryName, PULARGE_INTEGER freeBytesAvailable, PULARGE_INTEGER totalBytes,
                         PULARGE_INTEGER totalFreeBytes);
BOOL GetDiskFreeSpaceW(LPCWSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD numberOfFreeClusters, LPDWORD totalNumberOfClusters);
