// Plain pixel access to bitmaps and icons, for layers that keep images of their own (image lists).
//
// Pixels are 32-bit 0xAARRGGBB values, row by row from the top. Bitmaps read with alpha 0xFF everywhere; icons read
// with their mask applied (masked pixels have alpha 0) or with their own alpha; drawing leaves alpha-0 pixels alone
// and blends the others by their alpha.
#pragma once

#include "platform/base/types.h"

#include <cstdint>
#include <vector>

namespace platform::gdi {

bool ReadBitmapPixels(HBITMAP bitmap, int& width, int& height, std::vector<uint32_t>& argb);
bool ReadIconPixels(HICON icon, int& width, int& height, std::vector<uint32_t>& argb);
// A new icon (DestroyIcon frees it); null for a size that does not match the pixels.
HICON CreateIconFromPixels(int width, int height, const std::vector<uint32_t>& argb);
// Whether the handle names a live icon or cursor; `cursor` tells which.
bool IsIconHandle(HICON icon, bool* cursor = nullptr);
bool DrawPixels(HDC dc, int x, int y, int width, int height, const std::vector<uint32_t>& argb);

} // namespace platform::gdi
