// Presenting a window on an X display: an 800x600 dialog full of controls is invalidated, repaints itself and is
// shown on the display (until the X server has drawn it), frame after frame. Beside it, on the same display, a bare
// frame: cairo fills an 800x600 picture and puts it into a window of the same size. Prints both frame times and
// their ratio. The display is an Xvfb of the benchmark's own.

#include "platform/gdi/wingdi.h"
#include "platform/ui/controls.h"
#include "platform/ui/input.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window.h"
#include "platform/ui/xvfb_test_support.h"

#include <cairo/cairo-xcb.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 800, kHeight = 600, kFrames = 300, kWarmUp = 20, kRun = 30;

struct Times {
    double p50 = 0, p99 = 0;
};

double TimeOf(const std::function<void()>& frame) {
    const auto start = Clock::now();
    frame();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Times Percentiles(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return Times{ms[ms.size() / 2], ms[ms.size() * 99 / 100]};
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// An 800x600 client area covered with rows of labels, fields, check boxes, buttons and a list.
HWND MakeDialog() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DialogProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = u"PresentBench";
    RegisterClassExW(&wc);
    RECT r{0, 0, kWidth, kHeight};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    AdjustWindowRect(&r, style, FALSE);
    HWND dialog = CreateWindowExW(0, u"PresentBench", u"Present", style, 20, 20, r.right - r.left, r.bottom - r.top,
                                  nullptr, nullptr, nullptr, nullptr);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    auto add = [&](const char16_t* cls, const char16_t* text, DWORD s, int x, int y, int w, int h) {
        HWND c =
            CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | s, x, y, w, h, dialog, nullptr, nullptr, nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return c;
    };
    for (int row = 0; row < 16; ++row) {
        const int y = 10 + row * 30;
        add(u"Static", u"Folder to back up:", SS_LEFT, 10, y + 3, 120, 16);
        add(u"Edit", u"C:\\Users\\Documents\\Projects", WS_BORDER, 135, y, 260, 22);
        add(u"Button", u"Include sub-folders", BS_AUTOCHECKBOX, 405, y, 150, 22);
        add(u"Button", u"Browse...", BS_PUSHBUTTON, 565, y, 90, 24);
    }
    HWND list = add(u"ListBox", u"", WS_BORDER, 665, 10, 125, 470);
    for (int i = 0; i < 30; ++i)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Backup set"));
    add(u"Button", u"OK", BS_DEFPUSHBUTTON, 600, 560, 90, 26);
    add(u"Button", u"Cancel", BS_PUSHBUTTON, 700, 560, 90, 26);
    ShowWindow(dialog, SW_SHOW);
    return dialog;
}

} // namespace

int main() {
    // Static: the server outlives the presenter, which stops at exit. The screen holds both windows side by side:
    // a window the other covers would cost the server next to nothing to draw. The server serves the two
    // connections in turn: with time slices, the one that is not busy waits out the other's slice.
    static uitest::Xvfb server("2048x1024x24", false);
    if (server.Display().empty()) {
        std::fprintf(stderr, "present_bench: %s\n", server.Error().c_str());
        return 1;
    }
    if (!platform::ui::ConnectDisplay(server.Display())) {
        std::fprintf(stderr, "present_bench: cannot show windows on %s\n", server.Display().c_str());
        return 1;
    }
    HWND dialog = MakeDialog();
    platform::ui::DrainMessages();
    platform::ui::FlushDisplay(10000);
    auto presentFrame = [&] {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        platform::ui::DrainMessages();
        platform::ui::FlushDisplay(10000);
    };

    // The bare frame on a connection of its own.
    xcb_connection_t* c = xcb_connect(server.Display().c_str(), nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                visual = v.data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 1000, 40, kWidth, kHeight, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT,
                      values);
    xcb_map_window(c, window);
    cairo_surface_t* target = cairo_xcb_surface_create(c, window, visual, kWidth, kHeight);
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    int n = 0;
    auto bareFrame = [&] {
        cairo_t* cr = cairo_create(picture);
        cairo_set_source_rgb(cr, (n++ % 2) ? 0.8 : 0.7, 0.75, 0.7);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_t* out = cairo_create(target);
        cairo_set_operator(out, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(out, picture, 0, 0);
        cairo_paint(out);
        cairo_destroy(out);
        cairo_surface_flush(target);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    };
    // The two take turns in runs of frames, so that both see the same machine, while each run has the server to
    // itself.
    std::vector<double> presentMs, bareMs;
    for (int i = 0; i < kWarmUp; ++i) {
        presentFrame();
        bareFrame();
    }
    for (int done = 0; done < kFrames; done += kRun) {
        for (int i = 0; i < kRun; ++i)
            presentMs.push_back(TimeOf(presentFrame));
        for (int i = 0; i < kRun; ++i)
            bareMs.push_back(TimeOf(bareFrame));
    }
    const Times present = Percentiles(presentMs), bare = Percentiles(bareMs);
    cairo_surface_destroy(picture);
    cairo_surface_destroy(target);
    xcb_disconnect(c);
    DestroyWindow(dialog);

    std::printf("present frame: %.2f ms p50, %.2f ms p99 (an 800x600 dialog of 67 controls repainted and shown)\n",
                present.p50, present.p99);
    std::printf("bare frame: %.2f ms p50, %.2f ms p99 (cairo fills 800x600 and puts it in a window)\n", bare.p50,
                bare.p99);
    std::printf("present vs bare ratio: %.2f\n", present.p50 / bare.p50);
    return 0;
}
