// The client's side of the disk service in the kernel host.
#include "platform/devices/disks.h"
#include "platform/devices/disk_service.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include <climits>
#include <cstdlib>

namespace platform::devices {
namespace {

namespace protocol = platform::kernel::protocol;

// Sends one request; the Win32 result comes first in the reply, which `in` then reads on from.
DWORD Call(protocol::Writer& request, std::vector<uint8_t>& reply, bool startHost) {
    const int32_t status = platform::kernel::CallHostService(service::kName, request.Data(), reply, startHost);
    if (status == STATUS_PORT_DISCONNECTED)
        return startHost ? ERROR_SERVICE_NOT_ACTIVE : ERROR_FILE_NOT_FOUND;
    if (!NT_SUCCESS(status))
        return RtlNtStatusToDosError(status);
    if (reply.size() < 4)
        return ERROR_GEN_FAILURE;
    DWORD result;
    memcpy(&result, reply.data(), 4);
    return result;
}

} // namespace

DWORD PlugDisk(const std::string& image, const DiskIdentity& identity, DWORD& number) {
    number = 0;
    char resolved[PATH_MAX];
    const std::string path = realpath(image.c_str(), resolved) ? std::string(resolved) : image;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::Plug));
    request.Text(platform::Utf8ToUtf16(path));
    request.Text(identity.hardwareId);
    request.Text(identity.serial);
    request.Text(identity.vendor);
    request.Text(identity.product);
    request.Text(identity.revision);
    request.Text(identity.friendlyName);
    request.U32(identity.removable ? 1 : 0);
    std::vector<uint8_t> reply;
    const DWORD result = Call(request, reply, true);
    if (result == ERROR_SUCCESS && reply.size() >= 8)
        memcpy(&number, reply.data() + 4, 4);
    return result;
}

DWORD UnplugDisk(DWORD number, bool surprise) {
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::Unplug));
    request.U32(number);
    request.U32(surprise ? 1 : 0);
    std::vector<uint8_t> reply;
    return Call(request, reply, false);
}

std::vector<DiskInfo> ListDisks() {
    std::vector<DiskInfo> disks;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(service::Op::List));
    std::vector<uint8_t> reply;
    if (Call(request, reply, false) != ERROR_SUCCESS)
        return disks;
    protocol::Reader in(reply.data() + 4, reply.size() - 4);
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count && !in.Failed(); ++i) {
        DiskInfo info;
        info.number = in.U32();
        info.image = platform::Utf16ToUtf8(in.Text());
        info.identity.hardwareId = in.Text();
        info.identity.serial = in.Text();
        info.identity.vendor = in.Text();
        info.identity.product = in.Text();
        info.identity.revision = in.Text();
        info.identity.friendlyName = in.Text();
        info.identity.removable = in.U32() != 0;
        info.size = in.U64();
        info.instanceId = in.Text();
        info.parentId = in.Text();
        info.hardwareId = in.Text();
        info.interfacePath = in.Text();
        info.letters = in.Text();
        if (!in.Failed())
            disks.push_back(std::move(info));
    }
    return disks;
}

} // namespace platform::devices
