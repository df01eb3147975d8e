// A library named like the system's USER32 that offers SetLayeredWindowAttributes and records each call, so that
// the splash tests can see the window keyed through the function it looks up at run time.
#include "platform/base/types.h"

namespace {

struct LayeredCall {
    HWND hwnd;
    COLORREF key;
    BYTE alpha;
    DWORD flags;
};

int g_calls = 0;
LayeredCall g_last{};

} // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF key, BYTE alpha,
                                                                       DWORD flags) {
    ++g_calls;
    g_last = LayeredCall{hwnd, key, alpha, flags};
    return TRUE;
}

// The number of calls so far and the arguments of the last one.
__attribute__((visibility("default"))) int TestLayeredCalls(HWND* hwnd, COLORREF* key, BYTE* alpha, DWORD* flags) {
    *hwnd = g_last.hwnd;
    *key = g_last.key;
    *alpha = g_last.alpha;
    *flags = g_last.flags;
    return g_calls;
}

} // extern "C"
