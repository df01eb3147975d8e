// Tests of the geometry classes and the device-context and drawing-object wrappers.
#include "platform/afx/DC.h"

#include <gtest/gtest.h>

namespace {

TEST(Geometry, RectPointAndSizeFollowTheHalfOpenRule) {
    CRect r(10, 20, 30, 60);
    EXPECT_EQ(r.Width(), 20);
    EXPECT_EQ(r.Height(), 40);
    EXPECT_EQ(r.Size(), CSize(20, 40));
    EXPECT_EQ(r.CenterPoint(), CPoint(20, 40));
    EXPECT_TRUE(r.PtInRect(CPoint(10, 20)));
    EXPECT_FALSE(r.PtInRect(CPoint(30, 20)));
    r.TopLeft() += CSize(5, 5);
    EXPECT_EQ(r, CRect(15, 25, 30, 60));
    r.DeflateRect(5, 5);
    EXPECT_EQ(r, CRect(20, 30, 25, 55));
    EXPECT_EQ(r & CRect(0, 0, 22, 40), CRect(20, 30, 22, 40));
    EXPECT_TRUE((r & CRect(100, 100, 200, 200)).IsRectNull());
    EXPECT_EQ(r | CRect(0, 0, 1, 1), CRect(0, 0, 25, 55));
    EXPECT_EQ(r | CRect(), r); // an empty rectangle adds nothing
    r.OffsetRect(CPoint(-20, -30));
    EXPECT_EQ(r, CRect(0, 0, 5, 25));
    r.MoveToXY(3, 4);
    EXPECT_EQ(r, CRect(3, 4, 8, 29));
    CRect flipped(10, 10, 0, 0);
    EXPECT_TRUE(flipped.IsRectEmpty());
    flipped.NormalizeRect();
    EXPECT_EQ(flipped, CRect(0, 0, 10, 10));
    // A packed lParam holds signed coordinates.
    CPoint p(static_cast<LPARAM>(MAKELONG(static_cast<WORD>(-5), 7)));
    EXPECT_EQ(p, CPoint(-5, 7));
    EXPECT_EQ(CPoint(4, 4) - CPoint(1, 2), CSize(3, 2));
    // CRect passes where a RECT pointer is taken.
    RECT out{};
    EXPECT_TRUE(IntersectRect(&out, CRect(0, 0, 4, 4), CRect(2, 2, 6, 6)));
    EXPECT_EQ(CRect(out), CRect(2, 2, 4, 4));
}

TEST(DeviceContext, WrappersSelectDrawAndClean) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateBitmap(8, 6, 1, 32, nullptr));
    CBitmap* oldBitmap = dc.SelectObject(&bitmap);
    ASSERT_NE(oldBitmap, nullptr);
    BITMAP bm{};
    bitmap.GetBitmap(&bm);
    EXPECT_EQ(bm.bmWidth, 8);

    dc.FillSolidRect(CRect(0, 0, 8, 6), RGB(255, 255, 255));
    dc.Draw3dRect(CRect(0, 0, 8, 6), RGB(255, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(dc.GetPixel(7, 5), RGB(0, 0, 255));
    EXPECT_EQ(dc.GetPixel(7, 0), RGB(0, 0, 255));
    EXPECT_EQ(dc.GetPixel(3, 3), RGB(255, 255, 255));
    EXPECT_EQ(dc.GetBkColor(), RGB(255, 255, 255)); // FillSolidRect keeps the background colour

    CPen pen(PS_SOLID, 1, RGB(0, 128, 0));
    CPen* oldPen = dc.SelectObject(&pen);
    EXPECT_EQ(oldPen->m_hObject, GetStockObject(BLACK_PEN));
    EXPECT_EQ(dc.SelectObject(oldPen), &pen); // the wrapper attached to the handle comes back
    CBrush brush(RGB(1, 2, 3));
    EXPECT_EQ(CBrush::FromHandle(brush), &brush);
    dc.SelectObject(&pen);
    dc.MoveTo(1, 2);
    EXPECT_EQ(dc.MoveTo(1, 3), CPoint(1, 2));
    dc.LineTo(4, 3);
    EXPECT_EQ(dc.GetPixel(3, 3), RGB(0, 128, 0));
    dc.SelectObject(oldPen);

    CFont font;
    ASSERT_TRUE(font.CreatePointFont(90, u"Tahoma"));
    LOGFONTW lf{};
    font.GetLogFont(&lf);
    EXPECT_EQ(lf.lfHeight, -12); // 9 points at 96 pixels per inch
    CFont* oldFont = dc.SelectObject(&font);
    CSize ab = dc.GetTextExtent(CString(u"ab"));
    EXPECT_EQ(ab.cx, dc.GetTextExtent(u"a", 1).cx + dc.GetTextExtent(u"b", 1).cx);
    dc.SelectObject(oldFont);
    dc.SelectObject(oldBitmap);
    EXPECT_EQ(CDC::FromHandle(dc.m_hDC), &dc);
}

TEST(DeviceContext, RegionsMixesPatternsAndStates) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateBitmap(6, 4, 1, 32, nullptr));
    CBitmap* old = dc.SelectObject(&bitmap);
    dc.FillSolidRect(0, 0, 6, 4, RGB(255, 255, 255));

    // An L of two rectangles, filled through the wrappers, then used to clip.
    CRgn l, foot;
    ASSERT_TRUE(l.CreateRectRgn(0, 0, 2, 4));
    ASSERT_TRUE(foot.CreateRectRgn(0, 3, 6, 4));
    EXPECT_EQ(l.CombineRgn(&l, &foot, RGN_OR), COMPLEXREGION);
    EXPECT_TRUE(l.PtInRegion(CPoint(5, 3)));
    EXPECT_FALSE(l.PtInRegion(5, 2));
    EXPECT_EQ(CRgn::FromHandle(l), &l);
    CBrush black(RGB(0, 0, 0));
    EXPECT_TRUE(dc.FillRgn(&l, &black));
    EXPECT_EQ(dc.GetPixel(1, 1), RGB(0, 0, 0));
    EXPECT_EQ(dc.GetPixel(3, 1), RGB(255, 255, 255));
    EXPECT_EQ(dc.SelectClipRgn(&foot), SIMPLEREGION);
    dc.SetROP2(R2_NOT);
    dc.Rectangle(0, 0, 6, 4);
    EXPECT_EQ(dc.GetPixel(0, 3), RGB(255, 255, 255)); // black inverted, only in the clip
    EXPECT_EQ(dc.SelectClipRgn(nullptr), SIMPLEREGION);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(0, 0, 0));
    dc.SetROP2(R2_COPYPEN);

    // A pattern brush from a two-pixel bitmap.
    CBitmap pattern;
    const DWORD pixels[] = {0x00FF0000, 0x000000FF}; // red, blue (0x00RRGGBB)
    ASSERT_TRUE(pattern.CreateBitmap(2, 1, 1, 32, pixels));
    CBrush stripes(&pattern);
    ASSERT_NE(stripes.m_hObject, nullptr);
    dc.FillRect(CRect(0, 0, 6, 4), &stripes);
    EXPECT_EQ(dc.GetPixel(2, 0), RGB(255, 0, 0));
    EXPECT_EQ(dc.GetPixel(3, 2), RGB(0, 0, 255));

    // The disabled look of a monochrome shape.
    CBitmap shape;
    const BYTE mono[] = {0x3F, 0, 0x3F, 0}; // two black pixels then white, on two rows
    ASSERT_TRUE(shape.CreateBitmap(8, 2, 1, 1, mono));
    dc.FillSolidRect(0, 0, 6, 4, RGB(100, 100, 100));
    EXPECT_TRUE(dc.DrawState(CPoint(0, 0), CSize(0, 0), &shape, DSS_DISABLED));
    EXPECT_EQ(dc.GetPixel(0, 0), GetSysColor(COLOR_3DSHADOW));
    EXPECT_EQ(dc.GetPixel(2, 2), GetSysColor(COLOR_3DHILIGHT));
    EXPECT_EQ(dc.GetPixel(3, 0), RGB(100, 100, 100));
    dc.SelectObject(old);
}

} // namespace
