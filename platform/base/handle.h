// Kernel-object handles: one table for files, events, mutexes, semaphores, threads, processes, timers,
// completion ports and whatever later layers add.
//
// As on Windows, a HANDLE names a reference to an object; CloseHandle drops the reference and the object
// lives while any handle or internal reference holds it. Handle values are small multiples of four, never
// null and never INVALID_HANDLE_VALUE. Every object can be waited on when it says so (IsWaitable); the wait
// machinery lives in sync.h and works the same for every kind of object.
#pragma once

#include "platform/base/types.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class Waiter;

// Base of every object a HANDLE can name. Subclasses (in this and later layers) override what applies.
class KernelObject : public std::enable_shared_from_this<KernelObject> {
public:
    // Defined out of line: the waiter list is private to the layer.
    KernelObject();
    virtual ~KernelObject();

    // Short type name for diagnostics ("Event", "File", ...).
    virtual const char* TypeName() const = 0;

    // Waitable objects: IsSignaled is asked under the global wait lock (sync.h); Acquire is called, under the
    // same lock, when a wait is satisfied by this object (auto-reset events reset, semaphores count down,
    // mutexes take ownership). Acquire returns WAIT_ABANDONED for an abandoned mutex, else WAIT_OBJECT_0.
    virtual bool IsWaitable() const { return false; }
    virtual bool IsSignaled() const { return false; }
    virtual DWORD Acquire() { return WAIT_OBJECT_0; }

    // Called when the last HANDLE naming this object is closed (internal references may keep it alive).
    virtual void OnLastHandleClosed() {}

    // Name in the object namespace, empty for unnamed objects.
    const std::u16string& Name() const { return m_name; }
    void SetName(std::u16string name) { m_name = std::move(name); }

    // Waiters registered on this object; maintained by the wait machinery under the wait lock.
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);
    // Wakes every waiter so that it re-evaluates; call with the wait lock held after a state change.
    void WakeWaiters();
    // The waiters registered right now, in the order they started waiting (wait lock held). PulseEvent uses it to
    // release exactly the threads that wait at the moment of the pulse.
    std::vector<Waiter*> Waiters() const;

private:
    std::u16string m_name;
    struct WaiterList;
    std::unique_ptr<WaiterList> m_waiters;
};

using KernelObjectPtr = std::shared_ptr<KernelObject>;

// Adds a handle for `object` and returns it; never fails short of memory exhaustion.
HANDLE InsertHandle(KernelObjectPtr object);

// Looks a handle up. Null, INVALID_HANDLE_VALUE and closed handles give null.
KernelObjectPtr LookupHandle(HANDLE handle);

void SetLastErrorInvalidHandle();

// Looks a handle up and checks its type. Sets ERROR_INVALID_HANDLE and returns null on a mismatch.
template <class T> std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object)
        SetLastErrorInvalidHandle();
    return object;
}

// Pseudo-handles of GetCurrentProcess and GetCurrentThread.
constexpr intptr_t kCurrentProcessPseudoHandle = -1;
constexpr intptr_t kCurrentThreadPseudoHandle = -2;

} // namespace platform

BOOL CloseHandle(HANDLE handle);
constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x1;
constexpr DWORD DUPLICATE_SAME_ACCESS = 0x2;
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target, DWORD access,
                     BOOL inherit, DWORD options);
