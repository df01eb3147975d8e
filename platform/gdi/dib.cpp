// Device-independent bitmaps: header parsing, decoding (1, 4, 8, 16, 24 and 32 bits, RLE4 and RLE8) and encoding.
// Every read is checked against the size of the data.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <cstring>

namespace platform::gdi {

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Bad() {
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

uint32_t FromQuad(const RGBQUAD& q) {
    return (q.rgbRed << 16) | (q.rgbGreen << 8) | q.rgbBlue;
}

// Scales a masked field to 8 bits.
uint32_t Field(uint32_t value, uint32_t mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    uint32_t bits = mask >> shift;
    int width = 0;
    while ((bits >> width) & 1)
        ++width;
    uint32_t v = (value & mask) >> shift;
    if (width >= 8)
        return (v >> (width - 8)) & 0xFF;
    return v * 255 / ((1u << width) - 1);
}

} // namespace

bool ParseDibHeader(const uint8_t* data, size_t size, DibFormat& f, size_t& end) {
    if (!data || size < 12)
        return Bad();
    uint32_t headerSize = Get32(data);
    size_t colorEntry = 4;
    if (headerSize == 12) {
        f.width = Get16(data + 4);
        f.height = static_cast<int16_t>(Get16(data + 6));
        if (Get16(data + 8) != 1)
            return Bad();
        f.bpp = Get16(data + 10);
        f.compression = BI_RGB;
        colorEntry = 3;
    } else if (headerSize >= 40 && headerSize <= size) {
        int32_t w = static_cast<int32_t>(Get32(data + 4));
        int32_t h = static_cast<int32_t>(Get32(data + 8));
        if (Get16(data + 12) != 1)
            return Bad();
        f.bpp = Get16(data + 14);
        f.compression = Get32(data + 16);
        if (w <= 0 || w > 32767 || h == 0 || h > 32767 || h < -32767)
            return Bad();
        f.width = w;
        f.height = h;
    } else {
        return Bad();
    }
    if (f.width <= 0 || f.height == 0)
        return Bad();
    switch (f.compression) {
    case BI_RGB:
        if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 16 && f.bpp != 24 && f.bpp != 32)
            return Bad();
        break;
    case BI_RLE8:
        if (f.bpp != 8 || f.height < 0)
            return Bad();
        break;
    case BI_RLE4:
        if (f.bpp != 4 || f.height < 0)
            return Bad();
        break;
    case BI_BITFIELDS:
        if (f.bpp != 16 && f.bpp != 32)
            return Bad();
        break;
    default:
        return Bad();
    }
    size_t pos = headerSize;
    if (f.compression == BI_BITFIELDS) {
        if (headerSize >= 52) {
            for (int i = 0; i < 3; ++i)
                f.masks[i] = Get32(data + 40 + 4 * i);
        } else {
            if (size < pos + 12)
                return Bad();
            for (int i = 0; i < 3; ++i)
                f.masks[i] = Get32(data + pos + 4 * i);
            pos += 12;
        }
    } else if (f.bpp == 16) {
        f.masks[0] = 0x7C00;
        f.masks[1] = 0x03E0;
        f.masks[2] = 0x001F;
    } else if (f.bpp == 32) {
        f.masks[0] = 0xFF0000;
        f.masks[1] = 0x00FF00;
        f.masks[2] = 0x0000FF;
    }
    size_t used = headerSize >= 40 ? Get32(data + 32) : 0;
    size_t colors = 0;
    if (f.bpp <= 8)
        colors = used ? used : (size_t{1} << f.bpp);
    else
        colors = used; // an optional table that drawing ignores
    if (colors > 256 && f.bpp <= 8)
        return Bad();
    if (colors > 65536 || size < pos || (size - pos) / colorEntry < colors)
        return Bad();
    if (f.bpp <= 8) {
        f.colors.resize(colors);
        for (size_t i = 0; i < colors; ++i) {
            const uint8_t* c = data + pos + i * colorEntry;
            f.colors[i] = RGBQUAD{c[0], c[1], c[2], 0};
        }
    }
    pos += colors * colorEntry;
    end = pos;
    return true;
}

bool DecodeDibPixels(const DibFormat& f, const uint8_t* bits, size_t size, Canvas& canvas) {
    int rows = f.Rows();
    if (canvas.Width() < f.width || canvas.Height() < rows)
        return Bad();
    auto color = [&](size_t index) -> uint32_t { return index < f.colors.size() ? FromQuad(f.colors[index]) : 0; };
    auto put = [&](int x, int fileRow, uint32_t pixel) {
        int y = f.height > 0 ? rows - 1 - fileRow : fileRow;
        if (x >= 0 && x < f.width && y >= 0 && y < rows)
            canvas.Put(x, y, pixel);
    };
    if (f.compression == BI_RLE8 || f.compression == BI_RLE4) {
        // Pixels an RLE image skips stay at the first colour.
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < f.width; ++x)
                canvas.Put(x, y, color(0));
        bool four = f.compression == BI_RLE4;
        size_t pos = 0;
        int x = 0, row = 0;
        while (pos + 1 < size && row < rows) {
            uint8_t count = bits[pos], value = bits[pos + 1];
            pos += 2;
            if (count > 0) {
                for (int i = 0; i < count; ++i)
                    put(x++, row, color(four ? ((i & 1) ? (value & 0xF) : (value >> 4)) : value));
                continue;
            }
            if (value == 0) { // end of line
                x = 0;
                ++row;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // delta
                if (pos + 1 >= size)
                    return Bad();
                x += bits[pos];
                row += bits[pos + 1];
                pos += 2;
            } else { // absolute run of `value` pixels, padded to a word
                size_t bytes = four ? (value + 1) / 2 : value;
                if (pos + bytes > size)
                    return Bad();
                for (int i = 0; i < value; ++i) {
                    uint8_t b = bits[pos + (four ? i / 2 : i)];
                    put(x++, row, color(four ? ((i & 1) ? (b & 0xF) : (b >> 4)) : b));
                }
                pos += (bytes + 1) & ~size_t{1};
            }
        }
        canvas.Changed();
        return true;
    }
    size_t stride = f.Stride();
    if (stride == 0 || size / stride < static_cast<size_t>(rows))
        return Bad();
    for (int fileRow = 0; fileRow < rows; ++fileRow) {
        const uint8_t* line = bits + static_cast<size_t>(fileRow) * stride;
        int y = f.height > 0 ? rows - 1 - fileRow : fileRow;
        uint32_t* out = canvas.Row(y);
        for (int x = 0; x < f.width; ++x) {
            uint32_t p = 0;
            switch (f.bpp) {
            case 1:
                p = color((line[x >> 3] >> (7 - (x & 7))) & 1);
                break;
            case 4:
                p = color((x & 1) ? (line[x >> 1] & 0xF) : (line[x >> 1] >> 4));
                break;
            case 8:
                p = color(line[x]);
                break;
            case 16: {
                uint32_t v = Get16(line + 2 * x);
                p = (Field(v, f.masks[0]) << 16) | (Field(v, f.masks[1]) << 8) | Field(v, f.masks[2]);
                break;
            }
            case 24:
                p = (line[3 * x + 2] << 16) | (line[3 * x + 1] << 8) | line[3 * x];
                break;
            case 32: {
                uint32_t v = Get32(line + 4 * x);
                p = (Field(v, f.masks[0]) << 16) | (Field(v, f.masks[1]) << 8) | Field(v, f.masks[2]);
                break;
            }
            default:
                break;
            }
            out[x] = canvas.Mono() ? ToMono(p) : p;
        }
    }
    canvas.Changed();
    return true;
}

void EncodeDibPixels(const DibFormat& f, Canvas& canvas, uint8_t* bits, int start, int count) {
    int rows = f.Rows();
    size_t stride = f.Stride();
    auto nearest = [&](uint32_t p) -> uint8_t {
        int best = 0;
        long bestDistance = -1;
        for (size_t i = 0; i < f.colors.size(); ++i) {
            uint32_t c = FromQuad(f.colors[i]);
            long dr = static_cast<long>((c >> 16) & 0xFF) - ((p >> 16) & 0xFF);
            long dg = static_cast<long>((c >> 8) & 0xFF) - ((p >> 8) & 0xFF);
            long db = static_cast<long>(c & 0xFF) - (p & 0xFF);
            long d = dr * dr + dg * dg + db * db;
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                best = static_cast<int>(i);
            }
        }
        return static_cast<uint8_t>(best);
    };
    for (int i = 0; i < count; ++i) {
        int scan = start + i; // scan line as stored
        if (scan < 0 || scan >= rows)
            continue;
        int y = f.height > 0 ? rows - 1 - scan : scan;
        if (y >= canvas.Height())
            continue;
        uint8_t* line = bits + static_cast<size_t>(i) * stride;
        std::memset(line, 0, stride);
        const uint32_t* in = canvas.Row(y);
        for (int x = 0; x < f.width && x < canvas.Width(); ++x) {
            uint32_t p = in[x] & 0xFFFFFF;
            switch (f.bpp) {
            case 1:
                if (nearest(p))
                    line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                break;
            case 4:
                line[x >> 1] |= static_cast<uint8_t>((x & 1) ? nearest(p) : (nearest(p) << 4));
                break;
            case 8:
                line[x] = nearest(p);
                break;
            case 16: {
                uint16_t v =
                    static_cast<uint16_t>((((p >> 19) & 0x1F) << 10) | (((p >> 11) & 0x1F) << 5) | ((p >> 3) & 0x1F));
                line[2 * x] = static_cast<uint8_t>(v & 0xFF);
                line[2 * x + 1] = static_cast<uint8_t>(v >> 8);
                break;
            }
            case 24:
                line[3 * x] = static_cast<uint8_t>(p & 0xFF);
                line[3 * x + 1] = static_cast<uint8_t>((p >> 8) & 0xFF);
                line[3 * x + 2] = static_cast<uint8_t>((p >> 16) & 0xFF);
                break;
            case 32:
                std::memcpy(line + 4 * x, &p, 4);
                break;
            default:
                break;
            }
        }
    }
}

} // namespace platform::gdi
