// Device controls of the disk devices: the standard disk, storage, mount-manager and CD-ROM codes answered from
// the device's own data, the two private codes, and device controls sent to other devices.
#include "driver/Zentra.h"

namespace {

// The table of contents of a CD with one data track, as big as a full one.
void FakeToc(CDROM_TOC* toc) {
    RtlZeroMemory(toc, sizeof(*toc));
    toc->Length[0] = 0x00;
    toc->Length[1] = 0x12;
    toc->FirstTrack = 1;
    toc->LastTrack = 1;
    toc->TrackData[0].Control = 4;
    toc->TrackData[0].Adr = 1;
    toc->TrackData[0].TrackNumber = 1;
    toc->TrackData[0].Address[2] = 2;
}

} // namespace

NTSTATUS ZentraDiskIoctl(PDEVICE_OBJECT device, PIRP irp) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    if (!ZentraFlag(extension->MediaPresent).Get()) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskIoctl: Get IOCTL %#x with no media in device error!", code);
        return ZentraComplete(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
    }
    auto trace = [](const char* text) { ZentraDbgPrint(ZENTRA_DBG_IOCTL, "%s", text); };
    switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_CDROM_GET_DRIVE_GEOMETRY: {
        trace("IOCTL_XXX_GET_DRIVE_GEOMETRY: received.");
        if (out < sizeof(DISK_GEOMETRY))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        auto* geometry = static_cast<DISK_GEOMETRY*>(buffer);
        geometry->Cylinders.QuadPart = static_cast<LONGLONG>(extension->VolumeSize / 512 / 32 / 2);
        geometry->MediaType = FixedMedia;
        geometry->TracksPerCylinder = 2;
        geometry->SectorsPerTrack = 32;
        geometry->BytesPerSector = 512;
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(DISK_GEOMETRY));
    }
    case IOCTL_DISK_GET_LENGTH_INFO: {
        trace("IOCTL_DISK_GET_LENGTH_INFO: received.");
        if (out < sizeof(GET_LENGTH_INFORMATION))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        static_cast<GET_LENGTH_INFORMATION*>(buffer)->Length.QuadPart = static_cast<LONGLONG>(extension->VolumeSize);
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(GET_LENGTH_INFORMATION));
    }
    case IOCTL_DISK_GET_PARTITION_INFO: {
        trace("IOCTL_DISK_GET_PARTITION_INFO: received.");
        if (out < sizeof(PARTITION_INFORMATION))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        auto* partition = static_cast<PARTITION_INFORMATION*>(buffer);
        RtlZeroMemory(partition, sizeof(*partition));
        partition->PartitionLength.QuadPart = static_cast<LONGLONG>(extension->VolumeSize);
        partition->HiddenSectors = 1;
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION));
    }
    case IOCTL_DISK_GET_PARTITION_INFO_EX: {
        trace("IOCTL_DISK_GET_PARTITION_INFO_EX: received.");
        if (out < sizeof(PARTITION_INFORMATION_EX))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        auto* partition = static_cast<PARTITION_INFORMATION_EX*>(buffer);
        RtlZeroMemory(partition, sizeof(*partition));
        partition->PartitionStyle = PARTITION_STYLE_MBR;
        partition->PartitionLength.QuadPart = static_cast<LONGLONG>(extension->VolumeSize);
        partition->Mbr.HiddenSectors = 1;
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION_EX));
    }
    case IOCTL_DISK_IS_WRITABLE:
        trace("IOCTL_DISK_IS_WRITABLE: received.");
        return ZentraComplete(irp, extension->ReadOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_SUCCESS, 0);
    case IOCTL_DISK_SET_PARTITION_INFO:
        trace("IOCTL_DISK_SET_PARTITION_INFO: received.");
        if (extension->ReadOnly)
            return ZentraComplete(irp, STATUS_MEDIA_WRITE_PROTECTED, 0);
        return ZentraComplete(irp, in ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0);
    case IOCTL_DISK_VERIFY:
        trace("IOCTL_DISK_VERIFY: received.");
        if (in < sizeof(VERIFY_INFORMATION))
            return ZentraComplete(irp, STATUS_INVALID_PARAMETER, 0);
        return ZentraComplete(irp, STATUS_SUCCESS, static_cast<VERIFY_INFORMATION*>(buffer)->Length);
    case IOCTL_DISK_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY2:
    case IOCTL_CDROM_CHECK_VERIFY:
        trace("IOCTL_XXX_CHECK_VERIFY: received.");
        return ZentraComplete(irp, STATUS_SUCCESS, 0);
    case IOCTL_DISK_MEDIA_REMOVAL:
    case IOCTL_STORAGE_MEDIA_REMOVAL:
        trace("IOCTL_XXX_MEDIA_REMOVAL: received.");
        return ZentraComplete(irp, STATUS_SUCCESS, 0);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        trace("IOCTL_STORAGE_GET_DEVICE_NUMBER: received.");
        if (out < sizeof(STORAGE_DEVICE_NUMBER))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        auto* number = static_cast<STORAGE_DEVICE_NUMBER*>(buffer);
        number->DeviceType = FILE_DEVICE_VIRTUAL_DISK;
        number->DeviceNumber = extension->PhysicalDiskNumber;
        number->PartitionNumber = 0xFFFFFFFF;
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(STORAGE_DEVICE_NUMBER));
    }
    case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
        trace("IOCTL_STORAGE_GET_HOTPLUG_INFO received.");
        if (out < sizeof(STORAGE_HOTPLUG_INFO))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        auto* hotplug = static_cast<STORAGE_HOTPLUG_INFO*>(buffer);
        const BOOLEAN removable =
            (device->DeviceType == FILE_DEVICE_CD_ROM || (device->Characteristics & FILE_REMOVABLE_MEDIA)) ? 1 : 0;
        hotplug->Size = sizeof(STORAGE_HOTPLUG_INFO);
        hotplug->MediaRemovable = removable;
        hotplug->MediaHotplug = removable;
        hotplug->DeviceHotplug = removable;
        hotplug->WriteCacheEnableOverride = 0;
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(STORAGE_HOTPLUG_INFO));
    }
    case IOCTL_MOUNTDEV_QUERY_DEVICE_NAME: {
        trace("IOCTL_MOUNTDEV_QUERY_DEVICE_NAME received.");
        WCHAR name[ZENTRA_DISK_NAME_CHARS];
        const USHORT nameBytes =
            static_cast<USHORT>(ZentraDiskDeviceName(extension->DriveNumber, name) * sizeof(WCHAR));
        const ULONG required = nameBytes + sizeof(USHORT);
        if (out < required) {
            ZentraDbgPrint(ZENTRA_DBG_IOCTL,
                           "IOCTL_MOUNTDEV_QUERY_DEVICE_NAME output buffer length is %d, required = %d.", out,
                           required);
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, required);
        }
        auto* reply = static_cast<MOUNTDEV_NAME*>(buffer);
        reply->NameLength = nameBytes;
        RtlCopyMemory(reply->Name, name, nameBytes);
        ZentraDbgPrint(ZENTRA_DBG_IOCTL, "DEVICE_NAME length = %d.", nameBytes);
        ZentraDbgPrint(ZENTRA_DBG_IOCTL, "DEVICE_NAME        = %ws.", name);
        return ZentraComplete(irp, STATUS_SUCCESS, required);
    }
    case IOCTL_MOUNTDEV_QUERY_UNIQUE_ID: {
        trace("IOCTL_MOUNTDEV_QUERY_UNIQUE_ID: received.");
        if (out < 4)
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 4);
        ANSI_STRING id{};
        NTSTATUS status = RtlUnicodeStringToAnsiString(&id, &extension->ImagePath, TRUE);
        if (!NT_SUCCESS(status))
            return ZentraComplete(irp, status, 0);
        if (out < sizeof(USHORT) + id.Length) {
            const ULONG_PTR needed = id.Length + 4;
            RtlFreeAnsiString(&id);
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, needed);
        }
        auto* reply = static_cast<MOUNTDEV_UNIQUE_ID*>(buffer);
        reply->UniqueIdLength = id.Length;
        RtlCopyMemory(reply->UniqueId, id.Buffer, id.Length);
        const ULONG_PTR information = id.Length + sizeof(USHORT);
        RtlFreeAnsiString(&id);
        return ZentraComplete(irp, STATUS_SUCCESS, information);
    }
    case IOCTL_CDROM_READ_TOC:
        trace("IOCTL_CDROM_READ_TOC: received.");
        if (out < sizeof(CDROM_TOC))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        FakeToc(static_cast<CDROM_TOC*>(buffer));
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(CDROM_TOC));
    case IOCTL_CDROM_READ_TOC_EX: {
        trace("IOCTL_CDROM_READ_TOC_EX received.");
        if (out < sizeof(CDROM_TOC))
            return ZentraComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        if (in < sizeof(CDROM_READ_TOC_EX))
            return ZentraComplete(irp, STATUS_INVALID_PARAMETER, 0);
        const auto* request = static_cast<const CDROM_READ_TOC_EX*>(buffer);
        ZentraDbgPrint(ZENTRA_DBG_IOCTL, "Format: %x, MSF Bit: %x, Session Trace: %x.", request->Format, request->Msf,
                       request->SessionTrack);
        if (request->Format != CDROM_READ_TOC_EX_FORMAT_TOC) {
            ZentraDbgPrint(ZENTRA_DBG_IOCTL, "Don't support now.");
            return ZentraComplete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        }
        FakeToc(static_cast<CDROM_TOC*>(buffer));
        return ZentraComplete(irp, STATUS_SUCCESS, sizeof(CDROM_TOC));
    }
    case FT_BALANCED_READ_MODE:
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "FT_BALANCED_READ_MODE: don't support now!");
        return ZentraComplete(irp, STATUS_NOT_SUPPORTED, 0);
    case IOCTL_VYXDISK_QUERY_DEVICE: {
        trace("IOCTL_VYXDISK_QUERY_DEVICE: received.");
        const ULONG required = extension->ImagePath.Length + ZENTRA_QUERY_REPLY_EXTRA;
        if (out < required)
            return ZentraComplete(irp, STATUS_INVALID_BUFFER_SIZE, required);
        auto* reply = static_cast<ZENTRA_QUERY_REPLY*>(buffer);
        RtlZeroMemory(reply, required);
        reply->ReadOnly = extension->ReadOnly;
        reply->Encrypted = extension->Encrypted;
        reply->DriveNumber = extension->DriveNumber;
        reply->PhysicalDiskNumber = extension->PhysicalDiskNumber;
        reply->ImageSize = extension->ImageSize;
        reply->PathLength = extension->ImagePath.Length;
        RtlCopyMemory(reply->Path, extension->ImagePath.Buffer, extension->ImagePath.Length);
        return ZentraComplete(irp, STATUS_SUCCESS, required);
    }
    case IOCTL_VYXDISK_CHANGE_PASSWD: {
        trace("IOCTL_VYXDISK_CHANGE_PASSWD: received.");
        if (in < sizeof(ZENTRA_PASSWD_RECORD))
            return ZentraComplete(irp, STATUS_INVALID_BUFFER_SIZE, 0);
        const auto* record = static_cast<const ZENTRA_PASSWD_RECORD*>(buffer);
        if (!extension->Encrypted || record->DriveNumber != extension->DriveNumber ||
            record->OldPasswordLength > ZENTRA_PASSWORD_MAX || record->NewPasswordLength > ZENTRA_PASSWORD_MAX)
            return ZentraComplete(irp, STATUS_INVALID_PARAMETER, 0);
        return ZentraComplete(irp, ZentraDiskChangePasswd(device, record), 0);
    }
    default:
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskIoctl: Unknown IOCTL %#x", code);
        return ZentraComplete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS ZentraIoControl(PCWSTR devicePath, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, devicePath);
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT target = nullptr;
    NTSTATUS status = IoGetDeviceObjectPointer(&name, 0x80 /* FILE_READ_ATTRIBUTES */, &file, &target);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraIoControl: error code = 0x%x!", status);
        return status;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, target, input, inputLength, output, outputLength, FALSE, &done, &io);
    if (!irp) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraIoControl: IRP allocation failed!");
        ObDereferenceObject(file);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = IoCallDriver(target, irp);
    if (status == STATUS_PENDING) {
        ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraIoControl: IoCallDriver return pending.");
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = io.Status;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraIoControl: IoCallDriver return 0x%x!", status);
    ObDereferenceObject(file);
    return status;
}
