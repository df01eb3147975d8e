// A format library for the tests, loaded in place of the system's: its FormatEx behaves as the test sets it.
//   mode 1: reports 50 percent and returns without saying how it ended;
//   mode 2: reports 10 percent, waits until the test releases it, then reports progress until told to stop.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace {

using Callback = unsigned char (*)(int32_t command, uint32_t subAction, void* actionInfo);
constexpr int32_t kProgress = 0;

std::mutex g_lock;
std::condition_variable g_changed;
int g_mode = 1;
bool g_released = false;

} // namespace

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

STUB_EXPORT void StubSetMode(int mode) {
    std::lock_guard lock(g_lock);
    g_mode = mode;
    g_released = false;
}

STUB_EXPORT void StubRelease() {
    std::lock_guard lock(g_lock);
    g_released = true;
    g_changed.notify_all();
}

STUB_EXPORT void FormatEx(char16_t*, uint32_t, char16_t*, char16_t*, int, uint32_t, Callback callback) {
    int mode;
    {
        std::lock_guard lock(g_lock);
        mode = g_mode;
    }
    uint32_t percent = mode == 1 ? 50 : 10;
    if (!callback(kProgress, 0, &percent) || mode == 1)
        return;
    {
        std::unique_lock lock(g_lock);
        g_changed.wait(lock, [] { return g_released; });
    }
    for (percent = 20; percent < 100; ++percent) {
        if (!callback(kProgress, 0, &percent))
            return;
    }
}

STUB_EXPORT unsigned char EnableVolumeCompression(char16_t*, int) {
    return 0;
}

STUB_EXPORT void ChkdskEx(char16_t*, char16_t*, int, int, int, int, void*, void*, Callback) {}
