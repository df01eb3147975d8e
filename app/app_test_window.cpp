// A program with one top-level window for the tests of closing another program's windows: it agrees to end the
// session, and closing its window ends it.
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

namespace {

LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

int main() {
    // It waits for its windows to be closed as long as the test takes to get there, which on a loaded machine can be
    // longer than the guard the tests give every program; one left behind by a failed test still ends.
    platform::ui::SetDeadlockTimeout(600'000);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = u"AppTestWindow";
    if (!RegisterClassW(&wc))
        return 2;
    HWND hwnd = CreateWindowExW(0, u"AppTestWindow", u"App test window", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
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
