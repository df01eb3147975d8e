// I/O completion ports.
//
// Stands in for CreateIoCompletionPort, GetQueuedCompletionStatus and PostQueuedCompletionStatus. The same as
// Windows: a port is a queue of completion packets (byte count, completion key, OVERLAPPED pointer, status); a
// handle associated with a port sends the completions of its overlapped operations there with the key given at
// association; GetQueuedCompletionStatus returns FALSE with a null OVERLAPPED for a time-out (WAIT_TIMEOUT) or
// a port closed under the waiting thread (ERROR_ABANDONED_WAIT_0), and FALSE with the OVERLAPPED for a failed
// operation, the operation's error being the last error. Time-outs run on the layer clock. Differs: the
// concurrency value is accepted and not used, every waiting thread may take a packet.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/types.h"

#include <memory>

using PULONG_PTR = ULONG_PTR*;

constexpr DWORD ERROR_ABANDONED_WAIT_0 = 735;

HANDLE CreateIoCompletionPort(HANDLE fileHandle, HANDLE existingCompletionPort, ULONG_PTR completionKey,
                              DWORD numberOfConcurrentThreads);
BOOL GetQueuedCompletionStatus(HANDLE completionPort, LPDWORD numberOfBytes, PULONG_PTR completionKey,
                               LPOVERLAPPED* overlapped, DWORD milliseconds);
BOOL PostQueuedCompletionStatus(HANDLE completionPort, DWORD numberOfBytes, ULONG_PTR completionKey,
                                LPOVERLAPPED overlapped);

namespace platform {

// For I/O layers: ends an overlapped operation on `object` as Windows does. Stores `error` and `bytes` in the
// OVERLAPPED (Internal, InternalHigh), sets its event when it has one, and queues a packet to the port the
// object is associated with, unless the event handle's low bit asks for no packet.
void CompleteOverlappedIo(const KernelObject& object, LPOVERLAPPED overlapped, DWORD error, DWORD bytes);

// True when `object` is associated with a completion port.
bool HasCompletionPort(const KernelObject& object);

// Where the completions of one object go, captured when an operation starts, so that an operation that ends
// after its object has gone still reaches the port (which the route keeps alive, as a pending operation does on
// Windows). An empty route sends no packet.
struct CompletionRoute {
    std::shared_ptr<KernelObject> port;
    ULONG_PTR key = 0;
};
CompletionRoute CompletionRouteOf(const KernelObject& object);
void CompleteOverlappedIo(const CompletionRoute& route, LPOVERLAPPED overlapped, DWORD error, DWORD bytes);

} // namespace platform
