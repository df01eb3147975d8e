#include "platform/ui/paint_internal.h"

#include "platform/ui/window.h"

#include <mutex>
#include <unordered_map>

namespace platform::ui::paint {

namespace {
struct Fonts {
    std::mutex lock;
    std::unordered_map<HWND, HFONT> fonts;
};
Fonts& GetFonts() {
    static Fonts fonts;
    return fonts;
}
} // namespace

void SetControlFont(HWND hwnd, HFONT font) {
    auto& f = GetFonts();
    std::lock_guard guard(f.lock);
    if (font)
        f.fonts[hwnd] = font;
    else
        f.fonts.erase(hwnd);
}

HFONT GetControlFont(HWND hwnd) {
    auto& f = GetFonts();
    std::lock_guard guard(f.lock);
    auto it = f.fonts.find(hwnd);
    return it == f.fonts.end() ? nullptr : it->second;
}

void ForgetControl(HWND hwnd) {
    SetControlFont(hwnd, nullptr);
}

HFONT DialogFont(WORD, const std::u16string&) {
    return nullptr;
}

HBRUSH DefaultControlBrush(UINT) {
    return nullptr;
}

LRESULT PaintControl(HWND hwnd) {
    ValidateRect(hwnd, nullptr);
    return 0;
}

} // namespace platform::ui::paint
