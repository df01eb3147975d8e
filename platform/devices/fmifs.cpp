// FormatEx over the kernel host's disks: the volume is locked and dismounted through a handle, and the host writes
// the new file system.
#include "platform/devices/fmifs.h"
#include "platform/devices/disk_service.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace protocol = platform::kernel::protocol;
namespace service = platform::devices::service;

bool Progress(PFMIFSCALLBACK callback, DWORD percent) {
    return !callback || callback(PROGRESS, 0, &percent);
}

void Done(PFMIFSCALLBACK callback, bool success) {
    BOOLEAN result = success ? TRUE : FALSE;
    if (callback)
        callback(DONE, 0, &result);
}

// Asks the host to write the file system on the volume of the letter, which the caller has locked and dismounted.
DWORD WriteFileSystem(int letter, const std::u16string& label, DWORD clusterSize) {
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::Format));
    request.U32(static_cast<uint32_t>(letter));
    request.Text(label);
    request.U32(clusterSize);
    std::vector<uint8_t> reply;
    const int32_t status = platform::kernel::CallHostService(service::kName, request.Data(), reply, false);
    if (!NT_SUCCESS(status))
        return status == STATUS_PORT_DISCONNECTED ? ERROR_FILE_NOT_FOUND : RtlNtStatusToDosError(status);
    DWORD result = ERROR_GEN_FAILURE;
    if (reply.size() >= 4)
        memcpy(&result, reply.data(), 4);
    return result;
}

const bool g_exported = [] {
    platform::RegisterSystemExport("FormatEx", reinterpret_cast<void*>(&FormatEx));
    platform::RegisterSystemExport("EnableVolumeCompression", reinterpret_cast<void*>(&EnableVolumeCompression));
    platform::RegisterSystemExport("ChkdskEx", reinterpret_cast<void*>(&ChkdskEx));
    return true;
}();

} // namespace

extern "C" void FormatEx(PWCHAR driveRoot, DWORD, PWCHAR format, PWCHAR label, BOOL, DWORD clusterSize,
                         PFMIFSCALLBACK callback) {
    const std::u16string root = driveRoot ? driveRoot : u"";
    const char16_t letter = root.empty() ? 0 : platform::FoldUpper(root[0]);
    if (letter < u'A' || letter > u'Z' || root.size() < 2 || root[1] != u':' ||
        !platform::EqualsNoCase(format ? format : u"", u"NTFS")) {
        Done(callback, false);
        return;
    }
    if (!Progress(callback, 0))
        return;
    const std::u16string device = std::u16string(u"\\\\.\\") + letter + u":";
    platform::OwnedHandle volume(CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!volume) {
        Done(callback, false);
        return;
    }
    DWORD returned = 0;
    // A volume in use cannot be formatted: the lock is refused while anything of it is open. A volume that has
    // just arrived is briefly looked at by the system's own watchers (the drive monitors open it to hear of its
    // removal), so a refusal is asked again for a few seconds before the format fails.
    // The few seconds are counted on the clock: a refusal can itself take a while (the file system waits briefly
    // for a file's last close before it refuses).
    bool ok = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        ok = DeviceIoControl(volume.get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
        if (ok || GetLastError() != ERROR_ACCESS_DENIED || std::chrono::steady_clock::now() >= giveUp)
            break;
        Sleep(100);
    }
    ok = ok && DeviceIoControl(volume.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    if (ok && !Progress(callback, 10))
        return;
    if (ok)
        ok = WriteFileSystem(letter - u'A', label ? label : u"", clusterSize) == ERROR_SUCCESS;
    if (ok && !Progress(callback, 90))
        return;
    // Letting the volume go mounts what is on it now.
    volume.reset();
    if (ok)
        Progress(callback, 100);
    Done(callback, ok);
}

extern "C" BOOLEAN EnableVolumeCompression(PWCHAR, BOOL) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

extern "C" void ChkdskEx(PWCHAR, PWCHAR, BOOL, BOOL, BOOL, BOOL, PVOID, PVOID, PFMIFSCALLBACK callback) {
    Done(callback, false);
}
