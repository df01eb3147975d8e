// Bitmaps, DIB sections and block transfers with ternary raster operations.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>
#include <cstring>

namespace platform::gdi {

namespace {

DibFormat FormatOf(const Bitmap& b) {
    DibFormat f;
    f.width = b.header.biWidth;
    f.height = b.header.biHeight;
    f.bpp = b.header.biBitCount;
    f.compression = BI_RGB;
    f.colors = b.colors;
    if (f.bpp == 16) {
        f.masks[0] = 0x7C00;
        f.masks[1] = 0x03E0;
        f.masks[2] = 0x001F;
    } else if (f.bpp == 32) {
        f.masks[0] = 0xFF0000;
        f.masks[1] = 0x00FF00;
        f.masks[2] = 0x0000FF;
    }
    return f;
}

bool IsBlackAndWhite(const std::vector<RGBQUAD>& colors) {
    auto is = [](const RGBQUAD& q, uint8_t v) { return q.rgbRed == v && q.rgbGreen == v && q.rgbBlue == v; };
    return colors.size() == 2 && is(colors[0], 0) && is(colors[1], 0xFF);
}

} // namespace

void Bitmap::BeforeUse() {
    if (dib)
        DecodeDibPixels(FormatOf(*this), bits.data(), bits.size(), *this);
}

void Bitmap::AfterChange() {
    if (!dib)
        return;
    DibFormat f = FormatOf(*this);
    EncodeDibPixels(f, *this, bits.data(), 0, f.Rows());
}

BitmapPtr MakeDibSection(const DibFormat& f) {
    if (f.compression != BI_RGB && f.compression != BI_BITFIELDS)
        return nullptr;
    bool mono = f.bpp == 1 && IsBlackAndWhite(f.colors);
    auto b = MakeBitmap(f.width, f.Rows(), mono);
    if (!b)
        return nullptr;
    b->dib = true;
    b->bitsPixel = f.bpp;
    b->header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER),
                                 f.width,
                                 f.height,
                                 1,
                                 static_cast<WORD>(f.bpp),
                                 BI_RGB,
                                 static_cast<DWORD>(f.Stride() * f.Rows()),
                                 3780,
                                 3780,
                                 static_cast<DWORD>(f.colors.size()),
                                 0};
    b->colors = f.colors;
    b->bits.assign(f.Stride() * f.Rows(), 0);
    b->BeforeUse();
    return b;
}

} // namespace platform::gdi

using namespace platform::gdi;

namespace {

template <class T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

// A packed BITMAPINFO given by a caller: its header, masks and colour table.
bool ReadInfo(const BITMAPINFO* info, UINT usage, DibFormat& f) {
    if (!info || usage != DIB_RGB_COLORS)
        return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biWidth > 32767 || h.biHeight == 0 ||
        h.biHeight > 32767 || h.biHeight < -32767 || h.biPlanes != 1)
        return false;
    if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 &&
        h.biBitCount != 32)
        return false;
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32)))
        return false;
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bpp = h.biBitCount;
    f.compression = h.biCompression;
    const auto* after = reinterpret_cast<const uint8_t*>(info) + h.biSize;
    if (h.biCompression == BI_BITFIELDS) {
        std::memcpy(f.masks, after, sizeof(f.masks));
    } else if (f.bpp == 16) {
        f.masks[0] = 0x7C00;
        f.masks[1] = 0x03E0;
        f.masks[2] = 0x001F;
    } else if (f.bpp == 32) {
        f.masks[0] = 0xFF0000;
        f.masks[1] = 0x00FF00;
        f.masks[2] = 0x0000FF;
    }
    if (f.bpp <= 8) {
        size_t n = h.biClrUsed ? std::min<size_t>(h.biClrUsed, 256) : (size_t{1} << f.bpp);
        f.colors.resize(n);
        std::memcpy(f.colors.data(), after, n * sizeof(RGBQUAD));
    }
    return true;
}

} // namespace

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d)
        return Fail(ERROR_INVALID_HANDLE, HBITMAP{});
    if (width < 0 || height < 0 || width > 32767 || height > 32767)
        return Fail(ERROR_INVALID_PARAMETER, HBITMAP{});
    // Compatible with a memory DC means the format of its bitmap: a fresh memory DC gives monochrome bitmaps.
    bool mono = d->memory && d->state.bitmap && d->state.bitmap->Mono();
    if (width == 0 || height == 0)
        width = height = 1, mono = true;
    BitmapPtr b = MakeBitmap(width, height, mono);
    if (!b)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, HBITMAP{});
    return static_cast<HBITMAP>(AddObject(b));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    std::lock_guard lock(Lock());
    if (width < 0 || height < 0 || width > 32767 || height > 32767 || planes != 1 ||
        (bitsPerPixel != 1 && bitsPerPixel != 32))
        return Fail(ERROR_INVALID_PARAMETER, HBITMAP{});
    if (width == 0 || height == 0)
        width = height = 1, bitsPerPixel = 1;
    BitmapPtr b = MakeBitmap(width, height, bitsPerPixel == 1);
    if (!b)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, HBITMAP{});
    if (bits) {
        const auto* src = static_cast<const uint8_t*>(bits);
        size_t stride = ((static_cast<size_t>(width) * bitsPerPixel + 15) / 16) * 2;
        for (int y = 0; y < height; ++y) {
            const uint8_t* line = src + y * stride;
            uint32_t* out = b->Row(y);
            for (int x = 0; x < width; ++x) {
                if (bitsPerPixel == 1)
                    out[x] = ((line[x >> 3] >> (7 - (x & 7))) & 1) ? 0xFFFFFFu : 0u;
                else
                    out[x] = (line[4 * x + 2] << 16) | (line[4 * x + 1] << 8) | line[4 * x];
            }
        }
        b->Changed();
    }
    return static_cast<HBITMAP>(AddObject(b));
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    std::lock_guard lock(Lock());
    (void)dc;
    (void)offset;
    if (bits)
        *bits = nullptr;
    DibFormat f;
    if (section || !ReadInfo(info, usage, f))
        return Fail(ERROR_INVALID_PARAMETER, HBITMAP{});
    BitmapPtr b = MakeDibSection(f);
    if (!b)
        return Fail(ERROR_NOT_ENOUGH_MEMORY, HBITMAP{});
    b->header.biCompression = f.compression;
    if (bits)
        *bits = b->bits.data();
    return static_cast<HBITMAP>(AddObject(b));
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info, UINT usage) {
    std::lock_guard lock(Lock());
    BitmapPtr b = Find<Bitmap>(bitmap, Kind::Bitmap);
    if (!FindDc(dc) || !b || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) || usage != DIB_RGB_COLORS)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    BITMAPINFOHEADER& h = info->bmiHeader;
    if (!bits) {
        // Only the header is asked for.
        h.biWidth = b->Width();
        h.biHeight = b->Height();
        h.biPlanes = 1;
        if (h.biBitCount == 0) {
            h.biBitCount = static_cast<WORD>(b->bitsPixel);
            h.biCompression = BI_RGB;
        }
        h.biSizeImage =
            static_cast<DWORD>(((static_cast<size_t>(b->Width()) * h.biBitCount + 31) / 32) * 4 * b->Height());
        return b->Height();
    }
    if (h.biWidth != b->Width() || (h.biHeight != b->Height() && h.biHeight != -b->Height()))
        return Fail(ERROR_INVALID_PARAMETER, 0);
    DibFormat f;
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bpp = h.biBitCount;
    if (f.bpp == 1) {
        f.colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    } else if (f.bpp == 4 || f.bpp == 8) {
        // The sixteen standard colours, then (for 8 bits) a colour cube.
        static const uint8_t kVga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (auto& c : kVga)
            f.colors.push_back(RGBQUAD{c[2], c[1], c[0], 0});
        if (f.bpp == 8) {
            for (int r = 0; r < 6; ++r)
                for (int g = 0; g < 6; ++g)
                    for (int bl = 0; bl < 6; ++bl)
                        f.colors.push_back(RGBQUAD{static_cast<BYTE>(bl * 51), static_cast<BYTE>(g * 51),
                                                   static_cast<BYTE>(r * 51), 0});
            while (f.colors.size() < 256)
                f.colors.push_back(RGBQUAD{0, 0, 0, 0});
        }
    } else if (f.bpp != 16 && f.bpp != 24 && f.bpp != 32) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    if (h.biCompression != BI_RGB)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    if (!f.colors.empty()) {
        std::memcpy(info->bmiColors, f.colors.data(), f.colors.size() * sizeof(RGBQUAD));
        h.biClrUsed = 0;
    }
    int rows = f.Rows();
    if (start >= static_cast<UINT>(rows))
        return 0;
    int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(rows) - start));
    b->BeforeUse();
    EncodeDibPixels(f, *b, static_cast<uint8_t*>(bits), static_cast<int>(start), count);
    h.biSizeImage = static_cast<DWORD>(f.Stride() * rows);
    return count;
}

int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) {
    std::lock_guard lock(Lock());
    (void)dc;
    BitmapPtr b = Find<Bitmap>(bitmap, Kind::Bitmap);
    DibFormat f;
    if (!b || !bits || !ReadInfo(info, usage, f) || f.width != b->Width() || f.Rows() != b->Height() ||
        start >= static_cast<UINT>(f.Rows()))
        return Fail(ERROR_INVALID_PARAMETER, 0);
    int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(f.Rows()) - start));
    // Decode the given scan lines as a band of the whole image.
    DibFormat band = f;
    band.height = f.height > 0 ? count : -count;
    Canvas scratch(f.width, count, false);
    if (!scratch.Valid() || !DecodeDibPixels(band, static_cast<const uint8_t*>(bits), band.Stride() * count, scratch))
        return 0;
    b->BeforeUse();
    for (int i = 0; i < count; ++i) {
        int scan = static_cast<int>(start) + i;
        int y = f.height > 0 ? f.Rows() - 1 - scan : scan;
        int by = f.height > 0 ? count - 1 - i : i;
        for (int x = 0; x < f.width; ++x)
            b->Put(x, y, scratch.Get(x, by));
    }
    b->Changed();
    b->AfterChange();
    return count;
}

namespace {

BOOL Blt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int widthSrc, int heightSrc,
         DWORD rop) {
    DcPtr d = FindDc(dst);
    if (!d || !d->Target())
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    uint8_t code = static_cast<uint8_t>((rop >> 16) & 0xFF);
    bool usesSource = ((code >> 2) ^ code) & 0x33;
    DcPtr s;
    if (usesSource) {
        s = FindDc(src);
        if (!s || !s->Target())
            return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (width == 0 || height == 0 || (usesSource && (widthSrc == 0 || heightSrc == 0)))
        return TRUE;
    Painter p(*d);
    Canvas& out = *p.canvas;
    Canvas* in = s ? s->Target() : nullptr;
    if (in && in != &out)
        in->BeforeUse();
    // Mirroring: a negative extent on one side only flips the picture.
    bool flipX = (width < 0) != (widthSrc < 0);
    bool flipY = (height < 0) != (heightSrc < 0);
    int dx0 = d->X(std::min(x, x + width)), dy0 = d->Y(std::min(y, y + height));
    int dw = std::abs(width), dh = std::abs(height);
    int sx0 = s ? s->X(std::min(xSrc, xSrc + widthSrc)) : 0, sy0 = s ? s->Y(std::min(ySrc, ySrc + heightSrc)) : 0;
    int sw = std::abs(widthSrc), sh = std::abs(heightSrc);
    RECT target{dx0, dy0, dx0 + dw, dy0 + dh};
    if (!IntersectRect(&target, &target, &p.clip))
        return TRUE;
    // The source seen through its own DC's limits; a copy when source and destination share pixels.
    RECT srcLimit = s ? s->Clip() : RECT{};
    if (s) {
        RECT whole{0, 0, in->Width(), in->Height()};
        srcLimit = whole;
    }
    std::vector<uint32_t> copy;
    int copyW = 0;
    if (in == &out) {
        copyW = out.Width();
        copy.resize(static_cast<size_t>(out.Width()) * out.Height());
        for (int yy = 0; yy < out.Height(); ++yy)
            std::memcpy(&copy[static_cast<size_t>(yy) * copyW], out.Row(yy), sizeof(uint32_t) * copyW);
    }
    auto sourcePixel = [&](int px, int py) -> uint32_t {
        if (!copy.empty())
            return copy[static_cast<size_t>(py) * copyW + px];
        return in->Get(px, py);
    };
    bool halftone = d->state.stretchMode == HALFTONE && (sw > dw || sh > dh);
    bool srcMono = in && in->Mono(), dstMono = out.Mono();
    uint32_t monoWhite = ToPixel(d->state.bk), monoBlack = ToPixel(d->state.text);
    uint32_t srcKey = s ? ToPixel(s->state.bk) : 0;
    const Brush& brush = *d->state.brush;
    for (int ty = target.top; ty < target.bottom; ++ty) {
        int oy = ty - dy0;
        if (flipY)
            oy = dh - 1 - oy;
        for (int tx = target.left; tx < target.right; ++tx) {
            int ox = tx - dx0;
            if (flipX)
                ox = dw - 1 - ox;
            uint32_t sp = 0;
            if (in) {
                int a0 = sx0 + static_cast<int>(static_cast<long long>(ox) * sw / dw);
                int b0 = sy0 + static_cast<int>(static_cast<long long>(oy) * sh / dh);
                if (a0 < srcLimit.left || a0 >= srcLimit.right || b0 < srcLimit.top || b0 >= srcLimit.bottom)
                    continue; // nothing to copy from outside the source
                if (halftone) {
                    int a1 = std::max(a0 + 1, sx0 + static_cast<int>(static_cast<long long>(ox + 1) * sw / dw));
                    int b1 = std::max(b0 + 1, sy0 + static_cast<int>(static_cast<long long>(oy + 1) * sh / dh));
                    a1 = std::min<int>(a1, srcLimit.right);
                    b1 = std::min<int>(b1, srcLimit.bottom);
                    uint32_t r = 0, g = 0, bl = 0, n = 0;
                    for (int by = b0; by < b1; ++by)
                        for (int bx = a0; bx < a1; ++bx) {
                            uint32_t v = sourcePixel(bx, by);
                            r += (v >> 16) & 0xFF;
                            g += (v >> 8) & 0xFF;
                            bl += v & 0xFF;
                            ++n;
                        }
                    sp = ((r / n) << 16) | ((g / n) << 8) | (bl / n);
                } else {
                    sp = sourcePixel(a0, b0);
                }
                if (srcMono && !dstMono)
                    sp = sp ? monoWhite : monoBlack;
                else if (!srcMono && dstMono)
                    sp = sp == srcKey ? 0xFFFFFFu : 0u;
            }
            uint32_t pat = p.BrushPixel(brush, tx, ty).value_or(ToPixel(d->state.bk));
            if (dstMono)
                pat = ToMono(pat);
            p.Plot(tx, ty, Rop3(code, pat, sp, out.Get(tx, ty)));
        }
    }
    return TRUE;
}

} // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
    std::lock_guard lock(Lock());
    return Blt(dst, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int widthSrc, int heightSrc,
                DWORD rop) {
    std::lock_guard lock(Lock());
    return Blt(dst, x, y, width, height, src, xSrc, ySrc, widthSrc, heightSrc, rop);
}
