// Timers: window timers (SetTimer, WM_TIMER) and the multimedia timer (timeSetEvent).
//
// Stands in for the timer parts of USER and WINMM. The same as Windows: a window timer belongs to the thread of
// its window (or to the calling thread when no window is given, with an id chosen by the layer); when it falls due
// the thread's queue delivers one WM_TIMER (lParam the TIMERPROC, if any, which DispatchMessageW then calls instead
// of the window procedure), and only when nothing else is waiting in the queue; a timer that fell due several
// times before the thread asked for messages still yields one WM_TIMER. SetTimer with an id that exists for the
// window restarts that timer. A multimedia timer calls its callback on the layer's timer thread (or sets or
// pulses an event with TIME_CALLBACK_EVENT_SET / TIME_CALLBACK_EVENT_PULSE), once or periodically.
//
// Where it differs: timers run on the layer clock (platform/base/clock.h). With the manual clock of a test,
// nothing falls due until the test advances the clock; a periodic multimedia timer that missed several periods
// in one step of the clock fires once for them. timeKillEvent waits for a callback that is running on the timer
// thread to return (unless called from that callback), so the callback's data may be freed right afterwards.
#pragma once

#include "platform/base/types.h"

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Returns the timer id (the given id for a window timer, a new non-zero id without a window), 0 on failure.
// Elapse values below 10 ms are raised to 10 ms, as on Windows.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse, TIMERPROC timerProc);
// Removes the timer and any WM_TIMER of it still waiting. FALSE with ERROR_INVALID_WINDOW_HANDLE for a bad window,
// ERROR_TIMER_NOT_FOUND for an unknown id.
BOOL KillTimer(HWND hwnd, UINT_PTR idEvent);

using MMRESULT = UINT;
using LPTIMECALLBACK = void (*)(UINT timerId, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2);
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;
constexpr UINT TIME_CALLBACK_EVENT_SET = 0x0010;
constexpr UINT TIME_CALLBACK_EVENT_PULSE = 0x0020;
constexpr UINT TIME_KILL_SYNCHRONOUS = 0x0100;

// Returns the timer id, or 0 when the delay is 0 or the callback is missing.
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT event);
// TIMERR_NOERROR, or MMSYSERR_INVALPARAM for an unknown id.
MMRESULT timeKillEvent(UINT timerId);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
