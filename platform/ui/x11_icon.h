// Icons as the pixels X wants them: premultiplied-free ARGB words, row by row, for _NET_WM_ICON and the tray.
#pragma once

#include "platform/base/types.h"

#include <cstdint>
#include <vector>

namespace platform::ui::x11 {

// The icon drawn at size x size (its mask and alpha as transparency), as non-premultiplied 0xAARRGGBB words; empty
// for a null or unknown icon.
std::vector<uint32_t> IconArgb(HICON icon, int size);

} // namespace platform::ui::x11
