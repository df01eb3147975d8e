// Device handles of programs: each one owns a connection to the kernel host that carries its requests.
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"
#include "platform/kernel/shared_channel.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::kernel {
namespace {

using protocol::Op;

constexpr DWORD kErrorNegativeSeek = 131;

// Set in the host itself, which answers from its own namespace instead of asking itself over the socket.
std::atomic<DriveLetterSource> g_localDriveLetters{nullptr};

// Sends one request on a connection and reads the reply; returns the reply's status (STATUS_PORT_DISCONNECTED
// when the host went away) and leaves the rest of the reply in `reply` after `offset`.
NTSTATUS Exchange(int fd, protocol::Writer& request, std::vector<uint8_t>& reply, int descriptor = -1) {
    if (!protocol::SendMessage(fd, request.Data(), descriptor) || !protocol::ReceiveMessage(fd, reply) ||
        reply.size() < 4)
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

// Memory shared with the host: the data of reads and writes goes through it instead of through the socket.
class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory() { Reset(); }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // A new sealed memory file of `size` bytes, mapped; its descriptor stays open until Release.
    bool Create(size_t size) {
        Reset();
        m_fd = memfd_create("device-buffer", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (m_fd < 0)
            return false;
        // Sealed against shrinking, so that the host can rely on every page it mapped.
        if (ftruncate(m_fd, static_cast<off_t>(size)) != 0 ||
            fcntl(m_fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0)
            return Reset(), false;
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (data == MAP_FAILED)
            return Reset(), false;
        m_data = static_cast<uint8_t*>(data);
        m_size = size;
        return true;
    }
    int Descriptor() const { return m_fd; }
    // Closes the descriptor once the host has its own; the mapping stays.
    void ReleaseDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    void Reset() {
        ReleaseDescriptor();
        if (m_data)
            munmap(m_data, m_size);
        m_data = nullptr;
        m_size = 0;
    }
    uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    int m_fd = -1;
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Requests up to this size use the shared memory; it grows to the largest one seen.
constexpr size_t kMaxShared = 64u << 20;
constexpr size_t kSharedGranule = 64u << 10;

class DeviceHandle : public platform::fs::IoObject {
public:
    explicit DeviceHandle(int fd) : m_fd(fd) {}
    ~DeviceHandle() override { Disconnect(); }

    const char* TypeName() const override { return "Device"; }
    void OnLastHandleClosed() override { Disconnect(); }

    BOOL Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override {
        {
            std::unique_lock lock(m_lock);
            if (toRead && ChannelFor(toRead)) {
                DWORD count = 0;
                const NTSTATUS status = ChannelCall(channel::kRead, toRead, overlapped, count);
                if (count)
                    memcpy(buffer, m_channel.Data() + channel::kControlBytes, count);
                lock.unlock();
                return Finish(status, count, read, overlapped);
            }
            if (toRead && SharedFor(toRead)) {
                protocol::Writer request;
                request.U32(static_cast<uint32_t>(Op::ReadShared));
                request.U32(toRead);
                PutOffset(request, overlapped);
                std::vector<uint8_t> reply;
                const NTSTATUS status = CallLocked(request, reply);
                protocol::Reader reader(reply.data() + 4, reply.size() - 4);
                const DWORD count = std::min(reader.U32(), toRead);
                if (count)
                    memcpy(buffer, m_shared.Data(), count);
                lock.unlock();
                return Finish(status, count, read, overlapped);
            }
        }
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
        {
            std::unique_lock lock(m_lock);
            if (toWrite && ChannelFor(toWrite)) {
                memcpy(m_channel.Data() + channel::kControlBytes, buffer, toWrite);
                DWORD count = 0;
                const NTSTATUS status = ChannelCall(channel::kWrite, toWrite, overlapped, count);
                lock.unlock();
                return Finish(status, count, written, overlapped);
            }
            if (toWrite && SharedFor(toWrite)) {
                memcpy(m_shared.Data(), buffer, toWrite);
                protocol::Writer request;
                request.U32(static_cast<uint32_t>(Op::WriteShared));
                request.U32(toWrite);
                PutOffset(request, overlapped);
                std::vector<uint8_t> reply;
                const NTSTATUS status = CallLocked(request, reply);
                protocol::Reader reader(reply.data() + 4, reply.size() - 4);
                const DWORD count = std::min(reader.U32(), toWrite);
                lock.unlock();
                return Finish(status, count, written, overlapped);
            }
        }
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

    // The position lives in the host's file object, where reads and writes without an offset use it.
    BOOL Seek(LONGLONG distance, DWORD moveMethod, LONGLONG& newPosition) override {
        bool fromCurrent = moveMethod == FILE_CURRENT;
        if (moveMethod == FILE_END) {
            LONGLONG size = 0;
            if (!Size(size))
                return FALSE;
            if (__builtin_add_overflow(size, distance, &distance))
                return Fail(ERROR_INVALID_PARAMETER), FALSE;
        }
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Seek));
        request.U32(fromCurrent ? 1 : 0);
        request.U64(static_cast<uint64_t>(distance));
        std::vector<uint8_t> reply;
        const NTSTATUS status = Call(request, reply);
        if (status == STATUS_INVALID_PARAMETER)
            return Fail(kErrorNegativeSeek), FALSE;
        if (!NT_SUCCESS(status))
            return Fail(RtlNtStatusToDosError(status)), FALSE;
        protocol::Reader reader(reply.data() + 4, reply.size() - 4);
        newPosition = static_cast<LONGLONG>(reader.U64());
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    BOOL Flush() override {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::Flush));
        std::vector<uint8_t> reply;
        const NTSTATUS status = Call(request, reply);
        if (!NT_SUCCESS(status))
            return Fail(RtlNtStatusToDosError(status)), FALSE;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    // A disk's size is its length as the driver reports it.
    BOOL Size(LONGLONG& size) override {
        GET_LENGTH_INFORMATION length{};
        DWORD returned = 0;
        if (!Control(IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof(length), &returned, nullptr))
            return FALSE;
        if (returned < sizeof(length))
            return Fail(ERROR_INVALID_FUNCTION), FALSE;
        size = length.Length.QuadPart;
        return TRUE;
    }

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

    // With the lock held: true when the request channel holds `size` bytes of data, making or growing it as
    // needed. A host or system without it leaves the handle on the shared buffer or the socket for good.
    bool ChannelFor(size_t size) {
        if (m_channel.Size() >= channel::kControlBytes + size)
            return true;
        if (m_channelFailed || m_fd < 0 || size > kMaxShared)
            return false;
        const size_t data = m_channel.Size() > channel::kControlBytes ? m_channel.Size() - channel::kControlBytes : 0;
        const size_t wanted =
            std::min(kMaxShared, std::max((size + kSharedGranule - 1) / kSharedGranule * kSharedGranule, data * 2));
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::MapChannel));
        request.U64(channel::kControlBytes + wanted);
        std::vector<uint8_t> reply;
        if (!m_channel.Create(channel::kControlBytes + wanted) ||
            !NT_SUCCESS(Exchange(m_fd, request, reply, m_channel.Descriptor()))) {
            m_channel.Reset();
            m_channelFailed = true;
            return false;
        }
        m_channel.ReleaseDescriptor();
        m_sequence = 0;
        return true;
    }

    channel::Control& ChannelControl() const { return *reinterpret_cast<channel::Control*>(m_channel.Data()); }

    // With the lock held: one read or write through the channel, its data already in place for a write; waits for
    // the host's answer and returns its status and count.
    NTSTATUS ChannelCall(channel::Operation operation, DWORD length, LPOVERLAPPED overlapped, DWORD& count) {
        channel::Control& control = ChannelControl();
        const uint32_t sequence = ++m_sequence;
        control.operation = operation;
        control.length = length;
        control.hasOffset = overlapped ? 1 : 0;
        control.offset = overlapped ? (static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset : 0;
        control.posted.store(sequence, std::memory_order_seq_cst);
        count = 0;
        if (control.hostSleeping.exchange(0, std::memory_order_seq_cst) != 0) {
            protocol::Writer ring;
            ring.U32(static_cast<uint32_t>(Op::Ring));
            if (!protocol::SendMessage(m_fd, ring.Data()))
                return HostGone();
        }
        while (!channel::WatchFor(control.done, sequence - 1)) {
            control.clientSleeping.store(1, std::memory_order_seq_cst);
            if (control.done.load(std::memory_order_seq_cst) == sequence - 1)
                channel::Sleep(control.done, sequence - 1, std::chrono::milliseconds(20));
            control.clientSleeping.store(0, std::memory_order_relaxed);
            if (control.done.load(std::memory_order_acquire) == sequence - 1 && HostClosed())
                return HostGone();
        }
        const NTSTATUS status = control.status;
        count = std::min<DWORD>(control.count, length);
        return status;
    }

    // True when the host's end of the connection has closed: it never writes to the socket unasked, so anything
    // to read there is its end.
    bool HostClosed() const {
        pollfd watch{m_fd, POLLIN | POLLRDHUP, 0};
        return poll(&watch, 1, 0) > 0 && watch.revents != 0;
    }

    // With the lock held: true when the shared memory holds `size` bytes, making or growing it as needed. A
    // host or system that cannot share memory leaves the handle on the socket for good.
    bool SharedFor(size_t size) {
        if (m_shared.Size() >= size)
            return true;
        if (m_sharingFailed || m_fd < 0 || size > kMaxShared)
            return false;
        const size_t wanted = std::min(
            kMaxShared, std::max((size + kSharedGranule - 1) / kSharedGranule * kSharedGranule, m_shared.Size() * 2));
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(Op::MapBuffer));
        request.U64(wanted);
        std::vector<uint8_t> reply;
        if (!m_shared.Create(wanted) || !NT_SUCCESS(Exchange(m_fd, request, reply, m_shared.Descriptor()))) {
            m_shared.Reset();
            m_sharingFailed = true;
            return false;
        }
        m_shared.ReleaseDescriptor();
        return true;
    }

    NTSTATUS Call(protocol::Writer& request, std::vector<uint8_t>& reply) {
        std::lock_guard lock(m_lock);
        return CallLocked(request, reply);
    }

    NTSTATUS CallLocked(protocol::Writer& request, std::vector<uint8_t>& reply) {
        if (m_fd < 0) {
            reply.assign(4, 0);
            return m_gone ? STATUS_DEVICE_DOES_NOT_EXIST : STATUS_FILE_CLOSED;
        }
        const NTSTATUS status = Exchange(m_fd, request, reply);
        if (status != STATUS_PORT_DISCONNECTED)
            return status;
        reply.assign(4, 0);
        return HostGone();
    }

    // The host ended under the handle: its device is gone for good, and every later call says so at once.
    NTSTATUS HostGone() {
        close(m_fd);
        m_fd = -1;
        m_shared.Reset();
        m_channel.Reset();
        m_gone = true;
        return STATUS_DEVICE_DOES_NOT_EXIST;
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
        m_shared.Reset();
        m_channel.Reset();
    }

    std::mutex m_lock;
    int m_fd;
    SharedMemory m_shared;
    bool m_sharingFailed = false;
    SharedMemory m_channel;
    bool m_channelFailed = false;
    uint32_t m_sequence = 0;
    bool m_gone = false;
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

// A device behind a letter as the drive table shows it: a raw disk of the kind its device type and
// characteristics make it.
platform::fs::DriveInfo RawDriveOf(const DeviceDriveLetter& letter) {
    platform::fs::DriveInfo info;
    info.letter = static_cast<WCHAR>(u'A' + letter.drive);
    info.raw = true;
    info.fileSystem.clear();
    switch (letter.deviceType) {
    case FILE_DEVICE_CD_ROM:
        info.kind = platform::fs::DriveKind::CdRom;
        break;
    case FILE_DEVICE_DISK:
    case FILE_DEVICE_VIRTUAL_DISK:
        info.kind = (letter.characteristics & FILE_REMOTE_DEVICE)     ? platform::fs::DriveKind::Remote
                    : (letter.characteristics & FILE_REMOVABLE_MEDIA) ? platform::fs::DriveKind::Removable
                                                                      : platform::fs::DriveKind::Fixed;
        break;
    default:
        info.kind = platform::fs::DriveKind::Unknown;
        break;
    }
    if (!letter.hostRoot.empty()) {
        // A file system is mounted on the device: the letter is an ordinary drive of that folder.
        info.raw = false;
        info.hostRoot = letter.hostRoot;
        info.fileSystem = letter.fileSystem;
        info.label = letter.label;
        info.serial = letter.serial;
    }
    return info;
}

std::vector<platform::fs::DriveInfo> DeviceDrives() {
    std::vector<platform::fs::DriveInfo> drives;
    for (const auto& letter : DeviceDriveLetters())
        drives.push_back(RawDriveOf(letter));
    return drives;
}

std::once_flag g_enabled;

// Linking this file registers the opener and the drive letters.
const bool g_registered = (EnableDeviceAccess(), true);

} // namespace

void EnableDeviceAccess() {
    std::call_once(g_enabled, [] {
        platform::fs::RegisterDeviceOpener(OpenDeviceHandle);
        platform::fs::RegisterDriveProvider(DeviceDrives);
    });
}

void UseLocalDriveLetters(DriveLetterSource source) {
    g_localDriveLetters = source;
}

std::vector<DeviceDriveLetter> DeviceDriveLetters() {
    if (const DriveLetterSource local = g_localDriveLetters)
        return local();
    std::vector<DeviceDriveLetter> letters;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(Op::DriveLetters));
    std::vector<uint8_t> reply;
    if (!NT_SUCCESS(OneShot(request, reply, false)))
        return letters;
    protocol::Reader reader(reply.data() + 4, reply.size() - 4);
    const uint32_t count = reader.U32();
    for (uint32_t i = 0; i < count; ++i) {
        DeviceDriveLetter letter;
        letter.drive = static_cast<int>(reader.U32());
        letter.device = reader.Text();
        letter.deviceType = reader.U32();
        letter.characteristics = reader.U32();
        letter.hostRoot = platform::Utf16ToUtf8(reader.Text());
        letter.fileSystem = reader.Text();
        letter.label = reader.Text();
        letter.serial = reader.U32();
        if (reader.Failed() || letter.drive < 0 || letter.drive >= 26)
            break;
        letters.push_back(std::move(letter));
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
