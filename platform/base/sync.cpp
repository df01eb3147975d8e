// Events, mutexes and semaphores, their names, critical sections and the interlocked operations.

#include "platform/base/sync.h"

#include "platform/base/errors.h"
#include "platform/base/shared_object.h"
#include "platform/base/shared_state.h"
#include "platform/base/thread.h"
#include "platform/base/thread_state.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace platform {

namespace {

// Holds the shared lock of an object for one state change (after the wait lock, as waits do).
template <class T> class SharedScope {
public:
    explicit SharedScope(T& object) : m_object(object) { m_object.LockShared(); }
    ~SharedScope() { m_object.UnlockShared(); }
    SharedScope(const SharedScope&) = delete;
    SharedScope& operator=(const SharedScope&) = delete;

private:
    T& m_object;
};

// Base of the objects that may be shared with other processes through a SharedState.
class Shareable : public KernelObject, public SharedObject {
public:
    bool IsWaitable() const override { return true; }
    bool IsShared() const override { return m_shared != nullptr; }
    void LockShared() override {
        if (m_shared)
            m_shared->Lock();
    }
    void UnlockShared() override {
        if (m_shared)
            m_shared->Unlock();
    }
    void SetShared(std::unique_ptr<SharedState> shared) { m_shared = std::move(shared); }
    void OnLastHandleClosed() override;

protected:
    SharedRecord* Shared() const { return m_shared ? &m_shared->Record() : nullptr; }

private:
    std::unique_ptr<SharedState> m_shared;
};

class EventObject : public Shareable {
public:
    EventObject(bool manualReset, bool signaled) : m_manualReset(manualReset), m_signaled(signaled) {}
    const char* TypeName() const override { return "Event"; }
    bool IsSignaled() const override { return Shared() ? Shared()->signaled != 0 : m_signaled; }
    DWORD Acquire() override {
        if (!ManualReset())
            SetSignaled(false);
        return WAIT_OBJECT_0;
    }
    bool ManualReset() const { return Shared() ? Shared()->manualReset != 0 : m_manualReset; }
    void SetSignaled(bool signaled) {
        if (Shared())
            Shared()->signaled = signaled ? 1 : 0;
        else
            m_signaled = signaled;
    }

private:
    bool m_manualReset;
    bool m_signaled;
};

class SemaphoreObject : public Shareable {
public:
    SemaphoreObject(LONG count, LONG maximum) : m_count(count), m_maximum(maximum) {}
    const char* TypeName() const override { return "Semaphore"; }
    bool IsSignaled() const override { return Count() > 0; }
    DWORD Acquire() override {
        SetCount(Count() - 1);
        return WAIT_OBJECT_0;
    }
    LONG Count() const { return Shared() ? Shared()->count : m_count; }
    LONG Maximum() const { return Shared() ? Shared()->maximum : m_maximum; }
    void SetCount(LONG count) {
        if (Shared())
            Shared()->count = count;
        else
            m_count = count;
    }

private:
    LONG m_count;
    LONG m_maximum;
};

// Mutexes are private to the process: ownership belongs to a thread of this process.
class MutexObject : public KernelObject {
public:
    const char* TypeName() const override { return "Mutex"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return owner == 0 || owner == GetCurrentThreadId(); }
    DWORD Acquire() override {
        ThreadState& self = CurrentThreadState();
        if (owner == self.id) {
            ++recursion;
            return WAIT_OBJECT_0;
        }
        owner = self.id;
        recursion = 1;
        self.ownedMutexes.push_back(weak_from_this());
        if (abandoned) {
            abandoned = false;
            return WAIT_ABANDONED;
        }
        return WAIT_OBJECT_0;
    }
    void OnLastHandleClosed() override;

    // Guarded by the wait lock.
    DWORD owner = 0;
    LONG recursion = 0;
    bool abandoned = false;
};

// The names of this process's named objects. A name lives while a handle to its object is open.
struct Names {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<KernelObject>> objects;
};

Names& GetNames() {
    static auto* names = new Names;
    return *names;
}

// "Local\" and "Global\" name the session's and the machine's namespace; a machine here has one session.
std::u16string NormalName(LPCWSTR name) {
    std::u16string s(name);
    for (const std::u16string prefix : {u"Local\\", u"Global\\"}) {
        if (s.rfind(prefix, 0) == 0)
            return s.substr(prefix.size());
    }
    return s;
}

void Unname(KernelObject& object) {
    if (object.Name().empty())
        return;
    Names& names = GetNames();
    std::lock_guard lock(names.mutex);
    auto it = names.objects.find(object.Name());
    if (it != names.objects.end()) {
        auto current = it->second.lock();
        if (!current || current.get() == &object)
            names.objects.erase(it);
    }
}

void Shareable::OnLastHandleClosed() {
    Unname(*this);
    // The other processes keep the object while they hold it; this process lets go of it now.
    std::lock_guard lock(WaitMutex());
    m_shared.reset();
}

void MutexObject::OnLastHandleClosed() {
    Unname(*this);
}

// Creates an unnamed object, or opens or creates a named one. `makeShared` (may be empty) attaches the state
// shared with other processes to a new named object. Sets the last error to ERROR_ALREADY_EXISTS when the name
// existed, else to 0.
template <class T, class Make, class Share> HANDLE CreateNamed(LPCWSTR name, Make make, Share makeShared) {
    if (!name || !*name) {
        SetLastError(ERROR_SUCCESS);
        return InsertHandle(make());
    }
    const std::u16string normal = NormalName(name);
    Names& names = GetNames();
    std::lock_guard lock(names.mutex);
    if (auto it = names.objects.find(normal); it != names.objects.end()) {
        if (auto existing = it->second.lock()) {
            auto typed = std::dynamic_pointer_cast<T>(existing);
            if (!typed) {
                SetLastErrorInvalidHandle();
                return nullptr;
            }
            HANDLE h = InsertHandle(typed);
            SetLastError(ERROR_ALREADY_EXISTS);
            return h;
        }
    }
    std::shared_ptr<T> object = make();
    bool existedElsewhere = false;
    if (!makeShared(*object, normal, existedElsewhere))
        return nullptr;
    object->SetName(normal);
    names.objects[normal] = object;
    HANDLE h = InsertHandle(object);
    SetLastError(existedElsewhere ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

struct NoShare {
    template <class T> bool operator()(T&, const std::u16string&, bool&) const { return true; }
};

template <class T> HANDLE OpenNamed(LPCWSTR name) {
    if (!name) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::u16string normal = NormalName(name);
    Names& names = GetNames();
    std::lock_guard lock(names.mutex);
    auto it = names.objects.find(normal);
    std::shared_ptr<KernelObject> existing = it == names.objects.end() ? nullptr : it->second.lock();
    if (!existing) {
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    auto typed = std::dynamic_pointer_cast<T>(existing);
    if (!typed) {
        SetLastErrorInvalidHandle();
        return nullptr;
    }
    return InsertHandle(typed);
}

// Opens a name that only another process may have: the shared state decides.
template <class T, class Make> HANDLE OpenShared(LPCWSTR name, SharedState::Kind kind, Make makeFromRecord) {
    if (HANDLE h = OpenNamed<T>(name))
        return h;
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return nullptr;
    const std::u16string normal = NormalName(name);
    Names& names = GetNames();
    std::lock_guard lock(names.mutex);
    bool created = false;
    auto shared = SharedState::Open(normal, kind, SharedRecord{}, true, created);
    if (!shared)
        return nullptr;
    shared->Lock();
    std::shared_ptr<T> object = makeFromRecord(shared->Record());
    shared->Unlock();
    object->SetShared(std::move(shared));
    object->SetName(normal);
    names.objects[normal] = object;
    return InsertHandle(object);
}

// Attaches cross-process state to a new named event or semaphore.
template <class T> struct ShareAs {
    SharedState::Kind kind;
    SharedRecord initial;
    bool operator()(T& object, const std::u16string& name, bool& existedElsewhere) const {
        bool created = false;
        auto shared = SharedState::Open(name, kind, initial, false, created);
        if (!shared)
            return false;
        existedElsewhere = !created;
        object.SetShared(std::move(shared));
        return true;
    }
};

} // namespace

void AbandonMutexesOf(ThreadState& thread) {
    for (const auto& weak : thread.ownedMutexes) {
        auto object = std::static_pointer_cast<MutexObject>(weak.lock());
        if (!object || object->owner != thread.id)
            continue;
        object->owner = 0;
        object->recursion = 0;
        object->abandoned = true;
        object->WakeWaiters();
    }
    thread.ownedMutexes.clear();
}

} // namespace platform

using namespace platform;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    SharedRecord initial{};
    initial.manualReset = manualReset ? 1 : 0;
    initial.signaled = initialState ? 1 : 0;
    return CreateNamed<EventObject>(
        name, [&] { return std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE); },
        ShareAs<EventObject>{SharedState::Kind::Event, initial});
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
    return OpenShared<EventObject>(name, SharedState::Kind::Event, [](const SharedRecord& r) {
        return std::make_shared<EventObject>(r.manualReset != 0, r.signaled != 0);
    });
}

namespace {
std::shared_ptr<EventObject> EventOf(HANDLE handle) {
    return LookupHandleAs<EventObject>(handle);
}
} // namespace

BOOL SetEvent(HANDLE event) {
    auto object = EventOf(event);
    if (!object)
        return FALSE;
    WaitLock lock;
    SharedScope shared(*object);
    object->SetSignaled(true);
    object->WakeWaiters();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = EventOf(event);
    if (!object)
        return FALSE;
    WaitLock lock;
    SharedScope shared(*object);
    object->SetSignaled(false);
    return TRUE;
}

BOOL PulseEvent(HANDLE event) {
    auto object = EventOf(event);
    if (!object)
        return FALSE;
    // Releases the threads waiting at this moment (one for an auto-reset event) and leaves the event reset.
    WaitLock lock;
    SharedScope shared(*object);
    const std::vector<Waiter*> waiters = object->Waiters();
    if (object->ManualReset()) {
        for (Waiter* waiter : waiters)
            waiter->GrantPulse(object.get());
    } else if (!waiters.empty()) {
        waiters.front()->GrantPulse(object.get());
    }
    object->SetSignaled(false);
    return TRUE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    bool createdHere = false;
    HANDLE h = CreateNamed<MutexObject>(
        name,
        [&] {
            createdHere = true;
            return std::make_shared<MutexObject>();
        },
        NoShare{});
    // Only a new mutex is owned by its creator; opening an existing one never takes it.
    if (h && createdHere && initialOwner) {
        const DWORD error = GetLastError();
        auto object = LookupHandleAs<MutexObject>(h);
        WaitLock lock;
        object->Acquire();
        SetLastError(error);
    }
    return h;
}

HANDLE OpenMutexW(DWORD, BOOL, LPCWSTR name) {
    return OpenNamed<MutexObject>(name);
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto object = LookupHandleAs<MutexObject>(mutex);
    if (!object)
        return FALSE;
    const DWORD self = GetCurrentThreadId();
    WaitLock lock;
    if (object->owner != self) {
        Fail(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--object->recursion == 0) {
        object->owner = 0;
        auto& owned = CurrentThreadState().ownedMutexes;
        owned.erase(std::remove_if(owned.begin(), owned.end(),
                                   [&](const std::weak_ptr<KernelObject>& w) {
                                       auto p = w.lock();
                                       return !p || p.get() == object.get();
                                   }),
                    owned.end());
        object->WakeWaiters();
    }
    return TRUE;
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCWSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SharedRecord initial{};
    initial.count = initialCount;
    initial.maximum = maximumCount;
    return CreateNamed<SemaphoreObject>(
        name, [&] { return std::make_shared<SemaphoreObject>(initialCount, maximumCount); },
        ShareAs<SemaphoreObject>{SharedState::Kind::Semaphore, initial});
}

HANDLE OpenSemaphoreW(DWORD, BOOL, LPCWSTR name) {
    return OpenShared<SemaphoreObject>(name, SharedState::Kind::Semaphore, [](const SharedRecord& r) {
        return std::make_shared<SemaphoreObject>(r.count, r.maximum);
    });
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount) {
    auto object = LookupHandleAs<SemaphoreObject>(semaphore);
    if (!object)
        return FALSE;
    if (releaseCount <= 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WaitLock lock;
    SharedScope shared(*object);
    const LONG count = object->Count();
    if (releaseCount > object->Maximum() - count) {
        Fail(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previousCount)
        *previousCount = count;
    object->SetCount(count + releaseCount);
    object->WakeWaiters();
    return TRUE;
}

namespace {

// What a CRITICAL_SECTION's impl points to. The owner and recursion fields of the record itself are kept up to
// date for code that looks at them, as on Windows.
struct CriticalSectionImpl {
    std::mutex mutex;
};

DWORD Owner(LPCRITICAL_SECTION cs) {
    return __atomic_load_n(&cs->OwningThread, __ATOMIC_ACQUIRE);
}

} // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    // The record owns the impl until DeleteCriticalSection, as the Windows record owns its kernel parts.
    cs->impl = std::make_unique<CriticalSectionImpl>().release();
    cs->RecursionCount = 0;
    cs->OwningThread = 0;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
    InitializeCriticalSection(cs);
    return TRUE;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    std::unique_ptr<CriticalSectionImpl> impl(static_cast<CriticalSectionImpl*>(cs->impl));
    cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    const DWORD self = GetCurrentThreadId();
    if (Owner(cs) == self) {
        ++cs->RecursionCount;
        return;
    }
    static_cast<CriticalSectionImpl*>(cs->impl)->mutex.lock();
    __atomic_store_n(&cs->OwningThread, self, __ATOMIC_RELEASE);
    cs->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    const DWORD self = GetCurrentThreadId();
    if (Owner(cs) == self) {
        ++cs->RecursionCount;
        return TRUE;
    }
    if (!static_cast<CriticalSectionImpl*>(cs->impl)->mutex.try_lock())
        return FALSE;
    __atomic_store_n(&cs->OwningThread, self, __ATOMIC_RELEASE);
    cs->RecursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    // Leaving a section the thread does not own is a programming error; it must not unlock another's section.
    if (Owner(cs) != GetCurrentThreadId())
        return;
    if (--cs->RecursionCount > 0)
        return;
    __atomic_store_n(&cs->OwningThread, 0u, __ATOMIC_RELEASE);
    static_cast<CriticalSectionImpl*>(cs->impl)->mutex.unlock();
}

LONG InterlockedIncrement(LONG volatile* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

PVOID InterlockedCompareExchangePointer(PVOID volatile* target, PVOID exchange, PVOID comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
