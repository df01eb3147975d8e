// Finding, starting and stopping the kernel host, the socket framing shared with it, and calls to the services
// it runs.
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef KERNEL_HOST_BUILD_PATH
#define KERNEL_HOST_BUILD_PATH ""
#endif

namespace platform::kernel {
namespace protocol {

bool SendMessage(int fd, const std::vector<uint8_t>& payload, int descriptor) {
    const uint32_t length = static_cast<uint32_t>(payload.size());
    iovec parts[2] = {{const_cast<uint32_t*>(&length), 4}, {const_cast<uint8_t*>(payload.data()), payload.size()}};
    size_t total = 4 + payload.size();
    size_t sent = 0;
    while (sent < total) {
        msghdr message{};
        iovec pending[2];
        int count = 0;
        size_t skip = sent;
        for (const auto& part : parts) {
            if (skip >= part.iov_len) {
                skip -= part.iov_len;
                continue;
            }
            pending[count++] = {static_cast<char*>(part.iov_base) + skip, part.iov_len - skip};
            skip = 0;
        }
        message.msg_iov = pending;
        message.msg_iovlen = count;
        // The descriptor travels with the first byte.
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (descriptor >= 0 && sent == 0) {
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int));
            memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
        }
        const ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// recv that also takes a descriptor passed with the bytes: kept in `passed` when the caller asks for one and has
// none yet, closed otherwise.
ssize_t ReceiveSome(int fd, void* data, size_t size, int flags, int* passed) {
    iovec part{data, size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t n = recvmsg(fd, &message, flags | MSG_CMSG_CLOEXEC);
    if (n < 0)
        return n;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            memcpy(&received, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (passed && *passed < 0)
                *passed = received;
            else
                close(received);
        }
    }
    return n;
}

bool ReceiveExact(int fd, void* data, size_t size, int* passed) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ReceiveSome(fd, static_cast<char*>(data) + got, size - got, MSG_WAITALL, passed);
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

// Requests and replies follow each other closely (a disk request takes tens of microseconds); polling briefly for
// the next message before sleeping saves a scheduler round trip on each side.
constexpr auto kPollBeforeSleep = std::chrono::microseconds(100);

bool ReceiveMessage(int fd, std::vector<uint8_t>& payload, size_t limit, int* passed) {
    if (passed)
        *passed = -1;
    uint32_t length = 0;
    size_t got = 0;
    const auto pollEnd = std::chrono::steady_clock::now() + kPollBeforeSleep;
    while (got < 4) {
        const ssize_t n = ReceiveSome(fd, reinterpret_cast<char*>(&length) + got, 4 - got, MSG_DONTWAIT, passed);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        if (std::chrono::steady_clock::now() >= pollEnd)
            break;
        sched_yield();
    }
    if (got < 4 && !ReceiveExact(fd, reinterpret_cast<char*>(&length) + got, 4 - got, passed))
        return false;
    if (length > limit)
        return false;
    payload.resize(length);
    return ReceiveExact(fd, payload.data(), length, passed);
}

} // namespace protocol

namespace {

std::string KernelFolder() {
    return platform::machine::PathOf("kernel");
}

int TryConnect() {
    const std::string path = HostSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return -1;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno; // the caller tells a stale socket (ECONNREFUSED) from a missing one
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::string HostProgram() {
    if (const char* configured = getenv("WINLAYER_KERNEL_HOST"); configured && *configured)
        return configured;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string program = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string();
    const std::string beside = program.substr(0, program.rfind('/') + 1) + "kernelhost";
    if (access(beside.c_str(), X_OK) == 0)
        return beside;
    return KERNEL_HOST_BUILD_PATH;
}

// Starts the host detached from this program (its own session, not our child), so that it outlives us.
bool SpawnHost() {
    const std::string program = HostProgram();
    if (program.empty() || access(program.c_str(), X_OK) != 0)
        return false;
    const std::string errors = KernelFolder() + "/host.err";
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        const int null = open("/dev/null", O_RDWR);
        const int log = open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(null, 0);
        dup2(null, 1);
        dup2(log >= 0 ? log : null, 2);
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

class FileLock {
public:
    explicit FileLock(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~FileLock() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

} // namespace

std::string HostSocketPath() {
    return KernelFolder() + "/host.sock";
}

int ConnectHost(bool startIfNeeded) {
    int fd = TryConnect();
    if (fd >= 0 || !startIfNeeded) {
        if (fd < 0)
            SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return fd;
    }
    mkdir(KernelFolder().c_str(), 0700);
    chmod(KernelFolder().c_str(), 0700);
    FileLock starting(KernelFolder() + "/start.lock");
    fd = TryConnect();
    if (fd >= 0)
        return fd;
    // A socket nobody listens on is what a host killed by hand leaves behind; the new host replaces it.
    if (errno == ECONNREFUSED)
        unlink(HostSocketPath().c_str());
    if (!SpawnHost()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        fd = TryConnect();
        if (fd >= 0)
            return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
    return -1;
}

bool HostRunning() {
    const int fd = TryConnect();
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool StopHost() {
    const int fd = TryConnect();
    if (fd < 0)
        return true;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(protocol::Op::Shutdown));
    std::vector<uint8_t> reply;
    const bool asked = protocol::SendMessage(fd, request.Data()) && protocol::ReceiveMessage(fd, reply);
    // The host closes its end only when it exits.
    char byte;
    while (asked && recv(fd, &byte, 1, 0) > 0) {
    }
    close(fd);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!HostRunning())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

namespace {

void WriteServiceRequest(protocol::Writer& out, const std::u16string& name, const std::vector<uint8_t>& request) {
    out.U32(static_cast<uint32_t>(protocol::Op::Service));
    out.Text(name);
    out.Bytes(request.data(), request.size());
}

} // namespace

int32_t CallHostService(const std::u16string& name, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply,
                        bool startHost) {
    reply.clear();
    const int fd = ConnectHost(startHost);
    if (fd < 0)
        return STATUS_PORT_DISCONNECTED;
    protocol::Writer out;
    WriteServiceRequest(out, name, request);
    std::vector<uint8_t> message;
    NTSTATUS status = STATUS_PORT_DISCONNECTED;
    if (protocol::SendMessage(fd, out.Data()) && protocol::ReceiveMessage(fd, message) && message.size() >= 4) {
        memcpy(&status, message.data(), 4);
        reply.assign(message.begin() + 4, message.end());
    }
    close(fd);
    return status;
}

int OpenHostServiceConnection(const std::u16string& name, const std::vector<uint8_t>& request) {
    const int fd = ConnectHost(true);
    if (fd < 0)
        return -1;
    protocol::Writer out;
    WriteServiceRequest(out, name, request);
    if (!protocol::SendMessage(fd, out.Data())) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace platform::kernel
