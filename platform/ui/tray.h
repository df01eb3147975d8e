// The notification-area (tray) icons: Shell_NotifyIconW.
//
// Stands in for the shell's tray. The same as Windows: an icon is named by its window and id; NIM_ADD fails for an
// icon that exists, NIM_MODIFY and NIM_DELETE for one that does not; NIF_ICON, NIF_TIP, NIF_MESSAGE, NIF_STATE and
// NIF_INFO say which fields of the record count; the record's size decides its layout (below the Shell 5 size of
// 936 bytes, the tip holds 64 characters and there is no balloon); the shell talks to the owner window with the
// callback message (wParam the icon id, lParam the mouse message).
//
// Where it differs: there is no taskbar. The icons are kept per process for tests to read (TrayIcons), tests send
// the callback messages as the shell would (SendTrayMessage), and ResetTray forgets every icon as a restarted
// shell would. Each change of an icon is also noted on the debug output (OutputDebugStringW: the icon, its tip and
// whether it has an image), so that a headless run shows what its tray would show. When the windows are shown on a
// display (presenter.h), the icons also dock in the desktop's notification area, whose clicks reach the owner as
// the callback message.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

constexpr DWORD NIM_ADD = 0x0;
constexpr DWORD NIM_MODIFY = 0x1;
constexpr DWORD NIM_DELETE = 0x2;
constexpr DWORD NIM_SETFOCUS = 0x3;
constexpr DWORD NIM_SETVERSION = 0x4;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;
constexpr UINT NIF_STATE = 0x8;
constexpr UINT NIF_INFO = 0x10;

constexpr DWORD NIS_HIDDEN = 0x1;
constexpr DWORD NIS_SHAREDICON = 0x2;

constexpr DWORD NIIF_NONE = 0x0;
constexpr DWORD NIIF_INFO = 0x1;
constexpr DWORD NIIF_WARNING = 0x2;
constexpr DWORD NIIF_ERROR = 0x3;

// Record sizes of the shell versions (as the 32-bit shell counts them).
constexpr DWORD NOTIFYICONDATAW_V1_SIZE = 152;
constexpr DWORD NOTIFYICONDATAW_V2_SIZE = 936;

struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
};
using PNOTIFYICONDATAW = NOTIFYICONDATAW*;

BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);

namespace platform::ui {

struct TrayIcon {
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT callbackMessage = 0; // 0 without NIF_MESSAGE
    HICON icon = nullptr;
    std::u16string tip;
    DWORD state = 0;
    std::u16string infoTitle;
    std::u16string info;
    DWORD infoFlags = 0;
    int modifications = 0; // NIM_MODIFY calls that succeeded
};

// The icons now in the tray (of windows that still exist), in the order they were added.
std::vector<TrayIcon> TrayIcons();
bool FindTrayIcon(HWND hwnd, UINT id, TrayIcon* out);
// Sends the icon's callback message with the mouse message, as the shell does when the user acts on the icon; FALSE
// when there is no such icon or it has no callback message.
BOOL SendTrayMessage(HWND hwnd, UINT id, UINT mouseMessage, LRESULT* result = nullptr);
// Forgets every icon, as a restarted shell does.
void ResetTray();

} // namespace platform::ui
