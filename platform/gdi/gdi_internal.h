// Internal state of the drawing layer, shared by its implementation files only.
//
// Locking: one process-wide recursive mutex (Lock()) guards the handle table and every object; each exported
// function holds it for its whole run, so drawing from several threads is serialised. Pixels are kept in cairo
// RGB24 image surfaces (0x00RRGGBB per pixel); a COLORREF (0x00BBGGRR) is turned into that order at the edge.
#pragma once

#include "platform/gdi/rect.h"
#include "platform/gdi/region.h"
#include "platform/gdi/wingdi.h"

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::gdi {

std::recursive_mutex& Lock();

// A COLORREF as a pixel and back.
inline uint32_t ToPixel(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}
inline COLORREF ToColor(uint32_t p) {
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}
// The black or white that a colour becomes on a monochrome surface: the nearer of the two.
inline uint32_t ToMono(uint32_t p) {
    int sum = ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
    return sum > 382 ? 0xFFFFFFu : 0u;
}

// Pixels that device contexts draw on: a bitmap or a window's surface.
class Canvas {
public:
    Canvas(int width, int height, bool mono);
    virtual ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Valid() const { return m_surface != nullptr; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    bool Mono() const { return m_mono; }
    cairo_surface_t* Surface() const { return m_surface; }
    // Direct access; call Changed() after writing so cairo sees the new pixels.
    uint32_t* Row(int y);
    uint32_t Get(int x, int y);
    void Put(int x, int y, uint32_t pixel) { Row(y)[x] = m_mono ? ToMono(pixel) : (pixel & 0xFFFFFFu); }
    void Changed();
    // Resizes, keeping the pixels that still fit; new pixels take `fill`.
    bool Resize(int width, int height, uint32_t fill);
    // Hooks for bitmaps whose bits the program also sees (DIB sections).
    virtual void BeforeUse() {}
    virtual void AfterChange() {}
    // After cairo drew on a monochrome canvas, its smoothed pixels become black or white again.
    void Binarize(const RECT& area);

private:
    cairo_surface_t* m_surface = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_mono = false;
};

enum class Kind { Pen, Brush, Font, Bitmap, Dc, Icon, Region };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    HGDIOBJ handle = nullptr;
    bool stock = false;
    int selections = 0; // device contexts that have it selected now
};
using ObjectPtr = std::shared_ptr<Object>;

struct Pen : Object {
    Pen() : Object(Kind::Pen) {}
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
};

struct Bitmap;

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    UINT style = BS_SOLID;
    COLORREF color = 0;
    int hatch = 0;
    int sysColor = -1; // a system colour brush follows its colour
    // A pattern brush's own copy of its bitmap: pixels, and whether they are monochrome (0 takes the DC's text
    // colour, 1 its background colour, as on Windows).
    int patternWidth = 0;
    int patternHeight = 0;
    bool patternMono = false;
    std::vector<uint32_t> pattern;
    HBITMAP patternBitmap = nullptr; // the bitmap it was made from, as GetObject reports it
    COLORREF Color() const { return sysColor >= 0 ? GetSysColor(sysColor) : color; }
};

// One character of a font: its glyph and its advance in whole pixels.
struct GlyphInfo {
    unsigned long index = 0;
    int advance = 0;
    bool draw = false;
};

struct Font : Object {
    Font() : Object(Kind::Font) {}
    ~Font() override;
    LOGFONTW log{};
    // Resolved lazily.
    cairo_scaled_font_t* scaled = nullptr;
    double em = 0;
    int ascent = 0;
    int descent = 0;
    int internalLeading = 0;
    bool synthesizedItalic = false;
    std::unordered_map<char32_t, GlyphInfo> glyphs;
};

// The font files and FreeType (text.cpp); made before the first object so that it outlives them all.
void InitFonts();

struct Bitmap : Object, Canvas {
    Bitmap(int width, int height, bool mono) : Object(Kind::Bitmap), Canvas(width, height, mono) {}
    int bitsPixel = 32; // as reported by GetObject
    HDC selectedInto = nullptr;
    // DIB sections: the program's view of the pixels.
    bool dib = false;
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colors;
    std::vector<uint8_t> bits;
    void BeforeUse() override;
    void AfterChange() override;
};
using BitmapPtr = std::shared_ptr<Bitmap>;

struct Icon : Object {
    Icon() : Object(Kind::Icon) {}
    int width = 0;
    int height = 0;
    POINT hotspot{};
    bool isIcon = true;
    std::vector<uint32_t> color; // 0x00RRGGBB
    std::vector<uint8_t> mask;   // 1: screen shows through (AND mask)
    std::vector<uint8_t> alpha;  // empty unless the image has its own alpha channel
};

struct Region : Object {
    Region() : Object(Kind::Region) {}
    RegionShape shape;
};

struct DcState {
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Brush> brush;
    std::shared_ptr<Font> font;
    BitmapPtr bitmap;
    COLORREF text = 0;
    COLORREF bk = 0xFFFFFF;
    int bkMode = OPAQUE;
    UINT align = 0;
    int stretchMode = BLACKONWHITE;
    POINT position{};
    POINT viewport{};
    std::optional<RegionShape> clip; // the program's clipping region (SelectClipRgn), in canvas pixels
    int rop2 = R2_COPYPEN;
    int polyFillMode = ALTERNATE;
};

struct Dc : Object {
    Dc() : Object(Kind::Dc) {}
    bool memory = false;
    std::shared_ptr<Canvas> windowCanvas; // a window DC's surface
    POINT origin{};                       // where logical (0, 0) is on the canvas, before the viewport origin
    RECT bounds{};                        // the pixels a window DC may touch
    std::optional<RegionShape> visible;   // a window DC's shape (the window's region), in canvas pixels
    DcState state;
    std::vector<DcState> saved;

    Canvas* Target() const;
    // Logical to canvas pixels.
    int X(int x) const { return x + origin.x + state.viewport.x; }
    int Y(int y) const { return y + origin.y + state.viewport.y; }
    // The canvas pixels drawing may touch: their bounding box, and all of them (the canvas, the window's limits and
    // shape, and the program's clipping region).
    RECT Clip() const;
    RegionShape ClipShape() const;
};
using DcPtr = std::shared_ptr<Dc>;

// A DC drawing into a window's canvas (surface.cpp).
HDC CreateWindowCanvasDC(std::shared_ptr<Canvas> canvas, POINT origin, const RECT& bounds);

// Handle table.
HGDIOBJ AddObject(ObjectPtr object);
ObjectPtr FindObject(HGDIOBJ handle);
void RemoveObject(HGDIOBJ handle);
template <class T> std::shared_ptr<T> Find(HGDIOBJ handle, Kind kind) {
    ObjectPtr o = FindObject(handle);
    if (!o || o->kind != kind)
        return nullptr;
    return std::static_pointer_cast<T>(o);
}
DcPtr FindDc(HDC dc);
// A brush handle or a system colour index plus one.
std::shared_ptr<Brush> FindBrush(HBRUSH brush);
std::shared_ptr<Font> StockFont(int index);
std::shared_ptr<Brush> StockBrush(int index);
std::shared_ptr<Pen> StockPen(int index);
BitmapPtr MakeBitmap(int width, int height, bool mono);

// Pixel painting on a DC's canvas, in canvas pixels, clipped to the DC's clip. Pixels are written as they are
// unless `mix` names another foreground mix (the DC's ROP2, which the shapes and lines set).
struct Painter {
    explicit Painter(Dc& dc);
    ~Painter();
    Dc& dc;
    Canvas* canvas;
    RECT clip;
    // The clip when it is more than its bounding box.
    std::optional<RegionShape> mask;
    int mix = R2_COPYPEN;
    bool touched = false;
    bool Inside(int x, int y) const {
        return x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom && (!mask || mask->Contains(x, y));
    }
    void Plot(int x, int y, uint32_t pixel);
    void Span(int y, int x0, int x1, uint32_t pixel);
    // The brush's pixel at a canvas position; nullopt where a hatched brush leaves the background alone.
    std::optional<uint32_t> BrushPixel(const Brush& brush, int x, int y) const;
    void BrushSpan(const Brush& brush, int y, int x0, int x1);
    void FillRect(const RECT& r, const Brush& brush);
    void FillRect(const RECT& r, uint32_t pixel);
};

// Shared by the shape and blit code: the ternary raster operation on 24-bit pixels.
inline uint32_t Rop3(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (code & (1u << i))
            r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    }
    return r & 0xFFFFFFu;
}

// The binary mix of SetROP2 on 24-bit pixels: bit ((p << 1) | d) of (code - 1) is the result.
inline uint32_t Rop2(int code, uint32_t p, uint32_t d) {
    const unsigned table = static_cast<unsigned>(code - 1) & 0xF;
    uint32_t r = 0;
    for (unsigned i = 0; i < 4; ++i)
        if (table & (1u << i))
            r |= ((i & 2) ? p : ~p) & ((i & 1) ? d : ~d);
    return r & 0xFFFFFFu;
}

// Pixel tests of the shapes, shared by drawing and regions: whether a point (a pixel's centre) lies inside.
std::function<bool(double, double)> EllipseTest(const RECT& box);
std::function<bool(double, double)> RoundRectTest(const RECT& box, int width, int height);
// The spans of each row of a polygon (ALTERNATE or WINDING), from row `top` down; pixels whose centres lie inside.
std::vector<std::vector<Span>> PolygonRows(const POINT* points, int count, int fillMode, int& top);
// The spans of each row of the box whose pixel centres pass the test.
std::vector<std::vector<Span>> ShapeRows(const RECT& box, const std::function<bool(double, double)>& inside);
std::shared_ptr<Region> FindRegion(HRGN region);
HRGN AddRegion(RegionShape shape);

// Text helpers shared with icon and edge drawing.
cairo_scaled_font_t* ScaledFont(Font& font);

// DIB layouts (dib.cpp): the header of a packed DIB, decoding its pixels into a canvas and encoding a canvas.
struct DibFormat {
    int width = 0;
    int height = 0; // negative: top-down rows
    int bpp = 0;
    DWORD compression = BI_RGB;
    std::vector<RGBQUAD> colors;
    DWORD masks[3] = {0, 0, 0};
    size_t Stride() const { return ((static_cast<size_t>(width) * bpp + 31) / 32) * 4; }
    int Rows() const { return height < 0 ? -height : height; }
};
// Reads a BITMAPINFOHEADER (or an older or newer header) with its masks and colour table. `end` receives the
// offset just past them. False with ERROR_INVALID_DATA for anything malformed or unsupported.
bool ParseDibHeader(const uint8_t* data, size_t size, DibFormat& format, size_t& end);
// Decodes rows [first, first + count) of the image (row 0 is the top) from `bits` into the canvas; never reads
// past `size`.
bool DecodeDibPixels(const DibFormat& format, const uint8_t* bits, size_t size, Canvas& canvas);
// Encodes `count` rows starting at scan line `start` (counted from the bottom for bottom-up formats).
void EncodeDibPixels(const DibFormat& format, Canvas& canvas, uint8_t* bits, int start, int count);

// A DIB section of the format, its bits zeroed (bitmap.cpp).
BitmapPtr MakeDibSection(const DibFormat& format);

// Image decoding (image.cpp). Returns the bitmap or null with the last error set.
BitmapPtr DecodeDib(const uint8_t* data, size_t size, bool fileHeader);
std::shared_ptr<Icon> DecodeIcon(const uint8_t* data, size_t size, int width, int height);

} // namespace platform::gdi
