// Services of other layer parts that run inside the kernel host (the client's calls to them are in hostclient.cpp).
#include "platform/kernel/host.h"
#include "platform/kernel/ntstatus.h"

#include "platform/base/strings.h"

#include <mutex>

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

} // namespace platform::kernel
