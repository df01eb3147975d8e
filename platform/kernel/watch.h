// Private: watching a word of memory for a short while before sleeping on it.
//
// A hand-off between threads (a request queued to a worker, its completion, a channel's answer) usually takes a
// few tens of microseconds; watching for that long costs no system call and spares the scheduler's round trips.
// Each round of looks ends by giving the processor to whatever else is ready to run: a request passes through
// three threads (the program's, the connection's and the driver's worker), and where they share fewer processors
// than that (a crowded machine, or a program held to two processors), a watcher that kept its processor would
// hold up the very thread it waits for. Where a processor is free, giving it away costs no more than a system
// call.
#pragma once

#include "platform/base/types.h"

#include <chrono>

#include <sched.h>

namespace platform::kernel {

// Looks at `done` until it holds or `watch` has passed; returns its last answer.
template <class Done>
bool WatchUntil(Done done, std::chrono::microseconds watch) {
    if (done())
        return true;
    const auto end = std::chrono::steady_clock::now() + watch;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            YieldProcessor();
            if (done())
                return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return done();
        sched_yield();
    }
}

} // namespace platform::kernel
