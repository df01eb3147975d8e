// Volume names and the drive letters of volumes.
#include "platform/devices/volumenames.h"
#include "platform/devices/disk_service.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

namespace protocol = platform::kernel::protocol;
namespace service = platform::devices::service;

// The letter index of a drive root "X:\", or -1.
int RootLetter(LPCWSTR mountPoint) {
    if (!mountPoint)
        return -1;
    const std::u16string root(mountPoint);
    if (root.size() != 3 || root[1] != u':' || root[2] != u'\\')
        return -1;
    const char16_t c = platform::FoldUpper(root[0]);
    return c >= u'A' && c <= u'Z' ? c - u'A' : -1;
}

// The targets of a DOS name, newest first.
std::vector<std::u16string> Targets(const std::u16string& name) {
    std::vector<std::u16string> targets;
    std::vector<WCHAR> buffer(65536);
    const DWORD count =
        QueryDosDeviceW(name.empty() ? nullptr : name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    for (DWORD at = 0; at < count && buffer[at];) {
        const std::u16string target(buffer.data() + at);
        targets.push_back(target);
        at += static_cast<DWORD>(target.size() + 1);
    }
    return targets;
}

DWORD Call(protocol::Writer& request) {
    std::vector<uint8_t> reply;
    const int32_t status = platform::kernel::CallHostService(service::kName, request.Data(), reply, false);
    if (status == STATUS_PORT_DISCONNECTED)
        return ERROR_FILE_NOT_FOUND;
    if (!NT_SUCCESS(status))
        return RtlNtStatusToDosError(status);
    DWORD result = ERROR_GEN_FAILURE;
    if (reply.size() >= 4)
        memcpy(&result, reply.data(), 4);
    return result;
}

} // namespace

BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volumeName, DWORD size) {
    const int letter = RootLetter(mountPoint);
    if (letter < 0 || !volumeName)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    const std::u16string drive = std::u16string(1, static_cast<char16_t>(u'A' + letter)) + u":";
    const auto targets = Targets(drive);
    if (targets.empty())
        return platform::Fail(ERROR_FILE_NOT_FOUND), FALSE;
    const std::u16string device = targets.front();
    for (const auto& name : Targets(u"")) {
        if (name.rfind(u"Volume{", 0) != 0)
            continue;
        const auto volumeTargets = Targets(name);
        if (volumeTargets.empty() || !platform::EqualsNoCase(volumeTargets.front(), device))
            continue;
        const std::u16string result = u"\\\\?\\" + name + u"\\";
        if (size < result.size() + 1)
            return platform::Fail(ERROR_FILENAME_EXCED_RANGE), FALSE;
        memcpy(volumeName, result.c_str(), (result.size() + 1) * sizeof(WCHAR));
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    // A letter that leads to a device without a volume name (a raw disk) is no volume mount point.
    return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
}

BOOL SetVolumeMountPointW(LPCWSTR mountPoint, LPCWSTR volumeName) {
    const int letter = RootLetter(mountPoint);
    if (letter < 0 || !volumeName)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    std::u16string name(volumeName);
    if (name.rfind(u"\\\\?\\", 0) != 0 || name.size() < 6 || name.back() != u'\\')
        return platform::Fail(ERROR_INVALID_NAME), FALSE;
    name = name.substr(4, name.size() - 5);
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::SetMountPoint));
    request.U32(static_cast<uint32_t>(letter));
    request.Text(name);
    if (const DWORD error = Call(request))
        return platform::Fail(error), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteVolumeMountPointW(LPCWSTR mountPoint) {
    const int letter = RootLetter(mountPoint);
    if (letter < 0)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::DeleteMountPoint));
    request.U32(static_cast<uint32_t>(letter));
    if (const DWORD error = Call(request))
        return platform::Fail(error), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
