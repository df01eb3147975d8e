// The kernel host's side of the I/O manager: loading drivers, opening devices by name and sending them
// requests, and the DOS device names of the session.
//
// The host process calls these for the requests its clients send over the socket (host.h); tests call them
// directly to drive a driver in-process. Every call returns the final NTSTATUS of the request: a request that
// the driver marks pending is waited for here, as the I/O manager waits for a synchronous caller.
#pragma once

#include "platform/kernel/kernel.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::kernel {

// The identity of the program a request comes from; captured by SeCreateClientSecurity.
struct ClientIdentity {
    ULONG userId = 0;
    ULONG groupId = 0;
    ULONG processId = 0;
};
// Sets the client the calling thread serves (null: the host itself) for the lifetime of the scope.
class ScopedClient {
public:
    explicit ScopedClient(const ClientIdentity& client);
    ~ScopedClient();
    ScopedClient(const ScopedClient&) = delete;
    ScopedClient& operator=(const ScopedClient&) = delete;

private:
    const ClientIdentity* m_previous;
    ClientIdentity m_client;
};

// Loads the shared object at `hostPath`, finds its exported DriverEntry and runs it with the service's registry
// path. STATUS_IMAGE_ALREADY_LOADED when the service's driver is loaded; STATUS_DLL_NOT_FOUND or
// STATUS_PROCEDURE_NOT_FOUND when the module or its entry is missing; else DriverEntry's status (a failed entry
// leaves nothing loaded).
NTSTATUS LoadDriver(const std::u16string& serviceName, const std::string& hostPath);
// The same for an entry point that is already in the process (tests).
NTSTATUS LoadDriverEntry(const std::u16string& serviceName, PDRIVER_INITIALIZE entry);
// Runs the driver's unload routine. A driver without one cannot be stopped (STATUS_INVALID_DEVICE_REQUEST);
// STATUS_OBJECT_NAME_NOT_FOUND when it is not loaded. The module is released once its last device is gone.
NTSTATUS UnloadDriver(const std::u16string& serviceName);
bool IsDriverLoaded(const std::u16string& serviceName);
std::vector<std::u16string> LoadedDrivers();

// An open handle on a device: the file object and the access it was granted.
class DeviceFile;
using DeviceFilePtr = std::shared_ptr<DeviceFile>;

// Opens a device by its NT name ("\??\Name", "\Device\Name"), following symbolic links, and sends it the create
// request. STATUS_OBJECT_NAME_NOT_FOUND or STATUS_OBJECT_PATH_NOT_FOUND for unknown names, STATUS_ACCESS_DENIED
// for a second open of an exclusive device, else the driver's answer.
NTSTATUS OpenDevice(const std::u16string& ntName, ACCESS_MASK desiredAccess, ULONG shareAccess, DeviceFilePtr& file);
// Sends cleanup and close to the driver; the handle is unusable afterwards. Closing twice does nothing.
void CloseDevice(const DeviceFilePtr& file);
// The file object of a handle (ObReferenceObjectByHandle on a kernel handle of the device gives it to drivers).
PFILE_OBJECT FileObjectOf(const DeviceFilePtr& file);
// Read and write at `offset`, or at the file's current position (which then advances) when it has no value.
// When `early` is given and the driver completes the request, it is called on the completing thread with the
// status and information these return, as soon as the driver is done with the buffer and before the caller
// wakes: a caller that passes the outcome on can do so without waiting to be woken. It is not called when the
// request fails before it reaches the driver.
struct EarlyAnswer {
    void (*answer)(void* context, NTSTATUS status, ULONG_PTR information);
    void* context;
};
NTSTATUS DeviceRead(const DeviceFilePtr& file, void* buffer, ULONG length, std::optional<LONGLONG> offset,
                    ULONG_PTR& information, const EarlyAnswer* early = nullptr);
NTSTATUS DeviceWrite(const DeviceFilePtr& file, const void* buffer, ULONG length, std::optional<LONGLONG> offset,
                     ULONG_PTR& information, const EarlyAnswer* early = nullptr);
// Asks the device to write out what it holds of earlier writes (IRP_MJ_FLUSH_BUFFERS); needs write access.
NTSTATUS DeviceFlush(const DeviceFilePtr& file);
// A device control. The handle must carry the access the code names (STATUS_ACCESS_DENIED otherwise). For
// METHOD_BUFFERED the output receives min(information, outputLength) bytes.
NTSTATUS DeviceControl(const DeviceFilePtr& file, ULONG code, const void* input, ULONG inputLength, void* output,
                       ULONG outputLength, ULONG_PTR& information);
// The file's current byte offset, as ReadFile and WriteFile without an offset use it.
LONGLONG DevicePosition(const DeviceFilePtr& file);
void SetDevicePosition(const DeviceFilePtr& file, LONGLONG position);

// DOS device names of the session (DefineDosDevice): each name keeps a stack of definitions that shadow the
// global links of "\GLOBAL??". Flags are those of DefineDosDeviceW. Targets without DDD_RAW_TARGET_PATH are
// Win32 paths and become "\??\" plus the path.
NTSTATUS DefineDosDevice(ULONG flags, const std::u16string& name, const std::u16string& target);
// The targets of a name, newest first (the session's definitions, then the global link); all names when `name`
// is empty.
NTSTATUS QueryDosDevice(const std::u16string& name, std::vector<std::u16string>& result);
// The file system mounted on a disk-like device: the host folder its files are in, and what the volume says of
// itself. A device without one is a raw disk.
struct VolumeMount {
    std::string hostRoot;
    std::u16string fileSystem;
    std::u16string label;
    ULONG serial = 0;
};
// Drive letters (index 0..25) that currently name a device through "\??" (a definition or a global link), with
// the NT name, type and characteristics of the device they lead to, and the file system mounted on it.
struct DriveLetterDevice {
    int drive = 0;
    std::u16string device;
    ULONG deviceType = 0;
    ULONG characteristics = 0;
    VolumeMount mount;
};
std::vector<DriveLetterDevice> DriveLetterDevices();
// Records (or, with an empty host root, clears) the file system mounted on a device.
void SetVolumeMount(PDEVICE_OBJECT device, const VolumeMount& mount);

// File systems. A file system mounts on a disk-like device by giving it a volume device of its own: from then on
// handles opened on the device (or on a drive letter that leads to it) send their requests to the volume device,
// which IoGetRelatedDeviceObject names, and file-system control codes arrive there as IRP_MJ_FILE_SYSTEM_CONTROL.
// Handles opened before keep going to the device itself. STATUS_OBJECT_NAME_COLLISION when one is mounted already.
NTSTATUS MountVolume(PDEVICE_OBJECT device, PDEVICE_OBJECT volumeDevice);
// Ends the mount: new handles reach the device again (those already open stay with the volume device).
void DismountVolume(PDEVICE_OBJECT device);
// The file system that recognises volumes: asked, with the device's NT name, to mount on a disk device that has
// no file system mounted when a handle is opened on it or its drive letter is looked up, as the system mounts a
// volume on first use. It mounts with MountVolume or leaves the disk raw; it is never asked again on the thread
// it runs on while it runs (its own opens of the disk reach the disk). One at a time; nullptr removes it.
using FileSystemRecognizer = void (*)(PDEVICE_OBJECT device, const std::u16string& name);
void SetFileSystemRecognizer(FileSystemRecognizer recognizer);
// Asks the recognizer about the disks behind the drive letters that have no file system mounted.
void RecognizeDriveLetterVolumes();
// A disk without a file system answers the volume controls itself, as the raw file system does: the lock is
// given to one handle while no other handle with read or write access is open, a dismount has nothing to do, and
// the lock goes with an unlock or the handle's close. True while a handle holds that lock.
bool RawVolumeLocked(PDEVICE_OBJECT device);

// Told of every global drive-letter link ("\GLOBAL??\X:") that a driver creates or deletes: the letter (0..25),
// the device the link leads to, and whether it came or went. Called after the namespace is updated, outside its
// lock. One observer at a time; nullptr removes it.
using DriveLetterObserver = void (*)(int drive, const std::u16string& target, bool created);
void SetDriveLetterObserver(DriveLetterObserver observer);

// Resolves an NT name to its final target (following every symbolic link); empty when it does not resolve.
std::u16string ResolveName(const std::u16string& ntName);

// The host's debug log: "kernel/debug.log" in the machine folder.
std::string DebugLogPath();

} // namespace platform::kernel
