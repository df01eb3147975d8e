// A program with one top-level window that stands in for a mail client in the agents' tests: it agrees to end the
// session and ends when its window closes. With "--stubborn" it refuses to end the session and keeps running.
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <cstring>

namespace {

bool g_stubborn = false;

LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_QUERYENDSESSION:
        return g_stubborn ? FALSE : TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

int main(int argc, char** argv) {
    // It waits for its window to be closed for as long as the test takes to get there, which on a loaded machine can
    // be longer than the guard the tests give every program; a client left behind by a failed test still ends.
    platform::ui::SetDeadlockTimeout(600'000);
    g_stubborn = argc > 1 && std::strcmp(argv[1], "--stubborn") == 0;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = u"AgentsTestClient";
    if (!RegisterClassW(&wc))
        return 2;
    HWND hwnd = CreateWindowExW(0, u"AgentsTestClient", u"Mail client", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, nullptr, nullptr);
    if (!hwnd)
        return 3;
    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
