// CGdiObject and its kinds: CPen, CBrush, CFont, CBitmap and CRgn.
//
// Stands in for the framework's drawing-object wrappers. The same as the framework: each wraps one handle, deletes
// it when destroyed unless detached, and FromHandle finds the wrapper attached to a handle or makes a temporary
// one (which never deletes the handle) for handles nobody attached. Where it differs: temporary wrappers live until
// their thread ends rather than until the next idle time.
#pragma once

#include "platform/afx/Object.h"
#include "platform/gdi/wingdi.h"

class CDC;
class CBitmap;

class CGdiObject : public CObject {
    DECLARE_DYNAMIC(CGdiObject)
public:
    CGdiObject() = default;
    ~CGdiObject() override;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;
    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    static CGdiObject* FromHandle(HGDIOBJ handle);
    BOOL Attach(HGDIOBJ handle);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int count, LPVOID buffer) const;
    UINT GetObjectType() const { return ::GetObjectType(m_hObject); }
    BOOL CreateStockObject(int index);
};

class CPen : public CGdiObject {
    DECLARE_DYNAMIC(CPen)
public:
    CPen() = default;
    CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
    static CPen* FromHandle(HPEN pen) { return static_cast<CPen*>(CGdiObject::FromHandle(pen)); }
    BOOL CreatePen(int style, int width, COLORREF color) { return Attach(::CreatePen(style, width, color)); }
    BOOL CreatePenIndirect(LOGPEN* pen) { return Attach(::CreatePenIndirect(pen)); }
    int GetLogPen(LOGPEN* pen) const { return GetObject(sizeof(LOGPEN), pen); }
};

class CBrush : public CGdiObject {
    DECLARE_DYNAMIC(CBrush)
public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    explicit CBrush(CBitmap* bitmap) { CreatePatternBrush(bitmap); }
    CBrush(int hatch, COLORREF color) { CreateHatchBrush(hatch, color); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    static CBrush* FromHandle(HBRUSH brush) { return static_cast<CBrush*>(CGdiObject::FromHandle(brush)); }
    BOOL CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
    BOOL CreateHatchBrush(int hatch, COLORREF color) { return Attach(::CreateHatchBrush(hatch, color)); }
    BOOL CreateBrushIndirect(const LOGBRUSH* brush) { return Attach(::CreateBrushIndirect(brush)); }
    // The brush keeps its own copy of the bitmap.
    BOOL CreatePatternBrush(CBitmap* bitmap);
    BOOL CreateSysColorBrush(int index) { return Attach(::GetSysColorBrush(index)); }
    int GetLogBrush(LOGBRUSH* brush) const { return GetObject(sizeof(LOGBRUSH), brush); }
};

class CFont : public CGdiObject {
    DECLARE_DYNAMIC(CFont)
public:
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    static CFont* FromHandle(HFONT font) { return static_cast<CFont*>(CGdiObject::FromHandle(font)); }
    BOOL CreateFontIndirect(const LOGFONTW* font) { return Attach(::CreateFontIndirectW(font)); }
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                    BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                    BYTE pitchAndFamily, LPCWSTR faceName) {
        return Attach(::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut,
                                    charSet, outPrecision, clipPrecision, quality, pitchAndFamily, faceName));
    }
    // Size in tenths of a point, at the DC's resolution (the screen's without one).
    BOOL CreatePointFont(int pointSize, LPCWSTR faceName, CDC* dc = nullptr);
    BOOL CreatePointFontIndirect(const LOGFONTW* font, CDC* dc = nullptr);
    int GetLogFont(LOGFONTW* font) const { return GetObject(sizeof(LOGFONTW), font); }
};

class CBitmap : public CGdiObject {
    DECLARE_DYNAMIC(CBitmap)
public:
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    static CBitmap* FromHandle(HBITMAP bitmap) { return static_cast<CBitmap*>(CGdiObject::FromHandle(bitmap)); }
    // From the resources of AfxGetResourceHandle.
    BOOL LoadBitmap(LPCWSTR name);
    BOOL LoadBitmap(UINT id) { return LoadBitmap(MAKEINTRESOURCEW(id)); }
    BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
        return Attach(::CreateBitmap(width, height, planes, bitsPerPixel, bits));
    }
    BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
    int GetBitmap(BITMAP* bitmap) const { return GetObject(sizeof(BITMAP), bitmap); }
};

class CRgn : public CGdiObject {
    DECLARE_DYNAMIC(CRgn)
public:
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
    static CRgn* FromHandle(HRGN region) { return static_cast<CRgn*>(CGdiObject::FromHandle(region)); }
    BOOL CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
    BOOL CreateRectRgnIndirect(LPCRECT r) { return Attach(::CreateRectRgnIndirect(r)); }
    BOOL CreateEllipticRgn(int l, int t, int r, int b) { return Attach(::CreateEllipticRgn(l, t, r, b)); }
    BOOL CreateEllipticRgnIndirect(LPCRECT r) { return Attach(::CreateEllipticRgnIndirect(r)); }
    BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
        return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
    }
    BOOL CreatePolygonRgn(const POINT* points, int count, int fillMode) {
        return Attach(::CreatePolygonRgn(points, count, fillMode));
    }
    // This region becomes the combination of the two (which may include this one).
    int CombineRgn(const CRgn* a, const CRgn* b, int mode) {
        return ::CombineRgn(*this, a ? static_cast<HRGN>(*a) : nullptr, b ? static_cast<HRGN>(*b) : nullptr, mode);
    }
    int CopyRgn(const CRgn* source) { return CombineRgn(source, nullptr, RGN_COPY); }
    BOOL EqualRgn(const CRgn* other) const { return other && ::EqualRgn(*this, *other); }
    int OffsetRgn(int dx, int dy) { return ::OffsetRgn(*this, dx, dy); }
    int OffsetRgn(POINT p) { return ::OffsetRgn(*this, p.x, p.y); }
    int GetRgnBox(LPRECT r) const { return ::GetRgnBox(*this, r); }
    void SetRectRgn(int l, int t, int r, int b) { ::SetRectRgn(*this, l, t, r, b); }
    void SetRectRgn(LPCRECT r) { ::SetRectRgn(*this, r->left, r->top, r->right, r->bottom); }
    BOOL PtInRegion(int x, int y) const { return ::PtInRegion(*this, x, y); }
    BOOL PtInRegion(POINT p) const { return ::PtInRegion(*this, p.x, p.y); }
    BOOL RectInRegion(LPCRECT r) const { return ::RectInRegion(*this, r); }
    int GetRegionData(LPRGNDATA data, int count) const {
        return static_cast<int>(::GetRegionData(*this, static_cast<DWORD>(count), data));
    }
};
