// Private: the request channel in the memory a program shares with its connection to the kernel host.
//
// Reads and writes of a device handle do not travel through the socket: the program writes the request into the
// control block at the start of the shared memory and the host answers there, each side watching the other's
// sequence number for a short while before it sleeps. A sleeping host is woken by a one-way `Ring` message on
// the socket (the host never answers it); a sleeping program by a futex wake on the reply's sequence number. So a
// stream of requests costs no system call for its hand-offs, and an idle connection costs no processor time.
//
// The data of a request lives after the control block. The host reads the request's fields once, into its own
// variables, and checks them against the size it mapped: a program cannot make it reach outside the memory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/kernel/watch.h"

namespace platform::kernel::channel {

// Bytes before the data: the control block, on a page of its own.
constexpr uint64_t kControlBytes = 4096;

enum Operation : uint32_t {
    kRead = 1,
    kWrite = 2,
};

struct alignas(64) Control {
    // Written by the program; `posted` last (the sequence of the newest request).
    alignas(64) std::atomic<uint32_t> posted;
    uint32_t operation;
    uint32_t length;
    uint32_t hasOffset;
    uint64_t offset;
    // Written by the host; `done` last (the sequence of the newest request answered).
    alignas(64) std::atomic<uint32_t> done;
    int32_t status;
    uint32_t count;
    // Set by the host before it goes back to waiting on the socket: whoever clears it owes the host a `Ring`.
    alignas(64) std::atomic<uint32_t> hostSleeping;
    // Set by the program before it sleeps on `done`: the host then wakes it after answering.
    alignas(64) std::atomic<uint32_t> clientSleeping;
};
static_assert(sizeof(Control) <= kControlBytes);
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// How long a side watches for the other before sleeping. A request through a disk driver takes tens of
// microseconds; watching costs no system call, so the next request of a stream is seen at once.
constexpr auto kWatch = std::chrono::microseconds(60);

// Watches `word` until it differs from `value` or the watch time ends; true when it changed.
inline bool WatchFor(const std::atomic<uint32_t>& word, uint32_t value,
                     std::chrono::microseconds watch = kWatch) {
    return WatchUntil([&] { return word.load(std::memory_order_acquire) != value; }, watch);
}

// Sleeps while `word` holds `value`, at most `timeout`. The word lives in memory shared between processes, so the
// futex is not a private one.
inline void Sleep(std::atomic<uint32_t>& word, uint32_t value, std::chrono::milliseconds timeout) {
    timespec wait{static_cast<time_t>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000) * 1000000};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, value, &wait, nullptr, 0);
}

inline void Wake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

} // namespace platform::kernel::channel
