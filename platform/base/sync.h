// Events, mutexes, semaphores, critical sections, interlocked operations and the waits on kernel objects.
//
// Waits behave as on Windows: WaitForMultipleObjects with bWaitAll takes all objects at once or none, an
// auto-reset event wakes exactly one waiter, a mutex is recursive and owned by a thread and is reported
// abandoned (WAIT_ABANDONED) to the next owner when its owner thread ends, a semaphore never exceeds its
// maximum (ERROR_TOO_MANY_POSTS). Timeouts are measured on the layer clock (clock.h): when a test drives the
// clock by hand, a timed wait times out once the clock has been advanced past its deadline.
// Named objects: a name that already exists opens the existing object and sets ERROR_ALREADY_EXISTS (a name
// held by an object of another type fails with ERROR_INVALID_HANDLE). Named semaphores and events are visible
// to other processes of the same machine folder (machine.h); a process that dies leaves no stale name behind.
// Alertable waits (the *Ex forms) run queued APCs (QueueUserAPC, waitable-timer completion routines) and then
// return WAIT_IO_COMPLETION.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/types.h"

#include <functional>

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL PulseEvent(HANDLE event);

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
HANDLE OpenMutexW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount, LPCWSTR name);
HANDLE OpenSemaphoreW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount);

constexpr DWORD EVENT_ALL_ACCESS = 0x1F0003;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;
constexpr DWORD SEMAPHORE_ALL_ACCESS = 0x1F0003;
constexpr DWORD SEMAPHORE_MODIFY_STATE = 0x0002;

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, BOOL alertable);
DWORD SleepEx(DWORD milliseconds, BOOL alertable);

using PAPCFUNC = void (*)(ULONG_PTR);
DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR data);

struct CRITICAL_SECTION {
    void* impl; // owned by the layer; InitializeCriticalSection allocates, DeleteCriticalSection frees
    LONG RecursionCount;
    DWORD OwningThread;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedExchangeAdd(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value);
PVOID InterlockedCompareExchangePointer(PVOID volatile* target, PVOID exchange, PVOID comparand);

namespace platform {

// The wait machinery for later layers (message queues, completion ports, timers, processes).
//
// A Waiter sleeps until one of its objects is signalled, an extra wake condition holds, its deadline on the
// layer clock passes, or (alertable) an APC is queued to its thread. All of this happens under one global
// wait lock so that multi-object waits are atomic.
struct WaitOptions {
    bool waitAll = false;
    bool alertable = false;
    // Extra condition, evaluated under the wait lock; when it holds the wait returns WAIT_OBJECT_0 + count
    // (MsgWaitForMultipleObjects uses it for "input in the queue").
    std::function<bool()> extraReady;
    // Called without the wait lock while the thread waits, each time it is woken with WakeThread (the window
    // layer serves sent messages here). May be empty.
    std::function<void()> onWake;
};
DWORD WaitForObjects(DWORD count, const HANDLE* handles, DWORD milliseconds, const WaitOptions& options);

// Locks the global wait lock for a state change of an object; call object->WakeWaiters() before unlocking.
class WaitLock {
public:
    WaitLock();
    ~WaitLock();
    WaitLock(const WaitLock&) = delete;
    WaitLock& operator=(const WaitLock&) = delete;
};

// Wakes a thread that waits in WaitForObjects so that it re-evaluates its extra condition and runs onWake.
void WakeThread(DWORD threadId);

} // namespace platform
