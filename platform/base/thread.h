// Threads and the C runtime thread start.
//
// Threads are real host threads. A thread handle is waitable and becomes signalled when the thread has ended;
// its exit code stays readable afterwards. Thread ids are small positive numbers unique within the process.
// A thread routine that throws ends its thread with exit code ERROR_UNHANDLED_EXCEPTION instead of taking
// down the process with it.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
constexpr DWORD CREATE_SUSPENDED = 0x4;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);
// Returns the thread handle as uintptr_t, or 0 on failure with errno set (and the last error).
uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlags, unsigned* threadId);
void _endthreadex(unsigned exitCode);
[[noreturn]] void ExitThread(DWORD exitCode);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// A host thread cannot be killed safely, so this reports failure honestly (FALSE, ERROR_ACCESS_DENIED);
// the system's threads all stop cooperatively.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();
DWORD GetThreadId(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_IDLE = -15;

// The processors this process may run on (its affinity; at least one): threads beyond them only take turns with
// one another. `groupNumber` is ALL_PROCESSOR_GROUPS (or 0: the host has one group).
constexpr WORD ALL_PROCESSOR_GROUPS = 0xffff;
DWORD GetActiveProcessorCount(WORD groupNumber);

DWORD GetCurrentProcessId();
HANDLE GetCurrentProcess();
