// A second process for the broker tests. Modes:
//   find-prop NAME    walks the top-level windows, takes the first one carrying the property NAME, sends it the
//                     tray double-click, restores it when iconic, brings it and its last active popup to the
//                     foreground and posts it WM_USER+1499; prints what it saw.
//   publish TITLE     creates a top-level window titled TITLE, prints "ready HWND" and serves messages until
//                     WM_QUIT (WM_USER+7 answers wParam * 3; WM_USER+5 sends WM_USER+6 to the window in wParam
//                     with lParam and answers that plus one; WM_USER+1499 prints "signal").
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

LRESULT CALLBACK PublishProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_USER + 7:
        return static_cast<LRESULT>(wParam * 3);
    case WM_USER + 5:
        return SendMessageW(reinterpret_cast<HWND>(wParam), WM_USER + 6, static_cast<WPARAM>(lParam), 0) + 1;
    case WM_USER + 1499:
        std::printf("signal %lld %lld\n", static_cast<long long>(wParam), static_cast<long long>(lParam));
        std::fflush(stdout);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

int FindProp(const std::u16string& name) {
    HWND found = nullptr;
    for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h && IsWindow(h); h = GetWindow(h, GW_HWNDNEXT)) {
        if (GetPropW(h, name.c_str())) {
            found = h;
            break;
        }
    }
    if (!found) {
        std::printf("notfound\n");
        return 3;
    }
    const LRESULT answer = SendMessageW(found, WM_USER + 3111, 1, WM_LBUTTONDBLCLK);
    const bool iconic = IsIconic(found) != 0;
    if (iconic)
        ShowWindow(found, SW_RESTORE);
    const BOOL fg1 = SetForegroundWindow(found);
    const BOOL fg2 = SetForegroundWindow(GetLastActivePopup(found));
    const BOOL posted = PostMessageW(found, WM_USER + 1499, 0, 0);
    std::printf("found %lld %d %d %d %d\n", static_cast<long long>(answer), iconic ? 1 : 0, fg1, fg2, posted);
    return 0;
}

int Publish(const std::u16string& title) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PublishProc;
    wc.lpszClassName = u"HelperWindow";
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(0, u"HelperWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
    if (!hwnd)
        return 4;
    std::printf("ready %llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

std::u16string Wide(const char* s) {
    return std::u16string(s, s + std::strlen(s));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    if (mode == "find-prop")
        return FindProp(Wide(argv[2]));
    if (mode == "publish")
        return Publish(Wide(argv[2]));
    return 2;
}
