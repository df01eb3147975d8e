// User-mode access to devices of the kernel host: CreateFileW on "\\.\NAME", DeviceIoControl, ReadFile,
// WriteFile and CloseHandle on such handles, and the DOS device names (DefineDosDeviceW, QueryDosDeviceW).
//
// "\\.\NAME" is looked up as "\??\NAME" in the host's object namespace: the session's own definitions first,
// then the global links that drivers create. Each open handle has its own connection to the host, so requests
// on different handles run in parallel, and a program that ends closes its devices with it. Requests become
// IRPs in the host; their NTSTATUS reaches the caller as the Win32 error of the system's standard conversion
// (STATUS_WRONG_PASSWORD is ERROR_INVALID_PASSWORD, for instance). A name that no device answers is left to
// the next opener of the file layer (volumes of the drive table) with ERROR_FILE_NOT_FOUND.
//
// Reads and writes use the handle's own position, or the OVERLAPPED offset when one is given; they complete
// before returning. SetFilePointerEx moves that position (FILE_END counts from the disk's length) and
// GetFileSizeEx gives the disk's length (IOCTL_DISK_GET_LENGTH_INFO, so the handle needs read access). Drive letters
// that lead to a device through "\??" are reported by DeviceDriveLetters, which the file layer's drive table lists as
// raw disks.
#pragma once

#include "platform/base/types.h"
#include "platform/kernel/ioctl.h"

#include <string>
#include <vector>

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);

constexpr DWORD DDD_RAW_TARGET_PATH = 0x00000001;
constexpr DWORD DDD_REMOVE_DEFINITION = 0x00000002;
constexpr DWORD DDD_EXACT_MATCH_ON_REMOVE = 0x00000004;
constexpr DWORD DDD_NO_BROADCAST_SYSTEM = 0x00000008;

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR deviceName, LPCWSTR targetPath);
// Fills the buffer with the targets of the name (newest first) or, for a null name, every name, each
// terminated, with one more terminator at the end. Returns the characters stored, or 0 with
// ERROR_INSUFFICIENT_BUFFER when they do not fit.
DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max);

namespace platform::kernel {

// Registers the device opener with the file layer (done automatically when this part of the layer is linked;
// calling it again does nothing).
void EnableDeviceAccess();

// The drive letters (0..25) that currently lead to a device, with the device's NT name, type and characteristics.
// Empty when no host runs. The file layer's drive table lists them as raw disks: a CD-ROM device as a CD-ROM
// drive, a disk as a fixed drive (removable or remote by its characteristics), any other device as a drive of
// unknown type.
struct DeviceDriveLetter {
    int drive = 0;
    std::u16string device;
    ULONG deviceType = 0;
    ULONG characteristics = 0;
    // The folder where the host keeps the files of the file system mounted on the device (empty: a raw disk),
    // and the volume's file-system name, label and serial number.
    std::string hostRoot;
    std::u16string fileSystem;
    std::u16string label;
    ULONG serial = 0;
};
std::vector<DeviceDriveLetter> DeviceDriveLetters();

// Called by the kernel host itself: the drive letters come from `source` (its own namespace) instead of over the
// socket.
using DriveLetterSource = std::vector<DeviceDriveLetter> (*)();
void UseLocalDriveLetters(DriveLetterSource source);

} // namespace platform::kernel
