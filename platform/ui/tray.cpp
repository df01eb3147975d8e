#include "platform/ui/tray.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/ui/message.h"
#include "platform/ui/presenter.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <cstddef>
#include <mutex>

namespace {

struct Tray {
    std::mutex lock;
    std::vector<platform::ui::TrayIcon> icons;
};

Tray& GetTray() {
    static Tray tray;
    return tray;
}

// Icons of destroyed windows are dropped, as the shell drops them once it notices.
void PruneLocked(Tray& tray) {
    tray.icons.erase(std::remove_if(tray.icons.begin(), tray.icons.end(),
                                    [](const platform::ui::TrayIcon& i) { return !IsWindow(i.hwnd); }),
                     tray.icons.end());
}

std::u16string Copy(const WCHAR* text, size_t max) {
    size_t n = 0;
    while (n < max - 1 && text[n])
        ++n;
    return std::u16string(text, n);
}

bool Full(const NOTIFYICONDATAW& d) {
    return d.cbSize >= NOTIFYICONDATAW_V2_SIZE || d.cbSize == sizeof(NOTIFYICONDATAW);
}

void Apply(platform::ui::TrayIcon& icon, const NOTIFYICONDATAW& d) {
    if (d.uFlags & NIF_MESSAGE)
        icon.callbackMessage = d.uCallbackMessage;
    if (d.uFlags & NIF_ICON)
        icon.icon = d.hIcon;
    if (d.uFlags & NIF_TIP)
        icon.tip = Copy(d.szTip, Full(d) ? 128 : 64);
    if (!Full(d))
        return;
    if (d.uFlags & NIF_STATE)
        icon.state = (icon.state & ~d.dwStateMask) | (d.dwState & d.dwStateMask);
    if (d.uFlags & NIF_INFO) {
        icon.info = Copy(d.szInfo, 256);
        icon.infoTitle = Copy(d.szInfoTitle, 64);
        icon.infoFlags = d.dwInfoFlags;
    }
}

BOOL NotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    if (!data || data->cbSize < NOTIFYICONDATAW_V1_SIZE || !IsWindow(data->hWnd)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& tray = GetTray();
    std::lock_guard guard(tray.lock);
    PruneLocked(tray);
    auto it = std::find_if(tray.icons.begin(), tray.icons.end(), [data](const platform::ui::TrayIcon& i) {
        return i.hwnd == data->hWnd && i.id == data->uID;
    });
    switch (message) {
    case NIM_ADD: {
        if (it != tray.icons.end())
            return FALSE;
        platform::ui::TrayIcon icon;
        icon.hwnd = data->hWnd;
        icon.id = data->uID;
        Apply(icon, *data);
        tray.icons.push_back(std::move(icon));
        return TRUE;
    }
    case NIM_MODIFY:
        if (it == tray.icons.end())
            return FALSE;
        Apply(*it, *data);
        ++it->modifications;
        return TRUE;
    case NIM_DELETE:
        if (it == tray.icons.end())
            return FALSE;
        tray.icons.erase(it);
        return TRUE;
    case NIM_SETFOCUS:
    case NIM_SETVERSION:
        return it != tray.icons.end() ? TRUE : FALSE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

// No shell shows the icons of a headless session: each change is noted on the debug output instead, as a menu
// nobody chooses from is.
void NoteChange(DWORD message, const NOTIFYICONDATAW& data) {
    const char16_t* action = message == NIM_ADD ? u"NIM_ADD" : message == NIM_MODIFY ? u"NIM_MODIFY" : u"NIM_DELETE";
    std::u16string text = u"Shell_NotifyIconW: ";
    text += action;
    text += u", icon " + platform::Utf8ToUtf16(std::to_string(data.uID));
    platform::ui::TrayIcon icon;
    if (message != NIM_DELETE && platform::ui::FindTrayIcon(data.hWnd, data.uID, &icon))
        text += u", tip \"" + icon.tip + u"\"" + (icon.icon ? u", with an icon" : u", without an icon");
    text += u"\n";
    OutputDebugStringW(text.c_str());
}

} // namespace

BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
    const BOOL done = NotifyIcon(message, data);
    if (done && (message == NIM_ADD || message == NIM_MODIFY || message == NIM_DELETE)) {
        NoteChange(message, *data);
        // The display's notification area follows.
        platform::ui::NoteTrayChange();
    }
    return done;
}

namespace platform::ui {

std::vector<TrayIcon> TrayIcons() {
    auto& tray = GetTray();
    std::lock_guard guard(tray.lock);
    PruneLocked(tray);
    return tray.icons;
}

bool FindTrayIcon(HWND hwnd, UINT id, TrayIcon* out) {
    for (const auto& icon : TrayIcons()) {
        if (icon.hwnd == hwnd && icon.id == id) {
            if (out)
                *out = icon;
            return true;
        }
    }
    return false;
}

BOOL SendTrayMessage(HWND hwnd, UINT id, UINT mouseMessage, LRESULT* result) {
    TrayIcon icon;
    if (!FindTrayIcon(hwnd, id, &icon) || !icon.callbackMessage)
        return FALSE;
    const LRESULT r = SendMessageW(hwnd, icon.callbackMessage, id, static_cast<LPARAM>(mouseMessage));
    if (result)
        *result = r;
    return TRUE;
}

void ResetTray() {
    auto& tray = GetTray();
    std::lock_guard guard(tray.lock);
    tray.icons.clear();
    NoteTrayChange();
}

} // namespace platform::ui
