// Requests on behalf of a caller: opening a device by name, and the reads, writes and device controls that the
// host's clients send on their handles. A driver opens another device the same way (IoGetDeviceObjectPointer).
#include "platform/kernel/io_private.h"

#include <algorithm>
#include <atomic>

namespace platform::kernel {
namespace {

// A request from a client handle: fails without reaching the driver when the device is gone.
IrpBlock* NewFileRequest(const std::shared_ptr<DeviceFile>& file, UCHAR major) {
    IrpBlock* block = AllocateBlock(file->target->object.StackSize);
    if (!block)
        return nullptr;
    IRP& irp = block->irp;
    irp.RequestorMode = UserMode;
    irp.Tail.Overlay.OriginalFileObject = &file->object;
    irp.Tail.Overlay.Thread = KeGetCurrentThread();
    irp.UserEvent = nullptr;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(&irp);
    next->MajorFunction = major;
    next->FileObject = &file->object;
    return block;
}

} // namespace

namespace {

// The device that requests of a new handle of `device` go to: the volume device of the file system mounted on it,
// or the device itself.
std::shared_ptr<DeviceImpl> VolumeDeviceOf(const std::shared_ptr<DeviceImpl>& device) {
    PDEVICE_OBJECT volume = nullptr;
    {
        std::lock_guard lock(DeviceLock());
        if (device->vpb.Flags & VPB_MOUNTED)
            volume = device->vpb.DeviceObject;
    }
    std::shared_ptr<DeviceImpl> mounted = volume ? DeviceOf(volume) : nullptr;
    return mounted && !DeviceGone(mounted) ? mounted : device;
}

} // namespace

namespace {

std::atomic<FileSystemRecognizer> g_recognizer{nullptr};
thread_local bool t_recognizing = false;

bool DiskLike(const DEVICE_OBJECT& object) {
    return object.DeviceType == FILE_DEVICE_DISK || object.DeviceType == FILE_DEVICE_VIRTUAL_DISK;
}

// Lets the recognizer mount a file system on a disk that has none.
void Recognize(const std::shared_ptr<DeviceImpl>& device) {
    const FileSystemRecognizer recognizer = g_recognizer.load();
    if (!recognizer || t_recognizing || !DiskLike(device->object) || device->name.empty())
        return;
    {
        std::lock_guard lock(DeviceLock());
        if (device->deleted || (device->vpb.Flags & VPB_MOUNTED) || device->rawLock)
            return;
    }
    t_recognizing = true;
    recognizer(&device->object, device->name);
    t_recognizing = false;
}

bool HasData(const FILE_OBJECT& object) {
    return object.ReadAccess || object.WriteAccess;
}

// The volume controls of a disk without a file system.
NTSTATUS RawVolumeControl(const std::shared_ptr<DeviceFile>& file, ULONG code) {
    std::lock_guard lock(DeviceLock());
    DeviceImpl& device = *file->device;
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        if (device.rawLock || device.dataOpens > (HasData(file->object) ? 1 : 0))
            return STATUS_ACCESS_DENIED;
        device.rawLock = &file->object;
        return STATUS_SUCCESS;
    case FSCTL_UNLOCK_VOLUME:
        if (device.rawLock != &file->object)
            return STATUS_NOT_LOCKED;
        device.rawLock = nullptr;
        return STATUS_SUCCESS;
    case FSCTL_DISMOUNT_VOLUME:
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

} // namespace

void SetFileSystemRecognizer(FileSystemRecognizer recognizer) {
    g_recognizer = recognizer;
}

void RecognizeDriveLetterVolumes() {
    if (!g_recognizer.load() || t_recognizing)
        return;
    std::vector<std::shared_ptr<DeviceImpl>> devices;
    {
        std::lock_guard lock(Names().lock);
        for (int drive = 0; drive < 26; ++drive) {
            const std::u16string name = std::u16string(u"\\??\\") + static_cast<char16_t>(u'A' + drive) + u":";
            Resolved resolved = ResolveLocked(name, true);
            if (!NT_SUCCESS(resolved.status) || resolved.entry->kind != EntryKind::Device)
                continue;
            if (auto device = resolved.entry->device.lock())
                devices.push_back(std::move(device));
        }
    }
    for (const auto& device : devices)
        Recognize(device);
}

bool RawVolumeLocked(PDEVICE_OBJECT deviceObject) {
    std::shared_ptr<DeviceImpl> device = DeviceOf(deviceObject);
    if (!device)
        return false;
    std::lock_guard lock(DeviceLock());
    return device->rawLock != nullptr;
}

NTSTATUS MountVolume(PDEVICE_OBJECT device, PDEVICE_OBJECT volumeDevice) {
    std::shared_ptr<DeviceImpl> real = DeviceOf(device);
    if (!real || !volumeDevice || !DeviceOf(volumeDevice) || volumeDevice == device)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(DeviceLock());
    if (real->deleted)
        return STATUS_DELETE_PENDING;
    if (real->vpb.Flags & VPB_MOUNTED)
        return STATUS_OBJECT_NAME_COLLISION;
    real->vpb.DeviceObject = volumeDevice;
    real->vpb.RealDevice = device;
    real->vpb.Flags |= VPB_MOUNTED;
    // A request built for the volume device may be passed on to the disk with the stack locations left.
    volumeDevice->StackSize =
        std::max<CCHAR>(volumeDevice->StackSize, std::min<CCHAR>(kMaximumStackSize, device->StackSize + 1));
    return STATUS_SUCCESS;
}

void DismountVolume(PDEVICE_OBJECT device) {
    std::shared_ptr<DeviceImpl> real = DeviceOf(device);
    if (!real)
        return;
    std::lock_guard lock(DeviceLock());
    real->vpb.Flags &= static_cast<USHORT>(~VPB_MOUNTED);
    real->vpb.DeviceObject = nullptr;
}

PFILE_OBJECT FileObjectOf(const DeviceFilePtr& file) {
    return file ? &file->object : nullptr;
}

NTSTATUS OpenDevice(const std::u16string& ntName, ACCESS_MASK desiredAccess, ULONG shareAccess, DeviceFilePtr& result) {
    std::shared_ptr<DeviceImpl> device;
    {
        std::lock_guard lock(Names().lock);
        Resolved resolved = ResolveLocked(ntName, true);
        if (!NT_SUCCESS(resolved.status))
            return resolved.status;
        if (resolved.entry->kind != EntryKind::Device)
            return STATUS_OBJECT_TYPE_MISMATCH;
        device = resolved.entry->device.lock();
    }
    if (!device)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    Recognize(device);
    {
        std::lock_guard lock(DeviceLock());
        if (device->deleted)
            return STATUS_DELETE_PENDING;
        if ((device->object.Flags & DO_EXCLUSIVE) && device->openCount > 0)
            return STATUS_ACCESS_DENIED;
        if (device->object.Flags & DO_DEVICE_INITIALIZING)
            return STATUS_NO_SUCH_DEVICE;
        device->openCount++;
        device->object.ReferenceCount++;
    }
    auto file = std::make_shared<DeviceFile>();
    file->device = device;
    file->target = VolumeDeviceOf(device);
    FILE_OBJECT& object = file->object;
    object.Type = 5;
    object.Size = sizeof(FILE_OBJECT);
    object.DeviceObject = &device->object;
    object.Vpb = device->object.Vpb;
    const ACCESS_MASK readBits = GENERIC_READ | GENERIC_ALL | 0x0001 /* FILE_READ_DATA */ | MAXIMUM_ALLOWED;
    const ACCESS_MASK writeBits = GENERIC_WRITE | GENERIC_ALL | 0x0002 /* FILE_WRITE_DATA */ | 0x0004 | MAXIMUM_ALLOWED;
    object.ReadAccess = (desiredAccess & readBits) != 0;
    object.WriteAccess = (desiredAccess & writeBits) != 0;
    object.SharedRead = (shareAccess & 1) != 0;
    object.SharedWrite = (shareAccess & 2) != 0;
    object.SharedDelete = (shareAccess & 4) != 0;
    RegisterObjectAddress(&object, file);

    IrpBlock* block = NewFileRequest(file, IRP_MJ_CREATE);
    if (!block) {
        std::lock_guard lock(DeviceLock());
        device->openCount--;
        device->object.ReferenceCount--;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(&block->irp)->Parameters.Create.ShareAccess = static_cast<USHORT>(shareAccess);
    const NTSTATUS status = CallAndWait(file->target, block);
    FreeBlock(block);
    if (!NT_SUCCESS(status)) {
        std::lock_guard lock(DeviceLock());
        device->openCount--;
        device->object.ReferenceCount--;
        file->closed = true;
        return status;
    }
    if (HasData(object)) {
        std::lock_guard lock(DeviceLock());
        device->dataOpens++;
    }
    result = file;
    return STATUS_SUCCESS;
}

void CloseDevice(const DeviceFilePtr& file) {
    if (!file)
        return;
    std::lock_guard fileLock(file->lock);
    if (file->closed)
        return;
    file->closed = true;
    if (!DeviceGone(file->target)) {
        for (UCHAR major : {IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
            if (IrpBlock* block = NewFileRequest(file, major)) {
                CallAndWait(file->target, block);
                FreeBlock(block);
            }
        }
    }
    std::lock_guard lock(DeviceLock());
    file->device->openCount--;
    file->device->object.ReferenceCount--;
    if (HasData(file->object))
        file->device->dataOpens--;
    if (file->device->rawLock == &file->object)
        file->device->rawLock = nullptr;
}

namespace {

NTSTATUS Transfer(const DeviceFilePtr& file, UCHAR major, void* buffer, ULONG length, std::optional<LONGLONG> offset,
                  ULONG_PTR& information, const EarlyAnswer* early) {
    information = 0;
    std::lock_guard fileLock(file->lock);
    if (file->closed)
        return STATUS_FILE_CLOSED;
    if (major == IRP_MJ_READ ? !file->object.ReadAccess : !file->object.WriteAccess)
        return STATUS_ACCESS_DENIED;
    if (DeviceGone(file->target))
        return STATUS_DELETE_PENDING;
    IrpBlock* block = NewFileRequest(file, major);
    if (!block)
        return STATUS_INSUFFICIENT_RESOURCES;
    const LONGLONG position = offset ? *offset : file->object.CurrentByteOffset.QuadPart;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(&block->irp);
    next->Parameters.Read.Length = length;
    next->Parameters.Read.ByteOffset.QuadPart = position;
    const ULONG flags = file->target->object.Flags;
    if (flags & DO_DIRECT_IO) {
        block->mdl.MappedSystemVa = block->mdl.StartVa = buffer;
        block->mdl.ByteCount = length;
        block->irp.MdlAddress = length ? &block->mdl : nullptr;
    } else if (flags & DO_BUFFERED_IO) {
        block->irp.AssociatedIrp.SystemBuffer = buffer;
    } else {
        block->irp.UserBuffer = buffer;
    }
    block->early = early;
    block->earlyLength = length;
    const NTSTATUS status = CallAndWait(file->target, block);
    information = std::min<ULONG_PTR>(block->irp.IoStatus.Information, length);
    FreeBlock(block);
    if (NT_SUCCESS(status))
        file->object.CurrentByteOffset.QuadPart = position + static_cast<LONGLONG>(information);
    return status;
}

} // namespace

NTSTATUS DeviceRead(const DeviceFilePtr& file, void* buffer, ULONG length, std::optional<LONGLONG> offset,
                    ULONG_PTR& information, const EarlyAnswer* early) {
    return Transfer(file, IRP_MJ_READ, buffer, length, offset, information, early);
}

NTSTATUS DeviceWrite(const DeviceFilePtr& file, const void* buffer, ULONG length, std::optional<LONGLONG> offset,
                     ULONG_PTR& information, const EarlyAnswer* early) {
    // The driver receives the caller's data; drivers that change it work on a copy.
    return Transfer(file, IRP_MJ_WRITE, const_cast<void*>(buffer), length, offset, information, early);
}

NTSTATUS DeviceFlush(const DeviceFilePtr& file) {
    std::lock_guard fileLock(file->lock);
    if (file->closed)
        return STATUS_FILE_CLOSED;
    if (!file->object.WriteAccess)
        return STATUS_ACCESS_DENIED;
    if (DeviceGone(file->target))
        return STATUS_DELETE_PENDING;
    IrpBlock* block = NewFileRequest(file, IRP_MJ_FLUSH_BUFFERS);
    if (!block)
        return STATUS_INSUFFICIENT_RESOURCES;
    const NTSTATUS status = CallAndWait(file->target, block);
    FreeBlock(block);
    return status;
}

NTSTATUS DeviceControl(const DeviceFilePtr& file, ULONG code, const void* input, ULONG inputLength, void* output,
                       ULONG outputLength, ULONG_PTR& information) {
    information = 0;
    std::lock_guard fileLock(file->lock);
    if (file->closed)
        return STATUS_FILE_CLOSED;
    const ULONG access = ACCESS_FROM_CTL_CODE(code);
    if (((access & FILE_READ_ACCESS) && !file->object.ReadAccess) ||
        ((access & FILE_WRITE_ACCESS) && !file->object.WriteAccess))
        return STATUS_ACCESS_DENIED;
    if (DeviceGone(file->target))
        return STATUS_DELETE_PENDING;
    // A file-system control code reaches a mounted file system as a file-system request.
    const bool fileSystem = file->target != file->device && DEVICE_TYPE_FROM_CTL_CODE(code) == FILE_DEVICE_FILE_SYSTEM;
    IrpBlock* block = NewFileRequest(file, fileSystem ? IRP_MJ_FILE_SYSTEM_CONTROL : IRP_MJ_DEVICE_CONTROL);
    if (!block)
        return STATUS_INSUFFICIENT_RESOURCES;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(&block->irp);
    if (fileSystem)
        next->MinorFunction = IRP_MN_USER_FS_REQUEST;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    const ULONG method = METHOD_FROM_CTL_CODE(code);
    if (method == METHOD_BUFFERED) {
        block->systemBuffer.assign(std::max(inputLength, outputLength), 0);
        if (input && inputLength)
            memcpy(block->systemBuffer.data(), input, inputLength);
        block->irp.AssociatedIrp.SystemBuffer = block->systemBuffer.empty() ? nullptr : block->systemBuffer.data();
    } else {
        block->irp.AssociatedIrp.SystemBuffer = const_cast<void*>(input);
        next->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(input);
        block->irp.UserBuffer = output;
        if (output && outputLength && method != METHOD_NEITHER) {
            block->mdl.MappedSystemVa = block->mdl.StartVa = output;
            block->mdl.ByteCount = outputLength;
            block->irp.MdlAddress = &block->mdl;
        }
    }
    NTSTATUS status = CallAndWait(file->target, block);
    // A disk with no file system mounted that does not know the volume controls answers them as the raw file
    // system would.
    if (status == STATUS_INVALID_DEVICE_REQUEST && file->target == file->device && DiskLike(file->device->object) &&
        (code == FSCTL_LOCK_VOLUME || code == FSCTL_UNLOCK_VOLUME || code == FSCTL_DISMOUNT_VOLUME)) {
        FreeBlock(block);
        return RawVolumeControl(file, code);
    }
    // On an error the information value is passed back as the driver left it (a needed size, for instance);
    // data is copied out only for success and warnings.
    information = block->irp.IoStatus.Information;
    if (method == METHOD_BUFFERED && !NT_ERROR(status)) {
        information = std::min<ULONG_PTR>(information, outputLength);
        if (output && information)
            memcpy(output, block->systemBuffer.data(), information);
    }
    FreeBlock(block);
    return status;
}

LONGLONG DevicePosition(const DeviceFilePtr& file) {
    std::lock_guard fileLock(file->lock);
    return file->object.CurrentByteOffset.QuadPart;
}

void SetDevicePosition(const DeviceFilePtr& file, LONGLONG position) {
    std::lock_guard fileLock(file->lock);
    file->object.CurrentByteOffset.QuadPart = position;
}

} // namespace platform::kernel

using namespace platform::kernel;

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING objectName, ACCESS_MASK desiredAccess, PFILE_OBJECT* fileObject,
                                  PDEVICE_OBJECT* deviceObject) {
    DeviceFilePtr file;
    const NTSTATUS status = OpenDevice(ToU16(objectName), desiredAccess, 0, file);
    if (!NT_SUCCESS(status))
        return status;
    // The caller owns the reference; ObDereferenceObject on the file object closes it.
    file->closeWithLastReference = true;
    ObReferenceObject(&file->object);
    *fileObject = &file->object;
    *deviceObject = &file->target->object;
    return STATUS_SUCCESS;
}
