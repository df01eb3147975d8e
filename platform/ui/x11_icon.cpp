#include "platform/ui/x11_icon.h"

#include "platform/gdi/wingdi.h"

#include <algorithm>

namespace platform::ui::x11 {

namespace {

// The icon drawn over a background of one colour, read back pixel by pixel.
std::vector<COLORREF> DrawnOver(HICON icon, int size, COLORREF background) {
    std::vector<COLORREF> pixels;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return pixels;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        DeleteDC(dc);
        return pixels;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, size, size};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    if (DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) {
        pixels.reserve(static_cast<size_t>(size) * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                pixels.push_back(GetPixel(dc, x, y));
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

} // namespace

std::vector<uint32_t> IconArgb(HICON icon, int size) {
    std::vector<uint32_t> argb;
    if (!icon || size <= 0)
        return argb;
    // Drawn once over black and once over white, a pixel's alpha is what the two differ by, and its colour what
    // it adds over black.
    const auto black = DrawnOver(icon, size, RGB(0, 0, 0));
    const auto white = DrawnOver(icon, size, RGB(255, 255, 255));
    if (black.empty() || black.size() != white.size())
        return argb;
    argb.reserve(black.size());
    for (size_t i = 0; i < black.size(); ++i) {
        const COLORREF b = black[i], w = white[i];
        const int alpha = 255 - (static_cast<int>(GetRValue(w)) - static_cast<int>(GetRValue(b)));
        if (alpha <= 0) {
            argb.push_back(0);
            continue;
        }
        auto channel = [alpha](int premultiplied) {
            return static_cast<uint32_t>(std::min(255, premultiplied * 255 / alpha));
        };
        argb.push_back(static_cast<uint32_t>(alpha) << 24 | channel(GetRValue(b)) << 16 | channel(GetGValue(b)) << 8 |
                       channel(GetBValue(b)));
    }
    return argb;
}

} // namespace platform::ui::x11
