#include "platform/base/thread.h"

#include "platform/base/errors.h"
#include "platform/base/thread_state.h"

#include <cxxabi.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <thread>

namespace platform {

namespace {

class ThreadObject : public KernelObject {
public:
    ThreadObject() : m_state(std::make_shared<ThreadState>()) {}
    const char* TypeName() const override { return "Thread"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return m_state->ended; }

    ThreadState& State() { return *m_state; }
    // Guarded by the wait lock.
    DWORD exitCode = STILL_ACTIVE;
    DWORD suspendCount = 0;
    int priority = THREAD_PRIORITY_NORMAL;
    pid_t hostTid = 0;

private:
    std::shared_ptr<ThreadState> m_state;
};

std::atomic<DWORD> g_nextThreadId{1};

// Live threads by id (wait lock held).
std::map<DWORD, ThreadState*>& Registry() {
    static auto* registry = new std::map<DWORD, ThreadState*>;
    return *registry;
}

std::shared_ptr<ThreadObject> NewThreadObject() {
    auto object = std::make_shared<ThreadObject>();
    object->State().id = g_nextThreadId.fetch_add(1);
    std::lock_guard lock(WaitMutex());
    Registry()[object->State().id] = &object->State();
    return object;
}

// Ends a thread in the eyes of the layer: its mutexes are abandoned, its handle becomes signalled, its exit code
// readable. Runs once per thread, whichever comes first: the end of a routine started by the layer, or the host
// thread's exit for threads the layer did not start.
void FinishThread(ThreadObject& object, DWORD exitCode) {
    std::lock_guard lock(WaitMutex());
    ThreadState& state = object.State();
    if (state.ended)
        return;
    AbandonMutexesOf(state);
    object.exitCode = exitCode;
    state.ended = true;
    state.apcs.clear();
    Registry().erase(state.id);
    object.WakeWaiters();
}

// The calling thread's object, made on first use; its destructor runs when the host thread exits.
struct CurrentThread {
    std::shared_ptr<ThreadObject> object;
    ~CurrentThread() {
        if (object)
            FinishThread(*object, 0);
    }
};
thread_local CurrentThread t_current;
thread_local bool t_startedByLayer = false;

ThreadObject& Current() {
    if (!t_current.object) {
        t_current.object = NewThreadObject();
        t_current.object->hostTid = static_cast<pid_t>(syscall(SYS_gettid));
    }
    return *t_current.object;
}

// Thrown by ExitThread inside a thread the layer started, and caught by its start routine.
struct ThreadExit {
    DWORD code;
};

struct StartInfo {
    std::shared_ptr<ThreadObject> object;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

void* ThreadMain(void* raw) {
    std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(raw));
    t_current.object = info->object;
    t_startedByLayer = true;
    ThreadObject& object = *info->object;
    {
        std::unique_lock lock(WaitMutex());
        object.hostTid = static_cast<pid_t>(syscall(SYS_gettid));
        // A thread created suspended waits here until ResumeThread brings its count to zero.
        while (object.suspendCount > 0) {
            object.State().waiter.TakeWoken();
            object.State().waiter.Sleep(lock, -1);
        }
    }
    DWORD exitCode = 0;
    try {
        exitCode = info->routine(info->parameter);
    } catch (const ThreadExit& exit) {
        exitCode = exit.code;
    } catch (abi::__forced_unwind&) {
        // pthread_exit or cancellation: let the host finish its unwinding; t_current ends the thread.
        throw;
    } catch (...) {
        exitCode = ERROR_UNHANDLED_EXCEPTION;
    }
    FinishThread(object, exitCode);
    return nullptr;
}

std::shared_ptr<ThreadObject> ThreadOf(HANDLE handle) {
    return LookupHandleAs<ThreadObject>(handle);
}

} // namespace

ThreadState& CurrentThreadState() {
    return Current().State();
}

KernelObjectPtr CurrentThreadObject() {
    Current();
    return t_current.object;
}

ThreadState* FindThreadState(DWORD threadId) {
    auto it = Registry().find(threadId);
    return it == Registry().end() ? nullptr : it->second;
}

} // namespace platform

using platform::ThreadObject;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    if (!start) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = platform::NewThreadObject();
    object->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    // A Windows stack size is a minimum; the host's default is larger than what Windows programs ask for.
    size_t defaultSize = 0;
    pthread_attr_getstacksize(&attr, &defaultSize);
    if (stackSize > defaultSize)
        pthread_attr_setstacksize(&attr, stackSize);

    auto info = std::make_unique<platform::StartInfo>(platform::StartInfo{object, start, parameter});
    pthread_t thread;
    const int err = pthread_create(&thread, &attr, &platform::ThreadMain, info.get());
    pthread_attr_destroy(&attr);
    if (err != 0) {
        {
            std::lock_guard lock(platform::WaitMutex());
            platform::Registry().erase(object->State().id);
        }
        platform::FailErrno(err);
        return nullptr;
    }
    info.release(); // the new thread owns it now
    if (threadId)
        *threadId = object->State().id;
    return platform::InsertHandle(object);
}

namespace {
struct BeginThreadArgs {
    unsigned (*start)(void*);
    void* argument;
};

DWORD BeginThreadTrampoline(LPVOID raw) {
    const std::unique_ptr<BeginThreadArgs> args(static_cast<BeginThreadArgs*>(raw));
    const auto start = args->start;
    void* argument = args->argument;
    return start(argument);
}
} // namespace

uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlags, unsigned* threadId) {
    if (!start) {
        errno = EINVAL;
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto args = std::make_unique<BeginThreadArgs>(BeginThreadArgs{start, argument});
    DWORD id = 0;
    HANDLE handle = CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, &BeginThreadTrampoline,
                                 args.get(), initFlags, &id);
    if (!handle) {
        errno = EAGAIN;
        return 0;
    }
    args.release(); // the trampoline owns it now
    if (threadId)
        *threadId = id;
    return reinterpret_cast<uintptr_t>(handle);
}

void _endthreadex(unsigned exitCode) {
    ExitThread(exitCode);
}

void ExitThread(DWORD exitCode) {
    // Inside a thread the layer started, unwind to its start routine so that destructors run. Any other thread
    // (the program's main thread, a host thread) is ended through the host after the layer has finished it.
    if (platform::t_startedByLayer)
        throw platform::ThreadExit{exitCode};
    platform::FinishThread(platform::Current(), exitCode);
    pthread_exit(nullptr);
}

DWORD ResumeThread(HANDLE thread) {
    auto object = platform::ThreadOf(thread);
    if (!object)
        return static_cast<DWORD>(-1);
    std::lock_guard lock(platform::WaitMutex());
    const DWORD previous = object->suspendCount;
    if (previous > 0 && --object->suspendCount == 0)
        object->State().waiter.Wake();
    return previous;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = platform::ThreadOf(thread);
    if (!object)
        return FALSE;
    if (!exitCode) {
        platform::Fail(ERROR_NOACCESS);
        return FALSE;
    }
    std::lock_guard lock(platform::WaitMutex());
    *exitCode = object->exitCode;
    return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD) {
    if (!platform::ThreadOf(thread))
        return FALSE;
    platform::Fail(ERROR_ACCESS_DENIED);
    return FALSE;
}

DWORD GetCurrentThreadId() {
    return platform::Current().State().id;
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(platform::kCurrentThreadPseudoHandle);
}

DWORD GetThreadId(HANDLE thread) {
    auto object = platform::ThreadOf(thread);
    return object ? object->State().id : 0;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    auto object = platform::ThreadOf(thread);
    if (!object)
        return FALSE;
    const bool known = (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
                       priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL;
    if (!known) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pid_t tid = 0;
    {
        std::lock_guard lock(platform::WaitMutex());
        object->priority = priority;
        tid = object->hostTid;
    }
    // An unprivileged host thread can only be made nicer, so lower priorities take effect and higher ones are
    // recorded (and reported back) without raising the host thread above its peers.
    if (tid != 0 && priority < THREAD_PRIORITY_NORMAL) {
        const int nice = priority == THREAD_PRIORITY_IDLE ? 19 : -priority * 5;
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    }
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    auto object = platform::ThreadOf(thread);
    if (!object)
        return 0x7FFFFFFF; // THREAD_PRIORITY_ERROR_RETURN
    std::lock_guard lock(platform::WaitMutex());
    return object->priority;
}

DWORD GetActiveProcessorCount(WORD) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<DWORD>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(platform::kCurrentProcessPseudoHandle);
}
