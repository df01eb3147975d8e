// Device handles of programs: each one owns a connection to the kernel host that carries its requests.
#include "platform/kernel/devices.h"
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"

#include <algorithm>
#include <mutex>

#include <unistd.h>

namespace platform::kernel {
namespace {

using protocol::Op;

// Sends one request on a connection and reads the reply; returns the reply's status (STATUS_PORT_DISCONNECTED
// when the host went away) and leaves the rest of the reply in `reply` after `offset`.
NTSTATUS Exchange(int fd, protocol::Writer& request, std::vector<uint8_t>& reply) {
    if (!protocol::SendMessage(fd, request.Data()) || !protocol::ReceiveMessage(fd, reply) || reply.size() < 4)
        return STATUS_PORT_DISCONNECTED;
    NTSTATUS status;
    memcpy(&status, reply.data(), 4);
    return status;
}

// A request on a fresh connection, for operations that are not about one open device.
NTSTATUS OneShot(protocol::Writer& request, std::vector<uint8_t>& reply, bool startHost) {
    const int fd = ConnectHost(startHost);
    if (fd < 0)
        return STATUS_PORT_DISCONNECTED;
    const NTSTATUS status = Exchange(fd, request, reply);
    close(fd);
    return status;
}

class DeviceHandle : public platform::fs::IoObject {
public:
    explicit DeviceHandle(int fd) : m_fd(fd) {}
    ~DeviceHandle() override { Disconnect(); }

    const char* TypeName() const override { return "Device"; }
    void OnLastHandleClosed() override { Disconnect(); }

    BOOL Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Read));
        request.U32(toRead);
        PutOffset(request, overlapped);
        std::vector<uint8_t> reply;
        const NTSTATUS status = Call(request, reply);
        protocol::Reader reader(reply.data() + 4, reply.size() - 4);
        uint32_t size = 0;
        const uint8_t* data = reader.Bytes(size);
        size = std::min(size, toRead);
        if (data && size)
            memcpy(buffer, data, size);
        return Finish(status, size, read, overlapped);
    }

    BOOL Write(LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) override {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Write));
        PutOffset(request, overlapped);
        request.Bytes(buffer, toWrite);
        std::vector<uint8_t> reply;
        const NTSTATUS status = Call(request, reply);
        protocol::Reader reader(reply.data() + 4, reply.size() - 4);
        return Finish(status, std::min(reader.U32(), toWrite), written, overlapped);
    }

    DWORD FileType() const override { return FILE_TYPE_UNKNOWN; }

    BOOL Control(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                 LPOVERLAPPED overlapped) {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Control));
        request.U32(code);
        request.Bytes(in, in ? inSize : 0);
        request.U32(out ? outSize : 0);
        std::vector<uint8_t> reply;
        const NTSTATUS status = Call(request, reply);
        protocol::Reader reader(reply.data() + 4, reply.size() - 4);
        const uint64_t information = reader.U64();
        uint32_t size = 0;
        const uint8_t* data = reader.Bytes(size);
        size = std::min(size, out ? outSize : 0u);
        if (data && size)
            memcpy(out, data, size);
        // On an error the count reports what the driver said it needed.
        const DWORD count = NT_ERROR(status) ? static_cast<DWORD>(information) : size;
        return Finish(status, count, returned, overlapped);
    }

private:
    static void PutOffset(protocol::Writer& request, LPOVERLAPPED overlapped) {
        request.U32(overlapped ? 1 : 0);
        request.U64(overlapped ? (static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset : 0);
    }

    static BOOL Finish(NTSTATUS status, DWORD count, LPDWORD out, LPOVERLAPPED overlapped) {
        if (out)
            *out = count;
        if (overlapped) {
            overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(status));
            overlapped->InternalHigh = count;
            if (overlapped->hEvent)
                SetEvent(overlapped->hEvent);
        }
        if (NT_ERROR(status) || NT_WARNING(status)) {
            SetLastError(RtlNtStatusToDosError(status));
            return FALSE;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    NTSTATUS Call(protocol::Writer& request, std::vector<uint8_t>& reply) {
        std::lock_guard lock(m_lock);
        if (m_fd < 0) {
            reply.assign(4, 0);
            return STATUS_FILE_CLOSED;
        }
        const NTSTATUS status = Exchange(m_fd, request, reply);
        if (status == STATUS_PORT_DISCONNECTED)
            reply.assign(4, 0);
        return status;
    }

    void Disconnect() {
        std::lock_guard lock(m_lock);
        if (m_fd < 0)
            return;
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Close));
        std::vector<uint8_t> reply;
        Exchange(m_fd, request, reply);
        close(m_fd);
        m_fd = -1;
    }

    std::mutex m_lock;
    int m_fd;
};

HANDLE OpenDeviceHandle(const platform::fs::DeviceOpenRequest& request) {
    if (request.creationDisposition != OPEN_EXISTING && request.creationDisposition != OPEN_ALWAYS) {
        // Devices exist or do not; they are never created by an open.
        if (request.creationDisposition == CREATE_NEW)
            return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
    }
    // Without a running host no driver is loaded, so no device exists; opening a name never starts a host.
    const int fd = ConnectHost(false);
    if (fd < 0)
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    protocol::Writer open;
    open.U32(static_cast<uint32_t>(Op::Open));
    open.Text(u"\\??\\" + request.device);
    open.U32(request.desiredAccess);
    open.U32(request.shareMode);
    std::vector<uint8_t> reply;
    const NTSTATUS status = Exchange(fd, open, reply);
    if (!NT_SUCCESS(status)) {
        close(fd);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND ||
            status == STATUS_PORT_DISCONNECTED)
            return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        return Fail(RtlNtStatusToDosError(status)), INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return platform::InsertHandle(std::make_shared<DeviceHandle>(fd));
}

std::once_flag g_enabled;

// Linking this file registers the opener.
const bool g_registered = (EnableDeviceAccess(), true);

} // namespace

void EnableDeviceAccess() {
    std::call_once(g_enabled, [] { platform::fs::RegisterDeviceOpener(OpenDeviceHandle); });
}

std::vector<std::pair<int, std::u16string>> DeviceDriveLetters() {
    std::vector<std::pair<int, std::u16string>> letters;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(Op::DriveLetters));
    std::vector<uint8_t> reply;
    if (!NT_SUCCESS(OneShot(request, reply, false)))
        return letters;
    protocol::Reader reader(reply.data() + 4, reply.size() - 4);
    const uint32_t count = reader.U32();
    for (uint32_t i = 0; i < count && !reader.Failed(); ++i) {
        const int drive = static_cast<int>(reader.U32());
        letters.emplace_back(drive, reader.Text());
    }
    return letters;
}

} // namespace platform::kernel

using namespace platform::kernel;

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    auto object = platform::LookupHandle(device);
    auto* handle = dynamic_cast<DeviceHandle*>(object.get());
    if (!handle) {
        // Files and other objects of the layer answer no device controls.
        if (!object)
            return platform::Fail(ERROR_INVALID_HANDLE), FALSE;
        return platform::Fail(ERROR_INVALID_FUNCTION), FALSE;
    }
    return handle->Control(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned, overlapped);
}

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR deviceName, LPCWSTR targetPath) {
    if (!deviceName || !*deviceName)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(protocol::Op::DefineDos));
    request.U32(flags);
    request.Text(deviceName);
    request.Text(targetPath ? targetPath : u"");
    std::vector<uint8_t> reply;
    // Definitions live in the host; removing one needs no host when none runs (there is nothing to remove).
    const NTSTATUS status = OneShot(request, reply, !(flags & DDD_REMOVE_DEFINITION));
    if (status == STATUS_PORT_DISCONNECTED && (flags & DDD_REMOVE_DEFINITION))
        return platform::Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (!NT_SUCCESS(status))
        return platform::Fail(status == STATUS_PORT_DISCONNECTED ? ERROR_SERVICE_NOT_ACTIVE
                                                                 : RtlNtStatusToDosError(status)),
               FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max) {
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(protocol::Op::QueryDos));
    request.Text(deviceName ? deviceName : u"");
    std::vector<uint8_t> reply;
    const NTSTATUS status = OneShot(request, reply, false);
    if (!NT_SUCCESS(status))
        return platform::Fail(status == STATUS_PORT_DISCONNECTED ? ERROR_FILE_NOT_FOUND
                                                                 : RtlNtStatusToDosError(status)),
               0;
    protocol::Reader reader(reply.data() + 4, reply.size() - 4);
    const uint32_t count = reader.U32();
    std::u16string all;
    for (uint32_t i = 0; i < count && !reader.Failed(); ++i) {
        all += reader.Text();
        all.push_back(u'\0');
    }
    all.push_back(u'\0');
    if (!targetPath || all.size() > max)
        return platform::Fail(ERROR_INSUFFICIENT_BUFFER), 0;
    std::copy(all.begin(), all.end(), targetPath);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(all.size());
}
