// The program's side of device notices: registrations, the connection that brings the host's notices, and their
// delivery to the registered windows.
#include "platform/devices/dbt.h"
#include "platform/devices/disk_service.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/protocol.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::devices {
namespace {

namespace protocol = platform::kernel::protocol;

// How long one window may take over one notice.
constexpr UINT kDeliveryTimeoutMs = 15000;

struct Registration {
    HWND window = nullptr;
    DWORD type = 0;   // DBT_DEVTYP_DEVICEINTERFACE or DBT_DEVTYP_HANDLE
    GUID classGuid{}; // interface registrations
    bool allClasses = false;
    HANDLE handle = nullptr; // handle registrations
    std::u16string device;   // the NT name of the handle's device
};

bool SameGuid(const GUID& a, const GUID& b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Set once the listener has ended with the program: registrations ended with it, and a program object that
// unregisters in its own destructor after that finds nothing left to remove.
std::atomic<bool> g_listenerEnded{false};

// The connection to the host and the thread that delivers what it brings. It lives from the first registration
// to the end of the program.
class Listener {
public:
    ~Listener() {
        Stop();
        g_listenerEnded = true;
    }

    // Connects unless connected. A connection the host dropped (it ended) is replaced, so that a program keeps
    // its notices when it registers again with a new host.
    bool Start() {
        std::lock_guard lock(m_startLock);
        if (m_fd >= 0 && m_alive && !HungUp(m_fd))
            return true;
        Retire();
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(service::Op::Subscribe));
        const int fd = platform::kernel::OpenHostServiceConnection(service::kName, request.Data());
        if (fd < 0)
            return false;
        // The host's first message says the notices start: from then on nothing is missed.
        std::vector<uint8_t> first;
        if (!protocol::ReceiveMessage(fd, first)) {
            close(fd);
            return false;
        }
        m_fd = fd;
        m_alive = true;
        // Each thread serves its own connection: a thread of a connection that was replaced ends with it and
        // leaves the new one alone.
        m_thread = std::thread([this, fd] {
            Run(fd);
            if (m_fd == fd)
                m_alive = false;
        });
        return true;
    }

    bool Running() const { return m_fd >= 0; }

    HDEVNOTIFY Add(const Registration& registration) {
        std::lock_guard lock(m_lock);
        const uintptr_t id = ++m_next;
        m_registrations[id] = registration;
        return reinterpret_cast<HDEVNOTIFY>(id);
    }

    bool Remove(HDEVNOTIFY handle) {
        std::lock_guard lock(m_lock);
        return m_registrations.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
    }

private:
    // The host closed the connection (its thread may not have seen it yet).
    static bool HungUp(int fd) {
        pollfd p{fd, POLLRDHUP, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
    }

    // Ends a connection. Its thread may be handing a notice to a window of the calling thread, so it is not
    // waited for here: it ends by itself once the connection is shut, and is joined when the program ends.
    void Retire() {
        if (m_fd < 0)
            return;
        shutdown(m_fd, SHUT_RDWR);
        m_retired.push_back({std::move(m_thread), m_fd});
        m_fd = -1;
    }

    void Stop() {
        Retire();
        for (auto& [thread, fd] : m_retired) {
            if (thread.joinable())
                thread.join();
            close(fd);
        }
        m_retired.clear();
    }

    void Run(int fd) {
        std::vector<uint8_t> message;
        while (protocol::ReceiveMessage(fd, message)) {
            protocol::Reader in(message.data(), message.size());
            const uint32_t event = in.U32();
            const uint32_t kind = in.U32();
            const uint32_t unitMask = in.U32();
            const uint32_t flags = in.U32();
            GUID classGuid{};
            classGuid.Data1 = in.U32();
            const uint32_t middle = in.U32();
            classGuid.Data2 = static_cast<uint16_t>(middle);
            classGuid.Data3 = static_cast<uint16_t>(middle >> 16);
            const uint64_t tail = in.U64();
            memcpy(classGuid.Data4, &tail, 8);
            const std::u16string name = in.Text();
            const bool query = in.U32() != 0;
            const uint32_t excluded = in.U32();
            if (in.Failed())
                break;
            const bool refused =
                excluded != static_cast<uint32_t>(getpid()) && Deliver(event, kind, unitMask, flags, classGuid, name);
            if (query) {
                protocol::Writer answer;
                answer.U32(refused ? 1 : 0);
                if (!protocol::SendMessage(fd, answer.Data()))
                    break;
            }
        }
    }

    // Sends one notice to the windows it concerns; true when one of them refused it.
    bool Deliver(uint32_t event, uint32_t kind, uint32_t unitMask, uint32_t flags, const GUID& classGuid,
                 const std::u16string& name) {
        struct Target {
            HWND window;
            std::vector<uint8_t> record;
        };
        std::vector<Target> targets;
        if (kind == DBT_DEVTYP_VOLUME) {
            // The letters the drive table shows changed with the volume: whoever watches them hears it first.
            if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE)
                platform::fs::NotifyDrivesChanged();
            DEV_BROADCAST_VOLUME volume{sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME, 0, unitMask,
                                        static_cast<WORD>(flags)};
            std::vector<uint8_t> record(sizeof(volume));
            memcpy(record.data(), &volume, sizeof(volume));
            for (HWND window : TopLevelWindows())
                targets.push_back({window, record});
        } else {
            std::lock_guard lock(m_lock);
            for (const auto& [id, r] : m_registrations) {
                if (kind == DBT_DEVTYP_DEVICEINTERFACE && r.type == DBT_DEVTYP_DEVICEINTERFACE &&
                    (r.allClasses || SameGuid(r.classGuid, classGuid))) {
                    const size_t size =
                        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(WCHAR);
                    std::vector<uint8_t> record(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)), 0);
                    auto* d = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
                    d->dbcc_size = static_cast<DWORD>(size);
                    d->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                    d->dbcc_classguid = classGuid;
                    memcpy(d->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
                    targets.push_back({r.window, std::move(record)});
                } else if (kind == DBT_DEVTYP_HANDLE && r.type == DBT_DEVTYP_HANDLE &&
                           platform::EqualsNoCase(r.device, name)) {
                    std::vector<uint8_t> record(sizeof(DEV_BROADCAST_HANDLE), 0);
                    auto* h = reinterpret_cast<DEV_BROADCAST_HANDLE*>(record.data());
                    h->dbch_size = sizeof(DEV_BROADCAST_HANDLE);
                    h->dbch_devicetype = DBT_DEVTYP_HANDLE;
                    h->dbch_handle = r.handle;
                    h->dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(id);
                    h->dbch_nameoffset = -1;
                    targets.push_back({r.window, std::move(record)});
                }
            }
        }
        bool refused = false;
        for (auto& target : targets) {
            if (!IsWindow(target.window))
                continue;
            DWORD_PTR answer = TRUE;
            if (SendMessageTimeoutW(target.window, WM_DEVICECHANGE, event,
                                    reinterpret_cast<LPARAM>(target.record.data()), SMTO_BLOCK, kDeliveryTimeoutMs,
                                    &answer) &&
                static_cast<LRESULT>(answer) == BROADCAST_QUERY_DENY)
                refused = true;
        }
        return refused;
    }

    static std::vector<HWND> TopLevelWindows() {
        std::vector<HWND> windows;
        EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                if (process == static_cast<DWORD>(getpid()))
                    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&windows));
        return windows;
    }

    std::mutex m_startLock;
    std::mutex m_lock;
    std::map<uintptr_t, Registration> m_registrations;
    uintptr_t m_next = 0;
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_alive{false};
    std::thread m_thread;
    std::vector<std::pair<std::thread, int>> m_retired;
};

Listener& TheListener() {
    static Listener listener;
    return listener;
}

// The NT name of the device a handle is open on, as the device tells it.
bool DeviceNameOf(HANDLE handle, std::u16string& name) {
    alignas(8) uint8_t buffer[2 + 2 * 512] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, nullptr, 0, buffer, sizeof(buffer), &returned,
                         nullptr))
        return false;
    USHORT length = 0;
    memcpy(&length, buffer, 2);
    if (length > sizeof(buffer) - 2)
        return false;
    name.assign(reinterpret_cast<const char16_t*>(buffer + 2), length / sizeof(WCHAR));
    return true;
}

} // namespace
} // namespace platform::devices

using namespace platform::devices;

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID notificationFilter, DWORD flags) {
    if ((flags & DEVICE_NOTIFY_SERVICE_HANDLE) || !IsWindow(reinterpret_cast<HWND>(recipient)))
        return platform::Fail(ERROR_INVALID_HANDLE), nullptr;
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(notificationFilter);
    if (!header)
        return platform::Fail(ERROR_INVALID_DATA), nullptr;
    Registration registration;
    registration.window = reinterpret_cast<HWND>(recipient);
    registration.type = header->dbch_devicetype;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        if (header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
            return platform::Fail(ERROR_INVALID_DATA), nullptr;
        registration.classGuid =
            static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(notificationFilter)->dbcc_classguid;
        registration.allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
        if (header->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid))
            return platform::Fail(ERROR_INVALID_DATA), nullptr;
        registration.handle = static_cast<const DEV_BROADCAST_HANDLE*>(notificationFilter)->dbch_handle;
        if (!DeviceNameOf(registration.handle, registration.device))
            return platform::Fail(ERROR_INVALID_HANDLE), nullptr;
    } else {
        return platform::Fail(ERROR_INVALID_DATA), nullptr;
    }
    if (g_listenerEnded || !TheListener().Start())
        return platform::Fail(ERROR_SERVICE_NOT_ACTIVE), nullptr;
    SetLastError(ERROR_SUCCESS);
    return TheListener().Add(registration);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle) {
    if (g_listenerEnded)
        return SetLastError(ERROR_SUCCESS), TRUE;
    if (!TheListener().Remove(handle))
        return platform::Fail(ERROR_INVALID_HANDLE), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

long BroadcastSystemMessageW(DWORD flags, LPDWORD, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (message == WM_DEVICECHANGE && header && header->dbch_devicetype == DBT_DEVTYP_VOLUME &&
        header->dbch_size >= sizeof(DEV_BROADCAST_VOLUME)) {
        const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam);
        namespace protocol = platform::kernel::protocol;
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(service::Op::Broadcast));
        request.U32(static_cast<uint32_t>(wParam));
        request.U32(volume->dbcv_unitmask);
        request.U32(volume->dbcv_flags);
        request.U32((flags & BSF_IGNORECURRENTTASK) ? static_cast<uint32_t>(getpid()) : 0);
        std::vector<uint8_t> reply;
        if (!NT_SUCCESS(platform::kernel::CallHostService(service::kName, request.Data(), reply, true)))
            return platform::Fail(ERROR_SERVICE_NOT_ACTIVE), -1;
        SetLastError(ERROR_SUCCESS);
        return 1;
    }
    if (!(flags & BSF_IGNORECURRENTTASK)) {
        const MSG sent{nullptr, message, wParam, lParam, 0, {0, 0}};
        EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                if (process == static_cast<DWORD>(getpid())) {
                    const auto* m = reinterpret_cast<const MSG*>(context);
                    SendMessageTimeoutW(window, m->message, m->wParam, m->lParam, SMTO_BLOCK, kDeliveryTimeoutMs,
                                        nullptr);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&sent));
    }
    SetLastError(ERROR_SUCCESS);
    return 1;
}
