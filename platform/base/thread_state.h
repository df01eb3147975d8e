// Per-thread state of the wait machinery, private to the base layer.
//
// Every thread that touches the layer gets one, created on first use (threads the layer did not start included),
// with a small unique id, its Waiter, its queue of user APCs and the mutexes it owns. It lives as long as the
// thread or any handle to the thread.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/sync.h"
#include "platform/base/waiter.h"

#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

struct ThreadState {
    DWORD id = 0;
    Waiter waiter;
    // The fields below are guarded by the wait lock.
    std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs;
    bool wakeRequested = false;
    std::vector<std::weak_ptr<KernelObject>> ownedMutexes;
    bool ended = false;
};

// The calling thread's state and its kernel object (the target of the GetCurrentThread pseudo-handle).
ThreadState& CurrentThreadState();
KernelObjectPtr CurrentThreadObject();
// The state of a live thread by id (wait lock held), or null.
ThreadState* FindThreadState(DWORD threadId);

// Marks every mutex the thread still owns as abandoned and wakes its waiters (wait lock held). Called when the
// thread ends.
void AbandonMutexesOf(ThreadState& thread);

} // namespace platform
