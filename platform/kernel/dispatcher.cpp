// Dispatcher objects (events, threads), waits, system threads, spin locks, interlocked lists, kernel handles,
// object references and client security.
#include "platform/kernel/kernel_private.h"
#include "platform/kernel/watch.h"

#include "platform/base/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <unordered_map>
#include <vector>

#include <optional>

#include <sched.h>
#include <unistd.h>

// The thread object: waitable (signalled once the thread has ended).
struct KTHREAD {
    DISPATCHER_HEADER Header;
    KPRIORITY Priority;
    NTSTATUS ExitStatus;
};

namespace platform::kernel {
namespace {

constexpr UCHAR kThreadObjectType = 6;

// One lock for every dispatcher object, as the kernel's dispatcher lock. Each waiting thread sleeps on its own
// condition, registered under the object it waits for, so that a state change wakes only the threads waiting for
// that object.
std::mutex& DispatcherLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

struct WaitBlock {
    std::condition_variable condition;
};
thread_local WaitBlock t_waitBlock;

std::unordered_multimap<const void*, WaitBlock*>& Waiters() {
    static auto* waiters = new std::unordered_multimap<const void*, WaitBlock*>;
    return *waiters;
}

// Call with the dispatcher lock held after the object became signalled.
void WakeWaitersLocked(const void* object) {
    auto [first, last] = Waiters().equal_range(object);
    for (auto it = first; it != last; ++it)
        it->second->condition.notify_one();
}

// How long a waiter watches the object before it sleeps (see watch.h).
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

class ThreadObject : public KObject {
public:
    ThreadObject() {
        thread.Header.Type = kThreadObjectType;
        thread.Header.SignalState = 0;
        thread.Priority = 8;
        thread.ExitStatus = STATUS_PENDING;
    }
    ~ThreadObject() override { UnregisterObjectAddress(&thread); }
    KTHREAD thread{};
};

// The thread object of the calling host thread: system threads get theirs at creation, other threads (the host's
// connection threads, tests) on first use.
thread_local std::shared_ptr<ThreadObject> t_self;
thread_local const ClientIdentity* t_client = nullptr;
thread_local SECURITY_CLIENT_CONTEXT t_impersonation{};
thread_local bool t_impersonating = false;

struct TerminateThread {
    NTSTATUS status;
};

std::shared_ptr<ThreadObject> SelfObject() {
    if (!t_self) {
        t_self = std::make_shared<ThreadObject>();
        RegisterObjectAddress(&t_self->thread, t_self);
    }
    return t_self;
}

bool IsSignaled(const DISPATCHER_HEADER* header) {
    return header->SignalState > 0;
}

void Satisfy(DISPATCHER_HEADER* header) {
    if (header->Type == SynchronizationEvent)
        std::atomic_ref<LONG>(header->SignalState).store(0, std::memory_order_relaxed);
}

// Kernel handles: their own table, values that never look like the layer's user handles.
std::mutex g_handleLock;
std::unordered_map<uintptr_t, KObjectPtr> g_handles;
uintptr_t g_nextHandle = 0;
constexpr uintptr_t kKernelHandleBit = uintptr_t{1} << 62;

struct AddressEntry {
    std::weak_ptr<KObject> owner;
    long references = 0;
    KObjectPtr pin;
};
std::mutex g_addressLock;
std::unordered_map<const void*, AddressEntry> g_addresses;

} // namespace

HANDLE InsertKernelHandle(const KObjectPtr& object) {
    std::lock_guard lock(g_handleLock);
    g_nextHandle += 4;
    const uintptr_t value = kKernelHandleBit | g_nextHandle;
    g_handles[value] = object;
    return reinterpret_cast<HANDLE>(value);
}

KObjectPtr LookupKernelHandle(HANDLE handle) {
    std::lock_guard lock(g_handleLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == g_handles.end() ? nullptr : it->second;
}

NTSTATUS CloseKernelHandle(HANDLE handle) {
    KObjectPtr object;
    bool last = true;
    {
        std::lock_guard lock(g_handleLock);
        auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == g_handles.end())
            return STATUS_INVALID_HANDLE;
        object = std::move(it->second);
        g_handles.erase(it);
        for (const auto& [value, other] : g_handles) {
            if (other == object) {
                last = false;
                break;
            }
        }
    }
    if (last)
        object->OnLastHandleClosed();
    return STATUS_SUCCESS;
}

void RegisterObjectAddress(const void* address, const std::weak_ptr<KObject>& owner) {
    std::lock_guard lock(g_addressLock);
    g_addresses[address] = AddressEntry{owner, 0, nullptr};
}

void UnregisterObjectAddress(const void* address) {
    std::lock_guard lock(g_addressLock);
    g_addresses.erase(address);
}

KObjectPtr LookupObjectAddress(const void* address) {
    std::lock_guard lock(g_addressLock);
    auto it = g_addresses.find(address);
    return it == g_addresses.end() ? nullptr : it->second.owner.lock();
}

const ClientIdentity* CurrentClient() {
    return t_client;
}
const SECURITY_CLIENT_CONTEXT* CurrentImpersonation() {
    return t_impersonating ? &t_impersonation : nullptr;
}

ScopedClient::ScopedClient(const ClientIdentity& client) : m_previous(t_client), m_client(client) {
    t_client = &m_client;
}
ScopedClient::~ScopedClient() {
    t_client = m_previous;
}

} // namespace platform::kernel

using namespace platform::kernel;

POBJECT_TYPE g_threadType = reinterpret_cast<POBJECT_TYPE>(uintptr_t{1});
POBJECT_TYPE g_fileType = reinterpret_cast<POBJECT_TYPE>(uintptr_t{2});
POBJECT_TYPE g_deviceType = reinterpret_cast<POBJECT_TYPE>(uintptr_t{3});
POBJECT_TYPE* PsThreadType = &g_threadType;
POBJECT_TYPE* IoFileObjectType = &g_fileType;
POBJECT_TYPE* IoDeviceObjectType = &g_deviceType;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
    std::lock_guard lock(DispatcherLock());
    event->Header.Type = static_cast<UCHAR>(type);
    std::atomic_ref<LONG>(event->Header.SignalState).store(state ? 1 : 0, std::memory_order_release);
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
    std::lock_guard lock(DispatcherLock());
    const LONG previous = event->Header.SignalState;
    std::atomic_ref<LONG>(event->Header.SignalState).store(1, std::memory_order_release);
    WakeWaitersLocked(event);
    return previous;
}

LONG KeResetEvent(PRKEVENT event) {
    std::lock_guard lock(DispatcherLock());
    const LONG previous = event->Header.SignalState;
    std::atomic_ref<LONG>(event->Header.SignalState).store(0, std::memory_order_relaxed);
    return previous;
}

void KeClearEvent(PRKEVENT event) {
    KeResetEvent(event);
}

LONG KeReadStateEvent(PRKEVENT event) {
    std::lock_guard lock(DispatcherLock());
    return event->Header.SignalState;
}

namespace {

// Deadline of a kernel timeout (100-ns units, negative relative, positive absolute system time).
std::optional<std::chrono::steady_clock::time_point> Deadline(PLARGE_INTEGER timeout) {
    if (!timeout)
        return std::nullopt;
    LONGLONG relative = timeout->QuadPart;
    if (relative > 0)
        relative = -(relative - platform::clock::Now());
    if (relative > 0)
        relative = 0;
    return std::chrono::steady_clock::now() + std::chrono::microseconds(-relative / 10);
}

} // namespace

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout) {
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    const auto deadline = Deadline(timeout);
    const bool mayWait = !deadline || *deadline > std::chrono::steady_clock::now();
    if (mayWait) {
        std::atomic_ref<LONG> state(header->SignalState);
        WatchUntil([&] { return state.load(std::memory_order_acquire) > 0; }, kSpinBeforeSleep);
    }
    std::unique_lock lock(DispatcherLock());
    if (!IsSignaled(header) && mayWait) {
        auto registration = Waiters().emplace(header, &t_waitBlock);
        while (!IsSignaled(header)) {
            if (!deadline) {
                t_waitBlock.condition.wait(lock);
            } else if (t_waitBlock.condition.wait_until(lock, *deadline) == std::cv_status::timeout) {
                break;
            }
        }
        Waiters().erase(registration);
    }
    if (!IsSignaled(header))
        return STATUS_TIMEOUT;
    Satisfy(header);
    return STATUS_SUCCESS;
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
    if (const auto deadline = Deadline(interval))
        std::this_thread::sleep_until(*deadline);
    return STATUS_SUCCESS;
}

NTSTATUS ZwYieldExecution() {
    sched_yield();
    return STATUS_SUCCESS;
}

ULONG KeQueryActiveProcessorCount(PKAFFINITY activeProcessors) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) {
        CPU_ZERO(&set);
        CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &set);
    }
    if (activeProcessors) {
        *activeProcessors = 0;
        for (int cpu = 0; cpu < 64 && cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set))
                *activeProcessors |= KAFFINITY{1} << cpu;
        }
    }
    return static_cast<ULONG>(std::max(1, CPU_COUNT(&set)));
}

NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE, PCLIENT_ID clientId,
                              PKSTART_ROUTINE startRoutine, PVOID context) {
    if (!threadHandle || !startRoutine)
        return STATUS_INVALID_PARAMETER;
    auto object = std::make_shared<ThreadObject>();
    RegisterObjectAddress(&object->thread, object);
    try {
        std::thread worker([object, startRoutine, context] {
            t_self = object;
            NTSTATUS status = STATUS_SUCCESS;
            try {
                startRoutine(context);
            } catch (const TerminateThread& terminate) {
                status = terminate.status;
            } catch (...) {
                DebugLogWrite("system thread ended by an exception");
                status = STATUS_UNSUCCESSFUL;
            }
            t_impersonating = false;
            {
                std::lock_guard lock(DispatcherLock());
                object->thread.ExitStatus = status;
                std::atomic_ref<LONG>(object->thread.Header.SignalState).store(1, std::memory_order_release);
                WakeWaitersLocked(&object->thread);
            }
            t_self.reset();
        });
        worker.detach();
    } catch (const std::system_error&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *threadHandle = InsertKernelHandle(object);
    if (clientId) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(getpid()));
        clientId->UniqueThread = *threadHandle;
    }
    return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS exitStatus) {
    throw TerminateThread{exitStatus};
}

PKTHREAD KeGetCurrentThread() {
    return &SelfObject()->thread;
}
PETHREAD PsGetCurrentThread() {
    return KeGetCurrentThread();
}
HANDLE PsGetCurrentThreadId() {
    return reinterpret_cast<HANDLE>(KeGetCurrentThread());
}

KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority) {
    std::lock_guard lock(DispatcherLock());
    const KPRIORITY previous = thread->Priority;
    thread->Priority = priority;
    return previous;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD thread) {
    std::lock_guard lock(DispatcherLock());
    return thread->Priority;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE objectType, KPROCESSOR_MODE, PVOID* object,
                                   PVOID) {
    KObjectPtr owner = LookupKernelHandle(handle);
    if (!owner)
        return STATUS_INVALID_HANDLE;
    auto thread = std::dynamic_pointer_cast<ThreadObject>(owner);
    if (!thread) {
        // A handle of a file or device: its file object.
        PVOID file = owner->FileObjectBody();
        if (!file || (objectType && objectType != g_fileType))
            return STATUS_OBJECT_TYPE_MISMATCH;
        ObReferenceObject(file);
        *object = file;
        return STATUS_SUCCESS;
    }
    if (objectType && objectType != g_threadType)
        return STATUS_OBJECT_TYPE_MISMATCH;
    ObReferenceObject(&thread->thread);
    *object = &thread->thread;
    return STATUS_SUCCESS;
}

void ObReferenceObject(PVOID object) {
    std::lock_guard lock(g_addressLock);
    auto it = g_addresses.find(object);
    if (it == g_addresses.end())
        return;
    if (it->second.references++ == 0)
        it->second.pin = it->second.owner.lock();
}

void ObDereferenceObject(PVOID object) {
    KObjectPtr release;
    {
        std::lock_guard lock(g_addressLock);
        auto it = g_addresses.find(object);
        if (it == g_addresses.end() || it->second.references == 0)
            return;
        if (--it->second.references == 0)
            release = std::move(it->second.pin);
    }
    if (release)
        release->OnLastReferenceReleased();
}

void KeInitializeSpinLock(PKSPIN_LOCK lock) {
    *lock = 0;
}

void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql) {
    std::atomic_ref<KSPIN_LOCK> word(*lock);
    for (unsigned spins = 0; word.exchange(1, std::memory_order_acquire) != 0; ++spins) {
        if (spins > 64)
            sched_yield();
    }
    if (oldIrql)
        *oldIrql = PASSIVE_LEVEL;
}

void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL) {
    std::atomic_ref<KSPIN_LOCK> word(*lock);
    word.store(0, std::memory_order_release);
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY previousTail = IsListEmpty(head) ? nullptr : head->Blink;
    InsertTailList(head, entry);
    KeReleaseSpinLock(lock, irql);
    return previousTail;
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY previousHead = IsListEmpty(head) ? nullptr : head->Flink;
    InsertHeadList(head, entry);
    KeReleaseSpinLock(lock, irql);
    return previousHead;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PLIST_ENTRY entry = IsListEmpty(head) ? nullptr : RemoveHeadList(head);
    KeReleaseSpinLock(lock, irql);
    return entry;
}

void KeQuerySystemTime(PLARGE_INTEGER currentTime) {
    currentTime->QuadPart = platform::clock::Now();
}

void KeQueryTickCount(PLARGE_INTEGER tickCount) {
    tickCount->QuadPart = static_cast<LONGLONG>(platform::clock::MonotonicMs());
}

NTSTATUS SeCreateClientSecurity(PETHREAD, PSECURITY_QUALITY_OF_SERVICE qos, BOOLEAN remoteSession,
                                PSECURITY_CLIENT_CONTEXT clientContext) {
    if (!qos || !clientContext)
        return STATUS_INVALID_PARAMETER;
    *clientContext = SECURITY_CLIENT_CONTEXT{};
    clientContext->SecurityQos = *qos;
    clientContext->ServerIsRemote = remoteSession;
    if (const ClientIdentity* client = CurrentClient()) {
        clientContext->UserId = client->userId;
        clientContext->GroupId = client->groupId;
        clientContext->ProcessId = client->processId;
    } else {
        clientContext->UserId = geteuid();
        clientContext->GroupId = getegid();
        clientContext->ProcessId = static_cast<ULONG>(getpid());
    }
    clientContext->Captured = TRUE;
    return STATUS_SUCCESS;
}

NTSTATUS SeImpersonateClientEx(PSECURITY_CLIENT_CONTEXT clientContext, PETHREAD serverThread) {
    if (!clientContext || !clientContext->Captured)
        return STATUS_INVALID_PARAMETER;
    if (serverThread && serverThread != KeGetCurrentThread())
        return STATUS_NOT_SUPPORTED; // a thread can only be made to act for a client from within itself here
    // Only programs of the host's own user reach the host, so acting for the client grants the host's rights.
    if (clientContext->UserId != geteuid())
        return STATUS_ACCESS_DENIED;
    t_impersonation = *clientContext;
    t_impersonating = true;
    return STATUS_SUCCESS;
}

void SeImpersonateClient(PSECURITY_CLIENT_CONTEXT clientContext, PETHREAD serverThread) {
    SeImpersonateClientEx(clientContext, serverThread);
}

void PsRevertToSelf() {
    t_impersonating = false;
}

void SeDeleteClientSecurity(PSECURITY_CLIENT_CONTEXT clientContext) {
    if (clientContext)
        *clientContext = SECURITY_CLIENT_CONTEXT{};
}
