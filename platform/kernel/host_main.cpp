// kernelhost: the process that keeps drivers, their devices, links and threads for one machine folder.
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/iomanager.h"
#include "platform/kernel/protocol.h"
#include "platform/kernel/shared_channel.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace platform::kernel;
using protocol::Op;

std::atomic<bool> g_stopping{false};

// The memory a client shares with its connection for the data of reads and writes.
class SharedBuffer {
public:
    SharedBuffer() = default;
    ~SharedBuffer() { Reset(); }
    SharedBuffer(const SharedBuffer&) = delete;
    SharedBuffer& operator=(const SharedBuffer&) = delete;

    // Maps a memory file the client passed. It must be sealed against shrinking, so that the client cannot pull
    // pages out from under a request.
    bool Map(int descriptor, uint64_t size) {
        Reset();
        struct stat info {};
        const int seals = fcntl(descriptor, F_GET_SEALS);
        if (size == 0 || seals < 0 || !(seals & F_SEAL_SHRINK) || fstat(descriptor, &info) != 0 ||
            static_cast<uint64_t>(info.st_size) < size || size > SIZE_MAX)
            return false;
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        if (data == MAP_FAILED)
            return false;
        m_data = static_cast<uint8_t*>(data);
        m_size = size;
        return true;
    }
    void Reset() {
        if (m_data)
            munmap(m_data, m_size);
        m_data = nullptr;
        m_size = 0;
    }
    uint8_t* Data() const { return m_data; }
    uint64_t Size() const { return m_size; }

private:
    uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
};

// A descriptor received with a message, closed unless taken.
class Passed {
public:
    Passed() = default;
    ~Passed() { Close(); }
    Passed(const Passed&) = delete;
    Passed& operator=(const Passed&) = delete;
    int* Out() {
        Close();
        return &m_fd;
    }
    int Get() const { return m_fd; }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

// The answer to one request of a channel, given once: by the thread that completes the request in the driver
// (the client then goes on while the serving thread is still being woken), or by the serving thread.
struct ChannelAnswer {
    channel::Control* control;
    uint32_t sequence;
    bool given = false;

    void Give(NTSTATUS status, ULONG_PTR information) {
        control->status = status;
        control->count = static_cast<uint32_t>(NT_ERROR(status) ? 0 : information);
        control->done.store(sequence, std::memory_order_seq_cst);
        given = true;
        if (control->clientSleeping.load(std::memory_order_seq_cst))
            channel::Wake(control->done);
    }

    static void FromDriver(void* context, NTSTATUS status, ULONG_PTR information) {
        static_cast<ChannelAnswer*>(context)->Give(status, information);
    }
};

// Answers the requests the client posts in its channel, watching briefly for the next one after each; returns
// when the client has been quiet for the watch time (the client then rings before its next request).
void ServeChannel(const SharedBuffer& memory, const DeviceFilePtr& file, uint32_t& handled) {
    auto& control = *reinterpret_cast<channel::Control*>(memory.Data());
    uint8_t* const data = memory.Data() + channel::kControlBytes;
    const uint64_t capacity = memory.Size() - channel::kControlBytes;
    for (;;) {
        const uint32_t posted = control.posted.load(std::memory_order_acquire);
        if (posted != handled) {
            // The client owns this memory: each field is read once and checked before use.
            const uint32_t operation = control.operation;
            const uint32_t length = control.length;
            const bool hasOffset = control.hasOffset != 0;
            const uint64_t offset = control.offset;
            const auto at = hasOffset ? std::optional<LONGLONG>(static_cast<LONGLONG>(offset)) : std::nullopt;
            NTSTATUS status = STATUS_INVALID_PARAMETER;
            ULONG_PTR information = 0;
            // Once answered, the client owns the memory again: nothing of it is touched after this request
            // returns but `posted`.
            ChannelAnswer answer{&control, posted};
            const EarlyAnswer early{&ChannelAnswer::FromDriver, &answer};
            if (length > capacity)
                status = STATUS_INVALID_PARAMETER;
            else if (!file)
                status = STATUS_INVALID_HANDLE;
            else if (operation == channel::kRead)
                status = DeviceRead(file, data, length, at, information, &early);
            else if (operation == channel::kWrite)
                status = DeviceWrite(file, data, length, at, information, &early);
            if (!answer.given)
                answer.Give(status, information);
            handled = posted;
            continue;
        }
        if (channel::WatchFor(control.posted, handled))
            continue;
        control.hostSleeping.store(1, std::memory_order_seq_cst);
        if (control.posted.load(std::memory_order_seq_cst) == handled)
            return;
        // A request came as the watch ended: take the flag back. If the client took it first, its ring is on
        // the way and finds nothing left to do.
        control.hostSleeping.store(0, std::memory_order_relaxed);
    }
}

void UnloadEverything() {
    StopHostServices();
    for (const auto& name : LoadedDrivers())
        UnloadDriver(name);
}

// Serves one connection: the device it opens lives as long as the connection.
void Serve(int fd, ClientIdentity client) {
    ScopedClient scope(client);
    DeviceFilePtr file;
    std::vector<uint8_t> message;
    std::vector<uint8_t> data;
    SharedBuffer shared;
    SharedBuffer channelMemory;
    uint32_t channelHandled = 0;
    Passed passed;
    while (protocol::ReceiveMessage(fd, message, 256u << 20, passed.Out())) {
        protocol::Reader in(message.data(), message.size());
        protocol::Writer out;
        NTSTATUS status = STATUS_INVALID_PARAMETER;
        out.U32(0); // the status, filled in below
        const Op op = static_cast<Op>(in.U32());
        switch (op) {
        case Op::LoadDriver: {
            const std::u16string name = in.Text();
            const std::string path = platform::Utf16ToUtf8(in.Text());
            if (!in.Failed())
                status = LoadDriver(name, path);
            break;
        }
        case Op::UnloadDriver: {
            const std::u16string name = in.Text();
            if (!in.Failed())
                status = UnloadDriver(name);
            break;
        }
        case Op::QueryDriver: {
            const std::u16string name = in.Text();
            if (!in.Failed())
                status = IsDriverLoaded(name) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
            break;
        }
        case Op::Open: {
            const std::u16string name = in.Text();
            const uint32_t access = in.U32();
            const uint32_t share = in.U32();
            if (in.Failed())
                break;
            if (file) {
                status = STATUS_INVALID_DEVICE_STATE;
                break;
            }
            status = OpenDevice(name, access, share, file);
            break;
        }
        case Op::Close:
            CloseDevice(file);
            file.reset();
            status = STATUS_SUCCESS;
            break;
        case Op::Read: {
            const uint32_t length = in.U32();
            const bool hasOffset = in.U32() != 0;
            const uint64_t offset = in.U64();
            if (in.Failed())
                break;
            if (!file) {
                status = STATUS_INVALID_HANDLE;
                out.Bytes(nullptr, 0);
                break;
            }
            data.resize(length);
            ULONG_PTR information = 0;
            status = DeviceRead(file, data.data(), length,
                                hasOffset ? std::optional<LONGLONG>(static_cast<LONGLONG>(offset)) : std::nullopt,
                                information);
            out.Bytes(data.data(), NT_ERROR(status) ? 0 : information);
            break;
        }
        case Op::Write: {
            const bool hasOffset = in.U32() != 0;
            const uint64_t offset = in.U64();
            uint32_t size = 0;
            const uint8_t* bytes = in.Bytes(size);
            if (in.Failed())
                break;
            if (!file) {
                status = STATUS_INVALID_HANDLE;
                out.U32(0);
                break;
            }
            ULONG_PTR information = 0;
            status = DeviceWrite(file, bytes, size,
                                 hasOffset ? std::optional<LONGLONG>(static_cast<LONGLONG>(offset)) : std::nullopt,
                                 information);
            out.U32(static_cast<uint32_t>(information));
            break;
        }
        case Op::MapBuffer: {
            const uint64_t size = in.U64();
            if (in.Failed() || passed.Get() < 0)
                break;
            status = shared.Map(passed.Get(), size) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
            passed.Close();
            break;
        }
        case Op::MapChannel: {
            const uint64_t size = in.U64();
            if (in.Failed() || passed.Get() < 0 || size <= channel::kControlBytes)
                break;
            if (channelMemory.Map(passed.Get(), size)) {
                // The client sends a ring with its first request.
                auto& control = *reinterpret_cast<channel::Control*>(channelMemory.Data());
                channelHandled = control.done.load(std::memory_order_acquire);
                control.hostSleeping.store(1, std::memory_order_seq_cst);
                status = STATUS_SUCCESS;
            }
            passed.Close();
            break;
        }
        case Op::Ring:
            if (channelMemory.Data())
                ServeChannel(channelMemory, file, channelHandled);
            continue; // never answered
        case Op::ReadShared:
        case Op::WriteShared: {
            const uint32_t length = in.U32();
            const bool hasOffset = in.U32() != 0;
            const uint64_t offset = in.U64();
            if (in.Failed())
                break;
            ULONG_PTR information = 0;
            if (!file)
                status = STATUS_INVALID_HANDLE;
            else if (length > shared.Size())
                status = STATUS_INVALID_PARAMETER;
            else if (op == Op::ReadShared)
                status = DeviceRead(file, shared.Data(), length,
                                    hasOffset ? std::optional<LONGLONG>(static_cast<LONGLONG>(offset)) : std::nullopt,
                                    information);
            else
                status = DeviceWrite(file, shared.Data(), length,
                                     hasOffset ? std::optional<LONGLONG>(static_cast<LONGLONG>(offset)) : std::nullopt,
                                     information);
            out.U32(static_cast<uint32_t>(NT_ERROR(status) ? 0 : information));
            break;
        }
        case Op::Control: {
            const uint32_t code = in.U32();
            uint32_t inputSize = 0;
            const uint8_t* input = in.Bytes(inputSize);
            const uint32_t outputSize = in.U32();
            if (in.Failed())
                break;
            if (!file) {
                status = STATUS_INVALID_HANDLE;
                out.U64(0);
                out.Bytes(nullptr, 0);
                break;
            }
            data.assign(outputSize, 0);
            ULONG_PTR information = 0;
            status = DeviceControl(file, code, input, inputSize, outputSize ? data.data() : nullptr, outputSize,
                                   information);
            out.U64(information);
            out.Bytes(data.data(), NT_ERROR(status) ? 0 : std::min<ULONG_PTR>(information, outputSize));
            break;
        }
        case Op::Seek: {
            const bool fromCurrent = in.U32() != 0;
            const auto distance = static_cast<LONGLONG>(in.U64());
            if (in.Failed())
                break;
            if (!file) {
                status = STATUS_INVALID_HANDLE;
                out.U64(0);
                break;
            }
            const LONGLONG base = fromCurrent ? DevicePosition(file) : 0;
            LONGLONG position = 0;
            if (__builtin_add_overflow(base, distance, &position) || position < 0) {
                out.U64(static_cast<uint64_t>(base));
                break; // STATUS_INVALID_PARAMETER: the position stays
            }
            SetDevicePosition(file, position);
            out.U64(static_cast<uint64_t>(position));
            status = STATUS_SUCCESS;
            break;
        }
        case Op::Flush:
            status = file ? DeviceFlush(file) : STATUS_INVALID_HANDLE;
            break;
        case Op::DefineDos: {
            const uint32_t flags = in.U32();
            const std::u16string name = in.Text();
            const std::u16string target = in.Text();
            if (!in.Failed())
                status = DefineDosDevice(flags, name, target);
            break;
        }
        case Op::QueryDos: {
            const std::u16string name = in.Text();
            if (in.Failed())
                break;
            std::vector<std::u16string> targets;
            status = QueryDosDevice(name, targets);
            out.U32(static_cast<uint32_t>(targets.size()));
            for (const auto& target : targets)
                out.Text(target);
            break;
        }
        case Op::DriveLetters: {
            // A program looking at the letters finds the file systems on their disks mounted, as on first use.
            RecognizeDriveLetterVolumes();
            const auto letters = DriveLetterDevices();
            out.U32(static_cast<uint32_t>(letters.size()));
            for (const auto& letter : letters) {
                out.U32(static_cast<uint32_t>(letter.drive));
                out.Text(letter.device);
                out.U32(letter.deviceType);
                out.U32(letter.characteristics);
                out.Text(platform::Utf8ToUtf16(letter.mount.hostRoot));
                out.Text(letter.mount.fileSystem);
                out.Text(letter.mount.label);
                out.U32(letter.mount.serial);
            }
            status = STATUS_SUCCESS;
            break;
        }
        case Op::Service: {
            const std::u16string name = in.Text();
            uint32_t size = 0;
            const uint8_t* bytes = in.Bytes(size);
            if (in.Failed())
                break;
            status = ServeHostService(name, fd, bytes, size, out.Data());
            break;
        }
        case Op::Shutdown:
            g_stopping = true;
            UnloadEverything();
            status = STATUS_SUCCESS;
            break;
        }
        if (status == STATUS_PENDING && op == Op::Service)
            break; // the service had the connection for itself, and it has ended
        memcpy(out.Data().data(), &status, 4);
        if (!protocol::SendMessage(fd, out.Data()))
            break;
        if (g_stopping) {
            // The requester waits for the connection to close as the sign that the host has ended.
            fflush(nullptr);
            _exit(0);
        }
    }
    if (file)
        CloseDevice(file);
    close(fd);
}

// Ends the host when its machine folder goes away (a test that could not stop it), so that no host outlives
// the folder it serves.
void Watchdog(std::string socketPath) {
    struct stat original {};
    stat(socketPath.c_str(), &original);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        struct stat now {};
        if (stat(socketPath.c_str(), &now) != 0 || now.st_ino != original.st_ino) {
            UnloadEverything();
            _exit(0);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"));
        fputs("kernelhost: the layer's kernel. It loads drivers as services start, keeps their devices and the\n"
              "machine's device names, and serves the programs of the machine folder (WINLAYER_MACHINE, or the\n"
              "default one) through \"kernel/host.sock\" there. Programs start it when a service starts; it takes\n"
              "no arguments and ends when asked to or when its socket is taken away.\n",
              help ? stdout : stderr);
        return help ? 0 : 2;
    }
    signal(SIGPIPE, SIG_IGN);
    UseLocalDriveLetters([] {
        std::vector<DeviceDriveLetter> letters;
        for (auto& local : DriveLetterDevices())
            letters.push_back({local.drive, std::move(local.device), local.deviceType, local.characteristics,
                               local.mount.hostRoot, local.mount.fileSystem, local.mount.label, local.mount.serial});
        return letters;
    });
    const std::string folder = platform::machine::PathOf("kernel");
    mkdir(folder.c_str(), 0700);
    chmod(folder.c_str(), 0700);
    // One host per machine folder: the lock is held for the host's whole life.
    const int lockFd = open((folder + "/host.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) {
        perror("kernelhost: cannot open kernel/host.lock");
        return 1;
    }
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0)
        return 0; // another host serves this machine folder

    const std::string socketPath = HostSocketPath();
    unlink(socketPath.c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener < 0 || socketPath.size() >= sizeof(address.sun_path)) {
        fprintf(stderr, "kernelhost: cannot make the socket %s: %s\n", socketPath.c_str(),
                listener < 0 ? strerror(errno) : "the path is too long for a socket");
        return 1;
    }
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const mode_t previousMask = umask(0077);
    const int bound = bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    umask(previousMask);
    if (bound != 0 || listen(listener, 64) != 0) {
        perror("kernelhost: cannot listen");
        return 1;
    }
    chmod(socketPath.c_str(), 0600);
    std::thread(Watchdog, socketPath).detach();
    StartHostServices();
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            perror("kernelhost: accept");
            return 1;
        }
        ucred peer{};
        socklen_t size = sizeof(peer);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
            // Only programs of the host's own user may talk to its drivers.
            close(fd);
            continue;
        }
        ClientIdentity client{static_cast<ULONG>(peer.uid), static_cast<ULONG>(peer.gid), static_cast<ULONG>(peer.pid)};
        std::thread(Serve, fd, client).detach();
    }
}
