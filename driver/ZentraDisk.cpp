// Disk devices: the request queue, the worker thread, mounting images and the reads and writes through the
// sector encryption.
#include "driver/Zentra.h"

#include "driver/CryptoLibrary.h"
#include "driver/Volumes.h"

namespace {

const WCHAR kDiskDeviceName[] = u"\\Device\\Zentra\\VyxDisk";

NTSTATUS StatusOfVolumeResult(int result) {
    if (result == VOLUME_OK)
        return STATUS_SUCCESS;
    return result == VOLUME_ERR_WRONG_PASSWORD ? STATUS_WRONG_PASSWORD : STATUS_UNSUCCESSFUL;
}

void PasswordOf(VOLUME_PASSWORD& password, const UCHAR* text, ULONG length) {
    ZentraBurn(&password, sizeof(password));
    password.Length = length;
    RtlCopyMemory(password.Text, text, length);
}

NTSTATUS ZentraDiskCreateClose(PIRP irp) {
    return ZentraComplete(irp, STATUS_SUCCESS, FILE_OPENED);
}

NTSTATUS ZentraDiskQueueIrp(PDEVICE_OBJECT device, PIRP irp) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // Decided under the list lock, under which a dismount sets terminate: a request either is in the list before
    // the dismount begins (and the worker or the dismount completes it) or sees terminate set.
    enum { Queued, Removed, NoMedia, EmptyRead, EmptyWrite } outcome = Queued;
    KIRQL irql;
    KeAcquireSpinLock(&extension->ListLock, &irql);
    if (ZentraFlag(extension->Terminate).Get())
        outcome = Removed;
    else if (!ZentraFlag(extension->MediaPresent).Get())
        outcome = NoMedia;
    else if (stack->MajorFunction == IRP_MJ_READ && stack->Parameters.Read.Length == 0)
        outcome = EmptyRead;
    else if (stack->MajorFunction == IRP_MJ_WRITE && stack->Parameters.Write.Length == 0)
        outcome = EmptyWrite;
    if (outcome == Queued) {
        IoMarkIrpPending(irp);
        InsertTailList(&extension->RequestList, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&extension->ListLock, irql);
    switch (outcome) {
    case Removed:
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "Disk is removed!");
        return ZentraComplete(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
    case NoMedia:
        return ZentraComplete(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
    case EmptyRead:
        ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskQueueIrp: Get a zero length read request, return immediately.");
        return ZentraComplete(irp, STATUS_SUCCESS, 0);
    case EmptyWrite:
        ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskQueueIrp: Get a zero length write request, return immediately.");
        return ZentraComplete(irp, STATUS_SUCCESS, 0);
    case Queued:
        break;
    }
    KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

bool ResidesInPartition(PZENTRA_DEVICE_EXTENSION extension) {
    static const WCHAR prefix[] = u"\\Device\\Harddisk";
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskDoesResideInPartition: compare %ws with %ws.",
                   extension->ImagePath.Buffer, prefix);
    const SIZE_T bytes = sizeof(prefix) - sizeof(WCHAR);
    return extension->ImagePath.Length >= bytes &&
           RtlCompareMemory(extension->ImagePath.Buffer, prefix, bytes) == bytes;
}

// Opens the image: a file is created anew (superseded) or opened, a partition always opened as it exists.
NTSTATUS OpenImage(PZENTRA_DEVICE_EXTENSION extension, bool create) {
    const bool partition = ResidesInPartition(extension);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &extension->ImagePath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                               nullptr);
    IO_STATUS_BLOCK io;
    const ACCESS_MASK access = extension->ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const ULONG share = extension->ReadOnly ? 1 /* FILE_SHARE_READ */ : 0;
    return ZwCreateFile(&extension->FileHandle, access, &attributes, &io, nullptr, 0x80 /* normal */, share,
                        create && !partition ? FILE_SUPERSEDE : FILE_OPEN,
                        FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS | FILE_SYNCHRONOUS_IO_NONALERT |
                            FILE_NO_INTERMEDIATE_BUFFERING,
                        nullptr, 0);
}

void CloseImage(PZENTRA_DEVICE_EXTENSION extension) {
    if (extension->FileHandle) {
        ZwClose(extension->FileHandle);
        extension->FileHandle = nullptr;
    }
}

NTSTATUS ZentraDiskWriteHeader(PZENTRA_DEVICE_EXTENSION extension) {
    if (extension->DeviceType == FILE_DEVICE_CD_ROM)
        return STATUS_SUCCESS;
    ZENTRA_VOLUME_HEADER header;
    RtlZeroMemory(&header, sizeof(header));
    if (extension->Encrypted) {
        VOLUME_PASSWORD password;
        PasswordOf(password, extension->Password, extension->PasswordLength);
        const int result =
            VolumeWriteHeader(&header, EA_AES, MODE_LRW, &password, PRF_SHA1, nullptr, &extension->CryptoInfo, true);
        ZentraBurn(&password, sizeof(password));
        ZentraDbgPrint(ZENTRA_DBG_TRACE, "VolumeWriteHeader return value 0x%x.", result);
        if (result != VOLUME_OK)
            return STATUS_UNSUCCESSFUL;
    }
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset{};
    NTSTATUS status =
        ZwWriteFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, &header, sizeof(header), &offset, nullptr);
    if (NT_SUCCESS(status) && io.Information < sizeof(header))
        status = STATUS_UNSUCCESSFUL;
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "Get volume %d bytes error!", static_cast<int>(io.Information));
        return status;
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "Write volume header successfully.");
    return STATUS_SUCCESS;
}

// Reads the header at image offset 0 into `header` and, for an encrypted image, opens it with the password.
NTSTATUS ZentraDiskReadHeader(PZENTRA_DEVICE_EXTENSION extension, ZENTRA_VOLUME_HEADER& header,
                              const VOLUME_PASSWORD& password, CRYPTO_INFO** info) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset{};
    NTSTATUS status =
        ZwReadFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, &header, sizeof(header), &offset, nullptr);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "Get volume header error with code 0x%x!", status);
        return status;
    }
    if (io.Information < sizeof(header)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "Get volume %d bytes error!", static_cast<int>(io.Information));
        return STATUS_UNSUCCESSFUL;
    }
    if (!extension->Encrypted)
        return STATUS_SUCCESS;
    const int result = VolumeReadHeader(&header, &password, info);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "VolumeReadHeader return code 0x%x.", result);
    return StatusOfVolumeResult(result);
}

// An image must hold at least one sector besides its header and tail: a smaller one would be a disk of no data
// whose every write fails.
bool HoldsData(PZENTRA_DEVICE_EXTENSION extension, ULONGLONG imageSize) {
    return imageSize >= ULONGLONG{extension->HeaderBytes} + extension->TailBytes + ZENTRA_BYTES_PER_SECTOR;
}

NTSTATUS ZentraDiskNewFile(PZENTRA_DEVICE_EXTENSION extension) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskNewFile: entering...");
    // Refused before the file is opened, so that an existing file of that name is not replaced by nothing.
    if (!ResidesInPartition(extension) && !HoldsData(extension, extension->ImageSize)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskNewFile: image size %I64d leaves no room for data!",
                       extension->ImageSize);
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = OpenImage(extension, true);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskNewFile: fail to new file %ws with code 0x%x!",
                       extension->ImagePath.Buffer, status);
        return status;
    }
    if (!ResidesInPartition(extension)) {
        FILE_END_OF_FILE_INFORMATION end;
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(extension->ImageSize);
        IO_STATUS_BLOCK io;
        status = ZwSetInformationFile(extension->FileHandle, &io, &end, sizeof(end), FileEndOfFileInformation);
        if (!NT_SUCCESS(status)) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskNewFile: fail to setup the file size with code 0x%x!", status);
            CloseImage(extension);
            return status;
        }
        // The image's space is taken now, so that a full disk refuses the image rather than its later writes. A
        // file system that cannot reserve space leaves the image sparse.
        FILE_ALLOCATION_INFORMATION allocation;
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(extension->ImageSize);
        status = ZwSetInformationFile(extension->FileHandle, &io, &allocation, sizeof(allocation),
                                      FileAllocationInformation);
        if (!NT_SUCCESS(status) && status != STATUS_NOT_SUPPORTED) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskNewFile: fail to allocate the file with code 0x%x!", status);
            CloseImage(extension);
            return status;
        }
    }
    status = ZentraDiskWriteHeader(extension);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraNewFile: fail to write volume header with code 0x%x!", status);
        CloseImage(extension);
    }
    return status;
}

NTSTATUS ZentraDiskOpenFile(PZENTRA_DEVICE_EXTENSION extension) {
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskOpenFile: entering...");
    NTSTATUS status = OpenImage(extension, false);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraOpenFile: fail to open file %ws with code %x!",
                       extension->ImagePath.Buffer, status);
        return status;
    }
    if (extension->DeviceType == FILE_DEVICE_CD_ROM)
        return STATUS_SUCCESS; // a CD-ROM image has no header
    ZENTRA_VOLUME_HEADER header;
    VOLUME_PASSWORD password;
    PasswordOf(password, extension->Password, extension->PasswordLength);
    status = ZentraDiskReadHeader(extension, header, password, &extension->CryptoInfo);
    ZentraBurn(&password, sizeof(password));
    ZentraBurn(&header, sizeof(header));
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraOpenFile: fail to read volume header!");
        CloseImage(extension);
    }
    return status;
}

NTSTATUS ZentraDiskMountFile(PDEVICE_OBJECT device) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskMountFile: entering...");
    NTSTATUS status = extension->CreateNew ? ZentraDiskNewFile(extension) : ZentraDiskOpenFile(extension);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskMountFile: fail to mount container file %ws!",
                       extension->ImagePath.Buffer);
        return status;
    }
    if (ResidesInPartition(extension)) {
        GET_LENGTH_INFORMATION length{};
        status = ZentraIoControl(extension->ImagePath.Buffer, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                 sizeof(length));
        if (NT_SUCCESS(status)) {
            extension->ImageSize = static_cast<ULONGLONG>(length.Length.QuadPart);
        } else {
            ZentraDbgPrint(ZENTRA_DBG_ERROR,
                           "ZentraDiskMountFile: fail to send IOCTL_DISK_GET_LENGTH_INFO with code 0x%x!", status);
            PARTITION_INFORMATION partition{};
            status = ZentraIoControl(extension->ImagePath.Buffer, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &partition,
                                     sizeof(partition));
            if (!NT_SUCCESS(status)) {
                ZentraDbgPrint(ZENTRA_DBG_ERROR,
                               "ZentraDiskMountFile: fail to send IOCTL_DISK_GET_PARTITION_INFO with code 0x%x!",
                               status);
                CloseImage(extension);
                return status;
            }
            extension->ImageSize = static_cast<ULONGLONG>(partition.PartitionLength.QuadPart);
        }
    } else {
        IO_STATUS_BLOCK io;
        FILE_BASIC_INFORMATION basic;
        status = ZwQueryInformationFile(extension->FileHandle, &io, &basic, sizeof(basic), FileBasicInformation);
        if (!NT_SUCCESS(status)) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR,
                           "ZentraDiskMountFile: fail to query file basic information with code 0x%x!", status);
            CloseImage(extension);
            return status;
        }
        FILE_STANDARD_INFORMATION standard;
        status =
            ZwQueryInformationFile(extension->FileHandle, &io, &standard, sizeof(standard), FileStandardInformation);
        if (!NT_SUCCESS(status)) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR,
                           "ZentraDiskMountFile: fail to query file standard information with code 0x%x!", status);
            CloseImage(extension);
            return status;
        }
        extension->ImageSize = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
        extension->SpaceReserved = standard.AllocationSize.QuadPart >= standard.EndOfFile.QuadPart;
        FILE_ALIGNMENT_INFORMATION alignment;
        status =
            ZwQueryInformationFile(extension->FileHandle, &io, &alignment, sizeof(alignment), FileAlignmentInformation);
        if (!NT_SUCCESS(status)) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR,
                           "ZentraDiskMountFile: fail to query file alignment information with code 0x%x!", status);
            CloseImage(extension);
            return status;
        }
        device->AlignmentRequirement = alignment.AlignmentRequirement;
    }
    if (!HoldsData(extension, extension->ImageSize)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskMountFile: image of %I64d bytes has no room for data!",
                       extension->ImageSize);
        CloseImage(extension);
        return STATUS_FILE_CORRUPT_ERROR;
    }
    extension->VolumeSize = extension->ImageSize - extension->HeaderBytes - extension->TailBytes;
    if (extension->ReadOnly)
        device->Characteristics |= FILE_READ_ONLY_DEVICE;
    else
        device->Characteristics &= ~FILE_READ_ONLY_DEVICE;
    status = ZentraDiskCreateSymbolicLink(extension->DriveNumber);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraOpenFile: fail to create symbolic link with code 0x%x!", status);
        CloseImage(extension);
        return status;
    }
    ZentraFlag(extension->MediaPresent).Set(true);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskMountFile: leave successfully.");
    return STATUS_SUCCESS;
}

void ZentraDiskUnmountFile(PZENTRA_DEVICE_EXTENSION extension) {
    ZentraFlag(extension->MediaPresent).Set(false);
    ZentraDiskRemoveSymbolicLink(extension->DriveNumber);
    CloseImage(extension);
    ZentraDiskFreeMountRequest(extension);
}

} // namespace

ULONG ZentraDiskDeviceName(ULONG drive, WCHAR (&name)[ZENTRA_DISK_NAME_CHARS]) {
    constexpr ULONG prefix = sizeof(kDiskDeviceName) / sizeof(WCHAR) - 1;
    static_assert(prefix + 2 <= ZENTRA_DISK_NAME_CHARS);
    RtlCopyMemory(name, kDiskDeviceName, prefix * sizeof(WCHAR));
    name[prefix] = static_cast<WCHAR>(u'A' + drive);
    name[prefix + 1] = 0;
    return prefix + 1;
}

// Copies the mount record into the extension: identity of the client, the request's values and the path.
NTSTATUS ZentraDiskAllocMountRequest(PZENTRA_DEVICE_EXTENSION extension, const ZENTRA_DEVICE_RECORD* record) {
    SECURITY_QUALITY_OF_SERVICE qos{};
    qos.Length = sizeof(qos);
    qos.ImpersonationLevel = SecurityImpersonation;
    qos.ContextTrackingMode = SECURITY_STATIC_TRACKING;
    qos.EffectiveOnly = FALSE;
    NTSTATUS status = SeCreateClientSecurity(PsGetCurrentThread(), &qos, FALSE, &extension->ClientSecurity);
    if (!NT_SUCCESS(status))
        return status;
    extension->CreateNew = record->CreateNew;
    extension->DriveNumber = record->DriveNumber;
    extension->PhysicalDiskNumber = record->PhysicalDiskNumber;
    extension->ImageSize = record->ImageSize;
    const ULONGLONG reserved = extension->HeaderBytes + extension->TailBytes;
    extension->VolumeSize = extension->ImageSize > reserved ? extension->ImageSize - reserved : 0;

    // The path up to its terminator; the record's length check has made sure the terminator is there.
    USHORT characters = 0;
    while (characters < record->PathLength / sizeof(WCHAR) && record->Path[characters])
        ++characters;
    const USHORT bytes = static_cast<USHORT>(characters * sizeof(WCHAR));
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), ZENTRA_POOL_TAG));
    if (!buffer) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskAllocMountRequest: allocate file name mem fail!");
        SeDeleteClientSecurity(&extension->ClientSecurity);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(buffer, record->Path, bytes);
    buffer[characters] = 0;
    extension->ImagePath.Buffer = buffer;
    extension->ImagePath.Length = bytes;
    extension->ImagePath.MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));

    extension->Encrypted = record->Encrypted ? TRUE : FALSE;
    if (extension->Encrypted) {
        extension->PasswordLength = record->PasswordLength;
        RtlCopyMemory(extension->Password, record->Password, record->PasswordLength);
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskAllocMountRequest: prepare file %ws successfully.", buffer);
    return STATUS_SUCCESS;
}

void ZentraDiskFreeMountRequest(PZENTRA_DEVICE_EXTENSION extension) {
    if (extension->ImagePath.Buffer) {
        ExFreePoolWithTag(extension->ImagePath.Buffer, ZENTRA_POOL_TAG);
        extension->ImagePath.Buffer = nullptr;
        extension->ImagePath.Length = extension->ImagePath.MaximumLength = 0;
    }
    SeDeleteClientSecurity(&extension->ClientSecurity);
    if (extension->CryptoInfo) {
        CryptoFree(extension->CryptoInfo);
        extension->CryptoInfo = nullptr;
    }
    ZentraBurn(extension->Password, sizeof(extension->Password));
    extension->PasswordLength = 0;
}

NTSTATUS ZentraDiskCreateSymbolicLink(ULONG drive) {
    WCHAR target[ZENTRA_DISK_NAME_CHARS];
    ZentraDiskDeviceName(drive, target);
    return ZentraCreateDriveLink(drive, target, "ZentraDiskCreateSymbolicLink: create %ws with code 0x%x.");
}

NTSTATUS ZentraDiskRemoveSymbolicLink(ULONG drive) {
    WCHAR link[ZENTRA_LINK_NAME_CHARS];
    ZentraDriveLinkName(drive, link);
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, link);
    const NTSTATUS status = IoDeleteSymbolicLink(&linkName);
    ZentraDbgPrint(NT_SUCCESS(status) ? ZENTRA_DBG_TRACE : ZENTRA_DBG_ERROR,
                   "ZentraDiskRemoveSymbolicLink: remove %ws with code 0x%x.", link, status);
    return status;
}

NTSTATUS ZentraDispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
        return ZentraDiskCreateClose(irp);
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
    case IRP_MJ_FLUSH_BUFFERS:
    case IRP_MJ_DEVICE_CONTROL:
        return ZentraDiskQueueIrp(device, irp);
    default:
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDispatch: unknown major code %d!", stack->MajorFunction);
        return ZentraComplete(irp, STATUS_SUCCESS, 0);
    }
}

void ZentraDiskThread(PVOID context) {
    auto device = static_cast<PDEVICE_OBJECT>(context);
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    // Whoever removes the device waits for this thread to end: the reference is taken before the ready event, so
    // the thread object is there whatever the mount's outcome.
    ObReferenceObject(PsGetCurrentThread());
    extension->Thread = PsGetCurrentThread();
    KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
    SeImpersonateClient(&extension->ClientSecurity, nullptr);

    NTSTATUS status = ZentraDiskMountFile(device);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskThread: fail to open file!");
        extension->OpenStatus = status;
        CryptoThreadEnd();
        KeSetEvent(&extension->ReadyEvent, IO_NO_INCREMENT, FALSE);
        PsTerminateSystemThread(status);
    }
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraDiskThread: open file successfully.");
    extension->OpenStatus = STATUS_SUCCESS;
    KeSetEvent(&extension->ReadyEvent, IO_NO_INCREMENT, FALSE);

    ZentraIoCachePtr cache = ZentraIoCacheStart(extension, extension->SpaceReserved && !extension->ReadOnly);
    extension->IoCache = cache.get();
    for (;;) {
        KeWaitForSingleObject(&extension->RequestEvent, Executive, KernelMode, FALSE, nullptr);
        while (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&extension->RequestList, &extension->ListLock)) {
            PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
            case IRP_MJ_READ:
            case IRP_MJ_WRITE:
                ZentraDiskReadWrite(device, irp);
                break;
            case IRP_MJ_FLUSH_BUFFERS:
                ZentraComplete(irp, cache ? ZentraIoCacheFlush(*cache) : STATUS_SUCCESS, 0);
                break;
            case IRP_MJ_DEVICE_CONTROL:
                // A control request sees the disk as the program left it: every write has reached the image.
                if (cache)
                    ZentraIoCacheFlush(*cache);
                ZentraDiskIoctl(device, irp);
                break;
            default:
                ZentraComplete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
                break;
            }
        }
        if (ZentraFlag(extension->Terminate).Get()) {
            ZentraDbgPrint(ZENTRA_DBG_TRACE, "Got notify to terminate the thread.");
            extension->IoCache = nullptr;
            cache.reset();
            ZentraDiskUnmountFile(extension);
            CryptoThreadEnd();
            PsTerminateSystemThread(STATUS_SUCCESS);
        }
    }
}

NTSTATUS ZentraDiskReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const bool read = stack->MajorFunction == IRP_MJ_READ;
    auto* buffer = static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
    if (!buffer)
        return ZentraComplete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    if (!extension->FileHandle)
        return ZentraComplete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
    const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
    const ULONG length = stack->Parameters.Read.Length;
    if (offset < 0 || static_cast<ULONGLONG>(offset) + length > extension->VolumeSize) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR,
                       read ? "IRP_MJ_READ: Byte offset = %I64d, volumesize = %I64d."
                            : "IRP_MJ_WRITE: Byte offset = %I64d, volumesize = %I64d.",
                       offset, extension->VolumeSize);
        return ZentraComplete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
    }
    // Sectors are the unit of the disk and of its encryption: a transfer that does not start and end on a sector
    // boundary would number its sectors wrongly (or leave part of a sector in clear), so it is refused.
    if (offset % ZENTRA_BYTES_PER_SECTOR || length % ZENTRA_BYTES_PER_SECTOR) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskReadWrite: offset %I64d or length %d is not a whole sector!",
                       offset, length);
        return ZentraComplete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (ZENTRA_IO_CACHE* cache = extension->IoCache) {
        ULONG_PTR done = 0;
        const NTSTATUS status = read ? ZentraIoCacheRead(*cache, buffer, length, static_cast<ULONGLONG>(offset), done)
                                     : ZentraIoCacheWrite(*cache, buffer, length, static_cast<ULONGLONG>(offset), done);
        return ZentraComplete(irp, status, done);
    }
    LARGE_INTEGER imageOffset;
    imageOffset.QuadPart = offset + extension->HeaderBytes;
    const ULONGLONG firstSector = static_cast<ULONGLONG>(imageOffset.QuadPart) / ZENTRA_BYTES_PER_SECTOR;
    IO_STATUS_BLOCK io{};
    NTSTATUS status;
    if (read) {
        status =
            ZwReadFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, buffer, length, &imageOffset, nullptr);
        ULONG_PTR done = NT_SUCCESS(status) ? io.Information : 0;
        if (extension->CryptoInfo && done) {
            // Only whole sectors are decrypted; a short read at the end of an image ends at a sector boundary.
            done -= done % ZENTRA_BYTES_PER_SECTOR;
            if (!DecryptSectors(buffer, firstSector, done, extension->CryptoInfo)) {
                RtlZeroMemory(buffer, length);
                return ZentraComplete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
            }
        }
        return ZentraComplete(irp, status, done);
    }
    UCHAR* data = buffer;
    if (extension->CryptoInfo) {
        data = static_cast<UCHAR*>(ExAllocatePoolWithTag(PagedPool, length, ZENTRA_POOL_TAG));
        if (!data)
            return ZentraComplete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        if (!EncryptSectorsFrom(buffer, data, firstSector, length, extension->CryptoInfo)) {
            ExFreePoolWithTag(data, ZENTRA_POOL_TAG);
            return ZentraComplete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
        }
    }
    status = ZwWriteFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, data, length, &imageOffset, nullptr);
    if (data != buffer)
        ExFreePoolWithTag(data, ZENTRA_POOL_TAG);
    return ZentraComplete(irp, status, NT_SUCCESS(status) ? io.Information : 0);
}

NTSTATUS ZentraDiskChangePasswd(PDEVICE_OBJECT device, const ZENTRA_PASSWD_RECORD* record) {
    PZENTRA_DEVICE_EXTENSION extension = ExtensionOf(device);
    ZENTRA_VOLUME_HEADER header;
    VOLUME_PASSWORD password;
    PasswordOf(password, record->OldPassword, record->OldPasswordLength);
    CRYPTO_INFO* info = nullptr;
    NTSTATUS status = ZentraDiskReadHeader(extension, header, password, &info);
    ZentraBurn(&password, sizeof(password));
    CryptoFree(info);
    if (!NT_SUCCESS(status)) {
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskChangePasswd: fail to read volume header!");
        ZentraBurn(&header, sizeof(header));
        return status;
    }
    // The master key area stays: every sector written so far remains readable with the disk's own context.
    UCHAR keyArea[ZENTRA_HEADER_SIZE - ZENTRA_HEADER_KEY_AREA_OFFSET];
    RtlCopyMemory(keyArea, reinterpret_cast<UCHAR*>(&header) + ZENTRA_HEADER_KEY_AREA_OFFSET, sizeof(keyArea));
    PasswordOf(password, record->NewPassword, record->NewPasswordLength);
    info = nullptr;
    const int result = VolumeWriteHeader(&header, EA_AES, MODE_LRW, &password, PRF_SHA1, keyArea, &info, false);
    ZentraBurn(&password, sizeof(password));
    ZentraBurn(keyArea, sizeof(keyArea));
    CryptoFree(info);
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "VolumeWriteHeader return value 0x%x.", result);
    status = StatusOfVolumeResult(result);
    if (NT_SUCCESS(status)) {
        IO_STATUS_BLOCK io{};
        LARGE_INTEGER offset{};
        status = ZwWriteFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, &header, sizeof(header), &offset,
                             nullptr);
        if (NT_SUCCESS(status) && io.Information < sizeof(header)) {
            ZentraDbgPrint(ZENTRA_DBG_ERROR, "Get volume %d bytes error!", static_cast<int>(io.Information));
            status = STATUS_UNSUCCESSFUL;
        }
    }
    ZentraBurn(&header, sizeof(header));
    if (!NT_SUCCESS(status))
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDiskChangePasswd: fail to write volume header!");
    return status;
}
