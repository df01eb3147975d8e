#include "platform/testing/eventually.h"

#include "platform/base/handle.h"
#include "platform/base/sync.h"

#include <thread>

namespace testsupport {

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

size_t WaitersOf(HANDLE handle) {
    const platform::KernelObjectPtr object = platform::LookupHandle(handle);
    if (!object)
        return 0;
    platform::WaitLock lock;
    return object->Waiters().size();
}

} // namespace testsupport
