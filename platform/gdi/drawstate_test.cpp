// DrawStateW and CopyImage.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_test_support.h"
#include "platform/gdi/wingdi.h"

#include <gtest/gtest.h>

namespace {

using namespace platform::gdi::test;

constexpr COLORREF kGrey = RGB(100, 100, 100);

// A 4 x 4 bitmap: white with a black 2 x 2 square at (1, 1).
class SquareBitmap : public Canvas {
public:
    SquareBitmap() : Canvas(4, 4) {
        RECT r{1, 1, 3, 3};
        FillRect(dc(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
};

// The picture as text: '#' for `a`, '+' for `b`, '.' for the grey background, '?' for anything else.
std::string Picture(const Canvas& c, int width, int height, COLORREF a, COLORREF b) {
    std::string out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF p = GetPixel(c.dc(), x, y);
            out += p == a ? '#' : p == b ? '+' : p == kGrey ? '.' : '?';
        }
        out += '\n';
    }
    return out;
}

TEST(GdiDrawState, BitmapsInEveryState) {
    SquareBitmap bitmap;
    Canvas c(5, 5);
    const LPARAM image = reinterpret_cast<LPARAM>(bitmap.bitmap());
    const COLORREF light = GetSysColor(COLOR_3DHILIGHT), dark = GetSysColor(COLOR_3DSHADOW);

    // Disabled: the shape embossed; the bitmap's white is background and leaves the picture alone.
    c.Fill(kGrey);
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, nullptr, image, 0, 0, 0, 0, 0, DST_BITMAP | DSS_DISABLED));
    EXPECT_EQ(Picture(c, 5, 5, dark, light), Rows({".....", ".##..", ".##+.", "..++.", "....."}));

    // Mono: the shape in the brush.
    c.Fill(kGrey);
    HBRUSH red = CreateSolidBrush(kRed);
    EXPECT_TRUE(DrawStateW(c.dc(), red, nullptr, image, 0, 1, 0, 0, 0, DST_BITMAP | DSS_MONO));
    EXPECT_EQ(Picture(c, 5, 5, kRed, kWhite), Rows({".....", "..##.", "..##.", ".....", "....."}));

    // Normal: the bitmap as it is, white included, at its own size or the size given.
    c.Fill(kGrey);
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, nullptr, image, 0, 0, 0, 3, 3, DST_BITMAP));
    EXPECT_EQ(Picture(c, 5, 5, kBlack, kWhite), Rows({"+++..", "+##..", "+##..", ".....", "....."}));

    // Union: drawn, then every other pixel of the shape in the highlight colour.
    c.Fill(kGrey);
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, nullptr, image, 0, 0, 0, 0, 0, DST_BITMAP | DSS_UNION));
    EXPECT_EQ(Picture(c, 5, 5, kBlack, GetSysColor(COLOR_HIGHLIGHT)),
              Rows({"????.", "?+#?.", "?#+?.", "????.", "....."}));
    DeleteObject(red);

    EXPECT_FALSE(DrawStateW(c.dc(), nullptr, nullptr, 12345, 0, 0, 0, 0, 0, DST_BITMAP));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(GdiDrawState, TextIconsAndCallbacks) {
    Canvas c(80, 24);
    c.Fill(kGrey);
    // Text takes its own size in the DC's font; disabled text has no black in it.
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, nullptr, reinterpret_cast<LPARAM>(u"Disabled"), 0, 2, 2, 0, 0,
                           DST_TEXT | DSS_DISABLED));
    EXPECT_EQ(c.Count(kBlack), 0);
    EXPECT_GT(c.Count(GetSysColor(COLOR_3DSHADOW)), 10);
    EXPECT_GT(c.Count(GetSysColor(COLOR_3DHILIGHT)), 5);

    // An icon drawn disabled and normally.
    HICON icon = LoadIconW(nullptr, IDI_ERROR);
    ASSERT_NE(icon, nullptr);
    c.Fill(kWhite);
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, 0, 0, 0, 0, DST_ICON));
    const int normalInk = 80 * 24 - c.Count(kWhite);
    EXPECT_GT(normalInk, 100);
    EXPECT_EQ(GetPixel(c.dc(), 40, 5), kWhite); // an icon is 32 pixels wide

    // A callback draws at (0, 0) of its place and gets the size.
    struct Seen {
        int width = 0, height = 0;
    } seen;
    auto draw = [](HDC dc, LPARAM data, WPARAM, int width, int height) -> BOOL {
        auto* s = reinterpret_cast<Seen*>(data);
        s->width = width;
        s->height = height;
        return SetPixel(dc, 0, 0, RGB(0, 0, 0)) != CLR_INVALID;
    };
    c.Fill(kWhite);
    EXPECT_TRUE(DrawStateW(c.dc(), nullptr, draw, reinterpret_cast<LPARAM>(&seen), 0, 10, 5, 7, 3, DST_COMPLEX));
    EXPECT_EQ(seen.width, 7);
    EXPECT_EQ(seen.height, 3);
    EXPECT_EQ(GetPixel(c.dc(), 10, 5), kBlack);
    EXPECT_EQ(c.Count(kBlack), 1);
    // Without a size a callback cannot be drawn.
    EXPECT_FALSE(DrawStateW(c.dc(), nullptr, draw, reinterpret_cast<LPARAM>(&seen), 0, 0, 0, 0, 0, DST_COMPLEX));
}

TEST(GdiCopyImage, BitmapsAndIconsAreCopiedAndResized) {
    SquareBitmap original;
    HBITMAP copy = reinterpret_cast<HBITMAP>(CopyImage(original.bitmap(), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(copy, nullptr);
    // A copy of its own: drawing on the original leaves it.
    original.Fill(kRed);
    Canvas view(4, 4);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, copy);
    BitBlt(view.dc(), 0, 0, 4, 4, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    EXPECT_EQ(view.Picture(), Rows({"....", ".##.", ".##.", "...."}));

    HBITMAP doubled = reinterpret_cast<HBITMAP>(CopyImage(copy, IMAGE_BITMAP, 8, 8, LR_COPYDELETEORG));
    ASSERT_NE(doubled, nullptr);
    EXPECT_EQ(GetObjectType(copy), 0u); // deleted
    BITMAP bm{};
    GetObjectW(doubled, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 8);
    EXPECT_EQ(bm.bmHeight, 8);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(CopyImage(doubled, IMAGE_BITMAP, 8, 0, LR_COPYRETURNORG)), doubled);
    HBITMAP mono = reinterpret_cast<HBITMAP>(CopyImage(doubled, IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
    GetObjectW(mono, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1);

    HICON icon = LoadIconW(nullptr, IDI_INFORMATION);
    HICON small = reinterpret_cast<HICON>(CopyImage(icon, IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(small, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(small, &info));
    GetObjectW(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_TRUE(DestroyIcon(small));
    EXPECT_EQ(CopyImage(icon, IMAGE_BITMAP, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DeleteDC(mem);
    DeleteObject(doubled);
    DeleteObject(mono);
}

} // namespace
