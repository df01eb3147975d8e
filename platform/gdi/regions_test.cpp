// Regions, clipping to them, foreground mixes and pattern brushes.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_test_support.h"
#include "platform/gdi/surface.h"
#include "platform/gdi/wingdi.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace platform::gdi::test;

// Fills the region black on a white canvas and returns the picture.
std::string Filled(HRGN region, int width, int height) {
    Canvas c(width, height);
    FillRgn(c.dc(), region, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return c.Picture();
}

TEST(GdiRegions, CombineRgnModes) {
    HRGN a = CreateRectRgn(0, 0, 5, 3);
    HRGN b = CreateRectRgn(3, 1, 7, 4);
    HRGN out = CreateRectRgn(0, 0, 0, 0);
    struct Case {
        int mode;
        int kind;
        std::string picture;
    };
    const Case cases[] = {
        {RGN_AND, SIMPLEREGION, Rows({"........", "...##...", "...##...", "........"})},
        {RGN_OR, COMPLEXREGION, Rows({"#####...", "#######.", "#######.", "...####."})},
        {RGN_XOR, COMPLEXREGION, Rows({"#####...", "###..##.", "###..##.", "...####."})},
        {RGN_DIFF, COMPLEXREGION, Rows({"#####...", "###.....", "###.....", "........"})},
        {RGN_COPY, SIMPLEREGION, Rows({"#####...", "#####...", "#####...", "........"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(CombineRgn(out, a, b, c.mode), c.kind);
        EXPECT_EQ(Filled(out, 8, 4), c.picture);
    }
    // Disjoint rectangles give nothing in common.
    HRGN far = CreateRectRgn(20, 20, 30, 30);
    EXPECT_EQ(CombineRgn(out, a, far, RGN_AND), NULLREGION);
    EXPECT_EQ(CombineRgn(out, a, nullptr, RGN_OR), ERROR);
    for (HRGN r : {a, b, out, far})
        EXPECT_TRUE(DeleteObject(r));
}

TEST(GdiRegions, ShapesHoldThePixelsTheirOutlinesEnclose) {
    // A rounded rectangle region is what RoundRect fills with a pen and brush of one colour.
    HRGN round = CreateRoundRectRgn(1, 1, 13, 9, 6, 6);
    Canvas drawn(14, 10);
    SelectObject(drawn.dc(), GetStockObject(BLACK_BRUSH));
    RoundRect(drawn.dc(), 1, 1, 13, 9, 6, 6);
    EXPECT_EQ(Filled(round, 14, 10), drawn.Picture());
    EXPECT_FALSE(PtInRegion(round, 1, 1)); // cut corner
    EXPECT_TRUE(PtInRegion(round, 6, 1));
    EXPECT_FALSE(PtInRegion(round, 13, 5)); // right edge excluded

    HRGN ellipse = CreateEllipticRgn(0, 0, 10, 6);
    Canvas ellipseDrawn(10, 6);
    SelectObject(ellipseDrawn.dc(), GetStockObject(BLACK_BRUSH));
    Ellipse(ellipseDrawn.dc(), 0, 0, 10, 6);
    EXPECT_EQ(Filled(ellipse, 10, 6), ellipseDrawn.Picture());

    // A five-pointed star: its middle is outside under ALTERNATE and inside under WINDING.
    const POINT star[] = {{10, 0}, {16, 19}, {0, 7}, {20, 7}, {4, 19}};
    HRGN alternate = CreatePolygonRgn(star, 5, ALTERNATE);
    HRGN winding = CreatePolygonRgn(star, 5, WINDING);
    EXPECT_FALSE(PtInRegion(alternate, 10, 10));
    EXPECT_TRUE(PtInRegion(winding, 10, 10));
    EXPECT_TRUE(PtInRegion(alternate, 10, 3));
    EXPECT_EQ(CreatePolygonRgn(star, 5, 3), nullptr);
    // The drawn polygon follows the DC's fill mode the same way.
    Canvas polygon(21, 20);
    SelectObject(polygon.dc(), GetStockObject(BLACK_BRUSH));
    SelectObject(polygon.dc(), GetStockObject(NULL_PEN));
    EXPECT_EQ(SetPolyFillMode(polygon.dc(), WINDING), ALTERNATE);
    Polygon(polygon.dc(), star, 5);
    EXPECT_EQ(polygon.Picture(), Filled(winding, 21, 20));
    for (HRGN r : {round, ellipse, alternate, winding})
        DeleteObject(r);
}

TEST(GdiRegions, QueriesAndEquality) {
    HRGN left = CreateRectRgn(0, 0, 4, 4);
    HRGN right = CreateRectRgn(4, 0, 8, 4);
    HRGN both = CreateRectRgn(0, 0, 0, 0);
    // Two touching rectangles make one: the same region as the single rectangle.
    EXPECT_EQ(CombineRgn(both, left, right, RGN_OR), SIMPLEREGION);
    HRGN whole = CreateRectRgn(0, 0, 8, 4);
    EXPECT_TRUE(EqualRgn(both, whole));
    EXPECT_EQ(OffsetRgn(whole, 2, 3), SIMPLEREGION);
    EXPECT_FALSE(EqualRgn(both, whole));
    RECT box{};
    EXPECT_EQ(GetRgnBox(whole, &box), SIMPLEREGION);
    EXPECT_TRUE(Is(box, 2, 3, 10, 7));

    RECT inside{9, 6, 12, 9}, outside{10, 7, 12, 9};
    EXPECT_TRUE(RectInRegion(whole, &inside));
    EXPECT_FALSE(RectInRegion(whole, &outside));

    // The rectangles of an L shape, band by band.
    HRGN l = CreateRectRgn(0, 0, 2, 4);
    HRGN foot = CreateRectRgn(0, 3, 5, 4);
    CombineRgn(l, l, foot, RGN_OR);
    const DWORD size = GetRegionData(l, 0, nullptr);
    ASSERT_EQ(size, sizeof(RGNDATAHEADER) + 2 * sizeof(RECT));
    std::vector<char> buffer(size);
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    EXPECT_EQ(GetRegionData(l, size - 1, data), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    ASSERT_EQ(GetRegionData(l, size, data), size);
    EXPECT_EQ(data->rdh.nCount, 2u);
    EXPECT_TRUE(Is(data->rdh.rcBound, 0, 0, 5, 4));
    auto* rects = reinterpret_cast<RECT*>(data->Buffer);
    EXPECT_TRUE(Is(rects[0], 0, 0, 2, 3));
    EXPECT_TRUE(Is(rects[1], 0, 3, 5, 4));

    EXPECT_TRUE(SetRectRgn(l, 1, 1, 2, 2));
    EXPECT_EQ(GetObjectType(l), OBJ_REGION);
    for (HRGN r : {left, right, both, whole, l, foot})
        DeleteObject(r);
    EXPECT_FALSE(PtInRegion(l, 1, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(GdiRegions, FrameRgnPaintsTheInsideBorder) {
    HRGN rect = CreateRectRgn(1, 1, 9, 6);
    Canvas c(10, 7);
    EXPECT_TRUE(FrameRgn(c.dc(), rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), 2, 1));
    EXPECT_EQ(c.Picture(),
              Rows({"..........", ".########.", ".##....##.", ".##....##.", ".##....##.", ".########.", ".........."}));
    EXPECT_FALSE(FrameRgn(c.dc(), rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), 0, 1));
    DeleteObject(rect);
}

// The whole picture, which GetPixel reports only where the DC may draw.
std::string Unclipped(const Canvas& c) {
    const int saved = SaveDC(c.dc());
    SelectClipRgn(c.dc(), nullptr);
    std::string picture = c.Picture();
    RestoreDC(c.dc(), saved);
    return picture;
}

TEST(GdiClipping, DrawingStaysInsideTheClippingRegion) {
    Canvas c(10, 4);
    // Two separate squares.
    HRGN clip = CreateRectRgn(0, 0, 3, 3);
    HRGN second = CreateRectRgn(6, 1, 9, 4);
    CombineRgn(clip, clip, second, RGN_OR);
    EXPECT_EQ(SelectClipRgn(c.dc(), clip), COMPLEXREGION);
    // The DC holds a copy: changing the region afterwards changes nothing.
    OffsetRgn(clip, 1, 0);
    RECT all{0, 0, 10, 4};
    FillRect(c.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    const std::string squares = Rows({"###.......", "###...###.", "###...###.", "......###."});
    EXPECT_EQ(Unclipped(c), squares);
    RECT box{};
    EXPECT_EQ(GetClipBox(c.dc(), &box), COMPLEXREGION);
    EXPECT_TRUE(Is(box, 0, 0, 9, 4));
    HRGN read = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(c.dc(), read), 1);
    EXPECT_EQ(Filled(read, 10, 4), squares);

    // Shapes, lines, text and pixels are clipped alike.
    c.Fill(kWhite);
    SelectObject(c.dc(), GetStockObject(BLACK_BRUSH));
    Rectangle(c.dc(), 0, 0, 10, 4);
    EXPECT_EQ(Unclipped(c), squares);
    EXPECT_EQ(SetPixel(c.dc(), 4, 1, kRed), CLR_INVALID);
    EXPECT_EQ(GetPixel(c.dc(), 4, 1), CLR_INVALID);

    // Taking away a rectangle, then intersecting with one.
    c.Fill(kWhite);
    HRGN hole = CreateRectRgn(1, 1, 2, 2);
    EXPECT_EQ(ExtSelectClipRgn(c.dc(), hole, RGN_DIFF), COMPLEXREGION);
    EXPECT_EQ(IntersectClipRect(c.dc(), 0, 0, 5, 4), COMPLEXREGION);
    FillRect(c.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(Unclipped(c), Rows({"###.......", "#.#.......", "###.......", ".........."}));

    // Saved states keep their clipping; null removes it.
    const int saved = SaveDC(c.dc());
    EXPECT_EQ(SelectClipRgn(c.dc(), nullptr), SIMPLEREGION);
    EXPECT_EQ(GetClipRgn(c.dc(), read), 0);
    RestoreDC(c.dc(), saved);
    EXPECT_EQ(GetClipRgn(c.dc(), read), 1);
    // Selecting a region object is selecting it as the clipping region.
    HRGN one = CreateRectRgn(2, 2, 3, 3);
    EXPECT_EQ(reinterpret_cast<intptr_t>(SelectObject(c.dc(), one)), SIMPLEREGION);
    c.Fill(kWhite);
    SelectClipRgn(c.dc(), nullptr);
    for (HRGN r : {clip, second, read, hole, one})
        DeleteObject(r);
}

TEST(GdiClipping, TextIsClippedToTheRegion) {
    Canvas c(60, 20);
    HRGN left = CreateRectRgn(0, 0, 20, 20);
    HRGN right = CreateRectRgn(40, 0, 60, 20);
    CombineRgn(left, left, right, RGN_OR);
    SelectClipRgn(c.dc(), left);
    SetBkMode(c.dc(), TRANSPARENT);
    TextOutW(c.dc(), 0, 0, u"MMMMMMMMMMMM", 12);
    int inside = 0, outside = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x)
            if (GetPixel(c.dc(), x, y) != kWhite && GetPixel(c.dc(), x, y) != CLR_INVALID)
                ++inside;
    SelectClipRgn(c.dc(), nullptr);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            outside += GetPixel(c.dc(), x, y) != kWhite;
    EXPECT_GT(inside, 20);
    EXPECT_EQ(outside, 0);
    DeleteObject(left);
    DeleteObject(right);
}

TEST(GdiMixes, Rop2AppliesToPensAndShapesButNotToFillRect) {
    Canvas c(8, 3);
    c.Fill(kRed);
    HPEN blue = CreatePen(PS_SOLID, 1, kBlue);
    SelectObject(c.dc(), blue);
    EXPECT_EQ(SetROP2(c.dc(), R2_XORPEN), R2_COPYPEN);
    EXPECT_EQ(GetROP2(c.dc()), R2_XORPEN);
    MoveToEx(c.dc(), 0, 1, nullptr);
    LineTo(c.dc(), 8, 1);
    EXPECT_EQ(GetPixel(c.dc(), 3, 1), RGB(255, 0, 255));
    // The same line again takes itself away.
    MoveToEx(c.dc(), 0, 1, nullptr);
    LineTo(c.dc(), 8, 1);
    EXPECT_EQ(c.Count(kRed), 24);

    // R2_NOT inverts under the shape; R2_NOP leaves everything; FillRect ignores the mix.
    SetROP2(c.dc(), R2_NOT);
    SelectObject(c.dc(), GetStockObject(BLACK_BRUSH));
    Rectangle(c.dc(), 0, 0, 2, 3);
    EXPECT_EQ(GetPixel(c.dc(), 1, 1), RGB(0, 255, 255));
    EXPECT_EQ(GetPixel(c.dc(), 2, 1), kRed);
    SetROP2(c.dc(), R2_NOP);
    Ellipse(c.dc(), 2, 0, 8, 3);
    RECT r{7, 0, 8, 3};
    FillRect(c.dc(), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(c.Count(kRed), 15);
    EXPECT_EQ(c.Count(kWhite), 3);
    EXPECT_EQ(SetROP2(c.dc(), 0), 0);
    SelectObject(c.dc(), GetStockObject(BLACK_PEN));
    DeleteObject(blue);
}

TEST(GdiBrushes, PatternBrushesRepeatTheirBitmap) {
    // A two-by-two colour pattern, deleted right after the brush is made.
    Canvas pattern(2, 2);
    SetPixel(pattern.dc(), 0, 0, kRed);
    SetPixel(pattern.dc(), 1, 1, kRed);
    HBITMAP copy = reinterpret_cast<HBITMAP>(CopyImage(pattern.bitmap(), IMAGE_BITMAP, 0, 0, 0));
    HBRUSH brush = CreatePatternBrush(copy);
    ASSERT_NE(brush, nullptr);
    LOGBRUSH lb{};
    ASSERT_EQ(GetObjectW(brush, sizeof(lb), &lb), static_cast<int>(sizeof(lb)));
    EXPECT_EQ(lb.lbStyle, BS_PATTERN);
    EXPECT_EQ(lb.lbHatch, reinterpret_cast<ULONG_PTR>(copy));
    EXPECT_TRUE(DeleteObject(copy));
    Canvas c(5, 3);
    RECT r{0, 0, 5, 3};
    FillRect(c.dc(), &r, brush);
    EXPECT_EQ(c.Picture(kRed), Rows({"#.#.#", ".#.#.", "#.#.#"}));
    DeleteObject(brush);

    // A monochrome pattern paints black in the text colour and white in the background colour.
    const BYTE rows[] = {0x55, 0x00, 0xAA, 0x00}; // 01010101 and 10101010, each row padded to 16 bits
    HBITMAP mono = CreateBitmap(8, 2, 1, 1, rows);
    brush = CreatePatternBrush(mono);
    SetTextColor(c.dc(), kBlue);
    SetBkColor(c.dc(), kRed);
    FillRect(c.dc(), &r, brush);
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), kBlue);
    EXPECT_EQ(GetPixel(c.dc(), 1, 0), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 0, 1), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 0, 2), kBlue);
    DeleteObject(brush);
    DeleteObject(mono);
    LOGBRUSH bad{BS_PATTERN, 0, 0};
    EXPECT_EQ(CreateBrushIndirect(&bad), nullptr);
}

TEST(GdiSurface, AWindowShapeClipsItsDrawingAndItsPicture) {
    platform::gdi::WindowSurface surface(6, 4, kWhite);
    HRGN shape = CreateEllipticRgn(0, 0, 6, 4);
    HDC dc = surface.CreateDC(POINT{0, 0}, RECT{0, 0, 6, 4}, shape);
    RECT all{0, 0, 6, 4};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    // The shape is not the program's clipping region.
    HRGN read = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(dc, read), 0);
    DeleteDC(dc);
    int black = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(surface.GetPixel(x, y) == kBlack, PtInRegion(shape, x, y) != FALSE) << x << "," << y;
            black += surface.GetPixel(x, y) == kBlack;
        }
    EXPECT_GT(black, 0);
    EXPECT_LT(black, 24);
    DeleteObject(read);
    DeleteObject(shape);
}

} // namespace
