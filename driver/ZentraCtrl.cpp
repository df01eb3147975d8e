// The control device's private control codes (mount, dismount, drive-letter links) and the drive-letter links.
#include "driver/Zentra.h"

namespace {

const WCHAR kDiskDeviceName[] = u"\\Device\\Zentra\\VyxDisk";

// "\GLOBAL??\X:" or "\DosDevices\X:" for a drive.
void LinkNameOf(ULONG drive, WCHAR (&name)[32]) {
    const WCHAR* prefix = g_ZentraGlobalLinks ? u"\\GLOBAL??\\" : u"\\DosDevices\\";
    ULONG i = 0;
    for (; prefix[i]; ++i)
        name[i] = prefix[i];
    name[i++] = static_cast<WCHAR>(u'A' + drive);
    name[i++] = u':';
    name[i] = 0;
}

NTSTATUS CreateLink(ULONG drive, PCWSTR target, const char* trace) {
    WCHAR link[32];
    LinkNameOf(drive, link);
    UNICODE_STRING linkName;
    UNICODE_STRING targetName;
    RtlInitUnicodeString(&linkName, link);
    RtlInitUnicodeString(&targetName, target);
    const NTSTATUS status = IoCreateSymbolicLink(&linkName, &targetName);
    ZentraDbgPrint(NT_SUCCESS(status) ? ZENTRA_DBG_TRACE : ZENTRA_DBG_ERROR, trace, link, status);
    return status;
}

// A counted name that lies inside the input and ends with its terminator. Records that break this are refused
// before anything is read from them.
bool NameFits(const WCHAR* name, ULONG nameBytes, ULONG bytesLeft) {
    if (nameBytes % sizeof(WCHAR) || nameBytes + sizeof(WCHAR) > bytesLeft)
        return false;
    return name[nameBytes / sizeof(WCHAR)] == 0;
}

NTSTATUS Mount(PDEVICE_OBJECT device, ULONG inputLength, const ZENTRA_DEVICE_RECORD* record) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "IOCTL_VYXDISK_MOUNT received.");
    const ULONG fixed = offsetof(ZENTRA_DEVICE_RECORD, Path);
    const ULONG required = (inputLength >= fixed ? record->PathLength : 0) + ZENTRA_DEVICE_RECORD_EXTRA;
    if (!record || inputLength < fixed || inputLength < required) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_MOUNT: parameter size %d less than rquired %d!", inputLength,
                       required);
        return STATUS_INVALID_PARAMETER;
    }
    if (record->PathLength == 0 || !NameFits(record->Path, record->PathLength, inputLength - fixed)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_MOUNT: the image path is not terminated within its length!");
        return STATUS_INVALID_PARAMETER;
    }
    if (record->PasswordLength > ZENTRA_PASSWORD_MAX) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_MOUNT: password length %d over %d!", record->PasswordLength,
                       ZENTRA_PASSWORD_MAX);
        return STATUS_INVALID_PARAMETER;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "File Length = %d, file name = %ws, drive no = %d.", record->PathLength,
                   record->Path, record->DriveNumber);
    if (record->DriveNumber >= ZENTRA_MAX_DRIVES)
        return STATUS_INVALID_PARAMETER;
    return ZentraCreateDiskDevice(device->DriverObject, record);
}

NTSTATUS Dismount(ULONG inputLength, const ULONG* drive) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "IOCTL_VYXDISK_DISMOUNT received.");
    if (!drive || inputLength < sizeof(ULONG)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_DISMOUNT: parameter size %d less than required %d!",
                       inputLength, 4);
        return STATUS_INVALID_PARAMETER;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "Parameter Length = %d, drive no = %d.", inputLength, *drive);
    if (*drive >= ZENTRA_MAX_DRIVES)
        return STATUS_INVALID_PARAMETER;
    auto* control = static_cast<PZENTRA_DEVICE_EXTENSION>(g_ZentraCtrlDevice->DeviceExtension);
    KIRQL irql;
    KeAcquireSpinLock(&control->ListLock, &irql);
    PDEVICE_OBJECT disk = g_ZentraDisks[*drive];
    g_ZentraDisks[*drive] = nullptr;
    KeReleaseSpinLock(&control->ListLock, irql);
    if (!disk) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_DISMOUNT: get device object error!");
        return STATUS_NO_MEDIA_IN_DEVICE;
    }
    ZentraDeleteDiskDevice(disk);
    return STATUS_SUCCESS;
}

NTSTATUS GlobalDosName(ULONG inputLength, const ZENTRA_GDOSNAME_RECORD* record) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "IOCTL_VYXDISK_CREATE_GDOSNAME received.");
    if (!record || inputLength < ZENTRA_GDOSNAME_RECORD_MIN) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_CREATE_GDOSNAME: parameter size %d less than required %d!",
                       inputLength, ZENTRA_GDOSNAME_RECORD_MIN);
        return STATUS_INVALID_PARAMETER;
    }
    const bool create = record->Operation == 0;
    const ULONG fixed = offsetof(ZENTRA_GDOSNAME_RECORD, Name);
    if (create && (record->NameLength == 0 || !NameFits(record->Name, record->NameLength, inputLength - fixed))) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR,
                       "IOCTL_VYXDISK_CREATE_GDOSNAME: the name is not terminated within its length!");
        return STATUS_INVALID_PARAMETER;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "Parameter Length = %d, op = %d, drive no = %d, name = %ws.", inputLength,
                   record->Operation, record->DriveNumber, create ? record->Name : u"");
    if (record->DriveNumber >= ZENTRA_MAX_DRIVES)
        return STATUS_INVALID_PARAMETER;
    if (create)
        return ZentraCtrlCreateGlobalDosName(record->DriveNumber, record->Name);
    return ZentraDiskRemoveSymbolicLink(record->DriveNumber);
}

} // namespace

NTSTATUS ZentraCtrlIoctl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    PVOID input = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VYXDISK_MOUNT:
        status = Mount(device, inputLength, static_cast<const ZENTRA_DEVICE_RECORD*>(input));
        break;
    case IOCTL_VYXDISK_DISMOUNT:
        status = Dismount(inputLength, static_cast<const ULONG*>(input));
        break;
    case IOCTL_VYXDISK_CREATE_GDOSNAME:
        status = GlobalDosName(inputLength, static_cast<const ZENTRA_GDOSNAME_RECORD*>(input));
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    return ZentraComplete(irp, status, 0);
}

NTSTATUS ZentraCtrlCreateGlobalDosName(ULONG drive, PCWSTR target) {
    return CreateLink(drive, target, "ZentraCtrlCreateGlobalDosName: create %ws with code 0x%x.");
}

NTSTATUS ZentraDiskCreateSymbolicLink(ULONG drive) {
    WCHAR target[64];
    const ULONG prefix = sizeof(kDiskDeviceName) / sizeof(WCHAR) - 1;
    RtlCopyMemory(target, kDiskDeviceName, prefix * sizeof(WCHAR));
    target[prefix] = static_cast<WCHAR>(u'A' + drive);
    target[prefix + 1] = 0;
    return CreateLink(drive, target, "ZentraDiskCreateSymbolicLink: create %ws with code 0x%x.");
}

NTSTATUS ZentraDiskRemoveSymbolicLink(ULONG drive) {
    WCHAR link[32];
    LinkNameOf(drive, link);
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, link);
    const NTSTATUS status = IoDeleteSymbolicLink(&linkName);
    ZentraDbgPrint(NT_SUCCESS(status) ? ZENTRA_DBG_TRACE : ZENTRA_DBG_ERROR,
                   "ZentraDiskRemoveSymbolicLink: remove %ws with code 0x%x.", link, status);
    return status;
}
