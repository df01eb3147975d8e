// Messages: the per-thread message queue, sending and posting, and the modal loop.
//
// Stands in for the message half of USER. The same as Windows: every thread that creates a window or asks for
// messages gets a queue; GetMessageW and PeekMessageW deliver, in this order, messages sent from other threads
// (served inside the call, never returned), posted messages, WM_QUIT once PostQuitMessage was called and nothing
// is posted any more, WM_PAINT for windows that need painting, and WM_TIMER for timers that are due (timer.h).
// SendMessageW to a window of the calling thread calls its procedure directly; to a window of another thread it
// queues the message and blocks until that thread has handled it, and while it blocks the calling thread serves
// the messages other threads send to it, so two threads that send to each other never deadlock. A thread serves
// sent messages whenever it waits for messages: GetMessageW, WaitMessage, a modal loop, a message box, its own
// SendMessageW, and PeekMessageW. Posting to a window of another process (broker.h) carries the integers of the
// message; sending to one blocks in the same way as across threads.
//
// Where it differs: there is no input hardware; mouse and key messages only arrive when someone posts or sends
// them. Time-outs (SendMessageTimeoutW, MsgWaitForMultipleObjects) are measured on the layer clock. When the
// deadlock guard is on (the environment variable WINLAYER_DEADLOCK_TIMEOUT_MS, or SetDeadlockTimeout, which test
// programs use), a SendMessageW or message wait that has been blocked for longer than that many milliseconds of
// real time reports itself on standard error, naming the threads and the message, and aborts the process instead
// of hanging it.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/winuser_constants.h"

#include <functional>

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using PMSG = MSG*;
using LPMSG = MSG*;

// Header of every WM_NOTIFY record.
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};
using LPNMHDR = NMHDR*;

// lParam of WM_COPYDATA (same process only: the data pointer is not carried to other processes).
struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};
using PCOPYDATASTRUCT = COPYDATASTRUCT*;

using PDWORD_PTR = DWORD_PTR*;
using SENDASYNCPROC = void (*)(HWND, UINT, ULONG_PTR, LRESULT);

// Returns 0 for WM_QUIT, -1 for an invalid window filter, else non-zero.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax);
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax, UINT removeMsg);
// Waits until something can be delivered to the calling thread (serving sent messages meanwhile).
BOOL WaitMessage();
// Keys of the display's keyboard make the characters its layout types; other key messages get a character for
// the letters, digits and control keys alone. Returns whether the message was a key message.
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
// Position and time of the last message retrieved by GetMessageW/PeekMessageW.
DWORD GetMessagePos();
LONG GetMessageTime();

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Fails with ERROR_INVALID_THREAD_ID when the thread has no message queue.
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Returns 0 with ERROR_TIMEOUT when the time-out passed (or, with SMTO_ABORTIFHUNG, when the receiving thread has
// not asked for messages for five seconds); *result receives the answer.
LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                            PDWORD_PTR result);
// Sends without waiting for the answer when the window belongs to another thread.
BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL SendMessageCallbackW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, SENDASYNCPROC callback, ULONG_PTR data);
// TRUE while the calling thread handles a message sent by another thread that has not been replied to.
BOOL InSendMessage();
DWORD InSendMessageEx(LPVOID reserved);
// Answers the message being handled so that the sender goes on; the later return value of the procedure is ignored.
BOOL ReplyMessage(LRESULT result);
// High word: kinds of messages in the queue; low word: kinds added since the last call.
DWORD GetQueueStatus(UINT flags);

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags);

// Message filter hook call (WH_MSGFILTER hooks of the calling thread).
BOOL CallMsgFilterW(LPMSG msg, int code);

// Modal-loop flags.
constexpr DWORD MLF_NOIDLEMSG = 0x0001;  // do not send WM_ENTERIDLE to the owner
constexpr DWORD MLF_NOKICKIDLE = 0x0002; // do not call the idle hook
constexpr DWORD MLF_SHOWONIDLE = 0x0004; // show the window the first time the queue runs empty

namespace platform::ui {

// A modal loop on the calling thread for `hwnd` (a dialog, a message box, a wizard, a program's main dialog).
struct ModalLoopOptions {
    DWORD flags = 0;
    // The framework's idle processing: called with 0, 1, 2, ... while the queue is empty; returning FALSE ends
    // idle processing until the next message arrives.
    std::function<BOOL(LONG idleCount)> onIdle;
    // The framework's message pre-translation (accelerators, dialog keys); TRUE means the message was handled and
    // is not dispatched.
    std::function<BOOL(MSG& msg)> preTranslate;
    // The owner is disabled for the loop's duration and enabled again afterwards (only when it was enabled).
    HWND disableOwner = nullptr;
    // WM_ENTERIDLE goes to this window with (MSGF_DIALOGBOX, hwnd); null means the window's owner.
    HWND idleNotify = nullptr;
};

// Runs messages until EndModalLoop is called for `hwnd`, the window is destroyed, or WM_QUIT arrives (which is
// posted again for the loop outside and makes the result -1). While the queue is empty it sends WM_ENTERIDLE to
// the owner and calls the idle hook. Returns the result given to EndModalLoop (-1 when the window went away).
INT_PTR RunModalLoop(HWND hwnd, const ModalLoopOptions& options);
// Ends the innermost modal loop running for `hwnd`; FALSE when none runs. May be called from the window's own
// thread only (other threads post a message to the window instead).
BOOL EndModalLoop(HWND hwnd, INT_PTR result);
bool IsInModalLoop(HWND hwnd);

// The deadlock guard (see the header comment). 0 turns it off.
void SetDeadlockTimeout(DWORD realMilliseconds);
DWORD DeadlockTimeout();

} // namespace platform::ui
