// Internals of the I/O manager shared by its sources: the object namespace, driver, device and file objects, and
// the storage of IRPs.
#pragma once

#include "platform/kernel/kernel_private.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::kernel {

class DeviceImpl;

// ---- The object namespace (object_namespace.cpp) ---------------------------------------------------------------

enum class EntryKind { Directory, Device, SymbolicLink };

struct NamespaceEntry {
    EntryKind kind = EntryKind::Directory;
    std::u16string name; // the name as created, full path
    std::weak_ptr<DeviceImpl> device;
    std::u16string target;
    bool permanent = true;
};

// The namespace as one map from the folded full path to its entry (the root is the empty key), and the session's
// DOS device definitions (folded name -> targets, oldest first), which "\??\NAME" consults before the global
// directory. Both are guarded by `lock`.
struct ObjectNamespace {
    std::mutex lock;
    std::map<std::u16string, NamespaceEntry> entries;
    std::map<std::u16string, std::vector<std::u16string>> localDosDevices;
};
ObjectNamespace& Names();

struct Resolved {
    NTSTATUS status = STATUS_SUCCESS;
    std::u16string key;
    NamespaceEntry* entry = nullptr;
};

// The calls below expect Names().lock to be held.
// Walks a path through the namespace. Symbolic links on the way are followed, the last one only when
// `followLast` is set.
Resolved ResolveLocked(std::u16string path, bool followLast);
// Inserts a new entry; the parent must resolve to a directory.
NTSTATUS InsertLocked(const std::u16string& name, NamespaceEntry entry, std::u16string* keyOut);
// Makes sure the root directories and links exist.
void EnsureRootLocked();

std::u16string ToU16(PCUNICODE_STRING string);

// ---- Drivers, devices and open files (driver_loader.cpp, device_objects.cpp, host_requests.cpp) -----------------

// A loaded driver: the driver object, its module, and its registry path.
class DriverImpl : public KObject {
public:
    ~DriverImpl() override;
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
    VolumeMount mount; // guarded by the namespace lock
    int openCount = 0;
    int dataOpens = 0;                   // handles with read or write access (DeviceLock)
    PFILE_OBJECT rawLock = nullptr;      // the handle that locked the raw volume (DeviceLock)
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

// Guards driver device lists, open counts and the deleted flags.
std::mutex& DeviceLock();
std::shared_ptr<DeviceImpl> DeviceOf(PDEVICE_OBJECT device);
bool DeviceGone(const std::shared_ptr<DeviceImpl>& device);

// ---- Requests (irp.cpp) ------------------------------------------------------------------------------------------

// What a driver's major function does when it has none of its own: refuse the request.
NTSTATUS DefaultDispatch(PDEVICE_OBJECT, PIRP irp);

// Storage of an IRP: the request with its stack locations behind it, and the completion the requester waits on.
constexpr CCHAR kMaximumStackSize = 4;

struct EarlyAnswer;

struct IrpBlock {
    IRP irp; // first: the request's address is the block's
    KEVENT done;
    bool threaded = false; // built by IoBuildDeviceIoControlRequest: the I/O manager finishes and frees it
    ULONG method = METHOD_BUFFERED;
    PVOID userOutput = nullptr;
    ULONG userOutputLength = 0;
    std::vector<uint8_t> systemBuffer;
    MDL mdl{};
    // Called as the request completes, before `done` is set (see EarlyAnswer); the length bounds the information.
    const EarlyAnswer* early = nullptr;
    ULONG earlyLength = 0;
    IO_STACK_LOCATION stack[kMaximumStackSize];
};

IrpBlock* AllocateBlock(CCHAR stackSize);
void FreeBlock(IrpBlock* block);
// Sends a request to the device and waits for its completion; returns the final status.
NTSTATUS CallAndWait(const std::shared_ptr<DeviceImpl>& device, IrpBlock* block);

} // namespace platform::kernel
