// Layered windows: their attributes, and the key colour and alpha in the pictures taken of them.
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <cairo.h>
#include <sys/stat.h>

#include <cstring>

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 160, 0);

// A pixel of a PNG file: its alpha and its colour with the alpha taken out again.
struct PngPixel {
    int alpha;
    COLORREF color;
};

class Png {
public:
    explicit Png(const std::string& path) : m_surface(cairo_image_surface_create_from_png(path.c_str())) {
        cairo_surface_flush(m_surface);
    }
    ~Png() { cairo_surface_destroy(m_surface); }
    Png(const Png&) = delete;
    Png& operator=(const Png&) = delete;
    bool Ok() const { return cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(m_surface); }
    PngPixel At(int x, int y) const {
        uint32_t v;
        std::memcpy(&v,
                    cairo_image_surface_get_data(m_surface) +
                        static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface) + 4 * x,
                    4);
        int a = cairo_image_surface_get_format(m_surface) == CAIRO_FORMAT_ARGB32 ? static_cast<int>(v >> 24) : 255;
        auto channel = [a](uint32_t c) { return a ? static_cast<int>((c * 255 + a / 2) / a) : 0; };
        return PngPixel{a, RGB(channel((v >> 16) & 0xFF), channel((v >> 8) & 0xFF), channel(v & 0xFF))};
    }

private:
    cairo_surface_t* m_surface;
};

// Colours read back from a faded pixel are exact to the rounding of the alpha.
bool Near(COLORREF a, COLORREF b) {
    auto d = [](int x, int y) { return x > y ? x - y : y - x; };
    return d(GetRValue(a), GetRValue(b)) <= 2 && d(GetGValue(a), GetGValue(b)) <= 2 &&
           d(GetBValue(a), GetBValue(b)) <= 2;
}

class LayeredTest : public uitest::UiTest {
protected:
    testsupport::ScratchDrive m_pictures{m_machine, u'P', "pictures"};
};

// A borderless 40 x 30 window: red on the left, the key grey on the right, and a green child at the bottom left
// whose own right half is grey too.
LRESULT PaintHalves(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, COLORREF left, COLORREF right) {
    if (msg != WM_PAINT)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    RECT l{0, 0, rc.right / 2, rc.bottom}, r{rc.right / 2, 0, rc.right, rc.bottom};
    HBRUSH a = CreateSolidBrush(left), b = CreateSolidBrush(right);
    FillRect(dc, &l, a);
    FillRect(dc, &r, b);
    DeleteObject(a);
    DeleteObject(b);
    EndPaint(hwnd, &ps);
    return 0;
}

TEST_F(LayeredTest, AttributesNeedALayeredWindow) {
    uitest::Handler handler;
    HWND plain = uitest::MakeWindow(&handler, WS_POPUP);
    HWND layered = uitest::MakeWindow(&handler, WS_POPUP, nullptr, 0, u"layered", WS_EX_LAYERED);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(layered, nullptr);
    struct Case {
        const char* what;
        HWND hwnd;
        DWORD flags;
        DWORD error; // 0: succeeds
    };
    const Case cases[] = {
        {"not a window", reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7777)), LWA_ALPHA,
         ERROR_INVALID_WINDOW_HANDLE},
        {"not layered", plain, LWA_COLORKEY, ERROR_INVALID_PARAMETER},
        {"unknown flag", layered, LWA_ALPHA | 4, ERROR_INVALID_PARAMETER},
        {"no flags", layered, 0, 0},
        {"key", layered, LWA_COLORKEY, 0},
        {"key and alpha", layered, LWA_COLORKEY | LWA_ALPHA, 0},
    };
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    SetLastError(0);
    EXPECT_FALSE(GetLayeredWindowAttributes(layered, &key, &alpha, &flags)); // never set
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(SetLayeredWindowAttributes(c.hwnd, kGrey, 100, c.flags), c.error == 0 ? TRUE : FALSE);
        EXPECT_EQ(GetLastError(), c.error);
        if (!c.error) {
            ASSERT_TRUE(GetLayeredWindowAttributes(c.hwnd, &key, &alpha, &flags));
            EXPECT_EQ(key, kGrey);
            EXPECT_EQ(alpha, 100);
            EXPECT_EQ(flags, c.flags);
        }
    }
    // No longer layered: the attributes are gone, also when it becomes layered again.
    SetWindowLongW(layered, GWL_EXSTYLE, 0);
    EXPECT_FALSE(GetLayeredWindowAttributes(layered, &key, &alpha, &flags));
    SetWindowLongW(layered, GWL_EXSTYLE, static_cast<LONG>(WS_EX_LAYERED));
    EXPECT_FALSE(GetLayeredWindowAttributes(layered, &key, &alpha, &flags));
    DestroyWindow(plain);
    DestroyWindow(layered);
}

TEST_F(LayeredTest, PicturesShowTheKeyColourAndAlpha) {
    uitest::Handler parent = [](HWND h, UINT m, WPARAM w, LPARAM l) { return PaintHalves(h, m, w, l, kRed, kGrey); };
    uitest::Handler child = [](HWND h, UINT m, WPARAM w, LPARAM l) { return PaintHalves(h, m, w, l, kGreen, kGrey); };
    struct Case {
        const char* what;
        bool layered;
        bool set;
        DWORD flags;
        COLORREF key;
        BYTE alpha;
        int alphaRed, alphaGrey; // of the window's red and grey halves
    };
    const Case cases[] = {
        {"not layered", false, false, 0, 0, 0, 255, 255},
        {"layered, attributes not set", true, false, 0, 0, 0, 255, 255},
        {"key colour", true, true, LWA_COLORKEY, kGrey, 0, 255, 0},
        {"key colour absent", true, true, LWA_COLORKEY, kBlue, 0, 255, 255},
        {"alpha", true, true, LWA_ALPHA, kGrey, 128, 128, 128},
        {"alpha without its flag", true, true, LWA_COLORKEY, kBlue, 10, 255, 255},
        {"key and alpha", true, true, LWA_COLORKEY | LWA_ALPHA, kGrey, 64, 64, 0},
        {"fully transparent", true, true, LWA_ALPHA, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND hwnd =
            uitest::MakeWindow(&parent, WS_POPUP | WS_VISIBLE, nullptr, 0, u"layered", c.layered ? WS_EX_LAYERED : 0);
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER));
        HWND inner = uitest::MakeWindow(&child, WS_CHILD | WS_VISIBLE, hwnd, 7);
        ASSERT_NE(inner, nullptr);
        ASSERT_TRUE(SetWindowPos(inner, nullptr, 0, 20, 10, 10, SWP_NOZORDER));
        if (c.set) {
            ASSERT_TRUE(SetLayeredWindowAttributes(hwnd, c.key, c.alpha, c.flags));
        }
        ASSERT_TRUE(platform::ui::SaveWindowPng(hwnd, u"P:\\layered.png"));
        Png png(m_pictures.Host("layered.png"));
        ASSERT_TRUE(png.Ok());
        ASSERT_EQ(png.Width(), 40);
        const PngPixel red = png.At(5, 5), grey = png.At(30, 5), green = png.At(2, 25), childGrey = png.At(7, 25);
        EXPECT_EQ(red.alpha, c.alphaRed);
        EXPECT_EQ(grey.alpha, c.alphaGrey);
        if (red.alpha > 0) {
            EXPECT_TRUE(Near(red.color, kRed)) << red.color;
        }
        if (grey.alpha > 0) {
            EXPECT_TRUE(Near(grey.color, kGrey)) << grey.color;
        }
        // The window's children are part of it: keyed and faded alike.
        EXPECT_EQ(green.alpha, c.alphaRed);
        if (green.alpha > 0) {
            EXPECT_TRUE(Near(green.color, kGreen)) << green.color;
        }
        EXPECT_EQ(childGrey.alpha, c.alphaGrey);
        DestroyWindow(hwnd);
    }
}

TEST_F(LayeredTest, AShapedWindowDrawsAndShowsOnlyItsShape) {
    uitest::Handler parent = [](HWND h, UINT m, WPARAM w, LPARAM l) { return PaintHalves(h, m, w, l, kRed, kGrey); };
    HWND hwnd = uitest::MakeWindow(&parent, WS_POPUP | WS_VISIBLE);
    ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER));
    // A rounded rectangle with a tail below it, as a speech balloon is made.
    HRGN body = CreateRoundRectRgn(0, 0, 40, 20, 12, 10);
    const POINT tail[] = {{28, 10}, {28, 30}, {8, 10}};
    HRGN pointer = CreatePolygonRgn(tail, 3, ALTERNATE);
    ASSERT_EQ(CombineRgn(body, body, pointer, RGN_OR), COMPLEXREGION);
    DeleteObject(pointer);
    ASSERT_EQ(SetWindowRgn(hwnd, body, TRUE), 1);
    HRGN copy = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetWindowRgn(hwnd, copy), COMPLEXREGION);
    EXPECT_TRUE(PtInRegion(copy, 20, 5));
    EXPECT_FALSE(PtInRegion(copy, 0, 0));

    ASSERT_TRUE(platform::ui::SaveWindowPng(hwnd, u"P:\\shaped.png"));
    Png png(m_pictures.Host("shaped.png"));
    ASSERT_TRUE(png.Ok());
    for (POINT p : {POINT{0, 0}, POINT{39, 0}, POINT{2, 25}, POINT{38, 25}})
        EXPECT_EQ(png.At(p.x, p.y).alpha, 0) << p.x << "," << p.y;
    EXPECT_EQ(png.At(5, 5).alpha, 255);
    EXPECT_TRUE(Near(png.At(5, 5).color, kRed));
    EXPECT_EQ(png.At(27, 25).alpha, 255); // the tail
    // Drawing through a DC of the window stays inside the shape.
    HDC dc = GetWindowDC(hwnd);
    EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(dc, 5, 5), kRed);
    ReleaseDC(hwnd, dc);

    // The region belongs to the window now: replacing it frees it, and no shape gives the whole window back.
    EXPECT_EQ(SetWindowRgn(hwnd, nullptr, FALSE), 1);
    EXPECT_EQ(GetObjectType(body), 0u);
    EXPECT_EQ(GetWindowRgn(hwnd, copy), ERROR);
    ASSERT_TRUE(platform::ui::SaveWindowPng(hwnd, u"P:\\whole.png"));
    Png whole(m_pictures.Host("whole.png"));
    EXPECT_EQ(whole.At(0, 0).alpha, 255);
    EXPECT_EQ(SetWindowRgn(hwnd, reinterpret_cast<HRGN>(GetStockObject(BLACK_BRUSH)), FALSE), 0);
    DeleteObject(copy);
    DestroyWindow(hwnd);
}

TEST_F(LayeredTest, ProgramsFindTheFunctionInUser32AtRunTime) {
    using SetLayered = BOOL (*)(HWND, COLORREF, BYTE, DWORD);
    HMODULE user32 = GetModuleHandleW(u"USER32.DLL");
    ASSERT_NE(user32, nullptr);
    EXPECT_EQ(LoadLibraryW(u"user32"), user32);
    auto setLayered = reinterpret_cast<SetLayered>(GetProcAddress(user32, "SetLayeredWindowAttributes"));
    ASSERT_NE(setLayered, nullptr);
    EXPECT_EQ(setLayered, &SetLayeredWindowAttributes);
    // The module's file is the window layer's.
    WCHAR path[4096];
    ASSERT_GT(GetModuleFileNameW(user32, path, 4096), 0u);
    using GetLayered = BOOL (*)(HWND, COLORREF*, BYTE*, DWORD*);
    auto getLayered = reinterpret_cast<GetLayered>(GetProcAddress(user32, "GetLayeredWindowAttributes"));
    EXPECT_EQ(getLayered, &GetLayeredWindowAttributes);
    // Only the functions that programs look up at run time; the rest of the layer is linked.
    EXPECT_EQ(GetProcAddress(user32, "SetCursor"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"kernel32"), "SetLayeredWindowAttributes"), nullptr);

    uitest::Handler handler = [](HWND h, UINT m, WPARAM w, LPARAM l) { return PaintHalves(h, m, w, l, kRed, kGrey); };
    HWND hwnd = uitest::MakeWindow(&handler, WS_POPUP | WS_VISIBLE, nullptr, 0, u"keyed", WS_EX_LAYERED);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER));
    ASSERT_TRUE(setLayered(hwnd, kGrey, 0, LWA_COLORKEY));
    ASSERT_TRUE(platform::ui::SaveWindowPng(hwnd, u"P:\\keyed.png"));
    Png png(m_pictures.Host("keyed.png"));
    ASSERT_TRUE(png.Ok());
    EXPECT_EQ(png.At(5, 5).alpha, 255);
    EXPECT_EQ(png.At(5, 5).color, kRed);
    EXPECT_EQ(png.At(30, 5).alpha, 0);
    FreeLibrary(user32);
    DestroyWindow(hwnd);
}

} // namespace
