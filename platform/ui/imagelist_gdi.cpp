// The drawing layer's side of image lists: reading bitmaps and icons into pixels, making icons and drawing.
#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/imagelist.h"

#include <vector>

namespace platform::ui::controls {
namespace {

bool ReadBitmap(HBITMAP bitmap, ImagePixels& out) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0)
        return false;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = info.bmWidth;
    bmi.bmiHeader.biHeight = -info.bmHeight; // top row first
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    out.width = info.bmWidth;
    out.height = info.bmHeight;
    out.argb.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
    HDC dc = CreateCompatibleDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(out.height), out.argb.data(), &bmi, DIB_RGB_COLORS);
    DeleteDC(dc);
    if (lines <= 0)
        return false;
    for (auto& px : out.argb)
        px |= 0xFF000000u;
    return true;
}

bool ReadIcon(HICON icon, ImagePixels& out) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return false;
    ImagePixels color, mask;
    const bool haveColor = info.hbmColor && ReadBitmap(info.hbmColor, color);
    const bool haveMask = info.hbmMask && ReadBitmap(info.hbmMask, mask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    if (!haveMask)
        return false;
    if (!haveColor) {
        // A monochrome icon: the mask bitmap holds the AND mask above the XOR image.
        color.width = mask.width;
        color.height = mask.height / 2;
        color.argb.assign(mask.argb.begin() + static_cast<long>(color.width * color.height), mask.argb.end());
        mask.height /= 2;
        mask.argb.resize(static_cast<size_t>(mask.width * mask.height));
    }
    out = color;
    for (size_t i = 0; i < out.argb.size() && i < mask.argb.size(); ++i)
        out.argb[i] = (mask.argb[i] & 0xFFFFFF) ? 0 : (out.argb[i] | 0xFF000000u);
    return true;
}

HICON MakeIcon(const ImagePixels& pixels) {
    if (pixels.width <= 0 || pixels.height <= 0)
        return nullptr;
    std::vector<uint32_t> bits(pixels.argb.size());
    const int stride = ((pixels.width + 15) / 16) * 2; // 1-bit rows are word aligned
    std::vector<BYTE> maskBits(static_cast<size_t>(stride * pixels.height), 0);
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x) {
            const uint32_t px = pixels.argb[static_cast<size_t>(y * pixels.width + x)];
            if ((px >> 24) == 0)
                maskBits[static_cast<size_t>(y * stride + x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
            else
                bits[static_cast<size_t>(y * pixels.width + x)] = px & 0xFFFFFF;
        }
    HBITMAP color = CreateBitmap(pixels.width, pixels.height, 1, 32, bits.data());
    HBITMAP mask = CreateBitmap(pixels.width, pixels.height, 1, 1, maskBits.data());
    ICONINFO info{TRUE, 0, 0, mask, color};
    HICON icon = (color && mask) ? CreateIconIndirect(&info) : nullptr;
    if (color)
        DeleteObject(color);
    if (mask)
        DeleteObject(mask);
    return icon;
}

bool Draw(HDC dc, int x, int y, const ImagePixels& pixels) {
    HICON icon = MakeIcon(pixels);
    if (!icon)
        return false;
    const BOOL ok = DrawIconEx(dc, x, y, icon, pixels.width, pixels.height, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
    return ok != FALSE;
}

} // namespace

ImageBridge DrawingLayerImages() {
    ImageBridge bridge;
    bridge.readBitmap = ReadBitmap;
    bridge.readIcon = ReadIcon;
    bridge.makeIcon = MakeIcon;
    bridge.draw = Draw;
    return bridge;
}

} // namespace platform::ui::controls
