// Loading bitmaps and icons from files and resources, and drawing icons.
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/gdi/pixels.h"
#include "platform/res/resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

namespace platform::gdi {

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

template <class T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

} // namespace

BitmapPtr DecodeDib(const uint8_t* data, size_t size, bool fileHeader) {
    size_t base = 0;
    uint32_t offBits = 0;
    if (fileHeader) {
        if (size < 14 || data[0] != 'B' || data[1] != 'M')
            return Fail(ERROR_INVALID_DATA, BitmapPtr{});
        offBits = Get32(data + 10);
        base = 14;
    }
    DibFormat f;
    size_t end = 0;
    if (!ParseDibHeader(data + base, size - base, f, end))
        return nullptr;
    size_t pixels = base + end;
    // A file names where its pixels start; a header that points into itself or past the end is refused.
    if (fileHeader && offBits != 0) {
        if (offBits < base + end || offBits > size)
            return Fail(ERROR_INVALID_DATA, BitmapPtr{});
        pixels = offBits;
    }
    BitmapPtr b = MakeBitmap(f.width, f.Rows(), false);
    if (!b)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, BitmapPtr{});
    if (!DecodeDibPixels(f, data + pixels, size - pixels, *b))
        return nullptr;
    b->bitsPixel = f.bpp;
    return b;
}

namespace {

// One image of an icon file: a DIB of twice the height (colour, then the AND mask) or a PNG.
std::shared_ptr<Icon> DecodeIconImage(const uint8_t* data, size_t size) {
    auto icon = std::make_shared<Icon>();
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) {
        struct Reader {
            const uint8_t* data;
            size_t size;
            size_t pos;
        } reader{data, size, 0};
        cairo_surface_t* s = cairo_image_surface_create_from_png_stream(
            [](void* closure, unsigned char* out, unsigned int length) {
                auto* r = static_cast<Reader*>(closure);
                if (r->size - r->pos < length)
                    return CAIRO_STATUS_READ_ERROR;
                std::memcpy(out, r->data + r->pos, length);
                r->pos += length;
                return CAIRO_STATUS_SUCCESS;
            },
            &reader);
        if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(s);
            return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
        }
        cairo_surface_flush(s);
        icon->width = cairo_image_surface_get_width(s);
        icon->height = cairo_image_surface_get_height(s);
        bool hasAlpha = cairo_image_surface_get_format(s) == CAIRO_FORMAT_ARGB32;
        size_t n = static_cast<size_t>(icon->width) * icon->height;
        icon->color.resize(n);
        icon->mask.assign(n, 0);
        if (hasAlpha)
            icon->alpha.resize(n);
        const unsigned char* px = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < icon->height; ++y)
            for (int x = 0; x < icon->width; ++x) {
                uint32_t v;
                std::memcpy(&v, px + static_cast<size_t>(y) * stride + 4 * x, 4);
                size_t i = static_cast<size_t>(y) * icon->width + x;
                uint32_t a = hasAlpha ? v >> 24 : 255;
                // cairo keeps premultiplied colour; undo it.
                auto un = [&](uint32_t c) { return a ? std::min<uint32_t>(255, c * 255 / a) : 0; };
                icon->color[i] = (un((v >> 16) & 0xFF) << 16) | (un((v >> 8) & 0xFF) << 8) | un(v & 0xFF);
                if (hasAlpha) {
                    icon->alpha[i] = static_cast<uint8_t>(a);
                    icon->mask[i] = a == 0;
                }
            }
        cairo_surface_destroy(s);
        return icon;
    }
    DibFormat f;
    size_t end = 0;
    if (!ParseDibHeader(data, size, f, end))
        return nullptr;
    if (f.height <= 0 || f.height % 2 != 0 || f.compression != BI_RGB)
        return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
    int h = f.height / 2;
    DibFormat colorFormat = f;
    colorFormat.height = h;
    Canvas color(f.width, h, false);
    if (!color.Valid() || !DecodeDibPixels(colorFormat, data + end, size - end, color))
        return nullptr;
    size_t colorBytes = colorFormat.Stride() * h;
    DibFormat maskFormat;
    maskFormat.width = f.width;
    maskFormat.height = h;
    maskFormat.bpp = 1;
    maskFormat.colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    icon->width = f.width;
    icon->height = h;
    size_t n = static_cast<size_t>(f.width) * h;
    icon->color.resize(n);
    icon->mask.assign(n, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < f.width; ++x)
            icon->color[static_cast<size_t>(y) * f.width + x] = color.Get(x, y);
    // The AND mask may be missing from 32-bit images, which carry alpha instead.
    if (size - end - colorBytes >= maskFormat.Stride() * h) {
        Canvas mask(f.width, h, false);
        if (mask.Valid() && DecodeDibPixels(maskFormat, data + end + colorBytes, size - end - colorBytes, mask))
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < f.width; ++x)
                    icon->mask[static_cast<size_t>(y) * f.width + x] = mask.Get(x, y) != 0;
    } else if (f.bpp != 32) {
        return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
    }
    if (f.bpp == 32) {
        // Alpha bytes, when any is set, make the image blend.
        size_t stride = colorFormat.Stride();
        std::vector<uint8_t> alpha(n);
        bool any = false;
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < f.width; ++x) {
                uint8_t a = data[end + static_cast<size_t>(row) * stride + 4 * x + 3];
                alpha[static_cast<size_t>(h - 1 - row) * f.width + x] = a;
                any = any || a != 0;
            }
        if (any) {
            icon->alpha = std::move(alpha);
            for (size_t i = 0; i < n; ++i)
                icon->mask[i] = icon->alpha[i] == 0;
        }
    }
    return icon;
}

} // namespace

std::shared_ptr<Icon> DecodeIcon(const uint8_t* data, size_t size, int width, int height) {
    if (!data || size < 6 || Get16(data) != 0 || (Get16(data + 2) != 1 && Get16(data + 2) != 2))
        return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
    bool cursor = Get16(data + 2) == 2;
    size_t count = Get16(data + 4);
    if (count == 0 || (size - 6) / 16 < count)
        return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
    // The entry nearest the wanted size, then the deepest colour.
    size_t best = 0;
    long bestScore = -1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = data + 6 + 16 * i;
        int w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
        int bpp = cursor ? 0 : Get16(e + 6);
        long distance = std::abs(w - (width ? width : w)) + std::abs(h - (height ? height : h));
        long score = (100000 - distance) * 64 + bpp;
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    const uint8_t* e = data + 6 + 16 * best;
    uint32_t bytes = Get32(e + 8), offset = Get32(e + 12);
    if (offset > size || bytes > size - offset || bytes == 0)
        return Fail(ERROR_INVALID_DATA, std::shared_ptr<Icon>{});
    auto icon = DecodeIconImage(data + offset, bytes);
    if (!icon)
        return nullptr;
    icon->isIcon = !cursor;
    if (cursor)
        icon->hotspot = POINT{Get16(e + 4), Get16(e + 6)};
    else
        icon->hotspot = POINT{icon->width / 2, icon->height / 2};
    return icon;
}

namespace {

std::shared_ptr<Icon> Scaled(const std::shared_ptr<Icon>& src, int width, int height) {
    if (!width || !height || (width == src->width && height == src->height))
        return src;
    auto out = std::make_shared<Icon>(*src);
    out->handle = nullptr;
    out->width = width;
    out->height = height;
    size_t n = static_cast<size_t>(width) * height;
    out->color.assign(n, 0);
    out->mask.assign(n, 1);
    if (!src->alpha.empty())
        out->alpha.assign(n, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t s = static_cast<size_t>(y * src->height / height) * src->width + (x * src->width / width);
            size_t d = static_cast<size_t>(y) * width + x;
            out->color[d] = src->color[s];
            out->mask[d] = src->mask[s];
            if (!src->alpha.empty())
                out->alpha[d] = src->alpha[s];
        }
    out->hotspot =
        POINT{src->hotspot.x * width / std::max(1, src->width), src->hotspot.y * height / std::max(1, src->height)};
    return out;
}

// Reads a whole file through the file layer (Windows path).
bool ReadWholeFile(LPCWSTR path, std::vector<uint8_t>& out) {
    const platform::OwnedHandle owner(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!owner)
        return false;
    const HANDLE file = owner.get();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        return false;
    constexpr LONGLONG kLimit = 256LL << 20;
    if (size.QuadPart > kLimit) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    out.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!out.empty() &&
        (!ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &read, nullptr) || read != out.size())) {
        SetLastError(ERROR_READ_FAULT);
        return false;
    }
    return true;
}

bool ResourceData(HINSTANCE module, LPCWSTR name, LPCWSTR type, const uint8_t*& data, size_t& size) {
    HRSRC res = FindResourceW(module, name, type);
    if (!res)
        return false;
    HGLOBAL g = LoadResource(module, res);
    data = static_cast<const uint8_t*>(LockResource(g));
    size = SizeofResource(module, res);
    if (!data) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    return true;
}

// Shared images (LR_SHARED, LoadIconW): one handle per module, name and type.
struct SharedKey {
    HINSTANCE module;
    std::u16string name;
    UINT type;
    int width, height;
    bool operator<(const SharedKey& o) const {
        return std::tie(module, name, type, width, height) < std::tie(o.module, o.name, o.type, o.width, o.height);
    }
};

std::map<SharedKey, HANDLE>& SharedImages() {
    static std::map<SharedKey, HANDLE> shared;
    return shared;
}

// One key for every spelling of a resource name: a number (MAKEINTRESOURCE or "#140") as "#140", a name in
// capitals (names compare without regard to case). A file name is kept as written.
std::u16string NameKey(LPCWSTR name, bool file) {
    auto number = [](ULONG_PTR n) {
        const std::string digits = std::to_string(n);
        return u"#" + std::u16string(digits.begin(), digits.end());
    };
    if (IS_INTRESOURCE(name))
        return number(reinterpret_cast<ULONG_PTR>(name));
    std::u16string key(name);
    if (file)
        return key;
    if (key.size() > 1 && key[0] == u'#') {
        ULONG_PTR n = 0;
        bool digits = key.size() <= 6;
        for (size_t i = 1; i < key.size() && digits; ++i) {
            digits = key[i] >= u'0' && key[i] <= u'9';
            n = n * 10 + static_cast<ULONG_PTR>(key[i] - u'0');
        }
        if (digits && n <= 0xFFFF)
            return number(n);
    }
    for (auto& c : key)
        c = platform::FoldUpper(c);
    return key;
}

HBITMAP AddBitmap(BitmapPtr b, UINT flags) {
    if (flags & LR_MONOCHROME) {
        BitmapPtr mono = MakeBitmap(b->Width(), b->Height(), true);
        if (!mono)
            return Fail(ERROR_NOT_ENOUGH_MEMORY, HBITMAP{});
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x)
                mono->Put(x, y, b->Get(x, y));
        mono->Changed();
        b = mono;
    }
    if (flags & LR_LOADTRANSPARENT && b->Width() > 0 && b->Height() > 0) {
        uint32_t key = b->Get(0, 0), window = ToPixel(GetSysColor(COLOR_WINDOW));
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x)
                if (b->Get(x, y) == key)
                    b->Put(x, y, window);
        b->Changed();
    }
    if ((flags & LR_CREATEDIBSECTION) && !b->Mono()) {
        DibFormat f;
        f.width = b->Width();
        f.height = b->Height();
        f.bpp = 24;
        f.masks[0] = f.masks[1] = f.masks[2] = 0;
        BitmapPtr dib = MakeDibSection(f);
        if (!dib)
            return Fail(ERROR_NOT_ENOUGH_MEMORY, HBITMAP{});
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x)
                dib->Put(x, y, b->Get(x, y));
        dib->Changed();
        dib->AfterChange();
        b = dib;
    } else if (!b->Mono()) {
        b->bitsPixel = 32; // a device bitmap has the screen's depth
    } else {
        b->bitsPixel = 1;
    }
    return static_cast<HBITMAP>(AddObject(b));
}

BitmapPtr StretchBitmap(const BitmapPtr& b, int width, int height) {
    if (!width || !height || (width == b->Width() && height == b->Height()))
        return b;
    BitmapPtr out = MakeBitmap(width, height, b->Mono());
    if (!out)
        return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out->Put(x, y, b->Get(x * b->Width() / width, y * b->Height() / height));
    out->Changed();
    return out;
}

// The system's own icons, drawn once with the layer's own shapes.
std::shared_ptr<Icon> SystemIcon(ULONG_PTR id) {
    if (id < 32512 || id > 32517)
        return nullptr;
    constexpr int kSize = 32;
    HDC dc = CreateCompatibleDC(nullptr);
    BitmapPtr canvas = MakeBitmap(kSize, kSize, false);
    HBITMAP bitmap = static_cast<HBITMAP>(AddObject(canvas));
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    // Magenta marks what shows through.
    constexpr COLORREF kKey = RGB(255, 0, 255);
    RECT all{0, 0, kSize, kSize};
    HBRUSH key = CreateSolidBrush(kKey);
    FillRect(dc, &all, key);
    DeleteObject(key);
    COLORREF face = RGB(0, 0, 0), ink = RGB(255, 255, 255);
    const char16_t* glyph = u"";
    switch (id) {
    case 32513: // hand: a red disc with a white cross
        face = RGB(220, 0, 0);
        glyph = u"X";
        break;
    case 32514: // question
        face = RGB(0, 64, 200);
        glyph = u"?";
        break;
    case 32515: // exclamation: a yellow triangle
        face = RGB(255, 220, 0);
        ink = RGB(0, 0, 0);
        glyph = u"!";
        break;
    case 32516: // asterisk: information
        face = RGB(0, 64, 200);
        glyph = u"i";
        break;
    default: // application and logo: a small window
        face = RGB(255, 255, 255);
        break;
    }
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HBRUSH brush = CreateSolidBrush(face);
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, brush);
    if (id == 32515) {
        POINT tri[3] = {{16, 1}, {31, 30}, {1, 30}};
        Polygon(dc, tri, 3);
    } else if (id == 32512 || id == 32517) {
        Rectangle(dc, 2, 4, 30, 28);
        RECT title{3, 5, 29, 10};
        HBRUSH caption = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
        FillRect(dc, &title, caption);
        DeleteObject(caption);
    } else {
        Ellipse(dc, 1, 1, 31, 31);
    }
    if (*glyph) {
        HFONT font = CreateFontW(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Sans");
        HGDIOBJ oldFont = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ink);
        RECT r{0, id == 32515 ? 6 : 2, kSize, kSize};
        DrawTextW(dc, glyph, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, oldFont);
        DeleteObject(font);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
    auto icon = std::make_shared<Icon>();
    icon->width = icon->height = kSize;
    icon->hotspot = POINT{kSize / 2, kSize / 2};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            uint32_t p = canvas->Get(x, y);
            bool clear = p == ToPixel(kKey);
            icon->color.push_back(clear ? 0 : p);
            icon->mask.push_back(clear);
        }
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return icon;
}

// The system's own cursors, drawn once like the icons: black shapes with a white edge on a transparent ground,
// each with its hot spot.
std::shared_ptr<Icon> SystemCursor(ULONG_PTR id) {
    constexpr int kSize = 32;
    POINT hotspot{kSize / 2, kSize / 2};
    // Polygons (white with a black edge) and lines (black) of each cursor.
    std::vector<std::vector<POINT>> shapes;
    std::vector<std::pair<POINT, POINT>> lines;
    const std::vector<POINT> arrow = {{0, 0}, {0, 21}, {5, 16}, {9, 25}, {12, 24}, {8, 15}, {15, 15}};
    switch (id) {
    case 32512: // IDC_ARROW
        shapes.push_back(arrow);
        hotspot = POINT{0, 0};
        break;
    case 32513: // IDC_IBEAM
        lines = {{{16, 4}, {16, 28}}, {{12, 4}, {21, 4}}, {{12, 28}, {21, 28}}};
        break;
    case 32514: // IDC_WAIT: an hourglass
        shapes.push_back({{8, 2}, {24, 2}, {24, 5}, {18, 16}, {24, 27}, {24, 30}, {8, 30}, {8, 27}, {14, 16}, {8, 5}});
        break;
    case 32515: // IDC_CROSS
        lines = {{{16, 2}, {16, 31}}, {{2, 16}, {31, 16}}};
        break;
    case 32516: // IDC_UPARROW
        shapes.push_back({{16, 0}, {25, 9}, {19, 9}, {19, 30}, {13, 30}, {13, 9}, {7, 9}});
        hotspot = POINT{16, 0};
        break;
    case 32640: // IDC_SIZE
    case 32646: // IDC_SIZEALL
        lines = {{{16, 1}, {16, 31}},  {{1, 16}, {31, 16}},  {{12, 5}, {16, 1}}, {{16, 1}, {21, 6}},
                 {{12, 27}, {16, 31}}, {{16, 31}, {21, 26}}, {{5, 12}, {1, 16}}, {{1, 16}, {6, 21}},
                 {{27, 12}, {31, 16}}, {{31, 16}, {26, 21}}};
        break;
    case 32642: // IDC_SIZENWSE
        lines = {{{4, 4}, {28, 28}}, {{4, 4}, {4, 11}}, {{4, 4}, {11, 4}}, {{28, 28}, {28, 21}}, {{28, 28}, {21, 28}}};
        break;
    case 32643: // IDC_SIZENESW
        lines = {{{28, 4}, {4, 28}}, {{28, 4}, {21, 4}}, {{28, 4}, {28, 11}}, {{4, 28}, {11, 28}}, {{4, 28}, {4, 21}}};
        break;
    case 32644: // IDC_SIZEWE
        lines = {
            {{2, 16}, {30, 16}}, {{2, 16}, {7, 11}}, {{2, 16}, {7, 21}}, {{30, 16}, {25, 11}}, {{30, 16}, {25, 21}}};
        break;
    case 32645: // IDC_SIZENS
        lines = {
            {{16, 2}, {16, 30}}, {{16, 2}, {11, 7}}, {{16, 2}, {21, 7}}, {{16, 30}, {11, 25}}, {{16, 30}, {21, 25}}};
        break;
    case 32648: // IDC_NO: a ring with a bar
        lines = {{{7, 7}, {25, 25}}};
        break;
    case 32649: // IDC_HAND: a pointing finger over a palm
        shapes.push_back({{9, 0}, {13, 0}, {13, 11}, {22, 12}, {22, 24}, {18, 30}, {9, 30}, {5, 22}, {5, 15}, {9, 15}});
        hotspot = POINT{11, 0};
        break;
    case 32650: // IDC_APPSTARTING: the arrow with a small hourglass
        shapes.push_back(arrow);
        shapes.push_back({{18, 18}, {28, 18}, {24, 24}, {28, 30}, {18, 30}, {22, 24}});
        hotspot = POINT{0, 0};
        break;
    case 32651: // IDC_HELP: the arrow with a question mark
        shapes.push_back(arrow);
        hotspot = POINT{0, 0};
        break;
    default:
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    BitmapPtr canvas = MakeBitmap(kSize, kSize, false);
    HBITMAP bitmap = static_cast<HBITMAP>(AddObject(canvas));
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    constexpr COLORREF kKey = RGB(255, 0, 255); // what shows through
    RECT all{0, 0, kSize, kSize};
    HBRUSH key = CreateSolidBrush(kKey);
    FillRect(dc, &all, key);
    DeleteObject(key);
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HPEN thick = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
    HGDIOBJ oldPen = SelectObject(dc, black);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    for (const auto& shape : shapes)
        Polygon(dc, shape.data(), static_cast<int>(shape.size()));
    if (id == 32648) {
        SelectObject(dc, thick);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        Ellipse(dc, 3, 3, 29, 29);
    }
    SelectObject(dc, lines.size() > 0 && id != 32513 && id != 32515 ? thick : black);
    for (const auto& [from, to] : lines) {
        MoveToEx(dc, from.x, from.y, nullptr);
        LineTo(dc, to.x, to.y);
    }
    if (id == 32651) {
        HFONT font = CreateFontW(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Sans");
        HGDIOBJ oldFont = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        TextOutW(dc, 17, 14, u"?", 1);
        SelectObject(dc, oldFont);
        DeleteObject(font);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(black);
    DeleteObject(thick);
    auto cursor = std::make_shared<Icon>();
    cursor->width = cursor->height = kSize;
    cursor->isIcon = false;
    cursor->hotspot = hotspot;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            uint32_t p = canvas->Get(x, y);
            bool clear = p == ToPixel(kKey);
            cursor->color.push_back(clear ? 0 : p);
            cursor->mask.push_back(clear);
        }
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return cursor;
}

HICON LoadIconImage(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags) {
    std::shared_ptr<Icon> icon;
    if (flags & LR_LOADFROMFILE) {
        std::vector<uint8_t> data;
        if (!ReadWholeFile(name, data))
            return nullptr;
        icon = DecodeIcon(data.data(), data.size(), width ? width : 32, height ? height : 32);
    } else if (!module && IS_INTRESOURCE(name) &&
               (icon = type == IMAGE_CURSOR ? SystemCursor(reinterpret_cast<ULONG_PTR>(name))
                                            : SystemIcon(reinterpret_cast<ULONG_PTR>(name)))) {
    } else {
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (!ResourceData(module, name, type == IMAGE_CURSOR ? RT_GROUP_CURSOR : RT_GROUP_ICON, data, size))
            return nullptr;
        icon = DecodeIcon(data, size, width ? width : 32, height ? height : 32);
    }
    if (!icon)
        return nullptr;
    if (width || height || (flags & LR_DEFAULTSIZE))
        icon = Scaled(icon, width ? width : 32, height ? height : 32);
    return static_cast<HICON>(AddObject(icon));
}

} // namespace

} // namespace platform::gdi

using namespace platform::gdi;

HANDLE LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags) {
    std::lock_guard lock(Lock());
    if (!name || (type != IMAGE_BITMAP && type != IMAGE_ICON && type != IMAGE_CURSOR))
        return Fail(ERROR_INVALID_PARAMETER, HANDLE{});
    bool shared = (flags & LR_SHARED) && !(flags & LR_LOADFROMFILE);
    SharedKey key{module, NameKey(name, (flags & LR_LOADFROMFILE) != 0), type, width, height};
    if (shared) {
        auto it = SharedImages().find(key);
        if (it != SharedImages().end() && FindObject(it->second))
            return it->second;
    }
    HANDLE result = nullptr;
    if (type == IMAGE_BITMAP) {
        BitmapPtr b;
        if (flags & LR_LOADFROMFILE) {
            std::vector<uint8_t> data;
            if (!ReadWholeFile(name, data))
                return nullptr;
            b = DecodeDib(data.data(), data.size(), true);
        } else {
            const uint8_t* data = nullptr;
            size_t size = 0;
            if (!ResourceData(module, name, RT_BITMAP, data, size))
                return nullptr;
            b = DecodeDib(data, size, false);
        }
        if (!b)
            return nullptr;
        b = StretchBitmap(b, width, height);
        if (!b)
            return Fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{});
        result = reinterpret_cast<HANDLE>(AddBitmap(b, flags));
    } else {
        result = reinterpret_cast<HANDLE>(LoadIconImage(module, name, type, width, height, flags));
    }
    if (result && shared) {
        SharedImages()[key] = result;
        if (auto o = FindObject(result))
            o->stock = true; // shared images are never freed by their users
    }
    return result;
}

HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name) {
    return reinterpret_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, 0));
}

HICON LoadIconW(HINSTANCE module, LPCWSTR name) {
    return reinterpret_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

HCURSOR LoadCursorW(HINSTANCE module, LPCWSTR name) {
    return reinterpret_cast<HCURSOR>(LoadImageW(module, name, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

HCURSOR LoadCursorFromFileW(LPCWSTR fileName) {
    if (!fileName)
        return Fail(ERROR_INVALID_PARAMETER, HCURSOR{});
    return reinterpret_cast<HCURSOR>(
        LoadImageW(nullptr, fileName, IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
}

BOOL DestroyCursor(HCURSOR cursor) {
    return DestroyIcon(cursor);
}

HICON CreateIconIndirect(PICONINFO info) {
    std::lock_guard lock(Lock());
    if (!info)
        return Fail(ERROR_INVALID_PARAMETER, HICON{});
    BitmapPtr mask = Find<Bitmap>(info->hbmMask, Kind::Bitmap);
    BitmapPtr color = info->hbmColor ? Find<Bitmap>(info->hbmColor, Kind::Bitmap) : nullptr;
    if (!mask || (info->hbmColor && !color))
        return Fail(ERROR_INVALID_PARAMETER, HICON{});
    auto icon = std::make_shared<Icon>();
    icon->isIcon = info->fIcon != 0;
    icon->width = mask->Width();
    // Without a colour bitmap the mask holds the AND mask above the XOR mask.
    icon->height = color ? mask->Height() : mask->Height() / 2;
    if (color && (color->Width() != mask->Width() || color->Height() < icon->height))
        return Fail(ERROR_INVALID_PARAMETER, HICON{});
    mask->BeforeUse();
    if (color)
        color->BeforeUse();
    for (int y = 0; y < icon->height; ++y)
        for (int x = 0; x < icon->width; ++x) {
            icon->mask.push_back(mask->Get(x, y) != 0);
            icon->color.push_back(color ? color->Get(x, y) : (mask->Get(x, y + icon->height) ? 0xFFFFFFu : 0u));
        }
    icon->hotspot = icon->isIcon ? POINT{icon->width / 2, icon->height / 2}
                                 : POINT{static_cast<LONG>(info->xHotspot), static_cast<LONG>(info->yHotspot)};
    return static_cast<HICON>(AddObject(icon));
}

HICON CopyIcon(HICON icon) {
    std::lock_guard lock(Lock());
    auto src = Find<Icon>(icon, Kind::Icon);
    if (!src)
        return Fail(ERROR_INVALID_HANDLE, HICON{});
    auto copy = std::make_shared<Icon>(*src);
    copy->stock = false;
    return static_cast<HICON>(AddObject(copy));
}

BOOL GetIconInfo(HICON icon, PICONINFO info) {
    std::lock_guard lock(Lock());
    auto i = Find<Icon>(icon, Kind::Icon);
    if (!i || !info)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    BitmapPtr mask = MakeBitmap(i->width, i->height, true);
    BitmapPtr color = MakeBitmap(i->width, i->height, false);
    if (!mask || !color)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    for (int y = 0; y < i->height; ++y)
        for (int x = 0; x < i->width; ++x) {
            size_t k = static_cast<size_t>(y) * i->width + x;
            mask->Put(x, y, i->mask[k] ? 0xFFFFFFu : 0u);
            color->Put(x, y, i->color[k]);
        }
    mask->Changed();
    color->Changed();
    info->fIcon = i->isIcon;
    info->xHotspot = static_cast<DWORD>(i->hotspot.x);
    info->yHotspot = static_cast<DWORD>(i->hotspot.y);
    info->hbmMask = static_cast<HBITMAP>(AddObject(mask));
    info->hbmColor = static_cast<HBITMAP>(AddObject(color));
    return TRUE;
}

BOOL DestroyIcon(HICON icon) {
    std::lock_guard lock(Lock());
    auto i = Find<Icon>(icon, Kind::Icon);
    if (!i)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!i->stock)
        RemoveObject(icon);
    return TRUE;
}

BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height, UINT step, HBRUSH flickerFreeBrush,
                UINT flags) {
    std::lock_guard lock(Lock());
    (void)step;
    DcPtr d = FindDc(dc);
    auto i = Find<Icon>(icon, Kind::Icon);
    if (!d || !i)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(flags & DI_NORMAL))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (width == 0)
        width = (flags & DI_DEFAULTSIZE) ? 32 : i->width;
    if (height == 0)
        height = (flags & DI_DEFAULTSIZE) ? 32 : i->height;
    if (width <= 0 || height <= 0 || i->width == 0 || i->height == 0)
        return TRUE;
    Painter p(*d);
    if (!p.canvas)
        return FALSE;
    int left = d->X(x), top = d->Y(y);
    if (flickerFreeBrush) {
        if (auto b = FindBrush(flickerFreeBrush))
            p.FillRect(RECT{left, top, left + width, top + height}, *b);
    }
    bool useMask = flags & DI_MASK, useImage = flags & DI_IMAGE;
    for (int ty = 0; ty < height; ++ty)
        for (int tx = 0; tx < width; ++tx) {
            int px = left + tx, py = top + ty;
            if (!p.Inside(px, py))
                continue;
            size_t k = static_cast<size_t>(ty * i->height / height) * i->width + (tx * i->width / width);
            uint32_t dst = p.canvas->Get(px, py);
            uint32_t color = i->color[k];
            if (!i->alpha.empty() && useMask && useImage) {
                uint32_t a = i->alpha[k];
                auto mix = [&](int shift) {
                    uint32_t s = (color >> shift) & 0xFF, t = (dst >> shift) & 0xFF;
                    return ((s * a + t * (255 - a)) / 255) << shift;
                };
                p.Plot(px, py, mix(16) | mix(8) | mix(0));
                continue;
            }
            uint32_t out = dst;
            if (useMask)
                out &= i->mask[k] ? 0xFFFFFFu : 0u;
            if (useImage)
                out = useMask ? (out ^ color) : color;
            p.Plot(px, py, out);
        }
    return TRUE;
}

HANDLE CopyImage(LPVOID image, UINT type, int width, int height, UINT flags) {
    std::lock_guard lock(Lock());
    if (type == IMAGE_BITMAP) {
        BitmapPtr b = Find<Bitmap>(image, Kind::Bitmap);
        if (!b)
            return Fail(ERROR_INVALID_HANDLE, HANDLE{});
        const bool sameSize = (!width || width == b->Width()) && (!height || height == b->Height());
        if ((flags & LR_COPYRETURNORG) && sameSize && !(flags & (LR_MONOCHROME | LR_CREATEDIBSECTION)))
            return static_cast<HANDLE>(image);
        BitmapPtr copy = MakeBitmap(b->Width(), b->Height(), b->Mono());
        if (!copy)
            return Fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{});
        b->BeforeUse();
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x)
                copy->Put(x, y, b->Get(x, y));
        copy->Changed();
        copy = StretchBitmap(copy, width, height);
        if (!copy)
            return Fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{});
        HANDLE result = reinterpret_cast<HANDLE>(AddBitmap(copy, flags & (LR_MONOCHROME | LR_CREATEDIBSECTION)));
        if (result && (flags & LR_COPYDELETEORG))
            DeleteObject(image);
        return result;
    }
    if (type != IMAGE_ICON && type != IMAGE_CURSOR)
        return Fail(ERROR_INVALID_PARAMETER, HANDLE{});
    auto icon = Find<Icon>(reinterpret_cast<HICON>(image), Kind::Icon);
    if (!icon)
        return Fail(ERROR_INVALID_HANDLE, HANDLE{});
    const bool sameSize = (!width || width == icon->width) && (!height || height == icon->height);
    if ((flags & LR_COPYRETURNORG) && sameSize)
        return static_cast<HANDLE>(image);
    auto copy = std::make_shared<Icon>(*Scaled(icon, width ? width : icon->width, height ? height : icon->height));
    copy->stock = false;
    HANDLE result = reinterpret_cast<HANDLE>(AddObject(copy));
    if (flags & LR_COPYDELETEORG)
        DestroyIcon(reinterpret_cast<HICON>(image));
    return result;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
    return DrawIconEx(dc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
}

namespace platform::gdi {

bool IsIconHandle(HICON icon, bool* cursor) {
    std::lock_guard lock(Lock());
    auto i = Find<Icon>(icon, Kind::Icon);
    if (!i)
        return false;
    if (cursor)
        *cursor = !i->isIcon;
    return true;
}

} // namespace platform::gdi
