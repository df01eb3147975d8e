// The control device's private control codes (mount, dismount, drive-letter links) and the drive-letter links.
#include "driver/Zentra.h"

namespace {

// A counted name that lies inside the input and ends with its terminator. Records that break this are refused
// before anything is read from them.
bool NameFits(const WCHAR* name, ULONG nameBytes, ULONG bytesLeft) {
    if (nameBytes % sizeof(WCHAR) || nameBytes + sizeof(WCHAR) > bytesLeft)
        return false;
    return name[nameBytes / sizeof(WCHAR)] == 0;
}

NTSTATUS Mount(PDEVICE_OBJECT device, ULONG inputLength, const ZENTRA_DEVICE_RECORD* record) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "IOCTL_VYXDISK_MOUNT received.");
    // The path length is read only from a record whose fixed part is there.
    const ULONG fixed = offsetof(ZENTRA_DEVICE_RECORD, Path);
    const bool whole = record && inputLength >= fixed;
    const ULONG required = (whole ? record->PathLength : 0) + ZENTRA_DEVICE_RECORD_EXTRA;
    if (!whole || inputLength < required) {
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
    PZENTRA_DEVICE_EXTENSION control = ExtensionOf(g_ZentraCtrlDevice);
    KIRQL irql;
    KeAcquireSpinLock(&control->ListLock, &irql);
    PDEVICE_OBJECT disk = g_ZentraDisks[*drive];
    KeReleaseSpinLock(&control->ListLock, irql);
    if (!disk) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "IOCTL_VYXDISK_DISMOUNT: get device object error!");
        return STATUS_NO_MEDIA_IN_DEVICE;
    }
    // The file system on the disk is locked and dismounted first; while files are open on it the disk stays.
    const NTSTATUS released = ZentraDiskReleaseFileSystem(disk, true);
    if (!NT_SUCCESS(released))
        return STATUS_ACCESS_DENIED;
    KeAcquireSpinLock(&control->ListLock, &irql);
    const bool mine = g_ZentraDisks[*drive] == disk;
    if (mine)
        g_ZentraDisks[*drive] = nullptr;
    KeReleaseSpinLock(&control->ListLock, irql);
    if (!mine) {
        // Another dismount took it meanwhile.
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

void ZentraDriveLinkName(ULONG drive, WCHAR (&name)[ZENTRA_LINK_NAME_CHARS]) {
    const WCHAR* prefix = g_ZentraGlobalLinks ? u"\\GLOBAL??\\" : u"\\DosDevices\\";
    ULONG i = 0;
    for (; prefix[i]; ++i)
        name[i] = prefix[i];
    name[i++] = static_cast<WCHAR>(u'A' + drive);
    name[i++] = u':';
    name[i] = 0;
}

NTSTATUS ZentraCreateDriveLink(ULONG drive, PCWSTR target, const char* trace) {
    WCHAR link[ZENTRA_LINK_NAME_CHARS];
    ZentraDriveLinkName(drive, link);
    UNICODE_STRING linkName;
    UNICODE_STRING targetName;
    RtlInitUnicodeString(&linkName, link);
    RtlInitUnicodeString(&targetName, target);
    const NTSTATUS status = IoCreateSymbolicLink(&linkName, &targetName);
    ZentraDbgPrint(NT_SUCCESS(status) ? ZENTRA_DBG_TRACE : ZENTRA_DBG_ERROR, trace, link, status);
    return status;
}

NTSTATUS ZentraCtrlCreateGlobalDosName(ULONG drive, PCWSTR target) {
    return ZentraCreateDriveLink(drive, target, "ZentraCtrlCreateGlobalDosName: create %ws with code 0x%x.");
}
