// ExitWindowsEx: ending the user's session, powering the machine off or restarting it.
//
// Stands in for the request to end the session or the system. The same as Windows: powering off and restarting
// need SeShutdownPrivilege enabled in the process's token (ERROR_PRIVILEGE_NOT_HELD otherwise, see security.h);
// the call returns once the request is on its way, and the programs are asked (WM_QUERYENDSESSION) as the session
// ends.
//
// Where it differs: the request goes to the desktop and the system the way their own menus send it, and nothing is
// ever forced: EWX_FORCE and EWX_FORCEIFHUNG are not honoured (programs always get asked, and the system's
// inhibitors hold). Powering off (EWX_SHUTDOWN, EWX_POWEROFF) and restarting (EWX_REBOOT) are asked of the system's
// log-in manager (org.freedesktop.login1 on the system bus, interactively, so its policy may ask the user for a
// password); where the manager says the user may not, the answer is ERROR_ACCESS_DENIED. Logging off
// (EWX_LOGOFF) is asked of the desktop's session manager on the session bus (GNOME, MATE and Cinnamon's
// org.gnome.SessionManager, XFCE's org.xfce.SessionManager, KDE's org.kde.Shutdown), without its confirmation
// dialog. No bus or no manager: ERROR_NOT_SUPPORTED. The buses are those DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS name, or the standard ones.
#pragma once

#include "platform/base/types.h"

constexpr UINT EWX_LOGOFF = 0x00000000;
constexpr UINT EWX_SHUTDOWN = 0x00000001;
constexpr UINT EWX_REBOOT = 0x00000002;
constexpr UINT EWX_FORCE = 0x00000004;
constexpr UINT EWX_POWEROFF = 0x00000008;
constexpr UINT EWX_FORCEIFHUNG = 0x00000010;
constexpr UINT EWX_RESTARTAPPS = 0x00000040;

constexpr DWORD SHTDN_REASON_MAJOR_OTHER = 0x00000000;
constexpr DWORD SHTDN_REASON_MAJOR_APPLICATION = 0x00040000;
constexpr DWORD SHTDN_REASON_MINOR_OTHER = 0x00000000;
constexpr DWORD SHTDN_REASON_MINOR_MAINTENANCE = 0x00000001;
constexpr DWORD SHTDN_REASON_FLAG_PLANNED = 0x80000000;

BOOL ExitWindowsEx(UINT flags, DWORD reason);
