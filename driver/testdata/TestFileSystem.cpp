// A file system for the tests of the driver: on request it mounts on a disk device ("\Device\TestFs", control code
// IOCTL_TESTFS_MOUNT with the disk's NT name) and from then on takes the handles opened on that disk. It keeps no
// files: it passes reads, writes and device controls to the disk, counts the handles open on the volume, refuses
// FSCTL_LOCK_VOLUME while any other than the asking one is
// open, dismounts on FSCTL_DISMOUNT_VOLUME, and notes each file-system request it received, which IOCTL_TESTFS_LOG
// returns as text ("lock-refused lock dismount ").
#include "platform/kernel/ioctl.h"
#include "platform/kernel/iomanager.h"
#include "platform/kernel/kernel.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr ULONG IOCTL_TESTFS_MOUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_TESTFS_LOG = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS);

PDEVICE_OBJECT g_control;
PDEVICE_OBJECT g_volume;
PDEVICE_OBJECT g_disk;
PFILE_OBJECT g_diskFile;
std::mutex g_lock;
int g_opens = 0;
std::string g_log;

NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Mount(const WCHAR* name, ULONG bytes) {
    std::u16string text(name, bytes / sizeof(WCHAR));
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    UNICODE_STRING diskName;
    diskName.Buffer = text.data();
    diskName.Length = diskName.MaximumLength = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    PDEVICE_OBJECT disk = nullptr;
    NTSTATUS status = IoGetDeviceObjectPointer(&diskName, 0x80 /* read attributes */, &g_diskFile, &disk);
    if (!NT_SUCCESS(status))
        return status;
    // Reads and writes pass to the disk as they came: in the disk's own buffering.
    g_volume->Flags |= disk->Flags & (DO_DIRECT_IO | DO_BUFFERED_IO);
    status = platform::kernel::MountVolume(disk, g_volume);
    if (!NT_SUCCESS(status)) {
        ObDereferenceObject(g_diskFile);
        g_diskFile = nullptr;
        return status;
    }
    g_disk = disk;
    return STATUS_SUCCESS;
}

NTSTATUS VolumeRequest(PIRP irp, PIO_STACK_LOCATION stack) {
    // What is not the file system's own goes to the disk below, as a volume passes it on.
    if (stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE ||
        stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(g_disk, irp);
    }
    std::lock_guard lock(g_lock);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        ++g_opens;
        return Finish(irp, STATUS_SUCCESS);
    case IRP_MJ_CLOSE:
        --g_opens;
        return Finish(irp, STATUS_SUCCESS);
    case IRP_MJ_CLEANUP:
        return Finish(irp, STATUS_SUCCESS);
    case IRP_MJ_FILE_SYSTEM_CONTROL:
        if (stack->MinorFunction != IRP_MN_USER_FS_REQUEST)
            break;
        switch (stack->Parameters.FileSystemControl.FsControlCode) {
        case FSCTL_LOCK_VOLUME:
            if (g_opens > 1) {
                g_log += "lock-refused ";
                return Finish(irp, STATUS_ACCESS_DENIED);
            }
            g_log += "lock ";
            return Finish(irp, STATUS_SUCCESS);
        case FSCTL_DISMOUNT_VOLUME:
            g_log += "dismount ";
            if (g_disk)
                platform::kernel::DismountVolume(g_disk);
            return Finish(irp, STATUS_SUCCESS);
        default:
            break;
        }
        break;
    default:
        break;
    }
    return Finish(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (device == g_volume)
        return VolumeRequest(irp, stack);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL)
        return Finish(irp, STATUS_SUCCESS);
    auto* buffer = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TESTFS_MOUNT:
        return Finish(
            irp, Mount(reinterpret_cast<const WCHAR*>(buffer), stack->Parameters.DeviceIoControl.InputBufferLength));
    case IOCTL_TESTFS_LOG: {
        std::lock_guard lock(g_lock);
        const ULONG size =
            std::min<ULONG>(static_cast<ULONG>(g_log.size()), stack->Parameters.DeviceIoControl.OutputBufferLength);
        memcpy(buffer, g_log.data(), size);
        return Finish(irp, STATUS_SUCCESS, size);
    }
    default:
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

void Unload(PDRIVER_OBJECT) {
    if (g_disk)
        platform::kernel::DismountVolume(g_disk);
    if (g_diskFile)
        ObDereferenceObject(g_diskFile);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\TestFs");
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(g_volume);
    IoDeleteDevice(g_control);
}

} // namespace

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\TestFs");
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_control);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_DISK_FILE_SYSTEM, 0, FALSE, &g_volume);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_control);
        return status;
    }
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\TestFs");
    IoCreateSymbolicLink(&link, &name);
    for (auto& routine : driver->MajorFunction)
        routine = Dispatch;
    driver->DriverUnload = Unload;
    g_control->Flags &= ~DO_DEVICE_INITIALIZING;
    g_volume->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
