// The object namespace, drivers, devices, symbolic links, IRPs and the I/O manager's request paths.
#include "platform/kernel/kernel_private.h"

#include "platform/base/strings.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include <dlfcn.h>

namespace platform::kernel {

class DriverImpl;
class DeviceImpl;

namespace {

enum class EntryKind { Directory, Device, SymbolicLink };

struct NamespaceEntry {
    EntryKind kind = EntryKind::Directory;
    std::u16string name; // the name as created, full path
    std::weak_ptr<DeviceImpl> device;
    std::u16string target;
    bool permanent = true;
};

// The object namespace as one map from the folded full path to its entry; the root is the empty key.
std::mutex g_namespaceLock;
std::map<std::u16string, NamespaceEntry> g_namespace;
// The session's DOS device definitions: folded name -> targets, oldest first.
std::map<std::u16string, std::vector<std::u16string>> g_localDosDevices;

std::vector<std::u16string> SplitPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::u16string JoinFrom(const std::vector<std::u16string>& parts, size_t from) {
    std::u16string result;
    for (size_t i = from; i < parts.size(); ++i)
        result += u"\\" + parts[i];
    return result;
}

void EnsureRootLocked() {
    if (!g_namespace.empty())
        return;
    g_namespace[u""] = NamespaceEntry{EntryKind::Directory, u"\\", {}, {}, true};
    g_namespace[u"\\DEVICE"] = NamespaceEntry{EntryKind::Directory, u"\\Device", {}, {}, true};
    g_namespace[u"\\GLOBAL??"] = NamespaceEntry{EntryKind::Directory, u"\\GLOBAL??", {}, {}, true};
    g_namespace[u"\\??"] = NamespaceEntry{EntryKind::SymbolicLink, u"\\??", {}, u"\\GLOBAL??", true};
    g_namespace[u"\\DOSDEVICES"] = NamespaceEntry{EntryKind::SymbolicLink, u"\\DosDevices", {}, u"\\??", true};
}

struct Resolved {
    NTSTATUS status = STATUS_SUCCESS;
    std::u16string key;
    NamespaceEntry* entry = nullptr;
};

Resolved Failure(NTSTATUS status) {
    Resolved resolved;
    resolved.status = status;
    return resolved;
}

// Walks a path through the namespace. Symbolic links on the way are followed, the last one only when
// `followLast` is set. "\??\NAME" looks at the session's definitions of NAME before the global directory.
Resolved ResolveLocked(std::u16string path, bool followLast) {
    EnsureRootLocked();
    for (int depth = 0; depth < 32; ++depth) {
        if (path.empty() || path[0] != u'\\')
            return Failure(STATUS_OBJECT_PATH_SYNTAX_BAD);
        const auto parts = SplitPath(path);
        std::u16string key;
        bool restart = false;
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            std::u16string candidate = key + u"\\" + FoldName(parts[i]);
            if (candidate == u"\\??" && !last) {
                auto local = g_localDosDevices.find(FoldName(parts[i + 1]));
                if (local != g_localDosDevices.end() && !local->second.empty() &&
                    (i + 2 < parts.size() || followLast)) {
                    path = local->second.back() + JoinFrom(parts, i + 2);
                    restart = true;
                    break;
                }
            }
            auto it = g_namespace.find(candidate);
            if (it == g_namespace.end())
                return Failure(last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND);
            NamespaceEntry& entry = it->second;
            if (entry.kind == EntryKind::SymbolicLink && (!last || followLast)) {
                path = entry.target + JoinFrom(parts, i + 1);
                restart = true;
                break;
            }
            if (!last && entry.kind != EntryKind::Directory)
                return Failure(STATUS_OBJECT_PATH_NOT_FOUND);
            key = std::move(candidate);
        }
        if (!restart) {
            auto it = g_namespace.find(key);
            return {STATUS_SUCCESS, key, &it->second};
        }
    }
    return Failure(STATUS_OBJECT_PATH_NOT_FOUND);
}

// Inserts a new entry; the parent must resolve to a directory.
NTSTATUS InsertLocked(const std::u16string& name, NamespaceEntry entry, std::u16string* keyOut) {
    EnsureRootLocked();
    if (name.size() < 2 || name[0] != u'\\' || name.back() == u'\\')
        return STATUS_OBJECT_NAME_INVALID;
    const size_t slash = name.rfind(u'\\');
    const std::u16string parent = name.substr(0, slash);
    const std::u16string leaf = name.substr(slash + 1);
    std::u16string parentKey;
    if (!parent.empty()) {
        Resolved resolved = ResolveLocked(parent, true);
        if (!NT_SUCCESS(resolved.status))
            return STATUS_OBJECT_PATH_NOT_FOUND;
        if (resolved.entry->kind != EntryKind::Directory)
            return STATUS_OBJECT_PATH_NOT_FOUND;
        parentKey = resolved.key;
    }
    const std::u16string key = parentKey + u"\\" + FoldName(leaf);
    if (g_namespace.count(key))
        return STATUS_OBJECT_NAME_COLLISION;
    entry.name = name;
    g_namespace[key] = std::move(entry);
    if (keyOut)
        *keyOut = key;
    return STATUS_SUCCESS;
}

std::u16string ToU16(PCUNICODE_STRING string) {
    if (!string || !string->Buffer)
        return {};
    return std::u16string(string->Buffer, string->Length / sizeof(WCHAR));
}

std::mutex g_driverLock;
std::map<std::u16string, std::shared_ptr<DriverImpl>> g_drivers; // folded service name -> driver

} // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& c : folded)
        c = platform::FoldUpper(c);
    return folded;
}

// A loaded driver: the driver object, its module, and its registry path.
class DriverImpl : public KObject {
public:
    ~DriverImpl() override {
        UnregisterObjectAddress(&object);
        if (module)
            dlclose(module);
    }
    DRIVER_OBJECT object{};
    void* module = nullptr;
    std::u16string serviceName;
    std::u16string driverName;
    std::u16string registryPath;
};

// A device object with its extension, volume parameter block and name.
class DeviceImpl : public KObject {
public:
    ~DeviceImpl() override { UnregisterObjectAddress(&object); }
    DEVICE_OBJECT object{};
    VPB vpb{};
    std::vector<uint64_t> extension; // 8-byte aligned storage
    std::shared_ptr<DriverImpl> driver;
    std::u16string name;
    std::u16string key; // namespace key, empty when unnamed
    bool deleted = false;
    VolumeMount mount; // guarded by g_namespaceLock
    int openCount = 0;
};

class DeviceFile : public KObject {
public:
    ~DeviceFile() override { UnregisterObjectAddress(&object); }
    // A file object handed out by IoGetDeviceObjectPointer is closed with its last reference.
    void OnLastReferenceReleased() override {
        if (closeWithLastReference)
            CloseDevice(std::static_pointer_cast<DeviceFile>(shared_from_this()));
    }
    PVOID FileObjectBody() override { return &object; }
    FILE_OBJECT object{};
    std::shared_ptr<DeviceImpl> device;
    // Where the file's requests go: the device, or the volume device of the file system that was mounted on it
    // when the file was opened.
    std::shared_ptr<DeviceImpl> target;
    std::mutex lock; // one request at a time per handle keeps the current position consistent
    bool closed = false;
    bool closeWithLastReference = false;
};

namespace {

std::mutex g_deviceLock; // guards driver device lists, open counts and the deleted flags

std::shared_ptr<DeviceImpl> DeviceOf(PDEVICE_OBJECT device) {
    return std::dynamic_pointer_cast<DeviceImpl>(LookupObjectAddress(device));
}

NTSTATUS DefaultDispatch(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

// Storage of an IRP: the request with its stack locations behind it, and the completion the requester waits on.
constexpr CCHAR kMaximumStackSize = 4;

struct IrpBlock {
    IRP irp; // first: the request's address is the block's
    KEVENT done;
    bool threaded = false; // built by IoBuildDeviceIoControlRequest: the I/O manager finishes and frees it
    ULONG method = METHOD_BUFFERED;
    PVOID userOutput = nullptr;
    ULONG userOutputLength = 0;
    std::vector<uint8_t> systemBuffer;
    MDL mdl{};
    IO_STACK_LOCATION stack[kMaximumStackSize];
};

IrpBlock* BlockOf(PIRP irp) {
    return reinterpret_cast<IrpBlock*>(irp);
}

IrpBlock* AllocateBlock(CCHAR stackSize) {
    if (stackSize < 1 || stackSize > kMaximumStackSize)
        return nullptr;
    auto* block = new (std::nothrow) IrpBlock();
    if (!block)
        return nullptr;
    memset(block->stack, 0, sizeof(block->stack));
    IRP& irp = block->irp;
    irp.StackCount = stackSize;
    irp.CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp.Tail.Overlay.CurrentStackLocation = block->stack + stackSize; // one past the last: IoCallDriver moves down
    InitializeListHead(&irp.ThreadListEntry);
    KeInitializeEvent(&block->done, NotificationEvent, FALSE);
    return block;
}

void FreeBlock(IrpBlock* block) {
    delete block;
}

// Sends a request to the device and waits for its completion; returns the final status.
NTSTATUS CallAndWait(const std::shared_ptr<DeviceImpl>& device, IrpBlock* block) {
    const NTSTATUS returned = IoCallDriver(&device->object, &block->irp);
    if (returned == STATUS_PENDING)
        KeWaitForSingleObject(&block->done, Executive, KernelMode, FALSE, nullptr);
    if (KeReadStateEvent(&block->done) == 0) {
        DebugLogWrite("driver returned without completing its request");
        return returned;
    }
    return block->irp.IoStatus.Status;
}

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

bool DeviceGone(const std::shared_ptr<DeviceImpl>& device) {
    std::lock_guard lock(g_deviceLock);
    return device->deleted;
}

} // namespace
} // namespace platform::kernel

using namespace platform::kernel;

// ---- Devices and names -------------------------------------------------------------------------------------

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                        DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject) {
    if (!driverObject || !deviceObject)
        return STATUS_INVALID_PARAMETER;
    auto driver = std::dynamic_pointer_cast<DriverImpl>(LookupObjectAddress(driverObject));
    if (!driver)
        return STATUS_INVALID_PARAMETER;
    std::shared_ptr<DeviceImpl> device;
    try {
        device = std::make_shared<DeviceImpl>();
        device->extension.assign((deviceExtensionSize + 7) / 8, 0);
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    DEVICE_OBJECT& object = device->object;
    object.Type = 3;
    object.Size = sizeof(DEVICE_OBJECT);
    object.DriverObject = driverObject;
    object.Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    object.Characteristics = deviceCharacteristics;
    object.DeviceExtension = deviceExtensionSize ? device->extension.data() : nullptr;
    object.DeviceType = deviceType;
    object.StackSize = 1;
    if (deviceType == FILE_DEVICE_DISK || deviceType == FILE_DEVICE_CD_ROM || deviceType == FILE_DEVICE_VIRTUAL_DISK) {
        device->vpb.Type = 10;
        device->vpb.Size = sizeof(VPB);
        device->vpb.RealDevice = &object;
        object.Vpb = &device->vpb;
    }
    device->driver = driver;
    if (deviceName && deviceName->Length) {
        device->name = ToU16(deviceName);
        std::lock_guard lock(g_namespaceLock);
        NamespaceEntry entry;
        entry.kind = EntryKind::Device;
        entry.device = device;
        const NTSTATUS status = InsertLocked(device->name, std::move(entry), &device->key);
        if (!NT_SUCCESS(status))
            return status;
    }
    RegisterObjectAddress(&object, device);
    {
        std::lock_guard lock(g_deviceLock);
        object.NextDevice = driverObject->DeviceObject;
        driverObject->DeviceObject = &object;
    }
    // The driver's reference: it keeps the device alive until IoDeleteDevice.
    ObReferenceObject(&object);
    *deviceObject = &object;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
    if (!deviceObject)
        return;
    auto device = DeviceOf(deviceObject);
    if (!device)
        return;
    if (!device->key.empty()) {
        std::lock_guard lock(g_namespaceLock);
        g_namespace.erase(device->key);
        device->key.clear();
    }
    {
        std::lock_guard lock(g_deviceLock);
        device->deleted = true;
        PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject;
        while (*link && *link != deviceObject)
            link = &(*link)->NextDevice;
        if (*link)
            *link = deviceObject->NextDevice;
        deviceObject->NextDevice = nullptr;
    }
    ObDereferenceObject(deviceObject);
}

namespace {

std::atomic<platform::kernel::DriveLetterObserver> g_driveLetterObserver{nullptr};

// The drive letter (0..25) of a namespace key "\GLOBAL??\X:", or -1.
int LetterOfLinkKey(const std::u16string& key) {
    static const std::u16string prefix = u"\\GLOBAL??\\";
    if (key.size() != prefix.size() + 2 || key.compare(0, prefix.size(), prefix) != 0 || key.back() != u':')
        return -1;
    const char16_t letter = key[prefix.size()];
    return letter >= u'A' && letter <= u'Z' ? letter - u'A' : -1;
}

void TellDriveLetterObserver(const std::u16string& key, const std::u16string& target, bool created) {
    const int drive = LetterOfLinkKey(key);
    if (drive < 0)
        return;
    if (auto observer = g_driveLetterObserver.load())
        observer(drive, target, created);
}

} // namespace

void platform::kernel::SetDriveLetterObserver(DriveLetterObserver observer) {
    g_driveLetterObserver = observer;
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName) {
    if (!symbolicLinkName || !deviceName)
        return STATUS_INVALID_PARAMETER;
    NamespaceEntry entry;
    entry.kind = EntryKind::SymbolicLink;
    entry.target = ToU16(deviceName);
    const std::u16string target = entry.target;
    std::u16string key;
    NTSTATUS status;
    {
        std::lock_guard lock(g_namespaceLock);
        status = InsertLocked(ToU16(symbolicLinkName), std::move(entry), &key);
    }
    if (NT_SUCCESS(status))
        TellDriveLetterObserver(key, target, true);
    return status;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName) {
    if (!symbolicLinkName)
        return STATUS_INVALID_PARAMETER;
    std::u16string key;
    std::u16string target;
    {
        std::lock_guard lock(g_namespaceLock);
        Resolved resolved = ResolveLocked(ToU16(symbolicLinkName), false);
        if (!NT_SUCCESS(resolved.status))
            return resolved.status;
        if (resolved.entry->kind != EntryKind::SymbolicLink)
            return STATUS_OBJECT_TYPE_MISMATCH;
        key = resolved.key;
        target = resolved.entry->target;
        g_namespace.erase(resolved.key);
    }
    TellDriveLetterObserver(key, target, false);
    return STATUS_SUCCESS;
}

BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion) {
    return majorVersion < 1 || (majorVersion == 1 && minorVersion <= 0x30);
}

namespace platform::kernel {
namespace {

class DirectoryObject : public KObject {
public:
    void OnLastHandleClosed() override {
        std::lock_guard lock(g_namespaceLock);
        auto it = g_namespace.find(key);
        if (it != g_namespace.end() && !it->second.permanent)
            g_namespace.erase(it);
    }
    std::u16string key;
};

} // namespace
} // namespace platform::kernel

NTSTATUS ZwCreateDirectoryObject(PHANDLE directoryHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes) {
    if (!directoryHandle || !objectAttributes || !objectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    auto directory = std::make_shared<DirectoryObject>();
    NamespaceEntry entry;
    entry.kind = EntryKind::Directory;
    entry.permanent = (objectAttributes->Attributes & OBJ_PERMANENT) != 0;
    {
        std::lock_guard lock(g_namespaceLock);
        const NTSTATUS status = InsertLocked(ToU16(objectAttributes->ObjectName), std::move(entry), &directory->key);
        if (!NT_SUCCESS(status))
            return status;
    }
    *directoryHandle = InsertKernelHandle(directory);
    return STATUS_SUCCESS;
}

NTSTATUS ZwMakeTemporaryObject(HANDLE handle) {
    auto directory = LookupKernelHandleAs<DirectoryObject>(handle);
    if (!directory)
        return STATUS_INVALID_HANDLE;
    std::lock_guard lock(g_namespaceLock);
    auto it = g_namespace.find(directory->key);
    if (it != g_namespace.end())
        it->second.permanent = false;
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle) {
    return CloseKernelHandle(handle);
}

// ---- Requests ----------------------------------------------------------------------------------------------

PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG) {
    return mdl ? mdl->MappedSystemVa : nullptr;
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
    IrpBlock* block = AllocateBlock(stackSize);
    return block ? &block->irp : nullptr;
}

void IoFreeIrp(PIRP irp) {
    if (irp)
        FreeBlock(BlockOf(irp));
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = deviceObject;
    PDRIVER_DISPATCH dispatch = deviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    if (!dispatch)
        dispatch = DefaultDispatch;
    return dispatch(deviceObject, irp);
}

void IoCompleteRequest(PIRP irp, CCHAR) {
    IrpBlock* block = BlockOf(irp);
    // Completion routines run from the current location upward, each seeing its own location as current.
    IO_STACK_LOCATION* const end = block->stack + irp->StackCount;
    for (IO_STACK_LOCATION* stack = irp->Tail.Overlay.CurrentStackLocation; stack < end; ++stack) {
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        const bool success = NT_SUCCESS(irp->IoStatus.Status);
        if (stack->CompletionRoutine && ((success && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                                         (!success && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                                         (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)))) {
            PDEVICE_OBJECT device = stack + 1 < end ? (stack + 1)->DeviceObject : nullptr;
            if (stack->CompletionRoutine(device, irp, stack->Context) == STATUS_MORE_PROCESSING_REQUIRED)
                return;
        }
    }
    if (block->threaded) {
        if (block->method == METHOD_BUFFERED && NT_SUCCESS(irp->IoStatus.Status) && block->userOutput) {
            const size_t count = std::min<size_t>(irp->IoStatus.Information, block->userOutputLength);
            memcpy(block->userOutput, block->systemBuffer.data(), count);
        }
        if (irp->UserIosb)
            *irp->UserIosb = irp->IoStatus;
        PKEVENT event = irp->UserEvent;
        FreeBlock(block);
        if (event)
            KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        return;
    }
    KeSetEvent(&block->done, IO_NO_INCREMENT, FALSE);
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
    IrpBlock* block = AllocateBlock(deviceObject->StackSize);
    if (!block)
        return nullptr;
    block->threaded = true;
    block->method = METHOD_FROM_CTL_CODE(ioControlCode);
    IRP& irp = block->irp;
    irp.RequestorMode = KernelMode;
    irp.UserEvent = event;
    irp.UserIosb = ioStatusBlock;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(&irp);
    next->MajorFunction = internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    if (block->method == METHOD_BUFFERED) {
        block->systemBuffer.assign(std::max(inputBufferLength, outputBufferLength), 0);
        if (inputBuffer && inputBufferLength)
            memcpy(block->systemBuffer.data(), inputBuffer, inputBufferLength);
        irp.AssociatedIrp.SystemBuffer = block->systemBuffer.empty() ? nullptr : block->systemBuffer.data();
        block->userOutput = outputBuffer;
        block->userOutputLength = outputBufferLength;
    } else {
        irp.AssociatedIrp.SystemBuffer = inputBuffer;
        next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
        irp.UserBuffer = outputBuffer;
        if (outputBuffer && block->method != METHOD_NEITHER) {
            block->mdl.MappedSystemVa = block->mdl.StartVa = outputBuffer;
            block->mdl.ByteCount = outputBufferLength;
            irp.MdlAddress = &block->mdl;
        }
    }
    return &irp;
}

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject) {
    if (!fileObject)
        return nullptr;
    if (auto file = std::dynamic_pointer_cast<DeviceFile>(LookupObjectAddress(fileObject)))
        return &file->target->object;
    return fileObject->DeviceObject;
}

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

// ---- The host's side ---------------------------------------------------------------------------------------

namespace platform::kernel {

namespace {

// The device that requests of a new handle of `device` go to: the volume device of the file system mounted on it,
// or the device itself.
std::shared_ptr<DeviceImpl> VolumeDeviceOf(const std::shared_ptr<DeviceImpl>& device) {
    PDEVICE_OBJECT volume = nullptr;
    {
        std::lock_guard lock(g_deviceLock);
        if (device->vpb.Flags & VPB_MOUNTED)
            volume = device->vpb.DeviceObject;
    }
    std::shared_ptr<DeviceImpl> mounted = volume ? DeviceOf(volume) : nullptr;
    return mounted && !DeviceGone(mounted) ? mounted : device;
}

} // namespace

NTSTATUS MountVolume(PDEVICE_OBJECT device, PDEVICE_OBJECT volumeDevice) {
    std::shared_ptr<DeviceImpl> real = DeviceOf(device);
    if (!real || !volumeDevice || !DeviceOf(volumeDevice) || volumeDevice == device)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(g_deviceLock);
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
    std::lock_guard lock(g_deviceLock);
    real->vpb.Flags &= static_cast<USHORT>(~VPB_MOUNTED);
    real->vpb.DeviceObject = nullptr;
}

PFILE_OBJECT FileObjectOf(const DeviceFilePtr& file) {
    return file ? &file->object : nullptr;
}

NTSTATUS OpenDevice(const std::u16string& ntName, ACCESS_MASK desiredAccess, ULONG shareAccess, DeviceFilePtr& result) {
    std::shared_ptr<DeviceImpl> device;
    {
        std::lock_guard lock(g_namespaceLock);
        Resolved resolved = ResolveLocked(ntName, true);
        if (!NT_SUCCESS(resolved.status))
            return resolved.status;
        if (resolved.entry->kind != EntryKind::Device)
            return STATUS_OBJECT_TYPE_MISMATCH;
        device = resolved.entry->device.lock();
    }
    if (!device)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    {
        std::lock_guard lock(g_deviceLock);
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
        std::lock_guard lock(g_deviceLock);
        device->openCount--;
        device->object.ReferenceCount--;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(&block->irp)->Parameters.Create.ShareAccess = static_cast<USHORT>(shareAccess);
    const NTSTATUS status = CallAndWait(file->target, block);
    FreeBlock(block);
    if (!NT_SUCCESS(status)) {
        std::lock_guard lock(g_deviceLock);
        device->openCount--;
        device->object.ReferenceCount--;
        file->closed = true;
        return status;
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
    std::lock_guard lock(g_deviceLock);
    file->device->openCount--;
    file->device->object.ReferenceCount--;
}

namespace {

NTSTATUS Transfer(const DeviceFilePtr& file, UCHAR major, void* buffer, ULONG length, std::optional<LONGLONG> offset,
                  ULONG_PTR& information) {
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
    const NTSTATUS status = CallAndWait(file->target, block);
    information = std::min<ULONG_PTR>(block->irp.IoStatus.Information, length);
    FreeBlock(block);
    if (NT_SUCCESS(status))
        file->object.CurrentByteOffset.QuadPart = position + static_cast<LONGLONG>(information);
    return status;
}

} // namespace

NTSTATUS DeviceRead(const DeviceFilePtr& file, void* buffer, ULONG length, std::optional<LONGLONG> offset,
                    ULONG_PTR& information) {
    return Transfer(file, IRP_MJ_READ, buffer, length, offset, information);
}

NTSTATUS DeviceWrite(const DeviceFilePtr& file, const void* buffer, ULONG length, std::optional<LONGLONG> offset,
                     ULONG_PTR& information) {
    // The driver receives the caller's data; drivers that change it work on a copy.
    return Transfer(file, IRP_MJ_WRITE, const_cast<void*>(buffer), length, offset, information);
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
    const NTSTATUS status = CallAndWait(file->target, block);
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

// ---- Drivers -----------------------------------------------------------------------------------------------

namespace {

std::u16string RegistryPathOf(const std::u16string& serviceName) {
    return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + serviceName;
}

NTSTATUS StartDriver(const std::u16string& serviceName, void* module, PDRIVER_INITIALIZE entry) {
    const std::u16string folded = FoldName(serviceName);
    auto driver = std::make_shared<DriverImpl>();
    driver->module = module;
    driver->serviceName = serviceName;
    driver->driverName = u"\\Driver\\" + serviceName;
    driver->registryPath = RegistryPathOf(serviceName);
    DRIVER_OBJECT& object = driver->object;
    object.Type = 4;
    object.Size = sizeof(DRIVER_OBJECT);
    object.DriverInit = entry;
    object.DriverName.Buffer = driver->driverName.data();
    object.DriverName.Length = object.DriverName.MaximumLength =
        static_cast<USHORT>(driver->driverName.size() * sizeof(WCHAR));
    for (auto& dispatch : object.MajorFunction)
        dispatch = DefaultDispatch;
    RegisterObjectAddress(&object, driver);
    {
        std::lock_guard lock(g_driverLock);
        if (g_drivers.count(folded)) {
            driver->module = nullptr; // the module handle belongs to the running driver's reference count
            if (module)
                dlclose(module);
            return STATUS_IMAGE_ALREADY_LOADED;
        }
        g_drivers[folded] = driver;
    }
    UNICODE_STRING registryPath;
    registryPath.Buffer = driver->registryPath.data();
    registryPath.Length = registryPath.MaximumLength = static_cast<USHORT>(driver->registryPath.size() * sizeof(WCHAR));
    NTSTATUS status;
    try {
        status = entry(&object, &registryPath);
    } catch (...) {
        status = STATUS_DRIVER_INTERNAL_ERROR;
    }
    if (!NT_SUCCESS(status)) {
        std::lock_guard lock(g_driverLock);
        g_drivers.erase(folded);
        return status;
    }
    // As the system does, devices made during the entry are ready once it returns.
    std::lock_guard lock(g_deviceLock);
    for (PDEVICE_OBJECT device = object.DeviceObject; device; device = device->NextDevice)
        device->Flags &= ~DO_DEVICE_INITIALIZING;
    return status;
}

} // namespace

NTSTATUS LoadDriver(const std::u16string& serviceName, const std::string& hostPath) {
    if (IsDriverLoaded(serviceName))
        return STATUS_IMAGE_ALREADY_LOADED;
    void* module = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        DebugLogWrite(std::string("cannot load driver module: ") + dlerror());
        return access(hostPath.c_str(), F_OK) == 0 ? STATUS_INVALID_IMAGE_FORMAT : STATUS_DLL_NOT_FOUND;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(module, "DriverEntry"));
    if (!entry) {
        dlclose(module);
        return STATUS_PROCEDURE_NOT_FOUND;
    }
    return StartDriver(serviceName, module, entry);
}

NTSTATUS LoadDriverEntry(const std::u16string& serviceName, PDRIVER_INITIALIZE entry) {
    return StartDriver(serviceName, nullptr, entry);
}

NTSTATUS UnloadDriver(const std::u16string& serviceName) {
    std::shared_ptr<DriverImpl> driver;
    {
        std::lock_guard lock(g_driverLock);
        auto it = g_drivers.find(FoldName(serviceName));
        if (it == g_drivers.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        if (!it->second->object.DriverUnload)
            return STATUS_INVALID_DEVICE_REQUEST;
        driver = it->second;
        g_drivers.erase(it);
    }
    try {
        driver->object.DriverUnload(&driver->object);
    } catch (...) {
        DebugLogWrite("driver unload ended by an exception");
    }
    // Devices the driver left behind are deleted now; their memory (and the module) goes with the last handle.
    for (;;) {
        PDEVICE_OBJECT device;
        {
            std::lock_guard lock(g_deviceLock);
            device = driver->object.DeviceObject;
        }
        if (!device)
            break;
        IoDeleteDevice(device);
    }
    return STATUS_SUCCESS;
}

bool IsDriverLoaded(const std::u16string& serviceName) {
    std::lock_guard lock(g_driverLock);
    return g_drivers.count(FoldName(serviceName)) != 0;
}

std::vector<std::u16string> LoadedDrivers() {
    std::lock_guard lock(g_driverLock);
    std::vector<std::u16string> names;
    for (const auto& [key, driver] : g_drivers)
        names.push_back(driver->serviceName);
    return names;
}

// ---- DOS device names --------------------------------------------------------------------------------------

constexpr ULONG kDddRawTargetPath = 0x1;
constexpr ULONG kDddRemoveDefinition = 0x2;
constexpr ULONG kDddExactMatchOnRemove = 0x4;

NTSTATUS DefineDosDevice(ULONG flags, const std::u16string& name, const std::u16string& target) {
    if (name.empty() || name.find(u'\\') != std::u16string::npos)
        return STATUS_OBJECT_NAME_INVALID;
    const std::u16string ntTarget = (flags & kDddRawTargetPath) || target.empty() ? target : u"\\??\\" + target;
    std::lock_guard lock(g_namespaceLock);
    auto& stack = g_localDosDevices[FoldName(name)];
    if (!(flags & kDddRemoveDefinition)) {
        if (ntTarget.empty())
            return STATUS_INVALID_PARAMETER;
        stack.push_back(ntTarget);
        return STATUS_SUCCESS;
    }
    if (stack.empty()) {
        g_localDosDevices.erase(FoldName(name));
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (ntTarget.empty()) {
        stack.pop_back();
    } else {
        auto match = std::find_if(stack.rbegin(), stack.rend(), [&](const std::u16string& t) {
            return (flags & kDddExactMatchOnRemove) ? FoldName(t) == FoldName(ntTarget)
                                                    : FoldName(t).rfind(FoldName(ntTarget), 0) == 0;
        });
        if (match == stack.rend())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        stack.erase(std::next(match).base());
    }
    if (stack.empty())
        g_localDosDevices.erase(FoldName(name));
    return STATUS_SUCCESS;
}

NTSTATUS QueryDosDevice(const std::u16string& name, std::vector<std::u16string>& result) {
    result.clear();
    std::lock_guard lock(g_namespaceLock);
    EnsureRootLocked();
    if (name.empty()) {
        std::vector<std::u16string> names;
        for (const auto& [key, targets] : g_localDosDevices)
            names.push_back(key);
        for (const auto& [key, entry] : g_namespace) {
            if (key.rfind(u"\\GLOBAL??\\", 0) == 0 && key.find(u'\\', 10) == std::u16string::npos)
                names.push_back(entry.name.substr(entry.name.rfind(u'\\') + 1));
        }
        for (auto& n : names) {
            if (std::none_of(result.begin(), result.end(), [&](const auto& r) { return FoldName(r) == FoldName(n); }))
                result.push_back(n);
        }
        return STATUS_SUCCESS;
    }
    auto local = g_localDosDevices.find(FoldName(name));
    if (local != g_localDosDevices.end())
        result.assign(local->second.rbegin(), local->second.rend());
    auto global = g_namespace.find(u"\\GLOBAL??\\" + FoldName(name));
    if (global != g_namespace.end() && global->second.kind == EntryKind::SymbolicLink)
        result.push_back(global->second.target);
    return result.empty() ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_SUCCESS;
}

std::u16string ResolveName(const std::u16string& ntName) {
    std::lock_guard lock(g_namespaceLock);
    Resolved resolved = ResolveLocked(ntName, true);
    return NT_SUCCESS(resolved.status) ? resolved.entry->name : std::u16string();
}

std::vector<DriveLetterDevice> DriveLetterDevices() {
    std::vector<DriveLetterDevice> result;
    std::lock_guard lock(g_namespaceLock);
    for (int drive = 0; drive < 26; ++drive) {
        const std::u16string name = std::u16string(u"\\??\\") + static_cast<char16_t>(u'A' + drive) + u":";
        Resolved resolved = ResolveLocked(name, true);
        if (!NT_SUCCESS(resolved.status) || resolved.entry->kind != EntryKind::Device)
            continue;
        DriveLetterDevice letter{drive, resolved.entry->name, 0, 0, {}};
        if (auto device = resolved.entry->device.lock()) {
            letter.deviceType = device->object.DeviceType;
            letter.characteristics = device->object.Characteristics;
            letter.mount = device->mount;
        }
        result.push_back(std::move(letter));
    }
    return result;
}

void SetVolumeMount(PDEVICE_OBJECT deviceObject, const VolumeMount& mount) {
    auto device = DeviceOf(deviceObject);
    if (!device)
        return;
    std::lock_guard lock(g_namespaceLock);
    device->mount = mount;
}

} // namespace platform::kernel
