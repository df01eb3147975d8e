// The driver's own declarations: the device extension, the slot table, the traces and the routines that the
// driver's source files share.
#pragma once

#include "driver/Crypto.h"
#include "driver/ZentraIoctl.h"
#include "platform/kernel/kernel.h"

#include <atomic>
#include <memory>

// Trace levels: a trace prints when its level's bit is in the driver's mask.
constexpr ULONG ZENTRA_DBG_ERROR = 0x01;
constexpr ULONG ZENTRA_DBG_TRACE = 0x08;
constexpr ULONG ZENTRA_DBG_IOCTL = 0x10;
constexpr ULONG ZENTRA_DBG_MASK = 0x19;

void ZentraDbgPrint(ULONG level, const char* format, ...);

constexpr ULONG ZENTRA_HEADER_BYTES = 512;
constexpr ULONG ZENTRA_TAIL_BYTES = 512;
constexpr ULONG ZENTRA_BYTES_PER_SECTOR = 512;
// Pool tag "Ddk " of the image path buffers.
constexpr ULONG ZENTRA_POOL_TAG = 'D' | ('d' << 8) | ('k' << 16) | (' ' << 24);

struct ZENTRA_IO_CACHE;

// One layout for the control device and the disk devices (zeroed at creation).
struct ZENTRA_DEVICE_EXTENSION {
    PDEVICE_OBJECT Device;
    ULONG DeviceType;  // ZENTRA_DEVICE_TYPE for the control device, FILE_DEVICE_DISK or FILE_DEVICE_CD_ROM
    ULONG HeaderBytes; // 512, or 0 for a CD-ROM image
    ULONG TailBytes;   // 512, or 0 for a CD-ROM image
    ULONGLONG VolumeSize;
    BOOLEAN MediaPresent; // read and written through ZentraFlag, as Terminate
    HANDLE FileHandle;
    SECURITY_CLIENT_CONTEXT ClientSecurity;
    CRYPTO_INFO* CryptoInfo;
    LIST_ENTRY RequestList;
    KSPIN_LOCK ListLock; // the request list's lock; on the control device, the slot table's
    KEVENT RequestEvent;
    KEVENT ReadyEvent;
    PETHREAD Thread; // referenced by the worker itself before it reports ready
    NTSTATUS OpenStatus;
    BOOLEAN Terminate; // read and written through ZentraFlag: requests come in on any thread
    BOOLEAN CreateNew;
    USHORT PasswordLength;
    UCHAR Password[ZENTRA_PASSWORD_MAX];
    BOOLEAN ReadOnly;
    BOOLEAN Encrypted;
    ULONG DriveNumber;
    ULONG PhysicalDiskNumber;
    ULONGLONG ImageSize;
    UNICODE_STRING ImagePath; // buffer from paged pool, tag "Ddk "
    // The volume of the file system mounted on the disk, opened and locked for the dismount.
    HANDLE FsVolumeHandle;
    PFILE_OBJECT FsVolumeFile;
    BOOLEAN FsMounted;
    // The image is a file whose space is allocated in full: a write to it cannot fail for want of space.
    BOOLEAN SpaceReserved;
    // The read-ahead and write-behind of an encrypted disk (ZentraDiskCache.cpp), or null: owned by the worker.
    ZENTRA_IO_CACHE* IoCache;
};
using PZENTRA_DEVICE_EXTENSION = ZENTRA_DEVICE_EXTENSION*;

inline PZENTRA_DEVICE_EXTENSION ExtensionOf(PDEVICE_OBJECT device) {
    return static_cast<PZENTRA_DEVICE_EXTENSION>(device->DeviceExtension);
}

// The extension's Terminate and MediaPresent flags are set on one thread (a dismount, the worker) and read on
// others (every request that comes in): they are only ever touched through this, which makes each access atomic
// and orders what was written before a flag was set before what is read after it was seen.
class ZentraFlag {
public:
    explicit ZentraFlag(BOOLEAN& flag) : m_flag(flag) {}
    bool Get() const { return m_flag.load(std::memory_order_acquire) != FALSE; }
    void Set(bool value) { m_flag.store(value ? TRUE : FALSE, std::memory_order_release); }

private:
    std::atomic_ref<BOOLEAN> m_flag;
};

// Driver state.
extern PDEVICE_OBJECT g_ZentraCtrlDevice;
extern PDEVICE_OBJECT g_ZentraDisks[ZENTRA_MAX_DRIVES];
extern BOOLEAN g_ZentraGlobalLinks; // drive-letter links under "\GLOBAL??\" rather than "\DosDevices\"

NTSTATUS ZentraDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
NTSTATUS ZentraCreateCtrlDevice(PDRIVER_OBJECT driver);
NTSTATUS ZentraMajorDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ZentraCtrlDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ZentraCtrlIoctl(PDEVICE_OBJECT device, PIRP irp);
void ZentraUnload(PDRIVER_OBJECT driver);
NTSTATUS ZentraCreateDiskDevice(PDRIVER_OBJECT driver, const ZENTRA_DEVICE_RECORD* record);
void ZentraDeleteDiskDevice(PDEVICE_OBJECT device);
// Before a disk device goes: when a file system is mounted on it, its volume is opened through the drive letter,
// locked and dismounted. A lock the file system refuses (files are open on it) is returned, with the volume
// closed again, when `mayRefuse`; otherwise the dismount goes ahead. The opened volume stays in the extension
// until ZentraDeleteDiskDevice closes it.
NTSTATUS ZentraDiskReleaseFileSystem(PDEVICE_OBJECT device, bool mayRefuse);

// Drive-letter links (ZentraCtrl.cpp): "\GLOBAL??\X:" or "\DosDevices\X:" for a drive, and a link of it to a
// target, traced with `trace` (a format of the link name and the status).
constexpr ULONG ZENTRA_LINK_NAME_CHARS = 32;
void ZentraDriveLinkName(ULONG drive, WCHAR (&name)[ZENTRA_LINK_NAME_CHARS]);
NTSTATUS ZentraCreateDriveLink(ULONG drive, PCWSTR target, const char* trace);
NTSTATUS ZentraCtrlCreateGlobalDosName(ULONG drive, PCWSTR target);

// Disk devices (ZentraDisk.cpp, ZentraDiskIoctl.cpp).
constexpr ULONG ZENTRA_DISK_NAME_CHARS = 32;
// "\Device\Zentra\VyxDisk" followed by the drive's letter; returns the name's length in characters.
ULONG ZentraDiskDeviceName(ULONG drive, WCHAR (&name)[ZENTRA_DISK_NAME_CHARS]);
NTSTATUS ZentraDiskAllocMountRequest(PZENTRA_DEVICE_EXTENSION extension, const ZENTRA_DEVICE_RECORD* record);
void ZentraDiskFreeMountRequest(PZENTRA_DEVICE_EXTENSION extension);
NTSTATUS ZentraDiskCreateSymbolicLink(ULONG drive);
NTSTATUS ZentraDiskRemoveSymbolicLink(ULONG drive);
NTSTATUS ZentraDispatch(PDEVICE_OBJECT device, PIRP irp);
void ZentraDiskThread(PVOID context);
NTSTATUS ZentraDiskReadWrite(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ZentraDiskIoctl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ZentraDiskChangePasswd(PDEVICE_OBJECT device, const ZENTRA_PASSWD_RECORD* record);

// Read-ahead and write-behind of an encrypted disk (ZentraDiskCache.cpp), used by its worker only. None for a disk
// without encryption or on a single processor; writes are kept behind only when `writeBehind` (an image whose
// space is reserved). The deleter lands every write behind and stops the helper threads.
struct ZentraIoCacheDeleter {
    void operator()(ZENTRA_IO_CACHE* cache) const;
};
using ZentraIoCachePtr = std::unique_ptr<ZENTRA_IO_CACHE, ZentraIoCacheDeleter>;
ZentraIoCachePtr ZentraIoCacheStart(PZENTRA_DEVICE_EXTENSION extension, bool writeBehind);
// A read or write of whole sectors at the volume offset, within the volume; `done` is the length transferred.
NTSTATUS ZentraIoCacheRead(ZENTRA_IO_CACHE& cache, UCHAR* buffer, ULONG length, ULONGLONG offset, ULONG_PTR& done);
NTSTATUS ZentraIoCacheWrite(ZENTRA_IO_CACHE& cache, const UCHAR* buffer, ULONG length, ULONGLONG offset,
                            ULONG_PTR& done);
// Lands every write behind; returns the failure of a write behind since the disk was mounted, else success.
NTSTATUS ZentraIoCacheFlush(ZENTRA_IO_CACHE& cache);
NTSTATUS ZentraIoControl(PCWSTR devicePath, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength);

// Completes a request with a status and an information value and returns the status.
inline NTSTATUS ZentraComplete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Overwrites secrets with 0xFF and then with zeros.
void ZentraBurn(void* data, SIZE_T length);
