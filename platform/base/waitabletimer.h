// Waitable timers.
//
// Stands in for CreateWaitableTimerW, SetWaitableTimer and CancelWaitableTimer. The same as Windows: a due time
// above zero is an absolute UTC time in FILETIME units, below zero a time relative to now in 100-ns units; a
// period in milliseconds re-arms the timer after each expiry; a manual-reset timer stays signalled until it is
// set again, a synchronization timer releases one waiter; the completion routine is queued as an APC to the
// thread that set the timer and runs in that thread's next alertable wait (SleepEx, the *Ex waits), with the
// expiry time as its two time arguments. Setting a timer again or cancelling it disarms it without touching
// queued routines; closing its last handle disarms it. A name opens an existing timer of the same name
// (ERROR_ALREADY_EXISTS). Differs: timers run on the layer clock, so a test that drives the clock by hand
// sees a timer fire as the clock passes its due time; the resume flag is accepted and has no effect; timer
// names live in a namespace of their own, private to the process.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/types.h"

using PTIMERAPCROUTINE = void (*)(LPVOID argument, DWORD timerLowValue, DWORD timerHighValue);

constexpr DWORD TIMER_ALL_ACCESS = 0x1F0003;
constexpr DWORD TIMER_MODIFY_STATE = 0x0002;

HANDLE CreateWaitableTimerW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, LPCWSTR timerName);
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* dueTime, LONG period, PTIMERAPCROUTINE completionRoutine,
                      LPVOID argument, BOOL resume);
BOOL CancelWaitableTimer(HANDLE timer);
