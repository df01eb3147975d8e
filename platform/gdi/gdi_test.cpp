// Tests of the drawing layer: objects and DC state, pixel coverage of shapes, block transfers, image loading,
// text measurement and window surfaces saved as PNG files.
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/gdi/gdi_test_support.h"
#include "platform/gdi/rect.h"
#include "platform/gdi/surface.h"
#include "platform/gdi/wingdi.h"
#include "platform/testing/scratch_drive.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace platform::gdi::test;

// ---- Objects and device-context state ----

TEST(GdiObjects, SelectObjectReturnsThePreviousObjectOfEachKind) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetObjectType(dc), OBJ_MEMDC);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HBRUSH brush = CreateSolidBrush(kBlue);
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
    HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, font), GetStockObject(SYSTEM_FONT));
    HGDIOBJ firstBitmap = SelectObject(dc, bitmap);
    ASSERT_NE(firstBitmap, nullptr);
    EXPECT_EQ(GetObjectType(firstBitmap), OBJ_BITMAP);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetObjectType(pen), OBJ_PEN);
    EXPECT_EQ(GetObjectType(brush), OBJ_BRUSH);
    EXPECT_EQ(GetObjectType(font), OBJ_FONT);

    // Objects in use cannot be deleted; a bitmap lives in one DC at a time.
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(bitmap));
    HDC other = CreateCompatibleDC(dc);
    EXPECT_EQ(SelectObject(other, bitmap), nullptr);
    // The stock bitmap of new memory DCs may be in many.
    EXPECT_NE(SelectObject(other, firstBitmap), nullptr);

    EXPECT_EQ(SelectObject(dc, GetStockObject(BLACK_PEN)), pen);
    EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_BRUSH)), brush);
    EXPECT_EQ(SelectObject(dc, GetStockObject(SYSTEM_FONT)), font);
    EXPECT_EQ(SelectObject(dc, firstBitmap), bitmap);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(pen), static_cast<HGDIOBJ>(brush), static_cast<HGDIOBJ>(font),
                      static_cast<HGDIOBJ>(bitmap)})
        EXPECT_TRUE(DeleteObject(o));
    EXPECT_EQ(GetObjectType(pen), 0u);
    EXPECT_EQ(SelectObject(dc, pen), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // Stock objects survive deletion.
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), OBJ_BRUSH);
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
}

TEST(GdiObjects, GetObjectDescribesBitmapsPensBrushesAndFonts) {
    HBITMAP b = CreateBitmap(7, 5, 1, 1, nullptr);
    BITMAP bm{};
    EXPECT_EQ(GetObjectW(b, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
    EXPECT_EQ(bm.bmWidth, 7);
    EXPECT_EQ(bm.bmHeight, 5);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_EQ(bm.bmWidthBytes, 2);
    EXPECT_EQ(GetObjectW(b, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    DeleteObject(b);

    HPEN pen = CreatePen(PS_DOT, 1, kRed);
    LOGPEN lp{};
    ASSERT_EQ(GetObjectW(pen, sizeof(lp), &lp), static_cast<int>(sizeof(lp)));
    EXPECT_EQ(lp.lopnStyle, static_cast<UINT>(PS_DOT));
    EXPECT_EQ(lp.lopnColor, kRed);
    DeleteObject(pen);

    LOGBRUSH lb{};
    ASSERT_GT(GetObjectW(GetSysColorBrush(COLOR_BTNFACE), sizeof(lb), &lb), 0);
    EXPECT_EQ(lb.lbColor, GetSysColor(COLOR_BTNFACE));
    LOGFONTW lf{};
    ASSERT_EQ(GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(GetObjectW(reinterpret_cast<HGDIOBJ>(0x1234), sizeof(lf), &lf), 0);
}

TEST(GdiObjects, SaveAndRestoreBringBackObjectsAndColours) {
    Canvas c(4, 4);
    HDC dc = c.dc();
    HPEN red = CreatePen(PS_SOLID, 1, kRed);
    HBRUSH blue = CreateSolidBrush(kBlue);
    SetTextColor(dc, kRed);
    int first = SaveDC(dc);
    EXPECT_EQ(first, 1);
    SelectObject(dc, red);
    SetBkMode(dc, TRANSPARENT);
    int second = SaveDC(dc);
    EXPECT_EQ(second, 2);
    SelectObject(dc, blue);
    SetTextColor(dc, kBlue);
    EXPECT_EQ(SaveDC(dc), 3);

    EXPECT_TRUE(RestoreDC(dc, -1));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), blue);
    EXPECT_TRUE(RestoreDC(dc, second));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), red);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetTextColor(dc), kRed);
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    // The blue brush is free again; the red pen is still in use.
    EXPECT_FALSE(DeleteObject(red));
    EXPECT_TRUE(DeleteObject(blue));
    EXPECT_FALSE(RestoreDC(dc, 2)); // gone with the restore
    EXPECT_TRUE(RestoreDC(dc, first));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_FALSE(RestoreDC(dc, -1));
    EXPECT_TRUE(DeleteObject(red));
}

TEST(GdiObjects, SystemColoursAndTheirBrushes) {
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), kWhite);
    EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), kBlack);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
    EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));
    EXPECT_EQ(GetSysColorBrush(99), nullptr);
    // A class brush written as colour index + 1 fills with that colour.
    Canvas c(2, 2);
    RECT r{0, 0, 2, 2};
    EXPECT_NE(FillRect(c.dc(), &r, reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_BTNSHADOW + 1))), 0);
    EXPECT_EQ(GetPixel(c.dc(), 1, 1), GetSysColor(COLOR_BTNSHADOW));
}

// ---- Pixel coverage ----

TEST(GdiShapes, FillRectCoversLeftToRightMinusOne) {
    Canvas c(6, 5);
    RECT r{1, 1, 4, 3};
    FillRect(c.dc(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(c.Picture(), Rows({"......", ".###..", ".###..", "......", "......"}));
    RECT empty{3, 3, 3, 5};
    FillRect(c.dc(), &empty, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    FrameRect(c.dc(), &empty, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(c.Count(kBlack), 6);
}

TEST(GdiShapes, FrameFocusAndEdgeRectangles) {
    Canvas c(6, 5);
    RECT r{0, 0, 5, 4};
    FrameRect(c.dc(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(c.Picture(), Rows({"#####.", "#...#.", "#...#.", "#####.", "......"}));
    c.Fill(kWhite);
    DrawFocusRect(c.dc(), &r);
    EXPECT_EQ(c.Picture(), Rows({"#.#.#.", "......", "#...#.", ".#.#..", "......"}));
    DrawFocusRect(c.dc(), &r); // a second call takes it away
    EXPECT_EQ(c.Count(kWhite), 30);

    RECT e{0, 0, 6, 5};
    DrawEdge(c.dc(), &e, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(GetPixel(c.dc(), 5, 4), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(GetPixel(c.dc(), 1, 1), GetSysColor(COLOR_3DDKSHADOW));
    EXPECT_EQ(GetPixel(c.dc(), 4, 3), GetSysColor(COLOR_3DLIGHT));
    EXPECT_TRUE(Is(e, 2, 2, 4, 3));
}

TEST(GdiShapes, OnePixelLinesLeaveOutTheirLastPoint) {
    Canvas c(6, 5);
    HDC dc = c.dc();
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, 5, 0);
    MoveToEx(dc, 0, 1, nullptr);
    LineTo(dc, 3, 4);
    POINT pos{};
    GetCurrentPositionEx(dc, &pos);
    EXPECT_EQ(pos.x, 3);
    EXPECT_EQ(pos.y, 4);
    EXPECT_EQ(c.Picture(), Rows({"#####.", "#.....", ".#....", "..#...", "......"}));

    // A dotted pen: three pixels on, three off; the gaps take the background colour in opaque mode.
    c.Fill(kWhite);
    HPEN dot = CreatePen(PS_DOT, 1, kBlack);
    HGDIOBJ old = SelectObject(dc, dot);
    SetBkColor(dc, kRed);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, 6, 0);
    SetBkMode(dc, TRANSPARENT);
    MoveToEx(dc, 0, 2, nullptr);
    LineTo(dc, 6, 2);
    SelectObject(dc, GetStockObject(NULL_PEN));
    MoveToEx(dc, 0, 4, nullptr);
    LineTo(dc, 6, 4);
    SelectObject(dc, old);
    DeleteObject(dot);
    EXPECT_EQ(c.Picture(), Rows({"###???", "......", "###...", "......", "......"}));
}

TEST(GdiShapes, RectangleWithPenAndBrush) {
    Canvas c(7, 6);
    HDC dc = c.dc();
    HBRUSH red = CreateSolidBrush(kRed);
    HGDIOBJ old = SelectObject(dc, red);
    Rectangle(dc, 1, 1, 6, 5);
    EXPECT_EQ(c.Picture(), Rows({".......", ".#####.", ".#???#.", ".#???#.", ".#####.", "......."}));
    EXPECT_EQ(c.Count(kRed), 6);

    // Without a pen the filled area is one pixel smaller at the right and bottom.
    c.Fill(kWhite);
    SelectObject(dc, GetStockObject(NULL_PEN));
    Rectangle(dc, 1, 1, 6, 5);
    EXPECT_EQ(c.Picture(), Rows({".......", ".????..", ".????..", ".????..", ".......", "......."}));

    // With a null brush only the frame is drawn.
    c.Fill(kWhite);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 0, 0, 3, 3);
    EXPECT_EQ(c.Picture(), Rows({"###....", "#.#....", "###....", ".......", ".......", "......."}));
    SelectObject(dc, old);
    DeleteObject(red);
}

TEST(GdiShapes, EllipseOutlineIsClosedForFloodFill) {
    Canvas c(21, 15);
    HDC dc = c.dc();
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, 2, 2, 19, 13);
    int outline = c.Count(kBlack);
    EXPECT_GT(outline, 30);
    // Symmetric about both axes of its box.
    for (int y = 2; y < 13; ++y)
        for (int x = 2; x < 19; ++x) {
            EXPECT_EQ(GetPixel(dc, x, y), GetPixel(dc, 20 - x, y)) << x << "," << y;
            EXPECT_EQ(GetPixel(dc, x, y), GetPixel(dc, x, 14 - y)) << x << "," << y;
        }
    HBRUSH red = CreateSolidBrush(kRed);
    HGDIOBJ old = SelectObject(dc, red);
    EXPECT_TRUE(FloodFill(dc, 10, 7, kBlack));
    EXPECT_GT(c.Count(kRed), 80);
    // Nothing leaked outside the outline.
    EXPECT_EQ(GetPixel(dc, 0, 0), kWhite);
    EXPECT_EQ(GetPixel(dc, 2, 2), kWhite);
    EXPECT_EQ(GetPixel(dc, 20, 14), kWhite);
    EXPECT_EQ(c.Count(kBlack), outline);
    // Seeding on the border colour fills nothing.
    EXPECT_FALSE(FloodFill(dc, 10, 2, kBlack));
    // A surface fill replaces one colour.
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    EXPECT_TRUE(ExtFloodFill(dc, 10, 7, kRed, FLOODFILLSURFACE));
    EXPECT_EQ(c.Count(kRed), 0);
    SelectObject(dc, old);
    DeleteObject(red);
}

TEST(GdiShapes, PieAndPolygonFillInsideTheirOutline) {
    Canvas c(20, 20);
    HDC dc = c.dc();
    HBRUSH red = CreateSolidBrush(kRed);
    HGDIOBJ old = SelectObject(dc, red);
    // The upper-right quarter: counter-clockwise from the right to the top.
    Pie(dc, 0, 0, 20, 20, 20, 10, 10, 0);
    EXPECT_EQ(GetPixel(dc, 15, 5), kRed);
    EXPECT_EQ(GetPixel(dc, 5, 5), kWhite);
    EXPECT_EQ(GetPixel(dc, 15, 15), kWhite);
    c.Fill(kWhite);
    POINT tri[3] = {{1, 1}, {18, 1}, {1, 18}};
    Polygon(dc, tri, 3);
    EXPECT_EQ(GetPixel(dc, 1, 1), kBlack);
    EXPECT_EQ(GetPixel(dc, 4, 4), kRed);
    EXPECT_EQ(GetPixel(dc, 15, 15), kWhite);
    SelectObject(dc, old);
    DeleteObject(red);
}

TEST(GdiShapes, PixelsOutsideTheBitmapAreInvalid) {
    Canvas c(3, 3);
    EXPECT_EQ(SetPixel(c.dc(), 1, 1, kRed), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 1, 1), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 3, 0), CLR_INVALID);
    EXPECT_EQ(SetPixel(c.dc(), -1, 0, kRed), CLR_INVALID);
    // Clipping and the viewport origin move and cut drawing.
    SetViewportOrgEx(c.dc(), 1, 1, nullptr);
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), kRed);
    EXPECT_EQ(IntersectClipRect(c.dc(), 0, 0, 1, 1), SIMPLEREGION);
    RECT all{-1, -1, 2, 2};
    FillRect(c.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetViewportOrgEx(c.dc(), 0, 0, nullptr);
    EXPECT_EQ(c.Count(kBlack), 1);
}

// ---- Block transfers ----

TEST(GdiBlt, RasterOperationsCombineSourceDestinationAndPattern) {
    // Source pixel S, destination pixel D and brush P run through each operation.
    struct Case {
        DWORD rop;
        COLORREF expected;
    };
    constexpr COLORREF S = RGB(0xF0, 0x0F, 0xAA), D = RGB(0xCC, 0x33, 0x55), P = RGB(0x12, 0x34, 0x56);
    const Case cases[] = {
        {SRCCOPY, S},
        {SRCAND, S & D},
        {SRCPAINT, S | D},
        {SRCINVERT, S ^ D},
        {NOTSRCCOPY, ~S & 0xFFFFFF},
        {SRCERASE, S & ~D & 0xFFFFFF},
        {MERGECOPY, S & P},
        {PATCOPY, P},
        {PATINVERT, P ^ D},
        {DSTINVERT, ~D & 0xFFFFFF},
        {BLACKNESS, 0},
        {WHITENESS, 0xFFFFFF},
        {0x00E20746, (P & S) | (D & ~S & 0xFFFFFF)}, // pattern where the source is white
        {0x00B8074A, (P & ~S & 0xFFFFFF) | (D & S)}, // pattern where the source is black
    };
    Canvas src(2, 2), dst(2, 2);
    src.Fill(S);
    HBRUSH pattern = CreateSolidBrush(P);
    HGDIOBJ old = SelectObject(dst.dc(), pattern);
    for (const Case& k : cases) {
        dst.Fill(D);
        ASSERT_TRUE(BitBlt(dst.dc(), 0, 0, 2, 2, src.dc(), 0, 0, k.rop));
        EXPECT_EQ(GetPixel(dst.dc(), 1, 1), k.expected) << std::hex << k.rop;
    }
    // Operations without a source need none.
    EXPECT_TRUE(BitBlt(dst.dc(), 0, 0, 2, 2, nullptr, 0, 0, WHITENESS));
    EXPECT_FALSE(BitBlt(dst.dc(), 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY));
    dst.Fill(D);
    EXPECT_TRUE(PatBlt(dst.dc(), 1, 0, 1, 2, PATCOPY));
    EXPECT_EQ(GetPixel(dst.dc(), 1, 0), P);
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), D);
    SelectObject(dst.dc(), old);
    DeleteObject(pattern);
}

TEST(GdiBlt, BitBltCopiesOnlyItsRectangleAndStretchBltScalesAndMirrors) {
    Canvas src(3, 2), dst(6, 4);
    SetPixel(src.dc(), 0, 0, kRed);
    SetPixel(src.dc(), 2, 1, kBlue);
    ASSERT_TRUE(BitBlt(dst.dc(), 1, 1, 2, 2, src.dc(), 1, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(dst.dc(), 2, 2), kBlue);
    EXPECT_EQ(dst.Count(kWhite), 23);

    dst.Fill(kWhite);
    ASSERT_TRUE(StretchBlt(dst.dc(), 0, 0, 6, 4, src.dc(), 0, 0, 3, 2, SRCCOPY));
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
        EXPECT_EQ(GetPixel(dst.dc(), x, y), kRed);
    for (auto [x, y] : {std::pair{4, 2}, {5, 2}, {4, 3}, {5, 3}})
        EXPECT_EQ(GetPixel(dst.dc(), x, y), kBlue);
    EXPECT_EQ(dst.Count(kWhite), 16);

    // A negative destination width mirrors the picture.
    dst.Fill(kWhite);
    ASSERT_TRUE(StretchBlt(dst.dc(), 2, 0, -3, 2, src.dc(), 0, 0, 3, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(dst.dc(), 1, 0), kRed);
    EXPECT_EQ(GetPixel(dst.dc(), -1 + 0, 1), CLR_INVALID);
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), kWhite);

    // Halftone shrinking averages.
    Canvas stripes(2, 1);
    SetPixel(stripes.dc(), 0, 0, kBlack);
    Canvas one(1, 1);
    SetStretchBltMode(one.dc(), HALFTONE);
    StretchBlt(one.dc(), 0, 0, 1, 1, stripes.dc(), 0, 0, 2, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(one.dc(), 0, 0), RGB(127, 127, 127));
}

TEST(GdiBlt, MonochromeBitmapsFollowTheTextAndBackgroundColours) {
    // Colour to monochrome: the source's background colour turns white, every other colour black.
    Canvas colour(3, 1);
    SetPixel(colour.dc(), 0, 0, kRed);
    SetPixel(colour.dc(), 1, 0, kBlue);
    SetBkColor(colour.dc(), kRed);
    HDC monoDc = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(monoDc, 3, 1); // a fresh memory DC is monochrome
    BITMAP bm{};
    GetObjectW(mono, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    HGDIOBJ old = SelectObject(monoDc, mono);
    ASSERT_TRUE(BitBlt(monoDc, 0, 0, 3, 1, colour.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(monoDc, 0, 0), kWhite);
    EXPECT_EQ(GetPixel(monoDc, 1, 0), kBlack);
    EXPECT_EQ(GetPixel(monoDc, 2, 0), kBlack);
    // Monochrome to colour: white takes the destination's background colour, black its text colour.
    Canvas out(3, 1);
    SetBkColor(out.dc(), kBlue);
    SetTextColor(out.dc(), kRed);
    ASSERT_TRUE(BitBlt(out.dc(), 0, 0, 3, 1, monoDc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(out.dc(), 0, 0), kBlue);
    EXPECT_EQ(GetPixel(out.dc(), 1, 0), kRed);
    // Drawing on a monochrome bitmap picks the nearer of black and white.
    EXPECT_EQ(SetPixel(monoDc, 0, 0, RGB(30, 30, 30)), kBlack);
    EXPECT_EQ(SetPixel(monoDc, 0, 0, RGB(200, 200, 200)), kWhite);
    SelectObject(monoDc, old);
    DeleteObject(mono);
    DeleteDC(monoDc);
}

TEST(GdiBlt, DibSectionBitsFollowDrawing) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 2, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* px = static_cast<uint32_t*>(bits);
    px[1] = 0x00FF0000; // top row, second pixel: red
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, dib);
    EXPECT_EQ(GetPixel(dc, 1, 0), kRed);
    SetPixel(dc, 0, 1, kBlue);
    EXPECT_EQ(px[2], 0x000000FFu);
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectW(dib, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBmih.biBitCount, 32);

    // GetDIBits with no bits reports the header; with bits, bottom-up rows.
    BITMAPINFO query{};
    query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(GetDIBits(dc, dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 2);
    EXPECT_EQ(query.bmiHeader.biWidth, 2);
    EXPECT_EQ(query.bmiHeader.biHeight, 2);
    query.bmiHeader.biBitCount = 24;
    query.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> rows(16);
    SelectObject(dc, old);
    EXPECT_EQ(GetDIBits(dc, dib, 0, 2, rows.data(), &query, DIB_RGB_COLORS), 2);
    EXPECT_EQ(rows[0], 0xFF);     // bottom row first: blue at (0, 1)
    EXPECT_EQ(rows[8 + 5], 0xFF); // top row, second pixel: red
    DeleteDC(dc);
    DeleteObject(dib);
}

// ---- Image files ----

// Writes a BMP file in memory: pixels given top row first as COLORREFs, stored with `bpp` bits.
std::vector<uint8_t> MakeBmp(int bpp, bool topDown, const std::vector<std::vector<COLORREF>>& pixels,
                             const std::vector<COLORREF>& palette = {}) {
    int w = static_cast<int>(pixels[0].size()), h = static_cast<int>(pixels.size());
    size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
    std::vector<uint8_t> bits;
    for (int r = 0; r < h; ++r) {
        const auto& row = pixels[topDown ? r : h - 1 - r];
        std::vector<uint8_t> line(stride, 0);
        for (int x = 0; x < w; ++x) {
            COLORREF c = row[x];
            if (bpp <= 8) {
                size_t index = 0;
                while (index < palette.size() && palette[index] != c)
                    ++index;
                if (bpp == 1)
                    line[x / 8] |= static_cast<uint8_t>(index << (7 - x % 8));
                else if (bpp == 4)
                    line[x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
                else
                    line[x] = static_cast<uint8_t>(index);
            } else {
                int bytes = bpp / 8;
                line[x * bytes] = GetBValue(c);
                line[x * bytes + 1] = GetGValue(c);
                line[x * bytes + 2] = GetRValue(c);
            }
        }
        bits.insert(bits.end(), line.begin(), line.end());
    }
    std::vector<uint8_t> file(14 + 40);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&file[at], &v, 2); };
    file[0] = 'B';
    file[1] = 'M';
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(topDown ? -h : h));
    put16(26, 1);
    put16(28, static_cast<uint16_t>(bpp));
    put32(46, static_cast<uint32_t>(palette.size()));
    for (COLORREF c : palette) {
        uint8_t q[4] = {GetBValue(c), GetGValue(c), GetRValue(c), 0};
        file.insert(file.end(), q, q + 4);
    }
    put32(10, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), bits.begin(), bits.end());
    put32(2, static_cast<uint32_t>(file.size()));
    return file;
}

class GdiFiles : public testsupport::ScratchDriveTest {
protected:
    // Writes the file into T:\ and returns its Windows path.
    std::u16string Write(const std::string& name, const std::vector<uint8_t>& data) {
        m_drive.Write(name, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        return m_drive.Path(name);
    }
    static HBITMAP Load(const std::u16string& path) {
        return reinterpret_cast<HBITMAP>(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    }
};

TEST_F(GdiFiles, BmpFilesOfEveryDepthLoad) {
    const std::vector<std::vector<COLORREF>> picture = {{kRed, kWhite, kBlue}, {kBlack, kBlue, kRed}};
    const std::vector<std::vector<COLORREF>> twoTone = {{kBlack, kWhite, kBlack}, {kWhite, kWhite, kBlack}};
    struct Case {
        int bpp;
        bool topDown;
        bool mono;
    };
    for (Case k :
         {Case{1, false, true}, Case{1, true, true}, Case{4, false, false}, Case{8, false, false}, Case{8, true, false},
          Case{24, false, false}, Case{24, true, false}, Case{32, false, false}, Case{32, true, false}}) {
        const auto& pixels = k.mono ? twoTone : picture;
        std::vector<COLORREF> palette;
        if (k.bpp == 1)
            palette = {kBlack, kWhite};
        else if (k.bpp <= 8)
            palette = {kRed, kWhite, kBlue, kBlack};
        auto path = Write("image.bmp", MakeBmp(k.bpp, k.topDown, pixels, palette));
        HBITMAP b = Load(path);
        ASSERT_NE(b, nullptr) << k.bpp << " " << k.topDown;
        BITMAP bm{};
        GetObjectW(b, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, 3);
        EXPECT_EQ(bm.bmHeight, 2);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, b);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(GetPixel(dc, x, y), pixels[y][x]) << k.bpp << " " << k.topDown << " " << x << "," << y;
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(b);
    }
}

TEST_F(GdiFiles, Rle8BitmapsDecode) {
    auto file = MakeBmp(8, false, {{kRed, kRed, kRed, kBlue}}, {kRed, kBlue});
    // Replace the pixels with runs: three of colour 0, one of colour 1, end of line, end of bitmap.
    file.resize(14 + 40 + 8);
    const uint8_t runs[] = {3, 0, 1, 1, 0, 0, 0, 1};
    file.insert(file.end(), runs, runs + sizeof(runs));
    uint32_t compression = BI_RLE8, size = static_cast<uint32_t>(file.size());
    std::memcpy(&file[30], &compression, 4);
    std::memcpy(&file[2], &size, 4);
    HBITMAP b = Load(Write("rle.bmp", file));
    ASSERT_NE(b, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    EXPECT_EQ(GetPixel(dc, 0, 0), kRed);
    EXPECT_EQ(GetPixel(dc, 2, 0), kRed);
    EXPECT_EQ(GetPixel(dc, 3, 0), kBlue);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(b);
}

TEST_F(GdiFiles, DamagedBmpFilesFailCleanly) {
    auto good = MakeBmp(24, false, {{kRed, kBlue, kRed}, {kBlue, kRed, kBlue}});
    // Every truncation fails with an error; the sanitizers catch any read past the data.
    for (size_t size : {size_t{0}, size_t{2}, size_t{13}, size_t{20}, size_t{53}, good.size() - 1}) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        SetLastError(0);
        EXPECT_EQ(Load(Write("cut.bmp", cut)), nullptr) << size;
        EXPECT_NE(GetLastError(), 0u) << size;
    }
    auto patch = [&](size_t at, uint32_t value) {
        auto bad = good;
        std::memcpy(&bad[at], &value, 4);
        return bad;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"pixels start past the end", patch(10, 100000)},
        {"pixels start inside the header", patch(10, 20)},
        {"huge width", patch(18, 0x7FFFFFFF)},
        {"zero width", patch(18, 0)},
        {"header size past the end", patch(14, 4000)},
        {"unknown compression", patch(30, 9)},
        {"colour table past the end", patch(46, 200)},
    };
    for (const Case& k : cases) {
        SetLastError(0);
        EXPECT_EQ(Load(Write("bad.bmp", k.data)), nullptr) << k.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << k.what;
    }
    // A wrong depth for the palette and a missing file.
    EXPECT_EQ(Load(Write("odd.bmp",
                         [&] {
                             auto bad = good;
                             bad[28] = 7;
                             return bad;
                         }())),
              nullptr);
    EXPECT_EQ(Load(u"T:\\missing.bmp"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // An RLE run that jumps past the bitmap stops at its edge.
    auto rle = MakeBmp(8, false, {{kRed, kBlue}}, {kRed, kBlue});
    rle.resize(rle.size() - 4);
    const uint8_t runs[] = {0, 2, 200, 200, 255, 1, 0, 0, 0, 0};
    rle.insert(rle.end(), runs, runs + sizeof(runs));
    uint32_t compression = BI_RLE8;
    std::memcpy(&rle[30], &compression, 4);
    HBITMAP b = Load(Write("rle.bmp", rle));
    EXPECT_NE(b, nullptr);
    DeleteObject(b);
}

TEST_F(GdiFiles, BitmapAndIconResourcesLoad) {
    HBITMAP b = LoadBitmapW(nullptr, MAKEINTRESOURCEW(100));
    ASSERT_NE(b, nullptr);
    BITMAP bm{};
    GetObjectW(b, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 3);
    EXPECT_EQ(bm.bmHeight, 2);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    EXPECT_EQ(GetPixel(dc, 0, 0), kRed);
    EXPECT_EQ(GetPixel(dc, 2, 0), kBlue);
    EXPECT_EQ(GetPixel(dc, 2, 1), RGB(128, 128, 128));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(b);
    EXPECT_EQ(LoadBitmapW(nullptr, MAKEINTRESOURCEW(101)), nullptr);

    // The icon: a red square on a transparent ground, drawn at its own size and stretched.
    HICON icon = reinterpret_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(200), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(icon, nullptr);
    Canvas c(32, 32);
    c.Fill(kBlue);
    ASSERT_TRUE(DrawIconEx(c.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), kBlue);
    EXPECT_EQ(GetPixel(c.dc(), 4, 4), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 11, 11), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 12, 12), kBlue);
    EXPECT_EQ(c.Count(kRed), 64);
    c.Fill(kBlue);
    DrawIconEx(c.dc(), 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(c.Count(kRed), 256);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    GetObjectW(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    GetObjectW(info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon));

    // LoadIconW shares one icon per name; the system icons exist.
    HICON a = LoadIconW(nullptr, MAKEINTRESOURCEW(200));
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(200)), a);
    HICON warning = LoadIconW(nullptr, IDI_WARNING);
    ASSERT_NE(warning, nullptr);
    c.Fill(kWhite);
    DrawIcon(c.dc(), 0, 0, warning);
    EXPECT_GT(32 * 32 - c.Count(kWhite), 200);
}

TEST_F(GdiFiles, IconFilesWithAlphaBlend) {
    // One 2x1 32-bit image: an opaque red pixel and a half-transparent blue one.
    std::vector<uint8_t> image(40);
    BITMAPINFOHEADER h{40, 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::memcpy(image.data(), &h, 40);
    const uint8_t pixels[] = {0, 0, 255, 255, 255, 0, 0, 128};
    image.insert(image.end(), pixels, pixels + 8);
    image.insert(image.end(), 4, 0); // AND mask row
    std::vector<uint8_t> file = {0, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 0, 32, 0};
    uint32_t bytes = static_cast<uint32_t>(image.size()), offset = 22;
    file.insert(file.end(), reinterpret_cast<uint8_t*>(&bytes), reinterpret_cast<uint8_t*>(&bytes) + 4);
    file.insert(file.end(), reinterpret_cast<uint8_t*>(&offset), reinterpret_cast<uint8_t*>(&offset) + 4);
    file.insert(file.end(), image.begin(), image.end());
    auto path = Write("alpha.ico", file);
    HICON icon = reinterpret_cast<HICON>(LoadImageW(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    ASSERT_NE(icon, nullptr);
    Canvas c(2, 1);
    DrawIconEx(c.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 1, 0), RGB(127, 127, 255));
    DestroyIcon(icon);
    // Damaged icon files fail.
    for (size_t size : {size_t{3}, size_t{10}, size_t{30}, file.size() - 1}) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        auto p = Write("cut.ico", cut);
        EXPECT_EQ(LoadImageW(nullptr, p.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr) << size;
    }
}

// ---- Text ----

class GdiText : public ::testing::Test {
protected:
    void SetUp() override {
        font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"MS Shell Dlg");
        old = SelectObject(canvas.dc(), font);
    }
    void TearDown() override {
        SelectObject(canvas.dc(), old);
        DeleteObject(font);
    }
    SIZE Extent(const char16_t* s) {
        SIZE size{};
        GetTextExtentPoint32W(canvas.dc(), s, lstrlenW(s), &size);
        return size;
    }
    Canvas canvas{200, 80};
    HFONT font{};
    HGDIOBJ old{};
};

TEST_F(GdiText, MeasuresAddUpAndMatchTheMetrics) {
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(canvas.dc(), &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_GE(tm.tmHeight, 12);
    EXPECT_LE(tm.tmHeight, 16);
    EXPECT_GT(tm.tmAveCharWidth, 3);
    SIZE ab = Extent(u"ab"), a = Extent(u"a"), b = Extent(u"b");
    EXPECT_EQ(ab.cx, a.cx + b.cx);
    EXPECT_EQ(ab.cy, tm.tmHeight);
    EXPECT_GT(Extent(u"WWW").cx, Extent(u"iii").cx);
    EXPECT_EQ(Extent(u"").cx, 0);
    // A positive height asks for the cell height.
    HFONT cell = CreateFontW(20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Arial");
    SelectObject(canvas.dc(), cell);
    GetTextMetricsW(canvas.dc(), &tm);
    EXPECT_NEAR(tm.tmHeight, 20, 1);
    EXPECT_EQ(tm.tmWeight, FW_BOLD);
    SelectObject(canvas.dc(), font);
    DeleteObject(cell);
}

TEST_F(GdiText, DrawTextMeasuresLinesWordsAndPrefixes) {
    HDC dc = canvas.dc();
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    // Single line: the text's own extent.
    RECT r{10, 5, 10, 5};
    int height = DrawTextW(dc, u"Hello world", -1, &r, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(height, tm.tmHeight);
    EXPECT_EQ(r.right - r.left, Extent(u"Hello world").cx);
    EXPECT_EQ(r.bottom - r.top, tm.tmHeight);
    // The prefix character takes no room; "&&" is one ampersand.
    RECT p{0, 0, 0, 0};
    DrawTextW(dc, u"&File", -1, &p, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(p.right, Extent(u"File").cx);
    DrawTextW(dc, u"A&&B", -1, &p, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(p.right, Extent(u"A&B").cx);
    DrawTextW(dc, u"&File", -1, &p, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
    EXPECT_EQ(p.right, Extent(u"&File").cx);
    // Line breaks.
    RECT m{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(dc, u"one\r\ntwo\nthree", -1, &m, DT_CALCRECT), 3 * tm.tmHeight);
    EXPECT_EQ(m.right, Extent(u"three").cx);

    // Word break: the lines hold whole words that fit the width.
    int word = Extent(u"alpha").cx, space = Extent(u" ").cx;
    RECT w{0, 0, 2 * word + space, 0};
    EXPECT_EQ(DrawTextW(dc, u"alpha alpha alpha alpha alpha", -1, &w, DT_WORDBREAK | DT_CALCRECT), 3 * tm.tmHeight);
    EXPECT_EQ(w.right, 2 * word + space);
    RECT narrow{0, 0, 2 * word + space - 1, 0};
    EXPECT_EQ(DrawTextW(dc, u"alpha alpha alpha alpha alpha", -1, &narrow, DT_WORDBREAK | DT_CALCRECT),
              5 * tm.tmHeight);
    // A word wider than the line is broken between characters.
    RECT tiny{0, 0, word / 2, 0};
    EXPECT_GE(DrawTextW(dc, u"alpha", -1, &tiny, DT_WORDBREAK | DT_CALCRECT), 2 * tm.tmHeight);
}

TEST_F(GdiText, EllipsesKeepTheTextInsideItsRectangle) {
    HDC dc = canvas.dc();
    const char16_t* text = u"A long line of text that will not fit";
    int limit = Extent(text).cx / 2;
    RECT r{0, 0, limit, 20};
    DrawTextW(dc, text, -1, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT);
    EXPECT_LE(r.right, limit);
    EXPECT_GT(r.right, limit / 2);
    // The modified string ends in the ellipsis.
    std::u16string buffer = text;
    buffer.resize(buffer.size() + 4);
    RECT m{0, 0, limit, 20};
    DrawTextW(dc, buffer.data(), static_cast<int>(lstrlenW(text)), &m,
              DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING);
    std::u16string shown(buffer.c_str());
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.substr(shown.size() - 3), u"...");
    EXPECT_LE(Extent(shown.c_str()).cx, limit);
    // A path keeps its last part.
    const char16_t* path = u"C:\\Documents\\Projects\\Reports\\Summary.txt";
    RECT pr{0, 0, Extent(u"C:\\Doc...\\Summary.txt").cx, 20};
    std::u16string pbuf = path;
    pbuf.resize(pbuf.size() + 4);
    DrawTextW(dc, pbuf.data(), lstrlenW(path), &pr, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    std::u16string pshown(pbuf.c_str());
    EXPECT_NE(pshown.find(u"...\\Summary.txt"), std::u16string::npos) << platform::Utf16ToUtf8(pshown);
    EXPECT_LE(Extent(pshown.c_str()).cx, pr.right);
}

TEST_F(GdiText, TextIsDrawnInTheTextColourWithinItsRectangle) {
    HDC dc = canvas.dc();
    SetTextColor(dc, kBlack);
    SetBkMode(dc, TRANSPARENT);
    RECT r{10, 10, 190, 70};
    int h = DrawTextW(dc, u"Centred", -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    EXPECT_EQ(h, (60 - tm.tmHeight) / 2 + tm.tmHeight);
    int dark = 0, outside = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 200; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            if (GetRValue(c) < 128) {
                ++dark;
                int w = Extent(u"Centred").cx;
                if (x < 100 - w / 2 - 2 || x > 100 + w / 2 + 2 || y < 40 - tm.tmHeight || y > 40 + tm.tmHeight)
                    ++outside;
            }
        }
    EXPECT_GT(dark, 20);
    EXPECT_EQ(outside, 0);
    // Opaque text fills its cell with the background colour.
    canvas.Fill(kWhite);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, kBlue);
    TextOutW(dc, 0, 0, u"x", 1);
    EXPECT_EQ(GetPixel(dc, 0, 0), kBlue);
    EXPECT_EQ(GetPixel(dc, 0, tm.tmHeight), kWhite);
    // Clipped to the rectangle.
    canvas.Fill(kWhite);
    RECT clip{0, 0, 4, 4};
    DrawTextW(dc, u"WWWW", -1, &clip, DT_SINGLELINE);
    EXPECT_EQ(GetPixel(dc, 5, 2), kWhite);
    EXPECT_EQ(GetPixel(dc, 2, 5), kWhite);
}

// ---- Window surfaces ----

int DarkPixels(const std::string& png, int x0, int y0, int x1, int y1) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
    int n = 0;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        const unsigned char* data = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                uint32_t v;
                std::memcpy(&v, data + static_cast<size_t>(y) * stride + 4 * x, 4);
                n += ((v >> 16) & 0xFF) < 100 && ((v >> 8) & 0xFF) < 100 && (v & 0xFF) < 100;
            }
    }
    cairo_surface_destroy(s);
    return n;
}

TEST(GdiSurface, WindowDcsDrawAtTheClientOriginWithinTheirBounds) {
    platform::gdi::WindowSurface surface(40, 30, GetSysColor(COLOR_BTNFACE));
    // The client area starts at (3, 20) and is 34 x 7.
    HDC dc = surface.CreateDC(POINT{3, 20}, RECT{3, 20, 37, 27});
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetObjectType(dc), OBJ_DC);
    EXPECT_EQ(SelectObject(dc, CreateBitmap(1, 1, 1, 32, nullptr)), nullptr); // no bitmaps in window DCs
    RECT all{-10, -10, 100, 100};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(surface.GetPixel(3, 20), kBlack);
    EXPECT_EQ(surface.GetPixel(36, 26), kBlack);
    EXPECT_EQ(surface.GetPixel(2, 20), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(surface.GetPixel(3, 19), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(surface.GetPixel(37, 27), GetSysColor(COLOR_BTNFACE));
    RECT box{};
    EXPECT_EQ(GetClipBox(dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 34);
    EXPECT_EQ(box.bottom, 7);
    // Resizing keeps the pixels and the DC keeps drawing into the surface.
    ASSERT_TRUE(surface.Resize(50, 30));
    EXPECT_EQ(surface.GetPixel(3, 20), kBlack);
    EXPECT_EQ(surface.GetPixel(45, 5), kWhite);
    SetPixel(dc, 0, 0, kRed);
    EXPECT_EQ(surface.GetPixel(3, 20), kRed);
    EXPECT_TRUE(DeleteDC(dc));
}

// ---- Font files a program adds ----

class GdiFontResources : public testsupport::ScratchDriveTest {
protected:
    // DejaVu Sans Mono under a family of its own ("Kovra Fixed Test", as long as the old name, in every record of
    // the name table), so that only the added file can give that face name a fixed pitch.
    std::u16string WriteRenamedMono(const std::string& name) {
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(bytes.empty());
        auto replaceAll = [&](const std::string& from, const std::string& to) {
            for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
                bytes.replace(at, from.size(), to);
        };
        auto wide = [](const std::string& text) {
            std::string out;
            for (char c : text)
                out += std::string{'\0', c};
            return out;
        };
        replaceAll("DejaVu Sans Mono", "Kovra Fixed Test");
        replaceAll(wide("DejaVu Sans Mono"), wide("Kovra Fixed Test"));
        m_drive.Write(name, bytes);
        return m_drive.Path(name);
    }
    // Whether a new font of the face name draws "iiiii" as wide as "MMMMM".
    bool DrawsFixed(const char16_t* face) {
        HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
        const bool fixed = IsFixed(font);
        DeleteObject(font);
        return fixed;
    }
    bool IsFixed(HFONT font) {
        HGDIOBJ old = SelectObject(canvas.dc(), font);
        SIZE narrow{}, wide{};
        GetTextExtentPoint32W(canvas.dc(), u"iiiii", 5, &narrow);
        GetTextExtentPoint32W(canvas.dc(), u"MMMMM", 5, &wide);
        SelectObject(canvas.dc(), old);
        return narrow.cx > 0 && narrow.cx == wide.cx;
    }
    Canvas canvas{200, 40};
};

TEST_F(GdiFontResources, AnAddedFileServesItsFamilyUntilItsLastAdditionIsTakenBack) {
    const std::u16string file = WriteRenamedMono("fonts/KovraFixed.ttf");
    EXPECT_FALSE(DrawsFixed(u"Kovra Fixed Test")) << "an unknown face name takes the proportional face";

    EXPECT_EQ(AddFontResourceW(file.c_str()), 1);
    EXPECT_TRUE(DrawsFixed(u"Kovra Fixed Test"));
    EXPECT_TRUE(DrawsFixed(u"KOVRA FIXED TEST")) << "face names compare without regard to case";
    EXPECT_FALSE(DrawsFixed(u"MS Shell Dlg"));
    // Bold and italic fonts of the family take its one face.
    HFONT bold = CreateFontW(-16, 0, 0, 0, FW_BOLD, 1, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Kovra Fixed Test");
    EXPECT_TRUE(IsFixed(bold));

    // Added twice, it stays until the second removal; a font made while it was there keeps drawing with it.
    EXPECT_EQ(AddFontResourceW(m_drive.Path("FONTS/kovrafixed.TTF").c_str()), 1);
    EXPECT_TRUE(RemoveFontResourceW(file.c_str()));
    EXPECT_TRUE(DrawsFixed(u"Kovra Fixed Test"));
    EXPECT_TRUE(RemoveFontResourceW(file.c_str()));
    EXPECT_FALSE(DrawsFixed(u"Kovra Fixed Test"));
    EXPECT_TRUE(IsFixed(bold));
    DeleteObject(bold);
    SetLastError(0);
    EXPECT_FALSE(RemoveFontResourceW(file.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(GdiFontResources, WhatIsNoFontFileIsRefused) {
    m_drive.Write("notes.ttf", "not a font at all");
    m_drive.MakeFolder("folder.ttf");
    struct Case {
        std::u16string file;
        DWORD error;
    };
    for (const Case& c : {Case{m_drive.Path("missing.ttf"), ERROR_FILE_NOT_FOUND},
                          Case{m_drive.Path("folder.ttf"), ERROR_FILE_NOT_FOUND},
                          Case{m_drive.Path("notes.ttf"), ERROR_BAD_FORMAT}, Case{u"", ERROR_INVALID_PARAMETER}}) {
        SetLastError(0);
        EXPECT_EQ(AddFontResourceW(c.file.c_str()), 0) << platform::Utf16ToUtf8(c.file);
        EXPECT_EQ(GetLastError(), c.error) << platform::Utf16ToUtf8(c.file);
        EXPECT_FALSE(RemoveFontResourceW(c.file.c_str())) << platform::Utf16ToUtf8(c.file);
    }
    EXPECT_EQ(AddFontResourceW(nullptr), 0);
}

TEST(GdiSurface, AWindowWithItsChildSavesAsPngShowingText) {
    platform::machine::ScopedTestMachine machine;
    platform::gdi::WindowSurface parent(160, 60, GetSysColor(COLOR_BTNFACE));
    platform::gdi::WindowSurface child(80, 24, GetSysColor(COLOR_WINDOW));
    {
        HDC dc = child.CreateDC();
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        RECT r{0, 0, 80, 24};
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        DrawTextW(dc, u"&Name", -1, &r, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    {
        HDC dc = parent.CreateDC();
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, 8, 4, u"Backup settings", 15);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    std::string path = machine.Scratch("png") + "/window.png";
    ASSERT_TRUE(platform::gdi::ComposePng(160, 60,
                                          {{&parent, POINT{0, 0}, RECT{0, 0, 160, 60}},
                                           // The child is cut by its parent's client area.
                                           {&child, POINT{100, 30}, RECT{0, 0, 160, 50}}},
                                          path));
    EXPECT_GT(DarkPixels(path, 8, 4, 100, 20), 30);    // the parent's text
    EXPECT_GT(DarkPixels(path, 102, 32, 158, 50), 10); // the child's text
    EXPECT_EQ(DarkPixels(path, 100, 50, 160, 60), 0);  // cut away

    std::string childPng = machine.Scratch("png") + "/child.png";
    ASSERT_TRUE(child.SavePng(childPng));
    EXPECT_GT(DarkPixels(childPng, 2, 2, 78, 22), 10);
    EXPECT_FALSE(child.SavePng(machine.Scratch("png") + "/no/such/folder/child.png"));
}

// ---- Rectangles ----

TEST(GdiRect, HelpersFollowTheHalfOpenRule) {
    RECT a{}, b{}, out{};
    SetRect(&a, 0, 0, 10, 10);
    SetRect(&b, 5, 5, 15, 15);
    EXPECT_TRUE(IntersectRect(&out, &a, &b));
    EXPECT_TRUE(Is(out, 5, 5, 10, 10));
    SetRect(&b, 10, 0, 20, 10);
    EXPECT_FALSE(IntersectRect(&out, &a, &b));
    EXPECT_TRUE(IsRectEmpty(&out));
    EXPECT_TRUE(UnionRect(&out, &a, &b));
    EXPECT_TRUE(Is(out, 0, 0, 20, 10));
    EXPECT_TRUE(PtInRect(&a, POINT{0, 9}));
    EXPECT_FALSE(PtInRect(&a, POINT{10, 5}));
    InflateRect(&a, -2, 1);
    EXPECT_TRUE(Is(a, 2, -1, 8, 11));
    OffsetRect(&a, 1, 1);
    EXPECT_TRUE(Is(a, 3, 0, 9, 12));
    EXPECT_TRUE(EqualRect(&a, &a));
    EXPECT_FALSE(SetRect(nullptr, 0, 0, 1, 1));
    EXPECT_EQ(MulDiv(10, 3, 4), 8);
    EXPECT_EQ(MulDiv(-10, 3, 4), -8);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

} // namespace
