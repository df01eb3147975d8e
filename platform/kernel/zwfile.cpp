// Kernel file I/O on the layer's files, and the registry keys of services.
#include "platform/kernel/kernel_private.h"
#include "platform/kernel/service_store.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::kernel {
namespace {

class KernelFile : public KObject {
public:
    platform::OwnedHandle handle;
    int fd = -1;
    bool canRead = false;
    bool canWrite = false;
    LONGLONG position = 0;
    std::mutex lock;
};

// A device opened by name (a disk partition, for instance): reads and writes are requests to its driver.
class KernelDevice : public KObject {
public:
    ~KernelDevice() override { CloseDevice(file); }
    void OnLastHandleClosed() override { CloseDevice(file); }
    PVOID FileObjectBody() override { return FileObjectOf(file); }
    DeviceFilePtr file;
    bool canRead = false;
    bool canWrite = false;
};

class RegistryKey : public KObject {
public:
    std::u16string serviceName;
    bool writable = false;
};

NTSTATUS StatusFromWin32(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return STATUS_OBJECT_NAME_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return STATUS_OBJECT_PATH_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
        return STATUS_ACCESS_DENIED;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return STATUS_SHARING_VIOLATION;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return STATUS_OBJECT_NAME_COLLISION;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return STATUS_OBJECT_NAME_INVALID;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return STATUS_DISK_FULL;
    case ERROR_NOT_ENOUGH_MEMORY:
        return STATUS_NO_MEMORY;
    case ERROR_WRITE_PROTECT:
        return STATUS_MEDIA_WRITE_PROTECTED;
    case ERROR_INVALID_PARAMETER:
        return STATUS_INVALID_PARAMETER;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

NTSTATUS StatusFromErrno(int error) {
    return StatusFromWin32(platform::Win32ErrorFromErrno(error));
}

// The Win32 path behind an NT file name: "\??\C:\x" -> "C:\x", "\??\UNC\s\x" -> "\\s\x". Empty when the name is
// not a file path.
std::u16string Win32PathOf(const std::u16string& ntName) {
    for (std::u16string_view prefix : {u"\\??\\", u"\\DosDevices\\", u"\\GLOBAL??\\"}) {
        if (ntName.size() <= prefix.size() ||
            FoldName(ntName.substr(0, prefix.size())) != FoldName(std::u16string(prefix)))
            continue;
        std::u16string rest = ntName.substr(prefix.size());
        if (rest.size() >= 3 && rest[1] == u':' && (rest[2] == u'\\' || rest[2] == u'/'))
            return rest;
        if (rest.size() > 4 && FoldName(rest.substr(0, 4)) == u"UNC\\")
            return u"\\\\" + rest.substr(4);
        return {};
    }
    return {};
}

LARGE_INTEGER FileTimeOf(const struct timespec& time) {
    LARGE_INTEGER value;
    value.QuadPart = 116444736000000000LL + static_cast<LONGLONG>(time.tv_sec) * 10000000LL + time.tv_nsec / 100;
    return value;
}

bool ReadsData(ACCESS_MASK access) {
    return (access & (GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED | 0x0001 /* FILE_READ_DATA */)) != 0;
}

bool WritesData(ACCESS_MASK access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | 0x0002 /* FILE_WRITE_DATA */ |
                      0x0004 /* FILE_APPEND_DATA */)) != 0;
}

// A name of the object namespace that is not a file: the device it leads to. Devices exist or not; an open that
// would create one fails.
NTSTATUS OpenNamedDevice(PHANDLE fileHandle, ACCESS_MASK access, const std::u16string& ntName, ULONG shareAccess,
                         ULONG createDisposition, PIO_STATUS_BLOCK ioStatusBlock) {
    ioStatusBlock->Information = 0;
    if (createDisposition == FILE_CREATE)
        return ioStatusBlock->Status = STATUS_OBJECT_NAME_COLLISION;
    DeviceFilePtr file;
    const NTSTATUS status = OpenDevice(ntName, access, shareAccess, file);
    if (!NT_SUCCESS(status))
        return ioStatusBlock->Status = status;
    auto device = std::make_shared<KernelDevice>();
    device->file = file;
    device->canRead = ReadsData(access);
    device->canWrite = WritesData(access);
    *fileHandle = InsertKernelHandle(device);
    ioStatusBlock->Information = FILE_OPENED;
    return ioStatusBlock->Status = STATUS_SUCCESS;
}

NTSTATUS DeviceTransfer(KernelDevice& device, bool write, PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer, ULONG length,
                        PLARGE_INTEGER byteOffset) {
    if (write ? !device.canWrite : !device.canRead)
        return ioStatusBlock->Status = STATUS_ACCESS_DENIED;
    std::optional<LONGLONG> offset;
    if (byteOffset)
        offset = byteOffset->QuadPart;
    ULONG_PTR information = 0;
    const NTSTATUS status = write ? DeviceWrite(device.file, buffer, length, offset, information)
                                  : DeviceRead(device.file, buffer, length, offset, information);
    ioStatusBlock->Information = information;
    return ioStatusBlock->Status = status;
}

NTSTATUS DeviceQuery(KernelDevice& device, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation, ULONG length,
                     FILE_INFORMATION_CLASS fileInformationClass) {
    auto answer = [&](const auto& record) {
        if (length < sizeof(record))
            return ioStatusBlock->Status = STATUS_INFO_LENGTH_MISMATCH;
        memcpy(fileInformation, &record, sizeof(record));
        ioStatusBlock->Information = sizeof(record);
        return ioStatusBlock->Status = STATUS_SUCCESS;
    };
    switch (fileInformationClass) {
    case FileBasicInformation: {
        FILE_BASIC_INFORMATION basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return answer(basic);
    }
    case FileStandardInformation: {
        // A device's end is its length as its driver tells it.
        GET_LENGTH_INFORMATION size{};
        ULONG_PTR information = 0;
        const NTSTATUS status =
            DeviceControl(device.file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &size, sizeof(size), information);
        if (!NT_SUCCESS(status))
            return ioStatusBlock->Status = status;
        FILE_STANDARD_INFORMATION standard{};
        standard.AllocationSize = standard.EndOfFile = size.Length;
        standard.NumberOfLinks = 1;
        return answer(standard);
    }
    case FilePositionInformation: {
        FILE_POSITION_INFORMATION position{};
        position.CurrentByteOffset.QuadPart = DevicePosition(device.file);
        return answer(position);
    }
    case FileAlignmentInformation: {
        FILE_ALIGNMENT_INFORMATION alignment{FILE_512_BYTE_ALIGNMENT};
        return answer(alignment);
    }
    default:
        return ioStatusBlock->Status = STATUS_INVALID_INFO_CLASS;
    }
}

} // namespace
} // namespace platform::kernel

using namespace platform::kernel;

NTSTATUS ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes,
                      PIO_STATUS_BLOCK ioStatusBlock, PLARGE_INTEGER, ULONG fileAttributes, ULONG shareAccess,
                      ULONG createDisposition, ULONG createOptions, PVOID, ULONG) {
    if (!fileHandle || !objectAttributes || !objectAttributes->ObjectName || !ioStatusBlock)
        return STATUS_INVALID_PARAMETER;
    const std::u16string ntName(objectAttributes->ObjectName->Buffer,
                                objectAttributes->ObjectName->Length / sizeof(WCHAR));
    const std::u16string path = Win32PathOf(ntName);
    if (path.empty())
        return OpenNamedDevice(fileHandle, desiredAccess, ntName, shareAccess, createDisposition, ioStatusBlock);
    DWORD disposition;
    switch (createDisposition) {
    case FILE_SUPERSEDE:
    case FILE_OVERWRITE_IF:
        disposition = CREATE_ALWAYS;
        break;
    case FILE_OPEN:
        disposition = OPEN_EXISTING;
        break;
    case FILE_CREATE:
        disposition = CREATE_NEW;
        break;
    case FILE_OPEN_IF:
        disposition = OPEN_ALWAYS;
        break;
    case FILE_OVERWRITE:
        disposition = TRUNCATE_EXISTING;
        break;
    default:
        return STATUS_INVALID_PARAMETER;
    }
    if (createOptions & FILE_DIRECTORY_FILE)
        return STATUS_NOT_SUPPORTED;
    const DWORD attributes = fileAttributes ? fileAttributes : FILE_ATTRIBUTE_NORMAL;
    const DWORD flags = attributes | ((createOptions & FILE_RANDOM_ACCESS) ? FILE_FLAG_RANDOM_ACCESS : 0) |
                        ((createOptions & FILE_WRITE_THROUGH) ? FILE_FLAG_WRITE_THROUGH : 0);
    const bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    HANDLE handle = CreateFileW(path.c_str(), desiredAccess, shareAccess, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const NTSTATUS status = StatusFromWin32(GetLastError());
        ioStatusBlock->Status = status;
        ioStatusBlock->Information = 0;
        return status;
    }
    auto file = std::make_shared<KernelFile>();
    file->handle.reset(handle);
    file->fd = platform::fs::HostDescriptor(handle);
    file->canRead = (desiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
    file->canWrite = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    if (file->fd < 0)
        return STATUS_UNSUCCESSFUL;
    *fileHandle = InsertKernelHandle(file);
    ioStatusBlock->Status = STATUS_SUCCESS;
    switch (createDisposition) {
    case FILE_SUPERSEDE:
        ioStatusBlock->Information = existed ? FILE_SUPERSEDED : FILE_CREATED;
        break;
    case FILE_OVERWRITE:
    case FILE_OVERWRITE_IF:
        ioStatusBlock->Information = existed ? FILE_OVERWRITTEN : FILE_CREATED;
        break;
    case FILE_CREATE:
        ioStatusBlock->Information = FILE_CREATED;
        break;
    default:
        ioStatusBlock->Information = existed ? FILE_OPENED : FILE_CREATED;
        break;
    }
    return STATUS_SUCCESS;
}

NTSTATUS ZwReadFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK ioStatusBlock,
                    PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset, PULONG) {
    if (auto device = LookupKernelHandleAs<KernelDevice>(fileHandle); device && ioStatusBlock && !event)
        return DeviceTransfer(*device, false, ioStatusBlock, buffer, length, byteOffset);
    auto file = LookupKernelHandleAs<KernelFile>(fileHandle);
    if (!file || !ioStatusBlock)
        return STATUS_INVALID_HANDLE;
    if (event)
        return STATUS_NOT_SUPPORTED; // every kernel file of the layer is synchronous
    if (!file->canRead)
        return ioStatusBlock->Status = STATUS_ACCESS_DENIED;
    // A transfer at a given offset needs the position only to leave it after the data: transfers of several
    // threads at their own offsets go on side by side.
    std::unique_lock lock(file->lock);
    const LONGLONG offset = byteOffset ? byteOffset->QuadPart : file->position;
    if (byteOffset)
        lock.unlock();
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(file->fd, static_cast<char*>(buffer) + done, length - done, offset + done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ioStatusBlock->Status = StatusFromErrno(errno);
            ioStatusBlock->Information = done;
            return ioStatusBlock->Status;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    if (!lock.owns_lock())
        lock.lock();
    file->position = offset + static_cast<LONGLONG>(done);
    ioStatusBlock->Information = done;
    ioStatusBlock->Status = done == 0 && length > 0 ? STATUS_END_OF_FILE : STATUS_SUCCESS;
    return ioStatusBlock->Status;
}

NTSTATUS ZwWriteFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK ioStatusBlock,
                     PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset, PULONG) {
    if (auto device = LookupKernelHandleAs<KernelDevice>(fileHandle); device && ioStatusBlock && !event)
        return DeviceTransfer(*device, true, ioStatusBlock, buffer, length, byteOffset);
    auto file = LookupKernelHandleAs<KernelFile>(fileHandle);
    if (!file || !ioStatusBlock)
        return STATUS_INVALID_HANDLE;
    if (event)
        return STATUS_NOT_SUPPORTED;
    if (!file->canWrite)
        return ioStatusBlock->Status = STATUS_ACCESS_DENIED;
    // A transfer at a given offset needs the position only to leave it after the data: transfers of several
    // threads at their own offsets go on side by side.
    std::unique_lock lock(file->lock);
    const LONGLONG offset = byteOffset ? byteOffset->QuadPart : file->position;
    if (byteOffset)
        lock.unlock();
    size_t done = 0;
    while (done < length) {
        const ssize_t put = pwrite(file->fd, static_cast<const char*>(buffer) + done, length - done, offset + done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            ioStatusBlock->Status = StatusFromErrno(errno);
            ioStatusBlock->Information = done;
            return ioStatusBlock->Status;
        }
        done += static_cast<size_t>(put);
    }
    if (!lock.owns_lock())
        lock.lock();
    file->position = offset + static_cast<LONGLONG>(done);
    ioStatusBlock->Information = done;
    ioStatusBlock->Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation, ULONG length,
                                FILE_INFORMATION_CLASS fileInformationClass) {
    if (auto device = LookupKernelHandleAs<KernelDevice>(fileHandle); device && ioStatusBlock)
        return DeviceQuery(*device, ioStatusBlock, fileInformation, length, fileInformationClass);
    auto file = LookupKernelHandleAs<KernelFile>(fileHandle);
    if (!file || !ioStatusBlock)
        return STATUS_INVALID_HANDLE;
    struct stat info {};
    if (fstat(file->fd, &info) != 0)
        return StatusFromErrno(errno);
    auto answer = [&](const auto& record) {
        if (length < sizeof(record))
            return ioStatusBlock->Status = STATUS_INFO_LENGTH_MISMATCH;
        memcpy(fileInformation, &record, sizeof(record));
        ioStatusBlock->Information = sizeof(record);
        return ioStatusBlock->Status = STATUS_SUCCESS;
    };
    switch (fileInformationClass) {
    case FileBasicInformation: {
        FILE_BASIC_INFORMATION basic{};
        basic.CreationTime = FileTimeOf(info.st_mtim);
        basic.LastAccessTime = FileTimeOf(info.st_atim);
        basic.LastWriteTime = FileTimeOf(info.st_mtim);
        basic.ChangeTime = FileTimeOf(info.st_ctim);
        basic.FileAttributes = (info.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
        return answer(basic);
    }
    case FileStandardInformation: {
        FILE_STANDARD_INFORMATION standard{};
        standard.AllocationSize.QuadPart = static_cast<LONGLONG>(info.st_blocks) * 512;
        standard.EndOfFile.QuadPart = info.st_size;
        standard.NumberOfLinks = static_cast<ULONG>(info.st_nlink);
        return answer(standard);
    }
    case FilePositionInformation: {
        FILE_POSITION_INFORMATION position{};
        std::lock_guard lock(file->lock);
        position.CurrentByteOffset.QuadPart = file->position;
        return answer(position);
    }
    case FileAlignmentInformation: {
        // Kernel files of the layer go through the host's cache, which takes any alignment.
        FILE_ALIGNMENT_INFORMATION alignment{FILE_BYTE_ALIGNMENT};
        return answer(alignment);
    }
    default:
        return ioStatusBlock->Status = STATUS_INVALID_INFO_CLASS;
    }
}

NTSTATUS ZwSetInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation, ULONG length,
                              FILE_INFORMATION_CLASS fileInformationClass) {
    if (auto device = LookupKernelHandleAs<KernelDevice>(fileHandle); device && ioStatusBlock) {
        // A device's size is its own; only the position moves.
        ioStatusBlock->Information = 0;
        if (fileInformationClass != FilePositionInformation)
            return ioStatusBlock->Status = STATUS_INVALID_DEVICE_REQUEST;
        if (length < sizeof(FILE_POSITION_INFORMATION))
            return ioStatusBlock->Status = STATUS_INFO_LENGTH_MISMATCH;
        FILE_POSITION_INFORMATION position;
        memcpy(&position, fileInformation, sizeof(position));
        SetDevicePosition(device->file, position.CurrentByteOffset.QuadPart);
        return ioStatusBlock->Status = STATUS_SUCCESS;
    }
    auto file = LookupKernelHandleAs<KernelFile>(fileHandle);
    if (!file || !ioStatusBlock)
        return STATUS_INVALID_HANDLE;
    ioStatusBlock->Information = 0;
    switch (fileInformationClass) {
    case FileEndOfFileInformation:
    case FileAllocationInformation: {
        if (length < sizeof(LARGE_INTEGER))
            return ioStatusBlock->Status = STATUS_INFO_LENGTH_MISMATCH;
        LARGE_INTEGER size;
        memcpy(&size, fileInformation, sizeof(size));
        if (size.QuadPart < 0)
            return ioStatusBlock->Status = STATUS_INVALID_PARAMETER;
        if (fileInformationClass == FileAllocationInformation) {
            struct stat info {};
            if (fstat(file->fd, &info) != 0)
                return ioStatusBlock->Status = StatusFromErrno(errno);
            if (size.QuadPart >= info.st_size) {
                // Space for the whole allocation is taken now; the file's length stays.
                if (size.QuadPart > 0 && fallocate(file->fd, FALLOC_FL_KEEP_SIZE, 0, size.QuadPart) != 0)
                    return ioStatusBlock->Status =
                               errno == EOPNOTSUPP ? STATUS_NOT_SUPPORTED : StatusFromErrno(errno);
                return ioStatusBlock->Status = STATUS_SUCCESS;
            }
        }
        if (ftruncate(file->fd, size.QuadPart) != 0)
            return ioStatusBlock->Status = StatusFromErrno(errno);
        return ioStatusBlock->Status = STATUS_SUCCESS;
    }
    case FilePositionInformation: {
        if (length < sizeof(FILE_POSITION_INFORMATION))
            return ioStatusBlock->Status = STATUS_INFO_LENGTH_MISMATCH;
        FILE_POSITION_INFORMATION position;
        memcpy(&position, fileInformation, sizeof(position));
        std::lock_guard lock(file->lock);
        file->position = position.CurrentByteOffset.QuadPart;
        return ioStatusBlock->Status = STATUS_SUCCESS;
    }
    default:
        return ioStatusBlock->Status = STATUS_INVALID_INFO_CLASS;
    }
}

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes) {
    if (!keyHandle || !objectAttributes || !objectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    const std::u16string name(objectAttributes->ObjectName->Buffer,
                              objectAttributes->ObjectName->Length / sizeof(WCHAR));
    const std::u16string prefix = u"\\REGISTRY\\MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\";
    if (name.size() <= prefix.size() || FoldName(name.substr(0, prefix.size())) != prefix)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    const std::u16string serviceName = name.substr(prefix.size());
    if (!service_store::Exists(serviceName))
        return STATUS_OBJECT_NAME_NOT_FOUND;
    auto key = std::make_shared<RegistryKey>();
    key->serviceName = serviceName;
    key->writable =
        (desiredAccess & (KEY_SET_VALUE | GENERIC_WRITE | GENERIC_ALL)) != 0 || desiredAccess == KEY_ALL_ACCESS;
    *keyHandle = InsertKernelHandle(key);
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG, ULONG type, PVOID data, ULONG dataSize) {
    auto key = LookupKernelHandleAs<RegistryKey>(keyHandle);
    if (!key)
        return STATUS_INVALID_HANDLE;
    if (!key->writable)
        return STATUS_ACCESS_DENIED;
    const std::u16string name = valueName && valueName->Buffer
                                    ? std::u16string(valueName->Buffer, valueName->Length / sizeof(WCHAR))
                                    : std::u16string();
    if (!service_store::SetValue(key->serviceName, name, type, data, dataSize))
        return STATUS_UNSUCCESSFUL;
    return STATUS_SUCCESS;
}
