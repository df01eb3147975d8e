// Waiting in tests for something that nothing signals.
#pragma once

#include "platform/base/types.h"

#include <chrono>
#include <cstddef>
#include <functional>

namespace testsupport {

// Asks `condition` again every millisecond until it holds; false when `limit` passes first, so that a test fails
// instead of hanging. Meant for states nothing announces (a thread that reached its wait, a file another process
// wrote); a test that has an event or the layer's clock to wait on waits on those instead, and a test that shows
// that something did not happen never uses this.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));

// The number of threads waiting on the object behind `handle` right now (0 for a handle that names nothing). A
// test that started a thread waits with Eventually until the thread has reached its wait, and only then moves the
// clock or signals what the thread waits for.
size_t WaitersOf(HANDLE handle);

} // namespace testsupport
