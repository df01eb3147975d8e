#include "app/Splash.h"

#include "app/AppTestSupport.h"

#include "platform/base/module.h"
#include "platform/base/thread.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <cairo.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kGrey = 0x808080;
constexpr COLORREF kWhite = 0xFFFFFF;

// The test picture: a red band on the left and a band of the key colour on the right across the top, white below,
// where the version line goes.
constexpr int kWidth = 320;
constexpr int kHeight = 100;
constexpr int kBandHeight = 40;

COLORREF PictureColor(int x, int y) {
    if (y < kBandHeight)
        return x < kWidth / 2 ? kRed : kGrey;
    return kWhite;
}

// A 24-bit bottom-up BMP file of the picture.
std::string PictureBmp(int width, int height, const std::function<COLORREF(int, int)>& color) {
    const int stride = (width * 3 + 3) & ~3;
    const uint32_t imageSize = static_cast<uint32_t>(stride * height);
    std::string bytes;
    auto put16 = [&](uint16_t v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
    auto put32 = [&](uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
    bytes += "BM";
    put32(14 + 40 + imageSize);
    put16(0);
    put16(0);
    put32(14 + 40);
    put32(40);
    put32(static_cast<uint32_t>(width));
    put32(static_cast<uint32_t>(height));
    put16(1);
    put16(24);
    put32(0);
    put32(imageSize);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            const COLORREF c = color(x, y);
            row += static_cast<char>(GetBValue(c));
            row += static_cast<char>(GetGValue(c));
            row += static_cast<char>(GetRValue(c));
        }
        row.resize(static_cast<size_t>(stride), '\0');
        bytes += row;
    }
    return bytes;
}

// The pixels of a PNG file as COLORREF values.
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
    int Height() const { return cairo_image_surface_get_height(m_surface); }
    COLORREF At(int x, int y) const {
        uint32_t v;
        std::memcpy(&v,
                    cairo_image_surface_get_data(m_surface) +
                        static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface) + 4 * x,
                    4);
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Pixels of the rectangle darker than mid-grey in every channel.
    int Dark(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const COLORREF c = At(x, y);
                n += GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100;
            }
        return n;
    }
    // Pixels of the rectangle that are fully transparent.
    int Transparent(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                uint32_t v;
                std::memcpy(&v,
                            cairo_image_surface_get_data(m_surface) +
                                static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface) + 4 * x,
                            4);
                n += (v >> 24) == 0;
            }
        return n;
    }
    // Pixels of the rectangle that differ from the colour.
    int Other(int x0, int y0, int x1, int y1, COLORREF color) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += At(x, y) != color;
        return n;
    }

private:
    cairo_surface_t* m_surface;
};

int CountSplashWindows() {
    int count = 0;
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            WCHAR name[32] = {};
            GetClassNameW(hwnd, name, 32);
            if (std::u16string(name) == u"SPLASH")
                ++*reinterpret_cast<int*>(data);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

BOOL SplashClassRegistered() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    return GetClassInfoExW(reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)), u"SPLASH", &wc);
}

class SplashTest : public apptest::MachineTest {
protected:
    void WritePicture() { m_drive.Write("Splash.bmp", PictureBmp(kWidth, kHeight, PictureColor)); }
};

TEST_F(SplashTest, VersionText) {
    // The test program carries file version 1.7.1.0 with the special build text 1115.
    EXPECT_EQ(CSplash::GetVersionLine().Str(), u"Version : 1.7.1.0 Build 1115");

    CString version = u"unchanged";
    CSplash::GetApVersion(u"B:\\plain\\plain.dll", version);
    EXPECT_EQ(version.Str(), u"2.0.3.14");
    version = u"unchanged";
    CSplash::GetApVersion(u"T:\\missing.exe", version);
    EXPECT_EQ(version.Str(), u"unchanged");
}

TEST_F(SplashTest, ShowsTheBitmapWithTheVersionLineCentredOnTheScreen) {
    WritePicture();
    CSplash splash;
    EXPECT_EQ(splash.GetClassName().Str(), u"SPLASH");
    EXPECT_EQ(splash.GetTransparentColor(), 0u);
    EXPECT_EQ(splash.GetSafeHwnd(), nullptr);
    ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
    EXPECT_EQ(splash.GetWidth(), kWidth);
    EXPECT_EQ(splash.GetHeight(), kHeight);
    splash.SetTransparentColor(kGrey);

    HWND hwnd = splash.Show();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(splash.GetSafeHwnd(), hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    // A borderless top-most tool window titled "Banner", exactly the bitmap's size, in the middle of the screen.
    WCHAR title[32] = {};
    GetWindowTextW(hwnd, title, 32);
    EXPECT_EQ(std::u16string(title), u"Banner");
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_BORDER | WS_THICKFRAME), WS_POPUP);
    EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST), WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    EXPECT_EQ(GetParent(hwnd), nullptr);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rect));
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXFULLSCREEN) - kWidth) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYFULLSCREEN) - kHeight) / 2);
    EXPECT_EQ(rect.right - rect.left, kWidth);
    EXPECT_EQ(rect.bottom - rect.top, kHeight);

    // The class as registered: byte-aligned, 30 extra bytes, a light-grey background.
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExW(reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)), u"SPLASH", &wc));
    EXPECT_EQ(wc.style, 0x1000u | 0x2000u);
    EXPECT_EQ(wc.cbWndExtra, 30);
    EXPECT_EQ(wc.hbrBackground, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    EXPECT_EQ(wc.lpszMenuName, nullptr);

    // Painted at once: the window already holds the bitmap before anyone asks for a picture.
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetPixel(dc, 5, 5), kRed);
    ReleaseDC(hwnd, dc);

    ASSERT_TRUE(platform::ui::SaveWindowPng(hwnd, u"T:\\splash.png"));
    if (const char* keep = std::getenv("APP_TEST_KEEP_PNG")) {
        EXPECT_EQ(std::system(("cp " + m_drive.Root() + "/splash.png " + keep).c_str()), 0);
    }
    Png png(m_drive.Root() + "/splash.png");
    ASSERT_TRUE(png.Ok());
    ASSERT_EQ(png.Width(), kWidth);
    ASSERT_EQ(png.Height(), kHeight);
    // The bitmap, pixel for pixel, where no text is written; the key colour is keyed out of the layered window.
    EXPECT_EQ(png.Other(0, 0, kWidth / 2, kBandHeight, kRed), 0);
    EXPECT_EQ(png.Transparent(kWidth / 2, 0, kWidth, kBandHeight), (kWidth - kWidth / 2) * kBandHeight);
    EXPECT_EQ(png.Transparent(0, kBandHeight, kWidth, kHeight - 25), 0);
    EXPECT_EQ(png.Other(0, kBandHeight, kWidth, kHeight - 25, kWhite), 0);
    EXPECT_EQ(png.Other(0, kHeight - 25, 15, kHeight, kWhite), 0);
    // The version line in the device context's default black at (15, height - 25).
    EXPECT_GT(png.Dark(15, kHeight - 25, kWidth, kHeight), 100);

    // The text is the version line: it is as wide as the line measured in the window's default font.
    dc = GetDC(hwnd);
    SIZE extent{};
    const CString line = CSplash::GetVersionLine();
    ASSERT_TRUE(GetTextExtentPoint32W(dc, line, line.GetLength(), &extent));
    ReleaseDC(hwnd, dc);
    ASSERT_LT(15 + extent.cx, kWidth);
    EXPECT_GT(png.Dark(15, kHeight - 25, 15 + extent.cx / 4, kHeight), 10);                 // "Version"
    EXPECT_GT(png.Dark(15 + 3 * extent.cx / 4, kHeight - 25, 15 + extent.cx, kHeight), 10); // "1115"
    EXPECT_EQ(png.Other(15 + extent.cx + 2, kHeight - 25, kWidth, kHeight, kWhite), 0);

    EXPECT_TRUE(splash.Hide());
}

TEST_F(SplashTest, ShowingTwiceLeavesOneWindowAndHidingUnregistersTheClass) {
    WritePicture();
    CSplash splash;
    ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
    EXPECT_FALSE(splash.Hide());
    EXPECT_FALSE(SplashClassRegistered());

    HWND first = splash.Show();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(SplashClassRegistered());
    HWND second = splash.Show();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(CountSplashWindows(), 1);

    EXPECT_TRUE(splash.Hide());
    EXPECT_FALSE(IsWindow(second));
    EXPECT_EQ(splash.GetSafeHwnd(), nullptr);
    EXPECT_EQ(CountSplashWindows(), 0);
    EXPECT_FALSE(SplashClassRegistered());
    EXPECT_FALSE(splash.Hide());
    // The bitmap stays until it is deleted, and showing again registers the class again.
    EXPECT_NE(splash.GetBitmap(), nullptr);
    ASSERT_NE(splash.Show(), nullptr);
    EXPECT_TRUE(splash.Hide());

    // Closing the splash as the application does: hide, then free the bitmap.
    HBITMAP bitmap = splash.GetBitmap();
    splash.DeleteBitmap();
    EXPECT_EQ(splash.GetBitmap(), nullptr);
    EXPECT_EQ(GetObjectType(bitmap), 0u);

    // A second object cannot register the class while the first one's window is shown.
    CSplash other;
    ASSERT_NE(splash.Show(), nullptr);
    EXPECT_EQ(other.Show(), nullptr);
    EXPECT_EQ(CountSplashWindows(), 1);
    EXPECT_TRUE(splash.Hide());
}

TEST_F(SplashTest, AWindowThatCannotBeCreatedLeavesNoClassBehind) {
    WritePicture();
    CSplash splash;
    ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
    // A hook that refuses every new window.
    HHOOK hook = SetWindowsHookExW(
        WH_CBT, [](int code, WPARAM, LPARAM) -> LRESULT { return code == HCBT_CREATEWND ? 1 : 0; }, nullptr,
        GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(splash.Show(), nullptr);
    EXPECT_EQ(splash.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(SplashClassRegistered());
    ASSERT_TRUE(UnhookWindowsHookEx(hook));
    // So the next try succeeds.
    EXPECT_NE(splash.Show(), nullptr);
    EXPECT_EQ(CountSplashWindows(), 1);
}

TEST_F(SplashTest, OwnsItsBitmap) {
    CSplash splash;
    HBITMAP first = CreateBitmap(30, 20, 1, 32, nullptr);
    ASSERT_TRUE(splash.SetBitmap(first));
    EXPECT_EQ(splash.GetWidth(), 30);
    EXPECT_EQ(splash.GetHeight(), 20);
    // Taking the same bitmap again keeps it.
    ASSERT_TRUE(splash.SetBitmap(first));
    EXPECT_EQ(GetObjectType(first), OBJ_BITMAP);

    // A new bitmap replaces and deletes the old one.
    HBITMAP second = CreateBitmap(8, 6, 1, 32, nullptr);
    ASSERT_TRUE(splash.SetBitmap(second));
    EXPECT_EQ(GetObjectType(first), 0u);
    EXPECT_EQ(splash.GetWidth(), 8);

    // A null bitmap leaves none and succeeds.
    EXPECT_TRUE(splash.SetBitmap(static_cast<HBITMAP>(nullptr)));
    EXPECT_EQ(GetObjectType(second), 0u);
    EXPECT_EQ(splash.GetBitmap(), nullptr);
    EXPECT_EQ(splash.GetWidth(), 0);

    // A handle that is no bitmap is refused and deleted.
    HBRUSH brush = CreateSolidBrush(kRed);
    EXPECT_FALSE(splash.SetBitmap(reinterpret_cast<HBITMAP>(brush)));
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(splash.GetBitmap(), nullptr);

    // The destructor deletes the bitmap.
    HBITMAP last = CreateBitmap(4, 4, 1, 32, nullptr);
    {
        CSplash owner;
        ASSERT_TRUE(owner.SetBitmap(last));
    }
    EXPECT_EQ(GetObjectType(last), 0u);
}

TEST_F(SplashTest, AMissingBitmapShowsAnEmptyWindow) {
    WritePicture();
    CSplash splash;
    ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
    HBITMAP loaded = splash.GetBitmap();
    // A file that cannot be loaded drops the previous bitmap and leaves none.
    EXPECT_FALSE(splash.SetBitmap(u"T:\\missing.bmp"));
    EXPECT_EQ(splash.GetBitmap(), nullptr);
    EXPECT_EQ(GetObjectType(loaded), 0u);
    m_drive.Write("text.bmp", "not a bitmap");
    EXPECT_FALSE(splash.SetBitmap(u"T:\\text.bmp"));
    EXPECT_EQ(splash.GetBitmap(), nullptr);

    HWND hwnd = splash.Show();
    ASSERT_NE(hwnd, nullptr);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rect));
    EXPECT_EQ(rect.right - rect.left, 0);
    EXPECT_EQ(rect.bottom - rect.top, 0);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXFULLSCREEN) / 2);
    // Nothing is left to paint.
    RECT update{};
    EXPECT_FALSE(GetUpdateRect(hwnd, &update, FALSE));
    EXPECT_TRUE(splash.Hide());
}

TEST_F(SplashTest, ABitmapLargerThanTheScreenIsCentredAtNegativeCoordinates) {
    CSplash splash;
    const int width = platform::ui::kScreenWidth + 120;
    const int height = platform::ui::kScreenHeight + 200;
    ASSERT_TRUE(splash.SetBitmap(CreateBitmap(width, height, 1, 32, nullptr)));
    HWND hwnd = splash.Show();
    ASSERT_NE(hwnd, nullptr);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rect));
    EXPECT_EQ(rect.left, -60);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYFULLSCREEN) - height) / 2);
    EXPECT_LT(rect.top, 0);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
}

TEST_F(SplashTest, TheDestructorTakesTheWindowAway) {
    WritePicture();
    HWND hwnd = nullptr;
    {
        CSplash splash;
        ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
        hwnd = splash.Show();
        ASSERT_NE(hwnd, nullptr);
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(SplashClassRegistered());
    // A later splash shows and paints as before.
    CSplash splash;
    ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
    hwnd = splash.Show();
    ASSERT_NE(hwnd, nullptr);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetPixel(dc, kWidth - 1, 0), kGrey);
    ReleaseDC(hwnd, dc);
}

using LayeredCalls = int (*)(HWND*, COLORREF*, BYTE*, DWORD*);

TEST_F(SplashTest, TheKeyColourIsAppliedWhereLayeredWindowsExist) {
    WritePicture();
    {
        // The system's own USER32 offers layered windows: the shown window is layered with the key colour.
        CSplash splash;
        EXPECT_TRUE(CSplash::HasLayeredWindows());
        ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
        splash.SetTransparentColor(kGrey);
        HWND hwnd = splash.Show();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_NE(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)) & WS_EX_LAYERED, 0u);
        COLORREF shownKey = 0;
        BYTE shownAlpha = 0;
        DWORD shownFlags = 0;
        ASSERT_TRUE(GetLayeredWindowAttributes(hwnd, &shownKey, &shownAlpha, &shownFlags));
        EXPECT_EQ(shownKey, kGrey);
        EXPECT_EQ(shownFlags, static_cast<DWORD>(LWA_COLORKEY));
    }

    // A USER32 the program loaded itself comes first: the lookup at construction finds its function.
    HMODULE user32 = LoadLibraryW(u"B:\\layered\\user32.dll");
    ASSERT_NE(user32, nullptr);
    auto calls = reinterpret_cast<LayeredCalls>(GetProcAddress(user32, "TestLayeredCalls"));
    ASSERT_NE(calls, nullptr);
    HWND keyed = nullptr;
    COLORREF key = 0;
    BYTE alpha = 0xFF;
    DWORD flags = 0;
    {
        CSplash splash;
        EXPECT_TRUE(CSplash::HasLayeredWindows());
        ASSERT_TRUE(splash.SetBitmap(u"T:\\Splash.bmp"));
        // Without a window there is nothing to key yet.
        splash.SetTransparentColor(kGrey);
        EXPECT_EQ(calls(&keyed, &key, &alpha, &flags), 0);

        HWND hwnd = splash.Show();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_NE(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)) & WS_EX_LAYERED, 0u);
        ASSERT_EQ(calls(&keyed, &key, &alpha, &flags), 1);
        EXPECT_EQ(keyed, hwnd);
        EXPECT_EQ(key, kGrey);
        EXPECT_EQ(alpha, 0);
        EXPECT_EQ(flags, 1u); // LWA_COLORKEY

        // A new colour applies to the shown window at once; 0 keys nothing.
        splash.SetTransparentColor(kRed);
        ASSERT_EQ(calls(&keyed, &key, &alpha, &flags), 2);
        EXPECT_EQ(key, kRed);
        splash.SetTransparentColor(0);
        EXPECT_EQ(calls(&keyed, &key, &alpha, &flags), 2);
        EXPECT_TRUE(splash.Hide());

        // A splash whose colour is 0 is never layered.
        HWND plain = splash.Show();
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(plain, GWL_EXSTYLE)) & WS_EX_LAYERED, 0u);
        EXPECT_EQ(calls(&keyed, &key, &alpha, &flags), 2);
    }
    ASSERT_TRUE(FreeLibrary(user32));
    // Each construction looks again, and finds the system's own once the program's is gone.
    CSplash later;
    EXPECT_TRUE(CSplash::HasLayeredWindows());
}

} // namespace
