// System metrics and session-wide parameters.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/ui/window_internal.h"

#include <fstream>
#include <sys/stat.h>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {
namespace {

int ForegroundLockTimeoutFromFile() {
    std::ifstream in(machine::PathOf("ui/foreground_lock_timeout"));
    long long value = 0;
    if (in >> value)
        return static_cast<int>(value);
    return 200000;
}

void SaveForegroundLockTimeout(DWORD value) {
    const std::string dir = machine::PathOf("ui");
    ::mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/foreground_lock_timeout";
    const std::string tmp = path + ".tmp" + std::to_string(CurrentProcessId());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << value << '\n';
    }
    ::rename(tmp.c_str(), path.c_str());
}

} // namespace
} // namespace platform::ui

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
        return kScreenWidth;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
        return kScreenHeight;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return kScroll;
    case SM_CYCAPTION:
        return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return kDlgFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return kFrame;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CYMENU:
        return kMenu;
    case SM_CXFULLSCREEN:
        return kScreenWidth;
    case SM_CYFULLSCREEN:
        return kScreenHeight - kTaskbar - kCaption;
    case SM_CXMIN:
        return 112;
    case SM_CYMIN:
        return 27;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
        return 4;
    case SM_CXEDGE:
    case SM_CYEDGE:
        return kEdge;
    case SM_CXMINIMIZED:
        return kMinimizedWidth;
    case SM_CYMINIMIZED:
        return kMinimizedHeight;
    case SM_CXMAXIMIZED:
        return kScreenWidth + 2 * kFrame;
    case SM_CYMAXIMIZED:
        return kScreenHeight - kTaskbar + 2 * kFrame;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK:
        return 13;
    case SM_CMONITORS:
        return 1;
    default:
        return 0;
    }
}

BOOL SystemParametersInfoW(UINT action, UINT, PVOID pvParam, UINT) {
    switch (action) {
    case SPI_GETMOUSEHOVERWIDTH:
    case SPI_GETMOUSEHOVERHEIGHT:
        if (!pvParam)
            return FALSE;
        *static_cast<UINT*>(pvParam) = kHoverSize;
        return TRUE;
    case SPI_GETMOUSEHOVERTIME:
        if (!pvParam)
            return FALSE;
        *static_cast<UINT*>(pvParam) = kHoverTime;
        return TRUE;
    case SPI_SETFOREGROUNDLOCKTIMEOUT:
        SaveForegroundLockTimeout(static_cast<DWORD>(reinterpret_cast<uintptr_t>(pvParam)));
        return TRUE;
    case SPI_GETFOREGROUNDLOCKTIMEOUT:
        if (!pvParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *static_cast<DWORD*>(pvParam) = static_cast<DWORD>(ForegroundLockTimeoutFromFile());
        return TRUE;
    case SPI_GETWORKAREA:
        if (!pvParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *static_cast<RECT*>(pvParam) = WorkArea();
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}
