#include "platform/gdi/pixels.h"

#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

namespace platform::gdi {

bool ReadBitmapPixels(HBITMAP bitmap, int& width, int& height, std::vector<uint32_t>& argb) {
    std::lock_guard lock(Lock());
    BitmapPtr b = Find<Bitmap>(bitmap, Kind::Bitmap);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    b->BeforeUse();
    width = b->Width();
    height = b->Height();
    argb.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            argb[static_cast<size_t>(y) * width + x] = 0xFF000000u | b->Get(x, y);
    return true;
}

bool ReadIconPixels(HICON icon, int& width, int& height, std::vector<uint32_t>& argb) {
    std::lock_guard lock(Lock());
    auto i = Find<Icon>(icon, Kind::Icon);
    if (!i) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    width = i->width;
    height = i->height;
    argb.resize(static_cast<size_t>(width) * height);
    for (size_t k = 0; k < argb.size(); ++k) {
        uint32_t a = !i->alpha.empty() ? i->alpha[k] : (i->mask[k] ? 0u : 0xFFu);
        argb[k] = (a << 24) | (a ? i->color[k] : 0u);
    }
    return true;
}

HICON CreateIconFromPixels(int width, int height, const std::vector<uint32_t>& argb) {
    std::lock_guard lock(Lock());
    if (width <= 0 || height <= 0 || argb.size() != static_cast<size_t>(width) * height) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto icon = std::make_shared<Icon>();
    icon->width = width;
    icon->height = height;
    icon->hotspot = POINT{width / 2, height / 2};
    bool partial = false;
    for (uint32_t p : argb) {
        uint32_t a = p >> 24;
        partial = partial || (a != 0 && a != 0xFF);
        icon->color.push_back(a ? p & 0xFFFFFFu : 0u);
        icon->mask.push_back(a == 0);
    }
    if (partial)
        for (uint32_t p : argb)
            icon->alpha.push_back(static_cast<uint8_t>(p >> 24));
    return static_cast<HICON>(AddObject(icon));
}

bool DrawPixels(HDC dc, int x, int y, int width, int height, const std::vector<uint32_t>& argb) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d || width < 0 || height < 0 || argb.size() < static_cast<size_t>(width) * height) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Painter p(*d);
    if (!p.canvas)
        return false;
    for (int ty = 0; ty < height; ++ty)
        for (int tx = 0; tx < width; ++tx) {
            uint32_t v = argb[static_cast<size_t>(ty) * width + tx];
            uint32_t a = v >> 24;
            int px = d->X(x + tx), py = d->Y(y + ty);
            if (a == 0 || !p.Inside(px, py))
                continue;
            if (a == 0xFF) {
                p.Plot(px, py, v & 0xFFFFFFu);
                continue;
            }
            uint32_t dst = p.canvas->Get(px, py);
            auto mix = [&](int shift) {
                uint32_t s = (v >> shift) & 0xFF, t = (dst >> shift) & 0xFF;
                return ((s * a + t * (255 - a)) / 255) << shift;
            };
            p.Plot(px, py, mix(16) | mix(8) | mix(0));
        }
    return true;
}

} // namespace platform::gdi
