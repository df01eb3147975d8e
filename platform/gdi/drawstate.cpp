// DrawStateW: an image drawn as it is, embossed, in one colour or dithered.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace platform::gdi;

namespace {

struct Image {
    UINT type = DST_COMPLEX;
    UINT flags = 0;
    DRAWSTATEPROC callback = nullptr;
    LPARAM data = 0;
    WPARAM extra = 0;
    std::u16string text;

    UINT TextFormat() const {
        UINT format = DT_SINGLELINE | DT_NOCLIP;
        if (type == DST_TEXT)
            format |= DT_NOPREFIX;
        if (flags & DSS_HIDEPREFIX)
            format |= DT_HIDEPREFIX;
        if (flags & DSS_PREFIXONLY)
            format |= DT_PREFIXONLY;
        if (flags & DSS_RIGHT)
            format |= DT_RIGHT;
        return format;
    }

    // Draws the image with its top-left corner at (x, y) of the DC.
    BOOL Draw(HDC dc, int x, int y, int width, int height) const {
        switch (type) {
        case DST_TEXT:
        case DST_PREFIXTEXT: {
            RECT r{x, y, x + width, y + height};
            return DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, TextFormat()) != 0 || text.empty();
        }
        case DST_ICON:
            return DrawIconEx(dc, x, y, reinterpret_cast<HICON>(data), width, height, 0, nullptr, DI_NORMAL);
        case DST_BITMAP: {
            // Straight from the bitmap's pixels, so that a bitmap selected into a DC of its own draws too; a
            // monochrome one takes the DC's text and background colours.
            DcPtr target = FindDc(dc);
            BitmapPtr bitmap = Find<Bitmap>(reinterpret_cast<HBITMAP>(data), Kind::Bitmap);
            if (!target || !bitmap)
                return FALSE;
            Painter p(*target);
            bitmap->BeforeUse();
            const bool toColour = bitmap->Mono() && p.canvas && !p.canvas->Mono();
            for (int sy = 0; sy < std::min(height, bitmap->Height()); ++sy)
                for (int sx = 0; sx < std::min(width, bitmap->Width()); ++sx) {
                    uint32_t pixel = bitmap->Get(sx, sy);
                    if (toColour)
                        pixel = ToPixel(pixel ? target->state.bk : target->state.text);
                    p.Plot(target->X(x + sx), target->Y(y + sy), pixel);
                }
            return TRUE;
        }
        default: {
            POINT previous{};
            OffsetViewportOrgEx(dc, x, y, &previous);
            const BOOL ok = callback ? callback(dc, data, extra, width, height) : FALSE;
            SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
            return ok;
        }
        }
    }
};

// The image's shape: drawn black on white in a scratch bitmap (text in the DC's font), every pixel that is not
// white afterwards.
bool Shape(Dc& target, const Image& image, int width, int height, std::vector<bool>& shape) {
    HDC mem = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
    if (!mem || !bitmap) {
        DeleteDC(mem);
        DeleteObject(bitmap);
        return false;
    }
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    HGDIOBJ oldFont = SelectObject(mem, target.state.font->handle);
    PatBlt(mem, 0, 0, width, height, WHITENESS);
    SetTextColor(mem, 0);
    SetBkMode(mem, TRANSPARENT);
    const bool drawn = image.Draw(mem, 0, 0, width, height);
    BitmapPtr pixels = Find<Bitmap>(bitmap, Kind::Bitmap);
    shape.assign(static_cast<size_t>(width) * height, false);
    pixels->BeforeUse();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            shape[static_cast<size_t>(y) * width + x] = pixels->Get(x, y) != 0xFFFFFFu;
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBitmap);
    DeleteDC(mem);
    DeleteObject(bitmap);
    return drawn;
}

} // namespace

BOOL DrawStateW(HDC dc, HBRUSH brush, DRAWSTATEPROC callback, LPARAM data, WPARAM extra, int x, int y, int width,
                int height, UINT flags) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Image image;
    image.type = flags & 0xF;
    image.flags = flags;
    image.callback = callback;
    image.data = data;
    image.extra = extra;
    // The image's own size where none is given.
    switch (image.type) {
    case DST_TEXT:
    case DST_PREFIXTEXT: {
        auto text = reinterpret_cast<LPCWSTR>(data);
        if (!text) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        image.text = extra ? std::u16string(text, extra) : std::u16string(text);
        if (!width || !height) {
            RECT r{};
            DrawTextW(dc, image.text.c_str(), static_cast<int>(image.text.size()), &r,
                      image.TextFormat() | DT_CALCRECT);
            width = width ? width : r.right;
            height = height ? height : r.bottom;
        }
        break;
    }
    case DST_ICON: {
        auto icon = Find<Icon>(reinterpret_cast<HICON>(data), Kind::Icon);
        if (!icon) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        width = width ? width : icon->width;
        height = height ? height : icon->height;
        break;
    }
    case DST_BITMAP: {
        BitmapPtr bitmap = Find<Bitmap>(reinterpret_cast<HBITMAP>(data), Kind::Bitmap);
        if (!bitmap) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        width = width ? width : bitmap->Width();
        height = height ? height : bitmap->Height();
        break;
    }
    case DST_COMPLEX:
        if (!callback || !width || !height) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (width <= 0 || height <= 0)
        return TRUE;

    const UINT state = flags & (DSS_UNION | DSS_DISABLED | DSS_MONO);
    if (state == DSS_NORMAL || state == DSS_UNION) {
        if (!image.Draw(dc, x, y, width, height))
            return FALSE;
        if (state == DSS_NORMAL)
            return TRUE;
    }
    std::vector<bool> shape;
    if (!Shape(*d, image, width, height, shape))
        return FALSE;
    Painter p(*d);
    auto paint = [&](int dx, int dy, auto pixelAt) {
        for (int sy = 0; sy < height; ++sy)
            for (int sx = 0; sx < width; ++sx)
                if (shape[static_cast<size_t>(sy) * width + sx]) {
                    const int px = d->X(x + sx + dx), py = d->Y(y + sy + dy);
                    if (auto pixel = pixelAt(px, py))
                        p.Plot(px, py, *pixel);
                }
    };
    if (state & DSS_DISABLED) {
        const uint32_t light = ToPixel(GetSysColor(COLOR_3DHILIGHT)), dark = ToPixel(GetSysColor(COLOR_3DSHADOW));
        paint(1, 1, [&](int, int) { return std::optional<uint32_t>(light); });
        paint(0, 0, [&](int, int) { return std::optional<uint32_t>(dark); });
    } else if (state & DSS_MONO) {
        std::shared_ptr<Brush> b = brush ? FindBrush(brush) : d->state.brush;
        if (!b) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        paint(0, 0, [&](int px, int py) { return p.BrushPixel(*b, px, py); });
    } else {
        const uint32_t highlight = ToPixel(GetSysColor(COLOR_HIGHLIGHT));
        paint(0, 0,
              [&](int px, int py) { return ((px + py) & 1) == 0 ? std::optional<uint32_t>(highlight) : std::nullopt; });
    }
    return TRUE;
}
