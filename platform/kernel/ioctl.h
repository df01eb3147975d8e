// Device-control codes and the records of the standard disk, storage, mount-manager and CD-ROM requests.
//
// The same definitions serve both sides: drivers answer these codes and user-mode programs send them with
// DeviceIoControl (device_io.h). A code packs the device type, the access a handle needs, a function number and
// the transfer method, as the system lays it out; the I/O manager checks the access bits against the handle
// before the request reaches a driver. Records have the system's layout and sizes.
#pragma once

#include "platform/base/types.h"

#include <cstddef>

using DEVICE_TYPE = ULONG;

#define CTL_CODE(deviceType, function, method, access)                                                                 \
    ((static_cast<ULONG>(deviceType) << 16) | (static_cast<ULONG>(access) << 14) |                                     \
     (static_cast<ULONG>(function) << 2) | static_cast<ULONG>(method))
#define DEVICE_TYPE_FROM_CTL_CODE(code) ((static_cast<ULONG>(code) & 0xFFFF0000u) >> 16)
#define METHOD_FROM_CTL_CODE(code) (static_cast<ULONG>(code) & 3u)
#define ACCESS_FROM_CTL_CODE(code) ((static_cast<ULONG>(code) >> 14) & 3u)

constexpr ULONG METHOD_BUFFERED = 0;
constexpr ULONG METHOD_IN_DIRECT = 1;
constexpr ULONG METHOD_OUT_DIRECT = 2;
constexpr ULONG METHOD_NEITHER = 3;

constexpr ULONG FILE_ANY_ACCESS = 0;
constexpr ULONG FILE_READ_ACCESS = 1;
constexpr ULONG FILE_WRITE_ACCESS = 2;
constexpr ULONG FILE_SPECIAL_ACCESS = FILE_ANY_ACCESS;

constexpr DEVICE_TYPE FILE_DEVICE_CD_ROM = 0x02;
constexpr DEVICE_TYPE FILE_DEVICE_CONTROLLER = 0x04;
constexpr DEVICE_TYPE FILE_DEVICE_DISK = 0x07;
constexpr DEVICE_TYPE FILE_DEVICE_DISK_FILE_SYSTEM = 0x08;
constexpr DEVICE_TYPE FILE_DEVICE_FILE_SYSTEM = 0x09;
constexpr DEVICE_TYPE FILE_DEVICE_NULL = 0x15;
constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x22;
constexpr DEVICE_TYPE FILE_DEVICE_VIRTUAL_DISK = 0x24;
constexpr DEVICE_TYPE FILE_DEVICE_MASS_STORAGE = 0x2D;

// Device characteristics, as a driver gives them to its device and a program sees them.
constexpr ULONG FILE_REMOVABLE_MEDIA = 0x00000001;
constexpr ULONG FILE_READ_ONLY_DEVICE = 0x00000002;
constexpr ULONG FILE_FLOPPY_DISKETTE = 0x00000004;
constexpr ULONG FILE_WRITE_ONCE_MEDIA = 0x00000008;
constexpr ULONG FILE_REMOTE_DEVICE = 0x00000010;
constexpr ULONG FILE_DEVICE_IS_MOUNTED = 0x00000020;
constexpr ULONG FILE_VIRTUAL_VOLUME = 0x00000040;
constexpr ULONG FILE_DEVICE_SECURE_OPEN = 0x00000100;

constexpr ULONG IOCTL_DISK_BASE = FILE_DEVICE_DISK;
constexpr ULONG IOCTL_STORAGE_BASE = FILE_DEVICE_MASS_STORAGE;
constexpr ULONG IOCTL_CDROM_BASE = FILE_DEVICE_CD_ROM;
constexpr ULONG MOUNTDEVCONTROLTYPE = 0x4D;
constexpr ULONG FTTYPE = 0x66;

constexpr ULONG IOCTL_DISK_GET_DRIVE_GEOMETRY = CTL_CODE(IOCTL_DISK_BASE, 0x0000, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_GET_PARTITION_INFO = CTL_CODE(IOCTL_DISK_BASE, 0x0001, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_DISK_SET_PARTITION_INFO =
    CTL_CODE(IOCTL_DISK_BASE, 0x0002, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_DISK_VERIFY = CTL_CODE(IOCTL_DISK_BASE, 0x0005, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_IS_WRITABLE = CTL_CODE(IOCTL_DISK_BASE, 0x0009, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_GET_PARTITION_INFO_EX = CTL_CODE(IOCTL_DISK_BASE, 0x0012, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_GET_DRIVE_LAYOUT = CTL_CODE(IOCTL_DISK_BASE, 0x0003, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_DISK_SET_DRIVE_LAYOUT =
    CTL_CODE(IOCTL_DISK_BASE, 0x0004, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_DISK_GET_DRIVE_LAYOUT_EX = CTL_CODE(IOCTL_DISK_BASE, 0x0014, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_SET_DRIVE_LAYOUT_EX =
    CTL_CODE(IOCTL_DISK_BASE, 0x0015, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_DISK_CREATE_DISK =
    CTL_CODE(IOCTL_DISK_BASE, 0x0016, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr ULONG IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = CTL_CODE(IOCTL_DISK_BASE, 0x0028, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_UPDATE_PROPERTIES = CTL_CODE(IOCTL_DISK_BASE, 0x0050, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_DISK_GET_LENGTH_INFO = CTL_CODE(IOCTL_DISK_BASE, 0x0017, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_DISK_CHECK_VERIFY = CTL_CODE(IOCTL_DISK_BASE, 0x0200, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_DISK_MEDIA_REMOVAL = CTL_CODE(IOCTL_DISK_BASE, 0x0201, METHOD_BUFFERED, FILE_READ_ACCESS);

constexpr ULONG IOCTL_STORAGE_CHECK_VERIFY = CTL_CODE(IOCTL_STORAGE_BASE, 0x0200, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_STORAGE_CHECK_VERIFY2 = CTL_CODE(IOCTL_STORAGE_BASE, 0x0200, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_STORAGE_MEDIA_REMOVAL = CTL_CODE(IOCTL_STORAGE_BASE, 0x0201, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_STORAGE_GET_HOTPLUG_INFO = CTL_CODE(IOCTL_STORAGE_BASE, 0x0305, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_STORAGE_GET_DEVICE_NUMBER =
    CTL_CODE(IOCTL_STORAGE_BASE, 0x0420, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_STORAGE_QUERY_PROPERTY = CTL_CODE(IOCTL_STORAGE_BASE, 0x0500, METHOD_BUFFERED, FILE_ANY_ACCESS);

constexpr ULONG IOCTL_VOLUME_BASE = 0x56;
constexpr ULONG IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = CTL_CODE(IOCTL_VOLUME_BASE, 0, METHOD_BUFFERED, FILE_ANY_ACCESS);

constexpr ULONG IOCTL_MOUNTDEV_QUERY_UNIQUE_ID = CTL_CODE(MOUNTDEVCONTROLTYPE, 0, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_MOUNTDEV_QUERY_DEVICE_NAME = CTL_CODE(MOUNTDEVCONTROLTYPE, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);

constexpr ULONG IOCTL_CDROM_READ_TOC = CTL_CODE(IOCTL_CDROM_BASE, 0x0000, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_CDROM_GET_DRIVE_GEOMETRY = CTL_CODE(IOCTL_CDROM_BASE, 0x0013, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_CDROM_READ_TOC_EX = CTL_CODE(IOCTL_CDROM_BASE, 0x0015, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr ULONG IOCTL_CDROM_CHECK_VERIFY = CTL_CODE(IOCTL_CDROM_BASE, 0x0200, METHOD_BUFFERED, FILE_READ_ACCESS);

constexpr ULONG FT_BALANCED_READ_MODE = CTL_CODE(FTTYPE, 6, METHOD_NEITHER, FILE_ANY_ACCESS);

constexpr ULONG FSCTL_LOCK_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 6, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG FSCTL_UNLOCK_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 7, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG FSCTL_DISMOUNT_VOLUME = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 8, METHOD_BUFFERED, FILE_ANY_ACCESS);

enum MEDIA_TYPE : int32_t { Unknown = 0, RemovableMedia = 11, FixedMedia = 12 };

struct DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24);

struct PARTITION_INFORMATION {
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER PartitionLength;
    DWORD HiddenSectors;
    DWORD PartitionNumber;
    BYTE PartitionType;
    BOOLEAN BootIndicator;
    BOOLEAN RecognizedPartition;
    BOOLEAN RewritePartition;
};
static_assert(sizeof(PARTITION_INFORMATION) == 32);

struct SET_PARTITION_INFORMATION {
    BYTE PartitionType;
};

enum PARTITION_STYLE : int32_t { PARTITION_STYLE_MBR = 0, PARTITION_STYLE_GPT = 1, PARTITION_STYLE_RAW = 2 };

struct PARTITION_INFORMATION_MBR {
    BYTE PartitionType;
    BOOLEAN BootIndicator;
    BOOLEAN RecognizedPartition;
    DWORD HiddenSectors;
};

struct PARTITION_INFORMATION_GPT {
    GUID PartitionType;
    GUID PartitionId;
    DWORD64 Attributes;
    WCHAR Name[36];
};

struct PARTITION_INFORMATION_EX {
    PARTITION_STYLE PartitionStyle;
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER PartitionLength;
    DWORD PartitionNumber;
    BOOLEAN RewritePartition;
    union {
        PARTITION_INFORMATION_MBR Mbr;
        PARTITION_INFORMATION_GPT Gpt;
    };
};
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144);

struct GET_LENGTH_INFORMATION {
    LARGE_INTEGER Length;
};

struct VERIFY_INFORMATION {
    LARGE_INTEGER StartingOffset;
    DWORD Length;
};
static_assert(sizeof(VERIFY_INFORMATION) == 16);

struct PREVENT_MEDIA_REMOVAL {
    BOOLEAN PreventMediaRemoval;
};

struct STORAGE_DEVICE_NUMBER {
    DEVICE_TYPE DeviceType;
    DWORD DeviceNumber;
    DWORD PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);

struct STORAGE_HOTPLUG_INFO {
    DWORD Size;
    BOOLEAN MediaRemovable;
    BOOLEAN MediaHotplug;
    BOOLEAN DeviceHotplug;
    BOOLEAN WriteCacheEnableOverride;
};
static_assert(sizeof(STORAGE_HOTPLUG_INFO) == 8);

struct MOUNTDEV_NAME {
    USHORT NameLength;
    WCHAR Name[1];
};

struct MOUNTDEV_UNIQUE_ID {
    USHORT UniqueIdLength;
    UCHAR UniqueId[1];
};

struct TRACK_DATA {
    UCHAR Reserved;
    UCHAR Control : 4;
    UCHAR Adr : 4;
    UCHAR TrackNumber;
    UCHAR Reserved1;
    UCHAR Address[4];
};

constexpr ULONG MAXIMUM_NUMBER_TRACKS = 100;

struct CDROM_TOC {
    UCHAR Length[2];
    UCHAR FirstTrack;
    UCHAR LastTrack;
    TRACK_DATA TrackData[MAXIMUM_NUMBER_TRACKS];
};
static_assert(sizeof(CDROM_TOC) == 804);

struct CDROM_READ_TOC_EX {
    UCHAR Format : 4;
    UCHAR Reserved1 : 3;
    UCHAR Msf : 1;
    UCHAR SessionTrack;
    UCHAR Reserved2;
    UCHAR Reserved3;
};
static_assert(sizeof(CDROM_READ_TOC_EX) == 4);

constexpr UCHAR CDROM_READ_TOC_EX_FORMAT_TOC = 0;

struct DRIVE_LAYOUT_INFORMATION {
    DWORD PartitionCount;
    DWORD Signature;
    PARTITION_INFORMATION PartitionEntry[1];
};
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION) == 40);

struct DRIVE_LAYOUT_INFORMATION_MBR {
    DWORD Signature;
    DWORD CheckSum;
};

struct DRIVE_LAYOUT_INFORMATION_GPT {
    GUID DiskId;
    LARGE_INTEGER StartingUsableOffset;
    LARGE_INTEGER UsableLength;
    DWORD MaxPartitionCount;
};

struct DRIVE_LAYOUT_INFORMATION_EX {
    DWORD PartitionStyle;
    DWORD PartitionCount;
    union {
        DRIVE_LAYOUT_INFORMATION_MBR Mbr;
        DRIVE_LAYOUT_INFORMATION_GPT Gpt;
    };
    PARTITION_INFORMATION_EX PartitionEntry[1];
};
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48);

struct CREATE_DISK_MBR {
    DWORD Signature;
};

struct CREATE_DISK_GPT {
    GUID DiskId;
    DWORD MaxPartitionCount;
};

struct CREATE_DISK {
    PARTITION_STYLE PartitionStyle;
    union {
        CREATE_DISK_MBR Mbr;
        CREATE_DISK_GPT Gpt;
    };
};
static_assert(sizeof(CREATE_DISK) == 24);

struct DISK_PARTITION_INFO {
    DWORD SizeOfPartitionInfo;
    PARTITION_STYLE PartitionStyle;
    union {
        struct {
            DWORD Signature;
            DWORD CheckSum;
        } Mbr;
        struct {
            GUID DiskId;
        } Gpt;
    };
};
static_assert(sizeof(DISK_PARTITION_INFO) == 24);

struct DISK_GEOMETRY_EX {
    DISK_GEOMETRY Geometry;
    LARGE_INTEGER DiskSize;
    BYTE Data[1]; // DISK_PARTITION_INFO, then the detection record
};

enum STORAGE_PROPERTY_ID : int32_t { StorageDeviceProperty = 0, StorageAdapterProperty = 1 };
enum STORAGE_QUERY_TYPE : int32_t { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);

struct STORAGE_DESCRIPTOR_HEADER {
    DWORD Version;
    DWORD Size;
};

enum STORAGE_BUS_TYPE : int32_t { BusTypeUnknown = 0, BusTypeScsi = 1, BusTypeAta = 3, BusTypeUsb = 7 };

struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40);

struct STORAGE_ADAPTER_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    DWORD MaximumTransferLength;
    DWORD MaximumPhysicalPages;
    DWORD AlignmentMask;
    BOOLEAN AdapterUsesPio;
    BOOLEAN AdapterScansDown;
    BOOLEAN CommandQueueing;
    BOOLEAN AcceleratedTransfer;
    BYTE BusType;
    WORD BusMajorVersion;
    WORD BusMinorVersion;
};
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32);

struct DISK_EXTENT {
    DWORD DiskNumber;
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER ExtentLength;
};

struct VOLUME_DISK_EXTENTS {
    DWORD NumberOfDiskExtents;
    DISK_EXTENT Extents[1];
};
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32);
