// Helpers shared by the window-system tests.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/thread.h"
#include "platform/testing/eventually.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace uitest {

using testsupport::Eventually;

// Every test gets its own machine folder and the deadlock guard.
class UiTest : public ::testing::Test {
protected:
    UiTest() {
        platform::ui::SetDeadlockTimeout(120000);
        // The desktop's own session manager is not the tests' business.
        unsetenv("SESSION_MANAGER");
    }
    platform::machine::ScopedTestMachine m_machine;
};

// A window procedure made of a std::function, kept per window in GWLP_USERDATA.
using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

inline LRESULT CALLBACK FunctionProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (handler && *handler)
        return (*handler)(hwnd, msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

inline void RegisterTestClass() {
    static const bool done = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = FunctionProc;
        wc.cbWndExtra = 16;
        wc.lpszClassName = u"UiTestWindow";
        return RegisterClassExW(&wc) != 0;
    }();
    ASSERT_TRUE(done);
}

// Creates a window of the test class whose procedure is `handler` (which must outlive the window).
inline HWND MakeWindow(Handler* handler, DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, int id = 0,
                       LPCWSTR title = u"test", DWORD exStyle = 0) {
    RegisterTestClass();
    return CreateWindowExW(exStyle, u"UiTestWindow", title, style, 10, 20, 300, 200, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, handler);
}

// A thread that owns one window and runs a message loop until WM_QUIT.
class GuiThread {
public:
    explicit GuiThread(Handler handler) : m_handler(std::move(handler)) {
        std::promise<HWND> created;
        auto future = created.get_future();
        m_thread = std::thread([this, &created] {
            m_threadId = GetCurrentThreadId();
            HWND hwnd = MakeWindow(&m_handler, WS_OVERLAPPEDWINDOW);
            created.set_value(hwnd);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (IsWindow(hwnd))
                DestroyWindow(hwnd);
        });
        m_hwnd = future.get();
    }
    ~GuiThread() {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND hwnd() const { return m_hwnd; }
    DWORD threadId() const { return m_threadId; }

private:
    Handler m_handler;
    std::thread m_thread;
    std::atomic<DWORD> m_threadId{0};
    HWND m_hwnd = nullptr;
};

} // namespace uitest
