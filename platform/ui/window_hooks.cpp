// Thread hooks.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/ui/window_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {
namespace {

std::vector<HookEntry> HooksFor(int id) {
    State& s = GetState();
    const DWORD tid = GetCurrentThreadId();
    std::lock_guard lock(s.mutex);
    std::vector<HookEntry> out;
    // The most recently installed hook is called first.
    for (auto it = s.hooks.rbegin(); it != s.hooks.rend(); ++it)
        if (it->id == id && it->threadId == tid)
            out.push_back(*it);
    return out;
}

} // namespace
} // namespace platform::ui

namespace platform::ui {

LRESULT CallHooks(int id, int code, WPARAM wParam, LPARAM lParam) {
    auto hooks = HooksFor(id);
    if (hooks.empty())
        return 0;
    return hooks.front().proc(code, wParam, lParam);
}

} // namespace platform::ui

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    if (!proc) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    const DWORD self = GetCurrentThreadId();
    if (threadId == 0 && module) {
        SetLastError(ERROR_HOOK_NEEDS_HMOD);
        return nullptr;
    }
    if (threadId == 0)
        threadId = self;
    if (threadId != self || (idHook != WH_CBT && idHook != WH_MSGFILTER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    HookEntry e{reinterpret_cast<HHOOK>(s.nextHook), idHook, proc, threadId};
    s.nextHook += 4;
    s.hooks.push_back(e);
    return e.handle;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.handle == hook; });
    if (it == s.hooks.end()) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return FALSE;
    }
    s.hooks.erase(it);
    return TRUE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    HookEntry next{};
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        auto it = std::find_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.handle == hook; });
        if (it == s.hooks.end())
            return 0;
        // Hooks run newest first, so the next one is the older hook of the same kind and thread.
        for (auto prev = std::make_reverse_iterator(it); prev != s.hooks.rend(); ++prev) {
            if (prev->id == it->id && prev->threadId == it->threadId) {
                next = *prev;
                break;
            }
        }
    }
    return next.proc ? next.proc(code, wParam, lParam) : 0;
}

BOOL CallMsgFilterW(LPMSG msg, int code) {
    return CallHooks(WH_MSGFILTER, code, 0, reinterpret_cast<LPARAM>(msg)) != 0 ? TRUE : FALSE;
}
