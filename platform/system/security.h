// Access tokens and their privileges: OpenProcessToken, LookupPrivilegeValueW, AdjustTokenPrivileges and
// GetTokenInformation(TokenPrivileges).
//
// Stands in for the privileges of a Windows log-on. The same as Windows: a process's token holds a set of
// privileges, each enabled or not; AdjustTokenPrivileges enables or disables held ones and answers TRUE with
// ERROR_NOT_ALL_ASSIGNED when some asked for are not held, ERROR_SUCCESS otherwise; it needs TOKEN_ADJUST_PRIVILEGES,
// and the previous state needs TOKEN_QUERY too. Every token of a process is the same token.
//
// Where it differs: only the calling process's own token can be opened (another process gives
// ERROR_ACCESS_DENIED). A user holds what a standard Windows user holds: SeShutdownPrivilege,
// SeChangeNotifyPrivilege (enabled), SeUndockPrivilege, SeIncreaseWorkingSetPrivilege and SeTimeZonePrivilege;
// root holds the administrators' privileges as well. Privileges gate what the layer checks (ExitWindowsEx, the
// system time); the host's own permissions still apply to everything else.
#pragma once

#include "platform/base/types.h"

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;

constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr DWORD TOKEN_ALL_ACCESS = 0xF01FF;

constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;
constexpr DWORD SE_PRIVILEGE_USED_FOR_ACCESS = 0x80000000;

#define SE_SHUTDOWN_NAME u"SeShutdownPrivilege"
#define SE_CHANGE_NOTIFY_NAME u"SeChangeNotifyPrivilege"
#define SE_UNDOCK_NAME u"SeUndockPrivilege"
#define SE_INC_WORKING_SET_NAME u"SeIncreaseWorkingSetPrivilege"
#define SE_TIME_ZONE_NAME u"SeTimeZonePrivilege"
#define SE_BACKUP_NAME u"SeBackupPrivilege"
#define SE_RESTORE_NAME u"SeRestorePrivilege"
#define SE_DEBUG_NAME u"SeDebugPrivilege"
#define SE_SYSTEMTIME_NAME u"SeSystemtimePrivilege"
#define SE_SECURITY_NAME u"SeSecurityPrivilege"
#define SE_TAKE_OWNERSHIP_NAME u"SeTakeOwnershipPrivilege"
#define SE_LOAD_DRIVER_NAME u"SeLoadDriverPrivilege"
#define SE_REMOTE_SHUTDOWN_NAME u"SeRemoteShutdownPrivilege"

enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups, TokenPrivileges };

BOOL OpenProcessToken(HANDLE processHandle, DWORD desiredAccess, PHANDLE tokenHandle);
// The local system only (a null or empty system name).
BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid);
BOOL LookupPrivilegeNameW(LPCWSTR systemName, PLUID luid, LPWSTR name, LPDWORD cchName);
BOOL AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAllPrivileges, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState, PDWORD returnLength);
BOOL GetTokenInformation(HANDLE tokenHandle, TOKEN_INFORMATION_CLASS infoClass, LPVOID information,
                         DWORD infoLength, PDWORD returnLength);

namespace platform::system {
// Whether the calling process has the privilege enabled right now.
bool IsPrivilegeEnabled(const char16_t* name);
} // namespace platform::system
