// Completion ports: a packet queue waited on through the layer's wait machinery, and the association of
// handles with ports.

#include "platform/base/iocp.h"

#include "platform/base/errors.h"
#include "platform/base/sync.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>

namespace platform {

namespace {

struct Packet {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    DWORD status = ERROR_SUCCESS;
};

// Set while the calling thread waits in GetQueuedCompletionStatus: a satisfied wait moves the front packet here,
// under the wait lock, so that two threads never take the same packet.
thread_local bool t_taking = false;
thread_local std::optional<Packet> t_taken;

class CompletionPort : public KernelObject {
public:
    const char* TypeName() const override { return "CompletionPort"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return !m_packets.empty() || m_closed; }
    DWORD Acquire() override {
        if (t_taking && !m_packets.empty()) {
            t_taken = m_packets.front();
            m_packets.pop_front();
        }
        return WAIT_OBJECT_0;
    }
    void OnLastHandleClosed() override {
        WaitLock lock;
        m_closed = true;
        m_packets.clear();
        WakeWaiters();
    }

    // Wait lock held.
    bool Closed() const { return m_closed; }
    void Queue(const Packet& packet) {
        if (m_closed)
            return;
        m_packets.push_back(packet);
        WakeWaiters();
    }

private:
    std::deque<Packet> m_packets;
    bool m_closed = false;
};

struct Association {
    std::weak_ptr<CompletionPort> port;
    ULONG_PTR key = 0;
};

struct Associations {
    std::mutex mutex;
    std::map<std::weak_ptr<const KernelObject>, Association, std::owner_less<>> map;
};

Associations& GetAssociations() {
    static auto* associations = new Associations;
    return *associations;
}

std::optional<Association> FindAssociation(const KernelObject& object) {
    Associations& all = GetAssociations();
    std::lock_guard lock(all.mutex);
    std::weak_ptr<const KernelObject> self = object.weak_from_this();
    auto it = all.map.find(self);
    if (it == all.map.end())
        return std::nullopt;
    return it->second;
}

} // namespace

CompletionRoute CompletionRouteOf(const KernelObject& object) {
    std::optional<Association> association = FindAssociation(object);
    if (!association)
        return {};
    return CompletionRoute{association->port.lock(), association->key};
}

void CompleteOverlappedIo(const CompletionRoute& route, LPOVERLAPPED overlapped, DWORD error, DWORD bytes) {
    if (!overlapped)
        return;
    overlapped->Internal = error;
    overlapped->InternalHigh = bytes;
    const auto eventBits = reinterpret_cast<uintptr_t>(overlapped->hEvent);
    if (eventBits & ~uintptr_t{1})
        SetEvent(reinterpret_cast<HANDLE>(eventBits & ~uintptr_t{1}));
    if ((eventBits & 1) || !route.port)
        return;
    auto* port = static_cast<CompletionPort*>(route.port.get());
    WaitLock lock;
    port->Queue(Packet{bytes, route.key, overlapped, error});
}

void CompleteOverlappedIo(const KernelObject& object, LPOVERLAPPED overlapped, DWORD error, DWORD bytes) {
    CompleteOverlappedIo(CompletionRouteOf(object), overlapped, error, bytes);
}

bool HasCompletionPort(const KernelObject& object) {
    std::optional<Association> association = FindAssociation(object);
    return association && !association->port.expired();
}

} // namespace platform

HANDLE CreateIoCompletionPort(HANDLE fileHandle, HANDLE existingCompletionPort, ULONG_PTR completionKey,
                              DWORD /*numberOfConcurrentThreads*/) {
    using namespace platform;
    std::shared_ptr<CompletionPort> port;
    if (existingCompletionPort) {
        port = LookupHandleAs<CompletionPort>(existingCompletionPort);
        if (!port)
            return nullptr;
    }
    if (fileHandle == INVALID_HANDLE_VALUE) {
        // A port of its own, associated with nothing.
        if (existingCompletionPort) {
            Fail(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return InsertHandle(std::make_shared<CompletionPort>());
    }
    KernelObjectPtr file = LookupHandle(fileHandle);
    if (!file) {
        SetLastErrorInvalidHandle();
        return nullptr;
    }
    Associations& all = GetAssociations();
    std::lock_guard lock(all.mutex);
    // Forget the associations of objects that are gone.
    for (auto it = all.map.begin(); it != all.map.end();) {
        if (it->first.expired() || it->second.port.expired())
            it = all.map.erase(it);
        else
            ++it;
    }
    std::weak_ptr<const KernelObject> key = file;
    if (all.map.count(key)) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE result = existingCompletionPort;
    if (!port) {
        port = std::make_shared<CompletionPort>();
        result = InsertHandle(port);
    }
    all.map[key] = Association{port, completionKey};
    SetLastError(ERROR_SUCCESS);
    return result;
}

BOOL GetQueuedCompletionStatus(HANDLE completionPort, LPDWORD numberOfBytes, PULONG_PTR completionKey,
                               LPOVERLAPPED* overlapped, DWORD milliseconds) {
    using namespace platform;
    if (!numberOfBytes || !completionKey || !overlapped) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *overlapped = nullptr;
    std::shared_ptr<CompletionPort> port = LookupHandleAs<CompletionPort>(completionPort);
    if (!port)
        return FALSE;
    t_taken.reset();
    t_taking = true;
    const DWORD r = WaitForObjects(1, &completionPort, milliseconds, {});
    t_taking = false;
    if (r == WAIT_TIMEOUT) {
        Fail(WAIT_TIMEOUT);
        return FALSE;
    }
    if (r == WAIT_FAILED) {
        // The handle was closed before the wait could start.
        Fail(ERROR_ABANDONED_WAIT_0);
        return FALSE;
    }
    if (!t_taken) {
        Fail(ERROR_ABANDONED_WAIT_0);
        return FALSE;
    }
    const Packet packet = *t_taken;
    t_taken.reset();
    *numberOfBytes = packet.bytes;
    *completionKey = packet.key;
    *overlapped = packet.overlapped;
    if (packet.status != ERROR_SUCCESS) {
        Fail(packet.status);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL PostQueuedCompletionStatus(HANDLE completionPort, DWORD numberOfBytes, ULONG_PTR completionKey,
                                LPOVERLAPPED overlapped) {
    using namespace platform;
    std::shared_ptr<CompletionPort> port = LookupHandleAs<CompletionPort>(completionPort);
    if (!port)
        return FALSE;
    WaitLock lock;
    if (port->Closed()) {
        SetLastErrorInvalidHandle();
        return FALSE;
    }
    port->Queue(Packet{numberOfBytes, completionKey, overlapped, ERROR_SUCCESS});
    return TRUE;
}
