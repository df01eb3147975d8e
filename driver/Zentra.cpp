// The driver's core: entry and unload, the control device, the dispatch, creating and deleting disk devices.
#include "driver/Zentra.h"

#include "driver/CryptoLibrary.h"

#include <initializer_list>

PDEVICE_OBJECT g_ZentraCtrlDevice;
PDEVICE_OBJECT g_ZentraDisks[ZENTRA_MAX_DRIVES];
BOOLEAN g_ZentraGlobalLinks;

namespace {

HANDLE g_ZentraDirectory;
const WCHAR kDirectoryName[] = u"\\Device\\Zentra";
const WCHAR kCtrlDeviceName[] = u"\\Device\\Zentra\\VyxCtrl";
const WCHAR kCtrlLinkName[] = u"\\DosDevices\\VyxCtrl";

void ZentraWriteVersionInfo(PUNICODE_STRING registryPath) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_WRITE, &attributes)))
        return;
    struct {
        const WCHAR* name;
        const WCHAR* value;
        ULONG bytes;
    } values[] = {{u"Version", u"1.0.0.2", sizeof(u"1.0.0.2")}, {u"Build", u"1028", sizeof(u"1028")}};
    for (const auto& value : values) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, value.name);
        ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<WCHAR*>(value.value), value.bytes);
    }
    ZwClose(key);
}

} // namespace

void ZentraDbgPrint(ULONG level, const char* format, ...) {
    if (!(level & ZENTRA_DBG_MASK))
        return;
    va_list arguments;
    va_start(arguments, format);
    vDbgPrintEx(DPFLTR_IHVDRIVER_ID, level, format, arguments);
    va_end(arguments);
}

void ZentraBurn(void* data, SIZE_T length) {
    volatile UCHAR* bytes = static_cast<volatile UCHAR*>(data);
    for (SIZE_T i = 0; i < length; ++i)
        bytes[i] = 0xFF;
    for (SIZE_T i = 0; i < length; ++i)
        bytes[i] = 0;
}

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                       PUNICODE_STRING registryPath) {
    return ZentraDriverEntry(driver, registryPath);
}

NTSTATUS ZentraDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDriverEntry: got called with Registry %ws.", registryPath->Buffer);
    ZentraWriteVersionInfo(registryPath);
    // Drive-letter links go under "\GLOBAL??\" on systems of driver model 1.0x20 and later.
    g_ZentraGlobalLinks = FALSE;
    for (UCHAR minor : {UCHAR(0x30), UCHAR(0x20), UCHAR(0x10), UCHAR(0x05)}) {
        if (IoIsWdmVersionAvailable(1, minor)) {
            g_ZentraGlobalLinks = minor >= 0x20;
            break;
        }
    }
    for (auto& slot : g_ZentraDisks)
        slot = nullptr;
    // The key derivations are checked once here; a library that fails makes every header operation fail.
    CryptoLibraryInit();

    UNICODE_STRING directoryName;
    RtlInitUnicodeString(&directoryName, kDirectoryName);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &directoryName, OBJ_PERMANENT | OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    NTSTATUS status = ZwCreateDirectoryObject(&g_ZentraDirectory, DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDriverEntry: can't create directory object with code 0x%x!", status);
        return status;
    }
    ZwMakeTemporaryObject(g_ZentraDirectory);

    status = ZentraCreateCtrlDevice(driver);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDriverEntry: can't create control device object with code 0x%x!",
                       status);
        ZwClose(g_ZentraDirectory);
        g_ZentraDirectory = nullptr;
        return status;
    }
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_FLUSH_BUFFERS,
                        IRP_MJ_DEVICE_CONTROL, IRP_MJ_INTERNAL_DEVICE_CONTROL})
        driver->MajorFunction[major] = ZentraMajorDispatch;
    driver->DriverUnload = ZentraUnload;
    return STATUS_SUCCESS;
}

NTSTATUS ZentraCreateCtrlDevice(PDRIVER_OBJECT driver) {
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, kCtrlDeviceName);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(ZENTRA_DEVICE_EXTENSION), &deviceName, ZENTRA_DEVICE_TYPE, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraCreateCtrlDevice: fail to create control device with code 0x%x!",
                       status);
        return status;
    }
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    RtlZeroMemory(extension, sizeof(*extension));
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, kCtrlLinkName);
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraCreateCtrlDevice: fail to create symbolic link with code 0x%x!",
                       status);
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_DIRECT_IO;
    extension->Device = device;
    extension->DeviceType = ZENTRA_DEVICE_TYPE;
    ZentraFlag(extension->MediaPresent).Set(false);
    ZentraFlag(extension->Terminate).Set(true);
    KeInitializeSpinLock(&extension->ListLock);
    g_ZentraCtrlDevice = device;
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraCreateCtrlDevice: create device %ws successfully.", kCtrlDeviceName);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraCreateCtrlDevice: leave successfully.");
    return STATUS_SUCCESS;
}

NTSTATUS ZentraMajorDispatch(PDEVICE_OBJECT device, PIRP irp) {
    if (ExtensionOf(device)->DeviceType == ZENTRA_DEVICE_TYPE)
        return ZentraCtrlDispatch(device, irp);
    return ZentraDispatch(device, irp);
}

NTSTATUS ZentraCtrlDispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
        return ZentraCtrlIoctl(device, irp);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraCtrlDispatch: received Controller Device IRP major 0x%x.",
                   stack->MajorFunction);
    return ZentraComplete(irp, STATUS_SUCCESS, 0);
}

void ZentraUnload(PDRIVER_OBJECT) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraUnload: got called");
    PZENTRA_DEVICE_EXTENSION control = ExtensionOf(g_ZentraCtrlDevice);
    for (ULONG drive = 0; drive < ZENTRA_MAX_DRIVES; ++drive) {
        KIRQL irql;
        KeAcquireSpinLock(&control->ListLock, &irql);
        PDEVICE_OBJECT device = g_ZentraDisks[drive];
        g_ZentraDisks[drive] = nullptr;
        KeReleaseSpinLock(&control->ListLock, irql);
        if (device)
            ZentraDeleteDiskDevice(device);
    }
    ZentraDeleteDiskDevice(g_ZentraCtrlDevice);
    g_ZentraCtrlDevice = nullptr;
    if (g_ZentraDirectory) {
        ZwClose(g_ZentraDirectory);
        g_ZentraDirectory = nullptr;
    }
    CryptoLibraryShutdown();
}

NTSTATUS ZentraCreateDiskDevice(PDRIVER_OBJECT driver, const ZENTRA_DEVICE_RECORD* record) {
    const DEVICE_TYPE type = record->CdRom ? FILE_DEVICE_CD_ROM : FILE_DEVICE_DISK;
    WCHAR name[ZENTRA_DISK_NAME_CHARS];
    ZentraDiskDeviceName(record->DriveNumber, name);
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, name);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(ZENTRA_DEVICE_EXTENSION), &deviceName, type, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraCreateDiskDevice: fail to create disk device with code 0x%x!", status);
        return status;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraCreateDiskDevice: create disk device %ws successfully.", name);

    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    RtlZeroMemory(extension, sizeof(*extension));
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    device->Flags |= DO_DIRECT_IO;
    extension->Device = device;
    extension->DeviceType = type;
    extension->HeaderBytes = ZENTRA_HEADER_BYTES;
    extension->TailBytes = ZENTRA_TAIL_BYTES;
    if (type == FILE_DEVICE_CD_ROM) {
        device->Characteristics |= FILE_READ_ONLY_DEVICE;
        extension->ReadOnly = TRUE;
        extension->HeaderBytes = 0;
        extension->TailBytes = 0;
    }
    ZentraFlag(extension->Terminate).Set(true);

    status = ZentraDiskAllocMountRequest(extension, record);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR,
                       "ZentraCreateDiskDevice: fail to create mount target info with code 0x%x, device remove!",
                       status);
        IoDeleteDevice(device);
        return status;
    }
    extension->OpenStatus = STATUS_FILE_INVALID;
    InitializeListHead(&extension->RequestList);
    KeInitializeSpinLock(&extension->ListLock);
    KeInitializeEvent(&extension->RequestEvent, SynchronizationEvent, FALSE);
    KeInitializeEvent(&extension->ReadyEvent, SynchronizationEvent, FALSE);
    ZentraFlag(extension->Terminate).Set(false);

    HANDLE thread = nullptr;
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, ZentraDiskThread, device);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraCreateDiskDevice: fail to create thread with code 0x%x, device remove!",
                       status);
        ZentraFlag(extension->Terminate).Set(true);
        ZentraDiskFreeMountRequest(extension);
        IoDeleteDevice(device);
        return status;
    }
    // The worker references its own thread object before it reports ready, so from then on there is always a
    // thread to wait for before the device goes; the handle is not needed for that.
    ZwClose(thread);
    KeWaitForSingleObject(&extension->ReadyEvent, Executive, KernelMode, FALSE, nullptr);
    if (!NT_SUCCESS(extension->OpenStatus)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraCreateDiskDevice: fail to open device file, device remove!");
        status = extension->OpenStatus;
        ZentraFlag(extension->Terminate).Set(true);
        // The worker has reported and ends; nothing of the disk may outlive the device.
        KeWaitForSingleObject(extension->Thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(extension->Thread);
        extension->Thread = nullptr;
        ZentraDiskFreeMountRequest(extension);
        IoDeleteDevice(device);
        return status;
    }

    PZENTRA_DEVICE_EXTENSION control = ExtensionOf(g_ZentraCtrlDevice);
    KIRQL irql;
    KeAcquireSpinLock(&control->ListLock, &irql);
    g_ZentraDisks[record->DriveNumber] = device;
    KeReleaseSpinLock(&control->ListLock, irql);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraCreateDiskDevice: leave successfully.");
    return STATUS_SUCCESS;
}

namespace {

NTSTATUS ZentraDiskOpenFsVolume(PZENTRA_DEVICE_EXTENSION extension) {
    WCHAR name[] = u"\\DosDevices\\?:";
    name[12] = static_cast<WCHAR>(u'A' + extension->DriveNumber);
    UNICODE_STRING volumeName;
    RtlInitUnicodeString(&volumeName, name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &volumeName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        ZwCreateFile(&extension->FsVolumeHandle, GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                     1 | 2 /* share read and write */, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskOpenFsVolume: fail to create file with code 0x%x!", status);
        extension->FsVolumeHandle = nullptr;
        return status;
    }
    status = ObReferenceObjectByHandle(extension->FsVolumeHandle, 0, *IoFileObjectType, KernelMode,
                                       reinterpret_cast<PVOID*>(&extension->FsVolumeFile), nullptr);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskOpenFsVolume: fail to get file object with code 0x%x!", status);
        ZwClose(extension->FsVolumeHandle);
        extension->FsVolumeHandle = nullptr;
        extension->FsVolumeFile = nullptr;
    }
    return status;
}

NTSTATUS ZentraDiskFsctlCall(PFILE_OBJECT file, ULONG code) {
    PDEVICE_OBJECT target = IoGetRelatedDeviceObject(file);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskFsctlCall: IoGetRelatedDeviceObject = 0x%08x",
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(target)));
    if (!target) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskFsctlCall: get NULL device object!");
        return STATUS_IO_DEVICE_ERROR;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, target, nullptr, 0, nullptr, 0, FALSE, &done, &io);
    if (!irp) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskFsctlCall: IRP allocation failed!");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // A file-system request of the user kind, for the volume's file object.
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_FILE_SYSTEM_CONTROL;
    stack->MinorFunction = IRP_MN_USER_FS_REQUEST;
    stack->FileObject = file;
    irp->Tail.Overlay.OriginalFileObject = file;
    NTSTATUS status = IoCallDriver(target, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = io.Status;
    }
    if (!NT_SUCCESS(status))
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskFsctlCall: IoCallDriver failed with code 0x%x!", status);
    return status;
}

void ZentraDiskCloseFsVolume(PZENTRA_DEVICE_EXTENSION extension) {
    if (extension->FsVolumeFile)
        ObDereferenceObject(extension->FsVolumeFile);
    if (extension->FsVolumeHandle)
        ZwClose(extension->FsVolumeHandle);
    extension->FsVolumeFile = nullptr;
    extension->FsVolumeHandle = nullptr;
}

} // namespace

NTSTATUS ZentraDiskReleaseFileSystem(PDEVICE_OBJECT device, bool mayRefuse) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    if (!device->Vpb || !(device->Vpb->Flags & VPB_MOUNTED) || extension->FsVolumeFile)
        return STATUS_SUCCESS;
    extension->FsMounted = TRUE;
    NTSTATUS status = ZentraDiskOpenFsVolume(extension);
    if (NT_SUCCESS(status))
        status = ZentraDiskFsctlCall(extension->FsVolumeFile, FSCTL_LOCK_VOLUME);
    // Dismounting a file system that files are still open on would throw away what they have not yet written:
    // the dismount is refused instead, and the disk stays as it is.
    if (!NT_SUCCESS(status) && mayRefuse) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskReleaseFileSystem: the volume is in use (0x%x), not dismounted.",
                       status);
        ZentraDiskCloseFsVolume(extension);
        extension->FsMounted = FALSE;
        return status;
    }
    if (extension->FsVolumeFile)
        ZentraDiskFsctlCall(extension->FsVolumeFile, FSCTL_DISMOUNT_VOLUME);
    return STATUS_SUCCESS;
}

void ZentraDeleteDiskDevice(PDEVICE_OBJECT device) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    if (extension->DeviceType == ZENTRA_DEVICE_TYPE) {
        UNICODE_STRING linkName;
        RtlInitUnicodeString(&linkName, kCtrlLinkName);
        const NTSTATUS status = IoDeleteSymbolicLink(&linkName);
        if (NT_SUCCESS(status))
            ZentraDbgPrint(ZENTRA_DBG_TRACE, "Delete control symbolic link %ws successfully.", kCtrlLinkName);
        else
            ZentraDbgPrint(ZENTRA_DBG_ERROR, "Fail to delete control symbolic link %ws with code 0x%x!", kCtrlLinkName,
                           status);
    } else {
        // Terminate is set under the list lock, which requests take to be queued: every request queued before it
        // is served by the worker or completed below, and none is queued after it.
        KIRQL irql;
        KeAcquireSpinLock(&extension->ListLock, &irql);
        const bool running = !ZentraFlag(extension->Terminate).Get();
        ZentraFlag(extension->Terminate).Set(true);
        KeReleaseSpinLock(&extension->ListLock, irql);
        if (running) {
            // A dismount released the file system already; at unload it goes whatever it holds.
            ZentraDiskReleaseFileSystem(device, false);
            KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
            KeWaitForSingleObject(extension->Thread, Executive, KernelMode, FALSE, nullptr);
            ObDereferenceObject(extension->Thread);
            extension->Thread = nullptr;
            while (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&extension->RequestList, &extension->ListLock)) {
                PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
                ZentraComplete(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
            }
            if (extension->FsMounted)
                device->Flags |= DO_VERIFY_VOLUME;
            ZentraDiskCloseFsVolume(extension);
            ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDeleteDiskDevice: remove disk device.");
        }
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "Deleting DeviceObject with ref count %ld", device->ReferenceCount);
    IoDeleteDevice(device);
}
