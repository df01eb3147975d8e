// The window table: the layer's state, window handles and their lookup.

#include "platform/ui/window.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/ui/broker.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window_internal.h"

#include <unistd.h>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

State& GetState() {
    // Never destroyed: threads that outlive main (and the broker's listener) may still use it at exit.
    static State* state = new State;
    return *state;
}

DWORD CurrentProcessId() {
    static const DWORD pid = static_cast<DWORD>(getpid());
    return pid;
}

uint64_t NowMs() {
    return clock::MonotonicMs();
}

uintptr_t Key(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

HWND DesktopHandle() {
    return reinterpret_cast<HWND>(kDesktopHandle);
}

bool IsDesktop(HWND hwnd) {
    return Key(hwnd) == kDesktopHandle;
}

// Sends through the message layer (direct call on the window's thread, cross-thread send otherwise).
LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(hwnd, msg, wParam, lParam);
}

void Publish(const WindowPtr& w) {
    if (!w)
        return;
    // The display shows the change, and the broker tells the other processes of top-level windows.
    NoteWindowChange(w->hwnd);
    if (IsPublishable(*w))
        broker::PublishChanged();
}

WindowPtr FindWindowLocked(HWND hwnd) {
    auto& s = GetState();
    auto it = s.windows.find(Key(hwnd));
    if (it == s.windows.end() || it->second->phase == Window::Phase::Gone)
        return nullptr;
    return it->second;
}

WindowPtr FindLiveWindow(HWND hwnd) {
    std::lock_guard lock(GetState().mutex);
    return FindWindowLocked(hwnd);
}

WindowPtr ValidWindow(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

bool IsPublishable(const Window& w) {
    return !w.parent && !w.messageOnly;
}

bool IsRemoteWindow(HWND hwnd) {
    const uint64_t value = static_cast<uint64_t>(Key(hwnd));
    const uint64_t pid = value >> 32;
    return pid != 0 && pid != 0xFFFFFFFFu && pid != CurrentProcessId();
}

} // namespace platform::ui

BOOL IsWindow(HWND hwnd) {
    if (!hwnd)
        return FALSE;
    if (IsDesktop(hwnd))
        return TRUE;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) ? TRUE : FALSE;
    }
    return FindLiveWindow(hwnd) ? TRUE : FALSE;
}
