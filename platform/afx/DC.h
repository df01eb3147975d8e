// CDC: the framework's wrapper of a device context.
//
// Stands in for the framework's device-context class: it wraps one HDC (deleted by the destructor when it was
// created by CreateCompatibleDC, left alone when attached), and its members forward to the drawing layer with the
// framework's conveniences (SelectObject returning the previous wrapper, FillSolidRect, Draw3dRect, MoveTo
// returning the previous position, GetTextExtent returning a CSize). FromHandle works as for CGdiObject.
#pragma once

#include "platform/afx/GdiObject.h"
#include "platform/afx/Point.h"
#include "platform/afx/Rect.h"
#include "platform/afx/Size.h"
#include "platform/afx/String.h"

class CDC : public CObject {
    DECLARE_DYNAMIC(CDC)
public:
    CDC() = default;
    ~CDC() override;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;
    HDC m_hAttribDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    static CDC* FromHandle(HDC dc);
    BOOL Attach(HDC dc);
    HDC Detach();

    BOOL CreateCompatibleDC(CDC* dc);
    BOOL DeleteDC();
    int SaveDC() { return ::SaveDC(m_hDC); }
    BOOL RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }

    CPen* SelectObject(CPen* pen);
    CBrush* SelectObject(CBrush* brush);
    CFont* SelectObject(CFont* font);
    CBitmap* SelectObject(CBitmap* bitmap);
    CGdiObject* SelectObject(CGdiObject* object);
    HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
    CGdiObject* SelectStockObject(int index);
    CPen* GetCurrentPen() const { return CPen::FromHandle(static_cast<HPEN>(GetCurrentObject(m_hDC, OBJ_PEN))); }
    CBrush* GetCurrentBrush() const {
        return CBrush::FromHandle(static_cast<HBRUSH>(GetCurrentObject(m_hDC, OBJ_BRUSH)));
    }
    CFont* GetCurrentFont() const { return CFont::FromHandle(static_cast<HFONT>(GetCurrentObject(m_hDC, OBJ_FONT))); }
    CBitmap* GetCurrentBitmap() const {
        return CBitmap::FromHandle(static_cast<HBITMAP>(GetCurrentObject(m_hDC, OBJ_BITMAP)));
    }

    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    int GetBkMode() const { return ::GetBkMode(m_hDC); }
    UINT SetTextAlign(UINT align) { return ::SetTextAlign(m_hDC, align); }
    int SetStretchBltMode(int mode) { return ::SetStretchBltMode(m_hDC, mode); }
    CPoint SetViewportOrg(int x, int y);
    CPoint SetViewportOrg(POINT p) { return SetViewportOrg(p.x, p.y); }
    CPoint GetViewportOrg() const;
    int IntersectClipRect(LPCRECT r) { return ::IntersectClipRect(m_hDC, r->left, r->top, r->right, r->bottom); }
    int IntersectClipRect(int l, int t, int r, int b) { return ::IntersectClipRect(m_hDC, l, t, r, b); }
    int GetClipBox(LPRECT r) const { return ::GetClipBox(m_hDC, r); }
    // A copy of the region becomes the clipping region; null removes it. Both answer the kind of the clip.
    int SelectClipRgn(CRgn* region) { return ::SelectClipRgn(m_hDC, region ? static_cast<HRGN>(*region) : nullptr); }
    int SelectClipRgn(CRgn* region, int mode) {
        return ::ExtSelectClipRgn(m_hDC, region ? static_cast<HRGN>(*region) : nullptr, mode);
    }
    int SelectObject(CRgn* region) { return SelectClipRgn(region); }
    int SetROP2(int mode) { return ::SetROP2(m_hDC, mode); }
    int GetROP2() const { return ::GetROP2(m_hDC); }
    int SetPolyFillMode(int mode) { return ::SetPolyFillMode(m_hDC, mode); }
    int GetPolyFillMode() const { return ::GetPolyFillMode(m_hDC); }

    void FillRect(LPCRECT r, CBrush* brush) { ::FillRect(m_hDC, r, static_cast<HBRUSH>(brush->GetSafeHandle())); }
    void FrameRect(LPCRECT r, CBrush* brush) { ::FrameRect(m_hDC, r, static_cast<HBRUSH>(brush->GetSafeHandle())); }
    void InvertRect(LPCRECT r) { ::InvertRect(m_hDC, r); }
    void DrawFocusRect(LPCRECT r) { ::DrawFocusRect(m_hDC, r); }
    BOOL DrawEdge(LPRECT r, UINT edge, UINT flags) { return ::DrawEdge(m_hDC, r, edge, flags); }
    // Fills with a colour; leaves the background colour as it was.
    void FillSolidRect(LPCRECT r, COLORREF color);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
    // One-pixel frame: top and left in one colour, bottom and right in the other.
    void Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight);
    void Draw3dRect(int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight);

    BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
    BOOL Rectangle(LPCRECT r) { return ::Rectangle(m_hDC, r->left, r->top, r->right, r->bottom); }
    BOOL RoundRect(int l, int t, int r, int b, int w, int h) { return ::RoundRect(m_hDC, l, t, r, b, w, h); }
    BOOL RoundRect(LPCRECT r, POINT p) { return ::RoundRect(m_hDC, r->left, r->top, r->right, r->bottom, p.x, p.y); }
    BOOL Ellipse(int l, int t, int r, int b) { return ::Ellipse(m_hDC, l, t, r, b); }
    BOOL Ellipse(LPCRECT r) { return ::Ellipse(m_hDC, r->left, r->top, r->right, r->bottom); }
    BOOL Arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
        return ::Arc(m_hDC, l, t, r, b, x1, y1, x2, y2);
    }
    BOOL Arc(LPCRECT r, POINT start, POINT end) {
        return ::Arc(m_hDC, r->left, r->top, r->right, r->bottom, start.x, start.y, end.x, end.y);
    }
    BOOL Pie(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
        return ::Pie(m_hDC, l, t, r, b, x1, y1, x2, y2);
    }
    BOOL Pie(LPCRECT r, POINT start, POINT end) {
        return ::Pie(m_hDC, r->left, r->top, r->right, r->bottom, start.x, start.y, end.x, end.y);
    }
    BOOL Chord(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
        return ::Chord(m_hDC, l, t, r, b, x1, y1, x2, y2);
    }
    BOOL Polygon(const POINT* points, int count) { return ::Polygon(m_hDC, points, count); }
    BOOL Polyline(const POINT* points, int count) { return ::Polyline(m_hDC, points, count); }
    CPoint MoveTo(int x, int y);
    CPoint MoveTo(POINT p) { return MoveTo(p.x, p.y); }
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL LineTo(POINT p) { return ::LineTo(m_hDC, p.x, p.y); }
    CPoint GetCurrentPosition() const;
    COLORREF SetPixel(int x, int y, COLORREF c) { return ::SetPixel(m_hDC, x, y, c); }
    COLORREF SetPixel(POINT p, COLORREF c) { return ::SetPixel(m_hDC, p.x, p.y, c); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF GetPixel(POINT p) const { return ::GetPixel(m_hDC, p.x, p.y); }
    BOOL FloodFill(int x, int y, COLORREF border) { return ::FloodFill(m_hDC, x, y, border); }
    BOOL ExtFloodFill(int x, int y, COLORREF color, UINT type) { return ::ExtFloodFill(m_hDC, x, y, color, type); }
    BOOL PatBlt(int x, int y, int w, int h, DWORD rop) { return ::PatBlt(m_hDC, x, y, w, h, rop); }
    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, xs, ys, rop);
    }
    BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, int ws, int hs, DWORD rop) {
        return ::StretchBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, xs, ys, ws, hs, rop);
    }
    BOOL FillRgn(CRgn* region, CBrush* brush) { return ::FillRgn(m_hDC, *region, *brush); }
    BOOL FrameRgn(CRgn* region, CBrush* brush, int width, int height) {
        return ::FrameRgn(m_hDC, *region, *brush, width, height);
    }
    // DrawState for each kind of image; a size of (0, 0) takes the image's own.
    BOOL DrawState(CPoint p, CSize s, HBITMAP bitmap, UINT flags, HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(bitmap), 0, p.x, p.y, s.cx, s.cy,
                            flags | DST_BITMAP);
    }
    BOOL DrawState(CPoint p, CSize s, CBitmap* bitmap, UINT flags, CBrush* brush = nullptr) {
        return DrawState(p, s, static_cast<HBITMAP>(*bitmap), flags, brush ? static_cast<HBRUSH>(*brush) : nullptr);
    }
    BOOL DrawState(CPoint p, CSize s, HICON icon, UINT flags, HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, p.x, p.y, s.cx, s.cy,
                            flags | DST_ICON);
    }
    BOOL DrawState(CPoint p, CSize s, HICON icon, UINT flags, CBrush* brush) {
        return DrawState(p, s, icon, flags, brush ? static_cast<HBRUSH>(*brush) : nullptr);
    }
    BOOL DrawState(CPoint p, CSize s, LPCWSTR text, UINT flags, BOOL prefixText = TRUE, int length = 0,
                   HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(text), static_cast<WPARAM>(length), p.x,
                            p.y, s.cx, s.cy, flags | (prefixText ? DST_PREFIXTEXT : DST_TEXT));
    }
    BOOL DrawState(CPoint p, CSize s, const CString& text, UINT flags, BOOL prefixText = TRUE, int length = 0,
                   HBRUSH brush = nullptr) {
        return DrawState(p, s, text.GetString(), flags, prefixText, length ? length : text.GetLength(), brush);
    }
    BOOL DrawState(CPoint p, CSize s, DRAWSTATEPROC callback, LPARAM data, UINT flags, HBRUSH brush = nullptr) {
        return ::DrawStateW(m_hDC, brush, callback, data, 0, p.x, p.y, s.cx, s.cy, flags | DST_COMPLEX);
    }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
    BOOL DrawIcon(POINT p, HICON icon) { return ::DrawIcon(m_hDC, p.x, p.y, icon); }

    BOOL TextOut(int x, int y, LPCWSTR text, int count) { return ::TextOutW(m_hDC, x, y, text, count); }
    BOOL TextOut(int x, int y, const CString& text) { return ::TextOutW(m_hDC, x, y, text, text.GetLength()); }
    BOOL ExtTextOut(int x, int y, UINT options, LPCRECT r, LPCWSTR text, UINT count, const INT* dx) {
        return ::ExtTextOutW(m_hDC, x, y, options, r, text, count, dx);
    }
    BOOL ExtTextOut(int x, int y, UINT options, LPCRECT r, const CString& text, const INT* dx) {
        return ::ExtTextOutW(m_hDC, x, y, options, r, text, static_cast<UINT>(text.GetLength()), dx);
    }
    int DrawText(LPCWSTR text, int count, LPRECT r, UINT format) { return ::DrawTextW(m_hDC, text, count, r, format); }
    int DrawText(const CString& text, LPRECT r, UINT format) {
        return ::DrawTextW(m_hDC, text, text.GetLength(), r, format);
    }
    CSize GetTextExtent(LPCWSTR text, int count) const;
    CSize GetTextExtent(const CString& text) const { return GetTextExtent(text, text.GetLength()); }
    BOOL GetTextMetrics(LPTEXTMETRICW metrics) const { return ::GetTextMetricsW(m_hDC, metrics); }

protected:
    bool m_owned = false; // made by CreateCompatibleDC: deleted with the object
};
