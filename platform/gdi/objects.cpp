// The handle table, canvases, pens, brushes, bitmaps, device contexts and their state.
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace platform::gdi {

std::recursive_mutex& Lock() {
    static std::recursive_mutex mutex;
    return mutex;
}

// ---- Canvas ----

Canvas::Canvas(int width, int height, bool mono) : m_width(width), m_height(height), m_mono(mono) {
    if (width < 0 || height < 0 || width > 32767 || height > 32767)
        return;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return;
    }
    m_surface = s;
    // New bitmaps are black, as on Windows.
    cairo_surface_flush(m_surface);
    if (unsigned char* data = cairo_image_surface_get_data(m_surface))
        std::memset(data, 0, static_cast<size_t>(cairo_image_surface_get_stride(m_surface)) * height);
    cairo_surface_mark_dirty(m_surface);
}

Canvas::~Canvas() {
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

uint32_t* Canvas::Row(int y) {
    cairo_surface_flush(m_surface);
    unsigned char* data = cairo_image_surface_get_data(m_surface);
    return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * cairo_image_surface_get_stride(m_surface));
}

uint32_t Canvas::Get(int x, int y) {
    return Row(y)[x] & 0xFFFFFFu;
}

void Canvas::Changed() {
    cairo_surface_mark_dirty(m_surface);
}

bool Canvas::Resize(int width, int height, uint32_t fill) {
    if (width < 0 || height < 0 || width > 32767 || height > 32767)
        return false;
    if (width == m_width && height == m_height)
        return true;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return false;
    }
    cairo_surface_flush(s);
    unsigned char* dst = cairo_image_surface_get_data(s);
    int dstStride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride);
        std::fill(row, row + width, fill);
        if (m_surface && y < m_height)
            std::memcpy(row, Row(y), sizeof(uint32_t) * std::min(width, m_width));
    }
    cairo_surface_mark_dirty(s);
    if (m_surface)
        cairo_surface_destroy(m_surface);
    m_surface = s;
    m_width = width;
    m_height = height;
    return true;
}

void Canvas::Binarize(const RECT& area) {
    if (!m_mono || !m_surface)
        return;
    RECT r{std::max<LONG>(0, area.left), std::max<LONG>(0, area.top), std::min<LONG>(m_width, area.right),
           std::min<LONG>(m_height, area.bottom)};
    for (int y = r.top; y < r.bottom; ++y) {
        uint32_t* row = Row(y);
        for (int x = r.left; x < r.right; ++x)
            row[x] = ToMono(row[x]);
    }
    Changed();
}

// ---- Handle table ----

namespace {

struct Table {
    std::unordered_map<uintptr_t, ObjectPtr> objects;
    uintptr_t next = 0x10000;
};

Table& Objects() {
    static Table table = [] {
        InitFonts(); // the fonts must outlive the objects that use them
        return Table{};
    }();
    return table;
}

} // namespace

HGDIOBJ AddObject(ObjectPtr object) {
    Table& t = Objects();
    uintptr_t value = t.next;
    t.next += 4;
    auto handle = reinterpret_cast<HGDIOBJ>(value);
    object->handle = handle;
    t.objects.emplace(value, std::move(object));
    return handle;
}

ObjectPtr FindObject(HGDIOBJ handle) {
    Table& t = Objects();
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

void RemoveObject(HGDIOBJ handle) {
    Objects().objects.erase(reinterpret_cast<uintptr_t>(handle));
}

DcPtr FindDc(HDC dc) {
    return Find<Dc>(dc, Kind::Dc);
}

std::shared_ptr<Brush> FindBrush(HBRUSH brush) {
    auto value = reinterpret_cast<uintptr_t>(brush);
    if (value >= 1 && value <= COLOR_MENUBAR + 1)
        return Find<Brush>(GetSysColorBrush(static_cast<int>(value - 1)), Kind::Brush);
    return Find<Brush>(brush, Kind::Brush);
}

BitmapPtr MakeBitmap(int width, int height, bool mono) {
    auto b = std::make_shared<Bitmap>(width, height, mono);
    if (!b->Valid())
        return nullptr;
    b->bitsPixel = mono ? 1 : 32;
    return b;
}

// ---- Stock objects and system colours ----

namespace {

constexpr std::array<COLORREF, COLOR_MENUBAR + 1> kSysColors = {
    RGB(212, 208, 200), // COLOR_SCROLLBAR
    RGB(58, 110, 165),  // COLOR_BACKGROUND
    RGB(10, 36, 106),   // COLOR_ACTIVECAPTION
    RGB(128, 128, 128), // COLOR_INACTIVECAPTION
    RGB(212, 208, 200), // COLOR_MENU
    RGB(255, 255, 255), // COLOR_WINDOW
    RGB(0, 0, 0),       // COLOR_WINDOWFRAME
    RGB(0, 0, 0),       // COLOR_MENUTEXT
    RGB(0, 0, 0),       // COLOR_WINDOWTEXT
    RGB(255, 255, 255), // COLOR_CAPTIONTEXT
    RGB(212, 208, 200), // COLOR_ACTIVEBORDER
    RGB(212, 208, 200), // COLOR_INACTIVEBORDER
    RGB(128, 128, 128), // COLOR_APPWORKSPACE
    RGB(10, 36, 106),   // COLOR_HIGHLIGHT
    RGB(255, 255, 255), // COLOR_HIGHLIGHTTEXT
    RGB(212, 208, 200), // COLOR_BTNFACE
    RGB(128, 128, 128), // COLOR_BTNSHADOW
    RGB(128, 128, 128), // COLOR_GRAYTEXT
    RGB(0, 0, 0),       // COLOR_BTNTEXT
    RGB(212, 208, 200), // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255), // COLOR_BTNHIGHLIGHT
    RGB(64, 64, 64),    // COLOR_3DDKSHADOW
    RGB(212, 208, 200), // COLOR_3DLIGHT
    RGB(0, 0, 0),       // COLOR_INFOTEXT
    RGB(255, 255, 225), // COLOR_INFOBK
    RGB(181, 181, 181), // 25: unused
    RGB(0, 0, 128),     // COLOR_HOTLIGHT
    RGB(166, 202, 240), // COLOR_GRADIENTACTIVECAPTION
    RGB(192, 192, 192), // COLOR_GRADIENTINACTIVECAPTION
    RGB(10, 36, 106),   // COLOR_MENUHILIGHT
    RGB(212, 208, 200), // COLOR_MENUBAR
};

struct Stock {
    std::array<HGDIOBJ, DC_PEN + 1> objects{};
    std::array<HBRUSH, COLOR_MENUBAR + 1> sysBrushes{};
    HBITMAP defaultBitmap = nullptr; // the one-pixel monochrome bitmap of new memory DCs
};

LOGFONTW MakeLogFont(LONG height, LONG weight, const char16_t* face, BYTE pitchAndFamily) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = pitchAndFamily;
    platform::CopyTruncated(lf.lfFaceName, LF_FACESIZE, face);
    return lf;
}

HGDIOBJ AddStock(ObjectPtr o) {
    o->stock = true;
    return AddObject(std::move(o));
}

Stock& Stocks() {
    static Stock stock = [] {
        Stock st;
        Stock* s = &st;
        auto brush = [](COLORREF c, UINT style = BS_SOLID) {
            auto b = std::make_shared<Brush>();
            b->color = c;
            b->style = style;
            return AddStock(b);
        };
        auto pen = [](COLORREF c, int style = PS_SOLID) {
            auto p = std::make_shared<Pen>();
            p->color = c;
            p->style = style;
            return AddStock(p);
        };
        auto font = [](const LOGFONTW& lf) {
            auto f = std::make_shared<Font>();
            f->log = lf;
            return AddStock(f);
        };
        s->objects[WHITE_BRUSH] = brush(RGB(255, 255, 255));
        s->objects[LTGRAY_BRUSH] = brush(RGB(192, 192, 192));
        s->objects[GRAY_BRUSH] = brush(RGB(128, 128, 128));
        s->objects[DKGRAY_BRUSH] = brush(RGB(64, 64, 64));
        s->objects[BLACK_BRUSH] = brush(RGB(0, 0, 0));
        s->objects[NULL_BRUSH] = brush(0, BS_NULL);
        s->objects[WHITE_PEN] = pen(RGB(255, 255, 255));
        s->objects[BLACK_PEN] = pen(RGB(0, 0, 0));
        s->objects[NULL_PEN] = pen(0, PS_NULL);
        s->objects[OEM_FIXED_FONT] = font(MakeLogFont(12, FW_NORMAL, u"Terminal", FIXED_PITCH | FF_MODERN));
        s->objects[ANSI_FIXED_FONT] = font(MakeLogFont(13, FW_NORMAL, u"Courier", FIXED_PITCH | FF_MODERN));
        s->objects[ANSI_VAR_FONT] = font(MakeLogFont(13, FW_NORMAL, u"MS Sans Serif", VARIABLE_PITCH | FF_SWISS));
        s->objects[SYSTEM_FONT] = font(MakeLogFont(16, FW_BOLD, u"System", VARIABLE_PITCH | FF_SWISS));
        s->objects[DEVICE_DEFAULT_FONT] = font(MakeLogFont(16, FW_BOLD, u"System", VARIABLE_PITCH | FF_SWISS));
        s->objects[SYSTEM_FIXED_FONT] = font(MakeLogFont(15, FW_NORMAL, u"Fixedsys", FIXED_PITCH | FF_MODERN));
        s->objects[DEFAULT_GUI_FONT] = font(MakeLogFont(-11, FW_NORMAL, u"MS Shell Dlg", VARIABLE_PITCH | FF_SWISS));
        s->objects[DC_BRUSH] = brush(RGB(255, 255, 255));
        s->objects[DC_PEN] = pen(RGB(0, 0, 0));
        for (int i = 0; i <= COLOR_MENUBAR; ++i) {
            auto b = std::make_shared<Brush>();
            b->sysColor = i;
            s->sysBrushes[i] = static_cast<HBRUSH>(AddStock(b));
        }
        s->defaultBitmap = static_cast<HBITMAP>(AddStock(MakeBitmap(1, 1, true)));
        return st;
    }();
    return stock;
}

} // namespace

std::shared_ptr<Font> StockFont(int index) {
    return Find<Font>(Stocks().objects[index], Kind::Font);
}
std::shared_ptr<Brush> StockBrush(int index) {
    return Find<Brush>(Stocks().objects[index], Kind::Brush);
}
std::shared_ptr<Pen> StockPen(int index) {
    return Find<Pen>(Stocks().objects[index], Kind::Pen);
}

// ---- Device contexts ----

Canvas* Dc::Target() const {
    if (memory)
        return state.bitmap.get();
    return windowCanvas.get();
}

RECT Dc::Clip() const {
    Canvas* c = Target();
    if (!c)
        return RECT{};
    RECT r{0, 0, c->Width(), c->Height()};
    if (!memory)
        IntersectRect(&r, &r, &bounds);
    if (!state.clip && !visible)
        return r;
    return ClipShape().Box();
}

RegionShape Dc::ClipShape() const {
    Canvas* c = Target();
    if (!c)
        return RegionShape();
    RECT r{0, 0, c->Width(), c->Height()};
    if (!memory)
        IntersectRect(&r, &r, &bounds);
    RegionShape shape(r);
    if (!memory && visible)
        shape = RegionShape::Combine(shape, *visible, RGN_AND);
    if (state.clip)
        shape = RegionShape::Combine(shape, *state.clip, RGN_AND);
    return shape;
}

namespace {

DcPtr NewDc(bool memory) {
    auto dc = std::make_shared<Dc>();
    dc->memory = memory;
    dc->state.pen = StockPen(BLACK_PEN);
    dc->state.brush = StockBrush(WHITE_BRUSH);
    dc->state.font = StockFont(SYSTEM_FONT);
    for (Object* o : {static_cast<Object*>(dc->state.pen.get()), static_cast<Object*>(dc->state.brush.get()),
                      static_cast<Object*>(dc->state.font.get())})
        ++o->selections;
    return dc;
}

void Release(DcState& s, HDC owner) {
    if (s.pen)
        --s.pen->selections;
    if (s.brush)
        --s.brush->selections;
    if (s.font)
        --s.font->selections;
    if (s.bitmap) {
        --s.bitmap->selections;
        if (s.bitmap->selectedInto == owner && s.bitmap->selections == 0)
            s.bitmap->selectedInto = nullptr;
    }
}

void Acquire(DcState& s, HDC owner) {
    for (Object* o : {static_cast<Object*>(s.pen.get()), static_cast<Object*>(s.brush.get()),
                      static_cast<Object*>(s.font.get()), static_cast<Object*>(s.bitmap.get())})
        if (o)
            ++o->selections;
    if (s.bitmap && !s.bitmap->stock)
        s.bitmap->selectedInto = owner;
}

} // namespace

HDC CreateWindowCanvasDC(std::shared_ptr<Canvas> canvas, POINT origin, const RECT& bounds) {
    std::lock_guard lock(Lock());
    auto dc = NewDc(false);
    dc->windowCanvas = std::move(canvas);
    dc->origin = origin;
    dc->bounds = bounds;
    return static_cast<HDC>(AddObject(dc));
}

} // namespace platform::gdi

using namespace platform::gdi;

namespace {

template <class T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

} // namespace

COLORREF GetSysColor(int index) {
    if (index < 0 || index > COLOR_MENUBAR)
        return 0;
    return kSysColors[index];
}

HBRUSH GetSysColorBrush(int index) {
    std::lock_guard lock(Lock());
    if (index < 0 || index > COLOR_MENUBAR)
        return nullptr;
    return Stocks().sysBrushes[index];
}

HGDIOBJ GetStockObject(int index) {
    std::lock_guard lock(Lock());
    if (index < 0 || index > DC_PEN)
        return nullptr;
    return Stocks().objects[index];
}

DWORD GetObjectType(HGDIOBJ object) {
    std::lock_guard lock(Lock());
    ObjectPtr o = FindObject(object);
    if (!o)
        return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    switch (o->kind) {
    case Kind::Pen:
        return OBJ_PEN;
    case Kind::Brush:
        return OBJ_BRUSH;
    case Kind::Font:
        return OBJ_FONT;
    case Kind::Bitmap:
        return OBJ_BITMAP;
    case Kind::Dc:
        return std::static_pointer_cast<Dc>(o)->memory ? OBJ_MEMDC : OBJ_DC;
    case Kind::Region:
        return OBJ_REGION;
    case Kind::Icon:
        break;
    }
    return Fail(ERROR_INVALID_HANDLE, DWORD{0});
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
    std::lock_guard lock(Lock());
    ObjectPtr o = FindObject(object);
    if (!o)
        return Fail(ERROR_INVALID_HANDLE, 0);
    auto copy = [&](const void* data, int full) {
        if (!buffer)
            return full;
        int n = std::min(size, full);
        if (n <= 0)
            return 0;
        std::memcpy(buffer, data, n);
        return n;
    };
    switch (o->kind) {
    case Kind::Pen: {
        auto* p = static_cast<Pen*>(o.get());
        LOGPEN lp{static_cast<UINT>(p->style), POINT{p->width, 0}, p->color};
        return copy(&lp, sizeof(lp));
    }
    case Kind::Brush: {
        auto* b = static_cast<Brush*>(o.get());
        LOGBRUSH lb{b->style, b->Color(), static_cast<ULONG_PTR>(b->hatch)};
        if (b->style == BS_PATTERN)
            lb = LOGBRUSH{BS_PATTERN, 0, reinterpret_cast<ULONG_PTR>(b->patternBitmap)};
        return copy(&lb, sizeof(lb));
    }
    case Kind::Font:
        return copy(&static_cast<Font*>(o.get())->log, sizeof(LOGFONTW));
    case Kind::Bitmap: {
        auto* b = static_cast<Bitmap*>(o.get());
        DIBSECTION ds{};
        ds.dsBm.bmType = 0;
        ds.dsBm.bmWidth = b->Width();
        ds.dsBm.bmHeight = b->Height();
        ds.dsBm.bmPlanes = 1;
        ds.dsBm.bmBitsPixel = static_cast<WORD>(b->bitsPixel);
        if (b->dib) {
            ds.dsBm.bmWidthBytes = ((b->Width() * b->bitsPixel + 31) / 32) * 4;
            ds.dsBm.bmBits = b->bits.data();
            ds.dsBmih = b->header;
            if (buffer && size >= static_cast<int>(sizeof(DIBSECTION)))
                return copy(&ds, sizeof(DIBSECTION));
        } else {
            ds.dsBm.bmWidthBytes = ((b->Width() * b->bitsPixel + 15) / 16) * 2;
        }
        return copy(&ds.dsBm, sizeof(BITMAP));
    }
    case Kind::Dc:
    case Kind::Icon:
    case Kind::Region:
        break;
    }
    return Fail(ERROR_INVALID_HANDLE, 0);
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard lock(Lock());
    ObjectPtr o = FindObject(object);
    if (!o || o->kind == Kind::Dc || o->kind == Kind::Icon)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (o->stock)
        return TRUE;
    if (o->selections > 0)
        return Fail(ERROR_BUSY, FALSE);
    RemoveObject(object);
    return TRUE;
}

HPEN CreatePen(int style, int width, COLORREF color) {
    std::lock_guard lock(Lock());
    int s = style & PS_STYLE_MASK;
    if (s > PS_INSIDEFRAME)
        return Fail(ERROR_INVALID_PARAMETER, HPEN{});
    auto p = std::make_shared<Pen>();
    p->style = s;
    p->width = std::max(1, std::abs(width));
    // Styled pens are one pixel wide; a wider one draws solid, as on Windows.
    if (p->width > 1 && s >= PS_DASH && s <= PS_DASHDOTDOT)
        p->style = PS_SOLID;
    p->color = color & 0xFFFFFF;
    return static_cast<HPEN>(AddObject(p));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
    if (!pen)
        return Fail(ERROR_INVALID_PARAMETER, HPEN{});
    return CreatePen(static_cast<int>(pen->lopnStyle), pen->lopnWidth.x, pen->lopnColor);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    std::lock_guard lock(Lock());
    auto b = std::make_shared<Brush>();
    b->color = color & 0xFFFFFF;
    return static_cast<HBRUSH>(AddObject(b));
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
    std::lock_guard lock(Lock());
    if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS)
        return Fail(ERROR_INVALID_PARAMETER, HBRUSH{});
    auto b = std::make_shared<Brush>();
    b->style = BS_HATCHED;
    b->hatch = hatch;
    b->color = color & 0xFFFFFF;
    return static_cast<HBRUSH>(AddObject(b));
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
    std::lock_guard lock(Lock());
    BitmapPtr bm = Find<Bitmap>(bitmap, Kind::Bitmap);
    if (!bm || bm->Width() == 0 || bm->Height() == 0)
        return Fail(ERROR_INVALID_HANDLE, HBRUSH{});
    auto b = std::make_shared<Brush>();
    b->style = BS_PATTERN;
    b->patternBitmap = bitmap;
    b->patternWidth = bm->Width();
    b->patternHeight = bm->Height();
    b->patternMono = bm->Mono();
    bm->BeforeUse();
    b->pattern.resize(static_cast<size_t>(bm->Width()) * bm->Height());
    for (int y = 0; y < bm->Height(); ++y)
        for (int x = 0; x < bm->Width(); ++x)
            b->pattern[static_cast<size_t>(y) * bm->Width() + x] = bm->Get(x, y);
    return static_cast<HBRUSH>(AddObject(b));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
    if (!brush)
        return Fail(ERROR_INVALID_PARAMETER, HBRUSH{});
    switch (brush->lbStyle) {
    case BS_SOLID:
        return CreateSolidBrush(brush->lbColor);
    case BS_NULL: {
        std::lock_guard lock(Lock());
        auto b = std::make_shared<Brush>();
        b->style = BS_NULL;
        return static_cast<HBRUSH>(AddObject(b));
    }
    case BS_HATCHED:
        return CreateHatchBrush(static_cast<int>(brush->lbHatch), brush->lbColor);
    case BS_PATTERN:
        return CreatePatternBrush(reinterpret_cast<HBITMAP>(brush->lbHatch));
    default:
        return Fail(ERROR_INVALID_PARAMETER, HBRUSH{});
    }
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
    if (!font)
        return Fail(ERROR_INVALID_PARAMETER, HFONT{});
    std::lock_guard lock(Lock());
    auto f = std::make_shared<Font>();
    f->log = *font;
    f->log.lfFaceName[LF_FACESIZE - 1] = 0;
    return static_cast<HFONT>(AddObject(f));
}

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR faceName) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = static_cast<BYTE>(italic != 0);
    lf.lfUnderline = static_cast<BYTE>(underline != 0);
    lf.lfStrikeOut = static_cast<BYTE>(strikeOut != 0);
    lf.lfCharSet = static_cast<BYTE>(charSet);
    lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
    lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
    lf.lfQuality = static_cast<BYTE>(quality);
    lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
    if (faceName)
        platform::CopyTruncated(lf.lfFaceName, LF_FACESIZE, faceName);
    return CreateFontIndirectW(&lf);
}

HDC CreateCompatibleDC(HDC dc) {
    std::lock_guard lock(Lock());
    if (dc && !FindDc(dc))
        return Fail(ERROR_INVALID_HANDLE, HDC{});
    auto mem = NewDc(true);
    // A new memory DC holds the stock one-pixel monochrome bitmap.
    mem->state.bitmap = Find<Bitmap>(Stocks().defaultBitmap, Kind::Bitmap);
    ++mem->state.bitmap->selections;
    return static_cast<HDC>(AddObject(mem));
}

BOOL DeleteDC(HDC dc) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    Release(d->state, dc);
    for (DcState& s : d->saved)
        Release(s, dc);
    d->saved.clear();
    RemoveObject(dc);
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    ObjectPtr o = FindObject(object);
    if (!d || !o)
        return Fail(ERROR_INVALID_HANDLE, HGDIOBJ{});
    DcState& s = d->state;
    auto swap = [&](auto& slot) -> HGDIOBJ {
        using T = typename std::remove_reference_t<decltype(slot)>::element_type;
        HGDIOBJ previous = slot ? slot->handle : nullptr;
        if (slot)
            --slot->selections;
        slot = std::static_pointer_cast<T>(o);
        ++slot->selections;
        return previous;
    };
    switch (o->kind) {
    case Kind::Pen:
        return swap(s.pen);
    case Kind::Brush:
        return swap(s.brush);
    case Kind::Font:
        return swap(s.font);
    case Kind::Bitmap: {
        auto b = std::static_pointer_cast<Bitmap>(o);
        if (!d->memory)
            return Fail(ERROR_INVALID_PARAMETER, HGDIOBJ{});
        if (!b->stock && b->selectedInto && b->selectedInto != dc)
            return Fail(ERROR_BUSY, HGDIOBJ{});
        HGDIOBJ previous = s.bitmap ? s.bitmap->handle : nullptr;
        if (s.bitmap) {
            --s.bitmap->selections;
            if (s.bitmap->selections == 0)
                s.bitmap->selectedInto = nullptr;
        }
        s.bitmap = b;
        ++b->selections;
        if (!b->stock)
            b->selectedInto = dc;
        // The clip of a memory DC follows its bitmap.
        s.clip.reset();
        return previous;
    }
    case Kind::Region: {
        // Selecting a region selects a copy of it as the clipping region and answers its kind.
        const int kind = SelectClipRgn(dc, static_cast<HRGN>(object));
        return kind == ERROR ? HGDIOBJ{} : reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(kind));
    }
    case Kind::Dc:
    case Kind::Icon:
        break;
    }
    return Fail(ERROR_INVALID_PARAMETER, HGDIOBJ{});
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, HGDIOBJ{});
    switch (type) {
    case OBJ_PEN:
        return d->state.pen->handle;
    case OBJ_BRUSH:
        return d->state.brush->handle;
    case OBJ_FONT:
        return d->state.font->handle;
    case OBJ_BITMAP:
        return d->state.bitmap ? d->state.bitmap->handle : nullptr;
    default:
        return Fail(ERROR_INVALID_PARAMETER, HGDIOBJ{});
    }
}

int SaveDC(HDC dc) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, 0);
    d->saved.push_back(d->state);
    Acquire(d->saved.back(), dc);
    return static_cast<int>(d->saved.size());
}

BOOL RestoreDC(HDC dc, int savedDC) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    int count = static_cast<int>(d->saved.size());
    int index = savedDC < 0 ? count + savedDC : savedDC - 1;
    if (index < 0 || index >= count)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // A bitmap of the saved state may meanwhile be selected into another DC.
    const BitmapPtr& bitmap = d->saved[index].bitmap;
    if (bitmap && !bitmap->stock && bitmap->selectedInto && bitmap->selectedInto != dc)
        return Fail(ERROR_BUSY, FALSE);
    Release(d->state, dc);
    d->state = d->saved[index];
    for (int i = index; i < count; ++i)
        Release(d->saved[i], dc);
    d->saved.resize(index);
    Acquire(d->state, dc);
    return TRUE;
}

int GetDeviceCaps(HDC dc, int index) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (dc && !d)
        return Fail(ERROR_INVALID_HANDLE, 0);
    switch (index) {
    case TECHNOLOGY:
        return DT_RASDISPLAY;
    case HORZRES:
        return 1280;
    case VERTRES:
        return 1024;
    case HORZSIZE:
        return 1280 * 254 / 960;
    case VERTSIZE:
        return 1024 * 254 / 960;
    case BITSPIXEL:
        return d && d->memory && d->state.bitmap && d->state.bitmap->Mono() ? 1 : 32;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return -1;
    case RASTERCAPS:
        return RC_BITBLT | RC_STRETCHBLT;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case SIZEPALETTE:
        return 0;
    default:
        return 0;
    }
}

namespace {

template <class T, class F> T SetState(HDC dc, T failure, F f) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, failure);
    return f(d->state);
}

} // namespace

COLORREF SetTextColor(HDC dc, COLORREF color) {
    return SetState(dc, CLR_INVALID, [&](DcState& s) { return std::exchange(s.text, color & 0xFFFFFF); });
}
COLORREF GetTextColor(HDC dc) {
    return SetState(dc, CLR_INVALID, [](DcState& s) { return s.text; });
}
COLORREF SetBkColor(HDC dc, COLORREF color) {
    return SetState(dc, CLR_INVALID, [&](DcState& s) { return std::exchange(s.bk, color & 0xFFFFFF); });
}
COLORREF GetBkColor(HDC dc) {
    return SetState(dc, CLR_INVALID, [](DcState& s) { return s.bk; });
}
int SetBkMode(HDC dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    return SetState(dc, 0, [&](DcState& s) { return std::exchange(s.bkMode, mode); });
}
int GetBkMode(HDC dc) {
    return SetState(dc, 0, [](DcState& s) { return s.bkMode; });
}
UINT SetTextAlign(HDC dc, UINT align) {
    return SetState(dc, GDI_ERROR, [&](DcState& s) { return std::exchange(s.align, align); });
}
UINT GetTextAlign(HDC dc) {
    return SetState(dc, GDI_ERROR, [](DcState& s) { return s.align; });
}
int SetStretchBltMode(HDC dc, int mode) {
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    return SetState(dc, 0, [&](DcState& s) { return std::exchange(s.stretchMode, mode); });
}
int GetStretchBltMode(HDC dc) {
    return SetState(dc, 0, [](DcState& s) { return s.stretchMode; });
}
BOOL SetViewportOrgEx(HDC dc, int x, int y, LPPOINT previous) {
    return SetState(dc, FALSE, [&](DcState& s) {
        if (previous)
            *previous = s.viewport;
        s.viewport = POINT{x, y};
        return TRUE;
    });
}
BOOL GetViewportOrgEx(HDC dc, LPPOINT origin) {
    return SetState(dc, FALSE, [&](DcState& s) {
        if (!origin)
            return FALSE;
        *origin = s.viewport;
        return TRUE;
    });
}
BOOL OffsetViewportOrgEx(HDC dc, int dx, int dy, LPPOINT previous) {
    return SetState(dc, FALSE, [&](DcState& s) {
        if (previous)
            *previous = s.viewport;
        s.viewport.x += dx;
        s.viewport.y += dy;
        return TRUE;
    });
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    RECT r{d->X(left), d->Y(top), d->X(right), d->Y(bottom)};
    RegionShape rect(RECT{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
                          std::max(r.top, r.bottom)});
    d->state.clip = RegionShape::Combine(d->ClipShape(), rect, RGN_AND);
    return d->ClipShape().Complexity();
}

int GetClipBox(HDC dc, LPRECT rect) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d || !rect)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    const RegionShape shape = d->ClipShape();
    RECT c = shape.Box();
    int dx = d->X(0), dy = d->Y(0);
    *rect = RECT{c.left - dx, c.top - dy, c.right - dx, c.bottom - dy};
    return shape.Complexity();
}

int ExtSelectClipRgn(HDC dc, HRGN region, int mode) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    if (mode < RGN_AND || mode > RGN_COPY)
        return Fail(ERROR_INVALID_PARAMETER, ERROR);
    if (!region) {
        if (mode != RGN_COPY)
            return Fail(ERROR_INVALID_PARAMETER, ERROR);
        d->state.clip.reset();
        return d->ClipShape().Complexity();
    }
    auto r = FindRegion(region);
    if (!r)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    // Device units to canvas pixels.
    RegionShape shape = r->shape;
    shape.Offset(d->origin.x, d->origin.y);
    if (mode == RGN_COPY) {
        d->state.clip = std::move(shape);
    } else {
        // Without a clipping region of its own the DC's clip is all it may draw on.
        const RegionShape current = d->state.clip ? *d->state.clip : d->ClipShape();
        d->state.clip = RegionShape::Combine(current, shape, mode);
    }
    return d->ClipShape().Complexity();
}

int SelectClipRgn(HDC dc, HRGN region) {
    return ExtSelectClipRgn(dc, region, RGN_COPY);
}

int GetClipRgn(HDC dc, HRGN region) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    auto r = FindRegion(region);
    if (!d || !r)
        return Fail(ERROR_INVALID_HANDLE, -1);
    if (!d->state.clip)
        return 0;
    r->shape = *d->state.clip;
    r->shape.Offset(-d->origin.x, -d->origin.y);
    return 1;
}

int SetROP2(HDC dc, int mode) {
    if (mode < R2_BLACK || mode > R2_WHITE)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    return SetState(dc, 0, [&](DcState& s) { return std::exchange(s.rop2, mode); });
}
int GetROP2(HDC dc) {
    return SetState(dc, 0, [](DcState& s) { return s.rop2; });
}
int SetPolyFillMode(HDC dc, int mode) {
    if (mode != ALTERNATE && mode != WINDING)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    return SetState(dc, 0, [&](DcState& s) { return std::exchange(s.polyFillMode, mode); });
}
int GetPolyFillMode(HDC dc) {
    return SetState(dc, 0, [](DcState& s) { return s.polyFillMode; });
}
