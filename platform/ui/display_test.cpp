// The window system on a real X display: Xvfb started by the test, input made through the XTest extension, and a
// notification area played by the test itself.
#include "platform/ui/presenter.h"

#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_internal.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/paint.h"
#include "platform/ui/tray.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/xtray_test_support.h"
#include "platform/ui/xvfb_test_support.h"

#include <cairo/cairo.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace platform::ui;

constexpr DWORD kFlushMs = 10000;

// The test program's X server and its own connection to it, made once.
struct TestDisplay {
    uitest::Xvfb server;
    xcb_connection_t* conn = nullptr;
    xcb_screen_t* screen = nullptr;

    TestDisplay() {
        if (server.Display().empty())
            return;
        conn = xcb_connect(server.Display().c_str(), nullptr);
        if (xcb_connection_has_error(conn))
            return;
        screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
    }
    ~TestDisplay() {
        if (conn)
            xcb_disconnect(conn);
    }
};

TestDisplay& Display() {
    static TestDisplay display;
    return display;
}

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(const char* name) {
    xcb_connection_t* c = Display().conn;
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr),
        &std::free);
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

class DisplayTest : public uitest::UiTest {
protected:
    void SetUp() override {
        auto& d = Display();
        ASSERT_FALSE(d.server.Display().empty()) << d.server.Error();
        ASSERT_TRUE(d.screen) << "cannot connect to " << d.server.Display();
        ASSERT_TRUE(ConnectDisplay(d.server.Display()));
    }

    xcb_connection_t* X() { return Display().conn; }

    // Handles messages until the condition holds; false when it still does not after ten seconds.
    static bool PumpUntil(const std::function<bool()>& condition, HWND dialog = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            DrainMessages(dialog);
            if (condition())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

    // Everything the windows painted is on the display.
    void Settle(HWND dialog = nullptr) {
        DrainMessages(dialog);
        ASSERT_TRUE(FlushDisplay(kFlushMs));
    }

    void Sync() { std::free(xcb_get_input_focus_reply(X(), xcb_get_input_focus(X()), nullptr)); }

    void Fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0) {
        xcb_test_fake_input(X(), type, detail, XCB_CURRENT_TIME,
                            type == XCB_MOTION_NOTIFY ? Display().screen->root : XCB_NONE, x, y, 0);
    }

    void ClickAt(POINT screen, uint8_t button = 1) {
        Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(screen.x), static_cast<int16_t>(screen.y));
        Fake(XCB_BUTTON_PRESS, button);
        Fake(XCB_BUTTON_RELEASE, button);
        Sync();
    }

    static POINT CentreOf(HWND hwnd) {
        RECT r{};
        GetClientRect(hwnd, &r);
        POINT p{r.right / 2, r.bottom / 2};
        ClientToScreen(hwnd, &p);
        return p;
    }

    // The key that types `keysym` without modifiers on the server's keyboard.
    xcb_keycode_t KeyOf(uint32_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(X());
        const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        Reply<xcb_get_keyboard_mapping_reply_t> r(
            xcb_get_keyboard_mapping_reply(X(), xcb_get_keyboard_mapping(X(), setup->min_keycode, count), nullptr),
            &std::free);
        if (!r)
            return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
        for (int k = 0; k < count; ++k)
            if (syms[k * r->keysyms_per_keycode] == keysym)
                return static_cast<xcb_keycode_t>(setup->min_keycode + k);
        return 0;
    }

    void Tap(uint32_t keysym, bool shift = false) {
        const xcb_keycode_t shiftKey = KeyOf(0xffe1), key = KeyOf(keysym);
        ASSERT_NE(key, 0) << "no key for " << keysym;
        if (shift)
            Fake(XCB_KEY_PRESS, shiftKey);
        Fake(XCB_KEY_PRESS, key);
        Fake(XCB_KEY_RELEASE, key);
        if (shift)
            Fake(XCB_KEY_RELEASE, shiftKey);
        Sync();
    }
};

// A dialog with the usual controls, made from a template.
INT_PTR CALLBACK CommandsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    if (msg == WM_COMMAND) {
        if (auto* commands = reinterpret_cast<std::vector<WPARAM>*>(GetWindowLongPtrW(hwnd, DWLP_USER)))
            commands->push_back(wParam);
        return TRUE;
    }
    return FALSE;
}

constexpr WORD kName = 101, kNote = 102, kCheck = 103, kList = 104, kGo = 105;

HWND MakeDialog(std::vector<WPARAM>* commands) {
    platform::res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    t.caption = u"On screen";
    t.pointSize = 8;
    t.fontName = u"MS Shell Dlg";
    t.x = 20;
    t.y = 20;
    t.cx = 220;
    t.cy = 130;
    AddTemplateItem(t, 0x82, u"Name:", 0xFFFF, SS_LEFT, 8, 10, 40, 10);
    AddTemplateItem(t, 0x81, u"", kName, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 50, 8, 160, 14);
    AddTemplateItem(t, 0x81, u"", kNote, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 50, 28, 160, 14);
    AddTemplateItem(t, 0x80, u"Keep a copy", kCheck, BS_AUTOCHECKBOX | WS_TABSTOP, 8, 48, 100, 12);
    AddTemplateItem(t, 0x83, u"", kList, WS_BORDER | WS_TABSTOP, 8, 64, 100, 40);
    AddTemplateItem(t, 0x80, u"Go", kGo, BS_PUSHBUTTON | WS_TABSTOP, 120, 64, 50, 14);
    AddTemplateItem(t, 0x80, u"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 110, 110, 50, 14);
    AddTemplateItem(t, 0x80, u"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 164, 110, 50, 14);
    HWND dialog = CreateDialogFromTemplate(nullptr, t, nullptr, CommandsProc, reinterpret_cast<LPARAM>(commands));
    if (dialog) {
        SendDlgItemMessageW(dialog, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Documents"));
        SendDlgItemMessageW(dialog, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Pictures"));
        SetDlgItemTextW(dialog, kName, u"Backup set");
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
    }
    return dialog;
}

bool HasCommand(const std::vector<WPARAM>& commands, WORD id, WORD code) {
    for (WPARAM w : commands)
        if (LOWORD(w) == id && HIWORD(w) == code)
            return true;
    return false;
}

TEST_F(DisplayTest, DialogOnScreenIsThePictureOfItsClientArea) {
    std::vector<WPARAM> commands;
    HWND dialog = MakeDialog(&commands);
    ASSERT_NE(dialog, nullptr);
    const std::u16string png = u"C:\\shown.png";
    ASSERT_TRUE(SaveWindowPng(dialog, png));
    Settle(dialog);
    const xcb_window_t xid = XWindowOf(dialog);
    ASSERT_NE(xid, 0u);

    RECT window{}, client{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    // Framed by the window manager, the X window is the client area, at its place on the screen.
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(X(), xcb_get_geometry(X(), xid), nullptr),
                                             &std::free);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->x, origin.x);
    EXPECT_EQ(geometry->y, origin.y);
    ASSERT_EQ(geometry->width, client.right);
    ASSERT_EQ(geometry->height, client.bottom);

    Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(X(),
                                                           xcb_get_image(X(), XCB_IMAGE_FORMAT_Z_PIXMAP, xid, 0, 0,
                                                                         static_cast<uint16_t>(client.right),
                                                                         static_cast<uint16_t>(client.bottom), ~0u),
                                                           nullptr),
                                       &std::free);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->depth, 24);
    const auto* shown = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));

    auto host = platform::fs::ToHost(png.c_str());
    ASSERT_TRUE(host);
    cairo_surface_t* picture = cairo_image_surface_create_from_png(host->path.c_str());
    ASSERT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);
    const unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    const int dx = origin.x - window.left, dy = origin.y - window.top;
    int differing = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) {
            const uint32_t want =
                reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y + dy) * stride)[x + dx] & 0xFFFFFF;
            const uint32_t got = shown[static_cast<size_t>(y) * client.right + x] & 0xFFFFFF;
            differing += want != got;
        }
    cairo_surface_destroy(picture);
    EXPECT_EQ(differing, 0);
    DestroyWindow(dialog);
}

TEST_F(DisplayTest, ClicksAndKeysFromTheServerDriveTheControls) {
    std::vector<WPARAM> commands;
    HWND dialog = MakeDialog(&commands);
    ASSERT_NE(dialog, nullptr);
    Settle(dialog);

    ClickAt(CentreOf(GetDlgItem(dialog, kGo)));
    EXPECT_TRUE(PumpUntil([&] { return HasCommand(commands, kGo, BN_CLICKED); }, dialog));

    // Typing goes through the keyboard's layout: Shift makes capitals and the digit key's sign.
    HWND note = GetDlgItem(dialog, kNote);
    ClickAt(CentreOf(note));
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == note; }, dialog));
    Tap('h', true);
    Tap('i');
    Tap('1', true);
    EXPECT_TRUE(PumpUntil(
        [&] {
            char16_t text[32] = {};
            GetWindowTextW(note, text, 32);
            return std::u16string(text) == u"Hi!";
        },
        dialog));

    // Tab moves the focus on to the next control that takes it.
    Tap(0xff09);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == GetDlgItem(dialog, kCheck); }, dialog));
    DestroyWindow(dialog);
}

TEST_F(DisplayTest, KeysTypedRightAfterAClickGoWhereTheClickPutTheFocus) {
    std::vector<WPARAM> commands;
    HWND dialog = MakeDialog(&commands);
    ASSERT_NE(dialog, nullptr);
    Settle(dialog);
    HWND name = GetDlgItem(dialog, kName), note = GetDlgItem(dialog, kNote);
    ClickAt(CentreOf(name));
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == name; }, dialog));
    // A user who types at once: the click and the keys all arrive before the program has handled the click.
    ClickAt(CentreOf(note));
    Tap('o');
    Tap('k');
    auto text = [](HWND edit) {
        char16_t buffer[32] = {};
        GetWindowTextW(edit, buffer, 32);
        return std::u16string(buffer);
    };
    EXPECT_TRUE(PumpUntil([&] { return text(note) == u"ok"; }, dialog)) << platform::Utf16ToUtf8(text(note));
    EXPECT_EQ(text(name), u"Backup set");
    DestroyWindow(dialog);
}

// The stacking order of the shown windows titled `below` and `above`: true when the second lies above the first.
bool StackedAbove(xcb_connection_t* c, xcb_window_t root, const char* below, const char* above) {
    const xcb_atom_t name = Atom("_NET_WM_NAME");
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
    if (!tree)
        return false;
    int belowAt = -1, aboveAt = -1;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    // Bottom first.
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        Reply<xcb_get_property_reply_t> p(
            xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], name, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                                   nullptr),
            &std::free);
        if (!p)
            continue;
        const std::string title(static_cast<const char*>(xcb_get_property_value(p.get())),
                                static_cast<size_t>(xcb_get_property_value_length(p.get())));
        if (title == below)
            belowAt = i;
        else if (title == above)
            aboveAt = i;
    }
    return belowAt >= 0 && aboveAt > belowAt;
}

TEST_F(DisplayTest, AWindowBroughtForwardKeepsTheWindowsItOwnsAboveIt) {
    std::vector<WPARAM> commands;
    HWND dialog = MakeDialog(&commands);
    ASSERT_NE(dialog, nullptr);
    platform::res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | DS_SETFONT;
    t.caption = u"Owned box";
    t.pointSize = 8;
    t.fontName = u"MS Shell Dlg";
    t.x = 40;
    t.y = 40;
    t.cx = 120;
    t.cy = 40;
    AddTemplateItem(t, 0x80, u"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 35, 20, 50, 14);
    HWND box = CreateDialogFromTemplate(nullptr, t, dialog, CommandsProc, reinterpret_cast<LPARAM>(&commands));
    ASSERT_NE(box, nullptr);
    ShowWindow(box, SW_SHOW);
    Settle(dialog);
    ASSERT_TRUE(StackedAbove(X(), Display().screen->root, "On screen", "Owned box"));
    // The owner is brought forward while its box shows (as a program shows its window from inside the box's
    // modal loop): the box stays above it, where the user can see and answer it.
    EnableWindow(dialog, FALSE);
    SetForegroundWindow(dialog);
    Settle(dialog);
    EXPECT_TRUE(PumpUntil([&] { return StackedAbove(X(), Display().screen->root, "On screen", "Owned box"); }));
    // The keyboard went with it: Enter answers the box, not the disabled window behind it.
    Tap(0xff0d);
    EXPECT_TRUE(PumpUntil([&] { return HasCommand(commands, IDOK, BN_CLICKED); }, box));
    DestroyWindow(box);
    DestroyWindow(dialog);
}

TEST_F(DisplayTest, DoubleClickAndTheWindowManagersCloseReachTheWindow) {
    static std::vector<UINT> seen;
    seen.clear();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP || msg == WM_LBUTTONDBLCLK || msg == WM_CLOSE)
            seen.push_back(msg);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    };
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    wc.lpszClassName = u"DisplayTestDoubleClicks";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    HWND window = CreateWindowExW(0, wc.lpszClassName, u"Clicks", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
    Settle();

    const POINT centre = CentreOf(window);
    ClickAt(centre);
    ClickAt(centre);
    const std::vector<UINT> pair{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    EXPECT_TRUE(PumpUntil([&] { return seen.size() >= pair.size(); }));
    EXPECT_EQ(seen, pair);

    // What a window manager sends for its close button.
    seen.clear();
    xcb_client_message_event_t close{};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = XWindowOf(window);
    close.type = Atom("WM_PROTOCOLS");
    close.data.data32[0] = Atom("WM_DELETE_WINDOW");
    close.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(X(), 0, close.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&close));
    Sync();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
    EXPECT_EQ(seen, std::vector<UINT>{WM_CLOSE});
    if (IsWindow(window))
        DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, nullptr);
}

TEST_F(DisplayTest, MinimisingGoesBothWaysBetweenTheWindowAndTheDesktop) {
    uitest::Handler handler;
    HWND window = uitest::MakeWindow(&handler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_NE(window, nullptr);
    Settle();
    const xcb_window_t xid = XWindowOf(window);
    ASSERT_NE(xid, 0u);
    auto mapped = [&] {
        Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(X(), xcb_get_window_attributes(X(), xid), nullptr), &std::free);
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    };
    EXPECT_TRUE(mapped());

    // The program minimises its window: with no window manager to keep an icon, the window leaves the screen.
    ShowWindow(window, SW_MINIMIZE);
    Settle();
    EXPECT_FALSE(mapped());
    ShowWindow(window, SW_RESTORE);
    Settle();
    EXPECT_TRUE(mapped());

    // The desktop minimises it (a window manager sets WM_STATE to iconic), and restores it.
    const xcb_atom_t state = Atom("WM_STATE");
    auto setState = [&](uint32_t value) {
        const uint32_t data[] = {value, XCB_NONE};
        xcb_change_property(X(), XCB_PROP_MODE_REPLACE, xid, state, state, 32, 2, data);
        Sync();
    };
    setState(3);
    EXPECT_TRUE(PumpUntil([&] { return IsIconic(window) != FALSE; }));
    setState(1);
    EXPECT_TRUE(PumpUntil([&] { return IsIconic(window) == FALSE; }));
    DestroyWindow(window);
}

TEST_F(DisplayTest, KeyColouredLayeredWindowIsCutToItsShape) {
    // A splash-like pop-up: magenta is its key colour, painted everywhere but a square in the middle.
    uitest::Handler handler = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg != WM_PAINT)
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hwnd, &ps);
        RECT all{0, 0, 200, 100}, middle{50, 25, 150, 75};
        HBRUSH key = CreateSolidBrush(RGB(255, 0, 255)), body = CreateSolidBrush(RGB(0, 90, 160));
        FillRect(dc, &all, key);
        FillRect(dc, &middle, body);
        DeleteObject(key);
        DeleteObject(body);
        EndPaint(hwnd, &ps);
        return 0;
    };
    uitest::RegisterTestClass();
    HWND splash = CreateWindowExW(WS_EX_LAYERED, u"UiTestWindow", u"Splash", WS_POPUP, 300, 300, 200, 100, nullptr,
                                  nullptr, nullptr, &handler);
    ASSERT_NE(splash, nullptr);
    ASSERT_TRUE(SetLayeredWindowAttributes(splash, RGB(255, 0, 255), 255, LWA_COLORKEY));
    ShowWindow(splash, SW_SHOWNOACTIVATE);
    Settle();
    const xcb_window_t xid = XWindowOf(splash);
    ASSERT_NE(xid, 0u);
    Reply<xcb_shape_get_rectangles_reply_t> shape(
        xcb_shape_get_rectangles_reply(X(), xcb_shape_get_rectangles(X(), xid, XCB_SHAPE_SK_BOUNDING), nullptr),
        &std::free);
    ASSERT_TRUE(shape);
    auto covered = [&](int x, int y) {
        const xcb_rectangle_t* r = xcb_shape_get_rectangles_rectangles(shape.get());
        for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(shape.get()); ++i)
            if (x >= r[i].x && x < r[i].x + r[i].width && y >= r[i].y && y < r[i].y + r[i].height)
                return true;
        return false;
    };
    EXPECT_FALSE(covered(0, 0));
    EXPECT_FALSE(covered(199, 99));
    EXPECT_FALSE(covered(49, 50));
    EXPECT_TRUE(covered(50, 25));
    EXPECT_TRUE(covered(100, 50));
    EXPECT_TRUE(covered(149, 74));
    DestroyWindow(splash);
}

// Paints the whole client area in one colour.
uitest::Handler Painter(COLORREF colour, std::vector<UINT>* mouse = nullptr) {
    return [colour, mouse](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (mouse && (msg == WM_MOUSEMOVE || msg == WM_MOUSELEAVE))
            mouse->push_back(msg);
        if (msg != WM_PAINT)
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hwnd, &ps);
        RECT all{};
        GetClientRect(hwnd, &all);
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        EndPaint(hwnd, &ps);
        return 0;
    };
}

TEST_F(DisplayTest, WindowRegionsCutTheWindowAndItsChildrenAndTheMouseLeavesThroughTheCut) {
    // An L: the lower right quarter of the window is cut away. Its child shows only its left half.
    std::vector<UINT> mouse;
    uitest::Handler body = Painter(RGB(0, 90, 160), &mouse), part = Painter(RGB(200, 0, 0));
    uitest::RegisterTestClass();
    HWND window =
        CreateWindowExW(0, u"UiTestWindow", u"Shaped", WS_POPUP, 320, 240, 200, 100, nullptr, nullptr, nullptr, &body);
    ASSERT_NE(window, nullptr);
    HWND child = CreateWindowExW(0, u"UiTestWindow", u"", WS_CHILD | WS_VISIBLE, 120, 10, 40, 30, window, nullptr,
                                 nullptr, &part);
    ASSERT_NE(child, nullptr);
    HRGN l = CreateRectRgn(0, 0, 100, 100), top = CreateRectRgn(100, 0, 200, 50);
    CombineRgn(l, l, top, RGN_OR);
    DeleteObject(top);
    ASSERT_TRUE(SetWindowRgn(window, l, TRUE));
    ASSERT_TRUE(SetWindowRgn(child, CreateRectRgn(0, 0, 20, 30), TRUE));
    ShowWindow(window, SW_SHOWNOACTIVATE);
    Settle();
    const xcb_window_t xid = XWindowOf(window);
    ASSERT_NE(xid, 0u);

    Reply<xcb_shape_get_rectangles_reply_t> shape(
        xcb_shape_get_rectangles_reply(X(), xcb_shape_get_rectangles(X(), xid, XCB_SHAPE_SK_BOUNDING), nullptr),
        &std::free);
    ASSERT_TRUE(shape);
    auto covered = [&](int x, int y) {
        const xcb_rectangle_t* r = xcb_shape_get_rectangles_rectangles(shape.get());
        for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(shape.get()); ++i)
            if (x >= r[i].x && x < r[i].x + r[i].width && y >= r[i].y && y < r[i].y + r[i].height)
                return true;
        return false;
    };
    EXPECT_TRUE(covered(0, 0));
    EXPECT_TRUE(covered(99, 99));
    EXPECT_TRUE(covered(199, 49));
    EXPECT_FALSE(covered(100, 50));
    EXPECT_FALSE(covered(199, 99));

    // The child's cut-away half shows its parent.
    Reply<xcb_get_image_reply_t> image(
        xcb_get_image_reply(X(), xcb_get_image(X(), XCB_IMAGE_FORMAT_Z_PIXMAP, xid, 0, 0, 200, 50, ~0u), nullptr),
        &std::free);
    ASSERT_TRUE(image);
    const auto* pixels = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * 200 + x] & 0xFFFFFF; };
    EXPECT_EQ(at(125, 20), 0xC80000u);
    EXPECT_EQ(at(150, 20), 0x005AA0u);
    EXPECT_EQ(at(50, 20), 0x005AA0u);

    // The mouse comes in, then goes on into the cut: the window that tracks it hears that it was left.
    Fake(XCB_MOTION_NOTIFY, 0, 320 + 50, 240 + 70);
    Sync();
    ASSERT_TRUE(PumpUntil([&] { return !mouse.empty(); }));
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
    ASSERT_TRUE(TrackMouseEvent(&track));
    Fake(XCB_MOTION_NOTIFY, 0, 320 + 150, 240 + 70);
    Sync();
    EXPECT_TRUE(PumpUntil([&] { return !mouse.empty() && mouse.back() == WM_MOUSELEAVE; }));
    DestroyWindow(window);
}

// Where the test's notification area is.
constexpr int16_t kTrayX = 1100, kTrayY = 4;

TEST_F(DisplayTest, TrayIconDocksWhenATrayAppearsAndReportsClicks) {
    static std::vector<LPARAM> callbacks;
    callbacks.clear();
    constexpr UINT kCallback = WM_APP + 7;
    uitest::Handler handler = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == kCallback && wParam == 3)
            callbacks.push_back(lParam);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    };
    HWND owner = uitest::MakeWindow(&handler);
    ASSERT_NE(owner, nullptr);
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = 3;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kCallback;
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    std::char_traits<char16_t>::copy(data.szTip, u"Backups", 8);
    // The icon comes first; the notification area later, as when a desktop starts after the program.
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    Settle();

    uitest::XTray tray(X(), Display().screen, kTrayX, kTrayY);
    const xcb_window_t icon = tray.TakeDockRequest();
    ASSERT_NE(icon, 0u);
    Settle();
    EXPECT_EQ(XWindowOfTrayIcon(owner, 3), icon);

    const POINT onIcon{kTrayX + 12, kTrayY + 12};
    ClickAt(onIcon);
    ClickAt(onIcon);
    const std::vector<LPARAM> pair{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    EXPECT_TRUE(PumpUntil([&] { return callbacks.size() >= pair.size(); }));
    EXPECT_EQ(callbacks, pair);
    // The owner finds the click where it happened, to open its menu there.
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, onIcon.x);
    EXPECT_EQ(cursor.y, onIcon.y);

    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    DestroyWindow(owner);
}

// Another thread plays the user while the menu loop runs on the test's thread.
class MenuUser {
public:
    explicit MenuUser(std::function<void(HWND menu)> act)
        : m_thread([this, act] {
              HWND menu = nullptr;
              uitest::Eventually([&] { return (menu = FindWindowW(u"#32768", nullptr)) != nullptr; },
                                 std::chrono::seconds(10));
              if (!menu)
                  return;
              // The menu is on the display before the user acts on it.
              uitest::Eventually([&] { return XWindowOf(menu) != 0 && FlushDisplay(kFlushMs); },
                                 std::chrono::seconds(10));
              act(menu);
              // A menu that the acts did not close is cancelled, so that the test fails instead of hanging.
              if (!uitest::Eventually([&] { return !IsWindow(menu); }, std::chrono::seconds(10))) {
                  m_cancelled = true;
                  PostMessageW(menu, WM_CANCELMODE, 0, 0);
              }
          }) {}
    ~MenuUser() {
        m_thread.join();
        EXPECT_FALSE(m_cancelled) << "the menu stayed open";
    }

private:
    std::atomic<bool> m_cancelled{false};
    std::thread m_thread;
};

TEST_F(DisplayTest, PopupMenuIsChosenWithTheMouseAndTheKeys) {
    uitest::Handler handler;
    HWND owner = uitest::MakeWindow(&handler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_NE(owner, nullptr);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 10, u"&Open");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, 11, u"&Backup now");
    AppendMenuW(menu, MF_STRING, 12, u"E&xit");
    Settle();

    // Third row: the item under the separator. Rows are 20 pixels high inside a 2-pixel border.
    UINT chosen = 0;
    {
        MenuUser user([this](HWND window) {
            RECT box{};
            GetWindowRect(window, &box);
            const POINT item{box.left + 30, box.top + 2 + 20 + 8 + 10};
            Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(item.x), static_cast<int16_t>(item.y));
            Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(item.x + 1), static_cast<int16_t>(item.y));
            ClickAt(POINT{item.x + 1, item.y});
        });
        chosen = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD, 200, 200, owner, nullptr));
    }
    EXPECT_EQ(chosen, 11u);

    // Down goes to the first item and on past the separator; Enter chooses.
    {
        MenuUser user([this](HWND) {
            Tap(0xff54);
            Tap(0xff54);
            Tap(0xff0d);
        });
        chosen = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD, 200, 200, owner, nullptr));
    }
    EXPECT_EQ(chosen, 11u);

    // A click elsewhere closes the menu without a choice.
    {
        MenuUser user([this](HWND) { ClickAt(POINT{900, 900}); });
        chosen = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD, 200, 200, owner, nullptr));
    }
    EXPECT_EQ(chosen, 0u);
    EXPECT_EQ(FindWindowW(u"#32768", nullptr), nullptr);
    DestroyMenu(menu);
    DestroyWindow(owner);
}

TEST_F(DisplayTest, WithoutAHookPromptsAreAnsweredOnTheDisplay) {
    // A message box is a dialog on the display; the user's click is its answer.
    int answer = 0;
    {
        std::thread clicker([this] {
            HWND box = nullptr;
            uitest::Eventually([&] { return (box = FindWindowW(u"#32770", u"Question")) != nullptr; },
                               std::chrono::seconds(10));
            if (!box || !uitest::Eventually([&] { return XWindowOf(box) != 0 && FlushDisplay(kFlushMs); },
                                            std::chrono::seconds(10)))
                return;
            ClickAt(CentreOf(GetDlgItem(box, IDYES)));
            // Answered otherwise when the click did not reach it, so that the test fails instead of hanging.
            if (!uitest::Eventually([&] { return !IsWindow(box); }, std::chrono::seconds(10)))
                PostMessageW(box, WM_COMMAND, IDNO, 0);
        });
        answer = MessageBoxW(nullptr, u"Start the backup now?", u"Question", MB_YESNO | MB_DEFBUTTON2);
        clicker.join();
    }
    EXPECT_EQ(answer, IDYES);

    // The file dialog lists the folder through its filter; a click takes a file's name and OK chooses it.
    const std::string host = m_machine.Folder() + "/drive-t";
    ASSERT_EQ(::mkdir(host.c_str(), 0700), 0);
    platform::fs::DriveInfo drive;
    drive.letter = u'T';
    drive.hostRoot = host;
    ASSERT_TRUE(platform::fs::SetDrive(drive));
    ASSERT_TRUE(CreateDirectoryW(u"T:\\sets", nullptr));
    for (const char16_t* name : {u"T:\\sets\\daily.txt", u"T:\\sets\\notes.log"}) {
        HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    char16_t file[260] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = u"Text files\0*.txt\0All files\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.lpstrInitialDir = u"T:\\sets";
    ofn.Flags = OFN_FILEMUSTEXIST;
    std::vector<std::u16string> listed;
    std::thread chooser([&] {
        HWND dialog = nullptr;
        uitest::Eventually([&] { return (dialog = FindWindowW(u"#32770", u"Open")) != nullptr; },
                           std::chrono::seconds(10));
        if (!dialog || !uitest::Eventually([&] { return XWindowOf(dialog) != 0 && FlushDisplay(kFlushMs); },
                                           std::chrono::seconds(10)))
            return;
        HWND list = FindWindowExW(dialog, nullptr, u"ListBox", nullptr);
        const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char16_t text[64] = {};
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            listed.push_back(text);
        }
        // The second row, under "..".
        const int row = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
        POINT at{12, row + row / 2 + 2};
        ClientToScreen(list, &at);
        ClickAt(at);
        uitest::Eventually([&] { return GetWindowTextLengthW(GetDlgItem(dialog, 1003)) > 0; },
                           std::chrono::seconds(10));
        ClickAt(CentreOf(GetDlgItem(dialog, IDOK)));
        if (!uitest::Eventually([&] { return !IsWindow(dialog); }, std::chrono::seconds(10)))
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const BOOL chosen = GetOpenFileNameW(&ofn);
    chooser.join();
    EXPECT_EQ(listed, (std::vector<std::u16string>{u"..", u"daily.txt"}));
    EXPECT_TRUE(chosen);
    EXPECT_EQ(std::u16string(file), u"T:\\sets\\daily.txt");
}

} // namespace
