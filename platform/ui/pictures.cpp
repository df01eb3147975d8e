// Pictures of top-level windows as they are shown, for runs without a screen (WINLAYER_PICTURES).

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/ui/paint_internal.h"
#include "platform/ui/window.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>

namespace platform::ui {

void NoteWindowShown(HWND hwnd) {
    const char* folder = std::getenv("WINLAYER_PICTURES");
    if (!folder || !*folder || GetParent(hwnd))
        return;
    static std::atomic<unsigned> s_count{0};
    char16_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    std::string name;
    for (char c : Utf16ToUtf8(className))
        name += (std::isalnum(static_cast<unsigned char>(c)) || c == '_') ? c : '_';
    const std::string path = std::string(folder) + "/" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++s_count) + "-" + name + ".png";
    const DWORD error = GetLastError();
    SaveWindowPngToHost(hwnd, path);
    SetLastError(error);
}

} // namespace platform::ui
