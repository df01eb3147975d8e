// The driver's private device-control codes and their records, shared by the driver and its clients.
//
// Every code is METHOD_BUFFERED with device type 0x8500. Records are little-endian and packed as laid out below;
// each one is length-checked by the driver before any field is used.
#pragma once

#include "platform/kernel/ioctl.h"

#include <cstddef>

constexpr ULONG ZENTRA_DEVICE_TYPE = 0x8500;

constexpr ULONG IOCTL_VYXDISK_MOUNT =
    CTL_CODE(ZENTRA_DEVICE_TYPE, 0x800, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_VYXDISK_DISMOUNT = CTL_CODE(ZENTRA_DEVICE_TYPE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_VYXDISK_CHANGE_PASSWD =
    CTL_CODE(ZENTRA_DEVICE_TYPE, 0x802, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_VYXDISK_QUERY_DEVICE = CTL_CODE(ZENTRA_DEVICE_TYPE, 0x803, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_VYXDISK_CREATE_GDOSNAME = CTL_CODE(ZENTRA_DEVICE_TYPE, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_VYXDISK_MOUNT == 0x8500E000 && IOCTL_VYXDISK_DISMOUNT == 0x85002004 &&
              IOCTL_VYXDISK_CHANGE_PASSWD == 0x8500E008 && IOCTL_VYXDISK_QUERY_DEVICE == 0x8500600C &&
              IOCTL_VYXDISK_CREATE_GDOSNAME == 0x85002010);

constexpr ULONG ZENTRA_MAX_DRIVES = 26;
constexpr ULONG ZENTRA_PASSWORD_MAX = 64;

#pragma pack(push, 1)

// IOCTL_VYXDISK_MOUNT input; the input length must be at least PathLength + 102.
struct ZENTRA_DEVICE_RECORD {
    UCHAR CreateNew; // 1 creates the image, 0 opens an existing one
    UCHAR Reserved1;
    USHORT PasswordLength; // bytes, at most 64
    UCHAR Password[68];    // 8-bit text, not terminated
    UCHAR CdRom;           // non-zero: a read-only CD-ROM device over an image without header
    UCHAR Encrypted;       // non-zero: the image holds an encrypted volume
    UCHAR Reserved2[2];
    ULONG DriveNumber;        // 0..25
    ULONG PhysicalDiskNumber; // only stored and reported back
    UCHAR Reserved3[4];
    ULONGLONG ImageSize; // bytes, used when creating a file image
    USHORT PathLength;   // bytes, without the terminator
    WCHAR Path[1];       // NT path of the image, terminated by a zero character
};
static_assert(offsetof(ZENTRA_DEVICE_RECORD, CdRom) == 72 && offsetof(ZENTRA_DEVICE_RECORD, DriveNumber) == 76 &&
              offsetof(ZENTRA_DEVICE_RECORD, ImageSize) == 88 && offsetof(ZENTRA_DEVICE_RECORD, Path) == 98);
constexpr ULONG ZENTRA_DEVICE_RECORD_EXTRA = 102; // input length = PathLength + 102

// IOCTL_VYXDISK_CREATE_GDOSNAME input (at least 12 bytes).
struct ZENTRA_GDOSNAME_RECORD {
    ULONG Operation; // 0 creates the drive-letter link, any other value removes it
    ULONG DriveNumber;
    USHORT NameLength; // bytes
    WCHAR Name[1];     // target device name, terminated by a zero character; used by operation 0
};
static_assert(offsetof(ZENTRA_GDOSNAME_RECORD, Name) == 10);
constexpr ULONG ZENTRA_GDOSNAME_RECORD_MIN = 12;

// IOCTL_VYXDISK_CHANGE_PASSWD input (at least 140 bytes).
struct ZENTRA_PASSWD_RECORD {
    ULONG DriveNumber; // must equal the disk's drive number
    USHORT OldPasswordLength;
    UCHAR OldPassword[66];
    USHORT NewPasswordLength;
    UCHAR NewPassword[66];
};
static_assert(sizeof(ZENTRA_PASSWD_RECORD) == 140 && offsetof(ZENTRA_PASSWD_RECORD, NewPasswordLength) == 72);

// IOCTL_VYXDISK_QUERY_DEVICE output (at least PathLength + 32 bytes).
struct ZENTRA_QUERY_REPLY {
    UCHAR ReadOnly;
    UCHAR Encrypted;
    UCHAR Reserved1[2];
    ULONG DriveNumber;
    ULONG PhysicalDiskNumber;
    UCHAR Reserved2[4];
    ULONGLONG ImageSize;
    USHORT PathLength; // bytes
    WCHAR Path[1];
};
static_assert(offsetof(ZENTRA_QUERY_REPLY, ImageSize) == 16 && offsetof(ZENTRA_QUERY_REPLY, Path) == 26);
constexpr ULONG ZENTRA_QUERY_REPLY_EXTRA = 32; // output length = PathLength + 32

#pragma pack(pop)
