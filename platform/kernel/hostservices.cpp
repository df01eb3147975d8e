// Services of other layer parts that run inside the kernel host, and the client's calls to them.
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"
#include "platform/kernel/protocol.h"

#include "platform/base/strings.h"

#include <mutex>

#include <unistd.h>

namespace platform::kernel {
namespace {

struct HostService {
    std::u16string name;
    HostServiceStart start;
    HostServiceHandler handler;
    HostServiceStop stop;
};

std::mutex& ServicesLock() {
    static std::mutex lock;
    return lock;
}

std::vector<HostService>& Services() {
    static std::vector<HostService> services;
    return services;
}

bool g_started = false;

} // namespace

void RegisterHostService(const char* name, HostServiceStart start, HostServiceHandler handler, HostServiceStop stop) {
    std::lock_guard lock(ServicesLock());
    Services().push_back({platform::Utf8ToUtf16(name), start, handler, stop});
}

void StartHostServices() {
    std::vector<HostService> services;
    {
        std::lock_guard lock(ServicesLock());
        if (g_started)
            return;
        g_started = true;
        services = Services();
    }
    for (const auto& service : services) {
        if (service.start)
            service.start();
    }
}

void StopHostServices() {
    std::vector<HostService> services;
    {
        std::lock_guard lock(ServicesLock());
        if (!g_started)
            return;
        g_started = false;
        services = Services();
    }
    for (auto it = services.rbegin(); it != services.rend(); ++it) {
        if (it->stop)
            it->stop();
    }
}

int32_t ServeHostService(const std::u16string& name, int fd, const uint8_t* request, size_t size,
                         std::vector<uint8_t>& reply) {
    HostServiceHandler handler = nullptr;
    {
        std::lock_guard lock(ServicesLock());
        for (const auto& service : Services()) {
            if (platform::EqualsNoCase(service.name, name))
                handler = service.handler;
        }
    }
    if (!handler)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    return handler(fd, request, size, reply);
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
